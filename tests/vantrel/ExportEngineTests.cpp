// Real exports through the Vantrel program: this test is the application,
// the request carries an in-memory movie, and the written file is read back
// with libavformat. Also the video data source on its own, in process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <filesystem>

#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Aliases.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "support/movies/OpenMovie.h"
#include "vantrel/ExportEngine.h"
#include "vantrel/ExportClient.h"
#include "vantrel/ExportRequests.h"
#include "vantrel/InProcessExport.h"
#include "vantrel/VantrelFixture.h"
#include "vantrel/VantrelWorker.h"
#include "vantrel/VideoExportSource.h"

namespace fs = std::filesystem;

namespace {

// A control track that moves every frame by (k % 3 - 1, 1 - k % 3) pixels.
void AddControlTrack(Movie inMovie, int inFrames, Rect inBounds) {
  CMotionData store;
  TArray<FrameData>& frames = store.GetFrames();
  for (int k = 0; k < inFrames; ++k) {
    FrameData f;
    f.time = k * 20;
    f.duration = 20;
    SetIdentityMatrix(&f.matrix1);
    TranslateMatrix(&f.matrix1, Long2Fix(k % 3 - 1), Long2Fix(1 - k % 3));
    f.matrix2 = f.matrix1;
    frames.AddItem(f);
  }
  Track track = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(inMovie, inBounds, store, &track), noErr);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(track, params), noErr);
}

class VantrelExport : public TVantrelFixture<> {
 protected:
  VantrelExport() : TVantrelFixture("/tmp/trx-export-test-XXXXXX", false) {}
  // No temporary sound file is left after an export.
  void ExpectNoTemporaryFiles() {
    const fs::path temp = fs::path(mFolder) / "cache";
    if (!fs::exists(temp)) return;
    for (const auto& entry : fs::recursive_directory_iterator(temp))
      EXPECT_NE(entry.path().filename().string().rfind("Tremb_", 0), 0u) << entry.path();
  }
};

}  // namespace

TEST_F(VantrelExport, StabilisedMPEG4WithSoundAndPassThroughQuickTime) {
  Movie movie = exporttest::MakeMovie(128, 72, 30);
  exporttest::AddSound(movie, 44100);  // 1 s
  AddControlTrack(movie, 30, Rect{0, 0, 72, 128});
  const std::string mp4 = mFolder + "/steady.mp4";
  ASSERT_EQ(mClient.Send(ExportRequestFor(movie, mp4, 'mpg4', 11)), kCFMessagePortSuccess);

  Movie plain = exporttest::MakeMovie(128, 72, 12);
  const std::string mov = mFolder + "/plain.mov";
  ASSERT_EQ(mClient.Send(ExportRequestFor(plain, mov, 'MooV', 12)), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitForDone(12, 120.0));

  EXPECT_EQ(ErrorOf(mClient.StatusesOf(11)), 0);
  exporttest::FileFacts f = exporttest::Probe(mp4);
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.video.packets, 30);
  EXPECT_NEAR(f.video.seconds, 1.0, 1e-3);
  EXPECT_EQ(f.video.width, 128);
  EXPECT_EQ(f.video.height, 72);
  EXPECT_NEAR(f.video.frameRate, 30.0, 0.01);
  ASSERT_TRUE(f.sound.present);
  EXPECT_GE(f.sound.soundFrames, 44100);
  EXPECT_LE(f.sound.soundFrames, 44100 + 2048);
  // Sound was pre-exported (its phase reported) and its file is gone.
  bool soundPhase = false;
  for (const ExportStatus& s : mClient.StatusesOf(11)) soundPhase = soundPhase || s.phase == kExportPhaseSound;
  EXPECT_TRUE(soundPhase);

  // Without a control track every stored frame goes through as it was.
  EXPECT_EQ(ErrorOf(mClient.StatusesOf(12)), 0);
  exporttest::FileFacts g = exporttest::Probe(mov, true);
  EXPECT_FALSE(g.sound.present);
  ASSERT_EQ(g.frameNumbers.size(), 12u);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(g.frameNumbers[static_cast<size_t>(k)], k);
  ExpectNoTemporaryFiles();
  DisposeMovie(movie);
  DisposeMovie(plain);
}

