// Camera files through the movie toolbox: movies written with the exporters'
// muxer are opened with NewMovieFromFile, stepped frame by frame, drawn into a
// 32-bit graphics world and compared with the pictures that were encoded;
// sound is decoded; imported movies are saved as QuickTime movies and reopened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/ffmpeg/FFTestSupport.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/MovieFFImport.h"
#include "platform/movies/MovieImport.h"
#include "support/movies/OpenMovie.h"

using namespace fftest;

// libx264 and libx265 keep a small allocation each for the life of the
// process; they are the encoders' own, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\nleak:libx265.so\n"; }

namespace {

struct MovieSpec {
  OSType exporter;
  OSType codec;
  SInt32 width, height;
  int frames;
  TimeScale scale = 600;
  SInt32 frameDuration = 20;
  int soundRate = 0;  // 0: no sound
};

std::vector<SInt16> WriteMovie(const std::string& path, const MovieSpec& spec) {
  FFExportSettings settings;
  settings.videoCodec = spec.codec;
  settings.quality = kFFHighQuality;
  settings.keyFrameInterval = 10;
  CFFMuxer muxer(path, spec.exporter, settings);
  SInt32 video = muxer.AddVideoTrack(spec.width, spec.height, spec.scale, spec.frameDuration);
  SInt32 sound = spec.soundRate ? muxer.AddSoundTrack(spec.soundRate, 2) : -1;
  muxer.Begin();
  std::vector<SInt16> samples;
  if (spec.soundRate) samples = MakeSine(spec.soundRate * spec.frames * spec.frameDuration / spec.scale, spec.soundRate, 2);
  size_t soundFrame = 0;
  const size_t perVideoFrame = samples.size() / 2 / static_cast<size_t>(spec.frames);
  for (int i = 0; i < spec.frames; ++i) {
    fftest::Picture p = MakeFrame(spec.width, spec.height, i);
    muxer.WriteVideoFrame(video, p.Buffer(), static_cast<TimeValue64>(i) * spec.frameDuration, spec.frameDuration);
    if (sound >= 0) {
      size_t n = i + 1 == spec.frames ? samples.size() / 2 - soundFrame : perVideoFrame;
      muxer.WriteSound(sound, samples.data() + soundFrame * 2, static_cast<UInt32>(n));
      soundFrame += n;
    }
  }
  muxer.Finish();
  return samples;
}

class MovieFF : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(EnterMovies(), noErr);
    InstallFFmpegMovieComponents();
  }
};

// A movie drawing into a 32-bit graphics world of its natural size.
struct Drawn {
  Movie movie = nullptr;
  GWorldPtr world = nullptr;
  SInt32 width = 0, height = 0;

  explicit Drawn(Movie m) : movie(m) {
    Rect natural;
    GetMovieNaturalBoundsRect(m, &natural);
    width = natural.right - natural.left;
    height = natural.bottom - natural.top;
    Rect bounds = {0, 0, static_cast<SInt16>(height), static_cast<SInt16>(width)};
    EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(m, world, nullptr);
    SetMovieBox(m, &bounds);
  }
  ~Drawn() {
    if (movie) DisposeMovie(movie);
    if (world) DisposeGWorld(world);
  }
  // Draws the frame at `t`; the movies error of the drawing.
  OSErr DrawAt(TimeValue t) {
    SetMovieTimeValue(movie, t);
    MoviesTask(movie, 0);
    return GetMoviesError();
  }
  fftest::Picture Pixels() const {
    PixMapHandle pm = GetGWorldPixMap(world);
    fftest::Picture p = MakeBlank(width, height);
    for (SInt32 y = 0; y < height; ++y)
      std::memcpy(p.pixels.data() + static_cast<size_t>(y) * p.rowBytes,
                  reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + static_cast<size_t>(y) * GetPixRowBytes(pm),
                  static_cast<size_t>(width) * 4);
    return p;
  }
};

constexpr OSType kVisual = VisualMediaCharacteristic;

