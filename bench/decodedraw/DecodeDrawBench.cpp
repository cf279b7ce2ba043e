// Decode-and-draw throughput of H.264 movies stepped frame by frame through
// the movie toolbox into a 32-bit graphics world, beside the plain libavcodec
// decode rate of the same file in the same run. The bench writes its own
// movies first. One line per figure.
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/movies/OpenMovie.h"
#include "support/movies/PlainDecode.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time of the whole process (every thread), seconds: on a loaded
// machine a steadier measure of the work than the wall clock.
double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
double gLastProcessorSeconds = 0;

void WriteClip(const std::string& path, SInt32 w, SInt32 h, int frames) {
  FFExportSettings settings;
  settings.videoCodec = 'avc1';
  settings.keyFrameInterval = 60;
  CFFMuxer muxer(path, 'mpg4', settings);
  SInt32 track = muxer.AddVideoTrack(w, h, 600, 20);
  muxer.Begin();
  std::vector<UInt8> pixels(static_cast<size_t>(w) * h * 4);
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
    muxer.WriteVideoFrame(track, FFPixelBuffer{pixels.data(), w * 4, w, h}, f * 20, 20);
  }
  muxer.Finish();
}

// Frames per second of libavformat and libavcodec alone: the same threads, no conversion, no drawing.
double PlainDecodeRate(const std::string& path) {
  const testmovies::PlainDecodeFigures f = testmovies::PlainDecode(path);
  if (f.frames == 0) return 0;
  gLastProcessorSeconds = f.processorSeconds / f.frames;
  return f.frames / f.decodeSeconds;
}

// Frames per second of the toolbox stepping frame by frame and drawing each into a 32-bit GWorld.
double ToolboxRate(const std::string& path, int* outFrames) {
  Movie movie = testmovies::OpenMovieAt(path);
  if (movie == nullptr) return 0;
  Rect bounds;
  GetMovieNaturalBoundsRect(movie, &bounds);
  GWorldPtr world = nullptr;
  QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
  SetMovieGWorld(movie, world, nullptr);
  SetMovieBox(movie, &bounds);
  const OSType visual = VisualMediaCharacteristic;
  int frames = 0;
  const double cpu0 = ProcessorSeconds();
  auto start = std::chrono::steady_clock::now();
  for (TimeValue t = 0; t >= 0;) {
    SetMovieTimeValue(movie, t);
    MoviesTask(movie, 0);
    if (GetMoviesError() != noErr) break;
    ++frames;
    TimeValue next = -1;
    GetMovieNextInterestingTime(movie, nextTimeStep, 1, &visual, t, fixed1, &next, nullptr);
    t = next;
  }
  auto end = std::chrono::steady_clock::now();
  gLastProcessorSeconds = (ProcessorSeconds() - cpu0) / frames;
  DisposeMovie(movie);
  DisposeGWorld(world);
  *outFrames = frames;
  return frames / Seconds(start, end);
}

}  // namespace

int main() {
  EnterMovies();
  InstallFFmpegMovieComponents();
  struct Size {
    SInt32 w, h;
    int frames;
  };
  for (Size s : {Size{1280, 720, 240}, Size{1920, 1080, 180}}) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("trx_decodedraw_" + std::to_string(::getpid()) + ".mp4")).string();
    WriteClip(path, s.w, s.h, s.frames);
    double plain = 0, drawn = 0, plainCpu = 1e9, drawnCpu = 1e9;
    int frames = 0;
    // Alternate the two and keep the best of each, so both see the same machine state.
    for (int round = 0; round < 5; ++round) {
      plain = std::max(plain, PlainDecodeRate(path));
      plainCpu = std::min(plainCpu, gLastProcessorSeconds);
      drawn = std::max(drawn, ToolboxRate(path, &frames));
      drawnCpu = std::min(drawnCpu, gLastProcessorSeconds);
    }
    std::remove(path.c_str());
    std::printf("h264 %dx%d plain libavcodec decode: %.1f frames/s\n", s.w, s.h, plain);
    std::printf("h264 %dx%d toolbox step, decode and draw into 32-bit GWorld: %.1f frames/s (%d frames, %.1f%% of plain decode)\n",
                s.w, s.h, drawn, frames, 100.0 * drawn / plain);
    std::printf("h264 %dx%d processor time per frame: plain %.2f ms, toolbox %.2f ms (plain's share %.1f%%, target >= 85%%)\n",
                s.w, s.h, 1e3 * plainCpu, 1e3 * drawnCpu, 100.0 * plainCpu / drawnCpu);
  }
  ExitMovies();
  return 0;
}
