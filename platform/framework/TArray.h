// The framework's typed array: 1-based indices, items copied by value.
//
// An array may have a comparator (which it owns) and be kept sorted: items
// added or inserted then go to their sorted place (after equal items), and
// turning keeping sorted on sorts the items (stably). Without a comparator,
// items compare with their own operators (< and ==), or byte by byte for plain
// records without them. TArrayIterator stays valid when items are inserted or
// removed during the iteration, and when the array itself goes away.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/framework/LComparator.h"
#include "platform/framework/UArrayIteration.h"

template <class T>
class TArrayIterator;

template <class T>
class TArray {
 public:
  TArray() = default;
  // Takes ownership of the comparator.
  explicit TArray(LComparator* inComparator, bool inKeepSorted = false) : mComparator(inComparator) {
    SetKeepSorted(inKeepSorted);
  }
  TArray(const TArray& inOther)
      : mItems(inOther.mItems),
        mComparator(inOther.mComparator ? inOther.mComparator->Clone() : nullptr),
        mKeepSorted(inOther.mKeepSorted) {}
  TArray& operator=(const TArray& inOther) {
    if (this != &inOther) {
      RemoveAllItems();
      mItems = inOther.mItems;
      mComparator.reset(inOther.mComparator ? inOther.mComparator->Clone() : nullptr);
      mKeepSorted = inOther.mKeepSorted;
      mIterators.ItemsInserted(1, GetCount());
    }
    return *this;
  }
  virtual ~TArray() = default;

  SInt32 GetCount() const { return static_cast<SInt32>(mItems.size()); }
  bool ValidIndex(ArrayIndexT inIndex) const { return inIndex >= 1 && inIndex <= GetCount(); }

  // Appends (or, when kept sorted, inserts at the sorted place); returns the new item's index.
  ArrayIndexT AddItem(const T& inItem) {
    return InsertItemsAt(1, mKeepSorted ? index_Last : GetCount() + 1, inItem);
  }
  // Inserts inCount copies at inIndex (index_Last or past the end appends;
  // a kept-sorted array ignores the index). Returns the first new index.
  ArrayIndexT InsertItemsAt(SInt32 inCount, ArrayIndexT inIndex, const T& inItem) {
    if (inCount <= 0) return index_Bad;
    if (mKeepSorted) {
      inIndex = FetchInsertIndexOf(inItem);
    } else {
      if (inIndex < 1) inIndex = 1;
      if (inIndex > GetCount()) inIndex = GetCount() + 1;
    }
    mItems.insert(mItems.begin() + (inIndex - 1), static_cast<size_t>(inCount), inItem);
    mIterators.ItemsInserted(inIndex, inCount);
    return inIndex;
  }
  void RemoveItemsAt(SInt32 inCount, ArrayIndexT inIndex) {
    if (!ValidIndex(inIndex) || inCount <= 0) return;
    SInt32 n = std::min(inCount, GetCount() - inIndex + 1);
    mItems.erase(mItems.begin() + (inIndex - 1), mItems.begin() + (inIndex - 1 + n));
    mIterators.ItemsRemoved(inIndex, n);
  }
  void RemoveAllItemsAfter(ArrayIndexT inIndex) {
    if (inIndex < 0) inIndex = 0;
    if (inIndex < GetCount()) RemoveItemsAt(GetCount() - inIndex, inIndex + 1);
  }
  void RemoveAllItems() { RemoveItemsAt(GetCount(), 1); }
  bool FetchItemAt(ArrayIndexT inIndex, T& outItem) const {
    if (!ValidIndex(inIndex)) return false;
    outItem = mItems[static_cast<size_t>(inIndex - 1)];
    return true;
  }
  // Replaces items; a kept-sorted array then sorts itself again.
  void AssignItemsAt(SInt32 inCount, ArrayIndexT inIndex, const T& inItem) {
    for (SInt32 i = 0; i < inCount && ValidIndex(inIndex + i); ++i) mItems[static_cast<size_t>(inIndex + i - 1)] = inItem;
    if (mKeepSorted) Sort();
  }
  // The index of the first item equal to inItem, or index_Bad.
  ArrayIndexT FetchIndexOf(const T& inItem) const {
    if (mKeepSorted) {
      for (ArrayIndexT i = FetchLowerIndexOf(inItem); i <= GetCount(); ++i) {
        const T& item = mItems[static_cast<size_t>(i - 1)];
        if (CompareItems(item, inItem) != 0) break;
        if (ItemsEqual(item, inItem)) return i;
      }
      return index_Bad;
    }
    for (size_t i = 0; i < mItems.size(); ++i)
      if (ItemsEqual(mItems[i], inItem)) return static_cast<ArrayIndexT>(i + 1);
    return index_Bad;
  }
  void Remove(const T& inItem) { RemoveItemsAt(1, FetchIndexOf(inItem)); }

