// Movies, tracks, media and user data: creation, properties and look-ups.
#include <algorithm>
#include <cstring>

#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace movies {

SInt64 ScaleTime(SInt64 value, SInt64 fromScale, SInt64 toScale) {
  if (fromScale <= 0) return 0;
  __int128 v = static_cast<__int128>(value) * toScale;
  __int128 q = v / fromScale;
  if (v % fromScale != 0 && v < 0) --q;
  return static_cast<SInt64>(q);
}

SInt64 ScaleTimeCeil(SInt64 value, SInt64 fromScale, SInt64 toScale) {
  if (fromScale <= 0) return 0;
  __int128 v = static_cast<__int128>(value) * toScale;
  __int128 q = v / fromScale;
  if (v % fromScale != 0 && v > 0) ++q;
  return static_cast<SInt64>(q);
}

SInt64 EditMediaLength(const Edit& e, TimeScale movieScale, TimeScale mediaScale) {
  double rate = e.rate > 0 ? Fix2X(e.rate) : 1.0;
  return static_cast<SInt64>(static_cast<double>(ScaleTime(e.duration, movieScale, mediaScale)) * rate);
}

SInt64 TrackDuration(const TrackObj& t) {
  SInt64 d = 0;
  for (const Edit& e : t.edits) d += e.duration;
  return d;
}

SInt64 MovieDuration(const MovieObj& m) {
  SInt64 d = 0;
  for (auto& t : m.tracks) d = std::max(d, TrackDuration(*t));
  return d;
}

void NormalizeEdits(std::vector<Edit>& edits) {
  std::vector<Edit> out;
  for (const Edit& e : edits) {
    if (e.duration <= 0) continue;
    if (!out.empty() && out.back().mediaTime < 0 && e.mediaTime < 0) {
      out.back().duration += e.duration;
      continue;
    }
    out.push_back(e);
  }
  while (!out.empty() && out.back().mediaTime < 0) out.pop_back();
  edits.swap(out);
}

bool IsVisualType(OSType type) {
  switch (type) {
    case 'vide':
    case 'text':
    case 'sprt':
    case 'MPEG':
    case 'flsh':
    case 'qd3d':
    case 'skin':
    case 'tx3g':
    case 'sbtl':
    case 'clcp':
      return true;
    default:
      return false;
  }
}

bool TrackMatchesTypes(const TrackObj& t, SInt16 count, const OSType* types) {
  if (count <= 0 || !types) return true;
  if (!t.media) return false;
  for (SInt16 i = 0; i < count; ++i) {
    OSType ty = types[i];
    if (ty == t.media->type) return true;
    if (ty == VisualMediaCharacteristic && IsVisualType(t.media->type)) return true;
    if (ty == AudioMediaCharacteristic && (t.media->type == 'soun' || t.media->type == 'MPEG')) return true;
  }
  return false;
}

}  // namespace movies

// --- movies --------------------------------------------------------------------

Movie NewMovie(SInt32 flags) {
  return Guarded<Movie>(nullptr, [&] {
    auto m = NewMovieObj();
    m->active = (flags & newMovieActive) != 0;
    RegisterMovieTree(m);
    return ToHandle<Movie>(m->id);
  });
}

void DisposeMovie(Movie theMovie) {
  GuardedErr([&] {
    auto m = GetMovieShared(theMovie);
    StopMovieSound(*m);
    for (auto& t : m->tracks) UnregisterTrackTree(*t);
    Unregister(m->userData->id);
    Unregister(m->id);
    for (auto& t : m->tracks) {
      t->movie = nullptr;
      if (t->media) t->media->track = nullptr;
    }
  });
}

TimeScale GetMovieTimeScale(Movie theMovie) {
  return Guarded<TimeScale>(0, [&] { return GetMovie(theMovie).scale; });
}

void SetMovieTimeScale(Movie theMovie, TimeScale timeScale) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (timeScale <= 0) Throw_(paramErr);
    if (timeScale == m.scale) return;
    for (auto& t : m.tracks) {
      for (Edit& e : t->edits) e.duration = ScaleTime(e.duration, m.scale, timeScale);
      Touch(*t);
    }
    m.time = ScaleTime(m.time, m.scale, timeScale);
    m.selStart = ScaleTime(m.selStart, m.scale, timeScale);
    m.selDuration = ScaleTime(m.selDuration, m.scale, timeScale);
    m.posterTime = ScaleTime(m.posterTime, m.scale, timeScale);
    m.scale = timeScale;
    Touch(m);
  });
}

