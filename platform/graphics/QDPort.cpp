// Graphics worlds, pixel maps, colour tables, the drawing state and painting.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/graphics/QuickDrawInternal.h"

namespace {

thread_local OSErr tQDError = noErr;

std::mutex& PortsLock() {
  static std::mutex m;
  return m;
}
std::unordered_set<GrafPort*>& LivePorts() {
  static std::unordered_set<GrafPort*> s;
  return s;
}

std::atomic<GrafPort*> gCurrentPort{nullptr};
GDHandle MainDeviceHandle() {
  static GDevice* sDevice = reinterpret_cast<GDevice*>(&sDevice);
  return &sDevice;
}

bool IsIndexed(OSType f) { return f == k8IndexedPixelFormat || f == k8IndexedGrayPixelFormat; }

SInt16 PixelSizeOf(OSType f) { return static_cast<SInt16>(QTGetPixelSize(f)); }

UInt16 Gray16(UInt16 r, UInt16 g, UInt16 b) {
  return static_cast<UInt16>((static_cast<UInt32>(r) + g + b) / 3u);
}

// The 8-bit system palette: a 6x6x6 colour cube from white down (without
// black), ramps of red, green, blue and gray in the levels between the cube's,
// and black last.
void FillSystemPalette(ColorTable& ct) {
  static const UInt16 kRamp[10] = {0xEEEE, 0xDDDD, 0xBBBB, 0xAAAA, 0x8888, 0x7777, 0x5555, 0x4444, 0x2222, 0x1111};
  for (int i = 0; i < 215; ++i) {
    ct.ctTable[i].rgb.red = static_cast<UInt16>((5 - i / 36) * 0x3333);
    ct.ctTable[i].rgb.green = static_cast<UInt16>((5 - (i / 6) % 6) * 0x3333);
    ct.ctTable[i].rgb.blue = static_cast<UInt16>((5 - i % 6) * 0x3333);
  }
  for (int k = 0; k < 10; ++k) {
    ct.ctTable[215 + k].rgb = RGBColor{kRamp[k], 0, 0};
    ct.ctTable[225 + k].rgb = RGBColor{0, kRamp[k], 0};
    ct.ctTable[235 + k].rgb = RGBColor{0, 0, kRamp[k]};
    ct.ctTable[245 + k].rgb = RGBColor{kRamp[k], kRamp[k], kRamp[k]};
  }
  ct.ctTable[255].rgb = RGBColor{0, 0, 0};
}

CTabHandle NewTable() {
  Handle h = NewHandleClear(static_cast<SInt32>(sizeof(ColorTable)));
  return reinterpret_cast<CTabHandle>(h);
}

CTabHandle CopyTable(CTabHandle src) {
  CTabHandle t = NewTable();
  if (t && src && *src) {
    std::memcpy(*t, *src, sizeof(ColorTable));
    (**t).ctSize = std::clamp<SInt16>((**t).ctSize, 0, 255);
  }
  return t;
}

// True when entry i of the table is gray i x 257 for every i: pixels are intensities.
bool IsAscendingGrayRamp(const ColorTable& ct) {
  if (ct.ctSize != 255) return false;
  for (int i = 0; i < 256; ++i) {
    const RGBColor& c = ct.ctTable[i].rgb;
    UInt16 v = static_cast<UInt16>(i * 257);
    if (c.red != v || c.green != v || c.blue != v) return false;
  }
  return true;
}

UInt8 NearestIndex(const ColorTable& ct, const qd::Color16& c) {
  SInt64 best = INT64_MAX;
  int bestIndex = 0;
  for (int i = 0; i <= ct.ctSize; ++i) {
    const RGBColor& e = ct.ctTable[i].rgb;
    SInt64 dr = static_cast<SInt64>(e.red) - c.r, dg = static_cast<SInt64>(e.green) - c.g,
           db = static_cast<SInt64>(e.blue) - c.b;
    SInt64 d = dr * dr + dg * dg + db * db;
    if (d < best) {
      best = d;
      bestIndex = i;
    }
  }
  return static_cast<UInt8>(bestIndex);
}

GrafPort* NewPortRecord() {
  auto* p = new (std::nothrow) GrafPort();
  if (!p) return nullptr;
  p->pixMapPtr = &p->pixMap;
  p->clip = NewRgn();
  SetRectRgn(p->clip, -32767, -32767, 32767, 32767);
  p->pen.pnSize = Point{1, 1};
  p->pen.pnMode = patCopy;
  std::memset(p->pen.pnPat.pat, 0xFF, sizeof(p->pen.pnPat.pat));
  std::lock_guard<std::mutex> lock(PortsLock());
  LivePorts().insert(p);
  return p;
}

void FreePortRecord(GrafPort* p) {
  {
    std::lock_guard<std::mutex> lock(PortsLock());
    LivePorts().erase(p);
  }
  if (p->recorder) qd::DisposeRecorder(p->recorder);
  DisposeRgn(p->clip);
  if (p->ownsTable && p->pixMap.pmTable) DisposeHandle(reinterpret_cast<Handle>(p->pixMap.pmTable));
  p->magic = 0;
  delete p;
}

OSErr MakeWorld(GWorldPtr* out, OSType format, const Rect* bounds, CTabHandle table, void* base, SInt32 rowBytes) {
  if (!out) return paramErr;
  *out = nullptr;
  if (!bounds || EmptyRect(bounds)) return paramErr;
  SInt32 bpp = qd::BytesPerPixel(format);
  if (bpp == 0) return cDepthErr;
  SInt32 width = bounds->right - bounds->left, height = bounds->bottom - bounds->top;
  SInt32 minRow = width * bpp;
  GrafPort* p = NewPortRecord();
  if (!p) return memFullErr;
  if (base) {
    if (rowBytes < minRow) {
      FreePortRecord(p);
      return paramErr;
    }
  } else {
    rowBytes = (minRow + 15) & ~15;
    p->pixels.reset(new (std::nothrow) UInt8[static_cast<size_t>(rowBytes) * static_cast<size_t>(height)]());
    if (!p->pixels) {
      FreePortRecord(p);
      return memFullErr;
    }
    base = p->pixels.get();
    p->ownsPixels = true;
  }
  PixMap& pm = p->pixMap;
  pm.baseAddr = static_cast<Ptr>(base);
  pm.pmRowBytes = rowBytes;
  pm.rowBytes = static_cast<SInt16>(0x8000 | (rowBytes & 0x3FFF));
  pm.bounds = *bounds;
  pm.hRes = pm.vRes = 72 << 16;
  pm.pixelFormat = format;
  pm.pixelSize = PixelSizeOf(format);
  pm.pixelType = IsIndexed(format) ? 0 : 16;
  const bool gray16 = format == k16GrayPixelFormat || format == k16GrayHostPixelFormat;
  const bool argb16 = format == k64ARGBPixelFormat || format == k64ARGBHostPixelFormat;
  pm.cmpSize = (gray16 || argb16 || format == k48RGBPixelFormat) ? 16 : 8;
  pm.cmpCount = argb16 ? 4 : (IsIndexed(format) || gray16) ? 1 : 3;
  if (IsIndexed(format)) {
    pm.pmTable = table ? CopyTable(table) : GetCTable(format == k8IndexedGrayPixelFormat ? 40 : 8);
    if (!pm.pmTable) {
      FreePortRecord(p);
      return memFullErr;
    }
    p->ownsTable = true;
  }
  p->portRect = *bounds;
  *out = p;
  return noErr;
}

GrafPort* ScreenPort() {
  static GrafPort* sScreen = [] {
    GWorldPtr w = nullptr;
    Rect r{0, 0, 480, 640};
    MakeWorld(&w, k32ARGBPixelFormat, &r, nullptr, nullptr, 0);
    return w;
  }();
  return sScreen;
}

GrafPort* Current() {
  GrafPort* p = gCurrentPort.load(std::memory_order_acquire);
  if (!p) {
    p = ScreenPort();
    gCurrentPort.store(p, std::memory_order_release);
  }
  return p;
}

qd::Color16 ToColor16(const RGBColor& c) { return qd::Color16{0xFFFF, c.red, c.green, c.blue}; }

void FillRectInCurrent(const Rect* r, const RGBColor& color) {
  GrafPort* port = Current();
  RgnHandle rgn = NewRgn();
  RectRgn(rgn, r);
  qd::ClipToPort(port, rgn);
  UInt8 pixel[8];
  qd::EncodePixel(port->pixMap, ToColor16(color), pixel);
  qd::FillRegionPixels(port->pixMap, rgn, pixel);
  DisposeRgn(rgn);
}

void FillRgnInCurrent(RgnHandle src, const RGBColor& color) {
  GrafPort* port = Current();
  RgnHandle rgn = NewRgn();
  CopyRgn(src, rgn);
  qd::ClipToPort(port, rgn);
  UInt8 pixel[8];
  qd::EncodePixel(port->pixMap, ToColor16(color), pixel);
  qd::FillRegionPixels(port->pixMap, rgn, pixel);
  DisposeRgn(rgn);
}

bool PenDraws(const GrafPort* port) { return port->penVis >= 0 && port->recorder == nullptr; }

}  // namespace

