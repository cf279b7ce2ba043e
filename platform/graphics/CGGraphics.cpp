#include "platform/graphics/CGGraphics.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/graphics/BilinearKernel.h"
#include "platform/tasks/MPBands.h"
#include "platform/tasks/Multiprocessing.h"

const CGAffineTransform CGAffineTransformIdentity = {1, 0, 0, 1, 0, 0};

CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty) {
  return CGAffineTransform{a, b, c, d, tx, ty};
}

CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
  return CGAffineTransform{t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
                           t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
                           t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformInvert(CGAffineTransform t) {
  CGFloat det = t.a * t.d - t.b * t.c;
  if (det == 0 || !std::isfinite(det)) return t;
  CGFloat inv = 1.0 / det;
  return CGAffineTransform{t.d * inv,
                           -t.b * inv,
                           -t.c * inv,
                           t.a * inv,
                           (t.c * t.ty - t.d * t.tx) * inv,
                           (t.b * t.tx - t.a * t.ty) * inv};
}

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
  return CGPoint{t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

bool CGAffineTransformIsIdentity(CGAffineTransform t) {
  return t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1 && t.tx == 0 && t.ty == 0;
}

// ---------------------------------------------------------------------------
// Reference-counted objects

struct CGObject {
  std::atomic<SInt32> refs{1};
  virtual ~CGObject() = default;
};

template <class T>
static T* RetainObj(T* o) {
  if (o) o->refs.fetch_add(1);
  return o;
}
template <class T>
static void ReleaseObj(T* o) {
  if (o && o->refs.fetch_sub(1) == 1) delete o;
}

struct CGColorSpace : CGObject {
  size_t components;
  explicit CGColorSpace(size_t n) : components(n) {}
};

struct CGDataProvider : CGObject {
  void* info;
  const void* data;
  size_t size;
  CGDataProviderReleaseDataCallback release;
  ~CGDataProvider() override {
    if (release) release(info, data, size);
  }
};

struct CGImage : CGObject {
  size_t width, height, bytesPerRow;
  bool gray;
  CGImageAlphaInfo alpha;
  bool interpolate;
  CGDataProvider* provider;
  const UInt8* data;
  ~CGImage() override { ReleaseObj(provider); }
};

namespace {
struct GState {
  CGAffineTransform ctm = CGAffineTransformIdentity;
  CGInterpolationQuality quality = kCGInterpolationDefault;
  bool antialias = true;
  float fill[4] = {0, 0, 0, 1};  // straight r, g, b, a in 0..1
  float alpha = 1.0f;
};
}  // namespace

struct CGContext : CGObject {
  UInt8* data;
  size_t width, height, bytesPerRow;
  bool gray;
  CGImageAlphaInfo alpha;
  GState state;
  std::vector<GState> stack;
};

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return new CGColorSpace(3); }
CGColorSpaceRef CGColorSpaceCreateDeviceGray() { return new CGColorSpace(1); }
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef s) { return RetainObj(s); }
void CGColorSpaceRelease(CGColorSpaceRef s) { ReleaseObj(s); }
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef s) { return s ? s->components : 0; }

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData) {
  if (!data && size) return nullptr;
  auto* p = new CGDataProvider;
  p->info = info;
  p->data = data;
  p->size = size;
  p->release = releaseData;
  return p;
}
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef p) { return RetainObj(p); }
void CGDataProviderRelease(CGDataProviderRef p) { ReleaseObj(p); }

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat*, bool shouldInterpolate,
                         CGColorRenderingIntent) {
  if (!space || !provider || width == 0 || height == 0 || bitsPerComponent != 8) return nullptr;
  auto alpha = static_cast<CGImageAlphaInfo>(bitmapInfo & 0x1F);
  bool gray = space->components == 1;
  if (gray) {
    if (bitsPerPixel != 8 || alpha != kCGImageAlphaNone) return nullptr;
  } else {
    if (bitsPerPixel != 32) return nullptr;
    if (alpha != kCGImageAlphaFirst && alpha != kCGImageAlphaPremultipliedFirst && alpha != kCGImageAlphaNoneSkipFirst)
      return nullptr;
  }
  size_t minRow = width * (bitsPerPixel / 8);
  if (bytesPerRow < minRow) return nullptr;
  // The provider must hold every row the image reads.
  if ((height - 1) * bytesPerRow + minRow > provider->size) return nullptr;
  auto* img = new CGImage;
  img->width = width;
  img->height = height;
  img->bytesPerRow = bytesPerRow;
  img->gray = gray;
  img->alpha = alpha;
  img->interpolate = shouldInterpolate;
  img->provider = RetainObj(provider);
  img->data = static_cast<const UInt8*>(provider->data);
  return img;
}
CGImageRef CGImageRetain(CGImageRef i) { return RetainObj(i); }
void CGImageRelease(CGImageRef i) { ReleaseObj(i); }
size_t CGImageGetWidth(CGImageRef i) { return i ? i->width : 0; }
size_t CGImageGetHeight(CGImageRef i) { return i ? i->height : 0; }
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef i) { return i ? i->alpha : kCGImageAlphaNone; }
bool CGImageGetShouldInterpolate(CGImageRef i) { return i && i->interpolate; }

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo) {
  if (!data || !space || width == 0 || height == 0 || bitsPerComponent != 8) return nullptr;
  auto alpha = static_cast<CGImageAlphaInfo>(bitmapInfo & 0x1F);
  bool gray = space->components == 1;
  if (gray) {
    if (alpha != kCGImageAlphaNone || bytesPerRow < width) return nullptr;
  } else {
    if (alpha != kCGImageAlphaNoneSkipFirst && alpha != kCGImageAlphaPremultipliedFirst) return nullptr;
    if (bytesPerRow < width * 4) return nullptr;
  }
  auto* c = new CGContext;
  c->data = static_cast<UInt8*>(data);
  c->width = width;
  c->height = height;
  c->bytesPerRow = bytesPerRow;
  c->gray = gray;
  c->alpha = alpha;
  return c;
}
CGContextRef CGContextRetain(CGContextRef c) { return RetainObj(c); }
void CGContextRelease(CGContextRef c) { ReleaseObj(c); }
void* CGBitmapContextGetData(CGContextRef c) { return c ? c->data : nullptr; }
size_t CGBitmapContextGetWidth(CGContextRef c) { return c ? c->width : 0; }
size_t CGBitmapContextGetHeight(CGContextRef c) { return c ? c->height : 0; }
size_t CGBitmapContextGetBytesPerRow(CGContextRef c) { return c ? c->bytesPerRow : 0; }

