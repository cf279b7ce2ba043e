// Kernels of the further pixel operations: float conversion, quarter and half
// turns, flips, channel copies, RGB/HSV conversion, look-up-table copies and
// the band transfer from QuickDraw ports. Each kernel handles one band, polls
// for a stop request and stores its progress before every row, and answers a
// status; none throws. Row loops are plain loops over components so that the
// compiler vectorises what it can; the arithmetic is per pixel, so a result
// never depends on how the rows were cut into bands.
#include "media/CBufferOpsProcs.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "media/CBufferProcs.h"
#include "media/CBufferTask.h"
#include "platform/base/LException.h"
#include "platform/tasks/MPBands.h"
#include "toolkit/UProgress.h"

namespace {

constexpr SInt32 kNilPointer = err_NilPointer;

inline UInt32 Blend(UInt32 x, UInt32 m, UInt32 d) { return (x * m + (255u - m) * d) / 255u; }

bool ValidDepthMode(SInt16 depth, SInt16 mode) {
  return (depth == kBufferDepth8 || depth == kBufferDepth16) && (mode == kBufferModeGray || mode == kBufferModeARGB);
}

// A mask read with the given colour mode must really be 8-bit in that mode,
// or the kernel would read past its rows.
bool MaskIs(const CBuffer* mask, SInt16 mode) {
  return !mask || (mask->GetDepth() == kBufferDepth8 && mask->GetMode() == mode);
}

bool RectInside(const Rect& inner, const Rect& outer) {
  return inner.top >= outer.top && inner.left >= outer.left && inner.bottom <= outer.bottom &&
         inner.right <= outer.right && inner.bottom >= inner.top && inner.right >= inner.left;
}

// ARGB component index of a channel selector: 1 red, 2 green, 4 blue.
int ChannelComponent(SInt16 inChannel) {
  switch (inChannel) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    default: return -1;
  }
}

// Non-negative value rounded to nearest, halves away from zero (as roundf
// does for x >= 0), with conversions that vectorise.
inline UInt32 RoundUp(float x) {
  const SInt32 i = static_cast<SInt32>(x);
  return static_cast<UInt32>(i + ((x - static_cast<float>(i)) >= 0.5f ? 1 : 0));
}

// ---------------------------------------------------------------------------
// Float conversion

// A scaled float as a 32-bit integer: truncated toward zero; NaN gives 0 and
// values beyond the 32-bit range are held at its ends before truncating.
inline SInt32 TruncateToInt(float x) {
  x = x == x ? x : 0.0f;
  x = x < -2147483648.0f ? -2147483648.0f : x;
  x = x > 2147483520.0f ? 2147483520.0f : x;  // the largest float below 2^31
  return static_cast<SInt32>(x);
}

template <class T, int Step>
void ToFloatRow(const T* __restrict s, float* __restrict f, SInt32 w, float scale, float offset) {
  for (SInt32 c = 0; c < w; ++c) f[c] = static_cast<float>(s[Step * c]) * scale + offset;
}

template <class T, int Step>
void FromFloatRow(T* __restrict d, const float* __restrict f, SInt32 w, float scale, float offset) {
  for (SInt32 c = 0; c < w; ++c) d[Step * c] = static_cast<T>(TruncateToInt(scale * f[c] + offset));
}

// The checks both float kernels make; outRun false means return the status.
SInt32 PrepareFloatBand(CBufferToFloatTask* t, UInt8*& outPixels, SInt32& outWidth, SInt32& outRows,
                        SInt32& outComponent, bool& outRun) {
  outRun = false;
  const Rect& band = t->mBand;
  outWidth = band.right - band.left;
  outRows = band.bottom - band.top;
  if (outRows < 1) return noErr;
  const CBuffer* b = t->mBuffer;
  if (!b) return kNilPointer;
  if (!ValidDepthMode(b->GetDepth(), b->GetMode())) return paramErr;
  if (outWidth < 0 || !RectInside(band, b->GetBounds())) return paramErr;
  outPixels = reinterpret_cast<UInt8*>(b->GetDataPtr(&band));
  if (!outPixels || !t->mFloats) return kNilPointer;
  outComponent = 0;
  if (b->GetMode() == kBufferModeARGB) outComponent = std::max(ChannelComponent(t->mChannel), 0);
  outRun = true;
  return noErr;
}

// ---------------------------------------------------------------------------
// Geometric kernels

struct GeoBand {
  const UInt8* src = nullptr;  // top-left pixel of the whole source box
  UInt8* dst = nullptr;        // first pixel of the band's first destination row
  SInt32 srcRowBytes = 0;
  SInt32 dstRowBytes = 0;
  SInt32 W = 0, H = 0;  // source box width and height
  SInt32 dstWidth = 0;
  SInt32 firstRow = 0;
  SInt32 rows = 0;
  SInt32 bpp = 0;
};

