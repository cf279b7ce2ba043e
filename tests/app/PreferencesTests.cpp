// The preferences file in a private configuration folder, installed from the
// build's bundle, and the settings resource written and read back.
#include <stdlib.h>

#include <cstring>
#include <vector>

#include "app/CPreferences.h"
#include "app/CRecentFiles.h"
#include "app/CSettingsResource.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/Files.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"
#include "platform/framework/LStr255.h"
#include "platform/files/TempFolder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/LResFile.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

const std::string kVersionRecord = std::string("\0\0\0\1\0\0\0\4\0\0\0\1>>>>\0\0\0\0", 20);

class PreferencesTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    mOldHome = ::getenv("HOME") ? ::getenv("HOME") : "";
    ::setenv("HOME", mTmp.Path().c_str(), 1);
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    CPreferences::Reset();
    CRecentFiles::Delete();
    CSettingsResource::SetExportSection(nullptr, nullptr);
  }
  void TearDown() override {
    CRecentFiles::Delete();
    CPreferences::Reset();
    UBundle::SetMainBundlePath("");
    ::setenv("HOME", mOldHome.c_str(), 1);
    UiFixture::TearDown();
  }
  std::string PrefPath() const { return mTmp / "config/Tremblorix/Tremblorix Preferences"; }
  FSSpec PrefSpec() const {
    FSSpec spec;
    EXPECT_TRUE(CPreferences::GetPrefFile(&spec));
    return spec;
  }
  FSSpec MakeFile(const std::string& inName) {
    WriteText(mTmp / inName, "movie " + inName);
    return mTmp.Spec(inName);
  }
  // Replaces resource 129 by the given bytes.
  void SetSettings(const std::vector<char>& inBytes) {
    Handle h = NewHandle(static_cast<SInt32>(inBytes.size()));
    if (!inBytes.empty()) std::memcpy(*h, inBytes.data(), inBytes.size());
    LResFile file(PrefSpec());
    file.SetResHandle(kSettingsResType, kSettingsResID, h, LStr255("General-Prefs"));
    DisposeHandle(h);
  }

  TempFolder mTmp;
  std::string mOldHome;
};

void Record(std::vector<char>& ioBytes, UInt32 inTag, const std::string& inData) {
  char header[8];
  WriteBE32(header, inTag);
  WriteBE32(header + 4, static_cast<UInt32>(inData.size()));
  ioBytes.insert(ioBytes.end(), header, header + 8);
  ioBytes.insert(ioBytes.end(), inData.begin(), inData.end());
}
void End(std::vector<char>& ioBytes) { Record(ioBytes, kTagEndOfSection, ""); }

std::string AliasBytes(const FSSpec& inSpec) {
  AliasHandle alias = nullptr;
  EXPECT_EQ(NewAlias(nullptr, &inSpec, &alias), noErr);
  Handle h = reinterpret_cast<Handle>(alias);
  std::string bytes(*h, static_cast<size_t>(GetHandleSize(h)));
  DisposeHandle(h);
  return bytes;
}

std::string RecentPath(SInt16 inIndex) {
  FSSpec spec;
  if (CRecentFiles::GetFile(inIndex, &spec, kResolveAliasFileNoUI) != noErr) return "<unresolved>";
  return FSSpecPath(spec);
}

UInt32 sExportTagSeen = 0;
void ReadExport(LTagReader& inReader) {
  UInt32 tag = 0, length = 0;
  while (inReader.ReadNextTag(tag, length)) sExportTagSeen = tag;
}

}  // namespace

TEST_F(PreferencesTest, FirstLaunchInstallsTheDefaultCopyOnce) {
  FSSpec spec;
  EXPECT_FALSE(CPreferences::GetPrefFile(&spec));
  EXPECT_FALSE(CPreferences::GetPrefFolder(&spec));

  CPreferences::Init();
  EXPECT_TRUE(CPreferences::IsFirstLaunch());
  EXPECT_EQ(CPreferences::GetVersion(), 1);
  EXPECT_EQ(FSSpecPath(PrefSpec()), PrefPath());
  EXPECT_EQ(ReadText(PrefPath()), kVersionRecord);
  ASSERT_TRUE(CPreferences::GetPrefFolder(&spec));
  EXPECT_EQ(FSSpecPath(spec), mTmp / "config/Tremblorix");

  // The installed copy carries the defaults: open movies on, no recent files.
  UInt8 openMovie = 0;
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 1);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 0);

  // The next start keeps the file.
  CPreferences::Reset();
  CPreferences::Init();
  EXPECT_FALSE(CPreferences::IsFirstLaunch());

  // Finish writes the version record again.
  WriteText(PrefPath(), "junk");
  CPreferences::Finish();
  EXPECT_EQ(ReadText(PrefPath()), kVersionRecord);
}

TEST_F(PreferencesTest, AnotherVersionOrAnUnreadableFileIsReplaced) {
  const std::string folder = mTmp / "config/Tremblorix";
  for (const std::string& old : {std::string("\0\0\0\1\0\0\0\4\0\0\0\2>>>>\0\0\0\0", 20), std::string("garbage"),
                                 std::string()}) {
    CPreferences::Reset();
    std::filesystem::create_directories(folder);
    WriteText(PrefPath(), old);
    CPreferences::Init();
    EXPECT_TRUE(CPreferences::IsFirstLaunch());
    EXPECT_EQ(CPreferences::GetVersion(), 1);
    EXPECT_EQ(ReadText(PrefPath()), kVersionRecord);
  }
}

