// The sound options of the export sheet (sample rate and channels) reach the
// exported file: a request whose settings ask for mono at 22.05 kHz gives a
// mono 22.05 kHz sound track of the source's length, whatever the source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/base/MacMemory.h"
#include "platform/export/ExportTestSupport.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/MovieFFImport.h"
#include "vantrel/ExportEngine.h"
#include "vantrel/ExportRequests.h"
#include "vantrel/InProcessExport.h"
#include "vantrel/VantrelWorker.h"

namespace fs = std::filesystem;

namespace {

// The exporter's default settings with the sound's rate and channels set,
// as the options dialog stores them.
Bytes RequestWithSoundOptions(Movie inMovie, const std::string& inPath, OSType inSubtype, UInt32 inRate,
                              UInt32 inChannels) {
  return ExportRequestWithSettings(inMovie, inPath, inSubtype, 1, {{'srat', inRate}, {'schn', inChannels}});
}

using ExportSoundOptions = InProcessExport;

}  // namespace

TEST_F(ExportSoundOptions, TheChosenRateAndChannelsAreWhatTheFileHolds) {
  struct Case {
    const char* encoder;
    int channels;
  };
  int n = 0;
  for (const Case& c : {Case{"pcm_s16le", 2}, Case{"aac", 2}, Case{"ac3", 6}}) {
    if (!avcodec_find_encoder_by_name(c.encoder)) continue;
    const std::string source = mFolder + "/sound" + std::to_string(n) + ".mov";
    ASSERT_TRUE(exporttest::WriteSoundMovie(source, c.encoder, 48000, c.channels, 0.5, "mov"));
    Movie movie = nullptr;
    ASSERT_EQ(ImportMovieWithFFmpeg(source, &movie), noErr);
    for (OSType subtype : {OSType('mpg4'), OSType('MooV')}) {
      SCOPED_TRACE(std::string(c.encoder) + (subtype == 'mpg4' ? " to MPEG-4" : " to QuickTime"));
      const std::string dest = mFolder + "/out" + std::to_string(n++) + (subtype == 'mpg4' ? ".mp4" : ".mov");
      ASSERT_EQ(ExportInProcess(RequestWithSoundOptions(movie, dest, subtype, 22050, 1)), noErr);
      const exporttest::FileFacts f = exporttest::Probe(dest);
      ASSERT_TRUE(f.sound.present);
      EXPECT_EQ(f.sound.channels, 1);
      EXPECT_EQ(f.sound.sampleRate, 22050);
      EXPECT_GE(static_cast<double>(f.sound.soundFrames) / 22050, 0.49);
      EXPECT_LE(static_cast<double>(f.sound.soundFrames) / 22050, 0.5 + 4096.0 / 22050);
    }
    DisposeMovie(movie);
  }
}

// A rate the sound's description cannot hold (96 kHz is offered) never
// comes out as another, wrong rate: the sound keeps its own.
TEST_F(ExportSoundOptions, ARateAboveWhatTheDescriptionHoldsKeepsTheSoundsOwn) {
  const std::string source = mFolder + "/sound.mov";
  ASSERT_TRUE(exporttest::WriteSoundMovie(source, "pcm_s16le", 48000, 2, 0.5, "mov"));
  Movie movie = nullptr;
  ASSERT_EQ(ImportMovieWithFFmpeg(source, &movie), noErr);
  const std::string dest = mFolder + "/out.mp4";
  ASSERT_EQ(ExportInProcess(RequestWithSoundOptions(movie, dest, 'mpg4', 96000, 0)), noErr);
  DisposeMovie(movie);
  const exporttest::FileFacts f = exporttest::Probe(dest);
  ASSERT_TRUE(f.sound.present);
  EXPECT_EQ(f.sound.sampleRate, 48000);
  EXPECT_EQ(f.sound.channels, 2);
  EXPECT_GE(static_cast<double>(f.sound.soundFrames) / 48000, 0.49);
  EXPECT_LE(static_cast<double>(f.sound.soundFrames) / 48000, 0.5 + 4096.0 / 48000);
}
