#include "toolkit/FileItem.h"

#include <cstring>
#include <string>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/UMessage.h"

namespace {

// A free name for the file in the trash: its own, else "name 2", "name 3"…
OSErr FreeNameIn(SInt16 inVRefNum, SInt32 inDirID, ConstStringPtr inName, Str255 outName) {
  std::string base = PStrToString(inName);
  for (SInt32 n = 1; n < 10000; ++n) {
    std::string name = n == 1 ? base : base.substr(0, 250) + " " + std::to_string(n);
    StringToPStr(name, outName);
    FSSpec spec;
    OSErr err = FSMakeFSSpec(inVRefNum, inDirID, outName, &spec);
    if (err == fnfErr) return noErr;
    if (err != noErr) return err;
  }
  return dupFNErr;
}

}  // namespace

FileSpecItem::FileSpecItem(FSSpec& inSpec, LListener* inListener) : mLastSpec(inSpec) {
  FSpGetModDate(&inSpec, &mModDate);
  FSpGetModStamp(&inSpec, &mModStamp);
  ThrowIfOSErr_(NewAlias(nullptr, &inSpec, &mAlias));
  if (inListener) AddListener(inListener);
  StartBroadcasting();
}

FileSpecItem::~FileSpecItem() { DisposeHandle(reinterpret_cast<Handle>(mAlias)); }

bool FileSpecItem::IsEqualFile(FSSpec& inSpec) {
  ThrowIfNil_(mAlias);
  FSSpec target;
  Boolean changed = false;
  if (ResolveAliasWithMountFlags(nullptr, mAlias, &target, &changed, kResolveAliasFileNoUI) != noErr) return false;
  return std::memcmp(&target, &inSpec, sizeof(FSSpec)) == 0;
}

bool FileSpecItem::TestFile() {
  ThrowIfNil_(mAlias);
  FSSpec target;
  Boolean changed = false;
  OSErr err = ResolveAliasWithMountFlags(nullptr, mAlias, &target, &changed, kResolveAliasFileNoUI);
  if (err != noErr) {
    // Lost: the listeners hear of it with the place it was last known at.
    FSSpec lost = mLastSpec;
    BroadcastMessage(msg_FileChanged, &lost);
    return false;
  }
  // Record the new state before telling anyone: a listener may end this item.
  if (changed) {
    Boolean updated = false;
    UpdateAlias(nullptr, &target, mAlias, &updated);
    FSpGetModDate(&target, &mModDate);
    FSpGetModStamp(&target, &mModStamp);
    mLastSpec = target;
    BroadcastMessage(msg_FileChanged, &target);
    return true;
  }
  UInt32 date = 0;
  SInt64 stamp = 0;
  bool readable = FSpGetModDate(&target, &date) == noErr && FSpGetModStamp(&target, &stamp) == noErr;
  // A date that cannot be read counts as a change.
  if (!readable || date != mModDate || stamp != mModStamp) {
    mModDate = date;
    mModStamp = stamp;
    mLastSpec = target;
    BroadcastMessage(msg_FileChanged, &target);
  }
  return true;
}

OSErr FileSpecItem::DeleteFile() {
  OSErr err = noErr;
  try {
    ThrowIfNil_(mAlias);
    FSSpec target;
    Boolean changed = false;
    ThrowIfOSErr_(ResolveAliasWithMountFlags(nullptr, mAlias, &target, &changed, kResolveAliasFileNoUI));
    SInt16 trashVRef = 0;
    SInt32 trashDir = 0;
    ThrowIfOSErr_(FindFolder(target.vRefNum, kTrashFolderType, kCreateFolder, &trashVRef, &trashDir));
    FSSpec trash;
    ThrowIfOSErr_(FSMakeFSSpec(trashVRef, trashDir, nullptr, &trash));
    Str255 freeName;
    ThrowIfOSErr_(FreeNameIn(trashVRef, trashDir, target.name, freeName));
    if (!PStrEqual(freeName, target.name)) {
      // A file of that name is in the trash already: rename on the way, and
      // back again when the move fails.
      ThrowIfOSErr_(FSpRename(&target, freeName));
      FSSpec renamed;
      FSMakeFSSpec(target.vRefNum, target.parID, freeName, &renamed);
      OSErr moveErr = FSpCatMove(&renamed, &trash);
      if (moveErr != noErr) {
        FSpRename(&renamed, target.name);
        Throw_(moveErr);
      }
    } else {
      ThrowIfOSErr_(FSpCatMove(&target, &trash));
    }
  } catch (const LException& e) {
    err = ErrorCodeToOSErr(e.GetErrorCode());
  }
  if (err != noErr) {
    LStr255 text("Couldn't move file to trash!");
    UMessage::StopAlert(text, err);
  }
  return err;
}
