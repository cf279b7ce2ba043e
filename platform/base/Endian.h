// Big-endian helpers. Values stored in movies, resource files and messages
// between the two programs are big-endian; values in memory are host order.
#pragma once

#include <cstring>

#include "platform/base/MacTypes.h"

inline UInt16 EndianU16_Swap(UInt16 v) { return __builtin_bswap16(v); }
inline UInt32 EndianU32_Swap(UInt32 v) { return __builtin_bswap32(v); }
inline UInt64 EndianU64_Swap(UInt64 v) { return __builtin_bswap64(v); }

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline UInt16 EndianU16_BtoN(UInt16 v) { return EndianU16_Swap(v); }
inline UInt32 EndianU32_BtoN(UInt32 v) { return EndianU32_Swap(v); }
inline UInt64 EndianU64_BtoN(UInt64 v) { return EndianU64_Swap(v); }
#else
inline UInt16 EndianU16_BtoN(UInt16 v) { return v; }
inline UInt32 EndianU32_BtoN(UInt32 v) { return v; }
inline UInt64 EndianU64_BtoN(UInt64 v) { return v; }
#endif
inline UInt16 EndianU16_NtoB(UInt16 v) { return EndianU16_BtoN(v); }
inline UInt32 EndianU32_NtoB(UInt32 v) { return EndianU32_BtoN(v); }
inline UInt64 EndianU64_NtoB(UInt64 v) { return EndianU64_BtoN(v); }
inline SInt16 EndianS16_BtoN(SInt16 v) { return static_cast<SInt16>(EndianU16_BtoN(static_cast<UInt16>(v))); }
inline SInt32 EndianS32_BtoN(SInt32 v) { return static_cast<SInt32>(EndianU32_BtoN(static_cast<UInt32>(v))); }
inline SInt64 EndianS64_BtoN(SInt64 v) { return static_cast<SInt64>(EndianU64_BtoN(static_cast<UInt64>(v))); }
inline SInt16 EndianS16_NtoB(SInt16 v) { return EndianS16_BtoN(v); }
inline SInt32 EndianS32_NtoB(SInt32 v) { return EndianS32_BtoN(v); }
inline SInt64 EndianS64_NtoB(SInt64 v) { return EndianS64_BtoN(v); }

// Unaligned big-endian reads and writes of raw bytes.
inline UInt16 ReadBE16(const void* p) {
  UInt16 v;
  std::memcpy(&v, p, 2);
  return EndianU16_BtoN(v);
}
inline UInt32 ReadBE32(const void* p) {
  UInt32 v;
  std::memcpy(&v, p, 4);
  return EndianU32_BtoN(v);
}
inline UInt64 ReadBE64(const void* p) {
  UInt64 v;
  std::memcpy(&v, p, 8);
  return EndianU64_BtoN(v);
}
inline void WriteBE16(void* p, UInt16 v) {
  v = EndianU16_NtoB(v);
  std::memcpy(p, &v, 2);
}
inline void WriteBE32(void* p, UInt32 v) {
  v = EndianU32_NtoB(v);
  std::memcpy(p, &v, 4);
}
inline void WriteBE64(void* p, UInt64 v) {
  v = EndianU64_NtoB(v);
  std::memcpy(p, &v, 8);
}
inline float ReadBEFloat(const void* p) {
  UInt32 u = ReadBE32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
inline void WriteBEFloat(void* p, float f) {
  UInt32 u;
  std::memcpy(&u, &f, 4);
  WriteBE32(p, u);
}
inline double ReadBEDouble(const void* p) {
  UInt64 u = ReadBE64(p);
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}
inline void WriteBEDouble(void* p, double d) {
  UInt64 u;
  std::memcpy(&u, &d, 8);
  WriteBE64(p, u);
}
