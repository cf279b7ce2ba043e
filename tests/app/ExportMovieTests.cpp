// The export client against a real Vantrel launched from the build's bundle:
// two processes talking over the message ports, headless. Each test has its
// own port folder, so it meets only its own Vantrel.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QWidget>
#include <filesystem>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "app/CExportMovie.h"
#include "app/CExportTasksPane.h"
#include "app/CRecentFiles.h"
#include "app/LMovieExportNavSheet.h"
#include "app/TremblorixAppParts.h"
#include "media/CMovie.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Aliases.h"
#include "platform/files/Bundle.h"
#include "platform/files/PartialFiles.h"
#include "platform/files/TempFolder.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/CFRunLoop.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/movies/MovieExport.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UExporterOptionsDialog.h"
#include "platform/ui/UNavPresenters.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/UControlRegistry.h"
#include "support/ui/UiTestSupport.h"
#include "vantrel/ExportProtocol.h"

namespace fs = std::filesystem;

namespace {

// A control track that moves every frame by a pixel or two, as a stabilised movie has.
void AddControlTrack(Movie inMovie, int inFrames, Rect inBounds) {
  CMotionData store;
  TArray<FrameData>& frames = store.GetFrames();
  for (int k = 0; k < inFrames; ++k) {
    FrameData f;
    f.time = k * 20;
    f.duration = 20;
    SetIdentityMatrix(&f.matrix1);
    TranslateMatrix(&f.matrix1, Long2Fix(k % 3 - 1), Long2Fix(1 - k % 3));
    f.matrix2 = f.matrix1;
    frames.AddItem(f);
  }
  Track track = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(inMovie, inBounds, store, &track), noErr);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, params), noErr);
}

// A stabilised movie saved at inPath and opened from there, as a document has it.
std::unique_ptr<CMovie> MakeStabilisedMovie(const std::string& inPath, int inFrames, SInt16 inWidth, SInt16 inHeight) {
  Movie made = exporttest::MakeMovie(inWidth, inHeight, inFrames);
  AddControlTrack(made, inFrames, Rect{0, 0, inHeight, inWidth});
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  Movie saved = FlattenMovieData(made, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                 createMovieFileDeleteCurFile);
  DisposeMovie(made);
  if (saved == nullptr) return nullptr;
  DisposeMovie(saved);
  return std::make_unique<CMovie>(&spec);
}

std::vector<UInt8> Bytes(CFDataRef inData) {
  const UInt8* p = CFDataGetBytePtr(inData);
  return std::vector<UInt8>(p, p + CFDataGetLength(inData));
}

std::vector<UInt8> HandleBytes(Handle inHandle) {
  return std::vector<UInt8>(reinterpret_cast<UInt8*>(*inHandle),
                            reinterpret_cast<UInt8*>(*inHandle) + GetHandleSize(inHandle));
}

// The tags of a request in their order.
std::vector<UInt32> RequestTags(const std::vector<UInt8>& inMessage) {
  std::vector<UInt32> tags;
  size_t at = 1;
  while (inMessage.size() - at >= 8) {
    const UInt32 tag = ReadBE32(inMessage.data() + at), length = ReadBE32(inMessage.data() + at + 4);
    tags.push_back(tag);
    at += 8 + length;
    if (tag == kExportTagEnd) break;
  }
  return tags;
}

// Sends bytes to our own status port, as any local process could.
void SendToStatusPort(const std::vector<UInt8>& inBytes) {
  CFMessagePortRef port =
      CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportProgressPortName));
  ASSERT_NE(port, nullptr);
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, inBytes.data(), static_cast<CFIndex>(inBytes.size()));
  EXPECT_EQ(CFMessagePortSendRequest(port, 0, data, 1.0, 0, nullptr, nullptr), kCFMessagePortSuccess);
  CFRelease(data);
  CFRelease(port);
}

std::vector<UInt8> Status(UInt16 inKind, Fixed inFraction, SInt16 inError, UInt32 inCookie) {
  ExportStatus s{inKind, kExportPhaseMovie, inFraction, inError, 0, inCookie};
  std::vector<UInt8> bytes(kExportStatusSize);
  EncodeExportStatus(s, bytes.data());
  return bytes;
}

SInt32 CountAlerts() {
  SInt32 n = 0;
  for (const SQuestion& q : UResponder::GetLog())
    if (q.kind == question_Alert) ++n;
  return n;
}

class ExportClientTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UControlRegistry::RegisterClasses();
    EnterMovies();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    CRecentFiles::Delete();
    CExportMovieSettings::sCurrentExporter = 'MooV';
    CExportMovieSettings::sSelectionOnly = true;
    CExportMovieSettings::sSingleField = false;
    unsetenv("VANTREL_STAND_IN_EXPORT");
  }
  void TearDown() override {
    StopClient();
    CRecentFiles::Delete();
    UBundle::SetMainBundlePath("");
    unsetenv("VANTREL_STAND_IN_EXPORT");
    unsetenv("VANTREL_STAND_IN_HOLD");
    UiFixture::TearDown();
  }

  // Starts the client; inStandIn "steps:millis" makes Vantrel's exports stand-ins of that length.
  // Every Vantrel it launches, relaunched ones too, holds its stand-in exports while Hold() is on.
  void StartClient(const char* inStandIn = nullptr) {
    if (inStandIn) setenv("VANTREL_STAND_IN_EXPORT", inStandIn, 1);
    setenv("VANTREL_STAND_IN_HOLD", HoldPath().c_str(), 1);
    ASSERT_EQ(CExportMovie::Init(), noErr);
    mClient = CExportMovie::GetExporter();
    ASSERT_NE(mClient, nullptr);
    ASSERT_TRUE(WaitForVantrel());
  }
  static bool WaitForVantrel() {
    return UiTest::PumpUntil(
        [] {
          CFMessagePortRef p =
              CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
          if (p) CFRelease(p);
          return p != nullptr;
        },
        UiTest::kHangMillis);
  }
  static pid_t VantrelPID() {
    pid_t pid = -1;
    ProcessSerialNumber psn = CExportMovie::GetVantrelPSN();
    if (GetProcessPID(&psn, &pid) != noErr) return -1;
    return pid;
  }
  void StopClient() {
    if (CExportMovie::GetExporter() == nullptr) return;
    const pid_t pid = VantrelPID();
    CExportMovie::Finish();
    mClient = nullptr;
    // Vantrel quits on its own; none is ever left behind.
    for (int i = 0; i < 250 && pid > 0 && kill(pid, 0) == 0; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      usleep(20000);
    }
    if (pid > 0 && kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  CExportTask* Export(CMovie& inMovie, const std::string& inPath) {
    FSSpec spec;
    FSMakeFSSpecFromPath(inPath, &spec);
    CExportMovie::DoExport(&inMovie, &spec);
    return mClient->GetTasks().back();
  }
  CExportTask* Task(UInt32 inCookie) { return mClient->FindTask(inCookie); }
  // The task's export has reported progress (false once the task has gone).
  bool Progressed(UInt32 inCookie) {
    CExportTask* task = Task(inCookie);
    return task && task->mProgress > 0;
  }
  // Stand-in exports wait before their last step until Release(): still
  // running when the test acts, however slow the machine.
  std::string HoldPath() { return mTmp / "hold"; }
  void Hold() { WriteText(HoldPath(), "held"); }
  void Release() { fs::remove(HoldPath()); }
  bool WaitUntilNoTasks(int inMillis) {
    return UiTest::PumpUntil([this] { return mClient->GetTasks().empty(); }, inMillis);
  }

  StTempPortDirectory mPorts;
  TempFolder mTmp;
  CExportMovie* mClient = nullptr;
};

}  // namespace

