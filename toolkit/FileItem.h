// A watched file: an alias of the file and its last known modification time.
// Its listeners are the parties interested in the file; their number is the
// file's open count.
#pragma once

#include "platform/files/Aliases.h"
#include "platform/files/Files.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LListener.h"

class FileSpecItem : public LBroadcaster {
 public:
  // Throws when the file cannot be made an alias of (it does not exist).
  FileSpecItem(FSSpec& inSpec, LListener* inListener);
  ~FileSpecItem() override;
  FileSpecItem(const FileSpecItem&) = delete;
  FileSpecItem& operator=(const FileSpecItem&) = delete;

  // Whether the alias resolves to this file.
  bool IsEqualFile(FSSpec& inSpec);
  // Broadcasts msg_FileChanged when the file was modified, moved or lost;
  // false once the file is lost.
  bool TestFile();
  // Moves the file to the trash; a failure shows a stop alert and is returned.
  OSErr DeleteFile();
  SInt32 GetOpenCount() const { return CountListeners(); }

 private:
  AliasHandle mAlias = nullptr;
  UInt32 mModDate = 0;   // seconds since 1904
  SInt64 mModStamp = 0;  // nanoseconds, so changes within one second count too
  FSSpec mLastSpec;      // where the file was last seen
};
