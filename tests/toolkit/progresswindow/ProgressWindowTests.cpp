#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "media/CBuffer.h"
#include "media/CBufferTask.h"
#include "media/CTaskObject.h"
#include "platform/base/Clock.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LStr255.h"
#include "platform/framework/LThread.h"
#include "platform/framework/LTimerTask.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/UMessage.h"
#include "toolkit/UProgress.h"

namespace {

SInt16 Proc(SInt16 inMessage, SInt32 inFraction, const char* inText = "Analysing motion") {
  LStr255 text(inText);
  return UMessage::UniversalProgressProcedure(inMessage, inFraction, 0, text);
}

template <class T>
T* Pane(SInt32 inID) {
  LWindow* w = UMessage::GetProgressWindow();
  return w ? dynamic_cast<T*>(w->FindPaneByIDOrNil(inID)) : nullptr;
}

std::string Caption(SInt32 inID) { return Pane<LStaticText>(inID)->GetText(); }

void ClickCancel() { Pane<LPushButton>(kProgressCancelButton)->SimulateHotSpotClick(1); }

// Distinct colours of a picture: a window that shows its controls has many.
size_t CountColours(const QImage& inImage) {
  std::set<QRgb> colours;
  for (int y = 0; y < inImage.height(); y += 2)
    for (int x = 0; x < inImage.width(); x += 2) colours.insert(inImage.pixel(x, y));
  return colours.size();
}

class ProgressWindowTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    LCommander::SetTopCommander(&mApp);
  }
  void TearDown() override {
    Proc(kProgressClose, 0);
    UiFixture::TearDown();
    UBundle::SetMainBundlePath("");
  }
  LCommander mApp;
};

}  // namespace

TEST_F(ProgressWindowTest, ShowsTextBarAndTimes) {
  StManualClock clock;
  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  LWindow* w = UMessage::GetProgressWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->IsVisible());
  EXPECT_TRUE(w->IsModal());
  EXPECT_EQ(UDesktop::FetchTopModal(), w);
  EXPECT_EQ(Caption(kProgressMessagePane), "Analysing motion");
  EXPECT_EQ(Pane<LProgressBar>(kProgressBarPane)->GetValue(), 0);
  Rect frame = w->GetGlobalBounds();
  EXPECT_EQ(frame.right - frame.left, 292);
  EXPECT_EQ(frame.bottom - frame.top, 92);
  // Only one at a time.
  EXPECT_EQ(Proc(kProgressOpen, 0), -1);
  EXPECT_EQ(UMessage::GetProgressWindow(), w);

  // A quarter done after 10 s: 10 s gone, 40 s in all, 30 s to go.
  UClock::AdvanceSeconds(10);
  EXPECT_EQ(Proc(kProgressUpdate, 16384, "Pass 2"), 0);
  EXPECT_EQ(Caption(kProgressElapsedPane), "10");
  EXPECT_EQ(Caption(kProgressTotalPane), "40");
  EXPECT_EQ(Caption(kProgressRemainingPane), "30");
  EXPECT_EQ(Pane<LProgressBar>(kProgressBarPane)->GetValue(), 64);
  EXPECT_EQ(Caption(kProgressMessagePane), "Pass 2");
  // Within 6 ticks of the last update nothing changes.
  UClock::AdvanceTicks(2);
  EXPECT_EQ(Proc(kProgressUpdate, 32768), 0);
  EXPECT_EQ(Pane<LProgressBar>(kProgressBarPane)->GetValue(), 64);
  UClock::AdvanceTicks(4);
  EXPECT_EQ(Proc(kProgressUpdate, 32768, "Pass 2"), 0);
  EXPECT_EQ(Pane<LProgressBar>(kProgressBarPane)->GetValue(), 128);
  UiTest::Pump(30);
  QImage small = UiTest::Screenshot(w->GetFrameWidget(), "progress-window-closed");
  EXPECT_EQ(small.height(), 92);
  EXPECT_GT(CountColours(small), 8u);

  // The triangle opens the times; the window remembers it for the next one.
  Pane<LDisclosureTriangle>(kProgressDisclosurePane)->SimulateHotSpotClick(1);
  UClock::AdvanceSeconds(75);
  EXPECT_EQ(Proc(kProgressUpdate, 49152, "Pass 2"), 0);
  frame = w->GetGlobalBounds();
  EXPECT_EQ(frame.bottom - frame.top, 144);
  EXPECT_EQ(Caption(kProgressElapsedPane), "1:25");
  UiTest::Pump(30);
  QImage large = UiTest::Screenshot(w->GetFrameWidget(), "progress-window-open");
  EXPECT_EQ(large.height(), 144);
  EXPECT_EQ(Proc(kProgressClose, 49152), 0);
  EXPECT_EQ(UMessage::GetProgressWindow(), nullptr);
  EXPECT_EQ(Proc(kProgressUpdate, 65536), 0);  // no window: nothing

  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  frame = UMessage::GetProgressWindow()->GetGlobalBounds();
  EXPECT_EQ(frame.bottom - frame.top, 144);
  EXPECT_EQ(Caption(kProgressMessagePane), "Analysing motion");
  Pane<LDisclosureTriangle>(kProgressDisclosurePane)->SimulateHotSpotClick(1);
  Proc(kProgressClose, 0);
  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  frame = UMessage::GetProgressWindow()->GetGlobalBounds();
  EXPECT_EQ(frame.bottom - frame.top, 92);
}