TEST_F(ExportClientTest, AStabilisedMovieExportedThroughTheSheetOpensWithItsFrames) {
  // Vantrel writes to the standard error it inherits at its launch: the
  // successful export of a movie without sound leaves no error line there.
  const std::string vantrelErr = mTmp / "vantrel-stderr.txt";
  {
    const int saved = dup(2);
    const int file = open(vantrelErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 2);
    close(file);
    StartClient();
    dup2(saved, 2);
    close(saved);
    ASSERT_FALSE(HasFatalFailure());
  }
  // Long enough that progress records arrive before the done record even
  // when the machine is busy.
  constexpr int kFrames = 180;
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", kFrames, 320, 180);
  ASSERT_NE(movie, nullptr);

  // The real put-file dialog, a sheet of the document's window, with the export controls.
  SWindowInfo info;
  info.title = "Clip";
  info.width = 640;
  info.height = 480;
  auto* document = new LWindow(info);
  document->Show();
  UResponder::SetInteractive(true);
  UResponder::SetPresenter(question_ExporterOptions, [](const SQuestion& inQuestion, UResponder::Reply inReply) {
    // The user picks a smaller frame in the exporter's Options dialog.
    SAnswer a;
    a.settings = inQuestion.settings;
    UExporterOptionsDialog::SetValue(a.settings, 'wdth', 160);
    UExporterOptionsDialog::SetValue(a.settings, 'hegt', 90);
    inReply(a);
  });
  auto* sheet = new LMovieExportNavSheet(movie.get(), kInterlace_Progressive, document);
  bool answered = false, gotFile = false;
  FSSpec chosen{};
  ASSERT_EQ(sheet->Start(mTmp / "Clip.mov",
                         [&](const FSSpec* inFile) {
                           answered = true;
                           if (inFile) {
                             chosen = *inFile;
                             gotFile = true;
                           }
                         }),
            noErr);
  auto* dialog = qobject_cast<QFileDialog*>(UNavPresenters::GetDialog(UResponder::GetLog().back().dialogID));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->GetSaveFileName(), "Clip.mov");
  ASSERT_NE(sheet->GetControls(), nullptr);
  EXPECT_TRUE(dialog->isAncestorOf(sheet->GetControls()->PeekWidget()));
  EXPECT_TRUE(sheet->GetSelectionOnly());
  EXPECT_EQ(dynamic_cast<LControl*>(sheet->GetItem(kExportItemSelectionOnly))->GetValue(), 1);
  // The single-field box is inactive for a progressive movie.
  EXPECT_FALSE(sheet->GetItem(kExportItemSingleField)->IsEnabled());

  // MPEG-4 from the pop-up: the name follows the exporter's extension.
  auto* popup = dynamic_cast<LPopupButton*>(sheet->GetItem(kExportItemExporter));
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->CountItems(), static_cast<SInt32>(CExportMovie::GetExporterArray().size()));
  popup->SetValue(CExportMovie::GetIndexForExporter('mpg4'));
  sheet->DoItem(kExportItemExporter);
  EXPECT_EQ(sheet->GetCurrentSubtype(), static_cast<OSType>('mpg4'));
  EXPECT_EQ(sheet->GetSaveFileName(), "Clip.mp4");

  // Options: the dialog's answer (a smaller frame) is stored for MPEG-4 and honoured by the export.
  sheet->DoItem(kExportItemOptions);
  Handle stored = nullptr;
  ASSERT_EQ(CExportMovie::GetExporterSettings('mpg4', &stored), noErr);
  UInt32 width = 0;
  EXPECT_TRUE(UExporterOptionsDialog::GetValue(HandleBytes(stored), 'wdth', width));
  EXPECT_EQ(width, 160u);
  DisposeHandle(stored);
  EXPECT_NE(CExportMovie::GetExporterSettings('MooV', &stored), noErr);

  dialog->resize(640, 520);
  UiTest::Pump(50);
  UiTest::Screenshot(dialog, "export_sheet");
  // The user keeps the proposed name and saves.
  auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "Clip.mp4");
  Q_EMIT dialog->filesSelected(QStringList{QString::fromStdString(mTmp / "Clip.mp4")});
  static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  UResponder::SetInteractive(false);
  delete sheet;
  EXPECT_EQ(CExportMovieSettings::sCurrentExporter, static_cast<OSType>('mpg4'));
  ASSERT_TRUE(gotFile);
  const std::string dest = mTmp / "Clip.mp4";
  EXPECT_EQ(FSSpecPath(chosen), dest);

  ASSERT_NO_THROW(CExportMovie::DoExport(movie.get(), &chosen));
  ASSERT_EQ(mClient->GetTasks().size(), 1u);
  CExportTask* task = mClient->GetTasks().front();
  const UInt32 cookie = task->GetCookie();
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(task->mState, exportTask_Running);
  EXPECT_TRUE(mClient->GetWindow()->IsVisible());
  EXPECT_TRUE(mClient->GetRunningPane()->IsVisible());

  // The request: byte 1, then tags 0, 1, 2, 3, 4, 5, 7 and the end, in that order.
  const std::vector<UInt8> request = Bytes(task->GetRequest());
  ASSERT_FALSE(request.empty());
  EXPECT_EQ(request[0], kExportCommandExport);
  EXPECT_EQ(RequestTags(request), (std::vector<UInt32>{0, 1, 2, 3, 4, 5, 7, kExportTagEnd}));
  ExportRequestFields fields;
  ASSERT_EQ(ParseExportRequest(request.data(), request.size(), fields), noErr);
  EXPECT_EQ(fields.exporterType, static_cast<OSType>('spit'));
  EXPECT_EQ(fields.exporterSubtype, static_cast<OSType>('mpg4'));
  EXPECT_EQ(fields.cookie, cookie);
  EXPECT_EQ(fields.singleField, 0);
  Handle alias = NewHandle(static_cast<SInt32>(fields.destinationLength));
  std::memcpy(*alias, fields.destination, fields.destinationLength);
  FSSpec target;
  Boolean changed = false;
  ASSERT_EQ(ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(alias), &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), dest);
  DisposeHandle(alias);

  // Progress moves the bar until the done record ends the task.
  Fixed most = 0;
  std::string shown;
  EXPECT_TRUE(UiTest::PumpUntil(
      [&] {
        CExportTask* t = Task(cookie);
        if (t == nullptr) return true;
        if (t->mProgress > most) {
          most = t->mProgress;
          CExportTasksPane::GetSetItemDataProc(t, kExportColumnProgress, shown);
        }
        return false;
      }));
  EXPECT_GT(most, 0);
  EXPECT_FALSE(shown.empty());
  EXPECT_TRUE(mClient->GetTasks().empty());
  EXPECT_FALSE(mClient->GetRunningPane()->IsVisible());
  EXPECT_EQ(CExportMovie::GetCurrentTask(), nullptr);

  ASSERT_EQ(CRecentFiles::GetFileCount(), 1);
  FSSpec recent;
  ASSERT_EQ(CRecentFiles::GetFile(1, &recent, 0), noErr);
  EXPECT_EQ(FSSpecPath(recent), dest);
  exporttest::FileFacts facts = exporttest::Probe(dest);
  ASSERT_TRUE(facts.opened);
  EXPECT_EQ(facts.video.packets, kFrames);
  EXPECT_EQ(facts.video.width, 160);
  EXPECT_EQ(facts.video.height, 90);
  CMovie reopened(&recent);
  EXPECT_GT(reopened.GetDuration(), 0);
  StopClient();
  const std::string said = ReadText(vantrelErr);
  EXPECT_EQ(said.find("MoviesError"), std::string::npos) << said;
}

