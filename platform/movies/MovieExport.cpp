// Movie export components over the FFmpeg encoder and muxer.
#include "platform/movies/MovieExport.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/FourCC.h"
#include "platform/base/TrxLog.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/FFMuxer.h"
#include "platform/movies/MovieCodecs.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/MovieModel.h"
#include "platform/movies/MovieSound.h"
#include "platform/movies/SoundConverter.h"

namespace {

const char* ExporterName(OSType inSubtype) {
  switch (inSubtype) {
    case 'MooV': return "QuickTime Movie";
    case 'mpg4': return "MPEG-4";
    case 'VfW ': return "AVI";
    case '3gpp': return "3G";
    case 'AIFF': return "AIFF";
    case 'WAVE': return "Wave";
    case 'ULAW': return "\xC2\xB5Law";  // µLaw in UTF-8, as every text here
    default: return "Movie";
  }
}

// The settings a new exporter starts with: H.264 at a constant quality for
// the MPEG-4 family and QuickTime movies, the container's own codecs elsewhere.
FFExportSettings DefaultSettings(const FFExporterInfo& inInfo) {
  FFExportSettings s;
  s.videoCodec = inInfo.defaultVideoCodec;
  s.soundCodec = inInfo.defaultSoundCodec;
  s.quality = kFFNormalQuality;
  return s;
}

struct Source {
  OSType type = 0;
  TimeScale scale = 600;
  SInt32 trackID = 0;
  MovieExportGetPropertyProcPtr propertyProc = nullptr;
  MovieExportGetDataProcPtr dataProc = nullptr;
  void* refCon = nullptr;
};

template <typename F>
OSErr Guarded(F&& inBody) {
  try {
    inBody();
    return noErr;
  } catch (...) {
    return OSErrOfCurrent(memFullErr, internalQuickTimeError);
  }
}

}  // namespace

struct OpaqueMovieExporter {
  const FFExporterInfo* info = nullptr;
  FFExportSettings settings;
  MovieProgressProcPtr progress = nullptr;
  SInt32 progressRefCon = 0;
  std::vector<Source> sources;
  SInt32 nextTrackID = 1;
};

// ---------------------------------------------------------------------------
// The registry.

ItemCount CountMovieExporters() {
  ItemCount count = 0;
  FFGetExporters(&count);
  return count;
}

OSErr GetMovieExporterInfo(ItemCount inIndex, ComponentDescription* outDesc, Str255 outName) {
  ItemCount count = 0;
  const FFExporterInfo* all = FFGetExporters(&count);
  if (inIndex < 1 || inIndex > count) return paramErr;
  const FFExporterInfo& e = all[inIndex - 1];
  if (outDesc) {
    outDesc->componentType = MovieExportType;
    outDesc->componentSubType = e.subtype;
    outDesc->componentManufacturer = 'trbx';
    outDesc->componentFlags = canMovieExportFiles | canMovieExportFromProcedures | canMovieExportValidateMovie |
                              (e.hasVideo ? 0 : movieExportSoundOnly);
    outDesc->componentFlagsMask = 0;
  }
  if (outName) {
    const char* name = ExporterName(e.subtype);
    size_t n = std::min<size_t>(std::strlen(name), 255);
    outName[0] = static_cast<unsigned char>(n);
    std::memcpy(outName + 1, name, n);
  }
  return noErr;
}

OSErr OpenADefaultComponent(OSType inType, OSType inSubtype, MovieExportComponent* outInstance) {
  if (outInstance == nullptr) return paramErr;
  *outInstance = nullptr;
  if (inType != MovieExportType) return badComponentType;
  const FFExporterInfo* info = FFFindExporter(inSubtype);
  if (info == nullptr) return cantFindHandler;
  auto* ci = new (std::nothrow) OpaqueMovieExporter;
  if (ci == nullptr) return memFullErr;
  ci->info = info;
  ci->settings = DefaultSettings(*info);
  *outInstance = ci;
  return noErr;
}

OSErr CloseComponent(MovieExportComponent inInstance) {
  if (inInstance == nullptr) return paramErr;
  delete inInstance;
  return noErr;
}

OSErr MovieExportSetProgressProc(MovieExportComponent ci, MovieProgressProcPtr inProc, SInt32 inRefCon) {
  if (ci == nullptr) return paramErr;
  ci->progress = inProc;
  ci->progressRefCon = inRefCon;
  return noErr;
}

OSErr MovieExportGetFileNameExtension(MovieExportComponent ci, OSType* outExtension) {
  if (ci == nullptr || outExtension == nullptr) return paramErr;
  *outExtension = ci->info->extension;
  return noErr;
}

// ---------------------------------------------------------------------------
// Settings as atoms: one UInt32 atom (id 1) per field.

namespace {

struct SettingField {
  OSType atom;
  SInt32 FFExportSettings::*field;
};

void PutValue(QTAtomContainer c, OSType inType, UInt32 inValue) {
  UInt8 bytes[4];
  WriteBE32(bytes, inValue);
  ThrowIfOSErr_(QTInsertChild(c, kParentAtomIsContainer, inType, 1, 0, 4, bytes, nullptr));
}

bool GetValue(QTAtomContainer c, OSType inType, UInt32& outValue) {
  QTAtom atom = QTFindChildByID(c, kParentAtomIsContainer, inType, 1, nullptr);
  if (atom == 0) return false;
  UInt8 bytes[4];
  SInt32 size = 0;
  if (QTCopyAtomDataToPtr(c, atom, false, 4, bytes, &size) != noErr || size != 4) Throw_(paramErr);
  outValue = ReadBE32(bytes);
  return true;
}

bool KnownVideoCodec(OSType inCodec) {
  return inCodec == 0 || FFCodecIDForFourCC('vide', inCodec) != AV_CODEC_ID_NONE;
}
bool KnownSoundCodec(OSType inCodec) {
  return inCodec == 0 || FFCodecIDForFourCC('soun', inCodec) != AV_CODEC_ID_NONE;
}

}  // namespace