TEST_F(PreferencesTest, WithoutTheDefaultCopyStartUpFails) {
  UBundle::SetMainBundlePath(mTmp / "no-such.app");
  FSSpec spec;
  EXPECT_NE(CPreferences::FindDefaultPrefFile(spec), noErr);
  EXPECT_THROW(CPreferences::Init(), LException);
  EXPECT_FALSE(CPreferences::GetPrefFile(&spec));
}

TEST_F(PreferencesTest, SettingsRoundTrip) {
  CPreferences::Init();
  FSSpec a = MakeFile("a.mov"), b = MakeFile("b.mov"), c = MakeFile("c.mov");
  CRecentFiles::AddToRecentFileMenu(&a);
  CRecentFiles::AddToRecentFileMenu(&b);
  CRecentFiles::AddToRecentFileMenu(&c);
  ASSERT_EQ(CSettingsResource::Write(PrefSpec(), 0), noErr);

  // Byte-exact sections: the flag, three aliases newest first, the empty export section.
  LResFile file(PrefSpec());
  Handle stored = file.GetResHandle(kSettingsResType, kSettingsResID);
  ASSERT_NE(stored, nullptr);
  std::vector<char> expected;
  Record(expected, 1, std::string(1, '\0'));
  End(expected);
  for (const FSSpec* s : {&c, &b, &a}) Record(expected, kRecentFileTag, AliasBytes(*s));
  End(expected);
  End(expected);
  EXPECT_EQ(std::vector<char>(*stored, *stored + GetHandleSize(stored)), expected);
  DisposeHandle(stored);

  CRecentFiles::Delete();
  UInt8 openMovie = 1;
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 0);
  ASSERT_EQ(CRecentFiles::GetFileCount(), 3);
  EXPECT_EQ(RecentPath(1), mTmp / "c.mov");
  EXPECT_EQ(RecentPath(2), mTmp / "b.mov");
  EXPECT_EQ(RecentPath(3), mTmp / "a.mov");

  // An empty 129 falls back on the defaults in 128.
  CRecentFiles::Delete();
  SetSettings({});
  openMovie = 0;
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 1);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 0);
}

TEST_F(PreferencesTest, UnknownTagsAreReadPast) {
  CPreferences::Init();
  FSSpec a = MakeFile("a.mov");
  std::vector<char> bytes;
  Record(bytes, 7, "xyz");
  Record(bytes, 1, std::string(1, '\0'));
  Record(bytes, 8, "");
  End(bytes);
  Record(bytes, 55, "ab");
  Record(bytes, kRecentFileTag, AliasBytes(a));
  End(bytes);
  Record(bytes, 'Expt', "1234");
  End(bytes);
  SetSettings(bytes);

  CSettingsResource::SetExportSection(ReadExport, nullptr);
  sExportTagSeen = 0;
  UInt8 openMovie = 1;
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 0);
  ASSERT_EQ(CRecentFiles::GetFileCount(), 1);
  EXPECT_EQ(RecentPath(1), mTmp / "a.mov");
  EXPECT_EQ(sExportTagSeen, static_cast<UInt32>('Expt'));
}

// A damaged or hand-made file must not grow the list past ten entries nor
// make the reader take blocks no alias record can be.
TEST_F(PreferencesTest, ReadingCapsTheListAndRejectsAbsurdRecords) {
  CPreferences::Init();
  std::vector<char> bytes;
  Record(bytes, 1, std::string(1, '\1'));
  End(bytes);
  Record(bytes, kRecentFileTag, "ab");                     // shorter than any alias header
  Record(bytes, kRecentFileTag, std::string(70000, 'x'));  // longer than an alias can state
  std::vector<FSSpec> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(MakeFile("m" + std::to_string(i) + ".mov"));
    Record(bytes, kRecentFileTag, AliasBytes(files.back()));
  }
  End(bytes);
  End(bytes);
  SetSettings(bytes);

  UInt8 openMovie = 0;
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 1);
  ASSERT_EQ(CRecentFiles::GetFileCount(), kMaxRecentFiles);
  for (SInt16 i = 1; i <= kMaxRecentFiles; ++i) EXPECT_EQ(RecentPath(i), FSSpecPath(files[static_cast<size_t>(i - 1)]));

  // A length running past the data ends the section quietly with what was read.
  CRecentFiles::Delete();
  std::vector<char> cut;
  Record(cut, 1, std::string(1, '\0'));
  End(cut);
  Record(cut, kRecentFileTag, AliasBytes(files[0]));
  char header[8];
  WriteBE32(header, kRecentFileTag);
  WriteBE32(header + 4, 0xFFF0);
  cut.insert(cut.end(), header, header + 8);
  cut.insert(cut.end(), 20, 'y');
  SetSettings(cut);
  CSettingsResource::Read(PrefSpec(), openMovie);
  EXPECT_EQ(openMovie, 0);
  EXPECT_EQ(CRecentFiles::GetFileCount(), 1);
}
