#include "toolkit/LMouseHelpTracker.h"

#include <algorithm>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Resources.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UHelpTag.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UTextTraits.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UNewTextDrawing.h"

LPane* LMouseTracker::FindPaneAt(Point inGlobalPoint, Point& outPortPoint) {
  // Sheets and drawers count with the window they hang on.
  LWindow* window = UDesktop::FindWindowAt(inGlobalPoint, outPortPoint);
  if (!window) return nullptr;
  LPane* pane = window->FindDeepSubPaneContaining(outPortPoint.h, outPortPoint.v);
  return pane ? pane : window;
}

void LMouseTracker::SpendTime(const EventRecord& inMacEvent) {
  if (inMacEvent.what == kHighLevelEvent) return;
  Point portPt = {0, 0};
  LPane* pane = FindPaneAt(inMacEvent.where, portPt);
  if (pane != LPane::sLastPaneMoused) {
    if (LPane::sLastPaneMoused) LPane::sLastPaneMoused->MouseLeave();
    LPane::sLastPaneMoused = pane;
    if (pane) pane->MouseEnter(portPt, inMacEvent);
  } else if (pane) {
    pane->MouseWithin(portPt, inMacEvent);
  }
}

LMouseHelpTracker::LMouseHelpTracker() : LAttachment(msg_Event, true) {
  mHelpWindow = UReanimator::CreateWindow(PPob_HelpTagWindow, LCommander::GetTopCommander());
  ThrowIfNil_(mHelpWindow);
  // The window holds the tag's text and place; the desktop's tool-tip window shows it.
  mHelpWindow->Hide();
  StartRepeating(0.1);
}

LMouseHelpTracker::~LMouseHelpTracker() {
  StopRepeating();
  SetTagShown(false);
  // The window hangs on the application, which may have deleted it with its
  // other sub-commanders already when the tracker goes with its attachments.
  const std::vector<LWindow*> windows = UDesktop::GetWindows();
  if (std::find(windows.begin(), windows.end(), mHelpWindow) != windows.end()) delete mHelpWindow;
  mHelpWindow = nullptr;
}

Boolean LMouseHelpTracker::Counts(LPane* inPane) {
  if (!inPane || !inPane->IsEnabled() || !inPane->IsVisible()) return false;
  if (inPane->IsActive()) return true;
  // A sheet or a drawer is active together with the window it hangs on
  // (its own window object is never activated: that would take the
  // keyboard from the document).
  LWindow* host = UDesktop::FetchHostWindow(inPane->GetWindow());
  return host && host->IsActive();
}

void LMouseHelpTracker::SetTagShown(Boolean inShown) {
  mTagShown = inShown;
  if (!inShown) UHelpTag::Hide();
}

std::string LMouseHelpTracker::GetHelpText(SInt32 inHelpID) {
  if (inHelpID <= 0) return std::string();
  Str255 text;
  text[0] = 0;
  GetIndString(text, static_cast<SInt16>(inHelpID / 100), static_cast<SInt16>(inHelpID % 100));
  return PStrToString(text);
}

