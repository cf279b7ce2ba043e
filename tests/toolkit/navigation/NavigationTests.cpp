#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <string>
#include <vector>

#include "NavTestFixture.h"
#include "platform/files/Resources.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LView.h"
#include "platform/ui/UNavPresenters.h"
#include "toolkit/CNavEventResponder.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/UNavigation.h"

namespace {

// The creator the designated files are asked with: the program's own (its
// constant is media's, out of these tests' reach).
constexpr OSType kTestCreator = 'DEZI';

// A responder that writes down every callback it gets, as a navigation
// sheet would act on them; it may release itself when the dialog ends.
class Recorder : public CNavEventResponder {
 public:
  explicit Recorder(std::vector<std::string>* ioCalls) : mCalls(ioCalls) {}
  ~Recorder() override { mCalls->push_back("deleted"); }

  void InvokeNavStart(NavCBRec* inParams) override {
    mCalls->push_back("start");
    if (mAddArea) {
      ResIDT layout = 9100;
      mAreaErr = NavCustomControl(inParams->context, kNavCtlAddControlList, &layout);
      NavCustomControl(inParams->context, kNavCtlGetFirstControlID, &mFirstItem);
    }
  }
  // The area needs 128 x 64 from its corner; a smaller proposal is raised
  // unless it is the size asked for last.
  void InvokeNavCustomize(NavCBRec* inParams) override {
    Rect& r = inParams->customRect;
    mCustomizeSeen.push_back(r);
    if (!mAddArea) return;
    if (r.right == 0 && r.bottom == 0) {
      r.right = r.left + 128;
      r.bottom = r.top + 64;
    } else {
      if (r.right != mLastRight && r.right < r.left + 128) r.right = r.left + 128;
      if (r.bottom != mLastBottom && r.bottom < r.top + 64) r.bottom = r.top + 64;
    }
    mLastRight = r.right;
    mLastBottom = r.bottom;
  }
  void InvokeNavEvent(NavCBRec* inParams) override {
    mCalls->push_back("event " + std::to_string(inParams->eventData.itemHit));
    if (mReleaseOnEvent) delete this;
  }
  void InvokeNavUserAction(NavCBRec* inParams) override {
    mCalls->push_back("action " + std::to_string(inParams->userAction));
    mAction = inParams->userAction;
    NavDialogGetReply(inParams->context, &mReply);
  }
  void InvokeNavTerminate(NavCBRec*) override {
    mCalls->push_back("terminate");
    if (mReleaseOnTerminate) delete this;
  }

  std::vector<std::string>* mCalls;
  Boolean mAddArea = false;
  Boolean mReleaseOnTerminate = true;
  Boolean mReleaseOnEvent = false;
  OSStatus mAreaErr = 1;
  SInt16 mFirstItem = 0;
  std::vector<Rect> mCustomizeSeen;
  SInt16 mLastRight = 0;
  SInt16 mLastBottom = 0;
  NavUserAction mAction = 0;
  NavReplyRecord mReply;
};

class NavigationTest : public NavTestFixture {
 protected:
  NavDialogCreationOptions SheetOptions(const std::string& inName = "Clip.mov") {
    NavDialogCreationOptions options;
    NavGetDefaultDialogCreationOptions(&options);
    options.modality = kWindowModalityWindowModal;
    options.parentWindow = mWindow;
    options.saveFileName = inName;
    return options;
  }
  bool Ended(const std::vector<std::string>& inCalls) {
    return UiTest::PumpUntil([&] { return !inCalls.empty() && inCalls.back() == "deleted"; });
  }
};

}  // namespace

