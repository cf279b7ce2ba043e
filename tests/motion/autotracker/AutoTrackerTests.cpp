// The automatic pyramid tracker against pictures moved by known amounts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "support/ShakyScene.h"
#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "motion/CAutoMotionTracker.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"
#include "platform/tasks/Multiprocessing.h"

using namespace shaky;

namespace {

using BufferPtr = StBufferOwner;

// The code a BeginTracking failure carries (0 when it succeeded).
ExceptionCode BeginCode(CMotionTracker& ioTracker, CBuffer* inBuffer, Rect inRect) {
  try {
    return ioTracker.BeginTracking(inBuffer, inRect, nullptr, nullptr);
  } catch (const LException& e) {
    return e.GetErrorCode();
  }
}

// Runs a tracker over frames rendered one after another through the poses.
std::vector<DiffMotionData> TrackPoses(CAutoMotionTracker& ioTracker, const Texture& inTexture,
                                       const std::vector<Pose>& inPoses, SInt32 inWidth, SInt32 inHeight) {
  BufferPtr frame(NewFrame(inWidth, inHeight));
  EXPECT_EQ(ioTracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  for (const Pose& pose : inPoses) {
    Render(inTexture, pose, frame.get());
    EXPECT_EQ(ioTracker.ProcessFrame(10, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  ioTracker.EndTracking();
  auto& records = ioTracker.GetMotionDataArray();
  return std::vector<DiffMotionData>(records.begin(), records.end());
}

void ExpectRecordMatches(const DiffMotionData& inRecord, const Pose& inMotion, double inShiftTolerance,
                         double inRotScaleTolerance, const char* inWhat, size_t inIndex) {
  EXPECT_NEAR(inRecord.xShift, inMotion.t.real(), inShiftTolerance) << inWhat << " " << inIndex;
  EXPECT_NEAR(inRecord.yShift, inMotion.t.imag(), inShiftTolerance) << inWhat << " " << inIndex;
  EXPECT_NEAR(inRecord.rotation, -inMotion.B(), inRotScaleTolerance) << inWhat << " " << inIndex;
  EXPECT_NEAR(inRecord.scale, inMotion.A(), inRotScaleTolerance) << inWhat << " " << inIndex;
  EXPECT_GT(inRecord.quality, 0.0f) << inWhat << " " << inIndex;
}

const Texture& SharedTexture() {
  static const Texture texture = MakeTexture(900, 700, 7);
  return texture;
}


}  // namespace

// ---------------------------------------------------------------------------
// Interface and lifecycle

TEST(AutoTracker, AccuracyOptionsAndFieldModeMapping) {
  CAutoMotionTracker tracker;
  EXPECT_EQ(tracker.GetAccuracy(), 2);
  EXPECT_FALSE(tracker.IsTracking());
  EXPECT_EQ(tracker.SetAccuracy(0), paramErr);
  EXPECT_EQ(tracker.SetAccuracy(4), paramErr);
  EXPECT_EQ(tracker.GetAccuracy(), 2);
  EXPECT_EQ(tracker.GetOptions(), 0x0100001Fu);
  EXPECT_EQ(tracker.SetAccuracy(3), noErr);
  EXPECT_EQ(tracker.GetOptions(), 0x0101001Fu);
  EXPECT_EQ(tracker.SetAccuracy(1), noErr);
  EXPECT_EQ(tracker.GetOptions(), 0x0100001Fu);

  ETrackerFieldMode modes[2];
  ASSERT_EQ(TrackerFieldModesFor(EAnalysisFieldMode::kFrames, modes), 1);
  EXPECT_EQ(modes[0], ETrackerFieldMode::kFrame);
  ASSERT_EQ(TrackerFieldModesFor(EAnalysisFieldMode::kOddFieldFirst, modes), 2);
  EXPECT_EQ(modes[0], ETrackerFieldMode::kOddField);
  EXPECT_EQ(modes[1], ETrackerFieldMode::kEvenField);
  ASSERT_EQ(TrackerFieldModesFor(EAnalysisFieldMode::kEvenFieldFirst, modes), 2);
  EXPECT_EQ(modes[0], ETrackerFieldMode::kEvenField);
  EXPECT_EQ(modes[1], ETrackerFieldMode::kOddField);
  EXPECT_EQ(TrackerFieldModesFor(static_cast<EAnalysisFieldMode>(1), modes), 0);
}

TEST(AutoTracker, BeginTrackingFailuresLeaveTheTrackerIdle) {
  CAutoMotionTracker tracker;
  BufferPtr frame(NewFrame(320, 240));
  EXPECT_EQ(BeginCode(tracker, nullptr, frame->GetBounds()), err_NilPointer);
  EXPECT_EQ(BeginCode(tracker, frame.get(), MakeRect(10, 10, 10, 100)), paramErr);
  EXPECT_FALSE(tracker.IsTracking());
  // Too small for a level in either direction.
  EXPECT_EQ(BeginCode(tracker, frame.get(), MakeRect(0, 0, 47, 200)), paramErr);
  EXPECT_FALSE(tracker.IsTracking());
  EXPECT_EQ(BeginCode(tracker, frame.get(), MakeRect(0, 0, 200, 47)), paramErr);
  EXPECT_FALSE(tracker.IsTracking());
  EXPECT_EQ(tracker.GetLevels().GetCount(), 0);
  EXPECT_EQ(frame->GetRetainCount(), 1);
  EXPECT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), paramErr);
  EXPECT_EQ(tracker.ResetTracker(nullptr, nullptr), noErr);
  EXPECT_FALSE(tracker.IsTracking());
}

TEST(AutoTracker, PyramidLevelSizes) {
  struct Case {
    SInt32 w, h;
    std::vector<std::pair<SInt32, SInt32>> levels;
  };
  const Case cases[] = {
      {720, 576, {{360, 288}, {180, 144}, {90, 72}}},
      {720, 480, {{360, 240}, {180, 120}, {90, 60}}},
      {320, 240, {{320, 240}, {160, 120}, {80, 60}}},
      {1280, 720, {{640, 360}, {320, 180}, {160, 90}}},
      {1920, 1080, {{960, 540}, {480, 270}, {240, 135}, {120, 67}}},
      {361, 289, {{180, 144}, {90, 72}}},
      {360, 289, {{360, 289}, {180, 144}, {90, 72}}},
      {361, 288, {{361, 288}, {180, 144}, {90, 72}}},
  };
  for (const Case& c : cases) {
    BufferPtr frame(NewFrame(c.w + 8, c.h + 6));
    CAutoMotionTracker tracker;
    const Rect rect = MakeRect(6, 8, 6 + c.h, 8 + c.w);
    ASSERT_EQ(tracker.BeginTracking(frame.get(), rect, nullptr, nullptr), noErr);
    auto& levels = tracker.GetLevels();
    ASSERT_EQ(levels.GetCount(), static_cast<SInt32>(c.levels.size())) << c.w << "x" << c.h;
    for (size_t i = 0; i < c.levels.size(); ++i) {
      const PyramidLevelData* level = levels[static_cast<SInt32>(i + 1)];
      EXPECT_EQ(level->mBounds.top, 6);
      EXPECT_EQ(level->mBounds.left, 8);
      EXPECT_EQ(level->mBounds.right - level->mBounds.left, c.levels[i].first);
      EXPECT_EQ(level->mBounds.bottom - level->mBounds.top, c.levels[i].second);
      // Each level's source is the finer picture's part that halves into it
      // (or the tracking Rect itself for an unreduced first level).
      const SInt32 sw = level->mSource.right - level->mSource.left, sh = level->mSource.bottom - level->mSource.top;
      if (i == 0 && c.levels[0].first == c.w) {
        EXPECT_TRUE(EqualRect(&level->mSource, &rect));
      } else {
        EXPECT_EQ(sw, 2 * c.levels[i].first);
        EXPECT_EQ(sh, 2 * c.levels[i].second);
      }
      EXPECT_FLOAT_EQ(level->mHScale, static_cast<float>(c.levels[i].first) / c.w);
    }
    EXPECT_EQ(frame->GetRetainCount(), 2);
    tracker.EndTracking();
    EXPECT_EQ(frame->GetRetainCount(), 1);
    EXPECT_EQ(tracker.GetLevels().GetCount(), 0);
    EXPECT_EQ(tracker.GetEstimator(), nullptr);
  }
}

TEST(AutoTracker, ModesRecordsAndReset) {
  BufferPtr frame(NewFrame(160, 120));
  Render(SharedTexture(), Pose(), frame.get());
  CAutoMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  EXPECT_EQ(tracker.ProcessFrame(5, static_cast<ETrackerFieldMode>(4), nullptr, nullptr), paramErr);
  EXPECT_EQ(tracker.ProcessFrame(5, static_cast<ETrackerFieldMode>(0), nullptr, nullptr), paramErr);
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 0);
  // The first call has no previous picture: no measurement, marked by quality 0.
  ASSERT_EQ(tracker.ProcessFrame(5, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  ASSERT_EQ(tracker.GetMotionDataArray().GetCount(), 1);
  const DiffMotionData first = tracker.GetMotionDataArray()[1];
  EXPECT_EQ(first.version, 4);
  EXPECT_EQ(first.options, 0x0100001Fu);
  EXPECT_EQ(first.duration, 5);
  EXPECT_EQ(first.quality, 0.0f);
  EXPECT_EQ(first.xShift, 0.0f);
  EXPECT_EQ(first.yShift, 0.0f);
  EXPECT_EQ(first.rotation, 0.0f);
  EXPECT_EQ(first.scale, 1.0f);
  EXPECT_EQ(first.centerX, 80.0f);
  EXPECT_EQ(first.centerY, 60.0f);
  // A static picture: no motion, a real quality.
  ASSERT_EQ(tracker.ProcessFrame(6, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  const DiffMotionData still = tracker.GetMotionDataArray()[2];
  EXPECT_GT(still.quality, 0.0f);
  EXPECT_NEAR(still.xShift, 0.0f, 0.02);
  EXPECT_NEAR(still.yShift, 0.0f, 0.02);
  EXPECT_NEAR(still.rotation, 0.0f, 1e-4);
  EXPECT_NEAR(still.scale, 1.0f, 1e-4);
  // A reset keeps tracking over the same buffer and empties the records.
  EXPECT_EQ(tracker.ResetTracker(nullptr, nullptr), noErr);
  EXPECT_TRUE(tracker.IsTracking());
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 0);
  EXPECT_EQ(frame->GetRetainCount(), 2);
  ASSERT_EQ(tracker.ProcessFrame(5, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  tracker.EndTracking();
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 1);  // the records stay after the end
  EXPECT_EQ(frame->GetRetainCount(), 1);
}

// ---------------------------------------------------------------------------
// Known motion

TEST(AutoTracker, RecoversShakyFrameMotion) {
  const std::vector<Pose> poses = MakePoses(20, 6.0, 0.01, 0.006, 11);
  CAutoMotionTracker tracker;
  const std::vector<DiffMotionData> records = TrackPoses(tracker, SharedTexture(), poses, 320, 240);
  ASSERT_EQ(records.size(), poses.size());
  EXPECT_EQ(records[0].quality, 0.0f);
  for (size_t i = 1; i < records.size(); ++i)
    ExpectRecordMatches(records[i], MotionBetween(poses[i - 1], poses[i]), 0.25, 2e-3, "frame", i);
}

TEST(AutoTracker, RecoversMotionOfAReducedFirstLevelAtEveryAccuracy) {
  // 640 x 480 is halved before the first level: the reduction from ARGB.
  const std::vector<Pose> poses = MakePoses(8, 6.0, 0.01, 0.006, 12);
  for (QTrackingAccuracy accuracy : {1, 3}) {
    CAutoMotionTracker tracker;
    ASSERT_EQ(tracker.SetAccuracy(accuracy), noErr);
    const std::vector<DiffMotionData> records = TrackPoses(tracker, SharedTexture(), poses, 640, 480);
    ASSERT_EQ(records.size(), poses.size());
    for (size_t i = 1; i < records.size(); ++i)
      ExpectRecordMatches(records[i], MotionBetween(poses[i - 1], poses[i]), 0.25, 2e-3, "reduced", i);
    EXPECT_EQ(records[1].options, accuracy == 3 ? 0x0101001Fu : 0x0100001Fu);
  }
}

TEST(AutoTracker, SubPixelShakeOfSmoothContentIsMeasuredWithoutAPullTowardsThePrediction) {
  // Smooth content (broad correlation peaks) shaken by sub-pixel steps: the
  // content that wraps round the compared blocks must not hold the measured
  // shifts back towards the prediction. The RMS error was 0.27 px before
  // the blocks were tapered, 0.21 px since.
  static const Texture smooth = [] {
    Texture t = MakeTexture(900, 700, 5);
    // A 5 x 5 box blur: the texture's hard edges become soft.
    Texture blurred = t;
    for (SInt32 y = 2; y < t.height - 2; ++y)
      for (SInt32 x = 2; x < t.width - 2; ++x) {
        float sum = 0;
        for (SInt32 dy = -2; dy <= 2; ++dy)
          for (SInt32 dx = -2; dx <= 2; ++dx) sum += t.At(x + dx, y + dy);
        blurred.pixels[static_cast<size_t>(y) * t.width + x] = sum / 25.0f;
      }
    return blurred;
  }();
  const std::vector<Pose> poses = MakePoses(24, 2.5, 0.0, 0.0, 21);
  CAutoMotionTracker tracker;
  const std::vector<DiffMotionData> records = TrackPoses(tracker, smooth, poses, 640, 480);
  ASSERT_EQ(records.size(), poses.size());
  double sum = 0;
  for (size_t i = 1; i < records.size(); ++i) {
    const Pose m = MotionBetween(poses[i - 1], poses[i]);
    sum += std::pow(records[i].xShift - m.t.real(), 2) + std::pow(records[i].yShift - m.t.imag(), 2);
  }
  const double rms = std::sqrt(sum / static_cast<double>(records.size() - 1));
  EXPECT_LT(rms, 0.24);
}

TEST(AutoTracker, TrackingRectAwayFromTheOrigin) {
  // The region of interest is a part of a larger frame; the motion is that
  // of the content inside it, about its own centre.
  const std::vector<Pose> poses = {Pose(), Pose::Make(1.0, 0.0, 3.25, -2.5), Pose::Make(1.0, 0.0, 1.0, 1.75)};
  BufferPtr frame(NewFrame(400, 300));
  CAutoMotionTracker tracker;
  const Rect roi = MakeRect(30, 50, 270, 370);
  ASSERT_EQ(tracker.BeginTracking(frame.get(), roi, nullptr, nullptr), noErr);
  for (const Pose& pose : poses) {
    Render(SharedTexture(), pose, frame.get());
    ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  auto& records = tracker.GetMotionDataArray();
  ASSERT_EQ(records.GetCount(), 3);
  EXPECT_EQ(records[1].centerX, 210.0f);
  EXPECT_EQ(records[1].centerY, 150.0f);
  for (SInt32 i = 2; i <= 3; ++i)
    ExpectRecordMatches(records[i], MotionBetween(poses[i - 2], poses[i - 1]), 0.25, 2e-3, "roi", i);
}

// Fields of interlaced frames: the odd field (rows of even coordinate) and
// the even field of each frame are taken at successive camera poses.
void CheckFieldSequence(SInt32 inWidth, SInt32 inHeight, bool inOddFirst, UInt32 inSeed, double inTolerance) {
  const std::vector<Pose> poses = MakePoses(12, 4.0, 0.006, 0.004, inSeed);
  BufferPtr frame(NewFrame(inWidth, inHeight));
  CAutoMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  ETrackerFieldMode modes[2];
  ASSERT_EQ(TrackerFieldModesFor(inOddFirst ? EAnalysisFieldMode::kOddFieldFirst : EAnalysisFieldMode::kEvenFieldFirst,
                                 modes),
            2);
  const ERows firstRows = inOddFirst ? ERows::kEvenRows : ERows::kOddRows;
  const ERows secondRows = inOddFirst ? ERows::kOddRows : ERows::kEvenRows;
  for (size_t f = 0; f + 1 < poses.size(); f += 2) {
    Render(SharedTexture(), poses[f], frame.get(), firstRows);
    Render(SharedTexture(), poses[f + 1], frame.get(), secondRows);
    ASSERT_EQ(tracker.ProcessFrame(2, modes[0], nullptr, nullptr), noErr);
    ASSERT_EQ(tracker.ProcessFrame(2, modes[1], nullptr, nullptr), noErr);
  }
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  ASSERT_EQ(records.GetCount(), static_cast<SInt32>(poses.size()));
  for (SInt32 i = 2; i <= records.GetCount(); ++i)
    ExpectRecordMatches(records[i], MotionBetween(poses[i - 2], poses[i - 1]), inTolerance, 2e-3,
                        inOddFirst ? "odd first field" : "even first field", i);
}

// A field small enough to be tracked at full size has its lines doubled; the
// doubled rows tie part of the vertical gradient to the row pairs, so the
// measurement is coarser than with the field reductions of larger pictures.
TEST(AutoTracker, RecoversFieldMotionWithDuplicatedFieldLines) {
  CheckFieldSequence(320, 240, true, 21, 0.4);
  CheckFieldSequence(320, 240, false, 24, 0.4);
}

TEST(AutoTracker, RecoversFieldMotionWithFieldReductions) {
  CheckFieldSequence(640, 480, true, 22, 0.25);
  CheckFieldSequence(640, 480, false, 23, 0.25);
}

TEST(AutoTracker, AFailedMeasurementIsMarkedAndNeverInvented) {
  // A picture without any structure between two textured ones: nothing can
  // be matched, so the record says so with quality 0 and holds finite values.
  BufferPtr frame(NewFrame(320, 240));
  CAutoMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  Render(SharedTexture(), Pose(), frame.get());
  ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  RGBColor grey = {0x8000, 0x8000, 0x8000};
  ASSERT_EQ(frame->Erase(&grey, nullptr, nullptr, nullptr, nullptr), noErr);
  ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  Render(SharedTexture(), Pose::Make(1.0, 0.0, 2.0, 1.0), frame.get());
  ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  ASSERT_EQ(tracker.GetMotionDataArray().GetCount(), 3);
  for (SInt32 i = 2; i <= 3; ++i) {
    const DiffMotionData& r = tracker.GetMotionDataArray()[i];
    EXPECT_EQ(r.quality, 0.0f) << i;
    EXPECT_EQ(r.xShift, 0.0f) << i;
    EXPECT_EQ(r.yShift, 0.0f) << i;
    EXPECT_EQ(r.rotation, 0.0f) << i;
    EXPECT_EQ(r.scale, 1.0f) << i;
  }
}

TEST(AutoTracker, FiveLevelsAtAccuracy3TrackAllButTheFinest) {
  // 1536 x 1536 halves to 768 and gives five levels; accuracy 3 tracks the
  // four coarsest, so the finest measurement is that of 384 x 384.
  static const Texture large = MakeTexture(1700, 1700, 9);
  BufferPtr frame(NewFrame(1536, 1536));
  CAutoMotionTracker tracker;
  ASSERT_EQ(tracker.SetAccuracy(3), noErr);
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  ASSERT_EQ(tracker.GetLevels().GetCount(), 5);
  Render(large, Pose(), frame.get());
  ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  const Pose moved = Pose::Make(1.0, 0.0, 5.0, -3.0);
  Render(large, moved, frame.get());
  ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  const Rect& tracked = tracker.GetEstimator()->mTrackRect;
  const Rect& second = tracker.GetLevels()[2]->mBounds;
  EXPECT_TRUE(EqualRect(&tracked, &second));
  ExpectRecordMatches(tracker.GetMotionDataArray()[2], moved, 0.5, 2e-3, "five levels", 2);
}

TEST(AutoTracker, BeginningAgainOverTheSameBufferKeepsIt) {
  // The caller's reference is the only other one: ending the first run must
  // not free the buffer that the second run takes.
  CBuffer* frame = NewFrame(160, 120);
  CAutoMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame, frame->GetBounds(), nullptr, nullptr), noErr);
  frame->Release();  // the tracker's reference is the only one left
  ASSERT_EQ(tracker.BeginTracking(frame, frame->GetBounds(), nullptr, nullptr), noErr);
  EXPECT_EQ(frame->GetRetainCount(), 1);
  EXPECT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  tracker.EndTracking();
}

// The finest level's fit of a frame completes its record during the next
// call: a record read at once after its frame, and one read only after the
// end of tracking, are the same bytes; so are they when a call that fails
// comes between two frames (it appends nothing and loses nothing).
TEST(AutoTracker, ARecordIsTheSameWhenEverItIsRead) {
  const std::vector<Pose> poses = MakePoses(9, 5.0, 0.01, 0.004, 3);
  auto run = [&](bool inReadEach, bool inFailBetween) {
    BufferPtr frame(NewFrame(480, 360));
    CAutoMotionTracker tracker;
    EXPECT_EQ(tracker.SetAccuracy(3), noErr);
    EXPECT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
    std::vector<DiffMotionData> read;
    for (size_t i = 0; i < poses.size(); ++i) {
      Render(SharedTexture(), poses[i], frame.get());
      EXPECT_EQ(tracker.ProcessFrame(10, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
      if (inFailBetween && i == 4) {
        EXPECT_EQ(tracker.ProcessFrame(10, static_cast<ETrackerFieldMode>(9), nullptr, nullptr), paramErr);
      }
      if (inReadEach) {
        auto& records = tracker.GetMotionDataArray();
        EXPECT_EQ(records.GetCount(), static_cast<SInt32>(i + 1));
        read.push_back(records[records.GetCount()]);
      }
    }
    tracker.EndTracking();
    if (!inReadEach) {
      auto& records = tracker.GetMotionDataArray();
      read.assign(records.begin(), records.end());
    }
    return read;
  };
  const std::vector<DiffMotionData> atOnce = run(true, false);
  const std::vector<DiffMotionData> atEnd = run(false, false);
  const std::vector<DiffMotionData> failing = run(false, true);
  ASSERT_EQ(atOnce.size(), poses.size());
  ASSERT_EQ(atEnd.size(), poses.size());
  ASSERT_EQ(failing.size(), poses.size());
  for (size_t i = 0; i < poses.size(); ++i) {
    EXPECT_EQ(std::memcmp(&atOnce[i], &atEnd[i], sizeof(DiffMotionData)), 0) << i;
    EXPECT_EQ(std::memcmp(&atOnce[i], &failing[i], sizeof(DiffMotionData)), 0) << i;
  }
  // And each is the measured motion, not the coarser levels' estimate.
  for (size_t i = 1; i < poses.size(); ++i)
    ExpectRecordMatches(atEnd[i], MotionBetween(poses[i - 1], poses[i]), 0.15, 2e-3, "read at the end", i);
}
