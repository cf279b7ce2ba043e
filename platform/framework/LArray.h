// Untyped 1-based arrays: LArray holds items of one fixed size, LVariableArray
// items of any size. Items are copied in and out as bytes. Both may have a
// comparator (owned) and be kept sorted; LArrayIterator stays valid under
// insertion and removal (see UArrayIteration.h).
#pragma once

#include <memory>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/framework/LComparator.h"
#include "platform/framework/UArrayIteration.h"

class LArrayIterator;

class LArray {
 public:
  // inItemSize 0 makes an array of items of any size (as LVariableArray).
  explicit LArray(UInt32 inItemSize = sizeof(SInt32), LComparator* inComparator = nullptr, bool inKeepSorted = false);
  LArray(const LArray& inOther);
  LArray& operator=(const LArray& inOther);
  virtual ~LArray();

  SInt32 GetCount() const { return static_cast<SInt32>(mItems.size()); }
  bool ValidIndex(ArrayIndexT inIndex) const { return inIndex >= 1 && inIndex <= GetCount(); }
  // The fixed item size (0 for an array of items of any size).
  UInt32 GetItemSize() const { return mItemSize; }
  // The size of one item; 0 for an invalid index.
  UInt32 GetItemSize(ArrayIndexT inIndex) const;

  // inItemSize 0 means the array's item size. A size other than the fixed
  // item size throws paramErr. Returns the new item's index.
  ArrayIndexT AddItem(const void* inItem, UInt32 inItemSize = 0);
  ArrayIndexT InsertItemsAt(SInt32 inCount, ArrayIndexT inIndex, const void* inItem, UInt32 inItemSize = 0);
  void RemoveItemsAt(SInt32 inCount, ArrayIndexT inIndex);
  void RemoveAllItemsAfter(ArrayIndexT inIndex);
  void RemoveAllItems() { RemoveItemsAt(GetCount(), 1); }
  // Copies the whole item into outItem (make it large enough: GetItemSize).
  bool FetchItemAt(ArrayIndexT inIndex, void* outItem) const;
  // Copies at most ioItemSize bytes; ioItemSize becomes the item's size.
  bool FetchItemAt(ArrayIndexT inIndex, void* outItem, UInt32& ioItemSize) const;
  void AssignItemsAt(SInt32 inCount, ArrayIndexT inIndex, const void* inItem, UInt32 inItemSize = 0);
  ArrayIndexT FetchIndexOf(const void* inItem, UInt32 inItemSize = 0) const;
  void Remove(const void* inItem, UInt32 inItemSize = 0) { RemoveItemsAt(1, FetchIndexOf(inItem, inItemSize)); }
  // The item's bytes, valid until the array changes; nil for an invalid index.
  void* GetItemPtr(ArrayIndexT inIndex);
  const void* GetItemPtr(ArrayIndexT inIndex) const;
  void SwapItems(ArrayIndexT inIndexA, ArrayIndexT inIndexB);

  void SetComparator(LComparator* inComparator);
  LComparator* GetComparator() const { return mComparator.get(); }
  void SetKeepSorted(bool inKeepSorted);
  bool IsKeptSorted() const { return mKeepSorted; }
  void Sort();

  void Lock() { ++mLockCount; }
  void Unlock() {
    if (mLockCount > 0) --mLockCount;
  }
  bool IsLocked() const { return mLockCount > 0; }

 protected:
  friend class LArrayIterator;
  typedef std::vector<UInt8> Item;

  UInt32 CheckedSize(UInt32 inItemSize) const;
  SInt32 CompareItems(const Item& inA, const void* inB, UInt32 inSizeB) const;
  ArrayIndexT FetchInsertIndexOf(const void* inItem, UInt32 inItemSize) const;

  std::vector<Item> mItems;
  UInt32 mItemSize;
  std::unique_ptr<LComparator> mComparator;
  bool mKeepSorted = false;
  SInt32 mLockCount = 0;
  UArrayIteratorList mIterators;
};

class LVariableArray : public LArray {
 public:
  explicit LVariableArray(LComparator* inComparator = nullptr, bool inKeepSorted = false)
      : LArray(0, inComparator, inKeepSorted) {}
};

class LArrayIterator : public LArrayIteratorBase {
 public:
  explicit LArrayIterator(LArray& inArray, ArrayIndexT inPosition = from_Start)
      : LArrayIteratorBase(&inArray.mIterators, inArray.GetCount(), inPosition), mArray(&inArray) {}

  bool Next(void* outItem);
  bool Previous(void* outItem);
  bool Current(void* outItem) const;
  // As FetchItemAt with a size: copies at most ioItemSize bytes.
  bool Next(void* outItem, UInt32& ioItemSize);
  bool Previous(void* outItem, UInt32& ioItemSize);

 protected:
  SInt32 CountItems() const override { return mArray->GetCount(); }

 private:
  LArray* mArray;
};
