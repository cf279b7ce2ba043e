// The image buffer: memory, addressing, coordinates, dirty region, change
// messages and its QuickDraw and QuickTime views. Pixel operations are in
// CBufferConvert.cpp (band engine) and CBufferProcs.cpp (kernels).
#include "media/CBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/base/Endian.h"
#include "platform/base/LargeBlocks.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/base/PascalStrings.h"
#include "platform/graphics/CGGraphics.h"

TArray<CBuffer*> CBuffer::sBuffers;
RGBColor CBuffer::sEraseColor = {0, 0, 0};

namespace {

std::mutex& BuffersLock() {
  static std::mutex m;
  return m;
}

// Saves the current GWorld and puts it back at the end of a scope.
class StGWorldSaver {
 public:
  StGWorldSaver() { GetGWorld(&mPort, &mDevice); }
  ~StGWorldSaver() { SetGWorld(mPort, mDevice); }
  StGWorldSaver(const StGWorldSaver&) = delete;
  StGWorldSaver& operator=(const StGWorldSaver&) = delete;

 private:
  CGrafPtr mPort = nullptr;
  GDHandle mDevice = nullptr;
};

bool RectInside(const Rect& inner, const Rect& outer) {
  return inner.top >= outer.top && inner.left >= outer.left && inner.bottom <= outer.bottom &&
         inner.right <= outer.right && inner.bottom >= inner.top && inner.right >= inner.left;
}

void SetRawName(ImageDescriptionHandle desc) {
  static const unsigned char kRaw[] = {3, 'R', 'a', 'w'};
  std::memcpy((**desc).name, kRaw, sizeof(kRaw));
}

OSErr AddFormatExtension(ImageDescriptionHandle desc, OSType inFormat) {
  // The pixel format code is stored big-endian, as every code in a stored description.
  Handle ext = NewHandle(4);
  if (!ext) return memFullErr;
  WriteBE32(*ext, inFormat);
  OSErr err = AddImageDescriptionExtension(desc, ext, kColorSpaceImageDescriptionExtension);
  DisposeHandle(ext);
  return err;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

void CBuffer::InitEmpty() {
  mDirtyRgn = NewRgn();
  std::lock_guard<std::mutex> lock(BuffersLock());
  sBuffers.AddItem(this);
}

CBuffer::CBuffer(Rect inBounds, SInt16 inDepth, SInt16 inMode) {
  InitEmpty();
  try {
    AllocMem(inBounds, inDepth, inMode);
  } catch (...) {
    FreeOwned();
    {
      std::lock_guard<std::mutex> lock(BuffersLock());
      sBuffers.Remove(this);
    }
    DisposeRgn(mDirtyRgn);
    throw;
  }
}

CBuffer::CBuffer(Rect inBounds, SInt16 inDepth, SInt16 inMode, SInt32 inRowBytes, void* inData) {
  InitEmpty();
  try {
    ThrowIfNil_(inData);
    SInt32 bpp = BytesPerPixelFor(inDepth, inMode);
    SInt32 width = inBounds.right - inBounds.left, height = inBounds.bottom - inBounds.top;
    // Rows shorter than the pixels they hold would reach past the caller's memory.
    if (bpp == 0 || width < 0 || height < 0 || inRowBytes < width * bpp) Throw_(paramErr);
    mData = static_cast<Ptr>(inData);
    mOwns = false;
    mDepth = inDepth;
    mMode = inMode;
    mBounds = inBounds;
    mBytesPerPixel = bpp;
    mRowBytes = inRowBytes;
    mDataSize = height * inRowBytes;
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(BuffersLock());
      sBuffers.Remove(this);
    }
    DisposeRgn(mDirtyRgn);
    throw;
  }
}

CBuffer::CBuffer(CBuffer& inSource, const Rect* inBounds, bool inCopy) : CUserData(inSource) {
  InitEmpty();
  try {
    Rect bounds = inBounds ? *inBounds : inSource.mBounds;
    AllocMem(bounds, inSource.mDepth, inSource.mMode);
    PStrCopy(mDescriptor, inSource.mDescriptor);
    if (inCopy) {
      OSErr err = inSource.CopyTo(this, &bounds, nullptr, nullptr, nullptr);
      if (err != noErr) Throw_(err);
    }
  } catch (...) {
    FreeOwned();
    {
      std::lock_guard<std::mutex> lock(BuffersLock());
      sBuffers.Remove(this);
    }
    DisposeRgn(mDirtyRgn);
    throw;
  }
}

CBuffer::CBuffer(SInt16 inMode, RgnHandle inRegion, const Rect* inBounds) {
  InitEmpty();
  try {
    ThrowIfNil_(inRegion);
    if (EmptyRgn(inRegion) && (!inBounds || EmptyRect(inBounds))) Throw_(paramErr);
    Rect bounds;
    GetRegionBounds(inRegion, &bounds);
    if (inBounds) bounds = *inBounds;
    AllocMem(bounds, kBufferDepth8, inMode);
    OSErr err = SetToRgn(inRegion);
    if (err != noErr) Throw_(err);
  } catch (...) {
    FreeOwned();
    {
      std::lock_guard<std::mutex> lock(BuffersLock());
      sBuffers.Remove(this);
    }
    DisposeRgn(mDirtyRgn);
    throw;
  }
}

CBuffer::~CBuffer() {
  FreeOwned();
  {
    std::lock_guard<std::mutex> lock(BuffersLock());
    sBuffers.Remove(this);
  }
  DisposeRgn(mDirtyRgn);
}

void CBuffer::Release() {
  if (mRetainCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

// ---------------------------------------------------------------------------
// Memory

SInt32 CBuffer::BytesPerPixelFor(SInt16 inDepth, SInt16 inMode) {
  SInt32 component = inDepth == kBufferDepth8 ? 1 : inDepth == kBufferDepth16 ? 2 : inDepth == kBufferDepth32 ? 4 : 0;
  if (inMode == kBufferModeGray) return component;
  if (inMode == kBufferModeARGB) return component * 4;
  return 0;
}

void CBuffer::FreeOwned() {
  if (mOwns) DisposeLargeBlock(mBlock, mBlockSize);
  mBlock = nullptr;
  mBlockSize = 0;
  if (mOwns) {
    mData = nullptr;
    mOwns = false;
  }
}

OSErr CBuffer::AllocMem(Rect inBounds, SInt16 inDepth, SInt16 inMode) {
  FreeOwned();
  mData = nullptr;
  mDataSize = 0;
  SInt32 bpp = BytesPerPixelFor(inDepth, inMode);
  SInt32 width = inBounds.right - inBounds.left, height = inBounds.bottom - inBounds.top;
  if (bpp == 0 || width < 0 || height < 0) Throw_(paramErr);
  SInt32 rowBytes = width == 0 ? 16 : ((width * bpp + 15) / 16) * 16;
  SInt64 size = static_cast<SInt64>(height) * rowBytes;
  if (size > 0x7FFFFFFF - 64) Throw_(err_NilPointer);
  // One zero-filled block, aligned for the vector unit. Taken zeroed, as
  // fresh pages nobody has written: a frame buffer costs nothing until it is
  // drawn into, and its pages are then touched once, by whoever draws, not
  // twice. A frame-sized block comes in huge pages (see LargeBlocks.h).
  const size_t allocSize = static_cast<size_t>(std::max<SInt64>(size, 64) + 63) & ~static_cast<size_t>(63);
  void* block = NewLargeBlock(allocSize + 63);
  if (!block) Throw_(err_NilPointer);
  mBlock = block;
  mBlockSize = allocSize + 63;
  mData = reinterpret_cast<Ptr>((reinterpret_cast<uintptr_t>(block) + 63) & ~uintptr_t{63});
  mOwns = true;
  mDepth = inDepth;
  mMode = inMode;
  mBounds = inBounds;
  mBytesPerPixel = bpp;
  mRowBytes = rowBytes;
  mDataSize = static_cast<SInt32>(size);
  return noErr;
}

void CBuffer::DisposeMem() {
  FreeOwned();
  mData = nullptr;
  mDataSize = 0;
}

// Memory is never paged out from under the pixel work here, so holding is a
// nesting count only.
OSErr CBuffer::HoldMem() {
  ++mHoldCount;
  return noErr;
}

OSErr CBuffer::UnHoldMem() {
  if (mHoldCount > 0) --mHoldCount;
  return noErr;
}

// ---------------------------------------------------------------------------
// Addressing

Ptr CBuffer::GetDataPtr(const Point* inPoint) const {
  if (!mData) return nullptr;
  if (!inPoint) return mData;
  return mData + static_cast<ptrdiff_t>(inPoint->v - mBounds.top) * mRowBytes +
         static_cast<ptrdiff_t>(inPoint->h - mBounds.left) * mBytesPerPixel;
}

Ptr CBuffer::GetDataPtr(const Rect* inRect) const {
  if (!inRect) return GetDataPtr(static_cast<const Point*>(nullptr));
  Point topLeft{inRect->top, inRect->left};
  return GetDataPtr(&topLeft);
}

OSErr CBuffer::GetPixelValue(Point inPoint, UInt32& outGray, UInt32& outRed, UInt32& outGreen,
                             UInt32& outBlue) const {
  if (!PtInRect(inPoint, &mBounds) || !mData) return paramErr;
  const UInt8* p = reinterpret_cast<const UInt8*>(GetDataPtr(&inPoint));
  auto component = [this, p](int inIndex) -> UInt32 {
    switch (mDepth) {
      case kBufferDepth8: return p[inIndex];
      case kBufferDepth16: {
        UInt16 v;
        std::memcpy(&v, p + 2 * inIndex, 2);
        return v;
      }
      default: {
        UInt32 v;
        std::memcpy(&v, p + 4 * inIndex, 4);
        return v;
      }
    }
  };
  if (mMode == kBufferModeGray) {
    outGray = component(0);
  } else if (mMode == kBufferModeARGB) {
    outRed = component(1);
    outGreen = component(2);
    outBlue = component(3);
  } else {
    return paramErr;
  }
  return noErr;
}

// ---------------------------------------------------------------------------
// Coordinates and format

OSErr CBuffer::ChangeBounds(Rect inBounds) {
  OSErr err = noErr;
  if (inBounds.right - inBounds.left == GetWidth() && inBounds.bottom - inBounds.top == GetHeight())
    mBounds = inBounds;
  else
    err = AllocMem(inBounds, mDepth, mMode);
  BroadcastMessage(msg_BufferBoundsChanged, &inBounds);
  return err;
}

void CBuffer::OffsetOriginBy(Point inDelta) {
  OffsetRect(&mBounds, inDelta.h, inDelta.v);
  Rect bounds = mBounds;
  BroadcastMessage(msg_BufferBoundsChanged, &bounds);
}

void CBuffer::SetOriginTo(Point inOrigin) {
  OffsetRect(&mBounds, static_cast<SInt16>(inOrigin.h - mBounds.left), static_cast<SInt16>(inOrigin.v - mBounds.top));
  Rect bounds = mBounds;
  BroadcastMessage(msg_BufferBoundsChanged, &bounds);
}

OSErr CBuffer::ChangePixelDepth(SInt16 inDepth) {
  OSErr err = AllocMem(mBounds, inDepth, mMode);
  BroadcastMessage(msg_BufferDepthChanged, &inDepth);
  return err;
}

OSErr CBuffer::ChangeColorMode(SInt16 inMode) {
  OSErr err = AllocMem(mBounds, mDepth, inMode);
  BroadcastMessage(msg_BufferModeChanged, &inMode);
  return err;
}

void CBuffer::SetDescriptor(ConstStr255Param inText) {
  if (inText)
    PStrCopy(mDescriptor, inText);
  else
    mDescriptor[0] = 0;
}

void CBuffer::GetDescriptor(Str255 outText) const {
  if (outText) PStrCopy(outText, mDescriptor);
}

// ---------------------------------------------------------------------------
// Dirty region

void CBuffer::SetDirty(const Rect* inRect) {
  RgnHandle add = NewRgn();
  RectRgn(add, inRect ? inRect : &mBounds);
  UnionRgn(mDirtyRgn, add, mDirtyRgn);
  DisposeRgn(add);
  Rect box;
  GetRegionBounds(mDirtyRgn, &box);
  BroadcastMessage(msg_BufferDirty, &box);
}

void CBuffer::ClearDirty() { SetEmptyRgn(mDirtyRgn); }
bool CBuffer::IsDirty() const { return !EmptyRgn(mDirtyRgn); }
void CBuffer::GetDirty(Rect* outBox) const {
  if (outBox) GetRegionBounds(mDirtyRgn, outBox);
}

void CBuffer::Clear() {
  if (!mData) return;
  if (mOwns) {
    std::memset(mData, 0, static_cast<size_t>(mDataSize));
  } else {
    // A view's rows may be interleaved with others' (field views): clear only its pixels.
    size_t rowLength = static_cast<size_t>(GetWidth()) * static_cast<size_t>(mBytesPerPixel);
    for (SInt32 r = 0; r < GetHeight(); ++r) std::memset(mData + static_cast<ptrdiff_t>(r) * mRowBytes, 0, rowLength);
  }
  SetDirty(nullptr);
}

// ---------------------------------------------------------------------------
// Field views

namespace {

CBuffer* MakeFieldView(CBuffer* inFrame, bool inEvenCoordinates) {
  if (!inFrame || !inFrame->GetData()) return nullptr;
  try {
    const Rect& fb = inFrame->GetBounds();
    SInt32 h = inFrame->GetHeight();
    bool topEven = (fb.top & 1) == 0;
    bool startsAtTop = topEven == inEvenCoordinates;
    SInt32 start = startsAtTop ? fb.top : fb.top + 1;
    SInt32 rows = startsAtTop ? (h + 1) / 2 : h / 2;
    Point p{static_cast<SInt16>(start), fb.left};
    Rect bounds{fb.top, fb.left, static_cast<SInt16>(fb.top + rows), fb.right};
    return new CBuffer(bounds, inFrame->GetDepth(), inFrame->GetMode(), 2 * inFrame->GetRowBytes(),
                       inFrame->GetDataPtr(&p));
  } catch (const LException&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

CBuffer* CBuffer::CreateFromBuffer_Odd(CBuffer* inFrame) { return MakeFieldView(inFrame, true); }
CBuffer* CBuffer::CreateFromBuffer_Even(CBuffer* inFrame) { return MakeFieldView(inFrame, false); }

// ---------------------------------------------------------------------------
// QuickDraw and QuickTime views

GWorldPtr CBuffer::CreateGWorld(const Rect* inRect, CTabHandle inTable) {
  if (!mData) return nullptr;
  Rect r = inRect ? *inRect : mBounds;
  if (EmptyRect(&r) || !RectInside(r, mBounds)) return nullptr;
  OSType format;
  if (mDepth == kBufferDepth8 && mMode == kBufferModeGray)
    format = k8IndexedGrayPixelFormat;
  else if (mDepth == kBufferDepth8 && mMode == kBufferModeARGB)
    format = k32ARGBPixelFormat;
  else if (mDepth == kBufferDepth16 && mMode == kBufferModeGray)
    format = k16GrayHostPixelFormat;
  else if (mDepth == kBufferDepth16 && mMode == kBufferModeARGB)
    format = k64ARGBHostPixelFormat;
  else
    return nullptr;

  CTabHandle table = inTable;
  CTabHandle ownTable = nullptr;
  if (format == k8IndexedGrayPixelFormat && !table) {
    ownTable = GetCTable(40);
    if (!ownTable) return nullptr;
    for (int i = 0; i < 256; ++i) {
      UInt16 v = static_cast<UInt16>(i * 257);
      (**ownTable).ctTable[i].rgb = RGBColor{v, v, v};
    }
    table = ownTable;
  }
  GWorldPtr world = nullptr;
  OSErr err = QTNewGWorldFromPtr(&world, format, &r, table, nullptr, 0, GetDataPtr(&r), mRowBytes);
  if (ownTable) DisposeCTable(ownTable);
  if (err != noErr || !world) return nullptr;
  SetDirty(&r);
  return world;
}

ImageDescriptionHandle CBuffer::GetImageDescription() {
  StBufferRetainer hold(this);
  GWorldPtr world = CreateGWorld(nullptr, nullptr);
  if (!world) return nullptr;
  PixMapHandle pm = GetGWorldPixMap(world);
  GWorldFlags state = GetPixelsState(pm);
  if (!(state & pixelsLocked)) LockPixels(pm);
  ImageDescriptionHandle desc = nullptr;
  OSErr err = MakeImageDescriptionForPixMap(pm, &desc);
  if (!(state & pixelsLocked)) UnlockPixels(pm);
  DisposeGWorld(world);
  if (err != noErr || !desc) return nullptr;
  SetRawName(desc);
  if (mDepth == kBufferDepth8 && mMode == kBufferModeGray) (**desc).depth = 40;
  if (mDepth == kBufferDepth16) {
    if (AddFormatExtension(desc, mMode == kBufferModeGray ? k16GrayPixelFormat : k64ARGBPixelFormat) != noErr) {
      DisposeHandle(reinterpret_cast<Handle>(desc));
      return nullptr;
    }
  }
  return desc;
}

OSErr CBuffer::GetRawDataSize(const Rect* inRect, SInt32* outSize, SInt32 inAlignment) {
  Rect r = inRect ? *inRect : mBounds;
  SInt32 width = std::max(0, r.right - r.left), height = std::max(0, r.bottom - r.top);
  SInt64 alignment = std::max<SInt32>(inAlignment, 1);
  SInt64 raw = static_cast<SInt64>(width) * (mDepth == kBufferDepth16 ? 2 : 1) * (mMode == kBufferModeARGB ? 3 : 1);
  raw = (raw + alignment - 1) / alignment * alignment;
  if (raw * height > 0x7FFFFFFF) return paramErr;
  if (outSize) *outSize = static_cast<SInt32>(height * raw);
  return noErr;
}

OSErr CBuffer::GetRawData(Ptr outDest, SInt32* ioSize, const Rect* inRect, SInt32 inAlignment, SInt32* outRowBytes,
                          ImageDescriptionHandle* outDesc) {
  StBufferRetainer hold(this);
  if (outDesc) *outDesc = nullptr;
  Rect r = inRect ? *inRect : mBounds;
  // The rectangle must lie inside the pixels: nothing outside the buffer is read.
  if (!RectInside(r, mBounds) || !ioSize) return paramErr;
  if (!mData) return ErrorCodeToOSErr(err_NilPointer);
  const SInt32 width = r.right - r.left, height = r.bottom - r.top;
  SInt32 needed = 0;
  if (GetRawDataSize(&r, &needed, inAlignment) != noErr) return paramErr;
  const SInt32 alignment = std::max<SInt32>(inAlignment, 1);
  const SInt32 component = mDepth == kBufferDepth16 ? 2 : 1;
  const SInt32 used = width * component * (mMode == kBufferModeARGB ? 3 : 1);
  const SInt32 raw = (used + alignment - 1) / alignment * alignment;
  if (outRowBytes) *outRowBytes = raw;

  if (outDesc) {
    ImageDescriptionHandle desc = nullptr;
    {
      GWorldPtr world = CreateGWorld(nullptr, nullptr);
      if (!world) return ErrorCodeToOSErr(err_NilPointer);
      OSErr err = MakeImageDescriptionForPixMap(GetGWorldPixMap(world), &desc);
      DisposeGWorld(world);
      if (err != noErr) return err;
    }
    ImageDescription& d = **desc;
    d.width = static_cast<SInt16>(width);
    d.height = static_cast<SInt16>(height);
    d.dataSize = height * raw;
    SetRawName(desc);
    OSErr err = noErr;
    if (mDepth == kBufferDepth16 && mMode == kBufferModeGray) {
      d.cType = k16GrayPixelFormat;
      d.depth = 40;
      err = AddFormatExtension(desc, k16GrayPixelFormat);
    } else if (mDepth == kBufferDepth16 && mMode == kBufferModeARGB) {
      d.cType = k48RGBPixelFormat;
      d.depth = 24;
      err = AddFormatExtension(desc, k48RGBPixelFormat);
    } else if (mDepth == kBufferDepth8) {
      d.depth = mMode == kBufferModeGray ? 40 : 24;
    }
    if (err != noErr) {
      DisposeHandle(reinterpret_cast<Handle>(desc));
      return err;
    }
    *outDesc = desc;
  }

  if (*ioSize < needed || (needed > 0 && !outDest)) return paramErr;
  *ioSize = needed;
  if (mDepth == kBufferDepth32) return noErr;
  const UInt8* src = reinterpret_cast<const UInt8*>(GetDataPtr(&r));
  UInt8* dst = reinterpret_cast<UInt8*>(outDest);
  for (SInt32 y = 0; y < height; ++y, src += mRowBytes, dst += raw) {
    if (mDepth == kBufferDepth8 && mMode == kBufferModeGray) {
      std::memcpy(dst, src, static_cast<size_t>(width));
    } else if (mDepth == kBufferDepth8) {
      for (SInt32 x = 0; x < width; ++x) {
        dst[3 * x] = src[4 * x + 1];
        dst[3 * x + 1] = src[4 * x + 2];
        dst[3 * x + 2] = src[4 * x + 3];
      }
    } else {
      // Raw 16-bit data is described as 'b16g' or 'b48r': big-endian components.
      const SInt32 step = mMode == kBufferModeGray ? 1 : 4;
      const SInt32 first = mMode == kBufferModeGray ? 0 : 1;
      const SInt32 count = mMode == kBufferModeGray ? 1 : 3;
      UInt8* out = dst;
      for (SInt32 x = 0; x < width; ++x)
        for (SInt32 k = 0; k < count; ++k, out += 2) {
          UInt16 v;
          std::memcpy(&v, src + 2 * (x * step + first + k), 2);
          WriteBE16(out, v);
        }
    }
    if (raw > used) std::memset(dst + used, 0, static_cast<size_t>(raw - used));
  }
  return noErr;
}

OSErr CBuffer::SetToRgn(RgnHandle inRegion) {
  if (mDepth != kBufferDepth8) return paramErr;
  if (!inRegion) return ErrorCodeToOSErr(err_NilPointer);
  StGWorldSaver saver;
  GWorldPtr world = CreateGWorld(nullptr, nullptr);
  if (!world) return ErrorCodeToOSErr(err_NilPointer);
  SetGWorld(world, nullptr);
  PenNormal();
  ForeColor(blackColor);
  PaintRect(&mBounds);
  ForeColor(whiteColor);
  PaintRgn(inRegion);
  SetGWorld(GetScreenPort(), nullptr);
  DisposeGWorld(world);
  return noErr;
}

OSErr CBuffer::CopyPict(PicHandle inPicture, const Rect* inRect, RgnHandle inClip) {
  if (mDepth != kBufferDepth8) return paramErr;
  if (!inPicture) return ErrorCodeToOSErr(err_NilPointer);
  Rect r = inRect ? *inRect : mBounds;
  StGWorldSaver saver;
  GWorldPtr world = CreateGWorld(nullptr, nullptr);
  if (!world) return ErrorCodeToOSErr(err_NilPointer);
  SetGWorld(world, nullptr);
  PenNormal();
  ForeColor(blackColor);
  BackColor(whiteColor);
  OSErr err;
  {
    StHandleLocker lock(reinterpret_cast<Handle>(inPicture));
    err = DrawTrimmedPicture(inPicture, &r, inClip, 2, nullptr);
  }
  SetGWorld(GetScreenPort(), nullptr);
  DisposeGWorld(world);
  return err;
}

// ---------------------------------------------------------------------------
// StBufferCGContext

StBufferCGContext::StBufferCGContext(CBuffer* inBuffer, const Rect* inRect, CTabHandle inTable) {
  ThrowIfNil_(inBuffer);
  mWorld = inBuffer->CreateGWorld(inRect, inTable);
  ThrowIfNil_(mWorld);
  OSStatus err = CreateCGContextForPort(mWorld, &mContext);
  if (err != noErr || !mContext) {
    DisposeGWorld(mWorld);
    Throw_(err != noErr ? err : static_cast<OSStatus>(err_NilPointer));
  }
}

StBufferCGContext::~StBufferCGContext() {
  CGContextFlush(mContext);
  CGContextRelease(mContext);
  DisposeGWorld(mWorld);
}
