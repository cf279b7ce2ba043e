#include "app/CMovieView.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/UNavigationMenu.h"
#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieRendering.h"
#include "media/UBufferWarp.h"
#include "motion/CMotionData.h"
#include "platform/base/Clock.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UTextTraits.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UNewTextDrawing.h"

RGBColor CMovieView::sSafeBoundsColor = {65535, 0, 0};
RGBColor CMovieView::sTVSafeColor = {0, 65535, 0};
RGBColor CMovieView::sTitleSafeColor = {0, 0, 65535};
RGBColor CMovieView::sROIColor = {0, 0, 65535};

namespace {

constexpr UInt32 kCollapsedRedrawTicks = 60;
constexpr UInt32 kScrubReportTicks = 6;
constexpr SInt16 kHandleHalf = 4;

SInt32 EvenTowardZero(SInt32 inValue) { return inValue - inValue % 2; }

// An offset rounded down to an even number (lowest bit cleared).
SInt32 EvenDown(SInt32 inValue) { return inValue & ~1; }

// The rectangle pushed back inside the bounds (right edge first, else left;
// bottom first, else top).
Rect KeepInside(Rect inRect, const Rect& inBounds) {
  if (inRect.right > inBounds.right)
    OffsetRect(&inRect, static_cast<SInt16>(inBounds.right - inRect.right), 0);
  else if (inRect.left < inBounds.left)
    OffsetRect(&inRect, static_cast<SInt16>(inBounds.left - inRect.left), 0);
  if (inRect.bottom > inBounds.bottom)
    OffsetRect(&inRect, 0, static_cast<SInt16>(inBounds.bottom - inRect.bottom));
  else if (inRect.top < inBounds.top)
    OffsetRect(&inRect, 0, static_cast<SInt16>(inBounds.top - inRect.top));
  return inRect;
}

// Copies a C string into a 256-byte buffer, cut at a UTF-8 character
// boundary so that it always fits with its terminator.
void CopyBounded(char (&outText)[256], const char* inText) {
  size_t length = inText ? std::strlen(inText) : 0;
  if (length > 255) {
    length = 255;
    while (length > 0 && (static_cast<unsigned char>(inText[length]) & 0xC0) == 0x80) --length;
  }
  if (length) std::memcpy(outText, inText, length);
  outText[length] = 0;
}

// The pixels of a 32-bit A,R,G,B port.
struct PortPixels {
  UInt8* base = nullptr;
  SInt32 rowBytes = 0;
  Rect bounds = {0, 0, 0, 0};
};

Boolean GetPortPixels(CGrafPtr inPort, PortPixels& outPixels) {
  PixMapHandle pm = inPort ? GetPortPixMap(inPort) : nullptr;
  if (!pm || !*pm || !(*pm)->baseAddr || (*pm)->pixelSize != 32) return false;
  outPixels.base = reinterpret_cast<UInt8*>((*pm)->baseAddr);
  outPixels.rowBytes = QTGetPixMapHandleRowBytes(pm);
  outPixels.bounds = (*pm)->bounds;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

SInt32 CenteredScrollPosition(SInt32 inImageSize, SInt32 inFrameSize, SInt32 inScrollPos) {
  if (inImageSize == 0) return 0;
  if (inImageSize < inFrameSize) return (inImageSize - inFrameSize) / 2;
  if (inScrollPos < 0) return 0;
  if (inScrollPos + inFrameSize > inImageSize) return inImageSize - inFrameSize;
  return inScrollPos;
}

CMovieView::CMovieView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo) : LView(inPaneInfo, inViewInfo) {
  InitMovieView();
}

CMovieView::CMovieView(LStream* inStream) : LView(inStream) { InitMovieView(); }

void CMovieView::InitMovieView() { mPoll.view = this; }

CMovieView::~CMovieView() {
  UMouseTracking::End(this);
  mPoll.StopRepeating();
  DetachMovie();
  if (mBuffer) mBuffer->Release();
  mBuffer = nullptr;
  if (mRendered) mRendered->Release();
  mRendered = nullptr;
}

QWidget* CMovieView::MakeWidget(QWidget* inParent) { return UMouseTracking::MakeHostWidget(this, this, inParent); }

void CMovieView::FinishCreateSelf() {
  LView::FinishCreateSelf();
  AdjustImageSize(false);
  AdjustImagePosition(false);
}

// ---- What the view shows

void CMovieView::ForgetDeletedMovie() {
  // A movie deleted while attached has already let go of its listeners.
  if (mMovie && !HasBroadcaster(mMovie)) mMovie = nullptr;
}

void CMovieView::DetachMovie() {
  ForgetDeletedMovie();
  if (!mMovie) return;
  mMovie->RemoveListener(this);
  if (mMovie->GetView() == this) mMovie->SetView(nullptr);
  mMovie = nullptr;
}

void CMovieView::UseMovie(CMovie* inMovie) {
  DetachMovie();
  if (mBuffer) mBuffer->Release();
  mBuffer = nullptr;
  if (inMovie) {
    mMovie = inMovie;
    // Only a view inside a window has a port; MovieHasChanged attaches it later.
    if (Movie movie = inMovie->GetMovie(); movie && GetMacPort()) SetMovieGWorld(movie, GetMacPort(), nullptr);
    inMovie->AddListener(this);
    Rect bounds;
    inMovie->GetDisplayBounds(bounds);
    OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
    SetOrigRect(&bounds);
    inMovie->SetView(this);
  }
  Refresh();
}

void CMovieView::UseOffscreenBuffer(CBuffer* inBuffer) {
  DetachMovie();
  if (inBuffer) inBuffer->Retain();
  if (mBuffer) mBuffer->Release();
  mBuffer = inBuffer;
  Refresh();
}

void CMovieView::MovieHasChanged(Boolean inRefresh) {
  ForgetDeletedMovie();
  if (!mMovie) return;
  if (Movie movie = mMovie->GetMovie(); movie && GetMacPort()) SetMovieGWorld(movie, GetMacPort(), nullptr);
  Rect bounds;
  mMovie->GetDisplayBounds(bounds);
  OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
  SetOrigRect(&bounds);
  AdjustImagePosition(inRefresh);
}

void CMovieView::SetOrigRect(Rect* inRect) {
  if (!inRect) return;
  mOrigRect = *inRect;
  AdjustImageSize(false);
  AdjustImagePosition(false);
  FrameSizeChanged();
  Refresh();
}

void CMovieView::GetOrigRect(Rect* outRect) {
  if (outRect) *outRect = mOrigRect;
}

void CMovieView::SetFrameParams(RenderFrameParams& inParams, Boolean inRefresh) {
  mFrameParams = inParams;
  if (inRefresh) Refresh();
}

void CMovieView::SetDrawingOptions(SInt32 inSet, SInt32 inClear, Boolean inRefresh) {
  mDrawingOptions = (mDrawingOptions | static_cast<UInt32>(inSet)) & ~static_cast<UInt32>(inClear);
  if (inRefresh) Refresh();
}

void CMovieView::SetROIRect(Rect inRect) {
  mROI = inRect;
  BroadcastMessage(msg_ROIChanged, &mROI);
  if (mDrawingOptions & kDrawROI) Refresh();
}

void CMovieView::SetInfoString(const char* inText, Boolean /*inRefresh*/) { CopyBounded(mInfo, inText); }

void CMovieView::ListenToMessage(MessageT inMessage, void* /*ioParam*/) {
  if (inMessage == msg_MovieFrameDrawn && mMovie && FocusDraw()) {
    DrawOverlaySafely();
    UpdatePort();
  }
}

// ---- Fitting and placing

void CMovieView::AdjustImageSize(Boolean inRefresh) {
  const SInt32 srcWidth = mOrigRect.right - mOrigRect.left;
  const SInt32 srcHeight = mOrigRect.bottom - mOrigRect.top;
  SInt32 width = 0, height = 0;
  if (srcWidth > 0 && srcHeight > 0) {
    // No picture yet (or a sound-only movie) leaves an empty image and the zoom as it was.
    const double zoom = std::min(static_cast<double>(mWidth) / srcWidth, static_cast<double>(mHeight) / srcHeight);
    width = static_cast<SInt32>(srcWidth * zoom);
    height = static_cast<SInt32>(srcHeight * zoom);
    mZoom = static_cast<float>(zoom);
  }
  ResizeImageTo(width, height, false);
  if (inRefresh) Refresh();
}

void CMovieView::AdjustImagePosition(Boolean inRefresh) {
  const SInt32 h = CenteredScrollPosition(mImageSize.width, mWidth, mScrollPos.h);
  const SInt32 v = CenteredScrollPosition(mImageSize.height, mHeight, mScrollPos.v);
  if (h != mScrollPos.h || v != mScrollPos.v) ScrollImageTo(h, v, false);
  if (inRefresh) Refresh();
}

void CMovieView::FrameSizeChanged() {
  ForgetDeletedMovie();
  if (!mMovie || !mMovie->GetMovie()) return;
  Rect box = GetImagePortRect();
  SetMovieBox(mMovie->GetMovie(), &box);
}

void CMovieView::ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) {
  LView::ResizeFrameBy(inWidthDelta, inHeightDelta, false);
  AdjustImageSize(false);
  AdjustImagePosition(inRefresh);
  FrameSizeChanged();
  if (inRefresh) Refresh();
}

