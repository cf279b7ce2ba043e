// Atom containers: a flat list of big-endian atoms in a handle.
#include <cstring>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieExport.h"

namespace {

constexpr SInt32 kAtomHeader = 12;

struct AtomPlace {
  SInt32 offset;  // of the header
  SInt32 size;    // header included
  OSType type;
  QTAtomID id;
};

// The atoms of a container; false when its bytes are not well formed.
bool Walk(QTAtomContainer inContainer, std::vector<AtomPlace>& outAtoms) {
  outAtoms.clear();
  if (inContainer == nullptr || !IsValidHandle(inContainer)) return false;
  const SInt32 total = GetHandleSize(inContainer);
  const UInt8* bytes = reinterpret_cast<const UInt8*>(*inContainer);
  SInt32 at = 0;
  while (at < total) {
    if (total - at < kAtomHeader) return false;
    const UInt32 size = ReadBE32(bytes + at);
    if (size < static_cast<UInt32>(kAtomHeader) || size > static_cast<UInt32>(total - at)) return false;
    outAtoms.push_back(AtomPlace{at, static_cast<SInt32>(size), ReadBE32(bytes + at + 4),
                                 static_cast<QTAtomID>(ReadBE32(bytes + at + 8))});
    at += static_cast<SInt32>(size);
  }
  return true;
}

}  // namespace

OSErr QTNewAtomContainer(QTAtomContainer* outContainer) {
  if (outContainer == nullptr) return paramErr;
  *outContainer = NewHandle(0);
  return *outContainer ? noErr : memFullErr;
}

OSErr QTDisposeAtomContainer(QTAtomContainer inContainer) {
  if (inContainer) DisposeHandle(inContainer);
  return noErr;
}

OSErr QTValidateAtomContainer(QTAtomContainer inContainer) {
  std::vector<AtomPlace> atoms;
  return Walk(inContainer, atoms) ? noErr : paramErr;
}

OSErr QTInsertChild(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, QTAtomID inID, SInt16,
                    SInt32 inDataSize, const void* inData, QTAtom* outAtom) {
  std::vector<AtomPlace> atoms;
  if (inParent != kParentAtomIsContainer || inDataSize < 0 || inDataSize > 0x7FFFFFFF - kAtomHeader ||
      (inDataSize > 0 && inData == nullptr) || !Walk(inContainer, atoms))
    return paramErr;
  const SInt32 old = GetHandleSize(inContainer);
  if (inDataSize > 0x7FFFFFFF - kAtomHeader - old) return paramErr;
  SetHandleSize(inContainer, old + kAtomHeader + inDataSize);
  if (MemError() != noErr) return MemError();
  UInt8* p = reinterpret_cast<UInt8*>(*inContainer) + old;
  WriteBE32(p, static_cast<UInt32>(kAtomHeader + inDataSize));
  WriteBE32(p + 4, inType);
  WriteBE32(p + 8, static_cast<UInt32>(inID));
  if (inDataSize > 0) std::memcpy(p + kAtomHeader, inData, static_cast<size_t>(inDataSize));
  if (outAtom) *outAtom = static_cast<QTAtom>(atoms.size() + 1);
  return noErr;
}

QTAtom QTFindChildByID(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, QTAtomID inID,
                       SInt16* outIndex) {
  std::vector<AtomPlace> atoms;
  if (inParent != kParentAtomIsContainer || !Walk(inContainer, atoms)) return 0;
  SInt16 index = 0;
  for (size_t i = 0; i < atoms.size(); ++i) {
    if (atoms[i].type != inType) continue;
    ++index;
    if (atoms[i].id == inID) {
      if (outIndex) *outIndex = index;
      return static_cast<QTAtom>(i + 1);
    }
  }
  return 0;
}

QTAtom QTFindChildByIndex(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, SInt16 inIndex,
                          QTAtomID* outID) {
  std::vector<AtomPlace> atoms;
  if (inParent != kParentAtomIsContainer || inIndex < 1 || !Walk(inContainer, atoms)) return 0;
  SInt16 index = 0;
  for (size_t i = 0; i < atoms.size(); ++i) {
    if (atoms[i].type != inType || ++index != inIndex) continue;
    if (outID) *outID = atoms[i].id;
    return static_cast<QTAtom>(i + 1);
  }
  return 0;
}

SInt16 QTCountChildrenOfType(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType) {
  std::vector<AtomPlace> atoms;
  if (inParent != kParentAtomIsContainer || !Walk(inContainer, atoms)) return 0;
  SInt16 count = 0;
  for (const AtomPlace& a : atoms)
    if (a.type == inType) ++count;
  return count;
}

OSErr QTCopyAtomDataToPtr(QTAtomContainer inContainer, QTAtom inAtom, Boolean inSizeOrLessOK, SInt32 inMaxSize,
                          void* outData, SInt32* outActualSize) {
  std::vector<AtomPlace> atoms;
  if (!Walk(inContainer, atoms) || inAtom < 1 || static_cast<size_t>(inAtom) > atoms.size() || inMaxSize < 0)
    return paramErr;
  const AtomPlace& a = atoms[static_cast<size_t>(inAtom - 1)];
  SInt32 size = a.size - kAtomHeader;
  if (size > inMaxSize) {
    if (!inSizeOrLessOK) return paramErr;
    size = inMaxSize;
  }
  if (size > 0) {
    if (outData == nullptr) return paramErr;
    std::memcpy(outData, *inContainer + a.offset + kAtomHeader, static_cast<size_t>(size));
  }
  if (outActualSize) *outActualSize = size;
  return noErr;
}

OSErr QTSetAtomData(QTAtomContainer inContainer, QTAtom inAtom, SInt32 inDataSize, const void* inData) {
  std::vector<AtomPlace> atoms;
  if (!Walk(inContainer, atoms) || inAtom < 1 || static_cast<size_t>(inAtom) > atoms.size() || inDataSize < 0 ||
      (inDataSize > 0 && inData == nullptr))
    return paramErr;
  const AtomPlace& a = atoms[static_cast<size_t>(inAtom - 1)];
  const SInt32 total = GetHandleSize(inContainer);
  std::vector<UInt8> rest(reinterpret_cast<UInt8*>(*inContainer) + a.offset + a.size,
                          reinterpret_cast<UInt8*>(*inContainer) + total);
  const SInt64 newSize = static_cast<SInt64>(a.offset) + kAtomHeader + inDataSize + static_cast<SInt64>(rest.size());
  if (newSize > 0x7FFFFFFF) return paramErr;
  SetHandleSize(inContainer, static_cast<SInt32>(newSize));
  if (MemError() != noErr) return MemError();
  UInt8* p = reinterpret_cast<UInt8*>(*inContainer) + a.offset + kAtomHeader;
  if (inDataSize > 0) std::memcpy(p, inData, static_cast<size_t>(inDataSize));
  if (!rest.empty()) std::memcpy(p + inDataSize, rest.data(), rest.size());
  WriteBE32(*inContainer + a.offset, static_cast<UInt32>(kAtomHeader + inDataSize));
  return noErr;
}
