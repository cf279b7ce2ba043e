#include "platform/ui/UModalDialogs.h"

#include <vector>

#include "platform/base/LException.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/UDesktop.h"

namespace {
StDialogHandler::LayoutReader& Reader() {
  static StDialogHandler::LayoutReader sReader;
  return sReader;
}
}  // namespace

void StDialogHandler::SetLayoutReader(LayoutReader inReader) { Reader() = std::move(inReader); }

StDialogHandler::StDialogHandler(ResIDT inDialogResID, LCommander* inSuper) : LCommander(inSuper) {
  mSavedTarget = GetTarget();
  LWindow* window = Reader() ? Reader()(inDialogResID, this) : nullptr;
  if (!window) Throw_(err_NilPointer);
  Adopt(window);
}

StDialogHandler::StDialogHandler(LWindow* inWindow, LCommander* inSuper) : LCommander(inSuper) {
  mSavedTarget = GetTarget();
  ThrowIfNil_(inWindow);
  Adopt(inWindow);
}

void StDialogHandler::Adopt(LWindow* inWindow) {
  mDialog = inWindow;
  inWindow->SetSuperCommander(this);
  inWindow->SetAttribute(windAttr_Modal);
  // Every broadcaster in the dialog talks to the handler.
  std::vector<LPane*> stack = {inWindow};
  while (!stack.empty()) {
    LPane* p = stack.back();
    stack.pop_back();
    if (auto* b = dynamic_cast<LBroadcaster*>(p)) b->AddListener(this);
    if (auto* v = dynamic_cast<LView*>(p)) stack.insert(stack.end(), v->GetSubPanes().begin(), v->GetSubPanes().end());
  }
}

StDialogHandler::~StDialogHandler() {
  LWindow* dialog = mDialog;
  mDialog = nullptr;
  delete dialog;
  // The target goes back where it was when it still exists.
  // (looked for from the top down: the old target may have gone meanwhile).
  bool alive = false;
  std::vector<LCommander*> stack;
  if (GetTopCommander()) stack.push_back(GetTopCommander());
  while (!stack.empty() && !alive) {
    LCommander* c = stack.back();
    stack.pop_back();
    if (c == mSavedTarget && c != this) alive = true;
    if (c != this) stack.insert(stack.end(), c->GetSubCommanders().begin(), c->GetSubCommanders().end());
  }
  if (alive)
    SwitchTarget(mSavedTarget);
  else if (IsOnDuty() && GetSuperCommander())
    SwitchTarget(GetSuperCommander());
}

MessageT StDialogHandler::DoDialog() {
  mMessage = msg_Nothing;
  UEventLoop::PassAndSleep(true);
  MessageT heard = mMessage;
  mMessage = msg_Nothing;
  return heard;
}

void StDialogHandler::ListenToMessage(MessageT inMessage, void*) { mMessage = inMessage; }

Boolean StDialogHandler::AllowSubRemoval(LCommander* inSub) {
  if (mDialog == nullptr || inSub != static_cast<LCommander*>(mDialog)) return LCommander::AllowSubRemoval(inSub);
  mMessage = msg_Cancel;
  UEventLoop::WakeUp();
  return false;
}

Boolean StDialogHandler::HandleKeyPress(const EventRecord& inKeyEvent) {
  UInt32 ch = inKeyEvent.message & charCodeMask;
  if (ch == 13 || ch == 3) {
    mMessage = msg_OK;
    return true;
  }
  if (ch == 27) {
    mMessage = msg_Cancel;
    return true;
  }
  return LCommander::HandleKeyPress(inKeyEvent);
}
