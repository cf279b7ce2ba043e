#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "media/CUserData.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Drag.h"
#include "platform/files/Resources.h"
#include "platform/files/Scrap.h"
#include "platform/files/TempFolder.h"
#include "platform/framework/LHandleStream.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

std::string ItemText(CUserData& inBag, OSType inType) {
  SInt32 size = 0;
  inBag.GetDataSize(inType, size);
  std::string s(static_cast<size_t>(size), '\0');
  inBag.GetData(inType, s.data(), size);
  return s;
}

void Add(CUserData& ioBag, OSType inType, const std::string& inText) {
  ASSERT_EQ(ioBag.AddData(inType, inText.data(), static_cast<SInt32>(inText.size())), noErr);
}

}  // namespace

TEST(UserData, ReplacingAnItemMovesItLastAndKeepsOneCopy) {
  CUserData bag;
  Add(bag, 'abcd', "first");
  Add(bag, 'efgh', "other");
  Add(bag, 'abcd', "second");
  ASSERT_EQ(bag.GetDataTypeCount(), 2);
  EXPECT_EQ(bag.GetDataTypeAt(1), OSType('efgh'));
  EXPECT_EQ(bag.GetDataTypeAt(2), OSType('abcd'));
  EXPECT_EQ(ItemText(bag, 'abcd'), "second");
}

TEST(UserData, RemovingTheMiddleTypeKeepsOrder) {
  CUserData bag;
  Add(bag, 'aaaa', "1");
  Add(bag, 'bbbb', "2");
  Add(bag, 'cccc', "3");
  EXPECT_EQ(bag.RemoveData('bbbb'), noErr);
  EXPECT_EQ(bag.RemoveData('zzzz'), noErr);
  ASSERT_EQ(bag.GetDataTypeCount(), 2);
  EXPECT_EQ(bag.GetDataTypeAt(1), OSType('aaaa'));
  EXPECT_EQ(bag.GetDataTypeAt(2), OSType('cccc'));
  EXPECT_EQ(ItemText(bag, 'cccc'), "3");
}

TEST(UserData, GetDataWithABufferClampsToTheSmallerSize) {
  CUserData bag;
  Add(bag, 'ten ', "0123456789");
  Add(bag, 'thre', "abc");
  char buf[16] = {};
  SInt32 size = 4;
  EXPECT_EQ(bag.GetData('ten ', buf, size), noErr);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(std::string(buf, 5), std::string("0123\0", 5));

  std::memset(buf, 0, sizeof buf);
  size = 4;
  EXPECT_EQ(bag.GetData('thre', buf, size), noErr);
  EXPECT_EQ(size, 3);
  EXPECT_STREQ(buf, "abc");

  size = 4;
  EXPECT_EQ(bag.GetData('none', buf, size), noErr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(bag.GetDataSize('none', size), -1);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(bag.GetData('ten ', buf, size = -1), paramErr);
}

TEST(UserData, HandlesInAndOut) {
  CUserData bag;
  Handle h = nullptr;
  ASSERT_EQ(PtrToHand("handle", &h, 6), noErr);
  EXPECT_EQ(bag.AddData('hndl', h), noErr);
  DisposeHandle(h);
  EXPECT_EQ(bag.AddData('nil ', static_cast<Handle>(nullptr)), ErrorCodeToOSErr(err_NilPointer));

  Handle out = nullptr;
  ASSERT_EQ(bag.GetData('hndl', out), noErr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(GetHandleSize(out), 6);
  EXPECT_EQ(std::memcmp(*out, "handle", 6), 0);
  DisposeHandle(out);

  Add(bag, 'empt', "");
  out = reinterpret_cast<Handle>(&bag);  // must be reset on failure
  EXPECT_EQ(bag.GetData('empt', out), ErrorCodeToOSErr(err_NilPointer));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(bag.GetData('none', out), ErrorCodeToOSErr(err_NilPointer));
}

TEST(UserData, TextsAndPictures) {
  CUserData bag;
  Str255 text = {};
  text[0] = 5;
  std::memcpy(text + 1, "Hello", 5);
  EXPECT_EQ(bag.AddText(text, 'TEXT'), noErr);
  EXPECT_EQ(ItemText(bag, 'TEXT'), "Hello");

  Str255 back = {};
  EXPECT_EQ(bag.GetText(back, 'TEXT'), noErr);
  EXPECT_EQ(back[0], 5);
  EXPECT_EQ(std::memcmp(back + 1, "Hello", 5), 0);
  EXPECT_EQ(bag.GetText(back, 'none'), noErr);
  EXPECT_EQ(back[0], 0);

  // A long item is cut at 255 characters.
  std::string longText(400, 'x');
  Add(bag, 'long', longText);
  EXPECT_EQ(bag.GetText(back, 'long'), noErr);
  EXPECT_EQ(back[0], 255);

  EXPECT_EQ(bag.GetPict(), nullptr);
  Handle pict = nullptr;
  ASSERT_EQ(PtrToHand("\x00\x0a\x00\x00\x00\x00\x00\x10\x00\x10", &pict, 10), noErr);
  EXPECT_EQ(bag.AddPict(reinterpret_cast<Picture**>(pict)), noErr);
  DisposeHandle(pict);
  Picture** back2 = bag.GetPict();
  ASSERT_NE(back2, nullptr);
  EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(back2)), 10);
  DisposeHandle(reinterpret_cast<Handle>(back2));
}

