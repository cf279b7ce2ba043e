#include <gtest/gtest.h>

#include "MovieTestUtil.h"

namespace {

OSErr gLastProcErr = 0;
int gProcCalls = 0;
void ErrProc(OSErr err, SInt32) {
  gLastProcErr = err;
  ++gProcCalls;
}

struct MovieFixture : ::testing::Test {
  Movie m = nullptr;
  void SetUp() override {
    EnterMovies();
    m = NewMovie(newMovieActive);
  }
  void TearDown() override {
    DisposeMovie(m);
    SetMoviesErrorProc(nullptr, 0);
  }
  TimeValue Next(TimeValue t, OSType type = 'eyes', SInt16 flags = nextTimeMediaSample) {
    TimeValue out = 0;
    GetMovieNextInterestingTime(m, flags, 1, &type, t, fixed1, &out, nullptr);
    return out;
  }
  TimeValue Prev(TimeValue t, OSType type = 'eyes', SInt16 flags = nextTimeMediaSample) {
    TimeValue out = 0;
    GetMovieNextInterestingTime(m, flags, 1, &type, t, -fixed1, &out, nullptr);
    return out;
  }
};

TEST_F(MovieFixture, DefaultsAndStaleHandles) {
  EXPECT_EQ(GetMovieTimeScale(m), 600);
  EXPECT_EQ(GetMovieDuration(m), 0);
  SetMoviesErrorProc(ErrProc, 7);
  gProcCalls = 0;

  Track t = NewMovieTrack(m, Long2Fix(10), Long2Fix(10), 0);
  Media md = NewTrackMedia(t, 'twen', 600, nullptr, 0);
  UserData ud = GetTrackUserData(t);
  ASSERT_NE(md, nullptr);
  DisposeMovieTrack(t);
  EXPECT_EQ(GetMoviesError(), noErr);

  // Every handle of the removed track is stale now and answers an error.
  EXPECT_EQ(GetTrackLayer(t), 0);
  EXPECT_EQ(GetMoviesError(), invalidTrack);
  EXPECT_EQ(GetMediaTimeScale(md), 0);
  EXPECT_EQ(GetMoviesError(), invalidMedia);
  EXPECT_EQ(CountUserDataType(ud, 'abcd'), 0);
  EXPECT_NE(GetMoviesError(), noErr);
  EXPECT_EQ(gProcCalls, 3);

  Movie other = NewMovie(0);
  DisposeMovie(other);
  EXPECT_EQ(GetMovieDuration(other), 0);
  EXPECT_EQ(GetMoviesError(), invalidMovie);
  EXPECT_EQ(gLastProcErr, invalidMovie);
  EXPECT_EQ(GetMovieTrackCount(nullptr), 0);
  EXPECT_EQ(GetMoviesError(), invalidMovie);
}

TEST_F(MovieFixture, TracksIndicesAndStamps) {
  Track a = NewMovieTrack(m, Long2Fix(320), Long2Fix(240), 0);
  Track b = NewMovieTrack(m, Long2Fix(16), Long2Fix(16), 0);
  EXPECT_EQ(GetMovieTrackCount(m), 2);
  EXPECT_EQ(GetMovieIndTrack(m, 1), a);
  EXPECT_EQ(GetMovieIndTrack(m, 2), b);
  EXPECT_EQ(GetMovieIndTrack(m, 3), nullptr);
  EXPECT_EQ(GetMoviesError(), badTrackIndex);
  EXPECT_EQ(GetTrackID(a), 1);
  EXPECT_EQ(GetTrackID(b), 2);
  EXPECT_EQ(GetMovieTrack(m, 2), b);

  UInt32 s0 = GetTrackModificationTime(a);
  SetTrackLayer(a, 5);
  UInt32 s1 = GetTrackModificationTime(a);
  SetTrackEnabled(a, false);
  UInt32 s2 = GetTrackModificationTime(a);
  EXPECT_LT(s0, s1);
  EXPECT_LT(s1, s2);

  DisposeMovieTrack(a);
  EXPECT_EQ(GetMovieIndTrack(m, 1), b);
  Track c = NewMovieTrack(m, 0, 0, 0);
  EXPECT_EQ(GetTrackID(c), 3);  // ids are never reused
}

TEST_F(MovieFixture, EditsOffsetsAndMediaTimes) {
  // 10 frames of 24 units at media scale 600, placed at movie time 120.
  Track t = AddRawVideoTrack(m, 4, 4, 10, 24, 600, 120);
  EXPECT_EQ(GetTrackOffset(t), 120);
  EXPECT_EQ(GetTrackDuration(t), 360);
  EXPECT_EQ(GetMovieDuration(m), 360);
  EXPECT_EQ(TrackTimeToMediaTime(100, t), -1);
  EXPECT_EQ(TrackTimeToMediaTime(120, t), 0);
  EXPECT_EQ(TrackTimeToMediaTime(150, t), 30);
  EXPECT_EQ(TrackTimeToMediaTime(360, t), -1);

  // Delete 48 units in the middle: frames 2 and 3 go.
  ASSERT_EQ(DeleteTrackSegment(t, 168, 48), noErr);
  EXPECT_EQ(GetTrackDuration(t), 312);
  EXPECT_EQ(TrackTimeToMediaTime(167, t), 47);
  EXPECT_EQ(TrackTimeToMediaTime(168, t), 96);

  // An empty segment before the track moves it.
  ASSERT_EQ(InsertEmptyTrackSegment(t, 0, 60), noErr);
  EXPECT_EQ(GetTrackOffset(t), 180);
  SetTrackOffset(t, 0);
  EXPECT_EQ(GetTrackOffset(t), 0);
  EXPECT_EQ(GetTrackDuration(t), 192);

  // A media time scale differing from the movie's.
  Movie m2 = NewMovie(0);
  Track t2 = AddRawVideoTrack(m2, 2, 2, 4, 1, 25);  // 4 frames at 25 fps
  EXPECT_EQ(GetTrackDuration(t2), 96);
  EXPECT_EQ(TrackTimeToMediaTime(47, t2), 1);
  EXPECT_EQ(TrackTimeToMediaTime(48, t2), 2);
  DisposeMovie(m2);
}

TEST_F(MovieFixture, InterestingTimesFollowTheStrictRule) {
  AddRawVideoTrack(m, 2, 2, 5, 24, 600, 100);  // frames at 100,124,148,172,196; end 220
  EXPECT_EQ(Next(0), 100);
  EXPECT_EQ(Next(99), 100);
  EXPECT_EQ(Next(100), 124);  // strictly after
  EXPECT_EQ(Next(110), 124);
  EXPECT_EQ(Next(196), -1);
  EXPECT_EQ(Prev(100), -1);
  EXPECT_EQ(Prev(101), 100);
  EXPECT_EQ(Prev(124), 100);  // strictly before
  EXPECT_EQ(Prev(500), 196);
  TimeValue out = 0;
  OSType eyes = 'eyes';
  GetMovieNextInterestingTime(m, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, 124, fixed1, &out, nullptr);
  EXPECT_EQ(out, 124);
  TimeValue dur = 0;
  GetMovieNextInterestingTime(m, nextTimeMediaSample, 1, &eyes, 130, fixed1, &out, &dur);
  EXPECT_EQ(out, 148);
  EXPECT_EQ(dur, 24);
  // Edit boundaries: the start and end of the media.
  EXPECT_EQ(Next(0, 'eyes', nextTimeMediaEdit), 100);
  EXPECT_EQ(Next(100, 'eyes', nextTimeMediaEdit), 220);
}

TEST_F(MovieFixture, InterestingTimesAtEditBoundariesAndCompositionOffsets) {
  Track t = AddRawVideoTrack(m, 2, 2, 6, 100, 600);  // 0,100,...,500
  // Cut 150..350: the frame at 100 shows to 150, then media 350 (inside frame 3) shows at 150.
  ASSERT_EQ(DeleteTrackSegment(t, 150, 200), noErr);
  EXPECT_EQ(Next(100), 150);
  EXPECT_EQ(Next(150), 200);  // media 400 = movie 200
  EXPECT_EQ(Prev(200), 150);
  EXPECT_EQ(Prev(150), 100);

  // Composition offsets reorder display times; the rule uses display times.
  Movie m2 = NewMovie(0);
  Track t2 = AddRawVideoTrack(m2, 2, 2, 3, 100, 600);
  Media md = GetTrackMedia(t2);
  ASSERT_EQ(SetMediaSampleDisplayOffset(md, 1, 200), noErr);   // sample 1 shows at 200
  ASSERT_EQ(SetMediaSampleDisplayOffset(md, 2, -100), noErr);  // sample 2 shows at 0
  ASSERT_EQ(SetMediaSampleDisplayOffset(md, 3, -100), noErr);  // sample 3 shows at 100
  OSType eyes = 'eyes';
  TimeValue out = 0;
  GetMovieNextInterestingTime(m2, nextTimeMediaSample, 1, &eyes, 0, fixed1, &out, nullptr);
  EXPECT_EQ(out, 100);
  GetMovieNextInterestingTime(m2, nextTimeMediaSample, 1, &eyes, 100, fixed1, &out, nullptr);
  EXPECT_EQ(out, 200);
  GetMovieNextInterestingTime(m2, nextTimeMediaSample, 1, &eyes, 200, fixed1, &out, nullptr);
  EXPECT_EQ(out, -1);
  GetMovieNextInterestingTime(m2, nextTimeMediaSample, 1, &eyes, 200, -fixed1, &out, nullptr);
  EXPECT_EQ(out, 100);
  DisposeMovie(m2);
}

TEST_F(MovieFixture, EyesSkipsTweenAndDisabledTracks) {
  AddTweenTrack(m, 4, 10, 0x3000);
  EXPECT_EQ(Next(0), -1);
  EXPECT_EQ(Next(0, 'twen'), 10);
  Track v = AddRawVideoTrack(m, 2, 2, 3, 30, 600);
  EXPECT_EQ(Next(0), 30);
  SetTrackEnabled(v, false);
  EXPECT_EQ(Next(0), -1);
}

TEST_F(MovieFixture, TimeCodeStepping25fps) {
  // 25 fps at time scale 600: one frame every 24 units.
  AddRawVideoTrack(m, 2, 2, 100, 1, 25);
  // "00:00:02:05": from base 1200 - 1 one step to the frame at 1200, then five more.
  TimeValue t = Next(1199);
  EXPECT_EQ(t, 1200);
  for (int i = 0; i < 5; ++i) t = Next(t);
  EXPECT_EQ(t, 1320);
  // Back from 1320: five steps stay in second 2, the sixth lands in second 1.
  int frames = 0;
  TimeValue p = 1320;
  for (;;) {
    TimeValue q = Prev(p);
    if (q < 0 || q / 600 < 2) break;
    p = q;
    ++frames;
  }
  EXPECT_EQ(frames, 5);
}

TEST_F(MovieFixture, UserDataItems) {
  UserData ud = GetMovieUserData(m);
  Handle a = BytesHandle({1, 2, 3});
  Handle b = BytesHandle({4});
  ASSERT_EQ(AddUserData(ud, a, 'Trbx'), noErr);
  ASSERT_EQ(AddUserData(ud, b, 'RdPr'), noErr);
  ASSERT_EQ(AddUserData(ud, b, 'Trbx'), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'Trbx'), 2);
  EXPECT_EQ(GetNextUserDataType(ud, 0), static_cast<SInt32>('Trbx'));
  EXPECT_EQ(GetNextUserDataType(ud, 'Trbx'), static_cast<SInt32>('RdPr'));
  EXPECT_EQ(GetNextUserDataType(ud, 'RdPr'), 0);
  Handle out = NewHandle(0);
  ASSERT_EQ(GetUserData(ud, out, 'Trbx', 2), noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>({4}));
  EXPECT_EQ(GetUserData(ud, out, 'Trbx', 3), userDataItemNotFound);
  ASSERT_EQ(RemoveUserData(ud, 'Trbx', 1), noErr);
  ASSERT_EQ(GetUserData(ud, out, 'Trbx', 1), noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>({4}));
  EXPECT_EQ(RemoveUserData(ud, 'Trbx', 2), userDataItemNotFound);
  EXPECT_TRUE(HasMovieChanged(m));
  DisposeHandle(a);
  DisposeHandle(b);
  DisposeHandle(out);
}

