// Movies of every kind the program opens, written by the tests with
// libavcodec encoders and libavformat muxers: video frames of fftest's
// numbered pattern and a sine of any channel count, in any container.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ffmpeg/FFTestSupport.h"
#include "platform/movies/FFCommon.h"

namespace exporttest {

struct AVMovieSpec {
  std::string container;          // libavformat muxer name: "mp4", "avi", "mov", "vob"
  const char* videoEncoder = nullptr;  // "libx264", "mpeg4", "mjpeg", "mpeg2video"; nil: no video
  int width = 160, height = 96;
  int frames = 25;
  int frameRate = 25;
  int bFrames = 0;
  int gop = 12;
  const char* soundEncoder = nullptr;  // "aac", "libmp3lame", "mp2", "ac3", "pcm_s16le"; nil: no sound
  int sampleRate = 48000;
  int channels = 2;
  double soundSeconds = 0;        // 0: as long as the video
  double toneStart = -1;          // >= 0: silence until then, the sine from then on
  UInt64 channelMask = 0;         // the sound's channel layout; 0: the default of its channel count
};

namespace detail {

inline void DrainPackets(AVCodecContext* c, AVStream* st, AVFormatContext* fmt, AVPacket* pkt) {
  while (avcodec_receive_packet(c, pkt) == 0) {
    // Every picture lasts one frame, the last one too.
    if (pkt->duration <= 0 && c->codec_type == AVMEDIA_TYPE_VIDEO) pkt->duration = 1;
    av_packet_rescale_ts(pkt, c->time_base, st->time_base);
    pkt->stream_index = st->index;
    av_interleaved_write_frame(fmt, pkt);
  }
}

}  // namespace detail

// Writes the movie; false when an encoder or the muxer refuses. The sound
// frames given to the encoder (whole frames of its size) go to outSoundFrames.
inline bool WriteAVMovie(const std::string& inPath, const AVMovieSpec& inSpec, int* outSoundFrames = nullptr) {
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, inSpec.container.c_str(), inPath.c_str()) < 0) return false;
  AVCodecContext* vc = nullptr;
  AVCodecContext* ac = nullptr;
  AVStream* vs = nullptr;
  AVStream* as = nullptr;
  bool ok = true;
  const bool global = (fmt->oformat->flags & AVFMT_GLOBALHEADER) != 0;
  if (inSpec.videoEncoder) {
    const AVCodec* codec = avcodec_find_encoder_by_name(inSpec.videoEncoder);
    ok = codec != nullptr;
    if (ok) {
      vs = avformat_new_stream(fmt, nullptr);
      vc = avcodec_alloc_context3(codec);
      vc->width = inSpec.width;
      vc->height = inSpec.height;
      vc->time_base = AVRational{1, inSpec.frameRate};
      vc->framerate = AVRational{inSpec.frameRate, 1};
      vc->pix_fmt = std::strcmp(inSpec.videoEncoder, "mjpeg") == 0 ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
      vc->max_b_frames = inSpec.bFrames;
      vc->gop_size = inSpec.gop;
      vc->bit_rate = 2000000;
      if (std::strcmp(inSpec.videoEncoder, "mjpeg") == 0) {
        vc->flags |= AV_CODEC_FLAG_QSCALE;
        vc->global_quality = FF_QP2LAMBDA * 3;
      }
      if (global) vc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      AVDictionary* opts = nullptr;
      if (std::strcmp(inSpec.videoEncoder, "libx264") == 0) {
        av_dict_set(&opts, "preset", "veryfast", 0);
        av_dict_set(&opts, "crf", "18", 0);
        av_dict_set(&opts, "threads", "2", 0);
      }
      ok = avcodec_open2(vc, codec, &opts) >= 0;
      av_dict_free(&opts);
      if (ok) {
        avcodec_parameters_from_context(vs->codecpar, vc);
        vs->time_base = vc->time_base;
      }
    }
  }
  if (ok && inSpec.soundEncoder) {
    const AVCodec* codec = avcodec_find_encoder_by_name(inSpec.soundEncoder);
    ok = codec != nullptr;
    if (ok) {
      as = avformat_new_stream(fmt, nullptr);
      ac = avcodec_alloc_context3(codec);
      ac->sample_rate = inSpec.sampleRate;
      if (inSpec.channelMask != 0)
        av_channel_layout_from_mask(&ac->ch_layout, inSpec.channelMask);
      else
        av_channel_layout_default(&ac->ch_layout, inSpec.channels);
      ac->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
      ac->time_base = AVRational{1, inSpec.sampleRate};
      if (std::strcmp(inSpec.soundEncoder, "pcm_s16le") != 0) ac->bit_rate = 64000 * inSpec.channels;
      if (global) ac->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      ok = avcodec_open2(ac, codec, nullptr) >= 0;
      if (ok) {
        avcodec_parameters_from_context(as->codecpar, ac);
        as->time_base = AVRational{1, inSpec.sampleRate};
      }
    }
  }
  ok = ok && (vs || as) && avio_open(&fmt->pb, inPath.c_str(), AVIO_FLAG_WRITE) >= 0 &&
       avformat_write_header(fmt, nullptr) >= 0;
  if (ok) {
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    // Sound first, then the pictures: the muxer interleaves by time.
    int soundAt = 0, soundTotal = 0, chunk = 1024;
    std::vector<SInt16> sine;
    SwrContext* swr = nullptr;
    if (ac) {
      const double seconds = inSpec.soundSeconds > 0 ? inSpec.soundSeconds
                                                     : static_cast<double>(inSpec.frames) / inSpec.frameRate;
      soundTotal = static_cast<int>(seconds * inSpec.sampleRate);
      chunk = ac->frame_size > 0 ? ac->frame_size : 1024;
      sine = fftest::MakeSine(soundTotal + chunk, inSpec.sampleRate, inSpec.channels);
      if (inSpec.toneStart >= 0) {
        const size_t silent = static_cast<size_t>(std::llround(inSpec.toneStart * inSpec.sampleRate));
        std::fill(sine.begin(), sine.begin() + static_cast<std::ptrdiff_t>(std::min(silent * inSpec.channels, sine.size())),
                  SInt16(0));
      }
      swr_alloc_set_opts2(&swr, &ac->ch_layout, ac->sample_fmt, inSpec.sampleRate, &ac->ch_layout, AV_SAMPLE_FMT_S16,
                          inSpec.sampleRate, 0, nullptr);
      swr_init(swr);
    }
    auto sendSound = [&](double inUntilSeconds) {
      while (ac && soundAt < soundTotal && soundAt < inUntilSeconds * inSpec.sampleRate) {
        // Whole frames of the encoder's size: the sound ends on a frame boundary.
        const int n = ac->frame_size > 0 ? chunk : std::min(chunk, soundTotal - soundAt);
        f->format = ac->sample_fmt;
        f->nb_samples = n;
        f->sample_rate = inSpec.sampleRate;
        av_channel_layout_copy(&f->ch_layout, &ac->ch_layout);
        av_frame_get_buffer(f, 0);
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(sine.data() +
                                                                 static_cast<size_t>(soundAt) * inSpec.channels)};
        swr_convert(swr, f->extended_data, f->nb_samples, in, f->nb_samples);
        f->pts = soundAt;
        if (avcodec_send_frame(ac, f) >= 0) detail::DrainPackets(ac, as, fmt, pkt);
        av_frame_unref(f);
        soundAt += n;
      }
    };
    SwsContext* sws = nullptr;
    if (vc)
      sws = sws_getContext(inSpec.width, inSpec.height, AV_PIX_FMT_ARGB, inSpec.width, inSpec.height, vc->pix_fmt,
                           SWS_BICUBIC, nullptr, nullptr, nullptr);
    for (int k = 0; vc && k < inSpec.frames; ++k) {
      sendSound(static_cast<double>(k + 1) / inSpec.frameRate);
      fftest::Picture p = fftest::MakeFrame(inSpec.width, inSpec.height, k);
      f->format = vc->pix_fmt;
      f->width = inSpec.width;
      f->height = inSpec.height;
      av_frame_get_buffer(f, 0);
      const uint8_t* src[4] = {p.pixels.data(), nullptr, nullptr, nullptr};
      const int stride[4] = {p.rowBytes, 0, 0, 0};
      sws_scale(sws, src, stride, 0, inSpec.height, f->data, f->linesize);
      f->pts = k;
      if (avcodec_send_frame(vc, f) >= 0) detail::DrainPackets(vc, vs, fmt, pkt);
      av_frame_unref(f);
    }
    sendSound(1e9);
    if (outSoundFrames) *outSoundFrames = soundAt;
    if (vc) {
      avcodec_send_frame(vc, nullptr);
      detail::DrainPackets(vc, vs, fmt, pkt);
    }
    if (ac) {
      avcodec_send_frame(ac, nullptr);
      detail::DrainPackets(ac, as, fmt, pkt);
    }
    ok = av_write_trailer(fmt) >= 0;
    sws_freeContext(sws);
    swr_free(&swr);
    av_frame_free(&f);
    av_packet_free(&pkt);
  }
  if (fmt->pb) avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  avcodec_free_context(&vc);
  avcodec_free_context(&ac);
  return ok;
}

}  // namespace exporttest
