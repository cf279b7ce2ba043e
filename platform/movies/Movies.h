// The movie toolbox: movies made of tracks, each track presenting one media
// through its edit list; media hold sample tables, sample descriptions and
// data references; movies, tracks and media carry user data.
//
// Every object is an opaque handle naming a reference-counted object in a
// registry. A handle whose object is gone answers the toolbox error
// (invalidMovie, invalidTrack, invalidMedia...) and never crashes. Every
// failing call sets the movies error (GetMoviesError) and calls the error
// procedure installed with SetMoviesErrorProc.
//
// Time values are 32 bits at the interface and 64 bits inside. A movie's time
// scale defaults to 600.
//
// In-memory sample descriptions (SampleDescription, ImageDescription,
// SoundDescription) hold their fixed fields in host byte order; extensions
// that follow them are atoms in big-endian order, as in a movie file.
#pragma once

// ImageDescription and its extension calls come from the graphics layer, so
// image buffers and movies share one definition.
#include "platform/graphics/QTImageDescription.h"
#include <string>

#include "platform/base/ImageMatrix.h"
#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

typedef struct OpaqueMovie* Movie;
typedef struct OpaqueTrack* Track;
typedef struct OpaqueMedia* Media;
typedef struct OpaqueUserData* UserData;
typedef struct OpaqueMovieEditState* MovieEditState;
typedef struct OpaqueDataHandler* DataHandler;
typedef DataHandler ComponentInstance;

typedef OSType CodecType;

// A 64-bit value as two halves.
struct wide {
  SInt32 hi;
  UInt32 lo;
};
inline SInt64 WideToSInt64(const wide& w) {
  return static_cast<SInt64>((static_cast<UInt64>(static_cast<UInt32>(w.hi)) << 32) | w.lo);
}
inline wide SInt64ToWide(SInt64 v) {
  wide w;
  w.hi = static_cast<SInt32>(static_cast<UInt64>(v) >> 32);
  w.lo = static_cast<UInt32>(static_cast<UInt64>(v) & 0xFFFFFFFFu);
  return w;
}

// ---------------------------------------------------------------------------
// Error codes of the toolbox.
constexpr OSErr couldNotResolveDataRef = -2000;
constexpr OSErr badImageDescription = -2001;
constexpr OSErr badPublicMovieAtom = -2002;
constexpr OSErr cantFindHandler = -2003;
constexpr OSErr cantOpenHandler = -2004;
constexpr OSErr badComponentType = -2005;
constexpr OSErr noMediaHandler = -2006;
constexpr OSErr noDataHandler = -2007;
constexpr OSErr invalidMedia = -2008;
constexpr OSErr invalidTrack = -2009;
constexpr OSErr invalidMovie = -2010;
constexpr OSErr invalidSampleTable = -2011;
constexpr OSErr invalidDataRef = -2012;
constexpr OSErr invalidHandler = -2013;
constexpr OSErr invalidDuration = -2014;
constexpr OSErr invalidTime = -2015;
constexpr OSErr cantPutPublicMovieAtom = -2016;
constexpr OSErr badEditList = -2017;
constexpr OSErr mediaTypesDontMatch = -2018;
constexpr OSErr progressProcAborted = -2019;
constexpr OSErr movieToolboxUninitialized = -2020;
constexpr OSErr wfFileNotFound = -2021;
constexpr OSErr cantCreateSingleForkFile = -2022;
constexpr OSErr invalidEditState = -2023;
constexpr OSErr nonMatchingEditState = -2024;
constexpr OSErr staleEditState = -2025;
constexpr OSErr userDataItemNotFound = -2026;
constexpr OSErr maxSizeToGrowTooSmall = -2027;
constexpr OSErr badTrackIndex = -2028;
constexpr OSErr trackIDNotFound = -2029;
constexpr OSErr trackNotInMovie = -2030;
constexpr OSErr timeNotInTrack = -2031;
constexpr OSErr timeNotInMedia = -2032;
constexpr OSErr badEditIndex = -2033;
constexpr OSErr internalQuickTimeError = -2034;
constexpr OSErr cantEnableTrack = -2035;
constexpr OSErr invalidRect = -2036;
constexpr OSErr invalidSampleNum = -2037;
constexpr OSErr invalidChunkNum = -2038;
constexpr OSErr invalidSampleDescIndex = -2039;
constexpr OSErr invalidChunkCache = -2040;
constexpr OSErr invalidSampleDescription = -2041;
constexpr OSErr dataNotOpenForRead = -2042;
constexpr OSErr dataNotOpenForWrite = -2043;
constexpr OSErr dataAlreadyOpenForWrite = -2044;
constexpr OSErr dataAlreadyClosed = -2045;
constexpr OSErr endOfDataReached = -2046;
constexpr OSErr dataNoDataRef = -2047;
constexpr OSErr noMovieFound = -2048;
constexpr OSErr invalidDataRefContainer = -2049;
constexpr OSErr badDataRefIndex = -2050;
constexpr OSErr noDefaultDataRef = -2051;
constexpr OSErr couldNotUseAnExistingSample = -2052;
constexpr OSErr featureUnsupported = -2053;
constexpr OSErr noVideoTrackInMovieErr = -2054;
constexpr OSErr noSoundTrackInMovieErr = -2055;
constexpr OSErr soundSupportNotAvailableErr = -2056;
constexpr OSErr unsupportedAuxiliaryImportData = -2057;
constexpr OSErr auxiliaryExportDataUnavailable = -2058;
constexpr OSErr samplesAlreadyInMediaErr = -2059;
constexpr OSErr codecErr = -8960;
constexpr OSErr noCodecErr = -8961;

