// Panes inside a real (offscreen) window: frames and bindings when the
// window is resized by the program or by the user, self-drawn panes painted
// from the window's port and photographed, clicks with counts, cursors,
// hot spots, visibility and activation reaching the sub-panes.
#include <QGuiApplication>
#include <QImage>
#include <QStyleHints>
#include <QTest>
#include <QWidget>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LListener.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "support/ui/UiTestSupport.h"

namespace {

SPaneInfo Info(PaneIDT inID, SInt32 inLeft, SInt32 inTop, SInt16 inWidth, SInt16 inHeight, LView* inSuper,
               SBooleanRect inBind = {}) {
  SPaneInfo p;
  p.paneID = inID;
  p.left = inLeft;
  p.top = inTop;
  p.width = inWidth;
  p.height = inHeight;
  p.superView = inSuper;
  p.bindings = inBind;
  return p;
}

SWindowInfo WindowInfo(const char* inTitle, SInt16 inWidth, SInt16 inHeight) {
  SWindowInfo w;
  w.title = inTitle;
  w.width = inWidth;
  w.height = inHeight;
  return w;
}

// Fills its frame with one colour and writes a word in it.
class Swatch : public LPane {
 public:
  Swatch(const SPaneInfo& inInfo, RGBColor inColor, const char* inText) : LPane(inInfo), mColor(inColor), mText(inText) {}
  int mDraws = 0;
  std::vector<SInt16> mClickCounts;
  std::vector<Point> mClickPoints;
  void DrawSelf() override {
    ++mDraws;
    Rect r;
    CalcLocalFrameRect(r);
    RGBForeColor(&mColor);
    PaintRect(&r);
    RGBColor black = {0, 0, 0};
    RGBForeColor(&black);
    TextSize(12);
    MoveTo(static_cast<SInt16>(r.left + 4), static_cast<SInt16>(r.top + 16));
    Str255 s;
    StringToPStr(mText, s);
    DrawString(s);
  }
  void ClickSelf(const SMouseDownEvent& inMouse) override {
    mClickCounts.push_back(GetClickCount());
    mClickPoints.push_back(inMouse.wherePort);
  }
  void AdjustMouseSelf(Point, const EventRecord&, MacRegion*) override { SetThemeCursor(kThemeOpenHandCursor); }
  RGBColor mColor;
  std::string mText;
};

class Hooks : public LView {
 public:
  explicit Hooks(const SPaneInfo& inInfo) : LView(inInfo, SViewInfo{}) {}
  std::vector<std::string> mLog;
  void ShowSelf() override { mLog.push_back("show"); }
  void HideSelf() override { mLog.push_back("hide"); }
  void EnableSelf() override { mLog.push_back("enable"); }
  void DisableSelf() override { mLog.push_back("disable"); }
  void ActivateSelf() override { mLog.push_back("activate"); }
  void DeactivateSelf() override { mLog.push_back("deactivate"); }
};

class Counter : public LListener {
 public:
  std::vector<std::pair<MessageT, SInt32>> mHeard;
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    mHeard.push_back({inMessage, ioParam ? *static_cast<SInt32*>(ioParam) : 0});
  }
};

QRgb Pixel(const QImage& inImage, int inX, int inY) { return inImage.pixel(inX, inY) & 0xFFFFFF; }

class PaneTest : public UiFixture {};

}  // namespace

