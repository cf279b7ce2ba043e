// Playback sound of the movie toolbox. Movies with a known tone are written
// with the exporters' muxer and played on the manual clock through a
// recording output: at rate 1 the output receives exactly the decoded sound
// of the stretch of movie time that passed, in order; other rates, a muted
// movie and a stopped one deliver nothing; a seek starts the sound again at
// the new time. The PulseAudio output is tried against a private server with
// a null sink when pulseaudio is installed, and falls back silently without.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/ffmpeg/FFTestSupport.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/SoundOutput.h"
#include "support/movies/OpenMovie.h"

using namespace fftest;

extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\nleak:libpulse\n"; }

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 3;

// A 64x48 movie of kSeconds at 30 frames per second with a stereo tone,
// sound coded as `inCodec` in the exporter's container.
void WriteToneMovie(const std::string& inPath, OSType inExporter, OSType inCodec, int inRate = kRate) {
  FFExportSettings settings;
  settings.soundCodec = inCodec;
  CFFMuxer muxer(inPath, inExporter, settings);
  const SInt32 video = muxer.AddVideoTrack(64, 48, 600, 20);
  const SInt32 sound = muxer.AddSoundTrack(inRate, 2);
  muxer.Begin();
  const std::vector<SInt16> tone = MakeSine(inRate * kSeconds, inRate, 2);
  const int frames = 30 * kSeconds;
  const size_t perFrame = static_cast<size_t>(inRate / 30);
  for (int i = 0; i < frames; ++i) {
    fftest::Picture p = MakeFrame(64, 48, i);
    muxer.WriteVideoFrame(video, p.Buffer(), static_cast<TimeValue64>(i) * 20, 20);
    muxer.WriteSound(sound, tone.data() + static_cast<size_t>(i) * perFrame * 2, static_cast<UInt32>(perFrame));
  }
  muxer.Finish();
}

Movie OpenMovie(const std::string& inPath) {
  Movie movie = nullptr;
  EXPECT_EQ(testmovies::OpenMovieAt(inPath, &movie), noErr);
  return movie;
}

// The whole sound of the movie's sound track, decoded.
std::vector<SInt16> DecodedSound(Movie inMovie) {
  Track track = GetMovieIndTrackType(inMovie, 1, SoundMediaType, movieTrackMediaType);
  EXPECT_NE(track, nullptr);
  std::vector<SInt16> samples;
  SInt16 channels = 0;
  Float64 rate = 0;
  EXPECT_EQ(GetMediaSound16(GetTrackMedia(track), samples, &channels, &rate), noErr);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(rate, kRate);
  return samples;
}

// Frames [inFirst, inFirst + inCount) of interleaved stereo sound.
std::vector<SInt16> Slice(const std::vector<SInt16>& inSound, size_t inFirst, size_t inCount) {
  if (2 * (inFirst + inCount) > inSound.size()) return {};
  return std::vector<SInt16>(inSound.begin() + static_cast<std::ptrdiff_t>(2 * inFirst),
                             inSound.begin() + static_cast<std::ptrdiff_t>(2 * (inFirst + inCount)));
}

// Lets the sound thread act on what it was told, in real time.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(80)); }

class MovieSound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(EnterMovies(), noErr);
    InstallFFmpegMovieComponents();
    mRecorder = std::make_shared<CSoundRecorder>();
    SetSoundOutputFactory(mRecorder->Factory());
  }
  void TearDown() override { SetSoundOutputFactory(nullptr); }

  std::shared_ptr<CSoundRecorder> mRecorder;
};

}  // namespace

// One second of movie time at rate 1 delivers that second of the decoded
// track, in order; stopping delivers no more however far the clock runs.
TEST_F(MovieSound, OneSecondAtTheNormalRateIsThatSecondOfSound) {
  struct Case {
    OSType exporter;
    OSType codec;
    const char* name;
  };
  for (const Case& c : {Case{'MooV', 'sowt', "tone.mov"}, Case{'mpg4', 'mp4a', "tone.mp4"}}) {
    SCOPED_TRACE(c.name);
    TempFile file(c.name);
    WriteToneMovie(file.path, c.exporter, c.codec);
    Movie movie = OpenMovie(file.path);
    ASSERT_NE(movie, nullptr);
    const std::vector<SInt16> decoded = DecodedSound(movie);
    ASSERT_GE(decoded.size(), 2u * kRate * 2);
    mRecorder->Clear();
    {
      StManualClock clock;
      StartMovie(movie);
      UClock::AdvanceSeconds(1.0);
      EXPECT_EQ(GetMovieTime(movie, nullptr), GetMovieTimeScale(movie));
      EXPECT_TRUE(mRecorder->WaitForFrames(kRate, 20000));
      Settle();
      StopMovie(movie);
      UClock::AdvanceSeconds(1.0);
      Settle();
    }
    CSoundRecorder::Record r = mRecorder->Get();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.rate, kRate);
    EXPECT_EQ(r.channels, 2);
    ASSERT_EQ(r.samples.size(), 2u * kRate);
    // The track's edit starts after the encoder's priming frames (AAC):
    // the sound heard is the decoded track from there.
    Track track = GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType);
    const TimeValue first = TrackTimeToMediaTime(0, track);
    ASSERT_EQ(GetMediaTimeScale(GetTrackMedia(track)), kRate);
    EXPECT_TRUE(r.samples == Slice(decoded, static_cast<size_t>(first), kRate)) << "not the first second of the track";
    if (c.codec == 'sowt') {
      // Uncompressed, the output is the very tone that was written.
      EXPECT_TRUE(r.samples == MakeSine(kRate, kRate, 2));
    }
    DisposeMovie(movie);
  }
}

