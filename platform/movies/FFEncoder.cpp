#include "platform/movies/FFEncoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr FFExporterInfo kExporters[] = {
    {'MooV', "mov", 'mov ', true, 'avc1', 'sowt'},
    {'mpg4', "mp4", 'mp4 ', true, 'avc1', 'mp4a'},
    {'VfW ', "avi", 'avi ', true, 'mp4v', 'sowt'},
    {'3gpp', "3gp", '3gp ', true, 'avc1', 'mp4a'},
    {'AIFF', "aiff", 'aif ', false, 0, 'twos'},
    {'WAVE', "wav", 'wav ', false, 0, 'sowt'},
    {'ULAW', "au", 'au  ', false, 0, 'ulaw'},
};

// libavcodec encoder names of the codes the exporters write.
const char* EncoderName(OSType inCodec) {
  switch (inCodec) {
    case 'avc1': return "libx264";
    case 'mp4v': return "mpeg4";
    case 'jpeg': case 'mjpa': return "mjpeg";
    case 'apcn': case 'apch': case 'apcs': case 'apco': case 'ap4h': return "prores_ks";
    case 'raw ': return "rawvideo";
    case 'sowt': return "pcm_s16le";
    case 'twos': return "pcm_s16be";
    case 'in24': return "pcm_s24be";
    case 'ulaw': return "pcm_mulaw";
    case 'mp4a': return "aac";
    default: return nullptr;
  }
}

// Quantiser scale (2 best .. 31) of the MPEG-4 and JPEG encoders for a quality.
int QuantiserForQuality(SInt32 inQuality) {
  if (inQuality >= kFFLosslessQuality) return 1;
  if (inQuality >= kFFMaxQuality) return 2;
  if (inQuality >= kFFHighQuality) return 3;
  if (inQuality >= kFFNormalQuality) return 5;
  if (inQuality >= kFFLowQuality) return 9;
  return 18;
}

// Constant rate factor of the H.264 encoder for a quality.
const char* RateFactorForQuality(SInt32 inQuality) {
  if (inQuality >= kFFLosslessQuality) return "0";
  if (inQuality >= kFFMaxQuality) return "14";
  if (inQuality >= kFFHighQuality) return "18";
  if (inQuality >= kFFNormalQuality) return "23";
  if (inQuality >= kFFLowQuality) return "28";
  return "35";
}

const AVCodec* FindEncoder(OSType inCodec) {
  const char* name = EncoderName(inCodec);
  const AVCodec* codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
  if (codec == nullptr) Throw_(kFFNoCodecErr);
  return codec;
}

void OpenOrThrow(AVCodecContext* c, const AVCodec* codec, AVDictionary** options) {
  int err = avcodec_open2(c, codec, options);
  av_dict_free(options);
  if (err == AVERROR(EINVAL) || err == AVERROR(ERANGE) || err == AVERROR_EXTERNAL) Throw_(paramErr);
  if (err < 0) ThrowFFError(err, kFFCodecErr);
}

// Repeats the last column and row of a picture of w x h into the padding
// of a larger frame, plane by plane.
void RepeatEdges(AVFrame* f, int w, int h) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  if (d == nullptr || (d->flags & AV_PIX_FMT_FLAG_PLANAR) == 0) return;
  for (int plane = 0; plane < 4 && f->data[plane] != nullptr; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int sx = chroma ? d->log2_chroma_w : 0, sy = chroma ? d->log2_chroma_h : 0;
    const int bytes = (d->comp[plane < d->nb_components ? plane : 0].depth + 7) / 8;
    const int used = AV_CEIL_RSHIFT(w, sx), usedRows = AV_CEIL_RSHIFT(h, sy);
    const int all = AV_CEIL_RSHIFT(f->width, sx), allRows = AV_CEIL_RSHIFT(f->height, sy);
    for (int y = 0; y < usedRows; ++y) {
      uint8_t* row = f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane];
      for (int x = used; x < all; ++x) std::memcpy(row + x * bytes, row + (used - 1) * bytes, static_cast<size_t>(bytes));
    }
    for (int y = usedRows; y < allRows; ++y)
      std::memcpy(f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane],
                  f->data[plane] + static_cast<ptrdiff_t>(usedRows - 1) * f->linesize[plane],
                  static_cast<size_t>(all) * bytes);
  }
}

}  // namespace

