#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "platform/files/Aliases.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/Files.h"
#include "platform/files/PartialFiles.h"
#include "platform/files/Sidecar.h"
#include "platform/base/MacMemory.h"
#include "platform/files/TempFolder.h"

TEST(FileSpecs, SameItemGivesByteIdenticalRecords) {
  TempFolder tmp;
  WriteText(tmp / "a.mov", "x");
  FSSpec one, two;
  EXPECT_EQ(FSMakeFSSpecFromPath(tmp / "a.mov", &one), noErr);
  EXPECT_EQ(FSMakeFSSpecFromPath(tmp.Path() + "/./sub/../a.mov", &two), noErr);
  EXPECT_EQ(std::memcmp(&one, &two, sizeof(FSSpec)), 0);
  EXPECT_EQ(PStr(one.name), "a.mov");

  // By folder id and name, as FindFolder and GetDirectoryID hand them out.
  SInt32 dirID = 0;
  Boolean isDir = false;
  ASSERT_EQ(GetDirectoryID(0, 0, PText(tmp.Path()), &dirID, &isDir), noErr);
  EXPECT_TRUE(isDir);
  FSSpec three;
  EXPECT_EQ(FSMakeFSSpec(0, dirID, PText("a.mov"), &three), noErr);
  EXPECT_EQ(std::memcmp(&one, &three, sizeof(FSSpec)), 0);
  EXPECT_EQ(three.parID, dirID);

  FSSpec missing;
  EXPECT_EQ(FSMakeFSSpec(0, dirID, PText("b.mov"), &missing), fnfErr);
  EXPECT_EQ(FSSpecPath(missing), tmp / "b.mov");
  EXPECT_EQ(FSMakeFSSpecFromPath(tmp / "nofolder/b.mov", &missing), dirNFErr);
  EXPECT_EQ(FSMakeFSSpecFromPath("/" + std::string(1100, 'x'), &missing), bdNamErr);
  EXPECT_EQ(FSMakeFSSpec(0, 987654, PText("x"), &missing), dirNFErr);

  FSRef ref;
  ASSERT_EQ(FSpMakeFSRef(&one, &ref), noErr);
  FSSpec back;
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, nullptr, &back, nullptr), noErr);
  EXPECT_EQ(std::memcmp(&one, &back, sizeof(FSSpec)), 0);
  EXPECT_EQ(info.dataLogicalSize, 1u);
  EXPECT_EQ(FSpMakeFSRef(&missing, &ref), dirNFErr);
}

TEST(FileSpecs, DataForkReadWriteAndPositions) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("data.bin");
  ASSERT_EQ(FSpCreate(&spec, 'Trbx', 'BINA', smSystemScript), noErr);
  EXPECT_EQ(FSpCreate(&spec, 'Trbx', 'BINA', smSystemScript), dupFNErr);
  SInt16 ref = 0;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
  SInt32 count = 10;
  ASSERT_EQ(FSWrite(ref, &count, "0123456789"), noErr);
  SInt32 eof = 0;
  ASSERT_EQ(GetEOF(ref, &eof), noErr);
  EXPECT_EQ(eof, 10);
  ASSERT_EQ(SetFPos(ref, fsFromStart, 4), noErr);
  char buf[16] = {};
  count = 10;
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);  // only six left
  EXPECT_EQ(count, 6);
  EXPECT_STREQ(buf, "456789");
  EXPECT_EQ(SetFPos(ref, fsFromStart, 11), eofErr);
  ASSERT_EQ(SetEOF(ref, 3), noErr);
  SInt32 pos = 0;
  ASSERT_EQ(GetFPos(ref, &pos), noErr);
  EXPECT_EQ(pos, 3);
  ASSERT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(FSClose(ref), rfNumErr);
  EXPECT_EQ(ReadText(tmp / "data.bin"), "012");

  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &ref), noErr);
  count = 1;
  EXPECT_EQ(FSWrite(ref, &count, "x"), wrPermErr);
  FSClose(ref);
  FSSpec missing = tmp.Spec("none");
  EXPECT_EQ(FSpOpenDF(&missing, fsRdPerm, &ref), fnfErr);
}

class FinderInfoTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UFinderInfo::SetForceSidecar(GetParam()); }
  void TearDown() override { UFinderInfo::SetForceSidecar(false); }
};

TEST_P(FinderInfoTest, TypeAndCreatorSurviveRenameMoveAndCopy) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("clip.mov");
  ASSERT_EQ(FSpCreate(&spec, 'Trbx', 'MooV', smSystemScript), noErr);
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, OSType('MooV'));
  EXPECT_EQ(info.fdCreator, OSType('Trbx'));

  info.fdType = 'TEXT';
  ASSERT_EQ(FSpSetFInfo(&spec, &info), noErr);
  ASSERT_EQ(FSpRename(&spec, PText("renamed.mov")), noErr);
  FSSpec renamed = tmp.Spec("renamed.mov");
  FInfo back{};
  ASSERT_EQ(FSpGetFInfo(&renamed, &back), noErr);
  EXPECT_EQ(back.fdType, OSType('TEXT'));
  EXPECT_EQ(back.fdCreator, OSType('Trbx'));

  FSSpec folder = tmp.Spec("sub");
  SInt32 dirID = 0;
  ASSERT_EQ(FSpDirCreate(&folder, smSystemScript, &dirID), noErr);
  ASSERT_EQ(FSpFileCopy(&renamed, &folder, nullptr, nullptr, 0, true), noErr);
  FSSpec copy = tmp.Spec("sub/renamed.mov");
  ASSERT_EQ(FSpGetFInfo(&copy, &back), noErr);
  EXPECT_EQ(back.fdType, OSType('TEXT'));
  EXPECT_EQ(FSpFileCopy(&renamed, &folder, nullptr, nullptr, 0, true), dupFNErr);

  ASSERT_EQ(FSpDelete(&copy), noErr);
  ASSERT_EQ(FSpCatMove(&renamed, &folder), noErr);
  ASSERT_EQ(FSpGetFInfo(&copy, &back), noErr);
  EXPECT_EQ(back.fdType, OSType('TEXT'));
  ASSERT_EQ(FSpDelete(&copy), noErr);
  struct stat st {};
  EXPECT_NE(::stat(SidecarPathFor(FSSpecPath(copy)).c_str(), &st), 0) << "sidecar left behind";
  EXPECT_EQ(FSpDelete(&copy), fnfErr);
  EXPECT_EQ(FSpDelete(&folder), noErr);
}

INSTANTIATE_TEST_SUITE_P(AttributeAndSidecar, FinderInfoTest, ::testing::Values(false, true));

TEST(FileSpecs, ExchangeSwapsContentsAndKeepsNames) {
  TempFolder tmp;
  WriteText(tmp / "a", "alpha");
  WriteText(tmp / "b", "beta");
  FSSpec a = tmp.Spec("a"), b = tmp.Spec("b");
  ASSERT_EQ(FSpExchangeFiles(&a, &b), noErr);
  EXPECT_EQ(ReadText(tmp / "a"), "beta");
  EXPECT_EQ(ReadText(tmp / "b"), "alpha");
  FSSpec none = tmp.Spec("none");
  EXPECT_EQ(FSpExchangeFiles(&a, &none), fnfErr);
}

