// Motion analysis through the tracking task (decode, draw and track at
// accuracy 3 on all threads) at 1280x720 and 1920x1080, beside the bare
// decode-and-draw rate and the bare tracker rate of the same movie in the
// same run; and the interlace analysis in milliseconds per frame at
// 1920x1080. The bench writes its own H.264 movies of a shaky textured
// scene first. Each figure is the best of five rounds (processor load of
// other work only slows a round down). One line per figure. Each share of
// the slower stage also comes as the median of the shares within a round
// ("same round"), which compares stages measured in one state of the
// machine: a shared host's load changes from one second to the next by more
// than the overlap is worth, and the best rounds of two stages may come
// from a quiet moment for one and a busy one for the other. At 1280x720 the
// task also runs over a movie four times as long: the two times give the
// rate once the task is under way and its start-up (a fresh copy of the
// movie opens its decoder, which gives its first frame after a frame per
// decoding thread), which weighs heavily on a movie of 60 frames.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FrameView.h"
#include "support/ShakyScene.h"
#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CMovieTask.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "support/movies/OpenMovie.h"

using namespace shaky;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }
double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// "; same round: median M%, L-H%" for the shares of the rounds.
void PrintSameRound(std::vector<double> inShares) {
  if (inShares.empty()) return;
  std::sort(inShares.begin(), inShares.end());
  std::printf("; same round: median %.0f%%, %.0f-%.0f%%", inShares[inShares.size() / 2], inShares.front(),
              inShares.back());
}

void WriteClip(const std::string& path, SInt32 w, SInt32 h, int frames) {
  FFExportSettings settings;
  settings.videoCodec = 'avc1';
  settings.keyFrameInterval = 60;
  CFFMuxer muxer(path, 'mpg4', settings);
  SInt32 track = muxer.AddVideoTrack(w, h, 600, 20);
  muxer.Begin();
  const Texture texture = MakeTexture(w + 200, h + 160, 42);
  const std::vector<Pose> poses = MakePoses(frames, 6.0, 0.01, 0.005, 7);
  const Rect bounds = {0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
  CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
  std::vector<UInt8> pixels(static_cast<size_t>(w) * h * 4);
  for (int f = 0; f < frames; ++f) {
    Render(texture, poses[static_cast<size_t>(f)], &frame);
    for (SInt32 y = 0; y < h; ++y)
      std::memcpy(&pixels[static_cast<size_t>(y) * w * 4], frame.GetData() + static_cast<size_t>(y) * frame.GetRowBytes(),
                  static_cast<size_t>(w) * 4);
    muxer.WriteVideoFrame(track, FFPixelBuffer{pixels.data(), w * 4, w, h}, f * 20, 20);
  }
  muxer.Finish();
}

// Steps the movie through every frame into the buffer; calls inEach with each drawn frame.
template <class F>
int StepFrames(Movie inMovie, CBuffer& ioBuffer, F&& inEach) {
  GWorldPtr world = ioBuffer.CreateGWorld(nullptr, nullptr);
  SetMovieGWorld(inMovie, world, nullptr);
  SetMovieBox(inMovie, &ioBuffer.GetBounds());
  const OSType visual = VisualMediaCharacteristic;
  int frames = 0;
  for (TimeValue t = 0; t >= 0;) {
    SetMovieTimeValue(inMovie, t);
    UpdateMovie(inMovie);
    MoviesTask(inMovie, 0);
    ++frames;
    inEach();
    TimeValue next = -1;
    GetMovieNextInterestingTime(inMovie, nextTimeMediaSample, 1, &visual, t, fixed1, &next, nullptr);
    t = next;
  }
  SetMovieGWorld(inMovie, nullptr, nullptr);
  DisposeGWorld(world);
  return frames;
}

struct BenchDocument : CMovieTaskDocument {
  CMovie* movie = nullptr;
  bool ended = false;
  SInt32 frames = 0;
  CMovie* GetTaskMovie() override { return movie; }
  void PostAction(CMovieAction* inAction) override {
    inAction->Redo();
    delete inAction;
  }
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    ended = true;
    if (inMessage == msg_InterlaceAnalysisEnded)
      frames = static_cast<CInterlaceTrackerTask*>(static_cast<CMovieTask*>(ioParam))->GetFrameCount();
  }
};

