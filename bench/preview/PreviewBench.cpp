// Steadied preview playback of a 1920 x 1080 movie through the movie view,
// offscreen: each shown frame is decoded by the movie toolbox into a frame
// buffer (the next one on a thread of its own while this one is shown), rendered by the frame renderer with border mode 3 and a
// moving correction, drawn through the view's matrix into the window port
// and painted by the pane's widget. Playback runs for 10 s of the wall clock
// at 30 and at 60 frames per second; a frame whose time has passed before
// the previous one was shown is dropped. One line per figure, with targets.
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "app/CMovieView.h"
#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/FixMath.h"
#include "platform/files/Files.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UQtSupport.h"
#include "support/movies/OpenMovie.h"

namespace {

double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void WriteClip(const std::string& inPath, SInt32 inWidth, SInt32 inHeight, int inFrames, SInt32 inFrameTime) {
  FFExportSettings settings;
  settings.videoCodec = 'avc1';
  settings.keyFrameInterval = 60;
  CFFMuxer muxer(inPath, 'mpg4', settings);
  SInt32 track = muxer.AddVideoTrack(inWidth, inHeight, 600, inFrameTime);
  muxer.Begin();
  std::vector<UInt8> pixels(static_cast<size_t>(inWidth) * inHeight * 4);
  for (int f = 0; f < inFrames; ++f) {
    for (SInt32 y = 0; y < inHeight; ++y)
      for (SInt32 x = 0; x < inWidth; ++x) {
        UInt8* p = &pixels[(static_cast<size_t>(y) * inWidth + x) * 4];
        p[0] = 255;
        p[1] = static_cast<UInt8>(128 + 100 * std::sin((x + 4 * f) * 0.05) * std::cos(y * 0.03));
        p[2] = static_cast<UInt8>((x * 3 + y * 5 + f * 7) & 0xFF);
        p[3] = static_cast<UInt8>(((x ^ y) + f) & 0xFF);
      }
    muxer.WriteVideoFrame(track, FFPixelBuffer{pixels.data(), inWidth * 4, inWidth, inHeight}, f * inFrameTime, inFrameTime);
  }
  muxer.Finish();
}

struct Result {
  int due = 0;
  int shown = 0;
  double msPerFrame = 0;
  double cpuMsPerFrame = 0;
  double decodeMs = 0;  // per decoded frame, on the decoding thread
  double waitMs = 0, viewMs = 0, paintMs = 0;  // per shown frame, wall
};

double Since(std::chrono::steady_clock::time_point inStart) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - inStart).count();
}

// Decodes frames ahead of the playback loop on a thread of its own, into two
// frame slots: while the loop renders and paints the frame in one slot, the
// next frame is decoded into the other. The movie toolbox serialises its calls
// and the decoder draws straight into the slot's memory (no port), so the
// thread touches neither QuickDraw nor Qt.
class CFramePrefetcher {
 public:
  CFramePrefetcher(Movie inMovie, CBuffer* inSlot0, CBuffer* inSlot1, double inFps)
      : mMovie(inMovie), mFps(inFps), mSlots{inSlot0, inSlot1} {
    mDuration = GetMovieDuration(inMovie);
    mScale = GetMovieTimeScale(inMovie);
    mThread = std::thread([this] { Loop(); });
  }
  ~CFramePrefetcher() {
    {
      std::lock_guard<std::mutex> hold(mLock);
      mQuit = true;
    }
    mCond.notify_all();
    mThread.join();
  }

  // Asks for inFrame in the slot the caller is not using.
  void Request(int inFrame) {
    {
      std::lock_guard<std::mutex> hold(mLock);
      mRequested = inFrame;
      mRequestSlot = 1 - mInUse;
    }
    mCond.notify_all();
  }

  // Waits for inFrame (asking for it when the frame decoded ahead is another)
  // and answers its slot, which stays the caller's until the next Take.
  CBuffer* Take(int inFrame) {
    std::unique_lock<std::mutex> hold(mLock);
    for (;;) {
      mCond.wait(hold, [&] { return mRequested < 0 && !mWorking; });
      if (mReady == inFrame) break;
      mRequested = inFrame;
      mRequestSlot = 1 - mInUse;
      mCond.notify_all();
    }
    mInUse = mReadySlot;
    mReady = -1;
    return mSlots[mInUse];
  }

