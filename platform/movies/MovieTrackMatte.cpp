#include "platform/movies/MovieTrackMatte.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieModel.h"

namespace {

constexpr OSType kMatteAtom = 'matt';
constexpr OSType kCompressedMatteAtom = 'kmat';

void PutBE16(std::vector<UInt8>& v, UInt16 x) {
  UInt8 b[2];
  WriteBE16(b, x);
  v.insert(v.end(), b, b + 2);
}

void PutBE32(std::vector<UInt8>& v, UInt32 x) {
  UInt8 b[4];
  WriteBE32(b, x);
  v.insert(v.end(), b, b + 4);
}

// The image description in the byte order of a movie file.
void PutDescription(std::vector<UInt8>& v, const ImageDescription& d) {
  PutBE32(v, static_cast<UInt32>(d.idSize));
  PutBE32(v, d.cType);
  PutBE32(v, static_cast<UInt32>(d.resvd1));
  PutBE16(v, static_cast<UInt16>(d.resvd2));
  PutBE16(v, static_cast<UInt16>(d.dataRefIndex));
  PutBE16(v, static_cast<UInt16>(d.version));
  PutBE16(v, static_cast<UInt16>(d.revisionLevel));
  PutBE32(v, static_cast<UInt32>(d.vendor));
  PutBE32(v, d.temporalQuality);
  PutBE32(v, d.spatialQuality);
  PutBE16(v, static_cast<UInt16>(d.width));
  PutBE16(v, static_cast<UInt16>(d.height));
  PutBE32(v, static_cast<UInt32>(d.hRes));
  PutBE32(v, static_cast<UInt32>(d.vRes));
  PutBE32(v, static_cast<UInt32>(d.dataSize));
  PutBE16(v, static_cast<UInt16>(d.frameCount));
  v.insert(v.end(), d.name, d.name + sizeof(d.name));
  PutBE16(v, static_cast<UInt16>(d.depth));
  PutBE16(v, static_cast<UInt16>(d.clutID));
}

// The 'matt' atom of a pixel map: its description, then its rows without padding.
std::vector<UInt8> MatteAtom(PixMapHandle matte) {
  if (!*matte || !(**matte).baseAddr) Throw_(paramErr);
  const PixMap& pm = **matte;
  ImageDescriptionHandle desc = nullptr;
  OSErr err = MakeImageDescriptionForPixMap(matte, &desc);
  if (err != noErr || !desc) Throw_(err != noErr ? err : paramErr);
  ImageDescription d = **desc;
  DisposeHandle(reinterpret_cast<Handle>(desc));

  SInt32 width = pm.bounds.right - pm.bounds.left;
  SInt32 height = pm.bounds.bottom - pm.bounds.top;
  SInt32 rowBytes = QTGetPixMapPtrRowBytes(const_cast<PixMapPtr>(&pm));
  SInt32 bitsPerPixel = QTGetPixelSize(pm.pixelFormat);
  if (width <= 0 || height <= 0 || bitsPerPixel < 8) Throw_(paramErr);
  size_t lineBytes = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
  if (rowBytes < 0 || lineBytes > static_cast<size_t>(rowBytes)) Throw_(paramErr);
  size_t dataSize = lineBytes * static_cast<size_t>(height);
  if (dataSize > 0x7FFF0000u) Throw_(paramErr);
  d.idSize = static_cast<SInt32>(sizeof(ImageDescription));
  d.dataSize = static_cast<SInt32>(dataSize);

  std::vector<UInt8> kmat;
  PutBE32(kmat, 0);
  PutBE32(kmat, kCompressedMatteAtom);
  PutBE32(kmat, 0);  // version and flags
  PutDescription(kmat, d);
  const UInt8* rows = reinterpret_cast<const UInt8*>(pm.baseAddr);
  for (SInt32 r = 0; r < height; ++r) {
    const UInt8* row = rows + static_cast<size_t>(r) * static_cast<size_t>(rowBytes);
    kmat.insert(kmat.end(), row, row + lineBytes);
  }
  WriteBE32(kmat.data(), static_cast<UInt32>(kmat.size()));

  std::vector<UInt8> matt;
  PutBE32(matt, static_cast<UInt32>(8 + kmat.size()));
  PutBE32(matt, kMatteAtom);
  matt.insert(matt.end(), kmat.begin(), kmat.end());
  return matt;
}

bool IsMatteAtom(const std::vector<UInt8>& atom) { return atom.size() >= 8 && ReadBE32(atom.data() + 4) == kMatteAtom; }

}  // namespace

void SetTrackMatte(Track theTrack, PixMapHandle theMatte) {
  movies::GuardedErr([&] {
    movies::TrackObj& t = movies::GetTrack(theTrack);
    std::vector<UInt8> atom;
    if (theMatte) atom = MatteAtom(theMatte);
    auto& atoms = t.unknownTrak;
    atoms.erase(std::remove_if(atoms.begin(), atoms.end(), IsMatteAtom), atoms.end());
    if (!atom.empty()) atoms.push_back(std::move(atom));
    movies::Touch(t);
  });
}
