// A Pascal string of up to 255 characters held by value: a length byte
// followed by the characters. Texts that would grow beyond 255 characters are
// cut there. Indices are 1-based like the characters of a Pascal string.
#pragma once

#include "platform/base/MacTypes.h"

class LStr255 {
 public:
  LStr255() { mString[0] = 0; }
  LStr255(const LStr255& inOther) { Assign(inOther); }
  LStr255(ConstStringPtr inPString) { Assign(inPString); }
  LStr255(const char* inCString) { Assign(inCString); }
  LStr255(const void* inText, SInt32 inLength) { Assign(inText, inLength); }
  explicit LStr255(char inChar) { Assign(&inChar, 1); }
  // Decimal text of a number.
  LStr255(SInt32 inNumber) { Assign(inNumber); }
  // Fixed-point text with inDecimals digits after the point.
  LStr255(double inNumber, SInt16 inDecimals) { Assign(inNumber, inDecimals); }

  UInt8 Length() const { return mString[0]; }
  bool IsEmpty() const { return mString[0] == 0; }
  // The first character (not the length byte).
  char* TextPtr() { return reinterpret_cast<char*>(mString + 1); }
  const char* ConstTextPtr() const { return reinterpret_cast<const char*>(mString + 1); }
  operator StringPtr() { return mString; }
  operator ConstStringPtr() const { return mString; }
  // [0] is the length byte, [1] the first character.
  unsigned char& operator[](SInt32 inIndex) { return mString[static_cast<UInt8>(inIndex)]; }
  unsigned char operator[](SInt32 inIndex) const { return mString[static_cast<UInt8>(inIndex)]; }

  LStr255& Assign(const LStr255& inOther) { return Assign(inOther.mString); }
  LStr255& Assign(ConstStringPtr inPString);
  LStr255& Assign(const char* inCString);
  LStr255& Assign(const void* inText, SInt32 inLength);
  LStr255& Assign(SInt32 inNumber);
  LStr255& Assign(double inNumber, SInt16 inDecimals);
  LStr255& operator=(const LStr255& inOther) { return Assign(inOther); }
  LStr255& operator=(ConstStringPtr inPString) { return Assign(inPString); }
  LStr255& operator=(const char* inCString) { return Assign(inCString); }
  LStr255& operator=(SInt32 inNumber) { return Assign(inNumber); }

  LStr255& Append(const void* inText, SInt32 inLength);
  LStr255& Append(ConstStringPtr inPString);
  LStr255& Append(const char* inCString);
  LStr255& Append(char inChar) { return Append(&inChar, 1); }
  LStr255& operator+=(const LStr255& inOther) { return Append(inOther.mString); }
  LStr255& operator+=(ConstStringPtr inPString) { return Append(inPString); }
  LStr255& operator+=(const char* inCString) { return Append(inCString); }
  LStr255& operator+=(char inChar) { return Append(inChar); }

  // Inserts before character inIndex (Length() + 1 appends).
  LStr255& Insert(const void* inText, SInt32 inLength, UInt8 inIndex);
  // Removes up to inCount characters from inIndex on.
  LStr255& Remove(UInt8 inIndex, UInt8 inCount);
  // Replaces up to inCount characters from inIndex with the text.
  LStr255& Replace(UInt8 inIndex, UInt8 inCount, const void* inText, SInt32 inLength);
  // A copy of up to inCount characters from inIndex.
  LStr255 SubString(UInt8 inIndex, UInt8 inCount = 255) const;

  // The index of the first (last) occurrence at or after (at or before)
  // inStart; 0 when there is none.
  UInt8 Find(const void* inPattern, SInt32 inLength, UInt8 inStart = 1) const;
  UInt8 Find(const char* inCString, UInt8 inStart = 1) const;
  UInt8 Find(char inChar, UInt8 inStart = 1) const { return Find(&inChar, 1, inStart); }
  UInt8 ReverseFind(const void* inPattern, SInt32 inLength, UInt8 inStart = 255) const;
  UInt8 ReverseFind(const char* inCString, UInt8 inStart = 255) const;
  UInt8 ReverseFind(char inChar, UInt8 inStart = 255) const { return ReverseFind(&inChar, 1, inStart); }
  bool BeginsWith(const char* inCString) const;
  bool EndsWith(const char* inCString) const;

  // Byte-wise order: negative, 0 or positive.
  SInt16 CompareTo(ConstStringPtr inPString) const;
  SInt16 CompareTo(const char* inCString) const;

  // The leading number of the text (leading spaces and a sign allowed; 0 when
  // there is none; saturated at the ends of the 32-bit range).
  explicit operator SInt32() const;
  // The leading floating-point number of the text (0 when there is none).
  explicit operator double() const;

 private:
  unsigned char mString[256];
};

LStr255 operator+(const LStr255& inA, const LStr255& inB);
LStr255 operator+(const LStr255& inA, const char* inB);

inline bool operator==(const LStr255& a, const LStr255& b) { return a.CompareTo(static_cast<ConstStringPtr>(b)) == 0; }
inline bool operator==(const LStr255& a, ConstStringPtr b) { return a.CompareTo(b) == 0; }
inline bool operator==(const LStr255& a, const char* b) { return a.CompareTo(b) == 0; }
inline bool operator!=(const LStr255& a, const LStr255& b) { return !(a == b); }
inline bool operator!=(const LStr255& a, ConstStringPtr b) { return !(a == b); }
inline bool operator!=(const LStr255& a, const char* b) { return !(a == b); }
inline bool operator<(const LStr255& a, const LStr255& b) { return a.CompareTo(static_cast<ConstStringPtr>(b)) < 0; }
inline bool operator>(const LStr255& a, const LStr255& b) { return b < a; }
inline bool operator<=(const LStr255& a, const LStr255& b) { return !(b < a); }
inline bool operator>=(const LStr255& a, const LStr255& b) { return !(a < b); }
