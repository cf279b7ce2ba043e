#include "platform/framework/LCommander.h"

#include <algorithm>
#include <memory>

#include "platform/framework/LAction.h"

LCommander* LCommander::sTarget = nullptr;
LCommander* LCommander::sTopCommander = nullptr;
Boolean LCommander::sUpdateCommandStatus = false;

LCommander::LCommander() = default;

LCommander::LCommander(LCommander* inSuper) { SetSuperCommander(inSuper); }

LCommander::~LCommander() {
  // Subs first, each of which moves the target up to us when it held it.
  while (!mSubCommanders.empty()) {
    LCommander* sub = mSubCommanders.back();
    delete sub;
    // A sub that does not leave on its own (never happens normally) is dropped.
    if (!mSubCommanders.empty() && mSubCommanders.back() == sub) mSubCommanders.pop_back();
  }
  if (sTarget == this) {
    LCommander* super = mSuperCommander;
    sTarget = nullptr;
    mOnDuty = onDuty_No;
    if (super) {
      // The super-commanders stay on duty; the nearest becomes the target.
      sTarget = super;
      super->mLatentSub = nullptr;
      super->BeTarget();
    }
  }
  if (sTopCommander == this) sTopCommander = nullptr;
  if (mSuperCommander) mSuperCommander->RemoveSub(this);
}

void LCommander::AddSub(LCommander* inSub) {
  if (std::find(mSubCommanders.begin(), mSubCommanders.end(), inSub) == mSubCommanders.end())
    mSubCommanders.push_back(inSub);
}

void LCommander::RemoveSub(LCommander* inSub) {
  mSubCommanders.erase(std::remove(mSubCommanders.begin(), mSubCommanders.end(), inSub), mSubCommanders.end());
  if (mLatentSub == inSub) mLatentSub = nullptr;
}

void LCommander::SetSuperCommander(LCommander* inSuper) {
  if (inSuper == mSuperCommander) return;
  // A commander on duty that moves takes the target along out of the old chain.
  bool wasOnDuty = mOnDuty == onDuty_Yes;
  if (wasOnDuty && mSuperCommander) SwitchTarget(mSuperCommander);
  if (mSuperCommander) mSuperCommander->RemoveSub(this);
  mSuperCommander = inSuper;
  if (inSuper) inSuper->AddSub(this);
}

Boolean LCommander::AllowSubRemoval(LCommander*) { return true; }

void LCommander::SetLatentSub(LCommander* inSub) { mLatentSub = inSub; }

LCommander* LCommander::GetDeepestLatentSub() {
  LCommander* c = this;
  int guard = 0;
  while (c->mLatentSub && guard++ < 1000) c = c->mLatentSub;
  return c;
}

void LCommander::RestoreTarget() { SwitchTarget(GetDeepestLatentSub()); }

Boolean LCommander::SwitchTarget(LCommander* inNewTarget) {
  if (inNewTarget == sTarget) return true;
  // The new chain, from the new target up.
  std::vector<LCommander*> newChain;
  for (LCommander* c = inNewTarget; c; c = c->mSuperCommander) newChain.push_back(c);
  auto inNew = [&](LCommander* c) { return std::find(newChain.begin(), newChain.end(), c) != newChain.end(); };

  if (sTarget && !sTarget->AllowDontBeTarget(inNewTarget)) return false;
  if (inNewTarget && !inNewTarget->AllowBeTarget(inNewTarget)) return false;

  LCommander* old = sTarget;
  if (old) old->DontBeTarget();
  // Off duty: the old chain below the common ancestor; each super remembers
  // the sub that was on duty.
  for (LCommander* c = old; c && !inNew(c); c = c->mSuperCommander) {
    c->TakeOffDuty();
    c->mOnDuty = onDuty_No;
    if (c->mSuperCommander) c->mSuperCommander->mLatentSub = c;
  }
  // On duty: the new chain from the top down.
  for (auto it = newChain.rbegin(); it != newChain.rend(); ++it) {
    LCommander* c = *it;
    if (c->mOnDuty != onDuty_Yes) {
      c->mOnDuty = onDuty_Yes;
      c->PutOnDuty(inNewTarget);
    }
    if (c->mSuperCommander) c->mSuperCommander->mLatentSub = c;
  }
  if (inNewTarget) inNewTarget->mLatentSub = nullptr;
  sTarget = inNewTarget;
  if (inNewTarget) inNewTarget->BeTarget();
  sUpdateCommandStatus = true;
  return true;
}

