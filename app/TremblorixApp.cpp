#include "app/TremblorixApp.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include "app/CExportMovie.h"
#include "app/CPreferences.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "app/TremblorixAppDocuments.h"
#include "app/TremblorixAppParts.h"
#include "media/CMovie.h"
#include "media/UAVUtils.h"
#include "media/UMovies.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/base/TrxLog.h"
#include "platform/files/Resources.h"
#include "platform/files/Scrap.h"
#include "platform/framework/LAction.h"
#include "platform/framework/LAttachable.h"
#include "platform/framework/LThread.h"
#include "platform/framework/UEventLoop.h"
#include "platform/movies/Movies.h"
#include "platform/framework/LUndoer.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LRadioGroup.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTabGroup.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/URegistrar.h"
#include "platform/ui/LView.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UModalDialogs.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/UWindowImages.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/CWindowMenu.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/UMessage.h"

extern char** environ;

TremblorixApp* TremblorixApp::sApplication = nullptr;
SInt16 gHelpMenuItemIndex = 0;
UInt8 TremblorixApp::sOpenMovie = 0;
std::string TremblorixApp::sLastHelpPage;
std::string TremblorixApp::sLastURL;

namespace {

constexpr OSType kAllReadableTypes = 0x3F3F3F3F;  // '????': all readable files
OSType sCurrentFileType = kAllReadableTypes;

const OSType kAcceptedTypes[] = {'MooV', 'PDF ', 'FLC ', '3gpp', 'GIFf', 'VfW ', 'SWFL', 'dvc!', 'mpg4'};

// The texts of the application's string list.
LStr255 AppString(SInt16 inIndex) {
  Str255 text;
  GetIndString(text, STRx_Application, inIndex);
  return LStr255(text);
}

std::string AppText(SInt16 inIndex) {
  LStr255 s = AppString(inIndex);
  return std::string(s.ConstTextPtr(), s.Length());
}

// The text an alert shows for a failure: the failure's own message, else
// the system's text for its code.
LStr255 FailureText(const LException& inErr) {
  ConstStringPtr message = inErr.GetErrorString();
  if (message && message[0] != 0) return LStr255(message);
  LStr255 text;
  UMessage::GetOSErrString(ErrorCodeToOSErr(inErr.GetErrorCode()), text);
  return text;
}

// The main thread yields to the cooperative analysis threads on every event.
class CYieldAttachment : public LAttachment {
 public:
  CYieldAttachment() : LAttachment(msg_Event) {}

 protected:
  void ExecuteSelf(MessageT, void*) override {
    if (LThread::InMainThread() && LThread::CountReadyThreads() > 0) LThread::Yield(nullptr);
  }
};

Boolean ClipboardHoldsMovie() {
  ScrapRef scrap = nullptr;
  if (GetCurrentScrap(&scrap) != noErr) return false;
  SInt32 size = 0;
  return GetScrapFlavorSize(scrap, 'moov', &size) == noErr && size > 0;
}

}  // namespace

TremblorixApp::TremblorixApp() {
  sApplication = this;
  // Long operations that show a progress sheet let the events through here,
  // so the sheet draws and its Cancel button is heard while they run.
  UMessage::SetProcessEventsProc(&TremblorixApp::ProcessEvents);
  try {
    RegisterClasses();
    StDialogHandler::SetLayoutReader(
        [](ResIDT inID, LCommander* inSuper) { return UReanimator::CreateWindow(inID, inSuper); });
    // Movie files dropped on any window open as documents.
    UWindowImages::AcceptFileDrops();
  } catch (const LException& e) {
    UMessage::StopAlert(AppString(1), ErrorCodeToOSErr(e.GetErrorCode()));
    ExitToShell();
  }
}

