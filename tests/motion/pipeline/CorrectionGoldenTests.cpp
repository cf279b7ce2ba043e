// Golden output of the correction road: the control-track samples computed
// from a fixed clip of measured motion records (no tracker, so no pictures),
// pinned as one checksum of their stored bytes. On a mismatch the test
// prints the new value, so an intended change is one edit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"

TEST(CorrectionGolden, FixedClipGivesTheSameSamples) {
  constexpr int kFrames = 48;
  constexpr SInt32 kDuration = 40;
  std::vector<DiffMotionData> records(kFrames);
  for (int i = 0; i < kFrames; ++i) {
    DiffMotionData& r = records[static_cast<size_t>(i)];
    r = DiffMotionData{};
    r.version = kMotionDataVersion;
    r.quality = 1.0f + 0.01f * static_cast<float>(i % 5);
    // A pan with a fixed shake pattern, a slow turn and a breathing zoom.
    r.xShift = 1.0f + 0.75f * static_cast<float>((i * 7) % 5 - 2);
    r.yShift = 0.5f * static_cast<float>((i * 3) % 7 - 3);
    r.rotation = 0.0005f * static_cast<float>((i * 5) % 9 - 4);
    r.scale = 1.0f + 0.0002f * static_cast<float>((i * 11) % 7 - 3);
    r.time = i * kDuration;
    r.duration = kDuration;
    r.centerX = 160.0f;
    r.centerY = 120.0f;
  }
  CMotionData store;
  store.SetRecords(records, Rect{0, 0, 240, 320}, 1000, kFrames * kDuration);
  MotionSettings settings;
  settings.lowpassTime = 0.6f;
  settings.doHorizontal = settings.doVertical = settings.doRotation = 1;
  settings.doZoom = 1;
  settings.zoomMode = kZoomInset5;
  ASSERT_EQ(store.CreateMatrices(&settings, 0.02f), noErr);

  const TArray<FrameData>& frames = store.GetFrames();
  ASSERT_EQ(frames.GetCount(), kFrames);
  UInt64 hash = 14695981039346656037ull;
  for (SInt32 i = 1; i <= frames.GetCount(); ++i) {
    TweenSample ts;
    ts.first = frames[i].matrix1;
    ts.second = frames[i].matrix2;
    ts.firstMeasure = frames[i].measure1;
    ts.secondMeasure = frames[i].measure2;
    UInt8 bytes[kTweenSampleSize];
    TweenSampleToBytes(ts, bytes);
    for (UInt8 b : bytes) {
      hash ^= b;
      hash *= 1099511628211ull;
    }
  }
  constexpr UInt64 kGolden = 0x6b26479a4480a146ull;
  EXPECT_EQ(hash, kGolden) << "new checksum 0x" << std::hex << hash << "ull";
}
