// The bilinear kernel of image drawing: its scalar form (the fallback of
// targets without SSE2, which no build here compiles into drawing) against
// blends worked out by hand and against the form drawing uses.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/graphics/BilinearKernel.h"

namespace {

// Two pixels (bytes A, R, G, B each) as the 64-bit word a row pair loads.
UInt64 Pair(const UInt8 (&inLeft)[4], const UInt8 (&inRight)[4]) {
  UInt8 bytes[8];
  std::memcpy(bytes, inLeft, 4);
  std::memcpy(bytes + 4, inRight, 4);
  UInt64 word;
  std::memcpy(&word, bytes, 8);
  return word;
}

void Bytes(UInt32 inPixel, UInt8 (&outBytes)[4]) { std::memcpy(outBytes, &inPixel, 4); }

// The blend by its definition: down the columns, then across, each rounded.
UInt8 ByHand(UInt8 p00, UInt8 p01, UInt8 p10, UInt8 p11, UInt32 wu, UInt32 wv) {
  const UInt32 left = (p00 * (256 - wv) + p10 * wv + 128) >> 8;
  const UInt32 right = (p01 * (256 - wv) + p11 * wv + 128) >> 8;
  return static_cast<UInt8>((left * (256 - wu) + right * wu + 128) >> 8);
}

TEST(BilinearKernel, ScalarFormGivesTheCornersAndHalfwayBlends) {
  const UInt8 a[4] = {255, 0, 100, 200}, b[4] = {255, 200, 100, 0};
  const UInt8 c[4] = {255, 0, 0, 0}, d[4] = {255, 255, 255, 255};
  const UInt64 top = Pair(a, b), bottom = Pair(c, d);
  UInt8 out[4];
  // Weights 0 and 256 pick a corner exactly.
  Bytes(Bilinear2x2Scalar(top, bottom, 0, 0), out);
  EXPECT_EQ(std::memcmp(out, a, 4), 0);
  Bytes(Bilinear2x2Scalar(top, bottom, 256, 0), out);
  EXPECT_EQ(std::memcmp(out, b, 4), 0);
  Bytes(Bilinear2x2Scalar(top, bottom, 0, 256), out);
  EXPECT_EQ(std::memcmp(out, c, 4), 0);
  Bytes(Bilinear2x2Scalar(top, bottom, 256, 256), out);
  EXPECT_EQ(std::memcmp(out, d, 4), 0);
  // Halfway across the top row: the mean of a and b.
  Bytes(Bilinear2x2Scalar(top, bottom, 128, 0), out);
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 100);
  EXPECT_EQ(out[2], 100);
  EXPECT_EQ(out[3], 100);
  // The centre of all four.
  Bytes(Bilinear2x2Scalar(top, bottom, 128, 128), out);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(out[k], ByHand(a[k], b[k], c[k], d[k], 128, 128)) << k;
}

TEST(BilinearKernel, ScalarFormMatchesTheBlendByHandAndTheFormDrawingUses) {
  std::mt19937 random(20261211);
  std::uniform_int_distribution<int> byte(0, 255), weight(0, 256);
  for (int i = 0; i < 200000; ++i) {
    UInt8 p[4][4];
    for (auto& pixel : p)
      for (UInt8& v : pixel) v = static_cast<UInt8>(i < 1000 ? (byte(random) & 1) * 255 : byte(random));
    const UInt32 wu = static_cast<UInt32>(weight(random)), wv = static_cast<UInt32>(weight(random));
    const UInt64 top = Pair(p[0], p[1]), bottom = Pair(p[2], p[3]);
    const UInt32 scalar = Bilinear2x2Scalar(top, bottom, wu, wv);
    ASSERT_EQ(scalar, Bilinear2x2(top, bottom, wu, wv)) << i << " wu " << wu << " wv " << wv;
    UInt8 out[4];
    Bytes(scalar, out);
    for (int k = 0; k < 4; ++k)
      ASSERT_EQ(out[k], ByHand(p[0][k], p[1][k], p[2][k], p[3][k], wu, wv)) << i << " byte " << k;
  }
}

}  // namespace