TremblorixApp::~TremblorixApp() {
  StopRepeating();
  if (mInitialized) {
    FSSpec spec;
    if (CPreferences::GetPrefFile(&spec)) WritePrefs(&spec);
    AppParts::FinishExportClient();
    UFileUtils::Finish();
    CPreferences::Finish();
    AppParts::FinishHelp();
    CRecentFiles::Delete();
    UMovies::FinishMovies();
  }
  if (CWindowMenu::mWindowMenu) CWindowMenu::Finish();
  if (sApplication == this) {
    sApplication = nullptr;
    UMessage::SetProcessEventsProc(nullptr);
  }
}

void TremblorixApp::ProcessEvents() {
  if (sApplication) sApplication->ProcessNextEvent();
}

void TremblorixApp::ExitToShell() {
  mExitCode = 1;
  mState = programState_Quitting;
}

void TremblorixApp::RegisterClasses() {
  // The framework's classes first, then the standard controls, then the
  // program's own panes, in the order the layouts expect them.
  TRegistrar<LWindow>::Register();
  TRegistrar<LUndoer>::Register();
  TRegistrar<LTextEditView>::Register();
  TRegistrar<LView>::Register();
  TRegistrar<LPane>::Register();
  TRegistrar<LCaption>::Register();
  UControlRegistry::RegisterClasses();
  TRegistrar<CRegularWindow>::Register();
  AppParts::RegisterMovieViewClasses();
  TRegistrar<LEditField>::Register();
  TRegistrar<LTabGroup>::Register();
  AppParts::RegisterBrowserClasses();
  AppParts::RegisterHelpButtonClasses();
  TRegistrar<LRadioGroup>::Register();
  AppParts::RegisterColorPickerClasses();
  AppParts::RegisterAttachmentClasses();
  AppParts::RegisterTimeSliderClasses();
  AppParts::RegisterSmallControlClasses();
  AppParts::RegisterExportClasses();
}

OSErr TremblorixApp::RunStartStep(EStartStep inStep) {
  switch (inStep) {
    case startStep_VectorUnit: UAVUtils::Init(); return noErr;
    case startStep_TextEngine: return noErr;  // the desktop layer's text views need no set-up
    case startStep_Movies:
      if (!UMovies::InitMovies()) return -1;
      // Movies outside a document report long toolbox operations in the
      // application's progress window.
      CMovie::SetUniversalProgressProc(UMessage::UniversalProgressProcedure);
      return noErr;
    case startStep_WindowMenu:
      InstallMenus();
      CWindowMenu::Init();
      return noErr;
    case startStep_FileUtils: UFileUtils::Init(); return noErr;
    case startStep_ExportClient: return AppParts::InitExportClient();
    case startStep_HelpBook: return AppParts::InitHelp();
    case startStep_HelpMenu: InstallHelpMenu(); return noErr;
    case startStep_HelpTracker: AppParts::AddHelpTracker(this); return noErr;
    case startStep_Preferences: {
      CPreferences::Init();
      FSSpec spec;
      if (CPreferences::GetPrefFile(&spec)) ReadPrefs(&spec);
      return noErr;
    }
    case startStep_MainThread:
      // The main thread's own object exists from the first cooperative
      // thread on; nothing to make here.
      return noErr;
    case startStep_Yield: AddAttachment(new CYieldAttachment, nullptr, true); return noErr;
    // The repeater runs only while a quit is under way (see SpendTime).
    case startStep_Repeater: return noErr;
    case startStep_QuickStart:
      if (CPreferences::IsFirstLaunch()) GotoHelpPage("Introduction/QuickStart.html");
      return noErr;
  }
  return noErr;
}

void TremblorixApp::Initialize() {
  try {
    for (int s = startStep_VectorUnit; s <= startStep_Count; ++s) {
      auto step = static_cast<EStartStep>(s);
      OSErr err = RunStartStep(step);
      if (step == startStep_Preferences) mInitialized = true;
      if (err == noErr) continue;
      switch (step) {
        case startStep_ExportClient: {
          // The alert says what is wrong; so does the standard error, for a
          // start without a screen to show it on.
          std::string text = AppText(2);
          if (!AppParts::ExportClientFailure().empty()) text += " " + AppParts::ExportClientFailure();
          std::fprintf(stderr, "Tremblorix: %s (%d)\n", text.c_str(), static_cast<int>(err));
          if (text.size() > 255) text.resize(255);
          throw LException(err, LStr255(text.c_str()));
        }
        case startStep_HelpBook:
          // Without the help book the program works; its pages stay closed.
          TrxLog("app", "help book: %d", err);
          break;
        default: Throw_(err);
      }
    }
    mInitialized = true;
  } catch (const LException& e) {
    ConstStringPtr text = e.GetErrorString();
    UMessage::StopAlert(text && text[0] ? LStr255(text) : AppString(1), ErrorCodeToOSErr(e.GetErrorCode()));
    ExitToShell();
  }
}

