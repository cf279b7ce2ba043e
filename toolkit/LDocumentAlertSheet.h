// A standard alert as a sheet on its document window: a message, an
// explanation and up to three buttons (default 'ok  ', cancel 'not!', other
// 'othr'). The button pressed is broadcast, at a later pass of the event
// loop, to this sheet's own listeners only, as the reply message with a
// pointer to the button's command (OSType); no broadcast when the reply
// message is 0. The sheet then releases itself.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/Alerts.h"
#include "toolkit/LSheet.h"

struct SQuestion;
struct SAnswer;

class LDocumentAlertSheet : public LDocumentSheet {
 public:
  // An empty default text shows "OK"; empty cancel and other texts leave
  // those buttons out.
  LDocumentAlertSheet(LListener* inListener, AlertType inAlertType, const std::string& inMessage,
                      const std::string& inExplanation, const std::string& inDefaultText,
                      const std::string& inCancelText, const std::string& inOtherText, MessageT inReplyMessage);
  // Closes the alert when still open (nothing is broadcast then) and tells
  // the listeners (msg_SheetReleased).
  ~LDocumentAlertSheet() override;

  void Show() override;
  void Hide() override;

  // Answers as the button with that command would, at once: broadcasts the
  // reply and releases the sheet (other commands: eventNotHandledErr, -9874).
  OSStatus ProcessAlertCommand(OSType inCommand);

  MessageT GetReplyMessage() const { return mReplyMessage; }
  Boolean IsAlertOpen() const { return mOpen; }
  // The desktop's dialog of the alert (USheetWindows::GetAlertWidget).
  SInt32 GetAlertID() const { return mAlertID; }

 protected:
  SInt32 mAlertID = 0;
  MessageT mReplyMessage;
  Boolean mOpen = true;
  bool* mDeletedFlag = nullptr;
  SInt32 mHandlerDepth = 0;
  struct {
    AlertType type = kAlertNoteAlert;
    std::string message, explanation, defaultText, cancelText, otherText;
  } mPending;
};

// Everything that asks the user a question with buttons (alerts, save
// changes, discard changes) through UResponder while a document window is
// visible: the question becomes an alert sheet on that window. Without a
// visible document window it is an application-modal alert.
class LAlertSheet {
 public:
  // Installs the presenters of those questions (done once when the program
  // starts; again after a UResponder::Reset).
  static void InstallPresenters();
  // Presents one question (what the presenters do).
  static void Present(const SQuestion& inQuestion, std::function<void(const SAnswer&)> inReply);
};
