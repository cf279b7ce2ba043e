#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/Movies.h"
#include "vantrel/VantrelWorker.h"

namespace {

// The movie export of one request is not part of this program yet: without
// an engine every request fails honestly.
OSErr NoExportEngine(WorkerRequest*, const ExportRequestFields&) { return unimpErr; }

ExportEngineProc gExportEngine = NoExportEngine;

struct SStandInSettings {
  int steps = 5;
  int intervalMillis = 50;
};
SStandInSettings gStandIn;

// Waits for events for a while, as the export's data sources do, so that
// the end of the launcher is seen during long exports.
void PauseWithEvents(int inMillis) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(inMillis);
  do {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    UInt32 ticks = static_cast<UInt32>(left.count() > 0 ? left.count() * 60 / 1000 + 1 : 0);
    EventRecord event;
    WaitNextEvent(everyEvent, &event, ticks, nullptr);
  } while (std::chrono::steady_clock::now() < deadline);
}

// The destination of a cancelled export goes: the application keeps no
// part of a movie the user stopped. The movie is written beside it and only
// takes its name when complete, so what stands there is the application's
// empty placeholder or an earlier movie; an earlier movie stays.
void DeleteDestination(const ExportRequestFields& inFields) {
  if (!inFields.hasDestination || inFields.destinationLength == 0) return;
  Handle alias = nullptr;
  if (PtrToHand(inFields.destination, &alias, static_cast<SInt32>(inFields.destinationLength)) != noErr) return;
  FSSpec target;
  Boolean changed = false;
  if (ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(alias), &target, &changed) == noErr) {
    struct stat info;
    if (::stat(FSSpecPath(target).c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
      DeleteMovieFile(&target);
  }
  DisposeHandle(alias);
}

}  // namespace

void SetExportEngine(ExportEngineProc inEngine) { gExportEngine = inEngine ? inEngine : NoExportEngine; }

OSErr DoExport(WorkerRequest* inRequest) {
  if (inRequest == nullptr) return paramErr;
  OSErr result = noErr;
  ExportRequestFields fields;
  try {
    OSErr err = ParseExportRequest(CFDataGetBytePtr(inRequest->data),
                                   static_cast<size_t>(CFDataGetLength(inRequest->data)), fields);
    inRequest->cookie = fields.cookie;
    ThrowIfOSErr_(err);
    if (!fields.hasMovie || !fields.hasSettings) Throw_(err_NilPointer);
    // An export cancelled while it waited in the queue does not start.
    if (ExportCancelled(inRequest)) Throw_(userCanceledErr);
    ThrowIfOSErr_(gExportEngine(inRequest, fields));
  } catch (...) {
    result = OSErrOfCurrent();
  }
  // Only an export that was stopped loses its file: a cancel that arrives
  // after a clean end leaves the finished movie alone. The file goes before
  // the done record, so that whoever hears it finds the destination as it
  // stays.
  if (result != noErr && ExportCancelled(inRequest)) DeleteDestination(fields);
  if (result != noErr) SendExportStatus(inRequest, kExportStatusError, kExportPhaseMovie, 0, result);
  inRequest->reported.store(1);
  SendExportStatus(inRequest, kExportStatusDone, kExportPhaseMovie, 0, noErr);
  inRequest->finished.store(1);
  return result;
}

OSErr StandInExport(WorkerRequest* inRequest, const ExportRequestFields&) {
  OSErr err = ReportExportProgress(inRequest, kExportPhaseSound, 0);
  if (err == noErr) err = ReportExportProgress(inRequest, kExportPhaseSound, fixed1);
  for (int step = 0; err == noErr && step <= gStandIn.steps; ++step) {
    err = ReportExportProgress(inRequest, kExportPhaseMovie,
                               static_cast<Fixed>(static_cast<SInt64>(fixed1) * step / gStandIn.steps));
    if (err == noErr && step < gStandIn.steps) PauseWithEvents(gStandIn.intervalMillis);
  }
  return err;
}

bool ConfigureStandInExportFromEnvironment() {
  const char* text = std::getenv("VANTREL_STAND_IN_EXPORT");
  if (text == nullptr || *text == 0) return false;
  int steps = 5, interval = 50;
  if (std::sscanf(text, "%d:%d", &steps, &interval) < 1) return false;
  gStandIn.steps = steps < 1 ? 1 : (steps > 10000 ? 10000 : steps);
  gStandIn.intervalMillis = interval < 0 ? 0 : (interval > 60000 ? 60000 : interval);
  SetExportEngine(StandInExport);
  return true;
}
