#include "platform/ui/LMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <algorithm>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Resources.h"
#include "platform/framework/LDataStream.h"
#include "platform/ui/UQtSupport.h"

LMenuBar* LMenuBar::sMenuBar = nullptr;

struct LMenuBar::BarList {
  std::vector<QPointer<QMenuBar>> bars;
  std::vector<QMenuBar*> Live() {
    bars.erase(std::remove_if(bars.begin(), bars.end(), [](const QPointer<QMenuBar>& b) { return b.isNull(); }), bars.end());
    std::vector<QMenuBar*> out;
    for (auto& b : bars) out.push_back(b.data());
    return out;
  }
};

namespace {
// Reads a resource into a stream-readable copy ('nilP' when missing).
std::vector<char> LoadResource(ResType inType, SInt16 inID) {
  Handle h = GetResource(inType, inID);
  if (!h || !*h) Throw_(err_NilPointer);
  std::vector<char> bytes(*h, *h + GetHandleSize(h));
  ReleaseResource(h);
  return bytes;
}

QString MenuText(const std::string& inText) { return QString::fromUtf8(inText.c_str()); }

// Empty, "-" and "(-" (the disabled separator) items are separators.
bool IsSeparatorText(const std::string& inText) { return inText.empty() || inText == "-" || inText == "(-"; }
}  // namespace

LMenu::LMenu(SInt16 inMenuID) : mMenuID(inMenuID) {
  std::vector<char> bytes = LoadResource('MENU', inMenuID);
  LDataStream stream(bytes.data(), static_cast<SInt32>(bytes.size()));
  SInt16 id = 0, count = 0;
  Str255 text = {0};
  stream >> id;
  stream.ReadPString(text);
  mTitle = PStrToString(text);
  stream >> count;
  for (SInt16 i = 0; i < count; ++i) {
    SMenuItem item;
    stream.ReadPString(text);
    item.text = PStrToString(text);
    SInt32 command = 0;
    UInt8 key = 0, modifiers = 0, mark = 0, enabled = 1;
    SInt16 submenu = 0;
    stream >> command >> key >> modifiers >> mark >> submenu >> enabled;
    item.command = command;
    item.key = static_cast<char>(key);
    item.keyModifiers = modifiers;
    item.mark = mark;
    item.submenuID = submenu;
    item.enabled = enabled != 0;
    mItems.push_back(item);
  }
  MakeQMenu();
}

LMenu::LMenu(SInt16 inMenuID, const std::string& inTitle) : mMenuID(inMenuID), mTitle(inTitle) { MakeQMenu(); }

LMenu::~LMenu() {
  if (mQMenu) {
    QMenu* menu = mQMenu;
    mQMenu = nullptr;
    UQt::OnMain([menu] { delete menu; });
  }
}

void LMenu::MakeQMenu() {
  UQt::OnMain([this] {
    UQt::EnsureApplication();
    mQMenu = new QMenu(MenuText(mTitle));
    QObject::connect(mQMenu, &QMenu::aboutToShow, mQMenu, [this] { UpdateCommandStatus(); });
    for (SInt16 i = 1; i <= CountItems(); ++i) MakeAction(i);
  });
}

void LMenu::MakeAction(SInt16 inItem) {
  SMenuItem& item = mItems[static_cast<size_t>(inItem - 1)];
  QAction* before = nullptr;
  for (size_t j = static_cast<size_t>(inItem); j < mItems.size() && !before; ++j) before = mItems[j].action;
  bool separator = IsSeparatorText(item.text);
  QAction* action = separator ? new QAction(mQMenu) : new QAction(MenuText(item.text), mQMenu);
  if (separator) action->setSeparator(true);
  mQMenu->insertAction(before, action);
  item.action = action;
  QObject::connect(action, &QAction::triggered, action, [this, action] {
    for (SInt16 i = 1; i <= CountItems(); ++i)
      if (mItems[static_cast<size_t>(i - 1)].action == action) {
        ChooseItem(i);
        return;
      }
  });
  ShowItem(inItem);
}

void LMenu::ShowItem(SInt16 inItem) {
  SMenuItem& item = mItems[static_cast<size_t>(inItem - 1)];
  if (!item.action || item.action->isSeparator()) return;
  UQt::OnMain([&item] {
    QAction* a = item.action;
    a->setText(MenuText(item.text));
    a->setEnabled(item.enabled);
    a->setCheckable(item.mark != noMark);
    a->setChecked(item.mark != noMark);
    if (item.key) {
      int key = std::toupper(static_cast<unsigned char>(item.key));
      QKeyCombination combo(Qt::ControlModifier, static_cast<Qt::Key>(key));
      Qt::KeyboardModifiers mods = Qt::ControlModifier;
      if (item.keyModifiers & menuKey_Shift) mods |= Qt::ShiftModifier;
      if (item.keyModifiers & menuKey_Alt) mods |= Qt::AltModifier;
      a->setShortcut(QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(key))));
      a->setShortcutContext(Qt::ApplicationShortcut);
      (void)combo;
    } else {
      a->setShortcut(QKeySequence());
    }
  });
}