OSErr MovieExportGetSettingsAsAtomContainer(MovieExportComponent ci, QTAtomContainer* outSettings) {
  if (ci == nullptr || outSettings == nullptr) return paramErr;
  *outSettings = nullptr;
  QTAtomContainer c = nullptr;
  OSErr err = QTNewAtomContainer(&c);
  if (err != noErr) return err;
  const FFExportSettings& s = ci->settings;
  err = Guarded([&] {
    PutValue(c, 'expt', ci->info->subtype);
    PutValue(c, 'vcdc', s.videoCodec);
    PutValue(c, 'qual', static_cast<UInt32>(s.quality));
    PutValue(c, 'brat', static_cast<UInt32>(s.bitRate));
    PutValue(c, 'kfrm', static_cast<UInt32>(s.keyFrameInterval));
    PutValue(c, 'fps ', static_cast<UInt32>(s.frameRate));
    PutValue(c, 'wdth', static_cast<UInt32>(s.width));
    PutValue(c, 'hegt', static_cast<UInt32>(s.height));
    PutValue(c, 'sndo', s.soundOn ? 1 : 0);
    PutValue(c, 'scdc', s.soundCodec);
    PutValue(c, 'srat', static_cast<UInt32>(s.soundRate));
    PutValue(c, 'schn', static_cast<UInt32>(s.soundChannels));
    PutValue(c, 'sbrt', static_cast<UInt32>(s.soundBitRate));
  });
  if (err != noErr) {
    QTDisposeAtomContainer(c);
    return err;
  }
  *outSettings = c;
  return noErr;
}

OSErr MovieExportSetSettingsFromAtomContainer(MovieExportComponent ci, QTAtomContainer inSettings) {
  if (ci == nullptr || inSettings == nullptr) return paramErr;
  if (QTValidateAtomContainer(inSettings) != noErr) return paramErr;
  FFExportSettings s = ci->settings;
  OSErr err = Guarded([&] {
    UInt32 v = 0;
    if (GetValue(inSettings, 'vcdc', v)) {
      if (!KnownVideoCodec(v)) Throw_(paramErr);
      s.videoCodec = v != 0 ? v : ci->info->defaultVideoCodec;
    }
    if (GetValue(inSettings, 'qual', v)) {
      if (v > static_cast<UInt32>(kFFLosslessQuality)) Throw_(paramErr);
      s.quality = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'brat', v)) {
      if (v > 0x7FFFFFFFu) Throw_(paramErr);
      s.bitRate = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'kfrm', v)) {
      if (v > 100000) Throw_(paramErr);
      s.keyFrameInterval = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'fps ', v)) {
      if (v > 0x7FFFFFFFu) Throw_(paramErr);
      s.frameRate = static_cast<Fixed>(v);
    }
    if (GetValue(inSettings, 'wdth', v)) {
      if (v > 16384) Throw_(paramErr);
      s.width = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'hegt', v)) {
      if (v > 16384) Throw_(paramErr);
      s.height = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'sndo', v)) s.soundOn = v != 0;
    if (GetValue(inSettings, 'scdc', v)) {
      if (!KnownSoundCodec(v)) Throw_(paramErr);
      s.soundCodec = v != 0 ? v : ci->info->defaultSoundCodec;
    }
    if (GetValue(inSettings, 'srat', v)) {
      if (v > 768000) Throw_(paramErr);
      s.soundRate = static_cast<SInt32>(v);
    }
    if (GetValue(inSettings, 'schn', v)) {
      if (v > 16) Throw_(paramErr);
      s.soundChannels = static_cast<SInt16>(v);
    }
    if (GetValue(inSettings, 'sbrt', v)) {
      if (v > 0x7FFFFFFFu) Throw_(paramErr);
      s.soundBitRate = static_cast<SInt32>(v);
    }
  });
  if (err != noErr) return err;
  ci->settings = s;
  return noErr;
}

namespace {
MovieExportUserDialogProcPtr gUserDialogProc = nullptr;
}  // namespace

void SetMovieExportUserDialogProc(MovieExportUserDialogProcPtr inProc) { gUserDialogProc = inProc; }

OSErr MovieExportDoUserDialog(MovieExportComponent ci, Movie, Track, TimeValue, TimeValue, Boolean* outCanceled) {
  if (ci == nullptr) return paramErr;
  if (outCanceled) *outCanceled = false;
  if (gUserDialogProc == nullptr) return noErr;
  QTAtomContainer current = nullptr;
  OSErr err = MovieExportGetSettingsAsAtomContainer(ci, &current);
  if (err != noErr) return err;
  std::vector<UInt8> before, after;
  if (*current) before.assign(reinterpret_cast<UInt8*>(*current), reinterpret_cast<UInt8*>(*current) + GetHandleSize(current));
  QTDisposeAtomContainer(current);
  Boolean canceled = false;
  err = gUserDialogProc(ci->info->subtype, before, after, &canceled);
  if (err != noErr) return err;
  if (outCanceled) *outCanceled = canceled;
  if (canceled || after.empty()) return noErr;
  Handle edited = NewHandle(static_cast<SInt32>(after.size()));
  if (edited == nullptr) return memFullErr;
  std::memcpy(*edited, after.data(), after.size());
  err = MovieExportSetSettingsFromAtomContainer(ci, edited);
  DisposeHandle(edited);
  return err;
}

OSErr SCGetInfo(MovieExportComponent ci, OSType inType, void* outInfo) {
  if (ci == nullptr || outInfo == nullptr) return paramErr;
  const FFExportSettings& s = ci->settings;
  switch (inType) {
    case scSpatialSettingsType: {
      auto* sp = static_cast<SCSpatialSettings*>(outInfo);
      sp->codecType = s.videoCodec;
      sp->codec = nullptr;
      sp->depth = 24;
      sp->spatialQuality = static_cast<UInt32>(s.quality);
      return noErr;
    }
    case scTemporalSettingsType: {
      auto* tp = static_cast<SCTemporalSettings*>(outInfo);
      tp->temporalQuality = static_cast<UInt32>(s.quality);
      tp->frameRate = s.frameRate;
      tp->keyFrameRate = s.keyFrameInterval;
      return noErr;
    }
    case scDataRateSettingsType: {
      auto* dr = static_cast<SCDataRateSettings*>(outInfo);
      *dr = SCDataRateSettings{s.bitRate / 8, 0, 0, 0};
      return noErr;
    }
    case scSoundCompressionType:
      *static_cast<OSType*>(outInfo) = s.soundCodec;
      return noErr;
    case scSoundSampleRateType:
      *static_cast<UnsignedFixed*>(outInfo) = static_cast<UnsignedFixed>(s.soundRate) << 16;
      return noErr;
    case scSoundChannelCountType:
      *static_cast<SInt16*>(outInfo) = s.soundChannels;
      return noErr;
    case scSoundSampleSizeType:
      *static_cast<SInt16*>(outInfo) = 16;
      return noErr;
    default:
      return paramErr;
  }
}