// Every video frame time of a movie, by stepping from 0 with the visual characteristic.
std::vector<TimeValue> FrameTimes(Movie m) {
  std::vector<TimeValue> times{0};
  for (;;) {
    TimeValue next = -1;
    GetMovieNextInterestingTime(m, nextTimeStep, 1, &kVisual, times.back(), fixed1, &next, nullptr);
    if (next < 0) break;
    times.push_back(next);
  }
  return times;
}

// Steps through every frame: each drawn once, in order, close to what was encoded.
void CheckSteppedFrames(Drawn& d, const MovieSpec& spec, double minPSNR) {
  std::vector<TimeValue> times = FrameTimes(d.movie);
  ASSERT_EQ(times.size(), static_cast<size_t>(spec.frames));
  const TimeScale movieScale = GetMovieTimeScale(d.movie);
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_NEAR(times[i], double(i) * spec.frameDuration * movieScale / spec.scale, 1.0) << i;
    ASSERT_EQ(d.DrawAt(times[i]), noErr) << i;
    fftest::Picture p = d.Pixels();
    EXPECT_EQ(ReadFrameNumber(p), static_cast<int>(i));
    EXPECT_GT(PSNR(p, MakeFrame(spec.width, spec.height, static_cast<int>(i))), minPSNR) << "frame " << i;
  }
}

const ImageDescription* FirstImageDescription(Movie m, Handle h) {
  Track t = GetMovieIndTrackType(m, 1, VideoMediaType, movieTrackMediaType);
  if (!t) return nullptr;
  GetMediaSampleDescription(GetTrackMedia(t), 1, reinterpret_cast<SampleDescriptionHandle>(h));
  if (GetHandleSize(h) < static_cast<SInt32>(sizeof(ImageDescription))) return nullptr;
  return reinterpret_cast<const ImageDescription*>(*h);
}

std::vector<SInt16> MovieSound(Movie m, SInt16* channels = nullptr, Float64* rate = nullptr) {
  std::vector<SInt16> samples;
  Track t = GetMovieIndTrackType(m, 1, SoundMediaType, movieTrackMediaType);
  EXPECT_NE(t, nullptr);
  if (!t) return samples;
  EXPECT_EQ(GetMediaSound16(GetTrackMedia(t), samples, channels, rate), noErr);
  return samples;
}

// Correlation of two interleaved stereo signals over their common length.
double Correlation(const std::vector<SInt16>& a, const std::vector<SInt16>& b, size_t shift) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i + shift < a.size() && i < b.size(); ++i) {
    ab += double(a[i + shift]) * b[i];
    aa += double(a[i + shift]) * a[i + shift];
    bb += double(b[i]) * b[i];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

}  // namespace

TEST_F(MovieFF, H264InMP4StepsThroughEveryFrameAndSeeks) {
  TempFile file("h264.mp4");
  MovieSpec spec{'mpg4', 'avc1', 320, 240, 30};
  WriteMovie(file.path, spec);
  for (bool imported : {false, true}) {
    SCOPED_TRACE(imported ? "importer" : "toolbox reader");
    Movie im = nullptr;
    ASSERT_EQ(imported ? ImportMovieWithFFmpeg(file.path, &im) : testmovies::OpenMovieAt(file.path, &im), noErr);
    Drawn d(im);
    EXPECT_EQ(d.width, 320);
    EXPECT_EQ(d.height, 240);
    EXPECT_EQ(GetMovieDuration(im), spec.frames * spec.frameDuration * GetMovieTimeScale(im) / spec.scale);
    CheckSteppedFrames(d, spec, 30.0);
  }
  Movie m = nullptr;
  ASSERT_EQ(ImportMovieWithFFmpeg(file.path, &m), noErr);
  Drawn d(m);

  // Jumps backward and forward land on the right frames.
  std::vector<int> order = {29, 3, 17, 16, 0, 25, 11, 12, 9, 28};
  std::mt19937 rng(7);
  for (int k = 0; k < 10; ++k) order.push_back(static_cast<int>(rng() % spec.frames));
  for (int f : order) {
    ASSERT_EQ(d.DrawAt(f * spec.frameDuration + 5), noErr) << f;
    fftest::Picture p = d.Pixels();
    EXPECT_EQ(ReadFrameNumber(p), f);
    EXPECT_GT(PSNR(p, MakeFrame(spec.width, spec.height, f)), 30.0) << f;
  }

  // The sample description: compressor name and decoder configuration kept.
  Handle h = NewHandle(0);
  const ImageDescription* desc = FirstImageDescription(m, h);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->cType, static_cast<CodecType>('avc1'));
  EXPECT_GT(desc->name[0], 0);
  Handle config = nullptr;
  EXPECT_EQ(GetImageDescriptionExtension(reinterpret_cast<ImageDescriptionHandle>(h), &config, 'avcC', 1), noErr);
  if (config) {
    EXPECT_GT(GetHandleSize(config), 6);
    DisposeHandle(config);
  }
  DisposeHandle(h);
}

