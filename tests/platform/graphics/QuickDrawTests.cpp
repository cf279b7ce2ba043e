#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/graphics/QTImageDescription.h"
#include "platform/graphics/QuickDraw.h"

namespace {

Rect R(SInt16 top, SInt16 left, SInt16 bottom, SInt16 right) { return Rect{top, left, bottom, right}; }

// A GWorld of the format over test-owned memory, made current for the scope.
struct TestWorld {
  std::vector<UInt8> mem;
  GWorldPtr world = nullptr;
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  SInt32 rowBytes;
  Rect bounds;
  TestWorld(OSType format, Rect b, SInt32 bpp) : rowBytes((b.right - b.left) * bpp + 16), bounds(b) {
    mem.assign(static_cast<size_t>(rowBytes) * static_cast<size_t>(b.bottom - b.top), 0);
    EXPECT_EQ(QTNewGWorldFromPtr(&world, format, &bounds, nullptr, nullptr, 0, mem.data(), rowBytes), noErr);
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
  }
  ~TestWorld() {
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
  }
  UInt8* At(SInt32 v, SInt32 h, SInt32 bpp) {
    return mem.data() + static_cast<size_t>((v - bounds.top) * rowBytes + (h - bounds.left) * bpp);
  }
};

bool RgnHas(RgnHandle rgn, SInt16 h, SInt16 v) { return PtInRgn(Point{v, h}, rgn); }

}  // namespace

TEST(QuickDrawRects, IntersectUnionInsetMap) {
  Rect a = R(0, 0, 10, 10), b = R(5, 5, 20, 20), out;
  EXPECT_TRUE(SectRect(&a, &b, &out));
  EXPECT_TRUE(EqualRect(&out, &(const Rect&)R(5, 5, 10, 10)));
  Rect far = R(30, 30, 40, 40);
  EXPECT_FALSE(SectRect(&a, &far, &out));
  EXPECT_TRUE(EmptyRect(&out));
  UnionRect(&a, &b, &out);
  EXPECT_TRUE(EqualRect(&out, &(const Rect&)R(0, 0, 20, 20)));
  Rect empty = R(3, 3, 3, 9);
  UnionRect(&a, &empty, &out);
  EXPECT_TRUE(EqualRect(&out, &a));
  Rect in = a;
  InsetRect(&in, 6, 1);
  EXPECT_TRUE(EqualRect(&in, &(const Rect&)R(0, 0, 0, 0)));
  EXPECT_TRUE(PtInRect(Point{0, 0}, &a));
  EXPECT_FALSE(PtInRect(Point{10, 0}, &a));  // bottom edge is outside
  Rect m = R(2, 2, 4, 4), from = R(0, 0, 10, 10), to = R(0, 0, 20, 40);
  MapRect(&m, &from, &to);
  EXPECT_TRUE(EqualRect(&m, &(const Rect&)R(4, 8, 8, 16)));
}

TEST(QuickDrawRegions, BooleanOperationsAreCanonical) {
  RgnHandle a = NewRgn(), b = NewRgn(), u1 = NewRgn(), u2 = NewRgn(), d = NewRgn(), x = NewRgn(), s = NewRgn();
  SetRectRgn(a, 0, 0, 10, 10);
  SetRectRgn(b, 5, 5, 15, 15);
  UnionRgn(a, b, u1);
  UnionRgn(b, a, u2);
  EXPECT_TRUE(EqualRgn(u1, u2));
  Rect box;
  GetRegionBounds(u1, &box);
  EXPECT_TRUE(EqualRect(&box, &(const Rect&)R(0, 0, 15, 15)));
  EXPECT_TRUE(RgnHas(u1, 12, 12));
  EXPECT_FALSE(RgnHas(u1, 12, 2));
  EXPECT_FALSE(IsRegionRectangular(u1));

  // A hole in the middle: four rectangles around it.
  RgnHandle hole = NewRgn();
  SetRectRgn(hole, 3, 3, 7, 7);
  DiffRgn(a, hole, d);
  EXPECT_EQ(CountRgnRects(d), 4);
  EXPECT_FALSE(RgnHas(d, 5, 5));
  EXPECT_TRUE(RgnHas(d, 1, 5));
  // Putting the hole back gives the rectangle again.
  UnionRgn(d, hole, d);
  EXPECT_TRUE(EqualRgn(d, a));

  XorRgn(a, b, x);
  EXPECT_FALSE(RgnHas(x, 7, 7));
  EXPECT_TRUE(RgnHas(x, 2, 2));
  EXPECT_TRUE(RgnHas(x, 12, 12));
  SectRgn(a, b, s);
  Rect expect = R(5, 5, 10, 10);
  EXPECT_TRUE(RectInRgn(&expect, s));
  GetRegionBounds(s, &box);
  EXPECT_TRUE(EqualRect(&box, &expect));
  OffsetRgn(s, 100, 0);
  EXPECT_TRUE(RgnHas(s, 105, 5));
  SetRectRgn(hole, 200, 200, 210, 210);
  SectRgn(a, hole, s);
  EXPECT_TRUE(EmptyRgn(s));
  SetEmptyRgn(a);
  EXPECT_TRUE(EmptyRgn(a));
  for (RgnHandle r : {a, b, u1, u2, d, x, s, hole}) DisposeRgn(r);
}