void TremblorixApp::Run() {
  Initialize();
  if (mExitCode != 0) return;
  try {
    if (!GetTarget()) SwitchTarget(this);
    if (!mLaunchFiles.empty()) {
      std::vector<FSSpec> files;
      files.swap(mLaunchFiles);
      if (mLaunchPrint)
        HandlePrintDocuments(files);
      else
        HandleOpenDocuments(files);
    } else {
      StartUp();
    }
  } catch (const LException& e) {
    UMessage::StopAlert(FailureText(e), ErrorCodeToOSErr(e.GetErrorCode()));
  }
  if (mState == programState_StartingUp) mState = programState_ProcessingEvents;
  while (mState != programState_Quitting) {
    try {
      UEventLoop::PassAndSleep();
    } catch (const LException& e) {
      UMessage::StopAlert(FailureText(e), ErrorCodeToOSErr(e.GetErrorCode()));
    }
  }
}

void TremblorixApp::StartUp() {}

void TremblorixApp::ReadPrefs(FSSpec* inSpec) {
  if (!inSpec) return;
  CSettingsResource::sOpenFileType = 0;
  CSettingsResource::Read(*inSpec, sOpenMovie);
  // The Open dialog's type from the last launch, when it is one of the popup's.
  for (const SFileTypeEntry& e : GetOpenFileMenuData())
    if (e.type != 0 && e.type == CSettingsResource::sOpenFileType) sCurrentFileType = e.type;
}

void TremblorixApp::WritePrefs(FSSpec* inSpec) {
  if (!inSpec) return;
  CSettingsResource::sOpenFileType = sCurrentFileType;
  CSettingsResource::Write(*inSpec, sOpenMovie);
}

void TremblorixApp::InstallMenus() {
  if (GetMenuBar()) return;
  auto* bar = new LMenuBar(MBAR_Application);
  SetMenuBar(bar);
  bar->InstallMenu(new LMenu(MENU_Movie), 0);
  bar->InstallMenu(new LMenu(MENU_View), 0);
  // "Open Recent" hangs after "Open…".
  LMenu* file = bar->FetchMenu(MENU_File);
  LMenu* recent = bar->FetchMenu(MENU_RecentFiles);
  if (file && !recent) {
    recent = new LMenu(MENU_RecentFiles);
    bar->InstallMenu(recent, -1);
    SInt16 openItem = file->IndexFromCommand(cmd_Open);
    SInt16 item = file->InsertItem(recent->GetTitle(), openItem, cmd_Nothing);
    file->SetSubmenu(item, recent);
  }
}

void TremblorixApp::InstallHelpMenu() {
  LMenuBar* bar = GetMenuBar();
  ThrowIfNil_(bar);
  LMenu* help = bar->FetchMenu(MENU_Help);
  if (!help) {
    help = new LMenu(MENU_Help);
    bar->InstallMenu(help, 0);
  }
  gHelpMenuItemIndex = static_cast<SInt16>(help->CountItems() + 1);
  for (SInt16 i = 4; i <= 6; ++i) help->AppendItem(AppText(i));
}

