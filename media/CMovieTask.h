// The base of a movie document's cancellable worker tasks, and what such a
// task needs of the document that runs it.
//
// A CMovieTask is a cooperative thread (LThread): it runs only while the
// main thread yields to it, so it may use the document and the movie
// without locks. It knows its document and the document's movie, remembers
// the tick of its creation, carries a cancel flag set from the user
// interface, and, when it is destroyed (on the main thread, after Run has
// returned), broadcasts its end message to its listeners with itself as
// parameter; the document is its first listener.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LThread.h"

class CMovie;
class CMovieAction;
class CMovieTask;

// The end messages of the document's tasks.
constexpr MessageT msg_MotionAnalysisEnded = 300;
constexpr MessageT msg_InterlaceAnalysisForFormatEnded = 310;
constexpr MessageT msg_InterlaceAnalysisEnded = 311;

// The panes of a task's progress sheet (layout 501) as the task drives
// them: the progress bar (pane 2), the caption (pane 4) and the remaining
// time text (pane 5, hidden until shown). The document makes the sheet on
// its window; the sheet forwards its messages (-10 built, -12 every second,
// 901 Cancel) to the task's sheet procedure.
class CTaskProgressView {
 public:
  virtual ~CTaskProgressView() = default;
  // 0 to 256.
  virtual void SetProgressValue(SInt32 inValue) = 0;
  virtual void SetIndeterminate() = 0;
  virtual void SetCaption(ConstStringPtr inText) = 0;
  virtual bool IsRemainingShown() const = 0;
  virtual void ShowRemaining() = 0;
  // Sets the remaining-time text and redraws it.
  virtual void SetRemainingText(ConstStringPtr inText) = 0;
  // Takes the sheet off the document window.
  virtual void Remove() = 0;
};

// The side of a movie document that its worker tasks talk to. The document
// listens to its tasks (their end messages) and owns the undoer to which the
// tracking task posts its undoable edit.
class CMovieTaskDocument : public LListener {
 public:
  // The document's movie (nil when it has none).
  virtual CMovie* GetTaskMovie() = 0;
  // How the document analyses its movie: 2 whole frames, 3 odd field first,
  // 4 even field first.
  virtual SInt32 GetAnalysisFieldMode() { return 2; }
  // The document's video standard (0 unknown, 1 25 Hz, 2 30 Hz).
  virtual SInt32 GetInterlaceStandard() { return 0; }
  // Hands an undoable edit to the document's undoer, which performs its
  // first redo and keeps it when it is postable; the undoer owns the action
  // from the call on (it deletes an action that is not postable). A failure
  // of the first redo propagates to the caller.
  virtual void PostAction(CMovieAction* inAction) = 0;
  // A new progress sheet on the document window for the task, owned by the
  // caller; nil when the document shows none (no window).
  virtual CTaskProgressView* NewProgressSheet(CMovieTask* /*inTask*/) { return nullptr; }
};

class CMovieTask : public LThread, public LBroadcaster {
 public:
  // Takes the document's movie; a nil document or one without a movie
  // throws 'nilP'. The document becomes the task's listener.
  explicit CMovieTask(CMovieTaskDocument* inDocument);
  // Broadcasts the end message (when not 0) with the task as parameter.
  ~CMovieTask() override;

  virtual void UserCanceled() { mCanceled = true; }
  virtual bool HasUserCanceled() const { return mCanceled; }

  void SetEndMessage(MessageT inMessage) { mEndMessage = inMessage; }
  MessageT GetEndMessage() const { return mEndMessage; }
  UInt32 GetStartTick() const { return mStartTick; }
  CMovieTaskDocument* GetDocument() const { return mDocument; }
  CMovie* GetMovie() const { return mMovie; }
  // The failure that ended Run (0 when it ended normally or was cancelled).
  OSErr GetError() const { return mError; }

 protected:
  // Sends the end message once (when not 0). A subclass calls it last in its
  // destructor, so that listeners still see the whole task and its results;
  // the base destructor sends it otherwise.
  void BroadcastEndMessage();

  CMovieTaskDocument* mDocument;
  CMovie* mMovie;
  MessageT mEndMessage = msg_Nothing;
  bool mCanceled = false;
  UInt32 mStartTick;
  OSErr mError = noErr;
};
