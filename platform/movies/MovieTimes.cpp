// Interesting times.
//
// The rule: searching forward (rate >= 0) answers the smallest interesting
// time strictly after the given time; searching backward (rate < 0) the
// largest strictly before it; nextTimeEdgeOK also accepts the given time
// itself. -1 when there is none. The interesting times of a track are the
// movie times at which a new sample starts to show (the start of each edit
// with media counts, as a sample starts showing there) and, with the edit
// flags, the edit boundaries and the track's end. The movie's are those of
// its enabled tracks of the asked media types.
#include <algorithm>
#include <cmath>

#include "platform/base/FixMath.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace {

double RateOf(const Edit& e) { return e.rate > 0 ? Fix2X(e.rate) : 1.0; }

// Movie time (relative to the edit start) of a media time inside an edit, rounded up.
SInt64 MediaToEdit(const Edit& e, SInt64 mediaTime, TimeScale movieScale, TimeScale mediaScale) {
  SInt64 rel = mediaTime - e.mediaTime;
  double r = RateOf(e);
  if (r == 1.0) return ScaleTimeCeil(rel, mediaScale, movieScale);
  return static_cast<SInt64>(std::ceil(static_cast<double>(rel) * movieScale / mediaScale / r));
}

SInt64 EditToMedia(const Edit& e, SInt64 rel, TimeScale movieScale, TimeScale mediaScale) {
  Edit head = e;
  head.duration = rel;
  return e.mediaTime + EditMediaLength(head, movieScale, mediaScale);
}

SInt64 NextSampleTime(const TrackObj& tr, SInt64 t, bool syncOnly) {
  if (!tr.media) return -1;
  const MediaObj& m = *tr.media;
  TimeScale Ms = tr.movie->scale;
  SInt64 S = 0;
  for (const Edit& e : tr.edits) {
    SInt64 end = S + e.duration;
    if (e.mediaTime >= 0 && end > t) {
      if (S > t) return S;
      SInt64 mediaEnd = e.mediaTime + EditMediaLength(e, Ms, m.scale);
      SInt64 mt = EditToMedia(e, t - S, Ms, m.scale);
      for (int guard = 0; guard < 64; ++guard) {
        SInt64 n = m.samples.NextDisplayTime(mt, syncOnly);
        if (n < 0 || n >= mediaEnd) break;
        SInt64 tm = S + MediaToEdit(e, n, Ms, m.scale);
        if (tm >= end) break;
        if (tm > t) return tm;
        mt = n;
      }
    }
    S = end;
  }
  return -1;
}

SInt64 PreviousSampleTime(const TrackObj& tr, SInt64 t, bool syncOnly) {
  if (!tr.media) return -1;
  const MediaObj& m = *tr.media;
  TimeScale Ms = tr.movie->scale;
  std::vector<SInt64> starts;
  SInt64 S = 0;
  for (const Edit& e : tr.edits) {
    starts.push_back(S);
    S += e.duration;
  }
  for (size_t i = tr.edits.size(); i-- > 0;) {
    const Edit& e = tr.edits[i];
    SInt64 s = starts[i];
    if (e.mediaTime < 0 || s >= t) continue;
    SInt64 limit = std::min(t, s + e.duration);
    SInt64 mt = e.mediaTime + ScaleTimeCeil(limit - s, Ms, m.scale);
    for (int guard = 0; guard < 64; ++guard) {
      SInt64 p = m.samples.PreviousDisplayTime(mt, syncOnly);
      if (p < 0 || p <= e.mediaTime) return s;  // the sample showing at the edit start
      SInt64 tm = s + MediaToEdit(e, p, Ms, m.scale);
      if (tm < t) return tm;
      mt = p;
    }
    return s;
  }
  return -1;
}

SInt64 EditBoundary(const TrackObj& tr, SInt64 t, bool forward) {
  SInt64 best = -1;
  SInt64 S = 0;
  auto consider = [&](SInt64 x) {
    if (forward ? x > t && (best < 0 || x < best) : x < t && x > best) best = x;
  };
  for (const Edit& e : tr.edits) {
    if (e.mediaTime >= 0) consider(S);
    S += e.duration;
    if (e.mediaTime >= 0) consider(S);
  }
  return best;
}

