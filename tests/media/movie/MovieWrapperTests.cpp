#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/LException.h"
#include "support/movies/RawMovie.h"
#include "media/CMovie.h"
#include "media/UMovies.h"
#include "platform/files/Bundle.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UMessage.h"
#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LListener.h"
#include "platform/movies/MovieCodecs.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"

namespace {

std::string Text(const LStr255& s) { return std::string(s.ConstTextPtr(), s.Length()); }

// A movie of `frames` raw 2x2 frames of `frameDuration` at media scale `scale`.
Movie RawMovie(int frames, TimeValue frameDuration, TimeScale scale, const char* compressor = "Raw") {
  testmovies::RawMovieOptions options;
  options.timeScale = scale;
  options.frameDuration = frameDuration;
  options.keepMovieScale = true;
  options.compressorName = compressor;
  return testmovies::MakeRawMovie(
      2, 2, frames, [](SInt32, UInt8* outPixels, size_t inRowBytes) { std::memset(outPixels, 0, 2 * inRowBytes); },
      options);
}

struct Recorder : LListener {
  std::vector<MessageT> messages;
  void ListenToMessage(MessageT inMessage, void*) override { messages.push_back(inMessage); }
  int Count(MessageT m) const { return static_cast<int>(std::count(messages.begin(), messages.end(), m)); }
};

const EventRecord kNullEvent{};

TEST(UMovies, ErrorTexts) {
  LStr255 s;
  ASSERT_TRUE(UMovies::GetQTErrorMessage(-2000, s));
  EXPECT_EQ(Text(s), "could Not Resolve Data Ref");
  ASSERT_TRUE(UMovies::GetQTErrorMessage(-2059, s));
  EXPECT_EQ(Text(s), "samples Already InMedia");
  ASSERT_TRUE(UMovies::GetQTErrorMessage(-2010, s));
  EXPECT_EQ(Text(s), "invalid Movie");
  EXPECT_FALSE(UMovies::GetQTErrorMessage(-1999, s));
  EXPECT_FALSE(UMovies::GetQTErrorMessage(-2060, s));
  UMovies::ComposeErrorText(-2009, s);
  EXPECT_EQ(Text(s), "QT-Error registered: invalid Track");
}

TEST(UMovies, TimeTexts) {
  LStr255 s;
  UMovies::SecondsToString(90061, s);
  EXPECT_EQ(Text(s), "01:01:01");
  UMovies::GetMSecString(3661.5, s);
  EXPECT_EQ(Text(s), "1:01:01.500");
  UMovies::GetMSecString(61.25, s);
  EXPECT_EQ(Text(s), "1:01.250");
  UMovies::GetMSecString(0.0001, s);
  EXPECT_EQ(Text(s), "0.001");
  UMovies::GetMSecString(59.9999999, s);
  EXPECT_EQ(Text(s), "59.999");
  UMovies::GetMSecString(static_cast<SInt32>(900), 600, s);
  EXPECT_EQ(Text(s), "1.500");
}

TEST(UMovies, TimeCodesOfA25FrameMovie) {
  CMovie movie(RawMovie(100, 1, 25), true);  // 4 s, a frame every 24 units at scale 600
  SInt32 t = 0;
  UMovies::TimeCodeToTimeValue(LStr255("00:00:02:05"), &movie, t);
  EXPECT_EQ(t, 1320);
  LStr255 s;
  UMovies::GetTimeCode(&movie, 1320, s);
  EXPECT_EQ(Text(s), "00:00:02:05");
  UMovies::GetTimeCode(&movie, 600, s);
  EXPECT_EQ(Text(s), "00:00:01:00");
  // A time within a frame names that frame: where playing stopped or the
  // slider was let go, the code is the one of the picture shown.
  UMovies::GetTimeCode(&movie, 1320 + 12, s);
  EXPECT_EQ(Text(s), "00:00:02:05");
  UMovies::GetTimeCode(&movie, 1320 + 23, s);
  EXPECT_EQ(Text(s), "00:00:02:05");
  UMovies::GetTimeCode(&movie, 600 - 1, s);  // the last frame of the first second
  EXPECT_EQ(Text(s), "00:00:00:24");
  UMovies::GetTimeCode(&movie, movie.GetDuration() - 1, s);  // within the last frame
  EXPECT_EQ(Text(s), "00:00:03:24");
  UMovies::TimeCodeToTimeValue(LStr255("3"), &movie, t);
  EXPECT_EQ(t, 72);
  UMovies::TimeCodeToTimeValue(LStr255("1:00"), &movie, t);
  EXPECT_EQ(t, 600);
  UMovies::TimeCodeToTimeValue(LStr255("x:1:00"), &movie, t);  // an unparsable part counts 0
  EXPECT_EQ(t, 600);
  UMovies::TimeCodeToTimeValue(LStr255("00:00:09:00"), &movie, t);  // beyond the end
  EXPECT_EQ(t, movie.GetDuration());
}

TEST(UMovies, KeysFormatsAndTracks) {
  UInt16 c = '3';
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Input);
  c = ':';
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Input);
  c = ',';
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Input);
  c = 'a';
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Reject);
  c = 0x08;
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Delete);
  c = 0x1C;
  EXPECT_EQ(UMovies::TimeEditKeyFilter(nullptr, 0, c, 0), kTimeKey_Cursor);

  LStr255 s;
  ASSERT_TRUE(UMovies::GetPixelFormatDescriptor(32, s));
  EXPECT_EQ(Text(s), "32 A+RGB");
  ASSERT_TRUE(UMovies::GetPixelFormatDescriptor('b64a', s));
  EXPECT_EQ(Text(s), "64 A+RGB");
  EXPECT_FALSE(UMovies::GetPixelFormatDescriptor(3, s));
  EXPECT_EQ(UMovies::GetPixelFormat(nullptr), 0u);

  CMovie movie(RawMovie(10, 60, 600), true);
  Track t = GetMovieIndTrack(movie.GetMovie(), 1);
  EXPECT_TRUE(UMovies::ValidateTrack(&movie, t));
  EXPECT_FALSE(UMovies::ValidateTrack(&movie, nullptr));
  CMovie other(RawMovie(1, 60, 600), true);
  EXPECT_FALSE(UMovies::ValidateTrack(&other, t));
  bool any = false;
  EXPECT_EQ(UMovies::AnyVolatileDataRefs(movie.GetMovie(), any), noErr);
  EXPECT_TRUE(any);
  EXPECT_TRUE(movie.GetMovieProperties() & kMovieProp_VolatileData);

  SetTrackOffset(t, 30);
  movie.SetSelectionStart(60);
  movie.SetSelectionStop(120);
  LArray times(sizeof(SInt32));
  UMovies::CollectInterestingTimes(&movie, times);
  std::vector<SInt32> got;
  for (SInt32 i = 1; i <= times.GetCount(); ++i) {
    SInt32 v = 0;
    times.FetchItemAt(i, &v);
    got.push_back(v);
  }
  EXPECT_EQ(got, std::vector<SInt32>({0, 630, 60, 120, 30, 630}));
}

