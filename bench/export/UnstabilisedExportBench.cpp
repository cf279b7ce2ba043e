// Export of a movie as it is: a 1280x720 H.264 clip with B-frames (made
// here with libavcodec from a shaken, photograph-like scene) exported to
// MPEG-4 through the export engine Vantrel runs, beside a plain libavformat
// demux, libavcodec decode and libx264 encode of the same frames with the
// exporter's settings (CRF 23, preset medium, 4:2:0, its colour signalling,
// the same thread count), written to an MPEG-4 file too. The two are run in
// turns, several times, so that other load on the machine falls on both
// alike. One line per figure; each figure is the median with the range.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/FFCommon.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "support/movies/OpenMovie.h"
#include "support/ShakyClip.h"
#include "vantrel/ExportEngine.h"
#include "vantrel/ExportProtocol.h"
#include "vantrel/VantrelWorker.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1280, kHeight = 720;
constexpr int kFrames = 120;  // 4 s at 30 frames a second
constexpr int kRate = 30;
constexpr int kRounds = 5;

double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Timing {
  double seconds = 0;
  double processor = 0;
};

// The source clip: a hand-held look at a photograph-like scene, coded as a
// camera codes it (B-frames, a key frame every second).
bool WriteSourceClip(const std::string& inPath) {
  const shaky::Texture texture = shaky::MakePhotoTexture(kWidth + 320, kHeight + 240, 44);
  shaky::H264ClipSpec spec;
  spec.width = kWidth;
  spec.height = kHeight;
  spec.frames = kFrames;
  spec.rate = kRate;
  spec.gop = kRate;
  spec.crf = "20";
  return shaky::WriteH264Clip(inPath, spec, texture, [](int k) {
    const double t = k / static_cast<double>(kRate);
    return shaky::Pose::Make(1.0 + 0.01 * std::sin(t * 1.7), 0.01 * std::sin(t * 5.3), 40 * t + 6 * std::sin(t * 11.0),
                             4 * std::cos(t * 9.0));
  });
}

typedef std::vector<UInt8> Bytes;

// The request the application sends for an MPEG-4 export with the default
// settings, the destination named by its path.
Bytes ExportRequest(Movie inMovie, const std::string& inPath) {
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  AliasHandle alias = nullptr;
  NewAliasToPath(&spec, &alias);
  Handle movie = NewHandle(0);
  PutMovieIntoHandle(inMovie, movie);
  MovieExportComponent ci = nullptr;
  OpenADefaultComponent(MovieExportType, 'mpg4', &ci);
  QTAtomContainer settings = nullptr;
  MovieExportGetSettingsAsAtomContainer(ci, &settings);
  CloseComponent(ci);
  auto bytesOf = [](Handle inHandle) { return reinterpret_cast<const UInt8*>(*inHandle); };
  auto sizeOf = [](Handle inHandle) { return static_cast<size_t>(GetHandleSize(inHandle)); };
  const Handle destination = reinterpret_cast<Handle>(alias);
  const Bytes message =
      EncodeExportRequest(ExportRequestOf(bytesOf(movie), sizeOf(movie), bytesOf(destination), sizeOf(destination),
                                          'mpg4', bytesOf(settings), sizeOf(settings), 44, false));
  DisposeHandle(movie);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  QTDisposeAtomContainer(settings);
  return message;
}

int CountVideoPackets(const std::string& inPath) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, inPath.c_str(), nullptr, nullptr) < 0) return -1;
  int count = 0;
  const int vi = avformat_find_stream_info(in, nullptr) >= 0
                     ? av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                     : -1;
  AVPacket* pkt = av_packet_alloc();
  while (vi >= 0 && av_read_frame(in, pkt) >= 0) {
    if (pkt->stream_index == vi) ++count;
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&in);
  return count;
}

