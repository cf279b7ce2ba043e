// Throughput of the further pixel operations on a 1920x1080 frame, on one
// band (one thread) and on one band per processor: megapixels per second,
// one line per operation family and thread count.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/tasks/Multiprocessing.h"

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

void Fill(CBuffer& b, UInt8 seed) {
  UInt8* p = reinterpret_cast<UInt8*>(b.GetData());
  for (SInt32 i = 0; i < b.GetDataSize(); ++i) p[i] = static_cast<UInt8>(i * 31 + seed);
}

}  // namespace

int main() {
  const Rect bounds{0, 0, kHeight, kWidth};
  const Rect turned{0, 0, kWidth, kHeight};
  CBuffer argb(bounds, 1, 2), argb2(bounds, 1, 2), argbTurned(turned, 1, 2), gray(bounds, 1, 1), gray2(bounds, 1, 1),
      gray3(bounds, 1, 1), argb16(bounds, 2, 2), argb16b(bounds, 2, 2);
  Fill(argb, 1);
  Fill(argb16, 2);
  Fill(gray, 3);
  std::vector<float> floats(static_cast<size_t>(kWidth) * kHeight);
  std::vector<UInt16> lut(65536);
  for (UInt32 v = 0; v < 65536; ++v) lut[v] = static_cast<UInt16>(65535 - v);
  GWorldPtr port32 = nullptr;
  QTNewGWorld(&port32, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);

  struct Case {
    const char* name;
    std::function<void()> work;
  };
  const std::vector<Case> cases = {
      {"float from gray8", [&] { gray.CopyToFloat(bounds, floats.data(), 0, 1.0f, 0.0f, nullptr, nullptr); }},
      {"float into ARGB8 red", [&] { argb2.CopyFromFloat(bounds, floats.data(), 1, 1.0f, 0.0f, nullptr, nullptr); }},
      {"rotate 90 ARGB8", [&] { argb.Rotate_90(&argbTurned, nullptr, nullptr, nullptr); }},
      {"rotate 180 ARGB8", [&] { argb.Rotate_180(&argb2, nullptr, nullptr, nullptr); }},
      {"flip vertical ARGB8", [&] { argb.FlipVertical(&argb2, nullptr, nullptr, nullptr); }},
      {"flip horizontal ARGB8", [&] { argb.FlipHorizontal(&argb2, nullptr, nullptr, nullptr); }},
      {"gray8 into green", [&] { gray.CopyGrayToRGBChannel(&argb2, 2, nullptr, nullptr, nullptr, nullptr); }},
      {"RGB to HSV ARGB8", [&] { argb.RGB2HSV(&argb2, nullptr, nullptr, nullptr); }},
      {"HSV to RGB ARGB16", [&] { argb16.HSV2RGB(&argb16b, nullptr, nullptr, nullptr); }},
      {"table ARGB16 -> ARGB8", [&] { argb16.CopyWithLutTo(&argb2, lut.data(), nullptr, nullptr, nullptr, nullptr); }},
      {"port 32 -> ARGB8", [&] { argb2.CopyFrom(port32, nullptr, nullptr, nullptr, nullptr, nullptr); }},
      {"ARGB8 -> port 32", [&] { argb.CopyTo(port32, nullptr); }},
      {"split ARGB8", [&] { argb.Split(&gray, &gray2, &gray3, nullptr); }},
      {"compare ARGB8", [&] { CBuffer::IsEqual(&argb, &argb, nullptr); }},
  };
  const double megapixels = static_cast<double>(kWidth) * kHeight / 1e6;
  const int threads = CTaskGroup::GetPreferredTaskCount();
  for (const Case& c : cases) {
    CTaskGroup::mAllowMP = false;
    const double one = BestSeconds(10, c.work);
    CTaskGroup::mAllowMP = true;
    const double all = BestSeconds(10, c.work);
    std::printf("%-24s 1 thread  : %8.1f Mpixel/s\n", c.name, megapixels / one);
    std::printf("%-24s %d threads: %8.1f Mpixel/s\n", c.name, threads, megapixels / all);
  }
  DisposeGWorld(port32);
  return 0;
}