TEST_F(MovieFixture, SamplesReadBackAndGroup) {
  Track t = NewMovieTrack(m, 0, 0, 0);
  Media md = NewTrackMedia(t, 'soun', 48000, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  ASSERT_EQ(AddMediaDataRef(md, nullptr, ref, 'hndl'), noErr);
  DisposeHandle(ref);
  SampleDescriptionHandle desc = MakeDataDesc('twos');
  std::vector<UInt8> bytes(400);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<UInt8>(i);
  Handle data = BytesHandle(bytes);
  TimeValue st = -1;
  // 100 audio frames of 4 bytes each in one call, then 100 more.
  ASSERT_EQ(AddMediaSample(md, data, 0, 400, 1, desc, 100, 0, &st), noErr);
  EXPECT_EQ(st, 0);
  ASSERT_EQ(AddMediaSample(md, data, 0, 400, 1, desc, 100, 0, &st), noErr);
  EXPECT_EQ(st, 100);
  EXPECT_EQ(GetMediaSampleCount(md), 200);
  EXPECT_EQ(GetMediaSampleDescriptionCount(md), 1);

  Handle out = NewHandle(0);
  SInt32 size = 0, n = 0;
  TimeValue sampleTime = 0, dur = 0;
  ASSERT_EQ(GetMediaSample(md, out, 0, &size, 150, &sampleTime, &dur, nullptr, nullptr, 30, &n, nullptr), noErr);
  EXPECT_EQ(n, 30);
  EXPECT_EQ(size, 120);
  EXPECT_EQ(sampleTime, 150);
  EXPECT_EQ(dur, 1);
  EXPECT_EQ(static_cast<UInt8>((*out)[0]), 200);  // frame 50 of the second block
  EXPECT_EQ(GetMediaSample(md, out, 0, &size, 200, nullptr, nullptr, nullptr, nullptr, 1, &n, nullptr),
            invalidTime);
  EXPECT_EQ(GetMediaSample(md, out, 8, &size, 0, nullptr, nullptr, nullptr, nullptr, 1, &n, nullptr), noErr);
  DisposeHandle(out);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST_F(MovieFixture, CopyOutlivesOriginalAndViceVersa) {
  Track t = AddTweenTrack(m, 5, 10, 0x3100);
  SetMovieSelection(m, 10, 30);
  Movie copy = CopyMovieSelection(m);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(GetMovieDuration(copy), 30);
  // Disposing the copy leaves the original's in-memory samples intact.
  DisposeMovie(copy);
  Handle out = NewHandle(0);
  Media md = GetTrackMedia(t);
  ASSERT_EQ(GetMediaSample(md, out, 0, nullptr, 40, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr), noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>(8, 4));
  // And a copy keeps reading after the original is gone.
  copy = CopyMovieSelection(m);
  DisposeMovie(m);
  m = copy;
  Track ct = GetMovieIndTrack(m, 1);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(ct), out, 0, nullptr, TrackTimeToMediaTime(0, ct), nullptr, nullptr,
                           nullptr, nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>(8, 1));
  EXPECT_EQ(GetTrackLayer(ct), 0x3100);
  DisposeHandle(out);
}

TEST_F(MovieFixture, CutPasteClearWithEditStates) {
  Track v = AddRawVideoTrack(m, 2, 2, 10, 60, 600);  // 600 units
  AddTweenTrack(m, 5, 60, 0x3000, 120);              // 120..420
  MovieEditState s0 = NewMovieEditState(m);

  SetMovieSelection(m, 60, 120);
  Movie cut = CutMovieSelection(m);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(GetMovieDuration(m), 480);
  EXPECT_EQ(GetMovieDuration(cut), 120);
  EXPECT_EQ(GetMovieTrackCount(cut), 2);
  TimeValue ss, sd;
  GetMovieSelection(m, &ss, &sd);
  EXPECT_EQ(ss, 60);
  EXPECT_EQ(sd, 0);
  // The tween track started at 120, inside the cut: its rest now starts at 60.
  Track tw = GetMovieIndTrack(m, 2);
  EXPECT_EQ(GetTrackOffset(tw), 60);
  EXPECT_EQ(GetTrackDuration(tw), 300);
  MovieEditState s1 = NewMovieEditState(m);

  // Paste at 0: every track makes room, the pasted pieces land in matching tracks.
  SetMovieSelection(m, 0, 0);
  PasteMovieSelection(m, cut);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(GetMovieDuration(m), 600);
  EXPECT_EQ(GetMovieTrackCount(m), 2);
  GetMovieSelection(m, &ss, &sd);
  EXPECT_EQ(ss, 0);
  EXPECT_EQ(sd, 120);
  EXPECT_EQ(TrackTimeToMediaTime(120, v), 0);
  // The pasted frames are frames 1 and 2 of the original (brought into the media).
  Handle px = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(v), px, 0, nullptr, TrackTimeToMediaTime(0, v), nullptr, nullptr, nullptr,
                           nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(static_cast<UInt8>((*px)[1]), 2);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(v), px, 0, nullptr, TrackTimeToMediaTime(60, v), nullptr, nullptr, nullptr,
                           nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(static_cast<UInt8>((*px)[1]), 3);
  DisposeHandle(px);
  // The tween's pasted part (its first 60 units) sits at 60..120, a gap follows, then the rest.
  EXPECT_EQ(GetTrackOffset(tw), 60);
  EXPECT_EQ(TrackTimeToMediaTime(150, tw), -1);
  EXPECT_EQ(GetTrackDuration(tw), 420);

  // Undo to after the cut, then to the start: everything as it was.
  ASSERT_EQ(UseMovieEditState(m, s1), noErr);
  EXPECT_EQ(GetMovieDuration(m), 480);
  ASSERT_EQ(UseMovieEditState(m, s0), noErr);
  EXPECT_EQ(GetMovieDuration(m), 600);
  EXPECT_EQ(TrackTimeToMediaTime(90, v), 90);
  EXPECT_EQ(GetTrackOffset(tw), 120);  // the same handle names the restored track
  // Clear and undo.
  SetMovieSelection(m, 0, 300);
  ClearMovieSelection(m);
  EXPECT_EQ(GetMovieDuration(m), 300);
  ASSERT_EQ(UseMovieEditState(m, s0), noErr);
  EXPECT_EQ(GetMovieDuration(m), 600);

  Movie other = NewMovie(0);
  EXPECT_EQ(UseMovieEditState(other, s0), nonMatchingEditState);
  DisposeMovie(other);
  DisposeMovieEditState(s0);
  DisposeMovieEditState(s1);
  EXPECT_EQ(UseMovieEditState(m, s0), invalidEditState);
  DisposeMovie(cut);
}

TEST_F(MovieFixture, EditStatesBringBackRemovedTracksAndDropAddedOnes) {
  Track a = AddTweenTrack(m, 3, 10, 0x3100);
  UserData aud = GetTrackUserData(a);
  Handle h = BytesHandle({9, 9});
  AddUserData(aud, h, 'MoSt');
  MovieEditState before = NewMovieEditState(m);
  DisposeMovieTrack(a);
  Track b = NewMovieTrack(m, 0, 0, 0);
  EXPECT_EQ(GetMovieTrackCount(m), 1);
  MovieEditState after = NewMovieEditState(m);

  ASSERT_EQ(UseMovieEditState(m, before), noErr);
  EXPECT_EQ(GetMovieTrackCount(m), 1);
  EXPECT_EQ(GetMovieIndTrack(m, 1), a);  // the removed track is back under its handle
  EXPECT_EQ(GetTrackLayer(a), 0x3100);
  EXPECT_EQ(GetTrackLayer(b), 0);
  EXPECT_EQ(GetMoviesError(), invalidTrack);  // the added one is gone
  EXPECT_EQ(CountUserDataType(GetTrackUserData(a), 'MoSt'), 1);
  Handle out = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(a), out, 0, nullptr, 25, nullptr, nullptr, nullptr, nullptr, 1, nullptr,
                           nullptr),
            noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>(8, 2));

  ASSERT_EQ(UseMovieEditState(m, after), noErr);  // redo
  EXPECT_EQ(GetMovieTrackCount(m), 1);
  EXPECT_EQ(GetMovieIndTrack(m, 1), b);
  DisposeMovieEditState(before);
  DisposeMovieEditState(after);
  DisposeHandle(h);
  DisposeHandle(out);
}