void CMovieView::MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh) {
  LView::MoveBy(inHorizDelta, inVertDelta, false);
  AdjustImageSize(false);
  AdjustImagePosition(false);
  FrameSizeChanged();
  if (inRefresh) Refresh();
}

void CMovieView::AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh) {
  LView::AdaptToSuperFrameSize(inSurrWidthDelta, inSurrHeightDelta, false);
  AdjustImageSize(false);
  AdjustImagePosition(false);
  FrameSizeChanged();
  if (inRefresh) Refresh();
}

Rect CMovieView::GetImagePortRect() const {
  SPoint32 image = GetImageLocation();
  return MakeRect(image.v, image.h, image.v + mImageSize.height, image.h + mImageSize.width);
}

void CMovieView::Orig2Local(Rect* ioRect) {
  Rect image = GetImagePortRect();
  if (EmptyRect(&mOrigRect)) return;
  MapRect(ioRect, &mOrigRect, &image);
}

void CMovieView::Local2Orig(Rect* ioRect) {
  Rect image = GetImagePortRect();
  if (EmptyRect(&image) || EmptyRect(&mOrigRect)) return;
  MapRect(ioRect, &image, &mOrigRect);
}

void CMovieView::Orig2Local(Point* ioPoint) {
  Rect image = GetImagePortRect();
  if (EmptyRect(&mOrigRect)) return;
  MapPt(ioPoint, &mOrigRect, &image);
}