// Rotations and flips read anywhere in the source box: the band's rows of the
// destination box and the whole source box. inQuarter: the boxes are
// transposed in size.
SInt32 PrepareGeometry(CBufferTask* t, bool inQuarter, bool inMaskAllowed, GeoBand& g, bool& outRun) {
  outRun = false;
  if (t->mRows <= 0) return noErr;
  const CBuffer* s = t->mSource;
  const CBuffer* d = t->mDest;
  if (!s || !d) return kNilPointer;
  if (t->mMask && !inMaskAllowed) return paramErr;
  if (s->GetDepth() != d->GetDepth() || s->GetMode() != d->GetMode() || !ValidDepthMode(s->GetDepth(), s->GetMode()))
    return paramErr;
  const Rect& sb = t->mSourceBox;
  const Rect& db = t->mDestBox;
  g.W = sb.right - sb.left;
  g.H = sb.bottom - sb.top;
  g.dstWidth = db.right - db.left;
  const SInt32 dstHeight = db.bottom - db.top;
  if (g.W < 0 || g.H < 0 || g.dstWidth < 0 || dstHeight < 0) return paramErr;
  const bool sizesFit = inQuarter ? (g.W == dstHeight && g.H == g.dstWidth) : (g.W == g.dstWidth && g.H == dstHeight);
  if (!sizesFit) return paramErr;
  if (t->mFirstRow < 0 || t->mFirstRow > dstHeight) return paramErr;
  g.firstRow = t->mFirstRow;
  g.rows = std::min(t->mRows, dstHeight - t->mFirstRow);
  if (g.rows <= 0) return noErr;
  if (!RectInside(sb, s->GetBounds()) || !RectInside(db, d->GetBounds())) return paramErr;
  Point dp{static_cast<SInt16>(db.top + g.firstRow), db.left};
  g.src = reinterpret_cast<const UInt8*>(s->GetDataPtr(&sb));
  g.dst = reinterpret_cast<UInt8*>(d->GetDataPtr(&dp));
  if (!g.src || !g.dst) return kNilPointer;
  g.srcRowBytes = s->GetRowBytes();
  g.dstRowBytes = d->GetRowBytes();
  g.bpp = s->GetBytesPerPixel();
  outRun = true;
  return noErr;
}

// Pixels of 1, 2, 4 or 8 bytes, moved whole.
template <size_t N>
struct Pixel {
  UInt8 b[N];
};

enum class Geo { kRotate90, kRotate180, kRotate270, kFlipVert, kFlipHorz };

template <Geo G, size_t N>
void GeoRow(const GeoBand& g, SInt32 r, UInt8* __restrict dstRow) {
  typedef Pixel<N> P;
  const ptrdiff_t srb = g.srcRowBytes;
  const SInt32 n = g.dstWidth;
  if constexpr (G == Geo::kRotate90) {
    // (r, c) takes source (H - 1 - c, r).
    const UInt8* col = g.src + static_cast<ptrdiff_t>(r) * static_cast<ptrdiff_t>(N);
    for (SInt32 c = 0; c < n; ++c)
      std::memcpy(dstRow + c * N, col + static_cast<ptrdiff_t>(g.H - 1 - c) * srb, sizeof(P));
  } else if constexpr (G == Geo::kRotate270) {
    // (r, c) takes source (c, W - 1 - r).
    const UInt8* col = g.src + static_cast<ptrdiff_t>(g.W - 1 - r) * static_cast<ptrdiff_t>(N);
    for (SInt32 c = 0; c < n; ++c) std::memcpy(dstRow + c * N, col + static_cast<ptrdiff_t>(c) * srb, sizeof(P));
  } else if constexpr (G == Geo::kRotate180 || G == Geo::kFlipHorz) {
    const SInt32 sr = G == Geo::kRotate180 ? g.H - 1 - r : r;
    const UInt8* row = g.src + static_cast<ptrdiff_t>(sr) * srb;
    for (SInt32 c = 0; c < n; ++c) std::memcpy(dstRow + c * N, row + (n - 1 - c) * N, sizeof(P));
  } else {
    std::memcpy(dstRow, g.src + static_cast<ptrdiff_t>(g.H - 1 - r) * srb, static_cast<size_t>(n) * N);
  }
}

template <Geo G>
SInt32 GeoKernel(void* inTask, bool inQuarter, bool inMaskAllowed) {
  auto* t = static_cast<CBufferTask*>(inTask);
  GeoBand g;
  bool run = false;
  const SInt32 status = PrepareGeometry(t, inQuarter, inMaskAllowed, g, run);
  if (!run) return status;
  UInt8* dstRow = g.dst;
  for (SInt32 i = 0; i < g.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / g.rows);
    const SInt32 r = g.firstRow + i;
    switch (g.bpp) {
      case 1: GeoRow<G, 1>(g, r, dstRow); break;
      case 2: GeoRow<G, 2>(g, r, dstRow); break;
      case 4: GeoRow<G, 4>(g, r, dstRow); break;
      default: GeoRow<G, 8>(g, r, dstRow); break;
    }
    dstRow += g.dstRowBytes;
  }
  return noErr;
}

// ---------------------------------------------------------------------------
// Channel copies

