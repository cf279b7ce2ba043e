#include "toolkit/UNavigation.h"

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "toolkit/CNavEventResponder.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/UMessage.h"

NavEventUPP UNavigation::sNavEventUPP = &UNavigation::NavEventProc;

namespace {
OSStatus gFailNextRun = noErr;
}

void UNavigationFailNextRun(OSStatus inErr) { gFailNextRun = inErr; }

void UNavigation::Init() { sNavEventUPP = &UNavigation::NavEventProc; }

void UNavigation::ReportFailure(OSStatus inErr) {
  Str255 text;
  CopyCStringToPascal("Navigation dialog failed!", text);
  try {
    UMessage::StopAlert(text, static_cast<SInt16>(inErr));
  } catch (...) {
    LogCurrentException("navigation", "ReportFailure");
  }
}

NavUserAction UNavigation::AskReviewDocuments(const NavDialogCreationOptions& inOptions, UInt32 inDocumentCount) {
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateAskReviewDocumentsDialog(&inOptions, inDocumentCount, nullptr, nullptr, &dialog);
  if (err == noErr && gFailNextRun != noErr) {
    err = gFailNextRun;
    gFailNextRun = noErr;
  }
  if (err == noErr) err = NavDialogRun(dialog);
  if (err != noErr) {
    ReportFailure(err);
    if (dialog) NavDialogDispose(dialog);
    return 0;
  }
  // The answer is read before the dialog goes.
  NavUserAction action = NavDialogGetUserAction(dialog);
  NavDialogDispose(dialog);
  return action;
}

OSStatus UNavigation::Start(CNavEventResponder& inResponder, NavDialogRef inDialog, OSStatus inCreateErr,
                            const NavDialogCreationOptions& inOptions) {
  OSStatus err = inCreateErr;
  if (err == noErr) {
    // The responder has its dialog before the first callback.
    inResponder.SetNavDialog(inDialog);
    if (inOptions.modality == kWindowModalityWindowModal) err = InstallSheetEventHandler(inDialog, inOptions.parentWindow);
  }
  if (err == noErr && gFailNextRun != noErr) {
    err = gFailNextRun;
    gFailNextRun = noErr;
  }
  if (err == noErr) err = NavDialogRun(inDialog);
  if (err != noErr) {
    ReportFailure(err);
    // Disposed of here, so the responder must not dispose of it again.
    if (inDialog && inResponder.GetNavDialog() == inDialog) inResponder.SetNavDialog(nullptr);
    if (inDialog) NavDialogDispose(inDialog);
  }
  return err;
}

OSStatus UNavigation::AskDiscardChanges(CNavEventResponder& inResponder, const NavDialogCreationOptions& inOptions) {
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateAskDiscardChangesDialog(&inOptions, sNavEventUPP, &inResponder, &dialog);
  return Start(inResponder, dialog, err, inOptions);
}

OSStatus UNavigation::AskSaveChanges(CNavEventResponder& inResponder, NavAskSaveChangesAction inAction,
                                     const NavDialogCreationOptions& inOptions) {
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateAskSaveChangesDialog(&inOptions, inAction, sNavEventUPP, &inResponder, &dialog);
  return Start(inResponder, dialog, err, inOptions);
}

OSStatus UNavigation::AskDesignateFile(CNavEventResponder& inResponder, OSType inFileType, OSType inCreator,
                                       const NavDialogCreationOptions& inOptions) {
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreatePutFileDialog(&inOptions, inFileType, inCreator, sNavEventUPP, &inResponder, &dialog);
  return Start(inResponder, dialog, err, inOptions);
}

OSStatus UNavigation::AskChooseFile(CNavEventResponder& inResponder, const NavDialogCreationOptions& inOptions,
                                    NavObjectFilterProc inFilter) {
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateGetFileDialog(&inOptions, sNavEventUPP, std::move(inFilter), &inResponder, &dialog);
  return Start(inResponder, dialog, err, inOptions);
}

NavUserAction UNavigation::AskChooseFileModal(const NavDialogCreationOptions& inOptions, NavObjectFilterProc inFilter,
                                              NavReplyRecord& outReply) {
  outReply = NavReplyRecord();
  NavDialogCreationOptions options = inOptions;
  options.modality = kWindowModalityAppModal;
  options.parentWindow = nullptr;
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateGetFileDialog(&options, nullptr, std::move(inFilter), nullptr, &dialog);
  if (err == noErr) err = NavDialogRun(dialog);
  if (err != noErr) {
    ReportFailure(err);
    if (dialog) NavDialogDispose(dialog);
    return 0;
  }
  NavUserAction action = NavDialogGetUserAction(dialog);
  NavDialogGetReply(dialog, &outReply);
  NavDialogDispose(dialog);
  return action;
}

OSStatus UNavigation::InstallSheetEventHandler(NavDialogRef inDialog, LWindow* inParentWindow) {
  if (!NavDialogGetWindow(inDialog)) return 'nilP';
  return NavDialogSetWindowEventHandler(
      inDialog, [inParentWindow](UInt32 inKind) { return ProcessWindowEvents(inKind, inParentWindow); });
}

OSStatus UNavigation::ProcessWindowEvents(UInt32 inEventKind, LWindow* inParentWindow) {
  if (inEventKind != kEventWindowActivated && inEventKind != kEventWindowDeactivated) return eventNotHandledErr;
  if (auto* window = dynamic_cast<CRegularWindow*>(inParentWindow)) window->BroadcastWindowEvent(inEventKind);
  return noErr;
}

void UNavigation::NavEventProc(NavEventCallbackMessage inMessage, NavCBRecPtr inParams, void* inCallbackData) {
  auto* responder = static_cast<CNavEventResponder*>(inCallbackData);
  if (!responder) return;
  try {
    switch (inMessage) {
      case kNavCBEvent: responder->InvokeNavEvent(inParams); break;
      case kNavCBCustomize: responder->InvokeNavCustomize(inParams); break;
      case kNavCBStart: responder->InvokeNavStart(inParams); break;
      case kNavCBTerminate:
        if (!responder->IsClosing()) responder->InvokeNavTerminate(inParams);
        break;
      case kNavCBUserAction:
        if (!responder->IsClosing()) responder->InvokeNavUserAction(inParams);
        break;
      default: break;
    }
  } catch (...) {
    LogCurrentException("navigation", "NavEventProc");
  }
}
