#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "support/ShakyScene.h"
#include "TaskTestSupport.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CMotionData.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/Clock.h"
#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Files.h"
#include "platform/ui/Alerts.h"
#include "toolkit/LTagReader.h"

using namespace tasktest;

namespace {

constexpr SInt32 kW = 320, kH = 240;
constexpr TimeValue kFrame = 20;  // at 600: 30 frames per second

// A frame whose rows tell which frame and which field they belong to: the
// red value is 10 x the frame index, the green 1 on even rows and 2 on odd.
void DrawMarked(SInt32 k, CBuffer* f) {
  for (SInt32 y = 0; y < f->GetHeight(); ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(f->GetData()) + static_cast<size_t>(y) * f->GetRowBytes();
    for (SInt32 x = 0; x < f->GetWidth(); ++x) {
      row[4 * x] = 255;
      row[4 * x + 1] = static_cast<UInt8>(10 * k);
      row[4 * x + 2] = static_cast<UInt8>(y % 2 == 0 ? 1 : 2);
      row[4 * x + 3] = 0;
    }
  }
}

// A tracker that remembers what it saw: the field asked for and the frame
// index found in the buffer's first row of that field. Its records carry a
// shift of 1 for odd fields and 2 for even ones (10 for whole frames) and
// the frame index as quality. It can fail at a given call.
struct SeeingTracker : CMotionTracker {
  struct Call {
    ETrackerFieldMode mode;
    int frame;
    int fieldMark;
    SInt32 duration;
  };
  std::vector<Call>* calls;
  int failAt = -1;
  explicit SeeingTracker(std::vector<Call>* outCalls) : calls(outCalls) {}
  UInt32 GetOptions() override { return 0x42; }
  OSErr ProcessFrame(SInt32 inDuration, ETrackerFieldMode inMode, ProgressProcPtr, void*) override {
    if (static_cast<int>(calls->size()) == failAt) return -9999;
    const int row = inMode == ETrackerFieldMode::kEvenField ? 1 : 0;
    const UInt8* p = reinterpret_cast<const UInt8*>(mSource->GetData()) + static_cast<size_t>(row) * mSource->GetRowBytes();
    calls->push_back({inMode, p[1] / 10, p[2], inDuration});
    DiffMotionData d = NewRecord(inDuration);
    d.xShift = inMode == ETrackerFieldMode::kFrame ? 10.0f : inMode == ETrackerFieldMode::kOddField ? 1.0f : 2.0f;
    d.yShift = -d.xShift;
    d.quality = static_cast<Float32>(p[1] / 10);
    d.scale = inMode == ETrackerFieldMode::kEvenField ? 2.0f : 1.5f;
    mRecords.AddItem(d);
    return noErr;
  }
};

struct Fixture : ::testing::Test {
  TestDocument doc;
  std::unique_ptr<CMovie> movie;
  std::vector<SeeingTracker::Call> calls;

  void SetUp() override {
    UseBundle();
    UAlertResponder::Reset();
  }
  void TearDown() override { UAlertResponder::Reset(); }
  void UseMovie(Movie inMovie) {
    movie = std::make_unique<CMovie>(inMovie, true);
    doc.movie = movie.get();
  }
  void UseMarkedMovie(SInt32 inFrames) { UseMovie(MakeRawMovie(64, 48, inFrames, kFrame, 600, DrawMarked)); }
  std::vector<Track> MotionTracks() {
    std::vector<Track> out;
    for (SInt32 i = 1; i <= GetMovieTrackCount(movie->GetMovie()); ++i)
      if (Track t = GetMovieIndTrack(movie->GetMovie(), i); GetTrackLayer(t) == kMotionTrackLayer) out.push_back(t);
    return out;
  }
  // The samples of a motion-data track in order.
  static std::vector<DiffMotionData> Samples(Track inTrack) {
    std::vector<DiffMotionData> out;
    Media media = GetTrackMedia(inTrack);
    Handle h = NewHandle(0);
    for (SInt32 n = 1; n <= GetMediaSampleCount(media); ++n) {
      TimeValue t = 0, d = 0;
      SampleNumToMediaTime(media, n, &t, &d);
      SInt32 size = 0;
      if (GetMediaSample(media, h, 0, &size, t, nullptr, &d, nullptr, nullptr, 1, nullptr, nullptr) != noErr) break;
      EXPECT_EQ(size, 64);
      DiffMotionData r;
      DiffMotionDataFromSample(*h, static_cast<size_t>(size), r);
      r.duration = d;
      out.push_back(r);
    }
    DisposeHandle(h);
    return out;
  }
  bool Run(CMotionTrackerTask* inTask, const std::function<void()>& inBetween = nullptr) {
    return RunTask(doc, inTask, inBetween);
  }
};

}  // namespace

