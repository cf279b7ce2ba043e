// The per-frame correction record: what the correction pipeline computes for
// one frame or field pair, and what the control track stores of it.
#pragma once

#include "platform/base/ImageMatrix.h"
#include "platform/base/MacTypes.h"

constexpr SInt32 kFrameDataFieldPair = 256;

// One correction record per frame or field pair, in time order.
struct FrameData {
  SInt32 flags = 0;
  SInt32 time = 0;
  SInt32 duration = 0;
  SInt32 reserved[2] = {0, 0};
  Float32 values1[4] = {0, 0, 0, 0};  // x shift, y shift, rotation, log10 scale
  Float32 measure1 = 0;
  MatrixRecord matrix1;
  Float32 values2[4] = {0, 0, 0, 0};
  Float32 measure2 = 0;
  MatrixRecord matrix2;
  FrameData() {
    SetIdentityMatrix(&matrix1);
    SetIdentityMatrix(&matrix2);
  }
};