TEST_F(ExportClientTest, QueuedExportsRunLastAddedFirstAndRemoveCancelsOrDrops) {
  ASSERT_NO_FATAL_FAILURE(StartClient("60:50"));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  Hold();  // each export runs until the test has done with it
  const UInt32 a = Export(*movie, mTmp / "A.mov")->GetCookie();
  const UInt32 b = Export(*movie, mTmp / "B.mov")->GetCookie();
  const UInt32 c = Export(*movie, mTmp / "C.mov")->GetCookie();
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_EQ(Task(a)->mState, exportTask_Running);
  EXPECT_EQ(Task(b)->mState, exportTask_Waiting);
  EXPECT_EQ(Task(c)->mState, exportTask_Waiting);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(a); }));

  // The running export is cancelled by its cookie and stays until its done record.
  CExportTasksPane* list = mClient->GetTaskList();
  EXPECT_FALSE(mClient->GetRemoveButton()->IsEnabled());
  list->SelectTask(Task(a), true, false);
  EXPECT_TRUE(mClient->GetRemoveButton()->IsEnabled());
  mClient->ListenToMessage(msg_RemoveExportTasks, nullptr);
  ASSERT_NE(Task(a), nullptr);
  EXPECT_TRUE(Task(a)->mCancelSent);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(a) == nullptr; }));
  EXPECT_FALSE(fs::exists(mTmp / "A.mov"));
  // The waiting export added last runs next.
  ASSERT_NE(Task(c), nullptr);
  EXPECT_EQ(Task(c)->mState, exportTask_Running);
  EXPECT_EQ(Task(b)->mState, exportTask_Waiting);

  // A waiting export goes at once; nothing was ever made at its destination.
  EXPECT_FALSE(fs::exists(mTmp / "B.mov"));
  Rect frame;
  ASSERT_TRUE(list->CalcLocalFrameRect(frame));
  const Point firstRow{static_cast<SInt16>(frame.top + CExportTasksPane::kHeaderHeight + 5),
                       static_cast<SInt16>(frame.left + 20)};
  EXPECT_EQ(list->RowAt(firstRow), 0);
  EXPECT_EQ(list->RowAt(Point{static_cast<SInt16>(firstRow.v + 2 * CExportTasksPane::kRowHeight), firstRow.h}), -1);
  list->SelectRow(list->RowAt(firstRow), 0);  // B, the first row now
  EXPECT_TRUE(list->IsSelected(Task(b)));
  // The remove button's click reaches the client.
  auto* remove = dynamic_cast<LControl*>(mClient->GetRemoveButton());
  ASSERT_NE(remove, nullptr);
  remove->SimulateHotSpotClick(1);
  UiTest::Pump(20);
  EXPECT_EQ(Task(b), nullptr);
  EXPECT_FALSE(fs::exists(mTmp / "B.mov"));
  EXPECT_FALSE(mClient->GetRemoveButton()->IsEnabled());

  Release();
  ASSERT_TRUE(WaitUntilNoTasks(UiTest::kHangMillis));
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
  EXPECT_EQ(CountAlerts(), 0);  // a cancel is no failure
}

TEST_F(ExportClientTest, FailedExportsAlertAndLeaveNothing) {
  ASSERT_NO_FATAL_FAILURE(StartClient());
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  // A folder that cannot take the file: the export is refused before it is queued.
  FSSpec nowhere;
  FSMakeFSSpecFromPath(mTmp / "missing/Out.mov", &nowhere);
  EXPECT_THROW(CExportMovie::DoExport(movie.get(), &nowhere), LException);
  EXPECT_TRUE(mClient->GetTasks().empty());
  EXPECT_FALSE(fs::exists(mTmp / "missing"));

  // Vantrel fails (the movie's media file is gone): an alert, no file, no recent entry.
  fs::remove(mTmp / "Clip.mov");
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  const UInt32 cookie = Export(*movie, mTmp / "Out.mov")->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(cookie) == nullptr; }));
  EXPECT_EQ(CountAlerts(), 1);
  // It names the cause; the code is only a detail.
  const SQuestion alert = UResponder::GetLog().back();
  EXPECT_EQ(alert.explanation.find("unknown"), std::string::npos) << alert.explanation;
  EXPECT_EQ(alert.explanation.find('['), std::string::npos) << alert.explanation;
  EXPECT_NE(alert.explanation.find("\rError: -"), std::string::npos) << alert.explanation;
  EXPECT_EQ(alert.alertType, kAlertStopAlert);
  EXPECT_FALSE(fs::exists(mTmp / "Out.mov"));
  EXPECT_EQ(CRecentFiles::GetFileCount(), 0);
}

TEST_F(ExportClientTest, AKilledVantrelIsRelaunchedOnceAndTheExportRetriedOrDropped) {
  ASSERT_NO_FATAL_FAILURE(StartClient("40:50"));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  // Each export is still running when its Vantrel is killed.
  Hold();
  const UInt32 first = Export(*movie, mTmp / "First.mov")->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(first); }));
  const pid_t killed = VantrelPID();
  ASSERT_GT(killed, 0);

  // Retry: the heartbeat and the terminated event both notice; one relaunch, one question.
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  ASSERT_EQ(kill(killed, SIGKILL), 0);
  // Once the loss is seen, the killed Vantrel is gone for good: the retried
  // export, in the new one, may end.
  ASSERT_TRUE(UiTest::PumpUntil([&] { return CountAlerts() > 0; }));
  Release();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(first) == nullptr; }));
  EXPECT_EQ(CountAlerts(), 1);
  EXPECT_EQ(UResponder::GetLog().back().alertType, kAlertStopAlert);
  EXPECT_NE(VantrelPID(), killed);
  EXPECT_GT(VantrelPID(), 0);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
  EXPECT_TRUE(fs::exists(mTmp / "First.mov"));
  UiTest::Pump(2500);  // a late heartbeat or event asks nothing more
  EXPECT_EQ(CountAlerts(), 1);

  // Drop: the task goes; the stand-in export never made its file.
  Hold();
  const UInt32 second = Export(*movie, mTmp / "Second.mov")->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(second); }));
  UResponder::Script(question_Alert, SAnswer::Choice(2));
  ASSERT_EQ(kill(VantrelPID(), SIGKILL), 0);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(second) == nullptr; }));
  EXPECT_EQ(CountAlerts(), 2);
  EXPECT_FALSE(fs::exists(mTmp / "Second.mov"));
  EXPECT_EQ(CExportMovie::GetCurrentTask(), nullptr);
  EXPECT_FALSE(mClient->GetRunningPane()->IsVisible());
}

