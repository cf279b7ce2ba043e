#include "platform/framework/UArrayIteration.h"

#include <algorithm>

UArrayIteratorList::~UArrayIteratorList() {
  for (LArrayIteratorBase* it : mIterators) it->mList = nullptr;
}

void UArrayIteratorList::Detach(LArrayIteratorBase* inIterator) {
  auto pos = std::find(mIterators.begin(), mIterators.end(), inIterator);
  if (pos != mIterators.end()) mIterators.erase(pos);
}

void UArrayIteratorList::ItemsInserted(ArrayIndexT inIndex, SInt32 inCount) {
  for (LArrayIteratorBase* it : mIterators) it->Inserted(inIndex, inCount);
}

void UArrayIteratorList::ItemsRemoved(ArrayIndexT inIndex, SInt32 inCount) {
  for (LArrayIteratorBase* it : mIterators) it->Removed(inIndex, inCount);
}

LArrayIteratorBase::LArrayIteratorBase(UArrayIteratorList* inList, SInt32 inCount, ArrayIndexT inPosition)
    : mList(inList) {
  if (mList) mList->Attach(this);
  mCursor = inPosition == from_End ? inCount : std::clamp<SInt32>(inPosition - 1, 0, inCount);
}

LArrayIteratorBase::~LArrayIteratorBase() {
  if (mList) mList->Detach(this);
}

void LArrayIteratorBase::ResetTo(ArrayIndexT inPosition) {
  SInt32 count = mList ? CountItems() : 0;
  mCursor = inPosition == from_End ? count : std::clamp<SInt32>(inPosition - 1, 0, count);
  mCurrent = index_Bad;
}

ArrayIndexT LArrayIteratorBase::StepForward(SInt32 inCount) {
  if (!mList || mCursor >= inCount) return index_Bad;
  mCurrent = ++mCursor;
  return mCurrent;
}

ArrayIndexT LArrayIteratorBase::StepBackward() {
  if (!mList || mCursor <= 0) return index_Bad;
  mCurrent = mCursor--;
  return mCurrent;
}

void LArrayIteratorBase::Inserted(ArrayIndexT inIndex, SInt32 inCount) {
  if (inCount <= 0) return;
  if (inIndex <= mCursor) mCursor += inCount;
  if (mCurrent != index_Bad && inIndex <= mCurrent) mCurrent += inCount;
}

void LArrayIteratorBase::Removed(ArrayIndexT inIndex, SInt32 inCount) {
  if (inCount <= 0) return;
  ArrayIndexT last = inIndex + inCount - 1;
  if (mCursor >= last) {
    mCursor -= inCount;
  } else if (mCursor >= inIndex) {
    mCursor = inIndex - 1;
  }
  if (mCurrent != index_Bad) {
    if (mCurrent > last) {
      mCurrent -= inCount;
    } else if (mCurrent >= inIndex) {
      mCurrent = index_Bad;
    }
  }
}
