// The control-track builders that read a motion store: the store lives in
// this library, the track writing in the media library below it.
#include "media/CMovie.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/base/LException.h"

OSErr CTweenTracks::CreateTweenTrackFromMotionData(Movie inMovie, const Rect& inEncodedBounds, CMotionData& inData,
                                                   Track* outTrack) {
  return CreateTweenTrackFromFrames(inMovie, inEncodedBounds, inData.GetFrames(), outTrack);
}

OSErr CTweenTracks::CreateTweenTrackFromMotionData(CMovie* inMovie, CMotionData& inData, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  Rect bounds;
  inMovie->GetEncodedBounds(bounds);
  return CreateTweenTrackFromFrames(inMovie->GetMovie(), bounds, inData.GetFrames(), outTrack);
}
