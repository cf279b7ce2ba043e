// The real program end to end, headless, with a real Vantrel: a generated
// shaky movie given at launch is analysed, its session opened, a smoothing
// time set, applied, saved, exported and the program quits, all through its
// menus' commands from a script. The exported movie has the input's frames,
// the saved one reopens with its motion-data and control tracks, and each
// step left a photo.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <cmath>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CMotionData.h"
#include "platform/files/Files.h"
#include "platform/files/TempFolder.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "support/movies/OpenMovie.h"
#include "support/ui/UiTestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

int RunProgram(const std::vector<std::string>& inArgs) {
  std::vector<char*> argv;
  for (const std::string& a : inArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The video frames of a movie, counted through its visual sample times.
int CountFrames(Movie inMovie) {
  OSType eyes = 'eyes';
  int count = 0;
  TimeValue t = 0;
  GetMovieNextInterestingTime(inMovie, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, t, fixed1, &t, nullptr);
  while (t >= 0) {
    ++count;
    GetMovieNextInterestingTime(inMovie, nextTimeMediaSample, 1, &eyes, t, fixed1, &t, nullptr);
  }
  return count;
}

// The shake of a movie: the root mean square of its frame-to-frame motion
// about the mean motion, measured by the automatic tracker over the middle
// of the picture (away from the borders a steadied movie fills).
double MeasuredShake(Movie inMovie) {
  Rect box;
  GetMovieBox(inMovie, &box);
  OffsetRect(&box, static_cast<SInt16>(-box.left), static_cast<SInt16>(-box.top));
  CBuffer* frame = new CBuffer(box, kBufferDepth8, kBufferModeARGB);
  GWorldPtr world = frame->CreateGWorld(nullptr, nullptr);
  if (world == nullptr) {
    frame->Release();
    return -1;
  }
  SetMovieGWorld(inMovie, world, nullptr);
  const SInt16 w = box.right, h = box.bottom;
  const Rect inner = {static_cast<SInt16>(h / 6), static_cast<SInt16>(w / 6), static_cast<SInt16>(h - h / 6),
                      static_cast<SInt16>(w - w / 6)};
  CAutoMotionTracker tracker;
  tracker.BeginTracking(frame, inner, nullptr, nullptr);
  OSType eyes = 'eyes';
  TimeValue t = 0, duration = 0;
  GetMovieNextInterestingTime(inMovie, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, t, fixed1, &t, &duration);
  while (t >= 0) {
    SetMovieTimeValue(inMovie, t);
    UpdateMovie(inMovie);
    MoviesTask(inMovie, 0);
    tracker.ProcessFrame(duration, ETrackerFieldMode::kFrame, nullptr, nullptr);
    GetMovieNextInterestingTime(inMovie, nextTimeMediaSample, 1, &eyes, t, fixed1, &t, &duration);
  }
  tracker.EndTracking();
  SetMovieGWorld(inMovie, nullptr, nullptr);
  DisposeGWorld(world);
  frame->Release();
  // The first frame has nothing before it; the last closes the scene, whose
  // smoothing leaves it out of the backward pass, so it is not steadied.
  TArray<DiffMotionData>& records = tracker.GetMotionDataArray();
  std::vector<double> xs, ys;
  for (SInt32 i = 2; i < records.GetCount(); ++i) {
    xs.push_back(records[i].xShift);
    ys.push_back(records[i].yShift);
  }
  if (xs.empty()) return -1;
  // About the mean motion: a steady pan is kept, the shake about it is not.
  double mx = 0, my = 0;
  for (size_t i = 0; i < xs.size(); ++i) {
    mx += xs[i];
    my += ys[i];
  }
  mx /= double(xs.size());
  my /= double(ys.size());
  double sum = 0;
  for (size_t i = 0; i < xs.size(); ++i) sum += (xs[i] - mx) * (xs[i] - mx) + (ys[i] - my) * (ys[i] - my);
  return std::sqrt(sum / double(xs.size()));
}

class ApplicationEndToEndTest : public UiFixture {};

}  // namespace

TEST_F(ApplicationEndToEndTest, AShakyMovieIsAnalysedSteadiedSavedAndExportedThroughThePrograms) {
  TempFolder tmp;
  const std::string input = tmp / "shaky.mov";
  ASSERT_EQ(RunProgram({TRX_STABILISE_PROGRAM, "--generate", input, "--frames", "24", "--size", "320x192"}), 0);
  const std::string shots = std::string(TRX_SCREENSHOT_DIR) + "/application_end_to_end";
  fs::create_directories(shots);
  const std::string saved = tmp / "shaky-saved.mov";
  const std::string steady = tmp / "shaky-steady.mp4";
  const std::string script = tmp / "job.script";
  std::ofstream(script) << "out " << shots << "\n"
                        << "until windows=1 60\nwait 0.3\nshot 1-opened\n"
                        << "command 6001\nuntil analysed 300\nshot 2-analysed\n"
                        << "command 6003\nuntil session 60\nshot 3-session\n"
                        << "set smoothing 2.0\nwait 0.3\nshot 4-smoothing\n"
                        << "command 6004\nuntil nosession 120\nshot 5-applied\n"
                        << "answer save 1 " << saved << "\ncommand 6\nuntil saved 300\nshot 6-saved\n"
                        << "set exporter mpg4\nanswer save 1 " << steady << "\ncommand 6100\nuntil exported 600\nshot 7-exported\n"
                        << "quit\n";
  // The program in its own session: its own preferences, runtime folder and ports.
  const std::string oldHome = ::getenv("HOME") ? ::getenv("HOME") : "";
  ::setenv("HOME", tmp.Path().c_str(), 1);
  EXPECT_EQ(RunProgram({TRX_PROGRAM, "--script", script, input}), 0);
  ::setenv("HOME", oldHome.c_str(), 1);

  for (const char* step : {"1-opened", "2-analysed", "3-session", "4-smoothing", "5-applied", "6-saved", "7-exported"})
    EXPECT_TRUE(fs::exists(shots + "/" + step + ".png")) << step;

  InstallFFmpegMovieComponents();
  Movie in = testmovies::OpenMovieAt(input);
  ASSERT_NE(in, nullptr);
  Movie out = testmovies::OpenMovieAt(steady);
  ASSERT_NE(out, nullptr) << "no exported movie";
  EXPECT_EQ(CountFrames(out), CountFrames(in));
  // Steadied: what shake the tracker still finds is under a tenth of the input's.
  const double shakeIn = MeasuredShake(in), shakeOut = MeasuredShake(out);
  EXPECT_GT(shakeIn, 1.0);
  EXPECT_GE(shakeOut, 0.0);
  EXPECT_LT(shakeOut, shakeIn / 10) << "input " << shakeIn << " px, output " << shakeOut << " px";
  Movie reopened = testmovies::OpenMovieAt(saved);
  ASSERT_NE(reopened, nullptr) << "no saved movie";
  EXPECT_TRUE(CMotionData::HasValidMotionDataTrack(reopened));
  EXPECT_GT(CTweenTracks::HasControlTracks(reopened), 0);
  EXPECT_EQ(CountFrames(reopened), CountFrames(in));
  // The control track carries the smoothing time the script asked for, not
  // the tenth less that the slider position of that time shows.
  MatrixRecord m1, m2;
  float s1 = 0, s2 = 0;
  Track control = nullptr;
  MotionSettings settings;
  ASSERT_TRUE(CMovieRendering::GetTweenSample(reopened, 0, m1, m2, s1, s2, &control));
  ASSERT_EQ(CMovieRendering::ReadMoSettingsFromTrack(control, settings), noErr);
  EXPECT_FLOAT_EQ(settings.lowpassTime, 2.0f);
  DisposeMovie(reopened);
  DisposeMovie(out);
  DisposeMovie(in);
}
