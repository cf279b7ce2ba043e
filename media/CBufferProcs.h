// The band procedures (kernels) of the image buffer's pixel operations. Each
// takes the band's CBufferTask record and returns a status (see CBufferTask.h).
#pragma once

#include "platform/base/MacTypes.h"

class CBufferProcs {
 public:
  // Copies a band from source to destination, converting between 8-bit and
  // 16-bit components and between gray and ARGB, optionally blended through an
  // 8-bit mask in the destination's colour mode.
  static SInt32 Copy_proc(void* inTask);
  // Fills a band with the erase value (four UInt16: gray, red, green, blue),
  // optionally blended through an 8-bit mask in the buffer's colour mode.
  static SInt32 Erase_proc(void* inTask);

  // Further kernels, implemented with their operations.
  static SInt32 CopyToFloat_proc(void* inTask);
  static SInt32 CopyFromFloat_proc(void* inTask);
  static SInt32 Rotate_90_proc(void* inTask);
  static SInt32 Rotate_180_proc(void* inTask);
  static SInt32 Rotate_270_proc(void* inTask);
  static SInt32 FlipVert_proc(void* inTask);
  static SInt32 FlipHorz_proc(void* inTask);
  static SInt32 RGB2HSV_proc(void* inTask);
  static SInt32 HSV2RGB_proc(void* inTask);
  static SInt32 Copy_Gray_to_RGB(void* inTask);
  static SInt32 Copy_RGB_to_Gray(void* inTask);
  static SInt32 CopyWithLUT_proc(void* inTask);

  // The vector-unit names of the kernels. The kernels are written so that the
  // compiler vectorises them for the target, so each name is the kernel
  // itself and nothing chooses between them at run time.
  using Proc = SInt32 (*)(void*);
  static constexpr Proc Copy_proc_AV = &Copy_proc;
  static constexpr Proc Erase_proc_AV = &Erase_proc;
  static constexpr Proc CopyToFloat_proc_AV = &CopyToFloat_proc;
  static constexpr Proc CopyFromFloat_proc_AV = &CopyFromFloat_proc;
  static constexpr Proc RGB2HSV_proc_AV = &RGB2HSV_proc;
  static constexpr Proc HSV2RGB_proc_AV = &HSV2RGB_proc;
  static constexpr Proc Copy_Gray_to_RGB_AV = &Copy_Gray_to_RGB;
  static constexpr Proc Copy_RGB_to_Gray_AV = &Copy_RGB_to_Gray;
};

// The band a kernel works on, after the checks every kernel makes: boxes
// moved down by the first row, equal sizes, inside their buffers' bounds,
// memory present. PrepareBand answers 0 when the band may run (rows > 0), a
// status to return otherwise (rows == 0 gives 0 with outRun false).
class CBufferTask;
struct BandPointers {
  UInt8* src = nullptr;
  UInt8* dst = nullptr;
  const UInt8* mask = nullptr;
  SInt32 srcRowBytes = 0;
  SInt32 dstRowBytes = 0;
  SInt32 maskRowBytes = 0;
  SInt32 width = 0;
  SInt32 rows = 0;
};
SInt32 PrepareBand(CBufferTask* inTask, BandPointers& outBand, bool& outRun);