OSErr MovieExportAddDataSource(MovieExportComponent ci, OSType inTrackType, TimeScale inScale, SInt32* outTrackID,
                               MovieExportGetPropertyProcPtr inPropertyProc, MovieExportGetDataProcPtr inDataProc,
                               void* inRefCon) {
  if (ci == nullptr || inDataProc == nullptr || inScale <= 0) return paramErr;
  if (inTrackType != VideoMediaType && inTrackType != SoundMediaType) return paramErr;
  return Guarded([&] {
    Source s;
    s.type = inTrackType;
    s.scale = inScale;
    s.trackID = ci->nextTrackID++;
    s.propertyProc = inPropertyProc;
    s.dataProc = inDataProc;
    s.refCon = inRefCon;
    ci->sources.push_back(s);
    if (outTrackID) *outTrackID = s.trackID;
  });
}

// ---------------------------------------------------------------------------
// The pull loop.

namespace {

// One source while the file is written.
struct ActiveSource {
  Source source;
  bool done = false;
  SInt64 next = 0;          // next requested time, source scale
  double seconds = 0;       // 'dura', for progress
  SInt32 muxTrack = -1;
  SInt32 width = 0, height = 0;  // video output size
  SInt32 fieldOrder = 0;          // video: as the source says (movieExportFieldOrder)
  // Video at the exporter's own frame rate: frame k is asked for and written
  // at k x scale / rate (rate as 16.16), whatever the source's own steps.
  Fixed frameRate = 0;
  SInt64 frameIndex = 0;
  SInt64 end = 0;                 // the source's duration in its scale
  SInt32 soundChannels = 0;
  // The first answer, kept while the tracks are set up.
  bool pending = false;
  OSErr pendingErr = noErr;
  MovieExportGetDataParams params{};
  // The answered bytes: valid until the same source is asked again.
  const UInt8* bytes = nullptr;
  size_t size = 0;
  std::vector<UInt8> desc;
  // Compressed video samples.
  std::unique_ptr<CMovieDecoder> decoder;
  std::vector<UInt8> decoderDesc;
  bool decoderFresh = true;       // nothing fed since it was made or flushed
  std::vector<UInt8> scratch;
  SInt32 stalls = 0;
};

std::vector<UInt8> HandleBytes(Handle h) {
  if (h == nullptr || *h == nullptr) return {};
  return std::vector<UInt8>(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
}

// Asks a source for its data at its next time.
OSErr Ask(ActiveSource& a) {
  MovieExportGetDataParams p{};
  p.recordSize = sizeof(p);
  p.requestedTime = static_cast<TimeValue>(a.next);
  p.requestedSampleCount = 0;
  OSErr err = a.source.dataProc(a.source.refCon, &p);
  a.params = p;
  a.pendingErr = err;
  a.bytes = nullptr;
  a.size = 0;
  if ((err == noErr || err == eofErr) && p.dataPtr != nullptr && p.dataSize > 0) {
    a.bytes = reinterpret_cast<const UInt8*>(p.dataPtr);
    a.size = static_cast<size_t>(p.dataSize);
  }
  a.desc = HandleBytes(reinterpret_cast<Handle>(p.desc));
  a.pending = true;
  return err;
}

// The frame of an answer as ARGB pixels of the track's size: uncompressed
// data is read in place when it fits, anything else is decoded or resampled
// into scratch memory. Never reads past the answered bytes.
FFPixelBuffer VideoPicture(ActiveSource& a) {
  if (a.desc.size() < sizeof(ImageDescription)) Throw_(badImageDescription);
  ImageDescription d;
  std::memcpy(&d, a.desc.data(), sizeof d);
  if (d.width <= 0 || d.height <= 0) Throw_(badImageDescription);
  const SInt64 size = static_cast<SInt64>(a.size);
  const SInt32 W = a.width, H = a.height;
  const SInt32 scratchRow = W * 4;
  a.scratch.resize(static_cast<size_t>(scratchRow) * H);
  if (d.cType == kRawCodecType && (d.depth == 32 || d.depth == 24)) {
    const SInt32 bpp = d.depth / 8;
    const SInt64 rowBytes = size / d.height;
    if (rowBytes < static_cast<SInt64>(d.width) * bpp) Throw_(codecErr);  // too little data for its description
    if (d.width == W && d.height == H && bpp == 4)
      return FFPixelBuffer{const_cast<UInt8*>(a.bytes), static_cast<SInt32>(rowBytes), W, H};
    for (SInt32 y = 0; y < H; ++y) {
      const UInt8* src = a.bytes + static_cast<size_t>(static_cast<SInt64>(y) * d.height / H) * rowBytes;
      UInt8* dst = a.scratch.data() + static_cast<size_t>(y) * scratchRow;
      for (SInt32 x = 0; x < W; ++x) {
        const UInt8* s = src + static_cast<size_t>(static_cast<SInt64>(x) * d.width / W) * bpp;
        dst[4 * x] = 255;
        std::memcpy(dst + 4 * x + 1, s + (bpp == 4 ? 1 : 0), 3);
      }
    }
    return FFPixelBuffer{a.scratch.data(), scratchRow, W, H};
  }
  // Compressed: the toolbox's decoder of the description, kept from sample to
  // sample so that a sample that refers to earlier ones decodes from them. It
  // decodes on one thread, so that pictures in decode order come out at once
  // instead of being held back by frame threads.
  const bool sync = (a.params.sampleFlags & mediaSampleNotSync) == 0;
  if (!a.decoder || a.decoderDesc != a.desc) {
    a.decoder = NewMovieDecoder(a.desc, 1);
    if (!a.decoder) Throw_(noCodecErr);
    a.decoderDesc = a.desc;
    a.decoderFresh = true;
  } else if (sync) {
    a.decoder->Flush();
    a.decoderFresh = true;
  }
  // A sample that depends on earlier ones cannot start a decoder.
  if (a.decoderFresh && !sync) Throw_(codecErr);
  a.decoderFresh = false;
  MoviePixelBuffer dest{a.scratch.data(), scratchRow, W, H};
  a.decoder->SendSample(a.bytes, static_cast<UInt32>(a.size), a.params.actualTime, a.params.actualTime);
  if (!a.decoder->ReceiveFrame(dest, nullptr)) {
    // A decoder that holds a picture back (its stream reorders pictures)
    // gives it out at its end; only a sync sample can follow such a one.
    a.decoder->SendEnd();
    bool got = a.decoder->ReceiveFrame(dest, nullptr);
    a.decoder.reset();
    if (!got) Throw_(codecErr);
  }
  return FFPixelBuffer{a.scratch.data(), scratchRow, W, H};
}

// Encodes and writes on a thread of its own, so that the next frame is
// pulled and rendered while this one is encoded. Jobs keep their order; the
// first failure of the writer is thrown to the caller at its next call.
class CExportWriter {
 public:
  explicit CExportWriter(CFFMuxer& inMux) : mMux(inMux), mThread([this] { Run(); }) {}
  ~CExportWriter() { Stop(); }
  CExportWriter(const CExportWriter&) = delete;
  CExportWriter& operator=(const CExportWriter&) = delete;

  void Video(SInt32 inTrack, const FFPixelBuffer& inPicture, TimeValue64 inTime, SInt32 inDuration) {
    Job job;
    job.track = inTrack;
    job.time = inTime;
    job.duration = inDuration;
    job.picture = inPicture;
    const size_t row = static_cast<size_t>(inPicture.width) * 4;
    {
      // Picture memory goes round between the two threads instead of being
      // allocated (and faulted in) for every frame.
      std::lock_guard<std::mutex> guard(mLock);
      if (!mSpare.empty()) {
        job.pixels = std::move(mSpare.back());
        mSpare.pop_back();
      }
    }
    job.pixels.resize(row * static_cast<size_t>(inPicture.height));
    for (SInt32 y = 0; y < inPicture.height; ++y)
      std::memcpy(job.pixels.data() + row * static_cast<size_t>(y),
                  static_cast<const UInt8*>(inPicture.baseAddr) + static_cast<ptrdiff_t>(y) * inPicture.rowBytes, row);
    job.picture.baseAddr = job.pixels.data();
    job.picture.rowBytes = static_cast<SInt32>(row);
    Push(std::move(job));
  }
  void Sound(SInt32 inTrack, std::vector<SInt16>&& inSamples, UInt32 inFrames) {
    Job job;
    job.track = inTrack;
    job.sound = true;
    job.samples = std::move(inSamples);
    job.frames = inFrames;
    Push(std::move(job));
  }
  // Waits until every job is written; throws the writer's failure.
  void Drain() {
    std::unique_lock<std::mutex> lock(mLock);
    mChanged.wait(lock, [&] { return (mJobs.empty() && !mBusy) || mFailure; });
    if (mFailure) std::rethrow_exception(mFailure);
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(mLock);
      mStop = true;
    }
    mChanged.notify_all();
    if (mThread.joinable()) mThread.join();
  }

 private:
  struct Job {
    SInt32 track = -1;
    bool sound = false;
    FFPixelBuffer picture{};
    std::vector<UInt8> pixels;
    TimeValue64 time = 0;
    SInt32 duration = 0;
    std::vector<SInt16> samples;
    UInt32 frames = 0;
  };
  static constexpr size_t kDepth = 3;

  void Push(Job&& inJob) {
    std::unique_lock<std::mutex> lock(mLock);
    mChanged.wait(lock, [&] { return mJobs.size() < kDepth || mFailure; });
    if (mFailure) std::rethrow_exception(mFailure);
    mJobs.push_back(std::move(inJob));
    mChanged.notify_all();
  }
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mLock);
        mChanged.wait(lock, [&] { return !mJobs.empty() || mStop; });
        if (mJobs.empty() || mFailure) return;
        job = std::move(mJobs.front());
        mJobs.pop_front();
        mBusy = true;
      }
      mChanged.notify_all();
      try {
        if (job.sound)
          mMux.WriteSound(job.track, job.samples.data(), job.frames);
        else
          mMux.WriteVideoFrame(job.track, job.picture, job.time, job.duration);
      } catch (...) {
        std::lock_guard<std::mutex> guard(mLock);
        mFailure = std::current_exception();
        mJobs.clear();
      }
      {
        std::lock_guard<std::mutex> guard(mLock);
        mBusy = false;
        if (!job.pixels.empty() && mSpare.size() < kDepth + 2) mSpare.push_back(std::move(job.pixels));
      }
      mChanged.notify_all();
    }
  }

  CFFMuxer& mMux;
  std::mutex mLock;
  std::condition_variable mChanged;
  std::deque<Job> mJobs;
  std::vector<std::vector<UInt8>> mSpare;
  bool mBusy = false;
  bool mStop = false;
  std::exception_ptr mFailure;
  std::thread mThread;
};

