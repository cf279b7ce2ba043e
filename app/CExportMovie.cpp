// The export client: start-up and shut-down, the request writer, the task
// queue, the heartbeat and relaunch of Vantrel, and the status records.
#include "app/CExportMovie.h"

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/CExportTasksPane.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/LMovieExportNavSheet.h"
#include "media/CMovie.h"
#include "media/UMovies.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/files/Bundle.h"
#include "platform/files/PartialFiles.h"
#include "platform/files/Resources.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/Movies.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/URegistrar.h"
#include "platform/ui/UResponder.h"
#include "toolkit/UMessage.h"
#include "vantrel/ExportProtocol.h"

CExportMovie* CExportMovie::sExporter = nullptr;
std::vector<ExporterItem*> CExportMovie::sExporterArray;
CExportTask* CExportMovie::sCurrentTask = nullptr;
UInt32 CExportMovie::sTasksQueued = 0;
CFMessagePortRef CExportMovie::sLocalPort = nullptr;
CFRunLoopSourceRef CExportMovie::sRunLoopSource = nullptr;
CFMessagePortRef CExportMovie::sRemoteMessagePort = nullptr;
ProcessSerialNumber CExportMovie::sPSN = {0, 0};
Boolean CExportMovie::sLaunchPending = false;
std::chrono::steady_clock::time_point CExportMovie::sLaunchedAt;
UInt32 CExportMovie::sHeartbeatsWhileStarting = 0;
EventHandlerRef CExportMovie::sAppEventHandler = nullptr;

namespace {

constexpr double kHeartbeatInterval = 2.0;
// How long a launched Vantrel may take to open its port before its silence
// counts as a loss.
constexpr double kLaunchBound = 60.0;
// The toolbox's "port in use": another process holds the status port's name.
constexpr OSErr kPortInUseErr = -97;
// The pump turns the main run loop about once per tick while an export runs
// (its status records), ten times a second otherwise (launch and end events).
constexpr double kPumpBusyInterval = 1.0 / 60.0;
constexpr double kPumpIdleInterval = 0.1;

// Alert texts of STR# 5003.
enum : SInt16 {
  str_DontQuit = 1,
  str_Quit = 2,
  str_QuitMessage = 3,
  str_QuitExplanation = 4,
  str_TryAgain = 5,
  str_DropExport = 6,
  str_LostMessage = 7,
  str_LostExplanation = 8,
  str_UnknownError = 9,
  str_FailedMessage = 10,
  str_Exporting = 11,
  str_ExportingSound = 12,
  str_OwnFileRefused = 13,
  str_PortFolderOthers = 14,
  str_PortFolderUnusable = 15,
  str_PortsTaken = 16,
};

// A handle's bytes for a request record (none for a nil handle).
const UInt8* BytesOf(Handle inHandle) { return inHandle ? reinterpret_cast<const UInt8*>(*inHandle) : nullptr; }
size_t SizeOf(Handle inHandle) { return inHandle && *inHandle ? static_cast<size_t>(GetHandleSize(inHandle)) : 0; }

std::filesystem::path Normal(const std::string& inPath) {
  std::error_code ignored;
  std::filesystem::path p = std::filesystem::weakly_canonical(inPath, ignored);
  return p.empty() ? std::filesystem::path(inPath).lexically_normal() : p;
}

bool SameFile(const std::string& inA, const std::string& inB) {
  if (inA.empty() || inB.empty()) return false;
  std::error_code error;
  if (std::filesystem::exists(inA, error) && std::filesystem::exists(inB, error))
    return std::filesystem::equivalent(inA, inB, error);
  return Normal(inA) == Normal(inB);
}

// The file a data reference names ("" for memory and other kinds). File
// references come as an alias record, or, for the movie's own file, as its path.
std::string DataRefPath(Handle inDataRef, OSType inType) {
  if (inDataRef == nullptr || *inDataRef == nullptr || inType != rAliasType) return "";
  FSSpec target;
  Boolean changed = false;
  if (ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(inDataRef), &target, &changed) == noErr)
    return FSSpecPath(target);
  const std::string bytes(*inDataRef, static_cast<size_t>(GetHandleSize(inDataRef)));
  if (!bytes.empty() && bytes[0] == '/' && bytes.find('\0') == std::string::npos) return bytes;
  return "";
}

