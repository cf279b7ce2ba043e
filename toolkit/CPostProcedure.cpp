#include "toolkit/CPostProcedure.h"

#include <cstdlib>
#include <cstring>

#include "platform/base/LException.h"
#include "toolkit/StDrawContextState.h"

namespace {
constexpr EventTimerInterval kPostDelay = 0.001;
}

CPostProcedure::CPostProcedure() : LTimerTask(0.0) {}

CPostProcedure::~CPostProcedure() {
  if (mDeletedFlag) *mDeletedFlag = true;
  for (const PostProcData& entry : mQueue) std::free(entry.mData);
  mQueue.RemoveAllItems();
}

OSStatus CPostProcedure::PostProcedure(SInt32 inProcID, const void* inData, SInt32 inSize) {
  PostProcData entry{inProcID, nullptr, inSize};
  if (inData && inSize > 0) {
    entry.mData = std::malloc(static_cast<size_t>(inSize));
    ThrowIfNil_(entry.mData);
    std::memcpy(entry.mData, inData, static_cast<size_t>(inSize));
  } else if (inSize < 0) {
    Throw_(paramErr);
  }
  try {
    mQueue.AddItem(entry);
  } catch (...) {
    std::free(entry.mData);
    Throw_('nilP');
  }
  return SetNextFireTime(kPostDelay);
}

SInt32 CPostProcedure::RemoveProcedure(SInt32 inProcID) {
  for (ArrayIndexT i = 1; i <= mQueue.GetCount(); ++i) {
    if (mQueue[i].mProcID == inProcID) {
      void* data = mQueue[i].mData;
      mQueue.RemoveItemsAt(1, i);
      std::free(data);
      return 0;
    }
  }
  return -1;
}

void CPostProcedure::DoTask() {
  if (mDeletedFlag) return;  // a walk is under way further up the stack
  bool deleted = false;
  mDeletedFlag = &deleted;
  StDrawContextState savedState;
  while (mQueue.GetCount() > 0) {
    const PostProcData entry = mQueue[1];
    mQueue.RemoveItemsAt(1, 1);
    try {
      ExecuteProcedure(entry.mProcID, entry.mData, entry.mSize);
    } catch (...) {
      // A failing procedure must not keep the others from running.
      LogCurrentException("procedures", "ExecuteProcedure");
    }
    std::free(entry.mData);
    if (deleted) return;  // the procedure deleted this object
  }
  mDeletedFlag = nullptr;
  SetNextFireTime(kEventDurationForever);  // posts during the walk armed it; nothing is left
}
