#include "motion/CMovieStatistic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CMotionData.h"
#include "platform/base/Clock.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LStr255.h"
#include "toolkit/UFileUtils.h"
#include "toolkit/ULocalization.h"

namespace {

constexpr char kLineEnd = 13;
constexpr SInt8 kReadOnly = 1;
constexpr UInt32 kReportTicks = 11;
constexpr SInt16 kControlTrackLayer = 0x3100;

std::string Item(SInt16 inIndex) {
  char text[256];
  ULocalization::GetString(text, STRx_MovieStatistics, inIndex);
  return text;
}

std::string Number(SInt64 inValue) { return std::to_string(inValue); }

std::string Decimals(double inValue) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", inValue);
  return text;
}

std::string PString(ConstStringPtr inText) {
  return std::string(reinterpret_cast<const char*>(inText + 1), inText[0]);
}

std::string Seconds(SInt64 inValue, SInt32 inScale) {
  LStr255 text;
  UMovies::GetMSecString(inScale > 0 ? static_cast<double>(inValue) / inScale : 0.0, text);
  return PString(text);
}

// Sizes in kilobytes below one megabyte, else in megabytes.
std::string KiloOrMega(SInt64 inBytes) {
  if (inBytes / 1024 < 1024) return Number(inBytes / 1024) + " kB";
  return Number(inBytes / 1048576) + " MB";
}

std::string MediaName(OSType inType, SInt16 inLayer) {
  if (inType == kTweenMediaType) {
    if (inLayer == kMotionTrackLayer) return Item(33);
    if (inLayer == kControlTrackLayer) return Item(34);
  }
  const char* name = UMovies::GetMediaTypeName(inType);
  return name ? name : "unknown";
}

std::string QualityText(UInt32 inQuality) {
  switch (inQuality) {
    case 1024: return Item(24);
    case 1023: return Item(25);
    case 0: return Item(26);
    case 256: return Item(27);
    case 512: return Item(28);
    case 768: return Item(29);
    default: return Number(inQuality);
  }
}

SInt64 TrackDataSize(Track inTrack) {
  SInt64 size = 0;
  Media media = GetTrackMedia(inTrack);
  if (media && GetMediaDataSize64(media, &size) == noErr) return size;
  return 0;
}

// The samples the track plays: those its edits show. The media keeps the
// samples an edit such as a cut took out of the track.
SInt64 PlayedSampleCount(Track inTrack, Media inMedia) {
  const TimeValue end = GetTrackDuration(inTrack);
  // Edits name display times; samples are found by decode time. Pictures
  // shown later than decoded (reordered frames) are shown that much later.
  TimeValue firstShown = -1, firstDecoded = 0;
  GetMediaNextInterestingTime(inMedia, nextTimeMediaSample | nextTimeEdgeOK, 0, fixed1, &firstShown, nullptr);
  SampleNumToMediaTime(inMedia, 1, &firstDecoded, nullptr);
  const TimeValue shift = firstShown > firstDecoded ? firstShown - firstDecoded : 0;
  const TimeValue lastDecoded = GetMediaDuration(inMedia) - 1;
  auto sampleAt = [&](TimeValue inShown, SInt32& outNumber) {
    const TimeValue decoded = std::clamp<TimeValue>(inShown - shift, 0, std::max<TimeValue>(0, lastDecoded));
    return MediaTimeToSampleNum(inMedia, decoded, &outNumber, nullptr, nullptr) == noErr;
  };
  SInt64 count = 0;
  TimeValue at = 0;
  while (at >= 0 && at < end) {
    TimeValue next = -1;
    GetTrackNextInterestingTime(inTrack, nextTimeTrackEdit, at, fixed1, &next, nullptr);
    const TimeValue stop = next > at && next < end ? next : end;
    const TimeValue first = TrackTimeToMediaTime(at, inTrack);
    const TimeValue last = TrackTimeToMediaTime(stop - 1, inTrack);
    SInt32 firstNumber = 0, lastNumber = 0;
    if (first >= 0 && last >= 0 && sampleAt(first, firstNumber) && sampleAt(last, lastNumber) && firstNumber > 0 &&
        lastNumber >= firstNumber)
      count += lastNumber - firstNumber + 1;
    at = stop;
  }
  return count;
}

// The end of the last enabled visual track, within the movie's duration.
SInt32 PicturesEnd(Movie inMovie, SInt32 inDuration) {
  SInt32 end = 0;
  for (SInt32 i = 1;; ++i) {
    Track track =
        GetMovieIndTrackType(inMovie, i, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly);
    if (!track) break;
    end = std::max<SInt32>(end, GetTrackDuration(track));  // its edits, a leading empty one included
  }
  return std::min(end, inDuration);
}

}  // namespace

// ---------------------------------------------------------------------------

CMovieStatistic::CMovieStatistic(Movie inMovie) {
  Init();
  mMovie = inMovie;
  mIsMovie = true;
  mDuration = inMovie ? GetMovieDuration(inMovie) : 0;
}

