#include "platform/ipc/Processes.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/CoreFoundation.h"
#include "platform/ipc/Events.h"
#include "platform/ipc/ProcessWatch.h"

extern char** environ;

namespace {

constexpr const char* kLauncherVariable = "TRX_LAUNCHER_PID";

struct SWatch {
  pid_t pid;
  bool child;
  int pidfd;                     // -1 when the kernel has no process descriptors
  CFRunLoopSourceRef source;     // on the attached loop, once attached
};

std::mutex gWatchLock;
std::vector<SWatch> gWatches;
bool gLauncherWatched = false;
CFRunLoopRef gWatchLoop = nullptr;

const UInt32 gStartTicks = TickCount();

int OpenProcessDescriptor(pid_t inPID) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, inPID, 0));
#else
  (void)inPID;
  errno = ENOSYS;
  return -1;
#endif
}

bool ParsePID(const char* inText, pid_t& outPID) {
  if (inText == nullptr || *inText == 0) return false;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(inText, &end, 10);
  if (errno != 0 || *end != 0 || value <= 1 || value > INT_MAX) return false;
  outPID = static_cast<pid_t>(value);
  return true;
}

// Has the process ended? Children are reaped here.
bool HasEnded(const SWatch& inWatch) {
  if (inWatch.child) {
    int status = 0;
    pid_t r = waitpid(inWatch.pid, &status, WNOHANG);
    return r == inWatch.pid || (r < 0 && errno == ECHILD);
  }
  if (inWatch.pidfd >= 0) {
    pollfd pfd{inWatch.pidfd, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
  }
  if (inWatch.pid == UProcessWatch::LauncherPID() && getppid() != inWatch.pid) return true;
  return kill(inWatch.pid, 0) != 0 && errno == ESRCH;
}

void Ended(pid_t inPID) {
  SWatch watch{};
  bool found = false;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (auto it = gWatches.begin(); it != gWatches.end(); ++it) {
      if (it->pid != inPID) continue;
      if (!HasEnded(*it)) return;
      watch = *it;
      gWatches.erase(it);
      found = true;
      break;
    }
  }
  if (!found) return;
  if (watch.source) {
    CFRunLoopSourceInvalidate(watch.source);
    if (gWatchLoop) CFRunLoopRemoveSource(gWatchLoop, watch.source, kCFRunLoopCommonModes);
    CFRelease(watch.source);
  }
  if (watch.pidfd >= 0) close(watch.pidfd);
  ProcessSerialNumber psn{0, static_cast<UInt32>(watch.pid)};
  PostApplicationEvent(kEventAppTerminated, psn, nullptr);
}

// Call with gWatchLock held.
void AttachLocked(SWatch& ioWatch) {
  if (gWatchLoop == nullptr || ioWatch.pidfd < 0 || ioWatch.source != nullptr) return;
  pid_t pid = ioWatch.pid;
  ioWatch.source = CFRunLoopSourceCreateForDescriptor(ioWatch.pidfd, [pid] { Ended(pid); }, 0);
  if (ioWatch.source) CFRunLoopAddSource(gWatchLoop, ioWatch.source, kCFRunLoopCommonModes);
}

OSErr SpawnErrorToOSErr(int inErr) {
  switch (inErr) {
    case ENOENT:
    case ENOTDIR:
      return fnfErr;
    case EACCES:
    case EPERM:
      return afpAccessDenied;
    case ENOMEM:
    case EAGAIN:
      return memFullErr;
    default:
      return ioErr;
  }
}

}  // namespace

namespace UProcessWatch {

pid_t LauncherPID() {
  static const pid_t sLauncher = [] {
    pid_t launcher = 0;
    if (!ParsePID(std::getenv(kLauncherVariable), launcher)) launcher = getppid();
    return launcher > 1 ? launcher : 0;
  }();
  return sLauncher;
}

void Watch(pid_t inPID, bool inIsChild) {
  if (inPID <= 0) return;
  int fd = OpenProcessDescriptor(inPID);
  bool goneAlready = fd < 0 && errno == ESRCH;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (const SWatch& w : gWatches)
      if (w.pid == inPID) {
        if (fd >= 0) close(fd);
        return;
      }
    gWatches.push_back({inPID, inIsChild, fd, nullptr});
    AttachLocked(gWatches.back());
  }
  if (goneAlready) {
    // Ended before it could be watched: report it at once.
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (auto it = gWatches.begin(); it != gWatches.end(); ++it)
      if (it->pid == inPID) {
        gWatches.erase(it);
        break;
      }
    PostApplicationEvent(kEventAppTerminated, ProcessSerialNumber{0, static_cast<UInt32>(inPID)}, nullptr);
  }
}

void Attach(CFRunLoopRef inLoop) {
  bool watchLauncher = false;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    if (gWatchLoop == nullptr) gWatchLoop = inLoop;
    if (!gLauncherWatched) {
      gLauncherWatched = true;
      watchLauncher = LauncherPID() != 0;
    }
  }
  if (watchLauncher) Watch(LauncherPID(), false);
  std::lock_guard<std::mutex> guard(gWatchLock);
  for (SWatch& w : gWatches) AttachLocked(w);
}

bool NeedsPolling() {
  std::lock_guard<std::mutex> guard(gWatchLock);
  for (const SWatch& w : gWatches)
    if (w.pidfd < 0) return true;
  return false;
}