static TimeValue Clamp32(SInt64 v) {
  if (v > 0x7FFFFFFF) return 0x7FFFFFFF;
  if (v < -0x7FFFFFFF) return -0x7FFFFFFF;
  return static_cast<TimeValue>(v);
}

TimeValue GetMovieDuration(Movie theMovie) {
  return Guarded<TimeValue>(0, [&] { return Clamp32(MovieDuration(GetMovie(theMovie))); });
}

// The time of a playing movie follows the clock from where its rate was last
// set, or, while its sound plays on a device, what has been heard of it.
static void AdvanceMovieClock(MovieObj& m) {
  if (m.rate == 0) return;
  SInt64 now = UClock::NowMicroseconds();
  SInt64 t = 0;
  SInt64 heard = 0;
  if (GetMovieSoundTime(m, heard)) {
    // The picture never steps back while the sound catches up with it.
    t = std::max(heard, m.time);
    m.rateBaseTime = t;
    m.rateBaseMicros = now;
  } else {
    double elapsed = static_cast<double>(now - m.rateBaseMicros) / 1e6;
    t = m.rateBaseTime + static_cast<SInt64>(Fix2X(m.rate) * elapsed * m.scale);
  }
  SInt64 d = MovieDuration(m);
  bool loop = (m.playHints & hintsLoop) != 0;
  bool wrapped = false;
  if (t >= d || t < 0) {
    if (loop && d > 0) {
      t = ((t % d) + d) % d;
      m.rateBaseTime = t;
      m.rateBaseMicros = now;
      wrapped = true;
    } else {
      t = std::clamp<SInt64>(t, 0, d);
      m.rate = 0;  // a movie stops at its ends
      StopMovieSound(m);
    }
  }
  if (t != m.time) {
    m.time = t;
    m.needsDraw = true;
  }
  if (wrapped) UpdateMovieSound(m, true);
}

namespace movies {
void AdvanceMovieTime(MovieObj& m) { AdvanceMovieClock(m); }
}  // namespace movies

TimeValue GetMovieTime(Movie theMovie, void*) {
  return Guarded<TimeValue>(0, [&] {
    MovieObj& m = GetMovie(theMovie);
    AdvanceMovieClock(m);
    return Clamp32(m.time);
  });
}

void SetMovieTimeValue(Movie theMovie, TimeValue newTime) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    SInt64 t = std::clamp<SInt64>(newTime, 0, MovieDuration(m));
    if (t != m.time) m.needsDraw = true;
    m.time = t;
    m.rateBaseTime = t;
    m.rateBaseMicros = UClock::NowMicroseconds();
    // A playing sound starts again from the new time.
    if (m.sound.session) UpdateMovieSound(m, true);
  });
}

Fixed GetMovieRate(Movie theMovie) {
  return Guarded<Fixed>(0, [&] {
    MovieObj& m = GetMovie(theMovie);
    AdvanceMovieClock(m);
    return m.rate;
  });
}

void SetMovieRate(Movie theMovie, Fixed rate) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    AdvanceMovieClock(m);
    m.rate = rate;
    m.rateBaseTime = m.time;
    m.rateBaseMicros = UClock::NowMicroseconds();
    UpdateMovieSound(m, false);
  });
}

Fixed GetMoviePreferredRate(Movie theMovie) {
  return Guarded<Fixed>(0, [&] { return GetMovie(theMovie).preferredRate; });
}
void SetMoviePreferredRate(Movie theMovie, Fixed rate) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.preferredRate = rate;
    Touch(m);
  });
}
SInt16 GetMovieVolume(Movie theMovie) {
  return Guarded<SInt16>(0, [&] { return GetMovie(theMovie).volume; });
}
void SetMovieVolume(Movie theMovie, SInt16 volume) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    AdvanceMovieClock(m);
    m.volume = volume;
    UpdateMovieSound(m, false);
  });
}

void StartMovie(Movie theMovie) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.active = true;
    SetMovieRate(theMovie, m.preferredRate ? m.preferredRate : fixed1);
  });
}

void StopMovie(Movie theMovie) { SetMovieRate(theMovie, 0); }

void GoToBeginningOfMovie(Movie theMovie) { SetMovieTimeValue(theMovie, 0); }
void GoToEndOfMovie(Movie theMovie) { SetMovieTimeValue(theMovie, GetMovieDuration(theMovie)); }

Boolean IsMovieDone(Movie theMovie) {
  return Guarded<Boolean>(true, [&] {
    MovieObj& m = GetMovie(theMovie);
    AdvanceMovieClock(m);
    SInt64 d = MovieDuration(m);
    return static_cast<Boolean>(m.rate >= 0 ? m.time >= d : m.time <= 0);
  });
}

