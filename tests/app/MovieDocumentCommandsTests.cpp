// The movie document's commands, keys, messages and procedures on a real
// document window: command status with and without a running task, motion
// data and a selection; the play keys and the rate popup; the time-code
// field; in and out points; and a document destroyed while its task runs.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/CMovieDocument.h"
#include "app/MovieDocumentTestSupport.h"
#include "media/CMovieTask.h"
#include "media/UMovies.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/files/Scrap.h"
#include "platform/framework/LThread.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "toolkit/CRegularWindow.h"

using namespace movie_document_testing;

namespace {

// A task that waits until it is told to stop.
class CIdleTask : public CMovieTask {
 public:
  explicit CIdleTask(CMovieTaskDocument* inDocument) : CMovieTask(inDocument) {}

 protected:
  void* Run() override {
    while (!HasUserCanceled()) LThread::Yield();
    return nullptr;
  }
};

struct EndCounter : LListener {
  int heard = 0;
  void ListenToMessage(MessageT inMessage, void*) override { heard += inMessage == msg_MotionAnalysisEnded; }
};

class MovieDocumentCommandsTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    UScrap::Reset();
    WriteQuickTimeMovie(Path("m.mov"), 96, 64, 30);
    mDoc = Open("m.mov");
  }
  void TearDown() override {
    mDoc = nullptr;
    UScrap::Reset();
    DocumentFixture::TearDown();
  }
  Boolean Enabled(CommandT inCommand, UInt16* outMark = nullptr, std::string* outName = nullptr) {
    Boolean enabled = false, usesMark = false;
    UInt16 mark = 0;
    Str255 name = {0};
    mDoc->FindCommandStatus(inCommand, enabled, usesMark, mark, name);
    if (outMark) *outMark = usesMark ? mark : 0xFFFF;
    if (outName) *outName = std::string(reinterpret_cast<char*>(name + 1), name[0]);
    return enabled;
  }
  Boolean Key(UInt16 inChar, UInt16 inModifiers = 0) {
    EventRecord e;
    e.what = keyDown;
    e.message = inChar;
    e.modifiers = inModifiers;
    return mDoc->HandleKeyPress(e);
  }
  SInt32 Rate() const { return mDoc->GetPlayRatePopup()->GetValue(); }
  CMovie* Movie_() const { return mDoc->GetMovie(); }
  void AddMotionData() {
    TArray<DiffMotionData> records;
    for (SInt32 k = 0; k < 30; ++k) {
      DiffMotionData r{};
      r.version = kMotionDataVersion;
      r.quality = 1.0f;
      r.scale = 1.0f;
      r.time = k * 20;
      r.duration = 20;
      records.AddItem(r);
    }
    Rect bounds;
    Movie_()->GetEncodedBounds(bounds);
    Track track = nullptr;
    ASSERT_EQ(CMotionTrackerTask::WriteMotionDataTrack(Movie_()->GetMovie(), bounds, records, 2, 0, 0, 0, &track),
              noErr);
  }
  CMovieDocument* mDoc = nullptr;
};