// Stopped half-way, seeking while playing, disposing while playing.
TEST_F(MovieSound, StopSeekAndDisposeEndTheSoundCleanly) {
  TempFile file("seek.mov");
  WriteToneMovie(file.path, 'MooV', 'sowt');
  Movie movie = OpenMovie(file.path);
  ASSERT_NE(movie, nullptr);
  const std::vector<SInt16> decoded = DecodedSound(movie);
  const TimeScale scale = GetMovieTimeScale(movie);
  StManualClock clock;

  StartMovie(movie);
  UClock::AdvanceSeconds(0.5);
  EXPECT_TRUE(mRecorder->WaitForFrames(kRate / 2, 20000));
  StopMovie(movie);
  UClock::AdvanceSeconds(1.0);
  Settle();
  EXPECT_TRUE(mRecorder->Get().samples == Slice(decoded, 0, kRate / 2));

  // Playing from 1.5 s, then a seek to 0.25 s: each stretch is the sound of
  // the movie time it played.
  mRecorder->Clear();
  SetMovieTimeValue(movie, scale * 3 / 2);
  StartMovie(movie);
  UClock::AdvanceSeconds(0.25);
  EXPECT_TRUE(mRecorder->WaitForFrames(kRate / 4, 20000));
  Settle();
  SetMovieTimeValue(movie, scale / 4);
  UClock::AdvanceSeconds(0.5);
  EXPECT_TRUE(mRecorder->WaitForFrames(kRate * 3 / 4, 20000));
  Settle();
  StopMovie(movie);
  CSoundRecorder::Record r = mRecorder->Get();
  EXPECT_EQ(r.opens, 2);
  ASSERT_EQ(r.samples.size(), 2u * kRate * 3 / 4);
  std::vector<SInt16> expected = Slice(decoded, kRate * 3 / 2, kRate / 4);
  const std::vector<SInt16> second = Slice(decoded, kRate / 4, kRate / 2);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_TRUE(r.samples == expected);

  // Disposing of a playing movie ends its sound.
  mRecorder->Clear();
  SetMovieTimeValue(movie, 0);
  StartMovie(movie);
  UClock::AdvanceSeconds(0.1);
  EXPECT_TRUE(mRecorder->WaitForFrames(kRate / 10, 20000));
  Settle();
  DisposeMovie(movie);
  UClock::AdvanceSeconds(1.0);
  Settle();
  EXPECT_EQ(mRecorder->Get().samples.size(), 2u * kRate / 10);
}

// Half speed, double speed and reverse are silent, and so is a muted movie
// at the normal rate; the picture's clock runs all the same.
TEST_F(MovieSound, OtherRatesAndAMutedMovieDeliverNothing) {
  TempFile file("rates.mov");
  WriteToneMovie(file.path, 'MooV', 'sowt');
  Movie movie = OpenMovie(file.path);
  ASSERT_NE(movie, nullptr);
  const TimeScale scale = GetMovieTimeScale(movie);
  StManualClock clock;
  for (double rate : {0.5, 2.0, -1.0}) {
    SCOPED_TRACE(rate);
    SetMovieTimeValue(movie, scale);
    SetMovieRate(movie, X2Fix(rate));
    UClock::AdvanceSeconds(0.5);
    Settle();
    EXPECT_EQ(GetMovieTime(movie, nullptr), scale + static_cast<TimeValue>(rate * 0.5 * scale));
    SetMovieRate(movie, 0);
  }
  SetMovieVolume(movie, -256);
  SetMovieTimeValue(movie, 0);
  SetMovieRate(movie, fixed1);
  UClock::AdvanceSeconds(0.5);
  Settle();
  EXPECT_EQ(GetMovieTime(movie, nullptr), scale / 2);
  SetMovieRate(movie, 0);
  CSoundRecorder::Record r = mRecorder->Get();
  EXPECT_EQ(r.opens, 0);
  EXPECT_TRUE(r.samples.empty());
  // Unmuted while playing, the sound starts where the movie is.
  SetMovieRate(movie, fixed1);
  SetMovieVolume(movie, 256);
  UClock::AdvanceSeconds(0.1);
  EXPECT_TRUE(mRecorder->WaitForFrames(kRate / 10, 20000));
  StopMovie(movie);
  EXPECT_EQ(mRecorder->Get().opens, 1);
  DisposeMovie(movie);
}