// Save as with a new name, with the name of a file that exists (replace),
// and cancelled: the responder hears the action, then the end, and the
// reply names the folder and the file.
TEST_F(NavigationTest, PutFileSheetAnswersSaveAsReplaceAndCancel) {
  std::ofstream(mTmp / "Old.mov") << "old";
  struct Case {
    SAnswer answer;
    NavUserAction action;
    Boolean valid;
    Boolean replacing;
    std::string name;
  } cases[] = {
      {SAnswer::Path(mTmp / "New.mov"), kNavUserActionSaveAs, true, false, "New.mov"},
      {SAnswer::Path(mTmp / "Old.mov"), kNavUserActionSaveAs, true, true, "Old.mov"},
      {SAnswer::Cancel(), kNavUserActionCancel, false, false, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> calls;
    auto* responder = new Recorder(&calls);
    NavUserAction action = 0;
    NavReplyRecord reply;
    responder->mReleaseOnTerminate = false;
    UResponder::Script(question_SaveFile, c.answer);
    ASSERT_EQ(UNavigation::AskDesignateFile(*responder, 'MooV', kTestCreator, SheetOptions()), noErr);
    // A sheet: the call returns before the answer.
    EXPECT_EQ(calls, (std::vector<std::string>{"start"}));
    EXPECT_TRUE(NavDialogIsRunning(responder->GetNavDialog()));
    ASSERT_TRUE(UiTest::PumpUntil([&] { return calls.back() == "terminate"; }));
    action = responder->mAction;
    reply = responder->mReply;
    EXPECT_EQ(action, c.action);
    EXPECT_EQ(reply.validRecord, c.valid);
    EXPECT_EQ(reply.replacing, c.replacing) << c.name;
    EXPECT_EQ(reply.saveFileName, c.name);
    if (c.valid) {
      ASSERT_EQ(reply.selection.size(), 1u);
      EXPECT_EQ(FSSpecPath(reply.selection[0]), mTmp.Path());
      EXPECT_EQ(reply.paths[0], mTmp / c.name);
    }
    EXPECT_EQ(calls[1], "action " + std::to_string(c.action));
    delete responder;
    EXPECT_EQ(NavCountDialogs(), 0);
  }
  std::vector<SQuestion> log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].kind, question_SaveFile);
  EXPECT_EQ(log[0].parent, mWindow);
  EXPECT_EQ(log[0].defaultName, "Clip.mov");
}

// Closing and quitting ask differently; Save, Don't Save and Cancel are
// the three actions. The discard question has Discard and Cancel.
TEST_F(NavigationTest, SaveChangesWhenClosingOrQuittingAndDiscardChanges) {
  struct Case {
    int kind;  // 1 closing, 2 quitting, 0 discard
    SAnswer answer;
    NavUserAction action;
  } cases[] = {
      {1, SAnswer::Choice(1), kNavUserActionSaveChanges},
      {2, SAnswer::Choice(2), kNavUserActionDontSaveChanges},
      {1, SAnswer::Cancel(), kNavUserActionCancel},
      {0, SAnswer::Choice(1), kNavUserActionDiscardChanges},
      {0, SAnswer::Cancel(), kNavUserActionCancel},
  };
  for (const Case& c : cases) {
    std::vector<std::string> calls;
    auto* responder = new Recorder(&calls);
    NavDialogCreationOptions options = SheetOptions("");
    if (c.kind) {
      UResponder::Script(question_SaveChanges, c.answer);
      ASSERT_EQ(UNavigation::AskSaveChanges(*responder, static_cast<NavAskSaveChangesAction>(c.kind), options), noErr);
    } else {
      UResponder::Script(question_DiscardChanges, c.answer);
      ASSERT_EQ(UNavigation::AskDiscardChanges(*responder, options), noErr);
    }
    ASSERT_TRUE(Ended(calls));
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "action " + std::to_string(c.action), "terminate", "deleted"}));
    EXPECT_EQ(NavCountDialogs(), 0);
  }
  std::vector<SQuestion> log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_NE(log[0].message.find("“Holiday.mov”"), std::string::npos) << log[0].message;
  EXPECT_EQ(log[0].message.find("quitting"), std::string::npos);
  EXPECT_NE(log[1].message.find("quitting"), std::string::npos) << log[1].message;
  EXPECT_EQ(log[0].choices, (std::vector<std::string>{"Save", "Don't Save", "Cancel"}));
  EXPECT_EQ(log[0].cancelChoice, 3);
  EXPECT_EQ(log[3].kind, question_DiscardChanges);
  EXPECT_EQ(log[3].choices, (std::vector<std::string>{"Discard", "Cancel"}));
  for (const SQuestion& q : log) EXPECT_EQ(q.parent, mWindow);
}

