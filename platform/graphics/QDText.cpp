// Text measuring and drawing of QuickDraw ports over FreeType.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

#include "platform/graphics/QuickDrawInternal.h"

namespace {

const char* const kRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

std::mutex& TextLock() {
  static std::mutex m;
  return m;
}

FT_Library Library() {
  static FT_Library sLibrary = [] {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
  }();
  return sLibrary;
}

// One face per (bold, pixel size), kept for the life of the program.
FT_Face FaceFor(bool inBold, int inSize) {
  static std::map<std::pair<bool, int>, FT_Face> sFaces;
  auto key = std::make_pair(inBold, inSize);
  auto it = sFaces.find(key);
  if (it != sFaces.end()) return it->second;
  FT_Face face = nullptr;
  if (!Library() || FT_New_Face(Library(), inBold ? kBold : kRegular, 0, &face) != 0) {
    if (!Library() || FT_New_Face(Library(), kRegular, 0, &face) != 0) return nullptr;
  }
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(inSize));
  sFaces[key] = face;
  return face;
}

FT_Face CurrentFace() {
  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  int size = port->txSize > 0 ? port->txSize : 12;
  return FaceFor((port->txFace & bold) != 0, std::clamp(size, 1, 512));
}

// Text bytes are Mac Roman; the printable ASCII range maps to itself.
FT_ULong CharCode(UInt8 c) { return c < 0x80 ? c : 0xFFFD; }

SInt32 Advance(FT_Face face, UInt8 c) {
  if (!face || FT_Load_Char(face, CharCode(c), FT_LOAD_DEFAULT) != 0) return 0;
  return static_cast<SInt32>((face->glyph->advance.x + 32) >> 6);
}

SInt32 WidthOf(FT_Face face, const UInt8* text, SInt32 count) {
  SInt32 w = 0;
  for (SInt32 i = 0; i < count; ++i) w += Advance(face, text[i]);
  return w;
}