// The time of frame k at the exporter's frame rate, in the source's scale.
SInt64 ResampledTime(const ActiveSource& a, SInt64 k) {
  return k * static_cast<SInt64>(a.source.scale) * 65536 / a.frameRate;
}

void WriteAnswer(ActiveSource& a, CExportWriter& mux) {
  const MovieExportGetDataParams& p = a.params;
  if (a.frameRate > 0 && a.source.type == VideoMediaType) {
    // Frames resampled in time: the picture shown at the frame's time, for
    // exactly one frame of the exporter's rate.
    const SInt64 at = ResampledTime(a, a.frameIndex), following = ResampledTime(a, a.frameIndex + 1);
    if (a.muxTrack >= 0 && a.size != 0)
      mux.Video(a.muxTrack, VideoPicture(a), static_cast<TimeValue64>(at), static_cast<SInt32>(following - at));
    ++a.frameIndex;
    a.next = following;
    if (a.pendingErr == eofErr || (a.end > 0 && following >= a.end)) a.done = true;
    a.pending = false;
    return;
  }
  const SInt64 count = p.actualSampleCount > 0 ? p.actualSampleCount : 1;
  const SInt64 duration = static_cast<SInt64>(p.durationPerSample) * count;
  if (a.muxTrack >= 0 && !(a.size == 0)) {
    if (a.source.type == VideoMediaType) {
      if (duration > 0) mux.Video(a.muxTrack, VideoPicture(a), p.actualTime, static_cast<SInt32>(duration));
    } else {
      if (a.desc.size() < sizeof(SoundDescription)) Throw_(badFormat);
      SoundDescription sd;
      std::memcpy(&sd, a.desc.data(), sizeof sd);
      if ((sd.dataFormat != 'sowt' && sd.dataFormat != 'twos') || sd.sampleSize != 16 ||
          sd.numChannels != a.soundChannels)
        Throw_(badFormat);
      const size_t frames = a.size / (2 * static_cast<size_t>(a.soundChannels));
      std::vector<SInt16> samples(frames * static_cast<size_t>(a.soundChannels));
      const bool big = sd.dataFormat == 'twos';
      for (size_t i = 0; i < samples.size(); ++i) {
        const UInt8* b = a.bytes + 2 * i;
        samples[i] = static_cast<SInt16>(big ? (b[0] << 8) | b[1] : (b[1] << 8) | b[0]);
      }
      mux.Sound(a.muxTrack, std::move(samples), static_cast<UInt32>(frames));
    }
  }
  const SInt64 advanced = duration;
  if (advanced <= 0 && (a.size == 0)) {
    if (++a.stalls > 1000) a.done = true;  // a source that never moves on ends
  } else {
    a.stalls = 0;
  }
  a.next = std::max<SInt64>(a.next, static_cast<SInt64>(p.actualTime) + std::max<SInt64>(advanced, 0));
  if (advanced <= 0 && !(a.size == 0)) a.next += 1;
  if (a.pendingErr == eofErr) a.done = true;
  a.pending = false;
}

