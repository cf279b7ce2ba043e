// Pictures: the drawing recorded while a picture is open, kept as a flat
// big-endian byte blob in a Memory Manager handle:
//   picSize (16 bits, low bits of the size), picFrame (4 x 16 bits),
//   'TrxP', version (16 bits), then operations, each an op byte and its data,
//   ending with the op 0xFF.
#include <cstring>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/graphics/QuickDrawInternal.h"

struct PictureRecorder {
  PicHandle picture = nullptr;
  Rect frame{0, 0, 0, 0};
  std::vector<UInt8> bytes;
};

namespace {

constexpr UInt32 kPictMagic = 'TrxP';
constexpr UInt16 kPictVersion = 1;
constexpr size_t kHeaderSize = 2 + 8 + 4 + 2;
enum : UInt8 {
  kOpPaintRect = 1,
  kOpEraseRect = 2,
  kOpFrameRect = 3,
  kOpPaintRgn = 4,
  kOpEraseRgn = 5,
  kOpLine = 6,
  kOpCopyBits = 7,
  kOpEnd = 0xFF
};

struct Writer {
  std::vector<UInt8>& b;
  void U8(UInt8 v) { b.push_back(v); }
  void U16(UInt16 v) {
    b.push_back(static_cast<UInt8>(v >> 8));
    b.push_back(static_cast<UInt8>(v));
  }
  void U32(UInt32 v) {
    U16(static_cast<UInt16>(v >> 16));
    U16(static_cast<UInt16>(v));
  }
  void R(const Rect& r) {
    U16(static_cast<UInt16>(r.top));
    U16(static_cast<UInt16>(r.left));
    U16(static_cast<UInt16>(r.bottom));
    U16(static_cast<UInt16>(r.right));
  }
  void C(const RGBColor& c) {
    U16(c.red);
    U16(c.green);
    U16(c.blue);
  }
  void Bytes(const UInt8* p, size_t n) { b.insert(b.end(), p, p + n); }
};

struct Reader {
  const UInt8* p;
  size_t n;
  size_t pos = 0;
  bool ok = true;
  bool Need(size_t k) {
    if (!ok || n - pos < k) ok = false;
    return ok;
  }
  UInt8 U8() { return Need(1) ? p[pos++] : 0; }
  UInt16 U16() {
    if (!Need(2)) return 0;
    UInt16 v = ReadBE16(p + pos);
    pos += 2;
    return v;
  }
  UInt32 U32() {
    if (!Need(4)) return 0;
    UInt32 v = ReadBE32(p + pos);
    pos += 4;
    return v;
  }
  Rect R() {
    Rect r;
    r.top = static_cast<SInt16>(U16());
    r.left = static_cast<SInt16>(U16());
    r.bottom = static_cast<SInt16>(U16());
    r.right = static_cast<SInt16>(U16());
    return r;
  }
  RGBColor C() {
    RGBColor c;
    c.red = U16();
    c.green = U16();
    c.blue = U16();
    return c;
  }
  const UInt8* Bytes(size_t k) {
    if (!Need(k)) return nullptr;
    const UInt8* q = p + pos;
    pos += k;
    return q;
  }
};

void WriteRegionRects(Writer& w, RgnHandle rgn) {
  SInt32 count = CountRgnRects(rgn);
  w.U32(static_cast<UInt32>(count));
  for (SInt32 i = 0; i < count; ++i) {
    Rect r;
    GetRgnRect(rgn, i, &r);
    w.R(r);
  }
}

// Reads a rectangle list into a region; false on malformed data.
bool ReadRegion(Reader& rd, RgnHandle rgn) {
  UInt32 count = rd.U32();
  if (!rd.ok || count > (rd.n - rd.pos) / 8) return false;
  RgnHandle one = NewRgn();
  for (UInt32 i = 0; i < count; ++i) {
    Rect r = rd.R();
    RectRgn(one, &r);
    UnionRgn(rgn, one, rgn);
  }
  DisposeRgn(one);
  return rd.ok;
}

bool IsPictureBytes(PicHandle pic) {
  Handle h = reinterpret_cast<Handle>(pic);
  if (!h || !IsValidHandle(h) || !*h) return false;
  if (GetHandleSize(h) < static_cast<SInt32>(kHeaderSize)) return false;
  const UInt8* p = reinterpret_cast<const UInt8*>(*h);
  return ReadBE32(p + 10) == kPictMagic;
}

// Plays the operations back into the current port mapped onto dstRect.
OSErr Play(PicHandle pic, const Rect* dstRect) {
  if (!IsPictureBytes(pic) || !dstRect) return paramErr;
  Handle h = reinterpret_cast<Handle>(pic);
  StHandleLocker lock(h);
  Reader rd{reinterpret_cast<const UInt8*>(*h), static_cast<size_t>(GetHandleSize(h))};
  rd.pos = 2;
  Rect frame = rd.R();
  rd.pos = kHeaderSize;

  RGBColor saveFore, saveBack;
  PenState savePen;
  GetForeColor(&saveFore);
  GetBackColor(&saveBack);
  GetPenState(&savePen);
  OSErr err = noErr;
  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  for (bool done = false; !done && err == noErr;) {
    UInt8 op = rd.U8();
    if (!rd.ok) {
      err = paramErr;
      break;
    }
    switch (op) {
      case kOpPaintRect:
      case kOpEraseRect:
      case kOpFrameRect: {
        RGBColor fore = rd.C(), back = rd.C();
        SInt16 ph = static_cast<SInt16>(rd.U16()), pv = static_cast<SInt16>(rd.U16());
        Rect r = rd.R();
        if (!rd.ok) {
          err = paramErr;
          break;
        }
        MapRect(&r, &frame, dstRect);
        RGBForeColor(&fore);
        RGBBackColor(&back);
        PenSize(ph, pv);
        if (op == kOpPaintRect) PaintRect(&r);
        if (op == kOpEraseRect) EraseRect(&r);
        if (op == kOpFrameRect) FrameRect(&r);
        break;
      }
      case kOpPaintRgn:
      case kOpEraseRgn: {
        RGBColor fore = rd.C(), back = rd.C();
        RgnHandle rgn = NewRgn();
        if (ReadRegion(rd, rgn)) {
          MapRgn(rgn, &frame, dstRect);
          RGBForeColor(&fore);
          RGBBackColor(&back);
          if (op == kOpPaintRgn)
            PaintRgn(rgn);
          else
            EraseRgn(rgn);
        } else {
          err = paramErr;
        }
        DisposeRgn(rgn);
        break;
      }
      case kOpLine: {
        RGBColor fore = rd.C();
        SInt16 ph = static_cast<SInt16>(rd.U16()), pv = static_cast<SInt16>(rd.U16());
        Point a, b;
        a.v = static_cast<SInt16>(rd.U16());
        a.h = static_cast<SInt16>(rd.U16());
        b.v = static_cast<SInt16>(rd.U16());
        b.h = static_cast<SInt16>(rd.U16());
        if (!rd.ok) {
          err = paramErr;
          break;
        }
        MapPt(&a, &frame, dstRect);
        MapPt(&b, &frame, dstRect);
        RGBForeColor(&fore);
        PenSize(ph, pv);
        MoveTo(a.h, a.v);
        LineTo(b.h, b.v);
        break;
      }
      case kOpCopyBits: {
        OSType format = rd.U32();
        UInt32 width = rd.U32(), height = rd.U32();
        Rect dr = rd.R();
        SInt16 mode = static_cast<SInt16>(rd.U16());
        RgnHandle mask = NewRgn();
        bool hasMask = rd.U8() != 0;
        if (hasMask && !ReadRegion(rd, mask)) err = paramErr;
        ColorTable table{};
        ColorTable* tablePtr = &table;
        bool hasTable = rd.U8() != 0;
        if (hasTable) {
          table.ctSize = static_cast<SInt16>(rd.U16());
          for (int i = 0; i < 256; ++i) {
            table.ctTable[i].value = static_cast<SInt16>(i);
            table.ctTable[i].rgb = rd.C();
          }
        }
        SInt32 bpp = qd::BytesPerPixel(format);
        if (bpp == 0 || width == 0 || height == 0 || width > 32767 || height > 32767) err = paramErr;
        size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bpp);
        const UInt8* data = err == noErr ? rd.Bytes(size) : nullptr;
        if (err == noErr && data) {
          PixMap pm{};
          pm.baseAddr = reinterpret_cast<Ptr>(const_cast<UInt8*>(data));
          pm.pmRowBytes = static_cast<SInt32>(width) * bpp;
          pm.rowBytes = static_cast<SInt16>(0x8000 | (pm.pmRowBytes & 0x3FFF));
          pm.bounds = Rect{0, 0, static_cast<SInt16>(height), static_cast<SInt16>(width)};
          pm.pixelFormat = format;
          pm.pmTable = hasTable ? &tablePtr : nullptr;
          Rect sr = pm.bounds;
          MapRect(&dr, &frame, dstRect);
          if (hasMask) MapRgn(mask, &frame, dstRect);
          CopyBits(reinterpret_cast<const BitMap*>(&pm), GetPortBitMapForCopyBits(port), &sr, &dr, mode,
                   hasMask ? mask : nullptr);
        } else {
          err = paramErr;
        }
        DisposeRgn(mask);
        break;
      }
      case kOpEnd: done = true; break;
      default: err = paramErr; break;
    }
  }
  RGBForeColor(&saveFore);
  RGBBackColor(&saveBack);
  SetPenState(&savePen);
  return err;
}

}  // namespace

