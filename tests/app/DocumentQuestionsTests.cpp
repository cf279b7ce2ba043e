// The questions a document asks, as the user sees them: the save-changes,
// quit and revert questions read from the real sheets on the document
// window (and answered with their buttons), the icon of each kind of alert
// sheet, the Edit menu's undo texts after an analysis, a cut and an undo,
// and a synchronous progress sheet that takes its Cancel while it runs.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

#include "MovieDocumentTestSupport.h"
#include "SessionTestMovies.h"
#include "app/CPreferences.h"
#include "app/CSingleDocument.h"
#include "app/TremblorixApp.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/Clock.h"
#include "platform/framework/LPeriodical.h"
#include "platform/framework/LThread.h"
#include "platform/framework/LUndoer.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/USheetWindows.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LDocumentAlertSheet.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/UProgress.h"

using namespace movie_document_testing;

namespace {

// A document of the base class on a shown window named like a movie file.
class CAskingDocument : public CSingleDocument {
 public:
  CAskingDocument(std::vector<CAskingDocument*>* ioLive, const std::string& inTitle) : mLive(ioLive) {
    SWindowInfo info;
    info.width = 480;
    info.height = 300;
    mWindow = new CRegularWindow(info, this);
    mWindow->Show();
    SetDescriptor(LStr255(inTitle.c_str()));
    mLive->push_back(this);
  }
  ~CAskingDocument() override { std::erase(*mLive, this); }
  void Save() override {
    ++mSaves;
    SetModified(false);
  }
  void DoRevert() override {
    ++mReverts;
    SetModified(false);
  }
  int mSaves = 0;
  int mReverts = 0;

 private:
  std::vector<CAskingDocument*>* mLive;
};

// The message box the window's current sheet shows (nil when none).
QMessageBox* SheetBox(CRegularWindow* inWindow) {
  auto* sheet = inWindow ? dynamic_cast<LDocumentAlertSheet*>(inWindow->GetCurrentSheet()) : nullptr;
  return sheet ? qobject_cast<QMessageBox*>(USheetWindows::GetAlertWidget(sheet->GetAlertID())) : nullptr;
}

QAbstractButton* Button(QMessageBox* inBox, const std::string& inText) {
  for (QAbstractButton* b : inBox->buttons())
    if (b->text().toStdString() == inText) return b;
  return nullptr;
}

std::vector<std::string> ButtonTexts(QMessageBox* inBox) {
  std::vector<std::string> texts;
  for (QAbstractButton* b : inBox->buttons()) texts.push_back(b->text().toStdString());
  std::sort(texts.begin(), texts.end());
  return texts;
}

class DocumentQuestionsTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    // The real questions, as the program asks them.
    UResponder::SetInteractive(true);
    LAlertSheet::InstallPresenters();
  }
  void TearDown() override {
    while (!mLive.empty()) delete mLive.back();
    DocumentFixture::TearDown();
  }
  bool Gone(CSingleDocument* inDoc) const { return !CSingleDocument::GetDocTester().FindDocument(inDoc); }
  // Waits for the sheet's message box to be up, and photographs it.
  QMessageBox* WaitForSheetBox(CRegularWindow* inWindow, const std::string& inShot) {
    QMessageBox* box = nullptr;
    PumpUntil([&] { return (box = SheetBox(inWindow)) != nullptr && box->isVisible(); }, 10000);
    if (box) UiTest::Screenshot(box, inShot);
    return box;
  }
  std::vector<CAskingDocument*> mLive;
};

}  // namespace