// ---- Internal services

namespace qd {

bool IsPort(CGrafPtr port) {
  if (!port) return false;
  std::lock_guard<std::mutex> lock(PortsLock());
  return LivePorts().count(port) != 0;
}

void SetError(OSErr err) { tQDError = err; }

SInt32 BytesPerPixel(OSType f) {
  switch (f) {
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: return 1;
    case k24RGBPixelFormat: return 3;
    case k32ARGBPixelFormat: return 4;
    case k16GrayPixelFormat:
    case k16GrayHostPixelFormat: return 2;
    case k48RGBPixelFormat: return 6;
    case k64ARGBPixelFormat:
    case k64ARGBHostPixelFormat: return 8;
    default: return 0;
  }
}

bool IsSupportedFormat(OSType f) { return BytesPerPixel(f) != 0; }

void EncodePixel(const PixMap& pm, const Color16& c, UInt8* out) { EncodeRow(pm, &c, 1, out); }

void DecodeRow(const PixMap& pm, const UInt8* s, SInt32 count, Color16* out) {
  switch (pm.pixelFormat) {
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: {
      const ColorTable* ct = pm.pmTable ? *pm.pmTable : nullptr;
      for (SInt32 i = 0; i < count; ++i) {
        UInt8 v = s[i];
        if (ct && v <= ct->ctSize) {
          const RGBColor& e = ct->ctTable[v].rgb;
          out[i] = Color16{0xFFFF, e.red, e.green, e.blue};
        } else {
          UInt16 g = static_cast<UInt16>(v * 257);
          out[i] = Color16{0xFFFF, g, g, g};
        }
      }
      break;
    }
    case k24RGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 3)
        out[i] = Color16{0xFFFF, static_cast<UInt16>(s[0] * 257), static_cast<UInt16>(s[1] * 257),
                         static_cast<UInt16>(s[2] * 257)};
      break;
    case k32ARGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 4)
        out[i] = Color16{static_cast<UInt16>(s[0] * 257), static_cast<UInt16>(s[1] * 257),
                         static_cast<UInt16>(s[2] * 257), static_cast<UInt16>(s[3] * 257)};
      break;
    case k16GrayPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 2) {
        UInt16 g = ReadBE16(s);
        out[i] = Color16{0xFFFF, g, g, g};
      }
      break;
    case k48RGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 6) out[i] = Color16{0xFFFF, ReadBE16(s), ReadBE16(s + 2), ReadBE16(s + 4)};
      break;
    case k64ARGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 8)
        out[i] = Color16{ReadBE16(s), ReadBE16(s + 2), ReadBE16(s + 4), ReadBE16(s + 6)};
      break;
    case k16GrayHostPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 2) {
        UInt16 g;
        std::memcpy(&g, s, 2);
        out[i] = Color16{0xFFFF, g, g, g};
      }
      break;
    case k64ARGBHostPixelFormat:
      for (SInt32 i = 0; i < count; ++i, s += 8) std::memcpy(&out[i], s, 8);
      break;
    default: std::memset(static_cast<void*>(out), 0, sizeof(Color16) * static_cast<size_t>(count)); break;
  }
}

