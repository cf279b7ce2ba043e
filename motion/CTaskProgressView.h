// The progress sheet of a document's worker task (layout 501) on the
// document window: the task drives it through CTaskProgressView, and the
// sheet hands the task its messages (-10 built, -12 every second, 901 Cancel
// from the button or the Escape key). A document makes one in its
// NewProgressSheet with ForTask.
#pragma once

#include <functional>

#include "media/CMovieTask.h"
#include "platform/framework/LListener.h"

class CRegularWindow;
class LCustomDialogSheet;

class CTaskProgressSheet : public CTaskProgressView, public LListener {
 public:
  typedef std::function<SInt32(SInt32 inMessage)> Forward;

  // Builds the sheet from layout 501 for the listener (the document) and
  // makes it the window's current sheet; the sheet's messages go to
  // inForward. Failures are thrown ('nilP' for a missing layout or pane).
  CTaskProgressSheet(CRegularWindow* inWindow, LListener* inListener, Forward inForward);
  // Takes the sheet off the window when it is still there.
  ~CTaskProgressSheet() override;

  // The sheet of the motion or the interlace analysis: its messages go to
  // the task's ProgressSheetMessage. Nil for another kind of task.
  static CTaskProgressSheet* ForTask(CRegularWindow* inWindow, LListener* inListener, CMovieTask* inTask);

  void SetProgressValue(SInt32 inValue) override;
  void SetIndeterminate() override;
  void SetCaption(ConstStringPtr inText) override;
  bool IsRemainingShown() const override;
  void ShowRemaining() override;
  void SetRemainingText(ConstStringPtr inText) override;
  void Remove() override;

  // The window the sheet is on (nil once removed or when its window closed).
  CRegularWindow* GetWindow() const { return mSheet ? mWindow : nullptr; }
  LCustomDialogSheet* GetSheet() const { return mSheet; }

  void ListenToMessage(MessageT inMessage, void* ioParam) override;

 private:
  static SInt32 SheetProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);

  CRegularWindow* mWindow;
  LCustomDialogSheet* mSheet = nullptr;
  Forward mForward;
};
