#include <gtest/gtest.h>

#include "MovieTestUtil.h"
#include "platform/base/Clock.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/MovieCodecs.h"

namespace {

int gDrawn = 0;
OSErr CountDraw(Movie, SInt32) {
  ++gDrawn;
  return noErr;
}

// One pixel's A R G B bytes.
std::vector<UInt8> Pixel(GWorldPtr w, int x, int y) {
  PixMapHandle pm = GetGWorldPixMap(w);
  const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
  return {p[0], p[1], p[2], p[3]};
}

// A track of one solid frame of colour (r, g, b).
Track SolidTrack(Movie m, SInt16 w, SInt16 h, UInt8 r, UInt8 g, UInt8 b, TimeValue duration) {
  Track t = NewMovieTrack(m, Long2Fix(w), Long2Fix(h), 0);
  Media md = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  ImageDescriptionHandle desc = MakeRawDesc(w, h);
  std::vector<UInt8> px;
  for (int i = 0; i < w * h; ++i) px.insert(px.end(), {0, r, g, b});  // alpha 0 in the data: drawn opaque
  Handle data = BytesHandle(px);
  AddMediaSample(md, data, 0, static_cast<UInt32>(px.size()), duration,
                 reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
  InsertMediaIntoTrack(t, 0, 0, duration, fixed1);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return t;
}

TEST(MovieDraw, LayersMatricesAndTheBox) {
  Movie m = NewMovie(newMovieActive);
  Track back = SolidTrack(m, 8, 8, 200, 0, 0, 600);
  Track front = SolidTrack(m, 4, 4, 0, 200, 0, 600);
  SetTrackLayer(back, 1);
  SetTrackLayer(front, 0);  // lower layers are in front
  MatrixRecord mx;
  SetIdentityMatrix(&mx);
  TranslateMatrix(&mx, Long2Fix(2), Long2Fix(2));
  SetTrackMatrix(front, &mx);

  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 16, 16};
  ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  SetMovieGWorld(m, world, nullptr);
  Rect box = {0, 0, 8, 8};
  SetMovieBox(m, &box);
  gDrawn = 0;
  SetMovieDrawingCompleteProc(m, movieDrawingCallWhenChanged, CountDraw, 0);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(gDrawn, 1);
  EXPECT_EQ(Pixel(world, 0, 0), std::vector<UInt8>({255, 200, 0, 0}));
  EXPECT_EQ(Pixel(world, 3, 3), std::vector<UInt8>({255, 0, 200, 0}));
  EXPECT_EQ(Pixel(world, 6, 6), std::vector<UInt8>({255, 200, 0, 0}));
  EXPECT_EQ(Pixel(world, 9, 9), std::vector<UInt8>({0, 0, 0, 0}));  // outside the box
  // Nothing changed: no redraw. UpdateMovie asks for one.
  MoviesTask(m, 0);
  EXPECT_EQ(gDrawn, 1);
  UpdateMovie(m);
  MoviesTask(nullptr, 0);
  EXPECT_EQ(gDrawn, 2);

  // The box scales: the 8x8 movie fills 16x16.
  Rect big = {0, 0, 16, 16};
  SetMovieBox(m, &big);
  MoviesTask(m, 0);
  EXPECT_EQ(Pixel(world, 15, 15), std::vector<UInt8>({255, 200, 0, 0}));
  EXPECT_EQ(Pixel(world, 6, 6), std::vector<UInt8>({255, 0, 200, 0}));
  // A disabled track is not drawn.
  SetTrackEnabled(front, false);
  MoviesTask(m, 0);
  EXPECT_EQ(Pixel(world, 6, 6), std::vector<UInt8>({255, 200, 0, 0}));
  DisposeMovie(m);
  DisposeGWorld(world);
}

TEST(MovieDraw, FramesFollowTheTimeAndTheClock) {
  StManualClock clock;
  Movie m = NewMovie(newMovieActive);
  AddRawVideoTrack(m, 2, 2, 10, 60, 600);  // ten frames of 0.1 s
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 2, 2};
  ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  SetMovieGWorld(m, world, nullptr);
  SetMovieTimeValue(m, 130);
  MoviesTask(m, 0);
  EXPECT_EQ(Pixel(world, 0, 0)[1], 3);  // frame 2
  SetMovieTimeValue(m, 10);
  MoviesTask(m, 0);
  EXPECT_EQ(Pixel(world, 0, 0)[1], 1);  // back to frame 0