void EncodeRow(const PixMap& pm, const Color16* c, SInt32 count, UInt8* out) {
  switch (pm.pixelFormat) {
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: {
      const ColorTable* ct = pm.pmTable ? *pm.pmTable : nullptr;
      if (!ct || IsAscendingGrayRamp(*ct)) {
        for (SInt32 i = 0; i < count; ++i) out[i] = static_cast<UInt8>((Gray16(c[i].r, c[i].g, c[i].b) + 128) / 257);
      } else {
        for (SInt32 i = 0; i < count; ++i) out[i] = NearestIndex(*ct, c[i]);
      }
      break;
    }
    case k24RGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 3) {
        out[0] = static_cast<UInt8>(c[i].r >> 8);
        out[1] = static_cast<UInt8>(c[i].g >> 8);
        out[2] = static_cast<UInt8>(c[i].b >> 8);
      }
      break;
    case k32ARGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 4) {
        out[0] = static_cast<UInt8>(c[i].a >> 8);
        out[1] = static_cast<UInt8>(c[i].r >> 8);
        out[2] = static_cast<UInt8>(c[i].g >> 8);
        out[3] = static_cast<UInt8>(c[i].b >> 8);
      }
      break;
    case k16GrayPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 2) WriteBE16(out, Gray16(c[i].r, c[i].g, c[i].b));
      break;
    case k48RGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 6) {
        WriteBE16(out, c[i].r);
        WriteBE16(out + 2, c[i].g);
        WriteBE16(out + 4, c[i].b);
      }
      break;
    case k64ARGBPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 8) {
        WriteBE16(out, c[i].a);
        WriteBE16(out + 2, c[i].r);
        WriteBE16(out + 4, c[i].g);
        WriteBE16(out + 6, c[i].b);
      }
      break;
    case k16GrayHostPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 2) {
        UInt16 g = Gray16(c[i].r, c[i].g, c[i].b);
        std::memcpy(out, &g, 2);
      }
      break;
    case k64ARGBHostPixelFormat:
      for (SInt32 i = 0; i < count; ++i, out += 8) std::memcpy(out, &c[i], 8);
      break;
    default: break;
  }
}