TimeRecord AskDuration(const Source& s) {
  TimeRecord r{};
  if (s.propertyProc) s.propertyProc(s.refCon, s.trackID, movieExportDuration, &r);
  return r;
}

SInt32 AskSize(const Source& s, OSType inProperty, SInt32 inWanted) {
  if (s.propertyProc == nullptr) return 0;
  if (inWanted > 0) {
    Fixed wanted = Long2Fix(inWanted);
    s.propertyProc(s.refCon, s.trackID, inProperty, &wanted);
  }
  Fixed value = 0;
  s.propertyProc(s.refCon, s.trackID, inProperty, &value);
  return Fix2Long(value);
}

void RunExport(MovieExportComponent ci, const std::string& inPath) {
  const bool hasVideo = ci->info->hasVideo;
  std::vector<ActiveSource> active;
  for (const Source& s : ci->sources) {
    ActiveSource a;
    a.source = s;
    // Sound-only files take no pictures; a sound-only file holds one sound track.
    if (s.type == VideoMediaType && !hasVideo) continue;
    if (s.type == SoundMediaType && !ci->settings.soundOn) continue;
    active.push_back(std::move(a));
  }
  if (!hasVideo) {
    bool seen = false;
    active.erase(std::remove_if(active.begin(), active.end(),
                                [&](const ActiveSource&) {
                                  bool drop = seen;
                                  seen = true;
                                  return drop;
                                }),
                 active.end());
  }
  if (active.empty()) Throw_(invalidTrack);

  double total = 0;
  for (ActiveSource& a : active) {
    TimeRecord r = AskDuration(a.source);
    if (r.scale > 0) a.seconds = static_cast<double>(WideToSInt64(r.value)) / r.scale;
    total = std::max(total, a.seconds);
    if (a.source.type == VideoMediaType) {
      a.width = AskSize(a.source, movieExportWidth, ci->settings.width);
      a.height = AskSize(a.source, movieExportHeight, ci->settings.height);
      if (ci->settings.frameRate > 0 && r.scale > 0) {
        a.frameRate = ci->settings.frameRate;
        a.end = static_cast<SInt64>(std::ceil(static_cast<double>(WideToSInt64(r.value)) * a.source.scale / r.scale));
      }
      if (a.source.propertyProc) {
        SInt32 order = 0;
        if (a.source.propertyProc(a.source.refCon, a.source.trackID, movieExportFieldOrder, &order) == noErr &&
            (order == kFFFieldsUpperFirst || order == kFFFieldsLowerFirst))
          a.fieldOrder = order;
      }
    }
  }

  CFFMuxer mux(inPath, ci->info->subtype, ci->settings);
  for (ActiveSource& a : active) {
    OSErr err = Ask(a);
    if (err != noErr && err != eofErr) Throw_(err);
    if ((a.size == 0) && err == eofErr) {
      a.done = true;
      continue;
    }
    if (a.source.type == VideoMediaType) {
      if (a.width <= 0 || a.height <= 0) {
        if (a.desc.size() < sizeof(ImageDescription)) Throw_(badImageDescription);
        ImageDescription d;
        std::memcpy(&d, a.desc.data(), sizeof d);
        a.width = d.width;
        a.height = d.height;
      }
      SInt32 frameDuration = std::max<SInt32>(1, a.params.durationPerSample);
      if (a.frameRate > 0) frameDuration = static_cast<SInt32>(std::max<SInt64>(1, ResampledTime(a, 1)));
      a.muxTrack = mux.AddVideoTrack(a.width, a.height, a.source.scale, frameDuration, a.fieldOrder);
    } else {
      if (a.desc.size() < sizeof(SoundDescription)) Throw_(badFormat);
      SoundDescription sd;
      std::memcpy(&sd, a.desc.data(), sizeof sd);
      const SInt32 rate = static_cast<SInt32>(sd.sampleRate >> 16);
      a.soundChannels = sd.numChannels;
      UInt64 mask = 0;
      if (a.source.propertyProc == nullptr ||
          a.source.propertyProc(a.source.refCon, a.source.trackID, movieExportChannelMask, &mask) != noErr)
        mask = 0;
      a.muxTrack = mux.AddSoundTrack(rate, sd.numChannels, mask);
    }
  }
  bool any = false;
  for (const ActiveSource& a : active) any = any || a.muxTrack >= 0;
  if (!any) Throw_(invalidTrack);

  Fixed lastReported = -1;
  auto report = [&](SInt16 inMessage, Fixed inFraction) {
    if (ci->progress == nullptr) return;
    OSErr err = ci->progress(nullptr, inMessage, progressOpFlatten, inFraction, ci->progressRefCon);
    if (err != noErr) Throw_(err);
    lastReported = inFraction;
  };
  report(movieProgressOpen, 0);
  mux.Begin();
  CExportWriter writer(mux);
  for (;;) {
    // The source that lags most in time goes next, so the file interleaves.
    ActiveSource* next = nullptr;
    double nextSeconds = 0;
    for (ActiveSource& a : active) {
      if (a.done && !a.pending) continue;
      const double s = static_cast<double>(a.next) / a.source.scale;
      if (next == nullptr || s < nextSeconds) {
        next = &a;
        nextSeconds = s;
      }
    }
    if (next == nullptr) break;
    if (!next->pending) {
      OSErr err = Ask(*next);
      if (err != noErr && err != eofErr) Throw_(err);
    }
    WriteAnswer(*next, writer);
    if (total > 0) {
      double done = total;
      for (const ActiveSource& a : active)
        if (!a.done) done = std::min(done, static_cast<double>(a.next) / a.source.scale);
      const Fixed fraction = X2Fix(std::clamp(done / total, 0.0, 1.0));
      if (fraction - lastReported >= fixed1 / 200) report(movieProgressUpdatePercent, fraction);
    }
  }
  writer.Drain();
  writer.Stop();
  if (lastReported != fixed1) report(movieProgressUpdatePercent, fixed1);
  mux.Finish();
  // The movie is complete and has taken its name: a cancel heard now comes
  // too late to stop it, and the export must not pass for cancelled while
  // its file stands.
  if (ci->progress != nullptr)
    (void)ci->progress(nullptr, movieProgressClose, progressOpFlatten, fixed1, ci->progressRefCon);
}

}  // namespace