TEST(UserData, CopiesAreIndependent) {
  CUserData bag;
  Add(bag, 'aaaa', "one");
  CUserData copy(bag);
  Add(copy, 'aaaa', "two");
  Add(copy, 'bbbb', "three");
  EXPECT_EQ(ItemText(bag, 'aaaa'), "one");
  EXPECT_EQ(bag.GetDataTypeCount(), 1);
  EXPECT_EQ(copy.GetDataTypeCount(), 2);
}

TEST(UserData, ScrapReceivesEveryItemInOrder) {
  UScrap::Reset();
  CUserData bag;
  Add(bag, 'TEXT', "words");
  Add(bag, 'Trbx', "settings");
  ASSERT_EQ(bag.PutOnScrap(true), noErr);

  ScrapRef scrap = nullptr;
  ASSERT_EQ(GetCurrentScrap(&scrap), noErr);
  UInt32 count = 4;
  ScrapFlavorInfo info[4];
  ASSERT_EQ(GetScrapFlavorInfoList(scrap, &count, info), noErr);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(info[0].flavorType, OSType('TEXT'));
  EXPECT_EQ(info[1].flavorType, OSType('Trbx'));
  char buf[16] = {};
  SInt32 size = sizeof buf;
  ASSERT_EQ(GetScrapFlavorData(scrap, 'Trbx', &size, buf), noErr);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(size)), "settings");

  // Putting again without clearing is refused for the types already there;
  // clearing first replaces the clipboard, and the old reference stops working.
  EXPECT_EQ(bag.PutOnScrap(false), duplicateScrapFlavorErr);
  ASSERT_EQ(bag.PutOnScrap(true), noErr);
  EXPECT_EQ(GetScrapFlavorCount(scrap, &count), badScrapRefErr);
  UScrap::Reset();
}

TEST(UserData, DragItemGetsSenderOnlyFlavors) {
  DragRef drag = nullptr;
  ASSERT_EQ(NewDrag(&drag), noErr);
  CUserData bag;
  Add(bag, 'one ', "1");
  Add(bag, 'two ', "22");
  ASSERT_EQ(bag.AddDataToDrag(drag, 7), noErr);
  UInt16 count = 0;
  ASSERT_EQ(CountDragItemFlavors(drag, 7, &count), noErr);
  EXPECT_EQ(count, 2);
  FlavorType type = 0;
  ASSERT_EQ(GetFlavorType(drag, 7, 2, &type), noErr);
  EXPECT_EQ(type, OSType('two '));
  FlavorFlags flags = 0;
  ASSERT_EQ(GetFlavorFlags(drag, 7, 'one ', &flags), noErr);
  EXPECT_EQ(flags, flavorSenderOnly);
  char buf[4] = {};
  SInt32 size = sizeof buf;
  ASSERT_EQ(GetFlavorData(drag, 7, 'two ', buf, &size, 0), noErr);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(size)), "22");
  ASSERT_EQ(DisposeDrag(drag), noErr);
  // A disposed drag is refused rather than followed.
  EXPECT_EQ(bag.AddDataToDrag(drag, 7), badDragRefErr);
}

namespace {

std::string Bytes(Handle h) { return std::string(*h, static_cast<size_t>(GetHandleSize(h))); }

}  // namespace

