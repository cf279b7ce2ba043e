// A stream over memory the caller owns and keeps alive; its capacity is fixed.
#pragma once

#include "platform/framework/LStream.h"

class LDataStream : public LStream {
 public:
  // The whole buffer is the stream's data (length = inLength, marker 0).
  LDataStream(void* inBuffer, SInt32 inLength);
  // A read-only stream over constant memory; writing fails with wrPermErr.
  LDataStream(const void* inBuffer, SInt32 inLength);

  // The length may shrink and grow again up to the buffer's size (else ioErr).
  void SetLength(SInt32 inLength) override;
  ExceptionCode PutBytes(const void* inBuffer, SInt32& ioByteCount) override;
  ExceptionCode GetBytes(void* outBuffer, SInt32& ioByteCount) override;

  void* GetBuffer() const { return mBuffer; }

 private:
  char* mBuffer;
  SInt32 mCapacity;
  bool mReadOnly;
};
