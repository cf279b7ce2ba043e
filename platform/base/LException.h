// The framework's exception: carries a 32-bit error code, which is either an
// OSErr or a four-character code such as 'nilP'. Operations that report an
// OSErr after catching one keep the code's low 16 bits ('nilP' -> 27728).
#pragma once

#include <exception>

#include "platform/base/MacTypes.h"

typedef SInt32 ExceptionCode;

constexpr ExceptionCode err_NilPointer = 'nilP';
constexpr ExceptionCode err_AssertFailed = 'asrt';

class LException : public std::exception {
 public:
  explicit LException(ExceptionCode inErr) : mErrorCode(inErr) {}
  // With a message for the user (a Pascal string).
  LException(ExceptionCode inErr, ConstStringPtr inMessage);
  ExceptionCode GetErrorCode() const noexcept { return mErrorCode; }
  // The message (a Pascal string), empty when the failure carries none.
  ConstStringPtr GetErrorString() const noexcept { return mMessage; }
  const char* what() const noexcept override;

 private:
  ExceptionCode mErrorCode;
  mutable char mText[48] = {};
  unsigned char mMessage[256] = {};
};

// The 16-bit OSErr of an exception code: its low 16 bits as a signed value.
inline OSErr ErrorCodeToOSErr(ExceptionCode inCode) {
  return static_cast<OSErr>(static_cast<UInt16>(static_cast<UInt32>(inCode) & 0xFFFFu));
}

[[noreturn]] void ThrowLException(ExceptionCode inErr);

#define Throw_(err) ThrowLException(static_cast<ExceptionCode>(err))
#define ThrowIf_(cond)                       \
  do {                                       \
    if (cond) ThrowLException(err_AssertFailed); \
  } while (0)
#define ThrowIfNil_(ptr)                         \
  do {                                           \
    if ((ptr) == nullptr) ThrowLException(err_NilPointer); \
  } while (0)
#define ThrowIfNULL_(ptr) ThrowIfNil_(ptr)
#define ThrowIfOSErr_(err)                                  \
  do {                                                      \
    OSErr err__ = static_cast<OSErr>(err);                  \
    if (err__ != noErr) ThrowLException(err__);             \
  } while (0)
#define ThrowIfOSStatus_(err)                               \
  do {                                                      \
    OSStatus err__ = static_cast<OSStatus>(err);            \
    if (err__ != noErr) ThrowLException(err__);             \
  } while (0)
#define ThrowIfError_(err) ThrowIfOSStatus_(err)
#define ThrowIfMemFail_(ptr)                                \
  do {                                                      \
    if ((ptr) == nullptr) ThrowLException(memFullErr);      \
  } while (0)
#define ThrowIfMemError_()                                  \
  do {                                                      \
    OSErr err__ = MemError();                               \
    if (err__ != noErr) ThrowLException(err__);             \
  } while (0)

// The code a boundary reports for the exception being handled (call it only
// inside a catch block): an LException's own code, inNoMemory for memory that
// could not be had ('nilP', as ThrowIfNil_ reports a failed allocation), and
// inOther for anything else. The toolbox layers pass memFullErr, as the calls
// they stand in for report a full memory.
ExceptionCode ExceptionCodeOfCurrent(ExceptionCode inNoMemory = err_NilPointer,
                                     ExceptionCode inOther = err_AssertFailed) noexcept;

// For a failure that is let go on purpose (a destructor, a callback that
// must not throw, an alert about an alert): logs the exception being handled
// with the place it was caught under TRX_LOG (call it only inside a catch
// block).
void LogCurrentException(const char* inArea, const char* inWhere) noexcept;

// The same as the 16-bit OSErr a boundary returns.
inline OSErr OSErrOfCurrent(ExceptionCode inNoMemory = err_NilPointer,
                            ExceptionCode inOther = err_AssertFailed) noexcept {
  return ErrorCodeToOSErr(ExceptionCodeOfCurrent(inNoMemory, inOther));
}
