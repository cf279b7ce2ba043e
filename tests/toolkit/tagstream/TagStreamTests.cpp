#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/framework/LDataStream.h"
#include "platform/framework/LHandleStream.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

std::vector<UInt8> Bytes(Handle h) { return h ? std::vector<UInt8>(*h, *h + GetHandleSize(h)) : std::vector<UInt8>(); }

Handle MakeHandle(const std::vector<UInt8>& inBytes) {
  Handle h = NewHandle(static_cast<SInt32>(inBytes.size()));
  if (!inBytes.empty()) std::memcpy(*h, inBytes.data(), inBytes.size());
  return h;
}

void PutBE32(std::vector<UInt8>& ioBytes, UInt32 inValue) {
  for (int i = 3; i >= 0; --i) ioBytes.push_back(static_cast<UInt8>(inValue >> (8 * i)));
}

}  // namespace

TEST(TagStream, WritesTheDocumentedTwentyBytes) {
  LTagWriter w;
  EXPECT_EQ(w.WriteSInt32('abcd', 1), noErr);
  EXPECT_EQ(w.WriteNextTag('>>>>', 0, nullptr), noErr);
  std::vector<UInt8> expect = {0x61, 0x62, 0x63, 0x64, 0, 0, 0, 4, 0, 0, 0, 1, 0x3E, 0x3E, 0x3E, 0x3E, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(w.GetHandle()), expect);
}

TEST(TagStream, TypedRecordsRoundTripBigEndian) {
  Handle h = NewHandle(0);
  {
    LTagWriter w(h, false);
    EXPECT_EQ(w.WriteUInt16('u16 ', 0xBEEF), noErr);
    EXPECT_EQ(w.WriteSInt16('s16 ', -2), noErr);
    EXPECT_EQ(w.WriteUInt32('u32 ', 0x80000001u), noErr);
    EXPECT_EQ(w.WriteSInt32('s32 ', -7), noErr);
    EXPECT_EQ(w.WriteFloat('flt ', 0.25f), noErr);
    EXPECT_EQ(w.WriteNextTag('blob', 3, "xyz"), noErr);
    EXPECT_EQ(w.WriteNextTag('>>>>', 0, nullptr), noErr);
  }
  // The writer left the caller's handle alone.
  ASSERT_TRUE(IsValidHandle(h));
  std::vector<UInt8> bytes = Bytes(h);
  ASSERT_EQ(bytes.size(), 10u + 10 + 12 + 12 + 12 + 11 + 8);
  EXPECT_EQ(std::vector<UInt8>(bytes.begin() + 8, bytes.begin() + 10), (std::vector<UInt8>{0xBE, 0xEF}));
  EXPECT_EQ(std::vector<UInt8>(bytes.begin() + 52, bytes.begin() + 56), (std::vector<UInt8>{0x3E, 0x80, 0, 0}));

  LTagReader r(h, true);
  UInt32 tag, length;
  UInt16 u16 = 0;
  SInt16 s16 = 0;
  UInt32 u32 = 0;
  SInt32 s32 = 0;
  float f = 0;
  char blob[3];
  int records = 0;
  while (r.ReadNextTag(tag, length)) {
    ++records;
    switch (tag) {
      case 'u16 ': r.ReadUInt16(u16); break;
      case 's16 ': r.ReadSInt16(s16); break;
      case 'u32 ': r.ReadUInt32(u32); break;
      case 's32 ': r.ReadSInt32(s32); break;
      case 'flt ': r.ReadFloat(f); break;
      case 'blob':
        EXPECT_EQ(length, 3u);
        r.ReadData(blob, 3);
        break;
    }
  }
  EXPECT_EQ(records, 6);
  EXPECT_EQ(u16, 0xBEEF);
  EXPECT_EQ(s16, -2);
  EXPECT_EQ(u32, 0x80000001u);
  EXPECT_EQ(s32, -7);
  EXPECT_EQ(f, 0.25f);
  EXPECT_EQ(std::memcmp(blob, "xyz", 3), 0);
}

TEST(TagStream, EmptyAndEndOnlyStreams) {
  LTagReader empty;
  UInt32 tag = 0, length = 0;
  EXPECT_FALSE(empty.ReadNextTag(tag, length));
  EXPECT_EQ(empty.GetTagPosition(), 0u);

  LHandleStream s;
  LTagWriter w(&s);
  w.WriteNextTag('>>>>', 0, nullptr);
  s.SetMarker(0, streamFrom_Start);
  LTagReader r(&s);
  EXPECT_FALSE(r.ReadNextTag(tag, length));
  EXPECT_EQ(tag, static_cast<UInt32>('>>>>'));
  EXPECT_EQ(r.GetTagPosition(), 8u);
}

