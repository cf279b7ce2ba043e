// The whole correction road on a synthetic shaky sequence: measured by the
// automatic tracker, turned into corrections, stored as a control track in a
// movie, read back and rendered frame by frame; the rendered frames measured
// again must be steady while the intended pan stays.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CMotionData.h"
#include "platform/base/FixMath.h"
#include "support/SyntheticScene.h"

namespace {

constexpr SInt16 kW = 320, kH = 240;
constexpr int kFrames = 60;
constexpr SInt32 kFrameDuration = 40;  // 25 frames per second at scale 1000
constexpr double kPan = 1.0;           // intended camera pan, pixels per frame

struct CameraPose {
  double x, y, angle;
};

// The frame the camera sees in a pose: the scene moved by the pose about the
// frame centre, grey in 32-bit ARGB.
void RenderPose(const SyntheticPicture& scene, const CameraPose& pose, CBuffer* frame) {
  const double cx = kW * 0.5, cy = kH * 0.5;
  const double c = std::cos(pose.angle), s = std::sin(pose.angle);
  const double ox = (scene.width - kW) * 0.5, oy = (scene.height - kH) * 0.5;
  for (SInt32 y = 0; y < kH; ++y) {
    auto* row = reinterpret_cast<UInt8*>(frame->GetData()) + static_cast<size_t>(y) * frame->GetRowBytes();
    for (SInt32 x = 0; x < kW; ++x) {
      double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      double sx = c * dx - s * dy + cx + pose.x + ox - 0.5;
      double sy = s * dx + c * dy + cy + pose.y + oy - 0.5;
      double v = USyntheticScene::SampleBilinear(scene, sx, sy);
      UInt8 g = static_cast<UInt8>(std::clamp(v, 0.0, 255.0) + 0.5);
      row[4 * x] = 255;
      row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = g;
    }
  }
}

std::vector<DiffMotionData> Measure(const std::vector<CBuffer*>& frames, Rect area) {
  CAutoMotionTracker tracker;
  CBuffer* work = new CBuffer(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  EXPECT_EQ(tracker.BeginTracking(work, area, nullptr, nullptr), noErr);
  for (CBuffer* f : frames) {
    std::memcpy(work->GetData(), f->GetData(), static_cast<size_t>(f->GetDataSize()));
    EXPECT_EQ(tracker.ProcessFrame(kFrameDuration, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  tracker.EndTracking();
  work->Release();
  std::vector<DiffMotionData> out(tracker.GetMotionDataArray().begin(), tracker.GetMotionDataArray().end());
  for (size_t i = 0; i < out.size(); ++i) {
    out[i].time = static_cast<SInt32>(i) * kFrameDuration;
    out[i].duration = kFrameDuration;
  }
  return out;
}

}  // namespace

TEST(Pipeline, ShakyPanComesOutSteady) {
  const SyntheticPicture scene = USyntheticScene::MakeTexture(kW + 200, kH + 80, 11);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> jitter(-2.5, 2.5), tilt(-0.003, 0.003);
  std::vector<CBuffer*> frames;
  for (int i = 0; i < kFrames; ++i) {
    CameraPose pose{kPan * (i - kFrames / 2), jitter(rng), tilt(rng)};
    pose.x += jitter(rng);
    CBuffer* f = new CBuffer(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
    RenderPose(scene, pose, f);
    frames.push_back(f);
  }

  // Measure and correct.
  std::vector<DiffMotionData> measured = Measure(frames, Rect{0, 0, kH, kW});
  ASSERT_EQ(measured.size(), static_cast<size_t>(kFrames));
  CMotionData store;
  store.SetRecords(measured, Rect{0, 0, kH, kW}, 1000, kFrames * kFrameDuration);
  MotionSettings settings;
  settings.lowpassTime = 0.6f;
  settings.doHorizontal = settings.doVertical = settings.doRotation = 1;
  settings.doZoom = 0;
  settings.zoomMode = kZoomNone;
  ASSERT_EQ(store.CreateMatrices(&settings, 0.02f), noErr);

  // Store the corrections in a movie's control track and render from it.
  EnterMovies();
  Movie movie = NewMovie(0);
  ASSERT_NE(movie, nullptr);
  SetMovieTimeScale(movie, 1000);
  Track track = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, Rect{0, 0, kH, kW}, store, &track), noErr);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  params.quality = kQualityHigh;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, params), noErr);

  std::vector<CBuffer*> rendered;
  for (int i = 0; i < kFrames; ++i) {
    // As the preview and the export do: the sample at the frame's time, the
    // track's render parameters, then the sample's matrices and measures.
    MatrixRecord first, second;
    float m1 = 0, m2 = 0;
    Track from = nullptr;
    ASSERT_TRUE(CMovieRendering::GetTweenSample(movie, i * kFrameDuration + 1, first, second, m1, m2, &from)) << i;
    RenderFrameParams p;
    ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(from, p), noErr);
    p.firstMatrix = first;
    p.secondMatrix = second;
    p.firstMeasure = m1;
    p.secondMeasure = m2;
    CBuffer* out = new CBuffer(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
    ASSERT_EQ(CMovieRendering::RenderFrame(frames[static_cast<size_t>(i)], out, &p), noErr);
    rendered.push_back(out);
  }
  DisposeMovie(movie);

  // Measure the output inside the margins the correction may uncover.
  std::vector<DiffMotionData> after = Measure(rendered, Rect{24, 24, kH - 24, kW - 24});
  ASSERT_EQ(after.size(), static_cast<size_t>(kFrames));
  double sumX = 0, n = 0;
  for (int i = 10; i < kFrames - 10; ++i) {
    sumX += after[static_cast<size_t>(i)].xShift;
    ++n;
  }
  const double meanX = sumX / n;
  EXPECT_NEAR(meanX, -kPan, 0.3) << "the intended pan must stay";
  double residual = 0, before = 0;
  for (int i = 10; i < kFrames - 10; ++i) {
    const DiffMotionData& a = after[static_cast<size_t>(i)];
    const DiffMotionData& b = measured[static_cast<size_t>(i)];
    residual += (a.xShift - meanX) * (a.xShift - meanX) + a.yShift * a.yShift;
    before += (b.xShift + kPan) * (b.xShift + kPan) + b.yShift * b.yShift;
    // No frame is blank: the centre shows the picture.
    const UInt8* centre = reinterpret_cast<const UInt8*>(rendered[static_cast<size_t>(i)]->GetData()) +
                          static_cast<size_t>(kH / 2) * rendered[static_cast<size_t>(i)]->GetRowBytes() + 4 * (kW / 2);
    EXPECT_EQ(centre[0], 255);
  }
  residual = std::sqrt(residual / n);
  before = std::sqrt(before / n);
  EXPECT_GT(before, 1.5) << "the input must really shake";
  EXPECT_LT(residual, 0.3) << "residual motion after stabilisation, px RMS (before: " << before << ")";
  RecordProperty("residual_px_rms", std::to_string(residual));
  RecordProperty("input_px_rms", std::to_string(before));

  for (CBuffer* b : frames) b->Release();
  for (CBuffer* b : rendered) b->Release();
}
