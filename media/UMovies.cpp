#include "media/UMovies.h"

#include <syslog.h>
#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "toolkit/UFileUtils.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/ImageCompression.h"
#include "platform/ui/Alerts.h"
#include "toolkit/UMessage.h"

LArray UMovies::mGraphicImportTypeList(sizeof(OSType));
LArray UMovies::mGraphicExportTypeList(sizeof(OSType));

namespace {

const char* const kQTErrorNames[60] = {
    "could Not Resolve Data Ref", "bad Image Description", "bad Public Movie Atom", "cant Find Handler",
    "cant Open Handler", "bad Component Type", "no Media Handler", "no Data Handler", "invalid Media",
    "invalid Track", "invalid Movie", "invalid Sample Table", "invalid Data Ref", "invalid Handler",
    "invalid Duration", "invalid Time", "cant Put Public Movie Atom", "bad Edit List", "media Types Dont Match",
    "progress Proc Aborted", "movie Toolbox Uninitialized", "wffile Not Found", "cant Create Single Fork File",
    "invalid Edit State", "non Matching Edit State", "stale Edit State", "user Data Item Not Found",
    "max Size To Grow Too Small", "bad Track Index", "track ID Not Found", "track Not In Movie", "time Not In Track",
    "time Not In Media", "bad Edit Index", "internal Quick Time Error", "cant Enable Track", "invalid Rect",
    "invalid Sample Num", "invalid Chunk Num", "invalid Sample Desc Index", "invalid Chunk Cache",
    "invalid Sample Description", "data Not Open For Read", "data Not Open For Write", "data Already Open For Write",
    "data Already Closed", "end Of Data Reached", "data No Data Ref", "no Movie In Data Fork",
    "invalid Data Ref Container", "bad Data Ref Index", "no Default Data Ref", "could Not Use An Existing Sample",
    "feature Unsupported", "no Video Track", "no Sound Track", "sound Support Not Available",
    "unsupported Auxiliary Import Data", "auxiliary Export Data Unavailable", "samples Already InMedia"};

void AppendFormat(LStr255& ioText, const char* inFormat, SInt32 inValue) {
  char buf[32];
  std::snprintf(buf, sizeof buf, inFormat, static_cast<int>(inValue));
  ioText.Append(buf);
}

// The user's decimal symbol.
char DecimalSymbol() {
  const struct lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}


}  // namespace

bool UMovies::InitMovies() {
  // Error texts name the movie toolbox's own errors from here on.
  UMessage::SetQTErrorMessageProc(GetQTErrorMessage);
  OSErr err = EnterMovies();
  if (err == noErr) {
    SetMoviesErrorProc(MovieErrProc, 0);
    return true;
  }
  try {
    LStr255 text;
    UMessage::GetOSErrString(err, text);
    UMessage::StopAlert(text, err);
  } catch (...) {
    LogCurrentException("movies", "InitMovies alert");
  }
  return false;
}

void UMovies::FinishMovies() { ExitMovies(); }

void UMovies::ComposeErrorText(OSErr inErr, LStr255& outText) {
  LStr255 name;
  if (GetQTErrorMessage(inErr, name) || UMessage::GetOSErrString(inErr, name)) {
    outText = "QT-Error registered: ";
    outText += name;
  } else {
    outText = "Unknown QT-Error registered: ";
    outText += LStr255(static_cast<SInt32>(inErr));
  }
}

void UMovies::MovieErrProc(OSErr inErr, SInt32) {
  LStr255 text;
  ComposeErrorText(inErr, text);
  syslog(LOG_NOTICE, "%.*s", static_cast<int>(text.Length()), text.ConstTextPtr());
}

bool UMovies::GetQTErrorMessage(OSErr inErr, LStr255& outText) {
  if (inErr > -2000 || inErr < -2059) return false;
  outText = kQTErrorNames[-2000 - inErr];
  return true;
}

void UMovies::SecondsToString(UInt32 inSeconds, LStr255& outText) {
  UInt32 s = inSeconds % 86400;
  outText = "";
  AppendFormat(outText, "%002d:", static_cast<SInt32>(s / 3600));
  AppendFormat(outText, "%002d:", static_cast<SInt32>((s % 3600) / 60));
  AppendFormat(outText, "%002d", static_cast<SInt32>(s % 60));
}

