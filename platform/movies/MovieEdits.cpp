// Edit lists, track and movie segments, selections and edit states.
#include <algorithm>
#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace movies {

namespace {

TimeScale MediaScaleOf(const TrackObj& t) { return t.media ? t.media->scale : t.movie->scale; }

// Makes an edit boundary at movie time `at`; answers the index of the edit
// starting there (edits.size() when `at` is at or past the end). With `pad`,
// a track shorter than `at` is extended by an empty edit.
size_t SplitAt(std::vector<Edit>& edits, SInt64 at, TimeScale movieScale, TimeScale mediaScale, bool pad) {
  SInt64 pos = 0;
  for (size_t i = 0; i < edits.size(); ++i) {
    Edit& e = edits[i];
    if (at == pos) return i;
    if (at < pos + e.duration) {
      SInt64 d1 = at - pos;
      Edit second = e;
      second.duration = e.duration - d1;
      if (e.mediaTime >= 0) {
        Edit head = e;
        head.duration = d1;
        second.mediaTime = e.mediaTime + EditMediaLength(head, movieScale, mediaScale);
      }
      e.duration = d1;
      edits.insert(edits.begin() + static_cast<std::ptrdiff_t>(i + 1), second);
      return i + 1;
    }
    pos += e.duration;
  }
  if (pad && at > pos) edits.push_back(Edit{at - pos, -1, fixed1});
  return edits.size();
}

// The edits covering [start, start + duration), padded with empty time.
std::vector<Edit> ExtractEdits(const TrackObj& t, SInt64 start, SInt64 duration) {
  std::vector<Edit> copy = t.edits;
  TimeScale ms = MediaScaleOf(t);
  size_t a = SplitAt(copy, start, t.movie->scale, ms, true);
  size_t b = SplitAt(copy, start + duration, t.movie->scale, ms, true);
  std::vector<Edit> out(copy.begin() + static_cast<std::ptrdiff_t>(a), copy.begin() + static_cast<std::ptrdiff_t>(b));
  SInt64 got = 0;
  for (auto& e : out) got += e.duration;
  if (got < duration) out.push_back(Edit{duration - got, -1, fixed1});
  return out;
}

void DeleteEdits(TrackObj& t, SInt64 start, SInt64 duration) {
  if (duration <= 0) return;
  TimeScale ms = MediaScaleOf(t);
  size_t a = SplitAt(t.edits, start, t.movie->scale, ms, false);
  size_t b = SplitAt(t.edits, start + duration, t.movie->scale, ms, false);
  if (a < b) t.edits.erase(t.edits.begin() + static_cast<std::ptrdiff_t>(a), t.edits.begin() + static_cast<std::ptrdiff_t>(b));
  NormalizeEdits(t.edits);
}

void InsertEdits(TrackObj& t, SInt64 at, const std::vector<Edit>& segment) {
  bool hasContent = std::any_of(segment.begin(), segment.end(), [](const Edit& e) { return e.mediaTime >= 0; });
  if (!hasContent && at >= TrackDuration(t)) return;  // empty time after the end changes nothing
  size_t i = SplitAt(t.edits, at, t.movie->scale, MediaScaleOf(t), true);
  t.edits.insert(t.edits.begin() + static_cast<std::ptrdiff_t>(i), segment.begin(), segment.end());
  NormalizeEdits(t.edits);
}

// Finds or adds in `dst` a data reference equal to `e`.
SInt16 ShareDataRef(MediaObj& dst, const DataRefEntry& e) {
  for (size_t i = 0; i < dst.dataRefs.size(); ++i) {
    const DataRefEntry& d = dst.dataRefs[i];
    if (d.store == e.store && d.type == e.type && d.self == e.self && d.ref == e.ref) return static_cast<SInt16>(i + 1);
  }
  dst.dataRefs.push_back(e);
  return static_cast<SInt16>(dst.dataRefs.size());
}

// Appends to `dst` the samples of `src` that the edit shows and points the
// edit at them.
void ImportEditMedia(MediaObj& dst, const MediaObj& src, Edit& e, TimeScale movieScale) {
  if (e.mediaTime < 0) return;
  SInt64 len = std::max<SInt64>(1, EditMediaLength(e, movieScale, src.scale));
  SampleInfo first, last;
  if (!src.samples.FindByDecodeTime(e.mediaTime, first) &&
      !src.samples.FindByDisplayTime(e.mediaTime, first))
    Throw_(timeNotInMedia);
  if (!src.samples.FindByDecodeTime(e.mediaTime + len - 1, last)) src.samples.At(src.samples.Count() - 1, last);
  if (last.number < first.number) last = first;
  // Samples with composition offsets may show from earlier in decode order: widen to the sync sample.
  SInt64 from = src.samples.HasCompositionOffsets() ? std::max<SInt64>(0, src.samples.SyncSampleAtOrBefore(first.number))
                                                    : first.number;
  SampleInfo fromInfo;
  src.samples.At(from, fromInfo);
  std::map<SInt32, SInt32> descMap;
  SInt64 base = dst.samples.Duration();
  // Whole runs at a time: sound media hold one sample per audio frame.
  for (SInt64 n = from; n <= last.number;) {
    SampleInfo s;
    src.samples.At(n, s);
    const SampleRun* run = src.samples.RunContaining(n);
    SInt64 count = run ? std::min(run->first + run->count, last.number + 1) - n : 1;
    auto it = descMap.find(s.descIndex);
    if (it == descMap.end()) {
      std::vector<UInt8> d = src.descs[static_cast<size_t>(s.descIndex - 1)];
      const DataRefEntry* dr = DataRefForDesc(const_cast<MediaObj&>(src), s.descIndex);
      if (!dr) Throw_(badDataRefIndex);
      SInt16 ri = ShareDataRef(dst, *dr);
      SampleDescription sd;
      std::memcpy(&sd, d.data(), sizeof sd);
      sd.dataRefIndex = ri;
      std::memcpy(d.data(), &sd, sizeof sd);
      it = descMap.emplace(s.descIndex, FindOrAddDescription(dst, d)).first;
    }
    dst.samples.Append(s.offset, s.size, static_cast<SInt32>(ScaleTime(s.duration, src.scale, dst.scale)), count,
                       it->second, s.sync, static_cast<SInt32>(ScaleTime(s.compOffset, src.scale, dst.scale)));
    n += count;
  }
  e.mediaTime = base + ScaleTime(e.mediaTime - fromInfo.decodeTime, src.scale, dst.scale);
}

std::shared_ptr<TrackObj> NewTrackLike(MovieObj& dstMovie, const TrackObj& src) {
  auto t = CloneTrack(src, &dstMovie, false);
  t->edits.clear();
  t->media.reset();
  t->references.clear();
  bool idUsed = std::any_of(dstMovie.tracks.begin(), dstMovie.tracks.end(),
                            [&](auto& o) { return o->trackID == src.trackID; });
  if (idUsed) {
    t->trackID = dstMovie.nextTrackID++;
  } else {
    dstMovie.nextTrackID = std::max(dstMovie.nextTrackID, src.trackID + 1);
  }
  t->stamp = NextStamp();
  dstMovie.tracks.push_back(t);
  Register(t->id, Kind::kTrack, t, false);
  Register(t->userData->id, Kind::kUserData, t->userData, false);
  t->userData->movie = &dstMovie;
  return t;
}

void GiveMedia(TrackObj& dst, const MediaObj& src, bool cloneWhole) {
  if (cloneWhole) {
    dst.media = CloneMedia(src, &dst, false);
    dst.media->samples = src.samples;
  } else {
    dst.media = NewMediaObj(dst, src.type, src.scale);
    dst.media->handlerName = src.handlerName;
    dst.media->graphicsMode = src.graphicsMode;
    dst.media->opColor = src.opColor;
    dst.media->quality = src.quality;
    dst.media->language = src.language;
  }
  Register(dst.media->id, Kind::kMedia, dst.media, false);
  Register(dst.media->userData->id, Kind::kUserData, dst.media->userData, false);
  dst.media->userData->movie = dst.movie;
}

// Inserts the segment of `src` into `dst` at dstIn, bringing the media
// samples it shows along when the tracks do not share one media.
void InsertSegment(TrackObj& src, TrackObj& dst, SInt64 srcIn, SInt64 srcDuration, SInt64 dstIn) {
  if (srcDuration <= 0) return;
  if (srcIn < 0 || dstIn < 0) Throw_(invalidTime);
  std::vector<Edit> seg = ExtractEdits(src, srcIn, srcDuration);
  // Convert edit durations between movie time scales.
  if (src.movie->scale != dst.movie->scale)
    for (Edit& e : seg) e.duration = ScaleTime(e.duration, src.movie->scale, dst.movie->scale);
  bool hasContent = std::any_of(seg.begin(), seg.end(), [](const Edit& e) { return e.mediaTime >= 0; });
  if (hasContent) {
    if (!src.media) Throw_(invalidMedia);
    if (!dst.media) {
      GiveMedia(dst, *src.media, true);
    } else if (dst.media.get() != src.media.get()) {
      if (dst.media->type != src.media->type) Throw_(mediaTypesDontMatch);
      if (dst.media->scale != src.media->scale && dst.media->samples.Count() == 0) dst.media->scale = src.media->scale;
      for (Edit& e : seg) ImportEditMedia(*dst.media, *src.media, e, dst.movie->scale);
    }
  }
  InsertEdits(dst, dstIn, seg);
  Touch(dst);
}

TrackObj* MatchTrack(MovieObj& dst, const TrackObj& src, const std::vector<TrackObj*>& used) {
  auto free = [&](TrackObj* t) { return std::find(used.begin(), used.end(), t) == used.end(); };
  auto sameType = [&](TrackObj* t) { return t->media && src.media && t->media->type == src.media->type; };
  for (auto& t : dst.tracks)
    if (free(t.get()) && sameType(t.get()) && t->trackID == src.trackID) return t.get();
  for (auto& t : dst.tracks)
    if (free(t.get()) && sameType(t.get()) && t->layer == src.layer) return t.get();
  return nullptr;
}

void InsertMovieSegmentImpl(MovieObj& src, MovieObj& dst, SInt64 srcIn, SInt64 srcDuration, SInt64 dstIn) {
  if (srcIn < 0 || srcDuration < 0 || dstIn < 0) Throw_(invalidTime);
  if (srcDuration == 0) return;
  SInt64 dstDur = ScaleTime(srcDuration, src.scale, dst.scale);
  // Snapshot both track lists: src may be dst.
  std::vector<std::shared_ptr<TrackObj>> srcTracks = src.tracks;
  std::vector<std::shared_ptr<TrackObj>> before = dst.tracks;
  std::vector<TrackObj*> used;
  std::vector<std::pair<TrackObj*, TrackObj*>> pairs;
  for (auto& s : srcTracks) {
    std::vector<Edit> seg = ExtractEdits(*s, srcIn, srcDuration);
    if (!std::any_of(seg.begin(), seg.end(), [](const Edit& e) { return e.mediaTime >= 0; })) continue;
    TrackObj* d = &src == &dst ? s.get() : MatchTrack(dst, *s, used);
    if (!d) d = NewTrackLike(dst, *s).get();
    used.push_back(d);
    pairs.emplace_back(s.get(), d);
  }
  // When a movie pastes into itself the source edits must be read before any change.
  std::vector<std::vector<Edit>> segs;
  for (auto& p : pairs) segs.push_back(ExtractEdits(*p.first, srcIn, srcDuration));
  for (size_t i = 0; i < pairs.size(); ++i) {
    TrackObj& s = *pairs[i].first;
    TrackObj& d = *pairs[i].second;
    std::vector<Edit> seg = segs[i];
    if (src.scale != dst.scale)
      for (Edit& e : seg) e.duration = ScaleTime(e.duration, src.scale, dst.scale);
    if (!d.media) GiveMedia(d, *s.media, true);
    else if (d.media.get() != s.media.get()) {
      if (d.media->type != s.media->type) Throw_(mediaTypesDontMatch);
      for (Edit& e : seg) ImportEditMedia(*d.media, *s.media, e, dst.scale);
    }
    InsertEdits(d, dstIn, seg);
    Touch(d);
  }
  // Every other track of the destination makes room for the inserted time.
  for (auto& t : before)
    if (std::find(used.begin(), used.end(), t.get()) == used.end() && dstIn < TrackDuration(*t)) {
      InsertEdits(*t, dstIn, {Edit{dstDur, -1, fixed1}});
      Touch(*t);
    }
  Touch(dst);
}

void DeleteMovieSegmentImpl(MovieObj& m, SInt64 start, SInt64 duration) {
  if (start < 0 || duration < 0) Throw_(invalidTime);
  if (duration == 0) return;
  for (auto& t : m.tracks) {
    SInt64 before = TrackDuration(*t);
    if (start >= before) continue;
    DeleteEdits(*t, start, duration);
    Touch(*t);
  }
  Touch(m);
}

std::shared_ptr<MovieObj> CopySegment(MovieObj& src, SInt64 start, SInt64 duration) {
  auto copy = NewMovieObj();
  copy->scale = src.scale;
  copy->matrix = src.matrix;
  copy->preferredRate = src.preferredRate;
  copy->preferredVolume = src.preferredVolume;
  copy->apertureMode = src.apertureMode;
  copy->userData->items = src.userData->items;
  copy->nextTrackID = src.nextTrackID;
  if (src.hasDefaultDataRef) {
    copy->defaultDataRef = src.defaultDataRef;
    copy->hasDefaultDataRef = true;
  }
  for (auto& t : src.tracks) {
    std::vector<Edit> seg = ExtractEdits(*t, start, duration);
    NormalizeEdits(seg);
    if (seg.empty() || !t->media) continue;
    auto nt = CloneTrack(*t, copy.get(), false);
    nt->edits = seg;
    nt->stamp = NextStamp();
    copy->tracks.push_back(nt);
  }
  RegisterMovieTree(copy);
  return copy;
}

}  // namespace

}  // namespace movies

OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate) {
  return GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (!t.media) Throw_(invalidMedia);
    if (mediaRate <= 0) Throw_(badEditList);
    if (mediaDuration < 0) Throw_(invalidDuration);
    if (mediaTime < -1) Throw_(invalidTime);
    SInt64 at = trackStart < 0 ? TrackDuration(t) : trackStart;
    Edit e;
    e.mediaTime = mediaTime;
    e.rate = mediaRate;
    e.duration = static_cast<SInt64>(static_cast<double>(ScaleTime(mediaDuration, t.media->scale, t.movie->scale)) /
                                     Fix2X(mediaRate));
    if (e.duration <= 0) return;
    size_t i = SplitAt(t.edits, at, t.movie->scale, t.media->scale, true);
    t.edits.insert(t.edits.begin() + static_cast<std::ptrdiff_t>(i), e);
    NormalizeEdits(t.edits);
    Touch(t);
  });
}

OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn) {
  return GuardedErr([&] {
    TrackObj& s = GetTrack(srcTrack);
    TrackObj& d = GetTrack(dstTrack);
    InsertSegment(s, d, srcIn, srcDuration, dstIn);
  });
}

OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration) {
  return GuardedErr([&] {
    TrackObj& t = GetTrack(dstTrack);
    if (dstIn < 0 || dstDuration < 0) Throw_(invalidTime);
    if (dstDuration == 0) return;
    InsertEdits(t, dstIn, {Edit{dstDuration, -1, fixed1}});
    Touch(t);
  });
}

OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration) {
  return GuardedErr([&] {
    TrackObj& t = GetTrack(theTrack);
    if (startTime < 0 || duration < 0) Throw_(invalidTime);
    DeleteEdits(t, startTime, duration);
    Touch(t);
  });
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack) {
  return Guarded<TimeValue>(-1, [&] {
    TrackObj& t = GetTrack(theTrack);
    if (value < 0 || !t.media) return -1;
    SInt64 pos = 0;
    for (const Edit& e : t.edits) {
      if (value < pos + e.duration) {
        if (e.mediaTime < 0) return -1;
        Edit head = e;
        head.duration = value - pos;
        return static_cast<TimeValue>(e.mediaTime + EditMediaLength(head, t.movie->scale, t.media->scale));
      }
      pos += e.duration;
    }
    return -1;
  });
}

OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn) {
  return GuardedErr([&] {
    auto s = GetMovieShared(srcMovie);
    auto d = GetMovieShared(dstMovie);
    InsertMovieSegmentImpl(*s, *d, srcIn, srcDuration, dstIn);
  });
}

OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(dstMovie);
    if (dstIn < 0 || dstDuration < 0) Throw_(invalidTime);
    for (auto& t : m.tracks)
      if (dstIn < TrackDuration(*t)) {
        InsertEdits(*t, dstIn, {Edit{dstDuration, -1, fixed1}});
        Touch(*t);
      }
    Touch(m);
  });
}

OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration) {
  return GuardedErr([&] { DeleteMovieSegmentImpl(GetMovie(theMovie), startTime, duration); });
}

Movie CopyMovieSelection(Movie theMovie) {
  return Guarded<Movie>(nullptr, [&] {
    MovieObj& m = GetMovie(theMovie);
    auto c = CopySegment(m, m.selStart, m.selDuration);
    return ToHandle<Movie>(c->id);
  });
}

Movie CutMovieSelection(Movie theMovie) {
  return Guarded<Movie>(nullptr, [&] {
    MovieObj& m = GetMovie(theMovie);
    auto c = CopySegment(m, m.selStart, m.selDuration);
    DeleteMovieSegmentImpl(m, m.selStart, m.selDuration);
    m.selDuration = 0;
    m.time = std::min(m.time, MovieDuration(m));
    return ToHandle<Movie>(c->id);
  });
}

void ClearMovieSelection(Movie theMovie) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    DeleteMovieSegmentImpl(m, m.selStart, m.selDuration);
    m.selDuration = 0;
    m.time = std::min(m.time, MovieDuration(m));
  });
}

void PasteMovieSelection(Movie theMovie, Movie src) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    auto s = GetMovieShared(src);
    // Pasting replaces the selection with the source movie.
    if (s.get() == &m) Throw_(paramErr);
    DeleteMovieSegmentImpl(m, m.selStart, m.selDuration);
    SInt64 d = MovieDuration(*s);
    InsertMovieSegmentImpl(*s, m, 0, d, m.selStart);
    m.selDuration = ScaleTime(d, s->scale, m.scale);
  });
}

