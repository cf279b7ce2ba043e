// The tracker's band procedures: reference results, and the same bytes and
// floats whatever the number of bands.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "support/ShakyScene.h"
#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "motion/CAutoMotionTracker.h"
#include "platform/base/RectMake.h"
#include "platform/tasks/Multiprocessing.h"

using namespace shaky;

namespace {

using BufferPtr = StBufferOwner;

BufferPtr RandomBuffer(Rect inBounds, SInt16 inMode, UInt32 inSeed) {
  BufferPtr b(new CBuffer(inBounds, kBufferDepth8, inMode));
  std::mt19937 random(inSeed);
  UInt8* data = reinterpret_cast<UInt8*>(b->GetData());
  for (SInt32 i = 0; i < b->GetDataSize(); ++i) data[i] = static_cast<UInt8>(random());
  return b;
}

UInt32 Px(const CBuffer* b, SInt32 row, SInt32 col, SInt32 component) {
  const Rect& r = b->GetBounds();
  const UInt8* p = reinterpret_cast<const UInt8*>(b->GetData()) + (row - r.top) * b->GetRowBytes() +
                   (col - r.left) * b->GetBytesPerPixel();
  return p[component];
}

// The bytes of the rows and columns of a Rect.
std::vector<UInt8> Bytes(const CBuffer* b, Rect inRect) {
  std::vector<UInt8> out;
  for (SInt32 y = inRect.top; y < inRect.bottom; ++y)
    for (SInt32 x = inRect.left; x < inRect.right; ++x)
      for (SInt32 c = 0; c < b->GetBytesPerPixel(); ++c) out.push_back(static_cast<UInt8>(Px(b, y, x, c)));
  return out;
}

enum class ERef { kBoth, kEvenRow, kOddRow };

// Reference of the reductions: output (j, i) from source rows 2j, 2j + 1 (or
// the one of them with the wanted parity) and columns 2i, 2i + 1.
UInt32 ReducedGrey(const CBuffer* src, Rect sb, SInt32 j, SInt32 i, ERef inRows) {
  const SInt32 top = sb.top + 2 * j;
  const SInt32 x = sb.left + 2 * i;
  const bool argb = src->GetMode() == kBufferModeARGB;
  auto grey = [&](SInt32 row) {
    UInt32 sum = 0;
    for (SInt32 dx = 0; dx < 2; ++dx) {
      if (argb)
        sum += Px(src, row, x + dx, 1) + Px(src, row, x + dx, 2) + Px(src, row, x + dx, 3);
      else
        sum += Px(src, row, x + dx, 0);
    }
    return sum;
  };
  if (inRows == ERef::kBoth) {
    const UInt32 sum = grey(top) + grey(top + 1);
    return argb ? (sum * 5461u) >> 16 : sum >> 2;
  }
  const bool wantOdd = inRows == ERef::kOddRow;
  const SInt32 row = ((top & 1) != 0) == wantOdd ? top : top + 1;
  const UInt32 sum = grey(row);
  return argb ? (sum * 10922u) >> 16 : sum >> 1;
}

}  // namespace

TEST(TrackerBandProcs, ReductionsMatchTheReferenceForEveryBandCount) {
  struct Proc {
    BandProcPtr proc;
    ERef rows;
  };
  const Proc procs[] = {{CAutoMotionTracker::ReduceBy2_proc, ERef::kBoth},
                        {CAutoMotionTracker::ReduceBy2_Odd_proc, ERef::kEvenRow},
                        {CAutoMotionTracker::ReduceBy2_Even_proc, ERef::kOddRow}};
  // Even and odd source tops, grey and ARGB sources, a height that no band
  // count divides evenly.
  for (SInt16 mode : {kBufferModeGray, kBufferModeARGB})
    for (SInt32 top : {0, 3}) {
      BufferPtr src = RandomBuffer(MakeRect(top - 2, -4, top + 120, 90), mode, 5 + top);
      const Rect sourceRect = MakeRect(top, 2, top + 2 * 37, 2 + 2 * 41);
      for (const Proc& p : procs) {
        std::vector<UInt8> single;
        for (SInt32 bands : {1, 2, 3, 8}) {
          BufferPtr dst(new CBuffer(MakeRect(10, 20, 47, 61), kBufferDepth8, kBufferModeGray));
          TaskOptions options;
          options.mBandCount = bands;
          ASSERT_EQ(CBuffer::Convert(src.get(), dst.get(), nullptr, &sourceRect, &dst->GetBounds(), p.proc, nullptr,
                                     nullptr, nullptr, &options),
                    noErr);
          const std::vector<UInt8> bytes = Bytes(dst.get(), dst->GetBounds());
          if (bands == 1) {
            single = bytes;
            for (SInt32 j = 0; j < 37; ++j)
              for (SInt32 i = 0; i < 41; ++i)
                ASSERT_EQ(Px(dst.get(), 10 + j, 20 + i, 0), ReducedGrey(src.get(), sourceRect, j, i, p.rows))
                    << "mode " << mode << " top " << top << " at " << j << "," << i;
          } else {
            EXPECT_EQ(bytes, single) << bands << " bands, mode " << mode << " top " << top;
          }
        }
      }
    }
}

