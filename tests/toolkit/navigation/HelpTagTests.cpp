#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <memory>

#include "NavTestFixture.h"
#include "platform/base/Clock.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UHelpTag.h"
#include "platform/ui/UReanimator.h"
#include "toolkit/LMouseHelpTracker.h"

namespace {

class HelpTagTest : public NavTestFixture {
 protected:
  void SetUp() override {
    NavTestFixture::SetUp();
    mClock = std::make_unique<StManualClock>();
    mTracker = std::make_unique<LMouseHelpTracker>();
    mControls = UReanimator::CreateWindow(9101, &mApp);
    mControls->Show();
    mBounds = mControls->GetGlobalBounds();
  }
  void TearDown() override {
    UHelpTag::ClearMouse();
    mTracker.reset();
    mClock.reset();
    NavTestFixture::TearDown();
  }
  // The mouse at a point of the controls window, then one pass of the tracker.
  void MouseAt(SInt16 inH, SInt16 inV, bool inDown = false) {
    UHelpTag::SetMouse(Point{static_cast<SInt16>(mBounds.top + inV), static_cast<SInt16>(mBounds.left + inH)}, inDown);
    Pass();
  }
  void Pass(UInt32 inTicks = 6) {
    UClock::AdvanceTicks(inTicks);
    EventRecord null;
    mTracker->SpendTime(null);
  }
  std::string TagText() {
    auto* text = dynamic_cast<LStaticText*>(mTracker->GetHelpWindow()->FindPaneByID(kHelpTagTextPane));
    return UHelpTag::IsShown() && text ? text->GetText() : std::string();
  }

  std::unique_ptr<StManualClock> mClock;
  std::unique_ptr<LMouseHelpTracker> mTracker;
  LWindow* mControls = nullptr;
  Rect mBounds = {0, 0, 0, 0};
};

}  // namespace

// Resting over a pane shows its tag after a second, under and right of the
// mouse; moving to another pane while it shows replaces the text at once.
TEST_F(HelpTagTest, TheTagOfThePaneUnderTheMouseShowsAfterASecond) {
  EXPECT_EQ(LMouseHelpTracker::GetHelpText(1203), "Steadies the picture.");
  EXPECT_EQ(LMouseHelpTracker::GetHelpText(1299), "");
  MouseAt(20, 60);  // pane 10, help id 1203
  EXPECT_TRUE(mTracker->IsShowPending());
  for (int i = 0; i < 9; ++i) Pass();  // 54 ticks: not yet
  EXPECT_FALSE(UHelpTag::IsShown());
  Pass(7);
  ASSERT_TRUE(UHelpTag::IsShown());
  EXPECT_EQ(TagText(), "Steadies the picture.");
  EXPECT_EQ(UHelpTag::GetText(), "Steadies the picture.");
  Rect tag = mTracker->GetHelpWindow()->GetGlobalBounds();
  EXPECT_EQ(tag.left, mBounds.left + 20 + 4);
  EXPECT_EQ(tag.top, mBounds.top + 60 + 20);
  EXPECT_EQ(UHelpTag::GetWidget()->geometry().topLeft(), QPoint(tag.left, tag.top));
  UiTest::Screenshot(UHelpTag::GetWidget(), "help-tag");

  MouseAt(130, 60);  // pane 11, help id 1201
  MouseAt(131, 61);
  EXPECT_EQ(TagText(), "Plays the movie.");
}

// Disabled panes and panes without help show nothing; leaving a pane fades
// the tag out (after half a second, ten steps); a click hides it at once.
TEST_F(HelpTagTest, LeavingFadesTheTagAndAClickHidesItAtOnce) {
  MouseAt(240, 60);  // the disabled button with help id 1202
  for (int i = 0; i < 15; ++i) Pass();
  EXPECT_FALSE(UHelpTag::IsShown());

  MouseAt(20, 60);
  Pass(61);
  ASSERT_TRUE(UHelpTag::IsShown());
  MouseAt(20, 110);  // pane 13: no help
  EXPECT_TRUE(mTracker->IsHidePending());
  Pass(31);
  EXPECT_FLOAT_EQ(mTracker->GetFadeAlpha(), 1.0f);
  int steps = 0;
  while (UHelpTag::IsShown() && steps < 20) {
    Pass();
    ++steps;
  }
  EXPECT_EQ(steps, 10);
  EXPECT_FALSE(UHelpTag::IsShown());

  MouseAt(20, 60);
  Pass(61);
  ASSERT_TRUE(UHelpTag::IsShown());
  MouseAt(20, 60, true);
  EXPECT_FALSE(UHelpTag::IsShown());
  EXPECT_FLOAT_EQ(mTracker->GetFadeAlpha(), 0.0f);
}

// The window of the pane under the mouse closes while its tag shows: the
// tracker never touches the pane again, and a click after it is harmless.
TEST_F(HelpTagTest, AClosedWindowLeavesNoDeadPaneBehind) {
  MouseAt(20, 60);
  Pass(61);
  ASSERT_TRUE(UHelpTag::IsShown());
  delete mControls;
  mControls = nullptr;
  EXPECT_EQ(LPane::sLastPaneMoused, nullptr);
  Pass();
  Pass(31);
  EventRecord click;
  click.what = mouseDown;
  mTracker->Execute(msg_Event, &click);
  EXPECT_FALSE(UHelpTag::IsShown());
  // Nothing moused at all.
  UHelpTag::SetMouse(Point{-500, -500}, false);
  Pass();
  mTracker->Execute(msg_Event, &click);
  EXPECT_EQ(LPane::sLastPaneMoused, nullptr);
}