void CMovieView::Local2Orig(Point* ioPoint) {
  Rect image = GetImagePortRect();
  if (EmptyRect(&image) || EmptyRect(&mOrigRect)) return;
  MapPt(ioPoint, &image, &mOrigRect);
}

// ---- Drawing

void CMovieView::DrawSelf() {
  if (UMouseTracking::IsWindowCollapsed(GetWindow())) {
    const UInt32 now = TickCount();
    if (now - mLastCollapsedDraw < kCollapsedRedrawTicks) return;
    mLastCollapsedDraw = now;
  }
  Rect frame;
  CalcLocalFrameRect(frame);
  Rect image = GetImagePortRect();
  RgnHandle outside = NewRgn();
  RgnHandle inside = NewRgn();
  RectRgn(outside, &frame);
  RectRgn(inside, &image);
  DiffRgn(outside, inside, outside);
  const RGBColor grey = {0x5555, 0x5555, 0x5555};
  RGBForeColor(&grey);
  PaintRgn(outside);
  DisposeRgn(outside);
  DisposeRgn(inside);
  const RGBColor black = {0, 0, 0};
  RGBForeColor(&black);

  ForgetDeletedMovie();
  if (mMovie) {
    if (Movie movie = mMovie->GetMovie()) {
      // A movie attached before the view was in a window still draws into
      // its own offscreen world: point it at the window on the first draw.
      CGrafPtr port = nullptr;
      GetMovieGWorld(movie, &port, nullptr);
      if (GetMacPort() && port != GetMacPort()) MovieHasChanged(false);
      // The frame is drawn now, not at the movie's next task: a port made
      // anew (the window changed size) would otherwise be shown with its
      // erase colour, or an old picture, until then.
      UpdateMovie(movie);
      MoviesTask(movie, 0);
      DrawOverlaySafely();
    }
    return;
  }
  if (!mBuffer) return;
  CBuffer* rendered = nullptr;
  try {
    // The frame the renderer fills; kept while the still keeps its bounds,
    // so that playback does not allocate a picture per frame.
    const Rect stillBounds = mBuffer->GetBounds();
    if (mRendered && !EqualRect(&mRendered->GetBounds(), &stillBounds)) {
      mRendered->Release();
      mRendered = nullptr;
    }
    if (!mRendered) mRendered = new CBuffer(stillBounds, kBufferDepth8, kBufferModeARGB);
    rendered = mRendered;
    rendered->Retain();
    ThrowIfOSErr_(CMovieRendering::RenderFrame(mBuffer, rendered, &mFrameParams));
    ++mRenderCount;
    MatrixRecord matrix;
    Rect bounds = rendered->GetBounds();
    RectMatrix(&matrix, &bounds, &image);
    DrawBufferWithMatrix(rendered, &matrix, GetMacPort());
    DrawOverlaySafely();
  } catch (...) {
    // The view keeps what it showed before.
    LogCurrentException("view", "RenderFrame");
  }
  if (rendered) rendered->Release();
}