void FillRegionPixels(const PixMap& pm, RgnHandle rgn, const UInt8* pixel) {
  SInt32 bpp = BytesPerPixel(pm.pixelFormat);
  if (bpp == 0 || !pm.baseAddr) return;
  for (SInt32 i = 0; i < CountRgnRects(rgn); ++i) {
    Rect r;
    GetRgnRect(rgn, i, &r);
    SInt32 w = r.right - r.left;
    UInt8* first = reinterpret_cast<UInt8*>(pm.baseAddr) + static_cast<ptrdiff_t>(r.top - pm.bounds.top) * pm.pmRowBytes +
                   static_cast<ptrdiff_t>(r.left - pm.bounds.left) * bpp;
    for (SInt32 x = 0; x < w; ++x) std::memcpy(first + x * bpp, pixel, static_cast<size_t>(bpp));
    UInt8* row = first;
    for (SInt32 y = r.top + 1; y < r.bottom; ++y) {
      row += pm.pmRowBytes;
      std::memcpy(row, first, static_cast<size_t>(w * bpp));
    }
  }
}

void ClipToPort(CGrafPtr port, RgnHandle ioRgn) {
  RgnHandle bounds = NewRgn();
  RectRgn(bounds, &port->pixMap.bounds);
  SectRgn(ioRgn, bounds, ioRgn);
  SectRgn(ioRgn, port->clip, ioRgn);
  DisposeRgn(bounds);
}

}  // namespace qd

// ---- Colour tables

CTabHandle GetCTable(SInt16 ctID) {
  if (ctID != 8 && ctID != 40) return nullptr;
  CTabHandle t = NewTable();
  if (!t) return nullptr;
  ColorTable& ct = **t;
  ct.ctSeed = ctID;
  ct.ctSize = 255;
  for (int i = 0; i < 256; ++i) ct.ctTable[i].value = static_cast<SInt16>(i);
  if (ctID == 8) {
    FillSystemPalette(ct);
  } else {
    for (int i = 0; i < 256; ++i) {
      UInt16 v = static_cast<UInt16>(i * 257);
      ct.ctTable[i].rgb = RGBColor{v, v, v};
    }
  }
  return t;
}

void DisposeCTable(CTabHandle ct) {
  if (ct) DisposeHandle(reinterpret_cast<Handle>(ct));
}

// ---- Graphics worlds

