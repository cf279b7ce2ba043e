#include "platform/files/Resources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"

namespace {

thread_local OSErr tResError = noErr;

struct Resource {
  ResourceMapEntry entry;
  Handle handle = nullptr;  // attached handle, owned by the manager
};

struct ResFile {
  SInt16 refNum = 0;
  std::string path;
  bool inDataFork = false;
  bool writable = false;
  bool mapDirty = false;
  UInt16 fileAttrs = 0;
  std::vector<Resource> resources;
};

struct Manager {
  std::recursive_mutex lock;
  std::vector<std::unique_ptr<ResFile>> chain;  // in opening order
  std::unique_ptr<ResFile> appFile;
  bool appTried = false;
  SInt16 current = 0;  // 0: the application's file (or none)
  SInt16 nextRef = 2;
  bool resLoad = true;
};

Manager& M() {
  static Manager m;
  return m;
}

void SetErr(OSErr inErr) { tResError = inErr; }

ResFile* FindFile(Manager& m, SInt16 inRef) {
  for (auto& f : m.chain)
    if (f->refNum == inRef) return f.get();
  if (m.appFile && m.appFile->refNum == inRef) return m.appFile.get();
  return nullptr;
}

SInt16 NewRefNum(Manager& m) {
  for (int tries = 0; tries < 1000; ++tries) {
    SInt16 ref = m.nextRef;
    m.nextRef = static_cast<SInt16>(m.nextRef >= 999 ? 2 : m.nextRef + 1);
    if (!FindFile(m, ref)) return ref;
  }
  return 0;
}

void EnsureAppFile(Manager& m) {
  if (m.appTried) return;
  m.appTried = true;
  std::string path = MainBundleResourceFilePath();
  if (path.empty()) return;
  std::vector<char> bytes;
  if (ReadWholeFile(path, bytes) != noErr) return;
  ResourceMapContents contents;
  if (ParseResourceMap(bytes.data(), bytes.size(), contents) != noErr) return;
  auto f = std::make_unique<ResFile>();
  f->refNum = 1;
  f->path = path;
  f->inDataFork = true;
  f->fileAttrs = contents.fileAttrs;
  for (auto& e : contents.entries) f->resources.push_back(Resource{std::move(e), nullptr});
  m.appFile = std::move(f);
}

SInt16 CurrentRef(Manager& m) {
  if (m.current != 0) return m.current;
  EnsureAppFile(m);
  return m.appFile ? m.appFile->refNum : 0;
}

// The files searched from the current one down, ending with the application's.
std::vector<ResFile*> SearchPath(Manager& m, bool inOneDeep) {
  EnsureAppFile(m);
  std::vector<ResFile*> files;
  files.reserve(m.chain.size() + 1);
  SInt16 cur = CurrentRef(m);
  bool started = false;
  for (size_t i = m.chain.size(); i-- > 0;) {
    ResFile* f = m.chain[i].get();
    if (f->refNum == cur) started = true;
    if (started && !(inOneDeep && !files.empty())) files.push_back(f);
  }
  bool appInPath = m.appFile && (started || cur == m.appFile->refNum);
  if (appInPath && !(inOneDeep && !files.empty())) files.push_back(m.appFile.get());
  return files;
}

struct Found {
  ResFile* file = nullptr;
  Resource* res = nullptr;
};

Found FindHandle(Manager& m, Handle h) {
  if (!h) return {};
  auto look = [&](ResFile* f) -> Found {
    for (Resource& r : f->resources)
      if (r.handle == h) return {f, &r};
    return {};
  };
  for (auto& f : m.chain) {
    Found x = look(f.get());
    if (x.res) return x;
  }
  if (m.appFile) return look(m.appFile.get());
  return {};
}

// The handle of a resource, made from its stored bytes when not attached yet.
Handle Attach(Manager& m, Resource& r) {
  if (r.handle) return r.handle;
  if (!m.resLoad) {
    r.handle = NewHandle(0);
  } else {
    r.handle = NewHandle(static_cast<SInt32>(r.entry.data.size()));
    if (r.handle && !r.entry.data.empty()) std::memcpy(*r.handle, r.entry.data.data(), r.entry.data.size());
  }
  if (!r.handle) SetErr(memFullErr);
  return r.handle;
}

// Copies a changed handle's bytes into the stored data.
void Absorb(Resource& r) {
  if (r.handle && (r.entry.attrs & resChanged)) {
    SInt32 size = GetHandleSize(r.handle);
    if (size >= 0) r.entry.data.assign(*r.handle, *r.handle + size);
  }
}

bool FileChanged(const ResFile& f) {
  if (f.mapDirty) return true;
  for (const Resource& r : f.resources)
    if (r.entry.attrs & resChanged) return true;
  return false;
}

OSErr WriteFile(ResFile& f) {
  if (!f.writable) return resAttrErr;
  ResourceMapContents contents;
  contents.fileAttrs = static_cast<UInt16>(f.fileAttrs & ~(mapChanged | mapReadOnly));
  for (Resource& r : f.resources) {
    Absorb(r);
    ResourceMapEntry e = r.entry;
    e.attrs = static_cast<UInt8>(e.attrs & ~resChanged);
    contents.entries.push_back(std::move(e));
  }
  std::vector<char> bytes;
  OSErr err = SerializeResourceMap(contents, bytes);
  if (err != noErr) return err;
  if (f.inDataFork) {
    err = WriteWholeFileAtomically(f.path, bytes);
  } else {
    SidecarContents sc;
    err = ReadSidecar(f.path, sc);
    if (err == eofErr) sc = SidecarContents{};  // the fork we parsed at open replaces a damaged sidecar
    else if (err != noErr) return err;
    sc.hasFork = true;
    sc.fork = std::move(bytes);
    err = WriteSidecar(f.path, sc);
  }
  if (err != noErr) return err;
  f.mapDirty = false;
  for (Resource& r : f.resources) r.entry.attrs = static_cast<UInt8>(r.entry.attrs & ~resChanged);
  return noErr;
}

void DisposeAll(ResFile& f) {
  for (Resource& r : f.resources) {
    DisposeHandle(r.handle);
    r.handle = nullptr;
  }
}

OSErr OpenFile(const std::string& inPath, bool inDataFork, SInt8 inPermission, SInt16* outRef) {
  *outRef = kResFileNotOpened;
  struct stat st {};
  if (::stat(inPath.c_str(), &st) != 0) {
    std::string parent = inPath.substr(0, inPath.rfind('/'));
    struct stat pst {};
    return (parent.empty() || ::stat(parent.c_str(), &pst) == 0) ? fnfErr : dirNFErr;
  }
  if (S_ISDIR(st.st_mode)) return notAFileErr;
  std::vector<char> forkBytes;
  if (inDataFork) {
    OSErr err = ReadWholeFile(inPath, forkBytes);
    if (err == fsDataTooBigErr) return eofErr;
    if (err != noErr) return err;
  } else {
    SidecarContents sc;
    OSErr err = ReadSidecar(inPath, sc);
    if (err != noErr) return err;
    if (!sc.hasFork) return resFNotFound;
    forkBytes = std::move(sc.fork);
  }
  ResourceMapContents contents;
  OSErr err = ParseResourceMap(forkBytes.data(), forkBytes.size(), contents);
  if (err != noErr) return err;

  Manager& m = M();
  auto f = std::make_unique<ResFile>();
  f->refNum = NewRefNum(m);
  if (f->refNum == 0) return tmfoErr;
  f->path = inPath;
  f->inDataFork = inDataFork;
  f->writable = inPermission != fsRdPerm && ::access(inPath.c_str(), W_OK) == 0;
  f->fileAttrs = contents.fileAttrs;
  for (auto& e : contents.entries) f->resources.push_back(Resource{std::move(e), nullptr});
  *outRef = f->refNum;
  m.chain.push_back(std::move(f));
  m.current = *outRef;
  return noErr;
}

Handle GetFrom(Manager& m, const std::vector<ResFile*>& inFiles, ResType inType, ResID inID) {
  for (ResFile* f : inFiles)
    for (Resource& r : f->resources)
      if (r.entry.type == inType && r.entry.id == inID) {
        Handle h = Attach(m, r);
        if (h) SetErr(noErr);
        return h;
      }
  SetErr(resNotFound);
  return nullptr;
}

Handle GetNamedFrom(Manager& m, const std::vector<ResFile*>& inFiles, ResType inType, ConstStr255Param inName) {
  std::string name = inName ? PStrToString(inName) : std::string();
  for (ResFile* f : inFiles)
    for (Resource& r : f->resources)
      if (r.entry.type == inType && r.entry.hasName && r.entry.name == name) {
        Handle h = Attach(m, r);
        if (h) SetErr(noErr);
        return h;
      }
  SetErr(resNotFound);
  return nullptr;
}

// Resources of a type along the given files, shadowed ids counted once.
std::vector<Resource*> OfType(const std::vector<ResFile*>& inFiles, ResType inType) {
  std::vector<Resource*> list;
  for (ResFile* f : inFiles)
    for (Resource& r : f->resources)
      if (r.entry.type == inType &&
          std::none_of(list.begin(), list.end(), [&](Resource* x) { return x->entry.id == r.entry.id; }))
        list.push_back(&r);
  return list;
}

}  // namespace

