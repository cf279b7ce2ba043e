// Decode-and-convert throughput of H.264 into 32-bit ARGB pixels, beside the
// plain libavcodec decode rate of the same stream in the same run. The bench
// encodes its own pictures first. One line per figure.
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/movies/FFDecoder.h"
#include "platform/movies/FFEncoder.h"

namespace {

struct Packet {
  std::vector<UInt8> bytes;
  SInt64 dts, pts;
};

std::vector<Packet> EncodeClip(SInt32 w, SInt32 h, int frames, std::vector<UInt8>& outConfig) {
  FFExportSettings settings;
  auto enc = CFFEncoder::NewVideo('avc1', w, h, 600, 20, settings, true);
  std::vector<UInt8> pixels(static_cast<size_t>(w) * h * 4);
  std::vector<Packet> packets;
  auto sink = [&](AVPacket* p) { packets.push_back({std::vector<UInt8>(p->data, p->data + p->size), p->dts, p->pts}); };
  for (int f = 0; f < frames; ++f) {
    // A moving pattern with texture, so the stream has real work in it.
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < w; ++x) {
        UInt8* p = &pixels[(static_cast<size_t>(y) * w + x) * 4];
        p[0] = 255;
        p[1] = static_cast<UInt8>(128 + 100 * std::sin((x + 4 * f) * 0.05) * std::cos(y * 0.03));
        p[2] = static_cast<UInt8>((x * 3 + y * 5 + f * 7) & 0xFF);
        p[3] = static_cast<UInt8>(((x ^ y) + f) & 0xFF);
      }
    enc->EncodeFrame(FFPixelBuffer{pixels.data(), w * 4, w, h}, f * 20, 20, sink);
  }
  enc->Finish(sink);
  const AVCodecContext* c = enc->GetContext();
  outConfig.assign(c->extradata, c->extradata + c->extradata_size);
  return packets;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time of the whole process (all threads), in seconds: on a busy
// machine the cost per frame is steadier than the wall-clock rate.
double ProcessSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Rate {
  double framesPerSecond = 0;
  double cpuMsPerFrame = 1e9;
};

// Frames per second of libavcodec alone: the same threads, no conversion.
Rate PlainDecodeRate(const std::vector<Packet>& packets, const std::vector<UInt8>& config, SInt32 w, SInt32 h) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = w;
  c->height = h;
  c->thread_count = FFDefaultThreadCount();
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  c->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::copy(config.begin(), config.end(), c->extradata);
  c->extradata_size = static_cast<int>(config.size());
  avcodec_open2(c, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int frames = 0;
  auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessSeconds();
  for (const Packet& p : packets) {
    av_new_packet(pkt, static_cast<int>(p.bytes.size()));
    std::copy(p.bytes.begin(), p.bytes.end(), pkt->data);
    pkt->dts = p.dts;
    pkt->pts = p.pts;
    avcodec_send_packet(c, pkt);
    av_packet_unref(pkt);
    while (avcodec_receive_frame(c, frame) == 0) {
      ++frames;
      av_frame_unref(frame);
    }
  }
  avcodec_send_packet(c, nullptr);
  while (avcodec_receive_frame(c, frame) == 0) {
    ++frames;
    av_frame_unref(frame);
  }
  auto end = std::chrono::steady_clock::now();
  const double cpu = ProcessSeconds() - cpuStart;
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&c);
  return Rate{frames / Seconds(start, end), cpu * 1000 / frames};
}

// Frames per second of the image decoder into a 32-bit ARGB buffer.
Rate ARGBDecodeRate(const std::vector<Packet>& packets, const std::vector<UInt8>& config, SInt32 w, SInt32 h) {
  CFFDecoder dec('avc1', w, h, config.data(), config.size());
  const SInt32 rowBytes = (w * 4 + 63) & ~63;
  std::vector<UInt8> pixels(static_cast<size_t>(rowBytes) * h);
  FFPixelBuffer buffer{pixels.data(), rowBytes, w, h};
  int frames = 0;
  auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessSeconds();
  for (const Packet& p : packets) {
    dec.SendSample(p.bytes.data(), static_cast<UInt32>(p.bytes.size()), p.dts, p.pts);
    while (dec.ReceiveFrame(buffer)) ++frames;
  }
  dec.SendEnd();
  while (dec.ReceiveFrame(buffer)) ++frames;
  auto end = std::chrono::steady_clock::now();
  return Rate{frames / Seconds(start, end), (ProcessSeconds() - cpuStart) * 1000 / frames};
}

}  // namespace

int main() {
  av_log_set_level(AV_LOG_ERROR);
  struct Size {
    SInt32 w, h;
    int frames;
  };
  for (Size s : {Size{1280, 720, 240}, Size{1920, 1080, 180}}) {
    std::vector<UInt8> config;
    std::vector<Packet> packets = EncodeClip(s.w, s.h, s.frames, config);
    Rate plain, argb;
    // Alternate the two and keep the best of each, so both see the same machine state.
    for (int round = 0; round < 5; ++round) {
      Rate p = PlainDecodeRate(packets, config, s.w, s.h);
      Rate a = ARGBDecodeRate(packets, config, s.w, s.h);
      plain.framesPerSecond = std::max(plain.framesPerSecond, p.framesPerSecond);
      plain.cpuMsPerFrame = std::min(plain.cpuMsPerFrame, p.cpuMsPerFrame);
      argb.framesPerSecond = std::max(argb.framesPerSecond, a.framesPerSecond);
      argb.cpuMsPerFrame = std::min(argb.cpuMsPerFrame, a.cpuMsPerFrame);
    }
    std::printf("h264 %dx%d decode only: %.1f frames/s\n", s.w, s.h, plain.framesPerSecond);
    std::printf("h264 %dx%d decode into ARGB: %.1f frames/s (%.1f%% of decode only, %d decoder threads)\n", s.w, s.h,
                argb.framesPerSecond, 100.0 * argb.framesPerSecond / plain.framesPerSecond, FFDefaultThreadCount());
    std::printf("h264 %dx%d processor time per frame: decode only %.2f ms, decode into ARGB %.2f ms (+%.1f%%)\n", s.w,
                s.h, plain.cpuMsPerFrame, argb.cpuMsPerFrame, 100.0 * (argb.cpuMsPerFrame / plain.cpuMsPerFrame - 1));
  }
  return 0;
}
