#include <cstring>
#include <vector>

#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

OSErr CaughtCode(const LException& e) { return ErrorCodeToOSErr(e.GetErrorCode()); }

void WriteMatrixTag(LTagWriter& w, UInt32 tag, const MatrixRecord& m) {
  UInt8 bytes[36];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) WriteBE32(bytes + 4 * (3 * r + c), static_cast<UInt32>(m.matrix[r][c]));
  ThrowIfOSErr_(w.WriteNextTag(tag, sizeof bytes, bytes));
}

// Replaces item 1 of a user-data type with the writer's stream.
OSErr ReplaceUserData(Track inTrack, OSType inType, LTagWriter& w) {
  if (!inTrack) return ErrorCodeToOSErr(err_NilPointer);
  UserData ud = GetTrackUserData(inTrack);
  if (!ud) return ErrorCodeToOSErr(err_NilPointer);
  RemoveUserData(ud, inType, 1);
  return AddUserData(ud, w.GetHandle(), inType);
}

// Reads item 1 of a user-data type into a handle owned by the caller.
OSErr FetchUserData(Track inTrack, OSType inType, StHandleBlock& outData) {
  if (!inTrack) return ErrorCodeToOSErr(err_NilPointer);
  UserData ud = GetTrackUserData(inTrack);
  if (!ud) return ErrorCodeToOSErr(err_NilPointer);
  outData.Adopt(NewHandle(0));
  if (!outData.Get()) return ErrorCodeToOSErr(err_NilPointer);
  return GetUserData(ud, outData, inType, 1);
}

// Reads item 1 of a user-data type as a tagged stream, handing every record
// to inRecord; unknown tags are the callback's to skip.
template <class RecordProc>
OSErr ReadTaggedItem(Track inTrack, OSType inType, RecordProc inRecord) {
  try {
    StHandleBlock data(0);
    OSErr err = FetchUserData(inTrack, inType, data);
    if (err != noErr) return err;
    LTagReader r(data.Get(), false);
    UInt32 tag, length;
    while (r.ReadNextTag(tag, length)) inRecord(r, tag, length);
    return noErr;
  } catch (const LException& e) {
    return CaughtCode(e);
  }
}

// Reads a record's data when it is exactly the expected length.
bool ReadExact(LTagReader& r, UInt32 length, void* out, UInt32 expected) {
  if (length != expected) return false;
  r.ReadData(out, static_cast<SInt32>(expected));
  return true;
}

}  // namespace

bool CMovieRendering::GetTweenSample(Movie inMovie, SInt32 inTime, MatrixRecord& outFirst, MatrixRecord& outSecond,
                                     float& outFirstMeasure, float& outSecondMeasure, Track* outTrack) {
  if (outTrack) *outTrack = nullptr;
  try {
    if (!inMovie) return false;
    StHandleBlock data(0);
    SInt32 count = GetMovieTrackCount(inMovie);
    for (SInt32 i = 1; i <= count; ++i) {
      Track t = GetMovieIndTrack(inMovie, i);
      if (!t || !GetTrackEnabled(t) || GetTrackLayer(t) != kControlTrackLayer) continue;
      Media media = GetTrackMedia(t);
      if (!media) return false;
      OSType type = 0;
      GetMediaHandlerDescription(media, &type, nullptr, nullptr);
      if (type != kTweenMediaType) continue;
      TimeValue mediaTime = TrackTimeToMediaTime(inTime, t);
      if (mediaTime < 0) continue;
      SInt32 size = 0;
      if (GetMediaSample(media, data, 0, &size, mediaTime, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr) !=
          noErr)
        continue;
      TweenSample s;
      size_t have = static_cast<size_t>(std::min(size, GetHandleSize(data)));
      // A sample too short for its version is not read past its end.
      if (!TweenSampleFromBytes(reinterpret_cast<const UInt8*>(*data.Get()), have, s)) continue;
      outFirst = s.first;
      outSecond = s.second;
      outFirstMeasure = s.firstMeasure;
      outSecondMeasure = s.secondMeasure;
      if (outTrack) *outTrack = t;
      return true;
    }
  } catch (...) {
    LogCurrentException("render", "tween sample lookup");
  }
  return false;
}

OSErr CMovieRendering::WriteRenderParamsToTrack(Track inTrack, RenderFrameParams& inParams) {
  try {
    LTagWriter w;
    ThrowIfOSErr_(w.WriteSInt32('IntM', inParams.interlaceMode));
    ThrowIfOSErr_(w.WriteSInt32('FlMd', inParams.fieldMode));
    ThrowIfOSErr_(w.WriteSInt32('Qlty', inParams.quality));
    ThrowIfOSErr_(w.WriteSInt32('BcMd', inParams.borderMode));
    WriteMatrixTag(w, 'Mtrx', inParams.firstMatrix);
    UInt8 margins[8];
    WriteBE16(margins, static_cast<UInt16>(inParams.margins.top));
    WriteBE16(margins + 2, static_cast<UInt16>(inParams.margins.left));
    WriteBE16(margins + 4, static_cast<UInt16>(inParams.margins.bottom));
    WriteBE16(margins + 6, static_cast<UInt16>(inParams.margins.right));
    ThrowIfOSErr_(w.WriteNextTag('CtMB', sizeof margins, margins));
    UInt8 color[6];
    WriteBE16(color, inParams.borderColor.red);
    WriteBE16(color + 2, inParams.borderColor.green);
    WriteBE16(color + 4, inParams.borderColor.blue);
    ThrowIfOSErr_(w.WriteNextTag('BcCl', sizeof color, color));
    ThrowIfOSErr_(w.WriteNextTag(kTagEndOfSection, 0, nullptr));
    return ReplaceUserData(inTrack, 'RdPr', w);
  } catch (const LException& e) {
    return CaughtCode(e);
  }
}

