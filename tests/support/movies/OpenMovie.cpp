#include "support/movies/OpenMovie.h"

#include "platform/files/FilePermissions.h"
#include "platform/files/Files.h"

namespace testmovies {

OSErr OpenMovieAt(const std::string& inPath, Movie* outMovie) {
  *outMovie = nullptr;
  FSSpec spec;
  OSErr err = FSMakeFSSpecFromPath(inPath, &spec);
  if (err != noErr) return err;
  SInt16 ref = 0;
  err = OpenMovieFile(&spec, &ref, fsRdPerm);
  if (err != noErr) return err;
  SInt16 resID = 0;
  err = NewMovieFromFile(outMovie, ref, &resID, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  return err;
}

Movie OpenMovieAt(const std::string& inPath) {
  Movie movie = nullptr;
  if (OpenMovieAt(inPath, &movie) == noErr) return movie;
  if (movie != nullptr) DisposeMovie(movie);
  return nullptr;
}

}  // namespace testmovies
