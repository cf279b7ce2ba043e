// Iteration over the 1-based arrays that stays valid while items are inserted
// or removed: every array knows its live iterators and moves them along.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"

typedef SInt32 ArrayIndexT;
constexpr ArrayIndexT index_Bad = 0;
constexpr ArrayIndexT index_First = 1;
constexpr ArrayIndexT index_Last = 0x7FFFFFFF;

class LArrayIteratorBase;

// The live iterators of one array. Copying an array copies no iterators.
class UArrayIteratorList {
 public:
  UArrayIteratorList() = default;
  UArrayIteratorList(const UArrayIteratorList&) {}
  UArrayIteratorList& operator=(const UArrayIteratorList&) { return *this; }
  // Detaches the iterators still attached: they then find no more items.
  ~UArrayIteratorList();

  void Attach(LArrayIteratorBase* inIterator) { mIterators.push_back(inIterator); }
  void Detach(LArrayIteratorBase* inIterator);
  void ItemsInserted(ArrayIndexT inIndex, SInt32 inCount);
  void ItemsRemoved(ArrayIndexT inIndex, SInt32 inCount);

 private:
  std::vector<LArrayIteratorBase*> mIterators;
};

// The position of an iterator: a cursor between items. Next() returns the item
// after the cursor, Previous() the one before it. Items inserted before the
// cursor are not visited by Next(); removing the current item leaves the
// cursor where the following item now is.
class LArrayIteratorBase {
 public:
  static constexpr ArrayIndexT from_Start = 0;
  static constexpr ArrayIndexT from_End = index_Last;

  LArrayIteratorBase(const LArrayIteratorBase&) = delete;
  LArrayIteratorBase& operator=(const LArrayIteratorBase&) = delete;

  // The index of the item last returned (index_Bad when it was removed or none was).
  ArrayIndexT GetCurrentIndex() const { return mCurrent; }
  // Moves the cursor so that Next() returns the item at inPosition;
  // from_Start: the first item, from_End: Previous() returns the last.
  void ResetTo(ArrayIndexT inPosition);

 protected:
  LArrayIteratorBase(UArrayIteratorList* inList, SInt32 inCount, ArrayIndexT inPosition);
  ~LArrayIteratorBase();

  // The index Next()/Previous() should return (moving the cursor), or index_Bad.
  ArrayIndexT StepForward(SInt32 inCount);
  ArrayIndexT StepBackward();
  bool IsAttached() const { return mList != nullptr; }

  virtual SInt32 CountItems() const = 0;

 private:
  friend class UArrayIteratorList;
  void Inserted(ArrayIndexT inIndex, SInt32 inCount);
  void Removed(ArrayIndexT inIndex, SInt32 inCount);

  UArrayIteratorList* mList;
  SInt32 mCursor = 0;  // items 1..mCursor lie before the cursor
  ArrayIndexT mCurrent = index_Bad;
};