// A movie that keeps no copies of its frames decodes a frame that fills its
// target one to one straight into it: every frame, after steps and jumps
// and when the same time is drawn again, has the bytes a graphics world of
// a movie that keeps its copies shows. A target the frame does not fill is
// drawn through the copy as ever.
TEST_F(MovieFF, FramesNotKeptAreDrawnStraightIntoTheTargetAlike) {
  TempFile file("straight.mp4");
  MovieSpec spec{'mpg4', 'avc1', 320, 240, 24};
  WriteMovie(file.path, spec);
  Movie keeping = nullptr, straight = nullptr;
  ASSERT_EQ(testmovies::OpenMovieAt(file.path, &keeping), noErr);
  ASSERT_EQ(testmovies::OpenMovieAt(file.path, &straight), noErr);
  Drawn d(keeping);
  EXPECT_TRUE(GetMovieKeepsDrawnFrame(straight));
  SetMovieKeepsDrawnFrame(straight, false);
  EXPECT_FALSE(GetMovieKeepsDrawnFrame(straight));

  for (SInt32 extra : {0, 8}) {
    SCOPED_TRACE(extra ? "a wider target, drawn through the copy" : "a target the frame fills");
    const SInt32 w = d.width, h = d.height, tw = w + extra;
    const SInt32 rowBytes = tw * 4 + 64;  // rows with room after them
    std::vector<UInt8> pixels(static_cast<size_t>(rowBytes) * h, 0);
    const Rect target = {0, 0, static_cast<SInt16>(h), static_cast<SInt16>(tw)};
    const Rect box = {0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
    const MovieDrawTarget drawTarget = {pixels.data(), rowBytes, target};
    SetMovieDrawTarget(straight, &drawTarget);
    SetMovieBox(straight, &box);
    auto same = [&](int inFrame) {
      const fftest::Picture want = d.Pixels();
      for (SInt32 y = 0; y < h; ++y)
        if (std::memcmp(pixels.data() + static_cast<size_t>(y) * rowBytes,
                        want.pixels.data() + static_cast<size_t>(y) * want.rowBytes, static_cast<size_t>(w) * 4) != 0) {
          ADD_FAILURE() << "frame " << inFrame << " differs in row " << y;
          return;
        }
    };
    std::vector<int> order;
    for (int f = 0; f < spec.frames; ++f) order.push_back(f);
    for (int f : {17, 3, 4, 23, 0, 11}) order.push_back(f);
    for (int f : order) {
      const TimeValue t = f * spec.frameDuration;
      ASSERT_EQ(d.DrawAt(t), noErr);
      SetMovieTimeValue(straight, t);
      UpdateMovie(straight);
      MoviesTask(straight, 0);
      ASSERT_EQ(GetMoviesError(), noErr) << f;
      same(f);
    }
    // The same time again: no copy was kept, so it is decoded again.
    std::fill(pixels.begin(), pixels.end(), 0);
    UpdateMovie(straight);
    MoviesTask(straight, 0);
    ASSERT_EQ(GetMoviesError(), noErr);
    same(11);
  }
  SetMovieDrawTarget(straight, nullptr);
  DisposeMovie(straight);
}

TEST_F(MovieFF, MPEG4InMP4AndAVI) {
  for (OSType exporter : {OSType('mpg4'), OSType('VfW ')}) {
    SCOPED_TRACE(exporter == 'mpg4' ? "mp4" : "avi");
    TempFile file(exporter == 'mpg4' ? "mpeg4.mp4" : "mpeg4.avi");
    MovieSpec spec{exporter, 'mp4v', 176, 144, 20};
    WriteMovie(file.path, spec);
    Movie m = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(file.path, &m), noErr);
    Drawn d(m);
    CheckSteppedFrames(d, spec, 30.0);
    if (exporter == 'VfW ') {
      // Imported from a foreign container: no default data reference, so a save asks for a new file.
      Handle ref = nullptr;
      OSType refType = 0;
      EXPECT_EQ(GetMovieDefaultDataRef(m, &ref, &refType), noDefaultDataRef);
      if (ref) DisposeHandle(ref);
      // The compressor name is filled.
      Handle h = NewHandle(0);
      const ImageDescription* desc = FirstImageDescription(m, h);
      ASSERT_NE(desc, nullptr);
      EXPECT_EQ(desc->cType, static_cast<CodecType>('mp4v'));
      EXPECT_GT(desc->name[0], 0);
      Handle config = nullptr;
      EXPECT_EQ(GetImageDescriptionExtension(reinterpret_cast<ImageDescriptionHandle>(h), &config, 'esds', 1), noErr);
      if (config) DisposeHandle(config);
      DisposeHandle(h);
    }
  }
}