template <class T, bool Masked>
void GrayToChannelRow(const T* s, T* d, const UInt8* m, SInt32 w, int k) {
  for (SInt32 i = 0; i < w; ++i) {
    if constexpr (Masked)
      d[4 * i + k] = static_cast<T>(Blend(s[i], m[4 * i + k], d[4 * i + k]));
    else
      d[4 * i + k] = s[i];
  }
}

template <class T, bool Masked>
void ChannelToGrayRow(const T* s, T* d, const UInt8* m, SInt32 w, int k) {
  for (SInt32 i = 0; i < w; ++i) {
    if constexpr (Masked)
      d[i] = static_cast<T>(Blend(s[4 * i + k], m[i], d[i]));
    else
      d[i] = s[4 * i + k];
  }
}

// inToRGB: gray source into ARGB destination; else the other way.
SInt32 ChannelKernel(void* inTask, bool inToRGB) {
  auto* t = static_cast<CBufferTask*>(inTask);
  BandPointers b;
  bool run = false;
  const SInt32 status = PrepareBand(t, b, run);
  if (!run) return status;
  const int k = t->mUserParam ? ChannelComponent(*static_cast<const SInt16*>(t->mUserParam)) : -1;
  if (k < 0) return paramErr;
  const CBuffer* s = t->mSource;
  const CBuffer* d = t->mDest;
  const SInt16 srcMode = inToRGB ? kBufferModeGray : kBufferModeARGB;
  const SInt16 dstMode = inToRGB ? kBufferModeARGB : kBufferModeGray;
  const SInt16 depth = s->GetDepth();
  if (d->GetDepth() != depth || (depth != kBufferDepth8 && depth != kBufferDepth16) || s->GetMode() != srcMode ||
      d->GetMode() != dstMode || !MaskIs(t->mMask, dstMode))
    return paramErr;
  const bool masked = b.mask != nullptr;
  for (SInt32 i = 0; i < b.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / b.rows);
    if (depth == kBufferDepth8) {
      const UInt8* sp = b.src;
      UInt8* dp = b.dst;
      if (inToRGB)
        masked ? GrayToChannelRow<UInt8, true>(sp, dp, b.mask, b.width, k)
               : GrayToChannelRow<UInt8, false>(sp, dp, b.mask, b.width, k);
      else
        masked ? ChannelToGrayRow<UInt8, true>(sp, dp, b.mask, b.width, k)
               : ChannelToGrayRow<UInt8, false>(sp, dp, b.mask, b.width, k);
    } else {
      const UInt16* sp = reinterpret_cast<const UInt16*>(b.src);
      UInt16* dp = reinterpret_cast<UInt16*>(b.dst);
      if (inToRGB)
        masked ? GrayToChannelRow<UInt16, true>(sp, dp, b.mask, b.width, k)
               : GrayToChannelRow<UInt16, false>(sp, dp, b.mask, b.width, k);
      else
        masked ? ChannelToGrayRow<UInt16, true>(sp, dp, b.mask, b.width, k)
               : ChannelToGrayRow<UInt16, false>(sp, dp, b.mask, b.width, k);
    }
    b.src += b.srcRowBytes;
    b.dst += b.dstRowBytes;
    if (masked) b.mask += b.maskRowBytes;
  }
  return noErr;
}

// ---------------------------------------------------------------------------
// RGB and HSV. Source and destination may be the same buffer: every pixel is
// read whole before it is written.

template <class T>
void RGBToHSVRow(const T* s, T* d, SInt32 w, UInt32 F) {
  const float fF = static_cast<float>(F);
  const float hueScale = fF / 6.0f;
  for (SInt32 i = 0; i < w; ++i) {
    const UInt32 ri = s[4 * i + 1], gi = s[4 * i + 2], bi = s[4 * i + 3];
    const float r = static_cast<float>(ri), g = static_cast<float>(gi), b = static_cast<float>(bi);
    const float M = std::max(r, std::max(g, b));
    const float m = std::min(r, std::min(g, b));
    const float delta = M - m;
    UInt32 hue = 0, sat = 0;
    if (M != 0.0f) {
      const float sv = delta / M;
      float h = 0.0f;
      if (delta != 0.0f) {
        float sector;
        if (r == M)
          sector = (g - b) / delta;
        else if (g == M)
          sector = 2.0f + (b - r) / delta;
        else
          sector = 4.0f + (r - g) / delta;
        h = sector * hueScale;
        if (h < 0.0f) h += fF;
      }
      hue = RoundUp(h) & (F - 1);
      sat = std::min(RoundUp(sv * fF), F - 1);
    }
    d[4 * i + 1] = static_cast<T>(hue);
    d[4 * i + 2] = static_cast<T>(sat);
    d[4 * i + 3] = static_cast<T>(std::max(ri, std::max(gi, bi)));
  }
}

