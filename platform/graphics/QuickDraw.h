// QuickDraw: offscreen graphics worlds over our own or the caller's pixel
// memory, pixel maps, colour tables, regions kept as banded rectangle lists,
// the port's drawing state, painting, CopyBits and pictures kept as flat byte
// blobs (a Memory Manager handle, so they can be copied and stored as bytes).
//
// The current port is process-wide, as on the original platform: it belongs to
// the main thread and the cooperative threads, which never run at the same
// time. Preemptive tasks call nothing here except the pixel-map accessors and
// CopyBits between ports they were handed (which ignores the current port's
// clip unless the destination is the current port).
//
// 16-bit pixel formats ('b16g', 'b48r', 'b64a') keep every component as a
// big-endian 16-bit value in memory; 'h16g' and 'h64a' keep them in host order.
#pragma once

#include "platform/base/MacTypes.h"

typedef SInt16 QDErr;
typedef UInt32 GWorldFlags;
typedef SInt16 PixelsState;

// Pixel formats.
constexpr OSType k1MonochromePixelFormat = 1;
constexpr OSType k8IndexedPixelFormat = 8;
constexpr OSType k24RGBPixelFormat = 24;
constexpr OSType k32ARGBPixelFormat = 32;
constexpr OSType k8IndexedGrayPixelFormat = 40;
constexpr OSType k16GrayPixelFormat = 'b16g';
constexpr OSType k48RGBPixelFormat = 'b48r';
constexpr OSType k64ARGBPixelFormat = 'b64a';
// 16-bit gray and ARGB with the components in host byte order: the formats of
// GWorld views over image buffers, whose 16-bit components are host order.
constexpr OSType k16GrayHostPixelFormat = 'h16g';
constexpr OSType k64ARGBHostPixelFormat = 'h64a';

// GWorld flags and pixel states.
constexpr GWorldFlags pixPurge = 1u << 0;
constexpr GWorldFlags noNewDevice = 1u << 1;
constexpr GWorldFlags useTempMem = 1u << 2;
constexpr GWorldFlags keepLocal = 1u << 3;
constexpr GWorldFlags useDistantHdwrMem = 1u << 4;
constexpr GWorldFlags useLocalHdwrMem = 1u << 5;
constexpr GWorldFlags pixelsPurgeable = 1u << 6;
constexpr GWorldFlags pixelsLocked = 1u << 7;
constexpr GWorldFlags kAllocDirectDrawSurface = 1u << 14;

// Transfer modes.
constexpr SInt16 srcCopy = 0;
constexpr SInt16 srcOr = 1;
constexpr SInt16 srcXor = 2;
constexpr SInt16 srcBic = 3;
constexpr SInt16 patCopy = 8;
constexpr SInt16 patOr = 9;
constexpr SInt16 patXor = 10;
constexpr SInt16 patBic = 11;
constexpr SInt16 ditherCopy = 64;

// The classic eight colours of ForeColor and BackColor.
constexpr SInt32 blackColor = 33;
constexpr SInt32 whiteColor = 30;
constexpr SInt32 redColor = 205;
constexpr SInt32 greenColor = 341;
constexpr SInt32 blueColor = 409;
constexpr SInt32 cyanColor = 273;
constexpr SInt32 magentaColor = 137;
constexpr SInt32 yellowColor = 69;

// Text faces.
constexpr SInt16 normal = 0;
constexpr SInt16 bold = 1;
constexpr SInt16 italic = 2;
constexpr SInt16 underline = 4;

constexpr OSErr noColorErr = -10;  // no colour table for a format that needs one
constexpr OSErr cMatchErr = -150;
constexpr OSErr cDepthErr = -157;
constexpr OSErr noMemForPictPlaybackErr = -145;
constexpr OSErr pictInfoVersionErr = -11000;

struct Pattern {
  UInt8 pat[8];
};

struct ColorSpec {
  SInt16 value;
  RGBColor rgb;
};

