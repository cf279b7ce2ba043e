// The copy and erase kernels. Row loops are plain loops over contiguous
// components with restrict-qualified pointers and no branches, so that the
// compiler vectorises them (ARGB rows as one statement per component); the
// masked write is
//   d = (x * m + (255 - m) * d) / 255   (m = 255 takes x, m = 0 keeps d)
// and conversions that clamp clamp the blended result as well.
#include "media/CBufferProcs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "media/CBuffer.h"
#include "media/CBufferTask.h"
#include "platform/base/LException.h"

namespace {

constexpr SInt32 kNilPointer = err_NilPointer;

inline UInt32 Blend(UInt32 x, UInt32 m, UInt32 d) { return (x * m + (255u - m) * d) / 255u; }

// The same blend into a destination component of type D. For 8-bit
// destinations every term fits 16 bits (x <= 256), which the vector unit
// handles twice as wide and divides by 255 without a division instruction.
template <class D>
inline UInt32 BlendTo(UInt32 x, UInt32 m, D d) {
  if constexpr (sizeof(D) == 1) {
    const UInt16 t = static_cast<UInt16>(static_cast<UInt16>(x) * static_cast<UInt16>(m) +
                                         static_cast<UInt16>(255u - m) * static_cast<UInt16>(d));
    return static_cast<UInt16>(t / 255);
  } else {
    return Blend(x, m, d);
  }
}

// Conversions of one component value (unclamped; the writer clamps).
struct Same {
  static UInt32 Do(UInt32 v) { return v; }
};
struct Up {  // 8 -> 16 bits
  static UInt32 Do(UInt32 v) { return v * 257u; }
};
struct Down {  // 16 -> 8 bits
  static UInt32 Do(UInt32 v) { return v >> 8; }
};
// Gray from the sum of red, green and blue.
struct Sum8to8 {
  static UInt32 Do(UInt32 s) { return (s * 21846u) >> 16; }
};
struct Sum8to16 {
  static UInt32 Do(UInt32 s) { return (s * 5462u) >> 6; }
};
struct Sum16to16 {
  static UInt32 Do(UInt32 s) { return (s * 5462u) >> 14; }
};
struct Sum16to8 {
  static UInt32 Do(UInt32 s) { return (s * 5462u) >> 22; }
};

template <class D>
constexpr UInt32 kMax = sizeof(D) == 1 ? 255u : 65535u;

// ---- Row kernels: w pixels.

template <class S, class D, class C>
void RowGrayGray(const S* __restrict s, D* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) d[i] = static_cast<D>(std::min(C::Do(s[i]), kMax<D>));
}
template <class S, class D, class C>
void RowGrayGrayM(const S* __restrict s, D* __restrict d, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) d[i] = static_cast<D>(std::min(BlendTo(C::Do(s[i]), m[i], d[i]), kMax<D>));
}

template <class S, class D, class C>
void RowGrayARGB(const S* __restrict s, D* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    D v = static_cast<D>(C::Do(s[i]));
    d[4 * i + 1] = v;
    d[4 * i + 2] = v;
    d[4 * i + 3] = v;
  }
}
template <class S, class D, class C>
void RowGrayARGBM(const S* __restrict s, D* __restrict d, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    UInt32 v = C::Do(s[i]);
    d[4 * i + 1] = static_cast<D>(BlendTo(v, m[4 * i + 1], d[4 * i + 1]));
    d[4 * i + 2] = static_cast<D>(BlendTo(v, m[4 * i + 2], d[4 * i + 2]));
    d[4 * i + 3] = static_cast<D>(BlendTo(v, m[4 * i + 3], d[4 * i + 3]));
  }
}

// ARGB to ARGB of another depth: colour components converted, alpha kept.
template <class S, class D, class C>
void RowARGBARGB(const S* __restrict s, D* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    d[4 * i + 1] = static_cast<D>(C::Do(s[4 * i + 1]));
    d[4 * i + 2] = static_cast<D>(C::Do(s[4 * i + 2]));
    d[4 * i + 3] = static_cast<D>(C::Do(s[4 * i + 3]));
  }
}
template <class S, class D, class C>
void RowARGBARGBM(const S* __restrict s, D* __restrict d, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    d[4 * i + 1] = static_cast<D>(BlendTo(C::Do(s[4 * i + 1]), m[4 * i + 1], d[4 * i + 1]));
    d[4 * i + 2] = static_cast<D>(BlendTo(C::Do(s[4 * i + 2]), m[4 * i + 2], d[4 * i + 2]));
    d[4 * i + 3] = static_cast<D>(BlendTo(C::Do(s[4 * i + 3]), m[4 * i + 3], d[4 * i + 3]));
  }
}

