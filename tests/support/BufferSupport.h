// Helpers of the image buffer and pixel operation tests: filling, reading and
// writing buffer components, and running an operation at a chosen number of bands.
#pragma once

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "platform/tasks/Multiprocessing.h"

namespace buffertest {

inline Rect R(SInt16 top, SInt16 left, SInt16 bottom, SInt16 right) { return Rect{top, left, bottom, right}; }

inline void FillRandom(CBuffer& b, UInt32 seed) {
  std::mt19937 gen(seed);
  const SInt32 rowLength = b.GetWidth() * b.GetBytesPerPixel();
  for (SInt32 r = 0; r < b.GetHeight(); ++r) {
    UInt8* row = reinterpret_cast<UInt8*>(b.GetData()) + static_cast<ptrdiff_t>(r) * b.GetRowBytes();
    for (SInt32 i = 0; i < rowLength; ++i) row[i] = static_cast<UInt8>(gen());
  }
}

inline UInt32 Comp(const CBuffer& b, SInt32 v, SInt32 h, int k) {
  Point p{static_cast<SInt16>(v), static_cast<SInt16>(h)};
  const UInt8* px = reinterpret_cast<const UInt8*>(b.GetDataPtr(&p));
  if (b.GetDepth() == kBufferDepth8) return px[k];
  UInt16 x;
  std::memcpy(&x, px + 2 * k, 2);
  return x;
}

inline void SetComp(CBuffer& b, SInt32 v, SInt32 h, int k, UInt32 value) {
  Point p{static_cast<SInt16>(v), static_cast<SInt16>(h)};
  UInt8* px = reinterpret_cast<UInt8*>(b.GetDataPtr(&p));
  if (b.GetDepth() == kBufferDepth8) {
    px[k] = static_cast<UInt8>(value);
  } else {
    UInt16 x = static_cast<UInt16>(value);
    std::memcpy(px + 2 * k, &x, 2);
  }
}

inline void SetPixel(CBuffer& b, SInt32 v, SInt32 h, UInt32 a, UInt32 r, UInt32 g, UInt32 bl) {
  SetComp(b, v, h, 0, a);
  SetComp(b, v, h, 1, r);
  SetComp(b, v, h, 2, g);
  SetComp(b, v, h, 3, bl);
}

inline std::vector<UInt8> Snapshot(const CBuffer& b) {
  const UInt8* p = reinterpret_cast<const UInt8*>(b.GetData());
  return std::vector<UInt8>(p, p + b.GetDataSize());
}

inline int Components(const CBuffer& b) { return b.GetMode() == kBufferModeARGB ? 4 : 1; }

// Runs the work with the operations cut into the given number of bands
// (1 through the single-processor switch, else through the processor count).
inline void WithBands(SInt32 inBands, const std::function<void()>& inWork) {
  const Boolean allow = CTaskGroup::mAllowMP;
  CTaskGroup::mAllowMP = inBands > 1;
  MPSetProcessorCountForTesting(static_cast<ItemCount>(inBands));
  inWork();
  MPSetProcessorCountForTesting(0);
  CTaskGroup::mAllowMP = allow;
}

constexpr SInt32 kBandCounts[] = {1, 2, 3, 8};

struct Format {
  SInt16 depth, mode;
};
constexpr Format kFormats[] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}};

}  // namespace buffertest