// Without a server playback is silent and reports nothing; with a private
// PulseAudio server (null sink) the output opens, takes sound, and the movie's
// clock follows what the device has played.
TEST_F(MovieSound, PulseAudioOpensOrFallsBackSilently) {
  SetSoundOutputFactory(nullptr);
  const char* oldServer = std::getenv("PULSE_SERVER");
  const std::string savedServer = oldServer ? oldServer : "";
  // At 44.1 kHz most movie times fall between two sound frames.
  TempFile file("pulse.mov");
  WriteToneMovie(file.path, 'MooV', 'sowt', 44100);
  Movie movie = OpenMovie(file.path);
  ASSERT_NE(movie, nullptr);

  // A server that does not answer: the movie plays on its own clock.
  setenv("PULSE_SERVER", "unix:/nonexistent/trx-no-server", 1);
  StartMovie(movie);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GT(GetMovieTime(movie, nullptr), 0);
  EXPECT_EQ(GetMoviesError(), noErr);
  StopMovie(movie);

  const char* kDaemon = "/usr/bin/pulseaudio";
  if (access(kDaemon, X_OK) != 0) {
    DisposeMovie(movie);
    if (oldServer) setenv("PULSE_SERVER", savedServer.c_str(), 1); else unsetenv("PULSE_SERVER");
    GTEST_SKIP() << "pulseaudio is not installed";
  }
  char pattern[] = "/tmp/trx-pulse-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const std::string socket = folder + "/native";
  std::vector<std::string> args = {kDaemon, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                   "--use-pid-file=no", "--system=no",
                                   "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                   "--load=module-null-sink sink_name=trx"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"HOME=" + folder, "XDG_RUNTIME_DIR=" + folder, "XDG_CONFIG_HOME=" + folder};
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, (folder + "/log.txt").c_str(), O_WRONLY | O_CREAT, 0644);
  pid_t daemon = -1;
  ASSERT_EQ(posix_spawn(&daemon, kDaemon, &files, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&files);
  for (int i = 0; i < 2400 && access(socket.c_str(), F_OK) != 0; ++i)  // a minute
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  const bool up = access(socket.c_str(), F_OK) == 0;

  if (up) {
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    auto out = NewPulseSoundOutput();
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->IsPaced());
    ASSERT_TRUE(out->Open(44100, 2));
    const std::vector<SInt16> tone = MakeSine(4410, 44100, 2);
    EXPECT_TRUE(out->Write(tone.data(), 4410));
    EXPECT_GE(out->GetLatencyMicros(), 0);
    out->Flush();
    out.reset();

    // Played for real: the movie's time is what the null sink has taken,
    // never ahead of the real clock.
    SetMovieTimeValue(movie, 0);
    const auto started = std::chrono::steady_clock::now();
    StartMovie(movie);
    TimeValue t = 0;
    for (int i = 0; i < 6000 && t <= 0; ++i) {  // a minute
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      t = GetMovieTime(movie, nullptr);
    }
    const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    StopMovie(movie);
    EXPECT_GT(t, 0);
    EXPECT_LE(t, static_cast<TimeValue>(real * GetMovieTimeScale(movie)) + 1);
    EXPECT_EQ(GetMoviesError(), noErr);

    // Played to its end (from a time that is no whole number of sound
    // frames), the movie stops there once the last sound has been heard.
    const TimeValue duration = GetMovieDuration(movie);
    ASSERT_NE(static_cast<SInt64>(GetMovieTimeScale(movie) / 5 + 7) * 44100 % GetMovieTimeScale(movie), 0);
    SetMovieTimeValue(movie, duration - GetMovieTimeScale(movie) / 5 - 7);
    StartMovie(movie);
    for (int i = 0; i < 6000 && GetMovieRate(movie) != 0; ++i)  // a minute
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(GetMovieRate(movie), 0);
    EXPECT_EQ(GetMovieTime(movie, nullptr), duration);
  }
  DisposeMovie(movie);
  kill(daemon, SIGTERM);
  waitpid(daemon, nullptr, 0);
  if (oldServer) setenv("PULSE_SERVER", savedServer.c_str(), 1); else unsetenv("PULSE_SERVER");
  std::error_code ignored;
  if (!up) {
    std::string log;
    if (FILE* f = std::fopen((folder + "/log.txt").c_str(), "r")) {
      char buffer[512];
      size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
      log.assign(buffer, n);
      std::fclose(f);
    }
    std::filesystem::remove_all(folder, ignored);
    GTEST_SKIP() << "no private pulseaudio server could be started: " << log;
  }
  std::filesystem::remove_all(folder, ignored);
}
