#include "platform/files/Drag.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct DragFlavor {
  FlavorType type;
  FlavorFlags flags;
  std::vector<char> data;
};

struct DragItem {
  DragItemRef ref;
  std::vector<DragFlavor> flavors;
};

struct DragRecord {
  std::vector<DragItem> items;
};

// Drags live in a registry keyed by a number that is never reused, so a stale
// reference finds nothing instead of freed memory.
struct DragRegistry {
  std::mutex lock;
  std::map<uintptr_t, DragRecord> drags;
  uintptr_t next = 1;
};

DragRegistry& Registry() {
  static DragRegistry r;
  return r;
}

DragRecord* FindDrag(DragRegistry& r, DragRef inDrag) {
  auto it = r.drags.find(reinterpret_cast<uintptr_t>(inDrag));
  return it == r.drags.end() ? nullptr : &it->second;
}

DragItem* FindItem(DragRecord& d, DragItemRef inItem) {
  for (DragItem& i : d.items)
    if (i.ref == inItem) return &i;
  return nullptr;
}

DragFlavor* FindFlavor(DragItem& i, FlavorType inType) {
  for (DragFlavor& f : i.flavors)
    if (f.type == inType) return &f;
  return nullptr;
}

// Looks up drag, item and flavor; reports the first one missing.
OSErr Lookup(DragRegistry& r, DragRef inDrag, DragItemRef inItem, FlavorType inType, DragFlavor** outFlavor) {
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  DragItem* i = FindItem(*d, inItem);
  if (!i) return badDragItemErr;
  *outFlavor = FindFlavor(*i, inType);
  return *outFlavor ? noErr : badDragFlavorErr;
}

}  // namespace

OSErr NewDrag(DragRef* outDrag) {
  if (!outDrag) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  uintptr_t id = r.next++;
  r.drags.emplace(id, DragRecord{});
  *outDrag = reinterpret_cast<DragRef>(id);
  return noErr;
}

OSErr DisposeDrag(DragRef inDrag) {
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.drags.erase(reinterpret_cast<uintptr_t>(inDrag)) ? noErr : badDragRefErr;
}

OSErr AddDragItemFlavor(DragRef inDrag, DragItemRef inItem, FlavorType inType, const void* inData, SInt32 inSize,
                        FlavorFlags inFlags) {
  if (inSize < 0 || (inSize > 0 && !inData)) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  DragItem* item = FindItem(*d, inItem);
  if (!item) {
    d->items.push_back(DragItem{inItem, {}});
    item = &d->items.back();
  }
  if (FindFlavor(*item, inType)) return duplicateFlavorErr;
  DragFlavor f{inType, inFlags, {}};
  if (inSize > 0) f.data.assign(static_cast<const char*>(inData), static_cast<const char*>(inData) + inSize);
  item->flavors.push_back(std::move(f));
  return noErr;
}

OSErr CountDragItems(DragRef inDrag, UInt16* outCount) {
  if (!outCount) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  *outCount = static_cast<UInt16>(d->items.size());
  return noErr;
}

OSErr GetDragItemReferenceNumber(DragRef inDrag, UInt16 inIndex, DragItemRef* outItem) {
  if (!outItem) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  if (inIndex < 1 || inIndex > d->items.size()) return badDragItemErr;
  *outItem = d->items[inIndex - 1].ref;
  return noErr;
}

OSErr CountDragItemFlavors(DragRef inDrag, DragItemRef inItem, UInt16* outCount) {
  if (!outCount) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  DragItem* i = FindItem(*d, inItem);
  if (!i) return badDragItemErr;
  *outCount = static_cast<UInt16>(i->flavors.size());
  return noErr;
}

OSErr GetFlavorType(DragRef inDrag, DragItemRef inItem, UInt16 inIndex, FlavorType* outType) {
  if (!outType) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragRecord* d = FindDrag(r, inDrag);
  if (!d) return badDragRefErr;
  DragItem* i = FindItem(*d, inItem);
  if (!i) return badDragItemErr;
  if (inIndex < 1 || inIndex > i->flavors.size()) return badDragFlavorErr;
  *outType = i->flavors[inIndex - 1].type;
  return noErr;
}

OSErr GetFlavorFlags(DragRef inDrag, DragItemRef inItem, FlavorType inType, FlavorFlags* outFlags) {
  if (!outFlags) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragFlavor* f = nullptr;
  OSErr err = Lookup(r, inDrag, inItem, inType, &f);
  if (err == noErr) *outFlags = f->flags;
  return err;
}

OSErr GetFlavorDataSize(DragRef inDrag, DragItemRef inItem, FlavorType inType, SInt32* outSize) {
  if (!outSize) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragFlavor* f = nullptr;
  OSErr err = Lookup(r, inDrag, inItem, inType, &f);
  if (err == noErr) *outSize = static_cast<SInt32>(f->data.size());
  return err;
}

OSErr GetFlavorData(DragRef inDrag, DragItemRef inItem, FlavorType inType, void* outData, SInt32* ioSize,
                    UInt32 inOffset) {
  if (!ioSize || *ioSize < 0 || (*ioSize > 0 && !outData)) return paramErr;
  DragRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  DragFlavor* f = nullptr;
  OSErr err = Lookup(r, inDrag, inItem, inType, &f);
  if (err != noErr) return err;
  size_t size = f->data.size();
  size_t start = std::min<size_t>(inOffset, size);
  SInt32 n = static_cast<SInt32>(std::min<size_t>(static_cast<size_t>(*ioSize), size - start));
  if (n > 0) std::memcpy(outData, f->data.data() + start, static_cast<size_t>(n));
  *ioSize = n;
  return noErr;
}
