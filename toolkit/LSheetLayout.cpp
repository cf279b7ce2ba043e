#include "toolkit/LSheetLayout.h"

#include <memory>

#include "platform/base/LException.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LView.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/URegistrar.h"

void LSheetLayout::RegisterClasses() {
  if (!URegistrar::IsRegistered(LProgressBar::class_ID)) UControlRegistry::RegisterClasses();
  if (!URegistrar::IsRegistered(LWindow::class_ID)) TRegistrar<LWindow>::Register();
  if (!URegistrar::IsRegistered(LView::class_ID)) TRegistrar<LView>::Register();
  if (!URegistrar::IsRegistered(LCaption::class_ID)) TRegistrar<LCaption>::Register();
}

LWindow* LSheetLayout::ReadLayoutWindow(ResIDT inLayoutID, WindowClass inWindowClass, LCommander* inSuper) {
  std::unique_ptr<LPane> top(UReanimator::ReadObjects(inLayoutID, nullptr));
  ThrowIfNil_(top.get());
  LWindow* window = dynamic_cast<LWindow*>(top.get());
  if (window) {
    top.release();
  } else {
    SDimension16 size;
    top->GetFrameSize(size);
    SWindowInfo info;
    info.windowClass = inWindowClass;
    info.attributes = windAttr_Regular | windAttr_Targetable;
    info.width = size.width;
    info.height = size.height;
    window = new LWindow(info, inSuper);
    top->PutInside(window);
    top->PlaceInSuperFrameAt(0, 0, false);
    top.release();
  }
  UDesktop::RemoveWindow(window);
  window->SetSuperCommander(inSuper);
  return window;
}

SInt32 LSheetLayout::LinkLayout(LListener* inListener, LWindow* inWindow, ResIDT inLayoutID) {
  SInt32 linked = UReanimator::LinkListenerToBroadcasters(inListener, inWindow, inLayoutID);
  if (linked == 0) linked = UReanimator::LinkListenerToControls(inListener, inWindow);
  return linked;
}
