// The toolbox's object model (internal to platform/movies): movies own tracks,
// tracks own their media, media share data stores. Public handles are
// registry ids; the registry maps them to live objects.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/LException.h"
#include "platform/movies/MovieSampleTable.h"
#include "platform/movies/MovieSound.h"
#include "platform/movies/Movies.h"

namespace movies {

// --- data ------------------------------------------------------------------

// Bytes that samples live in: a memory block or a file. Shared by every
// media (of any movie) that uses it; memory is freed with the last user.
class CDataStore {
 public:
  enum Kind { kMemory, kFile, kUnresolved };
  static std::shared_ptr<CDataStore> NewMemory(Handle adopt);
  // The store of a 'hndl' data reference: one store per memory block.
  static std::shared_ptr<CDataStore> ForHandle(Handle h);
  static std::shared_ptr<CDataStore> ForFile(const std::string& path);
  static std::shared_ptr<CDataStore> Unresolved(const std::string& path);
  // True when a live store reads the file (by device and inode).
  static bool IsFileInUse(const std::string& path);
  ~CDataStore();

  Kind GetKind() const { return mKind; }
  bool IsWritable() const { return mKind == kMemory; }
  const std::string& GetPath() const { return mPath; }
  Handle GetHandle() const { return mHandle; }
  SInt64 GetSize() const;
  OSErr Read(SInt64 offset, void* dest, UInt32 size) const;
  // Memory stores only.
  OSErr Append(const void* data, UInt32 size, SInt64* outOffset);
  OSErr Write(SInt64 offset, const void* data, UInt32 size);
  // True when the path still names the file this store reads.
  bool PathStillMatches() const;
  bool SameFileAs(const std::string& path) const;

