// Writes tagged records (see UTagStream.h) to a stream. Writes never throw:
// each returns noErr or the stream's error code (the record may then be
// partly written). A section is closed with WriteNextTag('>>>>', 0, nil).
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LStream.h"
#include "toolkit/UTagStream.h"

class LTagWriter {
 public:
  // Over a new empty memory handle in a stream of its own (owns both).
  LTagWriter();
  // Over the given handle in a stream of its own; inDisposeHandle tells whether
  // the handle goes with the writer or stays with the caller.
  LTagWriter(Handle inHandle, Boolean inDisposeHandle);
  // Over the caller's stream, which stays the caller's.
  explicit LTagWriter(LStream* inStream);
  virtual ~LTagWriter();
  LTagWriter(const LTagWriter&) = delete;
  LTagWriter& operator=(const LTagWriter&) = delete;

  // Where the next record goes (an offset in the stream).
  void SetTagPosition(UInt32 inPosition) { mNextPosition = inPosition; }
  UInt32 GetTagPosition() const { return mNextPosition; }

  // Writes a record: the header at the next record position (clamped to the
  // end of the stream), then inLength bytes of inData unless inData is nil.
  OSErr WriteNextTag(UInt32 inTag, UInt32 inLength, const void* inData);
  OSErr WriteUInt16(UInt32 inTag, UInt16 inValue);
  OSErr WriteSInt16(UInt32 inTag, SInt16 inValue);
  OSErr WriteUInt32(UInt32 inTag, UInt32 inValue);
  OSErr WriteSInt32(UInt32 inTag, SInt32 inValue);
  OSErr WriteFloat(UInt32 inTag, float inValue);

  LStream* GetStream() const { return mStream; }
  // The data handle of a writer that made its own stream (nil otherwise).
  Handle GetHandle() const;

 private:
  bool mOwnsStream = false;
  bool mDisposeHandle = false;
  Handle mHandle = nullptr;
  LStream* mStream = nullptr;
  UInt32 mNextPosition = 0;
};