template <class S, class D, class C>
void RowARGBGray(const S* __restrict s, D* __restrict d, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    UInt32 sum = static_cast<UInt32>(s[4 * i + 1]) + s[4 * i + 2] + s[4 * i + 3];
    d[i] = static_cast<D>(std::min(C::Do(sum), kMax<D>));
  }
}
template <class S, class D, class C>
void RowARGBGrayM(const S* __restrict s, D* __restrict d, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    UInt32 sum = static_cast<UInt32>(s[4 * i + 1]) + s[4 * i + 2] + s[4 * i + 3];
    d[i] = static_cast<D>(std::min(BlendTo(C::Do(sum), m[i], d[i]), kMax<D>));
  }
}

// Erase rows: pattern of one (gray) or four (ARGB) components.
template <class D>
void RowFillGray(D* __restrict d, D v, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) d[i] = v;
}
template <class D>
void RowFillGrayM(D* __restrict d, UInt32 v, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) d[i] = static_cast<D>(BlendTo(v, m[i], d[i]));
}
template <class D>
void RowFillARGB(D* __restrict d, const D* __restrict pattern, SInt32 w) {
  const D p0 = pattern[0], p1 = pattern[1], p2 = pattern[2], p3 = pattern[3];
  for (SInt32 i = 0; i < w; ++i) {
    d[4 * i] = p0;
    d[4 * i + 1] = p1;
    d[4 * i + 2] = p2;
    d[4 * i + 3] = p3;
  }
}
// Masked: alpha is not changed.
template <class D>
void RowFillARGBM(D* __restrict d, const UInt32* __restrict pattern, const UInt8* __restrict m, SInt32 w) {
  const UInt32 p1 = pattern[1], p2 = pattern[2], p3 = pattern[3];
  for (SInt32 i = 0; i < w; ++i) {
    d[4 * i + 1] = static_cast<D>(BlendTo(p1, m[4 * i + 1], d[4 * i + 1]));
    d[4 * i + 2] = static_cast<D>(BlendTo(p2, m[4 * i + 2], d[4 * i + 2]));
    d[4 * i + 3] = static_cast<D>(BlendTo(p3, m[4 * i + 3], d[4 * i + 3]));
  }
}

// ---- Band walking

typedef void (*RowFn)(const void* s, void* d, const UInt8* m, SInt32 w);

template <class S, class D, class C>
void CallGrayGray(const void* s, void* d, const UInt8*, SInt32 w) {
  RowGrayGray<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), w);
}
template <class S, class D, class C>
void CallGrayGrayM(const void* s, void* d, const UInt8* m, SInt32 w) {
  RowGrayGrayM<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), m, w);
}
template <class S, class D, class C>
void CallGrayARGB(const void* s, void* d, const UInt8*, SInt32 w) {
  RowGrayARGB<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), w);
}
template <class S, class D, class C>
void CallGrayARGBM(const void* s, void* d, const UInt8* m, SInt32 w) {
  RowGrayARGBM<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), m, w);
}
template <class S, class D, class C>
void CallARGBARGB(const void* s, void* d, const UInt8*, SInt32 w) {
  RowARGBARGB<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), w);
}
template <class S, class D, class C>
void CallARGBARGBM(const void* s, void* d, const UInt8* m, SInt32 w) {
  RowARGBARGBM<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), m, w);
}
template <class S, class D, class C>
void CallARGBGray(const void* s, void* d, const UInt8*, SInt32 w) {
  RowARGBGray<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), w);
}
template <class S, class D, class C>
void CallARGBGrayM(const void* s, void* d, const UInt8* m, SInt32 w) {
  RowARGBGrayM<S, D, C>(static_cast<const S*>(s), static_cast<D*>(d), m, w);
}