TEST_F(DocumentQuestionsTest, TheSaveChangesSheetAsksAboutTheDocumentByName) {
  auto* doc = new CAskingDocument(&mLive, "Holiday.mov");
  doc->SetModified(true);
  doc->AttemptClose(false);
  EXPECT_TRUE(doc->IsAsking());
  QMessageBox* box = WaitForSheetBox(doc->GetWindow(), "question-save-changes");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(), "Do you want to save the changes you made in the document “Holiday.mov”?");
  EXPECT_EQ(box->informativeText().toStdString(), "Your changes will be lost if you don't save them.");
  EXPECT_EQ(ButtonTexts(box), (std::vector<std::string>{"Cancel", "Don't Save", "Save"}));
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  // A second close while it asks changes nothing.
  doc->AttemptClose(false);
  EXPECT_FALSE(Gone(doc));

  // Cancel keeps the document; Save saves it and closes it.
  Button(box, "Cancel")->click();
  ASSERT_TRUE(PumpUntil([&] { return !doc->IsAsking(); }, 10000));
  EXPECT_FALSE(Gone(doc));
  EXPECT_EQ(doc->GetWindow()->CountSheets(), 0);
  doc->SetSpecified(true);
  doc->AttemptClose(false);
  box = WaitForSheetBox(doc->GetWindow(), "question-save-changes-again");
  ASSERT_NE(box, nullptr);
  Button(box, "Save")->click();
  ASSERT_TRUE(PumpUntil([&] { return Gone(doc); }, 10000));
}

TEST_F(DocumentQuestionsTest, TheRevertSheetAsksWhetherToDiscardTheChanges) {
  auto* doc = new CAskingDocument(&mLive, "Holiday.mov");
  doc->SetModified(true);
  doc->ProcessCommand(cmd_Revert);
  QMessageBox* box = WaitForSheetBox(doc->GetWindow(), "question-revert");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(), "Do you want to discard the changes you made to the document “Holiday.mov”?");
  EXPECT_EQ(box->informativeText().toStdString(), "Your changes since the last save will be lost.");
  EXPECT_EQ(ButtonTexts(box), (std::vector<std::string>{"Cancel", "Discard"}));
  Button(box, "Cancel")->click();
  ASSERT_TRUE(PumpUntil([&] { return !doc->IsAsking(); }, 10000));
  EXPECT_EQ(doc->mReverts, 0);

  doc->ProcessCommand(cmd_Revert);
  box = WaitForSheetBox(doc->GetWindow(), "question-revert-again");
  ASSERT_NE(box, nullptr);
  Button(box, "Discard")->click();
  ASSERT_TRUE(PumpUntil([&] { return !doc->IsAsking(); }, 10000));
  EXPECT_EQ(doc->mReverts, 1);
  EXPECT_FALSE(doc->IsModified());
  EXPECT_FALSE(Gone(doc));
  EXPECT_EQ(doc->GetWindow()->CountSheets(), 0);
}

TEST_F(DocumentQuestionsTest, QuittingAsksEachModifiedDocumentBeforeQuitting) {
  auto* first = new CAskingDocument(&mLive, "First.mov");
  first->SetModified(true);
  CSingleDocument::sQuitting = true;
  first->AttemptClose(false);
  QMessageBox* box = WaitForSheetBox(first->GetWindow(), "question-save-changes-quitting");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(),
            "Do you want to save the changes you made in the document “First.mov” before quitting?");
  // Cancel ends the quit.
  Button(box, "Cancel")->click();
  ASSERT_TRUE(PumpUntil([&] { return !first->IsAsking(); }, 10000));
  EXPECT_FALSE(CSingleDocument::sQuitting);
  EXPECT_FALSE(Gone(first));
}

