// The movie view in a real (offscreen) window: fitting numbers, hot spots,
// region-of-interest drags along scripted mouse paths, scrubbing on the
// manual clock, overlay pixels where the mapping puts them, and the
// steadied buffer drawn as the renderer rendered it.
#include <QWidget>
#include <cstring>
#include <string>

#include "app/CMovieView.h"
#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "motion/CMotionData.h"
#include "platform/base/Clock.h"
#include "platform/files/Bundle.h"
#include "platform/base/LException.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "app/CMovieViewTestSupport.h"

using namespace PaneTest;

namespace {

class MovieViewTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  }
  void TearDown() override {
    UiFixture::TearDown();
    UBundle::SetMainBundlePath("");
  }
  // A window with a movie view of the size at (10, 10).
  CMovieView* MakeView(SInt16 inWidth, SInt16 inHeight) {
    mWindow = new LWindow(WindowInfo("Movie", static_cast<SInt16>(inWidth + 20), static_cast<SInt16>(inHeight + 20)));
    auto* view = new CMovieView(PaneInfo(1, 10, 10, inWidth, inHeight, mWindow), SViewInfo{});
    mWindow->Show();
    view->AddListener(&mLog);
    return view;
  }
  void Draw(CMovieView* inView) {
    inView->Refresh();
    inView->Draw(nullptr);
  }
  LWindow* mWindow = nullptr;
  MessageLog mLog;
};

Rect R(SInt16 inTop, SInt16 inLeft, SInt16 inBottom, SInt16 inRight) { return Rect{inTop, inLeft, inBottom, inRight}; }

// Fills columns [inLeft, inRight) of an 8-bit ARGB buffer with an opaque colour.
void Fill(CBuffer* ioBuffer, SInt32 inLeft, SInt32 inRight, UInt8 inRed, UInt8 inGreen, UInt8 inBlue) {
  const Rect b = ioBuffer->GetBounds();
  for (SInt32 y = b.top; y < b.bottom; ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(ioBuffer->GetData()) + (y - b.top) * ioBuffer->GetRowBytes();
    for (SInt32 x = inLeft; x < inRight; ++x) {
      UInt8* p = row + (x - b.left) * 4;
      p[0] = 255;
      p[1] = inRed;
      p[2] = inGreen;
      p[3] = inBlue;
    }
  }
}

TEST_F(MovieViewTest, FitsAndCentresThePictureAndCopesWithNoPicture) {
  CMovieView* view = MakeView(360, 360);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  EXPECT_FLOAT_EQ(view->GetZoom(), 0.5f);
  SDimension32 image;
  view->GetImageSize(image);
  EXPECT_EQ(image.width, 360);
  EXPECT_EQ(image.height, 288);
  SPoint32 scroll;
  view->GetScrollPosition(scroll);
  EXPECT_EQ(scroll.h, 0);
  EXPECT_EQ(scroll.v, -36);
  // A fractional image size is truncated.
  Rect thin = R(0, 0, 7, 1000);
  view->SetOrigRect(&thin);
  view->GetImageSize(image);
  EXPECT_EQ(image.width, 360);
  EXPECT_EQ(image.height, 2);  // 7 x 0.36 = 2.52
  // No picture yet: an empty image, nothing divided by zero, mapping left alone.
  Rect none = R(0, 0, 0, 0);
  view->SetOrigRect(&none);
  view->GetImageSize(image);
  EXPECT_EQ(image.width, 0);
  EXPECT_EQ(image.height, 0);
  view->GetScrollPosition(scroll);
  EXPECT_EQ(scroll.h, 0);
  EXPECT_EQ(scroll.v, 0);
  Point p = Pt(50, 60);
  view->Local2Orig(&p);
  EXPECT_EQ(p.h, 50);
  view->SetDrawingOptions(kDrawROI | kDrawTVSafe | kDrawTitleSafe, 0, false);
  EXPECT_NO_THROW(Draw(view));
  // A bigger frame keeps the aspect: 720 x 576 in 400 x 200 is 250 x 200, centred across.
  Rect pal2 = pal;
  view->SetOrigRect(&pal2);
  view->ResizeFrameBy(40, -160, false);
  view->GetImageSize(image);
  EXPECT_EQ(image.width, 250);
  EXPECT_EQ(image.height, 200);
  view->GetScrollPosition(scroll);
  EXPECT_EQ(scroll.h, -75);
  EXPECT_EQ(scroll.v, 0);
  EXPECT_EQ(CenteredScrollPosition(500, 200, -3), 0);
  EXPECT_EQ(CenteredScrollPosition(500, 200, 400), 300);
  EXPECT_EQ(CenteredScrollPosition(500, 200, 120), 120);
}

