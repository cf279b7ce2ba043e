// The movie document's commands around analysis, driven through the
// document's own command handling on real movies: the tracks sheet of the
// Movie menu, analysing twice (one motion-data track, one undo step), a
// cancelled analysis leaving the movie unchanged, the field order that the
// stream states deciding the interlace mode, an MPEG program stream refused
// with the real reason and saved as a movie to go on, and long toolbox
// operations reporting to a progress sheet on the window.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <optional>
#include <string>

#include <QImage>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "MovieDocumentTestSupport.h"
#include "SessionDocumentFixture.h"
#include "SessionTestMovies.h"
#include "app/CBrowserPane.h"
#include "app/CMovieDocument.h"
#include "app/CTrackBrowser.h"
#include "motion/CInterlaceTrackerTask.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/files/Bundle.h"
#include "platform/framework/LThread.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LProgressSheet.h"
#include "toolkit/ULocalization.h"

using namespace sessiontest;

namespace {

// Pictures that move with the frame number: a ramp and a bar.
void FillARGB(int inFrame, int inW, int inH, std::vector<uint8_t>& outPixels) {
  outPixels.assign(static_cast<size_t>(inW) * inH * 4, 0);
  for (int y = 0; y < inH; ++y)
    for (int x = 0; x < inW; ++x) {
      uint8_t* p = &outPixels[(static_cast<size_t>(y) * inW + x) * 4];
      p[0] = 255;
      p[1] = static_cast<uint8_t>((x * 3 + inFrame * 5) & 0xFF);
      p[2] = static_cast<uint8_t>((y * 2 + ((x / 8 + inFrame) % 2) * 90) & 0xFF);
      p[3] = static_cast<uint8_t>(((x + y) / 4 + inFrame * 7) & 0xFF);
    }
}

// Writes frames with a libavcodec encoder into a libavformat container, the
// stream's field order set as given (AV_FIELD_UNKNOWN leaves it unstated).
bool WriteWithLibav(const std::string& inPath, const char* inFormat, const char* inEncoder, int inW, int inH,
                    int inFrames, int inFps, AVFieldOrder inOrder, bool inInterlacedCoding) {
  const AVCodec* codec = avcodec_find_encoder_by_name(inEncoder);
  if (codec == nullptr) return false;
  AVFormatContext* out = nullptr;
  avformat_alloc_output_context2(&out, nullptr, inFormat, inPath.c_str());
  if (out == nullptr) return false;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = inW;
  c->height = inH;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, inFps};
  c->framerate = AVRational{inFps, 1};
  c->gop_size = 6;
  c->max_b_frames = 0;
  c->bit_rate = 4000000;
  c->field_order = inOrder;
  if (inInterlacedCoding) c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
  if (out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (std::string(inEncoder) == "libx264") av_dict_set(&options, "preset", "ultrafast", 0);
  AVStream* st = avformat_new_stream(out, nullptr);
  bool ok = avcodec_open2(c, codec, &options) >= 0 && avcodec_parameters_from_context(st->codecpar, c) >= 0;
  av_dict_free(&options);
  st->time_base = c->time_base;
  ok = ok && avio_open(&out->pb, inPath.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  SwsContext* sws = sws_getContext(inW, inH, AV_PIX_FMT_ARGB, inW, inH, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                   nullptr, nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = inW;
  frame->height = inH;
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
  std::vector<uint8_t> pixels;
  for (int i = 0; ok && i < inFrames; ++i) {
    FillARGB(i, inW, inH, pixels);
    const uint8_t* src[1] = {pixels.data()};
    const int stride[1] = {inW * 4};
    ok = av_frame_make_writable(frame) >= 0;
    sws_scale(sws, src, stride, 0, inH, frame->data, frame->linesize);
    frame->pts = i;
    if (inInterlacedCoding) {
      frame->interlaced_frame = 1;
      frame->top_field_first = inOrder == AV_FIELD_TT ? 1 : 0;
    }
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

class MovieDocumentAnalysisTest : public SessionDocumentFixture {
 protected:
  void OpenFile(const std::string& inPath) {
    FSSpec spec;
    FSMakeFSSpecFromPath(inPath, &spec);
    doc = NewWindowedDocument(new CMovie(&spec));
    doc->SetFile(&spec);
    doc->SetSpecified(true);
    doc->SetModified(false);
    ends.doc = doc;
  }
  bool CanUndo() {
    Boolean enabled = false, usesMark = false;
    UInt16 mark = 0;
    Str255 name;
    doc->ProcessCommandStatus(cmd_Undo, enabled, usesMark, mark, name);
    return enabled;
  }
  bool Alerted(const std::string& inMessage) {
    for (const SQuestion& q : UResponder::GetLog())
      if (q.kind == question_Alert && (q.message == inMessage || q.explanation == inMessage)) return true;
    return false;
  }
  // The last alert asked (a copy: the log is handed out by value).
  std::optional<SQuestion> LastAlert() {
    std::optional<SQuestion> last;
    for (const SQuestion& q : UResponder::GetLog())
      if (q.kind == question_Alert) last = q;
    return last;
  }
};

}  // namespace

TEST_F(MovieDocumentAnalysisTest, TracksCommandShowsTheTrackBrowserSheetWhoseOKIsUndoable) {
  Open(MakeShakyMovie(Shake(10)));
  StoreMotion(*doc->GetMovie(), Shake(10));
  doc->SetModified(false);
  const SInt32 tracks = GetMovieTrackCount(doc->GetMovie()->GetMovie());
  ASSERT_EQ(tracks, 2);
  ASSERT_EQ(doc->GetWindow()->GetCurrentSheet(), nullptr);
  ASSERT_TRUE(doc->ProcessCommand(cmd_TracksSheet, nullptr));
  UiTest::Pump(30);
  auto* sheet = dynamic_cast<LCustomDialogSheet*>(doc->GetWindow()->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  auto* list = dynamic_cast<CBrowserPane*>(sheet->FindPaneByID(kTrackBrowserPaneID));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetItems().size(), static_cast<size_t>(tracks));
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "tracks-sheet-from-the-movie-menu");
  // Delete the motion-data row and press OK: the track goes, one undo brings it back.
  Track motion = nullptr;
  for (auto& [id, item] : *list->GetItemTable())
    if (GetTrackLayer(item.track) == kMotionTrackLayer) {
      motion = item.track;
      list->SetSelectedItems({id});
    }
  ASSERT_NE(motion, nullptr);
  EXPECT_EQ(CTrackBrowser::TrackBrowserProc(sheet, msg_TracksDelete, nullptr, static_cast<CTrackBrowserClient*>(doc)),
            0);
  EventRecord key{};
  key.what = keyDown;
  key.message = 13;
  sheet->HandleKeyPress(key);
  ASSERT_TRUE(PumpUntil([&] { return doc->GetWindow()->GetCurrentSheet() == nullptr; }));
  EXPECT_EQ(MotionTracks(), 0);
  EXPECT_TRUE(doc->IsModified());
  ASSERT_TRUE(CanUndo());
  doc->ProcessCommand(cmd_Undo, nullptr);
  EXPECT_EQ(MotionTracks(), 1);
}

TEST_F(MovieDocumentAnalysisTest, AnalysingTwiceKeepsOneMotionTrackAndOneUndoBringsTheFirstBack) {
  Open(MakeShakyMovie(Shake(12, 5, 1.5)));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
  ASSERT_TRUE(RunTask());
  ASSERT_EQ(MotionTracks(), 1);
  Track first = nullptr;
  for (SInt32 i = 1; i <= GetMovieTrackCount(doc->GetMovie()->GetMovie()); ++i)
    if (GetTrackLayer(GetMovieIndTrack(doc->GetMovie()->GetMovie(), i)) == kMotionTrackLayer)
      first = GetMovieIndTrack(doc->GetMovie()->GetMovie(), i);
  const SInt32 firstID = GetTrackID(first);

  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(MotionTracks(), 1);
  CMotionData measured;
  ASSERT_EQ(measured.ScanMovie(doc->GetMovie()), noErr);
  EXPECT_EQ(measured.GetRecords().GetCount(), 12);
  // One undo: the first analysis's track again, and only it.
  ASSERT_TRUE(CanUndo());
  doc->ProcessCommand(cmd_Undo, nullptr);
  ASSERT_EQ(MotionTracks(), 1);
  bool firstBack = false;
  for (SInt32 i = 1; i <= GetMovieTrackCount(doc->GetMovie()->GetMovie()); ++i) {
    Track t = GetMovieIndTrack(doc->GetMovie()->GetMovie(), i);
    if (GetTrackLayer(t) == kMotionTrackLayer && GetTrackID(t) == firstID) firstBack = true;
  }
  EXPECT_TRUE(firstBack);
}

TEST_F(MovieDocumentAnalysisTest, AnalysingAMiddleRangeAgainSplitsTheOlderMotionTrackAroundIt) {
  Open(MakeShakyMovie(Shake(12, 5, 1.5)));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  Movie movie = doc->GetMovie()->GetMovie();
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  ASSERT_TRUE(RunTask());
  ASSERT_EQ(MotionTracks(), 1);
  auto ranges = [&] {
    std::vector<std::pair<SInt32, SInt32>> out;  // each motion track's [start, end) in movie time
    for (SInt32 i = 1; i <= GetMovieTrackCount(movie); ++i)
      if (Track t = GetMovieIndTrack(movie, i); GetTrackLayer(t) == kMotionTrackLayer)
        out.emplace_back(GetTrackOffset(t), GetTrackDuration(t));
    std::sort(out.begin(), out.end());
    return out;
  };
  const auto whole = ranges();
  // The middle third, on frame boundaries.
  const SInt32 frame = GetMovieDuration(movie) / 12;
  doc->GetMovie()->SetSelectionStart(4 * frame);
  doc->GetMovie()->SetSelectionStop(8 * frame);
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  ASSERT_TRUE(RunTask());
  const auto after = ranges();
  ASSERT_EQ(after.size(), 3u);
  for (size_t i = 1; i < after.size(); ++i) EXPECT_LE(after[i - 1].second, after[i].first) << "tracks overlap";
  EXPECT_EQ(after.front().first, whole.front().first);
  EXPECT_EQ(after.back().second, whole.front().second);
  // Every frame is measured once.
  CMotionData measured;
  ASSERT_EQ(measured.ScanMovie(doc->GetMovie()), noErr);
  EXPECT_EQ(measured.GetRecords().GetCount(), 12);
  // One undo: the first track whole again, alone.
  ASSERT_TRUE(CanUndo());
  doc->ProcessCommand(cmd_Undo, nullptr);
  EXPECT_EQ(ranges(), whole);
}

TEST_F(MovieDocumentAnalysisTest, CancelledAnalysisLeavesTheMovieUnmodified) {
  Open(MakeShakyMovie(Shake(30, 3, 1.5)));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  doc->SetModified(false);
  ASSERT_FALSE(doc->IsModified());
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  CMovieTask* task = doc->GetRunningTask();
  ASSERT_NE(task, nullptr);
  // The user confirmed the cancel question.
  task->CMovieTask::UserCanceled();
  ASSERT_TRUE(RunTask());
  UiTest::Pump(50);
  EXPECT_EQ(MotionTracks(), 0);
  EXPECT_FALSE(doc->IsModified());
  EXPECT_FALSE(CanUndo());
}

TEST_F(MovieDocumentAnalysisTest, CancelledInterlaceAnalysisLeavesTheMovieUnmodified) {
  Open(MakeInterlacedMovie(24));
  doc->SetModified(false);
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  CMovieTask* task = doc->GetRunningTask();
  ASSERT_NE(dynamic_cast<CInterlaceTrackerTask*>(task), nullptr);
  task->UserCanceled();
  ASSERT_TRUE(RunTask());
  UiTest::Pump(50);
  EXPECT_FALSE(doc->IsTaskRunning());
  EXPECT_EQ(MotionTracks(), 0);
  EXPECT_FALSE(doc->IsModified());
}

TEST_F(MovieDocumentAnalysisTest, ProgressiveH264StatesItsFieldOrderAndIsTrackedAtOnce) {
  const std::string path = Path("phone.mp4");
  ASSERT_TRUE(WriteWithLibav(path, "mp4", "libx264", 192, 108, 20, 30, AV_FIELD_PROGRESSIVE, false));
  OpenFile(path);
  EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_Progressive);
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  // No interlace analysis first, no format sheet: the tracking runs.
  ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(MotionTracks(), 1);
  EXPECT_FALSE(Alerted(movie_document_testing::DocumentText(55)));
}

// MPEG-4 part 2 pictures in AVI and MPEG-4 files state progressive coding
// in their layer header: such a movie is tracked at once, where a short clip's
// field analysis could decide nothing. Interlaced coding is still analysed.
TEST_F(MovieDocumentAnalysisTest, ProgressiveMpeg4PartTwoStatesItsFieldOrder) {
  for (const char* container : {"avi", "mp4"}) {
    SCOPED_TRACE(container);
    const std::string path = Path(std::string("clip.") + container);
    ASSERT_TRUE(WriteWithLibav(path, container, "mpeg4", 192, 108, 20, 30, AV_FIELD_PROGRESSIVE, false));
    OpenFile(path);
    EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_Progressive);
    if (std::string(container) == "avi") {
      // (An AVI file is saved as a movie before it is analysed.)
      doc->Close();
      doc = nullptr;
      continue;
    }
    ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
    ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
    ASSERT_TRUE(RunTask());
    EXPECT_EQ(MotionTracks(), 1);
    EXPECT_FALSE(Alerted(movie_document_testing::DocumentText(55)));
    doc->SetModified(false);
    doc->Close();
    doc = nullptr;
  }
  const std::string path = Path("interlaced.avi");
  ASSERT_TRUE(WriteWithLibav(path, "avi", "mpeg4", 192, 108, 20, 25, AV_FIELD_TT, true));
  OpenFile(path);
  EXPECT_NE(doc->GetInterlaceMode(), kInterlace_Progressive);
}

TEST_F(MovieDocumentAnalysisTest, InterlacedMpeg2StatesTopFieldFirst) {
  const std::string path = Path("camera.m2v.mov");
  ASSERT_TRUE(WriteWithLibav(path, "mov", "mpeg2video", 320, 240, 16, 25, AV_FIELD_TT, true));
  OpenFile(path);
  EXPECT_EQ(doc->GetInterlaceMode(), kInterlace_OddFirst);
  EXPECT_EQ(doc->GetInterlaceDelay(), kInterlaceDelay_PAL);
}

TEST_F(MovieDocumentAnalysisTest, FailedInterlaceAnalysisEndsWithAnAlert) {
  // A movie without pictures: nothing to tell the field order from.
  Movie m = NewMovie(newMovieActive);
  ASSERT_NE(m, nullptr);
  doc = NewWindowedDocument(new CMovie(m, true));
  ends.doc = doc;
  UResponder::Script(question_Alert, SAnswer::Choice(1));
  doc->ProcessCommand(cmd_AnalyseAuto, nullptr);
  if (doc->IsTaskRunning()) {
    ASSERT_TRUE(RunTask());
  }
  ASSERT_TRUE(PumpUntil([&] { return LastAlert().has_value(); }));
  // The alert leads with the text (the error's code follows it).
  EXPECT_EQ(LastAlert()->message, movie_document_testing::DocumentText(56));
  EXPECT_FALSE(doc->IsTaskRunning());
}

TEST_F(MovieDocumentAnalysisTest, ProgramStreamIsRefusedWithTheRealReasonAndSavedAsAMovieToGoOn) {
  const std::string path = Path("clip.mpg");
  ASSERT_TRUE(WriteWithLibav(path, "mpeg", "mpeg2video", 320, 240, 16, 25, AV_FIELD_PROGRESSIVE, false));
  OpenFile(path);
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_PAL);
  doc->SetModified(false);
  UResponder::Script(question_Alert, SAnswer::Choice(2));
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  EXPECT_FALSE(doc->IsTaskRunning());
  ASSERT_TRUE(PumpUntil([&] { return LastAlert().has_value(); }));
  const std::optional<SQuestion> alert = LastAlert();
  ASSERT_TRUE(alert.has_value());
  EXPECT_EQ(alert->message, movie_document_testing::DocumentText(28));
  // It says what is the case: the movie came from a file of another format.
  EXPECT_EQ(alert->explanation, movie_document_testing::DocumentText(57));
  EXPECT_EQ(alert->explanation.find("locked"), std::string::npos);
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "program-stream-refused");

  // The way on: save as a movie, then the analysis runs on the saved movie.
  const std::string saved = Path("clip.mov");
  FSSpec spec;
  FSMakeFSSpecFromPath(saved, &spec);
  doc->DoAESave_(spec);
  ASSERT_TRUE(std::filesystem::exists(saved));
  EXPECT_EQ(doc->GetMovie()->GetMovieProperties() & (kMovieProp_NoDataRef | kMovieProp_ReadOnly | kMovieProp_Locked),
            0u);
  ASSERT_TRUE(doc->ProcessCommand(cmd_AnalyseAuto, nullptr));
  ASSERT_NE(dynamic_cast<CMotionTrackerTask*>(doc->GetRunningTask()), nullptr);
  ASSERT_TRUE(RunTask());
  EXPECT_EQ(MotionTracks(), 1);
}

