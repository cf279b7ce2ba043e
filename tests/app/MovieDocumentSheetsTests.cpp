// The movie document's sheets driven as a user would: the information
// report, the size sheet (a flat movie, typed sizes, the aspect ratio, OK
// without a change), the format sheet with its detection, the toolbar
// popups and the info line, and whether a control track needs features
// the export-tween writer lacks.
#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QTextEdit>
#include <algorithm>

#include "MovieDocumentTestSupport.h"
#include "SessionDocumentFixture.h"
#include "SessionTestMovies.h"
#include "app/CMovieDocument.h"
#include "app/USessionSupport.h"
#include "media/CMovieRendering.h"
#include "platform/export/AVTestMovie.h"
#include "media/CTweenTracks.h"
#include "motion/CInterlaceTrackerTask.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LThread.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTextControl.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/ULocalization.h"

using namespace sessiontest;

namespace {

std::string PaneText(LPane* inPane) {
  if (auto* t = dynamic_cast<LTextControl*>(inPane)) return t->GetText();
  if (auto* s = dynamic_cast<LStaticText*>(inPane)) return s->GetText();
  if (auto* v = dynamic_cast<LTextEditView*>(inPane)) return v->GetText();
  return "?";
}

void Type(LCustomDialogSheet* inSheet, PaneIDT inField, const std::string& inText) {
  auto* field = dynamic_cast<LTextControl*>(inSheet->FindPaneByID(inField));
  ASSERT_NE(field, nullptr);
  field->SetText(inText);
  inSheet->ListenToMessage(inField, nullptr);
}

class MovieDocumentSheetsTest : public SessionDocumentFixture {
 protected:
  LCustomDialogSheet* CurrentSheet() {
    return dynamic_cast<LCustomDialogSheet*>(doc->GetWindow()->GetCurrentSheet());
  }
};

TEST_F(MovieDocumentSheetsTest, InformationSheetShowsTheStatisticsReport) {
  Open(OpenAsFile(MakeShakyMovie(Shake(12)), "info"));
  doc->ShowInfo();
  LCustomDialogSheet* sheet = CurrentSheet();
  ASSERT_NE(sheet, nullptr);
  const std::string text = PaneText(sheet->FindPaneByID(4));
  EXPECT_NE(text.find("12"), std::string::npos) << text;
  UiTest::Pump(30);
  UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), "behaviour-information-sheet");
  // Return closes it; the report was freed once (the sanitizer build checks).
  EXPECT_EQ(sheet->GetProc()(sheet, msg_SheetReturnKey, nullptr, sheet->GetRefCon()), -128);
  sheet->Release();
  UiTest::Pump(20);
  EXPECT_EQ(doc->GetWindow()->GetCurrentSheet(), nullptr);
}

TEST_F(MovieDocumentSheetsTest, SizeSheetOnAFlatMovieNeverDividesByZeroAndBoundsTypedSizes) {
  Open(new CMovie);  // an empty movie: no picture, zero height
  LCustomDialogSheet sheet(nullptr, PPob_MovieSizeSheet, CMovieDocument::MovieSizeProc, doc);
  EXPECT_EQ(PaneText(sheet.FindPaneByID(5)), "0");
  EXPECT_EQ(PaneText(sheet.FindPaneByID(6)), "0");
  Type(&sheet, 5, "640");
  EXPECT_EQ(PaneText(sheet.FindPaneByID(6)), "640");
  Type(&sheet, 6, "0");
  EXPECT_EQ(PaneText(sheet.FindPaneByID(5)), "1");
  Type(&sheet, 5, "99999999999");
  EXPECT_EQ(PaneText(sheet.FindPaneByID(6)), std::to_string(USessionSupport::kMaxMovieSide));
}

