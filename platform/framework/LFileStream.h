// A stream over the data fork of a file named by a POSIX path.
#pragma once

#include <string>

#include "platform/files/FilePermissions.h"
#include "platform/framework/LStream.h"


class LFileStream : public LStream {
 public:
  LFileStream() = default;
  explicit LFileStream(const std::string& inPath) : mPath(inPath) {}
  ~LFileStream() override;

  void SetPath(const std::string& inPath);
  const std::string& GetPath() const { return mPath; }

  // Creates an empty file at the path (dupFNErr when one exists).
  void CreateNewDataFile();
  // Opens the file's data; marker 0, length = the file's size (files beyond
  // 2 GB show their first 2 GB). Returns the reference number. Failures are
  // thrown: fnfErr, afpAccessDenied, wPrErr, opWrErr (already open)...
  SInt16 OpenDataFork(SInt16 inPermissions);
  void CloseDataFork();
  SInt16 GetDataForkRefNum() const { return static_cast<SInt16>(mFD >= 0 ? mFD : 0); }
  bool IsOpen() const { return mFD >= 0; }

  void SetLength(SInt32 inLength) override;
  // Writing needs write permission (else wrPermErr); a closed fork gives fnOpnErr.
  ExceptionCode PutBytes(const void* inBuffer, SInt32& ioByteCount) override;
  ExceptionCode GetBytes(void* outBuffer, SInt32& ioByteCount) override;

  // The platform error for a POSIX errno value.
  static OSErr ErrnoToOSErr(int inErrno);

 private:
  std::string mPath;
  int mFD = -1;
  bool mCanWrite = false;
};