TEST(UserDataStream, RoundTripIsByteExact) {
  CUserData bag;
  Add(bag, 'abcd', "xyz");
  Add(bag, 'Trbx', std::string("\0\1", 2));
  LTagWriter writer;
  ASSERT_EQ(bag.WriteToStream(writer), noErr);
  const std::string expected = std::string("abcd\0\0\0\3xyz", 11) + std::string("Trbx\0\0\0\2\0\1", 10) +
                               std::string(">>>>\0\0\0\0", 8);
  EXPECT_EQ(Bytes(writer.GetHandle()), expected);

  Handle copy = writer.GetHandle();
  ASSERT_EQ(HandToHand(&copy), noErr);
  LTagReader reader(copy, true);
  CUserData back(reader);
  ASSERT_EQ(back.GetDataTypeCount(), 2);
  EXPECT_EQ(back.GetDataTypeAt(1), OSType('abcd'));
  EXPECT_EQ(ItemText(back, 'Trbx'), std::string("\0\1", 2));
}

TEST(UserDataStream, EmptyBagZeroLengthRecordsAndDamage) {
  CUserData empty;
  LTagWriter writer;
  ASSERT_EQ(empty.WriteToStream(writer), noErr);
  EXPECT_EQ(Bytes(writer.GetHandle()), std::string(">>>>\0\0\0\0", 8));

  // A zero-length record is skipped; a record claiming more data than there
  // is ends the reading without allocating for it; what came before stays.
  std::string data = std::string("zero\0\0\0\0", 8) + std::string("good\0\0\0\2ok", 10) +
                     std::string("huge\x7f\xff\xff\xf0" "abc", 11);
  Handle h = nullptr;
  ASSERT_EQ(PtrToHand(data.data(), &h, static_cast<SInt32>(data.size())), noErr);
  LTagReader reader(h, true);
  CUserData bag(reader);
  ASSERT_EQ(bag.GetDataTypeCount(), 1);
  EXPECT_EQ(ItemText(bag, 'good'), "ok");
}

TEST(UserDataResources, WrittenToAFileAndReadBack) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("bag.rsrc");
  FSpCreateResFile(&spec, 'Trbx', 'rsrc', 0);
  ASSERT_EQ(ResError(), noErr);
  SInt16 before = CurResFile();
  SInt16 ref = FSpOpenResFile(&spec, fsRdWrPerm);
  ASSERT_GT(ref, 0);
  UseResFile(before);

  CUserData bag;
  Add(bag, 'TEXT', "words");
  Add(bag, 'Trbx', "settings");
  ASSERT_EQ(bag.WriteToResource(ref), noErr);
  EXPECT_EQ(CurResFile(), before);  // the caller's file is current again
  Add(bag, 'TEXT', "newer");
  ASSERT_EQ(bag.WriteToResource(ref), noErr);  // replaces, never duplicates
  CloseResFile(ref);

  ref = FSpOpenResFile(&spec, fsRdPerm);
  ASSERT_GT(ref, 0);
  EXPECT_EQ(Count1Resources('TEXT'), 1);
  Handle h = Get1Resource('TEXT', 128);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Bytes(h), "newer");
  CUserData back;
  ASSERT_EQ(back.ReadFromResource(ref), noErr);
  ASSERT_EQ(back.GetDataTypeCount(), 2);
  EXPECT_EQ(ItemText(back, 'Trbx'), "settings");
  EXPECT_EQ(ItemText(back, 'TEXT'), "newer");
  CloseResFile(ref);
  EXPECT_NE(back.ReadFromResource(ref), noErr);  // a closed file is refused
}

TEST(UserDataStream, RandomBytesNeverCrashOrHang) {
  std::mt19937 rng(8128);
  for (int round = 0; round < 3000; ++round) {
    std::string data(rng() % 64, '\0');
    for (char& c : data) c = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
    Handle h = nullptr;
    ASSERT_EQ(PtrToHand(data.data(), &h, static_cast<SInt32>(data.size())), noErr);
    LTagReader reader(h, true);
    CUserData bag(reader);
    SInt32 total = 0;
    for (SInt32 i = 1; i <= bag.GetDataTypeCount(); ++i) {
      SInt32 size = 0;
      bag.GetDataSize(bag.GetDataTypeAt(i), size);
      total += size;
    }
    EXPECT_LE(total, static_cast<SInt32>(data.size()));
  }
}