// A shaky movie of known motion, analysed by the task with the automatic
// tracker: the stored samples measure that motion; the track, its offset and
// settings are right; undo and redo switch the track; the saved movie reads
// back the same records.
TEST_F(Fixture, ShakyMovieIsMeasuredStoredUndoneAndSaved) {
  using namespace shaky;
  const Texture texture = MakeTexture(kW + 200, kH + 160, 11);
  std::vector<Pose> poses;
  for (int k = 0; k < 18; ++k)
    poses.push_back(Pose::Make(1.0, 0.0, 3.5 * std::sin(k * 1.3) + 0.25 * k, 2.75 * std::cos(k * 2.1)));
  UseMovie(MakeRawMovie(kW, kH, static_cast<SInt32>(poses.size()), kFrame, 600,
                        [&](SInt32 k, CBuffer* f) { Render(texture, poses[static_cast<size_t>(k)], f); }));
  doc.standard = 2;
  const Rect roi = {0, 0, kH, kW};
  auto* task = new CMotionTrackerTask(&doc, new CAutoMotionTracker, roi);
  ASSERT_TRUE(Run(task));
  ASSERT_EQ(doc.ended, std::vector<MessageT>{300});
  EXPECT_EQ(doc.endError, noErr);
  ASSERT_EQ(doc.history.size(), 1u);

  std::vector<Track> tracks = MotionTracks();
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(GetTrackOffset(tracks[0]), 0);
  std::vector<DiffMotionData> samples = Samples(tracks[0]);
  ASSERT_EQ(samples.size(), poses.size());
  for (size_t k = 1; k < poses.size(); ++k) {
    const Pose motion = MotionBetween(poses[k - 1], poses[k]);
    EXPECT_NEAR(samples[k].xShift, motion.t.real(), 0.25) << "frame " << k;
    EXPECT_NEAR(samples[k].yShift, motion.t.imag(), 0.25) << "frame " << k;
    EXPECT_EQ(samples[k].duration, kFrame);
    EXPECT_EQ(samples[k].options & kMotionOptionFieldPair, 0u);
  }

  // The settings item.
  Handle item = NewHandle(0);
  ASSERT_EQ(GetUserData(GetTrackUserData(tracks[0]), item, 'Trbx', 1), noErr);
  const UInt8* p = reinterpret_cast<const UInt8*>(*item);
  const SInt32 size = GetHandleSize(item);
  std::map<UInt32, std::vector<UInt8>> tags;
  for (SInt32 at = 0; at + 8 <= size;) {
    const UInt32 tag = ReadBE32(p + at), length = ReadBE32(p + at + 4);
    tags[tag].assign(p + at + 8, p + at + 8 + length);
    at += 8 + static_cast<SInt32>(length);
    if (tag == '>>>>') break;
  }
  DisposeHandle(item);
  ASSERT_TRUE(tags.count('>>>>'));
  EXPECT_EQ(ReadBE32(tags['opts'].data()), CAutoMotionTracker::kOptionsAccuracy3);
  ASSERT_EQ(tags['roi_'].size(), 8u);
  EXPECT_EQ(ReadBE16(tags['roi_'].data() + 4), kH);
  EXPECT_EQ(ReadBE16(tags['roi_'].data() + 6), kW);
  EXPECT_EQ(static_cast<SInt32>(ReadBE32(tags['IntM'].data())), 2);
  EXPECT_EQ(static_cast<SInt32>(ReadBE32(tags['IntD'].data())), 2);

  // Undo removes the track, redo brings it back.
  CMovieAction& action = *doc.history.back();
  ASSERT_TRUE(action.CanUndo());
  action.Undo();
  EXPECT_TRUE(MotionTracks().empty());
  action.Redo();
  ASSERT_EQ(MotionTracks().size(), 1u);

  // Saved and reopened: the store reads the same records.
  CMotionData live;
  ASSERT_EQ(live.ScanMovie(movie.get()), noErr);
  const std::string path = (std::filesystem::temp_directory_path() / "trx-task-analysed.mov").string();
  FSSpec spec;
  FSMakeFSSpecFromPath(path, &spec);
  Movie saved = FlattenMovieData(movie->GetMovie(), flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                 createMovieFileDeleteCurFile);
  ASSERT_NE(saved, nullptr);
  DisposeMovie(saved);
  SInt16 ref = 0;
  ASSERT_EQ(OpenMovieFile(&spec, &ref, 1), noErr);
  Movie reopened = nullptr;
  SInt16 id = 0;
  ASSERT_EQ(NewMovieFromFile(&reopened, ref, &id, nullptr, newMovieActive, nullptr), noErr);
  CloseMovieFile(ref);
  CMovie again(reopened, true);
  CMotionData read;
  ASSERT_EQ(read.ScanMovie(&again), noErr);
  ASSERT_EQ(read.GetRecords().GetCount(), live.GetRecords().GetCount());
  ASSERT_EQ(read.GetRecords().GetCount(), static_cast<SInt32>(poses.size()));
  for (SInt32 i = 1; i <= read.GetRecords().GetCount(); ++i)
    EXPECT_EQ(std::memcmp(&read.GetRecords()[i], &live.GetRecords()[i], sizeof(DiffMotionData)), 0) << i;
  std::filesystem::remove(path);
}