void CGContextSaveGState(CGContextRef c) {
  if (c) c->stack.push_back(c->state);
}
void CGContextRestoreGState(CGContextRef c) {
  if (c && !c->stack.empty()) {
    c->state = c->stack.back();
    c->stack.pop_back();
  }
}
void CGContextConcatCTM(CGContextRef c, CGAffineTransform t) {
  if (c) c->state.ctm = CGAffineTransformConcat(t, c->state.ctm);
}
void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) {
  CGContextConcatCTM(c, CGAffineTransformMake(1, 0, 0, 1, tx, ty));
}
void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) {
  CGContextConcatCTM(c, CGAffineTransformMake(sx, 0, 0, sy, 0, 0));
}
void CGContextRotateCTM(CGContextRef c, CGFloat r) {
  CGContextConcatCTM(c, CGAffineTransformMake(std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0));
}
CGAffineTransform CGContextGetCTM(CGContextRef c) { return c ? c->state.ctm : CGAffineTransformIdentity; }
void CGContextSetInterpolationQuality(CGContextRef c, CGInterpolationQuality q) {
  if (c) c->state.quality = q;
}
CGInterpolationQuality CGContextGetInterpolationQuality(CGContextRef c) {
  return c ? c->state.quality : kCGInterpolationDefault;
}
void CGContextSetShouldAntialias(CGContextRef c, bool on) {
  if (c) c->state.antialias = on;
}
void CGContextSetAlpha(CGContextRef c, CGFloat a) {
  if (c) c->state.alpha = static_cast<float>(std::clamp(a, 0.0, 1.0));
}
void CGContextSetRGBFillColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  if (!c) return;
  c->state.fill[0] = static_cast<float>(std::clamp(r, 0.0, 1.0));
  c->state.fill[1] = static_cast<float>(std::clamp(g, 0.0, 1.0));
  c->state.fill[2] = static_cast<float>(std::clamp(b, 0.0, 1.0));
  c->state.fill[3] = static_cast<float>(std::clamp(a, 0.0, 1.0));
}
void CGContextSetGrayFillColor(CGContextRef c, CGFloat gray, CGFloat a) { CGContextSetRGBFillColor(c, gray, gray, gray, a); }
void CGContextFlush(CGContextRef) {}
void CGContextSynchronize(CGContextRef) {}

