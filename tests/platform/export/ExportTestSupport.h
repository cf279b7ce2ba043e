// Test movies for the exporters, made in memory by the tests, and a reader of
// exported files through libavformat (an outside reader of what we wrote).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/ffmpeg/FFTestSupport.h"
#include "platform/movies/FFCommon.h"
#include "platform/movies/Movies.h"
#include "support/movies/RawMovie.h"

namespace exporttest {

// A movie at time scale 600 with `frames` raw 32-bit frames of 20 units
// (30 per second); frame k carries k in blocks at its top left (fftest).
inline Movie MakeMovie(SInt16 inWidth, SInt16 inHeight, int inFrames, TimeValue inFrameDuration = 20) {
  return testmovies::MakeRawMovie(
      inWidth, inHeight, inFrames,
      [&](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
        const fftest::Picture p = fftest::MakeFrame(inWidth, inHeight, k);
        for (SInt32 y = 0; y < inHeight; ++y)
          std::memcpy(outPixels + static_cast<size_t>(y) * inRowBytes, p.pixels.data() + static_cast<size_t>(y) * p.rowBytes,
                      inRowBytes);
      },
      {600, inFrameDuration});
}

// A stereo 16-bit sound track of `inFrames` sample frames at `inRate`.
inline void AddSound(Movie inMovie, int inFrames, int inRate = 44100) {
  Track t = NewMovieTrack(inMovie, 0, 0, 256);
  Media md = NewTrackMedia(t, SoundMediaType, inRate, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  (**desc).descSize = sizeof(SoundDescription);
  (**desc).dataFormat = 'sowt';
  (**desc).numChannels = 2;
  (**desc).sampleSize = 16;
  (**desc).sampleRate = static_cast<UnsignedFixed>(inRate) << 16;
  std::vector<SInt16> samples = fftest::MakeSine(inFrames, inRate, 2);
  Handle data = NewHandle(static_cast<SInt32>(samples.size() * 2));
  std::memcpy(*data, samples.data(), samples.size() * 2);
  BeginMediaEdits(md);
  AddMediaSample(md, data, 0, static_cast<UInt32>(samples.size() * 2), 1,
                 reinterpret_cast<SampleDescriptionHandle>(desc), inFrames, 0, nullptr);
  EndMediaEdits(md);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1);
}

struct StreamFacts {
  bool present = false;
  int packets = 0;
  double seconds = 0;   // the track's duration
  int width = 0, height = 0;
  double frameRate = 0;
  SInt64 soundFrames = 0;
  int sampleRate = 0;
  int channels = 0;
  UInt64 channelMask = 0;   // the channel layout's mask, 0 when unspecified
  double startSeconds = 0;  // the first packet's presentation time
};
struct FileFacts {
  bool opened = false;
  std::string format;
  StreamFacts video, sound;
  std::vector<int> frameNumbers;  // decoded frames' numbers, in display order
  std::vector<fftest::Picture> pictures;  // with inDecode: the decoded frames, ARGB, in display order
};

// Reads a file with libavformat; with inDecode the video is decoded and the
// frame numbers read back.
inline FileFacts Probe(const std::string& inPath, bool inDecode = false) {
  FileFacts f;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, inPath.c_str(), nullptr, nullptr) < 0) return f;
  avformat_find_stream_info(ctx, nullptr);
  f.opened = true;
  f.format = ctx->iformat->name;
  int vi = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int si = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVCodecContext* dec = nullptr;
  AVFrame* frame = av_frame_alloc();
  if (vi >= 0) {
    AVStream* s = ctx->streams[vi];
    f.video.present = true;
    f.video.width = s->codecpar->width;
    f.video.height = s->codecpar->height;
    f.video.frameRate = av_q2d(s->avg_frame_rate);
    if (inDecode) {
      dec = avcodec_alloc_context3(avcodec_find_decoder(s->codecpar->codec_id));
      avcodec_parameters_to_context(dec, s->codecpar);
      avcodec_open2(dec, nullptr, nullptr);
    }
  }
  if (si >= 0) {
    f.sound.present = true;
    f.sound.sampleRate = ctx->streams[si]->codecpar->sample_rate;
    f.sound.channels = ctx->streams[si]->codecpar->ch_layout.nb_channels;
    if (ctx->streams[si]->codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
      f.sound.channelMask = ctx->streams[si]->codecpar->ch_layout.u.mask;
  }
  bool firstSound = true;
  auto takeFrames = [&] {
    while (avcodec_receive_frame(dec, frame) == 0) {
      fftest::Picture p = fftest::MakeBlank(frame->width, frame->height);
      SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                       frame->width, frame->height, AV_PIX_FMT_ARGB, SWS_BILINEAR, nullptr, nullptr,
                                       nullptr);
      uint8_t* dst[4] = {p.pixels.data(), nullptr, nullptr, nullptr};
      int stride[4] = {p.rowBytes, 0, 0, 0};
      sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
      sws_freeContext(sws);
      f.frameNumbers.push_back(fftest::ReadFrameNumber(p));
      f.pictures.push_back(std::move(p));
    }
  };
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(ctx, pkt) >= 0) {
    StreamFacts* s = pkt->stream_index == vi ? &f.video : pkt->stream_index == si ? &f.sound : nullptr;
    if (s) {
      ++s->packets;
      const AVRational tb = ctx->streams[pkt->stream_index]->time_base;
      s->seconds += pkt->duration * av_q2d(tb);
      if (s == &f.sound && firstSound && pkt->pts != AV_NOPTS_VALUE) {
        f.sound.startSeconds = pkt->pts * av_q2d(tb);
        firstSound = false;
      }
      if (s == &f.sound) {
        const AVCodecParameters* cp = ctx->streams[si]->codecpar;
        const int bits = av_get_bits_per_sample(cp->codec_id);
        if (bits > 0 && cp->ch_layout.nb_channels > 0)
          s->soundFrames += pkt->size / (cp->ch_layout.nb_channels * bits / 8);
        else if (f.sound.sampleRate > 0)
          s->soundFrames += static_cast<SInt64>(std::llround(pkt->duration * av_q2d(tb) * f.sound.sampleRate));
      }
      if (dec && pkt->stream_index == vi && avcodec_send_packet(dec, pkt) >= 0) takeFrames();
    }
    av_packet_unref(pkt);
  }
  if (dec) {
    avcodec_send_packet(dec, nullptr);
    takeFrames();
    avcodec_free_context(&dec);
  }
  av_packet_free(&pkt);
  av_frame_free(&frame);
  // The container's own track duration where it keeps one (packet durations
  // of edited MPEG-4 tracks are not the samples' durations).
  if (vi >= 0 && ctx->streams[vi]->duration > 0)
    f.video.seconds = ctx->streams[vi]->duration * av_q2d(ctx->streams[vi]->time_base);
  avformat_close_input(&ctx);
  return f;
}

}  // namespace exporttest

