#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>

#include "SheetsFixture.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LPeriodical.h"
#include "platform/framework/LStr255.h"
#include "platform/framework/LThread.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/USheetWindows.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LDocumentAlertSheet.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/UMessage.h"
#include "toolkit/UProgress.h"

namespace {

constexpr ResIDT kCustomSheet = 9100;
constexpr ResIDT kPlainSheet = 9102;

SInt32 LogProc(LCustomDialogSheet*, SInt32 inMessage, void*, void* inRefCon) {
  return static_cast<SProcLog*>(inRefCon)->Hear(inMessage);
}

LControl* Control(LCustomDialogSheet* inSheet, PaneIDT inID) {
  return dynamic_cast<LControl*>(inSheet->FindPaneByID(inID));
}

void Click(LCustomDialogSheet* inSheet, PaneIDT inID) { Control(inSheet, inID)->SimulateHotSpotClick(1); }

// The push button of a message box with that text.
QAbstractButton* BoxButton(QWidget* inBox, const QString& inText) {
  auto* box = qobject_cast<QMessageBox*>(inBox);
  if (!box) return nullptr;
  for (QAbstractButton* b : box->buttons())
    if (b->text() == inText) return b;
  return nullptr;
}

// Whether the picture has much more than a flat background.
bool ShowsSomething(const QImage& inImage) {
  if (inImage.isNull()) return false;
  const QRgb first = inImage.pixel(0, 0);
  int differing = 0;
  for (int y = 0; y < inImage.height(); y += 3)
    for (int x = 0; x < inImage.width(); x += 3) differing += inImage.pixel(x, y) != first;
  return differing > 50;
}

class SheetTest : public SheetsFixture {};

}  // namespace

TEST_F(SheetTest, ACustomSheetFromItsLayoutHangsOnItsWindowAndHearsItsControls) {
  CRegularWindow* w = NewWindow();
  SProcLog log;
  auto* sheet = new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
  ASSERT_EQ(log.heard, std::vector<SInt32>{msg_SheetBuilt});
  LWindow* sheetWindow = sheet->GetSheetWindow();
  ASSERT_NE(sheetWindow, nullptr);
  SDimension16 size;
  sheetWindow->GetFrameSize(size);
  EXPECT_EQ(size.width, 320);
  EXPECT_EQ(size.height, 120);
  EXPECT_FALSE(sheetWindow->IsModal());

  w->AddSheet(sheet, true);
  UiTest::Pump(20);
  EXPECT_EQ(w->GetCurrentSheet(), sheet);
  EXPECT_FALSE(w->GetEnabledState());
  EXPECT_TRUE(sheet->IsShown());
  EXPECT_EQ(LCommander::GetTarget(), sheet);
  // A window-modal child window of the document window, on top of its content.
  QWidget* frame = sheetWindow->GetFrameWidget();
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(frame->parentWidget(), w->GetFrameWidget());
  EXPECT_EQ(frame->windowModality(), Qt::WindowModal);
  EXPECT_TRUE(frame->isWindow());
  const Rect content = w->GetGlobalBounds();
  const Rect placed = sheetWindow->GetGlobalBounds();
  EXPECT_EQ(placed.top, content.top);
  EXPECT_EQ(placed.left, content.left + (400 - 320) / 2);
  EXPECT_TRUE(ShowsSomething(UiTest::Screenshot(frame, "custom-sheet")));
  // The user moves the window: the sheet goes along.
  w->GetFrameWidget()->move(140, 90);
  UiTest::Pump(5);
  EXPECT_EQ(frame->pos(), w->GetWidget()->mapToGlobal(QPoint((400 - 320) / 2, 0)));

  // Control broadcasts reach the procedure, except 202.
  Click(sheet, 10);
  Click(sheet, 11);
  EXPECT_EQ(log.Count(7), 1);
  EXPECT_EQ(log.Count(202), 0);
  EXPECT_EQ(sheet->GetLastMessage(), 202);
  // A zero answer keeps the sheet; a non-zero one closes it.
  Click(sheet, 13);
  EXPECT_EQ(log.Count(1), 1);
  UiTest::Pump(5);
  EXPECT_EQ(w->GetCurrentSheet(), sheet);
  log.answers[1] = 1;
  Click(sheet, 13);
  EXPECT_EQ(w->CountSheets(), 0);  // off the window at once
  EXPECT_TRUE(w->GetEnabledState());
  EXPECT_EQ(log.Count(msg_SheetDetached), 0);  // deleted once the click is over
  UiTest::PumpUntil([&] { return log.Count(msg_SheetDetached) == 1; }, 500);
  EXPECT_EQ(log.Count(msg_SheetDetached), 1);
  EXPECT_EQ(LCommander::GetTarget(), w);
}

