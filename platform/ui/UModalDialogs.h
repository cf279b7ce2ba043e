// Modal dialogs that run our event loop: StDialogHandler makes (or takes) a
// modal window, becomes its super-commander and the listener of every
// broadcaster in it, and DoDialog runs one pass of the event loop (sleeping
// until something happens) and returns the message heard meanwhile. Return
// and Enter are msg_OK (900), Escape msg_Cancel (901), and so is the close
// box. The window goes with the handler, never before it.
#pragma once

#include <functional>

#include "platform/framework/LCommander.h"
#include "platform/framework/LListener.h"
#include "platform/ui/LWindow.h"

constexpr MessageT msg_OK = 900;
constexpr MessageT msg_Cancel = 901;

class StDialogHandler : public LCommander, public LListener {
 public:
  // Makes the window of layout inDialogResID through the layout reader
  // ('nilP' when there is no reader or no such layout).
  StDialogHandler(ResIDT inDialogResID, LCommander* inSuper);
  // Takes a window already made.
  StDialogHandler(LWindow* inWindow, LCommander* inSuper);
  ~StDialogHandler() override;

  LWindow* GetDialog() const { return mDialog; }
  // One pass of the event loop; the message heard since the last call
  // (msg_Nothing when none).
  MessageT DoDialog();
  MessageT GetMessage() const { return mMessage; }

  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  Boolean HandleKeyPress(const EventRecord& inKeyEvent) override;
  // The dialog's close box (or the close command) answers as Cancel: the
  // dialog stays, its handler's loop ends it (it never goes under the loop).
  Boolean AllowSubRemoval(LCommander* inSub) override;

  // The layout reader: makes the window of a layout with its super-commander.
  typedef std::function<LWindow*(ResIDT, LCommander*)> LayoutReader;
  static void SetLayoutReader(LayoutReader inReader);

 private:
  void Adopt(LWindow* inWindow);

  LWindow* mDialog = nullptr;
  MessageT mMessage = msg_Nothing;
  LCommander* mSavedTarget = nullptr;
};