TEST_F(MovieDocumentAnalysisTest, ToolboxProgressOfTheMovieGoesToASheetOnTheWindowThatCancels) {
  Open(MakeShakyMovie(Shake(10)));
  Movie movie = doc->GetMovie()->GetMovie();
  MovieProgressProcPtr proc = nullptr;
  SInt32 refCon = 0;
  GetMovieProgressProc(movie, &proc, &refCon);
  ASSERT_NE(proc, nullptr);
  // What a flatten (a self-contained save) reports: open, updates, close.
  EXPECT_EQ(proc(movie, movieProgressOpen, progressOpFlatten, 0, refCon), noErr);
  auto* sheet = dynamic_cast<LProgressSheet*>(doc->GetWindow()->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  auto* text = dynamic_cast<LStaticText*>(sheet->FindPaneByID(kProgressSheetText));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetText(), movie_document_testing::DocumentText(37));
  EXPECT_EQ(proc(movie, movieProgressUpdatePercent, progressOpFlatten, 0x8000, refCon), noErr);
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "save-progress-sheet");
  // Cancel on the sheet: the next update stops the operation.
  sheet->ListenToMessage(msg_SheetEscapeKey, nullptr);
  EXPECT_NE(proc(movie, movieProgressUpdatePercent, progressOpFlatten, 0x9000, refCon), noErr);
  proc(movie, movieProgressClose, progressOpFlatten, 0, refCon);
  UiTest::Pump(30);
  EXPECT_EQ(dynamic_cast<LProgressSheet*>(doc->GetWindow()->GetCurrentSheet()), nullptr);
}

