#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "media/CMovie.h"
#include "media/CMovieTrack.h"
#include "media/CMovieTrackMediaPict.h"
#include "media/CTweenTracks.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"

namespace {

const Rect kBounds = {0, 0, 48, 64};

// Adds a visual track of `count` samples of 100 units each at `layer`.
Track AddVideoTrack(Movie movie, SInt16 layer, int count = 4) {
  SInt32 scale = GetMovieTimeScale(movie);
  CMovieTrackMedia builder(movie, kBounds, VideoMediaType, &scale);
  auto desc = reinterpret_cast<SampleDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  auto* id = reinterpret_cast<ImageDescription*>(*desc);
  id->idSize = sizeof(ImageDescription);
  id->cType = kRawCodecType;
  id->width = 64;
  id->height = 48;
  id->depth = 32;
  StHandleBlock data(16);
  for (int i = 0; i < count; ++i) {
    std::memset(*data.Get(), i, 16);
    EXPECT_EQ(builder.AddSample(100, data, 16, 0, desc, 0), noErr);
  }
  DisposeHandle(reinterpret_cast<Handle>(desc));
  Track t = builder.GetTrack();
  EXPECT_EQ(builder.FinishTrack(), noErr);
  SetTrackLayer(t, layer);
  return t;
}

Track AddTweenTrack(Movie movie) {
  SInt32 scale = GetMovieTimeScale(movie);
  CMovieTrackMedia builder(movie, kBounds, kTweenMediaType, &scale);
  auto desc = reinterpret_cast<SampleDescriptionHandle>(NewHandleClear(sizeof(SampleDescription)));
  (**desc).descSize = sizeof(SampleDescription);
  StHandleBlock data(static_cast<SInt32>(kTweenSampleSize));
  std::memset(*data.Get(), 0, kTweenSampleSize);
  EXPECT_EQ(builder.AddSample(400, data, static_cast<SInt32>(kTweenSampleSize), 0, desc, 0), noErr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  Track t = builder.GetTrack();
  EXPECT_EQ(builder.FinishTrack(), noErr);
  SetTrackLayer(t, kControlTrackLayer);
  return t;
}

struct InputAtom {
  UInt32 id;
  UInt32 type;
  UInt32 subInput;
};

// The input atoms of the media's input map, in stored order.
std::vector<InputAtom> InputMap(Track video) {
  std::vector<InputAtom> out;
  UserData ud = GetMediaUserData(GetTrackMedia(video));
  if (CountUserDataType(ud, 'imap') == 0) return out;
  Handle h = NewHandle(0);
  EXPECT_EQ(GetUserData(ud, h, 'imap', 1), noErr);
  const UInt8* p = reinterpret_cast<const UInt8*>(*h);
  size_t size = static_cast<size_t>(GetHandleSize(h));
  size_t pos = 0;
  while (pos + 20 <= size) {
    UInt32 atomSize = ReadBE32(p + pos);
    EXPECT_GE(atomSize, 20u);
    EXPECT_LE(pos + atomSize, size);
    EXPECT_EQ(ReadBE32(p + pos + 4), static_cast<UInt32>('in'));
    EXPECT_EQ(ReadBE16(p + pos + 14), 2);
    InputAtom a{ReadBE32(p + pos + 8), 0, 0};
    // Two leaf children of four bytes each.
    for (size_t c = pos + 20; c + 24 <= pos + atomSize; c += ReadBE32(p + c)) {
      UInt32 kind = ReadBE32(p + c + 4);
      if (kind == 'ty') a.type = ReadBE32(p + c + 20);
      if (kind == 'subi') a.subInput = ReadBE32(p + c + 20);
    }
    out.push_back(a);
    pos += atomSize;
  }
  DisposeHandle(h);
  return out;
}

struct BuilderFixture : ::testing::Test {
  Movie movie = nullptr;
  void SetUp() override {
    EnterMovies();
    movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
    SetMovieTimeScale(movie, 600);
  }
  void TearDown() override {
    if (movie) DisposeMovie(movie);
  }
};

TEST_F(BuilderFixture, ReferenceAndInputAtomAreAdded) {
  Track video = AddVideoTrack(movie, 0);
  Track tween = AddTweenTrack(movie);
  ASSERT_EQ(CTweenTracks::AddTweenRefToVideoTrack(video, tween, 'mtrx'), noErr);
  EXPECT_EQ(GetTrackReferenceCount(video, 'ssrc'), 1);
  EXPECT_EQ(GetTrackReference(video, 'ssrc', 1), tween);
  auto map = InputMap(video);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map[0].id, 1u);
  EXPECT_EQ(map[0].type, static_cast<UInt32>('mtrx'));
  EXPECT_EQ(map[0].subInput, 1u);
  // A second reference gets an atom of its own.
  ASSERT_EQ(CTweenTracks::AddTweenRefToVideoTrack(video, tween, 'gmod'), noErr);
  map = InputMap(video);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[1].id, 2u);
  EXPECT_EQ(map[1].type, static_cast<UInt32>('gmod'));
}

