#include "platform/framework/LAction.h"

#include "platform/files/Resources.h"
#include "platform/framework/LStr255.h"

namespace {
// The word of the list followed by the action's name.
void Describe(SInt16 inWordList, ConstStringPtr inName, Str255 outText) {
  Str255 word;
  GetIndString(word, inWordList, str_RedoUndo);
  LStr255 text(word);
  if (inName[0] > 0) {
    if (!text.IsEmpty()) text += ' ';
    text += inName;
  }
  for (UInt8 i = 0; i <= text.Length(); ++i) outText[i] = text[i];
}
}  // namespace

LAction::LAction(SInt16 inStringResID, SInt16 inStringIndex, Boolean inAlreadyDone)
    : mStringResID(inStringResID), mStringIndex(inStringIndex), mIsDone(inAlreadyDone) {}

LAction::~LAction() = default;

void LAction::Finalize() {}

void LAction::Redo() {
  if (!CanRedo()) return;
  RedoSelf();
  mIsDone = true;
}

void LAction::Undo() {
  if (!CanUndo()) return;
  UndoSelf();
  mIsDone = false;
}

Boolean LAction::IsPostable() const { return true; }
Boolean LAction::CanRedo() const { return !mIsDone; }
Boolean LAction::CanUndo() const { return mIsDone; }

void LAction::GetDescription(Str255 outRedoString, Str255 outUndoString) const {
  Str255 name;
  name[0] = 0;
  if (mStringResID != 0) GetIndString(name, mStringResID, mStringIndex);
  if (outRedoString) Describe(STRx_RedoEdit, name, outRedoString);
  if (outUndoString) Describe(STRx_UndoEdit, name, outUndoString);
}

void LAction::RedoSelf() {}
void LAction::UndoSelf() {}
