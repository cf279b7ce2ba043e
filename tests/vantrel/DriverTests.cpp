// The developer driver end to end on a small generated clip: analysis,
// control track, export through a real Vantrel, and the still.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "media/CMovieRendering.h"
#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/files/Files.h"
#include "platform/movies/Movies.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Files.h"
#include "support/movies/OpenMovie.h"

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
    Movie saved = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(out + "/shaky-analysed.mov", &saved), noErr);
    EXPECT_TRUE(CMotionData::HasValidMotionDataTrack(saved));
    CMotionData data;
    Rect bounds = {0, 0, 128, 192};
    EXPECT_EQ(data.ScanMovie(saved, bounds), noErr);
    EXPECT_EQ(data.GetRecords().GetCount(), 12);
    // Its control track was computed with a new document's settings:
    // shifts corrected, rotation and zoom not.
    MatrixRecord m1, m2;
    float s1 = 0, s2 = 0;
    Track control = nullptr;
    ASSERT_TRUE(CMovieRendering::GetTweenSample(saved, 1, m1, m2, s1, s2, &control));
    MotionSettings settings;
    ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(control, settings), noErr);
    EXPECT_EQ(settings.doHorizontal, 1);
    EXPECT_EQ(settings.doVertical, 1);
    EXPECT_EQ(settings.doRotation, 0);
    EXPECT_EQ(settings.doZoom, 0);
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

namespace {

int RunDriver(const std::string& inArguments, const std::string& inLog) {
  const std::string command = std::string(TRX_STABILISE_PATH) + " " + inArguments + " > " + inLog + " 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& inPath) {
  std::ifstream in(inPath);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int ControlTracksIn(const std::string& inPath) {
  Movie movie = testmovies::OpenMovieAt(inPath);
  if (movie == nullptr) return -1;
  int n = 0;
  for (SInt32 i = 1; i <= GetMovieTrackCount(movie); ++i)
    if (GetTrackLayer(GetMovieIndTrack(movie, i)) == 0x3100) ++n;
  DisposeMovie(movie);
  return n;
}

}  // namespace

// A picture below the tracker's minimum is refused with words; an analysed
// movie analysed again keeps one control track.
TEST(Driver, TinyPicturesAndReanalysis) {
  EnterMovies();
  char pattern[] = "/tmp/trx-driver-test-XXXXXX";
  const std::string out = mkdtemp(pattern);

  Movie tiny = exporttest::MakeMovie(40, 32, 6);
  FSSpec spec;
  FSMakeFSSpecFromPath(out + "/tiny.mov", &spec);
  DisposeMovie(FlattenMovieData(tiny, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                createMovieFileDeleteCurFile));
  DisposeMovie(tiny);
  EXPECT_EQ(RunDriver(out + "/tiny.mov --out " + out, out + "/tiny.txt"), 1);
  const std::string said = ReadAll(out + "/tiny.txt");
  EXPECT_NE(said.find("smaller than the tracker's 48x48 minimum"), std::string::npos) << said;

  ASSERT_EQ(RunDriver("--frames 8 --size 96x64 --out " + out, out + "/first.txt"), 0) << ReadAll(out + "/first.txt");
  EXPECT_EQ(ControlTracksIn(out + "/shaky-analysed.mov"), 1);
  fs::create_directory(out + "/again");
  ASSERT_EQ(RunDriver(out + "/shaky-analysed.mov --out " + out + "/again", out + "/again.txt"), 0)
      << ReadAll(out + "/again.txt");
  EXPECT_EQ(ControlTracksIn(out + "/again/shaky-analysed-analysed.mov"), 1);
  fs::remove_all(out);
}

// SIGTERM in the middle of a run: the driver ends Vantrel, removes its port
// folder and the export it had begun (nothing half-written stays), keeps the
// complete analysed movie and an earlier export of the same name, and exits
// with 128 + 15.
TEST(Driver, ASignalLeavesNothingHalfWritten) {
  char pattern[] = "/tmp/trx-driver-signal-XXXXXX";
  const std::string root = mkdtemp(pattern);
  const std::string out = root + "/out", tmp = root + "/tmp";
  fs::create_directories(out);
  fs::create_directories(tmp);
  const std::string earlier = "an earlier export the user keeps";
  {
    std::ofstream file(out + "/shaky-steady.mp4", std::ios::binary);
    file << earlier;
  }
  std::vector<std::string> args = {TRX_STABILISE_PATH, "--frames", "240", "--size", "640x360", "--out", out};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"TMPDIR=" + tmp};
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  const std::string log = root + "/log.txt";
  posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&files);

  // The analysed movie is saved just before the export starts; the signal
  // comes as soon as the export has begun its file beside the destination
  // (Vantrel writes it there until it is whole), so it always finds the
  // export half-written, however fast the export runs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  auto exporting = [&] {
    if (!fs::exists(out + "/shaky-analysed.mov")) return false;
    std::error_code ignored;
    for (const fs::directory_entry& e : fs::directory_iterator(out, ignored))
      if (e.path().filename().string().rfind(".shaky-steady.mp4.partial-", 0) == 0) return true;
    return false;
  };
  int status = 0;
  bool ended = false;
  while (!exporting() && std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(ended) << "the run ended before it could be interrupted: " << ReadAll(log);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << ReadAll(log);
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << ReadAll(log);
  EXPECT_TRUE(fs::is_empty(tmp)) << "the port folder stayed";
  EXPECT_EQ(ReadAll(out + "/shaky-steady.mp4"), earlier) << "the earlier export was not kept whole";
  for (const fs::directory_entry& e : fs::directory_iterator(out))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  EXPECT_EQ(ControlTracksIn(out + "/shaky-analysed.mov"), 1);
  fs::remove_all(root);
}
#endif
