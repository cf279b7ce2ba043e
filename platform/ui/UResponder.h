// Everything that asks the user goes through here: alerts, file dialogs,
// save-changes / discard / review questions, the colour picker, pop-up menu
// selection and exporter options. In the program the questions are real Qt
// dialogs, opened window-modal (or application-modal) with open() and
// answered from their signals; in tests (the default) they are answered
// from a script, and a question nothing scripted fails the test (the test
// support installs that handler). Every question is logged.
//
// Answers always arrive later, at a pass of the event loop, never inside Ask.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

class LWindow;
class LView;

enum EQuestion {
  question_Alert = 1,
  question_OpenFile,
  question_SaveFile,
  question_ChooseFolder,
  question_SaveChanges,     // choices: Save (1), Don't Save (2), Cancel (3)
  question_DiscardChanges,  // choices: Discard (1), Cancel (2)
  question_ReviewChanges,   // choices: Review (1), Discard All (2), Cancel (3)
  question_Color,
  question_PopupMenu,
  question_ExporterOptions,
};

struct SQuestion {
  EQuestion kind = question_Alert;
  std::string title;
  std::string message;
  std::string explanation;
  std::vector<std::string> choices;  // buttons, menu items, file-name filters
  SInt32 defaultChoice = 1;          // 1-based
  SInt32 cancelChoice = 0;           // 1-based, 0: none
  std::string defaultName;           // save: the proposed name; open: the starting folder
  std::string folder;                // save: the folder it starts in (empty: the dialog's own choice)
  RGBColor color = {0, 0, 0};        // the colour shown first
  Point where = {0, 0};              // pop-up menus: the global position
  std::vector<Boolean> checked;      // pop-up menus: per item, shown with a check mark (missing: none)
  std::vector<Boolean> disabled;     // pop-up menus: per item, shown disabled (missing: enabled)
  OSType exporterType = 0;           // exporter options: the exporter
  LWindow* parent = nullptr;         // window-modal on this window when set
  LView* customArea = nullptr;       // file dialogs: panes shown below the file list
  UInt32 dialogID = 0;               // the navigation dialog asking (0: none)
  std::vector<UInt8> settings;       // exporter options: the settings shown first
  // Open-file dialogs: whether a file is listed while filter `choice`
  // (1-based) is chosen; nil lists what the filters' name patterns match.
  std::function<bool(const std::string& path, SInt32 choice)> fileFilter;
  SInt16 alertType = 1;              // alerts: the kind shown (0 stop, 1 note, 2 caution, 3 plain)
};

struct SAnswer {
  Boolean cancelled = false;
  SInt32 choice = 0;               // 1-based button or item; 0: none
  std::vector<std::string> paths;  // chosen files or folder
  RGBColor color = {0, 0, 0};
  std::vector<UInt8> settings;     // exporter options
  static SAnswer Cancel() {
    SAnswer a;
    a.cancelled = true;
    return a;
  }
  static SAnswer Choice(SInt32 inChoice) {
    SAnswer a;
    a.choice = inChoice;
    return a;
  }
  static SAnswer Path(const std::string& inPath) {
    SAnswer a;
    a.paths.push_back(inPath);
    return a;
  }
};

class UResponder {
 public:
  typedef std::function<void(const SAnswer&)> Reply;
  typedef std::function<void(const SQuestion&, Reply)> Presenter;

  // Asks; inReply runs once with the answer, at a later pass of the event loop.
  static void Ask(const SQuestion& inQuestion, Reply inReply);
  // Asks and runs our event loop until the answer is there (application-modal).
  static SAnswer AskAndWait(const SQuestion& inQuestion);

  // Real dialogs (the program) or scripted answers (tests, the default).
  static void SetInteractive(Boolean inInteractive);
  static Boolean IsInteractive();
  // The real dialog of a kind (exporter options come from the exporter's
  // side). Kinds without one are answered as cancelled.
  static void SetPresenter(EQuestion inKind, Presenter inPresenter);

  // Tests: the answers to the next questions of a kind, in order.
  static void Script(EQuestion inKind, const SAnswer& inAnswer);
  static SInt32 CountScripted();
  // What happens to a question no script answers (it is then cancelled).
  static void SetUnexpectedHandler(std::function<void(const SQuestion&)> inHandler);
  // Whether a scripted answer exists for the next question of a kind.
  static Boolean HasScript(EQuestion inKind);
  static SAnswer TakeScript(EQuestion inKind);
  static void LogQuestion(const SQuestion& inQuestion);
  static std::vector<SQuestion> GetLog();
  // Forgets scripts, log, handler and presenters set by tests; back to scripted answers.
  static void Reset();
};
