// Playback sound of the movie toolbox (internal to platform/movies). A movie
// playing at rate exactly 1 with a positive volume has a sound session: a
// thread that decodes its enabled sound tracks from the movie time where it
// started, mixes them and feeds a sound output. While a paced output (a real
// device) plays, the movie's clock follows what has been heard; otherwise the
// session follows the movie's clock. Every other rate is silent.
#pragma once

#include <memory>
#include <vector>

#include "platform/base/MacTypes.h"

namespace movies {

struct MovieObj;
struct TrackObj;
class CSoundSession;

// A movie's session. Not copied with the movie; stops the session when it goes.
struct MovieSoundSlot {
  std::shared_ptr<CSoundSession> session;
  MovieSoundSlot() = default;
  MovieSoundSlot(const MovieSoundSlot&) {}
  MovieSoundSlot& operator=(const MovieSoundSlot&) { return *this; }
  ~MovieSoundSlot();
};

// Under the toolbox lock, after the rate, volume or time changed: starts the
// sound when the movie now plays at rate 1 with a positive volume and none
// plays (or `inRestart` asks for a new start at the movie's time, after a
// seek), stops it otherwise. Never waits for the sound thread beyond a write
// in progress.
void UpdateMovieSound(MovieObj& m, bool inRestart);
void StopMovieSound(MovieObj& m);
// The movie time (movie scale) the sound has been heard up to, while a paced
// output leads the movie's clock.
bool GetMovieSoundTime(MovieObj& m, SInt64& outTime);

// One sound track as the movie plays it, from a movie time on: its edits in
// order (a media time that skips a codec's priming included), silence where
// an edit is empty, before the first edit and after the media ends, as
// host-order 16-bit frames at a rate and channel count of the caller's.
// The track's media is copied, so the stream needs no lock once made (make
// it under the toolbox lock).
class CTrackSoundStream {
 public:
  CTrackSoundStream(const TrackObj& inTrack, SInt64 inStart, TimeScale inMovieScale, SInt32 inRate,
                    SInt16 inChannels);
  // Several tracks mixed, each as the movie plays it; the layout reported is
  // that of the track with the most channels.
  CTrackSoundStream(const std::vector<const TrackObj*>& inTracks, SInt64 inStart, TimeScale inMovieScale,
                    SInt32 inRate, SInt16 inChannels);
  ~CTrackSoundStream();
  CTrackSoundStream(const CTrackSoundStream&) = delete;
  CTrackSoundStream& operator=(const CTrackSoundStream&) = delete;
  // The next inFrames frames.
  void Read(SInt16* outFrames, size_t inFrames);
  // The sound's channel layout as a channel mask, once some is read; 0 while unknown.
  UInt64 ChannelMask() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace movies