// One export request run through the engine in this process, as Vantrel runs it.
Timing EngineExport(const Bytes& inRequest, const std::string& inPath) {
  Timing t;
  WorkerThread worker;
  SetExportEngine(MovieExportEngine);
  WorkerRequest* request = nullptr;
  CreateWorkerRequest(&worker, &request);
  request->data = CFDataCreate(kCFAllocatorDefault, inRequest.data(), static_cast<CFIndex>(inRequest.size()));
  const double cpu0 = ProcessorSeconds();
  const auto start = std::chrono::steady_clock::now();
  const OSErr err = DoExport(request);
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.processor = ProcessorSeconds() - cpu0;
  ReleaseWorkerRequest(request);
  SetExportEngine(nullptr);
  if (err != noErr) {
    std::fprintf(stderr, "export failed: %d\n", err);
    std::exit(1);
  }
  // The export is only measured when it is whole: every frame in the file.
  const int frames = CountVideoPackets(inPath);
  if (frames != kFrames) {
    std::fprintf(stderr, "the export holds %d frames, not %d\n", frames, kFrames);
    std::exit(1);
  }
  std::error_code ec;
  fs::remove(inPath, ec);
  return t;
}

// The plain road: every packet decoded by libavcodec and each picture sent
// to libx264 as it comes, with the exporter's encoder settings, into an
// MPEG-4 file. Frames counted.
Timing PlainTranscode(const std::string& inSource, const std::string& inPath, int& outFrames) {
  Timing t;
  const double cpu0 = ProcessorSeconds();
  const auto start = std::chrono::steady_clock::now();
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, inSource.c_str(), nullptr, nullptr) < 0) std::exit(1);
  avformat_find_stream_info(in, nullptr);
  const int vi = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vi < 0) std::exit(1);
  AVStream* ist = in->streams[vi];
  const AVCodec* dcodec = avcodec_find_decoder(ist->codecpar->codec_id);
  AVCodecContext* d = avcodec_alloc_context3(dcodec);
  avcodec_parameters_to_context(d, ist->codecpar);
  d->thread_count = FFDefaultThreadCount();
  avcodec_open2(d, dcodec, nullptr);

  AVFormatContext* out = nullptr;
  avformat_alloc_output_context2(&out, nullptr, "mp4", inPath.c_str());
  const AVCodec* ecodec = avcodec_find_encoder_by_name("libx264");
  AVCodecContext* e = avcodec_alloc_context3(ecodec);
  e->width = kWidth;
  e->height = kHeight;
  e->time_base = AVRational{1, 600};
  e->framerate = AVRational{kRate, 1};
  e->sample_aspect_ratio = AVRational{1, 1};
  e->pix_fmt = AV_PIX_FMT_YUV420P;
  e->thread_count = FFDefaultThreadCount();
  e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  e->colorspace = AVCOL_SPC_BT709;
  e->color_primaries = AVCOL_PRI_BT709;
  e->color_trc = AVCOL_TRC_BT709;
  e->color_range = AVCOL_RANGE_MPEG;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "crf", "23", 0);
  av_dict_set(&opts, "preset", "medium", 0);
  if (avcodec_open2(e, ecodec, &opts) < 0) std::exit(1);
  av_dict_free(&opts);
  AVStream* ost = avformat_new_stream(out, nullptr);
  avcodec_parameters_from_context(ost->codecpar, e);
  ost->time_base = e->time_base;
  if (avio_open(&out->pb, inPath.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0) std::exit(1);

  AVPacket* pkt = av_packet_alloc();
  AVPacket* opkt = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  int frames = 0;
  auto drainEncoder = [&] {
    while (avcodec_receive_packet(e, opkt) == 0) {
      opkt->duration = 600 / kRate;
      av_packet_rescale_ts(opkt, e->time_base, ost->time_base);
      opkt->stream_index = ost->index;
      av_interleaved_write_frame(out, opkt);
    }
  };
  auto drainDecoder = [&] {
    while (avcodec_receive_frame(d, f) == 0) {
      f->pts = static_cast<int64_t>(frames++) * (600 / kRate);
      f->pict_type = AV_PICTURE_TYPE_NONE;
      avcodec_send_frame(e, f);
      av_frame_unref(f);
      drainEncoder();
    }
  };
  while (av_read_frame(in, pkt) >= 0) {
    if (pkt->stream_index == vi && avcodec_send_packet(d, pkt) >= 0) drainDecoder();
    av_packet_unref(pkt);
  }
  avcodec_send_packet(d, nullptr);
  drainDecoder();
  avcodec_send_frame(e, nullptr);
  drainEncoder();
  av_write_trailer(out);
  avio_closep(&out->pb);
  avformat_free_context(out);
  avformat_close_input(&in);
  av_frame_free(&f);
  av_packet_free(&pkt);
  av_packet_free(&opkt);
  avcodec_free_context(&d);
  avcodec_free_context(&e);
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.processor = ProcessorSeconds() - cpu0;
  std::error_code ec;
  fs::remove(inPath, ec);
  outFrames = frames;
  return t;
}