// A selection from frame 10 to frame 20 analyses frames 10 to 19 and the
// track starts at frame 10; an empty selection analyses the whole movie,
// whose last frame lasts to the movie's end.
TEST_F(Fixture, SelectionGivesTheRangeAndTheTrackOffset) {
  UseMarkedMovie(24);
  movie->SetSelectionStart(10 * kFrame);
  movie->SetSelectionStop(20 * kFrame);
  auto* task = new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64});
  EXPECT_EQ(task->GetRangeStart(), 10 * kFrame);
  EXPECT_EQ(task->GetRangeStop(), 20 * kFrame);
  ASSERT_TRUE(Run(task));
  ASSERT_EQ(calls.size(), 10u);
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].frame, static_cast<int>(10 + i));
  std::vector<Track> tracks = MotionTracks();
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(GetTrackOffset(tracks[0]), 10 * kFrame);
  EXPECT_EQ(Samples(tracks[0]).size(), 10u);
  // The user's selection is as it was.
  SInt32 s = 0, e = 0;
  movie->GetSelection(&s, &e);
  EXPECT_EQ(s, 10 * kFrame);
  EXPECT_EQ(e, 20 * kFrame);

  // A selection to the end of the movie ends with the movie.
  calls.clear();
  movie->SetSelectionStart(20 * kFrame);
  movie->SetSelectionStop(24 * kFrame);
  ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64})));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls.front().frame, 20);
  EXPECT_EQ(MotionTracks().size(), 2u);

  calls.clear();
  doc.history.clear();
  movie->SetSelectionStart(0);
  movie->SetSelectionStop(0);
  ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64})));
  ASSERT_EQ(calls.size(), 24u);
  EXPECT_EQ(calls.back().frame, 23);
  EXPECT_EQ(calls.back().duration, kFrame);
  // The whole movie's measurement replaces the tracks of the two parts.
  EXPECT_EQ(MotionTracks().size(), 1u);
}