// The periodical that serves the main run loop.
class CPortPump : public LPeriodical {
 public:
  void SpendTime(const EventRecord&) override {
    CExportMovie::ServeMainRunLoop();
    const double wanted = CExportMovie::GetCurrentTask() ? kPumpBusyInterval : kPumpIdleInterval;
    if (wanted != mInterval) Start(wanted);
  }
  void Start(double inInterval) {
    mInterval = inInterval;
    StartRepeating(inInterval);
  }

 private:
  double mInterval = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Start-up and shut-down.

// The status port could not be made: why, in words.
void CExportMovie::ThrowPortFailure() {
  std::string folder;
  const OSErr folderErr = GetMessagePortDirectory(folder);
  folder = MessagePortDirectoryPath();
  SInt16 item = str_PortsTaken;
  if (folderErr != noErr) {
    struct stat info {};
    item = ::lstat(folder.c_str(), &info) == 0 && info.st_uid != ::geteuid() ? str_PortFolderOthers
                                                                              : str_PortFolderUnusable;
  }
  std::string text = IndString(STRx_ExportTasks, item);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, folder);
  if (text.size() > 255) text.resize(255);
  LStr255 words(text.c_str());
  throw LException(folderErr != noErr ? folderErr : kPortInUseErr, words);
}

OSErr CExportMovie::Init() {
  if (sExporter) return noErr;
  // What earlier exports and saves left half-written when they were killed.
  RemoveNotedLeftovers();
  // An earlier Vantrel still running: ask it to quit.
  if (CFMessagePortRef earlier = CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName))) {
    const UInt8 quit = kExportCommandQuit;
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, &quit, 1);
    CFMessagePortSendRequest(earlier, kExportMessageID, data, kExportCommandSendTimeout, 0, nullptr, nullptr);
    CFRelease(data);
    CFMessagePortInvalidate(earlier);
    CFRelease(earlier);
  }

  sLocalPort = CFMessagePortCreateLocal(kCFAllocatorDefault, CFStringMakeConstantString(kExportProgressPortName), ProgressPortCallBack,
                                        nullptr, nullptr);
  if (sLocalPort == nullptr) ThrowPortFailure();
  sRunLoopSource = CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, sLocalPort, 0);
  if (sRunLoopSource == nullptr) {
    CFMessagePortInvalidate(sLocalPort);
    CFRelease(sLocalPort);
    sLocalPort = nullptr;
    ThrowIfNil_(sRunLoopSource);
  }
  CFRunLoopAddSource(CFRunLoopGetMain(), sRunLoopSource, kCFRunLoopCommonModes);

  const UInt8 cancel = kExportCommandCancel, quit = kExportCommandQuit;
  SendCommand(&cancel, 1);
  SendCommand(&quit, 1);
  ReleaseRemotePort();

  if (sAppEventHandler == nullptr) {
    const EventTypeSpec kinds[] = {{kEventClassApplication, kEventAppLaunched},
                                   {kEventClassApplication, kEventAppTerminated}};
    InstallApplicationEventHandler(NewEventHandlerUPP(ProcessAppEvents), 2, kinds, nullptr, &sAppEventHandler);
  }

  // The exporters, in the registry's order.
  const ItemCount count = CountMovieExporters();
  for (ItemCount i = 1; i <= count; ++i) {
    ComponentDescription desc{};
    Str255 name;
    if (GetMovieExporterInfo(i, &desc, name) != noErr) continue;
    if ((desc.componentFlags & canMovieExportFromProcedures) == 0) continue;
    auto* item = new ExporterItem;
    item->mFlags = desc.componentFlags;
    item->mSubtype = desc.componentSubType;
    std::memcpy(item->mName, name, static_cast<size_t>(name[0]) + 1);
    sExporterArray.push_back(item);
  }

  // The classes of the window's and the sheet's layouts.
  if (!URegistrar::IsRegistered(LWindow::class_ID)) TRegistrar<LWindow>::Register();
  if (!URegistrar::IsRegistered(LView::class_ID)) TRegistrar<LView>::Register();
  if (!URegistrar::IsRegistered(LPane::class_ID)) TRegistrar<LPane>::Register();
  if (!URegistrar::IsRegistered(LPushButton::class_ID)) UControlRegistry::RegisterClasses();
  CExportTasksPane::Register();
  LMovieExportNavSheet::InstallExporterDialog();
  CSettingsResource::SetExportSection(ReadFromStream, WriteToStream);
  InstallDocumentExport(true);

  OSErr err = LaunchVantrel();
  if (err != noErr) {
    Finish();
    Throw_(err);
  }
  try {
    sExporter = new CExportMovie;
  } catch (...) {
    Finish();
    throw;
  }
  return noErr;
}

