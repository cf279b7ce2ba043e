// What a sample description should say about its stream when the file that
// holds it says less: the codec's name for an empty compressor name, the
// pixel format ('cspc' codes) of compressed pictures, and the channel count
// of MPEG audio, whose MPEG-4 entries always claim two channels.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/base/MacTypes.h"

namespace movies {

// The pixel formats of YUV pictures, as image descriptions name them.
constexpr UInt32 kPixelFormatYUV420 = 'y420';
constexpr UInt32 kPixelFormatYUV422 = '2vuy';
constexpr UInt32 kPixelFormatYUV444 = 'v308';
constexpr UInt32 kPixelFormatYUV411 = 'y411';
constexpr UInt32 kPixelFormatYUV420_10 = 'x420';
constexpr UInt32 kPixelFormatYUV422_10 = 'x422';
constexpr UInt32 kPixelFormatYUV444_10 = 'x444';
constexpr UInt32 kPixelFormatGray8 = 40;

// The codec's name for a data format ('avc1' "H.264"); nil when unknown.
const char* CodecDisplayName(OSType inCodec);

// The pixel format of a compressed video description (host-order fixed
// fields followed by big-endian extension atoms), from its decoder
// configuration or, for JPEG, from the first bytes of its first sample;
// 0 when neither says.
UInt32 StatedPixelFormat(const std::vector<UInt8>& inDescBytes, const UInt8* inFirstSample, size_t inSampleSize);

// The channel count an MPEG audio frame header states (1 or 2); 0 when the
// bytes do not start a frame.
SInt16 MpegAudioFrameChannels(const UInt8* inData, size_t inSize);

// Completes a host-order video description: the codec's name when the
// compressor name is empty, a 'cspc' extension with the pixel format when
// it has none and the format is known. Answers whether anything changed.
bool CompleteImageDescription(std::vector<UInt8>& ioDescBytes, UInt32 inPixelFormat);

}  // namespace movies
