// The analysis road on real-looking footage: a 1280x720 H.264 clip of a
// photograph-like picture shaken by sub-pixel steps is analysed by
// tools/trx_stabilise (decoding ahead on its own thread while the tracker
// measures), beside bare decode-and-draw through the toolbox and bare
// tracking of the same decoded frames, in the same run. Also passes on the
// driver's figures of Vantrel's start and end. One line per figure.
//
// The driver is a newly started process, and its figure runs from the first
// frame asked for to the last one measured, so it pays for every page of
// memory its decoder and tracker touch for the first time. Bare decoding and
// drawing is therefore also timed the same way in a process of its own (this
// program, started again with --cold-decode-draw), and so is libavcodec's
// decoding alone (--cold-plain-decode), with the threads the road's reader
// gives it and with the default: in a newly started process every page of
// memory is new, and on this kind of machine a page touched for the first
// time costs microseconds, which a process that has decoded before does not
// pay again.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/movies/OpenMovie.h"
#include "support/movies/PlainDecode.h"
#include "support/FrameView.h"
#include "support/ShakyScene.h"
#include "media/CBuffer.h"
#include "motion/CAutoMotionTracker.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"

using namespace shaky;
namespace fs = std::filesystem;

namespace {

constexpr SInt32 kWidth = 1280, kHeight = 720;
constexpr int kFrames = 240;
// Bare tracking runs over the first frames only (memory).
constexpr size_t kTrackedFrames = 60;

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void WriteClip(const std::string& inPath) {
  const Texture texture = MakePhotoTexture(2 * (kWidth + 160), 2 * (kHeight + 120), 2026);
  const std::vector<Pose> poses = MakePoses(kFrames, 2.5, 0.002, 0.001, 15);
  FFExportSettings settings;
  settings.videoCodec = 'avc1';
  settings.keyFrameInterval = 60;
  CFFMuxer muxer(inPath, 'mpg4', settings);
  const SInt32 track = muxer.AddVideoTrack(kWidth, kHeight, 600, 20);
  muxer.Begin();
  CBuffer* frame = NewFrame(kWidth, kHeight);
  for (int k = 0; k < kFrames; ++k) {
    RenderArea(texture, poses[static_cast<size_t>(k)], frame, 2.0);
    muxer.WriteVideoFrame(track, FFPixelBuffer{frame->GetData(), static_cast<SInt32>(frame->GetRowBytes()), kWidth, kHeight},
                          k * 20, 20);
  }
  muxer.Finish();
  frame->Release();
}

// Frames per second of stepping and drawing every frame into a buffer's
// graphics world; with outFrames, keeps a copy of each. Only the stepping
// and drawing is timed, unless inWhole: then everything from the first
// frame asked for to the last one drawn, as the driver times its analysis.
double DecodeAndDraw(const std::string& inPath, std::vector<CBuffer*>* outFrames, bool inWhole = false) {
  Movie movie = testmovies::OpenMovieAt(inPath);
  if (movie == nullptr) return 0;
  Rect bounds;
  GetMovieNaturalBoundsRect(movie, &bounds);
  CBuffer* buffer = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
  GWorldPtr world = buffer->CreateGWorld(nullptr, nullptr);
  SetMovieGWorld(movie, world, nullptr);
  SetMovieBox(movie, &bounds);
  const OSType visual = VisualMediaCharacteristic;
  int frames = 0;
  double seconds = 0;
  const auto start = std::chrono::steady_clock::now();
  for (TimeValue t = 0; t >= 0;) {
    const auto t0 = std::chrono::steady_clock::now();
    SetMovieTimeValue(movie, t);
    UpdateMovie(movie);
    MoviesTask(movie, 0);
    seconds += Seconds(t0, std::chrono::steady_clock::now());
    if (GetMoviesError() != noErr) break;
    ++frames;
    if (outFrames && outFrames->size() < kTrackedFrames) {
      CBuffer* copy = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
      std::memcpy(copy->GetData(), buffer->GetData(), static_cast<size_t>(buffer->GetDataSize()));
      outFrames->push_back(copy);
    }
    TimeValue next = -1;
    GetMovieNextInterestingTime(movie, nextTimeStep, 1, &visual, t, fixed1, &next, nullptr);
    t = next;
  }
  if (inWhole) seconds = Seconds(start, std::chrono::steady_clock::now());
  SetMovieGWorld(movie, nullptr, nullptr);
  DisposeMovie(movie);
  DisposeGWorld(world);
  buffer->Release();
  return frames / seconds;
}

// Frames per second of the tracker alone, each decoded frame shown to it
// through a view, as the road's ahead-decoder hands frames over.
double TrackOnly(const std::vector<CBuffer*>& inFrames) {
  CFrameView frame(inFrames.front());
  CAutoMotionTracker tracker;
  tracker.BeginTracking(&frame, frame.GetBounds(), nullptr, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  for (CBuffer* f : inFrames) {
    frame.Show(f);
    tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr);
  }
  const double seconds = Seconds(t0, std::chrono::steady_clock::now());
  tracker.EndTracking();
  return static_cast<double>(inFrames.size()) / seconds;
}

struct Road {
  double fps = 0, toRequest = 0, toExit = 0;
  double underWayFps = 0, toFirst = 0;  // after the first frame, and until it
};

// The "cold" figure of this program started again with inArguments (a
// newly started process).
double RunSelfCold(const std::string& inSelf, const std::string& inArguments) {
  const std::string command = "'" + inSelf + "' " + inArguments;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double fps = 0;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) std::sscanf(line, "cold %lf", &fps);
  pclose(pipe);
  return fps;
}

