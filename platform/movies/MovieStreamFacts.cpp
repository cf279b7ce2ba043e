#include "platform/movies/MovieStreamFacts.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/graphics/QTImageDescription.h"

namespace movies {

namespace {

// The payload of the first extension atom of a type.
bool FindExtension(const std::vector<UInt8>& inDesc, OSType inType, const UInt8*& outPayload, size_t& outSize) {
  size_t pos = sizeof(ImageDescription);
  while (pos + 8 <= inDesc.size()) {
    const UInt32 size = ReadBE32(inDesc.data() + pos);
    const OSType type = ReadBE32(inDesc.data() + pos + 4);
    if (size < 8 || size > inDesc.size() - pos) return false;
    if (type == inType) {
      outPayload = inDesc.data() + pos + 8;
      outSize = size - 8;
      return true;
    }
    pos += size;
  }
  return false;
}

// Exp-Golomb reading of an H.264 parameter set (emulation bytes removed).
class CBitReader {
 public:
  CBitReader(const UInt8* inData, size_t inSize) {
    int zeros = 0;
    for (size_t i = 0; i < inSize; ++i) {
      if (zeros >= 2 && inData[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = inData[i] == 0 ? zeros + 1 : 0;
      mBytes.push_back(inData[i]);
    }
  }
  bool Bit(UInt32& outBit) {
    if (mAt >= mBytes.size() * 8) return false;
    outBit = (mBytes[mAt / 8] >> (7 - mAt % 8)) & 1;
    ++mAt;
    return true;
  }
  bool Bits(int inCount, UInt32& outValue) {
    outValue = 0;
    for (int i = 0; i < inCount; ++i) {
      UInt32 b = 0;
      if (!Bit(b)) return false;
      outValue = (outValue << 1) | b;
    }
    return true;
  }
  bool UE(UInt32& outValue) {
    int zeros = 0;
    UInt32 b = 0;
    while (Bit(b) && b == 0)
      if (++zeros > 31) return false;
    if (b != 1) return false;
    UInt32 rest = 0;
    if (!Bits(zeros, rest)) return false;
    outValue = (1u << zeros) - 1 + rest;
    return true;
  }

 private:
  std::vector<UInt8> mBytes;
  size_t mAt = 0;
};

UInt32 YUVFormat(UInt32 inChroma, UInt32 inBitDepth) {
  const bool deep = inBitDepth > 8;
  switch (inChroma) {
    case 0: return deep ? 0 : kPixelFormatGray8;
    case 1: return deep ? kPixelFormatYUV420_10 : kPixelFormatYUV420;
    case 2: return deep ? kPixelFormatYUV422_10 : kPixelFormatYUV422;
    case 3: return deep ? kPixelFormatYUV444_10 : kPixelFormatYUV444;
    default: return 0;
  }
}

// An 'avcC' record: its first sequence parameter set names the chroma
// format and bit depth (profiles below High are 4:2:0 with 8 bits).
UInt32 FormatOfAVC(const UInt8* inRecord, size_t inSize) {
  if (inSize < 8 || inRecord[0] != 1 || (inRecord[5] & 0x1F) == 0) return 0;
  const size_t length = (static_cast<size_t>(inRecord[6]) << 8) | inRecord[7];
  if (length < 4 || 8 + length > inSize) return 0;
  const UInt8* sps = inRecord + 8;
  const UInt32 profile = sps[1];
  static const UInt32 kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(kHigh), std::end(kHigh), profile) == std::end(kHigh)) return kPixelFormatYUV420;
  CBitReader bits(sps + 4, length - 4);  // after the header, profile, constraints and level
  UInt32 id = 0, chroma = 0, separate = 0, depth = 0;
  if (!bits.UE(id) || !bits.UE(chroma)) return 0;
  if (chroma == 3 && !bits.Bit(separate)) return 0;
  if (!bits.UE(depth)) return 0;
  return YUVFormat(chroma, depth + 8);
}

// An 'hvcC' record: chroma format and luma bit depth have bytes of their own.
UInt32 FormatOfHEVC(const UInt8* inRecord, size_t inSize) {
  if (inSize < 23 || inRecord[0] != 1) return 0;
  return YUVFormat(inRecord[16] & 3, (inRecord[17] & 7) + 8u);
}

// A JPEG picture: the sampling factors of its frame header.
UInt32 FormatOfJPEG(const UInt8* inData, size_t inSize) {
  size_t at = 2;
  if (inSize < 4 || inData[0] != 0xFF || inData[1] != 0xD8) return 0;
  while (at + 4 <= inSize) {
    if (inData[at] != 0xFF) return 0;
    const UInt8 marker = inData[at + 1];
    const size_t length = (static_cast<size_t>(inData[at + 2]) << 8) | inData[at + 3];
    if (marker >= 0xC0 && marker <= 0xC2) {
      if (at + 2 + length > inSize || length < 8) return 0;
      const UInt8* f = inData + at + 4;
      const UInt32 components = f[5];
      if (components == 1) return kPixelFormatGray8;
      if (components != 3 || length < 8 + 3 * 3) return 0;
      // The chroma is subsampled by the luma's sampling factors over the
      // chroma's (both chroma components sampled alike).
      const UInt32 lumaH = f[7] >> 4, lumaV = f[7] & 0xF;
      const UInt32 chromaH = f[10] >> 4, chromaV = f[10] & 0xF;
      if (chromaH == 0 || chromaV == 0 || f[13] != f[10] || lumaH % chromaH || lumaV % chromaV) return 0;
      const UInt32 h = lumaH / chromaH, v = lumaV / chromaV;
      if (h == 2 && v == 2) return kPixelFormatYUV420;
      if (h == 2 && v == 1) return kPixelFormatYUV422;
      if (h == 1 && v == 1) return kPixelFormatYUV444;
      if (h == 4 && v == 1) return kPixelFormatYUV411;
      return 0;
    }
    if (marker == 0xDA) return 0;  // the picture data starts: no frame header before it
    at += 2 + length;
  }
  return 0;
}

// The object type of an 'mp4v' entry's 'esds': MPEG-4 files keep MPEG-1,
// MPEG-2 and JPEG pictures under that data format too.
UInt8 VideoObjectType(const std::vector<UInt8>& inDesc) {
  const UInt8* p = nullptr;
  size_t n = 0;
  if (!FindExtension(inDesc, 'esds', p, n)) return 0;
  size_t at = 4;  // version and flags
  auto skipLength = [&] {
    for (int i = 0; i < 4 && at < n; ++i)
      if ((p[at++] & 0x80) == 0) break;
  };
  if (at >= n || p[at++] != 3) return 0;
  skipLength();
  if (at + 3 > n) return 0;
  const UInt8 flags = p[at + 2];
  at += 3;
  if (flags & 0x80) at += 2;
  if ((flags & 0x40) && at < n) at += 1 + p[at];
  if (flags & 0x20) at += 2;
  if (at >= n || p[at++] != 4) return 0;
  skipLength();
  return at < n ? p[at] : 0;
}

// The data format an 'mp4v' entry's pictures really have.
OSType RealVideoFormat(const std::vector<UInt8>& inDesc, OSType inFormat) {
  if (inFormat != 'mp4v') return inFormat;
  const UInt8 object = VideoObjectType(inDesc);
  if (object == 0x6C) return 'jpeg';
  if (object >= 0x60 && object <= 0x65) return 'mp2v';
  if (object == 0x6A) return 'mp1v';
  return inFormat;
}

}  // namespace

const char* CodecDisplayName(OSType inCodec) {
  switch (inCodec) {
    case 'avc1': case 'avc3': case 'H264': case 'h264': return "H.264";
    case 'hvc1': case 'hev1': return "HEVC";
    case 'mp4v': return "MPEG-4 Video";
    case 'jpeg': return "Photo - JPEG";
    case 'mjpa': return "Motion JPEG A";
    case 'mjpb': return "Motion JPEG B";
    case 'mp2v': case 'mpg2': return "MPEG-2 Video";
    case 'mp1v': return "MPEG-1 Video";
    case 'apcn': return "ProRes 422";
    case 'apch': return "ProRes 422 HQ";
    case 'apcs': return "ProRes 422 LT";
    case 'apco': return "ProRes 422 Proxy";
    case 'ap4h': return "ProRes 4444";
    case 'png ': return "PNG";
    case 'dvc ': return "DV - NTSC";
    case 'dvcp': return "DV - PAL";
    case 'rle ': return "Animation";
    case 'raw ': return "None";
    case 'VP80': case 'vp08': return "VP8";
    case 'VP90': case 'vp09': return "VP9";
    case 'av01': return "AV1";
    default: return nullptr;
  }
}

UInt32 StatedPixelFormat(const std::vector<UInt8>& inDescBytes, const UInt8* inFirstSample, size_t inSampleSize) {
  if (inDescBytes.size() < sizeof(ImageDescription)) return 0;
  ImageDescription d;
  std::memcpy(&d, inDescBytes.data(), sizeof d);
  const UInt8* payload = nullptr;
  size_t size = 0;
  switch (RealVideoFormat(inDescBytes, d.cType)) {
    case 'avc1': case 'avc3': case 'H264': case 'h264':
      return FindExtension(inDescBytes, 'avcC', payload, size) ? FormatOfAVC(payload, size) : 0;
    case 'hvc1': case 'hev1':
      return FindExtension(inDescBytes, 'hvcC', payload, size) ? FormatOfHEVC(payload, size) : 0;
    case 'mp4v': case 'mp1v': case 'mp2v': case 'mpg2':
      return kPixelFormatYUV420;
    case 'jpeg': case 'mjpa':
      return inFirstSample ? FormatOfJPEG(inFirstSample, inSampleSize) : 0;
    case 'apcn': case 'apch': case 'apcs': case 'apco':
      return kPixelFormatYUV422_10;
    case 'dvc ': return kPixelFormatYUV411;
    case 'dvcp': return kPixelFormatYUV420;
    default: return 0;
  }
}

SInt16 MpegAudioFrameChannels(const UInt8* inData, size_t inSize) {
  if (!inData || inSize < 4 || inData[0] != 0xFF || (inData[1] & 0xE0) != 0xE0) return 0;
  if ((inData[1] & 0x06) == 0 || (inData[2] & 0xF0) == 0xF0 || (inData[2] & 0x0C) == 0x0C) return 0;
  return (inData[3] >> 6) == 3 ? 1 : 2;
}

bool CompleteImageDescription(std::vector<UInt8>& ioDescBytes, UInt32 inPixelFormat) {
  if (ioDescBytes.size() < sizeof(ImageDescription)) return false;
  ImageDescription d;
  std::memcpy(&d, ioDescBytes.data(), sizeof d);
  bool changed = false;
  if (d.name[0] == 0) {
    if (const char* name = CodecDisplayName(RealVideoFormat(ioDescBytes, d.cType))) {
      const size_t n = std::min<size_t>(31, std::strlen(name));
      d.name[0] = static_cast<UInt8>(n);
      std::memcpy(d.name + 1, name, n);
      changed = true;
    }
  }
  const UInt8* payload = nullptr;
  size_t size = 0;
  if (inPixelFormat != 0 && !FindExtension(ioDescBytes, kColorSpaceImageDescriptionExtension, payload, size)) {
    UInt8 atom[12];
    WriteBE32(atom, 12);
    WriteBE32(atom + 4, kColorSpaceImageDescriptionExtension);
    WriteBE32(atom + 8, inPixelFormat);
    ioDescBytes.insert(ioDescBytes.end(), atom, atom + 12);
    d.idSize = static_cast<SInt32>(ioDescBytes.size());
    changed = true;
  }
  if (changed) std::memcpy(ioDescBytes.data(), &d, sizeof d);
  return changed;
}

}  // namespace movies
