// The export-tween sheet of a movie document, reached through its command:
// the put-file dialog with the three options in its custom area, shown from
// and stored back to the documents' class-wide options, a destination that
// exists already (replaced or cancelled, the old file stays whole), a sheet
// that cannot open, and a document closed while its sheet is up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <QCheckBox>
#include <QDialog>
#include <QImage>

#include "MovieDocumentTestSupport.h"
#include "SessionTestMovies.h"
#include "app/CMovieDocument.h"
#include "app/UExportTweenSheet.h"
#include "media/CTweenTracks.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UNavPresenters.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/ULocalization.h"

// From the navigation dialogs (their header cannot share a file with the documents').
SInt32 NavCountDialogs();
void NavFailNextCreation(OSStatus inErr);

using namespace sessiontest;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const std::string& inPath) {
  std::ifstream in(inPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> Listing(const std::string& inFolder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(inFolder)) names.insert(entry.path().filename().string());
  return names;
}

class ExportTweenSheetTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    RegisterLayoutClasses();
    mSaved[0] = CMovieDocument::sTweenSelectionOnly;
    mSaved[1] = CMovieDocument::sTweenOpenMovie;
    mSavedOptions = CMovieDocument::sTweenMovieOptions;
    mDest = Path("dest");
    fs::create_directories(mDest);
  }
  void TearDown() override {
    UResponder::SetInteractive(false);
    if (doc) {
      doc->Close();
      doc = nullptr;
    }
    Pump(30);
    CMovieDocument::sTweenSelectionOnly = mSaved[0];
    CMovieDocument::sTweenOpenMovie = mSaved[1];
    CMovieDocument::sTweenMovieOptions = mSavedOptions;
    DocumentFixture::TearDown();
  }
  // A stabilised movie (it has a control track the writer can take), so the
  // command goes straight to the sheet.
  void OpenStabilised() {
    Shake shake(10);
    doc = NewWindowedDocument(OpenAsFile(MakeShakyMovie(shake), "Clip"));
    ASSERT_NE(doc, nullptr);
    StoreMotion(*doc->GetMovie(), shake);
    doc->BeginEditSession(nullptr);
    doc->EndEditSession(true);
    ASSERT_EQ(CountTracksAtLayer(doc->GetMovie()->GetMovie(), kControlTrackLayer), 1);
    ASSERT_TRUE(doc->AllFeaturesSupportedByTween());
    doc->SetModified(false);
  }
  // The export-tween question as the dialog asked it.
  SQuestion Asked() {
    const auto log = UResponder::GetLog();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
      if (it->kind == question_SaveFile) return *it;
    ADD_FAILURE() << "no file question";
    return SQuestion();
  }
  LControl* Box(const SQuestion& inAsked, SInt16 inItem) {
    // The area's items are its panes 1, 2, 3, 4: the caption, then the options.
    return inAsked.customArea ? dynamic_cast<LControl*>(inAsked.customArea->FindPaneByIDOrNil(inItem + 1)) : nullptr;
  }
  bool SheetGone() {
    return PumpUntil([&] { return doc->GetTweenSheet() == nullptr && doc->CountQueued() == 0; });
  }
  // An old file at the destination, with bytes of its own.
  std::string OldFile() {
    const std::string path = mDest + "/Clip.mov";
    std::ofstream(path, std::ios::binary) << "an older movie that must stay whole";
    return path;
  }

  CMovieDocument* doc = nullptr;
  Boolean mSaved[2] = {true, true};
  UInt32 mSavedOptions = 0x100;
  std::string mDest;
};

