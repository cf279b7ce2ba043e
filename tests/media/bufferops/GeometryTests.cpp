#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "media/CBufferProcs.h"
#include "tests/support/BufferSupport.h"

using namespace buffertest;

namespace {

enum Op { kRot90, kRot180, kRot270, kFlipV, kFlipH };

OSErr Apply(Op op, CBuffer& s, CBuffer* d, Rect* r) {
  switch (op) {
    case kRot90: return s.Rotate_90(d, r, nullptr, nullptr);
    case kRot180: return s.Rotate_180(d, r, nullptr, nullptr);
    case kRot270: return s.Rotate_270(d, r, nullptr, nullptr);
    case kFlipV: return s.FlipVertical(d, r, nullptr, nullptr);
    default: return s.FlipHorizontal(d, r, nullptr, nullptr);
  }
}

// The source pixel (row, column within the box) that destination (r, c) takes.
void SourceOf(Op op, SInt32 W, SInt32 H, SInt32 r, SInt32 c, SInt32& sr, SInt32& sc) {
  switch (op) {
    case kRot90: sr = H - 1 - c, sc = r; break;
    case kRot180: sr = H - 1 - r, sc = W - 1 - c; break;
    case kRot270: sr = c, sc = W - 1 - r; break;
    case kFlipV: sr = H - 1 - r, sc = c; break;
    default: sr = r, sc = W - 1 - c; break;
  }
}

// Round half away from zero, as the HSV conversions round.
UInt32 Nearest(float x) { return static_cast<UInt32>(std::lround(x)); }

}  // namespace

TEST(Geometry, EveryTurnAndFlipMovesEveryPixelAtEveryBandCount) {
  const SInt32 W = 23, H = 14;
  for (const Format& f : kFormats)
    for (Op op : {kRot90, kRot180, kRot270, kFlipV, kFlipH}) {
      const bool quarter = op == kRot90 || op == kRot270;
      CBuffer src(R(-3, 5, static_cast<SInt16>(-3 + H), static_cast<SInt16>(5 + W)), f.depth, f.mode);
      FillRandom(src, 17 + op);
      const Rect dstBounds = quarter ? R(2, -4, static_cast<SInt16>(2 + W), static_cast<SInt16>(-4 + H))
                                     : R(2, -4, static_cast<SInt16>(2 + H), static_cast<SInt16>(-4 + W));
      CBuffer expected(dstBounds, f.depth, f.mode);
      const SInt32 dh = dstBounds.bottom - dstBounds.top, dw = dstBounds.right - dstBounds.left;
      for (SInt32 r = 0; r < dh; ++r)
        for (SInt32 c = 0; c < dw; ++c) {
          SInt32 sr, sc;
          SourceOf(op, W, H, r, c, sr, sc);
          for (int k = 0; k < Components(src); ++k)
            SetComp(expected, dstBounds.top + r, dstBounds.left + c, k, Comp(src, -3 + sr, 5 + sc, k));
        }
      for (SInt32 bands : kBandCounts) {
        SCOPED_TRACE(testing::Message() << f.depth << "/" << f.mode << " op " << op << " bands " << bands);
        CBuffer dst(dstBounds, f.depth, f.mode);
        WithBands(bands, [&] { EXPECT_EQ(0, Apply(op, src, &dst, nullptr)); });
        EXPECT_EQ(Snapshot(expected), Snapshot(dst));
      }
    }
}

