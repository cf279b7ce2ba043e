// Scene cuts on footage measured by the automatic tracker: soft, grainy
// pictures of a photograph-like scene shaken by known amounts. Frames that
// repeat (as frame-rate-converted footage has) split nothing and are
// steadied as well as the same shake without repeats; two unrelated scenes
// joined end to end split exactly at the joint, each side corrected as if
// alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "StabiliseClip.h"
#include "platform/base/ImageMatrix.h"

using namespace stabclip;

namespace {

// Every third frame shows the frame before it again (picture and grain).
std::vector<ClipFrame> WithRepeats(const std::vector<ClipFrame>& inClip) {
  std::vector<ClipFrame> out = inClip;
  for (size_t i = 2; i < out.size(); i += 3) out[i] = out[i - 1];
  return out;
}

// The largest distance between where two corrections put the same points.
double Difference(const MatrixRecord& inA, const MatrixRecord& inB) {
  const DMatrix a = MatrixToDouble(inA), b = MatrixToDouble(inB);
  double largest = 0;
  for (double y : {kHeight * 0.25, kHeight * 0.75})
    for (double x : {kWidth * 0.25, kWidth * 0.75}) {
      double ax = x, ay = y, bx = x, by = y;
      DMatrixTransform(a, ax, ay);
      DMatrixTransform(b, bx, by);
      largest = std::max(largest, std::hypot(ax - bx, ay - by));
    }
  return largest;
}

}  // namespace

TEST(SceneCuts, RepeatedFramesSplitNothingAndAreSteadiedAsWell) {
  const std::vector<shaky::Texture> scenes = MakeScenes({2026});
  const std::vector<ClipFrame> plain = ShakenClip(0, 60, 3);
  const std::vector<ClipFrame> repeated = WithRepeats(plain);
  const std::vector<DiffMotionData> plainRecords = Measure(scenes, plain);
  const std::vector<DiffMotionData> records = Measure(scenes, repeated);
  ASSERT_EQ(records.size(), repeated.size());
  // A repeated picture measures no motion (within rounding).
  for (size_t i = 2; i < records.size(); i += 3) {
    EXPECT_NEAR(records[i].xShift, 0.0f, 1e-5) << i;
    EXPECT_NEAR(records[i].yShift, 0.0f, 1e-5) << i;
  }
  const std::vector<SInt32> cuts = SceneStarts(records);
  EXPECT_TRUE(cuts.empty()) << cuts.size() << " cuts, the first at " << (cuts.empty() ? -1 : cuts[0]);

  const MotionSettings settings = DocumentSettings(1.0f);
  const std::vector<FrameData> corrections = Correct(records, settings);
  const std::vector<FrameData> plainCorrections = Correct(plainRecords, settings);
  ASSERT_EQ(corrections.size(), repeated.size());
  ASSERT_EQ(plainCorrections.size(), plain.size());
  // The camera never leaves its rest pose by more than the shake's limits
  // (shifts of 4 px each way, turns of 0.004 rad at the points measured);
  // no correction may throw a frame further than that.
  const double shake = std::hypot(4.0, 4.0) + 0.004 * std::hypot(kWidth * 0.25, kHeight * 0.25);
  double largest = 0, plainLargest = 0;
  for (size_t i = 0; i < corrections.size(); ++i) {
    largest = std::max(largest, CorrectionSize(corrections[i].matrix1));
    plainLargest = std::max(plainLargest, CorrectionSize(plainCorrections[i].matrix1));
    EXPECT_LE(CorrectionSize(corrections[i].matrix1), shake) << "frame " << i;
  }
  std::printf("largest correction %.2f px (without repeats %.2f), shake limit %.2f\n", largest, plainLargest, shake);

  const double residual = Jitter(repeated, &corrections), plainResidual = Jitter(plain, &plainCorrections);
  const double input = Jitter(repeated, nullptr);
  EXPECT_LT(residual, input * 0.5) << "input " << input;
  EXPECT_LE(residual, plainResidual * 1.1) << "without repeats " << plainResidual;
  std::printf("residual %.3f px, without repeats %.3f px, input %.3f px\n", residual, plainResidual, input);
  RecordProperty("residual_px_rms", std::to_string(residual));
  RecordProperty("residual_without_repeats_px_rms", std::to_string(plainResidual));
  RecordProperty("input_px_rms", std::to_string(input));
}

TEST(SceneCuts, TwoUnrelatedScenesJoinedSplitAtTheJointOnly) {
  const std::vector<shaky::Texture> scenes = MakeScenes({2026, 77});
  const std::vector<ClipFrame> first = ShakenClip(0, 40, 3), second = ShakenClip(1, 40, 4);
  std::vector<ClipFrame> joined = first;
  joined.insert(joined.end(), second.begin(), second.end());
  const std::vector<DiffMotionData> records = Measure(scenes, joined);
  ASSERT_EQ(records.size(), joined.size());
  EXPECT_EQ(SceneStarts(records), std::vector<SInt32>{40});

  // The quality at the joint lies far below its neighbours'.
  const double around = 0.5 * (records[39].quality + records[41].quality);
  EXPECT_LT(records[40].quality, 0.5 * around) << "around " << around;

  const MotionSettings settings = DocumentSettings(1.0f);
  const std::vector<FrameData> corrections = Correct(records, settings);
  const std::vector<FrameData> alone1 = Correct(Measure(scenes, first), settings);
  const std::vector<FrameData> alone2 = Correct(Measure(scenes, second), settings);
  ASSERT_EQ(corrections.size(), joined.size());
  ASSERT_EQ(alone1.size(), first.size());
  ASSERT_EQ(alone2.size(), second.size());
  double worst = 0;
  for (size_t i = 0; i < first.size(); ++i) {
    const double d = Difference(corrections[i].matrix1, alone1[i].matrix1);
    worst = std::max(worst, d);
    EXPECT_LE(d, 0.5) << "first scene, frame " << i;
  }
  for (size_t i = 0; i < second.size(); ++i) {
    const double d = Difference(corrections[first.size() + i].matrix1, alone2[i].matrix1);
    worst = std::max(worst, d);
    EXPECT_LE(d, 0.5) << "second scene, frame " << i;
  }
  RecordProperty("largest_difference_px", std::to_string(worst));
  EXPECT_LT(Jitter(joined, &corrections), Jitter(joined, nullptr) * 0.5);
}
