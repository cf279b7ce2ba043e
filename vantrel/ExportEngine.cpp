#include "vantrel/ExportEngine.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "media/UMovies.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/TrxLog.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/FFDemuxer.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/SoundConverter.h"
#include "vantrel/MovieProgress.h"
#include "vantrel/VideoExportSource.h"

namespace {

// One sound track of the pre-exported sound file, read back through a sound
// converter into 16-bit little-endian samples.
struct SoundExportData {
  MovieExportComponent exporter = nullptr;
  CFFDemuxer* demuxer = nullptr;
  ItemCount track = 0;
  const FFTrackInfo* info = nullptr;
  SInt64 start = 0;          // media time where the sound begins
  size_t nextSample = 0;     // next stored sample (chunk) to read
  bool variableBitRate = false;
  std::vector<UInt8> sample;
  SoundDescriptionHandle outputDesc = nullptr;
  SoundConverter converter = nullptr;
  std::vector<UInt8> buffer;
  CompressionInfo compression{};
  ExtendedSoundComponentData input{};
  bool more = true;
  bool ended = false;
  UInt32 lastYield = 0;
  SInt16 channels = 0;     // of the converted sound
  UnsignedFixed rate = 0;  // of the converted sound

  ~SoundExportData() {
    if (converter) SoundConverterClose(converter);
    DisposeHandle(reinterpret_cast<Handle>(outputDesc));
  }
};

void ClearInput(SoundExportData& s) {
  s.input.desc.buffer = nullptr;
  s.input.desc.sampleCount = 0;
  s.input.bufferSize = 0;
  s.input.commonFrameSize = 0;
}

Boolean SoundConverterFillBufferDataProc(SoundComponentDataPtr* outData, void* inRecord) {
  auto* s = static_cast<SoundExportData*>(inRecord);
  if (s->nextSample >= s->info->samples.size()) {
    s->more = false;
    ClearInput(*s);
  }
  if (s->more) {
    try {
      const FFSampleInfo& info = s->info->samples[s->nextSample];
      s->demuxer->ReadSample(s->track, s->nextSample, s->sample);
      ++s->nextSample;
      if (s->sample.empty()) {
        s->more = false;
        ClearInput(*s);
      } else {
        s->input.desc.buffer = s->sample.data();
        s->input.bufferSize = static_cast<SInt32>(s->sample.size());
        s->input.desc.sampleCount = info.duration;
        if (s->variableBitRate) s->input.commonFrameSize = static_cast<SInt32>(s->sample.size());
      }
    } catch (...) {
      s->more = false;
      ClearInput(*s);
    }
  }
  *outData = &s->input.desc;
  return s->more;
}

OSErr mySoundExportGetPropertyProc(void* inRecord, SInt32, OSType inProperty, void* ioValue) {
  auto* s = static_cast<SoundExportData*>(inRecord);
  if (s == nullptr || ioValue == nullptr) return paramErr;
  switch (inProperty) {
    case 'ssct': case 'sscc': case 'ssrt': case 'ssir': case 'ssss': case 'cvbr': case 'rcok':
      SCGetInfo(s->exporter, inProperty, ioValue);
      return noErr;
    case 'dura': {
      auto* r = static_cast<TimeRecord*>(ioValue);
      r->value = SInt64ToWide(s->info->duration);
      r->scale = s->info->timeScale;
      r->base = nullptr;
      return noErr;
    }
    case 'ucfg':
      *static_cast<Boolean*>(ioValue) = true;
      return noErr;
    case movieExportChannelMask:
      // The layout the sound file keeps (5.1 with side or back channels),
      // unless the options ask for another channel count.
      *static_cast<UInt64*>(ioValue) = s->channels == s->info->channels ? s->info->channelMask : 0;
      return noErr;
    default:
      return paramErr;
  }
}

OSErr mySoundExportGetDataProc(void* inRecord, MovieExportGetDataParams* p) {
  auto* s = static_cast<SoundExportData*>(inRecord);
  if (s == nullptr || p == nullptr) return paramErr;
  if (TickCount() - s->lastYield > 60) {
    EventRecord event;
    WaitNextEvent(everyEvent, &event, 1, nullptr);
    s->lastYield = TickCount();
  }
  const SoundDescription& out = **s->outputDesc;
  p->actualTime = p->requestedTime;
  p->dataPtr = reinterpret_cast<Ptr>(s->buffer.data());
  p->desc = reinterpret_cast<SampleDescriptionHandle>(s->outputDesc);
  p->descType = SoundMediaType;
  p->descSeed = 1;
  p->durationPerSample = 1;
  p->sampleFlags = 0;
  if (p->requestedTime < s->start) {
    // Silence before the track begins, at most one buffer at a time.
    const SInt64 frameBytes = static_cast<SInt64>(out.numChannels) * out.sampleSize / 8;
    SInt64 frames = s->start - p->requestedTime;
    if (frames * frameBytes > static_cast<SInt64>(s->buffer.size())) frames = static_cast<SInt64>(s->buffer.size()) / frameBytes;
    std::memset(s->buffer.data(), 0, static_cast<size_t>(frames * frameBytes));
    p->dataSize = static_cast<SInt32>(frames * frameBytes);
    p->actualSampleCount = static_cast<SInt32>(frames);
    return noErr;
  }
  UInt32 bytes = 0, frames = 0, flags = 0;
  OSErr err = noErr;
  if (!s->ended) {
    // The converter is drained to its last frame before the conversion ends,
    // so no converted sound is lost with the end of the input.
    err = SoundConverterFillBuffer(s->converter, SoundConverterFillBufferDataProc, s, s->buffer.data(),
                                   static_cast<UInt32>(s->buffer.size()), &bytes, &frames, &flags);
    if (err == noErr && !s->more && frames == 0) {
      err = SoundConverterEndConversion(s->converter, s->buffer.data(), &frames, &bytes);
      s->ended = true;
      if (err == noErr) err = eofErr;
    }
  } else {
    err = eofErr;
  }
  p->dataSize = static_cast<SInt32>(bytes);
  p->actualSampleCount = static_cast<SInt32>(frames * std::max<UInt16>(1, s->compression.samplesPerPacket));
  return err;
}

std::unique_ptr<SoundExportData> NewSoundSource(MovieExportComponent inExporter, CFFDemuxer& inDemuxer,
                                                ItemCount inTrack, UInt32 inAskedRate) {
  auto s = std::make_unique<SoundExportData>();
  s->exporter = inExporter;
  s->demuxer = &inDemuxer;
  s->track = inTrack;
  s->info = &inDemuxer.GetTrack(inTrack);
  const FFTrackInfo& info = *s->info;
  if (info.channels <= 0 || info.sampleRate <= 0) Throw_(badFormat);
  const UnsignedFixed rate = static_cast<UnsignedFixed>(info.sampleRate * 65536.0);
  // The rate and channels the exporter's options ask for (0: the sound's own).
  // The rate is read in hertz from the settings: a sound description holds
  // rates below 65536 Hz only, so a higher one keeps the sound's own rate.
  SInt16 askedChannels = 0;
  if (SCGetInfo(inExporter, scSoundChannelCountType, &askedChannels) != noErr) askedChannels = 0;
  const SInt16 channels = askedChannels > 0 && askedChannels <= 16 ? askedChannels : info.channels;
  const UnsignedFixed outRate =
      inAskedRate >= 1000 && inAskedRate < 65536 ? static_cast<UnsignedFixed>(inAskedRate) << 16 : rate;
  if (inAskedRate >= 65536)
    TrxLog("vantrel", "a sound rate of %u Hz cannot be written; the sound keeps its own", static_cast<unsigned>(inAskedRate));
  s->channels = channels;
  s->rate = outRate;
  SoundComponentData in{0, info.codecType, info.channels, info.sampleSize, rate, 0, nullptr, 0};
  SoundComponentData out{0, 'sowt', channels, 16, outRate, 0, nullptr, 0};
  ThrowIfOSErr_(SoundConverterOpen(&in, &out, &s->converter));
  Boolean vbr = true;
  SoundConverterSetInfo(s->converter, siClientAcceptsVBR, &vbr);
  SoundConverterSetInfo(s->converter, siCompressionOutputSampleRate, &out.sampleRate);
  SoundConverterSetInfo(s->converter, siCompressionChannels, &out.numChannels);
  UInt32 maxPacket = 0, outputBytes = 0;
  SoundConverterGetInfo(s->converter, siCompressionMaxPacketSize, &maxPacket);
  ThrowIfOSErr_(SoundConverterGetBufferSizes(s->converter, 1000000, nullptr, nullptr, &outputBytes));
  const UInt32 size = std::max<UInt32>(maxPacket == 0 ? 1000000 : maxPacket, outputBytes);
  try {
    s->buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    Throw_(err_NilPointer);
  }
  ThrowIfOSErr_(GetCompressionInfo(fixedCompression, 'sowt', channels, 16, &s->compression));
  s->outputDesc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  ThrowIfNil_(s->outputDesc);
  SoundDescription& d = **s->outputDesc;
  d.descSize = sizeof(SoundDescription);
  d.dataFormat = 'sowt';
  d.version = 1;
  d.numChannels = channels;
  d.sampleSize = 16;
  d.compressionID = s->compression.compressionID;
  d.sampleRate = outRate;
  s->input.desc = SoundComponentData{kExtendedSoundData, in.format, in.numChannels, in.sampleSize, rate, 0, nullptr, 0};
  s->input.recordSize = sizeof(ExtendedSoundComponentData);
  s->input.extendedFlags = kExtendedSoundCommonFrameSizeValid | (s->variableBitRate ? kExtendedSoundBufferFlagsValid : 0);
  s->lastYield = TickCount();
  ThrowIfOSErr_(SoundConverterBeginConversion(s->converter));
  return s;
}

// The sound rate in hertz the export's settings ask for; 0 when none.
UInt32 AskedSoundRate(QTAtomContainer inSettings) {
  const QTAtom atom = QTFindChildByID(inSettings, kParentAtomIsContainer, 'srat', 1, nullptr);
  UInt8 bytes[4] = {0, 0, 0, 0};
  SInt32 size = 0;
  if (atom == 0 || QTCopyAtomDataToPtr(inSettings, atom, false, 4, bytes, &size) != noErr || size != 4) return 0;
  return (UInt32(bytes[0]) << 24) | (UInt32(bytes[1]) << 16) | (UInt32(bytes[2]) << 8) | UInt32(bytes[3]);
}

// A movie whose media files are gone cannot be exported: say so at once
// instead of exporting empty frames. Every enabled track must be able to
// read its first sample.
void CheckMediaFiles(Movie inMovie) {
  StHandleBlock sample(NewHandle(0));
  ThrowIfNil_(sample.Get());
  const SInt32 count = GetMovieTrackCount(inMovie);
  for (SInt32 i = 1; i <= count; ++i) {
    Track t = GetMovieIndTrack(inMovie, i);
    if (t == nullptr) Throw_(err_NilPointer);
    if (!GetTrackEnabled(t)) continue;
    Media m = GetTrackMedia(t);
    if (m == nullptr) Throw_(err_NilPointer);
    if (GetMediaSampleCount(m) <= 0) continue;
    TimeValue first = 0;
    ThrowIfOSErr_(SampleNumToMediaTime(m, 1, &first, nullptr));
    SInt32 size = 0;
    ThrowIfOSErr_(GetMediaSample(m, sample, 0, &size, first, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr));
  }
}

bool MovieHasEnabledSound(Movie inMovie) {
  return GetMovieIndTrackType(inMovie, 1, SoundMediaType, movieTrackMediaType | movieTrackEnabledOnly) != nullptr;
}

// The error an export that could not keep its sound reports: a cancel, and
// the file errors the user can act on (a full or locked disk, a missing
// folder, no permission), as they are; a sound the converter cannot take
// as "sound support not available", which names the problem in words.
OSErr SoundFailureForUser(OSErr inErr) {
  TrxLog("vantrel", "the movie's sound could not be exported: %d", static_cast<int>(inErr));
  switch (inErr) {
    case userCanceledErr: case dskFulErr: case wPrErr: case vLckdErr: case permErr: case afpAccessDenied:
    case ioErr: case dirNFErr: case fnfErr: case nsvErr: case tmfoErr: case opWrErr: case fBsyErr:
      return inErr;
    default:
      return soundSupportNotAvailableErr;
  }
}

Track FirstEnabledVideoTrack(Movie inMovie) {
  return GetMovieIndTrackType(inMovie, 1, VideoMediaType, movieTrackMediaType | movieTrackEnabledOnly);
}

// Everything one export holds, released whatever happens.
struct ExportState {
  Movie movie = nullptr;
  MovieExportComponent exporter = nullptr;
  QTAtomContainer settings = nullptr;
  Handle destination = nullptr;
  VideoExportData video;
  bool videoSetUp = false;
  std::string soundPath;
  std::unique_ptr<CFFDemuxer> soundFile;
  std::vector<std::unique_ptr<SoundExportData>> sounds;

