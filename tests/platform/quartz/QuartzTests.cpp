#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/graphics/CGGraphics.h"

namespace {

// A 32-bit ARGB picture with rows padded like the image buffers.
struct Argb {
  size_t w, h, rowBytes;
  std::vector<UInt8> px;
  Argb(size_t inW, size_t inH) : w(inW), h(inH), rowBytes((inW * 4 + 15) & ~size_t{15}), px(rowBytes * inH, 0) {}
  UInt8* at(size_t x, size_t y) { return px.data() + y * rowBytes + 4 * x; }
};

Argb Textured(size_t w, size_t h) {
  Argb a(w, h);
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      UInt8* p = a.at(x, y);
      p[0] = 255;
      p[1] = static_cast<UInt8>((x * 37 + y * 11) & 0xFF);
      p[2] = static_cast<UInt8>((x * 5 + y * 53) & 0xFF);
      p[3] = static_cast<UInt8>((x ^ y) * 3 & 0xFF);
    }
  return a;
}

struct Ctx {
  CGContextRef c;
  Ctx(Argb& dst, CGImageAlphaInfo alpha = kCGImageAlphaNoneSkipFirst) {
    CGColorSpaceRef cs = CGColorSpaceCreateDeviceRGB();
    c = CGBitmapContextCreate(dst.px.data(), dst.w, dst.h, 8, dst.rowBytes, cs, alpha);
    CGColorSpaceRelease(cs);
  }
  ~Ctx() { CGContextRelease(c); }
};

struct Img {
  CGImageRef i;
  Img(const Argb& src, CGImageAlphaInfo alpha, bool interpolate) {
    CGColorSpaceRef cs = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, src.px.data(), src.px.size(), nullptr);
    i = CGImageCreate(src.w, src.h, 8, 32, src.rowBytes, cs, alpha, p, nullptr, interpolate, kCGRenderingIntentDefault);
    CGDataProviderRelease(p);
    CGColorSpaceRelease(cs);
  }
  ~Img() { CGImageRelease(i); }
};

void Draw(Argb& dst, const Argb& src, CGAffineTransform ctm, bool interpolate, CGInterpolationQuality q,
          CGImageAlphaInfo alpha = kCGImageAlphaFirst) {
  Ctx c(dst);
  Img i(src, alpha, interpolate);
  ASSERT_NE(c.c, nullptr);
  ASSERT_NE(i.i, nullptr);
  CGContextConcatCTM(c.c, ctm);
  CGContextSetInterpolationQuality(c.c, q);
  CGContextSetShouldAntialias(c.c, true);
  CGContextDrawImage(c.c, CGRectMake(0, 0, static_cast<double>(dst.w), static_cast<double>(dst.h)), i.i);
}

}  // namespace

TEST(Quartz, IdentityAndWholePixelTranslationCopyExactly) {
  Argb src = Textured(67, 41);
  for (bool interp : {false, true}) {
    Argb dst(67, 41);
    Draw(dst, src, CGAffineTransformIdentity, interp, interp ? kCGInterpolationHigh : kCGInterpolationLow);
    EXPECT_EQ(dst.px, src.px) << "interpolate " << interp;

    // User space is y-up: +2 in y moves the picture two rows towards the top.
    Argb moved(67, 41);
    Draw(moved, src, CGAffineTransformMake(1, 0, 0, 1, 3, 2), interp, kCGInterpolationHigh);
    for (size_t y = 0; y < 41; ++y)
      for (size_t x = 0; x < 67; ++x) {
        bool covered = x >= 3 && y + 2 < 41;
        if (covered) {
          ASSERT_EQ(std::memcmp(moved.at(x, y), src.at(x - 3, y + 2), 4), 0) << x << "," << y;
        } else {
          UInt32 v; std::memcpy(&v, moved.at(x, y), 4); ASSERT_EQ(v, 0u) << x << "," << y;
        }
      }
  }
}

