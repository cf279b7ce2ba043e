#include "media/CMovieRendering.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <utility>

#include "media/CBuffer.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/tasks/MPBands.h"

namespace {

constexpr OSErr kNil = static_cast<OSErr>(static_cast<UInt16>(err_NilPointer & 0xFFFF));

bool IsARGB8(const CBuffer* b) { return b->GetDepth() == kBufferDepth8 && b->GetMode() == kBufferModeARGB; }

UInt8* RowOf(CBuffer* b, SInt32 row) { return reinterpret_cast<UInt8*>(b->GetData()) + static_cast<size_t>(row) * b->GetRowBytes(); }

// Rows of one field of a buffer: its first row (relative to the bounds) and count.
struct FieldRows {
  SInt32 start;
  SInt32 count;
};

// The first field holds the rows with an even coordinate, the second the odd ones.
FieldRows RowsOfField(const CBuffer* b, bool second) {
  const SInt32 H = b->GetHeight();
  const bool topEven = (b->GetBounds().top % 2) == 0;
  SInt32 start = (second == topEven) ? 1 : 0;
  SInt32 count = H / 2 + ((H % 2 != 0 && start == 0) ? 1 : 0);
  return FieldRows{start, count};
}

// Margins within the picture: the bands never cross (t + b < H, l + r < W).
Rect ClampMargins(const Rect& m, SInt32 W, SInt32 H) {
  auto clampPair = [](SInt32 a, SInt32 b, SInt32 size, SInt32& outA, SInt32& outB) {
    a = std::max<SInt32>(a, 0);
    b = std::max<SInt32>(b, 0);
    SInt32 limit = std::max<SInt32>(size - 1, 0);
    if (a + b > limit) {
      // Shrink both in proportion so that one row or column stays.
      double k = static_cast<double>(limit) / (a + b);
      a = static_cast<SInt32>(a * k);
      b = std::min<SInt32>(static_cast<SInt32>(b * k), limit - a);
    }
    outA = a;
    outB = b;
  };
  SInt32 t, b, l, r;
  clampPair(m.top, m.bottom, H, t, b);
  clampPair(m.left, m.right, W, l, r);
  return Rect{static_cast<SInt16>(t), static_cast<SInt16>(l), static_cast<SInt16>(b), static_cast<SInt16>(r)};
}

CGAffineTransform ToCG(const MatrixRecord& m) {
  return CGAffineTransformMake(Fix2X(m.matrix[0][0]), Fix2X(m.matrix[0][1]), Fix2X(m.matrix[1][0]),
                               Fix2X(m.matrix[1][1]), Fix2X(m.matrix[2][0]), Fix2X(m.matrix[2][1]));
}

}  // namespace

CGContextRef CMovieRendering::CreateContextFromBuffer(CBuffer* inBuffer, SInt16 fieldMode) {
  if (!inBuffer || !inBuffer->GetData()) return nullptr;
  if (inBuffer->GetDepth() != kBufferDepth8) return nullptr;
  StCGColorSpaceRef space;
  CGImageAlphaInfo alpha;
  if (inBuffer->GetMode() == kBufferModeGray) {
    space.Reset(CGColorSpaceCreateDeviceGray());
    alpha = kCGImageAlphaNone;
  } else if (inBuffer->GetMode() == kBufferModeARGB) {
    space.Reset(CGColorSpaceCreateDeviceRGB());
    alpha = kCGImageAlphaNoneSkipFirst;
  } else {
    return nullptr;
  }
  SInt32 start = 0, rows = inBuffer->GetHeight(), rowBytes = inBuffer->GetRowBytes();
  switch (fieldMode) {
    case kRenderFrame:
    case kRenderFirstFieldStretch:
    case kRenderSecondFieldStretch:
      break;
    case kRenderFirstField:
    case kRenderSecondField: {
      FieldRows f = RowsOfField(inBuffer, fieldMode == kRenderSecondField);
      start = f.start;
      rows = f.count;
      rowBytes *= 2;
      break;
    }
    default:
      return nullptr;
  }
  if (rows <= 0 || inBuffer->GetWidth() <= 0) return nullptr;
  return CGBitmapContextCreate(RowOf(inBuffer, start), static_cast<size_t>(inBuffer->GetWidth()), static_cast<size_t>(rows),
                               8, static_cast<size_t>(rowBytes), space.Get(), alpha);
}

