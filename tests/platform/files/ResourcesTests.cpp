#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Resources.h"
#include "platform/files/Sidecar.h"
#include "platform/files/TempFolder.h"

namespace {

Handle MakeHandle(const std::string& inText) {
  Handle h = nullptr;
  PtrToHand(inText.data(), &h, static_cast<SInt32>(inText.size()));
  return h;
}

std::string HandleText(Handle h) { return h ? std::string(*h, static_cast<size_t>(GetHandleSize(h))) : "<nil>"; }

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { UBundle::SetMainBundlePath(mTmp / "no-bundle"); }
  void TearDown() override { UBundle::SetMainBundlePath(""); }
  TempFolder mTmp;
};

}  // namespace

TEST_F(ResourcesTest, WrittenClosedReopenedAndReadBack) {
  FSSpec spec = mTmp.Spec("Prefs");
  FSpCreateResFile(&spec, 'Trbx', 'pref', smSystemScript);
  ASSERT_EQ(ResError(), noErr);
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, OSType('pref'));

  SInt16 ref = FSpOpenResFile(&spec, fsRdWrPerm);
  ASSERT_GT(ref, 0);
  EXPECT_EQ(CurResFile(), ref);
  AddResource(MakeHandle("general"), 'Trbx', 129, PText("General-Prefs"));
  ASSERT_EQ(ResError(), noErr);
  AddResource(MakeHandle("text one"), 'TEXT', 128, nullptr);
  AddResource(MakeHandle("defaults"), 'Trbx', 128, nullptr);
  Handle taken = MakeHandle("x");
  AddResource(taken, 'TEXT', 129, nullptr);
  AddResource(taken, 'TEXT', 130, nullptr);  // already a resource
  EXPECT_EQ(ResError(), addResFailed);
  CloseResFile(ref);
  ASSERT_EQ(ResError(), noErr);

  // The fork is in the sidecar, in the classic layout: data at 256.
  SidecarContents sc;
  ASSERT_EQ(ReadSidecar(FSSpecPath(spec), sc), noErr);
  ASSERT_TRUE(sc.hasFork);
  ASSERT_GE(sc.fork.size(), 256u);
  EXPECT_EQ(ReadBE32(sc.fork.data()), 256u);

  ref = FSpOpenResFile(&spec, fsRdPerm);
  ASSERT_GT(ref, 0);
  EXPECT_EQ(Count1Types(), 2);
  ResType type = 0;
  Get1IndType(&type, 1);
  EXPECT_EQ(type, OSType('Trbx'));  // type order is kept
  EXPECT_EQ(Count1Resources('Trbx'), 2);
  EXPECT_EQ(Count1Resources('TEXT'), 2);
  Handle h = Get1Resource('Trbx', 129);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(HandleText(h), "general");
  EXPECT_EQ(Get1Resource('Trbx', 129), h);  // the same handle while attached
  ResID id = 0;
  Str255 name;
  GetResInfo(h, &id, &type, name);
  EXPECT_EQ(id, 129);
  EXPECT_EQ(type, OSType('Trbx'));
  EXPECT_EQ(PStr(name), "General-Prefs");
  EXPECT_EQ(GetResourceSizeOnDisk(h), 7);
  EXPECT_EQ(HandleText(Get1IndResource('Trbx', 2)), "defaults");
  EXPECT_EQ(Get1Resource('Trbx', 200), nullptr);
  EXPECT_EQ(ResError(), resNotFound);

  // Read-only: no changes.
  Handle refused = MakeHandle("no");
  AddResource(refused, 'TEXT', 131, nullptr);
  EXPECT_EQ(ResError(), resAttrErr);
  DisposeHandle(refused);
  DetachResource(h);
  CloseResFile(ref);
  EXPECT_EQ(HandleText(h), "general");  // detached handles outlive the file
  DisposeHandle(h);
}

TEST_F(ResourcesTest, ChangesRemovalsAndReleasesReachTheFile) {
  FSSpec spec = mTmp.Spec("file");
  FSpCreateResFile(&spec, 'Trbx', 'TEXT', smSystemScript);
  SInt16 ref = FSpOpenResFile(&spec, fsRdWrPerm);
  ASSERT_GT(ref, 0);
  AddResource(MakeHandle("one"), 'TEXT', 128, nullptr);
  AddResource(MakeHandle("two"), 'TEXT', 129, nullptr);
  UpdateResFile(ref);
  ASSERT_EQ(ResError(), noErr);

  Handle h = Get1Resource('TEXT', 128);
  SetHandleSize(h, 5);
  std::memcpy(*h, "ONE!!", 5);
  ChangedResource(h);
  ReleaseResource(h);  // the change is kept for the file
  Handle two = Get1Resource('TEXT', 129);
  RemoveResource(two);
  ASSERT_EQ(ResError(), noErr);
  DisposeHandle(two);  // removed resources belong to the caller
  CloseResFile(ref);

  ref = FSpOpenResFile(&spec, fsRdPerm);
  ASSERT_GT(ref, 0);
  EXPECT_EQ(HandleText(Get1Resource('TEXT', 128)), "ONE!!");
  EXPECT_EQ(Get1Resource('TEXT', 129), nullptr);
  CloseResFile(ref);
}