  StartMovie(m);
  UClock::AdvanceSeconds(0.25);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMovieTime(m, nullptr), 160);
  EXPECT_EQ(Pixel(world, 0, 0)[1], 3);
  UClock::AdvanceSeconds(5);
  EXPECT_EQ(GetMovieTime(m, nullptr), 600);  // stops at the end
  EXPECT_EQ(GetMovieRate(m), 0);
  EXPECT_TRUE(IsMovieDone(m));
  DisposeMovie(m);
  DisposeGWorld(world);
}

// A movie of one 2x2 raw frame whose sample description is replaced by a
// raw one of inWidth x inHeight and codec type inType, drawing into ioPixels
// (2x2 ARGB).
Movie MovieDescribedAs(SInt16 inWidth, SInt16 inHeight, OSType inType, SampleDescriptionHandle& outDesc,
                       std::vector<UInt8>& ioPixels) {
  Movie m = NewMovie(newMovieActive);
  Track t = AddRawVideoTrack(m, 2, 2, 1, 60, 600);
  outDesc = reinterpret_cast<SampleDescriptionHandle>(MakeRawDesc(inWidth, inHeight));
  reinterpret_cast<ImageDescription*>(*outDesc)->cType = inType;
  EXPECT_EQ(SetMediaSampleDescription(GetTrackMedia(t), 1, outDesc), noErr);
  ioPixels.assign(16, 0);
  MovieDrawTarget target{};
  target.baseAddr = ioPixels.data();
  target.rowBytes = 8;
  target.bounds = {0, 0, 2, 2};
  SetMovieDrawTarget(m, &target);
  return m;
}

TEST(MovieDraw, UnknownCodecsReportAndRegisteredOnesDecode) {
  SampleDescriptionHandle desc = nullptr;
  std::vector<UInt8> px;
  Movie m = MovieDescribedAs(2, 2, 'zzzz', desc, px);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noCodecErr);

  // A registered decoder for the type takes over.
  struct CGrey : CMovieDecoder {
    bool have = false;
    void SendSample(const void*, UInt32, SInt64, SInt64) override { have = true; }
    void SendEnd() override {}
    bool ReceiveFrame(const MoviePixelBuffer& d, SInt64* t) override {
      if (!have) return false;
      have = false;
      if (t) *t = 0;
      for (int y = 0; y < d.height; ++y)
        std::memset(static_cast<UInt8*>(d.baseAddr) + y * d.rowBytes, 0x77, static_cast<size_t>(d.width) * 4);
      return true;
    }
    void Flush() override { have = false; }
  };
  RegisterMovieDecoder('zzzz', [](const ImageDescription&, const std::vector<UInt8>&, SInt32) -> std::unique_ptr<CMovieDecoder> {
    return std::make_unique<CGrey>();
  });
  UpdateMovie(m);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], 0x77);
  RegisterMovieDecoder('zzzz', nullptr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(m);
}

// A description claiming a picture wider than any movie frame is refused
// at every draw, not only the first: the refusal leaves no decoder behind
// whose size a later draw would trust (a damaged file could otherwise make
// it allocate gigabytes).
TEST(MovieDraw, OversizedDescriptionsAreRefusedAtEveryDraw) {
  SampleDescriptionHandle desc = nullptr;
  std::vector<UInt8> px;
  Movie m = MovieDescribedAs(16385, 1, 'raw ', desc, px);
  for (int draw = 0; draw < 3; ++draw) {
    UpdateMovie(m);
    MoviesTask(m, 0);
    EXPECT_EQ(GetMoviesError(), badImageDescription) << "draw " << draw;
  }
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(m);
}

}  // namespace

