// Where wrapped, justified text falls in a frame.
#pragma once

#include "platform/base/MacTypes.h"

class UNewTextDrawing {
 public:
  // The bounding rectangle of the text as it would be drawn wrapped into the
  // frame with the current port's font. Justification: 0 the system
  // direction, 1 centred, -1 flush right, anything else flush left. With
  // inCountTrailingWhite the lines' trailing white space counts in their width.
  static void MeasureWithJustification(char* inText, SInt32 inLength, const Rect& inFrame, SInt16 inJustification,
                                       Rect& outBounds, UInt8 inCountTrailingWhite);
};
