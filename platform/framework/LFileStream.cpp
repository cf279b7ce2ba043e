#include "platform/framework/LFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/Files.h"

OSErr LFileStream::ErrnoToOSErr(int inErrno) {
  // A folder opened as a stream is no file that could be found.
  if (inErrno == EISDIR) return fnfErr;
  return OSErrFromErrno(inErrno);
}

LFileStream::~LFileStream() { CloseDataFork(); }

void LFileStream::SetPath(const std::string& inPath) {
  CloseDataFork();
  mPath = inPath;
}

void LFileStream::CreateNewDataFile() {
  if (mPath.empty()) Throw_(bdNamErr);
  int fd = ::open(mPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Throw_(ErrnoToOSErr(errno));
  ::close(fd);
}

SInt16 LFileStream::OpenDataFork(SInt16 inPermissions) {
  if (mFD >= 0) Throw_(opWrErr);
  if (mPath.empty()) Throw_(bdNamErr);
  int flags = O_CLOEXEC;
  switch (inPermissions) {
    case fsRdPerm:
      flags |= O_RDONLY;
      break;
    case fsWrPerm:
      flags |= O_WRONLY;
      break;
    case fsRdWrPerm:
    case fsRdWrShPerm:
    case fsCurPerm:
      flags |= O_RDWR;
      break;
    default:
      Throw_(paramErr);
  }
  int fd = ::open(mPath.c_str(), flags);
  if (fd < 0 && inPermissions == fsCurPerm && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    flags = (flags & ~O_RDWR) | O_RDONLY;
    fd = ::open(mPath.c_str(), flags);
  }
  if (fd < 0) Throw_(ErrnoToOSErr(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    OSErr err = ErrnoToOSErr(errno);
    ::close(fd);
    Throw_(err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    Throw_(fnfErr);
  }
  mFD = fd;
  mCanWrite = (flags & O_ACCMODE) != O_RDONLY;
  mMarker = 0;
  mLength = static_cast<SInt32>(std::min<SInt64>(st.st_size, 0x7FFFFFFF));
  return GetDataForkRefNum();
}

void LFileStream::CloseDataFork() {
  if (mFD >= 0) ::close(mFD);
  mFD = -1;
  mCanWrite = false;
  mMarker = 0;
  mLength = 0;
}

void LFileStream::SetLength(SInt32 inLength) {
  if (mFD < 0) Throw_(fnOpnErr);
  if (!mCanWrite) Throw_(wrPermErr);
  if (inLength < 0) Throw_(paramErr);
  if (::ftruncate(mFD, inLength) != 0) Throw_(ErrnoToOSErr(errno));
  LStream::SetLength(inLength);
}

ExceptionCode LFileStream::PutBytes(const void* inBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  ioByteCount = 0;
  if (want == 0) return noErr;
  if (mFD < 0) return fnOpnErr;
  if (!mCanWrite) return wrPermErr;
  ExceptionCode err = noErr;
  if (want > 0x7FFFFFFF - mMarker) {
    want = 0x7FFFFFFF - mMarker;
    err = dskFulErr;
  }
  const char* src = static_cast<const char*>(inBuffer);
  SInt32 done = 0;
  while (done < want) {
    ssize_t n = ::pwrite(mFD, src + done, static_cast<size_t>(want - done), static_cast<off_t>(mMarker) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? ErrnoToOSErr(errno) : dskFulErr;
      break;
    }
    done += static_cast<SInt32>(n);
  }
  mMarker += done;
  if (mMarker > mLength) mLength = mMarker;
  ioByteCount = done;
  return err;
}

ExceptionCode LFileStream::GetBytes(void* outBuffer, SInt32& ioByteCount) {
  SInt32 want = std::max<SInt32>(ioByteCount, 0);
  ioByteCount = 0;
  if (want == 0) return noErr;
  if (mFD < 0) return fnOpnErr;
  ExceptionCode err = noErr;
  if (want > mLength - mMarker) {
    want = mLength - mMarker;
    err = eofErr;
  }
  char* dst = static_cast<char*>(outBuffer);
  SInt32 done = 0;
  while (done < want) {
    ssize_t n = ::pread(mFD, dst + done, static_cast<size_t>(want - done), static_cast<off_t>(mMarker) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? ErrnoToOSErr(errno) : eofErr;
      break;
    }
    done += static_cast<SInt32>(n);
  }
  mMarker += done;
  ioByteCount = done;
  return err;
}
