#include "platform/movies/FFDemuxer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/base/FourCC.h"
#include "platform/movies/MovieStreamFacts.h"

namespace {

// The 'cspc' code of a decoded picture format (0: none that names it).
UInt32 PixelFormatCode(int inFormat) {
  switch (inFormat) {
    case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUVJ420P: case AV_PIX_FMT_NV12: case AV_PIX_FMT_NV21: return movies::kPixelFormatYUV420;
    case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P: case AV_PIX_FMT_UYVY422: case AV_PIX_FMT_YUYV422:
      return movies::kPixelFormatYUV422;
    case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P: return movies::kPixelFormatYUV444;
    case AV_PIX_FMT_YUV411P: case AV_PIX_FMT_UYYVYY411: return movies::kPixelFormatYUV411;
    case AV_PIX_FMT_YUV420P10LE: case AV_PIX_FMT_YUV420P10BE: case AV_PIX_FMT_P010LE: return movies::kPixelFormatYUV420_10;
    case AV_PIX_FMT_YUV422P10LE: case AV_PIX_FMT_YUV422P10BE: return movies::kPixelFormatYUV422_10;
    case AV_PIX_FMT_YUV444P10LE: case AV_PIX_FMT_YUV444P10BE: return movies::kPixelFormatYUV444_10;
    case AV_PIX_FMT_GRAY8: return movies::kPixelFormatGray8;
    case AV_PIX_FMT_GRAY16BE: case AV_PIX_FMT_GRAY16LE: return 'b16g';
    case AV_PIX_FMT_RGB24: case AV_PIX_FMT_BGR24: return 24;
    case AV_PIX_FMT_ARGB: case AV_PIX_FMT_RGBA: case AV_PIX_FMT_BGRA: case AV_PIX_FMT_ABGR: return 32;
    case AV_PIX_FMT_RGB48BE: case AV_PIX_FMT_RGB48LE: return 'b48r';
    case AV_PIX_FMT_RGBA64BE: case AV_PIX_FMT_RGBA64LE: return 'b64a';
    case AV_PIX_FMT_PAL8: return 8;
    case AV_PIX_FMT_MONOBLACK: case AV_PIX_FMT_MONOWHITE: return 1;
    default: return 0;
  }
}


bool StartsWith(const std::string& inText, const char* inPrefix) {
  return inText.compare(0, std::strlen(inPrefix), inPrefix) == 0;
}

// Codecs whose frames may be stored out of display order.
bool MayReorder(AVCodecID inId) {
  switch (inId) {
    case AV_CODEC_ID_H264: case AV_CODEC_ID_HEVC: case AV_CODEC_ID_MPEG4: case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG1VIDEO: case AV_CODEC_ID_VC1: case AV_CODEC_ID_WMV3: case AV_CODEC_ID_SVQ3:
      return true;
    default:
      return false;
  }
}

SInt32 ClampToSInt32(SInt64 inValue) {
  if (inValue > INT32_MAX) return INT32_MAX;
  if (inValue < INT32_MIN) return INT32_MIN;
  return static_cast<SInt32>(inValue);
}

// A frame rate as 16.16 fixed point; one a Fixed cannot hold is unknown (0).
Fixed RateToFixed(double inRate) {
  if (!(inRate > 0.0 && inRate < 32767.0)) return 0;
  return static_cast<Fixed>(inRate * 65536.0 + 0.5);
}

// Sample durations from the decode times; the last sample lasts until `inEnd`
// when that is later, else as long as the one before it.
void FillDurations(std::vector<FFSampleInfo>& ioSamples, TimeValue64 inEnd, SInt64 inLastDuration) {
  for (size_t i = 0; i + 1 < ioSamples.size(); ++i) {
    SInt64 d = ioSamples[i + 1].decodeTime - ioSamples[i].decodeTime;
    ioSamples[i].duration = ClampToSInt32(d > 0 ? d : 0);
  }
  if (!ioSamples.empty()) {
    FFSampleInfo& last = ioSamples.back();
    SInt64 d = inEnd - last.decodeTime;
    if (d <= 0) d = inLastDuration;
    if (d <= 0) d = ioSamples.size() > 1 ? ioSamples[ioSamples.size() - 2].duration : 1;
    last.duration = ClampToSInt32(d > 0 ? d : 1);
  }
}

void FinishTrackTimes(FFTrackInfo& ioTrack) {
  if (ioTrack.samples.empty()) return;
  TimeValue64 first = INT64_MAX;
  for (const FFSampleInfo& s : ioTrack.samples) first = std::min(first, s.decodeTime + s.compositionOffset);
  ioTrack.firstDisplayTime = first;
  ioTrack.duration = ioTrack.samples.back().decodeTime + ioTrack.samples.back().duration;
}

}  // namespace