template <class T>
void HSVToRGBRow(const T* s, T* d, SInt32 w, UInt32 F) {
  const float hueFactor = 6.0f / static_cast<float>(F);
  const float satFactor = 1.0f / static_cast<float>(F);
  for (SInt32 i = 0; i < w; ++i) {
    const UInt32 H = s[4 * i + 1], S = s[4 * i + 2], V = s[4 * i + 3];
    UInt32 red = V, green = V, blue = V;
    if (S != 0) {
      const float h = static_cast<float>(H) * hueFactor;
      const float sv = static_cast<float>(S) * satFactor;
      const float v = static_cast<float>(V);
      const SInt32 sector = std::min<SInt32>(static_cast<SInt32>(h), 5);
      const float f = h - static_cast<float>(sector);
      const UInt32 p = RoundUp(v * (1.0f - sv));
      const UInt32 q = RoundUp(v * (1.0f - sv * f));
      const UInt32 tv = RoundUp(v * (1.0f + sv * (f - 1.0f)));
      switch (sector) {
        case 0: red = V, green = tv, blue = p; break;
        case 1: red = q, green = V, blue = p; break;
        case 2: red = p, green = V, blue = tv; break;
        case 3: red = p, green = q, blue = V; break;
        case 4: red = tv, green = p, blue = V; break;
        default: red = V, green = p, blue = q; break;
      }
    }
    d[4 * i + 1] = static_cast<T>(red);
    d[4 * i + 2] = static_cast<T>(green);
    d[4 * i + 3] = static_cast<T>(blue);
  }
}

SInt32 HSVKernel(void* inTask, bool inToHSV) {
  auto* t = static_cast<CBufferTask*>(inTask);
  BandPointers b;
  bool run = false;
  const SInt32 status = PrepareBand(t, b, run);
  if (!run) return status;
  const CBuffer* s = t->mSource;
  const CBuffer* d = t->mDest;
  const SInt16 depth = s->GetDepth();
  if (d->GetDepth() != depth || t->mMask || s->GetMode() != kBufferModeARGB || d->GetMode() != kBufferModeARGB ||
      (depth != kBufferDepth8 && depth != kBufferDepth16 && depth != kBufferDepth32))
    return paramErr;
  for (SInt32 i = 0; i < b.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / b.rows);
    // 32-bit components are walked without change.
    if (depth == kBufferDepth8) {
      if (inToHSV)
        RGBToHSVRow<UInt8>(b.src, b.dst, b.width, 256);
      else
        HSVToRGBRow<UInt8>(b.src, b.dst, b.width, 256);
    } else if (depth == kBufferDepth16) {
      const UInt16* sp = reinterpret_cast<const UInt16*>(b.src);
      UInt16* dp = reinterpret_cast<UInt16*>(b.dst);
      if (inToHSV)
        RGBToHSVRow<UInt16>(sp, dp, b.width, 65536);
      else
        HSVToRGBRow<UInt16>(sp, dp, b.width, 65536);
    }
    b.src += b.srcRowBytes;
    b.dst += b.dstRowBytes;
  }
  return noErr;
}

// ---------------------------------------------------------------------------
// Look-up table copy. The translation table T is indexed by the source
// component and holds destination components.

template <class S, class D, bool ARGB, bool Masked>
void LutRow(const S* s, D* d, const UInt8* m, const D* lut, SInt32 w) {
  if constexpr (!ARGB) {
    for (SInt32 i = 0; i < w; ++i) {
      if constexpr (Masked)
        d[i] = static_cast<D>(Blend(lut[s[i]], m[i], d[i]));
      else
        d[i] = lut[s[i]];
    }
  } else {
    for (SInt32 i = 0; i < w; ++i)
      for (int k = 1; k <= 3; ++k) {
        if constexpr (Masked)
          d[4 * i + k] = static_cast<D>(Blend(lut[s[4 * i + k]], m[4 * i + k], d[4 * i + k]));
        else
          d[4 * i + k] = lut[s[4 * i + k]];
      }
  }
}

template <class S, class D>
void LutRowAny(const UInt8* s, UInt8* d, const UInt8* m, const void* lut, SInt32 w, bool argb) {
  const S* sp = reinterpret_cast<const S*>(s);
  D* dp = reinterpret_cast<D*>(d);
  const D* table = static_cast<const D*>(lut);
  if (argb)
    m ? LutRow<S, D, true, true>(sp, dp, m, table, w) : LutRow<S, D, true, false>(sp, dp, m, table, w);
  else
    m ? LutRow<S, D, false, true>(sp, dp, m, table, w) : LutRow<S, D, false, false>(sp, dp, m, table, w);
}

// ---------------------------------------------------------------------------
// Transfer from QuickDraw ports

enum PortKind { kPortGray8, kPortRGB24, kPortARGB32, kPortGray16, kPortRGB48, kPortARGB64, kPortNone };
enum BufKind { kBufGray8, kBufARGB8, kBufGray16, kBufARGB16 };

