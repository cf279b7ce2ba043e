#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/BufferSupport.h"
#include "media/CBufferProcs.h"
#include "platform/base/LException.h"
#include "platform/tasks/Multiprocessing.h"

using namespace buffertest;

namespace {

// The conversion table of the copy, written out pixel by pixel: the value
// (before clamping) of destination component k (0 for gray).
UInt32 Converted(const CBuffer& s, SInt32 sv, SInt32 sh, const CBuffer& d, int k) {
  const bool s16 = s.GetDepth() == kBufferDepth16, d16 = d.GetDepth() == kBufferDepth16;
  auto widen = [&](UInt32 v) { return !s16 && d16 ? v * 257 : s16 && !d16 ? v >> 8 : v; };
  if (s.GetMode() == kBufferModeGray) return widen(Comp(s, sv, sh, 0));
  if (d.GetMode() == kBufferModeARGB) return widen(Comp(s, sv, sh, k));
  UInt32 sum = Comp(s, sv, sh, 1) + Comp(s, sv, sh, 2) + Comp(s, sv, sh, 3);
  if (!s16 && !d16) return (sum * 21846) >> 16;
  if (!s16 && d16) return (sum * 5462) >> 6;
  if (s16 && d16) return (sum * 5462) >> 14;
  return (sum * 5462) >> 22;
}

// The expected destination after a copy of the box (same coordinates in both).
void ReferenceCopy(const CBuffer& s, CBuffer& d, const CBuffer* mask, const Rect& box) {
  const UInt32 maxv = d.GetDepth() == kBufferDepth16 ? 65535 : 255;
  const bool same = s.GetDepth() == d.GetDepth() && s.GetMode() == d.GetMode();
  for (SInt32 v = box.top; v < box.bottom; ++v)
    for (SInt32 h = box.left; h < box.right; ++h) {
      if (d.GetMode() == kBufferModeGray) {
        UInt32 x = Converted(s, v, h, d, 0);
        if (mask) {
          UInt32 m = Comp(*mask, v, h, 0);
          x = (x * m + (255 - m) * Comp(d, v, h, 0)) / 255;
        }
        SetComp(d, v, h, 0, std::min(x, maxv));
      } else {
        if (same && !mask) SetComp(d, v, h, 0, Comp(s, v, h, 0));
        for (int k = 1; k <= 3; ++k) {
          UInt32 x = Converted(s, v, h, d, k);
          if (mask) {
            UInt32 m = Comp(*mask, v, h, k);
            x = (x * m + (255 - m) * Comp(d, v, h, k)) / 255;
          }
          SetComp(d, v, h, k, std::min(x, maxv));
        }
      }
    }
}

OSErr CopyWithBands(CBuffer& s, CBuffer& d, CBuffer* mask, const Rect* rect, SInt32 bands) {
  TaskOptions options;
  options.mBandCount = bands;
  return CBuffer::Convert(&s, &d, mask, rect, rect, CBufferProcs::Copy_proc, nullptr, nullptr, nullptr, &options);
}

}  // namespace

TEST(CopyKernel, EveryPairMatchesReferenceAtEveryBandCount) {
  const Rect bounds = R(-3, 7, 20, 30);
  const Rect box = R(0, 9, 17, 26);  // leaves a frame of untouched pixels
  for (const Format& sf : kFormats)
    for (const Format& df : kFormats)
      for (bool masked : {false, true})
        for (SInt32 bands : {1, 2, 3, 8}) {
          SCOPED_TRACE(testing::Message() << "src " << sf.depth << "/" << sf.mode << " dst " << df.depth << "/"
                                          << df.mode << " mask " << masked << " bands " << bands);
          CBuffer src(bounds, sf.depth, sf.mode), dst(bounds, df.depth, df.mode), expect(bounds, df.depth, df.mode);
          CBuffer mask(bounds, kBufferDepth8, df.mode);
          FillRandom(src, 11);
          FillRandom(dst, 12);
          FillRandom(mask, 13);
          // Weights 0 and 255 must appear as well as the blends between.
          SetComp(mask, 1, 10, df.mode == kBufferModeGray ? 0 : 1, 0);
          SetComp(mask, 2, 10, df.mode == kBufferModeGray ? 0 : 1, 255);
          std::memcpy(expect.GetData(), dst.GetData(), static_cast<size_t>(dst.GetDataSize()));
          ReferenceCopy(src, expect, masked ? &mask : nullptr, box);
          ASSERT_EQ(CopyWithBands(src, dst, masked ? &mask : nullptr, &box, bands), noErr);
          ASSERT_EQ(Snapshot(dst), Snapshot(expect));
        }
}