TEST_F(MovieFixture, BoxNaturalBoundsAndApertureModes) {
  Track t = AddRawVideoTrack(m, 40, 30, 1, 10, 600);
  MatrixRecord mx;
  SetIdentityMatrix(&mx);
  TranslateMatrix(&mx, Long2Fix(20), Long2Fix(10));
  SetTrackMatrix(t, &mx);
  Rect r;
  GetMovieNaturalBoundsRect(m, &r);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right, 60);
  EXPECT_EQ(r.bottom, 40);
  Rect box = {0, 0, 60, 80};
  SetMovieBox(m, &box);
  GetMovieBox(m, &r);
  EXPECT_EQ(r.right, 80);
  EXPECT_EQ(r.bottom, 60);

  Boolean has = true;
  QTGetMovieProperty(m, 'visu', 'hamd', sizeof has, &has, nullptr);
  EXPECT_FALSE(has);
  ASSERT_EQ(GenerateMovieApertureModeDimensions(m), noErr);
  QTGetMovieProperty(m, 'visu', 'hamd', sizeof has, &has, nullptr);
  EXPECT_TRUE(has);
  OSType mode = 'encn';
  ASSERT_EQ(QTSetMovieProperty(m, 'visu', 'apmd', sizeof mode, &mode), noErr);
  OSType got = 0;
  QTGetMovieProperty(m, 'visu', 'apmd', sizeof got, &got, nullptr);
  EXPECT_EQ(got, 'encn');
  mode = 'bad!';
  EXPECT_EQ(QTSetMovieProperty(m, 'visu', 'apmd', sizeof mode, &mode), paramErr);
}