TEST_F(PaneTest, BindingsHoldWhenTheWindowIsResized) {
  auto* window = new LWindow(WindowInfo("Bindings", 400, 300));
  auto* stretch = new LPane(Info(1, 10, 10, 380, 20, window, {true, true, true, false}));  // follows the width
  auto* corner = new LPane(Info(2, 320, 260, 70, 30, window, {false, false, true, true}));  // stays in the corner
  auto* fill = new LView(Info(3, 10, 40, 380, 210, window, {true, true, true, true}), SViewInfo{});
  auto* inner = new LPane(Info(4, 5, 5, 100, 100, fill, {false, false, true, false}));  // moves with fill's right edge
  auto* fixed = new LPane(Info(5, 10, 260, 50, 30, window));  // bound to nothing
  window->Show();

  window->ResizeWindowTo(500, 350);
  auto frame = [](LPane* p) {
    Rect r;
    p->CalcPortFrameRect(r);
    return std::vector<int>{r.left, r.top, r.right, r.bottom};
  };
  EXPECT_EQ(frame(stretch), (std::vector<int>{10, 10, 490, 30}));
  EXPECT_EQ(frame(corner), (std::vector<int>{420, 310, 490, 340}));
  EXPECT_EQ(frame(fill), (std::vector<int>{10, 40, 490, 300}));
  EXPECT_EQ(frame(inner), (std::vector<int>{115, 45, 215, 145}));
  EXPECT_EQ(frame(fixed), (std::vector<int>{10, 260, 60, 290}));
  // The widgets follow the model.
  EXPECT_EQ(stretch->GetWidget()->geometry(), QRect(10, 10, 480, 20));
  EXPECT_EQ(corner->GetWidget()->geometry(), QRect(420, 310, 70, 30));
  EXPECT_EQ(inner->GetWidget()->geometry(), QRect(105, 5, 100, 100));  // inside fill's widget

  // The user drags the window smaller: the model follows the widget.
  QWidget* top = window->GetFrameWidget();
  top->resize(300, 200);
  UiTest::Pump(20);
  SDimension16 size;
  window->GetFrameSize(size);
  EXPECT_EQ(size.width, 300);
  EXPECT_EQ(size.height, 200);
  EXPECT_EQ(frame(stretch), (std::vector<int>{10, 10, 290, 30}));
  EXPECT_EQ(frame(corner), (std::vector<int>{220, 160, 290, 190}));

  // Scrolling a view moves its sub-panes' widgets, not their place in the image.
  fill->ResizeImageTo(1000, 1000, false);
  SInt32 innerH = inner->GetFrameInSuperImage().h;  // moved with fill's right edge both times
  EXPECT_EQ(innerH, 5 + 100 - 200);
  EXPECT_TRUE(fill->ScrollPinnedImageBy(50, 20, false));
  EXPECT_EQ(inner->GetFrameInSuperImage().h, innerH);
  EXPECT_EQ(inner->GetWidget()->geometry().topLeft(), QPoint(innerH - 50, 5 - 20));
  EXPECT_TRUE(fill->ScrollPinnedImageBy(-1000, -1000, false));
  SPoint32 scroll;
  fill->GetScrollPosition(scroll);
  EXPECT_EQ(scroll.h, 0);
  EXPECT_EQ(scroll.v, 0);
}

TEST_F(PaneTest, FindPaneByIDThrowsNilPForAMissingPane) {
  auto* window = new LWindow(WindowInfo("Find", 200, 100));
  auto* view = new LView(Info(10, 0, 0, 200, 100, window), SViewInfo{});
  auto* deep = new LPane(Info(11, 5, 5, 10, 10, view));
  EXPECT_EQ(window->FindPaneByID(11), deep);
  EXPECT_EQ(window->FindPaneByID(10), view);
  EXPECT_EQ(window->FindPaneByIDOrNil(12), nullptr);
  try {
    window->FindPaneByID(12);
    FAIL() << "no exception";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), 'nilP');
  }
  delete view;  // deletes its sub-pane and leaves the window
  EXPECT_EQ(window->CountSubPanes(), 0);
  EXPECT_EQ(window->FindPaneByIDOrNil(11), nullptr);
}

TEST_F(PaneTest, SelfDrawnPanesArePaintedFromThePortAndPhotographed) {
  auto* window = new LWindow(WindowInfo("Swatches", 320, 160));
  auto* red = new Swatch(Info(1, 20, 20, 120, 60, window), RGBColor{0xFFFF, 0, 0}, "Red");
  auto* blue = new Swatch(Info(2, 170, 60, 120, 80, window), RGBColor{0, 0, 0xFFFF}, "Blue");
  window->Show();
  UiTest::Pump(30);
  QImage shot = UiTest::Screenshot(window->GetFrameWidget(), "pane_swatches");
  ASSERT_FALSE(shot.isNull());
  int bar = window->GetFrameWidget()->height() - 160;  // menu bar, when there is one
  EXPECT_EQ(Pixel(shot, 130, bar + 70), 0xFF0000u);
  EXPECT_EQ(Pixel(shot, 280, bar + 130), 0x0000FFu);
  EXPECT_EQ(Pixel(shot, 5, bar + 5), 0xEFEFEFu);  // the window's background
  EXPECT_GE(red->mDraws, 1);
  // Some of the red swatch's text pixels are dark.
  int dark = 0;
  for (int y = bar + 22; y < bar + 40; ++y)
    for (int x = 22; x < 60; ++x)
      if (qGray(shot.pixel(x, y)) < 80) ++dark;
  EXPECT_GT(dark, 10);

  // Refresh draws again; direct drawing after FocusDraw shows without DrawSelf.
  int draws = blue->mDraws;
  blue->mColor = RGBColor{0, 0xFFFF, 0};
  blue->Refresh();
  QImage second = window->GetFrameWidget()->grab().toImage();
  EXPECT_EQ(blue->mDraws, draws + 1);
  EXPECT_EQ(Pixel(second, 280, bar + 130), 0x00FF00u);
  ASSERT_TRUE(red->FocusDraw());
  RGBColor yellow = {0xFFFF, 0xFFFF, 0};
  RGBForeColor(&yellow);
  Rect r = {70, 100, 80, 140};
  PaintRect(&r);
  QImage third = window->GetFrameWidget()->grab().toImage();
  EXPECT_EQ(Pixel(third, 130, bar + 75), 0xFFFF00u);
  EXPECT_EQ(blue->mDraws, draws + 1);
  // Hidden panes leave the window's background.
  red->Hide();
  QImage fourth = UiTest::Screenshot(window->GetFrameWidget(), "pane_swatch_hidden");
  EXPECT_EQ(Pixel(fourth, 130, bar + 70), 0xEFEFEFu);
}

