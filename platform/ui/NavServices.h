// File dialogs and the save-changes, discard-changes and review-documents
// questions, as dialog objects with one event callback: the dialog is made,
// run (window-modal on a parent window: the call returns at once; otherwise
// our event loop runs until it is answered), told the user's choice through
// the callback (kNavCBUserAction, then kNavCBTerminate) and disposed of by
// its owner.
//
// Every dialog asks through UResponder (scripted answers in tests, real Qt
// dialogs in the program). File dialogs may carry a custom area: panes read
// from a layout whose top pane is a view; its panes with ids 1, 2, 3… are the
// area's items, numbered from the first custom item number on. A control of
// the area that broadcasts reaches the callback as a kNavCBEvent (a mouse-down
// with the item number in eventData.itemHit).
//
// A dialog disposed of from inside its own callback is deleted once the
// callback has returned.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/framework/Events.h"

class LView;
class LPane;
class LWindow;
class NavDialog;
typedef NavDialog* NavDialogRef;

typedef UInt32 NavUserAction;
constexpr NavUserAction kNavUserActionNone = 0;
constexpr NavUserAction kNavUserActionCancel = 1;
constexpr NavUserAction kNavUserActionOpen = 2;
constexpr NavUserAction kNavUserActionSaveAs = 3;
constexpr NavUserAction kNavUserActionChoose = 4;
constexpr NavUserAction kNavUserActionNewFolder = 5;
constexpr NavUserAction kNavUserActionSaveChanges = 6;
constexpr NavUserAction kNavUserActionDontSaveChanges = 7;
constexpr NavUserAction kNavUserActionDiscardChanges = 8;
constexpr NavUserAction kNavUserActionReviewDocuments = 9;
constexpr NavUserAction kNavUserActionDiscardDocuments = 10;

typedef SInt32 NavEventCallbackMessage;
constexpr NavEventCallbackMessage kNavCBEvent = 0;
constexpr NavEventCallbackMessage kNavCBCustomize = 1;
constexpr NavEventCallbackMessage kNavCBStart = 2;
constexpr NavEventCallbackMessage kNavCBTerminate = 3;
constexpr NavEventCallbackMessage kNavCBUserAction = 12;

typedef UInt32 NavAskSaveChangesAction;
constexpr NavAskSaveChangesAction kNavSaveChangesOther = 0;
constexpr NavAskSaveChangesAction kNavSaveChangesClosingDocument = 1;
constexpr NavAskSaveChangesAction kNavSaveChangesQuittingApplication = 2;

typedef UInt32 WindowModality;
constexpr WindowModality kWindowModalityNone = 0;
constexpr WindowModality kWindowModalityAppModal = 2;
constexpr WindowModality kWindowModalityWindowModal = 3;

// Option flags (only those the program sets are acted on).
constexpr UInt32 kNavDontAddTranslateItems = 0x00000002;
constexpr UInt32 kNavAllowStationery = 0x00000010;
constexpr UInt32 kNavAllowMultipleFiles = 0x00000080;
constexpr UInt32 kNavNoTypePopup = 0x00000040;
constexpr UInt32 kNavPreserveSaveFileExtension = 0x00000400;
constexpr UInt32 kNavDefaultNavDlogOptions = 0x000000E4;

typedef SInt16 NavCustomControlMessage;
// parms: ResIDT* the layout of the custom area (top pane a view).
constexpr NavCustomControlMessage kNavCtlAddControlList = 19;
// parms: SInt16* the item number of the area's item 1.
constexpr NavCustomControlMessage kNavCtlGetFirstControlID = 20;
// parms: NavReplyRecord* as the dialog would answer now (put-file: the name typed).
constexpr NavCustomControlMessage kNavCtlGetEditFileName = 35;
// parms: std::string* the name shown in the put-file dialog's name field.
constexpr NavCustomControlMessage kNavCtlSetEditFileName = 36;

constexpr OSStatus kNavInvalidSystemConfigErr = -5696;
constexpr OSStatus kNavCustomControlMessageFailedErr = -5697;
constexpr OSStatus kNavInvalidCustomControlMessageErr = -5698;
constexpr OSStatus kNavMissingKindStringErr = -5699;

struct NavDialogCreationOptions {
  UInt16 version = 0;
  UInt32 optionFlags = kNavDefaultNavDlogOptions;
  Point location = {-1, -1};
  std::string clientName;
  std::string windowTitle;
  std::string actionButtonLabel;
  std::string cancelButtonLabel;
  std::string saveFileName;
  std::string message;
  UInt32 preferenceKey = 0;
  // Open dialogs: the file-type popup; each entry is a name filter such as
  // "Movies (*.mov *.mp4)". The reply's filterIndex tells the one chosen.
  std::vector<std::string> popupExtension;
  WindowModality modality = kWindowModalityAppModal;
  LWindow* parentWindow = nullptr;
};

