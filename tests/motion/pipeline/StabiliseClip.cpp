#include "StabiliseClip.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "motion/CAutoMotionTracker.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/LException.h"

namespace stabclip {

namespace {

// The scene points the jitter follows: the centre and four points halfway
// to the corners, so that a turn counts as well as a shift.
const std::complex<double> kProbes[] = {
    {0.0, 0.0}, {-kWidth * 0.25, -kHeight * 0.25}, {kWidth * 0.25, -kHeight * 0.25},
    {kWidth * 0.25, kHeight * 0.25}, {-kWidth * 0.25, kHeight * 0.25}};

// Adds the frame's sensor noise, the same to red, green and blue.
void AddGrain(CBuffer* ioFrame, UInt32 inGrain) {
  if (inGrain == 0) return;
  std::mt19937 random(inGrain);
  std::normal_distribution<double> noise(0.0, kNoiseLevel);
  for (SInt32 y = 0; y < kHeight; ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(ioFrame->GetData()) + static_cast<size_t>(y) * ioFrame->GetRowBytes();
    for (SInt32 x = 0; x < kWidth; ++x) {
      const double n = noise(random);
      for (int c = 1; c <= 3; ++c) row[4 * x + c] = static_cast<UInt8>(std::clamp(row[4 * x + c] + n, 0.0, 255.0) + 0.5);
    }
  }
}

}  // namespace

std::vector<ClipFrame> ShakenClip(int inScene, SInt32 inCount, UInt32 inSeed) {
  std::vector<ClipFrame> clip;
  for (const shaky::Pose& p : shaky::MakePoses(inCount, 4.0, 0.004, 0.0, inSeed))
    clip.push_back({inScene, p, inSeed * 1000 + static_cast<UInt32>(clip.size()) + 1});
  return clip;
}

std::vector<shaky::Texture> MakeScenes(const std::vector<UInt32>& inSeeds) {
  std::vector<shaky::Texture> scenes;
  for (UInt32 seed : inSeeds) {
    // Soft, as footage through a real lens is: a 5 x 5 box blur.
    const shaky::Texture sharp = shaky::MakePhotoTexture(kWidth + 160, kHeight + 120, seed);
    shaky::Texture soft = sharp;
    for (SInt32 y = 2; y < sharp.height - 2; ++y)
      for (SInt32 x = 2; x < sharp.width - 2; ++x) {
        float sum = 0;
        for (SInt32 dy = -2; dy <= 2; ++dy)
          for (SInt32 dx = -2; dx <= 2; ++dx) sum += sharp.At(x + dx, y + dy);
        soft.pixels[static_cast<size_t>(y) * sharp.width + x] = sum / 25.0f;
      }
    scenes.push_back(soft);
  }
  return scenes;
}

std::vector<DiffMotionData> Measure(const std::vector<shaky::Texture>& inScenes, const std::vector<ClipFrame>& inClip) {
  StBufferOwner frame(shaky::NewFrame(kWidth, kHeight));
  CAutoMotionTracker tracker;
  if (tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr) != noErr) return {};
  for (const ClipFrame& f : inClip) {
    shaky::Render(inScenes[static_cast<size_t>(f.scene)], f.pose, frame.get());
    AddGrain(frame.get(), f.grain);
    if (tracker.ProcessFrame(kFrameDuration, ETrackerFieldMode::kFrame, nullptr, nullptr) != noErr) return {};
  }
  tracker.EndTracking();
  std::vector<DiffMotionData> out(tracker.GetMotionDataArray().begin(), tracker.GetMotionDataArray().end());
  for (size_t i = 0; i < out.size(); ++i) {
    out[i].time = static_cast<SInt32>(i) * kFrameDuration;
    out[i].duration = kFrameDuration;
  }
  return out;
}

MotionSettings DocumentSettings(Float32 inSmoothingTime) {
  MotionSettings s;
  s.lowpassTime = inSmoothingTime;
  s.doHorizontal = s.doVertical = 1;
  s.doRotation = 0;
  s.doZoom = 0;
  s.zoomMode = kZoomNone;
  return s;
}