TEST(FileSpecs, SpecialFoldersLiveUnderTheXdgFolders) {
  TempFolder tmp;
  SInt16 vRef = 0;
  SInt32 dirID = 0;
  EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), fnfErr);
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRef, &dirID), noErr);
  EXPECT_EQ(FSDirectoryPath(dirID), tmp / "config/Tremblorix");
  ASSERT_EQ(FindFolder(kOnSystemDisk, kTemporaryFolderType, kCreateFolder, &vRef, &dirID), noErr);
  EXPECT_EQ(FSDirectoryPath(dirID), tmp / "cache/Tremblorix/Temporary Items");
  ASSERT_EQ(FindFolder(kOnSystemDisk, kTrashFolderType, kCreateFolder, &vRef, &dirID), noErr);
  EXPECT_EQ(FSDirectoryPath(dirID), tmp / "data/Trash/files");
  FSSpec spec;
  EXPECT_EQ(FSMakeFSSpec(vRef, dirID, PText("x"), &spec), fnfErr);
  EXPECT_EQ(FSSpecPath(spec), tmp / "data/Trash/files/x");
  EXPECT_EQ(FindFolder(kOnSystemDisk, 'what', kCreateFolder, &vRef, &dirID), fnfErr);
}

TEST(Aliases, APlaceNamedByItsPathResolvesWithOrWithoutAFileThere) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("new.mp4");
  AliasHandle alias = nullptr;
  ASSERT_EQ(NewAliasToPath(&spec, &alias), noErr);
  FSSpec target;
  Boolean changed = true;
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), tmp / "new.mp4");
  EXPECT_FALSE(changed);
  // A file made there, then moved away: the record keeps naming the place.
  WriteText(tmp / "new.mp4", "m");
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), tmp / "new.mp4");
  FSSpec made = tmp.Spec("new.mp4");
  ASSERT_EQ(FSpRename(&made, PText("moved.mp4")), noErr);
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), tmp / "new.mp4");
  DisposeHandle(reinterpret_cast<Handle>(alias));
  // Its folder must be there.
  FSSpec nowhere = tmp.Spec("missing/new.mp4");
  EXPECT_EQ(NewAliasToPath(&nowhere, &alias), dirNFErr);
}

TEST(PartialFiles, OnlyLeftoversThatNobodyWritesAreRemoved) {
  TempFolder tmp;
  const std::string dest = tmp / "Clip.mp4";
  std::string held = PartialPatternFor(dest);
  EXPECT_EQ(held, tmp / ".Clip.mp4.partial-XXXXXX");
  const int fd = OpenPartialFile(held);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(IsPartialFileName(held.substr(held.rfind('/') + 1)));
  std::string left = PartialPatternFor(dest);
  ReleasePartialFile(OpenPartialFile(left));
  std::string save = SavePartialPatternIn(tmp.Path());
  ReleasePartialFile(OpenPartialFile(save));
  WriteText(tmp / ".Clip.mp4.partial-toolong", "x");
  WriteText(tmp / "Clip.mp4.partial-abcdef", "x");
  WriteText(tmp / ".Other.mp4.partial-abcdef", "x");

  // Beside the destination: only its own leftover goes.
  EXPECT_EQ(RemoveLeftoversBeside(dest), 1);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(held));
  EXPECT_TRUE(std::filesystem::exists(save));
  // In the folder: every leftover of our names, none held, nothing else.
  int inUse = 0;
  EXPECT_EQ(RemoveLeftoversIn(tmp.Path(), &inUse), 2);
  EXPECT_EQ(inUse, 1);
  EXPECT_FALSE(std::filesystem::exists(save));
  EXPECT_FALSE(std::filesystem::exists(tmp / ".Other.mp4.partial-abcdef"));
  EXPECT_TRUE(std::filesystem::exists(held));
  EXPECT_TRUE(std::filesystem::exists(tmp / ".Clip.mp4.partial-toolong"));
  EXPECT_TRUE(std::filesystem::exists(tmp / "Clip.mp4.partial-abcdef"));
  // A program ending on a signal removes its own.
  RemoveOwnPartialFiles();
  EXPECT_FALSE(std::filesystem::exists(held));
  ReleasePartialFile(fd);
}

