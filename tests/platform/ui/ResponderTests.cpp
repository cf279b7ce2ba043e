// The one question interface: scripted answers in tests (later, never inside
// Ask; an unscripted question is reported), and the real Qt dialogs of the
// program driven as a user would.
#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "platform/base/PascalStrings.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"

namespace {

template <class T>
T* FindTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<T*>(w))
      if (t->isVisible()) return t;
  return nullptr;
}

class ResponderTest : public UiFixture {};

}  // namespace

TEST_F(ResponderTest, ScriptedAnswersArriveLaterAndUnscriptedQuestionsAreReported) {
  UResponder::Script(question_OpenFile, SAnswer::Path("/tmp/in.mov"));
  SQuestion open;
  open.kind = question_OpenFile;
  open.title = "Open";
  bool answered = false;
  SAnswer got;
  UResponder::Ask(open, [&](const SAnswer& a) {
    answered = true;
    got = a;
  });
  EXPECT_FALSE(answered);  // never inside Ask
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_FALSE(got.cancelled);
  EXPECT_EQ(got.paths, (std::vector<std::string>{"/tmp/in.mov"}));

  std::vector<EQuestion> unexpected;
  UResponder::SetUnexpectedHandler([&](const SQuestion& q) { unexpected.push_back(q.kind); });
  SQuestion save;
  save.kind = question_SaveChanges;
  save.message = "Save changes?";
  SAnswer saveAnswer = UResponder::AskAndWait(save);
  EXPECT_TRUE(saveAnswer.cancelled);
  EXPECT_EQ(unexpected, (std::vector<EQuestion>{question_SaveChanges}));
  auto log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].message, "Save changes?");

  // Alerts take scripted buttons, counted among the buttons shown.
  UResponder::Script(question_Alert, SAnswer::Choice(2));
  AlertStdAlertParamRec param;
  GetStandardAlertDefaultParams(&param, 0);
  param.cancelText = reinterpret_cast<ConstStringPtr>(-1);
  param.cancelButton = kAlertStdAlertCancelButton;
  Str255 msg;
  StringToPStr("Really?", msg);
  SInt16 hit = 0;
  ASSERT_EQ(StandardAlert(kAlertCautionAlert, msg, nullptr, &param, &hit), noErr);
  EXPECT_EQ(hit, kAlertStdAlertCancelButton);
}

TEST_F(ResponderTest, TheProgramAsksWithRealQtDialogs) {
  UResponder::SetInteractive(true);
  auto* window = new LWindow(SWindowInfo{});
  window->Show();

  // Save changes: a window-modal message box; the user clicks "Don't Save".
  SQuestion save;
  save.kind = question_SaveChanges;
  save.message = "Save changes to \"Clip\"?";
  save.choices = {"Save", "Don't Save", "Cancel"};
  save.defaultChoice = 1;
  save.cancelChoice = 3;
  save.parent = window;
  SAnswer got;
  bool answered = false;
  auto reply = [&](const SAnswer& a) {
    got = a;
    answered = true;
  };
  UResponder::Ask(save, reply);
  UiTest::Pump(10);
  QMessageBox* box = window->GetFrameWidget()->findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  UiTest::Screenshot(box, "responder_save_changes");
  QAbstractButton* dontSave = nullptr;
  for (QAbstractButton* b : box->buttons())
    if (b->text() == "Don't Save") dontSave = b;
  ASSERT_NE(dontSave, nullptr);
  QTest::mouseClick(dontSave, Qt::LeftButton);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_EQ(got.choice, 2);
  EXPECT_FALSE(got.cancelled);

  // Save as: the file dialog; the user types a name and accepts.
  answered = false;
  SQuestion saveAs;
  saveAs.kind = question_SaveFile;
  saveAs.title = "Save As";
  saveAs.defaultName = "/tmp/trx-responder-test-out.mov";
  UResponder::Ask(saveAs, reply);
  UiTest::Pump(10);
  auto* files = FindTopLevel<QFileDialog>();
  ASSERT_NE(files, nullptr);
  auto* nameField = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(nameField, nullptr);
  nameField->setText(QStringLiteral("/tmp/trx-responder-test-typed.mov"));
  static_cast<QDialog*>(files)->accept();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  ASSERT_EQ(got.paths.size(), 1u);
  EXPECT_EQ(got.paths[0], "/tmp/trx-responder-test-typed.mov");

  // A save beside the document: the dialog starts in its folder with the
  // proposed name, and accepting it saves there.
  answered = false;
  const std::string folder = QDir::tempPath().toStdString() + "/trx-responder-beside";
  QDir().mkpath(QString::fromStdString(folder));
  SQuestion beside;
  beside.kind = question_SaveFile;
  beside.title = "Save As";
  beside.defaultName = "Holiday.mov";
  beside.folder = folder;
  UResponder::Ask(beside, reply);
  UiTest::Pump(10);
  files = FindTopLevel<QFileDialog>();
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(QDir(files->directory()).absolutePath().toStdString(), folder);
  static_cast<QDialog*>(files)->accept();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  ASSERT_EQ(got.paths.size(), 1u);
  EXPECT_EQ(got.paths[0], folder + "/Holiday.mov");
  QDir(QString::fromStdString(folder)).removeRecursively();

  // The colour picker: cancel sends nothing but a cancel; OK the colour.
  answered = false;
  SQuestion colour;
  colour.kind = question_Color;
  colour.color = RGBColor{0xFFFF, 0, 0};
  UResponder::Ask(colour, reply);
  UiTest::Pump(10);
  auto* picker = FindTopLevel<QColorDialog>();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->currentColor(), QColor(255, 0, 0));
  picker->setCurrentColor(QColor(10, 20, 30));
  static_cast<QDialog*>(picker)->accept();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_EQ(got.color.red, 10 * 257);
  EXPECT_EQ(got.color.blue, 30 * 257);

  // A pop-up menu: the user picks the second item; dismissing picks nothing.
  answered = false;
  SQuestion popup;
  popup.kind = question_PopupMenu;
  popup.choices = {"One", "Two"};
  UResponder::Ask(popup, reply);
  ASSERT_TRUE(UiTest::PumpUntil([] { return FindTopLevel<QMenu>() != nullptr; }));
  QMenu* menu = FindTopLevel<QMenu>();
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().at(1)).center());
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_EQ(got.choice, 2);
  answered = false;
  UResponder::Ask(popup, reply);
  ASSERT_TRUE(UiTest::PumpUntil([] { return FindTopLevel<QMenu>() != nullptr; }));
  FindTopLevel<QMenu>()->close();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_TRUE(got.cancelled);

  // An application alert waits in our loop until its button is clicked.
  QTimer::singleShot(20, qApp, [] {
    if (auto* alert = FindTopLevel<QMessageBox>()) alert->buttons().at(0)->click();
  });
  Str255 msg;
  StringToPStr("Done", msg);
  SInt16 hit = 0;
  ASSERT_EQ(StandardAlert(kAlertNoteAlert, msg, nullptr, nullptr, &hit), noErr);
  EXPECT_EQ(hit, kAlertStdAlertOKButton);
}
