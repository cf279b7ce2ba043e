// The chain of command: status and commands walk from the target up through
// window, document and application; menus show that status; shortcuts and
// menu choices ask again before anything acts.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWidget>

#include "platform/base/PascalStrings.h"
#include "platform/ui/LApplication.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UDesktop.h"
#include "support/ui/UiTestSupport.h"

namespace {

constexpr CommandT cmd_PaneThing = 1000;    // the target answers
constexpr CommandT cmd_WindowThing = 1001;  // the window answers
constexpr CommandT cmd_DocThing = 1002;     // the document answers, with a mark and text
constexpr CommandT cmd_AppThing = 1003;     // the application answers
constexpr CommandT cmd_Toggled = 1004;      // the document enables it when told
constexpr CommandT cmd_Unknown = 1999;

std::vector<std::string> gLog;

class TestApp : public LDocApplication {
 public:
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_AppThing) {
      gLog.push_back("app");
      return true;
    }
    return LDocApplication::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (inCommand == cmd_AppThing) {
      outEnabled = true;
      return;
    }
    LDocApplication::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
};

class TestDoc : public LCommander {
 public:
  explicit TestDoc(LCommander* inSuper) : LCommander(inSuper) {}
  bool mToggle = false;
  bool mChecked = true;
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_DocThing || inCommand == cmd_Toggled) {
      gLog.push_back(inCommand == cmd_DocThing ? "doc" : "toggled");
      return true;
    }
    return LCommander::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (inCommand == cmd_DocThing) {
      outEnabled = true;
      outUsesMark = true;
      outMark = mChecked ? checkMark : noMark;
      StringToPStr("Doc Thing Now", outName);
      return;
    }
    if (inCommand == cmd_Toggled) {
      outEnabled = mToggle;
      return;
    }
    LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
};

class TestWindow : public LWindow {
 public:
  TestWindow(const SWindowInfo& inInfo, LCommander* inSuper) : LWindow(inInfo, inSuper) {}
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_WindowThing) {
      gLog.push_back("window");
      return true;
    }
    return LWindow::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (inCommand == cmd_WindowThing) {
      outEnabled = true;
      return;
    }
    LWindow::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
};

// A pane that takes the keyboard (as edit fields do).
class TestField : public LPane, public LCommander {
 public:
  TestField(const SPaneInfo& inInfo, LCommander* inSuper) : LPane(inInfo), LCommander(inSuper) {}
  std::vector<UInt32> mKeys;
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_PaneThing) {
      gLog.push_back("pane");
      return true;
    }
    return LCommander::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (inCommand == cmd_PaneThing) {
      outEnabled = true;
      return;
    }
    LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
  Boolean HandleKeyPress(const EventRecord& inKey) override {
    if ((inKey.modifiers & cmdKey) == 0) {
      mKeys.push_back(inKey.message);
      return true;
    }
    return LCommander::HandleKeyPress(inKey);
  }
};

struct Status {
  Boolean enabled = false, usesMark = false;
  UInt16 mark = noMark;
  Str255 name = {0};
};

Status Ask(CommandT inCommand) {
  Status s;
  LCommander::GetCommandStatus(inCommand, s.enabled, s.usesMark, s.mark, s.name);
  return s;
}

class CommanderTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    gLog.clear();
    mApp = new TestApp;
    mDoc = new TestDoc(mApp);
    SWindowInfo info;
    info.title = "Chain";
    info.width = 300;
    info.height = 200;
    mWindow = new TestWindow(info, mDoc);
    SPaneInfo pane;
    pane.paneID = 5;
    pane.width = 100;
    pane.height = 20;
    pane.left = 10;
    pane.top = 10;
    pane.superView = mWindow;
    mField = new TestField(pane, mWindow);
    mWindow->SetLatentSub(mField);
  }
  void TearDown() override {
    delete mApp;  // the document, window and field go with it
    UiFixture::TearDown();
  }
  TestApp* mApp = nullptr;
  TestDoc* mDoc = nullptr;
  TestWindow* mWindow = nullptr;
  TestField* mField = nullptr;
};

}  // namespace

