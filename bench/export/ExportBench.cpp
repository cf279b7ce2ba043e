// Export throughput at 1280x720 with the default H.264 exporter: a
// stabilised export (colour borders) and a pass-through export, both through
// the video data source and the MPEG-4 exporter, beside plain libavcodec
// encodes with the same settings in the same run: of the source frames (what
// the pass-through export encodes) and of the stabilised frames (what the
// stabilised export encodes: turned and moved pictures cost the encoder
// more, and that is not the stabiliser's cost). 120 frames, so that the
// encoder's look-ahead fills and drains within a small part of the run.
// One line per figure.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "support/movies/RawMovie.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieExport.h"
#include "vantrel/VideoExportSource.h"

namespace {

constexpr SInt16 kWidth = 1280, kHeight = 720;
constexpr int kFrames = 120;

// Processor time of the whole process (every thread), seconds: on a loaded
// machine a steadier measure of the work than the wall clock.
double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
double gLastProcessorSeconds = 0;

std::vector<UInt8> Frame(int k) {
  std::vector<UInt8> p(static_cast<size_t>(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      UInt8* px = &p[(static_cast<size_t>(y) * kWidth + x) * 4];
      px[0] = 255;
      px[1] = static_cast<UInt8>(128 + 100 * std::sin((x + 3 * k) * 0.031) * std::cos(y * 0.017));
      px[2] = static_cast<UInt8>(((x / 40 + y / 40) % 2) * 120 + 60);
      px[3] = static_cast<UInt8>(128 + 90 * std::sin((x * 0.7 + y) * 0.013 + k * 0.1));
    }
  return p;
}

Movie MakeMovie(const std::vector<std::vector<UInt8>>& inFrames) {
  return testmovies::MakeRawMovie(kWidth, kHeight, static_cast<SInt32>(inFrames.size()),
                                  [&](SInt32 k, UInt8* outPixels, size_t) {
                                    const std::vector<UInt8>& f = inFrames[static_cast<size_t>(k)];
                                    std::memcpy(outPixels, f.data(), f.size());
                                  });
}

void AddControlTrack(Movie inMovie) {
  CMotionData store;
  for (int k = 0; k < kFrames; ++k) {
    FrameData f;
    f.time = k * 20;
    f.duration = 20;
    SetIdentityMatrix(&f.matrix1);
    RotateMatrix(&f.matrix1, X2Fix(0.3 * std::sin(k * 0.7)), Long2Fix(kWidth / 2), Long2Fix(kHeight / 2));
    TranslateMatrix(&f.matrix1, X2Fix(3.5 * std::sin(k * 1.3)), X2Fix(2.5 * std::cos(k * 1.9)));
    f.matrix2 = f.matrix1;
    store.GetFrames().AddItem(f);
  }
  Track track = nullptr;
  CTweenTracks::CreateTweenTrackFromMotionData(inMovie, Rect{0, 0, kHeight, kWidth}, store, &track);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  CMovieRendering::WriteRenderParamsToTrack(track, params);
}

// The frames the stabilised export encodes, from the video data source itself.
std::vector<std::vector<UInt8>> StabilisedFrames(Movie inMovie) {
  MovieExportComponent ci = nullptr;
  OpenADefaultComponent(MovieExportType, 'mpg4', &ci);
  VideoExportData v;
  SetUpVideoExportSource(v, ci, inMovie, GetMovieIndTrack(inMovie, 1), false);
  std::vector<std::vector<UInt8>> frames;
  const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 4;
  for (int k = 0; k < kFrames; ++k) {
    MovieExportGetDataParams params{};
    params.recordSize = sizeof params;
    params.requestedTime = k * 20;
    params.requestedSampleCount = 1;
    if (myVideoExportGetDataProc(&v, &params) != noErr || params.dataPtr == nullptr ||
        static_cast<size_t>(params.dataSize) < bytes) {
      std::fprintf(stderr, "rendering frame %d failed\n", k);
      break;
    }
    frames.emplace_back(reinterpret_cast<const UInt8*>(params.dataPtr),
                        reinterpret_cast<const UInt8*>(params.dataPtr) + bytes);
  }
  DisposeVideoExportSource(v);
  CloseComponent(ci);
  return frames;
}

double ExportSeconds(Movie inMovie, const std::string& inPath) {
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  FSpCreate(&spec, kTremblorixFileCreator, 'mpg4', smSystemScript);
  AliasHandle alias = nullptr;
  NewAlias(nullptr, &spec, &alias);
  MovieExportComponent ci = nullptr;
  OpenADefaultComponent(MovieExportType, 'mpg4', &ci);
  VideoExportData v;
  SetUpVideoExportSource(v, ci, inMovie, GetMovieIndTrack(inMovie, 1), false);
  const double cpu0 = ProcessorSeconds();
  const auto start = std::chrono::steady_clock::now();
  OSErr err = MovieExportFromProceduresToDataRef(ci, reinterpret_cast<Handle>(alias), rAliasType);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  gLastProcessorSeconds = ProcessorSeconds() - cpu0;
  DisposeVideoExportSource(v);
  CloseComponent(ci);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  std::remove(inPath.c_str());
  if (err != noErr) std::fprintf(stderr, "export failed: %d\n", err);
  return seconds;
}

// The same frames through swscale and libx264 with the exporter's settings
// (CRF 23, preset medium, 4:2:0, frames 20/600 s apart), packets discarded.
double PlainSeconds(const std::vector<std::vector<UInt8>>& inFrames) {
  const double cpu0 = ProcessorSeconds();
  const auto start = std::chrono::steady_clock::now();
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->time_base = AVRational{1, 600};
  c->framerate = AVRational{30, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  c->thread_count = 0;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "crf", "23", 0);
  av_dict_set(&opts, "preset", "medium", 0);
  avcodec_open2(c, codec, &opts);
  av_dict_free(&opts);
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_ARGB, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  AVFrame* f = av_frame_alloc();
  f->format = c->pix_fmt;
  f->width = kWidth;
  f->height = kHeight;
  av_frame_get_buffer(f, 0);
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(c, pkt) == 0) av_packet_unref(pkt);
  };
  for (int k = 0; k < kFrames; ++k) {
    av_frame_make_writable(f);
    const uint8_t* src[4] = {inFrames[static_cast<size_t>(k)].data(), nullptr, nullptr, nullptr};
    const int stride[4] = {kWidth * 4, 0, 0, 0};
    sws_scale(sws, src, stride, 0, kHeight, f->data, f->linesize);
    f->pts = k * 20;
    avcodec_send_frame(c, f);
    drain();
  }
  avcodec_send_frame(c, nullptr);
  drain();
  av_packet_free(&pkt);
  av_frame_free(&f);
  sws_freeContext(sws);
  avcodec_free_context(&c);
  gLastProcessorSeconds = ProcessorSeconds() - cpu0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  av_log_set_level(AV_LOG_ERROR);
  EnterMovies();
  std::vector<std::vector<UInt8>> frames;
  for (int k = 0; k < kFrames; ++k) frames.push_back(Frame(k));
  Movie plainMovie = MakeMovie(frames);
  Movie steadyMovie = MakeMovie(frames);
  AddControlTrack(steadyMovie);
  const std::string path = "/tmp/bench_export_" + std::to_string(getpid()) + ".mp4";