// ---------------------------------------------------------------------------
// Media types, characteristics and data reference types.
constexpr OSType VideoMediaType = 'vide';
constexpr OSType SoundMediaType = 'soun';
constexpr OSType TextMediaType = 'text';
constexpr OSType BaseMediaType = 'gnrc';
constexpr OSType TimeCodeMediaType = 'tmcd';
constexpr OSType VisualMediaCharacteristic = 'eyes';
constexpr OSType AudioMediaCharacteristic = 'ears';
constexpr OSType HandleDataHandlerSubType = 'hndl';
constexpr OSType PointerDataHandlerSubType = 'ptr ';
constexpr OSType rAliasType = 'alis';
constexpr OSType URLDataHandlerSubType = 'url ';

// Flags of the calls that make movies.
constexpr SInt32 newMovieActive = 1 << 0;
constexpr SInt32 newMovieDontResolveDataRefs = 1 << 1;
constexpr SInt32 newMovieDontAskUnresolvedDataRefs = 1 << 2;
constexpr SInt32 newMovieDontAutoAlternates = 1 << 3;
constexpr SInt32 newMovieDontInteractWithUser = 1 << 11;

// Flags of CreateMovieFile and FlattenMovieData.
constexpr SInt32 createMovieFileDeleteCurFile = static_cast<SInt32>(1u << 31);
constexpr SInt32 createMovieFileDontCreateMovie = 1 << 30;
constexpr SInt32 createMovieFileDontOpenFile = 1 << 29;
constexpr SInt32 flattenAddMovieToDataFork = 1 << 0;
constexpr SInt32 flattenActiveTracksOnly = 1 << 2;
constexpr SInt32 flattenDontInterleaveFlatten = 1 << 3;
constexpr SInt32 flattenForceMovieResourceBeforeMovieData = 1 << 6;

// The resource id a movie stored in a file's data fork answers.
constexpr SInt16 movieInDataForkResID = -1;

// Interesting-time flags.
constexpr SInt16 nextTimeMediaSample = 1 << 0;
constexpr SInt16 nextTimeMediaEdit = 1 << 1;
constexpr SInt16 nextTimeTrackEdit = 1 << 2;
constexpr SInt16 nextTimeSyncSample = 1 << 3;
constexpr SInt16 nextTimeStep = 1 << 4;
constexpr SInt16 nextTimeEdgeOK = 1 << 14;
constexpr SInt16 nextTimeIgnoreActiveSegment = static_cast<SInt16>(1u << 15);

