#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TaskTestSupport.h"
#include "media/CMovieTrack.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "motion/CMovieStatistic.h"
#include "platform/base/Clock.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Files.h"
#include "platform/movies/MovieFFCodecs.h"

using namespace tasktest;

namespace {

std::string Report(CMovieStatistic& inStatistic) {
  Handle h = inStatistic.CreateReport();
  std::string text(*h, static_cast<size_t>(GetHandleSize(h)));
  DisposeHandle(h);
  for (char& c : text)
    if (c == 13) c = '\n';
  return text;
}

Movie Frames(SInt32 inCount, TimeValue inDuration, TimeScale inScale) {
  return MakeRawMovie(16, 8, inCount, inDuration, inScale, [](SInt32, CBuffer*) {});
}

SInt16 sCancelAfter = 0;
SInt16 CancelProc(SInt16 inMessage, SInt32, SInt32, unsigned char*) {
  if (inMessage == kProgressUpdate && --sCancelAfter <= 0) return -128;
  return 0;
}

// A 'twen' track of the layer with two 64-byte samples.
void AddTweenTrack(Movie inMovie, SInt16 inLayer) {
  SInt32 scale = GetMovieTimeScale(inMovie);
  Track track = nullptr;
  {
    CMovieTrackMedia builder(inMovie, Rect{0, 0, 8, 16}, 'twen', &scale);
    Handle desc = NewHandleClear(16);
    reinterpret_cast<SampleDescription*>(*desc)->descSize = 16;
    Handle sample = NewHandleClear(64);
    builder.AddSample(24, sample, 64, 0, reinterpret_cast<SampleDescriptionHandle>(desc), 0);
    builder.AddSample(24, sample, 64, 0, reinterpret_cast<SampleDescriptionHandle>(desc), 0);
    DisposeHandle(sample);
    DisposeHandle(desc);
    track = builder.GetTrack();
  }
  SetTrackLayer(track, inLayer);
}

struct Statistics : ::testing::Test {
  void SetUp() override { UseBundle(); }
};

}  // namespace

