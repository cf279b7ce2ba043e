#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/BufferSupport.h"
#include "platform/base/LException.h"
#include "platform/graphics/QuickDraw.h"

using namespace buffertest;

namespace {

const OSType kPortFormats[] = {8, 40, 24, 32, 'b16g', 'b48r', 'b64a'};

class StWorld {
 public:
  StWorld(OSType inFormat, Rect inBounds) : mFormat(inFormat) {
    EXPECT_EQ(0, QTNewGWorld(&mWorld, inFormat, &inBounds, nullptr, nullptr, 0));
  }
  ~StWorld() {
    if (mWorld) DisposeGWorld(mWorld);
  }
  StWorld(const StWorld&) = delete;
  StWorld& operator=(const StWorld&) = delete;
  GWorldPtr Get() const { return mWorld; }
  SInt32 Bytes() const { return QTGetPixelSize(mFormat) / 8; }
  bool Wide() const { return mFormat == 'b16g' || mFormat == 'b48r' || mFormat == 'b64a'; }
  UInt8* Pixel(SInt32 v, SInt32 h) const {
    PixMapHandle pm = GetGWorldPixMap(mWorld);
    Rect b;
    GetPixBounds(pm, &b);
    return reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + (v - b.top) * QTGetPixMapHandleRowBytes(pm) +
           (h - b.left) * Bytes();
  }
  // Component k of a pixel (16-bit formats big-endian).
  UInt32 Comp(SInt32 v, SInt32 h, int k) const {
    const UInt8* p = Pixel(v, h);
    return Wide() ? (static_cast<UInt32>(p[2 * k]) << 8) | p[2 * k + 1] : p[k];
  }
  void SetComp(SInt32 v, SInt32 h, int k, UInt32 x) const {
    UInt8* p = Pixel(v, h);
    if (Wide()) {
      p[2 * k] = static_cast<UInt8>(x >> 8);
      p[2 * k + 1] = static_cast<UInt8>(x);
    } else {
      p[k] = static_cast<UInt8>(x);
    }
  }
  void FillRandom(UInt32 seed) const {
    std::mt19937 gen(seed);
    PixMapHandle pm = GetGWorldPixMap(mWorld);
    Rect b;
    GetPixBounds(pm, &b);
    for (SInt32 v = b.top; v < b.bottom; ++v)
      for (SInt32 i = 0; i < (b.right - b.left) * Bytes(); ++i) Pixel(v, b.left)[i] = static_cast<UInt8>(gen());
  }
  OSType mFormat;

 private:
  GWorldPtr mWorld = nullptr;
};

// The buffer pixel that a port pixel becomes, written into e at (v, h).
void ExpectFromPort(const StWorld& w, SInt32 pv, SInt32 ph, CBuffer& e, SInt32 v, SInt32 h) {
  const OSType f = w.mFormat;
  const bool wide = w.Wide();
  const bool gray = f == 8 || f == 40 || f == 'b16g';
  const int first = f == 32 || f == 'b64a' ? 1 : 0;
  const bool d16 = e.GetDepth() == 2;
  if (gray) {
    const UInt32 g = w.Comp(pv, ph, 0);
    const UInt32 x = d16 ? (wide ? g : g * 257) : (wide ? g >> 8 : g);
    if (e.GetMode() == 1) {
      SetComp(e, v, h, 0, x);
    } else {
      for (int k = 1; k <= 3; ++k) SetComp(e, v, h, k, x);
    }
    return;
  }
  const UInt32 c[3] = {w.Comp(pv, ph, first), w.Comp(pv, ph, first + 1), w.Comp(pv, ph, first + 2)};
  const UInt32 sum = c[0] + c[1] + c[2];
  if (e.GetMode() == 1) {
    UInt32 x;
    if (!d16)
      x = wide ? std::min(255u, (sum * 5462) >> 22) : (sum * 21846) >> 16;
    else
      x = wide ? std::min(65535u, (sum * 5462) >> 14) : (sum * 5462) >> 6;
    SetComp(e, v, h, 0, x);
    return;
  }
  for (int k = 1; k <= 3; ++k) SetComp(e, v, h, k, d16 ? (wide ? c[k - 1] : c[k - 1] * 257) : (wide ? c[k - 1] >> 8 : c[k - 1]));
  if (!d16 && f == 32) SetComp(e, v, h, 0, w.Comp(pv, ph, 0));
  if (d16 && f == 'b64a') SetComp(e, v, h, 0, w.Comp(pv, ph, 0));
}

}  // namespace

