// The application object: its start-up order and fatal steps, the first
// launch, the commands it answers, opening movies by type, and quitting
// while movies are modified. Documents here are small stand-ins with real
// windows, so the rules are checked on their own.
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QListView>
#include <QMimeData>
#include <QUrl>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/base/LException.h"
#include "support/movies/RawMovie.h"
#include "app/CExportMovie.h"
#include "app/CPreferences.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/TremblorixApp.h"
#include "app/TremblorixAppDocuments.h"
#include "app/TremblorixAppScript.h"
#include "media/CMovie.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/files/Scrap.h"
#include "platform/files/TempFolder.h"
#include "platform/movies/Movies.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/files/Resources.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UResponder.h"
#include "platform/framework/UEventLoop.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CWindowMenu.h"
#include "toolkit/UMessage.h"

namespace {

constexpr OSType kAllTypes = 0x3F3F3F3F;  // all readable files

// An application whose start-up steps are recorded, one of which may fail;
// the export client is not launched here and help pages are only noted.
class TestApp : public TremblorixApp {
 public:
  std::vector<EStartStep> mSteps;
  EStartStep mFailAt = static_cast<EStartStep>(0);
  OSErr mFailWith = noErr;
  std::vector<std::string> mPages;
  Boolean mExited = false;
  Boolean mExportAllowsQuit = true;

  OSErr RunStartStep(EStartStep inStep) override {
    mSteps.push_back(inStep);
    if (inStep == mFailAt) return mFailWith;
    if (inStep == startStep_ExportClient || inStep == startStep_HelpBook) return noErr;
    return TremblorixApp::RunStartStep(inStep);
  }
  void GotoHelpPage(const std::string& inPage) override { mPages.push_back(inPage); }
  void ExitToShell() override {
    mExited = true;
    TremblorixApp::ExitToShell();
  }
  Boolean AttemptQuit(SInt32 inOption) override { return mExportAllowsQuit && TremblorixApp::AttemptQuit(inOption); }
};

// A stand-in document: a shown document window, a modified flag and, when
// asked to close while modified, the save-changes question. While quitting,
// a closed document closes the next one, as the documents' quit sequence does.
class FakeDocs;
class FakeDoc : public CAppDocument, public LCommander {
 public:
  FakeDoc(FakeDocs* inOwner, const std::string& inTitle, Boolean inModified, const std::string& inPath = "")
      : mOwner(inOwner), mModified(inModified), mPath(inPath) {
    SWindowInfo info;
    info.title = inTitle;
    info.width = 240;
    info.height = 120;
    mWindow = new LWindow(info, this);
    mWindow->Show();
  }
  ~FakeDoc() override { delete mWindow; }
  Boolean IsModified() const override { return mModified; }
  LWindow* GetWindow() const override { return mWindow; }
  Boolean UsesFile(const FSSpec& inSpec) const override {
    return !mPath.empty() && FSSpecPath(inSpec) == mPath;
  }
  void MakeCurrent() override {
    ++mMadeCurrent;
    mWindow->Select();
  }
  void AttemptClose(Boolean) override;
  Boolean IsTaskRunning() const override { return mTaskPasses > 0; }
  void StopTask() override {
    ++mStopRequests;
    if (mStopCounter) ++*mStopCounter;
    --mTaskPasses;  // the task ends a few passes after it is asked to
  }
  Boolean IsAsking() const override { return mAsking; }
  void Close() override;
  LCommander* GetCommander() override { return this; }
  int mTaskPasses = 0;
  int mStopRequests = 0;
  int* mStopCounter = nullptr;  // outlives the document
  Boolean mAsking = false;

