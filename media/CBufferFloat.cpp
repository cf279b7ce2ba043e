// One channel of a rectangle of the buffer into a dense float array and back,
// through a linear scale and offset, in parallel bands. The array belongs to
// the caller: width x height floats, row after row without padding.
#include <memory>

#include "media/CBuffer.h"
#include "media/CBufferOpsProcs.h"
#include "media/CBufferProcs.h"
#include "platform/base/LException.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UProgress.h"

namespace {

bool RectInsideBounds(const Rect& r, const Rect& bounds) {
  return r.top >= bounds.top && r.left >= bounds.left && r.bottom <= bounds.bottom && r.right <= bounds.right;
}

OSErr FloatTransfer(CBuffer* inBuffer, const Rect& inRect, float* ioFloats, SInt16 inChannel, float inScale,
                    float inOffset, ProgressProcPtr inProgress, void* inRefCon, bool inToFloat) {
  StBufferRetainer hold(inBuffer);
  ExceptionCode result = noErr;
  try {
    Str255 text;
    ULocalization::GetString(text, 5000, inToFloat ? 6 : 7);
    UProgress progress(LStr255(text), inProgress, static_cast<SInt32>(reinterpret_cast<intptr_t>(inRefCon)));
    ThrowIfNil_(ioFloats);
    if (!inToFloat && !_MPIsFullyInitialized()) Throw_(-1);
    // The rectangle is not clipped: an empty one converts nothing, any other
    // must lie inside the buffer, or the bands would reach outside its memory.
    if (EmptyRect(&inRect)) return noErr;
    if (!RectInsideBounds(inRect, inBuffer->GetBounds())) Throw_(paramErr);

    const SInt32 width = inRect.right - inRect.left;
    const SInt32 height = inRect.bottom - inRect.top;
    const SInt32 bands = CTaskGroup::GetPreferredTaskCount();
    BandProcPtr proc;
    if (inToFloat)
      proc = CBufferProcs::CopyToFloat_proc;
    else
      proc = CBufferProcs::CopyFromFloat_proc;

    CTaskGroup group;
    for (SInt32 i = 0; i < bands; ++i) {
      // Trailing bands may be empty: they start and end at the rectangle's
      // bottom, and their floats at the end of the array, never past it.
      const SInt32 first = BandStart(height, bands, i);
      const SInt32 end = BandStart(height, bands, i + 1);
      auto item = std::make_unique<CBufferToFloatTask>(proc);
      item->mBuffer = inBuffer;
      item->mFloats = ioFloats + static_cast<ptrdiff_t>(first) * width;
      item->mChannel = inChannel;
      item->mBand = Rect{static_cast<SInt16>(inRect.top + first), inRect.left, static_cast<SInt16>(inRect.top + end),
                         inRect.right};
      item->mScale = inScale;
      item->mOffset = inOffset;
      ThrowIfOSErr_(group.AddTaskObject(item.get()));
      item.release();
    }
    RunBandItems(group, progress);
  } catch (...) {
    result = ExceptionCodeOfCurrent();
  }
  return ErrorCodeToOSErr(result);
}

}  // namespace

OSErr CBuffer::CopyToFloat(Rect inRect, float* outFloats, SInt16 inChannel, float inScale, float inOffset,
                           ProgressProcPtr inProgress, void* inRefCon) {
  return FloatTransfer(this, inRect, outFloats, inChannel, inScale, inOffset, inProgress, inRefCon, true);
}

OSErr CBuffer::CopyFromFloat(Rect inRect, const float* inFloats, SInt16 inChannel, float inScale, float inOffset,
                             ProgressProcPtr inProgress, void* inRefCon) {
  // The kernels only read the array in this direction.
  return FloatTransfer(this, inRect, const_cast<float*>(inFloats), inChannel, inScale, inOffset, inProgress, inRefCon,
                       false);
}