TEST(QuickDrawPorts, WorldOverCallerMemoryAndPainting) {
  TestWorld w(k32ARGBPixelFormat, R(10, 20, 14, 28), 4);
  PixMapHandle pm = GetGWorldPixMap(w.world);
  ASSERT_NE(pm, nullptr);
  EXPECT_EQ(GetPixBaseAddr(pm), reinterpret_cast<Ptr>(w.mem.data()));
  EXPECT_EQ(QTGetPixMapHandleRowBytes(pm), w.rowBytes);
  Rect b;
  GetPixBounds(pm, &b);
  EXPECT_TRUE(EqualRect(&b, &w.bounds));
  EXPECT_EQ(GetPixDepth(pm), 32);
  EXPECT_TRUE(LockPixels(pm));
  EXPECT_TRUE(GetPixelsState(pm) & pixelsLocked);
  UnlockPixels(pm);
  EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);

  RGBColor c{0x1200, 0x3400, 0x5600};
  RGBForeColor(&c);
  Rect r = R(11, 21, 13, 23);
  PaintRect(&r);
  const UInt8 expect[4] = {0xFF, 0x12, 0x34, 0x56};
  EXPECT_EQ(std::memcmp(w.At(11, 21, 4), expect, 4), 0);
  EXPECT_EQ(std::memcmp(w.At(12, 22, 4), expect, 4), 0);
  EXPECT_EQ(w.At(13, 21, 4)[0], 0);  // bottom edge not painted
  EXPECT_EQ(w.At(11, 23, 4)[0], 0);

  // Painting is clipped to the clip region and to the pixels.
  BackColor(whiteColor);
  Rect clip = R(10, 20, 11, 22);
  ClipRect(&clip);
  Rect all = R(-100, -100, 100, 100);
  EraseRect(&all);
  EXPECT_EQ(w.At(10, 21, 4)[1], 0xFF);
  EXPECT_EQ(w.At(11, 21, 4)[1], 0x12);
  Rect open = R(-32767, -32767, 32767, 32767);
  ClipRect(&open);

  RGBColor got;
  GetForeColor(&got);
  EXPECT_EQ(got.red, 0x1200);
  ForeColor(redColor);
  GetForeColor(&got);
  EXPECT_EQ(got.red, 0xFFFF);
  EXPECT_EQ(got.green, 0);
}