  FakeDocs* mOwner;
  Boolean mModified;
  std::string mPath;
  LWindow* mWindow = nullptr;
  int mMadeCurrent = 0;
  int mCloseAttempts = 0;
};

class FakeDocs {
 public:
  FakeDocs() {
    mProvider.list = [this] {
      std::vector<CAppDocument*> v;
      for (auto& d : mDocs) v.push_back(d.get());
      return v;
    };
    mProvider.open = [this](FSSpec* inSpec) -> CAppDocument* {
      std::string path = FSSpecPath(*inSpec);
      mOpened.push_back(path);
      return Add("opened", false, path);
    };
    mProvider.make = [this](CMovie* inMovie) -> CAppDocument* {
      mMadeFrom.reset(inMovie);
      return Add("untitled", true);
    };
    UAppDocuments::SetProvider(&mProvider);
  }
  ~FakeDocs() {
    mDocs.clear();
    UAppDocuments::SetProvider(nullptr);
  }
  FakeDoc* Add(const std::string& inTitle, Boolean inModified, const std::string& inPath = "") {
    mDocs.push_back(std::make_unique<FakeDoc>(this, inTitle, inModified, inPath));
    return mDocs.back().get();
  }
  void Remove(FakeDoc* inDoc) {
    for (auto it = mDocs.begin(); it != mDocs.end(); ++it)
      if (it->get() == inDoc) {
        mClosed.push_back(inDoc->mWindow->GetTitle());
        mDocs.erase(it);
        return;
      }
  }
  std::vector<std::unique_ptr<FakeDoc>> mDocs;
  std::vector<std::string> mClosed;
  std::vector<std::string> mOpened;
  std::unique_ptr<CMovie> mMadeFrom;
  UAppDocuments::SProvider mProvider;
};

void FakeDoc::Close() {
  if (mTaskPasses > 0) ADD_FAILURE() << mWindow->GetTitle() << " closed while its task runs";
  if (mAsking) ADD_FAILURE() << mWindow->GetTitle() << " closed under its sheet";
  mOwner->Remove(this);
}

void FakeDoc::AttemptClose(Boolean) {
  ++mCloseAttempts;
  if (mModified && !UAppDocuments::GetDisregardChanges()) {
    SQuestion q;
    q.kind = question_SaveChanges;
    q.message = "Save changes to " + mWindow->GetTitle() + "?";
    SAnswer a = UResponder::AskAndWait(q);
    if (a.cancelled || a.choice == 3) {
      UAppDocuments::SetQuitting(false, false);
      return;
    }
  }
  FakeDocs* owner = mOwner;
  owner->Remove(this);  // deletes this
  if (UAppDocuments::IsQuitting()) {
    std::vector<CAppDocument*> rest = UAppDocuments::GetDocuments();
    if (!rest.empty()) rest.front()->AttemptClose(false);
  }
}

class ApplicationTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    mOldHome = ::getenv("HOME") ? ::getenv("HOME") : "";
    ::setenv("HOME", mTmp.Path().c_str(), 1);
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    CPreferences::Reset();
    CRecentFiles::Delete();
    UScrap::Reset();
    TremblorixApp::SetCurrentFileType(kAllTypes);
  }
  void TearDown() override {
    CRecentFiles::Delete();
    CPreferences::Reset();
    UScrap::Reset();
    UBundle::SetMainBundlePath("");
    ::setenv("HOME", mOldHome.c_str(), 1);
    UiFixture::TearDown();
  }
  static std::string AppText(SInt16 inIndex) { return IndString(STRx_Application, inIndex); }
  std::string MakeFile(const std::string& inName) {
    std::ofstream(mTmp / inName) << "not really a movie";
    return mTmp / inName;
  }
  FSSpec Spec(const std::string& inPath) {
    FSSpec spec;
    FSMakeFSSpecFromPath(inPath, &spec);
    return spec;
  }
  TempFolder mTmp;
  std::string mOldHome;
};

std::vector<EStartStep> AllSteps() {
  std::vector<EStartStep> v;
  for (int s = startStep_VectorUnit; s <= startStep_Count; ++s) v.push_back(static_cast<EStartStep>(s));
  return v;
}

}  // namespace

TEST_F(ApplicationTest, StartsUpInOrderAndOpensTheQuickStartPageOnTheFirstLaunchOnly) {
  {
    TestApp app;
    app.Initialize();
    EXPECT_EQ(app.mSteps, AllSteps());
    EXPECT_FALSE(app.mExited);
    EXPECT_TRUE(UAlertResponder::GetRecorded().empty());
    EXPECT_EQ(app.mPages, (std::vector<std::string>{"Introduction/QuickStart.html"}));
    // The menu bar: File, Edit, Movie, View, Window, Help; the help items
    // follow the help book's item.
    LMenuBar* bar = app.GetMenuBar();
    ASSERT_NE(bar, nullptr);
    std::vector<SInt16> ids;
    for (LMenu* m : bar->GetMenus()) ids.push_back(m->GetMenuID());
    EXPECT_EQ(ids, (std::vector<SInt16>{128, 129, 130, 132, 140, 131}));
    LMenu* help = bar->FetchMenu(MENU_Help);
    EXPECT_EQ(gHelpMenuItemIndex, 2);
    ASSERT_EQ(help->CountItems(), 4);
    EXPECT_EQ(help->GetItem(3).text, AppText(5));
    LMenu* file = bar->FetchMenu(MENU_File);
    EXPECT_EQ(file->GetItem(3).submenuID, MENU_RecentFiles);
    // An idle program has no repeater of its own: a quit starts it.
    EXPECT_FALSE(app.IsRepeating());
  }
  // The second launch finds its preferences: no help page.
  TestApp again;
  again.Initialize();
  EXPECT_TRUE(again.mPages.empty());
  EXPECT_FALSE(CPreferences::IsFirstLaunch());
}

