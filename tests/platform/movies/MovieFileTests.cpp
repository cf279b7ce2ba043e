#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "MovieTestUtil.h"
#include "platform/base/Endian.h"
#include "platform/files/Scrap.h"
#include "platform/movies/MovieImport.h"
#include "support/movies/RawMovie.h"

namespace {

// The creator the movie files of these tests are made with: the program's
// own (its constant is media's, out of these tests' reach).
constexpr OSType kTestCreator = 'DEZI';

struct FileFixture : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/trx-movies-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::string cmd = "chmod -R u+w '" + dir + "' && rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  FSSpec Spec(const std::string& name) {
    FSSpec s;
    FSMakeFSSpecFromPath(dir + "/" + name, &s);
    return s;
  }
  std::vector<UInt8> FileBytes(const std::string& name) {
    std::ifstream f(dir + "/" + name, std::ios::binary);
    return std::vector<UInt8>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }
  Movie Open(const std::string& name, SInt8 perm = fsRdPerm) {
    FSSpec s = Spec(name);
    SInt16 ref = 0;
    EXPECT_EQ(OpenMovieFile(&s, &ref, perm), noErr);
    Movie m = nullptr;
    SInt16 resId = 0;
    EXPECT_EQ(NewMovieFromFile(&m, ref, &resId, nullptr, newMovieActive, nullptr), noErr);
    EXPECT_EQ(resId, movieInDataForkResID);
    CloseMovieFile(ref);
    return m;
  }
  static std::vector<UInt8> Sample(Track t, TimeValue movieTime) {
    Handle h = NewHandle(0);
    OSErr err = GetMediaSample(GetTrackMedia(t), h, 0, nullptr, TrackTimeToMediaTime(movieTime, t), nullptr, nullptr,
                               nullptr, nullptr, 1, nullptr, nullptr);
    std::vector<UInt8> out = err == noErr ? HandleToBytes(h) : std::vector<UInt8>();
    DisposeHandle(h);
    return out;
  }
  // A movie with a video track, a motion track and a control track, with user data at every level.
  Movie Build() {
    Movie m = NewMovie(newMovieActive);
    Track v = AddRawVideoTrack(m, 8, 6, 5, 24, 600);
    Track motion = AddTweenTrack(m, 4, 24, 0x3000, 24);
    Track control = AddTweenTrack(m, 3, 24, 0x3100, 48);
    SetTrackEnabled(control, false);
    MatrixRecord mx;
    SetIdentityMatrix(&mx);
    TranslateMatrix(&mx, Long2Fix(20), Long2Fix(10));
    SetTrackMatrix(v, &mx);
    Handle a = BytesHandle({1, 2, 3, 4, 5});
    AddUserData(GetMovieUserData(m), a, 'Trbx');
    AddUserData(GetTrackUserData(motion), a, 'Trbx');
    Handle b = BytesHandle({7, 7});
    AddUserData(GetTrackUserData(control), b, 'RdPr');
    AddUserData(GetTrackUserData(control), a, 'MoSt');
    AddUserData(GetMediaUserData(GetTrackMedia(v)), b, 'mdud');
    SInt32 idx = 0;
    AddTrackReference(control, motion, 'twen', &idx);
    DisposeHandle(a);
    DisposeHandle(b);
    SetMovieSelection(m, 24, 48);
    return m;
  }
  void ExpectSameAsBuilt(Movie m) {
    ASSERT_EQ(GetMovieTrackCount(m), 3);
    EXPECT_EQ(GetMovieTimeScale(m), 600);
    EXPECT_EQ(GetMovieDuration(m), 120);
    Track v = GetMovieIndTrack(m, 1), motion = GetMovieIndTrack(m, 2), control = GetMovieIndTrack(m, 3);
    OSType type = 0;
    GetMediaHandlerDescription(GetTrackMedia(motion), &type, nullptr, nullptr);
    EXPECT_EQ(type, 'twen');
    EXPECT_EQ(GetTrackLayer(motion), 0x3000);
    EXPECT_EQ(GetTrackLayer(control), 0x3100);
    EXPECT_EQ(GetTrackOffset(motion), 24);
    EXPECT_EQ(GetTrackOffset(control), 48);
    EXPECT_FALSE(GetTrackEnabled(control));
    EXPECT_TRUE(GetTrackEnabled(v));
    MatrixRecord mx;
    GetTrackMatrix(v, &mx);
    EXPECT_EQ(mx.matrix[2][0], Long2Fix(20));
    EXPECT_EQ(mx.matrix[2][1], Long2Fix(10));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(Sample(motion, 24 + 24 * k), std::vector<UInt8>(8, static_cast<UInt8>(k)));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(Sample(control, 48 + 24 * k), std::vector<UInt8>(8, static_cast<UInt8>(k)));
    std::vector<UInt8> px = Sample(v, 50);
    ASSERT_EQ(px.size(), 8u * 6 * 4);
    EXPECT_EQ(px[1], 3);  // frame 2
    Handle h = NewHandle(0);
    ASSERT_EQ(GetUserData(GetMovieUserData(m), h, 'Trbx', 1), noErr);
    EXPECT_EQ(HandleToBytes(h), std::vector<UInt8>({1, 2, 3, 4, 5}));
    ASSERT_EQ(GetUserData(GetTrackUserData(control), h, 'RdPr', 1), noErr);
    EXPECT_EQ(HandleToBytes(h), std::vector<UInt8>({7, 7}));
    ASSERT_EQ(GetUserData(GetTrackUserData(control), h, 'MoSt', 1), noErr);
    ASSERT_EQ(GetUserData(GetMediaUserData(GetTrackMedia(v)), h, 'mdud', 1), noErr);
    DisposeHandle(h);
    EXPECT_EQ(GetTrackReference(control, 'twen', 1), motion);
    TimeValue s, d;
    GetMovieSelection(m, &s, &d);
    EXPECT_EQ(s, 24);
    EXPECT_EQ(d, 48);
  }
};

