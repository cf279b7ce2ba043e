// The progress sheet: a custom sheet without a procedure (layout 501 by
// default: text pane 4, progress bar pane 2, Cancel button sending 901), and
// the progress procedure of long operations (UProgress) that shows one on a
// document window.
#pragma once

#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/UProgress.h"

class CRegularWindow;

constexpr ResIDT PPob_ProgressSheet = 501;
constexpr PaneIDT kProgressSheetBar = 2;
constexpr PaneIDT kProgressSheetText = 4;
constexpr PaneIDT kProgressSheetRemaining = 5;
// The answer to an update once the user pressed Cancel.
constexpr SInt16 kProgressSheetCancelled = -8967;

class LProgressSheet : public LCustomDialogSheet {
 public:
  LProgressSheet(LListener* inListener, ResIDT inLayoutID = PPob_ProgressSheet);

  UInt32 GetLastEventTicks() const { return mLastEventTicks; }
  void SetLastEventTicks(UInt32 inTicks) { mLastEventTicks = inTicks; }

  // What UniversalProgressProcedure works on: the window, the listener of
  // the sheets it makes, the tick of the last event processing and the
  // current sheet. A progress reference value (refCon) names one context.
  static SInt32 NewProgressContext(CRegularWindow* inWindow, LListener* inListener);
  // Releases the context's sheet, if any, and forgets the context.
  static void DisposeProgressContext(SInt32 inContext);
  // The context's current sheet (nil when none or no such context).
  static LProgressSheet* GetContextSheet(SInt32 inContext);

  // The ProgressProcPtr: 0 opens a sheet on the context's window (the one
  // already open is reused), 1 sets its text and bar and answers -8967 once
  // Cancel was pressed, 2 releases it. An unknown context answers 0 to
  // everything but open ('nilP').
  static SInt16 UniversalProgressProcedure(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char* inText);

 protected:
  UInt32 mLastEventTicks;
};
