// The base of every document: one document owns one document window and at
// most one file. Closing, saving, saving as and reverting ask the user
// through window-modal questions on the document window (answered later, as
// navigation messages 1100 and 1101), alerts are sheets on the window while
// it is visible and application alerts otherwise, and a queue of deferred
// procedures lets an answer start the next step after its question has
// gone. The window's proxy file and modified mark follow the document. During
// a quit each closed document closes the next one, from the event loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "platform/framework/LArray.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LPeriodical.h"
#include "platform/framework/LStr255.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/NavServices.h"
#include "platform/ui/UResponder.h"
#include "toolkit/CPostProcedure.h"

class CRegularWindow;
class CSingleDocument;
class LDocumentNavSheet;

// The document texts (STR# 5017): 1 save failed, 2 to 4 the explanations'
// words before the error code of note, caution and stop alerts.
constexpr SInt16 STRx_Documents = 5017;
constexpr SInt16 str_DocSaveFailed = 1;
constexpr SInt16 str_DocNoteCode = 2;
constexpr SInt16 str_DocCautionCode = 3;
constexpr SInt16 str_DocStopCode = 4;

// The navigation messages: a question's answer (1100) and its end (1101),
// both with a SDocNavAnswer* (the navigation sheets' own messages, whose
// NavCBRec* the document turns into its answer).
constexpr MessageT msg_NavUserAction = 1100;
constexpr MessageT msg_NavTerminate = 1101;

// The answers a navigation question gives (NavUserAction) and what a
// save-changes question is asked for come from the navigation dialogs.

// The deferred procedures of every document.
constexpr SInt32 proc_DocClose = 1;
constexpr SInt32 proc_DocSaveAs = 2;

// One answer of a navigation question. For a save-as answer the target is
// the chosen folder and the whole save name (never cut); `replacing` tells
// that the user agreed to replace an existing file of that name.
struct SDocNavAnswer {
  NavUserAction userAction = kNavUserActionNone;
  std::string folder;        // the folder's POSIX path
  std::string saveName;      // the file name (UTF-8)
  Boolean replacing = false;
  SInt32 choice = 0;         // the chosen option of the question (save format), 0: none
  Boolean valid = false;
};

// The question options a document may change before a file question opens.
struct SDocNavOptions {
  std::string windowTitle;
  std::string saveFileName;
  std::string actionButtonLabel;
  std::vector<std::string> choices;  // options shown with the question (save formats)
  SInt32 defaultChoice = 0;
  Boolean choicesEnabled = true;
  UInt32 optionFlags = 0x00C4;
};

// The periodical that knows every live document: once a second it brings
// their windows' proxy file and modified mark in step.
class CDocTester : public LPeriodical {
 public:
  CDocTester();
  ~CDocTester() override;

  void AddDocument(CSingleDocument* inDocument);
  void RemoveDocument(CSingleDocument* inDocument);
  Boolean FindDocument(CSingleDocument* inDocument) const;
  SInt32 CountDocuments() const { return mDocuments.GetCount(); }
  // The listed document whose window is the front document window (hidden
  // windows too when asked), or nil.
  CSingleDocument* FindTopDocument(Boolean inIncludeInvisible) const;

  void SpendTime(const EventRecord& inMacEvent) override;

 private:
  TArray<CSingleDocument*> mDocuments;
};

class CSingleDocument : public LCommander, public LListener, public CPostProcedure {
 public:
  CSingleDocument();
  // Leaves the document list and deletes the window. During a quit the next
  // front document is closed from the event loop (never from inside this
  // destructor).
  ~CSingleDocument() override;

  // The framework document: window, file, modified and specified states.
  CRegularWindow* GetWindow() const { return mWindow; }
  Boolean HasFile() const { return mHasFile; }
  const FSSpec& GetFileSpec() const { return mFileSpec; }
  // The folder of the document's file (also of a movie that cannot be saved in
  // place, such as an imported one), where its save and export dialogs start;
  // empty without a file.
  std::string GetFileFolder() const;
  virtual void SetFile(const FSSpec* inSpec);  // nil: no file
  virtual Boolean IsModified();
  virtual void SetModified(Boolean inModified);
  virtual Boolean IsSpecified();
  virtual void SetSpecified(Boolean inSpecified);
  virtual OSType GetFileType() const { return 'TEXT'; }
  // Deletes the document (and so its window) at once.
  virtual void Close();

