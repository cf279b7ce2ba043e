// The recently used movie files: alias records, index 1 the most recent, at
// most 10, shown in the recent-files menu (MENU 142) with one item per file
// (synthetic commands), a separator and the clear item (command 1014).
// Stored in the preferences' settings resource as one tag-100 record per
// alias, newest first, closing the section with the end tag.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Aliases.h"
#include "platform/files/Files.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/TArray.h"

class LTagReader;
class LTagWriter;

constexpr SInt16 MENU_RecentFiles = 142;
constexpr SInt16 STRx_RecentFiles = 5015;
constexpr CommandT cmd_ClearRecentFiles = 1014;
constexpr UInt32 kRecentFileTag = 100;
constexpr SInt32 kMaxRecentFiles = 10;
// An alias record states its own size in 16 bits; anything longer (or shorter
// than its header) is not one.
constexpr UInt32 kMaxAliasRecordSize = 0xFFFF;
constexpr UInt32 kMinAliasRecordSize = sizeof(OSType) + sizeof(UInt16);

class CRecentFiles {
 public:
  // Moves the file to the top (a new entry when it is not listed), drops the
  // oldest beyond 10 and rebuilds the menu.
  static void AddToRecentFileMenu(FSSpec* inSpec);
  // Resolves entry inIndex (from 1); the resolver's OSErr, -1 when there is none.
  static OSErr GetFile(SInt16 inIndex, FSSpec* outSpec, UInt32 inMountFlags);
  static SInt16 GetFileCount();
  // Forgets every entry and rebuilds the menu.
  static void Delete();
  // Rebuilds MENU 142 of the current menu bar, when it has one.
  static void UpdateRecentFileMenu();
  // The status of a recent-file item's synthetic command: true when the
  // command is one, enabled when its file still resolves.
  static Boolean FindCommandStatus(CommandT inCommand, Boolean& outEnabled);

  // One record per alias, then the end tag; a writer error is thrown.
  static void WriteToStream(LTagWriter& inWriter);
  // Appends the records of the section (at most 10 entries in all); ends
  // silently on any error.
  static void ReadFromStream(LTagReader& inReader);

 private:
  static TArray<AliasHandle> mRecentFiles;
};
