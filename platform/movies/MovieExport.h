// Movie export components: one exporter per container (QuickTime movie,
// MPEG-4, AVI, 3GPP and the sound-only AIFF, WAVE and µ-law files), found by
// component type 'spit' and subtype, with their settings kept in atom
// containers. An exporter either exports a whole movie (MovieExportToFile)
// or pulls its data from procedures: every data source answers requests for
// the sample at a time, and the exporter interleaves the sources by time,
// encodes the samples and writes the file, reporting progress through the
// movie progress procedure (a non-zero answer cancels; the partly written
// file is removed).
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/movies/Movies.h"

// ---------------------------------------------------------------------------
// Atom containers: a flat list of atoms kept in a handle, each atom a
// big-endian record {UInt32 size (header included), OSType type, UInt32 id}
// followed by its data. An atom is named by its 1-based position.
typedef Handle QTAtomContainer;
typedef SInt32 QTAtom;
typedef SInt32 QTAtomID;
typedef OSType QTAtomType;
constexpr QTAtom kParentAtomIsContainer = 0;

OSErr QTNewAtomContainer(QTAtomContainer* outContainer);
OSErr QTDisposeAtomContainer(QTAtomContainer inContainer);
// Appends a leaf atom of the container (the parent must be the container).
OSErr QTInsertChild(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, QTAtomID inID, SInt16 inIndex,
                    SInt32 inDataSize, const void* inData, QTAtom* outAtom);
// 0 when there is no such atom.
QTAtom QTFindChildByID(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, QTAtomID inID,
                       SInt16* outIndex);
QTAtom QTFindChildByIndex(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType, SInt16 inIndex,
                          QTAtomID* outID);
SInt16 QTCountChildrenOfType(QTAtomContainer inContainer, QTAtom inParent, QTAtomType inType);
// Copies the atom's data; a buffer smaller than the data fails unless
// inSizeOrLessOK, which copies what fits.
OSErr QTCopyAtomDataToPtr(QTAtomContainer inContainer, QTAtom inAtom, Boolean inSizeOrLessOK, SInt32 inMaxSize,
                          void* outData, SInt32* outActualSize);
OSErr QTSetAtomData(QTAtomContainer inContainer, QTAtom inAtom, SInt32 inDataSize, const void* inData);
// paramErr when the bytes are not a well-formed container.
OSErr QTValidateAtomContainer(QTAtomContainer inContainer);

// ---------------------------------------------------------------------------
// Exporters.
typedef struct OpaqueMovieExporter* MovieExportComponent;

constexpr OSType MovieExportType = 'spit';
constexpr UInt32 canMovieExportFiles = 1u << 0;
constexpr UInt32 canMovieExportValidateMovie = 1u << 10;
constexpr UInt32 canMovieExportFromProcedures = 1u << 15;
// Our own flag: the exporter writes sound only.
constexpr UInt32 movieExportSoundOnly = 1u << 16;

struct ComponentDescription {
  OSType componentType;
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};

// The installed exporters, in menu order.
ItemCount CountMovieExporters();
// Index from 1; name is a Pascal string. paramErr for a bad index.
OSErr GetMovieExporterInfo(ItemCount inIndex, ComponentDescription* outDesc, Str255 outName);

// badComponentType for a type other than 'spit', cantFindHandler for an unknown subtype.
OSErr OpenADefaultComponent(OSType inType, OSType inSubtype, MovieExportComponent* outInstance);
OSErr CloseComponent(MovieExportComponent inInstance);

struct TimeRecord {
  wide value;
  TimeScale scale;
  void* base;
};

// What a data procedure is asked and answers.
struct MovieExportGetDataParams {
  SInt32 recordSize;
  TimeValue requestedTime;       // in the source's time scale
  TimeValue actualTime;
  Ptr dataPtr;
  SInt32 dataSize;
  SampleDescriptionHandle desc;  // ImageDescription for 'vide', SoundDescription for 'soun'
  OSType descType;
  SInt32 descSeed;
  SInt32 requestedSampleCount;
  SInt32 actualSampleCount;
  TimeValue durationPerSample;
  SInt32 sampleFlags;
};
typedef OSErr (*MovieExportGetPropertyProcPtr)(void* inRefCon, SInt32 inTrackID, OSType inProperty, void* ioValue);
typedef OSErr (*MovieExportGetDataProcPtr)(void* inRefCon, MovieExportGetDataParams* ioParams);

