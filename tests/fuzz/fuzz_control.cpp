// A control-track sample, rendered in every field and border mode.
#include "media/CTweenTracks.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TweenSample s;
  if (!TweenSampleFromBytes(data, size, s)) return 0;
  static fuzz::Frames frames(24, 16);
  RenderFrameParams p;
  p.firstMatrix = s.first;
  p.secondMatrix = s.second;
  p.firstMeasure = s.firstMeasure;
  p.secondMeasure = s.secondMeasure;
  p.margins = Rect{1, 2, 3, 1};
  for (SInt32 interlace : {2, 3, 4}) {
    p.interlaceMode = interlace;
    fuzz::RenderEveryMode(frames, p);
  }
  return 0;
}