// 25 frames of 40 ms at time scale 600: one histogram line, rate 25.000;
// mixed durations give one line each in ascending order; track names by
// media and by layer for tween tracks.
TEST_F(Statistics, HistogramRateAndTracks) {
  Movie m = Frames(25, 24, 600);
  {
    // A spatial quality that has no name.
    Media video = GetTrackMedia(GetMovieIndTrack(m, 1));
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(0));
    GetMediaSampleDescription(video, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
    (**desc).spatialQuality = 333;
    SetMediaSampleDescription(video, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  AddTweenTrack(m, kMotionTrackLayer);
  AddTweenTrack(m, 0x3100);
  AddTweenTrack(m, 0);
  CMovieStatistic s(m);
  ASSERT_EQ(s.ScanMovie(nullptr, nullptr), noErr);
  EXPECT_EQ(s.GetFrameCount(), 25);
  ASSERT_EQ(s.GetHistogram().size(), 1u);
  EXPECT_EQ(s.GetCommonestDuration(), 24);
  const std::string r = Report(s);
  EXPECT_EQ(r.rfind("Movie\n", 0), 0u) << r;
  EXPECT_NE(r.find("Frames: 25\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Frame rate: 25.000 frames/s\n\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Frame durations:\n- 25 frames of 0.040 s\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\nTrack 1: Video\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\nTrack 2: Motion Data\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\nTrack 3: Stabilisation Control\n"), std::string::npos) << r;
  EXPECT_NE(r.find("\nTrack 4: Tween\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Size: 16x8 Pixel\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Samples: 25\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Data size: 12 kB\n"), std::string::npos) << r;  // 25 x 512 bytes of pixels
  EXPECT_NE(r.find("Data size: 128 Bytes\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Quality: 333\n"), std::string::npos) << r;  // an unlisted quality is shown as its number
  DisposeMovie(m);

  // Two durations: two lines, shortest first; a single frame says "frame".
  Movie mixed = NewMovie(newMovieActive);
  SetMovieTimeScale(mixed, 600);
  Movie a = Frames(3, 30, 600), b = Frames(1, 20, 600);
  InsertMovieSegment(a, mixed, 0, GetMovieDuration(a), 0);
  InsertMovieSegment(b, mixed, 0, GetMovieDuration(b), GetMovieDuration(mixed));
  CMovieStatistic t(mixed);
  ASSERT_EQ(t.ScanMovie(nullptr, nullptr), noErr);
  const std::string r2 = Report(t);
  EXPECT_NE(r2.find("- 1 frame of 0.033 s\n- 3 frames of 0.050 s\n"), std::string::npos) << r2;
  DisposeMovie(a);
  DisposeMovie(b);
  DisposeMovie(mixed);
}

// One frame; an empty movie (no division by its zero duration); a
// cancelled scan keeps what it counted; no movie at all is -50.
TEST_F(Statistics, OneFrameEmptyMovieAndCancel) {
  Movie one = Frames(1, 40, 1000);
  CMovieStatistic s(one);
  ASSERT_EQ(s.ScanMovie(nullptr, nullptr), noErr);
  EXPECT_NE(Report(s).find("- 1 frame of 0.040 s\n"), std::string::npos) << Report(s);
  Handle report = UMovies::AnalyzeMovie(one);
  ASSERT_NE(report, nullptr);
  EXPECT_GT(GetHandleSize(report), 0);
  DisposeHandle(report);
  DisposeMovie(one);

  Movie empty = NewMovie(newMovieActive);
  CMovieStatistic e(empty);
  ASSERT_EQ(e.ScanMovie(nullptr, nullptr), noErr);
  EXPECT_EQ(e.GetFrameCount(), 0);
  const std::string r = Report(e);
  EXPECT_NE(r.find("Frame rate: 0.000 frames/s"), std::string::npos) << r;
  EXPECT_EQ(r.find("Frame durations:"), std::string::npos) << r;
  DisposeMovie(empty);

  {
    StManualClock clock;
    Movie many = Frames(400, 10, 600);
    // Each frame counted takes 4 ticks: the scan reports every third frame.
    struct Slow : CMovieStatistic {
      using CMovieStatistic::CMovieStatistic;
      void AddDuration(SInt32 inDuration) override {
        UClock::AdvanceTicks(4);
        CMovieStatistic::AddDuration(inDuration);
      }
    } c(many);
    sCancelAfter = 3;
    EXPECT_EQ(c.ScanMovie(CancelProc, nullptr), userCanceledErr);
    EXPECT_GT(c.GetFrameCount(), 3);
    EXPECT_LT(c.GetFrameCount(), 30);
    EXPECT_NE(Report(c).find("Frames: " + std::to_string(c.GetFrameCount()) + "\n"), std::string::npos);
    DisposeMovie(many);
  }

  CMovieStatistic none(static_cast<Movie>(nullptr));
  EXPECT_EQ(none.ScanMovie(nullptr, nullptr), paramErr);
  EXPECT_EQ(UMovies::AnalyzeMovie(nullptr), nullptr);
}

// A movie file whose type is not a movie type: no durations, counts,
// histogram or offsets; its name is reported. The same file named .mov is a movie.
TEST_F(Statistics, NonMovieFileReportsNoTimes) {
  Movie m = Frames(5, 40, 1000);
  const auto dir = std::filesystem::temp_directory_path();
  for (const char* name : {"trx-stat.dat", "trx-stat.mov"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir / name).string();
    FSSpec spec;
    FSMakeFSSpecFromPath(path, &spec);
    Movie saved = FlattenMovieData(m, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                   createMovieFileDeleteCurFile);
    ASSERT_NE(saved, nullptr);
    DisposeMovie(saved);
    FInfo info{};
    FSpGetFInfo(&spec, &info);
    info.fdType = 'BINA';
    FSpSetFInfo(&spec, &info);
    CMovieStatistic s(&spec);
    ASSERT_EQ(s.ScanMovie(nullptr, nullptr), noErr);
    const std::string r = Report(s);
    EXPECT_NE(r.find(std::string("Name: ") + name + "\n"), std::string::npos) << r;
    const bool movie = std::string(name).ends_with(".mov");
    EXPECT_EQ(s.IsMovie(), movie);
    EXPECT_EQ(r.rfind(movie ? "Movie\n" : "File (not a movie)\n", 0), 0u) << r;
    EXPECT_EQ(r.find("Frame durations:") != std::string::npos, movie) << r;
    EXPECT_EQ(r.find("Offset:") != std::string::npos, movie) << r;
    EXPECT_NE(r.find("Track 1: Video"), std::string::npos) << r;
    std::filesystem::remove(path);
  }
  DisposeMovie(m);
  // A file that holds no movie fails to open.
  const std::string junk = (dir / "trx-stat-junk.mov").string();
  std::ofstream(junk) << "not a movie at all";
  FSSpec spec;
  FSMakeFSSpecFromPath(junk, &spec);
  EXPECT_THROW(CMovieStatistic bad(&spec), LException);
  std::filesystem::remove(junk);
}

// Movies written by the ffmpeg command: a 30 fps movie whose sound runs on a
// second past the last picture is reported at 30 frames per second, every
// frame of 1/30 s; a movie of sound alone has no frame and no frame rate.
TEST_F(Statistics, FramesEndWithThePicturesAndSoundAloneHasNone) {
  ASSERT_EQ(EnterMovies(), noErr);
  InstallFFmpegMovieComponents();
  const auto dir = std::filesystem::temp_directory_path();
  const std::string pictures = (dir / "trx-stat-30.mov").string(), sound = (dir / "trx-stat-sound.mp4").string();
  const std::string ffmpeg = "ffmpeg -nostdin -loglevel error -y ";
  ASSERT_EQ(std::system((ffmpeg +
                         "-f lavfi -i testsrc2=size=160x120:rate=30:duration=2 -f lavfi -i "
                         "sine=duration=3 -c:v mjpeg -c:a pcm_s16le '" +
                         pictures + "'")
                            .c_str()),
            0);
  ASSERT_EQ(std::system((ffmpeg + "-f lavfi -i sine=duration=2 -ac 2 -c:a aac '" + sound + "'").c_str()), 0);
  {
    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpecFromPath(pictures, &spec), noErr);
    CMovieStatistic s(&spec);
    ASSERT_EQ(s.ScanMovie(nullptr, nullptr), noErr);
    const std::string r = Report(s);
    // The sound outlasts the pictures: that is what would change the figures.
    ASSERT_NE(r.find("Duration: 3.000 s\n"), std::string::npos) << r;
    EXPECT_EQ(s.GetFrameCount(), 60) << r;
    EXPECT_NE(r.find("Frame rate: 30.000 frames/s\n"), std::string::npos) << r;
    // Every histogram line is a frame of 1/30 s.
    std::istringstream lines(r);
    for (std::string l; std::getline(lines, l);)
      if (l.rfind("- ", 0) == 0) {
        EXPECT_TRUE(l.ends_with("of 0.033 s") || l.ends_with("of 0.034 s")) << r;
      }
  }
  {
    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpecFromPath(sound, &spec), noErr);
    CMovieStatistic s(&spec);
    ASSERT_EQ(s.ScanMovie(nullptr, nullptr), noErr);
    const std::string r = Report(s);
    EXPECT_EQ(s.GetFrameCount(), 0) << r;
    EXPECT_NE(r.find("Frames: 0\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Frame rate: 0.000 frames/s\n"), std::string::npos) << r;
    EXPECT_EQ(r.find("Frame durations:"), std::string::npos) << r;
    EXPECT_NE(r.find("Track 1: Sound\n"), std::string::npos) << r;
  }
  std::filesystem::remove(pictures);
  std::filesystem::remove(sound);
}
