// Helpers shared by the movie toolbox tests.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/Movies.h"

// A 32-bit raw image description of w x h.
inline ImageDescriptionHandle MakeRawDesc(SInt16 w, SInt16 h, const char* name = "Raw") {
  auto d = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**d).idSize = sizeof(ImageDescription);
  (**d).cType = 'raw ';
  (**d).width = w;
  (**d).height = h;
  (**d).hRes = (**d).vRes = Long2Fix(72);
  (**d).frameCount = 1;
  (**d).depth = 32;
  (**d).clutID = -1;
  size_t n = std::strlen(name);
  (**d).name[0] = static_cast<unsigned char>(n);
  std::memcpy((**d).name + 1, name, n);
  return d;
}

// A 16-byte description of a data media.
inline SampleDescriptionHandle MakeDataDesc(OSType format) {
  auto d = reinterpret_cast<SampleDescriptionHandle>(NewHandleClear(sizeof(SampleDescription)));
  (**d).descSize = sizeof(SampleDescription);
  (**d).dataFormat = static_cast<SInt32>(format);
  return d;
}

inline Handle BytesHandle(const std::vector<UInt8>& bytes) {
  Handle h = NewHandle(static_cast<SInt32>(bytes.size()));
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

inline std::vector<UInt8> HandleToBytes(Handle h) {
  return std::vector<UInt8>(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
}

// Builds a 'vide' track of `frames` raw frames, each `frameDuration` long in
// media scale `scale`, inserted at `offset` in the movie. Frame k is filled
// with the colour (k+1, 2k, 3k) so frames can be told apart.
inline Track AddRawVideoTrack(Movie m, SInt16 w, SInt16 h, int frames, TimeValue frameDuration, TimeScale scale,
                              TimeValue offset = 0) {
  Track t = NewMovieTrack(m, Long2Fix(w), Long2Fix(h), 0);
  Media md = NewTrackMedia(t, VideoMediaType, scale, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  ImageDescriptionHandle desc = MakeRawDesc(w, h);
  BeginMediaEdits(md);
  for (int k = 0; k < frames; ++k) {
    std::vector<UInt8> px(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
      px[i] = 255;
      px[i + 1] = static_cast<UInt8>(k + 1);
      px[i + 2] = static_cast<UInt8>(2 * k);
      px[i + 3] = static_cast<UInt8>(3 * k);
    }
    Handle data = BytesHandle(px);
    AddMediaSample(md, data, 0, static_cast<UInt32>(px.size()), frameDuration,
                   reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
    DisposeHandle(data);
  }
  EndMediaEdits(md);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  InsertMediaIntoTrack(t, offset, 0, GetMediaDuration(md), fixed1);
  return t;
}

// A 'twen' track of `count` samples of 8 bytes (sample k = k repeated) at layer `layer`.
inline Track AddTweenTrack(Movie m, int count, TimeValue duration, SInt16 layer, TimeValue offset = 0) {
  Track t = NewMovieTrack(m, Long2Fix(16), Long2Fix(16), 0);
  SetTrackLayer(t, layer);
  Media md = NewTrackMedia(t, 'twen', GetMovieTimeScale(m), nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  SampleDescriptionHandle desc = MakeDataDesc('twen');
  for (int k = 0; k < count; ++k) {
    std::vector<UInt8> bytes(8, static_cast<UInt8>(k));
    Handle data = BytesHandle(bytes);
    AddMediaSample(md, data, 0, 8, duration, desc, 1, 0, nullptr);
    DisposeHandle(data);
  }
  DisposeHandle(reinterpret_cast<Handle>(desc));
  InsertMediaIntoTrack(t, offset, 0, GetMediaDuration(md), fixed1);
  return t;
}
