#include "platform/ui/LSlider.h"

#include <QSignalBlocker>
#include <QSlider>

#include "platform/ui/UControlSupport.h"

void LSlider::SetMinValue(SInt32 inMin) {
  LControl::SetMinValue(inMin);
  ValueChanged();
}

void LSlider::SetMaxValue(SInt32 inMax) {
  LControl::SetMaxValue(inMax);
  ValueChanged();
}

QWidget* LSlider::MakeWidget(QWidget* inParent) {
  auto* slider = new QSlider(mWidth >= mHeight ? Qt::Horizontal : Qt::Vertical, inParent);
  // Every position the user moves to is a change the listeners hear.
  QObject::connect(slider, &QSlider::valueChanged, [this](int inValue) { SetValue(inValue); });
  mWidget = slider;
  ValueChanged();
  return slider;
}

void LSlider::ValueChanged() {
  auto* slider = static_cast<QSlider*>(PeekWidget());
  if (slider == nullptr) return;
  QSignalBlocker block(slider);
  slider->setRange(mMinValue, mMaxValue);
  slider->setValue(mValue);
}

void LSlider::FrameChanged() {
  LControl::FrameChanged();
  if (auto* slider = static_cast<QSlider*>(PeekWidget()))
    slider->setOrientation(mWidth >= mHeight ? Qt::Horizontal : Qt::Vertical);
}

OSStatus LSlider::SetDataTag(SInt16, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr) {
  if (inTag != kControlSizeTag) return errDataNotSupported;
  return UControlSupport::ReadControlSize(inDataSize, inDataPtr, mControlSize);
}