// Sample flags.
constexpr SInt16 mediaSampleNotSync = 1 << 0;
constexpr SInt16 mediaSampleShadowSync = 1 << 1;

// Play hints.
constexpr SInt32 hintsScrubMode = 1 << 0;
constexpr SInt32 hintsLoop = 1 << 1;
constexpr SInt32 hintsDontPurge = 1 << 2;
constexpr SInt32 hintsUseSoundInterp = 1 << 7;
constexpr SInt32 hintsHighQuality = 1 << 8;
constexpr SInt32 hintsPlayingEveryFrame = 1 << 16;
constexpr SInt32 hintsSingleField = 1 << 20;
constexpr SInt32 hintsDeinterlaceFields = 1 << 26;
// The hints that decide how a frame is drawn: its quality, one field or
// both, deinterlaced or not.
constexpr SInt32 kDrawingHintsMask = hintsHighQuality | hintsSingleField | hintsDeinterlaceFields;

// Movie properties of the visual class: aperture modes.
constexpr OSType kQTPropertyClass_Visual = 'visu';
constexpr OSType kQTVisualPropertyID_ApertureMode = 'apmd';
constexpr OSType kQTVisualPropertyID_HasApertureModeDimensions = 'hamd';
constexpr OSType kQTApertureMode_Classic = 'clas';
constexpr OSType kQTApertureMode_CleanAperture = 'clea';
constexpr OSType kQTApertureMode_ProductionAperture = 'prod';
constexpr OSType kQTApertureMode_EncodedPixels = 'encn';

typedef TimeValue* TimeValuePtr;
typedef SInt16 MediaSampleFlags;

// ---------------------------------------------------------------------------
// Sample descriptions (host byte order, 2-byte packing as stored in files).
#pragma pack(push, 2)
struct SampleDescription {
  SInt32 descSize;
  SInt32 dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
};
struct SoundDescription {
  SInt32 descSize;
  OSType dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revlevel;
  SInt32 vendor;
  SInt16 numChannels;
  SInt16 sampleSize;
  SInt16 compressionID;
  SInt16 packetSize;
  UnsignedFixed sampleRate;
};
#pragma pack(pop)
static_assert(sizeof(SampleDescription) == 16);
static_assert(sizeof(SoundDescription) == 36);

typedef SampleDescription* SampleDescriptionPtr;
typedef SampleDescriptionPtr* SampleDescriptionHandle;
typedef SoundDescription* SoundDescriptionPtr;
typedef SoundDescriptionPtr* SoundDescriptionHandle;

// One run of sample references: numberOfSamples samples of dataSize bytes
// each, stored one after the other from dataOffset.
struct SampleReferenceRecord {
  SInt32 dataOffset;
  UInt32 dataSize;
  TimeValue durationPerSample;
  UInt32 numberOfSamples;
  SInt16 sampleFlags;
};
struct SampleReference64Record {
  wide dataOffset;
  UInt32 dataSize;
  TimeValue durationPerSample;
  UInt32 numberOfSamples;
  SInt16 sampleFlags;
};
typedef SampleReferenceRecord* SampleReferencePtr;
typedef SampleReference64Record* SampleReference64Ptr;

// ---------------------------------------------------------------------------
// Procedures.
typedef void (*MoviesErrorProcPtr)(OSErr theErr, SInt32 refCon);
// Called after a movie drew a frame; a non-zero answer is reported as the movies error.
typedef OSErr (*MovieDrawingCompleteProcPtr)(Movie theMovie, SInt32 refCon);
// Long operations (flattening) report progress: message 0 open, 1 update
// (fraction 0..1 as 16.16), 2 close; a non-zero answer to an update cancels.
typedef OSErr (*MovieProgressProcPtr)(Movie theMovie, SInt16 message, SInt16 whatOperation, Fixed percentDone,
                                      SInt32 refCon);
typedef OSErr (*MovieRgnCoverProcPtr)(Movie theMovie, void* changedRgn, SInt32 refCon);

