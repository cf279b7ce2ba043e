#include <gtest/gtest.h>

#include <cstring>

#include "support/movies/RawMovie.h"
#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CMovieTask.h"
#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/Scrap.h"
#include "platform/framework/LCommander.h"
#include "platform/ui/UResponder.h"
#include "toolkit/CReUndoer.h"

namespace {

// A movie of `frames` 2x2 raw frames of 10 units at time scale 100; frame k
// has the red value k, so the frame order tells which frames are where.
Movie NumberedMovie(int inFrames, int inFirst = 0) {
  testmovies::RawMovieOptions options;
  options.timeScale = 100;
  options.frameDuration = 10;
  return testmovies::MakeRawMovie(
      2, 2, inFrames,
      [inFirst](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
        std::memset(outPixels, 0, 2 * inRowBytes);
        for (int p = 0; p < 4; ++p) outPixels[4 * p + 1] = static_cast<UInt8>(inFirst + k);
      },
      options);
}

// The red value of every frame, in movie order.
std::vector<int> FrameValues(Movie inMovie) {
  std::vector<int> out;
  Track t = GetMovieIndTrack(inMovie, 1);
  if (!t) return out;
  Media media = GetTrackMedia(t);
  Handle h = NewHandle(0);
  for (TimeValue time = 0; time < GetMovieDuration(inMovie); time += 10) {
    const TimeValue mt = TrackTimeToMediaTime(time, t);
    SInt32 size = 0;
    if (mt >= 0 && GetMediaSample(media, h, 0, &size, mt, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr) == noErr)
      out.push_back(static_cast<UInt8>((*h)[1]));
  }
  DisposeHandle(h);
  return out;
}

std::string Description(const CMovieAction& inAction) {
  Str255 redo, undo;
  inAction.GetDescription(redo, undo);
  return std::string(reinterpret_cast<const char*>(undo + 1), undo[0]);
}

struct Edits : ::testing::Test {
  void SetUp() override {
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    UScrap::Reset();
  }
  void TearDown() override {
    UScrap::Reset();
    UBundle::SetMainBundlePath("");
  }
};

struct Document : CMovieTaskDocument {
  CMovie* movie = nullptr;
  std::vector<MessageT> heard;
  std::vector<void*> params;
  CMovie* GetTaskMovie() override { return movie; }
  void PostAction(CMovieAction* inAction) override { delete inAction; }
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    heard.push_back(inMessage);
    params.push_back(ioParam);
  }
};

struct EmptyTask : CMovieTask {
  using CMovieTask::CMovieTask;
  void* Run() override { return nullptr; }
};

}  // namespace

// Cut: the selection leaves the movie and goes to the scrap; undo brings it
// back and leaves the scrap; redo cuts again by edit state.
TEST_F(Edits, CutUndoRedoAndTheScrap) {
  CMovie movie(NumberedMovie(6), true);
  movie.SetSelectionStart(20);
  movie.SetSelectionStop(40);
  auto cut = std::make_unique<CMovieAction_Cut>(&movie);
  EXPECT_EQ(Description(*cut), "Undo Cut");
  EXPECT_FALSE(cut->IsPostable());
  cut->Redo();
  EXPECT_TRUE(cut->IsPostable());
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 4, 5}));
  Movie scrap = NewMovieFromScrap(newMovieActive);
  ASSERT_NE(scrap, nullptr);
  EXPECT_EQ(FrameValues(scrap), (std::vector<int>{2, 3}));
  DisposeMovie(scrap);
  ASSERT_TRUE(cut->CanUndo());
  EXPECT_FALSE(cut->CanRedo());
  cut->Undo();
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  UScrap::Reset();
  cut->Redo();
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 4, 5}));
  EXPECT_EQ(NewMovieFromScrap(newMovieActive), nullptr);  // the redo did not touch the scrap
  cut->Undo();
  EXPECT_EQ(FrameValues(movie.GetMovie()).size(), 6u);
}

// Paste inserts the scrap at the movie time of the action's making, not over
// the selection; undo and redo switch. A scrap without a movie makes the
// first redo fail: nothing changes and the action is not kept.
TEST_F(Edits, PasteAtTheTimeAndFailsVisiblyWithoutAScrap) {
  CMovie movie(NumberedMovie(4), true);
  {
    Movie source = NumberedMovie(2, 100);
    ASSERT_EQ(PutMovieOnScrap(source, 0), noErr);
    DisposeMovie(source);
  }
  movie.GotoTime(10);
  movie.SetSelectionStart(20);
  movie.SetSelectionStop(40);
  CMovieAction_Paste paste(&movie);
  EXPECT_EQ(Description(paste), "Undo Paste");
  paste.Redo();
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 100, 101, 1, 2, 3}));
  SInt32 s = 0, e = 0;
  paste.GetSelection(s, e);
  EXPECT_EQ(s, 10);
  EXPECT_EQ(e, 30);
  paste.Undo();
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 2, 3}));
  paste.Redo();
  EXPECT_EQ(FrameValues(movie.GetMovie()).size(), 6u);

  UScrap::Reset();
  CMovie other(NumberedMovie(3), true);
  CMovieAction_Paste empty(&other);
  EXPECT_THROW(empty.Redo(), LException);
  EXPECT_FALSE(empty.IsPostable());
  EXPECT_FALSE(empty.IsDone());
  EXPECT_FALSE(empty.CanUndo());
  EXPECT_EQ(FrameValues(other.GetMovie()).size(), 3u);
}

