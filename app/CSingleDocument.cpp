#include "app/CSingleDocument.h"

#include <cstring>
#include <filesystem>
#include <functional>

#include "app/CRecentFiles.h"
#include "platform/base/LException.h"
#include "platform/files/Resources.h"
#include "platform/framework/LTimerTask.h"
#include "platform/ui/UDesktop.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LDocumentNavSheet.h"
#include "toolkit/UMessage.h"
#include "toolkit/UNavigation.h"

Boolean CSingleDocument::sQuitting = false;
Boolean CSingleDocument::sDisregardChanges = false;
Boolean CSingleDocument::sAskClosing = true;
UInt32 CSingleDocument::sKeyModifiers = 0;

namespace {

constexpr UInt32 kOptionKeyModifier = 0x0800;

std::string ToString(ConstStringPtr inText) {
  if (inText == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(inText + 1), inText[0]);
}

// The close of the next document of a quit, run once from the event loop
// after the destructor that asked for it has returned.
class CQuitCloser : public LTimerTask {
 public:
  CQuitCloser() : LTimerTask(0.0) {}
  void DoTask() override {
    delete this;
    CloseNext();
  }
  static void CloseNext();
};

}  // namespace

void CQuitCloser::CloseNext() {
  if (!CSingleDocument::sQuitting) return;
  CSingleDocument* next = CSingleDocument::GetDocTester().FindTopDocument(true);
  if (next == nullptr) return;
  try {
    if (CSingleDocument::sDisregardChanges)
      next->Close();
    else
      next->AttemptClose(false);
  } catch (...) {
    // The document that could not close stays open.
    LogCurrentException("documents", "quit close");
  }
}

// ---------------------------------------------------------------------------
// CDocTester

CDocTester::CDocTester() { StartIdling(1.0); }

CDocTester::~CDocTester() = default;

void CDocTester::AddDocument(CSingleDocument* inDocument) {
  if (!FindDocument(inDocument)) mDocuments.AddItem(inDocument);
}

void CDocTester::RemoveDocument(CSingleDocument* inDocument) { mDocuments.Remove(inDocument); }

Boolean CDocTester::FindDocument(CSingleDocument* inDocument) const {
  return mDocuments.FetchIndexOf(inDocument) != index_Bad;
}

CSingleDocument* CDocTester::FindTopDocument(Boolean inIncludeInvisible) const {
  for (LWindow* window : UDesktop::GetWindowsOfClass(kDocumentWindowClass)) {
    if (!inIncludeInvisible && !window->IsVisible()) continue;
    for (SInt32 i = 1; i <= mDocuments.GetCount(); ++i) {
      CSingleDocument* doc = mDocuments[i];
      if (doc->GetWindow() != nullptr && static_cast<LWindow*>(doc->GetWindow()) == window) return doc;
    }
  }
  return nullptr;
}

void CDocTester::SpendTime(const EventRecord&) {
  // A document may go while another's proxy is updated: walk a copy.
  std::vector<CSingleDocument*> docs;
  for (SInt32 i = 1; i <= mDocuments.GetCount(); ++i) docs.push_back(mDocuments[i]);
  for (CSingleDocument* doc : docs)
    if (FindDocument(doc)) doc->UpdateProxy();
}

CDocTester& CSingleDocument::GetDocTester() {
  static CDocTester sTester;
  return sTester;
}

// ---------------------------------------------------------------------------
// Life

CSingleDocument::CSingleDocument()
    : LCommander(LCommander::GetTopCommander()), mAlive(std::make_shared<Boolean>(true)) {
  GetDocTester().AddDocument(this);
}

CSingleDocument::~CSingleDocument() {
  *mAlive = false;
  GetDocTester().RemoveDocument(this);
  if (mWindow != nullptr) {
    CRegularWindow* window = mWindow;
    mWindow = nullptr;
    delete window;
  }
  // The next document of a quit closes later, from the event loop: closing
  // it here would nest one destructor inside the next. After the last one
  // there is nothing to close (and the program may end before it would run).
  if (sQuitting && GetDocTester().FindTopDocument(true) != nullptr) new CQuitCloser;
}

void CSingleDocument::CloseNextForQuit() { CQuitCloser::CloseNext(); }

void CSingleDocument::Close() { delete this; }

