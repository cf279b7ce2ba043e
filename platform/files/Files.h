// The file manager over POSIX paths.
//
// An FSSpec names a file or folder that may not exist yet; an FSRef one that
// exists. Both are fixed-size, trivially copyable records that carry the full,
// normalised, absolute POSIX path in a zero-filled buffer, so two records for
// the same item compare equal byte for byte. The path is what counts; vRefNum,
// parID and name are filled in for the callers that look at them (the name is
// the leaf, cut at 63 bytes for display).
//
// Folders get directory ids from a process-wide table (the root folder is 2),
// so FSMakeFSSpec(vRefNum, dirID, name) works with the ids that FindFolder
// and GetDirectoryID hand out. There is one volume, reference -1, index 1.
//
// Finder information (type, creator, flags) lives in the extended attribute
// "user.trx.finderinfo" (32 bytes, the classic layout, big-endian). Where the
// file system takes no user attributes it goes into the file's sidecar, the
// AppleDouble file "._name" beside it, which also holds the resource fork.
// Deleting, renaming, moving, exchanging and copying take the sidecar along.
#pragma once

#include <string>
#include <type_traits>

#include "platform/base/MacTypes.h"
#include "platform/files/FileErrors.h"
#include "platform/files/FilePermissions.h"

constexpr size_t kFSMaxPath = 1024;

typedef SInt16 FSVolumeRefNum;

struct FSSpec {
  SInt16 vRefNum;
  SInt32 parID;
  Str63 name;
  char path[kFSMaxPath];
};
typedef FSSpec* FSSpecPtr;

struct FSRef {
  char path[kFSMaxPath];
};
typedef FSRef* FSRefPtr;

static_assert(std::is_trivially_copyable_v<FSSpec> && std::is_trivially_copyable_v<FSRef>,
              "file records are copied and compared as bytes");

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  SInt16 fdFldr;
};

struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
};

typedef UInt32 FSCatalogInfoBitmap;
constexpr FSCatalogInfoBitmap kFSCatInfoNone = 0;
constexpr FSCatalogInfoBitmap kFSCatInfoGettableInfo = 0x0003FFFF;
constexpr UInt16 kFSNodeIsDirectoryMask = 0x0010;

struct FSCatalogInfo {
  UInt16 nodeFlags;
  FSVolumeRefNum volume;
  UInt32 parentDirID;
  UInt32 nodeID;
  UInt64 dataLogicalSize;
  UInt64 rsrcLogicalSize;
  UInt32 contentModDate;  // seconds since 1904
  FInfo finderInfo;
};

// Permissions (fsCurPerm, fsRdPerm, fsWrPerm, fsRdWrPerm) come with the
// framework's file stream; positioning modes:
constexpr SInt16 fsAtMark = 0;
constexpr SInt16 fsFromStart = 1;
constexpr SInt16 fsFromLEOF = 2;
constexpr SInt16 fsFromMark = 3;

constexpr SInt16 kFSRootVolume = -1;
constexpr SInt32 fsRtParID = 1;
constexpr SInt32 fsRtDirID = 2;
constexpr SInt16 smSystemScript = -1;

constexpr OSErr permErr = -54;
constexpr OSErr notAFileErr = -1302;
constexpr OSErr errFSNotAFolder = -1407;
constexpr OSErr fidNotFound = -1300;
constexpr OSErr fsDataTooBigErr = -1310;
constexpr OSErr errFSBadFSRef = -1401;
constexpr OSErr fnfErrDirectory = -5025;  // the folder of an item was not found

// Specs and refs.
// dirID 0 with a name starting "/" takes the name as an absolute path; dirID 0
// otherwise is the current folder; an empty name names the folder itself.
// Returns noErr when the item exists, fnfErr when only its folder exists (the
// spec is still made), dirNFErr when the folder is missing, bdNamErr for a
// path too long.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec);
OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);
OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// Fills what is asked for; any of the out pointers may be nil.
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);
// Our own helpers around the path inside the records.
OSErr FSMakeFSSpecFromPath(const std::string& inPath, FSSpec* outSpec);
std::string FSSpecPath(const FSSpec& inSpec);
std::string FSRefPath(const FSRef& inRef);
bool FSSpecExists(const FSSpec& inSpec);

