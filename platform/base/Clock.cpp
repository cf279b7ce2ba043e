#include "platform/base/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
const auto sOrigin = std::chrono::steady_clock::now();
std::atomic<bool> sManual{false};
std::atomic<SInt64> sManualMicros{0};

SInt64 RealMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sOrigin).count();
}
}  // namespace

SInt64 UClock::NowMicroseconds() { return sManual.load() ? sManualMicros.load() : RealMicros(); }

void UClock::SetManual(bool inManual) {
  if (inManual && !sManual.load()) sManualMicros.store(RealMicros());
  sManual.store(inManual);
}

bool UClock::IsManual() { return sManual.load(); }

void UClock::AdvanceMicroseconds(SInt64 inMicros) {
  if (sManual.load() && inMicros > 0) sManualMicros.fetch_add(inMicros);
}

UInt32 TickCount() { return static_cast<UInt32>(UClock::NowMicroseconds() * 60 / 1000000); }

double GetCurrentEventTime() { return static_cast<double>(UClock::NowMicroseconds()) / 1e6; }

void Delay(UInt32 inTicks, UInt32* outFinalTicks) {
  if (UClock::IsManual()) {
    UClock::AdvanceTicks(inTicks);
  } else if (inTicks > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<SInt64>(inTicks) * 1000000 / 60));
  }
  if (outFinalTicks) *outFinalTicks = TickCount();
}