TEST_F(BuilderFixture, AnOlderInputAtomOfTheSameIndexIsReplaced) {
  Track video = AddVideoTrack(movie, 0);
  Track tween = AddTweenTrack(movie);
  ASSERT_EQ(CTweenTracks::AddTweenRefToVideoTrack(video, tween, 'mtrx'), noErr);
  ASSERT_EQ(CTweenTracks::AddTweenRefToVideoTrack(video, tween, 'clip'), noErr);
  // The first reference goes; its map entry stays behind until the next
  // reference takes index 2 again and replaces the stale entry.
  ASSERT_EQ(DeleteTrackReference(video, 'ssrc', 2), noErr);
  ASSERT_EQ(CTweenTracks::AddTweenRefToVideoTrack(video, tween, 'gmod'), noErr);
  EXPECT_EQ(GetTrackReferenceCount(video, 'ssrc'), 2);
  auto map = InputMap(video);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].id, 1u);
  EXPECT_EQ(map[0].type, static_cast<UInt32>('mtrx'));
  EXPECT_EQ(map[1].id, 2u);
  EXPECT_EQ(map[1].type, static_cast<UInt32>('gmod'));
}

TEST_F(BuilderFixture, AFailedInputMapDeletesTheReferenceAgain) {
  // A track without media has no input map to write.
  Track bare = NewMovieTrack(movie, Long2Fix(64), Long2Fix(48), 0);
  ASSERT_NE(bare, nullptr);
  Track tween = AddTweenTrack(movie);
  EXPECT_NE(CTweenTracks::AddTweenRefToVideoTrack(bare, tween, 'mtrx'), noErr);
  EXPECT_EQ(GetTrackReferenceCount(bare, 'ssrc'), 0);
  EXPECT_EQ(CTweenTracks::AddTweenRefToVideoTrack(nullptr, tween, 'mtrx'), ErrorCodeToOSErr(err_NilPointer));
}

TEST_F(BuilderFixture, AllEnabledVisualTracksButNoOthersGetTheReference) {
  Track a = AddVideoTrack(movie, 0);
  Track b = AddVideoTrack(movie, 1);
  Track off = AddVideoTrack(movie, 2);
  SetTrackEnabled(off, false);
  Track tween = AddTweenTrack(movie);
  ASSERT_EQ(CTweenTracks::AddTweenRefToAllVideoTracks(movie, tween, 'mtrx'), noErr);
  EXPECT_EQ(GetTrackReferenceCount(a, 'ssrc'), 1);
  EXPECT_EQ(GetTrackReferenceCount(b, 'ssrc'), 1);
  EXPECT_EQ(GetTrackReferenceCount(off, 'ssrc'), 0);
  EXPECT_EQ(GetTrackReferenceCount(tween, 'ssrc'), 0);
  EXPECT_EQ(InputMap(b).size(), 1u);
}

TEST_F(BuilderFixture, AClonedTrackHoldsTheSegmentAtItsStartOneLayerBehind) {
  AddTweenTrack(movie);  // not visual: never the source
  Track source = AddVideoTrack(movie, 3);
  MatrixRecord shifted;
  SetIdentityMatrix(&shifted);
  TranslateMatrix(&shifted, Long2Fix(5), Long2Fix(7));
  SetTrackMatrix(source, &shifted);
  CMovie wrapper(movie, true);
  movie = nullptr;
  Track clone = nullptr;
  ASSERT_EQ(CTweenTracks::AddClonedVideoTrack(&wrapper, 150, 200, &clone), noErr);
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone, source);
  EXPECT_EQ(GetTrackOffset(clone), 150);
  EXPECT_EQ(GetTrackDuration(clone), 350);
  EXPECT_EQ(GetTrackLayer(clone), 4);
  MatrixRecord m;
  GetTrackMatrix(clone, &m);
  EXPECT_EQ(std::memcmp(&m, &shifted, sizeof(m)), 0);
  // The clone shows the source's media times at the same movie times.
  EXPECT_EQ(TrackTimeToMediaTime(100, clone), -1);
  EXPECT_EQ(TrackTimeToMediaTime(150, clone), TrackTimeToMediaTime(150, source));
  EXPECT_EQ(TrackTimeToMediaTime(349, clone), TrackTimeToMediaTime(349, source));
  EXPECT_EQ(TrackTimeToMediaTime(350, clone), -1);
  OSType type = 0;
  GetMediaHandlerDescription(GetTrackMedia(clone), &type, nullptr, nullptr);
  EXPECT_EQ(type, VideoMediaType);
}

