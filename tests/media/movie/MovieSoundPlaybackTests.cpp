// The movie wrapper's playback and its sound: played by the movie toolbox
// at 100 % the enabled sound track reaches the sound output; other rates,
// stepped playback and a disabled track stay silent.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "media/CMovie.h"
#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/SoundOutput.h"

namespace {

constexpr int kRate = 22050;

std::vector<SInt16> Tone(int inFrames) {
  std::vector<SInt16> s(static_cast<size_t>(inFrames));
  for (int i = 0; i < inFrames; ++i) s[static_cast<size_t>(i)] = static_cast<SInt16>(9000 * std::sin(i * 0.05));
  return s;
}

// Two seconds: a mono 16-bit tone in memory beside a picture track.
Movie ToneMovie() {
  Movie m = NewMovie(newMovieActive);
  SetMovieTimeScale(m, 600);
  Track picture = NewMovieTrack(m, Long2Fix(2), Long2Fix(2), 0);
  Media pictures = NewTrackMedia(picture, VideoMediaType, 600, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(pictures, nullptr, ref, HandleDataHandlerSubType);
  auto image = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**image).idSize = sizeof(ImageDescription);
  (**image).cType = 'raw ';
  (**image).width = (**image).height = 2;
  (**image).depth = 32;
  Handle pixels = NewHandleClear(16);
  for (int k = 0; k < 60; ++k)
    AddMediaSample(pictures, pixels, 0, 16, 20, reinterpret_cast<SampleDescriptionHandle>(image), 1, 0, nullptr);
  InsertMediaIntoTrack(picture, 0, 0, GetMediaDuration(pictures), fixed1);

  Track sound = NewMovieTrack(m, 0, 0, 0x100);
  Media samples = NewTrackMedia(sound, SoundMediaType, kRate, nullptr, 0);
  AddMediaDataRef(samples, nullptr, ref, HandleDataHandlerSubType);
  auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  (**desc).descSize = sizeof(SoundDescription);
  (**desc).dataFormat = 'sowt';
  (**desc).numChannels = 1;
  (**desc).sampleSize = 16;
  (**desc).sampleRate = static_cast<UnsignedFixed>(kRate) << 16;
  const std::vector<SInt16> tone = Tone(2 * kRate);
  Handle data = NewHandle(static_cast<SInt32>(tone.size() * 2));
  std::memcpy(*data, tone.data(), tone.size() * 2);
  AddMediaSample(samples, data, 0, static_cast<UInt32>(tone.size() * 2), 1,
                 reinterpret_cast<SampleDescriptionHandle>(desc), static_cast<SInt32>(tone.size()), 0, nullptr);
  InsertMediaIntoTrack(sound, 0, 0, GetMediaDuration(samples), fixed1);
  DisposeHandle(data);
  DisposeHandle(pixels);
  DisposeHandle(ref);
  DisposeHandle(reinterpret_cast<Handle>(image));
  DisposeHandle(reinterpret_cast<Handle>(desc));
  return m;
}

void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(80)); }

struct WrapperSound : ::testing::Test {
  void SetUp() override {
    ASSERT_EQ(EnterMovies(), noErr);
    recorder = std::make_shared<CSoundRecorder>();
    SetSoundOutputFactory(recorder->Factory());
  }
  void TearDown() override { SetSoundOutputFactory(nullptr); }
  std::shared_ptr<CSoundRecorder> recorder;
};

}  // namespace

TEST_F(WrapperSound, OnlyQuickTimePlaybackAtOneHundredPercentIsHeard) {
  StManualClock clock;
  CMovie movie(ToneMovie(), true);
  const EventRecord idle{};

  // Stepped playback and 50 % and -100 % with the toolbox: silent.
  movie.SetPlayRate(100);
  movie.StartPlaying(false);
  UClock::AdvanceSeconds(0.25);
  movie.SpendTime(idle);
  movie.StopPlaying();
  for (SInt32 percent : {50, -100}) {
    movie.GotoTime(600);
    movie.SetPlayRate(percent);
    movie.StartPlaying(true);
    UClock::AdvanceSeconds(0.25);
    movie.SpendTime(idle);
    movie.StopPlaying();
  }
  Settle();
  EXPECT_TRUE(recorder->Get().samples.empty());

  // 100 % with the toolbox: the quarter second of tone from where it starts.
  movie.GotoTime(300);
  movie.SetPlayRate(100);
  movie.StartPlaying(true);
  UClock::AdvanceSeconds(0.25);
  movie.SpendTime(idle);
  EXPECT_EQ(movie.GetTimeValue(), 450);
  EXPECT_TRUE(recorder->WaitForFrames(kRate / 4, 20000));
  Settle();
  movie.StopPlaying();
  const std::vector<SInt16> tone = Tone(2 * kRate);
  CSoundRecorder::Record r = recorder->Get();
  EXPECT_EQ(r.rate, kRate);
  EXPECT_EQ(r.channels, 1);
  ASSERT_EQ(r.samples.size(), static_cast<size_t>(kRate / 4));
  EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), tone.begin() + kRate / 2));

  // A disabled sound track is not played.
  recorder->Clear();
  SetTrackEnabled(GetMovieIndTrackType(movie.GetMovie(), 1, SoundMediaType, movieTrackMediaType), false);
  movie.GotoTime(0);
  movie.StartPlaying(true);
  UClock::AdvanceSeconds(0.25);
  movie.SpendTime(idle);
  Settle();
  movie.StopPlaying();
  EXPECT_TRUE(recorder->Get().samples.empty());
}