namespace exporttest {

// Writes a QuickTime (or `inContainer`) file of `inSeconds` of a sine through the libavcodec
// encoder `inEncoder` ("aac", "libmp3lame", "mp2", "pcm_s16le") at `inRate`
// with `inChannels`. False when the encoder refuses the format.
inline bool WriteSoundMovie(const std::string& inPath, const char* inEncoder, int inRate, int inChannels,
                            double inSeconds, const char* inContainer = "mov") {
  const AVCodec* codec = avcodec_find_encoder_by_name(inEncoder);
  if (codec == nullptr) return false;
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, inContainer, inPath.c_str()) < 0) return false;
  AVStream* st = avformat_new_stream(fmt, nullptr);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->sample_rate = inRate;
  av_channel_layout_default(&c->ch_layout, inChannels);
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  c->time_base = AVRational{1, inRate};
  if (std::strcmp(inEncoder, "pcm_s16le") != 0) c->bit_rate = inRate >= 32000 ? 64000 * inChannels : 16000 * inChannels;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  bool ok = avcodec_open2(c, codec, nullptr) >= 0;
  if (ok) {
    avcodec_parameters_from_context(st->codecpar, c);
    st->time_base = AVRational{1, inRate};
    ok = avio_open(&fmt->pb, inPath.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(fmt, nullptr) >= 0;
  }
  if (ok) {
    const int total = static_cast<int>(inSeconds * inRate);
    const int chunk = c->frame_size > 0 ? c->frame_size : 1024;
    std::vector<SInt16> sine = fftest::MakeSine(total + chunk, inRate, inChannels);
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, inRate, &c->ch_layout, AV_SAMPLE_FMT_S16, inRate, 0,
                        nullptr);
    swr_init(swr);
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
      while (avcodec_receive_packet(c, pkt) == 0) {
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        pkt->stream_index = st->index;
        av_interleaved_write_frame(fmt, pkt);
      }
    };
    for (int at = 0; at < total; at += chunk) {
      f->format = c->sample_fmt;
      f->nb_samples = chunk;
      f->sample_rate = inRate;
      av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
      av_frame_get_buffer(f, 0);
      const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(sine.data() + static_cast<size_t>(at) * inChannels)};
      swr_convert(swr, f->extended_data, chunk, in, chunk);
      f->pts = at;
      if (avcodec_send_frame(c, f) >= 0) drain();
      av_frame_unref(f);
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_write_trailer(fmt);
    av_frame_free(&f);
    av_packet_free(&pkt);
    swr_free(&swr);
  }
  if (fmt->pb) avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  avcodec_free_context(&c);
  return ok;
}

}  // namespace exporttest

