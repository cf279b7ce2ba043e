// Builders that add a new track with its media to a movie and append samples.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/movies/Movies.h"

class CBuffer;

class CMovieTrack {
 public:
  // Creates the track; a rectangle whose top-left is not (0, 0) offsets the
  // track matrix there. A nil movie or a track that cannot be made throws.
  CMovieTrack(Movie inMovie, Rect inRect);
  virtual ~CMovieTrack();
  CMovieTrack(const CMovieTrack&) = delete;
  CMovieTrack& operator=(const CMovieTrack&) = delete;

  // Makes the buffer's pixels in the rectangle (nil: its bounds) the track's
  // matte; the movie toolbox's error is the result.
  virtual OSErr SetTrackMatte(CBuffer* inBuffer, Rect* inRect);

  Track GetTrack() const { return mTrack; }
  Movie GetMovie() const { return mMovie; }

 protected:
  Movie mMovie;
  Rect mRect;
  Track mTrack = nullptr;
};

class CMovieTrackMedia : public CMovieTrack {
 public:
  // The media of the given type and time scale (25 when none is given). A
  // movie without a file keeps the samples in memory ('hndl' data reference).
  CMovieTrackMedia(Movie inMovie, Rect inRect, OSType inMediaType, SInt32* inTimeScale);
  // Ends the media edits and inserts the whole media as the track's one edit,
  // or, when told not to, removes the media and the track again.
  ~CMovieTrackMedia() override;

  virtual OSErr SetGraphicsMode(SInt32 inMode, const RGBColor* inColor);
  virtual OSErr AddNewDataRef(Handle inDataRef, OSType inType, SInt16* outIndex);
  virtual OSErr AddSample(SInt32 inDuration, Handle inData, SInt32 inSize, SInt32 inDataOffset,
                          SampleDescriptionHandle inDescription, SInt16 inFlags);
  virtual OSErr SetDataRefIndex(SInt16 inIndex);
  virtual void SetInsertMediaIntoTrack(bool inInsert) { mInsertMedia = inInsert; }

  Media GetMedia() const { return mMedia; }
  // The result of the final insert of the media into the track, known after
  // destruction only through FinishTrack().
  OSErr FinishTrack();

 protected:
  OSType mMediaType;
  Media mMedia = nullptr;
  SInt32 mTimeScale;
  bool mInsertMedia = true;
  bool mFinished = false;
  SInt16 mQuality = 192;
  SInt16 mDataRefIndex = 1;
  DataHandler mDataHandler = nullptr;
};
