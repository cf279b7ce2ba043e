#include "toolkit/LTagWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/base/Endian.h"

LTagWriter::LTagWriter() : mOwnsStream(true), mDisposeHandle(true) {
  LHandleStream* stream = UTagStream::MakeTempHandleStream();
  mStream = stream;
  mHandle = stream->GetDataHandle();
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagWriter::LTagWriter(Handle inHandle, Boolean inDisposeHandle)
    : mOwnsStream(true), mDisposeHandle(inDisposeHandle != 0), mHandle(inHandle) {
  mStream = UTagStream::MakeHandleStream(inHandle);
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagWriter::LTagWriter(LStream* inStream) : mStream(inStream) {
  ThrowIfNil_(inStream);
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagWriter::~LTagWriter() {
  if (mOwnsStream) UTagStream::ReleaseHandleStream(mStream, mHandle, mDisposeHandle);
}

Handle LTagWriter::GetHandle() const {
  return mOwnsStream ? static_cast<LHandleStream*>(mStream)->GetDataHandle() : nullptr;
}

OSErr LTagWriter::WriteNextTag(UInt32 inTag, UInt32 inLength, const void* inData) {
  try {
    if (inData && inLength > 0x7FFFFFFFu) return paramErr;
    mStream->SetMarker(UTagStream::ClampPosition(mNextPosition), streamFrom_Start);
    UInt8 header[kTagHeaderSize];
    WriteBE32(header, inTag);
    WriteBE32(header + 4, inLength);
    mStream->WriteBlock(header, kTagHeaderSize);
    // Computed wide and saturated: a huge length must not wrap the position
    // back over records already written.
    UInt64 next = static_cast<UInt64>(mStream->GetMarker()) + inLength;
    mNextPosition = static_cast<UInt32>(std::min<UInt64>(next, 0xFFFFFFFFu));
    if (inData && inLength > 0) mStream->WriteBlock(inData, static_cast<SInt32>(inLength));
    return noErr;
  } catch (...) {
    return OSErrOfCurrent(memFullErr);
  }
}

OSErr LTagWriter::WriteUInt16(UInt32 inTag, UInt16 inValue) {
  UInt8 data[2];
  WriteBE16(data, inValue);
  return WriteNextTag(inTag, sizeof data, data);
}

OSErr LTagWriter::WriteSInt16(UInt32 inTag, SInt16 inValue) { return WriteUInt16(inTag, static_cast<UInt16>(inValue)); }

OSErr LTagWriter::WriteUInt32(UInt32 inTag, UInt32 inValue) {
  UInt8 data[4];
  WriteBE32(data, inValue);
  return WriteNextTag(inTag, sizeof data, data);
}

OSErr LTagWriter::WriteSInt32(UInt32 inTag, SInt32 inValue) { return WriteUInt32(inTag, static_cast<UInt32>(inValue)); }

OSErr LTagWriter::WriteFloat(UInt32 inTag, float inValue) {
  UInt8 data[4];
  WriteBEFloat(data, inValue);
  return WriteNextTag(inTag, sizeof data, data);
}