CGImageRef CMovieRendering::CreateImageFromBuffer(CBuffer* inBuffer, SInt16 fieldMode, bool interpolate,
                                                  CGImageAlphaInfo inAlpha) {
  if (!inBuffer || !inBuffer->GetData() || inBuffer->GetDepth() != kBufferDepth8) return nullptr;
  StCGColorSpaceRef space;
  size_t bitsPerPixel;
  if (inBuffer->GetMode() == kBufferModeGray) {
    space.Reset(CGColorSpaceCreateDeviceGray());
    inAlpha = kCGImageAlphaNone;
    bitsPerPixel = 8;
  } else if (inBuffer->GetMode() == kBufferModeARGB) {
    space.Reset(CGColorSpaceCreateDeviceRGB());
    bitsPerPixel = 32;
  } else {
    return nullptr;
  }
  SInt32 start = 0, rows = inBuffer->GetHeight(), rowBytes = inBuffer->GetRowBytes();
  switch (fieldMode) {
    case kRenderFrame:
      break;
    case kRenderFirstField:
    case kRenderFirstFieldStretch:
    case kRenderSecondField:
    case kRenderSecondFieldStretch: {
      bool second = fieldMode == kRenderSecondField || fieldMode == kRenderSecondFieldStretch;
      FieldRows f = RowsOfField(inBuffer, second);
      start = f.start;
      rows = f.count;
      rowBytes *= 2;
      break;
    }
    default:
      return nullptr;
  }
  if (rows <= 0 || inBuffer->GetWidth() <= 0) return nullptr;
  // The provider covers exactly the bytes the rows use, never past the buffer.
  size_t size = static_cast<size_t>(rows - 1) * static_cast<size_t>(rowBytes) +
                static_cast<size_t>(inBuffer->GetWidth()) * (bitsPerPixel / 8);
  StCGDataProviderRef provider(CGDataProviderCreateWithData(nullptr, RowOf(inBuffer, start), size, nullptr));
  return CGImageCreate(static_cast<size_t>(inBuffer->GetWidth()), static_cast<size_t>(rows), 8, bitsPerPixel,
                       static_cast<size_t>(rowBytes), space.Get(), inAlpha, provider.Get(), nullptr, interpolate,
                       kCGRenderingIntentDefault);
}