void CExportMovie::Finish() {
  if (sCurrentTask) {
    UInt8 cancel[5];
    SendCommand(cancel, MakeCancelCommand(sCurrentTask->GetCookie(), cancel));
  }
  const UInt8 quit = kExportCommandQuit;
  SendCommand(&quit, 1);
  for (ExporterItem* item : sExporterArray) delete item;
  sExporterArray.clear();
  delete sExporter;
  sExporter = nullptr;
  sCurrentTask = nullptr;
  SendCommand(&quit, 1);
  if (sRunLoopSource) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), sRunLoopSource, kCFRunLoopCommonModes);
    CFRelease(sRunLoopSource);
    sRunLoopSource = nullptr;
  }
  if (sLocalPort) {
    CFMessagePortInvalidate(sLocalPort);
    CFRelease(sLocalPort);
    sLocalPort = nullptr;
  }
  ReleaseRemotePort();
  if (sAppEventHandler) {
    RemoveEventHandler(sAppEventHandler);
    sAppEventHandler = nullptr;
  }
  CSettingsResource::SetExportSection(nullptr, nullptr);
  InstallDocumentExport(false);
  sPSN = ProcessSerialNumber{0, 0};
  sLaunchPending = false;
}

CExportMovie::CExportMovie() {
  try {
    MakeWindow();
  } catch (...) {
    delete mWindow;
    delete mWindowKeeper;
    throw;
  }
  auto* pump = new CPortPump;
  pump->Start(kPumpBusyInterval);
  mPump = pump;
}

CExportMovie::~CExportMovie() {
  StopRepeating();
  // Tasks that never finished leave their destinations as they were.
  for (CExportTask* task : mTasks) delete task;
  mTasks.clear();
  mCookies.clear();
  delete mWindow;
  mWindow = nullptr;
  delete mWindowKeeper;
  delete mPump;
}

OSErr CExportMovie::LaunchVantrel() {
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (bundle == nullptr) return noErr;
  CFURLRef url = CFBundleCopyAuxiliaryExecutableURL(bundle, CFSTR("Vantrel"));
  if (url == nullptr) return noErr;
  CFRelease(url);
  ProcessSerialNumber psn{0, 0};
  OSStatus err = LaunchAuxiliaryExecutable("Vantrel", kVantrelLaunchRefCon, &psn);
  if (err != noErr) {
    syslog(LOG_NOTICE, "%s%d\n", "Couldn't launch Vantrel: ", static_cast<int>(err));
    return static_cast<OSErr>(err);
  }
  sPSN = psn;
  // Until its port answers, Vantrel is still starting: silence then is no loss.
  sLaunchPending = true;
  sLaunchedAt = std::chrono::steady_clock::now();
  return noErr;
}

Boolean CExportMovie::VantrelIsStarting() {
  if (!sLaunchPending) return false;
  if (std::chrono::steady_clock::now() - sLaunchedAt > std::chrono::duration<double>(kLaunchBound)) return false;
  // The Vantrel this launch started is still there (its end would also come as an event).
  pid_t pid = -1;
  if ((sPSN.highLongOfPSN == 0 && sPSN.lowLongOfPSN == 0) || GetProcessPID(&sPSN, &pid) != noErr || pid <= 0)
    return false;
  return ::kill(pid, 0) == 0;
}

// ---------------------------------------------------------------------------
// Sending.

CFMessagePortRef CExportMovie::RemotePort() {
  if (sRemoteMessagePort && !CFMessagePortIsValid(sRemoteMessagePort)) ReleaseRemotePort();
  if (sRemoteMessagePort == nullptr)
    sRemoteMessagePort = CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
  if (sRemoteMessagePort) sLaunchPending = false;
  return sRemoteMessagePort;
}