CFFDemuxer::CFFDemuxer(const std::string& inPath) : mPath(inPath) {
  struct stat info;
  if (::stat(inPath.c_str(), &info) != 0) Throw_(errno == ENOENT || errno == ENOTDIR ? fnfErr : ioErr);
  if (!S_ISREG(info.st_mode)) Throw_(kFFNoMovieFoundErr);
  mFileSize = info.st_size;
  mFile = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (mFile < 0) Throw_(errno == EACCES ? afpAccessDenied : ioErr);
  try {
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    // The sample tables are the media's own; edits are the model's business.
    av_dict_set(&options, "ignore_editlist", "1", 0);
    av_dict_set(&options, "ignore_chapters", "1", 0);
    int err = avformat_open_input(&ctx, inPath.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (err < 0) ThrowFFError(err, kFFNoMovieFoundErr);
    mInput.reset(ctx);
    err = avformat_find_stream_info(ctx, nullptr);
    if (err < 0 && ctx->nb_streams == 0) ThrowFFError(err, kFFNoMovieFoundErr);
    mFormatName = ctx->iformat->name;
    mPacket = FFNewPacket();

    const bool isMov = StartsWith(mFormatName, "mov,");
    const bool isAvi = mFormatName == "avi";
    bool indexed = isMov || isAvi;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      AVStream* st = ctx->streams[i];
      const AVCodecParameters* par = st->codecpar;
      const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO && (st->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
      const bool sound = par->codec_type == AVMEDIA_TYPE_AUDIO;
      if (!video && !sound) continue;
      if (st->time_base.num <= 0 || st->time_base.den <= 0) continue;
      // libavformat gives a QuickTime or MPEG-4 media without a time scale
      // one tick a second; its pictures then last hours each. Such video
      // has no timing to go by.
      if (isMov && video && st->time_base.num == 1 && st->time_base.den == 1) Throw_(kFFInvalidMediaErr);
      FFTrackInfo t;
      TrackState state;
      t.streamIndex = static_cast<SInt32>(i);
      t.handlerType = video ? 'vide' : 'soun';
      t.timeScale = st->time_base.den;
      state.timeMultiplier = st->time_base.num;
      OSType tagCode = FFFourCCFromTag(par->codec_tag);
      // The stored tag is kept unless it names another codec than the stream
      // holds: MPEG-4 files tag MP3 and MP2 sound 'mp4a' like AAC.
      const AVCodecID tagCodec = FFCodecIDForFourCC(t.handlerType, tagCode, static_cast<SInt16>(par->bits_per_coded_sample));
      const bool tagFits = tagCodec == AV_CODEC_ID_NONE || tagCodec == par->codec_id || !sound;
      t.codecType = (isMov && par->codec_tag != 0 && LooksLikeFourCC(tagCode) && tagFits) ? tagCode
                                                                                          : FFFourCCForCodec(*par);
      const AVDictionaryEntry* encoder = av_dict_get(st->metadata, "encoder", nullptr, 0);
      const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
      t.compressorName = encoder ? encoder->value : (desc ? (desc->long_name ? desc->long_name : desc->name) : "");
      if (par->extradata != nullptr && par->extradata_size > 0)
        t.codecPrivate.assign(par->extradata, par->extradata + par->extradata_size);
      if (video) {
        t.width = par->width;
        t.height = par->height;
        t.depth = par->bits_per_coded_sample > 0 ? static_cast<SInt16>(par->bits_per_coded_sample) : 24;
        t.pixelFormat = PixelFormatCode(par->format);
        AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        if (sar.num > 0 && sar.den > 0) {
          av_reduce(&sar.num, &sar.den, sar.num, sar.den, INT32_MAX);
          t.pixelAspectH = sar.num;
          t.pixelAspectV = sar.den;
        }
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) t.frameRate = RateToFixed(av_q2d(rate));
      } else {
        t.sampleRate = par->sample_rate;
        t.channels = static_cast<SInt16>(par->ch_layout.nb_channels);
        if (par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) t.channelMask = par->ch_layout.u.mask;
        int bits = av_get_bits_per_sample(par->codec_id);
        if (bits == 0) bits = par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample : 16;
        t.sampleSize = static_cast<SInt16>(bits);
      }
      if (avformat_index_get_entries_count(st) <= 0) indexed = false;
      mTracks.push_back(std::move(t));
      mStates.push_back(state);
    }
    if (mTracks.empty()) Throw_(kFFNoMovieFoundErr);

    std::vector<SInt32> all;
    for (size_t k = 0; k < mTracks.size(); ++k) all.push_back(static_cast<SInt32>(k));
    if (indexed) {
      std::vector<SInt32> reorder;
      for (size_t k = 0; k < mTracks.size(); ++k) {
        AVStream* st = ctx->streams[mTracks[k].streamIndex];
        BuildFromIndex(mTracks[k], st, mStates[k].timeMultiplier);
        mTracks[k].fromIndex = kTrue;
        mStates[k].direct = true;
        // AVI's index points at each chunk's 8-byte header.
        mStates[k].offsetDelta = isAvi ? 8 : 0;
        if (isMov && MayReorder(st->codecpar->codec_id)) reorder.push_back(static_cast<SInt32>(k));
      }
      // The index has no display times: read them from the packets.
      if (!reorder.empty()) ScanPackets(reorder, true);
    } else {
      ScanPackets(all, false);
    }
    for (FFTrackInfo& t : mTracks) {
      FinishTrackTimes(t);
      // MPEG audio layer III decodes 529 frames late (its filter banks'
      // delay). AVI counts sound from its first frame and keeps no time for
      // a delay: that much of it is known and taken off.
      if (t.handlerType == 'soun' && t.primingFrames == 0 && isAvi &&
          ctx->streams[t.streamIndex]->codecpar->codec_id == AV_CODEC_ID_MP3) {
        t.primingFrames = 529;
        t.primingTimed = kFalse;
      }
    }
  } catch (...) {
    mInput.reset();
    ::close(mFile);
    mFile = -1;
    throw;
  }
}

