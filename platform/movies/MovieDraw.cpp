// Drawing a movie's current frame and servicing playing movies.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/movies/MovieCodecs.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace movies {

// What a track's decoder has done: it stays positioned, so stepping forward
// frame by frame only feeds the next samples.
struct TrackObj::DecodeState {
  std::unique_ptr<CMovieDecoder> decoder;
  SInt32 descIndex = 0;
  SInt32 threads = 0;          // the threads the decoder was made for
  SInt64 lastFed = -1;         // sample number last sent
  SInt64 frameTime = -1;       // display time of the frame held
  SInt32 width = 0, height = 0;
  std::vector<UInt8> frame;    // ARGB, width * 4 per row
  bool kept = false;           // `frame` holds the frame at frameTime
  std::vector<UInt8> sample;   // the bytes of the sample being fed, kept for the next
};

void ForgetDecodeState(TrackObj& t) { t.decode.reset(); }

void TrackDimsForDrawing(const MovieObj& m, const TrackObj& t, Fixed& w, Fixed& h);

namespace {

// The largest picture a movie's frames may have: 16384 on a side, 64 M pixels.
constexpr SInt32 kMaxPictureSide = 16384;
constexpr SInt64 kMaxPicturePixels = SInt64{1} << 26;

// Makes sure the track has a decoder for the target's description, with
// inThreads threads; false when the target has no description.
bool ReadyDecoder(TrackObj& t, const SampleInfo& target, SInt32 inThreads) {
  MediaObj& md = *t.media;
  if (target.descIndex < 1 || target.descIndex > static_cast<SInt32>(md.descs.size())) return false;
  if (!t.decode) t.decode = std::make_shared<TrackObj::DecodeState>();
  TrackObj::DecodeState& st = *t.decode;
  const std::vector<UInt8>& descBytes = md.descs[static_cast<size_t>(target.descIndex - 1)];
  if (!st.decoder || st.descIndex != target.descIndex || st.threads != inThreads) {
    st.decoder.reset();
    // The description is checked before the state takes it: a refused one
    // leaves no decoder behind, so the next draw checks it again instead of
    // using its size.
    if (descBytes.size() < sizeof(ImageDescription)) Throw_(noCodecErr);
    ImageDescription d;
    std::memcpy(&d, descBytes.data(), sizeof d);
    const SInt32 width = std::max<SInt32>(1, d.width);
    const SInt32 height = std::max<SInt32>(1, d.height);
    // A picture larger than any movie frame is a damaged description.
    if (width > kMaxPictureSide || height > kMaxPictureSide ||
        static_cast<SInt64>(width) * height > kMaxPicturePixels)
      Throw_(badImageDescription);
    st.decoder = NewMovieDecoder(descBytes, inThreads);
    if (!st.decoder) Throw_(noCodecErr);
    st.descIndex = target.descIndex;
    st.threads = inThreads;
    st.lastFed = -1;
    st.frameTime = -1;
    st.kept = false;
    st.width = width;
    st.height = height;
  }
  return true;
}

// Decodes the frame shown at `target` into the track's copy of it, or with
// inDirect (a buffer of the decoded size) straight into those pixels when the
// decoder gives out opaque pixels; the copy is then not kept (st.kept false).
// False when there is no frame to show. inRetry: a second try after a
// straight decode left no frame to draw from.
bool DecodeFrame(TrackObj& t, const SampleInfo& target, SInt32 inThreads, const MoviePixelBuffer* inDirect,
                 bool inRetry = false) {
  MediaObj& md = *t.media;
  if (target.descIndex < 1 || target.descIndex > static_cast<SInt32>(md.descs.size())) return false;
  if (t.decode) {
    const TrackObj::DecodeState& st = *t.decode;
    if (st.frameTime == target.decodeTime + target.compOffset && st.descIndex == target.descIndex && st.kept)
      return true;
  }
  if (!ReadyDecoder(t, target, inThreads)) return false;
  TrackObj::DecodeState& st = *t.decode;
  const SInt64 want = target.decodeTime + target.compOffset;
  const bool direct = inDirect != nullptr && inDirect->width == st.width && inDirect->height == st.height &&
                      st.decoder->WritesOpaque();
  // The copy is made only when it is drawn from: a straight decode never touches it.
  const size_t frameBytes = static_cast<size_t>(st.width) * st.height * 4;
  if (!direct && st.frame.size() != frameBytes) {
    st.frame.assign(frameBytes, 0);
    st.kept = false;
  }
  // Continue from where the decoder stands unless the target lies behind it
  // or a sync sample lies between (then start at that sync sample).
  SInt64 sync = md.samples.SyncSampleAtOrBefore(target.number);
  SInt64 start = st.lastFed + 1;
  // A decoder fed ahead of the frame it shows (reordering, frame threads)
  // already holds the target when it lies after the frame shown.
  const bool ahead = st.lastFed >= 0 && st.frameTime >= 0 && want > st.frameTime && sync <= st.lastFed;
  if (!ahead) {
    st.decoder->Flush();
    start = std::max<SInt64>(0, sync);
  }
  const MoviePixelBuffer buf = direct ? *inDirect : MoviePixelBuffer{st.frame.data(), st.width * 4, st.width, st.height};
  // One buffer for every sample: a fresh one per frame would fault its pages in each time.
  std::vector<UInt8>& bytes = st.sample;
  SInt64 n = start;
  bool ended = false;
  bool received = false;  // a frame came out into buf during this call
  for (int guard = 0; guard < 100000; ++guard) {
    for (;;) {
      SInt64 shown = -1;
      // The copy is overwritten: until a whole frame is in it, it holds none.
      const bool keptBefore = st.kept;
      if (!direct) st.kept = false;
      if (!st.decoder->ReceiveFrame(buf, &shown)) {
        st.kept = keptBefore;  // nothing was written
        break;
      }
      received = true;
      st.frameTime = shown;
      st.kept = !direct;
      if (shown >= want) return true;
    }
    if (ended) break;
    SampleInfo s;
    if (!md.samples.At(n, s) || s.descIndex != target.descIndex) {
      st.decoder->SendEnd();
      ended = true;
      continue;
    }
    ThrowIfOSErr_(CheckSampleBytes(md, s));
    bytes.resize(s.size);
    ThrowIfOSErr_(ReadSampleBytes(md, s, bytes.data()));
    st.decoder->SendSample(bytes.data(), s.size, s.decodeTime, s.decodeTime + s.compOffset);
    st.lastFed = n++;
  }
  // The decoder gave out no later frame: keep what was shown last, if a
  // buffer holds it (the target, when it came out straight into it now).
  if (st.frameTime < 0) return false;
  if (st.kept || (direct && received)) return true;
  // It went straight into another target: decode it again into the copy.
  if (inRetry) return false;
  st.frameTime = -1;
  st.lastFed = -1;
  return DecodeFrame(t, target, inThreads, nullptr, true);
}

// True when the track's frame, w x h through toTarget, covers the target
// exactly, pixel for pixel.
bool FillsTargetOneToOne(Fixed w, Fixed h, const DMatrix& toTarget, const MovieDrawTarget& target) {
  const DMatrix& a = toTarget;
  const Rect& b = target.bounds;
  return a.m[0][0] == 1 && a.m[1][1] == 1 && a.m[0][1] == 0 && a.m[1][0] == 0 && a.m[0][2] == 0 && a.m[1][2] == 0 &&
         a.m[2][2] == 1 && a.m[2][0] == b.left && a.m[2][1] == b.top && Fix2X(w) == b.right - b.left &&
         Fix2X(h) == b.bottom - b.top && b.right > b.left && b.bottom > b.top;
}

// A row of ARGB pixels with alpha set to 255 (A is the first byte: the low
// byte of a little-endian word).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the alpha mask assumes a little-endian host");
void CopyOpaqueRow(UInt8* __restrict outRow, const UInt8* __restrict inRow, SInt32 inWidth) {
  for (SInt32 x = 0; x < inWidth; ++x) {
    UInt32 v;
    std::memcpy(&v, inRow + static_cast<size_t>(x) * 4, 4);
    v |= 0xFFu;
    std::memcpy(outRow + static_cast<size_t>(x) * 4, &v, 4);
  }
}

// Draws the frame through `m` (frame pixels to target pixels) into the target, nearest sampling.
void Composite(const TrackObj::DecodeState& st, Fixed trackW, Fixed trackH, const DMatrix& toTarget,
               const MovieDrawTarget& target) {
  DMatrix inv;
  if (!DMatrixInverse(toTarget, inv)) return;
  double tw = Fix2X(trackW), th = Fix2X(trackH);
  if (tw <= 0 || th <= 0) return;
  // Bounding box of the track in target coordinates.
  double xs[4] = {0, tw, 0, tw}, ys[4] = {0, 0, th, th};
  double l = 1e18, r = -1e18, tp = 1e18, b = -1e18;
  for (int i = 0; i < 4; ++i) {
    double x = xs[i], y = ys[i];
    DMatrixTransform(toTarget, x, y);
    l = std::min(l, x), r = std::max(r, x), tp = std::min(tp, y), b = std::max(b, y);
  }
  // The box is clamped to the target before it becomes integers: a matrix
  // from a file may put it anywhere, or nowhere (not a number).
  auto within = [](double v, SInt32 lo, SInt32 hi) {
    return v >= lo ? (v <= hi ? static_cast<SInt32>(v) : hi) : lo;
  };
  const Rect& tb = target.bounds;
  SInt32 x0 = within(std::floor(l), tb.left, tb.right), x1 = within(std::ceil(r), tb.left, tb.right);
  SInt32 y0 = within(std::floor(tp), tb.top, tb.bottom), y1 = within(std::ceil(b), tb.top, tb.bottom);
  double sx = st.width / tw, sy = st.height / th;
  if (x0 >= x1 || y0 >= y1) return;
  // Without rotation or skew, each column and each row maps to one source
  // column or row: look them up once, and copy whole rows when they map one to one.
  if (inv.m[1][0] == 0 && inv.m[0][1] == 0 && inv.m[0][2] == 0 && inv.m[1][2] == 0) {
    std::vector<SInt32> cols(static_cast<size_t>(x1 - x0));
    bool straight = true;
    for (SInt32 x = x0; x < x1; ++x) {
      double u = (x + 0.5) * inv.m[0][0] + inv.m[2][0];
      SInt32 px = !(u >= 0 && u < tw) ? -1 : std::min<SInt32>(st.width - 1, static_cast<SInt32>(u * sx));
      cols[static_cast<size_t>(x - x0)] = px;
      if (px < 0 || px != cols[0] + (x - x0)) straight = false;
    }
    for (SInt32 y = y0; y < y1; ++y) {
      double v = (y + 0.5) * inv.m[1][1] + inv.m[2][1];
      if (!(v >= 0 && v < th)) continue;
      SInt32 py = std::min<SInt32>(st.height - 1, static_cast<SInt32>(v * sy));
      const UInt8* srow = st.frame.data() + static_cast<size_t>(py) * st.width * 4;
      UInt8* row = static_cast<UInt8*>(target.baseAddr) + static_cast<ptrdiff_t>(y - target.bounds.top) * target.rowBytes +
                   static_cast<ptrdiff_t>(x0 - target.bounds.left) * 4;
      if (straight) {
        // Whole rows with alpha 255, as drawing always writes it, in one pass.
        CopyOpaqueRow(row, srow + static_cast<size_t>(cols[0]) * 4, x1 - x0);
        continue;
      }
      for (SInt32 x = x0; x < x1; ++x) {
        SInt32 px = cols[static_cast<size_t>(x - x0)];
        if (px < 0) continue;
        const UInt8* sp = srow + static_cast<size_t>(px) * 4;
        UInt8* d = row + static_cast<ptrdiff_t>(x - x0) * 4;
        d[0] = 255, d[1] = sp[1], d[2] = sp[2], d[3] = sp[3];
      }
    }
    return;
  }
  for (SInt32 y = y0; y < y1; ++y) {
    UInt8* row = static_cast<UInt8*>(target.baseAddr) + static_cast<ptrdiff_t>(y - target.bounds.top) * target.rowBytes;
    for (SInt32 x = x0; x < x1; ++x) {
      double u = x + 0.5, v = y + 0.5;
      DMatrixTransform(inv, u, v);
      if (!(u >= 0 && v >= 0 && u < tw && v < th)) continue;
      SInt32 px = std::min<SInt32>(st.width - 1, static_cast<SInt32>(u * sx));
      SInt32 py = std::min<SInt32>(st.height - 1, static_cast<SInt32>(v * sy));
      const UInt8* s = st.frame.data() + (static_cast<size_t>(py) * st.width + px) * 4;
      UInt8* d = row + static_cast<ptrdiff_t>(x - target.bounds.left) * 4;
      d[0] = 255, d[1] = s[1], d[2] = s[2], d[3] = s[3];
    }
  }
}

// The sample of a track shown at movie time inTime; false when it shows none.
bool SampleShownAt(const MovieObj& m, const TrackObj& t, SInt64 inTime, SampleInfo& outSample) {
  SInt64 pos = 0, mt = -1;
  for (const Edit& e : t.edits) {
    if (inTime < pos + e.duration) {
      if (e.mediaTime >= 0) {
        Edit head = e;
        head.duration = inTime - pos;
        mt = e.mediaTime + EditMediaLength(head, m.scale, t.media->scale);
      }
      break;
    }
    pos += e.duration;
  }
  return mt >= 0 && t.media->samples.FindByDisplayTime(mt, outSample);
}

// The time whose frames are drawn: the movie's time, except that a movie at
// (or past) its end shows the frames that were shown just before the end, as
// a player stopped at the end does. Without this a movie moved to its end
// drew nothing and left whatever its target held.
SInt64 ShownTime(const MovieObj& m) {
  const SInt64 duration = MovieDuration(m);
  return duration > 0 && m.time >= duration ? duration - 1 : m.time;
}

void DrawMovie(MovieObj& m) {
  if (!m.hasTarget || !m.target.baseAddr) return;
  const SInt64 shown = ShownTime(m);
  std::vector<TrackObj*> order;
  for (auto& t : m.tracks)
    if (t->enabled && t->media && IsVisualType(t->media->type)) order.push_back(t.get());
  // Higher layers first, so lower layers end up in front.
  std::stable_sort(order.begin(), order.end(), [](TrackObj* a, TrackObj* b) { return a->layer > b->layer; });
  DMatrix movieM = MatrixToDouble(m.matrix);
  for (TrackObj* t : order) {
    SampleInfo s;
    if (!SampleShownAt(m, *t, shown, s)) continue;
    Fixed w, h;
    TrackDimsForDrawing(m, *t, w, h);
    DMatrix toTarget = DMatrixMultiply(MatrixToDouble(t->matrix), movieM);
    // A single track filling the target one to one, in a movie that keeps
    // no copies, is decoded straight into the target.
    MoviePixelBuffer direct{m.target.baseAddr, m.target.rowBytes, m.target.bounds.right - m.target.bounds.left,
                            m.target.bounds.bottom - m.target.bounds.top};
    const bool straight = !m.keepsDrawnFrame && order.size() == 1 && FillsTargetOneToOne(w, h, toTarget, m.target);
    if (!DecodeFrame(*t, s, m.decodeThreads, straight ? &direct : nullptr)) continue;
    if (!t->decode->kept) continue;  // it is in the target already
    Composite(*t->decode, w, h, toTarget, m.target);
  }
}

void TaskOne(MovieObj& m) {
  AdvanceMovieTime(m);
  if (m.port && !ResolvePortTarget(m)) return;
  if (!m.hasTarget) return;
  if (!m.needsDraw && m.lastDrawnTime == m.time) return;
  m.needsDraw = false;
  m.lastDrawnTime = m.time;
  DrawMovie(m);
  if (m.drawProc) {
    OSErr err = m.drawProc(ToHandle<Movie>(m.id), m.drawProcRefCon);
    if (err != noErr) Throw_(err);
  }
}

}  // namespace
}  // namespace movies

