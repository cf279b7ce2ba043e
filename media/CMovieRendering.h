// The frame renderer and the control track's input and output: reading the
// correction sample that covers a movie time, and the render parameters
// ('RdPr') and stabilisation settings ('MoSt') stored with the track.
#pragma once

#include "media/MotionSettings.h"
#include "platform/base/MacTypes.h"
#include "platform/graphics/CGGraphics.h"
#include "platform/movies/Movies.h"

class CBuffer;

// The renderer's field modes: which matrix and rows a draw uses.
enum ERenderFieldMode : SInt16 {
  kRenderFrame = 1,             // whole frame, first matrix
  kRenderFirstField = 2,        // first field onto the first field
  kRenderSecondField = 3,       // second field onto the second field
  kRenderBothFields = 4,        // 2 then 3
  kRenderFirstFieldStretch = 5, // first field over the whole frame
  kRenderSecondFieldStretch = 6 // second field over the whole frame
};

class CMovieRendering {
 public:
  // Renders one stabilised frame of an 8-bit source into an 8-bit destination.
  static OSErr RenderFrame(CBuffer* inSource, CBuffer* inDest, RenderFrameParams* inParams);
  static OSErr TransformBuffer(CBuffer* inSource, CBuffer* inDest, RenderFrameParams* inParams,
                               CGImageAlphaInfo inAlpha);
  static OSErr TransformBuffer_Quartz(CBuffer* inSource, CBuffer* inDest, MatrixRecord* inMatrix, SInt16 inFieldMode,
                                      SInt32 inQuality, CGImageAlphaInfo inAlpha);
  static CGContextRef CreateContextFromBuffer(CBuffer* inBuffer, SInt16 inFieldMode);
  static CGImageRef CreateImageFromBuffer(CBuffer* inBuffer, SInt16 inFieldMode, bool inInterpolate,
                                          CGImageAlphaInfo inAlpha);
  static OSErr PrepareAlphaMargin(CBuffer* inBuffer, Rect& inMargins);
  static OSErr InterpolateMargins(CBuffer* inBuffer);
  // Whether the margin walk takes runs along the picture's edge at once (the
  // default) or one step at a time, as a reference. For tests.
  static void SetEdgeRunsForTesting(bool inTakeRuns);
  static bool GetVideoSample(Movie inMovie, SInt32 inTime, Handle outData, SampleDescriptionHandle outDescription,
                             SInt32* outDescriptionIndex, SInt16* outSampleFlags);

  static bool GetInterlaceInfo(Media inMedia, SInt32* outFields, SInt32* outDetail);
  static OSErr PaintMarginWithColor(CBuffer* inBuffer, const RGBColor& inColor);
  static OSErr CopyMargin(CBuffer* inSource, CBuffer* inDest);
  static OSErr EraseMargins(CBuffer* inBuffer, Rect& inMargins);
  static OSErr SetAlphaValue(CBuffer* inBuffer, UInt8 inAlpha, const Rect* inRect);
  static OSErr CopyAlphaToChannels(CBuffer* inSource, CBuffer* inDest, const Rect* inRect);
  static OSErr ShowCorrelation(CBuffer* inBuffer, float inFirst, float inSecond);

  // Control-track input and output.
  static bool GetTweenSample(Movie inMovie, SInt32 inTime, MatrixRecord& outFirst, MatrixRecord& outSecond,
                             float& outFirstMeasure, float& outSecondMeasure, Track* outTrack);
  static OSErr ReadRenderParamsFromTrack(Track inTrack, RenderFrameParams& ioParams);
  static OSErr ReadMoSettingsFromTrack(Track inTrack, MotionSettings& ioSettings);
  static OSErr WriteRenderParamsToTrack(Track inTrack, RenderFrameParams& inParams);
  static OSErr WriteMoSettingsToTrack(Track inTrack, MotionSettings& inSettings);
};