TEST(CopyKernel, TableValues) {
  CBuffer a8(R(0, 0, 1, 1), 1, 2), g8(R(0, 0, 1, 1), 1, 1), g16(R(0, 0, 1, 1), 2, 1), a16(R(0, 0, 1, 1), 2, 2);
  for (int k = 0; k < 4; ++k) SetComp(a8, 0, 0, k, 255);
  ASSERT_EQ(a8.CopyTo(&g8, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g8, 0, 0, 0), 255u);
  ASSERT_EQ(a8.CopyTo(&g16, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g16, 0, 0, 0), (765u * 5462u) >> 6);
  for (int k = 0; k < 4; ++k) SetComp(a16, 0, 0, k, 65535);
  ASSERT_EQ(a16.CopyTo(&g16, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g16, 0, 0, 0), 65535u);
  ASSERT_EQ(a16.CopyTo(&g8, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g8, 0, 0, 0), 255u);
  SetComp(g8, 0, 0, 0, 128);
  ASSERT_EQ(g8.CopyTo(&g16, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g16, 0, 0, 0), 32896u);
  SetComp(g16, 0, 0, 0, 0x1234);
  ASSERT_EQ(g16.CopyTo(&g8, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g8, 0, 0, 0), 0x12u);
  // Gray into ARGB keeps the destination alpha; ARGB into ARGB copies it.
  SetComp(a8, 0, 0, 0, 9);
  ASSERT_EQ(g8.CopyTo(&a8, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(a8, 0, 0, 0), 9u);
  EXPECT_EQ(Comp(a8, 0, 0, 2), 0x12u);
  CBuffer a8b(R(0, 0, 1, 1), 1, 2);
  ASSERT_EQ(a8.CopyTo(&a8b, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(a8b, 0, 0, 0), 9u);
  // A gray mask byte of 128 blends 255 over 0 to 128.
  CBuffer white(R(0, 0, 1, 1), 1, 1), black(R(0, 0, 1, 1), 1, 1), m(R(0, 0, 1, 1), 1, 1);
  SetComp(white, 0, 0, 0, 255);
  SetComp(m, 0, 0, 0, 128);
  ASSERT_EQ(white.CopyTo(&black, nullptr, &m, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(black, 0, 0, 0), 128u);
}

TEST(CopyKernel, EightAndSixteenBitsRoundTrip) {
  for (SInt16 mode : {kBufferModeGray, kBufferModeARGB}) {
    CBuffer a(R(0, 0, 9, 31), 1, mode), wide(R(0, 0, 9, 31), 2, mode), back(R(0, 0, 9, 31), 1, mode);
    FillRandom(a, 21);
    if (mode == kBufferModeARGB) {
      // Alpha is kept by a conversion: start the result with the source's alpha.
      ASSERT_EQ(a.CopyTo(&back, nullptr, nullptr, nullptr, nullptr), noErr);
    }
    ASSERT_EQ(a.CopyTo(&wide, nullptr, nullptr, nullptr, nullptr), noErr);
    ASSERT_EQ(wide.CopyTo(&back, nullptr, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(Snapshot(back), Snapshot(a));
  }
}

TEST(CopyKernel, RefusedBandsWriteNothing) {
  CBuffer s(R(0, 0, 10, 10), 1, 2), d(R(0, 0, 10, 10), 1, 2);
  FillRandom(s, 3);
  const auto before = Snapshot(d);
  // Boxes of different widths: every band answers -50.
  Rect sr = R(0, 0, 10, 9), dr = R(0, 0, 10, 10);
  EXPECT_EQ(CBuffer::Convert(&s, &d, nullptr, &sr, &dr, CBufferProcs::Copy_proc, nullptr, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(Snapshot(d), before);
  Rect dirty;
  d.GetDirty(&dirty);
  EXPECT_TRUE(EqualRect(&dirty, &dr));
  // A gray mask over an ARGB destination would be read with the wrong stride.
  CBuffer grayMask(R(0, 0, 10, 10), 1, 1);
  std::memset(grayMask.GetData(), 255, static_cast<size_t>(grayMask.GetDataSize()));
  EXPECT_EQ(s.CopyTo(&d, nullptr, &grayMask, nullptr, nullptr), paramErr);
  EXPECT_EQ(Snapshot(d), before);
  // A source that does not cover the target.
  CBuffer small(R(0, 0, 5, 5), 1, 2);
  d.ClearDirty();
  EXPECT_EQ(small.CopyTo(&d, nullptr, nullptr, nullptr, nullptr), paramErr);
  EXPECT_EQ(Snapshot(d), before);
  EXPECT_TRUE(d.IsDirty());
  // A source rectangle that misses the source: nothing runs, nothing is dirty.
  d.ClearDirty();
  Rect far = R(50, 50, 60, 60);
  EXPECT_EQ(CBuffer::Convert(&s, &d, nullptr, &far, nullptr, CBufferProcs::Copy_proc, nullptr, nullptr, nullptr,
                             nullptr),
            paramErr);
  EXPECT_FALSE(d.IsDirty());
  EXPECT_EQ(s.CopyTo(nullptr, nullptr, nullptr, nullptr, nullptr), ErrorCodeToOSErr(err_NilPointer));
}

TEST(CopyKernel, MaskBoundsLimitTheOperation) {
  CBuffer s(R(0, 0, 8, 8), 1, 1), d(R(0, 0, 8, 8), 1, 1), m(R(2, 2, 4, 6), 1, 1);
  std::memset(s.GetData(), 200, static_cast<size_t>(s.GetDataSize()));
  std::memset(m.GetData(), 255, static_cast<size_t>(m.GetDataSize()));
  ASSERT_EQ(s.CopyTo(&d, nullptr, &m, nullptr, nullptr), noErr);
  for (SInt32 v = 0; v < 8; ++v)
    for (SInt32 h = 0; h < 8; ++h) {
      bool inside = v >= 2 && v < 4 && h >= 2 && h < 6;
      EXPECT_EQ(Comp(d, v, h, 0), inside ? 200u : 0u);
    }
  Rect dirty;
  d.GetDirty(&dirty);
  EXPECT_TRUE(EqualRect(&dirty, &m.GetBounds()));
}

TEST(EraseKernel, ColoursAndMasks) {
  CBuffer a8(R(0, 0, 3, 5), 1, 2);
  FillRandom(a8, 4);
  RGBColor c{65535, 32768, 0};
  ASSERT_EQ(a8.Erase(&c, nullptr, nullptr, nullptr, nullptr), noErr);
  for (SInt32 h = 0; h < 5; ++h) {
    EXPECT_EQ(Comp(a8, 2, h, 0), 0u);
    EXPECT_EQ(Comp(a8, 2, h, 1), 255u);
    EXPECT_EQ(Comp(a8, 2, h, 2), 128u);
    EXPECT_EQ(Comp(a8, 2, h, 3), 0u);
  }
  CBuffer g8(R(0, 0, 3, 5), 1, 1), g16(R(0, 0, 3, 5), 2, 1);
  FillRandom(g8, 5);
  ASSERT_EQ(g8.Erase(nullptr, nullptr, nullptr, nullptr, nullptr), noErr);
  for (UInt8 v : Snapshot(g8)) EXPECT_EQ(v, 0);
  ASSERT_EQ(g16.Erase(&c, nullptr, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(g16, 1, 1, 0), (65535u + 32768u) / 3u);

  // 16-bit ARGB through a mask that weighs only red.
  CBuffer a16(R(0, 0, 2, 2), 2, 2), m(R(0, 0, 2, 2), 1, 2);
  FillRandom(a16, 6);
  for (SInt32 v = 0; v < 2; ++v)
    for (SInt32 h = 0; h < 2; ++h) SetComp(m, v, h, 1, 255);
  const auto before = Snapshot(a16);
  RGBColor white{65535, 65535, 65535};
  ASSERT_EQ(a16.Erase(&white, nullptr, &m, nullptr, nullptr), noErr);
  CBuffer expect(R(0, 0, 2, 2), 2, 2);
  std::memcpy(expect.GetData(), before.data(), before.size());
  for (SInt32 v = 0; v < 2; ++v)
    for (SInt32 h = 0; h < 2; ++h) SetComp(expect, v, h, 1, 65535);
  EXPECT_EQ(Snapshot(a16), Snapshot(expect));

  // Blends at every band count equal the formula.
  for (SInt32 bands : {1, 2, 3, 8}) {
    CBuffer g(R(0, 0, 13, 7), 1, 1), mk(R(0, 0, 13, 7), 1, 1);
    FillRandom(g, 7);
    FillRandom(mk, 8);
    CBuffer ref(R(0, 0, 13, 7), 1, 1);
    std::memcpy(ref.GetData(), g.GetData(), static_cast<size_t>(g.GetDataSize()));
    for (SInt32 v = 0; v < 13; ++v)
      for (SInt32 h = 0; h < 7; ++h) {
        UInt32 m8 = Comp(mk, v, h, 0);
        SetComp(ref, v, h, 0, (200u * m8 + (255u - m8) * Comp(g, v, h, 0)) / 255u);
      }
    UInt16 value[4] = {static_cast<UInt16>(200 << 8), 0, 0, 0};
    TaskOptions options;
    options.mBandCount = bands;
    ASSERT_EQ(CBuffer::Convert(&g, &g, &mk, nullptr, nullptr, CBufferProcs::Erase_proc, value, nullptr, nullptr,
                               &options),
              noErr);
    EXPECT_EQ(Snapshot(g), Snapshot(ref)) << bands;
  }
  // A mask smaller than the buffer erases the pixels under it only.
  CBuffer wide(R(0, 0, 6, 6), 1, 1), small(R(2, 2, 4, 4), 1, 1);
  std::memset(small.GetData(), 255, static_cast<size_t>(small.GetDataSize()));
  RGBColor grey{0x8000, 0x8000, 0x8000};
  ASSERT_EQ(wide.Erase(&grey, nullptr, &small, nullptr, nullptr), noErr);
  EXPECT_EQ(Comp(wide, 3, 3, 0), 0x80u);
  EXPECT_EQ(Comp(wide, 1, 1, 0), 0u);
  // Erase needs equal formats.
  CBuffer other(R(0, 0, 3, 5), 1, 1);
  EXPECT_EQ(CBuffer::Convert(&a8, &other, nullptr, nullptr, nullptr, CBufferProcs::Erase_proc, nullptr, nullptr,
                             nullptr, nullptr),
            paramErr);
}

namespace {

std::mutex gBandsLock;
std::vector<std::pair<SInt32, SInt32>> gBands;
std::set<const void*> gRecords;

SInt32 RecordBand(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  std::lock_guard<std::mutex> lock(gBandsLock);
  gBands.emplace_back(t->mFirstRow, t->mRows);
  gRecords.insert(t);
  return noErr;
}

std::vector<SInt32> BandRows(SInt16 height, SInt32 bands) {
  CBuffer b(R(0, 0, height, 4), 1, 1);
  gBands.clear();
  gRecords.clear();
  TaskOptions options;
  options.mBandCount = bands;
  EXPECT_EQ(CBuffer::Convert(&b, &b, nullptr, nullptr, nullptr, RecordBand, nullptr, nullptr, nullptr, &options),
            noErr);
  std::sort(gBands.begin(), gBands.end());
  std::vector<SInt32> rows;
  SInt32 next = 0;
  for (auto& band : gBands) {
    EXPECT_EQ(band.first, next);
    next += band.second;
    rows.push_back(band.second);
  }
  return rows;
}

std::atomic<bool> gSpinStarted{false};

SInt32 SpinUntilStopped(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  gSpinStarted = true;
  for (int i = 0; i < 600000; ++i) {  // a minute at least: stopped long before
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(1);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return noErr;
}

SInt16 CancelOnUpdate(SInt16 inMessage, SInt32, SInt32, unsigned char*) { return inMessage == 1 ? 1 : 0; }

}  // namespace

// Rows go out in runs that cover the box once, in order, none of them empty,
// to at most as many records (workers) as there are bands.
TEST(BandEngine, RunsCoverEveryRowOnceWithoutEmptyRuns) {
  for (auto [height, bands] : {std::pair<SInt16, SInt32>{100, 2}, {10, 4}, {3, 4}, {1, 8}, {719, 8}, {64, 1}}) {
    SCOPED_TRACE(testing::Message() << height << " rows, " << bands << " bands");
    const std::vector<SInt32> rows = BandRows(height, bands);
    for (SInt32 r : rows) EXPECT_GT(r, 0);
    EXPECT_EQ(std::accumulate(rows.begin(), rows.end(), SInt32{0}), height);
    EXPECT_LE(gRecords.size(), static_cast<size_t>(std::min<SInt32>(bands, height)));
  }
}

TEST(BandEngine, PreferredCountFollowsTheProcessors) {
  MPSetProcessorCountForTesting(1);
  BandRows(64, 0);
  EXPECT_LE(gRecords.size(), 2u);
  MPSetProcessorCountForTesting(3);
  BandRows(64, 0);
  EXPECT_LE(gRecords.size(), 3u);
  MPSetProcessorCountForTesting(0);
}

TEST(BandEngine, CancelReturnsUserCanceledAndMarksDirty) {
  CBuffer b(R(0, 0, 64, 64), 1, 1);
  b.ClearDirty();
  gSpinStarted = false;
  OSErr err = CBuffer::Convert(&b, &b, nullptr, nullptr, nullptr, SpinUntilStopped, nullptr, CancelOnUpdate, nullptr,
                               nullptr);
  EXPECT_EQ(err, userCanceledErr);
  EXPECT_TRUE(gSpinStarted);
  Rect dirty;
  b.GetDirty(&dirty);
  EXPECT_TRUE(EqualRect(&dirty, &b.GetBounds()));
  EXPECT_EQ(b.GetRetainCount(), 1);
}