TEST_F(FileFixture, FlattenRoundTripPreservesEverything) {
  Movie m = Build();
  FSSpec spec = Spec("flat.mov");
  Movie flat = FlattenMovieData(m, flattenAddMovieToDataFork, &spec, kTestCreator, smSystemScript, createMovieFileDeleteCurFile);
  ASSERT_NE(flat, nullptr) << GetMoviesError();
  ExpectSameAsBuilt(flat);
  DisposeMovie(flat);
  Movie back = Open("flat.mov");
  ExpectSameAsBuilt(back);

  // Writing what was read gives the same bytes again.
  FSSpec spec2 = Spec("flat2.mov");
  Movie again = FlattenMovieData(back, 0, &spec2, kTestCreator, 0, createMovieFileDontCreateMovie);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(GetMoviesError(), noErr);
  std::vector<UInt8> a = FileBytes("flat.mov"), b = FileBytes("flat2.mov");
  EXPECT_EQ(a.size(), b.size());
  // Only the modification times in the headers may differ.
  size_t diff = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) diff += a[i] != b[i];
  EXPECT_LT(diff, 40u);
  DisposeMovie(back);
  DisposeMovie(m);

  // Without the replace flag an existing file is refused.
  Movie m2 = NewMovie(0);
  EXPECT_EQ(FlattenMovieData(m2, 0, &spec, kTestCreator, 0, 0), nullptr);
  EXPECT_EQ(GetMoviesError(), dupFNErr);
  DisposeMovie(m2);
}

TEST_F(FileFixture, ReferenceSaveWritesMemoryMediaAndKeepsFileReferences) {
  Movie m = Build();
  FSSpec src = Spec("source.mov");
  Movie flat = FlattenMovieData(m, 0, &src, kTestCreator, 0, createMovieFileDeleteCurFile);
  ASSERT_NE(flat, nullptr);
  DisposeMovie(m);
  std::vector<UInt8> sourceBytes = FileBytes("source.mov");

  // The document adds a motion track in memory, then saves as a reference movie elsewhere.
  AddTweenTrack(flat, 2, 30, 0x3000, 0);
  FSSpec ref = Spec("ref.mov");
  SInt16 refNum = 0;
  Movie dummy = nullptr;
  ASSERT_EQ(CreateMovieFile(&ref, kTestCreator, 0, createMovieFileDeleteCurFile | createMovieFileDontCreateMovie, &refNum,
                            &dummy),
            noErr);
  SInt16 resId = 0;
  ASSERT_EQ(AddMovieResource(flat, refNum, &resId, nullptr), noErr);
  CloseMovieFile(refNum);
  EXPECT_EQ(FileBytes("source.mov"), sourceBytes);  // the source is untouched
  // The reference file holds the new track's bytes but not the source's media.
  EXPECT_LT(FileBytes("ref.mov").size(), sourceBytes.size());

  Movie back = Open("ref.mov");
  ASSERT_EQ(GetMovieTrackCount(back), 4);
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 4), 30), std::vector<UInt8>(8, 1));
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 2), 48), std::vector<UInt8>(8, 1));  // read from source.mov
  // The source cannot be deleted while movies read from it.
  EXPECT_EQ(DeleteMovieFile(&src), fBsyErr);
  DisposeMovie(back);
  DisposeMovie(flat);
  EXPECT_EQ(DeleteMovieFile(&src), noErr);
}

