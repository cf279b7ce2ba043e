#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/BufferSupport.h"

using namespace buffertest;

namespace {

// The component a selector addresses: red 1, green 2, blue 4, anything else alpha.
int SelectedComponent(const CBuffer& b, SInt16 channel) {
  if (b.GetMode() == kBufferModeGray) return 0;
  return channel == 1 ? 1 : channel == 2 ? 2 : channel == 4 ? 3 : 0;
}

}  // namespace

TEST(FloatConversion, ToFloatMatchesEveryPixelAtEveryBandCount) {
  const Rect bounds = R(-4, 3, 29, 40);
  const Rect rect = R(-1, 5, 26, 37);
  const SInt32 w = rect.right - rect.left, h = rect.bottom - rect.top;
  for (const Format& f : kFormats)
    for (SInt16 channel : {0, 1, 2, 3, 4, 8}) {
      CBuffer b(bounds, f.depth, f.mode);
      FillRandom(b, 7 + channel);
      const int k = SelectedComponent(b, channel);
      std::vector<float> expected(static_cast<size_t>(w * h));
      for (SInt32 r = 0; r < h; ++r)
        for (SInt32 c = 0; c < w; ++c)
          expected[r * w + c] = static_cast<float>(Comp(b, rect.top + r, rect.left + c, k)) * 0.37f + -3.5f;
      for (SInt32 bands : kBandCounts) {
        SCOPED_TRACE(testing::Message() << f.depth << "/" << f.mode << " channel " << channel << " bands " << bands);
        std::vector<float> out(expected.size(), -99.0f);
        WithBands(bands, [&] { EXPECT_EQ(0, b.CopyToFloat(rect, out.data(), channel, 0.37f, -3.5f, nullptr, nullptr)); });
        EXPECT_EQ(0, std::memcmp(out.data(), expected.data(), expected.size() * sizeof(float)));
      }
    }
}

TEST(FloatConversion, FromFloatWritesOnlyTheSelectedComponentAtEveryBandCount) {
  const Rect bounds = R(2, -6, 21, 17);
  const Rect rect = R(4, -5, 20, 15);
  const SInt32 w = rect.right - rect.left, h = rect.bottom - rect.top;
  std::vector<float> floats(static_cast<size_t>(w * h));
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> dist(-70000.0f, 70000.0f);
  for (float& x : floats) x = dist(gen);
  for (const Format& f : kFormats)
    for (SInt16 channel : {1, 2, 4, 3}) {
      CBuffer original(bounds, f.depth, f.mode);
      FillRandom(original, 11);
      CBuffer expected(original, nullptr, true);
      const int k = SelectedComponent(original, channel);
      for (SInt32 r = 0; r < h; ++r)
        for (SInt32 c = 0; c < w; ++c) {
          const float x = 0.5f * floats[r * w + c] + 2.25f;
          SetComp(expected, rect.top + r, rect.left + c, k, static_cast<UInt32>(static_cast<SInt32>(x)));
        }
      for (SInt32 bands : kBandCounts) {
        SCOPED_TRACE(testing::Message() << f.depth << "/" << f.mode << " channel " << channel << " bands " << bands);
        CBuffer b(original, nullptr, true);
        WithBands(bands, [&] { EXPECT_EQ(0, b.CopyFromFloat(rect, floats.data(), channel, 0.5f, 2.25f, nullptr, nullptr)); });
        EXPECT_EQ(Snapshot(expected), Snapshot(b));
      }
    }
}

TEST(FloatConversion, RoundTripWithUnitScaleRestoresEveryComponent) {
  for (const Format& f : kFormats) {
    CBuffer b(R(0, 0, 13, 9), f.depth, f.mode);
    FillRandom(b, 5);
    const std::vector<UInt8> before = Snapshot(b);
    std::vector<float> floats(13 * 9);
    for (SInt16 channel : {0, 1, 2, 4}) {
      ASSERT_EQ(0, b.CopyToFloat(b.GetBounds(), floats.data(), channel, 1.0f, 0.0f, nullptr, nullptr));
      ASSERT_EQ(0, b.CopyFromFloat(b.GetBounds(), floats.data(), channel, 1.0f, 0.0f, nullptr, nullptr));
    }
    EXPECT_EQ(before, Snapshot(b));
  }
}

