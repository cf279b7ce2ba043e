// The band procedures of the automatic tracker: grey copies of frames and
// fields, 2:1 reductions and the gradient filter. Each works on the rows of
// its band only and gives the same result whatever the band split: a
// reduction's band of output rows [first, first + rows) reads the source rows
// from 2 x first below the top of the source box.
#include <cstring>

#include "media/CBuffer.h"
#include "motion/CAutoMotionTracker.h"
#include "platform/base/LException.h"

namespace {

inline CBufferTask* TaskOf(void* inTask) { return static_cast<CBufferTask*>(inTask); }

inline UInt8* RowPtr(const CBuffer* inBuffer, SInt32 inRow, SInt32 inCol) {
  const Rect& b = inBuffer->GetBounds();
  return reinterpret_cast<UInt8*>(inBuffer->GetData()) + static_cast<ptrdiff_t>(inRow - b.top) * inBuffer->GetRowBytes() +
         static_cast<ptrdiff_t>(inCol - b.left) * inBuffer->GetBytesPerPixel();
}

inline bool IsGrey8(const CBuffer* b) { return b->GetDepth() == kBufferDepth8 && b->GetMode() == kBufferModeGray; }
inline bool IsARGB8(const CBuffer* b) { return b->GetDepth() == kBufferDepth8 && b->GetMode() == kBufferModeARGB; }

// Progress before an output row, and the stop poll.
inline bool BeginRow(CBufferTask* inTask, SInt32 inRow) {
  inTask->SetProgress(static_cast<SInt32>((static_cast<SInt64>(inRow) * 256) / inTask->mRows));
  return !CTaskObject::ShouldStop();
}

// ---- Row kernels

void GreyOfARGBRow(const UInt8* __restrict s, UInt8* __restrict d, SInt32 inWidth) {
  for (SInt32 i = 0; i < inWidth; ++i) {
    const UInt32 sum = UInt32{s[4 * i + 1]} + s[4 * i + 2] + s[4 * i + 3];
    d[i] = static_cast<UInt8>((sum * 21846u) >> 16);
  }
}

// Two source rows into one output row.
void Reduce2RowsGreyToGrey(const UInt8* __restrict a, const UInt8* __restrict b, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i)
    d[i] = static_cast<UInt8>((UInt32{a[2 * i]} + a[2 * i + 1] + b[2 * i] + b[2 * i + 1]) >> 2);
}
void Reduce2RowsARGBToGrey(const UInt8* __restrict a, const UInt8* __restrict b, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    const UInt32 sum = UInt32{a[8 * i + 1]} + a[8 * i + 2] + a[8 * i + 3] + a[8 * i + 5] + a[8 * i + 6] +
                       a[8 * i + 7] + b[8 * i + 1] + b[8 * i + 2] + b[8 * i + 3] + b[8 * i + 5] + b[8 * i + 6] +
                       b[8 * i + 7];
    d[i] = static_cast<UInt8>((sum * 5461u) >> 16);
  }
}
void Reduce2RowsGreyToARGB(const UInt8* __restrict a, const UInt8* __restrict b, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    const UInt8 v = static_cast<UInt8>((UInt32{a[2 * i]} + a[2 * i + 1] + b[2 * i] + b[2 * i + 1]) >> 2);
    d[4 * i + 1] = d[4 * i + 2] = d[4 * i + 3] = v;
  }
}
void Reduce2RowsARGBToARGB(const UInt8* __restrict a, const UInt8* __restrict b, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i)
    for (SInt32 c = 1; c < 4; ++c)
      d[4 * i + c] =
          static_cast<UInt8>((UInt32{a[8 * i + c]} + a[8 * i + 4 + c] + b[8 * i + c] + b[8 * i + 4 + c]) >> 2);
}