std::vector<FrameData> Correct(const std::vector<DiffMotionData>& inRecords, MotionSettings inSettings) {
  CMotionData store;
  const SInt32 n = static_cast<SInt32>(inRecords.size());
  store.SetRecords(inRecords, Rect{0, 0, kHeight, kWidth}, kTimeScale, n * kFrameDuration);
  if (store.CreateMatrices(&inSettings, 0.02f) != noErr) return {};
  return std::vector<FrameData>(store.GetFrames().begin(), store.GetFrames().end());
}

std::vector<SInt32> SceneStarts(const std::vector<DiffMotionData>& inRecords) {
  CMotionData store;
  const SInt32 n = static_cast<SInt32>(inRecords.size());
  store.SetRecords(inRecords, Rect{0, 0, kHeight, kWidth}, kTimeScale, n * kFrameDuration);
  MotionSettings s = DocumentSettings(1.0f);
  TArray<FFData> records;
  TArray<TrackInfo> scenes;
  std::vector<SInt32> starts;
  if (store.Transfer(&s, records) != noErr || store.SplitIntoScenes(records, scenes) != noErr) return starts;
  for (const TrackInfo& t : scenes)
    if (t.first > 0) starts.push_back(t.first);
  return starts;
}

void OutputPoint(const ClipFrame& inFrame, const MatrixRecord& inCorrection, std::complex<double> inZ, double& outX,
                 double& outY) {
  const std::complex<double> p = inFrame.pose.c * inZ + inFrame.pose.t;
  outX = p.real() + kWidth * 0.5;
  outY = p.imag() + kHeight * 0.5;
  DMatrixTransform(MatrixToDouble(inCorrection), outX, outY);
}

double Jitter(const std::vector<ClipFrame>& inClip, const std::vector<FrameData>* inCorrections) {
  MatrixRecord identity;
  SetIdentityMatrix(&identity);
  auto correction = [&](size_t i) -> const MatrixRecord& {
    return inCorrections && i < inCorrections->size() ? (*inCorrections)[i].matrix1 : identity;
  };
  std::vector<double> dx, dy;
  for (size_t i = 1; i < inClip.size(); ++i) {
    if (inClip[i].scene != inClip[i - 1].scene) continue;
    for (std::complex<double> z : kProbes) {
      double x0, y0, x1, y1;
      OutputPoint(inClip[i - 1], correction(i - 1), z, x0, y0);
      OutputPoint(inClip[i], correction(i), z, x1, y1);
      dx.push_back(x1 - x0);
      dy.push_back(y1 - y0);
    }
  }
  if (dx.empty()) return 0.0;
  double mx = 0, my = 0;
  for (size_t k = 0; k < dx.size(); ++k) {
    mx += dx[k];
    my += dy[k];
  }
  mx /= static_cast<double>(dx.size());
  my /= static_cast<double>(dy.size());
  double sum = 0;
  for (size_t k = 0; k < dx.size(); ++k) sum += (dx[k] - mx) * (dx[k] - mx) + (dy[k] - my) * (dy[k] - my);
  return std::sqrt(sum / static_cast<double>(dx.size()));
}

double CorrectionSize(const MatrixRecord& inCorrection) {
  const DMatrix m = MatrixToDouble(inCorrection);
  double largest = 0;
  for (std::complex<double> z : kProbes) {
    double x = z.real() + kWidth * 0.5, y = z.imag() + kHeight * 0.5;
    const double x0 = x, y0 = y;
    DMatrixTransform(m, x, y);
    largest = std::max(largest, std::hypot(x - x0, y - y0));
  }
  return largest;
}

double ShakeSize(const shaky::Pose& inPose) {
  double largest = 0;
  for (std::complex<double> z : kProbes) largest = std::max(largest, std::abs(inPose.c * z + inPose.t - z));
  return largest;
}

}  // namespace stabclip