TEST(PortTransfer, CopyFromConvertsEveryFormatPairAtEveryBandCount) {
  const Rect portBounds = R(-2, 3, 17, 26);
  const Rect srcRect = R(0, 5, 15, 22);
  const Rect dstRect = R(10, -7, 25, 10);
  for (OSType fmt : kPortFormats) {
    StWorld port(fmt, portBounds);
    port.FillRandom(fmt & 0xFF);
    for (const Format& f : kFormats)
      for (bool masked : {false, true}) {
        CBuffer start(R(8, -9, 27, 12), f.depth, f.mode);
        FillRandom(start, 4);
        CBuffer mask(dstRect, 1, 1);
        FillRandom(mask, 6);
        for (SInt32 v = 10; v < 25; v += 3) SetComp(mask, v, -5, 0, 0);
        CBuffer expected(start, nullptr, true);
        for (SInt32 r = 0; r < 15; ++r)
          for (SInt32 c = 0; c < 17; ++c)
            if (!masked || Comp(mask, 10 + r, -7 + c, 0) != 0) ExpectFromPort(port, r, 5 + c, expected, 10 + r, -7 + c);
        for (SInt32 bands : kBandCounts) {
          SCOPED_TRACE(testing::Message() << "format " << fmt << " buffer " << f.depth << "/" << f.mode << " masked "
                                          << masked << " bands " << bands);
          CBuffer b(start, nullptr, true);
          Rect s = srcRect, d = dstRect;
          WithBands(bands, [&] { EXPECT_EQ(0, b.CopyFrom(port.Get(), &s, &d, masked ? &mask : nullptr, nullptr, nullptr)); });
          EXPECT_EQ(Snapshot(expected), Snapshot(b));
        }
      }
  }
}

