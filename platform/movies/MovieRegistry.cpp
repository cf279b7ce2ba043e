// The registry of toolbox objects, the movies error and the data stores.
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/MoviePictCodec.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/base/FreeMemory.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieModel.h"

namespace movies {

namespace {

struct Entry {
  Kind kind;
  std::shared_ptr<void> strong;
  std::weak_ptr<void> weak;
};

struct Registry {
  std::recursive_mutex lock;
  std::unordered_map<UInt64, Entry> entries;
  UInt64 nextId = 0x10000;
  UInt32 stamp = 0;
  OSErr lastError = noErr;
  OSErr stickyError = noErr;
  MoviesErrorProcPtr errorProc = nullptr;
  SInt32 errorRefCon = 0;
  // Memory blocks adopted by 'hndl' data references and the files read.
  std::unordered_map<Handle, std::weak_ptr<CDataStore>> handleStores;
  std::vector<std::weak_ptr<CDataStore>> fileStores;
};

Registry& R() {
  static Registry* r = new Registry;  // lives to the process's end: stores may outlive static destruction order
  return *r;
}

}  // namespace

std::recursive_mutex& Lock() { return R().lock; }

UInt64 NewId() { return R().nextId += 16; }

void Register(UInt64 id, Kind kind, std::shared_ptr<void> obj, bool strong) {
  Entry e{kind, strong ? obj : nullptr, obj};
  R().entries[id] = std::move(e);
}

void Unregister(UInt64 id) { R().entries.erase(id); }

std::shared_ptr<void> Lookup(UInt64 id, Kind kind) {
  auto it = R().entries.find(id);
  if (it == R().entries.end() || it->second.kind != kind) return nullptr;
  auto sp = it->second.weak.lock();
  if (!sp) R().entries.erase(it);
  return sp;
}

UInt32 NextStamp() { return ++R().stamp; }

std::vector<std::shared_ptr<MovieObj>> AllMovies() {
  std::vector<std::shared_ptr<MovieObj>> out;
  for (auto& [id, e] : R().entries)
    if (e.kind == Kind::kMovie && e.strong) out.push_back(std::static_pointer_cast<MovieObj>(e.strong));
  return out;
}

UInt32 NowStamp() {
  // Seconds since 1904-01-01, as movie headers count them.
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<UInt32>(std::chrono::duration_cast<std::chrono::seconds>(now).count() + 2082844800LL);
}

void SetError(OSErr err) {
  Registry& r = R();
  r.lastError = err;
  if (err != noErr) {
    r.stickyError = err;
    if (r.errorProc) r.errorProc(err, r.errorRefCon);
  }
}

OSErr ErrorOf(const std::exception&) { return OSErrOfCurrent(memFullErr, internalQuickTimeError); }

MovieObj& GetMovie(Movie m) { return *GetMovieShared(m); }

std::shared_ptr<MovieObj> GetMovieShared(Movie m) {
  auto p = std::static_pointer_cast<MovieObj>(Lookup(FromHandle(m), Kind::kMovie));
  if (!p) Throw_(invalidMovie);
  return p;
}

TrackObj& GetTrack(Track t) {
  auto p = std::static_pointer_cast<TrackObj>(Lookup(FromHandle(t), Kind::kTrack));
  if (!p || !p->movie) Throw_(invalidTrack);
  return *p;
}

MediaObj& GetMedia(Media m) {
  auto p = std::static_pointer_cast<MediaObj>(Lookup(FromHandle(m), Kind::kMedia));
  if (!p || !p->track) Throw_(invalidMedia);
  return *p;
}

UserDataObj& GetUserDataObj(UserData u) {
  auto p = std::static_pointer_cast<UserDataObj>(Lookup(FromHandle(u), Kind::kUserData));
  if (!p) Throw_(paramErr);
  return *p;
}

std::shared_ptr<UserDataObj> NewUserDataObj() {
  auto u = std::make_shared<UserDataObj>();
  u->id = NewId();
  return u;
}

std::shared_ptr<MovieObj> NewMovieObj() {
  auto m = std::make_shared<MovieObj>();
  m->id = NewId();
  m->userData = NewUserDataObj();
  SetIdentityMatrix(&m->matrix);
  m->creationTime = m->modificationTime = NowStamp();
  return m;
}

std::shared_ptr<TrackObj> NewTrackObj(MovieObj& movie) {
  auto t = std::make_shared<TrackObj>();
  t->id = NewId();
  t->movie = &movie;
  t->trackID = movie.nextTrackID++;
  t->userData = NewUserDataObj();
  SetIdentityMatrix(&t->matrix);
  t->stamp = NextStamp();
  t->creationTime = NowStamp();
  return t;
}

std::shared_ptr<MediaObj> NewMediaObj(TrackObj& track, OSType type, TimeScale scale) {
  auto m = std::make_shared<MediaObj>();
  m->id = NewId();
  m->track = &track;
  m->type = type;
  m->scale = scale;
  m->userData = NewUserDataObj();
  m->creationTime = m->modificationTime = NowStamp();
  return m;
}

static std::shared_ptr<UserDataObj> CloneUserData(const std::shared_ptr<UserDataObj>& src, bool keepIds) {
  auto u = std::make_shared<UserDataObj>(*src);
  if (!keepIds) u->id = NewId();
  return u;
}

std::shared_ptr<MediaObj> CloneMedia(const MediaObj& src, TrackObj* owner, bool keepIds) {
  auto m = std::make_shared<MediaObj>(src);
  if (!keepIds) m->id = NewId();
  m->track = owner;
  m->userData = CloneUserData(src.userData, keepIds);
  m->editing = false;
  return m;
}

std::shared_ptr<TrackObj> CloneTrack(const TrackObj& src, MovieObj* owner, bool keepIds) {
  auto t = std::make_shared<TrackObj>(src);
  if (!keepIds) t->id = NewId();
  t->movie = owner;
  t->userData = CloneUserData(src.userData, keepIds);
  if (src.media) t->media = CloneMedia(*src.media, t.get(), keepIds);
  t->decode.reset();
  return t;
}

void RegisterMovieTree(const std::shared_ptr<MovieObj>& movie) {
  Register(movie->id, Kind::kMovie, movie, true);
  Register(movie->userData->id, Kind::kUserData, movie->userData, false);
  movie->userData->movie = movie.get();
  for (auto& t : movie->tracks) {
    t->movie = movie.get();
    Register(t->id, Kind::kTrack, t, false);
    Register(t->userData->id, Kind::kUserData, t->userData, false);
    t->userData->movie = movie.get();
    if (t->media) {
      t->media->userData->movie = movie.get();
      t->media->track = t.get();
      Register(t->media->id, Kind::kMedia, t->media, false);
      Register(t->media->userData->id, Kind::kUserData, t->media->userData, false);
    }
  }
}

void UnregisterTrackTree(const TrackObj& t) {
  Unregister(t.id);
  Unregister(t.userData->id);
  if (t.media) {
    Unregister(t.media->id);
    Unregister(t.media->userData->id);
  }
}

void Touch(TrackObj& track) {
  track.stamp = NextStamp();
  ForgetDecodeState(track);
  if (track.movie) Touch(*track.movie);
}

void Touch(MovieObj& movie) {
  movie.changed = true;
  movie.needsDraw = true;
  movie.modificationTime = NowStamp();
}

// --- data stores -------------------------------------------------------------------

std::shared_ptr<CDataStore> CDataStore::NewMemory(Handle adopt) {
  std::shared_ptr<CDataStore> s(new CDataStore);
  s->mKind = kMemory;
  s->mHandle = adopt ? adopt : NewHandle(0);
  if (!s->mHandle) Throw_(memFullErr);
  R().handleStores[s->mHandle] = s;
  return s;
}

std::shared_ptr<CDataStore> CDataStore::ForHandle(Handle h) {
  if (!h || !IsValidHandle(h)) Throw_(invalidDataRef);
  auto it = R().handleStores.find(h);
  if (it != R().handleStores.end())
    if (auto s = it->second.lock()) return s;
  return NewMemory(h);
}

std::shared_ptr<CDataStore> CDataStore::ForFile(const std::string& path) {
  struct stat st;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    return Unresolved(path);
  }
  // Share one store per file.
  auto& list = R().fileStores;
  for (auto it = list.begin(); it != list.end();) {
    auto s = it->lock();
    if (!s) {
      it = list.erase(it);
      continue;
    }
    if (s->mDevice == static_cast<UInt64>(st.st_dev) && s->mInode == static_cast<UInt64>(st.st_ino) &&
        s->mPath == path) {
      close(fd);
      return s;
    }
    ++it;
  }
  std::shared_ptr<CDataStore> s(new CDataStore);
  s->mKind = kFile;
  s->mPath = path;
  s->mFD = fd;
  s->mDevice = static_cast<UInt64>(st.st_dev);
  s->mInode = static_cast<UInt64>(st.st_ino);
  list.push_back(s);
  return s;
}