void CSingleDocument::SetFile(const FSSpec* inSpec) {
  if (inSpec != nullptr) {
    mFileSpec = *inSpec;
    mHasFile = true;
  } else {
    mFileSpec = FSSpec{};
    mHasFile = false;
  }
}

Boolean CSingleDocument::IsModified() { return mIsModified; }

void CSingleDocument::SetModified(Boolean inModified) { mIsModified = inModified; }

Boolean CSingleDocument::IsSpecified() { return mIsSpecified; }

std::string CSingleDocument::GetFileFolder() const {
  if (!mHasFile) return {};
  const std::string path = FSSpecPath(mFileSpec);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

void CSingleDocument::SetSpecified(Boolean inSpecified) {
  mIsSpecified = inSpecified;
  if (mWindow == nullptr) return;
  if (mHasFile) {
    mWindow->SetProxyFile(&mFileSpec);
    if (IsSpecified() && mWindow->IsModified() != IsModified()) mWindow->SetModified(IsModified());
  } else {
    mWindow->SetProxyFile(nullptr);
  }
}

void CSingleDocument::UpdateProxy() {
  if (mWindow == nullptr) return;
  Boolean modified = IsModified();
  if (mWindow->IsModified() != modified) mWindow->SetModified(modified);
}

void CSingleDocument::SetDescriptor(const LStr255& inTitle) {
  if (mWindow != nullptr) mWindow->SetDescriptor(inTitle);
}

void CSingleDocument::PutOnDuty(LCommander*) {}

void CSingleDocument::TakeOffDuty() {}

// ---------------------------------------------------------------------------
// Questions

void CSingleDocument::AskNavQuestion(SQuestion& ioQuestion, NavUserAction inSaveAction) {
  ioQuestion.parent = (mWindow != nullptr && mWindow->IsVisible()) ? mWindow : nullptr;
  std::shared_ptr<Boolean> alive = mAlive;
  EQuestion kind = ioQuestion.kind;
  ++mAsking;
  UResponder::Ask(ioQuestion, [this, alive, kind, inSaveAction](const SAnswer& inAnswer) {
    if (!*alive) return;
    --mAsking;
    SDocNavAnswer rec;
    if (inAnswer.cancelled) {
      rec.userAction = kNavUserActionCancel;
    } else if (kind == question_SaveFile) {
      rec.userAction = inSaveAction;
      if (!inAnswer.paths.empty()) {
        std::filesystem::path p(inAnswer.paths.front());
        rec.folder = p.parent_path().string();
        rec.saveName = p.filename().string();
        std::error_code ec;
        rec.replacing = std::filesystem::exists(p, ec);
        rec.valid = !rec.saveName.empty();
      }
      rec.choice = inAnswer.choice;
    } else if (kind == question_SaveChanges) {
      rec.userAction = inAnswer.choice == 1   ? kNavUserActionSaveChanges
                       : inAnswer.choice == 2 ? kNavUserActionDontSaveChanges
                                              : kNavUserActionCancel;
    } else if (kind == question_DiscardChanges) {
      rec.userAction = inAnswer.choice == 1 ? kNavUserActionDiscardChanges : kNavUserActionCancel;
    }
    ListenToMessage(msg_NavUserAction, &rec);
    if (*alive) ListenToMessage(msg_NavTerminate, &rec);
  });
}

namespace {

// Hands a navigation sheet's answer to its document as the document's own
// navigation messages, and tells the document when the sheet has gone.
class CNavSheetRelay : public LListener {
 public:
  CNavSheetRelay(CSingleDocument* inDocument, std::shared_ptr<Boolean> inAlive, std::function<void()> inEnded)
      : mDocument(inDocument), mAlive(std::move(inAlive)), mEnded(std::move(inEnded)) {}

  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    switch (inMessage) {
      case msg_NavSheetUserAction: {
        auto* rec = static_cast<NavCBRec*>(ioParam);
        mAnswer.userAction = rec != nullptr ? rec->userAction : kNavUserActionCancel;
        if (*mAlive) mDocument->ListenToMessage(msg_NavUserAction, &mAnswer);
        break;
      }
      case msg_NavSheetTerminate:
        End();
        if (*mAlive) mDocument->ListenToMessage(msg_NavTerminate, &mAnswer);
        break;
      case msg_SheetReleased:
        End();
        delete this;
        break;
      default: break;
    }
  }

 private:
  void End() {
    if (!mEnded) return;
    std::function<void()> ended = std::move(mEnded);
    mEnded = nullptr;
    if (*mAlive) ended();
  }

  CSingleDocument* mDocument;
  std::shared_ptr<Boolean> mAlive;
  std::function<void()> mEnded;
  SDocNavAnswer mAnswer;
};

}  // namespace

