// The movie toolbox's progress procedures of the main export and of the
// sound pre-export. Their reference is the request's refCon.
#include "vantrel/MovieProgress.h"

#include "vantrel/VantrelWorker.h"

OSErr videoMovieProgressProc(Movie, SInt16, SInt16, Fixed inPercentDone, SInt32 inRefCon) {
  WorkerRequest* request = WorkerRequestFromRefCon(inRefCon);
  return request ? ReportExportProgress(request, kExportPhaseMovie, inPercentDone) : noErr;
}

OSErr soundMovieProgressProc(Movie, SInt16, SInt16, Fixed inPercentDone, SInt32 inRefCon) {
  WorkerRequest* request = WorkerRequestFromRefCon(inRefCon);
  return request ? ReportExportProgress(request, kExportPhaseSound, inPercentDone) : noErr;
}
