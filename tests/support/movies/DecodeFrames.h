// Every picture of a movie file's video decoded by libavcodec alone, apart
// from the movie toolbox: the ground truth the tests compare exports with.
#pragma once

#include <functional>
#include <string>

extern "C" {
#include <libavutil/frame.h>
}

namespace testmovies {

// Calls inEach with every decoded picture of the file's best video stream,
// in display order, the decoder flushed at the end. False when the file
// does not open or has no video stream.
bool DecodeVideoFrames(const std::string& inPath, const std::function<void(const AVFrame& inFrame)>& inEach);

}  // namespace testmovies
