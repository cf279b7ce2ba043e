// Our event loop driving Qt: Qt events and our timers in the same loop,
// wake-ups from other threads, the application's run and quit, modal dialog
// loops that run our loop, and cooperative threads that touch windows while
// the main loop runs (their Qt work is done on the main thread).
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "platform/framework/LPeriodical.h"
#include "platform/framework/LThread.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LApplication.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UModalDialogs.h"
#include "support/ui/UiTestSupport.h"

namespace {

SWindowInfo WindowInfo(const char* inTitle, SInt16 inWidth, SInt16 inHeight) {
  SWindowInfo w;
  w.title = inTitle;
  w.width = inWidth;
  w.height = inHeight;
  return w;
}

class Repeater : public LPeriodical {
 public:
  std::function<void()> mDo;
  int mCount = 0;
  void SpendTime(const EventRecord&) override {
    ++mCount;
    if (mDo) mDo();
  }
};

class LoopTest : public UiFixture {};

// Runs the application's loop with a thread that does the given work and quits.
class ThreadApp : public LApplication {
 public:
  std::function<void()> mStart;
  void StartUp() override {
    if (mStart) mStart();
  }
};

class WorkThread : public LThread {
 public:
  explicit WorkThread(std::function<void()> inWork) : mWork(std::move(inWork)) {}
  std::function<void()> mWork;
  void* Run() override {
    mWork();
    return nullptr;
  }
};

}  // namespace

TEST_F(LoopTest, QtEventsAndOurTimersShareOneLoopAndOtherThreadsWakeIt) {
  ThreadApp app;
  bool qtTimerFired = false;
  Repeater repeater;
  repeater.mDo = [&] {
    if (repeater.mCount == 3) app.DoQuit();
  };
  app.mStart = [&] {
    QTimer::singleShot(5, qApp, [&] { qtTimerFired = true; });
    repeater.StartRepeating(0.02);
  };
  QElapsedTimer clock;
  clock.start();
  app.Run();
  EXPECT_TRUE(qtTimerFired);
  EXPECT_EQ(repeater.mCount, 3);
  repeater.StopRepeating();

  // Nothing due: the loop sleeps until another thread wakes it.
  ThreadApp idle;
  std::atomic<bool> posted{false};
  std::thread waker;
  idle.mStart = [&] {
    waker = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      posted = true;
      idle.DoQuit();  // may be called from any thread: it wakes the loop
    });
  };
  idle.Run();
  waker.join();
  EXPECT_TRUE(posted.load());
}

TEST_F(LoopTest, ModalDialogLoopRunsOurLoopUntilAnswered) {
  ThreadApp app;
  LCommander::SwitchTarget(&app);
  auto* behind = new LWindow(WindowInfo("Behind", 200, 100), &app);
  behind->Show();
  auto* dialog = new LWindow(WindowInfo("Dialog", 200, 100), &app);
  SPaneInfo pi;
  pi.paneID = 1;
  pi.left = 20;
  pi.top = 20;
  pi.width = 60;
  pi.height = 24;
  pi.superView = dialog;
  SControlInfo ci;
  ci.valueMessage = 42;
  auto* button = new LControl(pi, ci);
  Repeater ticker;  // our periodicals keep running inside the modal loop
  ticker.StartRepeating(0.001);
  {
    StDialogHandler handler(dialog, &app);
    dialog->Show();
    EXPECT_EQ(UDesktop::FetchActiveWindow(), dialog);
    EXPECT_FALSE(behind->IsWindowActive());
    EXPECT_EQ(dialog->GetFrameWidget()->windowModality(), Qt::ApplicationModal);
    // The user clicks the button a little later.
    QTimer::singleShot(20, qApp, [button] {
      QTest::mouseClick(button->GetWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    });
    MessageT heard = msg_Nothing;
    QElapsedTimer t;
    t.start();
    while (heard == msg_Nothing && t.elapsed() < 5000) heard = handler.DoDialog();
    EXPECT_EQ(heard, 42);
    // Escape in the dialog is Cancel.
    QTest::keyClick(dialog->GetWidget(), Qt::Key_Escape);
    EXPECT_EQ(handler.GetMessage(), msg_Cancel);
  }
  EXPECT_GT(ticker.mCount, 0);
  ticker.StopRepeating();
  EXPECT_EQ(UDesktop::FetchActiveWindow(), behind);
  EXPECT_EQ(LCommander::GetTarget(), behind);
  delete behind;
}

TEST_F(LoopTest, ACooperativeThreadUpdatesAWindowWhileTheMainLoopRuns) {
  ThreadApp app;
  LWindow* window = new LWindow(WindowInfo("Progress", 240, 80), &app);
  SPaneInfo pi;
  pi.paneID = 7;
  pi.left = 10;
  pi.top = 30;
  pi.width = 220;
  pi.height = 20;
  pi.superView = window;
  SControlInfo ci;
  ci.maxValue = 100;
  auto* bar = new LControl(pi, ci);
  window->Show();
  QWidget* frame = window->GetFrameWidget();
  std::vector<bool> onMainThread;
  std::atomic<int> steps{0};
  LWindow* madeByThread = nullptr;
  Repeater mainWork;  // the main loop keeps running its periodicals meanwhile
  mainWork.StartRepeating();
  app.mStart = [&] {
    auto* thread = new WorkThread([&] {
      for (int i = 1; i <= 20; ++i) {
        window->SetTitle("Step " + std::to_string(i));
        bar->SetValue(i * 5);
        bar->Refresh();
        // Events processed from the thread, as a progress procedure does.
        app.ProcessNextEvent();
        // Widgets touched here must be touched on the main thread.
        onMainThread.push_back(frame->windowTitle().startsWith(QStringLiteral("Step")));
        ++steps;
        LThread::Yield();
      }
      madeByThread = new LWindow(WindowInfo("From the thread", 100, 50), &app);
      madeByThread->Show();
      app.DoQuit();
    });
    thread->Resume();
  };
  app.Run();
  mainWork.StopRepeating();
  EXPECT_EQ(steps.load(), 20);
  EXPECT_EQ(onMainThread, std::vector<bool>(20, true));  // each title reached the widget at once
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("Step 20[*]"));
  EXPECT_EQ(bar->GetValue(), 100);
  EXPECT_GT(mainWork.mCount, 20);
  ASSERT_NE(madeByThread, nullptr);
  QWidget* made = madeByThread->GetFrameWidget();
  EXPECT_EQ(made->thread(), qApp->thread());
  EXPECT_TRUE(made->isVisible());
  EXPECT_EQ(UiTest::CountQtWarnings(), 0);
}