TEST(Geometry, TurnsAndFlipsComposeBackToTheImage) {
  for (const Format& f : kFormats) {
    CBuffer a(R(0, 0, 9, 9), f.depth, f.mode), b(R(0, 0, 9, 9), f.depth, f.mode);
    FillRandom(a, 3);
    const std::vector<UInt8> original = Snapshot(a);
    for (int i = 0; i < 2; ++i) {  // four quarter turns
      ASSERT_EQ(0, a.Rotate_90(&b, nullptr, nullptr, nullptr));
      ASSERT_EQ(0, b.Rotate_90(&a, nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(original, Snapshot(a));
    ASSERT_EQ(0, a.FlipHorizontal(&b, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, b.FlipHorizontal(&a, nullptr, nullptr, nullptr));
    EXPECT_EQ(original, Snapshot(a));
    // A half turn is both flips.
    CBuffer half(R(0, 0, 9, 9), f.depth, f.mode);
    ASSERT_EQ(0, a.Rotate_180(&half, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, a.FlipVertical(&b, nullptr, nullptr, nullptr));
    CBuffer both(R(0, 0, 9, 9), f.depth, f.mode);
    ASSERT_EQ(0, b.FlipHorizontal(&both, nullptr, nullptr, nullptr));
    EXPECT_EQ(Snapshot(half), Snapshot(both));
    // A quarter turn one way and back, over buffers of transposed sizes.
    CBuffer wide(R(0, 0, 3, 8), f.depth, f.mode), tall(R(0, 0, 8, 3), f.depth, f.mode), back(R(0, 0, 3, 8), f.depth, f.mode);
    FillRandom(wide, 4);
    ASSERT_EQ(0, wide.Rotate_90(&tall, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, tall.Rotate_270(&back, nullptr, nullptr, nullptr));
    EXPECT_EQ(Snapshot(wide), Snapshot(back));
  }
}

TEST(Geometry, SizesSameBufferAndMasksAreChecked) {
  CBuffer src(R(0, 0, 2, 4), 1, 1), same(R(0, 0, 2, 4), 1, 1), tall(R(0, 0, 4, 2), 1, 1);
  FillRandom(src, 8);
  EXPECT_EQ(paramErr, src.Rotate_90(&same, nullptr, nullptr, nullptr));
  ASSERT_EQ(0, src.Rotate_90(&tall, nullptr, nullptr, nullptr));
  EXPECT_EQ(Comp(src, 1, 0, 0), Comp(tall, 0, 0, 0));  // top-left takes the bottom-left
  // Into the source itself the picture would be scrambled: refused, untouched.
  const std::vector<UInt8> before = Snapshot(src);
  for (Op op : {kRot90, kRot180, kRot270, kFlipV, kFlipH}) EXPECT_EQ(paramErr, Apply(op, src, &src, nullptr));
  EXPECT_EQ(before, Snapshot(src));
  EXPECT_EQ(27728, src.Rotate_180(nullptr, nullptr, nullptr, nullptr));
  // Different formats.
  CBuffer argb(R(0, 0, 2, 4), 1, 2);
  EXPECT_EQ(paramErr, src.FlipVertical(&argb, nullptr, nullptr, nullptr));
  // The horizontal flip refuses a mask, the vertical flip ignores it.
  CBuffer mask(R(0, 0, 2, 4), 1, 1);
  EXPECT_EQ(paramErr, CBuffer::Convert(&src, &same, &mask, nullptr, nullptr, CBufferProcs::FlipHorz_proc, nullptr,
                                       nullptr, nullptr, nullptr));
  EXPECT_EQ(0, CBuffer::Convert(&src, &same, &mask, nullptr, nullptr, CBufferProcs::FlipVert_proc, nullptr, nullptr,
                                nullptr, nullptr));
  EXPECT_EQ(Comp(src, 1, 3, 0), Comp(same, 0, 3, 0));
}

TEST(Channels, GrayIntoOneChannelAndBackAtEveryBandCount) {
  for (SInt16 depth : {1, 2})
    for (SInt16 channel : {1, 2, 4}) {
      const int k = channel == 4 ? 3 : channel;
      CBuffer gray(R(1, 1, 20, 12), depth, 1), argb(R(0, 0, 18, 14), depth, 2);
      FillRandom(gray, 30 + k);
      FillRandom(argb, 40 + k);
      CBuffer expected(argb, nullptr, true);
      Rect common = R(1, 1, 18, 12);
      for (SInt32 v = 1; v < 18; ++v)
        for (SInt32 h = 1; h < 12; ++h) SetComp(expected, v, h, k, Comp(gray, v, h, 0));
      for (SInt32 bands : kBandCounts) {
        CBuffer out(argb, nullptr, true);
        WithBands(bands, [&] { EXPECT_EQ(0, gray.CopyGrayToRGBChannel(&out, channel, &common, nullptr, nullptr, nullptr)); });
        EXPECT_EQ(Snapshot(expected), Snapshot(out)) << depth << " " << channel << " " << bands;
        CBuffer back(R(-2, 0, 30, 30), depth, 1);
        WithBands(bands, [&] { EXPECT_EQ(0, out.CopyRGBChannelToGray(&back, channel, &common, nullptr, nullptr, nullptr)); });
        EXPECT_TRUE(CBuffer::IsEqual(&gray, &back, &common));
      }
    }
}

TEST(Channels, MasksWeighTheWriteAndMustHaveTheirReadFormat) {
  CBuffer gray(R(0, 0, 1, 3), 1, 1), argb(R(0, 0, 1, 3), 1, 2);
  for (int h = 0; h < 3; ++h) SetComp(gray, 0, h, 0, 255);
  CBuffer mask(R(0, 0, 1, 3), 1, 2);
  SetPixel(mask, 0, 0, 0, 0, 128, 0);
  SetPixel(mask, 0, 1, 0, 0, 255, 0);
  SetPixel(mask, 0, 2, 255, 255, 0, 255);
  SetPixel(argb, 0, 2, 9, 9, 9, 9);
  ASSERT_EQ(0, gray.CopyGrayToRGBChannel(&argb, 2, nullptr, &mask, nullptr, nullptr));
  EXPECT_EQ(128u, Comp(argb, 0, 0, 2));
  EXPECT_EQ(255u, Comp(argb, 0, 1, 2));
  EXPECT_EQ(9u, Comp(argb, 0, 2, 2));
  EXPECT_EQ(9u, Comp(argb, 0, 2, 1));
  // A gray mask would be read four bytes a pixel: refused.
  CBuffer grayMask(R(0, 0, 1, 3), 1, 1);
  EXPECT_EQ(paramErr, gray.CopyGrayToRGBChannel(&argb, 2, nullptr, &grayMask, nullptr, nullptr));
  EXPECT_EQ(paramErr, argb.CopyRGBChannelToGray(&gray, 2, nullptr, &mask, nullptr, nullptr));
  EXPECT_EQ(0, argb.CopyRGBChannelToGray(&gray, 2, nullptr, &grayMask, nullptr, nullptr));
  EXPECT_EQ(paramErr, gray.CopyGrayToRGBChannel(&argb, 3, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(paramErr, argb.CopyGrayToRGBChannel(&gray, 1, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(27728, gray.CopyGrayToRGBChannel(nullptr, 1, nullptr, nullptr, nullptr, nullptr));
}

TEST(HSV, KnownColours) {
  CBuffer b(R(0, 0, 1, 6), 1, 2), hsv(R(0, 0, 1, 6), 1, 2);
  const UInt32 rgb[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {128, 128, 128}, {0, 0, 0}, {255, 255, 0}};
  const UInt32 want[6][3] = {{0, 255, 255}, {85, 255, 255}, {171, 255, 255}, {0, 0, 128}, {0, 0, 0}, {43, 255, 255}};
  for (int i = 0; i < 6; ++i) SetPixel(b, 0, i, 77, rgb[i][0], rgb[i][1], rgb[i][2]);
  ASSERT_EQ(0, b.RGB2HSV(&hsv, nullptr, nullptr, nullptr));
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < 3; ++k) EXPECT_EQ(want[i][k], Comp(hsv, 0, i, k + 1)) << i << " " << k;
    EXPECT_EQ(0u, Comp(hsv, 0, i, 0));  // the destination's alpha is untouched
  }
  CBuffer back(R(0, 0, 1, 2), 1, 2), out(R(0, 0, 1, 2), 1, 2);
  SetPixel(back, 0, 0, 5, 0, 0, 200);
  SetPixel(back, 0, 1, 6, 0, 255, 255);
  ASSERT_EQ(0, back.HSV2RGB(&out, nullptr, nullptr, nullptr));
  EXPECT_EQ(200u, Comp(out, 0, 0, 1));
  EXPECT_EQ(200u, Comp(out, 0, 0, 3));
  EXPECT_EQ(255u, Comp(out, 0, 1, 1));
  EXPECT_EQ(1u, Comp(out, 0, 1, 2));
  EXPECT_EQ(1u, Comp(out, 0, 1, 3));
  // 16-bit: pure blue has hue 4 x 65536 / 6 rounded.
  CBuffer b16(R(0, 0, 1, 1), 2, 2), h16(R(0, 0, 1, 1), 2, 2);
  SetPixel(b16, 0, 0, 0, 0, 0, 65535);
  ASSERT_EQ(0, b16.RGB2HSV(&h16, nullptr, nullptr, nullptr));
  EXPECT_EQ(Nearest(4.0f * (65536.0f / 6.0f)), Comp(h16, 0, 0, 1));
  EXPECT_EQ(65535u, Comp(h16, 0, 0, 2));
  EXPECT_EQ(65535u, Comp(h16, 0, 0, 3));
}

TEST(HSV, RoundTripStaysWithinTheQuantisationAndBandsAgree) {
  // Hue is kept in F steps over six sectors and saturation in F steps: a
  // channel can move by at most 6 x 0.5 / F of full scale for the hue, 0.5 / F
  // for the saturation and half a step for each rounding, under 4 units.
  for (SInt16 depth : {1, 2}) {
    CBuffer src(R(0, 0, 40, 37), depth, 2);
    FillRandom(src, 12);
    std::vector<UInt8> firstHSV;
    for (SInt32 bands : kBandCounts) {
      CBuffer hsv(R(0, 0, 40, 37), depth, 2), back(R(0, 0, 40, 37), depth, 2);
      WithBands(bands, [&] {
        ASSERT_EQ(0, src.RGB2HSV(&hsv, nullptr, nullptr, nullptr));
        ASSERT_EQ(0, hsv.HSV2RGB(&back, nullptr, nullptr, nullptr));
      });
      if (firstHSV.empty()) firstHSV = Snapshot(hsv);
      EXPECT_EQ(firstHSV, Snapshot(hsv)) << bands;
      UInt32 worst = 0;
      for (SInt32 v = 0; v < 40; ++v)
        for (SInt32 h = 0; h < 37; ++h)
          for (int k = 1; k <= 3; ++k) {
            const SInt32 d = static_cast<SInt32>(Comp(back, v, h, k)) - static_cast<SInt32>(Comp(src, v, h, k));
            worst = std::max<UInt32>(worst, static_cast<UInt32>(std::abs(d)));
          }
      EXPECT_LE(worst, 3u) << depth;
    }
    // In place is allowed: the same result as into another buffer.
    CBuffer hsv(R(0, 0, 40, 37), depth, 2), inPlace(src, nullptr, true);
    ASSERT_EQ(0, src.RGB2HSV(&hsv, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, inPlace.RGB2HSV(&inPlace, nullptr, nullptr, nullptr));
    EXPECT_TRUE(CBuffer::IsEqual(&hsv, &inPlace, nullptr));
  }
}

namespace {

// The conversions written out as stated, in single precision, rounding with
// std::round (halves away from zero).
void ReferenceToHSV(UInt32 ri, UInt32 gi, UInt32 bi, UInt32 F, UInt32 out[3]) {
  const float r = static_cast<float>(ri), g = static_cast<float>(gi), b = static_cast<float>(bi);
  const float M = std::max({r, g, b}), d = M - std::min({r, g, b});
  out[0] = out[1] = 0;
  out[2] = static_cast<UInt32>(M);
  if (M == 0.0f) return;
  float hue = 0.0f;
  if (d != 0.0f) {
    const float h = r == M ? (g - b) / d : g == M ? 2.0f + (b - r) / d : 4.0f + (r - g) / d;
    hue = h * (static_cast<float>(F) / 6.0f);
    if (hue < 0.0f) hue += static_cast<float>(F);
  }
  out[0] = static_cast<UInt32>(std::round(hue)) % F;
  out[1] = std::min(static_cast<UInt32>(std::round(d / M * static_cast<float>(F))), F - 1);
}

void ReferenceToRGB(UInt32 H, UInt32 S, UInt32 V, UInt32 F, UInt32 out[3]) {
  out[0] = out[1] = out[2] = V;
  if (S == 0) return;
  const float h = static_cast<float>(H) * (6.0f / static_cast<float>(F));
  const float s = static_cast<float>(S) * (1.0f / static_cast<float>(F));
  const float v = static_cast<float>(V);
  const int i = static_cast<int>(std::floor(h));
  const float f = h - static_cast<float>(i);
  const float p = v * (1.0f - s), q = v * (1.0f - s * f), t = v * (1.0f + s * (f - 1.0f));
  const float table[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
  for (int k = 0; k < 3; ++k) out[k] = static_cast<UInt32>(std::round(table[i][k]));
}

}  // namespace

TEST(HSV, EveryPixelFollowsTheStatedArithmetic) {
  for (SInt16 depth : {1, 2}) {
    const UInt32 F = depth == 1 ? 256 : 65536;
    CBuffer src(R(0, 0, 64, 64), depth, 2), hsv(R(0, 0, 64, 64), depth, 2), rgb(R(0, 0, 64, 64), depth, 2);
    FillRandom(src, 77);
    // Grays and single-channel colours too, where the ties and zero cases are.
    for (SInt32 h = 0; h < 64; ++h) {
      const UInt32 x = Comp(src, 0, h, 1);
      SetPixel(src, 0, h, 0, x, x, x);
      SetPixel(src, 1, h, 0, x, 0, 0);
      SetPixel(src, 2, h, 0, x, x, 0);
    }
    ASSERT_EQ(0, src.RGB2HSV(&hsv, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, src.HSV2RGB(&rgb, nullptr, nullptr, nullptr));  // the source read as HSV
    for (SInt32 v = 0; v < 64; ++v)
      for (SInt32 h = 0; h < 64; ++h) {
        UInt32 want[3];
        ReferenceToHSV(Comp(src, v, h, 1), Comp(src, v, h, 2), Comp(src, v, h, 3), F, want);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(want[k], Comp(hsv, v, h, k + 1)) << depth << " " << v << " " << h;
        ReferenceToRGB(Comp(src, v, h, 1), Comp(src, v, h, 2), Comp(src, v, h, 3), F, want);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(want[k], Comp(rgb, v, h, k + 1)) << depth << " " << v << " " << h;
      }
  }
}

TEST(HSV, FormatsAndDestinationsAreChecked) {
  CBuffer argb(R(0, 0, 2, 2), 1, 2), gray(R(0, 0, 2, 2), 1, 1), argb16(R(0, 0, 2, 2), 2, 2);
  EXPECT_EQ(27728, argb.RGB2HSV(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(27728, argb.HSV2RGB(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(paramErr, argb.RGB2HSV(&gray, nullptr, nullptr, nullptr));
  EXPECT_EQ(paramErr, gray.HSV2RGB(&argb, nullptr, nullptr, nullptr));
  EXPECT_EQ(paramErr, argb.RGB2HSV(&argb16, nullptr, nullptr, nullptr));
  CBuffer mask(R(0, 0, 2, 2), 1, 2);
  EXPECT_EQ(paramErr, CBuffer::Convert(&argb, &argb, &mask, nullptr, nullptr, CBufferProcs::RGB2HSV_proc, nullptr,
                                       nullptr, nullptr, nullptr));
}

TEST(LookUpTable, EveryDepthPairTranslatesThroughTheTableAtEveryBandCount) {
  std::vector<UInt16> lut(65536);
  std::mt19937 gen(2);
  for (UInt16& x : lut) x = static_cast<UInt16>(gen());
  for (const Format& sf : kFormats)
    for (SInt16 dd : {1, 2}) {
      CBuffer src(R(0, 0, 15, 11), sf.depth, sf.mode), dst(R(-1, -1, 17, 13), dd, sf.mode);
      FillRandom(src, 50);
      FillRandom(dst, 51);
      CBuffer mask(R(0, 0, 15, 11), 1, sf.mode);
      FillRandom(mask, 52);
      Rect box = src.GetBounds();
      for (bool masked : {false, true}) {
        CBuffer expected(dst, nullptr, true);
        for (SInt32 v = 0; v < 15; ++v)
          for (SInt32 h = 0; h < 11; ++h)
            for (int k = sf.mode == 2 ? 1 : 0; k < Components(src); ++k) {
              UInt32 s = Comp(src, v, h, k);
              UInt32 x = lut[sf.depth == 1 ? s * 257 : s];
              if (dd == 1) x >>= 8;
              if (masked) {
                const UInt32 m = Comp(mask, v, h, k), old = Comp(dst, v, h, k);
                x = (x * m + (255 - m) * old) / 255;
              }
              SetComp(expected, v, h, k, x);
            }
        for (SInt32 bands : kBandCounts) {
          CBuffer out(dst, nullptr, true);
          WithBands(bands, [&] {
            EXPECT_EQ(0, src.CopyWithLutTo(&out, lut.data(), &box, masked ? &mask : nullptr, nullptr, nullptr));
          });
          EXPECT_EQ(Snapshot(expected), Snapshot(out))
              << sf.depth << "/" << sf.mode << " to " << dd << " masked " << masked << " bands " << bands;
        }
      }
    }
}

TEST(LookUpTable, IdentityTableAndChecks) {
  std::vector<UInt16> identity(65536);
  for (UInt32 v = 0; v < 65536; ++v) identity[v] = static_cast<UInt16>(v);
  CBuffer s8(R(0, 0, 1, 2), 1, 1), d16(R(0, 0, 1, 2), 2, 1), d8(R(0, 0, 1, 2), 1, 1);
  SetComp(s8, 0, 0, 0, 200);
  SetComp(s8, 0, 1, 0, 7);
  ASSERT_EQ(0, s8.CopyWithLutTo(&d16, identity.data(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(200u * 257u, Comp(d16, 0, 0, 0));
  ASSERT_EQ(0, d16.CopyWithLutTo(&d8, identity.data(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(200u, Comp(d8, 0, 0, 0));
  EXPECT_EQ(7u, Comp(d8, 0, 1, 0));
  // In place through an inverting table.
  std::vector<UInt16> invert(65536);
  for (UInt32 v = 0; v < 65536; ++v) invert[v] = static_cast<UInt16>(65535 - v);
  ASSERT_EQ(0, s8.CopyWithLutTo(&s8, invert.data(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(55u, Comp(s8, 0, 0, 0));
  EXPECT_EQ(27728, s8.CopyWithLutTo(nullptr, identity.data(), nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(27728, s8.CopyWithLutTo(&d8, nullptr, nullptr, nullptr, nullptr, nullptr));
  CBuffer argb(R(0, 0, 1, 2), 1, 2);
  EXPECT_EQ(paramErr, s8.CopyWithLutTo(&argb, identity.data(), nullptr, nullptr, nullptr, nullptr));
  CBuffer wrongMask(R(0, 0, 1, 2), 1, 1);
  EXPECT_EQ(paramErr, argb.CopyWithLutTo(&argb, identity.data(), nullptr, &wrongMask, nullptr, nullptr));
}
