#include "platform/ui/NavServices.h"

#include <QApplication>
#include <QTimer>
#include <map>
#include <memory>
#include <sys/stat.h>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Resources.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UNavPresenters.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UResponder.h"

namespace {

enum EDialogKind { kind_PutFile, kind_GetFile, kind_ChooseFolder, kind_ChooseVolume, kind_SaveChanges, kind_Discard, kind_Review };

// The texts of the questions (string list of the bundle).
constexpr SInt16 STRx_Navigation = 5030;
enum {
  str_SaveChangesClosing = 1,
  str_SaveChangesQuitting,
  str_SaveChangesExplanation,
  str_Save,
  str_DontSave,
  str_Cancel,
  str_DiscardChanges,
  str_DiscardExplanation,
  str_Discard,
  str_ReviewChanges,
  str_ReviewExplanation,
  str_Review,
  str_DiscardAll,
  str_Untitled,
  str_SaveAs,
  str_Open,
  str_ChooseFolder,
  str_ChooseVolume,
};

std::string Text(SInt16 inIndex) { return IndString(STRx_Navigation, inIndex); }

// "%s" in the text becomes the name, "%d" the number.
std::string Fill(std::string inText, const std::string& inName, UInt32 inNumber = 0) {
  size_t at = inText.find("%s");
  if (at != std::string::npos) inText.replace(at, 2, inName);
  at = inText.find("%d");
  if (at != std::string::npos) inText.replace(at, 2, std::to_string(inNumber));
  return inText;
}

std::map<UInt32, NavDialog*>& Dialogs() {
  static auto* sDialogs = new std::map<UInt32, NavDialog*>;
  return *sDialogs;
}
UInt32 gNextID = 1;
OSStatus gFailNext = noErr;

}  // namespace

// One custom item's broadcasts reach the dialog with the item's pane id.
class NavItemListener : public LListener {
 public:
  NavItemListener(NavDialog* inDialog, PaneIDT inPaneID) : mDialog(inDialog), mPaneID(inPaneID) {}
  void ListenToMessage(MessageT inMessage, void* ioParam) override;

 private:
  NavDialog* mDialog;
  PaneIDT mPaneID;
};

class NavDialog {
 public:
  static constexpr SInt16 kFirstCustomItem = 1;

  NavDialog(EDialogKind inKind, const NavDialogCreationOptions* inOptions, NavEventUPP inProc, void* inData)
      : mKind(inKind), mProc(inProc), mData(inData), mID(gNextID++) {
    if (inOptions) mOptions = *inOptions;
    Dialogs()[mID] = this;
  }
  ~NavDialog() {
    Dialogs().erase(mID);
    mListeners.clear();
    delete mCustomArea;
  }

  // Calls the callback; a disposal from inside it waits until it returns.
  void Send(NavEventCallbackMessage inMessage, NavCBRec& ioRecord) {
    if (!mProc) return;
    ioRecord.context = this;
    ioRecord.window = Window();
    ioRecord.userAction = mUserAction;
    ++mBusy;
    try {
      mProc(inMessage, &ioRecord, mData);
    } catch (...) {
      LogCurrentException("navigation", "event procedure");
    }
    --mBusy;
  }
  // Deletes the dialog unless it is inside a callback (then once it has returned).
  static void DeleteWhenIdle(NavDialog* inDialog) {
    if (inDialog->mBusy > 0)
      inDialog->mDisposePending = true;
    else
      delete inDialog;
  }

  LWindow* Window() const { return mOptions.modality == kWindowModalityWindowModal ? mOptions.parentWindow : nullptr; }

  void Negotiate() {
    Rect proposal = {0, 0, 0, 0};
    for (int round = 0; round < 8; ++round) {
      NavCBRec rec;
      rec.customRect = proposal;
      Send(kNavCBCustomize, rec);
      Rect asked = rec.customRect;
      if (asked.right < asked.left) asked.right = asked.left;
      if (asked.bottom < asked.top) asked.bottom = asked.top;
      bool same = asked.left == proposal.left && asked.top == proposal.top && asked.right == proposal.right &&
                  asked.bottom == proposal.bottom;
      proposal = asked;
      if (same) break;
    }
    mCustomRect = proposal;
  }

