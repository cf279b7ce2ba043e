// The developer driver end to end on a small generated clip: analysis,
// control track, export through a real Vantrel, and the still.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/files/Files.h"
#include "platform/movies/Movies.h"
#include "platform/export/ExportTestSupport.h"

namespace fs = std::filesystem;

#ifdef TRX_STABILISE_PATH
TEST(Driver, StabilisesAGeneratedClipThroughVantrel) {
  char pattern[] = "/tmp/trx-driver-test-XXXXXX";
  const std::string out = mkdtemp(pattern);
  const std::string command = std::string(TRX_STABILISE_PATH) + " --frames 12 --size 192x128 --out " + out +
                              " > " + out + "/log.txt 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << std::ifstream(out + "/log.txt").rdbuf();

  exporttest::FileFacts f = exporttest::Probe(out + "/shaky-steady.mp4");
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.video.packets, 12);
  EXPECT_NEAR(f.video.seconds, 0.4, 1e-3);
  EXPECT_EQ(f.video.width, 192);
  EXPECT_EQ(f.video.height, 128);
  EXPECT_TRUE(fs::exists(out + "/shaky-analysed.mov"));
  {
    // The saved movie carries its analysis: one motion record per frame.
    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpecFromPath(out + "/shaky-analysed.mov", &spec), noErr);
    SInt16 ref = 0;
    ASSERT_EQ(OpenMovieFile(&spec, &ref, 1), noErr);
    Movie saved = nullptr;
    SInt16 id = 0;
    ASSERT_EQ(NewMovieFromFile(&saved, ref, &id, nullptr, newMovieActive, nullptr), noErr);
    CloseMovieFile(ref);
    EXPECT_TRUE(CMotionData::HasValidMotionDataTrack(saved));
    CMotionData data;
    Rect bounds = {0, 0, 128, 192};
    EXPECT_EQ(data.ScanMovie(saved, bounds), noErr);
    EXPECT_EQ(data.GetRecords().GetCount(), 12);
    DisposeMovie(saved);
  }

  // The still is a PNG of both frames side by side.
  std::ifstream png(out + "/shaky-before-after.png", std::ios::binary);
  UInt8 head[24] = {0};
  png.read(reinterpret_cast<char*>(head), sizeof head);
  EXPECT_EQ(std::memcmp(head + 1, "PNG", 3), 0);
  EXPECT_EQ(ReadBE32(head + 16), 2u * 192);
  EXPECT_EQ(ReadBE32(head + 20), 128u);
  fs::remove_all(out);
}
#endif
