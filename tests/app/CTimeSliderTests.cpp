// The time slider over real movies: mapping at both ends, clicks that jump
// then drag, drags out of the track and back, the keys at exact and inexact
// seconds, shift extending the selection, following playback without echo,
// the bands of tracks written by the control-track code, and the navigation
// menu of a control-click.
#include <QWidget>

#include "app/CMovieView.h"
#include "app/CTimeSlider.h"
#include "motion/CMotionData.h"
#include "platform/files/Bundle.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "app/CMovieViewTestSupport.h"

using namespace PaneTest;

namespace {

class TimeSliderTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  }
  void TearDown() override {
    delete mMovie;
    mMovie = nullptr;
    UiFixture::TearDown();
    UBundle::SetMainBundlePath("");
  }
  // A 5 s movie (50 frames of 0.1 s at scale 600) under a 400-pixel slider at (0, 10).
  CTimeSlider* MakeSlider(int inFrames = 50) {
    mWindow = new LWindow(WindowInfo("Slider", 400, 60));
    mSlider = new CTimeSlider(PaneInfo(2, 0, 10, 400, 36, mWindow), SViewInfo{});
    mWindow->Show();
    mMovie = new CMovie(SolidMovie(inFrames, 16, 12), true);
    mSlider->AttachMovie(mMovie);
    mSlider->SetSliderIcon(reinterpret_cast<Handle>(&mIconToken), false);
    mSlider->AddListener(&mLog);
    return mSlider;
  }
  EventRecord Key(UInt8 inChar, UInt16 inModifiers = 0) {
    EventRecord e;
    e.what = keyDown;
    e.message = inChar;
    e.modifiers = inModifiers;
    return e;
  }
  Point IndicatorPoint() {
    Rect r;
    mSlider->CalcIndicatorRect(r, mSlider->GetValue());
    return Pt(static_cast<SInt16>(r.left + 6), static_cast<SInt16>(r.top + 8));
  }
  void Selection(SInt32& outStart, SInt32& outEnd) { mMovie->GetSelection(&outStart, &outEnd); }

  LWindow* mWindow = nullptr;
  CTimeSlider* mSlider = nullptr;
  CMovie* mMovie = nullptr;
  MessageLog mLog;
  int mIconToken = 0;
};

TEST_F(TimeSliderTest, ValuesAndPositionsMeetAtBothEndsAndShortMoviesStaySane) {
  CTimeSlider* slider = MakeSlider();
  EXPECT_EQ(slider->GetMinValue(), 0);
  EXPECT_EQ(slider->GetMaxValue(), 2999);
  EXPECT_EQ(slider->ValueToPosition(0), 13);
  EXPECT_EQ(slider->ValueToPosition(2999), 388);
  EXPECT_EQ(slider->ValueToPosition(5000), 388);
  EXPECT_EQ(slider->ValueToPosition(-4), 13);
  EXPECT_EQ(slider->ValueToPosition(1500), 13 + 188);  // 375 x 1500 / 2999 = 187.56
  EXPECT_EQ(slider->PositionToValue(13), 0);
  EXPECT_EQ(slider->PositionToValue(388), 2999);
  EXPECT_EQ(slider->PositionToValue(201), 1503);  // 2999 x 188 / 375 = 1503.49
  for (SInt32 v : {0, 8, 700, 2991, 2999}) EXPECT_NEAR(slider->PositionToValue(slider->ValueToPosition(v)), v, 8);
  // A movie deleted while attached is forgotten, not touched.
  delete mMovie;
  slider->Draw(nullptr);
  EXPECT_FALSE(slider->HandleKeyPress(Key(29)));
  // A movie of duration 0: maximum never below minimum, every position the minimum.
  mMovie = new CMovie(NewMovie(newMovieActive), true);
  slider->AttachMovie(mMovie);
  EXPECT_EQ(slider->GetMinValue(), 0);
  EXPECT_EQ(slider->GetMaxValue(), 0);
  EXPECT_EQ(slider->PositionToValue(200), 0);
  EXPECT_EQ(slider->ValueToPosition(0), 388);
  slider->SetValue(7);
  EXPECT_EQ(slider->GetValue(), 0);
  slider->Draw(nullptr);
  slider->DettachMovie();
  EXPECT_EQ(slider->GetMovie(), nullptr);
}