namespace qd {

void RecordRect(PictureRecorder* rec, UInt8 op, const Rect& r, const GrafPort& port) {
  Writer w{rec->bytes};
  w.U8(op);
  w.C(port.fore);
  w.C(port.back);
  w.U16(static_cast<UInt16>(port.pen.pnSize.h));
  w.U16(static_cast<UInt16>(port.pen.pnSize.v));
  w.R(r);
}

void RecordRgn(PictureRecorder* rec, UInt8 op, RgnHandle rgn, const GrafPort& port) {
  Writer w{rec->bytes};
  w.U8(op);
  w.C(port.fore);
  w.C(port.back);
  WriteRegionRects(w, rgn);
}

void RecordLine(PictureRecorder* rec, Point from, Point to, const GrafPort& port) {
  Writer w{rec->bytes};
  w.U8(kOpLine);
  w.C(port.fore);
  w.U16(static_cast<UInt16>(port.pen.pnSize.h));
  w.U16(static_cast<UInt16>(port.pen.pnSize.v));
  w.U16(static_cast<UInt16>(from.v));
  w.U16(static_cast<UInt16>(from.h));
  w.U16(static_cast<UInt16>(to.v));
  w.U16(static_cast<UInt16>(to.h));
}

void RecordCopyBits(PictureRecorder* rec, const PixMap& src, const Rect& srcRect, const Rect& dstRect, SInt16 mode,
                    RgnHandle mask) {
  // Only the part of the source rectangle inside the source pixels is kept,
  // with the matching part of the destination rectangle.
  Rect sr;
  if (!SectRect(&srcRect, &src.bounds, &sr)) return;
  Rect dr = sr;
  MapRect(&dr, &srcRect, &dstRect);
  if (EmptyRect(&dr)) return;
  SInt32 bpp = BytesPerPixel(src.pixelFormat);
  SInt32 width = sr.right - sr.left, height = sr.bottom - sr.top;
  // Host-order 16-bit pixels are stored as their big-endian formats, so that
  // the picture's bytes mean the same on every machine.
  const bool hostGray = src.pixelFormat == k16GrayHostPixelFormat;
  const bool hostARGB = src.pixelFormat == k64ARGBHostPixelFormat;
  Writer w{rec->bytes};
  w.U8(kOpCopyBits);
  w.U32(hostGray ? k16GrayPixelFormat : hostARGB ? k64ARGBPixelFormat : src.pixelFormat);
  w.U32(static_cast<UInt32>(width));
  w.U32(static_cast<UInt32>(height));
  w.R(dr);
  w.U16(static_cast<UInt16>(mode));
  w.U8(IsRegion(mask) ? 1 : 0);
  if (IsRegion(mask)) WriteRegionRects(w, mask);
  const ColorTable* ct = src.pmTable ? *src.pmTable : nullptr;
  bool indexed = src.pixelFormat == k8IndexedPixelFormat || src.pixelFormat == k8IndexedGrayPixelFormat;
  w.U8(indexed && ct ? 1 : 0);
  if (indexed && ct) {
    w.U16(static_cast<UInt16>(ct->ctSize));
    for (int i = 0; i < 256; ++i) w.C(ct->ctTable[i].rgb);
  }
  const UInt8* base = reinterpret_cast<const UInt8*>(src.baseAddr);
  for (SInt32 y = sr.top; y < sr.bottom; ++y) {
    const UInt8* row = base + static_cast<ptrdiff_t>(y - src.bounds.top) * src.pmRowBytes +
                       static_cast<ptrdiff_t>(sr.left - src.bounds.left) * bpp;
    const size_t length = static_cast<size_t>(width) * static_cast<size_t>(bpp);
    if (hostGray || hostARGB) {
      for (size_t k = 0; k < length; k += 2) {
        UInt16 v;
        std::memcpy(&v, row + k, 2);
        w.U16(v);
      }
    } else {
      w.Bytes(row, length);
    }
  }
}

void DisposeRecorder(PictureRecorder* rec) { delete rec; }

}  // namespace qd