TEST(Quartz, OriginBottomLeftAndConcatOrder) {
  Argb dst(8, 6);
  Ctx c(dst);
  CGContextSetRGBFillColor(c.c, 1, 0, 0, 1);
  CGContextFillRect(c.c, CGRectMake(0, 0, 1, 1));
  EXPECT_EQ(dst.at(0, 5)[0], 255);
  EXPECT_EQ(dst.at(0, 5)[1], 255);
  EXPECT_EQ(dst.at(0, 0)[1], 0);

  // The transform concatenated last acts first: scale by 2, then translate by 1.
  CGContextConcatCTM(c.c, CGAffineTransformMake(1, 0, 0, 1, 1, 0));
  CGContextConcatCTM(c.c, CGAffineTransformMake(2, 0, 0, 2, 0, 0));
  CGPoint p = CGPointApplyAffineTransform(CGPointMake(1, 1), CGContextGetCTM(c.c));
  EXPECT_DOUBLE_EQ(p.x, 3);
  EXPECT_DOUBLE_EQ(p.y, 2);
  CGAffineTransform t = CGAffineTransformMake(1.2, 0.1, -0.3, 0.9, 4, -7);
  CGAffineTransform back = CGAffineTransformConcat(t, CGAffineTransformInvert(t));
  EXPECT_NEAR(back.a, 1, 1e-12);
  EXPECT_NEAR(back.tx, 0, 1e-12);
}

TEST(Quartz, TransparentSourceAddsNothingAndCoverageGoesToAlpha) {
  Argb src = Textured(20, 10);
  // Margin of two columns made transparent with its colour left in place.
  for (size_t y = 0; y < 10; ++y)
    for (size_t x = 0; x < 2; ++x) src.at(x, y)[0] = 0;
  for (CGImageAlphaInfo alpha : {kCGImageAlphaFirst, kCGImageAlphaPremultipliedFirst}) {
    Argb dst(20, 10);
    Draw(dst, src, CGAffineTransformIdentity, true, kCGInterpolationHigh, alpha);
    for (size_t y = 0; y < 10; ++y) {
      UInt32 v;
      std::memcpy(&v, dst.at(0, y), 4);
      EXPECT_EQ(v, 0u);
      EXPECT_EQ(std::memcmp(dst.at(5, y), src.at(5, y), 4), 0);
    }
  }
  // Half a pixel to the right: the first column is half covered.
  Argb opaque = Textured(20, 10);
  Argb dst(20, 10);
  Draw(dst, opaque, CGAffineTransformMake(1, 0, 0, 1, 0.5, 0), false, kCGInterpolationLow);
  EXPECT_NEAR(dst.at(0, 4)[0], 128, 1);
  EXPECT_EQ(dst.at(1, 4)[0], 255);
  EXPECT_EQ(dst.at(19, 4)[0], 255);
}

TEST(Quartz, NearestOrBilinearByQualityAndImageFlag) {
  Argb src(4, 1);
  for (size_t x = 0; x < 4; ++x) {
    src.at(x, 0)[0] = 255;
    src.at(x, 0)[1] = static_cast<UInt8>(x * 100);
  }
  // Shift right by a quarter pixel: bilinear mixes neighbours, nearest does not.
  Argb a(4, 1), b(4, 1), c(4, 1);
  Draw(a, src, CGAffineTransformMake(1, 0, 0, 1, 0.25, 0), true, kCGInterpolationHigh);
  Draw(b, src, CGAffineTransformMake(1, 0, 0, 1, 0.25, 0), true, kCGInterpolationLow);
  Draw(c, src, CGAffineTransformMake(1, 0, 0, 1, 0.25, 0), false, kCGInterpolationHigh);
  EXPECT_NEAR(a.at(2, 0)[1], 175, 1);
  EXPECT_EQ(b.at(2, 0)[1], 200);
  EXPECT_EQ(c.at(2, 0)[1], 200);
}

TEST(Quartz, ResultDoesNotDependOnBandCount) {
  Argb src = Textured(160, 97);
  CGAffineTransform ctm = CGAffineTransformMake(std::cos(0.05), std::sin(0.05), -std::sin(0.05), std::cos(0.05), 3.3, -2.1);
  std::vector<UInt8> first;
  for (SInt32 bands : {1, 2, 3, 8}) {
    CGSetBandCountForTesting(bands);
    Argb dst(160, 97);
    Draw(dst, src, ctm, true, kCGInterpolationHigh);
    if (first.empty()) first = dst.px;
    EXPECT_EQ(dst.px, first) << bands << " bands";
  }
  CGSetBandCountForTesting(0);
}

