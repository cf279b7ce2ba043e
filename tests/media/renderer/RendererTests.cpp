#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/FixMath.h"
#include "platform/graphics/CGGraphics.h"

namespace {

struct Buf {
  CBuffer* b;
  Buf(SInt16 w, SInt16 h) : b(new CBuffer(Rect{0, 0, h, w}, kBufferDepth8, kBufferModeARGB)) {}
  ~Buf() { b->Release(); }
  UInt8* at(SInt32 x, SInt32 y) const { return reinterpret_cast<UInt8*>(b->GetData()) + y * b->GetRowBytes() + 4 * x; }
  UInt32 word(SInt32 x, SInt32 y) const {
    UInt32 v;
    std::memcpy(&v, at(x, y), 4);
    return v;
  }
};

void Texture(Buf& s) {
  for (SInt32 y = 0; y < s.b->GetHeight(); ++y)
    for (SInt32 x = 0; x < s.b->GetWidth(); ++x) {
      UInt8* p = s.at(x, y);
      p[0] = 255;
      p[1] = static_cast<UInt8>(x * 7 + y * 3);
      p[2] = static_cast<UInt8>(x * 13 ^ y * 5);
      p[3] = static_cast<UInt8>(y * 11 + 1);
    }
}

RenderFrameParams Params(SInt32 border, double dx = 0, double dy = 0) {
  RenderFrameParams p;
  p.borderMode = border;
  p.quality = kQualityHigh;
  p.fieldMode = kRenderFrame;
  p.interlaceMode = 2;
  TranslateMatrix(&p.firstMatrix, X2Fix(dx), X2Fix(dy));
  p.borderColor = RGBColor{0xFFFF, 0, 0};
  return p;
}

}  // namespace

TEST(Renderer, WholePixelCorrectionMovesTheFrameExactly) {
  Buf src(40, 30), dst(40, 30);
  Texture(src);
  RenderFrameParams p = Params(kBorderColor, 5, 3);
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &p), noErr);
  for (SInt32 y = 0; y < 30; ++y)
    for (SInt32 x = 0; x < 40; ++x) {
      if (x >= 5 && y >= 3) {
        ASSERT_EQ(dst.word(x, y), src.word(x - 5, y - 3)) << x << "," << y;
      } else {
        // The border colour (the erase leaves alpha 0; the frame is drawn opaque).
        ASSERT_EQ(dst.at(x, y)[1], 255);
        ASSERT_EQ(dst.at(x, y)[2], 0);
      }
    }
  // Identity at low quality too.
  Buf same(40, 30);
  Texture(src);
  RenderFrameParams q = Params(kBorderColor);
  q.quality = kQualityLow;
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, same.b, &q), noErr);
  EXPECT_EQ(std::memcmp(same.b->GetData(), src.b->GetData(), static_cast<size_t>(src.b->GetDataSize())), 0);
}

TEST(Renderer, TransparentUntransformedAndFilledBorders) {
  Buf src(32, 24), dst(32, 24);
  Texture(src);
  RenderFrameParams p = Params(kBorderTransparent, -4, 0);
  p.margins = Rect{2, 0, 0, 0};
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &p), noErr);
  EXPECT_EQ(dst.word(31, 10), 0u);  // uncovered
  EXPECT_EQ(dst.word(5, 0), 0u);    // under the transparent top margin
  EXPECT_EQ(dst.word(5, 1), 0u);
  EXPECT_EQ(dst.at(5, 2)[0], 255);

  Texture(src);
  RenderFrameParams u = Params(kBorderUntransformed, -4, 0);
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &u), noErr);
  EXPECT_EQ(dst.word(31, 10), src.word(31, 10));  // the untransformed frame shows in the margin
  EXPECT_EQ(dst.word(10, 10), src.word(14, 10));

  Texture(src);
  RenderFrameParams f = Params(kBorderFilled, -4, 2);
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &f), noErr);
  for (SInt32 y = 0; y < 24; ++y)
    for (SInt32 x = 0; x < 32; ++x) ASSERT_EQ(dst.at(x, y)[0], 255) << x << "," << y;
  // Filled pixels take colours from the picture next to them.
  EXPECT_EQ(dst.word(31, 12), dst.word(27, 12));

  f.fieldMode = kRenderFirstField;
  EXPECT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &f), paramErr);
  RenderFrameParams bad = Params(7);
  EXPECT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &bad), paramErr);
  EXPECT_NE(CMovieRendering::RenderFrame(nullptr, dst.b, &bad), noErr);
}