void CSingleDocument::AskNavSheet(
    const std::function<OSStatus(LDocumentNavSheet& ioSheet, const NavDialogCreationOptions& inOptions)>& inAsk) {
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  // The question names the document as its window does.
  if (mWindow != nullptr) options.saveFileName = mWindow->GetTitle();
  if (mWindow != nullptr && mWindow->IsVisible()) mWindow->Select();
  ++mAsking;
  auto* relay = new CNavSheetRelay(this, mAlive, [this] { --mAsking; });
  auto* sheet = new LDocumentNavSheet(relay);
  if (mWindow != nullptr) {
    options.modality = kWindowModalityWindowModal;
    options.parentWindow = mWindow;
    mWindow->AddSheet(sheet, true);
  } else {
    options.modality = kWindowModalityAppModal;
  }
  // A window-modal dialog answers later; an application-modal one has
  // answered (and its sheet gone) when the call returns without error.
  if (inAsk(*sheet, options) != noErr) sheet->Release();
}

SInt16 CSingleDocument::AskSaveChanges(Boolean inQuitting) {
  const NavAskSaveChangesAction action =
      inQuitting ? kNavSaveChangesQuittingApplication : kNavSaveChangesClosingDocument;
  AskNavSheet([action](LDocumentNavSheet& ioSheet, const NavDialogCreationOptions& inOptions) {
    return UNavigation::AskSaveChanges(ioSheet, action, inOptions);
  });
  return 0;
}

SInt16 CSingleDocument::AskConfirmRevert() {
  AskNavSheet([](LDocumentNavSheet& ioSheet, const NavDialogCreationOptions& inOptions) {
    return UNavigation::AskDiscardChanges(ioSheet, inOptions);
  });
  return 0;
}

Boolean CSingleDocument::AskSaveAs(FSSpec&, Boolean) {
  try {
    SDocNavOptions options;
    GetNavigationDialogOptions(0, &options);
    SQuestion q;
    q.kind = question_SaveFile;
    q.title = options.windowTitle;
    q.defaultName = options.saveFileName;
    if (q.defaultName.empty() && mWindow != nullptr) q.defaultName = mWindow->GetTitle();
    q.folder = GetFileFolder();
    q.choices = options.choices;
    q.defaultChoice = options.defaultChoice;
    AskNavQuestion(q, kNavUserActionSaveAs);
  } catch (const LException& e) {
    LStr255 text;
    if (e.GetErrorString()[0] != 0 || !UMessage::GetOSErrString(ErrorCodeToOSErr(e.GetErrorCode()), text))
      text = LStr255(IndString(STRx_Documents, str_DocSaveFailed).c_str());
    UMessage::StopAlert(text, ErrorCodeToOSErr(e.GetErrorCode()));
  }
  return false;
}

void CSingleDocument::MakeTargetSpec(const SDocNavAnswer& inRecord, FSSpec& outSpec) {
  if (!inRecord.valid || inRecord.saveName.empty() || inRecord.folder.empty()) Throw_(-1);
  // The whole name: a cut name could match another file and lose its extension.
  std::string path = (std::filesystem::path(inRecord.folder) / inRecord.saveName).string();
  OSErr err = FSMakeFSSpecFromPath(path, &outSpec);
  if (err != noErr && err != fnfErr) Throw_(err);
}

void CSingleDocument::AttemptClose(Boolean) {
  if (mWindow != nullptr && (mWindow->GetCurrentSheet() != nullptr || IsAsking())) {
    sQuitting = false;
    return;
  }
  try {
    if (sAskClosing && (GetCurrentKeyModifiers() & kOptionKeyModifier) == 0 && IsModified()) {
      AskSaveChanges(sQuitting);
      return;
    }
  } catch (...) {
    return;
  }
  Close();
}

Boolean CSingleDocument::AllowSubRemoval(LCommander* inSub) {
  if (mWindow != nullptr && inSub == static_cast<LCommander*>(mWindow)) {
    AttemptClose(false);
    return false;
  }
  return true;
}

