// The movie document's analysis and edit session on generated movies: the
// tracking task on a progressive movie, the interlace analysis first on an
// interlaced one (then the tracking without a further command), an
// undecided result asking for the format, the session's drawer changing the
// corrections, the border colour and the steadied preview, apply and cancel,
// and a session track deleted behind the session's back.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include <QImage>

#include "MovieDocumentTestSupport.h"
#include "SessionDocumentFixture.h"
#include "SessionTestMovies.h"
#include "app/CColorPickerPane.h"
#include "app/CMovieDocument.h"
#include "app/USessionSupport.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LThread.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/ULocalization.h"

using namespace sessiontest;

namespace {

constexpr SInt32 kFrames = 30;

class MovieDocumentSessionTest : public SessionDocumentFixture {};

TEST_F(MovieDocumentSessionTest, ProgressiveMovieIsTrackedAndOneTaskRunsAtATime) {
  Shake shake(kFrames, 7, 1.5);
  Open(MakeShakyMovie(shake));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  EXPECT_FALSE(USessionSupport::NeedsInterlaceAnalysis(doc->GetInterlaceMode(), doc->GetInterlaceDelay()));
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "behaviour-window-before-analysis");
  ASSERT_EQ(doc->TrackMotion(), noErr);
  ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "behaviour-window-during-analysis");
  // A second task is refused while the first runs, which goes on.
  CMovieTask* running = doc->GetRunningTask();
  EXPECT_EQ(doc->TrackInterlace(msg_InterlaceAnalysisEnded), paramErr);
  EXPECT_EQ(doc->GetRunningTask(), running);
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(ends.seen, std::vector<MessageT>{msg_MotionAnalysisEnded});
  EXPECT_FALSE(doc->IsTaskRunning());
  ASSERT_EQ(MotionTracks(), 1);
  ASSERT_TRUE(CMotionData::HasValidMotionDataTrack(doc->GetMovie()));

  // The stored motion follows the shake that made the movie (the tracker
  // is coarse on a picture this small: the direction and size of each step).
  CMotionData measured;
  ASSERT_EQ(measured.ScanMovie(doc->GetMovie()), noErr);
  ASSERT_EQ(measured.GetRecords().GetCount(), kFrames);
  double error = 0, product = 0, norm1 = 0, norm2 = 0;
  for (SInt32 k = 1; k < kFrames; ++k) {
    const DiffMotionData& d = measured.GetRecords()[k + 1];
    const double tx = shake.dx[static_cast<size_t>(k)] - shake.dx[static_cast<size_t>(k) - 1];
    const double ty = shake.dy[static_cast<size_t>(k)] - shake.dy[static_cast<size_t>(k) - 1];
    error += std::abs(d.xShift - tx) + std::abs(d.yShift - ty);
    product += d.xShift * tx + d.yShift * ty;
    norm1 += d.xShift * d.xShift + d.yShift * d.yShift;
    norm2 += tx * tx + ty * ty;
  }
  EXPECT_LT(error / (2 * (kFrames - 1)), 0.6);
  EXPECT_GT(product / std::sqrt(norm1 * norm2), 0.9);
}

TEST_F(MovieDocumentSessionTest, InterlacedMovieIsAnalysedForFieldsFirstThenTracked) {
  Open(MakeInterlacedMovie(24));
  ASSERT_TRUE(USessionSupport::NeedsInterlaceAnalysis(doc->GetInterlaceMode(), doc->GetInterlaceDelay()));
  ASSERT_EQ(doc->TrackInterlace(msg_InterlaceAnalysisEnded), noErr);
  ASSERT_NE(dynamic_cast<CInterlaceTrackerTask*>(doc->GetRunningTask()), nullptr);
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(ends.seen, std::vector<MessageT>{msg_InterlaceAnalysisEnded});
  EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_OddFirst);
  EXPECT_EQ(doc->GetInterlaceDelay(), kInterlaceDelay_NTSC);
  EXPECT_TRUE(doc->IsModified());
  // The tracking follows at once.
  ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(ends.seen.back(), msg_MotionAnalysisEnded);
  EXPECT_EQ(MotionTracks(), 1);
  EXPECT_FALSE(doc->IsTaskRunning());
}

