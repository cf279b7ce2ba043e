// The navigation dialogs the documents and the application need: the
// review-documents question at quitting (application-modal), and the
// discard-changes, save-changes and put-file ("designate file") dialogs as
// sheets of a document window, whose callbacks reach a CNavEventResponder.
// Any failure shows the stop alert "Navigation dialog failed!" with the code.
#pragma once

#include "platform/ui/NavServices.h"

class CNavEventResponder;
class LWindow;

class UNavigation {
 public:
  // The one event callback of every dialog with a responder.
  static NavEventUPP sNavEventUPP;

  static void Init();

  // Asks, runs our event loop until answered and returns the user's action
  // (kNavUserActionReviewDocuments, kNavUserActionDiscardDocuments or
  // kNavUserActionCancel); 0 after a failure. The dialog has no callback.
  static NavUserAction AskReviewDocuments(const NavDialogCreationOptions& inOptions, UInt32 inDocumentCount);

  // Each makes its dialog with the responder as callback data, gives it to
  // the responder (which disposes of it), installs the sheet event handler
  // for the options' parent window and runs it: as a sheet of that window
  // the call returns at once, and the answer arrives through the
  // responder's InvokeNavUserAction, then InvokeNavTerminate. On failure
  // the responder is left without a dialog and the result is the error.
  static OSStatus AskDiscardChanges(CNavEventResponder& inResponder, const NavDialogCreationOptions& inOptions);
  static OSStatus AskSaveChanges(CNavEventResponder& inResponder, NavAskSaveChangesAction inAction,
                                 const NavDialogCreationOptions& inOptions);
  static OSStatus AskDesignateFile(CNavEventResponder& inResponder, OSType inFileType, OSType inCreator,
                                   const NavDialogCreationOptions& inOptions);
  // An open dialog (files; the options' popupExtension is its type popup).
  static OSStatus AskChooseFile(CNavEventResponder& inResponder, const NavDialogCreationOptions& inOptions,
                                NavObjectFilterProc inFilter = nullptr);

  // Application-modal open dialog: runs our loop until answered; the reply
  // is valid for kNavUserActionOpen.
  static NavUserAction AskChooseFileModal(const NavDialogCreationOptions& inOptions, NavObjectFilterProc inFilter,
                                          NavReplyRecord& outReply);

  // The parent window activates and deactivates with its sheet ('nilP' when
  // the dialog has no window).
  static OSStatus InstallSheetEventHandler(NavDialogRef inDialog, LWindow* inParentWindow);
  // Window events 5 (activated) and 6 (deactivated) go to the parent
  // window (noErr); others are not handled (eventNotHandledErr).
  static OSStatus ProcessWindowEvents(UInt32 inEventKind, LWindow* inParentWindow);
  // Dispatches a dialog's callback to the responder in inCallbackData;
  // exceptions thrown by the responder are dropped.
  static void NavEventProc(NavEventCallbackMessage inMessage, NavCBRecPtr inParams, void* inCallbackData);

 private:
  static OSStatus Start(CNavEventResponder& inResponder, NavDialogRef inDialog, OSStatus inCreateErr,
                        const NavDialogCreationOptions& inOptions);
  static void ReportFailure(OSStatus inErr);
};

// Tests: the next dialog run fails with the code (after the dialog was made).
void UNavigationFailNextRun(OSStatus inErr);