TEST_F(MovieFF, MJPEGInAVIAndMOVAtAnOddSize) {
  for (OSType exporter : {OSType('VfW '), OSType('MooV')}) {
    SCOPED_TRACE(exporter == 'VfW ' ? "avi" : "mov");
    TempFile file(exporter == 'VfW ' ? "mjpeg.avi" : "mjpeg.mov");
    MovieSpec spec{exporter, 'jpeg', 321, 239, 12, 2997, 100};
    WriteMovie(file.path, spec);
    Movie m = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(file.path, &m), noErr);
    Drawn d(m);
    EXPECT_EQ(d.width, 321);
    EXPECT_EQ(d.height, 239);
    CheckSteppedFrames(d, spec, 30.0);
    // Backwards, frame by frame.
    std::vector<TimeValue> times = FrameTimes(m);
    for (size_t i = times.size(); i-- > 0;) {
      ASSERT_EQ(d.DrawAt(times[i]), noErr);
      EXPECT_EQ(ReadFrameNumber(d.Pixels()), static_cast<int>(i));
    }
  }
}

TEST_F(MovieFF, SoundBesideVideoDecodes) {
  TempFile mp4("sound.mp4"), avi("sound.avi");
  MovieSpec aac{'mpg4', 'avc1', 160, 120, 25, 600, 24, 48000};
  std::vector<SInt16> original = WriteMovie(mp4.path, aac);
  MovieSpec pcm{'VfW ', 'jpeg', 160, 120, 25, 600, 24, 44100};
  std::vector<SInt16> originalPCM = WriteMovie(avi.path, pcm);

  Movie m = nullptr;
  ASSERT_EQ(testmovies::OpenMovieAt(mp4.path, &m), noErr);
  SInt16 channels = 0;
  Float64 rate = 0;
  std::vector<SInt16> sound = MovieSound(m, &channels, &rate);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(rate, 48000.0);
  // AAC keeps the length within a packet or two and the waveform (after the codec's delay).
  EXPECT_NEAR(double(sound.size()), double(original.size()), 2 * 2048 * 2);
  double best = 0;
  for (size_t shift = 0; shift <= 2 * 2048 * 2; shift += 2) best = std::max(best, Correlation(sound, original, shift));
  EXPECT_GT(best, 0.95);
  Drawn d(m);
  CheckSteppedFrames(d, aac, 30.0);

  // Uncompressed sound comes out as it went in.
  Movie pm = nullptr;
  ASSERT_EQ(testmovies::OpenMovieAt(avi.path, &pm), noErr);
  std::vector<SInt16> soundPCM = MovieSound(pm);
  EXPECT_EQ(soundPCM, originalPCM);
  Track st = GetMovieIndTrackType(pm, 1, SoundMediaType, movieTrackMediaType);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(GetMediaTimeScale(GetTrackMedia(st)), 44100);
  EXPECT_EQ(GetMediaDuration(GetTrackMedia(st)), static_cast<TimeValue>(originalPCM.size() / 2));
  DisposeMovie(pm);
}

