#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/base/Clock.h"
#include "platform/files/CoreFoundation.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/CFRunLoop.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/ipc/Events.h"
#include "platform/ipc/Processes.h"

namespace {

using namespace std::chrono;

// Waits that only a hang reaches; the sleeps the tests cut short are longer still.
constexpr auto kHang = seconds(60);

// A source over a pipe, counting how often it was served.
struct SPipeSource {
  int fds[2] = {-1, -1};
  std::atomic<int> served{0};
  CFRunLoopSourceRef source = nullptr;
  SPipeSource() {
    EXPECT_EQ(pipe(fds), 0);
    source = CFRunLoopSourceCreateForDescriptor(fds[0], [this] {
      char c;
      if (read(fds[0], &c, 1) == 1) ++served;
    }, 0);
  }
  ~SPipeSource() {
    CFRelease(source);
    close(fds[0]);
    close(fds[1]);
  }
  void Poke() { EXPECT_EQ(write(fds[1], "x", 1), 1); }
};

TEST(RunLoop, RunInModeResults) {
  std::thread([] {
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0, false), kCFRunLoopRunFinished);  // nothing to serve
    SPipeSource pipeSource;
    CFRunLoopRef loop = CFRunLoopGetCurrent();
    CFRunLoopAddSource(loop, pipeSource.source, kCFRunLoopDefaultMode);
    EXPECT_TRUE(CFRunLoopContainsSource(loop, pipeSource.source, kCFRunLoopDefaultMode));
    auto start = steady_clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.1, false), kCFRunLoopRunTimedOut);
    EXPECT_GE(steady_clock::now() - start, milliseconds(95));
    pipeSource.Poke();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 60.0, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(pipeSource.served, 1);
    // Another mode does not serve a default-mode source.
    pipeSource.Poke();
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("OtherMode"), 0.05, true), kCFRunLoopRunFinished);
    EXPECT_EQ(pipeSource.served, 1);
    // An invalid source is never served.
    CFRunLoopSourceInvalidate(pipeSource.source);
    EXPECT_FALSE(CFRunLoopSourceIsValid(pipeSource.source));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true), kCFRunLoopRunFinished);
    EXPECT_EQ(pipeSource.served, 1);
    CFRunLoopRemoveSource(loop, pipeSource.source, kCFRunLoopDefaultMode);
    EXPECT_FALSE(CFRunLoopContainsSource(loop, pipeSource.source, kCFRunLoopDefaultMode));
  }).join();
}

TEST(RunLoop, StopFromAnotherThread) {
  std::atomic<CFRunLoopRef> loop{nullptr};
  std::atomic<int> result{0};
  SPipeSource pipeSource;
  std::thread runner([&] {
    CFRunLoopAddSource(CFRunLoopGetCurrent(), pipeSource.source, kCFRunLoopCommonModes);
    loop = CFRunLoopGetCurrent();
    result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30.0, false);
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), pipeSource.source, kCFRunLoopCommonModes);
  });
  while (loop == nullptr) std::this_thread::sleep_for(milliseconds(1));
  pipeSource.Poke();  // served in the default mode, since it was added to the common modes
  for (auto limit = steady_clock::now() + kHang; pipeSource.served == 0 && steady_clock::now() < limit;)
    std::this_thread::sleep_for(milliseconds(1));
  CFRunLoopStop(loop);
  runner.join();
  EXPECT_EQ(result, kCFRunLoopRunStopped);  // not timed out after its 30 s
  EXPECT_EQ(pipeSource.served, 1);

  // A stop that comes before the loop runs is not lost.
  std::thread early([&] {
    SPipeSource other;
    CFRunLoopAddSource(CFRunLoopGetCurrent(), other.source, kCFRunLoopDefaultMode);
    CFRunLoopStop(CFRunLoopGetCurrent());
    CFRunLoopRun();  // returns at once: a lost stop would hang here
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), other.source, kCFRunLoopDefaultMode);
  });
  early.join();
}

struct SSeen {
  int launched = 0;
  int terminated = 0;
  UInt32 refCon = 0;
  ProcessSerialNumber launchedPSN{0, 0};
  ProcessSerialNumber terminatedPSN{0, 0};
};