TEST_F(SheetTest, KeysReachTheProcedureAsReturnEscapeAndOthers) {
  CRegularWindow* w = NewWindow();
  for (ResIDT layout : {kCustomSheet, kPlainSheet}) {
    SProcLog log;
    auto* sheet = new LCustomDialogSheet(nullptr, layout, LogProc, &log);
    w->AddSheet(sheet, true);
    UiTest::Pump(10);
    QWidget* content = sheet->GetSheetWindow()->GetWidget();
    QTest::keyClick(content, Qt::Key_Return);
    QTest::keyClick(content, Qt::Key_Enter);
    QTest::keyClick(content, Qt::Key_Escape);
    QTest::keyClick(content, Qt::Key_A);
    QTest::keyClick(content, Qt::Key_B);
    EXPECT_EQ(log.Count(msg_SheetReturnKey), 2) << layout;
    EXPECT_EQ(log.Count(msg_SheetEscapeKey), 1) << layout;
    EXPECT_EQ(log.Count(msg_SheetOtherKey), 2) << layout;
    // A key answered non-zero closes the sheet.
    log.answers[msg_SheetEscapeKey] = 1;
    QTest::keyClick(content, Qt::Key_Escape);
    UiTest::PumpUntil([&] { return log.Count(msg_SheetDetached) == 1; }, 500);
    EXPECT_EQ(w->CountSheets(), 0) << layout;
    EXPECT_EQ(log.Count(msg_SheetDetached), 1) << layout;
  }
  // Without a procedure a key is not the sheet's.
  auto* quiet = new LCustomDialogSheet(nullptr, kPlainSheet, nullptr, nullptr);
  EventRecord escape;
  escape.what = keyDown;
  escape.message = 0x351B;
  EXPECT_FALSE(quiet->HandleKeyPress(escape));
  delete quiet;
}

TEST_F(SheetTest, TabIsTheProceduresKeyWhereverTheFocusIsInTheSheet) {
  CRegularWindow* w = NewWindow();
  SProcLog log;
  auto* sheet = new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
  w->AddSheet(sheet, true);
  UiTest::Pump(10);
  QWidget* content = sheet->GetSheetWindow()->GetWidget();
  QWidget* frame = sheet->GetSheetWindow()->GetFrameWidget();
  ASSERT_EQ(QApplication::focusWidget(), content);
  // Tab and Shift-Tab on the sheet's content: 814, and the focus stays.
  QTest::keyClick(content, Qt::Key_Tab);
  QTest::keyClick(content, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(log.Count(msg_SheetOtherKey), 2);
  EXPECT_EQ(QApplication::focusWidget(), content);
  // With a button of the sheet focused, Tab still goes to the procedure
  // rather than moving on; Return and Escape keep their meanings.
  QWidget* button = Control(sheet, 12)->GetWidget();
  button->setFocusPolicy(Qt::StrongFocus);
  button->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), button);
  QTest::keyClick(button, Qt::Key_Tab);
  EXPECT_EQ(log.Count(msg_SheetOtherKey), 3);
  EXPECT_EQ(QApplication::focusWidget(), button);
  EXPECT_TRUE(frame->isVisible());  // the dialog's own keys do not close it
  EXPECT_EQ(log.Count(msg_SheetEscapeKey), 0);
  // A non-zero answer to Tab closes the sheet like any other key.
  log.answers[msg_SheetOtherKey] = 1;
  QTest::keyClick(content, Qt::Key_Tab);
  UiTest::PumpUntil([&] { return log.Count(msg_SheetDetached) == 1; }, 500);
  EXPECT_EQ(w->CountSheets(), 0);

  // A sheet without a procedure does not take Tab: the focus moves on.
  auto* quiet = new LCustomDialogSheet(nullptr, kCustomSheet, nullptr, nullptr);
  w->AddSheet(quiet, true);
  UiTest::Pump(10);
  QWidget* quietContent = quiet->GetSheetWindow()->GetWidget();
  QWidget* first = Control(quiet, 12)->GetWidget();
  first->setFocusPolicy(Qt::StrongFocus);
  quietContent->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), quietContent);
  QTest::keyClick(quietContent, Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), quietContent);
  EXPECT_TRUE(quiet->GetSheetWindow()->GetFrameWidget()->isAncestorOf(QApplication::focusWidget()));
  // Escape without a procedure leaves the sheet up (the dialog does not reject).
  QTest::keyClick(quietContent, Qt::Key_Escape);
  UiTest::Pump(10);
  EXPECT_TRUE(quiet->GetSheetWindow()->GetFrameWidget()->isVisible());
  quiet->Release();
  UiTest::Pump(10);
}

namespace {
// Counts the mouse presses a widget receives.
class SPressCounter : public QObject {
 public:
  explicit SPressCounter(QWidget* inWidget) : QObject(inWidget) { inWidget->installEventFilter(this); }
  int presses = 0;

