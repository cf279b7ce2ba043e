#include "ControlsFixture.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/Resources.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LRadioGroup.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTabGroup.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/URegistrar.h"

void RegisterFrameworkClasses() {
  TRegistrar<LWindow>::Register();
  TRegistrar<LView>::Register();
  TRegistrar<LPane>::Register();
  TRegistrar<LCaption>::Register();
  UControlRegistry::RegisterClasses();
  TRegistrar<LEditField>::Register();
  TRegistrar<LTabGroup>::Register();
  TRegistrar<LRadioGroup>::Register();
  TRegistrar<LTextEditView>::Register();
}

namespace {

Handle HandleOf(const QByteArray& inBytes) {
  Handle h = nullptr;
  PtrToHand(inBytes.constData(), &h, static_cast<SInt32>(inBytes.size()));
  return h;
}

// A 24 x 24 icon: a blue disc on transparency.
QByteArray IconPNG() {
  QImage icon(24, 24, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(20, 60, 220));
  p.setPen(Qt::NoPen);
  p.drawEllipse(2, 2, 20, 20);
  p.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  icon.save(&buffer, "PNG");
  return bytes;
}

// A 32 x 24 picture: a red rectangle.
Handle RedPicture() {
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 24, 32};
  NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0);
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  GetGWorld(&savedPort, &savedDevice);
  SetGWorld(world, nullptr);
  PicHandle pic = OpenPicture(&bounds);
  RGBColor red = {0xFFFF, 0, 0};
  RGBForeColor(&red);
  PaintRect(&bounds);
  ClosePicture();
  SetGWorld(savedPort, savedDevice);
  DisposeGWorld(world);
  return reinterpret_cast<Handle>(pic);
}

}  // namespace

void ControlsTest::SetUp() {
  UiFixture::SetUp();
  URegistrar::Reset();
  RegisterFrameworkClasses();
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(TRX_TEST_LAYOUTS), &ref, nullptr), noErr);
  ASSERT_EQ(FSOpenResourceFile(&ref, 0, nullptr, fsRdPerm, &mLayoutsFile), noErr);
  FSSpec images = mTmp.Spec("Images.rsrc");
  FSpCreateResFile(&images, 'Trbx', 'rsrc', 0);
  mImagesFile = FSpOpenResFile(&images, fsRdWrPerm);
  ASSERT_NE(mImagesFile, kResFileNotOpened);
  AddResource(HandleOf(IconPNG()), 'PNG ', 9001, nullptr);
  AddResource(RedPicture(), 'PICT', 9002, nullptr);
  ASSERT_EQ(ResError(), noErr);
}

void ControlsTest::TearDown() {
  UiFixture::TearDown();
  if (mImagesFile != kResFileNotOpened) CloseResFile(mImagesFile);
  if (mLayoutsFile != kResFileNotOpened) CloseResFile(mLayoutsFile);
  UBundle::SetMainBundlePath("");
  URegistrar::Reset();
}

LWindow* ControlsTest::BuildEveryControl() {
  LWindow* window = UReanimator::CreateWindow(9000, nullptr);
  window->GetWidget();
  window->Show();
  UiTest::Pump(10);
  return window;
}