OSStatus AppHandler(EventHandlerCallRef, EventRef inEvent, void* inUserData) {
  SSeen* seen = static_cast<SSeen*>(inUserData);
  if (GetEventClass(inEvent) != kEventClassApplication) return eventNotHandledErr;
  ProcessSerialNumber psn;
  OSStatus err = GetEventParameter(inEvent, kEventParamProcessID, typeProcessSerialNumber, nullptr, sizeof(psn), nullptr, &psn);
  if (err != noErr) return err;
  if (GetEventKind(inEvent) == kEventAppLaunched) {
    ++seen->launched;
    seen->launchedPSN = psn;
    EXPECT_EQ(GetEventParameter(inEvent, kEventParamLaunchRefCon, typeUInt32, nullptr, sizeof(UInt32), nullptr, &seen->refCon), noErr);
    return noErr;
  }
  if (GetEventKind(inEvent) == kEventAppTerminated) {
    ++seen->terminated;
    seen->terminatedPSN = psn;
    return noErr;
  }
  return eventNotHandledErr;
}

// Any reference will do: the launch event must carry back the one given.
constexpr UInt32 kTestLaunchRefCon = 0x5EED0001;

TEST(Processes, LaunchedAndTerminatedEventsReachTheHandler) {
  ResetApplicationEventsForTesting();
  SSeen seen;
  EventTypeSpec types[] = {{kEventClassApplication, kEventAppLaunched}, {kEventClassApplication, kEventAppTerminated}};
  EventHandlerRef handler = nullptr;
  ASSERT_EQ(InstallApplicationEventHandler(NewEventHandlerUPP(AppHandler), 2, types, &seen, &handler), noErr);

  EXPECT_EQ(LaunchApplication("/nonexistent/program", 1, nullptr), fnfErr);
  ProcessSerialNumber psn{0, 0};
  ASSERT_EQ(LaunchApplication("/bin/true", kTestLaunchRefCon, &psn), noErr);
  EventRecord event;
  auto start = steady_clock::now();
  while (seen.terminated == 0 && steady_clock::now() - start < kHang) WaitNextEvent(everyEvent, &event, 6, nullptr);
  EXPECT_EQ(seen.launched, 1);
  EXPECT_EQ(seen.refCon, kTestLaunchRefCon);
  Boolean same = false;
  SameProcess(&psn, &seen.launchedPSN, &same);
  EXPECT_TRUE(same);
  EXPECT_EQ(seen.terminated, 1);
  SameProcess(&psn, &seen.terminatedPSN, &same);
  EXPECT_TRUE(same);
  pid_t pid = 0;
  ASSERT_EQ(GetProcessPID(&psn, &pid), noErr);
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped

  // Without a handler that takes it, a process end is the apple event 'obit'.
  ASSERT_EQ(RemoveEventHandler(handler), noErr);
  ASSERT_EQ(LaunchApplication("/bin/true", 0, &psn), noErr);
  bool died = false;
  start = steady_clock::now();
  while (!died && steady_clock::now() - start < kHang)
    if (WaitNextEvent(everyEvent, &event, 6, nullptr))
      died = event.what == kHighLevelEvent && event.message == kCoreEventClass && GetHighLevelEventID(event) == kAEApplicationDied;
  EXPECT_TRUE(died);
  ResetApplicationEventsForTesting();
}

TEST(Processes, OwnInformation) {
  ProcessSerialNumber self, current{0, kCurrentProcess};
  ASSERT_EQ(GetCurrentProcess(&self), noErr);
  Boolean same = false;
  SameProcess(&self, &current, &same);
  EXPECT_TRUE(same);
  ProcessInfoRec info{};
  info.processInfoLength = sizeof(info);
  ASSERT_EQ(GetProcessInformation(&current, &info), noErr);
  EXPECT_EQ(info.processNumber.lowLongOfPSN, static_cast<UInt32>(getpid()));
  EXPECT_EQ(info.processLauncher.lowLongOfPSN, static_cast<UInt32>(getppid()));
  ProcessSerialNumber other{0, static_cast<UInt32>(getppid())};
  EXPECT_EQ(GetProcessInformation(&other, &info), procNotFound);

  EXPECT_EQ(LaunchAuxiliaryExecutable("../bin/true", 0, nullptr), paramErr);
}

