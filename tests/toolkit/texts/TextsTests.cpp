#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/Files.h"
#include "platform/files/Resources.h"
#include "platform/ui/Alerts.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UMessage.h"

namespace {

std::string Text(const LStr255& s) { return std::string(s.ConstTextPtr(), s.Length()); }

class TextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
    UAlertResponder::Reset();
  }
  void TearDown() override {
    UBundle::SetMainBundlePath("");
    UAlertResponder::Reset();
    UMessage::SetQTErrorMessageProc(nullptr);
  }
};

bool FakeQTErrors(OSErr inErr, LStr255& outText) {
  if (inErr != -2001) return false;
  outText = "couldNotResolveDataRef";
  return true;
}

}  // namespace

TEST_F(TextsTest, StringsByListAndIndexInEveryForm) {
  char c[256];
  EXPECT_STREQ(ULocalization::GetString(c, 5022, 5), "The file could not be found.");
  EXPECT_STREQ(ULocalization::GetString(c, 5022, 15), "");
  EXPECT_STREQ(ULocalization::GetString(c, 4242, 1), "");
  EXPECT_STREQ(ULocalization::GetString(c, 5022, 0), "");

  Str255 p;
  ULocalization::GetString(p, 5016, 1);
  EXPECT_EQ(PStrToString(p), "Untitled");
  // Escapes of the sources: a trailing blank survives.
  ULocalization::GetString(p, 5008, 7);
  EXPECT_EQ(PStrToString(p), "Time remaining: ");

  CFStringRef s = ULocalization::GetString(300, 6);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(CFStringGetCStringPtr(s, kCFStringEncodingUTF8), "Motion Analysis");
  CFRelease(s);
  s = ULocalization::GetString(300, 99);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringGetLength(s), 0);
  CFRelease(s);
}

TEST_F(TextsTest, EveryListTheProgramsUseIsInTheBundle) {
  const SInt16 lists[] = {150,  151,  300,  5000, 5002, 5003, 5008, 5009, 5010, 5012, 5013,
                          5014, 5015, 5016, 5017, 5018, 5020, 5021, 5022, 5023, 5024};
  Str255 p;
  for (SInt16 id : lists) {
    ULocalization::GetString(p, id, 1);
    EXPECT_GT(p[0], 0) << "STR# " << id;
  }
  // The last items the programs ask for.
  const std::pair<SInt16, SInt16> last[] = {{300, 6},   {5000, 9},  {5003, 12}, {5008, 7},  {5009, 17},
                                            {5010, 55}, {5018, 10}, {5020, 23}, {5021, 4},  {5022, 14},
                                            {5023, 31}};
  for (auto [id, index] : last) {
    ULocalization::GetString(p, id, index);
    EXPECT_GT(p[0], 0) << "STR# " << id << " item " << index;
  }
}

TEST_F(TextsTest, OSErrorTexts) {
  LStr255 text;
  EXPECT_TRUE(UMessage::GetOSErrString(fnfErr, text));
  EXPECT_EQ(Text(text), "The file could not be found.");
  EXPECT_TRUE(UMessage::GetOSErrString(dskFulErr, text));
  EXPECT_EQ(Text(text), "The disk is full.");
  EXPECT_TRUE(UMessage::GetOSErrString(-54, text));
  EXPECT_EQ(Text(text), "You do not have permission to use this file.");
  // The movie toolbox's, the codecs' and the program's own codes have texts.
  EXPECT_TRUE(UMessage::GetOSErrString(-2048, text));
  EXPECT_EQ(Text(text), "The file does not contain a movie that can be read.");
  EXPECT_TRUE(UMessage::GetOSErrString(-8969, text));
  EXPECT_EQ(Text(text), "The compressed data of the movie is damaged.");
  EXPECT_FALSE(UMessage::GetOSErrString(-12345, text));
  EXPECT_EQ(Text(text), "An unexpected error occurred.");

  // The program's own words come before the movie toolbox's names.
  UMessage::SetQTErrorMessageProc(FakeQTErrors);
  EXPECT_TRUE(UMessage::GetOSErrString(-2001, text));
  EXPECT_EQ(Text(text), "The picture description of the movie is damaged.");
  EXPECT_FALSE(UMessage::GetOSErrString(-12345, text));
}

TEST(TimeStrings, HoursMinutesSeconds) {
  LStr255 text;
  const std::pair<SInt32, const char*> cases[] = {
      {3725, "1:02:05"}, {65, "1:05"}, {5, "5"}, {0, "0"}, {-1, "-1"}, {3600, "1:00:00"}, {600, "10:00"}};
  for (auto [seconds, expected] : cases) {
    UMessage::GetTimeString(seconds, text);
    EXPECT_EQ(Text(text), expected) << seconds;
  }
}