 private:
  CDataStore() = default;
  Kind mKind = kUnresolved;
  Handle mHandle = nullptr;
  std::string mPath;
  int mFD = -1;
  UInt64 mDevice = 0, mInode = 0;
};

struct DataRefEntry {
  OSType type = 0;
  std::vector<UInt8> ref;  // the data reference's bytes ('hndl': the Handle value; files: the path)
  bool self = false;       // the movie's own file
  std::shared_ptr<CDataStore> store;
};

// --- user data -----------------------------------------------------------------

struct UserDataItem {
  OSType type;
  std::vector<UInt8> data;
};
struct MovieObj;
struct UserDataObj {
  UInt64 id = 0;
  MovieObj* movie = nullptr;  // whose changed flag its edits set (while registered)
  std::vector<UserDataItem> items;
};

// --- media, tracks, movies ---------------------------------------------------------

struct TrackObj;
struct MovieObj;

struct MediaObj {
  UInt64 id = 0;
  TrackObj* track = nullptr;
  OSType type = 0;
  TimeScale scale = 600;
  SInt16 language = 0;
  SInt16 quality = 0;
  SInt32 playHints = 0;
  SInt32 graphicsMode = 0x40;  // ditherCopy
  RGBColor opColor = {0x8000, 0x8000, 0x8000};
  std::string handlerName;
  std::vector<std::vector<UInt8>> descs;  // host order
  std::vector<DataRefEntry> dataRefs;
  SInt16 defaultDataRef = 1;
  CSampleTable samples;
  std::shared_ptr<UserDataObj> userData;
  UInt32 creationTime = 0, modificationTime = 0;
  bool editing = false;
  // Atoms this toolbox does not interpret, kept for writing back.
  std::vector<std::vector<UInt8>> unknownMdia, unknownMinf, unknownStbl;
  std::vector<UInt8> mediaHeader;  // vmhd/smhd/gmhd as read (raw atom)
};

struct Edit {
  SInt64 duration = 0;    // movie time scale
  SInt64 mediaTime = -1;  // media time scale; -1 = empty
  Fixed rate = fixed1;
};

struct TrackObj {
  UInt64 id = 0;
  MovieObj* movie = nullptr;
  SInt32 trackID = 0;
  bool enabled = true;
  bool inPreview = true, inPoster = true;
  SInt16 layer = 0, altGroup = 0, volume = 0;
  MatrixRecord matrix{};
  Fixed width = 0, height = 0;
  std::vector<Edit> edits;
  std::shared_ptr<MediaObj> media;
  std::shared_ptr<UserDataObj> userData;
  std::map<OSType, std::vector<SInt32>> references;
  UInt32 stamp = 0;
  UInt32 creationTime = 0;
  // Aperture dimensions (clean, production, encoded), present when generated or read.
  bool hasAperture = false;
  Fixed apertureDims[3][2] = {};
  std::vector<std::vector<UInt8>> unknownTrak;
  // Decoding state (not part of the structure).
  struct DecodeState;
  std::shared_ptr<DecodeState> decode;
};

struct EditStateObj;

struct MovieObj {
  UInt64 id = 0;
  TimeScale scale = 600;
  std::vector<std::shared_ptr<TrackObj>> tracks;
  std::shared_ptr<UserDataObj> userData;
  MatrixRecord matrix{};
  Fixed preferredRate = fixed1;
  SInt16 preferredVolume = 0x100;
  SInt16 volume = 0x100;
  SInt64 posterTime = 0, previewTime = 0, previewDuration = 0;
  SInt64 selStart = 0, selDuration = 0;
  SInt32 nextTrackID = 1;
  UInt32 creationTime = 0, modificationTime = 0;
  bool active = false;
  bool changed = false;
  SInt32 playHints = 0;
  OSType apertureMode = kQTApertureMode_Classic;
  DataRefEntry defaultDataRef;
  bool hasDefaultDataRef = false;
  std::vector<std::vector<UInt8>> unknownMoov;
  // Time and playback.
  SInt64 time = 0;
  Fixed rate = 0;
  SInt64 rateBaseTime = 0;
  SInt64 rateBaseMicros = 0;
  MovieSoundSlot sound;  // while playing at rate 1 with a positive volume
  // Drawing.
  MovieDrawTarget target{};
  bool hasTarget = false;
  void* port = nullptr;    // a graphics port drawn into (its pixel map read at each draw)
  void* device = nullptr;
  bool needsDraw = true;
  SInt64 lastDrawnTime = -1;
  SInt32 decodeThreads = 0;  // threads each track's decoder may use; 0: one per processor
  bool keepsDrawnFrame = true;  // false: a straight frame is decoded into the target, not kept
  MovieDrawingCompleteProcPtr drawProc = nullptr;
  SInt32 drawProcRefCon = 0;
  SInt32 drawProcFlags = 0;
  MovieProgressProcPtr progressProc = nullptr;
  SInt32 progressRefCon = 0;
  MovieRgnCoverProcPtr uncoverProc = nullptr, coverProc = nullptr;
  SInt32 coverRefCon = 0;
};

// --- registry ------------------------------------------------------------------

enum class Kind { kMovie, kTrack, kMedia, kUserData, kEditState, kDataHandler, kCompressor };

std::recursive_mutex& Lock();
UInt64 NewId();
void Register(UInt64 id, Kind kind, std::shared_ptr<void> obj, bool strong);
void Unregister(UInt64 id);
std::shared_ptr<void> Lookup(UInt64 id, Kind kind);
UInt32 NextStamp();
// Every live movie, for servicing all of them at once.
std::vector<std::shared_ptr<MovieObj>> AllMovies();
void AdvanceMovieTime(MovieObj& m);
Rect NaturalBounds(const MovieObj& m);
UInt32 NowStamp();  // seconds since 1904, for the file headers

template <class H>
H ToHandle(UInt64 id) {
  return reinterpret_cast<H>(static_cast<uintptr_t>(id));
}
template <class H>
UInt64 FromHandle(H h) {
  return static_cast<UInt64>(reinterpret_cast<uintptr_t>(h));
}

// Look-ups that throw the toolbox error for a stale or nil handle.
MovieObj& GetMovie(Movie m);
std::shared_ptr<MovieObj> GetMovieShared(Movie m);
TrackObj& GetTrack(Track t);
MediaObj& GetMedia(Media m);
UserDataObj& GetUserDataObj(UserData u);

// Registers every object of a movie (tracks, media, user data) under its id.
void RegisterMovieTree(const std::shared_ptr<MovieObj>& movie);
void UnregisterTrackTree(const TrackObj& track);
std::shared_ptr<MovieObj> NewMovieObj();
std::shared_ptr<TrackObj> NewTrackObj(MovieObj& movie);
std::shared_ptr<MediaObj> NewMediaObj(TrackObj& track, OSType type, TimeScale scale);
std::shared_ptr<UserDataObj> NewUserDataObj();
// A deep copy keeping ids (for edit states) or with new ids.
std::shared_ptr<TrackObj> CloneTrack(const TrackObj& src, MovieObj* owner, bool keepIds);
std::shared_ptr<MediaObj> CloneMedia(const MediaObj& src, TrackObj* owner, bool keepIds);

// Marks a track (and its movie) changed.
void Touch(TrackObj& track);
void Touch(MovieObj& movie);

// --- errors --------------------------------------------------------------------

// Records a call's result: sets the movies error and, for a failure, calls the error procedure.
void SetError(OSErr err);
OSErr ErrorOf(const std::exception& e);

// Runs a call's body under the lock and records its result. A thrown
// LException (or allocation failure) becomes the movies error and `fallback`.
template <class R, class F>
R Guarded(R fallback, F&& body) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  try {
    R r = body();
    SetError(noErr);
    return r;
  } catch (const std::exception& e) {
    SetError(ErrorOf(e));
    return fallback;
  }
}
template <class F>
OSErr GuardedErr(F&& body) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  try {
    body();
    SetError(noErr);
    return noErr;
  } catch (const std::exception& e) {
    OSErr err = ErrorOf(e);
    SetError(err);
    return err;
  }
}