// Decoding and drawing the clip in a newly started process, timed whole.
double ColdDecodeAndDraw(const std::string& inSelf, const std::string& inClip) {
  return RunSelfCold(inSelf, "--cold-decode-draw '" + inClip + "'");
}

// libavcodec alone decoding the clip in a newly started process on inThreads
// threads, timed from before its decoder is made to its last frame.
double ColdPlainDecode(const std::string& inSelf, const std::string& inClip, int inThreads) {
  return RunSelfCold(inSelf, "--cold-plain-decode '" + inClip + "' " + std::to_string(inThreads));
}

// The driver's analysis rate and Vantrel's start and end, read from its output.
Road RunDriver(const std::string& inClip, const std::string& inOut) {
  Road road;
  const std::string command = std::string(TRX_STABILISE_PATH) + " '" + inClip + "' --out '" + inOut + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return road;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe)) {
    // Progress lines end in a carriage return: look at the last part.
    const char* last = std::strrchr(line, '\r');
    const char* text = last ? last + 1 : line;
    unsigned long frames = 0;
    double seconds = 0, fps = 0;
    double toFirst = 0;
    const int got =
        std::sscanf(text, "analysed %lu frames in %lf s: %lf frames/s (the first frame after %lf", &frames, &seconds, &fps, &toFirst);
    if (got >= 3) road.fps = fps;
    if (got == 4 && frames > 1 && seconds > toFirst) {
      road.toFirst = toFirst;
      road.underWayFps = static_cast<double>(frames - 1) / (seconds - toFirst);
    }
    std::sscanf(text, "Vantrel took the request %lf s after its launch (target < 0.2 s); Vantrel and the status port ended %lf",
                &road.toRequest, &road.toExit);
  }
  pclose(pipe);
  return road;
}

}  // namespace

