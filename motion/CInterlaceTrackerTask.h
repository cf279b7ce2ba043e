// The worker task that decides from a movie's pictures whether its video is
// progressive or interlaced and which field comes first, and from its frame
// durations the video standard (25 or 30 frames per second). It reads the
// whole movie through a private copy, measuring each frame's fields against
// the previous frame's (a banded pixel operation), and stops once the
// measure is decided and at least 16 frames were read. It yields once per
// frame. Its end message is 311 (interlace command) or 310 (format dialog),
// set by the document.
#pragma once

#include <vector>

#include "media/CMovie.h"
#include "media/CMovieTask.h"
#include "platform/graphics/QuickDraw.h"

class CBuffer;

constexpr SInt16 STRx_InterlaceAnalysis = 5024;

class CInterlaceTrackerTask : public CMovieTask {
 public:
  // With a sheet: asks the document for a progress sheet and drives it.
  CInterlaceTrackerTask(CMovieTaskDocument* inDocument, bool inWithSheet);
  ~CInterlaceTrackerTask() override;

  OSErr BeginRendering();
  OSErr EndRendering();
  void AddDuration(SInt32 inDuration);

  // The band procedure of the field measure (see FieldMeasure).
  static SInt32 FrameDiff_proc(void* inTask);
  // How strongly the rows of destination field disagree with the source
  // field placed between them: 8-bit ARGB buffers of equal rectangles, no
  // mask (-50 otherwise), banded through the band engine.
  static OSErr FieldMeasure(CBuffer* inSource, CBuffer* inDest, const Rect& inRect, Float32& outMeasure);
  // The video standard for the commonest frame duration at the time scale.
  static QInterlaceDelay StandardForDuration(SInt32 inDuration, SInt32 inTimeScale);

  // The procedure of the progress sheet: -10 built, 901 Cancel.
  SInt32 ProgressSheetMessage(SInt32 inMessage);

  QInterlaceMode GetResultMode() const { return mResultMode; }
  QInterlaceDelay GetResultStandard() const { return mResultStandard; }
  SInt32 GetFrameCount() const { return mFrames; }
  CTaskProgressView* GetProgressView() const { return mProgress; }

  struct DurationCount {
    SInt32 duration;
    SInt32 count;
  };
  const std::vector<DurationCount>& GetDurations() const { return mDurations; }

 protected:
  void* Run() override;
  void DrawFrame(SInt32 inTime);

  CBuffer* mPrevious = nullptr;
  CMovie* mCopy = nullptr;
  CBuffer* mBuffer = nullptr;
  GWorldPtr mWorld = nullptr;
  std::vector<DurationCount> mDurations;
  SInt32 mCurrentTime = 0;
  SInt32 mRangeStart = 0;
  SInt32 mRangeStop = 0;
  SInt32 mFrames = 0;
  QInterlaceMode mResultMode = kInterlace_Undecided;
  QInterlaceDelay mResultStandard = kInterlaceDelay_None;
  CTaskProgressView* mProgress = nullptr;
};
