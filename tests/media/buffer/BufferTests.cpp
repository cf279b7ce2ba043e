#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/BufferSupport.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LListener.h"
#include "platform/graphics/CGGraphics.h"

using namespace buffertest;

TEST(BufferLayout, RowsArePaddedTo16Bytes) {
  CBuffer b(R(10, 20, 13, 25), kBufferDepth8, kBufferModeGray);
  EXPECT_EQ(b.GetWidth(), 5);
  EXPECT_EQ(b.GetHeight(), 3);
  EXPECT_EQ(b.GetRowBytes(), 16);
  EXPECT_EQ(b.GetDataSize(), 48);
  EXPECT_TRUE(b.OwnsData());
  for (UInt8 v : Snapshot(b)) EXPECT_EQ(v, 0);
  Point p{11, 22};
  EXPECT_EQ(b.GetDataPtr(&p), b.GetData() + 16 + 2);
  Rect r = R(12, 24, 13, 25);
  EXPECT_EQ(b.GetDataPtr(&r), b.GetData() + 32 + 4);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.GetData()) % 16, 0u);

  EXPECT_EQ(CBuffer(R(0, 0, 1, 16), kBufferDepth8, kBufferModeARGB).GetRowBytes(), 64);
  EXPECT_EQ(CBuffer(R(0, 0, 1, 3), kBufferDepth16, kBufferModeARGB).GetRowBytes(), 32);
  EXPECT_EQ(CBuffer(R(0, 0, 2, 0), kBufferDepth8, kBufferModeGray).GetRowBytes(), 16);
  EXPECT_EQ(CBuffer(R(0, 0, 1, 3), kBufferDepth16, kBufferModeARGB).GetBytesPerPixel(), 8);
  EXPECT_THROW(CBuffer(R(0, 0, 1, 3), 4, kBufferModeGray), LException);
}

TEST(BufferLayout, ViewsCountersAndRegistry) {
  std::vector<UInt8> mem(4 * 32, 0);
  SInt32 before = CBuffer::sBuffers.GetCount();
  {
    CBuffer view(R(0, 0, 4, 8), kBufferDepth8, kBufferModeARGB, 32, mem.data());
    EXPECT_FALSE(view.OwnsData());
    EXPECT_EQ(view.GetDataSize(), 128);
    EXPECT_EQ(CBuffer::sBuffers.GetCount(), before + 1);
  }
  EXPECT_EQ(CBuffer::sBuffers.GetCount(), before);
  try {
    CBuffer nilView(R(0, 0, 4, 8), kBufferDepth8, kBufferModeARGB, 32, nullptr);
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_NilPointer);
  }
  // Rows shorter than their pixels would reach past the caller's memory.
  EXPECT_THROW(CBuffer(R(0, 0, 4, 9), kBufferDepth8, kBufferModeARGB, 32, mem.data()), LException);

  auto* shared = new CBuffer(R(0, 0, 1, 1), kBufferDepth8, kBufferModeGray);
  EXPECT_EQ(shared->GetRetainCount(), 1);
  shared->Retain();
  {
    CBufferReleaser releaser(shared);
  }
  EXPECT_EQ(shared->GetRetainCount(), 1);
  shared->Release();
  EXPECT_EQ(CBuffer::sBuffers.GetCount(), before);
}