const SMenuItem& LMenu::GetItem(SInt16 inItem) const {
  if (inItem < 1 || inItem > CountItems()) Throw_(paramErr);
  return mItems[static_cast<size_t>(inItem - 1)];
}

SInt16 LMenu::AppendItem(const std::string& inText, CommandT inCommand, char inKey, UInt8 inModifiers) {
  SMenuItem item;
  item.text = inText;
  item.command = inCommand;
  item.key = inKey;
  item.keyModifiers = inModifiers;
  mItems.push_back(item);
  SInt16 index = CountItems();
  UQt::OnMain([this, index] { MakeAction(index); });
  return index;
}

SInt16 LMenu::InsertItem(const std::string& inText, SInt16 inAfterItem, CommandT inCommand) {
  inAfterItem = std::clamp<SInt16>(inAfterItem, 0, CountItems());
  SMenuItem item;
  item.text = inText;
  item.command = inCommand;
  mItems.insert(mItems.begin() + inAfterItem, item);
  SInt16 index = static_cast<SInt16>(inAfterItem + 1);
  UQt::OnMain([this, index] { MakeAction(index); });
  return index;
}

void LMenu::RemoveItem(SInt16 inItem) {
  if (inItem < 1 || inItem > CountItems()) return;
  QAction* action = mItems[static_cast<size_t>(inItem - 1)].action;
  mItems.erase(mItems.begin() + (inItem - 1));
  if (action) UQt::OnMain([this, action] {
      mQMenu->removeAction(action);
      delete action;
    });
}

void LMenu::RemoveAllItems() {
  while (CountItems() > 0) RemoveItem(CountItems());
}

CommandT LMenu::CommandFromIndex(SInt16 inItem) const {
  const SMenuItem& item = GetItem(inItem);
  if (item.command != cmd_Nothing) return item.command;
  return LCommander::SyntheticCommandForMenuItem(mMenuID, inItem);
}

SInt16 LMenu::IndexFromCommand(CommandT inCommand) const {
  for (SInt16 i = 1; i <= CountItems(); ++i)
    if (CommandFromIndex(i) == inCommand) return i;
  return 0;
}

void LMenu::SetItemText(SInt16 inItem, const std::string& inText) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].text = inText;
  ShowItem(inItem);
}

void LMenu::SetItemMark(SInt16 inItem, UInt16 inMark) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].mark = inMark;
  ShowItem(inItem);
}

void LMenu::SetItemEnabled(SInt16 inItem, Boolean inEnabled) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].enabled = inEnabled;
  ShowItem(inItem);
}

void LMenu::SetItemCommand(SInt16 inItem, CommandT inCommand) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].command = inCommand;
}

void LMenu::SetItemKey(SInt16 inItem, char inKey, UInt8 inModifiers) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].key = inKey;
  mItems[static_cast<size_t>(inItem - 1)].keyModifiers = inModifiers;
  ShowItem(inItem);
}

void LMenu::SetSubmenu(SInt16 inItem, LMenu* inSubmenu) {
  if (inItem < 1 || inItem > CountItems() || !inSubmenu) return;
  SMenuItem& item = mItems[static_cast<size_t>(inItem - 1)];
  item.submenuID = inSubmenu->GetMenuID();
  UQt::OnMain([&item, inSubmenu] { item.action->setMenu(inSubmenu->GetQMenu()); });
}

void LMenu::UpdateCommandStatus() {
  for (SInt16 i = 1; i <= CountItems(); ++i) {
    SMenuItem& item = mItems[static_cast<size_t>(i - 1)];
    if (IsSeparatorText(item.text) || item.submenuID != 0) continue;
    Boolean enabled = false, usesMark = false;
    UInt16 mark = noMark;
    Str255 name = {0};
    LCommander::GetCommandStatus(CommandFromIndex(i), enabled, usesMark, mark, name);
    item.enabled = enabled;
    item.mark = usesMark ? mark : noMark;
    if (name[0] > 0) item.text = PStrToString(name);
    ShowItem(i);
  }
}

Boolean LMenu::ChooseItem(SInt16 inItem) {
  if (inItem < 1 || inItem > CountItems()) return false;
  // The status may have changed since the menu was shown: ask again.
  return LCommander::DoEnabledCommand(CommandFromIndex(inItem), nullptr);
}