TEST(CMovie, InterlaceFromCompressorName) {
  QInterlaceMode mode;
  QInterlaceDelay delay;
  auto check = [&](const char* name) {
    Str255 p;
    p[0] = static_cast<unsigned char>(std::strlen(name));
    std::memcpy(p + 1, name, p[0]);
    CMovie::InterlaceModeForName(p, mode, delay);
  };
  check("DV - PAL");
  EXPECT_EQ(mode, 4);
  EXPECT_EQ(delay, 1);
  check("HDV 1080i60");
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(delay, 2);
  check("H.264");
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(delay, 0);
  check("NTSC 1080i60");
  EXPECT_EQ(mode, 4);
  EXPECT_EQ(delay, 2);
  check("XDCAM 720p");
  EXPECT_EQ(mode, 2);
  // From the movie's video description.
  CMovie movie(RawMovie(2, 60, 600, "DVCPRO - NTSC"), true);
  movie.GetInterlaceMode(mode, delay);
  EXPECT_EQ(mode, 4);
  EXPECT_EQ(delay, 2);
}

TEST(CMovie, SelectionAndBounds) {
  CMovie movie(RawMovie(10, 60, 600), true);
  Recorder rec;
  movie.AddListener(&rec);
  Rect r;
  movie.GetDisplayBounds(r);
  EXPECT_EQ(r.right, 2);
  EXPECT_EQ(r.bottom, 2);
  movie.GetEncodedBounds(r);
  EXPECT_EQ(r.right, 2);
  movie.SetSelectionStart(100);
  movie.SetSelectionStop(300);
  SInt32 s, e;
  movie.GetSelection(&s, &e);
  EXPECT_EQ(s, 100);
  EXPECT_EQ(e, 300);
  movie.SetSelectionStart(700);  // after the end: an empty selection there
  movie.GetSelection(&s, &e);
  EXPECT_EQ(s, 700);
  EXPECT_EQ(e, 700);
  EXPECT_EQ(rec.Count(msg_MovieSelectionChanged), 3);
  EXPECT_EQ(movie.PlayingGotoTime(-1), paramErr);
  EXPECT_EQ(movie.PlayingGotoTime(601), paramErr);
  EXPECT_EQ(movie.GotoTime(120), noErr);
  EXPECT_EQ(movie.GetTimeValue(), 120);
  EXPECT_EQ(rec.Count(msg_MovieTimeChanged), 1);
  EXPECT_EQ(rec.Count(msg_MovieFrameDrawn), 1);
  SInt32 valid = 130;
  EXPECT_FALSE(movie.GetValidFrameTime(nextTimeMediaSample, 0, nullptr, &valid));
  valid = 120;
  EXPECT_TRUE(movie.GetValidFrameTime(nextTimeMediaSample, 0, nullptr, &valid));
}

