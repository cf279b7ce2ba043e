// The edit session's engine on a generated shaky movie whose camera shifts
// are known: the corrections recomputed from its stored motion, the
// steadied frames measured back against the shake, the control track an
// apply writes (and undoes), an apply that cannot write keeping the old
// track; and the drawer's scales, the interlace decisions, the tracking
// rectangle and the size sheet's bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "SessionTestMovies.h"
#include "app/USessionSupport.h"
#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "toolkit/UAcsiiUtils.h"

using namespace sessiontest;

namespace {

constexpr SInt32 kFrames = 40;

// The edit's name in its redo text ("Redo Stabilisation" names "Stabilisation").
std::string Described(const Str255 inText) {
  std::string text(reinterpret_cast<const char*>(inText + 1), inText[0]);
  for (const char* prefix : {"Redo ", "Undo "})
    if (text.rfind(prefix, 0) == 0) return text.substr(std::strlen(prefix));
  return text;
}

struct SessionFixture : ::testing::Test {
  Shake shake{kFrames};
  std::unique_ptr<CMovie> movie;
  CMotionData data;
  MotionSettings settings;
  RenderFrameParams params;
  void SetUp() override {
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    movie = std::make_unique<CMovie>(MakeShakyMovie(shake), true);
    settings.lowpassTime = 3.0f;  // longer than the clip: one standing position
    settings.zoomMode = kZoomNone;
  }
  // The bundle's texts go with the bundle.
  void TearDown() override { UBundle::SetMainBundlePath(""); }
  SInt32 CountControlTracks() { return CountTracksAtLayer(movie->GetMovie(), kControlTrackLayer); }
};

TEST_F(SessionFixture, RecomputedCorrectionsSteadyTheKnownShake) {
  StoreMotion(*movie, shake);
  bool becameEmpty = true;
  ASSERT_EQ(USessionSupport::RecomputeMatrices(movie.get(), data, settings, kInterlaceDelay_NTSC, becameEmpty), noErr);
  EXPECT_FALSE(becameEmpty);
  ASSERT_TRUE(data.AreMatricesValid());
  EXPECT_EQ(data.GetStart(), 0);
  EXPECT_EQ(data.GetStop(), kFrames * kFrame);

  // Every frame drawn steadied: the shake measured back from the raw
  // frames, the residual from the steadied ones.
  CBuffer raw(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  CBuffer out(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  std::vector<double> rawX, rawY, outX, outY;
  bool anyDiffers = false;
  for (SInt32 k = 0; k < kFrames; ++k) {
    DrawShifted(&raw, shake.dx[static_cast<size_t>(k)], shake.dy[static_cast<size_t>(k)]);
    RenderFrameParams frame;
    ASSERT_EQ(USessionSupport::FrameParamsAtTime(&data, movie->GetMovie(), k * kFrame + 5, true, params, frame),
              kIndicatorSample);
    frame.borderMode = kBorderUntransformed;
    ASSERT_EQ(CMovieRendering::RenderFrame(&raw, &out, &frame), noErr);
    anyDiffers = anyDiffers || std::memcmp(raw.GetData(), out.GetData(), static_cast<size_t>(raw.GetDataSize())) != 0;
    double x = 0, y = 0;
    MeasureShift(&raw, x, y);
    rawX.push_back(x);
    rawY.push_back(y);
    MeasureShift(&out, x, y);
    outX.push_back(x);
    outY.push_back(y);
  }
  EXPECT_TRUE(anyDiffers);
  EXPECT_GT(Spread(rawX), 1.2);
  EXPECT_GT(Spread(rawY), 1.2);
  // The last frame closes the scene without correction; the others follow
  // one smooth path.
  outX.pop_back();
  outY.pop_back();
  EXPECT_LT(Jitter(outX), 0.3) << "raw " << Jitter(rawX);
  EXPECT_LT(Jitter(outY), 0.3) << "raw " << Jitter(rawY);
  EXPECT_LT(std::abs(outX.back() - outX.front()), 3.0);
  EXPECT_LT(std::abs(outY.back() - outY.front()), 3.0);

  // Outside a session the preview shows the frame as it is.
  RenderFrameParams off;
  EXPECT_EQ(USessionSupport::FrameParamsAtTime(&data, movie->GetMovie(), 5 * kFrame, false, params, off),
            kIndicatorNormal);
  MatrixRecord identity;
  SetIdentityMatrix(&identity);
  EXPECT_TRUE(EqualMatrix(&off.firstMatrix, &identity));

  // A selection that holds no analysed frame empties the range: the caution.
  SetMovieSelection(movie->GetMovie(), kFrames * kFrame - 2, 1);
  ASSERT_EQ(USessionSupport::RecomputeMatrices(movie.get(), data, settings, kInterlaceDelay_NTSC, becameEmpty), noErr);
  EXPECT_TRUE(becameEmpty);
}

TEST_F(SessionFixture, ApplyWritesTheTrackAsOneUndoableStepAndReplacesOnlyOnSuccess) {
  StoreMotion(*movie, shake);
  bool noRange = true;
  settings.fadeInDuration = 0.5f;
  params.borderMode = kBorderFilled;
  std::unique_ptr<CMovieAction> first(
      USessionSupport::ApplySession(movie.get(), nullptr, data, settings, params, kInterlaceDelay_NTSC, noRange));
  ASSERT_TRUE(first);
  EXPECT_FALSE(noRange);
  first->Redo();
  ASSERT_TRUE(first->IsPostable());
  ASSERT_EQ(CountControlTracks(), 1);
  Str255 text, undo;
  first->GetDescription(text, undo);
  EXPECT_EQ(Described(text), "Stabilisation");

  // The track carries the settings and the parameters, and its samples.
  MatrixRecord m1, m2;
  float s1 = 0, s2 = 0;
  Track track = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &track));
  ASSERT_NE(track, nullptr);
  MotionSettings readSettings;
  RenderFrameParams readParams;
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(track, readSettings), noErr);
  ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(track, readParams), noErr);
  EXPECT_FLOAT_EQ(readSettings.lowpassTime, 3.0f);
  EXPECT_FLOAT_EQ(readSettings.fadeInDuration, 0.5f);
  EXPECT_EQ(readParams.borderMode, kBorderFilled);
  RenderFrameParams shown;
  data.InvalidateMatrices();
  EXPECT_EQ(USessionSupport::FrameParamsAtTime(&data, movie->GetMovie(), 7 * kFrame, true, params, shown),
            kIndicatorControl);
  EXPECT_TRUE(EqualMatrix(&shown.firstMatrix, &m1));

  // Undo takes the track away, redo brings it back.
  first->Undo();
  EXPECT_EQ(CountControlTracks(), 0);
  first->Redo();
  ASSERT_EQ(CountControlTracks(), 1);
  track = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &track));

  // Applying again on the session's track replaces it: one step, and its undo
  // brings the old track back.
  settings.lowpassTime = 0.5f;
  std::unique_ptr<CMovieAction> second(
      USessionSupport::ApplySession(movie.get(), track, data, settings, params, kInterlaceDelay_NTSC, noRange));
  ASSERT_TRUE(second);
  second->Redo();
  EXPECT_EQ(CountControlTracks(), 1);
  second->GetDescription(text, undo);
  EXPECT_EQ(Described(text), "Change Stabilisation");
  Track replaced = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &replaced));
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(replaced, readSettings), noErr);
  EXPECT_FLOAT_EQ(readSettings.lowpassTime, 0.5f);
  second->Undo();
  EXPECT_EQ(CountControlTracks(), 1);
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &replaced));
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(replaced, readSettings), noErr);
  EXPECT_FLOAT_EQ(readSettings.lowpassTime, 3.0f);
  second->Redo();

  // An apply over a selection without analysed frames writes nothing and
  // keeps the old control track.
  Track current = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &current));
  data.InvalidateMatrices();
  SetMovieSelection(movie->GetMovie(), kFrames * kFrame - 2, 1);
  std::unique_ptr<CMovieAction> failed(
      USessionSupport::ApplySession(movie.get(), current, data, settings, params, kInterlaceDelay_NTSC, noRange));
  EXPECT_FALSE(failed);
  EXPECT_TRUE(noRange);
  EXPECT_EQ(CountControlTracks(), 1);
  Track still = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(movie->GetMovie(), 7 * kFrame, m1, m2, s1, s2, &still));
  EXPECT_EQ(still, current);

  // A session track that the tracks sheet deleted meanwhile is not disposed of twice.
  SetMovieSelection(movie->GetMovie(), 0, 0);
  data.InvalidateMatrices();
  DisposeMovieTrack(current);
  std::unique_ptr<CMovieAction> afterDelete(
      USessionSupport::ApplySession(movie.get(), current, data, settings, params, kInterlaceDelay_NTSC, noRange));
  ASSERT_TRUE(afterDelete);
  afterDelete->Redo();
  EXPECT_EQ(CountControlTracks(), 1);
  afterDelete->GetDescription(text, undo);
  EXPECT_EQ(Described(text), "Stabilisation");
}

