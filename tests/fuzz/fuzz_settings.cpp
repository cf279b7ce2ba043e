// The movie's settings item ('Trbx' 1) as its document reads it when the
// movie opens: the input is the item. What the document took from it writes
// back and reads to the same settings, and renders.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/CMovieDocument.h"
#include "media/CMovie.h"
#include "tests/fuzz/FuzzDesktop.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/movies/RawMovie.h"

namespace {

CMovieDocument* gDocument = nullptr;
std::vector<UInt8> gDefaults;

struct Settings {
  MotionSettings motion;
  RenderFrameParams render;
  SInt32 delay, accuracy;
  UInt32 drawing;
  Rect region;
};

Settings Take(CMovieDocument& inDocument) {
  Settings s;
  std::memset(&s, 0, sizeof s);
  s.motion = inDocument.GetMotionSettings();
  s.render = inDocument.GetRenderParams();
  s.delay = inDocument.GetInterlaceDelay();
  s.accuracy = inDocument.GetTrackingAccuracy();
  s.drawing = inDocument.GetDrawingOptions();
  s.region = inDocument.GetRegionOfInterest();
  return s;
}

// Field by field, floats by their bits (a value read once reads again the same).
bool Same(const Settings& a, const Settings& b) {
  auto bits = [](Float32 f) {
    UInt32 u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  const MotionSettings &m = a.motion, &n = b.motion;
  const RenderFrameParams &r = a.render, &q = b.render;
  return bits(m.lowpassTime) == bits(n.lowpassTime) && bits(m.fadeInDuration) == bits(n.fadeInDuration) &&
         bits(m.fadeOutDuration) == bits(n.fadeOutDuration) && bits(m.tolerance) == bits(n.tolerance) &&
         m.doHorizontal == n.doHorizontal && m.doVertical == n.doVertical && m.doRotation == n.doRotation &&
         m.doZoom == n.doZoom && m.zoomMode == n.zoomMode && r.borderColor.red == q.borderColor.red &&
         r.borderColor.green == q.borderColor.green && r.borderColor.blue == q.borderColor.blue &&
         r.borderMode == q.borderMode && std::memcmp(&r.margins, &q.margins, sizeof r.margins) == 0 &&
         r.interlaceMode == q.interlaceMode && a.delay == b.delay && a.accuracy == b.accuracy &&
         a.drawing == b.drawing && std::memcmp(&a.region, &b.region, sizeof a.region) == 0;
}

void PutItem(const UInt8* inBytes, size_t inSize) {
  UserData ud = GetMovieUserData(gDocument->GetMovie()->GetMovie());
  while (CountUserDataType(ud, kMovieSettingsType) > 0) RemoveUserData(ud, kMovieSettingsType, kMovieSettingsIndex);
  Handle h = fuzz::HandleOfBytes(inBytes, inSize);
  if (!h) return;
  AddUserData(ud, h, kMovieSettingsType);
  DisposeHandle(h);
}

std::vector<UInt8> GetItem() {
  UserData ud = GetMovieUserData(gDocument->GetMovie()->GetMovie());
  Handle h = NewHandle(0);
  std::vector<UInt8> out;
  if (h && GetUserData(ud, h, kMovieSettingsType, kMovieSettingsIndex) == noErr)
    out.assign(*h, *h + GetHandleSize(h));
  if (h) DisposeHandle(h);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartDesktop();
  Movie movie = testmovies::MakeRawMovie(32, 24, 4, [](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
    for (size_t i = 0; i < inRowBytes * 24; ++i) outPixels[i] = static_cast<UInt8>(i * 7 + k * 31);
  });
  gDocument = new CMovieDocument(new CMovie(movie, true));
  if (gDocument->WriteSettingsToMovie(gDocument->GetMovie()) != noErr) std::abort();
  gDefaults = GetItem();
  if (gDefaults.empty()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMovieDocument& doc = *gDocument;
  CMovie* movie = doc.GetMovie();
  // Every input starts from a new document's settings.
  PutItem(gDefaults.data(), gDefaults.size());
  if (doc.ReadSettingsFromMovie(movie) != noErr) std::abort();
  PutItem(data, size);
  if (doc.ReadSettingsFromMovie(movie) != noErr) return 0;
  const Settings read = Take(doc);
  if (doc.WriteSettingsToMovie(movie) != noErr) std::abort();
  const std::vector<UInt8> written = GetItem();
  PutItem(gDefaults.data(), gDefaults.size());
  doc.ReadSettingsFromMovie(movie);
  PutItem(written.data(), written.size());
  if (doc.ReadSettingsFromMovie(movie) != noErr || !Same(Take(doc), read)) std::abort();

  fuzz::Frames frames(32, 24);
  fuzz::RenderEveryMode(frames, doc.GetRenderParams());
  fuzz::SettleDesktop();
  return 0;
}