 protected:
  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::MouseButtonPress) ++presses;
    return QObject::eventFilter(inObject, inEvent);
  }
};

// A click as the window system delivers it (so that modality applies).
void SystemClick(CRegularWindow* inWindow) {
  QWidget* frame = inWindow->GetFrameWidget();
  const QPoint at = inWindow->GetWidget()->mapTo(frame, QPoint(30, 30));
  QTest::mouseClick(frame->windowHandle(), Qt::LeftButton, {}, at);
  UiTest::Pump(5);
}
}  // namespace

TEST_F(SheetTest, AnOpenedSheetBlocksItsOwnWindowOnly) {
  CRegularWindow* other = NewWindow(520, 60);
  CRegularWindow* w = NewWindow();
  SPressCounter wPresses(w->GetWidget());
  SPressCounter otherPresses(other->GetWidget());
  SystemClick(w);
  ASSERT_EQ(wPresses.presses, 1);  // the clicks arrive while no sheet is up

  SProcLog log;
  auto* sheet = new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
  w->AddSheet(sheet, true);
  UiTest::Pump(20);
  // Opened as a window-modal dialog of the document window.
  auto* dialog = qobject_cast<QDialog*>(sheet->GetSheetWindow()->GetFrameWidget());
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog->parentWidget(), w->GetFrameWidget());
  EXPECT_EQ(QApplication::activeModalWidget(), dialog);

  SystemClick(w);
  EXPECT_EQ(wPresses.presses, 1);  // blocked
  SystemClick(other);
  EXPECT_EQ(otherPresses.presses, 1);  // another document window is not
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(log.Count(msg_SheetEscapeKey), 0);

  // Closed: the window takes clicks again.
  sheet->Release();
  UiTest::Pump(20);
  SystemClick(w);
  EXPECT_EQ(wPresses.presses, 2);
}

TEST_F(SheetTest, TheProcedureHearsEverySecondAndANonZeroAnswerClosesTheSheet) {
  StManualClock clock;
  CRegularWindow* w = NewWindow();
  SProcLog log;
  auto* sheet = new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
  w->AddSheet(sheet, true);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.Count(msg_SheetIdle), 0);
  for (int second = 1; second <= 3; ++second) {
    UClock::AdvanceSeconds(1.0);
    UEventLoop::RunUntilIdle();
    EXPECT_EQ(log.Count(msg_SheetIdle), second);
  }
  UClock::AdvanceSeconds(0.5);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.Count(msg_SheetIdle), 3);
  log.answers[msg_SheetIdle] = -1;
  UClock::AdvanceSeconds(0.5);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(w->CountSheets(), 0);
  EXPECT_EQ(log.Count(msg_SheetDetached), 1);
  // Gone: no further calls.
  UClock::AdvanceSeconds(2.0);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.Count(msg_SheetIdle), 4);
}

TEST_F(SheetTest, AFailedConstructionLeavesNothingBehind) {
  CRegularWindow* w = NewWindow();
  const size_t windowsBefore = QApplication::topLevelWidgets().size();
  SProcLog log;
  log.answers[msg_SheetBuilt] = 'fail';
  try {
    new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
    ADD_FAILURE() << "the refused sheet was built";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), static_cast<ExceptionCode>('fail'));
  }
  // A missing layout is 'nilP'.
  try {
    new LCustomDialogSheet(nullptr, 31999, LogProc, &log);
    ADD_FAILURE() << "a sheet without a layout was built";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_NilPointer);
  }
  EXPECT_EQ(w->CountSheets(), 0);
  EXPECT_TRUE(w->GetEnabledState());
  StManualClock clock;
  UClock::AdvanceSeconds(3.0);
  UEventLoop::RunUntilIdle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // Nothing was linked or repeats: the procedure heard only its -10.
  EXPECT_EQ(log.heard, std::vector<SInt32>{msg_SheetBuilt});
  EXPECT_LE(QApplication::topLevelWidgets().size(), windowsBefore);
}

