#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "media/CTaskObject.h"
#include "motion/CTracker.h"
#include "platform/base/FixMath.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"
#include "platform/tasks/Multiprocessing.h"
#include "support/SyntheticScene.h"

namespace {

constexpr SInt32 kMargin = 24;

MatrixRecord Identity() {
  MatrixRecord m;
  SetIdentityMatrix(&m);
  return m;
}

// A previous picture with a margin around the tracking Rect, the current one
// made from it by a known motion about the Rect's centre, and the gradient
// planes the providers hand out.
struct Scene {
  SInt32 width, height;
  Rect trackRect;
  SyntheticMotion motion;
  SyntheticPlane previous, current;

  Scene(SInt32 w, SInt32 h, double scale, double rotation, double dx, double dy, UInt32 seed = 5)
      : width(w), height(h), trackRect(MakeRect(kMargin, kMargin, kMargin + h, kMargin + w)) {
    const SyntheticPicture prev = USyntheticScene::MakeTexture(w + 2 * kMargin, h + 2 * kMargin, seed);
    // The estimator measures about left + width/2, top + height/2.
    motion = SyntheticMotion::Similarity(scale, rotation, dx, dy, kMargin + w / 2, kMargin + h / 2);
    const SyntheticPicture cur = USyntheticScene::Move(prev, motion);
    previous = {prev.width, prev.height, USyntheticScene::Gradient(prev)};
    current = {cur.width, cur.height, USyntheticScene::Gradient(cur)};
  }
  void Attach(CTracker& t) { t.SetBlockProvider(SyntheticBlockProvider, &current, SyntheticBlockProvider, &previous); }
};

// Tracks once with the identity prediction, then again predicted by the first
// result, as the coarse-to-fine tracker feeds each level the coarser model.
SInt32 TrackWithRefinement(CTracker& t, const Rect& r) {
  MatrixRecord m = Identity();
  SInt32 err = t.DoTrack(r, m, 0.0f);
  if (err != noErr) return err;
  t.GetTransformMatrix(m);
  return t.DoTrack(r, m, 0.0f);
}

SInt32 ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const LException& e) {
    return e.GetErrorCode();
  }
  return noErr;
}

