#include "platform/files/Aliases.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"

namespace {

// userType (4), aliasSize (2), version (2), magic (4), device (8), inode (8),
// birth time in nanoseconds (8, 0 when the file system keeps none), file kind
// (2: the S_IFMT bits), path length (2), path. Inode numbers are reused once a
// file is deleted, so an inode only counts as the file's when its birth time
// and kind match too.
constexpr size_t kFixedSize = 40;
constexpr UInt16 kVersion = 2;
constexpr UInt32 kMagic = 'TrxA';
constexpr int kSearchDepth = 3;
constexpr int kSearchBudget = 20000;

struct AliasData {
  UInt64 dev = 0;
  UInt64 ino = 0;
  UInt64 birth = 0;
  UInt16 kind = 0;
  std::string path;
};

struct Identity {
  UInt64 dev = 0;
  UInt64 ino = 0;
  UInt64 birth = 0;
  UInt16 kind = 0;
};

bool Identify(const std::string& inPath, Identity& outId, bool inFollow = true) {
  struct statx sx {};
  int flags = inFollow ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::statx(AT_FDCWD, inPath.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  outId.dev = (static_cast<UInt64>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  outId.ino = sx.stx_ino;
  outId.birth = (sx.stx_mask & STATX_BTIME)
                    ? static_cast<UInt64>(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec
                    : 0;
  outId.kind = static_cast<UInt16>(sx.stx_mode & S_IFMT);
  return true;
}

bool SameFile(const Identity& inId, const AliasData& inData) {
  return inId.dev == inData.dev && inId.ino == inData.ino && inId.kind == inData.kind &&
         (inData.birth == 0 || inId.birth == inData.birth);
}

OSErr Decode(AliasHandle inAlias, AliasData& outData) {
  if (!inAlias || !IsValidHandle(reinterpret_cast<Handle>(inAlias))) return paramErr;
  Handle h = reinterpret_cast<Handle>(inAlias);
  SInt32 size = GetHandleSize(h);
  if (size < static_cast<SInt32>(kFixedSize)) return paramErr;
  const char* p = *h;
  if (ReadBE16(p + 6) != kVersion || ReadBE32(p + 8) != kMagic) return paramErr;
  outData.dev = ReadBE64(p + 12);
  outData.ino = ReadBE64(p + 20);
  outData.birth = ReadBE64(p + 28);
  outData.kind = ReadBE16(p + 36);
  UInt16 len = ReadBE16(p + 38);
  if (len == 0 || kFixedSize + len > static_cast<size_t>(size) || len >= kFSMaxPath) return paramErr;
  outData.path.assign(p + kFixedSize, len);
  if (outData.path[0] != '/' || outData.path.find('\0') != std::string::npos) return paramErr;
  return noErr;
}

// A record without identity (all zero) names a place by its path alone.
bool IsPathOnly(const AliasData& inData) { return inData.dev == 0 && inData.ino == 0 && inData.kind == 0; }

OSErr Encode(const std::string& inPath, AliasHandle* ioAlias, bool inReuse, bool inPathOnly = false) {
  Identity id;
  if (!inPathOnly && !Identify(inPath, id)) return fnfErr;
  size_t size = kFixedSize + inPath.size();
  Handle h = inReuse ? reinterpret_cast<Handle>(*ioAlias) : NewHandleClear(static_cast<SInt32>(size));
  if (!h) return memFullErr;
  if (inReuse) {
    SetHandleSize(h, static_cast<SInt32>(size));
    if (MemError() != noErr) return MemError();
  }
  char* p = *h;
  std::memset(p, 0, kFixedSize);
  WriteBE16(p + 4, static_cast<UInt16>(std::min<size_t>(size, 0xFFFF)));
  WriteBE16(p + 6, kVersion);
  WriteBE32(p + 8, kMagic);
  WriteBE64(p + 12, id.dev);
  WriteBE64(p + 20, id.ino);
  WriteBE64(p + 28, id.birth);
  WriteBE16(p + 36, id.kind);
  WriteBE16(p + 38, static_cast<UInt16>(inPath.size()));
  std::memcpy(p + kFixedSize, inPath.data(), inPath.size());
  *ioAlias = reinterpret_cast<AliasHandle>(h);
  return noErr;
}

std::string ParentOf(const std::string& inPath) {
  size_t slash = inPath.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : inPath.substr(0, slash);
}

std::string LeafOf(const std::string& inPath) {
  size_t slash = inPath.rfind('/');
  return slash == std::string::npos ? inPath : inPath.substr(slash + 1);
}

// Depth-first search for the inode below a folder, within a budget of entries.
bool FindInode(const std::string& inFolder, const AliasData& inData, int inDepth, int& ioBudget,
               const std::string& inSkip, std::string& outPath) {
  DIR* d = ::opendir(inFolder.c_str());
  if (!d) return false;
  std::vector<std::string> subfolders;
  bool found = false;
  while (struct dirent* e = ::readdir(d)) {
    if (--ioBudget < 0) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = (inFolder == "/" ? std::string("/") : inFolder + "/") + name;
    if (e->d_ino == inData.ino) {
      Identity id;
      if (Identify(path, id, false) && SameFile(id, inData)) {
        outPath = path;
        found = true;
        break;
      }
    }
    if (inDepth > 0 && path != inSkip && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)) subfolders.push_back(path);
  }
  ::closedir(d);
  if (found) return true;
  for (const std::string& sub : subfolders) {
    if (ioBudget < 0) break;
    struct stat st {};
    if (::lstat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (FindInode(sub, inData, inDepth - 1, ioBudget, inSkip, outPath)) return true;
  }
  return false;
}

OSErr ResolvePath(AliasHandle inAlias, std::string& outPath, Boolean* outChanged) {
  AliasData data;
  OSErr err = Decode(inAlias, data);
  if (err != noErr) return err;
  if (outChanged) *outChanged = false;
  if (IsPathOnly(data)) {
    // The place itself: its folder must be there, the file need not be.
    struct stat folder {};
    if (::stat(ParentOf(data.path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return dirNFErr;
    outPath = data.path;
    return noErr;
  }
  Identity id;
  if (Identify(data.path, id)) {
    outPath = data.path;
    if (outChanged) *outChanged = !SameFile(id, data);
    return noErr;
  }
  std::string folder = ParentOf(data.path);
  int budget = kSearchBudget;
  std::string found;
  if (FindInode(folder, data, kSearchDepth, budget, std::string(), found) ||
      (folder != "/" && FindInode(ParentOf(folder), data, kSearchDepth, budget, folder, found))) {
    outPath = found;
    if (outChanged) *outChanged = true;
    return noErr;
  }
  return fnfErr;
}

}  // namespace

OSErr NewAlias(const FSSpec* /*fromFile*/, const FSSpec* target, AliasHandle* alias) {
  if (!target || !alias) return paramErr;
  *alias = nullptr;
  std::string path = FSSpecPath(*target);
  if (path.empty()) return paramErr;
  return Encode(path, alias, false);
}

OSErr NewAliasToPath(const FSSpec* target, AliasHandle* alias) {
  if (!target || !alias) return paramErr;
  *alias = nullptr;
  std::string path = FSSpecPath(*target);
  if (path.empty() || path[0] != '/' || path == "/") return paramErr;
  struct stat folder {};
  if (::stat(ParentOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return dirNFErr;
  return Encode(path, alias, false, true);
}

OSErr FSNewAlias(const FSRef* /*fromFile*/, const FSRef* target, AliasHandle* inAlias) {
  if (!target || !inAlias) return paramErr;
  *inAlias = nullptr;
  std::string path = FSRefPath(*target);
  if (path.empty()) return errFSBadFSRef;
  return Encode(path, inAlias, false);
}

OSErr ResolveAlias(const FSSpec* fromFile, AliasHandle alias, FSSpec* target, Boolean* wasChanged) {
  return ResolveAliasWithMountFlags(fromFile, alias, target, wasChanged, 0);
}

OSErr ResolveAliasWithMountFlags(const FSSpec*, AliasHandle alias, FSSpec* target, Boolean* wasChanged, UInt32) {
  if (!target) return paramErr;
  std::string path;
  OSErr err = ResolvePath(alias, path, wasChanged);
  if (err != noErr) return err;
  err = FSMakeFSSpecFromPath(path, target);
  // A place named by its path alone resolves whether a file stands there or not.
  AliasData data;
  if (err == fnfErr && Decode(alias, data) == noErr && IsPathOnly(data)) return noErr;
  return err;
}

OSErr FSResolveAliasWithMountFlags(const FSRef*, AliasHandle inAlias, FSRef* target, Boolean* wasChanged, UInt32) {
  if (!target) return paramErr;
  std::string path;
  OSErr err = ResolvePath(inAlias, path, wasChanged);
  if (err != noErr) return err;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), target, nullptr);
}

OSErr UpdateAlias(const FSSpec*, const FSSpec* target, AliasHandle alias, Boolean* wasChanged) {
  if (!target || !alias) return paramErr;
  std::string path = FSSpecPath(*target);
  if (path.empty()) return paramErr;
  AliasData before;
  bool had = Decode(alias, before) == noErr;
  AliasHandle h = alias;
  OSErr err = Encode(path, &h, true);
  if (err != noErr) return err;
  if (wasChanged) {
    AliasData after;
    Decode(alias, after);
    *wasChanged = !had || before.path != after.path || before.dev != after.dev || before.ino != after.ino ||
                  before.birth != after.birth;
  }
  return noErr;
}

OSErr GetAliasInfo(AliasHandle alias, AliasInfoType index, StringPtr theString) {
  if (!theString) return paramErr;
  theString[0] = 0;
  AliasData data;
  OSErr err = Decode(alias, data);
  if (err != noErr) return err;
  switch (index) {
    case asiAliasName:
      StringToPStr(LeafOf(data.path), theString, sizeof(Str63));
      return noErr;
    case asiParentName:
      StringToPStr(data.path == "/" ? std::string() : LeafOf(ParentOf(data.path)), theString, sizeof(Str63));
      return noErr;
    case asiVolumeName:
      StringToPStr("Root", theString, sizeof(Str63));
      return noErr;
    default:
      return noErr;
  }
}