std::shared_ptr<CDataStore> CDataStore::Unresolved(const std::string& path) {
  std::shared_ptr<CDataStore> s(new CDataStore);
  s->mKind = kUnresolved;
  s->mPath = path;
  return s;
}

bool CDataStore::IsFileInUse(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  for (auto& w : R().fileStores)
    if (auto s = w.lock())
      if (s->mDevice == static_cast<UInt64>(st.st_dev) && s->mInode == static_cast<UInt64>(st.st_ino)) return true;
  return false;
}

CDataStore::~CDataStore() {
  if (mFD >= 0) close(mFD);
  if (mKind == kMemory && mHandle) {
    auto& hs = R().handleStores;
    auto it = hs.find(mHandle);
    if (it != hs.end() && it->second.expired()) hs.erase(it);
    DisposeHandle(mHandle);
  }
}

SInt64 CDataStore::GetSize() const {
  if (mKind == kMemory) return GetHandleSize(mHandle);
  if (mKind == kFile) {
    struct stat st;
    if (fstat(mFD, &st) == 0) return st.st_size;
  }
  return 0;
}

OSErr CDataStore::Read(SInt64 offset, void* dest, UInt32 size) const {
  if (mKind == kUnresolved) return couldNotResolveDataRef;
  if (offset < 0 || offset + static_cast<SInt64>(size) > GetSize()) return endOfDataReached;
  if (size == 0) return noErr;
  if (mKind == kMemory) {
    std::memcpy(dest, *mHandle + offset, size);
    return noErr;
  }
  UInt8* p = static_cast<UInt8*>(dest);
  UInt32 done = 0;
  while (done < size) {
    ssize_t n = pread(mFD, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ioErr;
    done += static_cast<UInt32>(n);
  }
  return noErr;
}

OSErr CDataStore::Append(const void* data, UInt32 size, SInt64* outOffset) {
  if (mKind != kMemory) return dataNotOpenForWrite;
  SInt64 old = GetHandleSize(mHandle);
  if (old + static_cast<SInt64>(size) > 0x7FFFFFFF) return memFullErr;
  SetHandleSize(mHandle, static_cast<SInt32>(old + size));
  if (MemError() != noErr) return MemError();
  if (size) std::memcpy(*mHandle + old, data, size);
  if (outOffset) *outOffset = old;
  return noErr;
}

OSErr CDataStore::Write(SInt64 offset, const void* data, UInt32 size) {
  if (mKind != kMemory) return dataNotOpenForWrite;
  if (offset < 0) return paramErr;
  SInt64 end = offset + size;
  if (end > 0x7FFFFFFF) return memFullErr;
  if (end > GetHandleSize(mHandle)) {
    SInt32 old = GetHandleSize(mHandle);
    SetHandleSize(mHandle, static_cast<SInt32>(end));
    if (MemError() != noErr) return MemError();
    std::memset(*mHandle + old, 0, static_cast<size_t>(end - old));
  }
  if (size) std::memcpy(*mHandle + offset, data, size);
  return noErr;
}

bool CDataStore::PathStillMatches() const {
  if (mKind != kFile) return false;
  struct stat st;
  return stat(mPath.c_str(), &st) == 0 && static_cast<UInt64>(st.st_dev) == mDevice &&
         static_cast<UInt64>(st.st_ino) == mInode;
}

bool CDataStore::SameFileAs(const std::string& path) const {
  if (mKind != kFile) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return static_cast<UInt64>(st.st_dev) == mDevice && static_cast<UInt64>(st.st_ino) == mInode;
}

}  // namespace movies

using namespace movies;

OSErr EnterMovies() {
  // Movies come and go with frame-sized blocks; a few shared heaps let
  // what a closed movie freed go back to the system (see FreeMemory.h).
  LimitAllocatorHeaps();
  // Real codecs and foreign containers come from FFmpeg; picture samples are
  // drawn by the toolbox's own picture decoder.
  InstallFFmpegMovieComponents();
  InstallPictMovieDecoder();
  SetError(noErr);
  return noErr;
}

void ExitMovies() {}

OSErr GetMoviesError() {
  std::lock_guard<std::recursive_mutex> g(Lock());
  return R().lastError;
}

OSErr GetMoviesStickyError() {
  std::lock_guard<std::recursive_mutex> g(Lock());
  return R().stickyError;
}

void ClearMoviesStickyError() {
  std::lock_guard<std::recursive_mutex> g(Lock());
  R().stickyError = noErr;
}

void SetMoviesErrorProc(MoviesErrorProcPtr errProc, SInt32 refCon) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  R().errorProc = errProc;
  R().errorRefCon = refCon;
}