PicHandle OpenCPicture(const OpenCPicParams* params) {
  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  if (!params || !qd::IsPort(port) || port->recorder) {
    qd::SetError(paramErr);
    return nullptr;
  }
  auto* rec = new PictureRecorder();
  rec->frame = params->srcRect;
  Handle h = NewHandleClear(static_cast<SInt32>(kHeaderSize));
  if (!h) {
    delete rec;
    qd::SetError(memFullErr);
    return nullptr;
  }
  UInt8* p = reinterpret_cast<UInt8*>(*h);
  WriteBE16(p, static_cast<UInt16>(kHeaderSize));
  WriteBE16(p + 2, static_cast<UInt16>(rec->frame.top));
  WriteBE16(p + 4, static_cast<UInt16>(rec->frame.left));
  WriteBE16(p + 6, static_cast<UInt16>(rec->frame.bottom));
  WriteBE16(p + 8, static_cast<UInt16>(rec->frame.right));
  WriteBE32(p + 10, kPictMagic);
  WriteBE16(p + 14, kPictVersion);
  rec->picture = reinterpret_cast<PicHandle>(h);
  port->recorder = rec;
  qd::SetError(noErr);
  return rec->picture;
}

PicHandle OpenPicture(const Rect* frame) {
  if (!frame) return nullptr;
  OpenCPicParams params{*frame, 72 << 16, 72 << 16, -2, 0, 0};
  return OpenCPicture(&params);
}