TEST(Renderer, FieldsUseTheirOwnRowsAndMatrices) {
  Buf frame(16, 7);
  CGContextRef first = CMovieRendering::CreateContextFromBuffer(frame.b, kRenderFirstField);
  CGContextRef second = CMovieRendering::CreateContextFromBuffer(frame.b, kRenderSecondField);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(CGBitmapContextGetHeight(first), 4u);
  EXPECT_EQ(CGBitmapContextGetHeight(second), 3u);
  EXPECT_EQ(CGBitmapContextGetData(second), frame.at(0, 1));
  CGContextRelease(first);
  CGContextRelease(second);
  EXPECT_EQ(CMovieRendering::CreateContextFromBuffer(frame.b, kRenderBothFields), nullptr);

  // Both fields, odd field first: field one moves 2 px right, field two 4 px right.
  Buf src(24, 12), dst(24, 12);
  Texture(src);
  RenderFrameParams p = Params(kBorderColor);
  p.interlaceMode = 3;
  p.fieldMode = kRenderBothFields;
  TranslateMatrix(&p.firstMatrix, Long2Fix(2), 0);
  TranslateMatrix(&p.secondMatrix, Long2Fix(4), 0);
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &p), noErr);
  EXPECT_EQ(dst.word(10, 4), src.word(8, 4));
  EXPECT_EQ(dst.word(10, 5), src.word(6, 5));
  // Even field first swaps the matrices.
  p.interlaceMode = 4;
  ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &p), noErr);
  EXPECT_EQ(dst.word(10, 4), src.word(6, 4));
}

TEST(Renderer, MarginWalkAndClampedMargins) {
  Buf b(9, 6);
  Texture(b);
  std::vector<UInt8> before(static_cast<UInt8*>(static_cast<void*>(b.b->GetData())),
                            static_cast<UInt8*>(static_cast<void*>(b.b->GetData())) + b.b->GetDataSize());
  ASSERT_EQ(CMovieRendering::InterpolateMargins(b.b), noErr);
  EXPECT_EQ(std::memcmp(before.data(), b.b->GetData(), before.size()), 0);
  std::memset(b.b->GetData(), 0, static_cast<size_t>(b.b->GetDataSize()));
  ASSERT_EQ(CMovieRendering::InterpolateMargins(b.b), noErr);
  EXPECT_EQ(b.word(4, 3), 0u);

  // A lone opaque pixel spreads over everything.
  b.at(4, 3)[0] = 255;
  b.at(4, 3)[1] = 77;
  ASSERT_EQ(CMovieRendering::InterpolateMargins(b.b), noErr);
  for (SInt32 y = 0; y < 6; ++y)
    for (SInt32 x = 0; x < 9; ++x) {
      ASSERT_EQ(b.at(x, y)[0], 255);
      ASSERT_EQ(b.at(x, y)[1], 77);
    }

  // Margins wider than the picture are clamped, not written outside.
  Rect huge = {400, 400, 400, 400};
  Texture(b);
  EXPECT_EQ(CMovieRendering::PrepareAlphaMargin(b.b, huge), noErr);
  Buf dst(9, 6);
  RenderFrameParams p = Params(kBorderFilled);
  p.margins = huge;
  EXPECT_EQ(CMovieRendering::RenderFrame(b.b, dst.b, &p), noErr);
}

TEST(Renderer, RotatedFrameIsIndependentOfBandCount) {
  Buf src(200, 120);
  Texture(src);
  RenderFrameParams p = Params(kBorderColor);
  RotateMatrix(&p.firstMatrix, X2Fix(1.5), Long2Fix(100), Long2Fix(60));
  TranslateMatrix(&p.firstMatrix, X2Fix(0.37), X2Fix(-1.2));
  std::vector<UInt8> first;
  for (SInt32 bands : {1, 3, 8}) {
    CGSetBandCountForTesting(bands);
    Buf dst(200, 120);
    ASSERT_EQ(CMovieRendering::RenderFrame(src.b, dst.b, &p), noErr);
    std::vector<UInt8> out(reinterpret_cast<UInt8*>(dst.b->GetData()),
                           reinterpret_cast<UInt8*>(dst.b->GetData()) + dst.b->GetDataSize());
    if (first.empty()) first = out;
    EXPECT_EQ(out, first);
  }
  CGSetBandCountForTesting(0);
}

