#include "platform/ui/LTextControl.h"

#include <QVariant>
#include <QWidget>

#include "platform/framework/LStream.h"
#include "platform/ui/UControlSupport.h"

LTextControl::LTextControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText,
                           SInt16 inTextTraitsID)
    : LControl(inPaneInfo, inControlInfo), mText(inText), mTextTraitsID(inTextTraitsID) {}

LTextControl::LTextControl(LStream* inStream) : LControl(inStream) {
  Str255 text;
  inStream->ReadPString(text);
  mText = UControlSupport::FromPString(text);
  *inStream >> mTextTraitsID;
}

void LTextControl::SetDescriptor(ConstStringPtr inDescriptor) { SetText(UControlSupport::FromPString(inDescriptor)); }

StringPtr LTextControl::GetDescriptor(Str255 outDescriptor) const {
  UControlSupport::ToPString(GetText(), outDescriptor);
  return outDescriptor;
}

void LTextControl::SetText(const std::string& inText) {
  if (inText == mText) return;
  mText = inText;
  TextChanged();
}

void LTextControl::SetTextTraitsID(SInt16 inID) {
  if (inID == mTextTraitsID) return;
  mTextTraitsID = inID;
  if (QWidget* w = PeekWidget()) StyleWidget(w);
  TextChanged();
}

OSStatus LTextControl::SetDataTag(SInt16, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr) {
  if (inTag != kControlSizeTag) return errDataNotSupported;
  OSStatus err = UControlSupport::ReadControlSize(inDataSize, inDataPtr, mControlSize);
  if (err == noErr)
    if (QWidget* w = PeekWidget()) StyleWidget(w);
  return err;
}

void LTextControl::StyleWidget(QWidget* inWidget) const {
  UControlSupport::ApplyTextStyle(inWidget, mTextTraitsID);
  for (QWidget* part : inWidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    UControlSupport::ApplyTextStyle(part, mTextTraitsID);
  UControlSupport::ApplyControlSize(inWidget, mControlSize);
  for (QWidget* part : inWidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    UControlSupport::ApplyControlSize(part, mControlSize);
}
