#include "toolkit/LHelpButton.h"

#include "platform/framework/LStream.h"
#include "toolkit/UHelp.h"

LHelpButton::LHelpButton(LStream* inStream) : LIconControl(inStream) {
  mPageName[0] = 0;
  mAnchorName[0] = 0;
  *inStream >> mPageName;
  *inStream >> mAnchorName;
}

void LHelpButton::HotSpotResult(SInt16) { UHelp::GotoHelpPage(mPageName, mAnchorName[0] ? mAnchorName : nullptr); }