  SQuestion MakeQuestion() const {
    SQuestion q;
    q.title = mOptions.windowTitle;
    q.message = mOptions.message;
    q.parent = Window();
    q.customArea = mCustomArea;
    q.dialogID = mID;
    std::string name = mOptions.saveFileName;
    if (name.empty() && mOptions.parentWindow) name = mOptions.parentWindow->GetTitle();
    if (name.empty()) name = Text(str_Untitled);
    switch (mKind) {
      case kind_PutFile:
        q.kind = question_SaveFile;
        q.defaultName = mOptions.saveFileName;
        q.choices = mOptions.popupExtension;
        if (q.title.empty()) q.title = Text(str_SaveAs);
        break;
      case kind_GetFile:
        q.kind = question_OpenFile;
        q.choices = mOptions.popupExtension;
        if (q.title.empty()) q.title = Text(str_Open);
        break;
      case kind_ChooseFolder:
      case kind_ChooseVolume:
        q.kind = question_ChooseFolder;
        q.defaultName = mOptions.saveFileName;
        if (q.title.empty()) q.title = Text(mKind == kind_ChooseVolume ? str_ChooseVolume : str_ChooseFolder);
        break;
      case kind_SaveChanges:
        q.kind = question_SaveChanges;
        if (q.message.empty())
          q.message = Fill(Text(mSaveAction == kNavSaveChangesQuittingApplication ? str_SaveChangesQuitting
                                                                                   : str_SaveChangesClosing),
                           name);
        q.explanation = Text(str_SaveChangesExplanation);
        q.choices = {Text(str_Save), Text(str_DontSave), Text(str_Cancel)};
        q.defaultChoice = 1;
        q.cancelChoice = 3;
        break;
      case kind_Discard:
        q.kind = question_DiscardChanges;
        if (q.message.empty()) q.message = Fill(Text(str_DiscardChanges), name);
        q.explanation = Text(str_DiscardExplanation);
        q.choices = {Text(str_Discard), Text(str_Cancel)};
        q.defaultChoice = 1;
        q.cancelChoice = 2;
        break;
      case kind_Review:
        q.kind = question_ReviewChanges;
        if (q.message.empty()) q.message = Fill(Text(str_ReviewChanges), name, mDocumentCount);
        q.explanation = Text(str_ReviewExplanation);
        q.choices = {Text(str_Review), Text(str_DiscardAll), Text(str_Cancel)};
        q.defaultChoice = 1;
        q.cancelChoice = 3;
        break;
    }
    if (!mOptions.actionButtonLabel.empty() && !q.choices.empty() && mKind >= kind_SaveChanges)
      q.choices[0] = mOptions.actionButtonLabel;
    if (!mOptions.actionButtonLabel.empty() && mKind < kind_SaveChanges) q.explanation = mOptions.actionButtonLabel;
    return q;
  }

  // The answer becomes the user action and the reply.
  void TakeAnswer(const SAnswer& inAnswer) {
    mReply = NavReplyRecord();
    mUserAction = kNavUserActionCancel;
    switch (mKind) {
      case kind_PutFile:
        if (!inAnswer.cancelled && !inAnswer.paths.empty()) {
          const std::string& path = inAnswer.paths.front();
          size_t slash = path.find_last_of('/');
          std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
          FSSpec spec;
          if (FSMakeFSSpecFromPath(folder, &spec) == noErr) {
            struct stat st;
            mReply.validRecord = true;
            mReply.selection.push_back(spec);
            mReply.paths.push_back(path);
            mReply.saveFileName = slash == std::string::npos ? path : path.substr(slash + 1);
            mReply.replacing = stat(path.c_str(), &st) == 0;
            mReply.filterIndex = static_cast<SInt16>(inAnswer.choice);
            mUserAction = kNavUserActionSaveAs;
          }
        }
        break;
      case kind_GetFile:
        if (!inAnswer.cancelled) {
          for (const std::string& path : inAnswer.paths) {
            FSSpec spec;
            if (FSMakeFSSpecFromPath(path, &spec) != noErr) continue;
            struct stat st;
            Boolean folder = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            if (mFilter && !mFilter(spec, folder)) continue;
            mReply.selection.push_back(spec);
            mReply.paths.push_back(path);
            if (!(mOptions.optionFlags & kNavAllowMultipleFiles)) break;
          }
          if (!mReply.selection.empty()) {
            mReply.validRecord = true;
            mReply.filterIndex = static_cast<SInt16>(inAnswer.choice);
            mUserAction = kNavUserActionOpen;
          }
        }
        break;
      case kind_ChooseFolder:
      case kind_ChooseVolume:
        if (!inAnswer.cancelled && !inAnswer.paths.empty()) {
          std::string path = mKind == kind_ChooseVolume ? std::string("/") : inAnswer.paths.front();
          FSSpec spec;
          if (FSMakeFSSpecFromPath(path, &spec) == noErr) {
            mReply.validRecord = true;
            mReply.selection.push_back(spec);
            mReply.paths.push_back(path);
            mUserAction = kNavUserActionChoose;
          }
        }
        break;
      case kind_SaveChanges:
        if (!inAnswer.cancelled && inAnswer.choice == 1) mUserAction = kNavUserActionSaveChanges;
        if (!inAnswer.cancelled && inAnswer.choice == 2) mUserAction = kNavUserActionDontSaveChanges;
        break;
      case kind_Discard:
        if (!inAnswer.cancelled && inAnswer.choice == 1) mUserAction = kNavUserActionDiscardChanges;
        break;
      case kind_Review:
        if (!inAnswer.cancelled && inAnswer.choice == 1) mUserAction = kNavUserActionReviewDocuments;
        if (!inAnswer.cancelled && inAnswer.choice == 2) mUserAction = kNavUserActionDiscardDocuments;
        break;
    }
  }

