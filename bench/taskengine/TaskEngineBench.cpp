// Overhead of the task engine: one image operation's worth of bookkeeping
// with trivial work, the way the band engine drives a group; and the cost of
// one band loop on the pool (90 items, 40 microseconds of work in all, on
// every processor, with a short serial step between loops as a tracker's
// levels have): the time from the call to its return beyond the work's
// share per worker.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "media/CTaskObject.h"
#include "platform/tasks/MPBands.h"
#include "platform/tasks/Multiprocessing.h"

namespace {

class CTrivialItem : public CTaskObject {
 public:
  SInt32 Run() override {
    SetCompletion(256);
    return noErr;
  }
};

constexpr int kItems = 8;

SInt32 RunOneGroup() {
  CTaskGroup group;
  for (int i = 0; i < kItems; ++i) group.AddTaskObject(new CTrivialItem);
  if (group.RunTasks(0, 0) != noErr) return -1;
  SInt32 progress = 0;
  bool done;
  do {
    done = group.IsComplete(-100);
    progress += group.CalcCompletion();
  } while (!done);
  return group.GetTaskError() + (progress < 0 ? 1 : 0);
}

double MeasureMicrosPerGroup(int inGroups) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < inGroups; ++i)
    if (RunOneGroup() != noErr) std::fprintf(stderr, "group failed\n");
  std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / inGroups;
}

volatile float gSink;

// Busy for inMicros on this thread.
void Spend(double inMicros) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double, std::micro>(inMicros);
  float a = 1.0f;
  while (std::chrono::steady_clock::now() < end) a = a * 1.0001f + 1.0f;
  gSink = a;
}

// Microseconds a band loop of kBandItems items and kBandWork microseconds of
// work takes beyond kBandWork / workers, the mean over inLoops loops.
constexpr size_t kBandItems = 90;
constexpr double kBandWork = 40.0;
double MeasureBandLoopOverhead(int inLoops, SInt32 inWorkers) {
  MPBandOptions options;
  options.workers = inWorkers;
  double inLoopsMicros = 0;
  for (int i = 0; i < inLoops; ++i) {
    const auto start = std::chrono::steady_clock::now();
    (void)MPRunBands(kBandItems, options, [](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
      Spend(kBandWork * static_cast<double>(inEnd - inBegin) / kBandItems);
      return noErr;
    });
    inLoopsMicros += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    Spend(20.0);
  }
  return inLoopsMicros / inLoops - kBandWork / inWorkers;
}

}  // namespace

int main() {
  MPPoolWorkerCount();  // start the pool outside the measurement
  MeasureMicrosPerGroup(500);
  // The median of several rounds keeps one descheduled round from deciding the figure.
  std::vector<double> rounds;
  for (int r = 0; r < 7; ++r) rounds.push_back(MeasureMicrosPerGroup(3000));
  std::sort(rounds.begin(), rounds.end());
  std::printf("taskgroup_overhead_us_per_group_8_items: %.2f (target < 50)\n", rounds[rounds.size() / 2]);
  const SInt32 workers = static_cast<SInt32>(MPBandWorkers(kBandItems, MPBandOptions{}));
  MeasureBandLoopOverhead(500, workers);
  rounds.clear();
  for (int r = 0; r < 7; ++r) rounds.push_back(MeasureBandLoopOverhead(3000, workers));
  std::sort(rounds.begin(), rounds.end());
  std::printf("band_loop_overhead_us_%d_workers: %.2f\n", static_cast<int>(workers), rounds[rounds.size() / 2]);
  std::printf("pool_workers: %u\n", static_cast<unsigned>(MPPoolWorkerCount()));
  return 0;
}