TEST_F(MovieDocumentAnalysisTest, ASelfContainedSaveCancelledFromItsSheetLeavesNoFileAndNoAlert) {
  Open(MakeShakyMovie(Shake(30)));
  // The sheet's Cancel pressed as soon as the sheet is up.
  Movie movie = doc->GetMovie()->GetMovie();
  MovieProgressProcPtr proc = nullptr;
  SInt32 refCon = 0;
  GetMovieProgressProc(movie, &proc, &refCon);
  ASSERT_NE(proc, nullptr);
  static MovieProgressProcPtr sReal = nullptr;
  static CMovieDocument* sDoc = nullptr;
  sReal = proc;
  sDoc = doc;
  SetMovieProgressProc(
      movie,
      [](Movie inMovie, SInt16 inMessage, SInt16 inOperation, Fixed inPercent, SInt32 inRefCon) -> OSErr {
        const OSErr answer = sReal(inMovie, inMessage, inOperation, inPercent, inRefCon);
        if (inMessage == movieProgressOpen) {
          if (auto* s = dynamic_cast<LProgressSheet*>(sDoc->GetWindow()->GetCurrentSheet()))
            s->ListenToMessage(msg_SheetEscapeKey, nullptr);
        }
        return answer;
      },
      refCon);
  const std::string target = Path("copy.mov");
  FSSpec spec;
  FSMakeFSSpecFromPath(target, &spec);
  CMovieDocument::sAllowDep = false;
  const size_t alertsBefore = UResponder::GetLog().size();
  doc->DoAESave_(spec);
  UiTest::Pump(30);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(UResponder::GetLog().size(), alertsBefore);
  EXPECT_EQ(dynamic_cast<LProgressSheet*>(doc->GetWindow()->GetCurrentSheet()), nullptr);
}