struct Spread {
  double median = 0, low = 0, high = 0;
};
Spread SpreadOf(std::vector<double> inValues) {
  std::sort(inValues.begin(), inValues.end());
  Spread s;
  s.low = inValues.front();
  s.high = inValues.back();
  const size_t n = inValues.size();
  s.median = n % 2 ? inValues[n / 2] : 0.5 * (inValues[n / 2 - 1] + inValues[n / 2]);
  return s;
}

void Print(const char* inName, const std::vector<double>& inValues, const char* inUnit, const char* inNote = "") {
  const Spread s = SpreadOf(inValues);
  std::printf("%s %.3f%s (%.3f-%.3f over %zu runs)%s\n", inName, s.median, inUnit, s.low, s.high, inValues.size(),
              inNote);
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kRounds;
  char pattern[] = "/tmp/bench-unstabilised-export-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string folder = pattern;
  setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);
  const std::string source = folder + "/source.mp4";
  if (!WriteSourceClip(source)) {
    std::fprintf(stderr, "the source clip could not be written\n");
    return 1;
  }
  EnterMovies();
  InstallFFmpegMovieComponents();
  Movie movie = testmovies::OpenMovieAt(source);
  if (movie == nullptr) {
    std::fprintf(stderr, "the source clip does not open\n");
    return 1;
  }
  const Bytes request = ExportRequest(movie, folder + "/export.mp4");
  DisposeMovie(movie);

  // One of each first, unmeasured: files cached, libraries warm.
  int frames = 0;
  PlainTranscode(source, folder + "/plain.mp4", frames);
  EngineExport(request, folder + "/export.mp4");
  std::vector<double> plain, engine, ratio, plainCpu, engineCpu, cpuRatio;
  for (int round = 0; round < rounds; ++round) {
    // The order alternates, so that neither always runs first.
    Timing p, x;
    if (round % 2 == 0) {
      p = PlainTranscode(source, folder + "/plain.mp4", frames);
      x = EngineExport(request, folder + "/export.mp4");
    } else {
      x = EngineExport(request, folder + "/export.mp4");
      p = PlainTranscode(source, folder + "/plain.mp4", frames);
    }
    plain.push_back(p.seconds);
    engine.push_back(x.seconds);
    ratio.push_back(x.seconds / p.seconds);
    plainCpu.push_back(p.processor);
    engineCpu.push_back(x.processor);
    cpuRatio.push_back(x.processor / p.processor);
  }
  std::printf("unstabilised_export_source 1280x720 H.264 with B-frames, %d frames decoded\n", frames);
  Print("unstabilised_export_plain_transcode_seconds", plain, " s");
  Print("unstabilised_export_engine_seconds", engine, " s");
  Print("unstabilised_export_time_vs_plain", ratio, "", " (target <= 1.25)");
  Print("unstabilised_export_plain_processor_seconds", plainCpu, " s");
  Print("unstabilised_export_engine_processor_seconds", engineCpu, " s");
  Print("unstabilised_export_processor_vs_plain", cpuRatio, "");
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
