// The recent-files list and its menu, rebuilt in the bundle's menu bar and
// asked for its items' status through the commander chain.
#include <unistd.h>

#include <QAction>

#include "app/CRecentFiles.h"
#include "platform/files/Bundle.h"
#include "platform/files/TempFolder.h"
#include "platform/ui/LMenu.h"
#include "support/ui/UiTestSupport.h"

namespace {

// What the application does for the menu: recent items enabled while their
// file resolves, the clear item always.
class RecentTarget : public LCommander {
 public:
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_ClearRecentFiles) {
      CRecentFiles::Delete();
      return true;
    }
    return LCommander::ObeyCommand(inCommand, ioParam);
  }
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override {
    if (inCommand == cmd_ClearRecentFiles) {
      outEnabled = true;
      return;
    }
    if (CRecentFiles::FindCommandStatus(inCommand, outEnabled)) return;
    LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
};

class RecentFilesTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    CRecentFiles::Delete();
    mBar = new LMenuBar(128);
    mBar->InstallMenu(new LMenu(MENU_RecentFiles), -1);
    mMenu = mBar->FetchMenu(MENU_RecentFiles);
    LCommander::SetTopCommander(&mTarget);
    LCommander::SwitchTarget(&mTarget);
  }
  void TearDown() override {
    CRecentFiles::Delete();
    LCommander::SetTopCommander(nullptr);
    delete mBar;
    UBundle::SetMainBundlePath("");
    UiFixture::TearDown();
  }
  FSSpec File(int inNumber) {
    std::string name = "movie " + std::to_string(inNumber) + ".mov";
    if (!std::filesystem::exists(mTmp / name)) WriteText(mTmp / name, name);
    return mTmp.Spec(name);
  }
  void Add(int inNumber) {
    FSSpec spec = File(inNumber);
    CRecentFiles::AddToRecentFileMenu(&spec);
  }
  std::string Entry(SInt16 inIndex) {
    FSSpec spec;
    OSErr err = CRecentFiles::GetFile(inIndex, &spec, kResolveAliasFileNoUI);
    return err == noErr ? PStr(spec.name) : "error " + std::to_string(err);
  }

  TempFolder mTmp;
  RecentTarget mTarget;
  LMenuBar* mBar = nullptr;
  LMenu* mMenu = nullptr;
};

}  // namespace

TEST_F(RecentFilesTest, ReAddingMovesToTheTopAndTheEleventhDropsTheOldest) {
  ASSERT_NE(mMenu, nullptr);
  Add(1);
  Add(2);
  Add(3);
  Add(1);  // third in the list
  ASSERT_EQ(CRecentFiles::GetFileCount(), 3);
  EXPECT_EQ(Entry(1), "movie 1.mov");
  EXPECT_EQ(Entry(2), "movie 3.mov");
  EXPECT_EQ(Entry(3), "movie 2.mov");

  for (int i = 4; i <= 11; ++i) Add(i);  // eleven distinct files
  ASSERT_EQ(CRecentFiles::GetFileCount(), 10);
  EXPECT_EQ(Entry(1), "movie 11.mov");
  EXPECT_EQ(Entry(10), "movie 3.mov");  // movie 2, the oldest, is gone
  EXPECT_EQ(Entry(11), "error -1");

  // The menu: ten files newest first, a separator, the clear item.
  ASSERT_EQ(mMenu->CountItems(), 12);
  EXPECT_EQ(mMenu->GetItem(1).text, "movie 11.mov");
  EXPECT_EQ(mMenu->GetItem(10).text, "movie 3.mov");
  EXPECT_EQ(mMenu->CommandFromIndex(1), LCommander::SyntheticCommandForMenuItem(MENU_RecentFiles, 1));
  EXPECT_TRUE(mMenu->GetItem(11).action->isSeparator());
  EXPECT_EQ(mMenu->GetItem(12).text, "Clear Menu");
  EXPECT_EQ(mMenu->GetItem(12).command, cmd_ClearRecentFiles);
}

TEST_F(RecentFilesTest, AFileThatNoLongerResolvesStaysAndIsDisabled) {
  Add(1);
  Add(2);
  ASSERT_EQ(::unlink((mTmp / "movie 1.mov").c_str()), 0);
  mMenu->UpdateCommandStatus();
  ASSERT_EQ(CRecentFiles::GetFileCount(), 2);
  EXPECT_NE(CRecentFiles::GetFile(2, nullptr, 0), noErr);
  EXPECT_TRUE(mMenu->GetItem(1).enabled);
  EXPECT_FALSE(mMenu->GetItem(2).enabled);
  EXPECT_EQ(mMenu->GetItem(2).text, "movie 1.mov");
  EXPECT_FALSE(mMenu->GetItem(2).action->isEnabled());
  EXPECT_TRUE(mMenu->GetItem(4).enabled);

  // Adding another file keeps the lost one, below the new file.
  Add(3);
  ASSERT_EQ(CRecentFiles::GetFileCount(), 3);
  EXPECT_EQ(mMenu->GetItem(3).text, "movie 1.mov");
}

TEST_F(RecentFilesTest, TheClearItemEmptiesTheList) {
  // Before any file: the clear item alone, no separator.
  CRecentFiles::UpdateRecentFileMenu();
  ASSERT_EQ(mMenu->CountItems(), 1);
  EXPECT_EQ(mMenu->GetItem(1).command, cmd_ClearRecentFiles);

  Add(1);
  Add(2);
  ASSERT_EQ(mMenu->CountItems(), 4);
  EXPECT_TRUE(mMenu->ChooseItem(4));
  EXPECT_EQ(CRecentFiles::GetFileCount(), 0);
  ASSERT_EQ(mMenu->CountItems(), 1);
  EXPECT_EQ(mMenu->GetItem(1).text, "Clear Menu");
  EXPECT_FALSE(mMenu->GetItem(1).action->isSeparator());
}