  double DecodeMs() const {
    std::lock_guard<std::mutex> hold(mLock);
    return mDecodeMs;
  }
  int Decoded() const {
    std::lock_guard<std::mutex> hold(mLock);
    return mDecoded;
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> hold(mLock);
    for (;;) {
      mCond.wait(hold, [&] { return mQuit || mRequested >= 0; });
      if (mQuit) return;
      const int frame = mRequested;
      const int slot = mRequestSlot;
      mRequested = -1;
      mWorking = true;
      hold.unlock();
      const auto t0 = std::chrono::steady_clock::now();
      CBuffer* buffer = mSlots[slot];
      MovieDrawTarget target{buffer->GetData(), buffer->GetRowBytes(), buffer->GetBounds()};
      SetMovieDrawTarget(mMovie, &target);
      const TimeValue t =
          static_cast<TimeValue>(std::fmod(frame / mFps, static_cast<double>(mDuration) / mScale) * mScale);
      SetMovieTimeValue(mMovie, t);
      MoviesTask(mMovie, 0);
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      hold.lock();
      mDecodeMs += ms;
      ++mDecoded;
      mWorking = false;
      mReady = frame;
      mReadySlot = slot;
      mCond.notify_all();
    }
  }

  Movie mMovie;
  double mFps;
  TimeValue mDuration = 0;
  TimeScale mScale = 600;
  CBuffer* mSlots[2];
  mutable std::mutex mLock;
  std::condition_variable mCond;
  int mRequested = -1, mRequestSlot = 0;
  int mReady = -1, mReadySlot = 0;
  int mInUse = 1;
  bool mWorking = false, mQuit = false;
  double mDecodeMs = 0;
  int mDecoded = 0;
  std::thread mThread;
};