PortKind PortKindOf(UInt32 inFormat) {
  switch (inFormat) {
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: return kPortGray8;
    case k24RGBPixelFormat: return kPortRGB24;
    case k32ARGBPixelFormat: return kPortARGB32;
    case k16GrayPixelFormat: return kPortGray16;
    case k48RGBPixelFormat: return kPortRGB48;
    case k64ARGBPixelFormat: return kPortARGB64;
    default: return kPortNone;
  }
}

inline UInt32 BE16(const UInt8* p) { return (static_cast<UInt32>(p[0]) << 8) | p[1]; }
inline void Put16(UInt8* d, SInt32 k, UInt32 v) {
  const UInt16 x = static_cast<UInt16>(v);
  std::memcpy(d + 2 * k, &x, 2);
}

// One port pixel i into buffer pixel i, by the conversion table.
template <PortKind P, BufKind B>
inline void FromPortPixel(const UInt8* s, UInt8* d, SInt32 i) {
  constexpr bool kGray = P == kPortGray8 || P == kPortGray16;
  constexpr bool kWide = P == kPortGray16 || P == kPortRGB48 || P == kPortARGB64;
  constexpr SInt32 kBytes = P == kPortGray8 ? 1 : P == kPortRGB24 ? 3 : P == kPortARGB32 ? 4 : P == kPortGray16 ? 2
                          : P == kPortRGB48 ? 6 : 8;
  constexpr SInt32 kFirst = (P == kPortARGB32 || P == kPortARGB64) ? 1 : 0;  // index of red
  const UInt8* px = s + i * kBytes;
  auto comp = [px](SInt32 k) -> UInt32 { return kWide ? BE16(px + 2 * k) : px[k]; };
  if constexpr (kGray) {
    const UInt32 v = comp(0);
    if constexpr (B == kBufGray8) {
      d[i] = static_cast<UInt8>(kWide ? v >> 8 : v);
    } else if constexpr (B == kBufARGB8) {
      const UInt8 x = static_cast<UInt8>(kWide ? v >> 8 : v);
      d[4 * i + 1] = x, d[4 * i + 2] = x, d[4 * i + 3] = x;
    } else if constexpr (B == kBufGray16) {
      Put16(d, i, kWide ? v : v * 257u);
    } else {
      const UInt32 x = kWide ? v : v * 257u;
      Put16(d, 4 * i + 1, x), Put16(d, 4 * i + 2, x), Put16(d, 4 * i + 3, x);
    }
  } else {
    const UInt32 r = comp(kFirst), g = comp(kFirst + 1), b = comp(kFirst + 2);
    const UInt32 sum = r + g + b;
    if constexpr (B == kBufGray8) {
      d[i] = static_cast<UInt8>(kWide ? std::min(255u, (sum * 5462u) >> 22) : (sum * 21846u) >> 16);
    } else if constexpr (B == kBufARGB8) {
      if constexpr (P == kPortARGB32) d[4 * i] = px[0];
      d[4 * i + 1] = static_cast<UInt8>(kWide ? r >> 8 : r);
      d[4 * i + 2] = static_cast<UInt8>(kWide ? g >> 8 : g);
      d[4 * i + 3] = static_cast<UInt8>(kWide ? b >> 8 : b);
    } else if constexpr (B == kBufGray16) {
      Put16(d, i, kWide ? std::min(65535u, (sum * 5462u) >> 14) : (sum * 5462u) >> 6);
    } else {
      if constexpr (P == kPortARGB64) Put16(d, 4 * i, comp(0));
      Put16(d, 4 * i + 1, kWide ? r : r * 257u);
      Put16(d, 4 * i + 2, kWide ? g : g * 257u);
      Put16(d, 4 * i + 3, kWide ? b : b * 257u);
    }
  }
}

typedef void (*FromPortRowFn)(const UInt8* s, UInt8* d, const UInt8* m, SInt32 w);

template <PortKind P, BufKind B, bool Masked>
void FromPortRow(const UInt8* __restrict s, UInt8* __restrict d, const UInt8* __restrict m, SInt32 w) {
  for (SInt32 i = 0; i < w; ++i) {
    if constexpr (Masked)
      if (m[i] == 0) continue;
    FromPortPixel<P, B>(s, d, i);
  }
}

template <PortKind P, BufKind B>
FromPortRowFn FromPortFn(bool masked) {
  return masked ? FromPortRow<P, B, true> : FromPortRow<P, B, false>;
}

template <PortKind P>
FromPortRowFn FromPortFnFor(BufKind b, bool masked) {
  switch (b) {
    case kBufGray8: return FromPortFn<P, kBufGray8>(masked);
    case kBufARGB8: return FromPortFn<P, kBufARGB8>(masked);
    case kBufGray16: return FromPortFn<P, kBufGray16>(masked);
    default: return FromPortFn<P, kBufARGB16>(masked);
  }
}

