#include <gtest/gtest.h>

#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QWidget>
#include <QMessageBox>
#include <memory>

#include "TaskTestSupport.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTracker.h"
#include "motion/CMotionTrackerTask.h"
#include "motion/CTaskProgressView.h"
#include "platform/base/Clock.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/USheetWindows.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LDocumentAlertSheet.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/LSheetLayout.h"

using namespace tasktest;

// Kept for the life of the process by these libraries, not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:ReadInfoPlist\n"
         "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}

namespace {

constexpr TimeValue kFrame = 20;

// Headless: the desktop layer makes its application on first use.
const int sHeadless = [] {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QDir().mkpath(QDir::tempPath() + "/trx-tasksheets-runtime");
  QFile::setPermissions(QDir::tempPath() + "/trx-tasksheets-runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  setenv("XDG_RUNTIME_DIR", (QDir::tempPath() + "/trx-tasksheets-runtime").toUtf8().constData(), 1);
  return 0;
}();

void Pump(int inMillis) {
  QElapsedTimer t;
  t.start();
  do {
    UEventLoop::ProcessOnce();
  } while (t.elapsed() < inMillis);
}

void DrawStripes(SInt32 k, CBuffer* f) {
  for (SInt32 y = 0; y < f->GetHeight(); ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(f->GetData()) + static_cast<size_t>(y) * f->GetRowBytes();
    for (SInt32 x = 0; x < f->GetWidth(); ++x) {
      row[4 * x] = 255;
      row[4 * x + 1] = static_cast<UInt8>((x + 3 * k) * 7);
      row[4 * x + 2] = static_cast<UInt8>(y * 5);
      row[4 * x + 3] = 40;
    }
  }
}

// A tracker that counts its frames and measures nothing.
struct CountingTracker : CMotionTracker {
  int* frames;
  explicit CountingTracker(int* outFrames) : frames(outFrames) {}
  UInt32 GetOptions() override { return 0; }
  OSErr ProcessFrame(SInt32 inDuration, ETrackerFieldMode, ProgressProcPtr, void*) override {
    ++*frames;
    mRecords.AddItem(NewRecord(inDuration));
    return noErr;
  }
};

// A document with a real window: its tasks' progress sheets hang there.
struct WindowDocument : TestDocument {
  CRegularWindow* window = nullptr;
  CTaskProgressView* NewProgressSheet(CMovieTask* inTask) override {
    return CTaskProgressSheet::ForTask(window, this, inTask);
  }
};

class TaskSheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)sHeadless;
    UQt::EnsureApplication();
    UEventLoop::Reset();
    UAlertResponder::Reset();
    UseBundle();
    LCommander::SetTopCommander(&mApp);
    LSheetLayout::RegisterClasses();
    SWindowInfo info;
    info.width = 480;
    info.height = 320;
    doc.window = new CRegularWindow(info, &mApp);
    doc.window->Show();
    doc.window->Select();
    movie = std::make_unique<CMovie>(MakeRawMovie(64, 48, 24, kFrame, 600, DrawStripes), true);
    doc.movie = movie.get();
    doc.fieldMode = 3;  // the task yields after every first field
  }
  void TearDown() override {
    movie.reset();
    for (LWindow* w : UDesktop::GetWindows()) delete w;
    LCommander::SwitchTarget(nullptr);
    UEventLoop::RunUntilIdle(100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    UAlertResponder::Reset();
    LCommander::SetTopCommander(nullptr);
  }
  LCustomDialogSheet* ProgressSheet() {
    return dynamic_cast<LCustomDialogSheet*>(doc.window->GetSheet(1));
  }
  LDocumentAlertSheet* Question() { return dynamic_cast<LDocumentAlertSheet*>(doc.window->GetCurrentSheet()); }
  void PressAlert(const QString& inText) {
    auto* box = qobject_cast<QMessageBox*>(USheetWindows::GetAlertWidget(Question()->GetAlertID()));
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons())
      if (b->text() == inText) b->click();
  }

  LCommander mApp;
  WindowDocument doc;
  std::unique_ptr<CMovie> movie;
};

}  // namespace