TEST_F(MovieDocumentSheetsTest, SizeSheetKeepsTheAspectRatioAndResizesOnlyOnAChange) {
  Open(OpenAsFile(MakeShakyMovie(Shake(4)), "size"));
  LCustomDialogSheet sheet(nullptr, PPob_MovieSizeSheet, CMovieDocument::MovieSizeProc, doc);
  const std::string w = PaneText(sheet.FindPaneByID(5)), h = PaneText(sheet.FindPaneByID(6));
  EXPECT_EQ(w, std::to_string(kW));
  EXPECT_EQ(h, std::to_string(kH));
  // OK without a change closes without resizing.
  const SInt32 queued = doc->CountQueued();
  EXPECT_EQ(CMovieDocument::MovieSizeProc(&sheet, msg_SheetReturnKey, nullptr, doc), -128);
  EXPECT_EQ(doc->CountQueued(), queued);
  Type(&sheet, 5, std::to_string(2 * kW));
  EXPECT_EQ(PaneText(sheet.FindPaneByID(6)), std::to_string(2 * kH));
  Type(&sheet, 6, std::to_string(kH / 2));
  EXPECT_EQ(PaneText(sheet.FindPaneByID(5)), std::to_string(kW / 2));
  // The movie's own size comes back with its button.
  CMovieDocument::MovieSizeProc(&sheet, 10, nullptr, doc);
  EXPECT_EQ(PaneText(sheet.FindPaneByID(5)), std::to_string(kW));
  Type(&sheet, 5, std::to_string(3 * kW));
  EXPECT_EQ(CMovieDocument::MovieSizeProc(&sheet, msg_SheetReturnKey, nullptr, doc), -128);
  EXPECT_EQ(doc->CountQueued(), queued + 1);
}

TEST_F(MovieDocumentSheetsTest, FormatSheetDetectsTheFieldOrderAndOnlyBeepsWhileDetecting) {
  Open(OpenAsFile(MakeInterlacedMovie(24), "format"));
  doc->ShowFormatSheet();
  LCustomDialogSheet* sheet = CurrentSheet();
  ASSERT_NE(sheet, nullptr);
  auto* mode = dynamic_cast<LControl*>(sheet->FindPaneByID(10));
  auto* standard = dynamic_cast<LControl*>(sheet->FindPaneByID(11));
  ASSERT_NE(mode, nullptr);
  ASSERT_NE(standard, nullptr);
  EXPECT_EQ(mode->GetValue(), kInterlace_Undecided);
  EXPECT_EQ(standard->GetValue(), 1);
  EXPECT_FALSE(sheet->FindPaneByID(20)->IsVisible());

  sheet->ListenToMessage(25, nullptr);
  ASSERT_TRUE(doc->IsTaskRunning());
  EXPECT_EQ(PaneText(sheet->FindPaneByID(25)), "Stop");
  EXPECT_EQ(PaneText(sheet->FindPaneByID(21)), "Scanning Movie...");
  EXPECT_FALSE(sheet->FindPaneByID(1)->IsEnabled());
  // OK and Cancel only beep while the detection runs.
  EXPECT_EQ(CMovieDocument::MovieFormatProc(sheet, msg_SheetReturnKey, nullptr, doc), 0);
  EXPECT_EQ(CMovieDocument::MovieFormatProc(sheet, msg_SheetEscapeKey, nullptr, doc), 0);
  UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), "behaviour-format-sheet-detecting");

  for (int turn = 0; turn < 2000000 && doc->IsTaskRunning(); ++turn) {
    LThread::Yield();
    LThread::DeleteEndedThreads();
  }
  ASSERT_FALSE(doc->IsTaskRunning());
  EXPECT_EQ(mode->GetValue(), kInterlace_OddFirst);
  EXPECT_EQ(standard->GetValue(), kInterlaceDelay_NTSC + 1);
  EXPECT_EQ(PaneText(sheet->FindPaneByID(25)), "Auto Detect");
  EXPECT_EQ(PaneText(sheet->FindPaneByID(21)), "");
  EXPECT_TRUE(sheet->FindPaneByID(1)->IsEnabled());
  EXPECT_TRUE(standard->IsEnabled());

  // OK takes the format.
  EXPECT_EQ(CMovieDocument::MovieFormatProc(sheet, msg_SheetReturnKey, nullptr, doc), -128);
  EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_OddFirst);
  EXPECT_EQ(doc->GetInterlaceDelay(), kInterlaceDelay_NTSC);
  EXPECT_TRUE(doc->IsModified());
  sheet->Release();
  UiTest::Pump(20);

  // Progressive disables the standard.
  doc->ShowFormatSheet();
  sheet = CurrentSheet();
  ASSERT_NE(sheet, nullptr);
  mode = dynamic_cast<LControl*>(sheet->FindPaneByID(10));
  mode->SetValue(kInterlace_Progressive);
  EXPECT_FALSE(sheet->FindPaneByID(11)->IsEnabled());
  sheet->Release();
}