  void Answered(const SAnswer& inAnswer) {
    if (!mRunning) return;
    mRunning = false;
    TakeAnswer(inAnswer);
    ++mBusy;  // the dialog stays while both callbacks run
    NavCBRec rec;
    rec.customRect = mCustomRect;
    Send(kNavCBUserAction, rec);
    Send(kNavCBTerminate, rec);
    --mBusy;
    if (mDisposePending) delete this;
  }

  OSStatus Run() {
    if (mRan) return paramErr;
    mRan = true;
    Negotiate();
    if (!mDisposePending) {
      NavCBRec rec;
      rec.customRect = mCustomRect;
      ++mBusy;
      Send(kNavCBStart, rec);
      --mBusy;
    }
    if (mDisposePending) {
      delete this;
      return noErr;
    }
    mRunning = true;
    UInt32 id = mID;
    SQuestion q = MakeQuestion();
    if (Window()) {
      UResponder::Ask(q, [id](const SAnswer& inAnswer) {
        auto it = Dialogs().find(id);
        if (it != Dialogs().end()) it->second->Answered(inAnswer);
      });
      return noErr;
    }
    // Application-modal: our loop runs until the answer has been handled.
    auto done = std::make_shared<bool>(false);
    ++mBusy;
    UResponder::Ask(q, [id, done](const SAnswer& inAnswer) {
      auto it = Dialogs().find(id);
      if (it != Dialogs().end()) it->second->Answered(inAnswer);
      *done = true;
    });
    while (!*done && Dialogs().count(id)) UEventLoop::PassAndSleep(true);
    --mBusy;
    if (mDisposePending) delete this;
    return noErr;
  }

  void Dispose() {
    if (mDisposePending) return;
    if (mRunning) {
      mRunning = false;
      UNavPresenters::Dismiss(mID);
      mUserAction = kNavUserActionCancel;
      NavCBRec rec;
      rec.customRect = mCustomRect;
      ++mBusy;
      Send(kNavCBTerminate, rec);
      --mBusy;
    }
    DeleteWhenIdle(this);
  }

  OSStatus AddCustomArea(ResIDT inLayoutID) {
    if (mCustomArea) return kNavCustomControlMessageFailedErr;
    if (mKind != kind_PutFile && mKind != kind_GetFile) return kNavInvalidCustomControlMessageErr;
    LPane* top = nullptr;
    try {
      top = UReanimator::ReadObjects(inLayoutID, nullptr);
    } catch (const LException& e) {
      return e.GetErrorCode() ? static_cast<OSStatus>(e.GetErrorCode()) : kNavCustomControlMessageFailedErr;
    }
    mCustomArea = dynamic_cast<LView*>(top);
    if (!mCustomArea) {
      delete top;
      return kNavCustomControlMessageFailedErr;
    }
    for (PaneIDT item = 1;; ++item) {
      LPane* pane = mCustomArea->FindPaneByIDOrNil(item);
      if (!pane) break;
      if (auto* broadcaster = dynamic_cast<LBroadcaster*>(pane)) {
        mListeners.push_back(std::make_unique<NavItemListener>(this, item));
        broadcaster->AddListener(mListeners.back().get());
      }
    }
    return noErr;
  }