void CMovieView::DrawBufferWithMatrix(CBuffer* inBuffer, MatrixRecord* inMatrix, CGrafPtr inPort) {
  try {
    ThrowIfNil_(inBuffer);
    ThrowIfNil_(inMatrix);
    ThrowIfNil_(inBuffer->GetData());
    if (inBuffer->GetDepth() != kBufferDepth8 || inBuffer->GetMode() != kBufferModeARGB) Throw_(paramErr);
    PortPixels port;
    if (!GetPortPixels(inPort, port)) Throw_(err_NilPointer);
    // Clip: the image rectangle, the pane's frame and the port.
    Rect clip = GetImagePortRect();
    Rect frame;
    CalcLocalFrameRect(frame);
    if (!SectRect(&clip, &frame, &clip) || !SectRect(&clip, &port.bounds, &clip)) return;
    UBufferWarp::Draw(*inBuffer, *inMatrix, UBufferWarp::SPixels{port.base, port.rowBytes, port.bounds}, clip,
                      mFrameParams.quality >= kQualityHigh);
  } catch (...) {
    // Whatever was drawn stays; nothing escapes into the event loop.
    LogCurrentException("view", "DrawBufferWithMatrix");
  }
}

void CMovieView::DrawInfo() {
  if (mInfo[0] == 0) return;
  STextTraits traits;
  UTextTraits::Load(Txtr_MovieInfo, traits);
  TextFont(systemFont);
  TextSize(traits.size ? traits.size : 10);
  TextFace(traits.face);
  RGBColor color = {traits.red, traits.green, traits.blue};
  RGBForeColor(&color);
  Rect image = GetImagePortRect();
  Rect box = MakeRect(image.top + 4, image.left + 4, image.bottom + 4, image.right + 4);
  FontInfo info;
  GetFontInfo(&info);
  const SInt16 lineHeight = static_cast<SInt16>(info.ascent + info.descent + info.leading);
  SInt32 y = box.top + info.ascent;
  const char* line = mInfo;
  while (*line && y < box.bottom) {
    const char* end = std::strchr(line, '\r');
    const char* nl = std::strchr(line, '\n');
    if (!end || (nl && nl < end)) end = nl;
    if (!end) end = line + std::strlen(line);
    MoveTo(box.left, static_cast<SInt16>(y));
    DrawText(line, 0, static_cast<SInt16>(end - line));
    y += lineHeight;
    line = *end ? end + 1 : end;
  }
}

