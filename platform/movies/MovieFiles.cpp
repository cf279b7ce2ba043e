// Movie files, movies in handles and the movie scrap.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Files.h"
#include "platform/files/PartialFiles.h"
#include "platform/files/Scrap.h"
#include "platform/movies/MovieFileFormat.h"
#include "platform/movies/MovieImport.h"

using namespace movies;

namespace {

struct OpenMovieFileEntry {
  std::string path;
  bool writable = false;
};

std::map<SInt16, OpenMovieFileEntry>& OpenFiles() {
  static auto* m = new std::map<SInt16, OpenMovieFileEntry>;
  return *m;
}

SInt16 NewRefNum() {
  static SInt16 next = 0x2000;
  auto& files = OpenFiles();
  for (int i = 0; i < 0x6000; ++i) {
    SInt16 r = next;
    next = static_cast<SInt16>(next >= 0x7FF0 ? 0x2000 : next + 1);
    if (!files.count(r)) return r;
  }
  Throw_(tmfoErr);
}

OpenMovieFileEntry& GetOpenFile(SInt16 ref) {
  auto it = OpenFiles().find(ref);
  if (it == OpenFiles().end()) Throw_(rfNumErr);
  return it->second;
}

std::string SpecPath(const FSSpec* spec) {
  if (!spec) Throw_(paramErr);
  std::string p = FSSpecPath(*spec);
  if (p.empty()) Throw_(bdNamErr);
  return p;
}

std::string DirOf(const std::string& path) {
  size_t s = path.rfind('/');
  return s == std::string::npos ? std::string(".") : (s == 0 ? std::string("/") : path.substr(0, s));
}

// A movie file refused for its permissions says so as a permission error.
OSErr ErrnoToOSErr(int e) {
  if (e == EACCES || e == EPERM) return permErr;
  return OSErrFromErrno(e);
}

// A locked file has no write permission bits: it is never written, also not by a privileged user.
bool IsLocked(const struct stat& st) { return (st.st_mode & 0222) == 0; }

class CFileSink : public CDataSink {
 public:
  explicit CFileSink(int fd) : mFD(fd) {}
  SInt64 Position() const override { return mPos; }
  void Write(const void* data, size_t size) override {
    const UInt8* p = static_cast<const UInt8*>(data);
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(mFD, p + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Throw_(ErrnoToOSErr(errno));
      done += static_cast<size_t>(n);
    }
    mPos += static_cast<SInt64>(size);
  }

