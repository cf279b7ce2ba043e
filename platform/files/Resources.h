// The resource manager. A file's resource fork lives in its sidecar ("._name",
// see Files.h); a resource file of the bundle keeps its map in the data fork
// (FSOpenResourceFile with an empty fork name). Open files form a chain: the
// file opened last is current, searches run from the current file down the
// chain and end with the application's resource file (the bundle's
// "Contents/Resources/Tremblorix.rsrc", opened read-only on first need).
//
// Resource handles belong to the manager until detached; closing a file
// disposes of its attached handles. Changes reach the disk on WriteResource,
// UpdateResFile or CloseResFile. ResError() reports the last call's result on
// the calling thread. Error codes:
//   fnfErr (-43) no such file, dirNFErr (-120) no such folder,
//   resFNotFound (-193) a file without resource fork,
//   eofErr (-39) a damaged resource fork (its map or data cannot be read),
//   resNotFound (-192) no such resource, addResFailed (-194), rmvResFailed
//   (-196), resAttrErr (-198) a change to a file opened read-only.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

typedef UInt16 UniCharCount;

// Resource attributes.
constexpr SInt16 resSysHeap = 64;
constexpr SInt16 resPurgeable = 32;
constexpr SInt16 resLocked = 16;
constexpr SInt16 resProtected = 8;
constexpr SInt16 resPreload = 4;
constexpr SInt16 resChanged = 2;
// File attributes.
constexpr SInt16 mapReadOnly = 128;
constexpr SInt16 mapChanged = 32;

constexpr SInt16 kResFileNotOpened = -1;

// -1 on failure (ResError tells why).
SInt16 FSpOpenResFile(const FSSpec* spec, SInt8 permission);
// Creates the file (type and creator given) when missing, and gives it an
// empty resource fork when it has none; a file that already has one: dupFNErr.
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, SInt16 scriptTag);
// A fork name of length 0 opens a resource map kept in the data fork.
OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName, SInt8 permissions,
                         SInt16* refNum);
void CloseResFile(SInt16 refNum);
void UseResFile(SInt16 refNum);
SInt16 CurResFile();
OSErr ResError();
void UpdateResFile(SInt16 refNum);
SInt16 GetResFileAttrs(SInt16 refNum);

Handle GetResource(ResType theType, ResID theID);
Handle Get1Resource(ResType theType, ResID theID);
Handle GetNamedResource(ResType theType, ConstStr255Param name);
Handle Get1NamedResource(ResType theType, ConstStr255Param name);
// 1-based index among the resources of the type.
Handle GetIndResource(ResType theType, SInt16 index);
Handle Get1IndResource(ResType theType, SInt16 index);
SInt16 CountResources(ResType theType);
SInt16 Count1Resources(ResType theType);
SInt16 Count1Types();
void Get1IndType(ResType* theType, SInt16 index);
SInt16 Unique1ID(ResType theType);
void SetResLoad(Boolean load);
void LoadResource(Handle theResource);

// The handle becomes a resource of the current file, owned by the manager.
void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name);
void ChangedResource(Handle theResource);
void WriteResource(Handle theResource);
// The resource leaves its file; the handle becomes the caller's.
void RemoveResource(Handle theResource);
// Disposes of the handle (changes not yet written are kept for the file).
void ReleaseResource(Handle theResource);
// The handle becomes the caller's; the resource stays in the file.
void DetachResource(Handle theResource);
void GetResInfo(Handle theResource, ResID* theID, ResType* theType, StringPtr name);
void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name);
SInt16 GetResAttrs(Handle theResource);
void SetResAttrs(Handle theResource, SInt16 attrs);
SInt16 HomeResFile(Handle theResource);
// The stored size of the resource's data (-1 when the handle is no resource).
SInt32 GetResourceSizeOnDisk(Handle theResource);
SInt32 GetMaxResourceSize(Handle theResource);

// Item `index` (from 1) of string list 'STR#' strListID along the chain; the
// empty string when the list or the item is missing.
void GetIndString(StringPtr theString, SInt16 strListID, SInt16 index);
// The same item as its bytes (the empty string when missing).
std::string IndString(SInt16 strListID, SInt16 index);

class UResources {
 public:
  // The application's resource file (opened on first need); -1 without one.
  static SInt16 GetApplicationResFile();
  // Closes every resource file, the application's included (for tests and
  // when the main bundle changes).
  static void CloseAll();
};