OSErr MovieExportFromProceduresToDataRef(MovieExportComponent ci, Handle inDataRef, OSType inDataRefType) {
  if (ci == nullptr || inDataRef == nullptr) return paramErr;
  OSErr err = noErr;
  if (inDataRefType != rAliasType) {
    err = invalidDataRef;
  } else {
    FSSpec target;
    Boolean changed = false;
    err = ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(inDataRef), &target, &changed);
    if (err == noErr) err = Guarded([&] { RunExport(ci, FSSpecPath(target)); });
    if (err != noErr && TrxLogEnabled())
      TrxLog("export", "exporter '%s' (%s) to \"%s\" failed with %d",
             ci->info ? FourCCToString(ci->info->subtype).c_str() : "?", ci->info ? ci->info->muxerName : "?",
             FSSpecPath(target).c_str(), static_cast<int>(err));
  }
  ci->sources.clear();
  ci->nextTrackID = 1;
  return err;
}

// ---------------------------------------------------------------------------
// Procedures over a movie's own tracks.

namespace {

struct MovieVideoSource {
  Movie movie = nullptr;
  TimeValue start = 0, end = 0;
  TimeScale scale = 600;
  SInt32 width = 0, height = 0;
  std::vector<UInt8> pixels;
  ImageDescriptionHandle desc = nullptr;
  MovieDrawTarget savedTarget{};
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  Rect savedBox{};
};

// A sound track as the movie plays it, from the export's start: the
// track's edits decide which media time sounds when, so a codec's priming
// that an edit skips is never heard and a track that starts later than the
// movie keeps its place.
struct MovieSoundSource {
  std::unique_ptr<movies::CTrackSoundStream> stream;
  SInt64 total = 0;   // sample frames to give
  SInt64 given = 0;
  SInt32 rate = 0;
  SInt16 channels = 0;
  SoundDescriptionHandle outputDesc = nullptr;
  std::vector<SInt16> buffer;
};

OSErr MovieVideoProperty(void* inRefCon, SInt32, OSType inProperty, void* ioValue) {
  auto* v = static_cast<MovieVideoSource*>(inRefCon);
  if (ioValue == nullptr) return paramErr;
  switch (inProperty) {
    case movieExportDuration: {
      auto* r = static_cast<TimeRecord*>(ioValue);
      r->value = SInt64ToWide(v->end - v->start);
      r->scale = v->scale;
      r->base = nullptr;
      return noErr;
    }
    case movieExportWidth:
      if (*static_cast<Fixed*>(ioValue) == 0) *static_cast<Fixed*>(ioValue) = Long2Fix(v->width);
      return noErr;
    case movieExportHeight:
      if (*static_cast<Fixed*>(ioValue) == 0) *static_cast<Fixed*>(ioValue) = Long2Fix(v->height);
      return noErr;
    default:
      return paramErr;
  }
}

OSErr MovieVideoData(void* inRefCon, MovieExportGetDataParams* p) {
  auto* v = static_cast<MovieVideoSource*>(inRefCon);
  const TimeValue t = v->start + p->requestedTime;
  if (t >= v->end) return eofErr;
  static const OSType kVisual = VisualMediaCharacteristic;
  TimeValue found = -1;
  GetMovieNextInterestingTime(v->movie, nextTimeStep, 1, &kVisual, t, fixed1, &found, nullptr);
  const TimeValue stop = (found < 0 || found > v->end) ? v->end : found;
  SetMovieTimeValue(v->movie, t);
  UpdateMovie(v->movie);
  MoviesTask(v->movie, 0);
  p->actualTime = p->requestedTime;
  p->dataPtr = reinterpret_cast<Ptr>(v->pixels.data());
  p->dataSize = static_cast<SInt32>(v->pixels.size());
  p->desc = reinterpret_cast<SampleDescriptionHandle>(v->desc);
  p->descType = VideoMediaType;
  p->descSeed = 1;
  p->actualSampleCount = 1;
  p->durationPerSample = std::max<TimeValue>(1, stop - t);
  p->sampleFlags = 0;
  return noErr;
}

OSErr MovieSoundProperty(void* inRefCon, SInt32, OSType inProperty, void* ioValue) {
  auto* s = static_cast<MovieSoundSource*>(inRefCon);
  if (ioValue == nullptr) return paramErr;
  if (inProperty == movieExportChannelMask) {
    *static_cast<UInt64*>(ioValue) = s->stream ? s->stream->ChannelMask() : 0;
    return noErr;
  }
  if (inProperty != movieExportDuration) return paramErr;
  auto* r = static_cast<TimeRecord*>(ioValue);
  r->value = SInt64ToWide(s->total);
  r->scale = s->rate;
  r->base = nullptr;
  return noErr;
}

OSErr MovieSoundData(void* inRefCon, MovieExportGetDataParams* p) {
  auto* s = static_cast<MovieSoundSource*>(inRefCon);
  const SInt64 frames = std::min<SInt64>(16384, s->total - s->given);
  p->actualTime = p->requestedTime;
  p->desc = reinterpret_cast<SampleDescriptionHandle>(s->outputDesc);
  p->descType = SoundMediaType;
  p->descSeed = 1;
  p->durationPerSample = 1;
  p->sampleFlags = 0;
  p->dataPtr = reinterpret_cast<Ptr>(s->buffer.data());
  p->dataSize = 0;
  p->actualSampleCount = 0;
  if (frames <= 0) return eofErr;
  s->buffer.resize(static_cast<size_t>(frames) * static_cast<size_t>(s->channels));
  try {
    s->stream->Read(s->buffer.data(), static_cast<size_t>(frames));
  } catch (...) {
    return OSErrOfCurrent(memFullErr, badFormat);
  }
  s->given += frames;
  p->dataPtr = reinterpret_cast<Ptr>(s->buffer.data());
  p->dataSize = static_cast<SInt32>(frames * s->channels * 2);
  p->actualSampleCount = static_cast<SInt32>(frames);
  return s->given >= s->total ? eofErr : noErr;
}

void DisposeVideoSource(MovieVideoSource* v) {
  if (v == nullptr) return;
  if (v->savedPort)
    SetMovieGWorld(v->movie, v->savedPort, v->savedDevice);
  else
    SetMovieDrawTarget(v->movie, v->savedTarget.baseAddr ? &v->savedTarget : nullptr);
  SetMovieBox(v->movie, &v->savedBox);
  DisposeHandle(reinterpret_cast<Handle>(v->desc));
  delete v;
}

void DisposeSoundSource(MovieSoundSource* s) {
  if (s == nullptr) return;
  DisposeHandle(reinterpret_cast<Handle>(s->outputDesc));
  delete s;
}

MovieVideoSource* NewVideoSource(Movie inMovie, TimeValue inStart, TimeValue inDuration) {
  auto v = std::make_unique<MovieVideoSource>();
  v->movie = inMovie;
  v->scale = GetMovieTimeScale(inMovie);
  v->start = std::max<TimeValue>(0, inStart);
  v->end = std::min<TimeValue>(GetMovieDuration(inMovie), v->start + std::max<TimeValue>(0, inDuration));
  Rect natural;
  GetMovieNaturalBoundsRect(inMovie, &natural);
  v->width = natural.right - natural.left;
  v->height = natural.bottom - natural.top;
  if (v->width <= 0 || v->height <= 0) Throw_(invalidRect);
  v->pixels.assign(static_cast<size_t>(v->width) * v->height * 4, 0);
  v->desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  ThrowIfNil_(v->desc);
  ImageDescription& d = **v->desc;
  d.idSize = sizeof(ImageDescription);
  d.cType = kRawCodecType;
  d.width = static_cast<SInt16>(v->width);
  d.height = static_cast<SInt16>(v->height);
  d.hRes = d.vRes = Long2Fix(72);
  d.dataSize = static_cast<SInt32>(v->pixels.size());
  d.frameCount = 1;
  d.depth = 32;
  d.clutID = -1;
  GetMovieGWorld(inMovie, &v->savedPort, &v->savedDevice);
  GetMovieDrawTarget(inMovie, &v->savedTarget);
  GetMovieBox(inMovie, &v->savedBox);
  Rect box{0, 0, static_cast<SInt16>(v->height), static_cast<SInt16>(v->width)};
  SetMovieBox(inMovie, &box);
  MovieDrawTarget target{v->pixels.data(), v->width * 4, box};
  SetMovieDrawTarget(inMovie, &target);
  return v.release();
}

// The sound of inTracks, mixed, from movie time inStart for inDuration, or
// up to the end of the longest when they all end sooner: at the highest rate
// and the most channels among them.
MovieSoundSource* NewSoundSource(Movie inMovie, const std::vector<Track>& inTracks, TimeValue inStart,
                                 TimeValue inDuration) {
  auto s = std::unique_ptr<MovieSoundSource, void (*)(MovieSoundSource*)>(new MovieSoundSource, DisposeSoundSource);
  {
    std::lock_guard<std::recursive_mutex> lock(movies::Lock());
    if (inTracks.empty()) Throw_(invalidTrack);
    std::vector<const movies::TrackObj*> tracks;
    SInt64 tracksEnd = 0;
    for (Track track : inTracks) {
      const movies::TrackObj& t = movies::GetTrack(track);
      if (!t.media || t.media->descs.empty() || t.media->descs[0].size() < sizeof(SoundDescription))
        Throw_(invalidTrack);
      SoundDescription src;
      std::memcpy(&src, t.media->descs[0].data(), sizeof src);
      if (src.numChannels <= 0 || src.numChannels > 16 || src.sampleRate == 0) Throw_(badFormat);
      s->rate = std::max<SInt32>(s->rate, static_cast<SInt32>(std::lround(src.sampleRate / 65536.0)));
      s->channels = std::max<SInt16>(s->channels, src.numChannels);
      tracksEnd = std::max<SInt64>(tracksEnd, movies::TrackDuration(t));
      tracks.push_back(&t);
    }
    if (s->rate <= 0) Throw_(badFormat);
    const TimeScale scale = GetMovieTimeScale(inMovie);
    if (scale <= 0) Throw_(badFormat);
    const SInt64 start = std::max<TimeValue>(0, inStart);
    const SInt64 rangeEnd = std::min<SInt64>(GetMovieDuration(inMovie), start + std::max<TimeValue>(0, inDuration));
    SInt64 end = std::min<SInt64>(rangeEnd, tracksEnd);
    // A range the tracks do not reach sounds silent all through.
    if (end <= start) end = rangeEnd;
    s->total = std::max<SInt64>(0, movies::ScaleTime(end - start, scale, s->rate));
    s->stream = std::make_unique<movies::CTrackSoundStream>(tracks, start, scale, s->rate, s->channels);
  }
  s->outputDesc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  ThrowIfNil_(s->outputDesc);
  SoundDescription& d = **s->outputDesc;
  d.descSize = sizeof(SoundDescription);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  d.dataFormat = 'sowt';
#else
  d.dataFormat = 'twos';
#endif
  d.version = 1;
  d.numChannels = s->channels;
  d.sampleSize = 16;
  d.sampleRate = static_cast<UnsignedFixed>(s->rate) << 16;
  return s.release();
}

Track FirstEnabledTrack(Movie inMovie, OSType inType) {
  return GetMovieIndTrackType(inMovie, 1, inType, movieTrackMediaType | movieTrackEnabledOnly);
}

}  // namespace