// A matrix from a file may magnify a track beyond any integer range: the
// track's box is clamped to the target before it becomes integers, so the
// frame still covers the target.
TEST(MovieDraw, HugeMagnificationStillCoversTheTarget) {
  Movie m = NewMovie(newMovieActive);
  Track t = SolidTrack(m, 8, 8, 200, 0, 0, 600);
  MatrixRecord mx;
  SetIdentityMatrix(&mx);
  ScaleMatrix(&mx, X2Fix(32767), X2Fix(32767), 0, 0);
  SetTrackMatrix(t, &mx);
  SetMovieMatrix(m, &mx);
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 16, 16};
  ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  SetMovieGWorld(m, world, nullptr);
  SetMovieMatrix(m, &mx);
  MoviesTask(m, 0);
  EXPECT_EQ(Pixel(world, 5, 5), std::vector<UInt8>({255, 200, 0, 0}));
  EXPECT_EQ(Pixel(world, 15, 15), std::vector<UInt8>({255, 200, 0, 0}));
  DisposeMovie(m);
  DisposeGWorld(world);
}

// Uncompressed frames of both depths, every pixel different, drawn at their
// own size and stepped forward and back: each pixel comes back exactly, with
// alpha 255, and no frame shows through another.
TEST(MovieDraw, UncompressedFramesDrawExactlyAtBothDepths) {
  constexpr SInt16 kW = 37, kH = 11;
  auto value = [](int frame, int x, int y, int c) { return static_cast<UInt8>(frame * 61 + x * 7 + y * 13 + c * 29); };
  for (SInt16 depth : {SInt16(24), SInt16(32)}) {
    SCOPED_TRACE(depth);
    Movie m = NewMovie(newMovieActive);
    Track t = NewMovieTrack(m, Long2Fix(kW), Long2Fix(kH), 0);
    Media md = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
    Handle ref = NewHandleClear(sizeof(Handle));
    AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
    DisposeHandle(ref);
    ImageDescriptionHandle desc = MakeRawDesc(kW, kH);
    (**desc).depth = depth;
    const int bpp = depth / 8;
    for (int f = 0; f < 3; ++f) {
      std::vector<UInt8> px;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          if (bpp == 4) px.push_back(0);  // alpha 0 in the data: drawn opaque
          for (int c = 0; c < 3; ++c) px.push_back(value(f, x, y, c));
        }
      Handle data = BytesHandle(px);
      AddMediaSample(md, data, 0, static_cast<UInt32>(px.size()), 100,
                     reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
      DisposeHandle(data);
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    InsertMediaIntoTrack(t, 0, 0, 300, fixed1);
    GWorldPtr world = nullptr;
    Rect bounds = {0, 0, kH, kW};
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(m, world, nullptr);
    for (int f : {0, 1, 2, 1, 0, 2}) {
      SetMovieTimeValue(m, f * 100 + 50);
      MoviesTask(m, 0);
      ASSERT_EQ(GetMoviesError(), noErr);
      int wrong = 0;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          if (Pixel(world, x, y) != std::vector<UInt8>({255, value(f, x, y, 0), value(f, x, y, 1), value(f, x, y, 2)}))
            ++wrong;
      EXPECT_EQ(wrong, 0) << "frame " << f;
    }
    DisposeMovie(m);
    DisposeGWorld(world);
  }
}

namespace {
std::vector<SInt32> gThreadsAsked;
// Notes the threads each decoder is made for, then lets the raw decoder decode.
std::unique_ptr<CMovieDecoder> NoteThreads(const ImageDescription&, const std::vector<UInt8>&, SInt32 inThreads) {
  gThreadsAsked.push_back(inThreads);
  return nullptr;
}
}  // namespace

namespace {

// A 4x4 world for the movie, whose raw frames are then decoded by decoders
// that note the threads they are made for.
GWorldPtr WorldNotingThreads(Movie inMovie) {
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 4, 4};
  if (QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
  SetMovieGWorld(inMovie, world, nullptr);
  RegisterMovieDecoder('raw ', NoteThreads);
  gThreadsAsked.clear();
  return world;
}

}  // namespace

// A movie's decoders are made for the threads it allows, and made again for
// the next frame decoded once that changes; frames still draw the same.
TEST(MovieDraw, DecodersAreMadeForTheMoviesThreads) {
  Movie m = NewMovie(newMovieActive);
  Track t = SolidTrack(m, 4, 4, 10, 20, 30, 600);
  {
    // A second frame, of another colour, from time 600.
    Media md = GetTrackMedia(t);
    ImageDescriptionHandle desc = MakeRawDesc(4, 4);
    std::vector<UInt8> px;
    for (int i = 0; i < 16; ++i) px.insert(px.end(), {0, 40, 50, 60});
    Handle data = BytesHandle(px);
    BeginMediaEdits(md);
    AddMediaSample(md, data, 0, static_cast<UInt32>(px.size()), 600, reinterpret_cast<SampleDescriptionHandle>(desc), 1,
                   0, nullptr);
    EndMediaEdits(md);
    InsertMediaIntoTrack(t, 600, 600, 600, fixed1);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  GWorldPtr world = WorldNotingThreads(m);
  ASSERT_NE(world, nullptr);

  EXPECT_EQ(GetMovieDecodeThreads(m), 0);
  SetMovieDecodeThreads(m, 3);
  EXPECT_EQ(GetMovieDecodeThreads(m), 3);
  MoviesTask(m, 0);
  EXPECT_EQ(gThreadsAsked, std::vector<SInt32>{3});
  // Drawing again keeps the decoder it has.
  UpdateMovie(m);
  MoviesTask(m, 0);
  EXPECT_EQ(gThreadsAsked, std::vector<SInt32>{3});
  // Back to one per processor: the frame held is drawn as it is, the next
  // one by a new decoder, and its picture is the same as ever.
  SetMovieDecodeThreads(m, 0);
  UpdateMovie(m);
  MoviesTask(m, 0);
  EXPECT_EQ(gThreadsAsked, std::vector<SInt32>{3});
  SetMovieTimeValue(m, 700);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(gThreadsAsked, (std::vector<SInt32>{3, 0}));
  EXPECT_EQ(Pixel(world, 1, 1), (std::vector<UInt8>{255, 40, 50, 60}));
  // A negative count is refused and changes nothing.
  SetMovieDecodeThreads(m, -2);
  EXPECT_EQ(GetMoviesError(), paramErr);
  EXPECT_EQ(GetMovieDecodeThreads(m), 0);

  RegisterMovieDecoder('raw ', nullptr);
  SetMovieGWorld(m, nullptr, nullptr);
  DisposeGWorld(world);
  DisposeMovie(m);
}

// Prerolling sets up the decoder of the frame shown at that time, with the
// movie's threads, and the first draw then uses it; a time that shows no
// frame sets up nothing, and a codec nobody decodes is reported at once.
TEST(MovieDraw, PrerollSetsUpTheDecodersTheFirstDrawUses) {
  Movie m = NewMovie(newMovieActive);
  SolidTrack(m, 4, 4, 10, 20, 30, 600);
  GWorldPtr world = WorldNotingThreads(m);
  ASSERT_NE(world, nullptr);
  SetMovieDecodeThreads(m, 2);

  EXPECT_EQ(PrerollMovie(m, 900, fixed1), noErr);  // after the end: nothing shown
  EXPECT_TRUE(gThreadsAsked.empty());
  EXPECT_EQ(PrerollMovie(m, 0, fixed1), noErr);
  EXPECT_EQ(gThreadsAsked, std::vector<SInt32>{2});
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(gThreadsAsked, std::vector<SInt32>{2});
  EXPECT_EQ(Pixel(world, 1, 1), (std::vector<UInt8>{255, 10, 20, 30}));
  EXPECT_NE(PrerollMovie(nullptr, 0, fixed1), noErr);
  RegisterMovieDecoder('raw ', nullptr);
  SetMovieGWorld(m, nullptr, nullptr);
  DisposeGWorld(world);
  DisposeMovie(m);

  Movie unknown = NewMovie(newMovieActive);
  Track t = AddRawVideoTrack(unknown, 2, 2, 1, 60, 600);
  auto desc = reinterpret_cast<SampleDescriptionHandle>(MakeRawDesc(2, 2));
  reinterpret_cast<ImageDescription*>(*desc)->cType = 'zzzz';
  ASSERT_EQ(SetMediaSampleDescription(GetTrackMedia(t), 1, desc), noErr);
  EXPECT_EQ(PrerollMovie(unknown, 0, fixed1), noCodecErr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(unknown);
}