TEST_F(VantrelExport, CancelRemovesTheFileAndBadRequestsReportAnError) {
  // 90 stored frames shown sixty times over: long enough that the export
  // is still running when the cancel arrives, however loaded the machine.
  Movie movie = exporttest::MakeMovie(320, 180, 90);
  {
    Track track = GetMovieIndTrack(movie, 1);
    Media media = GetTrackMedia(track);
    const TimeValue length = GetMediaDuration(media);
    for (int copy = 1; copy < 60; ++copy) InsertMediaIntoTrack(track, copy * length, 0, length, fixed1);
  }
  const std::string mp4 = mFolder + "/cancelled.mp4";
  ASSERT_EQ(mClient.Send(ExportRequestFor(movie, mp4, 'mpg4', 21)), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitFor([](const std::vector<ExportStatus>& all) {
    for (const ExportStatus& s : all)
      if (s.cookie == 21 && s.phase == kExportPhaseMovie && s.fraction > 0) return true;
    return false;
  }, 60.0));
  UInt8 cancel[5];
  MakeCancelCommand(21, cancel);
  ASSERT_EQ(mClient.Send(Bytes(cancel, cancel + 5)), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitForDone(21, 60.0));
  EXPECT_EQ(ErrorOf(mClient.StatusesOf(21)), userCanceledErr);
  EXPECT_FALSE(fs::exists(mp4));

  // A destination that turned into a folder cannot be written: an error
  // record, and nothing written into or beside it.
  Movie small = exporttest::MakeMovie(128, 72, 6);
  const std::string blocked = mFolder + "/blocked.mov";
  Bytes request = ExportRequestFor(small, blocked, 'MooV', 22);
  fs::remove(blocked);
  fs::create_directory(blocked);
  ASSERT_EQ(mClient.Send(request), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitForDone(22, 60.0));
  EXPECT_NE(ErrorOf(mClient.StatusesOf(22)), 0);
  EXPECT_TRUE(fs::is_empty(blocked));
  EXPECT_EQ(mClient.StatusesOf(22).back().kind, kExportStatusDone);

  // A movie whose media file is gone: an error record, nothing written.
  const std::string source = mFolder + "/source.mov";
  FSSpec sourceSpec;
  FSMakeFSSpecFromPath(source, &sourceSpec);
  Movie onDisk = FlattenMovieData(small, flattenAddMovieToDataFork, &sourceSpec, 'TVOD', smSystemScript,
                                  createMovieFileDeleteCurFile);
  ASSERT_NE(onDisk, nullptr);
  const std::string orphan = mFolder + "/orphan.mov";
  Bytes orphanRequest = ExportRequestFor(onDisk, orphan, 'MooV', 23);
  DisposeMovie(onDisk);
  fs::remove(source);
  ASSERT_EQ(mClient.Send(orphanRequest), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitForDone(23, 60.0));
  EXPECT_NE(ErrorOf(mClient.StatusesOf(23)), 0);
  EXPECT_FALSE(fs::exists(orphan));
  ExpectNoTemporaryFiles();
  DisposeMovie(movie);
  DisposeMovie(small);
}

// The video source in process: the exporter's choice of size, the frame
// steps of a 20/21 movie and the end of the movie.
TEST(VideoExportSource, SizeChoiceTimeStepsAndEnd) {
  EnterMovies();
  Movie movie = exporttest::MakeMovie(128, 72, 3, 21);  // frames at 0, 21, 42; duration 63
  MovieExportComponent ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(MovieExportType, 'MooV', &ci), noErr);
  VideoExportData v;
  SetUpVideoExportSource(v, ci, movie, GetMovieIndTrack(movie, 1), false);

  Fixed half = Long2Fix(64);
  myVideoExportGetPropertyProc(&v, 1, 'wdth', &half);
  Fixed asked = 0;
  myVideoExportGetPropertyProc(&v, 1, 'wdth', &asked);  // asking again keeps the choice
  EXPECT_EQ(asked, Long2Fix(64));
  EXPECT_FLOAT_EQ(v.hScale, 0.5f);
  EXPECT_FLOAT_EQ(v.vScale, 1.0f);
  half = Long2Fix(64);
  myVideoExportGetPropertyProc(&v, 1, 'wdth', &half);  // setting twice is measured on the natural size
  EXPECT_FLOAT_EQ(v.hScale, 0.5f);

  MovieExportGetDataParams p{};
  p.requestedTime = 0;
  ASSERT_EQ(myVideoExportGetDataProc(&v, &p), noErr);
  EXPECT_EQ(p.durationPerSample, 20);  // 21 at 600 is answered as 20
  // A stored sample goes through with its own description; a drawn frame
  // never goes with a description of another size.
  ImageDescription d = **reinterpret_cast<ImageDescriptionHandle>(p.desc);
  EXPECT_GE(p.dataSize, static_cast<SInt32>(d.width) * d.height * 4);
  p = MovieExportGetDataParams{};
  p.requestedTime = 20;  // within the tolerance of the real frame at 21
  ASSERT_EQ(myVideoExportGetDataProc(&v, &p), noErr);
  EXPECT_EQ(p.actualTime, 20);
  p = MovieExportGetDataParams{};
  p.requestedTime = 42;
  ASSERT_EQ(myVideoExportGetDataProc(&v, &p), noErr);
  EXPECT_EQ(p.durationPerSample, 63 - 42);
  p = MovieExportGetDataParams{};
  p.requestedTime = 63;
  EXPECT_EQ(myVideoExportGetDataProc(&v, &p), eofErr);
  DisposeVideoExportSource(v);
  CloseComponent(ci);
  DisposeMovie(movie);
}