TEST_F(ResourcesTest, ChainSearchAndCurrentFile) {
  FSSpec a = mTmp.Spec("a"), b = mTmp.Spec("b");
  FSpCreateResFile(&a, 'Trbx', 'rsrc', 0);
  FSpCreateResFile(&b, 'Trbx', 'rsrc', 0);
  SInt16 ra = FSpOpenResFile(&a, fsRdWrPerm);
  AddResource(MakeHandle("from a"), 'STR ', 1, nullptr);
  AddResource(MakeHandle("shadowed"), 'STR ', 2, nullptr);
  SInt16 rb = FSpOpenResFile(&b, fsRdWrPerm);
  AddResource(MakeHandle("from b"), 'STR ', 2, nullptr);
  EXPECT_EQ(CurResFile(), rb);
  EXPECT_EQ(HandleText(GetResource('STR ', 1)), "from a");  // down the chain
  EXPECT_EQ(Get1Resource('STR ', 1), nullptr);            // current file only
  EXPECT_EQ(HandleText(GetResource('STR ', 2)), "from b");
  EXPECT_EQ(CountResources('STR '), 2);
  UseResFile(ra);
  EXPECT_EQ(CurResFile(), ra);
  EXPECT_EQ(HandleText(Get1Resource('STR ', 2)), "shadowed");
  EXPECT_EQ(GetResource('STR ', 3), nullptr);
  CloseResFile(rb);
  CloseResFile(ra);
  UseResFile(rb);
  EXPECT_EQ(ResError(), resFNotFound);
}

TEST_F(ResourcesTest, OpeningTellsMissingFileNoForkAndDamage) {
  FSSpec none = mTmp.Spec("none");
  EXPECT_EQ(FSpOpenResFile(&none, fsRdPerm), kResFileNotOpened);
  EXPECT_EQ(ResError(), fnfErr);

  WriteText(mTmp / "plain", "data only");
  FSSpec plain = mTmp.Spec("plain");
  EXPECT_EQ(FSpOpenResFile(&plain, fsRdPerm), kResFileNotOpened);
  EXPECT_EQ(ResError(), resFNotFound);

  // A fork that is cut short is damage, not an empty fork.
  FSpCreateResFile(&plain, 'Trbx', 'TEXT', 0);
  SInt16 ref = FSpOpenResFile(&plain, fsRdWrPerm);
  AddResource(MakeHandle(std::string(100, 'z')), 'TEXT', 128, nullptr);
  CloseResFile(ref);
  SidecarContents sc;
  ASSERT_EQ(ReadSidecar(mTmp / "plain", sc), noErr);
  ASSERT_GT(sc.fork.size(), 10u);
  sc.fork.erase(sc.fork.end() - 10, sc.fork.end());
  ASSERT_EQ(WriteSidecar(mTmp / "plain", sc), noErr);
  EXPECT_EQ(FSpOpenResFile(&plain, fsRdPerm), kResFileNotOpened);
  EXPECT_EQ(ResError(), eofErr);
  // Creating over a damaged fork does not wipe it.
  FSpCreateResFile(&plain, 'Trbx', 'TEXT', 0);
  EXPECT_NE(ResError(), noErr);
  SidecarContents after;
  ASSERT_EQ(ReadSidecar(mTmp / "plain", after), noErr);
  EXPECT_EQ(after.fork, sc.fork);
  EXPECT_EQ(ReadText(mTmp / "plain"), "data only");
}