TEST(QuickDrawPorts, FormatsStoreTheirComponents) {
  RGBColor c{0xFFFF, 0x8000, 0x0000};
  Rect r = R(0, 0, 1, 1);
  {
    TestWorld w(k16GrayPixelFormat, R(0, 0, 2, 2), 2);
    RGBForeColor(&c);
    PaintRect(&r);
    EXPECT_EQ(ReadBE16(w.At(0, 0, 2)), (0xFFFF + 0x8000) / 3);  // big-endian gray
  }
  {
    TestWorld w(k64ARGBPixelFormat, R(0, 0, 2, 2), 8);
    RGBForeColor(&c);
    PaintRect(&r);
    EXPECT_EQ(ReadBE16(w.At(0, 0, 8)), 0xFFFF);
    EXPECT_EQ(ReadBE16(w.At(0, 0, 8) + 2), 0xFFFF);
    EXPECT_EQ(ReadBE16(w.At(0, 0, 8) + 4), 0x8000);
    EXPECT_EQ(ReadBE16(w.At(0, 0, 8) + 6), 0);
  }
  {
    TestWorld w(k8IndexedGrayPixelFormat, R(0, 0, 2, 2), 1);
    ForeColor(whiteColor);
    PaintRect(&r);
    EXPECT_EQ(*w.At(0, 0, 1), 255);
  }
  {
    TestWorld w(k8IndexedPixelFormat, R(0, 0, 2, 2), 1);
    ForeColor(redColor);
    PaintRect(&r);
    EXPECT_EQ(*w.At(0, 0, 1), 35);  // pure red in the system palette
    ForeColor(blackColor);
    PaintRect(&r);
    EXPECT_EQ(*w.At(0, 0, 1), 255);
  }
}

TEST(QuickDrawPorts, PenFrameAndLine) {
  TestWorld w(k8IndexedGrayPixelFormat, R(0, 0, 10, 10), 1);
  ForeColor(whiteColor);
  PenSize(2, 2);
  Rect r = R(1, 1, 9, 9);
  FrameRect(&r);
  EXPECT_EQ(*w.At(1, 1, 1), 255);
  EXPECT_EQ(*w.At(2, 5, 1), 255);
  EXPECT_EQ(*w.At(3, 5, 1), 0);  // inside the two-pixel frame
  EXPECT_EQ(*w.At(5, 8, 1), 255);
  PenState ps;
  GetPenState(&ps);
  EXPECT_EQ(ps.pnSize.h, 2);
  PenNormal();
  GetPenState(&ps);
  EXPECT_EQ(ps.pnSize.h, 1);
  EXPECT_EQ(ps.pnMode, patCopy);
  MoveTo(3, 5);
  LineTo(5, 5);
  for (int h = 3; h <= 5; ++h) EXPECT_EQ(*w.At(5, h, 1), 255) << h;
  EXPECT_EQ(*w.At(5, 6, 1), 0);
  EXPECT_EQ(*w.At(4, 4, 1), 0);
  Point pen;
  GetPen(&pen);
  EXPECT_EQ(pen.h, 5);
}

TEST(QuickDrawPorts, OwnMemoryWorldsAndCurrentPort) {
  GWorldPtr world = nullptr;
  Rect b = R(0, 0, 3, 5);
  ASSERT_EQ(NewGWorld(&world, 32, &b, nullptr, nullptr, 0), noErr);
  EXPECT_EQ(GetPixRowBytes(GetGWorldPixMap(world)) % 16, 0);
  EXPECT_TRUE(IsValidPort(world));
  SetGWorld(world, nullptr);
  DisposeGWorld(world);
  CGrafPtr current = nullptr;
  GetGWorld(&current, nullptr);
  EXPECT_EQ(current, GetScreenPort());
  EXPECT_FALSE(IsValidPort(world));
  EXPECT_NE(NewGWorld(&world, 3, &b, nullptr, nullptr, 0), noErr);
  EXPECT_EQ(world, nullptr);
  Rect empty = R(0, 0, 0, 5);
  EXPECT_NE(QTNewGWorld(&world, k32ARGBPixelFormat, &empty, nullptr, nullptr, 0), noErr);
  std::vector<UInt8> mem(64);
  // Rows shorter than the pixels are refused.
  EXPECT_EQ(QTNewGWorldFromPtr(&world, k32ARGBPixelFormat, &b, nullptr, nullptr, 0, mem.data(), 8), paramErr);
}