TEST_F(ApplicationTest, AFatalStartUpStepEndsWithAStopAlertOfItsTextAndCode) {
  struct Case {
    EStartStep step;
    OSErr err;
    std::string text;
  };
  const Case cases[] = {{startStep_Movies, -1, AppText(1)},
                        {startStep_FileUtils, -36, AppText(1)},
                        {startStep_ExportClient, -600, AppText(2)},
                        {startStep_HelpMenu, -108, AppText(1)},
                        {startStep_Preferences, -43, AppText(1)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    UAlertResponder::Reset();
    CPreferences::Reset();
    TestApp app;
    app.mFailAt = c.step;
    app.mFailWith = c.err;
    app.Run();  // returns at once: the program ends
    EXPECT_TRUE(app.mExited);
    EXPECT_EQ(app.GetExitCode(), 1);
    EXPECT_EQ(app.mSteps.back(), c.step);
    std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].kind, kAlertStopAlert);
    EXPECT_EQ(alerts[0].message, c.text);
    LStr255 named;
    ASSERT_TRUE(UMessage::GetOSErrString(c.err, named));
    EXPECT_EQ(alerts[0].explanation, std::string(named.ConstTextPtr(), named.Length()) + "\rError: " +
                                         std::to_string(c.err));
  }
  // A missing help book is only noted: start-up goes on.
  UAlertResponder::Reset();
  TestApp app;
  app.mFailAt = startStep_HelpBook;
  app.mFailWith = -43;
  app.Initialize();
  EXPECT_FALSE(app.mExited);
  EXPECT_EQ(app.mSteps, AllSteps());
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());
}

TEST_F(ApplicationTest, LaunchWithoutFilesOpensNoWindowAndLaunchFilesOpen) {
  FakeDocs docs;
  std::string script = mTmp / "quit.txt";
  std::ofstream(script) << "wait 0.05\nuntil windows=0 5\nquit\n";
  {
    TestApp app;
    CAppScript runner(script);
    app.Run();
    EXPECT_EQ(app.GetExitCode(), 0);
    EXPECT_EQ(runner.GetResult(), 0);
    EXPECT_TRUE(UDesktop::GetWindowsOfClass(kDocumentWindowClass).empty());
  }
  std::string movie = MakeFile("launch.mov");
  std::ofstream(script) << "until windows=1 5\nshot launched\n";
  TestApp app;
  app.SetLaunchFiles({Spec(movie)});
  std::ofstream(script, std::ios::app) << "quit\n";
  CAppScript runner(script);
  ASSERT_TRUE(std::ofstream(mTmp / "out").good() || true);
  app.Run();
  EXPECT_EQ(runner.GetResult(), 0);
  EXPECT_EQ(docs.mOpened, (std::vector<std::string>{movie}));
  EXPECT_TRUE(docs.mDocs.empty());  // quitting closed it
}

