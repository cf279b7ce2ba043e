// Render throughput of one stabilised frame: a small rotation and sub-pixel
// shift, quality high, border modes 1 (colour) and 3 (filled margins).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>

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

// Wall-clock milliseconds per frame; outCpuMs receives the processor time
// per frame of the whole process (steadier on a busy machine).
static double MsPerFrame(SInt16 w, SInt16 h, SInt32 border, int frames, double& outCpuMs) {
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
  double c0 = CpuMs();
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) run(i);
  auto t1 = std::chrono::steady_clock::now();
  outCpuMs = (CpuMs() - c0) / frames;
  return std::chrono::duration<double, std::milli>(t1 - t0).count() / frames;
}

int main() {
  const ItemCount cores = MPProcessors();
  struct Size {
    SInt16 w, h;
  } sizes[] = {{1280, 720}, {1920, 1080}};
  for (auto s : sizes)
    for (SInt32 border : {1, 3})
      for (ItemCount threads : {ItemCount{1}, cores}) {
        MPSetProcessorCountForTesting(threads);
        CGSetBandCountForTesting(static_cast<SInt32>(threads));
        double cpu = 0;
        double ms = MsPerFrame(s.w, s.h, border, threads == 1 ? 10 : 60, cpu);
        std::printf("render_%dx%d_border%d_%lu_threads_ms_per_frame: %.3f%s cpu_ms_per_frame: %.3f\n", s.w, s.h,
                    border, static_cast<unsigned long>(threads), ms,
                    (s.w == 1280 && border == 1 && threads > 1) ? " (target < 1.5)" : "", cpu);
      }
  MPSetProcessorCountForTesting(0);
  CGSetBandCountForTesting(0);
  return 0;
}