// ---------------------------------------------------------------------------
// Band-parallel drawing

namespace {

std::atomic<SInt32> sBandCountOverride{0};

// Runs fn(rowBegin, rowEnd) over [0, rows) on the task pool, in small runs
// taken by the pool and the calling thread alike.
template <class Fn>
void ForEachBand(size_t rows, size_t minRowsPerRun, const Fn& fn) {
  MPBandOptions options;
  options.workers = sBandCountOverride.load();
  options.minRunItems = minRowsPerRun;
  (void)MPRunBands(rows, options, [&fn](SInt32, size_t b, size_t e) {
    fn(b, e);
    return noErr;
  });
}

// Premultiplied colour in 0..255 floats.
struct PixelF {
  float r, g, b, a;
};

// Reads one image pixel as premultiplied floats. Premultiplied data whose
// colour exceeds its alpha is clamped, so a transparent pixel adds nothing.
inline PixelF FetchImage(const CGImage& img, size_t x, size_t y) {
  const UInt8* row = img.data + y * img.bytesPerRow;
  if (img.gray) {
    float g = row[x];
    return PixelF{g, g, g, 255.f};
  }
  const UInt8* p = row + 4 * x;
  float a = p[0], r = p[1], g = p[2], b = p[3];
  switch (img.alpha) {
    case kCGImageAlphaNoneSkipFirst:
      return PixelF{r, g, b, 255.f};
    case kCGImageAlphaPremultipliedFirst:
      return PixelF{std::min(r, a), std::min(g, a), std::min(b, a), a};
    default: {
      float k = a / 255.f;
      return PixelF{r * k, g * k, b * k, a};
    }
  }
}

inline PixelF Lerp(const PixelF& p, const PixelF& q, float t) {
  return PixelF{p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

inline UInt8 ToByte(float v) {
  v = v + 0.5f;
  return static_cast<UInt8>(v <= 0.f ? 0.f : (v >= 255.f ? 255.f : v));
}

// Source-over of a premultiplied pixel with coverage into the destination.
inline void Composite(const CGContext& ctx, UInt8* dst, PixelF s, float coverage) {
  float sa = s.a * coverage;
  float keep = 1.f - sa / 255.f;
  if (ctx.gray) {
    float lum = (s.r == s.g && s.g == s.b) ? s.r : 0.299f * s.r + 0.587f * s.g + 0.114f * s.b;
    dst[0] = ToByte(lum * coverage + dst[0] * keep);
    return;
  }
  dst[0] = ToByte(sa + dst[0] * keep);
  dst[1] = ToByte(s.r * coverage + dst[1] * keep);
  dst[2] = ToByte(s.g * coverage + dst[2] * keep);
  dst[3] = ToByte(s.b * coverage + dst[3] * keep);
}

// The inverse mapping from destination pixel centres (device space, rows from
// the top) to the unit square of the drawn rectangle scaled to (sw, sh), rows
// from the top of the source.
struct Mapping {
  double u0, v0;    // source coordinates at device (0, 0)
  double dudx, dvdx;  // per device column
  double dudy, dvdy;  // per device row
  double gradU, gradV;  // device-space length of one source unit's gradient
};

bool MakeMapping(const CGContext& ctx, CGRect rect, double sw, double sh, Mapping& m) {
  if (rect.size.width == 0 || rect.size.height == 0) return false;
  // source (s, t) with t from the top -> user space
  CGAffineTransform srcToUser = CGAffineTransformMake(rect.size.width / sw, 0, 0, -rect.size.height / sh, rect.origin.x,
                                                      rect.origin.y + rect.size.height);
  // user -> device with rows from the top
  CGAffineTransform flip = CGAffineTransformMake(1, 0, 0, -1, 0, static_cast<double>(ctx.height));
  CGAffineTransform srcToDev = CGAffineTransformConcat(CGAffineTransformConcat(srcToUser, ctx.state.ctm), flip);
  double det = srcToDev.a * srcToDev.d - srcToDev.b * srcToDev.c;
  if (det == 0 || !std::isfinite(det)) return false;
  CGAffineTransform inv = CGAffineTransformInvert(srcToDev);
  m.dudx = inv.a;
  m.dvdx = inv.b;
  m.dudy = inv.c;
  m.dvdy = inv.d;
  m.u0 = inv.tx;
  m.v0 = inv.ty;
  m.gradU = std::hypot(inv.a, inv.c);
  m.gradV = std::hypot(inv.b, inv.d);
  return std::isfinite(m.u0) && std::isfinite(m.v0);
}

// True when every source position of the device's pixels lies within reach
// of the 16.16 fixed-point stepping of DrawImageRows: an affine mapping takes
// its extremes at the device corners. A mapping beyond that shrinks the
// image below a pixel or moves it far outside the device: nothing to draw.
bool MappingFitsFixedPoint(const Mapping& m, size_t width, size_t height) {
  constexpr double kMaxSource = 1073741824.0;  // 2^30 source pixels: 2^46 in 16.16
  if (!std::isfinite(m.gradU) || !std::isfinite(m.gradV)) return false;
  const double w = static_cast<double>(width), h = static_cast<double>(height);
  const double xs[4] = {0, w, 0, w}, ys[4] = {0, 0, h, h};
  for (int i = 0; i < 4; ++i) {
    const double u = m.u0 + xs[i] * m.dudx + ys[i] * m.dudy, v = m.v0 + xs[i] * m.dvdx + ys[i] * m.dvdy;
    if (!(std::fabs(u) <= kMaxSource && std::fabs(v) <= kMaxSource)) return false;
  }
  return true;
}

// Coverage of a device pixel by the source rectangle [0, sw] x [0, sh]:
// with antialiasing, from the signed distances of its centre to the four edges.
inline float Coverage(double u, double v, double sw, double sh, const Mapping& m, bool antialias) {
  if (!antialias) return (u >= 0 && u < sw && v >= 0 && v < sh) ? 1.f : 0.f;
  double cu = std::min(u, sw - u) / m.gradU + 0.5;
  double cv = std::min(v, sh - v) / m.gradV + 0.5;
  if (cu <= 0 || cv <= 0) return 0.f;
  return static_cast<float>(std::min(cu, 1.0) * std::min(cv, 1.0));
}

inline UInt32 Load32(const UInt8* p) {
  UInt32 v;
  std::memcpy(&v, p, 4);
  return v;
}

// The alpha byte (the first in memory) of a 32-bit pixel read as a word.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr UInt32 kAlphaMask = 0x000000FFu;
#else
constexpr UInt32 kAlphaMask = 0xFF000000u;
#endif

// True when the 32-bit pixel (bytes A R G B in memory) is opaque for this image.
inline bool OpaqueARGB(const CGImage& img, UInt32 packed) {
  if (img.alpha == kCGImageAlphaNoneSkipFirst) return true;
  UInt8 a;
  std::memcpy(&a, &packed, 1);
  return a == 255;
}

// The columns [outBegin, outEnd) of a row whose fixed-point position
// u + x*du stays within [lo, hi].
inline void ColumnsWithin(SInt64 u, SInt64 du, SInt64 lo, SInt64 hi, size_t width, size_t& outBegin, size_t& outEnd) {
  const double w = static_cast<double>(width);
  double first = 0, last = w;  // half-open
  if (du == 0) {
    if (u < lo || u > hi) first = last = 0;
  } else {
    double a = static_cast<double>(lo - u) / static_cast<double>(du);
    double b = static_cast<double>(hi - u) / static_cast<double>(du);
    if (du < 0) std::swap(a, b);
    first = std::max(first, std::ceil(a));
    last = std::min(last, std::floor(b) + 1.0);
  }
  if (!(last > first)) first = last = 0;
  outBegin = static_cast<size_t>(first);
  outEnd = static_cast<size_t>(last);
  // Guard the rounding of the division: the exact test decides at the ends.
  while (outBegin < outEnd) {
    SInt64 p = u + static_cast<SInt64>(outBegin) * du;
    if (p >= lo && p <= hi) break;
    ++outBegin;
  }
  while (outEnd > outBegin) {
    SInt64 p = u + static_cast<SInt64>(outEnd - 1) * du;
    if (p >= lo && p <= hi) break;
    --outEnd;
  }
}

void DrawImageRows(const CGContext& ctx, const CGImage& img, const Mapping& m, bool bilinear, size_t y0, size_t y1) {
  // Source positions step along a row in 16.16 fixed point: exact for whole
  // pixel mappings, within a few thousandths of a pixel across a row otherwise.
  constexpr double kOne = 65536.0;
  const double sw = static_cast<double>(img.width), sh = static_cast<double>(img.height);
  const bool aa = ctx.state.antialias;
  const float alpha = ctx.state.alpha;
  const SInt64 maxX = static_cast<SInt64>(img.width) - 1, maxY = static_cast<SInt64>(img.height) - 1;
  // Fully covered when the centre is at least half a device pixel inside every edge.
  const double insetU = aa ? 0.5 * m.gradU : 0.0, insetV = aa ? 0.5 * m.gradV : 0.0;
  const SInt64 uLo = static_cast<SInt64>(std::ceil(insetU * kOne)), vLo = static_cast<SInt64>(std::ceil(insetV * kOne));
  SInt64 uHi = static_cast<SInt64>(std::floor((sw - insetU) * kOne)), vHi = static_cast<SInt64>(std::floor((sh - insetV) * kOne));
  if (!aa) {
    uHi = static_cast<SInt64>(sw * kOne) - 1;
    vHi = static_cast<SInt64>(sh * kOne) - 1;
  }
  // Pixels whose centre maps this far outside cannot be touched at all.
  const double reachU = 1.0 + m.gradU, reachV = 1.0 + m.gradV;
  const bool packedOK = !img.gray && !ctx.gray && alpha == 1.f;
  const bool skipAlpha = img.alpha == kCGImageAlphaNoneSkipFirst;
  const SInt64 du = std::llround(m.dudx * kOne), dv = std::llround(m.dvdx * kOne);
  const size_t bpp = ctx.gray ? 1 : 4;
  const size_t srb = img.bytesPerRow;
  const UInt8* const base = img.data;

  // Any pixel: coverage, sampling and compositing in floating point.
  auto slowPixel = [&](UInt8* dst, SInt64 u, SInt64 v, bool full) {
    const double fu = static_cast<double>(u) / kOne, fv = static_cast<double>(v) / kOne;
    if (!(fu > -reachU && fv > -reachV && fu < sw + reachU && fv < sh + reachV)) return;
    const float cov = full ? 1.f : Coverage(fu, fv, sw, sh, m, aa);
    if (cov <= 0.f) return;
    if (!bilinear) {
      const SInt64 ix = std::clamp<SInt64>(u >> 16, 0, maxX), iy = std::clamp<SInt64>(v >> 16, 0, maxY);
      Composite(ctx, dst, FetchImage(img, static_cast<size_t>(ix), static_cast<size_t>(iy)), cov * alpha);
      return;
    }
    const SInt64 su = u - 32768, sv = v - 32768;
    const SInt64 fx = su >> 16, fy = sv >> 16;
    const SInt64 x0 = std::clamp<SInt64>(fx, 0, maxX), x1 = std::clamp<SInt64>(fx + 1, 0, maxX);
    const SInt64 yy0 = std::clamp<SInt64>(fy, 0, maxY), yy1 = std::clamp<SInt64>(fy + 1, 0, maxY);
    const float tu = static_cast<float>(su & 0xFFFF) / 65536.f, tv = static_cast<float>(sv & 0xFFFF) / 65536.f;
    PixelF a = FetchImage(img, static_cast<size_t>(x0), static_cast<size_t>(yy0));
    PixelF b = FetchImage(img, static_cast<size_t>(x1), static_cast<size_t>(yy0));
    PixelF c = FetchImage(img, static_cast<size_t>(x0), static_cast<size_t>(yy1));
    PixelF d = FetchImage(img, static_cast<size_t>(x1), static_cast<size_t>(yy1));
    Composite(ctx, dst, Lerp(Lerp(a, b, tu), Lerp(c, d, tu), tv), cov * alpha);
  };

  for (size_t y = y0; y < y1; ++y) {
    if (MPTaskShouldStop()) return;
    UInt8* row = ctx.data + y * ctx.bytesPerRow;
    const double cy = static_cast<double>(y) + 0.5;
    const SInt64 u0 = std::llround((m.u0 + cy * m.dudy + 0.5 * m.dudx) * kOne);
    const SInt64 v0 = std::llround((m.v0 + cy * m.dvdy + 0.5 * m.dvdx) * kOne);
    // The fully covered run of this row.
    size_t ua, ub, va, vb;
    ColumnsWithin(u0, du, uLo, uHi, ctx.width, ua, ub);
    ColumnsWithin(v0, dv, vLo, vHi, ctx.width, va, vb);
    size_t xa = std::max(ua, va), xb = std::min(ub, vb);
    if (xb < xa) xa = xb = 0;

    for (size_t x = 0; x < xa; ++x)
      slowPixel(row + x * bpp, u0 + static_cast<SInt64>(x) * du, v0 + static_cast<SInt64>(x) * dv, false);
    SInt64 u = u0 + static_cast<SInt64>(xa) * du, v = v0 + static_cast<SInt64>(xa) * dv;
    if (!packedOK) {
      for (size_t x = xa; x < xb; ++x, u += du, v += dv) slowPixel(row + x * bpp, u, v, true);
    } else if (!bilinear) {
      for (size_t x = xa; x < xb; ++x, u += du, v += dv) {
        UInt32 p = Load32(base + static_cast<size_t>(v >> 16) * srb + 4 * static_cast<size_t>(u >> 16));
        if (skipAlpha) {
          std::memset(&p, 255, 1);
        } else if (!OpaqueARGB(img, p)) {
          slowPixel(row + x * 4, u, v, true);
          continue;
        }
        std::memcpy(row + x * 4, &p, 4);
      }
    } else {
      for (size_t x = xa; x < xb; ++x, u += du, v += dv) {
        const SInt64 su = u - 32768, sv = v - 32768;
        const SInt64 gx = su >> 16, gy = sv >> 16;
        const SInt64 fy = gy < 0 ? 0 : gy, yy1 = gy + 1 > maxY ? maxY : gy + 1;
        const UInt8* r0 = base + static_cast<size_t>(fy) * srb;
        const UInt8* r1 = base + static_cast<size_t>(yy1) * srb;
        UInt64 top, bottom;
        if (gx >= 0 && gx < maxX) {
          // Both pixels of each row pair in one load.
          std::memcpy(&top, r0 + 4 * gx, 8);
          std::memcpy(&bottom, r1 + 4 * gx, 8);
        } else {
          const SInt64 fx = gx < 0 ? 0 : gx, x1 = gx + 1 > maxX ? maxX : gx + 1;
          const UInt64 p00 = Load32(r0 + 4 * fx), p01 = Load32(r0 + 4 * x1);
          const UInt64 p10 = Load32(r1 + 4 * fx), p11 = Load32(r1 + 4 * x1);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
          top = p00 | (p01 << 32);
          bottom = p10 | (p11 << 32);
#else
          top = (p00 << 32) | p01;
          bottom = (p10 << 32) | p11;
#endif
        }
        const UInt64 both = top & bottom;
        if (!skipAlpha && ((static_cast<UInt32>(both) & static_cast<UInt32>(both >> 32)) & kAlphaMask) != kAlphaMask) {
          slowPixel(row + x * 4, u, v, true);
          continue;
        }
        const UInt32 wu = static_cast<UInt32>(((su & 0xFFFF) + 128) >> 8);
        const UInt32 wv = static_cast<UInt32>(((sv & 0xFFFF) + 128) >> 8);
        UInt32 p = Bilinear2x2(top, bottom, wu, wv);
        std::memset(&p, 255, 1);
        std::memcpy(row + x * 4, &p, 4);
      }
    }
    u = u0 + static_cast<SInt64>(xb) * du;
    v = v0 + static_cast<SInt64>(xb) * dv;
    for (size_t x = std::max(xb, xa); x < ctx.width; ++x, u += du, v += dv) slowPixel(row + x * bpp, u, v, false);
  }
}

}  // namespace

namespace {

// The mapping and sampling of one image draw; false when nothing is drawn.
bool PrepareImageDraw(const CGContext& c, CGRect rect, const CGImage& image, Mapping& outMapping, bool& outBilinear) {
  if (!MakeMapping(c, rect, static_cast<double>(image.width), static_cast<double>(image.height), outMapping)) return false;
  if (!MappingFitsFixedPoint(outMapping, c.width, c.height)) return false;
  outBilinear = image.interpolate && c.state.quality != kCGInterpolationNone && c.state.quality != kCGInterpolationLow;
  return true;
}

}  // namespace

void CGSetBandCountForTesting(SInt32 inBands) { sBandCountOverride.store(inBands); }
SInt32 CGGetBandCountForTesting() { return sBandCountOverride.load(); }

void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image) {
  if (!c || !image) return;
  Mapping m;
  bool bilinear = false;
  if (!PrepareImageDraw(*c, rect, *image, m, bilinear)) return;
  const CGContext& ctx = *c;
  const CGImage& img = *image;
  ForEachBand(c->height, 8, [&](size_t b, size_t e) { DrawImageRows(ctx, img, m, bilinear, b, e); });
}

void CGContextDrawImageRows(CGContextRef c, CGRect rect, CGImageRef image, size_t inFirstRow, size_t inEndRow) {
  if (!c || !image) return;
  inEndRow = std::min(inEndRow, c->height);
  if (inFirstRow >= inEndRow) return;
  Mapping m;
  bool bilinear = false;
  if (!PrepareImageDraw(*c, rect, *image, m, bilinear)) return;
  DrawImageRows(*c, *image, m, bilinear, inFirstRow, inEndRow);
}

void CGContextFillRect(CGContextRef c, CGRect rect) {
  if (!c) return;
  Mapping m;
  if (!MakeMapping(*c, rect, 1.0, 1.0, m)) return;
  const float k = c->state.fill[3] * 255.f;
  PixelF s{c->state.fill[0] * k, c->state.fill[1] * k, c->state.fill[2] * k, k};
  const CGContext& ctx = *c;
  const bool aa = c->state.antialias;
  const size_t bpp = ctx.gray ? 1 : 4;
  ForEachBand(c->height, 8, [&](size_t y0, size_t y1) {
    for (size_t y = y0; y < y1; ++y) {
      UInt8* row = ctx.data + y * ctx.bytesPerRow;
      double cy = static_cast<double>(y) + 0.5;
      for (size_t x = 0; x < ctx.width; ++x) {
        double cx = static_cast<double>(x) + 0.5;
        double u = m.u0 + cy * m.dudy + cx * m.dudx, v = m.v0 + cy * m.dvdy + cx * m.dvdx;
        float cov = Coverage(u, v, 1.0, 1.0, m, aa);
        if (cov > 0.f) Composite(ctx, row + x * bpp, s, cov * ctx.state.alpha);
      }
    }
  });
}

void CGContextClearRect(CGContextRef c, CGRect rect) {
  if (!c) return;
  Mapping m;
  if (!MakeMapping(*c, rect, 1.0, 1.0, m)) return;
  const size_t bpp = c->gray ? 1 : 4;
  for (size_t y = 0; y < c->height; ++y) {
    UInt8* row = c->data + y * c->bytesPerRow;
    double cy = static_cast<double>(y) + 0.5;
    for (size_t x = 0; x < c->width; ++x) {
      double cx = static_cast<double>(x) + 0.5;
      double u = m.u0 + cy * m.dudy + cx * m.dudx, v = m.v0 + cy * m.dvdy + cx * m.dvdx;
      if (u >= 0 && u < 1 && v >= 0 && v < 1) std::memset(row + x * bpp, 0, bpp);
    }
  }
}