TEST(CMovie, SteppedPlaybackFollowsTheTicks) {
  StManualClock clock;
  CMovie movie(RawMovie(50, 24, 600), true);  // 25 fps, 1200 units
  Recorder rec;
  movie.AddListener(&rec);
  movie.StartPlaying(false);
  EXPECT_EQ(rec.Count(msg_MovieStarted), 1);
  // Rate 100 at scale 600: the target moves 10 per tick; a frame shows once the target passed it.
  UClock::AdvanceTicks(2);
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(movie.GetTimeValue(), 0);
  UClock::AdvanceTicks(1);  // target 30
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(movie.GetTimeValue(), 24);
  UClock::AdvanceTicks(7);  // target 100
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(movie.GetTimeValue(), 96);
  // To the end without loop: stops once.
  UClock::AdvanceTicks(200);
  movie.SpendTime(kNullEvent);
  movie.SpendTime(kNullEvent);
  EXPECT_FALSE(movie.IsPlaying());
  EXPECT_EQ(movie.GetTimeValue(), 1200);
  EXPECT_EQ(rec.Count(msg_MovieStopped), 1);

  // Hold at the end keeps playing there.
  movie.SetOptions(kMovieOption_HoldAtEnd, kMovieOption_HoldAtEnd);
  movie.StartPlaying(false);
  UClock::AdvanceTicks(10);
  movie.SpendTime(kNullEvent);
  EXPECT_TRUE(movie.IsPlaying());
  EXPECT_EQ(movie.GetTimeValue(), 1200);
  movie.StopPlaying();
  movie.SetOptions(0, kMovieOption_HoldAtEnd);

  // Backwards at -100 from the end.
  movie.SetPlayRate(-100);
  movie.StartPlaying(false);
  EXPECT_EQ(movie.GetTimeValue(), 1200);
  UClock::AdvanceTicks(5);  // target 1150
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(movie.GetTimeValue(), 1152);
  movie.StopPlaying();

  // Loop inside a selection; an empty selection plays the whole movie.
  movie.SetPlayRate(100);
  movie.SetOptions(kMovieOption_PlaySelection | kMovieOption_Loop, 0xFFFF);
  movie.SetSelectionStart(240);
  movie.SetSelectionStop(480);
  movie.StartPlaying(false);
  EXPECT_EQ(movie.GetTimeValue(), 240);
  UClock::AdvanceTicks(30);  // target 540: past the selection
  movie.SpendTime(kNullEvent);
  EXPECT_TRUE(movie.IsPlaying());
  EXPECT_EQ(movie.GetTimeValue(), 240);
  movie.StopPlaying();
  movie.SetSelectionStop(240);
  movie.SetOptions(kMovieOption_PlaySelection, 0xFFFF);
  movie.GotoTime(600);
  movie.StartPlaying(false);
  UClock::AdvanceTicks(10);
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(movie.GetTimeValue(), 696);
  movie.StopPlaying();
}

