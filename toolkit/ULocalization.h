// Localized texts: item `index` (from 1) of the bundle's string list 'STR#'
// `list`, found along the resource chain (the application's resource file
// last). A missing list or item gives the empty text.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/CoreFoundation.h"

class ULocalization {
 public:
  // The text as a C string in a buffer of 256 bytes; returns the buffer.
  static char* GetString(char* outBuffer, SInt16 inList, SInt16 inIndex);
  // The text as a Pascal string in a Str255; returns the buffer.
  static unsigned char* GetString(unsigned char* outBuffer, SInt16 inList, SInt16 inIndex);
  // A new string the caller releases (empty when missing).
  static CFStringRef GetString(SInt16 inList, SInt16 inIndex);
};