TEST_F(ExportClientTest, TheMoviesOwnFileIsRefusedAndQuittingWhileExportingAsks) {
  ASSERT_NO_FATAL_FAILURE(StartClient("2:30000"));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  const auto before = fs::file_size(mTmp / "Clip.mov");
  FSSpec own;
  FSMakeFSSpecFromPath(mTmp / "Clip.mov", &own);
  try {
    CExportMovie::DoExport(movie.get(), &own);
    ADD_FAILURE() << "the movie's own file was taken as destination";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_ExportOverwritesSource);
  }
  EXPECT_EQ(fs::file_size(mTmp / "Clip.mov"), before);
  EXPECT_TRUE(mClient->GetTasks().empty());
  // Through the document, which deletes what a failed export leaves: the
  // refusal is told by the client and reported as nothing to undo.
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  EXPECT_EQ(CExportMovie::ExportForDocument(movie.get(), own), noErr);
  EXPECT_EQ(CountAlerts(), 1);
  EXPECT_EQ(fs::file_size(mTmp / "Clip.mov"), before);
  EXPECT_TRUE(mClient->GetTasks().empty());
  UiTest::Pump(50);

  EXPECT_TRUE(CExportMovie::AllowQuit());  // nothing runs: no question
  EXPECT_EQ(CountAlerts(), 1);
  FSSpec out;
  FSMakeFSSpecFromPath(mTmp / "Out.mov", &out);
  EXPECT_EQ(CExportMovie::ExportForDocument(movie.get(), out), noErr);
  EXPECT_EQ(mClient->GetTasks().size(), 1u);
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  EXPECT_FALSE(CExportMovie::AllowQuit());
  UResponder::Script(question_Alert, SAnswer::Choice(2));
  EXPECT_TRUE(CExportMovie::AllowQuit());
  EXPECT_EQ(CountAlerts(), 3);
  // Quitting stops the running export: the question warns as a stop alert.
  EXPECT_EQ(UResponder::GetLog().back().alertType, kAlertStopAlert);
}

TEST_F(ExportClientTest, StatusRecordsAreCheckedAndTheWindowShowsTwoTasks) {
  // Vantrel's own export reports nothing after its start: every later
  // record is the test's.
  ASSERT_NO_FATAL_FAILURE(StartClient("1:60000"));
  Hold();
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  // Holiday runs; Garden waits.
  const UInt32 running = Export(*movie, mTmp / "Holiday.mov")->GetCookie();
  Export(*movie, mTmp / "Garden.mov");
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(running)->mSent; }));
  UiTest::Pump(300);

  // Fewer than 16 bytes: not a status record.
  std::vector<UInt8> shortRecord = Status(kExportStatusProgress, X2Fix(0.9), 0, running);
  shortRecord.pop_back();
  SendToStatusPort(shortRecord);
  UiTest::Pump(100);
  EXPECT_LT(Task(running)->mProgress, X2Fix(0.5));
  // A late cancel of some other export, and its done record, change nothing.
  SendToStatusPort(Status(kExportStatusError, 0, userCanceledErr, 999));
  SendToStatusPort(Status(kExportStatusDone, 0, 0, 999));
  SendToStatusPort(Status(kExportStatusProgress, X2Fix(0.4), 0, running));
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(running)->mProgress >= X2Fix(0.39); }));
  EXPECT_EQ(Task(running)->mError, 0);
  EXPECT_EQ(mClient->GetTasks().size(), 2u);
  EXPECT_EQ(CountAlerts(), 0);
  std::string text;
  CExportTasksPane::GetSetItemDataProc(Task(running), kExportColumnProgress, text);
  EXPECT_EQ(text, "40.0 %");

  mClient->GetTaskList()->SelectTask(Task(running), true, false);
  UiTest::Pump(50);
  QImage shot = UiTest::Screenshot(mClient->GetWindow()->GetFrameWidget(), "export_tasks_40");
  EXPECT_FALSE(shot.isNull());

  // The close box only hides the window; cmd_ExportTasksWindow shows it again.
  mClient->GetWindow()->AttemptClose();
  ASSERT_NE(CExportMovie::GetExporter()->GetWindow(), nullptr);
  EXPECT_FALSE(mClient->GetWindow()->IsVisible());
  Boolean enabled = false, usesMark = false;
  UInt16 mark = 1;
  EXPECT_TRUE(CExportMovie::FindCommandStatus(cmd_ExportTasksWindow, enabled, usesMark, mark));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(mark, 0);
  EXPECT_TRUE(CExportMovie::ObeyCommand(cmd_ExportTasksWindow));
  EXPECT_TRUE(mClient->GetWindow()->IsVisible());
  EXPECT_EQ(mClient->GetTasks().size(), 2u);
}

