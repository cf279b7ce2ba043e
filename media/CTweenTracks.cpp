#include "media/CTweenTracks.h"

#include <cstring>
#include <memory>

#include "media/CMovie.h"
#include "media/CMovieTrack.h"
#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"

namespace {

void PutMatrix(UInt8* p, const MatrixRecord& m) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) WriteBE32(p + 4 * (3 * r + c), static_cast<UInt32>(m.matrix[r][c]));
}

void GetMatrix(const UInt8* p, MatrixRecord& m) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.matrix[r][c] = static_cast<Fixed>(ReadBE32(p + 4 * (3 * r + c)));
}

}  // namespace

void TweenSampleToBytes(const TweenSample& s, UInt8 out[kTweenSampleSize]) {
  std::memset(out, 0, kTweenSampleSize);
  out[0] = kTweenSampleVersion;
  PutMatrix(out + 2, s.second);
  WriteBEFloat(out + 40, s.secondMeasure);
  PutMatrix(out + 44, s.first);
  WriteBEFloat(out + 80, s.firstMeasure);
}

bool TweenSampleFromBytes(const UInt8* in, size_t size, TweenSample& s) {
  if (!in || size < 1) return false;
  UInt8 version = in[0];
  if (version >= 3) {
    if (size < kTweenSampleSize) return false;
    GetMatrix(in + 44, s.first);
    GetMatrix(in + 2, s.second);
    s.firstMeasure = ReadBEFloat(in + 80);
    s.secondMeasure = ReadBEFloat(in + 40);
  } else if (version == 2) {
    if (size < 44) return false;
    GetMatrix(in + 2, s.first);
    s.second = s.first;
    s.firstMeasure = s.secondMeasure = ReadBEFloat(in + 40);
  } else {
    if (size < 38) return false;
    GetMatrix(in + 2, s.first);
    s.second = s.first;
    s.firstMeasure = s.secondMeasure = 1.0f;
  }
  s.version = version;
  return true;
}

SInt32 CTweenTracks::HasControlTracks(Movie inMovie) {
  if (!inMovie) return 0;
  SInt32 found = 0;
  SInt32 count = GetMovieTrackCount(inMovie);
  for (SInt32 i = 1; i <= count; ++i) {
    Track t = GetMovieIndTrack(inMovie, i);
    if (t && GetTrackLayer(t) == kControlTrackLayer && GetTrackEnabled(t) && GetTrackDuration(t) > 0) ++found;
  }
  return found;
}

OSErr CTweenTracks::CreateTweenTrackFromMotionData(Movie inMovie, const Rect& inEncodedBounds, CMotionData& inData,
                                                   Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie) return ErrorCodeToOSErr(err_NilPointer);
  TArray<FrameData>& frames = inData.GetFrames();
  if (frames.GetCount() < 2) return noErr;
  std::unique_ptr<CMovieTrackMedia> builder;
  SampleDescriptionHandle desc = nullptr;
  OSErr result = noErr;
  try {
    SInt32 scale = GetMovieTimeScale(inMovie);
    builder = std::make_unique<CMovieTrackMedia>(inMovie, inEncodedBounds, kTweenMediaType, &scale);
    desc = reinterpret_cast<SampleDescriptionHandle>(NewHandleClear(sizeof(SampleDescription)));
    ThrowIfNil_(desc);
    (**desc).descSize = sizeof(SampleDescription);
    (**desc).dataFormat = static_cast<SInt32>(kTweenMediaType);
    StHandleBlock sample(static_cast<SInt32>(kTweenSampleSize));
    for (ArrayIndexT i = 1; i <= frames.GetCount(); ++i) {
      const FrameData& f = frames[i];
      TweenSample ts;
      ts.first = f.matrix1;
      ts.second = f.matrix2;
      ts.firstMeasure = f.measure1;
      ts.secondMeasure = f.measure2;
      SInt32 duration = i < frames.GetCount() ? frames[i + 1].time - f.time : f.duration;
      TweenSampleToBytes(ts, reinterpret_cast<UInt8*>(*sample.Get()));
      ThrowIfOSErr_(builder->AddSample(duration, sample, static_cast<SInt32>(kTweenSampleSize), 0, desc, 0));
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    desc = nullptr;
    Track track = builder->GetTrack();
    ThrowIfNil_(track);
    // The final insert of the media into the track can fail too: report it.
    ThrowIfOSErr_(builder->FinishTrack());
    builder.reset();
    SetTrackOffset(track, frames[1].time);
    SetTrackLayer(track, kControlTrackLayer);
    if (outTrack) *outTrack = track;
  } catch (const LException& e) {
    result = ErrorCodeToOSErr(e.GetErrorCode());
  } catch (const std::bad_alloc&) {
    result = ErrorCodeToOSErr(err_NilPointer);
  }
  if (builder) {
    builder->SetInsertMediaIntoTrack(false);
    builder.reset();
  }
  if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  return result;
}

SInt32 CTweenTracks::GetFrameDataSample(Movie, SInt32, FrameData&) { return -1; }

OSErr CTweenTracks::CreateTweenTrackFromMotionData(CMovie* inMovie, CMotionData& inData, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  Rect bounds;
  inMovie->GetEncodedBounds(bounds);
  return CreateTweenTrackFromMotionData(inMovie->GetMovie(), bounds, inData, outTrack);
}