// A colour table always has room for 256 entries; ctSize is the count minus one.
struct ColorTable {
  SInt32 ctSeed;
  SInt16 ctFlags;
  SInt16 ctSize;
  ColorSpec ctTable[256];
};
typedef ColorTable* CTabPtr;
typedef CTabPtr* CTabHandle;

struct BitMap {
  Ptr baseAddr;
  SInt16 rowBytes;
  Rect bounds;
};

// A pixel map begins like a BitMap (rowBytes has its top bit set). The full
// row byte count, which may exceed the 14 bits of rowBytes, is pmRowBytes.
struct PixMap {
  Ptr baseAddr;
  SInt16 rowBytes;
  Rect bounds;
  SInt16 pmVersion;
  SInt16 packType;
  SInt32 packSize;
  Fixed hRes;
  Fixed vRes;
  SInt16 pixelType;
  SInt16 pixelSize;
  SInt16 cmpCount;
  SInt16 cmpSize;
  OSType pixelFormat;
  CTabHandle pmTable;
  SInt32 pmRowBytes;
};
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

struct PenState {
  Point pnLoc;
  Point pnSize;
  SInt16 pnMode;
  Pattern pnPat;
};

struct MacRegion;
typedef MacRegion* RgnHandle;

struct GrafPort;
typedef GrafPort* GrafPtr;
typedef GrafPtr CGrafPtr;
typedef CGrafPtr GWorldPtr;

struct GDevice;
typedef GDevice** GDHandle;

// Pictures: opaque byte blobs in a Memory Manager handle.
struct Picture;
typedef Picture* PicPtr;
typedef PicPtr* PicHandle;

struct OpenCPicParams {
  Rect srcRect;
  Fixed hRes;
  Fixed vRes;
  SInt16 version;
  SInt16 reserved1;
  SInt32 reserved2;
};

// ---- Points and rectangles
void SetPt(Point* pt, SInt16 h, SInt16 v);
Boolean EqualPt(Point a, Point b);
void AddPt(Point src, Point* dst);
void SubPt(Point src, Point* dst);
void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom);
void OffsetRect(Rect* r, SInt16 dh, SInt16 dv);
// Insets by (dh, dv); a result without area becomes (0, 0, 0, 0).
void InsetRect(Rect* r, SInt16 dh, SInt16 dv);
// The intersection; false (and an empty rectangle) when they do not meet.
Boolean SectRect(const Rect* a, const Rect* b, Rect* dst);
// The smallest rectangle holding both (an empty one does not count).
void UnionRect(const Rect* a, const Rect* b, Rect* dst);
Boolean EmptyRect(const Rect* r);
Boolean EqualRect(const Rect* a, const Rect* b);
Boolean PtInRect(Point pt, const Rect* r);
// Maps a point or rectangle from srcRect's coordinates to dstRect's, scaling.
void MapPt(Point* pt, const Rect* srcRect, const Rect* dstRect);
void MapRect(Rect* r, const Rect* srcRect, const Rect* dstRect);

// ---- Regions
RgnHandle NewRgn();
void DisposeRgn(RgnHandle rgn);
void CopyRgn(RgnHandle src, RgnHandle dst);
void SetEmptyRgn(RgnHandle rgn);
void SetRectRgn(RgnHandle rgn, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom);
void RectRgn(RgnHandle rgn, const Rect* r);
void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void OffsetRgn(RgnHandle rgn, SInt16 dh, SInt16 dv);
void MapRgn(RgnHandle rgn, const Rect* srcRect, const Rect* dstRect);
Boolean EmptyRgn(RgnHandle rgn);
Boolean EqualRgn(RgnHandle a, RgnHandle b);
Boolean IsRegionRectangular(RgnHandle rgn);
Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds);
Boolean PtInRgn(Point pt, RgnHandle rgn);
Boolean RectInRgn(const Rect* r, RgnHandle rgn);
// The region's rectangles in band order (top to bottom, left to right), without overlap.
SInt32 CountRgnRects(RgnHandle rgn);
Boolean GetRgnRect(RgnHandle rgn, SInt32 inIndex, Rect* outRect);