TEST(PortTransfer, WhiteAndClampedValues) {
  StWorld rgb(24, R(0, 0, 1, 1)), rgb48('b48r', R(0, 0, 1, 1));
  for (int k = 0; k < 3; ++k) rgb.SetComp(0, 0, k, 255), rgb48.SetComp(0, 0, k, 65535);
  CBuffer g8(R(0, 0, 1, 1), 1, 1), g16(R(0, 0, 1, 1), 2, 1);
  ASSERT_EQ(0, g8.CopyFrom(rgb.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_EQ(0, g16.CopyFrom(rgb.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(255u, Comp(g8, 0, 0, 0));
  EXPECT_EQ((765u * 5462u) >> 6, Comp(g16, 0, 0, 0));
  ASSERT_EQ(0, g8.CopyFrom(rgb48.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_EQ(0, g16.CopyFrom(rgb48.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(255u, Comp(g8, 0, 0, 0));
  EXPECT_EQ(65535u, Comp(g16, 0, 0, 0));
}

TEST(PortTransfer, CopyFromChecksMasksBoxesAndPorts) {
  StWorld port(32, R(0, 0, 6, 6));
  port.FillRandom(1);
  CBuffer b(R(0, 0, 6, 6), 1, 2);
  // A mask of zeros writes nothing but marks the box dirty.
  CBuffer zeros(R(0, 0, 6, 6), 1, 1);
  ASSERT_EQ(0, b.CopyFrom(port.Get(), nullptr, nullptr, &zeros, nullptr, nullptr));
  EXPECT_EQ(std::vector<UInt8>(static_cast<size_t>(b.GetDataSize()), 0), Snapshot(b));
  Rect dirty;
  b.GetDirty(&dirty);
  EXPECT_TRUE(EqualRect(&dirty, &b.GetBounds()));
  CBuffer colourMask(R(0, 0, 6, 6), 1, 2), smallMask(R(0, 0, 3, 6), 1, 1);
  EXPECT_EQ(paramErr, b.CopyFrom(port.Get(), nullptr, nullptr, &colourMask, nullptr, nullptr));
  EXPECT_EQ(paramErr, b.CopyFrom(port.Get(), nullptr, nullptr, &smallMask, nullptr, nullptr));
  Rect small = R(0, 0, 2, 2);
  EXPECT_EQ(paramErr, b.CopyFrom(port.Get(), &small, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(27728, b.CopyFrom(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  // A port format without a conversion.
  StWorld host('h16g', R(0, 0, 6, 6));
  EXPECT_EQ(paramErr, b.CopyFrom(host.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST(PortTransfer, PortConstructorTakesTheFormatAndPixels) {
  StWorld argb(32, R(3, 4, 8, 10));
  argb.FillRandom(2);
  CBuffer a(argb.Get(), nullptr);
  EXPECT_EQ(1, a.GetDepth());
  EXPECT_EQ(2, a.GetMode());
  const Rect portBounds = R(3, 4, 8, 10);
  EXPECT_TRUE(EqualRect(&a.GetBounds(), &portBounds));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(argb.Comp(5, 6, k), Comp(a, 5, 6, k));
  StWorld rgb(24, R(0, 0, 2, 2));
  rgb.FillRandom(3);
  CBuffer c(rgb.Get(), nullptr);
  EXPECT_EQ(0u, Comp(c, 1, 1, 0));  // alpha as allocated
  EXPECT_EQ(rgb.Comp(1, 1, 2), Comp(c, 1, 1, 3));
  StWorld indexed(8, R(0, 0, 2, 2));
  indexed.SetComp(1, 0, 0, 77);
  CBuffer g(indexed.Get(), nullptr);
  EXPECT_EQ(1, g.GetMode());
  EXPECT_EQ(77u, Comp(g, 1, 0, 0));  // the index byte as a gray level
  StWorld wide('b64a', R(0, 0, 2, 2));
  wide.FillRandom(4);
  Rect part = R(1, 0, 2, 2);
  CBuffer w(wide.Get(), &part);
  EXPECT_EQ(2, w.GetDepth());
  EXPECT_EQ(wide.Comp(1, 1, 0), Comp(w, 1, 1, 0));
  EXPECT_EQ(wide.Comp(1, 1, 3), Comp(w, 1, 1, 3));
  StWorld host('h64a', R(0, 0, 2, 2));
  try {
    CBuffer bad(host.Get(), nullptr);
    ADD_FAILURE() << "made a buffer of an unknown format";
  } catch (const LException& e) {
    EXPECT_EQ(static_cast<ExceptionCode>('h64a'), e.GetErrorCode());
  }
  try {
    CBuffer none(static_cast<GrafPtr>(nullptr), nullptr);
    ADD_FAILURE() << "made a buffer of no port";
  } catch (const LException& e) {
    EXPECT_EQ(err_NilPointer, e.GetErrorCode());
  }
}

TEST(PortTransfer, CopyToWritesEveryPortFormatAndRefusesTheOthers) {
  // buffer format, port format, accepted
  struct Pair {
    Format buffer;
    OSType port;
  };
  const Pair pairs[] = {{{1, 1}, 40}, {{1, 1}, 8}, {{1, 2}, 24}, {{1, 2}, 32}, {{2, 1}, 40}, {{2, 1}, 'b16g'},
                        {{2, 2}, 24}, {{2, 2}, 32}, {{2, 2}, 'b48r'}, {{2, 2}, 'b64a'}};
  for (const Pair& p : pairs) {
    SCOPED_TRACE(testing::Message() << p.buffer.depth << "/" << p.buffer.mode << " into " << p.port);
    CBuffer b(R(0, 0, 5, 7), p.buffer.depth, p.buffer.mode);
    FillRandom(b, 9);
    StWorld port(p.port, R(0, 0, 5, 7));
    port.FillRandom(10);
    StWorld before(p.port, R(0, 0, 5, 7));
    std::memcpy(before.Pixel(0, 0), port.Pixel(0, 0), static_cast<size_t>(QTGetPixMapHandleRowBytes(GetGWorldPixMap(port.Get()))) * 5);
    ASSERT_EQ(0, b.CopyTo(port.Get(), nullptr));
    const bool wideBuffer = p.buffer.depth == 2;
    for (SInt32 v = 0; v < 5; ++v)
      for (SInt32 h = 0; h < 7; ++h) {
        auto expect = [&](UInt32 x) { return wideBuffer && !port.Wide() ? x >> 8 : x; };
        if (p.buffer.mode == 1) {
          EXPECT_EQ(expect(Comp(b, v, h, 0)), port.Comp(v, h, 0));
          continue;
        }
        const int first = p.port == 32 || p.port == 'b64a' ? 1 : 0;
        for (int k = 1; k <= 3; ++k) EXPECT_EQ(expect(Comp(b, v, h, k)), port.Comp(v, h, first + k - 1));
        if (p.port == 'b64a' || (p.port == 32 && !wideBuffer)) {
          EXPECT_EQ(expect(Comp(b, v, h, 0)), port.Comp(v, h, 0));
        }
        if (p.port == 32 && wideBuffer) {
          EXPECT_EQ(before.Comp(v, h, 0), port.Comp(v, h, 0));  // the port's alpha is kept
        }
      }
  }
  CBuffer gray(R(0, 0, 2, 2), 1, 1);
  StWorld argb(32, R(0, 0, 2, 2));
  EXPECT_EQ(paramErr, gray.CopyTo(argb.Get(), nullptr));
  EXPECT_EQ(27728, gray.CopyTo(static_cast<GrafPtr>(nullptr), nullptr));
}

TEST(PortTransfer, CopyToPlacesTheBoxAtThePortCornerAndStaysInsideTheBuffer) {
  CBuffer b(R(0, 0, 4, 4), 1, 1);
  FillRandom(b, 12);
  StWorld port(40, R(0, 0, 10, 10));
  Rect corner = R(2, 1, 4, 3);
  ASSERT_EQ(0, b.CopyTo(port.Get(), &corner));
  EXPECT_EQ(Comp(b, 2, 1, 0), port.Comp(0, 0, 0));
  EXPECT_EQ(Comp(b, 3, 2, 0), port.Comp(1, 1, 0));
  EXPECT_EQ(0u, port.Comp(2, 2, 0));
  // A rectangle larger than the buffer copies only the buffer's pixels.
  StWorld big(40, R(0, 0, 10, 10));
  Rect all = R(0, 0, 10, 10);
  ASSERT_EQ(0, b.CopyTo(big.Get(), &all));
  for (SInt32 v = 0; v < 10; ++v)
    for (SInt32 h = 0; h < 10; ++h) EXPECT_EQ(v < 4 && h < 4 ? Comp(b, v, h, 0) : 0u, big.Comp(v, h, 0));
  // Into a 16-bit gray port and back.
  CBuffer g16(R(0, 0, 3, 3), 2, 1), back(R(0, 0, 3, 3), 2, 1);
  FillRandom(g16, 13);
  StWorld port16('b16g', R(0, 0, 3, 3));
  ASSERT_EQ(0, g16.CopyTo(port16.Get(), nullptr));
  ASSERT_EQ(0, back.CopyFrom(port16.Get(), nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(Snapshot(g16), Snapshot(back));
}

TEST(SplitMerge, SplitThenMergeRestoresColoursAndKeepsAlpha) {
  for (SInt32 bands : kBandCounts)
  WithBands(bands, [] {
  for (SInt16 depth : {1, 2}) {
    CBuffer src(R(0, 0, 9, 11), depth, 2);
    FillRandom(src, 14);
    CBuffer red(R(0, 0, 9, 11), depth, 1), green(R(-3, -3, 12, 14), depth, 1), blue(R(0, 0, 9, 11), depth, 1);
    src.Split(&red, &green, &blue, nullptr);
    EXPECT_EQ(Comp(src, 4, 5, 1), Comp(red, 4, 5, 0));
    EXPECT_EQ(Comp(src, 4, 5, 2), Comp(green, 4, 5, 0));
    EXPECT_EQ(Comp(src, 8, 10, 3), Comp(blue, 8, 10, 0));
    CBuffer dst(R(0, 0, 9, 11), depth, 2);
    FillRandom(dst, 15);
    CBuffer alphaBefore(dst, nullptr, true);
    dst.Merge(&red, &green, &blue, nullptr);
    EXPECT_TRUE(CBuffer::IsEqual(&src, &dst, nullptr));
    for (SInt32 v = 0; v < 9; ++v)
      for (SInt32 h = 0; h < 11; ++h) EXPECT_EQ(Comp(alphaBefore, v, h, 0), Comp(dst, v, h, 0));
    // Every colour difference is found, whichever band holds it.
    SetComp(dst, 8, 10, 3, Comp(dst, 8, 10, 3) ^ 4);
    EXPECT_FALSE(CBuffer::IsEqual(&src, &dst, nullptr));
  }
  });
  CBuffer argb(R(0, 0, 2, 2), 1, 2), gray(R(0, 0, 2, 2), 1, 1), gray16(R(0, 0, 2, 2), 2, 1);
  auto code = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const LException& e) {
      return e.GetErrorCode();
    }
    return static_cast<ExceptionCode>(0);
  };
  EXPECT_EQ(err_NilPointer, code([&] { argb.Split(&gray, nullptr, &gray, nullptr); }));
  EXPECT_EQ(-1, code([&] { gray.Split(&gray, &gray, &gray, nullptr); }));
  EXPECT_EQ(-1, code([&] { argb.Merge(&gray, &argb, &gray, nullptr); }));
  EXPECT_EQ(-1, code([&] { argb.Merge(&gray, &gray16, &gray, nullptr); }));
}

TEST(Compare, IsEqualComparesColoursInTheCommonBox) {
  CBuffer a(R(0, 0, 4, 4), 1, 2), b(R(2, 2, 6, 6), 1, 2);
  FillRandom(a, 16);
  for (SInt32 v = 2; v < 4; ++v)
    for (SInt32 h = 2; h < 4; ++h)
      for (int k = 0; k < 4; ++k) SetComp(b, v, h, k, k == 0 ? 0 : Comp(a, v, h, k));
  EXPECT_TRUE(CBuffer::IsEqual(&a, &b, nullptr));  // alpha does not count
  SetComp(b, 3, 3, 2, Comp(a, 3, 3, 2) ^ 1);
  EXPECT_FALSE(CBuffer::IsEqual(&a, &b, nullptr));
  Rect away = R(2, 2, 3, 4);
  EXPECT_TRUE(CBuffer::IsEqual(&a, &b, &away));
  CBuffer far(R(10, 10, 12, 12), 1, 2), gray(R(0, 0, 4, 4), 1, 1), a16(R(0, 0, 4, 4), 2, 2);
  EXPECT_TRUE(CBuffer::IsEqual(&a, &far, nullptr));
  EXPECT_FALSE(CBuffer::IsEqual(&a, &gray, nullptr));
  EXPECT_FALSE(CBuffer::IsEqual(&a, &a16, nullptr));
  EXPECT_FALSE(CBuffer::IsEqual(&a, nullptr, nullptr));
  EXPECT_FALSE(CBuffer::IsEqual(nullptr, nullptr, nullptr));
}

TEST(PortTransfer, PictureConstructorDrawsThePictureIntoAnARGBBuffer) {
  StWorld world(32, R(0, 0, 10, 10));
  CGrafPtr savedPort;
  GDHandle savedDevice;
  GetGWorld(&savedPort, &savedDevice);
  SetGWorld(world.Get(), nullptr);
  const Rect frame = R(0, 0, 4, 6);
  PicHandle pic = OpenPicture(&frame);
  ASSERT_NE(nullptr, pic);
  const RGBColor red{65535, 0, 0};
  RGBForeColor(&red);
  const Rect inner = R(1, 1, 3, 5);
  PaintRect(&inner);
  ClosePicture();
  SetGWorld(savedPort, savedDevice);
  CBuffer b(pic, nullptr);
  EXPECT_TRUE(EqualRect(&b.GetBounds(), &frame));
  EXPECT_EQ(1, b.GetDepth());
  EXPECT_EQ(2, b.GetMode());
  EXPECT_EQ(255u, Comp(b, 2, 2, 1));
  EXPECT_EQ(0u, Comp(b, 2, 2, 2));
  EXPECT_EQ(0u, Comp(b, 0, 0, 1));  // erased to black around the drawing
  KillPicture(pic);
  try {
    CBuffer none(static_cast<PicHandle>(nullptr), nullptr);
    ADD_FAILURE() << "made a buffer of no picture";
  } catch (const LException& e) {
    EXPECT_EQ(err_NilPointer, e.GetErrorCode());
  }
}