TEST_F(ExportTweenSheetTest, TheOptionsShowTheClassWideOnesAndAClickStoresItAtOnce) {
  ASSERT_NO_FATAL_FAILURE(OpenStabilised());
  CMovieDocument::sTweenSelectionOnly = false;
  CMovieDocument::sTweenOpenMovie = true;
  CMovieDocument::sTweenMovieOptions = kTweenHoldLastFrameOption | 0x4;

  // The real put-file dialog, a sheet of the document window.
  UResponder::SetInteractive(true);
  ASSERT_TRUE(doc->ObeyCommand(cmd_ExportTween, nullptr));
  ASSERT_NE(doc->GetTweenSheet(), nullptr);
  EXPECT_EQ(doc->GetNavMode(), kNavModeExportTween);
  EXPECT_TRUE(doc->IsAsking());
  const SQuestion asked = Asked();
  EXPECT_EQ(asked.title, movie_document_testing::DocumentText(9));
  // The document's name with the movie extension.
  ASSERT_GT(asked.defaultName.size(), 4u);
  EXPECT_EQ(asked.defaultName.substr(asked.defaultName.size() - 4), ".mov");
  EXPECT_EQ(asked.parent, doc->GetWindow());
  auto* dialog = UNavPresenters::GetDialog(asked.dialogID);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  ASSERT_NE(asked.customArea, nullptr);
  EXPECT_TRUE(dialog->isAncestorOf(asked.customArea->PeekWidget()));
  LControl* selection = Box(asked, kTweenItemSelectionOnly);
  LControl* open = Box(asked, kTweenItemOpenMovie);
  LControl* hold = Box(asked, kTweenItemHoldLastFrame);
  ASSERT_TRUE(selection && open && hold);
  EXPECT_EQ(selection->GetValue(), 0);
  EXPECT_EQ(open->GetValue(), 1);
  EXPECT_EQ(hold->GetValue(), 1);

  // A click on a box changes its option at once; the other movie options stay.
  auto* selectionBox = qobject_cast<QCheckBox*>(selection->PeekWidget());
  ASSERT_NE(selectionBox, nullptr);
  selectionBox->click();
  EXPECT_EQ(selection->GetValue(), 1);
  EXPECT_TRUE(CMovieDocument::sTweenSelectionOnly);
  ASSERT_TRUE(hold->SimulateHotSpotClick(1));
  EXPECT_EQ(CMovieDocument::sTweenMovieOptions, 0x4u);
  ASSERT_TRUE(open->SimulateHotSpotClick(1));
  EXPECT_FALSE(CMovieDocument::sTweenOpenMovie);
  ASSERT_TRUE(open->SimulateHotSpotClick(1));
  EXPECT_TRUE(CMovieDocument::sTweenOpenMovie);
  // The command waits while the sheet is up; a second sheet never opens.
  doc->AskExportTweenAs_();
  EXPECT_EQ(NavCountDialogs(), 1);

  dialog->resize(640, 480);
  Pump(50);
  const QImage shot = UiTest::Screenshot(dialog, "export_tween_sheet");
  EXPECT_GT(shot.width(), 300);

  // Cancel: the sheet goes, nothing is queued or written, the options stay as set.
  const auto before = Listing(mDest);
  dialog->done(QDialog::Rejected);
  ASSERT_TRUE(SheetGone());
  EXPECT_EQ(doc->GetNavMode(), kNavModeNone);
  EXPECT_FALSE(doc->IsAsking());
  EXPECT_EQ(Listing(mDest), before);
  EXPECT_FALSE(doc->IsModified());
  Pump(30);
  EXPECT_EQ(NavCountDialogs(), 0);
  EXPECT_TRUE(CMovieDocument::sTweenSelectionOnly);
  EXPECT_EQ(CMovieDocument::sTweenMovieOptions, 0x4u);

  // Opened again, the boxes show what was stored.
  UResponder::SetInteractive(false);
  UResponder::Script(question_SaveFile, SAnswer::Cancel());
  ASSERT_TRUE(doc->ObeyCommand(cmd_ExportTween, nullptr));
  const SQuestion again = Asked();
  ASSERT_NE(again.dialogID, asked.dialogID);
  EXPECT_EQ(Box(again, kTweenItemSelectionOnly)->GetValue(), 1);
  EXPECT_EQ(Box(again, kTweenItemOpenMovie)->GetValue(), 1);
  EXPECT_EQ(Box(again, kTweenItemHoldLastFrame)->GetValue(), 0);
  ASSERT_TRUE(SheetGone());
}

