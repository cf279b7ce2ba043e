#include "media/CTweenTracks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "media/CMovie.h"
#include "media/CMovieTrack.h"
#include "media/CMovieTrackMediaPict.h"
#include "media/PictCreator.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
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

void TweenSampleToBytes(const TweenSample& inSample, UInt8 out[kTweenSampleSize]) {
  std::memset(out, 0, kTweenSampleSize);
  out[0] = kTweenSampleVersion;
  PutMatrix(out + 2, inSample.second);
  WriteBEFloat(out + 40, inSample.secondMeasure);
  PutMatrix(out + 44, inSample.first);
  WriteBEFloat(out + 80, inSample.firstMeasure);
}

bool TweenSampleFromBytes(const UInt8* in, size_t size, TweenSample& outSample) {
  if (!in || size < 1) return false;
  UInt8 version = in[0];
  if (version >= 3) {
    if (size < kTweenSampleSize) return false;
    GetMatrix(in + 44, outSample.first);
    GetMatrix(in + 2, outSample.second);
    outSample.firstMeasure = ReadBEFloat(in + 80);
    outSample.secondMeasure = ReadBEFloat(in + 40);
  } else if (version == 2) {
    if (size < 44) return false;
    GetMatrix(in + 2, outSample.first);
    outSample.second = outSample.first;
    outSample.firstMeasure = outSample.secondMeasure = ReadBEFloat(in + 40);
  } else {
    if (size < 38) return false;
    GetMatrix(in + 2, outSample.first);
    outSample.second = outSample.first;
    outSample.firstMeasure = outSample.secondMeasure = 1.0f;
  }
  if (!IsPlausibleCorrection(outSample.first) || !IsPlausibleCorrection(outSample.second)) return false;
  // A measure that is no number counts as none.
  if (!std::isfinite(outSample.firstMeasure)) outSample.firstMeasure = 0;
  if (!std::isfinite(outSample.secondMeasure)) outSample.secondMeasure = 0;
  outSample.version = version;
  return true;
}

bool IsPlausibleCorrection(const MatrixRecord& inMatrix) {
  const double a = Fix2X(inMatrix.matrix[0][0]), b = Fix2X(inMatrix.matrix[0][1]);
  const double c = Fix2X(inMatrix.matrix[1][0]), d = Fix2X(inMatrix.matrix[1][1]);
  constexpr double kMaxScale = 100.0;
  if (std::fabs(a) > kMaxScale || std::fabs(b) > kMaxScale || std::fabs(c) > kMaxScale || std::fabs(d) > kMaxScale)
    return false;
  const double det = a * d - b * c;
  return det >= 1.0 / (kMaxScale * kMaxScale) && det <= kMaxScale * kMaxScale;
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

OSErr CTweenTracks::CreateTweenTrackFromFrames(Movie inMovie, const Rect& inEncodedBounds,
                                               const TArray<FrameData>& inFrames, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie) return ErrorCodeToOSErr(err_NilPointer);
  const TArray<FrameData>& frames = inFrames;
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
  } catch (...) {
    result = OSErrOfCurrent();
  }
  if (builder) {
    builder->SetInsertMediaIntoTrack(false);
    builder.reset();
  }
  if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  return result;
}

SInt32 CTweenTracks::GetFrameDataSample(Movie, SInt32, FrameData&) { return -1; }

// ---- Builders the program does not call itself

