#include "toolkit/LTagReader.h"

#include <algorithm>

#include "platform/base/Endian.h"
#include "platform/base/LException.h"

LTagReader::LTagReader() : mOwnsStream(true), mDisposeHandle(true) {
  LHandleStream* stream = UTagStream::MakeTempHandleStream();
  mStream = stream;
  mHandle = stream->GetDataHandle();
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagReader::LTagReader(Handle inHandle, Boolean inDisposeHandle)
    : mOwnsStream(true), mDisposeHandle(inDisposeHandle != 0), mHandle(inHandle) {
  mStream = UTagStream::MakeHandleStream(inHandle);
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagReader::LTagReader(LStream* inStream) : mStream(inStream) {
  ThrowIfNil_(inStream);
  mNextPosition = static_cast<UInt32>(mStream->GetMarker());
}

LTagReader::~LTagReader() {
  try {
    IgnoreTag();
  } catch (...) {
    LogCurrentException("tags", "~LTagReader");
  }
  if (mOwnsStream) UTagStream::ReleaseHandleStream(mStream, mHandle, mDisposeHandle);
}

Handle LTagReader::GetHandle() const {
  return mOwnsStream ? static_cast<LHandleStream*>(mStream)->GetDataHandle() : nullptr;
}

bool LTagReader::ReadNextTag(UInt32& outTag, UInt32& outLength) {
  try {
    mStream->SetMarker(UTagStream::ClampPosition(mNextPosition), streamFrom_Start);
    UInt8 header[kTagHeaderSize];
    mStream->ReadBlock(header, kTagHeaderSize);
    outTag = ReadBE32(header);
    outLength = ReadBE32(header + 4);
    // A damaged length must neither wrap the position backwards nor send it
    // beyond the data: the next record then starts at the end, and the next
    // call answers false. The position always moves forward by the header.
    SInt64 next = static_cast<SInt64>(mStream->GetMarker()) + outLength;
    mNextPosition = static_cast<UInt32>(std::min<SInt64>(next, mStream->GetLength()));
    return outTag != kTagEndOfSection;
  } catch (...) {
    return false;
  }
}

void LTagReader::IgnoreTag() { mStream->SetMarker(UTagStream::ClampPosition(mNextPosition), streamFrom_Start); }

void LTagReader::ReadData(void* outData, SInt32 inLength) { mStream->ReadBlock(outData, inLength); }

void LTagReader::ReadUInt16(UInt16& outValue) {
  UInt8 data[2];
  mStream->ReadBlock(data, sizeof data);
  outValue = ReadBE16(data);
}

void LTagReader::ReadSInt16(SInt16& outValue) {
  UInt16 v;
  ReadUInt16(v);
  outValue = static_cast<SInt16>(v);
}

void LTagReader::ReadUInt32(UInt32& outValue) {
  UInt8 data[4];
  mStream->ReadBlock(data, sizeof data);
  outValue = ReadBE32(data);
}

void LTagReader::ReadSInt32(SInt32& outValue) {
  UInt32 v;
  ReadUInt32(v);
  outValue = static_cast<SInt32>(v);
}

void LTagReader::ReadFloat(float& outValue) {
  UInt8 data[4];
  mStream->ReadBlock(data, sizeof data);
  outValue = ReadBEFloat(data);
}