void UMovies::TimeToFraction(double inSeconds, SInt32& outH, SInt32& outM, SInt32& outS, SInt32& outMs) {
  if (!(inSeconds >= 0)) inSeconds = 0;
  if (inSeconds > 2e9) inSeconds = 2e9;
  outH = static_cast<SInt32>(inSeconds / 3600);
  double rest = inSeconds - outH * 3600.0;
  outM = static_cast<SInt32>(rest / 60);
  rest -= outM * 60.0;
  outS = static_cast<SInt32>(rest);
  double frac = rest - outS;
  outMs = std::min<SInt32>(999, static_cast<SInt32>(frac * 1000 + 0.999999));
}

void UMovies::TimeToFraction(SInt32 inValue, SInt32 inScale, SInt32& outH, SInt32& outM, SInt32& outS,
                             SInt32& outMs) {
  TimeToFraction(inScale > 0 ? static_cast<double>(inValue) / inScale : 0.0, outH, outM, outS, outMs);
}

void UMovies::GetMSecString(double inSeconds, LStr255& outText) {
  SInt32 h, m, s, ms;
  TimeToFraction(inSeconds, h, m, s, ms);
  outText = "";
  if (h != 0) {
    AppendFormat(outText, "%d:", h);
    AppendFormat(outText, "%002d:", m);
    AppendFormat(outText, "%002d.", s);
  } else if (m != 0) {
    AppendFormat(outText, "%d:", m);
    AppendFormat(outText, "%002d.", s);
  } else {
    AppendFormat(outText, "%d.", s);
  }
  AppendFormat(outText, "%0003d", ms);
}

void UMovies::GetMSecString(SInt32 inValue, SInt32 inScale, LStr255& outText) {
  SInt32 h, m, s, ms;
  TimeToFraction(inValue, inScale, h, m, s, ms);
  char sym = DecimalSymbol();
  outText = "";
  if (h != 0) {
    AppendFormat(outText, "%d:", h);
    AppendFormat(outText, "%002d:", m);
    AppendFormat(outText, "%002d", s);
  } else if (m != 0) {
    AppendFormat(outText, "%d:", m);
    AppendFormat(outText, "%002d", s);
  } else {
    AppendFormat(outText, "%d", s);
  }
  outText += sym;
  AppendFormat(outText, "%0003d", ms);
}

SInt16 UMovies::TimeEditKeyFilter(void*, UInt16, UInt16& ioChar, UInt16) {
  UInt16 c = ioChar;
  if (c == 0x08 || c == 0x7F) return kTimeKey_Delete;                        // backspace, forward delete
  if ((c >= 0x1C && c <= 0x1F) || c == 0x01 || c == 0x04 || c == 0x0B || c == 0x0C) return kTimeKey_Cursor;
  if ((c >= '0' && c <= '9') || c == '.' || c == ',' || c == ':') return kTimeKey_Input;
  return kTimeKey_Reject;
}

void UMovies::DisposeDataRefs(Movie inMovie) {
  // The data-reference handles handed out are the caller's; the memory they
  // name stays with the toolbox (freed with its last user).
  for (SInt32 i = 1; i <= GetMovieTrackCount(inMovie); ++i) {
    Media md = GetTrackMedia(GetMovieIndTrack(inMovie, i));
    if (!md) continue;
    SInt16 count = 0;
    GetMediaDataRefCount(md, &count);
    for (SInt16 k = 1; k <= count; ++k) {
      Handle ref = nullptr;
      OSType type = 0;
      if (GetMediaDataRef(md, k, &ref, &type, nullptr) == noErr) DisposeHandle(ref);
    }
  }
}

OSErr UMovies::AnyVolatileDataRefs(Movie inMovie, bool& outAny) {
  outAny = false;
  SInt32 n = GetMovieTrackCount(inMovie);
  if (OSErr err = GetMoviesError()) return err;
  for (SInt32 i = 1; i <= n; ++i) {
    Media md = GetTrackMedia(GetMovieIndTrack(inMovie, i));
    if (!md) continue;
    SInt16 count = 0;
    GetMediaDataRefCount(md, &count);
    for (SInt16 k = 1; k <= count; ++k) {
      OSType type = 0;
      if (GetMediaDataRef(md, k, nullptr, &type, nullptr) != noErr) return GetMoviesError();
      if (type == HandleDataHandlerSubType || type == PointerDataHandlerSubType) outAny = true;
    }
  }
  return noErr;
}

