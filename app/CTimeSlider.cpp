#include "app/CTimeSlider.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/CMovieView.h"
#include "app/UNavigationMenu.h"
#include "media/CMovie.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"
#include "platform/framework/LArray.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LWindow.h"
#include "toolkit/StDrawContextState.h"

const RGBColor CTimeSlider::kSelectionActive = {0x4000, 0x4000, 0x4000};
const RGBColor CTimeSlider::kSelectionInactive = {0x3000, 0x3000, 0x3000};
const RGBColor CTimeSlider::kMotionActive = {0x6000, 0x6000, 0};
const RGBColor CTimeSlider::kMotionInactive = {0x4000, 0x4000, 0};
const RGBColor CTimeSlider::kControlActive = {0x6000, 0, 0x6000};
const RGBColor CTimeSlider::kControlInactive = {0x4000, 0, 0x4000};

namespace {

constexpr UInt8 kHomeChar = 1;
constexpr UInt8 kEndChar = 4;
constexpr UInt8 kLeftArrowChar = 28;
constexpr UInt8 kRightArrowChar = 29;

std::vector<SInt32> SortedInterestingTimes(CMovie* inMovie) {
  LArray times;
  UMovies::CollectInterestingTimes(inMovie, times);
  std::vector<SInt32> out;
  for (SInt32 i = 1; i <= times.GetCount(); ++i) {
    SInt32 t = 0;
    if (times.FetchItemAt(i, &t)) out.push_back(t);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

CTimeSlider::CTimeSlider(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, LCommander* inSuper)
    : LView(inPaneInfo, inViewInfo), LCommander(inSuper) {
  InitSlider();
}

CTimeSlider::CTimeSlider(LStream* inStream) : LView(inStream) { InitSlider(); }

void CTimeSlider::InitSlider() {
  // Nothing to follow and nothing to report until a movie is attached.
  StopBroadcasting();
  StopListening();
}

CTimeSlider::~CTimeSlider() {
  UMouseTracking::End(this);
  ForgetDeletedMovie();
  if (mMovie) mMovie->RemoveListener(this);
}

void CTimeSlider::ForgetDeletedMovie() {
  // A movie deleted while attached has already let go of its listeners.
  if (mMovie && !HasBroadcaster(mMovie)) mMovie = nullptr;
}

QWidget* CTimeSlider::MakeWidget(QWidget* inParent) { return UMouseTracking::MakeHostWidget(this, this, inParent); }

SInt32 CTimeSlider::FrameLeft() const {
  SPoint32 loc;
  GetFrameLocation(loc);
  return loc.h;
}

SInt32 CTimeSlider::FrameTop() const {
  SPoint32 loc;
  GetFrameLocation(loc);
  return loc.v;
}

// ---- The movie

void CTimeSlider::AttachMovie(CMovie* inMovie) {
  ForgetDeletedMovie();
  if (mMovie && mMovie != inMovie) mMovie->RemoveListener(this);
  mMovie = inMovie;
  if (!mMovie) {
    DettachMovie();
    return;
  }
  StartBroadcasting();
  mMinValue = 0;
  // A movie of duration 0 or 1 still gives maximum >= minimum.
  mMaxValue = std::max<SInt32>(mMinValue, mMovie->GetDuration() - 1);
  SetValue(mMovie->GetTimeValue());
  ResizeImageTo(mWidth, mHeight, false);
  SetScrollUnit(SPoint32{std::max<SInt32>(1, mWidth / 128), 1});
  ScrollImageTo(0, 0, false);
  mMovie->AddListener(this);
  StartListening();
  Refresh();
}

void CTimeSlider::DettachMovie() {
  ForgetDeletedMovie();
  if (mMovie) mMovie->RemoveListener(this);
  mMovie = nullptr;
  Refresh();
  StopBroadcasting();
  StopListening();
}

void CTimeSlider::SetSliderIcon(Handle inIconSuite, Boolean inRefresh) {
  if (inIconSuite == mIcon) return;
  mIcon = inIconSuite;
  if (inRefresh) Refresh();
}

void CTimeSlider::ListenToMessage(MessageT inMessage, void* /*ioParam*/) {
  switch (inMessage) {
    case msg_MovieTimeChanged:
      if (!mMovie) return;
      {
        // Following the movie is no user input: no 7100 goes out.
        const bool wasBroadcasting = IsBroadcasting();
        StopBroadcasting();
        SetValue(mMovie->GetTimeValue());
        if (wasBroadcasting) StartBroadcasting();
      }
      break;
    case msg_MovieSelectionChanged:
      if (mMovie) Refresh();
      break;
    case msg_MovieChanged:
      if (mMovie) AttachMovie(mMovie);
      break;
    default:
      break;
  }
}

// ---- Value

void CTimeSlider::SetValue(SInt32 inValue) {
  if (inValue != mValue && !mDragging) MoveIndicator(mValue, inValue, false, false);
  const SInt32 clamped = std::clamp(inValue, mMinValue, std::max(mMinValue, mMaxValue));
  if (clamped != mValue) {
    mValue = clamped;
    BroadcastMessage(msg_SliderTimeSet, &mValue);
  }
}

void CTimeSlider::SetMinValue(SInt32 inMin) {
  mMinValue = inMin;
  if (inMin > mValue) SetValue(inMin);
}

void CTimeSlider::SetMaxValue(SInt32 inMax) {
  mMaxValue = inMax;
  if (inMax < mValue) SetValue(inMax);
}

// ---- Geometry

SInt32 CTimeSlider::ValueToPosition(SInt32 inValue) const {
  const SInt32 first = GetFirstPosition(), last = GetLastPosition();
  if (inValue >= mMaxValue) return last;
  if (inValue <= mMinValue) return first;
  const double span = static_cast<double>(mMaxValue) - mMinValue;
  return first + static_cast<SInt32>((last - first) * (static_cast<double>(inValue) - mMinValue) / span + 0.5);
}

SInt32 CTimeSlider::PositionToValue(SInt32 inPosition) const {
  const SInt32 first = GetFirstPosition(), last = GetLastPosition();
  if (inPosition >= last) return mMaxValue;
  if (inPosition <= first || last <= first) return mMinValue;
  const double span = static_cast<double>(mMaxValue) - mMinValue;
  return mMinValue + static_cast<SInt32>(span * (inPosition - first) / (last - first) + 0.5);
}

void CTimeSlider::CalcTrackRect(Rect& outRect) const {
  // The small horizontal slider track, its bottom raised by 4.
  outRect = MakeRect(FrameTop() + 6, FrameLeft() + 12, FrameTop() + 26 - 4, FrameLeft() + Width() - 11);
}

void CTimeSlider::CalcIndicatorRect(Rect& outRect, SInt32 inValue) const {
  Rect track;
  CalcTrackRect(track);
  const SInt32 p = FrameLeft() + ValueToPosition(inValue);
  outRect = MakeRect(track.top - 5, p - 6, track.bottom, p + 10);
}

Boolean CTimeSlider::PointInHotSpot(Point inPoint, SInt16 inHotSpot) const {
  if (inHotSpot != kSliderIndicatorSpot) return false;
  Rect r;
  CalcIndicatorRect(r, mValue);
  return PtInRect(inPoint, &r);
}

SInt16 CTimeSlider::FindHotSpot(Point inPoint) const {
  return PointInHotSpot(inPoint, kSliderIndicatorSpot) ? kSliderIndicatorSpot : 0;
}

void CTimeSlider::ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) {
  LView::ResizeFrameBy(inWidthDelta, inHeightDelta, inRefresh);
  ResizeImageTo(static_cast<SInt32>(mWidth * mZoomFactor), mHeight, inRefresh);
}

void CTimeSlider::AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh) {
  LView::AdaptToSuperFrameSize(inSurrWidthDelta, inSurrHeightDelta, inRefresh);
  if (mImageSize.width > mWidth) {
    SetScrollUnit(SPoint32{std::max<SInt32>(1, mWidth / 128), 1});
    ResizeImageTo(static_cast<SInt32>(mWidth * mZoomFactor), mHeight, true);
  }
}

// ---- Drawing

void CTimeSlider::BlendBand(SInt32 inFromPos, SInt32 inToPos, SInt32 inTop, SInt32 inBottom, const RGBColor& inWeight) {
  GrafPtr port = GetMacPort();
  PixMapHandle pm = port ? GetPortPixMap(port) : nullptr;
  if (!pm || !*pm || !(*pm)->baseAddr || (*pm)->pixelSize != 32) return;
  Rect band = MakeRect(inTop, FrameLeft() + std::min(inFromPos, inToPos), inBottom, FrameLeft() + std::max(inFromPos, inToPos));
  Rect frame;
  CalcLocalFrameRect(frame);
  const Rect bounds = (*pm)->bounds;
  if (!SectRect(&band, &frame, &band) || !SectRect(&band, &bounds, &band)) return;
  // Blend of the foreground (black) into the pixels by the weight of each component.
  const UInt32 keep[3] = {65535u - inWeight.red, 65535u - inWeight.green, 65535u - inWeight.blue};
  UInt8* base = reinterpret_cast<UInt8*>((*pm)->baseAddr);
  const SInt32 rowBytes = QTGetPixMapHandleRowBytes(pm);
  for (SInt32 y = band.top; y < band.bottom; ++y) {
    UInt8* p = base + (y - bounds.top) * rowBytes + (band.left - bounds.left) * 4;
    for (SInt32 x = band.left; x < band.right; ++x, p += 4)
      for (int c = 0; c < 3; ++c) p[1 + c] = static_cast<UInt8>((p[1 + c] * keep[c] + 32767) / 65535);
  }
}

void CTimeSlider::DrawIndicatorTrack() {
  StDrawContextState saved;
  PenNormal();
  const bool active = IsActiveAndEnabled();
  Rect frame;
  CalcLocalFrameRect(frame);
  // The group box behind the track.
  const RGBColor box = {0xE8E8, 0xE8E8, 0xE8E8};
  RGBForeColor(&box);
  PaintRect(&frame);
  const RGBColor edge = {0xB0B0, 0xB0B0, 0xB0B0};
  RGBForeColor(&edge);
  Rect outline = frame;
  InsetRect(&outline, -8, 0);
  FrameRect(&outline);
  // The slider track: a groove from the first to the last position.
  Rect groove = MakeRect(FrameTop() + 6, FrameLeft() + 12, FrameTop() + 26 - 4, FrameLeft() + Width() - 11);
  const RGBColor grooveFill = active ? RGBColor{0xFFFF, 0xFFFF, 0xFFFF} : RGBColor{0xF4F4, 0xF4F4, 0xF4F4};
  RGBForeColor(&grooveFill);
  PaintRect(&groove);
  const RGBColor grooveEdge = active ? RGBColor{0x8080, 0x8080, 0x8080} : RGBColor{0xB8B8, 0xB8B8, 0xB8B8};
  RGBForeColor(&grooveEdge);
  FrameRect(&groove);
  const RGBColor black = {0, 0, 0};
  RGBForeColor(&black);
  if (!mMovie) return;
  Movie movie = mMovie->GetMovie();
  if (movie == nullptr) return;  // a wrapper without a movie: only the track shows
  Rect track;
  CalcTrackRect(track);
  SInt32 start = 0, end = 0;
  mMovie->GetSelection(&start, &end);
  if (end != start)
    BlendBand(ValueToPosition(start), ValueToPosition(end), track.top + 1, track.bottom,
              active ? kSelectionActive : kSelectionInactive);
  for (SInt32 i = 1; i <= GetMovieTrackCount(movie); ++i) {
    Track t = GetMovieIndTrack(movie, i);
    if (!t || !GetTrackEnabled(t)) continue;
    const SInt32 offset = GetTrackOffset(t), duration = GetTrackDuration(t);
    if (offset == duration) continue;
    const SInt16 layer = GetTrackLayer(t);
    if (layer == kMotionTrackLayer)
      BlendBand(ValueToPosition(offset), ValueToPosition(duration), track.top + 1, track.top + 5,
                active ? kMotionActive : kMotionInactive);
    else if (layer == kControlTrackLayer)
      BlendBand(ValueToPosition(offset), ValueToPosition(duration), track.top + 5, track.top + 9,
                active ? kControlActive : kControlInactive);
  }
}

void CTimeSlider::DrawIndicator(const Rect& inRect, bool inGhost, bool inPressed) {
  if (!mIcon) return;
  StDrawContextState saved;
  PenNormal();
  // The indicator: a small pointed cap in the 16 x 16 square, then the needle.
  RGBColor fill = {0xD0D0, 0xD0D0, 0xD8D8};
  RGBColor needle = {0, 0, 0};
  if (!IsActiveAndEnabled() || inGhost) {
    fill = {0xEEEE, 0xEEEE, 0xEEEE};
    needle = {0x7F7F, 0x7F7F, 0x7F7F};
  } else if (inPressed) {
    fill = {0x4000, 0, 0};
  }
  const SInt32 cx = inRect.left + 6;
  RGBForeColor(&fill);
  for (SInt32 row = 0; row < 8; ++row) {
    const SInt32 half = row < 4 ? 5 : 8 - row;
    Rect line = MakeRect(inRect.top + row, cx - half, inRect.top + row + 1, cx + half + 1);
    PaintRect(&line);
  }
  const RGBColor outline = {0x4040, 0x4040, 0x4040};
  RGBForeColor(&outline);
  Rect cap = MakeRect(inRect.top, cx - 5, inRect.top + 4, cx + 6);
  FrameRect(&cap);
  RGBForeColor(&needle);
  PenSize(2, 1);
  MoveTo(static_cast<SInt16>(inRect.left + 6), static_cast<SInt16>(inRect.top + 7));
  LineTo(static_cast<SInt16>(inRect.left + 6), static_cast<SInt16>(inRect.bottom - 1));
}

void CTimeSlider::DrawIndicatorAt(SInt32 inPosition, bool inPressed) {
  Rect track;
  CalcTrackRect(track);
  const SInt32 p = FrameLeft() + inPosition;
  Rect r = MakeRect(track.top - 5, p - 6, track.bottom, p + 10);
  DrawIndicator(r, false, inPressed);
}

void CTimeSlider::DrawIndicatorTrackSafely() {
  try {
    DrawIndicatorTrack();
  } catch (...) {
    // The indicator still draws; the event loop never sees the failure.
    LogCurrentException("slider", "DrawIndicatorTrack");
  }
}

void CTimeSlider::DrawSelf() {
  ForgetDeletedMovie();
  DrawIndicatorTrackSafely();
  Rect r;
  CalcIndicatorRect(r, mValue);
  DrawIndicator(r, false, mDragging);
}

void CTimeSlider::MoveIndicator(SInt32 inFromValue, SInt32 inToValue, bool /*inGhost*/, bool inPressed) {
  if (ValueToPosition(inFromValue) == ValueToPosition(inToValue)) return;
  if (!FocusDraw()) return;
  DrawIndicatorTrackSafely();
  Rect r;
  CalcIndicatorRect(r, inToValue);
  DrawIndicator(r, false, inPressed);
  UpdatePort();
}

// ---- Mouse

void CTimeSlider::ClickSelf(const SMouseDownEvent& inMouseDown) {
  ForgetDeletedMovie();
  if (!IsTarget()) SwitchTarget(this);
  if (inMouseDown.macEvent.modifiers & controlKey) {
    DoNavigationMenu(inMouseDown);
    return;
  }
  const Point where = inMouseDown.whereLocal;
  if (FindHotSpot(where) != kSliderIndicatorSpot) {
    Rect band, last;
    CalcIndicatorRect(band, mMinValue);
    CalcIndicatorRect(last, mMaxValue);
    band.right = last.right;
    if (!PtInRect(where, &band)) return;
    const SInt32 pos = std::clamp<SInt32>(where.h - FrameLeft(), GetFirstPosition(), GetLastPosition());
    SetValue(PositionToValue(pos));
    UpdatePort();
    if (FindHotSpot(where) != kSliderIndicatorSpot) return;
  }
  TrackHotSpot(kSliderIndicatorSpot, where, static_cast<SInt16>(inMouseDown.macEvent.modifiers));
}

void CTimeSlider::TrackHotSpot(SInt16 /*inHotSpot*/, Point inPoint, SInt16 /*inModifiers*/) {
  mDragStartPos = ValueToPosition(mValue);
  mDragStartValue = mValue;
  mDragPos = mDragStartPos;
  mDragClickH = inPoint.h;
  mDragging = true;
  if (FocusDraw()) {
    DrawIndicatorTrackSafely();
    DrawIndicatorAt(mDragStartPos, true);
    UpdatePort();
  }
  UMouseTracking::Begin(this);
}

void CTimeSlider::MouseTracked(Point inPortPt, UInt16 inModifiers) {
  if (!mDragging) return;
  Rect area;
  CalcTrackRect(area);
  InsetRect(&area, -kSliderDragSlop, -kSliderDragSlop);
  SInt32 pos = mDragStartPos;
  if (PtInRect(inPortPt, &area))
    pos = std::clamp<SInt32>(mDragStartPos + (inPortPt.h - mDragClickH), GetFirstPosition(), GetLastPosition());
  const SInt32 old = mValue;
  if (pos != mDragPos) {
    mDragPos = pos;
    // Back at the start the value is the one the drag began with, not the
    // start position's value snapped to a pixel.
    if (mLiveTracking) SetValue(pos == mDragStartPos ? mDragStartValue : PositionToValue(pos));
    if (mLiveTracking && (inModifiers & shiftKey) && mMovie) ExtendSelection(old, mValue);
    if (FocusDraw()) {
      DrawIndicatorTrackSafely();
      DrawIndicatorAt(pos, true);
      UpdatePort();
    }
  }
}

void CTimeSlider::MouseReleased(Point inPortPt, UInt16 inModifiers) {
  if (!mDragging) return;
  MouseTracked(inPortPt, inModifiers);
  UMouseTracking::End(this);
  mDragging = false;
  if (mDragPos == mDragStartPos) {
    // Back where it started, dragged out of the track, or never moved:
    // the value is the one the drag began with and nothing is reported.
    if (mValue != mDragStartValue) SetValue(mDragStartValue);
    Refresh();
    return;
  }
  SetValue(PositionToValue(mDragPos));
  Refresh();
}

void CTimeSlider::DoNavigationMenu(const SMouseDownEvent& inMouseDown) {
  UNavigationMenu::Pop(this, this, inMouseDown);
}

// ---- Selection, commands and keys

void CTimeSlider::ExtendSelection(SInt32 inOldTime, SInt32 inNewTime) {
  if (!mMovie) return;
  inNewTime = std::max<SInt32>(0, inNewTime);
  inOldTime = std::max<SInt32>(0, inOldTime);
  SInt32 start = 0, end = 0;
  mMovie->GetSelection(&start, &end);
  if (end != start) {
    const SInt32 toStart = std::abs(inOldTime - start), toEnd = std::abs(inOldTime - end);
    if (toStart < toEnd) {
      start = inNewTime;
    } else if (toEnd < toStart) {
      end = inNewTime;
    } else {
      return;
    }
    if (start > end) std::swap(start, end);
  } else {
    start = std::min(inOldTime, inNewTime);
    end = std::max(inOldTime, inNewTime);
  }
  mMovie->SetSelectionStart(start);
  mMovie->SetSelectionStop(end);
}

void CTimeSlider::GoToMovieTime(SInt32 inTime) {
  if (!mMovie) return;
  mMovie->GotoTime(std::clamp<SInt32>(inTime, 0, std::max<SInt32>(0, mMovie->GetDuration())));
}

void CTimeSlider::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                                    Str255 outName) {
  ForgetDeletedMovie();
  if (inCommand == cmd_SelectAll || inCommand == cmd_SelectNone) {
    outEnabled = false;
    outUsesMark = false;
    if (!mMovie || !mMovie->GetMovie()) return;
    SInt32 start = 0, end = 0;
    mMovie->GetSelection(&start, &end);
    outEnabled = inCommand == cmd_SelectAll ? !(start == 0 && end == mMovie->GetDuration()) : end != start;
    return;
  }
  LCommander::FindCommandStatus(inCommand, outEnabled, outUsesMark, outMark, outName);
}