  const std::vector<std::vector<UInt8>> steadyFrames = StabilisedFrames(steadyMovie);
  if (steadyFrames.size() != frames.size()) return 1;

  // Each figure is the best of three rounds, the rounds interleaved so that
  // other load on the machine falls on all of them alike.
  double plain = 1e9, plainSteady = 1e9, steady = 1e9, pass = 1e9;
  double plainCpu = 1e9, plainSteadyCpu = 1e9, steadyCpu = 1e9, passCpu = 1e9;
  for (int round = 0; round < 3; ++round) {
    plain = std::min(plain, PlainSeconds(frames));
    plainCpu = std::min(plainCpu, gLastProcessorSeconds);
    plainSteady = std::min(plainSteady, PlainSeconds(steadyFrames));
    plainSteadyCpu = std::min(plainSteadyCpu, gLastProcessorSeconds);
    steady = std::min(steady, ExportSeconds(steadyMovie, path));
    steadyCpu = std::min(steadyCpu, gLastProcessorSeconds);
    pass = std::min(pass, ExportSeconds(plainMovie, path));
    passCpu = std::min(passCpu, gLastProcessorSeconds);
  }
  std::printf("export_1280x720_plain_libavcodec_fps %.1f (source frames) %.1f (stabilised frames)\n", kFrames / plain,
              kFrames / plainSteady);
  std::printf("export_1280x720_stabilised_border1_fps %.1f\n", kFrames / steady);
  std::printf("export_1280x720_passthrough_fps %.1f\n", kFrames / pass);
  std::printf("export_stabilised_time_vs_plain %.2f (target <= 1.25; plain encode of the same frames)\n",
              steady / plainSteady);
  std::printf("export_stabilised_time_vs_plain_of_source_frames %.2f\n", steady / plain);
  std::printf("export_passthrough_time_vs_plain %.2f\n", pass / plain);
  std::printf("export_processor_ms_per_frame plain %.2f plain_stabilised_frames %.2f stabilised %.2f passthrough %.2f\n",
              1e3 * plainCpu / kFrames, 1e3 * plainSteadyCpu / kFrames, 1e3 * steadyCpu / kFrames,
              1e3 * passCpu / kFrames);
  std::printf("export_stabilised_processor_vs_plain %.2f (target <= 1.25; plain encode of the same frames)\n",
              steadyCpu / plainSteadyCpu);
  std::printf("export_passthrough_processor_vs_plain %.2f\n", passCpu / plainCpu);
  DisposeMovie(plainMovie);
  DisposeMovie(steadyMovie);
  return 0;
}
