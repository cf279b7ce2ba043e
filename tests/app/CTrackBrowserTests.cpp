// The tracks sheet's logic over a real movie and a real undoer: ticks and
// deletions applied as one undoable edit, reload, no change leaving no undo
// step, the edit session's track kept, kind texts, 32-bit row ids through
// the drag flavour; and the colour swatch's confirm versus cancel.
#include <QAbstractItemModel>
#include <QMimeData>
#include <QTreeView>
#include <QWidget>

#include "app/CBrowserPane.h"
#include "app/CColorPickerPane.h"
#include "app/CMovieView.h"
#include "app/CTrackBrowser.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LSheetLayout.h"
#include "motion/CMotionData.h"
#include "platform/files/Bundle.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/URegistrar.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CReUndoer.h"
#include "app/CMovieViewTestSupport.h"

using namespace PaneTest;

namespace {

// What the sheet needs from its document, with a real undoer.
struct Document : CTrackBrowserClient, LCommander {
  CMovie* movie = nullptr;
  Track session = nullptr;
  Document() { AddAttachment(new CReUndoer); }
  CMovie* GetBrowserMovie() override { return movie; }
  LCommander* GetBrowserUndoTarget() override { return this; }
  Track GetBrowserSessionTrack() override { return session; }
  bool CanUndo() {
    Boolean enabled = false, usesMark = false;
    UInt16 mark = 0;
    Str255 name;
    ProcessCommandStatus(cmd_Undo, enabled, usesMark, mark, name);
    return enabled;
  }
};

class TrackBrowserTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    Movie m = SolidMovie(20, 16, 12);
    const Rect bounds = {0, 0, 12, 16};
    mMotion = AddCorrectionTrack(m, bounds, 0, 1200, 60, kMotionTrackLayer, kMotionOptionFieldPair);
    mControl = AddCorrectionTrack(m, bounds, 0, 1200, 60);
    mMovie = new CMovie(m, true);
    mMovie->ClearDirty();
    mDoc.movie = mMovie;
    mWindow = new LWindow(WindowInfo("Tracks", 540, 320));
    mPane = new CBrowserPane(PaneInfo(kTrackBrowserPaneID, 16, 16, 508, 240, mWindow));
    mPane->FinishCreate();
    mWindow->Show();
    ASSERT_EQ(Proc(msg_SheetBuilt), 0);
  }
  void TearDown() override {
    UiFixture::TearDown();
    mDoc.ProcessCommand(cmd_Nothing);
    delete mMovie;
    UBundle::SetMainBundlePath("");
  }
  SInt32 Proc(SInt32 inMessage, void* inParam = nullptr) {
    return CTrackBrowser::HandleSheetMessage(mWindow, inMessage, inParam, &mDoc);
  }
  ListItemID RowOf(Track inTrack) {
    for (auto& [id, item] : *mPane->GetItemTable())
      if (item.track == inTrack) return id;
    return 0;
  }
  Track VideoTrack() { return GetMovieIndTrack(mMovie->GetMovie(), 1); }
  SInt32 TrackCount() { return GetMovieTrackCount(mMovie->GetMovie()); }

  Document mDoc;
  CMovie* mMovie = nullptr;
  Track mMotion = nullptr;
  Track mControl = nullptr;
  LWindow* mWindow = nullptr;
  CBrowserPane* mPane = nullptr;
};

TEST_F(TrackBrowserTest, ListsEveryTrackWithItsKindAndTimes) {
  ASSERT_EQ(mPane->GetItems().size(), 3u);
  SListItemData cell;
  ASSERT_EQ(mPane->GetCell(RowOf(VideoTrack()), 'titl', cell), noErr);
  EXPECT_EQ(cell.text, "Video, None");
  ASSERT_EQ(mPane->GetCell(RowOf(mMotion), 'titl', cell), noErr);
  EXPECT_EQ(cell.text, "Motion Data (field pairs)");
  ASSERT_EQ(mPane->GetCell(RowOf(mControl), 'titl', cell), noErr);
  EXPECT_EQ(cell.text, "Stabilisation Control");
  ASSERT_EQ(mPane->GetCell(RowOf(VideoTrack()), 'cbox', cell), noErr);
  EXPECT_EQ(cell.checkValue, 1);
  ASSERT_EQ(mPane->GetCell(RowOf(VideoTrack()), 'stop', cell), noErr);
  EXPECT_FALSE(cell.text.empty());
  EXPECT_EQ(mPane->GetCell(RowOf(VideoTrack()), 'xxxx', cell), errListPropertyNotSupported);
  // Row ids are small numbers from the table, not addresses.
  for (ListItemID id : mPane->GetItems()) EXPECT_LT(id, 1000u);
  UiTest::Pump(50);
  UiTest::Screenshot(mWindow->GetFrameWidget(), "tracks_sheet_list");
}