// Restores the task engine's settings after a test changes them.
struct StTaskSettings {
  ~StTaskSettings() {
    MPSetProcessorCountForTesting(0);
    CTaskGroup::mAllowMP = true;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Ground truth: pictures moved by known amounts and measured back.

TEST(TrackerMotion, RecoversWholeAndSubPixelTranslations) {
  const struct {
    double dx, dy;
  } shifts[] = {{3, -2}, {0.5, 1.25}, {-4.3, 2.7}, {0, 0}};
  for (const auto& s : shifts) {
    SCOPED_TRACE(testing::Message() << "shift " << s.dx << ", " << s.dy);
    Scene scene(480, 320, 1.0, 0.0, s.dx, s.dy);
    CTracker t(5);
    scene.Attach(t);
    ASSERT_EQ(TrackWithRefinement(t, scene.trackRect), noErr);
    EXPECT_TRUE(t.mModelValid);
    EXPECT_GT(t.mMeanStrength, 0.0f);
    EXPECT_NEAR(t.mModel.tx, s.dx, 0.25);
    EXPECT_NEAR(t.mModel.ty, s.dy, 0.25);
    EXPECT_NEAR(t.mModel.a, 1.0, 2e-3);
    EXPECT_NEAR(t.mModel.b, 0.0, 2e-3);
  }
}

TEST(TrackerMotion, RecoversRotationAndScale) {
  const struct {
    double scale, rotation, dx, dy;
  } cases[] = {{1.0, 0.01, 0, 0}, {1.01, 0.0, 0, 0}, {1.01, -0.01, 1.5, -0.7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " rotation " << c.rotation);
    Scene scene(640, 400, c.scale, c.rotation, c.dx, c.dy, 9);
    CTracker t(5);
    scene.Attach(t);
    ASSERT_EQ(TrackWithRefinement(t, scene.trackRect), noErr);
    EXPECT_TRUE(t.mModelValid);
    EXPECT_NEAR(t.mModel.a, scene.motion.a, 2e-3);
    EXPECT_NEAR(t.mModel.b, scene.motion.b, 2e-3);
    EXPECT_NEAR(t.mModel.tx, c.dx, 0.25);
    EXPECT_NEAR(t.mModel.ty, c.dy, 0.25);
  }
}

TEST(TrackerMotion, SinglePassFindsWholePixelShiftsAtTheirPeaks) {
  // Without a prediction, the peak of every block sits on the shift; the
  // centroids and the fit lean slightly towards zero.
  Scene scene(480, 320, 1.0, 0.0, 3.0, -2.0);
  CTracker t(5);
  scene.Attach(t);
  MatrixRecord m = Identity();
  ASSERT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
  ASSERT_GT(t.mPositions.GetCount(), 0);
  // The positions of one block are adjacent; the one made at its peak lies on
  // the shift.
  SInt32 blocks = 0, onPeak = 0;
  for (SInt32 i = 1; i <= t.mPositions.GetCount();) {
    const PosData first = t.mPositions[i];
    bool found = false;
    for (; i <= t.mPositions.GetCount() && t.mPositions[i].x == first.x && t.mPositions[i].y == first.y; ++i) {
      const PosData& p = t.mPositions[i];
      found = found || (std::fabs(p.matchedX - (p.x + 3.0f)) < 0.25f && std::fabs(p.matchedY - (p.y - 2.0f)) < 0.25f);
    }
    ++blocks;
    onPeak += found;
  }
  EXPECT_EQ(blocks, (480 - 16) / 32 * ((320 - 16) / 32));
  EXPECT_GE(onPeak, blocks * 9 / 10);
  EXPECT_NEAR(t.mModel.tx, 3.0, 0.5);
  EXPECT_NEAR(t.mModel.ty, -2.0, 0.5);
}

TEST(TrackerMotion, PredictionCarriesShiftsBeyondTheSearchWindow) {
  // 20 px is far outside the +-8 px window of 32 px blocks; the prediction
  // puts the previous blocks where the content came from.
  Scene scene(480, 320, 1.0, 0.0, 20.0, -13.0);
  CTracker t(5);
  scene.Attach(t);
  MatrixRecord identity = Identity();
  t.DoTrack(scene.trackRect, identity, 0.0f);
  EXPECT_FALSE(t.mModelValid && std::fabs(t.mModel.tx - 20.0) < 1.0);

  MatrixRecord predicted = Identity();
  TranslateMatrix(&predicted, X2Fix(19.0), X2Fix(-12.0));
  ASSERT_EQ(t.DoTrack(scene.trackRect, predicted, 0.0f), noErr);
  EXPECT_TRUE(t.mModelValid);
  EXPECT_NEAR(t.mModel.tx, 20.0, 0.5);
  EXPECT_NEAR(t.mModel.ty, -13.0, 0.5);
  t.GetTransformMatrix(predicted);
  ASSERT_EQ(t.DoTrack(scene.trackRect, predicted, 0.0f), noErr);
  EXPECT_NEAR(t.mModel.tx, 20.0, 0.25);
  EXPECT_NEAR(t.mModel.ty, -13.0, 0.25);
}

TEST(TrackerMotion, OtherBlockSizes) {
  // 64 x 64 blocks search +-16 px.
  Scene scene(320, 256, 1.0, 0.0, 9.0, -6.0);
  CTracker large(6);
  scene.Attach(large);
  ASSERT_EQ(TrackWithRefinement(large, scene.trackRect), noErr);
  EXPECT_TRUE(large.mModelValid);
  EXPECT_NEAR(large.mModel.tx, 9.0, 0.25);
  EXPECT_NEAR(large.mModel.ty, -6.0, 0.25);
  // The smallest blocks (4 x 4 searches -1..0, 8 x 8 -2..1) still give a
  // model in the right direction.
  Scene small(160, 128, 1.0, 0.0, -1.0, -1.0);
  for (SInt32 exponent : {2, 3}) {
    CTracker t(exponent);
    small.Attach(t);
    MatrixRecord m = Identity();
    ASSERT_EQ(t.DoTrack(small.trackRect, m, 0.0f), noErr) << exponent;
    EXPECT_TRUE(t.mModelValid) << exponent;
    EXPECT_LT(t.mModel.tx, -0.1) << exponent;
    EXPECT_LT(t.mModel.ty, -0.1) << exponent;
  }
}

TEST(TrackerMotion, FieldOffsetIsAddedToEveryMatchedY) {
  Scene scene(320, 256, 1.0, 0.0, 0.0, 0.0);
  CTracker t(5);
  scene.Attach(t);
  MatrixRecord m = Identity();
  ASSERT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
  const TArray<PosData> plain = t.mPositions;
  ASSERT_EQ(t.DoTrack(scene.trackRect, m, -0.9f), noErr);
  ASSERT_EQ(t.mPositions.GetCount(), plain.GetCount());
  for (SInt32 i = 1; i <= plain.GetCount(); ++i) {
    EXPECT_FLOAT_EQ(t.mPositions[i].matchedX, plain[i].matchedX);
    EXPECT_NEAR(t.mPositions[i].matchedY, plain[i].matchedY - 0.9f, 1e-4);
  }
  EXPECT_NEAR(t.mModel.ty, -0.9, 0.12);
}

// ---------------------------------------------------------------------------
// Block grid, task split and failures.

TEST(TrackerGrid, RectSmallerThanOneAndAHalfBlocksGivesNoBlocks) {
  Scene scene(200, 200, 1.0, 0.0, 1.0, 1.0);
  for (const Rect& r : {MakeRect(kMargin, kMargin, kMargin + 200, kMargin + 47),
                        MakeRect(kMargin, kMargin, kMargin + 47, kMargin + 200),
                        MakeRect(kMargin, kMargin, kMargin, kMargin), MakeRect(100, 100, 130, 80)}) {
    CTracker t(5);
    scene.Attach(t);
    MatrixRecord m = Identity();
    EXPECT_EQ(t.DoTrack(r, m, 0.0f), noErr);
    EXPECT_EQ(t.mPositions.GetCount(), 0);
    EXPECT_FALSE(t.mModelValid);
    EXPECT_EQ(t.mMeanStrength, 0.0f);
    EXPECT_EQ(t.mModel.a, 1.0);
    EXPECT_EQ(t.mModel.tx, 0.0);
  }
  // 48 x 48 holds exactly one centred block.
  CTracker t(5);
  scene.Attach(t);
  MatrixRecord m = Identity();
  EXPECT_EQ(t.DoTrack(MakeRect(kMargin + 40, kMargin + 40, kMargin + 88, kMargin + 88), m, 0.0f), noErr);
  ASSERT_GT(t.mPositions.GetCount(), 0);
  EXPECT_EQ(t.mPositions[1].x, 0.0f);
  EXPECT_EQ(t.mPositions[1].y, 0.0f);
}

TEST(TrackerGrid, PositionOrderDoesNotDependOnTheNumberOfTasks) {
  StTaskSettings restore;
  Scene scene(480, 320, 1.004, 0.006, 1.3, -0.6);
  auto run = [&](bool allowMP, ItemCount processors) {
    CTaskGroup::mAllowMP = allowMP;
    MPSetProcessorCountForTesting(processors);
    CTracker t(5);
    scene.Attach(t);
    MatrixRecord m = Identity();
    EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
    return t.mPositions;
  };
  const TArray<PosData> one = run(false, 0);
  ASSERT_GT(one.GetCount(), 100);
  for (ItemCount procs : {2u, 3u, 8u}) {
    const TArray<PosData> many = run(true, procs);
    ASSERT_EQ(many.GetCount(), one.GetCount()) << procs;
    for (SInt32 i = 1; i <= one.GetCount(); ++i) {
      ASSERT_EQ(many[i].x, one[i].x) << procs << " " << i;
      ASSERT_EQ(many[i].y, one[i].y);
      ASSERT_EQ(many[i].matchedX, one[i].matchedX);
      ASSERT_EQ(many[i].matchedY, one[i].matchedY);
      ASSERT_EQ(many[i].strength, one[i].strength);
    }
  }
}

namespace {

// Providers that fail in controlled ways.
struct FailingSource {
  SyntheticPlane* plane;
  SInt32 failAfter;  // calls before the failure
  std::atomic<SInt32> calls{0};
};
Boolean ThrowingProvider(float* dest, SInt32 count, Rect block, void* refcon) {
  auto* s = static_cast<FailingSource*>(refcon);
  if (s->calls.fetch_add(1) >= s->failAfter) Throw_(ioErr);
  return SyntheticBlockProvider(dest, count, block, s->plane);
}
Boolean RefusingProvider(float*, SInt32, Rect, void*) { return false; }

}  // namespace

TEST(TrackerFailures, MissingProviderOrRefconChangesNothing) {
  Scene scene(320, 256, 1.0, 0.0, 2.0, 1.0);
  CTracker t(5);
  MatrixRecord m = Identity();
  EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), static_cast<SInt32>('nilP'));
  EXPECT_FALSE(t.mModelValid);

