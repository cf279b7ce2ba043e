#include "platform/files/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Sidecar.h"

namespace {

constexpr const char* kFinderInfoAttr = "user.trx.finderinfo";
constexpr UInt32 kMacEpochOffset = 2082844800u;  // seconds from 1904 to 1970
constexpr SInt32 kFirstDirID = 100;

std::atomic<bool> gForceSidecar{false};

// ---- paths ----

// Absolute and lexically normal, without a trailing separator (except "/").
std::string Normalise(const std::string& inPath) {
  std::filesystem::path p(inPath);
  if (p.is_relative()) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    p = (ec ? std::filesystem::path("/") : cwd) / p;
  }
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s.empty() ? "/" : s;
}

std::string ParentOf(const std::string& inPath) {
  if (inPath == "/") return "/";
  size_t slash = inPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return inPath.substr(0, slash);
}

std::string LeafOf(const std::string& inPath) {
  size_t slash = inPath.rfind('/');
  return slash == std::string::npos ? inPath : inPath.substr(slash + 1);
}

bool IsDirectory(const std::string& inPath) {
  struct stat st {};
  return ::stat(inPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& inPath) {
  struct stat st {};
  return ::lstat(inPath.c_str(), &st) == 0;
}

// ---- directory ids ----

struct DirTable {
  std::mutex lock;
  std::map<std::string, SInt32> ids;
  std::map<SInt32, std::string> paths;
  SInt32 next = kFirstDirID;
};

DirTable& Dirs() {
  static DirTable t;
  return t;
}

SInt32 DirIDFor(const std::string& inPath) {
  if (inPath == "/") return fsRtDirID;
  DirTable& t = Dirs();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.ids.find(inPath);
  if (it != t.ids.end()) return it->second;
  SInt32 id = t.next++;
  t.ids.emplace(inPath, id);
  t.paths.emplace(id, inPath);
  return id;
}

bool PathForDirID(SInt32 inID, std::string& outPath) {
  if (inID == fsRtDirID) {
    outPath.assign(1, '/');
    return true;
  }
  DirTable& t = Dirs();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.paths.find(inID);
  if (it == t.paths.end()) return false;
  outPath = it->second;
  return true;
}

OSErr FillSpec(const std::string& inNormalPath, FSSpec* outSpec) {
  if (inNormalPath.size() >= kFSMaxPath) return bdNamErr;
  std::memset(outSpec, 0, sizeof(FSSpec));
  outSpec->vRefNum = kFSRootVolume;
  outSpec->parID = inNormalPath == "/" ? fsRtParID : DirIDFor(ParentOf(inNormalPath));
  std::string leaf = inNormalPath == "/" ? std::string("Root") : LeafOf(inNormalPath);
  StringToPStr(leaf, outSpec->name, sizeof(Str63));
  std::memcpy(outSpec->path, inNormalPath.data(), inNormalPath.size());
  return noErr;
}

OSErr FillRef(const std::string& inNormalPath, FSRef* outRef) {
  if (inNormalPath.size() >= kFSMaxPath) return bdNamErr;
  std::memset(outRef, 0, sizeof(FSRef));
  std::memcpy(outRef->path, inNormalPath.data(), inNormalPath.size());
  return noErr;
}

// The path inside a record, NUL-terminated within its buffer or refused.
bool RecordPath(const char (&inPath)[kFSMaxPath], std::string& outPath) {
  const void* nul = std::memchr(inPath, 0, kFSMaxPath);
  if (!nul || inPath[0] != '/') return false;
  outPath.assign(inPath, static_cast<const char*>(nul));
  return true;
}

OSErr SpecPath(const FSSpec* inSpec, std::string& outPath) {
  if (!inSpec) return paramErr;
  return RecordPath(inSpec->path, outPath) ? noErr : paramErr;
}

// Where a new item goes: its folder must exist.
OSErr CheckParent(const std::string& inPath) {
  std::string parent = ParentOf(inPath);
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0) return dirNFErr;
  if (!S_ISDIR(st.st_mode)) return dirNFErr;
  return noErr;
}

// ---- Finder information ----

