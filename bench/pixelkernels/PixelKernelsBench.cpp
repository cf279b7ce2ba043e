// Throughput of the copy, convert and erase kernels on a 1920x1080 frame, on
// one band (one thread) and on eight bands, next to the machine's memcpy
// bandwidth measured in the same run. Bandwidth counts the bytes read plus
// the bytes written.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "media/CBuffer.h"
#include "media/CBufferProcs.h"

namespace {

constexpr SInt16 kWidth = 1920, kHeight = 1080;

double BestSeconds(int inRuns, const std::function<void()>& inWork) {
  inWork();  // warm up: pages touched, pool started
  double best = 1e30;
  for (int i = 0; i < inRuns; ++i) {
    auto start = std::chrono::steady_clock::now();
    inWork();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

double FrameBytes(const CBuffer& b) { return static_cast<double>(b.GetWidth()) * b.GetHeight() * b.GetBytesPerPixel(); }

void Report(const char* inName, int inThreads, double inBytes, double inSeconds) {
  std::printf("%-28s %d thread%s: %6.2f GB/s\n", inName, inThreads, inThreads == 1 ? " " : "s", inBytes / inSeconds / 1e9);
}

}  // namespace

int main() {
  const Rect bounds{0, 0, kHeight, kWidth};
  CBuffer argb8(bounds, 1, 2), argb8b(bounds, 1, 2), gray8(bounds, 1, 1), argb16(bounds, 2, 2), mask(bounds, 1, 2);
  std::memset(argb8.GetData(), 0x5A, static_cast<size_t>(argb8.GetDataSize()));
  std::memset(mask.GetData(), 0x80, static_cast<size_t>(mask.GetDataSize()));

  // memcpy of one ARGB frame on one thread.
  std::vector<UInt8> a(static_cast<size_t>(argb8.GetDataSize())), b(a.size());
  std::memset(a.data(), 1, a.size());
  std::memset(b.data(), 2, b.size());
  double memcpySeconds = BestSeconds(30, [&] { std::memcpy(b.data(), a.data(), a.size()); });
  double memcpyBandwidth = 2.0 * static_cast<double>(a.size()) / memcpySeconds;
  std::printf("%-28s 1 thread : %6.2f GB/s\n", "memcpy ARGB frame", memcpyBandwidth / 1e9);

  struct Case {
    const char* name;
    CBuffer* src;
    CBuffer* dst;
    CBuffer* mask;
    BandProcPtr proc;
  };
  const Case cases[] = {
      {"copy ARGB8 -> ARGB8", &argb8, &argb8b, nullptr, CBufferProcs::Copy_proc},
      {"copy ARGB8 -> Gray8", &argb8, &gray8, nullptr, CBufferProcs::Copy_proc},
      {"copy Gray8 -> ARGB8", &gray8, &argb8b, nullptr, CBufferProcs::Copy_proc},
      {"copy ARGB8 -> ARGB16", &argb8, &argb16, nullptr, CBufferProcs::Copy_proc},
      {"copy ARGB16 -> ARGB8", &argb16, &argb8b, nullptr, CBufferProcs::Copy_proc},
      {"masked copy ARGB8 -> ARGB8", &argb8, &argb8b, &mask, CBufferProcs::Copy_proc},
      {"erase ARGB8", &argb8b, &argb8b, nullptr, CBufferProcs::Erase_proc},
  };
  UInt16 eraseValue[4] = {0x8000, 0xFFFF, 0x8000, 0x0000};
  double copy8Bandwidth = 0;
  for (const Case& c : cases) {
    const bool erase = c.proc == CBufferProcs::Erase_proc;
    double bytes = (erase ? 0.0 : FrameBytes(*c.src)) + FrameBytes(*c.dst) + (c.mask ? FrameBytes(*c.mask) : 0.0);
    for (int threads : {1, 8}) {
      TaskOptions options;
      options.mBandCount = threads;
      OSErr err = noErr;
      double seconds = BestSeconds(20, [&] {
        err = CBuffer::Convert(c.src, c.dst, c.mask, nullptr, nullptr, c.proc, erase ? eraseValue : nullptr, nullptr,
                               nullptr, &options);
      });
      if (err != noErr) std::printf("%s failed: %d\n", c.name, err);
      Report(c.name, threads, bytes, seconds);
      if (c.proc == CBufferProcs::Copy_proc && c.src == &argb8 && c.dst == &argb8b && !c.mask && threads == 8)
        copy8Bandwidth = bytes / seconds;
    }
  }
  std::printf("%-28s          %6.2f (8-thread ARGB copy / memcpy)\n", "copy vs memcpy", copy8Bandwidth / memcpyBandwidth);
  return 0;
}