TEST_F(MovieFixture, PastingSoundBringsWholeRunsAlong) {
  // One sample per audio frame: 48000 frames pasted from another movie.
  Movie src = NewMovie(0);
  SetMovieTimeScale(src, 48000);
  Track st = NewMovieTrack(src, 0, 0, 0x100);
  Media sm = NewTrackMedia(st, 'soun', 48000, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(sm, nullptr, ref, 'hndl');
  DisposeHandle(ref);
  SampleDescriptionHandle desc = MakeDataDesc('twos');
  std::vector<UInt8> pcm(2 * 48000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<UInt8>(i / 2);
  Handle data = BytesHandle(pcm);
  ASSERT_EQ(AddMediaSample(sm, data, 0, static_cast<UInt32>(pcm.size()), 1, desc, 48000, 0, nullptr), noErr);
  InsertMediaIntoTrack(st, 0, 0, 48000, fixed1);
  Track dt = NewMovieTrack(m, 0, 0, 0x100);
  Media dm = NewTrackMedia(dt, 'soun', 48000, nullptr, 0);
  ASSERT_EQ(InsertTrackSegment(st, dt, 24000, 12000, 0), noErr);
  EXPECT_EQ(GetTrackDuration(dt), 150);  // a quarter second at scale 600
  EXPECT_EQ(GetMediaSampleCount(dm), 12000);
  Handle out = NewHandle(0);
  SInt32 n = 0;
  ASSERT_EQ(GetMediaSample(dm, out, 0, nullptr, TrackTimeToMediaTime(0, dt), nullptr, nullptr, nullptr, nullptr, 4,
                           &n, nullptr),
            noErr);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(static_cast<UInt8>((*out)[0]), static_cast<UInt8>(24000));
  DisposeHandle(out);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(src);
}

}  // namespace
