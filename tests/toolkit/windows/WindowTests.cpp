#include <gtest/gtest.h>

#include <QAction>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UDesktop.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/CWindowMenu.h"
#include "toolkit/LSheet.h"
#include "toolkit/UFileUtils.h"

namespace {

// The application's share of the Window menu: its items' status and commands.
class App : public LCommander {
 public:
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (CWindowMenu::ObeyWindowCommand(inCommand)) return true;
    return LCommander::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (CWindowMenu::FindWindowCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName)) return;
    LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
};

// A sheet whose timer calls back into the window it was made for, as a
// dialog sheet's procedure does through its document.
class TimedSheet : public LSheet, public LPeriodical {
 public:
  TimedSheet(CRegularWindow* inWindow, int* ioLive) : mWindow(inWindow), mLive(ioLive) {
    ++*mLive;
    StartRepeating();
  }
  ~TimedSheet() override { --*mLive; }
  void SpendTime(const EventRecord&) override { mLastTitle = mWindow->GetTitle(); }

 private:
  CRegularWindow* mWindow;
  int* mLive;
  std::string mLastTitle;
};

class Recorder : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    UInt32 kind = inMessage == msg_WindowEvent ? static_cast<SWindowEvent*>(ioParam)->eventKind : 0;
    mHeard.emplace_back(inMessage, kind);
  }
  std::vector<std::pair<MessageT, UInt32>> mHeard;
};

class WindowTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    LCommander::SetTopCommander(&mApp);
    mMenu = new CWindowMenu(MENU_Window, "Window");
    mMenu->AppendItem("Collapse", cmd_CollapseWindow);
    CWindowMenu::mWindowMenu = mMenu;
  }
  void TearDown() override {
    UiFixture::TearDown();  // the windows go first
    delete mMenu;
    UBundle::SetMainBundlePath("");
  }
  CRegularWindow* NewWindow(const std::string& inTitle = "", bool inShow = true) {
    SWindowInfo info;
    info.title = inTitle;
    auto* w = new CRegularWindow(info, &mApp);
    if (inShow) w->Show();
    return w;
  }
  std::vector<std::string> MenuTexts() {
    std::vector<std::string> texts;
    for (SInt16 i = 1; i <= mMenu->CountItems(); ++i) texts.push_back(mMenu->GetItem(i).text);
    return texts;
  }

  App mApp;
  CWindowMenu* mMenu = nullptr;
};

}  // namespace

TEST_F(WindowTest, NewWindowsTakeTheFirstFreeTitle) {
  CRegularWindow* a = NewWindow();
  CRegularWindow* b = NewWindow();
  CRegularWindow* c = NewWindow();
  EXPECT_EQ(a->GetTitle(), "Untitled");
  EXPECT_EQ(b->GetTitle(), "Untitled 1");
  EXPECT_EQ(c->GetTitle(), "Untitled 2");
  delete a;
  EXPECT_EQ(NewWindow()->GetTitle(), "Untitled");
  // A name with an extension counts without it.
  b->SetTitle("Untitled 3.mov");
  CRegularWindow* d = NewWindow();
  EXPECT_EQ(d->GetTitle(), "Untitled 1");
  // Showing again keeps the title it has.
  d->Hide();
  d->Show();
  EXPECT_EQ(d->GetTitle(), "Untitled 1");
}

TEST_F(WindowTest, ANewWindowDoesNotFindItselfWhenItLooksForAFreeTitle) {
  // The layout already calls the window "Untitled": that name is still free.
  CRegularWindow* w = NewWindow("Untitled");
  EXPECT_EQ(w->GetTitle(), "Untitled");
  EXPECT_EQ(NewWindow("Untitled")->GetTitle(), "Untitled 1");
}

TEST_F(WindowTest, FindNamedWindowComparesTitlesWithoutExtensions) {
  CRegularWindow* back = NewWindow();
  back->SetTitle("Clip.mov");
  CRegularWindow* front = NewWindow();
  front->SetTitle("Clip.dv");
  CRegularWindow* other = NewWindow();
  other->SetTitle("clip");
  other->Hide();  // hidden windows count too
  LStr255 clip("Clip");
  EXPECT_EQ(UFileUtils::FindNamedWindow(clip), front);  // front to back
  front->Select();
  EXPECT_EQ(UFileUtils::FindNamedWindow(clip, front), back);
  EXPECT_EQ(UFileUtils::FindNamedWindow(LStr255("clip")), other);  // byte for byte
  EXPECT_EQ(UFileUtils::FindNamedWindow(LStr255("Clip.mov")), nullptr);
  EXPECT_EQ(UFileUtils::FindNamedWindow(LStr255("Cli")), nullptr);
}