  scene.Attach(t);
  ASSERT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
  const TransData model = t.mModel;
  const SInt32 count = t.mPositions.GetCount();
  const float strength = t.mMeanStrength;
  ASSERT_TRUE(t.mModelValid);
  EXPECT_EQ(t.SetBlockProvider(SyntheticBlockProvider, &scene.current, nullptr, &scene.previous), noErr);
  EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), static_cast<SInt32>('nilP'));
  t.SetBlockProvider(SyntheticBlockProvider, nullptr, SyntheticBlockProvider, &scene.previous);
  EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), static_cast<SInt32>('nilP'));
  EXPECT_TRUE(t.mModelValid);
  EXPECT_EQ(t.mModel.tx, model.tx);
  EXPECT_EQ(t.mPositions.GetCount(), count);
  EXPECT_EQ(t.mMeanStrength, strength);
}

TEST(TrackerFailures, FailedComparisonLeavesNoModelInsteadOfAStandstill) {
  Scene scene(320, 256, 1.0, 0.0, 2.0, 1.0);
  CTracker t(5);
  scene.Attach(t);
  MatrixRecord m = Identity();
  ASSERT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
  ASSERT_TRUE(t.mModelValid);

  // The current picture's provider throws after a few blocks.
  FailingSource failing{&scene.current, 5};
  t.SetBlockProvider(ThrowingProvider, &failing, SyntheticBlockProvider, &scene.previous);
  EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), ioErr);
  EXPECT_FALSE(t.mModelValid);
  EXPECT_EQ(t.mModel.a, 1.0);
  EXPECT_EQ(t.mModel.b, 0.0);
  EXPECT_EQ(t.mModel.tx, 0.0);
  EXPECT_EQ(t.mModel.ty, 0.0);
  EXPECT_EQ(t.mMeanStrength, 0.0f);
  EXPECT_EQ(t.mPositions.GetCount(), 0);

  // FrameCompare itself reports the error and appends nothing.
  FailingSource failing2{&scene.current, 3};
  t.SetBlockProvider(ThrowingProvider, &failing2, SyntheticBlockProvider, &scene.previous);
  TArray<BlockData> blocks;
  for (SInt32 i = 0; i < 12; ++i) blocks.AddItem(BlockData{40 + 32 * (i % 6), 40 + 32 * (i / 6), 40 + 32 * (i % 6), 40});
  TArray<PosData> positions;
  positions.AddItem(PosData{1, 2, 3, 4, 5, 6, true});
  EXPECT_EQ(t.FrameCompare(blocks, positions), ioErr);
  EXPECT_EQ(positions.GetCount(), 1);
  EXPECT_FALSE(blocks.IsLocked());

  // A provider that refuses every block is no failure: no positions, no model.
  t.SetBlockProvider(RefusingProvider, &scene.current, RefusingProvider, &scene.previous);
  EXPECT_EQ(t.DoTrack(scene.trackRect, m, 0.0f), noErr);
  EXPECT_EQ(t.mPositions.GetCount(), 0);
  EXPECT_FALSE(t.mModelValid);

  // A singular prediction cannot place the previous blocks.
  MatrixRecord singular = Identity();
  ScaleMatrix(&singular, 0, 0, 0, 0);
  t.SetBlockProvider(SyntheticBlockProvider, &scene.current, SyntheticBlockProvider, &scene.previous);
  EXPECT_EQ(t.DoTrack(scene.trackRect, singular, 0.0f), paramErr);
  EXPECT_FALSE(t.mModelValid);

  EXPECT_EQ(ErrorOf([] { CTracker bad(1); }), paramErr);
  EXPECT_EQ(ErrorOf([] { CTracker bad(11); }), paramErr);
}