TEST_F(ExportTweenSheetTest, AnExistingDestinationStaysWholeWhetherReplacedOrCancelled) {
  ASSERT_NO_FATAL_FAILURE(OpenStabilised());
  const std::string old = OldFile();
  const std::string bytes = ReadBytes(old);
  const auto stamp = fs::last_write_time(old);
  const auto before = Listing(mDest);

  // Replace answered yes: the writer keeps the destination as it is, so
  // the old file is neither deleted nor cut short, and nothing is left beside it.
  UResponder::Script(question_SaveFile, SAnswer::Path(old));
  ASSERT_TRUE(doc->ObeyCommand(cmd_ExportTween, nullptr));
  ASSERT_TRUE(SheetGone());
  EXPECT_EQ(doc->GetNavMode(), kNavModeNone);
  EXPECT_FALSE(doc->IsAsking());
  EXPECT_EQ(ReadBytes(old), bytes);
  EXPECT_EQ(fs::last_write_time(old), stamp);
  EXPECT_EQ(Listing(mDest), before);
  // Nothing was told to the user: no alert.
  for (const SQuestion& q : UResponder::GetLog()) EXPECT_NE(q.kind, question_Alert) << q.message;

  // Cancel leaves it as well.
  UResponder::Script(question_SaveFile, SAnswer::Cancel());
  ASSERT_TRUE(doc->ObeyCommand(cmd_ExportTween, nullptr));
  ASSERT_TRUE(SheetGone());
  EXPECT_EQ(ReadBytes(old), bytes);
  EXPECT_EQ(Listing(mDest), before);
  EXPECT_EQ(doc->GetNavMode(), kNavModeNone);

  // A new name: still no file appears (the options lead to no export).
  UResponder::Script(question_SaveFile, SAnswer::Path(mDest + "/New.mov"));
  ASSERT_TRUE(doc->ObeyCommand(cmd_ExportTween, nullptr));
  ASSERT_TRUE(SheetGone());
  EXPECT_EQ(Listing(mDest), before);
  EXPECT_FALSE(doc->IsModified());
}

TEST_F(ExportTweenSheetTest, ASheetThatCannotOpenLeavesTheDocumentFree) {
  ASSERT_NO_FATAL_FAILURE(OpenStabilised());
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  NavFailNextCreation(-108);
  doc->AskExportTweenAs_();
  EXPECT_EQ(doc->GetTweenSheet(), nullptr);
  EXPECT_EQ(doc->GetNavMode(), kNavModeNone);
  EXPECT_FALSE(doc->IsAsking());
  Pump(30);
  EXPECT_EQ(NavCountDialogs(), 0);
  // And the next one opens.
  UResponder::Script(question_SaveFile, SAnswer::Cancel());
  doc->AskExportTweenAs_();
  EXPECT_NE(doc->GetTweenSheet(), nullptr);
  ASSERT_TRUE(SheetGone());
}

TEST_F(ExportTweenSheetTest, ADocumentClosedWhileItsSheetIsUpTakesTheSheetWithIt) {
  ASSERT_NO_FATAL_FAILURE(OpenStabilised());
  const std::string old = OldFile();
  const std::string bytes = ReadBytes(old);
  // The answer is on its way when the document goes.
  UResponder::Script(question_SaveFile, SAnswer::Path(old));
  doc->AskExportTweenAs_();
  ASSERT_NE(doc->GetTweenSheet(), nullptr);
  doc->Close();
  doc = nullptr;
  Pump(60);
  EXPECT_EQ(NavCountDialogs(), 0);
  EXPECT_EQ(ReadBytes(old), bytes);
}

}  // namespace