TEST_F(DocumentQuestionsTest, QuittingWithTwoModifiedMoviesReviewsThenAsksEachBeforeQuitting) {
  WriteQuickTimeMovie(Path("One.mov"), 64, 48, 4);
  WriteQuickTimeMovie(Path("Two.mov"), 64, 48, 4);
  TremblorixApp app;
  CMovieDocument* one = Open("One.mov");
  CMovieDocument* two = Open("Two.mov");
  ASSERT_TRUE(one && two);
  one->SetModified(true);
  two->SetModified(true);
  // The review question is application-modal: it is answered from the loop it runs.
  struct Reviewer : LPeriodical {
    std::string text;
    void SpendTime(const EventRecord&) override {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (!box || !box->isVisible() || !text.empty()) continue;
        text = box->text().toStdString();
        UiTest::Screenshot(box, "question-review-documents");
        if (QAbstractButton* review = Button(box, "Review Changes…")) review->click();
      }
    }
  } reviewer;
  reviewer.StartRepeating();
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  reviewer.StopRepeating();
  EXPECT_EQ(reviewer.text,
            "You have 2 Tremblorix documents with unsaved changes. Do you want to review these changes before quitting?");
  EXPECT_TRUE(CSingleDocument::sQuitting);
  // Each document asks in turn; Don't Save closes it and the next one asks.
  std::vector<std::string> asked;
  for (int turn = 0; turn < 2; ++turn) {
    CMovieDocument* asking = nullptr;
    QMessageBox* box = nullptr;
    PumpUntil(
        [&] {
          for (CMovieDocument* d : {one, two})
            if (!Gone(d) && (box = SheetBox(d->GetWindow())) != nullptr && box->isVisible()) {
              asking = d;
              return true;
            }
          return false;
        },
        10000);
    ASSERT_NE(box, nullptr) << turn;
    asked.push_back(box->text().toStdString());
    Button(box, "Don't Save")->click();
    ASSERT_TRUE(PumpUntil([&] { return Gone(asking); }, 10000));
  }
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "Do you want to save the changes you made in the document “One.mov” before quitting?",
                       "Do you want to save the changes you made in the document “Two.mov” before quitting?"}));
  EXPECT_TRUE(Gone(one) && Gone(two));
  CSingleDocument::sQuitting = false;
}

TEST_F(DocumentQuestionsTest, EachAlertSheetShowsItsKind) {
  auto* doc = new CAskingDocument(&mLive, "Holiday.mov");
  struct Case {
    void (CSingleDocument::*alert)(ConstStringPtr, SInt16);
    QMessageBox::Icon icon;
    const char* shot;
  } cases[] = {{&CSingleDocument::StopAlert, QMessageBox::Critical, "alert-sheet-stop"},
               {&CSingleDocument::CautionAlert, QMessageBox::Warning, "alert-sheet-caution"},
               {&CSingleDocument::NoteAlert, QMessageBox::Information, "alert-sheet-note"}};
  for (const Case& c : cases) {
    (doc->*c.alert)(LStr255("The movie could not be saved."), -34);
    QMessageBox* box = WaitForSheetBox(doc->GetWindow(), c.shot);
    ASSERT_NE(box, nullptr) << c.shot;
    EXPECT_EQ(box->icon(), c.icon) << c.shot;
    EXPECT_EQ(box->text().toStdString(), "The movie could not be saved.");
    Button(box, "OK")->click();
    ASSERT_TRUE(PumpUntil([&] { return doc->GetWindow()->CountSheets() == 0 && !doc->IsAsking(); }, 10000));
  }
}

namespace {

// The texts the Edit menu shows for undo and redo, read from its widgets
// after the menu opened (which asks the commands for their status).
struct EditMenuTexts {
  std::string undo, redo;
};

EditMenuTexts ReadEditMenu() {
  EditMenuTexts texts;
  LMenu* menu = nullptr;
  SInt16 undoItem = 0, redoItem = 0;
  LMenuBar* bar = LMenuBar::GetCurrentMenuBar();
  if (!bar || !bar->FindItem(cmd_Undo, menu, undoItem) || menu == nullptr) return texts;
  redoItem = menu->IndexFromCommand(cmd_Redo);
  QMenu* qmenu = menu->GetQMenu();
  qmenu->popup(QPoint(40, 40));
  UiTest::Pump(10);
  texts.undo = menu->GetItem(undoItem).action->text().toStdString();
  if (redoItem) texts.redo = menu->GetItem(redoItem).action->text().toStdString();
  qmenu->hide();
  UiTest::Pump(5);
  return texts;
}

}  // namespace