TEST(Events, WaitNextEventSleepsOrAdvancesAManualClock) {
  ResetApplicationEventsForTesting();
  EventRecord event;
  auto start = steady_clock::now();
  EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 6, nullptr));  // 0.1 s
  EXPECT_GE(steady_clock::now() - start, milliseconds(90));
  EXPECT_EQ(event.what, nullEvent);

  {
    StManualClock manual;
    UInt32 before = TickCount();
    start = steady_clock::now();
    EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 12000, nullptr));  // 200 s on the clock, none in truth
    EXPECT_LT(steady_clock::now() - start, kHang);
    EXPECT_EQ(TickCount() - before, 12000u);
    EXPECT_EQ(event.when, before + 12000);
  }

  // A quit request posted from another thread wakes the wait at once.
  std::thread poster([] {
    std::this_thread::sleep_for(milliseconds(50));
    PostQuitAppleEvent();
  });
  start = steady_clock::now();
  bool quit = false;
  while (!quit && steady_clock::now() - start < kHang)
    quit = WaitNextEvent(everyEvent, &event, 12000, nullptr) && GetHighLevelEventID(event) == kAEQuitApplication;
  poster.join();
  EXPECT_TRUE(quit);
  EXPECT_LT(steady_clock::now() - start, kHang);  // long before the 200 s sleep
  // A mask without high-level events leaves it queued.
  PostQuitAppleEvent();
  EXPECT_FALSE(WaitNextEvent(0, &event, 0, nullptr));
  EXPECT_TRUE(WaitNextEvent(highLevelEventMask, &event, 0, nullptr));
  ResetApplicationEventsForTesting();
}

TEST(Events, WakeUpProcessEndsTheSleepFromAnotherThread) {
  EventRecord event;
  const ProcessSerialNumber self{0, kCurrentProcess};
  std::thread waker([&] {
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(WakeUpProcess(&self), noErr);
  });
  const auto start = steady_clock::now();
  EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 12000, nullptr));  // a null event, long before 200 s
  waker.join();
  EXPECT_EQ(event.what, nullEvent);
  EXPECT_LT(steady_clock::now() - start, kHang);
  // A wake-up that comes before the wait ends the next one at once; then the wait sleeps again.
  EXPECT_EQ(WakeUpProcess(&self), noErr);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 600, nullptr));
  EXPECT_FALSE(WaitNextEvent(everyEvent, &event, 1, nullptr));
  EXPECT_EQ(WakeUpProcess(nullptr), paramErr);
  const ProcessSerialNumber other{0, 0x7FFFFFF0};
  EXPECT_EQ(WakeUpProcess(&other), procNotFound);
}

CFDataRef CountingCallBack(CFMessagePortRef, SInt32, CFDataRef, void* inInfo) {
  ++*static_cast<int*>(inInfo);
  return nullptr;
}

TEST(Events, WaitNextEventServesThePortsOfItsThread) {
  StTempPortDirectory dir;
  int received = 0;
  CFMessagePortContext context{0, &received, nullptr, nullptr, nullptr};
  CFMessagePortRef port = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("MainPort"), CountingCallBack, &context, nullptr);
  ASSERT_NE(port, nullptr);
  CFRunLoopSourceRef source = CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
  std::thread sender([] {
    CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("MainPort"));
    ASSERT_NE(remote, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CFMessagePortSendRequest(remote, 0, nullptr, 1.0, 1.0, nullptr, nullptr), kCFMessagePortSuccess);
    CFRelease(remote);
  });
  sender.join();  // the messages wait in the port until the loop serves them
  EXPECT_EQ(received, 0);
  EventRecord event;
  auto start = steady_clock::now();
  while (received < 3 && steady_clock::now() - start < kHang) WaitNextEvent(everyEvent, &event, 0, nullptr);
  EXPECT_EQ(received, 3);
  CFRunLoopRemoveSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
  CFRelease(source);
  CFMessagePortInvalidate(port);
  CFRelease(port);
}

}  // namespace
