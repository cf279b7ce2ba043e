#include "app/USessionView.h"

#include "app/CMovieView.h"
#include "app/CTimeSlider.h"

LPane* USessionView::AsPane(CMovieView* inView) { return inView; }
LPane* USessionView::AsPane(CTimeSlider* inSlider) { return inSlider; }

void USessionView::UseOffscreenBuffer(CMovieView* inView, CBuffer* inBuffer) {
  if (inView) inView->UseOffscreenBuffer(inBuffer);
}

void USessionView::UseMovie(CMovieView* inView, CMovie* inMovie) {
  if (inView) inView->UseMovie(inMovie);
}

void USessionView::SetFrameParams(CMovieView* inView, RenderFrameParams& inParams) {
  if (inView) inView->SetFrameParams(inParams, true);
}

void USessionView::SetDrawingOptions(CMovieView* inView, UInt32 inSet, UInt32 inClear) {
  if (inView) inView->SetDrawingOptions(static_cast<SInt32>(inSet), static_cast<SInt32>(inClear), true);
}

void USessionView::SetMotionData(CMovieView* inView, CMotionData* inData) {
  if (inView) inView->mMotionData = inData;
}

void USessionView::MovieHasChanged(CMovieView* inView) {
  if (inView) inView->MovieHasChanged(true);
}

void USessionView::Refresh(CMovieView* inView) {
  if (inView) inView->Refresh();
}

void USessionView::SetInfoString(CMovieView* inView, const char* inText) {
  if (inView) inView->SetInfoString(inText, true);
}

bool USessionView::GetROIRect(CMovieView* inView, Rect& outRect) {
  if (!inView) return false;
  outRect = inView->GetROIRect();
  return true;
}

bool USessionView::GetImageSize(CMovieView* inView, SInt32& outWidth, SInt32& outHeight) {
  if (!inView) return false;
  Rect r;
  inView->GetOrigRect(&r);
  const float zoom = inView->GetZoom();
  outWidth = static_cast<SInt32>((r.right - r.left) * zoom + 0.5f);
  outHeight = static_cast<SInt32>((r.bottom - r.top) * zoom + 0.5f);
  return true;
}