void CExportMovie::ReleaseRemotePort() {
  if (sRemoteMessagePort == nullptr) return;
  CFMessagePortInvalidate(sRemoteMessagePort);
  CFRelease(sRemoteMessagePort);
  sRemoteMessagePort = nullptr;
}

OSErr CExportMovie::SendDataToRemotePort(CFDataRef inData) {
  CFMessagePortRef port = RemotePort();
  if (port == nullptr || inData == nullptr) return paramErr;
  CFDataRef reply = nullptr;
  SInt32 result = CFMessagePortSendRequest(port, kExportMessageID, inData, kExportClientSendTimeout,
                                           kExportClientReceiveTimeout, kCFRunLoopDefaultMode, &reply);
  if (reply) CFRelease(reply);
  if (result == kCFMessagePortIsInvalid) ReleaseRemotePort();
  return static_cast<OSErr>(result);
}

OSErr CExportMovie::SendCommand(const UInt8* inBytes, size_t inLength) {
  CFMessagePortRef port = RemotePort();
  if (port == nullptr || inBytes == nullptr || inLength == 0) return paramErr;
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, inBytes, static_cast<CFIndex>(inLength));
  if (data == nullptr) return memFullErr;
  // One way: commands have no reply, and a busy or hung Vantrel must not hold the interface.
  SInt32 result = CFMessagePortSendRequest(port, kExportMessageID, data, kExportCommandSendTimeout, 0, nullptr,
                                           nullptr);
  CFRelease(data);
  if (result == kCFMessagePortIsInvalid) ReleaseRemotePort();
  return static_cast<OSErr>(result);
}

// ---------------------------------------------------------------------------
// The request writer.

OSErr CExportMovie::CheckDestination(const FSSpec& inDestination) {
  const std::string path = FSSpecPath(inDestination);
  if (path.empty() || path.back() == '/') return bdNamErr;
  const std::filesystem::path place(path);
  std::error_code error;
  const std::filesystem::path folder = place.parent_path();
  if (!std::filesystem::is_directory(folder, error)) return dirNFErr;
  // Vantrel makes a new file in the folder and renames it over the destination.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return afpAccessDenied;
  const std::filesystem::file_status status = std::filesystem::symlink_status(place, error);
  if (std::filesystem::exists(status) && std::filesystem::is_directory(std::filesystem::status(place, error)))
    return notAFileErr;
  return noErr;
}

Boolean CExportMovie::IsSourceOfMovie(Movie inMovie, const FSSpec& inFile) {
  if (inMovie == nullptr) return false;
  const std::string target = FSSpecPath(inFile);
  Handle ref = nullptr;
  OSType type = 0;
  if (GetMovieDefaultDataRef(inMovie, &ref, &type) == noErr && ref) {
    const bool same = SameFile(DataRefPath(ref, type), target);
    DisposeHandle(ref);
    if (same) return true;
  }
  const SInt32 tracks = GetMovieTrackCount(inMovie);
  for (SInt32 t = 1; t <= tracks; ++t) {
    Media media = GetTrackMedia(GetMovieIndTrack(inMovie, t));
    if (media == nullptr) continue;
    SInt16 refs = 0;
    if (GetMediaDataRefCount(media, &refs) != noErr) continue;
    for (SInt16 r = 1; r <= refs; ++r) {
      Handle dataRef = nullptr;
      OSType dataRefType = 0;
      if (GetMediaDataRef(media, r, &dataRef, &dataRefType, nullptr) != noErr || dataRef == nullptr) continue;
      const bool same = SameFile(DataRefPath(dataRef, dataRefType), target);
      DisposeHandle(dataRef);
      if (same) return true;
    }
  }
  return false;
}

