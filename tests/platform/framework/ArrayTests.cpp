#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/LException.h"
#include "platform/framework/LArray.h"
#include "platform/framework/TArray.h"

namespace {

struct Rec {
  SInt32 time;
  SInt32 tag;
};

// Orders records by time only, as the motion records are.
class RecComparator : public LComparator {
 public:
  SInt32 Compare(const void* a, const void* b, UInt32, UInt32) const override {
    return static_cast<const Rec*>(a)->time - static_cast<const Rec*>(b)->time;
  }
  LComparator* Clone() const override { return new RecComparator; }
};

template <class T>
std::vector<T> Items(const TArray<T>& a) {
  return std::vector<T>(a.begin(), a.end());
}

}  // namespace

TEST(TArrayTest, KeptSortedInsertsAfterEqualItemsAndFindsFirst) {
  TArray<Rec> a(new RecComparator, true);
  a.AddItem({30, 1});
  a.AddItem({10, 2});
  a.AddItem({20, 3});
  a.AddItem({10, 4});
  EXPECT_EQ(a.InsertItemsAt(1, 1, Rec{25, 5}), 4);  // the index is ignored when sorted
  std::vector<SInt32> tags;
  for (const Rec& r : a) tags.push_back(r.tag);
  EXPECT_EQ(tags, (std::vector<SInt32>{2, 4, 3, 5, 1}));
  EXPECT_EQ(a.FetchIndexOf(Rec{10, 99}), 1);  // equal by the comparator: the first
  EXPECT_EQ(a.FetchIndexOf(Rec{20, 0}), 3);
  EXPECT_EQ(a.FetchIndexOf(Rec{15, 0}), index_Bad);

  // Switching sorting off keeps appends in order; switching it on sorts stably.
  a.SetKeepSorted(false);
  a.AddItem({5, 6});
  a.AddItem({20, 7});
  EXPECT_EQ(a[a.GetCount()].tag, 7);
  a.SetKeepSorted(true);
  tags.clear();
  for (const Rec& r : a) tags.push_back(r.tag);
  EXPECT_EQ(tags, (std::vector<SInt32>{6, 2, 4, 3, 7, 5, 1}));

  // Copies clone the comparator and keep sorting.
  TArray<Rec> b(a);
  b.AddItem({0, 8});
  EXPECT_EQ(b[1].tag, 8);
  EXPECT_EQ(a.GetCount(), 7);
}

TEST(TArrayTest, InsertRemoveAndFetchAreOneBased) {
  TArray<SInt32> a;
  EXPECT_EQ(a.InsertItemsAt(0, 1, 5), index_Bad);
  a.AddItem(1);
  a.AddItem(4);
  EXPECT_EQ(a.InsertItemsAt(2, 2, 9), 2);
  EXPECT_EQ(a.InsertItemsAt(1, index_Last, 7), 5);
  EXPECT_EQ(a.InsertItemsAt(1, -3, 0), 1);
  EXPECT_EQ(Items(a), (std::vector<SInt32>{0, 1, 9, 9, 4, 7}));
  a.RemoveItemsAt(10, 5);  // clipped at the end
  EXPECT_EQ(Items(a), (std::vector<SInt32>{0, 1, 9, 9}));
  a.RemoveItemsAt(1, 0);  // invalid index: nothing
  a.RemoveItemsAt(1, 5);
  EXPECT_EQ(a.GetCount(), 4);
  SInt32 v = -1;
  EXPECT_FALSE(a.FetchItemAt(0, v));
  EXPECT_FALSE(a.FetchItemAt(5, v));
  EXPECT_TRUE(a.FetchItemAt(3, v));
  EXPECT_EQ(v, 9);
  EXPECT_EQ(a.FetchIndexOf(9), 3);
  a.Remove(9);
  EXPECT_EQ(Items(a), (std::vector<SInt32>{0, 1, 9}));
  a.RemoveAllItemsAfter(1);
  EXPECT_EQ(Items(a), (std::vector<SInt32>{0}));

  TArray<std::string> s;  // items with their own operators
  s.AddItem("b");
  s.AddItem("a");
  s.SetKeepSorted(true);
  s.AddItem("ab");
  EXPECT_EQ(Items(s), (std::vector<std::string>{"a", "ab", "b"}));
  EXPECT_EQ(s.FetchIndexOf("b"), 3);
}

