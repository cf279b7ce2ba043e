// The modal progress window of UMessage.
#include <memory>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LListener.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UModalDialogs.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/URegistrar.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UMessage.h"
#include "toolkit/UProgress.h"

namespace {

constexpr SInt16 kWindowWidth = 292;
constexpr SInt16 kSmallHeight = 92;
constexpr SInt16 kLargeHeight = 144;

// What the window's controls said since the last update.
class StProgressListener : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void*) override { mHeard = inMessage; }
  MessageT Take() {
    MessageT heard = mHeard;
    mHeard = msg_Nothing;
    return heard;
  }

 private:
  MessageT mHeard = msg_Nothing;
};

struct ProgressWindow {
  std::unique_ptr<StDialogHandler> handler;
  StProgressListener listener;
  LWindow* window = nullptr;
  LStaticText* message = nullptr;
  LProgressBar* bar = nullptr;
  LDisclosureTriangle* triangle = nullptr;
  LStaticText* elapsed = nullptr;
  LStaticText* remaining = nullptr;
  LStaticText* total = nullptr;
  UInt32 openTicks = 0;
};

// The window's state; the last text and the size survive from one window to the next.
std::unique_ptr<ProgressWindow> sWindow;
LStr255 sLastText;
bool sFirstCall = true;
SInt32 sLastElapsed = -1;
UInt32 sLastUpdateTicks = 0;
bool sLargeLayout = false;

template <class T>
T* FetchPane(LWindow* inWindow, SInt32 inPaneID) {
  T* pane = dynamic_cast<T*>(inWindow->FindPaneByIDOrNil(inPaneID));
  ThrowIfNil_(pane);
  return pane;
}

void RegisterLayoutClasses() {
  if (!URegistrar::IsRegistered(LDisclosureTriangle::class_ID)) UControlRegistry::RegisterClasses();
  if (!URegistrar::IsRegistered(LWindow::class_ID)) TRegistrar<LWindow>::Register();
  if (!URegistrar::IsRegistered(LCaption::class_ID)) TRegistrar<LCaption>::Register();
}

void SizeWindow(ProgressWindow& ioWindow) {
  ioWindow.window->ResizeWindowTo(kWindowWidth, ioWindow.triangle->GetValue() ? kLargeHeight : kSmallHeight);
}

void CloseWindow() {
  if (!sWindow) return;
  sLargeLayout = sWindow->triangle->GetValue() != 0;
  std::unique_ptr<ProgressWindow> closing = std::move(sWindow);
  closing->handler.reset();  // the window goes with its handler
}

void ShowTime(LStaticText* inPane, SInt32 inSeconds) {
  LStr255 text;
  UMessage::GetTimeString(inSeconds, text);
  inPane->SetDescriptor(text);
}

SInt16 OpenWindow(ConstStringPtr inText) {
  if (sWindow) return -1;
  sLastUpdateTicks = TickCount();
  RegisterLayoutClasses();
  auto w = std::make_unique<ProgressWindow>();
  LWindow* window = UReanimator::CreateWindow(PPob_ProgressWindow, nullptr);
  ThrowIfNil_(window);
  try {
    w->handler = std::make_unique<StDialogHandler>(window, LCommander::GetTopCommander());
  } catch (...) {
    delete window;
    throw;
  }
  w->window = window;
  w->message = FetchPane<LStaticText>(window, kProgressMessagePane);
  w->bar = FetchPane<LProgressBar>(window, kProgressBarPane);
  w->triangle = FetchPane<LDisclosureTriangle>(window, kProgressDisclosurePane);
  w->elapsed = FetchPane<LStaticText>(window, kProgressElapsedPane);
  w->remaining = FetchPane<LStaticText>(window, kProgressRemainingPane);
  w->total = FetchPane<LStaticText>(window, kProgressTotalPane);
  UReanimator::LinkListenerToControls(&w->listener, window);
  w->message->SetDescriptor(inText);
  w->bar->SetValue(0);
  w->openTicks = TickCount();
  sLastElapsed = -1;
  w->triangle->SetValue(sLargeLayout ? 1 : 0);
  w->listener.Take();  // setting up is not the user's doing
  SizeWindow(*w);
  sWindow = std::move(w);
  sWindow->window->Show();
  UEventLoop::ProcessOnce();
  if (sWindow) sWindow->window->Refresh();
  return 0;
}

SInt16 UpdateWindow(SInt32 inFraction, ConstStringPtr inText) {
  ProgressWindow& w = *sWindow;
  const UInt32 now = TickCount();
  const SInt32 elapsed = static_cast<SInt32>((now - w.openTicks) / 60);
  if (elapsed != sLastElapsed) {
    SInt32 total = -1, remaining = -1;
    if (inFraction != 0) {
      total = static_cast<SInt32>(static_cast<float>(elapsed) * 65536.0f / static_cast<float>(inFraction));
      remaining = total - elapsed;
    }
    ShowTime(w.elapsed, elapsed);
    ShowTime(w.remaining, remaining);
    ShowTime(w.total, total);
    sLastElapsed = elapsed;
  }
  UEventLoop::ProcessOnce();
  if (!sWindow) return 0;  // closed while the events ran
  MessageT item = w.listener.Take();
  if (item == msg_Nothing && w.handler->GetMessage() == msg_Cancel) item = msg_Cancel;  // Escape
  if (sLastText.CompareTo(inText) != 0) {
    w.message->SetDescriptor(inText);
    sLastText = inText;
  }
  const SInt32 value = (inFraction / 1024) * 4;
  if (value != w.bar->GetValue()) w.bar->SetValue(value);
  sLastUpdateTicks = TickCount();
  if (item == kProgressDisclosurePane) {
    SizeWindow(w);
    return 0;
  }
  if (item == msg_Cancel) {
    CloseWindow();
    return kProgressUserCanceled;
  }
  return 0;
}

}  // namespace

SInt16 UMessage::UniversalProgressProcedure(SInt16 inMessage, SInt32 inFraction, SInt32, unsigned char* inText) {
  static const unsigned char kEmpty[1] = {0};
  ConstStringPtr text = inText ? inText : kEmpty;
  if (sFirstCall) {
    sFirstCall = false;
    sLastText = text;
  }
  if (inMessage != kProgressOpen && !sWindow) return 0;
  if (inMessage == kProgressUpdate && TickCount() - sLastUpdateTicks < kProgressTicks) return 0;
  StDrawContextState savedState;
  switch (inMessage) {
    case kProgressOpen:
      return OpenWindow(text);
    case kProgressUpdate:
      return UpdateWindow(inFraction, text);
    case kProgressClose:
      CloseWindow();
      return 0;
    default:
      return 0;
  }
}

LWindow* UMessage::GetProgressWindow() { return sWindow ? sWindow->window : nullptr; }
