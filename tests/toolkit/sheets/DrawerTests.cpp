#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include "SheetsFixture.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/USheetWindows.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/LDrawer.h"

namespace {

constexpr ResIDT kDrawerLayout = 9101;
constexpr SInt16 kDrawerWidth = 180;

SInt32 LogProc(LWindow*, SInt32 inMessage, void*, void* inRefCon) {
  return static_cast<SProcLog*>(inRefCon)->Hear(inMessage);
}

void Click(LDrawer* inDrawer, PaneIDT inID) {
  dynamic_cast<LControl*>(inDrawer->GetWindow()->FindPaneByIDOrNil(inID))->SimulateHotSpotClick(1);
}

class DrawerTest : public SheetsFixture {
 protected:
  void WaitForSlide(LDrawer* inDrawer) {
    UiTest::PumpUntil([&] { return !USheetWindows::IsDrawerMoving(inDrawer->GetWindow()); }, 2000);
  }
};

}  // namespace

TEST(DrawerSide, TheSideWithRoomIsTakenAndTheRightWhenBothOrNeitherFit) {
  const Rect screen = {0, 0, 768, 1024};
  // Room on the right (the drawer's width less 16 is enough).
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{100, 100, 400, 500}, 200), kDrawerSideRight);
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{100, 100, 400, 1024 - 184}, 200), kDrawerSideRight);
  // At the right edge with room on the left.
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{100, 300, 400, 1024}, 200), kDrawerSideLeft);
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{100, 300, 400, 1024 - 183}, 200), kDrawerSideLeft);
  // Neither: the side with more room; equal room takes the right.
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{0, 20, 400, 1014}, 200), kDrawerSideLeft);
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{0, 10, 400, 1000}, 200), kDrawerSideRight);
  EXPECT_EQ(LDrawer::ChooseSide(screen, Rect{0, 12, 400, 1012}, 200), kDrawerSideRight);
}

TEST_F(DrawerTest, ADrawerSlidesOutOfTheSideWithRoomAndTheWindowGrowsByIt) {
  const Rect screens = USheetWindows::GetScreensBounds();
  ASSERT_GT(screens.right - screens.left, 600);
  CRegularWindow* w = NewWindow(40, 40, 360, 220);
  SProcLog log;
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  EXPECT_FALSE(drawer->IsOpen());
  EXPECT_TRUE(log.heard.empty());
  QWidget* frame = w->GetFrameWidget();
  const int closedWidth = frame->width();
  const Rect content = w->GetGlobalBounds();

  drawer->Open();
  EXPECT_EQ(log.heard, std::vector<SInt32>{msg_DrawerOpening});
  EXPECT_TRUE(drawer->IsOpen());
  EXPECT_EQ(drawer->GetSide(), kDrawerSideRight);
  WaitForSlide(drawer);
  QWidget* panel = drawer->GetWindow()->GetFrameWidget();
  EXPECT_EQ(frame->width(), closedWidth + kDrawerWidth);
  EXPECT_EQ(w->GetFrameInsetBottom(), 0);  // the drawer is not taller than the content
  EXPECT_EQ(panel->parentWidget(), frame);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->x(), w->GetWidget()->geometry().right() + 1);
  // The content keeps its size and its place on the screen.
  const Rect after = w->GetGlobalBounds();
  EXPECT_EQ(after.left, content.left);
  EXPECT_EQ(after.right - after.left, 360);
  QImage shot = UiTest::Screenshot(frame, "drawer-open");
  EXPECT_EQ(shot.width(), closedWidth + kDrawerWidth);

  // The window grows: the drawer stays beside its content.
  w->ResizeWindowTo(420, 220);
  UiTest::Pump(5);
  EXPECT_EQ(panel->x(), w->GetWidget()->geometry().right() + 1);
  EXPECT_EQ(frame->width(), closedWidth + 60 + kDrawerWidth);
  w->ResizeWindowTo(360, 220);
  UiTest::Pump(5);
  EXPECT_EQ(panel->x(), w->GetWidget()->geometry().right() + 1);

  // Opening again changes nothing and asks nothing.
  drawer->Open();
  EXPECT_EQ(log.Count(msg_DrawerOpening), 1);

  drawer->Close();
  EXPECT_FALSE(drawer->IsOpen());
  EXPECT_EQ(drawer->GetSide(), kDrawerSideNone);
  EXPECT_EQ(log.heard.back(), msg_DrawerClosed);
  WaitForSlide(drawer);
  EXPECT_EQ(frame->width(), closedWidth);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(w->GetGlobalBounds().left, content.left);
  drawer->Close();
  EXPECT_EQ(log.Count(msg_DrawerClosed), 1);
  drawer->Release();
  EXPECT_EQ(log.Count(msg_DrawerReleased), 1);
}

