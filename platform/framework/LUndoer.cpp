#include "platform/framework/LUndoer.h"

#include "platform/files/Resources.h"

LUndoer::LUndoer() : LAttachment(msg_AnyMessage, true) {}

LUndoer::LUndoer(LStream* inStream) : LAttachment(inStream) { SetMessage(msg_AnyMessage); }

LUndoer::~LUndoer() { DropAction(); }

void LUndoer::DropAction() {
  LAction* action = mAction;
  mAction = nullptr;
  if (action) {
    action->Finalize();
    delete action;
  }
}

void LUndoer::CopyText(ConstStringPtr inText, StringPtr outText) {
  if (!outText) return;
  for (UInt16 i = 0; i <= inText[0]; ++i) outText[i] = inText[i];
}

void LUndoer::ExecuteSelf(MessageT inMessage, void* ioParam) {
  SetExecuteHost(true);
  if (inMessage == msg_PostAction) {
    SetExecuteHost(false);
    PostAction(static_cast<LAction*>(ioParam));
  } else if (inMessage == cmd_Undo) {
    SetExecuteHost(false);
    ToggleAction();
  } else if (inMessage == msg_CommandStatus) {
    auto* status = static_cast<SCommandStatus*>(ioParam);
    if (status && status->command == cmd_Undo) {
      SetExecuteHost(false);
      FindUndoStatus(status);
    }
  }
}

void LUndoer::PostAction(LAction* inAction) {
  if (!inAction) {
    DropAction();
    return;
  }
  if (inAction == mAction) return;
  try {
    if (!inAction->IsDone()) inAction->Redo();
  } catch (...) {
    delete inAction;
    throw;
  }
  if (inAction->IsPostable()) {
    DropAction();
    mAction = inAction;
  } else {
    inAction->Finalize();
    delete inAction;
  }
}

void LUndoer::ToggleAction() {
  if (!mAction) return;
  if (mAction->CanUndo())
    mAction->Undo();
  else if (mAction->CanRedo())
    mAction->Redo();
}

void LUndoer::FindUndoStatus(SCommandStatus* ioStatus) {
  Str255 redo, undo;
  Boolean enabled = false;
  if (mAction && mAction->CanUndo()) {
    mAction->GetDescription(redo, undo);
    CopyText(undo, ioStatus->name);
    enabled = true;
  } else if (mAction && mAction->CanRedo()) {
    mAction->GetDescription(redo, undo);
    CopyText(redo, ioStatus->name);
    enabled = true;
  } else {
    GetIndString(undo, STRx_UndoEdit, str_CantRedoUndo);
    CopyText(undo, ioStatus->name);
  }
  if (ioStatus->enabled) *ioStatus->enabled = enabled;
  if (ioStatus->usesMark) *ioStatus->usesMark = false;
}