OSErr CMovieRendering::ReadRenderParamsFromTrack(Track inTrack, RenderFrameParams& ioParams) {
  return ReadTaggedItem(inTrack, 'RdPr', [&](LTagReader& r, UInt32 tag, UInt32 length) {
    UInt8 buf[36];
    switch (tag) {
      case 'IntM':
        if (length == 4) r.ReadSInt32(ioParams.interlaceMode);
        break;
      case 'FlMd':
        if (length == 4) r.ReadSInt32(ioParams.fieldMode);
        break;
      case 'Qlty':
        // Stored quality is always read as high.
        ioParams.quality = kQualityHigh;
        break;
      case 'BcMd':
        if (length == 4) r.ReadSInt32(ioParams.borderMode);
        break;
      case 'Mtrx':
        // A stored matrix that cannot be a correction leaves the one given.
        if (ReadExact(r, length, buf, 36)) {
          MatrixRecord m;
          for (int i = 0; i < 9; ++i) m.matrix[i / 3][i % 3] = static_cast<Fixed>(ReadBE32(buf + 4 * i));
          if (IsPlausibleCorrection(m)) ioParams.firstMatrix = m;
        }
        break;
      case 'CtMB':
        if (ReadExact(r, length, buf, 8)) {
          ioParams.margins.top = static_cast<SInt16>(ReadBE16(buf));
          ioParams.margins.left = static_cast<SInt16>(ReadBE16(buf + 2));
          ioParams.margins.bottom = static_cast<SInt16>(ReadBE16(buf + 4));
          ioParams.margins.right = static_cast<SInt16>(ReadBE16(buf + 6));
        }
        break;
      case 'BcCl':
        if (ReadExact(r, length, buf, 6)) {
          ioParams.borderColor.red = ReadBE16(buf);
          ioParams.borderColor.green = ReadBE16(buf + 2);
          ioParams.borderColor.blue = ReadBE16(buf + 4);
        }
        break;
      default:
        break;
    }
  });
}

OSErr CMovieRendering::WriteMoSettingsToTrack(Track inTrack, MotionSettings& s) {
  try {
    LTagWriter w;
    ThrowIfOSErr_(w.WriteFloat('loTm', s.lowpassTime));
    ThrowIfOSErr_(w.WriteFloat('FiDr', s.fadeInDuration));
    ThrowIfOSErr_(w.WriteFloat('FoDr', s.fadeOutDuration));
    ThrowIfOSErr_(w.WriteFloat('Tlrc', s.tolerance));
    ThrowIfOSErr_(w.WriteNextTag('DoHr', 1, &s.doHorizontal));
    ThrowIfOSErr_(w.WriteNextTag('DoVt', 1, &s.doVertical));
    ThrowIfOSErr_(w.WriteNextTag('DoRt', 1, &s.doRotation));
    ThrowIfOSErr_(w.WriteNextTag('DoZm', 1, &s.doZoom));
    ThrowIfOSErr_(w.WriteSInt32('ZmMd', s.zoomMode));
    ThrowIfOSErr_(w.WriteNextTag(kTagEndOfSection, 0, nullptr));
    return ReplaceUserData(inTrack, 'MoSt', w);
  } catch (const LException& e) {
    return CaughtCode(e);
  }
}

OSErr CMovieRendering::ReadMoSettingsFromTrack(Track inTrack, MotionSettings& s) {
  return ReadTaggedItem(inTrack, 'MoSt', [&](LTagReader& r, UInt32 tag, UInt32 length) {
    switch (tag) {
      case 'loTm':
        if (length == 4) r.ReadFloat(s.lowpassTime);
        break;
      case 'FiDr':
        if (length == 4) r.ReadFloat(s.fadeInDuration);
        break;
      case 'FoDr':
        if (length == 4) r.ReadFloat(s.fadeOutDuration);
        break;
      case 'Tlrc':
        if (length == 4) r.ReadFloat(s.tolerance);
        break;
      case 'DoHr':
        ReadExact(r, length, &s.doHorizontal, 1);
        break;
      case 'DoVt':
        ReadExact(r, length, &s.doVertical, 1);
        break;
      case 'DoRt':
        ReadExact(r, length, &s.doRotation, 1);
        break;
      case 'DoZm':
        ReadExact(r, length, &s.doZoom, 1);
        break;
      case 'ZmMd':
        if (length == 4) r.ReadSInt32(s.zoomMode);
        break;
      default:
        break;
    }
  });
}