OSErr MovieExportNewGetDataAndPropertiesProcs(MovieExportComponent ci, OSType inTrackType, TimeScale* ioScale,
                                              Movie inMovie, Track inTrack, TimeValue inStartTime,
                                              TimeValue inDuration, MovieExportGetPropertyProcPtr* outPropertyProc,
                                              MovieExportGetDataProcPtr* outDataProc, void** outRefCon) {
  if (ci == nullptr || inMovie == nullptr || outPropertyProc == nullptr || outDataProc == nullptr ||
      outRefCon == nullptr)
    return paramErr;
  *outPropertyProc = nullptr;
  *outDataProc = nullptr;
  *outRefCon = nullptr;
  return Guarded([&] {
    if (inTrackType == VideoMediaType) {
      *outRefCon = NewVideoSource(inMovie, inStartTime, inDuration);
      *outPropertyProc = MovieVideoProperty;
      *outDataProc = MovieVideoData;
      if (ioScale) *ioScale = GetMovieTimeScale(inMovie);
    } else if (inTrackType == SoundMediaType) {
      // One track when asked for; otherwise the movie's sound as it plays:
      // every enabled sound track, mixed.
      std::vector<Track> tracks;
      if (inTrack) {
        tracks.push_back(inTrack);
      } else {
        for (SInt32 i = 1;; ++i) {
          Track t = GetMovieIndTrackType(inMovie, i, SoundMediaType, movieTrackMediaType | movieTrackEnabledOnly);
          if (t == nullptr) break;
          tracks.push_back(t);
        }
      }
      if (tracks.empty()) Throw_(invalidTrack);
      MovieSoundSource* s = NewSoundSource(inMovie, tracks, inStartTime, inDuration);
      *outRefCon = s;
      *outPropertyProc = MovieSoundProperty;
      *outDataProc = MovieSoundData;
      if (ioScale) *ioScale = s->rate;
    } else {
      Throw_(paramErr);
    }
  });
}

