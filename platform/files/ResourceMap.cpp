#include "platform/files/ResourceMap.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Endian.h"

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kDataStart = 256;  // header plus the reserved system and application areas
constexpr size_t kMapHeaderSize = 28;
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kRefEntrySize = 12;
constexpr UInt32 kMaxDataOffset = 0x00FFFFFF;

// True when [inOffset, inOffset + inLength) lies within inLimit.
bool Within(UInt64 inOffset, UInt64 inLength, UInt64 inLimit) { return inOffset <= inLimit && inLength <= inLimit - inOffset; }

}  // namespace

OSErr ParseResourceMap(const char* inBytes, size_t inSize, ResourceMapContents& outContents) {
  outContents = ResourceMapContents{};
  if (inSize == 0) return resFNotFound;
  if (!inBytes || inSize < kHeaderSize) return eofErr;
  const UInt64 dataOff = ReadBE32(inBytes);
  const UInt64 mapOff = ReadBE32(inBytes + 4);
  const UInt64 dataLen = ReadBE32(inBytes + 8);
  const UInt64 mapLen = ReadBE32(inBytes + 12);
  if (!Within(dataOff, dataLen, inSize) || !Within(mapOff, mapLen, inSize)) return eofErr;
  if (mapLen < kMapHeaderSize) return eofErr;
  const char* map = inBytes + mapOff;
  const char* data = inBytes + dataOff;
  outContents.fileAttrs = ReadBE16(map + 22);
  const UInt64 typeListOff = ReadBE16(map + 24);
  const UInt64 nameListOff = ReadBE16(map + 26);
  if (!Within(typeListOff, 2, mapLen) || nameListOff > mapLen) return eofErr;
  const char* typeList = map + typeListOff;
  // Reference lists and data blocks of a sound file do not overlap, so their
  // totals cannot exceed the map and the data: this keeps a damaged map whose
  // entries all point at the same bytes from multiplying them.
  UInt64 totalRefs = 0;
  UInt64 totalData = 0;
  // A count of 0xFFFF (count - 1 = -1) means no types.
  const UInt32 typeCount = (ReadBE16(typeList) + 1u) & 0xFFFFu;
  if (!Within(typeListOff + 2, static_cast<UInt64>(typeCount) * kTypeEntrySize, mapLen)) return eofErr;
  for (UInt32 t = 0; t < typeCount; ++t) {
    const char* te = typeList + 2 + t * kTypeEntrySize;
    const ResType type = ReadBE32(te);
    const UInt32 refCount = ReadBE16(te + 4) + 1u;
    const UInt64 refListOff = typeListOff + ReadBE16(te + 6);
    if (!Within(refListOff, static_cast<UInt64>(refCount) * kRefEntrySize, mapLen)) return eofErr;
    totalRefs += refCount;
    if (totalRefs * kRefEntrySize > mapLen) return eofErr;
    for (UInt32 r = 0; r < refCount; ++r) {
      const char* re = map + refListOff + r * kRefEntrySize;
      ResourceMapEntry entry;
      entry.type = type;
      entry.id = static_cast<ResID>(ReadBE16(re));
      const UInt16 nameOff = ReadBE16(re + 2);
      entry.attrs = static_cast<UInt8>(re[4]);
      const UInt64 resDataOff = ReadBE32(re + 4) & 0x00FFFFFFu;
      if (nameOff != 0xFFFF) {
        const UInt64 at = nameListOff + nameOff;
        if (!Within(at, 1, mapLen)) return eofErr;
        const UInt64 len = static_cast<UInt8>(map[at]);
        if (!Within(at + 1, len, mapLen)) return eofErr;
        entry.hasName = true;
        entry.name.assign(map + at + 1, static_cast<size_t>(len));
      }
      if (!Within(resDataOff, 4, dataLen)) return eofErr;
      const UInt64 len = ReadBE32(data + resDataOff);
      if (!Within(resDataOff + 4, len, dataLen)) return eofErr;
      totalData += 4 + len;
      if (totalData > dataLen) return eofErr;
      entry.data.assign(data + resDataOff + 4, data + resDataOff + 4 + len);
      outContents.entries.push_back(std::move(entry));
    }
  }
  return noErr;
}

