#include "app/LMovieExportNavSheet.h"

#include <memory>

#include "app/CExportMovie.h"
#include "media/CMovie.h"
#include "platform/base/MacMemory.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UExporterOptionsDialog.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UResponder.h"

OSType LMovieExportNavSheet::sCurrentExporter = 'MooV';
Boolean LMovieExportNavSheet::sSelectionOnly = true;
Boolean LMovieExportNavSheet::sSingleField = false;

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
      mSubtype(sCurrentExporter),
      mSelectionOnly(sSelectionOnly),
      mSingleField(sSingleField) {
  OpenExporter();
}

LMovieExportNavSheet::~LMovieExportNavSheet() {
  sCurrentExporter = mSubtype;
  sSelectionOnly = mSelectionOnly;
  sSingleField = mSingleField;
  if (mExporter) CloseComponent(mExporter);
  InvokeNavTerminate();
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
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
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

void LMovieExportNavSheet::InvokeNavStart(const std::string& inName) {
  OSType extension = 0;
  if (mExporter) MovieExportGetFileNameExtension(mExporter, &extension);
  mSaveName = mExporter ? NameWithExtension(inName, extension) : inName;
  if (mControls == nullptr) {
    try {
      mControls = UReanimator::CreateWindow(PPob_ExportControls, nullptr);
    } catch (...) {
      mControls = nullptr;
    }
    if (mControls == nullptr) return;
    UReanimator::LinkListenerToBroadcasters(this, mControls, PPob_ExportControls);
  }
  SyncControls();
}

Boolean LMovieExportNavSheet::IsSingleFieldActive() const {
  return mInterlaceMode == kInterlaceUpperFirst || mInterlaceMode == kInterlaceLowerFirst;
}

void LMovieExportNavSheet::SyncControls() {
  if (mControls == nullptr) return;
  mSyncing = true;
  if (auto* popup = dynamic_cast<LPopupButton*>(mControls->FindPaneByIDOrNil(kExportItemExporter))) {
    popup->SetItems(CExportMovie::GetExporterNames());
    popup->SetMaxValue(popup->CountItems());
    const SInt16 index = CExportMovie::GetIndexForExporter(mSubtype);
    if (index > 0) popup->SetValue(index);
  }
  if (auto* box = dynamic_cast<LControl*>(mControls->FindPaneByIDOrNil(kExportItemSelectionOnly)))
    box->SetValue(mSelectionOnly ? 1 : 0);
  if (auto* box = dynamic_cast<LControl*>(mControls->FindPaneByIDOrNil(kExportItemSingleField))) {
    box->SetValue(mSingleField ? 1 : 0);
    if (IsSingleFieldActive())
      box->Enable();
    else
      box->Disable();
  }
  mSyncing = false;
}

void LMovieExportNavSheet::InvokeNavEvent(SInt16 inItem) {
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
      auto* popup = mControls ? dynamic_cast<LPopupButton*>(mControls->FindPaneByIDOrNil(kExportItemExporter)) : nullptr;
      if (popup == nullptr) break;
      const OSType chosen = CExportMovie::GetExporterForIndex(static_cast<SInt16>(popup->GetValue()));
      if (chosen == 0 || chosen == mSubtype) break;
      mSubtype = chosen;
      OpenExporter();
      if (mExporter) {
        OSType extension = 0;
        MovieExportGetFileNameExtension(mExporter, &extension);
        mSaveName = NameWithExtension(mSaveName, extension);
      }
      break;
    }
    case kExportItemSelectionOnly:
      mSelectionOnly = !mSelectionOnly;
      SyncControls();
      break;
    case kExportItemDefaults:
      // A fresh instance starts with the exporter's defaults, for this and every later export.
      CExportMovie::UpdateExporterSettings(mSubtype, nullptr);
      OpenExporter();
      break;
    case kExportItemSingleField:
      if (!IsSingleFieldActive()) break;
      mSingleField = !mSingleField;
      SyncControls();
      break;
    default:
      break;
  }
}

void LMovieExportNavSheet::ListenToMessage(MessageT inMessage, void* ioParam) {
  if (mSyncing) return;
  switch (inMessage) {
    case kExportItemSelectionOnly:
    case kExportItemSingleField: {
      // The check box has changed its value already.
      auto* box = dynamic_cast<LControl*>(mControls->FindPaneByIDOrNil(static_cast<PaneIDT>(inMessage)));
      const Boolean on = box ? box->GetValue() != 0 : (ioParam && *static_cast<SInt32*>(ioParam) != 0);
      if (inMessage == kExportItemSelectionOnly)
        mSelectionOnly = on;
      else if (IsSingleFieldActive())
        mSingleField = on;
      break;
    }
    case kExportItemOptions:
    case kExportItemExporter:
    case kExportItemDefaults:
      InvokeNavEvent(static_cast<SInt16>(inMessage));
      break;
    default:
      break;
  }
}

void LMovieExportNavSheet::InvokeNavCustomize(Rect& ioArea) {
  if (ioArea.right == 0 && ioArea.bottom == 0) {
    ioArea.right = static_cast<SInt16>(ioArea.left + kCustomWidth);
    ioArea.bottom = static_cast<SInt16>(ioArea.top + kCustomHeight);
    mLastTry = ioArea;
    return;
  }
  if (ioArea.right != mLastTry.right && ioArea.right < ioArea.left + kCustomWidth)
    ioArea.right = static_cast<SInt16>(ioArea.left + kCustomWidth);
  if (ioArea.bottom != mLastTry.bottom && ioArea.bottom < ioArea.top + kCustomHeight)
    ioArea.bottom = static_cast<SInt16>(ioArea.top + kCustomHeight);
  mLastTry = ioArea;
}

void LMovieExportNavSheet::InvokeNavTerminate() {
  delete mControls;
  mControls = nullptr;
}

void LMovieExportNavSheet::Start(const std::string& inName, Completion inDone) {
  mDone = std::move(inDone);
  InvokeNavStart(inName);
  if (mControls) {
    // Below the top of the document's window, where a sheet would hang.
    if (mParent) {
      const Rect bounds = mParent->GetGlobalBounds();
      mControls->MoveWindowTo(static_cast<SInt16>(bounds.left + 24), static_cast<SInt16>(bounds.top + 24));
    }
    mControls->Show();
  }
  SQuestion q;
  q.kind = question_SaveFile;
  q.title = "Export";
  q.defaultName = mSaveName;
  q.parent = mParent;
  UResponder::Ask(q, [this](const SAnswer& inAnswer) { Answer(inAnswer); });
}

void LMovieExportNavSheet::Answer(const SAnswer& inAnswer) {
  InvokeNavTerminate();
  Completion done = std::move(mDone);
  mDone = nullptr;
  if (inAnswer.cancelled || inAnswer.paths.empty()) {
    if (done) done(nullptr);
    return;
  }
  // The name keeps the exporter's extension, whatever exporter was chosen last.
  std::string path = inAnswer.paths.front();
  if (mExporter) {
    OSType extension = 0;
    MovieExportGetFileNameExtension(mExporter, &extension);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    path = folder + NameWithExtension(slash == std::string::npos ? path : path.substr(slash + 1), extension);
  }
  FSSpec spec;
  const OSErr err = FSMakeFSSpecFromPath(path, &spec);
  if (err != noErr && err != fnfErr) {
    if (done) done(nullptr);
    return;
  }
  if (done) done(&spec);
}
