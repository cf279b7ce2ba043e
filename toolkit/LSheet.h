// The base of window-modal sheets: a commander that hangs on a document
// window (CRegularWindow keeps the list and shows the current one), takes the
// window's keyboard target while shown, and has an undoer of its own.
#pragma once

#include "platform/framework/LCommander.h"

class CRegularWindow;

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
