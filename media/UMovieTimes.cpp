// The movie toolbox utilities that read a CMovie: time codes, the notable
// times of keyboard navigation and the check that a track is the movie's.
// Kept apart from UMovies.cpp, which CMovie itself uses, so that the two
// files do not lean on each other.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "media/CMovie.h"
#include "media/UMovies.h"
#include "platform/ui/Alerts.h"
#include "platform/base/LException.h"

namespace {

const OSType kEyes = VisualMediaCharacteristic;

void AppendFormat(LStr255& ioText, const char* inFormat, SInt32 inValue) {
  char buf[32];
  std::snprintf(buf, sizeof buf, inFormat, static_cast<int>(inValue));
  ioText.Append(buf);
}

}  // namespace

void UMovies::GetTimeCode(CMovie* inMovie, SInt32 inTime, LStr255& outText) {
  outText = "";
  if (!inMovie) return;
  SInt32 scale = inMovie->GetTimeScale();
  if (scale <= 0) return;
  // A time within a frame (where playing stopped, or the slider left it) is
  // the time of that frame: the code names the frame shown.
  SInt32 shown = inTime;
  SInt32 start = 0, next = 0;
  if (inMovie->GetPreviousInterestingTime(nextTimeMediaSample, 1, &kEyes, inTime, &start, 1)) {
    const bool found = inMovie->GetNextInterestingTime(nextTimeMediaSample, 1, &kEyes, start, &next, 1);
    if (start < inTime && (found ? next > inTime : inTime < inMovie->GetDuration())) shown = start;
  }
  SInt32 seconds = static_cast<SInt32>(std::floor(static_cast<double>(shown) / scale));
  // Count the frames of this second before the time.
  SInt32 frames = 0;
  SInt32 t = shown;
  for (int guard = 0; guard < 100000; ++guard) {
    SInt32 prev = 0;
    if (!inMovie->GetPreviousInterestingTime(nextTimeMediaSample, 1, &kEyes, t, &prev, 1)) break;
    if (static_cast<SInt32>(std::floor(static_cast<double>(prev) / scale)) < seconds) break;
    t = prev;
    ++frames;
  }
  SecondsToString(static_cast<UInt32>(std::max<SInt32>(0, seconds)), outText);
  outText += ":";
  AppendFormat(outText, "%002d", frames);
}

void UMovies::TimeCodeToTimeValue(const LStr255& inText, CMovie* inMovie, SInt32& outTime) {
  outTime = 0;
  if (!inMovie) return;
  std::string text(inText.ConstTextPtr(), inText.Length());
  auto number = [](const std::string& s) {
    SInt32 v = 0;
    for (char c : s) {
      if (c < '0' || c > '9') return static_cast<SInt32>(0);  // unparsable parts count 0
      if (v < 100000000) v = v * 10 + (c - '0');
    }
    return v;
  };
  // From the right: frames, then seconds, minutes (two characters each), then hours.
  size_t colon = text.rfind(':');
  SInt32 frames = number(colon == std::string::npos ? text : text.substr(colon + 1));
  std::string rest = colon == std::string::npos ? std::string() : text.substr(0, colon);
  auto takeTwo = [&](std::string& r) {
    size_t c = r.rfind(':');
    std::string part;
    if (c == std::string::npos) {
      part = r.size() > 2 ? r.substr(r.size() - 2) : r;
      r = r.size() > 2 ? r.substr(0, r.size() - 2) : std::string();
    } else {
      part = r.substr(c + 1);
      if (part.size() > 2) part = part.substr(0, 2);
      r = r.substr(0, c);
    }
    return number(part);
  };
  SInt32 seconds = takeTwo(rest);
  SInt32 minutes = takeTwo(rest);
  SInt32 hours = number(rest);
  SInt64 base = static_cast<SInt64>(inMovie->GetTimeScale()) * (static_cast<SInt64>(hours) * 3600 + minutes * 60 + seconds);
  SInt32 t = 0;
  bool ok = true;
  if (base == 0) {
    t = 0;
  } else if (base > 0x7FFFFFFF) {
    ok = false;
  } else {
    ok = inMovie->GetNextInterestingTime(nextTimeMediaSample, 1, &kEyes, static_cast<SInt32>(base - 1), &t, 1);
  }
  for (SInt32 i = 0; ok && i < frames; ++i) ok = inMovie->GetNextInterestingTime(nextTimeMediaSample, 1, &kEyes, t, &t, 1);
  if (!ok) {
    SysBeep(1);
    t = inMovie->GetDuration();
  }
  outTime = t;
}

void UMovies::CollectInterestingTimes(CMovie* inMovie, LArray& outTimes) {
  if (!inMovie) return;
  try {
    auto add = [&](SInt32 t) { outTimes.AddItem(&t, sizeof t); };
    add(0);
    add(inMovie->GetDuration());
    SInt32 s = 0, e = 0;
    inMovie->GetSelection(&s, &e);
    if (e != s) {
      add(s);
      add(e);
    }
    Movie m = inMovie->GetMovie();
    for (SInt32 i = 1; i <= GetMovieTrackCount(m); ++i) {
      Track t = GetMovieIndTrack(m, i);
      if (!t || !GetTrackEnabled(t)) continue;
      add(GetTrackOffset(t));
      add(GetTrackDuration(t));
    }
  } catch (...) {
    LogCurrentException("movies", "CollectInterestingTimes");
  }
}

bool UMovies::ValidateTrack(CMovie* inMovie, Track inTrack) {
  if (!inMovie || !inTrack) return false;
  Movie m = inMovie->GetMovie();
  for (SInt32 i = 1; i <= GetMovieTrackCount(m); ++i) {
    Track t = GetMovieIndTrack(m, i);
    if (!t) return false;
    if (t == inTrack) return true;
  }
  return false;
}
