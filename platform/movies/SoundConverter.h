// The sound converter: converts sound between formats, sample rates and
// channel counts (and decompresses compressed input), pulling its input
// through a fill procedure a buffer at a time.
#pragma once

#include "platform/base/MacTypes.h"

typedef struct OpaqueSoundConverter* SoundConverter;

constexpr SInt32 kExtendedSoundData = 0x4000;
constexpr SInt32 kNoSoundComponentType = '****';
constexpr SInt32 kExtendedSoundSampleCountNotValid = 1;
constexpr SInt32 kExtendedSoundCommonFrameSizeValid = 2;
constexpr SInt32 kExtendedSoundBufferSizeValid = 4;
constexpr SInt32 kExtendedSoundBufferFlagsValid = 8;
constexpr UInt32 kSoundConverterDidntFillBuffer = 1u << 0;
constexpr UInt32 kSoundConverterHasLeftOverData = 1u << 1;
constexpr SInt16 fixedCompression = -1;
constexpr SInt16 variableCompression = -2;
constexpr OSErr badFormat = -206;

// Converter information selectors.
constexpr OSType siClientAcceptsVBR = 'cvbr';
constexpr OSType siCompressionOutputSampleRate = 'cprt';
constexpr OSType siCompressionChannels = 'cpct';
constexpr OSType siDecompressionParams = 'wave';
constexpr OSType siCompressionMaxPacketSize = 'cmxp';

struct SoundComponentData {
  SInt32 flags;
  OSType format;
  SInt16 numChannels;
  SInt16 sampleSize;
  UnsignedFixed sampleRate;
  SInt32 sampleCount;   // sample frames in the buffer (uncompressed sound)
  UInt8* buffer;
  SInt32 reserved;
};
typedef SoundComponentData* SoundComponentDataPtr;

struct ExtendedSoundComponentData {
  SoundComponentData desc;  // flags include kExtendedSoundData
  SInt32 recordSize;
  SInt32 extendedFlags;
  SInt32 bufferSize;        // bytes in desc.buffer
  SInt32 frameCount;
  SInt32* frameSizesArray;
  SInt32 commonFrameSize;   // bytes of one compressed packet
  void* extensionsPtr;
  SInt32 extensionsSize;
  UInt32 bufferFlags;
  UInt32 bufferFlagsMask;
};

struct CompressionInfo {
  SInt32 recordSize;
  OSType format;
  SInt16 compressionID;
  UInt16 samplesPerPacket;
  UInt16 bytesPerPacket;
  UInt16 bytesPerFrame;
  UInt16 bytesPerSample;
  UInt16 futureUse1;
};

// Answers the converter's next input: false when the source has no more.
typedef Boolean (*SoundConverterFillBufferDataProcPtr)(SoundComponentDataPtr* outData, void* inRefCon);
typedef SoundConverterFillBufferDataProcPtr SoundConverterFillBufferDataUPP;
inline SoundConverterFillBufferDataUPP NewSoundConverterFillBufferDataUPP(SoundConverterFillBufferDataProcPtr p) {
  return p;
}

// badFormat for a pair of formats that cannot be converted; the output must be uncompressed.
OSErr SoundConverterOpen(const SoundComponentData* inInput, const SoundComponentData* inOutput,
                         SoundConverter* outConverter);
OSErr SoundConverterClose(SoundConverter inConverter);
// 'cvbr' (Boolean), 'cprt' (UnsignedFixed: must match the output), 'cpct'
// (SInt16: must match the output), 'wave' (a Handle of decompression
// parameters); paramErr otherwise.
OSErr SoundConverterSetInfo(SoundConverter inConverter, OSType inSelector, void* inInfo);
// 'cmxp' (UInt32: the largest output packet, 0 when not fixed).
OSErr SoundConverterGetInfo(SoundConverter inConverter, OSType inSelector, void* outInfo);
OSErr SoundConverterGetBufferSizes(SoundConverter inConverter, UInt32 inInputBytesTarget, UInt32* outInputFrames,
                                   UInt32* outInputBytes, UInt32* outOutputBytes);
OSErr SoundConverterBeginConversion(SoundConverter inConverter);
OSErr SoundConverterFillBuffer(SoundConverter inConverter, SoundConverterFillBufferDataUPP inFillProc,
                               void* inRefCon, void* outBuffer, UInt32 inBufferBytes, UInt32* outBytesWritten,
                               UInt32* outFramesWritten, UInt32* outFlags);
OSErr SoundConverterEndConversion(SoundConverter inConverter, void* outBuffer, UInt32* outFrames, UInt32* outBytes);
// Packet layout of an uncompressed or compressed format.
OSErr GetCompressionInfo(SInt16 inCompressionID, OSType inFormat, SInt16 inChannels, SInt16 inSampleSize,
                         CompressionInfo* outInfo);