TEST(TagStream, UnknownTagsAreSkipped) {
  LHandleStream s;
  {
    LTagWriter w(&s);
    w.WriteNextTag('xxxx', 3, "abc");
    w.WriteSInt16('IntM', 3);  // a reader may still read it as 32 bits...
    w.WriteNextTag('>>>>', 0, nullptr);
  }
  s.SetMarker(0, streamFrom_Start);
  LTagReader r(&s);
  UInt32 tag, length;
  ASSERT_TRUE(r.ReadNextTag(tag, length));
  EXPECT_EQ(tag, static_cast<UInt32>('xxxx'));
  r.IgnoreTag();
  ASSERT_TRUE(r.ReadNextTag(tag, length));
  EXPECT_EQ(tag, static_cast<UInt32>('IntM'));
  EXPECT_EQ(length, 2u);
  SInt16 mode = 0;
  r.ReadSInt16(mode);
  EXPECT_EQ(mode, 3);
  EXPECT_FALSE(r.ReadNextTag(tag, length));

  // And with a 4-byte record, without IgnoreTag.
  LHandleStream s2;
  {
    LTagWriter w(&s2);
    w.WriteNextTag('xxxx', 3, "abc");
    w.WriteSInt32('IntM', 0x01020304);
    w.WriteNextTag('>>>>', 0, nullptr);
  }
  s2.SetMarker(0, streamFrom_Start);
  LTagReader r2(&s2);
  SInt32 v = 0;
  while (r2.ReadNextTag(tag, length))
    if (tag == 'IntM') r2.ReadSInt32(v);
  EXPECT_EQ(v, 0x01020304);
}

TEST(TagStream, TwoSectionsInOneStreamAndCallerStreamContinues) {
  LHandleStream s;
  s << UInt8(7);  // a command byte before the records
  {
    LTagWriter w(&s);
    EXPECT_EQ(w.GetTagPosition(), 1u);
    w.WriteSInt32('one ', 1);
    w.WriteNextTag('>>>>', 0, nullptr);
    w.WriteSInt32('two ', 2);
    w.WriteSInt32('thr ', 3);
    w.WriteNextTag('>>>>', 0, nullptr);
  }
  EXPECT_EQ(s.GetLength(), 1 + 12 + 8 + 24 + 8);
  s.SetMarker(1, streamFrom_Start);
  UInt32 tag, length;
  std::vector<UInt32> first, second;
  {
    LTagReader r(&s);
    while (r.ReadNextTag(tag, length)) first.push_back(tag);
    while (r.ReadNextTag(tag, length)) second.push_back(tag);
    EXPECT_FALSE(r.ReadNextTag(tag, length));  // the end of the data
  }
  EXPECT_EQ(first, (std::vector<UInt32>{'one '}));
  EXPECT_EQ(second, (std::vector<UInt32>{'two ', 'thr '}));
  EXPECT_TRUE(s.AtEnd());  // the reader left the marker behind what it read

  // A reader that stops after the first section leaves the stream there.
  s.SetMarker(1, streamFrom_Start);
  {
    LTagReader r(&s);
    while (r.ReadNextTag(tag, length)) {
    }
  }
  EXPECT_EQ(s.GetMarker(), 1 + 12 + 8);
}

TEST(TagStream, WriterStartsAtTheGivenPosition) {
  LHandleStream s;
  s << UInt8(3);
  s.SetMarker(0, streamFrom_Start);
  LTagWriter w(&s);
  w.SetTagPosition(1);
  w.WriteNextTag('>>>>', 0, nullptr);
  std::vector<UInt8> expect = {3, 0x3E, 0x3E, 0x3E, 0x3E, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(s.GetDataHandle()), expect);

  // A position beyond the end lands at the end.
  w.SetTagPosition(1000);
  w.WriteSInt16('pos ', 1);
  EXPECT_EQ(s.GetLength(), 9 + 10);
}

TEST(TagStream, RecordRunningPastTheEndIsReturnedThenReadingStops) {
  std::vector<UInt8> bytes;
  PutBE32(bytes, 'long');
  PutBE32(bytes, 100);
  bytes.insert(bytes.end(), {1, 2, 3});
  LTagReader r(MakeHandle(bytes), true);
  UInt32 tag, length;
  ASSERT_TRUE(r.ReadNextTag(tag, length));
  EXPECT_EQ(tag, static_cast<UInt32>('long'));
  EXPECT_EQ(length, 100u);
  SInt32 v;
  EXPECT_THROW(r.ReadSInt32(v), LException);  // only 3 bytes of data
  EXPECT_FALSE(r.ReadNextTag(tag, length));
  EXPECT_FALSE(r.ReadNextTag(tag, length));
}

