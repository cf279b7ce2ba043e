#include "platform/ui/UCompressionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "platform/ui/LWindow.h"
#include "platform/ui/UExporterOptionsDialog.h"
#include "platform/ui/UQtSupport.h"

namespace UCompressionDialog {

namespace {

struct SQuality {
  const char* name;
  UInt32 value;
};
constexpr SQuality kQualities[] = {{"Least", codecMinQuality},   {"Low", codecLowQuality},
                                   {"Medium", codecNormalQuality}, {"High", codecHighQuality},
                                   {"Best", codecMaxQuality},      {"Lossless", codecLosslessQuality}};
constexpr int kQualityCount = static_cast<int>(sizeof(kQualities) / sizeof(kQualities[0]));

// The slider position of a quality: the highest step not above it.
int QualityStep(UInt32 inQuality) {
  int step = 0;
  for (int i = 0; i < kQualityCount; ++i)
    if (kQualities[i].value <= inQuality) step = i;
  return step;
}

constexpr int kBytesPerKilobyte = 1024;

}  // namespace

QDialog* Present(LWindow* inParent, const std::vector<SCCodecInfo>& inCodecs, const std::vector<UInt8>& inState,
                 Reply inReply) {
  QDialog* dialog = nullptr;
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QWidget* parent = inParent ? inParent->GetFrameWidget() : nullptr;
    dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("CompressionSettings"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Compression Settings"));
    const std::vector<UInt8> state = inState;
    auto value = [&state](OSType inAtom) {
      UInt32 v = 0;
      UExporterOptionsDialog::GetValue(state, inAtom, v);
      return v;
    };

    auto* layout = new QVBoxLayout(dialog);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    // The codec: the stored one stays choosable even when this build lacks it.
    auto* codec = new QComboBox;
    codec->setObjectName(QStringLiteral("codec"));
    const UInt32 storedCodec = value(scStateCodecAtom);
    int current = -1;
    for (const SCCodecInfo& c : inCodecs) {
      codec->addItem(QString::fromUtf8(c.name.c_str()), QVariant::fromValue(static_cast<UInt32>(c.codecType)));
      if (c.codecType == storedCodec) current = codec->count() - 1;
    }
    if (current < 0 && storedCodec != 0) {
      char code[5] = {static_cast<char>(storedCodec >> 24), static_cast<char>(storedCodec >> 16),
                      static_cast<char>(storedCodec >> 8), static_cast<char>(storedCodec), 0};
      codec->addItem(QString::fromLatin1(code), QVariant::fromValue(storedCodec));
      current = codec->count() - 1;
    }
    codec->setCurrentIndex(current);
    form->addRow(QStringLiteral("Compression type:"), codec);

    // Quality: one slider for the spatial and the temporal quality.
    auto* qualityRow = new QHBoxLayout;
    auto* quality = new QSlider(Qt::Horizontal);
    quality->setObjectName(QStringLiteral("quality"));
    quality->setRange(0, kQualityCount - 1);
    quality->setPageStep(1);
    quality->setTickPosition(QSlider::TicksBelow);
    const int firstStep = QualityStep(value(scStateSpatialQualityAtom));
    quality->setValue(firstStep);
    auto* qualityName = new QLabel(QString::fromLatin1(kQualities[firstStep].name));
    qualityName->setObjectName(QStringLiteral("qualityName"));
    qualityName->setMinimumWidth(qualityName->fontMetrics().horizontalAdvance(QStringLiteral("Lossless")) + 4);
    QObject::connect(quality, &QSlider::valueChanged, qualityName,
                     [qualityName](int inStep) { qualityName->setText(QString::fromLatin1(kQualities[inStep].name)); });
    qualityRow->addWidget(quality, 1);
    qualityRow->addWidget(qualityName);
    form->addRow(QStringLiteral("Quality:"), qualityRow);

    // Key frames every so many frames (off: none forced).
    const UInt32 storedKeyRate = value(scStateKeyFrameRateAtom);
    auto* keyRow = new QHBoxLayout;
    auto* keyFrames = new QCheckBox(QStringLiteral("Key frame every"));
    keyFrames->setObjectName(QStringLiteral("keyFrames"));
    keyFrames->setChecked(storedKeyRate != 0);
    auto* keyRate = new QSpinBox;
    keyRate->setObjectName(QStringLiteral("keyFrameRate"));
    keyRate->setRange(1, 100000);
    keyRate->setValue(storedKeyRate != 0 ? static_cast<int>(std::min<UInt32>(storedKeyRate, 100000)) : 24);
    keyRate->setSuffix(QStringLiteral(" frames"));
    keyRate->setEnabled(keyFrames->isChecked());
    QObject::connect(keyFrames, &QCheckBox::toggled, keyRate, &QWidget::setEnabled);
    keyRow->addWidget(keyFrames);
    keyRow->addWidget(keyRate, 1);
    form->addRow(QStringLiteral("Key frames:"), keyRow);

    // Data rate limit in kilobytes per second (off: no limit).
    const UInt32 storedRate = value(scStateDataRateAtom);
    auto* rateRow = new QHBoxLayout;
    auto* limit = new QCheckBox(QStringLiteral("Limit to"));
    limit->setObjectName(QStringLiteral("limitDataRate"));
    limit->setChecked(storedRate != 0);
    auto* rate = new QSpinBox;
    rate->setObjectName(QStringLiteral("dataRate"));
    rate->setRange(1, 2000000);
    rate->setSuffix(QStringLiteral(" KB/s"));
    rate->setValue(storedRate != 0 ? static_cast<int>(std::max<UInt32>(1, storedRate / kBytesPerKilobyte)) : 500);
    rate->setEnabled(limit->isChecked());
    QObject::connect(limit, &QCheckBox::toggled, rate, &QWidget::setEnabled);
    rateRow->addWidget(limit);
    rateRow->addWidget(rate, 1);
    form->addRow(QStringLiteral("Data rate:"), rateRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    auto once = std::make_shared<bool>(false);
    auto reply = [once, inReply](Boolean inOK, const std::vector<UInt8>& inAnswer) {
      if (*once) return;
      *once = true;
      if (inReply) inReply(inOK, inAnswer);
    };
    const int firstRate = rate->value();
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
      std::vector<UInt8> answer = state;
      if (codec->currentIndex() >= 0)
        UExporterOptionsDialog::SetValue(answer, scStateCodecAtom, codec->currentData().toUInt());
      // A quality between the steps stays as it was unless the slider moved.
      if (quality->value() != firstStep) {
        UExporterOptionsDialog::SetValue(answer, scStateSpatialQualityAtom, kQualities[quality->value()].value);
        UExporterOptionsDialog::SetValue(answer, scStateTemporalQualityAtom, kQualities[quality->value()].value);
      }
      UExporterOptionsDialog::SetValue(answer, scStateKeyFrameRateAtom,
                                       keyFrames->isChecked() ? static_cast<UInt32>(keyRate->value()) : 0u);
      // An unchanged limit keeps its exact byte count.
      UInt32 bytes = 0;
      if (limit->isChecked())
        bytes = storedRate != 0 && rate->value() == firstRate ? storedRate
                                                              : static_cast<UInt32>(rate->value()) * kBytesPerKilobyte;
      UExporterOptionsDialog::SetValue(answer, scStateDataRateAtom, bytes);
      reply(true, answer);
      dialog->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, [dialog] { dialog->reject(); });
    QObject::connect(dialog, &QDialog::rejected, dialog, [reply, state] { reply(false, state); });
    // Window-modal on the parent (application-modal without one); no loop of its own.
    if (!parent) dialog->setWindowModality(Qt::ApplicationModal);
    if (parent)
      dialog->open();
    else
      dialog->show();
  });
  return dialog;
}

}  // namespace UCompressionDialog
