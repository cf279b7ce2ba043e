// The buffer and QuickDraw: buffers made from a port's pixels or from a
// picture, a port's pixels copied into a buffer in parallel bands, a buffer
// copied back into a port; and splitting, merging and comparing buffers,
// every one in parallel bands of rows.
// 16-bit port components are big-endian, buffer components host order.
#include <memory>

#include "media/CBuffer.h"
#include "media/CBufferOpsProcs.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UProgress.h"

namespace {

bool RectInsideBounds(const Rect& r, const Rect& bounds) {
  return r.top >= bounds.top && r.left >= bounds.left && r.bottom <= bounds.bottom && r.right <= bounds.right;
}

// Locks a pixel map for a scope when it was not locked.
class StPixelsLocker {
 public:
  explicit StPixelsLocker(PixMapHandle inPixMap)
      : mPixMap(inPixMap), mLockedHere(inPixMap && !(GetPixelsState(inPixMap) & pixelsLocked)) {
    if (mLockedHere) LockPixels(mPixMap);
  }
  ~StPixelsLocker() {
    if (mLockedHere) UnlockPixels(mPixMap);
  }
  StPixelsLocker(const StPixelsLocker&) = delete;
  StPixelsLocker& operator=(const StPixelsLocker&) = delete;

 private:
  PixMapHandle mPixMap;
  bool mLockedHere;
};

// Owns an image description for a scope.
class StDescription {
 public:
  StDescription() = default;
  ~StDescription() {
    if (mDesc) DisposeHandle(reinterpret_cast<Handle>(mDesc));
  }
  StDescription(const StDescription&) = delete;
  StDescription& operator=(const StDescription&) = delete;
  ImageDescriptionHandle* Out() { return &mDesc; }
  // The format code: the codec type, or the depth field for raw pixels.
  UInt32 FormatCode() const {
    return (**mDesc).cType == kRawCodecType ? static_cast<UInt32>((**mDesc).depth) : (**mDesc).cType;
  }

 private:
  ImageDescriptionHandle mDesc = nullptr;
};

PixMapHandle PortPixMap(GrafPtr inPort) { return inPort ? GetGWorldPixMap(inPort) : nullptr; }

// Depth and mode of the buffer that holds a port format; false for others.
bool BufferFormatFor(UInt32 inFormat, SInt16& outDepth, SInt16& outMode) {
  switch (inFormat) {
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: outDepth = kBufferDepth8, outMode = kBufferModeGray; return true;
    case k24RGBPixelFormat:
    case k32ARGBPixelFormat: outDepth = kBufferDepth8, outMode = kBufferModeARGB; return true;
    case k16GrayPixelFormat: outDepth = kBufferDepth16, outMode = kBufferModeGray; return true;
    case k48RGBPixelFormat:
    case k64ARGBPixelFormat: outDepth = kBufferDepth16, outMode = kBufferModeARGB; return true;
    default: return false;
  }
}

// The checks of Split and Merge; the box common to all four buffers.
bool SplitMergeBox(CBuffer& inColour, CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, const Rect* inRect,
                   Rect& outBox) {
  if (!inRed || !inGreen || !inBlue) Throw_(err_NilPointer);
  CBuffer* grays[3] = {inRed, inGreen, inBlue};
  if (inColour.GetMode() != kBufferModeARGB) Throw_(-1);
  for (CBuffer* g : grays)
    if (g->GetMode() != kBufferModeGray) Throw_(-1);
  for (CBuffer* g : grays)
    if (g->GetDepth() != inColour.GetDepth()) Throw_(-1);
  if (inColour.GetDepth() != kBufferDepth8 && inColour.GetDepth() != kBufferDepth16) return false;
  outBox = inColour.GetBounds();
  if (inRect && !SectRect(&outBox, inRect, &outBox)) return false;
  for (CBuffer* g : grays)
    if (!SectRect(&outBox, &g->GetBounds(), &outBox)) return false;
  if (!inColour.GetData() || !inRed->GetData() || !inGreen->GetData() || !inBlue->GetData())
    Throw_(err_NilPointer);
  return true;
}

template <class T, bool ToGray>
SInt32 SplitMergeRows(CBuffer& inColour, CBuffer* const inGrays[3], const Rect& inBox, SInt32 inFirst, SInt32 inRows) {
  const SInt32 w = inBox.right - inBox.left;
  for (SInt32 v = inBox.top + inFirst; v < inBox.top + inFirst + inRows; ++v) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    Point p{static_cast<SInt16>(v), inBox.left};
    T* c = reinterpret_cast<T*>(inColour.GetDataPtr(&p));
    for (int k = 0; k < 3; ++k) {
      T* g = reinterpret_cast<T*>(inGrays[k]->GetDataPtr(&p));
      for (SInt32 i = 0; i < w; ++i) {
        if constexpr (ToGray)
          g[i] = c[4 * i + k + 1];
        else
          c[4 * i + k + 1] = g[i];
      }
    }
  }
  return noErr;
}