void AddMovieSelection(Movie theMovie, Movie src) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    auto s = GetMovieShared(src);
    if (s.get() == &m) Throw_(paramErr);
    for (auto& t : s->tracks) {
      if (!t->media) continue;
      auto nt = NewTrackLike(m, *t);
      GiveMedia(*nt, *t->media, true);
      nt->edits = t->edits;
      for (Edit& e : nt->edits) e.duration = ScaleTime(e.duration, s->scale, m.scale);
      if (m.selStart > 0) nt->edits.insert(nt->edits.begin(), Edit{m.selStart, -1, fixed1});
      NormalizeEdits(nt->edits);
      Touch(*nt);
    }
  });
}

// --- edit states ---------------------------------------------------------------------------

namespace movies {
struct EditStateObj {
  UInt64 id = 0;
  UInt64 movieId = 0;
  TimeScale scale = 600;
  std::vector<std::shared_ptr<TrackObj>> tracks;
  std::shared_ptr<UserDataObj> userData;
  MatrixRecord matrix{};
  SInt64 selStart = 0, selDuration = 0, posterTime = 0;
  SInt32 nextTrackID = 1;
  OSType apertureMode = 0;
  std::vector<std::vector<UInt8>> unknownMoov;
};
}  // namespace movies

MovieEditState NewMovieEditState(Movie theMovie) {
  return Guarded<MovieEditState>(nullptr, [&] {
    MovieObj& m = GetMovie(theMovie);
    auto s = std::make_shared<EditStateObj>();
    s->id = NewId();
    s->movieId = m.id;
    s->scale = m.scale;
    for (auto& t : m.tracks) s->tracks.push_back(CloneTrack(*t, nullptr, true));
    s->userData = std::make_shared<UserDataObj>(*m.userData);
    s->matrix = m.matrix;
    s->selStart = m.selStart;
    s->selDuration = m.selDuration;
    s->posterTime = m.posterTime;
    s->nextTrackID = m.nextTrackID;
    s->apertureMode = m.apertureMode;
    s->unknownMoov = m.unknownMoov;
    Register(s->id, Kind::kEditState, s, true);
    return ToHandle<MovieEditState>(s->id);
  });
}

OSErr UseMovieEditState(Movie theMovie, MovieEditState toState) {
  return GuardedErr([&] {
    auto mp = GetMovieShared(theMovie);
    MovieObj& m = *mp;
    auto s = std::static_pointer_cast<EditStateObj>(Lookup(FromHandle(toState), Kind::kEditState));
    if (!s) Throw_(invalidEditState);
    if (s->movieId != m.id) Throw_(nonMatchingEditState);
    // Build the restored structure first, then swap it in.
    std::vector<std::shared_ptr<TrackObj>> tracks;
    for (auto& t : s->tracks) {
      auto c = CloneTrack(*t, &m, true);
      c->stamp = NextStamp();
      tracks.push_back(c);
    }
    for (auto& t : m.tracks) {
      UnregisterTrackTree(*t);
      t->movie = nullptr;
      if (t->media) t->media->track = nullptr;
    }
    m.tracks = std::move(tracks);
    auto ud = std::make_shared<UserDataObj>(*s->userData);
    m.userData = ud;
    m.scale = s->scale;
    m.matrix = s->matrix;
    m.selStart = s->selStart;
    m.selDuration = s->selDuration;
    m.posterTime = s->posterTime;
    m.nextTrackID = s->nextTrackID;
    m.apertureMode = s->apertureMode;
    m.unknownMoov = s->unknownMoov;
    RegisterMovieTree(mp);
    m.time = std::min(m.time, MovieDuration(m));
    Touch(m);
  });
}

OSErr DisposeMovieEditState(MovieEditState state) {
  return GuardedErr([&] {
    UInt64 id = FromHandle(state);
    if (!Lookup(id, Kind::kEditState)) Throw_(invalidEditState);
    Unregister(id);
  });
}
