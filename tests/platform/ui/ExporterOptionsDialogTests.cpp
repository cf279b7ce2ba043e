// The exporters' Options dialog driven as a user would: the values it shows
// come from the settings' atoms, the edited ones go back into them, and the
// atoms it does not show pass through.
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>

#include "platform/ui/UExporterOptionsDialog.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"

namespace {

using UExporterOptionsDialog::GetValue;
using UExporterOptionsDialog::SetValue;

std::vector<UInt8> VideoSettings() {
  std::vector<UInt8> s;
  SetValue(s, 'expt', 'mpg4');
  SetValue(s, 'vcdc', 'avc1');
  SetValue(s, 'qual', 0x200);
  SetValue(s, 'brat', 0);
  SetValue(s, 'wdth', 0);
  SetValue(s, 'hegt', 0);
  SetValue(s, 'scdc', 'mp4a');
  SetValue(s, 'srat', 0);
  SetValue(s, 'schn', 0);
  return s;
}

UInt32 Value(const std::vector<UInt8>& inSettings, OSType inType) {
  UInt32 v = 0xDEADBEEF;
  GetValue(inSettings, inType, v);
  return v;
}

void Choose(QComboBox* inBox, const char* inText) {
  ASSERT_NE(inBox, nullptr);
  const int index = inBox->findText(QString::fromUtf8(inText));
  ASSERT_GE(index, 0) << inText;
  inBox->setCurrentIndex(index);
}

class ExporterOptionsDialogTest : public UiFixture {};

}  // namespace

TEST_F(ExporterOptionsDialogTest, TheAtomsRoundTripAndUnknownOnesStay) {
  std::vector<UInt8> s;
  UInt32 none = 0;
  EXPECT_FALSE(GetValue(s, 'qual', none));
  SetValue(s, 'qual', 0x300);
  SetValue(s, 'zzzz', 7);
  SetValue(s, 'qual', 0x100);  // replaced in place
  EXPECT_EQ(s.size(), 32u);
  EXPECT_EQ(Value(s, 'qual'), 0x100u);
  EXPECT_EQ(Value(s, 'zzzz'), 7u);
  // A damaged container shows nothing rather than reading past its end.
  std::vector<UInt8> damaged = s;
  damaged[3] = 0xFF;
  UInt32 v = 0;
  EXPECT_FALSE(GetValue(damaged, 'qual', v));
}

TEST_F(ExporterOptionsDialogTest, AVideoExporterEditsQualityRateSizeAndSound) {
  SQuestion q;
  q.kind = question_ExporterOptions;
  q.exporterType = 'mpg4';
  q.title = "MPEG-4";
  q.settings = VideoSettings();
  SetValue(q.settings, 'zzzz', 42);
  SAnswer answer;
  bool answered = false;
  QDialog* dialog = UExporterOptionsDialog::Present(q, [&](const SAnswer& inAnswer) {
    answer = inAnswer;
    answered = true;
  });
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("MPEG-4 Options"));
  auto* quality = dialog->findChild<QComboBox*>(QStringLiteral("quality"));
  ASSERT_NE(quality, nullptr);
  EXPECT_EQ(quality->currentText(), QStringLiteral("Medium"));
  Choose(quality, "High");
  dialog->findChild<QSpinBox*>(QStringLiteral("bitRate"))->setValue(2500);
  dialog->findChild<QSpinBox*>(QStringLiteral("width"))->setValue(320);
  dialog->findChild<QSpinBox*>(QStringLiteral("height"))->setValue(180);
  Choose(dialog->findChild<QComboBox*>(QStringLiteral("sampleRate")), "48 kHz");
  Choose(dialog->findChild<QComboBox*>(QStringLiteral("channels")), "Mono");
  UiTest::Pump(30);
  UiTest::Screenshot(dialog, "exporter_options");
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_FALSE(answer.cancelled);
  EXPECT_EQ(Value(answer.settings, 'qual'), 0x300u);
  EXPECT_EQ(Value(answer.settings, 'brat'), 2500000u);
  EXPECT_EQ(Value(answer.settings, 'wdth'), 320u);
  EXPECT_EQ(Value(answer.settings, 'hegt'), 180u);
  EXPECT_EQ(Value(answer.settings, 'srat'), 48000u);
  EXPECT_EQ(Value(answer.settings, 'schn'), 1u);
  EXPECT_EQ(Value(answer.settings, 'vcdc'), static_cast<UInt32>('avc1'));
  EXPECT_EQ(Value(answer.settings, 'zzzz'), 42u);
  EXPECT_EQ(answer.settings.size(), q.settings.size());
}

TEST_F(ExporterOptionsDialogTest, ASoundExporterShowsOnlySoundAndCancelKeepsEverything) {
  SQuestion q;
  q.kind = question_ExporterOptions;
  q.exporterType = 'WAVE';
  SetValue(q.settings, 'vcdc', 0);
  SetValue(q.settings, 'scdc', 'sowt');
  SetValue(q.settings, 'srat', 22050);
  SetValue(q.settings, 'schn', 2);
  SAnswer answer;
  bool answered = false;
  QDialog* dialog = UExporterOptionsDialog::Present(q, [&](const SAnswer& inAnswer) {
    answer = inAnswer;
    answered = true;
  });
  EXPECT_EQ(dialog->findChild<QSpinBox*>(QStringLiteral("width")), nullptr);
  EXPECT_EQ(dialog->findChild<QComboBox*>(QStringLiteral("quality")), nullptr);
  auto* rate = dialog->findChild<QComboBox*>(QStringLiteral("sampleRate"));
  ASSERT_NE(rate, nullptr);
  EXPECT_EQ(rate->currentText(), QStringLiteral("22.05 kHz"));
  EXPECT_EQ(dialog->findChild<QComboBox*>(QStringLiteral("channels"))->currentText(), QStringLiteral("Stereo"));
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  EXPECT_TRUE(answer.cancelled);
  EXPECT_TRUE(answer.settings.empty());
}