TEST_F(MovieFF, SavedQuickTimeMoviesKeepFramesAndSound) {
  TempFile mp4("save.mp4"), flat("save_flat.mov"), ref("save_ref.mov");
  MovieSpec spec{'mpg4', 'avc1', 208, 120, 24, 600, 25, 48000};
  WriteMovie(mp4.path, spec);
  // Built by the importer (the toolbox's own reader also reads MP4 files).
  Movie m = nullptr;
  ASSERT_EQ(ImportMovieWithFFmpeg(mp4.path, &m), noErr);
  std::vector<SInt16> sound = MovieSound(m);
  ASSERT_FALSE(sound.empty());

  FSSpec flatSpec, refSpec;
  ASSERT_EQ(FSMakeFSSpecFromPath(flat.path, &flatSpec), fnfErr);  // not there yet
  ASSERT_EQ(FSMakeFSSpecFromPath(ref.path, &refSpec), fnfErr);
  Movie flattened = FlattenMovieData(m, flattenAddMovieToDataFork, &flatSpec, 'TVOD', 0, createMovieFileDeleteCurFile);
  ASSERT_EQ(GetMoviesError(), noErr);
  if (flattened) DisposeMovie(flattened);
  SInt16 refNum = 0;
  Movie unused = nullptr;
  ASSERT_EQ(CreateMovieFile(&refSpec, 'TVOD', 0, createMovieFileDeleteCurFile | createMovieFileDontCreateMovie, &refNum,
                            &unused),
            noErr);
  SInt16 resID = 0;
  ASSERT_EQ(AddMovieResource(m, refNum, &resID, nullptr), noErr);
  CloseMovieFile(refNum);
  // The reference movie holds no media data of its own.
  EXPECT_LT(std::filesystem::file_size(ref.path), std::filesystem::file_size(mp4.path) / 2);

  Drawn original(m);
  for (const std::string& path : {flat.path, ref.path}) {
    SCOPED_TRACE(path);
    Movie reopened = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(path, &reopened), noErr);
    EXPECT_EQ(MovieSound(reopened), sound);
    Drawn d(reopened);
    ASSERT_EQ(d.width, original.width);
    std::vector<TimeValue> times = FrameTimes(reopened);
    ASSERT_EQ(times, FrameTimes(m));
    for (TimeValue t : times) {
      ASSERT_EQ(d.DrawAt(t), noErr);
      ASSERT_EQ(original.DrawAt(t), noErr);
      fftest::Picture a = d.Pixels(), b = original.Pixels();
      EXPECT_EQ(a.pixels, b.pixels) << t;
    }
  }
}

namespace {

// The handler names libavformat reads from a file, by stream, video first.
std::vector<std::string> HandlerNames(const std::string& inPath) {
  std::vector<std::string> names;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, inPath.c_str(), nullptr, nullptr) < 0) return names;
  for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO})
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      if (ctx->streams[i]->codecpar->codec_type != type) continue;
      const AVDictionaryEntry* e = av_dict_get(ctx->streams[i]->metadata, "handler_name", nullptr, 0);
      names.push_back(e ? e->value : "");
    }
  avformat_close_input(&ctx);
  return names;
}

}  // namespace