TEST(QuickDrawCopyBits, CopiesConvertsScalesAndMasks) {
  TestWorld src(k32ARGBPixelFormat, R(0, 0, 2, 2), 4);
  const UInt8 px[4][4] = {{0x80, 10, 20, 30}, {0xFF, 40, 50, 60}, {0xFF, 70, 80, 90}, {0x00, 100, 110, 120}};
  std::memcpy(src.At(0, 0, 4), px[0], 4);
  std::memcpy(src.At(0, 1, 4), px[1], 4);
  std::memcpy(src.At(1, 0, 4), px[2], 4);
  std::memcpy(src.At(1, 1, 4), px[3], 4);
  const BitMap* sb = GetPortBitMapForCopyBits(src.world);
  Rect sr = R(0, 0, 2, 2);
  {
    // Same format, scaled by two: nearest neighbour, alpha copied.
    TestWorld dst(k32ARGBPixelFormat, R(0, 0, 4, 4), 4);
    Rect dr = R(0, 0, 4, 4);
    CopyBits(sb, GetPortBitMapForCopyBits(dst.world), &sr, &dr, srcCopy, nullptr);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(std::memcmp(dst.At(0, 0, 4), px[0], 4), 0);
    EXPECT_EQ(std::memcmp(dst.At(1, 1, 4), px[0], 4), 0);
    EXPECT_EQ(std::memcmp(dst.At(0, 3, 4), px[1], 4), 0);
    EXPECT_EQ(std::memcmp(dst.At(3, 3, 4), px[3], 4), 0);
  }
  {
    // Through a mask region: only the masked pixels change.
    TestWorld dst(k32ARGBPixelFormat, R(0, 0, 2, 2), 4);
    RgnHandle mask = NewRgn();
    SetRectRgn(mask, 1, 0, 2, 2);
    CopyBits(sb, GetPortBitMapForCopyBits(dst.world), &sr, &sr, srcCopy, mask);
    EXPECT_EQ(dst.At(0, 0, 4)[1], 0);
    EXPECT_EQ(std::memcmp(dst.At(0, 1, 4), px[1], 4), 0);
    EXPECT_EQ(std::memcmp(dst.At(1, 1, 4), px[3], 4), 0);
    DisposeRgn(mask);
  }
  {
    // Into 16-bit big-endian ARGB and gray: components widened by 257.
    TestWorld dst(k64ARGBPixelFormat, R(0, 0, 2, 2), 8);
    CopyBits(sb, GetPortBitMapForCopyBits(dst.world), &sr, &sr, srcCopy, nullptr);
    EXPECT_EQ(ReadBE16(dst.At(0, 0, 8)), 0x80 * 257);
    EXPECT_EQ(ReadBE16(dst.At(0, 0, 8) + 2), 10 * 257);
    TestWorld gray(k16GrayPixelFormat, R(0, 0, 2, 2), 2);
    CopyBits(GetPortBitMapForCopyBits(dst.world), GetPortBitMapForCopyBits(gray.world), &sr, &sr, srcCopy, nullptr);
    EXPECT_EQ(ReadBE16(gray.At(0, 1, 2)), 50 * 257);
    // And back to 8-bit: the high bytes.
    TestWorld back(k32ARGBPixelFormat, R(0, 0, 2, 2), 4);
    CopyBits(GetPortBitMapForCopyBits(dst.world), GetPortBitMapForCopyBits(back.world), &sr, &sr, srcCopy, nullptr);
    EXPECT_EQ(std::memcmp(back.mem.data(), src.mem.data(), 8), 0);
  }
  {
    // A source rectangle reaching outside the source leaves those pixels alone.
    TestWorld dst(k32ARGBPixelFormat, R(0, 0, 2, 2), 4);
    Rect wide = R(0, -1, 2, 1);
    CopyBits(sb, GetPortBitMapForCopyBits(dst.world), &wide, &sr, srcCopy, nullptr);
    EXPECT_EQ(dst.At(0, 0, 4)[1], 0);
    EXPECT_EQ(std::memcmp(dst.At(0, 1, 4), px[0], 4), 0);
  }
}