TEST(TrackerBandProcs, ReductionsRefuseOtherSizesAndMasks) {
  BufferPtr src = RandomBuffer(MakeRect(0, 0, 8, 8), kBufferModeARGB, 3);
  BufferPtr dst = RandomBuffer(MakeRect(0, 0, 4, 4), kBufferModeGray, 4);
  BufferPtr wrong(new CBuffer(MakeRect(0, 0, 5, 4), kBufferDepth8, kBufferModeGray));
  EXPECT_EQ(CBuffer::Convert(src.get(), wrong.get(), nullptr, nullptr, nullptr, CAutoMotionTracker::ReduceBy2_proc,
                             nullptr, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(CBuffer::Convert(src.get(), dst.get(), dst.get(), nullptr, nullptr, CAutoMotionTracker::ReduceBy2_proc,
                             nullptr, nullptr, nullptr, nullptr),
            paramErr);
}

TEST(TrackerBandProcs, FieldCopiesDuplicateTheFieldRowsForEveryBandCount) {
  // 37 rows: the last pair has one row only. An odd top: the pairs start on
  // a row of odd coordinate.
  for (SInt32 top : {0, 1}) {
    BufferPtr src = RandomBuffer(MakeRect(top, 0, top + 37, 23), kBufferModeARGB, 9 + top);
    const Rect box = src->GetBounds();
    auto grey = [&](SInt32 row, SInt32 col) {
      return ((Px(src.get(), row, col, 1) + Px(src.get(), row, col, 2) + Px(src.get(), row, col, 3)) * 21846u) >> 16;
    };
    for (bool odd : {true, false}) {
      BandProcPtr proc = odd ? CAutoMotionTracker::CopyOddField_proc : CAutoMotionTracker::CopyEvenField_proc;
      std::vector<UInt8> single;
      for (SInt32 bands : {1, 2, 3, 8}) {
        BufferPtr dst(new CBuffer(box, kBufferDepth8, kBufferModeGray));
        TaskOptions options;
        options.mBandCount = bands;
        ASSERT_EQ(CBuffer::Convert(src.get(), dst.get(), nullptr, &box, &box, proc, nullptr, nullptr, nullptr, &options),
                  noErr);
        for (SInt32 y = box.top; y < box.bottom; ++y) {
          // The row of the field's parity in this row's pair.
          SInt32 want = box.top + ((y - box.top) & ~1);
          if (((want & 1) == 0) != odd) ++want;
          if (want >= box.bottom) want -= 2;
          EXPECT_EQ((want & 1) == 0, odd);
          for (SInt32 x = 0; x < 23; ++x) ASSERT_EQ(Px(dst.get(), y, x, 0), grey(want, x)) << y << "," << x;
        }
        if (bands == 1) single = Bytes(dst.get(), box);
        else EXPECT_EQ(Bytes(dst.get(), box), single);
      }
    }
    // The frame copy is the plain grey conversion.
    BufferPtr dst(new CBuffer(box, kBufferDepth8, kBufferModeGray));
    ASSERT_EQ(CBuffer::Convert(src.get(), dst.get(), nullptr, &box, &box, CAutoMotionTracker::CopyFrame_proc, nullptr,
                               nullptr, nullptr, nullptr),
              noErr);
    for (SInt32 y = box.top; y < box.bottom; ++y)
      for (SInt32 x = 0; x < 23; ++x) ASSERT_EQ(Px(dst.get(), y, x, 0), grey(y, x));
    // A grey source is refused.
    EXPECT_EQ(CBuffer::Convert(dst.get(), dst.get(), nullptr, &box, &box, CAutoMotionTracker::CopyFrame_proc, nullptr,
                               nullptr, nullptr, nullptr),
              paramErr);
  }
}

TEST(TrackerBandProcs, GradientFilterLeavesTheOutermostSamplesAndMatchesForEveryBandCount) {
  BufferPtr grey = RandomBuffer(MakeRect(5, 7, 5 + 29, 7 + 31), kBufferModeGray, 17);
  const Rect box = grey->GetBounds();
  const SInt32 w = 31, h = 29;
  std::vector<float> single;
  for (SInt32 bands : {1, 2, 3, 8}) {
    std::vector<float> plane(static_cast<size_t>(w) * h, -7.0f);
    TaskOptions options;
    options.mBandCount = bands;
    ASSERT_EQ(CBuffer::Convert(grey.get(), grey.get(), nullptr, &box, &box, CAutoMotionTracker::DiffFilterProc,
                               plane.data(), nullptr, nullptr, &options),
              noErr);
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < w; ++x) {
        const float v = plane[y * w + x];
        if (y == 0 || y == h - 1 || x == 0 || x == w - 1) {
          ASSERT_EQ(v, -7.0f) << y << "," << x;
          continue;
        }
        const SInt32 gy = box.top + y, gx = box.left + x;
        const SInt32 d = (SInt32(Px(grey.get(), gy, gx + 1, 0)) - SInt32(Px(grey.get(), gy, gx - 1, 0))) +
                         (SInt32(Px(grey.get(), gy + 1, gx, 0)) - SInt32(Px(grey.get(), gy - 1, gx, 0)));
        ASSERT_EQ(v, d * 0.00390625f) << y << "," << x;
      }
    if (bands == 1) single = plane;
    else EXPECT_EQ(plane, single);
  }
}

// The tracker's whole pyramid and its planes, with one band per operation
// and with band counts from 2 to 8: the same bytes, the same records.
TEST(TrackerBandProcs, PyramidIsTheSameForEveryNumberOfBands) {
  const Texture texture = MakeTexture(800, 620, 3);
  struct Run {
    std::vector<std::vector<UInt8>> levels;
    std::vector<std::vector<float>> planes;
    std::vector<DiffMotionData> records;
  };
  auto run = [&](SInt32 inWidth, SInt32 inHeight, ETrackerFieldMode inMode) {
    Run out;
    BufferPtr frame(NewFrame(inWidth, inHeight));
    CAutoMotionTracker tracker;
    tracker.SetAccuracy(3);
    EXPECT_EQ(tracker.BeginTracking(frame.get(), MakeRect(1, 3, inHeight - 2, inWidth - 1), nullptr, nullptr), noErr);
    Render(texture, Pose(), frame.get());
    EXPECT_EQ(tracker.ProcessFrame(1, inMode, nullptr, nullptr), noErr);
    Render(texture, Pose::Make(1.002, 0.004, 2.3, -1.6), frame.get());
    EXPECT_EQ(tracker.ProcessFrame(1, inMode, nullptr, nullptr), noErr);
    for (PyramidLevelData* level : tracker.GetLevels()) {
      out.levels.push_back(Bytes(level->mGrey, level->mBounds));
      const size_t n = static_cast<size_t>(level->mBounds.right - level->mBounds.left) *
                       (level->mBounds.bottom - level->mBounds.top);
      out.planes.emplace_back(level->mPrevious, level->mPrevious + n);
    }
    auto& records = tracker.GetMotionDataArray();
    out.records.assign(records.begin(), records.end());
    return out;
  };
  struct Case {
    SInt32 w, h;
    ETrackerFieldMode mode;
  };
  // Odd level heights and a first level that is copied or reduced.
  const Case cases[] = {{323, 247, ETrackerFieldMode::kFrame},
                        {323, 247, ETrackerFieldMode::kOddField},
                        {757, 583, ETrackerFieldMode::kFrame},
                        {757, 583, ETrackerFieldMode::kEvenField}};
  for (const Case& c : cases) {
    CTaskGroup::mAllowMP = false;  // one band per operation
    const Run one = run(c.w, c.h, c.mode);
    CTaskGroup::mAllowMP = true;
    for (ItemCount processors : {3u, 8u}) {
      MPSetProcessorCountForTesting(processors);
      const Run many = run(c.w, c.h, c.mode);
      MPSetProcessorCountForTesting(0);
      ASSERT_EQ(many.levels.size(), one.levels.size());
      for (size_t i = 0; i < one.levels.size(); ++i) {
        EXPECT_EQ(many.levels[i], one.levels[i]) << c.w << "x" << c.h << " level " << i << ", " << processors;
        EXPECT_EQ(many.planes[i], one.planes[i]) << c.w << "x" << c.h << " plane " << i << ", " << processors;
      }
      ASSERT_EQ(many.records.size(), 2u);
      EXPECT_EQ(std::memcmp(many.records.data(), one.records.data(), 2 * sizeof(DiffMotionData)), 0);
    }
  }
}

// The pyramid is built as one loop over stacked rows (a coarsest row and the
// finer rows that reduce to it, and a last item of the rows no coarser row
// uses). Every level must still be exactly what the band engine makes of the
// level below it, level by level, for odd heights and any number of workers.
TEST(TrackerBandProcs, StackedPyramidMatchesLevelByLevelReductions) {
  const Texture texture = MakeTexture(900, 700, 11);
  struct Case {
    SInt32 w, h;
    ETrackerFieldMode mode;
  };
  const Case cases[] = {{323, 247, ETrackerFieldMode::kFrame},
                        {757, 583, ETrackerFieldMode::kFrame},
                        {757, 583, ETrackerFieldMode::kOddField},
                        {821, 611, ETrackerFieldMode::kEvenField}};
  for (const Case& c : cases)
    for (ItemCount processors : {1u, 2u, 8u}) {
      CTaskGroup::mAllowMP = processors != 1;
      MPSetProcessorCountForTesting(processors);
      BufferPtr frame(NewFrame(c.w, c.h));
      Render(texture, Pose::Make(1.0, 0.01, 1.5, -0.5), frame.get());
      CAutoMotionTracker tracker;
      tracker.SetAccuracy(3);
      ASSERT_EQ(tracker.BeginTracking(frame.get(), MakeRect(1, 3, c.h - 2, c.w - 1), nullptr, nullptr), noErr);
      ASSERT_EQ(tracker.ProcessFrame(1, c.mode, nullptr, nullptr), noErr);
      auto& levels = tracker.GetLevels();
      ASSERT_GE(levels.GetCount(), 3);
      for (SInt32 i = 1; i <= levels.GetCount(); ++i) {
        PyramidLevelData* level = levels[i];
        BufferPtr reference(new CBuffer(level->mBounds, kBufferDepth8, kBufferModeGray));
        BandProcPtr proc = CAutoMotionTracker::ReduceBy2_proc;
        CBuffer* source = i == 1 ? frame.get() : levels[i - 1]->mGrey;
        if (i == 1) {
          const bool same = EqualRect(&level->mBounds, &level->mSource);
          if (c.mode == ETrackerFieldMode::kOddField)
            proc = same ? CAutoMotionTracker::CopyOddField_proc : CAutoMotionTracker::ReduceBy2_Odd_proc;
          else if (c.mode == ETrackerFieldMode::kEvenField)
            proc = same ? CAutoMotionTracker::CopyEvenField_proc : CAutoMotionTracker::ReduceBy2_Even_proc;
          else
            proc = same ? CAutoMotionTracker::CopyFrame_proc : CAutoMotionTracker::ReduceBy2_proc;
        }
        TaskOptions one;
        one.mBandCount = 1;
        ASSERT_EQ(CBuffer::Convert(source, reference.get(), nullptr, &level->mSource, &level->mBounds, proc, nullptr,
                                   nullptr, nullptr, &one),
                  noErr);
        EXPECT_EQ(Bytes(level->mGrey, level->mBounds), Bytes(reference.get(), level->mBounds))
            << c.w << "x" << c.h << " level " << i << ", " << processors << " processors";
      }
      tracker.EndTracking();
    }
  MPSetProcessorCountForTesting(0);
  CTaskGroup::mAllowMP = true;
}

// The gradient planes are written by the pyramid's own loop, each run
// filtering its rows and the two runs at a boundary sharing the rows next to
// it. Every filtered sample must still be what the filter makes of the whole
// level in one band, for odd sizes, field modes, any number of workers, and
// only for the levels that are tracked.
TEST(TrackerBandProcs, GradientPlanesMatchTheFilterOfEachWholeLevel) {
  const Texture texture = MakeTexture(1100, 900, 5);
  struct Case {
    SInt32 w, h;
    ETrackerFieldMode mode;
    SInt16 accuracy;
  };
  // 1003x803 has four levels: all are tracked at accuracy 3, the three
  // coarsest below it.
  const Case cases[] = {{323, 247, ETrackerFieldMode::kFrame, 3},
                        {757, 583, ETrackerFieldMode::kOddField, 3},
                        {1003, 803, ETrackerFieldMode::kFrame, 3},
                        {1003, 803, ETrackerFieldMode::kEvenField, 2}};
  for (const Case& c : cases)
    for (ItemCount processors : {1u, 2u, 3u, 8u}) {
      CTaskGroup::mAllowMP = processors != 1;
      MPSetProcessorCountForTesting(processors);
      BufferPtr frame(NewFrame(c.w, c.h));
      Render(texture, Pose::Make(1.0, 0.02, 0.5, 1.5), frame.get());
      CAutoMotionTracker tracker;
      tracker.SetAccuracy(c.accuracy);
      ASSERT_EQ(tracker.BeginTracking(frame.get(), MakeRect(1, 3, c.h - 2, c.w - 1), nullptr, nullptr), noErr);
      auto& levels = tracker.GetLevels();
      const SInt32 count = levels.GetCount();
      const SInt32 tracked = c.accuracy == 3 ? 4 : 3;
      ASSERT_GE(count, 3);
      // Marks, to tell written samples from samples left alone.
      for (PyramidLevelData* level : levels) {
        const size_t n = static_cast<size_t>(level->mBounds.right - level->mBounds.left) *
                         (level->mBounds.bottom - level->mBounds.top);
        std::fill(level->mCurrent, level->mCurrent + n, -9.0f);
      }
      ASSERT_EQ(tracker.ProcessFrame(1, c.mode, nullptr, nullptr), noErr);
      for (SInt32 i = 1; i <= count; ++i) {
        PyramidLevelData* level = levels[i];
        const Rect& b = level->mBounds;
        const SInt32 w = b.right - b.left, h = b.bottom - b.top;
        // The planes were handed on to be the previous ones of the next frame.
        const float* plane = level->mPrevious;
        const bool filtered = i > count - tracked;
        std::vector<float> reference(static_cast<size_t>(w) * h, -9.0f);
        if (filtered) {
          TaskOptions one;
          one.mBandCount = 1;
          ASSERT_EQ(CBuffer::Convert(level->mGrey, level->mGrey, nullptr, &b, &b, CAutoMotionTracker::DiffFilterProc,
                                     reference.data(), nullptr, nullptr, &one),
                    noErr);
        }
        SInt32 wrong = 0;
        for (SInt32 y = 1; y < h - 1; ++y)
          for (SInt32 x = 1; x < w - 1; ++x) {
            const size_t k = static_cast<size_t>(y) * w + x;
            if (plane[k] != reference[k] && wrong++ == 0)
              ADD_FAILURE() << c.w << "x" << c.h << " level " << i << " row " << y << " column " << x << ", "
                            << processors << " processors: " << plane[k] << " instead of " << reference[k];
          }
        EXPECT_EQ(wrong, 0) << c.w << "x" << c.h << " level " << i << ", " << processors << " processors";
      }
      tracker.EndTracking();
    }
  MPSetProcessorCountForTesting(0);
  CTaskGroup::mAllowMP = true;
}
