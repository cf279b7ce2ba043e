// Operations that make a destination buffer from this one pixel by pixel:
// quarter and half turns, flips, a gray buffer into one colour channel and
// back, RGB and HSV, and copies through a 16-bit look-up table. Each checks
// its arguments and runs its kernel through the band engine.
#include <cstdlib>
#include <new>

#include "media/CBuffer.h"
#include "media/CBufferProcs.h"
#include "platform/base/LException.h"

namespace {

constexpr OSErr kNilPointerErr = static_cast<OSErr>(err_NilPointer & 0xFFFF);

// Rotations and flips read rows that other bands write: the destination must
// be another buffer.
OSErr Geometric(CBuffer* inSource, CBuffer* inDest, Rect* inRect, BandProcPtr inProc, ProgressProcPtr inProgress,
                void* inRefCon) {
  if (inDest == inSource) return paramErr;
  return CBuffer::Convert(inSource, inDest, nullptr, inRect, inRect, inProc, nullptr, inProgress, inRefCon, nullptr);
}

OSErr HSV(CBuffer* inSource, CBuffer* inDest, Rect* inRect, BandProcPtr inProc, ProgressProcPtr inProgress,
          void* inRefCon) {
  if (!inDest) return kNilPointerErr;
  if (inSource->GetMode() != kBufferModeARGB || inDest->GetMode() != kBufferModeARGB) return paramErr;
  return CBuffer::Convert(inSource, inDest, nullptr, inRect, inRect, inProc, nullptr, inProgress, inRefCon, nullptr);
}

OSErr Channel(CBuffer* inSource, CBuffer* inDest, SInt16 inChannel, Rect* inRect, CBuffer* inMask, bool inToRGB,
              ProgressProcPtr inProgress, void* inRefCon) {
  if (!inDest) return kNilPointerErr;
  const SInt16 srcMode = inToRGB ? kBufferModeGray : kBufferModeARGB;
  const SInt16 dstMode = inToRGB ? kBufferModeARGB : kBufferModeGray;
  if (inSource->GetMode() != srcMode || inDest->GetMode() != dstMode) return paramErr;
  Rect box = inDest->GetBounds();
  if (inRect) SectRect(&box, inRect, &box);
  if (inMask) SectRect(&box, &inMask->GetBounds(), &box);
  BandProcPtr proc;
  if (inToRGB)
    proc = CBufferProcs::Copy_Gray_to_RGB;
  else
    proc = CBufferProcs::Copy_RGB_to_Gray;
  // The selector lives on this frame for the length of Convert.
  SInt16 channel = inChannel;
  return CBuffer::Convert(inSource, inDest, inMask, &box, &box, proc, &channel, inProgress, inRefCon, nullptr);
}

// Frees the translation table when it is ours.
class StTableFree {
 public:
  explicit StTableFree(void* inTable) : mTable(inTable) {}
  ~StTableFree() { std::free(mTable); }
  StTableFree(const StTableFree&) = delete;
  StTableFree& operator=(const StTableFree&) = delete;

 private:
  void* mTable;
};

}  // namespace

OSErr CBuffer::Rotate_90(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return Geometric(this, inDest, inRect, CBufferProcs::Rotate_90_proc, inProgress, inRefCon);
}

OSErr CBuffer::Rotate_180(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return Geometric(this, inDest, inRect, CBufferProcs::Rotate_180_proc, inProgress, inRefCon);
}

OSErr CBuffer::Rotate_270(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return Geometric(this, inDest, inRect, CBufferProcs::Rotate_270_proc, inProgress, inRefCon);
}

OSErr CBuffer::FlipVertical(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return Geometric(this, inDest, inRect, CBufferProcs::FlipVert_proc, inProgress, inRefCon);
}

OSErr CBuffer::FlipHorizontal(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return Geometric(this, inDest, inRect, CBufferProcs::FlipHorz_proc, inProgress, inRefCon);
}

OSErr CBuffer::HSV2RGB(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return HSV(this, inDest, inRect, CBufferProcs::HSV2RGB_proc,
             inProgress, inRefCon);
}

OSErr CBuffer::RGB2HSV(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon) {
  return HSV(this, inDest, inRect, CBufferProcs::RGB2HSV_proc,
             inProgress, inRefCon);
}

OSErr CBuffer::CopyGrayToRGBChannel(CBuffer* inDest, SInt16 inChannel, Rect* inRect, CBuffer* inMask,
                                    ProgressProcPtr inProgress, void* inRefCon) {
  return Channel(this, inDest, inChannel, inRect, inMask, true, inProgress, inRefCon);
}

OSErr CBuffer::CopyRGBChannelToGray(CBuffer* inDest, SInt16 inChannel, Rect* inRect, CBuffer* inMask,
                                    ProgressProcPtr inProgress, void* inRefCon) {
  return Channel(this, inDest, inChannel, inRect, inMask, false, inProgress, inRefCon);
}

OSErr CBuffer::CopyWithLutTo(CBuffer* inDest, UInt16* inLut, Rect* inRect, CBuffer* inMask,
                             ProgressProcPtr inProgress, void* inRefCon) {
  if (!inDest || !inLut) return kNilPointerErr;
  // The translation table, indexed by a source component, holds destination
  // components: 8-bit sources look up lut[k x 257], 8-bit destinations take
  // the entry's high byte.
  const SInt16 sd = mDepth, dd = inDest->GetDepth();
  void* table = nullptr;
  void* ownTable = nullptr;
  if (sd == kBufferDepth16 && dd == kBufferDepth16) {
    table = inLut;
  } else if (sd == kBufferDepth8 && dd == kBufferDepth8) {
    auto* t = static_cast<UInt8*>(ownTable = std::malloc(256));
    if (!t) return kNilPointerErr;
    for (UInt32 k = 0; k < 256; ++k) t[k] = static_cast<UInt8>(inLut[k * 257] >> 8);
    table = t;
  } else if (sd == kBufferDepth8 && dd == kBufferDepth16) {
    auto* t = static_cast<UInt16*>(ownTable = std::malloc(256 * sizeof(UInt16)));
    if (!t) return kNilPointerErr;
    for (UInt32 k = 0; k < 256; ++k) t[k] = inLut[k * 257];
    table = t;
  } else if (sd == kBufferDepth16 && dd == kBufferDepth8) {
    auto* t = static_cast<UInt8*>(ownTable = std::malloc(65536));
    if (!t) return kNilPointerErr;
    for (UInt32 v = 0; v < 65536; ++v) t[v] = static_cast<UInt8>(inLut[v] >> 8);
    table = t;
  }
  // Any other pair runs without a table; the kernel refuses its depths.
  StTableFree freeTable(ownTable);
  return Convert(this, inDest, inMask, inRect, inRect, CBufferProcs::CopyWithLUT_proc, table, inProgress, inRefCon,
                 nullptr);
}