// Finder information.
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo);

// Creating, deleting, renaming, moving.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, SInt16 scriptTag);
OSErr FSpDirCreate(const FSSpec* spec, SInt16 scriptTag, SInt32* createdDirID);
// Deletes a file (with its sidecar) or an empty folder.
OSErr FSpDelete(const FSSpec* spec);
OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName);
// Moves the item into the folder named by dest.
OSErr FSpCatMove(const FSSpec* source, const FSSpec* dest);
// Swaps the contents of two files; each name keeps its place.
OSErr FSpExchangeFiles(const FSSpec* source, const FSSpec* dest);
// Copies a file with its Finder information and resource fork into the folder
// dstSpec under copyName (nil: the source's name). An existing target: dupFNErr.
OSErr FSpFileCopy(const FSSpec* srcSpec, const FSSpec* dstSpec, ConstStr255Param copyName, void* copyBufferPtr,
                  SInt32 copyBufferSize, Boolean preflight);
// The directory id of a folder given by volume, parent id and name.
OSErr GetDirectoryID(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, SInt32* theDirID, Boolean* isDirectory);
// The folder's POSIX path for a directory id (empty when unknown).
std::string FSDirectoryPath(SInt32 dirID);
// The modification date in seconds since 1904, and the same to the nanosecond
// since 1970 for callers that must see changes within one second.
OSErr FSpGetModDate(const FSSpec* spec, UInt32* outSeconds);
OSErr FSpGetModStamp(const FSSpec* spec, SInt64* outNanoseconds);

// Data forks, by reference number.
OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum);
OSErr FSClose(SInt16 refNum);
// Reads or writes *count bytes at the mark; a short read sets *count and
// answers eofErr.
OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr);
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);
OSErr GetEOF(SInt16 refNum, SInt32* logEOF);
OSErr SetEOF(SInt16 refNum, SInt32 logEOF);
OSErr GetFPos(SInt16 refNum, SInt32* filePos);
OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff);
// 64-bit forms for large movie files.
OSErr FSGetForkSize(SInt16 forkRefNum, SInt64* forkSize);
OSErr FSSetForkSize(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkPosition(SInt16 forkRefNum, SInt64* position);
OSErr FSSetForkPosition(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset);
OSErr FSReadFork(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                 void* buffer, ByteCount* actualCount);
OSErr FSWriteFork(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                  const void* buffer, ByteCount* actualCount);
// The path of an open fork (empty for an unknown reference).
std::string FSForkPath(SInt16 refNum);

// Volumes: one volume, index 1. Its name is "Root".
OSErr FSGetVolumeName(SInt16 volumeIndex, SInt16* outVRefNum, StringPtr outName);

// Special folders under the user's XDG folders:
//   'temp' temporary items   $XDG_CACHE_HOME/Tremblorix/Temporary Items   (~/.cache)
//   'pref' preferences       $XDG_CONFIG_HOME/Tremblorix                  (~/.config)
//   'trsh' trash             $XDG_DATA_HOME/Trash/files                   (~/.local/share)
constexpr SInt16 kOnSystemDisk = -32768;
constexpr SInt16 kUserDomain = -32763;
constexpr Boolean kCreateFolder = true;
constexpr Boolean kDontCreateFolder = false;
constexpr OSType kTemporaryFolderType = 'temp';
constexpr OSType kPreferencesFolderType = 'pref';
constexpr OSType kTrashFolderType = 'trsh';
OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID);


class UFinderInfo {
 public:
  // Keeps Finder information in the sidecar even where extended attributes
  // work (for tests of the fallback).
  static void SetForceSidecar(bool inForce);
};

