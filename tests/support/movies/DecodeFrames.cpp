#include "support/movies/DecodeFrames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace testmovies {

bool DecodeVideoFrames(const std::string& inPath, const std::function<void(const AVFrame& inFrame)>& inEach) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, inPath.c_str(), nullptr, nullptr) < 0) return false;
  const int vi = avformat_find_stream_info(in, nullptr) >= 0
                     ? av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                     : -1;
  if (vi < 0) {
    avformat_close_input(&in);
    return false;
  }
  const AVCodec* codec = avcodec_find_decoder(in->streams[vi]->codecpar->codec_id);
  AVCodecContext* d = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(d, in->streams[vi]->codecpar);
  avcodec_open2(d, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  auto receive = [&] {
    while (avcodec_receive_frame(d, f) == 0) {
      inEach(*f);
      av_frame_unref(f);
    }
  };
  while (av_read_frame(in, pkt) >= 0) {
    if (pkt->stream_index == vi && avcodec_send_packet(d, pkt) >= 0) receive();
    av_packet_unref(pkt);
  }
  avcodec_send_packet(d, nullptr);
  receive();
  av_frame_free(&f);
  av_packet_free(&pkt);
  avcodec_free_context(&d);
  avformat_close_input(&in);
  return true;
}

}  // namespace testmovies
