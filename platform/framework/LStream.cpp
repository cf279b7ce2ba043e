#include "platform/framework/LStream.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"

void LStream::SetMarker(SInt32 inOffset, EStreamFrom inFromWhere) {
  SInt64 base = 0;
  switch (inFromWhere) {
    case streamFrom_Start:
      base = 0;
      break;
    case streamFrom_End:
      base = GetLength();
      break;
    case streamFrom_Marker:
      base = GetMarker();
      break;
  }
  SInt64 pos = std::clamp<SInt64>(base + inOffset, 0, GetLength());
  mMarker = static_cast<SInt32>(pos);
}

void LStream::SetLength(SInt32 inLength) {
  mLength = std::max<SInt32>(inLength, 0);
  if (mMarker > mLength) mMarker = mLength;
}

SInt32 LStream::WriteData(const void* inBuffer, SInt32 inByteCount) {
  if (inByteCount <= 0) return 0;
  PutBytes(inBuffer, inByteCount);
  return inByteCount;
}

SInt32 LStream::ReadData(void* outBuffer, SInt32 inByteCount) {
  if (inByteCount <= 0) return 0;
  GetBytes(outBuffer, inByteCount);
  return inByteCount;
}

SInt32 LStream::PeekData(void* outBuffer, SInt32 inByteCount) {
  SInt32 marker = GetMarker();
  SInt32 n = ReadData(outBuffer, inByteCount);
  SetMarker(marker, streamFrom_Start);
  return n;
}

void LStream::WriteBlock(const void* inBuffer, SInt32 inByteCount) {
  if (inByteCount < 0) Throw_(paramErr);
  if (inByteCount == 0) return;
  ExceptionCode err = PutBytes(inBuffer, inByteCount);
  if (err != noErr) Throw_(err);
}

void LStream::ReadBlock(void* outBuffer, SInt32 inByteCount) {
  if (inByteCount < 0) Throw_(paramErr);
  if (inByteCount == 0) return;
  ExceptionCode err = GetBytes(outBuffer, inByteCount);
  if (err != noErr) Throw_(err);
}

SInt32 LStream::WritePString(ConstStringPtr inString) {
  static const unsigned char kEmpty[1] = {0};
  if (!inString) inString = kEmpty;
  SInt32 n = inString[0] + 1;
  WriteBlock(inString, n);
  return n;
}

SInt32 LStream::ReadPString(StringPtr outString) {
  ThrowIfNil_(outString);
  UInt8 len = 0;
  ReadBlock(&len, 1);
  outString[0] = 0;
  ReadBlock(outString + 1, len);
  outString[0] = len;
  return len + 1;
}

SInt32 LStream::WriteCString(const char* inString) {
  SInt32 len = inString ? static_cast<SInt32>(std::strlen(inString)) : 0;
  *this << len;
  WriteBlock(inString, len);
  return len + 4;
}

SInt32 LStream::ReadCString(char* outString, SInt32 inCapacity) {
  if (!outString || inCapacity <= 0) Throw_(paramErr);
  outString[0] = 0;
  SInt32 len = 0;
  *this >> len;
  if (len < 0 || len > GetLength() - GetMarker()) Throw_(eofErr);
  SInt32 keep = std::min(len, inCapacity - 1);
  ReadBlock(outString, keep);
  outString[keep] = 0;
  SetMarker(len - keep, streamFrom_Marker);
  return len + 4;
}

void LStream::WriteHandle(Handle inHandle) {
  SInt32 size = inHandle ? GetHandleSize(inHandle) : 0;
  *this << size;
  if (size > 0) {
    StHandleLocker lock(inHandle);
    WriteBlock(*inHandle, size);
  }
}

Handle LStream::ReadHandle() {
  SInt32 size = 0;
  *this >> size;
  // A damaged size must not make us allocate more than the stream can hold.
  if (size < 0 || size > GetLength() - GetMarker()) Throw_(eofErr);
  StHandleBlock h(size);
  ReadBlock(*h.Get(), size);
  return h.Release();
}

LStream& LStream::WriteNumber(UInt64 inValue, SInt32 inBytes) {
  UInt8 bytes[8];
  for (SInt32 i = 0; i < inBytes; ++i) bytes[i] = static_cast<UInt8>(inValue >> (8 * (inBytes - 1 - i)));
  WriteBlock(bytes, inBytes);
  return *this;
}

UInt64 LStream::ReadNumber(SInt32 inBytes) {
  UInt8 bytes[8];
  ReadBlock(bytes, inBytes);
  UInt64 v = 0;
  for (SInt32 i = 0; i < inBytes; ++i) v = (v << 8) | bytes[i];
  return v;
}

LStream& LStream::operator<<(float inNum) {
  UInt32 u;
  std::memcpy(&u, &inNum, 4);
  return WriteNumber(u, 4);
}

LStream& LStream::operator<<(double inNum) {
  UInt64 u;
  std::memcpy(&u, &inNum, 8);
  return WriteNumber(u, 8);
}

LStream& LStream::operator>>(float& outNum) {
  UInt32 u = static_cast<UInt32>(ReadNumber(4));
  std::memcpy(&outNum, &u, 4);
  return *this;
}

LStream& LStream::operator>>(double& outNum) {
  UInt64 u = ReadNumber(8);
  std::memcpy(&outNum, &u, 8);
  return *this;
}
