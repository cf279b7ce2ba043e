// Writes the fuzz harnesses' seed corpora with the project's own writers:
// trx_fuzz_seeds <folder> makes <folder>/<harness>/<n> for every harness.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/CExportMovie.h"
#include "app/CMovieDocument.h"
#include "app/CPreferences.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/LMovieExportNavSheet.h"
#include "media/CMovie.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/Movies.h"
#include "tests/fuzz/FuzzDesktop.h"
#include "tests/platform/ffmpeg/FFTestSupport.h"
#include "tests/platform/movies/MovieTestUtil.h"
#include "tests/support/movies/RawMovie.h"
#include "toolkit/LResFile.h"
#include "vantrel/ExportProtocol.h"

namespace {

using Bytes = std::vector<UInt8>;

std::string gRoot;

void Put(const std::string& harness, const Bytes& bytes) {
  static int serial = 0;
  const std::string dir = gRoot + "/" + harness;
  mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/seed" + std::to_string(++serial), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes FromHandle(Handle h) { return h ? Bytes(*h, *h + GetHandleSize(h)) : Bytes(); }

Bytes FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Bytes Flattened(Movie m) {
  Handle h = NewHandle(0);
  PutMovieIntoHandle(m, h);
  Bytes out = FromHandle(h);
  DisposeHandle(h);
  return out;
}

std::vector<DiffMotionData> Shake(int n, UInt32 options) {
  std::vector<DiffMotionData> out;
  for (int i = 0; i < n; ++i) {
    DiffMotionData d{};
    d.version = kMotionDataVersion;
    d.options = options;
    d.quality = 90;
    d.xShift = 2.0f + ((i * 7) % 5) - 2.0f;
    d.yShift = ((i * 3) % 4) - 1.5f;
    d.rotation = 0.001f * static_cast<float>(i % 3);
    d.scale = 1.0f;
    d.time = i * 40;
    d.duration = 40;
    d.centerX = 12, d.centerY = 8;
    d.quality2 = 90, d.xShift2 = d.xShift, d.yShift2 = d.yShift, d.scale2 = 1.0f;
    out.push_back(d);
  }
  return out;
}

// A movie with a raw video track, a motion track, a control track made from
// corrections, user data and sound.
Movie BuildMovie(bool withSound) {
  Movie m = NewMovie(newMovieActive);
  SetMovieTimeScale(m, 1000);
  AddRawVideoTrack(m, 8, 6, 4, 40, 1000);
  AddTweenTrack(m, 3, 40, 0x3000);
  CMotionData store;
  MotionSettings s;
  store.SetRecords(Shake(4, 0), Rect{0, 0, 6, 8}, 1000, 160);
  store.CreateMatrices(&s, 0.02f);
  Track control = nullptr;
  CTweenTracks::CreateTweenTrackFromMotionData(m, Rect{0, 0, 6, 8}, store, &control);
  if (control) {
    RenderFrameParams p;
    CMovieRendering::WriteRenderParamsToTrack(control, p);
    CMovieRendering::WriteMoSettingsToTrack(control, s);
  }
  if (withSound) {
    testmovies::AddPcmSoundTrack(m, 8000, 1, Bytes(2 * 160, 3));
  }
  return m;
}

void MovieSeeds() {
  for (bool sound : {false, true}) {
    Movie m = BuildMovie(sound);
    Put("movie", Flattened(m));
    DisposeMovie(m);
  }
}

void ControlSeeds() {
  TweenSample s;
  UInt8 b[kTweenSampleSize];
  TweenSampleToBytes(s, b);
  Put("control", Bytes(b, b + sizeof b));
  TranslateMatrix(&s.first, X2Fix(2.5), X2Fix(-1));
  RotateMatrix(&s.second, X2Fix(3), X2Fix(12), X2Fix(8));
  s.firstMeasure = 0.5f, s.secondMeasure = 0.25f;
  TweenSampleToBytes(s, b);
  Put("control", Bytes(b, b + sizeof b));
  b[0] = 2;
  Put("control", Bytes(b, b + 44));
  b[0] = 1;
  Put("control", Bytes(b, b + 38));
}

void TagSeeds() {
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, Long2Fix(24), Long2Fix(16), 0);
  RenderFrameParams p;
  p.interlaceMode = 3;
  p.fieldMode = kRenderBothFields;
  p.borderMode = kBorderFilled;
  TranslateMatrix(&p.firstMatrix, X2Fix(1.5), X2Fix(2));
  p.margins = Rect{1, 1, 2, 2};
  MotionSettings s;
  s.lowpassTime = 0.5f;
  s.doZoom = 1;
  s.zoomMode = kZoomInset5;
  s.fadeInDuration = 0.1f;
  CMovieRendering::WriteRenderParamsToTrack(t, p);
  CMovieRendering::WriteMoSettingsToTrack(t, s);
  Handle rd = NewHandle(0), mo = NewHandle(0);
  GetUserData(GetTrackUserData(t), rd, 'RdPr', 1);
  GetUserData(GetTrackUserData(t), mo, 'MoSt', 1);
  Bytes a = FromHandle(rd), b = FromHandle(mo);
  Bytes seed{static_cast<UInt8>(a.size() >> 8), static_cast<UInt8>(a.size())};
  seed.insert(seed.end(), a.begin(), a.end());
  seed.insert(seed.end(), b.begin(), b.end());
  Put("tagstream", seed);
  DisposeHandle(rd);
  DisposeHandle(mo);
  DisposeMovie(m);
}

void MotionSeeds() {
  for (UInt32 options : {0u, kMotionOptionFieldPair}) {
    Bytes seed(24, 0);
    WriteBEFloat(seed.data(), 0.3f);
    WriteBEFloat(seed.data() + 4, 0.1f);
    WriteBEFloat(seed.data() + 8, 0.1f);
    WriteBEFloat(seed.data() + 12, 5.0f);
    seed[16] = seed[17] = seed[18] = 1;
    seed[19] = options ? 1 : 0;
    seed[20] = options ? kZoomInset10 : kZoomNone;
    seed[21] = options ? 1 : 0;
    for (const DiffMotionData& d : Shake(12, options)) {
      UInt8 b[kDiffMotionDataSize];
      DiffMotionDataToSample(d, b);
      seed.insert(seed.end(), b, b + sizeof b);
    }
    Put("motion", seed);
  }
}

void ExportSeeds() {
  Movie m = BuildMovie(true);
  const Bytes movie = Flattened(m);
  DisposeMovie(m);
  for (OSType subtype : {OSType('mpg4'), OSType('MooV'), OSType('VfW '), OSType('AIFF')}) {
    MovieExportComponent exporter = nullptr;
    if (OpenADefaultComponent(MovieExportType, subtype, &exporter) != noErr) continue;
    QTAtomContainer settings = nullptr;
    MovieExportGetSettingsAsAtomContainer(exporter, &settings);
    CloseComponent(exporter);
    const Bytes s = FromHandle(settings);
    // The harness reads the movie and the settings: no destination, no single-field record.
    ExportRequestFields fields =
        ExportRequestOf(movie.data(), movie.size(), nullptr, 0, subtype, s.data(), s.size(), 7, false);
    fields.hasDestination = false;
    fields.hasSingleField = false;
    const Bytes message = EncodeExportRequest(fields);
    Put("export", message);
    DisposeHandle(settings);
  }
}

void StatusSeeds() {
  const ExportStatus records[] = {{kExportStatusProgress, kExportPhaseSound, fixed1 / 2, 0, 0, 3},
                                  {kExportStatusError, kExportPhaseMovie, 0, -43, 0, 9},
                                  {kExportStatusDone, kExportPhaseMovie, fixed1, 0, 0, 1}};
  for (const ExportStatus& s : records) {
    UInt8 b[kExportStatusSize];
    EncodeExportStatus(s, b);
    Put("status", Bytes(b, b + sizeof b));
  }
}

void ResourceSeeds() {
  ResourceMapContents map;
  map.fileAttrs = 0x20;
  for (int i = 0; i < 3; ++i) {
    ResourceMapEntry e;
    e.type = i < 2 ? 'STR ' : 'MoSt';
    e.id = static_cast<ResID>(128 + i);
    e.hasName = i != 1;
    e.name = "item " + std::to_string(i);
    e.data.assign(static_cast<size_t>(5 + i * 3), static_cast<char>('a' + i));
    map.entries.push_back(e);
  }
  std::vector<char> bytes;
  if (SerializeResourceMap(map, bytes) == noErr) {
    Bytes seed{0};
    seed.insert(seed.end(), bytes.begin(), bytes.end());
    Put("resources", seed);
    const std::string file = gRoot + "/sidecar-source";
    { std::ofstream(file) << "data"; }
    SidecarContents side;
    side.hasFork = true;
    side.fork = bytes;
    side.hasFinderInfo = true;
    WriteBE32(side.finderInfo, 'MooV');
    if (WriteSidecar(file, side) == noErr) {
      Bytes s{1};
      const Bytes car = FileBytes(gRoot + "/._sidecar-source");
      s.insert(s.end(), car.begin(), car.end());
      Put("resources", s);
    }
    side.hasFork = false;
    WriteSidecar(file, side);
    std::remove((gRoot + "/._sidecar-source").c_str());
    std::remove(file.c_str());
  }
}

void ForeignSeeds() {
  struct Kind {
    OSType exporter, codec;
    const char* name;
    bool sound;
  };
  const Kind kinds[] = {{'VfW ', 'mp4v', "clip.avi", false},
                        {'mpg4', 'avc1', "clip.mp4", true},
                        {'MooV', 'jpeg', "clip.mov", false}};
  for (const Kind& k : kinds) {
    const std::string path = gRoot + "/" + k.name;
    try {
      FFExportSettings settings;
      settings.videoCodec = k.codec;
      CFFMuxer muxer(path, k.exporter, settings);
      SInt32 video = muxer.AddVideoTrack(48, 32, 600, 20);
      SInt32 sound = k.sound ? muxer.AddSoundTrack(8000, 1) : -1;
      muxer.Begin();
      std::vector<SInt16> pcm(8000 / 30, 100);
      for (int i = 0; i < 6; ++i) {
        fftest::Picture p = fftest::MakeFrame(48, 32, i);
        muxer.WriteVideoFrame(video, p.Buffer(), i * 20, 20);
        if (sound >= 0) muxer.WriteSound(sound, pcm.data(), static_cast<UInt32>(pcm.size()));
      }
      muxer.Finish();
      Put("foreign", FileBytes(path));
    } catch (...) {
      std::fprintf(stderr, "trx_fuzz_seeds: no %s seed\n", k.name);
    }
    std::remove(path.c_str());
  }
}

// Preferences seeds: flags byte, 16-bit data fork length, data fork, settings resource.
void PutPreferences(UInt8 inFlags, const Bytes& inData, const Bytes& inSettings) {
  Bytes seed{inFlags, static_cast<UInt8>(inData.size() >> 8), static_cast<UInt8>(inData.size())};
  seed.insert(seed.end(), inData.begin(), inData.end());
  seed.insert(seed.end(), inSettings.begin(), inSettings.end());
  Put("preferences", seed);
}

Bytes SettingsResourceOf(const FSSpec& inSpec, ResID inID) {
  LResFile file(inSpec);
  Handle h = file.GetResHandle(kSettingsResType, inID);
  Bytes out = FromHandle(h);
  if (h) DisposeHandle(h);
  return out;
}

void PreferencesSeeds() {
  // The bundle's default copy, as the build wrote it.
  FSSpec defaults;
  if (CPreferences::FindDefaultPrefFile(defaults) == noErr)
    PutPreferences(1, FileBytes(FSSpecPath(defaults)), SettingsResourceOf(defaults, kDefaultSettingsResID));
  // A file the application wrote after some use: recent files, the Open
  // dialog's file type, export options and an exporter's settings.
  const std::string path = gRoot + "/preferences-source";
  { std::ofstream(path) << ""; }
  FSSpec spec;
  FSMakeFSSpecFromPath(path, &spec);
  CPreferences::WritePrefs(spec);
  for (const char* name : {"/Holiday.mov", "/Garden.mov"}) {
    { std::ofstream(gRoot + name) << "movie"; }
    FSSpec file;
    FSMakeFSSpecFromPath(gRoot + name, &file);
    CRecentFiles::AddToRecentFileMenu(&file);
  }
  CExportMovieSettings::sSelectionOnly = false;
  CExportMovieSettings::sSingleField = true;
  CExportMovieSettings::sCurrentExporter = 'mpg4';
  MovieExportComponent exporter = nullptr;
  if (OpenADefaultComponent(MovieExportType, 'mpg4', &exporter) == noErr) {
    QTAtomContainer settings = nullptr;
    if (MovieExportGetSettingsAsAtomContainer(exporter, &settings) == noErr) {
      CExportMovie::UpdateExporterSettings('mpg4', settings);
      QTDisposeAtomContainer(settings);
    }
    CloseComponent(exporter);
  }
  CSettingsResource::sOpenFileType = 'MooV';
  if (CSettingsResource::Write(spec, 1) == noErr) PutPreferences(0, FileBytes(path), SettingsResourceOf(spec, kSettingsResID));
  CRecentFiles::Delete();
  for (const char* name : {"/Holiday.mov", "/Garden.mov", "/._preferences-source", "/preferences-source"})
    std::remove((gRoot + name).c_str());
}

void SettingsSeeds() {
  Movie movie = testmovies::MakeRawMovie(32, 24, 2, [](SInt32, UInt8* outPixels, size_t inRowBytes) {
    std::fill(outPixels, outPixels + inRowBytes * 24, UInt8{90});
  });
  auto* document = new CMovieDocument(new CMovie(movie, true));
  CMovie* m = document->GetMovie();
  auto item = [&] {
    Handle h = NewHandle(0);
    GetUserData(GetMovieUserData(m->GetMovie()), h, kMovieSettingsType, kMovieSettingsIndex);
    Put("settings", FromHandle(h));
    DisposeHandle(h);
  };
  if (document->WriteSettingsToMovie(m) == noErr) item();
  MotionSettings& s = document->GetMotionSettings();
  s.lowpassTime = 0.5f, s.fadeInDuration = 0.2f, s.doRotation = 0, s.doZoom = 1, s.zoomMode = kZoomInset5;
  RenderFrameParams& p = document->GetRenderParams();
  p.borderMode = kBorderColor;
  p.borderColor = RGBColor{0xFFFF, 0x8000, 0};
  p.margins = Rect{1, 2, 3, 4};
  p.interlaceMode = kInterlace_EvenFirst;
  if (document->WriteSettingsToMovie(m) == noErr) item();
  delete document;
}

// Client seeds: two exports, progress, an error, the user's removal and the done records.
void ClientSeeds() {
  auto record = [](Bytes& io, UInt16 inKind, UInt16 inPhase, Fixed inFraction, SInt16 inError, UInt32 inCookie) {
    UInt8 b[kExportStatusSize];
    EncodeExportStatus(ExportStatus{inKind, inPhase, inFraction, inError, 0, inCookie}, b);
    io.push_back(kExportStatusSize);
    io.insert(io.end(), b, b + sizeof b);
  };
  Bytes seed{1};
  record(seed, kExportStatusProgress, kExportPhaseMovie, fixed1 / 4, 0, 2);
  record(seed, kExportStatusProgress, kExportPhaseSound, fixed1 / 2, 0, 2);
  record(seed, kExportStatusDone, kExportPhaseMovie, fixed1, 0, 2);
  record(seed, kExportStatusProgress, kExportPhaseMovie, fixed1 / 3, 0, 1);
  seed.insert(seed.end(), {0xFF, 0});
  record(seed, kExportStatusError, kExportPhaseMovie, 0, userCanceledErr, 1);
  record(seed, kExportStatusDone, kExportPhaseMovie, 0, 0, 1);
  Put("client", seed);
  Bytes failed{6};
  record(failed, kExportStatusError, kExportPhaseMovie, 0, -43, 3);
  record(failed, kExportStatusDone, kExportPhaseMovie, 0, 0, 3);
  Put("client", failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trx_fuzz_seeds <folder>\n");
    return 2;
  }
  gRoot = argv[1];
  mkdir(gRoot.c_str(), 0755);
  if (EnterMovies() != noErr) return 1;
  MovieSeeds();
  ControlSeeds();
  TagSeeds();
  MotionSeeds();
  ExportSeeds();
  StatusSeeds();
  ResourceSeeds();
  ForeignSeeds();
  // The application's readers, on a headless desktop with the export client.
  fuzz::StartDesktop();
  if (CExportMovie::Init() != noErr) return 1;
  PreferencesSeeds();
  SettingsSeeds();
  ClientSeeds();
  CExportMovie::Finish();
  return 0;
}
