// The application's side of every export. At start-up it opens the status
// port "TremblorixExportProgressPort", ends any Vantrel left from an earlier
// run, launches the bundle's Vantrel and collects the installed exporters. A
// document's export writes the request and queues it as a task (nothing is
// made at the destination: Vantrel renames the finished movie over it); tasks
// go to Vantrel one at a time (the waiting task added last
// first). While one runs a heartbeat checks every 2 s that Vantrel is there;
// when it is lost (or its terminated event comes) Vantrel is launched again
// and the user retries or drops the running task. Status records move the
// tasks' progress; done records end them: into the recent files, or, after a
// failure, an alert, the destination as it was.
//
// Everything runs on the main thread: the status port is served by the main
// run loop, which a pump of the event loop turns once per tick, together with
// the application events (launched, terminated).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "app/CExportTask.h"
#include "app/ExporterItem.h"
#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/Events.h"
#include "platform/ipc/Processes.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LPane.h"

class CExportTasksPane;
class CMovie;
class LPane;
class LTagReader;
class LTagWriter;
class LWindow;
struct SAnswer;

constexpr CommandT kCmdExportTasksWindow = 6300;
constexpr ResIDT PPob_ExportTasks = 1100;
constexpr SInt16 STRx_ExportTasks = 5003;
constexpr SInt16 STRx_ExportList = 5004;
constexpr UInt32 kVantrelLaunchRefCon = 0x0F0F0F0E;
constexpr OSType kExportFileCreator = 'DEZI';
constexpr MessageT msg_RemoveExportTasks = 2;
constexpr MessageT msg_ExportSelectionChanged = 1000;

// Panes of the export-tasks window.
constexpr PaneIDT kExportTaskListPane = 1;
constexpr PaneIDT kExportRemoveButton = 2;
constexpr PaneIDT kExportRunningPane = 3;

// The export would overwrite a file the movie reads: its document's own file
// or one of its media files.
constexpr OSErr err_ExportOverwritesSource = fBsyErr;

// Send time-outs of the commands (cancel, quit, heartbeat): short, so that a
// Vantrel that hangs never holds up the interface.
constexpr double kExportCommandSendTimeout = 0.05;

// The export-settings section of the preferences.
enum : UInt32 {
  kExportPrefSelectionOnly = 'XpSO',
  kExportPrefSingleField = 'XpSF',
  kExportPrefCurrentExporter = 'XpCr',
  kExportPrefWindowBounds = 'XpBd',
  kExportPrefWindowVisible = 'XpVs',
  kExportPrefExporterType = 'XpTp',
  kExportPrefExporterSettings = 'XpSg',
  kExportPrefEnd = '>>>>',
};

class CExportMovie : public LListener, public LPeriodical {
 public:
  // Start-up; failures are thrown (a failed launch of Vantrel as its OSErr).
  static OSErr Init();
  // Shut-down: cancels the running export, asks Vantrel to quit, frees everything.
  static void Finish();
  // True when no export runs, else whether the user chose to quit anyway.
  static Boolean AllowQuit();
  // Queues the export of a document's movie to inDestination with the
  // current export options; failures are thrown.
  static OSErr DoExport(CMovie* inMovie, FSSpec* inDestination);
  // Launches the bundle's Vantrel; 0 without one. Failures go to the system log.
  static OSErr LaunchVantrel();
  // Sends a request (waits for Vantrel's reply); paramErr without port or data.
  static OSErr SendDataToRemotePort(CFDataRef inData);
  // Sends a command (one way, short time-out).
  static OSErr SendCommand(const UInt8* inBytes, size_t inLength);
  static OSStatus AddTask(CExportTask* inTask);

  static CExportMovie* GetExporter() { return sExporter; }
  static CExportTask* GetCurrentTask() { return sCurrentTask; }
  // Tasks in the order they were added.
  const std::vector<CExportTask*>& GetTasks() const { return mTasks; }
  // How many exports have been queued since the program started.
  static UInt32 GetTasksQueued() { return sTasksQueued; }
  CExportTask* FindTask(UInt32 inCookie) const;
  LWindow* GetWindow() const { return mWindow; }
  CExportTasksPane* GetTaskList() const { return mTaskList; }
  LPane* GetRemoveButton() const { return mRemoveButton; }
  LPane* GetRunningPane() const { return mRunningPane; }
  // Whether a relaunch of Vantrel waits for the user's answer.
  Boolean IsRecovering() const { return mRecovering; }
  static const ProcessSerialNumber& GetVantrelPSN() { return sPSN; }
  // Heartbeats that found no port while the launched Vantrel was still starting.
  static UInt32 GetHeartbeatsWhileStarting() { return sHeartbeatsWhileStarting; }
  // Whether the launched Vantrel is still starting: it runs, has not opened
  // its port yet, and was launched within the bound.
  static Boolean VantrelIsStarting();

