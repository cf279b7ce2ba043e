// The movie document with real movie files: opening (MP4 and QuickTime),
// the settings item written, read back and checked, saving in place and as
// new files (self-contained and reference), refused and failed saves,
// reverting, and closing with changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include <QImage>
#include <QWidget>

#include "app/CMovieDocument.h"
#include "app/MovieDocumentTestSupport.h"
#include "platform/movies/Movies.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "toolkit/CRegularWindow.h"

using namespace movie_document_testing;
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
  bool NoQueuedWork(CMovieDocument* inDoc) {
    return inDoc->CountQueued() == 0 && UResponder::CountScripted() == 0 && !inDoc->IsAsking();
  }
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

std::vector<UInt8> GoodSettings() {
  std::vector<UInt8> b;
  AddTag(b, 'loTm', BEFloat(2.5f));
  AddTag(b, 'FiDr', BEFloat(0.5f));
  AddTag(b, 'FoDr', BEFloat(1.5f));
  AddTag(b, 'Tlrc', BEFloat(3.0f));
  AddTag(b, 'DoHr', {0});
  AddTag(b, 'DoVt', {1});
  AddTag(b, 'DoRt', {1});
  AddTag(b, 'DoZm', {1});
  AddTag(b, 'ZmMd', BE32(3));
  AddTag(b, 'BcCl', {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  AddTag(b, 'BcMd', BE32(2));
  AddTag(b, 'CtMB', BERect(2, 3, 4, 5));
  AddTag(b, 'xtra', {1, 2, 3});  // unknown tags are read past
  AddTag(b, 'TrAc', BE32(3));
  AddTag(b, 'DrOp', BE32(0x3));
  AddTag(b, 'IntM', BE32(3));
  AddTag(b, 'IntD', BE32(1));
  AddTag(b, 'RoiR', BERect(10, 20, 50, 80));
  AddTag(b, '>>>>', {});
  return b;
}

void ExpectGoodSettings(CMovieDocument* doc) {
  const MotionSettings& m = doc->GetMotionSettings();
  EXPECT_FLOAT_EQ(m.lowpassTime, 2.5f);
  EXPECT_FLOAT_EQ(m.fadeInDuration, 0.5f);
  EXPECT_FLOAT_EQ(m.fadeOutDuration, 1.5f);
  EXPECT_FLOAT_EQ(m.tolerance, 3.0f);
  EXPECT_EQ(m.doHorizontal, 0);
  EXPECT_EQ(m.doVertical, 1);
  EXPECT_EQ(m.doRotation, 1);
  EXPECT_EQ(m.doZoom, 1);
  EXPECT_EQ(m.zoomMode, 3);
  const RenderFrameParams& r = doc->GetRenderParams();
  EXPECT_EQ(r.borderColor.red, 0x1234);
  EXPECT_EQ(r.borderColor.green, 0x5678);
  EXPECT_EQ(r.borderColor.blue, 0x9ABC);
  EXPECT_EQ(r.borderMode, 2);
  EXPECT_EQ(r.margins.top, 2);
  EXPECT_EQ(r.margins.left, 3);
  EXPECT_EQ(r.margins.bottom, 4);
  EXPECT_EQ(r.margins.right, 5);
  EXPECT_EQ(doc->GetTrackingAccuracy(), 3);
  EXPECT_EQ(doc->GetDrawingOptions(), 0x3u);
  EXPECT_EQ(doc->GetMovieView()->GetDrawingOptions() & 0x7u, 0x3u);
  EXPECT_EQ(doc->GetInterlaceMode(), 3);
  EXPECT_EQ(doc->GetInterlaceDelay(), 1);
  EXPECT_EQ(doc->GetRegionOfInterest().left, 20);
  EXPECT_EQ(doc->GetRegionOfInterest().bottom, 50);
  EXPECT_EQ(doc->GetMovieView()->GetROIRect().right, 80);
}

TEST_F(MovieDocumentTest, StoredSettingsAreRestoredAndWrittenBackTheSame) {
  WriteQuickTimeMovie(Path("set.mov"), 96, 64, 4, GoodSettings());
  CMovieDocument* doc = Open("set.mov");
  ExpectGoodSettings(doc);
  // Written back: the same values in the table's order, closed by the end tag.
  ASSERT_EQ(doc->WriteSettingsToMovie(doc->GetMovie()), noErr);
  doc->Close();
  WriteQuickTimeMovie(Path("copy.mov"), 96, 64, 4, {});
  // Saved in place, the item is what the document wrote.
  doc = Open("set.mov");
  doc->SetModified(true);
  doc->ProcessCommand(cmd_Save);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  EXPECT_FALSE(doc->IsModified());
  doc->Close();
  std::vector<UInt8> item = SettingsItemOfFile(Path("set.mov"));
  ASSERT_EQ(item.size(), 18u * 8 + 4 * 4 + 4 * 1 + 4 + 6 + 4 + 8 + 4 * 4 + 8);
  EXPECT_EQ(std::string(item.begin(), item.begin() + 4), "loTm");
  EXPECT_EQ(std::string(item.end() - 8, item.end() - 4), ">>>>");
  doc = Open("set.mov");
  ExpectGoodSettings(doc);
  doc->Close();
}

TEST_F(MovieDocumentTest, OutOfRangeOrMisSizedSettingsFallBackToTheDefaults) {
  std::vector<UInt8> b;
  AddTag(b, 'loTm', BEFloat(std::numeric_limits<float>::quiet_NaN()));
  AddTag(b, 'FiDr', BEFloat(-1.0f));
  AddTag(b, 'FoDr', BEFloat(std::numeric_limits<float>::infinity()));
  AddTag(b, 'Tlrc', {0, 0});           // wrong size
  AddTag(b, 'DoHr', {7});              // not a flag
  AddTag(b, 'ZmMd', BE32(9));          // modes are 1 to 4
  AddTag(b, 'BcMd', BE32(0x7FFFFFFF));
  AddTag(b, 'CtMB', BERect(0, 60, 0, 60));  // leaves nothing of a 96-wide picture
  AddTag(b, 'TrAc', BE32(0));          // accuracy 1 to 3
  AddTag(b, 'DrOp', BE32(0x80000000)); // unknown bits
  AddTag(b, 'IntM', BE32(5));
  AddTag(b, 'IntD', BE32(3));          // delay 0 to 2
  AddTag(b, 'RoiR', BERect(30, 30, 10, 10));  // not ordered
  AddTag(b, 'DoVt', {0});              // a good value among bad ones is taken
  // A record claiming far more than the item holds ends the reading.
  std::vector<UInt8> head = BE32('DoRt'), len = BE32(0x7FFFFFF0);
  b.insert(b.end(), head.begin(), head.end());
  b.insert(b.end(), len.begin(), len.end());
  b.push_back(1);
  WriteQuickTimeMovie(Path("bad.mov"), 96, 64, 4, b);
  CMovieDocument* doc = Open("bad.mov");
  const MotionSettings& m = doc->GetMotionSettings();
  EXPECT_FLOAT_EQ(m.lowpassTime, 1.0f);
  EXPECT_FLOAT_EQ(m.fadeInDuration, 0.0f);
  EXPECT_FLOAT_EQ(m.fadeOutDuration, 0.0f);
  EXPECT_FLOAT_EQ(m.tolerance, 0.0f);
  EXPECT_EQ(m.doHorizontal, 1);
  EXPECT_EQ(m.doVertical, 0);
  EXPECT_EQ(m.doRotation, 0);
  EXPECT_EQ(m.zoomMode, 1);
  EXPECT_EQ(doc->GetRenderParams().borderMode, 1);
  EXPECT_EQ(doc->GetRenderParams().margins.left, 0);
  EXPECT_EQ(doc->GetTrackingAccuracy(), 2);
  EXPECT_EQ(doc->GetDrawingOptions(), kDrawSafeBounds);
  EXPECT_GE(doc->GetInterlaceMode(), 1);
  EXPECT_LE(doc->GetInterlaceMode(), 4);
  EXPECT_LE(doc->GetInterlaceDelay(), 2);
  EXPECT_EQ(doc->GetRegionOfInterest().right, 96);  // the display bounds
  // Each value checked on its own.
  Rect inside = {0, 0, 64, 96};
  std::vector<UInt8> roi = BERect(0, 0, 64, 96), out = BERect(0, 0, 65, 96);
  EXPECT_TRUE(CMovieDocument::CheckedSettingsValue('RoiR', roi.data(), 8, inside));
  EXPECT_FALSE(CMovieDocument::CheckedSettingsValue('RoiR', out.data(), 8, inside));
  EXPECT_FALSE(CMovieDocument::CheckedSettingsValue('RoiR', roi.data(), 7, inside));
  std::vector<UInt8> zero = BERect(0, 0, 0, 0);
  EXPECT_FALSE(CMovieDocument::CheckedSettingsValue('RoiR', zero.data(), 8, inside));
  EXPECT_TRUE(CMovieDocument::CheckedSettingsValue('CtMB', zero.data(), 8, inside));
  for (UInt32 v : {1u, 4u}) EXPECT_TRUE(CMovieDocument::CheckedSettingsValue('IntM', BE32(v).data(), 4, inside));
  for (UInt32 v : {1u, 3u}) EXPECT_TRUE(CMovieDocument::CheckedSettingsValue('TrAc', BE32(v).data(), 4, inside));
  EXPECT_TRUE(CMovieDocument::CheckedSettingsValue('IntD', BE32(2).data(), 4, inside));
  doc->Close();
}

TEST_F(MovieDocumentTest, SaveAsWritesSelfContainedAndReferenceMoviesThatReopen) {
  WriteMp4(Path("source.mp4"), 128, 96, 10);
  CMovieDocument* doc = Open("source.mp4");
  const SInt32 duration = doc->GetMovie()->GetDuration();
  doc->GetMotionSettings().lowpassTime = 4.0f;
  doc->SetModified(true);
  // Self-contained: the new file holds its own pictures.
  ScriptSave(Path("whole.mov"), kSaveChoiceSelfContained);
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc) && fs::exists(Path("whole.mov")); }));
  EXPECT_EQ(doc->GetWindow()->GetTitle(), "whole.mov");
  EXPECT_EQ(FSSpecPath(doc->GetFileSpec()), Path("whole.mov"));
  EXPECT_FALSE(doc->IsModified());
  EXPECT_TRUE(DataFilesOfMovieFile(Path("whole.mov")).empty());
  EXPECT_FALSE(SettingsItemOfFile(Path("whole.mov")).empty());
  // Reference: it reads its pictures from the source.
  ScriptSave(Path("ref.mov"), kSaveChoiceReference);
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc) && fs::exists(Path("ref.mov")); }));
  std::vector<std::string> sources = DataFilesOfMovieFile(Path("ref.mov"));
  ASSERT_FALSE(sources.empty());
  EXPECT_NE(sources.front().find("whole.mov"), std::string::npos);
  doc->Close();
  EXPECT_LT(fs::file_size(Path("ref.mov")), fs::file_size(Path("whole.mov")));
  // Both reopen with their tracks, frames and settings.
  for (const char* name : {"whole.mov", "ref.mov"}) {
    SCOPED_TRACE(name);
    doc = Open(name);
    EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 4.0f);
    EXPECT_EQ(GetMovieTrackCount(doc->GetMovie()->GetMovie()), 1);
    EXPECT_EQ(doc->GetMovie()->GetDuration(), duration);
    UInt8 r, g, b, er, eg, eb;
    MoviePixel(doc->GetMovie()->GetMovie(), duration / 2 + 1, 30, 20, r, g, b);
    FramePixel(5, 30, 20, er, eg, eb);
    EXPECT_NEAR(r, er, 16);
    EXPECT_NEAR(g, eg, 16);
    doc->Close();
  }
  // The self-contained one stands alone.
  fs::remove(Path("source.mp4"));
  doc = Open("whole.mov");
  EXPECT_EQ(doc->GetMovie()->GetDuration(), duration);
  doc->Close();
}

