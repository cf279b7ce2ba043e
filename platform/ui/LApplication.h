// The application object: the top commander, and the one who runs the event
// loop. Run() starts the program (documents given at launch are opened, else
// StartUp), then passes of the event loop until the program quits.
// ProcessNextEvent is one pass and may be called from inside a pass (progress
// procedures do): it then handles what is pending without sleeping.
#pragma once

#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LPeriodical.h"

class LMenuBar;

enum EProgramState {
  programState_StartingUp,
  programState_ProcessingEvents,
  programState_Quitting,
};

// How AttemptQuit may close modified documents.
constexpr SInt32 kAESaveOptionAsk = 'ask ';
constexpr SInt32 kAEYesSaveOption = 'yes ';
constexpr SInt32 kAENoSaveOption = 'no  ';

class LApplication : public LCommander {
 public:
  LApplication();
  ~LApplication() override;

  static LApplication* GetApplication() { return sApplication; }

  // Runs the program: Initialize, the launch files or StartUp, then events
  // until quit. Failures inside a pass end in an alert, not in the loop's end.
  virtual void Run();
  // One pass of the event loop (Qt events, timers, periodicals, threads).
  // Re-entrant: a nested call does not sleep.
  virtual void ProcessNextEvent();
  EProgramState GetState() const { return mState; }
  // Ends Run when AttemptQuit allows it.
  virtual void SendAEQuit(SInt32 inSaveOption = kAESaveOptionAsk);
  virtual Boolean AttemptQuit(SInt32 inSaveOption);
  virtual void DoQuit(SInt32 inSaveOption = kAESaveOptionAsk);

  // Launch files: opened by Run before the loop starts.
  void SetLaunchFiles(const std::vector<FSSpec>& inFiles, Boolean inPrint = false);
  // The open-documents and print-documents events.
  virtual void HandleOpenDocuments(const std::vector<FSSpec>& inFiles);
  virtual void HandlePrintDocuments(const std::vector<FSSpec>& inFiles);

  // The menu bar (owned).
  LMenuBar* GetMenuBar() const { return mMenuBar; }
  void SetMenuBar(LMenuBar* inMenuBar);

  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;

  // Overridden by the program.
  virtual void Initialize();
  virtual void StartUp();
  virtual void ShowAboutBox();
  virtual void OpenDocument(FSSpec* inMacFSSpec);
  virtual void PrintDocument(FSSpec* inMacFSSpec);

 protected:
  // Synthetic commands (menu items without a command number).
  virtual Boolean ObeySyntheticCommand(SInt16 inMenuID, SInt16 inItem);

  EProgramState mState = programState_StartingUp;
  LMenuBar* mMenuBar = nullptr;
  std::vector<FSSpec> mLaunchFiles;
  Boolean mLaunchPrint = false;
  SInt32 mPassDepth = 0;

 private:
  static LApplication* sApplication;
};

// An application with documents: New, Open, Print and Quit go through its
// MakeNewDocument / ChooseDocument / OpenDocument / PrintDocument.
class LDocApplication : public LApplication {
 public:
  LDocApplication();
  ~LDocApplication() override;

  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;
  // Returns the new document's commander (nil: none made).
  virtual LCommander* MakeNewDocument();
  virtual void ChooseDocument();
  virtual void OpenOrPrintDocList(const std::vector<FSSpec>& inFiles, Boolean inPrint);
  void HandleOpenDocuments(const std::vector<FSSpec>& inFiles) override;
  void HandlePrintDocuments(const std::vector<FSSpec>& inFiles) override;
};
