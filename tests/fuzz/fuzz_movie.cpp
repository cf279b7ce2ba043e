// Movie file bytes: open, walk the samples, draw frames.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = EnterMovies() == noErr;
  (void)entered;
  Handle h = fuzz::HandleOfBytes(data, size);
  Movie m = nullptr;
  if (NewMovieFromHandle(&m, h, newMovieActive | newMovieDontAskUnresolvedDataRefs, nullptr) == noErr && m) {
    fuzz::WalkAndDraw(m);
    // What was read can be written again.
    Handle out = NewHandle(0);
    PutMovieIntoHandle(m, out);
    DisposeHandle(out);
    DisposeMovie(m);
  }
  DisposeHandle(h);
  return 0;
}