OSErr CExportMovie::DoExport(CMovie* inMovie, FSSpec* inDestination) {
  ThrowIfNil_(inMovie);
  ThrowIfNil_(inDestination);
  ThrowIfNil_(sExporter);
  ThrowIfNil_(inMovie->GetMovie());
  Movie movie = inMovie->GetMovie();
  // Never delete what the export is about to read.
  if (IsSourceOfMovie(movie, *inDestination)) Throw_(err_ExportOverwritesSource);

  // Nothing is made or removed at the destination here: Vantrel writes the
  // movie beside it and renames it over the destination only when it is
  // whole, so an earlier file there stays as it is until then, and stays
  // for good when the export is removed, fails or never ends.
  ThrowIfOSErr_(CheckDestination(*inDestination));
  // A killed export to the same place left its partial file beside it.
  RemoveLeftoversBeside(FSSpecPath(*inDestination));
  OSErr err = noErr;
  AliasHandle alias = nullptr;
  Handle movieHandle = nullptr;
  QTAtomContainer settings = nullptr;
  MovieExportComponent exporter = nullptr;
  CFDataRef request = nullptr;
  CExportTask* task = nullptr;
  try {
    ThrowIfOSErr_(NewAliasToPath(inDestination, &alias));
    ThrowIfNil_(alias);
    ThrowIfOSErr_(OpenADefaultComponent(MovieExportType, LMovieExportNavSheet::sCurrentExporter, &exporter));
    ThrowIfNil_(exporter);
    if (GetExporterSettings(LMovieExportNavSheet::sCurrentExporter, &settings) != noErr || settings == nullptr)
      ThrowIfOSErr_(MovieExportGetSettingsAsAtomContainer(exporter, &settings));

    movieHandle = NewHandle(0);
    ThrowIfNil_(movieHandle);
    SInt32 selStart = 0, selEnd = 0;
    inMovie->GetSelection(&selStart, &selEnd);
    if (LMovieExportNavSheet::sSelectionOnly && selEnd != selStart) {
      Movie selection = CopyMovieSelection(movie);
      ThrowIfNil_(selection);
      Rect bounds;
      inMovie->GetCurrentBounds(bounds);
      SetMovieBox(selection, &bounds);
      err = PutMovieIntoHandle(selection, movieHandle);
      DisposeMovie(selection);
      ThrowIfOSErr_(err);
    } else {
      ThrowIfOSErr_(PutMovieIntoHandle(movie, movieHandle));
    }

    task = new CExportTask;
    task->SetCookie(sExporter->NewCookie());
    static_assert(MovieExportType == 'spit', "the request names the movie exporters' type");
    const Handle destination = reinterpret_cast<Handle>(alias);
    const ExportRequestFields fields = ExportRequestOf(
        BytesOf(movieHandle), SizeOf(movieHandle), BytesOf(destination), SizeOf(destination),
        LMovieExportNavSheet::sCurrentExporter, BytesOf(settings), SizeOf(settings), task->GetCookie(),
        LMovieExportNavSheet::sSingleField);
    const std::vector<UInt8> message = EncodeExportRequest(fields);
    request = CFDataCreate(kCFAllocatorDefault, message.data(), static_cast<CFIndex>(message.size()));
    ThrowIfNil_(request);
  } catch (...) {
    if (task) {
      sExporter->mCookies.erase(task->GetCookie());
      delete task;
    }
    if (request) CFRelease(request);
    if (movieHandle) DisposeHandle(movieHandle);
    if (settings) QTDisposeAtomContainer(settings);
    if (exporter) CloseComponent(exporter);
    if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
    throw;
  }
  DisposeHandle(movieHandle);
  QTDisposeAtomContainer(settings);
  CloseComponent(exporter);

  sExporter->ShowWindow();
  task->Init(*inDestination, request);
  CFRelease(request);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  ThrowIfOSErr_(static_cast<OSErr>(AddTask(task)));
  return noErr;
}

UInt32 CExportMovie::NewCookie() {
  // 32-bit ids from a table: never 0, never one in use.
  for (;;) {
    UInt32 cookie = mNextCookie++;
    if (mNextCookie == 0) mNextCookie = 1;
    if (cookie != 0 && mCookies.find(cookie) == mCookies.end()) {
      mCookies[cookie] = nullptr;
      return cookie;
    }
  }
}

OSStatus CExportMovie::AddTask(CExportTask* inTask) {
  if (sExporter == nullptr || inTask == nullptr) return paramErr;
  if (inTask->GetCookie() == 0) inTask->SetCookie(sExporter->NewCookie());
  sExporter->mCookies[inTask->GetCookie()] = inTask;
  sExporter->mTasks.push_back(inTask);
  ++sTasksQueued;
  sExporter->RefreshList();
  if (sCurrentTask == nullptr) sExporter->ScheduleNextExport();
  return noErr;
}