TEST_F(DrawerTest, AWindowShorterThanItsDrawerGrowsDownSoThatNoControlIsCutOff) {
  // The drawer's layout is 200 high; the content only 120.
  CRegularWindow* w = NewWindow(40, 40, 360, 120);
  SProcLog log;
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  QWidget* frame = w->GetFrameWidget();
  const QSize closed = frame->size();
  const int contentTop = w->GetWidget()->geometry().top();
  drawer->Open();
  WaitForSlide(drawer);
  QWidget* panel = drawer->GetWindow()->GetFrameWidget();
  EXPECT_EQ(w->GetFrameInsetBottom(), 80);
  EXPECT_EQ(frame->height(), closed.height() + 80);
  // The whole panel lies inside the frame, its last button with it.
  EXPECT_TRUE(frame->rect().contains(panel->geometry())) << panel->geometry().bottom() << " " << frame->height();
  QWidget* apply = drawer->GetWindow()->FindPaneByIDOrNil(21)->GetWidget();
  EXPECT_TRUE(apply->isVisible());
  EXPECT_LE(panel->y() + apply->geometry().bottom(), frame->height() - 1);
  // The content keeps its size and place.
  EXPECT_EQ(w->GetWidget()->geometry().top(), contentTop);
  EXPECT_EQ(w->GetGlobalBounds().bottom - w->GetGlobalBounds().top, 120);
  EXPECT_EQ(w->GetWidget()->height(), 120);
  UiTest::Screenshot(frame, "drawer-taller-than-window");

  drawer->Close();
  WaitForSlide(drawer);
  EXPECT_EQ(w->GetFrameInsetBottom(), 0);
  EXPECT_EQ(frame->size(), closed);
  EXPECT_EQ(w->GetWidget()->height(), 120);
  delete drawer;
}

TEST_F(DrawerTest, AtTheRightEdgeOfTheScreenTheDrawerOpensOnTheLeft) {
  const Rect screens = USheetWindows::GetScreensBounds();
  CRegularWindow* w = NewWindow(static_cast<SInt16>(screens.right - 360), 40, 360, 220);
  // Right against the edge, its border included (windows are kept on the screen).
  const Rect margins = UWindowState::GetFrameMargins(w);
  w->MoveWindowTo(static_cast<SInt16>(screens.right - 360 - margins.left - margins.right), 40);
  SProcLog log;
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  const Rect content = w->GetGlobalBounds();
  drawer->Open();
  EXPECT_EQ(drawer->GetSide(), kDrawerSideLeft);
  WaitForSlide(drawer);
  QWidget* panel = drawer->GetWindow()->GetFrameWidget();
  EXPECT_EQ(panel->x(), 0);
  EXPECT_EQ(w->GetWidget()->x(), kDrawerWidth);
  // The frame moved left by the drawer's width: the content did not move.
  EXPECT_EQ(w->GetGlobalBounds().left, content.left);
  EXPECT_EQ(w->GetFrameWidget()->x(), content.left - kDrawerWidth);
  drawer->Close();
  WaitForSlide(drawer);
  EXPECT_EQ(w->GetWidget()->x(), 0);
  EXPECT_EQ(w->GetGlobalBounds().left, content.left);
  delete drawer;
}