  void ScheduleNextExport();
  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  // The heartbeat.
  void SpendTime(const EventRecord& inMacEvent) override;
  // Vantrel ended: launches it again and asks about the running task.
  void ReplyToCrash();
  // Fills outTasks with the tasks (all, or the selected ones) in list order.
  OSStatus GetItems(std::vector<CExportTask*>& outTasks, Boolean inSelectedOnly) const;
  // Removes the task from the list (not deleted); false when it is not there.
  Boolean RemoveTask(CExportTask* inTask);

  static OSStatus ProcessAppEvents(EventHandlerCallRef inCallRef, EventRef inEvent, void* inUserData);
  static CFDataRef ProgressPortCallBack(CFMessagePortRef inPort, SInt32 inMsgID, CFDataRef inData, void* inInfo);
  // Turns the main run loop once and hands out the application events.
  static void ServeMainRunLoop();

  // The export-tasks window: command 6300 shows or hides it.
  static Boolean ObeyCommand(CommandT inCommand);
  static Boolean FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark);
  void ShowWindow();

  // The export-settings section of the preferences.
  static void ReadFromStream(LTagReader& inReader);
  static void WriteToStream(LTagWriter& inWriter);

  // The exporter list.
  static const std::vector<ExporterItem*>& GetExporterArray() { return sExporterArray; }
  static OSErr UpdateExporterSettings(OSType inSubtype, Handle inSettings);
  static OSErr GetExporterSettings(OSType inSubtype, Handle* outSettings);
  // The exporters' names in list order (the export sheet's pop-up).
  static std::vector<std::string> GetExporterNames();
  static SInt16 GetIndexForExporter(OSType inSubtype);
  static UInt32 GetFlagsForExporter(OSType inSubtype);
  static OSType GetExporterForIndex(SInt16 inIndex);

  // The movie document's export: queues the export and answers 0, or the
  // failure. A destination the movie reads is refused with an alert of its
  // own and answers 0, so that the caller deletes nothing.
  static OSErr ExportForDocument(CMovie* inMovie, const FSSpec& inDestination);
  // Hooks ExportForDocument up to the movie documents (or unhooks it).
  static void InstallDocumentExport(Boolean inInstall);
  static void ShowRefusalAlert();
  static Boolean IsWindowVisible();

  // Whether inFile is a file the movie reads (its own file or a media file).
  static Boolean IsSourceOfMovie(Movie inMovie, const FSSpec& inFile);
  // Whether an export can be written to the destination: its folder exists
  // and takes new files, and it is not a folder itself.
  static OSErr CheckDestination(const FSSpec& inDestination);
  [[noreturn]] static void ThrowPortFailure();

 private:
  CExportMovie();
  ~CExportMovie() override;
  void MakeWindow();
  // Puts the window's frame at the right edge of the main screen's free area.
  void PlaceWindow();
  void RefreshList();
  void StartHeartbeat();
  void StopHeartbeat();
  // Sends the running task's request when it has not reached Vantrel yet.
  void SendCurrentRequest();
  // Vantrel is gone (heartbeat or terminated event): one relaunch and one
  // question at a time.
  void HandleLostVantrel();
  void AnswerLostVantrel(const SAnswer& inAnswer);
  // Removes a task that will not run (any more) and deletes its unfinished destination.
  void DropTask(CExportTask* inTask);
  void FinishTask(CExportTask* inTask);
  static void ShowErrorAlert(SInt16 inError);
  UInt32 NewCookie();
  static void ReleaseRemotePort();
  static CFMessagePortRef RemotePort();

  LWindow* mWindow = nullptr;
  LCommander* mWindowKeeper = nullptr;
  Rect mPlacedBounds = {0, 0, 0, 0};  // where PlaceWindow left it
  Boolean mWindowShown = false;
  CExportTasksPane* mTaskList = nullptr;
  LPane* mRemoveButton = nullptr;
  LPane* mRunningPane = nullptr;
  std::vector<CExportTask*> mTasks;
  std::map<UInt32, CExportTask*> mCookies;
  UInt32 mNextCookie = 1;
  Boolean mRecovering = false;
  LPeriodical* mPump = nullptr;

  static CExportMovie* sExporter;
  static std::vector<ExporterItem*> sExporterArray;
  static CExportTask* sCurrentTask;
  static UInt32 sTasksQueued;
  static CFMessagePortRef sLocalPort;
  static CFRunLoopSourceRef sRunLoopSource;
  static CFMessagePortRef sRemoteMessagePort;
  static ProcessSerialNumber sPSN;
  // A launched Vantrel whose port has not answered yet, and since when.
  static Boolean sLaunchPending;
  static std::chrono::steady_clock::time_point sLaunchedAt;
  static UInt32 sHeartbeatsWhileStarting;
  static EventHandlerRef sAppEventHandler;
};
