// The stabilisation control track: a 'twen' track at layer 0x3100 with one
// 84-byte correction sample per frame or field pair, and its settings items.
#pragma once

#include "media/FrameData.h"
#include "media/MotionSettings.h"
#include "platform/base/MacTypes.h"
#include "platform/framework/TArray.h"
#include "platform/movies/Movies.h"

class CMovie;
class CMotionData;

constexpr SInt16 kControlTrackLayer = 0x3100;
constexpr OSType kTweenMediaType = 'twen';
constexpr size_t kTweenSampleSize = 84;
constexpr UInt8 kTweenSampleVersion = 3;

// The correction of one frame as stored in a control-track sample.
struct TweenSample {
  UInt8 version = kTweenSampleVersion;
  MatrixRecord first;   // the frame's or first field's matrix
  MatrixRecord second;  // the second field's matrix
  Float32 firstMeasure = 0;
  Float32 secondMeasure = 0;
  TweenSample() {
    SetIdentityMatrix(&first);
    SetIdentityMatrix(&second);
  }
};

// Writes the 84-byte big-endian sample (version 3).
void TweenSampleToBytes(const TweenSample& inSample, UInt8 outBytes[kTweenSampleSize]);
// Reads a stored sample of any version; false when it is too short for its
// version (nothing is read past its end) or when a matrix in it cannot be a
// correction.
bool TweenSampleFromBytes(const UInt8* inBytes, size_t inSize, TweenSample& outSample);
// True when the matrix can be a correction: a finite, orientation-keeping
// mapping whose scale stays within 1/100 to 100 (as motion data allows).
bool IsPlausibleCorrection(const MatrixRecord& inMatrix);

class CTweenTracks {
 public:
  static SInt32 HasControlTracks(Movie inMovie);
  // The control track of the correction records (one sample each; the last
  // lasts its own duration, every other until the next record's time); no
  // track for fewer than two records.
  static OSErr CreateTweenTrackFromFrames(Movie inMovie, const Rect& inEncodedBounds,
                                          const TArray<FrameData>& inFrames, Track* outTrack);
  // The same from a motion store's records. These two are defined with the
  // store in the motion library, so that this library never depends on it.
  static OSErr CreateTweenTrackFromMotionData(CMovie* inMovie, CMotionData& inData, Track* outTrack);
  // The same for a toolbox movie whose encoded bounds are given.
  static OSErr CreateTweenTrackFromMotionData(Movie inMovie, const Rect& inEncodedBounds, CMotionData& inData,
                                              Track* outTrack);
  static SInt32 GetFrameDataSample(Movie inMovie, SInt32 inTime, FrameData& outFrame);

  // Makes the tween track a source of the video track: a track reference
  // 'ssrc' and its entry in the video media's input map, kept as the media's
  // user data item 'imap' (input atoms 'in' whose id is the reference index,
  // with the input type 'ty' and 'subi' = 1, big-endian). A failure deletes
  // the reference again.
  static OSErr AddTweenRefToVideoTrack(Track inVideo, Track inTween, UInt32 inInputType);
  // The same for every enabled visual track of the movie.
  static OSErr AddTweenRefToAllVideoTracks(Movie inMovie, Track inTween, UInt32 inInputType);
  // A new track of the first enabled visual track's kind holding its segment
  // [start, start + duration) at start, one layer behind it.
  static OSErr AddClonedVideoTrack(CMovie* inMovie, SInt32 inStart, SInt32 inDuration, Track* outTrack);
  // A picture track painting the rectangle (nil: the encoded bounds) with
  // the colour from start for the duration, behind every other track.
  static OSErr AddBackgroundTrack(CMovie* inMovie, SInt32 inStart, SInt32 inDuration, RGBColor inColor,
                                  Rect* inRect, Track* outTrack);
};

constexpr OSType kTweenSourceReference = 'ssrc';
constexpr OSType kMediaInputMapType = 'imap';
constexpr OSType kInputAtomType = 'in';
constexpr OSType kInputTypeAtomType = 'ty';
constexpr OSType kInputSubInputAtomType = 'subi';