TEST_F(WindowTest, TheWindowMenuListsWindowsAndMarksTheFrontOne) {
  EXPECT_EQ(mMenu->CountItems(), 1);
  CRegularWindow* a = NewWindow();
  // The first window brings the anchor separator along.
  ASSERT_EQ(mMenu->CountItems(), 3);
  EXPECT_EQ(mMenu->GetAnchorItem(), 2);
  EXPECT_TRUE(mMenu->GetItem(2).text.empty());
  CRegularWindow* b = NewWindow();
  CRegularWindow* c = NewWindow();
  c->SetTitle("Tom & Jerry (1/2)");
  mMenu->InsertWindow(c);  // a listed window gets its text refreshed
  EXPECT_EQ(MenuTexts(), (std::vector<std::string>{"Collapse", "", "Untitled", "Untitled 1", "Tom && Jerry (1/2)"}));
  EXPECT_EQ(mMenu->WindowToMenuItem(b), 4);
  EXPECT_EQ(mMenu->MenuItemToWindow(5), c);
  EXPECT_EQ(mMenu->MenuItemToWindow(6), nullptr);
  EXPECT_EQ(mMenu->GetItem(3).key, '1');
  EXPECT_EQ(mMenu->GetItem(5).key, '3');

  // Before the menu opens: the front window carries the check mark.
  mMenu->UpdateCommandStatus();
  EXPECT_EQ(mMenu->GetItem(5).mark, checkMark);
  EXPECT_EQ(mMenu->GetItem(3).mark, noMark);
  EXPECT_TRUE(mMenu->GetItem(3).enabled);
  // The title shows literally: '&' is not taken as a mnemonic.
  EXPECT_EQ(mMenu->GetItem(5).action->text().toStdString(), "Tom && Jerry (1/2)");
  EXPECT_TRUE(mMenu->GetItem(5).action->isChecked());

  // Choosing an item brings its window to the front; the mark follows.
  EXPECT_TRUE(mMenu->ChooseItem(3));
  EXPECT_EQ(UDesktop::FetchTopRegular(), a);
  mMenu->UpdateCommandStatus();
  EXPECT_EQ(mMenu->GetItem(3).mark, checkMark);
  EXPECT_EQ(mMenu->GetItem(5).mark, noMark);

  // Hidden windows leave; the last one takes the anchor with it.
  b->Hide();
  // (the menu's own item took its text from the status too)
  EXPECT_EQ(MenuTexts(), (std::vector<std::string>{"Collapse Window", "", "Untitled", "Tom && Jerry (1/2)"}));
  EXPECT_EQ(mMenu->GetItem(4).key, '2');
  delete a;
  c->Hide();
  EXPECT_EQ(MenuTexts(), (std::vector<std::string>{"Collapse Window"}));
  b->Show();
  EXPECT_EQ(MenuTexts(), (std::vector<std::string>{"Collapse Window", "", "Untitled 1"}));
}

TEST_F(WindowTest, NineWindowsHaveKeysAndRemovalRenumbers) {
  std::vector<CRegularWindow*> windows;
  for (int i = 0; i < 10; ++i) windows.push_back(NewWindow());
  const SInt16 anchor = mMenu->GetAnchorItem();
  for (SInt16 i = 1; i <= 9; ++i) EXPECT_EQ(mMenu->GetItem(anchor + i).key, static_cast<char>('0' + i));
  EXPECT_EQ(mMenu->GetItem(anchor + 10).key, 0);
  delete windows[1];
  for (SInt16 i = 1; i <= 9; ++i) EXPECT_EQ(mMenu->GetItem(anchor + i).key, static_cast<char>('0' + i));
  EXPECT_EQ(mMenu->MenuItemToWindow(anchor + 9), windows[9]);
}

TEST_F(WindowTest, SheetsTakeTurnsAndTheWindowFollowsThem) {
  int live = 0;
  CRegularWindow* w = NewWindow();
  auto* first = new TimedSheet(w, &live);
  auto* second = new TimedSheet(w, &live);
  w->AddSheet(first, true);
  EXPECT_TRUE(first->IsShown());
  EXPECT_FALSE(w->IsEnabled());
  EXPECT_TRUE(first->IsTarget());
  w->AddSheet(second, true);
  EXPECT_FALSE(first->IsShown());
  EXPECT_TRUE(second->IsShown());
  EXPECT_EQ(w->CountSheets(), 2);
  // Removing the current sheet makes the other one current and shows it.
  w->RemoveSheet(second);
  EXPECT_EQ(w->GetCurrentSheet(), first);
  EXPECT_TRUE(first->IsShown());
  EXPECT_FALSE(second->IsShown());
  EXPECT_EQ(second->GetParentWindow(), nullptr);
  w->RemoveSheet(second);  // not listed: nothing
  delete second;
  // Hiding the window hides the sheet and enables the window; showing brings both back.
  w->Hide();
  EXPECT_FALSE(first->IsShown());
  EXPECT_TRUE(w->IsEnabled());
  w->Show();
  EXPECT_TRUE(first->IsShown());
  EXPECT_FALSE(w->IsEnabled());
  // Releasing the last sheet gives the window back.
  first->Release();
  EXPECT_EQ(w->GetCurrentSheet(), nullptr);
  EXPECT_TRUE(w->IsEnabled());
  EXPECT_EQ(live, 0);
  EXPECT_TRUE(w->IsTarget());
}