TEST_F(FileFixture, SavingOverTheSourceKeepsItsData) {
  Movie m = Build();
  FSSpec src = Spec("doc.mov");
  Movie flat = FlattenMovieData(m, 0, &src, kTestCreator, 0, createMovieFileDeleteCurFile);
  DisposeMovie(m);
  ASSERT_NE(flat, nullptr);
  // Delete a track, then save as reference into the very file its media live in.
  DisposeMovieTrack(GetMovieIndTrack(flat, 1));
  SInt16 ref = 0;
  ASSERT_EQ(OpenMovieFile(&src, &ref, fsRdWrPerm), noErr);
  ASSERT_EQ(UpdateMovieResource(flat, ref, movieInDataForkResID, nullptr), noErr);
  CloseMovieFile(ref);
  // The movie still reads, and so does the file written.
  EXPECT_EQ(Sample(GetMovieIndTrack(flat, 1), 48), std::vector<UInt8>(8, 1));
  Movie back = Open("doc.mov");
  ASSERT_EQ(GetMovieTrackCount(back), 2);
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 1), 48), std::vector<UInt8>(8, 1));
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 2), 96), std::vector<UInt8>(8, 2));

  // Self-contained over the source while another movie still reads it.
  FSSpec same = Spec("doc.mov");
  Movie again = FlattenMovieData(back, 0, &same, kTestCreator, 0, createMovieFileDeleteCurFile | createMovieFileDontCreateMovie);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(GetMoviesError(), noErr);
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 2), 96), std::vector<UInt8>(8, 2));
  DisposeMovie(back);
  back = Open("doc.mov");
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 2), 96), std::vector<UInt8>(8, 2));
  DisposeMovie(back);
  DisposeMovie(flat);
}

TEST_F(FileFixture, FailedSaveLeavesTheTarget) {
  Movie m = Build();
  FSSpec spec = Spec("keep.mov");
  DisposeMovie(FlattenMovieData(m, 0, &spec, kTestCreator, 0, 0));
  std::vector<UInt8> before = FileBytes("keep.mov");
  // A progress procedure that cancels midway.
  SetMovieProgressProc(
      m, [](Movie, SInt16 msg, SInt16, Fixed, SInt32) -> OSErr { return msg == movieProgressUpdatePercent ? -128 : 0; },
      0);
  EXPECT_EQ(FlattenMovieData(m, 0, &spec, kTestCreator, 0, createMovieFileDeleteCurFile), nullptr);
  EXPECT_EQ(GetMoviesError(), userCanceledErr);
  EXPECT_EQ(FileBytes("keep.mov"), before);
  // No temporary file is left behind.
  std::string cmd = "ls -A '" + dir + "' | wc -l";
  FILE* p = popen(cmd.c_str(), "r");
  int n = 0;
  ASSERT_EQ(fscanf(p, "%d", &n), 1);
  pclose(p);
  EXPECT_EQ(n, 1 + static_cast<int>(access((dir + "/._keep.mov").c_str(), F_OK) == 0));
  DisposeMovie(m);
}

TEST_F(FileFixture, LockedFilesOpenReadOnly) {
  Movie m = Build();
  FSSpec spec = Spec("locked.mov");
  DisposeMovie(FlattenMovieData(m, 0, &spec, kTestCreator, 0, 0));
  DisposeMovie(m);
  ASSERT_EQ(chmod((dir + "/locked.mov").c_str(), 0444), 0);
  SInt16 ref = 0;
  EXPECT_EQ(OpenMovieFile(&spec, &ref, fsRdWrPerm), fLckdErr);
  ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdPerm), noErr);
  Movie back = nullptr;
  ASSERT_EQ(NewMovieFromFile(&back, ref, nullptr, nullptr, 0, nullptr), noErr);
  // Saving into a file opened for reading is refused.
  EXPECT_EQ(UpdateMovieResource(back, ref, movieInDataForkResID, nullptr), wrPermErr);
  CloseMovieFile(ref);
  DisposeMovie(back);
  FSSpec missing = Spec("missing.mov");
  EXPECT_EQ(OpenMovieFile(&missing, &ref, fsRdPerm), fnfErr);
}