TEST(ResourceMap, SerializeParseRoundTripIsExact) {
  ResourceMapContents c;
  c.entries.push_back({'STR#', 5022, true, "errors", 0, {'\0', '\1', '\2', 'h', 'i'}});
  c.entries.push_back({'TEXT', -1, false, "", 0, {}});
  c.entries.push_back({'STR#', 5000, false, "", 0, {'a'}});
  std::vector<char> bytes;
  ASSERT_EQ(SerializeResourceMap(c, bytes), noErr);
  ResourceMapContents back;
  ASSERT_EQ(ParseResourceMap(bytes.data(), bytes.size(), back), noErr);
  ASSERT_EQ(back.entries.size(), 3u);
  // Grouped by type in order of first appearance.
  EXPECT_EQ(back.entries[0].id, 5022);
  EXPECT_EQ(back.entries[1].id, 5000);
  EXPECT_EQ(back.entries[2].type, OSType('TEXT'));
  EXPECT_EQ(back.entries[2].id, -1);
  EXPECT_EQ(back.entries[0].name, "errors");
  EXPECT_EQ(back.entries[0].data, c.entries[0].data);
  std::vector<char> again;
  ASSERT_EQ(SerializeResourceMap(back, again), noErr);
  EXPECT_EQ(again, bytes);

  ResourceMapContents empty;
  ASSERT_EQ(SerializeResourceMap(empty, bytes), noErr);
  ASSERT_EQ(ParseResourceMap(bytes.data(), bytes.size(), back), noErr);
  EXPECT_TRUE(back.entries.empty());
  EXPECT_EQ(ParseResourceMap(bytes.data(), 0, back), resFNotFound);
}

TEST(ResourceMap, DamagedInputIsRefusedNeverFollowed) {
  ResourceMapContents c;
  for (int i = 0; i < 6; ++i)
    c.entries.push_back({static_cast<ResType>(i % 2 ? 'STR#' : 'TEXT'), static_cast<ResID>(128 + i), i % 3 == 0,
                         "name" + std::to_string(i), 0, std::vector<char>(static_cast<size_t>(i * 7), 'q')});
  std::vector<char> good;
  ASSERT_EQ(SerializeResourceMap(c, good), noErr);
  ResourceMapContents out;

  // Every truncation.
  for (size_t n = 1; n < good.size(); ++n)
    EXPECT_NE(ParseResourceMap(good.data(), n, out), noErr) << "length " << n;

  // A huge stored length.
  std::vector<char> bad = good;
  WriteBE32(bad.data() + 256, 0x7FFFFFF0);
  EXPECT_EQ(ParseResourceMap(bad.data(), bad.size(), out), eofErr);

  // Reference lists shared between types: whatever parses stays within the
  // size of the input.
  bad = good;
  {
    const char* map = bad.data() + ReadBE32(bad.data() + 4);
    UInt32 typeListOff = ReadBE16(map + 24);
    char* typeList = bad.data() + ReadBE32(bad.data() + 4) + typeListOff;
    for (int t = 0; t < 2; ++t) WriteBE16(typeList + 2 + t * 8 + 6, ReadBE16(typeList + 2 + 6));
  }
  if (ParseResourceMap(bad.data(), bad.size(), out) == noErr) {
    size_t total = 0;
    for (auto& e : out.entries) total += e.data.size();
    EXPECT_LE(total, bad.size());
  }

  // Random flips and random bytes, fixed seed: no crash, no hang, and what
  // parses stays within the input's size.
  std::mt19937 rng(20261208);
  for (int round = 0; round < 4000; ++round) {
    std::vector<char> f = good;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) f[rng() % f.size()] = static_cast<char>(rng());
    if (round % 4 == 0) f.resize(rng() % (f.size() + 1));
    if (ParseResourceMap(f.data(), f.size(), out) == noErr) {
      size_t total = 0;
      for (auto& e : out.entries) total += e.data.size();
      EXPECT_LE(total, f.size());
    }
  }
  for (int round = 0; round < 2000; ++round) {
    std::vector<char> f(rng() % 600);
    for (char& ch : f) ch = static_cast<char>(rng());
    if (f.size() >= 16 && round % 2) {  // plausible header
      WriteBE32(f.data(), 16);
      WriteBE32(f.data() + 4, static_cast<UInt32>(f.size() / 2));
      WriteBE32(f.data() + 8, static_cast<UInt32>(f.size() / 2 - 16));
      WriteBE32(f.data() + 12, static_cast<UInt32>(f.size() - f.size() / 2));
    }
    ParseResourceMap(f.data(), f.size(), out);
  }

  // Damaged sidecars too.
  SidecarContents sc;
  for (int round = 0; round < 2000; ++round) {
    std::vector<char> f(rng() % 100);
    for (char& ch : f) ch = static_cast<char>(rng());
    if (f.size() >= 26) {
      WriteBE32(f.data(), 0x00051607);
      WriteBE32(f.data() + 4, 0x00020000);
    }
    ParseSidecar(f, sc);
  }
}