constexpr SInt16 movieProgressOpen = 0;
constexpr SInt16 movieProgressUpdatePercent = 1;
constexpr SInt16 movieProgressClose = 2;
constexpr SInt16 progressOpFlatten = 1;
constexpr SInt16 progressOpSaveMovie = 6;
constexpr SInt16 movieDrawingCallWhenChanged = 0;
constexpr SInt16 movieDrawingCallAlways = 1;

// ---------------------------------------------------------------------------
// Start, end and errors.
OSErr EnterMovies();
void ExitMovies();
OSErr GetMoviesError();
OSErr GetMoviesStickyError();
void ClearMoviesStickyError();
void SetMoviesErrorProc(MoviesErrorProcPtr errProc, SInt32 refCon);

// Movies.
Movie NewMovie(SInt32 flags);
void DisposeMovie(Movie theMovie);
TimeScale GetMovieTimeScale(Movie theMovie);
void SetMovieTimeScale(Movie theMovie, TimeScale timeScale);
TimeValue GetMovieDuration(Movie theMovie);
TimeValue GetMovieTime(Movie theMovie, void* currentTime);
void SetMovieTimeValue(Movie theMovie, TimeValue newTime);
Fixed GetMovieRate(Movie theMovie);
void SetMovieRate(Movie theMovie, Fixed rate);
Fixed GetMoviePreferredRate(Movie theMovie);
void SetMoviePreferredRate(Movie theMovie, Fixed rate);
SInt16 GetMovieVolume(Movie theMovie);
void SetMovieVolume(Movie theMovie, SInt16 volume);
void StartMovie(Movie theMovie);
void StopMovie(Movie theMovie);
void GoToBeginningOfMovie(Movie theMovie);
void GoToEndOfMovie(Movie theMovie);
Boolean IsMovieDone(Movie theMovie);
void SetMovieActive(Movie theMovie, Boolean active);
Boolean GetMovieActive(Movie theMovie);
void GetMovieSelection(Movie theMovie, TimeValue* selectionTime, TimeValue* selectionDuration);
void SetMovieSelection(Movie theMovie, TimeValue selectionTime, TimeValue selectionDuration);
void GetMoviePosterTime(Movie theMovie, TimeValue* posterTime);
void SetMoviePosterTime(Movie theMovie, TimeValue posterTime);
void SetMoviePlayHints(Movie theMovie, SInt32 flags, SInt32 flagsMask);
SInt32 GetMoviePlayHints(Movie theMovie);
Boolean HasMovieChanged(Movie theMovie);
void ClearMovieChanged(Movie theMovie);
void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix);
void SetMovieMatrix(Movie theMovie, const MatrixRecord* matrix);
void GetMovieBox(Movie theMovie, Rect* boxRect);
void SetMovieBox(Movie theMovie, const Rect* boxRect);
// The bounds of the enabled visual tracks through their matrices, before the
// movie matrix, in the current aperture mode.
void GetMovieNaturalBoundsRect(Movie theMovie, Rect* naturalBounds);
UserData GetMovieUserData(Movie theMovie);
SInt32 GetMovieTrackCount(Movie theMovie);
Track GetMovieIndTrack(Movie theMovie, SInt32 index);
Track GetMovieTrack(Movie theMovie, SInt32 trackID);
// The index-th track (from 1) among those of the media type or characteristic.
Track GetMovieIndTrackType(Movie theMovie, SInt32 index, OSType trackType, SInt32 flags);
constexpr SInt32 movieTrackMediaType = 1 << 0;
constexpr SInt32 movieTrackCharacteristic = 1 << 1;
constexpr SInt32 movieTrackEnabledOnly = 1 << 2;
void SetMovieProgressProc(Movie theMovie, MovieProgressProcPtr p, SInt32 refCon);
// The progress procedure and reference value last set (nil and 0 when none).
void GetMovieProgressProc(Movie theMovie, MovieProgressProcPtr* outProc, SInt32* outRefCon);
void SetMovieCoverProcs(Movie theMovie, MovieRgnCoverProcPtr uncoverProc, MovieRgnCoverProcPtr coverProc,
                        SInt32 refCon);