TEST_F(SheetTest, ASheetClosedFromInsideItsOwnHandlersIsDeletedAfterThem) {
  CRegularWindow* w = NewWindow();
  SRecorder owner;
  // Released by the procedure itself from a button, a key and the idle call.
  for (SInt32 trigger : {1, static_cast<SInt32>(msg_SheetReturnKey), static_cast<SInt32>(msg_SheetIdle)}) {
    SProcLog log;
    LCustomDialogSheet* sheet = nullptr;
    log.onMessage = [&](SInt32 inMessage) {
      if (inMessage == trigger) {
        sheet->Release();
        sheet->Release();  // twice: still one deletion
      }
    };
    sheet = new LCustomDialogSheet(&owner, kCustomSheet, LogProc, &log);
    w->AddSheet(sheet, true);
    UiTest::Pump(5);
    if (trigger == 1) {
      Click(sheet, 13);
    } else if (trigger == msg_SheetReturnKey) {
      QTest::keyClick(sheet->GetSheetWindow()->GetWidget(), Qt::Key_Return);
    } else {
      UiTest::PumpUntil([&] { return log.Count(msg_SheetIdle) > 0; }, 2500);
    }
    EXPECT_EQ(w->CountSheets(), 0) << trigger;
    EXPECT_TRUE(sheet->IsReleasing()) << trigger;
    sheet->Release();  // the owner too, before the deletion came: still one
    UiTest::PumpUntil([&] { return log.Count(msg_SheetDetached) > 0; }, 500);
    EXPECT_EQ(log.Count(msg_SheetDetached), 1) << trigger;
  }
  // The owner heard of each sheet's end once.
  EXPECT_EQ(owner.Count(msg_SheetReleased), 3);

  // A procedure that closes the document window from inside a button's
  // broadcast: the window deletes its sheet, nothing is touched after.
  SProcLog log;
  log.onMessage = [&](SInt32 inMessage) {
    if (inMessage == 1) delete w;
  };
  auto* sheet = new LCustomDialogSheet(&owner, kCustomSheet, LogProc, &log);
  w->AddSheet(sheet, true);
  UiTest::Pump(5);
  Click(sheet, 13);
  EXPECT_EQ(log.Count(msg_SheetDetached), 1);
  EXPECT_EQ(owner.Count(msg_SheetReleased), 4);
  UiTest::Pump(20);
}

TEST_F(SheetTest, SetProgressProcHandsOverFromTheOldProcedureToTheNew) {
  SProcLog first, second;
  auto sheet = std::make_unique<LCustomDialogSheet>(nullptr, kCustomSheet, LogProc, &first);
  sheet->SetProgressProc(LogProc, &second);
  EXPECT_EQ(first.heard, (std::vector<SInt32>{msg_SheetBuilt, msg_SheetDetached}));
  EXPECT_EQ(second.heard, std::vector<SInt32>{msg_SheetBuilt});
  EXPECT_EQ(LCustomDialogSheet::ProgressProc(sheet.get(), msg_SheetEscapeKey, nullptr, nullptr), -128);
  EXPECT_EQ(LCustomDialogSheet::ProgressProc(sheet.get(), msg_SheetReturnKey, nullptr, nullptr), 0);
  sheet.reset();
  EXPECT_EQ(second.Count(msg_SheetDetached), 1);
  EXPECT_EQ(first.Count(msg_SheetDetached), 1);
}

// ---------------------------------------------------------------------------
// Progress sheets

namespace {

SInt16 Progress(SInt32 inContext, SInt16 inMessage, SInt32 inFraction, const char* inText = "Analysing the motion") {
  LStr255 text(inText);
  return LProgressSheet::UniversalProgressProcedure(inMessage, inFraction, inContext, text);
}

}  // namespace

TEST_F(SheetTest, TheProgressProcedureShowsCancelsAndClosesItsSheet) {
  CRegularWindow* w = NewWindow();
  SRecorder document;
  const SInt32 context = LProgressSheet::NewProgressContext(w, &document);
  ASSERT_EQ(Progress(context, kProgressOpen, 0), 0);
  LProgressSheet* sheet = LProgressSheet::GetContextSheet(context);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(w->GetCurrentSheet(), sheet);
  auto* text = dynamic_cast<LStaticText*>(sheet->FindPaneByID(kProgressSheetText));
  auto* bar = dynamic_cast<LProgressBar*>(sheet->FindPaneByID(kProgressSheetBar));
  ASSERT_TRUE(text && bar);
  EXPECT_EQ(text->GetText(), "Analysing the motion");
  EXPECT_EQ(bar->GetValue(), 0);

  EXPECT_EQ(Progress(context, kProgressUpdate, 0x8000, "Half way"), 0);
  EXPECT_EQ(bar->GetValue(), 128);
  EXPECT_EQ(text->GetText(), "Half way");
  EXPECT_EQ(Progress(context, kProgressUpdate, 0x10000, "Half way"), 0);
  EXPECT_EQ(bar->GetValue(), 256);
  Progress(context, kProgressUpdate, 0x4000);
  UiTest::Pump(20);
  EXPECT_TRUE(ShowsSomething(UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), "progress-sheet")));

  // A second open on the same window reuses the sheet: nothing orphaned.
  ASSERT_EQ(Progress(context, kProgressOpen, 0, "Again"), 0);
  EXPECT_EQ(LProgressSheet::GetContextSheet(context), sheet);
  EXPECT_EQ(w->CountSheets(), 1);
  EXPECT_EQ(text->GetText(), "Again");

  // Cancel: every later update answers -8967, the sheet stays until close.
  // The sheet has no procedure: its button, the idle call and keys skip it.
  Click(sheet, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Progress(context, kProgressUpdate, 0x9000), kProgressSheetCancelled);
  UiTest::Pump(20);
  EXPECT_EQ(w->GetCurrentSheet(), sheet);
  EXPECT_EQ(Progress(context, kProgressClose, 0), 0);
  EXPECT_EQ(LProgressSheet::GetContextSheet(context), nullptr);
  EXPECT_EQ(w->CountSheets(), 0);
  EXPECT_EQ(document.Count(msg_SheetReleased), 1);
  EXPECT_EQ(Progress(context, kProgressUpdate, 0x9000), 0);  // no sheet: nothing to update
  LProgressSheet::DisposeProgressContext(context);
  EXPECT_EQ(Progress(context, kProgressUpdate, 0), 0);  // an unknown context
  EXPECT_EQ(Progress(context, kProgressOpen, 0), static_cast<SInt16>(err_NilPointer & 0xFFFF));
}