TEST_F(ExportClientTest, TheListShowsActivityAndProgressOfEachState) {
  CExportTask task;
  FSSpec spec;
  FSMakeFSSpecFromPath(mTmp / "Clip.mov", &spec);
  task.Init(spec, nullptr);
  std::string text;
  EXPECT_EQ(CExportTasksPane::GetSetItemDataProc(&task, kExportColumnMovie, text), noErr);
  EXPECT_EQ(text, "Clip.mov");
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnActivity, text);
  EXPECT_EQ(text, "Waiting");
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnProgress, text);
  EXPECT_EQ(text, "0.0 %");
  task.mState = exportTask_Running;
  task.mProgress = X2Fix(0.452);
  task.SetActivity(LStr255("Exporting"));
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnActivity, text);
  EXPECT_EQ(text, "Exporting");
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnProgress, text);
  EXPECT_EQ(text, "45.2 %");
  task.mState = exportTask_Done;
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnActivity, text);
  EXPECT_EQ(text, "Done");
  CExportTasksPane::GetSetItemDataProc(&task, kExportColumnProgress, text);
  EXPECT_EQ(text, "100.0 %");
  EXPECT_EQ(CExportTasksPane::GetSetItemDataProc(&task, 'xxxx', text), -4979);
  EXPECT_EQ(LMovieExportNavSheet::NameWithExtension("Clip.mov", 'mp4 '), "Clip.mp4");
  EXPECT_EQ(LMovieExportNavSheet::NameWithExtension("Clip.mov", 0), "Clip");
  EXPECT_EQ(LMovieExportNavSheet::NameWithExtension("/tmp/a.b/Clip", 'mp4 '), "/tmp/a.b/Clip.mp4");
}

namespace {

// The file a user had at a destination before exporting over it.
const std::string kEarlier = "an earlier movie the user keeps";

// A partial file as a killed export leaves it: of the export's name, locked by nobody.
std::string LeaveLeftover(const std::string& inDestination) {
  std::string path = PartialPatternFor(inDestination);
  const int fd = OpenPartialFile(path);
  if (fd < 0) return "";
  ReleasePartialFile(fd);
  return path;
}

}  // namespace

TEST_F(ExportClientTest, AnEarlierFileAtTheDestinationStaysUntilTheExportReplacesIt) {
  ASSERT_NO_FATAL_FAILURE(StartClient("400:50"));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  const std::string running = mTmp / "Running.mov", waiting = mTmp / "Waiting.mov";
  WriteText(running, kEarlier);
  WriteText(waiting, kEarlier);

  // Queued: nothing is deleted or made at the destination.
  const UInt32 a = Export(*movie, running)->GetCookie();
  const UInt32 b = Export(*movie, waiting)->GetCookie();
  EXPECT_EQ(ReadText(running), kEarlier);
  EXPECT_EQ(ReadText(waiting), kEarlier);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(a); }));

  // Removed while waiting, and while running (cancelled): both files stay.
  mClient->GetTaskList()->SelectTask(Task(b), true, false);
  mClient->ListenToMessage(msg_RemoveExportTasks, nullptr);
  EXPECT_EQ(Task(b), nullptr);
  EXPECT_EQ(ReadText(waiting), kEarlier);
  mClient->GetTaskList()->SelectTask(Task(a), true, false);
  mClient->ListenToMessage(msg_RemoveExportTasks, nullptr);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(a) == nullptr; }));
  EXPECT_EQ(ReadText(running), kEarlier);

  // Vantrel killed during the export, the task dropped: the file stays and
  // the partial file the killed export left beside it goes.
  const std::string dropped = mTmp / "Dropped.mov";
  WriteText(dropped, kEarlier);
  const UInt32 c = Export(*movie, dropped)->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(c); }));
  std::string leftover;
  for (const fs::directory_entry& e : fs::directory_iterator(mTmp.Path()))
    if (e.path().filename().string().rfind(".Dropped.mov.partial-", 0) == 0) leftover = e.path();
  ASSERT_FALSE(leftover.empty()) << "the export writes beside its destination";
  UResponder::Script(question_Alert, SAnswer::Choice(2));
  ASSERT_EQ(kill(VantrelPID(), SIGKILL), 0);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(c) == nullptr; }));
  EXPECT_EQ(CountAlerts(), 1);
  EXPECT_EQ(ReadText(dropped), kEarlier);
  EXPECT_FALSE(fs::exists(leftover));
  ASSERT_TRUE(WaitForVantrel());

  // Quit before the export ends: the file stays.
  const std::string quit = mTmp / "Quit.mov";
  WriteText(quit, kEarlier);
  const UInt32 d = Export(*movie, quit)->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Progressed(d); }));
  StopClient();
  EXPECT_EQ(ReadText(quit), kEarlier);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 0);
  for (const fs::directory_entry& e : fs::directory_iterator(mTmp.Path()))
    EXPECT_FALSE(IsPartialFileName(e.path().filename().string())) << e.path();

  // An export that ends well replaces the earlier file.
  ASSERT_NO_FATAL_FAILURE(StartClient("2:20"));
  const UInt32 e = Export(*movie, quit)->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(e) == nullptr; }));
  EXPECT_EQ(ReadText(quit), "stand-in export\n");
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
}