void CMovieView::DrawOverlay() {
  StDrawContextState saved;
  PenState pen;
  GetPenState(&pen);
  PenNormal();
  mOverlayDrawn = true;
  DrawInfo();
  if (mDrawingOptions & kDrawSafeBounds) {
    ThrowIfNil_(mMotionData);
    Rect safe = mMotionData->GetSafeBounds();
    if (!EmptyRect(&safe)) {
      Rect bounds = mMotionData->GetBounds();
      OffsetRect(&bounds, static_cast<SInt16>(-bounds.left), static_cast<SInt16>(-bounds.top));
      if (!EmptyRect(&bounds)) MapRect(&safe, &bounds, &mOrigRect);
      Orig2Local(&safe);
      PenMode(patCopy);
      RGBForeColor(&sSafeBoundsColor);
      FrameRect(&safe);
    } else if (!(safe.top == -1 && safe.left == -1 && safe.bottom == -1 && safe.right == -1)) {
      char text[256];
      ULocalization::GetString(text, STRx_MovieView, 1);
      TextFace(bold);
      RGBForeColor(&sSafeBoundsColor);
      Rect frame;
      CalcLocalFrameRect(frame);
      Rect measured;
      UNewTextDrawing::MeasureWithJustification(text, static_cast<SInt32>(std::strlen(text)), frame, 1, measured, 0);
      const SInt16 w = static_cast<SInt16>(measured.right - measured.left);
      const SInt16 h = static_cast<SInt16>(measured.bottom - measured.top + 16);
      Rect centred = MakeRect(frame.top + (frame.bottom - frame.top - h) / 2, frame.left + (frame.right - frame.left - w) / 2,
                              0, 0);
      centred.bottom = static_cast<SInt16>(centred.top + h);
      centred.right = static_cast<SInt16>(centred.left + w);
      FontInfo info;
      GetFontInfo(&info);
      MoveTo(centred.left, static_cast<SInt16>(centred.top + info.ascent));
      DrawText(text, 0, static_cast<SInt16>(std::strlen(text)));
      TextFace(normal);
    }
  }
  if (mDrawingOptions & kDrawTVSafe) {
    Rect r;
    CMotionData::CalcTVSafeBounds(mOrigRect, r);
    Orig2Local(&r);
    PenMode(patXor);
    RGBForeColor(&sTVSafeColor);
    FrameRect(&r);
  }
  if (mDrawingOptions & kDrawTitleSafe) {
    Rect r;
    CMotionData::CalcTitleSafeBounds(mOrigRect, r);
    Orig2Local(&r);
    PenMode(patXor);
    RGBForeColor(&sTitleSafeColor);
    FrameRect(&r);
  }
  if (mDrawingOptions & kDrawROI) {
    Rect r = mROI;
    Orig2Local(&r);
    PenMode(patCopy);
    RGBForeColor(&sROIColor);
    FrameRect(&r);
  }
  SetPenState(&pen);
}

void CMovieView::DrawOverlaySafely() {
  try {
    DrawOverlay();
  } catch (...) {
    // No motion data yet (or any other drawing failure): the picture stays
    // without that overlay, and the event loop never sees the failure.
    LogCurrentException("view", "DrawOverlay");
  }
}

// ---- Hot spots and cursors

SInt16 CMovieView::FindInterestingPoint(Point inPoint, Rect inROI, RgnHandle outRegion) {
  const SInt32 T = inROI.top, L = inROI.left, B = inROI.bottom, R = inROI.right, k = kHandleHalf;
  struct Spot {
    SInt16 code;
    Rect rect;
  };
  const Spot spots[] = {
      {kHotSpotLeft, MakeRect(T + k, L - k, B - k, L + k)},       {kHotSpotTop, MakeRect(T - k, L + k, T + k, R - k)},
      {kHotSpotRight, MakeRect(T + k, R - k, B - k, R + k)},      {kHotSpotBottom, MakeRect(B - k, L + k, B + k, R - k)},
      {kHotSpotTopLeft, MakeRect(T - k, L - k, T + k, L + k)},    {kHotSpotTopRight, MakeRect(T - k, R - k, T + k, R + k)},
      {kHotSpotBottomRight, MakeRect(B - k, R - k, B + k, R + k)}, {kHotSpotBottomLeft, MakeRect(B - k, L - k, B + k, L + k)},
      {kHotSpotInside, MakeRect(T + k, L + k, B - k, R - k)},
  };
  for (const Spot& spot : spots) {
    if (PtInRect(inPoint, &spot.rect)) {
      if (outRegion) RectRgn(outRegion, &spot.rect);
      return spot.code;
    }
  }
  if (outRegion) {
    Rect frame;
    CalcLocalFrameRect(frame);
    RectRgn(outRegion, &frame);
    RgnHandle corner = NewRgn();
    for (int i = 4; i < 8; ++i) {
      RectRgn(corner, &spots[i].rect);
      DiffRgn(outRegion, corner, outRegion);
    }
    DisposeRgn(corner);
  }
  return kHotSpotNone;
}

void CMovieView::SetCursorID(SInt16 inID) {
  mCursorID = inID;
  switch (inID) {
    case kThemeArrowCursor: UCursor::Set(cursor_Arrow); break;
    case kThemeOpenHandCursor: UCursor::Set(cursor_OpenHand); break;
    case kThemeClosedHandCursor: UCursor::Set(cursor_ClosedHand); break;
    case kThemeResizeLeftCursor: UCursor::Set(cursor_ResizeLeft); break;
    case kThemeResizeRightCursor: UCursor::Set(cursor_ResizeRight); break;
    case kThemeResizeLeftRightCursor: UCursor::Set(cursor_ResizeLeftRight); break;
    case kHotSpotLeft:
    case kHotSpotRight: UCursor::Set(cursor_ResizeLeftRight); break;
    default: UCursor::Set(cursor_Cross); break;  // the corner and top/bottom handles
  }
}