TEST_F(SheetTest, ProgressSheetsOnOneWindowAndAClosedWindowStaySound) {
  CRegularWindow* w = NewWindow();
  const SInt32 first = LProgressSheet::NewProgressContext(w, nullptr);
  const SInt32 second = LProgressSheet::NewProgressContext(w, nullptr);
  ASSERT_EQ(Progress(first, kProgressOpen, 0, "First"), 0);
  ASSERT_EQ(Progress(second, kProgressOpen, 0, "Second"), 0);
  EXPECT_EQ(w->CountSheets(), 2);
  EXPECT_EQ(w->GetCurrentSheet(), LProgressSheet::GetContextSheet(second));
  EXPECT_EQ(Progress(second, kProgressClose, 0), 0);
  // The first comes back on top, still driven by its own context.
  EXPECT_EQ(w->GetCurrentSheet(), LProgressSheet::GetContextSheet(first));
  EXPECT_EQ(Progress(first, kProgressUpdate, 0x10000), 0);
  // The window closes under a running progress: its sheet leaves the context.
  delete w;
  EXPECT_EQ(LProgressSheet::GetContextSheet(first), nullptr);
  EXPECT_EQ(Progress(first, kProgressUpdate, 0x10000), 0);
  EXPECT_NE(Progress(first, kProgressOpen, 0), 0);  // its window is gone
  LProgressSheet::DisposeProgressContext(first);
  LProgressSheet::DisposeProgressContext(second);
}

namespace {

// A cooperative thread reporting progress to a sheet, as a worker task does.
class ProgressThread : public LThread {
 public:
  // The answer lands in the test's storage: the thread is deleted once it ended.
  ProgressThread(SInt32 inContext, SInt16* outCancelAnswer, bool* outDone)
      : mContext(inContext), mCancelAnswer(*outCancelAnswer), mDone(*outDone) {}

 protected:
  void* Run() override {
    Progress(mContext, kProgressOpen, 0, "Working");
    for (SInt32 step = 0; step <= 16 && mCancelAnswer == 0; ++step) {
      mCancelAnswer = Progress(mContext, kProgressUpdate, step * 4096);
      LThread::Yield();
    }
    Progress(mContext, kProgressClose, 0);
    mDone = true;
    return nullptr;
  }

 private:
  SInt32 mContext;
  SInt16& mCancelAnswer;
  bool& mDone;
};

}  // namespace

TEST_F(SheetTest, ACooperativeThreadDrivesAProgressSheet) {
  CRegularWindow* w = NewWindow();
  const SInt32 context = LProgressSheet::NewProgressContext(w, nullptr);
  SInt16 answer = 0;
  bool done = false;
  auto* thread = new ProgressThread(context, &answer, &done);
  bool sawSheet = false, clicked = false;
  thread->Resume();
  UiTest::PumpUntil(
      [&] {
        if (LProgressSheet* sheet = LProgressSheet::GetContextSheet(context)) {
          sawSheet = true;
          auto* bar = dynamic_cast<LProgressBar*>(sheet->FindPaneByID(kProgressSheetBar));
          if (!clicked && bar && bar->GetValue() >= 32) {
            Click(sheet, 3);
            clicked = true;
          }
        }
        return done;
      },
      3000);
  UiTest::PumpUntil([&] { return w->CountSheets() == 0; }, 1000);
  EXPECT_TRUE(sawSheet);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(answer, kProgressSheetCancelled);
  EXPECT_EQ(w->CountSheets(), 0);
  LProgressSheet::DisposeProgressContext(context);
}

// ---------------------------------------------------------------------------
// Alert sheets

