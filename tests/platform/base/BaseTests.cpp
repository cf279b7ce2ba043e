#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/FourCC.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/LargeBlocks.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"

TEST(Exception, CarriesCodeAndKeepsLow16Bits) {
  try {
    void* p = nullptr;
    ThrowIfNil_(p);
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), static_cast<ExceptionCode>('nilP'));
    EXPECT_EQ(ErrorCodeToOSErr(e.GetErrorCode()), 27728);
    EXPECT_STREQ(e.what(), "error 'nilP'");
  }
  EXPECT_THROW(ThrowIfOSErr_(paramErr), LException);
  EXPECT_NO_THROW(ThrowIfOSErr_(noErr));
  EXPECT_EQ(ErrorCodeToOSErr(-128), -128);
  EXPECT_EQ(FourCCToString('twen'), "twen");
  EXPECT_EQ(StringToFourCC("Trbx"), static_cast<FourCharCode>('Trbx'));
}

TEST(Memory, HandlesKeepSizeAndContentsAcrossResize) {
  Handle h = NewHandleClear(10);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ((*h)[i], 0);
  std::memcpy(*h, "abcdefghij", 10);
  SetHandleSize(h, 100000);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 100000);
  EXPECT_EQ(std::memcmp(*h, "abcdefghij", 10), 0);
  SetHandleSize(h, 3);
  EXPECT_EQ(GetHandleSize(h), 3);
  EXPECT_EQ(PtrAndHand("XY", h, 2), noErr);
  EXPECT_EQ(std::memcmp(*h, "abcXY", 5), 0);
  Handle copy = h;
  EXPECT_EQ(HandToHand(&copy), noErr);
  EXPECT_NE(copy, h);
  EXPECT_EQ(GetHandleSize(copy), 5);
  // A locked handle cannot move.
  HLock(h);
  SetHandleSize(h, 1 << 20);
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetHandleSize(h), 5);
  HUnlock(h);
  EXPECT_EQ(Munger(copy, 1, nullptr, 2, "123", 3), 4);
  EXPECT_EQ(std::string(*copy, 6), "a123XY");
  DisposeHandle(h);
  DisposeHandle(copy);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
  Ptr p = NewPtrClear(7);
  EXPECT_EQ(GetPtrSize(p), 7);
  DisposePtr(p);
}

TEST(Strings, PascalRoundTripAndTruncation) {
  Str255 s;
  StringToPStr("hello", s);
  EXPECT_EQ(s[0], 5);
  EXPECT_EQ(PStrToString(s), "hello");
  Str15 small;
  StringToPStr("a rather long text", small, sizeof small);
  EXPECT_EQ(small[0], 15);
  PStrCat(s, small);
  EXPECT_EQ(PStrToString(s), "helloa rather long t");
  std::string big(400, 'x');
  StringToPStr(big, s);
  EXPECT_EQ(s[0], 255);
  PStrCat(s, small);
  EXPECT_EQ(s[0], 255);
}

TEST(Endian, BigEndianBytes) {
  unsigned char b[8];
  WriteBE32(b, 0x01020304);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[3], 4);
  EXPECT_EQ(ReadBE32(b), 0x01020304u);
  WriteBEFloat(b, 1.5f);
  EXPECT_EQ(ReadBEFloat(b), 1.5f);
  WriteBE64(b, 0x0102030405060708ull);
  EXPECT_EQ(b[7], 8);
}

TEST(FixMath, ConversionsRoundAndSaturate) {
  EXPECT_EQ(X2Fix(1.0), fixed1);
  EXPECT_EQ(X2Fix(-0.5), -32768);
  EXPECT_EQ(X2Fix(1e9), 0x7FFFFFFF);
  EXPECT_EQ(X2Fix(-1e9), static_cast<Fixed>(0x80000000));
  EXPECT_EQ(X2Fix(NAN), 0);
  EXPECT_EQ(Long2Fix(-3), -3 * 65536);
  EXPECT_EQ(Long2Fix(40000), 0x7FFFFFFF);
  EXPECT_EQ(Fix2Long(X2Fix(2.5)), 3);
  EXPECT_EQ(Fix2Long(X2Fix(-2.5)), -3);
  EXPECT_DOUBLE_EQ(Fix2X(X2Fix(0.25)), 0.25);
  EXPECT_EQ(FixMul(X2Fix(1.5), X2Fix(-2.0)), X2Fix(-3.0));
  EXPECT_EQ(FixDiv(X2Fix(3.0), X2Fix(2.0)), X2Fix(1.5));
  EXPECT_EQ(FixDiv(fixed1, 0), 0x7FFFFFFF);
  EXPECT_EQ(X2Frac(1.0), fract1);
}

static void MapPoint(const MatrixRecord& m, double& x, double& y) { DMatrixTransform(MatrixToDouble(m), x, y); }