TEST_F(PaneTest, ClicksCountAndCursorsFollowThePane) {
  auto* window = new LWindow(WindowInfo("Clicks", 200, 100));
  auto* swatch = new Swatch(Info(1, 50, 20, 100, 60, window), RGBColor{0x8000, 0x8000, 0x8000}, "");
  window->Show();
  QWidget* w = swatch->GetWidget();
  {
    // The clicks' times are the test's: the two are a double click however
    // long the machine takes between them, the third comes after the interval.
    StManualClock clock;
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(swatch->mClickCounts.size(), 2u);
    EXPECT_EQ(swatch->mClickCounts[0], 1);
    EXPECT_EQ(swatch->mClickCounts[1], 2);
    EXPECT_EQ(swatch->mClickPoints[0].h, 60);  // port coordinates
    EXPECT_EQ(swatch->mClickPoints[0].v, 30);
    UClock::AdvanceSeconds((QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50) / 1000.0);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(swatch->mClickCounts.back(), 1);
  }

  // A disabled pane takes no clicks.
  swatch->Disable();
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(swatch->mClickCounts.size(), 3u);

  // The cursor over the swatch is its own, the arrow elsewhere.
  QTest::mouseMove(w, QPoint(20, 20));
  EXPECT_EQ(LPane::sLastPaneMoused, swatch);
  EXPECT_EQ(UCursor::Get(), cursor_OpenHand);
  EXPECT_EQ(window->GetWidget()->cursor().shape(), Qt::OpenHandCursor);
  QTest::mouseMove(window->GetWidget(), QPoint(5, 5));
  EXPECT_EQ(LPane::sLastPaneMoused, window);
  EXPECT_EQ(UCursor::Get(), cursor_Arrow);
}

TEST_F(PaneTest, StateHooksReachSubPanesThroughTheirViews) {
  auto* window = new LWindow(WindowInfo("Hooks", 200, 100));
  auto* outer = new Hooks(Info(1, 0, 0, 200, 100, window));
  auto* inner = new Hooks(Info(2, 10, 10, 50, 50, outer));
  window->Show();
  EXPECT_TRUE(inner->IsVisible());
  EXPECT_TRUE(inner->IsActive());
  EXPECT_EQ(inner->mLog, (std::vector<std::string>{"show", "activate"}));
  inner->mLog.clear();
  outer->Hide();
  outer->Disable();
  EXPECT_FALSE(inner->IsVisible());
  EXPECT_TRUE(inner->GetVisibleState());
  EXPECT_FALSE(inner->IsEnabled());
  EXPECT_EQ(inner->mLog, (std::vector<std::string>{"hide", "disable"}));
  EXPECT_FALSE(inner->GetWidget()->isVisible());
  EXPECT_FALSE(inner->GetWidget()->isEnabled());
  inner->mLog.clear();
  outer->Show();
  outer->Enable();
  EXPECT_EQ(inner->mLog, (std::vector<std::string>{"show", "enable"}));
  EXPECT_TRUE(inner->GetWidget()->isVisible());

  // A second window in front deactivates the first one's panes.
  inner->mLog.clear();
  auto* second = new LWindow(WindowInfo("Second", 100, 100));
  second->Show();
  EXPECT_EQ(UDesktop::FetchActiveWindow(), second);
  EXPECT_FALSE(inner->IsActive());
  EXPECT_EQ(inner->mLog, (std::vector<std::string>{"deactivate"}));
  window->Select();
  EXPECT_TRUE(inner->IsActive());
  EXPECT_EQ(UDesktop::FetchTopRegular(), window);
  second->Hide();
  EXPECT_EQ(UDesktop::FetchActiveWindow(), window);
}

TEST_F(PaneTest, ControlsClampBroadcastAndTrackHotSpots) {
  auto* window = new LWindow(WindowInfo("Control", 200, 100));
  SControlInfo ci;
  ci.valueMessage = 4711;
  ci.value = 5;
  ci.minValue = 0;
  ci.maxValue = 10;
  auto* control = new LControl(Info(1, 20, 20, 80, 30, window), ci);
  Counter counter;
  control->AddListener(&counter);
  window->Show();
  control->SetValue(20);
  EXPECT_EQ(control->GetValue(), 10);
  control->SetValue(10);  // no change, no broadcast
  control->SetValue(-3);
  EXPECT_EQ(counter.mHeard, (std::vector<std::pair<MessageT, SInt32>>{{4711, 10}, {4711, 0}}));
  counter.mHeard.clear();
  // A press and release inside the control's hot spot broadcasts; released outside it does not.
  QWidget* w = control->GetWidget();
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(12, 12));
  EXPECT_EQ(counter.mHeard.size(), 1u);
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(w, QPoint(150, 80));
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(150, 80));
  EXPECT_EQ(counter.mHeard.size(), 1u);
}