// The review question at quitting waits for its answer, concerns the whole
// program, and its dialog is gone once the answer is read.
TEST_F(NavigationTest, ReviewDocumentsIsModalAndAnswersReviewDiscardOrCancel) {
  const std::pair<SAnswer, NavUserAction> cases[] = {
      {SAnswer::Choice(1), kNavUserActionReviewDocuments},
      {SAnswer::Choice(2), kNavUserActionDiscardDocuments},
      {SAnswer::Cancel(), kNavUserActionCancel},
  };
  for (const auto& [answer, action] : cases) {
    UResponder::Script(question_ReviewChanges, answer);
    NavDialogCreationOptions options;
    NavGetDefaultDialogCreationOptions(&options);
    EXPECT_EQ(UNavigation::AskReviewDocuments(options, 3), action);
    EXPECT_EQ(NavCountDialogs(), 0);
  }
  std::vector<SQuestion> log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].parent, nullptr);
  EXPECT_NE(log[0].message.find("3 Tremblorix documents"), std::string::npos) << log[0].message;
  EXPECT_EQ(log[0].choices.size(), 3u);
}

// A dialog that cannot be made or run: the stop alert with the code, the
// responder left without the dialog (it must not dispose of it again),
// nothing left over.
TEST_F(NavigationTest, AFailedSetUpAlertsAndLeavesTheResponderWithoutADialog) {
  std::vector<std::string> calls;
  auto* responder = new Recorder(&calls);
  NavFailNextCreation(-108);
  EXPECT_EQ(UNavigation::AskDesignateFile(*responder, 'MooV', kTestCreator, SheetOptions()), -108);
  UNavigationFailNextRun(-50);
  EXPECT_EQ(UNavigation::AskSaveChanges(*responder, kNavSaveChangesClosingDocument, SheetOptions()), -50);
  EXPECT_EQ(responder->GetNavDialog(), nullptr);
  EXPECT_EQ(NavCountDialogs(), 0);
  UNavigationFailNextRun(-50);
  NavDialogCreationOptions modal;
  EXPECT_EQ(UNavigation::AskReviewDocuments(modal, 2), 0u);
  EXPECT_EQ(NavCountDialogs(), 0);
  delete responder;
  EXPECT_EQ(calls, (std::vector<std::string>{"deleted"}));
  std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[0].kind, kAlertStopAlert);
  EXPECT_EQ(alerts[0].message, "Navigation dialog failed!");
  EXPECT_EQ(alerts[0].explanation, "There is not enough memory.\rError: -108");
  EXPECT_EQ(alerts[1].explanation, "A value passed to the operation is not valid.\rError: -50");
}

// A responder destroyed while its dialog asks: the dialog goes with it, the
// terminate this causes is not forwarded, the late answer reaches nobody.
TEST_F(NavigationTest, DestroyingTheResponderWhileAskingForwardsNoTerminate) {
  std::vector<std::string> calls;
  auto* responder = new Recorder(&calls);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  ASSERT_EQ(UNavigation::AskSaveChanges(*responder, kNavSaveChangesClosingDocument, SheetOptions()), noErr);
  delete responder;
  UiTest::Pump(30);
  EXPECT_EQ(calls, (std::vector<std::string>{"start", "deleted"}));
  EXPECT_EQ(NavCountDialogs(), 0);
}