SInt16 FSpOpenResFile(const FSSpec* spec, SInt8 permission) {
  std::lock_guard<std::recursive_mutex> g(M().lock);
  std::string path = spec ? FSSpecPath(*spec) : std::string();
  if (path.empty()) {
    SetErr(paramErr);
    return kResFileNotOpened;
  }
  SInt16 ref = kResFileNotOpened;
  SetErr(OpenFile(path, false, permission, &ref));
  return ref;
}

OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* /*forkName*/,
                         SInt8 permissions, SInt16* refNum) {
  std::lock_guard<std::recursive_mutex> g(M().lock);
  if (!refNum) return paramErr;
  *refNum = kResFileNotOpened;
  std::string path = ref ? FSRefPath(*ref) : std::string();
  if (path.empty()) return errFSBadFSRef;
  OSErr err = OpenFile(path, forkNameLength == 0, permissions, refNum);
  SetErr(err);
  return err;
}

void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, SInt16 scriptTag) {
  std::lock_guard<std::recursive_mutex> g(M().lock);
  std::string path = spec ? FSSpecPath(*spec) : std::string();
  if (path.empty()) return SetErr(paramErr);
  bool created = false;
  if (!FSSpecExists(*spec)) {
    OSErr err = FSpCreate(spec, creator, fileType, scriptTag);
    if (err != noErr) return SetErr(err);
    created = true;
  }
  SidecarContents sc;
  OSErr err = ReadSidecar(path, sc);
  if (err != noErr) return SetErr(err);
  if (sc.hasFork && !sc.fork.empty()) return SetErr(dupFNErr);
  std::vector<char> empty;
  err = SerializeResourceMap(ResourceMapContents{}, empty);
  if (err == noErr) {
    sc.hasFork = true;
    sc.fork = std::move(empty);
    err = WriteSidecar(path, sc);
  }
  if (err != noErr && created) FSpDelete(spec);
  SetErr(err);
}