 private:
  int mFD;
  SInt64 mPos = 0;
};

// Writes the movie into a new file beside `path` and renames it over `path`
// once complete. Nothing at `path` is touched when it fails.
WritePlan WriteMovieFile(MovieObj& movie, const std::string& path, WriteMode mode) {
  // The partial file stays locked until it is renamed or removed, so that a
  // leftover of a killed save can be told from it (PartialFiles.h).
  std::string temp = SavePartialPatternIn(DirOf(path));
  int lock = OpenPartialFile(temp);
  if (lock < 0) Throw_(ErrnoToOSErr(errno));
  int fd = ::dup(lock);
  if (fd < 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    ReleasePartialFile(lock);
    Throw_(ErrnoToOSErr(e));
  }
  Movie handle = ToHandle<Movie>(movie.id);
  bool opened = false;
  try {
    CFileSink sink(fd);
    std::vector<UInt8> ftyp = FileTypeAtom();
    sink.Write(ftyp.data(), ftyp.size());
    // The media data: a 64-bit sized 'mdat', its size filled in at the end.
    SInt64 mdatAt = sink.Position();
    UInt8 header[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 16};
    sink.Write(header, sizeof header);
    if (movie.progressProc) {
      opened = true;
      if (OSErr e = movie.progressProc(handle, movieProgressOpen, progressOpFlatten, 0, movie.progressRefCon))
        Throw_(e);
    }
    auto progress = [&](double f) {
      if (!movie.progressProc) return true;
      return movie.progressProc(handle, movieProgressUpdatePercent, progressOpFlatten, X2Fix(f),
                                movie.progressRefCon) == noErr;
    };
    WritePlan plan = PlanMovieWrite(movie, mode, &sink, path, progress);
    SInt64 mdatSize = sink.Position() - mdatAt;
    UInt8 size64[8];
    WriteBE64(size64, static_cast<UInt64>(mdatSize));
    if (pwrite(fd, size64, 8, mdatAt + 8) != 8) Throw_(ErrnoToOSErr(errno));
    std::vector<UInt8> moov = SerializeMovie(*plan.movie);
    sink.Write(moov.data(), moov.size());
    struct stat st;
    if (stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    else fchmod(fd, 0644);
    if (fsync(fd) != 0) Throw_(ErrnoToOSErr(errno));
    if (close(fd) != 0) {
      fd = -1;
      Throw_(ioErr);
    }
    fd = -1;
    if (rename(temp.c_str(), path.c_str()) != 0) Throw_(ErrnoToOSErr(errno));
    ReleasePartialFile(lock);
    lock = -1;
    if (opened) movie.progressProc(handle, movieProgressClose, progressOpFlatten, fixed1, movie.progressRefCon);
    return plan;
  } catch (...) {
    if (fd >= 0) close(fd);
    if (lock >= 0) {
      unlink(temp.c_str());
      ReleasePartialFile(lock);
    }
    if (opened) movie.progressProc(handle, movieProgressClose, progressOpFlatten, 0, movie.progressRefCon);
    throw;
  }
}

// After a reference save the movie reads what was written from the new file.
void AdoptWrittenMedia(MovieObj& movie, const WritePlan& plan, const std::string& path) {
  std::shared_ptr<CDataStore> store = CDataStore::ForFile(path);
  for (size_t i = 0; i < movie.tracks.size() && i < plan.movie->tracks.size(); ++i) {
    TrackObj& t = *movie.tracks[i];
    TrackObj& w = *plan.movie->tracks[i];
    if (!t.media || !w.media) continue;
    t.media->dataRefs = w.media->dataRefs;
    for (DataRefEntry& e : t.media->dataRefs)
      if (e.self) e.store = store;
    t.media->descs = w.media->descs;
    t.media->samples = w.media->samples;
    t.media->defaultDataRef = 1;
    ForgetDecodeState(t);
  }
  movie.defaultDataRef = DataRefEntry{rAliasType, {}, true, store};
  movie.hasDefaultDataRef = true;
}

std::shared_ptr<MovieObj> ReadMovieFile(const std::string& path, SInt64 offset) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Throw_(ErrnoToOSErr(errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  SInt64 at = 0, size = 0;
  ThrowIfOSErr_(FindMovieAtom(fd, offset, &at, &size));
  if (size > kMaxMovieAtomSize) Throw_(badPublicMovieAtom);
  std::vector<UInt8> bytes(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, at + static_cast<SInt64>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Throw_(badPublicMovieAtom);
    done += static_cast<size_t>(n);
  }
  auto movie = ParseMovie(bytes.data(), bytes.size(), path);
  movie->defaultDataRef = DataRefEntry{rAliasType, {}, true, CDataStore::ForFile(path)};
  movie->hasDefaultDataRef = true;
  return movie;
}

Movie AdoptParsed(const std::shared_ptr<MovieObj>& m, SInt16 flags) {
  m->active = (flags & newMovieActive) != 0;
  m->changed = false;
  RegisterMovieTree(m);
  return ToHandle<Movie>(m->id);
}

}  // namespace

namespace {
MovieFileImporter gImporter = nullptr;

// The movie of a file: our own format, else whatever the importer makes of it.
Movie MovieOfFile(const std::string& path, SInt16 flags) {
  try {
    return AdoptParsed(ReadMovieFile(path, 0), flags);
  } catch (const LException& e) {
    OSErr err = ErrorCodeToOSErr(e.GetErrorCode());
    if (!gImporter || (err != noMovieFound && err != badPublicMovieAtom)) throw;
    Movie m = nullptr;
    ThrowIfOSErr_(gImporter(path, &m));
    if (!m) Throw_(noMovieFound);
    SetMovieActive(m, (flags & newMovieActive) != 0);
    return m;
  }
}
}  // namespace

void SetMovieFileImporter(MovieFileImporter inImporter) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  gImporter = inImporter;
}

OSErr OpenMovieFile(const FSSpec* fileSpec, SInt16* resRefNum, SInt8 permission) {
  return GuardedErr([&] {
    std::string path = SpecPath(fileSpec);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) Throw_(ErrnoToOSErr(errno));
    if (S_ISDIR(st.st_mode)) Throw_(notAFileErr);
    bool wantWrite = permission == fsWrPerm || permission == fsRdWrPerm || permission == fsRdWrShPerm;
    bool writable = false;
    if (permission == fsCurPerm || wantWrite) {
      bool can = !IsLocked(st) && access(path.c_str(), W_OK) == 0;
      if (!can && wantWrite) {
        if (IsLocked(st)) Throw_(fLckdErr);
        Throw_(ErrnoToOSErr(errno));
      }
      writable = can;
    }
    if (access(path.c_str(), R_OK) != 0) Throw_(ErrnoToOSErr(errno));
    SInt16 ref = NewRefNum();
    OpenFiles()[ref] = OpenMovieFileEntry{path, writable};
    if (resRefNum) *resRefNum = ref;
  });
}

