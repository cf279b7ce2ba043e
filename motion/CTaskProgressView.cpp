#include "motion/CTaskProgressView.h"

#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/LException.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LProgressSheet.h"

namespace {

template <class T>
T* Pane(LCustomDialogSheet* inSheet, PaneIDT inID) {
  T* pane = inSheet ? dynamic_cast<T*>(inSheet->FindPaneByID(inID)) : nullptr;
  ThrowIfNil_(pane);
  return pane;
}

}  // namespace

CTaskProgressSheet::CTaskProgressSheet(CRegularWindow* inWindow, LListener* inListener, Forward inForward)
    : mWindow(inWindow), mForward(std::move(inForward)) {
  ThrowIfNil_(inWindow);
  auto* sheet = new LCustomDialogSheet(inListener, PPob_ProgressSheet, SheetProc, this);
  try {
    Pane<LProgressBar>(sheet, kProgressSheetBar);
    Pane<LStaticText>(sheet, kProgressSheetText);
    Pane<LStaticText>(sheet, kProgressSheetRemaining);
  } catch (...) {
    delete sheet;
    throw;
  }
  // The sheet may also go with its window: then it is forgotten here.
  sheet->AddListener(this);
  mSheet = sheet;
  inWindow->AddSheet(sheet, true);
}

CTaskProgressSheet::~CTaskProgressSheet() { Remove(); }

CTaskProgressSheet* CTaskProgressSheet::ForTask(CRegularWindow* inWindow, LListener* inListener, CMovieTask* inTask) {
  if (auto* tracking = dynamic_cast<CMotionTrackerTask*>(inTask))
    return new CTaskProgressSheet(inWindow, inListener,
                                  [tracking](SInt32 inMessage) { return tracking->ProgressSheetMessage(inMessage); });
  if (auto* interlace = dynamic_cast<CInterlaceTrackerTask*>(inTask))
    return new CTaskProgressSheet(inWindow, inListener,
                                  [interlace](SInt32 inMessage) { return interlace->ProgressSheetMessage(inMessage); });
  return nullptr;
}

SInt32 CTaskProgressSheet::SheetProc(LCustomDialogSheet*, SInt32 inMessage, void*, void* inRefCon) {
  auto* self = static_cast<CTaskProgressSheet*>(inRefCon);
  switch (inMessage) {
    case msg_SheetIdle:
    case msg_SheetEscapeKey:
      // The task's answer never closes the sheet: the task removes it.
      if (self->mForward) self->mForward(inMessage);
      return 0;
    default:
      return 0;  // the sheet is built before the task knows it; -11, other keys
  }
}

void CTaskProgressSheet::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (inMessage == msg_SheetReleased && static_cast<LSheet*>(ioParam) == mSheet) mSheet = nullptr;
}

void CTaskProgressSheet::SetProgressValue(SInt32 inValue) {
  if (mSheet) Pane<LProgressBar>(mSheet, kProgressSheetBar)->SetValue(inValue);
}

void CTaskProgressSheet::SetIndeterminate() {
  if (mSheet) Pane<LProgressBar>(mSheet, kProgressSheetBar)->SetIndeterminate(true);
}

void CTaskProgressSheet::SetCaption(ConstStringPtr inText) {
  if (mSheet) Pane<LStaticText>(mSheet, kProgressSheetText)->SetDescriptor(inText);
}

bool CTaskProgressSheet::IsRemainingShown() const {
  return mSheet && Pane<LStaticText>(mSheet, kProgressSheetRemaining)->GetVisibleState();
}

void CTaskProgressSheet::ShowRemaining() {
  if (mSheet) Pane<LStaticText>(mSheet, kProgressSheetRemaining)->Show();
}

void CTaskProgressSheet::SetRemainingText(ConstStringPtr inText) {
  if (!mSheet) return;
  auto* text = Pane<LStaticText>(mSheet, kProgressSheetRemaining);
  text->SetDescriptor(inText);
  text->Refresh();
}

void CTaskProgressSheet::Remove() {
  LCustomDialogSheet* sheet = mSheet;
  mSheet = nullptr;
  if (!sheet) return;
  sheet->RemoveListener(this);
  sheet->Release();
}
