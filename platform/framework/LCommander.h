// The chain of command. Commanders form a tree (application, documents,
// windows, panes that take the keyboard); one commander is the target. The
// target and its super-commanders up to the top are on duty: commands, key
// presses and command-status questions start at the target and go up the
// chain until one commander answers. A commander that leaves duty remembers
// which of its sub-commanders was on duty (its latent sub-commander), so that
// the target comes back there when the commander becomes the target again.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/framework/Events.h"
#include "platform/framework/LAttachable.h"

class LAction;

typedef SInt32 CommandT;

// Command numbers of the framework's standard menu items.
constexpr CommandT cmd_Nothing = 0;
constexpr CommandT cmd_About = 1;
constexpr CommandT cmd_New = 2;
constexpr CommandT cmd_Open = 3;
constexpr CommandT cmd_Close = 4;
constexpr CommandT cmd_Save = 5;
constexpr CommandT cmd_SaveAs = 6;
constexpr CommandT cmd_Revert = 7;
constexpr CommandT cmd_PageSetup = 8;
constexpr CommandT cmd_Print = 9;
constexpr CommandT cmd_Quit = 10;
constexpr CommandT cmd_Undo = 11;
constexpr CommandT cmd_Cut = 12;
constexpr CommandT cmd_Copy = 13;
constexpr CommandT cmd_Paste = 14;
constexpr CommandT cmd_Clear = 15;
constexpr CommandT cmd_SelectAll = 16;
constexpr CommandT cmd_PrintOne = 17;
constexpr CommandT cmd_Preferences = 27;
constexpr CommandT cmd_Redo = 28;

// Item marks.
constexpr UInt16 noMark = 0;
constexpr UInt16 checkMark = 0x12;
constexpr UInt16 diamondMark = 0x13;

// The question a msg_CommandStatus attachment answers.
struct SCommandStatus {
  CommandT command;
  Boolean* enabled;
  Boolean* usesMark;
  UInt16* mark;
  StringPtr name;
};

enum EOnDuty { onDuty_No, onDuty_Latent, onDuty_Yes };

class LCommander : public virtual LAttachable {
 public:
  LCommander();
  explicit LCommander(LCommander* inSuper);
  // Leaves the chain; when it or one of its subs was the target, the target
  // moves to its super-commander. Sub-commanders are deleted first.
  ~LCommander() override;

  LCommander* GetSuperCommander() const { return mSuperCommander; }
  virtual void SetSuperCommander(LCommander* inSuper);
  const std::vector<LCommander*>& GetSubCommanders() const { return mSubCommanders; }
  // Whether inSub may leave the chain (windows ask their documents); true here.
  virtual Boolean AllowSubRemoval(LCommander* inSub);

  // The target: where commands and keys start.
  static LCommander* GetTarget() { return sTarget; }
  // Makes inNewTarget the target when every commander that leaves duty and the
  // new one agree. Returns whether the target changed (or already was it).
  static Boolean SwitchTarget(LCommander* inNewTarget);
  // Becomes the target, going down through the latent sub-commanders to the
  // one that was the target last.
  void RestoreTarget();
  Boolean IsTarget() const { return sTarget == this; }
  Boolean IsOnDuty() const { return mOnDuty == onDuty_Yes; }
  EOnDuty GetOnDutyState() const { return mOnDuty; }
  LCommander* GetLatentSub() const { return mLatentSub; }
  void SetLatentSub(LCommander* inSub);
  // The deepest commander reached through latent sub-commanders (this one when none).
  LCommander* GetDeepestLatentSub();

  // The top of the tree (normally the application) and the commander that
  // gets the target when nothing else can (tests and the application set it).
  static LCommander* GetTopCommander() { return sTopCommander; }
  static void SetTopCommander(LCommander* inTop) { sTopCommander = inTop; }

  // Commands. ObeyCommand answers true when this commander handled the
  // command; the base passes it to the super-commander's ProcessCommand, so
  // that the attachments of every commander up the chain see it.
  virtual Boolean ObeyCommand(CommandT inCommand, void* ioParam);
  // Fills the status of a command (enabled, whether it shows a mark, the
  // mark, and the item text when the commander changes it; outName is left
  // untouched otherwise). The base asks the super-commander; at the top a
  // command is disabled.
  virtual void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                 Str255 outName);
  virtual Boolean HandleKeyPress(const EventRecord& inKeyEvent);

  // From the target: asks msg_CommandStatus attachments first, then
  // FindCommandStatus.
  void ProcessCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                            Str255 outName);
  // Runs the command through the attachments (the command number is the
  // message) and, when none of them stops it, ObeyCommand.
  Boolean ProcessCommand(CommandT inCommand, void* ioParam = nullptr);
  // Hands a just-made undoable action up the chain to the first commander
  // whose attachments take it (an undoer, which does it and keeps it for
  // undo). Nobody taking it: it is done and deleted. Nil lets the undoer
  // drop the action it holds.
  virtual void PostAction(LAction* inAction);
  // Runs the key press through msg_KeyPress attachments and HandleKeyPress.
  Boolean ProcessKeyPress(const EventRecord& inKeyEvent);

  // Asks the target for the status of inCommand; disabled when there is no target.
  static void GetCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                               Str255 outName);
  // Runs the command from the target once its status says it is enabled.
  // Returns whether it was enabled and handled.
  static Boolean DoEnabledCommand(CommandT inCommand, void* ioParam = nullptr);

  // The menus ask the chain for their items' status when this is set (a
  // commander sets it after a change that alters what its commands do).
  static void SetUpdateCommandStatus(Boolean inUpdate) { sUpdateCommandStatus = inUpdate; }
  static Boolean GetUpdateCommandStatus() { return sUpdateCommandStatus; }

  // Synthetic commands of menu items without a command number: the negative
  // of (menu id << 16 | item).
  static CommandT SyntheticCommandForMenuItem(SInt16 inMenuID, SInt16 inItem);
  static Boolean IsSyntheticCommand(CommandT inCommand, SInt16& outMenuID, SInt16& outItem);

 protected:
  // The hooks of the chain: become or stop being the target; join or leave duty.
  virtual Boolean AllowBeTarget(LCommander* inNewTarget);
  virtual Boolean AllowDontBeTarget(LCommander* inNewTarget);
  virtual void BeTarget();
  virtual void DontBeTarget();
  virtual void PutOnDuty(LCommander* inNewTarget);
  virtual void TakeOffDuty();

 private:
  void AddSub(LCommander* inSub);
  void RemoveSub(LCommander* inSub);

  LCommander* mSuperCommander = nullptr;
  std::vector<LCommander*> mSubCommanders;
  LCommander* mLatentSub = nullptr;
  EOnDuty mOnDuty = onDuty_No;

  static LCommander* sTarget;
  static LCommander* sTopCommander;
  static Boolean sUpdateCommandStatus;
};