TEST(Quartz, FieldContextsAndGrayAndBadArguments) {
  // A context over every other row (row bytes doubled) only writes those rows.
  Argb src = Textured(16, 4);
  Argb frame(16, 8);
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  CGContextRef field = CGBitmapContextCreate(frame.at(0, 1), 16, 4, 8, frame.rowBytes * 2, rgb, kCGImageAlphaNoneSkipFirst);
  ASSERT_NE(field, nullptr);
  Img img(src, kCGImageAlphaFirst, false);
  CGContextDrawImage(field, CGRectMake(0, 0, 16, 4), img.i);
  CGContextRelease(field);
  for (size_t y = 0; y < 8; ++y) {
    if (y % 2) {
      EXPECT_EQ(std::memcmp(frame.at(0, y), src.at(0, y / 2), 16 * 4), 0);
    } else {
      EXPECT_EQ(frame.at(3, y)[0], 0);
    }
  }

  std::vector<UInt8> gsrc(32 * 8), gdst(32 * 8, 0);
  for (size_t i = 0; i < gsrc.size(); ++i) gsrc[i] = static_cast<UInt8>(i * 7);
  CGColorSpaceRef gray = CGColorSpaceCreateDeviceGray();
  CGContextRef gc = CGBitmapContextCreate(gdst.data(), 32, 8, 8, 32, gray, kCGImageAlphaNone);
  CGDataProviderRef gp = CGDataProviderCreateWithData(nullptr, gsrc.data(), gsrc.size(), nullptr);
  CGImageRef gi = CGImageCreate(32, 8, 8, 8, 32, gray, kCGImageAlphaNone, gp, nullptr, true, kCGRenderingIntentDefault);
  ASSERT_NE(gc, nullptr);
  ASSERT_NE(gi, nullptr);
  CGContextDrawImage(gc, CGRectMake(0, 0, 32, 8), gi);
  EXPECT_EQ(gdst, gsrc);

  // Unsupported layouts and providers too small for the rows are refused.
  EXPECT_EQ(CGBitmapContextCreate(gdst.data(), 32, 8, 16, 64, gray, kCGImageAlphaNone), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(frame.px.data(), 16, 8, 8, 16, rgb, kCGImageAlphaNoneSkipFirst), nullptr);
  EXPECT_EQ(CGImageCreate(32, 9, 8, 8, 32, gray, kCGImageAlphaNone, gp, nullptr, true, kCGRenderingIntentDefault), nullptr);
  CGImageRelease(gi);
  CGDataProviderRelease(gp);
  CGContextRelease(gc);
  CGColorSpaceRelease(gray);
  CGColorSpaceRelease(rgb);
}

// Mappings whose source positions leave the reach of the fixed-point row
// stepping (a picture shrunk to nothing, moved far away, squeezed onto a
// line) draw nothing and never read outside the image.
TEST(Quartz, ImpossibleMappingsDrawNothing) {
  Argb src = Textured(40, 30);
  const CGAffineTransform cases[] = {
      CGAffineTransformMake(1e-15, 0, 0, 1e-15, 0, 0),
      CGAffineTransformMake(1e-12, 3e-13, -2e-13, 1e-12, 5, 5),
      CGAffineTransformMake(1, 1, 1, 1 + 1e-15, 0, 0),
      CGAffineTransformMake(1, 0, 0, 1, 1e17, -1e17),
      CGAffineTransformMake(1e300, 0, 0, 1e-300, 0, 0),
  };
  for (const CGAffineTransform& t : cases)
    for (bool interp : {false, true}) {
      Argb dst(40, 30);
      Draw(dst, src, t, interp, interp ? kCGInterpolationHigh : kCGInterpolationLow, kCGImageAlphaNoneSkipFirst);
      EXPECT_EQ(dst.px, Argb(40, 30).px) << t.a << " " << t.b << " " << t.tx << " interpolate " << interp;
    }
}
