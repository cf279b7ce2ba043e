// Help tags: a one-line help text shown next to the mouse when it rests
// over a pane that has one, fading out when the mouse leaves. A pane names
// its help by its user constant: help id n is item n mod 100 of string list
// n / 100. LMouseTracker follows the pane under the mouse for the whole
// program; LMouseHelpTracker adds the help window (layout 1400, its pane 1
// holds the text) and its timing. The application makes one and attaches
// it to itself.
#pragma once

#include <string>

#include "platform/framework/LAttachable.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/LPane.h"

class LWindow;

constexpr ResIDT PPob_HelpTagWindow = 1400;
constexpr PaneIDT kHelpTagTextPane = 1;
constexpr SInt16 Txtr_HelpTag = 137;

class LMouseTracker : public LPeriodical {
 public:
  // Moves the framework's last pane moused to the pane under the event's
  // mouse location (telling the old one MouseLeave, the new one MouseEnter,
  // or the same one MouseWithin). High-level events change nothing.
  void SpendTime(const EventRecord& inMacEvent) override;
  // The deepest visible pane of a program window at the global point, its
  // sheets and drawers included (nil: none).
  static LPane* FindPaneAt(Point inGlobalPoint, Point& outPortPoint);
};

class LMouseHelpTracker : public LMouseTracker, public LAttachment {
 public:
  // Makes the help window ('nilP' when it cannot) and repeats every 0.1 s.
  LMouseHelpTracker();
  ~LMouseHelpTracker() override;

  // Every 0.1 s: the fade, the pane under the mouse, showing and hiding.
  // A null event is completed with the mouse's place and button.
  void SpendTime(const EventRecord& inMacEvent) override;
  virtual void ShowComment(SInt32 inHelpID, Point inWhere);
  virtual void HideComment(Boolean inImmediately);

  // The help text of an id ("" when the list or the item is missing).
  static std::string GetHelpText(SInt32 inHelpID);

  LWindow* GetHelpWindow() const { return mHelpWindow; }
  Boolean IsTagShown() const { return mTagShown; }
  float GetFadeAlpha() const { return mFadeAlpha; }
  Boolean IsShowPending() const { return mShowPending; }
  Boolean IsHidePending() const { return mHidePending; }

 protected:
  // Message 810 with a mouse-down: the tag goes at once.
  void ExecuteSelf(MessageT inMessage, void* ioParam) override;

 private:
  static Boolean Counts(LPane* inPane);
  void SetTagShown(Boolean inShown);

  UInt32 mLastTick = 0;
  UInt32 mLastFadeTick = 0;
  LWindow* mHelpWindow = nullptr;
  Boolean mShowPending = false;
  Boolean mHidePending = false;
  Boolean mTagShown = false;
  float mFadeAlpha = 0.0f;
};