TEST_F(TrackBrowserTest, UntickAndOKIsOneUndoableEditCancelChangesNothing) {
  // Cancel first: nothing changes.
  mPane->SetCheck(RowOf(VideoTrack()), 'cbox', 0);
  EXPECT_EQ(Proc(msg_SheetEscapeKey), kSheetClose);
  EXPECT_TRUE(GetTrackEnabled(VideoTrack()));
  EXPECT_FALSE(mDoc.CanUndo());
  EXPECT_EQ(mPane->GetItemTable(), nullptr);
  // Untick and OK.
  Proc(msg_SheetBuilt);
  mPane->SetCheck(RowOf(VideoTrack()), 'cbox', 0);
  EXPECT_EQ(Proc(msg_SheetReturnKey), kSheetClose);
  EXPECT_FALSE(GetTrackEnabled(VideoTrack()));
  EXPECT_TRUE(mMovie->IsDirty());
  ASSERT_TRUE(mDoc.CanUndo());
  mDoc.ProcessCommand(cmd_Undo);
  EXPECT_TRUE(GetTrackEnabled(VideoTrack()));
  mDoc.ProcessCommand(cmd_Redo);
  EXPECT_FALSE(GetTrackEnabled(VideoTrack()));
}

TEST_F(TrackBrowserTest, DeleteAndOKDisposesUndoRestoresReloadBringsRowsBack) {
  mPane->SetSelectedItems({RowOf(mControl)});
  EXPECT_EQ(Proc(msg_TracksDelete), 0);
  EXPECT_EQ(mPane->GetItems().size(), 2u);
  EXPECT_EQ(TrackCount(), 3);  // nothing happens to the movie before OK
  // Reload drops the change.
  Proc(msg_TracksReload);
  EXPECT_EQ(mPane->GetItems().size(), 3u);
  // The delete key does the same as the button.
  mPane->SetSelectedItems({RowOf(mControl)});
  EventRecord key;
  key.what = keyDown;
  key.message = 8;
  EXPECT_EQ(Proc(msg_SheetOtherKey, &key), 0);
  EXPECT_EQ(mPane->GetItems().size(), 2u);
  Proc(msg_SheetReturnKey);
  EXPECT_EQ(TrackCount(), 2);
  ASSERT_TRUE(mDoc.CanUndo());
  mDoc.ProcessCommand(cmd_Undo);
  EXPECT_EQ(TrackCount(), 3);
}

TEST_F(TrackBrowserTest, OKWithoutChangeLeavesNoUndoStepAndTheDirtyStateAsItWas) {
  EXPECT_EQ(Proc(msg_SheetReturnKey), kSheetClose);
  EXPECT_FALSE(mDoc.CanUndo());
  EXPECT_FALSE(mMovie->IsDirty());
  // A dirty movie stays dirty.
  mMovie->HasChanged();
  EXPECT_TRUE(mMovie->IsDirty());
  Proc(msg_SheetBuilt);
  Proc(msg_SheetReturnKey);
  EXPECT_FALSE(mDoc.CanUndo());
  EXPECT_TRUE(mMovie->IsDirty());
}

TEST_F(TrackBrowserTest, TheEditSessionsTrackCannotBeDeleted) {
  mDoc.session = mControl;
  mPane->SetSelectedItems({RowOf(mControl), RowOf(mMotion)});
  Proc(msg_TracksDelete);
  ASSERT_EQ(mPane->GetItems().size(), 2u);
  EXPECT_NE(RowOf(mControl), 0u);
  EXPECT_NE(std::find(mPane->GetItems().begin(), mPane->GetItems().end(), RowOf(mControl)), mPane->GetItems().end());
  Proc(msg_SheetReturnKey);
  EXPECT_EQ(TrackCount(), 2);
  EXPECT_EQ(GetTrackLayer(GetMovieIndTrack(mMovie->GetMovie(), 2)), kControlTrackLayer);
}

