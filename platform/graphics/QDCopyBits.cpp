// CopyBits between pixel maps of the supported formats.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/graphics/QuickDrawInternal.h"

namespace {

const PixMap* AsPixMap(const BitMap* bm) {
  if (!bm || (bm->rowBytes & 0x8000) == 0) return nullptr;
  const PixMap* pm = reinterpret_cast<const PixMap*>(bm);
  return qd::IsSupportedFormat(pm->pixelFormat) && pm->baseAddr ? pm : nullptr;
}

}  // namespace

void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect, const Rect* dstRect, SInt16 mode,
              RgnHandle maskRgn) {
  const PixMap* src = AsPixMap(srcBits);
  const PixMap* dst = AsPixMap(dstBits);
  if (!src || !dst || !srcRect || !dstRect) return qd::SetError(paramErr);
  if ((mode & ~ditherCopy) != srcCopy) return qd::SetError(unimpErr);
  qd::SetError(noErr);
  if (EmptyRect(srcRect) || EmptyRect(dstRect)) return;

  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  const bool toCurrent = qd::IsPort(port) && dst == &port->pixMap;
  if (toCurrent && port->recorder) qd::RecordCopyBits(port->recorder, *src, *srcRect, *dstRect, mode, maskRgn);

  RgnHandle area = NewRgn();
  RgnHandle limit = NewRgn();
  RectRgn(area, dstRect);
  RectRgn(limit, &dst->bounds);
  SectRgn(area, limit, area);
  if (qd::IsRegion(maskRgn)) SectRgn(area, maskRgn, area);
  if (toCurrent) SectRgn(area, port->clip, area);
  DisposeRgn(limit);

  const SInt32 sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
  const SInt32 dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
  const SInt32 sbpp = qd::BytesPerPixel(src->pixelFormat), dbpp = qd::BytesPerPixel(dst->pixelFormat);
  const bool sameFormat = src->pixelFormat == dst->pixelFormat &&
                          (src->pixelFormat != k8IndexedPixelFormat || src->pmTable == dst->pmTable);

  // When source and destination share memory, read from a snapshot of the source rows.
  const UInt8* srcBase = reinterpret_cast<const UInt8*>(src->baseAddr);
  SInt32 srcRowBytes = src->pmRowBytes;
  std::vector<UInt8> snapshot;
  if (src->baseAddr == dst->baseAddr) {
    SInt32 rows = src->bounds.bottom - src->bounds.top;
    snapshot.assign(srcBase, srcBase + static_cast<size_t>(rows) * static_cast<size_t>(srcRowBytes));
    srcBase = snapshot.data();
  }

  std::vector<qd::Color16> srcRow, mapped;
  std::vector<UInt8> out;
  for (SInt32 i = 0; i < CountRgnRects(area); ++i) {
    Rect r;
    GetRgnRect(area, i, &r);
    // Columns whose source lies inside the source pixels: a contiguous run.
    SInt32 x0 = r.right, x1 = r.left;
    for (SInt32 x = r.left; x < r.right; ++x) {
      SInt32 sx = srcRect->left + static_cast<SInt32>(static_cast<SInt64>(x - dstRect->left) * sw / dw);
      if (sx >= src->bounds.left && sx < src->bounds.right) {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x + 1);
      }
    }
    if (x0 >= x1) continue;
    const SInt32 n = x1 - x0;
    const SInt32 sxFirst = srcRect->left + static_cast<SInt32>(static_cast<SInt64>(x0 - dstRect->left) * sw / dw);
    const SInt32 sxLast = srcRect->left + static_cast<SInt32>(static_cast<SInt64>(x1 - 1 - dstRect->left) * sw / dw);
    for (SInt32 y = r.top; y < r.bottom; ++y) {
      SInt32 sy = srcRect->top + static_cast<SInt32>(static_cast<SInt64>(y - dstRect->top) * sh / dh);
      if (sy < src->bounds.top || sy >= src->bounds.bottom) continue;
      const UInt8* sRow = srcBase + static_cast<ptrdiff_t>(sy - src->bounds.top) * srcRowBytes;
      UInt8* dRow = reinterpret_cast<UInt8*>(dst->baseAddr) + static_cast<ptrdiff_t>(y - dst->bounds.top) * dst->pmRowBytes +
                    static_cast<ptrdiff_t>(x0 - dst->bounds.left) * dbpp;
      if (sameFormat && sw == dw) {
        std::memmove(dRow, sRow + static_cast<ptrdiff_t>(sxFirst - src->bounds.left) * sbpp,
                     static_cast<size_t>(n) * static_cast<size_t>(dbpp));
        continue;
      }
      const SInt32 span = sxLast - sxFirst + 1;
      srcRow.resize(static_cast<size_t>(span));
      mapped.resize(static_cast<size_t>(n));
      out.resize(static_cast<size_t>(n) * static_cast<size_t>(dbpp));
      qd::DecodeRow(*src, sRow + static_cast<ptrdiff_t>(sxFirst - src->bounds.left) * sbpp, span, srcRow.data());
      for (SInt32 k = 0; k < n; ++k) {
        SInt32 sx = srcRect->left + static_cast<SInt32>(static_cast<SInt64>(x0 + k - dstRect->left) * sw / dw);
        mapped[static_cast<size_t>(k)] = srcRow[static_cast<size_t>(sx - sxFirst)];
      }
      qd::EncodeRow(*dst, mapped.data(), n, out.data());
      std::memcpy(dRow, out.data(), out.size());
    }
  }
  DisposeRgn(area);
}