TEST(SessionSupport, DrawerScalesAndTexts) {
  // Every slider position shows a time whose own position maps back to it.
  for (SInt32 v = 0; v <= 1000; v += 7) {
    const Float32 t = USessionSupport::SmoothingTimeForSlider(v);
    EXPECT_GE(t, 0.0f);
    EXPECT_FLOAT_EQ(USessionSupport::SmoothingTimeForSlider(USessionSupport::SliderForSmoothingTime(t) + 1), t)
        << v;
  }
  EXPECT_FLOAT_EQ(USessionSupport::SmoothingTimeForSlider(0), 0.0f);
  EXPECT_NEAR(USessionSupport::SmoothingTimeForSlider(500), 9.0f, 1e-5);  // (10^1 - 1) x 10 tenths
  EXPECT_EQ(USessionSupport::SliderForSmoothingTime(9.0f), 500);
  EXPECT_EQ(USessionSupport::SliderForSmoothingTime(-3.0f), 0);
  Str255 text;
  USessionSupport::FormatSeconds(1.25f, text);
  const char dp = UAcsiiUtils::GetDecimalSymbol();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), std::string("1") + dp + "2 s");
  USessionSupport::FormatPercent(12.0f, text);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), std::string("12") + dp + "0 %");
}

TEST(SessionSupport, InterlaceDecisionsAndTrackingRectangle) {
  EXPECT_TRUE(USessionSupport::NeedsInterlaceAnalysis(kInterlace_Undecided, kInterlaceDelay_PAL));
  EXPECT_TRUE(USessionSupport::NeedsInterlaceAnalysis(0, kInterlaceDelay_None));
  EXPECT_TRUE(USessionSupport::NeedsInterlaceAnalysis(kInterlace_OddFirst, kInterlaceDelay_None));
  EXPECT_FALSE(USessionSupport::NeedsInterlaceAnalysis(kInterlace_EvenFirst, kInterlaceDelay_NTSC));
  EXPECT_FALSE(USessionSupport::NeedsInterlaceAnalysis(kInterlace_Progressive, kInterlaceDelay_None));
  EXPECT_TRUE(USessionSupport::IsInterlaceDecided(kInterlace_Progressive, kInterlaceDelay_None));
  EXPECT_TRUE(USessionSupport::IsInterlaceDecided(kInterlace_OddFirst, kInterlaceDelay_PAL));
  EXPECT_FALSE(USessionSupport::IsInterlaceDecided(kInterlace_OddFirst, kInterlaceDelay_None));
  EXPECT_FALSE(USessionSupport::IsInterlaceDecided(kInterlace_Undecided, kInterlaceDelay_PAL));
  EXPECT_FLOAT_EQ(USessionSupport::FieldDuration(kInterlaceDelay_PAL), 0.02f);
  EXPECT_FLOAT_EQ(USessionSupport::FieldDuration(kInterlaceDelay_NTSC), 0.016667f);

  const Rect encoded = {0, 0, 480, 720}, display = {0, 0, 240, 360};
  Rect r = USessionSupport::TrackingRect(true, Rect{10, 20, 100, 200}, display, encoded);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.bottom, 200);
  EXPECT_EQ(r.right, 400);
  r = USessionSupport::TrackingRect(true, Rect{-50, -50, 300, 500}, display, encoded);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 480);
  EXPECT_EQ(r.right, 720);
  r = USessionSupport::TrackingRect(false, Rect{10, 20, 100, 200}, display, encoded);
  EXPECT_EQ(r.right, 720);
  // A region wholly outside the picture measures the whole picture.
  r = USessionSupport::TrackingRect(true, Rect{500, 500, 600, 600}, display, encoded);
  EXPECT_EQ(r.bottom, 480);
}