OSErr SerializeResourceMap(const ResourceMapContents& inContents, std::vector<char>& outBytes) {
  outBytes.clear();
  // Types in order of first appearance, with their entries.
  std::vector<ResType> types;
  for (const ResourceMapEntry& e : inContents.entries)
    if (std::find(types.begin(), types.end(), e.type) == types.end()) types.push_back(e.type);
  if (types.size() > 0xFFFF) return addResFailed;

  std::vector<char> dataPart;
  std::vector<char> refLists;
  std::vector<char> names;
  std::vector<char> typeList(2 + types.size() * kTypeEntrySize);
  WriteBE16(typeList.data(), static_cast<UInt16>(types.size() - 1));  // 0 types -> 0xFFFF
  for (size_t t = 0; t < types.size(); ++t) {
    size_t count = 0;
    const size_t refStart = typeList.size() + refLists.size();
    if (refStart > 0xFFFF) return addResFailed;
    for (const ResourceMapEntry& e : inContents.entries) {
      if (e.type != types[t]) continue;
      ++count;
      if (dataPart.size() > kMaxDataOffset) return addResFailed;
      char ref[kRefEntrySize] = {};
      WriteBE16(ref, static_cast<UInt16>(e.id));
      if (e.hasName) {
        if (names.size() > 0xFFFE) return addResFailed;
        WriteBE16(ref + 2, static_cast<UInt16>(names.size()));
        const size_t len = std::min<size_t>(e.name.size(), 255);
        names.push_back(static_cast<char>(len));
        names.insert(names.end(), e.name.begin(), e.name.begin() + static_cast<std::ptrdiff_t>(len));
      } else {
        WriteBE16(ref + 2, 0xFFFF);
      }
      WriteBE32(ref + 4, static_cast<UInt32>(dataPart.size()) | (static_cast<UInt32>(e.attrs) << 24));
      refLists.insert(refLists.end(), ref, ref + kRefEntrySize);
      char len[4];
      WriteBE32(len, static_cast<UInt32>(e.data.size()));
      dataPart.insert(dataPart.end(), len, len + 4);
      dataPart.insert(dataPart.end(), e.data.begin(), e.data.end());
    }
    if (count > 0x10000) return addResFailed;
    char* te = typeList.data() + 2 + t * kTypeEntrySize;
    WriteBE32(te, types[t]);
    WriteBE16(te + 4, static_cast<UInt16>(count - 1));
    WriteBE16(te + 6, static_cast<UInt16>(refStart));
  }
  const size_t nameListOff = kMapHeaderSize + typeList.size() + refLists.size();
  if (nameListOff > 0xFFFF) return addResFailed;
  const size_t mapLen = nameListOff + names.size();
  const size_t dataLen = dataPart.size();
  if (kDataStart + dataLen + mapLen > 0x7FFFFFFF) return addResFailed;

  outBytes.assign(kDataStart + dataLen + mapLen, 0);
  char header[kHeaderSize];
  WriteBE32(header, static_cast<UInt32>(kDataStart));
  WriteBE32(header + 4, static_cast<UInt32>(kDataStart + dataLen));
  WriteBE32(header + 8, static_cast<UInt32>(dataLen));
  WriteBE32(header + 12, static_cast<UInt32>(mapLen));
  std::memcpy(outBytes.data(), header, kHeaderSize);
  if (dataLen) std::memcpy(outBytes.data() + kDataStart, dataPart.data(), dataLen);
  char* map = outBytes.data() + kDataStart + dataLen;
  std::memcpy(map, header, kHeaderSize);
  WriteBE16(map + 22, inContents.fileAttrs);
  WriteBE16(map + 24, static_cast<UInt16>(kMapHeaderSize));
  WriteBE16(map + 26, static_cast<UInt16>(nameListOff));
  std::memcpy(map + kMapHeaderSize, typeList.data(), typeList.size());
  if (!refLists.empty()) std::memcpy(map + kMapHeaderSize + typeList.size(), refLists.data(), refLists.size());
  if (!names.empty()) std::memcpy(map + nameListOff, names.data(), names.size());
  return noErr;
}