TEST_F(ProgressWindowTest, CancelAnswersOnTheNextUpdate) {
  StManualClock clock;
  {
    UProgress progress(LStr255("Exporting"), UMessage::UniversalProgressProcedure, 0);
    UClock::AdvanceTicks(7);
    EXPECT_TRUE(progress.Progress(64));  // opens the window
    ASSERT_NE(UMessage::GetProgressWindow(), nullptr);
    ClickCancel();
    UClock::AdvanceTicks(7);
    EXPECT_FALSE(progress.Progress(96));  // the procedure answered -8967
    EXPECT_EQ(UMessage::GetProgressWindow(), nullptr);
  }
  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  ClickCancel();
  UClock::AdvanceTicks(7);
  EXPECT_EQ(Proc(kProgressUpdate, 100), kProgressUserCanceled);
  EXPECT_EQ(Proc(kProgressUpdate, 100), 0);
}

TEST_F(ProgressWindowTest, TheTitleBarCloseButtonCancelsAndTheWindowStaysUntilItsProcedureLetsGo) {
  StManualClock clock;
  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  LWindow* w = UMessage::GetProgressWindow();
  ASSERT_NE(w, nullptr);
  UiTest::Pump(10);
  // The desktop's close button: a close event on the window's frame.
  EXPECT_FALSE(w->GetFrameWidget()->close());
  UiTest::Pump(10);
  // Still the procedure's window, whole: the next update shows on it and is the user's cancel.
  ASSERT_EQ(UMessage::GetProgressWindow(), w);
  EXPECT_TRUE(w->IsVisible());
  EXPECT_EQ(UDesktop::FetchTopModal(), w);
  UiTest::Screenshot(w->GetFrameWidget(), "progress-window-close-button");
  UClock::AdvanceTicks(7);
  EXPECT_EQ(Proc(kProgressUpdate, 16384, "Pass 2"), kProgressUserCanceled);
  EXPECT_EQ(UMessage::GetProgressWindow(), nullptr);
  EXPECT_EQ(UDesktop::FetchTopModal(), nullptr);
  // The one that follows is a new window, not cancelled by the old close.
  ASSERT_EQ(Proc(kProgressOpen, 0), 0);
  UClock::AdvanceTicks(7);
  EXPECT_EQ(Proc(kProgressUpdate, 100), 0);
  EXPECT_EQ(Proc(kProgressClose, 100), 0);
}

