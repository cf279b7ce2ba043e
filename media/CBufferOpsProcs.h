// Work items and shared helpers of the further pixel operations: the float
// conversion (which has its own band item, the float array being no buffer),
// the transfer from QuickDraw ports in bands, and the colour arithmetic the
// kernels and their callers share. The kernels themselves are members of
// CBufferProcs (media/CBufferProcs.h).
#pragma once

#include <functional>

#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "platform/base/MacTypes.h"

class UProgress;

// One band of CopyToFloat / CopyFromFloat: the rows of the band rectangle and
// the floats of those rows (width floats a row, no padding).
class CBufferToFloatTask : public CTaskObject {
 public:
  typedef SInt32 (*FloatProcPtr)(void* inTask);
  explicit CBufferToFloatTask(FloatProcPtr inProc) : mProc(inProc) {}
  // Run reads the members: the task must have ended before they go.
  ~CBufferToFloatTask() override;
  SInt32 Run() override;
  void SetProgress(SInt32 inValue) { SetCompletion(inValue); }

  FloatProcPtr mProc;
  CBuffer* mBuffer = nullptr;
  float* mFloats = nullptr;
  SInt16 mChannel = 0;
  Rect mBand{0, 0, 0, 0};
  float mScale = 1.0f;
  float mOffset = 0.0f;
};

// One band of CBuffer::CopyFrom(GrafPtr ...): port pixels converted into the
// buffer, only where the mask byte is non-zero when a mask is given.
class CCopyBufferFromGWorldTask : public CTaskObject {
 public:
  CCopyBufferFromGWorldTask() = default;
  ~CCopyBufferFromGWorldTask() override;
  SInt32 Run() override;
  void SetProgress(SInt32 inValue) { SetCompletion(inValue); }

  UInt32 mFormat = 0;
  SInt32 mPortRowBytes = 0;
  const UInt8* mPortAddress = nullptr;
  CBuffer* mDest = nullptr;
  CBuffer* mMask = nullptr;
  Rect mSourceBox{0, 0, 0, 0};
  Rect mDestBox{0, 0, 0, 0};
  SInt32 mFirstRow = 0;
  SInt32 mRows = 0;
};

// Port pixel formats the transfers accept: bytes per pixel, 0 for any other.
SInt32 PortFormatBytes(UInt32 inFormat);

// Copies h rows of w pixels of the buffer (from inSource, stepping by the
// buffer's row bytes) into a port's pixels of the given format (from inDest,
// stepping by inPortRowBytes), in parallel bands; 16-bit port components are
// big-endian. -50 for a pair of buffer and port formats without conversion.
SInt32 CopyBufferRowsToPort(const CBuffer& inBuffer, const UInt8* inSource, UInt32 inFormat, UInt8* inDest,
                            SInt32 inPortRowBytes, SInt32 inWidth, SInt32 inHeight);

// Starts the group's items, polls them every 100 us, hands the averaged
// progress to the reporter, stops them on a cancel (-128) and throws the
// first failure as an LException.
void RunBandItems(CTaskGroup& ioGroup, UProgress& ioProgress);

// Work on the calling thread's behalf over rows [first, first + rows) of an
// operation: the procedure polls CTaskObject::ShouldStop() once per row and
// answers a status.
typedef std::function<SInt32(SInt32 inFirstRow, SInt32 inRows)> RowBandProc;

// Runs the procedure over rows [0, inHeight) in runs on the task pool (the
// pool's band loop) and answers the non-zero status of the failed run with
// the lowest first row (0 when every run answered 0) or userCanceledErr.
SInt32 RunRowBands(SInt32 inHeight, const RowBandProc& inProc);

// Rows per band and the first row of band i for a height cut into n bands:
// height / n + 1 rows a band, the last bands short or empty, never negative.
inline SInt32 BandRowsPer(SInt32 inHeight, SInt32 inBands) { return inHeight / inBands + 1; }
inline SInt32 BandStart(SInt32 inHeight, SInt32 inBands, SInt32 inIndex) {
  const SInt64 start = static_cast<SInt64>(inIndex) * BandRowsPer(inHeight, inBands);
  return start < inHeight ? static_cast<SInt32>(start) : inHeight;
}
