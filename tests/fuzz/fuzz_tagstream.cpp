// Tagged streams as a track's render parameters ('RdPr') and stabilisation
// settings ('MoSt'), read back and used: the renderer and the correction
// pipeline take what was read. Input: a 16-bit length, the 'RdPr' item of
// that length, then the 'MoSt' item.
#include "motion/CMotionData.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

void Replace(Track t, OSType type, const std::vector<uint8_t>& bytes) {
  UserData ud = GetTrackUserData(t);
  while (CountUserDataType(ud, type) > 0) RemoveUserData(ud, type, 1);
  Handle h = fuzz::HandleOfBytes(bytes.data(), bytes.size());
  AddUserData(ud, h, type);
  DisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = EnterMovies() == noErr;
  (void)entered;
  static Movie movie = NewMovie(0);
  static Track track = NewMovieTrack(movie, Long2Fix(24), Long2Fix(16), 0);
  static fuzz::Frames frames(24, 16);
  fuzz::Cursor in{data, size};
  const size_t first = (static_cast<size_t>(in.Byte()) << 8) | in.Byte();
  Replace(track, 'RdPr', in.Take(first));
  Replace(track, 'MoSt', in.Rest());

  RenderFrameParams p;
  CMovieRendering::ReadRenderParamsFromTrack(track, p);
  MotionSettings s;
  CMovieRendering::ReadMoSettingsFromTrack(track, s);
  CMovieRendering::RenderFrame(frames.src, frames.dst, &p);

  // A shaky pan corrected with the settings read.
  std::vector<DiffMotionData> records;
  for (SInt32 i = 0; i < 24; ++i) {
    DiffMotionData d{};
    d.version = kMotionDataVersion;
    d.quality = 100;
    d.xShift = static_cast<float>((i % 3) - 1);
    d.yShift = static_cast<float>((i % 2) * 2 - 1);
    d.rotation = 0.002f * static_cast<float>(i % 5);
    d.scale = 1.0f + 0.001f * static_cast<float>(i % 4);
    d.time = i * 40;
    d.duration = 40;
    records.push_back(d);
  }
  CMotionData store;
  store.SetRecords(records, Rect{0, 0, 16, 24}, 1000, 24 * 40);
  if (store.CreateMatrices(&s, 0.02f) == noErr)
    for (const FrameData& f : store.GetFrames()) {
      p.firstMatrix = f.matrix1;
      p.secondMatrix = f.matrix2;
      CMovieRendering::RenderFrame(frames.src, frames.dst, &p);
    }
  return 0;
}