TEST(BufferLayout, PixelValues) {
  CBuffer argb(R(0, 0, 2, 2), kBufferDepth16, kBufferModeARGB);
  SetComp(argb, 1, 1, 0, 7);
  SetComp(argb, 1, 1, 1, 1000);
  SetComp(argb, 1, 1, 2, 2000);
  SetComp(argb, 1, 1, 3, 65535);
  UInt32 g = 99, r = 0, gr = 0, b = 0;
  EXPECT_EQ(argb.GetPixelValue(Point{1, 1}, g, r, gr, b), noErr);
  EXPECT_EQ(r, 1000u);
  EXPECT_EQ(gr, 2000u);
  EXPECT_EQ(b, 65535u);
  EXPECT_EQ(g, 99u);  // gray untouched for ARGB
  EXPECT_EQ(argb.GetPixelValue(Point{2, 1}, g, r, gr, b), paramErr);
  CBuffer gray(R(5, 5, 6, 6), kBufferDepth8, kBufferModeGray);
  SetComp(gray, 5, 5, 0, 200);
  EXPECT_EQ(gray.GetPixelValue(Point{5, 5}, g, r, gr, b), noErr);
  EXPECT_EQ(g, 200u);
}

TEST(BufferFields, ViewsOfEvenAndOddTops) {
  CBuffer frame(R(0, 0, 5, 4), kBufferDepth8, kBufferModeGray);
  for (SInt32 v = 0; v < 5; ++v) SetComp(frame, v, 0, 0, static_cast<UInt32>(10 + v));
  CBuffer* odd = CBuffer::CreateFromBuffer_Odd(&frame);
  CBuffer* even = CBuffer::CreateFromBuffer_Even(&frame);
  ASSERT_NE(odd, nullptr);
  ASSERT_NE(even, nullptr);
  EXPECT_TRUE(EqualRect(&odd->GetBounds(), &(const Rect&)R(0, 0, 3, 4)));
  EXPECT_TRUE(EqualRect(&even->GetBounds(), &(const Rect&)R(0, 0, 2, 4)));
  EXPECT_EQ(odd->GetRowBytes(), 2 * frame.GetRowBytes());
  EXPECT_EQ(Comp(*odd, 0, 0, 0), 10u);
  EXPECT_EQ(Comp(*odd, 1, 0, 0), 12u);
  EXPECT_EQ(Comp(*odd, 2, 0, 0), 14u);
  EXPECT_EQ(Comp(*even, 0, 0, 0), 11u);
  EXPECT_EQ(Comp(*even, 1, 0, 0), 13u);
  // Clearing a field leaves the other field's rows (and memory past the frame) alone.
  odd->Clear();
  EXPECT_EQ(Comp(frame, 0, 0, 0), 0u);
  EXPECT_EQ(Comp(frame, 1, 0, 0), 11u);
  EXPECT_EQ(Comp(frame, 4, 0, 0), 0u);
  even->Release();
  odd->Release();

  CBuffer oddTop(R(1, 0, 5, 4), kBufferDepth8, kBufferModeGray);
  CBuffer* o = CBuffer::CreateFromBuffer_Odd(&oddTop);
  CBuffer* e = CBuffer::CreateFromBuffer_Even(&oddTop);
  Point row2{2, 0}, row1{1, 0};
  EXPECT_EQ(o->GetData(), oddTop.GetDataPtr(&row2));
  EXPECT_EQ(o->GetHeight(), 2);
  EXPECT_EQ(e->GetData(), oddTop.GetDataPtr(&row1));
  EXPECT_EQ(e->GetHeight(), 2);
  EXPECT_EQ(o->GetBounds().top, 1);
  e->Release();
  o->Release();
  EXPECT_EQ(CBuffer::CreateFromBuffer_Odd(nullptr), nullptr);
}

namespace {
class CRecorder : public LListener {
 public:
  void ListenToMessage(MessageT msg, void* param) override {
    Rect r{};
    if (msg != msg_BufferDepthChanged && msg != msg_BufferModeChanged)
      r = *static_cast<Rect*>(param);
    else
      r.top = *static_cast<SInt16*>(param);
    heard.emplace_back(msg, r);
  }
  std::vector<std::pair<SInt32, Rect>> heard;
};
}  // namespace