void FInfoToBytes(const FInfo& inInfo, UInt8 outBytes[32]) {
  std::memset(outBytes, 0, 32);
  WriteBE32(outBytes, inInfo.fdType);
  WriteBE32(outBytes + 4, inInfo.fdCreator);
  WriteBE16(outBytes + 8, inInfo.fdFlags);
  WriteBE16(outBytes + 10, static_cast<UInt16>(inInfo.fdLocation.v));
  WriteBE16(outBytes + 12, static_cast<UInt16>(inInfo.fdLocation.h));
  WriteBE16(outBytes + 14, static_cast<UInt16>(inInfo.fdFldr));
}

void BytesToFInfo(const UInt8 inBytes[32], FInfo& outInfo) {
  outInfo.fdType = ReadBE32(inBytes);
  outInfo.fdCreator = ReadBE32(inBytes + 4);
  outInfo.fdFlags = ReadBE16(inBytes + 8);
  outInfo.fdLocation.v = static_cast<SInt16>(ReadBE16(inBytes + 10));
  outInfo.fdLocation.h = static_cast<SInt16>(ReadBE16(inBytes + 12));
  outInfo.fdFldr = static_cast<SInt16>(ReadBE16(inBytes + 14));
}

bool XattrUnsupported(int inErrno) { return inErrno == ENOTSUP || inErrno == EPERM; }

OSErr ReadFinderInfo(const std::string& inPath, FInfo& outInfo) {
  std::memset(&outInfo, 0, sizeof outInfo);
  if (!Exists(inPath)) return fnfErr;
  UInt8 bytes[32] = {};
  if (!gForceSidecar.load()) {
    ssize_t n = ::getxattr(inPath.c_str(), kFinderInfoAttr, bytes, sizeof bytes);
    if (n == 32) {
      BytesToFInfo(bytes, outInfo);
      return noErr;
    }
  }
  SidecarContents sc;
  if (ReadSidecar(inPath, sc) == noErr && sc.hasFinderInfo) BytesToFInfo(sc.finderInfo, outInfo);
  return noErr;
}

OSErr WriteFinderInfo(const std::string& inPath, const FInfo& inInfo) {
  if (!Exists(inPath)) return fnfErr;
  UInt8 bytes[32];
  FInfoToBytes(inInfo, bytes);
  if (!gForceSidecar.load()) {
    if (::setxattr(inPath.c_str(), kFinderInfoAttr, bytes, sizeof bytes, 0) == 0) return noErr;
    if (!XattrUnsupported(errno)) return OSErrFromErrno(errno);
  }
  SidecarContents sc;
  OSErr err = ReadSidecar(inPath, sc);
  if (err != noErr && err != eofErr) return err;
  if (err == eofErr) sc = SidecarContents{};  // a damaged sidecar is not worth keeping for this
  sc.hasFinderInfo = true;
  std::memcpy(sc.finderInfo, bytes, 32);
  return WriteSidecar(inPath, sc);
}

// Copies the attribute (when there is one) from one file to another.
void CopyFinderAttr(const std::string& inFrom, const std::string& inTo) {
  UInt8 bytes[32];
  if (::getxattr(inFrom.c_str(), kFinderInfoAttr, bytes, sizeof bytes) == 32)
    ::setxattr(inTo.c_str(), kFinderInfoAttr, bytes, sizeof bytes, 0);
}

// ---- open forks ----

struct OpenFork {
  int fd = -1;
  bool canWrite = false;
  std::string path;
};

struct ForkTable {
  std::mutex lock;
  std::map<SInt16, OpenFork> forks;
  SInt16 next = 1000;
};

ForkTable& Forks() {
  static ForkTable t;
  return t;
}

// The descriptor behind a reference (under the table's lock).
OpenFork* FindFork(ForkTable& t, SInt16 inRefNum) {
  auto it = t.forks.find(inRefNum);
  return it == t.forks.end() ? nullptr : &it->second;
}

OSErr Seek(int inFD, SInt16 inMode, SInt64 inOffset, SInt64* outPos) {
  off_t base = 0;
  switch (inMode & 3) {
    case fsAtMark:
      base = ::lseek(inFD, 0, SEEK_CUR);
      inOffset = 0;
      break;
    case fsFromStart:
      base = 0;
      break;
    case fsFromLEOF: {
      struct stat st {};
      if (::fstat(inFD, &st) != 0) return OSErrFromErrno(errno);
      base = st.st_size;
      break;
    }
    case fsFromMark:
      base = ::lseek(inFD, 0, SEEK_CUR);
      break;
  }
  SInt64 target = static_cast<SInt64>(base) + inOffset;
  if (target < 0) return posErr;
  if (::lseek(inFD, static_cast<off_t>(target), SEEK_SET) < 0) return OSErrFromErrno(errno);
  if (outPos) *outPos = target;
  return noErr;
}

