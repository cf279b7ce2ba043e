// The document base on a plain document window: closing with and without
// asking, the deferred save-as of a never-saved document, the quit chain
// from the event loop, alerts as sheets or application alerts, the proxy
// and modified mark, and the title helper.
#include <gtest/gtest.h>

#include <vector>

#include "app/CSingleDocument.h"
#include "app/MovieDocumentTestSupport.h"
#include "platform/base/LException.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/Alerts.h"
#include "toolkit/CRegularWindow.h"

namespace {

// A document that records its saves; closing deletes it as the base does.
class CTestDocument : public CSingleDocument {
 public:
  // Several shown windows at once are kept hidden here: the offscreen
  // platform lets them take the activation from each other.
  explicit CTestDocument(std::vector<CTestDocument*>* ioLive, const std::string& inTitle = "doc.txt",
                         bool inShown = true)
      : mLive(ioLive) {
    SWindowInfo info;
    info.title = inTitle;
    mWindow = new CRegularWindow(info, this);
    if (inShown) mWindow->Show();
    mLive->push_back(this);
  }
  ~CTestDocument() override { std::erase(*mLive, this); }
  void Save() override {
    ++mSaves;
    if (mSaveFails) Throw_(dskFulErr);
    SetModified(false);
  }
  using CSingleDocument::mCloseAfterSaveAs;
  int mSaves = 0;
  bool mSaveFails = false;

 private:
  std::vector<CTestDocument*>* mLive;
};

class SingleDocumentTest : public DocumentFixture {
 protected:
  void TearDown() override {
    while (!mLive.empty()) delete mLive.back();
    DocumentFixture::TearDown();
  }
  bool Settled(CSingleDocument* inDoc) {
    return UResponder::CountScripted() == 0 && (IsGone(inDoc) || (inDoc->CountQueued() == 0 && !inDoc->IsAsking()));
  }
  bool IsGone(CSingleDocument* inDoc) const {
    for (CTestDocument* d : mLive)
      if (d == inDoc) return false;
    return true;
  }
  std::vector<CTestDocument*> mLive;
};

TEST_F(SingleDocumentTest, AppendToDocTitlePutsTheSuffixBeforeTheExtension) {
  struct Case {
    const char* title;
    const char* expected;
  } cases[] = {{"movie.mov", "movie copy.mov"}, {"a.b.mov", "a.b copy.mov"}, {"plain", "plain copy"}, {"", " copy"}};
  for (const Case& c : cases) {
    LStr255 title(c.title);
    CSingleDocument::AppendToDocTitle(title, LStr255(" copy"));
    EXPECT_EQ(std::string(title.ConstTextPtr(), title.Length()), c.expected);
  }
}

TEST_F(SingleDocumentTest, ClosingAsksOnlyWhenModifiedAndTheOptionKeyIsUp) {
  auto* quiet = new CTestDocument(&mLive);
  quiet->AttemptClose(false);
  EXPECT_TRUE(IsGone(quiet));  // unmodified: closed at once, nothing asked

  auto* held = new CTestDocument(&mLive);
  held->SetModified(true);
  CSingleDocument::SetCurrentKeyModifiers(0x0800);
  held->AttemptClose(false);
  EXPECT_TRUE(IsGone(held));
  CSingleDocument::SetCurrentKeyModifiers(0);

  auto* noAsk = new CTestDocument(&mLive);
  noAsk->SetModified(true);
  CSingleDocument::sAskClosing = false;
  noAsk->ProcessCommand(cmd_Close);
  EXPECT_TRUE(IsGone(noAsk));
  CSingleDocument::sAskClosing = true;
}

TEST_F(SingleDocumentTest, AClosingAttemptWhileAQuestionIsOpenChangesNothingAndEndsAQuit) {
  auto* doc = new CTestDocument(&mLive);
  doc->SetModified(true);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  doc->AttemptClose(false);
  ASSERT_TRUE(doc->IsAsking());
  CSingleDocument::sQuitting = true;
  doc->AttemptClose(false);  // the question is still open
  EXPECT_FALSE(CSingleDocument::sQuitting);
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_FALSE(IsGone(doc));
  // Only one question was asked.
  int asked = 0;
  for (const SQuestion& q : UResponder::GetLog()) asked += q.kind == question_SaveChanges;
  EXPECT_EQ(asked, 1);
  // A question about saving on quit says so.
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  CSingleDocument::sQuitting = true;
  doc->AttemptClose(false);
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_NE(UResponder::GetLog().back().message.find("before quitting"), std::string::npos);
  EXPECT_FALSE(CSingleDocument::sQuitting);  // cancelled: the quit ends
}

TEST_F(SingleDocumentTest, SavingANeverSavedDocumentAsksWhereAfterTheFirstQuestionHasGone) {
  auto* doc = new CTestDocument(&mLive);
  doc->SetModified(true);
  EXPECT_FALSE(doc->IsSpecified());
  // Save chosen; the save-as question is asked later, from the procedure.
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  doc->AttemptClose(false);
  ASSERT_TRUE(PumpUntil([&] { return doc->CountQueued() > 0 || UResponder::CountScripted() == 0; }));
  // Cancelled save-as: open, the quit over.
  CSingleDocument::sQuitting = true;
  UResponder::Script(question_SaveFile, SAnswer::Cancel());
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_FALSE(IsGone(doc));
  EXPECT_FALSE(CSingleDocument::sQuitting);
  EXPECT_FALSE(doc->mCloseAfterSaveAs);
  std::vector<SQuestion> log = UResponder::GetLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].kind, question_SaveChanges);
  EXPECT_EQ(log.back().kind, question_SaveFile);
  // Saved as: the document takes the file, saves, then closes.
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  UResponder::Script(question_SaveFile, SAnswer::Path(Path("named.txt")));
  doc->AttemptClose(false);
  ASSERT_TRUE(PumpUntil([&] { return IsGone(doc); }));
}