TEST(Aliases, ResolveByPathThenByInode) {
  TempFolder tmp;
  WriteText(tmp / "movie.mov", "m");
  FSSpec spec = tmp.Spec("movie.mov");
  AliasHandle alias = nullptr;
  ASSERT_EQ(NewAlias(nullptr, &spec, &alias), noErr);

  FSSpec target;
  Boolean changed = true;
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_FALSE(changed);
  EXPECT_EQ(std::memcmp(&target, &spec, sizeof(FSSpec)), 0);

  // Renamed in place, then moved into a subfolder: found by inode.
  ASSERT_EQ(FSpRename(&spec, PText("steady.mov")), noErr);
  ASSERT_EQ(ResolveAliasWithMountFlags(nullptr, alias, &target, &changed, kResolveAliasFileNoUI), noErr);
  EXPECT_TRUE(changed);
  EXPECT_EQ(FSSpecPath(target), tmp / "steady.mov");
  FSSpec folder = tmp.Spec("done");
  ASSERT_EQ(FSpDirCreate(&folder, smSystemScript, nullptr), noErr);
  FSSpec renamed = tmp.Spec("steady.mov");
  ASSERT_EQ(FSpCatMove(&renamed, &folder), noErr);
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), tmp / "done/steady.mov");

  // The record is plain bytes: a copy resolves the same; UpdateAlias refreshes it.
  Handle copy = reinterpret_cast<Handle>(alias);
  ASSERT_EQ(HandToHand(&copy), noErr);
  ASSERT_EQ(UpdateAlias(nullptr, &target, alias, &changed), noErr);
  EXPECT_TRUE(changed);
  ASSERT_EQ(ResolveAlias(nullptr, alias, &target, &changed), noErr);
  EXPECT_FALSE(changed);
  Str63 name;
  ASSERT_EQ(GetAliasInfo(alias, asiAliasName, name), noErr);
  EXPECT_EQ(PStr(name), "steady.mov");
  ASSERT_EQ(ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(copy), &target, &changed), noErr);
  EXPECT_EQ(FSSpecPath(target), tmp / "done/steady.mov");

  // Gone: fnfErr. Garbage: paramErr, never a crash.
  ASSERT_EQ(FSpDelete(&target), noErr);
  EXPECT_EQ(ResolveAlias(nullptr, alias, &target, &changed), fnfErr);
  std::memset(*copy, 0x7F, static_cast<size_t>(GetHandleSize(copy)));
  EXPECT_EQ(ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(copy), &target, &changed), paramErr);
  EXPECT_EQ(ResolveAlias(nullptr, nullptr, &target, &changed), paramErr);
  DisposeHandle(copy);
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

TEST(CoreFoundation, StringsCountReferencesAndRefuseSmallBuffers) {
  CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "Tremblorix", kCFStringEncodingUTF8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringGetLength(s), 10);
  CFRetain(s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  char small[4];
  EXPECT_FALSE(CFStringGetCString(s, small, sizeof small, kCFStringEncodingUTF8));
  EXPECT_EQ(small[0], 0);
  char big[32];
  EXPECT_TRUE(CFStringGetCString(s, big, sizeof big, kCFStringEncodingUTF8));
  EXPECT_STREQ(big, "Tremblorix");
  Str255 p;
  EXPECT_TRUE(CFStringGetPascalString(s, p, sizeof p, kCFStringEncodingMacRoman));
  EXPECT_EQ(PStr(p), "Tremblorix");
  CFStringRef fromP = CFStringCreateWithPascalString(kCFAllocatorDefault, p, kCFStringEncodingMacRoman);
  EXPECT_TRUE(CFStringEqual(s, fromP));
  CFRelease(fromP);
  CFRelease(s);
  EXPECT_EQ(CFSTR("x"), CFSTR("x"));
  CFRelease(CFSTR("x"));  // constants ignore release
  EXPECT_TRUE(CFStringEqual(CFSTR("x"), CFSTR("x")));
}