// ---- special folders ----

std::string XdgHome(const char* inVariable, const char* inDefaultUnderHome) {
  const char* v = std::getenv(inVariable);
  if (v && v[0] == '/') return v;
  const char* home = std::getenv("HOME");
  std::string h = home && home[0] == '/' ? home : "/tmp";
  return h + "/" + inDefaultUnderHome;
}

OSErr MakeFolders(const std::string& inPath) {
  std::error_code ec;
  std::filesystem::create_directories(inPath, ec);
  if (ec) return OSErrFromErrno(ec.value());
  return IsDirectory(inPath) ? noErr : dirNFErr;
}

OSErr CopyFileBytes(const std::string& inFrom, const std::string& inTo) {
  int in = ::open(inFrom.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return OSErrFromErrno(errno);
  int out = ::open(inTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return OSErrFromErrno(e);
  }
  std::vector<char> buf(1 << 16);
  OSErr err = noErr;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = OSErrFromErrno(errno);
      break;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        err = w < 0 ? OSErrFromErrno(errno) : dskFulErr;
        break;
      }
      done += w;
    }
    if (err != noErr) break;
  }
  ::close(in);
  if (::close(out) != 0 && err == noErr) err = OSErrFromErrno(errno);
  if (err != noErr) ::unlink(inTo.c_str());
  return err;
}

}  // namespace

// ---- public ----

void UFinderInfo::SetForceSidecar(bool inForce) { gForceSidecar = inForce; }

OSErr FSMakeFSSpecFromPath(const std::string& inPath, FSSpec* outSpec) {
  if (!outSpec || inPath.empty()) return paramErr;
  std::string path = Normalise(inPath);
  OSErr err = FillSpec(path, outSpec);
  if (err != noErr) return err;
  if (Exists(path)) return noErr;
  return CheckParent(path) == noErr ? fnfErr : dirNFErr;
}

OSErr FSMakeFSSpec(SInt16 /*vRefNum*/, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec) {
  if (!spec) return paramErr;
  std::string name = fileName ? PStrToString(fileName) : std::string();
  std::string folder;
  if (dirID == 0 || (!name.empty() && name[0] == '/')) {
    if (!name.empty() && name[0] == '/') return FSMakeFSSpecFromPath(name, spec);
    std::error_code ec;
    folder = std::filesystem::current_path(ec).string();
    if (ec) return ioErr;
  } else if (dirID == fsRtParID) {
    folder = "/";
  } else if (!PathForDirID(dirID, folder)) {
    return dirNFErr;
  }
  if (name.find('/') != std::string::npos && name.find("..") != std::string::npos) return bdNamErr;
  return FSMakeFSSpecFromPath(name.empty() ? folder : folder + "/" + name, spec);
}

std::string FSSpecPath(const FSSpec& inSpec) {
  std::string p;
  return RecordPath(inSpec.path, p) ? p : std::string();
}

std::string FSRefPath(const FSRef& inRef) {
  std::string p;
  return RecordPath(inRef.path, p) ? p : std::string();
}

bool FSSpecExists(const FSSpec& inSpec) {
  std::string p = FSSpecPath(inSpec);
  return !p.empty() && Exists(p);
}

std::string FSDirectoryPath(SInt32 dirID) {
  std::string p;
  return PathForDirID(dirID, p) ? p : std::string();
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef) {
  std::string path;
  OSErr err = SpecPath(source, path);
  if (err != noErr || !newRef) return paramErr;
  if (!Exists(path)) return CheckParent(path) == noErr ? fnfErr : dirNFErr;
  return FillRef(path, newRef);
}

OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
  if (!path || !ref || !path[0]) return paramErr;
  std::string p = Normalise(reinterpret_cast<const char*>(path));
  if (!Exists(p)) return fnfErr;
  if (isDirectory) *isDirectory = IsDirectory(p);
  return FillRef(p, ref);
}

OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
  std::string p;
  if (!ref || !path || !RecordPath(ref->path, p)) return paramErr;
  if (p.size() + 1 > maxPathSize) return bdNamErr;
  std::memcpy(path, p.c_str(), p.size() + 1);
  return noErr;
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap /*whichInfo*/, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef) {
  std::string p;
  if (!ref || !RecordPath(ref->path, p)) return errFSBadFSRef;
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return OSErrFromErrno(errno);
  if (catalogInfo) {
    std::memset(catalogInfo, 0, sizeof *catalogInfo);
    catalogInfo->nodeFlags = S_ISDIR(st.st_mode) ? kFSNodeIsDirectoryMask : 0;
    catalogInfo->volume = kFSRootVolume;
    catalogInfo->parentDirID = static_cast<UInt32>(p == "/" ? fsRtParID : DirIDFor(ParentOf(p)));
    catalogInfo->nodeID = static_cast<UInt32>(S_ISDIR(st.st_mode) ? DirIDFor(p) : static_cast<SInt32>(st.st_ino));
    catalogInfo->dataLogicalSize = S_ISDIR(st.st_mode) ? 0 : static_cast<UInt64>(st.st_size);
    SidecarContents sc;
    if (!S_ISDIR(st.st_mode) && ReadSidecar(p, sc) == noErr) catalogInfo->rsrcLogicalSize = sc.fork.size();
    catalogInfo->contentModDate = static_cast<UInt32>(static_cast<SInt64>(st.st_mtim.tv_sec) + kMacEpochOffset);
    ReadFinderInfo(p, catalogInfo->finderInfo);
  }
  if (outName) {
    std::string leaf = LeafOf(p);
    outName->length = static_cast<UInt16>(std::min<size_t>(leaf.size(), 255));
    for (UInt16 i = 0; i < outName->length; ++i) outName->unicode[i] = static_cast<UInt8>(leaf[i]);
  }
  if (fsSpec) {
    OSErr err = FillSpec(p, fsSpec);
    if (err != noErr) return err;
  }
  if (parentRef) {
    OSErr err = FillRef(ParentOf(p), parentRef);
    if (err != noErr) return err;
  }
  return noErr;
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !fndrInfo) return paramErr;
  if (!Exists(path)) return CheckParent(path) == noErr ? fnfErr : dirNFErr;
  return ReadFinderInfo(path, *fndrInfo);
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !fndrInfo) return paramErr;
  return WriteFinderInfo(path, *fndrInfo);
}

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, SInt16 /*scriptTag*/) {
  std::string path;
  if (SpecPath(spec, path) != noErr) return paramErr;
  OSErr err = CheckParent(path);
  if (err != noErr) return err;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return OSErrFromErrno(errno);
  ::close(fd);
  // A sidecar left behind by a file of the same name belongs to nobody now.
  ::unlink(SidecarPathFor(path).c_str());
  FInfo info{};
  info.fdType = fileType;
  info.fdCreator = creator;
  err = WriteFinderInfo(path, info);
  if (err != noErr) ::unlink(path.c_str());
  return err;
}

OSErr FSpDirCreate(const FSSpec* spec, SInt16 /*scriptTag*/, SInt32* createdDirID) {
  std::string path;
  if (SpecPath(spec, path) != noErr) return paramErr;
  OSErr err = CheckParent(path);
  if (err != noErr) return err;
  if (::mkdir(path.c_str(), 0755) != 0) return OSErrFromErrno(errno);
  if (createdDirID) *createdDirID = DirIDFor(path);
  return noErr;
}

OSErr FSpDelete(const FSSpec* spec) {
  std::string path;
  if (SpecPath(spec, path) != noErr) return paramErr;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  if (S_ISDIR(st.st_mode)) {
    if (::rmdir(path.c_str()) != 0) return errno == ENOTEMPTY || errno == EEXIST ? fBsyErr : OSErrFromErrno(errno);
    return noErr;
  }
  if (::unlink(path.c_str()) != 0) return OSErrFromErrno(errno);
  ::unlink(SidecarPathFor(path).c_str());
  return noErr;
}

