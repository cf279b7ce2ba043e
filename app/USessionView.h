// What the movie document's session and sheets ask of the movie view and
// the time slider, reached through plain calls so that the document's own
// files need not see the view's declarations.
#pragma once

#include "media/MotionSettings.h"
#include "platform/base/MacTypes.h"

class CBuffer;
class CMotionData;
class CMovie;
class CMovieView;
class CTimeSlider;
class LPane;

class USessionView {
 public:
  // All of them do nothing without a view.
  static LPane* AsPane(CMovieView* inView);
  static void UseOffscreenBuffer(CMovieView* inView, CBuffer* inBuffer);
  static void UseMovie(CMovieView* inView, CMovie* inMovie);
  static void SetFrameParams(CMovieView* inView, RenderFrameParams& inParams);
  static void SetDrawingOptions(CMovieView* inView, UInt32 inSet, UInt32 inClear);
  static void SetMotionData(CMovieView* inView, CMotionData* inData);
  static void MovieHasChanged(CMovieView* inView);
  static void Refresh(CMovieView* inView);
  static void SetInfoString(CMovieView* inView, const char* inText);
  // The region of interest; false without a view.
  static bool GetROIRect(CMovieView* inView, Rect& outRect);
  // The size of the picture as the view shows it now; false without a view.
  static bool GetImageSize(CMovieView* inView, SInt32& outWidth, SInt32& outHeight);
  static LPane* AsPane(CTimeSlider* inSlider);
};