TEST_F(CommanderTest, StatusAndCommandsWalkFromTargetToApplication) {
  mWindow->Show();
  ASSERT_EQ(UDesktop::FetchActiveWindow(), mWindow);
  ASSERT_EQ(LCommander::GetTarget(), mField);  // activation restored the latent sub
  EXPECT_TRUE(mField->IsOnDuty());
  EXPECT_TRUE(mWindow->IsOnDuty());
  EXPECT_TRUE(mDoc->IsOnDuty());
  EXPECT_TRUE(mApp->IsOnDuty());

  for (CommandT c : {cmd_PaneThing, cmd_WindowThing, cmd_DocThing, cmd_AppThing, cmd_Close, cmd_New})
    EXPECT_TRUE(Ask(c).enabled) << c;
  EXPECT_FALSE(Ask(cmd_Unknown).enabled);
  Status doc = Ask(cmd_DocThing);
  EXPECT_TRUE(doc.usesMark);
  EXPECT_EQ(doc.mark, checkMark);
  EXPECT_EQ(PStrToString(doc.name), "Doc Thing Now");

  for (CommandT c : {cmd_PaneThing, cmd_WindowThing, cmd_DocThing, cmd_AppThing}) EXPECT_TRUE(LCommander::DoEnabledCommand(c));
  EXPECT_EQ(gLog, (std::vector<std::string>{"pane", "window", "doc", "app"}));
  EXPECT_FALSE(LCommander::DoEnabledCommand(cmd_Unknown));

  // The target moved to the document: pane and window commands are no longer reachable.
  LCommander::SwitchTarget(mDoc);
  EXPECT_FALSE(mField->IsOnDuty());
  EXPECT_FALSE(mWindow->IsOnDuty());
  EXPECT_EQ(mDoc->GetLatentSub(), nullptr);
  EXPECT_FALSE(Ask(cmd_PaneThing).enabled);
  EXPECT_FALSE(Ask(cmd_WindowThing).enabled);
  EXPECT_TRUE(Ask(cmd_DocThing).enabled);
  // The window remembered where its target was.
  EXPECT_EQ(mWindow->GetLatentSub(), mField);
  mWindow->RestoreTarget();
  EXPECT_EQ(LCommander::GetTarget(), mField);
}

TEST_F(CommanderTest, AttachmentsAnswerStatusAndKeysBeforeTheirHost) {
  mWindow->Show();
  // A status attachment on the window turns the document's command off.
  struct Veto : LAttachment {
    Veto() : LAttachment(msg_CommandStatus, true) {}
    void ExecuteSelf(MessageT, void* ioParam) override {
      auto* s = static_cast<SCommandStatus*>(ioParam);
      if (s->command == cmd_DocThing) {
        *s->enabled = false;
        SetExecuteHost(false);
      } else {
        SetExecuteHost(true);
      }
    }
  };
  auto* veto = new Veto;
  mWindow->AddAttachment(veto);
  EXPECT_FALSE(Ask(cmd_DocThing).enabled);
  EXPECT_TRUE(Ask(cmd_AppThing).enabled);
  EXPECT_FALSE(LCommander::DoEnabledCommand(cmd_DocThing));
  EXPECT_TRUE(gLog.empty());
  delete veto;  // leaves its host
  EXPECT_EQ(mWindow->CountAttachments(), 0);
  EXPECT_TRUE(Ask(cmd_DocThing).enabled);

  // A key attachment that swallows the key and removes itself while executing.
  struct OneShot : LAttachment {
    OneShot() : LAttachment(msg_KeyPress, false) {}
    int mSeen = 0;
    void ExecuteSelf(MessageT, void*) override {
      ++mSeen;
      GetOwnerHost()->RemoveAttachment(this);
    }
  };
  OneShot once;
  mField->AddAttachment(&once, nullptr, false);
  EventRecord key;
  key.what = keyDown;
  key.message = 'a';
  EXPECT_TRUE(mField->ProcessKeyPress(key));
  EXPECT_TRUE(mField->mKeys.empty());
  EXPECT_EQ(once.mSeen, 1);
  EXPECT_TRUE(mField->ProcessKeyPress(key));
  EXPECT_EQ(mField->mKeys.size(), 1u);
}