void CloseResFile(SInt16 refNum) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  auto it = std::find_if(m.chain.begin(), m.chain.end(), [&](auto& f) { return f->refNum == refNum; });
  if (it == m.chain.end()) return SetErr(rfNumErr);
  OSErr err = FileChanged(**it) && (*it)->writable ? WriteFile(**it) : noErr;
  DisposeAll(**it);
  m.chain.erase(it);
  if (m.current == refNum) m.current = m.chain.empty() ? 0 : m.chain.back()->refNum;
  SetErr(err);
}

void UseResFile(SInt16 refNum) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  EnsureAppFile(m);
  if (refNum == 0 || (m.appFile && refNum == m.appFile->refNum)) {
    m.current = 0;
    return SetErr(noErr);
  }
  if (!FindFile(m, refNum)) return SetErr(resFNotFound);
  m.current = refNum;
  SetErr(noErr);
}

SInt16 CurResFile() {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  return CurrentRef(m);
}

OSErr ResError() { return tResError; }

void UpdateResFile(SInt16 refNum) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  ResFile* f = FindFile(m, refNum);
  if (!f) return SetErr(rfNumErr);
  SetErr(FileChanged(*f) ? WriteFile(*f) : noErr);
}

SInt16 GetResFileAttrs(SInt16 refNum) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  ResFile* f = FindFile(m, refNum);
  if (!f) {
    SetErr(rfNumErr);
    return 0;
  }
  SetErr(noErr);
  SInt16 attrs = static_cast<SInt16>(f->fileAttrs);
  if (!f->writable) attrs |= mapReadOnly;
  if (FileChanged(*f)) attrs |= mapChanged;
  return attrs;
}

Handle GetResource(ResType theType, ResID theID) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  return GetFrom(m, SearchPath(m, false), theType, theID);
}

Handle Get1Resource(ResType theType, ResID theID) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  return GetFrom(m, SearchPath(m, true), theType, theID);
}

Handle GetNamedResource(ResType theType, ConstStr255Param name) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  return GetNamedFrom(m, SearchPath(m, false), theType, name);
}

