#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "support/ShakyScene.h"
#include "TaskTestSupport.h"
#include "motion/CInterlaceTrackerTask.h"
#include "platform/files/Files.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/tasks/Multiprocessing.h"
#include "support/movies/OpenMovie.h"

using namespace tasktest;
using namespace shaky;

namespace {

constexpr SInt32 kW = 192, kH = 144;

// The scene of a camera panning steadily, at field time t.
Pose PanAt(double inFieldTime) { return Pose::Make(1.0, 0.0, 3.0 * inFieldTime, 0.8 * inFieldTime); }

enum class EOrder { kProgressive, kTopFirst, kBottomFirst, kStill };

// Frame k of an interlaced (or progressive, or still) sequence: with top
// field first the even rows show field time 2k and the odd rows 2k + 1.
void DrawSequence(const Texture& inTexture, EOrder inOrder, SInt32 k, CBuffer* ioFrame) {
  switch (inOrder) {
    case EOrder::kProgressive: Render(inTexture, PanAt(2.0 * k), ioFrame); break;
    case EOrder::kStill: Render(inTexture, PanAt(0), ioFrame); break;
    case EOrder::kTopFirst:
      Render(inTexture, PanAt(2.0 * k), ioFrame, ERows::kEvenRows);
      Render(inTexture, PanAt(2.0 * k + 1), ioFrame, ERows::kOddRows);
      break;
    case EOrder::kBottomFirst:
      Render(inTexture, PanAt(2.0 * k + 1), ioFrame, ERows::kEvenRows);
      Render(inTexture, PanAt(2.0 * k), ioFrame, ERows::kOddRows);
      break;
  }
}

struct Result {
  QInterlaceMode mode = 0;
  QInterlaceDelay standard = -1;
  SInt32 frames = 0;
  OSErr error = 0;
};

struct Interlace : ::testing::Test {
  void SetUp() override { UseBundle(); }