TEST_F(CommanderTest, MenuItemsTakeStatusAndADisabledCommandDoesNothing) {
  LMenuBar* bar = new LMenuBar;
  mApp->SetMenuBar(bar);
  auto* menu = new LMenu(200, "Things");
  SInt16 iPane = menu->AppendItem("Pane Thing", cmd_PaneThing);
  menu->AppendItem("");  // separator
  SInt16 iDoc = menu->AppendItem("Doc Thing", cmd_DocThing);
  SInt16 iToggle = menu->AppendItem("Toggled", cmd_Toggled, 'K');
  SInt16 iSynthetic = menu->AppendItem("No Number");
  bar->InstallMenu(menu);
  mWindow->Show();

  menu->UpdateCommandStatus();
  EXPECT_TRUE(menu->GetItem(iPane).enabled);
  EXPECT_TRUE(menu->GetItem(iPane).action->isEnabled());
  EXPECT_TRUE(menu->GetItem(2).action->isSeparator());
  EXPECT_EQ(menu->GetItem(iDoc).mark, checkMark);
  EXPECT_TRUE(menu->GetItem(iDoc).action->isChecked());
  EXPECT_EQ(menu->GetItem(iDoc).action->text().toStdString(), "Doc Thing Now");
  EXPECT_FALSE(menu->GetItem(iToggle).action->isEnabled());
  EXPECT_EQ(menu->CommandFromIndex(iSynthetic), LCommander::SyntheticCommandForMenuItem(200, iSynthetic));
  SInt16 menuID = 0, item = 0;
  EXPECT_TRUE(LCommander::IsSyntheticCommand(menu->CommandFromIndex(iSynthetic), menuID, item));
  EXPECT_EQ(menuID, 200);
  EXPECT_EQ(item, iSynthetic);

  mDoc->mChecked = false;
  menu->UpdateCommandStatus();
  EXPECT_FALSE(menu->GetItem(iDoc).action->isChecked());
  // A commander that asks for fresh status gets it at the next pass.
  mDoc->mChecked = true;
  LCommander::SetUpdateCommandStatus(true);
  UiTest::Pump(5);
  EXPECT_TRUE(menu->GetItem(iDoc).action->isChecked());
  EXPECT_FALSE(LCommander::GetUpdateCommandStatus());

  // Shown enabled, then the document changed its mind before the choice: nothing happens.
  mDoc->mToggle = true;
  menu->UpdateCommandStatus();
  ASSERT_TRUE(menu->GetItem(iToggle).action->isEnabled());
  mDoc->mToggle = false;
  menu->GetItem(iToggle).action->trigger();
  EXPECT_TRUE(gLog.empty());
  mDoc->mToggle = true;
  menu->GetItem(iToggle).action->trigger();
  EXPECT_EQ(gLog, (std::vector<std::string>{"toggled"}));
}

TEST_F(CommanderTest, AShortcutSeesFreshStatus) {
  LMenuBar* bar = new LMenuBar;
  mApp->SetMenuBar(bar);
  auto* menu = new LMenu(201, "Keys");
  menu->AppendItem("Toggled", cmd_Toggled, 'K');
  bar->InstallMenu(menu);
  mWindow->Show();
  QWidget* frame = mWindow->GetFrameWidget();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame, 60000));
  menu->UpdateCommandStatus();  // shown disabled
  ASSERT_FALSE(menu->GetItem(1).action->isEnabled());

  // Enabled since the menu was last shown: the key still acts.
  mDoc->mToggle = true;
  QTest::keyClick(mWindow->GetWidget(), Qt::Key_K, Qt::ControlModifier);
  UiTest::Pump(10);
  EXPECT_EQ(gLog, (std::vector<std::string>{"toggled"}));

  // Disabled since then: the key does nothing, and plain keys reach the target.
  mDoc->mToggle = false;
  QTest::keyClick(mWindow->GetWidget(), Qt::Key_K, Qt::ControlModifier);
  UiTest::Pump(10);
  EXPECT_EQ(gLog.size(), 1u);
  QTest::keyClick(mWindow->GetWidget(), Qt::Key_X);
  ASSERT_EQ(mField->mKeys.size(), 1u);
  EXPECT_EQ(mField->mKeys[0] & charCodeMask, static_cast<UInt32>('x'));
  QTest::keyClick(mWindow->GetWidget(), Qt::Key_Escape);
  ASSERT_EQ(mField->mKeys.size(), 2u);
  EXPECT_EQ(mField->mKeys[1], 0x351Bu);
}

TEST_F(CommanderTest, ChoosingAMenuItemWithTheMouseObeysTheCommand) {
  LMenuBar* bar = new LMenuBar;
  mApp->SetMenuBar(bar);
  auto* menu = new LMenu(202, "Things");
  menu->AppendItem("Window Thing", cmd_WindowThing);
  menu->AppendItem("App Thing", cmd_AppThing);
  bar->InstallMenu(menu);
  mWindow->Show();
  QWidget* frame = mWindow->GetFrameWidget();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame, 60000));
  QMenuBar* qbar = mWindow->GetQtMenuBar();
  ASSERT_NE(qbar, nullptr);
  QAction* title = menu->GetQMenu()->menuAction();
  QTest::mouseClick(qbar, Qt::LeftButton, {}, qbar->actionGeometry(title).center());
  ASSERT_TRUE(UiTest::PumpUntil([&] { return menu->GetQMenu()->isVisible(); }));
  QMenu* qmenu = menu->GetQMenu();
  QAction* appItem = menu->GetItem(2).action;
  EXPECT_TRUE(appItem->isEnabled());
  QTest::mouseClick(qmenu, Qt::LeftButton, {}, qmenu->actionGeometry(appItem).center());
  UiTest::PumpUntil([&] { return !gLog.empty(); });
  EXPECT_EQ(gLog, (std::vector<std::string>{"app"}));
}
