// Vantrel, the background export program: its worker context, the request
// queue, the port listener and the status records it sends.
//
// Two threads: the main thread runs the event loop, the queue and every
// export; the listener thread runs its own run loop with the port
// "TremblorixExportMessagePort" and only queues requests and sets the cancel
// and quit flags.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/Events.h"
#include "platform/ipc/Processes.h"
#include "vantrel/ExportProtocol.h"

struct WorkerRequest;

enum : SInt32 {
  kListenerStarting = 0,
  kListenerServing = 1,
  kListenerFailed = -1,  // the port could not be made: the program must end
};

// The one worker context of the program.
struct WorkerThread {
  // The number of live requests (queued or running).
  std::atomic<SInt32> refCount{0};
  std::thread listener;
  CFMessagePortRef localPort = nullptr;
  CFRunLoopSourceRef source = nullptr;
  std::atomic<CFRunLoopRef> runLoop{nullptr};
  // The application's status port; made again on the next record when missing.
  std::mutex remoteLock;
  CFMessagePortRef remotePort = nullptr;
  // The queue, and the request the main thread is exporting.
  std::mutex queueLock;
  std::deque<WorkerRequest*> queue;
  WorkerRequest* running = nullptr;
  std::atomic<UInt8> quit{0};
  std::atomic<bool> stopListener{false};
  std::atomic<SInt32> listenerState{kListenerStarting};
  // Why the port could not be made when its folder is unusable (noErr: the name is taken).
  std::atomic<OSErr> listenerError{noErr};
};

// One queued request.
struct WorkerRequest {
  std::atomic<SInt32> refCount{0};
  WorkerThread* owner = nullptr;
  // Set just before the done record goes out: a bare cancel arriving after
  // that is for the export behind this one, not for this one.
  std::atomic<UInt8> reported{0};
  std::atomic<UInt8> finished{0};
  // Set by a cancel that names this export; read by the progress reports.
  std::atomic<UInt8> cancel{0};
  // The application's whole message, copied.
  CFDataRef data = nullptr;
  // The cookie as seen when the request was queued (for cancels by cookie)
  // and as read by the export.
  UInt32 queuedCookie = 0;
  UInt32 cookie = 0;
  // Names the request to the movie toolbox's 32-bit progress reference.
  SInt32 refCon = 0;
};

// A zeroed request owned by the worker (both counts incremented). paramErr
// without an out pointer, memFullErr when memory is short.
OSStatus CreateWorkerRequest(WorkerThread* inWorker, WorkerRequest** outRequest);
// At the last reference: the owner's count goes down, the data and the request go.
void ReleaseWorkerRequest(WorkerRequest* inRequest);

// Makes every request fail to be kept, as when memory is short (tests).
void SetRequestAllocationFailureForTesting(bool inFail);

// The callback of "TremblorixExportMessagePort" (context info: the worker).
// An export request that cannot be kept gets no reply; the application is
// told by an error record (memFullErr) and the done record for its cookie.
CFDataRef myMessagePortListenerProc(CFMessagePortRef inPort, SInt32 inMsgID, CFDataRef inData, void* inWorker);
// The body of the listener thread.
void MessagePortListener(void* inWorker);
// The handler of kEventAppTerminated: ends the program when its launcher ends.
OSStatus ProcessAppEvents(EventHandlerCallRef inCallRef, EventRef inEvent, void* inUserData);
// The movie toolbox's error procedure: the log line "MoviesError: <code>".
void MoviesError(OSErr inError, SInt32 inRefCon);

// Status records to the application (one way, 1 s time-outs; lost when undeliverable).
void SendExportStatus(WorkerThread* inWorker, const ExportStatus& inStatus);
void SendExportStatus(WorkerRequest* inRequest, UInt16 inKind, UInt16 inPhase, Fixed inFraction, OSErr inError);
// A progress record for the request; userCanceledErr (and no record) when
// its export was cancelled.
OSErr ReportExportProgress(WorkerRequest* inRequest, UInt16 inPhase, Fixed inFraction);
bool ExportCancelled(const WorkerRequest* inRequest);
// The running request whose refCon this is (nullptr when none).
WorkerRequest* WorkerRequestFromRefCon(SInt32 inRefCon);

// One export end to end: reads the request, runs the export engine, and
// reports at most one error record and always the done record last.
OSErr DoExport(WorkerRequest* inRequest);
// The work of one export once its request has been read; returns its result.
typedef OSErr (*ExportEngineProc)(WorkerRequest* inRequest, const ExportRequestFields& inFields);
void SetExportEngine(ExportEngineProc inEngine);

// A stand-in for the movie export that tests select with the environment
// variable VANTREL_STAND_IN_EXPORT="<steps>:<milliseconds>": it reports the
// sound phase, then the movie phase in <steps> steps <milliseconds> apart,
// waiting for events in between, and obeys cancel. Its small text file is
// written beside the destination and renamed over it at the end, as a real
// export writes its movie. With VANTREL_STAND_IN_HOLD naming a path, each
// export waits before its last step for as long as a file is there, so that
// a test can count on it still running.
OSErr StandInExport(WorkerRequest* inRequest, const ExportRequestFields& inFields);
bool ConfigureStandInExportFromEnvironment();

// The launching process, whose end ends the program.
extern ProcessSerialNumber gOwnerPSN;
// The program: start-up, then the worker loop; returns the exit status.
int VantrelMain(int argc, char** argv);
