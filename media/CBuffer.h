// The one raster type: a rectangle of pixels in plain memory with 8-bit or
// 16-bit components (depth 1 or 2; depth 3, 32-bit components, only for
// allocation and GetPixelValue), gray (mode 1) or ARGB (mode 2, components in
// memory alpha, red, green, blue), rows padded to 16 bytes. Components are in
// host byte order, the 16-bit ones too; where a buffer meets a 16-bit QuickDraw
// format (big-endian components) the values are converted, never reinterpreted.
//
// Row r (top <= r < bottom), column c (left <= c < right) starts at
//   data + (r - top) x row bytes + (c - left) x bytes per pixel.
//
// Buffers are reference counted (a new buffer has one reference, the
// creator's); the band engine retains the buffers of an operation for its
// length. Change messages go to the buffer's listeners:
//   -2000 SetDirty (Rect: bounding box of the whole dirty region)
//   -1999 ChangeBounds, OffsetOriginBy, SetOriginTo (Rect: the new bounds)
//   -1998 ChangePixelDepth (SInt16: the new depth)
//   -1997 ChangeColorMode (SInt16: the new mode)
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "media/CBufferTask.h"
#include "media/CUserData.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/TArray.h"
#include "platform/graphics/QTImageDescription.h"
#include "platform/graphics/QuickDraw.h"

constexpr SInt32 msg_BufferDirty = -2000;
constexpr SInt32 msg_BufferBoundsChanged = -1999;
constexpr SInt32 msg_BufferDepthChanged = -1998;
constexpr SInt32 msg_BufferModeChanged = -1997;

constexpr SInt16 kBufferDepth8 = 1;
constexpr SInt16 kBufferDepth16 = 2;
constexpr SInt16 kBufferDepth32 = 3;
constexpr SInt16 kBufferModeGray = 1;
constexpr SInt16 kBufferModeARGB = 2;

class CBuffer : public LBroadcaster, public CUserData {
 public:
  // Owned, zero-filled memory; allocation failure throws 'nilP'.
  CBuffer(Rect inBounds, SInt16 inDepth, SInt16 inMode);
  // A view over memory the caller owns; nil memory throws 'nilP'.
  CBuffer(Rect inBounds, SInt16 inDepth, SInt16 inMode, SInt32 inRowBytes, void* inData);
  // A new owned buffer with the source's depth, mode, descriptor and typed
  // data items over inBounds (nil: the source's bounds), filled from the
  // source when inCopy is set.
  CBuffer(CBuffer& inSource, const Rect* inBounds, bool inCopy);
  // An 8-bit mask of the region: 255 inside, 0 outside; bounds = the region's
  // box or inBounds when given.
  CBuffer(SInt16 inMode, RgnHandle inRegion, const Rect* inBounds);
  // A copy of a port's pixels (nil rectangle: the pixel map's bounds).
  CBuffer(GrafPtr inPort, Rect* inRect);
  // An 8-bit ARGB buffer with the picture drawn into it.
  CBuffer(PicHandle inPicture, Rect* inRect);
  ~CBuffer() override;

  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;

  // Field views of an interlaced frame over its memory (no copy, rows doubled):
  // the odd view holds the rows with an even coordinate, the even view the
  // rows with an odd coordinate. Both keep the frame's top and left. The frame
  // must outlive its views. Nil on failure.
  static CBuffer* CreateFromBuffer_Odd(CBuffer* inFrame);
  static CBuffer* CreateFromBuffer_Even(CBuffer* inFrame);

