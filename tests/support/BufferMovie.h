// A raw movie in memory whose frames are drawn into an ARGB buffer.
#pragma once

#include <functional>

#include "media/CBuffer.h"
#include "support/movies/RawMovie.h"

namespace testmovies {

// As MakeRawMovie; each frame is drawn into one 8-bit ARGB buffer of the
// movie's size (bounds at 0, 0), reused from frame to frame.
Movie MakeBufferMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames,
                      const std::function<void(SInt32 k, CBuffer* ioFrame)>& inDraw,
                      const RawMovieOptions& inOptions = {});

}  // namespace testmovies
