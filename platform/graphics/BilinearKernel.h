// The bilinear blend of a 2 x 2 block of 32-bit pixels that image drawing
// uses: each row's pair loaded as one 64-bit word (left pixel first in
// memory), weights 0..256 (256: all of the right or bottom pixel), each of
// the four bytes blended down the columns, then across, rounding to nearest.
// The SSE2 form is the one drawing uses where the target has SSE2; the scalar
// form is the same arithmetic on plain integers, the fallback elsewhere, and
// stays callable everywhere so that it is tested against the other.
#pragma once

#include <cstring>

#include "platform/base/MacTypes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Blends two channels per 32-bit word (bytes 0 and 2, or 1 and 3 shifted down).
inline UInt32 BilinearLerpPacked(UInt32 p, UInt32 q, UInt32 w) {
  UInt32 prb = p & 0x00FF00FFu, pag = (p >> 8) & 0x00FF00FFu;
  UInt32 qrb = q & 0x00FF00FFu, qag = (q >> 8) & 0x00FF00FFu;
  UInt32 rb = ((prb * (256 - w) + qrb * w + 0x00800080u) >> 8) & 0x00FF00FFu;
  UInt32 ag = ((pag * (256 - w) + qag * w + 0x00800080u) >> 8) & 0x00FF00FFu;
  return rb | (ag << 8);
}

inline UInt32 Bilinear2x2Scalar(UInt64 top2, UInt64 bottom2, UInt32 wu, UInt32 wv) {
  UInt32 p[4];
  std::memcpy(p, &top2, 8);
  std::memcpy(p + 2, &bottom2, 8);
  return BilinearLerpPacked(BilinearLerpPacked(p[0], p[2], wv), BilinearLerpPacked(p[1], p[3], wv), wu);
}

#if defined(__SSE2__)
inline UInt32 Bilinear2x2SSE2(UInt64 top2, UInt64 bottom2, UInt32 wu, UInt32 wv) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  const __m128i top = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(top2)), zero);
  const __m128i bot = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(bottom2)), zero);
  const __m128i wv16 = _mm_set1_epi16(static_cast<short>(wv)), iwv16 = _mm_set1_epi16(static_cast<short>(256 - wv));
  const __m128i col = _mm_srli_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(top, iwv16), _mm_mullo_epi16(bot, wv16)), half), 8);
  const __m128i right = _mm_unpackhi_epi64(col, col);
  const __m128i wu16 = _mm_set1_epi16(static_cast<short>(wu)), iwu16 = _mm_set1_epi16(static_cast<short>(256 - wu));
  const __m128i res = _mm_srli_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(col, iwu16), _mm_mullo_epi16(right, wu16)), half), 8);
  return static_cast<UInt32>(_mm_cvtsi128_si32(_mm_packus_epi16(res, res)));
}
#endif

// The form image drawing uses on this target.
inline UInt32 Bilinear2x2(UInt64 top2, UInt64 bottom2, UInt32 wu, UInt32 wv) {
#if defined(__SSE2__)
  return Bilinear2x2SSE2(top2, bottom2, wu, wv);
#else
  return Bilinear2x2Scalar(top2, bottom2, wu, wv);
#endif
}
