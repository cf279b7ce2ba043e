// Golden outputs: the renderer's bytes for every border mode and quality over
// a short synthetic clip, pinned as one checksum each. The arithmetic is
// exact (fixed point, no threads in the result), so any change of a byte is a
// change of behaviour: on a mismatch the test prints the new value, and an
// intended change is one edit of the table.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/FixMath.h"

namespace {

UInt64 Fnv1a(const CBuffer& inBuffer, UInt64 ioHash) {
  const SInt32 w = inBuffer.GetWidth(), h = inBuffer.GetHeight();
  const UInt8* base = reinterpret_cast<const UInt8*>(const_cast<CBuffer&>(inBuffer).GetData());
  for (SInt32 y = 0; y < h; ++y) {
    const UInt8* row = base + static_cast<size_t>(y) * inBuffer.GetRowBytes();
    for (SInt32 i = 0; i < 4 * w; ++i) {
      ioHash ^= row[i];
      ioHash *= 1099511628211ull;
    }
  }
  return ioHash;
}

// Frame k of the clip: a texture of gradients and hard edges.
void FillFrame(CBuffer& ioFrame, SInt32 k) {
  UInt8* base = reinterpret_cast<UInt8*>(ioFrame.GetData());
  for (SInt32 y = 0; y < ioFrame.GetHeight(); ++y)
    for (SInt32 x = 0; x < ioFrame.GetWidth(); ++x) {
      UInt8* p = base + static_cast<size_t>(y) * ioFrame.GetRowBytes() + 4 * x;
      p[0] = 255;
      p[1] = static_cast<UInt8>(x * 7 + y * 3 + k * 17);
      p[2] = static_cast<UInt8>((x * 13) ^ (y * 5 + k));
      p[3] = static_cast<UInt8>(((x / 9 + y / 7 + k) & 1) ? 230 : 20);
    }
}

// The checksum of the whole clip rendered with one border mode and quality:
// each frame turned and shifted by a different sub-pixel amount.
UInt64 RenderClip(SInt32 inBorder, SInt32 inQuality) {
  constexpr SInt16 kW = 96, kH = 64;
  CBuffer src(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  CBuffer dst(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  UInt64 hash = 14695981039346656037ull;
  for (SInt32 k = 0; k < 4; ++k) {
    FillFrame(src, k);
    RenderFrameParams p;
    p.borderMode = inBorder;
    p.quality = inQuality;
    p.fieldMode = kRenderFrame;
    p.interlaceMode = kInterlace_Progressive;
    p.margins = Rect{3, 2, 3, 2};
    p.borderColor = RGBColor{0x1234, 0x8000, 0xFFFF};
    RotateMatrix(&p.firstMatrix, X2Fix(1.5 - 0.9 * k), Long2Fix(kW / 2), Long2Fix(kH / 2));
    TranslateMatrix(&p.firstMatrix, X2Fix(2.375 - 1.25 * k), X2Fix(-1.625 + 0.75 * k));
    EXPECT_EQ(CMovieRendering::RenderFrame(&src, &dst, &p), noErr);
    hash = Fnv1a(dst, hash);
  }
  return hash;
}

}  // namespace

TEST(RendererGolden, EveryBorderModeAndQuality) {
  struct Golden {
    SInt32 border, quality;
    UInt64 checksum;
  };
  const Golden kGolden[] = {
      {kBorderTransparent, kQualityLow, 0xbee2eb4d704e0946ull},
      {kBorderTransparent, kQualityHigh, 0x5aaafa29ec9a5a50ull},
      {kBorderColor, kQualityLow, 0x69a1113b083f8005ull},
      {kBorderColor, kQualityHigh, 0xfcc9c7ad05b14eeeull},
      {kBorderUntransformed, kQualityLow, 0x288b43a92b2fa05dull},
      {kBorderUntransformed, kQualityHigh, 0xf3dbcd4fb0ae45bdull},
      {kBorderFilled, kQualityLow, 0xf48af735ea79f1b9ull},
      {kBorderFilled, kQualityHigh, 0x3ec069b9a91bcf91ull},
  };

  for (const Golden& g : kGolden) {
    const UInt64 got = RenderClip(g.border, g.quality);
    EXPECT_EQ(got, g.checksum) << "border " << g.border << " quality " << g.quality << ": new checksum 0x" << std::hex
                               << got << "ull";
  }
}
