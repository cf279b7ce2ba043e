// What the harnesses share: the inputs' byte cursor and the movie walk that
// opens, steps through and draws whatever a reader made of the bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"

namespace fuzz {

// Takes values off the front of an input; past its end every value is 0.
struct Cursor {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  uint32_t Word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  std::vector<uint8_t> Take(size_t k) {
    k = std::min(k, n);
    std::vector<uint8_t> out(p, p + k);
    p += k;
    n -= k;
    return out;
  }
  std::vector<uint8_t> Rest() { return Take(n); }
};

inline Handle HandleOfBytes(const void* data, size_t size) {
  Handle h = NewHandle(static_cast<SInt32>(size));
  if (h && size) std::memcpy(*h, data, size);
  return h;
}

// Walks every track's samples (a bounded number) and draws the movie at a
// few times into a small picture.
inline void WalkAndDraw(Movie m) {
  if (!m) return;
  const SInt32 tracks = std::min<SInt32>(GetMovieTrackCount(m), 8);
  Handle sample = NewHandle(0);
  for (SInt32 i = 1; i <= tracks; ++i) {
    Track t = GetMovieIndTrack(m, i);
    Media md = GetTrackMedia(t);
    if (!md) continue;
    TimeValue time = 0;
    for (int k = 0; k < 16 && time >= 0; ++k) {
      SInt32 size = 0;
      GetMediaSample(md, sample, 0, &size, TrackTimeToMediaTime(time, t), nullptr, nullptr, nullptr, nullptr, 4,
                     nullptr, nullptr);
      TimeValue next = -1;
      GetTrackNextInterestingTime(t, nextTimeMediaSample, time, fixed1, &next, nullptr);
      if (next <= time) break;
      time = next;
    }
  }
  DisposeHandle(sample);
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 24, 32};
  if (QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0) != noErr) return;
  SetMovieGWorld(m, world, nullptr);
  const TimeValue duration = GetMovieDuration(m);
  for (int k = 0; k < 4; ++k) {
    SetMovieTimeValue(m, duration > 0 ? static_cast<TimeValue>(static_cast<SInt64>(duration) * k / 4) : 0);
    UpdateMovie(m);
    MoviesTask(m, 0);
  }
  SetMovieGWorld(m, nullptr, nullptr);
  DisposeGWorld(world);
}

// A small textured frame and a frame to render into.
struct Frames {
  CBuffer* src;
  CBuffer* dst;
  Frames(SInt16 w, SInt16 h)
      : src(new CBuffer(Rect{0, 0, h, w}, kBufferDepth8, kBufferModeARGB)),
        dst(new CBuffer(Rect{0, 0, h, w}, kBufferDepth8, kBufferModeARGB)) {
    UInt8* base = reinterpret_cast<UInt8*>(src->GetData());
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < w; ++x) {
        UInt8* p = base + y * src->GetRowBytes() + 4 * x;
        p[0] = 255, p[1] = static_cast<UInt8>(x * 9), p[2] = static_cast<UInt8>(y * 13), p[3] = static_cast<UInt8>(x ^ y);
      }
  }
  ~Frames() {
    src->Release();
    dst->Release();
  }
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;
};

// Renders with the parameters in every field and border mode at both qualities.
inline void RenderEveryMode(Frames& f, RenderFrameParams p) {
  for (SInt32 field = kRenderFrame; field <= kRenderSecondFieldStretch; ++field)
    for (SInt32 border = kBorderTransparent; border <= kBorderFilled; ++border)
      for (SInt32 quality : {kQualityLow, kQualityHigh}) {
        p.fieldMode = field;
        p.borderMode = border;
        p.quality = quality;
        CMovieRendering::RenderFrame(f.src, f.dst, &p);
      }
}

}  // namespace fuzz