void SetMovieDrawingCompleteProc(Movie theMovie, SInt32 flags, MovieDrawingCompleteProcPtr proc, SInt32 refCon);
// The data reference where new media data go by default.
OSErr SetMovieDefaultDataRef(Movie theMovie, Handle dataRef, OSType dataRefType);
OSErr GetMovieDefaultDataRef(Movie theMovie, Handle* dataRef, OSType* dataRefType);
// Visual-class properties: 'apmd' (OSType) and 'hamd' (Boolean).
OSStatus QTGetMovieProperty(Movie theMovie, OSType propClass, OSType propID, ByteCount propValueSize,
                            void* propValueAddress, ByteCount* propValueSizeUsed);
OSStatus QTSetMovieProperty(Movie theMovie, OSType propClass, OSType propID, ByteCount propValueSize,
                            const void* propValueAddress);
OSErr GenerateMovieApertureModeDimensions(Movie theMovie);
OSErr RemoveMovieApertureModeDimensions(Movie theMovie);

// Interesting times. The next interesting time is the smallest one strictly
// after `time`, the previous one (rate < 0) the largest strictly before it;
// nextTimeEdgeOK also accepts `time` itself. -1 when there is none. Media
// types may name media ('vide') or the characteristics 'eyes' (visual
// media: not 'twen', 'soun' or 'tmcd') and 'ears'; with no types every
// enabled track counts.
void GetMovieNextInterestingTime(Movie theMovie, SInt16 interestingTimeFlags, SInt16 numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);
void GetTrackNextInterestingTime(Track theTrack, SInt16 interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);
void GetMediaNextInterestingTime(Media theMedia, SInt16 interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);

// Editing movies. Selections are [start, start + duration).
Movie CutMovieSelection(Movie theMovie);
Movie CopyMovieSelection(Movie theMovie);
void PasteMovieSelection(Movie theMovie, Movie src);
void AddMovieSelection(Movie theMovie, Movie src);
void ClearMovieSelection(Movie theMovie);
OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn);
OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration);
OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration);

// Edit states: a snapshot of the movie's whole structure.
MovieEditState NewMovieEditState(Movie theMovie);
OSErr UseMovieEditState(Movie theMovie, MovieEditState toState);
OSErr DisposeMovieEditState(MovieEditState state);

// Tracks.
Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, SInt16 trackVolume);
void DisposeMovieTrack(Track theTrack);
Movie GetTrackMovie(Track theTrack);
SInt32 GetTrackID(Track theTrack);
Boolean GetTrackEnabled(Track theTrack);
void SetTrackEnabled(Track theTrack, Boolean isEnabled);
SInt16 GetTrackLayer(Track theTrack);
void SetTrackLayer(Track theTrack, SInt16 layer);
SInt16 GetTrackVolume(Track theTrack);
void SetTrackVolume(Track theTrack, SInt16 volume);
SInt16 GetTrackAlternateGroup(Track theTrack);
void SetTrackAlternateGroup(Track theTrack, SInt16 group);
void GetTrackMatrix(Track theTrack, MatrixRecord* matrix);
void SetTrackMatrix(Track theTrack, const MatrixRecord* matrix);
void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height);
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height);
UserData GetTrackUserData(Track theTrack);
TimeValue GetTrackDuration(Track theTrack);
// The duration of a leading empty edit.
TimeValue GetTrackOffset(Track theTrack);
void SetTrackOffset(Track theTrack, TimeValue movieOffsetTime);
// Strictly increases on every change of the track.
UInt32 GetTrackModificationTime(Track theTrack);
SInt32 GetTrackEditCount(Track theTrack);
// Track references: the index-th (from 1) track of the reference type.
OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, SInt32* addedIndex);
OSErr DeleteTrackReference(Track theTrack, OSType refType, SInt32 index);
Track GetTrackReference(Track theTrack, OSType refType, SInt32 index);
SInt32 GetTrackReferenceCount(Track theTrack, OSType refType);
OSType GetNextTrackReferenceType(Track theTrack, OSType refType);
// Edits of a track (movie time for the track, media time for the media).
OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate);
OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn);
OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration);
OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration);
// The media time shown at a track time, -1 in an empty edit or outside the track.
TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack);