  ~ExportState() {
    sounds.clear();
    soundFile.reset();
    if (!soundPath.empty()) unlink(soundPath.c_str());
    if (videoSetUp) DisposeVideoExportSource(video);
    if (exporter) CloseComponent(exporter);
    if (movie) DisposeMovie(movie);
    QTDisposeAtomContainer(settings);
    DisposeHandle(destination);
  }
};

Handle HandleOf(const UInt8* inBytes, UInt32 inLength) {
  Handle h = NewHandle(static_cast<SInt32>(inLength));
  if (h == nullptr) Throw_(err_NilPointer);
  if (inLength > 0) std::memcpy(*h, inBytes, inLength);
  return h;
}

}  // namespace

OSErr ExportMovieSound(Movie inMovie, std::string& outPath, WorkerRequest* inRequest, OSType inFileType) {
  outPath.clear();
  if (inMovie == nullptr) return ErrorCodeToOSErr(err_NilPointer);
  MovieExportComponent exporter = nullptr;
  OSErr err = OpenADefaultComponent(MovieExportType, inFileType, &exporter);
  if (err != noErr) return err;
  SInt16 vRef = 0;
  SInt32 dirID = 0;
  err = FindFolder(kOnSystemDisk, kTemporaryFolderType, kCreateFolder, &vRef, &dirID);
  std::string path;
  if (err == noErr) {
    // A fresh name of our own, made with the file itself (readable by us
    // only), so nothing in the shared folder is ever taken over or deleted.
    path = FSDirectoryPath(dirID) + "/Tremb_" + std::to_string(TickCount()) + "_XXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
      err = OSErrFromErrno(errno);
      path.clear();
    } else {
      close(fd);
      path = name.data();
    }
  }
  if (err == noErr) {
    FSSpec spec;
    FSMakeFSSpecFromPath(path, &spec);
    FInfo info{};
    info.fdType = inFileType;
    info.fdCreator = kTremblorixFileCreator;
    FSpSetFInfo(&spec, &info);
    MovieExportSetProgressProc(exporter, soundMovieProgressProc, inRequest ? inRequest->refCon : 0);
    err = MovieExportToFile(exporter, &spec, inMovie, nullptr, 0, GetMovieDuration(inMovie));
  }
  CloseComponent(exporter);
  if (err != noErr) {
    if (!path.empty()) unlink(path.c_str());
    return err;
  }
  outPath = path;
  return noErr;
}