// Vantrel never removes what stands at the destination: a finished export
// has renamed its movie over it, and a stopped or failed one left it as it
// was (an earlier file of the user's), even when a cancel comes late.
TEST(DoExportCancel, NoCancelTakesTheFileAtTheDestination) {
  char pattern[] = "/tmp/trx-late-cancel-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  setenv("TRX_IPC_DIR", folder.c_str(), 1);  // no application port: records go nowhere
  const std::string path = folder + "/done.mov";
  FSSpec spec;
  FSMakeFSSpecFromPath(path, &spec);
  FSpCreate(&spec, kTremblorixFileCreator, 'MooV', smSystemScript);
  AliasHandle alias = nullptr;
  ASSERT_EQ(NewAlias(nullptr, &spec, &alias), noErr);
  Bytes message{kExportCommandExport};
  AppendRecord(message, kExportTagMovie, Bytes{1});
  AppendRecord(message, kExportTagDestination, HandleBytes(reinterpret_cast<Handle>(alias)));
  AppendRecord(message, kExportTagExporterSettings, Bytes{});
  AppendRecord(message, kExportTagEnd, Bytes{});
  DisposeHandle(reinterpret_cast<Handle>(alias));

  WorkerThread worker;
  for (OSErr outcome : {noErr, userCanceledErr}) {
    static OSErr sOutcome;
    sOutcome = outcome;
    SetExportEngine([](WorkerRequest* r, const ExportRequestFields&) -> OSErr {
      r->cancel.store(1);  // the cancel comes in as the export ends
      return sOutcome;
    });
    WorkerRequest* request = nullptr;
    ASSERT_EQ(CreateWorkerRequest(&worker, &request), noErr);
    request->data = CFDataCreate(kCFAllocatorDefault, message.data(), static_cast<CFIndex>(message.size()));
    DoExport(request);
    ReleaseWorkerRequest(request);
    EXPECT_TRUE(fs::exists(path)) << outcome;
  }
  SetExportEngine(nullptr);
  fs::remove_all(folder);
  unsetenv("TRX_IPC_DIR");
}

namespace {

// The pixel (x, y) of an answered ARGB frame of 72 rows.
const UInt8* PixelOf(const MovieExportGetDataParams& p, SInt32, SInt32 x, SInt32 y) {
  const SInt32 rowBytes = p.dataSize / 72;
  return reinterpret_cast<const UInt8*>(p.dataPtr) + static_cast<ptrdiff_t>(y) * rowBytes + 4 * x;
}

MovieExportGetDataParams AskFrame(VideoExportData& v, TimeValue inTime) {
  MovieExportGetDataParams p{};
  p.requestedTime = inTime;
  EXPECT_EQ(myVideoExportGetDataProc(&v, &p), noErr);
  return p;
}

}  // namespace

