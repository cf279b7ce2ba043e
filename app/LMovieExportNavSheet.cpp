#include "app/LMovieExportNavSheet.h"

#include <memory>

#include "app/CExportMovie.h"
#include "media/CMovie.h"
#include "media/UMovies.h"
#include "platform/base/MacMemory.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UExporterOptionsDialog.h"
#include "platform/ui/UResponder.h"
#include "toolkit/UNavigation.h"


namespace {

constexpr SInt32 kInterlaceUpperFirst = 3;
constexpr SInt32 kInterlaceLowerFirst = 4;

// The Options question: the exporter's settings as bytes, answered edited.
OSErr AskExporterOptions(OSType inSubtype, const std::vector<UInt8>& inSettings, std::vector<UInt8>& outSettings,
                         Boolean* outCanceled) {
  SQuestion q;
  q.kind = question_ExporterOptions;
  q.exporterType = inSubtype;
  q.settings = inSettings;
  const SInt16 index = CExportMovie::GetIndexForExporter(inSubtype);
  if (index > 0) q.title = CExportMovie::GetExporterNames()[static_cast<size_t>(index - 1)];
  SAnswer a = UResponder::AskAndWait(q);
  *outCanceled = a.cancelled;
  outSettings = a.cancelled ? std::vector<UInt8>() : a.settings;
  return noErr;
}

}  // namespace

void LMovieExportNavSheet::InstallExporterDialog() {
  SetMovieExportUserDialogProc(AskExporterOptions);
  UExporterOptionsDialog::Install();
}

LMovieExportNavSheet::LMovieExportNavSheet(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inParent)
    : mMovie(inMovie),
      mInterlaceMode(inInterlaceMode),
      mParent(inParent),
      mSubtype(CExportMovieSettings::sCurrentExporter),
      mSelectionOnly(CExportMovieSettings::sSelectionOnly),
      mSingleField(CExportMovieSettings::sSingleField) {
  OpenExporter();
}

LMovieExportNavSheet::~LMovieExportNavSheet() {
  CExportMovieSettings::sCurrentExporter = mSubtype;
  CExportMovieSettings::sSelectionOnly = mSelectionOnly;
  CExportMovieSettings::sSingleField = mSingleField;
  if (mExporter) CloseComponent(mExporter);
}

void LMovieExportNavSheet::OpenExporter() {
  if (mExporter) CloseComponent(mExporter);
  mExporter = nullptr;
  if (OpenADefaultComponent(MovieExportType, mSubtype, &mExporter) != noErr) {
    mExporter = nullptr;
    return;
  }
  Handle stored = nullptr;
  if (CExportMovie::GetExporterSettings(mSubtype, &stored) == noErr && stored) {
    MovieExportSetSettingsFromAtomContainer(mExporter, stored);
    DisposeHandle(stored);
  }
}

std::string LMovieExportNavSheet::NameWithExtension(const std::string& inName, OSType inExtension) {
  std::string name = inName;
  // The extension of the file's name only, never a dot of a folder's.
  const size_t slash = name.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > start) name.erase(dot);
  if (inExtension != 0) {
    std::string ext;
    for (int shift = 24; shift >= 0; shift -= 8) {
      const char c = static_cast<char>((inExtension >> shift) & 0xFF);
      if (c != ' ' && c != 0) ext.push_back(c);
    }
    if (!ext.empty()) name += "." + ext;
  }
  return name;
}

std::string LMovieExportNavSheet::WithExtension(const std::string& inName) const {
  if (mExporter == nullptr) return inName;
  OSType extension = 0;
  MovieExportGetFileNameExtension(mExporter, &extension);
  return NameWithExtension(inName, extension);
}

std::string LMovieExportNavSheet::GetSaveFileName() const {
  if (mNavDialog) {
    NavReplyRecord reply;
    if (NavCustomControl(mNavDialog, kNavCtlGetEditFileName, &reply) == noErr) return reply.saveFileName;
  }
  return mSaveName;
}

void LMovieExportNavSheet::SetSaveFileName(const std::string& inName) {
  mSaveName = inName;
  if (mNavDialog) NavCustomControl(mNavDialog, kNavCtlSetEditFileName, &mSaveName);
}

LView* LMovieExportNavSheet::GetControls() const {
  return mNavDialog ? NavDialogGetCustomArea(mNavDialog) : nullptr;
}

LPane* LMovieExportNavSheet::GetItem(SInt16 inItem) const {
  if (mNavDialog == nullptr || mFirstItem == 0) return nullptr;
  return NavDialogGetCustomItem(mNavDialog, static_cast<SInt16>(mFirstItem + inItem - 1));
}

Boolean LMovieExportNavSheet::IsSingleFieldActive() const {
  return mInterlaceMode == kInterlaceUpperFirst || mInterlaceMode == kInterlaceLowerFirst;
}

OSStatus LMovieExportNavSheet::Start(const std::string& inName, Completion inDone) {
  mDone = std::move(inDone);
  mChosen = false;
  mSaveName = inName;
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  options.windowTitle = "Export";
  options.actionButtonLabel = "Export";
  options.saveFileName = inName;
  options.optionFlags |= kNavPreserveSaveFileExtension;
  options.parentWindow = mParent;
  options.modality = mParent ? kWindowModalityWindowModal : kWindowModalityAppModal;
  return UNavigation::AskDesignateFile(*this, mSubtype, kTremblorixFileCreator, options);
}

