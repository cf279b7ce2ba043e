// Progress bars, the busy indicator and the separator line.
#pragma once

#include "platform/ui/LControl.h"

// A progress bar (QProgressBar) from min to max, or indeterminate (moving
// without a value). Layout: control record, UInt8 indeterminate.
class LProgressBar : public LControl {
 public:
  static constexpr ClassIDT class_ID = 'pbar';
  LProgressBar(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, Boolean inIndeterminate);
  explicit LProgressBar(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }
  Boolean IsIndeterminate() const { return mIndeterminate; }
  void SetIndeterminate(Boolean inIndeterminate);
  void SetMinValue(SInt32 inMin) override;
  void SetMaxValue(SInt32 inMax) override;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void ValueChanged() override;
  void ShowRange();

  Boolean mIndeterminate = false;
};

// The busy indicator: a ring of dots turning while it is visible.
// Layout: the pane record.
class LChasingArrows : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'carr';
  using LPane::LPane;
  ClassIDT GetClassID() const override { return class_ID; }
  // How many steps the ring has turned (the picture changes with it).
  SInt32 GetStep() const;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
};

// A separator line (QFrame), horizontal when wider than high.
// Layout: the pane record.
class LSeparatorLine : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'sepl';
  using LPane::LPane;
  ClassIDT GetClassID() const override { return class_ID; }

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void FrameChanged() override;
};