QDErr NewGWorld(GWorldPtr* offscreen, SInt16 pixelDepth, const Rect* bounds, CTabHandle cTable, GDHandle,
                GWorldFlags) {
  OSType format;
  switch (pixelDepth) {
    case 8: format = k8IndexedPixelFormat; break;
    case 0:
    case 24:
    case 32: format = k32ARGBPixelFormat; break;
    case 40: format = k8IndexedGrayPixelFormat; break;
    default:
      if (offscreen) *offscreen = nullptr;
      return cDepthErr;
  }
  return MakeWorld(offscreen, format, bounds, cTable, nullptr, 0);
}

QDErr NewGWorldFromPtr(GWorldPtr* offscreen, UInt32 pixelFormat, const Rect* bounds, CTabHandle cTable, GDHandle,
                       GWorldFlags, Ptr newBuffer, SInt32 rowBytes) {
  if (!newBuffer) {
    if (offscreen) *offscreen = nullptr;
    return paramErr;
  }
  return MakeWorld(offscreen, pixelFormat, bounds, cTable, newBuffer, rowBytes);
}

OSErr QTNewGWorld(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable, GDHandle,
                  GWorldFlags) {
  return MakeWorld(offscreen, pixelFormat, bounds, cTable, nullptr, 0);
}

OSErr QTNewGWorldFromPtr(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable, GDHandle,
                         GWorldFlags, void* baseAddr, SInt32 rowBytes) {
  if (!baseAddr) {
    if (offscreen) *offscreen = nullptr;
    return paramErr;
  }
  return MakeWorld(offscreen, pixelFormat, bounds, cTable, baseAddr, rowBytes);
}

void DisposeGWorld(GWorldPtr world) {
  if (!qd::IsPort(world) || world == ScreenPort()) return;
  GrafPort* expected = world;
  gCurrentPort.compare_exchange_strong(expected, ScreenPort());
  FreePortRecord(world);
}

void GetGWorld(CGrafPtr* port, GDHandle* device) {
  if (port) *port = Current();
  if (device) *device = MainDeviceHandle();
}

void SetGWorld(CGrafPtr port, GDHandle) {
  if (qd::IsPort(port)) gCurrentPort.store(port, std::memory_order_release);
}

void GetPort(GrafPtr* port) {
  if (port) *port = Current();
}
void SetPort(GrafPtr port) { SetGWorld(port, nullptr); }
CGrafPtr GetScreenPort() { return ScreenPort(); }
Boolean IsValidPort(CGrafPtr port) { return qd::IsPort(port); }
GDHandle GetGDevice() { return MainDeviceHandle(); }
void SetGDevice(GDHandle) {}
GDHandle GetMainDevice() { return MainDeviceHandle(); }

PixMapHandle GetGWorldPixMap(GWorldPtr world) { return qd::IsPort(world) ? &world->pixMapPtr : nullptr; }
PixMapHandle GetPortPixMap(CGrafPtr port) { return GetGWorldPixMap(port); }
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port) {
  return qd::IsPort(port) ? reinterpret_cast<const BitMap*>(&port->pixMap) : nullptr;
}
Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
  if (!rect) return nullptr;
  *rect = qd::IsPort(port) ? port->portRect : Rect{0, 0, 0, 0};
  return rect;
}

void SetOrigin(SInt16 h, SInt16 v) {
  GrafPort* p = Current();
  SInt16 dh = static_cast<SInt16>(h - p->portRect.left), dv = static_cast<SInt16>(v - p->portRect.top);
  OffsetRect(&p->portRect, dh, dv);
  OffsetRect(&p->pixMap.bounds, dh, dv);
}

namespace {
GrafPort* PortOfPixMap(PixMapHandle pm) {
  if (!pm) return nullptr;
  std::lock_guard<std::mutex> lock(PortsLock());
  for (GrafPort* p : LivePorts())
    if (&p->pixMapPtr == pm) return p;
  return nullptr;
}
}  // namespace