TEST_F(SingleDocumentTest, ASaveThatFailsOnClosingKeepsTheDocumentOpenEndsTheQuitAndSaysWhy) {
  auto* doc = new CTestDocument(&mLive);
  FSSpec spec = mTmp.Spec("kept.txt");
  doc->SetFile(&spec);
  doc->SetSpecified(true);
  doc->SetModified(true);
  doc->mSaveFails = true;
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));  // Save
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  CSingleDocument::sQuitting = true;
  doc->AttemptClose(false);
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_EQ(doc->mSaves, 1);
  EXPECT_FALSE(IsGone(doc));
  EXPECT_TRUE(doc->IsModified());
  EXPECT_FALSE(CSingleDocument::sQuitting);
  const SQuestion alert = UResponder::GetLog().back();
  EXPECT_EQ(alert.kind, question_Alert);
  EXPECT_EQ(alert.parent, doc->GetWindow());
  EXPECT_NE(alert.explanation.find("Error: -34"), std::string::npos) << alert.explanation;
}

TEST_F(SingleDocumentTest, TheQuitClosesEveryDocumentOneAfterTheOtherFromTheEventLoop) {
  new CTestDocument(&mLive, "a", false);
  auto* b = new CTestDocument(&mLive, "b", false);
  auto* c = new CTestDocument(&mLive, "c", false);
  b->SetModified(true);
  CSingleDocument::sQuitting = true;
  CSingleDocument::sDisregardChanges = true;
  c->Close();
  // Not from inside the destructor: the next one closes at a later pass.
  EXPECT_EQ(mLive.size(), 2u);
  ASSERT_TRUE(PumpUntil([&] { return mLive.empty(); }));
  CSingleDocument::sDisregardChanges = false;

  // Asking: a cancel stops the quit with the rest open.
  auto* d = new CTestDocument(&mLive, "d", false);
  auto* e = new CTestDocument(&mLive, "e", false);
  auto* f = new CTestDocument(&mLive, "f", false);
  d->SetModified(true);
  e->SetModified(true);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  CSingleDocument::sQuitting = true;
  f->AttemptClose(false);
  ASSERT_TRUE(PumpUntil([&] {
    return !CSingleDocument::sQuitting && UResponder::CountScripted() == 0 && !e->IsAsking() && !d->IsAsking();
  }));
  Pump(50);
  EXPECT_TRUE(IsGone(f));
  EXPECT_FALSE(IsGone(e));
  EXPECT_FALSE(IsGone(d));
  int asked = 0;
  for (const SQuestion& q : UResponder::GetLog()) asked += q.kind == question_SaveChanges;
  EXPECT_EQ(asked, 1);
}