void Poll() {
  std::vector<pid_t> pids;
  {
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (const SWatch& w : gWatches)
      if (w.pidfd < 0) pids.push_back(w.pid);
  }
  for (pid_t pid : pids) Ended(pid);
}

}  // namespace UProcessWatch

OSErr GetCurrentProcess(ProcessSerialNumber* outPSN) {
  if (outPSN == nullptr) return paramErr;
  *outPSN = {0, static_cast<UInt32>(getpid())};
  return noErr;
}

OSErr GetProcessInformation(const ProcessSerialNumber* inPSN, ProcessInfoRec* ioInfo) {
  if (inPSN == nullptr || ioInfo == nullptr) return paramErr;
  ProcessSerialNumber self;
  GetCurrentProcess(&self);
  const bool isSelf = (inPSN->highLongOfPSN == 0 && inPSN->lowLongOfPSN == kCurrentProcess) ||
                      (inPSN->highLongOfPSN == self.highLongOfPSN && inPSN->lowLongOfPSN == self.lowLongOfPSN);
  if (!isSelf) return procNotFound;
  if (ioInfo->processName) StringToPStr("", ioInfo->processName, sizeof(Str31));
  ioInfo->processNumber = self;
  ioInfo->processType = 'APPL';
  ioInfo->processSignature = 0;
  ioInfo->processMode = 0;
  ioInfo->processLocation = nullptr;
  ioInfo->processSize = 0;
  ioInfo->processFreeMem = 0;
  ioInfo->processLauncher = {0, static_cast<UInt32>(UProcessWatch::LauncherPID())};
  ioInfo->processLaunchDate = gStartTicks;
  ioInfo->processActiveTime = 0;
  return noErr;
}

OSErr SameProcess(const ProcessSerialNumber* inA, const ProcessSerialNumber* inB, Boolean* outSame) {
  if (inA == nullptr || inB == nullptr || outSame == nullptr) return paramErr;
  auto normal = [](const ProcessSerialNumber& p) {
    if (p.highLongOfPSN == 0 && p.lowLongOfPSN == kCurrentProcess) return ProcessSerialNumber{0, static_cast<UInt32>(getpid())};
    return p;
  };
  ProcessSerialNumber a = normal(*inA), b = normal(*inB);
  *outSame = a.highLongOfPSN == b.highLongOfPSN && a.lowLongOfPSN == b.lowLongOfPSN;
  return noErr;
}

OSStatus GetProcessPID(const ProcessSerialNumber* inPSN, pid_t* outPID) {
  if (inPSN == nullptr || outPID == nullptr) return paramErr;
  if (inPSN->highLongOfPSN == 0 && inPSN->lowLongOfPSN == kCurrentProcess) {
    *outPID = getpid();
    return noErr;
  }
  if (inPSN->highLongOfPSN != 0 || inPSN->lowLongOfPSN <= kCurrentProcess) return procNotFound;
  *outPID = static_cast<pid_t>(inPSN->lowLongOfPSN);
  return noErr;
}

OSStatus GetProcessForPID(pid_t inPID, ProcessSerialNumber* outPSN) {
  if (outPSN == nullptr || inPID <= static_cast<pid_t>(kCurrentProcess)) return paramErr;
  *outPSN = {0, static_cast<UInt32>(inPID)};
  return noErr;
}

OSStatus LaunchApplication(const char* inPath, UInt32 inAsyncRefCon, ProcessSerialNumber* outPSN) {
  if (inPath == nullptr || *inPath == 0) return paramErr;
  if (access(inPath, X_OK) != 0) return fnfErr;

  // The child's environment: ours, with the launcher named.
  std::vector<std::string> env;
  const size_t prefixLength = std::strlen(kLauncherVariable) + 1;
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, kLauncherVariable, prefixLength - 1) != 0 || (*e)[prefixLength - 1] != '=')
      env.emplace_back(*e);
  env.push_back(std::string(kLauncherVariable) + "=" + std::to_string(getpid()));
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string path(inPath);
  char* argv[] = {path.data(), nullptr};

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int err = posix_spawn(&pid, path.c_str(), nullptr, &attr, argv, envp.data());
  posix_spawnattr_destroy(&attr);
  if (err != 0) return SpawnErrorToOSErr(err);

  UProcessWatch::Watch(pid, true);
  ProcessSerialNumber psn{0, static_cast<UInt32>(pid)};
  if (outPSN) *outPSN = psn;
  PostApplicationEvent(kEventAppLaunched, psn, &inAsyncRefCon);
  return noErr;
}

OSStatus LaunchAuxiliaryExecutable(const char* inName, UInt32 inAsyncRefCon, ProcessSerialNumber* outPSN) {
  if (inName == nullptr || *inName == 0 || std::strchr(inName, '/') != nullptr) return paramErr;
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (bundle == nullptr) return fnfErr;
  CFStringRef name = CFStringCreateWithCString(kCFAllocatorDefault, inName, kCFStringEncodingUTF8);
  CFURLRef url = CFBundleCopyAuxiliaryExecutableURL(bundle, name);
  CFRelease(name);
  if (url == nullptr) return fnfErr;
  UInt8 path[PATH_MAX];
  Boolean ok = CFURLGetFileSystemRepresentation(url, true, path, sizeof(path));
  CFRelease(url);
  if (!ok) return fnfErr;
  return LaunchApplication(reinterpret_cast<const char*>(path), inAsyncRefCon, outPSN);
}

void ExitToShell() {
  std::fflush(nullptr);
  _exit(0);
}
