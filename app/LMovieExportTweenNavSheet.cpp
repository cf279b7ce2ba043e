#include "app/LMovieExportTweenNavSheet.h"

#include <memory>

#include "media/UMovies.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "toolkit/UNavigation.h"

namespace {
constexpr OSType kTweenFileType = 'MooV';
}  // namespace

OSStatus LMovieExportTweenNavSheet::Start(const UExportTweenSheet::SOptions& inOptions, Completion inDone) {
  mDone = std::move(inDone);
  mReply = UExportTweenSheet::SReply();
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  options.windowTitle = inOptions.title;
  options.actionButtonLabel = inOptions.actionLabel;
  options.saveFileName = inOptions.saveName;
  options.optionFlags |= kNavPreserveSaveFileExtension;
  options.parentWindow = inOptions.parent;
  options.modality = inOptions.parent ? kWindowModalityWindowModal : kWindowModalityAppModal;
  return UNavigation::AskDesignateFile(*this, kTweenFileType, kTremblorixFileCreator, options);
}

void LMovieExportTweenNavSheet::InvokeNavStart(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavStart(inParams);
  NavDialogRef dialog = inParams && inParams->context ? inParams->context : mNavDialog;
  if (dialog == nullptr) return;
  ResIDT layout = DITL_ExportTweenOptions;
  if (NavCustomControl(dialog, kNavCtlAddControlList, &layout) != noErr) return;
  if (NavCustomControl(dialog, kNavCtlGetFirstControlID, &mFirstItem) != noErr) {
    mFirstItem = 0;
    return;
  }
  SyncControls();
}

LView* LMovieExportTweenNavSheet::GetControls() const {
  return mNavDialog ? NavDialogGetCustomArea(mNavDialog) : nullptr;
}

LPane* LMovieExportTweenNavSheet::GetItem(SInt16 inItem) const {
  if (mNavDialog == nullptr || mFirstItem == 0) return nullptr;
  return NavDialogGetCustomItem(mNavDialog, static_cast<SInt16>(mFirstItem + inItem));
}

void LMovieExportTweenNavSheet::SyncControls() {
  mSyncing = true;
  for (SInt16 item = kTweenItemSelectionOnly; item <= kTweenItemHoldLastFrame; ++item)
    if (auto* box = dynamic_cast<LControl*>(GetItem(item))) box->SetValue(UExportTweenSheet::GetOption(item) ? 1 : 0);
  mSyncing = false;
}

void LMovieExportTweenNavSheet::InvokeNavEvent(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavEvent(inParams);
  if (inParams == nullptr || mSyncing || mFirstItem == 0) return;
  const SInt32 item = inParams->eventData.itemHit - mFirstItem;
  if (item >= kTweenItemSelectionOnly && item <= kTweenItemHoldLastFrame) DoItem(static_cast<SInt16>(item));
}

void LMovieExportTweenNavSheet::DoItem(SInt16 inItem) {
  if (inItem < kTweenItemSelectionOnly || inItem > kTweenItemHoldLastFrame) return;
  // A check box of the area has changed its value already; without one the click toggles.
  auto* box = dynamic_cast<LControl*>(GetItem(inItem));
  UExportTweenSheet::SetOption(inItem, box ? box->GetValue() != 0 : !UExportTweenSheet::GetOption(inItem));
}

void LMovieExportTweenNavSheet::InvokeNavCustomize(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavCustomize(inParams);
  if (inParams) NegotiateCustomArea(inParams->customRect);
}

void LMovieExportTweenNavSheet::NegotiateCustomArea(Rect& ioArea) {
  CNavEventResponder::NegotiateCustomArea(ioArea, mLastTry, kCustomWidth, kCustomHeight);
}

void LMovieExportTweenNavSheet::InvokeNavUserAction(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavUserAction(inParams);
  if (inParams == nullptr || inParams->userAction != kNavUserActionSaveAs) return;
  NavReplyRecord reply;
  NavDialogRef dialog = inParams->context ? inParams->context : mNavDialog;
  if (NavDialogGetReply(dialog, &reply) != noErr || !reply.validRecord || reply.paths.empty()) return;
  // The whole name, never cut; the folder is the one the path names.
  const std::string& path = reply.paths.front();
  const size_t slash = path.rfind('/');
  mReply.folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  mReply.saveName = slash == std::string::npos ? path : path.substr(slash + 1);
  mReply.replacing = reply.replacing;
  mReply.saved = !mReply.saveName.empty();
  NavDisposeReply(&reply);
}

void LMovieExportTweenNavSheet::InvokeNavTerminate(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavTerminate(inParams);
  mFirstItem = 0;
  Completion done = std::move(mDone);
  mDone = nullptr;
  const UExportTweenSheet::SReply reply = mReply;
  // Last: the owner may delete the sheet in here.
  if (done) done(reply);
}

// ---------------------------------------------------------------------------

namespace UExportTweenSheet {

LMovieExportTweenNavSheet* Ask(const SOptions& inOptions, std::function<void(const SReply&)> inDone) {
  auto* sheet = new LMovieExportTweenNavSheet;
  auto answered = std::make_shared<bool>(false);
  const OSStatus err = sheet->Start(inOptions, [sheet, inDone, answered](const SReply& inReply) {
    *answered = true;
    if (inDone) inDone(inReply);
    delete sheet;
  });
  if (*answered) return nullptr;
  if (err != noErr) {
    // A dialog that could not open never answers.
    delete sheet;
    if (inDone) inDone(SReply());
    return nullptr;
  }
  return sheet;
}

void Dismiss(LMovieExportTweenNavSheet* inSheet) { delete inSheet; }

}  // namespace UExportTweenSheet