TEST_F(MovieDocumentCommandsTest, CommandStatusFollowsTheSelectionTheDataAndTheSession) {
  // Nothing selected: no cut, copy or clear; nothing on the clipboard: no paste.
  EXPECT_FALSE(Enabled(cmd_Cut));
  EXPECT_FALSE(Enabled(cmd_Copy));
  EXPECT_FALSE(Enabled(cmd_Clear));
  EXPECT_FALSE(Enabled(cmd_Paste));
  Movie_()->SetSelectionStart(100);
  Movie_()->SetSelectionStop(300);
  EXPECT_TRUE(Enabled(cmd_Cut));
  EXPECT_TRUE(Enabled(cmd_Clear));
  ASSERT_TRUE(Enabled(cmd_Copy));
  mDoc->ProcessCommand(cmd_Copy);
  EXPECT_TRUE(Enabled(cmd_Paste));
  // Never: page setup and print.
  EXPECT_FALSE(Enabled(cmd_PageSetup));
  EXPECT_FALSE(Enabled(cmd_Print));
  // The sizes: always, the check on actual size.
  for (CommandT c = cmd_HalfSize8; c <= cmd_DoubleSize8; ++c) {
    UInt16 mark = 0;
    EXPECT_TRUE(Enabled(c, &mark));
    EXPECT_EQ(mark, c == cmd_ActualSize ? checkMark : noMark);
  }
  for (CommandT c : {cmd_MovieTitles, cmd_MovieInfo, cmd_TracksSheet, cmd_MovieSize, cmd_MovieFormat,
                     cmd_AnalyseAuto, cmd_AnalyseBorder, cmd_ExportTween, cmd_ExportMovie, cmd_SaveAs, cmd_Close})
    EXPECT_TRUE(Enabled(c)) << c;
  UInt16 mark = 0;
  EXPECT_TRUE(Enabled(cmd_Preview, &mark));
  EXPECT_EQ(mark, noMark);
  EXPECT_TRUE(Enabled(cmd_RegionOfInterest, &mark));
  EXPECT_EQ(mark, noMark);
  mDoc->ProcessCommand(cmd_RegionOfInterest);
  EXPECT_TRUE(Enabled(cmd_RegionOfInterest, &mark));
  EXPECT_EQ(mark, checkMark);
  EXPECT_TRUE(mDoc->GetDrawingOptions() & kDrawRegionOfInterest);
  // Without motion data there is nothing to edit; without a session nothing to apply.
  std::string name;
  EXPECT_FALSE(Enabled(cmd_EditStabilization, nullptr, &name));
  EXPECT_EQ(name, "Edit Stabilisation");
  EXPECT_FALSE(Enabled(cmd_ApplySession, nullptr, &name));
  EXPECT_EQ(name, "End Edit Session");
  EXPECT_FALSE(Enabled(cmd_CancelSession));
  EXPECT_FALSE(Enabled(cmd_EditControlTrack));
  AddMotionData();
  EXPECT_TRUE(Enabled(cmd_EditStabilization));
  // Unmodified and saved: save and revert have nothing to do. The motion
  // data lives in memory: the movie is no longer savable in place, but
  // the file it came from can still be gone back to.
  mDoc->SetModified(false);
  EXPECT_FALSE(Enabled(cmd_Revert));
  mDoc->SetModified(true);
  EXPECT_TRUE(Enabled(cmd_Save));
  EXPECT_TRUE(Enabled(cmd_Revert));
}