TEST_F(WindowTest, AWindowDestroyedWithSheetsDeletesThem) {
  int live = 0;
  CRegularWindow* w = NewWindow();
  w->AddSheet(new TimedSheet(w, &live), true);
  w->AddSheet(new TimedSheet(w, &live), false);
  UiTest::Pump(30);  // their timers run against the live window
  delete w;
  EXPECT_EQ(live, 0);
  // Nothing calls back into the dead window (the sanitizer build watches).
  UiTest::Pump(30);
  EXPECT_EQ(mMenu->CountItems(), 1);
  EXPECT_EQ(LCommander::GetTarget(), &mApp);
}

TEST_F(WindowTest, WindowEventsAreBroadcast) {
  Recorder heard;
  CRegularWindow* w = NewWindow("", false);
  w->AddListener(&heard);
  w->Show();
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowEvent, kEventWindowActivated}}));
  heard.mHeard.clear();
  CRegularWindow* other = NewWindow();
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowEvent, kEventWindowDeactivated}}));
  heard.mHeard.clear();
  w->ResizeWindowTo(320, 240);
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowEvent, kEventWindowBoundsChanged}}));
  heard.mHeard.clear();
  w->ClickToolbarButton();
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowToolbarButton, 0},
                                                                   {msg_WindowEvent, kEventWindowToolbarSwitchMode}}));
  heard.mHeard.clear();

  // Collapsing through command 6200, with the item's two texts. Becoming
  // the target brings the window forward again.
  LCommander::SwitchTarget(w);
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowEvent, kEventWindowActivated}}));
  EXPECT_FALSE(other->IsWindowActive());
  heard.mHeard.clear();
  Boolean enabled = false, usesMark = false;
  UInt16 mark = 0;
  Str255 name = {0};
  LCommander::GetCommandStatus(cmd_CollapseWindow, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(PStrToString(name), "Collapse Window");
  EXPECT_TRUE(LCommander::DoEnabledCommand(cmd_CollapseWindow));
  EXPECT_TRUE(w->IsCollapsed());
  LCommander::GetCommandStatus(cmd_CollapseWindow, enabled, usesMark, mark, name);
  EXPECT_EQ(PStrToString(name), "Expand Window");
  EXPECT_TRUE(LCommander::DoEnabledCommand(cmd_CollapseWindow));
  EXPECT_FALSE(w->IsCollapsed());
  EXPECT_EQ(heard.mHeard, (std::vector<std::pair<MessageT, UInt32>>{{msg_WindowEvent, kEventWindowCollapsing},
                                                                   {msg_WindowEvent, kEventWindowExpanded}}));
  w->RemoveListener(&heard);
}

TEST_F(WindowTest, TheWindowMenuComesFromMenu140AtTheEndOfTheMenuBar) {
  ASSERT_EQ(LMenuBar::GetCurrentMenuBar(), nullptr);
  EXPECT_THROW(CWindowMenu::Init(), LException);
  CWindowMenu::mWindowMenu = nullptr;
  {
    LMenuBar bar(128);
    CWindowMenu::Init();
    ASSERT_NE(CWindowMenu::mWindowMenu, nullptr);
    EXPECT_EQ(bar.GetMenus().back(), CWindowMenu::mWindowMenu);
    EXPECT_EQ(CWindowMenu::mWindowMenu->GetMenuID(), MENU_Window);
    EXPECT_EQ(CWindowMenu::mWindowMenu->GetItem(1).command, cmd_CollapseWindow);
    EXPECT_EQ(CWindowMenu::mWindowMenu->GetAnchorItem(), 0);
    CRegularWindow* w = NewWindow();
    EXPECT_EQ(CWindowMenu::mWindowMenu->MenuItemToWindow(3), w);
    delete w;
  }
  // The menu went with the bar.
  EXPECT_EQ(CWindowMenu::mWindowMenu, nullptr);
  CWindowMenu::mWindowMenu = mMenu;
}