TEST_F(SingleDocumentTest, AlertsAreSheetsOnAVisibleWindowElseApplicationAlerts) {
  auto* doc = new CTestDocument(&mLive);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->StopAlert(LStr255("It broke"), -43);
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  SQuestion sheet = UResponder::GetLog().back();
  EXPECT_EQ(sheet.kind, question_Alert);
  EXPECT_EQ(sheet.message, "It broke");
  EXPECT_EQ(sheet.explanation, "The file could not be found.\rError: -43");
  EXPECT_EQ(sheet.parent, doc->GetWindow());
  EXPECT_EQ(UAlertResponder::GetBeepCount(), 1);
  // A four-character code is named by its text and its characters, not as
  // the number its low half makes; a text the message says is not repeated.
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->StopAlert(LStr255("It broke"), ErrorCodeToOSErr(err_NilPointer));
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_EQ(UResponder::GetLog().back().explanation, "A required object is missing.\rError: 'nilP'");
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->StopAlert(LStr255("It broke: A required object is missing."), ErrorCodeToOSErr(err_NilPointer));
  ASSERT_TRUE(PumpUntil([&] { return Settled(doc); }));
  EXPECT_EQ(UResponder::GetLog().back().explanation, "Error: 'nilP'");

  doc->GetWindow()->Hide();
  doc->CautionAlert(LStr255("Careful"), 0);
  std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].kind, kAlertCautionAlert);
  EXPECT_EQ(alerts[0].message, "Careful");
}

TEST_F(SingleDocumentTest, TheWindowFollowsTheModifiedStateAndTheFile) {
  auto* doc = new CTestDocument(&mLive);
  doc->SetModified(true);
  CSingleDocument::GetDocTester().SpendTime(EventRecord{});
  EXPECT_TRUE(doc->GetWindow()->IsModified());
  doc->SetModified(false);
  CSingleDocument::GetDocTester().SpendTime(EventRecord{});
  EXPECT_FALSE(doc->GetWindow()->IsModified());
  FSSpec spec = mTmp.Spec("file.txt");
  doc->SetFile(&spec);
  doc->SetSpecified(true);
  EXPECT_TRUE(doc->GetWindow()->HasProxyFile());
  doc->SetFile(nullptr);
  doc->SetSpecified(false);
  EXPECT_FALSE(doc->GetWindow()->HasProxyFile());
  EXPECT_TRUE(CSingleDocument::GetDocTester().FindDocument(doc));
  EXPECT_EQ(CSingleDocument::GetDocTester().FindTopDocument(false), doc);
  doc->GetWindow()->Hide();
  EXPECT_EQ(CSingleDocument::GetDocTester().FindTopDocument(false), nullptr);
  EXPECT_EQ(CSingleDocument::GetDocTester().FindTopDocument(true), doc);
}

TEST_F(SingleDocumentTest, AnAnswerArrivingAfterTheDocumentWentIsDropped) {
  auto* doc = new CTestDocument(&mLive);
  doc->SetModified(true);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(1));
  doc->AttemptClose(false);
  delete doc;  // before the answer is delivered
  Pump(50);
  EXPECT_TRUE(mLive.empty());
}

}  // namespace