// ---- Colour tables
// A new copy of a standard table: 8 (the system palette of 8-bit indexed
// pixels) or 40 (256 grays, entry i = i x 257); nil for other ids.
CTabHandle GetCTable(SInt16 ctID);
void DisposeCTable(CTabHandle ct);

// ---- Graphics worlds
QDErr NewGWorld(GWorldPtr* offscreen, SInt16 pixelDepth, const Rect* bounds, CTabHandle cTable, GDHandle device,
                GWorldFlags flags);
QDErr NewGWorldFromPtr(GWorldPtr* offscreen, UInt32 pixelFormat, const Rect* bounds, CTabHandle cTable,
                       GDHandle device, GWorldFlags flags, Ptr newBuffer, SInt32 rowBytes);
OSErr QTNewGWorld(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable, GDHandle device,
                  GWorldFlags flags);
OSErr QTNewGWorldFromPtr(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable,
                         GDHandle device, GWorldFlags flags, void* baseAddr, SInt32 rowBytes);
// Disposes of the world (its own pixel memory too); when it is the current
// port, the screen port becomes current.
void DisposeGWorld(GWorldPtr world);
void GetGWorld(CGrafPtr* port, GDHandle* device);
void SetGWorld(CGrafPtr port, GDHandle device);
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);
// The port every program starts with (32-bit ARGB).
CGrafPtr GetScreenPort();
Boolean IsValidPort(CGrafPtr port);
GDHandle GetGDevice();
void SetGDevice(GDHandle device);
GDHandle GetMainDevice();

PixMapHandle GetGWorldPixMap(GWorldPtr world);
PixMapHandle GetPortPixMap(CGrafPtr port);
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port);
Rect* GetPortBounds(CGrafPtr port, Rect* rect);
// Moves the port's coordinate system so that its top-left corner is (h, v);
// pixel map bounds move with it.
void SetOrigin(SInt16 h, SInt16 v);

Boolean LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
GWorldFlags GetPixelsState(PixMapHandle pm);
void SetPixelsState(PixMapHandle pm, GWorldFlags state);
Ptr GetPixBaseAddr(PixMapHandle pm);
SInt32 GetPixRowBytes(PixMapHandle pm);
SInt32 QTGetPixMapHandleRowBytes(PixMapHandle pm);
SInt32 QTGetPixMapPtrRowBytes(PixMapPtr pm);
// Bits per pixel of a pixel format (0 when unknown).
SInt32 QTGetPixelSize(OSType pixelFormat);
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds);
SInt16 GetPixDepth(PixMapHandle pm);

// ---- Drawing state of the current port
void RGBForeColor(const RGBColor* c);
void RGBBackColor(const RGBColor* c);
void GetForeColor(RGBColor* c);
void GetBackColor(RGBColor* c);
void ForeColor(SInt32 color);
void BackColor(SInt32 color);
void PenNormal();
void PenSize(SInt16 width, SInt16 height);
void PenMode(SInt16 mode);
void HidePen();
void ShowPen();
void GetPenState(PenState* state);
void SetPenState(const PenState* state);
void GetPen(Point* pt);
void MoveTo(SInt16 h, SInt16 v);
void Move(SInt16 dh, SInt16 dv);
void LineTo(SInt16 h, SInt16 v);
void Line(SInt16 dh, SInt16 dv);
void TextFont(SInt16 font);
void TextSize(SInt16 size);
void TextFace(SInt16 face);
void TextMode(SInt16 mode);
SInt16 GetPortTextFont(CGrafPtr port);
SInt16 GetPortTextSize(CGrafPtr port);
SInt16 GetPortTextFace(CGrafPtr port);
SInt16 GetPortTextMode(CGrafPtr port);
void GetClip(RgnHandle rgn);
void SetClip(RgnHandle rgn);
void ClipRect(const Rect* r);