TEST_F(MovieViewTest, HotSpotsFollowTheTableOrder) {
  CMovieView* view = MakeView(360, 288);
  const Rect roi = R(100, 100, 200, 200);
  RgnHandle rgn = NewRgn();
  struct Case {
    Point p;
    SInt16 code;
  } cases[] = {
      {Pt(100, 150), kHotSpotLeft},  {Pt(150, 100), kHotSpotTop},       {Pt(200, 150), kHotSpotRight},
      {Pt(150, 199), kHotSpotBottom}, {Pt(97, 97), kHotSpotTopLeft},     {Pt(203, 97), kHotSpotTopRight},
      {Pt(203, 203), kHotSpotBottomRight}, {Pt(97, 203), kHotSpotBottomLeft}, {Pt(150, 150), kHotSpotInside},
      {Pt(104, 104), kHotSpotInside},  {Pt(103, 104), kHotSpotLeft},      {Pt(20, 20), kHotSpotNone},
  };
  for (const Case& c : cases) EXPECT_EQ(view->FindInterestingPoint(c.p, roi, rgn), c.code) << c.p.h << "," << c.p.v;
  // The top-left handle's region is its 8-pixel square.
  view->FindInterestingPoint(Pt(97, 97), roi, rgn);
  Rect box;
  GetRegionBounds(rgn, &box);
  EXPECT_TRUE(EqualRect(&box, &(const Rect&)R(96, 96, 104, 104)));
  // No hit: the frame less the corner squares.
  view->FindInterestingPoint(Pt(20, 20), roi, rgn);
  EXPECT_TRUE(PtInRgn(Pt(20, 20), rgn));
  EXPECT_FALSE(PtInRgn(Pt(97, 97), rgn));
  DisposeRgn(rgn);
}

TEST_F(MovieViewTest, MovingTheRegionOfInterestKeepsItEvenAndInside) {
  CMovieView* view = MakeView(360, 288);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  view->SetDrawingOptions(kDrawROI, 0, false);
  Draw(view);
  // ROI 50..200 in source is 25..100 in the image, at port (10, 10) + that.
  const Rect roi = view->GetROIRect();
  EXPECT_TRUE(EqualRect(&roi, &(const Rect&)R(50, 50, 200, 200)));
  mWindow->HandleClick(MouseEvent(70, 70), 1);
  EXPECT_TRUE(view->IsTrackingROI());
  EXPECT_EQ(view->GetCursorID(), kThemeClosedHandCursor);
  // 11 and 5 view pixels are 22 and 10 source pixels: even already; 3 px (6) too.
  view->MouseTracked(Pt(81, 75), 0);
  view->MouseTracked(Pt(84, 75), 0);
  view->MouseReleased(Pt(84, 75), 0);
  EXPECT_FALSE(view->IsTrackingROI());
  Rect moved = view->GetROIRect();
  EXPECT_TRUE(EqualRect(&moved, &(const Rect&)R(60, 78, 210, 228))) << moved.left << "," << moved.top;
  ASSERT_EQ(mLog.Count(msg_ROIChanged), 1);
  EXPECT_TRUE(EqualRect(&mLog.entries.back().rect, &moved));
  // Far past the right and bottom edges: pushed back inside the picture.
  mWindow->HandleClick(MouseEvent(100, 100), 1);
  view->MouseTracked(Pt(900, 900), 0);
  view->MouseReleased(Pt(900, 900), 0);
  Rect clamped = view->GetROIRect();
  EXPECT_EQ(clamped.right, 720);
  EXPECT_EQ(clamped.bottom, 576);
  EXPECT_EQ(clamped.right - clamped.left, 150);
  EXPECT_EQ(clamped.left % 2, 0);
  EXPECT_EQ(clamped.top % 2, 0);
}