OSErr FSpRename(const FSSpec* spec, ConstStr255Param newName) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !newName) return paramErr;
  std::string name = PStrToString(newName);
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return bdNamErr;
  std::string target = ParentOf(path) == "/" ? "/" + name : ParentOf(path) + "/" + name;
  if (target.size() >= kFSMaxPath) return bdNamErr;
  if (!Exists(path)) return fnfErr;
  if (target == path) return noErr;
  if (Exists(target)) return dupFNErr;
  if (::rename(path.c_str(), target.c_str()) != 0) return OSErrFromErrno(errno);
  std::string side = SidecarPathFor(path);
  if (Exists(side)) ::rename(side.c_str(), SidecarPathFor(target).c_str());
  return noErr;
}

OSErr FSpCatMove(const FSSpec* source, const FSSpec* dest) {
  std::string from, folder;
  if (SpecPath(source, from) != noErr || SpecPath(dest, folder) != noErr) return paramErr;
  if (!Exists(from)) return fnfErr;
  if (!IsDirectory(folder)) return dirNFErr;
  std::string target = (folder == "/" ? std::string("/") : folder + "/") + LeafOf(from);
  if (target.size() >= kFSMaxPath) return bdNamErr;
  if (target == from) return noErr;
  if (Exists(target)) return dupFNErr;
  if (::rename(from.c_str(), target.c_str()) != 0) return OSErrFromErrno(errno);
  std::string side = SidecarPathFor(from);
  if (Exists(side)) ::rename(side.c_str(), SidecarPathFor(target).c_str());
  return noErr;
}

OSErr FSpExchangeFiles(const FSSpec* source, const FSSpec* dest) {
  std::string a, b;
  if (SpecPath(source, a) != noErr || SpecPath(dest, b) != noErr) return paramErr;
  if (!Exists(a) || !Exists(b)) return fnfErr;
  if (IsDirectory(a) || IsDirectory(b)) return notAFileErr;
  // Three renames through a temporary name beside the first file; the
  // sidecars travel with their contents.
  std::string temp = a + ".trx-exchange";
  if (Exists(temp)) return dupFNErr;
  if (::rename(a.c_str(), temp.c_str()) != 0) return OSErrFromErrno(errno);
  if (::rename(b.c_str(), a.c_str()) != 0) {
    int e = errno;
    ::rename(temp.c_str(), a.c_str());
    return OSErrFromErrno(e);
  }
  if (::rename(temp.c_str(), b.c_str()) != 0) {
    int e = errno;
    ::rename(a.c_str(), b.c_str());
    ::rename(temp.c_str(), a.c_str());
    return OSErrFromErrno(e);
  }
  std::string sa = SidecarPathFor(a), sb = SidecarPathFor(b), st = sa + ".trx-exchange";
  bool hasA = Exists(sa), hasB = Exists(sb);
  if (hasA) ::rename(sa.c_str(), st.c_str());
  if (hasB) ::rename(sb.c_str(), sa.c_str());
  if (hasA) ::rename(st.c_str(), sb.c_str());
  return noErr;
}

OSErr FSpFileCopy(const FSSpec* srcSpec, const FSSpec* dstSpec, ConstStr255Param copyName, void* /*copyBufferPtr*/,
                  SInt32 /*copyBufferSize*/, Boolean /*preflight*/) {
  std::string from, folder;
  if (SpecPath(srcSpec, from) != noErr || SpecPath(dstSpec, folder) != noErr) return paramErr;
  if (!Exists(from)) return fnfErr;
  if (IsDirectory(from)) return notAFileErr;
  if (!IsDirectory(folder)) return dirNFErr;
  std::string name = copyName && copyName[0] ? PStrToString(copyName) : LeafOf(from);
  if (name.find('/') != std::string::npos) return bdNamErr;
  std::string target = (folder == "/" ? std::string("/") : folder + "/") + name;
  if (target.size() >= kFSMaxPath) return bdNamErr;
  OSErr err = CopyFileBytes(from, target);
  if (err != noErr) return err;
  CopyFinderAttr(from, target);
  std::string side = SidecarPathFor(from);
  if (Exists(side)) {
    std::string targetSide = SidecarPathFor(target);
    ::unlink(targetSide.c_str());
    err = CopyFileBytes(side, targetSide);
    if (err != noErr) {
      ::unlink(target.c_str());
      return err;
    }
  }
  return noErr;
}

