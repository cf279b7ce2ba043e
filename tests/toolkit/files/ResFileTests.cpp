#include <gtest/gtest.h>

#include <cstring>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/files/Sidecar.h"
#include "platform/files/TempFolder.h"
#include "toolkit/LResFile.h"

namespace {

Handle MakeHandle(const std::string& inText) {
  Handle h = nullptr;
  PtrToHand(inText.data(), &h, static_cast<SInt32>(inText.size()));
  return h;
}

std::string HandleText(Handle h) { return h ? std::string(*h, static_cast<size_t>(GetHandleSize(h))) : "<nil>"; }

}  // namespace

TEST(ResFile, MissingFileIsCreatedWithTheResourceTypeAsFileType) {
  TempFolder tmp;
  LResFile file(tmp.Spec("Prefs"));
  EXPECT_EQ(file.GetResHandle('Trbx', 129), nullptr);
  StHandleBlock data(MakeHandle("settings"));
  file.SetResHandle('Trbx', 129, data, PText("General-Prefs"));
  EXPECT_EQ(HandleText(data), "settings");  // the caller's handle stays the caller's
  FInfo info{};
  FSSpec spec = tmp.Spec("Prefs");
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdCreator, OSType('Trbx'));
  EXPECT_EQ(info.fdType, OSType('Trbx'));

  StHandleBlock back(file.GetResHandle('Trbx', 129));
  EXPECT_EQ(HandleText(back), "settings");
  EXPECT_EQ(HomeResFile(back), -1);  // detached

  // Replacing keeps one resource with the new data and the name.
  StHandleBlock newer(MakeHandle("newer settings"));
  file.SetResHandle('Trbx', 129, newer, PText("General-Prefs"));
  SInt16 ref = FSpOpenResFile(&spec, fsRdPerm);
  ASSERT_GT(ref, 0);
  EXPECT_EQ(Count1Resources('Trbx'), 1);
  Handle h = Get1Resource('Trbx', 129);
  EXPECT_EQ(HandleText(h), "newer settings");
  Str255 name;
  GetResInfo(h, nullptr, nullptr, name);
  EXPECT_EQ(PStr(name), "General-Prefs");
  CloseResFile(ref);
}

TEST(ResFile, FileWithoutForkKeepsCreatorAndType) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("movie.mov");
  ASSERT_EQ(FSpCreate(&spec, 'TVOD', 'MooV', 0), noErr);
  WriteText(tmp / "movie.mov", "movie data");
  LResFile file(spec);
  StHandleBlock data(MakeHandle("x"));
  file.SetResHandle('TEXT', 128, data, nullptr);
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdCreator, OSType('TVOD'));
  EXPECT_EQ(info.fdType, OSType('MooV'));
  EXPECT_EQ(ReadText(tmp / "movie.mov"), "movie data");
  StHandleBlock back(file.GetResHandle('TEXT', 128));
  EXPECT_EQ(HandleText(back), "x");
}

TEST(ResFile, DamagedForkIsNotWrittenOver) {
  TempFolder tmp;
  FSSpec spec = tmp.Spec("Prefs");
  LResFile file(spec);
  StHandleBlock data(MakeHandle("settings"));
  file.SetResHandle('Trbx', 129, data, nullptr);
  SidecarContents sc;
  ASSERT_EQ(ReadSidecar(tmp / "Prefs", sc), noErr);
  std::vector<char> damaged = sc.fork;
  damaged.erase(damaged.end() - 5, damaged.end());
  sc.fork = damaged;
  ASSERT_EQ(WriteSidecar(tmp / "Prefs", sc), noErr);

  EXPECT_EQ(file.GetResHandle('Trbx', 129), nullptr);
  try {
    file.SetResHandle('Trbx', 129, data, nullptr);
    ADD_FAILURE() << "a damaged fork must not be written over";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), -1);
  }
  ASSERT_EQ(ReadSidecar(tmp / "Prefs", sc), noErr);
  EXPECT_EQ(sc.fork, damaged);
  EXPECT_EQ(CurResFile(), UResources::GetApplicationResFile() > 0 ? UResources::GetApplicationResFile() : 0);
}

TEST(ResFile, StringsAsTextResources) {
  TempFolder tmp;
  LResFile file(tmp.Spec("strings"));
  Str63 shortString;  // shorter than 256 bytes: only its own bytes are read
  StringToPStr("Hello", shortString, sizeof shortString);
  file.WriteString(128, shortString, PText("greeting"));
  StHandleBlock raw(file.GetResHandle('TEXT', 128));
  ASSERT_EQ(GetHandleSize(raw), 258);
  EXPECT_EQ(std::memcmp(*raw.Get(), "\x05Hello\0\0", 8), 0);

  Str255 back;
  file.ReadString(128, back);
  EXPECT_EQ(PStr(back), "Hello");
  EXPECT_THROW(file.ReadString(999, back), LException);

  // A stored length byte beyond the stored characters is cut back.
  StHandleBlock shortText(MakeHandle("\xC8" "abc"));
  file.SetResHandle('TEXT', 129, shortText, nullptr);
  file.ReadString(129, back);
  EXPECT_EQ(PStr(back), "abc");

  StHandleBlock pict(MakeHandle("picture bytes"));
  EXPECT_EQ(file.WritePicture(130, reinterpret_cast<Picture**>(pict.Get()), nullptr), noErr);
  StHandleBlock readBack(reinterpret_cast<Handle>(file.ReadPicture(130)));
  EXPECT_EQ(HandleText(readBack), "picture bytes");
  EXPECT_EQ(file.WritePicture(131, nullptr, nullptr), ErrorCodeToOSErr(err_NilPointer));
}