// Media.
Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType);
void DisposeTrackMedia(Media theMedia);
Media GetTrackMedia(Track theTrack);
Track GetMediaTrack(Media theMedia);
TimeScale GetMediaTimeScale(Media theMedia);
void SetMediaTimeScale(Media theMedia, TimeScale timeScale);
TimeValue GetMediaDuration(Media theMedia);
SInt16 GetMediaQuality(Media theMedia);
void SetMediaQuality(Media theMedia, SInt16 quality);
SInt16 GetMediaLanguage(Media theMedia);
void SetMediaLanguage(Media theMedia, SInt16 language);
void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName, OSType* creatorManufacturer);
UserData GetMediaUserData(Media theMedia);
void SetMediaPlayHints(Media theMedia, SInt32 flags, SInt32 flagsMask);
void GetMediaPlayHints(Media theMedia, SInt32* flags);
SInt32 GetMediaSampleCount(Media theMedia);
// The bytes of all the media's samples.
OSErr GetMediaDataSize64(Media theMedia, SInt64* dataSize);
SInt32 GetMediaSampleDescriptionCount(Media theMedia);
// Copies description `index` (from 1) into the handle, resizing it.
void GetMediaSampleDescription(Media theMedia, SInt32 index, SampleDescriptionHandle descH);
OSErr SetMediaSampleDescription(Media theMedia, SInt32 index, SampleDescriptionHandle descH);
// The graphics mode of a visual media handler.
OSErr MediaSetGraphicsMode(Media theMedia, SInt32 mode, const RGBColor* opColor);
OSErr MediaGetGraphicsMode(Media theMedia, SInt32* mode, RGBColor* opColor);
OSErr BeginMediaEdits(Media theMedia);
OSErr EndMediaEdits(Media theMedia);
// Appends samples whose bytes are copied into the media's data reference
// (the description's dataRefIndex, or the default one). Media whose data lie
// in a file keep added samples in memory until the movie is written.
OSErr AddMediaSample(Media theMedia, Handle dataIn, SInt32 inOffset, UInt32 size, TimeValue durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples, SInt16 sampleFlags,
                     TimeValue* sampleTime);
// Appends samples whose bytes already lie in the data reference.
OSErr AddMediaSampleReference(Media theMedia, SInt32 dataOffset, UInt32 size, TimeValue durationPerSample,
                              SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples,
                              SInt16 sampleFlags, TimeValue* sampleTime);
OSErr AddMediaSampleReferences(Media theMedia, SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples,
                               SampleReferencePtr sampleRefs, TimeValue* sampleTime);
OSErr AddMediaSampleReferences64(Media theMedia, SampleDescriptionHandle sampleDescriptionH,
                                 SInt32 numberOfSamples, SampleReference64Ptr sampleRefs, TimeValue* sampleTime);
// Sets the composition (display) offset of sample `sampleNum` (from 1).
OSErr SetMediaSampleDisplayOffset(Media theMedia, SInt32 sampleNum, TimeValue offset);
// Reads the sample at a media time (decode order) and, for maxNumberOfSamples
// > 1, the following samples of the same description. maxSizeToGrow 0 lets
// the handle grow freely.
OSErr GetMediaSample(Media theMedia, Handle dataOut, SInt32 maxSizeToGrow, SInt32* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     SInt32* sampleDescriptionIndex, SInt32 maxNumberOfSamples, SInt32* numberOfSamples,
                     SInt16* sampleFlags);
// Sample-number access (from 1).
OSErr MediaTimeToSampleNum(Media theMedia, TimeValue time, SInt32* sampleNum, TimeValue* sampleTime,
                           TimeValue* sampleDuration);
OSErr SampleNumToMediaTime(Media theMedia, SInt32 sampleNum, TimeValue* sampleTime, TimeValue* sampleDuration);

