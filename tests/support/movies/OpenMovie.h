// A movie file opened by its path, as the tests and benchmarks read back
// what they wrote: the file is closed again once its movie is made.
#pragma once

#include <string>

#include "platform/movies/Movies.h"

namespace testmovies {

// The movie of the file at inPath (read only) in *outMovie; answers the
// first error of making its file spec, opening the file or reading its
// movie. *outMovie is what the reading left (nil before it).
OSErr OpenMovieAt(const std::string& inPath, Movie* outMovie);

// The same, answering nil on any error. The caller disposes of the movie.
Movie OpenMovieAt(const std::string& inPath);

}  // namespace testmovies