Handle Get1NamedResource(ResType theType, ConstStr255Param name) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  return GetNamedFrom(m, SearchPath(m, true), theType, name);
}

Handle GetIndResource(ResType theType, SInt16 index) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  std::vector<Resource*> list = OfType(SearchPath(m, false), theType);
  if (index < 1 || index > static_cast<SInt32>(list.size())) {
    SetErr(resNotFound);
    return nullptr;
  }
  Handle h = Attach(m, *list[static_cast<size_t>(index - 1)]);
  if (h) SetErr(noErr);
  return h;
}

Handle Get1IndResource(ResType theType, SInt16 index) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  std::vector<Resource*> list = OfType(SearchPath(m, true), theType);
  if (index < 1 || index > static_cast<SInt32>(list.size())) {
    SetErr(resNotFound);
    return nullptr;
  }
  Handle h = Attach(m, *list[static_cast<size_t>(index - 1)]);
  if (h) SetErr(noErr);
  return h;
}

SInt16 CountResources(ResType theType) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  SetErr(noErr);
  return static_cast<SInt16>(std::min<size_t>(OfType(SearchPath(m, false), theType).size(), 32767));
}

SInt16 Count1Resources(ResType theType) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  SetErr(noErr);
  return static_cast<SInt16>(std::min<size_t>(OfType(SearchPath(m, true), theType).size(), 32767));
}

namespace {
std::vector<ResType> TypesOf(Manager& m) {
  std::vector<ResType> types;
  for (ResFile* f : SearchPath(m, true))
    for (const Resource& r : f->resources)
      if (std::find(types.begin(), types.end(), r.entry.type) == types.end()) types.push_back(r.entry.type);
  return types;
}
}  // namespace

SInt16 Count1Types() {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  SetErr(noErr);
  return static_cast<SInt16>(std::min<size_t>(TypesOf(m).size(), 32767));
}

void Get1IndType(ResType* theType, SInt16 index) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  if (!theType) return SetErr(paramErr);
  std::vector<ResType> types = TypesOf(m);
  if (index < 1 || index > static_cast<SInt32>(types.size())) {
    *theType = 0;
    return SetErr(resNotFound);
  }
  *theType = types[static_cast<size_t>(index - 1)];
  SetErr(noErr);
}

SInt16 Unique1ID(ResType theType) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  std::vector<Resource*> list = OfType(SearchPath(m, true), theType);
  for (SInt16 id = 128; id < 32767; ++id)
    if (std::none_of(list.begin(), list.end(), [&](Resource* r) { return r->entry.id == id; })) return id;
  return 0;
}

void SetResLoad(Boolean load) { M().resLoad = load != 0; }

void LoadResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  if (GetHandleSize(theResource) == 0 && !f.res->entry.data.empty() && !(f.res->entry.attrs & resChanged)) {
    SetHandleSize(theResource, static_cast<SInt32>(f.res->entry.data.size()));
    if (MemError() != noErr) return SetErr(memFullErr);
    std::memcpy(*theResource, f.res->entry.data.data(), f.res->entry.data.size());
  }
  SetErr(noErr);
}

void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  if (!theData || !IsValidHandle(theData) || FindHandle(m, theData).res) return SetErr(addResFailed);
  ResFile* f = FindFile(m, CurrentRef(m));
  if (!f) return SetErr(addResFailed);
  if (!f->writable) return SetErr(resAttrErr);
  Resource r;
  r.entry.type = theType;
  r.entry.id = theID;
  if (name && name[0]) {
    r.entry.hasName = true;
    r.entry.name = PStrToString(name);
  }
  r.entry.attrs = static_cast<UInt8>(resChanged);
  r.handle = theData;
  // Keep the resources of one type together so the file's type order stays.
  auto last = std::find_if(f->resources.rbegin(), f->resources.rend(),
                           [&](const Resource& x) { return x.entry.type == theType; });
  f->resources.insert(last == f->resources.rend() ? f->resources.end() : last.base(), std::move(r));
  f->mapDirty = true;
  SetErr(noErr);
}

void ChangedResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  if (!f.file->writable) return SetErr(resAttrErr);
  f.res->entry.attrs = static_cast<UInt8>(f.res->entry.attrs | resChanged);
  SetErr(noErr);
}

void WriteResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  if (!(f.res->entry.attrs & resChanged) && !f.file->mapDirty) return SetErr(noErr);
  SetErr(WriteFile(*f.file));
}

void RemoveResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(rmvResFailed);
  if (!f.file->writable) return SetErr(resAttrErr);
  auto& list = f.file->resources;
  list.erase(list.begin() + (f.res - list.data()));
  f.file->mapDirty = true;
  SetErr(noErr);
}

void ReleaseResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  Absorb(*f.res);
  DisposeHandle(f.res->handle);
  f.res->handle = nullptr;
  SetErr(noErr);
}

void DetachResource(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  Absorb(*f.res);
  f.res->handle = nullptr;
  SetErr(noErr);
}

void GetResInfo(Handle theResource, ResID* theID, ResType* theType, StringPtr name) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  if (theID) *theID = f.res->entry.id;
  if (theType) *theType = f.res->entry.type;
  if (name) StringToPStr(f.res->entry.hasName ? f.res->entry.name : std::string(), name);
  SetErr(noErr);
}

void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  if (!f.file->writable) return SetErr(resAttrErr);
  f.res->entry.id = theID;
  if (name) {
    f.res->entry.hasName = name[0] != 0;
    f.res->entry.name = PStrToString(name);
  }
  f.file->mapDirty = true;
  SetErr(noErr);
}

SInt16 GetResAttrs(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) {
    SetErr(resNotFound);
    return 0;
  }
  SetErr(noErr);
  return f.res->entry.attrs;
}

void SetResAttrs(Handle theResource, SInt16 attrs) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) return SetErr(resNotFound);
  f.res->entry.attrs = static_cast<UInt8>(attrs);
  f.file->mapDirty = true;
  SetErr(noErr);
}

SInt16 HomeResFile(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) {
    SetErr(resNotFound);
    return -1;
  }
  SetErr(noErr);
  return f.file->refNum;
}

SInt32 GetResourceSizeOnDisk(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) {
    SetErr(resNotFound);
    return -1;
  }
  SetErr(noErr);
  return static_cast<SInt32>(f.res->entry.data.size());
}

SInt32 GetMaxResourceSize(Handle theResource) {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  Found f = FindHandle(m, theResource);
  if (!f.res) {
    SetErr(resNotFound);
    return -1;
  }
  SetErr(noErr);
  return f.res->entry.attrs & resChanged ? GetHandleSize(theResource) : static_cast<SInt32>(f.res->entry.data.size());
}

void GetIndString(StringPtr theString, SInt16 strListID, SInt16 index) {
  if (!theString) return;
  theString[0] = 0;
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  for (ResFile* f : SearchPath(m, false)) {
    for (Resource& r : f->resources) {
      if (r.entry.type != 'STR#' || r.entry.id != strListID) continue;
      // An attached handle may hold changes; read from it when there is one.
      const char* bytes = r.handle ? *r.handle : r.entry.data.data();
      size_t size = r.handle ? static_cast<size_t>(std::max<SInt32>(GetHandleSize(r.handle), 0)) : r.entry.data.size();
      SetErr(resNotFound);
      if (size < 2 || index < 1) return;
      UInt16 count = static_cast<UInt16>((static_cast<UInt8>(bytes[0]) << 8) | static_cast<UInt8>(bytes[1]));
      if (index > count) return;
      size_t at = 2;
      for (SInt16 i = 1; i < index; ++i) {
        if (at >= size) return;
        at += 1 + static_cast<UInt8>(bytes[at]);
      }
      if (at >= size) return;
      size_t len = std::min<size_t>(static_cast<UInt8>(bytes[at]), size - at - 1);
      theString[0] = static_cast<unsigned char>(len);
      std::memcpy(theString + 1, bytes + at + 1, len);
      SetErr(noErr);
      return;
    }
  }
  SetErr(resNotFound);
}

std::string IndString(SInt16 strListID, SInt16 index) {
  Str255 text;
  GetIndString(text, strListID, index);
  return std::string(reinterpret_cast<const char*>(text + 1), text[0]);
}

SInt16 UResources::GetApplicationResFile() {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  EnsureAppFile(m);
  return m.appFile ? m.appFile->refNum : kResFileNotOpened;
}

void UResources::CloseAll() {
  Manager& m = M();
  std::lock_guard<std::recursive_mutex> g(m.lock);
  while (!m.chain.empty()) CloseResFile(m.chain.back()->refNum);
  if (m.appFile) DisposeAll(*m.appFile);
  m.appFile.reset();
  m.appTried = false;
  m.current = 0;
  m.resLoad = true;
}