TEST_F(TextsTest, AlertsCarryKindTextAndCode) {
  LStr255 message("The movie could not be saved.");
  UMessage::StopAlert(message, fnfErr);
  UMessage::NoteAlert(message, 0);
  UMessage::CautionAlert(message, -128);
  auto recorded = UAlertResponder::GetRecorded();
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[0].kind, kAlertStopAlert);
  EXPECT_EQ(recorded[0].message, "The movie could not be saved.");
  EXPECT_EQ(recorded[0].explanation, "The file could not be found.\rError: -43");
  EXPECT_EQ(recorded[0].buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(recorded[1].kind, kAlertNoteAlert);
  EXPECT_EQ(recorded[1].explanation, "");  // no failure, no code
  EXPECT_EQ(recorded[2].kind, kAlertCautionAlert);
  EXPECT_EQ(recorded[2].explanation, "The operation was cancelled.\rError: -128");

  // A four-character code keeps only its low half in an OSErr; the alert
  // names it by its text and its four characters, never by the number.
  UAlertResponder::Reset();
  UMessage::StopAlert(message, ErrorCodeToOSErr(err_NilPointer));
  recorded = UAlertResponder::GetRecorded();
  ASSERT_EQ(recorded.size(), 1u);
  LStr255 nilText;
  ASSERT_TRUE(UMessage::GetOSErrString(ErrorCodeToOSErr(err_NilPointer), nilText));
  EXPECT_EQ(recorded[0].explanation, Text(nilText) + "\rError: 'nilP'");
  EXPECT_EQ(recorded[0].explanation.find(std::to_string(ErrorCodeToOSErr(err_NilPointer))), std::string::npos);

  UAlertResponder::FailNextAlert(memFullErr);
  try {
    UMessage::StopAlert(message, 1);
    ADD_FAILURE() << "an alert that cannot be shown must throw";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), memFullErr);
  }
}

TEST_F(TextsTest, VersionFromTheBundleOrLeftAlone) {
  LStr255 version("unchanged");
  UMessage::GetVersionString(version);
  EXPECT_EQ(Text(version), "1.0");
  UBundle::SetMainBundlePath("/nonexistent/Tremblorix.app");
  version = "unchanged";
  UMessage::GetVersionString(version);
  EXPECT_EQ(Text(version), "unchanged");
  // Without the bundle the texts are empty, never garbage.
  char c[256];
  EXPECT_STREQ(ULocalization::GetString(c, 5022, 5), "");
}

TEST_F(TextsTest, DefaultPreferencesCopyInTheBundle) {
  const std::string path = std::string(TRX_TEST_BUNDLE) + "/Contents/Resources/Tremblorix Preferences";
  FSSpec spec;
  ASSERT_EQ(FSMakeFSSpecFromPath(path, &spec), noErr);
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, OSType('pref'));
  EXPECT_EQ(info.fdCreator, OSType('Trbx'));

  // Data fork: the version record (tag 1 = 1) and the end of the section.
  SInt16 fork = 0;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &fork), noErr);
  char data[32] = {};
  SInt32 count = sizeof data;
  EXPECT_EQ(FSRead(fork, &count, data), eofErr);
  FSClose(fork);
  const char expected[] = "\0\0\0\1\0\0\0\4\0\0\0\1>>>>\0\0\0\0";
  ASSERT_EQ(count, 20);
  EXPECT_EQ(std::memcmp(data, expected, 20), 0);

  // Resource fork: 'Trbx' 128 with three sections, the first holding tag 1 = 1.
  SInt16 saved = CurResFile();
  SInt16 ref = FSpOpenResFile(&spec, fsRdPerm);
  ASSERT_GT(ref, 0);
  Handle h = Get1Resource('Trbx', 128);
  ASSERT_NE(h, nullptr);
  const char settings[] = "\0\0\0\1\0\0\0\1\1>>>>\0\0\0\0>>>>\0\0\0\0>>>>\0\0\0\0";
  ASSERT_EQ(GetHandleSize(h), 33);
  EXPECT_EQ(std::memcmp(*h, settings, 33), 0);
  Str255 name;
  GetResInfo(h, nullptr, nullptr, name);
  EXPECT_EQ(PStrToString(name), "General-Prefs");
  EXPECT_EQ(Get1Resource('Trbx', 129), nullptr);
  CloseResFile(ref);
  UseResFile(saved);
}