// MPEG-4 files name their handlers with a string ended by zero, QuickTime
// movies with a counted string: a movie read from either and saved keeps
// the names whole, and reading the saved movie again gives the same names.
TEST_F(MovieFF, SavedMoviesKeepTheirHandlerNamesWhole) {
  TempFile mp4("names.mp4"), once("names_once.mov"), twice("names_twice.mov");
  MovieSpec spec{'mpg4', 'avc1', 64, 48, 4, 600, 20, 48000};
  WriteMovie(mp4.path, spec);
  const std::vector<std::string> written = HandlerNames(mp4.path);
  ASSERT_EQ(written.size(), 2u);
  ASSERT_FALSE(written[0].empty());
  ASSERT_FALSE(written[1].empty());
  std::string from = mp4.path;
  for (const std::string& to : {once.path, twice.path}) {
    SCOPED_TRACE(from + " saved as " + to);
    Movie m = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(from, &m), noErr);  // the toolbox's own reader
    FSSpec toSpec;
    FSMakeFSSpecFromPath(to, &toSpec);
    Movie flattened = FlattenMovieData(m, flattenAddMovieToDataFork, &toSpec, 'TVOD', 0, createMovieFileDeleteCurFile);
    ASSERT_EQ(GetMoviesError(), noErr);
    if (flattened) DisposeMovie(flattened);
    DisposeMovie(m);
    EXPECT_EQ(HandlerNames(to), written);
    from = to;
  }
}

TEST_F(MovieFF, TruncatedAndForeignFilesGiveClearErrors) {
  TempFile mp4("cut.mp4"), avi("cut.avi"), text("notmovie.mp4");
  MovieSpec spec{'mpg4', 'avc1', 160, 120, 30};
  WriteMovie(mp4.path, spec);
  MovieSpec aviSpec{'VfW ', 'jpeg', 160, 120, 30};
  WriteMovie(avi.path, aviSpec);
  for (const std::string& path : {mp4.path, avi.path}) {
    SCOPED_TRACE(path);
    for (double keep : {0.3, 0.7, 0.95}) {
      const auto size = std::filesystem::file_size(path);
      std::string cut = path + ".cut";
      std::filesystem::copy_file(path, cut, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::resize_file(cut, static_cast<uintmax_t>(size * keep));
      Movie m = nullptr;
      OSErr err = testmovies::OpenMovieAt(cut, &m);
      if (err != noErr) {
        EXPECT_EQ(m, nullptr);
      } else {
        // Opened from what is left: every frame drawn is the right one, or the damaged one reports an error.
        Drawn d(m);
        std::vector<TimeValue> times = FrameTimes(m);
        bool failed = false;
        for (size_t i = 0; i < times.size() && !failed; ++i) {
          if (d.DrawAt(times[i]) != noErr) {
            failed = true;
          } else {
            EXPECT_EQ(ReadFrameNumber(d.Pixels()), static_cast<int>(i));
          }
        }
      }
      std::remove(cut.c_str());
    }
  }
  {
    FILE* f = std::fopen(text.path.c_str(), "wb");
    std::fputs("this is no movie at all, only a few words of text", f);
    std::fclose(f);
    Movie m = nullptr;
    EXPECT_EQ(testmovies::OpenMovieAt(text.path, &m), noMovieFound);
    EXPECT_EQ(m, nullptr);
  }
  Movie m = nullptr;
  EXPECT_EQ(ImportMovieWithFFmpeg("/nonexistent/dir/file.mp4", &m), fnfErr);
}

TEST_F(MovieFF, InstallingTwiceChangesNothing) {
  InstallFFmpegMovieComponents();
  InstallFFmpegMovieComponents();
  TempFile file("twice.avi");
  MovieSpec spec{'VfW ', 'jpeg', 160, 48, 3};
  WriteMovie(file.path, spec);
  Movie m = nullptr;
  ASSERT_EQ(testmovies::OpenMovieAt(file.path, &m), noErr);
  Drawn d(m);
  CheckSteppedFrames(d, spec, 30.0);
}

namespace {

// Copies the streams of a file into a Matroska file whose video has the given
// pixel aspect ratio.
bool RemuxToMatroska(const std::string& inPath, const std::string& outPath, AVRational inAspect) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, inPath.c_str(), nullptr, nullptr) < 0) return false;
  avformat_find_stream_info(in, nullptr);
  AVFormatContext* out = nullptr;
  avformat_alloc_output_context2(&out, nullptr, "matroska", outPath.c_str());
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* s = avformat_new_stream(out, nullptr);
    avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar);
    s->codecpar->codec_tag = 0;
    s->time_base = in->streams[i]->time_base;
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) s->sample_aspect_ratio = s->codecpar->sample_aspect_ratio = inAspect;
  }
  bool ok = avio_open(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  AVPacket* pkt = av_packet_alloc();
  while (ok && av_read_frame(in, pkt) >= 0) {
    av_packet_rescale_ts(pkt, in->streams[pkt->stream_index]->time_base, out->streams[pkt->stream_index]->time_base);
    pkt->pos = -1;
    ok = av_interleaved_write_frame(out, pkt) >= 0;
    av_packet_unref(pkt);
  }
  if (ok) ok = av_write_trailer(out) >= 0;
  av_packet_free(&pkt);
  avio_closep(&out->pb);
  avformat_free_context(out);
  avformat_close_input(&in);
  return ok;
}