// Data references of a media (indices from 1). A 'hndl' data reference holds
// a Handle whose memory the toolbox adopts and frees when the last media that
// uses it is gone: callers must not dispose of that memory themselves.
OSErr AddMediaDataRef(Media theMedia, SInt16* index, Handle dataRef, OSType dataRefType);
OSErr GetMediaDataRefCount(Media theMedia, SInt16* count);
OSErr GetMediaDataRef(Media theMedia, SInt16 index, Handle* dataRef, OSType* dataRefType, SInt32* dataRefAttributes);
OSErr SetMediaDefaultDataRefIndex(Media theMedia, SInt16 index);
// An 'alis' data reference to an existing file (an alias record); nil when the file is missing.
Handle NewFileDataRef(const char* path);

// Data handlers: writing into a media's data reference.
DataHandler GetMediaDataHandler(Media theMedia, SInt16 index);
OSErr DataHOpenForWrite(DataHandler dh);
OSErr DataHCloseForWrite(DataHandler dh);
// Appends size bytes; fileOffset receives where they went.
OSErr DataHAppend64(DataHandler dh, void* data, wide* fileOffset, UInt32 size);
// Writes size bytes of h from hOffset at *offset (the end when *offset is -1).
OSErr DataHPutData(DataHandler dh, Handle h, SInt32 hOffset, SInt32* offset, SInt32 size);
OSErr DataHGetFileSize64(DataHandler dh, wide* fileSize);
// Closes a data handler or a standard image compression instance.
OSErr CloseComponent(DataHandler dh);

// User data. Indices count from 1 within a type.
OSErr GetUserData(UserData theUserData, Handle data, OSType udType, SInt32 index);
OSErr AddUserData(UserData theUserData, Handle data, OSType udType);
OSErr SetUserDataItem(UserData theUserData, const void* data, SInt32 size, OSType udType, SInt32 index);
OSErr GetUserDataItem(UserData theUserData, void* data, SInt32 size, OSType udType, SInt32 index);
OSErr RemoveUserData(UserData theUserData, OSType udType, SInt32 index);
SInt16 CountUserDataType(UserData theUserData, OSType udType);
// The type after udType in first-appearance order (0 gives the first); 0 at the end.
SInt32 GetNextUserDataType(UserData theUserData, OSType udType);

// Image description extensions: atoms after the fixed fields.

// ---------------------------------------------------------------------------
// Drawing: every enabled visual track is decoded at the current time and
// drawn in layer order (higher layers first, so lower layers end in front)
// through its matrix and the movie matrix into the movie's drawing target,
// 32-bit pixels with bytes A R G B, alpha 255.
struct MovieDrawTarget {
  void* baseAddr;
  SInt32 rowBytes;
  Rect bounds;  // the pixel rectangle the memory covers
};
void SetMovieDrawTarget(Movie theMovie, const MovieDrawTarget* target);
// Draws into a graphics port (nil: the current one) whose pixel map is 32-bit
// ARGB; the movie box is in the port's coordinates.
void SetMovieGWorld(Movie theMovie, CGrafPtr port, GDHandle gdh);
void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDHandle* gdh);
void GetMovieDrawTarget(Movie theMovie, MovieDrawTarget* target);
// How many threads each of the movie's decoders may use (0, the default: one
// per processor). Less suits a movie decoded beside other work that wants the
// processors too; a decoder already open is made again at the next frame drawn.
// A negative count fails with paramErr.
void SetMovieDecodeThreads(Movie theMovie, SInt32 inThreads);
SInt32 GetMovieDecodeThreads(Movie theMovie);
// Whether the movie keeps a copy of each frame it decodes (the default), so
// that drawing the same time again needs no decoding. A movie drawn frame
// after frame into targets of its own size (a reader going through it once)
// need not: a frame of its single track that fills the target one to one is
// then decoded straight into the target, which saves a pass over every
// frame, and drawing the same time again decodes it again.
void SetMovieKeepsDrawnFrame(Movie theMovie, Boolean inKeep);
Boolean GetMovieKeepsDrawnFrame(Movie theMovie);
// Redraws the current frame at the next MoviesTask.
OSErr UpdateMovie(Movie theMovie);
// Gets the movie ready to show the frames from time on: the decoders of the
// visual tracks shown then are set up (with the movie's decode threads), so
// that the first draw does not wait for them. The rate is not used.
OSErr PrerollMovie(Movie theMovie, TimeValue time, Fixed rate);
void InvalidateMovieRegion(Movie theMovie, void* invalidRgn);
// Services a movie (or every active movie when nil): moves the time of a
// playing movie by the clock and draws when something changed.
void MoviesTask(Movie theMovie, SInt32 maxMilliSecToUse);