TEST(CMovie, ToolboxDrivenRatesAndVolume) {
  StManualClock clock;
  CMovie movie(RawMovie(50, 24, 600), true);
  movie.StartPlaying(true);
  EXPECT_EQ(GetMovieVolume(movie.GetMovie()), 256);
  EXPECT_EQ(GetMovieRate(movie.GetMovie()), fixed1);
  movie.SetPlayRate(50);
  EXPECT_EQ(GetMovieVolume(movie.GetMovie()), -256);
  EXPECT_EQ(GetMovieRate(movie.GetMovie()), fixed1 / 2);
  movie.SetPlayRate(-100);
  EXPECT_EQ(GetMovieVolume(movie.GetMovie()), -256);
  EXPECT_EQ(GetMovieRate(movie.GetMovie()), -fixed1);
  movie.SetPlayRate(-33);  // a negative percentage gives a negative rate
  EXPECT_EQ(GetMovieRate(movie.GetMovie()), static_cast<Fixed>(-33LL * 65536 / 100));
  movie.SetPlayRate(100);
  UClock::AdvanceSeconds(3);
  movie.SpendTime(kNullEvent);
  EXPECT_FALSE(movie.IsPlaying());  // the end without loop
}

struct TempDir {
  std::string path;
  TempDir() {
    char t[] = "/tmp/trx-cmovie-XXXXXX";
    path = mkdtemp(t);
  }
  ~TempDir() {
    std::string cmd = "chmod -R u+w '" + path + "' && rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
  FSSpec Spec(const char* name) const {
    FSSpec s;
    FSMakeFSSpecFromPath(path + "/" + name, &s);
    return s;
  }
};

TEST(CMovie, SaveOpenUpdateAndReadOnlyFiles) {
  TempDir dir;
  FSSpec flat = dir.Spec("flat.mov"), ref = dir.Spec("ref.mov");
  {
    CMovie movie(RawMovie(10, 60, 600), true);
    movie.HasChanged();
    EXPECT_TRUE(movie.IsDirty());
    ASSERT_EQ(movie.Save(&flat, false), noErr);
    EXPECT_FALSE(movie.IsDirty());
    ASSERT_EQ(movie.Save(&ref, true), noErr);
    EXPECT_EQ(movie.UpdateFile(), -1);  // no file of its own
  }
  {
    CMovie opened(&flat);
    EXPECT_EQ(opened.GetDuration(), 600);
    EXPECT_EQ(opened.GetResourceID(), -1);
    EXPECT_EQ(opened.GetMovieProperties() & (kMovieProp_ReadOnly | kMovieProp_Locked | kMovieProp_NoDataRef), 0u);
    Handle h = NewHandle(1);
    AddUserData(GetMovieUserData(opened.GetMovie()), h, 'Trbx');
    DisposeHandle(h);
    EXPECT_TRUE(opened.IsDirty());
    ASSERT_EQ(opened.UpdateFile(), noErr);
    EXPECT_FALSE(opened.IsDirty());
  }
  {
    CMovie again(&flat);
    EXPECT_EQ(CountUserDataType(GetMovieUserData(again.GetMovie()), 'Trbx'), 1);
    // A copy of the selection lives on its own.
    again.SetSelectionStart(60);
    again.SetSelectionStop(180);
    auto copy = std::make_unique<CMovie>(again);
    EXPECT_EQ(copy->GetDuration(), 120);
    copy.reset();
    EXPECT_EQ(again.GotoTime(300), noErr);
  }
  ASSERT_EQ(chmod((dir.path + "/flat.mov").c_str(), 0444), 0);
  {
    CMovie locked(&flat);
    EXPECT_EQ(locked.GetMovieProperties() & (kMovieProp_ReadOnly | kMovieProp_Locked),
              kMovieProp_ReadOnly | kMovieProp_Locked);
    EXPECT_NE(locked.UpdateFile(), noErr);
  }
  FSSpec missing = dir.Spec("missing.mov");
  try {
    CMovie nope(&missing);
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), fnfErr);
  }
}

TEST(CMovie, AnEmptyMovieAndChangeMessages) {
  CMovie movie;
  EXPECT_EQ(movie.GetDuration(), 0);
  EXPECT_EQ(movie.GetTimeScale(), 600);
  EXPECT_TRUE(movie.GetMovieProperties() & kMovieProp_NoDataRef);
  Recorder rec;
  movie.AddListener(&rec);
  EXPECT_FALSE(movie.IsDirty());
  NewMovieTrack(movie.GetMovie(), 0, 0, 0);
  movie.SpendTime(kNullEvent);
  EXPECT_EQ(rec.Count(msg_MovieChanged), 1);
  EXPECT_TRUE(movie.IsDirty());
  movie.ClearDirty();
  EXPECT_FALSE(movie.IsDirty());
  movie.HasChanged();
  EXPECT_EQ(rec.Count(msg_MovieChanged), 2);
  EXPECT_TRUE(movie.IsDirty());
  EXPECT_THROW(CMovie(nullptr, true), LException);
}

}  // namespace

