// The frame renderer and the control track's input and output: reading the
// correction sample that covers a movie time, and the render parameters
// ('RdPr') and stabilisation settings ('MoSt') stored with the track.
#pragma once

#include "media/MotionSettings.h"
#include "platform/base/MacTypes.h"
#include "platform/movies/Movies.h"

class CMovieRendering {
 public:
  // Control-track input and output.
  static bool GetTweenSample(Movie inMovie, SInt32 inTime, MatrixRecord& outFirst, MatrixRecord& outSecond,
                             float& outFirstMeasure, float& outSecondMeasure, Track* outTrack);
  static OSErr ReadRenderParamsFromTrack(Track inTrack, RenderFrameParams& ioParams);
  static OSErr ReadMoSettingsFromTrack(Track inTrack, MotionSettings& ioSettings);
  static OSErr WriteRenderParamsToTrack(Track inTrack, RenderFrameParams& inParams);
  static OSErr WriteMoSettingsToTrack(Track inTrack, MotionSettings& inSettings);
};
