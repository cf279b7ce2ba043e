#include "platform/movies/SoundConverter.h"

#include <memory>
#include <new>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/movies/FFSoundConverter.h"
#include "platform/movies/Movies.h"

struct OpaqueSoundConverter {
  FFSoundFormat input;
  FFSoundFormat output;
  std::unique_ptr<CFFSoundConverter> converter;
  SoundConverterFillBufferDataUPP fill = nullptr;
  void* fillRefCon = nullptr;
  UInt32 lastBufferBytes = 0;  // EndConversion writes at most this much
  bool begun = false;
};

namespace {

bool IsCompressed(OSType inFormat) {
  switch (inFormat) {
    case 'raw ': case 'twos': case 'sowt': case 'in24': case 'in32': case 'fl32': case 'fl64': case 'NONE':
      return false;
    default:
      return true;
  }
}

FFSoundFormat FormatOf(const SoundComponentData& inData) {
  FFSoundFormat f;
  f.format = inData.format == 'NONE' ? 'raw ' : inData.format;
  f.sampleRate = static_cast<double>(inData.sampleRate) / 65536.0;
  f.channels = inData.numChannels;
  f.sampleSize = inData.sampleSize;
  return f;
}

// Hands the converter what the caller's fill procedure answers.
bool FillAdapter(FFSoundInput* outInput, void* inRefCon) {
  auto* sc = static_cast<OpaqueSoundConverter*>(inRefCon);
  SoundComponentDataPtr data = nullptr;
  if (sc->fill == nullptr || !sc->fill(&data, sc->fillRefCon) || data == nullptr || data->buffer == nullptr)
    return false;
  *outInput = FFSoundInput();
  outInput->data = data->buffer;
  if (data->flags & kExtendedSoundData) {
    auto* ext = reinterpret_cast<ExtendedSoundComponentData*>(data);
    outInput->bytes = ext->bufferSize > 0 ? static_cast<UInt32>(ext->bufferSize) : 0;
    if ((ext->extendedFlags & kExtendedSoundCommonFrameSizeValid) && ext->commonFrameSize > 0)
      outInput->packetSize = static_cast<UInt32>(ext->commonFrameSize);
  } else {
    const SInt64 bytes = static_cast<SInt64>(data->sampleCount) * sc->input.channels * (sc->input.sampleSize / 8);
    outInput->bytes = bytes > 0 && bytes < 0x7FFFFFFF ? static_cast<UInt32>(bytes) : 0;
  }
  return outInput->bytes > 0;
}

template <typename F>
OSErr Guarded(F&& inBody) {
  try {
    inBody();
    return noErr;
  } catch (...) {
    return OSErrOfCurrent(memFullErr, internalQuickTimeError);
  }
}

}  // namespace

OSErr SoundConverterOpen(const SoundComponentData* inInput, const SoundComponentData* inOutput,
                         SoundConverter* outConverter) {
  if (inInput == nullptr || inOutput == nullptr || outConverter == nullptr) return paramErr;
  *outConverter = nullptr;
  if (IsCompressed(inOutput->format)) return badFormat;
  return Guarded([&] {
    auto sc = std::make_unique<OpaqueSoundConverter>();
    sc->input = FormatOf(*inInput);
    sc->output = FormatOf(*inOutput);
    sc->converter = std::make_unique<CFFSoundConverter>(sc->input, sc->output);
    *outConverter = sc.release();
  });
}

OSErr SoundConverterClose(SoundConverter inConverter) {
  if (inConverter == nullptr) return paramErr;
  delete inConverter;
  return noErr;
}

OSErr SoundConverterSetInfo(SoundConverter inConverter, OSType inSelector, void* inInfo) {
  if (inConverter == nullptr || inInfo == nullptr) return paramErr;
  switch (inSelector) {
    case siClientAcceptsVBR:
      return noErr;
    case siCompressionOutputSampleRate:
      return *static_cast<UnsignedFixed*>(inInfo) == static_cast<UnsignedFixed>(inConverter->output.sampleRate * 65536.0)
                 ? noErr
                 : paramErr;
    case siCompressionChannels:
      return *static_cast<SInt16*>(inInfo) == inConverter->output.channels ? noErr : paramErr;
    case siDecompressionParams: {
      Handle h = static_cast<Handle>(inInfo);
      if (inConverter->begun) return paramErr;
      return Guarded([&] { inConverter->converter->SetDecompressionParams(*h, static_cast<size_t>(GetHandleSize(h))); });
    }
    default:
      return paramErr;
  }
}

