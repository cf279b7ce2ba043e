// Image descriptions: the record that tells the movie toolbox how a frame's
// pixels are laid out. In memory the fields are host order; extensions follow
// the record as atoms (32-bit big-endian size, 32-bit big-endian type, data),
// and idSize counts the record with its extensions.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/graphics/QuickDraw.h"

typedef OSType CodecType;

// Packed as stored in files: 86 bytes.
#pragma pack(push, 2)
struct ImageDescription {
  SInt32 idSize;
  CodecType cType;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  UInt32 temporalQuality;
  UInt32 spatialQuality;
  SInt16 width;
  SInt16 height;
  Fixed hRes;
  Fixed vRes;
  SInt32 dataSize;
  SInt16 frameCount;
  Str31 name;
  SInt16 depth;
  SInt16 clutID;
};
#pragma pack(pop)
static_assert(sizeof(ImageDescription) == 86);
typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescriptionPtr* ImageDescriptionHandle;

constexpr CodecType kRawCodecType = 'raw ';
constexpr OSType kColorSpaceImageDescriptionExtension = 'cspc';
constexpr OSErr codecExtensionNotFoundErr = -8971;

// A new description of the pixel map's pixels: codec 'raw ' with the depth
// field the pixel format (8, 24, 32, or 40 for 8-bit gray) for 8-bit formats;
// codec type = the format ('b16g', 'b48r', 'b64a', 'h16g', 'h64a') with depth
// 16, 48 or 64 for 16-bit formats. The caller disposes of it.
OSErr MakeImageDescriptionForPixMap(PixMapHandle pixmap, ImageDescriptionHandle* outDesc);
// Appends a copy of the extension's bytes as an atom of the given type.
OSErr AddImageDescriptionExtension(ImageDescriptionHandle desc, Handle extension, SInt32 idType);
// A new handle with the bytes of the index-th (from 1) extension of the type.
OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, SInt32 idType, SInt32 index);
OSErr CountImageDescriptionExtensionType(ImageDescriptionHandle desc, SInt32 idType, SInt32* count);
OSErr RemoveImageDescriptionExtension(ImageDescriptionHandle desc, SInt32 idType, SInt32 index);