OSErr CloseMovieFile(SInt16 resRefNum) {
  return GuardedErr([&] {
    GetOpenFile(resRefNum);
    OpenFiles().erase(resRefNum);
  });
}

std::string GetMovieFilePath(SInt16 resRefNum) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  auto it = OpenFiles().find(resRefNum);
  return it == OpenFiles().end() ? std::string() : it->second.path;
}

OSErr NewMovieFromFile(Movie* theMovie, SInt16 resRefNum, SInt16* resId, StringPtr resName, SInt16 newMovieFlags,
                       Boolean* dataRefWasChanged) {
  return GuardedErr([&] {
    if (!theMovie) Throw_(paramErr);
    *theMovie = nullptr;
    *theMovie = MovieOfFile(GetOpenFile(resRefNum).path, newMovieFlags);
    if (resId) *resId = movieInDataForkResID;
    if (resName) resName[0] = 0;
    if (dataRefWasChanged) *dataRefWasChanged = false;
  });
}

OSErr NewMovieFromDataFork64(Movie* theMovie, SInt16 fRefNum, const wide* fileOffset, SInt16 newMovieFlags,
                             Boolean* dataRefWasChanged) {
  return GuardedErr([&] {
    if (!theMovie || !fileOffset) Throw_(paramErr);
    *theMovie = nullptr;
    SInt64 off = WideToSInt64(*fileOffset);
    if (off < 0) Throw_(paramErr);
    // A data-fork reference number of the file manager or of an open movie file.
    std::string path = FSForkPath(fRefNum);
    if (path.empty()) path = GetOpenFile(fRefNum).path;
    auto m = ReadMovieFile(path, off);
    *theMovie = AdoptParsed(m, newMovieFlags);
    if (dataRefWasChanged) *dataRefWasChanged = false;
  });
}

OSErr NewMovieFromDataFork(Movie* theMovie, SInt16 fRefNum, SInt32 fileOffset, SInt16 newMovieFlags,
                           Boolean* dataRefWasChanged) {
  wide w = SInt64ToWide(fileOffset);
  return NewMovieFromDataFork64(theMovie, fRefNum, &w, newMovieFlags, dataRefWasChanged);
}

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, SInt16, SInt32 createMovieFileFlags,
                      SInt16* resRefNum, Movie* newMovie) {
  return GuardedErr([&] {
    std::string path = SpecPath(fileSpec);
    if (newMovie) *newMovie = nullptr;
    struct stat st;
    bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
      if (!(createMovieFileFlags & createMovieFileDeleteCurFile)) Throw_(dupFNErr);
      if (S_ISDIR(st.st_mode)) Throw_(notAFileErr);
      if (IsLocked(st)) Throw_(fLckdErr);
      // The existing file stays as it is until a movie is written over it.
    } else {
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) Throw_(ErrnoToOSErr(errno));
      close(fd);
      FInfo info{};
      info.fdType = 'MooV';
      info.fdCreator = creator;
      FSpSetFInfo(fileSpec, &info);
    }
    if (!(createMovieFileFlags & createMovieFileDontOpenFile)) {
      SInt16 ref = NewRefNum();
      OpenFiles()[ref] = OpenMovieFileEntry{path, true};
      if (resRefNum) *resRefNum = ref;
    } else if (resRefNum) {
      *resRefNum = 0;
    }
    if (!(createMovieFileFlags & createMovieFileDontCreateMovie) && newMovie) {
      auto m = NewMovieObj();
      m->active = true;
      // New media data belong to the file; until it is written they are kept in memory.
      m->defaultDataRef = DataRefEntry{rAliasType, {}, true, nullptr};
      m->hasDefaultDataRef = true;
      RegisterMovieTree(m);
      *newMovie = ToHandle<Movie>(m->id);
    }
  });
}

OSErr AddMovieResource(Movie theMovie, SInt16 resRefNum, SInt16* resId, ConstStr255Param) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    OpenMovieFileEntry& f = GetOpenFile(resRefNum);
    if (!f.writable) Throw_(wrPermErr);
    WritePlan plan = WriteMovieFile(m, f.path, WriteMode::kReference);
    AdoptWrittenMedia(m, plan, f.path);
    if (resId) *resId = movieInDataForkResID;
  });
}

