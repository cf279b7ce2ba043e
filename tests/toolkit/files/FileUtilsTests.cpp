#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/PascalStrings.h"
#include "platform/files/TempFolder.h"
#include "toolkit/UFileUtils.h"

namespace {

OSType TypeOf(const std::string& inName, OSErr* outErr = nullptr) {
  OSType type = 0;
  OSErr err = UFileUtils::GetFileTypeForName(PText(inName), &type);
  if (outErr) *outErr = err;
  return type;
}

std::string Text(const LStr255& s) { return std::string(s.ConstTextPtr(), s.Length()); }

}  // namespace

TEST(FileTypes, ByNameEndingCaseExactWithTrailingBlanks) {
  OSErr err = 1;
  EXPECT_EQ(TypeOf("clip.MOV", &err), OSType('MooV'));
  EXPECT_EQ(err, noErr);
  EXPECT_EQ(TypeOf("clip.Mov", &err), kUnknownFileType);
  EXPECT_EQ(err, -1);
  EXPECT_EQ(TypeOf("clip.mov "), OSType('MooV'));
  EXPECT_EQ(TypeOf("image.fpx"), OSType('FPix'));
  EXPECT_EQ(TypeOf("image.FPX"), OSType('FPix'));
  EXPECT_EQ(TypeOf("movie.mpg4"), OSType('mpg4'));
  EXPECT_EQ(TypeOf("tape.dv  "), OSType('dvc!'));
  EXPECT_EQ(TypeOf("tape.DV "), OSType('dvc!'));
  EXPECT_EQ(TypeOf("a.tiff"), OSType('TIFF'));
  EXPECT_EQ(TypeOf("a.qtif"), OSType('qtif'));  // not taken for ".tif"
  EXPECT_EQ(TypeOf("a.sgi"), OSType('.SGI'));
  EXPECT_EQ(TypeOf("a.pdf"), OSType('PDF '));
  EXPECT_EQ(TypeOf("a.mov.txt"), kUnknownFileType);
  EXPECT_EQ(TypeOf(""), kUnknownFileType);
  EXPECT_EQ(TypeOf(".mov"), OSType('MooV'));
}

TEST(FileTypes, RemoveExtension) {
  PText a("a.b.mov");
  UFileUtils::RemoveExtension(a);
  EXPECT_EQ(PStr(a), "a.b");
  PText b("movie");
  UFileUtils::RemoveExtension(b);
  EXPECT_EQ(PStr(b), "movie");
  PText c(".hidden");
  UFileUtils::RemoveExtension(c);
  EXPECT_EQ(PStr(c), "");
}

TEST(FileTypes, ImageFilesNeedTheImportersTypeList) {
  TempFolder tmp;
  WriteText(tmp / "still.png", "png");
  FSSpec spec = tmp.Spec("still.png");
  EXPECT_EQ(UFileUtils::IsImageFileAcceptable(spec), -1);  // the list starts empty
  UFileUtils::SetImageTypeTest([](OSType t) { return t == 'PNGf'; });
  EXPECT_EQ(UFileUtils::IsImageFileAcceptable(spec), noErr);
  FSSpec missing = tmp.Spec("none.png");
  EXPECT_EQ(UFileUtils::IsImageFileAcceptable(missing), fnfErr);
  UFileUtils::SetImageTypeTest(nullptr);
}

TEST(TempFiles, FirstFreeNumberedNameAndLongBaseNames) {
  TempFolder tmp;
  FSSpec spec;
  ASSERT_EQ(UFileUtils::CreateNewTempFile(PText("Tmp"), spec, true), noErr);
  EXPECT_EQ(PStr(spec.name), "Tmp1");
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdCreator, kTremblorixCreator);
  EXPECT_EQ(info.fdType, kUnknownFileType);
  EXPECT_EQ(FSSpecPath(spec), tmp / "cache/Tremblorix/Temporary Items/Tmp1");

  ASSERT_EQ(UFileUtils::CreateNewTempFile(PText("Tmp"), spec, false), noErr);
  EXPECT_EQ(PStr(spec.name), "Tmp2");
  EXPECT_FALSE(FSSpecExists(spec));  // not created without the flag

  // A base name of 255 characters is cut so that name and number fit.
  std::string longBase(255, 'b');
  for (int i = 0; i < 10; ++i) ASSERT_EQ(UFileUtils::CreateNewTempFile(PText(longBase), spec, true), noErr);
  EXPECT_EQ(PStr(spec.name), std::string(61, 'b') + "10");
  EXPECT_EQ(UFileUtils::CreateNewTempFile(PText(""), spec, true), paramErr);
  EXPECT_EQ(UFileUtils::CreateNewTempFile(nullptr, spec, true), paramErr);
}

TEST(FileChecks, ReasonTextsAndPaths) {
  TempFolder tmp;
  WriteText(tmp / "here", "x");
  FSSpec here = tmp.Spec("here");
  LStr255 reason("stale");
  EXPECT_EQ(UFileUtils::CheckFileExists(here, reason), noErr);
  EXPECT_EQ(Text(reason), "");
  FSSpec gone = tmp.Spec("gone");
  EXPECT_EQ(UFileUtils::CheckFileExists(gone, reason), fnfErr);
  EXPECT_EQ(Text(reason), "the file could not be found!");
  FSSpec noFolder;
  FSMakeFSSpecFromPath(tmp / "nofolder/x", &noFolder);
  EXPECT_EQ(UFileUtils::CheckFileExists(noFolder, reason), dirNFErr);
  EXPECT_EQ(Text(reason), "the directory could not be found!");

  LStr255 path;
  ASSERT_EQ(UFileUtils::GetFullPath(&here, path), noErr);
  EXPECT_EQ("/" + Text(path), tmp / "here");
  EXPECT_GT(UFileUtils::GetModificationDate(here.vRefNum, here.parID, here.name), 0u);
  EXPECT_EQ(UFileUtils::GetModificationDate(gone.vRefNum, gone.parID, gone.name), 0u);

  FSSpec app;
  ASSERT_EQ(UFileUtils::FindApplicationSpec(&app), noErr);
  Str255 title;
  UFileUtils::GetApplicationTitle(title);
  EXPECT_EQ(PStr(title), "test_toolkit_files");
}

TEST(FileSearch, DeepSearchFindsTheFolderHoldingTheFile) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp / "a/b/c");
  std::filesystem::create_directories(tmp / "z");
  WriteText(tmp / "a/b/c/target.mov", "x");
  WriteText(tmp / "z/other.mov", "y");
  SInt32 root = 0;
  Boolean isDir = false;
  ASSERT_EQ(GetDirectoryID(0, 0, PText(tmp.Path()), &root, &isDir), noErr);
  SInt32 dirID = root;
  EXPECT_TRUE(UFileUtils::DeepFileSearch(LStr255("target.mov"), 0, &dirID));
  EXPECT_EQ(FSDirectoryPath(dirID), tmp / "a/b/c");
  dirID = root;
  EXPECT_FALSE(UFileUtils::DeepFileSearch(LStr255("missing.mov"), 0, &dirID));
  EXPECT_EQ(dirID, root);
  // Long names are typed from the whole name, not the cut display name.
  std::string longName = std::string(80, 'n') + ".png";
  WriteText(tmp / longName, "p");
  FSSpec spec = tmp.Spec(longName);
  UFileUtils::SetImageTypeTest([](OSType t) { return t == 'PNGf'; });
  EXPECT_EQ(UFileUtils::IsImageFileAcceptable(spec), noErr);
  UFileUtils::SetImageTypeTest(nullptr);
}
