// Utilities of the movie toolbox used all over the program: start and end,
// error texts, movie times as text and back, the key filter of time fields,
// the notable times of a movie for keyboard navigation, track and data
// reference checks, and pixel-format names. The functions keep no state;
// failures are answered (false or an OSErr), never thrown.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LArray.h"
#include "platform/framework/LStr255.h"
#include "platform/graphics/QTImageDescription.h"
#include "platform/movies/Movies.h"

class CMovie;

// The creator of the movie files the program writes (saved documents and
// exports).
constexpr OSType kTremblorixFileCreator = 'DEZI';

// What TimeEditKeyFilter answers (the framework's key status values).
constexpr SInt16 kTimeKey_Input = 0;
constexpr SInt16 kTimeKey_Delete = 1;
constexpr SInt16 kTimeKey_Cursor = 2;
constexpr SInt16 kTimeKey_Reject = 6;

class UMovies {
 public:
  // Starts the toolbox and installs MovieErrProc; false (after a stop alert) when it cannot start.
  static bool InitMovies();
  static void FinishMovies();
  // The movies error procedure: logs the error's text.
  static void MovieErrProc(OSErr inErr, SInt32 inRefCon);
  // The text MovieErrProc logs for an error.
  static void ComposeErrorText(OSErr inErr, LStr255& outText);

  // The name of a toolbox error (-2059 to -2000).
  static bool GetQTErrorMessage(OSErr inErr, LStr255& outText);

  // hh:mm:ss of the seconds within a day.
  static void SecondsToString(UInt32 inSeconds, LStr255& outText);
  // hh:mm:ss:ff: whole seconds and the video frame within the second.
  static void GetTimeCode(CMovie* inMovie, SInt32 inTime, LStr255& outText);
  // Parses hh:mm:ss:ff (parts may be missing) into a movie time; a frame
  // beyond the end beeps and answers the movie's duration.
  static void TimeCodeToTimeValue(const LStr255& inText, CMovie* inMovie, SInt32& outTime);
  // h:mm:ss.mmm, m:ss.mmm or s.mmm.
  static void GetMSecString(double inSeconds, LStr255& outText);
  // The same for a movie time, with the user's decimal symbol.
  static void GetMSecString(SInt32 inValue, SInt32 inScale, LStr255& outText);

  // The key filter of time-entry fields: digits, '.', ',' and ':' are input.
  static SInt16 TimeEditKeyFilter(void* inTE, UInt16 inKey, UInt16& ioChar, UInt16 inModifiers);

  // 0, the duration, a non-empty selection's start and end, and every enabled
  // track's offset and duration, in that order (items of SInt32).
  static void CollectInterestingTimes(CMovie* inMovie, LArray& outTimes);
  // True when the track is one of the movie's tracks.
  static bool ValidateTrack(CMovie* inMovie, Track inTrack);
  // Lets go of the movie's data references before it is disposed of. Memory
  // blocks of 'hndl' references belong to the toolbox, which frees each one
  // when the last movie using it is gone, so a copy of a movie never frees
  // memory the original still reads.
  static void DisposeDataRefs(Movie inMovie);
  // any = true when some media is held in memory ('hndl' or 'ptr ').
  static OSErr AnyVolatileDataRefs(Movie inMovie, bool& outAny);

  // The 'cspc' extension's format when present, else the depth; 0 for nil.
  static UInt32 GetPixelFormat(ImageDescriptionHandle inDesc);
  static bool GetPixelFormatDescriptor(UInt32 inFormat, LStr255& outText);
  // The name of a media type as the track lists show it ("Video", "Sound",
  // "Tween", ...); nullptr for a type without one.
  static const char* GetMediaTypeName(OSType inMediaType);
  // Whether a file of this type is a movie the program reads ('MooV',
  // 'dvc!', 'VfW ', 'FLC ', 'mpg4', 'SWFL'; pictures are not).
  static bool IsReadableMovieFileType(OSType inFileType);

  // Further helpers.
  static bool HasMovieVideoTracks(Movie inMovie);
  static Track GetFirstTrack(Movie inMovie, OSType inMediaType);
  static void FractionToTime(SInt32 inHours, SInt32 inMinutes, SInt32 inSeconds, SInt32 inMillis, SInt32 inScale,
                             SInt32& outTime);
  static void TimeToFraction(SInt32 inValue, SInt32 inScale, SInt32& outH, SInt32& outM, SInt32& outS,
                             SInt32& outMs);
  static void TimeToFraction(double inSeconds, SInt32& outH, SInt32& outM, SInt32& outS, SInt32& outMs);
  static double TimeValueToSecond(const wide& inValue, SInt32 inScale);
  // Reads a time text as GetMSecString writes it ("h:mm:ss.mmm", "m:ss.mmm",
  // "s.mmm"; '.' or the user's decimal symbol) into seconds; false for text
  // that is not such a time.
  static bool StringToTimeValue(const LStr255& inText, double& outSeconds);
  static OSErr GetMovieFileSize(const FSSpec* inSpec, wide* outSize);
  static OSErr InsertSoundTracks(Movie inSource, Movie inDestination, SInt32 inStart, SInt32 inEnd);
  // The open dialogs' filter: folders, acceptable still images and files
  // whose Finder type or name-derived type is a movie type the program opens
  // ('SWFL', 'FLC ', 'MooV', 'VfW ', 'dvc!', 'mpg4') are shown; other files
  // are hidden. Failures hide nothing more than the file asked about.
  static Boolean FileFilterProc(const FSSpec& inItem, Boolean inIsFolder);

  // A new default standard image compression instance with the settings
  // state of the given one; nil (with nothing left open) when the source is
  // nil or closed or the copy cannot be made. The caller closes it.
  static ComponentInstance GetCompressorCopy(ComponentInstance inCompressor);

  // File types of the graphics importers and exporters (none are added).
  // The statistics report of a movie (the caller owns it), nil when it
  // cannot be made. Lives with the statistics in the motion library.
  static Handle AnalyzeMovie(Movie inMovie);
  static LArray mGraphicImportTypeList;
  static LArray mGraphicExportTypeList;
};