  // Swaps two items (nothing for invalid indices).
  void SwapItems(ArrayIndexT inIndexA, ArrayIndexT inIndexB) {
    if (ValidIndex(inIndexA) && ValidIndex(inIndexB))
      std::swap(mItems[static_cast<size_t>(inIndexA - 1)], mItems[static_cast<size_t>(inIndexB - 1)]);
  }

  // Comparator and order.
  void SetComparator(LComparator* inComparator) {
    mComparator.reset(inComparator);
    if (mKeepSorted) Sort();
  }
  LComparator* GetComparator() const { return mComparator.get(); }
  void SetKeepSorted(bool inKeepSorted) {
    mKeepSorted = inKeepSorted;
    if (inKeepSorted) Sort();
  }
  bool IsKeptSorted() const { return mKeepSorted; }
  // Stable sort by the comparator (or the items' own order).
  void Sort() {
    std::stable_sort(mItems.begin(), mItems.end(), [this](const T& a, const T& b) { return CompareItems(a, b) < 0; });
  }

  // 1-based element access.
  T& operator[](ArrayIndexT inIndex) { return mItems[static_cast<size_t>(inIndex - 1)]; }
  const T& operator[](ArrayIndexT inIndex) const { return mItems[static_cast<size_t>(inIndex - 1)]; }

  // Locking keeps item addresses stable while they are handed out.
  void Lock() { ++mLockCount; }
  void Unlock() {
    if (mLockCount > 0) --mLockCount;
  }
  bool IsLocked() const { return mLockCount > 0; }

  T* GetItemPtr(ArrayIndexT inIndex) { return ValidIndex(inIndex) ? &mItems[static_cast<size_t>(inIndex - 1)] : nullptr; }
  T* data() { return mItems.data(); }
  const T* data() const { return mItems.data(); }
  typename std::vector<T>::iterator begin() { return mItems.begin(); }
  typename std::vector<T>::iterator end() { return mItems.end(); }
  typename std::vector<T>::const_iterator begin() const { return mItems.begin(); }
  typename std::vector<T>::const_iterator end() const { return mItems.end(); }

 protected:
  friend class TArrayIterator<T>;

  SInt32 CompareItems(const T& a, const T& b) const {
    if (mComparator) return mComparator->Compare(&a, &b, sizeof(T), sizeof(T));
    if constexpr (std::totally_ordered<T>) {
      return a < b ? -1 : (b < a ? 1 : 0);
    } else {
      static_assert(std::is_trivially_copyable_v<T>, "give the array a comparator");
      return LComparator().Compare(&a, &b, sizeof(T), sizeof(T));
    }
  }
  bool ItemsEqual(const T& a, const T& b) const {
    if (mComparator) return mComparator->IsEqualTo(&a, &b, sizeof(T), sizeof(T));
    if constexpr (std::equality_comparable<T>) {
      return a == b;
    } else {
      static_assert(std::is_trivially_copyable_v<T>, "give the array a comparator");
      return std::memcmp(&a, &b, sizeof(T)) == 0;
    }
  }
  // The first index whose item does not sort before inItem (count + 1 when none).
  ArrayIndexT FetchLowerIndexOf(const T& inItem) const {
    auto pos = std::lower_bound(mItems.begin(), mItems.end(), inItem,
                                [this](const T& a, const T& b) { return CompareItems(a, b) < 0; });
    return static_cast<ArrayIndexT>(pos - mItems.begin()) + 1;
  }
  // Where a kept-sorted array puts a new item: after the items equal to it.
  ArrayIndexT FetchInsertIndexOf(const T& inItem) const {
    auto pos = std::upper_bound(mItems.begin(), mItems.end(), inItem,
                                [this](const T& a, const T& b) { return CompareItems(a, b) < 0; });
    return static_cast<ArrayIndexT>(pos - mItems.begin()) + 1;
  }

  std::vector<T> mItems;
  SInt32 mLockCount = 0;
  std::unique_ptr<LComparator> mComparator;
  bool mKeepSorted = false;
  UArrayIteratorList mIterators;
};

// Walks a TArray forward (Next) or backward (Previous); see UArrayIteration.h.
template <class T>
class TArrayIterator : public LArrayIteratorBase {
 public:
  explicit TArrayIterator(TArray<T>& inArray, ArrayIndexT inPosition = from_Start)
      : LArrayIteratorBase(&inArray.mIterators, inArray.GetCount(), inPosition), mArray(&inArray) {}

  bool Next(T& outItem) {
    ArrayIndexT i = IsAttached() ? StepForward(mArray->GetCount()) : index_Bad;
    return i != index_Bad && mArray->FetchItemAt(i, outItem);
  }
  bool Previous(T& outItem) {
    ArrayIndexT i = IsAttached() ? StepBackward() : index_Bad;
    return i != index_Bad && mArray->FetchItemAt(i, outItem);
  }
  // The item last returned, when it is still there.
  bool Current(T& outItem) const {
    return IsAttached() && GetCurrentIndex() != index_Bad && mArray->FetchItemAt(GetCurrentIndex(), outItem);
  }

 protected:
  SInt32 CountItems() const override { return mArray->GetCount(); }

 private:
  TArray<T>* mArray;
};
