// Render throughput of one stabilised frame: a small rotation and sub-pixel
// shift, quality high, border modes 1 (colour) and 3 (filled margins).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <cstdlib>
#include <algorithm>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/FixMath.h"
#include "platform/graphics/CGGraphics.h"
#include "platform/tasks/Multiprocessing.h"

static double CpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall-clock milliseconds per frame, the best of inRepeats runs of inFrames
// frames; outCpuMs receives the processor time per frame of the whole process
// in the run with the least (steadier on a busy machine).
static double MsPerFrame(SInt16 w, SInt16 h, SInt32 border, int frames, int repeats, double& outCpuMs) {
  CBuffer src(Rect{0, 0, h, w}, kBufferDepth8, kBufferModeARGB);
  CBuffer dst(Rect{0, 0, h, w}, kBufferDepth8, kBufferModeARGB);
  auto* p = reinterpret_cast<UInt8*>(src.GetData());
  for (SInt32 i = 0; i < src.GetDataSize(); ++i) p[i] = static_cast<UInt8>(i * 2654435761u >> 24);
  for (SInt32 i = 0; i < src.GetDataSize(); i += 4) p[i] = 255;
  RenderFrameParams params;
  params.borderMode = border;
  params.quality = kQualityHigh;
  params.margins = Rect{4, 4, 4, 4};
  auto run = [&](int i) {
    // Each frame restores the source alpha the margin preparation changed
    // (the four 4-pixel margin bands).
    for (SInt32 y = 0; y < h; ++y) {
      UInt8* row = p + static_cast<size_t>(y) * src.GetRowBytes();
      if (y < 4 || y >= h - 4) {
        for (SInt32 x = 0; x < w; ++x) row[4 * x] = 255;
      } else {
        for (SInt32 x = 0; x < 4; ++x) row[4 * x] = row[4 * (w - 1 - x)] = 255;
      }
    }
    SetIdentityMatrix(&params.firstMatrix);
    RotateMatrix(&params.firstMatrix, X2Fix(0.3 + 0.01 * i), Long2Fix(w / 2), Long2Fix(h / 2));
    TranslateMatrix(&params.firstMatrix, X2Fix(2.37), X2Fix(-1.61));
    CMovieRendering::RenderFrame(&src, &dst, &params);
  };
  run(0);
  double bestWall = 1e30, bestCpu = 1e30;
  for (int r = 0; r < repeats; ++r) {
    double c0 = CpuMs();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) run(i);
    auto t1 = std::chrono::steady_clock::now();
    bestCpu = std::min(bestCpu, (CpuMs() - c0) / frames);
    bestWall = std::min(bestWall, std::chrono::duration<double, std::milli>(t1 - t0).count() / frames);
  }
  outCpuMs = bestCpu;
  return bestWall;
}

static double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

int main() {
  const ItemCount cores = MPProcessors();
  const char* repeatText = std::getenv("TRX_RENDER_REPEATS");
  const int repeats = repeatText ? std::max(1, std::atoi(repeatText)) : 7;
  std::printf("machine load average (1 min) before: %.1f on %lu processors\n", LoadAverage(),
              static_cast<unsigned long>(cores));
  struct Size {
    SInt16 w, h;
  } sizes[] = {{1280, 720}, {1920, 1080}};
  std::vector<ItemCount> counts;
  for (ItemCount n = 1; n < cores; n *= 2) counts.push_back(n);
  counts.push_back(cores);
  for (auto s : sizes)
    for (SInt32 border : {1, 3}) {
      double oneThread = 0;
      for (ItemCount threads : counts) {
        MPSetProcessorCountForTesting(threads);
        CGSetBandCountForTesting(static_cast<SInt32>(threads));
        double cpu = 0;
        const double ms = MsPerFrame(s.w, s.h, border, 20, repeats, cpu);
        if (threads == 1) oneThread = ms;
        const double ratio = ms > 0 ? oneThread / ms : 0;
        std::printf("render_%dx%d_border%d_%lu_threads_ms_per_frame: %.3f cpu_ms_per_frame: %.3f speedup: %.2fx%s\n", s.w,
                    s.h, border, static_cast<unsigned long>(threads), ms, cpu, ratio,
                    (threads == cores && cores >= 8 && s.w == 1280) ? " (target >= 5x from 1 thread)" : "");
      }
    }
  MPSetProcessorCountForTesting(0);
  CGSetBandCountForTesting(0);
  std::printf("machine load average (1 min) after: %.1f (best of %d runs of 20 frames)\n", LoadAverage(), repeats);
  return 0;
}
