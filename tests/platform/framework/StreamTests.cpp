#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/framework/LDataStream.h"
#include "platform/framework/LFileStream.h"
#include "platform/framework/LHandleStream.h"

namespace {

std::vector<UInt8> Bytes(LHandleStream& s) {
  Handle h = s.GetDataHandle();
  return h ? std::vector<UInt8>(*h, *h + GetHandleSize(h)) : std::vector<UInt8>();
}

OSErr CodeOf(auto&& inCall) {
  try {
    inCall();
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

}  // namespace

TEST(Streams, NumbersAreStoredBigEndianAndReadBack) {
  LHandleStream s;
  s << SInt8(-2) << UInt8(0xAB) << true << SInt16(-2) << UInt16(0x1234) << SInt32(-3) << UInt32(0xDEADBEEF)
    << SInt64(-4) << UInt64(0x0102030405060708ull) << 1.5f << -2.25;
  std::vector<UInt8> expect = {0xFE, 0xAB, 0x01, 0xFF, 0xFE, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFD, 0xDE, 0xAD, 0xBE, 0xEF,
                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 1,    2,    3,    4,    5,    6,    7,
                               8,    0x3F, 0xC0, 0x00, 0x00, 0xC0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(s), expect);
  EXPECT_EQ(s.GetLength(), static_cast<SInt32>(expect.size()));
  EXPECT_TRUE(s.AtEnd());

  s.SetMarker(0, streamFrom_Start);
  SInt8 a;
  UInt8 b;
  bool c;
  SInt16 d;
  UInt16 e;
  SInt32 f;
  UInt32 g;
  SInt64 h;
  UInt64 i;
  float j;
  double k;
  s >> a >> b >> c >> d >> e >> f >> g >> h >> i >> j >> k;
  EXPECT_EQ(a, -2);
  EXPECT_EQ(b, 0xAB);
  EXPECT_TRUE(c);
  EXPECT_EQ(d, -2);
  EXPECT_EQ(e, 0x1234);
  EXPECT_EQ(f, -3);
  EXPECT_EQ(g, 0xDEADBEEFu);
  EXPECT_EQ(h, -4);
  EXPECT_EQ(i, 0x0102030405060708ull);
  EXPECT_EQ(j, 1.5f);
  EXPECT_EQ(k, -2.25);
  EXPECT_TRUE(s.AtEnd());
}

TEST(Streams, StringsAndHandlesRoundTrip) {
  LHandleStream s;
  const unsigned char pstr[] = "\x05hello";
  s << pstr;
  s.WriteCString("abc");
  Handle h = NewHandle(3);
  std::memcpy(*h, "xyz", 3);
  s << h;
  s.WriteHandle(nullptr);
  DisposeHandle(h);
  std::vector<UInt8> expect = {5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 3, 'x', 'y', 'z', 0, 0, 0, 0};
  EXPECT_EQ(Bytes(s), expect);

  s.SetMarker(0, streamFrom_Start);
  Str255 back;
  s >> back;
  EXPECT_EQ(back[0], 5);
  EXPECT_EQ(std::memcmp(back + 1, "hello", 5), 0);
  char small[3];
  EXPECT_EQ(s.ReadCString(small, sizeof small), 7);  // cut to fit, rest skipped
  EXPECT_STREQ(small, "ab");
  Handle r = nullptr;
  s >> r;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(GetHandleSize(r), 3);
  EXPECT_EQ(std::memcmp(*r, "xyz", 3), 0);
  DisposeHandle(r);
  r = s.ReadHandle();
  EXPECT_EQ(GetHandleSize(r), 0);
  DisposeHandle(r);
  EXPECT_TRUE(s.AtEnd());
}

TEST(Streams, ShortReadsRaiseEofAndMoveToTheEnd) {
  LHandleStream s;
  s << UInt16(7);
  s.SetMarker(0, streamFrom_Start);
  UInt32 v = 0;
  EXPECT_EQ(CodeOf([&] { s >> v; }), eofErr);
  EXPECT_TRUE(s.AtEnd());

  s.SetMarker(0, streamFrom_Start);
  char buf[8];
  EXPECT_EQ(s.ReadData(buf, 8), 2);  // the Data form reports the count instead
  EXPECT_EQ(CodeOf([&] { s.ReadBlock(buf, 1); }), eofErr);
  EXPECT_EQ(s.PeekData(buf, 1), 0);

  // A damaged size must fail, not allocate or read beyond the data.
  LHandleStream bad;
  bad << SInt32(0x7FFFFFF0) << UInt8(1);
  bad.SetMarker(0, streamFrom_Start);
  EXPECT_EQ(CodeOf([&] { DisposeHandle(bad.ReadHandle()); }), eofErr);
  bad.SetMarker(0, streamFrom_Start);
  char text[16];
  EXPECT_EQ(CodeOf([&] { bad.ReadCString(text, sizeof text); }), eofErr);
  LHandleStream neg;
  neg << SInt32(-5);
  neg.SetMarker(0, streamFrom_Start);
  EXPECT_EQ(CodeOf([&] { DisposeHandle(neg.ReadHandle()); }), eofErr);
}

TEST(Streams, MarkerIsKeptWithinTheLength) {
  LHandleStream s;
  s.WriteBlock("0123456789", 10);
  s.SetMarker(100, streamFrom_Start);
  EXPECT_EQ(s.GetMarker(), 10);
  s.SetMarker(-100, streamFrom_End);
  EXPECT_EQ(s.GetMarker(), 0);
  s.SetMarker(-3, streamFrom_End);
  EXPECT_EQ(s.GetMarker(), 7);
  s.SetMarker(2, streamFrom_Marker);
  EXPECT_EQ(s.GetMarker(), 9);
  s.SetMarker(0x7FFFFFFF, streamFrom_Marker);  // no overflow
  EXPECT_EQ(s.GetMarker(), 10);
  s.SetLength(4);
  EXPECT_EQ(s.GetMarker(), 4);
  EXPECT_EQ(GetHandleSize(s.GetDataHandle()), 4);
  s.SetMarker(2, streamFrom_Start);
  s.WriteBlock("ab", 2);
  s.WriteBlock("cd", 2);  // writing at the end grows the stream
  EXPECT_EQ(s.GetLength(), 6);
  std::vector<UInt8> expect = {'0', '1', 'a', 'b', 'c', 'd'};
  EXPECT_EQ(Bytes(s), expect);
}

TEST(Streams, HandleStreamOwnsDetachesAndAdoptsHandles) {
  Handle h = NewHandle(4);
  std::memcpy(*h, "abcd", 4);
  LHandleStream s(h);
  EXPECT_EQ(s.GetLength(), 4);
  EXPECT_EQ(s.GetMarker(), 0);
  EXPECT_EQ(s.DetachDataHandle(), h);
  EXPECT_EQ(s.GetDataHandle(), nullptr);
  EXPECT_EQ(s.GetLength(), 0);
  s << UInt8(9);  // makes a new handle
  ASSERT_NE(s.GetDataHandle(), nullptr);
  EXPECT_EQ(GetHandleSize(s.GetDataHandle()), 1);
  s.SetDataHandle(h);  // disposes of the new one
  EXPECT_EQ(s.GetDataHandle(), h);
  EXPECT_EQ(s.GetLength(), 4);

  LHandleStream empty(nullptr);
  UInt8 x = 0;
  EXPECT_EQ(CodeOf([&] { empty >> x; }), eofErr);
}

TEST(Streams, LockedHandleThatCannotGrowReportsMemFull) {
  LHandleStream s;
  s.WriteBlock("ab", 2);
  HLock(s.GetDataHandle());
  std::vector<char> big(1 << 20, 'x');
  SInt32 n = static_cast<SInt32>(big.size());
  EXPECT_EQ(s.PutBytes(big.data(), n), memFullErr);
  EXPECT_EQ(s.GetLength(), GetHandleSize(s.GetDataHandle()));
  HUnlock(s.GetDataHandle());
}

TEST(Streams, DataStreamIsBoundedByItsBuffer) {
  char buf[6] = {};
  LDataStream s(buf, sizeof buf);
  EXPECT_EQ(s.GetLength(), 6);
  s << UInt32(0x41424344);
  EXPECT_EQ(CodeOf([&] { s << UInt32(1); }), ioErr);
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(std::memcmp(buf, "ABCD\0\0", 6), 0);
  s.SetLength(2);
  EXPECT_EQ(s.GetMarker(), 2);
  EXPECT_EQ(CodeOf([&] { s.SetLength(7); }), ioErr);

  const char text[] = "xy";
  LDataStream ro(static_cast<const void*>(text), 2);
  EXPECT_EQ(CodeOf([&] { ro << UInt8(1); }), wrPermErr);
  UInt16 v;
  ro >> v;
  EXPECT_EQ(v, 0x7879);
}

TEST(Streams, FileStreamWritesReadsAndChecksPermissions) {
  char tmpl[] = "/tmp/trx-stream-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string path = std::string(tmpl) + "/data";

  LFileStream f(path);
  EXPECT_EQ(CodeOf([&] { f.OpenDataFork(fsRdPerm); }), fnfErr);
  f.CreateNewDataFile();
  EXPECT_EQ(CodeOf([&] { f.CreateNewDataFile(); }), dupFNErr);
  EXPECT_NE(f.OpenDataFork(fsRdWrPerm), 0);
  EXPECT_EQ(CodeOf([&] { f.OpenDataFork(fsRdWrPerm); }), opWrErr);
  f << UInt32('Trbx') << SInt16(-1);
  f.WritePString(reinterpret_cast<const unsigned char*>("\x02ok"));
  EXPECT_EQ(f.GetLength(), 9);
  f.CloseDataFork();
  UInt8 x = 0;
  EXPECT_EQ(CodeOf([&] { f >> x; }), fnOpnErr);

  LFileStream r(path);
  r.OpenDataFork(fsRdPerm);
  EXPECT_EQ(r.GetLength(), 9);
  UInt32 tag;
  SInt16 v;
  Str255 s;
  r >> tag >> v >> s;
  EXPECT_EQ(tag, static_cast<UInt32>('Trbx'));
  EXPECT_EQ(v, -1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), "ok");
  EXPECT_EQ(CodeOf([&] { r >> x; }), eofErr);
  EXPECT_EQ(CodeOf([&] { r << x; }), wrPermErr);
  EXPECT_EQ(CodeOf([&] { r.SetLength(0); }), wrPermErr);
  r.CloseDataFork();

  // Raw bytes on disk are big-endian.
  FILE* fp = std::fopen(path.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  unsigned char raw[9];
  ASSERT_EQ(std::fread(raw, 1, 9, fp), 9u);
  std::fclose(fp);
  const unsigned char expect[9] = {'T', 'r', 'b', 'x', 0xFF, 0xFF, 2, 'o', 'k'};
  EXPECT_EQ(std::memcmp(raw, expect, 9), 0);

  LFileStream dir(tmpl);
  EXPECT_EQ(CodeOf([&] { dir.OpenDataFork(fsRdPerm); }), fnfErr);
  std::remove(path.c_str());
  rmdir(tmpl);
}