TEST_F(ApplicationTest, NewIsEnabledOnlyWithAMovieOnTheClipboardAndMakesADocumentFromIt) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  Boolean enabled = true, usesMark = false;
  UInt16 mark = 0;
  Str255 name = {0};
  app.FindCommandStatus(cmd_New, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(app.MakeNewDocument(), nullptr);

  // A movie of 3 frames on the clipboard.
  testmovies::RawMovieOptions options;
  options.timeScale = 100;
  options.frameDuration = 10;
  Movie m = testmovies::MakeRawMovie(
      4, 4, 3, [](SInt32, UInt8* outPixels, size_t inRowBytes) { std::memset(outPixels, 0, 4 * inRowBytes); }, options);
  ASSERT_EQ(PutMovieOnScrap(m, 0), noErr);
  DisposeMovie(m);

  app.FindCommandStatus(cmd_New, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  LCommander* made = app.MakeNewDocument();
  ASSERT_NE(made, nullptr);
  ASSERT_NE(docs.mMadeFrom, nullptr);
  EXPECT_EQ(GetMovieDuration(docs.mMadeFrom->GetMovie()), 30);
  EXPECT_EQ(GetMovieTrackCount(docs.mMadeFrom->GetMovie()), 1);
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());

  // Bytes that are no movie: the new-document alert, no document.
  ScrapRef scrap = nullptr;
  ClearCurrentScrap();
  GetCurrentScrap(&scrap);
  PutScrapFlavor(scrap, 'moov', kScrapFlavorMaskNone, 8, "garbage!");
  EXPECT_EQ(app.MakeNewDocument(), nullptr);
  ASSERT_EQ(UAlertResponder::GetRecorded().size(), 1u);
  EXPECT_EQ(UAlertResponder::GetRecorded()[0].message, AppText(16));
  EXPECT_EQ(docs.mDocs.size(), 1u);
}

TEST_F(ApplicationTest, OpensByStoredTypeOrNameRefusesOthersAndBringsAnOpenOneForward) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  // By the name's type.
  std::string mov = MakeFile("clip.mov"), mp4 = MakeFile("clip.mp4"), avi = MakeFile("clip.avi");
  for (const std::string& p : {mov, mp4, avi}) {
    FSSpec spec = Spec(p);
    app.OpenDocument(&spec);
  }
  EXPECT_EQ(docs.mOpened, (std::vector<std::string>{mov, mp4, avi}));
  EXPECT_EQ(CRecentFiles::GetFileCount(), 3);
  // By the stored type though the name says nothing.
  std::string odd = MakeFile("camera-take");
  FSSpec oddSpec = Spec(odd);
  FInfo info{};
  FSpGetFInfo(&oddSpec, &info);
  info.fdType = 'MooV';
  ASSERT_EQ(FSpSetFInfo(&oddSpec, &info), noErr);
  app.OpenDocument(&oddSpec);
  EXPECT_EQ(docs.mOpened.back(), odd);
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());

  // Neither: the note alert, nothing opened.
  std::string text = MakeFile("notes.txt");
  FSSpec textSpec = Spec(text);
  app.OpenDocument(&textSpec);
  EXPECT_EQ(docs.mOpened.size(), 4u);
  ASSERT_EQ(UAlertResponder::GetRecorded().size(), 1u);
  EXPECT_EQ(UAlertResponder::GetRecorded()[0].kind, kAlertNoteAlert);
  EXPECT_EQ(UAlertResponder::GetRecorded()[0].message, AppText(14));
  EXPECT_EQ(UAlertResponder::GetRecorded()[0].explanation, "");

  // Already open: brought forward, not opened again nor added again.
  FakeDoc* first = docs.mDocs.front().get();
  ASSERT_NE(UDesktop::FetchTopRegular(), first->GetWindow());
  FSSpec movSpec = Spec(mov);
  app.OpenDocument(&movSpec);
  EXPECT_EQ(first->mMadeCurrent, 1);
  EXPECT_EQ(UDesktop::FetchTopRegular(), first->GetWindow());
  EXPECT_EQ(docs.mOpened.size(), 4u);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 4);

  // A missing file: the stop alert with its code; a cancelled open is silent.
  FSSpec gone = Spec(mTmp / "gone.mov");
  app.OpenDocument(&gone);
  ASSERT_EQ(UAlertResponder::GetRecorded().size(), 2u);
  EXPECT_EQ(UAlertResponder::GetRecorded()[1].kind, kAlertStopAlert);
  EXPECT_EQ(UAlertResponder::GetRecorded()[1].explanation, "Error: -43");
  docs.mProvider.open = [](FSSpec*) -> CAppDocument* { Throw_(userCanceledErr); };
  std::string more = MakeFile("more.mov");
  FSSpec moreSpec = Spec(more);
  app.OpenDocument(&moreSpec);
  EXPECT_EQ(UAlertResponder::GetRecorded().size(), 2u);

  // The recent-files item of a file that is open carries the check mark.
  Boolean enabled = false, usesMark = false;
  UInt16 mark = 0;
  Str255 name = {0};
  CommandT item2 = -((static_cast<SInt32>(MENU_RecentFiles) << 16) | 4);  // the oldest entry: clip.mov
  app.FindCommandStatus(item2, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  EXPECT_TRUE(usesMark);
  EXPECT_EQ(mark, 18);
  app.FindCommandStatus(cmd_ClearRecentFiles, enabled, usesMark, mark, name);
  EXPECT_TRUE(enabled);
  app.ObeyCommand(cmd_ClearRecentFiles, nullptr);
  app.FindCommandStatus(cmd_ClearRecentFiles, enabled, usesMark, mark, name);
  EXPECT_FALSE(enabled);
}