UInt32 UMovies::GetPixelFormat(ImageDescriptionHandle inDesc) {
  if (!inDesc || !*inDesc) return 0;
  Handle ext = nullptr;
  if (GetImageDescriptionExtension(inDesc, &ext, 'cspc', 1) == noErr && ext) {
    UInt32 format = 0;
    if (GetHandleSize(ext) >= 4) {
      const UInt8* p = reinterpret_cast<const UInt8*>(*ext);
      format = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
    }
    DisposeHandle(ext);
    if (format) return format;
  }
  return static_cast<UInt32>((**inDesc).depth);
}

bool UMovies::GetPixelFormatDescriptor(UInt32 inFormat, LStr255& outText) {
  const char* name = nullptr;
  switch (inFormat) {
    case 1: name = "1 Monochrome"; break;
    case 2: name = "2 Indexed"; break;
    case 4: name = "4 Indexed"; break;
    case 8: name = "8 Indexed"; break;
    case 16: name = "16 RGB"; break;
    case 24: name = "24 RGB"; break;
    case 32: name = "32 A+RGB"; break;
    case 33: name = "1 Gray"; break;
    case 34: name = "2 Gray"; break;
    case 36: name = "4 Gray"; break;
    case 40: name = "8 Gray"; break;
    case 'b16g': name = "16 Gray"; break;
    case 'b32a': name = "32 A+Gray"; break;
    case 'b48r': name = "48 RGB"; break;
    case 'b64a': name = "64 A+RGB"; break;
    // Compressed pictures name the YUV layout their stream holds.
    case 'y420': name = "YUV 4:2:0"; break;
    case '2vuy': name = "YUV 4:2:2"; break;
    case 'v308': name = "YUV 4:4:4"; break;
    case 'y411': name = "YUV 4:1:1"; break;
    case 'x420': name = "YUV 4:2:0, 10 bits"; break;
    case 'x422': name = "YUV 4:2:2, 10 bits"; break;
    case 'x444': name = "YUV 4:4:4, 10 bits"; break;
    default: return false;
  }
  outText = name;
  return true;
}

const char* UMovies::GetMediaTypeName(OSType inMediaType) {
  switch (inMediaType) {
    case 'vide': return "Video";
    case 'soun': return "Sound";
    case 'text': return "Text";
    case 'gnrc': return "Base";
    case 'MPEG': return "MPEG";
    case 'musi': return "Music";
    case 'tmcd': return "Time Code";
    case 'sprt': return "Sprite";
    case 'flsh': return "Flash";
    case 'moov': return "Movie";
    case 'qd3d': return "3 D";
    case 'skin': return "Skin";
    case 'twen': return "Tween";
    default: return nullptr;
  }
}

namespace {
// In the order the Open dialog's popup lists them.
constexpr OSType kReadableMovieFileTypes[] = {'MooV', 'dvc!', 'VfW ', 'FLC ', 'mpg4', 'SWFL'};
}  // namespace

bool UMovies::IsReadableMovieFileType(OSType inFileType) {
  for (OSType type : kReadableMovieFileTypes)
    if (type == inFileType) return true;
  return false;
}

Boolean UMovies::FileFilterProc(const FSSpec& inItem, Boolean inIsFolder) {
  if (inIsFolder) return true;
  try {
    FSSpec item = inItem;
    if (UFileUtils::IsImageFileAcceptable(item) == noErr) return true;
    FInfo info;
    OSType finderType = FSpGetFInfo(&item, &info) == noErr ? info.fdType : 0;
    OSType nameType = 0;
    if (UFileUtils::GetFileTypeForName(item.name, &nameType) != noErr) nameType = 0;
    if (IsReadableMovieFileType(finderType) || IsReadableMovieFileType(nameType)) return true;
  } catch (...) {
    LogCurrentException("movies", "FileFilterProc");
  }
  return false;
}

bool UMovies::HasMovieVideoTracks(Movie inMovie) { return GetFirstTrack(inMovie, VideoMediaType) != nullptr; }

