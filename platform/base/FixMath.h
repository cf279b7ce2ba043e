// 16.16 Fixed and 2.30 Fract arithmetic. Conversions from floating point round
// to nearest and saturate at the ends of the range; NaN converts to 0.
#pragma once

#include "platform/base/MacTypes.h"

Fixed X2Fix(double x);
double Fix2X(Fixed f);
Fract X2Frac(double x);
double Frac2X(Fract f);
Fixed Long2Fix(SInt32 x);
// Rounds to the nearest whole number (halves away from zero).
SInt32 Fix2Long(Fixed f);
SInt16 FixRound(Fixed f);
Fixed FixMul(Fixed a, Fixed b);
// Saturates on overflow and on division by zero (sign of the dividend).
Fixed FixDiv(Fixed a, Fixed b);
Fixed FixRatio(SInt16 numer, SInt16 denom);
Fract Fix2Frac(Fixed f);
Fixed Frac2Fix(Fract f);
Fract FracMul(Fract a, Fract b);
Fract FracDiv(Fract a, Fract b);
// Rounds and saturates a double to a 32-bit or 16-bit integer.
SInt32 SaturateToSInt32(double x);
SInt16 SaturateToSInt16(double x);
