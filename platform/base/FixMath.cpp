#include "platform/base/FixMath.h"

#include <cmath>
#include <cstdint>
#include <limits>

SInt32 SaturateToSInt32(double x) {
  if (std::isnan(x)) return 0;
  double r = std::round(x);
  if (r >= 2147483647.0) return std::numeric_limits<SInt32>::max();
  if (r <= -2147483648.0) return std::numeric_limits<SInt32>::min();
  return static_cast<SInt32>(r);
}

SInt16 SaturateToSInt16(double x) {
  if (std::isnan(x)) return 0;
  double r = std::round(x);
  if (r >= 32767.0) return 32767;
  if (r <= -32768.0) return -32768;
  return static_cast<SInt16>(r);
}

Fixed X2Fix(double x) { return SaturateToSInt32(x * 65536.0); }
double Fix2X(Fixed f) { return static_cast<double>(f) / 65536.0; }
Fract X2Frac(double x) { return SaturateToSInt32(x * 1073741824.0); }
double Frac2X(Fract f) { return static_cast<double>(f) / 1073741824.0; }

Fixed Long2Fix(SInt32 x) {
  if (x > 32767) return std::numeric_limits<Fixed>::max();
  if (x < -32768) return std::numeric_limits<Fixed>::min();
  return static_cast<Fixed>(static_cast<uint32_t>(x) << 16);
}

SInt32 Fix2Long(Fixed f) {
  SInt64 v = static_cast<SInt64>(f);
  return static_cast<SInt32>(v >= 0 ? (v + 0x8000) >> 16 : -((-v + 0x8000) >> 16));
}

SInt16 FixRound(Fixed f) { return static_cast<SInt16>(Fix2Long(f)); }

static Fixed SaturateFromSInt64(SInt64 v) {
  if (v > std::numeric_limits<Fixed>::max()) return std::numeric_limits<Fixed>::max();
  if (v < std::numeric_limits<Fixed>::min()) return std::numeric_limits<Fixed>::min();
  return static_cast<Fixed>(v);
}

Fixed FixMul(Fixed a, Fixed b) {
  SInt64 p = static_cast<SInt64>(a) * b;
  return SaturateFromSInt64((p + (p >= 0 ? 0x8000 : -0x8000)) / 65536);
}

Fixed FixDiv(Fixed a, Fixed b) {
  if (b == 0) return a >= 0 ? std::numeric_limits<Fixed>::max() : std::numeric_limits<Fixed>::min();
  return SaturateFromSInt64((static_cast<SInt64>(a) * 65536) / b);
}

Fixed FixRatio(SInt16 numer, SInt16 denom) { return FixDiv(Long2Fix(numer), Long2Fix(denom)); }
Fract Fix2Frac(Fixed f) { return SaturateFromSInt64(static_cast<SInt64>(f) * 16384); }
Fixed Frac2Fix(Fract f) {
  SInt64 v = f;
  return static_cast<Fixed>((v + (v >= 0 ? 8192 : -8192)) / 16384);
}
Fract FracMul(Fract a, Fract b) { return SaturateFromSInt64((static_cast<SInt64>(a) * b) >> 30); }
Fract FracDiv(Fract a, Fract b) {
  if (b == 0) return a >= 0 ? std::numeric_limits<Fract>::max() : std::numeric_limits<Fract>::min();
  return SaturateFromSInt64((static_cast<SInt64>(a) << 30) / b);
}
