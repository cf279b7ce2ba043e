// The importer of foreign containers (MP4, AVI, Matroska, MPEG, DV...): a
// toolbox movie with one track per video and sound stream of the file, whose
// media refer to the file's own bytes read-only with the container's exact
// sample tables. The movie has no default data reference, so saving it asks
// for a new file. Installed by InstallFFmpegMovieComponents (MovieFFCodecs.h).
#pragma once

#include <string>

#include "platform/movies/Movies.h"

// A MovieFileImporter: noErr and a new movie, noMovieFound for a file that
// holds no readable movie, fnfErr for a missing one.
OSErr ImportMovieWithFFmpeg(const std::string& inPath, Movie* outMovie);