Rect BoundsInMode(Movie m, OSType mode) {
  QTSetMovieProperty(m, kQTPropertyClass_Visual, kQTVisualPropertyID_ApertureMode, sizeof mode, &mode);
  Rect r;
  GetMovieNaturalBoundsRect(m, &r);
  return r;
}

}  // namespace

TEST_F(MovieFF, MatroskaWithWidePixelsSetsTheApertures) {
  TempFile avi("wide.avi"), mkv("wide.mkv");
  MovieSpec spec{'VfW ', 'jpeg', 240, 180, 10, 600, 20, 48000};
  std::vector<SInt16> original = WriteMovie(avi.path, spec);
  ASSERT_TRUE(RemuxToMatroska(avi.path, mkv.path, AVRational{4, 3}));
  Movie m = nullptr;
  ASSERT_EQ(testmovies::OpenMovieAt(mkv.path, &m), noErr);
  // Clean and production apertures show square pixels; encoded pixels are the coded size.
  Rect clean = BoundsInMode(m, kQTApertureMode_CleanAperture);
  EXPECT_EQ(clean.right - clean.left, 320);
  EXPECT_EQ(clean.bottom - clean.top, 180);
  Rect production = BoundsInMode(m, kQTApertureMode_ProductionAperture);
  EXPECT_EQ(production.right - production.left, 320);
  Rect encoded = BoundsInMode(m, kQTApertureMode_EncodedPixels);
  EXPECT_EQ(encoded.right - encoded.left, 240);
  EXPECT_EQ(encoded.bottom - encoded.top, 180);
  Handle h = NewHandle(0);
  ASSERT_NE(FirstImageDescription(m, h), nullptr);
  Handle pasp = nullptr;
  ASSERT_EQ(GetImageDescriptionExtension(reinterpret_cast<ImageDescriptionHandle>(h), &pasp, 'pasp', 1), noErr);
  ASSERT_EQ(GetHandleSize(pasp), 8);
  EXPECT_EQ(ReadBE32(*pasp), 4u);
  EXPECT_EQ(ReadBE32(*pasp + 4), 3u);
  DisposeHandle(pasp);
  DisposeHandle(h);
  // The pictures are read from the Matroska file itself, read-only.
  Track vt = GetMovieIndTrackType(m, 1, VideoMediaType, movieTrackMediaType);
  ASSERT_NE(vt, nullptr);
  OSType refType = 0;
  EXPECT_EQ(GetMediaDataRef(GetTrackMedia(vt), 1, nullptr, &refType, nullptr), noErr);
  EXPECT_EQ(refType, rAliasType);
  // Frames and sound of the Matroska file are those encoded.
  Drawn d(m);
  CheckSteppedFrames(d, spec, 30.0);
  EXPECT_EQ(MovieSound(m), original);
  m = nullptr;
}