void CSingleDocument::DoAESave(FSSpec& inSpec, OSType) {
  SetFile(&inSpec);
  Save();
  SetSpecified(true);
}

void CSingleDocument::DoSave() {
  Save();
  PostAction(nullptr);
  if (mHasFile) CRecentFiles::AddToRecentFileMenu(&mFileSpec);
}

void CSingleDocument::DoPrint() { Print(); }

// ---------------------------------------------------------------------------
// Answers

void CSingleDocument::ListenToMessage(MessageT inMessage, void* ioParam) {
  switch (inMessage) {
    case msg_NavUserAction: InvokeNavUserAction(static_cast<SDocNavAnswer*>(ioParam)); break;
    case msg_NavTerminate: InvokeNavTerminate(static_cast<SDocNavAnswer*>(ioParam)); break;
    default: break;
  }
}

void CSingleDocument::InvokeNavUserAction(SDocNavAnswer* ioRecord) {
  if (ioRecord == nullptr) return;
  switch (ioRecord->userAction) {
    case kNavUserActionCancel:
      mCloseAfterSaveAs = false;
      sQuitting = false;
      break;
    case kNavUserActionSaveAs:
      try {
        FSSpec spec;
        MakeTargetSpec(*ioRecord, spec);
        DoAESave(spec, '****');
        mCloseAfterSheet = mCloseAfterSaveAs;
      } catch (const LException& e) {
        LStr255 text(IndString(STRx_Documents, str_DocSaveFailed).c_str());
        StopAlert(text, ErrorCodeToOSErr(e.GetErrorCode()));
      }
      break;
    case kNavUserActionSaveChanges:
      if (IsSpecified()) {
        try {
          DoSave();
          mCloseAfterSheet = true;
        } catch (...) {
          // Unsaved changes keep their document open, and a quit waiting
          // for it ends, as after a cancel; the user learns why.
          sQuitting = false;
          LStr255 text(IndString(STRx_Documents, str_DocSaveFailed).c_str());
          StopAlert(text, OSErrOfCurrent());
        }
      } else {
        mCloseAfterSaveAs = true;
        PostProcedure(proc_DocSaveAs, nullptr, 0);
      }
      break;
    case kNavUserActionDontSaveChanges: mCloseAfterSheet = true; break;
    case kNavUserActionDiscardChanges:
      try {
        DoRevert();
      } catch (...) {
        LogCurrentException("documents", "DoRevert");
      }
      break;
    default: break;
  }
}

void CSingleDocument::InvokeNavTerminate(SDocNavAnswer*) {
  if (mCloseAfterSheet) {
    mCloseAfterSheet = false;
    PostProcedure(proc_DocClose, nullptr, 0);
  }
}

void CSingleDocument::ExecuteProcedure(SInt32 inProcID, void*, SInt32) {
  try {
    switch (inProcID) {
      case proc_DocClose: Close(); break;
      case proc_DocSaveAs: {
        FSSpec spec = mFileSpec;
        AskSaveAs(spec, true);
        break;
      }
      default: break;
    }
  } catch (...) {
    LogCurrentException("documents", "ExecuteProcedure");
  }
}

// ---------------------------------------------------------------------------
// Alerts

namespace {

void ApplicationAlert(SInt16 inType, ConstStringPtr inText, SInt16 inCode) {
  switch (inType) {
    case kAlertNoteAlert: UMessage::NoteAlert(inText, inCode); break;
    case kAlertCautionAlert: UMessage::CautionAlert(inText, inCode); break;
    default: UMessage::StopAlert(inText, inCode); break;
  }
}

void DocumentAlert(CSingleDocument* inDoc, SInt16 inType, ConstStringPtr inText, SInt16 inCode) {
  CRegularWindow* window = inDoc->GetWindow();
  if (window == nullptr || !window->IsVisible()) {
    ApplicationAlert(inType, inText, inCode);
    return;
  }
  SysBeep(1);
  std::string explanation;
  if (inCode != 0) {
    SInt16 item = inType == kAlertNoteAlert ? str_DocNoteCode : inType == kAlertCautionAlert ? str_DocCautionCode
                                                                                            : str_DocStopCode;
    // The code's text when the message does not say it, then the code:
    // "Error: -2048", or "Error: 'nilP'" for a four-character code.
    const std::string message = ToString(inText);
    LStr255 text;
    if (UMessage::GetOSErrString(inCode, text)) {
      const std::string said(text.ConstTextPtr(), text.Length());
      if (!said.empty() && message.find(said) == std::string::npos) explanation = said + "\r";
    }
    LStr255 code;
    UMessage::GetErrorCodeString(inCode, code);
    explanation += IndString(STRx_Documents, item) + std::string(code.ConstTextPtr(), code.Length());
  }
  inDoc->ShowAlertSheet(inType, ToString(inText), explanation, "OK", std::string(), std::string(), 0);
}

}  // namespace

