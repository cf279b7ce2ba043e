#include "platform/framework/LStr255.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
SInt32 CLength(const char* inCString) { return inCString ? static_cast<SInt32>(std::strlen(inCString)) : 0; }
}  // namespace

LStr255& LStr255::Assign(ConstStringPtr inPString) {
  if (!inPString) {
    mString[0] = 0;
    return *this;
  }
  std::memmove(mString, inPString, static_cast<size_t>(inPString[0]) + 1);
  return *this;
}

LStr255& LStr255::Assign(const char* inCString) { return Assign(inCString, CLength(inCString)); }

LStr255& LStr255::Assign(const void* inText, SInt32 inLength) {
  SInt32 n = inText ? std::clamp<SInt32>(inLength, 0, 255) : 0;
  if (n > 0) std::memmove(mString + 1, inText, static_cast<size_t>(n));
  mString[0] = static_cast<unsigned char>(n);
  return *this;
}

LStr255& LStr255::Assign(SInt32 inNumber) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(inNumber));
  return Assign(text, n);
}

LStr255& LStr255::Assign(double inNumber, SInt16 inDecimals) {
  char text[512];
  int decimals = std::clamp<int>(inDecimals, 0, 40);
  int n = std::snprintf(text, sizeof text, "%.*f", decimals, inNumber);
  return Assign(text, std::min(n, static_cast<int>(sizeof text) - 1));
}

LStr255& LStr255::Append(const void* inText, SInt32 inLength) {
  if (Length() == 255) return *this;
  return Replace(static_cast<UInt8>(Length() + 1), 0, inText, inLength);
}

LStr255& LStr255::Append(ConstStringPtr inPString) {
  if (!inPString) return *this;
  LStr255 copy(inPString);  // the text may be this string itself
  return Append(copy.mString + 1, copy.Length());
}

LStr255& LStr255::Append(const char* inCString) { return Append(inCString, CLength(inCString)); }

LStr255& LStr255::Insert(const void* inText, SInt32 inLength, UInt8 inIndex) {
  return Replace(inIndex, 0, inText, inLength);
}

LStr255& LStr255::Remove(UInt8 inIndex, UInt8 inCount) { return Replace(inIndex, inCount, nullptr, 0); }

LStr255& LStr255::Replace(UInt8 inIndex, UInt8 inCount, const void* inText, SInt32 inLength) {
  SInt32 len = Length();
  SInt32 at = std::clamp<SInt32>(inIndex, 1, len + 1);
  SInt32 cut = std::min<SInt32>(inCount, len - at + 1);
  SInt32 add = inText ? std::max<SInt32>(inLength, 0) : 0;
  unsigned char result[256 + 256];
  SInt32 n = 0;
  std::memcpy(result, mString + 1, static_cast<size_t>(at - 1));
  n = at - 1;
  SInt32 addKept = std::min<SInt32>(add, 255 - n);
  if (addKept > 0) std::memcpy(result + n, inText, static_cast<size_t>(addKept));
  n += addKept;
  SInt32 tail = len - (at - 1 + cut);
  SInt32 tailKept = std::min<SInt32>(tail, 255 - n);
  if (tailKept > 0) std::memcpy(result + n, mString + at + cut, static_cast<size_t>(tailKept));
  n += tailKept;
  std::memcpy(mString + 1, result, static_cast<size_t>(n));
  mString[0] = static_cast<unsigned char>(n);
  return *this;
}

LStr255 LStr255::SubString(UInt8 inIndex, UInt8 inCount) const {
  SInt32 at = std::max<SInt32>(inIndex, 1);
  if (at > Length()) return LStr255();
  SInt32 n = std::min<SInt32>(inCount, Length() - at + 1);
  return LStr255(mString + at, n);
}

UInt8 LStr255::Find(const void* inPattern, SInt32 inLength, UInt8 inStart) const {
  if (!inPattern || inLength <= 0 || inLength > Length()) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(inPattern);
  for (SInt32 i = std::max<SInt32>(inStart, 1); i + inLength - 1 <= Length(); ++i)
    if (std::memcmp(mString + i, p, static_cast<size_t>(inLength)) == 0) return static_cast<UInt8>(i);
  return 0;
}

UInt8 LStr255::Find(const char* inCString, UInt8 inStart) const { return Find(inCString, CLength(inCString), inStart); }

UInt8 LStr255::ReverseFind(const void* inPattern, SInt32 inLength, UInt8 inStart) const {
  if (!inPattern || inLength <= 0 || inLength > Length()) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(inPattern);
  for (SInt32 i = std::min<SInt32>(inStart, Length() - inLength + 1); i >= 1; --i)
    if (std::memcmp(mString + i, p, static_cast<size_t>(inLength)) == 0) return static_cast<UInt8>(i);
  return 0;
}

UInt8 LStr255::ReverseFind(const char* inCString, UInt8 inStart) const {
  return ReverseFind(inCString, CLength(inCString), inStart);
}

bool LStr255::BeginsWith(const char* inCString) const {
  SInt32 n = CLength(inCString);
  return n <= Length() && std::memcmp(mString + 1, inCString, static_cast<size_t>(n)) == 0;
}

bool LStr255::EndsWith(const char* inCString) const {
  SInt32 n = CLength(inCString);
  return n <= Length() && std::memcmp(mString + 1 + Length() - n, inCString, static_cast<size_t>(n)) == 0;
}

SInt16 LStr255::CompareTo(ConstStringPtr inPString) const {
  static const unsigned char kEmpty[1] = {0};
  if (!inPString) inPString = kEmpty;
  size_t n = std::min(Length(), inPString[0]);
  int r = n ? std::memcmp(mString + 1, inPString + 1, n) : 0;
  if (r != 0) return r < 0 ? -1 : 1;
  return Length() == inPString[0] ? 0 : (Length() < inPString[0] ? -1 : 1);
}

SInt16 LStr255::CompareTo(const char* inCString) const { return CompareTo(LStr255(inCString)); }

LStr255::operator SInt32() const {
  char text[256];
  std::memcpy(text, mString + 1, Length());
  text[Length()] = 0;
  errno = 0;
  long long v = std::strtoll(text, nullptr, 10);
  return static_cast<SInt32>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

LStr255::operator double() const {
  char text[256];
  std::memcpy(text, mString + 1, Length());
  text[Length()] = 0;
  return std::strtod(text, nullptr);
}

LStr255 operator+(const LStr255& inA, const LStr255& inB) {
  LStr255 r(inA);
  r += inB;
  return r;
}

LStr255 operator+(const LStr255& inA, const char* inB) {
  LStr255 r(inA);
  r += inB;
  return r;
}