void LMovieExportNavSheet::InvokeNavStart(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavStart(inParams);
  NavDialogRef dialog = inParams ? inParams->context : mNavDialog;
  if (dialog == nullptr) return;
  // The proposed name with the exporter's extension.
  NavReplyRecord reply;
  std::string name = mSaveName;
  if (NavCustomControl(dialog, kNavCtlGetEditFileName, &reply) == noErr && !reply.saveFileName.empty())
    name = reply.saveFileName;
  mSaveName = WithExtension(name);
  NavCustomControl(dialog, kNavCtlSetEditFileName, &mSaveName);
  // The export controls.
  ResIDT layout = PPob_ExportControls;
  if (NavCustomControl(dialog, kNavCtlAddControlList, &layout) != noErr) return;
  if (NavCustomControl(dialog, kNavCtlGetFirstControlID, &mFirstItem) != noErr) {
    mFirstItem = 0;
    return;
  }
  SyncControls();
}

void LMovieExportNavSheet::SyncControls() {
  mSyncing = true;
  if (auto* popup = dynamic_cast<LPopupButton*>(GetItem(kExportItemExporter))) {
    popup->SetItems(CExportMovie::GetExporterNames());
    popup->SetMaxValue(popup->CountItems());
    const SInt16 index = CExportMovie::GetIndexForExporter(mSubtype);
    if (index > 0) popup->SetValue(index);
  }
  if (auto* box = dynamic_cast<LControl*>(GetItem(kExportItemSelectionOnly))) box->SetValue(mSelectionOnly ? 1 : 0);
  if (auto* box = dynamic_cast<LControl*>(GetItem(kExportItemSingleField))) {
    box->SetValue(mSingleField ? 1 : 0);
    if (IsSingleFieldActive())
      box->Enable();
    else
      box->Disable();
  }
  mSyncing = false;
}

void LMovieExportNavSheet::InvokeNavEvent(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavEvent(inParams);
  if (inParams == nullptr || mSyncing || mFirstItem == 0 || inParams->eventData.itemHit < mFirstItem) return;
  DoItem(static_cast<SInt16>(inParams->eventData.itemHit - mFirstItem + 1));
}

void LMovieExportNavSheet::DoItem(SInt16 inItem) {
  switch (inItem) {
    case kExportItemOptions: {
      if (mExporter == nullptr) {
        SysBeep(1);
        break;
      }
      Boolean canceled = false;
      Movie movie = mMovie ? mMovie->GetMovie() : nullptr;
      const TimeValue duration = movie ? GetMovieDuration(movie) : 0;
      if (MovieExportDoUserDialog(mExporter, movie, nullptr, 0, duration, &canceled) == noErr && !canceled) {
        QTAtomContainer settings = nullptr;
        if (MovieExportGetSettingsAsAtomContainer(mExporter, &settings) == noErr && settings) {
          CExportMovie::UpdateExporterSettings(mSubtype, settings);
          QTDisposeAtomContainer(settings);
        }
      }
      break;
    }
    case kExportItemExporter: {
      auto* popup = dynamic_cast<LPopupButton*>(GetItem(kExportItemExporter));
      if (popup == nullptr) break;
      const OSType chosen = CExportMovie::GetExporterForIndex(static_cast<SInt16>(popup->GetValue()));
      if (chosen == 0 || chosen == mSubtype) break;
      mSubtype = chosen;
      OpenExporter();
      if (mExporter) SetSaveFileName(WithExtension(GetSaveFileName()));
      break;
    }
    case kExportItemSelectionOnly:
    case kExportItemSingleField: {
      if (inItem == kExportItemSingleField && !IsSingleFieldActive()) break;
      // A check box of the area has changed its value already; without one the click toggles.
      auto* box = dynamic_cast<LControl*>(GetItem(inItem));
      Boolean& option = inItem == kExportItemSelectionOnly ? mSelectionOnly : mSingleField;
      option = box ? box->GetValue() != 0 : !option;
      break;
    }
    case kExportItemDefaults:
      // A fresh instance starts with the exporter's defaults, for this and every later export.
      CExportMovie::UpdateExporterSettings(mSubtype, nullptr);
      OpenExporter();
      break;
    default:
      break;
  }
}

void LMovieExportNavSheet::InvokeNavCustomize(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavCustomize(inParams);
  if (inParams) NegotiateCustomArea(inParams->customRect);
}

void LMovieExportNavSheet::NegotiateCustomArea(Rect& ioArea) {
  CNavEventResponder::NegotiateCustomArea(ioArea, mLastTry, kCustomWidth, kCustomHeight);
}

void LMovieExportNavSheet::InvokeNavUserAction(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavUserAction(inParams);
  if (inParams == nullptr || inParams->userAction != kNavUserActionSaveAs) return;
  NavReplyRecord reply;
  if (NavDialogGetReply(inParams->context, &reply) != noErr || !reply.validRecord || reply.paths.empty()) return;
  // The name keeps the exporter's extension, whatever exporter was chosen last.
  std::string path = reply.paths.front();
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  path = folder + WithExtension(slash == std::string::npos ? path : path.substr(slash + 1));
  const OSErr err = FSMakeFSSpecFromPath(path, &mChosenFile);
  mChosen = err == noErr || err == fnfErr;
  NavDisposeReply(&reply);
}

void LMovieExportNavSheet::InvokeNavTerminate(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavTerminate(inParams);
  mFirstItem = 0;
  Completion done = std::move(mDone);
  mDone = nullptr;
  const Boolean chosen = mChosen;
  const FSSpec file = mChosenFile;
  // Last: the owner may delete the sheet in here.
  if (done) done(chosen ? &file : nullptr);
}