void FFMarkInterlaced(AVFrame* ioFrame, bool inUpperFirst) {
  ioFrame->interlaced_frame = 1;
  ioFrame->top_field_first = inUpperFirst ? 1 : 0;
}

const FFExporterInfo* FFFindExporter(OSType inSubtype) {
  for (const FFExporterInfo& e : kExporters)
    if (e.subtype == inSubtype) return &e;
  return nullptr;
}

const FFExporterInfo* FFGetExporters(ItemCount* outCount) {
  if (outCount) *outCount = sizeof(kExporters) / sizeof(kExporters[0]);
  return kExporters;
}

OSType FFGetFileNameExtension(OSType inSubtype) {
  const FFExporterInfo* e = FFFindExporter(inSubtype);
  if (e == nullptr) Throw_(kFFCantFindHandlerErr);
  return e->extension;
}

std::unique_ptr<CFFEncoder> CFFEncoder::NewVideo(OSType inCodec, SInt32 inWidth, SInt32 inHeight,
                                                 TimeScale inTimeScale, SInt32 inFrameDuration,
                                                 const FFExportSettings& inSettings, bool inGlobalHeader,
                                                 bool inReorder, SInt32 inFieldOrder) {
  if (inWidth <= 0 || inHeight <= 0 || inWidth > 16384 || inHeight > 16384 || inTimeScale <= 0 ||
      inFrameDuration <= 0)
    Throw_(paramErr);
  const AVCodec* codec = FindEncoder(inCodec);
  if (codec->type != AVMEDIA_TYPE_VIDEO) Throw_(paramErr);
  std::unique_ptr<CFFEncoder> enc(new CFFEncoder);
  const bool interlaced =
      (inFieldOrder == kFFFieldsUpperFirst || inFieldOrder == kFFFieldsLowerFirst) && inHeight % 2 == 0;
  const int space = FFDefaultColorSpace(inHeight);
  // Sets the encoder up for pictures of w x h; answers avcodec_open2's result.
  auto open = [&](SInt32 w, SInt32 h) -> int {
    enc->mContext.reset(avcodec_alloc_context3(codec));
    ThrowIfMemFail_(enc->mContext.get());
    AVCodecContext* c = enc->mContext.get();
    AVDictionary* options = nullptr;
    c->width = w;
    c->height = h;
    c->time_base = AVRational{1, inTimeScale};
    c->framerate = av_make_q(inTimeScale, inFrameDuration);
    c->sample_aspect_ratio = AVRational{1, 1};
    c->thread_count = FFDefaultThreadCount();
    if (inSettings.keyFrameInterval > 0) c->gop_size = inSettings.keyFrameInterval;
    if (inSettings.bitRate > 0) c->bit_rate = inSettings.bitRate;
    if (inGlobalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->colorspace = static_cast<AVColorSpace>(space);
    c->color_primaries = space == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    c->color_trc = space == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    c->color_range = AVCOL_RANGE_MPEG;
    switch (inCodec) {
      case 'avc1':
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        if (inSettings.bitRate <= 0) av_dict_set(&options, "crf", RateFactorForQuality(inSettings.quality), 0);
        av_dict_set(&options, "preset", "medium", 0);
        if (interlaced) av_dict_set(&options, "x264-params", inFieldOrder == kFFFieldsUpperFirst ? "tff=1" : "bff=1", 0);
        if (inSettings.keyFrameInterval == 1 || !inReorder) c->max_b_frames = 0;
        break;
      case 'mp4v':
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        if (inSettings.bitRate <= 0) {
          c->flags |= AV_CODEC_FLAG_QSCALE;
          c->global_quality = FF_QP2LAMBDA * QuantiserForQuality(inSettings.quality);
        }
        c->max_b_frames = 0;
        if (inSettings.keyFrameInterval <= 0) c->gop_size = 12;
        break;
      case 'jpeg': case 'mjpa':
        c->pix_fmt = AV_PIX_FMT_YUVJ420P;
        c->color_range = AVCOL_RANGE_JPEG;
        if (inSettings.bitRate <= 0) {
          c->flags |= AV_CODEC_FLAG_QSCALE;
          c->global_quality = FF_QP2LAMBDA * QuantiserForQuality(inSettings.quality);
        }
        break;
      case 'apco': case 'apcs': case 'apcn': case 'apch': case 'ap4h': {
        static const char* const kProfiles[] = {"proxy", "lt", "standard", "hq", "4444"};
        int profile = inCodec == 'apco' ? 0 : inCodec == 'apcs' ? 1 : inCodec == 'apcn' ? 2 : inCodec == 'apch' ? 3 : 4;
        c->pix_fmt = profile == 4 ? AV_PIX_FMT_YUV444P10LE : AV_PIX_FMT_YUV422P10LE;
        av_dict_set(&options, "profile", kProfiles[profile], 0);
        c->codec_tag = FFTagFromFourCC(inCodec);
        break;
      }
      case 'raw ':
        c->pix_fmt = AV_PIX_FMT_ARGB;
        c->color_range = AVCOL_RANGE_JPEG;
        break;
      default:
        Throw_(kFFNoCodecErr);
    }
    if (interlaced) {
      // Interlaced coding: each field is coded as a picture of its own.
      c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
      c->field_order = inFieldOrder == kFFFieldsUpperFirst ? AV_FIELD_TT : AV_FIELD_BB;
    }
    const int err = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    return err;
  };
  // A size the codec refuses (odd, where its chroma is subsampled) is
  // coded one row or column larger, the picture's edge repeated into it.
  int err = open(inWidth, inHeight);
  if (err < 0 && ((inWidth | inHeight) & 1) != 0) err = open((inWidth + 1) & ~1, (inHeight + 1) & ~1);
  if (err == AVERROR(EINVAL) || err == AVERROR(ERANGE) || err == AVERROR_EXTERNAL) Throw_(paramErr);
  if (err < 0) ThrowFFError(err, kFFCodecErr);
  AVCodecContext* c = enc->mContext.get();
  enc->mPictureWidth = inWidth;
  enc->mPictureHeight = inHeight;
  enc->mInterlaced = interlaced;
  enc->mUpperFirst = inFieldOrder == kFFFieldsUpperFirst;
  enc->mPacket = FFNewPacket();
  enc->mFrame = FFNewFrame();
  enc->mFrame->format = c->pix_fmt;
  enc->mFrame->width = c->width;
  enc->mFrame->height = c->height;
  err = av_frame_get_buffer(enc->mFrame.get(), 0);
  if (err < 0) ThrowFFError(err, memFullErr);
  // Interlaced pictures are converted field by field, so that subsampled
  // chroma never mixes the lines of the two fields.
  const SInt32 scaledHeight = interlaced ? inHeight / 2 : inHeight;
  enc->mScaler.reset(sws_getContext(inWidth, scaledHeight, AV_PIX_FMT_ARGB, inWidth, scaledHeight, c->pix_fmt,
                                    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
  ThrowIfMemFail_(enc->mScaler.get());
  if (c->pix_fmt != AV_PIX_FMT_ARGB) {
    const int range = c->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(enc->mScaler.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(space),
                             range, 0, 1 << 16, 1 << 16);
  }
  return enc;
}

std::unique_ptr<CFFEncoder> CFFEncoder::NewSound(OSType inCodec, SInt32 inRate, SInt16 inChannels,
                                                 const FFExportSettings& inSettings, bool inGlobalHeader,
                                                 UInt64 inChannelMask) {
  if (inRate <= 0 || inRate > 768000 || inChannels <= 0 || inChannels > 16) Throw_(paramErr);
  const AVCodec* codec = FindEncoder(inCodec);
  if (codec->type != AVMEDIA_TYPE_AUDIO) Throw_(paramErr);
  std::unique_ptr<CFFEncoder> enc(new CFFEncoder);
  enc->mContext.reset(avcodec_alloc_context3(codec));
  ThrowIfMemFail_(enc->mContext.get());
  AVCodecContext* c = enc->mContext.get();
  c->sample_rate = inRate;
  av_channel_layout_default(&c->ch_layout, inChannels);
  // AAC codes its channel configurations by count: its 5.1 has one pair of
  // surround channels, side or back alike (another layout would need a
  // program configuration that readers do not take).
  AVChannelLayout wanted{};
  if (inCodec != 'mp4a' && inChannelMask != 0 && av_popcount64(inChannelMask) == inChannels &&
      av_channel_layout_from_mask(&wanted, inChannelMask) == 0) {
    bool codable = codec->ch_layouts == nullptr;
    for (const AVChannelLayout* l = codec->ch_layouts; l != nullptr && l->nb_channels != 0 && !codable; ++l)
      codable = av_channel_layout_compare(l, &wanted) == 0;
    if (codable) {
      av_channel_layout_uninit(&c->ch_layout);
      av_channel_layout_copy(&c->ch_layout, &wanted);
    }
  }
  av_channel_layout_uninit(&wanted);
  c->time_base = AVRational{1, inRate};
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  if (inCodec == 'mp4a') c->bit_rate = inSettings.soundBitRate > 0 ? inSettings.soundBitRate : 64000 * std::min<int>(inChannels, 2);
  if (inGlobalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  OpenOrThrow(c, codec, &options);
  enc->mPacket = FFNewPacket();
  enc->mFrame = FFNewFrame();
  if (c->sample_fmt != AV_SAMPLE_FMT_S16) {
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, inRate, &c->ch_layout, AV_SAMPLE_FMT_S16,
                                  inRate, 0, nullptr);
    if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
    enc->mResampler.reset(swr);
    err = swr_init(swr);
    if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
  }
  return enc;
}

CFFEncoder::~CFFEncoder() = default;

void CFFEncoder::Send(const AVFrame* inFrame, const PacketSink& inSink) {
  int err = avcodec_send_frame(mContext.get(), inFrame);
  if (err < 0) ThrowFFError(err, kFFCodecErr);
  for (;;) {
    err = avcodec_receive_packet(mContext.get(), mPacket.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
    if (err < 0) ThrowFFError(err, kFFCodecErr);
    // Every packet lasts what its frame lasted, the last one included, so
    // containers and their edit lists keep every frame.
    auto it = mDurations.find(mPacket->pts);
    if (it != mDurations.end()) {
      if (mPacket->duration <= 0 || IsVideo()) mPacket->duration = it->second;
      mDurations.erase(it);
    }
    // Sound packets come out in order: what lies before them is done.
    if (!IsVideo()) mDurations.erase(mDurations.begin(), mDurations.upper_bound(mPacket->pts));
    inSink(mPacket.get());
    av_packet_unref(mPacket.get());
  }
}

void CFFEncoder::EncodeFrame(const FFPixelBuffer& inSource, TimeValue64 inTime, SInt32 inDuration,
                             const PacketSink& inSink) {
  if (!IsVideo() || mFinished) Throw_(paramErr);
  if (inSource.baseAddr == nullptr || inSource.width != mPictureWidth || inSource.height != mPictureHeight ||
      inSource.rowBytes < inSource.width * 4 || inDuration <= 0)
    Throw_(paramErr);
  // The encoder may still hold the last frame: give it a fresh one to write into.
  int err = av_frame_make_writable(mFrame.get());
  if (err < 0) ThrowFFError(err, memFullErr);
  const uint8_t* base = static_cast<const uint8_t*>(inSource.baseAddr);
  if (!mInterlaced) {
    const uint8_t* src[4] = {base, nullptr, nullptr, nullptr};
    const int srcStride[4] = {inSource.rowBytes, 0, 0, 0};
    sws_scale(mScaler.get(), src, srcStride, 0, inSource.height, mFrame->data, mFrame->linesize);
  } else {
    for (int field = 0; field < 2; ++field) {
      const uint8_t* src[4] = {base + static_cast<ptrdiff_t>(field) * inSource.rowBytes, nullptr, nullptr, nullptr};
      const int srcStride[4] = {2 * inSource.rowBytes, 0, 0, 0};
      uint8_t* dst[4] = {nullptr, nullptr, nullptr, nullptr};
      int dstStride[4] = {0, 0, 0, 0};
      for (int plane = 0; plane < 4 && mFrame->data[plane] != nullptr; ++plane) {
        dst[plane] = mFrame->data[plane] + static_cast<ptrdiff_t>(field) * mFrame->linesize[plane];
        dstStride[plane] = 2 * mFrame->linesize[plane];
      }
      sws_scale(mScaler.get(), src, srcStride, 0, inSource.height / 2, dst, dstStride);
    }
    FFMarkInterlaced(mFrame.get(), mUpperFirst);
  }
  if (mFrame->width != inSource.width || mFrame->height != inSource.height)
    RepeatEdges(mFrame.get(), inSource.width, inSource.height);
  mFrame->pts = inTime;
  mDurations[inTime] = inDuration;
  Send(mFrame.get(), inSink);
}

void CFFEncoder::SendSoundFrame(int inSamples, const PacketSink& inSink) {
  AVCodecContext* c = mContext.get();
  AVFrame* f = mFrame.get();
  av_frame_unref(f);
  f->format = c->sample_fmt;
  f->nb_samples = inSamples;
  f->sample_rate = c->sample_rate;
  int err = av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
  if (err < 0) ThrowFFError(err, memFullErr);
  err = av_frame_get_buffer(f, 0);
  if (err < 0) ThrowFFError(err, memFullErr);
  const int channels = c->ch_layout.nb_channels;
  if (mResampler) {
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(mSoundQueue.data())};
    err = swr_convert(mResampler.get(), f->extended_data, inSamples, in, inSamples);
    if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
  } else {
    std::memcpy(f->data[0], mSoundQueue.data(), static_cast<size_t>(inSamples) * channels * sizeof(SInt16));
  }
  mSoundQueue.erase(mSoundQueue.begin(), mSoundQueue.begin() + static_cast<ptrdiff_t>(inSamples) * channels);
  f->pts = mNextSoundTime;
  mDurations[mNextSoundTime] = inSamples;
  mNextSoundTime += inSamples;
  Send(f, inSink);
}

void CFFEncoder::EncodeSound(const SInt16* inSamples, UInt32 inFrames, const PacketSink& inSink) {
  if (IsVideo() || mFinished) Throw_(paramErr);
  if (inFrames == 0) return;
  if (inSamples == nullptr) Throw_(paramErr);
  const int channels = mContext->ch_layout.nb_channels;
  mSoundQueue.insert(mSoundQueue.end(), inSamples, inSamples + static_cast<size_t>(inFrames) * channels);
  // Codecs with a fixed frame size take exactly that many samples per frame.
  const int frameSize = mContext->frame_size > 0 ? mContext->frame_size : 4096;
  while (mSoundQueue.size() / channels >= static_cast<size_t>(frameSize)) SendSoundFrame(frameSize, inSink);
}

void CFFEncoder::Finish(const PacketSink& inSink) {
  if (mFinished) return;
  if (!IsVideo()) {
    const int channels = mContext->ch_layout.nb_channels;
    int left = static_cast<int>(mSoundQueue.size() / channels);
    if (left > 0) {
      const bool variable = (mContext->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
      if (mContext->frame_size > 0 && !variable && left < mContext->frame_size) {
        // The last frame of a fixed-size codec may be short only where the codec allows it.
        if ((mContext->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) == 0) {
          mSoundQueue.resize(static_cast<size_t>(mContext->frame_size) * channels, 0);
          left = mContext->frame_size;
        }
      }
      SendSoundFrame(left, inSink);
    }
  }
  mFinished = true;
  Send(nullptr, inSink);
}