CFFDemuxer::~CFFDemuxer() {
  mInput.reset();
  if (mFile >= 0) ::close(mFile);
}

const FFTrackInfo& CFFDemuxer::GetTrack(ItemCount inIndex) const {
  if (inIndex >= mTracks.size()) Throw_(kFFInvalidTrackErr);
  return mTracks[inIndex];
}

void CFFDemuxer::BuildFromIndex(FFTrackInfo& ioTrack, AVStream* inStream, SInt64 inMultiplier) {
  const int n = avformat_index_get_entries_count(inStream);
  ioTrack.samples.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(inStream, i);
    if (e == nullptr || (e->flags & AVINDEX_DISCARD_FRAME)) continue;
    // An empty entry repeats the picture before it: it only lengthens that sample.
    if (e->size == 0) continue;
    FFSampleInfo s;
    s.decodeTime = e->timestamp * inMultiplier;
    s.size = static_cast<UInt32>(e->size);
    s.offset = e->pos;
    s.sync = (e->flags & AVINDEX_KEYFRAME) ? kTrue : kFalse;
    ioTrack.samples.push_back(s);
  }
  TimeValue64 end = 0;
  if (inStream->duration != AV_NOPTS_VALUE && inStream->duration > 0) end = inStream->duration * inMultiplier;
  FillDurations(ioTrack.samples, end, 0);
}

