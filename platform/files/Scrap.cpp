#include "platform/files/Scrap.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct Flavor {
  ScrapFlavorType type;
  ScrapFlavorFlags flags;
  std::vector<char> data;
};

// The scrap reference is a generation number disguised as a pointer: clearing
// the scrap moves to the next generation, so old references are refused
// without ever being dereferenced.
struct ScrapState {
  std::mutex lock;
  std::vector<Flavor> flavors;
  uintptr_t generation = 1;
};

ScrapState& State() {
  static ScrapState s;
  return s;
}

ScrapRef RefOf(uintptr_t inGeneration) { return reinterpret_cast<ScrapRef>(inGeneration); }

bool Valid(const ScrapState& s, ScrapRef inScrap) { return inScrap == RefOf(s.generation); }

Flavor* Find(ScrapState& s, ScrapFlavorType inType) {
  for (Flavor& f : s.flavors)
    if (f.type == inType) return &f;
  return nullptr;
}

}  // namespace

OSStatus GetCurrentScrap(ScrapRef* outScrap) {
  if (!outScrap) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  *outScrap = RefOf(s.generation);
  return noErr;
}

OSStatus ClearCurrentScrap() {
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.flavors.clear();
  ++s.generation;
  return noErr;
}

OSStatus PutScrapFlavor(ScrapRef inScrap, ScrapFlavorType inType, ScrapFlavorFlags inFlags, SInt32 inSize,
                        const void* inData) {
  if (inSize < 0 || (inSize > 0 && !inData)) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  if (Find(s, inType)) return duplicateScrapFlavorErr;
  Flavor f{inType, inFlags, {}};
  if (inSize > 0) f.data.assign(static_cast<const char*>(inData), static_cast<const char*>(inData) + inSize);
  s.flavors.push_back(std::move(f));
  return noErr;
}

OSStatus GetScrapFlavorFlags(ScrapRef inScrap, ScrapFlavorType inType, ScrapFlavorFlags* outFlags) {
  if (!outFlags) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  Flavor* f = Find(s, inType);
  if (!f) return noTypeErr;
  *outFlags = f->flags;
  return noErr;
}

OSStatus GetScrapFlavorSize(ScrapRef inScrap, ScrapFlavorType inType, SInt32* outSize) {
  if (!outSize) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  Flavor* f = Find(s, inType);
  if (!f) return noTypeErr;
  *outSize = static_cast<SInt32>(f->data.size());
  return noErr;
}

OSStatus GetScrapFlavorData(ScrapRef inScrap, ScrapFlavorType inType, SInt32* ioSize, void* outData) {
  if (!ioSize || *ioSize < 0 || (*ioSize > 0 && !outData)) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  Flavor* f = Find(s, inType);
  if (!f) return noTypeErr;
  SInt32 n = std::min(*ioSize, static_cast<SInt32>(f->data.size()));
  if (n > 0) std::memcpy(outData, f->data.data(), static_cast<size_t>(n));
  *ioSize = n;
  return noErr;
}

OSStatus GetScrapFlavorCount(ScrapRef inScrap, UInt32* outCount) {
  if (!outCount) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  *outCount = static_cast<UInt32>(s.flavors.size());
  return noErr;
}

OSStatus GetScrapFlavorInfoList(ScrapRef inScrap, UInt32* ioCount, ScrapFlavorInfo outInfo[]) {
  if (!ioCount || (*ioCount > 0 && !outInfo)) return paramErr;
  ScrapState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Valid(s, inScrap)) return badScrapRefErr;
  UInt32 n = std::min<UInt32>(*ioCount, static_cast<UInt32>(s.flavors.size()));
  for (UInt32 i = 0; i < n; ++i) outInfo[i] = {s.flavors[i].type, s.flavors[i].flags};
  *ioCount = n;
  return noErr;
}

void UScrap::Reset() { ClearCurrentScrap(); }