TEST_F(FileFixture, HandleAndScrapCarryMemoryMediaByValue) {
  Movie m = Build();
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(m, h), noErr);
  DisposeMovie(m);  // the memory media go with it
  Movie back = nullptr;
  ASSERT_EQ(NewMovieFromHandle(&back, h, newMovieActive, nullptr), noErr);
  ExpectSameAsBuilt(back);

  UScrap::Reset();
  ASSERT_EQ(PutMovieOnScrap(back, 0), noErr);
  DisposeMovie(back);
  Movie pasted = NewMovieFromScrap(newMovieActive);
  ASSERT_NE(pasted, nullptr);
  ExpectSameAsBuilt(pasted);
  DisposeMovie(pasted);
  DisposeHandle(h);
  UScrap::Reset();
  EXPECT_EQ(NewMovieFromScrap(0), nullptr);
  EXPECT_EQ(GetMoviesError(), noMovieFound);
}

TEST_F(FileFixture, UnknownAtomsAndTypesSurvive) {
  Movie m = Build();
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(m, h), noErr);
  DisposeMovie(m);
  // Append an unknown atom to the movie atom and one to the first track.
  std::vector<UInt8> bytes = HandleToBytes(h);
  std::vector<UInt8> extra = {0, 0, 0, 12, 'z', 'z', 'z', 'z', 1, 2, 3, 4};
  bytes.insert(bytes.end(), extra.begin(), extra.end());
  WriteBE32(bytes.data(), static_cast<UInt32>(bytes.size()));
  Handle h2 = BytesHandle(bytes);
  Movie back = nullptr;
  ASSERT_EQ(NewMovieFromHandle(&back, h2, 0, nullptr), noErr);
  Handle h3 = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(back, h3), noErr);
  std::vector<UInt8> out = HandleToBytes(h3);
  auto it = std::search(out.begin(), out.end(), extra.begin(), extra.end());
  EXPECT_NE(it, out.end());
  DisposeMovie(back);
  DisposeHandle(h);
  DisposeHandle(h2);
  DisposeHandle(h3);
}

TEST_F(FileFixture, DamagedFilesGiveErrorsNotCrashes) {
  Movie m = Build();
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(m, h), noErr);
  DisposeMovie(m);
  const std::vector<UInt8> good = HandleToBytes(h);

  // Truncations at every length.
  for (size_t n = 0; n < good.size(); n += 7) {
    Handle t = BytesHandle(std::vector<UInt8>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    Movie r = nullptr;
    EXPECT_NE(NewMovieFromHandle(&r, t, 0, nullptr), noErr) << n;
    EXPECT_EQ(r, nullptr);
    DisposeHandle(t);
  }
  // Random corruption: every result is either a movie or an error, and a
  // movie that loads can be walked and written again.
  std::mt19937 rng(12345);
  int loaded = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<UInt8> bad = good;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) {
      size_t at = rng() % bad.size();
      switch (rng() % 3) {
        case 0: bad[at] = static_cast<UInt8>(rng()); break;
        case 1: bad[at] = 0xFF; break;
        default: bad[at] = 0; break;
      }
    }
    Handle t = BytesHandle(bad);
    Movie r = nullptr;
    if (NewMovieFromHandle(&r, t, 0, nullptr) == noErr) {
      ++loaded;
      for (SInt32 i = 1; i <= GetMovieTrackCount(r); ++i) {
        Track tr = GetMovieIndTrack(r, i);
        TimeValue next = 0;
        GetTrackNextInterestingTime(tr, nextTimeMediaSample, 0, fixed1, &next, nullptr);
        Sample(tr, 30);
      }
      Handle o = NewHandle(0);
      PutMovieIntoHandle(r, o);
      DisposeHandle(o);
      DisposeMovie(r);
    }
    DisposeHandle(t);
  }
  EXPECT_GT(loaded, 0);
  DisposeHandle(h);
}

