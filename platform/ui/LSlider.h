// A slider (QSlider), horizontal when its frame is wider than high. Moving
// it broadcasts the value message for every new value.
// Layout: the control record.
#pragma once

#include "platform/ui/LControl.h"

class LSlider : public LControl {
 public:
  static constexpr ClassIDT class_ID = 'slid';
  using LControl::LControl;
  ClassIDT GetClassID() const override { return class_ID; }
  void SetMinValue(SInt32 inMin) override;
  void SetMaxValue(SInt32 inMax) override;
  // kControlSizeTag is taken (Qt draws one slider size).
  OSStatus SetDataTag(SInt16 inPartCode, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr) override;
  SInt16 GetControlSize() const { return mControlSize; }

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void ValueChanged() override;
  void FrameChanged() override;

  SInt16 mControlSize = 0;
};
