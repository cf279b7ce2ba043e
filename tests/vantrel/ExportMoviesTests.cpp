// Movies of every kind the program opens, made here with libavcodec, exported
// through a real Vantrel as they are (no analysis) and with an applied control
// track, to MPEG-4 and QuickTime: every frame comes out in its order and close
// to its source picture, and every sound track keeps its channels, its length
// and its place in time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/export/AVTestMovie.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Aliases.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "support/movies/OpenMovie.h"
#include "vantrel/ExportClient.h"
#include "vantrel/ExportRequests.h"
#include "vantrel/VantrelFixture.h"

// libx264 keeps one small allocation of its option parser for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\n"; }

namespace fs = std::filesystem;

namespace {

// An applied session that leaves every picture where it is: one identity
// record per frame of the movie, at the frame's own time.
void AddIdentityControlTrack(Movie inMovie) {
  CMotionData store;
  TArray<FrameData>& frames = store.GetFrames();
  static const OSType kVisual = VisualMediaCharacteristic;
  const TimeValue duration = GetMovieDuration(inMovie);
  TimeValue t = 0;
  while (t < duration) {
    TimeValue next = -1;
    GetMovieNextInterestingTime(inMovie, nextTimeStep, 1, &kVisual, t, fixed1, &next, nullptr);
    if (next <= t || next > duration) next = duration;
    FrameData f;
    f.time = t;
    f.duration = next - t;
    SetIdentityMatrix(&f.matrix1);
    f.matrix2 = f.matrix1;
    frames.AddItem(f);
    t = next;
  }
  Rect bounds;
  GetMovieNaturalBoundsRect(inMovie, &bounds);
  Track track = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(inMovie, bounds, store, &track), noErr);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, params), noErr);
}

// What an analysis leaves in a document's movie: a motion-data track of one
// measured record per frame (a little shake), and no control track.
void AddMotionDataTrack(Movie inMovie) {
  static const OSType kVisual = VisualMediaCharacteristic;
  const TimeValue duration = GetMovieDuration(inMovie);
  Rect bounds;
  GetMovieNaturalBoundsRect(inMovie, &bounds);
  TArray<DiffMotionData> records;
  for (TimeValue t = 0; t < duration;) {
    TimeValue next = -1;
    GetMovieNextInterestingTime(inMovie, nextTimeStep, 1, &kVisual, t, fixed1, &next, nullptr);
    if (next <= t || next > duration) next = duration;
    DiffMotionData d{};
    d.version = kMotionDataVersion;
    d.quality = 1;
    d.scale = 1;
    d.time = t;
    d.duration = next - t;
    d.centerX = (bounds.right - bounds.left) / 2.0f;
    d.centerY = (bounds.bottom - bounds.top) / 2.0f;
    d.xShift = (records.GetCount() % 2) ? 1.5f : -1.5f;
    records.AddItem(d);
    t = next;
  }
  Track track = nullptr;
  ASSERT_EQ(CMotionTrackerTask::WriteMotionDataTrack(inMovie, bounds, records, 2, 0, 2, 0, &track), noErr);
  ASSERT_NE(track, nullptr);
}

enum Stage { kAsItIs, kAnalysedOnly, kApplied };

struct SourceKind {
  const char* name;
  exporttest::AVMovieSpec spec;
};

std::ostream& operator<<(std::ostream& os, const SourceKind& k) { return os << k.name; }

exporttest::AVMovieSpec Spec(const char* inContainer, const char* inVideo, int inBFrames, const char* inSound,
                             int inRate, int inChannels) {
  exporttest::AVMovieSpec s;
  s.container = inContainer;
  s.videoEncoder = inVideo;
  s.bFrames = inBFrames;
  s.soundEncoder = inSound;
  s.sampleRate = inRate;
  s.channels = inChannels;
  return s;
}

const SourceKind kKinds[] = {
    {"H264BFramesAAC", Spec("mp4", "libx264", 3, "aac", 48000, 2)},
    {"MPEG4MP3InAVI", Spec("avi", "mpeg4", 0, "libmp3lame", 44100, 2)},
    {"MJPEGMP2InQuickTime", Spec("mov", "mjpeg", 0, "mp2", 44100, 2)},
    {"MPEG2MP2ProgramStream", Spec("vob", "mpeg2video", 2, "mp2", 48000, 2)},
    {"H264AC3FiveOne", Spec("mp4", "libx264", 2, "ac3", 48000, 6)},
    {"H264MonoAAC", Spec("mp4", "libx264", 2, "aac", 16000, 1)},
};