OSErr SoundConverterGetInfo(SoundConverter inConverter, OSType inSelector, void* outInfo) {
  if (inConverter == nullptr || outInfo == nullptr) return paramErr;
  if (inSelector != siCompressionMaxPacketSize) return paramErr;
  // Uncompressed output has no packets of its own: the largest is one frame.
  *static_cast<UInt32*>(outInfo) = inConverter->converter->GetOutputFrameBytes();
  return noErr;
}

OSErr SoundConverterGetBufferSizes(SoundConverter inConverter, UInt32 inInputBytesTarget, UInt32* outInputFrames,
                                   UInt32* outInputBytes, UInt32* outOutputBytes) {
  if (inConverter == nullptr) return paramErr;
  UInt32 frames = 0, inBytes = 0, outBytes = 0;
  inConverter->converter->GetBufferSizes(inInputBytesTarget, &frames, &inBytes, &outBytes);
  if (outInputFrames) *outInputFrames = frames;
  if (outInputBytes) *outInputBytes = inBytes;
  if (outOutputBytes) *outOutputBytes = outBytes;
  return noErr;
}

OSErr SoundConverterBeginConversion(SoundConverter inConverter) {
  if (inConverter == nullptr) return paramErr;
  return Guarded([&] {
    inConverter->converter->BeginConversion();
    inConverter->begun = true;
  });
}

OSErr SoundConverterFillBuffer(SoundConverter inConverter, SoundConverterFillBufferDataUPP inFillProc, void* inRefCon,
                               void* outBuffer, UInt32 inBufferBytes, UInt32* outBytesWritten,
                               UInt32* outFramesWritten, UInt32* outFlags) {
  if (outBytesWritten) *outBytesWritten = 0;
  if (outFramesWritten) *outFramesWritten = 0;
  if (outFlags) *outFlags = 0;
  if (inConverter == nullptr || inFillProc == nullptr || outBuffer == nullptr) return paramErr;
  if (!inConverter->begun) return paramErr;
  inConverter->fill = inFillProc;
  inConverter->fillRefCon = inRefCon;
  inConverter->lastBufferBytes = inBufferBytes;
  UInt32 bytes = 0, frames = 0, flags = 0;
  OSErr err = Guarded([&] { inConverter->converter->FillBuffer(FillAdapter, inConverter, outBuffer, inBufferBytes, &bytes, &frames, &flags); });
  inConverter->fill = nullptr;
  inConverter->fillRefCon = nullptr;
  if (err != noErr) return err;
  if (outBytesWritten) *outBytesWritten = bytes;
  if (outFramesWritten) *outFramesWritten = frames;
  if (outFlags) *outFlags = (flags & kFFSoundDidntFillBuffer) ? kSoundConverterDidntFillBuffer : 0;
  return noErr;
}

OSErr SoundConverterEndConversion(SoundConverter inConverter, void* outBuffer, UInt32* outFrames, UInt32* outBytes) {
  if (outFrames) *outFrames = 0;
  if (outBytes) *outBytes = 0;
  if (inConverter == nullptr) return paramErr;
  if (!inConverter->begun) return noErr;
  UInt32 bytes = 0, frames = 0;
  OSErr err = noErr;
  if (outBuffer != nullptr && inConverter->lastBufferBytes > 0)
    err = Guarded([&] { inConverter->converter->EndConversion(outBuffer, inConverter->lastBufferBytes, &bytes, &frames); });
  inConverter->begun = false;
  if (outFrames) *outFrames = frames;
  if (outBytes) *outBytes = bytes;
  return err;
}

OSErr GetCompressionInfo(SInt16, OSType inFormat, SInt16 inChannels, SInt16 inSampleSize, CompressionInfo* outInfo) {
  if (outInfo == nullptr || inChannels <= 0) return paramErr;
  *outInfo = CompressionInfo();
  outInfo->recordSize = sizeof(CompressionInfo);
  outInfo->format = inFormat;
  UInt16 bytesPerSample = 0;
  switch (inFormat) {
    case 'raw ': case 'twos': case 'sowt': case 'NONE':
      bytesPerSample = static_cast<UInt16>(inSampleSize <= 8 ? 1 : inSampleSize / 8);
      break;
    case 'in24': bytesPerSample = 3; break;
    case 'in32': case 'fl32': bytesPerSample = 4; break;
    case 'fl64': bytesPerSample = 8; break;
    case 'ulaw': case 'alaw': bytesPerSample = 1; break;
    default:
      return badFormat;
  }
  outInfo->compressionID = (inFormat == 'ulaw' || inFormat == 'alaw') ? fixedCompression : 0;
  outInfo->samplesPerPacket = 1;
  outInfo->bytesPerPacket = bytesPerSample;
  outInfo->bytesPerFrame = static_cast<UInt16>(bytesPerSample * inChannels);
  outInfo->bytesPerSample = bytesPerSample;
  return noErr;
}