TEST_F(ExportClientTest, AFailedExportLeavesTheEarlierFileAndASuccessfulOneReplacesIt) {
  ASSERT_NO_FATAL_FAILURE(StartClient());
  const std::string dest = mTmp / "Out.mov";
  WriteText(dest, kEarlier);
  {
    // Vantrel fails: the movie's media file is gone.
    auto gone = MakeStabilisedMovie(mTmp / "Gone.mov", 6, 64, 48);
    ASSERT_NE(gone, nullptr);
    fs::remove(mTmp / "Gone.mov");
    UResponder::Script(question_Alert, SAnswer::Choice(1));
    const UInt32 cookie = Export(*gone, dest)->GetCookie();
    ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(cookie) == nullptr; }));
    EXPECT_EQ(CountAlerts(), 1);
    EXPECT_EQ(ReadText(dest), kEarlier);
    EXPECT_EQ(CRecentFiles::GetFileCount(), 0);
  }
  // A failure in the document's own export call leaves it too.
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 12, 64, 48);
  ASSERT_NE(movie, nullptr);
  CExportMovieSettings::sCurrentExporter = 'none';
  EXPECT_NE(CExportMovie::ExportForDocument(movie.get(), mTmp.Spec("Out.mov")), noErr);
  EXPECT_EQ(ReadText(dest), kEarlier);
  CExportMovieSettings::sCurrentExporter = 'MooV';

  // The export that ends well takes the name.
  const UInt32 cookie = Export(*movie, dest)->GetCookie();
  EXPECT_EQ(ReadText(dest), kEarlier);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(cookie) == nullptr; }));
  EXPECT_NE(ReadText(dest), kEarlier);
  exporttest::FileFacts facts = exporttest::Probe(dest);
  ASSERT_TRUE(facts.opened);
  EXPECT_EQ(facts.video.packets, 12);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
  FInfo info{};
  const FSSpec out = mTmp.Spec("Out.mov");
  ASSERT_EQ(FSpGetFInfo(&out, &info), noErr);
  EXPECT_EQ(info.fdType, static_cast<OSType>('MooV'));
  // Nothing hidden is left beside it.
  for (const fs::directory_entry& e : fs::directory_iterator(mTmp.Path()))
    EXPECT_FALSE(IsPartialFileName(e.path().filename().string())) << e.path();
}

TEST_F(ExportClientTest, LeftoversOfKilledExportsAndSavesGoAtTheNextStart) {
  // Two folders where exports and a save were killed, one where an export
  // still runs (its file held), and files of other names.
  fs::create_directories(mTmp / "a");
  fs::create_directories(mTmp / "b");
  const std::string exportLeft = LeaveLeftover(mTmp / "a/Holiday.mp4");
  std::string saveLeft = SavePartialPatternIn(mTmp / "b");
  ReleasePartialFile(OpenPartialFile(saveLeft));
  std::string running = PartialPatternFor(mTmp / "b/Garden.mov");
  const int held = OpenPartialFile(running);
  ASSERT_GE(held, 0);
  const std::string others[] = {mTmp / "a/.Holiday.mp4.partial-short", mTmp / "a/Holiday.mp4",
                                mTmp / "b/.trx-movie-toolong1", mTmp / "b/.hidden"};
  for (const std::string& o : others) WriteText(o, kEarlier);
  ASSERT_TRUE(fs::exists(exportLeft));
  ASSERT_TRUE(fs::exists(saveLeft));

  ASSERT_NO_FATAL_FAILURE(StartClient());
  EXPECT_FALSE(fs::exists(exportLeft));
  EXPECT_FALSE(fs::exists(saveLeft));
  EXPECT_TRUE(fs::exists(running));
  for (const std::string& o : others) EXPECT_EQ(ReadText(o), kEarlier) << o;

  // The folder whose export still runs stays noted: once that writer is
  // gone too, the next start removes its leftover.
  ReleasePartialFile(held);
  EXPECT_EQ(RemoveNotedLeftovers(), 1);
  EXPECT_FALSE(fs::exists(running));
  EXPECT_EQ(RemoveNotedLeftovers(), 0);
}

TEST_F(ExportClientTest, ASlowStartOfVantrelIsNotTakenForACrash) {
  // Vantrel waits at its start, before it opens its port, until the test
  // lets it go: the heartbeats in between find no port.
  const std::string gate = mTmp / "gate";
  ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
  setenv("VANTREL_START_GATE", gate.c_str(), 1);
  setenv("VANTREL_STAND_IN_EXPORT", "3:20", 1);
  ASSERT_EQ(CExportMovie::Init(), noErr);
  unsetenv("VANTREL_START_GATE");
  mClient = CExportMovie::GetExporter();
  ASSERT_NE(mClient, nullptr);
  int holder = -1;
  ASSERT_TRUE(UiTest::PumpUntil(
      [&] {
        if (holder < 0) holder = open(gate.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return holder >= 0;
      },
      30000));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  const UInt32 before = CExportMovie::GetHeartbeatsWhileStarting();
  const UInt32 cookie = Export(*movie, mTmp / "Out.mov")->GetCookie();
  EXPECT_TRUE(CExportMovie::VantrelIsStarting());
  ASSERT_TRUE(UiTest::PumpUntil([&] { return CExportMovie::GetHeartbeatsWhileStarting() >= before + 2; }));
  EXPECT_EQ(CountAlerts(), 0);
  EXPECT_NE(Task(cookie), nullptr);

  // Let go: the export runs and ends without a question.
  close(holder);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(cookie) == nullptr; }));
  EXPECT_FALSE(CExportMovie::VantrelIsStarting());
  EXPECT_EQ(CountAlerts(), 0);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
}