void SetMovieActive(Movie theMovie, Boolean active) {
  GuardedErr([&] { GetMovie(theMovie).active = active != 0; });
}
Boolean GetMovieActive(Movie theMovie) {
  return Guarded<Boolean>(false, [&] { return static_cast<Boolean>(GetMovie(theMovie).active); });
}

void GetMovieSelection(Movie theMovie, TimeValue* selectionTime, TimeValue* selectionDuration) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (selectionTime) *selectionTime = Clamp32(m.selStart);
    if (selectionDuration) *selectionDuration = Clamp32(m.selDuration);
  });
}

void SetMovieSelection(Movie theMovie, TimeValue selectionTime, TimeValue selectionDuration) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (selectionTime < 0) selectionTime = 0;
    if (selectionDuration < 0) selectionDuration = 0;
    m.selStart = selectionTime;
    m.selDuration = selectionDuration;
  });
}

void GetMoviePosterTime(Movie theMovie, TimeValue* posterTime) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (posterTime) *posterTime = Clamp32(m.posterTime);
  });
}
void SetMoviePosterTime(Movie theMovie, TimeValue posterTime) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.posterTime = std::max<SInt64>(0, posterTime);
    Touch(m);
  });
}

void SetMoviePlayHints(Movie theMovie, SInt32 flags, SInt32 flagsMask) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.playHints = (m.playHints & ~flagsMask) | (flags & flagsMask);
  });
}
SInt32 GetMoviePlayHints(Movie theMovie) {
  return Guarded<SInt32>(0, [&] { return GetMovie(theMovie).playHints; });
}

Boolean HasMovieChanged(Movie theMovie) {
  return Guarded<Boolean>(false, [&] { return static_cast<Boolean>(GetMovie(theMovie).changed); });
}
void ClearMovieChanged(Movie theMovie) {
  GuardedErr([&] { GetMovie(theMovie).changed = false; });
}

void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix) {
  GuardedErr([&] {
    ThrowIfNil_(matrix);
    *matrix = GetMovie(theMovie).matrix;
  });
}
void SetMovieMatrix(Movie theMovie, const MatrixRecord* matrix) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (matrix)
      m.matrix = *matrix;
    else
      SetIdentityMatrix(&m.matrix);
    Touch(m);
  });
}

namespace movies {

// The dimensions of a track in the movie's aperture mode.
static void TrackDims(const MovieObj& m, const TrackObj& t, Fixed& w, Fixed& h) {
  w = t.width;
  h = t.height;
  if (!t.hasAperture) return;
  int k = -1;
  if (m.apertureMode == kQTApertureMode_CleanAperture) k = 0;
  if (m.apertureMode == kQTApertureMode_ProductionAperture) k = 1;
  if (m.apertureMode == kQTApertureMode_EncodedPixels) k = 2;
  if (k >= 0 && t.apertureDims[k][0] > 0 && t.apertureDims[k][1] > 0) {
    w = t.apertureDims[k][0];
    h = t.apertureDims[k][1];
  }
}

void TrackDimsForDrawing(const MovieObj& m, const TrackObj& t, Fixed& w, Fixed& h) { TrackDims(m, t, w, h); }

Rect NaturalBounds(const MovieObj& m) {
  bool any = false;
  double l = 0, tp = 0, r = 0, b = 0;
  for (auto& t : m.tracks) {
    if (!t->enabled || !t->media || !IsVisualType(t->media->type)) continue;
    Fixed w, h;
    TrackDims(m, *t, w, h);
    if (w <= 0 || h <= 0) continue;
    DMatrix dm = MatrixToDouble(t->matrix);
    double xs[4] = {0, Fix2X(w), 0, Fix2X(w)}, ys[4] = {0, 0, Fix2X(h), Fix2X(h)};
    for (int i = 0; i < 4; ++i) {
      double x = xs[i], y = ys[i];
      DMatrixTransform(dm, x, y);
      if (!any) {
        l = r = x;
        tp = b = y;
        any = true;
      }
      l = std::min(l, x);
      r = std::max(r, x);
      tp = std::min(tp, y);
      b = std::max(b, y);
    }
  }
  Rect out = {0, 0, 0, 0};
  if (any) {
    out.left = SaturateToSInt16(l);
    out.top = SaturateToSInt16(tp);
    out.right = SaturateToSInt16(r);
    out.bottom = SaturateToSInt16(b);
  }
  return out;
}

}  // namespace movies

