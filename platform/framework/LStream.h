// The framework's byte stream: a marker within a length, reads and writes of
// raw bytes, and typed reads and writes.
//
// Byte order: unlike the streams of the old big-endian platform, which wrote
// numbers in the machine's own order, these streams always store multi-byte
// numbers big-endian, so that what one machine writes every other reads.
//
// Errors: the "Data" calls report a short transfer through their count, the
// "Block" calls and the operators throw an LException carrying the stream's
// error: eofErr when reading past the end, the storage's error when writing
// fails (memFullErr for memory, ioErr for a full fixed buffer, wrPermErr for a
// stream that may not be written).
#pragma once

#include <string>

#include "platform/base/LException.h"
#include "platform/base/MacTypes.h"

enum EStreamFrom {
  streamFrom_Start = 1,
  streamFrom_End = 2,
  streamFrom_Marker = 3,
};

class LStream {
 public:
  LStream() = default;
  virtual ~LStream() = default;
  LStream(const LStream&) = delete;
  LStream& operator=(const LStream&) = delete;

  // Moves the marker; it is kept within 0..length (a position beyond the end
  // lands at the end, a negative one at the start).
  virtual void SetMarker(SInt32 inOffset, EStreamFrom inFromWhere);
  virtual SInt32 GetMarker() const { return mMarker; }
  // Changes the length; the marker is pulled back when it lies beyond it.
  virtual void SetLength(SInt32 inLength);
  virtual SInt32 GetLength() const { return mLength; }
  bool AtEnd() const { return GetMarker() >= GetLength(); }

  // Transfers up to ioByteCount bytes at the marker and moves the marker past
  // them; ioByteCount becomes the number transferred. Returns noErr or the
  // stream's error when fewer bytes than asked could be transferred.
  virtual ExceptionCode PutBytes(const void* inBuffer, SInt32& ioByteCount) = 0;
  virtual ExceptionCode GetBytes(void* outBuffer, SInt32& ioByteCount) = 0;

  // The number of bytes transferred; never throws.
  SInt32 WriteData(const void* inBuffer, SInt32 inByteCount);
  SInt32 ReadData(void* outBuffer, SInt32 inByteCount);
  // Reads without moving the marker.
  SInt32 PeekData(void* outBuffer, SInt32 inByteCount);
  // All or an exception.
  void WriteBlock(const void* inBuffer, SInt32 inByteCount);
  void ReadBlock(void* outBuffer, SInt32 inByteCount);

  // Pascal strings: the length byte and the characters. Returns the bytes moved.
  SInt32 WritePString(ConstStringPtr inString);
  // Reads into a buffer of at least 256 bytes.
  SInt32 ReadPString(StringPtr outString);
  // C strings: a big-endian 32-bit length and the characters without the NUL.
  SInt32 WriteCString(const char* inString);
  // Reads into a buffer of inCapacity bytes (terminated; a longer stored text
  // is cut and the rest skipped). Returns the bytes consumed from the stream.
  SInt32 ReadCString(char* outString, SInt32 inCapacity);
  // A handle: a big-endian 32-bit size and the bytes (a nil handle writes size 0).
  void WriteHandle(Handle inHandle);
  // A new handle the caller owns.
  Handle ReadHandle();

  LStream& operator<<(SInt8 inNum) { return WriteNumber(static_cast<UInt8>(inNum), 1); }
  LStream& operator<<(UInt8 inNum) { return WriteNumber(inNum, 1); }  // also Boolean
  LStream& operator<<(bool inValue) { return WriteNumber(inValue ? 1 : 0, 1); }
  LStream& operator<<(SInt16 inNum) { return WriteNumber(static_cast<UInt16>(inNum), 2); }
  LStream& operator<<(UInt16 inNum) { return WriteNumber(inNum, 2); }
  LStream& operator<<(SInt32 inNum) { return WriteNumber(static_cast<UInt32>(inNum), 4); }
  LStream& operator<<(UInt32 inNum) { return WriteNumber(inNum, 4); }
  LStream& operator<<(SInt64 inNum) { return WriteNumber(static_cast<UInt64>(inNum), 8); }
  LStream& operator<<(UInt64 inNum) { return WriteNumber(inNum, 8); }
  LStream& operator<<(float inNum);
  LStream& operator<<(double inNum);
  LStream& operator<<(ConstStringPtr inString) {
    WritePString(inString);
    return *this;
  }
  LStream& operator<<(Handle inHandle) {
    WriteHandle(inHandle);
    return *this;
  }
  // Any other pointer (a C string, say) would silently become a bool.
  template <class T>
  LStream& operator<<(const T*) = delete;

  LStream& operator>>(SInt8& outNum) { outNum = static_cast<SInt8>(ReadNumber(1)); return *this; }
  LStream& operator>>(UInt8& outNum) { outNum = static_cast<UInt8>(ReadNumber(1)); return *this; }
  LStream& operator>>(bool& outValue) { outValue = ReadNumber(1) != 0; return *this; }
  LStream& operator>>(SInt16& outNum) { outNum = static_cast<SInt16>(ReadNumber(2)); return *this; }
  LStream& operator>>(UInt16& outNum) { outNum = static_cast<UInt16>(ReadNumber(2)); return *this; }
  LStream& operator>>(SInt32& outNum) { outNum = static_cast<SInt32>(ReadNumber(4)); return *this; }
  LStream& operator>>(UInt32& outNum) { outNum = static_cast<UInt32>(ReadNumber(4)); return *this; }
  LStream& operator>>(SInt64& outNum) { outNum = static_cast<SInt64>(ReadNumber(8)); return *this; }
  LStream& operator>>(UInt64& outNum) { outNum = ReadNumber(8); return *this; }
  LStream& operator>>(float& outNum);
  LStream& operator>>(double& outNum);
  // Reads a Pascal string into a buffer of at least 256 bytes.
  LStream& operator>>(StringPtr outString) {
    ReadPString(outString);
    return *this;
  }
  // Reads a new handle; the caller owns it.
  LStream& operator>>(Handle& outHandle) {
    outHandle = ReadHandle();
    return *this;
  }

 protected:
  // The marker and length as the subclasses keep them.
  SInt32 mMarker = 0;
  SInt32 mLength = 0;

 private:
  LStream& WriteNumber(UInt64 inValue, SInt32 inBytes);
  UInt64 ReadNumber(SInt32 inBytes);
};