void TremblorixApp::SpendTime(const EventRecord&) {
  StDrawContextState saved;
  LThread::Yield(nullptr);
  if (UAppDocuments::IsQuitting() && UAppDocuments::GetDocuments().empty()) {
    UAppDocuments::SetQuitting(false, false);
    mState = programState_Quitting;
    SetUpdateCommandStatus(false);
    UEventLoop::WakeUp();
  }
  // An idle program wakes for nothing: the loop itself hands ready threads
  // the baton, and AttemptQuit starts the repeater again for the next quit.
  if (!UAppDocuments::IsQuitting() && LThread::CountReadyThreads() == 0) StopRepeating();
}

// ---------------------------------------------------------------------------
// Quitting

CAppDocument* TremblorixApp::FindQuitDocument() {
  std::vector<CAppDocument*> docs = UAppDocuments::GetDocuments();
  if (docs.empty()) return nullptr;
  LWindow* top = UDesktop::FetchTopRegular();
  for (CAppDocument* d : docs)
    if (top && d->GetWindow() == top) return d;
  // The front window is no document's (the export tasks, a hidden
  // document): quitting still goes through the documents, frontmost first.
  return docs.front();
}

Boolean TremblorixApp::AttemptQuit(SInt32) {
  if (!AppParts::ExportAllowsQuit()) return false;
  std::vector<CAppDocument*> docs = UAppDocuments::GetDocuments();
  SInt32 modified = 0;
  for (CAppDocument* d : docs)
    if (d->IsModified()) ++modified;
  CAppDocument* front = FindQuitDocument();
  if (!front) return true;
  // The documents close one by one; the repeater sees the last one go.
  StartRepeating(0.01);
  if (modified < 2) {
    UAppDocuments::SetQuitting(true, false);
    front->AttemptClose(false);
    return false;
  }
  SInt16 reply = AppParts::AskReviewDocuments(modified);
  if (reply == kReviewReply_Review) {
    UAppDocuments::SetQuitting(true, false);
    front->AttemptClose(false);
  } else if (reply == kReviewReply_Discard) {
    // Every document closes without questions, but a running analysis is
    // stopped first and a document showing a sheet is never closed under it.
    UAppDocuments::DiscardAllForQuit();
  }
  return false;
}

// ---------------------------------------------------------------------------
// Commands

Boolean TremblorixApp::ObeyCommand(CommandT inCommand, void* ioParam) {
  switch (inCommand) {
    case cmd_Open: ChooseDocument(); return true;
    case cmd_ClearRecentFiles: CRecentFiles::Delete(); return true;
    case cmd_ExportTasksWindow: AppParts::ToggleExportTasksWindow(); return true;
    case cmd_AppAccepted201:
    case cmd_AppAccepted6150:
    case cmd_AppAccepted20000: return true;
    default: break;
  }
  return LDocApplication::ObeyCommand(inCommand, ioParam);
}

void TremblorixApp::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                      UInt16& outMark, Str255 outName) {
  switch (inCommand) {
    case cmd_About:
    case cmd_Open:
    case cmd_Quit:
    case cmd_AppAccepted6150:
    case cmd_AppAccepted20000: outEnabled = true; return;
    case cmd_New: outEnabled = ClipboardHoldsMovie(); return;
    case cmd_PageSetup:
    case cmd_Print: outEnabled = false; return;
    case cmd_Undo: {
      outEnabled = false;
      Str255 text;
      GetIndString(text, STRx_UndoEdit, str_CantRedoUndo);
      if (text[0]) std::memcpy(outName, text, text[0] + 1u);
      return;
    }
    case cmd_ClearRecentFiles: outEnabled = CRecentFiles::GetFileCount() > 0; return;
    case cmd_RecentFilesItem: {
      LMenuBar* bar = GetMenuBar();
      LMenu* recent = bar ? bar->FetchMenu(MENU_RecentFiles) : nullptr;
      outEnabled = recent && recent->CountItems() > 0;
      return;
    }
    case cmd_ExportTasksWindow: {
      outEnabled = true;
      LStr255 text = AppString(AppParts::ExportTasksWindowVisible() ? 12 : 13);
      std::memcpy(outName, text.ConstTextPtr() - 1, text.Length() + 1u);
      return;
    }
    default: break;
  }
  SInt16 menuID = 0, item = 0;
  if (IsSyntheticCommand(inCommand, menuID, item)) {
    if (menuID == MENU_Window && CWindowMenu::FindWindowCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName))
      return;
    if (menuID == MENU_RecentFiles) {
      FSSpec spec;
      if (CRecentFiles::GetFile(item, &spec, 1) == noErr) {
        outEnabled = true;
        outUsesMark = true;
        outMark = UAppDocuments::FindByFileSpec(spec) ? 18 : noMark;
        return;
      }
    }
    if (menuID == MENU_Help && gHelpMenuItemIndex > 0 && item >= gHelpMenuItemIndex && item <= gHelpMenuItemIndex + 2) {
      outEnabled = true;
      return;
    }
    if (menuID == MENU_Help && item < gHelpMenuItemIndex) {
      outEnabled = true;
      return;
    }
  }
  LDocApplication::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

