// A movie with more than one sound track exports all of its sound: the
// tracks sound together in the exported file, as the movie plays them. The
// movie is made here with the ffmpeg command and the exports are read back
// by it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/Aliases.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFImport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 8000;  // the rate the exports are read back at

bool HaveFFmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

bool RunCommand(const std::string& inCommand) { return std::system(inCommand.c_str()) == 0; }

// The first sound stream of a file, as mono 16-bit samples at kRate.
std::vector<SInt16> ReadSound(const std::string& inPath) {
  std::vector<SInt16> samples;
  const std::string command =
      "ffmpeg -v error -i '" + inPath + "' -map 0:a:0 -ac 1 -ar " + std::to_string(kRate) + " -f s16le -";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return samples;
  SInt16 buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, sizeof(SInt16), 4096, pipe)) > 0) samples.insert(samples.end(), buffer, buffer + n);
  pclose(pipe);
  return samples;
}

// How loud one frequency is in a stretch of the sound (Goertzel), as the
// amplitude of a sine of that frequency.
double Level(const std::vector<SInt16>& inSamples, double inFrom, double inTo, double inFrequency) {
  const size_t first = static_cast<size_t>(inFrom * kRate), last = static_cast<size_t>(inTo * kRate);
  if (last > inSamples.size() || last <= first) return -1;
  const double w = 2 * M_PI * inFrequency / kRate, k = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (size_t i = first; i < last; ++i) {
    const double s0 = inSamples[i] / 32768.0 + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
  return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(last - first);
}

struct Exporter {
  MovieExportComponent ci = nullptr;
  explicit Exporter(OSType inSubtype) { EXPECT_EQ(OpenADefaultComponent(MovieExportType, inSubtype, &ci), noErr); }
  ~Exporter() {
    if (ci) CloseComponent(ci);
  }
};

class SoundTracksExport : public ::testing::Test {
 protected:
  void SetUp() override {
    EnterMovies();
    char pattern[] = "/tmp/trx-sound-tracks-XXXXXX";
    mFolder = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(mFolder); }
  std::string mFolder;
};

}  // namespace

// Two sound tracks: a stereo 1 kHz tone from 0.5 s in the first, a mono
// 440 Hz tone from 1.5 s in the second (at another rate, in another codec).
// Every exporter's file holds both tones, each from its own time, and
// nothing before them.
TEST_F(SoundTracksExport, EveryEnabledSoundTrackIsHeardInTheExport) {
  if (!HaveFFmpeg()) GTEST_SKIP() << "no ffmpeg command";
  const std::string source = mFolder + "/two-tracks.mov";
  ASSERT_TRUE(RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=160x96:rate=25 "
                  "-f lavfi -i \"aevalsrc='if(gte(t,0.5),0.5*sin(2*PI*1000*t),0)':s=48000:c=stereo:d=2.5\" "
                  "-f lavfi -i \"aevalsrc='if(gte(t,1.5),0.5*sin(2*PI*440*t),0)':s=44100:c=mono:d=2.5\" "
                  "-map 0 -map 1 -map 2 -t 2.5 -c:v mjpeg -c:a:0 pcm_s16le -c:a:1 mp2 '" +
                  source + "'"));
  Movie movie = nullptr;
  ASSERT_EQ(ImportMovieWithFFmpeg(source, &movie), noErr);
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(GetMovieIndTrackType(movie, 2, SoundMediaType, movieTrackMediaType | movieTrackEnabledOnly) != nullptr,
            true);

  for (OSType subtype : {OSType('AIFF'), OSType('WAVE'), OSType('mpg4'), OSType('MooV')}) {
    SCOPED_TRACE(std::string(1, static_cast<char>(subtype >> 24)) + static_cast<char>(subtype >> 16) +
                 static_cast<char>(subtype >> 8) + static_cast<char>(subtype));
    const std::string dest = mFolder + "/out-" + std::to_string(subtype) + ".export";
    FSSpec spec;
    FSMakeFSSpecFromPath(dest, &spec);
    {
      Exporter e(subtype);
      ASSERT_NE(e.ci, nullptr);
      ASSERT_EQ(MovieExportToFile(e.ci, &spec, movie, nullptr, 0, GetMovieDuration(movie)), noErr);
    }
    const std::vector<SInt16> sound = ReadSound(dest);
    ASSERT_GE(sound.size(), static_cast<size_t>(2.3 * kRate));
    // Before the first tone: silence. Between them: the first tone only.
    EXPECT_LT(Level(sound, 0.1, 0.4, 1000), 0.02);
    EXPECT_LT(Level(sound, 0.1, 0.4, 440), 0.02);
    EXPECT_GT(Level(sound, 0.7, 1.3, 1000), 0.3);
    EXPECT_LT(Level(sound, 0.7, 1.3, 440), 0.02);
    // From 1.5 s: both, the second track's tone as loud as it was made.
    EXPECT_GT(Level(sound, 1.7, 2.3, 1000), 0.3);
    EXPECT_GT(Level(sound, 1.7, 2.3, 440), 0.3) << "the second sound track is missing";
  }
  DisposeMovie(movie);
}
