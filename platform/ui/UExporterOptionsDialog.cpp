#include "platform/ui/UExporterOptionsDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <memory>

#include "platform/base/Endian.h"
#include "platform/ui/LWindow.h"

namespace UExporterOptionsDialog {

namespace {

constexpr size_t kAtomHeader = 12;

// The offset of the data of the UInt32 atom (type, id 1), or npos.
size_t FindAtom(const std::vector<UInt8>& inSettings, OSType inType) {
  size_t at = 0;
  while (inSettings.size() - at >= kAtomHeader) {
    const UInt32 size = ReadBE32(inSettings.data() + at);
    if (size < kAtomHeader || size > inSettings.size() - at) return std::string::npos;
    if (ReadBE32(inSettings.data() + at + 4) == inType && ReadBE32(inSettings.data() + at + 8) == 1 &&
        size == kAtomHeader + 4)
      return at + kAtomHeader;
    at += size;
  }
  return std::string::npos;
}

// Exporter qualities, as the encoder names them.
struct SChoice {
  const char* name;
  UInt32 value;
};
constexpr SChoice kQualities[] = {{"Least", 0x000}, {"Low", 0x100}, {"Medium", 0x200}, {"High", 0x300},
                                  {"Best", 0x3FF},  {"Lossless", 0x400}};
constexpr SChoice kRates[] = {{"As the movie", 0}, {"8 kHz", 8000},   {"11.025 kHz", 11025}, {"16 kHz", 16000},
                              {"22.05 kHz", 22050}, {"32 kHz", 32000}, {"44.1 kHz", 44100},  {"48 kHz", 48000},
                              {"96 kHz", 96000}};
constexpr SChoice kChannels[] = {{"As the movie", 0}, {"Mono", 1}, {"Stereo", 2}};

template <size_t N>
QComboBox* MakeChoice(const SChoice (&inChoices)[N], UInt32 inValue, const char* inName) {
  auto* box = new QComboBox;
  box->setObjectName(QString::fromLatin1(inName));
  int current = -1;
  for (size_t i = 0; i < N; ++i) {
    box->addItem(QString::fromUtf8(inChoices[i].name), QVariant::fromValue(inChoices[i].value));
    if (inChoices[i].value == inValue) current = static_cast<int>(i);
  }
  if (current < 0) {
    // A stored value the list lacks stays choosable.
    box->addItem(QString::number(inValue), QVariant::fromValue(inValue));
    current = box->count() - 1;
  }
  box->setCurrentIndex(current);
  return box;
}

QSpinBox* MakeNumber(UInt32 inValue, int inMax, const char* inName, const QString& inZero, const QString& inSuffix) {
  auto* spin = new QSpinBox;
  spin->setObjectName(QString::fromLatin1(inName));
  spin->setRange(0, inMax);
  spin->setSpecialValueText(inZero);
  spin->setSuffix(inSuffix);
  spin->setValue(static_cast<int>(std::min<UInt32>(inValue, static_cast<UInt32>(inMax))));
  return spin;
}

}  // namespace

bool GetValue(const std::vector<UInt8>& inSettings, OSType inType, UInt32& outValue) {
  const size_t at = FindAtom(inSettings, inType);
  if (at == std::string::npos) return false;
  outValue = ReadBE32(inSettings.data() + at);
  return true;
}

void SetValue(std::vector<UInt8>& ioSettings, OSType inType, UInt32 inValue) {
  const size_t at = FindAtom(ioSettings, inType);
  if (at != std::string::npos) {
    WriteBE32(ioSettings.data() + at, inValue);
    return;
  }
  UInt8 atom[kAtomHeader + 4];
  WriteBE32(atom, kAtomHeader + 4);
  WriteBE32(atom + 4, inType);
  WriteBE32(atom + 8, 1);
  WriteBE32(atom + 12, inValue);
  ioSettings.insert(ioSettings.end(), atom, atom + sizeof(atom));
}

QDialog* Present(const SQuestion& inQuestion, UResponder::Reply inReply) {
  QWidget* parent = inQuestion.parent ? inQuestion.parent->GetFrameWidget() : nullptr;
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(QStringLiteral("ExporterOptions"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  dialog->setWindowTitle(inQuestion.title.empty() ? QStringLiteral("Export Options")
                                                  : QString::fromUtf8(inQuestion.title.c_str()) +
                                                        QStringLiteral(" Options"));
  const std::vector<UInt8> settings = inQuestion.settings;
  UInt32 value = 0;
  auto* layout = new QVBoxLayout(dialog);

  // Video: only exporters that write pictures have a video codec.
  QComboBox* quality = nullptr;
  QSpinBox *bitRate = nullptr, *width = nullptr, *height = nullptr;
  if (GetValue(settings, 'vcdc', value) && value != 0) {
    auto* group = new QGroupBox(QStringLiteral("Video"));
    auto* form = new QFormLayout(group);
    GetValue(settings, 'qual', value);
    quality = MakeChoice(kQualities, value, "quality");
    form->addRow(QStringLiteral("Quality:"), quality);
    value = 0;
    GetValue(settings, 'brat', value);
    bitRate = MakeNumber(value / 1000, 500000, "bitRate", QStringLiteral("Automatic"), QStringLiteral(" kbit/s"));
    form->addRow(QStringLiteral("Data rate:"), bitRate);
    value = 0;
    GetValue(settings, 'wdth', value);
    width = MakeNumber(value, 16384, "width", QStringLiteral("As the movie"), QStringLiteral(" pixels"));
    form->addRow(QStringLiteral("Width:"), width);
    value = 0;
    GetValue(settings, 'hegt', value);
    height = MakeNumber(value, 16384, "height", QStringLiteral("As the movie"), QStringLiteral(" pixels"));
    form->addRow(QStringLiteral("Height:"), height);
    layout->addWidget(group);
  }
  QComboBox *rate = nullptr, *channels = nullptr;
  if (GetValue(settings, 'scdc', value)) {
    auto* group = new QGroupBox(QStringLiteral("Sound"));
    auto* form = new QFormLayout(group);
    value = 0;
    GetValue(settings, 'srat', value);
    rate = MakeChoice(kRates, value, "sampleRate");
    form->addRow(QStringLiteral("Sample rate:"), rate);
    value = 0;
    GetValue(settings, 'schn', value);
    channels = MakeChoice(kChannels, value, "channels");
    form->addRow(QStringLiteral("Channels:"), channels);
    layout->addWidget(group);
  }
  if (!quality && !rate) layout->addWidget(new QLabel(QStringLiteral("This exporter has no options.")));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(buttons);

  auto once = std::make_shared<bool>(false);
  auto reply = [once, inReply](const SAnswer& inAnswer) {
    if (*once) return;
    *once = true;
    if (inReply) inReply(inAnswer);
  };
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
    SAnswer a;
    a.settings = settings;
    if (quality) {
      SetValue(a.settings, 'qual', quality->currentData().toUInt());
      SetValue(a.settings, 'brat', static_cast<UInt32>(bitRate->value()) * 1000u);
      SetValue(a.settings, 'wdth', static_cast<UInt32>(width->value()));
      SetValue(a.settings, 'hegt', static_cast<UInt32>(height->value()));
    }
    if (rate) {
      SetValue(a.settings, 'srat', rate->currentData().toUInt());
      SetValue(a.settings, 'schn', channels->currentData().toUInt());
    }
    reply(a);
    dialog->accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, [dialog] { dialog->reject(); });
  QObject::connect(dialog, &QDialog::rejected, dialog, [reply] { reply(SAnswer::Cancel()); });
  dialog->open();
  return dialog;
}

void Install() {
  UResponder::SetPresenter(question_ExporterOptions,
                           [](const SQuestion& inQuestion, UResponder::Reply inReply) { Present(inQuestion, inReply); });
}

}  // namespace UExporterOptionsDialog
