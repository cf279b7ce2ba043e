// The export section of the preferences written and read back, and the
// settings the export client keeps per exporter.
#include <gtest/gtest.h>

#include <QWidget>
#include <cstring>

#include "app/CExportMovie.h"
#include "app/LMovieExportNavSheet.h"
#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/ipc/IpcTestSupport.h"
#include "media/CMovie.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UWindowState.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

Handle HandleOf(const std::string& inBytes) {
  Handle h = NewHandle(static_cast<SInt32>(inBytes.size()));
  std::memcpy(*h, inBytes.data(), inBytes.size());
  return h;
}

std::string BytesOf(Handle inHandle) { return std::string(*inHandle, static_cast<size_t>(GetHandleSize(inHandle))); }

std::string StoredSettings(OSType inSubtype) {
  Handle h = nullptr;
  if (CExportMovie::GetExporterSettings(inSubtype, &h) != noErr) return "<none>";
  std::string bytes = BytesOf(h);
  DisposeHandle(h);
  return bytes;
}

void Record(std::string& ioBytes, UInt32 inTag, const std::string& inData) {
  char header[8];
  WriteBE32(header, inTag);
  WriteBE32(header + 4, static_cast<UInt32>(inData.size()));
  ioBytes.append(header, 8);
  ioBytes += inData;
}

// The tasks window's frame as the desktop has it, in global coordinates
// (right and bottom one past the last pixel, as a Rect's).
Rect ShownFrame(LWindow* inWindow) {
  const QRect f = inWindow->GetFrameWidget()->frameGeometry();
  return Rect{static_cast<SInt16>(f.top()), static_cast<SInt16>(f.left()), static_cast<SInt16>(f.bottom() + 1),
              static_cast<SInt16>(f.right() + 1)};
}

void ExpectInside(const Rect& inFrame, const Rect& inArea) {
  EXPECT_GE(inFrame.left, inArea.left);
  EXPECT_GE(inFrame.top, inArea.top);
  EXPECT_LE(inFrame.right, inArea.right);
  EXPECT_LE(inFrame.bottom, inArea.bottom);
}

// The client with a Vantrel that is never given an export.
class ExportSettingsTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    UControlRegistry::RegisterClasses();
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    unsetenv("VANTREL_STAND_IN_EXPORT");
    setenv("VANTREL_STAND_IN_EXPORT", "1:0", 1);
    ASSERT_EQ(CExportMovie::Init(), noErr);
  }
  void TearDown() override {
    CExportMovie::Finish();
    UiTest::Pump(20);
    UBundle::SetMainBundlePath("");
    unsetenv("VANTREL_STAND_IN_EXPORT");
    UiFixture::TearDown();
  }
  StTempPortDirectory mPorts;
};

}  // namespace

TEST_F(ExportSettingsTest, SettingsAreKeptPerExporterAndDefaultsForgetThem) {
  ASSERT_GE(CExportMovie::GetIndexForExporter('mpg4'), 1);
  ASSERT_GE(CExportMovie::GetIndexForExporter('MooV'), 1);
  EXPECT_EQ(CExportMovie::GetExporterForIndex(CExportMovie::GetIndexForExporter('WAVE')), static_cast<OSType>('WAVE'));
  EXPECT_EQ(CExportMovie::GetIndexForExporter('none'), -1);
  EXPECT_EQ(CExportMovie::GetFlagsForExporter('none'), 0u);
  EXPECT_NE(CExportMovie::GetFlagsForExporter('WAVE') & movieExportSoundOnly, 0u);

  Handle mp4 = HandleOf("mp4 settings"), mov = HandleOf("mov settings");
  EXPECT_EQ(CExportMovie::UpdateExporterSettings('mpg4', mp4), noErr);
  EXPECT_EQ(CExportMovie::UpdateExporterSettings('MooV', mov), noErr);
  EXPECT_EQ(CExportMovie::UpdateExporterSettings('none', mov), paramErr);
  DisposeHandle(mp4);  // the client keeps copies
  DisposeHandle(mov);
  EXPECT_EQ(StoredSettings('mpg4'), "mp4 settings");
  EXPECT_EQ(StoredSettings('MooV'), "mov settings");
  EXPECT_EQ(StoredSettings('VfW '), "<none>");

  // The sheet's Defaults button forgets the current exporter's settings only.
  CExportMovieSettings::sCurrentExporter = 'mpg4';
  {
    LMovieExportNavSheet sheet(nullptr, kInterlace_Progressive, nullptr);
    sheet.DoItem(kExportItemDefaults);
    EXPECT_NE(sheet.GetExporter(), nullptr);
    // Without a movie the Options still run the exporter's dialog (scripted: cancelled).
    UResponder::Script(question_ExporterOptions, SAnswer::Cancel());
    sheet.DoItem(kExportItemOptions);
  }
  EXPECT_EQ(StoredSettings('mpg4'), "<none>");
  EXPECT_EQ(StoredSettings('MooV'), "mov settings");
}