Boolean LockPixels(PixMapHandle pm) {
  if (GrafPort* p = PortOfPixMap(pm)) p->pixelsState |= pixelsLocked;
  return pm != nullptr;
}
void UnlockPixels(PixMapHandle pm) {
  if (GrafPort* p = PortOfPixMap(pm)) p->pixelsState &= ~pixelsLocked;
}
GWorldFlags GetPixelsState(PixMapHandle pm) {
  GrafPort* p = PortOfPixMap(pm);
  return p ? p->pixelsState : 0;
}
void SetPixelsState(PixMapHandle pm, GWorldFlags state) {
  if (GrafPort* p = PortOfPixMap(pm)) p->pixelsState = state & (pixelsLocked | pixelsPurgeable);
}
Ptr GetPixBaseAddr(PixMapHandle pm) { return pm && *pm ? (**pm).baseAddr : nullptr; }
SInt32 GetPixRowBytes(PixMapHandle pm) { return pm && *pm ? (**pm).pmRowBytes : 0; }
SInt32 QTGetPixMapHandleRowBytes(PixMapHandle pm) { return GetPixRowBytes(pm); }
SInt32 QTGetPixMapPtrRowBytes(PixMapPtr pm) { return pm ? pm->pmRowBytes : 0; }
SInt32 QTGetPixelSize(OSType pixelFormat) {
  switch (pixelFormat) {
    case k1MonochromePixelFormat: return 1;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: return 8;
    case k24RGBPixelFormat: return 24;
    case k32ARGBPixelFormat: return 32;
    case k16GrayPixelFormat:
    case k16GrayHostPixelFormat: return 16;
    case k48RGBPixelFormat: return 48;
    case k64ARGBPixelFormat:
    case k64ARGBHostPixelFormat: return 64;
    default: return 0;
  }
}
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds) {
  if (!bounds) return nullptr;
  *bounds = pm && *pm ? (**pm).bounds : Rect{0, 0, 0, 0};
  return bounds;
}
SInt16 GetPixDepth(PixMapHandle pm) { return pm && *pm ? (**pm).pixelSize : 0; }

OSErr QDError() { return tQDError; }

// ---- Drawing state

void RGBForeColor(const RGBColor* c) {
  if (c) Current()->fore = *c;
}
void RGBBackColor(const RGBColor* c) {
  if (c) Current()->back = *c;
}
void GetForeColor(RGBColor* c) {
  if (c) *c = Current()->fore;
}
void GetBackColor(RGBColor* c) {
  if (c) *c = Current()->back;
}

namespace {
RGBColor ClassicColor(SInt32 color) {
  switch (color) {
    case whiteColor: return RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    case redColor: return RGBColor{0xFFFF, 0, 0};
    case greenColor: return RGBColor{0, 0xFFFF, 0};
    case blueColor: return RGBColor{0, 0, 0xFFFF};
    case cyanColor: return RGBColor{0, 0xFFFF, 0xFFFF};
    case magentaColor: return RGBColor{0xFFFF, 0, 0xFFFF};
    case yellowColor: return RGBColor{0xFFFF, 0xFFFF, 0};
    default: return RGBColor{0, 0, 0};
  }
}
}  // namespace

void ForeColor(SInt32 color) { Current()->fore = ClassicColor(color); }
void BackColor(SInt32 color) { Current()->back = ClassicColor(color); }

void PenNormal() {
  GrafPort* p = Current();
  p->pen.pnSize = Point{1, 1};
  p->pen.pnMode = patCopy;
  std::memset(p->pen.pnPat.pat, 0xFF, sizeof(p->pen.pnPat.pat));
}
void PenSize(SInt16 width, SInt16 height) { Current()->pen.pnSize = Point{height, width}; }
void PenMode(SInt16 mode) { Current()->pen.pnMode = mode; }
void HidePen() { --Current()->penVis; }
void ShowPen() { ++Current()->penVis; }
void GetPenState(PenState* state) {
  if (state) *state = Current()->pen;
}
void SetPenState(const PenState* state) {
  if (state) Current()->pen = *state;
}
void GetPen(Point* pt) {
  if (pt) *pt = Current()->pen.pnLoc;
}
void MoveTo(SInt16 h, SInt16 v) { Current()->pen.pnLoc = Point{v, h}; }
void Move(SInt16 dh, SInt16 dv) {
  Point& l = Current()->pen.pnLoc;
  MoveTo(static_cast<SInt16>(l.h + dh), static_cast<SInt16>(l.v + dv));
}

