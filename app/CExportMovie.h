// The application's side of every export, a client of Vantrel. At start-up
// it opens the status port, ends any Vantrel left from an earlier run,
// launches the bundle's Vantrel and collects the installed exporters. A
// document's export writes the request and queues it as a task (nothing is
// made at the destination: Vantrel renames the finished movie over it); tasks
// go to Vantrel one at a time (the waiting task added last first). While one
// runs a heartbeat checks every 2 s that Vantrel is there; when it is lost
// (or its terminated event comes) Vantrel is launched again and the user
// retries or drops the running task. Status records move the tasks'
// progress; done records end them: into the recent files, or, after a
// failure, an alert, the destination as it was.
//
// Its jobs live in their own classes, which the client owns and hands to
// each other: Vantrel's process and ports (CExportProcess), the task queue
// (CExportQueue), the exporters and their stored settings
// (CExportMovieSettings). The export-tasks window is the client's own
// (CExportMovieWindow.cpp), and so is the movie documents' way in
// (CExportMovieDocument.cpp).
//
// Everything runs on the main thread: the status port is served by the main
// run loop, which a pump of the event loop turns once per tick, together with
// the application events (launched, terminated).
#pragma once

#include <string>
#include <vector>

#include "app/CExportMovieSettings.h"
#include "app/CExportProcess.h"
#include "app/CExportQueue.h"
#include "app/CExportTask.h"
#include "app/ExportTexts.h"
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
struct ExportStatus;
struct SAnswer;

constexpr CommandT cmd_ExportTasksWindow = 6300;
constexpr ResIDT PPob_ExportTasks = 1100;
constexpr MessageT msg_RemoveExportTasks = 2;
constexpr MessageT msg_ExportSelectionChanged = 1000;

// Panes of the export-tasks window.
constexpr PaneIDT kExportTaskListPane = 1;
constexpr PaneIDT kExportRemoveButton = 2;
constexpr PaneIDT kExportRunningPane = 3;

// The export would overwrite a file the movie reads: its document's own file
// or one of its media files.
constexpr OSErr err_ExportOverwritesSource = fBsyErr;

class CExportMovie : public LListener, public LPeriodical {
 public:
  // Start-up; failures are thrown (a failed launch of Vantrel as its OSErr).
  static OSErr Init();
  // Shut-down: cancels the running export, asks Vantrel to quit, frees everything.
  static void Finish();
  // The status port's callback: one status record of Vantrel's (also how the
  // fuzz harness hands the client records).
  static CFDataRef ProgressPortCallBack(CFMessagePortRef inPort, SInt32 inMsgID, CFDataRef inData, void* inInfo);
  // True when no export runs, else whether the user chose to quit anyway.
  static Boolean AllowQuit();
  // Queues the export of a document's movie to inDestination with the
  // current export options; failures are thrown.
  static OSErr DoExport(CMovie* inMovie, FSSpec* inDestination);
  // Sends a command to Vantrel (one way, short time-out); paramErr without Vantrel.
  static OSErr SendCommand(const UInt8* inBytes, size_t inLength);

  static CExportMovie* GetExporter() { return sExporter; }
  static CExportTask* GetCurrentTask() { return sExporter ? sExporter->mQueue.GetCurrent() : nullptr; }
  // Tasks in the order they were added.
  const std::vector<CExportTask*>& GetTasks() const { return mQueue.GetTasks(); }
  // How many exports have been queued since the program started.
  static UInt32 GetTasksQueued() { return sTasksQueued; }
  CExportTask* FindTask(UInt32 inCookie) const { return mQueue.Find(inCookie); }
  LWindow* GetWindow() const { return mWindow; }
  CExportTasksPane* GetTaskList() const { return mTaskList; }
  LPane* GetRemoveButton() const { return mRemoveButton; }
  LPane* GetRunningPane() const { return mRunningPane; }
  // The launched Vantrel's process ({0, 0} without one).
  static const ProcessSerialNumber& GetVantrelPSN();
  // Heartbeats that found no port while the launched Vantrel was still starting.
  static UInt32 GetHeartbeatsWhileStarting() { return sExporter ? sExporter->mHeartbeatsWhileStarting : 0; }
  // Whether the launched Vantrel is still starting: it runs, has not opened
  // its port yet, and was launched within the bound.
  static Boolean VantrelIsStarting() { return sProcess != nullptr && sProcess->IsStarting(); }

  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  // The heartbeat.
  void SpendTime(const EventRecord& inMacEvent) override;

