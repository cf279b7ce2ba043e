// The user's decimal separator, and plain-text number tables (tab-separated
// columns, rows ended by CR or LF).
#pragma once

#include "platform/base/MacTypes.h"

class LStream;

class UAcsiiUtils {
 public:
  // The decimal separator: the first byte of the international resource
  // 'itl0', or '.' when there is none; looked up once.
  static char GetDecimalSymbol();
  // Every '.' becomes the decimal separator (C string or Pascal string).
  static void DecimalPtToCurrent(char* ioText);
  static void DecimalPtToCurrent(unsigned char* ioText);
  // Every decimal separator becomes '.'.
  static void CurrentDecimalToPt(char* ioText);
  static void CurrentDecimalToPt(unsigned char* ioText);
  // From the start of the stream, every ',' becomes '.' in place.
  static bool ConvertToPt(LStream& ioStream);
  // From the start of the stream: rows = the number of CR and LF characters,
  // columns = the most tabs in one row plus 1; both 0 for an empty stream.
  static bool CountRowsAndCols(LStream& ioStream, SInt32* outColumns, SInt32* outRows);
  // The next item (at most 255 characters and a NUL, spaces left out) after
  // skipping separators; false at the end of the data or for a longer item.
  static bool ReadItem(LStream& ioStream, char* outItem);

  // 0 until first needed.
  static char sDecimalSymbol;
};
