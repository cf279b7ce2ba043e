#include "platform/framework/LDataStream.h"

#include <algorithm>
#include <cstring>

LDataStream::LDataStream(void* inBuffer, SInt32 inLength)
    : mBuffer(static_cast<char*>(inBuffer)), mCapacity(inBuffer ? std::max<SInt32>(inLength, 0) : 0), mReadOnly(false) {
  mLength = mCapacity;
}

LDataStream::LDataStream(const void* inBuffer, SInt32 inLength)
    : mBuffer(static_cast<char*>(const_cast<void*>(inBuffer))),
      mCapacity(inBuffer ? std::max<SInt32>(inLength, 0) : 0),
      mReadOnly(true) {
  mLength = mCapacity;
}

void LDataStream::SetLength(SInt32 inLength) {
  if (inLength < 0) Throw_(paramErr);
  if (inLength > mCapacity) Throw_(ioErr);
  LStream::SetLength(inLength);
}

ExceptionCode LDataStream::PutBytes(const void* inBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  if (mReadOnly) {
    ioByteCount = 0;
    return want > 0 ? wrPermErr : noErr;
  }
  ExceptionCode err = noErr;
  if (want > mCapacity - mMarker) {
    want = mCapacity - mMarker;
    err = ioErr;
  }
  if (want > 0 && inBuffer) std::memmove(mBuffer + mMarker, inBuffer, static_cast<size_t>(want));
  mMarker += want;
  if (mMarker > mLength) mLength = mMarker;
  ioByteCount = want;
  return err;
}

ExceptionCode LDataStream::GetBytes(void* outBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  ExceptionCode err = noErr;
  if (want > mLength - mMarker) {
    want = mLength - mMarker;
    err = eofErr;
  }
  if (want > 0 && outBuffer) std::memmove(outBuffer, mBuffer + mMarker, static_cast<size_t>(want));
  mMarker += want;
  ioByteCount = want;
  return err;
}