TEST(TagStream, LengthThatWouldWrapThePositionDoesNotLoop) {
  // Second record's length brings 32-bit position arithmetic back to 0.
  std::vector<UInt8> bytes;
  PutBE32(bytes, 'aaaa');
  PutBE32(bytes, 0);
  PutBE32(bytes, 'bbbb');
  PutBE32(bytes, 0xFFFFFFF0u);  // 16 + 0xFFFFFFF0 == 0 in 32 bits
  LTagReader r(MakeHandle(bytes), true);
  UInt32 tag, length;
  int n = 0;
  while (r.ReadNextTag(tag, length) && n < 100) {
    ++n;
    EXPECT_LE(r.GetTagPosition(), bytes.size());
  }
  EXPECT_EQ(n, 2);
}

TEST(TagStream, WriterErrorsAreReturnedNotThrown) {
  char buf[10];
  LDataStream s(buf, sizeof buf);
  LTagWriter w(&s);
  EXPECT_EQ(w.WriteSInt16('fits', 1), noErr);
  EXPECT_EQ(w.WriteSInt16('full', 2), ioErr);

  const char ro[16] = {};
  LDataStream readOnly(static_cast<const void*>(ro), sizeof ro);
  LTagWriter w2(&readOnly);
  EXPECT_EQ(w2.WriteSInt32('nope', 1), wrPermErr);

  // A huge reserved length saturates rather than wrapping back over records.
  LHandleStream h;
  LTagWriter w3(&h);
  w3.WriteSInt16('keep', 5);
  w3.SetTagPosition(0xFFFFFFF0u);
  EXPECT_EQ(w3.WriteNextTag('huge', 0xFFFFFFFFu, nullptr), noErr);
  EXPECT_EQ(w3.GetTagPosition(), 0xFFFFFFFFu);
  w3.WriteSInt16('next', 6);
  std::vector<UInt8> bytes = Bytes(h.GetDataHandle());
  ASSERT_EQ(bytes.size(), 10u + 8 + 10);
  EXPECT_EQ(std::memcmp(bytes.data(), "keep", 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 18, "next", 4), 0);
}

TEST(TagStream, HandleOwnershipFollowsTheFlag) {
  Handle kept = NewHandle(0);
  { LTagReader r(kept, false); }
  EXPECT_TRUE(IsValidHandle(kept));
  { LTagWriter w(kept, true); }  // disposed of with the writer
  // A writer given no handle makes one and does not leak it.
  {
    LTagWriter w(nullptr, false);
    EXPECT_EQ(w.WriteSInt16('abcd', 1), noErr);
    EXPECT_NE(w.GetHandle(), nullptr);
  }
}

TEST(TagStream, FuzzedInputNeverCrashesOrLoops) {
  std::mt19937 rng(20261208);
  // Random bytes, random lengths, and truncations of a valid stream.
  LTagWriter valid;
  for (int i = 0; i < 20; ++i) valid.WriteSInt32('v000' + i, i);
  valid.WriteNextTag('>>>>', 0, nullptr);
  valid.WriteNextTag('blob', 5, "12345");
  valid.WriteNextTag('>>>>', 0, nullptr);
  std::vector<UInt8> good = Bytes(valid.GetHandle());

  for (int iter = 0; iter < 3000; ++iter) {
    std::vector<UInt8> bytes;
    if (iter % 3 == 0) {
      bytes.assign(good.begin(), good.begin() + static_cast<long>(rng() % (good.size() + 1)));
    } else {
      bytes.resize(rng() % 96);
      for (UInt8& b : bytes) b = static_cast<UInt8>(rng());
      // Plant plausible headers with extreme lengths.
      for (size_t at = 4; at + 4 <= bytes.size(); at += 8 + (rng() % 8)) {
        static const UInt32 kLengths[] = {0, 1, 4, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFF8u, 0xFFFFFFFFu};
        UInt32 len = kLengths[rng() % 7];
        for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<UInt8>(len >> (24 - 8 * k));
      }
    }
    LTagReader r(MakeHandle(bytes), true);
    UInt32 tag, length, last = 0;
    int steps = 0;
    for (int section = 0; section < 3; ++section) {
      while (r.ReadNextTag(tag, length)) {
        ASSERT_GT(r.GetTagPosition(), last);  // strictly forward
        ASSERT_LE(r.GetTagPosition(), bytes.size());
        last = r.GetTagPosition();
        try {
          SInt32 v;
          if (rng() % 2) r.ReadSInt32(v);
        } catch (const LException&) {
        }
        ASSERT_LT(++steps, 100);
      }
    }
  }
}
