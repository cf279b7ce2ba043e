#include <gtest/gtest.h>

#include "platform/base/PascalStrings.h"
#include "platform/ui/Alerts.h"

namespace {

struct P {
  Str255 s;
  explicit P(const char* inText) { StringToPStr(inText, s); }
};

class AlertsTest : public ::testing::Test {
 protected:
  void SetUp() override { UAlertResponder::Reset(); }
  void TearDown() override { UAlertResponder::Reset(); }
};

}  // namespace

TEST_F(AlertsTest, RecordsEveryAlertAndAnswersAsScripted) {
  SInt16 hit = 0;
  ASSERT_EQ(StandardAlert(kAlertStopAlert, P("Could not save").s, P("-43").s, nullptr, &hit), noErr);
  EXPECT_EQ(hit, kAlertStdAlertOKButton);  // nothing scripted: the default button

  AlertStdAlertParamRec param;
  ASSERT_EQ(GetStandardAlertDefaultParams(&param, 0), noErr);
  P save("Save"), dont("Don't Save");
  param.defaultText = save.s;
  param.cancelText = reinterpret_cast<ConstStringPtr>(-1);
  param.otherText = dont.s;
  UAlertResponder::QueueAnswer(kAlertStdAlertOtherButton);
  ASSERT_EQ(StandardAlert(kAlertCautionAlert, P("Save changes?").s, nullptr, &param, &hit), noErr);
  EXPECT_EQ(hit, kAlertStdAlertOtherButton);

  auto recorded = UAlertResponder::GetRecorded();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].kind, kAlertStopAlert);
  EXPECT_EQ(recorded[0].message, "Could not save");
  EXPECT_EQ(recorded[0].explanation, "-43");
  EXPECT_EQ(recorded[1].kind, kAlertCautionAlert);
  EXPECT_EQ(recorded[1].buttons, (std::vector<std::string>{"Save", "Cancel", "Don't Save"}));
  EXPECT_EQ(recorded[1].answer, kAlertStdAlertOtherButton);

  UAlertResponder::SetAnswerer([](const AlertRecord& r) {
    return r.kind == kAlertNoteAlert ? kAlertStdAlertCancelButton : kAlertStdAlertOKButton;
  });
  StandardAlert(kAlertNoteAlert, P("note").s, nullptr, nullptr, &hit);
  EXPECT_EQ(hit, kAlertStdAlertCancelButton);
}

TEST_F(AlertsTest, FailuresAndBeeps) {
  UAlertResponder::FailNextAlert(memFullErr);
  SInt16 hit = 0;
  EXPECT_EQ(StandardAlert(kAlertNoteAlert, P("x").s, nullptr, nullptr, &hit), memFullErr);
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());
  EXPECT_EQ(StandardAlert(kAlertNoteAlert, P("x").s, nullptr, nullptr, &hit), noErr);
  SysBeep(1);
  SysBeep(30);
  EXPECT_EQ(UAlertResponder::GetBeepCount(), 2);
  UAlertResponder::Reset();
  EXPECT_EQ(UAlertResponder::GetBeepCount(), 0);
}