void ClosePicture() {
  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  if (!qd::IsPort(port) || !port->recorder) return;
  PictureRecorder* rec = port->recorder;
  port->recorder = nullptr;
  rec->bytes.push_back(kOpEnd);
  Handle h = reinterpret_cast<Handle>(rec->picture);
  SInt32 total = static_cast<SInt32>(kHeaderSize + rec->bytes.size());
  SetHandleSize(h, total);
  if (MemError() == noErr) {
    UInt8* p = reinterpret_cast<UInt8*>(*h);
    std::memcpy(p + kHeaderSize, rec->bytes.data(), rec->bytes.size());
    WriteBE16(p, static_cast<UInt16>(total));
    qd::SetError(noErr);
  } else {
    qd::SetError(memFullErr);
  }
  delete rec;
}

void DrawPicture(PicHandle pic, const Rect* dstRect) { qd::SetError(Play(pic, dstRect)); }

OSErr DrawTrimmedPicture(PicHandle pic, const Rect* dstRect, RgnHandle trimMask, Boolean, GWorldPtr) {
  if (!IsPictureBytes(pic) || !dstRect) return paramErr;
  RgnHandle saved = NewRgn();
  GetClip(saved);
  if (qd::IsRegion(trimMask)) {
    RgnHandle clip = NewRgn();
    SectRgn(saved, trimMask, clip);
    SetClip(clip);
    DisposeRgn(clip);
  }
  OSErr err = Play(pic, dstRect);
  SetClip(saved);
  DisposeRgn(saved);
  qd::SetError(err);
  return err;
}

void KillPicture(PicHandle pic) {
  if (pic) DisposeHandle(reinterpret_cast<Handle>(pic));
}

Rect* QDGetPictureBounds(PicHandle pic, Rect* outRect) {
  if (!outRect) return nullptr;
  if (!IsPictureBytes(pic)) {
    *outRect = Rect{0, 0, 0, 0};
    return nullptr;
  }
  const UInt8* p = reinterpret_cast<const UInt8*>(*reinterpret_cast<Handle>(pic));
  outRect->top = static_cast<SInt16>(ReadBE16(p + 2));
  outRect->left = static_cast<SInt16>(ReadBE16(p + 4));
  outRect->bottom = static_cast<SInt16>(ReadBE16(p + 6));
  outRect->right = static_cast<SInt16>(ReadBE16(p + 8));
  return outRect;
}

Boolean IsValidPicture(PicHandle pic) { return IsPictureBytes(pic); }