Boolean TremblorixApp::ObeySyntheticCommand(SInt16 inMenuID, SInt16 inItem) {
  if (inMenuID == MENU_Window) {
    CommandT command = -((static_cast<SInt32>(inMenuID) << 16) | inItem);
    return CWindowMenu::ObeyWindowCommand(command);
  }
  if (inMenuID == MENU_RecentFiles) {
    OpenRecentFile(inItem);
    return true;
  }
  if (inMenuID == MENU_Help) {
    if (gHelpMenuItemIndex > 0 && inItem == gHelpMenuItemIndex) {
      GotoHelpPage("Introduction/LicenseAgreement.html");
      return true;
    }
    if (gHelpMenuItemIndex > 0 && inItem == gHelpMenuItemIndex + 1) {
      GotoHelpPage("Introduction/QuickStart.html");
      return true;
    }
    if (gHelpMenuItemIndex > 0 && inItem == gHelpMenuItemIndex + 2) {
      SupportMail(10, false);
      return true;
    }
    if (inItem < gHelpMenuItemIndex) {
      GotoHelpPage("index.html");
      return true;
    }
  }
  return LDocApplication::ObeySyntheticCommand(inMenuID, inItem);
}

void TremblorixApp::OpenRecentFile(SInt16 inItem) {
  FSSpec spec;
  OSErr err = CRecentFiles::GetFile(inItem, &spec, 0);
  if (err != noErr) {
    UMessage::NoteAlert(AppString(11), err);
    return;
  }
  OpenDocument(&spec);
}

void TremblorixApp::GotoHelpPage(const std::string& inPage) {
  sLastHelpPage = inPage;
  AppParts::GotoHelpPage(inPage);
}

void TremblorixApp::LaunchURL(const std::string& inURL) {
  sLastURL = inURL;
  if (!UResponder::IsInteractive()) return;
  // The desktop's handler opens it; the program does not wait for it.
  pid_t pid = 0;
  const char* argv[] = {"xdg-open", inURL.c_str(), nullptr};
  if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
  }
}

void TremblorixApp::ForgetLastHelp() {
  sLastHelpPage.clear();
  sLastURL.clear();
}

void TremblorixApp::SupportMail(SInt16 inStringIndex, Boolean inBlank) {
  LStr255 version;
  UMessage::GetVersionString(version);
  std::string url = AppText(inStringIndex);
  if (inBlank) url += " ";
  url += std::string(version.ConstTextPtr(), version.Length());
  LaunchURL(url);
}

// ---------------------------------------------------------------------------
// The about box

void TremblorixApp::ShowAboutBox() { DoAbout(false); }