namespace {

constexpr size_t kAtomHeaderSize = 20;  // size, type, id, reserved, child count, reserved

void PutAtomHeader(std::vector<UInt8>& v, UInt32 size, OSType type, UInt32 id, UInt16 children) {
  size_t at = v.size();
  v.resize(at + kAtomHeaderSize, 0);
  WriteBE32(&v[at], size);
  WriteBE32(&v[at + 4], type);
  WriteBE32(&v[at + 8], id);
  WriteBE16(&v[at + 14], children);
}

void PutLeaf32(std::vector<UInt8>& v, OSType type, UInt32 value) {
  PutAtomHeader(v, kAtomHeaderSize + 4, type, 1, 0);
  UInt8 b[4];
  WriteBE32(b, value);
  v.insert(v.end(), b, b + 4);
}

// The input atom of one reference.
std::vector<UInt8> InputAtom(SInt32 inIndex, UInt32 inInputType) {
  std::vector<UInt8> v;
  PutAtomHeader(v, static_cast<UInt32>(kAtomHeaderSize + 2 * (kAtomHeaderSize + 4)), kInputAtomType,
                static_cast<UInt32>(inIndex), 2);
  PutLeaf32(v, kInputTypeAtomType, inInputType);
  PutLeaf32(v, kInputSubInputAtomType, 1);
  return v;
}

// The input map with the atom for the index replaced. Atoms that do not
// parse end the map: what follows them cannot be told apart from garbage.
std::vector<UInt8> ReplaceInput(const std::vector<UInt8>& inMap, SInt32 inIndex, UInt32 inInputType) {
  std::vector<UInt8> out;
  size_t pos = 0;
  while (pos + kAtomHeaderSize <= inMap.size()) {
    UInt32 size = ReadBE32(&inMap[pos]);
    if (size < kAtomHeaderSize || size > inMap.size() - pos) break;
    bool same = ReadBE32(&inMap[pos + 4]) == kInputAtomType && ReadBE32(&inMap[pos + 8]) == static_cast<UInt32>(inIndex);
    if (!same) out.insert(out.end(), inMap.begin() + static_cast<long>(pos), inMap.begin() + static_cast<long>(pos + size));
    pos += size;
  }
  std::vector<UInt8> atom = InputAtom(inIndex, inInputType);
  out.insert(out.end(), atom.begin(), atom.end());
  return out;
}

OSErr WriteInputMap(Media inMedia, SInt32 inIndex, UInt32 inInputType) {
  UserData ud = GetMediaUserData(inMedia);
  if (!ud) return ErrorCodeToOSErr(err_NilPointer);
  std::vector<UInt8> map;
  StHandleBlock old(0);
  if (CountUserDataType(ud, kMediaInputMapType) > 0) {
    OSErr err = GetUserData(ud, old, kMediaInputMapType, 1);
    if (err != noErr) return err;
    const UInt8* p = reinterpret_cast<const UInt8*>(*old.Get());
    map.assign(p, p + GetHandleSize(old));
  }
  std::vector<UInt8> updated = ReplaceInput(map, inIndex, inInputType);
  return SetUserDataItem(ud, updated.data(), static_cast<SInt32>(updated.size()), kMediaInputMapType, 1);
}

Track FirstEnabledVisualTrack(Movie inMovie) {
  return GetMovieIndTrackType(inMovie, 1, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly);
}

}  // namespace

OSErr CTweenTracks::AddTweenRefToVideoTrack(Track inVideo, Track inTween, UInt32 inInputType) {
  if (!inVideo || !inTween) return ErrorCodeToOSErr(err_NilPointer);
  SInt32 index = 0;
  OSErr err = AddTrackReference(inVideo, inTween, kTweenSourceReference, &index);
  if (err != noErr) return err;
  try {
    Media media = GetTrackMedia(inVideo);
    err = media ? WriteInputMap(media, index, inInputType) : ErrorCodeToOSErr(err_NilPointer);
  } catch (...) {
    err = OSErrOfCurrent();
  }
  if (err != noErr) DeleteTrackReference(inVideo, kTweenSourceReference, index);
  return err;
}

OSErr CTweenTracks::AddTweenRefToAllVideoTracks(Movie inMovie, Track inTween, UInt32 inInputType) {
  if (!inMovie || !inTween) return ErrorCodeToOSErr(err_NilPointer);
  // Take the list first: adding references changes no track list, but the
  // tween track itself is never its own source.
  std::vector<Track> videos;
  for (SInt32 i = 1;; ++i) {
    Track t = GetMovieIndTrackType(inMovie, i, VisualMediaCharacteristic,
                                   movieTrackCharacteristic | movieTrackEnabledOnly);
    if (!t) break;
    if (t != inTween) videos.push_back(t);
  }
  for (Track t : videos) {
    OSErr err = AddTweenRefToVideoTrack(t, inTween, inInputType);
    if (err != noErr) return err;
  }
  return noErr;
}