TEST_F(ExportSettingsTest, ThePreferencesSectionRoundTrips) {
  CExportMovieSettings::sSelectionOnly = false;
  CExportMovieSettings::sSingleField = true;
  CExportMovieSettings::sCurrentExporter = 'VfW ';
  Handle settings = HandleOf(std::string("\0\1\2\3", 4));
  CExportMovie::UpdateExporterSettings('3gpp', settings);
  DisposeHandle(settings);
  LWindow* window = CExportMovie::GetExporter()->GetWindow();
  window->MoveWindowTo(40, 50);
  window->Show();
  const Rect bounds = window->GetGlobalBounds();

  LTagWriter writer;
  CExportMovie::WriteToStream(writer);
  Handle written = writer.GetHandle();
  const std::string bytes = BytesOf(written);
  // 'XpSO', 'XpSF', 'XpCr', 'XpBd', 'XpVs', one 'XpTp'/'XpSg' pair, the end.
  std::string expected;
  Record(expected, 'XpSO', std::string(1, '\0'));
  Record(expected, 'XpSF', std::string(1, '\1'));
  Record(expected, 'XpCr', "VfW ");
  char box[8];
  WriteBE16(box + 0, static_cast<UInt16>(bounds.top));
  WriteBE16(box + 2, static_cast<UInt16>(bounds.left));
  WriteBE16(box + 4, static_cast<UInt16>(bounds.bottom));
  WriteBE16(box + 6, static_cast<UInt16>(bounds.right));
  Record(expected, 'XpBd', std::string(box, 8));
  Record(expected, 'XpVs', std::string(1, '\1'));
  Record(expected, 'XpTp', "3gpp");
  Record(expected, 'XpSg', std::string("\0\1\2\3", 4));
  Record(expected, '>>>>', "");
  EXPECT_EQ(bytes, expected);

  // Back: the options, the window's place and visibility, the settings;
  // settings of an exporter that is not installed are passed over.
  CExportMovieSettings::sSelectionOnly = true;
  CExportMovieSettings::sSingleField = false;
  CExportMovieSettings::sCurrentExporter = 'MooV';
  CExportMovie::UpdateExporterSettings('3gpp', nullptr);
  window->Hide();
  window->MoveWindowTo(300, 300);
  std::string stream = bytes.substr(0, bytes.size() - 8);
  Record(stream, 'XpTp', "zzzz");
  Record(stream, 'XpSg', "foreign");
  Record(stream, '>>>>', "");
  Record(stream, 'XpSO', std::string(1, '\1'));  // beyond the end: not read
  Handle h = HandleOf(stream);
  LTagReader reader(h, true);
  CExportMovie::ReadFromStream(reader);
  EXPECT_FALSE(CExportMovieSettings::sSelectionOnly);
  EXPECT_TRUE(CExportMovieSettings::sSingleField);
  EXPECT_EQ(CExportMovieSettings::sCurrentExporter, static_cast<OSType>('VfW '));
  EXPECT_EQ(StoredSettings('3gpp'), std::string("\0\1\2\3", 4));
  EXPECT_EQ(StoredSettings('zzzz'), "<none>");
  EXPECT_TRUE(window->IsVisible());
  EXPECT_EQ(window->GetGlobalBounds().top, bounds.top);
  EXPECT_EQ(window->GetGlobalBounds().left, bounds.left);

  // A damaged section ends the reading quietly.
  std::string damaged;
  Record(damaged, 'XpSO', "");
  Handle d = HandleOf(damaged);
  LTagReader damagedReader(d, true);
  CExportMovie::ReadFromStream(damagedReader);
  EXPECT_FALSE(CExportMovieSettings::sSelectionOnly);
  CExportMovieSettings::sSelectionOnly = true;
  CExportMovieSettings::sSingleField = false;
  CExportMovieSettings::sCurrentExporter = 'MooV';
}