CMovieStatistic::CMovieStatistic(const FSSpec* inSpec) {
  Init();
  ThrowIfNil_(inSpec);
  std::memcpy(mName, inSpec->name, static_cast<size_t>(inSpec->name[0]) + 1);
  FInfo info{};
  OSType nameType = 0;
  const bool typed = FSpGetFInfo(inSpec, &info) == noErr && UMovies::IsReadableMovieFileType(info.fdType);
  mIsMovie = typed || (UFileUtils::GetFileTypeForName(mName, &nameType) == noErr &&
                       UMovies::IsReadableMovieFileType(nameType));
  ThrowIfOSErr_(OpenMovieFile(inSpec, &mFileRef, kReadOnly));
  SInt16 resId = 0;
  const OSErr err = NewMovieFromFile(&mMovie, mFileRef, &resId, nullptr, newMovieActive, nullptr);
  if (err != noErr || mMovie == nullptr) {
    if (mMovie) DisposeMovie(mMovie);
    mMovie = nullptr;
    CloseMovieFile(mFileRef);
    mFileRef = 0;
    Throw_(err != noErr ? static_cast<ExceptionCode>(err) : err_NilPointer);
  }
  mOwnsMovie = true;
  mDuration = GetMovieDuration(mMovie);
}

CMovieStatistic::~CMovieStatistic() {
  if (mOwnsMovie && mMovie) DisposeMovie(mMovie);
  if (mFileRef) CloseMovieFile(mFileRef);
}

void CMovieStatistic::Init() {
  mMovie = nullptr;
  mFileRef = 0;
  mName[0] = 0;
  mCurrentTime = 0;
  mSearchFlags = nextTimeMediaSample;
  mCharacteristic = VisualMediaCharacteristic;
  mFrames = 0;
  mHistogram.clear();
}

void CMovieStatistic::AddDuration(SInt32 inDuration) {
  ++mFrames;
  auto at = std::lower_bound(mHistogram.begin(), mHistogram.end(), inDuration,
                             [](const DurationCount& a, SInt32 d) { return a.duration < d; });
  if (at != mHistogram.end() && at->duration == inDuration)
    ++at->count;
  else
    mHistogram.insert(at, {inDuration, 1});
}

SInt32 CMovieStatistic::GetCommonestDuration() const {
  const DurationCount* best = nullptr;
  for (const DurationCount& d : mHistogram)
    if (!best || d.count > best->count) best = &d;
  return best ? best->duration : 0;
}