OSErr CTweenTracks::AddClonedVideoTrack(CMovie* inMovie, SInt32 inStart, SInt32 inDuration, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  if (inStart < 0 || inDuration <= 0) return paramErr;
  Movie movie = inMovie->GetMovie();
  Track source = FirstEnabledVisualTrack(movie);
  if (!source) return ErrorCodeToOSErr(err_NilPointer);

  Fixed width = 0, height = 0;
  GetTrackDimensions(source, &width, &height);
  Track clone = NewMovieTrack(movie, width, height, GetTrackVolume(source));
  if (!clone) {
    OSErr err = GetMoviesError();
    return err != noErr ? err : ErrorCodeToOSErr(err_NilPointer);
  }
  MatrixRecord matrix;
  GetTrackMatrix(source, &matrix);
  SetTrackMatrix(clone, &matrix);
  OSErr err = InsertTrackSegment(source, clone, inStart, inDuration, 0);
  if (err == noErr && GetTrackDuration(clone) <= 0) err = invalidDuration;  // nothing of the source lies there
  if (err == noErr) {
    SetTrackOffset(clone, inStart);
    err = GetMoviesError();
  }
  if (err != noErr) {
    DisposeMovieTrack(clone);
    return err;
  }
  SInt16 layer = GetTrackLayer(source);
  SetTrackLayer(clone, layer < 0x7FFF ? static_cast<SInt16>(layer + 1) : layer);
  if (outTrack) *outTrack = clone;
  return noErr;
}

OSErr CTweenTracks::AddBackgroundTrack(CMovie* inMovie, SInt32 inStart, SInt32 inDuration, RGBColor inColor,
                                       Rect* inRect, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  if (!inMovie || !inMovie->GetMovie()) return ErrorCodeToOSErr(err_NilPointer);
  if (inStart < 0 || inDuration <= 0) return paramErr;
  Movie movie = inMovie->GetMovie();
  Rect rect;
  if (inRect)
    rect = *inRect;
  else
    inMovie->GetEncodedBounds(rect);
  if (EmptyRect(&rect)) return paramErr;

  // Behind every track there is: one layer past the largest, at least 1.
  SInt32 largest = 0;
  SInt32 count = GetMovieTrackCount(movie);
  for (SInt32 i = 1; i <= count; ++i) {
    Track t = GetMovieIndTrack(movie, i);
    if (t) largest = std::max<SInt32>(largest, GetTrackLayer(t));
  }
  SInt16 layer = static_cast<SInt16>(std::clamp<SInt32>(largest + 1, 1, 0x7FFF));

  // Record the painted rectangle in a world of its own, leaving the caller's port alone.
  PicHandle picture = nullptr;
  {
    GWorldPtr world = nullptr;
    Rect worldBounds = {0, 0, 1, 1};
    if (NewGWorld(&world, 32, &worldBounds, nullptr, nullptr, 0) != noErr || !world)
      return ErrorCodeToOSErr(err_NilPointer);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    OSErr err;
    {
      PictCreator creator;
      err = creator.StartRecording(rect);
      if (err == noErr) {
        RGBForeColor(&inColor);
        PaintRect(&rect);
        creator.StopRecording();
        picture = creator.GetPict();
      }
    }
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
    if (err != noErr) return err;
    if (!picture) return ErrorCodeToOSErr(err_NilPointer);
  }

  std::unique_ptr<CMovieTrackMediaPict> builder;
  OSErr result = noErr;
  try {
    SInt32 scale = GetMovieTimeScale(movie);
    builder = std::make_unique<CMovieTrackMediaPict>(movie, rect, &scale);
    ThrowIfOSErr_(builder->AddPict(picture, inDuration));
    Track track = builder->GetTrack();
    ThrowIfNil_(track);
    ThrowIfOSErr_(builder->FinishTrack());
    builder.reset();
    SetTrackOffset(track, inStart);
    SetTrackLayer(track, layer);
    if (outTrack) *outTrack = track;
  } catch (...) {
    result = OSErrOfCurrent();
  }
  if (builder) {
    builder->SetInsertMediaIntoTrack(false);
    builder.reset();
  }
  KillPicture(picture);
  return result;
}