namespace {

// One image draw of a render: a context over the destination's frame or one
// of its fields, the source image and where the context's rows lie in the
// destination (row r of the context is row firstRow + rowStep * r).
struct DrawStep {
  StCGContextRef context;
  StCGImageRef image;
  CGRect rect{};
  SInt32 firstRow = 0;
  SInt32 rowStep = 1;
  SInt32 rows = 0;
};

// The draws of one render in the order they apply; at most two per field
// pass (untransformed background, then the corrected picture), two fields.
struct RenderPlan {
  DrawStep steps[4];
  SInt32 count = 0;
};

// Sets up the draw of inSource through the matrix into inDest (or one of its
// fields): the checks, context, matrix and image of the Quartz transform.
OSErr PlanQuartz(CBuffer* inSource, CBuffer* inDest, const MatrixRecord* matrix, SInt16 fieldMode, SInt32 quality,
                 CGImageAlphaInfo alpha, DrawStep& outStep) {
  if (!inSource || !inDest || !matrix) return kNil;
  const double W = inDest->GetWidth(), H = inDest->GetHeight();
  double d, ty, h;
  switch (fieldMode) {
    case kRenderFrame:
    case kRenderFirstFieldStretch:
    case kRenderSecondFieldStretch:
      d = -1.0;
      ty = H;
      h = H;
      break;
    case kRenderFirstField:
    case kRenderSecondField:
      d = -0.5;
      ty = H * 0.5;
      h = static_cast<double>(inDest->GetHeight() / 2);
      break;
    default:
      return paramErr;
  }
  bool interpolate;
  CGInterpolationQuality q;
  if (quality == kQualityLow) {
    q = kCGInterpolationLow;
    interpolate = false;
  } else if (quality == kQualityHigh) {
    q = kCGInterpolationHigh;
    interpolate = true;
  } else {
    return paramErr;
  }
  if (inSource->GetDepth() != kBufferDepth8 || inDest->GetDepth() != kBufferDepth8) return paramErr;
  StCGContextRef context(CMovieRendering::CreateContextFromBuffer(inDest, fieldMode));
  if (!context) return kNil;
  CGAffineTransform F = CGAffineTransformMake(1, 0, 0, d, 0, ty);
  CGContextConcatCTM(context.Get(), F);
  CGContextConcatCTM(context.Get(), ToCG(*matrix));
  CGContextConcatCTM(context.Get(), CGAffineTransformInvert(F));
  CGContextSetInterpolationQuality(context.Get(), q);
  CGContextSetShouldAntialias(context.Get(), true);
  StCGImageRef image(CMovieRendering::CreateImageFromBuffer(inSource, fieldMode, interpolate, alpha));
  if (!image) return kNil;
  outStep.rect = CGRectMake(0, 0, W, h);
  if (fieldMode == kRenderFirstField || fieldMode == kRenderSecondField) {
    outStep.firstRow = RowsOfField(inDest, fieldMode == kRenderSecondField).start;
    outStep.rowStep = 2;
  } else {
    outStep.firstRow = 0;
    outStep.rowStep = 1;
  }
  outStep.rows = static_cast<SInt32>(CGBitmapContextGetHeight(context.Get()));
  outStep.context = std::move(context);
  outStep.image = std::move(image);
  return noErr;
}

// Adds one field pass to the plan; answers what drawing it would answer.
OSErr PlanField(CBuffer* inSource, CBuffer* inDest, const MatrixRecord* matrix, SInt16 fieldMode, SInt32 quality,
                CGImageAlphaInfo alpha, RenderPlan& ioPlan) {
  if (ioPlan.count >= static_cast<SInt32>(std::size(ioPlan.steps))) return paramErr;
  DrawStep& step = ioPlan.steps[ioPlan.count];
  const OSErr err = PlanQuartz(inSource, inDest, matrix, fieldMode, quality, alpha, step);
  if (err == noErr) ++ioPlan.count;
  return err;
}

// The field passes of a transform, in their order: inPass(matrix, field
// mode) for each. Of two passes the second one's result is answered.
template <class Pass>
OSErr ForEachFieldPass(const RenderFrameParams* inParams, Pass&& inPass) {
  MatrixRecord first = inParams->firstMatrix, second = inParams->secondMatrix;
  if (inParams->interlaceMode == kInterlace_EvenFirst) {
    std::swap(first, second);
  } else if (inParams->interlaceMode != kInterlace_OddFirst) {
    second = first;  // progressive and anything unknown: one matrix for both
  }
  switch (inParams->fieldMode) {
    case kRenderFrame:
    case kRenderFirstField:
    case kRenderFirstFieldStretch:
      return inPass(&first, static_cast<SInt16>(inParams->fieldMode));
    case kRenderSecondField:
    case kRenderSecondFieldStretch:
      return inPass(&second, static_cast<SInt16>(inParams->fieldMode));
    case kRenderBothFields:
      (void)inPass(&first, static_cast<SInt16>(kRenderFirstField));
      return inPass(&second, static_cast<SInt16>(kRenderSecondField));
    default:
      return paramErr;
  }
}

// The draws CMovieRendering::TransformBuffer makes, in its order, with the
// result it answers.
OSErr PlanTransform(CBuffer* inSource, CBuffer* inDest, const RenderFrameParams* inParams, CGImageAlphaInfo alpha,
                    RenderPlan& ioPlan) {
  if (!inSource || !inDest || !inParams) return kNil;
  return ForEachFieldPass(inParams, [&](MatrixRecord* inMatrix, SInt16 inFieldMode) {
    return PlanField(inSource, inDest, inMatrix, inFieldMode, inParams->quality, alpha, ioPlan);
  });
}

// How the destination is prepared before the draws.
enum class EFill { kNone, kClear, kColor };

// Runs the preparation of the destination and every draw of the plan in one
// pass of row bands on the pool: each band clears or paints its rows, then
// draws them, while they are in the cache. No row depends on another's, so
// the bytes are those of the passes run one after another.
void RunPlan(CBuffer* inDest, EFill inFill, const RGBColor& inColor, const RenderPlan& inPlan) {
  const SInt32 H = inDest->GetHeight(), W = inDest->GetWidth();
  if (H <= 0 || (inFill == EFill::kNone && inPlan.count == 0)) return;
  UInt8* const base = reinterpret_cast<UInt8*>(inDest->GetData());
  const size_t rowBytes = static_cast<size_t>(inDest->GetRowBytes());
  const size_t dataSize = static_cast<size_t>(inDest->GetDataSize());
  // An owned buffer is cleared whole, row padding included; a view only in its pixels.
  const bool wholeRows = inDest->OwnsData();
  UInt32 pattern = 0;
  {
    const UInt8 px[4] = {0, static_cast<UInt8>(inColor.red >> 8), static_cast<UInt8>(inColor.green >> 8),
                         static_cast<UInt8>(inColor.blue >> 8)};
    std::memcpy(&pattern, px, 4);
  }
  auto prepareRows = [&](size_t inBegin, size_t inEnd) {
    if (inFill == EFill::kClear && wholeRows) {
      const size_t from = inBegin * rowBytes;
      const size_t to = inEnd == static_cast<size_t>(H) ? dataSize : inEnd * rowBytes;
      if (to > from) std::memset(base + from, 0, to - from);
      return;
    }
    for (size_t y = inBegin; y < inEnd; ++y) {
      UInt8* row = base + y * rowBytes;
      if (inFill == EFill::kClear) {
        std::memset(row, 0, static_cast<size_t>(W) * 4);
      } else {
        for (SInt32 x = 0; x < W; ++x) std::memcpy(row + static_cast<size_t>(x) * 4, &pattern, 4);
      }
    }
  };
  MPBandOptions options;
  options.workers = CGGetBandCountForTesting();
  options.minRunItems = 8;
  (void)MPRunBands(static_cast<size_t>(H), options, [&](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
    if (inFill != EFill::kNone) prepareRows(inBegin, inEnd);
    for (SInt32 i = 0; i < inPlan.count; ++i) {
      const DrawStep& step = inPlan.steps[i];
      // The context rows whose destination row lies in [inBegin, inEnd).
      auto firstAtOrAfter = [&](size_t inRow) -> size_t {
        const SInt64 offset = static_cast<SInt64>(inRow) - step.firstRow;
        if (offset <= 0) return 0;
        return static_cast<size_t>((offset + step.rowStep - 1) / step.rowStep);
      };
      const size_t r0 = firstAtOrAfter(inBegin);
      const size_t r1 = std::min(firstAtOrAfter(inEnd), static_cast<size_t>(step.rows));
      if (r0 < r1) CGContextDrawImageRows(step.context.Get(), step.rect, step.image.Get(), r0, r1);
    }
    return noErr;
  });
  if (inFill != EFill::kNone) inDest->SetDirty(nullptr);
}

}  // namespace

