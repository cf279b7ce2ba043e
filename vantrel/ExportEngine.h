// The movie export of one request: the movie rebuilt from the request, its
// sound pre-exported to a private temporary file and read back through sound
// converters, the video rendered by the video data source, all fed to the
// chosen movie exporter.
#pragma once

#include <string>

#include "platform/movies/Movies.h"
#include "vantrel/VantrelWorker.h"

// The export engine Vantrel installs (see SetExportEngine).
OSErr MovieExportEngine(WorkerRequest* inRequest, const ExportRequestFields& inFields);

// Exports the movie's sound with the sound-only exporter `inFileType` into a
// new private temporary file "Tremb_…" in the temporary-items folder. On
// success outPath names the file (the caller removes it); on failure nothing
// is left behind.
OSErr ExportMovieSound(Movie inMovie, std::string& outPath, WorkerRequest* inRequest, OSType inFileType);