TEST_F(ApplicationTest, TheOpenDialogListsTheTypesAndRemembersThePopup) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  const auto& entries = TremblorixApp::GetOpenFileMenuData();
  ASSERT_EQ(entries.size(), 8u);
  EXPECT_EQ(entries[0].type, static_cast<OSType>(kAllTypes));
  EXPECT_EQ(entries[1].name, "-");
  EXPECT_EQ(entries[2].type, static_cast<OSType>('MooV'));
  EXPECT_EQ(entries[7].type, static_cast<OSType>('SWFL'));

  // The user picks "AVI Movies" (the fourth entry listed) and a file.
  std::string avi = MakeFile("holiday.avi");
  SAnswer pick = SAnswer::Path(avi);
  pick.choice = 4;
  UResponder::Script(question_OpenFile, pick);
  app.ChooseDocument();
  UiTest::PumpUntil([&] { return !docs.mOpened.empty(); });
  EXPECT_EQ(docs.mOpened, (std::vector<std::string>{avi}));
  EXPECT_EQ(TremblorixApp::GetCurrentFileType(), static_cast<OSType>('VfW '));
  // The next dialog opens on that type; cancelling opens nothing.
  UResponder::Script(question_OpenFile, SAnswer::Cancel());
  app.ChooseDocument();
  UiTest::Pump(30);
  std::vector<SQuestion> log = UResponder::GetLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].defaultChoice, 4);
  EXPECT_EQ(log[1].choices.size(), 7u);
  EXPECT_EQ(docs.mOpened.size(), 1u);
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());

  // The filter: by stored type or name, all readable or one type.
  std::string mov = MakeFile("a.mov"), txt = MakeFile("a.txt");
  EXPECT_TRUE(TremblorixApp::FilterShowsFile(Spec(mov), kAllTypes));
  EXPECT_FALSE(TremblorixApp::FilterShowsFile(Spec(txt), kAllTypes));
  EXPECT_TRUE(TremblorixApp::FilterShowsFile(Spec(avi), 'VfW '));
  EXPECT_FALSE(TremblorixApp::FilterShowsFile(Spec(mov), 'VfW '));
}

TEST_F(ApplicationTest, CommandStatusOfTheApplicationItems) {
  TestApp app;
  app.Initialize();
  struct Row {
    CommandT command;
    Boolean enabled;
  };
  for (Row r : {Row{cmd_About, true}, Row{cmd_Open, true}, Row{cmd_PageSetup, false}, Row{cmd_Print, false},
                Row{cmd_Quit, true}, Row{cmd_Undo, false}, Row{cmd_ExportTasksWindow, true},
                Row{cmd_AppAccepted6150, true}, Row{cmd_AppAccepted20000, true}, Row{cmd_RecentFilesItem, true}}) {
    Boolean enabled = !r.enabled, usesMark = false;
    UInt16 mark = 0;
    Str255 name = {0};
    app.FindCommandStatus(r.command, enabled, usesMark, mark, name);
    EXPECT_EQ(enabled, r.enabled) << r.command;
    if (r.command == cmd_ExportTasksWindow) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), AppText(13));
    }
  }
  for (CommandT c : {cmd_AppAccepted201, cmd_AppAccepted6150, cmd_AppAccepted20000}) EXPECT_TRUE(app.ObeyCommand(c, nullptr));
  // The help items open their pages.
  CommandT license = -((static_cast<SInt32>(MENU_Help) << 16) | gHelpMenuItemIndex);
  CommandT quick = -((static_cast<SInt32>(MENU_Help) << 16) | (gHelpMenuItemIndex + 1));
  CommandT mail = -((static_cast<SInt32>(MENU_Help) << 16) | (gHelpMenuItemIndex + 2));
  app.mPages.clear();
  EXPECT_TRUE(app.ObeyCommand(license, nullptr));
  EXPECT_TRUE(app.ObeyCommand(quick, nullptr));
  EXPECT_EQ(app.mPages, (std::vector<std::string>{"Introduction/LicenseAgreement.html", "Introduction/QuickStart.html"}));
  EXPECT_TRUE(app.ObeyCommand(mail, nullptr));
  EXPECT_EQ(TremblorixApp::GetLastURL(), AppText(10) + "1.0");
}

