// Reads tagged records (see UTagStream.h) from a stream.
//
// Reading loop:
//   UInt32 tag, length;
//   while (reader.ReadNextTag(tag, length)) {
//     switch (tag) { case 'IntM': reader.ReadSInt16(mode); break; ... }
//   }
// Unknown tags need nothing: the next ReadNextTag seeks past them. The loop
// ends at the end record (the position is then just behind it, ready for the
// next section) or at the end of the data. A damaged length never makes the
// reader move backwards or beyond the data, so such a loop always ends.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LStream.h"
#include "toolkit/UTagStream.h"

class LTagReader {
 public:
  // Over a new empty memory handle in a stream of its own.
  LTagReader();
  // Over the given handle in a stream of its own; inDisposeHandle tells whether
  // the handle goes with the reader or stays with the caller.
  LTagReader(Handle inHandle, Boolean inDisposeHandle);
  // Over the caller's stream, which stays the caller's; the reader leaves its
  // marker behind the last record handled.
  explicit LTagReader(LStream* inStream);
  virtual ~LTagReader();
  LTagReader(const LTagReader&) = delete;
  LTagReader& operator=(const LTagReader&) = delete;

  // Reads the header at the next record position. True for a record other
  // than the end record; false at the end record, at the end of the data and
  // on any error (never throws). The marker is left at the record's data.
  bool ReadNextTag(UInt32& outTag, UInt32& outLength);
  // Moves the marker to the next record position.
  void IgnoreTag();
  // Reads bytes at the marker; a short read throws the stream's error. The
  // typed reads convert big-endian data and do not check the record's length.
  void ReadData(void* outData, SInt32 inLength);
  void ReadUInt16(UInt16& outValue);
  void ReadSInt16(SInt16& outValue);
  void ReadUInt32(UInt32& outValue);
  void ReadSInt32(SInt32& outValue);
  void ReadFloat(float& outValue);

  void SetTagPosition(UInt32 inPosition) { mNextPosition = inPosition; }
  UInt32 GetTagPosition() const { return mNextPosition; }

  LStream* GetStream() const { return mStream; }
  // The data handle of a reader that made its own stream (nil otherwise).
  Handle GetHandle() const;

 private:
  bool mOwnsStream = false;
  bool mDisposeHandle = false;
  Handle mHandle = nullptr;
  LStream* mStream = nullptr;
  UInt32 mNextPosition = 0;
};