TEST_F(TimeSliderTest, AClickJumpsThenDragsAndDraggingOutSnapsBack) {
  CTimeSlider* slider = MakeSlider();
  // A click at 1/4 of the track jumps there and goes on as a drag.
  const SInt16 quarter = static_cast<SInt16>(13 + 375 / 4);
  mWindow->HandleClick(MouseEvent(quarter, 20), 1);
  EXPECT_TRUE(slider->IsDragging());
  const SInt32 jumped = slider->PositionToValue(quarter);
  EXPECT_EQ(slider->GetValue(), jumped);
  ASSERT_EQ(mLog.Count(msg_SliderTimeSet), 1);
  EXPECT_EQ(mLog.entries.back().value, jumped);
  // Live: every step reports.
  slider->MouseTracked(Pt(static_cast<SInt16>(quarter + 50), 22), 0);
  EXPECT_EQ(slider->GetValue(), slider->PositionToValue(quarter + 50));
  EXPECT_EQ(mLog.Count(msg_SliderTimeSet), 2);
  slider->MouseReleased(Pt(static_cast<SInt16>(quarter + 50), 22), 0);
  EXPECT_FALSE(slider->IsDragging());
  const SInt32 dropped = slider->GetValue();
  // Dragging more than 20 pixels off the track puts the indicator back; releasing there changes nothing.
  Point on = IndicatorPoint();
  mWindow->HandleClick(MouseEvent(on.h, on.v), 1);
  ASSERT_TRUE(slider->IsDragging());
  slider->MouseTracked(Pt(static_cast<SInt16>(on.h + 80), on.v), 0);
  EXPECT_NE(slider->GetValue(), dropped);
  slider->MouseTracked(Pt(static_cast<SInt16>(on.h + 80), static_cast<SInt16>(on.v + 60)), 0);
  EXPECT_EQ(slider->GetValue(), dropped);
  slider->MouseReleased(Pt(static_cast<SInt16>(on.h + 80), static_cast<SInt16>(on.v + 60)), 0);
  EXPECT_EQ(slider->GetValue(), dropped);
  // Dragging with shift selects from where the step started.
  on = IndicatorPoint();
  mWindow->HandleClick(MouseEvent(on.h, on.v), 1);
  slider->MouseTracked(Pt(static_cast<SInt16>(on.h + 40), on.v), shiftKey);
  slider->MouseReleased(Pt(static_cast<SInt16>(on.h + 40), on.v), shiftKey);
  SInt32 start = 0, end = 0;
  Selection(start, end);
  EXPECT_EQ(start, dropped);
  EXPECT_EQ(end, slider->GetValue());
}

TEST_F(TimeSliderTest, KeysGoToWholeSecondsAndInterestingTimes) {
  CTimeSlider* slider = MakeSlider();
  auto at = [&](SInt32 inTime) { mMovie->GotoTime(inTime); };
  at(1500);  // 2.5 s
  EXPECT_TRUE(slider->HandleKeyPress(Key(29, controlKey)));
  EXPECT_EQ(mMovie->GetTimeValue(), 1800);
  EXPECT_TRUE(slider->HandleKeyPress(Key(28, controlKey)));
  EXPECT_EQ(mMovie->GetTimeValue(), 1200);
  at(1500);
  slider->HandleKeyPress(Key(28, controlKey));
  EXPECT_EQ(mMovie->GetTimeValue(), 1200);
  // At the end: the duration, not beyond.
  at(2999);
  slider->HandleKeyPress(Key(29, controlKey));
  EXPECT_EQ(mMovie->GetTimeValue(), 3000);
  // At time 0: control-left and shift variants never go below 0.
  at(0);
  slider->HandleKeyPress(Key(28, controlKey | shiftKey));
  EXPECT_EQ(mMovie->GetTimeValue(), 0);
  SInt32 start = -1, end = -1;
  Selection(start, end);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 0);
  // The plain arrows step by frames (the visual media's interesting times).
  slider->HandleKeyPress(Key(29));
  EXPECT_EQ(mMovie->GetTimeValue(), 60);
  slider->HandleKeyPress(Key(28));
  EXPECT_EQ(mMovie->GetTimeValue(), 0);
  // End and home.
  slider->HandleKeyPress(Key(4));
  EXPECT_EQ(mMovie->GetTimeValue(), 3000);
  slider->HandleKeyPress(Key(1));
  EXPECT_EQ(mMovie->GetTimeValue(), 0);
  // Option: the next of the interesting times (0, the duration, the selection's edges).
  mMovie->SetSelectionStart(900);
  mMovie->SetSelectionStop(2100);
  at(1000);
  slider->HandleKeyPress(Key(29, optionKey));
  EXPECT_EQ(mMovie->GetTimeValue(), 2100);
  slider->HandleKeyPress(Key(28, optionKey));
  EXPECT_EQ(mMovie->GetTimeValue(), 900);
  // Other keys are the framework's.
  EXPECT_FALSE(slider->HandleKeyPress(Key('x')));
}

