#include "support/movies/PlainDecode.h"

#include <time.h>

#include <chrono>

#include "platform/movies/FFCommon.h"

namespace testmovies {

namespace {

double ProcessorNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Since(std::chrono::steady_clock::time_point inStart) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - inStart).count();
}

}  // namespace

PlainDecodeFigures PlainDecode(const std::string& inPath, int inThreads) {
  PlainDecodeFigures figures;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, inPath.c_str(), nullptr, nullptr) < 0) return figures;
  avformat_find_stream_info(fmt, nullptr);
  const int stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = stream < 0 ? nullptr : avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
  if (codec == nullptr) {
    avformat_close_input(&fmt);
    return figures;
  }
  const auto made = std::chrono::steady_clock::now();
  AVCodecContext* c = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(c, fmt->streams[stream]->codecpar);
  c->thread_count = inThreads > 0 ? inThreads : FFDefaultThreadCount();
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(c, codec, nullptr) < 0) {
    avcodec_free_context(&c);
    avformat_close_input(&fmt);
    return figures;
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const double cpu0 = ProcessorNow();
  const auto start = std::chrono::steady_clock::now();
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == stream) {
      avcodec_send_packet(c, pkt);
      while (avcodec_receive_frame(c, frame) == 0) ++figures.frames;
    }
    av_packet_unref(pkt);
  }
  avcodec_send_packet(c, nullptr);
  while (avcodec_receive_frame(c, frame) == 0) ++figures.frames;
  figures.decodeSeconds = Since(start);
  figures.seconds = Since(made);
  figures.processorSeconds = ProcessorNow() - cpu0;
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  avformat_close_input(&fmt);
  return figures;
}

}  // namespace testmovies