TEST_F(MovieDocumentCommandsTest, WhileATaskRunsNothingThatChangesTheMovieIsEnabledOrDone) {
  AddMotionData();
  Movie_()->SetSelectionStart(100);
  Movie_()->SetSelectionStop(300);
  mDoc->ProcessCommand(cmd_Copy);
  mDoc->SetModified(true);
  auto* task = new CIdleTask(mDoc);
  ASSERT_EQ(mDoc->BeginTask(task), noErr);
  ASSERT_TRUE(mDoc->IsTaskRunning());
  for (CommandT c : {cmd_Close, cmd_Save, cmd_SaveAs, cmd_Revert, cmd_Print, cmd_Undo, cmd_Redo, cmd_Cut, cmd_Paste,
                     cmd_Clear, cmd_TracksSheet, cmd_MovieSize, cmd_MovieFormat, cmd_AnalyseAuto, cmd_AnalyseBorder,
                     cmd_EditStabilization, cmd_ApplySession, cmd_EditControlTrack, cmd_CancelSession,
                     cmd_ExportMovie, cmd_ExportTween})
    EXPECT_FALSE(Enabled(c)) << c;
  // Undo is held back before the undoer sees it.
  Boolean enabled = true, usesMark = false;
  UInt16 mark = 0;
  Str255 name = {0};
  mDoc->ProcessCommandStatus(cmd_Undo, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
  // A command that arrives anyway changes nothing.
  const SInt32 duration = Movie_()->GetDuration();
  mDoc->ProcessCommand(cmd_Cut);
  mDoc->ProcessCommand(cmd_Clear);
  mDoc->ProcessCommand(cmd_Paste);
  EXPECT_EQ(Movie_()->GetDuration(), duration);
  // Ended: the commands come back.
  ASSERT_EQ(mDoc->EndTask(task), noErr);
  task->DeleteThread();
  EXPECT_TRUE(Enabled(cmd_Cut));
  EXPECT_TRUE(Enabled(cmd_EditStabilization));
  mDoc->ProcessCommand(cmd_Cut);
  EXPECT_LT(Movie_()->GetDuration(), duration);
  mDoc->SetModified(false);
}

TEST_F(MovieDocumentCommandsTest, ADocumentDestroyedWhileItsTaskRunsHearsNoEndMessage) {
  auto* task = new CIdleTask(mDoc);
  EndCounter other;
  task->AddListener(&other);
  task->SetEndMessage(msg_MotionAnalysisEnded);
  ASSERT_EQ(mDoc->BeginTask(task), noErr);
  // A second task is refused while the first runs.
  auto* second = new CIdleTask(mDoc);
  EXPECT_EQ(mDoc->BeginTask(second), paramErr);
  EXPECT_EQ(mDoc->GetRunningTask(), task);
  // Pending procedures of the document do not run on a document going away.
  mDoc->PostProcedure(proc_DocClose, nullptr, 0);
  mDoc->PostProcedure(proc_AskSaveAs, nullptr, 0);
  delete mDoc;  // no question may be asked, nothing may touch the document after this
  mDoc = nullptr;
  Pump(50);
  EXPECT_EQ(other.heard, 0);
  EXPECT_EQ(CSingleDocument::GetDocTester().CountDocuments(), 0);
}

TEST_F(MovieDocumentCommandsTest, ATaskGetsItsProgressSheetOnTheVisibleWindow) {
  auto* task = new CInterlaceTrackerTask(mDoc, true);
  ASSERT_NE(task->GetProgressView(), nullptr);
  EXPECT_NE(mDoc->GetWindow()->GetCurrentSheet(), nullptr);
  task->DeleteThread();
  Pump(30);
  EXPECT_EQ(mDoc->GetWindow()->GetCurrentSheet(), nullptr);
  mDoc->GetWindow()->Hide();
  task = new CInterlaceTrackerTask(mDoc, true);
  EXPECT_EQ(task->GetProgressView(), nullptr);
  task->DeleteThread();
}

TEST_F(MovieDocumentCommandsTest, PlayKeysAndTheRatePopup) {
  ASSERT_EQ(Rate(), 11);  // 100 %
  EXPECT_TRUE(Key(' '));
  EXPECT_TRUE(Movie_()->IsPlaying());
  EXPECT_TRUE(Key(' '));
  EXPECT_FALSE(Movie_()->IsPlaying());
  // 'l' starts forward at 10 % and steps up to 1000 %, where it stays.
  Key('l');
  EXPECT_TRUE(Movie_()->IsPlaying());
  EXPECT_EQ(Movie_()->GetPlayRate(), 10);
  std::vector<SInt32> rates;
  for (int i = 0; i < 8; ++i) {
    Key('l');
    rates.push_back(Movie_()->GetPlayRate());
  }
  EXPECT_EQ(rates, (std::vector<SInt32>{20, 50, 100, 200, 500, 1000, 1000, 1000}));
  // 'j' steps down again; at 10 % it stops.
  while (Rate() > 8) Key('j');
  EXPECT_EQ(Movie_()->GetPlayRate(), 10);
  EXPECT_TRUE(Movie_()->IsPlaying());
  Key('j');
  EXPECT_FALSE(Movie_()->IsPlaying());
  // 'j' when stopped: backwards at 10 %; 'l' at -10 % stops.
  Key('j');
  EXPECT_TRUE(Movie_()->IsPlaying());
  EXPECT_EQ(Movie_()->GetPlayRate(), -10);
  Key('l');
  EXPECT_FALSE(Movie_()->IsPlaying());
  // 'k' plays and stops.
  Key('k');
  EXPECT_TRUE(Movie_()->IsPlaying());
  Key('k');
  EXPECT_FALSE(Movie_()->IsPlaying());
  // The popup sets the movie's rate.
  for (SInt32 item = 1; item <= kPlayRateCount; ++item) {
    mDoc->GetPlayRatePopup()->ChooseItem(item);
    EXPECT_EQ(Movie_()->GetPlayRate(), kPlayRates[item - 1]);
  }
}

TEST_F(MovieDocumentCommandsTest, SelectionKeysAndInAndOutPoints) {
  Movie_()->SetSelectionStart(100);
  Movie_()->SetSelectionStop(300);
  Key(30);  // up arrow
  EXPECT_EQ(Movie_()->GetTimeValue(), 100);
  Key(31);  // down arrow
  EXPECT_EQ(Movie_()->GetTimeValue(), 300);
  Key('I');
  EXPECT_EQ(Movie_()->GetTimeValue(), 100);
  Key('O');
  EXPECT_EQ(Movie_()->GetTimeValue(), 300);
  // An in point after the selection's end moves both ends there.
  Movie_()->GotoTime(400);
  Key('i');
  SInt32 start = 0, stop = 0;
  Movie_()->GetSelection(&start, &stop);
  EXPECT_EQ(start, 400);
  EXPECT_EQ(stop, 400);
  // An out point before the start moves both ends there.
  Movie_()->GotoTime(40);
  Key('o');
  Movie_()->GetSelection(&start, &stop);
  EXPECT_EQ(start, 40);
  EXPECT_EQ(stop, 40);
  Movie_()->GotoTime(200);
  Key('o');
  Movie_()->GetSelection(&start, &stop);
  EXPECT_EQ(start, 40);
  EXPECT_EQ(stop, 200);
  // The step buttons move one frame.
  Movie_()->GotoTime(200);
  mDoc->ListenToMessage(msg_StepForward, nullptr);
  EXPECT_EQ(Movie_()->GetTimeValue(), 220);
  mDoc->ListenToMessage(msg_StepBack, nullptr);
  EXPECT_EQ(Movie_()->GetTimeValue(), 200);
}

TEST_F(MovieDocumentCommandsTest, TheTimeCodeFieldTakesATimeAndGivesTheKeyboardBack) {
  // Return outside the field (no session) gives the field the keyboard.
  mDoc->TargetTimeSlider();
  EXPECT_TRUE(Key(13));
  ASSERT_TRUE(mDoc->IsTimeFieldTarget());
  // The field's filter: digits and separators only.
  EXPECT_TRUE(Key('x'));
  const int beeps = UAlertResponder::GetBeepCount();
  EXPECT_GE(beeps, 1);
  // A time beyond the end goes to the last time unit; the slider takes the keyboard.
  LStr255 text;
  UMovies::GetTimeCode(Movie_(), Movie_()->GetDuration() + 6000, text);
  mDoc->GetTimeField()->SetText(std::string(text.ConstTextPtr(), text.Length()));
  EXPECT_TRUE(Key(13));
  EXPECT_EQ(Movie_()->GetTimeValue(), Movie_()->GetDuration() - 1);
  EXPECT_FALSE(mDoc->IsTimeFieldTarget());
  EXPECT_TRUE(mDoc->GetTimeSlider()->IsTarget());
  // Tab enters the field, Escape leaves it without going anywhere.
  EXPECT_TRUE(Key(9));
  EXPECT_TRUE(mDoc->IsTimeFieldTarget());
  mDoc->GetTimeField()->SetText("0");
  EXPECT_TRUE(Key(27));
  EXPECT_FALSE(mDoc->IsTimeFieldTarget());
  EXPECT_EQ(Movie_()->GetTimeValue(), Movie_()->GetDuration() - 1);
  // Enter in the field, like Return.
  Key(9);
  mDoc->GetTimeField()->SetText("0");
  EXPECT_TRUE(Key(3));
  EXPECT_EQ(Movie_()->GetTimeValue(), 0);
}

TEST_F(MovieDocumentCommandsTest, ProceduresAndSizesResizeTheWindow) {
  SInt32 w = 0, h = 0;
  mDoc->ProcessCommand(cmd_DoubleSize8 - 1);  // scale 4
  mDoc->CalcBestWindowSize(4.0f, w, h);
  SDimension16 size;
  mDoc->GetWindow()->GetFrameSize(size);
  EXPECT_EQ(size.width, w);
  EXPECT_EQ(size.height, h);
  const SInt32 asked[2] = {500, 400};
  mDoc->PostProcedure(proc_ResizeWindow, asked, sizeof asked);
  ASSERT_TRUE(PumpUntil([&] { return mDoc->CountQueued() == 0; }));
  mDoc->GetWindow()->GetFrameSize(size);
  EXPECT_EQ(size.width, 500);
  EXPECT_EQ(size.height, 400);
  // The toolbar hides and shows, the window following by its height.
  SDimension16 bar;
  mDoc->GetToolbar()->GetFrameSize(bar);
  mDoc->ListenToMessage(msg_ToggleToolbar, nullptr);
  EXPECT_FALSE(mDoc->GetToolbar()->IsVisible());
  mDoc->GetWindow()->GetFrameSize(size);
  EXPECT_EQ(size.height, 400 - bar.height);
  mDoc->GetWindow()->ClickToolbarButton();
  EXPECT_TRUE(mDoc->GetToolbar()->IsVisible());
  mDoc->GetWindow()->GetFrameSize(size);
  EXPECT_EQ(size.height, 400);
}

}  // namespace