TEST_F(FileFixture, HugeCountsAreRefused) {
  // A sample table claiming four billion samples of one size in a tiny file.
  Movie m = NewMovie(0);
  AddTweenTrack(m, 1, 10, 0);
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(m, h), noErr);
  DisposeMovie(m);
  std::vector<UInt8> bytes = HandleToBytes(h);
  const UInt8 stsz[] = {'s', 't', 's', 'z'};
  auto it = std::search(bytes.begin(), bytes.end(), stsz, stsz + 4);
  ASSERT_NE(it, bytes.end());
  size_t at = static_cast<size_t>(it - bytes.begin()) + 4;
  WriteBE32(&bytes[at + 8], 0xFFFFFFF0u);  // sample count
  Handle t = BytesHandle(bytes);
  Movie r = nullptr;
  EXPECT_EQ(NewMovieFromHandle(&r, t, 0, nullptr), invalidSampleTable);
  // A zero time scale.
  bytes = HandleToBytes(h);
  const UInt8 mdhd[] = {'m', 'd', 'h', 'd'};
  it = std::search(bytes.begin(), bytes.end(), mdhd, mdhd + 4);
  WriteBE32(&*(it + 4 + 12), 0);
  DisposeHandle(t);
  t = BytesHandle(bytes);
  EXPECT_EQ(NewMovieFromHandle(&r, t, 0, nullptr), invalidMedia);
  DisposeHandle(t);
  DisposeHandle(h);
}

TEST_F(FileFixture, ForeignFilesGoToTheImporter) {
  { std::ofstream(dir + "/clip.avi") << "RIFF....AVI LIST"; }
  FSSpec spec = Spec("clip.avi");
  SInt16 ref = 0;
  ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdPerm), noErr);
  Movie m = nullptr;
  EXPECT_NE(NewMovieFromFile(&m, ref, nullptr, nullptr, 0, nullptr), noErr);
  EXPECT_EQ(m, nullptr);
  static std::string sSeen;
  SetMovieFileImporter([](const std::string& path, Movie* out) -> OSErr {
    sSeen = path;
    *out = NewMovie(0);
    return noErr;
  });
  ASSERT_EQ(NewMovieFromFile(&m, ref, nullptr, nullptr, newMovieActive, nullptr), noErr);
  EXPECT_EQ(sSeen, dir + "/clip.avi");
  EXPECT_TRUE(GetMovieActive(m));
  SetMovieFileImporter(nullptr);
  CloseMovieFile(ref);
  DisposeMovie(m);
}

TEST_F(FileFixture, DefaultMemoryDataReference) {
  // A zeroed 4-byte reference names no block: the movie gets one of its own.
  Movie m = NewMovie(0);
  Handle ref = NewHandleClear(4);
  ASSERT_EQ(SetMovieDefaultDataRef(m, ref, HandleDataHandlerSubType), noErr);
  DisposeHandle(ref);
  Track t = AddTweenTrack(m, 2, 10, 0);
  Handle out = NewHandle(0);
  ASSERT_EQ(GetMediaSample(GetTrackMedia(t), out, 0, nullptr, 15, nullptr, nullptr, nullptr, nullptr, 1, nullptr,
                           nullptr),
            noErr);
  EXPECT_EQ(HandleToBytes(out), std::vector<UInt8>(8, 1));
  DisposeHandle(out);
  Handle bad = BytesHandle({1, 2, 3, 4});
  EXPECT_EQ(SetMovieDefaultDataRef(m, bad, HandleDataHandlerSubType), invalidDataRef);
  DisposeHandle(bad);
  DisposeMovie(m);
}