TEST_F(MovieDocumentSessionTest, UndecidedInterlacingAsksForTheFormatWithACaution) {
  Open(MakeStillMovie(20));
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  ASSERT_EQ(doc->TrackInterlace(msg_InterlaceAnalysisEnded), noErr);
  ASSERT_TRUE(RunTask());
  UiTest::Pump(50);
  EXPECT_FALSE(doc->IsTaskRunning());
  EXPECT_EQ(MotionTracks(), 0);
  bool caution = false;
  for (const SQuestion& q : UResponder::GetLog())
    if (q.kind == question_Alert && q.message == movie_document_testing::DocumentText(55)) caution = true;
  EXPECT_TRUE(caution);
  // The format sheet is up on the window, for the user to set.
  auto* sheet = dynamic_cast<LCustomDialogSheet*>(doc->GetWindow()->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  ASSERT_NE(sheet->GetSheetWindow(), nullptr);
  EXPECT_TRUE(sheet->GetSheetWindow()->IsVisible());
  EXPECT_NE(sheet->FindPaneByID(10), nullptr);  // its field order popup
}

TEST_F(MovieDocumentSessionTest, SessionWithoutMotionDataOpensNothing) {
  Open(MakeShakyMovie(Shake(10)));
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->BeginEditSession(nullptr);
  UiTest::Pump(30);
  EXPECT_FALSE(doc->IsSessionOpen());
  EXPECT_EQ(doc->GetDrawer(), nullptr);
  ASSERT_FALSE(UResponder::GetLog().empty());
  EXPECT_EQ(UResponder::GetLog().back().message, movie_document_testing::DocumentText(22));
}

TEST_F(MovieDocumentSessionTest, DrawerChangesRecomputeThePreviewAndApplyWritesTheTrack) {
  Shake shake(kFrames);
  Open(MakeShakyMovie(shake));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  StoreMotion(*doc->GetMovie(), shake);
  doc->GetMotionSettings().lowpassTime = 0.2f;
  doc->BeginEditSession(nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  LWindow* drawer = doc->GetDrawer();
  ASSERT_NE(drawer, nullptr);
  EXPECT_TRUE(doc->IsPreviewOn());
  ASSERT_NE(doc->GetBuffer(), nullptr);
  EXPECT_TRUE(doc->GetMotionData().AreMatricesValid());

  // The drawer shows the settings.
  auto* smoothing = dynamic_cast<LControl*>(drawer->FindPaneByIDOrNil(101));
  ASSERT_NE(smoothing, nullptr);
  EXPECT_EQ(smoothing->GetValue(), USessionSupport::SliderForSmoothingTime(0.2f));

  // Moving the smoothing slider recomputes the corrections.
  smoothing->SetValue(USessionSupport::SliderForSmoothingTime(3.0f) + 1);
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 3.0f);
  ASSERT_TRUE(doc->GetMotionData().AreMatricesValid());
  // A position that maps to the same time changes nothing.
  const TArray<FrameData> before = doc->GetMotionData().GetFrames();
  smoothing->SetValue(smoothing->GetValue() + 1);
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 3.0f);

  // At every frame the preview shows the session's correction, and the
  // frames it makes stand still against the known shake.
  CBuffer raw(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  CBuffer out(Rect{0, 0, kH, kW}, kBufferDepth8, kBufferModeARGB);
  std::vector<double> rawX, outX, rawY, outY;
  for (SInt32 k = 0; k + 1 < kFrames; ++k) {
    TimeValue t = k * kFrame + 3;
    doc->UpdateMovieFrame(&t);
    EXPECT_EQ(doc->GetShownIndicator(), kIndicatorSample);
    DrawShifted(&raw, shake.dx[static_cast<size_t>(k)], shake.dy[static_cast<size_t>(k)]);
    RenderFrameParams p = doc->GetShownParams();
    p.borderMode = kBorderUntransformed;
    ASSERT_EQ(CMovieRendering::RenderFrame(&raw, &out, &p), noErr);
    double x = 0, y = 0;
    MeasureShift(&raw, x, y);
    rawX.push_back(x);
    rawY.push_back(y);
    MeasureShift(&out, x, y);
    outX.push_back(x);
    outY.push_back(y);
  }
  EXPECT_GT(Jitter(rawX), 1.0);
  EXPECT_LT(Jitter(outX), 0.3) << "raw " << Jitter(rawX);
  EXPECT_LT(Jitter(outY), 0.3) << "raw " << Jitter(rawY);

  // The border mode popup enables the colour only for a colour border.
  auto* border = dynamic_cast<LControl*>(drawer->FindPaneByIDOrNil(55));
  ASSERT_NE(border, nullptr);
  border->SetValue(kBorderFilled);
  EXPECT_EQ(doc->GetRenderParams().borderMode, kBorderFilled);
  EXPECT_FALSE(drawer->FindPaneByIDOrNil(30)->IsEnabled());
  border->SetValue(kBorderColor);
  EXPECT_TRUE(drawer->FindPaneByIDOrNil(30)->IsEnabled());
  auto* top = dynamic_cast<LControl*>(drawer->FindPaneByIDOrNil(400));
  ASSERT_NE(top, nullptr);
  top->SetValue(12);
  EXPECT_EQ(doc->GetRenderParams().margins.top, 12);
  EXPECT_TRUE(doc->IsModified());

  TimeValue shown = 7 * kFrame;
  doc->GetMovie()->GotoTime(shown);
  doc->UpdateMovieFrame(&shown);
  UiTest::Pump(60);
  const QImage shot = UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "behaviour-window-session-drawer");
  EXPECT_GT(shot.width(), 200);
  UiTest::Screenshot(drawer->GetFrameWidget(), "behaviour-stabilizer-drawer");

  // Apply: the control track with its settings and parameters.
  doc->EndEditSession(true);
  UiTest::Pump(60);
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "behaviour-window-after-apply");
  EXPECT_FALSE(doc->IsSessionOpen());
  EXPECT_FALSE(doc->IsDrawerOpen());
  ASSERT_EQ(ControlTracks(), 1);
  MatrixRecord m1, m2;
  float s1 = 0, s2 = 0;
  Track track = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(doc->GetMovie()->GetMovie(), 5 * kFrame, m1, m2, s1, s2, &track));
  MotionSettings settings;
  RenderFrameParams params;
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(track, settings), noErr);
  ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(track, params), noErr);
  EXPECT_FLOAT_EQ(settings.lowpassTime, 3.0f);
  EXPECT_EQ(params.margins.top, 12);
  // One undo step takes it away, redo brings it back.
  doc->ProcessCommand(cmd_Undo, nullptr);
  EXPECT_EQ(ControlTracks(), 0);
  doc->ProcessCommand(cmd_Redo, nullptr);
  ASSERT_EQ(ControlTracks(), 1);
  ASSERT_TRUE(CMovieRendering::GetTweenSample(doc->GetMovie()->GetMovie(), 5 * kFrame, m1, m2, s1, s2, &track));

  // Editing the stored track: its settings come back, it is disabled while
  // the session runs; cancelling leaves the movie as it was.
  doc->GetMotionSettings().lowpassTime = 1.0f;
  doc->BeginEditSession(track);
  ASSERT_TRUE(doc->IsSessionOpen());
  EXPECT_EQ(doc->GetSessionTrack(), track);
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 3.0f);
  EXPECT_FALSE(GetTrackEnabled(track));
  dynamic_cast<LControl*>(doc->GetDrawer()->FindPaneByIDOrNil(101))->SetValue(200);
  doc->EndEditSession(false);
  EXPECT_TRUE(GetTrackEnabled(track));
  EXPECT_EQ(ControlTracks(), 1);
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(track, settings), noErr);
  EXPECT_FLOAT_EQ(settings.lowpassTime, 3.0f);
  // Outside the session the preview shows the stored track.
  TimeValue t = 5 * kFrame;
  doc->UpdateMovieFrame(&t);
  EXPECT_EQ(doc->GetShownIndicator(), doc->IsPreviewOn() ? kIndicatorControl : kIndicatorNormal);
}