Result Play(const std::string& inPath, double inFps, CMovieView* inView, LWindow* inWindow) {
  Result result;
  Movie movie = testmovies::OpenMovieAt(inPath);
  if (movie == nullptr) return result;
  Rect bounds;
  GetMovieNaturalBoundsRect(movie, &bounds);
  OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
  SetMovieBox(movie, &bounds);
  // Two frame slots the decoder draws into (A,R,G,B bytes), each shown as the
  // document's still buffer in turn.
  CBuffer slot0(bounds, kBufferDepth8, kBufferModeARGB), slot1(bounds, kBufferDepth8, kBufferModeARGB);
  inView->SetOrigRect(&bounds);
  RenderFrameParams params;
  params.borderMode = kBorderFilled;
  params.quality = kQualityHigh;
  {
    // The renderer alone on the first frame, best of 5.
    MovieDrawTarget target{slot0.GetData(), slot0.GetRowBytes(), slot0.GetBounds()};
    SetMovieDrawTarget(movie, &target);
    SetMovieTimeValue(movie, 0);
    MoviesTask(movie, 0);
    CBuffer rendered(bounds, kBufferDepth8, kBufferModeARGB);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      CMovieRendering::RenderFrame(&slot0, &rendered, &params);
      best = std::min(best, Since(t0));
    }
    std::printf("renderer alone, 1920x1080 border mode 3: %.2f ms per frame (best of 5)\n", best);
    inView->UseOffscreenBuffer(&slot0);
    MatrixRecord fit;
    Rect image = inView->GetImagePortRect();
    RectMatrix(&fit, &bounds, &image);
    double drawBest = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      inView->FocusDraw();
      inView->DrawBufferWithMatrix(&rendered, &fit, inView->GetMacPort());
      drawBest = std::min(drawBest, Since(t0));
    }
    std::printf("view draw through the matrix alone, 1920x1080 into %dx%d: %.2f ms per frame (best of 5)\n",
                image.right - image.left, image.bottom - image.top, drawBest);
    // The toolbox decodes when the time moves: one frame decoded on its own.
    double decodeBest = 1e9;
    for (int i = 1; i <= 5; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      SetMovieTimeValue(movie, i * 20);
      MoviesTask(movie, 0);
      decodeBest = std::min(decodeBest, Since(t0));
    }
    std::printf("decode of one frame into the offscreen world: %.2f ms (best of 5)\n", decodeBest);
  }
  const char* override = std::getenv("TRX_PREVIEW_SECONDS");
  const double seconds = override ? std::max(1.0, std::atof(override)) : 10.0;
  result.due = static_cast<int>(seconds * inFps);
  double waitMs = 0;
  {
    CFramePrefetcher prefetch(movie, &slot0, &slot1, inFps);
    prefetch.Request(0);
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = ProcessorSeconds();
    double busy = 0;
    int next = 0;  // the next frame index not yet shown or dropped
    while (next < result.due) {
      const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const int dueIndex = static_cast<int>(now * inFps);  // the frame whose time it is
      if (dueIndex < next) {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(((next / inFps) - now) * 1e6) + 50));
        continue;
      }
      // Frames whose time passed while the last one was being shown are dropped.
      const int frame = std::min(dueIndex, result.due - 1);
      const auto t0 = std::chrono::steady_clock::now();
      // The frame decoded ahead, or (after a drop) the due one decoded now.
      CBuffer* still = prefetch.Take(frame);
      waitMs += Since(t0);
      // The next frame is decoded while this one is rendered and painted.
      if (frame + 1 < result.due) prefetch.Request(frame + 1);
      const auto t1 = std::chrono::steady_clock::now();
      inView->UseOffscreenBuffer(still);
      // A correction that moves and turns a little every frame.
      SetIdentityMatrix(&params.firstMatrix);
      RotateMatrix(&params.firstMatrix, X2Fix(0.5 * std::sin(frame * 0.1)), Long2Fix(960), Long2Fix(540));
      TranslateMatrix(&params.firstMatrix, X2Fix(12 * std::sin(frame * 0.37)), X2Fix(9 * std::cos(frame * 0.23)));
      inView->SetFrameParams(params, false);
      inView->Refresh();
      inView->Draw(nullptr);
      result.viewMs += Since(t1);
      const auto t2 = std::chrono::steady_clock::now();
      inWindow->GetFrameWidget()->repaint();
      result.paintMs += Since(t2);
      busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      ++result.shown;
      next = frame + 1;
    }
    const double cpu = ProcessorSeconds() - cpu0;
    result.msPerFrame = 1000.0 * busy / std::max(1, result.shown);
    result.cpuMsPerFrame = 1000.0 * cpu / std::max(1, result.shown);
    result.decodeMs = prefetch.DecodeMs() / std::max(1, prefetch.Decoded());
  }
  result.waitMs = waitMs / std::max(1, result.shown);
  result.viewMs /= std::max(1, result.shown);
  result.paintMs /= std::max(1, result.shown);
  inView->UseOffscreenBuffer(nullptr);
  DisposeMovie(movie);
  return result;
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  av_log_set_level(AV_LOG_ERROR);
  EnterMovies();
  InstallFFmpegMovieComponents();
  QApplication app(argc, argv);
  UQt::EnsureApplication();
  auto* window = new LWindow([] {
    SWindowInfo w;
    w.title = "Preview";
    w.width = 960;
    w.height = 540;
    return w;
  }());
  SPaneInfo pane;
  pane.paneID = 1;
  pane.width = 960;
  pane.height = 540;
  pane.superView = window;
  auto* view = new CMovieView(pane, SViewInfo{});
  window->Show();
  QApplication::processEvents();
  std::printf("machine load average (1 min) before: %.1f on %u processors\n", LoadAverage(),
              std::thread::hardware_concurrency());
  struct Run {
    double fps;
    SInt32 frameTime;
    double target;
  } runs[] = {{30, 20, 100.0}, {60, 10, 99.0}};
  for (const Run& run : runs) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trx_preview_" + std::to_string(::getpid()) + "_" + std::to_string(int(run.fps)) + ".mp4"))
                                 .string();
    WriteClip(path, 1920, 1080, static_cast<int>(2 * run.fps), run.frameTime);
    const Result r = Play(path, run.fps, view, window);
    std::remove(path.c_str());
    const double share = r.due ? 100.0 * r.shown / r.due : 0;
    std::printf("preview %2.0f fps 1920x1080 border mode 3: %d of %d frames shown (%.1f %%), target %s%.0f %%\n", run.fps,
                r.shown, r.due, share, run.target >= 100 ? "" : ">= ", run.target);
    std::printf("preview %2.0f fps: %.2f ms per frame wall (budget %.1f ms), %.2f ms processor time per frame\n", run.fps,
                r.msPerFrame, 1000.0 / run.fps, r.cpuMsPerFrame);
    std::printf("preview %2.0f fps: %.2f ms decode (ahead, on its own thread), %.2f ms waiting for it, %.2f ms render "
                "and draw in the view, %.2f ms paint\n",
                run.fps, r.decodeMs, r.waitMs, r.viewMs, r.paintMs);
  }
  std::printf("machine load average (1 min) after: %.1f\n", LoadAverage());
  delete window;
  return 0;
}
