// A video track whose samples are QuickDraw pictures, each described by an
// image description of codec type 'PICT' made from the picture's frame.
#pragma once

#include "media/CMovieTrack.h"
#include "platform/graphics/QTImageDescription.h"

constexpr CodecType kPictCodecType = 'PICT';
// Composition: the media is drawn over what lies below it.
constexpr SInt32 kPictGraphicsMode = 259;

class CMovieTrackMediaPict : public CMovieTrackMedia {
 public:
  CMovieTrackMediaPict(Movie inMovie, Rect inRect, SInt32* inTimeScale);
  ~CMovieTrackMediaPict() override;

  // Appends the picture's bytes as one sync sample of the duration. A nil
  // picture is 'nilP'; bytes that are no picture are paramErr.
  virtual OSErr AddPict(PicHandle inPicture, SInt32 inDuration);

 protected:
  ImageDescriptionHandle mDescription = nullptr;
};
