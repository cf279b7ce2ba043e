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

namespace {

CAppScript::ConditionProc sConditionProc = nullptr;
CAppScript::SettingProc sSettingProc = nullptr;

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
    for (LWindow* w : UDesktop::GetWindowsOfClass(kDocumentWindowClass))
      if (w->IsVisible()) ++have;
    outMet = have == want;
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
  UResponder::SetUnexpectedHandler([](const SQuestion& inQ) {
    std::fprintf(stderr, "Tremblorix script: unanswered question: %s %s\n", inQ.message.c_str(),
                 inQ.explanation.c_str());
  });
  StartRepeating(0.02);
}

CAppScript::~CAppScript() { StopRepeating(); }

void CAppScript::Fail(const std::string& inWhy) {
  std::fprintf(stderr, "Tremblorix script: line %zu \"%s\": %s\n", mNext, mLines[mNext - 1].c_str(), inWhy.c_str());
  mResult = 2;
  mNext = mLines.size();
  mWaitFor.clear();
  if (TremblorixApp::sApplication) TremblorixApp::sApplication->DoQuit();
}

void CAppScript::SpendTime(const EventRecord&) {
  TremblorixApp* app = TremblorixApp::sApplication;
  if (!app || app->GetState() != programState_ProcessingEvents) return;
  if (mSleeping) {
    if (Now() < mWaitUntil) return;
    mSleeping = false;
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
  if (mNext >= mLines.size()) {
    StopRepeating();
    return;
  }
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
    LWindow* front = UDesktop::FetchTopModal();
    if (!front) front = UDesktop::FetchTopRegular();
    if (!front || !UWindowImages::SaveWindowImage(front, mOutDir + "/" + rest + ".png")) {
      Fail("no window to photograph");
      return false;
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
    mWaitUntil = Now() + std::stod(rest);
    return true;
  }
  if (verb == "quit") {
    app->ProcessCommand(cmd_Quit, nullptr);
    return true;
  }
  Fail("unknown command");
  return false;
}