void LMouseHelpTracker::SpendTime(const EventRecord& inMacEvent) {
  StDrawContextState saved;
  EventRecord event = inMacEvent;
  if (event.what == nullEvent) {
    Boolean down = false;
    UHelpTag::GetMouse(event.where, down);
    event.modifiers = static_cast<UInt16>(down ? 0 : btnState);
  }
  UInt32 now = TickCount();

  // 1. The fade.
  if (mFadeAlpha > 0.0f && now - mLastFadeTick > 5) {
    mLastFadeTick = now;
    mFadeAlpha -= 0.1f;
    if (mFadeAlpha <= 0.001f) {
      mFadeAlpha = 0.0f;
      SetTagShown(false);
    } else {
      UHelpTag::SetOpacity(mFadeAlpha);
    }
  }

  // 2. The pane before and after following the mouse. Whether the one
  // before counts is known before it hears MouseLeave; after that only its
  // address is compared, never used.
  LPane* previous = LPane::sLastPaneMoused;
  if (!Counts(previous)) previous = nullptr;
  LMouseTracker::SpendTime(event);
  LPane* current = LPane::sLastPaneMoused;
  if (!Counts(current)) current = nullptr;

  // 3. A pressed button hides the tag at once.
  if (!(event.modifiers & btnState)) {
    HideComment(true);
    mLastTick = now;
    return;
  }

  if (current && current->GetUserCon() != 0) {
    // 4. Over a pane with help.
    mHidePending = false;
    if (current != previous) {
      mLastTick = now;
      mShowPending = true;
    } else if (mShowPending && (now - mLastTick > 60 || mTagShown)) {
      ShowComment(current->GetUserCon(), event.where);
      mShowPending = false;
    }
  } else {
    // 5. Over nothing with help.
    if (!mHidePending && mTagShown) {
      mLastTick = now;
      mHidePending = true;
    } else if (mHidePending && now - mLastTick > 30) {
      HideComment(false);
      mHidePending = false;
    }
  }
}

void LMouseHelpTracker::ShowComment(SInt32 inHelpID, Point inWhere) {
  std::string text = GetHelpText(inHelpID);
  if (text.empty()) return;
  auto* pane = dynamic_cast<LStaticText*>(mHelpWindow->FindPaneByIDOrNil(kHelpTagTextPane));
  ThrowIfNil_(pane);
  SetTagShown(false);
  mHelpWindow->ResizeWindowTo(1000, 16);

  // The text's width on one line in the tag's style.
  SInt16 width = static_cast<SInt16>(std::min<size_t>(text.size() * 7, 990));
  if (pane->FocusDraw()) {
    STextTraits traits;
    UTextTraits::Load(Txtr_HelpTag, traits);
    if (traits.size) TextSize(traits.size);
    Rect frame = {0, 0, 16, 32000};
    Rect bounds = {0, 0, 0, 0};
    std::string measured = text;
    UNewTextDrawing::MeasureWithJustification(measured.data(), static_cast<SInt32>(measured.size()), frame, 0, bounds, 0);
    width = static_cast<SInt16>(bounds.right - bounds.left);
  }
  pane->SetText(text);

  SDimension16 size;
  mHelpWindow->GetFrameSize(size);
  SInt16 tagWidth = static_cast<SInt16>(width + 6);
  mHelpWindow->ResizeWindowTo(tagWidth, size.height);
  // Below and right of the mouse, kept on the screen.
  Point where = {static_cast<SInt16>(inWhere.v + 20), static_cast<SInt16>(inWhere.h + 4)};
  Rect screen = UHelpTag::GetScreenBounds(inWhere);
  if (where.h + tagWidth > screen.right) where.h = static_cast<SInt16>(screen.right - tagWidth);
  if (where.v + size.height > screen.bottom) where.v = static_cast<SInt16>(screen.bottom - size.height);
  if (where.h < screen.left) where.h = screen.left;
  if (where.v < screen.top) where.v = screen.top;
  mHelpWindow->MoveWindowTo(where.h, where.v);

  mFadeAlpha = 0.0f;
  UHelpTag::Show(text, where, tagWidth, size.height);
  mTagShown = true;
}

void LMouseHelpTracker::HideComment(Boolean inImmediately) {
  if (mFadeAlpha > 0.0f) return;
  if (mTagShown) {
    if (inImmediately) {
      SetTagShown(false);
    } else {
      mFadeAlpha = 1.0f;
      mLastFadeTick = TickCount();
    }
  }
  mShowPending = false;
}

void LMouseHelpTracker::ExecuteSelf(MessageT inMessage, void* ioParam) {
  if (inMessage != msg_Event || !ioParam) return;
  if (static_cast<EventRecord*>(ioParam)->what != mouseDown) return;
  mShowPending = false;
  mFadeAlpha = 0.0f;
  SetTagShown(false);
  // The pane may have gone with its window: only a live one is redrawn.
  if (LPane* pane = LPane::sLastPaneMoused)
    if (pane->GetWindow()) pane->UpdatePort();
}
