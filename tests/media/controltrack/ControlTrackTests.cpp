#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/CMovieRendering.h"
#include "media/CMovieTrack.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"

namespace {

const Rect kBounds = {0, 0, 240, 320};

struct MovieFixture : ::testing::Test {
  Movie movie = nullptr;
  void SetUp() override {
    EnterMovies();
    movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
    SetMovieTimeScale(movie, 1000);
  }
  void TearDown() override { DisposeMovie(movie); }
};

MatrixRecord Shifted(double dx, double dy) {
  MatrixRecord m;
  SetIdentityMatrix(&m);
  TranslateMatrix(&m, X2Fix(dx), X2Fix(dy));
  return m;
}

// A store whose frames carry known matrices.
void FillStore(CMotionData& store, const std::vector<std::pair<SInt32, SInt32>>& timesAndDurations) {
  TArray<FrameData>& frames = store.GetFrames();
  frames.RemoveAllItems();
  int k = 0;
  for (auto [t, d] : timesAndDurations) {
    FrameData f;
    f.time = t;
    f.duration = d;
    f.matrix1 = Shifted(k + 0.5, -k);
    f.measure1 = 0.25f * k;
    ++k;
    frames.AddItem(f);
  }
}

}  // namespace

TEST(TweenSample, ByteLayoutAndOlderVersions) {
  TweenSample s;
  s.first = Shifted(3, 4);
  s.second = Shifted(-1, 2);
  s.firstMeasure = 0.5f;
  s.secondMeasure = 0.125f;
  UInt8 b[kTweenSampleSize];
  TweenSampleToBytes(s, b);
  EXPECT_EQ(b[0], 3);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(static_cast<Fixed>(ReadBE32(b + 2 + 24)), X2Fix(-1));  // second matrix, row 3, tx
  EXPECT_EQ(static_cast<Fixed>(ReadBE32(b + 2 + 32)), fract1);
  EXPECT_EQ(ReadBEFloat(b + 40), 0.125f);
  EXPECT_EQ(static_cast<Fixed>(ReadBE32(b + 44 + 24)), X2Fix(3));
  EXPECT_EQ(ReadBEFloat(b + 80), 0.5f);

  TweenSample r;
  ASSERT_TRUE(TweenSampleFromBytes(b, sizeof b, r));
  EXPECT_TRUE(EqualMatrix(&r.first, &s.first));
  EXPECT_TRUE(EqualMatrix(&r.second, &s.second));
  EXPECT_FALSE(TweenSampleFromBytes(b, 83, r));  // never read past a short sample

  b[0] = 2;
  ASSERT_TRUE(TweenSampleFromBytes(b, 44, r));
  EXPECT_TRUE(EqualMatrix(&r.first, &s.second));
  EXPECT_TRUE(EqualMatrix(&r.second, &s.second));
  EXPECT_EQ(r.firstMeasure, 0.125f);
  b[0] = 1;
  ASSERT_TRUE(TweenSampleFromBytes(b, 38, r));
  EXPECT_EQ(r.firstMeasure, 1.0f);
  EXPECT_EQ(r.secondMeasure, 1.0f);
}

TEST_F(MovieFixture, BuildersMakeTracksOrLeaveNone) {
  {
    CMovieTrackMedia builder(movie, Rect{10, 20, 50, 80}, 'twen', nullptr);
    EXPECT_EQ(GetMediaTimeScale(builder.GetMedia()), 25);
    MatrixRecord m;
    GetTrackMatrix(builder.GetTrack(), &m);
    EXPECT_EQ(m.matrix[2][0], Long2Fix(20));
    EXPECT_EQ(m.matrix[2][1], Long2Fix(10));
    builder.SetInsertMediaIntoTrack(false);
  }
  EXPECT_EQ(GetMovieTrackCount(movie), 0);
}

TEST_F(MovieFixture, ControlTrackRoundTripWithGapsVersionsAndOrder) {
  CMotionData store;
  Track track = nullptr;
  FillStore(store, {{0, 40}});
  EXPECT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &track), noErr);
  EXPECT_EQ(track, nullptr);

  FillStore(store, {{0, 40}, {40, 40}, {100, 40}});
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &track), noErr);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(GetTrackLayer(track), kControlTrackLayer);
  EXPECT_EQ(CTweenTracks::HasControlTracks(movie), 1);
  EXPECT_EQ(GetTrackDuration(track), 40 + 60 + 40);
  // Its one sample description is all zero but its size.
  SampleDescriptionHandle desc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
  GetMediaSampleDescription(GetTrackMedia(track), 1, desc);
  ASSERT_EQ(GetHandleSize(reinterpret_cast<Handle>(desc)), 16);
  EXPECT_EQ((**desc).descSize, 16);
  EXPECT_EQ((**desc).dataFormat, 0);
  EXPECT_EQ((**desc).resvd1, 0);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  MatrixRecord a, b;
  float m1 = -1, m2 = -1;
  Track from = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie, 70, a, b, m1, m2, &from));
  EXPECT_EQ(from, track);
  MatrixRecord want = Shifted(1.5, -1);
  EXPECT_TRUE(EqualMatrix(&a, &want));
  EXPECT_EQ(m1, 0.25f);
  MatrixRecord id;
  SetIdentityMatrix(&id);
  EXPECT_TRUE(EqualMatrix(&b, &id));
  EXPECT_EQ(m2, 0.0f);
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie, 139, a, b, m1, m2, nullptr));
  want = Shifted(2.5, -2);
  EXPECT_TRUE(EqualMatrix(&a, &want));
  EXPECT_FALSE(CMovieRendering::GetTweenSample(movie, 140, a, b, m1, m2, &from));
  EXPECT_EQ(from, nullptr);

  // A second control track after the first: the lower index wins; a disabled one is ignored.
  FillStore(store, {{0, 70}, {70, 70}});
  Track second = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &second), noErr);
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie, 10, a, b, m1, m2, &from));
  EXPECT_EQ(from, track);
  SetTrackEnabled(track, false);
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie, 10, a, b, m1, m2, &from));
  EXPECT_EQ(from, second);
  EXPECT_EQ(CTweenTracks::HasControlTracks(movie), 1);
}

