// A bevel button showing a colour swatch; a click opens the colour picker
// (through the responder), and a confirmed choice changes the swatch and
// broadcasts the button's value message. A cancelled picker changes nothing.
#pragma once

#include <memory>

#include "platform/ui/LButtons.h"

constexpr SInt16 STRx_ColorPicker = 5002;

class CColorPickerPane : public LBevelButton {
 public:
  static constexpr ClassIDT class_ID = 'ClPc';
  CColorPickerPane(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo);
  explicit CColorPickerPane(LStream* inStream);
  ~CColorPickerPane() override;
  ClassIDT GetClassID() const override { return class_ID; }
  static CColorPickerPane* CreateFromStream(LStream* inStream) { return new CColorPickerPane(inStream); }

  void SetColor(const RGBColor& inColor);
  const RGBColor& GetColor() const { return mColor; }
  // Opens the picker; the answer arrives at a later pass of the event loop.
  void HotSpotResult(SInt16 inHotSpot) override;
  // Whether a picker is open now.
  Boolean IsPicking() const { return *mPicking; }

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void DrawSelf() override;

 private:
  RGBColor mColor = {0, 0, 0};
  // Shared with a pending answer, which must not touch a pane that is gone.
  std::shared_ptr<Boolean> mPicking;
  std::shared_ptr<CColorPickerPane*> mSelf;
};