CExportTask* CExportMovie::FindTask(UInt32 inCookie) const {
  if (inCookie == 0) return nullptr;
  auto it = mCookies.find(inCookie);
  return it == mCookies.end() ? nullptr : it->second;
}

Boolean CExportMovie::RemoveTask(CExportTask* inTask) {
  auto it = std::find(mTasks.begin(), mTasks.end(), inTask);
  if (it == mTasks.end()) return false;
  mTasks.erase(it);
  mCookies.erase(inTask->GetCookie());
  if (mTaskList) mTaskList->TaskRemoved(inTask);
  return true;
}

OSStatus CExportMovie::GetItems(std::vector<CExportTask*>& outTasks, Boolean inSelectedOnly) const {
  outTasks.clear();
  if (mTaskList == nullptr) Throw_('nilP');
  for (CExportTask* task : mTasks)
    if (!inSelectedOnly || mTaskList->IsSelected(task)) outTasks.push_back(task);
  return noErr;
}

// ---------------------------------------------------------------------------
// Scheduling and the heartbeat.

void CExportMovie::ScheduleNextExport() {
  if (sCurrentTask || mRecovering) return;
  CExportTask* next = nullptr;
  for (auto it = mTasks.rbegin(); it != mTasks.rend(); ++it)
    if ((*it)->mState == exportTask_Waiting) {
      next = *it;
      break;
    }
  if (next == nullptr) return;
  next->mState = exportTask_Running;
  next->mSent = false;
  next->mCancelSent = false;
  next->mProgress = 0;
  next->mError = 0;
  sCurrentTask = next;
  SendCurrentRequest();
  RefreshList();
  if (mRunningPane) mRunningPane->Show();
  StartHeartbeat();
}

void CExportMovie::SendCurrentRequest() {
  if (sCurrentTask == nullptr || sCurrentTask->mSent) return;
  // Only a request that surely never arrived is sent again: one whose reply
  // came late is queued in Vantrel already.
  const OSErr err = SendDataToRemotePort(sCurrentTask->GetRequest());
  sCurrentTask->mSent = err != paramErr && err != kCFMessagePortSendTimeout && err != kCFMessagePortIsInvalid;
}

void CExportMovie::StartHeartbeat() { StartRepeating(kHeartbeatInterval); }
void CExportMovie::StopHeartbeat() { StopRepeating(); }

void CExportMovie::SpendTime(const EventRecord&) {
  // While the user is asked about a lost Vantrel the heartbeat waits.
  if (mRecovering) return;
  const UInt8 heartbeat = kExportCommandHeartbeat;
  if (SendCommand(&heartbeat, 1) != noErr) {
    // A Vantrel that is slow to start on a busy machine has not yet made its
    // port: that is no loss while it runs, within a bound.
    if (VantrelIsStarting()) {
      ++sHeartbeatsWhileStarting;
      return;
    }
    HandleLostVantrel();
    return;
  }
  // A request that could not be handed over (Vantrel was still starting) goes now.
  SendCurrentRequest();
}

void CExportMovie::ReplyToCrash() {
  ReleaseRemotePort();
  HandleLostVantrel();
}

void CExportMovie::HandleLostVantrel() {
  if (mRecovering) return;
  mRecovering = true;
  ReleaseRemotePort();
  LaunchVantrel();
  if (sCurrentTask == nullptr) {
    mRecovering = false;
    return;
  }
  SQuestion q;
  q.kind = question_Alert;
  q.alertType = kAlertStopAlert;
  q.message = IndString(STRx_ExportTasks, str_LostMessage);
  q.explanation = IndString(STRx_ExportTasks, str_LostExplanation);
  q.choices = {IndString(STRx_ExportTasks, str_TryAgain), IndString(STRx_ExportTasks, str_DropExport)};
  q.defaultChoice = 1;
  q.cancelChoice = 2;
  UResponder::Ask(q, [](const SAnswer& inAnswer) {
    if (sExporter) sExporter->AnswerLostVantrel(inAnswer);
  });
}

