// Movies and a movie document for the worker-task tests: raw 32-bit movies
// whose frames are drawn by a callback, a document that records what its
// tasks tell it and keeps their undoable edits, and a recording progress sheet.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieAction.h"
#include "media/CMovieTask.h"
#include "platform/base/LException.h"
#include "platform/movies/Movies.h"

namespace tasktest {

// A movie of `frames` raw ARGB frames, each `duration` long at `scale`;
// `draw` fills frame k (an 8-bit ARGB buffer of the size at the origin).
Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames, TimeValue inDuration, TimeScale inScale,
                   const std::function<void(SInt32 k, CBuffer* frame)>& inDraw);

struct RecordingSheet : CTaskProgressView {
  std::vector<SInt32> values;
  std::string caption;
  std::string remaining;
  bool indeterminate = false;
  bool shown = false;
  int removed = 0;
  int* alive = nullptr;
  ~RecordingSheet() override {
    if (alive) --*alive;
  }
  void SetProgressValue(SInt32 inValue) override { values.push_back(inValue); }
  void SetIndeterminate() override { indeterminate = true; }
  void SetCaption(ConstStringPtr inText) override { caption.assign(reinterpret_cast<const char*>(inText + 1), inText[0]); }
  bool IsRemainingShown() const override { return shown; }
  void ShowRemaining() override { shown = true; }
  void SetRemainingText(ConstStringPtr inText) override {
    remaining.assign(reinterpret_cast<const char*>(inText + 1), inText[0]);
  }
  void Remove() override { ++removed; }
};

// A document over a movie: it keeps the actions posted to it (its undo
// history, newest last), records the end messages of its tasks, and
// makes recording sheets.
struct TestDocument : CMovieTaskDocument {
  CMovie* movie = nullptr;
  SInt32 fieldMode = 2;
  SInt32 standard = 0;
  bool withSheets = false;
  int sheetsAlive = 0;
  RecordingSheet* lastSheet = nullptr;
  std::vector<std::unique_ptr<CMovieAction>> history;
  std::vector<OSErr> postFailures;
  std::vector<MessageT> ended;
  OSErr endError = 0;
  // Called with the task from the end message, before it is gone.
  std::function<void(CMovieTask*)> onEnd;

  CMovie* GetTaskMovie() override { return movie; }
  SInt32 GetAnalysisFieldMode() override { return fieldMode; }
  SInt32 GetInterlaceStandard() override { return standard; }
  void PostAction(CMovieAction* inAction) override {
    std::unique_ptr<CMovieAction> action(inAction);
    try {
      action->Redo();
    } catch (const LException& e) {
      postFailures.push_back(ErrorCodeToOSErr(e.GetErrorCode()));
      return;
    }
    if (action->IsPostable()) history.push_back(std::move(action));
  }
  CTaskProgressView* NewProgressSheet(CMovieTask*) override {
    if (!withSheets) return nullptr;
    auto* sheet = new RecordingSheet;
    sheet->alive = &sheetsAlive;
    ++sheetsAlive;
    lastSheet = sheet;
    return sheet;
  }
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    ended.push_back(inMessage);
    auto* task = static_cast<CMovieTask*>(ioParam);
    endError = task->GetError();
    if (onEnd) onEnd(task);
  }
};

// Starts the task and lets it run (the main thread yielding to it, calling
// `between` at each of its yields) until its end message has arrived.
// Answers false when it did not end within the number of turns.
bool RunTask(TestDocument& ioDocument, LThread* inTask, const std::function<void()>& inBetween = nullptr,
             int inMaxTurns = 1000000);

// Points the string lists at the built bundle.
void UseBundle();

}  // namespace tasktest