// The row function of a depth and mode pair (nil: a whole-row block move).
// Index: source depth, source mode, destination depth, destination mode (each 1 or 2).
RowFn CopyRowFn(SInt16 sd, SInt16 sm, SInt16 dd, SInt16 dm, bool masked) {
  const int key = (sd - 1) * 8 + (sm - 1) * 4 + (dd - 1) * 2 + (dm - 1);
  if (!masked) {
    switch (key) {
      case 0: return nullptr;                                      // 8 gray -> 8 gray
      case 1: return CallGrayARGB<UInt8, UInt8, Same>;             // 8 gray -> 8 ARGB
      case 2: return CallGrayGray<UInt8, UInt16, Up>;              // 8 gray -> 16 gray
      case 3: return CallGrayARGB<UInt8, UInt16, Up>;              // 8 gray -> 16 ARGB
      case 4: return CallARGBGray<UInt8, UInt8, Sum8to8>;          // 8 ARGB -> 8 gray
      case 5: return nullptr;                                      // 8 ARGB -> 8 ARGB
      case 6: return CallARGBGray<UInt8, UInt16, Sum8to16>;        // 8 ARGB -> 16 gray
      case 7: return CallARGBARGB<UInt8, UInt16, Up>;              // 8 ARGB -> 16 ARGB
      case 8: return CallGrayGray<UInt16, UInt8, Down>;            // 16 gray -> 8 gray
      case 9: return CallGrayARGB<UInt16, UInt8, Down>;            // 16 gray -> 8 ARGB
      case 10: return nullptr;                                     // 16 gray -> 16 gray
      case 11: return CallGrayARGB<UInt16, UInt16, Same>;          // 16 gray -> 16 ARGB
      case 12: return CallARGBGray<UInt16, UInt8, Sum16to8>;       // 16 ARGB -> 8 gray
      case 13: return CallARGBARGB<UInt16, UInt8, Down>;           // 16 ARGB -> 8 ARGB
      case 14: return CallARGBGray<UInt16, UInt16, Sum16to16>;     // 16 ARGB -> 16 gray
      default: return nullptr;                                     // 16 ARGB -> 16 ARGB
    }
  }
  switch (key) {
    case 0: return CallGrayGrayM<UInt8, UInt8, Same>;
    case 1: return CallGrayARGBM<UInt8, UInt8, Same>;
    case 2: return CallGrayGrayM<UInt8, UInt16, Up>;
    case 3: return CallGrayARGBM<UInt8, UInt16, Up>;
    case 4: return CallARGBGrayM<UInt8, UInt8, Sum8to8>;
    case 5: return CallARGBARGBM<UInt8, UInt8, Same>;
    case 6: return CallARGBGrayM<UInt8, UInt16, Sum8to16>;
    case 7: return CallARGBARGBM<UInt8, UInt16, Up>;
    case 8: return CallGrayGrayM<UInt16, UInt8, Down>;
    case 9: return CallGrayARGBM<UInt16, UInt8, Down>;
    case 10: return CallGrayGrayM<UInt16, UInt16, Same>;
    case 11: return CallGrayARGBM<UInt16, UInt16, Same>;
    case 12: return CallARGBGrayM<UInt16, UInt8, Sum16to8>;
    case 13: return CallARGBARGBM<UInt16, UInt8, Down>;
    case 14: return CallARGBGrayM<UInt16, UInt16, Sum16to16>;
    default: return CallARGBARGBM<UInt16, UInt16, Same>;
  }
}

bool ValidDepthMode(SInt16 depth, SInt16 mode) {
  return (depth == kBufferDepth8 || depth == kBufferDepth16) && (mode == kBufferModeGray || mode == kBufferModeARGB);
}

// A mask is an 8-bit buffer in the destination's colour mode; any other
// would be read with the wrong stride.
bool ValidMask(const CBuffer* mask, const CBuffer* dest) {
  return !mask || (mask->GetDepth() == kBufferDepth8 && mask->GetMode() == dest->GetMode());
}

bool Inside(SInt32 top, SInt32 left, SInt32 rows, SInt32 width, const Rect& bounds) {
  return top >= bounds.top && left >= bounds.left && top + rows <= bounds.bottom && left + width <= bounds.right;
}

bool Aligned16(const CBuffer* b, const UInt8* p, SInt32 rowBytes) {
  return b->GetDepth() != kBufferDepth16 || ((reinterpret_cast<uintptr_t>(p) | static_cast<uintptr_t>(rowBytes)) & 1) == 0;
}

}  // namespace

SInt32 PrepareBand(CBufferTask* inTask, BandPointers& outBand, bool& outRun) {
  outRun = false;
  if (inTask->mRows <= 0) return noErr;
  if (!inTask->mSource || !inTask->mDest) return kNilPointer;
  const Rect& s = inTask->mSourceBox;
  const Rect& d = inTask->mDestBox;
  const SInt32 sTop = s.top + inTask->mFirstRow, dTop = d.top + inTask->mFirstRow;
  const SInt32 width = d.right - d.left;
  if (inTask->mFirstRow < 0 || s.right - s.left != width || s.bottom - sTop != d.bottom - dTop) return paramErr;
  const SInt32 rows = std::min(inTask->mRows, d.bottom - dTop);
  if (rows <= 0 || width < 0) return rows < 0 ? paramErr : noErr;
  // Never touch memory outside a buffer, whatever boxes the caller made.
  if (!Inside(sTop, s.left, rows, width, inTask->mSource->GetBounds()) ||
      !Inside(dTop, d.left, rows, width, inTask->mDest->GetBounds()) ||
      (inTask->mMask && !Inside(dTop, d.left, rows, width, inTask->mMask->GetBounds())))
    return paramErr;
  Point sp{static_cast<SInt16>(sTop), s.left}, dp{static_cast<SInt16>(dTop), d.left};
  outBand.src = reinterpret_cast<UInt8*>(inTask->mSource->GetDataPtr(&sp));
  outBand.dst = reinterpret_cast<UInt8*>(inTask->mDest->GetDataPtr(&dp));
  if (!outBand.src || !outBand.dst) return kNilPointer;
  outBand.srcRowBytes = inTask->mSource->GetRowBytes();
  outBand.dstRowBytes = inTask->mDest->GetRowBytes();
  if (inTask->mMask) {
    outBand.mask = reinterpret_cast<const UInt8*>(inTask->mMask->GetDataPtr(&dp));
    if (!outBand.mask) return kNilPointer;
    outBand.maskRowBytes = inTask->mMask->GetRowBytes();
  }
  if (!Aligned16(inTask->mSource, outBand.src, outBand.srcRowBytes) || !Aligned16(inTask->mDest, outBand.dst, outBand.dstRowBytes)) return paramErr;
  outBand.width = width;
  outBand.rows = rows;
  outRun = true;
  return noErr;
}