FromPortRowFn FromPortRowFor(PortKind p, BufKind b, bool masked) {
  switch (p) {
    case kPortGray8: return FromPortFnFor<kPortGray8>(b, masked);
    case kPortRGB24: return FromPortFnFor<kPortRGB24>(b, masked);
    case kPortARGB32: return FromPortFnFor<kPortARGB32>(b, masked);
    case kPortGray16: return FromPortFnFor<kPortGray16>(b, masked);
    case kPortRGB48: return FromPortFnFor<kPortRGB48>(b, masked);
    case kPortARGB64: return FromPortFnFor<kPortARGB64>(b, masked);
    default: return nullptr;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

SInt32 PortFormatBytes(UInt32 inFormat) {
  switch (PortKindOf(inFormat)) {
    case kPortGray8: return 1;
    case kPortRGB24: return 3;
    case kPortARGB32: return 4;
    case kPortGray16: return 2;
    case kPortRGB48: return 6;
    case kPortARGB64: return 8;
    default: return 0;
  }
}

namespace {

inline void PutBE16(UInt8* d, UInt32 v) {
  d[0] = static_cast<UInt8>(v >> 8);
  d[1] = static_cast<UInt8>(v);
}
inline UInt32 Get16(const UInt8* s, SInt32 k) {
  UInt16 x;
  std::memcpy(&x, s + 2 * k, 2);
  return x;
}

bool ToPortSupported(BufKind b, PortKind p) {
  switch (b) {
    case kBufGray8: return p == kPortGray8;
    case kBufARGB8: return p == kPortRGB24 || p == kPortARGB32;
    case kBufGray16: return p == kPortGray8 || p == kPortGray16;
    default: return p == kPortRGB24 || p == kPortARGB32 || p == kPortRGB48 || p == kPortARGB64;
  }
}

// One row of w buffer pixels into the port; false for a pair without conversion.
bool ToPortRow(BufKind b, PortKind p, const UInt8* __restrict s, UInt8* __restrict d, SInt32 w) {
  switch (b) {
    case kBufGray8:
      if (p != kPortGray8) return false;
      std::memcpy(d, s, static_cast<size_t>(w));
      return true;
    case kBufARGB8:
      if (p == kPortRGB24) {
        for (SInt32 i = 0; i < w; ++i) {
          d[3 * i] = s[4 * i + 1];
          d[3 * i + 1] = s[4 * i + 2];
          d[3 * i + 2] = s[4 * i + 3];
        }
        return true;
      }
      if (p != kPortARGB32) return false;
      std::memcpy(d, s, static_cast<size_t>(w) * 4);
      return true;
    case kBufGray16:
      if (p == kPortGray8) {
        for (SInt32 i = 0; i < w; ++i) d[i] = static_cast<UInt8>(Get16(s, i) >> 8);
        return true;
      }
      if (p != kPortGray16) return false;
      for (SInt32 i = 0; i < w; ++i) PutBE16(d + 2 * i, Get16(s, i));
      return true;
    default:
      switch (p) {
        case kPortRGB24:
          for (SInt32 i = 0; i < w; ++i)
            for (SInt32 k = 1; k <= 3; ++k) d[3 * i + k - 1] = static_cast<UInt8>(Get16(s, 4 * i + k) >> 8);
          return true;
        case kPortARGB32:  // the port's alpha byte is not written
          for (SInt32 i = 0; i < w; ++i)
            for (SInt32 k = 1; k <= 3; ++k) d[4 * i + k] = static_cast<UInt8>(Get16(s, 4 * i + k) >> 8);
          return true;
        case kPortRGB48:
          for (SInt32 i = 0; i < w; ++i)
            for (SInt32 k = 1; k <= 3; ++k) PutBE16(d + 6 * i + 2 * (k - 1), Get16(s, 4 * i + k));
          return true;
        case kPortARGB64:
          for (SInt32 i = 0; i < 4 * w; ++i) PutBE16(d + 2 * i, Get16(s, i));
          return true;
        default: return false;
      }
  }
}

}  // namespace

SInt32 CopyBufferRowsToPort(const CBuffer& inBuffer, const UInt8* inSource, UInt32 inFormat, UInt8* inDest,
                            SInt32 inPortRowBytes, SInt32 inWidth, SInt32 inHeight) {
  const SInt16 depth = inBuffer.GetDepth(), mode = inBuffer.GetMode();
  if (!ValidDepthMode(depth, mode)) return paramErr;
  const BufKind buf = depth == kBufferDepth8 ? (mode == kBufferModeGray ? kBufGray8 : kBufARGB8)
                                             : (mode == kBufferModeGray ? kBufGray16 : kBufARGB16);
  const PortKind port = PortKindOf(inFormat);
  // The pair is checked once, before any row is written.
  if (!ToPortSupported(buf, port)) return paramErr;
  const SInt32 bufferRowBytes = inBuffer.GetRowBytes();
  return RunRowBands(inHeight, [&](SInt32 inFirst, SInt32 inRows) -> SInt32 {
    for (SInt32 y = inFirst; y < inFirst + inRows; ++y) {
      if (CTaskObject::ShouldStop()) return userCanceledErr;
      ToPortRow(buf, port, inSource + static_cast<ptrdiff_t>(y) * bufferRowBytes,
                inDest + static_cast<ptrdiff_t>(y) * inPortRowBytes, inWidth);
    }
    return noErr;
  });
}

void RunBandItems(CTaskGroup& ioGroup, UProgress& ioProgress) {
  const OSErr startErr = ioGroup.RunTasks(0, 0);
  // A band that did not start would be left unwritten.
  bool allStarted = true;
  for (SInt32 i = 1; i <= ioGroup.GetCount(); ++i)
    if (!ioGroup.GetTaskObject(i)->IsRunning()) allStarted = false;
  if (startErr != noErr || !allStarted) {
    ioGroup.StopTasks(true);
    Throw_(startErr != noErr ? startErr : static_cast<OSErr>(kMPInsufficientResourcesErr));
  }
  for (;;) {
    const bool complete = ioGroup.IsComplete(-100);
    if (!ioProgress.Progress(ioGroup.CalcCompletion())) {
      ioGroup.StopTasks(true);
      Throw_(userCanceledErr);
    }
    if (complete) break;
  }
  const SInt32 taskErr = ioGroup.GetTaskError();
  if (taskErr != noErr) Throw_(taskErr);
}

SInt32 RunRowBands(SInt32 inHeight, const RowBandProc& inProc) {
  if (inHeight <= 0) return noErr;
  MPBandOptions options;
  options.minRunItems = 8;
  return MPRunBands(static_cast<size_t>(inHeight), options, [&](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
    try {
      return static_cast<OSStatus>(inProc(static_cast<SInt32>(inBegin), static_cast<SInt32>(inEnd - inBegin)));
    } catch (...) {
      return static_cast<OSStatus>(ExceptionCodeOfCurrent());
    }
  });
}

CBufferToFloatTask::~CBufferToFloatTask() {
  if (IsRunning()) StopTask(true);
}

SInt32 CBufferToFloatTask::Run() { return mProc ? mProc(this) : static_cast<SInt32>(paramErr); }

CCopyBufferFromGWorldTask::~CCopyBufferFromGWorldTask() {
  if (IsRunning()) StopTask(true);
}

SInt32 CCopyBufferFromGWorldTask::Run() {
  const SInt32 width = mDestBox.right - mDestBox.left;
  const SInt32 height = mDestBox.bottom - mDestBox.top;
  if (mSourceBox.right - mSourceBox.left != width || mSourceBox.bottom - mSourceBox.top != height || width < 0 ||
      height < 0)
    return paramErr;
  if (mRows <= 0) return noErr;
  if (mFirstRow < 0 || mFirstRow + mRows > height) return paramErr;
  if (!mDest || !mPortAddress) return kNilPointer;
  const PortKind port = PortKindOf(mFormat);
  const SInt16 depth = mDest->GetDepth(), mode = mDest->GetMode();
  if (port == kPortNone || !ValidDepthMode(depth, mode) || !MaskIs(mMask, kBufferModeGray)) return paramErr;
  Rect band = mDestBox;
  band.top = static_cast<SInt16>(mDestBox.top + mFirstRow);
  band.bottom = static_cast<SInt16>(band.top + mRows);
  if (!RectInside(band, mDest->GetBounds()) || (mMask && !RectInside(band, mMask->GetBounds()))) return paramErr;
  const UInt8* src = mPortAddress + static_cast<ptrdiff_t>(mPortRowBytes) * mFirstRow;
  UInt8* dst = reinterpret_cast<UInt8*>(mDest->GetDataPtr(&band));
  const UInt8* mask = mMask ? reinterpret_cast<const UInt8*>(mMask->GetDataPtr(&band)) : nullptr;
  if (!dst || (mMask && !mask)) return kNilPointer;
  const BufKind buf = depth == kBufferDepth8 ? (mode == kBufferModeGray ? kBufGray8 : kBufARGB8)
                                             : (mode == kBufferModeGray ? kBufGray16 : kBufARGB16);
  const FromPortRowFn fn = FromPortRowFor(port, buf, mask != nullptr);
  const SInt32 dstRowBytes = mDest->GetRowBytes();
  const SInt32 maskRowBytes = mMask ? mMask->GetRowBytes() : 0;
  for (SInt32 i = 0; i < mRows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    SetProgress(i * 256 / mRows);
    fn(src, dst, mask, width);
    src += mPortRowBytes;
    dst += dstRowBytes;
    if (mask) mask += maskRowBytes;
  }
  return noErr;
}

// ---------------------------------------------------------------------------
// Kernels

SInt32 CBufferProcs::CopyToFloat_proc(void* inTask) {
  auto* t = static_cast<CBufferToFloatTask*>(inTask);
  UInt8* px = nullptr;
  SInt32 w = 0, h = 0, k = 0;
  bool run = false;
  const SInt32 status = PrepareFloatBand(t, px, w, h, k, run);
  if (!run) return status;
  const CBuffer* b = t->mBuffer;
  const bool argb = b->GetMode() == kBufferModeARGB;
  const bool wide = b->GetDepth() == kBufferDepth16;
  const SInt32 rowBytes = b->GetRowBytes();
  float* f = t->mFloats;
  for (SInt32 r = 0; r < h; ++r) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(r * 256 / h);
    if (wide) {
      const UInt16* s = reinterpret_cast<const UInt16*>(px) + k;
      argb ? ToFloatRow<UInt16, 4>(s, f, w, t->mScale, t->mOffset) : ToFloatRow<UInt16, 1>(s, f, w, t->mScale, t->mOffset);
    } else {
      const UInt8* s = px + k;
      argb ? ToFloatRow<UInt8, 4>(s, f, w, t->mScale, t->mOffset) : ToFloatRow<UInt8, 1>(s, f, w, t->mScale, t->mOffset);
    }
    px += rowBytes;
    f += w;
  }
  return noErr;
}

SInt32 CBufferProcs::CopyFromFloat_proc(void* inTask) {
  auto* t = static_cast<CBufferToFloatTask*>(inTask);
  UInt8* px = nullptr;
  SInt32 w = 0, h = 0, k = 0;
  bool run = false;
  const SInt32 status = PrepareFloatBand(t, px, w, h, k, run);
  if (!run) return status;
  const CBuffer* b = t->mBuffer;
  const bool argb = b->GetMode() == kBufferModeARGB;
  const bool wide = b->GetDepth() == kBufferDepth16;
  const SInt32 rowBytes = b->GetRowBytes();
  const float* f = t->mFloats;
  for (SInt32 r = 0; r < h; ++r) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(r * 256 / h);
    if (wide) {
      UInt16* d = reinterpret_cast<UInt16*>(px) + k;
      argb ? FromFloatRow<UInt16, 4>(d, f, w, t->mScale, t->mOffset)
           : FromFloatRow<UInt16, 1>(d, f, w, t->mScale, t->mOffset);
    } else {
      UInt8* d = px + k;
      argb ? FromFloatRow<UInt8, 4>(d, f, w, t->mScale, t->mOffset) : FromFloatRow<UInt8, 1>(d, f, w, t->mScale, t->mOffset);
    }
    px += rowBytes;
    f += w;
  }
  return noErr;
}

