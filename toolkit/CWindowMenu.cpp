#include "toolkit/CWindowMenu.h"

#include <algorithm>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/CRegularWindow.h"

CWindowMenu* CWindowMenu::mWindowMenu = nullptr;

namespace {
constexpr SInt32 kCommandKeys = 9;
}

CWindowMenu::CWindowMenu() : LMenu(MENU_Window, "Window") {}
CWindowMenu::CWindowMenu(SInt16 inMenuID) : LMenu(inMenuID) {}
CWindowMenu::CWindowMenu(SInt16 inMenuID, const std::string& inTitle) : LMenu(inMenuID, inTitle) {}

CWindowMenu::~CWindowMenu() {
  if (mWindowMenu == this) mWindowMenu = nullptr;
}

void CWindowMenu::Init() {
  LMenuBar* bar = LMenuBar::GetCurrentMenuBar();
  ThrowIfNil_(bar);
  auto* menu = new CWindowMenu(MENU_Window);
  bar->InstallMenu(menu, 0);
  mWindowMenu = menu;
}

void CWindowMenu::Finish() {}

std::string CWindowMenu::ItemText(const LWindow* inWindow) {
  // Menu texts read '&' as a mnemonic sign; a title shows it as it is.
  std::string text;
  for (char c : inWindow->GetTitle()) {
    text += c;
    if (c == '&') text += '&';
  }
  return text;
}

void CWindowMenu::InsertWindow(LWindow* inWindow) {
  if (!inWindow) return;
  auto pos = std::find(mWindowList.begin(), mWindowList.end(), inWindow);
  if (pos != mWindowList.end()) {
    SetItemText(WindowToMenuItem(inWindow), ItemText(inWindow));
    return;
  }
  if (mWindowList.empty() && CountItems() >= 1 && GetAnchorItem() == 0) AppendItem("", cmd_WindowMenuAnchor);
  mWindowList.push_back(inWindow);
  SInt16 item = AppendItem(" ", cmd_Nothing);
  SetItemText(item, ItemText(inWindow));
  SetCommandKeys();
}

void CWindowMenu::RemoveWindow(LWindow* inWindow) {
  auto pos = std::find(mWindowList.begin(), mWindowList.end(), inWindow);
  if (pos == mWindowList.end()) return;
  RemoveItem(WindowToMenuItem(inWindow));
  mWindowList.erase(pos);
  SInt16 anchor = GetAnchorItem();
  if (mWindowList.empty() && anchor > 1) RemoveItem(anchor);
  SetCommandKeys();
}

void CWindowMenu::SetCommandKeys() {
  const SInt16 anchor = GetAnchorItem();
  for (SInt32 i = 1; i <= kCommandKeys && i <= CountWindows(); ++i)
    SetItemKey(static_cast<SInt16>(anchor + i), static_cast<char>('0' + i), 0);
}

SInt16 CWindowMenu::WindowToMenuItem(const LWindow* inWindow) const {
  auto pos = std::find(mWindowList.begin(), mWindowList.end(), inWindow);
  if (pos == mWindowList.end()) return 0;
  return static_cast<SInt16>(GetAnchorItem() + (pos - mWindowList.begin()) + 1);
}

LWindow* CWindowMenu::MenuItemToWindow(SInt16 inItem) const {
  SInt32 index = inItem - GetAnchorItem();
  if (index < 1 || index > CountWindows()) return nullptr;
  return mWindowList[static_cast<size_t>(index - 1)];
}

CPageSwitcher* CWindowMenu::MenuItemToPage(SInt16 inItem) const {
  if (inItem < 1 || inItem > static_cast<SInt32>(mPageList.size())) return nullptr;
  return mPageList[static_cast<size_t>(inItem - 1)];
}

SInt16 CWindowMenu::PageToMenuItem(const CPageSwitcher* inPage) const {
  auto pos = std::find(mPageList.begin(), mPageList.end(), inPage);
  return pos == mPageList.end() ? 0 : static_cast<SInt16>(pos - mPageList.begin() + 1);
}

LWindow* CWindowMenu::WindowOfCommand(CommandT inCommand) const {
  SInt16 menuID = 0, item = 0;
  if (!LCommander::IsSyntheticCommand(inCommand, menuID, item) || menuID != GetMenuID()) return nullptr;
  return MenuItemToWindow(item);
}

Boolean CWindowMenu::FindWindowCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                             UInt16& outMark, Str255 outName) {
  LWindow* window = mWindowMenu ? mWindowMenu->WindowOfCommand(inCommand) : nullptr;
  if (!window) return false;
  outEnabled = true;
  outUsesMark = true;
  outMark = window == UDesktop::FetchTopRegular() ? checkMark : noMark;
  StringToPStr(ItemText(window), outName);
  return true;
}

Boolean CWindowMenu::ObeyWindowCommand(CommandT inCommand) {
  LWindow* window = mWindowMenu ? mWindowMenu->WindowOfCommand(inCommand) : nullptr;
  if (!window) return false;
  if (!window->GetVisibleState()) return true;
  // A collapsed window comes back (through the document window, so that its
  // listeners hear it expand) and goes in front of the others.
  if (auto* regular = dynamic_cast<CRegularWindow*>(window); regular && regular->IsCollapsed())
    regular->SetCollapsed(false);
  UDesktop::SelectDeskWindow(window);
  UWindowState::BringForward(window);
  return true;
}
