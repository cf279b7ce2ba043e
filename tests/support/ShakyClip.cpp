#include "support/ShakyClip.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace shaky {

bool WriteH264Clip(const std::string& inPath, const H264ClipSpec& inSpec, const Texture& inTexture,
                   const std::function<Pose(int inFrame)>& inPoseOf) {
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, inSpec.container, inPath.c_str()) < 0) return false;
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) {
    avformat_free_context(fmt);
    return false;
  }
  AVStream* st = avformat_new_stream(fmt, nullptr);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = inSpec.width;
  c->height = inSpec.height;
  c->time_base = AVRational{1, inSpec.rate};
  c->framerate = AVRational{inSpec.rate, 1};
  c->pix_fmt = inSpec.pixelFormat;
  c->max_b_frames = inSpec.bFrames;
  c->gop_size = inSpec.gop;
  if (inSpec.hdColour) {
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = inSpec.pixelFormat == AV_PIX_FMT_YUVJ420P ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
  }
  if (fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "preset", "veryfast", 0);
  av_dict_set(&opts, "crf", inSpec.crf, 0);
  bool ok = avcodec_open2(c, codec, &opts) >= 0;
  av_dict_free(&opts);
  ok = ok && avcodec_parameters_from_context(st->codecpar, c) >= 0;
  st->time_base = c->time_base;
  ok = ok && avio_open(&fmt->pb, inPath.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(fmt, nullptr) >= 0;
  CBuffer* argb = NewFrame(inSpec.width, inSpec.height);
  SwsContext* sws =
      sws_getContext(inSpec.width, inSpec.height, AV_PIX_FMT_ARGB, inSpec.width, inSpec.height, inSpec.pixelFormat,
                     inSpec.hdColour ? SWS_BICUBIC | SWS_ACCURATE_RND : SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (inSpec.hdColour)
    sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_ITU709), 1, sws_getCoefficients(SWS_CS_ITU709),
                             c->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(c, pkt) == 0) {
      // Every picture lasts one frame, the last one too, or the file's edit ends before it.
      pkt->duration = 1;
      av_packet_rescale_ts(pkt, c->time_base, st->time_base);
      pkt->stream_index = st->index;
      av_interleaved_write_frame(fmt, pkt);
    }
  };
  for (int k = 0; ok && k < inSpec.frames; ++k) {
    Render(inTexture, inPoseOf(k), argb);
    f->format = c->pix_fmt;
    f->width = c->width;
    f->height = c->height;
    av_frame_get_buffer(f, 0);
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(argb->GetDataPtr(static_cast<const Point*>(nullptr))),
                             nullptr, nullptr, nullptr};
    const int stride[4] = {argb->GetRowBytes(), 0, 0, 0};
    sws_scale(sws, src, stride, 0, c->height, f->data, f->linesize);
    f->pts = k;
    if (avcodec_send_frame(c, f) >= 0) drain();
    av_frame_unref(f);
  }
  if (ok) {
    avcodec_send_frame(c, nullptr);
    drain();
    ok = av_write_trailer(fmt) >= 0;
  }
  argb->Release();
  sws_freeContext(sws);
  av_frame_free(&f);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  if (fmt->pb) avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  return ok;
}

}  // namespace shaky