struct NavEventData {
  EventRecord* event = nullptr;
  SInt16 itemHit = 0;  // the custom item the user operated (0: none)
};

struct NavCBRec {
  UInt16 version = 0;
  NavDialogRef context = nullptr;
  LWindow* window = nullptr;  // the parent window
  Rect customRect = {0, 0, 0, 0};
  NavEventData eventData;
  NavUserAction userAction = kNavUserActionNone;
};
typedef NavCBRec* NavCBRecPtr;

typedef void (*NavEventProcPtr)(NavEventCallbackMessage inMessage, NavCBRecPtr inParams, void* inCallbackData);
typedef NavEventProcPtr NavEventUPP;
// Open dialogs: whether an item is shown (true) or hidden.
typedef std::function<Boolean(const FSSpec& inItem, Boolean inIsFolder)> NavObjectFilterProc;

struct NavReplyRecord {
  UInt16 version = 0;
  Boolean validRecord = false;
  // Put-file: the chosen name exists already and the user agreed to replace it.
  Boolean replacing = false;
  Boolean isStationery = false;
  Boolean translationNeeded = false;
  // Open: the files; put-file: the folder (the name is saveFileName); choose
  // folder or volume: the folder.
  std::vector<FSSpec> selection;
  std::vector<std::string> paths;  // the same as POSIX paths (put-file: the full path)
  std::string saveFileName;
  SInt16 filterIndex = 0;  // the type-popup entry chosen (1-based; 0: none)
};

OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* outOptions);

OSStatus NavCreatePutFileDialog(const NavDialogCreationOptions* inOptions, OSType inFileType, OSType inCreator,
                                NavEventUPP inEventProc, void* inCallbackData, NavDialogRef* outDialog);
OSStatus NavCreateGetFileDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                NavObjectFilterProc inFilter, void* inCallbackData, NavDialogRef* outDialog);
OSStatus NavCreateChooseFolderDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                     void* inCallbackData, NavDialogRef* outDialog);
// The folder chosen is reported as the volume that holds it.
OSStatus NavCreateChooseVolumeDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                     void* inCallbackData, NavDialogRef* outDialog);
OSStatus NavCreateAskSaveChangesDialog(const NavDialogCreationOptions* inOptions, NavAskSaveChangesAction inAction,
                                       NavEventUPP inEventProc, void* inCallbackData, NavDialogRef* outDialog);
OSStatus NavCreateAskDiscardChangesDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                          void* inCallbackData, NavDialogRef* outDialog);
OSStatus NavCreateAskReviewDocumentsDialog(const NavDialogCreationOptions* inOptions, UInt32 inDocumentCount,
                                           NavEventUPP inEventProc, void* inCallbackData, NavDialogRef* outDialog);

// Customises (kNavCBCustomize, until the area's size is agreed), starts
// (kNavCBStart) and asks. Window-modal: returns at once; else runs our event
// loop until the answer has been handled. A dialog runs once.
OSStatus NavDialogRun(NavDialogRef inDialog);
// Deletes the dialog (later, when inside its own callback). A dialog still
// asking is closed and its callback told kNavCBTerminate first.
void NavDialogDispose(NavDialogRef inDialog);
NavUserAction NavDialogGetUserAction(NavDialogRef inDialog);
OSStatus NavDialogGetReply(NavDialogRef inDialog, NavReplyRecord* outReply);
OSStatus NavDisposeReply(NavReplyRecord* ioReply);
OSStatus NavCustomControl(NavDialogRef inDialog, NavCustomControlMessage inSelector, void* ioParms);

// The dialog's parent window (nil for application-modal dialogs).
LWindow* NavDialogGetWindow(NavDialogRef inDialog);
// The custom area (nil when none was added) and one of its items by number.
LView* NavDialogGetCustomArea(NavDialogRef inDialog);
LPane* NavDialogGetCustomItem(NavDialogRef inDialog, SInt16 inItemNumber);
// Window events of the dialog's window (5 activated, 6 deactivated) go to
// the handler; nil removes it.
typedef std::function<OSStatus(UInt32 inEventKind)> NavWindowEventHandler;
OSStatus NavDialogSetWindowEventHandler(NavDialogRef inDialog, NavWindowEventHandler inHandler);
// The dialog's window was activated or deactivated (the real dialog, or a test).
OSStatus NavDialogSendWindowEvent(NavDialogRef inDialog, UInt32 inEventKind);
// Whether the dialog is still waiting for its answer.
Boolean NavDialogIsRunning(NavDialogRef inDialog);
// How many dialogs exist (tests: nothing leaks).
SInt32 NavCountDialogs();
// Tests: the next dialog creation fails with the code.
void NavFailNextCreation(OSStatus inErr);