namespace {

// The bundle's texts, for the duration of a test.
struct StBundleTexts {
  StBundleTexts() { UBundle::SetMainBundlePath(TRX_TEST_BUNDLE); }
  ~StBundleTexts() { UBundle::SetMainBundlePath(""); }
};

std::string ListItem(SInt16 inIndex) {
  Str255 text;
  ULocalization::GetString(text, STRx_MovieTexts, inIndex);
  return std::string(reinterpret_cast<const char*>(text + 1), text[0]);
}

std::string MessageOf(const LException& e) {
  ConstStringPtr p = e.GetErrorString();
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

std::vector<std::pair<SInt16, std::string>> gProgress;
SInt16 RecordProgress(SInt16 inMessage, SInt32, SInt32, unsigned char* inText) {
  gProgress.emplace_back(inMessage, std::string(reinterpret_cast<const char*>(inText + 1), inText[0]));
  return 0;
}

}  // namespace

// Once movies start, error texts name the movie toolbox's errors; a movie
// file that cannot be opened or read says so with the movie-file texts; the
// movie's progress reaches the program's progress procedure.
TEST(CMovie, FileFailuresAndProgressCarryTheirTexts) {
  StBundleTexts texts;
  ASSERT_TRUE(UMovies::InitMovies());
  LStr255 s;
  EXPECT_TRUE(UMessage::GetOSErrString(-2010, s));
  EXPECT_EQ(Text(s), "The movie is not valid.");

  char pattern[] = "/tmp/trx-cmovie-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  FSSpec missing;
  FSMakeFSSpecFromPath(folder + "/missing.mov", &missing);
  try {
    CMovie movie(&missing);
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), fnfErr);
    // A known error: the list's text and why.
    EXPECT_EQ(MessageOf(e), ListItem(1) + " The file could not be found.");
    EXPECT_FALSE(ListItem(1).empty());
  }
  const std::string junk = folder + "/junk.mov";
  FILE* f = std::fopen(junk.c_str(), "wb");
  std::fputs("no movie in here at all, only words", f);
  std::fclose(f);
  FSSpec junkSpec;
  FSMakeFSSpecFromPath(junk, &junkSpec);
  try {
    CMovie movie(&junkSpec);
    FAIL();
  } catch (const LException& e) {
    LStr255 name;
    const bool known = UMessage::GetOSErrString(ErrorCodeToOSErr(e.GetErrorCode()), name);
    EXPECT_TRUE(known);
    EXPECT_EQ(MessageOf(e), ListItem(3));  // it says why already
    EXPECT_EQ(MessageOf(e).find("unknown"), std::string::npos) << MessageOf(e);
  }

  gProgress.clear();
  CMovie::SetUniversalProgressProc(RecordProgress);
  {
    CMovie movie(RawMovie(10, 60, 600), true);
    FSSpec saved;
    FSMakeFSSpecFromPath(folder + "/saved.mov", &saved);
    EXPECT_EQ(movie.Save(&saved, false), noErr);
  }
  CMovie::SetUniversalProgressProc(nullptr);
  ASSERT_GE(gProgress.size(), 2u);
  EXPECT_EQ(gProgress.front().first, 0);
  EXPECT_EQ(gProgress.back().first, 2);
  EXPECT_EQ(gProgress.front().second, ListItem(5));  // "Flattening the movie"
  std::filesystem::remove_all(folder);
}

TEST(CMovie, MovieTaskFocusesTheAttachedView) {
  SWindowInfo info;
  LWindow window(info);
  SPaneInfo paneInfo;
  paneInfo.width = 40;
  paneInfo.height = 30;
  LView* view = new LView(paneInfo, SViewInfo());
  view->PutInside(&window);
  CMovie movie(RawMovie(10, 60, 600), true);
  CGrafPtr before = nullptr;
  GDHandle device = nullptr;
  GetGWorld(&before, &device);
  movie.MovieTask();  // no view: nothing focused
  EXPECT_NE(LPane::GetLastPaneFocused(), view);
  movie.SetView(view);
  movie.GotoTime(120);  // runs a movie task
  EXPECT_EQ(LPane::GetLastPaneFocused(), view);
  CGrafPtr after = nullptr;
  GetGWorld(&after, &device);
  EXPECT_EQ(after, before);  // the caller's port is back
}