// Two visible tracks and no control track: no single stored sample stands
// for a frame, so the frame the movie shows is drawn; where the first track
// has an empty edit nothing of its earlier frame stays.
TEST(VideoExportSource, TwoTracksAreDrawnAndAnEmptyEditIsBlack) {
  EnterMovies();
  Movie movie = exporttest::MakeMovie(128, 72, 3);  // frames at 0, 20, 40
  Track first = GetMovieIndTrack(movie, 1);
  ASSERT_EQ(InsertEmptyTrackSegment(first, 20, 20), noErr);  // frame 1 moves to 40, nothing at 20
  Movie other = exporttest::MakeMovie(64, 36, 4);
  Track second = NewMovieTrack(movie, Long2Fix(64), Long2Fix(36), 0);
  ASSERT_EQ(InsertTrackSegment(GetMovieIndTrack(other, 1), second, 0, 20, 0), noErr);  // one frame, at 0
  MatrixRecord shift;
  SetIdentityMatrix(&shift);
  TranslateMatrix(&shift, Long2Fix(64), Long2Fix(36));
  SetTrackMatrix(second, &shift);

  MovieExportComponent ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(MovieExportType, 'MooV', &ci), noErr);
  VideoExportData v;
  SetUpVideoExportSource(v, ci, movie, first, false);
  const fftest::Picture big = fftest::MakeFrame(128, 72, 0);

  MovieExportGetDataParams p = AskFrame(v, 0);
  ASSERT_GE(p.dataSize, 128 * 72 * 4);
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 10, 5), &big.pixels[(5 * 128 + 10) * 4], 4), 0);
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 10, 30), &big.pixels[(30 * 128 + 10) * 4], 4), 0);
  const fftest::Picture small0 = fftest::MakeFrame(64, 36, 0);
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 64 + 20, 36 + 20), &small0.pixels[(20 * 64 + 20) * 4], 4), 0);

  // Nothing is shown at 20: nothing of the frame before stays.
  p = AskFrame(v, 20);
  ASSERT_GE(p.dataSize, 128 * 72 * 4);
  const UInt8 black[4] = {255, 0, 0, 0};
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 10, 30), black, 4), 0);
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 64 + 20, 36 + 20), black, 4), 0);
  p = AskFrame(v, 40);
  EXPECT_EQ(std::memcmp(PixelOf(p, 128, 10, 30), &fftest::MakeFrame(128, 72, 1).pixels[(30 * 128 + 10) * 4], 4), 0);
  DisposeVideoExportSource(v);
  CloseComponent(ci);
  DisposeMovie(other);
  DisposeMovie(movie);
}

// A control track without render parameters renders from a zeroed record:
// the margin a correction uncovers stays transparent (border mode 0).
TEST(VideoExportSource, ControlTrackWithoutRenderParamsStartsFromZero) {
  EnterMovies();
  Movie movie = exporttest::MakeMovie(128, 72, 3);
  CMotionData store;
  for (int k = 0; k < 3; ++k) {
    FrameData f;
    f.time = k * 20;
    f.duration = 20;
    SetIdentityMatrix(&f.matrix1);
    TranslateMatrix(&f.matrix1, Long2Fix(6), 0);
    f.matrix2 = f.matrix1;
    store.GetFrames().AddItem(f);
  }
  Track control = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, Rect{0, 0, 72, 128}, store, &control), noErr);
  MovieExportComponent ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(MovieExportType, 'MooV', &ci), noErr);
  VideoExportData v;
  SetUpVideoExportSource(v, ci, movie, GetMovieIndTrack(movie, 1), false);
  MovieExportGetDataParams p = AskFrame(v, 0);
  ASSERT_GE(p.dataSize, 128 * 72 * 4);
  EXPECT_EQ(PixelOf(p, 128, 1, 40)[0], 0);     // uncovered: transparent, not the border colour
  EXPECT_EQ(PixelOf(p, 128, 60, 40)[0], 255);  // the picture itself
  DisposeVideoExportSource(v);
  CloseComponent(ci);
  DisposeMovie(movie);
}


