#include "platform/framework/LHandleStream.h"

#include <algorithm>
#include <cstring>

#include "platform/base/MacMemory.h"

LHandleStream::LHandleStream() : mDataH(NewHandle(0)) {
  if (!mDataH) Throw_(memFullErr);
}

LHandleStream::LHandleStream(Handle inHandle) { SetDataHandle(inHandle); }

LHandleStream::~LHandleStream() { DisposeHandle(mDataH); }

void LHandleStream::SetDataHandle(Handle inHandle) {
  if (mDataH && mDataH != inHandle) DisposeHandle(mDataH);
  mDataH = inHandle;
  mMarker = 0;
  mLength = inHandle ? GetHandleSize(inHandle) : 0;
}

Handle LHandleStream::DetachDataHandle() {
  Handle h = mDataH;
  mDataH = nullptr;
  mMarker = 0;
  mLength = 0;
  return h;
}

void LHandleStream::SetLength(SInt32 inLength) {
  if (inLength < 0) Throw_(paramErr);
  if (!mDataH) {
    mDataH = NewHandle(inLength);
    if (!mDataH) Throw_(MemError() ? MemError() : memFullErr);
  } else {
    SetHandleSize(mDataH, inLength);
    if (OSErr err = MemError()) Throw_(err);
  }
  LStream::SetLength(inLength);
}

ExceptionCode LHandleStream::PutBytes(const void* inBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  ExceptionCode err = noErr;
  if (want > 0x7FFFFFFF - mMarker) {
    want = 0x7FFFFFFF - mMarker;
    err = memFullErr;
  }
  if (mMarker + want > mLength) {
    try {
      SetLength(mMarker + want);
    } catch (const LException& e) {
      err = e.GetErrorCode();
      want = std::max<SInt32>(mLength - mMarker, 0);
    }
  }
  if (want > 0 && inBuffer) std::memmove(*mDataH + mMarker, inBuffer, static_cast<size_t>(want));
  mMarker += want;
  ioByteCount = want;
  return err;
}

ExceptionCode LHandleStream::GetBytes(void* outBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  ExceptionCode err = noErr;
  if (want > mLength - mMarker) {
    want = mLength - mMarker;
    err = eofErr;
  }
  if (want > 0 && outBuffer) std::memmove(outBuffer, *mDataH + mMarker, static_cast<size_t>(want));
  mMarker += want;
  ioByteCount = want;
  return err;
}
