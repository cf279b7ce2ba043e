#include "platform/files/PartialFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <filesystem>
#include <vector>

namespace {

constexpr const char kPartialMark[] = ".partial-";
constexpr const char kSavePrefix[] = ".trx-movie-";
constexpr size_t kRandomLength = 6;  // the XXXXXX of mkstemp

// The partial files this process holds: descriptor -> path.
std::mutex gOwnLock;
std::map<int, std::string> gOwn;
std::atomic<unsigned> gNoteCounter{0};

std::string FolderOf(const std::string& inPath) {
  const size_t slash = inPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : inPath.substr(0, slash);
}

std::string LeafOf(const std::string& inPath) {
  const size_t slash = inPath.rfind('/');
  return slash == std::string::npos ? inPath : inPath.substr(slash + 1);
}

std::string Join(const std::string& inFolder, const std::string& inLeaf) {
  std::string path(inFolder);
  if (path != "/") path.push_back('/');
  path.append(inLeaf);
  return path;
}

bool IsRandomPart(const std::string& inText) {
  if (inText.size() != kRandomLength) return false;
  for (char c : inText)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

std::string StateHome() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] == '/' ? home : "/tmp") + "/.local/state";
}

// A stable name for a folder's note (FNV-1a of its path).
std::string NoteNameFor(const std::string& inFolder) {
  unsigned long long hash = 1469598103934665603ull;
  for (unsigned char c : inFolder) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.folder", hash);
  return name;
}

// The lock over the notes: writers hold it shared from noting a folder to
// having made their file there, the start-up's look round exclusive, so it
// never forgets a folder in which a file is just being made.
class StNotesLock {
 public:
  explicit StNotesLock(bool inExclusive) {
    const std::string folder = PartialNotesFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    mFD = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (mFD >= 0) {
      while (::flock(mFD, inExclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }
  ~StNotesLock() {
    if (mFD >= 0) ::close(mFD);
  }
  StNotesLock(const StNotesLock&) = delete;
  StNotesLock& operator=(const StNotesLock&) = delete;

 private:
  int mFD = -1;
};

// Notes a folder (best effort: a folder not noted is still cleaned when its
// destination is written again).
void NoteFolder(const std::string& inFolder) {
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(inFolder, error).lexically_normal().string();
  if (error || absolute.empty()) return;
  const std::string notes = PartialNotesFolder();
  const std::string note = Join(notes, NoteNameFor(absolute));
  struct stat info {};
  if (::stat(note.c_str(), &info) == 0) return;
  const std::string temp = note + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(gNoteCounter++);
  FILE* file = std::fopen(temp.c_str(), "we");
  if (file == nullptr) return;
  const bool written = std::fwrite(absolute.data(), 1, absolute.size(), file) == absolute.size();
  if (std::fclose(file) == 0 && written && std::rename(temp.c_str(), note.c_str()) == 0) return;
  ::unlink(temp.c_str());
}

enum class ELeftover { kRemoved, kInUse, kNone };

// Removes the file when nobody holds its lock. The lock is taken on the
// very file found under the name: one a writer holds, or one renamed away
// meanwhile, stays.
ELeftover RemoveIfLeftover(const std::string& inPath) {
  const int fd = ::open(inPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return ELeftover::kNone;
  ELeftover result = ELeftover::kNone;
  struct stat held {};
  if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode)) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      result = ELeftover::kInUse;
    } else {
      struct stat named {};
      if (::lstat(inPath.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
          ::unlink(inPath.c_str()) == 0)
        result = ELeftover::kRemoved;
    }
  }
  ::close(fd);
  return result;
}

template <typename Match>
int RemoveMatching(const std::string& inFolder, Match inMatch, int* outInUse) {
  int removed = 0, inUse = 0;
  if (DIR* dir = ::opendir(inFolder.c_str())) {
    std::vector<std::string> found;
    while (struct dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 1 && name[0] == '.' && inMatch(name)) found.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : found) {
      switch (RemoveIfLeftover(Join(inFolder, name))) {
        case ELeftover::kRemoved: ++removed; break;
        case ELeftover::kInUse: ++inUse; break;
        case ELeftover::kNone: break;
      }
    }
  }
  if (outInUse) *outInUse = inUse;
  return removed;
}

}  // namespace

std::string PartialNotesFolder() { return StateHome() + "/Tremblorix/Partial Files"; }

std::string PartialPatternFor(const std::string& inDestination) {
  std::string leaf(1, '.');
  leaf.append(LeafOf(inDestination)).append(kPartialMark).append("XXXXXX");
  return Join(FolderOf(inDestination), leaf);
}

std::string SavePartialPatternIn(const std::string& inFolder) {
  std::string leaf(kSavePrefix);
  leaf.append("XXXXXX");
  return Join(inFolder, leaf);
}

int OpenPartialFile(std::string& ioPath) {
  StNotesLock notes(false);
  NoteFolder(FolderOf(ioPath));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::vector<char> name(ioPath.begin(), ioPath.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // A look round that found the file in the moment before it was locked
    // has removed it: make another.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_nlink == 0) {
      ::close(fd);
      continue;
    }
    ioPath = name.data();
    std::lock_guard<std::mutex> guard(gOwnLock);
    gOwn[fd] = ioPath;
    return fd;
  }
  errno = EEXIST;
  return -1;
}

void ReleasePartialFile(int inFD) {
  if (inFD < 0) return;
  {
    std::lock_guard<std::mutex> guard(gOwnLock);
    gOwn.erase(inFD);
  }
  ::close(inFD);
}

void RemoveOwnPartialFiles() {
  std::lock_guard<std::mutex> guard(gOwnLock);
  for (const auto& [fd, path] : gOwn) {
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      ::unlink(path.c_str());
  }
}

bool IsPartialFileName(const std::string& inName) {
  if (inName.size() < 2 || inName[0] != '.') return false;
  if (inName.rfind(kSavePrefix, 0) == 0) return IsRandomPart(inName.substr(sizeof kSavePrefix - 1));
  const size_t mark = inName.rfind(kPartialMark);
  if (mark == std::string::npos || mark < 2) return false;
  return IsRandomPart(inName.substr(mark + sizeof kPartialMark - 1));
}

int RemoveLeftoversBeside(const std::string& inDestination) {
  std::string prefix(1, '.');
  prefix.append(LeafOf(inDestination)).append(kPartialMark);
  return RemoveMatching(
      FolderOf(inDestination),
      [&](const std::string& inName) {
        return inName.size() == prefix.size() + kRandomLength && inName.rfind(prefix, 0) == 0 &&
               IsRandomPart(inName.substr(prefix.size()));
      },
      nullptr);
}

int RemoveLeftoversIn(const std::string& inFolder, int* outInUse) {
  return RemoveMatching(inFolder, IsPartialFileName, outInUse);
}

int RemoveNotedLeftovers() {
  StNotesLock notes(true);
  const std::string folder = PartialNotesFolder();
  int removed = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> found;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const std::string ending = ".folder";
    if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
      found.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : found) {
    const std::string note = Join(folder, name);
    std::string noted;
    if (FILE* file = std::fopen(note.c_str(), "re")) {
      char buffer[4096];
      size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) noted.append(buffer, n);
      std::fclose(file);
    }
    int inUse = 0;
    if (!noted.empty() && noted[0] == '/') removed += RemoveLeftoversIn(noted, &inUse);
    if (inUse == 0) ::unlink(note.c_str());
  }
  return removed;
}
