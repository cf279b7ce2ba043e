// Motion samples to corrections, to a control track, to rendered frames.
// Input: settings (24 bytes: smoothing time, fade in, fade out, tolerance as
// big-endian floats, four switches, zoom mode, interlacing), then 64-byte
// motion samples.
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = EnterMovies() == noErr;
  (void)entered;
  static fuzz::Frames frames(24, 16);
  fuzz::Cursor in{data, size};
  std::vector<uint8_t> head = in.Take(24);
  head.resize(24, 0);
  MotionSettings s;
  s.lowpassTime = ReadBEFloat(head.data());
  s.fadeInDuration = ReadBEFloat(head.data() + 4);
  s.fadeOutDuration = ReadBEFloat(head.data() + 8);
  s.tolerance = ReadBEFloat(head.data() + 12);
  s.doHorizontal = head[16] & 1, s.doVertical = head[17] & 1, s.doRotation = head[18] & 1, s.doZoom = head[19] & 1;
  s.zoomMode = head[20] % 5;
  const SInt32 interlace = 2 + head[21] % 3;

  std::vector<DiffMotionData> records;
  for (SInt32 i = 0; in.n > 0 && i < 256; ++i) {
    std::vector<uint8_t> bytes = in.Take(kDiffMotionDataSize);
    DiffMotionData d;
    DiffMotionDataFromSample(bytes.data(), bytes.size(), d);
    d.time = i * 40;
    d.duration = 40;
    records.push_back(d);
  }
  const Rect bounds{0, 0, 16, 24};
  CMotionData store;
  store.SetRecords(records, bounds, 1000, static_cast<SInt32>(records.size()) * 40);
  if (store.CreateMatrices(&s, 0.02f) != noErr) return 0;

  Movie movie = NewMovie(0);
  SetMovieTimeScale(movie, 1000);
  Track track = nullptr;
  if (CTweenTracks::CreateTweenTrackFromMotionData(movie, bounds, store, &track) == noErr && track) {
    const TimeValue duration = GetMovieDuration(movie);
    for (TimeValue t = 0; t < duration && t < 256 * 40; t += 40) {
      RenderFrameParams p;
      p.interlaceMode = interlace;
      if (!CMovieRendering::GetTweenSample(movie, t, p.firstMatrix, p.secondMatrix, p.firstMeasure, p.secondMeasure,
                                           nullptr))
        continue;
      for (SInt32 field : {kRenderFrame, kRenderBothFields})
        for (SInt32 border : {kBorderColor, kBorderFilled}) {
          p.fieldMode = field;
          p.borderMode = border;
          CMovieRendering::RenderFrame(frames.src, frames.dst, &p);
        }
    }
  }
  DisposeMovie(movie);
  return 0;
}
