#include "vantrel/VideoExportSource.h"

#include <cstdlib>

#include "media/CBuffer.h"
#include "media/CMovieRendering.h"
#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
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
    case 'hegt':
      if (v->output == nullptr || *static_cast<Fixed*>(ioValue) == 0)
        SizeProperty(static_cast<Fixed*>(ioValue), v->height, v->naturalHeight, v->vScale);
      break;
    default:
      break;
  }
  return noErr;
}

OSErr myVideoExportGetDataProc(void* inRecord, MovieExportGetDataParams* p) {
  auto* v = static_cast<VideoExportData*>(inRecord);
  if (v == nullptr || p == nullptr) return paramErr;
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
  const TimeValue r = p->requestedTime;
  const TimeValue tolerance = S / 60;
  TimeValue t = r;
  if (std::abs(v->nextTime - r) <= tolerance) t = v->nextTime;

  static const OSType kVisual = VisualMediaCharacteristic;
  TimeValue found = -1;
  GetMovieNextInterestingTime(v->movie, nextTimeStep, 1, &kVisual, t, fixed1, &found, nullptr);
  if (found < 0 || found > duration) {
    p->durationPerSample = duration - t;
    v->nextTime = duration + 1;
  } else {
    v->nextTime = found;
    p->durationPerSample = found - t;
    if (p->durationPerSample == 21 && S == 600) p->durationPerSample = 20;
  }
  p->actualSampleCount = 1;

  SetMovieTimeValue(v->movie, t);
  const TimeValue m = GetMovieTime(v->movie, nullptr);
  if (m >= duration) return eofErr;
  p->descType = VideoMediaType;
  p->actualTime = r;

  MatrixRecord first, second;
  float firstMeasure = 0, secondMeasure = 0;
  Track control = nullptr;
  if (CMovieRendering::GetTweenSample(v->movie, m, first, second, firstMeasure, secondMeasure, &control)) {
    v->rendered = true;
    p->sampleFlags = 0;
    p->descSeed = kDescriptionSeedRendered;
    DrawCurrentFrame(*v);
    RenderFrameParams params;
    CMovieRendering::ReadRenderParamsFromTrack(control, params);
    for (MatrixRecord* mx : {&first, &second}) {
      mx->matrix[2][0] = X2Fix(Fix2X(mx->matrix[2][0]) * v->hScale);
      mx->matrix[2][1] = X2Fix(Fix2X(mx->matrix[2][1]) * v->vScale);
    }
    params.firstMatrix = first;
    params.secondMatrix = second;
    params.firstMeasure = firstMeasure;
    params.secondMeasure = secondMeasure;
    if (params.interlaceMode == kInterlaceOddFieldFirst || params.interlaceMode == kInterlaceEvenFieldFirst) {
      params.fieldMode = v->singleField ? kRenderFirstFieldStretch : kRenderBothFields;
    } else {
      params.interlaceMode = kInterlaceProgressive;
      params.fieldMode = kRenderFrame;
    }
    params.quality = kQualityHigh;
    OSErr err = CMovieRendering::RenderFrame(v->source, v->output, &params);
    p->dataPtr = v->outputData;
    p->dataSize = v->outputSize;
    p->desc = reinterpret_cast<SampleDescriptionHandle>(v->outputDesc);
    return err;
  }

  HUnlock(v->sample);
  SInt32 index = 0;
  SInt16 flags = 0;
  const bool have = CMovieRendering::GetVideoSample(v->movie, m, v->sample, v->sampleDesc, &index, &flags);
  HLock(v->sample);
  if (!have) return AnswerDrawnFrame(*v, p);
  if (r == 0) v->rendered = true;
  if ((flags & mediaSampleNotSync) == 0 || !v->rendered) {
    v->rendered = false;
    p->sampleFlags = flags;
    p->descSeed = index;
    p->dataPtr = *v->sample;
    p->dataSize = GetHandleSize(v->sample);
    p->desc = v->sampleDesc;
    return noErr;
  }
  DrawCurrentFrame(*v);
  return AnswerDrawnFrame(*v, p);
}

void SetUpVideoExportSource(VideoExportData& v, MovieExportComponent inExporter, Movie inMovie, Track inTrack,
                            bool inSingleField) {
  Rect natural;
  GetMovieNaturalBoundsRect(inMovie, &natural);
  OffsetRect(&natural, static_cast<SInt16>(-natural.left), static_cast<SInt16>(-natural.top));
  if (natural.right <= 0 || natural.bottom <= 0) Throw_(invalidRect);
  SetMovieBox(inMovie, &natural);
  v.source = new CBuffer(natural, kBufferDepth8, kBufferModeARGB);
  v.world = v.source->CreateGWorld(nullptr, nullptr);
  ThrowIfNil_(v.world);
  SetMovieGWorld(inMovie, v.world, nullptr);
  ThrowIfOSErr_(GetMoviesError());
  v.exporter = inExporter;
  v.movie = inMovie;
  v.track = inTrack;
  v.media = GetTrackMedia(inTrack);
  ThrowIfNil_(v.media);
  v.naturalWidth = v.width = natural.right - natural.left;
  v.naturalHeight = v.height = natural.bottom - natural.top;
  v.sourceData = v.source->GetDataPtr(static_cast<const Point*>(nullptr));
  v.sourceSize = v.source->GetHeight() * v.source->GetRowBytes();
  v.sourceDesc = v.source->GetImageDescription();
  ThrowIfNil_(v.sourceDesc);
  v.sample = NewHandle(0);
  v.sampleDesc = reinterpret_cast<SampleDescriptionHandle>(NewHandle(0));
  ThrowIfNil_(v.sample);
  ThrowIfNil_(v.sampleDesc);
  v.rendered = false;
  v.hScale = v.vScale = 1.0f;
  v.singleField = inSingleField;
  v.nextTime = 0;
  v.lastYield = TickCount();
  SInt32 trackID = 0;
  ThrowIfOSErr_(MovieExportAddDataSource(inExporter, VideoMediaType, GetMovieTimeScale(inMovie), &trackID,
                                         myVideoExportGetPropertyProc, myVideoExportGetDataProc, &v));
}

void DisposeVideoExportSource(VideoExportData& v) {
  if (v.movie && v.world) SetMovieGWorld(v.movie, nullptr, nullptr);
  if (v.world) DisposeGWorld(v.world);
  if (v.source) v.source->Release();
  if (v.output) v.output->Release();
  DisposeHandle(reinterpret_cast<Handle>(v.sourceDesc));
  DisposeHandle(reinterpret_cast<Handle>(v.outputDesc));
  DisposeHandle(v.sample);
  DisposeHandle(reinterpret_cast<Handle>(v.sampleDesc));
  v = VideoExportData();
}