TEST_F(ExportSettingsTest, TheSheetNegotiatesItsCustomAreaAndRemembersItsLastTry) {
  LMovieExportNavSheet sheet(nullptr, 3, nullptr);
  EXPECT_TRUE(sheet.IsSingleFieldActive());
  Rect area{10, 20, 0, 0};  // nothing proposed: exactly the least size
  sheet.NegotiateCustomArea(area);
  EXPECT_EQ(area.right, 20 + LMovieExportNavSheet::kCustomWidth);
  EXPECT_EQ(area.bottom, 10 + LMovieExportNavSheet::kCustomHeight);
  Rect smaller{10, 20, 50, 100};  // too small: grown to the least size
  sheet.NegotiateCustomArea(smaller);
  EXPECT_EQ(smaller.right, 20 + LMovieExportNavSheet::kCustomWidth);
  EXPECT_EQ(smaller.bottom, 10 + LMovieExportNavSheet::kCustomHeight);
  Rect larger{10, 20, 300, 400};  // room enough: taken as it is
  sheet.NegotiateCustomArea(larger);
  EXPECT_EQ(larger.right, 400);
  EXPECT_EQ(larger.bottom, 300);
  // Another sheet starts its own negotiation.
  LMovieExportNavSheet other(nullptr, kInterlace_Progressive, nullptr);
  EXPECT_FALSE(other.IsSingleFieldActive());
  Rect again{0, 0, 0, 0};
  other.NegotiateCustomArea(again);
  EXPECT_EQ(again.right, LMovieExportNavSheet::kCustomWidth);
}

// The tasks window opens beside the movie windows (which open at the top
// left), not over them: its frame lies inside the main screen's free area,
// at its right edge.
TEST_F(ExportSettingsTest, TheTasksWindowOpensAtTheRightEdgeOfTheScreen) {
  LWindow* window = CExportMovie::GetExporter()->GetWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(CExportMovie::ObeyCommand(cmd_ExportTasksWindow));
  ASSERT_TRUE(UiTest::PumpUntil([&] { return window->GetFrameWidget()->isVisible(); }, 10000));
  const Rect area = UWindowState::GetAvailableScreenArea(nullptr);
  ASSERT_GT(area.right - area.left, 400);
  const Rect frame = ShownFrame(window);
  ExpectInside(frame, area);
  EXPECT_GE(area.right - frame.right, 0);
  EXPECT_LE(area.right - frame.right, 4);
  EXPECT_GT(frame.left, area.left + (area.right - area.left) / 3);
  // Hidden and shown again it stays where it was (a place the user chose too).
  window->MoveWindowTo(static_cast<SInt16>(area.left + 20), static_cast<SInt16>(area.top + 30));
  ASSERT_TRUE(CExportMovie::ObeyCommand(cmd_ExportTasksWindow));
  EXPECT_FALSE(window->IsVisible());
  ASSERT_TRUE(CExportMovie::ObeyCommand(cmd_ExportTasksWindow));
  UiTest::Pump(50);
  EXPECT_EQ(window->GetGlobalBounds().left, area.left + 20);
  EXPECT_EQ(window->GetGlobalBounds().top, area.top + 30);
}

// A place stored on a larger screen (or another one) is brought back onto
// this one, the whole frame inside its free area.
TEST_F(ExportSettingsTest, AStoredPlaceOffTheScreenIsBroughtOntoIt) {
  LWindow* window = CExportMovie::GetExporter()->GetWindow();
  ASSERT_NE(window, nullptr);
  const Rect area = UWindowState::GetAvailableScreenArea(nullptr);
  ASSERT_GT(area.right - area.left, 400);
  const Rect now = window->GetGlobalBounds();
  std::string stream;
  char box[8];
  const SInt16 top = static_cast<SInt16>(area.bottom + 200), left = static_cast<SInt16>(area.right + 500);
  WriteBE16(box + 0, static_cast<UInt16>(top));
  WriteBE16(box + 2, static_cast<UInt16>(left));
  WriteBE16(box + 4, static_cast<UInt16>(top + now.bottom - now.top));
  WriteBE16(box + 6, static_cast<UInt16>(left + now.right - now.left));
  Record(stream, 'XpBd', std::string(box, 8));
  Record(stream, 'XpVs', std::string(1, '\1'));
  Record(stream, '>>>>', "");
  Handle h = HandleOf(stream);
  LTagReader reader(h, true);
  CExportMovie::ReadFromStream(reader);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return window->GetFrameWidget()->isVisible(); }, 10000));
  ExpectInside(ShownFrame(window), area);
}