TEST(SessionSupport, SizeArithmeticGuardsFlatMoviesAndBoundsTypedSizes) {
  EXPECT_DOUBLE_EQ(USessionSupport::AspectRatio(320, 0), 1.0);
  EXPECT_DOUBLE_EQ(USessionSupport::AspectRatio(0, 0), 1.0);
  EXPECT_DOUBLE_EQ(USessionSupport::AspectRatio(320, 240), 320.0 / 240.0);
  const double r = USessionSupport::AspectRatio(320, 240);
  EXPECT_EQ(USessionSupport::HeightForWidth(640, r), 480);
  EXPECT_EQ(USessionSupport::WidthForHeight(120, r), 160);
  EXPECT_EQ(USessionSupport::HeightForWidth(0, r), 1);
  EXPECT_EQ(USessionSupport::HeightForWidth(-40, r), 1);
  EXPECT_EQ(USessionSupport::WidthForHeight(99999, r), USessionSupport::kMaxMovieSide);
  EXPECT_EQ(USessionSupport::HeightForWidth(1000, 0.0), 1000);
  EXPECT_EQ(USessionSupport::HeightForWidth(1000, std::nan("")), 1000);
  EXPECT_EQ(USessionSupport::BoundSide(static_cast<SInt64>(1) << 40), USessionSupport::kMaxMovieSide);
}

}  // namespace
