#include "media/UBufferWarp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "media/CBuffer.h"
#include "platform/base/LException.h"
#include "platform/tasks/MPBands.h"

void UBufferWarp::Draw(const CBuffer& inSource, const MatrixRecord& inMatrix, const SPixels& inDest, const Rect& inClip,
                       Boolean inSmooth) {
  ThrowIfNil_(inSource.GetData());
  ThrowIfNil_(inDest.base);
  if (inSource.GetDepth() != kBufferDepth8 || inSource.GetMode() != kBufferModeARGB) Throw_(paramErr);
  const Rect& clip = inClip;
  if (clip.right <= clip.left || clip.bottom <= clip.top) return;
  if (clip.left < inDest.bounds.left || clip.top < inDest.bounds.top || clip.right > inDest.bounds.right ||
      clip.bottom > inDest.bounds.bottom)
    Throw_(paramErr);
  UInt8* const dstBase = inDest.base;
  const SInt32 dstRowBytes = inDest.rowBytes;
  const Rect& dstBounds = inDest.bounds;
  DMatrix inverse;
  if (!DMatrixInverse(MatrixToDouble(inMatrix), inverse)) Throw_(paramErr);
  const Rect src = inSource.GetBounds();
  const UInt8* srcBase = reinterpret_cast<const UInt8*>(inSource.GetData());
  const SInt32 srcRowBytes = inSource.GetRowBytes();
  const double a = inverse.m[0][0], b = inverse.m[0][1], c = inverse.m[1][0], d = inverse.m[1][1];
  const double e = inverse.m[2][0], f = inverse.m[2][1];
  const bool smooth = inSmooth;
  const SInt32 width = clip.right - clip.left;
  const SInt32 srcWidth = src.right - src.left, srcHeight = src.bottom - src.top;
  MPBandOptions options;
  options.minRunItems = 8;
  OSStatus err = noErr;
  if (b == 0 && c == 0 && inverse.m[0][2] == 0 && inverse.m[1][2] == 0) {
    // Scale and offset only (the picture fitted to the pane): the source
    // columns and their weights are the same on every row.
    struct Tap {
      SInt32 x0, x1;  // byte offsets of the two source pixels
      UInt32 w1;      // weight of the second, 0..256
      bool inside;
    };
    std::vector<Tap> taps(static_cast<size_t>(width));
    for (SInt32 i = 0; i < width; ++i) {
      const double sx = (clip.left + i + 0.5) * a + e - 0.5 - src.left;
      Tap& t = taps[static_cast<size_t>(i)];
      if (smooth) {
        const SInt32 x0 = static_cast<SInt32>(std::floor(sx));
        t.inside = x0 >= -1 && x0 < srcWidth;
        t.w1 = static_cast<UInt32>((sx - x0) * 256 + 0.5);
        t.x0 = std::clamp<SInt32>(x0, 0, srcWidth - 1) * 4;
        t.x1 = std::clamp<SInt32>(x0 + 1, 0, srcWidth - 1) * 4;
      } else {
        const SInt32 x = static_cast<SInt32>(std::floor(sx + 0.5));
        t.inside = x >= 0 && x < srcWidth;
        t.x0 = t.x1 = std::clamp<SInt32>(x, 0, srcWidth - 1) * 4;
        t.w1 = 0;
      }
    }
    err = MPRunBands(static_cast<size_t>(clip.bottom - clip.top), options,
                     [&](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
      for (size_t row = inBegin; row < inEnd; ++row) {
        const SInt32 y = clip.top + static_cast<SInt32>(row);
        UInt8* out = dstBase + (y - dstBounds.top) * dstRowBytes + (clip.left - dstBounds.left) * 4;
        const double sy = (y + 0.5) * d + f - 0.5 - src.top;
        SInt32 y0, y1;
        UInt32 wy;
        bool rowInside;
        if (smooth) {
          const SInt32 fy = static_cast<SInt32>(std::floor(sy));
          rowInside = fy >= -1 && fy < srcHeight;
          wy = static_cast<UInt32>((sy - fy) * 256 + 0.5);
          y0 = std::clamp<SInt32>(fy, 0, srcHeight - 1);
          y1 = std::clamp<SInt32>(fy + 1, 0, srcHeight - 1);
        } else {
          const SInt32 ny = static_cast<SInt32>(std::floor(sy + 0.5));
          rowInside = ny >= 0 && ny < srcHeight;
          y0 = y1 = std::clamp<SInt32>(ny, 0, srcHeight - 1);
          wy = 0;
        }
        if (!rowInside) continue;
        const UInt8* r0 = srcBase + y0 * srcRowBytes;
        const UInt8* r1 = srcBase + y1 * srcRowBytes;
        for (SInt32 i = 0; i < width; ++i, out += 4) {
          const Tap& t = taps[static_cast<size_t>(i)];
          if (!t.inside) continue;
          const UInt8* p00 = r0 + t.x0;
          const UInt8* p01 = r0 + t.x1;
          const UInt8* p10 = r1 + t.x0;
          const UInt8* p11 = r1 + t.x1;
          const UInt32 w1 = t.w1, w0 = 256 - w1;
          for (int k = 0; k < 4; ++k) {
            const UInt32 top = p00[k] * w0 + p01[k] * w1;
            const UInt32 bottom = p10[k] * w0 + p11[k] * w1;
            out[k] = static_cast<UInt8>((top * (256 - wy) + bottom * wy + 32768) >> 16);
          }
        }
      }
      return noErr;
    });
    ThrowIfOSErr_(static_cast<OSErr>(err));
    return;
  }
  const bool affine = inverse.m[0][2] == 0 && inverse.m[1][2] == 0;
  err = MPRunBands(static_cast<size_t>(clip.bottom - clip.top), options,
                            [&](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
    for (size_t row = inBegin; row < inEnd; ++row) {
      const SInt32 y = clip.top + static_cast<SInt32>(row);
      UInt32* out = reinterpret_cast<UInt32*>(dstBase + (y - dstBounds.top) * dstRowBytes) +
                    (clip.left - dstBounds.left);
      // Pixel centres map through the inverse matrix into the source.
      const double py = y + 0.5;
      for (SInt32 i = 0; i < width; ++i) {
        const double px = clip.left + i + 0.5;
        double sx, sy;
        if (affine) {
          sx = px * a + py * c + e;
          sy = px * b + py * d + f;
        } else {
          sx = px;
          sy = py;
          DMatrixTransform(inverse, sx, sy);
        }
        sx -= 0.5;
        sy -= 0.5;
        if (!smooth) {
          const SInt32 ix = static_cast<SInt32>(std::floor(sx + 0.5));
          const SInt32 iy = static_cast<SInt32>(std::floor(sy + 0.5));
          if (ix < src.left || ix >= src.right || iy < src.top || iy >= src.bottom) continue;
          std::memcpy(&out[i], srcBase + (iy - src.top) * srcRowBytes + (ix - src.left) * 4, 4);
          continue;
        }
        const SInt32 x0 = static_cast<SInt32>(std::floor(sx));
        const SInt32 y0 = static_cast<SInt32>(std::floor(sy));
        if (x0 < src.left - 1 || x0 >= src.right || y0 < src.top - 1 || y0 >= src.bottom) continue;
        const double fx = sx - x0, fy = sy - y0;
        const SInt32 xa = std::clamp<SInt32>(x0, src.left, src.right - 1) - src.left;
        const SInt32 xb = std::clamp<SInt32>(x0 + 1, src.left, src.right - 1) - src.left;
        const SInt32 ya = std::clamp<SInt32>(y0, src.top, src.bottom - 1) - src.top;
        const SInt32 yb = std::clamp<SInt32>(y0 + 1, src.top, src.bottom - 1) - src.top;
        const UInt8* p00 = srcBase + ya * srcRowBytes + xa * 4;
        const UInt8* p01 = srcBase + ya * srcRowBytes + xb * 4;
        const UInt8* p10 = srcBase + yb * srcRowBytes + xa * 4;
        const UInt8* p11 = srcBase + yb * srcRowBytes + xb * 4;
        UInt8* o = reinterpret_cast<UInt8*>(&out[i]);
        for (int k = 0; k < 4; ++k) {
          const double top = p00[k] + (p01[k] - p00[k]) * fx;
          const double bottom = p10[k] + (p11[k] - p10[k]) * fx;
          o[k] = static_cast<UInt8>(top + (bottom - top) * fy + 0.5);
        }
      }
    }
    return noErr;
  });
  ThrowIfOSErr_(static_cast<OSErr>(err));
}
