#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LAction.h"
#include "platform/framework/LUndoer.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CReUndoer.h"

namespace {

// Sets a value; undo puts the old one back.
class SetValueAction : public LAction {
 public:
  SetValueAction(int* ioValue, int inNew, int* ioLive = nullptr, bool inFail = false)
      : LAction(300, 1), mValue(ioValue), mNew(inNew), mLive(ioLive), mFail(inFail) {
    if (mLive) ++*mLive;
  }
  ~SetValueAction() override {
    if (mLive) --*mLive;
  }
  void Finalize() override { ++mFinalized; }
  static int mFinalized;

 protected:
  void RedoSelf() override {
    if (mFail) Throw_(-108);
    mOld = *mValue;
    *mValue = mNew;
  }
  void UndoSelf() override { *mValue = mOld; }

 private:
  int* mValue;
  int mNew;
  int mOld = 0;
  int* mLive;
  bool mFail;
};
int SetValueAction::mFinalized = 0;

class NotPostable : public SetValueAction {
 public:
  using SetValueAction::SetValueAction;
  Boolean IsPostable() const override { return false; }
};

// application -> document (with the undoer) -> target
class Document : public LCommander {
 public:
  explicit Document(LCommander* inSuper) : LCommander(inSuper) {}
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override {
    if (inCommand == cmd_Undo || inCommand == cmd_Redo) ++mSawUndoRedo;
    return LCommander::ObeyCommand(inCommand, ioParam);
  }
  int mSawUndoRedo = 0;
};

class UndoTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    LCommander::SetTopCommander(&mApp);
    mUndoer = new CReUndoer;
    mDoc.AddAttachment(mUndoer);
    LCommander::SwitchTarget(&mField);
    mEdit.AppendItem("Undo", cmd_Undo, 'Z');
    mEdit.AppendItem("Redo", cmd_Redo, 'Z', menuKey_Shift);
    SetValueAction::mFinalized = 0;
  }
  void TearDown() override {
    LCommander::SwitchTarget(nullptr);
    UBundle::SetMainBundlePath("");
    UiFixture::TearDown();
  }
  // The Edit menu as the user sees it just before it opens.
  std::string Item(SInt16 inItem) {
    mEdit.UpdateCommandStatus();
    return mEdit.GetItem(inItem).text;
  }
  bool Enabled(SInt16 inItem) {
    mEdit.UpdateCommandStatus();
    return mEdit.GetItem(inItem).enabled;
  }

  LCommander mApp;
  Document mDoc{&mApp};
  LCommander mField{&mDoc};
  CReUndoer* mUndoer = nullptr;
  LMenu mEdit{129, "Edit"};
};

}  // namespace

TEST_F(UndoTest, UndoAndRedoThroughTheEditMenu) {
  // Nothing held: both disabled with the lists' texts.
  EXPECT_EQ(Item(1), "Can't Undo");
  EXPECT_EQ(Item(2), "Can't Redo");
  EXPECT_FALSE(Enabled(1));
  EXPECT_FALSE(Enabled(2));

  int value = 1;
  mField.PostAction(new SetValueAction(&value, 2));  // done as it is posted
  EXPECT_EQ(value, 2);
  EXPECT_EQ(Item(1), "Undo Cut");
  EXPECT_TRUE(Enabled(1));
  EXPECT_EQ(Item(2), "Can't Redo");
  EXPECT_FALSE(Enabled(2));

  EXPECT_TRUE(mEdit.ChooseItem(1));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(Item(1), "Can't Undo");
  EXPECT_FALSE(Enabled(1));
  EXPECT_EQ(Item(2), "Redo Cut");
  EXPECT_TRUE(Enabled(2));

  EXPECT_TRUE(mEdit.ChooseItem(2));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(Item(1), "Undo Cut");
  EXPECT_EQ(Item(2), "Can't Redo");
  // A disabled item does nothing when chosen.
  EXPECT_FALSE(mEdit.ChooseItem(2));
  EXPECT_EQ(value, 2);
  // The undoer answered the commands itself: the document never saw them.
  EXPECT_EQ(mDoc.mSawUndoRedo, 0);
}

TEST_F(UndoTest, ACommandArrivingWhileItsItemIsDisabledNeverDoesTheOpposite) {
  int value = 1;
  mField.PostAction(new SetValueAction(&value, 2));
  // Redo while the action is done (a stale shortcut, a scripted command):
  // it must not undo.
  EXPECT_TRUE(mField.ProcessCommand(cmd_Redo));
  EXPECT_EQ(value, 2);
  EXPECT_TRUE(mField.ProcessCommand(cmd_Undo));
  EXPECT_EQ(value, 1);
  // Undo while it is undone must not redo.
  EXPECT_TRUE(mField.ProcessCommand(cmd_Undo));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(mField.ProcessCommand(cmd_Redo));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(mDoc.mSawUndoRedo, 0);
}

TEST_F(UndoTest, PostingReplacesDropsAndKeepsWhatIsSound) {
  int value = 0, live = 0;
  mField.PostAction(new SetValueAction(&value, 1, &live));
  mField.PostAction(new SetValueAction(&value, 2, &live));  // the first is finalized and deleted
  EXPECT_EQ(value, 2);
  EXPECT_EQ(live, 1);
  EXPECT_EQ(SetValueAction::mFinalized, 1);

  // A first redo that fails: the new action goes, the held one stays, and
  // the failure is shown to the user instead of escaping into the command.
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  EXPECT_NO_THROW(mField.PostAction(new SetValueAction(&value, 9, &live, true)));
  EXPECT_EQ(live, 1);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(Item(1), "Undo Cut");
  auto log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, question_Alert);
  EXPECT_NE(log[0].explanation.find("-108"), std::string::npos) << log[0].explanation;
  // The held action still undoes and redoes as before.
  EXPECT_TRUE(mEdit.ChooseItem(1));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(mEdit.ChooseItem(2));
  EXPECT_EQ(value, 2);

  // An action that cannot be posted is done and dropped; the held one stays.
  mField.PostAction(new NotPostable(&value, 3, &live));
  EXPECT_EQ(value, 3);
  EXPECT_EQ(live, 1);

  // A nil post lets the held action go.
  mField.PostAction(nullptr);
  EXPECT_EQ(live, 0);
  EXPECT_EQ(Item(1), "Can't Undo");

  // Without an undoer on the chain an action is done and deleted.
  mDoc.RemoveAttachment(mUndoer);
  mField.PostAction(new SetValueAction(&value, 4, &live));
  EXPECT_EQ(value, 4);
  EXPECT_EQ(live, 0);
  delete mUndoer;
}

TEST_F(UndoTest, TheFrameworkUndoerTogglesOneItem) {
  mDoc.RemoveAttachment(mUndoer);
  delete mUndoer;
  auto* undoer = new LUndoer;
  mDoc.AddAttachment(undoer);
  int value = 1;
  EXPECT_EQ(Item(1), "Can't Undo");
  mField.PostAction(new SetValueAction(&value, 5));
  EXPECT_EQ(Item(1), "Undo Cut");
  EXPECT_TRUE(mEdit.ChooseItem(1));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(Item(1), "Redo Cut");
  EXPECT_TRUE(mEdit.ChooseItem(1));
  EXPECT_EQ(value, 5);
  // The held action goes with the undoer.
  mDoc.RemoveAttachment(undoer);
  delete undoer;
  EXPECT_EQ(SetValueAction::mFinalized, 1);
}