OSErr MovieExportEngine(WorkerRequest* inRequest, const ExportRequestFields& inFields) {
  // What the export was doing, for the diagnostic log's line on a failure.
  const char* stage = "reading the request's movie";
  try {
    ExportState state;
    if (!inFields.hasMovie || !inFields.hasSettings) Throw_(err_NilPointer);
    {
      StHandleBlock movieHandle(HandleOf(inFields.movie, inFields.movieLength));
      ThrowIfOSErr_(NewMovieFromHandle(&state.movie, movieHandle, newMovieActive | newMovieDontAskUnresolvedDataRefs,
                                       nullptr));
      ThrowIfNil_(state.movie);
    }
    CheckMediaFiles(state.movie);
    state.settings = HandleOf(inFields.settings, inFields.settingsLength);
    state.destination = HandleOf(inFields.destination, inFields.destinationLength);
    stage = "exporting the sound";

    // The sound goes first into a file of its own. Only a movie without
    // enabled sound (every sound exporter answers that it has no track) is
    // exported without sound; sound that cannot be converted or written
    // fails the export, never leaves it silently without its sound.
    static const OSType kSoundTypes[] = {'AIFF', 'WAVE', 'ULAW', 'sfil'};
    OSErr soundErr = noErr;
    for (OSType type : kSoundTypes) {
      soundErr = ExportMovieSound(state.movie, state.soundPath, inRequest, type);
      if (soundErr != invalidTrack && soundErr != cantFindHandler) break;
    }
    if (soundErr != noErr) {
      state.soundPath.clear();
      if (soundErr == userCanceledErr || MovieHasEnabledSound(state.movie))
        ThrowIfOSErr_(SoundFailureForUser(soundErr));
    }

    stage = "setting up the exporter";
    ThrowIfOSErr_(OpenADefaultComponent(inFields.exporterType, inFields.exporterSubtype, &state.exporter));
    ThrowIfOSErr_(MovieExportSetSettingsFromAtomContainer(state.exporter, state.settings));
    ThrowIfOSErr_(MovieExportSetProgressProc(state.exporter, videoMovieProgressProc, inRequest->refCon));
    SetMoviePlayHints(state.movie, hintsHighQuality, kDrawingHintsMask);

    if (Track video = FirstEnabledVideoTrack(state.movie)) {
      state.videoSetUp = true;
      SetUpVideoExportSource(state.video, state.exporter, state.movie, video, inFields.singleField != 0);
    }
    if (!state.soundPath.empty()) {
      state.soundFile = std::make_unique<CFFDemuxer>(state.soundPath);
      for (ItemCount i = 0; i < state.soundFile->CountTracks(); ++i) {
        if (state.soundFile->GetTrack(i).handlerType != SoundMediaType) continue;
        state.sounds.push_back(NewSoundSource(state.exporter, *state.soundFile, i, AskedSoundRate(state.settings)));
        SInt32 trackID = 0;
        // The source's clock counts the frames it gives, at the converted rate.
        ThrowIfOSErr_(MovieExportAddDataSource(state.exporter, SoundMediaType,
                                               static_cast<TimeScale>(state.sounds.back()->rate >> 16),
                                               &trackID, mySoundExportGetPropertyProc, mySoundExportGetDataProc,
                                               state.sounds.back().get()));
      }
    }
    stage = "exporting the movie";
    ThrowIfOSErr_(MovieExportFromProceduresToDataRef(state.exporter, state.destination, rAliasType));
  } catch (...) {
    const OSErr err = ErrorCodeToOSErr(ExceptionCodeOfCurrent());
    TrxLog("vantrel", "export request failed while %s: %d", stage, static_cast<int>(err));
    return err;
  }
  return noErr;
}