TEST_F(ApplicationTest, TheAboutBoxShowsTheVersionAndClosesOnOK) {
  TestApp app;
  app.Initialize();
  // Photographs the box once it shows, then presses OK, from the loop the
  // box runs.
  struct Presser : LPeriodical {
    LWindow* shown = nullptr;
    std::string version;
    void SpendTime(const EventRecord&) override {
      LWindow* box = UDesktop::FetchTopModal();
      if (!box || shown) return;
      shown = box;
      if (auto* v = dynamic_cast<LCaption*>(box->FindPaneByID(kAboutVersionPane))) version = v->GetText();
      UiTest::Screenshot(box->GetFrameWidget(), "application_about_box");
      if (auto* ok = dynamic_cast<LControl*>(box->FindPaneByID(900))) ok->SimulateHotSpotClick(0);
    }
  } presser;
  presser.StartRepeating();
  app.ShowAboutBox();
  EXPECT_NE(presser.shown, nullptr);
  EXPECT_EQ(presser.version, "v.1.0");
  EXPECT_EQ(UDesktop::FetchTopModal(), nullptr);
}

TEST_F(ApplicationTest, TheAboutBoxsTitleBarCloseButtonEndsItAsItsCancel) {
  TestApp app;
  app.Initialize();
  // Closes the box with the desktop's title-bar button once it shows; should
  // that not end the box, OK does (or, with the box gone under its loop, the
  // program's quitting), and the test fails.
  struct Closer : LPeriodical {
    TestApp* app = nullptr;
    LWindow* shown = nullptr;
    int passes = 0;
    int gonePasses = 0;
    bool closedByOK = false;
    bool quitForced = false;
    bool refused = false;
    void SpendTime(const EventRecord&) override {
      LWindow* box = UDesktop::FetchTopModal();
      if (!box) {
        if (shown && ++gonePasses == 200) {
          quitForced = true;
          app->DoQuit();
        }
        return;
      }
      if (!shown) {
        shown = box;
        refused = !box->GetFrameWidget()->close();
        return;
      }
      if (++passes == 200 && box == shown) {
        closedByOK = true;
        if (auto* ok = dynamic_cast<LControl*>(box->FindPaneByID(900))) ok->SimulateHotSpotClick(0);
      }
    }
  } closer;
  closer.app = &app;
  closer.StartRepeating();
  app.ShowAboutBox();
  closer.StopRepeating();
  ASSERT_FALSE(closer.quitForced);
  EXPECT_NE(closer.shown, nullptr);
  EXPECT_TRUE(closer.refused);  // the box's handler ends it, not the close event
  EXPECT_FALSE(closer.closedByOK);
  EXPECT_EQ(UDesktop::FetchTopModal(), nullptr);
  // The box can be shown again.
  closer.shown = nullptr;
  closer.passes = 0;
  closer.StartRepeating();
  app.ShowAboutBox();
  closer.StopRepeating();
  EXPECT_NE(closer.shown, nullptr);
  EXPECT_FALSE(closer.closedByOK);
  EXPECT_EQ(UDesktop::FetchTopModal(), nullptr);
}

// ---------------------------------------------------------------------------
// Quitting

TEST_F(ApplicationTest, QuitWithNothingModifiedOrOneModifiedInFront) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  // No documents: the program may quit at once.
  EXPECT_TRUE(app.AttemptQuit(kAESaveOptionAsk));

  // Two unmodified: closed one after the other without a question; the
  // repeating task then ends the program.
  docs.Add("one", false);
  docs.Add("two", false);
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_TRUE(docs.mDocs.empty());
  EXPECT_EQ(docs.mClosed, (std::vector<std::string>{"two", "one"}));
  EXPECT_TRUE(app.IsRepeating());
  app.SpendTime(EventRecord{});
  EXPECT_EQ(app.GetState(), programState_Quitting);
  EXPECT_TRUE(UResponder::GetLog().empty());
}

