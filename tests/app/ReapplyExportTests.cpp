// Stabilising a movie again: a second session with another smoothing time,
// applied, replaces the control track the first one wrote (one undoable
// step), and the export through a real Vantrel follows the second settings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "MovieDocumentTestSupport.h"
#include "SessionTestMovies.h"
#include "app/CExportMovie.h"
#include "app/CExportTask.h"
#include "app/CMovieDocument.h"
#include "app/LMovieExportNavSheet.h"
#include "app/USessionSupport.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "platform/files/Aliases.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/ipc/Processes.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LWindow.h"
#include "support/movies/DecodeFrames.h"
#include "vantrel/ExportProtocol.h"

using namespace sessiontest;

namespace {

constexpr SInt32 kFrames = 30;

// The grey of every decoded frame of a movie file, row after row.
std::vector<std::vector<UInt8>> DecodeGrey(const std::string& inPath) {
  std::vector<std::vector<UInt8>> frames;
  testmovies::DecodeVideoFrames(inPath, [&](const AVFrame& frame) {
    std::vector<UInt8> grey(static_cast<size_t>(frame.width) * frame.height);
    SwsContext* sws = sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
                                     frame.height, AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* dst[4] = {grey.data(), nullptr, nullptr, nullptr};
    int stride[4] = {frame.width, 0, 0, 0};
    sws_scale(sws, frame.data, frame.linesize, 0, frame.height, dst, stride);
    sws_freeContext(sws);
    frames.push_back(std::move(grey));
  });
  return frames;
}

// Mean absolute grey difference of two exports, frame by frame.
double MeanDifference(const std::vector<std::vector<UInt8>>& inA, const std::vector<std::vector<UInt8>>& inB) {
  double sum = 0, n = 0;
  for (size_t f = 0; f < std::min(inA.size(), inB.size()); ++f)
    for (size_t i = 0; i < std::min(inA[f].size(), inB[f].size()); ++i) {
      sum += std::abs(static_cast<int>(inA[f][i]) - static_cast<int>(inB[f][i]));
      ++n;
    }
  return n > 0 ? sum / n : 0.0;
}

class ReapplyExportTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    RegisterLayoutClasses();
    CExportMovieSettings::sCurrentExporter = 'mpg4';
    CExportMovieSettings::sSelectionOnly = false;
    CExportMovieSettings::sSingleField = false;
    unsetenv("VANTREL_STAND_IN_EXPORT");
  }
  void TearDown() override {
    StopClient();
    if (doc) {
      doc->EndEditSession(false);
      doc->Close();
      doc = nullptr;
    }
    CExportMovieSettings::sCurrentExporter = 'MooV';
    CExportMovieSettings::sSelectionOnly = true;
    DocumentFixture::TearDown();
  }
  void StartClient() {
    ASSERT_EQ(CExportMovie::Init(), noErr);
    ASSERT_NE(CExportMovie::GetExporter(), nullptr);
    ASSERT_TRUE(PumpUntil(
        [] {
          CFMessagePortRef p =
              CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
          if (p) CFRelease(p);
          return p != nullptr;
        },
        10000));
  }
  void StopClient() {
    if (CExportMovie::GetExporter() == nullptr) return;
    pid_t pid = -1;
    ProcessSerialNumber psn = CExportMovie::GetVantrelPSN();
    if (GetProcessPID(&psn, &pid) != noErr) pid = -1;
    CExportMovie::Finish();
    // Vantrel quits on its own; none is ever left behind.
    for (int i = 0; i < 250 && pid > 0 && kill(pid, 0) == 0; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      usleep(20000);
    }
    if (pid > 0 && kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // Exports the document's movie and waits until Vantrel is done with it.
  void Export(const std::string& inPath) {
    FSSpec spec;
    FSMakeFSSpecFromPath(inPath, &spec);
    ASSERT_NO_THROW(CExportMovie::DoExport(doc->GetMovie(), &spec));
    ASSERT_TRUE(PumpUntil([] { return CExportMovie::GetExporter()->GetTasks().empty(); }, 120000));
  }
  SInt32 ControlTracks() { return CTweenTracks::HasControlTracks(doc->GetMovie()->GetMovie()); }
  Float32 ExportedSmoothing() {
    MatrixRecord m1, m2;
    float s1 = 0, s2 = 0;
    Track track = nullptr;
    if (!CMovieRendering::GetTweenSample(doc->GetMovie()->GetMovie(), 5 * kFrame, m1, m2, s1, s2, &track)) return -1;
    MotionSettings settings;
    if (CMovieRendering::ReadMoSettingsFromTrack(track, settings) != noErr) return -1;
    return settings.lowpassTime;
  }

  StTempPortDirectory mPorts;
  CMovieDocument* doc = nullptr;
};

}  // namespace

TEST_F(ReapplyExportTest, ASecondSessionReplacesTheControlTrackAndTheExportFollowsIt) {
  StartClient();
  Shake shake(kFrames, 7, 6.0);
  CMovie* movie = OpenAsFile(MakeShakyMovie(shake), "Reapply");
  ASSERT_NE(movie, nullptr);
  doc = NewWindowedDocument(movie);
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  StoreMotion(*doc->GetMovie(), shake);

  // The first session: a short smoothing time, applied and exported.
  doc->GetMotionSettings().lowpassTime = 0.2f;
  doc->ProcessCommand(cmd_EditStabilization, nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  doc->ProcessCommand(cmd_ApplySession, nullptr);
  ASSERT_FALSE(doc->IsSessionOpen());
  ASSERT_EQ(ControlTracks(), 1);
  EXPECT_FLOAT_EQ(ExportedSmoothing(), 0.2f);
  const std::string first = Path("first.mp4");
  Export(first);

  // A second session over the whole movie with a long smoothing time.
  doc->GetMovie()->SetSelectionStart(0);
  doc->GetMovie()->SetSelectionStop(0);
  doc->ProcessCommand(cmd_EditStabilization, nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  auto* smoothing = dynamic_cast<LControl*>(doc->GetDrawer()->FindPaneByIDOrNil(101));
  ASSERT_NE(smoothing, nullptr);
  smoothing->SetValue(USessionSupport::SliderForSmoothingTime(3.0f) + 1);
  EXPECT_FLOAT_EQ(doc->GetMotionSettings().lowpassTime, 3.0f);
  doc->ProcessCommand(cmd_ApplySession, nullptr);
  EXPECT_EQ(ControlTracks(), 1) << "one control track speaks for the movie";
  EXPECT_FLOAT_EQ(ExportedSmoothing(), 3.0f);
  const std::string second = Path("second.mp4");
  Export(second);

  const auto a = DecodeGrey(first), b = DecodeGrey(second);
  ASSERT_EQ(a.size(), static_cast<size_t>(kFrames));
  ASSERT_EQ(b.size(), static_cast<size_t>(kFrames));
  EXPECT_GT(MeanDifference(a, b), 1.0) << "the second export follows the second settings";

  // One undo brings the first track back, alone.
  doc->ProcessCommand(cmd_Undo, nullptr);
  EXPECT_EQ(ControlTracks(), 1);
  EXPECT_FLOAT_EQ(ExportedSmoothing(), 0.2f);
  doc->ProcessCommand(cmd_Redo, nullptr);
  EXPECT_EQ(ControlTracks(), 1);
  EXPECT_FLOAT_EQ(ExportedSmoothing(), 3.0f);
}
