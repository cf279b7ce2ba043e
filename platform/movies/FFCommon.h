// Shared pieces of the FFmpeg-backed codecs and containers: the C headers,
// error codes, owning pointers for libav objects and the table between
// four-character codec codes and libavcodec's codec ids.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/base/LException.h"
#include "platform/base/MacTypes.h"

// Error codes of the codec, movie and sound layers that these classes report.
constexpr OSErr kFFCodecErr = -8960;           // a codec failed
constexpr OSErr kFFNoCodecErr = -8961;         // no codec for this type
constexpr OSErr kFFCodecBadDataErr = -8969;    // compressed data is damaged
constexpr OSErr kFFCantFindHandlerErr = -2003; // no exporter / container for this type
constexpr OSErr kFFInvalidTrackErr = -2009;    // the exporter cannot take this track kind
constexpr OSErr kFFInvalidSampleNumErr = -2037;
constexpr OSErr kFFInvalidMediaErr = -2008;     // a track's media has no timing (no time scale)
constexpr OSErr kFFNoMovieFoundErr = -2048;    // the file holds no readable movie
constexpr OSErr kFFBadSoundFormatErr = -206;   // sound format cannot be converted

// An OSErr for a libav error: missing files, I/O, memory and damaged data
// keep their meaning; anything else becomes `inFallback`.
OSErr FFErrorToOSErr(int inAVError, OSErr inFallback);
// Throws the code of an FFmpeg failure; the diagnostic log names both.
[[noreturn]] void ThrowFFError(int inAVError, OSErr inFallback);
// FFmpeg's own messages: silenced, or forwarded (warnings and worse) to the
// diagnostic log when it is on (TRX_LOG=1).
void InstallFFmpegLog();

// Owning pointers that free libav objects with their own functions.
struct FFPacketFree { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct FFFrameFree { void operator()(AVFrame* p) const { av_frame_free(&p); } };
struct FFCodecContextFree { void operator()(AVCodecContext* p) const { avcodec_free_context(&p); } };
struct FFSwsFree { void operator()(SwsContext* p) const { sws_freeContext(p); } };
struct FFSwrFree { void operator()(SwrContext* p) const { swr_free(&p); } };
struct FFInputFree { void operator()(AVFormatContext* p) const { avformat_close_input(&p); } };
typedef std::unique_ptr<AVPacket, FFPacketFree> FFPacketPtr;
typedef std::unique_ptr<AVFrame, FFFrameFree> FFFramePtr;
typedef std::unique_ptr<AVCodecContext, FFCodecContextFree> FFCodecContextPtr;
typedef std::unique_ptr<SwsContext, FFSwsFree> FFSwsPtr;
typedef std::unique_ptr<SwrContext, FFSwrFree> FFSwrPtr;
typedef std::unique_ptr<AVFormatContext, FFInputFree> FFInputPtr;

FFPacketPtr FFNewPacket();
FFFramePtr FFNewFrame();

// The little-endian tag libav stores in codec_tag for a four-character code.
inline UInt32 FFTagFromFourCC(OSType inCode) {
  return ((inCode >> 24) & 0xFFu) | ((inCode >> 8) & 0xFF00u) | ((inCode << 8) & 0xFF0000u) |
         ((inCode << 24) & 0xFF000000u);
}
inline OSType FFFourCCFromTag(UInt32 inTag) { return FFTagFromFourCC(inTag); }

// Codec ids of sample-description codes. `inHandler` is 'vide' or 'soun'
// ('raw ' names a video and a sound format). AV_CODEC_ID_NONE when unknown.
AVCodecID FFCodecIDForFourCC(OSType inHandler, OSType inCode, SInt16 inSampleSize = 16);
// The code a sample description of this codec carries; for ProRes, PCM and
// raw video the parameters choose among the codes. 0 when there is none.
OSType FFFourCCForCodec(const AVCodecParameters& inParams);

// The number of worker threads a codec or scaler should use.
int FFDefaultThreadCount();
