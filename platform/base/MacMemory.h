// Memory handles: a Handle points to a master pointer that points to the data.
// The size is kept with the master pointer. MemError() reports the last
// memory call's result on the calling thread.
#pragma once

#include "platform/base/MacTypes.h"

Handle NewHandle(SInt32 inSize);
Handle NewHandleClear(SInt32 inSize);
Handle TempNewHandle(SInt32 inSize, OSErr* outErr);
void DisposeHandle(Handle h);
SInt32 GetHandleSize(Handle h);
// Changes the size keeping the contents up to the smaller size. A locked
// handle cannot move: growing it beyond its capacity fails with memFullErr.
void SetHandleSize(Handle h, SInt32 inSize);
void HLock(Handle h);
void HUnlock(Handle h);
void HLockHi(Handle h);
SInt8 HGetState(Handle h);
void HSetState(Handle h, SInt8 inState);
void HPurge(Handle h);
void HNoPurge(Handle h);
void MoveHHi(Handle h);
OSErr HandToHand(Handle* ioHandle);
OSErr PtrToHand(const void* inSource, Handle* outHandle, SInt32 inSize);
OSErr PtrAndHand(const void* inSource, Handle ioHandle, SInt32 inSize);
OSErr HandAndHand(Handle inSource, Handle ioDest);
// Inserts, deletes or replaces bytes within a handle (Munger subset): replaces
// inLength bytes at inOffset with inSize bytes of inSource. Returns the offset after.
SInt32 Munger(Handle h, SInt32 inOffset, const void* inPtr1, SInt32 inLen1, const void* inPtr2, SInt32 inLen2);
bool IsValidHandle(Handle h);

Ptr NewPtr(SInt32 inSize);
Ptr NewPtrClear(SInt32 inSize);
void DisposePtr(Ptr p);
SInt32 GetPtrSize(Ptr p);

void BlockMove(const void* inSource, void* outDest, SInt32 inCount);
void BlockMoveData(const void* inSource, void* outDest, SInt32 inCount);
void BlockZero(void* outDest, SInt32 inCount);

OSErr MemError();

constexpr SInt8 kHandleLockedMask = 0x80;
constexpr SInt8 kHandlePurgeableMask = 0x40;

// Scoped lock of a handle, restoring its previous state.
class StHandleLocker {
 public:
  explicit StHandleLocker(Handle h) : mHandle(h), mState(h ? HGetState(h) : 0) {
    if (h) HLock(h);
  }
  ~StHandleLocker() {
    if (mHandle) HSetState(mHandle, mState);
  }
  StHandleLocker(const StHandleLocker&) = delete;
  StHandleLocker& operator=(const StHandleLocker&) = delete;

 private:
  Handle mHandle;
  SInt8 mState;
};

// Scoped owner of a handle, disposing of it unless released.
class StHandleBlock {
 public:
  explicit StHandleBlock(SInt32 inSize, bool inThrowFail = true);
  explicit StHandleBlock(Handle h = nullptr) : mHandle(h) {}
  ~StHandleBlock() { DisposeHandle(mHandle); }
  StHandleBlock(const StHandleBlock&) = delete;
  StHandleBlock& operator=(const StHandleBlock&) = delete;
  Handle Get() const { return mHandle; }
  Handle Release() {
    Handle h = mHandle;
    mHandle = nullptr;
    return h;
  }
  void Adopt(Handle h) {
    if (h != mHandle) DisposeHandle(mHandle);
    mHandle = h;
  }
  operator Handle() const { return mHandle; }

 private:
  Handle mHandle;
};