namespace {

// Writes `frames` test pictures with one of libavcodec's encoders into a container of libavformat.
bool WriteWithLibav(const std::string& path, const char* format, const char* encoderName, AVPixelFormat pixelFormat,
                    SInt32 w, SInt32 h, int frames, int fps) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
  if (codec == nullptr) return false;
  AVFormatContext* out = nullptr;
  avformat_alloc_output_context2(&out, nullptr, format, path.c_str());
  if (out == nullptr) return false;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = w;
  c->height = h;
  c->pix_fmt = pixelFormat;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->gop_size = 6;
  c->max_b_frames = std::string(encoderName) == "mpeg2video" ? 2 : 0;
  c->bit_rate = 8000000;
  if (out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVStream* st = avformat_new_stream(out, nullptr);
  bool ok = avcodec_open2(c, codec, nullptr) >= 0 && avcodec_parameters_from_context(st->codecpar, c) >= 0;
  st->time_base = c->time_base;
  ok = ok && avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_ARGB, w, h, pixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->format = pixelFormat;
  frame->width = w;
  frame->height = h;
  ok = ok && sws != nullptr && av_frame_get_buffer(frame, 0) >= 0;
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (ok && avcodec_receive_packet(c, pkt) == 0) {
      pkt->duration = 1;
      av_packet_rescale_ts(pkt, c->time_base, st->time_base);
      pkt->stream_index = st->index;
      ok = av_interleaved_write_frame(out, pkt) >= 0;
    }
  };
  for (int i = 0; ok && i < frames; ++i) {
    fftest::Picture p = MakeFrame(w, h, i);
    const uint8_t* src[1] = {p.pixels.data()};
    const int stride[1] = {p.rowBytes};
    ok = av_frame_make_writable(frame) >= 0;
    sws_scale(sws, src, stride, 0, h, frame->data, frame->linesize);
    frame->pts = i;
    ok = ok && avcodec_send_frame(c, frame) >= 0;
    drain();
  }
  if (ok) avcodec_send_frame(c, nullptr);
  drain();
  if (ok) ok = av_write_trailer(out) >= 0;
  av_packet_free(&pkt);
  av_frame_free(&frame);
  sws_freeContext(sws);
  avcodec_free_context(&c);
  avio_closep(&out->pb);
  avformat_free_context(out);
  return ok;
}

}  // namespace

TEST_F(MovieFF, MPEG2InTransportStreamDVProResHEVCAndMatroskaStepThroughEveryFrame) {
  struct Case {
    const char* name;
    const char* format;
    const char* encoder;
    AVPixelFormat pixels;
    SInt32 w, h;
  };
  const Case cases[] = {
      {"mpeg2.ts", "mpegts", "mpeg2video", AV_PIX_FMT_YUV420P, 352, 288},
      {"mpeg2.mpg", "mpeg", "mpeg2video", AV_PIX_FMT_YUV420P, 352, 288},
      {"pal.dv", "dv", "dvvideo", AV_PIX_FMT_YUV420P, 720, 576},
      {"prores.mov", "mov", "prores_ks", AV_PIX_FMT_YUV422P10LE, 322, 240},
      {"hevc.mp4", "mp4", "libx265", AV_PIX_FMT_YUV420P, 320, 240},
      {"mjpeg.mkv", "matroska", "mjpeg", AV_PIX_FMT_YUVJ420P, 321, 241},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TempFile file(k.name);
    const int frames = 14;
    if (!WriteWithLibav(file.path, k.format, k.encoder, k.pixels, k.w, k.h, frames, 25)) {
      ADD_FAILURE() << "could not write " << k.name;
      continue;
    }
    Movie m = nullptr;
    ASSERT_EQ(testmovies::OpenMovieAt(file.path, &m), noErr);
    // Compared in encoded pixels: DV's pixels are not square.
    BoundsInMode(m, kQTApertureMode_EncodedPixels);
    Drawn d(m);
    EXPECT_EQ(d.width, k.w);
    EXPECT_EQ(d.height, k.h);
    MovieSpec spec{0, 0, k.w, k.h, frames, 25, 1};
    CheckSteppedFrames(d, spec, 30.0);
    // A jump back into the middle of a group of pictures.
    ASSERT_EQ(d.DrawAt(9 * GetMovieTimeScale(m) / 25 + 1), noErr);
    EXPECT_EQ(ReadFrameNumber(d.Pixels()), 9);
  }
}
