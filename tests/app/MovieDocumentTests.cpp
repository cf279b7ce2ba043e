// The movie document with real movie files: opening (MP4 and QuickTime),
// the settings item written, read back and checked, saving in place and as
// new files (self-contained and reference), refused and failed saves,
// reverting, and closing with changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QImage>
#include <QWidget>

#include "app/CMovieDocument.h"
#include "app/MovieDocumentTestSupport.h"
#include "platform/movies/Movies.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "toolkit/CRegularWindow.h"

using namespace doctest;
namespace fs = std::filesystem;

namespace {

class MovieDocumentTest : public DocumentFixture {
 protected:
  // Answers the next save question with the path and save format.
  void ScriptSave(const std::string& inPath, SInt32 inChoice) {
    SAnswer a = SAnswer::Path(inPath);
    a.choice = inChoice;
    UResponder::Script(question_SaveFile, a);
  }
  bool NoQueuedWork(CMovieDocument* inDoc) { return inDoc->CountQueued() == 0 && UResponder::CountScripted() == 0; }
};

TEST_F(MovieDocumentTest, OpensAnMP4AndAQuickTimeMovieIntoATitledWindow) {
  WriteMp4(Path("clip one.mp4"), 160, 120, 12);
  WriteQuickTimeMovie(Path("clip two.mov"), 96, 64, 6);
  for (const char* name : {"clip one.mp4", "clip two.mov"}) {
    SCOPED_TRACE(name);
    CMovieDocument* doc = Open(name);
    ASSERT_NE(doc->GetMovie(), nullptr);
    EXPECT_EQ(doc->GetWindow()->GetTitle(), name);
    EXPECT_TRUE(doc->GetWindow()->IsVisible());
    EXPECT_FALSE(doc->IsModified());
    EXPECT_TRUE(doc->IsSpecified());
    EXPECT_EQ(doc->GetFileType(), static_cast<OSType>('MooV'));
    EXPECT_EQ(doc->GetDocumentID(), static_cast<OSType>('dMov'));
    // The window fits the movie: the movie area is the movie's size.
    Rect display;
    doc->GetMovie()->GetDisplayBounds(display);
    SDimension16 area;
    doc->GetWindow()->FindPaneByID(kPaneCenterView)->GetFrameSize(area);
    EXPECT_EQ(area.width, std::max<SInt16>(display.right - display.left, area.width));
    SInt32 w = 0, h = 0;
    doc->CalcBestWindowSize(1.0f, w, h);
    SDimension16 window;
    doc->GetWindow()->GetFrameSize(window);
    EXPECT_EQ(window.width, w);
    EXPECT_EQ(window.height, h);
    // The first frame is the generated one.
    UInt8 r, g, b, er, eg, eb;
    MoviePixel(doc->GetMovie()->GetMovie(), 0, 40, 30, r, g, b);
    FramePixel(0, 40, 30, er, eg, eb);
    EXPECT_NEAR(r, er, 12);
    EXPECT_NEAR(g, eg, 12);
    // Defaults without a settings item; the interlace mode comes from the movie.
    EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 1.0f);
    EXPECT_TRUE(doc->GetMotionSettings().doHorizontal);
    EXPECT_FALSE(doc->GetMotionSettings().doRotation);
    EXPECT_EQ(doc->GetTrackingAccuracy(), 2);
    EXPECT_EQ(doc->GetDrawingOptions(), kDrawSafeBounds);
    EXPECT_NE(doc->GetInterlaceMode(), 0);
    // The view and the slider show this movie.
    EXPECT_EQ(doc->GetMovieView()->GetMovie(), doc->GetMovie());
    EXPECT_EQ(doc->GetTimeSlider()->GetMovie(), doc->GetMovie());
    if (std::string(name) == "clip one.mp4") {
      Pump(50);
      UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "movie-document-window");
    }
    doc->Close();
  }
}

TEST_F(MovieDocumentTest, ClipboardMovieGetsTheUntitledTitleAndMustBeSavedAs) {
  auto* doc = new CMovieDocument(new CMovie(MakeRawMovie(64, 48, 5), true));
  EXPECT_EQ(doc->GetWindow()->GetTitle(), "Untitled Movie");
  EXPECT_FALSE(doc->IsSpecified());
  // Save of a movie without a file asks where to put it.
  ScriptSave(Path("from clipboard.mov"), kSaveChoiceSelfContained);
  doc->ProcessCommand(cmd_Save);
  ASSERT_TRUE(PumpUntil([&] { return fs::exists(Path("from clipboard.mov")) && NoQueuedWork(doc); }));
  EXPECT_EQ(doc->GetWindow()->GetTitle(), "from clipboard.mov");
  EXPECT_TRUE(doc->IsSpecified());
  EXPECT_FALSE(doc->IsModified());
  doc->Close();
}

}  // namespace