SInt64 TrackInteresting(const TrackObj& tr, SInt16 flags, SInt64 t, bool forward) {
  bool samples = (flags & (nextTimeMediaSample | nextTimeSyncSample | nextTimeStep)) != 0 ||
                 (flags & (nextTimeMediaEdit | nextTimeTrackEdit)) == 0;
  bool sync = (flags & nextTimeSyncSample) != 0;
  SInt64 best = -1;
  if (samples) best = forward ? NextSampleTime(tr, t, sync) : PreviousSampleTime(tr, t, sync);
  if (flags & (nextTimeMediaEdit | nextTimeTrackEdit)) {
    SInt64 b = EditBoundary(tr, t, forward);
    if (b >= 0 && (best < 0 || (forward ? b < best : b > best))) best = b;
  }
  return best;
}

template <class Tracks>
void Search(const Tracks& tracks, SInt16 flags, SInt64 time, Fixed rate, TimeValue* interestingTime,
            TimeValue* interestingDuration) {
  bool forward = rate >= 0;
  // With nextTimeEdgeOK the time itself counts: search from one unit beyond it.
  SInt64 from = (flags & nextTimeEdgeOK) ? (forward ? time - 1 : time + 1) : time;
  SInt64 best = -1;
  const TrackObj* bestTrack = nullptr;
  for (const TrackObj* tr : tracks) {
    SInt64 x = TrackInteresting(*tr, flags, from, forward);
    if (x < 0) continue;
    if (best < 0 || (forward ? x < best : x > best)) {
      best = x;
      bestTrack = tr;
    }
  }
  if (interestingTime) *interestingTime = best < 0 ? -1 : static_cast<TimeValue>(std::min<SInt64>(best, 0x7FFFFFFF));
  if (interestingDuration) {
    SInt64 d = 0;
    if (bestTrack) {
      SInt64 n = TrackInteresting(*bestTrack, flags & ~nextTimeEdgeOK, best, true);
      SInt64 end = TrackDuration(*bestTrack);
      d = (n >= 0 ? n : end) - best;
      if (d < 0) d = 0;
    }
    *interestingDuration = static_cast<TimeValue>(std::min<SInt64>(d, 0x7FFFFFFF));
  }
}

}  // namespace

void GetMovieNextInterestingTime(Movie theMovie, SInt16 interestingTimeFlags, SInt16 numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
  OSErr err = GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    std::vector<const TrackObj*> tracks;
    for (auto& t : m.tracks)
      if (t->enabled && TrackMatchesTypes(*t, numMediaTypes, whichMediaTypes)) tracks.push_back(t.get());
    Search(tracks, interestingTimeFlags, time, rate, interestingTime, interestingDuration);
  });
  if (err != noErr && interestingTime) *interestingTime = -1;
}

void GetTrackNextInterestingTime(Track theTrack, SInt16 interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
  OSErr err = GuardedErr([&] {
    const TrackObj* t = &GetTrack(theTrack);
    std::vector<const TrackObj*> tracks{t};
    Search(tracks, interestingTimeFlags, time, rate, interestingTime, interestingDuration);
  });
  if (err != noErr && interestingTime) *interestingTime = -1;
}

void GetMediaNextInterestingTime(Media theMedia, SInt16 interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
  OSErr err = GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    bool forward = rate >= 0;
    bool sync = (interestingTimeFlags & nextTimeSyncSample) != 0;
    SInt64 from = (interestingTimeFlags & nextTimeEdgeOK) ? (forward ? time - 1 : time + 1) : time;
    SInt64 x = forward ? m.samples.NextDisplayTime(from, sync) : m.samples.PreviousDisplayTime(from, sync);
    if (interestingTime) *interestingTime = static_cast<TimeValue>(x);
    if (interestingDuration) {
      SampleInfo s;
      *interestingDuration = (x >= 0 && m.samples.FindByDisplayTime(x, s)) ? s.duration : 0;
    }
  });
  if (err != noErr && interestingTime) *interestingTime = -1;
}
