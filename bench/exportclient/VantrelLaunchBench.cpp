// Vantrel's fixed cost around an export, as a client sees it:
//   launch until it takes requests: from the launch call until a heartbeat
//   is sent to its message port (the port polled every millisecond)
//   quit until it has exited: from the quit command until waitpid returns
// and, beside them, the processor time the whole program used (user +
// system, from wait4), which the machine's load disturbs less.
// Best of N runs (N from the first argument, 7 by default), each with a
// private port folder and the build's bundle.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/files/Bundle.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/Processes.h"
#include "vantrel/ExportProtocol.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

OSStatus SendCommand(CFMessagePortRef inRemote, UInt8 inCommand) {
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, &inCommand, 1);
  const OSStatus sent = CFMessagePortSendRequest(inRemote, kExportMessageID, data, 10.0, 10.0, nullptr, nullptr);
  CFRelease(data);
  return sent;
}

struct Run {
  double toServing = 0, toExit = 0, processor = 0;
  bool ok = false;
};

Run LaunchOnce() {
  Run run;
  const auto ports = std::filesystem::temp_directory_path() / ("trx-launch-bench-" + std::to_string(getpid()));
  std::filesystem::remove_all(ports);
  std::filesystem::create_directories(ports);
  setenv("TRX_IPC_DIR", ports.c_str(), 1);
  const double start = Now();
  ProcessSerialNumber psn{0, 0};
  if (LaunchAuxiliaryExecutable("Vantrel", kVantrelLaunchRefCon, &psn) != noErr) return run;
  pid_t pid = -1;
  GetProcessPID(&psn, &pid);
  CFMessagePortRef remote = nullptr;
  while (remote == nullptr && Now() - start < 20.0) {
    remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
    if (remote == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (remote != nullptr && SendCommand(remote, kExportCommandHeartbeat) == kCFMessagePortSuccess) {
    run.toServing = Now() - start;
    const double quitAt = Now();
    SendCommand(remote, kExportCommandQuit);
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
      run.toExit = Now() - quitAt;
      run.processor = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
      run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
  if (remote) CFRelease(remote);
  std::filesystem::remove_all(ports);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  UBundle::SetMainBundlePath(TRX_BENCH_BUNDLE);
  Run best;
  best.toServing = best.toExit = best.processor = 1e9;
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    const Run r = LaunchOnce();
    if (!r.ok) {
      ++failed;
      continue;
    }
    best.toServing = std::min(best.toServing, r.toServing);
    best.toExit = std::min(best.toExit, r.toExit);
    best.processor = std::min(best.processor, r.processor);
  }
  if (failed == runs) {
    std::printf("Vantrel did not start\n");
    return 1;
  }
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("Vantrel launch until it takes requests: %.3f s best of %d (target < 0.2 s)\n", best.toServing, runs);
  std::printf("Vantrel quit until exited: %.3f s best of %d (target < 0.2 s)\n", best.toExit, runs);
  std::printf("Vantrel processor time for a launch and quit: %.3f s best of %d\n", best.processor, runs);
  std::printf("load average %.2f%s\n", load[0], failed ? " (some runs failed)" : "");
  return failed ? 1 : 0;
}
