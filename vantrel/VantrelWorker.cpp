#include "vantrel/VantrelWorker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <new>
#include <string>
#include <system_error>

#include "platform/base/TrxLog.h"
#include "platform/files/CoreFoundation.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "vantrel/ExportEngine.h"

ProcessSerialNumber gOwnerPSN = {0, kNoProcess};

namespace {

// Serialises the listener callback. The main thread holds it from start-up
// to its first idle pass, so no message is handled before the worker loop runs.
std::mutex gListenerMutex;
// Signalled after every message (nothing waits on it).
std::condition_variable gListenerCondition;

std::atomic<SInt32> gNextRefCon{1};
WorkerThread* gWorker = nullptr;

// How long the listener keeps trying to take the port's name (a Vantrel that
// is ending may still hold it).
int PortRetryMillis() {
  const char* text = std::getenv("VANTREL_PORT_RETRY_MS");
  if (text && *text) {
    long value = std::strtol(text, nullptr, 10);
    if (value >= 0 && value <= 600000) return static_cast<int>(value);
  }
  return 10000;
}

CFStringRef PortName(const char* inName) { return CFStringMakeConstantString(inName); }

bool gFailRequestAllocation = false;

// A start held back for tests of a slow start: with VANTREL_START_GATE naming
// a FIFO, Vantrel waits before it makes its port until the other end of the
// FIFO has been opened and closed again.
void PassStartGate() {
  const char* gate = std::getenv("VANTREL_START_GATE");
  if (gate == nullptr || *gate == 0) return;
  const int fd = ::open(gate, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char bytes[64];
  for (;;) {
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;
  }
  ::close(fd);
}

// A request that cannot be kept is refused to the application at once (an
// error record and the done record), so its task does not wait forever.
void RefuseExportRequest(WorkerThread* inWorker, UInt32 inCookie, OSErr inError) {
  SendExportStatus(inWorker, ExportStatus{kExportStatusError, kExportPhaseMovie, 0, inError, 0, inCookie});
  SendExportStatus(inWorker, ExportStatus{kExportStatusDone, kExportPhaseMovie, 0, noErr, 0, inCookie});
}

void QueueExportRequest(WorkerThread* inWorker, CFDataRef inData, CFDataRef& outReply) {
  ExportRequestFields fields;
  ParseExportRequest(CFDataGetBytePtr(inData), static_cast<size_t>(CFDataGetLength(inData)), fields);
  WorkerRequest* request = nullptr;
  if (gFailRequestAllocation || CreateWorkerRequest(inWorker, &request) != noErr) {
    RefuseExportRequest(inWorker, fields.cookie, memFullErr);
    return;
  }
  request->data = CFDataCreateCopy(kCFAllocatorDefault, inData);
  if (request->data == nullptr) {
    ReleaseWorkerRequest(request);
    RefuseExportRequest(inWorker, fields.cookie, memFullErr);
    return;
  }
  request->queuedCookie = fields.cookie;
  SInt32 count = 0;
  {
    std::lock_guard<std::mutex> guard(inWorker->queueLock);
    inWorker->queue.push_back(request);
    count = inWorker->refCount.load();
  }
  const std::vector<UInt8> text = EncodeExportQueuedReply(count);
  outReply = CFDataCreate(kCFAllocatorDefault, text.data(), static_cast<CFIndex>(text.size()));
}

// A cancel applies only to the export it names: the bare command to the one
// running now (or, in the moment before it starts, the one about to run),
// the command with a cookie to the export with that cookie, running or
// queued. Nothing stays pending for a later export.
void CancelExport(WorkerThread* inWorker, const ExportCommandFields& inCommand) {
  std::lock_guard<std::mutex> guard(inWorker->queueLock);
  if (!inCommand.hasCookie) {
    if (inWorker->running && !inWorker->running->reported.load())
      inWorker->running->cancel.store(1);
    else if (!inWorker->queue.empty())
      inWorker->queue.front()->cancel.store(1);
    return;
  }
  const UInt32 cookie = inCommand.cookie;
  if (inWorker->running && inWorker->running->queuedCookie == cookie) inWorker->running->cancel.store(1);
  for (WorkerRequest* request : inWorker->queue)
    if (request->queuedCookie == cookie) request->cancel.store(1);
}

WorkerRequest* TakeNextRequest(WorkerThread* inWorker) {
  std::lock_guard<std::mutex> guard(inWorker->queueLock);
  if (inWorker->queue.empty()) return nullptr;
  WorkerRequest* request = inWorker->queue.front();
  inWorker->queue.pop_front();
  inWorker->running = request;
  return request;
}

void FinishRequest(WorkerThread* inWorker, WorkerRequest* inRequest) {
  std::lock_guard<std::mutex> guard(inWorker->queueLock);
  inWorker->running = nullptr;
  ReleaseWorkerRequest(inRequest);
}

void StopListener(WorkerThread* inWorker) {
  inWorker->stopListener.store(true);
  if (CFRunLoopRef loop = inWorker->runLoop.load()) CFRunLoopStop(loop);
  if (inWorker->listener.joinable()) inWorker->listener.join();
}

void FreeWorker(WorkerThread* inWorker) {
  gWorker = nullptr;
  for (WorkerRequest* request : inWorker->queue) ReleaseWorkerRequest(request);
  inWorker->queue.clear();
  delete inWorker;
}

// A failure that ends Vantrel's start: to the system log, and to the
// standard error it inherited, where whoever started it reads why.
__attribute__((format(printf, 1, 2))) void StartFailure(const char* inFormat, ...) {
  va_list args;
  va_start(args, inFormat);
  va_list copy;
  va_copy(copy, args);
  vsyslog(LOG_NOTICE, inFormat, args);
  if (!TrxLogEnabled()) {  // with the diagnostic log on, the system log's lines go there already
    std::fprintf(stderr, "Vantrel[%d]: ", static_cast<int>(getpid()));
    std::vfprintf(stderr, inFormat, copy);
    std::fputc('\n', stderr);
  }
  va_end(copy);
  va_end(args);
}

int RunWorkerLoop(WorkerThread* inWorker) {
  bool holdsMutex = true;
  for (;;) {
    EventRecord event;
    // The first pass only serves what is ready, so that the listener takes
    // requests from the start; later passes sleep until the listener wakes
    // the loop for a request or the quit command (or the sleep passes).
    WaitNextEvent(everyEvent, &event, holdsMutex ? 0 : 15, nullptr);

    if (inWorker->listenerState.load() == kListenerFailed) {
      const OSErr why = inWorker->listenerError.load();
      if (why == noErr) {
        StartFailure("Couldn't create the port %s: %d", kExportMessagePortName, dupFNErr);
      } else {
        const std::string dir = MessagePortDirectoryPath();
        struct stat info;
        if (lstat(dir.c_str(), &info) == 0 && info.st_uid != geteuid())
          StartFailure("Couldn't create the port %s: the port folder %s belongs to someone else",
                       kExportMessagePortName, dir.c_str());
        else
          StartFailure("Couldn't create the port %s: the port folder %s cannot be used (%d)",
                       kExportMessagePortName, dir.c_str(), why);
      }
      StopListener(inWorker);
      if (holdsMutex) gListenerMutex.unlock();
      FreeWorker(inWorker);
      return why == noErr ? dupFNErr : why;
    }

    // The quit flag is read before the queue: every request queued before
    // the quit command is then seen and still runs.
    const bool quit = inWorker->quit.load() != 0;
    if (WorkerRequest* request = TakeNextRequest(inWorker)) {
      DoExport(request);
      FinishRequest(inWorker, request);
      continue;
    }
    if (quit) {
      StopListener(inWorker);
      if (holdsMutex) gListenerMutex.unlock();
      FreeWorker(inWorker);
      return 0;
    }
    if (holdsMutex) {
      gListenerMutex.unlock();
      holdsMutex = false;
    }
  }
}

}  // namespace

void SetRequestAllocationFailureForTesting(bool inFail) { gFailRequestAllocation = inFail; }

OSStatus CreateWorkerRequest(WorkerThread* inWorker, WorkerRequest** outRequest) {
  if (outRequest == nullptr || inWorker == nullptr) return paramErr;
  *outRequest = nullptr;
  WorkerRequest* request = new (std::nothrow) WorkerRequest;
  if (request == nullptr) return memFullErr;
  request->owner = inWorker;
  request->refCon = gNextRefCon.fetch_add(1);
  request->refCount.fetch_add(1);
  inWorker->refCount.fetch_add(1);
  *outRequest = request;
  return noErr;
}

void ReleaseWorkerRequest(WorkerRequest* inRequest) {
  if (inRequest == nullptr) return;
  if (inRequest->refCount.fetch_sub(1) != 1) return;
  inRequest->owner->refCount.fetch_sub(1);
  CFRelease(inRequest->data);
  delete inRequest;
}

CFDataRef myMessagePortListenerProc(CFMessagePortRef, SInt32, CFDataRef inData, void* inWorker) {
  WorkerThread* worker = static_cast<WorkerThread*>(inWorker);
  if (inData == nullptr || worker == nullptr) return nullptr;
  const CFIndex length = CFDataGetLength(inData);
  if (length < 1) return nullptr;  // an empty message has no command
  ExportCommandFields command;
  const bool understood = DecodeExportCommand(CFDataGetBytePtr(inData), static_cast<size_t>(length), command);

  CFDataRef reply = nullptr;
  {
    std::lock_guard<std::mutex> guard(gListenerMutex);
    switch (command.command) {
      case kExportCommandExport:
        QueueExportRequest(worker, inData, reply);
        break;
      case kExportCommandCancel:
        if (understood) CancelExport(worker, command);  // a cancel of 2 to 4 bytes is ignored
        break;
      case kExportCommandQuit:
        worker->quit.exchange(1);
        break;
      default:  // the heartbeat and unknown commands change nothing
        break;
    }
  }
  gListenerCondition.notify_all();
  // The main thread need not sleep on until it sees a new request or the quit.
  if (command.command == kExportCommandExport || command.command == kExportCommandQuit) {
    const ProcessSerialNumber self{0, kCurrentProcess};
    WakeUpProcess(&self);
  }
  return reply;
}

void MessagePortListener(void* inWorker) {
  WorkerThread* worker = static_cast<WorkerThread*>(inWorker);
  CFMessagePortContext context{0, worker, nullptr, nullptr, nullptr};

  // A Vantrel that is ending may still hold the name: try again for a while,
  // then tell the main thread, which ends the program.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PortRetryMillis());
  for (;;) {
    worker->localPort = CFMessagePortCreateLocal(kCFAllocatorDefault, PortName(kExportMessagePortName),
                                                 myMessagePortListenerProc, &context, nullptr);
    if (worker->localPort) break;
    // An unusable port folder stays so: no point waiting for it.
    std::string dir;
    if (OSErr dirErr = GetMessagePortDirectory(dir); dirErr != noErr) {
      worker->listenerError.store(dirErr);
      worker->listenerState.store(kListenerFailed);
      return;
    }
    if (worker->stopListener.load() || std::chrono::steady_clock::now() >= deadline) {
      worker->listenerState.store(kListenerFailed);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  {
    std::lock_guard<std::mutex> guard(worker->remoteLock);
    worker->remotePort = CFMessagePortCreateRemote(kCFAllocatorDefault, PortName(kExportProgressPortName));
  }
  worker->source = CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, worker->localPort, 0);
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  if (worker->source) CFRunLoopAddSource(loop, worker->source, kCFRunLoopDefaultMode);
  worker->quit.store(0);
  worker->runLoop.store(loop);
  worker->listenerState.store(kListenerServing);
  if (!worker->stopListener.load()) CFRunLoopRun();

  // No lingering here: every reply went out before the run loop stopped,
  // and a second Vantrel waits for the name anyway (PortRetryMillis).
  CFMessagePortInvalidate(worker->localPort);
  if (worker->source) CFRunLoopRemoveSource(loop, worker->source, kCFRunLoopDefaultMode);
  CFRelease(worker->localPort);
  worker->localPort = nullptr;
  {
    std::lock_guard<std::mutex> guard(worker->remoteLock);
    if (worker->remotePort) CFRelease(worker->remotePort);
    worker->remotePort = nullptr;
  }
  if (worker->source) CFRelease(worker->source);
  worker->source = nullptr;
}

OSStatus ProcessAppEvents(EventHandlerCallRef, EventRef inEvent, void*) {
  if (GetEventClass(inEvent) != kEventClassApplication || GetEventKind(inEvent) != kEventAppTerminated)
    return eventNotHandledErr;
  ProcessSerialNumber psn;
  OSStatus err =
      GetEventParameter(inEvent, kEventParamProcessID, typeProcessSerialNumber, nullptr, sizeof(psn), nullptr, &psn);
  if (err != noErr) return err;
  Boolean same = false;
  if (SameProcess(&psn, &gOwnerPSN, &same) == noErr && same) ExitToShell();
  return noErr;
}

void MoviesError(OSErr inError, SInt32) { syslog(LOG_NOTICE, "%s: %d", "MoviesError", inError); }

void SendExportStatus(WorkerThread* inWorker, const ExportStatus& inStatus) {
  if (inWorker == nullptr) return;
  UInt8 bytes[kExportStatusSize];
  EncodeExportStatus(inStatus, bytes);
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes, kExportStatusSize);
  if (data == nullptr) return;
  std::lock_guard<std::mutex> guard(inWorker->remoteLock);
  // The application's port may come after us: look again for every record.
  if (inWorker->remotePort == nullptr)
    inWorker->remotePort = CFMessagePortCreateRemote(kCFAllocatorDefault, PortName(kExportProgressPortName));
  if (inWorker->remotePort) {
    SInt32 result = CFMessagePortSendRequest(inWorker->remotePort, kExportMessageID, data, kExportStatusSendTimeout,
                                             kExportStatusReceiveTimeout, nullptr, nullptr);
    if (result == kCFMessagePortIsInvalid) {
      CFRelease(inWorker->remotePort);
      inWorker->remotePort = nullptr;
    }
  }
  CFRelease(data);
}

void SendExportStatus(WorkerRequest* inRequest, UInt16 inKind, UInt16 inPhase, Fixed inFraction, OSErr inError) {
  if (inRequest == nullptr) return;
  ExportStatus status{inKind, inPhase, inFraction, inError, 0, inRequest->cookie};
  SendExportStatus(inRequest->owner, status);
}

OSErr ReportExportProgress(WorkerRequest* inRequest, UInt16 inPhase, Fixed inFraction) {
  if (inRequest == nullptr) return paramErr;
  if (ExportCancelled(inRequest)) return userCanceledErr;
  SendExportStatus(inRequest, kExportStatusProgress, inPhase, inFraction, noErr);
  return noErr;
}

bool ExportCancelled(const WorkerRequest* inRequest) { return inRequest && inRequest->cancel.load() != 0; }

WorkerRequest* WorkerRequestFromRefCon(SInt32 inRefCon) {
  WorkerThread* worker = gWorker;
  if (worker == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(worker->queueLock);
  return (worker->running && worker->running->refCon == inRefCon) ? worker->running : nullptr;
}

int VantrelMain(int, char**) {
  // The system log. Its lines go to standard error as well only with the
  // diagnostic log on (TRX_LOG=1): every toolbox error is logged, the lookup
  // of a track the movie does not have included, and a successful export
  // should not print errors where Vantrel was started. A failed start says
  // why there in any case (StartFailure).
  openlog("Vantrel", LOG_PID | (TrxLogEnabled() ? LOG_PERROR : 0), LOG_USER);
  if (EnterMovies() == noErr) SetMoviesErrorProc(MoviesError, 0);
  // Decoders of every codec libavcodec knows, and foreign containers.
  InstallFFmpegMovieComponents();

  static const EventTypeSpec kTerminated = {kEventClassApplication, kEventAppTerminated};
  InstallApplicationEventHandler(NewEventHandlerUPP(ProcessAppEvents), 1, &kTerminated, nullptr, nullptr);

  ProcessSerialNumber self = {0, kCurrentProcess};
  ProcessInfoRec info{};
  info.processInfoLength = 60;
  if (GetProcessInformation(&self, &info) == noErr) gOwnerPSN = info.processLauncher;

  WorkerThread* worker = new (std::nothrow) WorkerThread;
  if (worker == nullptr) return memFullErr;
  gWorker = worker;
  if (!ConfigureStandInExportFromEnvironment()) SetExportEngine(MovieExportEngine);

  PassStartGate();
  gListenerMutex.lock();
  try {
    worker->listener = std::thread(MessagePortListener, worker);
  } catch (const std::system_error& e) {
    gListenerMutex.unlock();
    FreeWorker(worker);
    return e.code().value();
  }
  return RunWorkerLoop(worker);
}
