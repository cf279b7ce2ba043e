#include "app/USessionSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/CMovieAction.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/LException.h"
#include "platform/graphics/QuickDraw.h"
#include "toolkit/UAcsiiUtils.h"

namespace {

void ToPascal(const char* inText, Str255 outText) {
  const size_t n = std::min<size_t>(std::strlen(inText), 255);
  outText[0] = static_cast<unsigned char>(n);
  std::memcpy(outText + 1, inText, n);
}

// Removes a track the apply added, leaving the movie as it was.
void DisposeAdded(Track& ioTrack) {
  if (ioTrack) DisposeMovieTrack(ioTrack);
  ioTrack = nullptr;
}

bool IsEnabledControlTrack(Track inTrack) {
  if (!inTrack || !GetTrackEnabled(inTrack) || GetTrackLayer(inTrack) != kControlTrackLayer) return false;
  Media media = GetTrackMedia(inTrack);
  if (!media) return false;
  OSType type = 0;
  GetMediaHandlerDescription(media, &type, nullptr, nullptr);
  return type == kTweenMediaType;
}

// Every other enabled control track gives up the time the new one covers,
// so that one control track speaks for every moment of the movie: the
// renderer and the exporter take the first track with a sample, which
// would otherwise be the older one. A track the new one covers wholly is
// removed; one that reaches beyond it keeps the rest, its covered time
// left empty.
void MakeWayFor(Movie inMovie, Track inNew) {
  const SInt64 start = GetTrackOffset(inNew), end = GetTrackDuration(inNew);
  for (SInt32 i = GetMovieTrackCount(inMovie); i >= 1; --i) {
    Track t = GetMovieIndTrack(inMovie, i);
    if (t == inNew || !IsEnabledControlTrack(t)) continue;
    const SInt64 own = GetTrackOffset(t), ownEnd = GetTrackDuration(t);
    const SInt64 from = std::max(start, own), to = std::min(end, ownEnd);
    if (from >= to) continue;
    if (from <= own && to >= ownEnd) {
      DisposeMovieTrack(t);
      continue;
    }
    const TimeValue at = static_cast<TimeValue>(from), length = static_cast<TimeValue>(to - from);
    ThrowIfOSErr_(DeleteTrackSegment(t, at, length));
    if (to < ownEnd) ThrowIfOSErr_(InsertEmptyTrackSegment(t, at, length));
  }
}

}  // namespace

Float32 USessionSupport::SmoothingTimeForSlider(SInt32 inValue) {
  const double tenths = std::floor((std::pow(10.0, inValue * 0.002) - 1.0) * 10.0);
  return static_cast<Float32>(std::max(0.0, tenths) * 0.1);
}

SInt32 USessionSupport::SliderForSmoothingTime(Float32 inSeconds) {
  if (!std::isfinite(inSeconds) || inSeconds < 0) inSeconds = 0;
  return static_cast<SInt32>(std::log10(static_cast<double>(inSeconds) + 1.0) * 500.0);
}

void USessionSupport::FormatSeconds(Float32 inSeconds, Str255 outText) {
  char text[64];
  std::snprintf(text, sizeof text, "%1.1f s", static_cast<double>(inSeconds));
  UAcsiiUtils::DecimalPtToCurrent(text);
  ToPascal(text, outText);
}

void USessionSupport::FormatPercent(Float32 inPercent, Str255 outText) {
  char text[64];
  std::snprintf(text, sizeof text, "%3.1f %%", static_cast<double>(inPercent));
  UAcsiiUtils::DecimalPtToCurrent(text);
  ToPascal(text, outText);
}

bool USessionSupport::IsInterlaceDecided(QInterlaceMode inMode, QInterlaceDelay inDelay) {
  if (inMode == kInterlace_Progressive) return true;
  return IsFieldInterlaced(inMode) && inDelay != kInterlaceDelay_None;
}

