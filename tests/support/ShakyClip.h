// A hand-held look at a photograph-like scene coded with libx264 as cameras
// code it (B-frames, a key frame every so often), for the tests and
// benchmarks that need real-looking H.264 footage.
#pragma once

#include <functional>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "support/ShakyScene.h"

namespace shaky {

struct H264ClipSpec {
  const char* container = "mp4";  // the libavformat muxer's name
  int width = 1280, height = 720;
  int frames = 30;
  int rate = 30;  // frames a second
  AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
  int bFrames = 3;
  int gop = 30;  // frames from one key frame to the next
  const char* crf = "20";
  // The colour stated as HD cameras state it (BT.709, the range of the pixel
  // format), the pictures converted with that matrix and rounded accurately.
  bool hdColour = false;
};

// Writes inSpec.frames pictures of inTexture, frame k seen through
// inPoseOf(k); every picture lasts one frame. False when the encoder or
// the muxer refuses.
bool WriteH264Clip(const std::string& inPath, const H264ClipSpec& inSpec, const Texture& inTexture,
                   const std::function<Pose(int inFrame)>& inPoseOf);

}  // namespace shaky