  // ---- Reference counting
  void Retain() { mRetainCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();
  SInt32 GetRetainCount() const { return mRetainCount.load(std::memory_order_relaxed); }

  // ---- Memory
  virtual OSErr AllocMem(Rect inBounds, SInt16 inDepth, SInt16 inMode);
  virtual void DisposeMem();
  OSErr HoldMem();
  OSErr UnHoldMem();

  // ---- Addressing (no range check; nil without memory)
  Ptr GetDataPtr(const Point* inPoint = nullptr) const;
  Ptr GetDataPtr(const Rect* inRect) const;
  // -50 for a point outside the bounds or an unknown format.
  OSErr GetPixelValue(Point inPoint, UInt32& outGray, UInt32& outRed, UInt32& outGreen, UInt32& outBlue) const;

  // The typed data items of the bag keep their names beside the pixel accessors.
  using CUserData::GetData;
  using CUserData::GetDataSize;
  Ptr GetData() const { return mData; }
  bool OwnsData() const { return mOwns; }
  SInt32 GetDataSize() const { return mDataSize; }
  SInt16 GetDepth() const { return mDepth; }
  SInt16 GetMode() const { return mMode; }
  const Rect& GetBounds() const { return mBounds; }
  void GetBounds(Rect& outBounds) const { outBounds = mBounds; }
  SInt32 GetWidth() const { return mBounds.right - mBounds.left; }
  SInt32 GetHeight() const { return mBounds.bottom - mBounds.top; }
  SInt32 GetBytesPerPixel() const { return mBytesPerPixel; }
  SInt32 GetRowBytes() const { return mRowBytes; }
  SInt32 GetHoldCount() const { return mHoldCount; }

  // ---- Coordinates and format
  OSErr ChangeBounds(Rect inBounds);
  void OffsetOriginBy(Point inDelta);
  void SetOriginTo(Point inOrigin);
  OSErr ChangePixelDepth(SInt16 inDepth);
  OSErr ChangeColorMode(SInt16 inMode);
  void SetDescriptor(ConstStr255Param inText);
  void GetDescriptor(Str255 outText) const;

  // ---- Dirty region
  void SetDirty(const Rect* inRect);
  void ClearDirty();
  bool IsDirty() const;
  void GetDirty(Rect* outBox) const;
  RgnHandle GetDirtyRegion() const { return mDirtyRgn; }
  void Clear();

  // ---- QuickDraw and QuickTime views
  // A GWorld over the buffer's own memory for the rectangle (nil: the bounds);
  // the caller disposes of it. Nil without memory, for a rectangle outside the
  // bounds, an unsupported format or any failure.
  virtual GWorldPtr CreateGWorld(const Rect* inRect, CTabHandle inTable);
  ImageDescriptionHandle GetImageDescription();
  virtual OSErr GetRawDataSize(const Rect* inRect, SInt32* outSize, SInt32 inAlignment);
  virtual OSErr GetRawData(Ptr outDest, SInt32* ioSize, const Rect* inRect, SInt32 inAlignment,
                           SInt32* outRowBytes, ImageDescriptionHandle* outDesc);
  OSErr SetToRgn(RgnHandle inRegion);
  OSErr CopyPict(PicHandle inPicture, const Rect* inRect, RgnHandle inClip);

  // ---- Pixel operations through the band engine
  static OSErr Convert(CBuffer* inSource, CBuffer* inDest, CBuffer* inMask, const Rect* inSourceRect,
                       const Rect* inDestRect, BandProcPtr inProc, void* inUserParam, ProgressProcPtr inProgress,
                       void* inRefCon, const TaskOptions* inOptions);
  OSErr CopyTo(CBuffer* inDest, const Rect* inRect, CBuffer* inMask, ProgressProcPtr inProgress, void* inRefCon);
  OSErr Erase(const RGBColor* inColor, const Rect* inRect, CBuffer* inMask, ProgressProcPtr inProgress,
              void* inRefCon);

  // ---- Further operations (implemented with their kernels in their own sources)
  OSErr CopyToFloat(Rect inRect, float* outFloats, SInt16 inChannel, float inScale, float inOffset,
                    ProgressProcPtr inProgress, void* inRefCon);
  OSErr CopyFromFloat(Rect inRect, const float* inFloats, SInt16 inChannel, float inScale, float inOffset,
                      ProgressProcPtr inProgress, void* inRefCon);
  OSErr Rotate_90(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr Rotate_180(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr Rotate_270(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr FlipVertical(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr FlipHorizontal(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr HSV2RGB(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr RGB2HSV(CBuffer* inDest, Rect* inRect, ProgressProcPtr inProgress, void* inRefCon);
  OSErr CopyGrayToRGBChannel(CBuffer* inDest, SInt16 inChannel, Rect* inRect, CBuffer* inMask,
                             ProgressProcPtr inProgress, void* inRefCon);
  OSErr CopyRGBChannelToGray(CBuffer* inDest, SInt16 inChannel, Rect* inRect, CBuffer* inMask,
                             ProgressProcPtr inProgress, void* inRefCon);
  OSErr CopyWithLutTo(CBuffer* inDest, UInt16* inLut, Rect* inRect, CBuffer* inMask, ProgressProcPtr inProgress,
                      void* inRefCon);
  OSErr CopyFrom(GrafPtr inPort, Rect* inSrcRect, Rect* inDstRect, CBuffer* inMask, ProgressProcPtr inProgress,
                 void* inRefCon);
  OSErr CopyTo(GrafPtr inPort, Rect* inRect);
  void Split(CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, Rect* inRect);
  void Merge(CBuffer* inRed, CBuffer* inGreen, CBuffer* inBlue, Rect* inRect);
  static Boolean IsEqual(CBuffer* inA, CBuffer* inB, Rect* inRect);

  // Every live buffer, in order of construction.
  static TArray<CBuffer*> sBuffers;
  // The colour of Erase when none is given (black).
  static RGBColor sEraseColor;

 protected:
  // Bytes per pixel of a depth and mode (0 when unknown).
  static SInt32 BytesPerPixelFor(SInt16 inDepth, SInt16 inMode);

  Ptr mData = nullptr;
  void* mBlock = nullptr;  // the allocation mData lies in, when owned
  size_t mBlockSize = 0;   // its size as asked for
  bool mOwns = false;
  SInt32 mDataSize = 0;
  Str255 mDescriptor = {0};
  SInt16 mDepth = 0;
  SInt16 mMode = 0;
  Rect mBounds{0, 0, 0, 0};
  SInt32 mBytesPerPixel = 0;
  SInt32 mRowBytes = 0;
  SInt32 mHoldCount = 0;
  RgnHandle mDirtyRgn = nullptr;

 private:
  void InitEmpty();
  void FreeOwned();

  std::atomic<SInt32> mRetainCount{1};
};

// Releases the held buffer when it goes out of scope.
class CBufferReleaser {
 public:
  explicit CBufferReleaser(CBuffer* inBuffer = nullptr) : mBuffer(inBuffer) {}
  ~CBufferReleaser() {
    if (mBuffer) mBuffer->Release();
  }
  CBufferReleaser(const CBufferReleaser&) = delete;
  CBufferReleaser& operator=(const CBufferReleaser&) = delete;
  // Releases the held buffer and takes the new one without retaining it.
  void SetBuffer(CBuffer* inBuffer) {
    if (mBuffer && mBuffer != inBuffer) mBuffer->Release();
    mBuffer = inBuffer;
  }
  CBuffer* GetBuffer() const { return mBuffer; }

 private:
  CBuffer* mBuffer;
};

// A GWorld over a buffer and a Quartz context over that GWorld for the life
// of a scope; nil buffer or no GWorld throws 'nilP', a context failure its code.
class StBufferCGContext {
 public:
  StBufferCGContext(CBuffer* inBuffer, const Rect* inRect, CTabHandle inTable);
  ~StBufferCGContext();
  StBufferCGContext(const StBufferCGContext&) = delete;
  StBufferCGContext& operator=(const StBufferCGContext&) = delete;
  CGContextRef GetContext() const { return mContext; }
  GWorldPtr GetGWorld() const { return mWorld; }

 private:
  GWorldPtr mWorld = nullptr;
  CGContextRef mContext = nullptr;
};

// Owns the one reference a buffer is made with (new CBuffer, the field views)
// and releases it at the end of the owner's life; movable, so a buffer can be
// built under it and handed over with release() once nothing more can fail.
struct CBufferRelease {
  void operator()(CBuffer* inBuffer) const { inBuffer->Release(); }
};
using StBufferOwner = std::unique_ptr<CBuffer, CBufferRelease>;

// Retains a buffer (when not nil) for the life of a scope.
class StBufferRetainer {
 public:
  explicit StBufferRetainer(CBuffer* inBuffer) : mBuffer(inBuffer) {
    if (mBuffer) mBuffer->Retain();
  }
  ~StBufferRetainer() {
    if (mBuffer) mBuffer->Release();
  }
  StBufferRetainer(const StBufferRetainer&) = delete;
  StBufferRetainer& operator=(const StBufferRetainer&) = delete;

 private:
  CBuffer* mBuffer;
};