namespace {

bool IsMPEGVideo(AVCodecID inID) { return inID == AV_CODEC_ID_MPEG1VIDEO || inID == AV_CODEC_ID_MPEG2VIDEO; }

// The temporal reference of the first picture in an MPEG-1/2 video packet,
// and whether a group-of-pictures header comes before it.
void ReadPictureOrder(const UInt8* inData, int inSize, int& outOrder, bool& outGroup) {
  for (int i = 0; i + 5 < inSize; ++i) {
    if (inData[i] != 0 || inData[i + 1] != 0 || inData[i + 2] != 1) continue;
    if (inData[i + 3] == 0xB8) outGroup = true;
    if (inData[i + 3] == 0x00) {
      outOrder = (inData[i + 4] << 2) | (inData[i + 5] >> 6);
      return;
    }
  }
}

// The length of one picture in the stream's ticks.
SInt64 FrameTicks(const AVStream& inStream, SInt64 inFirstDuration) {
  AVRational rate = inStream.avg_frame_rate.num > 0 ? inStream.avg_frame_rate : inStream.r_frame_rate;
  if (rate.num > 0 && rate.den > 0 && inStream.time_base.num > 0)
    return av_rescale_q(1, av_inv_q(rate), inStream.time_base);
  return inFirstDuration > 0 ? inFirstDuration : 0;
}

template <typename RawT>
void TimeMPEGPictures(std::vector<RawT>& ioPackets, SInt64 inFrameTicks) {
  std::vector<SInt64> place(ioPackets.size(), -1);
  SInt64 groupStart = 0;
  for (size_t i = 0; i < ioPackets.size(); ++i) {
    if (ioPackets[i].group) groupStart = static_cast<SInt64>(i);
    if (ioPackets[i].order < 0) return;  // not every picture says its place: keep the stamps as they are
    place[i] = groupStart + ioPackets[i].order;
  }
  // Display times run one picture apart from where a stamped picture says
  // they stand, never before a picture's decode time.
  SInt64 base = AV_NOPTS_VALUE;
  for (size_t i = 0; i < ioPackets.size() && base == AV_NOPTS_VALUE; ++i)
    if (ioPackets[i].pts != AV_NOPTS_VALUE) base = ioPackets[i].pts - place[i] * inFrameTicks;
  SInt64 least = AV_NOPTS_VALUE;
  for (size_t i = 0; i < ioPackets.size(); ++i) {
    const SInt64 need = ioPackets[i].dts - place[i] * inFrameTicks;
    if (least == AV_NOPTS_VALUE || need > least) least = need;
  }
  if (base == AV_NOPTS_VALUE || base < least) base = least;
  for (size_t i = 0; i < ioPackets.size(); ++i) ioPackets[i].pts = base + place[i] * inFrameTicks;
}

}  // namespace

