// Drawing a buffer through a matrix at another size: pictures scaled by known
// factors, their edges and slopes measured back in the result.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "media/UBufferWarp.h"
#include "platform/base/FixMath.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/LException.h"
#include "tests/support/BufferSupport.h"

using namespace buffertest;

namespace {

constexpr SInt16 kW = 40, kH = 30;

// R steps from 0 to 200 between columns 19 and 20, G rises by 6 a column,
// B by 5 a row.
void FillSteps(CBuffer& ioBuffer) {
  for (SInt32 y = 0; y < kH; ++y)
    for (SInt32 x = 0; x < kW; ++x) SetPixel(ioBuffer, y, x, 255, x < 20 ? 0 : 200, 6 * x, 5 * y);
}

struct Picture {
  SInt16 width, height;
  std::vector<UInt8> bytes;
  Picture(SInt16 inWidth, SInt16 inHeight)
      : width(inWidth), height(inHeight), bytes(static_cast<size_t>(inWidth) * inHeight * 4, 0x11) {}
  UInt8 At(SInt32 x, SInt32 y, int k) const { return bytes[(static_cast<size_t>(y) * width + x) * 4 + k]; }
  UBufferWarp::SPixels Pixels() { return {bytes.data(), width * 4, Rect{0, 0, height, width}}; }
};

// The source scaled onto the whole picture.
Picture Scaled(const CBuffer& inSource, SInt16 inWidth, SInt16 inHeight, Boolean inSmooth) {
  Picture out(inWidth, inHeight);
  MatrixRecord m;
  Rect from = inSource.GetBounds(), to = {0, 0, inHeight, inWidth};
  RectMatrix(&m, &from, &to);
  UBufferWarp::Draw(inSource, m, out.Pixels(), to, inSmooth);
  return out;
}

// Where along row y channel k crosses inLevel, between pixel centres.
double Crossing(const Picture& inPicture, SInt32 y, int k, double inLevel) {
  for (SInt32 x = 0; x + 1 < inPicture.width; ++x) {
    const double a = inPicture.At(x, y, k), b = inPicture.At(x + 1, y, k);
    if (a < inLevel && b >= inLevel) return x + 0.5 + (inLevel - a) / (b - a);
  }
  return -1;
}

// The least-squares slope of channel k along row y over columns [x0, x1).
double Slope(const Picture& inPicture, SInt32 y, int k, SInt32 x0, SInt32 x1) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (SInt32 x = x0; x < x1; ++x) {
    const double v = inPicture.At(x, y, k);
    n += 1, sx += x, sy += v, sxx += double(x) * x, sxy += x * v;
  }
  return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

TEST(BufferWarp, TwiceTheSizeSmoothPutsTheStepAndSlopesWhereTheScaleSays) {
  CBuffer source(R(0, 0, kH, kW), kBufferDepth8, kBufferModeARGB);
  FillSteps(source);
  const Picture big = Scaled(source, 2 * kW, 2 * kH, true);
  for (SInt32 y : {3, 30, 55}) {
    // The step between source columns 19 and 20 (source x 20.0) lands at 40.0.
    EXPECT_NEAR(Crossing(big, y, 1, 100), 40.0, 0.05) << y;
    // 6 a source column is 3 a picture column; 5 a source row is 2.5 a picture row.
    EXPECT_NEAR(Slope(big, y, 2, 2, 2 * kW - 2), 3.0, 0.02) << y;
  }
  double n = 0, s = 0, sxx = 0, sum = 0, sxy = 0;
  for (SInt32 y = 2; y < 2 * kH - 2; ++y) {
    const double v = big.At(10, y, 3);
    n += 1, s += y, sum += v, sxx += double(y) * y, sxy += y * v;
  }
  EXPECT_NEAR((n * sxy - s * sum) / (n * sxx - s * s), 2.5, 0.02);
  for (SInt32 y = 0; y < 2 * kH; ++y)
    for (SInt32 x = 0; x < 2 * kW; ++x) ASSERT_EQ(big.At(x, y, 0), 255) << x << "," << y;
}

TEST(BufferWarp, NearestRepeatsEachPixelAtTwiceAndPicksEveryOtherAtHalf) {
  CBuffer source(R(0, 0, kH, kW), kBufferDepth8, kBufferModeARGB);
  FillRandom(source, 7);
  const Picture big = Scaled(source, 2 * kW, 2 * kH, false);
  for (SInt32 y = 0; y < 2 * kH; ++y)
    for (SInt32 x = 0; x < 2 * kW; ++x)
      for (int k = 0; k < 4; ++k) ASSERT_EQ(big.At(x, y, k), Comp(source, y / 2, x / 2, k)) << x << "," << y;
  // At half size, picture pixel x covers source pixels 2x and 2x + 1; its
  // centre lies on their shared edge and rounds to the second.
  const Picture small = Scaled(source, kW / 2, kH / 2, false);
  for (SInt32 y = 0; y < kH / 2; ++y)
    for (SInt32 x = 0; x < kW / 2; ++x)
      for (int k = 0; k < 4; ++k) ASSERT_EQ(small.At(x, y, k), Comp(source, 2 * y + 1, 2 * x + 1, k)) << x << "," << y;
}

TEST(BufferWarp, TheSameSizeCopiesExactly) {
  CBuffer source(R(0, 0, kH, kW), kBufferDepth8, kBufferModeARGB);
  FillRandom(source, 3);
  for (Boolean smooth : {false, true}) {
    const Picture same = Scaled(source, kW, kH, smooth);
    for (SInt32 y = 0; y < kH; ++y)
      for (SInt32 x = 0; x < kW; ++x)
        for (int k = 0; k < 4; ++k) ASSERT_EQ(same.At(x, y, k), Comp(source, y, x, k)) << x << "," << y;
  }
}

TEST(BufferWarp, ARotatedPictureMovesAPixelWhereTheMatrixSendsItAndLeavesTheRestAlone) {
  CBuffer source(R(0, 0, 16, 16), kBufferDepth8, kBufferModeARGB);
  for (SInt32 y = 0; y < 16; ++y)
    for (SInt32 x = 0; x < 16; ++x) SetPixel(source, y, x, 255, 0, 0, 0);
  SetPixel(source, 1, 3, 255, 255, 255, 255);
  MatrixRecord m;
  SetIdentityMatrix(&m);
  RotateMatrix(&m, Long2Fix(90), Long2Fix(8), Long2Fix(8));
  TranslateMatrix(&m, Long2Fix(4), Long2Fix(4));
  Picture out(24, 24);
  // Only the clip is drawn into; what maps outside the source is left as it was.
  UBufferWarp::Draw(source, m, out.Pixels(), Rect{0, 0, 24, 20}, false);
  double cx = 3.5, cy = 1.5;
  DMatrixTransform(MatrixToDouble(m), cx, cy);
  const SInt32 mx = static_cast<SInt32>(std::floor(cx)), my = static_cast<SInt32>(std::floor(cy));
  int white = 0;
  for (SInt32 y = 0; y < 24; ++y)
    for (SInt32 x = 0; x < 24; ++x) {
      const bool inside = x >= 4 && x < 20 && y >= 4 && y < 20;
      if (!inside) {
        ASSERT_EQ(out.At(x, y, 1), 0x11) << x << "," << y;
        continue;
      }
      white += out.At(x, y, 1) == 255;
    }
  EXPECT_EQ(white, 1);
  EXPECT_EQ(out.At(mx, my, 1), 255) << mx << "," << my;
}

TEST(BufferWarp, RefusesWhatItCannotDraw) {
  CBuffer gray(R(0, 0, 4, 4), kBufferDepth8, kBufferModeGray);
  CBuffer argb(R(0, 0, 4, 4), kBufferDepth8, kBufferModeARGB);
  Picture out(4, 4);
  MatrixRecord m;
  SetIdentityMatrix(&m);
  EXPECT_THROW(UBufferWarp::Draw(gray, m, out.Pixels(), Rect{0, 0, 4, 4}, true), LException);
  EXPECT_THROW(UBufferWarp::Draw(argb, m, out.Pixels(), Rect{0, 0, 5, 4}, true), LException);
  MatrixRecord flat = m;
  ScaleMatrix(&flat, 0, fixed1, 0, 0);
  EXPECT_THROW(UBufferWarp::Draw(argb, flat, out.Pixels(), Rect{0, 0, 4, 4}, true), LException);
}

}  // namespace