TEST(BufferCoordinates, OriginBoundsAndBroadcasts) {
  CBuffer b(R(0, 0, 4, 4), kBufferDepth8, kBufferModeGray);
  CRecorder recorder;
  auto& heard = recorder.heard;
  b.AddListener(&recorder);
  Point p{2, 1};
  Ptr before = b.GetDataPtr(&p);
  b.OffsetOriginBy(Point{-2, 3});  // v -2, h +3
  Point moved{0, 4};
  EXPECT_EQ(b.GetDataPtr(&moved), before);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].first, msg_BufferBoundsChanged);
  EXPECT_TRUE(EqualRect(&heard[0].second, &(const Rect&)R(-2, 3, 2, 7)));
  b.SetOriginTo(Point{0, 0});
  EXPECT_TRUE(EqualRect(&b.GetBounds(), &(const Rect&)R(0, 0, 4, 4)));

  SetComp(b, 1, 1, 0, 77);
  EXPECT_EQ(b.ChangeBounds(R(10, 10, 14, 14)), noErr);
  EXPECT_EQ(Comp(b, 11, 11, 0), 77u);
  EXPECT_EQ(b.ChangeBounds(R(0, 0, 5, 5)), noErr);
  for (UInt8 v : Snapshot(b)) EXPECT_EQ(v, 0);
  EXPECT_EQ(b.ChangePixelDepth(kBufferDepth16), noErr);
  EXPECT_EQ(b.GetRowBytes(), 16);
  EXPECT_EQ(b.ChangeColorMode(kBufferModeARGB), noErr);
  EXPECT_EQ(b.GetRowBytes(), 48);
  EXPECT_EQ(heard.back().first, msg_BufferModeChanged);
  EXPECT_EQ(heard.back().second.top, kBufferModeARGB);

  heard.clear();
  b.ClearDirty();
  EXPECT_FALSE(b.IsDirty());
  Rect d1 = R(0, 0, 1, 1), d2 = R(3, 3, 4, 5);
  b.SetDirty(&d1);
  b.SetDirty(&d2);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1].first, msg_BufferDirty);
  EXPECT_TRUE(EqualRect(&heard[1].second, &(const Rect&)R(0, 0, 4, 5)));
  EXPECT_TRUE(b.IsDirty());
  b.StopBroadcasting();
  b.Clear();
  EXPECT_EQ(heard.size(), 2u);

  Str255 text = {3, 'a', 'b', 'c'}, out;
  b.SetDescriptor(text);
  b.GetDescriptor(out);
  EXPECT_EQ(std::memcmp(text, out, 4), 0);
}

TEST(BufferRawData, PackedRowsWithoutAlpha) {
  CBuffer b(R(0, 0, 2, 3), kBufferDepth8, kBufferModeARGB);
  FillRandom(b, 1);
  SInt32 size = 0;
  b.GetRawDataSize(nullptr, &size, 4);
  EXPECT_EQ(size, 24);
  b.GetRawDataSize(nullptr, &size, 16);
  EXPECT_EQ(size, 32);

  std::vector<UInt8> out(32, 0xEE);
  SInt32 capacity = 23, rowBytes = 0;
  EXPECT_EQ(b.GetRawData(reinterpret_cast<Ptr>(out.data()), &capacity, nullptr, 4, &rowBytes, nullptr), paramErr);
  EXPECT_EQ(rowBytes, 12);
  capacity = 24;
  ImageDescriptionHandle desc = nullptr;
  ASSERT_EQ(b.GetRawData(reinterpret_cast<Ptr>(out.data()), &capacity, nullptr, 4, &rowBytes, &desc), noErr);
  EXPECT_EQ(capacity, 24);
  for (SInt32 v = 0; v < 2; ++v)
    for (SInt32 h = 0; h < 3; ++h)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(out[static_cast<size_t>(v * 12 + h * 3 + k)], Comp(b, v, h, k + 1));
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ((**desc).depth, 24);
  EXPECT_EQ((**desc).width, 3);
  EXPECT_EQ((**desc).dataSize, 24);
  EXPECT_EQ((**desc).name[0], 3);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  // A rectangle outside the pixels is refused rather than read.
  Rect outside = R(1, 1, 3, 3);
  capacity = 32;
  EXPECT_EQ(b.GetRawData(reinterpret_cast<Ptr>(out.data()), &capacity, &outside, 1, nullptr, nullptr), paramErr);
}