TEST_F(TimeSliderTest, ShiftArrowsExtendTheSelectionByTheNearerEdge) {
  CTimeSlider* slider = MakeSlider();
  mMovie->GotoTime(1500);
  slider->HandleKeyPress(Key(29, controlKey | shiftKey));
  SInt32 start = 0, end = 0;
  Selection(start, end);
  EXPECT_EQ(start, 1500);
  EXPECT_EQ(end, 1800);
  // The end is nearer the old time: only the end moves.
  mMovie->SetSelectionStart(600);
  mMovie->SetSelectionStop(1600);
  mMovie->GotoTime(1500);
  slider->HandleKeyPress(Key(29, controlKey | shiftKey));
  Selection(start, end);
  EXPECT_EQ(start, 600);
  EXPECT_EQ(end, 1800);
  // The start is nearer: it moves.
  mMovie->GotoTime(700);
  slider->HandleKeyPress(Key(28, controlKey | shiftKey));
  Selection(start, end);
  EXPECT_EQ(start, 600);
  EXPECT_EQ(end, 1800);
  mMovie->GotoTime(700);
  slider->HandleKeyPress(Key(29, controlKey | shiftKey));
  Selection(start, end);
  EXPECT_EQ(start, 1200);
  EXPECT_EQ(end, 1800);
  // Equally near both edges: neither moves.
  mMovie->SetSelectionStart(1200);
  mMovie->SetSelectionStop(2400);
  mMovie->GotoTime(1800);
  slider->HandleKeyPress(Key(29, controlKey | shiftKey));
  Selection(start, end);
  EXPECT_EQ(start, 1200);
  EXPECT_EQ(end, 2400);
}