void SetMovieDrawTarget(Movie theMovie, const MovieDrawTarget* target) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (target && target->baseAddr) {
      if (target->bounds.right < target->bounds.left || target->bounds.bottom < target->bounds.top ||
          target->rowBytes < (target->bounds.right - target->bounds.left) * 4)
        Throw_(paramErr);
      m.target = *target;
      m.hasTarget = true;
      m.port = m.device = nullptr;
    } else {
      m.target = MovieDrawTarget{};
      m.hasTarget = false;
    }
    m.needsDraw = true;
  });
}

void SetMovieDecodeThreads(Movie theMovie, SInt32 inThreads) {
  GuardedErr([&] {
    if (inThreads < 0) Throw_(paramErr);
    GetMovie(theMovie).decodeThreads = inThreads;
  });
}

void SetMovieKeepsDrawnFrame(Movie theMovie, Boolean inKeep) {
  GuardedErr([&] { GetMovie(theMovie).keepsDrawnFrame = inKeep != 0; });
}

Boolean GetMovieKeepsDrawnFrame(Movie theMovie) {
  Boolean keep = true;
  GuardedErr([&] { keep = GetMovie(theMovie).keepsDrawnFrame; });
  return keep;
}

SInt32 GetMovieDecodeThreads(Movie theMovie) {
  SInt32 threads = 0;
  GuardedErr([&] { threads = GetMovie(theMovie).decodeThreads; });
  return threads;
}

void GetMovieDrawTarget(Movie theMovie, MovieDrawTarget* target) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (target) *target = m.hasTarget ? m.target : MovieDrawTarget{};
  });
}

OSErr UpdateMovie(Movie theMovie) {
  return GuardedErr([&] { GetMovie(theMovie).needsDraw = true; });
}

void InvalidateMovieRegion(Movie theMovie, void*) {
  GuardedErr([&] { GetMovie(theMovie).needsDraw = true; });
}

OSErr PrerollMovie(Movie theMovie, TimeValue time, Fixed) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    for (auto& t : m.tracks) {
      if (!t->enabled || !t->media || !IsVisualType(t->media->type)) continue;
      SampleInfo s;
      if (SampleShownAt(m, *t, time, s)) (void)ReadyDecoder(*t, s, m.decodeThreads);
    }
  });
}

void MoviesTask(Movie theMovie, SInt32) {
  GuardedErr([&] {
    if (theMovie) {
      TaskOne(GetMovie(theMovie));
      return;
    }
    for (auto& m : AllMovies())
      if (m->active) TaskOne(*m);
  });
}
