#include "platform/framework/UEventLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/base/Clock.h"
#include "platform/framework/LPeriodical.h"
#include "platform/framework/LThread.h"
#include "platform/framework/LTimerTask.h"

namespace {
std::atomic<bool> sQuit{false};
std::mutex& WakeLock() {
  static auto* sLock = new std::mutex;
  return *sLock;
}
std::condition_variable& WakeSignal() {
  static auto* sSignal = new std::condition_variable;
  return *sSignal;
}
bool sWoken = false;
std::atomic<UEventSource*> sSource{nullptr};
SInt32 sPassDepth = 0;

struct StPassDepth {
  StPassDepth() { ++sPassDepth; }
  ~StPassDepth() { --sPassDepth; }
};

constexpr SInt64 kMaxSleepMicros = 100000;  // 6 ticks
}  // namespace

void UEventLoop::SetEventSource(UEventSource* inSource) { sSource = inSource; }
UEventSource* UEventLoop::GetEventSource() { return sSource.load(); }
SInt32 UEventLoop::GetPassDepth() { return sPassDepth; }

bool UEventLoop::ProcessOnce() {
  StPassDepth depth;
  if (UEventSource* source = sSource.load()) source->ProcessPending();
  EventRecord nullEventRecord;
  nullEventRecord.when = TickCount();
  bool worked = LTimerTask::FireDueTimers();
  worked |= LPeriodical::DevoteTimeToRepeaters(nullEventRecord);
  worked |= LPeriodical::DevoteTimeToIdlers(nullEventRecord);
  if (LThread::CountReadyThreads() > 0) {
    worked = true;
    LThread::Yield(nullptr);
  }
  LThread::DeleteEndedThreads();
  return worked;
}

SInt32 UEventLoop::RunUntilIdle(SInt32 inMaxPasses) {
  SInt32 passes = 0;
  while (passes < inMaxPasses) {
    ++passes;
    if (!ProcessOnce()) break;
  }
  return passes;
}

void UEventLoop::PassAndSleep(bool inEvenWhenNested) {
  bool nested = sPassDepth > 0 && !inEvenWhenNested;
  bool worked = ProcessOnce();
  if (nested || sQuit.load()) return;
  if (worked || LThread::CountReadyThreads() > 0) return;
  SInt64 now = UClock::NowMicroseconds();
  SInt64 wait = kMaxSleepMicros;
  for (SInt64 due : {LTimerTask::NextDueMicroseconds(), LPeriodical::NextDueMicroseconds()})
    if (due >= 0) wait = std::min(wait, std::max<SInt64>(due - now, 0));
  if (LPeriodical::HasContinuousTasks()) wait = std::min<SInt64>(wait, 1000);
  if (wait <= 0) return;
  if (UEventSource* source = sSource.load()) {
    {
      std::lock_guard<std::mutex> lock(WakeLock());
      if (sWoken) {
        sWoken = false;
        return;
      }
    }
    StPassDepth depth;  // a pass run from inside the source's events does not sleep
    source->WaitAndProcess(wait);
    std::lock_guard<std::mutex> lock(WakeLock());
    sWoken = false;
    return;
  }
  std::unique_lock<std::mutex> lock(WakeLock());
  WakeSignal().wait_for(lock, std::chrono::microseconds(wait), [] { return sWoken || sQuit.load(); });
  sWoken = false;
}

void UEventLoop::Run() {
  while (!sQuit.load()) PassAndSleep();
}

void UEventLoop::Quit() {
  sQuit.store(true);
  WakeUp();
}

bool UEventLoop::IsQuitting() { return sQuit.load(); }

void UEventLoop::WakeUp() {
  {
    std::lock_guard<std::mutex> lock(WakeLock());
    sWoken = true;
  }
  WakeSignal().notify_all();
  if (UEventSource* source = sSource.load()) source->WakeUp();
}

void UEventLoop::Reset() {
  LTimerTask::DisarmAll();
  LPeriodical::DeleteIdlerAndRepeaterQueues();
  sQuit.store(false);
  std::lock_guard<std::mutex> lock(WakeLock());
  sWoken = false;
}
