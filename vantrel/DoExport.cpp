#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/files/PartialFiles.h"
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
  std::string hold;  // while a file is at this path, the export waits before its last step
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
  // The movie is written beside the destination and takes its name only when
  // complete: a stopped or failed export has removed what it wrote, and
  // whatever stood at the destination before stays as it was.
  if (result != noErr) SendExportStatus(inRequest, kExportStatusError, kExportPhaseMovie, 0, result);
  inRequest->reported.store(1);
  SendExportStatus(inRequest, kExportStatusDone, kExportPhaseMovie, 0, noErr);
  inRequest->finished.store(1);
  return result;
}

// Writes its small file as a real export does: beside the destination,
// locked while written, renamed over the destination when done.
OSErr StandInExport(WorkerRequest* inRequest, const ExportRequestFields& inFields) {
  std::string destination, partial;
  int fd = -1;
  if (inFields.hasDestination && inFields.destinationLength > 0) {
    Handle alias = nullptr;
    if (PtrToHand(inFields.destination, &alias, static_cast<SInt32>(inFields.destinationLength)) == noErr) {
      FSSpec target;
      Boolean changed = false;
      if (ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(alias), &target, &changed) == noErr)
        destination = FSSpecPath(target);
      DisposeHandle(alias);
    }
  }
  if (!destination.empty()) {
    partial = PartialPatternFor(destination);
    fd = OpenPartialFile(partial);
    if (fd < 0) return ioErr;
    static const char kText[] = "stand-in export\n";
    if (::write(fd, kText, sizeof kText - 1) != static_cast<ssize_t>(sizeof kText - 1)) {
      ::unlink(partial.c_str());
      ReleasePartialFile(fd);
      return ioErr;
    }
    ::fchmod(fd, 0644);
  }
  OSErr err = ReportExportProgress(inRequest, kExportPhaseSound, 0);
  if (err == noErr) err = ReportExportProgress(inRequest, kExportPhaseSound, fixed1);
  for (int step = 0; err == noErr && step <= gStandIn.steps; ++step) {
    // Held by the test: still running, serving events and obeying cancel,
    // until the test removes the file.
    while (step == gStandIn.steps && !gStandIn.hold.empty() && ::access(gStandIn.hold.c_str(), F_OK) == 0) {
      PauseWithEvents(10);
      if (ExportCancelled(inRequest)) {
        err = userCanceledErr;
        break;
      }
    }
    if (err != noErr) break;
    err = ReportExportProgress(inRequest, kExportPhaseMovie,
                               static_cast<Fixed>(static_cast<SInt64>(fixed1) * step / gStandIn.steps));
    if (err == noErr && step < gStandIn.steps) PauseWithEvents(gStandIn.intervalMillis);
  }
  if (fd >= 0) {
    if (err == noErr && ::rename(partial.c_str(), destination.c_str()) != 0) err = ioErr;
    if (err != noErr) ::unlink(partial.c_str());
    ReleasePartialFile(fd);
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
  const char* hold = std::getenv("VANTREL_STAND_IN_HOLD");
  gStandIn.hold = hold ? hold : "";
  SetExportEngine(StandInExport);
  return true;
}