TEST_F(ApplicationTest, QuitWithOneModifiedAsksItsOwnQuestionAndCancelStops) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  docs.Add("plain", false);
  docs.Add("changed", true);  // in front
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));  // cancel
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  ASSERT_EQ(UResponder::GetLog().size(), 1u);
  EXPECT_EQ(UResponder::GetLog()[0].kind, question_SaveChanges);
  EXPECT_EQ(docs.mDocs.size(), 2u);
  EXPECT_FALSE(UAppDocuments::IsQuitting());
  app.SpendTime(EventRecord{});
  EXPECT_NE(app.GetState(), programState_Quitting);

  UResponder::Script(question_SaveChanges, SAnswer::Choice(2));  // don't save
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_TRUE(docs.mDocs.empty());
  for (const SQuestion& q : UResponder::GetLog()) EXPECT_NE(q.kind, question_ReviewChanges);
  app.SpendTime(EventRecord{});
  EXPECT_EQ(app.GetState(), programState_Quitting);
}

TEST_F(ApplicationTest, QuitWithTwoModifiedReviewsDiscardsOrCancels) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  docs.Add("first", true);
  docs.Add("second", true);
  // Cancel: nothing changes.
  UResponder::Script(question_ReviewChanges, SAnswer::Choice(3));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_EQ(docs.mDocs.size(), 2u);
  EXPECT_FALSE(UAppDocuments::IsQuitting());
  // Review: each asks its own question; the second one cancels the quit.
  UResponder::Script(question_ReviewChanges, SAnswer::Choice(1));
  UResponder::Script(question_SaveChanges, SAnswer::Choice(2));
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_EQ(docs.mClosed, (std::vector<std::string>{"second"}));
  EXPECT_FALSE(UAppDocuments::IsQuitting());
  // Discard (with one more): every document closes through its own close,
  // asking nothing.
  docs.Add("third", true);
  size_t asked = UResponder::GetLog().size();
  UResponder::Script(question_ReviewChanges, SAnswer::Choice(2));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  UiTest::PumpUntil([&] { return docs.mDocs.empty(); }, 1000);
  EXPECT_TRUE(docs.mDocs.empty());
  EXPECT_EQ(UResponder::GetLog().size(), asked + 1);
  EXPECT_EQ(docs.mClosed, (std::vector<std::string>{"second", "third", "first"}));
  app.SpendTime(EventRecord{});
  EXPECT_EQ(app.GetState(), programState_Quitting);
}

TEST_F(ApplicationTest, QuitDeclinedForARunningExportClosesNothing) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  docs.Add("changed", true);
  app.mExportAllowsQuit = false;
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_EQ(docs.mDocs.size(), 1u);
  EXPECT_TRUE(UResponder::GetLog().empty());
  EXPECT_FALSE(UAppDocuments::IsQuitting());
}

TEST_F(ApplicationTest, QuitAsksForModifiedMoviesWhenTheFrontWindowIsNoDocuments) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  FakeDoc* changed = docs.Add("changed", true);
  // A window in front that belongs to no document (the export tasks).
  SWindowInfo info;
  info.title = "Export Tasks";
  auto* tasks = new LWindow(info, &app);
  tasks->Show();
  tasks->Select();
  ASSERT_EQ(UDesktop::FetchTopRegular(), tasks);
  EXPECT_EQ(TremblorixApp::FindQuitDocument(), changed);
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  ASSERT_EQ(UResponder::GetLog().size(), 1u);
  EXPECT_EQ(UResponder::GetLog()[0].kind, question_SaveChanges);
  EXPECT_EQ(docs.mDocs.size(), 1u);
  // A hidden document window asks too.
  changed->GetWindow()->Hide();
  UResponder::Script(question_SaveChanges, SAnswer::Choice(3));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  EXPECT_EQ(UResponder::GetLog().size(), 2u);
  EXPECT_EQ(docs.mDocs.size(), 1u);
  delete tasks;
}

TEST_F(ApplicationTest, DiscardStopsARunningAnalysisFirstAndNeverClosesUnderASheet) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  FakeDoc* analysing = docs.Add("analysing", true);
  analysing->mTaskPasses = 3;
  int stops = 0;
  analysing->mStopCounter = &stops;
  docs.Add("front", true);
  UResponder::Script(question_ReviewChanges, SAnswer::Choice(2));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  UiTest::PumpUntil([&] { return docs.mDocs.empty(); }, 1000);
  EXPECT_TRUE(docs.mDocs.empty());
  EXPECT_EQ(stops, 3);  // asked until its task had ended
  app.SpendTime(EventRecord{});
  EXPECT_EQ(app.GetState(), programState_Quitting);
}

