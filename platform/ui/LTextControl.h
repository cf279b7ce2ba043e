// The standard controls of the layouts, shown by the matching Qt widgets.
// The model (value, min, max, text, visible, enabled) is what the program
// reads; the widget mirrors it. A user's change goes through the model and
// broadcasts the control's value message with a pointer to the new SInt32
// value, as LControl::SetValue does for the program's own changes.
//
// Layout records: each class reads the control record (LControl) and then
// its own fields, listed at the class (see resources/layouts/README.txt).
#pragma once

#include <string>

#include "platform/ui/LControl.h"

// A control with a text (title or contents, UTF-8) shown in a text style.
// Layout fields after the control record: Str255 text, SInt16 text style.
class LTextControl : public LControl {
 public:
  LTextControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText,
               SInt16 inTextTraitsID = 0);
  explicit LTextControl(LStream* inStream);

  virtual void SetDescriptor(ConstStringPtr inDescriptor);
  // The text cut to 255 bytes.
  virtual StringPtr GetDescriptor(Str255 outDescriptor) const;
  virtual void SetText(const std::string& inText);
  virtual std::string GetText() const { return mText; }
  SInt16 GetTextTraitsID() const { return mTextTraitsID; }
  void SetTextTraitsID(SInt16 inID);
  // kControlSizeTag: the texts grow smaller for the small and mini sizes.
  OSStatus SetDataTag(SInt16 inPartCode, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr) override;
  SInt16 GetControlSize() const { return mControlSize; }

 protected:
  // The widget takes the text style and the control size (MakeWidget calls it).
  void StyleWidget(QWidget* inWidget) const;
  // The text or its style changed: the widget shows it.
  virtual void TextChanged() {}

  std::string mText;
  SInt16 mTextTraitsID = 0;
  SInt16 mControlSize = 0;
};
