// A frame buffer as the tracking road hands it to the tracker: a view that
// is pointed at each decoded frame in turn, nothing copied (the road's
// ahead-decoder draws into slots of its own and shows each in one view).
#pragma once

#include "media/CBuffer.h"

class CFrameView : public CBuffer {
 public:
  // A view of inFirst's size and layout, showing inFirst.
  explicit CFrameView(CBuffer* inFirst)
      : CBuffer(inFirst->GetBounds(), kBufferDepth8, kBufferModeARGB, inFirst->GetRowBytes(), inFirst->GetData()) {}
  // Shows inFrame, which has the view's size and layout.
  void Show(CBuffer* inFrame) { mData = inFrame->GetData(); }
};