class ExportEveryMovie : public TVantrelFixture<::testing::TestWithParam<SourceKind>> {
 protected:
  ExportEveryMovie() : TVantrelFixture("/tmp/trx-every-movie-XXXXXX", true) {}
};

}  // namespace

TEST_P(ExportEveryMovie, EveryFrameAndEverySoundTrackArrive) {
  const SourceKind& kind = GetParam();
  const exporttest::AVMovieSpec& spec = kind.spec;
  if (!avcodec_find_encoder_by_name(spec.videoEncoder) || !avcodec_find_encoder_by_name(spec.soundEncoder))
    GTEST_SKIP() << "no encoder";
  const std::string source = mFolder + "/source." + (spec.container == "vob" ? std::string("mpg") : spec.container);
  int soundFrames = 0;
  ASSERT_TRUE(exporttest::WriteAVMovie(source, spec, &soundFrames));
  // What libavformat itself reads from the source: the yardstick of the sound.
  const exporttest::FileFacts original = exporttest::Probe(source);
  const exporttest::SoundTiming sourceTiming = exporttest::MeasureSoundTiming(source);
  ASSERT_TRUE(original.sound.present);
  ASSERT_EQ(original.sound.channels, spec.channels);
  {
    const exporttest::FileFacts decoded = exporttest::Probe(source, true);
    ASSERT_EQ(decoded.frameNumbers.size(), static_cast<size_t>(spec.frames));
    Movie movie = testmovies::OpenMovieAt(source);
    ASSERT_NE(movie, nullptr);
    static const OSType kVisual = VisualMediaCharacteristic;
    int steps = 0;
    for (TimeValue t = 0; t >= 0 && t < GetMovieDuration(movie); ++steps) {
      TimeValue next = -1;
      GetMovieNextInterestingTime(movie, nextTimeStep, 1, &kVisual, t, fixed1, &next, nullptr);
      t = next;
    }
    EXPECT_EQ(steps, spec.frames) << "scale " << GetMovieTimeScale(movie) << " duration " << GetMovieDuration(movie);
    DisposeMovie(movie);
  }

  UInt32 cookie = 1;
  for (Stage stage : {kAsItIs, kAnalysedOnly, kApplied}) {
    const bool applied = stage == kApplied;
    for (OSType subtype : {OSType('mpg4'), OSType('MooV')}) {
      SCOPED_TRACE(std::string(stage == kApplied ? "applied session, " : stage == kAnalysedOnly ? "analysed only, " : "as it is, ") +
                   (subtype == 'mpg4' ? "MPEG-4" : "QuickTime"));
      Movie movie = testmovies::OpenMovieAt(source);
      ASSERT_NE(movie, nullptr);
      if (stage != kAsItIs) AddMotionDataTrack(movie);
      if (applied) AddIdentityControlTrack(movie);
      const std::string dest = mFolder + "/out" + std::to_string(cookie) + (subtype == 'mpg4' ? ".mp4" : ".mov");
      ASSERT_EQ(mClient.Send(ExportRequestFor(movie, dest, subtype, cookie)), kCFMessagePortSuccess);
      DisposeMovie(movie);
      ASSERT_TRUE(mClient.WaitForDone(cookie, 300.0));
      EXPECT_EQ(ErrorOf(mClient.StatusesOf(cookie)), 0);
      ++cookie;

      const exporttest::FileFacts f = exporttest::Probe(dest, true);
      ASSERT_TRUE(f.opened);
      EXPECT_EQ(f.video.width, spec.width);
      EXPECT_EQ(f.video.height, spec.height);
      std::string numbers;
      for (int n : f.frameNumbers) numbers += std::to_string(n) + " ";
      EXPECT_EQ(f.frameNumbers.size(), static_cast<size_t>(spec.frames)) << numbers;
      for (int k = 0; k < spec.frames && k < static_cast<int>(f.frameNumbers.size()); ++k) {
        EXPECT_EQ(f.frameNumbers[static_cast<size_t>(k)], k) << "frame " << k;
        const fftest::Picture truth = fftest::MakeFrame(spec.width, spec.height, k);
        EXPECT_GT(fftest::PSNR(f.pictures[static_cast<size_t>(k)], truth), 28.0) << "frame " << k;
      }
      ASSERT_TRUE(f.sound.present);
      EXPECT_EQ(f.sound.sampleRate, spec.sampleRate);
      // The source's channels: mono stays mono, 5.1 keeps its six.
      EXPECT_EQ(f.sound.channels, spec.channels);
      // And their layout: 5.1 with side channels keeps them at the sides.
      // AAC (MPEG-4) has one 5.1, its surround pair read as back channels.
      if (original.sound.channelMask != 0 && spec.channels > 2) {
        UInt64 expected = original.sound.channelMask;
        if (subtype == 'mpg4' && expected == AV_CH_LAYOUT_5POINT1) expected = AV_CH_LAYOUT_5POINT1_BACK;
        EXPECT_EQ(f.sound.channelMask, expected)
            << "layout " << std::hex << f.sound.channelMask << " for the source's " << original.sound.channelMask;
      }
      // At least the source's sound: nothing of it is lost.
      const double expected = std::floor(static_cast<double>(spec.frames) / spec.frameRate * spec.sampleRate);
      EXPECT_GE(static_cast<double>(f.sound.soundFrames), expected - 1024.0);
      // And no more than it: the source's length within one frame of its codec.
      const exporttest::SoundTiming t = exporttest::MeasureSoundTiming(dest);
      const double frame = static_cast<double>(std::max({1152, t.frameSize, sourceTiming.frameSize})) / spec.sampleRate;
      EXPECT_NEAR(t.Seconds(), static_cast<double>(soundFrames) / spec.sampleRate, frame)
          << "sound of " << t.Seconds() << " s for the source's " << static_cast<double>(soundFrames) / spec.sampleRate;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, ExportEveryMovie, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<SourceKind>& info) { return std::string(info.param.name); });

namespace {

// A movie of two seconds whose sound is silent for its first second and a
// tone from then on: where the tone begins tells where the sound lies
// against the pictures.
struct TimedKind {
  const char* name;
  exporttest::AVMovieSpec spec;
  // Delay of the encoder that the container cannot record (AVI keeps no
  // time for it): LAME's 576 frames stay in an MP3 stream there.
  int unrecordedFrames = 0;
};

std::ostream& operator<<(std::ostream& os, const TimedKind& k) { return os << k.name; }

exporttest::AVMovieSpec ToneSpec(const char* inContainer, const char* inVideo, int inBFrames, const char* inSound,
                                 int inRate, int inChannels) {
  exporttest::AVMovieSpec s = Spec(inContainer, inVideo, inBFrames, inSound, inRate, inChannels);
  s.frames = 50;
  s.toneStart = 1.0;
  return s;
}

const TimedKind kTimedKinds[] = {
    {"AAC48kInMPEG4", ToneSpec("mp4", "libx264", 3, "aac", 48000, 2)},
    {"AAC16kMonoInMPEG4", ToneSpec("mp4", "libx264", 2, "aac", 16000, 1)},
    {"MP3InAVI", ToneSpec("avi", "mpeg4", 0, "libmp3lame", 44100, 2), 576},
    {"MP2InQuickTime", ToneSpec("mov", "mjpeg", 0, "mp2", 44100, 2)},
    {"MP2InProgramStream", ToneSpec("vob", "mpeg2video", 2, "mp2", 48000, 2)},
};

class ExportKeepsTheSoundInPlace : public TVantrelFixture<::testing::TestWithParam<TimedKind>> {
 protected:
  ExportKeepsTheSoundInPlace() : TVantrelFixture("/tmp/trx-sound-place-XXXXXX", true) {}
};

}  // namespace

// The tone begins one second after the first picture in the source; in the
// export it begins there too (within one frame of the sound codec), and the
// exported sound lasts what the source's lasts: no priming of the source's
// decoder or of the exporter's encoder is left in, nothing is cut off.
TEST_P(ExportKeepsTheSoundInPlace, TheToneStartsAtItsPictureAndTheSoundKeepsItsLength) {
  const exporttest::AVMovieSpec& spec = GetParam().spec;
  if (!avcodec_find_encoder_by_name(spec.videoEncoder) || !avcodec_find_encoder_by_name(spec.soundEncoder))
    GTEST_SKIP() << "no encoder";
  const std::string source = mFolder + "/source." + (spec.container == "vob" ? std::string("mpg") : spec.container);
  int soundFrames = 0;
  ASSERT_TRUE(exporttest::WriteAVMovie(source, spec, &soundFrames));
  // The sound the source holds: whole frames of its codec.
  const double seconds = static_cast<double>(soundFrames) / spec.sampleRate;
  const exporttest::SoundTiming original = exporttest::MeasureSoundTiming(source);
  ASSERT_TRUE(original.ok);
  RecordProperty("source_onset_ms", std::to_string(std::lround((original.Onset() - spec.toneStart) * 1000)));

  UInt32 cookie = 1;
  for (OSType subtype : {OSType('mpg4'), OSType('MooV')}) {
    SCOPED_TRACE(subtype == 'mpg4' ? "MPEG-4" : "QuickTime");
    Movie movie = testmovies::OpenMovieAt(source);
    ASSERT_NE(movie, nullptr);
    const std::string dest = mFolder + "/out" + std::to_string(cookie) + (subtype == 'mpg4' ? ".mp4" : ".mov");
    ASSERT_EQ(mClient.Send(ExportRequestFor(movie, dest, subtype, cookie)), kCFMessagePortSuccess);
    DisposeMovie(movie);
    ASSERT_TRUE(mClient.WaitForDone(cookie, 300.0));
    ASSERT_EQ(ErrorOf(mClient.StatusesOf(cookie)), 0);
    ++cookie;

    const exporttest::SoundTiming t = exporttest::MeasureSoundTiming(dest);
    ASSERT_TRUE(t.ok);
    ASSERT_EQ(t.sampleRate, spec.sampleRate);
    ASSERT_GE(t.onsetFrame, 0) << "no tone in the exported sound";
    // One frame of the source's sound codec (the exporter's when it codes in larger ones).
    const double frame =
        static_cast<double>(std::max({1152, t.frameSize, original.frameSize})) / spec.sampleRate;
    const double onset = t.Onset();
    std::printf("%s %s: onset %+.1f ms (source as read %+.1f ms), length %+.1f ms\n", GetParam().name,
                subtype == 'mpg4' ? "MPEG-4" : "QuickTime", (onset - spec.toneStart) * 1000,
                (original.Onset() - spec.toneStart) * 1000, (t.Seconds() - seconds) * 1000);
    // Within one frame of the codec, and as exactly as the source records
    // its timing: to the sample, give or take the tone's first crossing.
    EXPECT_NEAR(onset, spec.toneStart, frame) << "the tone begins " << (onset - spec.toneStart) * 1000 << " ms late";
    EXPECT_NEAR(onset, spec.toneStart + static_cast<double>(GetParam().unrecordedFrames) / spec.sampleRate, 0.003)
        << "the tone begins " << (onset - spec.toneStart) * 1000 << " ms late";
    EXPECT_NEAR(t.Seconds(), seconds, frame) << "the sound lasts " << (t.Seconds() - seconds) * 1000 << " ms more";
    EXPECT_NEAR(t.soundStart, t.videoStart, 0.003);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, ExportKeepsTheSoundInPlace, ::testing::ValuesIn(kTimedKinds),
                         [](const ::testing::TestParamInfo<TimedKind>& info) { return std::string(info.param.name); });

namespace {

// The bytes of a file; the file rewritten from bytes.
std::vector<UInt8> ReadBytes(const std::string& inPath) {
  FILE* f = std::fopen(inPath.c_str(), "rb");
  std::vector<UInt8> bytes;
  if (f == nullptr) return bytes;
  std::fseek(f, 0, SEEK_END);
  bytes.resize(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
  std::fclose(f);
  return bytes;
}

void WriteBytes(const std::string& inPath, const std::vector<UInt8>& inBytes) {
  FILE* f = std::fopen(inPath.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(inBytes.data(), 1, inBytes.size(), f), inBytes.size());
  std::fclose(f);
}

// Sets the time scale of every 'mdhd' (version 0) of the file whose media
// is of inHandler, and of the 'mvhd' when inMovieToo.
void ZeroTimeScales(std::vector<UInt8>& ioBytes, OSType inHandler, bool inMovieToo) {
  auto be32 = [&](size_t at) {
    return static_cast<UInt32>(ioBytes[at]) << 24 | static_cast<UInt32>(ioBytes[at + 1]) << 16 |
           static_cast<UInt32>(ioBytes[at + 2]) << 8 | ioBytes[at + 3];
  };
  for (size_t i = 4; i + 24 < ioBytes.size(); ++i) {
    const UInt32 type = be32(i);
    if (type == 'mvhd' && inMovieToo && ioBytes[i + 4] == 0) std::memset(&ioBytes[i + 16], 0, 4);
    if (type != 'mdhd' || ioBytes[i + 4] != 0) continue;
    // The handler of this media follows its header.
    for (size_t h = i; h + 16 < ioBytes.size() && h < i + 200; ++h)
      if (be32(h) == 'hdlr') {
        if (be32(h + 12) == inHandler) std::memset(&ioBytes[i + 16], 0, 4);
        break;
      }
  }
}

}  // namespace

// A movie whose video says its time scale is 0 has no timing to open or
// export by: it is refused with the media's error, never read with a guessed
// clock (one tick a second made a second of video hours long). A movie time
// scale of 0 alone is not needed: the media keep their own.
TEST_F(ExportEveryMovie, AVideoTimeScaleOfZeroIsRefused) {
  if (!avcodec_find_encoder_by_name("libx264") || !avcodec_find_encoder_by_name("aac")) GTEST_SKIP() << "no encoder";
  const std::string source = mFolder + "/source.mp4";
  ASSERT_TRUE(exporttest::WriteAVMovie(source, Spec("mp4", "libx264", 2, "aac", 48000, 2)));
  const double seconds = 25.0 / 25;
  UInt32 cookie = 1;
  for (int variant = 0; variant < 3; ++variant) {
    const bool video = variant != 2, movieToo = variant != 0;
    SCOPED_TRACE(variant == 0 ? "video scale 0" : variant == 1 ? "movie and video scale 0" : "movie scale 0");
    std::vector<UInt8> bytes = ReadBytes(source);
    ZeroTimeScales(bytes, video ? 'vide' : 0, movieToo);
    const std::string broken = mFolder + "/broken" + std::to_string(variant) + ".mp4";
    WriteBytes(broken, bytes);
    FSSpec spec;
    FSMakeFSSpecFromPath(broken, &spec);
    SInt16 ref = 0;
    ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdPerm), noErr);
    Movie movie = nullptr;
    SInt16 id = 0;
    const OSErr err = NewMovieFromFile(&movie, ref, &id, nullptr, newMovieActive, nullptr);
    CloseMovieFile(ref);
    if (video) {
      EXPECT_EQ(err, invalidMedia);
      EXPECT_EQ(movie, nullptr);
      if (movie) DisposeMovie(movie);
      continue;
    }
    // The movie's own scale missing: the media's timing stands.
    ASSERT_EQ(err, noErr);
    ASSERT_NE(movie, nullptr);
    EXPECT_NEAR(static_cast<double>(GetMovieDuration(movie)) / GetMovieTimeScale(movie), seconds, 0.1);
    const std::string dest = mFolder + "/out" + std::to_string(cookie) + ".mp4";
    ASSERT_EQ(mClient.Send(ExportRequestFor(movie, dest, 'mpg4', cookie)), kCFMessagePortSuccess);
    DisposeMovie(movie);
    ASSERT_TRUE(mClient.WaitForDone(cookie, 300.0));
    EXPECT_EQ(ErrorOf(mClient.StatusesOf(cookie)), 0);
    ++cookie;
    const exporttest::FileFacts f = exporttest::Probe(dest);
    ASSERT_TRUE(f.opened);
    EXPECT_NEAR(f.video.seconds, seconds, 0.1);
  }
}
