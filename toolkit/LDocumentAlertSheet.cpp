#include "toolkit/LDocumentAlertSheet.h"

#include "platform/framework/LListener.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/USheetWindows.h"
#include "toolkit/CRegularWindow.h"

LDocumentAlertSheet::LDocumentAlertSheet(LListener* inListener, AlertType inAlertType, const std::string& inMessage,
                                         const std::string& inExplanation, const std::string& inDefaultText,
                                         const std::string& inCancelText, const std::string& inOtherText,
                                         MessageT inReplyMessage)
    : LDocumentSheet(inListener), mReplyMessage(inReplyMessage) {
  // The dialog is made for its window when the sheet is first shown; the
  // texts wait here until then.
  mPending.type = inAlertType;
  mPending.message = inMessage;
  mPending.explanation = inExplanation;
  mPending.defaultText = inDefaultText;
  mPending.cancelText = inCancelText;
  mPending.otherText = inOtherText;
}

LDocumentAlertSheet::~LDocumentAlertSheet() {
  if (mDeletedFlag) *mDeletedFlag = true;
  if (mParentWindow) mParentWindow->RemoveSheet(this);
  if (mShown) Hide();
  if (mAlertID) USheetWindows::CloseAlert(mAlertID);
  mAlertID = 0;
  BroadcastMessage(msg_SheetReleased, static_cast<LSheet*>(this));
}

void LDocumentAlertSheet::Show() {
  if (mShown || !mParentWindow || !mOpen) return;
  LSheet::Show();
  if (!mAlertID) {
    // Each dialog answers its own sheet, whichever window it is on.
    LDocumentAlertSheet* self = this;
    mAlertID = USheetWindows::NewAlert(mParentWindow, mPending.type, mPending.message, mPending.explanation,
                                       mPending.defaultText, mPending.cancelText, mPending.otherText,
                                       [self](OSType inCommand) { self->ProcessAlertCommand(inCommand); });
  }
  USheetWindows::ShowAlert(mAlertID);
  SetUpdateCommandStatus(true);
}

void LDocumentAlertSheet::Hide() {
  if (!mShown) return;
  LSheet::Hide();
  if (mAlertID) USheetWindows::HideAlert(mAlertID);
}

OSStatus LDocumentAlertSheet::ProcessAlertCommand(OSType inCommand) {
  if (inCommand != kAlertCommandDefault && inCommand != kAlertCommandCancel && inCommand != kAlertCommandOther)
    return eventNotHandledErr;
  if (!mOpen) return noErr;
  mOpen = false;
  if (mAlertID) {
    USheetWindows::CloseAlert(mAlertID);
    mAlertID = 0;
  }
  // The listener may delete the sheet (or its window) while it hears the reply.
  {
    StSheetHandler handler(mHandlerDepth, mDeletedFlag);
    OSType command = inCommand;
    if (mReplyMessage != msg_Nothing) BroadcastMessage(mReplyMessage, &command);
    if (handler.Deleted()) return noErr;
  }
  Release();
  return noErr;
}

// ---------------------------------------------------------------------------
// Questions as alert sheets

