#include "app/MovieDocumentTestSupport.h"

#include "app/CRecentFiles.h"
#include "media/UMovies.h"

#include <cstring>
#include <filesystem>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/framework/UEventLoop.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "app/CMovieView.h"
#include "platform/ui/LView.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/URegistrar.h"
#include "support/movies/OpenMovie.h"
#include "support/movies/RawMovie.h"
#include "toolkit/CRegularWindow.h"

namespace movie_document_testing {

void FramePixel(SInt32 k, SInt32 x, SInt32 y, UInt8& outR, UInt8& outG, UInt8& outB) {
  outR = static_cast<UInt8>((x * 4 + k * 16) & 0xFF);
  outG = static_cast<UInt8>((y * 4) & 0xFF);
  outB = static_cast<UInt8>(k * 20 & 0xFF);
}

namespace {

void FillFrame(SInt32 k, SInt32 inWidth, SInt32 inHeight, UInt8* outPixels, size_t inRowBytes) {
  for (SInt32 y = 0; y < inHeight; ++y) {
    UInt8* row = outPixels + static_cast<size_t>(y) * inRowBytes;
    for (SInt32 x = 0; x < inWidth; ++x) {
      UInt8 r, g, b;
      FramePixel(k, x, y, r, g, b);
      row[4 * x] = 255;
      row[4 * x + 1] = r;
      row[4 * x + 2] = g;
      row[4 * x + 3] = b;
    }
  }
}

}  // namespace

void WriteMp4(const std::string& inPath, SInt32 inWidth, SInt32 inHeight, SInt32 inFrames) {
  FFExportSettings settings;
  settings.videoCodec = 'avc1';
  settings.quality = kFFHighQuality;
  settings.keyFrameInterval = 5;
  CFFMuxer muxer(inPath, 'mpg4', settings);
  SInt32 video = muxer.AddVideoTrack(inWidth, inHeight, 600, 20);
  muxer.Begin();
  std::vector<UInt8> pixels(static_cast<size_t>(inWidth) * inHeight * 4);
  for (SInt32 k = 0; k < inFrames; ++k) {
    FillFrame(k, inWidth, inHeight, pixels.data(), static_cast<size_t>(inWidth) * 4);
    FFPixelBuffer buffer;
    buffer.baseAddr = pixels.data();
    buffer.rowBytes = inWidth * 4;
    buffer.width = inWidth;
    buffer.height = inHeight;
    muxer.WriteVideoFrame(video, buffer, static_cast<TimeValue64>(k) * 20, 20);
  }
  muxer.Finish();
}

Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames) {
  return testmovies::MakeRawMovie(inWidth, inHeight, inFrames, [&](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
    FillFrame(k, inWidth, inHeight, outPixels, inRowBytes);
  });
}

void WriteQuickTimeMovie(const std::string& inPath, SInt32 inWidth, SInt32 inHeight, SInt32 inFrames,
                         const std::vector<UInt8>& inSettings) {
  Movie m = MakeRawMovie(inWidth, inHeight, inFrames);
  if (!inSettings.empty()) {
    Handle h = NewHandle(static_cast<SInt32>(inSettings.size()));
    std::memcpy(*h, inSettings.data(), inSettings.size());
    AddUserData(GetMovieUserData(m), h, 'Trbx');
    DisposeHandle(h);
  }
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  Movie flat = FlattenMovieData(m, flattenAddMovieToDataFork, &spec, kTremblorixFileCreator, smSystemScript,
                                createMovieFileDeleteCurFile | createMovieFileDontCreateMovie);
  if (flat) DisposeMovie(flat);
  DisposeMovie(m);
}

void AddTag(std::vector<UInt8>& ioBytes, OSType inTag, const std::vector<UInt8>& inValue) {
  std::vector<UInt8> head = BE32(inTag), len = BE32(static_cast<UInt32>(inValue.size()));
  ioBytes.insert(ioBytes.end(), head.begin(), head.end());
  ioBytes.insert(ioBytes.end(), len.begin(), len.end());
  ioBytes.insert(ioBytes.end(), inValue.begin(), inValue.end());
}

std::vector<UInt8> BE32(UInt32 v) {
  return {static_cast<UInt8>(v >> 24), static_cast<UInt8>(v >> 16), static_cast<UInt8>(v >> 8), static_cast<UInt8>(v)};
}

std::vector<UInt8> BEFloat(float inValue) {
  UInt32 bits;
  std::memcpy(&bits, &inValue, 4);
  return BE32(bits);
}

std::vector<UInt8> BERect(SInt16 t, SInt16 l, SInt16 b, SInt16 r) {
  std::vector<UInt8> out;
  for (SInt16 v : {t, l, b, r}) {
    out.push_back(static_cast<UInt8>(static_cast<UInt16>(v) >> 8));
    out.push_back(static_cast<UInt8>(v & 0xFF));
  }
  return out;
}