// Properties the exporter asks its sources.
constexpr OSType movieExportWidth = 'wdth';      // Fixed: 0 asks; non-zero sets the output width
constexpr OSType movieExportHeight = 'hegt';
constexpr OSType movieExportDuration = 'dura';   // TimeRecord
constexpr OSType movieExportUseConfiguredSettings = 'ucfg';
// SInt32: the field order of the pictures a video source answers (0
// progressive, 3 upper field first, 4 lower field first); a source that does
// not answer gives progressive pictures.
constexpr OSType movieExportFieldOrder = 'fiel';
// UInt64: the channel layout of the frames a sound source answers, as a
// channel mask (one bit per speaker, libavutil's), asked after its first
// answer; a source that does not answer, or answers 0, gives the count's
// usual layout.
constexpr OSType movieExportChannelMask = 'chmk';

OSErr MovieExportSetProgressProc(MovieExportComponent ci, MovieProgressProcPtr inProc, SInt32 inRefCon);
OSErr MovieExportGetFileNameExtension(MovieExportComponent ci, OSType* outExtension);
OSErr MovieExportGetSettingsAsAtomContainer(MovieExportComponent ci, QTAtomContainer* outSettings);
// paramErr for a malformed container or values out of range; the settings
// stay as they were then.
OSErr MovieExportSetSettingsFromAtomContainer(MovieExportComponent ci, QTAtomContainer inSettings);
// The exporter's settings dialog: the dialog procedure (when the program set
// one) shows the settings as an atom container's bytes and answers the edited
// bytes, which the exporter takes (paramErr and its settings unchanged for
// bytes it cannot use). Without a procedure (headless) the exporter keeps its
// settings and the user does not cancel.
OSErr MovieExportDoUserDialog(MovieExportComponent ci, Movie inMovie, Track inTrack, TimeValue inStart,
                              TimeValue inDuration, Boolean* outCanceled);
typedef OSErr (*MovieExportUserDialogProcPtr)(OSType inSubtype, const std::vector<UInt8>& inSettings,
                                              std::vector<UInt8>& outSettings, Boolean* outCanceled);
void SetMovieExportUserDialogProc(MovieExportUserDialogProcPtr inProc);

// Procedures that read a movie's own track: 'vide' draws the movie's frames,
// 'soun' converts the track's sound to 16-bit samples. Requests come in
// *ioScale (the movie's time scale when 0).
OSErr MovieExportNewGetDataAndPropertiesProcs(MovieExportComponent ci, OSType inTrackType, TimeScale* ioScale,
                                              Movie inMovie, Track inTrack, TimeValue inStartTime,
                                              TimeValue inDuration, MovieExportGetPropertyProcPtr* outPropertyProc,
                                              MovieExportGetDataProcPtr* outDataProc, void** outRefCon);
OSErr MovieExportDisposeGetDataAndPropertiesProcs(MovieExportComponent ci, MovieExportGetPropertyProcPtr inPropertyProc,
                                                  MovieExportGetDataProcPtr inDataProc, void* inRefCon);
OSErr MovieExportAddDataSource(MovieExportComponent ci, OSType inTrackType, TimeScale inScale, SInt32* outTrackID,
                               MovieExportGetPropertyProcPtr inPropertyProc, MovieExportGetDataProcPtr inDataProc,
                               void* inRefCon);
// Pulls every source to its end and writes the file named by the alias
// ('alis'). The sources are forgotten afterwards, whatever the outcome.
OSErr MovieExportFromProceduresToDataRef(MovieExportComponent ci, Handle inDataRef, OSType inDataRefType);
// Exports a movie (all enabled tracks, or the one given) from inStart for
// inDuration. A sound-only exporter given a movie without sound answers
// invalidTrack; an exporter with nothing it can write answers invalidTrack.
OSErr MovieExportToFile(MovieExportComponent ci, const FSSpec* inFile, Movie inMovie, Track inOnlyThisTrack,
                        TimeValue inStart, TimeValue inDuration);

// Standard compression information the data sources pass on.
constexpr OSType scSpatialSettingsType = 'sptl';
constexpr OSType scTemporalSettingsType = 'tprl';
constexpr OSType scDataRateSettingsType = 'drat';
constexpr OSType scSoundSampleRateType = 'ssrt';
constexpr OSType scSoundChannelCountType = 'sscc';
constexpr OSType scSoundSampleSizeType = 'ssss';
constexpr OSType scSoundCompressionType = 'ssct';
struct SCSpatialSettings {
  CodecType codecType;
  void* codec;
  SInt16 depth;
  UInt32 spatialQuality;
};
struct SCTemporalSettings {
  UInt32 temporalQuality;
  Fixed frameRate;
  SInt32 keyFrameRate;
};
struct SCDataRateSettings {
  SInt32 dataRate;
  SInt32 frameDuration;
  UInt32 minSpatialQuality;
  UInt32 minTemporalQuality;
};
// The exporter's compression settings; paramErr for a selector it has no answer for.
OSErr SCGetInfo(MovieExportComponent ci, OSType inType, void* outInfo);
