#include "platform/graphics/QTImageDescription.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"

namespace {

bool Valid(ImageDescriptionHandle desc) {
  Handle h = reinterpret_cast<Handle>(desc);
  return h && IsValidHandle(h) && *h && GetHandleSize(h) >= static_cast<SInt32>(sizeof(ImageDescription));
}

// Finds the index-th atom of the type; its offset and size in the handle.
bool FindExtension(ImageDescriptionHandle desc, SInt32 type, SInt32 index, SInt32* outOffset, SInt32* outSize,
                   SInt32* outCount) {
  Handle h = reinterpret_cast<Handle>(desc);
  SInt32 total = std::min<SInt32>((**desc).idSize, GetHandleSize(h));
  SInt32 pos = static_cast<SInt32>(sizeof(ImageDescription));
  SInt32 count = 0;
  bool found = false;
  while (pos + 8 <= total) {
    const UInt8* p = reinterpret_cast<const UInt8*>(*h) + pos;
    SInt32 size = static_cast<SInt32>(ReadBE32(p));
    SInt32 atomType = static_cast<SInt32>(ReadBE32(p + 4));
    if (size < 8 || size > total - pos) break;
    if (atomType == type) {
      ++count;
      if (count == index && !found) {
        found = true;
        if (outOffset) *outOffset = pos;
        if (outSize) *outSize = size;
      }
    }
    pos += size;
  }
  if (outCount) *outCount = count;
  return found;
}

}  // namespace

OSErr MakeImageDescriptionForPixMap(PixMapHandle pixmap, ImageDescriptionHandle* outDesc) {
  if (!outDesc) return paramErr;
  *outDesc = nullptr;
  if (!pixmap || !*pixmap) return paramErr;
  const PixMap& pm = **pixmap;
  CodecType codec = kRawCodecType;
  SInt16 depth;
  switch (pm.pixelFormat) {
    case k8IndexedPixelFormat: depth = 8; break;
    case k8IndexedGrayPixelFormat: depth = 40; break;
    case k24RGBPixelFormat: depth = 24; break;
    case k32ARGBPixelFormat: depth = 32; break;
    case k16GrayPixelFormat:
      codec = k16GrayPixelFormat;
      depth = 16;
      break;
    case k48RGBPixelFormat:
      codec = k48RGBPixelFormat;
      depth = 48;
      break;
    case k64ARGBPixelFormat:
      codec = k64ARGBPixelFormat;
      depth = 64;
      break;
    case k16GrayHostPixelFormat:
      codec = k16GrayHostPixelFormat;
      depth = 16;
      break;
    case k64ARGBHostPixelFormat:
      codec = k64ARGBHostPixelFormat;
      depth = 64;
      break;
    default: return paramErr;
  }
  Handle h = NewHandleClear(static_cast<SInt32>(sizeof(ImageDescription)));
  if (!h) return memFullErr;
  ImageDescription& d = *reinterpret_cast<ImageDescription*>(*h);
  d.idSize = static_cast<SInt32>(sizeof(ImageDescription));
  d.cType = codec;
  d.version = 1;
  d.width = static_cast<SInt16>(pm.bounds.right - pm.bounds.left);
  d.height = static_cast<SInt16>(pm.bounds.bottom - pm.bounds.top);
  d.hRes = pm.hRes ? pm.hRes : 72 << 16;
  d.vRes = pm.vRes ? pm.vRes : 72 << 16;
  d.frameCount = 1;
  d.depth = depth;
  d.clutID = -1;
  *outDesc = reinterpret_cast<ImageDescriptionHandle>(h);
  return noErr;
}

OSErr AddImageDescriptionExtension(ImageDescriptionHandle desc, Handle extension, SInt32 idType) {
  if (!Valid(desc) || !extension || !IsValidHandle(extension)) return paramErr;
  Handle h = reinterpret_cast<Handle>(desc);
  SInt32 dataSize = GetHandleSize(extension);
  SInt32 oldSize = (**desc).idSize;
  if (oldSize < static_cast<SInt32>(sizeof(ImageDescription)) || oldSize > GetHandleSize(h)) return paramErr;
  SetHandleSize(h, oldSize + 8 + dataSize);
  if (MemError() != noErr) return MemError();
  UInt8* p = reinterpret_cast<UInt8*>(*h) + oldSize;
  WriteBE32(p, static_cast<UInt32>(8 + dataSize));
  WriteBE32(p + 4, static_cast<UInt32>(idType));
  if (dataSize > 0) std::memcpy(p + 8, *extension, static_cast<size_t>(dataSize));
  (**desc).idSize = oldSize + 8 + dataSize;
  return noErr;
}

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, SInt32 idType, SInt32 index) {
  if (!extension) return paramErr;
  *extension = nullptr;
  if (!Valid(desc)) return paramErr;
  SInt32 offset = 0, size = 0;
  if (!FindExtension(desc, idType, index, &offset, &size, nullptr)) return codecExtensionNotFoundErr;
  Handle out = NewHandle(size - 8);
  if (!out) return memFullErr;
  if (size > 8) std::memcpy(*out, *reinterpret_cast<Handle>(desc) + offset + 8, static_cast<size_t>(size - 8));
  *extension = out;
  return noErr;
}

OSErr CountImageDescriptionExtensionType(ImageDescriptionHandle desc, SInt32 idType, SInt32* count) {
  if (!count || !Valid(desc)) return paramErr;
  FindExtension(desc, idType, 1, nullptr, nullptr, count);
  return noErr;
}

OSErr RemoveImageDescriptionExtension(ImageDescriptionHandle desc, SInt32 idType, SInt32 index) {
  if (!Valid(desc)) return paramErr;
  SInt32 offset = 0, size = 0;
  if (!FindExtension(desc, idType, index, &offset, &size, nullptr)) return codecExtensionNotFoundErr;
  Handle h = reinterpret_cast<Handle>(desc);
  SInt32 total = GetHandleSize(h);
  std::memmove(*h + offset, *h + offset + size, static_cast<size_t>(total - offset - size));
  (**desc).idSize -= size;
  SetHandleSize(h, total - size);
  return noErr;
}