TEST_F(MovieDocumentTest, SaveAsAndExportOfAnImportedMovieStartBesideIt) {
  // An AVI is read through the importer and cannot be saved in place, yet its
  // dialogs start in its folder, not the program's working folder.
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=160x96:rate=25 -frames:v 5 -c:v mjpeg '" +
      Path("imported.avi") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  CMovieDocument* doc = Open("imported.avi");
  ASSERT_FALSE(doc->IsSpecified());
  const std::string folder = fs::path(Path("imported.avi")).parent_path().string();
  ASSERT_NE(fs::current_path().string(), folder);
  auto lastSaveFolder = [] {
    std::string seen = "(none asked)";
    for (const SQuestion& q : UResponder::GetLog())
      if (q.kind == question_SaveFile) seen = q.folder;
    return seen;
  };
  for (CommandT command : {cmd_SaveAs, cmd_ExportMovie}) {
    SCOPED_TRACE(command);
    UResponder::Script(question_SaveFile, SAnswer::Cancel());
    doc->ProcessCommand(command);
    ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
    EXPECT_EQ(lastSaveFolder(), folder);
    UResponder::Reset();
  }
  doc->Close();
}

TEST_F(MovieDocumentTest, AFailedSaveAsLeavesTheFileItWouldHaveReplaced) {
  WriteMp4(Path("source.mp4"), 128, 96, 10);
  WriteText(Path("keep.mov"), "the old movie");
  CMovieDocument* doc = Open("source.mp4");
  // The pictures can no longer be read: the save cannot complete.
  fs::resize_file(Path("source.mp4"), 0);
  ScriptSave(Path("keep.mov"), kSaveChoiceSelfContained);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  Pump(50);
  EXPECT_EQ(ReadText(Path("keep.mov")), "the old movie");
  EXPECT_EQ(FSSpecPath(doc->GetFileSpec()), Path("source.mp4"));
  // The alert speaks of saving.
  std::string said;
  for (const SQuestion& q : UResponder::GetLog())
    if (q.kind == question_Alert) said = q.message;
  EXPECT_NE(said.find("could not be saved"), std::string::npos) << said;
  EXPECT_EQ(said.find("export"), std::string::npos) << said;
  // No file of the failed save is left in the folder.
  int files = 0;
  for (const auto& e : fs::directory_iterator(mTmp.Path()))
    if (e.is_regular_file()) ++files;
  EXPECT_EQ(files, 2);
  // A new target that fails is removed again.
  ScriptSave(Path("new.mov"), kSaveChoiceSelfContained);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  EXPECT_FALSE(fs::exists(Path("new.mov")));
  doc->Close();
}