// Clear cuts without the scrap; an action without a before-state cannot be undone.
TEST_F(Edits, ClearKeepsTheScrapAndNilStatesCannotUndo) {
  CMovie movie(NumberedMovie(5), true);
  movie.SetSelectionStart(0);
  movie.SetSelectionStop(20);
  CMovieAction_Clear clear(&movie);
  EXPECT_EQ(Description(clear), "Undo Clear");
  clear.Redo();
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(NewMovieFromScrap(newMovieActive), nullptr);
  clear.Undo();
  EXPECT_EQ(FrameValues(movie.GetMovie()).size(), 5u);
  clear.Redo();
  EXPECT_EQ(FrameValues(movie.GetMovie()).size(), 3u);

  CMovieAction adopted(&movie, nullptr, STRx_MovieEdits, kMovieEditMotionData);
  EXPECT_EQ(Description(adopted), "Undo Motion Analysis");
  adopted.Redo();
  EXPECT_TRUE(adopted.IsDone());
  EXPECT_FALSE(adopted.CanUndo());
  EXPECT_THROW(CMovieAction(nullptr, STRx_MovieEdits, 1), LException);
}

// Movie edits go through a document's undoer like any action: it performs
// the first redo, Undo and Redo toggle the edit states, and a paste that
// fails (no movie on the scrap) is dropped with an alert while the earlier
// edit stays undoable.
TEST_F(Edits, TheUndoerTakesMovieEditsLikeAnyAction) {
  UResponder::Reset();
  CMovie movie(NumberedMovie(6), true);
  LCommander app;
  LCommander doc(&app);
  auto* undoer = new CReUndoer;
  doc.AddAttachment(undoer);
  movie.SetSelectionStart(20);
  movie.SetSelectionStop(40);
  doc.PostAction(new CMovieAction_Cut(&movie));
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 4, 5}));
  ASSERT_NE(undoer->GetAction(), nullptr);
  EXPECT_TRUE(doc.ProcessCommand(cmd_Undo));
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(doc.ProcessCommand(cmd_Redo));
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 4, 5}));

  UScrap::Reset();
  LAction* held = undoer->GetAction();
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  EXPECT_NO_THROW(doc.PostAction(new CMovieAction_Paste(&movie)));
  EXPECT_EQ(undoer->GetAction(), held);
  EXPECT_EQ(FrameValues(movie.GetMovie()), (std::vector<int>{0, 1, 4, 5}));
  auto log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, question_Alert);
  EXPECT_TRUE(doc.ProcessCommand(cmd_Undo));
  EXPECT_EQ(FrameValues(movie.GetMovie()).size(), 6u);
  doc.RemoveAttachment(undoer);
  delete undoer;
  UResponder::Reset();
}

// A task broadcasts its end message with itself to its document when it is
// destroyed, and nothing when the message is 0; it needs a document with a
// movie; it remembers its start and its cancel flag.
TEST_F(Edits, TaskEndMessageCancelFlagAndStart) {
  Document doc;
  EXPECT_THROW(EmptyTask(nullptr), LException);
  EXPECT_THROW(EmptyTask task(&doc), LException);
  CMovie movie(NumberedMovie(2), true);
  doc.movie = &movie;
  {
    StManualClock clock;
    auto* task = new EmptyTask(&doc);
    EXPECT_EQ(task->GetStartTick(), TickCount());
    EXPECT_EQ(task->GetMovie(), &movie);
    EXPECT_FALSE(task->HasUserCanceled());
    task->UserCanceled();
    EXPECT_TRUE(task->HasUserCanceled());
    task->SetEndMessage(msg_MotionAnalysisEnded);
    void* expected = static_cast<CMovieTask*>(task);
    delete task;
    ASSERT_EQ(doc.heard, std::vector<MessageT>{300});
    EXPECT_EQ(doc.params[0], expected);
  }
  doc.heard.clear();
  auto* quiet = new EmptyTask(&doc);
  quiet->Resume();
  for (int i = 0; i < 1000 && LThread::CountReadyThreads() > 0; ++i) LThread::Yield();
  LThread::DeleteEndedThreads();
  EXPECT_TRUE(doc.heard.empty());
}