// Pixels of the image within a few levels of the colour.
int CountColour(const QImage& inImage, const RGBColor& inColour) {
  const int r = inColour.red >> 8, g = inColour.green >> 8, b = inColour.blue >> 8;
  int n = 0;
  for (int y = 0; y < inImage.height(); ++y)
    for (int x = 0; x < inImage.width(); ++x) {
      const QRgb c = inImage.pixel(x, y);
      if (std::abs(qRed(c) - r) <= 6 && std::abs(qGreen(c) - g) <= 6 && std::abs(qBlue(c) - b) <= 6) ++n;
    }
  return n;
}

TEST_F(MovieDocumentSessionTest, TheDrawersSwatchChoosesTheBorderColourOfThePreviewAndTheTrack) {
  Shake shake(kFrames);
  Open(MakeShakyMovie(shake));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  StoreMotion(*doc->GetMovie(), shake);
  const RGBColor first = {0x2000, 0x4000, 0x6000};
  doc->GetRenderParams().borderColor = first;
  doc->BeginEditSession(nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  LWindow* drawer = doc->GetDrawer();
  ASSERT_NE(drawer, nullptr);
  // The swatch is the colour control and shows the session's colour.
  auto* swatch = dynamic_cast<CColorPickerPane*>(drawer->FindPaneByIDOrNil(30));
  ASSERT_NE(swatch, nullptr);
  EXPECT_EQ(swatch->GetColor().red, first.red);
  EXPECT_EQ(swatch->GetColor().green, first.green);
  EXPECT_EQ(swatch->GetColor().blue, first.blue);
  // A colour border with a band at the top, so the colour is seen.
  dynamic_cast<LControl*>(drawer->FindPaneByIDOrNil(55))->SetValue(kBorderColor);
  dynamic_cast<LControl*>(drawer->FindPaneByIDOrNil(400))->SetValue(12);
  ASSERT_TRUE(swatch->IsEnabled());
  TimeValue shown = 7 * kFrame;
  doc->GetMovie()->GotoTime(shown);
  doc->UpdateMovieFrame(&shown);
  UiTest::Pump(60);
  QWidget* window = doc->GetWindow()->GetFrameWidget();
  const RGBColor magenta = {0xFFFF, 0, 0xFFFF};
  const int before = CountColour(UiTest::Screenshot(window, "behaviour-window-border-colour-before"), magenta);

  // A click on the swatch asks; cancelling changes nothing.
  UResponder::Script(question_Color, SAnswer::Cancel());
  ASSERT_TRUE(swatch->SimulateHotSpotClick(1));
  ASSERT_TRUE(UiTest::PumpUntil([&] { return !swatch->IsPicking(); }));
  EXPECT_EQ(doc->GetRenderParams().borderColor.blue, first.blue);
  const size_t asked = UResponder::GetLog().size();
  EXPECT_EQ(UResponder::GetLog().back().kind, question_Color);
  EXPECT_EQ(UResponder::GetLog().back().color.green, first.green);  // the picker starts from the colour

  // A chosen colour becomes the session's and the preview's at once.
  SAnswer chosen;
  chosen.color = magenta;
  UResponder::Script(question_Color, chosen);
  ASSERT_TRUE(swatch->SimulateHotSpotClick(1));
  ASSERT_TRUE(UiTest::PumpUntil([&] { return !swatch->IsPicking(); }));
  EXPECT_EQ(UResponder::GetLog().size(), asked + 1);
  const RenderFrameParams& now = doc->GetRenderParams();
  EXPECT_EQ(now.borderColor.red, 0xFFFF);
  EXPECT_EQ(now.borderColor.green, 0);
  EXPECT_EQ(now.borderColor.blue, 0xFFFF);
  EXPECT_EQ(doc->GetShownParams().borderColor.green, 0);
  EXPECT_EQ(doc->GetShownParams().borderColor.blue, 0xFFFF);
  EXPECT_TRUE(doc->IsModified());
  UiTest::Pump(60);
  const QImage after = UiTest::Screenshot(window, "behaviour-window-border-colour");
  UiTest::Screenshot(drawer->GetFrameWidget(), "behaviour-stabilizer-drawer-colour");
  // The band at the top (12 of the movie's lines, at least a few window rows) is magenta now.
  EXPECT_LT(before, 20);
  EXPECT_GT(CountColour(after, magenta), before + 4 * kW) << before;

  // Applied, the control track draws with that colour.
  doc->EndEditSession(true);
  MatrixRecord m1, m2;
  float s1 = 0, s2 = 0;
  Track track = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(doc->GetMovie()->GetMovie(), 5 * kFrame, m1, m2, s1, s2, &track));
  RenderFrameParams params;
  ASSERT_EQ(CMovieRendering::ReadRenderParamsFromTrack(track, params), noErr);
  EXPECT_EQ(params.borderColor.red, 0xFFFF);
  EXPECT_EQ(params.borderColor.green, 0);
  EXPECT_EQ(params.borderColor.blue, 0xFFFF);
}

TEST_F(MovieDocumentSessionTest, SessionTrackDeletedMeanwhileIsNeitherEnabledNorDisposedAgain) {
  Shake shake(kFrames);
  Open(MakeShakyMovie(shake));
  StoreMotion(*doc->GetMovie(), shake);
  doc->BeginEditSession(nullptr);
  doc->EndEditSession(true);
  ASSERT_EQ(ControlTracks(), 1);
  MatrixRecord m1, m2;
  float s1 = 0, s2 = 0;
  Track track = nullptr;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(doc->GetMovie()->GetMovie(), 5 * kFrame, m1, m2, s1, s2, &track));
  doc->BeginEditSession(track);
  ASSERT_EQ(doc->GetSessionTrack(), track);
  // The tracks sheet deletes it.
  DisposeMovieTrack(track);
  ASSERT_EQ(ControlTracks(), 0);
  doc->EndEditSession(true);
  EXPECT_EQ(ControlTracks(), 1);
  EXPECT_EQ(doc->GetSessionTrack(), nullptr);
  doc->BeginEditSession(nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  doc->EndEditSession(false);
  EXPECT_EQ(ControlTracks(), 1);
}

}  // namespace
