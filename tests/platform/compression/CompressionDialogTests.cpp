// The standard image compression settings dialog driven as a user would, on
// the state of a real compression instance: what OK answers goes back into
// the instance; Cancel answers the state as it came.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "platform/base/MacMemory.h"
#include "platform/movies/ImageCompression.h"
#include "platform/ui/UCompressionDialog.h"
#include "support/ui/UiTestSupport.h"

namespace {

std::vector<UInt8> StateOf(ComponentInstance inCompressor) {
  Handle state = nullptr;
  EXPECT_EQ(SCGetInfo(inCompressor, scSettingsStateType, &state), noErr);
  std::vector<UInt8> bytes(reinterpret_cast<UInt8*>(*state), reinterpret_cast<UInt8*>(*state) + GetHandleSize(state));
  DisposeHandle(state);
  return bytes;
}

OSErr SetState(ComponentInstance inCompressor, const std::vector<UInt8>& inBytes) {
  Handle state = NewHandle(static_cast<SInt32>(inBytes.size()));
  std::copy(inBytes.begin(), inBytes.end(), reinterpret_cast<UInt8*>(*state));
  const OSErr err = SCSetInfo(inCompressor, scSettingsStateType, &state);
  DisposeHandle(state);
  return err;
}

class CompressionDialogTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    ASSERT_EQ(OpenADefaultComponent(StandardCompressionType, StandardCompressionSubType, &mCompressor), noErr);
  }
  void TearDown() override {
    CloseComponent(mCompressor);
    UiFixture::TearDown();
  }
  ComponentInstance mCompressor = nullptr;
};

}  // namespace

TEST_F(CompressionDialogTest, TheUserChangesCodecQualityKeyFramesAndDataRate) {
  const std::vector<SCCodecInfo>& codecs = SCGetCodecList();
  ASSERT_GE(codecs.size(), 2u);
  bool answered = false;
  Boolean ok = false;
  std::vector<UInt8> answer;
  QDialog* dialog = UCompressionDialog::Present(nullptr, codecs, StateOf(mCompressor),
                                                [&](Boolean inOK, const std::vector<UInt8>& inState) {
                                                  answered = true;
                                                  ok = inOK;
                                                  answer = inState;
                                                });
  ASSERT_NE(dialog, nullptr);
  UiTest::Pump(30);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(answered);  // nothing waits inside Present

  auto* codec = dialog->findChild<QComboBox*>(QStringLiteral("codec"));
  auto* quality = dialog->findChild<QSlider*>(QStringLiteral("quality"));
  auto* qualityName = dialog->findChild<QLabel*>(QStringLiteral("qualityName"));
  auto* keyFrames = dialog->findChild<QCheckBox*>(QStringLiteral("keyFrames"));
  auto* keyRate = dialog->findChild<QSpinBox*>(QStringLiteral("keyFrameRate"));
  auto* limit = dialog->findChild<QCheckBox*>(QStringLiteral("limitDataRate"));
  auto* rate = dialog->findChild<QSpinBox*>(QStringLiteral("dataRate"));
  ASSERT_TRUE(codec && quality && qualityName && keyFrames && keyRate && limit && rate);
  // The instance's settings as it has them.
  EXPECT_EQ(codec->count(), static_cast<int>(codecs.size()));
  EXPECT_EQ(codec->currentText(), QStringLiteral("JPEG"));
  EXPECT_EQ(qualityName->text(), QStringLiteral("Medium"));
  EXPECT_TRUE(keyFrames->isChecked());
  EXPECT_EQ(keyRate->value(), 24);
  EXPECT_FALSE(limit->isChecked());
  EXPECT_FALSE(rate->isEnabled());

  // The next codec of the pop-up, two steps of quality, every 10 frames, 200 KB/s.
  const int next = (codec->currentIndex() + 1) % codec->count();
  codec->setFocus();
  if (next == 0)
    QTest::keyClick(codec, Qt::Key_Home);
  else
    QTest::keyClick(codec, Qt::Key_Down);
  EXPECT_EQ(codec->currentIndex(), next);
  QTest::keyClick(quality, Qt::Key_Right);
  QTest::keyClick(quality, Qt::Key_Right);
  EXPECT_EQ(qualityName->text(), QStringLiteral("Best"));
  keyRate->selectAll();
  QTest::keyClicks(keyRate, QStringLiteral("10"));
  QTest::mouseClick(limit, Qt::LeftButton, {}, QPoint(6, limit->height() / 2));
  EXPECT_TRUE(limit->isChecked());
  EXPECT_TRUE(rate->isEnabled());
  rate->selectAll();
  QTest::keyClicks(rate, QStringLiteral("200"));
  UiTest::Pump(30);
  EXPECT_FALSE(UiTest::Screenshot(dialog, "compression-settings").isNull());

  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return answered; }));
  ASSERT_TRUE(ok);
  ASSERT_EQ(SetState(mCompressor, answer), noErr);
  SCSpatialSettings s{};
  SCTemporalSettings t{};
  SCDataRateSettings r{};
  SCGetInfo(mCompressor, scSpatialSettingsType, &s);
  SCGetInfo(mCompressor, scTemporalSettingsType, &t);
  SCGetInfo(mCompressor, scDataRateSettingsType, &r);
  EXPECT_EQ(s.codecType, codecs[static_cast<size_t>(next)].codecType);
  EXPECT_EQ(s.spatialQuality, codecMaxQuality);
  EXPECT_EQ(t.temporalQuality, codecMaxQuality);
  EXPECT_EQ(s.depth, 24);  // not shown: kept
  EXPECT_EQ(t.keyFrameRate, 10);
  EXPECT_EQ(r.dataRate, 200 * 1024);
}

TEST_F(CompressionDialogTest, CancelAndTheCloseBoxAnswerTheStateAsItCame) {
  const std::vector<UInt8> before = StateOf(mCompressor);
  for (bool closeBox : {false, true}) {
    int answers = 0;
    Boolean ok = true;
    std::vector<UInt8> answer;
    QDialog* dialog = UCompressionDialog::Present(nullptr, SCGetCodecList(), before,
                                                  [&](Boolean inOK, const std::vector<UInt8>& inState) {
                                                    ++answers;
                                                    ok = inOK;
                                                    answer = inState;
                                                  });
    UiTest::Pump(20);
    QTest::keyClick(dialog->findChild<QSlider*>(QStringLiteral("quality")), Qt::Key_Left);
    QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("keyFrames")), Qt::LeftButton, {}, QPoint(6, 6));
    if (closeBox)
      dialog->close();
    else
      QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    ASSERT_TRUE(UiTest::PumpUntil([&] { return answers > 0; }));
    UiTest::Pump(20);
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(answer, before);
  }
  EXPECT_EQ(StateOf(mCompressor), before);
}
