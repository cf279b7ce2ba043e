#include "platform/ui/LTextControl.h"

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
  if (QWidget* w = PeekWidget()) UControlSupport::ApplyTextStyle(w, inID);
  TextChanged();
}