TEST(TArrayTest, IteratorSurvivesRemovalAndInsertionDuringIteration) {
  TArray<SInt32> a;
  for (SInt32 i = 1; i <= 6; ++i) a.AddItem(i);
  std::vector<SInt32> seen;
  TArrayIterator<SInt32> it(a);
  SInt32 v;
  while (it.Next(v)) {
    seen.push_back(v);
    if (v % 2 == 0) a.Remove(v);       // the current item
    if (v == 3) a.RemoveItemsAt(1, 1);  // an item already visited
    if (v == 5) a.AddItem(7);           // appended: still visited
    if (v == 1) a.InsertItemsAt(1, 1, 0);  // before the cursor: not visited
  }
  EXPECT_EQ(seen, (std::vector<SInt32>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Items(a), (std::vector<SInt32>{1, 3, 5, 7}));

  // Backwards, removing the current item and the one after it.
  TArrayIterator<SInt32> back(a, LArrayIteratorBase::from_End);
  seen.clear();
  while (back.Previous(v)) {
    seen.push_back(v);
    if (v == 5) a.RemoveItemsAt(2, back.GetCurrentIndex());
  }
  EXPECT_EQ(seen, (std::vector<SInt32>{7, 5, 3, 1}));
  EXPECT_EQ(Items(a), (std::vector<SInt32>{1, 3}));

  // Removing every item ends the walk; the current item is then gone.
  TArrayIterator<SInt32> all(a);
  EXPECT_TRUE(all.Next(v));
  a.RemoveAllItems();
  EXPECT_FALSE(all.Current(v));
  EXPECT_FALSE(all.Next(v));
}

TEST(TArrayTest, IteratorOutlivingItsArrayFindsNothing) {
  auto* a = new TArray<SInt32>;
  a->AddItem(1);
  TArrayIterator<SInt32> it(*a);
  delete a;
  SInt32 v;
  EXPECT_FALSE(it.Next(v));
  EXPECT_FALSE(it.Previous(v));
}

TEST(LArrayTest, FixedSizeItemsWithLongComparator) {
  LArray times(sizeof(SInt32), new LLongComparator, true);
  for (SInt32 t : {600, -5, 0, 1200, 300}) times.AddItem(&t);
  std::vector<SInt32> got;
  LArrayIterator it(times);
  SInt32 t;
  while (it.Next(&t)) got.push_back(t);
  EXPECT_EQ(got, (std::vector<SInt32>{-5, 0, 300, 600, 1200}));
  SInt32 key = 300;
  EXPECT_EQ(times.FetchIndexOf(&key), 3);
  SInt16 wrong = 1;
  EXPECT_THROW(times.AddItem(&wrong, sizeof wrong), LException);
  EXPECT_EQ(times.GetItemSize(1), sizeof(SInt32));
  EXPECT_EQ(times.GetItemSize(9), 0u);

  // Unsorted pointers, removed by value.
  LArray docs(sizeof(void*));
  int x, y;
  void* px = &x;
  void* py = &y;
  docs.AddItem(&px);
  docs.AddItem(&py);
  docs.Remove(&px);
  void* out = nullptr;
  ASSERT_TRUE(docs.FetchItemAt(1, &out));
  EXPECT_EQ(out, py);
}

TEST(LArrayTest, VariableItemsKeepTheirSizes) {
  LVariableArray blocks;
  blocks.AddItem("hello", 5);
  blocks.AddItem("", 0);
  blocks.AddItem("abcdefghij", 10);
  EXPECT_EQ(blocks.GetItemSize(1), 5u);
  EXPECT_EQ(blocks.GetItemSize(2), 0u);
  char buf[4] = {};
  UInt32 size = sizeof buf;
  ASSERT_TRUE(blocks.FetchItemAt(3, buf, size));
  EXPECT_EQ(size, 10u);  // the item's size; only 4 bytes copied
  EXPECT_EQ(std::memcmp(buf, "abcd", 4), 0);
  blocks.AssignItemsAt(1, 1, "xy", 2);
  EXPECT_EQ(blocks.GetItemSize(1), 2u);
  EXPECT_EQ(blocks.FetchIndexOf("abcdefghij", 10), 3);
  EXPECT_EQ(blocks.FetchIndexOf("abcdefghi", 9), index_Bad);

  LVariableArray copy(blocks);
  blocks.RemoveItemsAt(1, 1);
  EXPECT_EQ(copy.GetCount(), 3);
  EXPECT_EQ(std::memcmp(copy.GetItemPtr(1), "xy", 2), 0);

  LArrayIterator it(copy, 2);
  size = sizeof buf;
  ASSERT_TRUE(it.Next(buf, size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(it.GetCurrentIndex(), 2);
}
