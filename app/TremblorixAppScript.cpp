#include "app/TremblorixAppScript.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/TremblorixApp.h"
#include "app/TremblorixAppDocuments.h"
#include "platform/base/Clock.h"
#include "platform/files/Files.h"
#include "platform/framework/LCommander.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/UWindowImages.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"

namespace {

}  // namespace

// The movie documents' conditions and settings (TremblorixAppScriptMovie.cpp).
bool AppScriptMovieCondition(const std::string& inName);
bool AppScriptMovieSetting(const std::string& inName, const std::string& inValue);
// The export client's side (TremblorixAppScriptExport.cpp).
bool AppScriptSetExporter(const std::string& inCode);

namespace {

CAppScript::ConditionProc sConditionProc = AppScriptMovieCondition;
CAppScript::SettingProc sSettingProc = AppScriptMovieSetting;


double Now() { return GetCurrentEventTime(); }

bool QuestionKind(const std::string& inName, EQuestion& outKind) {
  static const std::pair<const char*, EQuestion> kKinds[] = {
      {"alert", question_Alert},           {"open", question_OpenFile},
      {"save", question_SaveFile},         {"folder", question_ChooseFolder},
      {"changes", question_SaveChanges},   {"discard", question_DiscardChanges},
      {"review", question_ReviewChanges},  {"exporter", question_ExporterOptions},
      {"popup", question_PopupMenu},       {"color", question_Color}};
  for (const auto& k : kKinds)
    if (inName == k.first) {
      outKind = k.second;
      return true;
    }
  return false;
}

bool BuiltInCondition(const std::string& inName, bool& outMet) {
  if (inName.rfind("windows=", 0) == 0) {
    size_t want = std::stoul(inName.substr(8));
    size_t have = 0;
    for (CAppDocument* d : UAppDocuments::GetDocuments())
      if (d->GetWindow() && d->GetWindow()->IsVisible()) ++have;
    outMet = have == want;
    return true;
  }
  if (inName == "shown") {
    // The front movie window shows its picture.
    std::vector<CAppDocument*> docs = UAppDocuments::GetDocuments();
    outMet = !docs.empty() && UWindowImages::ShowsPicture(docs.front()->GetWindow());
    return true;
  }
  return false;
}

}  // namespace

void CAppScript::SetConditionProc(ConditionProc inProc) { sConditionProc = inProc; }
void CAppScript::SetSettingProc(SettingProc inProc) { sSettingProc = inProc; }

