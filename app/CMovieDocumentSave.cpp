// Saving the movie document: in place, as a new self-contained or reference
// movie, reverting, and the file questions (save as, export, export tween).
// The entry points only post their procedures; the work runs from the event
// loop once the question that asked for it has gone.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/CMovieDocument.h"
#include "app/CRecentFiles.h"
#include "app/UExportTweenSheet.h"
#include "media/UMovies.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/UMessage.h"

namespace fs = std::filesystem;

namespace {

constexpr OSErr kProgressCancelled = -2019;
constexpr SInt16 str_SaveFailed = 7;
constexpr SInt16 str_SaveAsTitle = 8;
constexpr SInt16 str_ExportTitle = 9;
constexpr SInt16 str_ExportButton = 10;
constexpr SInt16 str_SaveAsFailed = 11;
constexpr SInt16 str_SaveErrorPrefix = 5;
constexpr SInt16 str_SaveUnknownError = 6;
constexpr SInt16 str_OwnSourceRefused = 49;
constexpr OSErr kOwnSourceErr = fBsyErr;

// A data reference's bytes as a path: a plain path or a file URL.
std::string DataRefPath(const std::string& inRef) {
  static const std::string kScheme = "file://";
  if (inRef.compare(0, kScheme.size(), kScheme) != 0) return inRef;
  std::string out;
  for (size_t i = kScheme.size(); i < inRef.size(); ++i) {
    if (inRef[i] == '%' && i + 2 < inRef.size() + 0 && std::isxdigit(static_cast<unsigned char>(inRef[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(inRef[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(inRef.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(inRef[i]);
    }
  }
  return out;
}

std::string Canonical(const std::string& inPath) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(inPath), ec);
  return ec ? inPath : p.string();
}

// The name of the document without its extension, then ".mov".
std::string SaveNameFor(CSingleDocument* inDoc) {
  std::string name;
  if (inDoc->HasFile()) {
    std::string path = FSSpecPath(inDoc->GetFileSpec());
    name = path.substr(path.find_last_of('/') + 1);
  } else if (inDoc->GetWindow() != nullptr) {
    name = inDoc->GetWindow()->GetTitle();
  }
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (name.empty()) name = "Movie";
  return name + ".mov";
}

}  // namespace

// ---------------------------------------------------------------------------
// Deferred entry points

void CMovieDocument::Save() { PostProcedure(proc_Save, nullptr, 0); }

void CMovieDocument::DoAESave(FSSpec& inSpec, OSType) { PostProcedure(proc_DoAESave, &inSpec, sizeof(FSSpec)); }

Boolean CMovieDocument::AskSaveAs(FSSpec& ioSpec, Boolean) {
  PostProcedure(proc_AskSaveAs, &ioSpec, sizeof(FSSpec));
  return true;
}

void CMovieDocument::AttemptClose(Boolean inRecordIt) { CSingleDocument::AttemptClose(inRecordIt); }

void CMovieDocument::AttemptClose_(Boolean inRecordIt) { CSingleDocument::AttemptClose(inRecordIt); }

// ---------------------------------------------------------------------------
// Save in place

void CMovieDocument::Save_() {
  try {
    ThrowIfNil_(mMovie);
    if (!IsSpecified()) {
      // Not savable where it is: the save goes through a save-as question,
      // and a close waiting for this save waits for that one instead.
      if (RemoveProcedure(proc_DocClose) == 0) mCloseAfterSaveAs = true;
      AskSaveAs_();
      return;
    }
    ThrowIfOSErr_(WriteSettingsToMovie(mMovie));
    ThrowIfOSErr_(mMovie->UpdateFile());
    SetModified(false);
    CRecentFiles::AddToRecentFileMenu(&mFileSpec);
  } catch (const LException& e) {
    // A close that waited for this save must not lose the changes.
    while (RemoveProcedure(proc_DocClose) == 0) {
    }
    mCloseAfterSheet = false;
    sQuitting = false;
    OSErr code = ErrorCodeToOSErr(e.GetErrorCode());
    LStr255 text(IndString(STRx_MovieDocument, str_SaveFailed).c_str());
    LStr255 osText;
    if (UMessage::GetOSErrString(code, osText)) {
      text += ": ";
      text += osText;
    } else {
      text += "!";
    }
    StopAlert(text, code);
  }
}

// ---------------------------------------------------------------------------
// The file questions

void CMovieDocument::GetNavigationDialogOptions(SInt16 inMode, SDocNavOptions* ioOptions) {
  if (ioOptions == nullptr) return;
  std::string name = SaveNameFor(this);
  switch (inMode) {
    case 0:
      ioOptions->windowTitle = IndString(STRx_MovieDocument, str_SaveAsTitle);
      ioOptions->saveFileName = name;
      break;
    case 1:
    case 2:
      ioOptions->windowTitle = IndString(STRx_MovieDocument, str_ExportTitle);
      ioOptions->saveFileName = name;
      ioOptions->actionButtonLabel = IndString(STRx_MovieDocument, str_ExportButton);
      break;
    default: break;
  }
}

namespace {

void AskFile(CMovieDocument* inDoc, SInt16 inOptionsMode, const std::vector<std::string>& inChoices,
             SInt32 inDefaultChoice, std::function<void(SQuestion&)> inAsk) {
  SDocNavOptions options;
  inDoc->GetNavigationDialogOptions(inOptionsMode, &options);
  SQuestion q;
  q.kind = question_SaveFile;
  q.title = options.windowTitle;
  q.defaultName = options.saveFileName;
  // A movie that has a file, imported ones too, is saved or exported beside it unless the user goes elsewhere.
  q.folder = inDoc->GetFileFolder();
  q.choices = inChoices;
  q.defaultChoice = inDefaultChoice;
  inAsk(q);
}

}  // namespace

void CMovieDocument::AskSaveAs_() {
  try {
    ThrowIfNil_(mMovie);
    bool anyVolatile = false;
    if (UMovies::AnyVolatileDataRefs(mMovie->GetMovie(), anyVolatile) != noErr) anyVolatile = false;
    // Without a file of its own to refer to, the movie can only be saved whole.
    UInt32 props = mMovie->GetMovieProperties();
    sEnforceSelfContainment = anyVolatile || (props & kMovieProp_NoDataRef) != 0;
    std::vector<std::string> formats;
    SInt32 defaultChoice = kSaveChoiceSelfContained;
    if (sEnforceSelfContainment) {
      formats = {"Self-contained movie (*.mov)"};
      defaultChoice = 1;
    } else {
      formats = {"Reference movie (*.mov)", "Self-contained movie (*.mov)"};
      defaultChoice = sAllowDep ? kSaveChoiceReference : kSaveChoiceSelfContained;
    }
    mNavMode = kNavModeSaveAs;
    AskFile(this, 0, formats, defaultChoice, [this](SQuestion& q) { AskNavQuestion(q, kNavUserActionSaveAs); });
  } catch (const LException& e) {
    OSErr code = ErrorCodeToOSErr(e.GetErrorCode());
    LStr255 text;
    if (e.GetErrorString()[0] != 0 || !UMessage::GetOSErrString(code, text))
      text = LStr255(IndString(STRx_MovieDocument, str_SaveAsFailed).c_str());
    StopAlert(text, code);
  }
}

void CMovieDocument::AskExportAs_() {
  try {
    ThrowIfNil_(mMovie);
    if (sAskExportProc != nullptr) {
      // The answer may come after the document has gone: it holds only a token.
      std::weak_ptr<bool> alive = mAliveToken;
      sAskExportProc(mMovie, static_cast<SInt32>(GetInterlaceMode()), mWindow, SaveNameFor(this),
                     [this, alive](const FSSpec* inFile) {
                       if (inFile == nullptr || alive.expired() || mDestroying) return;
                       PostProcedure(proc_Export, inFile, sizeof *inFile);
                     });
      return;
    }
    mNavMode = kNavModeExport;
    AskFile(this, 1, {}, 0, [this](SQuestion& q) { AskNavQuestion(q, kNavUserActionSaveAs); });
  } catch (const LException& e) {
    StopAlert(LStr255(IndString(STRx_MovieDocument, str_SaveAsFailed).c_str()), ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

void CMovieDocument::AskExportTweenAs_() {
  try {
    ThrowIfNil_(mMovie);
    if (mTweenSheet != nullptr) return;  // one at a time
    SDocNavOptions nav;
    GetNavigationDialogOptions(2, &nav);
    UExportTweenSheet::SOptions options;
    options.title = nav.windowTitle;
    options.saveName = nav.saveFileName;
    options.actionLabel = nav.actionButtonLabel;
    options.parent = (mWindow != nullptr && mWindow->IsVisible()) ? mWindow : nullptr;
    mNavMode = kNavModeExportTween;
    ++mAsking;
    // The answer comes as the other file questions' do (1100, then 1101);
    // a document that has gone has dismissed its sheet, which then never answers.
    std::weak_ptr<bool> alive = mAliveToken;
    auto over = std::make_shared<bool>(false);
    LMovieExportTweenNavSheet* sheet =
        UExportTweenSheet::Ask(options, [this, alive, over](const UExportTweenSheet::SReply& inReply) {
          *over = true;
          if (alive.expired() || mDestroying) return;
          mTweenSheet = nullptr;
          --mAsking;
          SDocNavAnswer answer;
          answer.userAction = inReply.saved ? kNavUserActionSaveAs : kNavUserActionCancel;
          answer.folder = inReply.folder;
          answer.saveName = inReply.saveName;
          answer.replacing = inReply.replacing;
          answer.valid = inReply.saved;
          ListenToMessage(msg_NavUserAction, &answer);
          if (!alive.expired()) ListenToMessage(msg_NavTerminate, &answer);
        });
    if (!*over) mTweenSheet = sheet;
  } catch (const LException& e) {
    StopAlert(LStr255(IndString(STRx_MovieDocument, str_SaveAsFailed).c_str()), ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

void CMovieDocument::InvokeNavUserAction(SDocNavAnswer* ioRecord) {
  if (ioRecord == nullptr) return;
  if (ioRecord->userAction != kNavUserActionSaveAs) {
    if (ioRecord->userAction == kNavUserActionCancel) mNavMode = kNavModeNone;
    CSingleDocument::InvokeNavUserAction(ioRecord);
    return;
  }
  SInt32 mode = mNavMode;
  mNavMode = kNavModeNone;
  try {
    FSSpec spec;
    // The whole name; an existing file is never deleted here: the save
    // replaces it only once the new movie is complete.
    MakeTargetSpec(*ioRecord, spec);
    switch (mode) {
      case kNavModeSaveAs:
        if (!sEnforceSelfContainment && ioRecord->choice != 0)
          sAllowDep = ioRecord->choice == kSaveChoiceReference;
        DoAESave(spec, '****');
        break;
      case kNavModeExport: PostProcedure(proc_Export, &spec, sizeof spec); break;
      // The export-tween writer keeps the destination as it is: nothing is
      // written, so a file being replaced must not be touched either.
      case kNavModeExportTween: PostProcedure(proc_ExportTween, &spec, sizeof spec); break;
      default: break;
    }
    mCloseAfterSheet = mCloseAfterSaveAs;
  } catch (const LException& e) {
    StopAlert(LStr255(IndString(STRx_MovieDocument, str_SaveAsFailed).c_str()), ErrorCodeToOSErr(e.GetErrorCode()));
  }
}

// ---------------------------------------------------------------------------
// Save as

bool CMovieDocument::TargetIsOwnSource(const FSSpec& inTarget, bool inSelfContained) {
  if (mMovie == nullptr) return false;
  // A self-contained save reads every sample before the new file replaces
  // the target: only a reference movie would point at what it replaces.
  if (inSelfContained) return false;
  const std::string target = Canonical(FSSpecPath(inTarget));
  std::set<std::string> sources;
  Movie movie = mMovie->GetMovie();
  SInt32 tracks = GetMovieTrackCount(movie);
  for (SInt32 t = 1; t <= tracks; ++t) {
    Media media = GetTrackMedia(GetMovieIndTrack(movie, t));
    if (media == nullptr) continue;
    SInt16 count = 0;
    if (GetMediaDataRefCount(media, &count) != noErr) continue;
    for (SInt16 i = 1; i <= count; ++i) {
      Handle ref = nullptr;
      OSType type = 0;
      if (GetMediaDataRef(media, i, &ref, &type, nullptr) != noErr || ref == nullptr) continue;
      if (type != 'hndl' && GetHandleSize(ref) > 0)
        sources.insert(Canonical(DataRefPath(std::string(*ref, static_cast<size_t>(GetHandleSize(ref))))));
      DisposeHandle(ref);
    }
  }
  if (HasFile()) sources.insert(Canonical(FSSpecPath(mFileSpec)));
  return sources.count(target) != 0;
}

OSErr CMovieDocument::SaveMovieTo(const FSSpec& inTarget, bool inSelfContained) {
  // The toolbox writes the movie into a new file beside the target and
  // renames it over the target only when complete, so an existing target is
  // never deleted here; a failed save removes only a file this call made.
  const bool existed = FSSpecExists(inTarget);
  if (!existed) {
    OSErr err = FSpCreate(&inTarget, kTremblorixFileCreator, 'MooV', smSystemScript);
    if (err != noErr) return err;
  }
  OSErr err = WriteSettingsToMovie(mMovie);
  if (err == noErr) err = mMovie->Save(&inTarget, !inSelfContained);
  if (err == noErr) {
    FInfo info{};
    if (FSpGetFInfo(&inTarget, &info) == noErr && (info.fdType != 'MooV' || info.fdCreator != kTremblorixFileCreator)) {
      info.fdType = 'MooV';
      info.fdCreator = kTremblorixFileCreator;
      FSpSetFInfo(&inTarget, &info);
    }
  } else if (!existed) {
    if (DeleteMovieFile(&inTarget) != noErr) {
      std::error_code ec;
      fs::remove(FSSpecPath(inTarget), ec);
    }
  }
  return err;
}

void CMovieDocument::DoAESave_(FSSpec& inSpec) {
  const Boolean previewWasOn = mPreviewOn;
  try {
    EndEditSession(false);
    if (previewWasOn) SetPreviewMode(false);
    ThrowIfNil_(mMovie);
    const bool selfContained = sEnforceSelfContainment || !sAllowDep;
    if (TargetIsOwnSource(inSpec, selfContained)) {
      while (RemoveProcedure(proc_DocClose) == 0) {
      }
      mCloseAfterSheet = false;
      sQuitting = false;
      StopAlert(LStr255(IndString(STRx_MovieDocument, str_OwnSourceRefused).c_str()), kOwnSourceErr);
      if (previewWasOn) SetPreviewMode(true);
      return;
    }
    ThrowIfOSErr_(SaveMovieTo(inSpec, selfContained));

    // The document goes on with the movie read back from the new file.
    CMovie* saved = new CMovie(&inSpec);
    saved->SetOptions(mMovie->GetOptions(), 0xFFFFFFFF);
    saved->SetPlayHints(mMovie->GetPlayHints(), -1);
    saved->SetPlayRate(mMovie->GetPlayRate());
    SetFile(&inSpec);
    AttachNewMovie(saved);
    LCommander::PostAction(nullptr);
    std::string path = FSSpecPath(inSpec);
    SetDescriptor(LStr255(path.substr(path.find_last_of('/') + 1).c_str()));
    SetModified(false);
    SetSpecified(true);
    CRecentFiles::AddToRecentFileMenu(&mFileSpec);
    if (previewWasOn) SetPreviewMode(true);
  } catch (const LException& e) {
    // The close that waited for this save does not happen: nothing is lost.
    while (RemoveProcedure(proc_DocClose) == 0) {
    }
    mCloseAfterSheet = false;
    sQuitting = false;
    OSErr code = ErrorCodeToOSErr(e.GetErrorCode());
    // A save the user stopped from its progress sheet needs no alert.
    if (code != kProgressCancelled && code != userCanceledErr && code != kProgressSheetCancelled) {
      LStr255 text;
      if (e.GetErrorString()[0] != 0) {
        text = LStr255(e.GetErrorString());
      } else {
        text = LStr255(IndString(STRx_MovieDocument, str_SaveErrorPrefix).c_str());
        LStr255 osText;
        if (UMessage::GetOSErrString(code, osText))
          text += osText;
        else
          text += LStr255(IndString(STRx_MovieDocument, str_SaveUnknownError).c_str());
      }
      StopAlert(text, code);
    }
  }
}

// ---------------------------------------------------------------------------
// Revert

void CMovieDocument::DoRevert() {
  if (!HasFile()) return;
  EndEditSession(false);
  if (mPreviewOn) SetPreviewMode(false);
  CMovie* reverted = nullptr;
  try {
    reverted = new CMovie(&mFileSpec);
    if (mMovie != nullptr) {
      reverted->SetOptions(mMovie->GetOptions(), 0xFFFFFFFF);
      reverted->SetPlayHints(mMovie->GetPlayHints(), -1);
      reverted->SetPlayRate(mMovie->GetPlayRate());
    }
    // The settings come back from the file, not from what was changed.
    SetDefaultSettings();
    CMovie* adopted = reverted;
    reverted = nullptr;
    AttachNewMovie(adopted);
    AdjustWindowToMovieSize(1.0f);
    if (mMotionData.MovieChanged(mMovie)) mMotionData.InvalidateRawData();
    SetModified(false);
  } catch (...) {
    delete reverted;
    throw;
  }
}