void GetMovieNaturalBoundsRect(Movie theMovie, Rect* naturalBounds) {
  GuardedErr([&] {
    ThrowIfNil_(naturalBounds);
    *naturalBounds = NaturalBounds(GetMovie(theMovie));
  });
}

void GetMovieBox(Movie theMovie, Rect* boxRect) {
  GuardedErr([&] {
    ThrowIfNil_(boxRect);
    MovieObj& m = GetMovie(theMovie);
    Rect r = NaturalBounds(m);
    TransformRect(&m.matrix, &r, nullptr);
    *boxRect = r;
  });
}

void SetMovieBox(Movie theMovie, const Rect* boxRect) {
  GuardedErr([&] {
    ThrowIfNil_(boxRect);
    MovieObj& m = GetMovie(theMovie);
    Rect nat = NaturalBounds(m);
    if (nat.right <= nat.left || nat.bottom <= nat.top) {
      // No visual content: the box only places the origin.
      SetIdentityMatrix(&m.matrix);
      TranslateMatrix(&m.matrix, Long2Fix(boxRect->left), Long2Fix(boxRect->top));
    } else {
      RectMatrix(&m.matrix, &nat, boxRect);
    }
    m.needsDraw = true;
  });
}

UserData GetMovieUserData(Movie theMovie) {
  return Guarded<UserData>(nullptr, [&] { return ToHandle<UserData>(GetMovie(theMovie).userData->id); });
}

SInt32 GetMovieTrackCount(Movie theMovie) {
  return Guarded<SInt32>(0, [&] { return static_cast<SInt32>(GetMovie(theMovie).tracks.size()); });
}

Track GetMovieIndTrack(Movie theMovie, SInt32 index) {
  return Guarded<Track>(nullptr, [&] {
    MovieObj& m = GetMovie(theMovie);
    if (index < 1 || index > static_cast<SInt32>(m.tracks.size())) Throw_(badTrackIndex);
    return ToHandle<Track>(m.tracks[static_cast<size_t>(index - 1)]->id);
  });
}

Track GetMovieTrack(Movie theMovie, SInt32 trackID) {
  return Guarded<Track>(nullptr, [&] {
    for (auto& t : GetMovie(theMovie).tracks)
      if (t->trackID == trackID) return ToHandle<Track>(t->id);
    Throw_(trackIDNotFound);
  });
}

Track GetMovieIndTrackType(Movie theMovie, SInt32 index, OSType trackType, SInt32 flags) {
  return Guarded<Track>(nullptr, [&] {
    SInt32 n = 0;
    for (auto& t : GetMovie(theMovie).tracks) {
      if ((flags & movieTrackEnabledOnly) && !t->enabled) continue;
      if (!t->media) continue;
      bool match = (flags & movieTrackCharacteristic) ? TrackMatchesTypes(*t, 1, &trackType)
                                                      : t->media->type == trackType;
      if (match && ++n == index) return ToHandle<Track>(t->id);
    }
    Throw_(badTrackIndex);
  });
}

void SetMovieProgressProc(Movie theMovie, MovieProgressProcPtr p, SInt32 refCon) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.progressProc = p;
    m.progressRefCon = refCon;
  });
}

void GetMovieProgressProc(Movie theMovie, MovieProgressProcPtr* outProc, SInt32* outRefCon) {
  if (outProc) *outProc = nullptr;
  if (outRefCon) *outRefCon = 0;
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (outProc) *outProc = m.progressProc;
    if (outRefCon) *outRefCon = m.progressRefCon;
  });
}

void SetMovieCoverProcs(Movie theMovie, MovieRgnCoverProcPtr uncoverProc, MovieRgnCoverProcPtr coverProc,
                        SInt32 refCon) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.uncoverProc = uncoverProc;
    m.coverProc = coverProc;
    m.coverRefCon = refCon;
  });
}

void SetMovieDrawingCompleteProc(Movie theMovie, SInt32 flags, MovieDrawingCompleteProcPtr proc, SInt32 refCon) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    m.drawProc = proc;
    m.drawProcRefCon = refCon;
    m.drawProcFlags = flags;
  });
}