TEST(FloatConversion, TruncationWrapsInRangeAndHoldsTheEndsBeyondIt) {
  CBuffer b8(R(0, 0, 1, 9), 1, 1), b16(R(0, 0, 1, 9), 2, 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float in[9] = {256.0f, -1.0f, 2.9f, -0.5f, 65537.0f, nan, 1e20f, -1e20f, inf};
  ASSERT_EQ(0, b8.CopyFromFloat(b8.GetBounds(), in, 0, 1.0f, 0.0f, nullptr, nullptr));
  ASSERT_EQ(0, b16.CopyFromFloat(b16.GetBounds(), in, 0, 1.0f, 0.0f, nullptr, nullptr));
  // Beyond the 32-bit range the value is held at 2147483520 (0x7FFFFF80) or -2^31.
  const UInt32 want8[9] = {0, 255, 2, 0, 1, 0, 0x80, 0, 0x80};
  const UInt32 want16[9] = {256, 65535, 2, 0, 1, 0, 0xFF80, 0, 0xFF80};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(want8[i], Comp(b8, 0, i, 0)) << i;
    EXPECT_EQ(want16[i], Comp(b16, 0, i, 0)) << i;
  }
}

TEST(FloatConversion, RectanglesAndArraysAreChecked) {
  CBuffer b(R(0, 0, 10, 10), 1, 2);
  FillRandom(b, 9);
  const std::vector<UInt8> before = Snapshot(b);
  std::vector<float> floats(400, 1.0f);
  // An empty rectangle converts nothing, wherever it lies.
  EXPECT_EQ(0, b.CopyFromFloat(R(50, 50, 50, 60), floats.data(), 1, 1.0f, 0.0f, nullptr, nullptr));
  EXPECT_EQ(0, b.CopyToFloat(R(3, 3, 3, 8), floats.data(), 1, 1.0f, 0.0f, nullptr, nullptr));
  // A rectangle reaching outside the buffer is refused before anything is written.
  EXPECT_EQ(paramErr, b.CopyFromFloat(R(5, 5, 11, 9), floats.data(), 1, 1.0f, 0.0f, nullptr, nullptr));
  EXPECT_EQ(paramErr, b.CopyToFloat(R(-1, 0, 4, 4), floats.data(), 1, 1.0f, 0.0f, nullptr, nullptr));
  EXPECT_EQ(before, Snapshot(b));
  EXPECT_EQ(27728, b.CopyToFloat(R(0, 0, 2, 2), nullptr, 1, 1.0f, 0.0f, nullptr, nullptr));
  EXPECT_EQ(27728, b.CopyFromFloat(R(0, 0, 2, 2), nullptr, 1, 1.0f, 0.0f, nullptr, nullptr));
  CBuffer wide(R(0, 0, 2, 2), 3, 1);
  EXPECT_EQ(paramErr, wide.CopyToFloat(R(0, 0, 2, 2), floats.data(), 0, 1.0f, 0.0f, nullptr, nullptr));
}

TEST(FloatConversion, FewerRowsThanBandsGiveTheOneBandResult) {
  CBuffer b(R(0, 0, 2, 7), 2, 2);
  FillRandom(b, 21);
  // The array holds exactly the rectangle: empty trailing bands stay inside it.
  std::vector<float> one(2 * 7), eight(2 * 7);
  WithBands(1, [&] { ASSERT_EQ(0, b.CopyToFloat(b.GetBounds(), one.data(), 2, 3.0f, 1.0f, nullptr, nullptr)); });
  WithBands(8, [&] { ASSERT_EQ(0, b.CopyToFloat(b.GetBounds(), eight.data(), 2, 3.0f, 1.0f, nullptr, nullptr)); });
  EXPECT_EQ(one, eight);
  CBuffer c1(b, nullptr, true), c8(b, nullptr, true);
  WithBands(1, [&] { ASSERT_EQ(0, c1.CopyFromFloat(c1.GetBounds(), one.data(), 4, 7.0f, 0.5f, nullptr, nullptr)); });
  WithBands(8, [&] { ASSERT_EQ(0, c8.CopyFromFloat(c8.GetBounds(), one.data(), 4, 7.0f, 0.5f, nullptr, nullptr)); });
  EXPECT_EQ(Snapshot(c1), Snapshot(c8));
}
