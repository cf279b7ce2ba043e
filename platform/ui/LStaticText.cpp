#include "platform/ui/LStaticText.h"

#include <QLabel>

#include "platform/framework/LStream.h"
#include "platform/ui/UControlSupport.h"

LStaticText::LStaticText(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID)
    : LPane(inPaneInfo), mText(inText), mTextTraitsID(inTextTraitsID) {}

LStaticText::LStaticText(LStream* inStream) : LPane(inStream) {
  Str255 text;
  inStream->ReadPString(text);
  mText = UControlSupport::FromPString(text);
  *inStream >> mTextTraitsID;
}

void LStaticText::SetDescriptor(ConstStringPtr inDescriptor) { SetText(UControlSupport::FromPString(inDescriptor)); }

StringPtr LStaticText::GetDescriptor(Str255 outDescriptor) const {
  UControlSupport::ToPString(mText, outDescriptor);
  return outDescriptor;
}

void LStaticText::SetText(const std::string& inText) {
  if (inText == mText) return;
  mText = inText;
  ShowText();
}

void LStaticText::SetTextTraitsID(SInt16 inID) {
  mTextTraitsID = inID;
  if (QWidget* w = PeekWidget()) UControlSupport::ApplyTextStyle(w, inID);
}

QWidget* LStaticText::MakeWidget(QWidget* inParent) {
  auto* label = new QLabel(inParent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(WrapsLines());
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  UControlSupport::ApplyTextStyle(label, mTextTraitsID);
  mWidget = label;
  ShowText();
  return label;
}

void LStaticText::ShowText() {
  auto* label = static_cast<QLabel*>(PeekWidget());
  if (label == nullptr) return;
  // Texts from the program's string lists end lines with carriage returns.
  QString text = UControlSupport::ToQString(mText);
  text.replace(QChar('\r'), QChar('\n'));
  label->setText(text);
}
