// The export client: start-up and shut-down, the scheduling of the tasks,
// the heartbeat and relaunch of Vantrel, and the status records.
#include "app/CExportMovie.h"

#include <algorithm>
#include <vector>

#include "app/CExportTasksPane.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/LMovieExportNavSheet.h"
#include "media/UMovies.h"
#include "platform/base/LException.h"
#include "platform/files/PartialFiles.h"
#include "platform/files/Resources.h"
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
CExportProcess* CExportMovie::sProcess = nullptr;
CExportMovieSettings* CExportMovie::sSettings = nullptr;
EventHandlerRef CExportMovie::sAppEventHandler = nullptr;
UInt32 CExportMovie::sTasksQueued = 0;

namespace {

constexpr double kHeartbeatInterval = 2.0;
// The pump turns the main run loop about once per tick while an export runs
// (its status records), ten times a second otherwise (launch and end events).
constexpr double kPumpBusyInterval = 1.0 / 60.0;
constexpr double kPumpIdleInterval = 0.1;

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

OSErr CExportMovie::Init() {
  if (sExporter) return noErr;
  // What earlier exports and saves left half-written when they were killed.
  RemoveNotedLeftovers();

  // The status port first: while another Tremblorix holds it, the Vantrel
  // that is running is that program's, and its exports are left alone. Only
  // a Vantrel nobody listens to any more is asked to quit.
  if (sProcess == nullptr) sProcess = new CExportProcess;
  try {
    sProcess->OpenStatusPort(ProgressPortCallBack);
  } catch (...) {
    delete sProcess;
    sProcess = nullptr;
    throw;
  }
  CExportProcess::QuitEarlierVantrel();
  sProcess->SendCommand(EncodeExportCommand(kExportCommandCancel));
  sProcess->SendCommand(EncodeExportCommand(kExportCommandQuit));
  sProcess->ReleaseRemotePort();

  if (sAppEventHandler == nullptr) {
    const EventTypeSpec kinds[] = {{kEventClassApplication, kEventAppLaunched},
                                   {kEventClassApplication, kEventAppTerminated}};
    InstallApplicationEventHandler(NewEventHandlerUPP(ProcessAppEvents), 2, kinds, nullptr, &sAppEventHandler);
  }

  if (sSettings == nullptr) sSettings = new CExportMovieSettings;
  sSettings->CollectExporters();

  // The classes of the window's and the sheet's layouts.
  if (!URegistrar::IsRegistered(LWindow::class_ID)) TRegistrar<LWindow>::Register();
  if (!URegistrar::IsRegistered(LView::class_ID)) TRegistrar<LView>::Register();
  if (!URegistrar::IsRegistered(LPane::class_ID)) TRegistrar<LPane>::Register();
  if (!URegistrar::IsRegistered(LPushButton::class_ID)) UControlRegistry::RegisterClasses();
  CExportTasksPane::Register();
  LMovieExportNavSheet::InstallExporterDialog();
  CSettingsResource::SetExportSection(ReadFromStream, WriteToStream);
  InstallDocumentExport(true);

  OSErr err = sProcess->Launch();
  if (err != noErr) {
    Finish();
    Throw_(err);
  }
  try {
    sExporter = new CExportMovie(*sProcess, *sSettings);
  } catch (...) {
    Finish();
    throw;
  }
  return noErr;
}

void CExportMovie::Finish() {
  // Without a start-up any Vantrel at the port is asked to quit all the same.
  CExportProcess unstarted;
  CExportProcess& process = sProcess ? *sProcess : unstarted;
  if (CExportTask* current = GetCurrentTask()) {
    UInt8 cancel[5];
    process.SendCommand(cancel, MakeCancelCommand(current->GetCookie(), cancel));
  }
  const std::vector<UInt8> quit = EncodeExportCommand(kExportCommandQuit);
  process.SendCommand(quit);
  delete sSettings;
  sSettings = nullptr;
  delete sExporter;
  sExporter = nullptr;
  process.SendCommand(quit);
  process.CloseStatusPort();
  process.ReleaseRemotePort();
  if (sAppEventHandler) {
    RemoveEventHandler(sAppEventHandler);
    sAppEventHandler = nullptr;
  }
  CSettingsResource::SetExportSection(nullptr, nullptr);
  InstallDocumentExport(false);
  delete sProcess;
  sProcess = nullptr;
}

CExportMovie::CExportMovie(CExportProcess& inProcess, CExportMovieSettings& inSettings)
    : mProcess(inProcess), mSettings(inSettings) {
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
  mQueue.DeleteAll();
  delete mWindow;
  mWindow = nullptr;
  delete mWindowKeeper;
  delete mPump;
}

const ProcessSerialNumber& CExportMovie::GetVantrelPSN() {
  static const ProcessSerialNumber kNone = {0, 0};
  return sProcess ? sProcess->GetPSN() : kNone;
}

OSErr CExportMovie::SendCommand(const UInt8* inBytes, size_t inLength) {
  return sProcess ? sProcess->SendCommand(inBytes, inLength) : static_cast<OSErr>(paramErr);
}

// ---------------------------------------------------------------------------
// The task queue.

OSStatus CExportMovie::AddTask(CExportTask* inTask) {
  if (inTask == nullptr) return paramErr;
  mQueue.Add(inTask);
  ++sTasksQueued;
  RefreshList();
  if (mQueue.GetCurrent() == nullptr) ScheduleNextExport();
  return noErr;
}

Boolean CExportMovie::RemoveTask(CExportTask* inTask) {
  if (!mQueue.Remove(inTask)) return false;
  if (mTaskList) mTaskList->TaskRemoved(inTask);
  return true;
}

OSStatus CExportMovie::GetItems(std::vector<CExportTask*>& outTasks, Boolean inSelectedOnly) const {
  outTasks.clear();
  if (mTaskList == nullptr) Throw_('nilP');
  for (CExportTask* task : mQueue.GetTasks())
    if (!inSelectedOnly || mTaskList->IsSelected(task)) outTasks.push_back(task);
  return noErr;
}

// ---------------------------------------------------------------------------
// Scheduling and the heartbeat.

void CExportMovie::ScheduleNextExport() {
  if (mQueue.GetCurrent() || mRecovering) return;
  CExportTask* next = mQueue.NextWaiting();
  if (next == nullptr) return;
  next->mState = exportTask_Running;
  next->mSent = false;
  next->mCancelSent = false;
  next->mProgress = 0;
  next->mError = 0;
  mQueue.SetCurrent(next);
  SendCurrentRequest();
  RefreshList();
  if (mRunningPane) mRunningPane->Show();
  StartHeartbeat();
}

void CExportMovie::SendCurrentRequest() {
  CExportTask* current = mQueue.GetCurrent();
  if (current == nullptr || current->mSent) return;
  // Only a request that surely never arrived is sent again: one whose reply
  // came late is queued in Vantrel already.
  const OSErr err = mProcess.SendRequest(current->GetRequest());
  current->mSent = err != paramErr && err != kCFMessagePortSendTimeout && err != kCFMessagePortIsInvalid;
}

void CExportMovie::StartHeartbeat() { StartRepeating(kHeartbeatInterval); }
void CExportMovie::StopHeartbeat() { StopRepeating(); }

void CExportMovie::SpendTime(const EventRecord&) {
  // While the user is asked about a lost Vantrel the heartbeat waits.
  if (mRecovering) return;
  if (mProcess.SendCommand(EncodeExportCommand(kExportCommandHeartbeat)) != noErr) {
    // A Vantrel that is slow to start on a busy machine has not yet made its
    // port: that is no loss while it runs, within a bound.
    if (mProcess.IsStarting()) {
      ++mHeartbeatsWhileStarting;
      return;
    }
    HandleLostVantrel();
    return;
  }
  // A request that could not be handed over (Vantrel was still starting) goes now.
  SendCurrentRequest();
}

void CExportMovie::ReplyToCrash() {
  mProcess.ReleaseRemotePort();
  HandleLostVantrel();
}

void CExportMovie::HandleLostVantrel() {
  if (mRecovering) return;
  mRecovering = true;
  mProcess.ReleaseRemotePort();
  mProcess.Launch();
  if (mQueue.GetCurrent() == nullptr) {
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
  CExportTask* task = mQueue.GetCurrent();
  mQueue.SetCurrent(nullptr);
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
  if (mQueue.GetCurrent() == inTask) mQueue.SetCurrent(nullptr);
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
        if (sProcess) sProcess->Launched(psn);
      }
      return noErr;
    }
    case kEventAppTerminated: {
      ProcessSerialNumber psn{0, 0};
      OSStatus err = GetEventParameter(inEvent, kEventParamProcessID, typeProcessSerialNumber, nullptr, sizeof(psn),
                                       nullptr, &psn);
      if (err != noErr) return err;
      if (sProcess && sProcess->Terminated(psn) && sExporter) sExporter->ReplyToCrash();
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
  if (sExporter) sExporter->ReceiveStatus(status);
  return nullptr;
}

void CExportMovie::ReceiveStatus(const ExportStatus& inStatus) {
  CExportTask* task = FindTask(inStatus.cookie);
  switch (inStatus.kind) {
    case kExportStatusProgress:
      if (task) {
        LStr255 activity(IndString(STRx_ExportTasks, inStatus.phase == kExportPhaseSound ? str_ExportingSound
                                                                                          : str_Exporting)
                             .c_str());
        task->SetActivity(activity);
        task->mProgress = std::clamp<Fixed>(inStatus.fraction, 0, fixed1);
      }
      RefreshList();
      break;
    case kExportStatusError:
      if (task) task->mError = inStatus.error;
      // A cancel is no failure; neither is a late cancel of some other export.
      if (inStatus.error != userCanceledErr) ShowErrorAlert(inStatus.error);
      break;
    case kExportStatusDone:
      if (task) FinishTask(task);
      break;
    default:
      break;
  }
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
      info.fdCreator = kTremblorixFileCreator;
      info.fdType = fields.exporterSubtype;
      FSpSetFInfo(&file, &info);
    }
    try {
      CRecentFiles::AddToRecentFileMenu(&file);
    } catch (...) {
      // A file moved away at once is not remembered; the export still ended well.
      LogCurrentException("export", "recent file");
    }
  }
  const bool wasCurrent = mQueue.GetCurrent() == inTask;
  delete inTask;
  RefreshList();
  if (wasCurrent) {
    mQueue.SetCurrent(nullptr);
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
          mProcess.SendCommand(cancel, MakeCancelCommand(task->GetCookie(), cancel));
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
  if (GetCurrentTask() == nullptr) return true;
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

// ---------------------------------------------------------------------------
// The exporters and their stored settings (none before start-up).

const std::vector<ExporterItem*>& CExportMovie::GetExporterArray() {
  static const std::vector<ExporterItem*> kNone;
  return sSettings ? sSettings->GetExporters() : kNone;
}

OSErr CExportMovie::UpdateExporterSettings(OSType inSubtype, Handle inSettings) {
  return sSettings ? sSettings->UpdateSettings(inSubtype, inSettings) : static_cast<OSErr>(paramErr);
}

OSErr CExportMovie::GetExporterSettings(OSType inSubtype, Handle* outSettings) {
  if (sSettings) return sSettings->GetSettings(inSubtype, outSettings);
  if (outSettings) *outSettings = nullptr;
  return paramErr;
}

std::vector<std::string> CExportMovie::GetExporterNames() {
  return sSettings ? sSettings->GetNames() : std::vector<std::string>();
}

SInt16 CExportMovie::GetIndexForExporter(OSType inSubtype) { return sSettings ? sSettings->GetIndex(inSubtype) : -1; }

UInt32 CExportMovie::GetFlagsForExporter(OSType inSubtype) { return sSettings ? sSettings->GetFlags(inSubtype) : 0; }

OSType CExportMovie::GetExporterForIndex(SInt16 inIndex) { return sSettings ? sSettings->GetSubtype(inIndex) : 0; }

void CExportMovie::WriteToStream(LTagWriter& inWriter) {
  const CExportMovieSettings none;
  (sSettings ? *sSettings : none).WriteToStream(inWriter, sExporter ? sExporter->mWindow : nullptr);
}

void CExportMovie::ReadFromStream(LTagReader& inReader) {
  CExportMovieSettings none;
  (sSettings ? *sSettings : none).ReadFromStream(inReader, sExporter ? sExporter->mWindow : nullptr, [] {
    if (sExporter) sExporter->ShowWindow();
  });
}