// --- time and structure helpers ---------------------------------------------------

SInt64 TrackDuration(const TrackObj& t);
SInt64 MovieDuration(const MovieObj& m);
SInt64 ScaleTime(SInt64 value, SInt64 fromScale, SInt64 toScale);  // floor
SInt64 ScaleTimeCeil(SInt64 value, SInt64 fromScale, SInt64 toScale);
// Media duration of an edit of `movieDuration` movie units.
SInt64 EditMediaLength(const Edit& e, TimeScale movieScale, TimeScale mediaScale);
void NormalizeEdits(std::vector<Edit>& edits);
bool IsVisualType(OSType type);
bool TrackMatchesTypes(const TrackObj& t, SInt16 count, const OSType* types);

// Sample data access.
OSErr ReadSampleBytes(const MediaObj& media, const SampleInfo& s, void* dest);
// noErr when the sample's bytes lie within the data they come from. Checked
// before room is made for them, so that a damaged sample table never asks for
// more memory than its data holds.
OSErr CheckSampleBytes(const MediaObj& media, const SampleInfo& s);
// The size of the data a description's samples come from (0 when unresolved).
SInt64 SampleDataSize(const MediaObj& media, SInt32 descIndex);
DataRefEntry* DataRefForDesc(MediaObj& media, SInt32 descIndex);
// Finds or adds a description; answers its index (from 1).
SInt32 FindOrAddDescription(MediaObj& media, const std::vector<UInt8>& desc);

// Fills the movie's draw target from its graphics port; false when the port cannot be drawn into.
bool ResolvePortTarget(MovieObj& m);

// Drawing state reset when a track's structure changes.
void ForgetDecodeState(TrackObj& t);

}  // namespace movies
