// Foreign containers through the FFmpeg importer: the bytes as a file, opened
// as a movie, walked and drawn.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/files/Files.h"
#include "platform/movies/MovieFFCodecs.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = [] {
    EnterMovies();
    InstallFFmpegMovieComponents();
    return true;
  }();
  (void)entered;
  static const std::string path = "/tmp/trx-fuzz-foreign-" + std::to_string(getpid()) + ".mov";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  FSSpec spec;
  FSMakeFSSpecFromPath(path, &spec);
  SInt16 ref = 0;
  if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) return 0;
  Movie m = nullptr;
  if (NewMovieFromFile(&m, ref, nullptr, nullptr, newMovieActive | newMovieDontAskUnresolvedDataRefs, nullptr) ==
          noErr &&
      m) {
    fuzz::WalkAndDraw(m);
    DisposeMovie(m);
  }
  CloseMovieFile(ref);
  unlink(path.c_str());
  return 0;
}