  // Slots the document adds.
  virtual void Save() {}
  virtual void Print() {}
  virtual OSType GetDocumentID() const { return 0; }
  virtual void SetDescriptor(const LStr255& inTitle);
  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  virtual void NoteAlert(ConstStringPtr inText, SInt16 inCode);
  virtual void CautionAlert(ConstStringPtr inText, SInt16 inCode);
  virtual void StopAlert(ConstStringPtr inText, SInt16 inCode);
  virtual void InvokeNavUserAction(SDocNavAnswer* ioRecord);
  virtual void InvokeNavTerminate(SDocNavAnswer* ioRecord);
  virtual void OpenFile(FSSpec& /*inSpec*/) {}
  virtual void GetNavigationDialogOptions(SInt16 /*inMode*/, SDocNavOptions* /*ioOptions*/) {}
  // An alert sheet on the window (an application alert when the window is
  // hidden); the answer comes back as inReplyMessage (0: none) with the
  // chosen button's command ('ok  ', 'cncl', 'othr') as parameter.
  virtual void ShowAlertSheet(SInt16 inType, const std::string& inMessage, const std::string& inExplanation,
                              const std::string& inDefaultButton, const std::string& inCancelButton,
                              const std::string& inOtherButton, MessageT inReplyMessage);
  virtual void UpdateProxy();

  // The framework's document operations.
  virtual void AttemptClose(Boolean inRecordIt);
  virtual Boolean AskSaveAs(FSSpec& ioSpec, Boolean inRecordIt);
  virtual SInt16 AskSaveChanges(Boolean inQuitting);
  virtual SInt16 AskConfirmRevert();
  virtual void DoAESave(FSSpec& inSpec, OSType inFileType);
  virtual void DoSave();
  virtual void DoRevert() {}
  virtual void DoPrint();

  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;
  // The window asks its document before it goes: the document decides (it
  // may ask the user first) and deletes itself and the window later.
  Boolean AllowSubRemoval(LCommander* inSub) override;

  // Puts the suffix before the title's extension ("a.mov" + " 2" = "a 2.mov").
  static void AppendToDocTitle(LStr255& ioTitle, const LStr255& inSuffix);

  // Whether a question of the document's is open on its window.
  Boolean IsAsking() const { return mAsking > 0; }

  static Boolean sQuitting;
  static Boolean sDisregardChanges;
  static Boolean sAskClosing;
  static CDocTester& GetDocTester();
  // The modifier keys held now (tests set them; 0x0800 the Option key).
  static void SetCurrentKeyModifiers(UInt32 inModifiers) { sKeyModifiers = inModifiers; }
  static UInt32 GetCurrentKeyModifiers() { return sKeyModifiers; }

 protected:
  void PutOnDuty(LCommander* inNewTarget) override;
  void TakeOffDuty() override;
  void ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) override;

  // Asks the question window-modal on the document window (application-
  // modal when it has none); the answer arrives as 1100 then 1101.
  void AskNavQuestion(SQuestion& ioQuestion, NavUserAction inSaveAction);
  // Puts a navigation sheet on the document window and runs its dialog
  // (inAsk) on it; the answer arrives as 1100 then 1101. The question
  // names the document by its window's title.
  void AskNavSheet(
      const std::function<OSStatus(LDocumentNavSheet& ioSheet, const NavDialogCreationOptions& inOptions)>& inAsk);
  // Makes the target spec of a save-as answer: folder plus the whole name;
  // an invalid answer throws -1.
  static void MakeTargetSpec(const SDocNavAnswer& inRecord, FSSpec& outSpec);
  // The close that follows the end of a quit's document, from the event loop.
  static void CloseNextForQuit();

  CRegularWindow* mWindow = nullptr;
  FSSpec mFileSpec{};
  Boolean mHasFile = false;
  Boolean mIsModified = false;
  Boolean mIsSpecified = false;
  Boolean mCloseAfterSheet = false;
  Boolean mCloseAfterSaveAs = false;
  SInt32 mAsking = 0;
  // Cleared by the destructor, so that answers still on their way find the document gone.
  std::shared_ptr<Boolean> mAlive;

  static UInt32 sKeyModifiers;
};