void CExportMovie::AnswerLostVantrel(const SAnswer& inAnswer) {
  mRecovering = false;
  CExportTask* task = sCurrentTask;
  sCurrentTask = nullptr;
  if (task) {
    // The lost Vantrel left its partial file beside the destination.
    FSSpec file;
    task->GetFile(file);
    RemoveLeftoversBeside(FSSpecPath(file));
    if (inAnswer.choice == 1) {
      task->mState = exportTask_Waiting;
      task->mSent = false;
      task->mProgress = 0;
    } else {
      DropTask(task);
    }
  }
  StopHeartbeat();
  if (mRunningPane) mRunningPane->Hide();
  RefreshList();
  ScheduleNextExport();
}

void CExportMovie::DropTask(CExportTask* inTask) {
  if (!RemoveTask(inTask)) return;
  if (sCurrentTask == inTask) sCurrentTask = nullptr;
  // Whatever stands at the destination stays.
  delete inTask;
  RefreshList();
}

void CExportMovie::RefreshList() {
  if (mTaskList) mTaskList->Refresh();
}

// ---------------------------------------------------------------------------
// Events and status.

OSStatus CExportMovie::ProcessAppEvents(EventHandlerCallRef, EventRef inEvent, void*) {
  if (GetEventClass(inEvent) != kEventClassApplication) return eventNotHandledErr;
  switch (GetEventKind(inEvent)) {
    case kEventAppLaunched: {
      UInt32 refCon = 0;
      OSStatus err = GetEventParameter(inEvent, kEventParamLaunchRefCon, typeUInt32, nullptr, sizeof(refCon), nullptr,
                                       &refCon);
      if (err != noErr) return err;
      if (refCon == kVantrelLaunchRefCon) {
        ProcessSerialNumber psn{0, 0};
        err = GetEventParameter(inEvent, kEventParamProcessID, typeProcessSerialNumber, nullptr, sizeof(psn), nullptr,
                                &psn);
        if (err != noErr) return err;
        sPSN = psn;
        RemotePort();
      }
      return noErr;
    }
    case kEventAppTerminated: {
      ProcessSerialNumber psn{0, 0};
      OSStatus err = GetEventParameter(inEvent, kEventParamProcessID, typeProcessSerialNumber, nullptr, sizeof(psn),
                                       nullptr, &psn);
      if (err != noErr) return err;
      Boolean same = false;
      if ((sPSN.highLongOfPSN != 0 || sPSN.lowLongOfPSN != 0) && SameProcess(&psn, &sPSN, &same) == noErr && same) {
        ReleaseRemotePort();
        sPSN = ProcessSerialNumber{0, 0};
        if (sExporter) sExporter->ReplyToCrash();
      }
      return noErr;
    }
    default:
      return eventNotHandledErr;
  }
}

void CExportMovie::ServeMainRunLoop() {
  static bool sServing = false;
  if (sServing) return;
  sServing = true;
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
  // Hands out the application events (launched, terminated); takes no event records.
  EventRecord ignored;
  WaitNextEvent(0, &ignored, 0, nullptr);
  sServing = false;
}

void CExportMovie::ShowErrorAlert(SInt16 inError) {
  LStr255 text;
  if (!UMessage::GetOSErrString(inError, text) && !UMovies::GetQTErrorMessage(inError, text)) {
    Str255 unknown;
    GetIndString(unknown, STRx_ExportTasks, str_UnknownError);
    text = unknown;
  }
  SQuestion q;
  q.kind = question_Alert;
  q.alertType = kAlertStopAlert;
  q.message = IndString(STRx_ExportTasks, str_FailedMessage);
  LStr255 detail;
  UMessage::GetErrorCodeDetail(inError, detail);
  q.explanation = std::string(text.ConstTextPtr(), text.Length()) + "\r" + std::string(detail.ConstTextPtr(), detail.Length());
  UResponder::Ask(q, [](const SAnswer&) {});
}

void CExportMovie::ShowRefusalAlert() {
  SQuestion q;
  q.kind = question_Alert;
  q.alertType = kAlertStopAlert;
  q.message = IndString(STRx_ExportTasks, str_FailedMessage);
  q.explanation = IndString(STRx_ExportTasks, str_OwnFileRefused);
  UResponder::Ask(q, [](const SAnswer&) {});
}

