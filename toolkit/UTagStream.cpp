#include "toolkit/UTagStream.h"

#include <new>

#include "platform/base/MacMemory.h"

namespace UTagStream {

LHandleStream* MakeHandleStream(Handle inHandle) { return new LHandleStream(inHandle); }

LHandleStream* MakeTempHandleStream() {
  OSErr err = noErr;
  Handle h = TempNewHandle(0, &err);
  if (!h) Throw_(err ? err : memFullErr);
  try {
    return new LHandleStream(h);
  } catch (...) {
    DisposeHandle(h);
    throw;
  }
}

void ReleaseHandleStream(LStream* inStream, Handle inOriginal, bool inDisposeHandle) {
  auto* stream = static_cast<LHandleStream*>(inStream);
  if (!stream) return;
  if (!inDisposeHandle) {
    // The caller keeps its handle. A handle the stream made itself (the caller
    // gave none) is nobody else's and goes with the stream.
    Handle h = stream->DetachDataHandle();
    if (h != inOriginal) DisposeHandle(h);
  }
  delete stream;
}

SInt32 ClampPosition(UInt32 inPosition) {
  return inPosition > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<SInt32>(inPosition);
}

}  // namespace UTagStream