Track UMovies::GetFirstTrack(Movie inMovie, OSType inMediaType) {
  for (SInt32 i = 1; i <= GetMovieTrackCount(inMovie); ++i) {
    Track t = GetMovieIndTrack(inMovie, i);
    Media md = t ? GetTrackMedia(t) : nullptr;
    OSType type = 0;
    if (md) GetMediaHandlerDescription(md, &type, nullptr, nullptr);
    if (md && type == inMediaType) return t;
  }
  return nullptr;
}

void UMovies::FractionToTime(SInt32 inHours, SInt32 inMinutes, SInt32 inSeconds, SInt32 inMillis, SInt32 inScale,
                             SInt32& outTime) {
  double t = (inMillis * 0.001 + inSeconds + inMinutes * 60.0 + inHours * 3600.0) * inScale;
  outTime = t > 2147483647.0 ? 0x7FFFFFFF : t < -2147483647.0 ? -0x7FFFFFFF : static_cast<SInt32>(t);
}

double UMovies::TimeValueToSecond(const wide& inValue, SInt32 inScale) {
  if (inScale <= 0) return 0;
  return static_cast<double>(WideToSInt64(inValue)) * 1000 / inScale * 0.001;
}

OSErr UMovies::GetMovieFileSize(const FSSpec* inSpec, wide* outSize) {
  if (!inSpec || !outSize) return paramErr;
  struct stat st;
  if (stat(FSSpecPath(*inSpec).c_str(), &st) != 0) return fnfErr;
  *outSize = SInt64ToWide(st.st_size);
  return noErr;
}

OSErr UMovies::InsertSoundTracks(Movie inSource, Movie inDestination, SInt32 inStart, SInt32 inEnd) {
  for (SInt32 i = 1; i <= GetMovieTrackCount(inSource); ++i) {
    Track src = GetMovieIndTrack(inSource, i);
    Media md = src ? GetTrackMedia(src) : nullptr;
    OSType type = 0;
    if (md) GetMediaHandlerDescription(md, &type, nullptr, nullptr);
    if (type != SoundMediaType) continue;
    Fixed w = 0, h = 0;
    GetTrackDimensions(src, &w, &h);
    Track dst = NewMovieTrack(inDestination, w, h, GetTrackVolume(src));
    if (!dst) return GetMoviesError();
    if (OSErr err = InsertTrackSegment(src, dst, inStart, inEnd - inStart, 0)) return err;
  }
  return noErr;
}

bool UMovies::StringToTimeValue(const LStr255& inText, double& outSeconds) {
  try {
    std::string text;
    for (SInt32 i = 1; i <= inText.Length(); ++i) text.push_back(static_cast<char>(inText[i]));
    const char sym = DecimalSymbol();
    double parts[3] = {0, 0, 0};
    int count = 0;
    size_t start = 0;
    for (;;) {
      size_t colon = text.find(':', start);
      std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (count == 3 || part.empty()) return false;
      bool last = colon == std::string::npos;
      bool seenPoint = false;
      double value = 0, scale = 0.1;
      for (char c : part) {
        if (c >= '0' && c <= '9') {
          if (seenPoint) {
            value += (c - '0') * scale;
            scale *= 0.1;
          } else {
            value = value * 10 + (c - '0');
          }
        } else if ((c == '.' || c == sym) && last && !seenPoint) {
          seenPoint = true;
        } else {
          return false;
        }
      }
      parts[count++] = value;
      if (last) break;
      start = colon + 1;
    }
    double seconds = 0;
    for (int i = 0; i < count; ++i) seconds = seconds * 60 + parts[i];
    outSeconds = seconds;
    return true;
  } catch (...) {
    return false;
  }
}

ComponentInstance UMovies::GetCompressorCopy(ComponentInstance inCompressor) {
  ComponentInstance copy = nullptr;
  Handle state = nullptr;
  try {
    if (!inCompressor) Throw_(invalidComponentID);
    ThrowIfOSErr_(OpenADefaultComponent(StandardCompressionType, StandardCompressionSubType, &copy));
    ThrowIfOSErr_(SCGetInfo(inCompressor, scSettingsStateType, &state));
    ThrowIfOSErr_(SCSetInfo(copy, scSettingsStateType, &state));
    DisposeHandle(state);
    return copy;
  } catch (...) {
    if (state) DisposeHandle(state);
    if (copy) CloseComponent(copy);
    return nullptr;
  }
}
