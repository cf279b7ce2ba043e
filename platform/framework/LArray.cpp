#include "platform/framework/LArray.h"

#include <algorithm>
#include <cstring>

#include "platform/base/LException.h"

namespace {
const LComparator kByteComparator;
}

LArray::LArray(UInt32 inItemSize, LComparator* inComparator, bool inKeepSorted)
    : mItemSize(inItemSize), mComparator(inComparator) {
  SetKeepSorted(inKeepSorted);
}

LArray::LArray(const LArray& inOther)
    : mItems(inOther.mItems),
      mItemSize(inOther.mItemSize),
      mComparator(inOther.mComparator ? inOther.mComparator->Clone() : nullptr),
      mKeepSorted(inOther.mKeepSorted) {}

LArray& LArray::operator=(const LArray& inOther) {
  if (this != &inOther) {
    RemoveAllItems();
    mItems = inOther.mItems;
    mItemSize = inOther.mItemSize;
    mComparator.reset(inOther.mComparator ? inOther.mComparator->Clone() : nullptr);
    mKeepSorted = inOther.mKeepSorted;
    mIterators.ItemsInserted(1, GetCount());
  }
  return *this;
}

LArray::~LArray() = default;

UInt32 LArray::GetItemSize(ArrayIndexT inIndex) const {
  return ValidIndex(inIndex) ? static_cast<UInt32>(mItems[static_cast<size_t>(inIndex - 1)].size()) : 0;
}

UInt32 LArray::CheckedSize(UInt32 inItemSize) const {
  if (mItemSize == 0) {
    if (inItemSize > 0x7FFFFFFF) Throw_(paramErr);
    return inItemSize;
  }
  if (inItemSize != 0 && inItemSize != mItemSize) Throw_(paramErr);
  return mItemSize;
}

SInt32 LArray::CompareItems(const Item& inA, const void* inB, UInt32 inSizeB) const {
  const LComparator& cmp = mComparator ? *mComparator : kByteComparator;
  return cmp.Compare(inA.data(), inB, static_cast<UInt32>(inA.size()), inSizeB);
}

ArrayIndexT LArray::FetchInsertIndexOf(const void* inItem, UInt32 inItemSize) const {
  // After the items equal to the new one.
  size_t lo = 0, hi = mItems.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CompareItems(mItems[mid], inItem, inItemSize) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return static_cast<ArrayIndexT>(lo) + 1;
}

ArrayIndexT LArray::AddItem(const void* inItem, UInt32 inItemSize) {
  return InsertItemsAt(1, index_Last, inItem, inItemSize);
}

ArrayIndexT LArray::InsertItemsAt(SInt32 inCount, ArrayIndexT inIndex, const void* inItem, UInt32 inItemSize) {
  UInt32 size = CheckedSize(inItemSize);
  if (inCount <= 0) return index_Bad;
  if (size > 0 && !inItem) Throw_(paramErr);
  Item item(static_cast<const UInt8*>(inItem), static_cast<const UInt8*>(inItem) + size);
  if (mKeepSorted) {
    inIndex = FetchInsertIndexOf(item.data(), size);
  } else {
    if (inIndex < 1) inIndex = 1;
    if (inIndex > GetCount()) inIndex = GetCount() + 1;
  }
  mItems.insert(mItems.begin() + (inIndex - 1), static_cast<size_t>(inCount), item);
  mIterators.ItemsInserted(inIndex, inCount);
  return inIndex;
}

void LArray::RemoveItemsAt(SInt32 inCount, ArrayIndexT inIndex) {
  if (!ValidIndex(inIndex) || inCount <= 0) return;
  SInt32 n = std::min(inCount, GetCount() - inIndex + 1);
  mItems.erase(mItems.begin() + (inIndex - 1), mItems.begin() + (inIndex - 1 + n));
  mIterators.ItemsRemoved(inIndex, n);
}

void LArray::RemoveAllItemsAfter(ArrayIndexT inIndex) {
  if (inIndex < 0) inIndex = 0;
  if (inIndex < GetCount()) RemoveItemsAt(GetCount() - inIndex, inIndex + 1);
}

