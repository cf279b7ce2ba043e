// Aliases: a handle holding a self-contained record of a file's path, its
// device and inode numbers, birth time and kind (big-endian), so it can be
// stored in files and sent to the other program as plain bytes. An inode
// number counts as the file's only with the same birth time and kind, since
// the numbers of deleted files are given to new ones. Resolving tries the path first
// (a file replaced under the same name still counts, reported as changed),
// then looks for the inode near where the file was (its folder and the
// folders below, then its folder's parent), so a renamed or moved file is
// found again.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

struct AliasRecord {
  OSType userType;
  UInt16 aliasSize;
};
typedef AliasRecord* AliasPtr;
typedef AliasPtr* AliasHandle;

typedef SInt16 AliasInfoType;
constexpr AliasInfoType asiZoneName = -3;
constexpr AliasInfoType asiServerName = -2;
constexpr AliasInfoType asiVolumeName = -1;
constexpr AliasInfoType asiAliasName = 0;
constexpr AliasInfoType asiParentName = 1;

constexpr UInt32 kResolveAliasFileNoUI = 1;

// The target must exist. fromFile is accepted for the call shape and ignored.
OSErr NewAlias(const FSSpec* fromFile, const FSSpec* target, AliasHandle* alias);
// A record of a place by its path alone, for a file that is to be written
// there (its folder must exist; a file there now is not taken for it): it
// resolves to the path, whether a file stands there or not, and is never
// taken to a file that was moved away.
OSErr NewAliasToPath(const FSSpec* target, AliasHandle* alias);
OSErr FSNewAlias(const FSRef* fromFile, const FSRef* target, AliasHandle* inAlias);
// wasChanged is true when the record no longer matched (renamed, moved or replaced);
// the record itself is left as it was (UpdateAlias refreshes it).
OSErr ResolveAlias(const FSSpec* fromFile, AliasHandle alias, FSSpec* target, Boolean* wasChanged);
OSErr ResolveAliasWithMountFlags(const FSSpec* fromFile, AliasHandle alias, FSSpec* target, Boolean* wasChanged,
                                 UInt32 mountFlags);
OSErr FSResolveAliasWithMountFlags(const FSRef* fromFile, AliasHandle inAlias, FSRef* target, Boolean* wasChanged,
                                   UInt32 mountFlags);
// Points the record at the target (which must exist); wasChanged tells whether it differed.
OSErr UpdateAlias(const FSSpec* fromFile, const FSSpec* target, AliasHandle alias, Boolean* wasChanged);
// asiAliasName: the file's name; asiParentName: its folder's name; asiVolumeName: the volume's.
OSErr GetAliasInfo(AliasHandle alias, AliasInfoType index, StringPtr theString);
