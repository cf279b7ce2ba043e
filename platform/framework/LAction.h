// An undoable action. It is done once when it is posted to the undoer of its
// commander chain (its first Redo), and is then undone and redone in turn.
// The action is named by an item of a string list ("Cut"); the menu shows
// "Undo Cut" and "Redo Cut".
#pragma once

#include "platform/base/MacTypes.h"

// The string lists of the undo and redo menu texts: item 1 the text of the
// disabled item, item 2 the word put before an action's name.
constexpr SInt16 STRx_RedoEdit = 150;
constexpr SInt16 STRx_UndoEdit = 151;
constexpr SInt16 str_CantRedoUndo = 1;
constexpr SInt16 str_RedoUndo = 2;

class LAction {
 public:
  // The name is item inStringIndex of string list inStringResID (none for 0).
  explicit LAction(SInt16 inStringResID = 0, SInt16 inStringIndex = 0, Boolean inAlreadyDone = false);
  LAction(const LAction&) = delete;
  LAction& operator=(const LAction&) = delete;
  virtual ~LAction();

  // Told once, before the undoer lets go of the action for good.
  virtual void Finalize();
  // Does (again) an action that can be redone; it is then done. A failure
  // is thrown and leaves the action undone.
  virtual void Redo();
  // Undoes an action that can be undone; it is then not done.
  virtual void Undo();
  // A postable action is kept for undo; one that is not is done and dropped.
  virtual Boolean IsPostable() const;
  virtual Boolean CanRedo() const;
  virtual Boolean CanUndo() const;
  Boolean IsDone() const { return mIsDone; }

  // The menu texts: "Redo " and "Undo " followed by the action's name (the
  // words alone for an action without one).
  virtual void GetDescription(Str255 outRedoString, Str255 outUndoString) const;

 protected:
  virtual void RedoSelf();
  virtual void UndoSelf();

  SInt16 mStringResID;
  SInt16 mStringIndex;
  Boolean mIsDone;
};