// Every sound libavcodec decodes is exported, mono and stereo, at the
// common rates: compressed sound (AAC, MP3, MP2) as well as plain samples.
TEST_F(InProcessExport, EverySoundIsExported) {
  struct Kind {
    const char* encoder;
    std::vector<int> rates;
  };
  const Kind kinds[] = {{"aac", {8000, 16000, 44100, 48000}},
                        {"libmp3lame", {8000, 16000, 44100, 48000}},
                        {"mp2", {16000, 44100, 48000}},  // MPEG audio layer II has no 8 kHz
                        {"pcm_s16le", {8000, 16000, 44100, 48000}}};
  int n = 0;
  for (const char* container : {"mov", "mp4"})
  for (const Kind& k : kinds)
    for (int rate : k.rates)
      for (int channels : {1, 2}) {
        if (std::strcmp(container, "mp4") == 0 && std::strcmp(k.encoder, "pcm_s16le") == 0) continue;
        SCOPED_TRACE(std::string(container) + " " + k.encoder + " " + std::to_string(rate) + " Hz, " +
                     std::to_string(channels) + " ch");
        const std::string source = mFolder + "/sound" + std::to_string(n) + "." + container;
        const std::string dest = mFolder + "/out" + std::to_string(n++) + ".mp4";
        if (!avcodec_find_encoder_by_name(k.encoder)) continue;
        const bool written = exporttest::WriteSoundMovie(source, k.encoder, rate, channels, 0.5, container);
        if (!written && std::strcmp(container, "mp4") == 0) continue;  // MPEG-4 files take no 8 kHz MP3
        ASSERT_TRUE(written);
        Movie opened = testmovies::OpenMovieAt(source);
        ASSERT_NE(opened, nullptr);
        // Saved as the application saves it, then exported from the saved file.
        FSSpec saved;
        FSMakeFSSpecFromPath(source + ".saved.mov", &saved);
        Movie movie = FlattenMovieData(opened, flattenAddMovieToDataFork, &saved, 'TVOD', smSystemScript,
                                       createMovieFileDeleteCurFile);
        DisposeMovie(opened);
        ASSERT_NE(movie, nullptr);
        EXPECT_EQ(ExportInProcess(ExportRequestFor(movie, dest, 'mpg4', 1)), noErr);
        DisposeMovie(movie);
        exporttest::FileFacts f = exporttest::Probe(dest);
        ASSERT_TRUE(f.sound.present);
        EXPECT_EQ(f.sound.sampleRate, rate);
        // The AAC of the MPEG-4 file adds its priming and a last whole packet.
        // MP3 adds its encoder delay too.
        EXPECT_GE(static_cast<double>(f.sound.soundFrames) / rate, 0.49);
        EXPECT_LE(static_cast<double>(f.sound.soundFrames) / rate, 0.5 + 4096.0 / rate);
      }
}

// Vantrel killed in the middle of an export: nothing under the destination's
// name is half written, and the movie that was there before stays whole.
TEST_F(VantrelExport, AKilledExportKeepsTheEarlierFile) {
  Movie movie = exporttest::MakeMovie(192, 108, 200);
  const std::string mp4 = mFolder + "/again.mp4";
  {
    FILE* f = std::fopen(mp4.c_str(), "wb");
    std::fputs("the earlier movie", f);
    std::fclose(f);
  }
  ASSERT_EQ(mClient.Send(ExportRequestFor(movie, mp4, 'mpg4', 31)), kCFMessagePortSuccess);
  ASSERT_TRUE(mClient.WaitFor([](const std::vector<ExportStatus>& all) {
    for (const ExportStatus& s : all)
      if (s.cookie == 31 && s.phase == kExportPhaseMovie && s.fraction > 0) return true;
    return false;
  }, 60.0));
  ASSERT_GT(mClient.PID(), 0);
  kill(mClient.PID(), SIGKILL);
  mClient.WaitForExit(20.0);
  EXPECT_EQ(fs::file_size(mp4), 17u);
  std::ifstream in(mp4);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "the earlier movie");
  DisposeMovie(movie);
  // Relaunched for the fixture's own ending.
  ASSERT_TRUE(mClient.Launch());
  ASSERT_TRUE(mClient.Connect());
}