TEST_F(MovieDocumentTest, AReferenceSaveOntoItsOwnSourceIsRefused) {
  WriteMp4(Path("source.mp4"), 128, 96, 10);
  const auto before = fs::file_size(Path("source.mp4"));
  CMovieDocument* doc = Open("source.mp4");
  const SInt32 duration = doc->GetMovie()->GetDuration();
  ScriptSave(Path("source.mp4"), kSaveChoiceReference);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  EXPECT_EQ(fs::file_size(Path("source.mp4")), before);
  bool refused = false;
  for (const SQuestion& q : UResponder::GetLog())
    if (q.kind == question_Alert && q.message.find("reference movie cannot replace") != std::string::npos) refused = true;
  EXPECT_TRUE(refused);
  // The same target as a self-contained movie is fine: it is read whole first.
  ScriptSave(Path("source.mp4"), kSaveChoiceSelfContained);
  doc->ProcessCommand(cmd_SaveAs);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  doc->Close();
  doc = Open("source.mp4");
  EXPECT_EQ(doc->GetMovie()->GetDuration(), duration);
  EXPECT_TRUE(DataFilesOfMovieFile(Path("source.mp4")).empty());
  doc->Close();
}

TEST_F(MovieDocumentTest, RevertGoesBackToTheSavedFile) {
  WriteQuickTimeMovie(Path("set.mov"), 96, 64, 4, GoodSettings());
  CMovieDocument* doc = Open("set.mov");
  doc->GetMotionSettings().lowpassTime = 9.0f;
  doc->SetModified(true);
  UResponder::Script(question_DiscardChanges, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_Revert);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc) && !doc->IsModified(); }));
  ExpectGoodSettings(doc);
  EXPECT_EQ(doc->GetMovieView()->GetMovie(), doc->GetMovie());
  // Cancelled, nothing changes.
  doc->GetMotionSettings().lowpassTime = 9.0f;
  doc->SetModified(true);
  UResponder::Script(question_DiscardChanges, SAnswer::Choice(2));
  doc->ProcessCommand(cmd_Revert);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 9.0f);
  EXPECT_TRUE(doc->IsModified());
  doc->SetModified(false);
  doc->Close();
}