TEST_F(MovieDocumentSheetsTest, UndecidedDetectionWarnsWithACaution) {
  Open(OpenAsFile(MakeStillMovie(20), "undecided"));
  doc->ShowFormatSheet();
  LCustomDialogSheet* sheet = CurrentSheet();
  ASSERT_NE(sheet, nullptr);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  sheet->ListenToMessage(25, nullptr);
  for (int turn = 0; turn < 2000000 && doc->IsTaskRunning(); ++turn) {
    LThread::Yield();
    LThread::DeleteEndedThreads();
  }
  UiTest::Pump(30);
  ASSERT_FALSE(UResponder::GetLog().empty());
  EXPECT_EQ(UResponder::GetLog().back().message, movie_document_testing::DocumentText(55));
  EXPECT_EQ(dynamic_cast<LControl*>(sheet->FindPaneByID(10))->GetValue(), kInterlace_Undecided);
  sheet->Release();
}

TEST_F(MovieDocumentSheetsTest, ClosingTheFormatSheetDuringDetectionFreesTheDocument) {
  Open(OpenAsFile(MakeInterlacedMovie(24), "formatclosed"));
  doc->ShowFormatSheet();
  LCustomDialogSheet* sheet = CurrentSheet();
  ASSERT_NE(sheet, nullptr);
  sheet->ListenToMessage(25, nullptr);
  ASSERT_TRUE(doc->IsTaskRunning());
  sheet->Release();
  for (int turn = 0; turn < 2000000 && doc->IsTaskRunning(); ++turn) {
    LThread::Yield();
    LThread::DeleteEndedThreads();
  }
  EXPECT_FALSE(doc->IsTaskRunning());
  // The format stays as it was: the detection was stopped.
  EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_Undecided);
}

TEST_F(MovieDocumentSheetsTest, PopupsAndInfoLineFollowTheTimeAndSelection) {
  Open(OpenAsFile(MakeShakyMovie(Shake(10)), "popups"));
  CMovie* movie = doc->GetMovie();
  LMenu bookmarks(9901, "Bookmarks");
  doc->UpdateBookMarkButton(&bookmarks);
  ASSERT_EQ(bookmarks.CountItems(), 5);
  EXPECT_EQ(bookmarks.GetItem(1).mark, 18);
  EXPECT_FALSE(bookmarks.GetItem(4).enabled);
  EXPECT_EQ(bookmarks.GetItem(4).text, movie_document_testing::DocumentText(19));
  movie->SetSelectionStart(2 * kFrame);
  movie->SetSelectionStop(6 * kFrame);
  movie->GotoTime(2 * kFrame);
  doc->UpdateBookMarkButton(&bookmarks);
  EXPECT_TRUE(bookmarks.GetItem(4).enabled);
  EXPECT_EQ(bookmarks.GetItem(4).text.rfind(movie_document_testing::DocumentText(19) + ":    ", 0), 0u);
  EXPECT_EQ(bookmarks.GetItem(4).mark, 18);
  EXPECT_EQ(bookmarks.GetItem(1).mark, 0);
  doc->UpdateMovieInfo();
  EXPECT_EQ(doc->GetInfoLine(), movie_document_testing::DocumentText(19) + "\r");
  movie->GotoTime(6 * kFrame - 5);
  doc->UpdateMovieInfo();
  EXPECT_EQ(doc->GetInfoLine(), movie_document_testing::DocumentText(20) + "\r");

  LMenu options(9902, "Options");
  doc->UpdateOptionsButton(&options);
  ASSERT_EQ(options.CountItems(), 6);
  EXPECT_EQ(options.GetItem(1).text, movie_document_testing::DocumentText(12));
  EXPECT_FALSE(options.GetItem(6).enabled);
}