TEST_F(SheetTest, AlertSheetsOnTwoWindowsAnswerTheirOwnListeners) {
  CRegularWindow* a = NewWindow(40, 40);
  CRegularWindow* b = NewWindow(480, 40);
  SRecorder la, lb;
  auto* sa = new LDocumentAlertSheet(&la, kAlertCautionAlert, "Stop the motion analysis?",
                                     "The motion measured so far is discarded.", "Continue", "Stop", "", 250);
  auto* sb = new LDocumentAlertSheet(&lb, kAlertCautionAlert, "Save the changes?", "", "Save", "Cancel",
                                     "Don't Save", 251);
  a->AddSheet(sa, true);
  b->AddSheet(sb, true);
  UiTest::Pump(20);
  QWidget* boxA = USheetWindows::GetAlertWidget(sa->GetAlertID());
  QWidget* boxB = USheetWindows::GetAlertWidget(sb->GetAlertID());
  ASSERT_TRUE(boxA && boxB);
  EXPECT_TRUE(boxA->isVisible());
  EXPECT_EQ(boxA->parentWidget(), a->GetFrameWidget());
  EXPECT_EQ(boxA->windowModality(), Qt::WindowModal);
  EXPECT_EQ(qobject_cast<QMessageBox*>(boxA)->buttons().size(), 2);
  EXPECT_EQ(qobject_cast<QMessageBox*>(boxB)->buttons().size(), 3);
  EXPECT_TRUE(ShowsSomething(UiTest::Screenshot(boxB, "alert-sheet")));

  // The second window's alert answered first: only its listener hears it,
  // at a later pass of the loop.
  BoxButton(boxB, "Don't Save")->click();
  EXPECT_TRUE(lb.heard.empty());
  UiTest::PumpUntil([&] { return !lb.heard.empty(); }, 500);
  ASSERT_EQ(lb.Count(251), 1);
  EXPECT_EQ(lb.params, std::vector<OSType>{kAlertCommandOther});
  EXPECT_EQ(la.Count(250), 0);
  EXPECT_EQ(b->CountSheets(), 0);
  EXPECT_EQ(a->CountSheets(), 1);
  EXPECT_EQ(lb.Count(msg_SheetReleased), 1);

  BoxButton(boxA, "Stop")->click();
  UiTest::PumpUntil([&] { return la.Count(250) > 0; }, 500);
  EXPECT_EQ(la.params, std::vector<OSType>{kAlertCommandCancel});
  EXPECT_EQ(lb.Count(251), 1);
  EXPECT_EQ(a->CountSheets(), 0);
  EXPECT_TRUE(a->GetEnabledState());
}

TEST_F(SheetTest, AnAlertSheetWithoutReplyMessageClosesSilentlyAndCommandsAreChecked) {
  CRegularWindow* w = NewWindow();
  SRecorder listener;
  auto* sheet = new LDocumentAlertSheet(&listener, kAlertNoteAlert, "Done.", "", "", "", "", 0);
  w->AddSheet(sheet, true);
  UiTest::Pump(10);
  QWidget* box = USheetWindows::GetAlertWidget(sheet->GetAlertID());
  ASSERT_NE(box, nullptr);
  EXPECT_NE(BoxButton(box, "OK"), nullptr);  // the default text
  EXPECT_EQ(sheet->ProcessAlertCommand('xxxx'), eventNotHandledErr);
  QTest::keyClick(box, Qt::Key_Escape);  // the only button is the escape button too
  UiTest::PumpUntil([&] { return w->CountSheets() == 0; }, 500);
  EXPECT_EQ(w->CountSheets(), 0);
  EXPECT_EQ(listener.heard, std::vector<MessageT>{msg_SheetReleased});

  // A listener that closes the window while it hears the reply.
  SRecorder closer;
  auto* second = new LDocumentAlertSheet(&closer, kAlertStopAlert, "Gone?", "", "Yes", "No", "", 252);
  w->AddSheet(second, true);
  struct Closer : LListener {
    CRegularWindow* window;
    void ListenToMessage(MessageT inMessage, void*) override {
      if (inMessage == 252 && window) {
        CRegularWindow* doomed = window;
        window = nullptr;
        delete doomed;
      }
    }
  } closing;
  closing.window = w;
  second->AddListener(&closing);
  EXPECT_EQ(second->ProcessAlertCommand(kAlertCommandDefault), noErr);
  EXPECT_EQ(closing.window, nullptr);
  EXPECT_EQ(closer.Count(msg_SheetReleased), 1);
  UiTest::Pump(10);
}

