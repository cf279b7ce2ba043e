// Copying a window's port into its Qt image while every pool worker is busy
// (an analysis holding the pool): the rows are converted on the calling
// thread and come out exactly as they were in the port.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/graphics/QuickDraw.h"
#include "platform/tasks/Multiprocessing.h"
#include "platform/ui/UQtSupport.h"

namespace {

// Holds every pool worker until released.
struct BusyPool {
  std::mutex lock;
  std::condition_variable cv;
  SInt32 running = 0;
  bool released = false;
  MPQueueID queue = nullptr;
  SInt32 tasks = 0;

  static OSStatus Hold(void* p) {
    auto* self = static_cast<BusyPool*>(p);
    std::unique_lock<std::mutex> g(self->lock);
    ++self->running;
    self->cv.notify_all();
    self->cv.wait(g, [&] { return self->released; });
    return noErr;
  }
  void Start() {
    ASSERT_EQ(MPCreateQueue(&queue), noErr);
    const auto workers = static_cast<SInt32>(MPPoolWorkerCount());
    for (SInt32 i = 0; i < workers; ++i) {
      MPTaskID task = nullptr;
      if (MPCreateTask(Hold, this, 0, queue, nullptr, nullptr, 0, &task) == noErr) ++tasks;
    }
    std::unique_lock<std::mutex> g(lock);
    cv.wait(g, [&] { return running == tasks; });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> g(lock);
      released = true;
    }
    cv.notify_all();
  }
  void Finish() {
    Release();
    for (SInt32 i = 0; i < tasks; ++i) MPWaitOnQueue(queue, nullptr, nullptr, nullptr, kDurationForever);
    MPDeleteQueue(queue);
  }
};

}  // namespace

TEST(UQtSupport, APortIsConvertedWhileThePoolIsBusy) {
  // Several processors' worth of bands, so helpers are asked for.
  MPSetProcessorCountForTesting(8);
  constexpr SInt16 kWidth = 96, kHeight = 400;
  Rect bounds = {0, 0, kHeight, kWidth};
  GWorldPtr world = nullptr;
  ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  PixMapHandle pm = GetGWorldPixMap(world);
  auto* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
  const SInt32 rowBytes = GetPixRowBytes(pm);
  for (SInt32 y = 0; y < kHeight; ++y)
    for (SInt32 x = 0; x < kWidth; ++x) {
      UInt8* p = base + static_cast<size_t>(y) * rowBytes + 4 * static_cast<size_t>(x);
      p[0] = 0x10;  // alpha, replaced by opaque
      p[1] = static_cast<UInt8>(y);
      p[2] = static_cast<UInt8>(x);
      p[3] = static_cast<UInt8>(x ^ y);
    }

  BusyPool pool;
  pool.Start();
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  image.fill(0);
  std::atomic<bool> converted{false};
  // Only a guard against hanging the suite: the pool is let go after a long
  // while whatever happens, and the conversion must have ended before that.
  std::thread guard([&] {
    for (int i = 0; i < 600 && !converted.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pool.Release();
  });
  UQt::ConvertPortToImage(world, image, 0, 0, kWidth, kHeight);
  bool releasedFirst;
  {
    std::lock_guard<std::mutex> g(pool.lock);
    releasedFirst = pool.released;
  }
  converted = true;
  guard.join();
  pool.Finish();
  MPSetProcessorCountForTesting(0);
  EXPECT_FALSE(releasedFirst) << "the conversion waited for the busy pool";

  int wrong = 0;
  for (SInt32 y = 0; y < kHeight; ++y)
    for (SInt32 x = 0; x < kWidth; ++x) {
      const QRgb want = qRgba(static_cast<UInt8>(y), static_cast<UInt8>(x), static_cast<UInt8>(x ^ y), 0xFF);
      if (image.pixel(x, y) != want) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
  DisposeGWorld(world);
}