// One source row into one output row.
void Reduce1RowGreyToGrey(const UInt8* __restrict a, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) d[i] = static_cast<UInt8>((UInt32{a[2 * i]} + a[2 * i + 1]) >> 1);
}
void Reduce1RowARGBToGrey(const UInt8* __restrict a, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    const UInt32 sum = UInt32{a[8 * i + 1]} + a[8 * i + 2] + a[8 * i + 3] + a[8 * i + 5] + a[8 * i + 6] + a[8 * i + 7];
    d[i] = static_cast<UInt8>((sum * 10922u) >> 16);
  }
}
void Reduce1RowGreyToARGB(const UInt8* __restrict a, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    const UInt8 v = static_cast<UInt8>((UInt32{a[2 * i]} + a[2 * i + 1]) >> 1);
    d[4 * i + 1] = d[4 * i + 2] = d[4 * i + 3] = v;
  }
}
void Reduce1RowARGBToARGB(const UInt8* __restrict a, UInt8* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i)
    for (SInt32 c = 1; c < 4; ++c) d[4 * i + c] = static_cast<UInt8>((UInt32{a[8 * i + c]} + a[8 * i + 4 + c]) >> 1);
}

// ---- Copies

enum class ERowChoice { kBoth, kEvenCoordinate, kOddCoordinate };

inline bool IsOdd(SInt32 v) { return (v & 1) != 0; }

// The checks of the same-size copies; 0 when the band may run.
SInt32 CheckCopy(CBufferTask* t) {
  if (t->mMask) return paramErr;
  if (!t->mSource || !t->mDest) return err_NilPointer;
  const Rect& sb = t->mSourceBox;
  const Rect& db = t->mDestBox;
  if (sb.right - sb.left != db.right - db.left || sb.bottom - sb.top != db.bottom - db.top) return paramErr;
  if (!IsARGB8(t->mSource) || !IsGrey8(t->mDest)) return paramErr;
  if (!t->mSource->GetData() || !t->mDest->GetData()) return -1;
  return noErr;
}

template <ERowChoice kChoice>
SInt32 CopyBand(void* inTask) {
  CBufferTask* t = TaskOf(inTask);
  const SInt32 err = CheckCopy(t);
  if (err != noErr) return err;
  const Rect& sb = t->mSourceBox;
  const Rect& db = t->mDestBox;
  const SInt32 width = db.right - db.left;
  for (SInt32 j = 0; j < t->mRows; ++j) {
    if (!BeginRow(t, j)) return userCanceledErr;
    const SInt32 row = t->mFirstRow + j;  // from the top of both boxes
    SInt32 sourceRow = sb.top + row;
    if constexpr (kChoice != ERowChoice::kBoth) {
      // The pair this row belongs to, counted from the top of the operation,
      // and the row of the pair that holds the field.
      sourceRow = sb.top + (row & ~SInt32{1});
      const bool wantOdd = kChoice == ERowChoice::kOddCoordinate;
      if (IsOdd(sourceRow) != wantOdd) ++sourceRow;
      // The last pair of an odd number of rows: the field's row above it.
      if (sourceRow >= sb.bottom) sourceRow -= 2;
      if (sourceRow < sb.top) sourceRow = sb.top;
    }
    GreyOfARGBRow(RowPtr(t->mSource, sourceRow, sb.left), RowPtr(t->mDest, db.top + row, db.left), width);
  }
  return noErr;
}

// ---- Reductions