std::vector<UInt8> SettingsItemOfFile(const std::string& inPath) {
  std::vector<UInt8> out;
  Movie m = testmovies::OpenMovieAt(inPath);
  if (m == nullptr) return out;
  Handle h = NewHandle(0);
  if (GetUserData(GetMovieUserData(m), h, 'Trbx', 1) == noErr)
    out.assign(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
  DisposeHandle(h);
  DisposeMovie(m);
  return out;
}

std::vector<std::string> DataFilesOfMovieFile(const std::string& inPath) {
  std::vector<std::string> out;
  Movie m = testmovies::OpenMovieAt(inPath);
  if (m == nullptr) return out;
  for (SInt32 t = 1; t <= GetMovieTrackCount(m); ++t) {
    Media md = GetTrackMedia(GetMovieIndTrack(m, t));
    SInt16 count = 0;
    GetMediaDataRefCount(md, &count);
    for (SInt16 i = 1; i <= count; ++i) {
      Handle ref = nullptr;
      OSType type = 0;
      SInt32 attributes = 0;
      if (GetMediaDataRef(md, i, &ref, &type, &attributes) != noErr || !ref) continue;
      std::string path(*ref, static_cast<size_t>(GetHandleSize(ref)));
      if (type != 'hndl' && (attributes & 1) == 0) out.push_back(path);
      DisposeHandle(ref);
    }
  }
  DisposeMovie(m);
  return out;
}

void MoviePixel(Movie inMovie, TimeValue inTime, SInt32 inX, SInt32 inY, UInt8& outR, UInt8& outG, UInt8& outB) {
  Rect natural;
  GetMovieNaturalBoundsRect(inMovie, &natural);
  Rect bounds = {0, 0, static_cast<SInt16>(natural.bottom - natural.top),
                 static_cast<SInt16>(natural.right - natural.left)};
  GWorldPtr world = nullptr;
  QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
  CGrafPtr oldPort = nullptr;
  GDHandle oldDevice = nullptr;
  GetMovieGWorld(inMovie, &oldPort, &oldDevice);
  Rect oldBox;
  GetMovieBox(inMovie, &oldBox);
  SetMovieGWorld(inMovie, world, nullptr);
  SetMovieBox(inMovie, &bounds);
  SetMovieTimeValue(inMovie, inTime);
  MoviesTask(inMovie, 0);
  PixMapHandle pm = GetGWorldPixMap(world);
  const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + static_cast<size_t>(inY) * GetPixRowBytes(pm) +
                   static_cast<size_t>(inX) * 4;
  outR = p[1];
  outG = p[2];
  outB = p[3];
  SetMovieGWorld(inMovie, oldPort, oldDevice);
  SetMovieBox(inMovie, &oldBox);
  DisposeGWorld(world);
}

}  // namespace movie_document_testing

void DocumentFixture::SetUp() {
  UiFixture::SetUp();
  mOldHome = ::getenv("HOME") ? ::getenv("HOME") : "";
  ::setenv("HOME", mTmp.Path().c_str(), 1);
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  ASSERT_EQ(EnterMovies(), noErr);
  InstallFFmpegMovieComponents();
  TRegistrar<LPane>::Register();
  TRegistrar<LView>::Register();
  UControlRegistry::RegisterClasses();
  TRegistrar<CRegularWindow>::Register();
  RegisterMoviePaneClasses();
  CSingleDocument::sQuitting = false;
  CSingleDocument::sDisregardChanges = false;
  CSingleDocument::sAskClosing = true;
  CSingleDocument::SetCurrentKeyModifiers(0);
  CMovieDocument::sAllowDep = true;
  CMovieDocument::sEnforceSelfContainment = false;
}

void DocumentFixture::CloseAllDocuments() {
  CSingleDocument::sQuitting = false;
  while (CSingleDocument* doc = CSingleDocument::GetDocTester().FindTopDocument(true)) delete doc;
  // Documents without a window are not found by their window.
  UEventLoop::RunUntilIdle(50);
}

void DocumentFixture::TearDown() {
  CloseAllDocuments();
  // Saved files went into the recent-files list, which the application empties at its end.
  CRecentFiles::Delete();
  UBundle::SetMainBundlePath("");
  ::setenv("HOME", mOldHome.c_str(), 1);
  UiFixture::TearDown();
}

bool DocumentFixture::PumpUntil(const std::function<bool()>& inDone, int inMillis) {
  return UiTest::PumpUntil(inDone, inMillis);
}

CMovieDocument* DocumentFixture::Open(const std::string& inName) {
  FSSpec spec = mTmp.Spec(inName);
  return new CMovieDocument(spec);
}

CMovieDocument* DocumentFixture::OpenShown(const std::string& inName, int inMillis) {
  CMovieDocument* doc = Open(inName);
  EXPECT_TRUE(PumpUntil([&] { return doc->GetWindow()->IsVisible(); }, inMillis));
  return doc;
}