void CFFDemuxer::ScanPackets(const std::vector<SInt32>& inTrackIndexes, bool inCompositionOnly) {
  AVFormatContext* ctx = mInput.get();
  std::vector<SInt32> trackOfStream(ctx->nb_streams, -1);
  for (SInt32 k : inTrackIndexes) trackOfStream[static_cast<size_t>(mTracks[k].streamIndex)] = k;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = trackOfStream[i] < 0 ? AVDISCARD_ALL : AVDISCARD_DEFAULT;

  struct Raw {
    SInt64 dts, pts, duration, pos;
    UInt32 size;
    bool key, corrupt;
    SInt32 skip = 0;    // sound: frames the container says to drop at this packet's start
    int order = -1;     // MPEG-1/2 video: the picture's temporal reference (display order in its group)
    bool group = false; // MPEG-1/2 video: a group of pictures starts with this packet
  };
  std::vector<std::vector<Raw>> raw(mTracks.size());
  std::vector<size_t> counts(mTracks.size(), 0);
  AVPacket* pkt = mPacket.get();
  for (;;) {
    int err = av_read_frame(ctx, pkt);
    if (err == AVERROR_EOF) break;
    if (err < 0) {
      // A read error at the very end of a cut-off file ends the table there.
      if (avio_feof(ctx->pb)) break;
      ThrowFFError(err, kFFNoMovieFoundErr);
    }
    const SInt32 k = pkt->stream_index >= 0 && static_cast<unsigned>(pkt->stream_index) < ctx->nb_streams
                         ? trackOfStream[static_cast<size_t>(pkt->stream_index)]
                         : -1;
    if (k >= 0) {
      if (inCompositionOnly) {
        FFTrackInfo& t = mTracks[static_cast<size_t>(k)];
        size_t n = counts[static_cast<size_t>(k)]++;
        if (n < t.samples.size() && pkt->pts != AV_NOPTS_VALUE)
          t.samples[n].compositionOffset = ClampToSInt32(pkt->pts * mStates[k].timeMultiplier - t.samples[n].decodeTime);
      } else if (pkt->size > 0) {
        Raw r{pkt->dts, pkt->pts, pkt->duration, pkt->pos, static_cast<UInt32>(pkt->size),
              (pkt->flags & AV_PKT_FLAG_KEY) != 0, (pkt->flags & AV_PKT_FLAG_CORRUPT) != 0};
        if (IsMPEGVideo(ctx->streams[pkt->stream_index]->codecpar->codec_id))
          ReadPictureOrder(pkt->data, pkt->size, r.order, r.group);
        size_t sideSize = 0;
        const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        if (side != nullptr && sideSize >= 4)
          r.skip = static_cast<SInt32>(static_cast<UInt32>(side[0]) | static_cast<UInt32>(side[1]) << 8 |
                                       static_cast<UInt32>(side[2]) << 16 | static_cast<UInt32>(side[3]) << 24);
        raw[static_cast<size_t>(k)].push_back(r);
      }
    }
    av_packet_unref(pkt);
  }
  for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = AVDISCARD_DEFAULT;
  if (inCompositionOnly) return;

  for (SInt32 k : inTrackIndexes) {
    FFTrackInfo& t = mTracks[static_cast<size_t>(k)];
    TrackState& state = mStates[static_cast<size_t>(k)];
    std::vector<Raw>& packets = raw[static_cast<size_t>(k)];
    const AVStream* stream = ctx->streams[t.streamIndex];
    const bool mpegVideo = IsMPEGVideo(stream->codecpar->codec_id);
    const SInt64 frameTicks = mpegVideo ? FrameTicks(*stream, packets.empty() ? 0 : packets.front().duration) : 0;
    bool untimed = false;
    for (const Raw& r : packets) untimed = untimed || r.pts == AV_NOPTS_VALUE || r.dts == AV_NOPTS_VALUE;
    // Packets without decode times follow the one before them.
    SInt64 prev = AV_NOPTS_VALUE, prevDuration = 0;
    for (Raw& r : packets) {
      if (r.dts == AV_NOPTS_VALUE && prevDuration <= 0) prevDuration = frameTicks;
      if (r.dts == AV_NOPTS_VALUE) r.dts = prev == AV_NOPTS_VALUE ? (r.pts != AV_NOPTS_VALUE ? r.pts : 0) : prev + prevDuration;
      if (prev != AV_NOPTS_VALUE && r.dts < prev) r.dts = prev;  // damaged or wrapped times never run backwards
      prev = r.dts;
      prevDuration = r.duration;
    }
    // MPEG-1/2 video in program and transport streams stamps only some
    // pictures; with B-frames a picture's display time is not its decode
    // time. Each picture's temporal reference gives its place in display
    // order within its group, which starts at the group's first picture.
    if (mpegVideo && untimed && frameTicks > 0) TimeMPEGPictures(packets, frameTicks);
    for (Raw& r : packets)
      if (r.pts == AV_NOPTS_VALUE) r.pts = r.dts;
    state.dtsBase = packets.empty() ? 0 : packets.front().dts;
    state.direct = false;
    t.originTime = state.dtsBase * state.timeMultiplier;
    if (t.handlerType == 'soun' && !packets.empty() && packets.front().skip > 0) t.primingFrames = packets.front().skip;
    t.samples.reserve(packets.size());
    for (const Raw& r : packets) {
      FFSampleInfo s;
      s.decodeTime = (r.dts - state.dtsBase) * state.timeMultiplier;
      s.compositionOffset = ClampToSInt32((r.pts - r.dts) * state.timeMultiplier);
      s.size = r.size;
      s.offset = r.pos;
      s.sync = (r.key || t.handlerType == 'soun') ? kTrue : kFalse;
      s.damaged = r.corrupt ? kTrue : kFalse;
      t.samples.push_back(s);
    }
    // A sound packet knows its length; a picture's packet duration is often
    // a guess from the stream's clock, so the last picture lasts like the one before.
    SInt64 lastDuration = packets.empty() ? 0 : packets.back().duration * state.timeMultiplier;
    if (t.handlerType == 'vide' && packets.size() > 1) lastDuration = 0;
    FillDurations(t.samples, 0, lastDuration);
  }
}