Boolean CTimeSlider::ObeyCommand(CommandT inCommand, void* ioParam) {
  ForgetDeletedMovie();
  if (inCommand == cmd_SelectAll || inCommand == cmd_SelectNone) {
    if (!mMovie || !mMovie->GetMovie()) return true;
    mMovie->SetSelectionStart(0);
    mMovie->SetSelectionStop(inCommand == cmd_SelectAll ? mMovie->GetDuration() : 0);
    return true;
  }
  return LCommander::ObeyCommand(inCommand, ioParam);
}

Boolean CTimeSlider::HandleKeyPress(const EventRecord& inKeyEvent) {
  const Boolean framework = LCommander::HandleKeyPress(inKeyEvent);
  ForgetDeletedMovie();
  if (!mMovie || !mMovie->GetMovie()) return framework;
  const UInt8 key = static_cast<UInt8>(inKeyEvent.message & charCodeMask);
  const UInt16 mods = inKeyEvent.modifiers;
  const SInt32 now = mMovie->GetTimeValue();
  const SInt32 duration = mMovie->GetDuration();
  const SInt32 scale = std::max<SInt32>(1, mMovie->GetTimeScale());
  if (key == kHomeChar) {
    GoToMovieTime(0);
    return framework;
  }
  if (key == kEndChar) {
    GoToMovieTime(duration);
    return framework;
  }
  if (key != kLeftArrowChar && key != kRightArrowChar) return framework;
  bool found = true;
  SInt32 target = now;
  const OSType visual = 'eyes';
  if (key == kRightArrowChar) {
    if (mods & optionKey) {
      found = false;
      for (SInt32 t : SortedInterestingTimes(mMovie))
        if (t > now) {
          target = t;
          found = true;
          break;
        }
    } else if (mods & controlKey) {
      target = static_cast<SInt32>((std::floor(static_cast<double>(now) / scale) + 1) * scale);
      if (target > duration) target = duration;
    } else if (!mMovie->GetNextInterestingTime(1, 1, &visual, now, &target, 1)) {
      target = duration;
    }
  } else {
    if (mods & optionKey) {
      found = false;
      for (SInt32 t : SortedInterestingTimes(mMovie))
        if (t < now) {
          target = t;
          found = true;
        }
    } else if (mods & controlKey) {
      const double whole = std::floor(static_cast<double>(now) / scale) * scale;
      target = static_cast<SInt32>(whole);
      if (target == now) target -= scale;
      // Before the start there is nothing to go to.
      if (target < 0) target = 0;
      found = target != now;
    } else {
      found = mMovie->GetPreviousInterestingTime(1, 1, &visual, now, &target, 1) && target >= 0;
    }
  }
  if (found) {
    GoToMovieTime(target);
    if (mods & shiftKey) ExtendSelection(now, std::clamp<SInt32>(target, 0, duration));
  }
  return true;
}