namespace {

// Holds the first block until released, counting every request.
struct GateSource {
  SyntheticPlane* plane;
  std::atomic<bool> entered{false};
  std::atomic<bool> released{false};
  std::atomic<SInt32> calls{0};
};
Boolean GateProvider(float* dest, SInt32 count, Rect block, void* refcon) {
  auto* g = static_cast<GateSource*>(refcon);
  g->calls.fetch_add(1);
  g->entered = true;
  while (!g->released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return SyntheticBlockProvider(dest, count, block, g->plane);
}

}  // namespace

TEST(TrackerFailures, WorkItemStopsAtTheNextBlockWhenAsked) {
  Scene scene(320, 256, 1.0, 0.0, 0.0, 0.0);
  GateSource gate{&scene.current};
  std::vector<BlockData> blocks;
  for (SInt32 i = 0; i < 40; ++i) blocks.push_back(BlockData{40 + 8 * i % 200, 60, 40 + 8 * i % 200, 60});
  FrameTaskData data{GateProvider,
                     SyntheticBlockProvider,
                     &gate,
                     &scene.previous,
                     scene.width,
                     scene.height,
                     0.0f,
                     blocks.data(),
                     static_cast<SInt32>(blocks.size()),
                     5,
                     32,
                     scene.trackRect};
  CTaskGroup group;
  auto* task = new FrameTask(data);
  ASSERT_EQ(group.AddTaskObject(task), noErr);
  ASSERT_EQ(group.RunTasks(0, 0), noErr);
  while (!gate.entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  group.StopTasks(false);
  gate.released = true;
  while (!group.IsComplete(-100)) {
  }
  EXPECT_EQ(group.GetTaskError(), -128);
  EXPECT_EQ(gate.calls.load(), 1);  // no block after the one under way
}

// ---------------------------------------------------------------------------
// Peaks and positions, on constructed correlation surfaces.

namespace {

struct SurfaceHarness {
  static constexpr SInt32 n = 32;
  Rect rect = MakeRect(0, 0, 256, 256);
  BlockData block{96, 64, 93, 66};  // A.left - B.left = 3, A.top - B.top = -2
  std::vector<BlockData> blocks{block};
  FrameTaskData data{SyntheticBlockProvider, SyntheticBlockProvider, nullptr, nullptr, 256, 256, 0.25f,
                     blocks.data(), 1, 5, n, rect};
  FrameTask task{data};
  std::vector<float> surface = std::vector<float>(n * n, 0.0f);

  // The surface holds squared magnitudes at wrapped indices.
  void Set(SInt32 r, SInt32 c, float v) { surface[static_cast<size_t>((r + n) % n) * n + (c + n) % n] = v; }
  TArray<PosData> Find() {
    task.FindPositions(block, surface.data());
    TArray<PosData> out;
    task.GetPositions(out);
    return out;
  }
};

}  // namespace

namespace {

// Opens the planes of a work item to the test.
struct OpenFrameTask : FrameTask {
  using FrameTask::FrameTask;
  using FrameTask::mCurrentReal;
  using FrameTask::mPreviousReal;
};

}  // namespace

TEST(TrackerPeaks, BlockCompareLeavesTheSquaredCorrelationSurface) {
  // The surface at wrapped (r, c) is (N * sum A(x, y) * B(x - c, y - r))^2.
  const SInt32 n = 16, N = n * n;
  BlockData block{40, 40, 40, 40};
  FrameTaskData data{SyntheticBlockProvider, SyntheticBlockProvider, nullptr, nullptr, 128, 128, 0.0f, &block, 1, 4, n,
                     MakeRect(0, 0, 128, 128)};
  OpenFrameTask task(data);
  std::mt19937 gen(21);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> a(N), b(N);
  for (SInt32 i = 0; i < N; ++i) {
    a[i] = d(gen);
    b[i] = d(gen);
  }
  std::copy(a.begin(), a.end(), task.mCurrentReal);
  std::copy(b.begin(), b.end(), task.mPreviousReal);
  task.BlockCompare(block);
  double largest = 0.0;
  std::vector<double> expected(N);
  for (SInt32 r = 0; r < n; ++r)
    for (SInt32 c = 0; c < n; ++c) {
      double sum = 0.0;
      for (SInt32 y = 0; y < n; ++y)
        for (SInt32 x = 0; x < n; ++x) sum += double(a[y * n + x]) * b[((y - r + n) % n) * n + (x - c + n) % n];
      expected[r * n + c] = (N * sum) * (N * sum);
      largest = std::max(largest, expected[r * n + c]);
    }
  for (SInt32 i = 0; i < N; ++i) EXPECT_NEAR(task.mPreviousReal[i], expected[i], 1e-4 * largest) << i;
}

TEST(TrackerPeaks, WindowIsMinusQuarterInclusiveToPlusQuarterExclusive) {
  const struct {
    SInt32 r, c;
    bool accepted;
  } cases[] = {{-8, 0, true}, {0, -8, true}, {7, 7, true}, {-8, -8, true},  {8, 0, false},
               {0, 8, false}, {-9, 0, false}, {0, -9, false}, {15, -16, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "peak at " << k.r << ", " << k.c);
    SurfaceHarness h;
    h.Set(k.r, k.c, 1.0f);
    const TArray<PosData> found = h.Find();
    if (!k.accepted) {
      EXPECT_EQ(found.GetCount(), 0);
      continue;
    }
    ASSERT_EQ(found.GetCount(), 1);
    const PosData& p = found[1];
    // Block centre (96 + 16, 64 + 16) relative to the Rect's centre (128, 128).
    EXPECT_EQ(p.x, -16.0f);
    EXPECT_EQ(p.y, -48.0f);
    EXPECT_FLOAT_EQ(p.matchedX, -16.0f + 3.0f + k.c);
    EXPECT_FLOAT_EQ(p.matchedY, -48.0f - 2.0f + k.r + 0.25f);
    EXPECT_TRUE(p.valid);
    EXPECT_GT(p.strength, 0.0f);
  }
}

TEST(TrackerPeaks, CentroidThresholdAndDegenerateSurfaces) {
  {
    // A peak with one neighbour of half its magnitude: the values are the
    // squares, so the centroid lies a fifth of the way towards it; the
    // neighbour (value 1/4 of the peak) reaches the threshold too.
    SurfaceHarness h;
    h.Set(2, 3, 1.0f);
    h.Set(2, 4, 0.5f);
    const TArray<PosData> found = h.Find();
    ASSERT_EQ(found.GetCount(), 2);
    EXPECT_NEAR(found[1].matchedX, -16.0f + 3.0f + 3.2f, 1e-5);
    EXPECT_NEAR(found[1].matchedY, -48.0f - 2.0f + 2.0f + 0.25f, 1e-5);
    EXPECT_NEAR(found[2].matchedX, found[1].matchedX, 1e-5);  // same 3 x 3 cells
  }
  {
    // Below a quarter of the peak: no second position.
    SurfaceHarness h;
    h.Set(2, 3, 1.0f);
    h.Set(-5, -5, 0.49f);
    EXPECT_EQ(h.Find().GetCount(), 1);
  }
  {
    SurfaceHarness h;  // all zero
    EXPECT_EQ(h.Find().GetCount(), 0);
    h.Set(0, 0, 1e-30f);  // never above the smallest normal float once squared
    EXPECT_EQ(h.Find().GetCount(), 0);
  }
  {
    // A surface that is not finite gives no position.
    SurfaceHarness h;
    h.Set(0, 0, 1.0f);
    h.Set(12, 12, std::numeric_limits<float>::quiet_NaN());
    h.Set(13, 13, std::numeric_limits<float>::infinity());
    EXPECT_EQ(h.Find().GetCount(), 0);
  }
  {
    // Large correlations (bright, unfiltered blocks) must not overflow into
    // unusable weights.
    SurfaceHarness h;
    h.Set(1, -2, 3e30f);
    h.Set(1, -1, 1e30f);
    const TArray<PosData> found = h.Find();
    ASSERT_GE(found.GetCount(), 1);
    EXPECT_TRUE(std::isfinite(found[1].strength));
    EXPECT_NEAR(found[1].matchedX, -16.0f + 3.0f - 2.0f + 0.1f, 1e-4);
  }
}

TEST(TrackerPeaks, TaskKeepsAtMost9999Positions) {
  // A flat window and nothing outside: every one of its 16 x 16 cells reaches
  // the threshold, so each call gives 256 positions.
  SurfaceHarness h;
  for (SInt32 r = -8; r < 8; ++r)
    for (SInt32 c = -8; c < 8; ++c) h.Set(r, c, 1.0f);
  for (SInt32 i = 0; i < 38; ++i) h.task.FindPositions(h.block, h.surface.data());
  EXPECT_EQ(h.task.GetPositionCount(), 38 * 256);
  for (SInt32 i = 0; i < 3; ++i) h.task.FindPositions(h.block, h.surface.data());
  EXPECT_EQ(h.task.GetPositionCount(), 9999);
  TArray<PosData> out;
  h.task.GetPositions(out);
  EXPECT_EQ(out.GetCount(), 9999);
}

TEST(TrackerOps, FFTAndComplexMultiplyRefuseMissingPointers) {
  float re[16] = {}, im[16] = {};
  FFTSetup setup = create_fftsetup(2, kFFTRadix2);
  EXPECT_EQ(ErrorOf([&] { FrameTask::FFT(nullptr, re, im, 2, 2, 1, nullptr, nullptr); }), err_NilPointer);
  EXPECT_EQ(ErrorOf([&] { FrameTask::FFT(setup, re, nullptr, 2, 2, 1, nullptr, nullptr); }), err_NilPointer);
  re[0] = 1.0f;
  EXPECT_EQ(ErrorOf([&] { FrameTask::FFT(setup, re, im, 2, 2, 1, nullptr, nullptr); }), noErr);
  for (float v : re) EXPECT_FLOAT_EQ(v, 1.0f);  // a delta transforms to ones
  destroy_fftsetup(setup);
  EXPECT_EQ(ErrorOf([&] { FrameTask::ComplexMultiply(re, im, re, im, re, nullptr, 16, -1); }), err_NilPointer);
  EXPECT_EQ(ErrorOf([&] { FrameTask::ComplexMultiply(re, im, re, im, re, im, 16, -1); }), noErr);
}

// ---------------------------------------------------------------------------
// The model fit.

namespace {

// Positions that follow a known model, with some gross outliers.
TArray<PosData> MakePositions(const TransData& m, SInt32 count, SInt32 outliers, UInt32 seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> ux(-200, 200), uy(-120, 120), noise(-0.2, 0.2), wild(-12, 12),
      weight(5, 50);
  TArray<PosData> out;
  for (SInt32 i = 0; i < count; ++i) {
    const double X = ux(gen), Y = uy(gen);
    double mx = m.a * X + m.b * Y + m.tx + noise(gen), my = -m.b * X + m.a * Y + m.ty + noise(gen);
    if (i % (count / std::max<SInt32>(outliers, 1)) == 0 && outliers > 0) {
      mx += wild(gen) + 6;
      my -= wild(gen) + 6;
    }
    out.AddItem(PosData{float(X), float(Y), float(mx), float(my), float(weight(gen)), 0.0f, true});
  }
  return out;
}

// The fit as a literal gradient descent over the positions, for comparison.
void ReferenceFit(CTracker& t, TransData& m, TArray<PosData>& pos) {
  m = {1, 0, 0, 0};
  const SInt32 count = pos.GetCount();
  const SInt32 minimum = std::min(count, std::max(count / 8, SInt32{4}));
  SInt32 remaining = count;
  const double diag = std::hypot(t.mWidth, t.mHeight), area = double(t.mWidth) * t.mHeight;
  for (;;) {
    double threshold = t.mSide;
    for (SInt32 it = 0; it < 1000;) {
      const double gx = CTracker::Deriv_c(&m, pos.data(), count);
      m.tx -= 0.1 * gx;
      const double gy = CTracker::Deriv_d(&m, pos.data(), count);
      m.ty -= 0.1 * gy;
      const double ga = CTracker::Deriv_a(&m, pos.data(), count) / area;
      m.a -= 0.1 * ga;
      const double gb = CTracker::Deriv_b(&m, pos.data(), count) / area;
      m.b -= 0.1 * gb;
      ++it;
      if (std::fabs(ga) < 0.1 / diag && std::fabs(gb) < 0.1 / diag && std::fabs(gx) < 0.1 && std::fabs(gy) < 0.1)
        break;
    }
    CTracker::ComputeDiscrepancy(&m, pos);
    SInt32 bad;
    do {
      threshold /= 1.4;
      bad = t.CountBadPoints(pos, threshold);
    } while (bad == 0 && threshold >= 1.0);
    if (bad == 0 || threshold < 1.0 || remaining - bad < minimum) break;
    remaining -= bad;
    t.EliminateBadPoints(pos, threshold);
  }
}

}  // namespace

TEST(TrackerFit, MatchesTheLiteralDescentAndDropsOutliers) {
  CTracker t(5);
  t.mWidth = 480;
  t.mHeight = 300;
  const TransData truth{1.006, -0.004, 2.5, -1.5};
  TArray<PosData> positions = MakePositions(truth, 400, 40, 3);
  TArray<PosData> reference = positions;
  TransData fitted, expected;
  ASSERT_TRUE(t.CalcModelParams(&fitted, positions));
  ReferenceFit(t, expected, reference);
  EXPECT_NEAR(fitted.a, expected.a, 1e-9);
  EXPECT_NEAR(fitted.b, expected.b, 1e-9);
  EXPECT_NEAR(fitted.tx, expected.tx, 1e-7);
  EXPECT_NEAR(fitted.ty, expected.ty, 1e-7);
  SInt32 valid = 0, same = 0;
  for (SInt32 i = 1; i <= positions.GetCount(); ++i) {
    valid += positions[i].valid;
    same += positions[i].valid == reference[i].valid;
  }
  EXPECT_EQ(same, positions.GetCount());
  EXPECT_LE(valid, 370);  // the gross outliers are gone
  EXPECT_GE(valid, 300);
  EXPECT_NEAR(fitted.tx, truth.tx, 0.15);
  EXPECT_NEAR(fitted.a, truth.a, 2e-3);
  EXPECT_NEAR(fitted.b, truth.b, 2e-3);
}

TEST(TrackerFit, NeverKeepsFewerThanFourAndNeedsAPosition) {
  CTracker t(5);
  t.mWidth = 320;
  t.mHeight = 240;
  TransData m;
  TArray<PosData> none;
  EXPECT_FALSE(t.CalcModelParams(&m, none));
  EXPECT_EQ(m.a, 1.0);
  EXPECT_EQ(m.tx, 0.0);
  // Seven positions that disagree wildly: outlier passes stop at four.
  TArray<PosData> wild;
  const float offsets[] = {0, 0, 9, -9, 14, -14, 20};
  for (SInt32 i = 0; i < 7; ++i)
    wild.AddItem(PosData{float(20 * i - 60), float(10 * i), float(20 * i - 60) + offsets[i], float(10 * i), 1.0f, 0,
                         true});
  EXPECT_TRUE(t.CalcModelParams(&m, wild));
  SInt32 valid = 0;
  for (const PosData& p : wild) valid += p.valid;
  EXPECT_GE(valid, 4);
  EXPECT_TRUE(std::isnan(CTracker::Deriv_a(&m, wild.data(), 0)));
  EXPECT_TRUE(std::isnan(CTracker::Deriv_c(&m, wild.data(), 0)));
}

TEST(TrackerFit, TransformMatrixMapsPointsLikeTheModel) {
  CTracker t(5);
  t.mTrackRect = MakeRect(20, 10, 320, 410);
  // b is a small-angle rotation: the matrix turns by b radians after scaling
  // by a; its 16.16 elements hold the rest to a few hundredths of a pixel.
  t.mModel = {1.01, 0.004, 3.5, -2.25};
  t.mModelValid = true;
  MatrixRecord m;
  EXPECT_TRUE(t.GetTransformMatrix(m));
  const DMatrix d = MatrixToDouble(m);
  const double cx = 210, cy = 170;
  for (const auto& p : {std::pair{10.0, 20.0}, std::pair{410.0, 320.0}, std::pair{210.0, 170.0},
                        std::pair{300.0, 50.0}}) {
    double x = p.first, y = p.second;
    DMatrixTransform(d, x, y);
    const double X = p.first - cx, Y = p.second - cy;
    EXPECT_NEAR(x, cx + t.mModel.a * X + t.mModel.b * Y + t.mModel.tx, 3e-2);
    EXPECT_NEAR(y, cy - t.mModel.b * X + t.mModel.a * Y + t.mModel.ty, 3e-2);
  }
  t.mModelValid = false;
  EXPECT_FALSE(t.GetTransformMatrix(m));
}
