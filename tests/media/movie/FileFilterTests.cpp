#include <gtest/gtest.h>

#include <fstream>

#include "media/UMovies.h"
#include "platform/files/TempFolder.h"

// The open dialogs' filter shows folders and the movie types the program
// opens, by name or by Finder type, and hides other files (still images
// too, while no graphics importer is known).
TEST(FileFilterProc, ShowsFoldersAndMovieFilesOnly) {
  TempFolder tmp;
  const char* names[] = {"clip.mov", "clip.avi", "clip.dv", "clip.mp4", "notes.txt", "photo.jpg", "typed"};
  for (const char* name : names) std::ofstream(tmp / name) << "x";
  FSSpec typed = tmp.Spec("typed");
  FInfo info = {};
  FSpGetFInfo(&typed, &info);
  info.fdType = 'mpg4';
  ASSERT_EQ(FSpSetFInfo(&typed, &info), noErr);

  EXPECT_TRUE(UMovies::FileFilterProc(tmp.Spec("clip.mov"), false));
  EXPECT_TRUE(UMovies::FileFilterProc(tmp.Spec("clip.avi"), false));
  EXPECT_TRUE(UMovies::FileFilterProc(tmp.Spec("clip.dv"), false));
  EXPECT_TRUE(UMovies::FileFilterProc(tmp.Spec("clip.mp4"), false));
  EXPECT_TRUE(UMovies::FileFilterProc(typed, false));
  EXPECT_FALSE(UMovies::FileFilterProc(tmp.Spec("notes.txt"), false));
  EXPECT_FALSE(UMovies::FileFilterProc(tmp.Spec("photo.jpg"), false));
  EXPECT_FALSE(UMovies::FileFilterProc(tmp.Spec("missing.txt"), false));
  FSSpec folder;
  ASSERT_EQ(FSMakeFSSpecFromPath(tmp.Path(), &folder), noErr);
  EXPECT_TRUE(UMovies::FileFilterProc(folder, true));
}