OSErr MovieExportDisposeGetDataAndPropertiesProcs(MovieExportComponent, MovieExportGetPropertyProcPtr,
                                                  MovieExportGetDataProcPtr inDataProc, void* inRefCon) {
  if (inRefCon == nullptr) return noErr;
  if (inDataProc == MovieVideoData) DisposeVideoSource(static_cast<MovieVideoSource*>(inRefCon));
  else if (inDataProc == MovieSoundData) DisposeSoundSource(static_cast<MovieSoundSource*>(inRefCon));
  else return paramErr;
  return noErr;
}

OSErr MovieExportToFile(MovieExportComponent ci, const FSSpec* inFile, Movie inMovie, Track inOnlyThisTrack,
                        TimeValue inStart, TimeValue inDuration) {
  if (ci == nullptr || inFile == nullptr || inMovie == nullptr) return paramErr;
  struct Made {
    MovieExportGetPropertyProcPtr property;
    MovieExportGetDataProcPtr data;
    void* refCon;
  };
  std::vector<Made> made;
  OSErr err = Guarded([&] {
    ci->sources.clear();
    auto use = [&](OSType inType) {
      Track t = inOnlyThisTrack ? inOnlyThisTrack : FirstEnabledTrack(inMovie, inType);
      if (t == nullptr) return;
      if (inOnlyThisTrack) {
        OSType type = 0;
        if (Media m = GetTrackMedia(t)) GetMediaHandlerDescription(m, &type, nullptr, nullptr);
        if (type != inType) return;
      }
      Made m{};
      TimeScale scale = 0;
      // Without a track of the caller's, the sound is all the movie's sound.
      Track asked = inOnlyThisTrack || inType != SoundMediaType ? t : nullptr;
      ThrowIfOSErr_(MovieExportNewGetDataAndPropertiesProcs(ci, inType, &scale, inMovie, asked, inStart, inDuration,
                                                            &m.property, &m.data, &m.refCon));
      made.push_back(m);
      ThrowIfOSErr_(MovieExportAddDataSource(ci, inType, scale, nullptr, m.property, m.data, m.refCon));
    };
    if (ci->info->hasVideo) use(VideoMediaType);
    use(SoundMediaType);
    if (ci->sources.empty()) Throw_(invalidTrack);
    RunExport(ci, FSSpecPath(*inFile));
  });
  ci->sources.clear();
  ci->nextTrackID = 1;
  for (const Made& m : made) MovieExportDisposeGetDataAndPropertiesProcs(ci, m.property, m.data, m.refCon);
  return err;
}