TEST(QuickDrawPictures, RecordAndDrawScaledAndTrimmed) {
  TestWorld src(k32ARGBPixelFormat, R(0, 0, 2, 2), 4);
  std::memset(src.mem.data(), 0x7F, src.mem.size());
  PicHandle pic = nullptr;
  {
    TestWorld rec(k32ARGBPixelFormat, R(0, 0, 4, 4), 4);
    OpenCPicParams params{R(0, 0, 4, 4), 72 << 16, 72 << 16, -2, 0, 0};
    pic = OpenCPicture(&params);
    ASSERT_NE(pic, nullptr);
    ForeColor(redColor);
    Rect top = R(0, 0, 2, 4);
    PaintRect(&top);
    Rect sr = R(0, 0, 2, 2), dr = R(2, 0, 4, 2);
    CopyBits(GetPortBitMapForCopyBits(src.world), GetPortBitMapForCopyBits(rec.world), &sr, &dr, srcCopy, nullptr);
    ClosePicture();
    // Recording does not paint shapes into the port.
    EXPECT_EQ(rec.At(0, 0, 4)[1], 0);
  }
  Rect frame;
  ASSERT_NE(QDGetPictureBounds(pic, &frame), nullptr);
  EXPECT_TRUE(EqualRect(&frame, &(const Rect&)R(0, 0, 4, 4)));
  EXPECT_TRUE(IsValidPicture(pic));

  // The picture is plain bytes: a copy of the handle draws the same.
  Handle copy = reinterpret_cast<Handle>(pic);
  ASSERT_EQ(HandToHand(&copy), noErr);
  {
    TestWorld out(k32ARGBPixelFormat, R(0, 0, 8, 8), 4);
    Rect dst = R(0, 0, 8, 8);
    DrawPicture(reinterpret_cast<PicHandle>(copy), &dst);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(out.At(3, 7, 4)[1], 0xFF);  // red band scaled to rows 0..3
    EXPECT_EQ(out.At(3, 7, 4)[2], 0);
    EXPECT_EQ(out.At(5, 2, 4)[1], 0x7F);  // copied pixels scaled into rows 4..7, columns 0..3
    EXPECT_EQ(out.At(5, 5, 4)[1], 0);
  }
  {
    TestWorld out(k32ARGBPixelFormat, R(0, 0, 4, 4), 4);
    RgnHandle trim = NewRgn();
    SetRectRgn(trim, 0, 0, 1, 4);
    Rect dst = R(0, 0, 4, 4);
    EXPECT_EQ(DrawTrimmedPicture(pic, &dst, trim, 2, nullptr), noErr);
    EXPECT_EQ(out.At(0, 0, 4)[1], 0xFF);
    EXPECT_EQ(out.At(0, 2, 4)[1], 0);  // outside the trim region
    DisposeRgn(trim);
    // Damaged bytes are refused, never read beyond the handle.
    SetHandleSize(copy, GetHandleSize(copy) - 5);
    EXPECT_NE(DrawTrimmedPicture(reinterpret_cast<PicHandle>(copy), &dst, nullptr, 0, nullptr), noErr);
  }
  KillPicture(reinterpret_cast<PicHandle>(copy));
  KillPicture(pic);
}