  Result Analyse(Movie inMovie, bool inWithSheet = false, TestDocument* ioDocument = nullptr) {
    TestDocument local;
    TestDocument& doc = ioDocument ? *ioDocument : local;
    CMovie movie(inMovie, true);
    doc.movie = &movie;
    Result r;
    doc.onEnd = [&](CMovieTask* t) {
      auto* task = static_cast<CInterlaceTrackerTask*>(t);
      r.mode = task->GetResultMode();
      r.standard = task->GetResultStandard();
      r.frames = task->GetFrameCount();
      r.error = task->GetError();
    };
    auto* task = new CInterlaceTrackerTask(&doc, inWithSheet);
    task->SetEndMessage(msg_InterlaceAnalysisEnded);
    EXPECT_TRUE(RunTask(doc, task));
    doc.movie = nullptr;
    return r;
  }
  Movie Sequence(EOrder inOrder, SInt32 inFrames, TimeValue inDuration = 40, TimeScale inScale = 1000) {
    static const Texture texture = MakeTexture(kW + 400, kH + 200, 5);
    return MakeRawMovie(kW, kH, inFrames, inDuration, inScale,
                        [&](SInt32 k, CBuffer* f) { DrawSequence(texture, inOrder, k, f); });
  }
};

// Writes an interlaced MPEG-2 stream with libavcodec's interlaced coding
// (field order told to the encoder and in every frame).
bool WriteInterlacedMPEG2(const std::string& inPath, bool inTopFirst, int inFrames) {
  const int w = 352, h = 288;
  static const Texture texture = MakeTexture(w + 400, h + 200, 9);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
  if (!codec) return false;
  AVFormatContext* out = nullptr;
  avformat_alloc_output_context2(&out, nullptr, "mpegts", inPath.c_str());
  if (!out) return false;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = w;
  c->height = h;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 25};
  c->framerate = AVRational{25, 1};
  c->gop_size = 12;
  c->max_b_frames = 0;
  c->bit_rate = 12000000;
  c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
  c->field_order = inTopFirst ? AV_FIELD_TT : AV_FIELD_BB;
  AVStream* st = avformat_new_stream(out, nullptr);
  bool ok = avcodec_open2(c, codec, nullptr) >= 0 && avcodec_parameters_from_context(st->codecpar, c) >= 0;
  st->time_base = c->time_base;
  ok = ok && avio_open(&out->pb, inPath.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_ARGB, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                   nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = w;
  frame->height = h;
  ok = ok && sws && av_frame_get_buffer(frame, 0) >= 0;
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (ok && avcodec_receive_packet(c, pkt) == 0) {
      pkt->duration = 1;
      av_packet_rescale_ts(pkt, c->time_base, st->time_base);
      pkt->stream_index = st->index;
      ok = av_interleaved_write_frame(out, pkt) >= 0;
    }
  };
  const Rect bounds = {0, 0, h, w};
  CBuffer picture(bounds, kBufferDepth8, kBufferModeARGB);
  for (int i = 0; ok && i < inFrames; ++i) {
    DrawSequence(texture, inTopFirst ? EOrder::kTopFirst : EOrder::kBottomFirst, i, &picture);
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(picture.GetData())};
    const int stride[1] = {static_cast<int>(picture.GetRowBytes())};
    ok = av_frame_make_writable(frame) >= 0;
    sws_scale(sws, src, stride, 0, h, frame->data, frame->linesize);
    frame->pts = i;
    frame->interlaced_frame = 1;
    frame->top_field_first = inTopFirst ? 1 : 0;
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

// Fields from a progressive sequence at twice the rate: top field first
// (even rows earlier) is mode 3, bottom field first mode 4; progressive
// motion mode 2; a still picture stays undecided and is read to its end.
TEST_F(Interlace, FieldOrderFromSyntheticFields) {
  Result r = Analyse(Sequence(EOrder::kTopFirst, 60));
  EXPECT_EQ(r.error, noErr);
  EXPECT_EQ(r.mode, kInterlace_OddFirst);
  EXPECT_GE(r.frames, 16);
  EXPECT_EQ(r.standard, kInterlaceDelay_PAL);
  r = Analyse(Sequence(EOrder::kBottomFirst, 60));
  EXPECT_EQ(r.mode, kInterlace_EvenFirst);
  r = Analyse(Sequence(EOrder::kProgressive, 60));
  EXPECT_EQ(r.mode, kInterlace_Progressive);
  r = Analyse(Sequence(EOrder::kStill, 30));
  EXPECT_EQ(r.mode, kInterlace_Undecided);
  EXPECT_EQ(r.frames, 29);  // every frame with a next one: the whole movie was read
}

// The standard comes from the commonest frame duration: 40 ms is 25 frames
// per second, 33.37 ms 30; 41.7 ms counts as 25, 20 ms as none; a time
// scale of 0 tells nothing. Fewer than 16 frames leave it unknown, and such
// a short movie is read to its end.
TEST_F(Interlace, StandardFromFrameDurations) {
  EXPECT_EQ(CInterlaceTrackerTask::StandardForDuration(40, 1000), kInterlaceDelay_PAL);
  EXPECT_EQ(CInterlaceTrackerTask::StandardForDuration(1001, 30000), kInterlaceDelay_NTSC);
  EXPECT_EQ(CInterlaceTrackerTask::StandardForDuration(1001, 24000), kInterlaceDelay_PAL);
  EXPECT_EQ(CInterlaceTrackerTask::StandardForDuration(20, 1000), kInterlaceDelay_None);
  EXPECT_EQ(CInterlaceTrackerTask::StandardForDuration(40, 0), kInterlaceDelay_None);

  Result r = Analyse(Sequence(EOrder::kTopFirst, 40, 1001, 30000));
  EXPECT_EQ(r.standard, kInterlaceDelay_NTSC);
  r = Analyse(Sequence(EOrder::kTopFirst, 12));
  EXPECT_EQ(r.frames, 11);
  EXPECT_EQ(r.standard, kInterlaceDelay_None);
}

// With a sheet: its caption and an indeterminate bar; Cancel stops at the
// next frame with what was reached.
TEST_F(Interlace, SheetAndCancel) {
  TestDocument doc;
  doc.withSheets = true;
  CMovie movie(Sequence(EOrder::kStill, 40), true);
  doc.movie = &movie;
  auto* task = new CInterlaceTrackerTask(&doc, true);
  task->SetEndMessage(msg_InterlaceAnalysisForFormatEnded);
  ASSERT_NE(doc.lastSheet, nullptr);
  EXPECT_EQ(doc.lastSheet->caption, "Analysing the field order and frame rate…");
  EXPECT_TRUE(doc.lastSheet->indeterminate);
  SInt32 frames = -1;
  doc.onEnd = [&](CMovieTask* t) { frames = static_cast<CInterlaceTrackerTask*>(t)->GetFrameCount(); };
  int turns = 0;
  ASSERT_TRUE(RunTask(doc, task, [&] {
    if (++turns == 5) task->ProgressSheetMessage(901);
  }));
  EXPECT_EQ(doc.ended, std::vector<MessageT>{310});
  EXPECT_LE(frames, 6);
  EXPECT_EQ(doc.sheetsAlive, 0);
}

// The field measure's bands: each adds its share under the group's lock, so
// repeated runs give the same measure (to the order of the float sums: no
// band's share is lost or added twice), and one band measures about the same.
TEST_F(Interlace, FieldMeasureIsTheSameForAnyBanding) {
  static const Texture texture = MakeTexture(kW + 400, kH + 200, 5);
  const Rect bounds = {0, 0, kH, kW};
  CBuffer a(bounds, kBufferDepth8, kBufferModeARGB), b(bounds, kBufferDepth8, kBufferModeARGB);
  DrawSequence(texture, EOrder::kTopFirst, 3, &a);
  DrawSequence(texture, EOrder::kTopFirst, 4, &b);
  CBufferReleaser src(CBuffer::CreateFromBuffer_Even(&a)), dst(CBuffer::CreateFromBuffer_Odd(&b));
  Rect rect;
  SectRect(&src.GetBuffer()->GetBounds(), &dst.GetBuffer()->GetBounds(), &rect);
  Float32 many = 0, one = 0;
  ASSERT_EQ(CInterlaceTrackerTask::FieldMeasure(src.GetBuffer(), dst.GetBuffer(), rect, many), noErr);
  EXPECT_GT(many, 0.0f);
  for (int i = 0; i < 20; ++i) {
    Float32 again = 0;
    ASSERT_EQ(CInterlaceTrackerTask::FieldMeasure(src.GetBuffer(), dst.GetBuffer(), rect, again), noErr);
    EXPECT_NEAR(again, many, 1e-5 * many);
  }
  MPSetProcessorCountForTesting(1);
  CTaskGroup::mAllowMP = false;
  ASSERT_EQ(CInterlaceTrackerTask::FieldMeasure(src.GetBuffer(), dst.GetBuffer(), rect, one), noErr);
  MPSetProcessorCountForTesting(0);
  CTaskGroup::mAllowMP = true;
  EXPECT_NEAR(one, many, 0.05 * many);
  // Gray or mismatched buffers are refused.
  CBuffer gray(bounds, kBufferDepth8, kBufferModeGray);
  Float32 m = 0;
  EXPECT_EQ(CInterlaceTrackerTask::FieldMeasure(&gray, &b, bounds, m), paramErr);
}

// Real interlaced MPEG-2 written by libavcodec with top field first and
// with bottom field first decodes to modes 3 and 4.
TEST_F(Interlace, InterlacedMPEG2FilesFromLibavcodec) {
  ASSERT_EQ(EnterMovies(), noErr);
  InstallFFmpegMovieComponents();
  for (bool top : {true, false}) {
    SCOPED_TRACE(top ? "top field first" : "bottom field first");
    const std::string path =
        (std::filesystem::temp_directory_path() / (top ? "trx-tff.ts" : "trx-bff.ts")).string();
    ASSERT_TRUE(WriteInterlacedMPEG2(path, top, 40));
    Movie m = testmovies::OpenMovieAt(path);
    ASSERT_NE(m, nullptr);
    Result r = Analyse(m);
    EXPECT_EQ(r.error, noErr);
    EXPECT_EQ(r.mode, top ? kInterlace_OddFirst : kInterlace_EvenFirst);
    EXPECT_EQ(r.standard, kInterlaceDelay_PAL);
    std::filesystem::remove(path);
  }
}
