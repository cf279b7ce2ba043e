// The parts of the movie document's analysis, edit session and preview that
// need no window: the drawer's value scales and texts, when a movie needs
// the interlace analysis, the rectangle a tracking run measures, the
// correction matrices recomputed from stored motion, the control track
// written from them (an apply that replaces a track only once the new one
// exists), the frame parameters the preview shows at a time, and the size
// sheet's arithmetic. Main thread only; nothing here keeps state.
#pragma once

#include "media/CMovie.h"
#include "media/MotionSettings.h"
#include "platform/base/MacTypes.h"
#include "platform/movies/Movies.h"

class CMotionData;
class CMovieAction;

// The indicator icons of the time slider: the frame as it is, a correction
// computed in the session, a sample of a stored control track.
constexpr SInt16 kIndicatorNormal = 3000;
constexpr SInt16 kIndicatorSample = 3001;
constexpr SInt16 kIndicatorControl = 3002;



class USessionSupport {
 public:
  // Smoothing-time slider: the time of a slider position, rounded down to
  // tenths of a second, and the position that shows a time.
  static Float32 SmoothingTimeForSlider(SInt32 inValue);
  static SInt32 SliderForSmoothingTime(Float32 inSeconds);
  // "%1.1f s" and "%3.1f %" with the user's decimal separator.
  static void FormatSeconds(Float32 inSeconds, Str255 outText);
  static void FormatPercent(Float32 inPercent, Str255 outText);

  // A result of the interlace analysis is decided when the movie is
  // progressive, or has a field order and a known video standard.
  static bool IsInterlaceDecided(QInterlaceMode inMode, QInterlaceDelay inDelay);
  // The analyse commands measure the interlacing first when it is not decided.
  static bool NeedsInterlaceAnalysis(QInterlaceMode inMode, QInterlaceDelay inDelay);
  // The duration of one field in seconds: 1/50 for the 25 Hz family, else 1/60.
  static float FieldDuration(QInterlaceDelay inDelay);

  // The rectangle a tracking run measures: the region of interest (in
  // display coordinates) mapped to the encoded bounds and clipped to them
  // when it is used, else the encoded bounds. A region that ends up empty
  // measures the whole picture.
  static Rect TrackingRect(bool inUseRegion, const Rect& inRegion, const Rect& inDisplayBounds,
                           const Rect& inEncodedBounds);

  // Reads the movie's motion data when the store has not, and recomputes the
  // correction matrices over the movie's selection (the whole movie when it
  // is empty). outBecameEmpty: the store covered a range before and covers
  // none now (the selection holds no analysed frame).
  static OSErr RecomputeMatrices(CMovie* inMovie, CMotionData& ioData, MotionSettings& ioSettings,
                                 QInterlaceDelay inDelay, bool& outBecameEmpty);

  // A new control track from the store's matrices (recomputed first when
  // they are not valid) with the settings 'MoSt' and the parameters 'RdPr'.
  // Throws on failure after disposing of what it added; outNoRange tells
  // that there was nothing to write (no track, no throw).
  static Track CreateControlTrack(CMovie* inMovie, CMotionData& ioData, MotionSettings& ioSettings,
                                  RenderFrameParams& inParams, QInterlaceDelay inDelay, bool& outNoRange);

  // Applying a session: the new control track is made first; only when that
  // succeeded is the session's old track (when the movie still has it)
  // disposed of. Answers the undoable edit of the change (from the state
  // before it, "Stabilization" for a new track, "Change Stabilization" for
  // a replaced one), or nil when nothing changed: the old track then stays.
  // Failures to create are thrown (the movie as it was).
  static CMovieAction* ApplySession(CMovie* inMovie, Track inOldTrack, CMotionData& ioData,
                                    MotionSettings& ioSettings, RenderFrameParams& inParams,
                                    QInterlaceDelay inDelay, bool& outNoRange);

  // The parameters the preview draws the frame at a time with, and the
  // indicator it shows. Previewing: the session's matrix for the time, else
  // the control track's sample with that track's own parameters, else the
  // uncorrected frame (no border); not previewing: the document's
  // parameters without correction. ioDocParams loses its matrices and
  // measures when the frame shows none.
  static SInt16 FrameParamsAtTime(CMotionData* inData, Movie inMovie, SInt32 inTime, bool inPreview,
                                  RenderFrameParams& ioDocParams, RenderFrameParams& outParams);

  // Size sheet. The aspect ratio of a picture (1 for an empty or flat one,
  // so that sound-only movies never divide by zero), the other side kept
  // at it, and a typed side bounded to 1 .. kMaxMovieSide.
  static constexpr SInt32 kMaxMovieSide = 16384;
  static double AspectRatio(SInt32 inWidth, SInt32 inHeight);
  static SInt32 BoundSide(SInt64 inValue);
  static SInt32 HeightForWidth(SInt32 inWidth, double inRatio);
  static SInt32 WidthForHeight(SInt32 inHeight, double inRatio);
};