TEST_F(MovieDocumentSheetsTest, TweenExportNeedsNoBorderRectangleOrFilledMargins) {
  Shake shake(12);
  Open(OpenAsFile(MakeShakyMovie(shake), "tween"));
  StoreMotion(*doc->GetMovie(), shake);
  EXPECT_TRUE(doc->AllFeaturesSupportedByTween());
  doc->GetRenderParams().borderMode = kBorderFilled;
  doc->BeginEditSession(nullptr);
  doc->EndEditSession(true);
  ASSERT_EQ(CountTracksAtLayer(doc->GetMovie()->GetMovie(), kControlTrackLayer), 1);
  EXPECT_FALSE(doc->AllFeaturesSupportedByTween());
}

}  // namespace

namespace {

// The report as the information sheet's text view shows it, lines split.
std::vector<std::string> ShownReportLines(CMovieDocument* inDoc, const char* inShot) {
  inDoc->ShowInfo();
  auto* sheet = dynamic_cast<LCustomDialogSheet*>(inDoc->GetWindow()->GetCurrentSheet());
  if (!sheet) return {};
  LPane* pane = sheet->FindPaneByID(4);
  QTextEdit* view = pane ? qobject_cast<QTextEdit*>(pane->GetWidget()) : nullptr;
  if (!view) view = pane && pane->GetWidget() ? pane->GetWidget()->findChild<QTextEdit*>() : nullptr;
  std::vector<std::string> lines;
  if (view) {
    for (const QString& line : view->toPlainText().split(QRegularExpression(QStringLiteral("[\r\n\u2029]"))))
      lines.push_back(line.toStdString());
    UiTest::Pump(30);
    UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), inShot);
  }
  sheet->GetProc()(sheet, msg_SheetReturnKey, nullptr, sheet->GetRefCon());
  sheet->Release();
  UiTest::Pump(20);
  return lines;
}

// The lines of track n's part of the report (from "Track n: " to the next track).
std::vector<std::string> TrackPart(const std::vector<std::string>& inLines, int inTrack) {
  std::vector<std::string> part;
  bool in = false;
  for (const std::string& line : inLines) {
    if (line.rfind("Track ", 0) == 0) in = line.rfind("Track " + std::to_string(inTrack) + ":", 0) == 0;
    if (in) part.push_back(line);
  }
  return part;
}

bool Has(const std::vector<std::string>& inLines, const std::string& inLine) {
  return std::find(inLines.begin(), inLines.end(), inLine) != inLines.end();
}

std::string Joined(const std::vector<std::string>& inLines) {
  std::string all;
  for (const std::string& line : inLines) all += line + "\n";
  return all;
}

}  // namespace

