// A disclosure triangle: value 0 closed (pointing right), 1 open (pointing
// down); a click turns it and broadcasts the value message. Layout: the
// control record.
#pragma once

#include "platform/ui/LControl.h"

class LDisclosureTriangle : public LControl {
 public:
  static constexpr ClassIDT class_ID = 'dtri';
  LDisclosureTriangle(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo);
  explicit LDisclosureTriangle(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void ValueChanged() override;
  void HotSpotResult(SInt16 inHotSpot) override;
};
