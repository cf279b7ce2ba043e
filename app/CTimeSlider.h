// The time line under the movie: a slider track with an indicator at the
// current movie time, a grey band for the selection and thin coloured bands
// where the movie has a motion-data track and a stabilisation control track.
// The user drags or clicks the indicator and uses home, end and the arrows
// (with option, control and shift); the slider follows the movie's time
// without echoing it, and reports the user's moves with 7100.
#pragma once

#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LListener.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/ui/LView.h"
#include "platform/ui/UMouseTracking.h"

class CMotionData;
class CMovie;

constexpr MessageT msg_SliderTimeSet = 7100;  // SInt32*: the new value
constexpr CommandT cmd_SelectNone = 1013;
constexpr SInt16 kSliderIndicatorSpot = 129;
constexpr SInt32 kSliderDragSlop = 20;

class CTimeSlider : public LView, public LBroadcaster, public LCommander, public LListener, public LDragTracker {
 public:
  static constexpr ClassIDT class_ID = 'TSld';

  CTimeSlider(const SPaneInfo& inPaneInfo, const SViewInfo& inViewInfo, LCommander* inSuper = nullptr);
  explicit CTimeSlider(LStream* inStream);
  ~CTimeSlider() override;
  ClassIDT GetClassID() const override { return class_ID; }

  // The movie the slider shows and follows (nil detaches).
  void AttachMovie(CMovie* inMovie);
  void DettachMovie();
  CMovie* GetMovie() const { return mMovie; }
  // The indicator's picture; nil draws no indicator.
  void SetSliderIcon(Handle inIconSuite, Boolean inRefresh);

  virtual SInt32 GetValue() const { return mValue; }
  virtual void SetValue(SInt32 inValue);
  virtual void IncrementValue(SInt32 inDelta) { SetValue(mValue + inDelta); }
  virtual void SetMinValue(SInt32 inMin);
  virtual void SetMaxValue(SInt32 inMax);
  SInt32 GetMinValue() const { return mMinValue; }
  SInt32 GetMaxValue() const { return mMaxValue; }
  void SetLiveTracking(Boolean inLive) { mLiveTracking = inLive; }
  Boolean IsDragging() const { return mDragging; }

  // Geometry, in coordinates relative to the slider's frame (0 = its left edge).
  SInt32 ValueToPosition(SInt32 inValue) const;
  SInt32 PositionToValue(SInt32 inPosition) const;
  SInt32 GetFirstPosition() const { return 13; }
  SInt32 GetLastPosition() const { return Width() - 12; }
  virtual void CalcTrackRect(Rect& outRect) const;
  virtual void CalcIndicatorRect(Rect& outRect, SInt32 inValue) const;
  virtual SInt16 FindHotSpot(Point inPoint) const;
  virtual Boolean PointInHotSpot(Point inPoint, SInt16 inHotSpot) const;

  void ListenToMessage(MessageT inMessage, void* ioParam) override;
  Boolean ObeyCommand(CommandT inCommand, void* ioParam) override;
  void FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark, UInt16& outMark,
                         Str255 outName) override;
  Boolean HandleKeyPress(const EventRecord& inKeyEvent) override;

  void ResizeFrameBy(SInt16 inWidthDelta, SInt16 inHeightDelta, Boolean inRefresh) override;
  void AdaptToSuperFrameSize(SInt32 inSurrWidthDelta, SInt32 inSurrHeightDelta, Boolean inRefresh) override;

  // The indicator drag (see UMouseTracking).
  void MouseTracked(Point inPortPt, UInt16 inModifiers) override;
  void MouseReleased(Point inPortPt, UInt16 inModifiers) override;

  // The document's motion data (not used in drawing).
  CMotionData* mMotionData = nullptr;

  // The band colours (blend weights), active and inactive.
  static const RGBColor kSelectionActive, kSelectionInactive;
  static const RGBColor kMotionActive, kMotionInactive;
  static const RGBColor kControlActive, kControlInactive;

 protected:
  void DrawSelf() override;
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;
  void ActivateSelf() override { Refresh(); }
  void DeactivateSelf() override { Refresh(); }
  QWidget* MakeWidget(QWidget* inParent) override;

  virtual void DrawIndicatorTrack();
  // The same, letting a failure go (logged): drawing runs from the event loop.
  void DrawIndicatorTrackSafely();
  virtual void DrawIndicator(const Rect& inRect, bool inGhost, bool inPressed);
  virtual void TrackHotSpot(SInt16 inHotSpot, Point inPoint, SInt16 inModifiers);
  void MoveIndicator(SInt32 inFromValue, SInt32 inToValue, bool inGhost, bool inPressed);
  virtual void DoNavigationMenu(const SMouseDownEvent& inMouseDown);
  // Moves the selection edge nearer the old time to the new time, or selects
  // between them when nothing is selected (never below 0).
  void ExtendSelection(SInt32 inOldTime, SInt32 inNewTime);
  // Hands a time to the movie, kept within 0 and the duration.
  void GoToMovieTime(SInt32 inTime);

 private:
  void InitSlider();
  void ForgetDeletedMovie();
  SInt32 Width() const { return mImageSize.width > 0 ? mImageSize.width : mWidth; }
  SInt32 FrameLeft() const;
  SInt32 FrameTop() const;
  void DrawIndicatorAt(SInt32 inPosition, bool inPressed);
  void BlendBand(SInt32 inFromPos, SInt32 inToPos, SInt32 inTop, SInt32 inBottom, const RGBColor& inWeight);
  bool IsActiveAndEnabled() const { return IsActive() && IsEnabled(); }

  CMovie* mMovie = nullptr;
  SInt32 mValue = 0;
  SInt32 mMinValue = 0;
  SInt32 mMaxValue = 10;
  float mZoomFactor = 1.0f;
  Boolean mLiveTracking = true;
  Boolean mDragging = false;
  Handle mIcon = nullptr;

  // The drag that runs.
  SInt32 mDragStartPos = 0;
  SInt32 mDragStartValue = 0;
  SInt32 mDragClickH = 0;
  SInt32 mDragPos = 0;
};