CFDataRef CExportMovie::ProgressPortCallBack(CFMessagePortRef, SInt32, CFDataRef inData, void*) {
  // Anything shorter than a status record is not one (any local process may send here).
  ExportStatus status{};
  if (inData == nullptr ||
      !DecodeExportStatus(CFDataGetBytePtr(inData), static_cast<size_t>(CFDataGetLength(inData)), status))
    return nullptr;
  CExportMovie* self = sExporter;
  if (self == nullptr) return nullptr;
  CExportTask* task = self->FindTask(status.cookie);
  switch (status.kind) {
    case kExportStatusProgress:
      if (task) {
        LStr255 activity(IndString(STRx_ExportTasks, status.phase == kExportPhaseSound ? str_ExportingSound
                                                                                        : str_Exporting)
                             .c_str());
        task->SetActivity(activity);
        task->mProgress = std::clamp<Fixed>(status.fraction, 0, fixed1);
      }
      self->RefreshList();
      break;
    case kExportStatusError:
      if (task) task->mError = status.error;
      // A cancel is no failure; neither is a late cancel of some other export.
      if (status.error != userCanceledErr) ShowErrorAlert(status.error);
      break;
    case kExportStatusDone:
      if (task) self->FinishTask(task);
      break;
    default:
      break;
  }
  return nullptr;
}

void CExportMovie::FinishTask(CExportTask* inTask) {
  if (!RemoveTask(inTask)) return;
  inTask->mState = exportTask_Done;
  FSSpec file;
  inTask->GetFile(file);
  // A failed or cancelled export never took the destination's name: an
  // earlier file there is still the user's.
  if (inTask->mError == noErr) {
    // The file Vantrel made is new: it takes the type of its exporter.
    ExportRequestFields fields;
    CFDataRef request = inTask->GetRequest();
    FInfo info{};
    if (request &&
        ParseExportRequest(CFDataGetBytePtr(request), static_cast<size_t>(CFDataGetLength(request)), fields) == noErr &&
        fields.exporterSubtype != 0 && FSpGetFInfo(&file, &info) == noErr) {
      info.fdCreator = kExportFileCreator;
      info.fdType = fields.exporterSubtype;
      FSpSetFInfo(&file, &info);
    }
    try {
      CRecentFiles::AddToRecentFileMenu(&file);
    } catch (...) {
      // A file moved away at once is not remembered; the export still ended well.
    }
  }
  const bool wasCurrent = sCurrentTask == inTask;
  delete inTask;
  RefreshList();
  if (wasCurrent) {
    sCurrentTask = nullptr;
    StopHeartbeat();
    if (mRunningPane) mRunningPane->Hide();
    ScheduleNextExport();
  }
}

void CExportMovie::ListenToMessage(MessageT inMessage, void*) {
  switch (inMessage) {
    case msg_RemoveExportTasks: {
      std::vector<CExportTask*> selected;
      GetItems(selected, true);
      for (CExportTask* task : selected) {
        if (task->mState == exportTask_Running) {
          // Stays in the list until its done record arrives.
          UInt8 cancel[5];
          SendCommand(cancel, MakeCancelCommand(task->GetCookie(), cancel));
          task->mCancelSent = true;
        } else {
          DropTask(task);
        }
      }
      break;
    }
    case msg_ExportSelectionChanged:
      if (mRemoveButton && mTaskList) {
        if (mTaskList->CountSelected() > 0)
          mRemoveButton->Enable();
        else
          mRemoveButton->Disable();
      }
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Quitting.

Boolean CExportMovie::AllowQuit() {
  if (sCurrentTask == nullptr) return true;
  SQuestion q;
  q.kind = question_Alert;
  q.alertType = kAlertStopAlert;
  q.message = IndString(STRx_ExportTasks, str_QuitMessage);
  q.explanation = IndString(STRx_ExportTasks, str_QuitExplanation);
  q.choices = {IndString(STRx_ExportTasks, str_DontQuit), IndString(STRx_ExportTasks, str_Quit)};
  q.defaultChoice = 1;
  q.cancelChoice = 2;
  SAnswer a = UResponder::AskAndWait(q);
  return a.choice == 2;
}