SInt32 CBufferProcs::Copy_proc(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  BandPointers b;
  bool run = false;
  SInt32 status = PrepareBand(t, b, run);
  if (!run) return status;
  const CBuffer* src = t->mSource;
  const CBuffer* dst = t->mDest;
  if (!ValidDepthMode(src->GetDepth(), src->GetMode()) || !ValidDepthMode(dst->GetDepth(), dst->GetMode()) ||
      !ValidMask(t->mMask, dst))
    return paramErr;
  const bool masked = b.mask != nullptr;
  RowFn fn = CopyRowFn(src->GetDepth(), src->GetMode(), dst->GetDepth(), dst->GetMode(), masked);
  const size_t blockBytes = static_cast<size_t>(b.width) * static_cast<size_t>(dst->GetBytesPerPixel());
  for (SInt32 i = 0; i < b.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / b.rows);
    if (fn)
      fn(b.src, b.dst, b.mask, b.width);
    else
      std::memmove(b.dst, b.src, blockBytes);
    b.src += b.srcRowBytes;
    b.dst += b.dstRowBytes;
    if (masked) b.mask += b.maskRowBytes;
  }
  return noErr;
}

SInt32 CBufferProcs::Erase_proc(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  BandPointers b;
  bool run = false;
  SInt32 status = PrepareBand(t, b, run);
  if (!run) return status;
  const CBuffer* dst = t->mDest;
  const SInt16 depth = dst->GetDepth(), mode = dst->GetMode();
  if (t->mSource->GetDepth() != depth || t->mSource->GetMode() != mode || !ValidDepthMode(depth, mode) ||
      !ValidMask(t->mMask, dst))
    return paramErr;
  if (!t->mUserParam) return kNilPointer;
  UInt16 value[4];
  std::memcpy(value, t->mUserParam, sizeof(value));
  const UInt16 gray = value[0], red = value[1], green = value[2], blue = value[3];
  const bool masked = b.mask != nullptr;
  const UInt8 pattern8[4] = {0, static_cast<UInt8>(red >> 8), static_cast<UInt8>(green >> 8),
                             static_cast<UInt8>(blue >> 8)};
  const UInt16 pattern16[4] = {0, red, green, blue};
  UInt32 patternWide[4];
  for (int k = 0; k < 4; ++k) patternWide[k] = depth == kBufferDepth8 ? pattern8[k] : pattern16[k];
  const UInt32 grayValue = depth == kBufferDepth8 ? static_cast<UInt32>(gray >> 8) : gray;

  for (SInt32 i = 0; i < b.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / b.rows);
    if (mode == kBufferModeGray) {
      if (depth == kBufferDepth8) {
        if (masked)
          RowFillGrayM<UInt8>(b.dst, grayValue, b.mask, b.width);
        else
          std::memset(b.dst, static_cast<int>(grayValue), static_cast<size_t>(b.width));
      } else {
        auto* d = reinterpret_cast<UInt16*>(b.dst);
        if (masked)
          RowFillGrayM<UInt16>(d, grayValue, b.mask, b.width);
        else
          RowFillGray<UInt16>(d, static_cast<UInt16>(grayValue), b.width);
      }
    } else {
      if (depth == kBufferDepth8) {
        if (masked)
          RowFillARGBM<UInt8>(b.dst, patternWide, b.mask, b.width);
        else
          RowFillARGB<UInt8>(b.dst, pattern8, b.width);
      } else {
        auto* d = reinterpret_cast<UInt16*>(b.dst);
        if (masked)
          RowFillARGBM<UInt16>(d, patternWide, b.mask, b.width);
        else
          RowFillARGB<UInt16>(d, pattern16, b.width);
      }
    }
    b.dst += b.dstRowBytes;
    if (masked) b.mask += b.maskRowBytes;
  }
  return noErr;
}

// The portable kernels are already vectorised by the compiler.