TEST(QuickDrawImageDescriptions, DescribePixMapsAndCarryExtensions) {
  TestWorld w(k32ARGBPixelFormat, R(0, 0, 3, 5), 4);
  ImageDescriptionHandle desc = nullptr;
  ASSERT_EQ(MakeImageDescriptionForPixMap(GetGWorldPixMap(w.world), &desc), noErr);
  EXPECT_EQ((**desc).cType, kRawCodecType);
  EXPECT_EQ((**desc).depth, 32);
  EXPECT_EQ((**desc).width, 5);
  EXPECT_EQ((**desc).height, 3);

  Handle ext = NewHandle(4);
  WriteBE32(*ext, 'b16g');
  ASSERT_EQ(AddImageDescriptionExtension(desc, ext, 'cspc'), noErr);
  ASSERT_EQ(AddImageDescriptionExtension(desc, ext, 'cspc'), noErr);
  EXPECT_EQ((**desc).idSize, static_cast<SInt32>(sizeof(ImageDescription)) + 24);
  SInt32 count = 0;
  EXPECT_EQ(CountImageDescriptionExtensionType(desc, 'cspc', &count), noErr);
  EXPECT_EQ(count, 2);
  Handle got = nullptr;
  ASSERT_EQ(GetImageDescriptionExtension(desc, &got, 'cspc', 1), noErr);
  EXPECT_EQ(GetHandleSize(got), 4);
  EXPECT_EQ(ReadBE32(*got), static_cast<UInt32>('b16g'));
  DisposeHandle(got);
  EXPECT_EQ(GetImageDescriptionExtension(desc, &got, 'fiel', 1), codecExtensionNotFoundErr);
  EXPECT_EQ(RemoveImageDescriptionExtension(desc, 'cspc', 1), noErr);
  CountImageDescriptionExtensionType(desc, 'cspc', &count);
  EXPECT_EQ(count, 1);
  DisposeHandle(ext);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  TestWorld g(k16GrayPixelFormat, R(0, 0, 2, 2), 2);
  ASSERT_EQ(MakeImageDescriptionForPixMap(GetGWorldPixMap(g.world), &desc), noErr);
  EXPECT_EQ((**desc).cType, k16GrayPixelFormat);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(QuickDrawText, MeasuresDrawsAndBreaksLines) {
  TestWorld w(k8IndexedGrayPixelFormat, R(0, 0, 30, 80), 1);
  TextSize(12);
  TextFace(normal);
  FontInfo info;
  GetFontInfo(&info);
  EXPECT_GT(info.ascent, 6);
  EXPECT_GT(info.descent, 0);
  const unsigned char ab[] = {2, 'a', 'b'}, ii[] = {2, 'i', 'i'}, ww[] = {2, 'W', 'W'};
  EXPECT_EQ(StringWidth(ab), CharWidth('a') + CharWidth('b'));
  EXPECT_LT(StringWidth(ii), StringWidth(ww));
  EXPECT_EQ(TextWidth("xab", 1, 2), StringWidth(ab));
  TextFace(bold);
  EXPECT_GE(StringWidth(ww), TextWidth("WW", 0, 2));
  TextFace(normal);

  ForeColor(whiteColor);
  MoveTo(5, 20);
  DrawString(ww);
  Point pen;
  GetPen(&pen);
  EXPECT_EQ(pen.h, 5 + StringWidth(ww));
  int lit = 0, outside = 0;
  for (SInt16 v = 0; v < 30; ++v)
    for (SInt16 h = 0; h < 80; ++h)
      if (*w.At(v, h, 1) != 0) {
        ++lit;
        if (h < 5 || h > pen.h || v < 20 - info.ascent || v > 20 + info.descent) ++outside;
      }
  EXPECT_GT(lit, 10);
  EXPECT_EQ(outside, 0);
  // Clipped away: nothing drawn, the pen still moves.
  std::memset(w.mem.data(), 0, w.mem.size());
  Rect none = R(0, 0, 0, 0);
  ClipRect(&none);
  MoveTo(5, 20);
  DrawString(ww);
  for (UInt8 v : w.mem) EXPECT_EQ(v, 0);
  Rect open = R(-32767, -32767, 32767, 32767);
  ClipRect(&open);

  char text[] = "hello world foo";
  const SInt16 fit = TextWidth(text, 0, 12) + 1;  // "hello world " and a pixel
  Fixed width = fit << 16;
  SInt32 offset = 1;
  EXPECT_EQ(StyledLineBreak(text, 15, 0, 15, 0, &width, &offset), smBreakWord);
  EXPECT_EQ(offset, 12);
  char longWord[] = "abcdefghijklmnop";
  width = TextWidth(longWord, 0, 5) << 16;
  offset = 1;
  EXPECT_EQ(StyledLineBreak(longWord, 16, 0, 16, 0, &width, &offset), smBreakChar);
  EXPECT_EQ(offset, 5);
  width = 1000 << 16;
  offset = 1;
  EXPECT_EQ(StyledLineBreak(text, 15, 0, 15, 0, &width, &offset), smBreakOverflow);
  EXPECT_EQ(offset, 15);
  EXPECT_EQ(width, (1000 - TextWidth(text, 0, 15)) << 16);
  char trailing[] = "ab  \r";
  EXPECT_EQ(VisibleLength(trailing, 5), 2);
  EXPECT_EQ(GetSysDirection(), 0);
}
