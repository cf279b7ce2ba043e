// Menus from the bundle's 'MENU' resources and the menu bar from 'MBAR'.
// Each item carries a command number (0: a synthetic command for the item),
// an optional key (Ctrl with the key, Shift too when asked), a mark, and an
// optional submenu. Before a menu opens and before a key acts, every item
// asks the commander chain for its status (enabled, mark, text); a chosen
// item asks once more and only then runs its command from the target.
//
// Resource 'MENU' (big-endian): SInt16 menu id, Pascal title, SInt16 item
// count, then per item: Pascal text (empty: a separator), SInt32 command,
// UInt8 key character (0: none), UInt8 key modifiers (bit 0 Shift, bit 1
// Alt), UInt8 mark, SInt16 submenu id (0: none), UInt8 enabled.
// Resource 'MBAR': SInt16 count, then the menu ids.
#pragma once

#include <string>
#include <vector>

#include "platform/framework/LCommander.h"

class QMenu;
class QMenuBar;
class QAction;

struct SMenuItem {
  std::string text;  // empty: a separator
  CommandT command = cmd_Nothing;
  char key = 0;
  UInt8 keyModifiers = 0;  // 1 Shift, 2 Alt
  UInt16 mark = noMark;
  SInt16 submenuID = 0;
  Boolean enabled = true;
  QAction* action = nullptr;
};

constexpr UInt8 menuKey_Shift = 1;
constexpr UInt8 menuKey_Alt = 2;

class LMenu {
 public:
  // Reads 'MENU' inMenuID from the resources ('nilP' / resNotFound when missing).
  explicit LMenu(SInt16 inMenuID);
  LMenu(SInt16 inMenuID, const std::string& inTitle);
  LMenu(const LMenu&) = delete;
  LMenu& operator=(const LMenu&) = delete;
  virtual ~LMenu();

  SInt16 GetMenuID() const { return mMenuID; }
  const std::string& GetTitle() const { return mTitle; }
  SInt16 CountItems() const { return static_cast<SInt16>(mItems.size()); }
  const SMenuItem& GetItem(SInt16 inItem) const;
  // Appends an item (or a separator for empty text); returns its index.
  SInt16 AppendItem(const std::string& inText, CommandT inCommand = cmd_Nothing, char inKey = 0, UInt8 inModifiers = 0);
  SInt16 InsertItem(const std::string& inText, SInt16 inAfterItem, CommandT inCommand = cmd_Nothing);
  void RemoveItem(SInt16 inItem);
  void RemoveAllItems();
  // The command an item runs (its number, or its synthetic command).
  CommandT CommandFromIndex(SInt16 inItem) const;
  // The first item with the command (0: none).
  SInt16 IndexFromCommand(CommandT inCommand) const;
  void SetItemText(SInt16 inItem, const std::string& inText);
  void SetItemMark(SInt16 inItem, UInt16 inMark);
  void SetItemEnabled(SInt16 inItem, Boolean inEnabled);
  void SetItemCommand(SInt16 inItem, CommandT inCommand);
  void SetItemKey(SInt16 inItem, char inKey, UInt8 inModifiers);

  // Asks the commander chain for every item's status and shows it.
  void UpdateCommandStatus();
  // Chooses the item as the user would: fresh status, then the command when enabled.
  Boolean ChooseItem(SInt16 inItem);

  QMenu* GetQMenu() const { return mQMenu; }
  void SetSubmenu(SInt16 inItem, LMenu* inSubmenu);

 private:
  void MakeQMenu();
  void MakeAction(SInt16 inItem);
  void ShowItem(SInt16 inItem);

  SInt16 mMenuID = 0;
  std::string mTitle;
  std::vector<SMenuItem> mItems;
  QMenu* mQMenu = nullptr;
};

class LMenuBar {
 public:
  // Reads 'MBAR' inMBARid and its menus.
  explicit LMenuBar(SInt16 inMBARid);
  LMenuBar();
  LMenuBar(const LMenuBar&) = delete;
  LMenuBar& operator=(const LMenuBar&) = delete;
  ~LMenuBar();

  static LMenuBar* GetCurrentMenuBar() { return sMenuBar; }

  // Adds a menu (owned) before the menu with inBeforeID (0: at the end); a
  // negative id marks a hierarchical menu that is not in the bar.
  void InstallMenu(LMenu* inMenu, SInt16 inBeforeID = 0);
  void RemoveMenu(LMenu* inMenu);
  LMenu* FetchMenu(SInt16 inMenuID) const;
  const std::vector<LMenu*>& GetMenus() const { return mMenus; }
  // Finds the menu and item of a command (false: none).
  Boolean FindItem(CommandT inCommand, LMenu*& outMenu, SInt16& outItem) const;
  // Every item's status from the chain (before a key acts; when the chain changed).
  void UpdateCommandStatus();
  // The item whose key is this character with these modifiers (0: none).
  CommandT FindKeyCommand(char inKey, UInt8 inModifiers) const;

  // Puts the bar's menus into a window's QMenuBar (shared QMenus).
  void AttachTo(QMenuBar* inBar);

 private:
  std::vector<LMenu*> mMenus;
  std::vector<LMenu*> mHierMenus;
  struct BarList;  // the windows' menu bars showing these menus
  BarList* mBars;
  static LMenuBar* sMenuBar;
};
