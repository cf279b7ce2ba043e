#include <gtest/gtest.h>

#include <string>

#include "media/CTweenTracks.h"
#include "media/UMovies.h"

TEST(MediaTypeNames, EveryListedTypeHasItsNameAndOthersNone) {
  const struct {
    OSType type;
    const char* name;
  } rows[] = {{VideoMediaType, "Video"}, {SoundMediaType, "Sound"}, {TextMediaType, "Text"},
              {BaseMediaType, "Base"},   {'MPEG', "MPEG"},         {'musi', "Music"},
              {TimeCodeMediaType, "Time Code"}, {'sprt', "Sprite"}, {'flsh', "Flash"},
              {'moov', "Movie"},         {'qd3d', "3 D"},          {'skin', "Skin"},
              {kTweenMediaType, "Tween"}};
  for (const auto& r : rows) {
    const char* name = UMovies::GetMediaTypeName(r.type);
    ASSERT_NE(name, nullptr) << r.name;
    EXPECT_EQ(std::string(name), r.name);
  }
  for (OSType unknown : {OSType(0), OSType('VIDE'), OSType('mpeg'), OSType('subt'), OSType('xxxx')})
    EXPECT_EQ(UMovies::GetMediaTypeName(unknown), nullptr) << unknown;
}

TEST(MovieFileTypes, TheReadableMovieTypesAreTheSixTheOpenDialogLists) {
  for (OSType type : {OSType('MooV'), OSType('dvc!'), OSType('VfW '), OSType('FLC '), OSType('mpg4'), OSType('SWFL')})
    EXPECT_TRUE(UMovies::IsReadableMovieFileType(type)) << type;
  for (OSType type : {OSType(0), OSType('PDF '), OSType('GIFf'), OSType('3gpp'), OSType('moov'), OSType('TEXT')})
    EXPECT_FALSE(UMovies::IsReadableMovieFileType(type)) << type;
}