// Field modes: mode 3 hands the tracker the odd field then the even one of
// each frame, mode 4 the other way round; each sample holds the pair's sums
// (the scale's product) and the second field alone; an odd number of
// records leaves the last one out.
TEST_F(Fixture, FieldModesPresentFieldsInOrderAndStorePairs) {
  for (SInt32 mode : {3, 4}) {
    SCOPED_TRACE(mode);
    UseMarkedMovie(6);
    doc.fieldMode = mode;
    doc.history.clear();
    calls.clear();
    ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64})));
    ASSERT_EQ(calls.size(), 12u);
    const ETrackerFieldMode first = mode == 3 ? ETrackerFieldMode::kOddField : ETrackerFieldMode::kEvenField;
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].frame, static_cast<int>(i / 2));
      const bool isFirst = i % 2 == 0;
      EXPECT_EQ(calls[i].mode == first, isFirst);
      EXPECT_EQ(calls[i].fieldMark, calls[i].mode == ETrackerFieldMode::kOddField ? 1 : 2);
    }
    std::vector<Track> tracks = MotionTracks();
    ASSERT_EQ(tracks.size(), 1u);
    std::vector<DiffMotionData> s = Samples(tracks[0]);
    ASSERT_EQ(s.size(), 6u);
    const float second = mode == 3 ? 2.0f : 1.0f;
    for (const DiffMotionData& d : s) {
      EXPECT_EQ(d.options, 0x42u | kMotionOptionFieldPair);
      EXPECT_EQ(d.xShift, 3.0f);
      EXPECT_EQ(d.yShift, -3.0f);
      EXPECT_EQ(d.scale, 3.0f);
      EXPECT_EQ(d.xShift2, second);
      EXPECT_EQ(d.scale2, mode == 3 ? 2.0f : 1.5f);
      EXPECT_EQ(d.duration, kFrame);
    }
  }
  // An odd count: the tracker fails to add the second field's record of the
  // last frame only by being stopped there; here a tracker is fed 3 fields.
  UseMarkedMovie(2);
  doc.fieldMode = 3;
  doc.history.clear();
  calls.clear();
  auto* tracker = new SeeingTracker(&calls);
  auto* task = new CMotionTrackerTask(&doc, tracker, Rect{0, 0, 48, 64});
  // One more record than the fields seen: the odd record has no partner.
  doc.onEnd = nullptr;
  ASSERT_TRUE(Run(task, [&] {
    if (calls.size() == 3 && tracker->GetMotionDataArray().GetCount() == 3) {
      DiffMotionData extra{};
      extra.duration = kFrame;
      tracker->GetMotionDataArray().AddItem(extra);
    }
  }));
  std::vector<Track> tracks = MotionTracks();
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(Samples(tracks[0]).size(), 2u);
}

// Stopping through the cancel question stores nothing and leaves the movie
// as it was; choosing Continue goes on to the end.
TEST_F(Fixture, CancelAsksAndStopsOrContinues) {
  UseMarkedMovie(12);
  doc.withSheets = true;
  doc.fieldMode = 3;  // yields after every first field

  const SInt32 tracksBefore = GetMovieTrackCount(movie->GetMovie());
  auto* task = new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64});
  bool asked = false;
  UAlertResponder::QueueAnswer(kAlertStdAlertCancelButton);
  ASSERT_TRUE(Run(task, [&] {
    if (!asked && calls.size() >= 3) {
      asked = true;
      task->ProgressSheetMessage(901);
    }
  }));
  EXPECT_LT(calls.size(), 24u);
  EXPECT_TRUE(doc.history.empty());
  EXPECT_EQ(GetMovieTrackCount(movie->GetMovie()), tracksBefore);
  EXPECT_EQ(doc.endError, noErr);
  EXPECT_EQ(doc.sheetsAlive, 0);
  auto alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].message, "Stop the motion analysis?");
  ASSERT_EQ(alerts[0].buttons.size(), 2u);
  EXPECT_EQ(alerts[0].buttons[0], "Continue");
  EXPECT_EQ(alerts[0].buttons[1], "Stop");

  calls.clear();
  UAlertResponder::Reset();
  UAlertResponder::QueueAnswer(kAlertStdAlertOKButton);
  task = new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64});
  asked = false;
  ASSERT_TRUE(Run(task, [&] {
    if (!asked && calls.size() >= 3) {
      asked = true;
      task->ProgressSheetMessage(901);
    }
  }));
  EXPECT_EQ(calls.size(), 24u);
  EXPECT_EQ(doc.history.size(), 1u);
}