TEST(BufferRawData, SixteenBitDataIsBigEndian) {
  CBuffer g(R(0, 0, 1, 2), kBufferDepth16, kBufferModeGray);
  SetComp(g, 0, 0, 0, 0x1234);
  SetComp(g, 0, 1, 0, 0xABCD);
  UInt8 out[4];
  SInt32 capacity = 4;
  ImageDescriptionHandle desc = nullptr;
  ASSERT_EQ(g.GetRawData(reinterpret_cast<Ptr>(out), &capacity, nullptr, 1, nullptr, &desc), noErr);
  EXPECT_EQ(ReadBE16(out), 0x1234);
  EXPECT_EQ(ReadBE16(out + 2), 0xABCD);
  EXPECT_EQ((**desc).cType, static_cast<OSType>('b16g'));
  EXPECT_EQ((**desc).depth, 40);
  Handle ext = nullptr;
  ASSERT_EQ(GetImageDescriptionExtension(desc, &ext, 'cspc', 1), noErr);
  EXPECT_EQ(ReadBE32(*ext), static_cast<UInt32>('b16g'));
  DisposeHandle(ext);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  CBuffer a(R(0, 0, 1, 1), kBufferDepth16, kBufferModeARGB);
  SetComp(a, 0, 0, 1, 0x0102);
  SetComp(a, 0, 0, 3, 0x0506);
  UInt8 rgb[6];
  capacity = 6;
  ASSERT_EQ(a.GetRawData(reinterpret_cast<Ptr>(rgb), &capacity, nullptr, 1, nullptr, &desc), noErr);
  EXPECT_EQ(ReadBE16(rgb), 0x0102);
  EXPECT_EQ(ReadBE16(rgb + 4), 0x0506);
  EXPECT_EQ((**desc).cType, static_cast<OSType>('b48r'));
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(BufferViews, GWorldOverBufferMemory) {
  CBuffer deep(R(0, 0, 2, 2), kBufferDepth32, kBufferModeGray);
  EXPECT_EQ(deep.CreateGWorld(nullptr, nullptr), nullptr);

  CBuffer b(R(5, 5, 9, 9), kBufferDepth8, kBufferModeARGB);
  Rect part = R(6, 6, 8, 8);
  GWorldPtr world = b.CreateGWorld(&part, nullptr);
  ASSERT_NE(world, nullptr);
  EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(world)), b.GetDataPtr(&part));
  Rect dirty;
  b.GetDirty(&dirty);
  EXPECT_TRUE(EqualRect(&dirty, &part));
  CGrafPtr saved;
  GDHandle device;
  GetGWorld(&saved, &device);
  SetGWorld(world, nullptr);
  ForeColor(greenColor);
  PaintRect(&part);
  SetGWorld(saved, device);
  DisposeGWorld(world);
  EXPECT_EQ(Comp(b, 6, 6, 0), 255u);
  EXPECT_EQ(Comp(b, 7, 7, 2), 255u);
  EXPECT_EQ(Comp(b, 5, 5, 2), 0u);
  Rect outside = R(0, 0, 6, 6);
  EXPECT_EQ(b.CreateGWorld(&outside, nullptr), nullptr);

  // 16-bit buffers keep host-order values when drawn through their GWorld.
  CBuffer g16(R(0, 0, 2, 2), kBufferDepth16, kBufferModeGray);
  world = g16.CreateGWorld(nullptr, nullptr);
  ASSERT_NE(world, nullptr);
  SetGWorld(world, nullptr);
  RGBColor c{0x1234, 0x1234, 0x1234};
  RGBForeColor(&c);
  Rect all = R(0, 0, 2, 2);
  PaintRect(&all);
  SetGWorld(saved, device);
  DisposeGWorld(world);
  EXPECT_EQ(Comp(g16, 1, 1, 0), 0x1234u);

  ImageDescriptionHandle desc = g16.GetImageDescription();
  ASSERT_NE(desc, nullptr);
  Handle ext = nullptr;
  ASSERT_EQ(GetImageDescriptionExtension(desc, &ext, 'cspc', 1), noErr);
  EXPECT_EQ(ReadBE32(*ext), static_cast<UInt32>('b16g'));
  DisposeHandle(ext);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  CBuffer gray(R(0, 0, 2, 2), kBufferDepth8, kBufferModeGray);
  desc = gray.GetImageDescription();
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ((**desc).depth, 40);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST(BufferViews, MaskFromRegionAndPictures) {
  RgnHandle rgn = NewRgn();
  SetRectRgn(rgn, 2, 1, 4, 3);  // h 2..4, v 1..3
  Rect bounds = R(0, 0, 4, 6);
  CBuffer mask(kBufferModeGray, rgn, &bounds);
  EXPECT_EQ(Comp(mask, 1, 2, 0), 255u);
  EXPECT_EQ(Comp(mask, 2, 3, 0), 255u);
  EXPECT_EQ(Comp(mask, 0, 2, 0), 0u);
  EXPECT_EQ(Comp(mask, 1, 4, 0), 0u);
  CBuffer argbMask(kBufferModeARGB, rgn, nullptr);
  EXPECT_TRUE(EqualRect(&argbMask.GetBounds(), &(const Rect&)R(1, 2, 3, 4)));
  EXPECT_EQ(Comp(argbMask, 1, 2, 1), 255u);
  RgnHandle empty = NewRgn();
  EXPECT_THROW(CBuffer(kBufferModeGray, empty, nullptr), LException);
  EXPECT_THROW(CBuffer(kBufferModeGray, nullptr, &bounds), LException);
  CBuffer blank(kBufferModeGray, empty, &bounds);
  for (UInt8 v : Snapshot(blank)) EXPECT_EQ(v, 0);

  // A picture of a white rectangle drawn into an 8-bit buffer.
  GWorldPtr world = nullptr;
  Rect frame = R(0, 0, 4, 4);
  ASSERT_EQ(NewGWorld(&world, 32, &frame, nullptr, nullptr, 0), noErr);
  CGrafPtr saved;
  GDHandle device;
  GetGWorld(&saved, &device);
  SetGWorld(world, nullptr);
  OpenCPicParams params{frame, 72 << 16, 72 << 16, -2, 0, 0};
  PicHandle pic = OpenCPicture(&params);
  ForeColor(whiteColor);
  Rect left = R(0, 0, 4, 2);
  PaintRect(&left);
  ClosePicture();
  SetGWorld(saved, device);
  DisposeGWorld(world);
  CBuffer target(R(0, 0, 4, 4), kBufferDepth8, kBufferModeGray);
  EXPECT_EQ(target.CopyPict(pic, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(target, 2, 1, 0), 255u);
  EXPECT_EQ(Comp(target, 2, 3, 0), 0u);
  CBuffer deep(R(0, 0, 4, 4), kBufferDepth16, kBufferModeGray);
  EXPECT_EQ(deep.CopyPict(pic, nullptr, nullptr), paramErr);
  EXPECT_EQ(target.CopyPict(nullptr, nullptr, nullptr), ErrorCodeToOSErr(err_NilPointer));
  KillPicture(pic);
  DisposeRgn(empty);
  DisposeRgn(rgn);
}

TEST(BufferClone, CopiesPixelsDescriptorAndItems) {
  CBuffer src(R(0, 0, 3, 3), kBufferDepth8, kBufferModeARGB);
  FillRandom(src, 5);
  Str255 text = {2, 'h', 'i'};
  src.SetDescriptor(text);
  const char item[] = "abc";
  src.AddData('abcd', item, 3);
  CBuffer copy(src, nullptr, true);
  EXPECT_EQ(Snapshot(copy), Snapshot(src));
  Str255 out;
  copy.GetDescriptor(out);
  EXPECT_EQ(out[0], 2);
  SInt32 size = 0;
  copy.GetDataSize('abcd', size);
  EXPECT_EQ(size, 3);
  CBuffer empty(src, nullptr, false);
  for (UInt8 v : Snapshot(empty)) EXPECT_EQ(v, 0);
  // A clone reaching outside its source cannot be filled: the copy's failure is thrown.
  Rect larger = R(0, 0, 4, 4);
  EXPECT_THROW(CBuffer(src, &larger, true), LException);
}

TEST(BufferViews, QuartzContextOverTheBuffer) {
  CBuffer b(R(0, 0, 4, 4), kBufferDepth8, kBufferModeARGB);
  {
    StBufferCGContext context(&b, nullptr, nullptr);
    ASSERT_NE(context.GetContext(), nullptr);
    EXPECT_EQ(CGBitmapContextGetData(context.GetContext()), static_cast<void*>(b.GetData()));
    CGContextSetRGBFillColor(context.GetContext(), 1, 0, 0, 1);
    CGContextFillRect(context.GetContext(), CGRectMake(0, 0, 4, 2));  // the lower half, y up
  }
  EXPECT_EQ(Comp(b, 3, 0, 1), 255u);
  EXPECT_EQ(Comp(b, 3, 0, 0), 255u);
  EXPECT_EQ(Comp(b, 0, 0, 1), 0u);
  CBuffer deep(R(0, 0, 4, 4), kBufferDepth16, kBufferModeARGB);
  EXPECT_THROW(StBufferCGContext(&deep, nullptr, nullptr), LException);
  EXPECT_THROW(StBufferCGContext(nullptr, nullptr, nullptr), LException);
}

TEST(BufferViews, SixteenBitPixelsRecordedIntoAPictureStayUnswapped) {
  CBuffer src(R(0, 0, 2, 2), kBufferDepth16, kBufferModeGray);
  SetComp(src, 0, 0, 0, 0x1234);
  SetComp(src, 1, 1, 0, 0xFF00);
  GWorldPtr srcWorld = src.CreateGWorld(nullptr, nullptr);
  CBuffer dst(R(0, 0, 2, 2), kBufferDepth16, kBufferModeGray);
  GWorldPtr dstWorld = dst.CreateGWorld(nullptr, nullptr);
  ASSERT_NE(srcWorld, nullptr);
  ASSERT_NE(dstWorld, nullptr);
  CGrafPtr saved;
  GDHandle device;
  GetGWorld(&saved, &device);
  SetGWorld(dstWorld, nullptr);
  Rect all = R(0, 0, 2, 2);
  OpenCPicParams params{all, 72 << 16, 72 << 16, -2, 0, 0};
  PicHandle pic = OpenCPicture(&params);
  CopyBits(GetPortBitMapForCopyBits(srcWorld), GetPortBitMapForCopyBits(dstWorld), &all, &all, srcCopy, nullptr);
  ClosePicture();
  EXPECT_EQ(Comp(dst, 0, 0, 0), 0x1234u);  // performed while recorded
  std::memset(dst.GetData(), 0, static_cast<size_t>(dst.GetDataSize()));
  DrawPicture(pic, &all);
  SetGWorld(saved, device);
  EXPECT_EQ(Comp(dst, 0, 0, 0), 0x1234u);
  EXPECT_EQ(Comp(dst, 1, 1, 0), 0xFF00u);
  KillPicture(pic);
  DisposeGWorld(srcWorld);
  DisposeGWorld(dstWorld);
}