  void ItemOperated(PaneIDT inPaneID) {
    if (!mRunning) return;
    EventRecord event;
    event.what = mouseDown;
    NavCBRec rec;
    rec.customRect = mCustomRect;
    rec.eventData.event = &event;
    rec.eventData.itemHit = static_cast<SInt16>(kFirstCustomItem + inPaneID - 1);
    ++mBusy;
    Send(kNavCBEvent, rec);
    --mBusy;
    // A callback that disposed of the dialog: it goes once the broadcast is over.
    if (mDisposePending && mBusy == 0) {
      QTimer::singleShot(0, qApp, [id = mID] {
        auto it = Dialogs().find(id);
        if (it != Dialogs().end() && it->second->mBusy == 0) delete it->second;
      });
      UEventLoop::WakeUp();
    }
  }

  EDialogKind mKind;
  NavDialogCreationOptions mOptions;
  NavEventUPP mProc;
  void* mData;
  UInt32 mID;
  NavAskSaveChangesAction mSaveAction = kNavSaveChangesOther;
  UInt32 mDocumentCount = 0;
  NavObjectFilterProc mFilter;
  LView* mCustomArea = nullptr;
  std::vector<std::unique_ptr<NavItemListener>> mListeners;
  Rect mCustomRect = {0, 0, 0, 0};
  NavUserAction mUserAction = kNavUserActionNone;
  NavReplyRecord mReply;
  NavWindowEventHandler mWindowHandler;
  int mBusy = 0;
  Boolean mDisposePending = false;
  Boolean mRan = false;
  Boolean mRunning = false;
};

void NavItemListener::ListenToMessage(MessageT, void*) { mDialog->ItemOperated(mPaneID); }

namespace {

OSStatus Create(EDialogKind inKind, const NavDialogCreationOptions* inOptions, NavEventUPP inProc, void* inData,
                NavDialogRef* outDialog, NavDialog** outMade = nullptr) {
  if (!outDialog) return paramErr;
  *outDialog = nullptr;
  if (gFailNext != noErr) {
    OSStatus err = gFailNext;
    gFailNext = noErr;
    return err;
  }
  if (inOptions && inOptions->modality == kWindowModalityWindowModal && !inOptions->parentWindow) return paramErr;
  auto* dialog = new NavDialog(inKind, inOptions, inProc, inData);
  *outDialog = dialog;
  if (outMade) *outMade = dialog;
  return noErr;
}

NavDialog* Live(NavDialogRef inDialog) {
  if (!inDialog) return nullptr;
  for (auto& [id, dialog] : Dialogs())
    if (dialog == inDialog) return dialog->mDisposePending ? nullptr : dialog;
  return nullptr;
}

}  // namespace

OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* outOptions) {
  if (!outOptions) return paramErr;
  *outOptions = NavDialogCreationOptions();
  return noErr;
}

OSStatus NavCreatePutFileDialog(const NavDialogCreationOptions* inOptions, OSType, OSType, NavEventUPP inEventProc,
                                void* inCallbackData, NavDialogRef* outDialog) {
  return Create(kind_PutFile, inOptions, inEventProc, inCallbackData, outDialog);
}

OSStatus NavCreateGetFileDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                NavObjectFilterProc inFilter, void* inCallbackData, NavDialogRef* outDialog) {
  NavDialog* made = nullptr;
  OSStatus err = Create(kind_GetFile, inOptions, inEventProc, inCallbackData, outDialog, &made);
  if (made) made->mFilter = std::move(inFilter);
  return err;
}

OSStatus NavCreateChooseFolderDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                     void* inCallbackData, NavDialogRef* outDialog) {
  return Create(kind_ChooseFolder, inOptions, inEventProc, inCallbackData, outDialog);
}

OSStatus NavCreateChooseVolumeDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                     void* inCallbackData, NavDialogRef* outDialog) {
  return Create(kind_ChooseVolume, inOptions, inEventProc, inCallbackData, outDialog);
}

OSStatus NavCreateAskSaveChangesDialog(const NavDialogCreationOptions* inOptions, NavAskSaveChangesAction inAction,
                                       NavEventUPP inEventProc, void* inCallbackData, NavDialogRef* outDialog) {
  NavDialog* made = nullptr;
  OSStatus err = Create(kind_SaveChanges, inOptions, inEventProc, inCallbackData, outDialog, &made);
  if (made) made->mSaveAction = inAction;
  return err;
}

OSStatus NavCreateAskDiscardChangesDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                          void* inCallbackData, NavDialogRef* outDialog) {
  return Create(kind_Discard, inOptions, inEventProc, inCallbackData, outDialog);
}

