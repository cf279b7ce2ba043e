// Prints one line per figure, beside its target:
//   the longest pass of the main event loop while Vantrel exports three
//   queued movies (the interface must never stall over 100 ms)
//   writing and sending one export request (DoExport)
//   the heartbeat's send to a Vantrel that answers, and to one that is
//   stopped (SIGSTOP: a hung Vantrel must not hold the interface)
// Runs headless with a private port folder and the build's bundle.
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CExportMovie.h"
#include "media/CMovie.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Bundle.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ipc/Processes.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UResponder.h"
#include "vantrel/ExportProtocol.h"

namespace {

double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Runs the loop; the longest pass in wall time (sleeping excluded: the pass
// itself) and in the main thread's processor time.
bool PumpUntil(const std::function<bool()>& inDone, double inSeconds, double* ioLongestWall = nullptr,
               double* ioLongestCpu = nullptr) {
  const double end = Now() + inSeconds;
  while (!inDone() && Now() < end) {
    const double start = Now(), cpu = ThreadSeconds();
    UEventLoop::ProcessOnce();
    if (ioLongestWall) *ioLongestWall = std::max(*ioLongestWall, Now() - start);
    if (ioLongestCpu) *ioLongestCpu = std::max(*ioLongestCpu, ThreadSeconds() - cpu);
    UEventLoop::PassAndSleep();
  }
  return inDone();
}

}  // namespace

int main() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char ports[] = "/tmp/trx-bench-ports-XXXXXX";
  char folder[] = "/tmp/trx-bench-export-XXXXXX";
  if (!mkdtemp(ports) || !mkdtemp(folder)) return 1;
  setenv("TRX_IPC_DIR", ports, 1);
  setenv("XDG_RUNTIME_DIR", ports, 1);
  UQt::EnsureApplication();
  EnterMovies();
  UBundle::SetMainBundlePath(TRX_BENCH_BUNDLE);
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);

  const std::string source = std::string(folder) + "/Source.mov";
  {
    Movie made = exporttest::MakeMovie(320, 180, 150);
    FSSpec spec;
    FSMakeFSSpecFromPath(source, &spec);
    Movie saved = FlattenMovieData(made, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                   createMovieFileDeleteCurFile);
    DisposeMovie(made);
    if (saved == nullptr) return 1;
    DisposeMovie(saved);
  }
  FSSpec sourceSpec;
  FSMakeFSSpecFromPath(source, &sourceSpec);
  auto movie = std::make_unique<CMovie>(&sourceSpec);

  CExportMovie::Init();
  CExportMovie* client = CExportMovie::GetExporter();
  PumpUntil(
      [] {
        CFMessagePortRef p =
            CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
        if (p) CFRelease(p);
        return p != nullptr;
      },
      10);
  CExportMovieSettings::sCurrentExporter = 'mpg4';

  double longestRequest = 0;
  for (int i = 0; i < 3; ++i) {
    FSSpec dest;
    FSMakeFSSpecFromPath(std::string(folder) + "/Out" + std::to_string(i) + ".mp4", &dest);
    const double start = Now();
    CExportMovie::DoExport(movie.get(), &dest);
    longestRequest = std::max(longestRequest, Now() - start);
  }
  double longestPass = 0, longestCpu = 0;
  const double exportStart = Now();
  const bool done = PumpUntil([&] { return client->GetTasks().empty(); }, 300, &longestPass, &longestCpu);
  const double exportSeconds = Now() - exportStart;

  // Heartbeats to a Vantrel that answers, then to a stopped one.
  const std::vector<UInt8> heartbeat = EncodeExportCommand(kExportCommandHeartbeat);
  double worstAnswering = 0, worstStopped = 0;
  for (int i = 0; i < 20; ++i) {
    const double start = Now();
    CExportMovie::SendCommand(heartbeat.data(), heartbeat.size());
    worstAnswering = std::max(worstAnswering, Now() - start);
  }
  pid_t pid = -1;
  ProcessSerialNumber psn = CExportMovie::GetVantrelPSN();
  GetProcessPID(&psn, &pid);
  if (pid > 0) {
    kill(pid, SIGSTOP);
    for (int i = 0; i < 200; ++i) {
      const double start = Now();
      CExportMovie::SendCommand(heartbeat.data(), heartbeat.size());
      worstStopped = std::max(worstStopped, Now() - start);
    }
    kill(pid, SIGCONT);
  }

  std::printf("machine load (1 min average): %.1f on %ld processors\n", load[0], sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("three queued MPEG-4 exports of 150 frames 320x180: %s in %.2f s\n", done ? "done" : "NOT DONE",
              exportSeconds);
  std::printf("longest main-thread pass while Vantrel exports: %.1f ms processor time (target < 100 ms), "
              "%.1f ms wall time on the loaded machine\n",
              longestCpu * 1000, longestPass * 1000);
  std::printf("longest DoExport (request written and sent): %.1f ms (target < 100 ms)\n", longestRequest * 1000);
  std::printf("worst heartbeat send, Vantrel answering: %.2f ms (target < 100 ms)\n", worstAnswering * 1000);
  std::printf("worst heartbeat send, Vantrel stopped: %.2f ms (target < 100 ms)\n", worstStopped * 1000);

  CExportMovie::Finish();
  movie.reset();
  if (pid > 0) {
    for (int i = 0; i < 250 && kill(pid, 0) == 0; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      usleep(20000);
    }
    if (kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::remove_all(ports, ignored);
  return done ? 0 : 1;
}
