#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "platform/base/LException.h"
#include "platform/files/TempFolder.h"
#include "platform/ui/Alerts.h"
#include "toolkit/CFileTester.h"
#include "toolkit/FileItem.h"
#include "toolkit/UFileUtils.h"

namespace {

class Watcher : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    if (inMessage != msg_FileChanged) return;
    mPaths.push_back(FSSpecPath(*static_cast<FSSpec*>(ioParam)));
    if (mStopWatching) UFileUtils::RemoveFromFileList(*static_cast<FSSpec*>(ioParam), this, false);
  }
  std::vector<std::string> mPaths;
  bool mStopWatching = false;
};

class WatchedFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UAlertResponder::Reset();
    UFileUtils::Init();
  }
  void TearDown() override {
    UFileUtils::Finish();
    UAlertResponder::Reset();
  }
  // One idle pass per watched file, plus the pass that wraps around.
  void Idle(int inPasses) {
    EventRecord e;
    for (int i = 0; i < inPasses; ++i) UFileUtils::mFileTester->SpendTime(e);
  }
  TempFolder mTmp;
};

}  // namespace

TEST_F(WatchedFilesTest, OpenCountsFollowTheListeners) {
  WriteText(mTmp / "a.mov", "a");
  FSSpec spec = mTmp.Spec("a.mov");
  Watcher one, two;
  UFileUtils::AddFileToList(spec, &one);
  UFileUtils::AddFileToList(spec, &two);
  EXPECT_EQ(UFileUtils::mFileList.GetCount(), 1);
  EXPECT_EQ(UFileUtils::GetOpenCount(spec), 2);
  UFileUtils::RemoveFromFileList(spec, &one, false);
  EXPECT_EQ(UFileUtils::GetOpenCount(spec), 1);
  UFileUtils::RemoveFromFileList(spec, &two, false);
  EXPECT_EQ(UFileUtils::GetOpenCount(spec), 0);
  EXPECT_EQ(UFileUtils::mFileList.GetCount(), 0);
  EXPECT_TRUE(FSSpecExists(spec));
  FSSpec missing = mTmp.Spec("none");
  EXPECT_THROW(UFileUtils::AddFileToList(missing, &one), LException);
}

TEST_F(WatchedFilesTest, ChangeRenameAndLossAreReported) {
  WriteText(mTmp / "a.mov", "a");
  WriteText(mTmp / "b.mov", "b");
  FSSpec a = mTmp.Spec("a.mov"), b = mTmp.Spec("b.mov");
  Watcher wa, wb;
  UFileUtils::AddFileToList(a, &wa);
  UFileUtils::AddFileToList(b, &wb);
  Idle(3);
  EXPECT_TRUE(wa.mPaths.empty());

  // A write within the same second is seen too.
  WriteText(mTmp / "a.mov", "changed");
  Idle(3);
  ASSERT_EQ(wa.mPaths.size(), 1u);
  EXPECT_EQ(wa.mPaths[0], mTmp / "a.mov");
  EXPECT_TRUE(wb.mPaths.empty());

  // Renamed: reported with the new place, and still watched there.
  ASSERT_EQ(FSpRename(&a, PText("steady.mov")), noErr);
  Idle(3);
  ASSERT_EQ(wa.mPaths.size(), 2u);
  EXPECT_EQ(wa.mPaths[1], mTmp / "steady.mov");
  FSSpec renamed = mTmp.Spec("steady.mov");
  EXPECT_EQ(UFileUtils::GetOpenCount(renamed), 1);
  Idle(3);
  EXPECT_EQ(wa.mPaths.size(), 2u);

  // Lost: reported once, then dropped from the list.
  ASSERT_EQ(FSpDelete(&b), noErr);
  Idle(3);
  ASSERT_EQ(wb.mPaths.size(), 1u);
  EXPECT_EQ(wb.mPaths[0], mTmp / "b.mov");
  EXPECT_EQ(UFileUtils::mFileList.GetCount(), 1);
  Idle(3);
  EXPECT_EQ(wb.mPaths.size(), 1u);
}

TEST_F(WatchedFilesTest, AListenerMayLeaveWhileBeingTold) {
  WriteText(mTmp / "a.mov", "a");
  FSSpec a = mTmp.Spec("a.mov");
  Watcher w;
  w.mStopWatching = true;
  UFileUtils::AddFileToList(a, &w);
  WriteText(mTmp / "a.mov", "changed");
  Idle(2);
  EXPECT_EQ(w.mPaths.size(), 1u);
  EXPECT_EQ(UFileUtils::mFileList.GetCount(), 0);
}

TEST_F(WatchedFilesTest, LastListenerCanSendTheFileToTheTrash) {
  WriteText(mTmp / "a.mov", "first");
  FSSpec a = mTmp.Spec("a.mov");
  Watcher w;
  UFileUtils::AddFileToList(a, &w);
  UFileUtils::RemoveFromFileList(a, &w, true);
  EXPECT_FALSE(FSSpecExists(a));
  EXPECT_EQ(ReadText(mTmp / "data/Trash/files/a.mov"), "first");

  // A second file of the same name gets a free name in the trash.
  WriteText(mTmp / "a.mov", "second");
  UFileUtils::AddFileToList(a, &w);
  UFileUtils::RemoveFromFileList(a, &w, true);
  EXPECT_EQ(ReadText(mTmp / "data/Trash/files/a.mov 2"), "second");
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());
}

TEST_F(WatchedFilesTest, FailedTrashMoveShowsAStopAlert) {
  WriteText(mTmp / "a.mov", "x");
  FSSpec a = mTmp.Spec("a.mov");
  Watcher w;
  FileSpecItem item(a, &w);
  // The trash folder cannot be made: a file stands where its parent should be.
  WriteText(mTmp / "data", "not a folder");
  EXPECT_NE(item.DeleteFile(), noErr);
  auto alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].kind, kAlertStopAlert);
  EXPECT_EQ(alerts[0].message, "Couldn't move file to trash!");
  EXPECT_TRUE(FSSpecExists(a));
}
