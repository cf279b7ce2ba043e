// The undoer of document windows and sheets: Undo (11) and Redo (28) as two
// menu items. Undo takes back the last posted action while it is done; Redo
// does it again while it is undone.
#pragma once

#include "platform/framework/LUndoer.h"

class CReUndoer : public LUndoer {
 public:
  CReUndoer();
  explicit CReUndoer(LStream* inStream);

 protected:
  // 11 and 28 act only when the held action can go that way (a command
  // that arrives while its item is disabled does nothing); the status of
  // either is answered here. Both stop the host.
  void ExecuteSelf(MessageT inMessage, void* ioParam) override;
  // Enabled with the action's undo text while it can be undone, else
  // disabled with "Can't Undo" (string list 151 item 1).
  void FindUndoStatus(SCommandStatus* ioStatus) override;
  // Enabled with the action's redo text while it can be redone, else
  // disabled with "Can't Redo" (string list 150 item 1).
  virtual void FindRedoStatus(SCommandStatus* ioStatus);
  // As the framework's, but a first redo that fails never escapes into the
  // command that posted it: the failing action is deleted, the held one
  // stays as it was, and the failure is shown in a stop alert (its error
  // text and code; none for a cancel).
  void PostAction(LAction* inAction) override;
};