bool LArray::FetchItemAt(ArrayIndexT inIndex, void* outItem) const {
  if (!ValidIndex(inIndex) || !outItem) return false;
  const Item& item = mItems[static_cast<size_t>(inIndex - 1)];
  if (!item.empty()) std::memcpy(outItem, item.data(), item.size());
  return true;
}

bool LArray::FetchItemAt(ArrayIndexT inIndex, void* outItem, UInt32& ioItemSize) const {
  if (!ValidIndex(inIndex)) return false;
  const Item& item = mItems[static_cast<size_t>(inIndex - 1)];
  size_t n = std::min<size_t>(ioItemSize, item.size());
  if (n > 0 && outItem) std::memcpy(outItem, item.data(), n);
  ioItemSize = static_cast<UInt32>(item.size());
  return true;
}

void LArray::AssignItemsAt(SInt32 inCount, ArrayIndexT inIndex, const void* inItem, UInt32 inItemSize) {
  UInt32 size = CheckedSize(inItemSize);
  if (size > 0 && !inItem) Throw_(paramErr);
  Item item(static_cast<const UInt8*>(inItem), static_cast<const UInt8*>(inItem) + size);
  for (SInt32 i = 0; i < inCount && ValidIndex(inIndex + i); ++i) mItems[static_cast<size_t>(inIndex + i - 1)] = item;
  if (mKeepSorted) Sort();
}

ArrayIndexT LArray::FetchIndexOf(const void* inItem, UInt32 inItemSize) const {
  UInt32 size = CheckedSize(inItemSize);
  const LComparator& cmp = mComparator ? *mComparator : kByteComparator;
  for (size_t i = 0; i < mItems.size(); ++i) {
    const Item& item = mItems[i];
    if (cmp.IsEqualTo(item.data(), inItem, static_cast<UInt32>(item.size()), size)) return static_cast<ArrayIndexT>(i + 1);
  }
  return index_Bad;
}

void* LArray::GetItemPtr(ArrayIndexT inIndex) {
  return ValidIndex(inIndex) ? mItems[static_cast<size_t>(inIndex - 1)].data() : nullptr;
}

const void* LArray::GetItemPtr(ArrayIndexT inIndex) const {
  return ValidIndex(inIndex) ? mItems[static_cast<size_t>(inIndex - 1)].data() : nullptr;
}

void LArray::SwapItems(ArrayIndexT inIndexA, ArrayIndexT inIndexB) {
  if (ValidIndex(inIndexA) && ValidIndex(inIndexB))
    std::swap(mItems[static_cast<size_t>(inIndexA - 1)], mItems[static_cast<size_t>(inIndexB - 1)]);
}

void LArray::SetComparator(LComparator* inComparator) {
  mComparator.reset(inComparator);
  if (mKeepSorted) Sort();
}

void LArray::SetKeepSorted(bool inKeepSorted) {
  mKeepSorted = inKeepSorted;
  if (inKeepSorted) Sort();
}

void LArray::Sort() {
  std::stable_sort(mItems.begin(), mItems.end(), [this](const Item& a, const Item& b) {
    return CompareItems(a, b.data(), static_cast<UInt32>(b.size())) < 0;
  });
}

bool LArrayIterator::Next(void* outItem) {
  ArrayIndexT i = IsAttached() ? StepForward(mArray->GetCount()) : index_Bad;
  return i != index_Bad && mArray->FetchItemAt(i, outItem);
}

bool LArrayIterator::Previous(void* outItem) {
  ArrayIndexT i = IsAttached() ? StepBackward() : index_Bad;
  return i != index_Bad && mArray->FetchItemAt(i, outItem);
}

bool LArrayIterator::Current(void* outItem) const {
  return IsAttached() && GetCurrentIndex() != index_Bad && mArray->FetchItemAt(GetCurrentIndex(), outItem);
}

bool LArrayIterator::Next(void* outItem, UInt32& ioItemSize) {
  ArrayIndexT i = IsAttached() ? StepForward(mArray->GetCount()) : index_Bad;
  return i != index_Bad && mArray->FetchItemAt(i, outItem, ioItemSize);
}

bool LArrayIterator::Previous(void* outItem, UInt32& ioItemSize) {
  ArrayIndexT i = IsAttached() ? StepBackward() : index_Bad;
  return i != index_Bad && mArray->FetchItemAt(i, outItem, ioItemSize);
}