namespace {

SInt32 SpinUntilStopped(void* inTask) {
  auto* task = static_cast<CBufferTask*>(inTask);
  for (int i = 0; i < 600000; ++i) {  // a minute at least: stopped long before
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    task->SetProgress(i % 200);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return noErr;
}

// Presses Cancel from the event loop, as the user would while the band
// engine polls and the progress window handles events.
class CancelLater : public LTimerTask {
 public:
  explicit CancelLater(EventTimerInterval inDelay) : LTimerTask(inDelay) {}
  void DoTask() override {
    if (UMessage::GetProgressWindow()) {
      ClickCancel();
      mClicked = true;
    } else {
      SetNextFireTime(0.05);
    }
  }
  bool mClicked = false;
};

}  // namespace

TEST_F(ProgressWindowTest, TheBandEngineFailsWithUserCanceledAfterCancel) {
  CBuffer buffer(Rect{0, 0, 64, 64}, 1, 1);
  CancelLater cancel(0.3);
  // Two bands leave pool workers free for painting the window's port.
  TaskOptions options;
  options.mBandCount = 2;
  OSErr err = CBuffer::Convert(&buffer, &buffer, nullptr, nullptr, nullptr, SpinUntilStopped, nullptr,
                               UMessage::UniversalProgressProcedure, nullptr, &options);
  EXPECT_TRUE(cancel.mClicked);
  EXPECT_EQ(err, userCanceledErr);
  EXPECT_EQ(UMessage::GetProgressWindow(), nullptr);
}

namespace {

std::atomic<int> gSteps{0};
std::atomic<bool> gCancelled{false};
std::atomic<bool> gEnded{false};
std::atomic<bool> gOnOwnThread{false};

// A worker that reports its progress through the modal window while the
// main loop runs, as the analysis tasks do.
class Worker : public LThread {
 protected:
  void* Run() override {
    gOnOwnThread = !LThread::InMainThread();
    UProgress progress(LStr255("Tracking frame"), UMessage::UniversalProgressProcedure, 0);
    for (int i = 0; i < 120000; ++i) {  // a minute at least: cancelled long before
      if (!progress.Progress(std::min(256, i / 4))) {
        gCancelled = true;
        break;
      }
      ++gSteps;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      if (i % 4 == 0) LThread::Yield();
    }
    gEnded = true;
    return nullptr;
  }
};

SInt32 BarValue() {
  LProgressBar* bar = Pane<LProgressBar>(kProgressBarPane);
  return bar ? bar->GetValue() : -1;
}

}  // namespace

TEST_F(ProgressWindowTest, ACooperativeThreadUpdatesTheWindowAndIsCancelledFromIt) {
  gSteps = 0;
  gCancelled = false;
  gEnded = false;
  (new Worker)->Resume();
  // The main loop runs; the worker opens the window and moves the bar.
  ASSERT_TRUE(UiTest::PumpUntil([] { return BarValue() > 8; }));
  EXPECT_TRUE(gOnOwnThread);
  EXPECT_EQ(Caption(kProgressMessagePane), "Tracking frame");
  const SInt32 first = BarValue();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return BarValue() > first; }));
  UiTest::Pump(50);
  QImage shot = UiTest::Screenshot(UMessage::GetProgressWindow()->GetFrameWidget(), "progress-window-thread");
  EXPECT_GT(CountColours(shot), 8u);
  EXPECT_FALSE(gEnded);
  // The user cancels: the worker's next report sees it and the thread ends.
  ClickCancel();
  ASSERT_TRUE(UiTest::PumpUntil([] { return gEnded.load(); }));
  EXPECT_TRUE(gCancelled);
  EXPECT_EQ(UMessage::GetProgressWindow(), nullptr);
  EXPECT_LT(gSteps.load(), 120000);  // ended by the cancel, not by running out
  UiTest::Pump(20);
}