OSErr CMovieStatistic::ScanMovie(ProgressProcPtr inProgress, void* inRefCon) {
  try {
    UProgress progress(LStr255(Item(1).c_str()), inProgress,
                       static_cast<SInt32>(reinterpret_cast<intptr_t>(inRefCon)));
    if (!mMovie) return paramErr;
    UInt32 lastReport = TickCount();
    OSErr err = noErr;
    for (;;) {
      TimeValue next = -1;
      GetMovieNextInterestingTime(mMovie, mSearchFlags, 1, &mCharacteristic, mCurrentTime, fixed1, &next, nullptr);
      err = GetMoviesError();
      if (err != noErr || next < 0 || next <= mCurrentTime) break;
      AddDuration(next - mCurrentTime);
      mCurrentTime = next;
      if (TickCount() - lastReport >= kReportTicks) {
        lastReport = TickCount();
        const SInt32 value =
            mDuration > 0 ? static_cast<SInt32>(std::min<SInt64>(256, static_cast<SInt64>(mCurrentTime) * 256 / mDuration)) : 0;
        if (!progress.Progress(value)) return userCanceledErr;
      }
    }
    // The last picture lasts to the end of its track: a movie without
    // pictures has no frame, and the sound that runs on after the last
    // picture does not lengthen it.
    mPicturesEnd = PicturesEnd(mMovie, mDuration);
    if (err == noErr && mPicturesEnd > mCurrentTime) AddDuration(mPicturesEnd - mCurrentTime);
    return noErr;
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
}

Handle CMovieStatistic::CreateReport() {
  std::string r;
  auto line = [&](const std::string& inText) {
    r += inText;
    r += kLineEnd;
  };
  const SInt32 scale = mMovie ? GetMovieTimeScale(mMovie) : 0;
  line(Item(mIsMovie ? 2 : 3));
  if (mName[0] > 0) line(Item(4) + PString(mName));
  SInt64 movieSize = 0;
  const SInt32 trackCount = mMovie ? GetMovieTrackCount(mMovie) : 0;
  for (SInt32 i = 1; i <= trackCount; ++i)
    if (Track t = GetMovieIndTrack(mMovie, i)) movieSize += TrackDataSize(t);
  line(Item(5) + KiloOrMega(movieSize));
  if (mIsMovie) {
    line(Item(6) + Seconds(mDuration, scale) + " s");
    line(Item(7) + Number(mFrames));
    // An empty movie, or one without a time scale, has no frame rate.
    // Over the time the pictures last.
    const double rate = mPicturesEnd > 0 && scale > 0 ? static_cast<double>(mFrames) * scale / mPicturesEnd : 0.0;
    line(Item(8) + Decimals(rate) + Item(9));
    r += kLineEnd;
    if (mFrames > 0) {
      line(Item(10));
      for (const DurationCount& d : mHistogram)
        line("- " + Number(d.count) + Item(d.count == 1 ? 11 : 12) +
             Decimals(scale > 0 ? static_cast<double>(d.duration) / scale : 0.0) + Item(13));
    }
  }
  for (SInt32 i = 1; i <= trackCount; ++i) {
    Track track = GetMovieIndTrack(mMovie, i);
    if (!track) continue;
    Media media = GetTrackMedia(track);
    OSType type = 0;
    if (media) GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    r += kLineEnd;
    line(Item(14) + Number(i) + ": " + MediaName(type, GetTrackLayer(track)));
    if (mIsMovie) {
      line(Item(15) + Seconds(GetTrackOffset(track), scale) + " s");
      line(Item(6) + Seconds(GetTrackDuration(track), scale) + " s");
      const SInt64 size = TrackDataSize(track);
      line(Item(16) + (size < 1024 ? Number(size) + " Bytes" : KiloOrMega(size)));
    }
    if (!media) continue;
    line(Item(17) + Number(PlayedSampleCount(track, media)));
    if (type == VideoMediaType) {
      const SInt32 count = GetMediaSampleDescriptionCount(media);
      for (SInt32 k = 1; k <= count; ++k) {
        auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(0));
        ThrowIfNil_(desc);
        GetMediaSampleDescription(media, k, reinterpret_cast<SampleDescriptionHandle>(desc));
        if (GetHandleSize(reinterpret_cast<Handle>(desc)) < static_cast<SInt32>(sizeof(ImageDescription))) {
          DisposeHandle(reinterpret_cast<Handle>(desc));
          continue;
        }
        if (count > 1) {
          r += kLineEnd;
          line(Item(18) + Number(k) + ":");
        }
        const ImageDescription& d = **desc;
        line(Item(19) + Number(d.width) + "x" + Number(d.height) + " Pixel");
        LStr255 format;
        if (UMovies::GetPixelFormatDescriptor(UMovies::GetPixelFormat(desc), format))
          line(Item(20) + PString(format));
        else
          line(Item(21));
        line(Item(22) + PString(d.name));
        line(Item(23) + QualityText(d.spatialQuality));
        DisposeHandle(reinterpret_cast<Handle>(desc));
      }
    } else if (type == SoundMediaType && GetMediaSampleDescriptionCount(media) > 0) {
      auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandle(0));
      ThrowIfNil_(desc);
      GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
      if (GetHandleSize(reinterpret_cast<Handle>(desc)) >= static_cast<SInt32>(sizeof(SoundDescription))) {
        const SoundDescription& d = **desc;
        SInt64 channels = d.numChannels, bits = d.sampleSize, rate = static_cast<SInt64>(d.sampleRate >> 16);
        // A version 2 entry keeps placeholders there; its own fields follow:
        // struct size, rate (64-bit float), channels, a constant, bits.
        constexpr SInt32 kVersion2Size = static_cast<SInt32>(sizeof(SoundDescription)) + 24;
        if (d.version == 2 && GetHandleSize(reinterpret_cast<Handle>(desc)) >= kVersion2Size) {
          const UInt8* v2 = reinterpret_cast<const UInt8*>(*desc) + sizeof(SoundDescription);
          UInt64 rateBits = 0;
          for (int i = 0; i < 8; ++i) rateBits = (rateBits << 8) | v2[4 + i];
          double rateValue = 0;
          std::memcpy(&rateValue, &rateBits, sizeof rateValue);
          rate = static_cast<SInt64>(rateValue);
          channels = ReadBE32(v2 + 12);
          if (const UInt32 v2Bits = ReadBE32(v2 + 20)) bits = v2Bits;  // 0 for compressed sound
        }
        line(Item(30) + Number(channels));
        line("Bits: " + Number(bits));
        line(Item(31) + Number(rate) + " 1/s");
      }
      DisposeHandle(reinterpret_cast<Handle>(desc));
    }
  }
  Handle text = NewHandle(static_cast<SInt32>(r.size()));
  ThrowIfNil_(text);
  if (!r.empty()) std::memcpy(*text, r.data(), r.size());
  return text;
}

Handle UMovies::AnalyzeMovie(Movie inMovie) {
  try {
    CMovieStatistic statistic(inMovie);
    if (statistic.ScanMovie(nullptr, nullptr) != noErr) return nullptr;
    return statistic.CreateReport();
  } catch (...) {
    return nullptr;
  }
}
