#include "platform/base/MacMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/base/LException.h"

namespace {

thread_local OSErr tMemError = noErr;

// The master pointer comes first so that a Handle (pointer to it) also points to the block.
struct MasterBlock {
  Ptr master;
  SInt32 size;
  SInt32 capacity;
  SInt8 state;
  UInt32 magic;
};
constexpr UInt32 kMagic = 0x48646C21;  // 'Hdl!'
constexpr UInt32 kDeadMagic = 0xDEADBEEF;

MasterBlock* BlockOf(Handle h) {
  if (!h) return nullptr;
  auto* b = reinterpret_cast<MasterBlock*>(h);
  return b->magic == kMagic ? b : nullptr;
}

// Pointers carry their size in a header just before the data.
struct PtrHeader {
  SInt64 size;
  UInt64 magic;
};
constexpr UInt64 kPtrMagic = 0x5074722150747221ull;

Handle MakeHandle(SInt32 inSize, bool inClear) {
  if (inSize < 0) {
    tMemError = paramErr;
    return nullptr;
  }
  auto* b = static_cast<MasterBlock*>(std::malloc(sizeof(MasterBlock)));
  if (!b) {
    tMemError = memFullErr;
    return nullptr;
  }
  SInt32 cap = inSize > 0 ? inSize : 1;
  b->master = static_cast<Ptr>(inClear ? std::calloc(1, static_cast<size_t>(cap)) : std::malloc(static_cast<size_t>(cap)));
  if (!b->master) {
    std::free(b);
    tMemError = memFullErr;
    return nullptr;
  }
  b->size = inSize;
  b->capacity = cap;
  b->state = 0;
  b->magic = kMagic;
  tMemError = noErr;
  return &b->master;
}

}  // namespace

Handle NewHandle(SInt32 inSize) { return MakeHandle(inSize, false); }
Handle NewHandleClear(SInt32 inSize) { return MakeHandle(inSize, true); }

Handle TempNewHandle(SInt32 inSize, OSErr* outErr) {
  Handle h = MakeHandle(inSize, false);
  if (outErr) *outErr = tMemError;
  return h;
}

void DisposeHandle(Handle h) {
  MasterBlock* b = BlockOf(h);
  if (!b) {
    tMemError = h ? nilHandleErr : noErr;
    return;
  }
  std::free(b->master);
  b->magic = kDeadMagic;
  std::free(b);
  tMemError = noErr;
}

bool IsValidHandle(Handle h) { return BlockOf(h) != nullptr; }

SInt32 GetHandleSize(Handle h) {
  MasterBlock* b = BlockOf(h);
  if (!b) {
    tMemError = nilHandleErr;
    return 0;
  }
  tMemError = noErr;
  return b->size;
}

void SetHandleSize(Handle h, SInt32 inSize) {
  MasterBlock* b = BlockOf(h);
  if (!b) {
    tMemError = nilHandleErr;
    return;
  }
  if (inSize < 0) {
    tMemError = paramErr;
    return;
  }
  if (inSize <= b->capacity) {
    b->size = inSize;
    tMemError = noErr;
    return;
  }
  if (b->state & kHandleLockedMask) {
    tMemError = memFullErr;
    return;
  }
  // Grow geometrically so that repeated appends stay linear.
  SInt64 want = std::max<SInt64>(inSize, std::min<SInt64>(static_cast<SInt64>(b->capacity) * 3 / 2, 0x7FFFFFFF));
  Ptr p = static_cast<Ptr>(std::realloc(b->master, static_cast<size_t>(want)));
  if (!p) {
    p = static_cast<Ptr>(std::realloc(b->master, static_cast<size_t>(inSize)));
    want = inSize;
  }
  if (!p) {
    tMemError = memFullErr;
    return;
  }
  b->master = p;
  b->capacity = static_cast<SInt32>(want);
  b->size = inSize;
  tMemError = noErr;
}

void HLock(Handle h) {
  if (MasterBlock* b = BlockOf(h)) b->state = static_cast<SInt8>(b->state | kHandleLockedMask);
  tMemError = h ? noErr : nilHandleErr;
}
void HUnlock(Handle h) {
  if (MasterBlock* b = BlockOf(h)) b->state = static_cast<SInt8>(b->state & ~kHandleLockedMask);
  tMemError = h ? noErr : nilHandleErr;
}
void HLockHi(Handle h) { HLock(h); }
SInt8 HGetState(Handle h) {
  MasterBlock* b = BlockOf(h);
  tMemError = b ? noErr : nilHandleErr;
  return b ? b->state : 0;
}
void HSetState(Handle h, SInt8 inState) {
  if (MasterBlock* b = BlockOf(h)) b->state = inState;
  tMemError = h ? noErr : nilHandleErr;
}
void HPurge(Handle h) {
  if (MasterBlock* b = BlockOf(h)) b->state = static_cast<SInt8>(b->state | kHandlePurgeableMask);
}
void HNoPurge(Handle h) {
  if (MasterBlock* b = BlockOf(h)) b->state = static_cast<SInt8>(b->state & ~kHandlePurgeableMask);
}
void MoveHHi(Handle) { tMemError = noErr; }

OSErr HandToHand(Handle* ioHandle) {
  if (!ioHandle || !BlockOf(*ioHandle)) return tMemError = nilHandleErr;
  SInt32 size = GetHandleSize(*ioHandle);
  Handle copy = NewHandle(size);
  if (!copy) return tMemError;
  if (size) std::memcpy(*copy, **ioHandle, static_cast<size_t>(size));
  *ioHandle = copy;
  return tMemError = noErr;
}