void CFFDemuxer::ReadFileBytes(SInt64 inOffset, UInt32 inSize, UInt8* outData) {
  if (inOffset < 0 || inOffset + static_cast<SInt64>(inSize) > mFileSize) Throw_(eofErr);
  size_t done = 0;
  while (done < inSize) {
    ssize_t n = ::pread(mFile, outData + done, inSize - done, static_cast<off_t>(inOffset + static_cast<SInt64>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Throw_(ioErr);
    if (n == 0) Throw_(eofErr);
    done += static_cast<size_t>(n);
  }
}

void CFFDemuxer::ReadSample(ItemCount inTrack, ItemCount inSample, std::vector<UInt8>& outData) {
  if (inTrack >= mTracks.size()) Throw_(kFFInvalidTrackErr);
  const FFTrackInfo& t = mTracks[inTrack];
  if (inSample >= t.samples.size()) Throw_(kFFInvalidSampleNumErr);
  const FFSampleInfo& s = t.samples[inSample];
  if (s.damaged) Throw_(kFFCodecBadDataErr);
  const TrackState& state = mStates[inTrack];
  if (state.direct) {
    // The index's size is only a claim: a damaged file may name gigabytes.
    // Check it against the bytes really there before making room for it.
    const SInt64 start = s.offset + state.offsetDelta;
    if (start < 0 || start > mFileSize || static_cast<SInt64>(s.size) > mFileSize - start) Throw_(eofErr);
    outData.resize(s.size);
    ReadFileBytes(start, s.size, outData.data());
  } else {
    ReadThroughDemuxer(inTrack, s, outData);
  }
}

void CFFDemuxer::ReadThroughDemuxer(ItemCount inTrack, const FFSampleInfo& inSample, std::vector<UInt8>& outData) {
  AVFormatContext* ctx = mInput.get();
  const FFTrackInfo& t = mTracks[inTrack];
  const TrackState& state = mStates[inTrack];
  constexpr SInt64 kForwardLimit = 16 << 20;
  // Reading on from the last sample is cheaper than seeking.
  if (mLastReadPos < 0 || inSample.offset <= mLastReadPos || inSample.offset - mLastReadPos > kForwardLimit) {
    int err = -1;
    if ((ctx->iformat->flags & AVFMT_NO_BYTE_SEEK) == 0 && inSample.offset >= 0) {
      const SInt64 target = std::max<SInt64>(0, inSample.offset - (256 << 10));
      err = avformat_seek_file(ctx, -1, INT64_MIN, target, target, AVSEEK_FLAG_BYTE);
    }
    if (err < 0) {
      const SInt64 ts = inSample.decodeTime / state.timeMultiplier + state.dtsBase;
      err = avformat_seek_file(ctx, t.streamIndex, INT64_MIN, ts, ts, 0);
    }
    if (err < 0) ThrowFFError(err, ioErr);
  }
  AVPacket* pkt = mPacket.get();
  for (;;) {
    int err = av_read_frame(ctx, pkt);
    if (err < 0) {
      mLastReadPos = -1;
      ThrowFFError(err == AVERROR_EOF ? AVERROR_EOF : err, ioErr);
    }
    const bool mine = pkt->stream_index == t.streamIndex;
    if (mine && pkt->pos == inSample.offset) {
      if ((pkt->flags & AV_PKT_FLAG_CORRUPT) != 0) {
        av_packet_unref(pkt);
        Throw_(kFFCodecBadDataErr);
      }
      outData.assign(pkt->data, pkt->data + pkt->size);
      mLastReadPos = pkt->pos;
      av_packet_unref(pkt);
      return;
    }
    const SInt64 pos = pkt->pos;
    av_packet_unref(pkt);
    if (pos >= 0 && pos > inSample.offset + kForwardLimit) {
      mLastReadPos = -1;
      Throw_(kFFInvalidSampleNumErr);
    }
  }
}