TEST_F(BuilderFixture, CloningWithoutAVisualTrackOrOutsideItAddsNothing) {
  AddTweenTrack(movie);
  {
    CMovie wrapper(movie, false);
    Track clone = reinterpret_cast<Track>(1);
    EXPECT_NE(CTweenTracks::AddClonedVideoTrack(&wrapper, 0, 100, &clone), noErr);
    EXPECT_EQ(clone, nullptr);
  }
  AddVideoTrack(movie, 0);
  CMovie wrapper(movie, false);
  Track clone = nullptr;
  EXPECT_NE(CTweenTracks::AddClonedVideoTrack(&wrapper, 1000, 100, &clone), noErr);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(GetMovieTrackCount(movie), 2);
  EXPECT_EQ(CTweenTracks::AddClonedVideoTrack(nullptr, 0, 100, &clone), ErrorCodeToOSErr(err_NilPointer));
}

TEST_F(BuilderFixture, ABackgroundTrackIsOnePaintedPictureBehindEverything) {
  AddVideoTrack(movie, 2);
  AddTweenTrack(movie);  // layer 0x3100
  CMovie wrapper(movie, false);
  Track bg = nullptr;
  RGBColor green = {0, 0xFFFF, 0};
  ASSERT_EQ(CTweenTracks::AddBackgroundTrack(&wrapper, 60, 240, green, nullptr, &bg), noErr);
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(GetTrackOffset(bg), 60);
  EXPECT_EQ(GetTrackDuration(bg), 300);
  EXPECT_EQ(GetTrackLayer(bg), kControlTrackLayer + 1);
  Media media = GetTrackMedia(bg);
  EXPECT_EQ(GetMediaSampleCount(media), 1);
  EXPECT_EQ(GetMediaDuration(media), 240);
  SInt32 mode = 0;
  RGBColor op = {1, 1, 1};
  ASSERT_EQ(MediaGetGraphicsMode(media, &mode, &op), noErr);
  EXPECT_EQ(mode, kPictGraphicsMode);
  EXPECT_EQ(op.red | op.green | op.blue, 0);

  // The sample is a picture of the encoded bounds, described as 'PICT'.
  Handle data = NewHandle(0);
  auto desc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
  SInt32 size = 0;
  SInt16 flags = -1;
  ASSERT_EQ(GetMediaSample(media, data, 0, &size, 0, nullptr, nullptr, desc, nullptr, 1, nullptr, &flags), noErr);
  EXPECT_EQ(flags & mediaSampleNotSync, 0);
  const auto& id = *reinterpret_cast<ImageDescription*>(*desc);
  EXPECT_EQ(id.cType, kPictCodecType);
  EXPECT_EQ(id.width, 64);
  EXPECT_EQ(id.height, 48);
  EXPECT_EQ(id.dataSize, size);
  PicHandle pic = reinterpret_cast<PicHandle>(data);
  ASSERT_TRUE(IsValidPicture(pic));
  Rect frame;
  QDGetPictureBounds(pic, &frame);
  EXPECT_TRUE(EqualRect(&frame, &kBounds));
  // Drawn, the picture paints the colour.
  GWorldPtr world = nullptr;
  ASSERT_EQ(NewGWorld(&world, 32, &kBounds, nullptr, nullptr, 0), noErr);
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  GetGWorld(&savedPort, &savedDevice);
  SetGWorld(world, nullptr);
  DrawPicture(pic, &kBounds);
  SetGWorld(savedPort, savedDevice);
  PixMapHandle pm = GetGWorldPixMap(world);
  const UInt8* px = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + 20 * GetPixRowBytes(pm) + 30 * 4;
  EXPECT_EQ(px[1], 0);
  EXPECT_EQ(px[2], 0xFF);
  EXPECT_EQ(px[3], 0);
  DisposeGWorld(world);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST_F(BuilderFixture, ABackgroundTrackOfAGivenRectangleInAnEmptyMovieIsAtLayerOne) {
  CMovie wrapper(movie, false);
  Track bg = nullptr;
  Rect r = {10, 20, 30, 50};
  RGBColor blue = {0, 0, 0xFFFF};
  ASSERT_EQ(CTweenTracks::AddBackgroundTrack(&wrapper, 0, 100, blue, &r, &bg), noErr);
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(GetTrackLayer(bg), 1);
  EXPECT_EQ(GetTrackOffset(bg), 0);
  EXPECT_EQ(GetTrackDuration(bg), 100);
  // The track sits at the rectangle.
  MatrixRecord m;
  GetTrackMatrix(bg, &m);
  EXPECT_EQ(m.matrix[2][0], Long2Fix(20));
  EXPECT_EQ(m.matrix[2][1], Long2Fix(10));
  Fixed w = 0, h = 0;
  GetTrackDimensions(bg, &w, &h);
  EXPECT_EQ(w, Long2Fix(30));
  EXPECT_EQ(h, Long2Fix(20));
}

TEST_F(BuilderFixture, BackgroundLayerIsAtLeastOneBehindNegativeLayers) {
  AddVideoTrack(movie, -5);
  CMovie wrapper(movie, false);
  Track bg = nullptr;
  ASSERT_EQ(CTweenTracks::AddBackgroundTrack(&wrapper, 0, 100, RGBColor{0, 0, 0}, nullptr, &bg), noErr);
  EXPECT_EQ(GetTrackLayer(bg), 1);
  Track none = reinterpret_cast<Track>(1);
  EXPECT_EQ(CTweenTracks::AddBackgroundTrack(&wrapper, 0, 0, RGBColor{0, 0, 0}, nullptr, &none), paramErr);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(GetMovieTrackCount(movie), 2);
}

TEST_F(BuilderFixture, APictureTrackRejectsWhatIsNoPicture) {
  SInt32 scale = 600;
  CMovieTrackMediaPict builder(movie, kBounds, &scale);
  EXPECT_EQ(builder.AddPict(nullptr, 10), ErrorCodeToOSErr(err_NilPointer));
  Handle junk = NewHandleClear(40);
  EXPECT_EQ(builder.AddPict(reinterpret_cast<PicHandle>(junk), 10), paramErr);
  DisposeHandle(junk);
  EXPECT_EQ(GetMediaSampleCount(builder.GetMedia()), 0);
  builder.SetInsertMediaIntoTrack(false);
}

// The movie's frame at a time, drawn into memory of the given size.
std::vector<UInt8> DrawMovieAt(Movie movie, TimeValue time, SInt16 width, SInt16 height) {
  std::vector<UInt8> pixels(static_cast<size_t>(width) * height * 4, 7);
  MovieDrawTarget target{pixels.data(), width * 4, Rect{0, 0, height, width}};
  SetMovieDrawTarget(movie, &target);
  Rect box = {0, 0, height, width};
  SetMovieBox(movie, &box);
  SetMovieTimeValue(movie, time);
  UpdateMovie(movie);
  MoviesTask(movie, 0);
  SetMovieDrawTarget(movie, nullptr);
  return pixels;
}

TEST_F(BuilderFixture, TheToolboxDrawsTheBackgroundTracksColourWithinItsTime) {
  CMovie wrapper(movie, false);
  Track bg = nullptr;
  Rect r = {0, 0, 48, 64};
  RGBColor colour = {0x2000, 0xA000, 0xFFFF};
  ASSERT_EQ(CTweenTracks::AddBackgroundTrack(&wrapper, 60, 240, colour, &r, &bg), noErr);
  std::vector<UInt8> px = DrawMovieAt(movie, 100, 64, 48);
  ASSERT_EQ(GetMoviesError(), noErr);
  const UInt8* p = &px[(20 * 64 + 30) * 4];
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[1], 0x20);
  EXPECT_EQ(p[2], 0xA0);
  EXPECT_EQ(p[3], 0xFF);
  // Before the track's offset nothing of it is drawn.
  px = DrawMovieAt(movie, 10, 64, 48);
  p = &px[(20 * 64 + 30) * 4];
  EXPECT_FALSE(p[1] == 0x20 && p[2] == 0xA0 && p[3] == 0xFF);
}

}  // namespace