TEST(Matrix, OperationsPostConcatenate) {
  MatrixRecord m;
  SetIdentityMatrix(&m);
  EXPECT_EQ(GetMatrixType(&m), identityMatrixType);
  // Scale about (10, 10), then translate: the translation applies last.
  ScaleMatrix(&m, X2Fix(2.0), X2Fix(2.0), Long2Fix(10), Long2Fix(10));
  TranslateMatrix(&m, Long2Fix(5), Long2Fix(-1));
  EXPECT_EQ(GetMatrixType(&m), scaleTranslateMatrixType);
  double x = 11, y = 12;
  MapPoint(m, x, y);
  EXPECT_NEAR(x, 10 + 2 * 1 + 5, 1e-4);
  EXPECT_NEAR(y, 10 + 2 * 2 - 1, 1e-4);

  // A rotation by +90 degrees turns the x axis into the y axis.
  SetIdentityMatrix(&m);
  RotateMatrix(&m, Long2Fix(90), 0, 0);
  x = 1, y = 0;
  MapPoint(m, x, y);
  EXPECT_NEAR(x, 0, 1e-4);
  EXPECT_NEAR(y, 1, 1e-4);

  // Concat: a point goes through the old b first, then a.
  MatrixRecord a, b;
  SetIdentityMatrix(&a);
  ScaleMatrix(&a, X2Fix(3.0), X2Fix(3.0), 0, 0);
  SetIdentityMatrix(&b);
  TranslateMatrix(&b, Long2Fix(1), 0);
  ConcatMatrix(&a, &b);
  x = 2, y = 0;
  MapPoint(b, x, y);
  EXPECT_NEAR(x, 9, 1e-4);
}

TEST(Matrix, InverseAndTransformPoints) {
  MatrixRecord m, inv;
  SetIdentityMatrix(&m);
  ScaleMatrix(&m, X2Fix(1.01), X2Fix(1.01), Long2Fix(160), Long2Fix(120));
  RotateMatrix(&m, X2Fix(0.5), Long2Fix(160), Long2Fix(120));
  TranslateMatrix(&m, X2Fix(3.25), X2Fix(-2.5));
  ASSERT_TRUE(InverseMatrix(&m, &inv));
  MatrixRecord both = m;
  ConcatMatrix(&inv, &both);  // m then its inverse
  double x = 100, y = 50;
  MapPoint(both, x, y);
  EXPECT_NEAR(x, 100, 2e-3);
  EXPECT_NEAR(y, 50, 2e-3);

  MatrixRecord singular;
  SetIdentityMatrix(&singular);
  ScaleMatrix(&singular, 0, fixed1, 0, 0);
  MatrixRecord untouched = inv;
  EXPECT_FALSE(InverseMatrix(&singular, &untouched));
  EXPECT_TRUE(EqualMatrix(&untouched, &inv));

  SetIdentityMatrix(&m);
  TranslateMatrix(&m, X2Fix(0.6), X2Fix(-0.6));
  Point p[2] = {{10, 20}, {-5, -5}};
  EXPECT_EQ(TransformPoints(&m, p, 2), noErr);
  EXPECT_EQ(p[0].h, 21);
  EXPECT_EQ(p[0].v, 9);
  EXPECT_EQ(p[1].h, -4);
  EXPECT_EQ(p[1].v, -6);

  Rect r = {0, 0, 10, 20};
  Rect d = {100, 50, 120, 90};
  RectMatrix(&m, &r, &d);
  Rect t = r;
  EXPECT_TRUE(TransformRect(&m, &t, nullptr));
  EXPECT_EQ(t.top, 100);
  EXPECT_EQ(t.left, 50);
  EXPECT_EQ(t.bottom, 120);
  EXPECT_EQ(t.right, 90);
}

TEST(Clock, ManualClockMovesOnlyWhenTold) {
  StManualClock manual;
  UInt32 t0 = TickCount();
  double e0 = GetCurrentEventTime();
  UClock::AdvanceTicks(6);
  EXPECT_EQ(TickCount() - t0, 6u);
  EXPECT_NEAR(GetCurrentEventTime() - e0, 0.1, 1e-5);
  UInt32 final = 0;
  Delay(60, &final);
  EXPECT_EQ(final - t0, 66u);
}

// Blocks on both sides of the mapping threshold come zeroed, hold every
// byte written to them, and are zero again when taken anew, however the
// memory of the freed one is reused.
TEST(LargeBlocks, ComeZeroedHoldTheirBytesAndFreeCleanly) {
  const size_t frame1080 = size_t{1920} * 1080 * 4 + 63;  // a 1080p ARGB frame as the buffers ask
  const std::vector<size_t> sizes = {0, 1, 4095, kLargeBlockBytes - 1, kLargeBlockBytes, kLargeBlockBytes + 1,
                                     frame1080};
  auto allZero = [](const UInt8* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
      if (p[i] != 0) return false;
    return true;
  };
  for (int round = 0; round < 2; ++round) {
    for (size_t size : sizes) {
      SCOPED_TRACE(size);
      auto* block = static_cast<UInt8*>(NewLargeBlock(size));
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
      if (IsMappedLargeBlock(size)) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kLargeBlockBytes, 0u);
      }
      EXPECT_TRUE(allZero(block, size));
      for (size_t i = 0; i < size; ++i) block[i] = static_cast<UInt8>(i * 7 + 1);
      bool same = true;
      for (size_t i = 0; i < size; ++i) same = same && block[i] == static_cast<UInt8>(i * 7 + 1);
      EXPECT_TRUE(same);
      DisposeLargeBlock(block, size);
    }
  }
  DisposeLargeBlock(nullptr, frame1080);  // ignored
  // A mapped request no memory can meet fails instead of wrapping round (the
  // sanitiser's own allocator stops the process on such a request instead).
  if (IsMappedLargeBlock(SIZE_MAX - 8)) {
    EXPECT_EQ(NewLargeBlock(SIZE_MAX - 8), nullptr);
  }
}