void TremblorixApp::DoAbout(Boolean inStartUp) {
  if (inStartUp) return;
  StDialogHandler handler(PPob_AboutBox, GetTopCommander());
  LWindow* dialog = handler.GetDialog();
  ThrowIfNil_(dialog);
  auto* versionPane = dynamic_cast<LCaption*>(dialog->FindPaneByID(kAboutVersionPane));
  ThrowIfNil_(versionPane);
  LStr255 version;
  UMessage::GetVersionString(version);
  versionPane->SetText("v." + std::string(version.ConstTextPtr(), version.Length()));
  dialog->Show();
  while (mState != programState_Quitting) {
    MessageT message = handler.DoDialog();
    if (message == msg_AboutWebPage) {
      LaunchURL(AppText(8));
    } else if (message == msg_AboutSupportMail) {
      SupportMail(9, true);
    } else if (message == msg_OK || message == msg_Cancel) {
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Documents

Boolean TremblorixApp::IsAcceptedType(OSType inType) {
  for (OSType t : kAcceptedTypes)
    if (t == inType) return true;
  return false;
}

OSType TremblorixApp::AcceptedTypeOf(const FSSpec& inSpec) {
  FInfo info{};
  if (FSpGetFInfo(&inSpec, &info) == noErr && IsAcceptedType(info.fdType)) return info.fdType;
  OSType byName = 0;
  if (UFileUtils::GetFileTypeForName(inSpec.name, &byName) == noErr && IsAcceptedType(byName)) return byName;
  return 0;
}

void TremblorixApp::OpenDocument(FSSpec* inMacFSSpec) {
  try {
    if (CAppDocument* open = UAppDocuments::FindByFileSpec(*inMacFSSpec)) {
      open->MakeCurrent();
      return;
    }
    FInfo info{};
    ThrowIfOSErr_(FSpGetFInfo(inMacFSSpec, &info));
    CAppDocument* doc = nullptr;
    if (IsAcceptedType(info.fdType)) {
      doc = UAppDocuments::OpenMovieDocument(inMacFSSpec);
    } else {
      OSType byName = 0;
      if (UFileUtils::GetFileTypeForName(inMacFSSpec->name, &byName) == noErr && IsAcceptedType(byName))
        doc = UAppDocuments::OpenMovieDocument(inMacFSSpec);
    }
    if (!doc) {
      UMessage::NoteAlert(AppString(14), 0);
      return;
    }
    CRecentFiles::AddToRecentFileMenu(inMacFSSpec);
  } catch (const LException& e) {
    if (ErrorCodeToOSErr(e.GetErrorCode()) != userCanceledErr)
      UMessage::StopAlert(FailureText(e), ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

void TremblorixApp::PrintDocument(FSSpec* inMacFSSpec) {
  // Movies do not print; the print event opens the movie instead.
  OpenDocument(inMacFSSpec);
}

LCommander* TremblorixApp::MakeNewDocument() {
  if (!ClipboardHoldsMovie()) return nullptr;
  Handle data = nullptr;
  Movie movie = nullptr;
  try {
    ScrapRef scrap = nullptr;
    ThrowIfOSStatus_(GetCurrentScrap(&scrap));
    SInt32 size = 0;
    ThrowIfOSStatus_(GetScrapFlavorSize(scrap, 'moov', &size));
    if (size <= 0) Throw_(-1);
    data = NewHandle(size);
    ThrowIfMemFail_(data);
    ThrowIfOSStatus_(GetScrapFlavorData(scrap, 'moov', &size, *data));
    ThrowIfOSErr_(NewMovieFromHandle(&movie, data, newMovieActive, nullptr));
    DisposeHandle(data);
    data = nullptr;
    Handle ref = NewHandleClear(sizeof(Handle));
    OSErr err = SetMovieDefaultDataRef(movie, ref, 'hndl');
    DisposeHandle(ref);
    ThrowIfOSErr_(err);
    auto* wrapper = new CMovie(movie, true);
    movie = nullptr;
    CAppDocument* doc = UAppDocuments::NewMovieDocument(wrapper);
    ThrowIfNil_(doc);
    return doc->GetCommander();
  } catch (const LException& e) {
    if (data) DisposeHandle(data);
    if (movie) DisposeMovie(movie);
    UMessage::StopAlert(AppString(16), ErrorCodeToOSErr(e.GetErrorCode()));
  }
  return nullptr;
}

const std::vector<TremblorixApp::SFileTypeEntry>& TremblorixApp::GetOpenFileMenuData() {
  static std::vector<SFileTypeEntry> sEntries;
  if (sEntries.empty()) {
    sEntries = {{kAllReadableTypes, AppText(17)}, {0, "-"},         {'MooV', AppText(18)}, {'dvc!', AppText(19)},
                {'VfW ', AppText(20)},            {'FLC ', AppText(21)}, {'mpg4', AppText(22)}, {'SWFL', AppText(23)}};
  }
  return sEntries;
}

OSType TremblorixApp::GetCurrentFileType() { return sCurrentFileType; }
void TremblorixApp::SetCurrentFileType(OSType inType) { sCurrentFileType = inType; }

Boolean TremblorixApp::FilterShowsFile(const FSSpec& inSpec, OSType inType) {
  FInfo info{};
  OSType stored = FSpGetFInfo(&inSpec, &info) == noErr ? info.fdType : 0;
  OSType byName = 0;
  Boolean named = UFileUtils::GetFileTypeForName(inSpec.name, &byName) == noErr;
  if (inType == kAllReadableTypes) {
    // What the Open dialog shows with its popup at "all readable files".
    return UMovies::IsReadableMovieFileType(stored) || (named && UMovies::IsReadableMovieFileType(byName));
  }
  return stored == inType || (named && byName == inType);
}

namespace {
// The name endings of a popup type, as a file-dialog filter.
std::string FilterPatterns(OSType inType) {
  switch (inType) {
    case 'MooV': return "*.mov *.MOV *.moov";
    case 'dvc!': return "*.dv *.DV";
    case 'VfW ': return "*.avi *.AVI";
    case 'FLC ': return "*.flc *.FLC";
    case 'mpg4': return "*.mp4 *.MP4 *.mpg4 *.mpg *.MPG";
    case 'SWFL': return "*.swf *.SWF";
    default: return "*.mov *.MOV *.moov *.dv *.DV *.avi *.AVI *.flc *.FLC *.mp4 *.MP4 *.mpg4 *.mpg *.MPG *.swf *.SWF";
  }
}
}  // namespace

void TremblorixApp::ChooseDocument() {
  try {
    const std::vector<SFileTypeEntry>& entries = GetOpenFileMenuData();
    SQuestion q;
    q.kind = question_OpenFile;
    q.title = AppText(7);
    std::vector<OSType> types;  // the popup entries the dialog lists (no separator)
    for (const SFileTypeEntry& e : entries) {
      if (e.type == 0) continue;
      types.push_back(e.type);
      q.choices.push_back(e.name + " (" + FilterPatterns(e.type) + ")");
      if (e.type == sCurrentFileType) q.defaultChoice = static_cast<SInt32>(types.size());
    }
    // A file is listed by its stored type, else by its name's ending.
    q.fileFilter = [types](const std::string& inPath, SInt32 inChoice) -> bool {
      FSSpec spec;
      if (FSMakeFSSpecFromPath(inPath, &spec) != noErr) return false;
      const OSType type = inChoice >= 1 && inChoice <= static_cast<SInt32>(types.size()) ? types[inChoice - 1]
                                                                                          : kAllReadableTypes;
      return FilterShowsFile(spec, type);
    };
    UDesktop::Deactivate();
    UResponder::Ask(q, [types](const SAnswer& inAnswer) {
      UDesktop::Activate();
      if (inAnswer.choice >= 1 && inAnswer.choice <= static_cast<SInt32>(types.size()))
        sCurrentFileType = types[inAnswer.choice - 1];
      if (inAnswer.cancelled || inAnswer.paths.empty()) return;
      FSSpec spec;
      OSErr err = FSMakeFSSpecFromPath(inAnswer.paths.front(), &spec);
      if (err != noErr) {
        UMessage::NoteAlert(LStr255("Unexpected error occurred!"), err);
        return;
      }
      if (LApplication* app = LApplication::GetApplication()) app->HandleOpenDocuments({spec});
    });
  } catch (...) {
    // The dialog's failures end here; the program goes on.
    LogCurrentException("application", "ChooseDocument");
  }
}