TEST_F(TaskSheetTest, TheTrackingTaskShowsItsSheetAndAsksOnTheWindowBeforeStopping) {
  int frames = 0;
  auto* task = new CMotionTrackerTask(&doc, new CountingTracker(&frames), Rect{0, 0, 48, 64});
  int phase = 0, heldTurns = 0, framesWhenAsked = 0;
  ASSERT_TRUE(RunTask(doc, task, [&] {
    LCustomDialogSheet* sheet = ProgressSheet();
    if (phase == 0 && sheet && frames >= 3) {
      // The sheet from layout 501 with the task's caption.
      auto* caption = dynamic_cast<LStaticText*>(sheet->FindPaneByID(kProgressSheetText));
      EXPECT_EQ(caption->GetText(), "Analysing the camera motion…");
      EXPECT_FALSE(sheet->FindPaneByID(kProgressSheetRemaining)->GetVisibleState());
      // Cancel asks first, in an alert sheet on the same window.
      dynamic_cast<LControl*>(sheet->FindPaneByID(3))->SimulateHotSpotClick(1);
      ASSERT_NE(Question(), nullptr);
      EXPECT_EQ(doc.window->CountSheets(), 2);
      framesWhenAsked = frames;
      phase = 1;
    } else if (phase == 1) {
      // The task's thread waits for the answer.
      EXPECT_EQ(frames, framesWhenAsked);
      if (++heldTurns == 20) {
        UEventLoop::ProcessOnce();
        PressAlert("Continue");
        phase = 2;
      }
    } else if (phase == 2) {
      UEventLoop::ProcessOnce();  // the answer arrives at a later pass
      if (doc.window->CountSheets() == 1) phase = 3;
    }
  }));
  EXPECT_GE(phase, 3);
  EXPECT_EQ(frames, 48);  // Continue went on to the end: two fields a frame
  EXPECT_EQ(doc.history.size(), 1u);
  EXPECT_EQ(doc.window->CountSheets(), 0);

  // Stop: the cancel flag, the sheet removed, nothing stored.
  frames = 0;
  task = new CMotionTrackerTask(&doc, new CountingTracker(&frames), Rect{0, 0, 48, 64});
  phase = 0;
  ASSERT_TRUE(RunTask(doc, task, [&] {
    if (phase == 0 && ProgressSheet() && frames >= 3) {
      task->ProgressSheetMessage(msg_SheetEscapeKey);
      phase = 1;
    } else if (phase == 1) {
      UEventLoop::ProcessOnce();
      PressAlert("Stop");
      phase = 2;
    } else if (phase == 2) {
      UEventLoop::ProcessOnce();
    }
  }));
  EXPECT_LT(frames, 48);
  EXPECT_EQ(doc.history.size(), 1u);  // only the first analysis
  EXPECT_EQ(doc.window->CountSheets(), 0);
}

TEST_F(TaskSheetTest, AWindowClosedUnderTheQuestionLetsTheAnalysisGoOn) {
  int frames = 0;
  auto* task = new CMotionTrackerTask(&doc, new CountingTracker(&frames), Rect{0, 0, 48, 64});
  bool asked = false;
  ASSERT_TRUE(RunTask(doc, task, [&] {
    if (!asked && ProgressSheet() && frames >= 2) {
      asked = true;
      task->ProgressSheetMessage(msg_SheetEscapeKey);
      ASSERT_NE(Question(), nullptr);
      // The question goes (its window's sheets are taken down) without an answer.
      Question()->Release();
    }
  }));
  EXPECT_TRUE(asked);
  EXPECT_EQ(frames, 48);
}

TEST_F(TaskSheetTest, TheInterlaceTaskSheetIsIndeterminateAndCancelsAtOnce) {
  auto* task = new CInterlaceTrackerTask(&doc, true);
  LCustomDialogSheet* sheet = ProgressSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(dynamic_cast<LStaticText*>(sheet->FindPaneByID(kProgressSheetText))->GetText(),
            "Analysing the field order and frame rate…");
  bool cancelled = false;
  ASSERT_TRUE(RunTask(doc, task, [&] {
    if (!cancelled && ProgressSheet()) {
      dynamic_cast<LControl*>(ProgressSheet()->FindPaneByID(3))->SimulateHotSpotClick(1);
      cancelled = true;
      EXPECT_EQ(doc.window->CountSheets(), 1);  // no question asked
    }
  }));
  EXPECT_TRUE(cancelled);
  Pump(10);
  EXPECT_EQ(doc.window->CountSheets(), 0);
}

TEST_F(TaskSheetTest, TheRemainingTimeShowsOnceItIsWorthShowing) {
  StManualClock clock;
  auto* sheet = new CTaskProgressSheet(doc.window, &doc, nullptr);
  EXPECT_FALSE(sheet->IsRemainingShown());
  sheet->ShowRemaining();
  LStr255 text("Time remaining: 12 s");
  sheet->SetRemainingText(text);
  EXPECT_TRUE(sheet->IsRemainingShown());
  auto* remaining = dynamic_cast<LStaticText*>(sheet->GetSheet()->FindPaneByID(kProgressSheetRemaining));
  EXPECT_EQ(remaining->GetText(), "Time remaining: 12 s");
  sheet->SetProgressValue(200);
  EXPECT_EQ(dynamic_cast<LProgressBar*>(sheet->GetSheet()->FindPaneByID(kProgressSheetBar))->GetValue(), 200);
  LStr255 caption("Analysing the camera motion…");
  sheet->SetCaption(caption);
  Pump(20);
  // A picture of it beside the test (the build folder).
  QImage shot = sheet->GetSheet()->GetSheetWindow()->GetFrameWidget()->grab().toImage();
  EXPECT_TRUE(shot.save(QStringLiteral("task-progress-sheet.png")));
  // The window closing first leaves a sheet view that does nothing.
  delete doc.window;
  doc.window = nullptr;
  EXPECT_EQ(sheet->GetWindow(), nullptr);
  sheet->SetProgressValue(10);
  sheet->Remove();
  delete sheet;
}
