// libavformat and libavcodec alone, as the yardstick the movie toolbox is
// measured against in the benchmarks: every video frame of a file decoded,
// nothing converted or drawn.
#pragma once

#include <string>

namespace testmovies {

struct PlainDecodeFigures {
  int frames = 0;
  double seconds = 0;           // from before the decoder is made to the last frame
  double decodeSeconds = 0;     // from the first packet sent to the last frame
  double processorSeconds = 0;  // of the whole process over decodeSeconds
};

// inThreads 0: the toolbox's default thread count. Frames 0 when the file
// does not open or has no decodable video.
PlainDecodeFigures PlainDecode(const std::string& inPath, int inThreads = 0);

}  // namespace testmovies