OSErr CMovieRendering::TransformBuffer_Quartz(CBuffer* inSource, CBuffer* inDest, MatrixRecord* matrix, SInt16 fieldMode,
                                              SInt32 quality, CGImageAlphaInfo alpha) {
  DrawStep step;
  const OSErr err = PlanQuartz(inSource, inDest, matrix, fieldMode, quality, alpha, step);
  if (err != noErr) return err;
  CGContextDrawImage(step.context.Get(), step.rect, step.image.Get());
  CGContextFlush(step.context.Get());
  return noErr;
}

OSErr CMovieRendering::TransformBuffer(CBuffer* inSource, CBuffer* inDest, RenderFrameParams* inParams, CGImageAlphaInfo alpha) {
  if (!inSource || !inDest || !inParams) return kNil;
  return ForEachFieldPass(inParams, [&](MatrixRecord* inMatrix, SInt16 inFieldMode) {
    return TransformBuffer_Quartz(inSource, inDest, inMatrix, inFieldMode, inParams->quality, alpha);
  });
}

OSErr CMovieRendering::PrepareAlphaMargin(CBuffer* inBuffer, Rect& margins) {
  if (!inBuffer || !inBuffer->GetData()) return kNil;
  if (!IsARGB8(inBuffer)) return paramErr;
  const SInt32 W = inBuffer->GetWidth(), H = inBuffer->GetHeight();
  Rect m = ClampMargins(margins, W, H);
  for (SInt32 y = 0; y < H; ++y) {
    UInt8* row = RowOf(inBuffer, y);
    if (y < m.top || y >= H - m.bottom) {
      for (SInt32 x = 0; x < W; ++x) row[4 * x] = 0;
      continue;
    }
    for (SInt32 x = 0; x < m.left; ++x) row[4 * x] = 0;
    for (SInt32 x = W - m.right; x < W; ++x) row[4 * x] = 0;
  }
  return noErr;
}

namespace {
std::atomic<bool> gTakeEdgeRuns{true};
}  // namespace