TEST_F(ApplicationTest, DiscardStopsAtADocumentShowingASheet) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  FakeDoc* asking = docs.Add("asking", true);
  asking->mAsking = true;
  docs.Add("front", true);
  UResponder::Script(question_ReviewChanges, SAnswer::Choice(2));
  EXPECT_FALSE(app.AttemptQuit(kAESaveOptionAsk));
  UiTest::Pump(100);
  // The front one closed; the asking one stays, in front, and the program goes on.
  ASSERT_EQ(docs.mDocs.size(), 1u);
  EXPECT_EQ(docs.mDocs.front().get(), asking);
  EXPECT_EQ(asking->mMadeCurrent, 1);
  EXPECT_FALSE(UAppDocuments::IsQuitting());
  app.SpendTime(EventRecord{});
  EXPECT_NE(app.GetState(), programState_Quitting);
}

TEST_F(ApplicationTest, MovieFilesDroppedOnAWindowOpen) {
  FakeDocs docs;
  TestApp app;
  app.Initialize();
  FakeDoc* target = docs.Add("target", false);
  std::string a = MakeFile("dropped.mov"), b = MakeFile("other.avi");
  QWidget* frame = target->GetWindow()->GetFrameWidget();
  UiTest::Pump(20);
  ASSERT_TRUE(frame->acceptDrops());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(frame, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(frame, &drop);
  UiTest::PumpUntil([&] { return docs.mOpened.size() == 2; }, 1000);
  EXPECT_EQ(docs.mOpened, (std::vector<std::string>{a, b}));
}

TEST_F(ApplicationTest, TheOpenDialogListsFilesByStoredTypeAndItsTypeOutlivesTheLaunch) {
  FakeDocs docs;
  {
    TestApp app;
    app.Initialize();
    // A movie with a stored type and no ending, a text file, an AVI by name.
    std::string clip = MakeFile("clip"), txt = MakeFile("notes.txt"), avi = MakeFile("holiday.avi");
    FSSpec clipSpec = Spec(clip);
    FInfo info{};
    info.fdType = 'MooV';
    info.fdCreator = 'TVOD';
    ASSERT_EQ(FSpSetFInfo(&clipSpec, &info), noErr);

    // The real dialog, pointed at the folder.
    UResponder::SetInteractive(true);
    app.ChooseDocument();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(UiTest::PumpUntil([&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
      return dialog != nullptr;
    }));
    dialog->setDirectory(QString::fromStdString(mTmp.Path()));
    auto listed = [&] {
      std::vector<std::string> names;
      QAbstractItemModel* model = dialog->findChild<QListView*>("listView")->model();
      const QModelIndex root = dialog->findChild<QListView*>("listView")->rootIndex();
      for (int r = 0; r < model->rowCount(root); ++r) {
        const std::string name = model->index(r, 0, root).data().toString().toStdString();
        if (!std::filesystem::is_directory(mTmp / name)) names.push_back(name);  // folders are always listed
      }
      std::sort(names.begin(), names.end());
      return names;
    };
    ASSERT_TRUE(UiTest::PumpUntil([&] { return listed() == std::vector<std::string>{"clip", "holiday.avi"}; }, 5000))
        << listed().size() << (listed().empty() ? std::string() : listed().front());
    UiTest::Screenshot(dialog, "open-dialog-by-stored-type");
    // The AVI choice narrows the list to the AVI file.
    const QStringList filters = dialog->nameFilters();
    ASSERT_GE(filters.size(), 3);
    dialog->selectNameFilter(filters[3]);
    emit dialog->filterSelected(filters[3]);
    ASSERT_TRUE(UiTest::PumpUntil([&] { return listed() == std::vector<std::string>{"holiday.avi"}; }, 5000));
    dialog->reject();
    UiTest::Pump(30);
    UResponder::SetInteractive(false);

    // The type chosen last is stored with the preferences at the end.
    TremblorixApp::SetCurrentFileType('VfW ');
    FSSpec prefs;
    ASSERT_TRUE(CPreferences::GetPrefFile(&prefs));
    app.WritePrefs(&prefs);
  }
  // The next launch opens its dialog on that type.
  TremblorixApp::SetCurrentFileType(kAllTypes);
  CPreferences::Reset();
  TestApp next;
  next.Initialize();
  EXPECT_EQ(TremblorixApp::GetCurrentFileType(), static_cast<OSType>('VfW '));
}
