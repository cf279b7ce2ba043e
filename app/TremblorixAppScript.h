// Runs the program from a script: the headless main job and the end-to-end
// test drive the real application with it, one line at a time, from the
// event loop, as a user would through the menus. Lines ("#" starts a comment):
//   out DIR                     where photos go (default: the current folder)
//   open PATH                   the open-documents event for the file
//   shot NAME                   photo of the front window as DIR/NAME.png
//   command N                   the target obeys command N, when enabled
//   answer KIND CHOICE [PATH]   scripted answer to the next question of KIND
//                               (alert, open, save, folder, changes, discard,
//                               review, exporter); CHOICE 0 cancels
//   set NAME VALUE              a document setting (see CAppScript::Setting)
//   set exporter CODE           the exporter the next export sheet starts with (mpg4, MooV...)
//   until CONDITION [SECONDS]   waits (default 120 s): windows=N (movie windows), shown (the
//                               front movie shows its picture), idle,
//                               analysed, session, nosession, saved, exported
//   wait SECONDS                lets the program run
//   mark NAME                   prints "mark NAME" (timing from outside)
//   quit                        the Quit command
// A line that fails stops the script with a message on standard error and
// the program quits with result 2.
#pragma once

#include <string>
#include <vector>

#include "platform/framework/LPeriodical.h"

class CAppScript : public LPeriodical {
 public:
  // No path: nothing runs.
  explicit CAppScript(const std::string& inPath);
  ~CAppScript() override;

  void SpendTime(const EventRecord& inMacEvent) override;
  // 0 while every line did what it said; 2 after a failure.
  int GetResult() const { return mResult; }

  // A condition of "until", true when met.
  typedef bool (*ConditionProc)(const std::string& inName);
  static void SetConditionProc(ConditionProc inProc);
  // A "set" line: true when the setting was made.
  typedef bool (*SettingProc)(const std::string& inName, const std::string& inValue);
  static void SetSettingProc(SettingProc inProc);

 private:
  bool RunLine(const std::string& inLine);
  void Fail(const std::string& inWhy);

  std::vector<std::string> mLines;
  size_t mNext = 0;
  std::string mOutDir = ".";
  std::string mWaitFor;
  bool mSleeping = false;
  bool mUnanswered = false;
  double mFinishedAt = 0;
  double mWaitUntil = 0;
  int mResult = 0;
};