void LineTo(SInt16 h, SInt16 v) {
  GrafPort* p = Current();
  Point from = p->pen.pnLoc, to{v, h};
  p->pen.pnLoc = to;
  if (p->recorder) {
    qd::RecordLine(p->recorder, from, to, *p);
    return;
  }
  if (!PenDraws(p) || p->pen.pnSize.h <= 0 || p->pen.pnSize.v <= 0) return;
  // Bresenham over the pen's top-left corner; each step paints the pen rectangle.
  RgnHandle rgn = NewRgn(), one = NewRgn();
  SInt32 x0 = from.h, y0 = from.v, x1 = to.h, y1 = to.v;
  SInt32 dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0), sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  SInt32 err = dx + dy;
  for (;;) {
    Rect r{static_cast<SInt16>(y0), static_cast<SInt16>(x0), static_cast<SInt16>(y0 + p->pen.pnSize.v),
           static_cast<SInt16>(x0 + p->pen.pnSize.h)};
    RectRgn(one, &r);
    UnionRgn(rgn, one, rgn);
    if (x0 == x1 && y0 == y1) break;
    SInt32 e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  FillRgnInCurrent(rgn, p->fore);
  DisposeRgn(one);
  DisposeRgn(rgn);
}

void Line(SInt16 dh, SInt16 dv) {
  Point l = Current()->pen.pnLoc;
  LineTo(static_cast<SInt16>(l.h + dh), static_cast<SInt16>(l.v + dv));
}

void TextFont(SInt16 font) { Current()->txFont = font; }
void TextSize(SInt16 size) { Current()->txSize = size; }
void TextFace(SInt16 face) { Current()->txFace = face; }
void TextMode(SInt16 mode) { Current()->txMode = mode; }
SInt16 GetPortTextFont(CGrafPtr port) { return qd::IsPort(port) ? port->txFont : 0; }
SInt16 GetPortTextSize(CGrafPtr port) { return qd::IsPort(port) ? port->txSize : 0; }
SInt16 GetPortTextFace(CGrafPtr port) { return qd::IsPort(port) ? port->txFace : 0; }
SInt16 GetPortTextMode(CGrafPtr port) { return qd::IsPort(port) ? port->txMode : 0; }

void GetClip(RgnHandle rgn) { CopyRgn(Current()->clip, rgn); }
void SetClip(RgnHandle rgn) {
  if (qd::IsRegion(rgn)) CopyRgn(rgn, Current()->clip);
}
void ClipRect(const Rect* r) { RectRgn(Current()->clip, r); }

// ---- Painting

void PaintRect(const Rect* r) {
  GrafPort* p = Current();
  if (!r) return;
  if (p->recorder) return qd::RecordRect(p->recorder, 1, *r, *p);
  if (PenDraws(p)) FillRectInCurrent(r, p->fore);
}

void EraseRect(const Rect* r) {
  GrafPort* p = Current();
  if (!r) return;
  if (p->recorder) return qd::RecordRect(p->recorder, 2, *r, *p);
  if (PenDraws(p)) FillRectInCurrent(r, p->back);
}

void FrameRect(const Rect* r) {
  GrafPort* p = Current();
  if (!r || EmptyRect(r)) return;
  if (p->recorder) return qd::RecordRect(p->recorder, 3, *r, *p);
  if (!PenDraws(p)) return;
  SInt16 pw = p->pen.pnSize.h, ph = p->pen.pnSize.v;
  if (pw <= 0 || ph <= 0) return;
  Rect inner = *r;
  InsetRect(&inner, pw, ph);
  RgnHandle outer = NewRgn(), hole = NewRgn();
  RectRgn(outer, r);
  RectRgn(hole, &inner);
  DiffRgn(outer, hole, outer);
  FillRgnInCurrent(outer, p->fore);
  DisposeRgn(hole);
  DisposeRgn(outer);
}

void PaintRgn(RgnHandle rgn) {
  GrafPort* p = Current();
  if (!qd::IsRegion(rgn)) return;
  if (p->recorder) return qd::RecordRgn(p->recorder, 4, rgn, *p);
  if (PenDraws(p)) FillRgnInCurrent(rgn, p->fore);
}

void EraseRgn(RgnHandle rgn) {
  GrafPort* p = Current();
  if (!qd::IsRegion(rgn)) return;
  if (p->recorder) return qd::RecordRgn(p->recorder, 5, rgn, *p);
  if (PenDraws(p)) FillRgnInCurrent(rgn, p->back);
}
