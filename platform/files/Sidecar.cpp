#include "platform/files/Sidecar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/files/Files.h"

namespace {

constexpr UInt32 kAppleDoubleMagic = 0x00051607;
constexpr UInt32 kAppleDoubleVersion = 0x00020000;
constexpr UInt32 kEntryResourceFork = 2;
constexpr UInt32 kEntryFinderInfo = 9;
constexpr size_t kHeaderSize = 26;
constexpr size_t kEntrySize = 12;
// Sidecars hold resource forks; anything beyond this is taken as damage.
constexpr UInt64 kMaxSidecarSize = 256u * 1024 * 1024;

}  // namespace

OSErr ReadWholeFile(const std::string& inPath, std::vector<char>& outBytes) {
  outBytes.clear();
  int fd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return OSErrFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return OSErrFromErrno(e);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return notAFileErr;
  }
  if (static_cast<UInt64>(st.st_size) > kMaxSidecarSize) {
    ::close(fd);
    return fsDataTooBigErr;
  }
  outBytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < outBytes.size()) {
    ssize_t n = ::read(fd, outBytes.data() + done, outBytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  outBytes.resize(done);
  return noErr;
}

OSErr WriteWholeFileAtomically(const std::string& inPath, const std::vector<char>& inBytes) {
  std::string temp = inPath + ".trx-new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return OSErrFromErrno(errno);
  size_t done = 0;
  while (done < inBytes.size()) {
    ssize_t n = ::write(fd, inBytes.data() + done, inBytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = n < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(temp.c_str());
      return OSErrFromErrno(e);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), inPath.c_str()) != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    return OSErrFromErrno(e);
  }
  return noErr;
}

std::string SidecarPathFor(const std::string& inPath) {
  size_t slash = inPath.rfind('/');
  if (slash == std::string::npos) return "/._" + inPath;
  if (inPath == "/") return "/._";
  return inPath.substr(0, slash + 1) + "._" + inPath.substr(slash + 1);
}

OSErr ParseSidecar(const std::vector<char>& inBytes, SidecarContents& outContents) {
  outContents = SidecarContents{};
  const size_t size = inBytes.size();
  const char* p = inBytes.data();
  if (size < kHeaderSize) return eofErr;
  if (ReadBE32(p) != kAppleDoubleMagic || ReadBE32(p + 4) != kAppleDoubleVersion) return eofErr;
  UInt16 count = ReadBE16(p + 24);
  if (kHeaderSize + static_cast<size_t>(count) * kEntrySize > size) return eofErr;
  for (UInt16 i = 0; i < count; ++i) {
    const char* e = p + kHeaderSize + static_cast<size_t>(i) * kEntrySize;
    UInt32 id = ReadBE32(e);
    UInt64 offset = ReadBE32(e + 4);
    UInt64 length = ReadBE32(e + 8);
    if (offset > size || length > size - offset) return eofErr;
    if (id == kEntryResourceFork) {
      outContents.hasFork = true;
      outContents.fork.assign(p + offset, p + offset + length);
    } else if (id == kEntryFinderInfo) {
      if (length < 32) return eofErr;
      outContents.hasFinderInfo = true;
      std::memcpy(outContents.finderInfo, p + offset, 32);
    }
  }
  return noErr;
}

OSErr ReadSidecar(const std::string& inDataPath, SidecarContents& outContents) {
  outContents = SidecarContents{};
  std::vector<char> bytes;
  OSErr err = ReadWholeFile(SidecarPathFor(inDataPath), bytes);
  if (err == fnfErr || err == dirNFErr) return noErr;
  if (err == fsDataTooBigErr) return eofErr;
  if (err != noErr) return err;
  return ParseSidecar(bytes, outContents);
}

OSErr WriteSidecar(const std::string& inDataPath, const SidecarContents& inContents) {
  std::string path = SidecarPathFor(inDataPath);
  if (!inContents.hasFinderInfo && !inContents.hasFork) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return OSErrFromErrno(errno);
    return noErr;
  }
  if (inContents.fork.size() > kMaxSidecarSize) return fsDataTooBigErr;
  UInt16 count = static_cast<UInt16>((inContents.hasFinderInfo ? 1 : 0) + (inContents.hasFork ? 1 : 0));
  size_t offset = kHeaderSize + count * kEntrySize;
  std::vector<char> bytes(offset);
  WriteBE32(bytes.data(), kAppleDoubleMagic);
  WriteBE32(bytes.data() + 4, kAppleDoubleVersion);
  WriteBE16(bytes.data() + 24, count);
  char* e = bytes.data() + kHeaderSize;
  if (inContents.hasFinderInfo) {
    WriteBE32(e, kEntryFinderInfo);
    WriteBE32(e + 4, static_cast<UInt32>(bytes.size()));
    WriteBE32(e + 8, 32);
    e += kEntrySize;
    bytes.insert(bytes.end(), inContents.finderInfo, inContents.finderInfo + 32);
    e = bytes.data() + kHeaderSize + kEntrySize;  // the insert may have moved the buffer
  }
  if (inContents.hasFork) {
    UInt32 forkOffset = static_cast<UInt32>(bytes.size());
    bytes.insert(bytes.end(), inContents.fork.begin(), inContents.fork.end());
    e = bytes.data() + kHeaderSize + (inContents.hasFinderInfo ? kEntrySize : 0);
    WriteBE32(e, kEntryResourceFork);
    WriteBE32(e + 4, forkOffset);
    WriteBE32(e + 8, static_cast<UInt32>(inContents.fork.size()));
  }
  return WriteWholeFileAtomically(path, bytes);
}