  // Turns the main run loop once and hands out the application events.
  static void ServeMainRunLoop();

  // The export-tasks window: cmd_ExportTasksWindow shows or hides it.
  static Boolean ObeyCommand(CommandT inCommand);
  static Boolean FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark);
  void ShowWindow();
  static Boolean IsWindowVisible();

  // The export-settings section of the preferences.
  static void ReadFromStream(LTagReader& inReader);
  static void WriteToStream(LTagWriter& inWriter);

  // The exporter list (empty before Init), for the export sheet and scripts.
  static const std::vector<ExporterItem*>& GetExporterArray();
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

  // Whether inFile is a file the movie reads (its own file or a media file).
  static Boolean IsSourceOfMovie(Movie inMovie, const FSSpec& inFile);
  // Whether an export can be written to the destination: its folder exists
  // and takes new files, and it is not a folder itself.
  static OSErr CheckDestination(const FSSpec& inDestination);

 private:
  CExportMovie(CExportProcess& inProcess, CExportMovieSettings& inSettings);
  ~CExportMovie() override;
  void MakeWindow();
  // Puts the window's frame at the right edge of the main screen's free area.
  void PlaceWindow();
  void RefreshList();
  // Queues a task made by DoExport; paramErr without one.
  OSStatus AddTask(CExportTask* inTask);
  // Starts the next waiting task when none runs.
  void ScheduleNextExport();
  void StartHeartbeat();
  void StopHeartbeat();
  // Sends the running task's request when it has not reached Vantrel yet.
  void SendCurrentRequest();
  // Vantrel ended (its terminated event): launches it again and asks about the running task.
  void ReplyToCrash();
  // Vantrel is gone (heartbeat or terminated event): one relaunch and one
  // question at a time.
  void HandleLostVantrel();
  void AnswerLostVantrel(const SAnswer& inAnswer);
  // Fills outTasks with the tasks (all, or the selected ones) in list order.
  OSStatus GetItems(std::vector<CExportTask*>& outTasks, Boolean inSelectedOnly) const;
  // Removes the task from the queue and the list (not deleted); false when it is not there.
  Boolean RemoveTask(CExportTask* inTask);
  // Removes a task that will not run (any more) and deletes it.
  void DropTask(CExportTask* inTask);
  void FinishTask(CExportTask* inTask);
  // A status record from Vantrel.
  void ReceiveStatus(const ExportStatus& inStatus);
  static void ShowErrorAlert(SInt16 inError);
  static void ShowRefusalAlert();

  static OSStatus ProcessAppEvents(EventHandlerCallRef inCallRef, EventRef inEvent, void* inUserData);

  CExportProcess& mProcess;
  CExportMovieSettings& mSettings;
  CExportQueue mQueue;
  LWindow* mWindow = nullptr;
  LCommander* mWindowKeeper = nullptr;
  Rect mPlacedBounds = {0, 0, 0, 0};  // where PlaceWindow left it
  Boolean mWindowShown = false;
  CExportTasksPane* mTaskList = nullptr;
  LPane* mRemoveButton = nullptr;
  LPane* mRunningPane = nullptr;
  // Whether a relaunch of Vantrel waits for the user's answer.
  Boolean mRecovering = false;
  UInt32 mHeartbeatsWhileStarting = 0;
  LPeriodical* mPump = nullptr;

  // The client and the parts made before it and kept until Finish.
  static CExportMovie* sExporter;
  static CExportProcess* sProcess;
  static CExportMovieSettings* sSettings;
  static EventHandlerRef sAppEventHandler;
  static UInt32 sTasksQueued;
};
