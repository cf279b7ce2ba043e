#include "platform/ui/LApplication.h"

#include <string>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UQtSupport.h"

LApplication* LApplication::sApplication = nullptr;

LApplication::LApplication() {
  sApplication = this;
  SetTopCommander(this);
  UQt::EnsureApplication();
}

LApplication::~LApplication() {
  delete mMenuBar;
  mMenuBar = nullptr;
  if (sApplication == this) sApplication = nullptr;
}

void LApplication::SetMenuBar(LMenuBar* inMenuBar) {
  if (mMenuBar != inMenuBar) delete mMenuBar;
  mMenuBar = inMenuBar;
}

namespace {
// A failure that reaches the loop is shown, and the program goes on.
void ShowFailure(ExceptionCode inCode) {
  Str255 text;
  StringToPStr(std::to_string(ErrorCodeToOSErr(inCode)), text);
  SInt16 hit = 0;
  StandardAlert(kAlertStopAlert, text, nullptr, nullptr, &hit);
}
}  // namespace

void LApplication::Run() {
  try {
    Initialize();
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
    ShowFailure(e.GetErrorCode());
  }
  if (mState == programState_StartingUp) mState = programState_ProcessingEvents;
  while (mState != programState_Quitting) {
    try {
      UEventLoop::PassAndSleep();
    } catch (const LException& e) {
      ShowFailure(e.GetErrorCode());
    }
  }
}

void LApplication::ProcessNextEvent() {
  ++mPassDepth;
  try {
    UEventLoop::ProcessOnce();
  } catch (...) {
    --mPassDepth;
    throw;
  }
  --mPassDepth;
}

void LApplication::SendAEQuit(SInt32 inSaveOption) {
  if (AttemptQuit(inSaveOption)) DoQuit(inSaveOption);
}

Boolean LApplication::AttemptQuit(SInt32) { return true; }

void LApplication::DoQuit(SInt32) {
  mState = programState_Quitting;
  UEventLoop::WakeUp();
}

void LApplication::SetLaunchFiles(const std::vector<FSSpec>& inFiles, Boolean inPrint) {
  mLaunchFiles = inFiles;
  mLaunchPrint = inPrint;
}

void LApplication::HandleOpenDocuments(const std::vector<FSSpec>& inFiles) {
  for (FSSpec spec : inFiles) OpenDocument(&spec);
}

void LApplication::HandlePrintDocuments(const std::vector<FSSpec>& inFiles) {
  for (FSSpec spec : inFiles) PrintDocument(&spec);
}

Boolean LApplication::ObeyCommand(CommandT inCommand, void* ioParam) {
  switch (inCommand) {
    case cmd_About: ShowAboutBox(); return true;
    case cmd_Quit: SendAEQuit(kAESaveOptionAsk); return true;
    default: break;
  }
  SInt16 menuID = 0, item = 0;
  if (IsSyntheticCommand(inCommand, menuID, item)) return ObeySyntheticCommand(menuID, item);
  return LCommander::ObeyCommand(inCommand, ioParam);
}

void LApplication::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                     Str255 outName) {
  switch (inCommand) {
    case cmd_About:
    case cmd_Quit: outEnabled = true; return;
    default: break;
  }
  LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

Boolean LApplication::ObeySyntheticCommand(SInt16, SInt16) { return false; }

void LApplication::Initialize() {}
void LApplication::StartUp() {}
void LApplication::ShowAboutBox() {}
void LApplication::OpenDocument(FSSpec*) {}
void LApplication::PrintDocument(FSSpec*) {}

LDocApplication::LDocApplication() = default;
LDocApplication::~LDocApplication() = default;

Boolean LDocApplication::ObeyCommand(CommandT inCommand, void* ioParam) {
  switch (inCommand) {
    case cmd_New: MakeNewDocument(); return true;
    case cmd_Open: ChooseDocument(); return true;
    default: return LApplication::ObeyCommand(inCommand, ioParam);
  }
}

void LDocApplication::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                        Str255 outName) {
  switch (inCommand) {
    case cmd_New:
    case cmd_Open: outEnabled = true; return;
    default: LApplication::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
  }
}

LCommander* LDocApplication::MakeNewDocument() { return nullptr; }
void LDocApplication::ChooseDocument() {}

void LDocApplication::OpenOrPrintDocList(const std::vector<FSSpec>& inFiles, Boolean inPrint) {
  for (FSSpec spec : inFiles) {
    if (inPrint)
      PrintDocument(&spec);
    else
      OpenDocument(&spec);
  }
}

void LDocApplication::HandleOpenDocuments(const std::vector<FSSpec>& inFiles) { OpenOrPrintDocList(inFiles, false); }
void LDocApplication::HandlePrintDocuments(const std::vector<FSSpec>& inFiles) { OpenOrPrintDocList(inFiles, true); }
