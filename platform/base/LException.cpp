#include "platform/base/LException.h"

#include <cstring>

#include <cstdio>
#include <new>

#include "platform/base/FourCC.h"
#include "platform/base/TrxLog.h"

LException::LException(ExceptionCode inErr, ConstStringPtr inMessage) : mErrorCode(inErr) {
  if (inMessage != nullptr) std::memcpy(mMessage, inMessage, static_cast<size_t>(inMessage[0]) + 1);
}

const char* LException::what() const noexcept {
  if (LooksLikeFourCC(static_cast<UInt32>(mErrorCode))) {
    std::snprintf(mText, sizeof mText, "error '%s'", FourCCToString(static_cast<UInt32>(mErrorCode)).c_str());
  } else {
    std::snprintf(mText, sizeof mText, "error %d", static_cast<int>(mErrorCode));
  }
  return mText;
}

void ThrowLException(ExceptionCode inErr) { throw LException(inErr); }

ExceptionCode ExceptionCodeOfCurrent(ExceptionCode inNoMemory, ExceptionCode inOther) noexcept {
  try {
    throw;
  } catch (const LException& e) {
    return e.GetErrorCode();
  } catch (const std::bad_alloc&) {
    return inNoMemory;
  } catch (...) {
    return inOther;
  }
}

void LogCurrentException(const char* inArea, const char* inWhere) noexcept {
  if (!TrxLogEnabled()) return;
  const ExceptionCode code = ExceptionCodeOfCurrent();
  TrxLog(inArea, "%s: let go of error %d", inWhere ? inWhere : "?", static_cast<int>(code));
}
