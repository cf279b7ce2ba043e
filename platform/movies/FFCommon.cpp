#include "platform/movies/FFCommon.h"

#include <cerrno>
#include <thread>

#include "platform/base/FourCC.h"
#include "platform/base/TrxLog.h"

OSErr FFErrorToOSErr(int inAVError, OSErr inFallback) {
  switch (inAVError) {
    case AVERROR(ENOENT): return fnfErr;
    case AVERROR(EACCES): case AVERROR(EPERM): return afpAccessDenied;
    case AVERROR(ENOMEM): return memFullErr;
    case AVERROR(ENOSPC): return dskFulErr;
    case AVERROR(EIO): return ioErr;
    case AVERROR_EOF: return eofErr;
    case AVERROR_EXIT: return userCanceledErr;
    default: return inFallback;
  }
}

void ThrowFFError(int inAVError, OSErr inFallback) {
  const OSErr err = FFErrorToOSErr(inAVError, inFallback);
  if (TrxLogEnabled() && inAVError != AVERROR_EOF) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(inAVError, text, sizeof text);
    TrxLog("movies", "FFmpeg failure %d (%s) reported as %d", inAVError, text, static_cast<int>(err));
  }
  Throw_(err);
}

namespace {

void ForwardFFmpegMessage(void* inClass, int inLevel, const char* inFormat, va_list inArgs) {
  if (inLevel > av_log_get_level()) return;
  char line[768];
  int prefix = 1;
  av_log_format_line2(inClass, inLevel, inFormat, inArgs, line, sizeof line, &prefix);
  TrxLog("ffmpeg", "%s", line);
}

}  // namespace

void InstallFFmpegLog() {
  if (TrxLogEnabled()) {
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(ForwardFFmpegMessage);
  } else {
    av_log_set_level(AV_LOG_FATAL);
  }
}

FFPacketPtr FFNewPacket() {
  FFPacketPtr p(av_packet_alloc());
  ThrowIfMemFail_(p.get());
  return p;
}

FFFramePtr FFNewFrame() {
  FFFramePtr f(av_frame_alloc());
  ThrowIfMemFail_(f.get());
  return f;
}

int FFDefaultThreadCount() {
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  return static_cast<int>(n > 16 ? 16 : n);
}

namespace {

struct CodeEntry {
  OSType handler;
  OSType code;
  AVCodecID id;
};

// The first entry of an id is the code written for it.
constexpr CodeEntry kCodeTable[] = {
    {'vide', 'avc1', AV_CODEC_ID_H264},        {'vide', 'avc3', AV_CODEC_ID_H264},
    {'vide', 'H264', AV_CODEC_ID_H264},        {'vide', 'h264', AV_CODEC_ID_H264},
    {'vide', 'hvc1', AV_CODEC_ID_HEVC},        {'vide', 'hev1', AV_CODEC_ID_HEVC},
    {'vide', 'mp4v', AV_CODEC_ID_MPEG4},       {'vide', 'jpeg', AV_CODEC_ID_MJPEG},
    {'vide', 'mjpa', AV_CODEC_ID_MJPEG},       {'vide', 'AVDJ', AV_CODEC_ID_MJPEG},
    {'vide', 'mjpb', AV_CODEC_ID_MJPEGB},      {'vide', 'apcn', AV_CODEC_ID_PRORES},
    {'vide', 'apch', AV_CODEC_ID_PRORES},      {'vide', 'apcs', AV_CODEC_ID_PRORES},
    {'vide', 'apco', AV_CODEC_ID_PRORES},      {'vide', 'ap4h', AV_CODEC_ID_PRORES},
    {'vide', 'ap4x', AV_CODEC_ID_PRORES},      {'vide', 'dvc ', AV_CODEC_ID_DVVIDEO},
    {'vide', 'dvcp', AV_CODEC_ID_DVVIDEO},     {'vide', 'dvpp', AV_CODEC_ID_DVVIDEO},
    {'vide', 'dv5n', AV_CODEC_ID_DVVIDEO},     {'vide', 'dv5p', AV_CODEC_ID_DVVIDEO},
    {'vide', 'dvh5', AV_CODEC_ID_DVVIDEO},     {'vide', 'dvh6', AV_CODEC_ID_DVVIDEO},
    {'vide', 'dvhq', AV_CODEC_ID_DVVIDEO},     {'vide', 'dvhp', AV_CODEC_ID_DVVIDEO},
    {'vide', 'raw ', AV_CODEC_ID_RAWVIDEO},    {'vide', 'yuv2', AV_CODEC_ID_RAWVIDEO},
    {'vide', '2vuy', AV_CODEC_ID_RAWVIDEO},    {'vide', 'yuvs', AV_CODEC_ID_RAWVIDEO},
    {'vide', 'v210', AV_CODEC_ID_V210},        {'vide', 'mp2v', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'mx5n', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'mx5p', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'mx4n', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'mx4p', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'mx3n', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'mx3p', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'hdv1', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'hdv2', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'hdv3', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'hdv5', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'hdv6', AV_CODEC_ID_MPEG2VIDEO},  {'vide', 'hdv7', AV_CODEC_ID_MPEG2VIDEO},
    {'vide', 'mp1v', AV_CODEC_ID_MPEG1VIDEO},  {'vide', 'm1v ', AV_CODEC_ID_MPEG1VIDEO},
    {'vide', 'h263', AV_CODEC_ID_H263},        {'vide', 's263', AV_CODEC_ID_H263},
    {'vide', 'SVQ1', AV_CODEC_ID_SVQ1},        {'vide', 'SVQ3', AV_CODEC_ID_SVQ3},
    {'vide', 'cvid', AV_CODEC_ID_CINEPAK},     {'vide', 'rle ', AV_CODEC_ID_QTRLE},
    {'vide', 'rpza', AV_CODEC_ID_RPZA},        {'vide', 'smc ', AV_CODEC_ID_SMC},
    {'vide', 'png ', AV_CODEC_ID_PNG},         {'vide', 'tiff', AV_CODEC_ID_TIFF},
    {'vide', 'gif ', AV_CODEC_ID_GIF},
    {'vide', 'vp09', AV_CODEC_ID_VP9},         {'vide', 'av01', AV_CODEC_ID_AV1},
    {'vide', 'VP80', AV_CODEC_ID_VP8},         {'vide', 'theo', AV_CODEC_ID_THEORA},
    {'vide', 'FLV1', AV_CODEC_ID_FLV1},        {'vide', 'WMV3', AV_CODEC_ID_WMV3},
    {'vide', 'WVC1', AV_CODEC_ID_VC1},
    {'soun', 'twos', AV_CODEC_ID_PCM_S16BE},   {'soun', 'sowt', AV_CODEC_ID_PCM_S16LE},
    {'soun', 'in24', AV_CODEC_ID_PCM_S24BE},   {'soun', 'in32', AV_CODEC_ID_PCM_S32BE},
    {'soun', 'fl32', AV_CODEC_ID_PCM_F32BE},   {'soun', 'fl64', AV_CODEC_ID_PCM_F64BE},
    {'soun', 'raw ', AV_CODEC_ID_PCM_U8},      {'soun', 'ulaw', AV_CODEC_ID_PCM_MULAW},
    {'soun', 'alaw', AV_CODEC_ID_PCM_ALAW},    {'soun', 'ima4', AV_CODEC_ID_ADPCM_IMA_QT},
    {'soun', 'mp4a', AV_CODEC_ID_AAC},         {'soun', '.mp3', AV_CODEC_ID_MP3},
    {'soun', '.mp2', AV_CODEC_ID_MP2},         {'soun', 'ac-3', AV_CODEC_ID_AC3},
    {'soun', 'alac', AV_CODEC_ID_ALAC},        {'soun', 'samr', AV_CODEC_ID_AMR_NB},
    {'soun', 'MAC3', AV_CODEC_ID_MACE3},       {'soun', 'MAC6', AV_CODEC_ID_MACE6},
    {'soun', 'Qclp', AV_CODEC_ID_QCELP},       {'soun', 'QDM2', AV_CODEC_ID_QDM2},
    {'soun', 'opus', AV_CODEC_ID_OPUS},        {'soun', 'fLaC', AV_CODEC_ID_FLAC},
    {'soun', 'vorb', AV_CODEC_ID_VORBIS},
};

}  // namespace

