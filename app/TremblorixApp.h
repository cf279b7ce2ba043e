// The application object of Tremblorix: starts and stops every service in
// its order, registers the layout classes, answers the application's menu
// commands (open, new from the clipboard, recent files, the Window and Help
// menus, the export-tasks window, the about box), opens movie files by their
// type and decides how quitting proceeds while movies are modified.
#pragma once

#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "platform/framework/LPeriodical.h"
#include "platform/ui/LApplication.h"
#include "platform/ui/LPane.h"

class CAppDocument;

// Application commands.
// (Clear Recent is cmd_ClearRecentFiles, the export-tasks window's item
// cmd_ExportTasksWindow: the parts that answer them name them.)
constexpr CommandT cmd_RecentFilesItem = 1021;
constexpr CommandT cmd_AppAccepted201 = 201;
constexpr CommandT cmd_AppAccepted6150 = 6150;
constexpr CommandT cmd_AppAccepted20000 = 20000;

constexpr SInt16 STRx_Application = 5020;
constexpr SInt16 MENU_Help = 131;
constexpr SInt16 MBAR_Application = 128;
constexpr SInt16 MENU_File = 128;
constexpr SInt16 MENU_Movie = 130;
constexpr SInt16 MENU_View = 132;
constexpr ResIDT PPob_AboutBox = 601;
constexpr PaneIDT kAboutVersionPane = 13;
constexpr MessageT msg_AboutWebPage = 10;
constexpr MessageT msg_AboutSupportMail = 12;

// The first Help-menu item the application added (its three items follow
// from here).
extern SInt16 gHelpMenuItemIndex;

// The steps of start-up, in their order.
enum EStartStep {
  startStep_VectorUnit = 1,
  startStep_TextEngine,
  startStep_Movies,
  startStep_WindowMenu,
  startStep_FileUtils,
  startStep_ExportClient,
  startStep_HelpBook,
  startStep_HelpMenu,
  startStep_HelpTracker,
  startStep_Preferences,
  startStep_MainThread,
  startStep_Yield,
  startStep_Repeater,
  startStep_QuickStart,
  startStep_Count = startStep_QuickStart
};

class TremblorixApp : public LDocApplication, public LPeriodical {
 public:
  TremblorixApp();
  ~TremblorixApp() override;

  static TremblorixApp* sApplication;
  // The application flag of the settings resource (kept as read).
  static UInt8 sOpenMovie;

  // Handles what is pending (progress procedures of long operations call it).
  static void ProcessEvents();

  // Initialize, the launch files (or StartUp), then events until quit. A
  // failed start-up ends Run after its alert, with GetExitCode() 1.
  void Run() override;
  int GetExitCode() const { return mExitCode; }

  Boolean AttemptQuit(SInt32 inSaveOption) override;
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;
  void ShowAboutBox() override;
  void StartUp() override;
  void Initialize() override;
  void OpenDocument(FSSpec* inMacFSSpec) override;
  void PrintDocument(FSSpec* inMacFSSpec) override;
  LCommander* MakeNewDocument() override;
  void ChooseDocument() override;
  void SpendTime(const EventRecord& inMacEvent) override;
  virtual void WritePrefs(FSSpec* inSpec);
  virtual void ReadPrefs(FSSpec* inSpec);

  // The about box; with the start-up flag it does nothing.
  void DoAbout(Boolean inStartUp);
  // Registers every layout class the bundle's layouts use, in order.
  static void RegisterClasses();

  // The movie types OpenDocument accepts.
  static Boolean IsAcceptedType(OSType inType);
  // The accepted type of a file (its stored type, else the type of its
  // name); 0 when neither is accepted.
  static OSType AcceptedTypeOf(const FSSpec& inSpec);
  // The type last chosen in the Open dialog's popup ('????': all).
  static OSType GetCurrentFileType();
  static void SetCurrentFileType(OSType inType);
  // The Open dialog's type popup: type and name of each entry.
  struct SFileTypeEntry {
    OSType type;
    std::string name;
  };
  static const std::vector<SFileTypeEntry>& GetOpenFileMenuData();
  // Whether the Open dialog shows a file with the popup at inType.
  static Boolean FilterShowsFile(const FSSpec& inSpec, OSType inType);

  // The document quitting starts with: the one whose window is the front
  // regular window, else the frontmost other document (nil: none).
  static CAppDocument* FindQuitDocument();

  // The help page the application opened last (tests).
  static const std::string& GetLastHelpPage() { return sLastHelpPage; }
  static const std::string& GetLastURL() { return sLastURL; }
  static void ForgetLastHelp();

 protected:
  // One start-up step: the service's own call and its result (noErr or the
  // failure). Tests watch or replace steps here.
  virtual OSErr RunStartStep(EStartStep inStep);
  // Ends the program after a failed start-up.
  virtual void ExitToShell();
  // Opens a help page of the bundle's help book.
  virtual void GotoHelpPage(const std::string& inPage);
  // Opens a URL with the desktop's handler.
  virtual void LaunchURL(const std::string& inURL);

  Boolean ObeySyntheticCommand(SInt16 inMenuID, SInt16 inItem) override;

 private:
  void InstallMenus();
  void InstallHelpMenu();
  void OpenRecentFile(SInt16 inItem);
  void SupportMail(SInt16 inStringIndex, Boolean inBlank);

  int mExitCode = 0;
  Boolean mInitialized = false;
  Boolean mMainThreadMade = false;
  static std::string sLastHelpPage;
  static std::string sLastURL;
};