bool USessionSupport::NeedsInterlaceAnalysis(QInterlaceMode inMode, QInterlaceDelay inDelay) {
  if (inMode <= kInterlace_Undecided) return true;
  return IsFieldInterlaced(inMode) && inDelay == kInterlaceDelay_None;
}

float USessionSupport::FieldDuration(QInterlaceDelay inDelay) {
  return inDelay == kInterlaceDelay_PAL ? 0.02f : 0.016667f;
}

Rect USessionSupport::TrackingRect(bool inUseRegion, const Rect& inRegion, const Rect& inDisplayBounds,
                                   const Rect& inEncodedBounds) {
  if (!inUseRegion) return inEncodedBounds;
  Rect r = inRegion;
  if (!EmptyRect(&inDisplayBounds)) MapRect(&r, &inDisplayBounds, &inEncodedBounds);
  r.left = std::max(r.left, inEncodedBounds.left);
  r.top = std::max(r.top, inEncodedBounds.top);
  r.right = std::min(r.right, inEncodedBounds.right);
  r.bottom = std::min(r.bottom, inEncodedBounds.bottom);
  if (r.right <= r.left || r.bottom <= r.top) return inEncodedBounds;
  return r;
}

OSErr USessionSupport::RecomputeMatrices(CMovie* inMovie, CMotionData& ioData, MotionSettings& ioSettings,
                                         QInterlaceDelay inDelay, bool& outBecameEmpty) {
  outBecameEmpty = false;
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  const SInt32 startBefore = ioData.GetStart(), stopBefore = ioData.GetStop();
  if (!ioData.IsRawDataValid()) {
    const OSErr err = ioData.ScanMovie(inMovie);
    if (err != noErr) return err;
  }
  inMovie->GetSelection(&ioSettings.rangeStart, &ioSettings.rangeStop);
  const OSErr err = ioData.CreateMatrices(&ioSettings, FieldDuration(inDelay));
  outBecameEmpty = ioData.GetStart() == ioData.GetStop() && startBefore != stopBefore;
  return err;
}

Track USessionSupport::CreateControlTrack(CMovie* inMovie, CMotionData& ioData, MotionSettings& ioSettings,
                                          RenderFrameParams& inParams, QInterlaceDelay inDelay, bool& outNoRange) {
  outNoRange = false;
  ThrowIfNil_(inMovie);
  ThrowIfNil_(inMovie->GetMovie());
  if (!ioData.IsRawDataValid()) ThrowIfOSErr_(ioData.ScanMovie(inMovie));
  if (!ioData.AreMatricesValid()) {
    inMovie->GetSelection(&ioSettings.rangeStart, &ioSettings.rangeStop);
    ThrowIfOSErr_(ioData.CreateMatrices(&ioSettings, FieldDuration(inDelay)));
  }
  if (ioData.GetStart() == ioData.GetStop()) {
    outNoRange = true;
    return nullptr;
  }
  Track track = nullptr;
  try {
    ThrowIfOSErr_(CTweenTracks::CreateTweenTrackFromMotionData(inMovie, ioData, &track));
    ThrowIfNil_(track);
    ThrowIfOSErr_(CMovieRendering::WriteMoSettingsToTrack(track, ioSettings));
    ThrowIfOSErr_(CMovieRendering::WriteRenderParamsToTrack(track, inParams));
  } catch (...) {
    DisposeAdded(track);
    throw;
  }
  return track;
}