namespace exporttest {

// Where a file's sound lies against its pictures, as libavformat and
// libavcodec read it (edit lists and the codec's priming taken off): the
// first picture's time, the first decoded sound frame's time, and the first
// sound frame louder than a threshold (the onset of a tone burst).
struct SoundTiming {
  bool ok = false;
  double videoStart = 0;    // seconds
  double soundStart = 0;    // seconds
  SInt64 onsetFrame = -1;   // decoded sound frames before the first loud one
  SInt64 decodedFrames = 0;
  SInt64 statedFrames = 0;  // the length the container gives (its edit list), 0 when it gives none
  int sampleRate = 0;
  int frameSize = 0;        // the sound codec's frame, in sample frames (0: any)
  // The onset's time on the pictures' clock, and the sound's length.
  double Onset() const { return soundStart + static_cast<double>(onsetFrame) / sampleRate - videoStart; }
  // A reader decodes the last frame of a codec whole; the container's edit
  // says where the sound ends in it.
  double Seconds() const {
    const SInt64 frames = statedFrames > 0 ? std::min(statedFrames, decodedFrames) : decodedFrames;
    return static_cast<double>(frames) / sampleRate;
  }
};

inline SoundTiming MeasureSoundTiming(const std::string& inPath, int inThreshold = 3000) {
  SoundTiming r;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, inPath.c_str(), nullptr, nullptr) < 0) return r;
  avformat_find_stream_info(ctx, nullptr);
  const int vi = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int si = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVCodecContext* vdec = nullptr;
  AVCodecContext* sdec = nullptr;
  auto open = [&](int inStream) {
    AVCodecContext* c = avcodec_alloc_context3(avcodec_find_decoder(ctx->streams[inStream]->codecpar->codec_id));
    avcodec_parameters_to_context(c, ctx->streams[inStream]->codecpar);
    c->pkt_timebase = ctx->streams[inStream]->time_base;
    avcodec_open2(c, nullptr, nullptr);
    return c;
  };
  if (vi >= 0) vdec = open(vi);
  if (si >= 0) sdec = open(si);
  if (sdec == nullptr) {
    avcodec_free_context(&vdec);
    avformat_close_input(&ctx);
    return r;
  }
  r.sampleRate = sdec->sample_rate;
  r.frameSize = sdec->frame_size > 0 ? sdec->frame_size : ctx->streams[si]->codecpar->frame_size;
  double firstPicture = 1e30;
  bool firstSound = true;
  AVFrame* frame = av_frame_alloc();
  auto takeVideo = [&] {
    while (avcodec_receive_frame(vdec, frame) == 0) {
      if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        firstPicture = std::min(firstPicture, frame->best_effort_timestamp * av_q2d(ctx->streams[vi]->time_base));
      av_frame_unref(frame);
    }
  };
  auto takeSound = [&] {
    while (avcodec_receive_frame(sdec, frame) == 0) {
      if (firstSound) {
        firstSound = false;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
          r.soundStart = frame->best_effort_timestamp * av_q2d(ctx->streams[si]->time_base);
      }
      const int channels = frame->ch_layout.nb_channels;
      for (int i = 0; i < frame->nb_samples && r.onsetFrame < 0; ++i)
        for (int c = 0; c < channels; ++c) {
          double v = 0;
          const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)) != 0;
          const int plane = planar ? c : 0;
          const int at = planar ? i : i * channels + c;
          switch (frame->format) {
            case AV_SAMPLE_FMT_S16: case AV_SAMPLE_FMT_S16P:
              v = reinterpret_cast<const int16_t*>(frame->extended_data[plane])[at];
              break;
            case AV_SAMPLE_FMT_S32: case AV_SAMPLE_FMT_S32P:
              v = reinterpret_cast<const int32_t*>(frame->extended_data[plane])[at] / 65536.0;
              break;
            case AV_SAMPLE_FMT_FLT: case AV_SAMPLE_FMT_FLTP:
              v = reinterpret_cast<const float*>(frame->extended_data[plane])[at] * 32768.0;
              break;
            case AV_SAMPLE_FMT_DBL: case AV_SAMPLE_FMT_DBLP:
              v = reinterpret_cast<const double*>(frame->extended_data[plane])[at] * 32768.0;
              break;
            default:
              break;
          }
          if (std::fabs(v) >= inThreshold) {
            r.onsetFrame = r.decodedFrames + i;
            break;
          }
        }
      r.decodedFrames += frame->nb_samples;
      av_frame_unref(frame);
    }
  };
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(ctx, pkt) >= 0) {
    if (pkt->stream_index == vi && vdec && avcodec_send_packet(vdec, pkt) >= 0) takeVideo();
    if (pkt->stream_index == si && avcodec_send_packet(sdec, pkt) >= 0) takeSound();
    av_packet_unref(pkt);
  }
  if (vdec) {
    avcodec_send_packet(vdec, nullptr);
    takeVideo();
  }
  avcodec_send_packet(sdec, nullptr);
  takeSound();
  r.videoStart = vdec && firstPicture < 1e29 ? firstPicture : 0;
  const AVStream* sound = ctx->streams[si];
  if (sound->duration != AV_NOPTS_VALUE && sound->duration > 0 && r.sampleRate > 0)
    r.statedFrames = av_rescale_q(sound->duration, sound->time_base, AVRational{1, r.sampleRate});
  r.ok = true;
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&vdec);
  avcodec_free_context(&sdec);
  avformat_close_input(&ctx);
  return r;
}

}  // namespace exporttest