// An interlaced movie (upper field first) keeps its fields: coded as
// interlaced H.264 with the container's field order, each field's chroma
// its own (upper lines red, lower lines blue, never blended to purple).
TEST_F(InProcessExport, InterlacedMovieKeepsItsFields) {
  Movie movie = exporttest::MakeMovie(128, 72, 6);
  Media media = GetTrackMedia(GetMovieIndTrack(movie, 1));
  // Replace the pictures by two-coloured fields.
  {
    Handle data = NewHandle(128 * 72 * 4);
    UInt8* p = reinterpret_cast<UInt8*>(*data);
    for (int y = 0; y < 72; ++y)
      for (int x = 0; x < 128; ++x) {
        UInt8* px = p + (y * 128 + x) * 4;
        px[0] = 255;
        px[1] = y % 2 == 0 ? 200 : 40;
        px[2] = 60;
        px[3] = y % 2 == 0 ? 40 : 200;
      }
    Track t = GetMovieIndTrack(movie, 1);
    DeleteTrackSegment(t, 0, GetTrackDuration(t));
    auto desc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
    GetMediaSampleDescription(media, 1, desc);
    BeginMediaEdits(media);
    TimeValue at = 0;
    for (int k = 0; k < 6; ++k) AddMediaSample(media, data, 0, 128 * 72 * 4, 20, desc, 1, 0, k == 0 ? &at : nullptr);
    EndMediaEdits(media);
    InsertMediaIntoTrack(t, 0, at, 120, fixed1);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  CMotionData store;
  for (int k = 0; k < 6; ++k) {
    FrameData f;
    f.time = k * 20;
    f.duration = 20;
    SetIdentityMatrix(&f.matrix1);
    f.matrix2 = f.matrix1;
    store.GetFrames().AddItem(f);
  }
  Track control = nullptr;
  ASSERT_EQ(CTweenTracks::CreateTweenTrackFromMotionData(movie, Rect{0, 0, 72, 128}, store, &control), noErr);
  RenderFrameParams params;
  params.interlaceMode = 3;
  params.borderMode = kBorderColor;
  ASSERT_EQ(CMovieRendering::WriteRenderParamsToTrack(control, params), noErr);
  const std::string dest = mFolder + "/fields.mov";
  ASSERT_EQ(ExportInProcess(ExportRequestFor(movie, dest, 'MooV', 2)), noErr);
  DisposeMovie(movie);

  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(avformat_open_input(&ctx, dest.c_str(), nullptr, nullptr), 0);
  avformat_find_stream_info(ctx, nullptr);
  const int vi = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  ASSERT_GE(vi, 0);
  EXPECT_EQ(ctx->streams[vi]->codecpar->field_order, AV_FIELD_TT);
  AVCodecContext* dec = avcodec_alloc_context3(avcodec_find_decoder(ctx->streams[vi]->codecpar->codec_id));
  avcodec_parameters_to_context(dec, ctx->streams[vi]->codecpar);
  ASSERT_EQ(avcodec_open2(dec, nullptr, nullptr), 0);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool got = false;
  while (!got && av_read_frame(ctx, pkt) >= 0) {
    if (pkt->stream_index == vi && avcodec_send_packet(dec, pkt) >= 0) got = avcodec_receive_frame(dec, frame) == 0;
    av_packet_unref(pkt);
  }
  if (!got) {
    avcodec_send_packet(dec, nullptr);
    got = avcodec_receive_frame(dec, frame) == 0;
  }
  ASSERT_TRUE(got);
  EXPECT_TRUE(frame->interlaced_frame);
  EXPECT_TRUE(frame->top_field_first);
  ASSERT_EQ(frame->format, AV_PIX_FMT_YUV420P);
  // Chroma lines alternate between the fields: even ones are the upper field's.
  double upper = 0, lower = 0;
  const int rows = frame->height / 2, cols = frame->width / 2;
  for (int y = 4; y < rows - 4; ++y)
    for (int x = 4; x < cols - 4; ++x) (y % 2 == 0 ? upper : lower) += frame->data[2][y * frame->linesize[2] + x];
  const double n = (rows - 8) / 2.0 * (cols - 8);
  EXPECT_GT(upper / n - lower / n, 60.0);  // red above, blue below
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&ctx);
}

// The exporter's frame rate resamples the frames in time (each output frame
// the picture shown at its time); the sound stays as it was.
TEST_F(InProcessExport, FrameRateSettingResamplesTheFrames) {
  for (int fps : {15, 24, 60}) {
    SCOPED_TRACE(fps);
    Movie movie = exporttest::MakeMovie(128, 72, 30);  // 30 frames per second, 1 s
    exporttest::AddSound(movie, 44100);
    const std::string dest = mFolder + "/rate" + std::to_string(fps) + ".mov";
    ASSERT_EQ(ExportInProcess(ExportRequestFor(movie, dest, 'MooV', 3, Long2Fix(fps))), noErr);
    DisposeMovie(movie);
    exporttest::FileFacts f = exporttest::Probe(dest, true);
    EXPECT_EQ(f.video.packets, fps);
    EXPECT_NEAR(f.video.seconds, 1.0, 1e-3);
    EXPECT_NEAR(f.video.frameRate, fps, 0.01);
    ASSERT_EQ(f.frameNumbers.size(), static_cast<size_t>(fps));
    if (fps < 30) {
      for (int k = 0; k < fps; ++k) EXPECT_EQ(f.frameNumbers[static_cast<size_t>(k)], k * 30 / fps) << k;
    } else {
      // Every source frame, in order (a request within 1/60 s of the next
      // frame is served at that frame, as the video source steps).
      std::vector<int> seen = f.frameNumbers;
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
      seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
      EXPECT_EQ(seen.size(), 30u);
    }
    ASSERT_TRUE(f.sound.present);
    EXPECT_EQ(f.sound.soundFrames, 44100);
  }
}