TEST_F(DocumentQuestionsTest, TheEditMenuNamesWhatUndoAndRedoDoOnce) {
  UResponder::SetInteractive(false);
  LMenuBar bar(128);
  sessiontest::RegisterLayoutClasses();
  sessiontest::Shake shake(20, 7, 1.5);
  CMovie* movie = sessiontest::OpenAsFile(sessiontest::MakeShakyMovie(shake), "menu-texts");
  ASSERT_NE(movie, nullptr);
  CMovieDocument* doc = sessiontest::NewWindowedDocument(movie);
  ASSERT_NE(doc, nullptr);
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  doc->GetWindow()->Select();
  UiTest::Pump(10);

  // An analysis: its motion data is one undoable step.
  struct Ends : LListener {
    CMovieDocument* doc = nullptr;
    int ended = 0;
    void ListenToMessage(MessageT inMessage, void* ioParam) override {
      if (inMessage != msg_MotionAnalysisEnded) return;
      ++ended;
      doc->MotionAnalysisEnded(static_cast<CMovieTask*>(ioParam));
    }
  } ends;
  ends.doc = doc;
  ASSERT_EQ(doc->TrackMotion(), noErr);
  ASSERT_NE(doc->GetRunningTask(), nullptr);
  doc->GetRunningTask()->AddListener(&ends);
  for (int turn = 0; turn < 2000000 && ends.ended == 0; ++turn) {
    LThread::Yield();
    LThread::DeleteEndedThreads();
  }
  ASSERT_EQ(ends.ended, 1);
  UiTest::Pump(20);
  doc->GetWindow()->Select();
  EditMenuTexts texts = ReadEditMenu();
  EXPECT_EQ(texts.undo, "Undo Motion Analysis");
  EXPECT_EQ(texts.redo, "Can't Redo");
  doc->ProcessCommand(cmd_Undo);
  texts = ReadEditMenu();
  EXPECT_EQ(texts.undo, "Can't Undo");
  EXPECT_EQ(texts.redo, "Redo Motion Analysis");

  // A cut, then its undo.
  doc->GetMovie()->SetSelectionStart(0);
  doc->GetMovie()->SetSelectionStop(100);
  doc->ProcessCommand(cmd_Cut);
  texts = ReadEditMenu();
  EXPECT_EQ(texts.undo, "Undo Cut");
  doc->ProcessCommand(cmd_Undo);
  texts = ReadEditMenu();
  EXPECT_EQ(texts.undo, "Can't Undo");
  EXPECT_EQ(texts.redo, "Redo Cut");
  doc->SetModified(false);
  doc->Close();
}

TEST_F(DocumentQuestionsTest, AProgressSheetRunFromTheMainThreadTakesItsCancelMeanwhile) {
  StManualClock clock;
  TremblorixApp app;
  auto* doc = new CAskingDocument(&mLive, "Holiday.mov");
  const SInt32 context = LProgressSheet::NewProgressContext(doc->GetWindow(), nullptr);
  bool cancelled = false;
  {
    UProgress progress(LStr255("Scanning the movie"), LProgressSheet::UniversalProgressProcedure, context);
    UClock::AdvanceTicks(7);
    ASSERT_TRUE(progress.Progress(32));
    LProgressSheet* sheet = LProgressSheet::GetContextSheet(context);
    ASSERT_NE(sheet, nullptr);
    UiTest::Pump(10);
    UiTest::Screenshot(sheet->GetSheetWindow()->GetFrameWidget(), "progress-sheet-synchronous");
    // The user presses Cancel while the operation goes on: the press waits
    // among the pending events until the operation lets them through.
    QWidget* cancel = nullptr;
    if (LPane* button = sheet->FindPaneByID(3)) cancel = button->GetWidget();
    ASSERT_NE(cancel, nullptr);
    const QPointF at(cancel->width() / 2.0, cancel->height() / 2.0);
    const QPointF global = cancel->mapToGlobal(at);
    QCoreApplication::postEvent(
        cancel, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        cancel, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    for (int step = 1; step <= 8 && !cancelled; ++step) {
      UClock::AdvanceTicks(7);
      cancelled = !progress.Progress(32 + step * 16);
    }
  }
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(doc->GetWindow()->CountSheets(), 0);
  LProgressSheet::DisposeProgressContext(context);
}