TEST_F(MovieFixture, SettingsItemsRoundTrip) {
  CMotionData store;
  Track track = nullptr;
  FillStore(store, {{0, 40}, {40, 40}});
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &track), noErr);

  RenderFrameParams p;
  p.interlaceMode = 3;
  p.fieldMode = 4;
  p.quality = 0;
  p.borderMode = 2;
  p.firstMatrix = Shifted(7.25, -3);
  p.margins = Rect{1, 2, 3, 4};
  p.borderColor = RGBColor{0xFFFF, 0x8000, 0x0001};
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, p), noErr);
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, p), noErr);  // replaces, never adds
  EXPECT_EQ(CountUserDataType(GetTrackUserData(track), 'RdPr'), 1);
  RenderFrameParams q;
  q.quality = 0;
  ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(track, q), noErr);
  EXPECT_EQ(q.interlaceMode, 3);
  EXPECT_EQ(q.fieldMode, 4);
  EXPECT_EQ(q.quality, 1);  // stored quality always reads as high
  EXPECT_EQ(q.borderMode, 2);
  EXPECT_TRUE(EqualMatrix(&q.firstMatrix, &p.firstMatrix));
  EXPECT_EQ(std::memcmp(&q.margins, &p.margins, sizeof(Rect)), 0);
  EXPECT_EQ(q.borderColor.green, 0x8000);

  MotionSettings s;
  s.lowpassTime = 2.5f;
  s.fadeInDuration = 0.5f;
  s.fadeOutDuration = 0.75f;
  s.tolerance = 3;
  s.doHorizontal = 1;
  s.doVertical = 0;
  s.doRotation = 1;
  s.doZoom = 1;
  s.zoomMode = 3;
  ASSERT_EQ(CMovieRendering::WriteMoSettingsToTrack(track, s), noErr);
  MotionSettings t;
  t.doVertical = 1;
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(track, t), noErr);
  EXPECT_EQ(t.lowpassTime, 2.5f);
  EXPECT_EQ(t.fadeOutDuration, 0.75f);
  EXPECT_EQ(t.tolerance, 3.0f);
  EXPECT_EQ(t.doVertical, 0);
  EXPECT_EQ(t.doZoom, 1);
  EXPECT_EQ(t.zoomMode, 3);

  // A track without the items leaves the caller's values and reports the toolbox error.
  Track bare = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &bare), noErr);
  RenderFrameParams untouched;
  untouched.borderMode = 3;
  EXPECT_NE(CMovieRendering::ReadRenderParamsFromTrack(bare, untouched), noErr);
  EXPECT_EQ(untouched.borderMode, 3);
  EXPECT_NE(CMovieRendering::ReadMoSettingsFromTrack(nullptr, t), noErr);
}

// Matrices no correction can have: singular, mirrored, shrinking or growing
// beyond what motion data allows, and the largest 16.16 entries whose inverse
// is as large as 64-bit fixed point can hold.
TEST_F(MovieFixture, ImpossibleMatricesAreRefused) {
  std::vector<MatrixRecord> bad;
  auto with = [&](Fixed a, Fixed b, Fixed c, Fixed d) {
    MatrixRecord m = Shifted(2, 3);
    m.matrix[0][0] = a, m.matrix[0][1] = b, m.matrix[1][0] = c, m.matrix[1][1] = d;
    bad.push_back(m);
  };
  with(0, 0, 0, 0);
  with(fixed1, fixed1, fixed1, fixed1);
  with(-fixed1, 0, 0, fixed1);
  with(1, 0, 0, 1);
  with(X2Fix(30000), 0, 0, X2Fix(30000));
  with(0x7FFFFFFE, 0x7FFFFFFF, 0x7FFFFFFD, 0x7FFFFFFE);
  for (const MatrixRecord& m : bad) EXPECT_FALSE(IsPlausibleCorrection(m));
  EXPECT_TRUE(IsPlausibleCorrection(Shifted(-300, 200)));

  for (const MatrixRecord& m : bad) {
    TweenSample s;
    s.second = m;
    UInt8 b[kTweenSampleSize];
    TweenSampleToBytes(s, b);
    TweenSample r;
    EXPECT_FALSE(TweenSampleFromBytes(b, sizeof b, r));
    s.second = s.first;
    s.first = m;
    TweenSampleToBytes(s, b);
    EXPECT_FALSE(TweenSampleFromBytes(b, sizeof b, r));
  }

  // A stored render matrix that cannot be a correction leaves the caller's.
  CMotionData store;
  Track track = nullptr;
  FillStore(store, {{0, 40}, {40, 40}});
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, kBounds, store, &track), noErr);
  RenderFrameParams p;
  p.firstMatrix = bad.back();
  p.borderMode = 2;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, p), noErr);
  RenderFrameParams q;
  q.firstMatrix = Shifted(1, 1);
  ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(track, q), noErr);
  EXPECT_EQ(q.borderMode, 2);
  MatrixRecord kept = Shifted(1, 1);
  EXPECT_TRUE(EqualMatrix(&q.firstMatrix, &kept));
}
