#include "SheetsFixture.h"

#include "platform/files/Bundle.h"
#include "platform/files/Files.h"
#include "toolkit/LSheetLayout.h"

void SheetsFixture::SetUp() {
  UiFixture::SetUp();
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  LCommander::SetTopCommander(&mApp);
  LSheetLayout::RegisterClasses();
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(TRX_TEST_LAYOUTS), &ref, nullptr), noErr);
  ASSERT_EQ(FSOpenResourceFile(&ref, 0, nullptr, fsRdPerm, &mLayoutsFile), noErr);
}

void SheetsFixture::TearDown() {
  UiFixture::TearDown();
  if (mLayoutsFile != kResFileNotOpened) CloseResFile(mLayoutsFile);
  mLayoutsFile = kResFileNotOpened;
  LCommander::SetTopCommander(nullptr);
  UBundle::SetMainBundlePath("");
}

CRegularWindow* SheetsFixture::NewWindow(SInt16 inLeft, SInt16 inTop, SInt16 inWidth, SInt16 inHeight) {
  SWindowInfo info;
  info.left = inLeft;
  info.top = inTop;
  info.width = inWidth;
  info.height = inHeight;
  auto* w = new CRegularWindow(info, &mApp);
  w->Show();
  w->Select();
  w->MoveWindowTo(inLeft, inTop);  // the cascade moved it
  UiTest::Pump(5);
  return w;
}