void CMovieView::AdjustMouseSelf(Point inPortPt, const EventRecord& inMacEvent, MacRegion* outMouseRgn) {
  Rect image = GetImagePortRect();
  if (PtInRect(inPortPt, &image) && (mDrawingOptions & kDrawROI) && !(inMacEvent.modifiers & controlKey)) {
    Rect roi = mROI;
    Orig2Local(&roi);
    const SInt16 spot = FindInterestingPoint(inPortPt, roi, outMouseRgn);
    SetCursorID(spot == kHotSpotInside ? kThemeOpenHandCursor : spot == kHotSpotNone ? kThemeArrowCursor : spot);
    return;
  }
  SetCursorID(kThemeArrowCursor);
  if (outMouseRgn) {
    Rect frame;
    CalcLocalFrameRect(frame);
    RgnHandle inside = NewRgn();
    RectRgn(outMouseRgn, &frame);
    RectRgn(inside, &image);
    DiffRgn(outMouseRgn, inside, outMouseRgn);
    DisposeRgn(inside);
  }
}

// ---- Clicks and drags

void CMovieView::ClickSelf(const SMouseDownEvent& inMouseDown) {
  if (GetClickCount() >= 2) {
    BroadcastMessage(msg_MovieViewDoubleClick, nullptr);
    return;
  }
  if (inMouseDown.macEvent.modifiers & controlKey) {
    DoNavigationMenu(inMouseDown);
    return;
  }
  const Point where = inMouseDown.whereLocal;
  if (mDrawingOptions & kDrawROI) {
    Rect roi = mROI;
    Orig2Local(&roi);
    const SInt16 spot = FindInterestingPoint(where, roi, nullptr);
    if (spot == kHotSpotInside) {
      SetCursorID(kThemeClosedHandCursor);
      BeginMoveRect(where);
      return;
    }
    if (spot >= kHotSpotTopLeft && spot <= kHotSpotRight) {
      BeginResizeRect(where, spot);
      return;
    }
  }
  ScrubMovie(where);
}

void CMovieView::BeginMoveRect(Point inStart) {
  mDrag = drag_Move;
  mDragHotSpot = kHotSpotInside;
  mDragStart = inStart;
  mDragStartOrig = inStart;
  Local2Orig(&mDragStartOrig);
  mDragStartRect = mROI;
  mDragRect = mROI;
  mBandShown = false;
  mOverlayDrawn = false;
  DrawRubberBand(mDragRect);
  UMouseTracking::Begin(this);
}

void CMovieView::BeginResizeRect(Point inStart, SInt16 inHotSpot) {
  BeginMoveRect(inStart);
  mDrag = drag_Resize;
  mDragHotSpot = inHotSpot;
}

void CMovieView::CheckNewSelection(Rect& ioRect, SInt16 inHotSpot) {
  const bool movesLeft = inHotSpot == kHotSpotTopLeft || inHotSpot == kHotSpotBottomLeft || inHotSpot == kHotSpotLeft;
  const bool movesRight = inHotSpot == kHotSpotTopRight || inHotSpot == kHotSpotBottomRight || inHotSpot == kHotSpotRight;
  const bool movesTop = inHotSpot == kHotSpotTopLeft || inHotSpot == kHotSpotTopRight || inHotSpot == kHotSpotTop;
  const bool movesBottom = inHotSpot == kHotSpotBottomLeft || inHotSpot == kHotSpotBottomRight || inHotSpot == kHotSpotBottom;
  if (ioRect.right - ioRect.left < kMinROISize) {
    if (movesLeft)
      ioRect.left = static_cast<SInt16>(ioRect.right - kMinROISize);
    else if (movesRight)
      ioRect.right = static_cast<SInt16>(ioRect.left + kMinROISize);
  }
  if (ioRect.bottom - ioRect.top < kMinROISize) {
    if (movesTop)
      ioRect.top = static_cast<SInt16>(ioRect.bottom - kMinROISize);
    else if (movesBottom)
      ioRect.bottom = static_cast<SInt16>(ioRect.top + kMinROISize);
  }
  ioRect.top = static_cast<SInt16>(EvenTowardZero(ioRect.top));
  ioRect.left = static_cast<SInt16>(EvenTowardZero(ioRect.left));
  ioRect.bottom = static_cast<SInt16>(EvenTowardZero(ioRect.bottom));
  ioRect.right = static_cast<SInt16>(EvenTowardZero(ioRect.right));
}

