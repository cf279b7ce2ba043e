// A movie made in memory from raw 32-bit frames that the caller draws.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/movies/Movies.h"

namespace testmovies {

struct RawMovieOptions {
  TimeScale timeScale = 600;     // the media's, and the movie's unless keepMovieScale
  TimeValue frameDuration = 20;  // in units of the time scale
  bool keepMovieScale = false;   // leave the new movie's own time scale
  const char* compressorName = nullptr;  // the description's name, when given
};

// Draws frame k: inRowBytes is width × 4, pixels are A, R, G, B bytes.
using RawFrameDrawer = std::function<void(SInt32 k, UInt8* outPixels, size_t inRowBytes)>;

// One video track of inFrames 'raw ' 32-bit samples (media kept in a handle),
// inserted whole at time 0. The caller disposes of the movie.
Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames, const RawFrameDrawer& inDraw,
                   const RawMovieOptions& inOptions = {});

// A sound track of 16-bit big-endian PCM ('twos') at inRate frames a second
// (also the media's time scale): inPCM as one sample of inPCM.size() / (2 ×
// inChannels) frames, inserted whole at time 0. Answers AddMediaSample's result.
OSErr AddPcmSoundTrack(Movie inMovie, UInt32 inRate, SInt16 inChannels, const std::vector<UInt8>& inPCM,
                       Track* outTrack = nullptr);

}  // namespace testmovies