bool IsWhite(UInt8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void GetFontInfo(FontInfo* info) {
  if (!info) return;
  std::lock_guard<std::mutex> lock(TextLock());
  FT_Face face = CurrentFace();
  if (!face) {
    *info = FontInfo{0, 0, 0, 0};
    return;
  }
  const FT_Size_Metrics& m = face->size->metrics;
  info->ascent = static_cast<SInt16>((m.ascender + 63) >> 6);
  info->descent = static_cast<SInt16>((-m.descender + 63) >> 6);
  info->widMax = static_cast<SInt16>((m.max_advance + 63) >> 6);
  info->leading = static_cast<SInt16>(std::max<FT_Pos>(0, (m.height - m.ascender + m.descender) >> 6));
}

SInt16 CharWidth(SInt16 ch) {
  std::lock_guard<std::mutex> lock(TextLock());
  return static_cast<SInt16>(Advance(CurrentFace(), static_cast<UInt8>(ch)));
}

SInt16 StringWidth(ConstStr255Param s) {
  if (!s) return 0;
  return TextWidth(s + 1, 0, s[0]);
}

SInt16 TextWidth(const void* textBuf, SInt16 firstByte, SInt16 byteCount) {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return 0;
  std::lock_guard<std::mutex> lock(TextLock());
  SInt32 w = WidthOf(CurrentFace(), static_cast<const UInt8*>(textBuf) + firstByte, byteCount);
  return static_cast<SInt16>(std::min<SInt32>(w, 32767));
}

void DrawText(const void* textBuf, SInt16 firstByte, SInt16 byteCount) {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return;
  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  const UInt8* text = static_cast<const UInt8*>(textBuf) + firstByte;
  std::lock_guard<std::mutex> lock(TextLock());
  FT_Face face = CurrentFace();
  if (!face) return;
  const PixMap& pm = port->pixMap;
  const bool draws = port->penVis >= 0 && port->recorder == nullptr && pm.baseAddr;
  // Pixels the text may touch: inside the pixels and the clip region.
  RgnHandle area = NewRgn();
  RectRgn(area, &pm.bounds);
  qd::ClipToPort(port, area);
  const SInt32 bpp = qd::BytesPerPixel(pm.pixelFormat);
  const qd::Color16 fore{0xFFFF, port->fore.red, port->fore.green, port->fore.blue};
  SInt32 x = port->pen.pnLoc.h;
  const SInt32 baseline = port->pen.pnLoc.v;
  for (SInt16 i = 0; i < byteCount; ++i) {
    if (FT_Load_Char(face, CharCode(text[i]), FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    if (draws && bpp > 0) {
      const FT_Bitmap& bm = g->bitmap;
      for (unsigned row = 0; row < bm.rows; ++row) {
        const SInt32 v = baseline - g->bitmap_top + static_cast<SInt32>(row);
        for (unsigned col = 0; col < bm.width; ++col) {
          const SInt32 h = x + g->bitmap_left + static_cast<SInt32>(col);
          const UInt32 cover = bm.buffer[static_cast<ptrdiff_t>(row) * bm.pitch + col];
          if (cover == 0 || v < -32768 || v > 32767 || h < -32768 || h > 32767) continue;
          if (!PtInRgn(Point{static_cast<SInt16>(v), static_cast<SInt16>(h)}, area)) continue;
          UInt8* px = reinterpret_cast<UInt8*>(pm.baseAddr) + static_cast<ptrdiff_t>(v - pm.bounds.top) * pm.pmRowBytes +
                      static_cast<ptrdiff_t>(h - pm.bounds.left) * bpp;
          qd::Color16 old;
          qd::DecodeRow(pm, px, 1, &old);
          auto mix = [cover](UInt32 a, UInt32 b) {
            return static_cast<UInt16>((a * cover + b * (255 - cover)) / 255);
          };
          qd::Color16 out{mix(fore.a, old.a), mix(fore.r, old.r), mix(fore.g, old.g), mix(fore.b, old.b)};
          qd::EncodeRow(pm, &out, 1, px);
        }
      }
    }
    x += static_cast<SInt32>((g->advance.x + 32) >> 6);
  }
  DisposeRgn(area);
  port->pen.pnLoc.h = static_cast<SInt16>(std::clamp<SInt32>(x, -32768, 32767));
}

void DrawChar(SInt16 ch) {
  UInt8 c = static_cast<UInt8>(ch);
  DrawText(&c, 0, 1);
}

void DrawString(ConstStr255Param s) {
  if (s) DrawText(s + 1, 0, s[0]);
}

StyledLineBreakCode StyledLineBreak(Ptr textPtr, SInt32 textLen, SInt32 textStart, SInt32 textEnd, SInt32,
                                    Fixed* ioWidth, SInt32* ioOffset) {
  if (!textPtr || !ioWidth || !ioOffset) return smBreakOverflow;
  const UInt8* text = reinterpret_cast<const UInt8*>(textPtr);
  textStart = std::clamp<SInt32>(textStart, 0, std::max<SInt32>(textLen, 0));
  textEnd = std::clamp<SInt32>(textEnd, textStart, std::max<SInt32>(textLen, 0));
  const bool firstSegment = *ioOffset != 0;
  std::lock_guard<std::mutex> lock(TextLock());
  FT_Face face = CurrentFace();
  const SInt32 limit = *ioWidth >> 16;
  SInt32 used = 0, lastWordEnd = -1, lastWordWidth = 0;
  for (SInt32 i = textStart; i < textEnd; ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      *ioOffset = i + 1;
      *ioWidth -= used << 16;
      return smBreakWord;
    }
    const SInt32 w = Advance(face, text[i]);
    // Trailing white space never makes a line overflow.
    if (!IsWhite(text[i]) && used + w > limit) {
      if (lastWordEnd > textStart) {
        *ioOffset = lastWordEnd;
        *ioWidth -= lastWordWidth << 16;
        return smBreakWord;
      }
      if (!firstSegment) {
        // A later segment of a line: nothing of it fits.
        *ioOffset = textStart;
        return smBreakWord;
      }
      // The first segment breaks inside its word, keeping at least one character.
      *ioOffset = std::max(i, textStart + 1);
      *ioWidth -= (used + (i == textStart ? w : 0)) << 16;
      return smBreakChar;
    }
    used += w;
    if (IsWhite(text[i])) {
      lastWordEnd = i + 1;
      lastWordWidth = used;
    }
  }
  *ioOffset = textEnd;
  *ioWidth -= used << 16;
  return smBreakOverflow;
}

SInt32 VisibleLength(Ptr textPtr, SInt32 textLen) {
  if (!textPtr || textLen <= 0) return 0;
  const UInt8* text = reinterpret_cast<const UInt8*>(textPtr);
  while (textLen > 0 && IsWhite(text[textLen - 1])) --textLen;
  return textLen;
}

SInt16 GetSysDirection() { return 0; }