AVCodecID FFCodecIDForFourCC(OSType inHandler, OSType inCode, SInt16 inSampleSize) {
  if (inHandler == 'soun') {
    // 'twos' and 'sowt' name 8-bit signed samples as well as 16-bit ones.
    if ((inCode == 'twos' || inCode == 'sowt') && inSampleSize == 8) return AV_CODEC_ID_PCM_S8;
    if (inCode == 'twos' && inSampleSize == 24) return AV_CODEC_ID_PCM_S24BE;
    if (inCode == 'twos' && inSampleSize == 32) return AV_CODEC_ID_PCM_S32BE;
    if (inCode == 'sowt' && inSampleSize == 24) return AV_CODEC_ID_PCM_S24LE;
    if (inCode == 'sowt' && inSampleSize == 32) return AV_CODEC_ID_PCM_S32LE;
  }
  for (const CodeEntry& e : kCodeTable)
    if (e.handler == inHandler && e.code == inCode) return e.id;
  return AV_CODEC_ID_NONE;
}

OSType FFFourCCForCodec(const AVCodecParameters& inParams) {
  switch (inParams.codec_id) {
    case AV_CODEC_ID_PRORES:
      switch (inParams.profile) {
        case 0: return 'apco';
        case 1: return 'apcs';
        case 3: return 'apch';
        case 4: return 'ap4h';
        case 5: return 'ap4x';
        default: return 'apcn';
      }
    case AV_CODEC_ID_RAWVIDEO:
      switch (inParams.format) {
        case AV_PIX_FMT_UYVY422: return '2vuy';
        case AV_PIX_FMT_YUYV422: return 'yuvs';
        default: return 'raw ';
      }
    case AV_CODEC_ID_PCM_S8: return 'twos';
    case AV_CODEC_ID_PCM_S24LE: return 'in24';
    case AV_CODEC_ID_PCM_S32LE: return 'in32';
    case AV_CODEC_ID_PCM_F32LE: return 'fl32';
    case AV_CODEC_ID_PCM_F64LE: return 'fl64';
    case AV_CODEC_ID_DVVIDEO:
      if (inParams.height >= 720) return 'dvh5';
      return inParams.height == 576 ? 'dvcp' : 'dvc ';
    default: break;
  }
  const OSType handler = inParams.codec_type == AVMEDIA_TYPE_AUDIO ? 'soun' : 'vide';
  for (const CodeEntry& e : kCodeTable)
    if (e.handler == handler && e.id == inParams.codec_id) return e.code;
  return 0;
}