namespace {

constexpr MessageT msg_QuestionReply = 'ansr';

// The three buttons of an alert and the choices of the question they stand for.
struct SButtonMap {
  SInt32 defaultChoice = 1;
  SInt32 cancelChoice = 0;
  SInt32 otherChoice = 0;
  std::string defaultText, cancelText, otherText;
};

SButtonMap MapButtons(const SQuestion& inQ) {
  SButtonMap map;
  const SInt32 count = static_cast<SInt32>(inQ.choices.size());
  auto text = [&](SInt32 inChoice) { return inChoice >= 1 && inChoice <= count ? inQ.choices[inChoice - 1] : std::string(); };
  // Without choices the one button is OK, choice 1.
  map.defaultChoice = inQ.defaultChoice >= 1 && inQ.defaultChoice <= count ? inQ.defaultChoice : 1;
  map.cancelChoice = inQ.cancelChoice >= 1 && inQ.cancelChoice <= count && inQ.cancelChoice != map.defaultChoice ? inQ.cancelChoice : 0;
  for (SInt32 c = 1; c <= count; ++c)
    if (c != map.defaultChoice && c != map.cancelChoice) {
      map.otherChoice = c;
      break;
    }
  map.defaultText = text(map.defaultChoice);
  map.cancelText = text(map.cancelChoice);
  map.otherText = text(map.otherChoice);
  return map;
}

SAnswer AnswerFor(const SButtonMap& inMap, OSType inCommand) {
  if (inCommand == kAlertCommandCancel) {
    SAnswer a = SAnswer::Choice(inMap.cancelChoice);
    a.cancelled = true;
    return a;
  }
  return SAnswer::Choice(inCommand == kAlertCommandOther ? inMap.otherChoice : inMap.defaultChoice);
}

// An alert shows the kind it was asked as; the questions about changes are cautions.
AlertType AlertTypeOf(const SQuestion& inQ) {
  if (inQ.kind != question_Alert) return kAlertCautionAlert;
  switch (inQ.alertType) {
    case kAlertStopAlert:
    case kAlertNoteAlert:
    case kAlertCautionAlert:
    case kAlertPlainAlert: return inQ.alertType;
    default: return kAlertNoteAlert;
  }
}

// Hears its sheet's reply once, then its end; a sheet that goes unanswered
// (its window closed) is answered as cancelled.
class QuestionListener : public LListener {
 public:
  QuestionListener(SButtonMap inMap, UResponder::Reply inReply) : mMap(std::move(inMap)), mReply(std::move(inReply)) {}
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    if (inMessage == msg_QuestionReply && ioParam) {
      Answer(AnswerFor(mMap, *static_cast<OSType*>(ioParam)));
    } else if (inMessage == msg_SheetReleased) {
      Answer(SAnswer::Cancel());
      delete this;
    }
  }

 private:
  void Answer(const SAnswer& inAnswer) {
    if (!mReply) return;
    UResponder::Reply reply = std::move(mReply);
    mReply = nullptr;
    reply(inAnswer);
  }
  SButtonMap mMap;
  UResponder::Reply mReply;
};

}  // namespace

void LAlertSheet::Present(const SQuestion& inQuestion, std::function<void(const SAnswer&)> inReply) {
  SButtonMap map = MapButtons(inQuestion);
  auto* window = dynamic_cast<CRegularWindow*>(inQuestion.parent);
  if (window && window->GetVisibleState()) {
    auto* listener = new QuestionListener(map, std::move(inReply));
    auto* sheet = new LDocumentAlertSheet(listener, AlertTypeOf(inQuestion), inQuestion.message, inQuestion.explanation,
                                          map.defaultText, map.cancelText, map.otherText, msg_QuestionReply);
    window->AddSheet(sheet, true);
    return;
  }
  // No document window to hang on: an application-modal alert.
  auto id = std::make_shared<SInt32>(0);
  *id = USheetWindows::NewAlert(nullptr, AlertTypeOf(inQuestion), inQuestion.message, inQuestion.explanation,
                                map.defaultText, map.cancelText, map.otherText,
                                [map, inReply, id](OSType inCommand) {
                                  USheetWindows::CloseAlert(*id);
                                  if (inReply) inReply(AnswerFor(map, inCommand));
                                });
  USheetWindows::ShowAlert(*id);
}

void LAlertSheet::InstallPresenters() {
  for (EQuestion kind : {question_Alert, question_SaveChanges, question_DiscardChanges})
    UResponder::SetPresenter(kind, [](const SQuestion& inQuestion, UResponder::Reply inReply) {
      Present(inQuestion, std::move(inReply));
    });
}

namespace {
// The program asks its questions as sheets from the start: the presenters
// only act once the responder is interactive (tests answer from scripts and
// reset the presenters they set).
const bool sPresentersInstalled = [] {
  LAlertSheet::InstallPresenters();
  return true;
}();
}  // namespace