CAppScript::CAppScript(const std::string& inPath) {
  if (inPath.empty()) return;
  std::ifstream in(inPath);
  if (!in) {
    std::fprintf(stderr, "Tremblorix: cannot read the script %s\n", inPath.c_str());
    mResult = 2;
    return;
  }
  std::string line;
  while (std::getline(in, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    mLines.push_back(line.substr(start));
  }
  // Questions nothing scripted are answered as cancelled and reported.
  UResponder::SetUnexpectedHandler([this](const SQuestion& inQ) {
    std::fprintf(stderr, "Tremblorix script: unanswered question (kind %d): %s %s\n", static_cast<int>(inQ.kind),
                 inQ.title.c_str(), inQ.message.c_str());
    mUnanswered = true;
  });
  StartRepeating(0.02);
}

CAppScript::~CAppScript() { StopRepeating(); }

void CAppScript::Fail(const std::string& inWhy) {
  if (mNext >= 1 && mNext <= mLines.size())
    std::fprintf(stderr, "Tremblorix script: line %zu \"%s\": %s\n", mNext, mLines[mNext - 1].c_str(), inWhy.c_str());
  else
    std::fprintf(stderr, "Tremblorix script: %s\n", inWhy.c_str());
  mResult = 2;
  mNext = mLines.size();
  mWaitFor.clear();
  if (TremblorixApp::sApplication) TremblorixApp::sApplication->DoQuit();
}

void CAppScript::SpendTime(const EventRecord&) {
  TremblorixApp* app = TremblorixApp::sApplication;
  if (!app || app->GetState() != programState_ProcessingEvents) return;
  if (mUnanswered) {
    mUnanswered = false;
    if (mNext == 0) mNext = 1;
    Fail("a question nothing answered");
    return;
  }
  if (mNext >= mLines.size() && mWaitFor.empty() && !mSleeping) {
    // Every line ran: the program has this long to end.
    if (mFinishedAt == 0) mFinishedAt = Now();
    if (Now() - mFinishedAt > 60) {
      std::fprintf(stderr, "Tremblorix script: the program did not quit\n");
      mResult = 2;
      app->DoQuit();
    }
    return;
  }
  if (mSleeping) {
    if (Now() < mWaitUntil) {
      StartRepeating(std::max(0.001, mWaitUntil - Now()));
      return;
    }
    mSleeping = false;
    StartRepeating(0.02);
  }
  if (!mWaitFor.empty()) {
    bool met = false;
    if (!BuiltInCondition(mWaitFor, met)) {
      if (!sConditionProc) {
        Fail("unknown condition");
        return;
      }
      met = sConditionProc(mWaitFor);
    }
    if (!met && Now() >= mWaitUntil) {
      Fail("timed out");
      return;
    }
    if (!met) return;
    mWaitFor.clear();
  }
  if (mNext >= mLines.size()) return;
  std::printf("script: %s\n", mLines[mNext].c_str());
  std::fflush(stdout);
  ++mNext;
  if (!RunLine(mLines[mNext - 1])) return;
}

bool CAppScript::RunLine(const std::string& inLine) {
  std::istringstream words(inLine);
  std::string verb;
  words >> verb;
  std::string rest;
  std::getline(words, rest);
  rest.erase(0, std::min(rest.size(), rest.find_first_not_of(' ')));
  TremblorixApp* app = TremblorixApp::sApplication;
  if (verb == "out") {
    mOutDir = rest;
    return true;
  }
  if (verb == "open") {
    FSSpec spec;
    if (FSMakeFSSpecFromPath(rest, &spec) != noErr) {
      Fail("no such file");
      return false;
    }
    app->HandleOpenDocuments({spec});
    return true;
  }
  if (verb == "shot") {
    // The front document window, and what shows beside or over it (its
    // drawer, a sheet, a dialog) as NAME-2, NAME-3...
    std::vector<LWindow*> shown;
    for (LWindow* w : UDesktop::GetWindowsOfClass(kDocumentWindowClass))
      if (w->IsVisible()) shown.push_back(w);
    for (LWindow* w : UDesktop::GetWindows())
      if (w->IsVisible() && w->GetWindowClass() != kDocumentWindowClass &&
          std::find(shown.begin(), shown.end(), w) == shown.end())
        shown.push_back(w);
    // A custom sheet's window belongs to its document window, not to the desktop's list.
    for (size_t i = 0, documents = shown.size(); i < documents; ++i) {
      auto* regular = dynamic_cast<CRegularWindow*>(shown[i]);
      auto* sheet = regular ? dynamic_cast<LCustomDialogSheet*>(regular->GetCurrentSheet()) : nullptr;
      LWindow* sheetWindow = sheet ? sheet->GetSheetWindow() : nullptr;
      if (sheetWindow && sheetWindow->IsVisible() && std::find(shown.begin(), shown.end(), sheetWindow) == shown.end())
        shown.push_back(sheetWindow);
    }
    if (shown.empty()) {
      Fail("no window to photograph");
      return false;
    }
    for (size_t i = 0; i < shown.size(); ++i) {
      std::ostringstream name;
      name << mOutDir << '/' << rest;
      if (i > 0) name << '-' << (i + 1);
      name << ".png";
      if (!UWindowImages::SaveWindowImage(shown[i], name.str())) {
        Fail("the window could not be photographed");
        return false;
      }
    }
    return true;
  }
  if (verb == "command") {
    CommandT command = std::stol(rest);
    LCommander* target = LCommander::GetTarget() ? LCommander::GetTarget() : app;
    Boolean enabled = false, usesMark = false;
    UInt16 mark = 0;
    Str255 name = {0};
    target->ProcessCommandStatus(command, enabled, usesMark, mark, name);
    if (!enabled) {
      Fail("the command is disabled");
      return false;
    }
    target->ProcessCommand(command, nullptr);
    return true;
  }
  if (verb == "answer") {
    std::istringstream a(rest);
    std::string kindName, path;
    SInt32 choice = 0;
    a >> kindName >> choice;
    std::getline(a, path);
    path.erase(0, std::min(path.size(), path.find_first_not_of(' ')));
    EQuestion kind;
    if (!QuestionKind(kindName, kind)) {
      Fail("unknown question kind");
      return false;
    }
    SAnswer answer = choice == 0 && path.empty() ? SAnswer::Cancel() : SAnswer::Choice(choice);
    if (!path.empty()) answer.paths.push_back(path);
    UResponder::Script(kind, answer);
    return true;
  }
  if (verb == "set") {
    std::istringstream s(rest);
    std::string name, value;
    s >> name >> value;
    if (name == "exporter") {
      if (!AppScriptSetExporter(value)) {
        Fail("no such exporter");
        return false;
      }
      return true;
    }
    if (!sSettingProc || !sSettingProc(name, value)) {
      Fail("the setting could not be made");
      return false;
    }
    return true;
  }
  if (verb == "until") {
    std::istringstream s(rest);
    double seconds = 120;
    s >> mWaitFor >> seconds;
    mWaitUntil = Now() + seconds;
    return true;
  }
  if (verb == "wait") {
    mSleeping = true;
    const double seconds = std::stod(rest);
    mWaitUntil = Now() + seconds;
    // A sleeping script wakes the program once, at the end of its wait.
    if (seconds > 0) StartRepeating(seconds);
    return true;
  }
  if (verb == "mark") {
    std::printf("mark %s\n", rest.c_str());
    std::fflush(stdout);
    return true;
  }
  if (verb == "quit") {
    app->ProcessCommand(cmd_Quit, nullptr);
    return true;
  }
  Fail("unknown command");
  return false;
}