SInt32 CBufferProcs::Rotate_90_proc(void* inTask) { return GeoKernel<Geo::kRotate90>(inTask, true, false); }
SInt32 CBufferProcs::Rotate_180_proc(void* inTask) { return GeoKernel<Geo::kRotate180>(inTask, false, false); }
SInt32 CBufferProcs::Rotate_270_proc(void* inTask) { return GeoKernel<Geo::kRotate270>(inTask, true, false); }
SInt32 CBufferProcs::FlipVert_proc(void* inTask) { return GeoKernel<Geo::kFlipVert>(inTask, false, true); }
SInt32 CBufferProcs::FlipHorz_proc(void* inTask) { return GeoKernel<Geo::kFlipHorz>(inTask, false, false); }

SInt32 CBufferProcs::RGB2HSV_proc(void* inTask) { return HSVKernel(inTask, true); }
SInt32 CBufferProcs::HSV2RGB_proc(void* inTask) { return HSVKernel(inTask, false); }

SInt32 CBufferProcs::Copy_Gray_to_RGB(void* inTask) { return ChannelKernel(inTask, true); }
SInt32 CBufferProcs::Copy_RGB_to_Gray(void* inTask) { return ChannelKernel(inTask, false); }

SInt32 CBufferProcs::CopyWithLUT_proc(void* inTask) {
  auto* t = static_cast<CBufferTask*>(inTask);
  BandPointers b;
  bool run = false;
  const SInt32 status = PrepareBand(t, b, run);
  if (!run) return status;
  const CBuffer* s = t->mSource;
  const CBuffer* d = t->mDest;
  const SInt16 mode = s->GetMode();
  if (d->GetMode() != mode || !ValidDepthMode(s->GetDepth(), mode) || !ValidDepthMode(d->GetDepth(), mode) ||
      !MaskIs(t->mMask, mode))
    return paramErr;
  if (!t->mUserParam) return kNilPointer;
  const bool argb = mode == kBufferModeARGB;
  const bool s16 = s->GetDepth() == kBufferDepth16, d16 = d->GetDepth() == kBufferDepth16;
  for (SInt32 i = 0; i < b.rows; ++i) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    t->SetProgress(i * 256 / b.rows);
    if (!s16 && !d16)
      LutRowAny<UInt8, UInt8>(b.src, b.dst, b.mask, t->mUserParam, b.width, argb);
    else if (!s16)
      LutRowAny<UInt8, UInt16>(b.src, b.dst, b.mask, t->mUserParam, b.width, argb);
    else if (!d16)
      LutRowAny<UInt16, UInt8>(b.src, b.dst, b.mask, t->mUserParam, b.width, argb);
    else
      LutRowAny<UInt16, UInt16>(b.src, b.dst, b.mask, t->mUserParam, b.width, argb);
    b.src += b.srcRowBytes;
    b.dst += b.dstRowBytes;
    if (b.mask) b.mask += b.maskRowBytes;
  }
  return noErr;
}