int main(int argc, char** argv) {
  EnterMovies();
  InstallFFmpegMovieComponents();
  if (argc == 3 && std::strcmp(argv[1], "--cold-decode-draw") == 0) {
    std::printf("cold %.1f\n", DecodeAndDraw(argv[2], nullptr, true));
    ExitMovies();
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "--cold-plain-decode") == 0) {
    const testmovies::PlainDecodeFigures f = testmovies::PlainDecode(argv[2], std::atoi(argv[3]));
    std::printf("cold %.1f\n", f.seconds > 0 ? f.frames / f.seconds : 0.0);
    ExitMovies();
    return 0;
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path dir = fs::temp_directory_path() / ("trx_analysis_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string clip = (dir / "handheld.mp4").string();
  WriteClip(clip);
  std::vector<CBuffer*> frames;
  DecodeAndDraw(clip, &frames);
  // Alternate the three and keep the best of each, so all see the same machine state.
  double drawn = 0, tracked = 0, drawnCold = 0, plainCold = 0, plainColdReader = 0;
  // The road's reader decodes on half the processors.
  const int readerThreads = static_cast<int>(std::max(1u, (std::thread::hardware_concurrency() + 1) / 2));
  Road best;
  double toRequest = 1e9, toExit = 1e9;
  for (int round = 0; round < rounds; ++round) {
    drawn = std::max(drawn, DecodeAndDraw(clip, nullptr));
    tracked = std::max(tracked, TrackOnly(frames));
    drawnCold = std::max(drawnCold, ColdDecodeAndDraw(argv[0], clip));
    plainCold = std::max(plainCold, ColdPlainDecode(argv[0], clip, 0));
    plainColdReader = std::max(plainColdReader, ColdPlainDecode(argv[0], clip, readerThreads));
    const Road r = RunDriver(clip, (dir / "out").string());
    best.fps = std::max(best.fps, r.fps);
    if (r.underWayFps > best.underWayFps) {
      best.underWayFps = r.underWayFps;
      best.toFirst = r.toFirst;
    }
    if (r.toRequest > 0) toRequest = std::min(toRequest, r.toRequest);
    if (r.toExit > 0) toExit = std::min(toExit, r.toExit);
  }
  for (CBuffer* f : frames) f->Release();
  if (!std::getenv("TRX_KEEP")) fs::remove_all(dir);
  const double slower = std::min(drawn, tracked);
  std::printf("analysis_1280x720_h264_decode_and_draw_fps: %.1f\n", drawn);
  std::printf("analysis_1280x720_h264_tracking_fps: %.1f\n", tracked);
  std::printf("analysis_1280x720_h264_road_fps: %.1f (%.0f%% of the slower, target >= 80%%)\n", best.fps,
              100.0 * best.fps / slower);
  std::printf("analysis_1280x720_h264_road_under_way_fps: %.1f (%.0f%% of the slower; the first frame after %.0f ms in a "
              "newly started driver)\n",
              best.underWayFps, 100.0 * best.underWayFps / slower, 1000.0 * best.toFirst);
  std::printf("analysis_1280x720_h264_cold_decode_and_draw_fps: %.1f (in a newly started process, timed as the driver "
              "times its analysis; the road is %.0f%% of it)\n",
              drawnCold, drawnCold > 0 ? 100.0 * best.fps / drawnCold : 0.0);
  std::printf("analysis_1280x720_h264_cold_plain_decode_fps: %.1f on %d threads, %.1f on the default threads (libavcodec "
              "alone in a newly started process, timed as the road is: the best is %.0f%% of decoding and drawing in this "
              "process; the road is %.0f%% of it on the reader's threads)\n",
              plainColdReader, readerThreads, plainCold, 100.0 * std::max(plainCold, plainColdReader) / drawn,
              plainColdReader > 0 ? 100.0 * best.fps / plainColdReader : 0.0);
  std::printf("analysis_1280x720_h264_serial_decode_then_track_fps: %.1f (the road without overlap)\n",
              1.0 / (1.0 / drawn + 1.0 / tracked));
  std::printf("vantrel_launch_to_request_taken_s: %.3f (target < 0.2)\n", toRequest);
  std::printf("vantrel_done_record_to_exit_s: %.3f (target < 0.2)\n", toExit);
  ExitMovies();
  return 0;
}