OSErr PtrToHand(const void* inSource, Handle* outHandle, SInt32 inSize) {
  if (!outHandle) return tMemError = paramErr;
  *outHandle = nullptr;
  Handle h = NewHandle(inSize);
  if (!h) return tMemError;
  if (inSize > 0 && inSource) std::memcpy(*h, inSource, static_cast<size_t>(inSize));
  *outHandle = h;
  return tMemError = noErr;
}

OSErr PtrAndHand(const void* inSource, Handle ioHandle, SInt32 inSize) {
  if (!BlockOf(ioHandle)) return tMemError = nilHandleErr;
  if (inSize < 0) return tMemError = paramErr;
  SInt32 old = GetHandleSize(ioHandle);
  if (static_cast<SInt64>(old) + inSize > 0x7FFFFFFF) return tMemError = memFullErr;
  SetHandleSize(ioHandle, old + inSize);
  if (tMemError != noErr) return tMemError;
  if (inSize > 0 && inSource) std::memmove(*ioHandle + old, inSource, static_cast<size_t>(inSize));
  return tMemError = noErr;
}

OSErr HandAndHand(Handle inSource, Handle ioDest) {
  if (!BlockOf(inSource)) return tMemError = nilHandleErr;
  return PtrAndHand(*inSource, ioDest, GetHandleSize(inSource));
}

SInt32 Munger(Handle h, SInt32 inOffset, const void* inPtr1, SInt32 inLen1, const void* inPtr2, SInt32 inLen2) {
  // Subset: inPtr1 == nullptr means "replace inLen1 bytes at inOffset with inPtr2/inLen2".
  MasterBlock* b = BlockOf(h);
  if (!b || inOffset < 0 || inOffset > b->size || inLen2 < 0) {
    tMemError = b ? paramErr : nilHandleErr;
    return -1;
  }
  if (inPtr1 != nullptr) {
    // Search for the pattern from inOffset.
    const char* base = *h;
    SInt32 found = -1;
    for (SInt32 i = inOffset; i + inLen1 <= b->size; ++i) {
      if (std::memcmp(base + i, inPtr1, static_cast<size_t>(inLen1)) == 0) {
        found = i;
        break;
      }
    }
    if (found < 0) return -1;
    inOffset = found;
  }
  SInt32 len1 = std::min(inLen1 < 0 ? 0 : inLen1, b->size - inOffset);
  SInt32 oldSize = b->size;
  SInt32 newSize = oldSize - len1 + inLen2;
  if (newSize > oldSize) {
    SetHandleSize(h, newSize);
    if (tMemError) return -1;
  }
  char* base = *h;
  std::memmove(base + inOffset + inLen2, base + inOffset + len1, static_cast<size_t>(oldSize - inOffset - len1));
  if (inLen2 && inPtr2) std::memcpy(base + inOffset, inPtr2, static_cast<size_t>(inLen2));
  if (newSize < oldSize) SetHandleSize(h, newSize);
  tMemError = noErr;
  return inOffset + inLen2;
}

Ptr NewPtr(SInt32 inSize) {
  if (inSize < 0) {
    tMemError = paramErr;
    return nullptr;
  }
  auto* hdr = static_cast<PtrHeader*>(std::malloc(sizeof(PtrHeader) + static_cast<size_t>(inSize > 0 ? inSize : 1)));
  if (!hdr) {
    tMemError = memFullErr;
    return nullptr;
  }
  hdr->size = inSize;
  hdr->magic = kPtrMagic;
  tMemError = noErr;
  return reinterpret_cast<Ptr>(hdr + 1);
}

Ptr NewPtrClear(SInt32 inSize) {
  Ptr p = NewPtr(inSize);
  if (p && inSize > 0) std::memset(p, 0, static_cast<size_t>(inSize));
  return p;
}

void DisposePtr(Ptr p) {
  if (!p) return;
  auto* hdr = reinterpret_cast<PtrHeader*>(p) - 1;
  if (hdr->magic != kPtrMagic) {
    tMemError = paramErr;
    return;
  }
  hdr->magic = 0;
  std::free(hdr);
  tMemError = noErr;
}

SInt32 GetPtrSize(Ptr p) {
  if (!p) return 0;
  auto* hdr = reinterpret_cast<PtrHeader*>(p) - 1;
  return hdr->magic == kPtrMagic ? static_cast<SInt32>(hdr->size) : 0;
}

void BlockMove(const void* inSource, void* outDest, SInt32 inCount) {
  if (inCount > 0 && inSource && outDest) std::memmove(outDest, inSource, static_cast<size_t>(inCount));
}
void BlockMoveData(const void* inSource, void* outDest, SInt32 inCount) { BlockMove(inSource, outDest, inCount); }
void BlockZero(void* outDest, SInt32 inCount) {
  if (inCount > 0 && outDest) std::memset(outDest, 0, static_cast<size_t>(inCount));
}

OSErr MemError() { return tMemError; }

StHandleBlock::StHandleBlock(SInt32 inSize, bool inThrowFail) : mHandle(NewHandle(inSize)) {
  if (inThrowFail && !mHandle) Throw_(MemError() ? MemError() : memFullErr);
}