// ---------------------------------------------------------------------------
// Movies in memory: a 'moov' atom. In-memory media travel by value.
OSErr PutMovieIntoHandle(Movie theMovie, Handle publicMovie);
OSErr NewMovieFromHandle(Movie* theMovie, Handle h, SInt16 newMovieFlags, Boolean* dataRefWasChanged);

// The movie scrap: a movie on the clipboard as a 'moov' flavor.
OSErr PutMovieOnScrap(Movie theMovie, SInt32 movieScrapFlags);
Movie NewMovieFromScrap(SInt32 newMovieFlags);

// ---------------------------------------------------------------------------
// Movie files.
//
// A save never destroys data: the movie is written into a new file beside the
// target and renamed over it only when complete; a failed save leaves the
// target as it was. Samples whose bytes lie in the file being replaced are
// copied into the new file. Samples that a movie read from a file and that
// were added in memory stay in memory until the movie is written.
//
// Permission fsRdWrPerm on a locked or read-only file fails (permErr or
// wPrErr); fsRdPerm then opens it for reading.
OSErr OpenMovieFile(const FSSpec* fileSpec, SInt16* resRefNum, SInt8 permission);
OSErr CloseMovieFile(SInt16 resRefNum);
// Reads the movie of an open movie file. resId receives movieInDataForkResID.
OSErr NewMovieFromFile(Movie* theMovie, SInt16 resRefNum, SInt16* resId, StringPtr resName, SInt16 newMovieFlags,
                       Boolean* dataRefWasChanged);
OSErr NewMovieFromDataFork(Movie* theMovie, SInt16 fRefNum, SInt32 fileOffset, SInt16 newMovieFlags,
                           Boolean* dataRefWasChanged);
OSErr NewMovieFromDataFork64(Movie* theMovie, SInt16 fRefNum, const wide* fileOffset, SInt16 newMovieFlags,
                             Boolean* dataRefWasChanged);
// Makes (or, with createMovieFileDeleteCurFile, prepares to replace) a movie
// file and a new empty movie whose new media data default to that file. An
// existing file is left untouched until a movie is written into it.
OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, SInt16 scriptTag, SInt32 createMovieFileFlags,
                      SInt16* resRefNum, Movie* newMovie);
// Writes the movie into the open file as a reference movie: media in other
// files stay where they are; media held in memory are written into the file.
// Afterwards those media read from the written file.
OSErr AddMovieResource(Movie theMovie, SInt16 resRefNum, SInt16* resId, ConstStr255Param resName);
OSErr UpdateMovieResource(Movie theMovie, SInt16 resRefNum, SInt16 resId, ConstStr255Param resName);
// Writes a self-contained copy of the movie and answers a new movie reading it
// (nil on failure, or with createMovieFileDontCreateMovie; the movies error
// tells which). The movie itself is left as it was.
Movie FlattenMovieData(Movie theMovie, SInt32 movieFlattenFlags, const FSSpec* theFile, OSType creator,
                       SInt16 scriptTag, SInt32 createMovieFileFlags);
// Deletes a movie file unless an open movie still reads media from it (fBsyErr).
OSErr DeleteMovieFile(const FSSpec* fileSpec);
// The path of an open movie file ("" for a bad reference number).
std::string GetMovieFilePath(SInt16 resRefNum);