void SplitMerge(CBuffer& inColour, CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, const Rect* inRect,
                bool inToGray) {
  Rect box;
  if (!SplitMergeBox(inColour, inRed, inGreen, inBlue, inRect, box)) return;
  CBuffer* const grays[3] = {inRed, inGreen, inBlue};
  const bool wide = inColour.GetDepth() == kBufferDepth16;
  const SInt32 err = RunRowBands(box.bottom - box.top, [&](SInt32 inFirst, SInt32 inRows) -> SInt32 {
    if (wide)
      return inToGray ? SplitMergeRows<UInt16, true>(inColour, grays, box, inFirst, inRows)
                      : SplitMergeRows<UInt16, false>(inColour, grays, box, inFirst, inRows);
    return inToGray ? SplitMergeRows<UInt8, true>(inColour, grays, box, inFirst, inRows)
                    : SplitMergeRows<UInt8, false>(inColour, grays, box, inFirst, inRows);
  });
  if (err != noErr) Throw_(err);
}

// A band's answer when it found a difference.
constexpr SInt32 kDifferent = 1;

template <class T>
SInt32 RowsEqual(const CBuffer& inA, const CBuffer& inB, const Rect& inBox, SInt32 inFirst, SInt32 inRows) {
  const SInt32 w = inBox.right - inBox.left;
  const bool argb = inA.GetMode() == kBufferModeARGB;
  for (SInt32 v = inBox.top + inFirst; v < inBox.top + inFirst + inRows; ++v) {
    if (CTaskObject::ShouldStop()) return userCanceledErr;
    Point p{static_cast<SInt16>(v), inBox.left};
    const T* a = reinterpret_cast<const T*>(inA.GetDataPtr(&p));
    const T* b = reinterpret_cast<const T*>(inB.GetDataPtr(&p));
    bool same = true;
    if (argb) {
      // Alpha does not count.
      for (SInt32 i = 0; i < w; ++i)
        same &= a[4 * i + 1] == b[4 * i + 1] && a[4 * i + 2] == b[4 * i + 2] && a[4 * i + 3] == b[4 * i + 3];
    } else {
      for (SInt32 i = 0; i < w; ++i) same &= a[i] == b[i];
    }
    if (!same) return kDifferent;
  }
  return noErr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction. Both constructors start from an empty buffer, so that any
// failure after it leaves through the destructor of a complete buffer.

CBuffer::CBuffer(GrafPtr inPort, Rect* inRect) : CBuffer(Rect{0, 0, 0, 0}, kBufferDepth8, kBufferModeGray) {
  PixMapHandle pm = PortPixMap(inPort);
  ThrowIfNil_(pm);
  Rect bounds;
  if (inRect)
    bounds = *inRect;
  else
    GetPixBounds(pm, &bounds);
  SInt16 depth = 0, mode = 0;
  {
    StDescription desc;
    {
      StPixelsLocker lock(pm);
      ThrowIfOSErr_(MakeImageDescriptionForPixMap(pm, desc.Out()));
    }
    const UInt32 format = desc.FormatCode();
    if (!BufferFormatFor(format, depth, mode)) Throw_(static_cast<ExceptionCode>(format));
  }
  AllocMem(bounds, depth, mode);
  ThrowIfOSErr_(CopyFrom(inPort, &bounds, nullptr, nullptr, nullptr, nullptr));
}

CBuffer::CBuffer(PicHandle inPicture, Rect* inRect) : CBuffer(Rect{0, 0, 0, 0}, kBufferDepth8, kBufferModeARGB) {
  ThrowIfNil_(inPicture);
  StHandleLocker lock(reinterpret_cast<Handle>(inPicture));
  Rect bounds;
  if (inRect)
    bounds = *inRect;
  else if (!QDGetPictureBounds(inPicture, &bounds))
    Throw_(paramErr);
  AllocMem(bounds, kBufferDepth8, kBufferModeARGB);
  // An empty buffer has nothing to erase; the drawing's result is what counts.
  Erase(nullptr, nullptr, nullptr, nullptr, nullptr);
  ThrowIfOSErr_(CopyPict(inPicture, nullptr, nullptr));
}

// ---------------------------------------------------------------------------
// Port transfer

OSErr CBuffer::CopyFrom(GrafPtr inPort, Rect* inSrcRect, Rect* inDstRect, CBuffer* inMask, ProgressProcPtr inProgress,
                        void* inRefCon) {
  StBufferRetainer holdThis(this), holdMask(inMask);
  Rect destBox{0, 0, 0, 0};
  bool destKnown = false;
  ExceptionCode result = noErr;
  try {
    Str255 text;
    ULocalization::GetString(text, 5000, 4);
    UProgress progress(LStr255(text), inProgress, static_cast<SInt32>(reinterpret_cast<intptr_t>(inRefCon)));
    PixMapHandle pm = PortPixMap(inPort);
    ThrowIfNil_(pm);
    Rect pmBounds;
    GetPixBounds(pm, &pmBounds);
    Rect srcBox = pmBounds;
    if (inSrcRect) SectRect(&srcBox, inSrcRect, &srcBox);
    destBox = mBounds;
    if (inDstRect) SectRect(&destBox, inDstRect, &destBox);
    destKnown = true;
    if (inMask) {
      if (inMask->GetDepth() != kBufferDepth8 || inMask->GetMode() != kBufferModeGray) Throw_(paramErr);
      if (!RectInsideBounds(destBox, inMask->GetBounds())) Throw_(paramErr);
    }

    StPixelsLocker lock(pm);
    StDescription desc;
    ThrowIfOSErr_(MakeImageDescriptionForPixMap(pm, desc.Out()));
    const UInt32 format = desc.FormatCode();
    const SInt32 rowBytes = QTGetPixMapHandleRowBytes(pm);
    const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
    // Only a source box inside the pixel map has an address; an empty one
    // is never read (its bands fail on the sizes first).
    const UInt8* address = base;
    if (base && !EmptyRect(&srcBox))
      address = base + static_cast<ptrdiff_t>(srcBox.top - pmBounds.top) * rowBytes +
                static_cast<ptrdiff_t>(srcBox.left - pmBounds.left) * PortFormatBytes(format);

    const SInt32 height = destBox.bottom - destBox.top;
    const SInt32 bands = CTaskGroup::GetPreferredTaskCount();
    CTaskGroup group;
    for (SInt32 i = 0; i < bands; ++i) {
      const SInt32 first = BandStart(height, bands, i);
      auto item = std::make_unique<CCopyBufferFromGWorldTask>();
      item->mFormat = format;
      item->mPortRowBytes = rowBytes;
      item->mPortAddress = address;
      item->mDest = this;
      item->mMask = inMask;
      item->mSourceBox = srcBox;
      item->mDestBox = destBox;
      item->mFirstRow = first;
      item->mRows = BandStart(height, bands, i + 1) - first;
      ThrowIfOSErr_(group.AddTaskObject(item.get()));
      item.release();
    }
    RunBandItems(group, progress);
  } catch (...) {
    result = ExceptionCodeOfCurrent();
  }
  if (destKnown && !EmptyRect(&destBox)) SetDirty(&destBox);
  return ErrorCodeToOSErr(result);
}

OSErr CBuffer::CopyTo(GrafPtr inPort, Rect* inRect) {
  PixMapHandle pm = PortPixMap(inPort);
  if (!pm) return ErrorCodeToOSErr(err_NilPointer);
  // Clipped to the port and to this buffer: nothing outside either is touched.
  Rect box;
  GetPixBounds(pm, &box);
  SectRect(&box, inRect ? inRect : &mBounds, &box);
  SectRect(&box, &mBounds, &box);

  StPixelsLocker lock(pm);
  StDescription desc;
  OSErr err = MakeImageDescriptionForPixMap(pm, desc.Out());
  if (err != noErr) return err;
  const UInt32 format = desc.FormatCode();
  SInt16 unusedDepth, unusedMode;
  if (!BufferFormatFor(format, unusedDepth, unusedMode)) return paramErr;
  const SInt32 w = box.right - box.left, h = box.bottom - box.top;
  if (EmptyRect(&box)) {
    // Nothing to copy, but a pair without conversion is still refused.
    return ErrorCodeToOSErr(CopyBufferRowsToPort(*this, nullptr, format, nullptr, 0, 0, 0));
  }
  const UInt8* src = reinterpret_cast<const UInt8*>(GetDataPtr(&box));
  // The rectangle's pixels go to the port's top-left corner.
  UInt8* dst = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
  if (!src || !dst) return ErrorCodeToOSErr(err_NilPointer);
  return ErrorCodeToOSErr(CopyBufferRowsToPort(*this, src, format, dst, QTGetPixMapHandleRowBytes(pm), w, h));
}

// ---------------------------------------------------------------------------
// Split, merge, compare

void CBuffer::Split(CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, Rect* inRect) {
  SplitMerge(*this, inRed, inGreen, inBlue, inRect, true);
}

void CBuffer::Merge(CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, Rect* inRect) {
  SplitMerge(*this, inRed, inGreen, inBlue, inRect, false);
}

Boolean CBuffer::IsEqual(CBuffer* inA, CBuffer* inB, Rect* inRect) {
  // A missing buffer equals nothing.
  if (!inA || !inB) return false;
  if (inA->GetMode() != inB->GetMode() || inA->GetDepth() != inB->GetDepth()) return false;
  Rect box = inA->GetBounds();
  if (!SectRect(&box, &inB->GetBounds(), &box)) return true;
  if (inRect && !SectRect(&box, inRect, &box)) return true;
  const SInt16 depth = inA->GetDepth(), mode = inA->GetMode();
  if (depth != kBufferDepth8 && depth != kBufferDepth16) return true;
  if (mode != kBufferModeGray && mode != kBufferModeARGB) return false;
  if (!inA->GetData() || !inB->GetData()) return false;
  // Any band that found a difference, or could not look, answers not equal.
  return RunRowBands(box.bottom - box.top, [&](SInt32 inFirst, SInt32 inRows) -> SInt32 {
           return depth == kBufferDepth8 ? RowsEqual<UInt8>(*inA, *inB, box, inFirst, inRows)
                                         : RowsEqual<UInt16>(*inA, *inB, box, inFirst, inRows);
         }) == noErr;
}
