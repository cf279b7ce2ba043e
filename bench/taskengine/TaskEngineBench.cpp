// Overhead of the task engine: one image operation's worth of bookkeeping
// with trivial work, the way the band engine drives a group.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "media/CTaskObject.h"
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

}  // namespace

int main() {
  MPPoolWorkerCount();  // start the pool outside the measurement
  MeasureMicrosPerGroup(500);
  // The median of several rounds keeps one descheduled round from deciding the figure.
  std::vector<double> rounds;
  for (int r = 0; r < 7; ++r) rounds.push_back(MeasureMicrosPerGroup(3000));
  std::sort(rounds.begin(), rounds.end());
  std::printf("taskgroup_overhead_us_per_group_8_items: %.2f (target < 50)\n", rounds[rounds.size() / 2]);
  std::printf("pool_workers: %u\n", static_cast<unsigned>(MPPoolWorkerCount()));
  return 0;
}
