// Helpers shared by the image buffer tests.
#pragma once

#include <cstring>
#include <random>
#include <vector>

#include "media/CBuffer.h"

namespace buffertest {

inline Rect R(SInt16 top, SInt16 left, SInt16 bottom, SInt16 right) { return Rect{top, left, bottom, right}; }

// Fills every pixel of the buffer with pseudo-random components.
inline void FillRandom(CBuffer& b, UInt32 seed) {
  std::mt19937 gen(seed);
  const SInt32 rowLength = b.GetWidth() * b.GetBytesPerPixel();
  for (SInt32 r = 0; r < b.GetHeight(); ++r) {
    UInt8* row = reinterpret_cast<UInt8*>(b.GetData()) + static_cast<ptrdiff_t>(r) * b.GetRowBytes();
    for (SInt32 i = 0; i < rowLength; ++i) row[i] = static_cast<UInt8>(gen());
  }
}

// The component k of the pixel at (v, h).
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

inline std::vector<UInt8> Snapshot(const CBuffer& b) {
  const UInt8* p = reinterpret_cast<const UInt8*>(b.GetData());
  return std::vector<UInt8>(p, p + b.GetDataSize());
}

}  // namespace buffertest