TEST_F(MovieViewTest, ResizingStopsAtTheMinimumAndAtThePictureEdge) {
  CMovieView* view = MakeView(360, 288);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  view->SetDrawingOptions(kDrawROI, 0, false);
  view->SetROIRect(R(100, 100, 301, 301));
  mLog.entries.clear();
  // The bottom-right corner (source 301, 301) is at port 10 + 150 = 160.
  mWindow->HandleClick(MouseEvent(160, 160), 1);
  ASSERT_TRUE(view->IsTrackingROI());
  view->MouseTracked(Pt(120, 120), 0);
  view->MouseTracked(Pt(20, 20), 0);  // past the opposite corner
  view->MouseReleased(Pt(20, 20), 0);
  Rect small = view->GetROIRect();
  EXPECT_TRUE(EqualRect(&small, &(const Rect&)R(100, 100, 148, 148))) << small.right << "," << small.bottom;
  EXPECT_EQ(mLog.Count(msg_ROIChanged), 1);
  // The left edge dragged out of the picture stops at 0; edges stay even.
  view->SetROIRect(R(100, 101, 200, 201));
  Rect local = view->GetROIRect();
  view->Orig2Local(&local);
  mWindow->HandleClick(MouseEvent(local.left, static_cast<SInt16>((local.top + local.bottom) / 2)), 1);
  view->MouseTracked(Pt(0, 80), 0);
  view->MouseReleased(Pt(1, 80), 0);
  Rect wide = view->GetROIRect();
  EXPECT_EQ(wide.left, 0);
  EXPECT_EQ(wide.right, 200);
  EXPECT_EQ(wide.top, 100);
  for (SInt16 c : {wide.top, wide.left, wide.bottom, wide.right}) EXPECT_EQ(c % 2, 0);
  Rect odd = R(-3, 5, 17, 61);
  view->CheckNewSelection(odd, kHotSpotTopLeft);
  EXPECT_TRUE(EqualRect(&odd, &(const Rect&)R(-30, 4, 16, 60))) << odd.top << "," << odd.left;
}

TEST_F(MovieViewTest, ControlClickOpensTheNavigationMenuNeverARegionDrag) {
  CMovieView* view = MakeView(360, 288);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  view->SetDrawingOptions(kDrawROI, 0, false);
  struct Filler : LListener {
    void ListenToMessage(MessageT inMessage, void* ioParam) override {
      if (inMessage == msg_NavigationMenuOpens) {
        static_cast<LMenu*>(ioParam)->AppendItem("First");
        static_cast<LMenu*>(ioParam)->AppendItem("Second");
      }
    }
  } filler;
  view->AddListener(&filler);
  UResponder::Script(question_PopupMenu, SAnswer::Choice(2));
  mWindow->HandleClick(MouseEvent(70, 70, controlKey), 1);
  EXPECT_FALSE(view->IsTrackingROI());
  UiTest::PumpUntil([&] { return mLog.Count(msg_NavigationMenuChosen) == 1; });
  ASSERT_EQ(mLog.Count(msg_NavigationMenuChosen), 1);
  EXPECT_EQ(mLog.entries.back().value, 2);
  EXPECT_EQ(mLog.Count(msg_NavigationMenuOpens), 1);
  const auto log = UResponder::GetLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().choices.size(), 2u);
  // A double click is reported.
  mWindow->HandleClick(MouseEvent(200, 200), 2);
  EXPECT_EQ(mLog.Count(msg_MovieViewDoubleClick), 1);
}

TEST_F(MovieViewTest, ScrubbingWaitsForTheDoubleClickTimeAndReportsEverySixTicks) {
  CMovieView* view = MakeView(360, 288);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  StManualClock clock;
  const UInt32 dbl = UMouseTracking::GetDblTime();
  // Released within the double-click time: no scrub at all.
  mWindow->HandleClick(MouseEvent(100, 100), 1);
  UClock::AdvanceTicks(dbl - 1);
  view->MouseTracked(Pt(140, 100), 0);
  view->MouseReleased(Pt(140, 100), 0);
  EXPECT_TRUE(mLog.entries.empty());
  EXPECT_FALSE(view->IsScrubbing());
  // Held past it: 2010, then offsets at most every 6 ticks and only on moves, then 2012.
  mWindow->HandleClick(MouseEvent(100, 100), 1);
  UClock::AdvanceTicks(dbl);
  view->TrackIdle();
  EXPECT_TRUE(view->IsScrubbing());
  EXPECT_EQ(view->GetCursorID(), kThemeResizeLeftRightCursor);
  view->MouseTracked(Pt(110, 100), 0);  // too soon after the start
  UClock::AdvanceTicks(7);
  view->TrackIdle();
  view->TrackIdle();  // no move since: nothing
  UClock::AdvanceTicks(3);
  view->MouseTracked(Pt(90, 101), 0);  // 3 ticks: too soon
  UClock::AdvanceTicks(4);
  view->TrackIdle();
  EXPECT_EQ(view->GetCursorID(), kThemeResizeLeftCursor);
  view->MouseReleased(Pt(90, 101), 0);
  const std::vector<MessageT> expected = {msg_ScrubStart, msg_ScrubOffset, msg_ScrubOffset, msg_ScrubEnd};
  EXPECT_EQ(mLog.Messages(), expected);
  ASSERT_EQ(mLog.entries.size(), 4u);
  EXPECT_EQ(mLog.entries[0].value, 0);
  EXPECT_EQ(mLog.entries[1].value, 10);
  EXPECT_EQ(mLog.entries[2].value, -10);
  EXPECT_FALSE(view->IsScrubbing());
  EXPECT_EQ(view->GetCursorID(), kThemeArrowCursor);
}

