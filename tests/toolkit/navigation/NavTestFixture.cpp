#include "NavTestFixture.h"

#include "platform/files/Bundle.h"
#include "platform/ui/LRadioGroup.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/URegistrar.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LClickAttachment.h"
#include "toolkit/LClickText.h"
#include "toolkit/LGotoButton.h"
#include "toolkit/LHelpButton.h"
#include "toolkit/LStepButton.h"

void NavTestFixture::SetUp() {
  UiFixture::SetUp();
  URegistrar::Reset();
  TRegistrar<LWindow>::Register();
  TRegistrar<LView>::Register();
  TRegistrar<LPane>::Register();
  TRegistrar<LCaption>::Register();
  TRegistrar<LRadioGroup>::Register();
  UControlRegistry::RegisterClasses();
  TRegistrar<LHelpButton>::Register();
  TRegistrar<LStepButton>::Register();
  TRegistrar<LGotoButton>::Register();
  TRegistrar<LClickText>::Register();
  TRegistrar<LClickAttachment>::Register();
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(TRX_TEST_LAYOUTS), &ref, nullptr), noErr);
  ASSERT_EQ(FSOpenResourceFile(&ref, 0, nullptr, fsRdPerm, &mLayoutsFile), noErr);
  LCommander::SetTopCommander(&mApp);
  SWindowInfo info;
  info.title = "Holiday.mov";
  mWindow = new CRegularWindow(info, &mApp);
  mWindow->Show();
  mWindow->SetTitle("Holiday.mov");
}

void NavTestFixture::TearDown() {
  UiFixture::TearDown();  // the windows go first
  mWindow = nullptr;
  if (mLayoutsFile != kResFileNotOpened) CloseResFile(mLayoutsFile);
  LCommander::SetTopCommander(nullptr);
  UBundle::SetMainBundlePath("");
  URegistrar::Reset();
}