OSStatus NavCreateAskReviewDocumentsDialog(const NavDialogCreationOptions* inOptions, UInt32 inDocumentCount,
                                           NavEventUPP inEventProc, void* inCallbackData, NavDialogRef* outDialog) {
  NavDialog* made = nullptr;
  OSStatus err = Create(kind_Review, inOptions, inEventProc, inCallbackData, outDialog, &made);
  if (made) made->mDocumentCount = inDocumentCount;
  return err;
}

OSStatus NavDialogRun(NavDialogRef inDialog) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog) return paramErr;
  return dialog->Run();
}

void NavDialogDispose(NavDialogRef inDialog) {
  if (NavDialog* dialog = Live(inDialog)) dialog->Dispose();
}

NavUserAction NavDialogGetUserAction(NavDialogRef inDialog) {
  NavDialog* dialog = Live(inDialog);
  return dialog ? dialog->mUserAction : kNavUserActionNone;
}

OSStatus NavDialogGetReply(NavDialogRef inDialog, NavReplyRecord* outReply) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog || !outReply) return paramErr;
  *outReply = dialog->mReply;
  return noErr;
}

OSStatus NavDisposeReply(NavReplyRecord* ioReply) {
  if (!ioReply) return paramErr;
  *ioReply = NavReplyRecord();
  return noErr;
}

OSStatus NavCustomControl(NavDialogRef inDialog, NavCustomControlMessage inSelector, void* ioParms) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog || !ioParms) return paramErr;
  switch (inSelector) {
    case kNavCtlAddControlList: return dialog->AddCustomArea(*static_cast<ResIDT*>(ioParms));
    case kNavCtlGetFirstControlID: *static_cast<SInt16*>(ioParms) = NavDialog::kFirstCustomItem; return noErr;
    case kNavCtlGetEditFileName: {
      if (dialog->mKind != kind_PutFile) return kNavInvalidCustomControlMessageErr;
      auto* reply = static_cast<NavReplyRecord*>(ioParms);
      *reply = dialog->mReply;
      reply->saveFileName = UNavPresenters::GetFileName(dialog->mID, dialog->mOptions.saveFileName);
      return noErr;
    }
    case kNavCtlSetEditFileName:
      if (dialog->mKind != kind_PutFile) return kNavInvalidCustomControlMessageErr;
      dialog->mOptions.saveFileName = *static_cast<std::string*>(ioParms);
      UNavPresenters::SetFileName(dialog->mID, dialog->mOptions.saveFileName);
      return noErr;
    default: return kNavInvalidCustomControlMessageErr;
  }
}

LWindow* NavDialogGetWindow(NavDialogRef inDialog) {
  NavDialog* dialog = Live(inDialog);
  return dialog ? dialog->Window() : nullptr;
}

LView* NavDialogGetCustomArea(NavDialogRef inDialog) {
  NavDialog* dialog = Live(inDialog);
  return dialog ? dialog->mCustomArea : nullptr;
}

LPane* NavDialogGetCustomItem(NavDialogRef inDialog, SInt16 inItemNumber) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog || !dialog->mCustomArea || inItemNumber < NavDialog::kFirstCustomItem) return nullptr;
  return dialog->mCustomArea->FindPaneByIDOrNil(inItemNumber - NavDialog::kFirstCustomItem + 1);
}

OSStatus NavDialogSetWindowEventHandler(NavDialogRef inDialog, NavWindowEventHandler inHandler) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog) return paramErr;
  dialog->mWindowHandler = std::move(inHandler);
  return noErr;
}

OSStatus NavDialogSendWindowEvent(NavDialogRef inDialog, UInt32 inEventKind) {
  NavDialog* dialog = Live(inDialog);
  if (!dialog) return paramErr;
  if (!dialog->mWindowHandler) return -9874;  // not handled
  NavWindowEventHandler handler = dialog->mWindowHandler;
  return handler(inEventKind);
}

Boolean NavDialogIsRunning(NavDialogRef inDialog) {
  NavDialog* dialog = Live(inDialog);
  return dialog && dialog->mRunning;
}

SInt32 NavCountDialogs() { return static_cast<SInt32>(Dialogs().size()); }

void NavFailNextCreation(OSStatus inErr) { gFailNext = inErr; }

// The real dialog tells its window's activation by the dialog's number.
void UNavPresenters::WindowEvent(UInt32 inDialogID, UInt32 inEventKind) {
  auto it = Dialogs().find(inDialogID);
  if (it != Dialogs().end()) NavDialogSendWindowEvent(it->second, inEventKind);
}