TEST_F(ResourcesTest, BundleResourceFileInfoAndTexts) {
  std::string bundle = mTmp / "Tremblorix.app";
  std::filesystem::create_directories(bundle + "/Contents/Resources");
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  WriteText(bundle + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n"
            "<key>CFBundleVersion</key>\n<string>1.2 &amp; more</string>\n"
            "<key>CFBundleHelpBookFolder</key><string>Help</string>\n"
            "<key>LSUIElement</key><true/>\n</dict></plist>\n");
  ResourceMapContents c;
  std::vector<char> list = {0, 2, 5, 'F', 'i', 'r', 's', 't', 6, 'S', 'e', 'c', 'o', 'n', 'd'};
  c.entries.push_back({'STR#', 5022, false, "", 0, list});
  std::vector<char> bytes;
  ASSERT_EQ(SerializeResourceMap(c, bytes), noErr);
  ASSERT_EQ(WriteWholeFileAtomically(bundle + "/Contents/Resources/Tremblorix.rsrc", bytes), noErr);
  WriteText(bundle + "/Contents/MacOS/Vantrel", "");
  UBundle::SetMainBundlePath(bundle);

  CFBundleRef main = CFBundleGetMainBundle();
  ASSERT_NE(main, nullptr);
  CFTypeRef version = CFBundleGetValueForInfoDictionaryKey(main, CFSTR("CFBundleVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(CFGetTypeID(version), CFStringGetTypeID());
  EXPECT_STREQ(CFStringGetCStringPtr(static_cast<CFStringRef>(version), kCFStringEncodingUTF8), "1.2 & more");
  EXPECT_EQ(CFBundleGetValueForInfoDictionaryKey(main, CFSTR("LSUIElement")), nullptr);
  CFURLRef url = CFBundleCopyAuxiliaryExecutableURL(main, CFSTR("Vantrel"));
  ASSERT_NE(url, nullptr);
  FSRef ref;
  EXPECT_TRUE(CFURLGetFSRef(url, &ref));
  CFRelease(url);
  EXPECT_EQ(CFBundleCopyResourceURL(main, CFSTR("Missing"), nullptr, nullptr), nullptr);

  Str255 text;
  GetIndString(text, 5022, 2);
  EXPECT_EQ(PStr(text), "Second");
  GetIndString(text, 5022, 3);
  EXPECT_EQ(PStr(text), "");
  GetIndString(text, 4999, 1);
  EXPECT_EQ(PStr(text), "");
  EXPECT_GT(UResources::GetApplicationResFile(), 0);

  // A file opened on top is searched first, the application's file last.
  FSSpec spec = mTmp.Spec("over");
  FSpCreateResFile(&spec, 'Trbx', 'rsrc', 0);
  SInt16 r = FSpOpenResFile(&spec, fsRdWrPerm);
  GetIndString(text, 5022, 1);
  EXPECT_EQ(PStr(text), "First");
  CloseResFile(r);
}

TEST_F(ResourcesTest, MapsKeptInTheDataFork) {
  ResourceMapContents c;
  c.entries.push_back({'TEXT', 128, false, "", 0, {'a', 'b'}});
  std::vector<char> bytes;
  ASSERT_EQ(SerializeResourceMap(c, bytes), noErr);
  ASSERT_EQ(WriteWholeFileAtomically(mTmp / "data.rsrc", bytes), noErr);
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((mTmp / "data.rsrc").c_str()), &ref, nullptr), noErr);
  SInt16 refNum = 0;
  ASSERT_EQ(FSOpenResourceFile(&ref, 0, nullptr, fsRdWrPerm, &refNum), noErr);
  EXPECT_EQ(HandleText(Get1Resource('TEXT', 128)), "ab");
  AddResource(MakeHandle("cd"), 'TEXT', 129, nullptr);
  CloseResFile(refNum);
  ASSERT_EQ(ReadWholeFile(mTmp / "data.rsrc", bytes), noErr);
  ResourceMapContents back;
  ASSERT_EQ(ParseResourceMap(bytes.data(), bytes.size(), back), noErr);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[1].data, (std::vector<char>{'c', 'd'}));
  // A data fork that is no resource map is damage.
  WriteText(mTmp / "plain.rsrc", "just some text that is no map");
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((mTmp / "plain.rsrc").c_str()), &ref, nullptr), noErr);
  EXPECT_EQ(FSOpenResourceFile(&ref, 0, nullptr, fsRdPerm, &refNum), eofErr);
  EXPECT_EQ(refNum, kResFileNotOpened);
}