OSErr UpdateMovieResource(Movie theMovie, SInt16 resRefNum, SInt16, ConstStr255Param resName) {
  return AddMovieResource(theMovie, resRefNum, nullptr, resName);
}

Movie FlattenMovieData(Movie theMovie, SInt32, const FSSpec* theFile, OSType creator, SInt16,
                       SInt32 createMovieFileFlags) {
  return Guarded<Movie>(nullptr, [&]() -> Movie {
    MovieObj& m = GetMovie(theMovie);
    std::string path = SpecPath(theFile);
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      if (!(createMovieFileFlags & createMovieFileDeleteCurFile)) Throw_(dupFNErr);
      if (S_ISDIR(st.st_mode)) Throw_(notAFileErr);
      if (IsLocked(st)) Throw_(fLckdErr);
    }
    WriteMovieFile(m, path, WriteMode::kFlatten);
    FInfo info{};
    info.fdType = 'MooV';
    info.fdCreator = creator;
    FSpSetFInfo(theFile, &info);
    if (createMovieFileFlags & createMovieFileDontCreateMovie) return nullptr;
    return AdoptParsed(ReadMovieFile(path, 0), newMovieActive);
  });
}

OSErr DeleteMovieFile(const FSSpec* fileSpec) {
  return GuardedErr([&] {
    std::string path = SpecPath(fileSpec);
    if (CDataStore::IsFileInUse(path)) Throw_(fBsyErr);
    ThrowIfOSErr_(FSpDelete(fileSpec));
  });
}

// --- handles and the scrap --------------------------------------------------------------

OSErr PutMovieIntoHandle(Movie theMovie, Handle publicMovie) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (!publicMovie || !IsValidHandle(publicMovie)) Throw_(nilHandleErr);
    WritePlan plan = PlanMovieWrite(m, WriteMode::kHandle, nullptr, "", nullptr);
    std::vector<UInt8> bytes = SerializeMovie(*plan.movie);
    if (bytes.size() > 0x7FFFFFFF) Throw_(memFullErr);
    SetHandleSize(publicMovie, static_cast<SInt32>(bytes.size()));
    ThrowIfOSErr_(MemError());
    std::memcpy(*publicMovie, bytes.data(), bytes.size());
  });
}

OSErr NewMovieFromHandle(Movie* theMovie, Handle h, SInt16 newMovieFlags, Boolean* dataRefWasChanged) {
  return GuardedErr([&] {
    if (!theMovie) Throw_(paramErr);
    *theMovie = nullptr;
    if (!h || !IsValidHandle(h)) Throw_(nilHandleErr);
    SInt32 n = GetHandleSize(h);
    std::vector<UInt8> bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + n);
    auto m = ParseMovie(bytes.data(), bytes.size(), "");
    *theMovie = AdoptParsed(m, newMovieFlags);
    if (dataRefWasChanged) *dataRefWasChanged = false;
  });
}

OSErr PutMovieOnScrap(Movie theMovie, SInt32) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    WritePlan plan = PlanMovieWrite(m, WriteMode::kHandle, nullptr, "", nullptr);
    std::vector<UInt8> bytes = SerializeMovie(*plan.movie);
    ThrowIfOSErr_(static_cast<OSErr>(ClearCurrentScrap()));
    ScrapRef scrap = nullptr;
    ThrowIfOSErr_(static_cast<OSErr>(GetCurrentScrap(&scrap)));
    ThrowIfOSErr_(static_cast<OSErr>(
        PutScrapFlavor(scrap, 'moov', kScrapFlavorMaskNone, static_cast<SInt32>(bytes.size()), bytes.data())));
  });
}

Movie NewMovieFromScrap(SInt32 newMovieFlags) {
  return Guarded<Movie>(nullptr, [&] {
    ScrapRef scrap = nullptr;
    ThrowIfOSErr_(static_cast<OSErr>(GetCurrentScrap(&scrap)));
    SInt32 size = 0;
    if (GetScrapFlavorSize(scrap, 'moov', &size) != noErr || size <= 0) Throw_(noMovieFound);
    std::vector<UInt8> bytes(static_cast<size_t>(size));
    ThrowIfOSErr_(static_cast<OSErr>(GetScrapFlavorData(scrap, 'moov', &size, bytes.data())));
    auto m = ParseMovie(bytes.data(), static_cast<size_t>(size), "");
    return AdoptParsed(m, static_cast<SInt16>(newMovieFlags));
  });
}