OSStatus QTGetMovieProperty(Movie theMovie, OSType propClass, OSType propID, ByteCount propValueSize,
                            void* propValueAddress, ByteCount* propValueSizeUsed) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (propClass != kQTPropertyClass_Visual || !propValueAddress) Throw_(paramErr);
    if (propID == kQTVisualPropertyID_ApertureMode) {
      if (propValueSize < sizeof(OSType)) Throw_(paramErr);
      std::memcpy(propValueAddress, &m.apertureMode, sizeof(OSType));
      if (propValueSizeUsed) *propValueSizeUsed = sizeof(OSType);
    } else if (propID == kQTVisualPropertyID_HasApertureModeDimensions) {
      if (propValueSize < sizeof(Boolean)) Throw_(paramErr);
      Boolean has = !m.tracks.empty();
      for (auto& t : m.tracks)
        if (t->media && IsVisualType(t->media->type) && !t->hasAperture) has = false;
      std::memcpy(propValueAddress, &has, sizeof(Boolean));
      if (propValueSizeUsed) *propValueSizeUsed = sizeof(Boolean);
    } else {
      Throw_(paramErr);
    }
  });
}

OSStatus QTSetMovieProperty(Movie theMovie, OSType propClass, OSType propID, ByteCount propValueSize,
                            const void* propValueAddress) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (propClass != kQTPropertyClass_Visual || propID != kQTVisualPropertyID_ApertureMode || !propValueAddress ||
        propValueSize < sizeof(OSType))
      Throw_(paramErr);
    OSType mode;
    std::memcpy(&mode, propValueAddress, sizeof(OSType));
    if (mode != kQTApertureMode_Classic && mode != kQTApertureMode_CleanAperture &&
        mode != kQTApertureMode_ProductionAperture && mode != kQTApertureMode_EncodedPixels)
      Throw_(paramErr);
    m.apertureMode = mode;
    m.needsDraw = true;
  });
}

OSErr GenerateMovieApertureModeDimensions(Movie theMovie) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    for (auto& t : m.tracks) {
      if (!t->media || !IsVisualType(t->media->type)) continue;
      // Encoded pixels: the size of the first image description; clean and
      // production apertures: the track's dimensions.
      Fixed ew = t->width, eh = t->height;
      if (t->media->type == 'vide' && !t->media->descs.empty() &&
          t->media->descs[0].size() >= sizeof(ImageDescription)) {
        ImageDescription d;
        std::memcpy(&d, t->media->descs[0].data(), sizeof d);
        if (d.width > 0 && d.height > 0) {
          ew = Long2Fix(d.width);
          eh = Long2Fix(d.height);
        }
      }
      t->apertureDims[0][0] = t->apertureDims[1][0] = t->width;
      t->apertureDims[0][1] = t->apertureDims[1][1] = t->height;
      t->apertureDims[2][0] = ew;
      t->apertureDims[2][1] = eh;
      t->hasAperture = true;
    }
  });
}

OSErr RemoveMovieApertureModeDimensions(Movie theMovie) {
  return GuardedErr([&] {
    for (auto& t : GetMovie(theMovie).tracks) t->hasAperture = false;
  });
}

// --- tracks --------------------------------------------------------------------

Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, SInt16 trackVolume) {
  return Guarded<Track>(nullptr, [&] {
    MovieObj& m = GetMovie(theMovie);
    if (width < 0 || height < 0) Throw_(paramErr);
    auto t = NewTrackObj(m);
    t->width = width;
    t->height = height;
    t->volume = trackVolume;
    m.tracks.push_back(t);
    Register(t->id, Kind::kTrack, t, false);
    Register(t->userData->id, Kind::kUserData, t->userData, false);
    t->userData->movie = &m;
    Touch(m);
    return ToHandle<Track>(t->id);
  });
}

void DisposeMovieTrack(Track theTrack) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    MovieObj& m = *t.movie;
    auto it = std::find_if(m.tracks.begin(), m.tracks.end(), [&](auto& p) { return p.get() == &t; });
    if (it == m.tracks.end()) Throw_(trackNotInMovie);
    auto keep = *it;  // keeps the object alive until we are done with it
    UnregisterTrackTree(t);
    m.tracks.erase(it);
    keep->movie = nullptr;
    if (keep->media) keep->media->track = nullptr;
    Touch(m);
  });
}

Movie GetTrackMovie(Track theTrack) {
  return Guarded<Movie>(nullptr, [&] { return ToHandle<Movie>(GetTrack(theTrack).movie->id); });
}

SInt32 GetTrackID(Track theTrack) {
  return Guarded<SInt32>(0, [&] { return GetTrack(theTrack).trackID; });
}

Boolean GetTrackEnabled(Track theTrack) {
  return Guarded<Boolean>(false, [&] { return static_cast<Boolean>(GetTrack(theTrack).enabled); });
}
void SetTrackEnabled(Track theTrack, Boolean isEnabled) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (t.enabled != (isEnabled != 0)) {
      t.enabled = isEnabled != 0;
      Touch(t);
    }
  });
}