LMenuBar::LMenuBar() : mBars(new BarList) { sMenuBar = this; }

LMenuBar::LMenuBar(SInt16 inMBARid) : mBars(new BarList) {
  sMenuBar = this;
  std::vector<char> bytes = LoadResource('MBAR', inMBARid);
  LDataStream stream(bytes.data(), static_cast<SInt32>(bytes.size()));
  SInt16 count = 0;
  stream >> count;
  for (SInt16 i = 0; i < count; ++i) {
    SInt16 id = 0;
    stream >> id;
    InstallMenu(new LMenu(id));
  }
  // Submenus named by items are read and hooked up as hierarchical menus.
  for (size_t m = 0; m < mMenus.size(); ++m) {
    LMenu* menu = mMenus[m];
    for (SInt16 i = 1; i <= menu->CountItems(); ++i) {
      SInt16 sub = menu->GetItem(i).submenuID;
      if (sub == 0) continue;
      LMenu* subMenu = FetchMenu(sub);
      if (!subMenu) {
        subMenu = new LMenu(sub);
        InstallMenu(subMenu, -1);
      }
      menu->SetSubmenu(i, subMenu);
    }
  }
}

LMenuBar::~LMenuBar() {
  for (QMenuBar* bar : mBars->Live()) UQt::OnMain([bar] { bar->clear(); });
  for (LMenu* m : mMenus) delete m;
  for (LMenu* m : mHierMenus) delete m;
  delete mBars;
  if (sMenuBar == this) sMenuBar = nullptr;
}

void LMenuBar::InstallMenu(LMenu* inMenu, SInt16 inBeforeID) {
  if (inBeforeID < 0) {
    mHierMenus.push_back(inMenu);
    return;
  }
  auto pos = std::find_if(mMenus.begin(), mMenus.end(), [&](LMenu* m) { return m->GetMenuID() == inBeforeID; });
  if (inBeforeID == 0) pos = mMenus.end();
  LMenu* before = pos == mMenus.end() ? nullptr : *pos;
  mMenus.insert(pos, inMenu);
  for (QMenuBar* bar : mBars->Live())
    UQt::OnMain([bar, inMenu, before] { bar->insertMenu(before ? before->GetQMenu()->menuAction() : nullptr, inMenu->GetQMenu()); });
}

void LMenuBar::RemoveMenu(LMenu* inMenu) {
  mMenus.erase(std::remove(mMenus.begin(), mMenus.end(), inMenu), mMenus.end());
  mHierMenus.erase(std::remove(mHierMenus.begin(), mHierMenus.end(), inMenu), mHierMenus.end());
  for (QMenuBar* bar : mBars->Live()) UQt::OnMain([bar, inMenu] { bar->removeAction(inMenu->GetQMenu()->menuAction()); });
}

LMenu* LMenuBar::FetchMenu(SInt16 inMenuID) const {
  for (LMenu* m : mMenus)
    if (m->GetMenuID() == inMenuID) return m;
  for (LMenu* m : mHierMenus)
    if (m->GetMenuID() == inMenuID) return m;
  return nullptr;
}

Boolean LMenuBar::FindItem(CommandT inCommand, LMenu*& outMenu, SInt16& outItem) const {
  for (const auto* list : {&mMenus, &mHierMenus})
    for (LMenu* m : *list)
      if (SInt16 i = m->IndexFromCommand(inCommand)) {
        outMenu = m;
        outItem = i;
        return true;
      }
  return false;
}

void LMenuBar::UpdateCommandStatus() {
  for (LMenu* m : mMenus) m->UpdateCommandStatus();
  for (LMenu* m : mHierMenus) m->UpdateCommandStatus();
  LCommander::SetUpdateCommandStatus(false);
}

CommandT LMenuBar::FindKeyCommand(char inKey, UInt8 inModifiers) const {
  int key = std::toupper(static_cast<unsigned char>(inKey));
  for (const auto* list : {&mMenus, &mHierMenus})
    for (LMenu* m : *list)
      for (SInt16 i = 1; i <= m->CountItems(); ++i) {
        const SMenuItem& item = m->GetItem(i);
        if (item.key && std::toupper(static_cast<unsigned char>(item.key)) == key && item.keyModifiers == inModifiers)
          return m->CommandFromIndex(i);
      }
  return cmd_Nothing;
}

void LMenuBar::AttachTo(QMenuBar* inBar) {
  if (!inBar) return;
  mBars->bars.push_back(QPointer<QMenuBar>(inBar));
  UQt::OnMain([this, inBar] {
    for (LMenu* m : mMenus) inBar->addMenu(m->GetQMenu());
  });
}
