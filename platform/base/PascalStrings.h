// Pascal strings: a length byte followed by up to 255 bytes.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

// Copies a Pascal string (length byte included).
void PStrCopy(StringPtr outDest, ConstStringPtr inSource);
// Appends inSource to ioDest, truncating at 255 bytes.
void PStrCat(StringPtr ioDest, ConstStringPtr inSource);
// Makes a Pascal string from a C++ string, truncating at inCapacity-1 (at most 255) bytes.
void StringToPStr(const std::string& inText, StringPtr outDest, size_t inCapacity = sizeof(Str255));
// The text of a Pascal string.
std::string PStrToString(ConstStringPtr inSource);
// Byte-wise equality of two Pascal strings.
bool PStrEqual(ConstStringPtr a, ConstStringPtr b);
void CopyCStringToPascal(const char* inSource, StringPtr outDest);
void CopyPascalStringToC(ConstStringPtr inSource, char* outDest);