SInt16 GetTrackLayer(Track theTrack) {
  return Guarded<SInt16>(0, [&] { return GetTrack(theTrack).layer; });
}
void SetTrackLayer(Track theTrack, SInt16 layer) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    t.layer = layer;
    Touch(t);
  });
}
SInt16 GetTrackVolume(Track theTrack) {
  return Guarded<SInt16>(0, [&] { return GetTrack(theTrack).volume; });
}
void SetTrackVolume(Track theTrack, SInt16 volume) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    t.volume = volume;
    Touch(t);
  });
}
SInt16 GetTrackAlternateGroup(Track theTrack) {
  return Guarded<SInt16>(0, [&] { return GetTrack(theTrack).altGroup; });
}
void SetTrackAlternateGroup(Track theTrack, SInt16 group) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    t.altGroup = group;
    Touch(t);
  });
}

void GetTrackMatrix(Track theTrack, MatrixRecord* matrix) {
  GuardedErr([&] {
    ThrowIfNil_(matrix);
    *matrix = GetTrack(theTrack).matrix;
  });
}
void SetTrackMatrix(Track theTrack, const MatrixRecord* matrix) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (matrix)
      t.matrix = *matrix;
    else
      SetIdentityMatrix(&t.matrix);
    Touch(t);
  });
}

void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (width) *width = t.width;
    if (height) *height = t.height;
  });
}
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (width < 0 || height < 0) Throw_(paramErr);
    t.width = width;
    t.height = height;
    Touch(t);
  });
}

UserData GetTrackUserData(Track theTrack) {
  return Guarded<UserData>(nullptr, [&] { return ToHandle<UserData>(GetTrack(theTrack).userData->id); });
}

TimeValue GetTrackDuration(Track theTrack) {
  return Guarded<TimeValue>(0, [&] { return Clamp32(TrackDuration(GetTrack(theTrack))); });
}

TimeValue GetTrackOffset(Track theTrack) {
  return Guarded<TimeValue>(0, [&] {
    TrackObj& t = GetTrack(theTrack);
    if (!t.edits.empty() && t.edits[0].mediaTime < 0) return Clamp32(t.edits[0].duration);
    return 0;
  });
}

void SetTrackOffset(Track theTrack, TimeValue movieOffsetTime) {
  GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (movieOffsetTime < 0) Throw_(paramErr);
    if (!t.edits.empty() && t.edits[0].mediaTime < 0) t.edits.erase(t.edits.begin());
    if (movieOffsetTime > 0 && !t.edits.empty()) t.edits.insert(t.edits.begin(), Edit{movieOffsetTime, -1, fixed1});
    NormalizeEdits(t.edits);
    Touch(t);
  });
}

UInt32 GetTrackModificationTime(Track theTrack) {
  return Guarded<UInt32>(0, [&] { return GetTrack(theTrack).stamp; });
}

SInt32 GetTrackEditCount(Track theTrack) {
  return Guarded<SInt32>(0, [&] { return static_cast<SInt32>(GetTrack(theTrack).edits.size()); });
}

OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, SInt32* addedIndex) {
  return GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    TrackObj& r = GetTrack(refTrack);
    if (r.movie != t.movie) Throw_(trackNotInMovie);
    auto& list = t.references[refType];
    list.push_back(r.trackID);
    if (addedIndex) *addedIndex = static_cast<SInt32>(list.size());
    Touch(t);
  });
}

OSErr DeleteTrackReference(Track theTrack, OSType refType, SInt32 index) {
  return GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    auto it = t.references.find(refType);
    if (it == t.references.end() || index < 1 || index > static_cast<SInt32>(it->second.size())) Throw_(paramErr);
    it->second.erase(it->second.begin() + (index - 1));
    if (it->second.empty()) t.references.erase(it);
    Touch(t);
  });
}

Track GetTrackReference(Track theTrack, OSType refType, SInt32 index) {
  return Guarded<Track>(nullptr, [&] {
    TrackObj& t = GetTrack(theTrack);
    auto it = t.references.find(refType);
    if (it == t.references.end() || index < 1 || index > static_cast<SInt32>(it->second.size())) Throw_(paramErr);
    SInt32 id = it->second[static_cast<size_t>(index - 1)];
    for (auto& o : t.movie->tracks)
      if (o->trackID == id) return ToHandle<Track>(o->id);
    Throw_(trackIDNotFound);
  });
}

SInt32 GetTrackReferenceCount(Track theTrack, OSType refType) {
  return Guarded<SInt32>(0, [&] {
    TrackObj& t = GetTrack(theTrack);
    auto it = t.references.find(refType);
    return it == t.references.end() ? 0 : static_cast<SInt32>(it->second.size());
  });
}