// The custom area: its size is negotiated before the start, its items are
// numbered from the first custom item, a click on one reaches the responder,
// and a responder that goes away inside that callback takes the dialog along
// once the click is over.
TEST_F(NavigationTest, CustomAreaNegotiatesItsSizeAndReportsItsItems) {
  std::vector<std::string> calls;
  auto* responder = new Recorder(&calls);
  responder->mAddArea = true;
  responder->mReleaseOnEvent = true;
  UResponder::Script(question_SaveFile, SAnswer::Path(mTmp / "A.mov"));
  ASSERT_EQ(UNavigation::AskDesignateFile(*responder, 'MooV', kTestCreator, SheetOptions()), noErr);
  ASSERT_EQ(responder->mCustomizeSeen.size(), 2u);
  EXPECT_EQ(responder->mCustomizeSeen[0].right, 0);
  EXPECT_EQ(responder->mCustomizeSeen[1].right, 128);
  EXPECT_EQ(responder->mCustomizeSeen[1].bottom, 64);
  EXPECT_EQ(responder->mAreaErr, noErr);
  NavDialogRef dialog = responder->GetNavDialog();
  ASSERT_NE(NavDialogGetCustomArea(dialog), nullptr);
  EXPECT_EQ(UResponder::GetLog().back().customArea, NavDialogGetCustomArea(dialog));
  auto* selfContained = dynamic_cast<LCheckBox*>(NavDialogGetCustomItem(dialog, responder->mFirstItem + 2));
  ASSERT_NE(selfContained, nullptr);
  EXPECT_EQ(selfContained->GetPaneID(), 3);
  EXPECT_EQ(NavDialogGetCustomItem(dialog, responder->mFirstItem + 3), nullptr);
  // A second area is refused.
  ResIDT layout = 9100;
  EXPECT_NE(NavCustomControl(dialog, kNavCtlAddControlList, &layout), noErr);

  selfContained->SimulateHotSpotClick(1);
  EXPECT_EQ(calls, (std::vector<std::string>{"start", "event 3", "deleted"}));
  UiTest::Pump(30);
  EXPECT_EQ(NavCountDialogs(), 0);
  EXPECT_EQ(calls.size(), 3u);  // the scripted answer found no dialog
}

// The document window activates and deactivates with its sheet.
TEST_F(NavigationTest, SheetWindowEventsReachTheParentWindow) {
  struct Heard : LListener {
    std::vector<UInt32> kinds;
    void ListenToMessage(MessageT inMessage, void* ioParam) override {
      if (inMessage == msg_WindowEvent) kinds.push_back(static_cast<SWindowEvent*>(ioParam)->eventKind);
    }
  } heard;
  mWindow->AddListener(&heard);
  std::vector<std::string> calls;
  auto* responder = new Recorder(&calls);
  UResponder::Script(question_DiscardChanges, SAnswer::Cancel());
  ASSERT_EQ(UNavigation::AskDiscardChanges(*responder, SheetOptions()), noErr);
  NavDialogRef dialog = responder->GetNavDialog();
  EXPECT_EQ(NavDialogSendWindowEvent(dialog, kEventWindowDeactivated), noErr);
  EXPECT_EQ(NavDialogSendWindowEvent(dialog, kEventWindowActivated), noErr);
  EXPECT_EQ(NavDialogSendWindowEvent(dialog, kEventWindowBoundsChanged), eventNotHandledErr);
  EXPECT_EQ(heard.kinds, (std::vector<UInt32>{kEventWindowDeactivated, kEventWindowActivated}));
  ASSERT_TRUE(Ended(calls));
  mWindow->RemoveListener(&heard);
}

