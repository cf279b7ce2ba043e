#include "toolkit/CReUndoer.h"

#include <new>

#include "platform/base/LException.h"
#include "toolkit/UMessage.h"
#include "toolkit/ULocalization.h"

CReUndoer::CReUndoer() = default;

CReUndoer::CReUndoer(LStream* inStream) : LUndoer(inStream) {}

void CReUndoer::ExecuteSelf(MessageT inMessage, void* ioParam) {
  switch (inMessage) {
    case cmd_Undo:
      SetExecuteHost(false);
      if (mAction && mAction->CanUndo()) mAction->Undo();
      return;
    case cmd_Redo:
      SetExecuteHost(false);
      if (mAction && mAction->CanRedo()) mAction->Redo();
      return;
    case msg_CommandStatus: {
      auto* status = static_cast<SCommandStatus*>(ioParam);
      SetExecuteHost(true);
      if (!status) return;
      if (status->command == cmd_Undo) {
        SetExecuteHost(false);
        FindUndoStatus(status);
      } else if (status->command == cmd_Redo) {
        SetExecuteHost(false);
        FindRedoStatus(status);
      }
      return;
    }
    default:
      LUndoer::ExecuteSelf(inMessage, ioParam);
  }
}

void CReUndoer::FindUndoStatus(SCommandStatus* ioStatus) {
  Str255 redo, undo;
  Boolean enabled = mAction && mAction->CanUndo();
  if (enabled)
    mAction->GetDescription(redo, undo);
  else
    ULocalization::GetString(undo, STRx_UndoEdit, str_CantRedoUndo);
  CopyText(undo, ioStatus->name);
  if (ioStatus->enabled) *ioStatus->enabled = enabled;
}

void CReUndoer::FindRedoStatus(SCommandStatus* ioStatus) {
  Str255 redo, undo;
  Boolean enabled = mAction && mAction->CanRedo();
  if (enabled)
    mAction->GetDescription(redo, undo);
  else
    ULocalization::GetString(redo, STRx_RedoEdit, str_CantRedoUndo);
  CopyText(redo, ioStatus->name);
  if (ioStatus->enabled) *ioStatus->enabled = enabled;
}

void CReUndoer::PostAction(LAction* inAction) {
  OSErr err = noErr;
  try {
    LUndoer::PostAction(inAction);  // deletes an action whose first redo throws
    return;
  } catch (...) {
    err = OSErrOfCurrent(err_NilPointer, paramErr);
  }
  if (err == userCanceledErr) return;
  try {
    LStr255 text;
    UMessage::GetOSErrString(err, text);
    UMessage::StopAlert(text, err);
  } catch (...) {
    // An alert that cannot be shown leaves the failure unreported, never the
    // command half-done.
    LogCurrentException("undo", "PostAction alert");
  }
}