// Movie Info of movies libavcodec made: the codec's name, the pixel format
// of the pictures and the real channel count of the sound, read from the
// sheet's text view; after a cut the sample counts are the edited movie's.
TEST_F(MovieDocumentSheetsTest, InformationSheetNamesCodecPixelFormatAndChannelsOfTheStreams) {
  struct Case {
    const char* name;
    const char* container;
    const char* video;
    const char* sound;
    int channels;
    const char* compressor;
  } cases[] = {
      {"MonoAAC.mp4", "mp4", "libx264", "aac", 1, "H.264"},
      {"StereoMP2.mov", "mov", "libx264", "mp2", 2, "H.264"},
      {"MonoMP2.mp4", "mp4", "mjpeg", "mp2", 1, "Photo - JPEG"},
      {"MonoAAC.avi", "avi", "mpeg4", "mp2", 1, "MPEG-4 Video"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exporttest::AVMovieSpec spec;
    spec.container = c.container;
    spec.videoEncoder = c.video;
    spec.soundEncoder = c.sound;
    spec.channels = c.channels;
    // Reordered pictures: the track's edit starts later in the media than its first sample.
    if (std::string(c.video) == "libx264") spec.bFrames = 2;
    ASSERT_TRUE(exporttest::WriteAVMovie(Path(c.name), spec));
    doc = DocumentFixture::Open(c.name);
    const std::vector<std::string> report = ShownReportLines(doc, (std::string("behaviour-information-") + c.name).c_str());
    ASSERT_FALSE(report.empty());
    const std::vector<std::string> video = TrackPart(report, 1), sound = TrackPart(report, 2);
    EXPECT_TRUE(Has(video, "Track 1: Video")) << Joined(report);
    EXPECT_TRUE(Has(video, std::string("Compressor: ") + c.compressor)) << Joined(video);
    EXPECT_TRUE(Has(video, "Pixel format: YUV 4:2:0")) << Joined(video);
    EXPECT_TRUE(Has(video, "Samples: 25")) << Joined(video);
    EXPECT_TRUE(Has(sound, "Track 2: Sound")) << Joined(report);
    EXPECT_TRUE(Has(sound, "Channels: " + std::to_string(c.channels))) << Joined(sound);
    EXPECT_TRUE(Has(sound, "Sample rate: 48000 1/s")) << Joined(sound);
    doc->SetModified(false);
    doc->Close();
    doc = nullptr;
  }

  // A cut of the first five frames: the video track plays 20 samples.
  doc = DocumentFixture::Open("MonoAAC.mp4");
  CMovie* movie = doc->GetMovie();
  ASSERT_NE(movie, nullptr);
  Track track = GetMovieIndTrack(movie->GetMovie(), 1);
  ASSERT_NE(track, nullptr);
  TimeValue fifth = 0;
  for (int k = 0; k < 5; ++k) {
    TimeValue next = -1;
    GetTrackNextInterestingTime(track, nextTimeMediaSample, fifth, fixed1, &next, nullptr);
    ASSERT_GT(next, fifth);
    fifth = next;
  }
  movie->SetSelectionStart(0);
  movie->SetSelectionStop(fifth);
  doc->ProcessCommand(cmd_Cut);
  const std::vector<std::string> after = TrackPart(ShownReportLines(doc, "behaviour-information-after-cut"), 1);
  EXPECT_TRUE(Has(after, "Samples: 20")) << Joined(after);
  doc->SetModified(false);
}

// Motion-JPEG pictures written by the ffmpeg command in 4:2:0, 4:2:2 and
// 4:4:4: Movie Info names the layout their JPEG frame headers state, whose
// chroma sampling factors are not always 1.
TEST_F(MovieDocumentSheetsTest, InformationSheetNamesTheChromaLayoutOfMotionJPEG) {
  const std::pair<const char*, const char*> cases[] = {
      {"yuvj420p", "YUV 4:2:0"}, {"yuvj422p", "YUV 4:2:2"}, {"yuvj444p", "YUV 4:4:4"}};
  for (const auto& [format, shown] : cases) {
    SCOPED_TRACE(format);
    const std::string name = std::string("MJPEG-") + format + ".mov";
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=160x96:rate=25 "
        "-frames:v 5 -c:v mjpeg -pix_fmt " +
        std::string(format) + " '" + Path(name) + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    doc = DocumentFixture::Open(name);
    ASSERT_NE(doc, nullptr);
    const std::vector<std::string> video =
        TrackPart(ShownReportLines(doc, ("behaviour-information-" + name).c_str()), 1);
    EXPECT_TRUE(Has(video, std::string("Pixel format: ") + shown)) << Joined(video);
    doc->Close();
    doc = nullptr;
  }
}
