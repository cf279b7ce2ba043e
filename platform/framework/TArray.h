// The framework's typed array: 1-based indices, items copied by value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/base/MacTypes.h"

typedef SInt32 ArrayIndexT;
constexpr ArrayIndexT index_Bad = 0;
constexpr ArrayIndexT index_First = 1;
constexpr ArrayIndexT index_Last = 0x7FFFFFFF;

template <class T>
class TArray {
 public:
  TArray() = default;
  virtual ~TArray() = default;

  SInt32 GetCount() const { return static_cast<SInt32>(mItems.size()); }
  bool ValidIndex(ArrayIndexT inIndex) const { return inIndex >= 1 && inIndex <= GetCount(); }

  // Appends; returns the new item's index.
  ArrayIndexT AddItem(const T& inItem) {
    mItems.push_back(inItem);
    return GetCount();
  }
  // Inserts inCount copies at inIndex (index_Last or past the end appends).
  ArrayIndexT InsertItemsAt(SInt32 inCount, ArrayIndexT inIndex, const T& inItem) {
    if (inCount <= 0) return index_Bad;
    if (inIndex < 1) inIndex = 1;
    if (inIndex > GetCount()) inIndex = GetCount() + 1;
    mItems.insert(mItems.begin() + (inIndex - 1), static_cast<size_t>(inCount), inItem);
    return inIndex;
  }
  void RemoveItemsAt(SInt32 inCount, ArrayIndexT inIndex) {
    if (!ValidIndex(inIndex) || inCount <= 0) return;
    SInt32 n = std::min(inCount, GetCount() - inIndex + 1);
    mItems.erase(mItems.begin() + (inIndex - 1), mItems.begin() + (inIndex - 1 + n));
  }
  void RemoveAllItemsAfter(ArrayIndexT inIndex) {
    if (inIndex < 0) inIndex = 0;
    if (inIndex < GetCount()) mItems.resize(static_cast<size_t>(inIndex));
  }
  void RemoveAllItems() { mItems.clear(); }
  bool FetchItemAt(ArrayIndexT inIndex, T& outItem) const {
    if (!ValidIndex(inIndex)) return false;
    outItem = mItems[static_cast<size_t>(inIndex - 1)];
    return true;
  }
  void AssignItemsAt(SInt32 inCount, ArrayIndexT inIndex, const T& inItem) {
    for (SInt32 i = 0; i < inCount && ValidIndex(inIndex + i); ++i) mItems[static_cast<size_t>(inIndex + i - 1)] = inItem;
  }
  ArrayIndexT FetchIndexOf(const T& inItem) const {
    for (size_t i = 0; i < mItems.size(); ++i)
      if (mItems[i] == inItem) return static_cast<ArrayIndexT>(i + 1);
    return index_Bad;
  }
  void Remove(const T& inItem) { RemoveItemsAt(1, FetchIndexOf(inItem)); }

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
  std::vector<T> mItems;
  SInt32 mLockCount = 0;
};