void CMovieView::TrackTo(Point inPortPt) {
  mMousePt = inPortPt;
  if (mDrag == drag_ScrubPending || mDrag == drag_Scrub) {
    TrackIdle();
    return;
  }
  if (mDrag != drag_Move && mDrag != drag_Resize) return;
  Point p = inPortPt;
  Local2Orig(&p);
  SInt32 dh = p.h - mDragStartOrig.h;
  SInt32 dv = p.v - mDragStartOrig.v;
  Rect r = mDragStartRect;
  if (mDrag == drag_Move) {
    dh = EvenDown(dh);
    dv = EvenDown(dv);
    OffsetRect(&r, static_cast<SInt16>(dh), static_cast<SInt16>(dv));
    r = KeepInside(r, mOrigRect);
  } else {
    const SInt16 code = mDragHotSpot;
    if (code == kHotSpotTopLeft || code == kHotSpotBottomLeft || code == kHotSpotLeft) r.left = static_cast<SInt16>(r.left + dh);
    if (code == kHotSpotTopRight || code == kHotSpotBottomRight || code == kHotSpotRight) r.right = static_cast<SInt16>(r.right + dh);
    if (code == kHotSpotTopLeft || code == kHotSpotTopRight || code == kHotSpotTop) r.top = static_cast<SInt16>(r.top + dv);
    if (code == kHotSpotBottomLeft || code == kHotSpotBottomRight || code == kHotSpotBottom) r.bottom = static_cast<SInt16>(r.bottom + dv);
    r.right = std::min(r.right, mOrigRect.right);
    r.left = std::max(r.left, mOrigRect.left);
    r.bottom = std::min(r.bottom, mOrigRect.bottom);
    r.top = std::max(r.top, mOrigRect.top);
    CheckNewSelection(r, code);
  }
  if (EqualRect(&r, &mDragRect) && !mOverlayDrawn) return;
  mDragRect = r;
  DrawRubberBand(r);
  // A rectangle sticking out of the frame scrolls the view by the overshoot.
  Rect local = r;
  Orig2Local(&local);
  Rect frame;
  CalcLocalFrameRect(frame);
  SInt32 sh = 0, sv = 0;
  if (local.right - local.left <= frame.right - frame.left) {
    if (local.right > frame.right) sh = local.right - frame.right;
    else if (local.left < frame.left) sh = local.left - frame.left;
  }
  if (local.bottom - local.top <= frame.bottom - frame.top) {
    if (local.bottom > frame.bottom) sv = local.bottom - frame.bottom;
    else if (local.top < frame.top) sv = local.top - frame.top;
  }
  if ((sh || sv) && ScrollPinnedImageBy(sh, sv, true)) mBandShown = false;
}

void CMovieView::DrawRubberBand(const Rect& inSourceRect) {
  if (!FocusDraw()) return;
  StDrawContextState saved;
  PenState pen;
  GetPenState(&pen);
  // An overlay drawn meanwhile has wiped the old frame already.
  if (mBandShown && !mOverlayDrawn) {
    PenMode(patXor);
    const RGBColor grey = {0x7F7F, 0x7F7F, 0x7F7F};
    RGBForeColor(&grey);
    FrameRect(&mBandPortRect);
  }
  mOverlayDrawn = false;
  Rect local = inSourceRect;
  Orig2Local(&local);
  PenMode(patXor);
  const RGBColor grey = {0x7F7F, 0x7F7F, 0x7F7F};
  RGBForeColor(&grey);
  FrameRect(&local);
  mBandPortRect = local;
  mBandShown = true;
  SetPenState(&pen);
  UpdatePort();
}

void CMovieView::EraseRubberBand() {
  if (!mBandShown) return;
  if (!mOverlayDrawn && FocusDraw()) {
    StDrawContextState saved;
    PenState pen;
    GetPenState(&pen);
    PenMode(patXor);
    const RGBColor grey = {0x7F7F, 0x7F7F, 0x7F7F};
    RGBForeColor(&grey);
    FrameRect(&mBandPortRect);
    SetPenState(&pen);
  }
  mBandShown = false;
}

