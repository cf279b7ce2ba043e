#include "vantrel/VideoExportSource.h"

#include <cstdlib>
#include <cstring>

#include "media/CBuffer.h"
#include "media/CMovie.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/ipc/Events.h"

namespace {

constexpr SInt32 kDescriptionSeedRendered = 1000;

// Lets the main thread see events (the launcher's end) during long exports.
void YieldNow(VideoExportData& v) {
  const UInt32 now = TickCount();
  if (now - v.lastYield <= 60) return;
  EventRecord event;
  WaitNextEvent(everyEvent, &event, 1, nullptr);
  v.lastYield = TickCount();
}

void DrawCurrentFrame(VideoExportData& v) {
  UpdateMovie(v.movie);
  MoviesTask(v.movie, 0);
}

// A frame made of whatever the movie shows at this time: several tracks
// composed, or nothing at all where the movie has an empty edit. The buffer
// starts opaque black so that nothing of an earlier frame stays visible.
void DrawComposedFrame(VideoExportData& v) {
  UInt8* p = reinterpret_cast<UInt8*>(v.sourceData);
  const SInt32 rowBytes = v.source->GetRowBytes();
  for (SInt32 y = 0; y < v.naturalHeight; ++y) {
    UInt8* row = p + static_cast<ptrdiff_t>(y) * rowBytes;
    std::memset(row, 0, static_cast<size_t>(v.naturalWidth) * 4);
    for (SInt32 x = 0; x < v.naturalWidth; ++x) row[4 * x] = 255;
  }
  DrawCurrentFrame(v);
}

// The drawn frame, as pixels of the size the exporter was told: the source
// buffer itself at the natural size, else scaled into the output buffer.
// A description always matches the pixels it goes with.
OSErr AnswerDrawnFrame(VideoExportData& v, MovieExportGetDataParams* p) {
  if (v.width == v.naturalWidth && v.height == v.naturalHeight) {
    p->dataPtr = v.sourceData;
    p->dataSize = v.sourceSize;
    p->desc = reinterpret_cast<SampleDescriptionHandle>(v.sourceDesc);
  } else {
    RenderFrameParams plain;
    plain.fieldMode = kRenderFrame;
    plain.quality = kQualityHigh;
    OSErr err = CMovieRendering::RenderFrame(v.source, v.output, &plain);
    if (err != noErr) return err;
    p->dataPtr = v.outputData;
    p->dataSize = v.outputSize;
    p->desc = reinterpret_cast<SampleDescriptionHandle>(v.outputDesc);
  }
  p->sampleFlags = 0;
  p->descSeed = kDescriptionSeedRendered;
  return noErr;
}

// Output width or height: 0 asks for it; a value sets it. The scale is
// always taken against the natural size, so asking again or setting twice
// keeps it right.
void SizeProperty(Fixed* ioValue, SInt32& ioSize, SInt32 inNatural, Float32& outScale) {
  if (*ioValue == 0) {
    *ioValue = Long2Fix(ioSize);
    return;
  }
  const SInt32 wanted = Fix2Long(*ioValue);
  if (wanted <= 0 || wanted > 16384) return;
  ioSize = wanted;
  outScale = static_cast<Float32>(static_cast<double>(wanted) / inNatural);
}

// The field order of the frames the source answers, as the movie's
// interlace mode states it: the control track's render parameters when the
// movie has one (a single stretched field is progressive), else the video's
// field description or its compressor name.
SInt32 FieldOrderOf(Movie inMovie, Media inVideo, bool inSingleField) {
  const SInt32 count = GetMovieTrackCount(inMovie);
  for (SInt32 i = 1; i <= count; ++i) {
    Track t = GetMovieIndTrack(inMovie, i);
    if (t == nullptr || !GetTrackEnabled(t) || GetTrackLayer(t) != kControlTrackLayer) continue;
    RenderFrameParams params;
    std::memset(static_cast<void*>(&params), 0, sizeof params);
    CMovieRendering::ReadRenderParamsFromTrack(t, params);
    if (IsFieldInterlaced(params.interlaceMode) && !inSingleField) return params.interlaceMode;
    return 0;
  }
  SInt32 fields = 0, detail = 0;
  if (CMovieRendering::GetInterlaceInfo(inVideo, &fields, &detail)) {
    if (fields != 2) return 0;
    return (detail == 6 || detail == 14) ? kInterlace_EvenFirst : kInterlace_OddFirst;
  }
  Handle desc = NewHandle(0);
  if (desc == nullptr) return 0;
  GetMediaSampleDescription(inVideo, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
  SInt32 order = 0;
  if (GetHandleSize(desc) >= static_cast<SInt32>(sizeof(ImageDescription))) {
    QInterlaceMode mode = 1;
    QInterlaceDelay delay = 0;
    CMovie::InterlaceModeForName(reinterpret_cast<ImageDescription*>(*desc)->name, mode, delay);
    if (IsFieldInterlaced(mode)) order = mode;
  }
  DisposeHandle(desc);
  return order;
}

}  // namespace

OSErr myVideoExportGetPropertyProc(void* inRecord, SInt32, OSType inProperty, void* ioValue) {
  auto* v = static_cast<VideoExportData*>(inRecord);
  if (v == nullptr || ioValue == nullptr) return noErr;
  switch (inProperty) {
    case 'cdec': case 'cflg': case 'cmfr': case 'drat': case 'sptl': case 'tprl':
      SCGetInfo(v->exporter, inProperty, ioValue);
      break;
    case 'chap': case 'iflt':
      *static_cast<UInt32*>(ioValue) = 0;
      break;
    case 'dint':
      *static_cast<Boolean*>(ioValue) = false;
      break;
    case 'ucfg':
      *static_cast<Boolean*>(ioValue) = true;
      break;
    case 'dura': {
      auto* r = static_cast<TimeRecord*>(ioValue);
      r->value = SInt64ToWide(GetMediaDuration(v->media));
      r->scale = GetMediaTimeScale(v->media);
      r->base = nullptr;
      break;
    }
    case 'wdth':
      // The size is fixed once frames have gone out.
      if (v->output == nullptr || *static_cast<Fixed*>(ioValue) == 0)
        SizeProperty(static_cast<Fixed*>(ioValue), v->width, v->naturalWidth, v->hScale);
      break;
    case 'fiel':
      *static_cast<SInt32*>(ioValue) = v->fieldOrder;
      break;
    case 'hegt':
      if (v->output == nullptr || *static_cast<Fixed*>(ioValue) == 0)
        SizeProperty(static_cast<Fixed*>(ioValue), v->height, v->naturalHeight, v->vScale);
      break;
    default:
      break;
  }
  return noErr;
}

OSErr myVideoExportGetDataProc(void* inRecord, MovieExportGetDataParams* ioParams) {
  auto* v = static_cast<VideoExportData*>(inRecord);
  if (v == nullptr || ioParams == nullptr) return paramErr;
  YieldNow(*v);
  if (v->output == nullptr) {
    try {
      v->output = new CBuffer(Rect{0, 0, static_cast<SInt16>(v->height), static_cast<SInt16>(v->width)},
                              kBufferDepth8, kBufferModeARGB);
    } catch (...) {
      return ErrorCodeToOSErr(err_NilPointer);
    }
    v->outputData = v->output->GetDataPtr(static_cast<const Point*>(nullptr));
    v->outputSize = v->output->GetHeight() * v->output->GetRowBytes();
    v->outputDesc = v->output->GetImageDescription();
    if (v->outputDesc == nullptr || v->outputData == nullptr) return ErrorCodeToOSErr(err_NilPointer);
  }

  const TimeScale S = GetMovieTimeScale(v->movie);
  const TimeValue duration = GetMovieDuration(v->movie);
  const TimeValue r = ioParams->requestedTime;
  const TimeValue tolerance = S / 60;
  TimeValue t = r;
  if (std::abs(v->nextTime - r) <= tolerance) {
    t = v->nextTime;
  } else if (r != 0) {
    // The exporter steps at a rate of its own: the sample before this one
    // may not have gone out, so a non-sync sample cannot be passed on.
    v->rendered = true;
  }

  static const OSType kVisual = VisualMediaCharacteristic;
  TimeValue found = -1;
  GetMovieNextInterestingTime(v->movie, nextTimeStep, 1, &kVisual, t, fixed1, &found, nullptr);
  if (found < 0 || found > duration) {
    ioParams->durationPerSample = duration - t;
    v->nextTime = duration + 1;
  } else {
    v->nextTime = found;
    ioParams->durationPerSample = found - t;
    if (ioParams->durationPerSample == 21 && S == 600) ioParams->durationPerSample = 20;
  }
  ioParams->actualSampleCount = 1;

  SetMovieTimeValue(v->movie, t);
  const TimeValue m = GetMovieTime(v->movie, nullptr);
  if (m >= duration) return eofErr;
  ioParams->descType = VideoMediaType;
  ioParams->actualTime = r;

  MatrixRecord first, second;
  float firstMeasure = 0, secondMeasure = 0;
  Track control = nullptr;
  if (CMovieRendering::GetTweenSample(v->movie, m, first, second, firstMeasure, secondMeasure, &control)) {
    v->rendered = true;
    ioParams->sampleFlags = 0;
    ioParams->descSeed = kDescriptionSeedRendered;
    DrawCurrentFrame(*v);
    // Without an 'RdPr' item the frame is drawn from a zeroed record
    // (transparent border), not from the record's own defaults.
    RenderFrameParams params;
    std::memset(static_cast<void*>(&params), 0, sizeof params);
    CMovieRendering::ReadRenderParamsFromTrack(control, params);
    for (MatrixRecord* mx : {&first, &second}) {
      mx->matrix[2][0] = X2Fix(Fix2X(mx->matrix[2][0]) * v->hScale);
      mx->matrix[2][1] = X2Fix(Fix2X(mx->matrix[2][1]) * v->vScale);
    }
    params.firstMatrix = first;
    params.secondMatrix = second;
    params.firstMeasure = firstMeasure;
    params.secondMeasure = secondMeasure;
    if (IsFieldInterlaced(params.interlaceMode)) {
      params.fieldMode = v->singleField ? kRenderFirstFieldStretch : kRenderBothFields;
    } else {
      params.interlaceMode = kInterlace_Progressive;
      params.fieldMode = kRenderFrame;
    }
    params.quality = kQualityHigh;
    OSErr err = CMovieRendering::RenderFrame(v->source, v->output, &params);
    ioParams->dataPtr = v->outputData;
    ioParams->dataSize = v->outputSize;
    ioParams->desc = reinterpret_cast<SampleDescriptionHandle>(v->outputDesc);
    return err;
  }

  HUnlock(v->sample);
  SInt32 index = 0;
  SInt16 flags = 0;
  const bool have = CMovieRendering::GetVideoSample(v->movie, m, v->sample, v->sampleDesc, &index, &flags);
  HLock(v->sample);
  if (!have) {
    // No single stored sample stands for this frame (several visible
    // tracks, or none at an empty edit): draw what the movie shows.
    DrawComposedFrame(*v);
    return AnswerDrawnFrame(*v, ioParams);
  }
  // Only a stored picture that is the frame itself goes through as it is
  // stored: a sync sample of uncompressed pixels. A compressed sample is
  // found by its decode time, which is not the frame's own time where the
  // pictures are reordered, and it may need the samples before it (and
  // after it): the movie draws it, feeding its decoder in decode order from
  // the preceding sync sample, whatever the exporter skipped.
  const bool plainPixels = GetHandleSize(reinterpret_cast<Handle>(v->sampleDesc)) >=
                               static_cast<SInt32>(sizeof(ImageDescription)) &&
                           reinterpret_cast<ImageDescription*>(*v->sampleDesc)->cType == kRawCodecType;
  if ((flags & mediaSampleNotSync) == 0 && plainPixels) {
    v->rendered = false;
    ioParams->sampleFlags = flags;
    ioParams->descSeed = index;
    ioParams->dataPtr = *v->sample;
    ioParams->dataSize = GetHandleSize(v->sample);
    ioParams->desc = v->sampleDesc;
    return noErr;
  }
  DrawCurrentFrame(*v);
  return AnswerDrawnFrame(*v, ioParams);
}

void SetUpVideoExportSource(VideoExportData& ioData, MovieExportComponent inExporter, Movie inMovie, Track inTrack,
                            bool inSingleField) {
  Rect natural;
  GetMovieNaturalBoundsRect(inMovie, &natural);
  OffsetRect(&natural, static_cast<SInt16>(-natural.left), static_cast<SInt16>(-natural.top));
  if (natural.right <= 0 || natural.bottom <= 0) Throw_(invalidRect);
  SetMovieBox(inMovie, &natural);
  ioData.source = new CBuffer(natural, kBufferDepth8, kBufferModeARGB);
  ioData.world = ioData.source->CreateGWorld(nullptr, nullptr);
  ThrowIfNil_(ioData.world);
  SetMovieGWorld(inMovie, ioData.world, nullptr);
  ThrowIfOSErr_(GetMoviesError());
  ioData.exporter = inExporter;
  ioData.movie = inMovie;
  ioData.track = inTrack;
  ioData.media = GetTrackMedia(inTrack);
  ThrowIfNil_(ioData.media);
  ioData.naturalWidth = ioData.width = natural.right - natural.left;
  ioData.naturalHeight = ioData.height = natural.bottom - natural.top;
  ioData.sourceData = ioData.source->GetDataPtr(static_cast<const Point*>(nullptr));
  ioData.sourceSize = ioData.source->GetHeight() * ioData.source->GetRowBytes();
  ioData.sourceDesc = ioData.source->GetImageDescription();
  ThrowIfNil_(ioData.sourceDesc);
  ioData.sample = NewHandle(0);
  ioData.sampleDesc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
  ThrowIfNil_(ioData.sample);
  ThrowIfNil_(ioData.sampleDesc);
  ioData.rendered = false;
  ioData.hScale = ioData.vScale = 1.0f;
  ioData.singleField = inSingleField;
  ioData.nextTime = 0;
  ioData.lastYield = TickCount();
  ioData.fieldOrder = FieldOrderOf(inMovie, ioData.media, inSingleField);
  SInt32 trackID = 0;
  ThrowIfOSErr_(MovieExportAddDataSource(inExporter, VideoMediaType, GetMovieTimeScale(inMovie), &trackID,
                                         myVideoExportGetPropertyProc, myVideoExportGetDataProc, &ioData));
}

void DisposeVideoExportSource(VideoExportData& ioData) {
  if (ioData.movie && ioData.world) SetMovieGWorld(ioData.movie, nullptr, nullptr);
  if (ioData.world) DisposeGWorld(ioData.world);
  if (ioData.source) ioData.source->Release();
  if (ioData.output) ioData.output->Release();
  DisposeHandle(reinterpret_cast<Handle>(ioData.sourceDesc));
  DisposeHandle(reinterpret_cast<Handle>(ioData.outputDesc));
  DisposeHandle(ioData.sample);
  DisposeHandle(reinterpret_cast<Handle>(ioData.sampleDesc));
  ioData = VideoExportData();
}
