// The tagged record format shared by LTagWriter and LTagReader.
//
// A record is a 32-bit tag, a 32-bit data length n and n bytes of data, all
// numbers big-endian, records following one another without padding. A section
// is a run of records closed by the end record: tag '>>>>' with length 0.
#pragma once

#include "platform/base/MacTypes.h"

constexpr UInt32 kTagEndOfSection = '>>>>';
constexpr UInt32 kTagHeaderSize = 8;

#include "platform/framework/LHandleStream.h"

// What the writer and the reader share: the streams they make over handles.
namespace UTagStream {
LHandleStream* MakeHandleStream(Handle inHandle);
// Over a new empty temporary handle; memFullErr thrown when none can be made.
LHandleStream* MakeTempHandleStream();
// Deletes a stream made above; unless inDisposeHandle, the caller's handle is
// detached first and survives.
void ReleaseHandleStream(LStream* inStream, Handle inOriginal, bool inDisposeHandle);
// A record position as a stream marker (positions beyond 2 GB mean the end).
SInt32 ClampPosition(UInt32 inPosition);
}  // namespace UTagStream