TEST_F(SheetTest, ResponderQuestionsOnAVisibleWindowBecomeAlertSheets) {
  UResponder::SetInteractive(true);
  LAlertSheet::InstallPresenters();
  CRegularWindow* w = NewWindow();
  SQuestion q;
  q.kind = question_SaveChanges;
  q.message = "Save the changes to \"Clip\" before closing?";
  q.explanation = "Your changes are lost if you don't save them.";
  q.choices = {"Save", "Don't Save", "Cancel"};
  q.defaultChoice = 1;
  q.cancelChoice = 3;
  q.parent = w;
  auto answer = std::make_shared<SAnswer>();
  auto answered = std::make_shared<int>(0);
  UResponder::Ask(q, [answer, answered](const SAnswer& inAnswer) {
    *answer = inAnswer;
    ++*answered;
  });
  ASSERT_EQ(w->CountSheets(), 1);
  auto* sheet = dynamic_cast<LDocumentAlertSheet*>(w->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  UiTest::Pump(10);
  QWidget* box = USheetWindows::GetAlertWidget(sheet->GetAlertID());
  ASSERT_NE(box, nullptr);
  BoxButton(box, "Don't Save")->click();
  UiTest::PumpUntil([&] { return *answered > 0; }, 500);
  EXPECT_EQ(*answered, 1);
  EXPECT_EQ(answer->choice, 2);
  EXPECT_FALSE(answer->cancelled);
  EXPECT_EQ(w->CountSheets(), 0);

  // Cancel is the cancel choice.
  UResponder::Ask(q, [answer, answered](const SAnswer& inAnswer) {
    *answer = inAnswer;
    ++*answered;
  });
  sheet = dynamic_cast<LDocumentAlertSheet*>(w->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  sheet->ProcessAlertCommand(kAlertCommandCancel);
  UiTest::PumpUntil([&] { return *answered > 1; }, 500);
  EXPECT_EQ(answer->choice, 3);
  EXPECT_TRUE(answer->cancelled);

  // A hidden window: an application-modal alert instead.
  w->Hide();
  q.kind = question_Alert;
  q.choices = {"OK"};
  q.cancelChoice = 0;
  UResponder::Ask(q, [answer, answered](const SAnswer& inAnswer) {
    *answer = inAnswer;
    ++*answered;
  });
  EXPECT_EQ(w->CountSheets(), 0);
  QMessageBox* modal = nullptr;
  UiTest::PumpUntil(
      [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
          if (auto* b = qobject_cast<QMessageBox*>(top); b && b->isVisible()) modal = b;
        return modal != nullptr;
      },
      500);
  ASSERT_NE(modal, nullptr);
  EXPECT_EQ(modal->windowModality(), Qt::ApplicationModal);
  BoxButton(modal, "OK")->click();
  UiTest::PumpUntil([&] { return *answered > 2; }, 500);
  EXPECT_EQ(answer->choice, 1);

  // A window closed under its question answers it as cancelled.
  w->Show();
  q.kind = question_DiscardChanges;
  q.choices = {"Discard", "Cancel"};
  q.cancelChoice = 2;
  UResponder::Ask(q, [answer, answered](const SAnswer& inAnswer) {
    *answer = inAnswer;
    ++*answered;
  });
  ASSERT_EQ(w->CountSheets(), 1);
  delete w;
  UiTest::Pump(10);
  EXPECT_EQ(*answered, 4);
  EXPECT_TRUE(answer->cancelled);
}

TEST_F(SheetTest, UProgressReportsThroughAProgressSheet) {
  StManualClock clock;
  CRegularWindow* w = NewWindow();
  const SInt32 context = LProgressSheet::NewProgressContext(w, nullptr);
  {
    UProgress progress(LStr255("Writing the movie"), LProgressSheet::UniversalProgressProcedure, context);
    // Quick operations show nothing.
    EXPECT_TRUE(progress.Progress(10));
    EXPECT_EQ(w->CountSheets(), 0);
    UClock::AdvanceTicks(7);
    EXPECT_TRUE(progress.Progress(64));
    LProgressSheet* sheet = LProgressSheet::GetContextSheet(context);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(dynamic_cast<LStaticText*>(sheet->FindPaneByID(kProgressSheetText))->GetText(), "Writing the movie");
    EXPECT_EQ(dynamic_cast<LProgressBar*>(sheet->FindPaneByID(kProgressSheetBar))->GetValue(), 64);
    Click(sheet, 3);
    UClock::AdvanceTicks(7);
    EXPECT_FALSE(progress.Progress(128));  // the user cancelled
    EXPECT_EQ(w->CountSheets(), 1);
  }
  // The end of the operation closes the sheet.
  EXPECT_EQ(w->CountSheets(), 0);
  LProgressSheet::DisposeProgressContext(context);
}

TEST_F(SheetTest, ScriptedAnswersStillAnswerWithThePresentersInstalled) {
  LAlertSheet::InstallPresenters();
  CRegularWindow* w = NewWindow();
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  SQuestion q;
  q.kind = question_SaveChanges;
  q.choices = {"Save", "Don't Save", "Cancel"};
  q.parent = w;
  SInt32 choice = 0;
  UResponder::Ask(q, [&](const SAnswer& inAnswer) { choice = inAnswer.choice; });
  EXPECT_EQ(w->CountSheets(), 0);
  UiTest::PumpUntil([&] { return choice != 0; }, 500);
  EXPECT_EQ(choice, 1);
}

TEST_F(SheetTest, TheTitleBarCloseButtonOfASheetIsItsCancelAndLeavesTheWindowToTheSheet) {
  CRegularWindow* w = NewWindow();
  // A custom sheet: the procedure hears Cancel (901); its answer closes the sheet.
  SProcLog log;
  auto* sheet = new LCustomDialogSheet(nullptr, kCustomSheet, LogProc, &log);
  w->AddSheet(sheet, true);
  UiTest::Pump(10);
  LWindow* sheetWindow = sheet->GetSheetWindow();
  EXPECT_FALSE(sheetWindow->GetFrameWidget()->close());
  EXPECT_EQ(log.Count(msg_SheetEscapeKey), 1);
  EXPECT_EQ(w->GetCurrentSheet(), sheet);
  EXPECT_EQ(sheet->GetSheetWindow(), sheetWindow);
  EXPECT_TRUE(sheetWindow->IsVisible());
  log.answers[msg_SheetEscapeKey] = 1;
  EXPECT_FALSE(sheetWindow->GetFrameWidget()->close());
  EXPECT_EQ(w->CountSheets(), 0);
  UiTest::PumpUntil([&] { return log.Count(msg_SheetDetached) == 1; }, 2000);
  EXPECT_EQ(log.Count(msg_SheetDetached), 1);
  EXPECT_TRUE(w->GetEnabledState());

  // A progress sheet: the next update is the user's cancel; the sheet stays
  // whole until its procedure closes it.
  SRecorder document;
  const SInt32 context = LProgressSheet::NewProgressContext(w, &document);
  ASSERT_EQ(Progress(context, kProgressOpen, 0), 0);
  LProgressSheet* progress = LProgressSheet::GetContextSheet(context);
  ASSERT_NE(progress, nullptr);
  UiTest::Pump(10);
  EXPECT_FALSE(progress->GetSheetWindow()->GetFrameWidget()->close());
  UiTest::Pump(10);
  ASSERT_EQ(LProgressSheet::GetContextSheet(context), progress);
  EXPECT_EQ(Progress(context, kProgressUpdate, 0x8000, "Half way"), kProgressSheetCancelled);
  EXPECT_EQ(dynamic_cast<LProgressBar*>(progress->FindPaneByID(kProgressSheetBar))->GetValue(), 128);
  EXPECT_EQ(w->GetCurrentSheet(), progress);
  EXPECT_EQ(Progress(context, kProgressClose, 0x8000), 0);
  EXPECT_EQ(w->CountSheets(), 0);
  EXPECT_EQ(document.Count(msg_SheetReleased), 1);
  LProgressSheet::DisposeProgressContext(context);
}

namespace {

// Answers the application-modal alert that shows next, from the loop the
// alert runs: notes its icon and texts, photographs it and presses OK.
struct AlertAnswerer : LPeriodical {
  std::string shot;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text, explanation;
  int answered = 0;
  void SpendTime(const EventRecord&) override {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(top);
      if (!box || !box->isVisible() || answered > 0) continue;
      icon = box->icon();
      text = box->text();
      explanation = box->informativeText();
      UiTest::Screenshot(box, shot);
      ++answered;
      if (QAbstractButton* ok = BoxButton(box, QStringLiteral("OK"))) ok->click();
      return;
    }
  }
};

}  // namespace

TEST_F(SheetTest, EveryApplicationAlertShowsItsKind) {
  UResponder::SetInteractive(true);
  LAlertSheet::InstallPresenters();
  struct Case {
    void (*alert)(ConstStringPtr, SInt16);
    QMessageBox::Icon icon;
    const char* shot;
  } cases[] = {{UMessage::StopAlert, QMessageBox::Critical, "alert-stop"},
               {UMessage::CautionAlert, QMessageBox::Warning, "alert-caution"},
               {UMessage::NoteAlert, QMessageBox::Information, "alert-note"}};
  for (const Case& c : cases) {
    AlertAnswerer answerer;
    answerer.shot = c.shot;
    answerer.StartRepeating();
    c.alert(LStr255("The movie could not be read."), -43);
    EXPECT_EQ(answerer.answered, 1) << c.shot;
    EXPECT_EQ(answerer.icon, c.icon) << c.shot;
    EXPECT_EQ(answerer.text.toStdString(), "The movie could not be read.");
  }
  // A plain alert shows no icon.
  AlertAnswerer answerer;
  answerer.shot = "alert-plain";
  answerer.icon = QMessageBox::Critical;
  answerer.StartRepeating();
  SInt16 hit = 0;
  Str255 text;
  CopyCStringToPascal("Plain", text);
  ASSERT_EQ(StandardAlert(kAlertPlainAlert, text, nullptr, nullptr, &hit), noErr);
  EXPECT_EQ(answerer.answered, 1);
  EXPECT_EQ(answerer.icon, QMessageBox::NoIcon);
}