// The largest 16.16 matrix with the smallest determinant: its inverse steps
// 2^47 source pixels a column. Every field and border mode renders without
// touching memory outside the pictures.
TEST(Renderer, ExtremeMatrixInEveryFieldAndBorderMode) {
  Buf src(24, 12), dst(24, 12);
  Texture(src);
  MatrixRecord extreme;
  SetIdentityMatrix(&extreme);
  extreme.matrix[0][0] = extreme.matrix[1][1] = 0x7FFFFFFE;
  extreme.matrix[0][1] = 0x7FFFFFFF;
  extreme.matrix[1][0] = 0x7FFFFFFD;
  for (SInt32 field : {kRenderFrame, kRenderFirstField, kRenderSecondField, kRenderBothFields, kRenderFirstFieldStretch,
                       kRenderSecondFieldStretch})
    for (SInt32 border : {kBorderTransparent, kBorderColor, kBorderUntransformed, kBorderFilled})
      for (SInt32 quality : {kQualityLow, kQualityHigh}) {
        RenderFrameParams p = Params(border);
        p.fieldMode = field;
        p.quality = quality;
        p.interlaceMode = 3;
        p.firstMatrix = p.secondMatrix = extreme;
        CMovieRendering::RenderFrame(src.b, dst.b, &p);
        // Nothing of the corrected picture lands: a coloured border is all there is.
        if (border == kBorderColor && field == kRenderFrame) {
          for (SInt32 x = 0; x < 24; ++x) ASSERT_EQ(dst.at(x, 6)[1], 255) << quality;
        }
      }
}

// Pictures of every kind the walk meets: a turned and shifted frame with
// transparent margins (what stabilisation leaves), opaque edges broken in
// places, scattered opaque pixels, and tiny pictures; each also through a
// field of a frame (rows twice as far apart). Runs taken at once must
// write exactly what the same walk writes one step at a time.
TEST(Renderer, MarginWalkLeavesTheBytesOfTheStepByStepWalk) {
  std::mt19937 random(20261210);
  auto uniform = [&](SInt32 lo, SInt32 hi) { return std::uniform_int_distribution<SInt32>(lo, hi)(random); };
  SInt32 cases = 0;
  for (SInt32 round = 0; round < 600; ++round) {
    const SInt32 kind = round % 4;
    const SInt16 w = static_cast<SInt16>(kind == 3 ? uniform(1, 5) : uniform(3, 48));
    const SInt16 h = static_cast<SInt16>(kind == 3 ? uniform(1, 5) : uniform(3, 40));
    Buf picture(w, h);
    const double turn = (uniform(-300, 300) / 100.0) * M_PI / 180.0;
    const double dx = uniform(-40, 40) / 10.0, dy = uniform(-40, 40) / 10.0;
    const SInt32 margin = uniform(0, 4);
    const SInt32 density = uniform(5, 95);
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < w; ++x) {
        UInt8* p = picture.at(x, y);
        for (SInt32 c = 1; c < 4; ++c) p[c] = static_cast<UInt8>(uniform(0, 255));
        bool opaque;
        if (kind == 0) {
          // The frame turned about the centre and shifted, inside margins.
          const double cx = x - w / 2.0 - dx, cy = y - h / 2.0 - dy;
          const double u = cx * std::cos(turn) + cy * std::sin(turn), v = cy * std::cos(turn) - cx * std::sin(turn);
          opaque = std::fabs(u) < w / 2.0 - margin && std::fabs(v) < h / 2.0 - margin;
        } else if (kind == 1) {
          // Opaque but for a few holes, the edges among them.
          opaque = uniform(0, 99) >= density / 8;
        } else {
          opaque = uniform(0, 99) < density;
        }
        p[0] = opaque ? 255 : static_cast<UInt8>(uniform(0, 3) == 0 ? uniform(1, 254) : 0);
      }
    for (bool field : {false, true}) {
      if (field && h < 2) continue;
      Buf copy(w, h);
      std::memcpy(copy.b->GetData(), picture.b->GetData(), static_cast<size_t>(picture.b->GetDataSize()));
      StBufferOwner walkedField(field ? CBuffer::CreateFromBuffer_Even(picture.b) : nullptr);
      StBufferOwner plainField(field ? CBuffer::CreateFromBuffer_Even(copy.b) : nullptr);
      CBuffer* walked = field ? walkedField.get() : picture.b;
      CBuffer* plain = field ? plainField.get() : copy.b;
      ASSERT_TRUE(walked && plain);
      CMovieRendering::SetEdgeRunsForTesting(false);
      const OSErr plainErr = CMovieRendering::InterpolateMargins(plain);
      CMovieRendering::SetEdgeRunsForTesting(true);
      ASSERT_EQ(CMovieRendering::InterpolateMargins(walked), plainErr);
      ASSERT_EQ(std::memcmp(picture.b->GetData(), copy.b->GetData(), static_cast<size_t>(picture.b->GetDataSize())), 0)
          << "round " << round << " kind " << kind << " " << w << "x" << h << (field ? " field" : "");
      ++cases;
    }
  }
  EXPECT_GT(cases, 1000);
}