TEST_F(TrackBrowserTest, DraggedRowsCarryTheirIdsAndMoveToTheEnd) {
  const std::vector<ListItemID> before = mPane->GetItems();
  const std::vector<UInt8> bytes = mPane->FlavorDataFor({before[0]});
  ASSERT_EQ(bytes.size(), 4u);
  EXPECT_EQ((ListItemID(bytes[0]) << 24 | ListItemID(bytes[1]) << 16 | ListItemID(bytes[2]) << 8 | bytes[3]), before[0]);
  // Through the list widget's own model, as a drop would go.
  auto* tree = dynamic_cast<QTreeView*>(mPane->GetWidget());
  ASSERT_NE(tree, nullptr);
  QAbstractItemModel* model = tree->model();
  QModelIndexList indexes;
  for (int c = 0; c < model->columnCount(); ++c) indexes << model->index(0, c);
  QMimeData* mime = model->mimeData(indexes);
  ASSERT_NE(mime, nullptr);
  EXPECT_EQ(mime->formats().size(), 1);
  EXPECT_TRUE(mime->formats().first().endsWith("Trck"));
  model->dropMimeData(mime, Qt::MoveAction, model->rowCount(), 0, QModelIndex());
  delete mime;
  const std::vector<ListItemID> after = mPane->GetItems();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[2], before[0]);
  EXPECT_EQ(after[0], before[1]);
  // Bytes that name no row of this list are refused.
  EXPECT_FALSE(mPane->ReceiveFlavorData({0, 0, 0x30, 0x39}));
  EXPECT_FALSE(mPane->ReceiveFlavorData({1, 2, 3}));
  // Ticking in the widget reaches the item.
  const QModelIndex box = model->index(0, 0);
  EXPECT_TRUE(model->setData(box, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ((*mPane->GetItemTable())[after[0]].enabled, 0);
}

TEST_F(TrackBrowserTest, TheTracksSheetOnADocumentWindowAppliesOnOK) {
  LSheetLayout::RegisterClasses();
  RegisterMoviePaneClasses();
  mWindow->Hide();
  SWindowInfo info = WindowInfo("Document", 640, 420);
  auto* document = new CRegularWindow(info, nullptr);
  document->Show();
  document->Select();
  auto* sheet = new LCustomDialogSheet(nullptr, PPob_TracksSheet, CTrackBrowser::TrackBrowserProc, &mDoc);
  auto* list = dynamic_cast<CBrowserPane*>(sheet->FindPaneByID(kTrackBrowserPaneID));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetItems().size(), 3u);
  document->AddSheet(sheet, true);
  UiTest::Pump(30);
  EXPECT_EQ(list->GetSuperCommander(), sheet);
  // The delete key in the list reaches the sheet's procedure.
  list->SetSelectedItems({list->GetItems()[2]});
  LCommander::SwitchTarget(list);
  EventRecord del;
  del.what = keyDown;
  del.message = 8;
  list->ProcessKeyPress(del);
  EXPECT_EQ(list->GetItems().size(), 2u);
  CTrackBrowser::TrackBrowserProc(sheet, msg_TracksReload, nullptr, &mDoc);
  EXPECT_EQ(list->GetItems().size(), 3u);
  list->SetSelectedItems({list->GetItems()[1]});
  list->SetCheck(list->GetItems()[0], 'cbox', 0);
  UiTest::Pump(30);
  UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), "tracks_sheet");
  UiTest::Screenshot(document->GetFrameWidget(), "tracks_sheet_on_document");
  auto* ok = dynamic_cast<LControl*>(sheet->FindPaneByID(msg_SheetReturnKey));
  ASSERT_NE(ok, nullptr);
  ok->SimulateHotSpotClick(1);
  EXPECT_EQ(document->CountSheets(), 0);
  EXPECT_FALSE(GetTrackEnabled(VideoTrack()));
  EXPECT_TRUE(mDoc.CanUndo());
  UiTest::Pump(30);
  // A sheet without the list is refused.
  auto* empty = new LWindow(WindowInfo("Empty", 100, 100));
  EXPECT_THROW(CTrackBrowser::HandleSheetMessage(empty, msg_SheetBuilt, nullptr, &mDoc), LException);
}

// ---------------------------------------------------------------------------

class ColorPickerPaneTest : public UiFixture {};

TEST_F(ColorPickerPaneTest, OnlyAConfirmedColourChangesTheSwatchAndBroadcasts) {
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  auto* window = new LWindow(WindowInfo("Swatch", 120, 60));
  SControlInfo control;
  control.valueMessage = 4200;
  auto* swatch = new CColorPickerPane(PaneInfo(3, 10, 10, 60, 30, window), control);
  window->Show();
  MessageLog log;
  swatch->AddListener(&log);
  swatch->SetColor(RGBColor{0, 0, 0xFFFF});
  // Cancelled: nothing changes, nothing is sent.
  UResponder::Script(question_Color, SAnswer::Cancel());
  swatch->SimulateHotSpotClick(1);
  UiTest::PumpUntil([&] { return !swatch->IsPicking(); });
  EXPECT_EQ(swatch->GetColor().blue, 0xFFFF);
  EXPECT_TRUE(log.entries.empty());
  // Confirmed: the new colour and one value message.
  SAnswer chosen;
  chosen.color = RGBColor{0xFFFF, 0x8000, 0};
  UResponder::Script(question_Color, chosen);
  swatch->SimulateHotSpotClick(1);
  UiTest::PumpUntil([&] { return !swatch->IsPicking(); });
  EXPECT_EQ(swatch->GetColor().red, 0xFFFF);
  EXPECT_EQ(swatch->GetColor().green, 0x8000);
  ASSERT_EQ(log.Count(4200), 1);
  const auto asked = UResponder::GetLog();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked.back().color.blue, 0xFFFF);  // the picker starts from the current colour
  EXPECT_FALSE(asked.back().message.empty());
  swatch->Draw(nullptr);
  EXPECT_EQ(PortPixel(window, 40, 25), (RGB8{255, 128, 0}));
  // A pane that goes while its picker is open is left alone by the answer.
  UResponder::Script(question_Color, chosen);
  swatch->SimulateHotSpotClick(1);
  delete window;
  UiTest::Pump(50);
  UBundle::SetMainBundlePath("");
}

}  // namespace
