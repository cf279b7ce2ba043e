#include "toolkit/UNewTextDrawing.h"

#include <algorithm>

#include "platform/graphics/QuickDraw.h"

void UNewTextDrawing::MeasureWithJustification(char* inText, SInt32 inLength, const Rect& inFrame,
                                               SInt16 inJustification, Rect& outBounds, UInt8 inCountTrailingWhite) {
  const SInt32 frameWidth = inFrame.right - inFrame.left;
  const Fixed wrapWidth = static_cast<Fixed>(static_cast<UInt32>(frameWidth) << 16);
  FontInfo info;
  GetFontInfo(&info);
  const SInt32 lineHeight = info.ascent + info.descent + info.leading;
  SInt32 baseline = inFrame.top + info.ascent + info.leading;

  if (inLength <= 0 || !inText) {
    outBounds = Rect{inFrame.top, inFrame.left, static_cast<SInt16>(inFrame.top + lineHeight), inFrame.right};
    return;
  }
  SInt32 left = inFrame.right, right = inFrame.left, bottom = inFrame.top;
  const SInt16 justification = inJustification == 0 ? GetSysDirection() : inJustification;
  char* text = inText;
  SInt32 remaining = inLength;
  while (remaining > 0 && baseline <= inFrame.bottom) {
    const SInt32 chunk = std::min<SInt32>(remaining, 32767);
    Fixed width = wrapWidth;
    SInt32 offset = 1;  // the line's first segment: a word too long for it is broken inside
    StyledLineBreak(text, chunk, 0, chunk, 0, &width, &offset);
    // A frame too narrow for a single character still advances, one byte a line.
    const SInt32 lineBytes = std::clamp<SInt32>(offset, 1, chunk);
    const SInt32 measured = inCountTrailingWhite ? lineBytes : VisibleLength(text, lineBytes);
    const SInt32 lineWidth = TextWidth(text, 0, static_cast<SInt16>(measured));
    SInt32 x;
    if (justification == -1)
      x = inFrame.right - lineWidth;
    else if (justification == 1)
      x = inFrame.left + (frameWidth - lineWidth) / 2;
    else
      x = inFrame.left;
    left = std::min(left, x);
    right = std::max(right, x + lineWidth);
    bottom = baseline + info.descent;
    baseline += lineHeight;
    text += lineBytes;
    remaining -= lineBytes;
  }
  outBounds = Rect{inFrame.top, static_cast<SInt16>(left), static_cast<SInt16>(bottom), static_cast<SInt16>(right)};
}
