#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/TrxLog.h"

namespace {
std::vector<std::string> gLines;
void Catch(const char* inLine) { gLines.emplace_back(inLine); }
}  // namespace

// Off: nothing is written. On: one line a message, area first, without the
// message's own newline.
TEST(TrxLog, OffByDefaultOneLineWhenOn) {
  gLines.clear();
  TrxLogSetForTesting(false, Catch);
  TrxLog("movies", "lost %d", 1);
  EXPECT_TRUE(gLines.empty());
  TrxLogSetForTesting(true, Catch);
  TrxLog("movies", "decode of \"%s\" stream %d failed: %d\n", "a.mov", 0, -8960);
  TrxLogSetForTesting(false, nullptr);
  ASSERT_EQ(gLines.size(), 1u);
  EXPECT_EQ(gLines[0], "trx movies: decode of \"a.mov\" stream 0 failed: -8960");
}