TEST_F(MovieViewTest, OverlaysLandWhereTheMappingPutsThemAndNeverThrow) {
  CMovieView* view = MakeView(360, 288);
  // A grey still picture of 720 x 576 shown through the renderer.
  CBuffer* still = new CBuffer(R(0, 0, 576, 720), kBufferDepth8, kBufferModeARGB);
  Fill(still, 0, 720, 128, 128, 128);
  Rect pal = R(0, 0, 576, 720);
  view->SetOrigRect(&pal);
  view->UseOffscreenBuffer(still);
  still->Release();
  view->SetDrawingOptions(kDrawROI, 0, false);
  Draw(view);
  // ROI 50..200 maps to image 25..100, port 35..110; frame left edge at h = 35.
  EXPECT_EQ(PortPixel(mWindow, 35, 60), (RGB8{0, 0, 255}));
  EXPECT_EQ(PortPixel(mWindow, 60, 35), (RGB8{0, 0, 255}));
  EXPECT_EQ(PortPixel(mWindow, 60, 60), (RGB8{128, 128, 128}));
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_roi");
  // TV-safe (green, XOR) where CalcTVSafeBounds puts it.
  view->SetDrawingOptions(kDrawTVSafe, kDrawROI, false);
  Draw(view);
  Rect tv;
  CMotionData::CalcTVSafeBounds(pal, tv);
  view->Orig2Local(&tv);
  const RGB8 edge = PortPixel(mWindow, tv.left, (tv.top + tv.bottom) / 2);
  EXPECT_GT(edge.g, edge.r);
  EXPECT_GT(edge.g, edge.b);
  EXPECT_EQ(PortPixel(mWindow, tv.left + 3, (tv.top + tv.bottom) / 2), (RGB8{128, 128, 128}));
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_tvsafe");
  view->SetDrawingOptions(kDrawTitleSafe, kDrawTVSafe, false);
  Draw(view);
  Rect title;
  CMotionData::CalcTitleSafeBounds(pal, title);
  view->Orig2Local(&title);
  const RGB8 titleEdge = PortPixel(mWindow, title.left, (title.top + title.bottom) / 2);
  EXPECT_GT(titleEdge.b, titleEdge.r);
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_titlesafe");
  // Safe bounds without motion data: the failure stays inside, the picture is drawn.
  view->SetDrawingOptions(kDrawSafeBounds, kDrawTitleSafe, false);
  EXPECT_THROW(view->DrawOverlay(), LException);
  EXPECT_NO_THROW(Draw(view));
  EXPECT_EQ(PortPixel(mWindow, 60, 60), (RGB8{128, 128, 128}));
  // Motion data whose safe bounds are invalid (all -1) draw nothing.
  CMotionData data;
  view->mMotionData = &data;
  EXPECT_NO_THROW(view->DrawOverlay());
  view->mMotionData = nullptr;
  // The grey margin outside the image: a narrower picture leaves columns at both sides.
  Rect narrow = R(0, 0, 576, 360);
  view->SetOrigRect(&narrow);
  Draw(view);
  EXPECT_EQ(PortPixel(mWindow, 20, 100), (RGB8{0x55, 0x55, 0x55}));
  view->SetOrigRect(&pal);
  view->SetDrawingOptions(kDrawROI | kDrawTVSafe | kDrawTitleSafe, kDrawSafeBounds, false);
  view->SetInfoString("Frame 12\r720 x 576", false);
  Draw(view);
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_all_overlays");
}

