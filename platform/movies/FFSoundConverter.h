// Conversion of sound between sample rates, channel counts and sample
// formats (8/16/24/32-bit integers, 32/64-bit floats, either byte order),
// and decompression of compressed sound, over libswresample and libavcodec.
// The caller pulls converted output a buffer at a time; the converter pulls
// its input through a fill procedure.
#pragma once

#include <vector>

#include "platform/movies/FFCommon.h"

struct FFSoundFormat {
  OSType format = 'sowt';     // 'raw ' (8-bit unsigned), 'twos'/'sowt' (8/16/24/32-bit signed,
                              // big/little-endian), 'in24', 'in32', 'fl32', 'fl64', or a compressed
                              // format as input only ('ulaw', 'alaw', 'ima4', 'mp4a'...)
  Float64 sampleRate = 44100;
  SInt16 channels = 2;
  SInt16 sampleSize = 16;     // bits per sample for 'twos'/'sowt'
  Boolean littleEndian = kFalse;  // 'in24', 'in32', 'fl32', 'fl64' stored little-endian
};

// What a fill procedure hands the converter: uncompressed sound as whole
// sample frames, compressed sound as packets of `packetSize` bytes (0: the
// codec's own block size, or the whole buffer as one packet).
struct FFSoundInput {
  const void* data = nullptr;
  UInt32 bytes = 0;
  UInt32 packetSize = 0;
};

// Returns false, with no data, when the source has no more sound.
typedef bool (*FFSoundFillProc)(FFSoundInput* outInput, void* inRefCon);

// Output flags of `FillBuffer`.
constexpr UInt32 kFFSoundDidntFillBuffer = 1u << 0;  // the source ended before the buffer was full
constexpr UInt32 kFFSoundEnded = 1u << 1;            // every converted frame has been delivered

class CFFSoundConverter {
 public:
  // Throws kFFBadSoundFormatErr for a format that cannot be read or written
  // (compressed output, unknown codes, rates or channel counts out of range).
  CFFSoundConverter(const FFSoundFormat& inInput, const FFSoundFormat& inOutput);
  ~CFFSoundConverter();
  CFFSoundConverter(const CFFSoundConverter&) = delete;
  CFFSoundConverter& operator=(const CFFSoundConverter&) = delete;

  // Decoder configuration of compressed input (an 'esds' payload or the
  // decoder-specific information), before `BeginConversion`.
  void SetDecompressionParams(const void* inData, size_t inSize);

  // For about `inInputBytes` of input: the whole sample frames and bytes of
  // input taken, and the output bytes they give at most.
  void GetBufferSizes(UInt32 inInputBytes, UInt32* outInputFrames, UInt32* outInputBytes,
                      UInt32* outOutputBytes) const;
  // Output bytes of one sample frame.
  UInt32 GetOutputFrameBytes() const { return mOutFrameBytes; }
  // The output's channel layout as a channel mask: the decoded sound's own
  // layout once a frame is decoded, where it has as many channels as the
  // output (5.1 with side or with back channels stays as it is); 0 while
  // nothing says more than the count.
  UInt64 GetChannelMask() const;

  void BeginConversion();
  // Fills `outBuffer` (up to `inBufferBytes`, whole frames) with converted
  // sound, pulling input through `inFill` as needed. `outFlags` gets
  // kFFSoundDidntFillBuffer when the source ended and kFFSoundEnded once
  // nothing is left.
  void FillBuffer(FFSoundFillProc inFill, void* inRefCon, void* outBuffer, UInt32 inBufferBytes, UInt32* outBytes,
                  UInt32* outFrames, UInt32* outFlags);
  // The output still held back (the resampler's tail), after the source
  // ended or when conversion stops early; then the converter is reset.
  void EndConversion(void* outBuffer, UInt32 inBufferBytes, UInt32* outBytes, UInt32* outFrames);

 private:
  enum class Pcm { kNone, kU8, kS8, kS16BE, kS16LE, kS24BE, kS24LE, kS32BE, kS32LE, kF32BE, kF32LE, kF64BE, kF64LE };
  static Pcm PcmOf(const FFSoundFormat& inFormat);
  static UInt32 PcmBytes(Pcm inKind);
  static AVSampleFormat NativeFormat(Pcm inKind);

  // Input in inFormat at inRate (0: the input format's rate), laid out as mInLayout.
  void SetUpResampler(AVSampleFormat inFormat, int inRate = 0);
  bool PullInput(FFSoundFillProc inFill, void* inRefCon);
  void FeedResampler(const uint8_t* const* inData, int inFrames);
  int Produce(uint8_t* outNative, int inCapacity, const uint8_t* const* inData, int inFrames);
  void Pack(const uint8_t* inNative, UInt32 inFrames, UInt8* outBytes) const;

  FFSoundFormat mIn, mOut;
  Pcm mInKind, mOutKind;
  UInt32 mInFrameBytes = 0, mOutFrameBytes = 0;
  AVChannelLayout mInLayout{}, mOutLayout{};
  bool mOutLayoutKnown = false;  // mOutLayout is the decoded sound's, not a default of the count
  int mDecodedFormat = -1;   // the decoded frames' format and rate the resampler was made for
  int mDecodedRate = 0;
  FFSwrPtr mResampler;
  FFCodecContextPtr mDecoder;
  FFPacketPtr mPacket;
  FFFramePtr mFrame;
  std::vector<UInt8> mConfig;
  UInt8 mObjectType = 0;  // of an 'esds' configuration: which codec an 'mp4a' stream really holds
  std::vector<UInt8> mNativeIn;    // unpacked input
  std::vector<UInt8> mCarry;       // bytes of an incomplete input frame
  std::vector<UInt8> mJoined;
  std::vector<UInt8> mNativeOut;   // converted output before packing
  bool mBegun = false;
  bool mSourceEnded = false;
  bool mFlushed = false;
};