OSType GetNextTrackReferenceType(Track theTrack, OSType refType) {
  return Guarded<OSType>(0, [&] {
    TrackObj& t = GetTrack(theTrack);
    auto it = refType == 0 ? t.references.begin() : t.references.upper_bound(refType);
    return it == t.references.end() ? OSType(0) : it->first;
  });
}

// --- media --------------------------------------------------------------------------

namespace movies {
DataRefEntry MakeDataRef(Handle dataRef, OSType type);
}

Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType) {
  return Guarded<Media>(nullptr, [&] {
    TrackObj& t = GetTrack(theTrack);
    if (timeScale <= 0) timeScale = t.movie->scale;
    if (t.media) {
      Unregister(t.media->id);
      Unregister(t.media->userData->id);
      t.media->track = nullptr;
    }
    auto m = NewMediaObj(t, mediaType, timeScale);
    if (dataRef) {
      m->dataRefs.push_back(MakeDataRef(dataRef, dataRefType));
    } else if (t.movie->hasDefaultDataRef && t.movie->defaultDataRef.store &&
               t.movie->defaultDataRef.store->IsWritable()) {
      // New media data go to the movie's default memory block. A movie file's
      // default is not taken: its new samples stay in memory until the movie
      // is written, so the file is never changed behind the user's back.
      m->dataRefs.push_back(t.movie->defaultDataRef);
    }
    t.media = m;
    Register(m->id, Kind::kMedia, m, false);
    Register(m->userData->id, Kind::kUserData, m->userData, false);
    m->userData->movie = t.movie;
    Touch(t);
    return ToHandle<Media>(m->id);
  });
}

void DisposeTrackMedia(Media theMedia) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    TrackObj& t = *m.track;
    Unregister(m.id);
    Unregister(m.userData->id);
    auto keep = t.media;
    t.media.reset();
    keep->track = nullptr;
    t.edits.clear();
    Touch(t);
  });
}

Media GetTrackMedia(Track theTrack) {
  return Guarded<Media>(nullptr, [&] {
    TrackObj& t = GetTrack(theTrack);
    if (!t.media) Throw_(invalidMedia);
    return ToHandle<Media>(t.media->id);
  });
}

Track GetMediaTrack(Media theMedia) {
  return Guarded<Track>(nullptr, [&] { return ToHandle<Track>(GetMedia(theMedia).track->id); });
}

TimeScale GetMediaTimeScale(Media theMedia) {
  return Guarded<TimeScale>(0, [&] { return GetMedia(theMedia).scale; });
}

void SetMediaTimeScale(Media theMedia, TimeScale timeScale) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (timeScale <= 0) Throw_(paramErr);
    if (m.samples.Count() > 0) Throw_(samplesAlreadyInMediaErr);
    m.scale = timeScale;
    Touch(*m.track);
  });
}

TimeValue GetMediaDuration(Media theMedia) {
  return Guarded<TimeValue>(0, [&] { return Clamp32(GetMedia(theMedia).samples.Duration()); });
}

SInt16 GetMediaQuality(Media theMedia) {
  return Guarded<SInt16>(0, [&] { return GetMedia(theMedia).quality; });
}
void SetMediaQuality(Media theMedia, SInt16 quality) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    m.quality = quality;
    Touch(*m.track);
  });
}
SInt16 GetMediaLanguage(Media theMedia) {
  return Guarded<SInt16>(0, [&] { return GetMedia(theMedia).language; });
}
void SetMediaLanguage(Media theMedia, SInt16 language) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    m.language = language;
    Touch(*m.track);
  });
}

void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName, OSType* creatorManufacturer) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (mediaType) *mediaType = m.type;
    if (creatorName) {
      size_t n = std::min<size_t>(m.handlerName.size(), 255);
      creatorName[0] = static_cast<unsigned char>(n);
      std::memcpy(creatorName + 1, m.handlerName.data(), n);
    }
    if (creatorManufacturer) *creatorManufacturer = 0;
  });
}

UserData GetMediaUserData(Media theMedia) {
  return Guarded<UserData>(nullptr, [&] { return ToHandle<UserData>(GetMedia(theMedia).userData->id); });
}

void SetMediaPlayHints(Media theMedia, SInt32 flags, SInt32 flagsMask) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    m.playHints = (m.playHints & ~flagsMask) | (flags & flagsMask);
  });
}
void GetMediaPlayHints(Media theMedia, SInt32* flags) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (flags) *flags = m.playHints;
  });
}

