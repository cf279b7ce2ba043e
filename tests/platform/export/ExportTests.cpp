// The movie exporters: settings in atom containers, and whole movies written
// through every exporter and read back by libavformat.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/Endian.h"
#include "platform/movies/MovieExport.h"
#include "platform/export/ExportTestSupport.h"

using exporttest::FileFacts;
using exporttest::Probe;

namespace {

struct Exporter {
  MovieExportComponent ci = nullptr;
  explicit Exporter(OSType inSubtype) { EXPECT_EQ(OpenADefaultComponent(MovieExportType, inSubtype, &ci), noErr); }
  ~Exporter() {
    if (ci) CloseComponent(ci);
  }
};

struct ExportFixture : ::testing::Test {
  void SetUp() override { EnterMovies(); }
};

FSSpec SpecOf(const std::string& inPath) {
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  return spec;
}


}  // namespace

TEST(AtomContainer, BuildFindChangeAndRejectDamagedBytes) {
  QTAtomContainer c = nullptr;
  ASSERT_EQ(QTNewAtomContainer(&c), noErr);
  UInt8 four[4] = {1, 2, 3, 4};
  ASSERT_EQ(QTInsertChild(c, kParentAtomIsContainer, 'abcd', 1, 0, 4, four, nullptr), noErr);
  ASSERT_EQ(QTInsertChild(c, kParentAtomIsContainer, 'abcd', 7, 0, 0, nullptr, nullptr), noErr);
  ASSERT_EQ(QTInsertChild(c, kParentAtomIsContainer, 'wxyz', 1, 0, 2, four, nullptr), noErr);
  EXPECT_EQ(QTCountChildrenOfType(c, kParentAtomIsContainer, 'abcd'), 2);
  QTAtom a = QTFindChildByID(c, kParentAtomIsContainer, 'abcd', 1, nullptr);
  ASSERT_NE(a, 0);
  UInt8 eight[8] = {0};
  EXPECT_EQ(QTSetAtomData(c, a, 8, "ABCDEFGH"), noErr);
  SInt32 size = 0;
  EXPECT_EQ(QTCopyAtomDataToPtr(c, a, false, 8, eight, &size), noErr);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::memcmp(eight, "ABCDEFGH", 8), 0);
  // The atom after it moved along and kept its bytes.
  QTAtom w = QTFindChildByID(c, kParentAtomIsContainer, 'wxyz', 1, nullptr);
  EXPECT_EQ(QTCopyAtomDataToPtr(c, w, false, 2, eight, &size), noErr);
  EXPECT_EQ(eight[1], 2);
  EXPECT_EQ(QTCopyAtomDataToPtr(c, a, false, 4, eight, &size), paramErr);  // too small, not asked to cut
  // A size that runs past the end is refused everywhere, never read.
  WriteBE32(*c, 0x7FFFFFF0);
  EXPECT_EQ(QTValidateAtomContainer(c), paramErr);
  EXPECT_EQ(QTFindChildByID(c, kParentAtomIsContainer, 'abcd', 1, nullptr), 0);
  QTDisposeAtomContainer(c);
}

TEST(MovieExporters, RegistrySettingsAndExtensions) {
  EXPECT_GE(CountMovieExporters(), 7u);
  MovieExportComponent none = nullptr;
  EXPECT_EQ(OpenADefaultComponent(MovieExportType, 'sfil', &none), cantFindHandler);
  EXPECT_EQ(OpenADefaultComponent('eat ', 'MooV', &none), badComponentType);

  Exporter mp4('mpg4');
  OSType ext = 0;
  ASSERT_EQ(MovieExportGetFileNameExtension(mp4.ci, &ext), noErr);
  EXPECT_EQ(ext, static_cast<OSType>('mp4 '));
  SCSpatialSettings spatial{};
  ASSERT_EQ(SCGetInfo(mp4.ci, scSpatialSettingsType, &spatial), noErr);
  EXPECT_EQ(spatial.codecType, static_cast<CodecType>('avc1'));

  // Settings travel through a container into another exporter.
  QTAtomContainer settings = nullptr;
  ASSERT_EQ(MovieExportGetSettingsAsAtomContainer(mp4.ci, &settings), noErr);
  QTAtom q = QTFindChildByID(settings, kParentAtomIsContainer, 'qual', 1, nullptr);
  ASSERT_NE(q, 0);
  UInt8 high[4];
  WriteBE32(high, 0x300);
  ASSERT_EQ(QTSetAtomData(settings, q, 4, high), noErr);
  Exporter mov('MooV');
  ASSERT_EQ(MovieExportSetSettingsFromAtomContainer(mov.ci, settings), noErr);
  SCTemporalSettings temporal{};
  ASSERT_EQ(SCGetInfo(mov.ci, scTemporalSettingsType, &temporal), noErr);
  EXPECT_EQ(temporal.temporalQuality, 0x300u);
  // Values out of range or of the wrong size change nothing.
  WriteBE32(high, 0x7777);
  QTSetAtomData(settings, q, 4, high);
  EXPECT_EQ(MovieExportSetSettingsFromAtomContainer(mov.ci, settings), paramErr);
  QTSetAtomData(settings, q, 2, high);
  EXPECT_EQ(MovieExportSetSettingsFromAtomContainer(mov.ci, settings), paramErr);
  ASSERT_EQ(SCGetInfo(mov.ci, scTemporalSettingsType, &temporal), noErr);
  EXPECT_EQ(temporal.temporalQuality, 0x300u);
  QTDisposeAtomContainer(settings);
}

