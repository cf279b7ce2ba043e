// Several windows shown in one go (a program opening two movies at launch):
// Qt's activation reports of the earlier requests must not start the
// requests over, or the loop never gets through one pass.
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/framework/UEventLoop.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "support/ui/UiTestSupport.h"

namespace {
class WindowActivationTest : public UiFixture {};

LWindow* MakeWindow(const std::string& inTitle, SInt16 inLeft) {
  SWindowInfo info;
  info.title = inTitle;
  info.left = inLeft;
  info.width = 160;
  info.height = 90;
  auto* w = new LWindow(info);
  w->Show();
  return w;
}
}  // namespace

TEST_F(WindowActivationTest, WindowsShownTogetherSettleOnTheFrontOne) {
  LWindow* a = MakeWindow("first", 0);
  LWindow* b = MakeWindow("second", 200);
  LWindow* c = MakeWindow("third", 400);
  // A pass that never ended would hang here: a watchdog fails the test instead.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 1200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a minute
    if (!done) {
      ADD_FAILURE() << "the event loop did not get through a pass";
      std::_Exit(1);
    }
  });
  for (int i = 0; i < 10; ++i) UEventLoop::ProcessOnce();
  done = true;
  watchdog.join();
  EXPECT_EQ(UDesktop::FetchTopRegular(), c);
  EXPECT_EQ(UDesktop::FetchActiveWindow(), c);
  // Selecting another one afterwards is followed.
  a->Select();
  UiTest::Pump(50);
  EXPECT_EQ(UDesktop::FetchActiveWindow(), a);
  EXPECT_TRUE(a->IsWindowActive());
  EXPECT_FALSE(c->IsWindowActive());
  delete a;
  delete b;
  delete c;
}
