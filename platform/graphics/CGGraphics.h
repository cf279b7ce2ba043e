// The Quartz subset: bitmap contexts and images over caller memory, the
// current transformation matrix, interpolation and antialiasing, image
// drawing and rectangle filling with source-over compositing.
//
// Semantics the program relies on:
// - User space has its origin at the bottom-left of the bitmap, y up. A
//   context's CTM starts as the identity; CGContextConcatCTM(c, t) makes t act
//   first on user-space points, then the previous CTM.
// - Drawing inverse-maps every destination pixel centre through the CTM and the
//   drawing rectangle into the image. Sampling is nearest when the context's
//   interpolation quality is none or low or the image was made without
//   interpolation, bilinear otherwise (edges clamp).
// - With antialiasing on, pixels on the edge of the drawn area get partial
//   coverage; off, a pixel is drawn when its centre is inside.
// - Compositing is source-over in premultiplied form. A transparent source
//   pixel adds nothing. The destination's alpha byte receives the coverage even
//   when the destination was made as "none skip first".
// - An identity or whole-pixel translation reproduces the source bytes exactly.
// Drawing is cut into horizontal bands that run in parallel on the task pool.
#pragma once

#include <cstddef>

#include "platform/base/MacTypes.h"

typedef double CGFloat;

struct CGPoint {
  CGFloat x, y;
};
struct CGSize {
  CGFloat width, height;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};
struct CGAffineTransform {
  CGFloat a, b, c, d, tx, ty;
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return CGPoint{x, y}; }
inline CGSize CGSizeMake(CGFloat w, CGFloat h) { return CGSize{w, h}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return CGRect{{x, y}, {w, h}}; }

extern const CGAffineTransform CGAffineTransformIdentity;
CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty);
// t1 then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// The transform itself when it is not invertible.
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
bool CGAffineTransformIsIdentity(CGAffineTransform t);

typedef struct CGColorSpace* CGColorSpaceRef;
typedef struct CGDataProvider* CGDataProviderRef;
typedef struct CGImage* CGImageRef;
typedef struct CGContext* CGContextRef;

enum CGImageAlphaInfo : UInt32 {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,
  kCGImageAlphaPremultipliedFirst = 2,
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
  kCGImageAlphaNoneSkipFirst = 6,
  kCGImageAlphaOnly = 7,
};
typedef UInt32 CGBitmapInfo;

enum CGInterpolationQuality : SInt32 {
  kCGInterpolationDefault = 0,
  kCGInterpolationNone = 1,
  kCGInterpolationLow = 2,
  kCGInterpolationHigh = 3,
  kCGInterpolationMedium = 4,
};

enum CGColorRenderingIntent : SInt32 { kCGRenderingIntentDefault = 0 };

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef);
void CGColorSpaceRelease(CGColorSpaceRef);
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef);

typedef void (*CGDataProviderReleaseDataCallback)(void* info, const void* data, size_t size);
CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData);
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef);
void CGDataProviderRelease(CGDataProviderRef);

// Supported: 8 bits per component; gray (8 bits per pixel, no alpha) or RGB
// (32 bits per pixel, alpha first: premultiplied, straight or skipped).
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent intent);
CGImageRef CGImageRetain(CGImageRef);
void CGImageRelease(CGImageRef);
size_t CGImageGetWidth(CGImageRef);
size_t CGImageGetHeight(CGImageRef);
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef);
bool CGImageGetShouldInterpolate(CGImageRef);

// Supported: 8 bits per component; gray without alpha, or RGB with alpha
// first (premultiplied or skipped). Returns nullptr for anything else.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
CGContextRef CGContextRetain(CGContextRef);
void CGContextRelease(CGContextRef);
void* CGBitmapContextGetData(CGContextRef);
size_t CGBitmapContextGetWidth(CGContextRef);
size_t CGBitmapContextGetHeight(CGContextRef);
size_t CGBitmapContextGetBytesPerRow(CGContextRef);

void CGContextSaveGState(CGContextRef);
void CGContextRestoreGState(CGContextRef);
void CGContextConcatCTM(CGContextRef, CGAffineTransform);
void CGContextTranslateCTM(CGContextRef, CGFloat tx, CGFloat ty);
void CGContextScaleCTM(CGContextRef, CGFloat sx, CGFloat sy);
void CGContextRotateCTM(CGContextRef, CGFloat radians);
CGAffineTransform CGContextGetCTM(CGContextRef);
void CGContextSetInterpolationQuality(CGContextRef, CGInterpolationQuality);
CGInterpolationQuality CGContextGetInterpolationQuality(CGContextRef);
void CGContextSetShouldAntialias(CGContextRef, bool);
void CGContextSetAlpha(CGContextRef, CGFloat);
void CGContextSetRGBFillColor(CGContextRef, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetGrayFillColor(CGContextRef, CGFloat gray, CGFloat a);
void CGContextFillRect(CGContextRef, CGRect);
void CGContextClearRect(CGContextRef, CGRect);
void CGContextDrawImage(CGContextRef, CGRect, CGImageRef);
// The same draw limited to the device rows [inFirstRow, inEndRow) (counted
// from the top of the bitmap), on the calling thread alone. A caller that cuts
// its own work into bands draws each band with this; every row gets the bytes
// CGContextDrawImage would give it.
void CGContextDrawImageRows(CGContextRef, CGRect, CGImageRef, size_t inFirstRow, size_t inEndRow);
void CGContextFlush(CGContextRef);
void CGContextSynchronize(CGContextRef);

// Number of bands a draw is cut into (0 = one per processor). For tests.
void CGSetBandCountForTesting(SInt32 inBands);
// The band count set for tests (0 = one per processor), for callers that cut
// drawing work into bands themselves.
SInt32 CGGetBandCountForTesting();

// Owns one reference to a Quartz object and releases it when it goes, so that
// a failure between creating an object and the end of its use leaks nothing.
template <class Ref, void (*ReleaseProc)(Ref)>
class StCGReleaser {
 public:
  StCGReleaser() = default;
  explicit StCGReleaser(Ref inRef) : mRef(inRef) {}
  ~StCGReleaser() { Reset(); }
  StCGReleaser(const StCGReleaser&) = delete;
  StCGReleaser& operator=(const StCGReleaser&) = delete;
  StCGReleaser(StCGReleaser&& ioOther) noexcept : mRef(ioOther.Detach()) {}
  StCGReleaser& operator=(StCGReleaser&& ioOther) noexcept {
    if (this != &ioOther) Reset(ioOther.Detach());
    return *this;
  }

  Ref Get() const { return mRef; }
  explicit operator bool() const { return mRef != nullptr; }
  // Gives up ownership without releasing.
  Ref Detach() {
    Ref r = mRef;
    mRef = nullptr;
    return r;
  }
  // Releases the object held and takes inRef.
  void Reset(Ref inRef = nullptr) {
    Ref old = mRef;
    mRef = inRef;
    if (old) ReleaseProc(old);
  }

 private:
  Ref mRef = nullptr;
};

using StCGContextRef = StCGReleaser<CGContextRef, CGContextRelease>;
using StCGImageRef = StCGReleaser<CGImageRef, CGImageRelease>;
using StCGColorSpaceRef = StCGReleaser<CGColorSpaceRef, CGColorSpaceRelease>;
using StCGDataProviderRef = StCGReleaser<CGDataProviderRef, CGDataProviderRelease>;