TEST_F(DrawerTest, TheProcedureRefusesOpenAndClose) {
  CRegularWindow* w = NewWindow();
  const int closedWidth = w->GetFrameWidget()->width();
  SProcLog log;
  log.answers[msg_DrawerOpening] = 'nope';
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  try {
    drawer->Open();
    ADD_FAILURE() << "opened against the procedure";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), static_cast<ExceptionCode>('nope'));
  }
  EXPECT_FALSE(drawer->IsOpen());
  EXPECT_EQ(w->GetFrameWidget()->width(), closedWidth);
  log.answers.clear();
  log.answers[msg_DrawerClosed] = 'stay';
  drawer->Open();
  EXPECT_THROW(drawer->Close(), LException);
  EXPECT_FALSE(drawer->IsOpen());  // it slid back before the procedure was told
  delete drawer;
  // No layout, no drawer.
  EXPECT_THROW(new LDrawer(w, 31999, LogProc, &log), LException);
  EXPECT_THROW(new LDrawer(nullptr, kDrawerLayout, LogProc, &log), LException);
}

TEST_F(DrawerTest, PanesAndTheWindowReachTheProcedureAndEverySecondToo) {
  StManualClock clock;
  CRegularWindow* w = NewWindow();
  SProcLog log;
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  drawer->Open();
  Click(drawer, 20);
  Click(drawer, 21);
  EXPECT_EQ(log.Count(50), 1);
  EXPECT_EQ(log.Count(51), 1);
  // The window's toolbar button reaches it, its window events do not.
  w->ClickToolbarButton();
  EXPECT_EQ(log.Count(msg_WindowToolbarButton), 1);
  EXPECT_EQ(log.Count(msg_WindowEvent), 0);
  for (int second = 1; second <= 2; ++second) {
    UClock::AdvanceSeconds(1.0);
    UEventLoop::RunUntilIdle();
    EXPECT_EQ(log.Count(msg_DrawerIdle), second);
  }
  // A non-zero answer at -12 releases the drawer at that second.
  log.answers[msg_DrawerIdle] = 1;
  UClock::AdvanceSeconds(1.0);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.Count(msg_DrawerReleased), 1);
  EXPECT_EQ(w->GetFrameInsetRight(), 0);
  UClock::AdvanceSeconds(2.0);
  UEventLoop::RunUntilIdle();
  EXPECT_EQ(log.Count(msg_DrawerIdle), 3);
}

TEST_F(DrawerTest, ADrawerReleasedByItsOwnPaneGoesAfterTheBroadcast) {
  CRegularWindow* w = NewWindow();
  SProcLog log;
  log.answers[51] = 1;
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  drawer->Open();
  WaitForSlide(drawer);
  Click(drawer, 21);
  EXPECT_TRUE(drawer->IsReleasing());
  EXPECT_EQ(log.Count(msg_DrawerReleased), 0);  // still inside the click
  EXPECT_EQ(w->GetFrameInsetRight(), 0);        // but out of sight
  UiTest::PumpUntil([&] { return log.Count(msg_DrawerReleased) == 1; }, 500);
  EXPECT_EQ(log.Count(msg_DrawerReleased), 1);
  EXPECT_EQ(log.Count(msg_DrawerClosed), 0);
}

TEST_F(DrawerTest, ADrawerClosesWithItsWindow) {
  for (bool open : {false, true}) {
    CRegularWindow* w = NewWindow();
    SProcLog log;
    auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
    if (open) drawer->Open();
    UiTest::Pump(open ? 60 : 5);  // the window closes while the drawer may still slide
    delete w;
    EXPECT_EQ(log.Count(msg_DrawerReleased), 1) << open;
    UiTest::Pump(20);
  }
  // The window closed from inside the drawer's own broadcast.
  CRegularWindow* w = NewWindow();
  SProcLog log;
  log.onMessage = [&](SInt32 inMessage) {
    if (inMessage == 51) delete w;
  };
  auto* drawer = new LDrawer(w, kDrawerLayout, LogProc, &log);
  drawer->Open();
  Click(drawer, 21);
  EXPECT_EQ(log.Count(msg_DrawerReleased), 1);
  UiTest::Pump(20);
}