TEST_F(ExportClientTest, ADeepPortFolderWorksAndAnUnusableOneIsToldInWords) {
  // A port folder far deeper than a socket address holds.
  std::string deep = mTmp / "ports";
  while (deep.size() < 150) deep += "/a-rather-long-folder-name";
  fs::create_directories(deep);
  setenv("TRX_IPC_DIR", deep.c_str(), 1);
  ASSERT_NO_FATAL_FAILURE(StartClient("2:20"));
  auto movie = MakeStabilisedMovie(mTmp / "Clip.mov", 6, 64, 48);
  ASSERT_NE(movie, nullptr);
  const UInt32 cookie = Export(*movie, mTmp / "Out.mov")->GetCookie();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return Task(cookie) == nullptr; }));
  EXPECT_EQ(CountAlerts(), 0);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
  StopClient();

  // A port folder that is a file: the failure names the folder.
  const std::string notAFolder = mTmp / "not-a-folder";
  WriteText(notAFolder, "x");
  setenv("TRX_IPC_DIR", notAFolder.c_str(), 1);
  try {
    CExportMovie::Init();
    ADD_FAILURE() << "started without a port folder";
  } catch (const LException& e) {
    const std::string words = PStr(e.GetErrorString());
    EXPECT_NE(words.find(notAFolder), std::string::npos) << words;
    EXPECT_NE(ErrorCodeToOSErr(e.GetErrorCode()), ErrorCodeToOSErr(err_NilPointer));
  }
  EXPECT_EQ(CExportMovie::GetExporter(), nullptr);
  setenv("TRX_IPC_DIR", mPorts.Path().c_str(), 1);
}

TEST_F(ExportClientTest, APortFolderOfAnotherUserIsNamedInTheStartUpFailure) {
  if (geteuid() != 0) GTEST_SKIP() << "making a folder another user's needs root";
  ASSERT_EQ(chown(mPorts.Path().c_str(), 12345, 12345), 0);
  const OSErr err = AppParts::InitExportClient();
  const std::string words = AppParts::ExportClientFailure();
  ASSERT_EQ(chown(mPorts.Path().c_str(), 0, 0), 0);
  EXPECT_NE(err, noErr);
  EXPECT_NE(err, ErrorCodeToOSErr(err_NilPointer));
  EXPECT_NE(words.find(mPorts.Path()), std::string::npos) << words;
  EXPECT_NE(words.find("belongs to another user"), std::string::npos) << words;
  EXPECT_EQ(CExportMovie::GetExporter(), nullptr);
  AppParts::FinishExportClient();
}

// A Vantrel that only writes down the first byte of each message it gets.
class CListeningVantrel {
 public:
  bool Started() const { return mServed.Started(); }
  std::vector<UInt8> Heard() {
    std::lock_guard<std::mutex> guard(mLock);
    return mHeard;
  }

 private:
  static CFDataRef Note(CFMessagePortRef, SInt32, CFDataRef inData, void* inInfo) {
    auto* self = static_cast<CListeningVantrel*>(inInfo);
    std::lock_guard<std::mutex> guard(self->mLock);
    self->mHeard.push_back(inData && CFDataGetLength(inData) > 0 ? CFDataGetBytePtr(inData)[0] : 0);
    return nullptr;
  }
  std::mutex mLock;
  std::vector<UInt8> mHeard;
  // Last: made once the list is, stopped before it goes.
  CServedPort mServed{CFStringMakeConstantString(kExportMessagePortName), Note, this};
};

TEST_F(ExportClientTest, ASecondTremblorixLeavesTheRunningVantrelAlone) {
  // Another Tremblorix holds the status port, and its Vantrel listens.
  CListeningVantrel vantrel;
  ASSERT_TRUE(vantrel.Started());
  CFMessagePortRef taken = CFMessagePortCreateLocal(
      kCFAllocatorDefault, CFStringMakeConstantString(kExportProgressPortName), nullptr, nullptr, nullptr);
  ASSERT_NE(taken, nullptr);

  EXPECT_THROW(CExportMovie::Init(), LException);
  EXPECT_EQ(CExportMovie::GetExporter(), nullptr);

  // One sender's messages arrive in the order sent: once this mark is heard,
  // anything the failed start sent has been heard before it.
  MessagePortSetOrderWaitForTesting(60000);
  constexpr UInt8 kMark = 0x7E;
  CFMessagePortRef remote =
      CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
  ASSERT_NE(remote, nullptr);
  CFDataRef mark = CFDataCreate(kCFAllocatorDefault, &kMark, 1);
  EXPECT_EQ(CFMessagePortSendRequest(remote, kExportMessageID, mark, 60, 0, nullptr, nullptr), kCFMessagePortSuccess);
  CFRelease(mark);
  const bool heard = UiTest::PumpUntil(
      [&] {
        const std::vector<UInt8> h = vantrel.Heard();
        return !h.empty() && h.back() == kMark;
      },
      UiTest::kHangMillis);
  MessagePortSetOrderWaitForTesting(-1);
  CFMessagePortInvalidate(remote);
  CFRelease(remote);
  CFMessagePortInvalidate(taken);
  CFRelease(taken);
  ASSERT_TRUE(heard);
  EXPECT_EQ(vantrel.Heard(), std::vector<UInt8>{kMark}) << "the other program's Vantrel was told to stop";
}