void CSingleDocument::NoteAlert(ConstStringPtr inText, SInt16 inCode) {
  DocumentAlert(this, kAlertNoteAlert, inText, inCode);
}

void CSingleDocument::CautionAlert(ConstStringPtr inText, SInt16 inCode) {
  DocumentAlert(this, kAlertCautionAlert, inText, inCode);
}

void CSingleDocument::StopAlert(ConstStringPtr inText, SInt16 inCode) {
  DocumentAlert(this, kAlertStopAlert, inText, inCode);
}

void CSingleDocument::ShowAlertSheet(SInt16 inType, const std::string& inMessage, const std::string& inExplanation,
                                     const std::string& inDefaultButton, const std::string& inCancelButton,
                                     const std::string& inOtherButton, MessageT inReplyMessage) {
  SQuestion q;
  q.kind = question_Alert;
  q.alertType = inType;
  q.message = inMessage;
  q.explanation = inExplanation;
  q.choices.push_back(inDefaultButton.empty() ? std::string("OK") : inDefaultButton);
  if (!inCancelButton.empty()) q.choices.push_back(inCancelButton);
  if (!inOtherButton.empty()) q.choices.push_back(inOtherButton);
  q.defaultChoice = 1;
  q.cancelChoice = inCancelButton.empty() ? 0 : 2;
  q.parent = (mWindow != nullptr && mWindow->IsVisible()) ? mWindow : nullptr;
  std::shared_ptr<Boolean> alive = mAlive;
  bool hasCancel = !inCancelButton.empty();
  ++mAsking;
  UResponder::Ask(q, [this, alive, inReplyMessage, hasCancel](const SAnswer& inAnswer) {
    if (!*alive) return;
    --mAsking;
    if (inReplyMessage == 0) return;
    OSType command = 'ok  ';
    if (inAnswer.cancelled || (hasCancel && inAnswer.choice == 2))
      command = 'cncl';
    else if (inAnswer.choice == 3 || (!hasCancel && inAnswer.choice == 2))
      command = 'othr';
    ListenToMessage(inReplyMessage, &command);
  });
}

// ---------------------------------------------------------------------------
// Commands

Boolean CSingleDocument::ObeyCommand(CommandT inCommand, void* ioParam) {
  switch (inCommand) {
    case cmd_Close: AttemptClose(true); return true;
    case cmd_Save:
      if (IsSpecified())
        DoSave();
      else
        AskSaveAs(mFileSpec, true);
      return true;
    case cmd_SaveAs: AskSaveAs(mFileSpec, true); return true;
    case cmd_Revert: AskConfirmRevert(); return true;
    case cmd_Print:
    case cmd_PrintOne: DoPrint(); return true;
    default: return LCommander::ObeyCommand(inCommand, ioParam);
  }
}

void CSingleDocument::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                        UInt16& outMark, Str255 outName) {
  switch (inCommand) {
    case cmd_Close:
    case cmd_SaveAs: outEnabled = true; break;
    case cmd_Save: outEnabled = IsModified() || !IsSpecified(); break;
    case cmd_Revert: outEnabled = IsModified() && mHasFile; break;
    default: LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName); break;
  }
}

// ---------------------------------------------------------------------------

void CSingleDocument::AppendToDocTitle(LStr255& ioTitle, const LStr255& inSuffix) {
  UInt8 dot = ioTitle.ReverseFind('.');
  if (dot == 0) {
    ioTitle += inSuffix;
    return;
  }
  LStr255 extension(ioTitle.ConstTextPtr() + dot - 1, ioTitle.Length() - dot + 1);
  ioTitle.Remove(dot, static_cast<UInt8>(ioTitle.Length() - dot + 1));
  ioTitle += inSuffix;
  ioTitle += extension;
}
