// A stream over a memory handle that it owns; writing beyond the end grows
// the handle.
#pragma once

#include "platform/framework/LStream.h"

class LHandleStream : public LStream {
 public:
  // Over a new empty handle (memFullErr thrown when none can be made).
  LHandleStream();
  // Takes ownership of the handle (nil: an empty stream that makes a handle
  // when first written). The marker starts at 0, the length is the handle's size.
  explicit LHandleStream(Handle inHandle);
  ~LHandleStream() override;

  void SetLength(SInt32 inLength) override;
  ExceptionCode PutBytes(const void* inBuffer, SInt32& ioByteCount) override;
  ExceptionCode GetBytes(void* outBuffer, SInt32& ioByteCount) override;

  Handle GetDataHandle() const { return mDataH; }
  // Disposes of the current handle and adopts the given one; marker 0.
  void SetDataHandle(Handle inHandle);
  // Gives the handle to the caller; the stream is left empty without a handle.
  Handle DetachDataHandle();

 private:
  Handle mDataH = nullptr;
};