OSErr GetDirectoryID(SInt16 /*vRefNum*/, SInt32 dirID, ConstStr255Param name, SInt32* theDirID,
                     Boolean* isDirectory) {
  FSSpec spec;
  OSErr err = FSMakeFSSpec(kFSRootVolume, dirID, name, &spec);
  if (err != noErr) return err;
  std::string path = FSSpecPath(spec);
  bool dir = IsDirectory(path);
  if (isDirectory) *isDirectory = dir;
  if (theDirID) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    *theDirID = dir ? DirIDFor(path) : static_cast<SInt32>(st.st_ino);
  }
  return noErr;
}

OSErr FSpGetModDate(const FSSpec* spec, UInt32* outSeconds) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !outSeconds) return paramErr;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  *outSeconds = static_cast<UInt32>(static_cast<SInt64>(st.st_mtim.tv_sec) + kMacEpochOffset);
  return noErr;
}

OSErr FSpGetModStamp(const FSSpec* spec, SInt64* outNanoseconds) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !outNanoseconds) return paramErr;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  *outNanoseconds = static_cast<SInt64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return noErr;
}

// ---- data forks ----

OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum) {
  std::string path;
  if (SpecPath(spec, path) != noErr || !refNum) return paramErr;
  *refNum = 0;
  if (IsDirectory(path)) return notAFileErr;
  int flags = O_CLOEXEC;
  bool canWrite = true;
  switch (permission) {
    case fsRdPerm:
      flags |= O_RDONLY;
      canWrite = false;
      break;
    case fsWrPerm:
    case fsRdWrPerm:
    case fsRdWrShPerm:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDWR;
      break;
  }
  int fd = ::open(path.c_str(), flags);
  if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    canWrite = false;
  }
  if (fd < 0) return errno == ENOENT && CheckParent(path) != noErr ? dirNFErr : OSErrFromErrno(errno);
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  if (t.forks.size() >= 30000) {
    ::close(fd);
    return tmfoErr;
  }
  SInt16 ref = t.next;
  while (t.forks.count(ref)) ref = static_cast<SInt16>(ref >= 31000 ? 1000 : ref + 1);
  t.next = static_cast<SInt16>(ref >= 31000 ? 1000 : ref + 1);
  t.forks[ref] = OpenFork{fd, canWrite, path};
  *refNum = ref;
  return noErr;
}

OSErr FSClose(SInt16 refNum) {
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, refNum);
  if (!f) return rfNumErr;
  int result = ::close(f->fd);
  t.forks.erase(refNum);
  return result == 0 ? noErr : ioErr;
}

OSErr FSReadFork(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset, ByteCount requestCount, void* buffer,
                 ByteCount* actualCount) {
  if (actualCount) *actualCount = 0;
  if (requestCount > 0 && !buffer) return paramErr;
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  OSErr err = Seek(f->fd, positionMode, positionOffset, nullptr);
  if (err != noErr) return err;
  ByteCount done = 0;
  while (done < requestCount) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, requestCount - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (actualCount) *actualCount = done;
      return ioErr;
    }
    if (n == 0) break;
    done += static_cast<ByteCount>(n);
  }
  if (actualCount) *actualCount = done;
  return done < requestCount ? eofErr : noErr;
}

OSErr FSWriteFork(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                  const void* buffer, ByteCount* actualCount) {
  if (actualCount) *actualCount = 0;
  if (requestCount > 0 && !buffer) return paramErr;
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  if (!f->canWrite) return wrPermErr;
  OSErr err = Seek(f->fd, positionMode, positionOffset, nullptr);
  if (err != noErr) return err;
  ByteCount done = 0;
  while (done < requestCount) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, requestCount - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (actualCount) *actualCount = done;
      return n < 0 ? OSErrFromErrno(errno) : dskFulErr;
    }
    done += static_cast<ByteCount>(n);
  }
  if (actualCount) *actualCount = done;
  return noErr;
}

OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr) {
  if (!count || *count < 0) return paramErr;
  ByteCount actual = 0;
  OSErr err = FSReadFork(refNum, fsAtMark, 0, static_cast<ByteCount>(*count), buffPtr, &actual);
  *count = static_cast<SInt32>(actual);
  return err;
}

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr) {
  if (!count || *count < 0) return paramErr;
  ByteCount actual = 0;
  OSErr err = FSWriteFork(refNum, fsAtMark, 0, static_cast<ByteCount>(*count), buffPtr, &actual);
  *count = static_cast<SInt32>(actual);
  return err;
}