void CMovieRendering::SetEdgeRunsForTesting(bool inTakeRuns) {
  gTakeEdgeRuns.store(inTakeRuns, std::memory_order_relaxed);
}

OSErr CMovieRendering::InterpolateMargins(CBuffer* inBuffer) {
  if (!inBuffer || !inBuffer->GetData()) return kNil;
  if (!IsARGB8(inBuffer)) return paramErr;
  const SInt32 W = inBuffer->GetWidth(), H = inBuffer->GetHeight();
  if (W <= 0 || H <= 0) return noErr;
  static const SInt32 kStep[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
  // The walk takes a few steps for every pixel of the margins, all in this
  // loop. The base and row length live in locals: a byte store could change
  // the buffer's own fields as far as the compiler knows, and they would be
  // read again after every pixel written. A neighbour is one add away.
  UInt8* const base = reinterpret_cast<UInt8*>(inBuffer->GetData());
  const size_t rowBytes = static_cast<size_t>(inBuffer->GetRowBytes());
  auto px = [base, rowBytes](SInt32 x, SInt32 y) {
    return base + static_cast<size_t>(y) * rowBytes + 4 * static_cast<size_t>(x);
  };
  auto inside = [W, H](SInt32 x, SInt32 y) {
    return static_cast<UInt32>(x) < static_cast<UInt32>(W) && static_cast<UInt32>(y) < static_cast<UInt32>(H);
  };
  ptrdiff_t kOffset[8];
  for (SInt32 d = 0; d < 8; ++d)
    kOffset[d] = static_cast<ptrdiff_t>(kStep[d][1]) * static_cast<ptrdiff_t>(rowBytes) + 4 * kStep[d][0];
  SInt32 x = -1, y = -1;
  for (SInt32 row = 0; row < H && x < 0; ++row)
    for (SInt32 col = 0; col < W; ++col)
      if (px(col, row)[0] == 255) {
        x = col;
        y = row;
        break;
      }
  if (x < 0) return noErr;
  UInt8 fill[4];
  std::memcpy(fill, px(x, y), 4);
  auto alphaNonZero = [&](SInt32 cx, SInt32 cy) { return inside(cx, cy) && px(cx, cy)[0] != 0; };
  SInt32 dir = 0;
  if (alphaNonZero(x + 1, y)) dir = 2;
  else if (alphaNonZero(x, y + 1)) dir = 0;
  else if (alphaNonZero(x + 1, y + 1)) dir = 1;
  else if (alphaNonZero(x - 1, y + 1)) dir = 7;
  SInt32 passes = 0, fills = 0;
  // Every step either takes a pixel or moves along the border; this bound is
  // far above what a walk can need and only guards against damaged state.
  SInt64 budget = 16 * static_cast<SInt64>(W) * H + 64 * static_cast<SInt64>(W + H) + 64;
  // Most steps go round the picture's edge and fill nothing. On the top
  // edge, heading right (direction 7), such a step finds three opaque
  // pixels in the row below and an opaque next pixel on the edge, carries
  // their colours and moves on; the other edges alike, each with its own
  // direction. A run of these steps is taken at once, up to a corner or a
  // pixel that is not opaque, leaving the colour of the last pixel reached.
  // runRoom: how many edge positions such a run may cover from (x, y).
  const bool roomy = W >= 3 && H >= 3 && gTakeEdgeRuns.load(std::memory_order_relaxed);
  auto runRoom = [&]() -> SInt32 {
    if (!roomy) return 0;
    if (dir == 7 && y == 0 && x >= 1 && x <= W - 2) return W - 1 - x;
    if (dir == 5 && x == W - 1 && y >= 1 && y <= H - 2) return H - 1 - y;
    if (dir == 3 && y == H - 1 && x >= 1 && x <= W - 2) return x;
    if (dir == 1 && x == 0 && y >= 1 && y <= H - 2) return y;
    return 0;
  };
  while (budget-- > 0) {
    bool toBorder = false;
    bool moved = false;
    UInt8* const here = px(x, y);
    if (const SInt32 room = runRoom(); room > 0) {
      const ptrdiff_t o0 = kOffset[dir], o1 = kOffset[(dir + 1) & 7], o2 = kOffset[(dir + 2) & 7];
      const ptrdiff_t along = kOffset[(dir + 3) & 7];
      // This step and up to `budget` more.
      const SInt64 limit = std::min<SInt64>(room, budget + 1);
      const UInt8* p = here;
      SInt64 steps = 0;
      while (steps < limit && p[o0] == 255 && p[o1] == 255 && p[o2] == 255 && p[along] == 255) {
        p += along;
        ++steps;
      }
      if (steps > 0) {
        std::memcpy(fill, p, 4);
        budget -= steps - 1;
        const SInt32 n = static_cast<SInt32>(steps);
        x += n * kStep[(dir + 3) & 7][0];
        y += n * kStep[(dir + 3) & 7][1];
        continue;
      }
    }
    for (SInt32 k = 0; k <= 6; ++k) {
      const SInt32 d = (dir + k) & 7;
      const SInt32 nx = x + kStep[d][0], ny = y + kStep[d][1];
      if (!inside(nx, ny)) {
        toBorder = true;
        break;
      }
      UInt8* n = here + kOffset[d];
      if (n[0] == 255) {
        std::memcpy(fill, n, 4);
        if (k == 6) return noErr;
        continue;
      }
      std::memcpy(n, fill, 4);
      x = nx;
      y = ny;
      ++fills;
      dir = (dir + k + 5) & 7;
      moved = true;
      break;
    }
    if (moved) continue;
    if (!toBorder) return noErr;
    if (x == 0 && y == 0) {
      if (passes > 0 && fills == 0) return noErr;
      ++passes;
      fills = 0;
    }
    if (x == W - 1 && y < H - 1) {
      ++y;
      dir = 5;
    } else if (y > 0 && x == 0) {
      --y;
      dir = 1;
    } else if (y == 0 && x < W - 1) {
      ++x;
      dir = 7;
    } else if (y == H - 1 && x > 0) {
      --x;
      dir = 3;
    } else {
      return noErr;
    }
  }
  return noErr;
}

OSErr CMovieRendering::RenderFrame(CBuffer* inSource, CBuffer* inDest, RenderFrameParams* inParams) {
  if (!inSource || !inDest || !inParams) return kNil;
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  GetGWorld(&savedPort, &savedDevice);
  PenState savedPen;
  GetPenState(&savedPen);
  OSErr err = noErr;
  try {
    // The destination's preparation and every draw run as one banded pass;
    // a destination other than 8-bit ARGB is prepared on its own first.
    const bool banded = IsARGB8(inDest) && inDest->GetData() != nullptr;
    // The border colour fills every byte of the destination, so only the other
    // modes need the destination cleared first.
    EFill fill = inParams->borderMode == kBorderColor ? EFill::kColor : EFill::kClear;
    if (!banded && fill == EFill::kClear) {
      inDest->Clear();
      fill = EFill::kNone;
    }
    RenderPlan plan;
    Rect margins = inParams->margins;
    switch (inParams->borderMode) {
      case kBorderTransparent:
        PrepareAlphaMargin(inSource, margins);
        err = PlanTransform(inSource, inDest, inParams, kCGImageAlphaPremultipliedFirst, plan);
        break;
      case kBorderColor:
        if (!banded) {
          err = inDest->Erase(&inParams->borderColor, nullptr, nullptr, nullptr, nullptr);
          if (err != noErr) inDest->Clear();
          fill = EFill::kNone;
        }
        if (err == noErr) {
          PrepareAlphaMargin(inSource, margins);
          err = PlanTransform(inSource, inDest, inParams, kCGImageAlphaFirst, plan);
        }
        break;
      case kBorderUntransformed: {
        // The untransformed picture ignores the source's alpha, so the margin
        // preparation may come before it.
        RenderFrameParams plain = *inParams;
        SetIdentityMatrix(&plain.firstMatrix);
        SetIdentityMatrix(&plain.secondMatrix);
        PrepareAlphaMargin(inSource, margins);
        (void)PlanTransform(inSource, inDest, &plain, kCGImageAlphaNoneSkipFirst, plan);
        err = PlanTransform(inSource, inDest, inParams, kCGImageAlphaFirst, plan);
        break;
      }
      case kBorderFilled:
        PrepareAlphaMargin(inSource, margins);
        err = PlanTransform(inSource, inDest, inParams, kCGImageAlphaPremultipliedFirst, plan);
        break;
      default:
        // An unknown border mode would leave a blank frame: say so.
        err = paramErr;
        break;
    }
    RunPlan(inDest, fill, inParams->borderColor, plan);
    if (inParams->borderMode == kBorderFilled && err == noErr) {
      if (inParams->fieldMode == kRenderBothFields) {
        for (bool second : {false, true}) {
          StBufferOwner view(second ? CBuffer::CreateFromBuffer_Even(inDest) : CBuffer::CreateFromBuffer_Odd(inDest));
          if (!view) {
            err = kNil;
            break;
          }
          err = InterpolateMargins(view.get());
          if (err != noErr) break;
        }
      } else if (inParams->fieldMode == kRenderFrame || inParams->fieldMode == kRenderFirstFieldStretch ||
                 inParams->fieldMode == kRenderSecondFieldStretch) {
        err = InterpolateMargins(inDest);
      } else {
        err = paramErr;
      }
    }
  } catch (const LException& e) {
    err = ErrorCodeToOSErr(e.GetErrorCode());
  }
  SetPenState(&savedPen);
  SetGWorld(savedPort, savedDevice);
  return err;
}

bool CMovieRendering::GetVideoSample(Movie inMovie, SInt32 inTime, Handle outData,
                                     SampleDescriptionHandle outDescription, SInt32* outDescriptionIndex,
                                     SInt16* outSampleFlags) {
  if (!inMovie) return false;
  SInt32 count = GetMovieTrackCount(inMovie);
  if (count <= 0) return false;
  SInt32 found = 0;
  for (SInt32 i = 1; i <= count; ++i) {
    Track t = GetMovieIndTrack(inMovie, i);
    if (!t || !GetTrackEnabled(t)) continue;
    Media m = GetTrackMedia(t);
    if (!m) continue;
    OSType type = 0;
    GetMediaHandlerDescription(m, &type, nullptr, nullptr);
    if (type != 'vide') continue;
    TimeValue mediaTime = TrackTimeToMediaTime(inTime, t);
    if (mediaTime < 0) continue;
    if (GetMediaSample(m, outData, 0, nullptr, mediaTime, nullptr, nullptr, outDescription, outDescriptionIndex, 1,
                       nullptr, outSampleFlags) == noErr)
      ++found;
  }
  return found == 1;
}

bool CMovieRendering::GetInterlaceInfo(Media inMedia, SInt32* outFields, SInt32* outDetail) {
  if (!inMedia) return false;
  Handle desc = NewHandle(0);
  if (!desc) return false;
  GetMediaSampleDescription(inMedia, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
  Handle ext = nullptr;
  bool ok = GetMoviesError() == noErr && GetHandleSize(desc) >= static_cast<SInt32>(sizeof(ImageDescription)) &&
            GetImageDescriptionExtension(reinterpret_cast<ImageDescriptionHandle>(desc), &ext, 'fiel', 1) == noErr &&
            ext && GetHandleSize(ext) >= 2;
  if (ok) {
    if (outFields) *outFields = static_cast<UInt8>((*ext)[0]);
    if (outDetail) *outDetail = static_cast<UInt8>((*ext)[1]);
  }
  DisposeHandle(ext);
  DisposeHandle(desc);
  return ok;
}

OSErr CMovieRendering::PaintMarginWithColor(CBuffer* inBuffer, const RGBColor& color) {
  if (!inBuffer || !inBuffer->GetData()) return kNil;
  if (!IsARGB8(inBuffer)) return paramErr;
  const UInt8 px[4] = {255, static_cast<UInt8>(color.red >> 8), static_cast<UInt8>(color.green >> 8),
                       static_cast<UInt8>(color.blue >> 8)};
  for (SInt32 y = 0; y < inBuffer->GetHeight(); ++y) {
    UInt8* row = RowOf(inBuffer, y);
    for (SInt32 x = 0; x < inBuffer->GetWidth(); ++x)
      if (row[4 * x] != 255) std::memcpy(row + 4 * x, px, 4);
  }
  return noErr;
}

OSErr CMovieRendering::CopyMargin(CBuffer* inSource, CBuffer* inDest) {
  if (!inSource || !inDest || !inSource->GetData() || !inDest->GetData()) return kNil;
  if (!IsARGB8(inSource) || !IsARGB8(inDest)) return paramErr;
  const SInt32 W = std::min(inSource->GetWidth(), inDest->GetWidth()), H = std::min(inSource->GetHeight(), inDest->GetHeight());
  for (SInt32 y = 0; y < H; ++y) {
    const UInt8* s = RowOf(inSource, y);
    UInt8* d = RowOf(inDest, y);
    for (SInt32 x = 0; x < W; ++x)
      if (d[4 * x] != 255) std::memcpy(d + 4 * x, s + 4 * x, 4);
  }
  return noErr;
}

OSErr CMovieRendering::EraseMargins(CBuffer* inBuffer, Rect& margins) {
  if (!inBuffer || !inBuffer->GetData()) return kNil;
  if (!IsARGB8(inBuffer)) return paramErr;
  const SInt32 W = inBuffer->GetWidth(), H = inBuffer->GetHeight();
  Rect m = ClampMargins(margins, W, H);
  for (SInt32 y = 0; y < H; ++y) {
    UInt8* row = RowOf(inBuffer, y);
    for (SInt32 x = 0; x < W; ++x) {
      // Opaque, then faded towards the edge within each band.
      double f = 1.0;
      if (y < m.top) f *= static_cast<double>(y) / m.top;
      if (y >= H - m.bottom) f *= static_cast<double>(H - 1 - y) / m.bottom;
      if (x < m.left) f *= static_cast<double>(x) / m.left;
      if (x >= W - m.right) f *= static_cast<double>(W - 1 - x) / m.right;
      row[4 * x] = static_cast<UInt8>(255.0 * f + 0.5);
    }
  }
  return noErr;
}

OSErr CMovieRendering::SetAlphaValue(CBuffer* inBuffer, UInt8 alpha, const Rect* inRect) {
  if (!inBuffer || !inBuffer->GetData()) return kNil;
  if (!IsARGB8(inBuffer)) return paramErr;
  const Rect& bounds = inBuffer->GetBounds();
  Rect area = bounds;
  if (inRect) {
    area.top = std::max(bounds.top, inRect->top);
    area.left = std::max(bounds.left, inRect->left);
    area.bottom = std::min(bounds.bottom, inRect->bottom);
    area.right = std::min(bounds.right, inRect->right);
  }
  for (SInt32 y = area.top; y < area.bottom; ++y) {
    UInt8* row = RowOf(inBuffer, y - bounds.top);
    for (SInt32 x = area.left; x < area.right; ++x) row[4 * (x - bounds.left)] = alpha;
  }
  return noErr;
}

OSErr CMovieRendering::CopyAlphaToChannels(CBuffer* inSource, CBuffer* inDest, const Rect* inRect) {
  if (!inSource || !inDest || !inSource->GetData() || !inDest->GetData()) return kNil;
  if (!IsARGB8(inSource) || !IsARGB8(inDest)) return paramErr;
  const Rect& sb = inSource->GetBounds();
  const Rect& db = inDest->GetBounds();
  Rect area{std::max(sb.top, db.top), std::max(sb.left, db.left), std::min(sb.bottom, db.bottom),
            std::min(sb.right, db.right)};
  if (inRect) {
    area.top = std::max(area.top, inRect->top);
    area.left = std::max(area.left, inRect->left);
    area.bottom = std::min(area.bottom, inRect->bottom);
    area.right = std::min(area.right, inRect->right);
  }
  for (SInt32 y = area.top; y < area.bottom; ++y) {
    const UInt8* s = RowOf(inSource, y - sb.top);
    UInt8* d = RowOf(inDest, y - db.top);
    for (SInt32 x = area.left; x < area.right; ++x) {
      UInt8 a = s[4 * (x - sb.left)];
      UInt8* p = d + 4 * (x - db.left);
      p[1] = p[2] = p[3] = a;
    }
  }
  return noErr;
}

OSErr CMovieRendering::ShowCorrelation(CBuffer* inBuffer, float first, float second) {
  if (!inBuffer) return kNil;
  StCGContextRef context(CreateContextFromBuffer(inBuffer, kRenderFrame));
  if (!context) return kNil;
  CGContextRef c = context.Get();
  const double W = inBuffer->GetWidth(), H = inBuffer->GetHeight();
  const double cx = W * 0.5, top = H - 12;
  CGContextSetRGBFillColor(c, 1, 0, 0, 0.5);
  CGContextFillRect(c, CGRectMake(cx, top, first * 200.0, 4));
  CGContextFillRect(c, CGRectMake(cx, top - 6, second * 200.0, 4));
  CGContextSetRGBFillColor(c, 1, 1, 1, 1);
  for (double x : {cx - 100, cx, cx + 100}) CGContextFillRect(c, CGRectMake(x, top - 8, 1, 14));
  CGContextFlush(c);
  return noErr;
}