template <ERowChoice kChoice>
SInt32 ReduceBand(void* inTask) {
  CBufferTask* t = TaskOf(inTask);
  if (t->mMask) return paramErr;
  CBuffer* src = t->mSource;
  CBuffer* dst = t->mDest;
  if (!src || !dst) return err_NilPointer;
  const Rect& sb = t->mSourceBox;
  const Rect& db = t->mDestBox;
  const SInt32 sw = sb.right - sb.left, sh = sb.bottom - sb.top;
  const SInt32 dw = db.right - db.left, dh = db.bottom - db.top;
  if (dw <= 0 || dh <= 0) return paramErr;
  if (static_cast<SInt32>(static_cast<float>(sw) / static_cast<float>(dw)) != 2 ||
      static_cast<SInt32>(static_cast<float>(sh) / static_cast<float>(dh)) != 2)
    return paramErr;
  if (src->GetDepth() != kBufferDepth8 || dst->GetDepth() != kBufferDepth8) return paramErr;
  const bool srcGrey = IsGrey8(src), srcARGB = IsARGB8(src), dstGrey = IsGrey8(dst), dstARGB = IsARGB8(dst);
  if (!(srcGrey || srcARGB) || !(dstGrey || dstARGB)) return paramErr;
  if (!src->GetData() || !dst->GetData()) return err_NilPointer;

  for (SInt32 j = 0; j < t->mRows; ++j) {
    if (!BeginRow(t, j)) return userCanceledErr;
    const SInt32 outRow = t->mFirstRow + j;  // from the top of the destination box
    UInt8* d = RowPtr(dst, db.top + outRow, db.left);
    const SInt32 top = sb.top + 2 * outRow;  // the first of the two source rows
    if constexpr (kChoice == ERowChoice::kBoth) {
      const UInt8* a = RowPtr(src, top, sb.left);
      const UInt8* b = RowPtr(src, top + 1, sb.left);
      if (srcGrey && dstGrey) Reduce2RowsGreyToGrey(a, b, d, dw);
      else if (srcARGB && dstGrey) Reduce2RowsARGBToGrey(a, b, d, dw);
      else if (srcGrey) Reduce2RowsGreyToARGB(a, b, d, dw);
      else Reduce2RowsARGBToARGB(a, b, d, dw);
    } else {
      // The one row of the pair with the field's parity (top and 2 x row
      // share their parity with the source box's top).
      const bool wantOdd = kChoice == ERowChoice::kOddCoordinate;
      const UInt8* a = RowPtr(src, IsOdd(top) == wantOdd ? top : top + 1, sb.left);
      if (srcGrey && dstGrey) Reduce1RowGreyToGrey(a, d, dw);
      else if (srcARGB && dstGrey) Reduce1RowARGBToGrey(a, d, dw);
      else if (srcGrey) Reduce1RowGreyToARGB(a, d, dw);
      else Reduce1RowARGBToARGB(a, d, dw);
    }
  }
  return noErr;
}

}  // namespace

SInt32 CAutoMotionTracker::CopyFrame_proc(void* inTask) { return CopyBand<ERowChoice::kBoth>(inTask); }
SInt32 CAutoMotionTracker::CopyOddField_proc(void* inTask) {
  return CopyBand<ERowChoice::kEvenCoordinate>(inTask);
}
SInt32 CAutoMotionTracker::CopyEvenField_proc(void* inTask) {
  return CopyBand<ERowChoice::kOddCoordinate>(inTask);
}
SInt32 CAutoMotionTracker::ReduceBy2_proc(void* inTask) { return ReduceBand<ERowChoice::kBoth>(inTask); }
SInt32 CAutoMotionTracker::ReduceBy2_Odd_proc(void* inTask) {
  return ReduceBand<ERowChoice::kEvenCoordinate>(inTask);
}
SInt32 CAutoMotionTracker::ReduceBy2_Even_proc(void* inTask) {
  return ReduceBand<ERowChoice::kOddCoordinate>(inTask);
}

SInt32 CAutoMotionTracker::DiffFilterProc(void* inTask) {
  CBufferTask* t = TaskOf(inTask);
  if (t->mMask) return paramErr;
  CBuffer* src = t->mSource;
  if (!src || !IsGrey8(src)) return paramErr;
  float* plane = static_cast<float*>(t->mUserParam);
  if (!src->GetData() || !plane) return err_NilPointer;
  const Rect& box = t->mDestBox;
  const Rect& bounds = src->GetBounds();
  const SInt32 width = box.right - box.left;
  constexpr float kScale = 0.00390625f;
  for (SInt32 j = 0; j < t->mRows; ++j) {
    if (!BeginRow(t, j)) return userCanceledErr;
    const SInt32 y = box.top + t->mFirstRow + j;
    // The buffer's first and last rows have no neighbour on one side.
    if (y <= bounds.top || y >= bounds.bottom - 1) continue;
    const UInt8* __restrict s = RowPtr(src, y, box.left);
    const UInt8* __restrict above = RowPtr(src, y - 1, box.left);
    const UInt8* __restrict below = RowPtr(src, y + 1, box.left);
    float* __restrict out = plane + static_cast<ptrdiff_t>(y - box.top) * width;
    for (SInt32 x = 1; x < width - 1; ++x) {
      const SInt32 d = (SInt32{s[x + 1]} - SInt32{s[x - 1]}) + (SInt32{below[x]} - SInt32{above[x]});
      out[x] = static_cast<float>(d) * kScale;
    }
  }
  return noErr;
}