OSErr FSGetForkSize(SInt16 forkRefNum, SInt64* forkSize) {
  if (!forkSize) return paramErr;
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return OSErrFromErrno(errno);
  *forkSize = st.st_size;
  return noErr;
}

OSErr FSSetForkSize(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset) {
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  if (!f->canWrite) return wrPermErr;
  off_t mark = ::lseek(f->fd, 0, SEEK_CUR);
  SInt64 size = 0;
  OSErr err = Seek(f->fd, positionMode, positionOffset, &size);
  if (err != noErr) return err;
  if (::ftruncate(f->fd, static_cast<off_t>(size)) != 0) return OSErrFromErrno(errno);
  // The mark stays where it was unless it now lies beyond the end.
  ::lseek(f->fd, std::min<off_t>(mark, static_cast<off_t>(size)), SEEK_SET);
  return noErr;
}

OSErr FSGetForkPosition(SInt16 forkRefNum, SInt64* position) {
  if (!position) return paramErr;
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
  if (pos < 0) return OSErrFromErrno(errno);
  *position = pos;
  return noErr;
}

OSErr FSSetForkPosition(SInt16 forkRefNum, SInt16 positionMode, SInt64 positionOffset) {
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, forkRefNum);
  if (!f) return rfNumErr;
  // Positions beyond the end are refused, as the classic calls do.
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return OSErrFromErrno(errno);
  off_t mark = ::lseek(f->fd, 0, SEEK_CUR);
  SInt64 target = 0;
  OSErr err = Seek(f->fd, positionMode, positionOffset, &target);
  if (err != noErr) return err;
  if (target > st.st_size) {
    ::lseek(f->fd, static_cast<off_t>(st.st_size), SEEK_SET);
    (void)mark;
    return eofErr;
  }
  return noErr;
}

OSErr GetEOF(SInt16 refNum, SInt32* logEOF) {
  if (!logEOF) return paramErr;
  SInt64 size = 0;
  OSErr err = FSGetForkSize(refNum, &size);
  if (err != noErr) return err;
  if (size > 0x7FFFFFFF) return fsDataTooBigErr;
  *logEOF = static_cast<SInt32>(size);
  return noErr;
}

OSErr SetEOF(SInt16 refNum, SInt32 logEOF) {
  if (logEOF < 0) return paramErr;
  return FSSetForkSize(refNum, fsFromStart, logEOF);
}

OSErr GetFPos(SInt16 refNum, SInt32* filePos) {
  if (!filePos) return paramErr;
  SInt64 pos = 0;
  OSErr err = FSGetForkPosition(refNum, &pos);
  if (err != noErr) return err;
  if (pos > 0x7FFFFFFF) return fsDataTooBigErr;
  *filePos = static_cast<SInt32>(pos);
  return noErr;
}

OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff) { return FSSetForkPosition(refNum, posMode, posOff); }

std::string FSForkPath(SInt16 refNum) {
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> g(t.lock);
  OpenFork* f = FindFork(t, refNum);
  return f ? f->path : std::string();
}

OSErr FSGetVolumeName(SInt16 volumeIndex, SInt16* outVRefNum, StringPtr outName) {
  if (volumeIndex != 1) return nsvErr;
  if (outVRefNum) *outVRefNum = kFSRootVolume;
  if (outName) StringToPStr("Root", outName, sizeof(Str63));
  return noErr;
}

OSErr FindFolder(SInt16 /*vRefNum*/, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID) {
  std::string path;
  switch (folderType) {
    case kTemporaryFolderType:
      path = XdgHome("XDG_CACHE_HOME", ".cache") + "/Tremblorix/Temporary Items";
      break;
    case kPreferencesFolderType:
      path = XdgHome("XDG_CONFIG_HOME", ".config") + "/Tremblorix";
      break;
    case kTrashFolderType:
      path = XdgHome("XDG_DATA_HOME", ".local/share") + "/Trash/files";
      break;
    default:
      return fnfErr;
  }
  path = Normalise(path);
  if (path.size() >= kFSMaxPath) return bdNamErr;
  if (!IsDirectory(path)) {
    if (!createFolder) return fnfErr;
    OSErr err = MakeFolders(path);
    if (err != noErr) return err;
  }
  if (foundVRefNum) *foundVRefNum = kFSRootVolume;
  if (foundDirID) *foundDirID = DirIDFor(path);
  return noErr;
}