TEST_F(MovieDocumentTest, ClosingWithChangesAsksEvenWhenTheWindowIsHidden) {
  WriteQuickTimeMovie(Path("a.mov"), 96, 64, 4);
  auto docs = [] { return CSingleDocument::GetDocTester().CountDocuments(); };
  const SInt32 start = docs();
  // Cancel: stays open and modified.
  CMovieDocument* doc = Open("a.mov");
  doc->GetMotionSettings().lowpassTime = 3.0f;
  doc->SetModified(true);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  doc->ProcessCommand(cmd_Close);
  ASSERT_TRUE(PumpUntil([&] { return NoQueuedWork(doc); }));
  EXPECT_EQ(docs(), start + 1);
  EXPECT_TRUE(doc->IsModified());
  // Don't save: closes, the file keeps no settings.
  UResponder::Script(question_SaveChanges, SAnswer::Choice(2));
  doc->GetWindow()->AttemptClose();  // the close box
  bool closed = PumpUntil([&] { return docs() == start; });
  ASSERT_TRUE(closed);
  EXPECT_TRUE(SettingsItemOfFile(Path("a.mov")).empty());
  // Save, with the window hidden: still asked, saved, then closed.
  doc = Open("a.mov");
  doc->GetMotionSettings().lowpassTime = 3.0f;
  doc->SetModified(true);
  doc->GetWindow()->Hide();
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_Close);
  ASSERT_TRUE(PumpUntil([&] { return docs() == start; }));
  bool asked = false;
  for (const SQuestion& q : UResponder::GetLog())
    if (q.kind == question_SaveChanges) asked = true;
  EXPECT_TRUE(asked);
  doc = Open("a.mov");
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 3.0f);
  doc->Close();
}

TEST_F(MovieDocumentTest, AFailedSaveBeforeClosingKeepsTheDocumentOpen) {
  WriteMp4(Path("source.mp4"), 128, 96, 10);
  CMovieDocument* doc = Open("source.mp4");
  doc->SetModified(true);
  fs::resize_file(Path("source.mp4"), 0);
  // Save changes of a movie that must be saved as; the save as fails.
  SInt32 start = CSingleDocument::GetDocTester().CountDocuments();
  // Save changes; saving in place fails.
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_Close);
  bool done = PumpUntil([&] { return NoQueuedWork(doc); });
  ASSERT_TRUE(done);
  Pump(50);
  EXPECT_EQ(CSingleDocument::GetDocTester().CountDocuments(), start);
  EXPECT_TRUE(doc->IsModified());
  doc->SetModified(false);
  doc->Close();
}

}  // namespace
