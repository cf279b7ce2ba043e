#include "app/CRecentFiles.h"

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Resources.h"
#include "platform/ui/LMenu.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

TArray<AliasHandle> CRecentFiles::mRecentFiles;

namespace {

void DisposeAlias(AliasHandle inAlias) {
  if (inAlias) DisposeHandle(reinterpret_cast<Handle>(inAlias));
}

}  // namespace

void CRecentFiles::AddToRecentFileMenu(FSSpec* inSpec) {
  if (!inSpec) return;
  const std::string wanted = FSSpecPath(*inSpec);
  ArrayIndexT match = 0;
  for (ArrayIndexT i = 1; i <= mRecentFiles.GetCount(); ++i) {
    AliasHandle alias = nullptr;
    mRecentFiles.FetchItemAt(i, alias);
    if (!alias) continue;
    FSSpec resolved;
    Boolean changed = false;
    if (ResolveAliasWithMountFlags(nullptr, alias, &resolved, &changed, kResolveAliasFileNoUI) == noErr &&
        FSSpecPath(resolved) == wanted)
      match = i;  // the last one found counts
  }
  if (match != 0) {
    AliasHandle alias = nullptr;
    mRecentFiles.FetchItemAt(match, alias);
    mRecentFiles.RemoveItemsAt(1, match);
    mRecentFiles.InsertItemsAt(1, 1, alias);
  } else {
    AliasHandle alias = nullptr;
    ThrowIfOSErr_(NewAlias(nullptr, inSpec, &alias));
    mRecentFiles.InsertItemsAt(1, 1, alias);
  }
  while (mRecentFiles.GetCount() > kMaxRecentFiles) {
    AliasHandle oldest = nullptr;
    mRecentFiles.FetchItemAt(mRecentFiles.GetCount(), oldest);
    mRecentFiles.RemoveItemsAt(1, mRecentFiles.GetCount());
    DisposeAlias(oldest);
  }
  UpdateRecentFileMenu();
}

OSErr CRecentFiles::GetFile(SInt16 inIndex, FSSpec* outSpec, UInt32 inMountFlags) {
  AliasHandle alias = nullptr;
  if (!mRecentFiles.FetchItemAt(inIndex, alias) || !alias || !outSpec) return -1;
  Boolean changed = false;
  return ResolveAliasWithMountFlags(nullptr, alias, outSpec, &changed, inMountFlags);
}

SInt16 CRecentFiles::GetFileCount() { return static_cast<SInt16>(mRecentFiles.GetCount()); }

void CRecentFiles::Delete() {
  for (ArrayIndexT i = 1; i <= mRecentFiles.GetCount(); ++i) {
    AliasHandle alias = nullptr;
    mRecentFiles.FetchItemAt(i, alias);
    DisposeAlias(alias);
  }
  mRecentFiles.RemoveAllItems();
  UpdateRecentFileMenu();
}

void CRecentFiles::UpdateRecentFileMenu() {
  LMenuBar* bar = LMenuBar::GetCurrentMenuBar();
  LMenu* menu = bar ? bar->FetchMenu(MENU_RecentFiles) : nullptr;
  if (!menu) return;
  menu->RemoveAllItems();
  for (ArrayIndexT i = 1; i <= mRecentFiles.GetCount(); ++i) {
    AliasHandle alias = nullptr;
    mRecentFiles.FetchItemAt(i, alias);
    if (!alias) continue;
    Str255 name = {0};
    GetAliasInfo(alias, asiAliasName, name);
    menu->AppendItem(PStrToString(name), cmd_Nothing);
  }
  if (menu->CountItems() > 0) menu->AppendItem("(-", cmd_Nothing);
  Str255 clearText = {0};
  GetIndString(clearText, STRx_RecentFiles, 1);
  menu->AppendItem(PStrToString(clearText), cmd_ClearRecentFiles);
  LCommander::SetUpdateCommandStatus(true);
}

Boolean CRecentFiles::FindCommandStatus(CommandT inCommand, Boolean& outEnabled) {
  SInt16 menuID = 0, item = 0;
  if (!LCommander::IsSyntheticCommand(inCommand, menuID, item) || menuID != MENU_RecentFiles) return false;
  FSSpec spec;
  outEnabled = item <= GetFileCount() && GetFile(item, &spec, kResolveAliasFileNoUI) == noErr;
  return true;
}

void CRecentFiles::WriteToStream(LTagWriter& inWriter) {
  for (ArrayIndexT i = 1; i <= mRecentFiles.GetCount(); ++i) {
    AliasHandle alias = nullptr;
    mRecentFiles.FetchItemAt(i, alias);
    if (!alias) continue;
    Handle h = reinterpret_cast<Handle>(alias);
    SInt8 state = HGetState(h);
    HLock(h);
    OSErr err = inWriter.WriteNextTag(kRecentFileTag, static_cast<UInt32>(GetHandleSize(h)), *h);
    HSetState(h, state);
    ThrowIfOSErr_(err);
  }
  ThrowIfOSErr_(inWriter.WriteNextTag(kTagEndOfSection, 0, nullptr));
}

void CRecentFiles::ReadFromStream(LTagReader& inReader) {
  try {
    UInt32 tag = 0, length = 0;
    while (inReader.ReadNextTag(tag, length)) {
      if (tag != kRecentFileTag) continue;
      // Beyond the tenth entry, and records no alias can have, are read past.
      if (mRecentFiles.GetCount() >= kMaxRecentFiles) continue;
      if (length < kMinAliasRecordSize || length > kMaxAliasRecordSize) continue;
      Handle h = NewHandle(static_cast<SInt32>(length));
      if (!h) continue;
      try {
        inReader.ReadData(*h, static_cast<SInt32>(length));
      } catch (...) {
        DisposeHandle(h);
        throw;
      }
      mRecentFiles.AddItem(reinterpret_cast<AliasHandle>(h));
    }
  } catch (...) {
    // A damaged section ends the list where it broke.
    LogCurrentException("recent files", "ReadFromStream");
  }
}