OSErr MediaSetGraphicsMode(Media theMedia, SInt32 mode, const RGBColor* opColor) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    m.graphicsMode = mode;
    if (opColor) m.opColor = *opColor;
    m.mediaHeader.clear();  // rewritten from the new values
    Touch(*m.track);
  });
}

OSErr MediaGetGraphicsMode(Media theMedia, SInt32* mode, RGBColor* opColor) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (mode) *mode = m.graphicsMode;
    if (opColor) *opColor = m.opColor;
  });
}

// --- user data ----------------------------------------------------------------------

static UserDataItem* FindItem(UserDataObj& u, OSType type, SInt32 index, size_t* where = nullptr) {
  if (index < 1) return nullptr;
  SInt32 n = 0;
  for (size_t i = 0; i < u.items.size(); ++i)
    if (u.items[i].type == type && ++n == index) {
      if (where) *where = i;
      return &u.items[i];
    }
  return nullptr;
}

// Marks whoever owns the user data as changed.
static void TouchOwner(const UserDataObj& u) {
  if (u.movie) Touch(*u.movie);
}

OSErr GetUserData(UserData theUserData, Handle data, OSType udType, SInt32 index) {
  return GuardedErr([&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    UserDataItem* it = FindItem(u, udType, index);
    if (!it) Throw_(userDataItemNotFound);
    if (data) {
      SetHandleSize(data, static_cast<SInt32>(it->data.size()));
      ThrowIfOSErr_(MemError());
      if (!it->data.empty()) std::memcpy(*data, it->data.data(), it->data.size());
    }
  });
}

OSErr AddUserData(UserData theUserData, Handle data, OSType udType) {
  return GuardedErr([&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    ThrowIfNil_(data);
    if (!IsValidHandle(data)) Throw_(nilHandleErr);
    UserDataItem item{udType, {}};
    SInt32 n = GetHandleSize(data);
    item.data.assign(reinterpret_cast<UInt8*>(*data), reinterpret_cast<UInt8*>(*data) + n);
    u.items.push_back(std::move(item));
    TouchOwner(u);
  });
}

OSErr SetUserDataItem(UserData theUserData, const void* data, SInt32 size, OSType udType, SInt32 index) {
  return GuardedErr([&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    if (size < 0 || (size > 0 && !data)) Throw_(paramErr);
    std::vector<UInt8> bytes(static_cast<const UInt8*>(data), static_cast<const UInt8*>(data) + size);
    if (index == 0) index = 1;
    UserDataItem* it = FindItem(u, udType, index);
    if (it) {
      it->data = std::move(bytes);
    } else if (index == CountUserDataType(theUserData, udType) + 1) {
      u.items.push_back({udType, std::move(bytes)});
    } else {
      Throw_(userDataItemNotFound);
    }
    TouchOwner(u);
  });
}

OSErr GetUserDataItem(UserData theUserData, void* data, SInt32 size, OSType udType, SInt32 index) {
  return GuardedErr([&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    if (index == 0) index = 1;
    UserDataItem* it = FindItem(u, udType, index);
    if (!it) Throw_(userDataItemNotFound);
    if (size < 0 || static_cast<size_t>(size) != it->data.size() || (size > 0 && !data)) Throw_(paramErr);
    if (size) std::memcpy(data, it->data.data(), it->data.size());
  });
}

OSErr RemoveUserData(UserData theUserData, OSType udType, SInt32 index) {
  return GuardedErr([&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    size_t where = 0;
    if (!FindItem(u, udType, index, &where)) Throw_(userDataItemNotFound);
    u.items.erase(u.items.begin() + static_cast<std::ptrdiff_t>(where));
    TouchOwner(u);
  });
}

SInt16 CountUserDataType(UserData theUserData, OSType udType) {
  return Guarded<SInt16>(0, [&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    SInt32 n = 0;
    for (auto& i : u.items)
      if (i.type == udType) ++n;
    return static_cast<SInt16>(std::min<SInt32>(n, 0x7FFF));
  });
}

SInt32 GetNextUserDataType(UserData theUserData, OSType udType) {
  return Guarded<SInt32>(0, [&] {
    UserDataObj& u = GetUserDataObj(theUserData);
    std::vector<OSType> order;
    for (auto& i : u.items)
      if (std::find(order.begin(), order.end(), i.type) == order.end()) order.push_back(i.type);
    if (udType == 0) return order.empty() ? 0 : static_cast<SInt32>(order[0]);
    auto it = std::find(order.begin(), order.end(), udType);
    if (it == order.end() || ++it == order.end()) return 0;
    return static_cast<SInt32>(*it);
  });
}
