// Internal records of the QuickDraw layer, shared by its source files only.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/graphics/QuickDraw.h"

// A region: rectangles without overlap, in bands (top to bottom, left to
// right), vertically adjacent bands with equal spans merged, so that equal
// areas have equal lists.
struct MacRegion {
  Rect rgnBBox{0, 0, 0, 0};
  std::vector<Rect> rects;
  UInt32 magic = 0x52676E21;  // 'Rgn!'
};

struct GrafPort {
  UInt32 magic = 0x47726621;  // 'Grf!'
  PixMap pixMap{};
  PixMapPtr pixMapPtr = nullptr;  // master pointer: &pixMap
  Rect portRect{0, 0, 0, 0};
  bool ownsPixels = false;
  bool ownsTable = false;
  std::unique_ptr<UInt8[]> pixels;
  GWorldFlags pixelsState = 0;
  RGBColor fore{0, 0, 0};
  RGBColor back{0xFFFF, 0xFFFF, 0xFFFF};
  PenState pen{};
  SInt16 penVis = 0;  // < 0: hidden
  SInt16 txFont = 0, txSize = 0, txFace = 0, txMode = srcOr;
  RgnHandle clip = nullptr;
  // Picture being recorded into this port (nil when none).
  struct PictureRecorder* recorder = nullptr;
};

namespace qd {

bool IsRegion(RgnHandle rgn);
bool IsPort(CGrafPtr port);
void SetError(OSErr err);

// Bytes per pixel of a supported format, 0 otherwise.
SInt32 BytesPerPixel(OSType format);
bool IsSupportedFormat(OSType format);

// A colour in 16-bit components with alpha.
struct Color16 {
  UInt16 a, r, g, b;
};
// Encodes one colour into the pixel bytes of a pixel map's format.
void EncodePixel(const PixMap& pm, const Color16& c, UInt8* out);
// Decodes and encodes whole runs of pixels.
void DecodeRow(const PixMap& pm, const UInt8* src, SInt32 count, Color16* out);
void EncodeRow(const PixMap& pm, const Color16* src, SInt32 count, UInt8* out);

// Fills every rectangle of the region (already clipped to the pixels) with one pixel value.
void FillRegionPixels(const PixMap& pm, RgnHandle rgn, const UInt8* pixel);

// The region of a rectangle clipped to the port's pixels and clip region.
void ClipToPort(CGrafPtr port, RgnHandle ioRgn);

// Picture recording hooks (QDPicture.cpp).
void RecordRect(PictureRecorder* rec, UInt8 op, const Rect& r, const GrafPort& port);
void RecordRgn(PictureRecorder* rec, UInt8 op, RgnHandle rgn, const GrafPort& port);
void RecordLine(PictureRecorder* rec, Point from, Point to, const GrafPort& port);
void RecordCopyBits(PictureRecorder* rec, const PixMap& src, const Rect& srcRect, const Rect& dstRect, SInt16 mode,
                    RgnHandle mask);
void DisposeRecorder(PictureRecorder* rec);

}  // namespace qd
