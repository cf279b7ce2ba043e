// The stabilisation settings and the render parameters of a movie. Both are
// kept in host order in memory and stored on the control track as tagged
// user-data items ('MoSt' and 'RdPr').
#pragma once

#include "platform/base/ImageMatrix.h"
#include "platform/base/MacTypes.h"

// How the corrected frames are zoomed to hide the uncovered margins.
enum EZoomMode : SInt32 {
  kZoomNone = 1,
  kZoomInset5 = 2,
  kZoomInset10 = 3,
  kZoomFull = 4,
};

struct MotionSettings {
  Float32 lowpassTime = 1.0f;     // 'loTm' smoothing time, seconds
  UInt8 doHorizontal = 1;         // 'DoHr'
  UInt8 doVertical = 1;           // 'DoVt'
  UInt8 doRotation = 1;           // 'DoRt'
  UInt8 doZoom = 0;               // 'DoZm'
  SInt32 zoomMode = kZoomNone;    // 'ZmMd'
  Float32 fadeInDuration = 0.0f;  // 'FiDr', seconds
  Float32 fadeOutDuration = 0.0f; // 'FoDr', seconds
  Float32 tolerance = 0.0f;       // 'Tlrc', percent
  SInt32 rangeStart = 0;          // record range, movie time (not stored)
  SInt32 rangeStop = 0;
};

// Renderer quality.
enum EQuality : SInt32 {
  kQualityLow = 0,
  kQualityHigh = 1,
};

// Border treatment of the margins a correction uncovers.
enum EBorderMode : SInt32 {
  kBorderTransparent = 0,
  kBorderColor = 1,
  kBorderUntransformed = 2,
  kBorderFilled = 3,
};

// How the movie's frames are interlaced ('IntM'); the values stand as the
// analysis stores them: 1 undecided, 2 progressive, 3 odd field first
// (upper), 4 even field first.
typedef SInt32 QInterlaceMode;
constexpr QInterlaceMode kInterlace_Undecided = 1;
constexpr QInterlaceMode kInterlace_Progressive = 2;
constexpr QInterlaceMode kInterlace_OddFirst = 3;
constexpr QInterlaceMode kInterlace_EvenFirst = 4;

// Whether the mode names frames of two fields (either field first).
constexpr bool IsFieldInterlaced(QInterlaceMode inMode) {
  return inMode == kInterlace_OddFirst || inMode == kInterlace_EvenFirst;
}

struct RenderFrameParams {
  SInt32 interlaceMode = kInterlace_Progressive;
  SInt32 fieldMode = 1;      // the renderer's field mode, 1 to 6
  SInt32 quality = kQualityHigh;
  SInt32 borderMode = kBorderColor;
  MatrixRecord firstMatrix;
  MatrixRecord secondMatrix;
  Rect margins = {0, 0, 0, 0};
  RGBColor borderColor = {0, 0, 0};
  Float32 firstMeasure = 0.0f;
  Float32 secondMeasure = 0.0f;

  RenderFrameParams() {
    SetIdentityMatrix(&firstMatrix);
    SetIdentityMatrix(&secondMatrix);
  }
};