CMovieAction* USessionSupport::ApplySession(CMovie* inMovie, Track inOldTrack, CMotionData& ioData,
                                            MotionSettings& ioSettings, RenderFrameParams& inParams,
                                            QInterlaceDelay inDelay, bool& outNoRange) {
  ThrowIfNil_(inMovie);
  ThrowIfNil_(inMovie->GetMovie());
  MovieEditState before = NewMovieEditState(inMovie->GetMovie());
  Track track = nullptr;
  try {
    track = CreateControlTrack(inMovie, ioData, ioSettings, inParams, inDelay, outNoRange);
  } catch (...) {
    if (before) DisposeMovieEditState(before);
    throw;
  }
  if (!track) {
    if (before) DisposeMovieEditState(before);
    return nullptr;
  }
  // The tracks sheet may have deleted the session's track meanwhile.
  bool replaced = inOldTrack && UMovies::ValidateTrack(inMovie, inOldTrack);
  if (replaced) DisposeMovieTrack(inOldTrack);
  try {
    const SInt32 tracksBefore = GetMovieTrackCount(inMovie->GetMovie());
    MakeWayFor(inMovie->GetMovie(), track);
    replaced = replaced || GetMovieTrackCount(inMovie->GetMovie()) < tracksBefore;
  } catch (...) {
    // The movie goes back to how it was before the apply.
    if (before) {
      UseMovieEditState(inMovie->GetMovie(), before);
      DisposeMovieEditState(before);
    }
    throw;
  }
  try {
    return new CMovieAction(inMovie, before, STRx_MovieEdits,
                            replaced ? kMovieEditSessionReplaced : kMovieEditSession);
  } catch (...) {
    // The action adopts the state only once it exists.
    if (before) DisposeMovieEditState(before);
    throw;
  }
}

SInt16 USessionSupport::FrameParamsAtTime(CMotionData* inData, Movie inMovie, SInt32 inTime, bool inPreview,
                                          RenderFrameParams& ioDocParams, RenderFrameParams& outParams) {
  auto noCorrection = [&ioDocParams] {
    SetIdentityMatrix(&ioDocParams.firstMatrix);
    SetIdentityMatrix(&ioDocParams.secondMatrix);
    ioDocParams.firstMeasure = ioDocParams.secondMeasure = 0;
  };
  if (!inPreview) {
    noCorrection();
    outParams = ioDocParams;
    return kIndicatorNormal;
  }
  outParams = ioDocParams;
  if (inData && inData->FetchMatrixAtTime(inTime, outParams.firstMatrix, outParams.secondMatrix,
                                          outParams.firstMeasure, outParams.secondMeasure))
    return kIndicatorSample;
  MatrixRecord first, second;
  float m1 = 0, m2 = 0;
  Track track = nullptr;
  if (inMovie && CMovieRendering::GetTweenSample(inMovie, inTime, first, second, m1, m2, &track)) {
    if (track) {
      RenderFrameParams own = ioDocParams;
      if (CMovieRendering::ReadRenderParamsFromTrack(track, own) == noErr) outParams = own;
    }
    outParams.firstMatrix = first;
    outParams.secondMatrix = second;
    outParams.firstMeasure = m1;
    outParams.secondMeasure = m2;
    return kIndicatorControl;
  }
  noCorrection();
  outParams = ioDocParams;
  outParams.margins = Rect{0, 0, 0, 0};
  outParams.borderMode = kBorderTransparent;
  return kIndicatorNormal;
}

double USessionSupport::AspectRatio(SInt32 inWidth, SInt32 inHeight) {
  if (inWidth <= 0 || inHeight <= 0) return 1.0;
  return static_cast<double>(inWidth) / inHeight;
}

SInt32 USessionSupport::BoundSide(SInt64 inValue) {
  return static_cast<SInt32>(std::clamp<SInt64>(inValue, 1, kMaxMovieSide));
}

SInt32 USessionSupport::HeightForWidth(SInt32 inWidth, double inRatio) {
  if (!(inRatio > 0) || !std::isfinite(inRatio)) inRatio = 1.0;
  return BoundSide(static_cast<SInt64>(BoundSide(inWidth) / inRatio));
}

SInt32 USessionSupport::WidthForHeight(SInt32 inHeight, double inRatio) {
  if (!(inRatio > 0) || !std::isfinite(inRatio)) inRatio = 1.0;
  return BoundSide(static_cast<SInt64>(BoundSide(inHeight) * inRatio));
}