void RunToEnd(BenchDocument& ioDoc, LThread* inTask) {
  ioDoc.ended = false;
  inTask->Resume();
  while (!ioDoc.ended) LThread::Yield();
  LThread::DeleteEndedThreads();
}

}  // namespace

int main() {
  EnterMovies();
  InstallFFmpegMovieComponents();
  struct Size {
    SInt32 w, h;
    int frames;
  };
  for (Size s : {Size{1280, 720, 60}, Size{1920, 1080, 40}}) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trx_trackingtask_" + std::to_string(::getpid()) + ".mp4"))
                                 .string();
    WriteClip(path, s.w, s.h, s.frames);
    // The bare rate is taken from a movie of its own: the task's reader
    // makes its movie's decoder again for half the processors, and the
    // bare stage should not pay for that.
    Movie movie = testmovies::OpenMovieAt(path);
    Movie bare = testmovies::OpenMovieAt(path);
    if (!movie || !bare) {
      std::printf("cannot open the bench movie\n");
      return 1;
    }
    const Rect bounds = {0, 0, static_cast<SInt16>(s.h), static_cast<SInt16>(s.w)};
    double decodeFps = 0, trackFps = 0, taskFps = 0, interlaceMs = 1e9;
    double decodeCpu = 1e9, trackCpu = 1e9, taskCpu = 1e9;  // processor ms per frame
    // Decoded frames for the bare tracker.
    std::vector<CBuffer*> decoded;
    {
      CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
      StepFrames(bare, frame, [&] { decoded.push_back(new CBuffer(frame, nullptr, true)); });
    }
    CMovie doc(movie, true);
    BenchDocument document;
    document.movie = &doc;
    std::vector<double> shares;  // per round: the task's share of the round's slower stage
    for (int round = 0; round < 5; ++round) {
      double roundDecode = 0, roundTrack = 0;
      {
        CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
        const auto t0 = Clock::now();
        const double c0 = ProcessSeconds();
        const int n = StepFrames(bare, frame, [] {});
        roundDecode = n / Since(t0);
        decodeFps = std::max(decodeFps, roundDecode);
        decodeCpu = std::min(decodeCpu, 1000 * (ProcessSeconds() - c0) / n);
      }
      {
        // Shown through a view, as the task's ahead-decoder hands frames over.
        CFrameView frame(decoded.front());
        CAutoMotionTracker tracker;
        tracker.SetAccuracy(3);
        tracker.BeginTracking(&frame, bounds, nullptr, nullptr);
        const double c0 = ProcessSeconds();
        const auto t0 = Clock::now();
        for (CBuffer* d : decoded) {
          frame.Show(d);
          tracker.ProcessFrame(20, ETrackerFieldMode::kFrame, nullptr, nullptr);
        }
        // The last frame's record is complete only once it has been asked
        // for (its fit waits for the next frame).
        tracker.GetMotionDataArray();
        const double seconds = Since(t0);
        tracker.EndTracking();
        roundTrack = decoded.size() / seconds;
        trackFps = std::max(trackFps, roundTrack);
        trackCpu = std::min(trackCpu, 1000 * (ProcessSeconds() - c0) / decoded.size());
      }
      {
        auto* task = new CMotionTrackerTask(&document, new CAutoMotionTracker, bounds);
        const auto t0 = Clock::now();
        const double c0 = ProcessSeconds();
        RunToEnd(document, task);
        const double fps = decoded.size() / Since(t0);
        taskFps = std::max(taskFps, fps);
        shares.push_back(100.0 * fps / std::min(roundDecode, roundTrack));
        taskCpu = std::min(taskCpu, 1000 * (ProcessSeconds() - c0) / decoded.size());
      }
      if (s.w == 1920) {
        auto* task = new CInterlaceTrackerTask(&document, false);
        task->SetEndMessage(msg_InterlaceAnalysisEnded);
        const auto t0 = Clock::now();
        RunToEnd(document, task);
        interlaceMs = std::min(interlaceMs, 1000.0 * Since(t0) / std::max<SInt32>(1, document.frames));
      }
    }
    // The same task over a movie four times as long.
    double longSeconds = 0, longDecodeFps = 0;
    std::vector<double> longShares;
    const int longFrames = 4 * s.frames;
    if (s.w == 1280) {
      const std::string longPath = path + ".long.mp4";
      WriteClip(longPath, s.w, s.h, longFrames);
      Movie longMovie = testmovies::OpenMovieAt(longPath);
      Movie longBare = testmovies::OpenMovieAt(longPath);
      if (longMovie && longBare) {
        CMovie longDoc(longMovie, true);
        BenchDocument longDocument;
        longDocument.movie = &longDoc;
        longSeconds = 1e9;
        for (int round = 0; round < 5; ++round) {
          double roundDecode;
          {
            CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
            const auto t0 = Clock::now();
            const int n = StepFrames(longBare, frame, [] {});
            roundDecode = n / Since(t0);
            longDecodeFps = std::max(longDecodeFps, roundDecode);
          }
          auto* task = new CMotionTrackerTask(&longDocument, new CAutoMotionTracker, bounds);
          const auto t0 = Clock::now();
          RunToEnd(longDocument, task);
          const double seconds = Since(t0);
          longSeconds = std::min(longSeconds, seconds);
          longShares.push_back(100.0 * longFrames / seconds / std::min(roundDecode, trackFps));
        }
      }
      if (longBare) DisposeMovie(longBare);
      std::remove(longPath.c_str());
    }
    for (CBuffer* d : decoded) d->Release();
    DisposeMovie(bare);
    std::remove(path.c_str());
    const double slower = std::min(decodeFps, trackFps);
    std::printf("tracking_task_%dx%d_decode_draw_fps: %.1f (processor %.2f ms/frame)\n", s.w, s.h, decodeFps,
                decodeCpu);
    std::printf("tracking_task_%dx%d_bare_tracker_acc3_fps: %.1f (processor %.2f ms/frame)\n", s.w, s.h, trackFps,
                trackCpu);
    std::printf("tracking_task_%dx%d_task_acc3_fps: %.1f (processor %.2f ms/frame; %.0f%% of the slower stage", s.w,
                s.h, taskFps, taskCpu, 100.0 * taskFps / slower);
    if (s.w == 1280) std::printf("; target >= 80%%");
    PrintSameRound(shares);
    std::printf(")\n");
    if (longSeconds > 0) {
      // The slower stage of the long movie: its own decode-and-draw rate
      // (a short movie's includes more of the decoder's start at each round).
      const double longSlower = std::min(longDecodeFps, trackFps);
      const double shortSeconds = decoded.size() / taskFps;
      const double steadyFps = (longFrames - static_cast<double>(decoded.size())) / (longSeconds - shortSeconds);
      std::printf("tracking_task_%dx%d_%d_frames_decode_draw_fps: %.1f\n", s.w, s.h, longFrames, longDecodeFps);
      std::printf("tracking_task_%dx%d_%d_frames_task_acc3_fps: %.1f (%.0f%% of the slower stage", s.w, s.h,
                  longFrames, longFrames / longSeconds, 100.0 * longFrames / longSeconds / longSlower);
      PrintSameRound(longShares);
      std::printf(")\n");
      std::printf("tracking_task_%dx%d_task_under_way_acc3_fps: %.1f (%.0f%% of the long movie's slower stage); "
                  "start-up %.0f ms\n",
                  s.w, s.h, steadyFps, 100.0 * steadyFps / longSlower,
                  1000.0 * std::max(0.0, shortSeconds - decoded.size() / steadyFps));
    }
    if (s.w == 1920) std::printf("interlace_analysis_%dx%d_ms_per_frame: %.2f\n", s.w, s.h, interlaceMs);
    std::fflush(stdout);
  }
  ExitMovies();
  return 0;
}
