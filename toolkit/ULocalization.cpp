#include "toolkit/ULocalization.h"

#include <cstring>

#include "platform/files/Resources.h"

char* ULocalization::GetString(char* outBuffer, SInt16 inList, SInt16 inIndex) {
  if (!outBuffer) return outBuffer;
  Str255 text;
  GetIndString(text, inList, inIndex);
  std::memcpy(outBuffer, text + 1, text[0]);
  outBuffer[text[0]] = 0;
  return outBuffer;
}

unsigned char* ULocalization::GetString(unsigned char* outBuffer, SInt16 inList, SInt16 inIndex) {
  if (outBuffer) GetIndString(outBuffer, inList, inIndex);
  return outBuffer;
}

CFStringRef ULocalization::GetString(SInt16 inList, SInt16 inIndex) {
  char text[256];
  GetString(text, inList, inIndex);
  return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}