// The open dialog: its type popup, the filter deciding what can be chosen,
// one file unless several are allowed.
TEST_F(NavigationTest, OpenDialogFiltersTheChosenFiles) {
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  options.optionFlags &= ~kNavAllowMultipleFiles;
  options.popupExtension = {"Movies (*.mov *.mp4)", "All files (*)"};
  SAnswer answer;
  answer.paths = {mTmp / "notes.txt", mTmp / "a.mov", mTmp / "b.mov"};
  for (const std::string& path : answer.paths) std::ofstream(path) << "x";
  answer.choice = 2;
  UResponder::Script(question_OpenFile, answer);
  NavReplyRecord reply;
  auto noText = [](const FSSpec& inItem, Boolean) { return FSSpecPath(inItem).find(".txt") == std::string::npos; };
  EXPECT_EQ(UNavigation::AskChooseFileModal(options, noText, reply), kNavUserActionOpen);
  ASSERT_EQ(reply.paths.size(), 1u);
  EXPECT_EQ(reply.paths[0], mTmp / "a.mov");
  EXPECT_EQ(reply.filterIndex, 2);
  EXPECT_EQ(UResponder::GetLog().back().choices, options.popupExtension);

  options.optionFlags |= kNavAllowMultipleFiles;
  UResponder::Script(question_OpenFile, answer);
  EXPECT_EQ(UNavigation::AskChooseFileModal(options, noText, reply), kNavUserActionOpen);
  EXPECT_EQ(reply.paths.size(), 2u);
  EXPECT_EQ(NavCountDialogs(), 0);
}

// The temporary volume is chosen with the volume chooser; a cancel leaves it.
TEST_F(NavigationTest, SelectTempVolumeNamesTheChosenVolume) {
  Str255 name;
  UResponder::Script(question_ChooseFolder, SAnswer::Path(mTmp.Path()));
  EXPECT_EQ(UFileUtils::SelectTempVolume(name), noErr);
  EXPECT_EQ(PStrToString(name), "Root");
  UResponder::Script(question_ChooseFolder, SAnswer::Cancel());
  CopyCStringToPascal("unchanged", name);
  EXPECT_EQ(UFileUtils::SelectTempVolume(name), userCanceledErr);
  EXPECT_EQ(PStrToString(name), "unchanged");
}

// The one real file dialog: window-modal on the document window with the
// custom area below its file list; a name typed and Return save it there.
TEST_F(NavigationTest, RealFileDialogWithCustomAreaAnswersWhatIsTyped) {
  UResponder::SetInteractive(true);
  std::vector<std::string> calls;
  auto* responder = new Recorder(&calls);
  responder->mAddArea = true;
  responder->mReleaseOnTerminate = false;
  NavDialogCreationOptions options = SheetOptions(mTmp / "Clip.mov");
  options.windowTitle = "Save the Movie";
  ASSERT_EQ(UNavigation::AskDesignateFile(*responder, 'MooV', kTestCreator, options), noErr);
  auto* dialog = qobject_cast<QFileDialog*>(UNavPresenters::GetDialog(UResponder::GetLog().back().dialogID));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog->parentWidget(), mWindow->GetFrameWidget());
  QWidget* area = NavDialogGetCustomArea(responder->GetNavDialog())->PeekWidget();
  ASSERT_NE(area, nullptr);
  EXPECT_TRUE(dialog->isAncestorOf(area));
  dialog->resize(640, 460);
  UiTest::Pump(50);
  QImage shot = UiTest::Screenshot(dialog, "navigation-put-file-dialog");
  EXPECT_FALSE(shot.isNull());

  auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "Clip.mov");
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, "Typed.mov");
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return !calls.empty() && calls.back() == "terminate"; }));
  EXPECT_EQ(responder->mAction, kNavUserActionSaveAs);
  EXPECT_EQ(responder->mReply.saveFileName, "Typed.mov");
  EXPECT_EQ(responder->mReply.paths[0], mTmp / "Typed.mov");
  // The area is ours again: it survives the dialog and goes with the responder.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(NavDialogGetCustomArea(responder->GetNavDialog())->PeekWidget(), area);
  delete responder;
  EXPECT_EQ(NavCountDialogs(), 0);
}