TEST_F(FileFixture, NewMediaOfAFileMovieWriteThroughADataHandlerIntoMemory) {
  Movie m = Build();
  FSSpec spec = Spec("src.mov");
  Movie flat = FlattenMovieData(m, 0, &spec, kTestCreator, 0, 0);
  DisposeMovie(m);
  ASSERT_NE(flat, nullptr);
  std::vector<UInt8> before = FileBytes("src.mov");
  // A builder's way: a new media gets no file reference, so it adds a memory block and writes there.
  Track t = NewMovieTrack(flat, 0, 0, 0);
  Media md = NewTrackMedia(t, 'twen', 600, nullptr, 0);
  SInt16 count = -1;
  GetMediaDataRefCount(md, &count);
  EXPECT_EQ(count, 0);
  Handle block = NewHandle(0);
  Handle ref = NewHandle(sizeof(Handle));
  *reinterpret_cast<Handle*>(*ref) = block;
  SInt16 index = 0;
  ASSERT_EQ(AddMediaDataRef(md, &index, ref, HandleDataHandlerSubType), noErr);
  DisposeHandle(ref);
  DataHandler dh = GetMediaDataHandler(md, index);
  ASSERT_NE(dh, nullptr);
  ASSERT_EQ(DataHOpenForWrite(dh), noErr);
  UInt8 bytes[4] = {9, 8, 7, 6};
  wide at;
  ASSERT_EQ(DataHAppend64(dh, bytes, &at, 4), noErr);
  SampleDescriptionHandle desc = MakeDataDesc('twen');
  (**desc).dataRefIndex = index;
  SampleReference64Record r{at, 4, 10, 1, 0};
  ASSERT_EQ(AddMediaSampleReferences64(md, desc, 1, &r, nullptr), noErr);
  ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, 10, fixed1), noErr);
  DataHCloseForWrite(dh);
  CloseComponent(dh);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  EXPECT_EQ(FileBytes("src.mov"), before);
  EXPECT_EQ(Sample(t, 5), std::vector<UInt8>({9, 8, 7, 6}));
  // Written on save.
  SInt16 refNum = 0;
  ASSERT_EQ(OpenMovieFile(&spec, &refNum, fsRdWrPerm), noErr);
  ASSERT_EQ(UpdateMovieResource(flat, refNum, movieInDataForkResID, nullptr), noErr);
  CloseMovieFile(refNum);
  DisposeMovie(flat);
  Movie back = Open("src.mov");
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 4), 5), std::vector<UInt8>({9, 8, 7, 6}));
  EXPECT_EQ(Sample(GetMovieIndTrack(back, 2), 48), std::vector<UInt8>(8, 1));
  DisposeMovie(back);
}

TEST_F(FileFixture, SoundDescriptionsKeepTheirFields) {
  Movie m = NewMovie(0);
  std::vector<UInt8> pcm(4 * 441);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<UInt8>(i * 7);
  ASSERT_EQ(testmovies::AddPcmSoundTrack(m, 44100, 2, pcm), noErr);
  FSSpec spec = Spec("sound.mov");
  DisposeMovie(FlattenMovieData(m, 0, &spec, kTestCreator, 0, 0));
  DisposeMovie(m);
  Movie back = Open("sound.mov");
  Media bm = GetTrackMedia(GetMovieIndTrack(back, 1));
  EXPECT_EQ(GetMediaTimeScale(bm), 44100);
  EXPECT_EQ(GetMediaSampleCount(bm), 441);
  Handle d = NewHandle(0);
  GetMediaSampleDescription(bm, 1, reinterpret_cast<SampleDescriptionHandle>(d));
  auto sd = reinterpret_cast<SoundDescription*>(*d);
  EXPECT_EQ(sd->dataFormat, 'twos');
  EXPECT_EQ(sd->numChannels, 2);
  EXPECT_EQ(sd->sampleSize, 16);
  EXPECT_EQ(sd->sampleRate, static_cast<UnsignedFixed>(44100u << 16));
  Handle out = NewHandle(0);
  SInt32 n = 0;
  ASSERT_EQ(GetMediaSample(bm, out, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1000, &n, nullptr), noErr);
  EXPECT_EQ(n, 441);
  EXPECT_EQ(HandleToBytes(out), pcm);
  DisposeHandle(out);
  DisposeHandle(d);
  DisposeMovie(back);
}

TEST_F(FileFixture, MovieFromADataForkAtAnOffset) {
  Movie m = Build();
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(m, h), noErr);
  DisposeMovie(m);
  // 100 bytes of something else, then the movie atom.
  {
    std::ofstream f(dir + "/wrapped.bin", std::ios::binary);
    std::string pad(100, 'x');
    f.write(pad.data(), 100);
    f.write(*h, GetHandleSize(h));
  }
  FSSpec spec = Spec("wrapped.bin");
  SInt16 fork = 0;
  ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &fork), noErr);
  Movie back = nullptr;
  ASSERT_EQ(NewMovieFromDataFork(&back, fork, 100, 0, nullptr), noErr);
  ExpectSameAsBuilt(back);
  DisposeMovie(back);
  EXPECT_NE(NewMovieFromDataFork(&back, fork, 0, 0, nullptr), noErr);  // no atom starts there
  EXPECT_EQ(back, nullptr);
  FSClose(fork);
  DisposeHandle(h);
}

}  // namespace
