// The help button of the layouts (class 'Help'): an icon button that opens
// the help page it names, at its anchor. Layout: the icon control's record,
// then Str255 page, Str255 anchor (empty: the top of the page).
#pragma once

#include "platform/ui/LButtons.h"

class LHelpButton : public LIconControl {
 public:
  static constexpr ClassIDT class_ID = 'Help';
  explicit LHelpButton(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  void HotSpotResult(SInt16 inHotSpot) override;
  ConstStringPtr GetPageName() const { return mPageName; }
  ConstStringPtr GetAnchorName() const { return mAnchorName; }

 protected:
  Str255 mPageName;
  Str255 mAnchorName;
};