TEST_F(ExportFixture, EveryExporterWritesEveryFrameAndTheWholeSound) {
  Movie movie = exporttest::MakeMovie(128, 64, 24);  // 0.8 s at 30 fps
  exporttest::AddSound(movie, 35280);               // 0.8 s at 44.1 kHz
  struct Case {
    OSType subtype;
    const char* name;
    bool video;
  };
  const Case cases[] = {{'MooV', "a.mov", true}, {'mpg4', "a.mp4", true},  {'VfW ', "a.avi", true},
                        {'3gpp', "a.3gp", true}, {'AIFF', "a.aif", false}, {'WAVE', "a.wav", false},
                        {'ULAW', "a.au", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fftest::TempFile file(c.name);
    Exporter e(c.subtype);
    FSSpec spec = SpecOf(file.path);
    ASSERT_EQ(MovieExportToFile(e.ci, &spec, movie, nullptr, 0, GetMovieDuration(movie)), noErr);
    FileFacts f = Probe(file.path, c.video);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.video.present, c.video);
    if (c.video) {
      EXPECT_EQ(f.video.packets, 24);
      EXPECT_NEAR(f.video.seconds, 0.8, 1e-3);
      EXPECT_EQ(f.video.width, 128);
      EXPECT_EQ(f.video.height, 64);
      EXPECT_NEAR(f.video.frameRate, 30.0, 0.01);
      ASSERT_EQ(f.frameNumbers.size(), 24u);
      for (int k = 0; k < 24; ++k) EXPECT_EQ(f.frameNumbers[static_cast<size_t>(k)], k);
    }
    ASSERT_TRUE(f.sound.present);
    EXPECT_EQ(f.sound.sampleRate, 44100);
    // Compressed sound ends on a whole codec frame; never short.
    EXPECT_GE(f.sound.soundFrames, 35280);
    EXPECT_LE(f.sound.soundFrames, 35280 + 2048);
  }
  DisposeMovie(movie);
}

TEST_F(ExportFixture, CancelRemovesTheFileAndSoundOnlyNeedsSound) {
  Movie movie = exporttest::MakeMovie(64, 48, 30);
  fftest::TempFile file("cancel.mov");
  {
    Exporter e('MooV');
    MovieExportSetProgressProc(e.ci, [](Movie, SInt16 m, SInt16, Fixed f, SInt32) -> OSErr {
      return m == movieProgressUpdatePercent && f >= fixed1 / 2 ? userCanceledErr : noErr;
    }, 0);
    FSSpec spec = SpecOf(file.path);
    EXPECT_EQ(MovieExportToFile(e.ci, &spec, movie, nullptr, 0, GetMovieDuration(movie)), userCanceledErr);
    EXPECT_FALSE(file.Exists());
  }
  {
    // A cancel heard only at the close, once the movie stands complete,
    // neither removes it nor reports the export as cancelled.
    Exporter e('MooV');
    MovieExportSetProgressProc(e.ci, [](Movie, SInt16 m, SInt16, Fixed, SInt32) -> OSErr {
      return m == movieProgressClose ? userCanceledErr : noErr;
    }, 0);
    FSSpec spec = SpecOf(file.path);
    EXPECT_EQ(MovieExportToFile(e.ci, &spec, movie, nullptr, 0, GetMovieDuration(movie)), noErr);
    EXPECT_EQ(Probe(file.path, true).frameNumbers.size(), 30u);
    std::remove(file.path.c_str());
  }
  {
    Exporter aiff('AIFF');
    FSSpec spec = SpecOf(file.path);
    EXPECT_EQ(MovieExportToFile(aiff.ci, &spec, movie, nullptr, 0, GetMovieDuration(movie)), invalidTrack);
    EXPECT_FALSE(file.Exists());
  }
  DisposeMovie(movie);
}