// ---- Painting into the current port (clipped to its clip region and pixels)
void PaintRect(const Rect* r);
void EraseRect(const Rect* r);
void FrameRect(const Rect* r);
void PaintRgn(RgnHandle rgn);
void EraseRgn(RgnHandle rgn);

// ---- Transfer between pixel maps: srcCopy (ditherCopy is accepted and ignored),
// nearest-neighbour scaling, the mask region in destination coordinates. When
// the destination is the current port its clip region applies too.
void CopyBits(const BitMap* src, const BitMap* dst, const Rect* srcRect, const Rect* dstRect, SInt16 mode,
              RgnHandle maskRgn);
// The result of the last drawing call on this thread.
OSErr QDError();

// ---- Text (FreeType; the port's font, size and face; DejaVu Sans faces)
struct FontInfo {
  SInt16 ascent;
  SInt16 descent;
  SInt16 widMax;
  SInt16 leading;
};
constexpr SInt16 systemFont = 0;
constexpr SInt16 applFont = 1;
typedef SInt8 StyledLineBreakCode;
constexpr StyledLineBreakCode smBreakWord = 0;
constexpr StyledLineBreakCode smBreakChar = 1;
constexpr StyledLineBreakCode smBreakOverflow = 2;

// Metrics of the current port's font in whole pixels (size 0 means 12).
void GetFontInfo(FontInfo* info);
SInt16 CharWidth(SInt16 ch);
SInt16 StringWidth(ConstStr255Param s);
SInt16 TextWidth(const void* textBuf, SInt16 firstByte, SInt16 byteCount);
// Draws at the pen (the baseline's left end) in the foreground colour, blending
// the glyphs' coverage; the pen moves by the text's width.
void DrawChar(SInt16 ch);
void DrawString(ConstStr255Param s);
void DrawText(const void* textBuf, SInt16 firstByte, SInt16 byteCount);
// The longest start of text[textStart, textEnd) that fits *ioWidth, broken
// after a word (and its trailing white space) where possible, at a line end
// always. A word wider than the line is broken inside only in the line's first
// segment (*ioOffset non-zero on entry); a later segment then answers its
// start. *ioOffset receives the break offset, *ioWidth what remains of the
// width; smBreakOverflow when the whole text fits.
StyledLineBreakCode StyledLineBreak(Ptr textPtr, SInt32 textLen, SInt32 textStart, SInt32 textEnd, SInt32 flags,
                                    Fixed* ioWidth, SInt32* ioOffset);
// The length without trailing spaces, tabs and line ends.
SInt32 VisibleLength(Ptr textPtr, SInt32 textLen);
// 0: text runs left to right.
SInt16 GetSysDirection();

// ---- Quartz over a port
typedef struct CGContext* CGContextRef;
// A bitmap context over the port's pixels (32-bit ARGB with alpha first,
// premultiplied; or 8-bit gray), its user space y-up over the port's bounds.
// paramErr for other formats. The caller releases it.
OSStatus CreateCGContextForPort(CGrafPtr port, CGContextRef* outContext);

// ---- Pictures
// Starts recording the current port's drawing into a new picture; shapes are
// recorded instead of drawn, CopyBits is recorded and performed.
PicHandle OpenCPicture(const OpenCPicParams* params);
PicHandle OpenPicture(const Rect* frame);
void ClosePicture();
void DrawPicture(PicHandle pic, const Rect* dstRect);
// Draws the picture mapped onto dstRect, clipped also by trimMask (nil: none).
OSErr DrawTrimmedPicture(PicHandle pic, const Rect* dstRect, RgnHandle trimMask, Boolean doDither,
                         GWorldPtr tempGWorld);
void KillPicture(PicHandle pic);
// The picture's frame; nil answer for a handle that is not a picture.
Rect* QDGetPictureBounds(PicHandle pic, Rect* outRect);
// True when the bytes are a picture of this system.
Boolean IsValidPicture(PicHandle pic);