Boolean LCommander::AllowBeTarget(LCommander*) { return true; }
Boolean LCommander::AllowDontBeTarget(LCommander*) { return true; }
void LCommander::BeTarget() {}
void LCommander::DontBeTarget() {}
void LCommander::PutOnDuty(LCommander*) {}
void LCommander::TakeOffDuty() {}

Boolean LCommander::ObeyCommand(CommandT inCommand, void* ioParam) {
  if (mSuperCommander) return mSuperCommander->ProcessCommand(inCommand, ioParam);
  return false;
}

void LCommander::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                   Str255 outName) {
  if (mSuperCommander) {
    // The super's attachments answer too: the status walks the whole chain.
    mSuperCommander->ProcessCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
    return;
  }
  outEnabled = false;
}

Boolean LCommander::HandleKeyPress(const EventRecord& inKeyEvent) {
  if (mSuperCommander) return mSuperCommander->ProcessKeyPress(inKeyEvent);
  return false;
}

void LCommander::ProcessCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                      Str255 outName) {
  SCommandStatus status{inCommand, &outEnabled, &outUsesMark, &outMark, outName};
  if (ExecuteAttachments(msg_CommandStatus, &status)) FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

Boolean LCommander::ProcessCommand(CommandT inCommand, void* ioParam) {
  // An attachment that stops the command (an undoer's Undo) has handled it.
  if (!ExecuteAttachments(inCommand, ioParam)) return true;
  return ObeyCommand(inCommand, ioParam);
}

void LCommander::PostAction(LAction* inAction) {
  if (!ExecuteAttachments(msg_PostAction, inAction)) return;  // an undoer took it
  if (mSuperCommander) {
    mSuperCommander->PostAction(inAction);
    return;
  }
  if (!inAction) return;
  // No undoer on the chain: the action is done and cannot be undone.
  std::unique_ptr<LAction> action(inAction);
  if (!action->IsDone()) action->Redo();
  action->Finalize();
}

Boolean LCommander::ProcessKeyPress(const EventRecord& inKeyEvent) {
  EventRecord event = inKeyEvent;
  if (!ExecuteAttachments(msg_KeyPress, &event)) return true;
  return HandleKeyPress(inKeyEvent);
}

void LCommander::GetCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                  Str255 outName) {
  outEnabled = false;
  outUsesMark = false;
  outMark = noMark;
  if (sTarget) sTarget->ProcessCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

Boolean LCommander::DoEnabledCommand(CommandT inCommand, void* ioParam) {
  Boolean enabled = false, usesMark = false;
  UInt16 mark = noMark;
  Str255 name = {0};
  GetCommandStatus(inCommand, enabled, usesMark, mark, name);
  if (!enabled || !sTarget) return false;
  return sTarget->ProcessCommand(inCommand, ioParam);
}

CommandT LCommander::SyntheticCommandForMenuItem(SInt16 inMenuID, SInt16 inItem) {
  return -static_cast<CommandT>((static_cast<UInt32>(static_cast<UInt16>(inMenuID)) << 16) | static_cast<UInt16>(inItem));
}

Boolean LCommander::IsSyntheticCommand(CommandT inCommand, SInt16& outMenuID, SInt16& outItem) {
  if (inCommand >= 0) return false;
  UInt32 v = static_cast<UInt32>(-static_cast<SInt64>(inCommand));
  outMenuID = static_cast<SInt16>(v >> 16);
  outItem = static_cast<SInt16>(v & 0xFFFF);
  return outMenuID > 0;
}
