// Menus read from the bundle's compiled menu resources, shown in a window's
// menu bar, with their command numbers, keys and separators.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "platform/base/LException.h"
#include "platform/files/Bundle.h"
#include "platform/ui/LApplication.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "support/ui/UiTestSupport.h"

namespace {

class MenuResourceTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  }
  void TearDown() override {
    UBundle::SetMainBundlePath("");  // forgets the bundle read for the menus
    UiFixture::TearDown();
  }
};

class QuitApp : public LDocApplication {
 public:
  std::vector<CommandT> mObeyed;
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    mObeyed.push_back(inCommand);
    if (inCommand == cmd_Quit) return true;
    return LDocApplication::ObeyCommand(inCommand, ioParam);
  }
};

}  // namespace

TEST_F(MenuResourceTest, TheMenuBarComesFromTheBundle) {
  QuitApp app;
  auto* bar = new LMenuBar(128);
  app.SetMenuBar(bar);
  ASSERT_EQ(bar->GetMenus().size(), 2u);
  LMenu* file = bar->FetchMenu(128);
  LMenu* edit = bar->FetchMenu(129);
  ASSERT_NE(file, nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(file->GetTitle(), "File");
  EXPECT_EQ(file->IndexFromCommand(cmd_Quit), file->CountItems());
  EXPECT_TRUE(file->GetItem(3).action->isSeparator());
  EXPECT_EQ(file->GetItem(2).text, "Open…");
  EXPECT_EQ(bar->FindKeyCommand('s', menuKey_Shift), cmd_SaveAs);
  EXPECT_EQ(bar->FindKeyCommand('s', 0), cmd_Save);
  EXPECT_EQ(bar->FindKeyCommand('z', menuKey_Shift), cmd_Redo);
  EXPECT_EQ(edit->GetItem(edit->IndexFromCommand(cmd_Redo)).action->shortcut(),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  LMenu* menu = nullptr;
  SInt16 item = 0;
  ASSERT_TRUE(bar->FindItem(cmd_Copy, menu, item));
  EXPECT_EQ(menu, edit);
  EXPECT_THROW(LMenu(4242), LException);

  // A document window shows them; the application enables New, Open and Quit only.
  LCommander::SwitchTarget(&app);
  SWindowInfo info;
  info.title = "Menus";
  info.width = 300;
  info.height = 120;
  auto* window = new LWindow(info, &app);
  window->Show();
  QMenuBar* qbar = window->GetQtMenuBar();
  ASSERT_NE(qbar, nullptr);
  ASSERT_EQ(qbar->actions().size(), 2);
  EXPECT_EQ(qbar->actions().at(0)->text(), "File");
  bar->UpdateCommandStatus();
  EXPECT_TRUE(file->GetItem(file->IndexFromCommand(cmd_New)).action->isEnabled());
  EXPECT_FALSE(file->GetItem(file->IndexFromCommand(cmd_Save)).action->isEnabled());
  EXPECT_FALSE(edit->GetItem(edit->IndexFromCommand(cmd_Undo)).action->isEnabled());
  QImage shot = UiTest::Screenshot(window->GetFrameWidget(), "menu_bar_window");
  EXPECT_GT(shot.height(), 120);  // the bar sits above the content

  // Ctrl+Q reaches the application through the chain.
  window->GetFrameWidget()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window->GetFrameWidget(), 60000));
  QTest::keyClick(window->GetWidget(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(app.mObeyed, (std::vector<CommandT>{cmd_Quit}));
  // Ctrl+S is disabled: nothing is obeyed.
  QTest::keyClick(window->GetWidget(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(app.mObeyed.size(), 1u);
  delete window;
}