void CMovieView::ScrubMovie(Point inStart) {
  mDrag = drag_ScrubPending;
  mDragStart = inStart;
  mMousePt = inStart;
  mDragStartTick = TickCount();
  UMouseTracking::Begin(this);
  mPoll.StartRepeating(0.01);
}

void CMovieView::StartScrub() {
  mDrag = drag_Scrub;
  mScrubbing = true;
  SetCursorID(kThemeResizeLeftRightCursor);
  SInt32 zero = 0;
  BroadcastMessage(msg_ScrubStart, &zero);
  mLastReportTick = TickCount();
  mLastReportPt = mDragStart;
}

void CMovieView::ReportScrub(Boolean inForce) {
  const UInt32 now = TickCount();
  if (EqualPt(mMousePt, mLastReportPt)) return;
  if (!inForce && now - mLastReportTick <= kScrubReportTicks) return;
  if (mMousePt.h > mDragStart.h)
    SetCursorID(kThemeResizeRightCursor);
  else if (mMousePt.h < mDragStart.h)
    SetCursorID(kThemeResizeLeftCursor);
  else
    SetCursorID(kThemeResizeLeftRightCursor);
  mScrubOffset = mMousePt.h - mDragStart.h;
  BroadcastMessage(msg_ScrubOffset, &mScrubOffset);
  mLastReportTick = now;
  mLastReportPt = mMousePt;
}

void CMovieView::TrackIdle() {
  if (mDrag == drag_ScrubPending) {
    if (TickCount() - mDragStartTick < UMouseTracking::GetDblTime()) return;
    StartScrub();
  }
  if (mDrag == drag_Scrub) ReportScrub(false);
}

void CMovieView::MouseTracked(Point inPortPt, UInt16 /*inModifiers*/) { TrackTo(inPortPt); }

void CMovieView::MouseReleased(Point inPortPt, UInt16 /*inModifiers*/) {
  UMouseTracking::End(this);
  if (mDrag == drag_Move || mDrag == drag_Resize) {
    TrackTo(inPortPt);
    EraseRubberBand();
    mROI = mDragRect;
    mDrag = drag_None;
    if (mDragHotSpot == kHotSpotInside) SetCursorID(kThemeOpenHandCursor);
    BroadcastMessage(msg_ROIChanged, &mROI);
    Refresh();
    return;
  }
  if (mDrag == drag_ScrubPending || mDrag == drag_Scrub) {
    mMousePt = inPortPt;
    TrackIdle();
    FinishDrag();
  }
}

void CMovieView::FinishDrag() {
  mPoll.StopRepeating();
  const Boolean scrubbed = mDrag == drag_Scrub;
  mDrag = drag_None;
  if (!scrubbed) return;
  BroadcastMessage(msg_ScrubEnd, nullptr);
  SetCursorID(kThemeArrowCursor);
  mScrubbing = false;
  Refresh();
}

void CMovieView::DoNavigationMenu(const SMouseDownEvent& inMouseDown) {
  UNavigationMenu::Pop(this, this, inMouseDown);
}

// ---------------------------------------------------------------------------

CCenterView::CCenterView(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo) : LView(inPaneInfo, inViewInfo) {}

CCenterView::CCenterView(LStream* inStream) : LView(inStream) {}

void CCenterView::AdjustImagePosition(Boolean inRefresh) {
  const SInt32 h = CenteredScrollPosition(mImageSize.width, mWidth, mScrollPos.h);
  const SInt32 v = CenteredScrollPosition(mImageSize.height, mHeight, mScrollPos.v);
  if (h != mScrollPos.h || v != mScrollPos.v) ScrollImageTo(h, v, false);
  if (inRefresh) Refresh();
}

void CCenterView::ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) {
  LView::ResizeFrameBy(inWidthDelta, inHeightDelta, false);
  AdjustImagePosition(inRefresh);
}

void CCenterView::MoveBy(SInt32 inHorizDelta, SInt32 inVertDelta, Boolean inRefresh) {
  LView::MoveBy(inHorizDelta, inVertDelta, false);
  AdjustImagePosition(inRefresh);
}

void CCenterView::FinishCreateSelf() {
  LView::FinishCreateSelf();
  AdjustImagePosition(false);
}
