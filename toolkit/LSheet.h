// The base of window-modal sheets: a commander that hangs on a document
// window (CRegularWindow keeps the list and shows the current one), takes the
// window's keyboard target while shown, and has an undoer of its own.
#pragma once

#include <functional>

#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LCommander.h"

class CRegularWindow;
class LListener;

// Broadcast by a document sheet to its listeners with the sheet (LSheet*)
// while it is being destroyed, however it ends (answered, released by its
// owner, or deleted with its window): pointers to it are stale from then on.
constexpr MessageT msg_SheetReleased = 'shRl';

class LSheet : public LCommander {
 public:
  explicit LSheet(LCommander* inSuper = nullptr);
  // Leaves the parent window's sheet list when still on it.
  ~LSheet() override;

  // Leaves the parent window's list and deletes the sheet.
  virtual void Release();
  // The window's target while shown: at once when the window is active,
  // else as the window's latent sub-commander.
  virtual void Show();
  // Gives the target back to the commander that had it before.
  virtual void Hide();
  virtual void SetParentWindow(CRegularWindow* inWindow);

  CRegularWindow* GetParentWindow() const { return mParentWindow; }
  Boolean IsShown() const { return mShown; }

 protected:
  CRegularWindow* mParentWindow = nullptr;
  LCommander* mFormerTarget = nullptr;
  Boolean mShown = false;
};

// A sheet that reports to a listener by broadcasts (alerts, custom sheets).
class LDocumentSheet : public LSheet, public LBroadcaster {
 public:
  // The listener, when given, is added to the sheet's broadcaster.
  explicit LDocumentSheet(LListener* inListener);
};

// Work done at the next pass of the event loop, outside the call that asked
// for it: a sheet or drawer that closes from inside one of its own handlers
// is deleted there, once that handler and whatever called it have returned.
class UDeferredRelease {
 public:
  static void Post(std::function<void()> inWork);
};

// Counts the running handlers of a sheet or drawer and notices its deletion
// meanwhile (through the object's flag slot, which its destructor sets), so
// that nothing touches it after its procedure deleted it.
class StSheetHandler {
 public:
  StSheetHandler(SInt32& ioDepth, bool*& ioDeletedFlag);
  ~StSheetHandler();
  StSheetHandler(const StSheetHandler&) = delete;
  StSheetHandler& operator=(const StSheetHandler&) = delete;
  bool Deleted() const { return mDeleted; }

 private:
  SInt32& mDepth;
  bool*& mFlagSlot;
  bool* mOuterFlag = nullptr;
  bool mDeleted = false;
};
