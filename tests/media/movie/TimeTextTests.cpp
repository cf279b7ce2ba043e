#include <gtest/gtest.h>

#include "media/UMovies.h"
#include "platform/framework/LStr255.h"

TEST(MovieTimeTexts, MillisecondTextsReadBack) {
  for (double seconds : {3661.5, 61.25, 0.001, 59.999, 7.0}) {
    LStr255 text;
    UMovies::GetMSecString(seconds, text);
    double back = -1;
    ASSERT_TRUE(UMovies::StringToTimeValue(text, back)) << seconds;
    EXPECT_NEAR(back, seconds, 1e-6) << seconds;
  }
  double value = 0;
  EXPECT_FALSE(UMovies::StringToTimeValue(LStr255("1:2:3:4"), value));
  EXPECT_FALSE(UMovies::StringToTimeValue(LStr255("1.5:30"), value));
  EXPECT_FALSE(UMovies::StringToTimeValue(LStr255("12a"), value));
  EXPECT_FALSE(UMovies::StringToTimeValue(LStr255(""), value));
  ASSERT_TRUE(UMovies::StringToTimeValue(LStr255("2:00:00"), value));
  EXPECT_EQ(value, 7200.0);
}