TEST_F(TimeSliderTest, FollowsTheMovieWithoutEchoAndAnswersSelectCommands) {
  CTimeSlider* slider = MakeSlider();
  mMovie->GotoTime(1200);
  EXPECT_EQ(slider->GetValue(), 1200);
  mMovie->StartPlaying(false);
  UiTest::Pump(200);
  mMovie->StopPlaying();
  EXPECT_EQ(slider->GetValue(), mMovie->GetTimeValue());
  EXPECT_EQ(mLog.Count(msg_SliderTimeSet), 0);
  // The user's own change still reports.
  slider->SetValue(300);
  EXPECT_EQ(mLog.Count(msg_SliderTimeSet), 1);
  Boolean enabled = false, usesMark = false;
  UInt16 mark = 0;
  Str255 name;
  slider->FindCommandStatus(cmd_SelectNone, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
  slider->FindCommandStatus(cmd_SelectAll, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  slider->ObeyCommand(cmd_SelectAll, nullptr);
  slider->FindCommandStatus(cmd_SelectAll, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
  slider->FindCommandStatus(cmd_SelectNone, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  slider->ObeyCommand(cmd_SelectNone, nullptr);
  SInt32 start = -1, end = -1;
  mMovie->GetSelection(&start, &end);
  EXPECT_EQ(end - start, 0);
  slider->DettachMovie();
  slider->FindCommandStatus(cmd_SelectAll, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
}

TEST_F(TimeSliderTest, BandsShowWhereTheTracksAndTheSelectionAre) {
  CTimeSlider* slider = MakeSlider();
  const Rect bounds = {0, 0, 12, 16};
  // Motion data over 0.5..2.5 s, the control track over 1..4 s.
  ASSERT_NE(AddCorrectionTrack(mMovie->GetMovie(), bounds, 300, 1500, 60, kMotionTrackLayer), nullptr);
  ASSERT_NE(AddCorrectionTrack(mMovie->GetMovie(), bounds, 600, 2400, 60), nullptr);
  mMovie->SetSelectionStart(1800);
  mMovie->SetSelectionStop(2700);
  slider->Refresh();
  slider->Draw(nullptr);
  Rect track;
  slider->CalcTrackRect(track);
  auto px = [&](SInt32 inTime, SInt32 inRow) { return PortPixel(mWindow, slider->ValueToPosition(inTime), track.top + inRow); };
  const RGB8 plain = px(150, 3);
  // Motion rows (top + 1 .. + 5): blue kept, red and green darkened.
  const RGB8 motion = px(450, 3);  // 0.75 s
  EXPECT_LT(motion.r, plain.r);
  EXPECT_EQ(motion.b, plain.b);
  EXPECT_EQ(px(450, 7), plain);  // the control track starts at 1 s
  // Control rows (top + 5 .. + 9): green kept.
  const RGB8 control = px(1200, 7);
  EXPECT_LT(control.r, plain.r);
  EXPECT_EQ(control.g, plain.g);
  EXPECT_EQ(px(1200, 3), motion);  // both bands at 2 s
  EXPECT_EQ(px(1680, 3), plain);   // motion data ends at 2.5 s
  EXPECT_EQ(px(1680, 7), control);
  // The selection band darkens every channel below the track rows.
  const RGB8 selected = px(2600, 12);
  EXPECT_LT(selected.r, plain.r);
  EXPECT_LT(selected.b, plain.b);
  EXPECT_EQ(px(2900, 12), px(150, 12));
  mMovie->GotoTime(1200);
  slider->Refresh();
  slider->Draw(nullptr);
  UiTest::Screenshot(mWindow->GetFrameWidget(), "timeslider_bands_selection");
}

}  // namespace

TEST_F(TimeSliderTest, ControlClickPopsTheNavigationMenuBelowTheClickAndReportsTheChoice) {
  MakeSlider();
  struct Filler : LListener {
    void ListenToMessage(MessageT inMessage, void* ioParam) override {
      if (inMessage != msg_NavigationMenuOpens) return;
      for (const char* item : items) static_cast<LMenu*>(ioParam)->AppendItem(item);
    }
    std::vector<const char*> items{"Start", "End", "Selection"};
  } filler;
  mSlider->AddListener(&filler);
  const SInt32 time = mSlider->GetValue();
  UResponder::Script(question_PopupMenu, SAnswer::Choice(3));
  mWindow->HandleClick(MouseEvent(150, 20, controlKey), 1);
  // A menu, not a jump of the indicator.
  EXPECT_FALSE(mSlider->IsDragging());
  EXPECT_EQ(mSlider->GetValue(), time);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return mLog.Count(msg_NavigationMenuChosen) == 1; }));
  EXPECT_EQ(mLog.entries.back().value, 3);
  const SQuestion asked = UResponder::GetLog().back();
  EXPECT_EQ(asked.kind, question_PopupMenu);
  EXPECT_EQ(asked.choices, (std::vector<std::string>{"Start", "End", "Selection"}));
  EXPECT_EQ(asked.parent, mWindow);
  const Rect global = mWindow->GetGlobalBounds();
  EXPECT_EQ(asked.where.h, global.left + 150);
  EXPECT_EQ(asked.where.v, global.top + 20 + 4);

  // A dismissed menu reports nothing; an empty one does not pop up at all.
  UResponder::Script(question_PopupMenu, SAnswer::Cancel());
  mWindow->HandleClick(MouseEvent(150, 20, controlKey), 1);
  UiTest::PumpUntil([] { return UResponder::CountScripted() == 0; });
  UiTest::Pump(20);
  EXPECT_EQ(mLog.Count(msg_NavigationMenuChosen), 1);
  filler.items.clear();
  const size_t asks = UResponder::GetLog().size();
  mWindow->HandleClick(MouseEvent(150, 20, controlKey), 1);
  UiTest::Pump(20);
  EXPECT_EQ(UResponder::GetLog().size(), asks);
  mSlider->RemoveListener(&filler);
}