// Fewer than two records store nothing and are no error; a tracker error
// ends the task with that error, shown in an alert, and nothing stored.
TEST_F(Fixture, TooFewRecordsAndTrackerErrorsStoreNothing) {
  UseMarkedMovie(1);
  const SInt32 tracksBefore = GetMovieTrackCount(movie->GetMovie());
  ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64})));
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(doc.endError, noErr);
  EXPECT_TRUE(doc.history.empty());
  EXPECT_EQ(GetMovieTrackCount(movie->GetMovie()), tracksBefore);

  UseMarkedMovie(8);
  calls.clear();
  auto* tracker = new SeeingTracker(&calls);
  tracker->failAt = 4;
  ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, tracker, Rect{0, 0, 48, 64})));
  EXPECT_EQ(calls.size(), 4u);
  EXPECT_EQ(doc.endError, -9999);
  EXPECT_TRUE(doc.history.empty());
  EXPECT_TRUE(MotionTracks().empty());
  auto alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].kind, kAlertStopAlert);
  EXPECT_NE(alerts[0].message.find("The motion analysis failed."), std::string::npos);

  // A field mode that is none of the three fails at the first frame.
  calls.clear();
  doc.fieldMode = 7;
  ASSERT_TRUE(Run(new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64})));
  EXPECT_EQ(doc.endError, paramErr);
  EXPECT_TRUE(calls.empty());

  // No movie, no tracker: 'nilP'.
  TestDocument empty;
  SeeingTracker kept(&calls);  // a task that cannot be made leaves its tracker with the caller
  EXPECT_THROW(CMotionTrackerTask(&empty, &kept, Rect{0, 0, 1, 1}), LException);
  try {
    CMotionTrackerTask t(&doc, nullptr, Rect{0, 0, 1, 1});
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_NilPointer);
  }
}

// The progress sheet: caption at once; no estimate before the first frame
// is done (the estimate divides by the progress made); the bar's value from
// 64-bit products; the remaining time shown after 6 s when over 5 s remain.
TEST_F(Fixture, ProgressSheetShowsRemainingTimeSafely) {
  StManualClock clock;
  UseMarkedMovie(10);
  doc.withSheets = true;
  auto* task = new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64});
  ASSERT_EQ(task->BeginTrackMotion(), noErr);
  RecordingSheet* sheet = doc.lastSheet;
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->caption, "Analysing the camera motion…");
  ASSERT_EQ(sheet->values, std::vector<SInt32>{0});
  UClock::AdvanceTicks(400);
  task->ProgressSheetMessage(-12);  // nothing done yet: no division, no estimate
  EXPECT_FALSE(sheet->shown);
  EXPECT_EQ(sheet->values.back(), 0);
  delete task;  // never started: may be deleted directly
  EXPECT_EQ(doc.sheetsAlive, 0);

  EXPECT_EQ(CMotionTrackerTask::ProgressValue(0, 972000000, 486000000), 128);
  EXPECT_EQ(CMotionTrackerTask::ProgressValue(100, 100, 100), 0);
  EXPECT_EQ(CMotionTrackerTask::RemainingSeconds(600, 0, 100, 0), -1.0);
  EXPECT_NEAR(CMotionTrackerTask::RemainingSeconds(600, 0, 2000000000, 1000000000), 10.0, 1e-9);
  EXPECT_NEAR(CMotionTrackerTask::RemainingSeconds(600, -2000000000, 2000000000, 0), 10.0, 1e-9);

  // Through a run whose clock moves 100 ticks a frame (in field mode the
  // task yields after each first field).
  doc.withSheets = true;
  doc.fieldMode = 3;
  task = new CMotionTrackerTask(&doc, new SeeingTracker(&calls), Rect{0, 0, 48, 64});
  size_t seen = 0;
  std::vector<std::string> texts;
  ASSERT_TRUE(Run(task, [&] {
    if (calls.size() != seen) {
      seen = calls.size();
      UClock::AdvanceTicks(100);
      task->ProgressSheetMessage(-12);
      if (doc.lastSheet->shown) texts.push_back(doc.lastSheet->remaining);
    }
  }));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front().rfind("Time remaining: ", 0), 0u);
}
