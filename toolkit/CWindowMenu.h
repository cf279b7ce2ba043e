// The Window menu: after the menu's own items, a separator (command 2020,
// the anchor) and one item per visible document window in the order they
// were shown, the first nine with the keys Ctrl+1 to Ctrl+9. Its items run
// synthetic commands of menu 140; the application maps them back to their
// windows (MenuItemToWindow), marks the front one and selects the chosen one.
#pragma once

#include <vector>

#include "platform/ui/LMenu.h"

class LWindow;
class CPageSwitcher;

constexpr SInt16 MENU_Window = 140;
constexpr CommandT cmd_WindowMenuAnchor = 2020;

class CWindowMenu : public LMenu {
 public:
  CWindowMenu();
  explicit CWindowMenu(SInt16 inMenuID);
  CWindowMenu(SInt16 inMenuID, const std::string& inTitle);
  ~CWindowMenu() override;

  // Makes the Window menu from MENU 140 and installs it at the end of the
  // menu bar. No menu bar: 'nilP'.
  static void Init();
  static void Finish();

  // A listed window only gets its item's text refreshed; a new one is
  // appended (after the anchor, which the first one brings along).
  void InsertWindow(LWindow* inWindow);
  // Removes the window's item (and the anchor with the last window);
  // the keys are numbered again from Ctrl+1.
  void RemoveWindow(LWindow* inWindow);
  void SetCommandKeys();

  // Anchor + list index; 0 when the window is not listed.
  SInt16 WindowToMenuItem(const LWindow* inWindow) const;
  LWindow* MenuItemToWindow(SInt16 inItem) const;
  CPageSwitcher* MenuItemToPage(SInt16 inItem) const;
  SInt16 PageToMenuItem(const CPageSwitcher* inPage) const;
  // The anchor's item index; 0 without one.
  SInt16 GetAnchorItem() const { return IndexFromCommand(cmd_WindowMenuAnchor); }
  SInt32 CountWindows() const { return static_cast<SInt32>(mWindowList.size()); }

  // For the application's command chain. The status of a window's item:
  // enabled, marked (check mark) when it is the front regular window, its
  // title as text; false for commands that are not the menu's window items.
  static Boolean FindWindowCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                         UInt16& outMark, Str255 outName);
  // Selects the window of the item when it is visible; false for other commands.
  static Boolean ObeyWindowCommand(CommandT inCommand);

  static CWindowMenu* mWindowMenu;

 private:
  // The window's title as the menu shows it, literally.
  static std::string ItemText(const LWindow* inWindow);
  LWindow* WindowOfCommand(CommandT inCommand) const;

  std::vector<LWindow*> mWindowList;
  std::vector<CPageSwitcher*> mPageList;
};
