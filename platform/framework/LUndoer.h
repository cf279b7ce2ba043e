// The undo attachment of a commander: it keeps the last action posted along
// the chain, undoes and redoes it by the Undo command (one item whose text
// says which of the two comes next), and lets the action go when a new one is
// posted, a nil action is posted, or the undoer itself goes.
#pragma once

#include "platform/framework/LAction.h"
#include "platform/framework/LAttachable.h"
#include "platform/framework/LCommander.h"

class LStream;

class LUndoer : public LAttachment {
 public:
  static constexpr SInt32 class_ID = 'undo';

  LUndoer();
  explicit LUndoer(LStream* inStream);
  // Finalizes and deletes the held action.
  ~LUndoer() override;

  LAction* GetAction() const { return mAction; }

 protected:
  // msg_PostAction: PostAction (the host does nothing more); cmd_Undo: the
  // held action toggles; msg_CommandStatus of cmd_Undo: FindUndoStatus.
  void ExecuteSelf(MessageT inMessage, void* ioParam) override;

  // Takes the action: one not yet done is done first (a failure is thrown,
  // the action deleted and the held one kept); a postable action replaces the
  // held one, any other is dropped once done. Nil lets the held one go.
  virtual void PostAction(LAction* inAction);
  // Undoes the held action when it can be undone, else redoes it when it can
  // be redone.
  virtual void ToggleAction();
  // One item for both: "Undo …" or "Redo …" by what the action can do next,
  // else disabled with "Can't Undo".
  virtual void FindUndoStatus(SCommandStatus* ioStatus);

  // Finalizes and deletes the held action.
  void DropAction();
  static void CopyText(ConstStringPtr inText, StringPtr outText);

  LAction* mAction = nullptr;
};