TEST_F(MovieViewTest, TheBufferModeDrawsWhatTheRendererRendered) {
  CMovieView* view = MakeView(200, 100);
  // Left half red, right half blue; the renderer moves it 30 pixels right.
  CBuffer* still = new CBuffer(R(0, 0, 100, 200), kBufferDepth8, kBufferModeARGB);
  Fill(still, 0, 100, 255, 0, 0);
  Fill(still, 100, 200, 0, 0, 255);
  RenderFrameParams params;
  params.quality = kQualityLow;
  TranslateMatrix(&params.firstMatrix, Long2Fix(30), 0);
  CBuffer expected(R(0, 0, 100, 200), kBufferDepth8, kBufferModeARGB);
  ASSERT_EQ(CMovieRendering::RenderFrame(still, &expected, &params), noErr);
  Rect bounds = R(0, 0, 100, 200);
  view->SetOrigRect(&bounds);
  view->SetFrameParams(params, false);
  view->UseOffscreenBuffer(still);
  EXPECT_EQ(still->GetRetainCount(), 2);
  still->Release();
  const UInt32 before = view->GetRenderCount();
  Draw(view);
  EXPECT_EQ(view->GetRenderCount(), before + 1);
  int mismatches = 0;
  for (SInt16 y = 0; y < 100; y += 7)
    for (SInt16 x = 0; x < 200; x += 3) {
      UInt32 g, r, gr, b;
      expected.GetPixelValue(Pt(x, y), g, r, gr, b);
      const RGB8 shown = PortPixel(mWindow, 10 + x, 10 + y);
      if (shown.r != static_cast<int>(r) || shown.g != static_cast<int>(gr) || shown.b != static_cast<int>(b)) ++mismatches;
    }
  EXPECT_EQ(mismatches, 0);
  // And the renderer did move the picture: what shows is not the still itself.
  int moved = 0;
  for (SInt16 x = 0; x < 200; ++x) {
    UInt32 g, r, gr, b;
    still->GetPixelValue(Pt(x, 50), g, r, gr, b);
    moved += PortPixel(mWindow, 10 + x, 60).r != static_cast<int>(r);
  }
  EXPECT_GE(moved, 30);
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_buffer");
  // Attaching a movie lets the buffer go.
  Movie m = SolidMovie(3, 64, 48);
  CMovie movie(m, true);
  view->UseMovie(&movie);
  EXPECT_EQ(view->GetBuffer(), nullptr);
  EXPECT_EQ(movie.GetView(), view);
  Rect orig;
  view->GetOrigRect(&orig);
  EXPECT_TRUE(EqualRect(&orig, &(const Rect&)R(0, 0, 48, 64)));
  view->UseMovie(nullptr);
  EXPECT_EQ(movie.GetView(), nullptr);
  // A movie deleted while attached is forgotten, not touched.
  auto* gone = new CMovie(SolidMovie(2, 32, 24), true);
  view->UseMovie(gone);
  delete gone;
  EXPECT_NO_THROW(Draw(view));
  view->UseOffscreenBuffer(nullptr);
  EXPECT_EQ(view->GetMovie(), nullptr);
}

TEST_F(MovieViewTest, TheMovieDrawsIntoThePaneAndTheOverlaysFollowEachFrame) {
  CMovieView* view = MakeView(128, 96);
  CMovie movie(SolidMovie(3, 64, 48), true);
  view->UseMovie(&movie);
  EXPECT_FLOAT_EQ(view->GetZoom(), 2.0f);
  view->SetDrawingOptions(kDrawROI, 0, false);
  view->SetROIRect(R(4, 4, 40, 40));
  Draw(view);
  movie.GotoTime(60);  // frame 1: grey 50
  movie.MovieTask();
  EXPECT_EQ(PortPixel(mWindow, 10 + 100, 10 + 80), (RGB8{50, 50, 50}));
  // The frame-drawn message brought the ROI back over the new frame.
  EXPECT_EQ(PortPixel(mWindow, 10 + 8, 10 + 40), (RGB8{0, 0, 255}));
  UiTest::Screenshot(mWindow->GetFrameWidget(), "movieview_movie_roi");
  view->UseMovie(nullptr);
}

TEST_F(MovieViewTest, TheInfoTextIsBoundedAtACharacterBoundary) {
  CMovieView* view = MakeView(100, 100);
  std::string longText;
  while (longText.size() < 600) longText += "Ab\xC3\xA9 ";  // "Abé "
  view->SetInfoString(longText.c_str(), false);
  const size_t length = std::strlen(view->GetInfoString());
  EXPECT_LE(length, 255u);
  EXPECT_GE(length, 250u);
  EXPECT_EQ(std::string(view->GetInfoString()), longText.substr(0, length));
  EXPECT_NE(static_cast<unsigned char>(longText[length]) & 0xC0, 0x80u);
  view->SetInfoString(nullptr, false);
  EXPECT_STREQ(view->GetInfoString(), "");
}

}  // namespace
