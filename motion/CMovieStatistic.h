// A movie's statistics: its video frame times scanned into a histogram of
// frame durations, and a plain-text report on the movie and each of its
// tracks (sizes, durations, frame count and rate, the histogram, media
// types, video sample descriptions, sound format). Lines end with a
// carriage return; the wording comes from string list 5023.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/movies/Movies.h"
#include "toolkit/UProgress.h"

constexpr SInt16 STRx_MovieStatistics = 5023;

class CMovieStatistic {
 public:
  // Describes the given movie (not owned).
  explicit CMovieStatistic(Movie inMovie);
  // Opens the file read-only; is-movie from its file type or name. A
  // failure throws its code ('nilP' for a file without a movie).
  explicit CMovieStatistic(const FSSpec* inSpec);
  virtual ~CMovieStatistic();
  CMovieStatistic(const CMovieStatistic&) = delete;
  CMovieStatistic& operator=(const CMovieStatistic&) = delete;

  // Counts the durations of the video frames; -50 without a movie, -128
  // when the progress procedure cancels (what was counted stays).
  virtual OSErr ScanMovie(ProgressProcPtr inProgress, void* inRefCon);
  virtual void AddDuration(SInt32 inDuration);
  // The report text; the caller owns the handle.
  Handle CreateReport();

  struct DurationCount {
    SInt32 duration;
    SInt32 count;
  };
  const std::vector<DurationCount>& GetHistogram() const { return mHistogram; }
  SInt32 GetFrameCount() const { return mFrames; }
  bool IsMovie() const { return mIsMovie; }
  // The duration counted most often (0 when none was counted).
  SInt32 GetCommonestDuration() const;

 protected:
  void Init();

  Movie mMovie = nullptr;
  bool mOwnsMovie = false;
  SInt16 mFileRef = 0;
  Str255 mName;
  SInt32 mFrames = 0;
  OSType mCharacteristic = VisualMediaCharacteristic;
  SInt32 mCurrentTime = 0;
  SInt32 mDuration = 0;
  // Where the movie's last picture ends: the end of its last enabled visual
  // track (0 without one). A longer sound track adds no frame time.
  SInt32 mPicturesEnd = 0;
  SInt16 mSearchFlags = nextTimeMediaSample;
  std::vector<DurationCount> mHistogram;  // sorted by duration
  bool mIsMovie = false;
};
