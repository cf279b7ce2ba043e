// Samples, sample descriptions, data references and data handlers.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace movies {

static std::vector<UInt8> HandleBytes(Handle h) {
  if (!h || !IsValidHandle(h)) Throw_(nilHandleErr);
  SInt32 n = GetHandleSize(h);
  return std::vector<UInt8>(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + n);
}

DataRefEntry MakeDataRef(Handle dataRef, OSType type) {
  DataRefEntry e;
  e.type = type;
  e.ref = HandleBytes(dataRef);
  if (type == HandleDataHandlerSubType || type == PointerDataHandlerSubType) {
    // A zeroed reference shorter than a pointer (as 32-bit code makes it) names no block.
    Handle h = nullptr;
    if (e.ref.size() >= sizeof(Handle))
      std::memcpy(&h, e.ref.data(), sizeof(Handle));
    else if (std::any_of(e.ref.begin(), e.ref.end(), [](UInt8 b) { return b != 0; }))
      Throw_(invalidDataRef);
    e.ref.resize(sizeof(Handle));
    if (h == nullptr) {
      // A nil block: a fresh memory block of the toolbox's own.
      e.store = CDataStore::NewMemory(nullptr);
      Handle nh = e.store->GetHandle();
      std::memcpy(e.ref.data(), &nh, sizeof(Handle));
    } else {
      e.store = CDataStore::ForHandle(h);
    }
    e.type = HandleDataHandlerSubType;
  } else if (type == rAliasType && e.ref.size() >= sizeof(AliasRecord)) {
    // An alias record; a record that does not resolve leaves the data unresolved.
    FSSpec target;
    Boolean changed = false;
    if (ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(dataRef), &target, &changed) == noErr)
      e.store = CDataStore::ForFile(FSSpecPath(target));
    else
      e.store = CDataStore::Unresolved("");
  } else if (type == URLDataHandlerSubType) {
    std::string path(e.ref.begin(), e.ref.end());
    while (!path.empty() && path.back() == '\0') path.pop_back();
    if (path.rfind("file://", 0) == 0) path = path.substr(7);
    if (path.empty()) Throw_(invalidDataRef);
    e.store = CDataStore::ForFile(path);
  } else {
    Throw_(badComponentType);
  }
  return e;
}

DataRefEntry* DataRefForDesc(MediaObj& media, SInt32 descIndex) {
  if (descIndex < 1 || descIndex > static_cast<SInt32>(media.descs.size())) return nullptr;
  const auto& d = media.descs[static_cast<size_t>(descIndex - 1)];
  SampleDescription sd;
  std::memcpy(&sd, d.data(), sizeof sd);
  SInt32 i = sd.dataRefIndex;
  if (i < 1 || i > static_cast<SInt32>(media.dataRefs.size())) return nullptr;
  return &media.dataRefs[static_cast<size_t>(i - 1)];
}

OSErr ReadSampleBytes(const MediaObj& media, const SampleInfo& s, void* dest) {
  DataRefEntry* dr = DataRefForDesc(const_cast<MediaObj&>(media), s.descIndex);
  if (!dr) return badDataRefIndex;
  if (!dr->store) return couldNotResolveDataRef;
  return dr->store->Read(s.offset, dest, s.size);
}

OSErr CheckSampleBytes(const MediaObj& media, const SampleInfo& s) {
  DataRefEntry* dr = DataRefForDesc(const_cast<MediaObj&>(media), s.descIndex);
  if (!dr) return badDataRefIndex;
  if (!dr->store) return couldNotResolveDataRef;
  const SInt64 have = dr->store->GetSize();
  if (s.offset < 0 || s.offset > have || static_cast<SInt64>(s.size) > have - s.offset) return endOfDataReached;
  return noErr;
}

SInt64 SampleDataSize(const MediaObj& media, SInt32 descIndex) {
  DataRefEntry* dr = DataRefForDesc(const_cast<MediaObj&>(media), descIndex);
  return dr && dr->store ? dr->store->GetSize() : 0;
}

SInt32 FindOrAddDescription(MediaObj& media, const std::vector<UInt8>& desc) {
  for (size_t i = 0; i < media.descs.size(); ++i)
    if (media.descs[i] == desc) return static_cast<SInt32>(i + 1);
  media.descs.push_back(desc);
  return static_cast<SInt32>(media.descs.size());
}

}  // namespace movies

namespace {

std::vector<UInt8> DescriptionBytes(SampleDescriptionHandle h) {
  if (!h || !IsValidHandle(reinterpret_cast<Handle>(h))) Throw_(invalidSampleDescription);
  SInt32 n = GetHandleSize(reinterpret_cast<Handle>(h));
  if (n < static_cast<SInt32>(sizeof(SampleDescription))) Throw_(invalidSampleDescription);
  std::vector<UInt8> d(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + n);
  // The size field tells the description's length; the handle may hold more.
  SInt32 size = (**h).descSize;
  if (size >= static_cast<SInt32>(sizeof(SampleDescription)) && size < n) d.resize(static_cast<size_t>(size));
  else {
    SampleDescription sd;
    std::memcpy(&sd, d.data(), sizeof sd);
    sd.descSize = static_cast<SInt32>(d.size());
    std::memcpy(d.data(), &sd, sizeof sd);
  }
  return d;
}

SInt16 GetDescRefIndex(const std::vector<UInt8>& d) {
  SampleDescription sd;
  std::memcpy(&sd, d.data(), sizeof sd);
  return sd.dataRefIndex;
}

void SetDescRefIndex(std::vector<UInt8>& d, SInt16 index) {
  SampleDescription sd;
  std::memcpy(&sd, d.data(), sizeof sd);
  sd.dataRefIndex = index;
  std::memcpy(d.data(), &sd, sizeof sd);
}

// The index of the data reference that samples with this description go to:
// the description's own, else the media's default. A data reference that
// cannot take new bytes (a file) is replaced by one in memory, so a source
// file is never written to.
SInt16 WritableDataRef(MediaObj& m, SInt16 wanted) {
  if (wanted < 1 || wanted > static_cast<SInt16>(m.dataRefs.size())) wanted = m.defaultDataRef;
  if (wanted >= 1 && wanted <= static_cast<SInt16>(m.dataRefs.size())) {
    DataRefEntry& e = m.dataRefs[static_cast<size_t>(wanted - 1)];
    if (e.store && e.store->IsWritable()) return wanted;
  }
  for (size_t i = 0; i < m.dataRefs.size(); ++i)
    if (m.dataRefs[i].store && m.dataRefs[i].store->IsWritable() && m.dataRefs[i].type == HandleDataHandlerSubType)
      return static_cast<SInt16>(i + 1);
  DataRefEntry e;
  e.type = HandleDataHandlerSubType;
  e.store = CDataStore::NewMemory(nullptr);
  Handle h = e.store->GetHandle();
  e.ref.resize(sizeof(Handle));
  std::memcpy(e.ref.data(), &h, sizeof(Handle));
  m.dataRefs.push_back(e);
  return static_cast<SInt16>(m.dataRefs.size());
}

SInt32 PrepareDescription(MediaObj& m, SampleDescriptionHandle h, SInt16 refIndex) {
  std::vector<UInt8> d = DescriptionBytes(h);
  SetDescRefIndex(d, refIndex);
  return FindOrAddDescription(m, d);
}

SInt16 RefIndexFor(MediaObj& m, SampleDescriptionHandle h) {
  SInt16 i = (**h).dataRefIndex;
  if (i < 1 || i > static_cast<SInt16>(m.dataRefs.size())) i = m.defaultDataRef;
  if (i < 1 || i > static_cast<SInt16>(m.dataRefs.size())) Throw_(noDefaultDataRef);
  return i;
}

void CheckSampleArgs(SInt32 numberOfSamples, TimeValue duration) {
  if (numberOfSamples <= 0) Throw_(paramErr);
  if (duration < 0) Throw_(invalidDuration);
}

}  // namespace

OSErr AddMediaSample(Media theMedia, Handle dataIn, SInt32 inOffset, UInt32 size, TimeValue durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples, SInt16 sampleFlags,
                     TimeValue* sampleTime) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    ThrowIfNil_(dataIn);
    if (!IsValidHandle(dataIn)) Throw_(nilHandleErr);
    CheckSampleArgs(numberOfSamples, durationPerSample);
    if (inOffset < 0 || static_cast<SInt64>(inOffset) + size > GetHandleSize(dataIn)) Throw_(paramErr);
    if (size % static_cast<UInt32>(numberOfSamples) != 0) Throw_(paramErr);
    std::vector<UInt8> probe = DescriptionBytes(sampleDescriptionH);
    SInt16 ref = WritableDataRef(m, GetDescRefIndex(probe));
    SInt32 desc = PrepareDescription(m, sampleDescriptionH, ref);
    SInt64 offset = 0;
    ThrowIfOSErr_(m.dataRefs[static_cast<size_t>(ref - 1)].store->Append(*dataIn + inOffset, size, &offset));
    UInt32 each = size / static_cast<UInt32>(numberOfSamples);
    SInt64 t = m.samples.Append(offset, each, durationPerSample, numberOfSamples, desc,
                                (sampleFlags & mediaSampleNotSync) == 0, 0);
    if (sampleTime) *sampleTime = static_cast<TimeValue>(t);
    Touch(*m.track);
  });
}

static void AddReferences(MediaObj& m, SampleDescriptionHandle h, SInt64 offset, UInt32 size, TimeValue duration,
                          SInt32 count, SInt16 flags, SInt64& firstTime, bool& first) {
  CheckSampleArgs(count, duration);
  if (offset < 0) Throw_(paramErr);
  SInt16 ref = RefIndexFor(m, h);
  SInt32 desc = PrepareDescription(m, h, ref);
  SInt64 t = m.samples.Append(offset, size, duration, count, desc, (flags & mediaSampleNotSync) == 0, 0);
  if (first) {
    firstTime = t;
    first = false;
  }
}

OSErr AddMediaSampleReference(Media theMedia, SInt32 dataOffset, UInt32 size, TimeValue durationPerSample,
                              SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples,
                              SInt16 sampleFlags, TimeValue* sampleTime) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    // One reference covers numberOfSamples samples sharing `size` bytes.
    if (numberOfSamples <= 0 || size % static_cast<UInt32>(numberOfSamples) != 0) Throw_(paramErr);
    SInt64 t = 0;
    bool first = true;
    AddReferences(m, sampleDescriptionH, dataOffset, size / static_cast<UInt32>(numberOfSamples),
                  durationPerSample, numberOfSamples, sampleFlags, t, first);
    if (sampleTime) *sampleTime = static_cast<TimeValue>(t);
    Touch(*m.track);
  });
}

OSErr AddMediaSampleReferences(Media theMedia, SampleDescriptionHandle sampleDescriptionH, SInt32 numberOfSamples,
                               SampleReferencePtr sampleRefs, TimeValue* sampleTime) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (numberOfSamples <= 0 || !sampleRefs) Throw_(paramErr);
    SInt64 t = 0;
    bool first = true;
    for (SInt32 i = 0; i < numberOfSamples; ++i) {
      const SampleReferenceRecord& r = sampleRefs[i];
      AddReferences(m, sampleDescriptionH, r.dataOffset, r.dataSize, r.durationPerSample,
                    static_cast<SInt32>(r.numberOfSamples), r.sampleFlags, t, first);
    }
    if (sampleTime) *sampleTime = static_cast<TimeValue>(t);
    Touch(*m.track);
  });
}

OSErr AddMediaSampleReferences64(Media theMedia, SampleDescriptionHandle sampleDescriptionH,
                                 SInt32 numberOfSamples, SampleReference64Ptr sampleRefs, TimeValue* sampleTime) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (numberOfSamples <= 0 || !sampleRefs) Throw_(paramErr);
    SInt64 t = 0;
    bool first = true;
    for (SInt32 i = 0; i < numberOfSamples; ++i) {
      const SampleReference64Record& r = sampleRefs[i];
      AddReferences(m, sampleDescriptionH, WideToSInt64(r.dataOffset), r.dataSize, r.durationPerSample,
                    static_cast<SInt32>(r.numberOfSamples), r.sampleFlags, t, first);
    }
    if (sampleTime) *sampleTime = static_cast<TimeValue>(t);
    Touch(*m.track);
  });
}

OSErr SetMediaSampleDisplayOffset(Media theMedia, SInt32 sampleNum, TimeValue offset) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (!m.samples.SetCompositionOffset(static_cast<SInt64>(sampleNum) - 1, offset)) Throw_(invalidSampleNum);
    Touch(*m.track);
  });
}

OSErr BeginMediaEdits(Media theMedia) {
  return GuardedErr([&] { GetMedia(theMedia).editing = true; });
}

OSErr EndMediaEdits(Media theMedia) {
  return GuardedErr([&] { GetMedia(theMedia).editing = false; });
}

SInt32 GetMediaSampleCount(Media theMedia) {
  return Guarded<SInt32>(0, [&] {
    SInt64 n = GetMedia(theMedia).samples.Count();
    return static_cast<SInt32>(std::min<SInt64>(n, 0x7FFFFFFF));
  });
}

OSErr GetMediaDataSize64(Media theMedia, SInt64* dataSize) {
  return GuardedErr([&] {
    if (!dataSize) Throw_(paramErr);
    SInt64 total = 0;
    for (const SampleRun& run : GetMedia(theMedia).samples.Runs()) total += run.count * static_cast<SInt64>(run.size);
    *dataSize = total;
  });
}

SInt32 GetMediaSampleDescriptionCount(Media theMedia) {
  return Guarded<SInt32>(0, [&] { return static_cast<SInt32>(GetMedia(theMedia).descs.size()); });
}

void GetMediaSampleDescription(Media theMedia, SInt32 index, SampleDescriptionHandle descH) {
  GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (index < 1 || index > static_cast<SInt32>(m.descs.size())) Throw_(invalidSampleDescIndex);
    ThrowIfNil_(descH);
    const auto& d = m.descs[static_cast<size_t>(index - 1)];
    SetHandleSize(reinterpret_cast<Handle>(descH), static_cast<SInt32>(d.size()));
    ThrowIfOSErr_(MemError());
    std::memcpy(*descH, d.data(), d.size());
  });
}

OSErr SetMediaSampleDescription(Media theMedia, SInt32 index, SampleDescriptionHandle descH) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (index < 1 || index > static_cast<SInt32>(m.descs.size())) Throw_(invalidSampleDescIndex);
    std::vector<UInt8> d = DescriptionBytes(descH);
    // A description that names no valid data reference keeps the one in place.
    SInt16 ref = GetDescRefIndex(d);
    if (ref < 1 || ref > static_cast<SInt16>(m.dataRefs.size()))
      SetDescRefIndex(d, GetDescRefIndex(m.descs[static_cast<size_t>(index - 1)]));
    m.descs[static_cast<size_t>(index - 1)] = d;
    Touch(*m.track);
  });
}

OSErr GetMediaSample(Media theMedia, Handle dataOut, SInt32 maxSizeToGrow, SInt32* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     SInt32* sampleDescriptionIndex, SInt32 maxNumberOfSamples, SInt32* numberOfSamples,
                     SInt16* sampleFlags) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    SampleInfo s;
    if (!m.samples.FindByDecodeTime(time, s)) Throw_(invalidTime);
    // Gather following samples of the same description, as many as asked.
    // Bytes to be read must lie within their data before room is made for
    // them; gathered samples hold no more than it, however many the table lists.
    if (dataOut) ThrowIfOSErr_(CheckSampleBytes(m, s));
    SInt64 count = 1;
    SInt64 total = s.size;
    if (maxNumberOfSamples > 1) {
      const SInt64 have = dataOut ? SampleDataSize(m, s.descIndex) : INT64_MAX;
      SampleInfo n;
      while (count < maxNumberOfSamples && m.samples.At(s.number + count, n) && n.descIndex == s.descIndex &&
             n.duration == s.duration && n.size == s.size) {
        if (maxSizeToGrow > 0 && total + n.size > maxSizeToGrow) break;
        if (dataOut && (total + n.size > have || CheckSampleBytes(m, n) != noErr)) break;
        total += n.size;
        ++count;
      }
    }
    if (maxSizeToGrow > 0 && total > maxSizeToGrow) Throw_(maxSizeToGrowTooSmall);
    if (total > 0x7FFFFFFF) Throw_(memFullErr);
    if (dataOut) {
      if (!IsValidHandle(dataOut)) Throw_(nilHandleErr);
      SetHandleSize(dataOut, static_cast<SInt32>(total));
      ThrowIfOSErr_(MemError());
      SInt64 pos = 0;
      for (SInt64 k = 0; k < count; ++k) {
        SampleInfo n;
        m.samples.At(s.number + k, n);
        ThrowIfOSErr_(ReadSampleBytes(m, n, *dataOut + pos));
        pos += n.size;
      }
    }
    if (size) *size = static_cast<SInt32>(total);
    if (sampleTime) *sampleTime = static_cast<TimeValue>(s.decodeTime);
    if (durationPerSample) *durationPerSample = s.duration;
    if (sampleDescriptionH) {
      const auto& d = m.descs[static_cast<size_t>(s.descIndex - 1)];
      SetHandleSize(reinterpret_cast<Handle>(sampleDescriptionH), static_cast<SInt32>(d.size()));
      ThrowIfOSErr_(MemError());
      std::memcpy(*sampleDescriptionH, d.data(), d.size());
    }
    if (sampleDescriptionIndex) *sampleDescriptionIndex = s.descIndex;
    if (numberOfSamples) *numberOfSamples = static_cast<SInt32>(count);
    if (sampleFlags) *sampleFlags = s.sync ? 0 : mediaSampleNotSync;
  });
}

OSErr MediaTimeToSampleNum(Media theMedia, TimeValue time, SInt32* sampleNum, TimeValue* sampleTime,
                           TimeValue* sampleDuration) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    SampleInfo s;
    if (!m.samples.FindByDecodeTime(time, s)) Throw_(invalidTime);
    if (sampleNum) *sampleNum = static_cast<SInt32>(s.number + 1);
    if (sampleTime) *sampleTime = static_cast<TimeValue>(s.decodeTime);
    if (sampleDuration) *sampleDuration = s.duration;
  });
}

OSErr SampleNumToMediaTime(Media theMedia, SInt32 sampleNum, TimeValue* sampleTime, TimeValue* sampleDuration) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    SampleInfo s;
    if (!m.samples.At(static_cast<SInt64>(sampleNum) - 1, s)) Throw_(invalidSampleNum);
    if (sampleTime) *sampleTime = static_cast<TimeValue>(s.decodeTime);
    if (sampleDuration) *sampleDuration = s.duration;
  });
}

// --- data references -------------------------------------------------------------------

OSErr AddMediaDataRef(Media theMedia, SInt16* index, Handle dataRef, OSType dataRefType) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    ThrowIfNil_(dataRef);
    if (m.dataRefs.size() >= 0x7FFF) Throw_(paramErr);
    m.dataRefs.push_back(MakeDataRef(dataRef, dataRefType));
    if (index) *index = static_cast<SInt16>(m.dataRefs.size());
    Touch(*m.track);
  });
}

OSErr GetMediaDataRefCount(Media theMedia, SInt16* count) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (count) *count = static_cast<SInt16>(m.dataRefs.size());
  });
}

OSErr GetMediaDataRef(Media theMedia, SInt16 index, Handle* dataRef, OSType* dataRefType, SInt32* dataRefAttributes) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (index < 1 || index > static_cast<SInt16>(m.dataRefs.size())) Throw_(badDataRefIndex);
    const DataRefEntry& e = m.dataRefs[static_cast<size_t>(index - 1)];
    if (dataRef) {
      std::vector<UInt8> bytes = e.ref;
      if (e.self && e.store && e.store->GetKind() != CDataStore::kMemory) {
        const std::string& p = e.store->GetPath();
        bytes.assign(p.begin(), p.end());
      }
      Handle h = NewHandle(static_cast<SInt32>(bytes.size()));
      ThrowIfMemFail_(h);
      if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
      *dataRef = h;
    }
    if (dataRefType) *dataRefType = e.type;
    if (dataRefAttributes) *dataRefAttributes = e.self ? 1 : 0;
  });
}

OSErr SetMediaDefaultDataRefIndex(Media theMedia, SInt16 index) {
  return GuardedErr([&] {
    MediaObj& m = GetMedia(theMedia);
    if (index < 1 || index > static_cast<SInt16>(m.dataRefs.size())) Throw_(badDataRefIndex);
    m.defaultDataRef = index;
  });
}

Handle NewFileDataRef(const char* path) {
  if (!path) return nullptr;
  FSSpec spec;
  AliasHandle alias = nullptr;
  if (FSMakeFSSpecFromPath(path, &spec) != noErr || NewAlias(nullptr, &spec, &alias) != noErr) return nullptr;
  return reinterpret_cast<Handle>(alias);
}

OSErr SetMovieDefaultDataRef(Movie theMovie, Handle dataRef, OSType dataRefType) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    ThrowIfNil_(dataRef);
    m.defaultDataRef = MakeDataRef(dataRef, dataRefType);
    m.hasDefaultDataRef = true;
  });
}

OSErr GetMovieDefaultDataRef(Movie theMovie, Handle* dataRef, OSType* dataRefType) {
  return GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (!m.hasDefaultDataRef) Throw_(noDefaultDataRef);
    if (dataRef) {
      std::vector<UInt8> bytes = m.defaultDataRef.ref;
      if (m.defaultDataRef.store && m.defaultDataRef.store->GetKind() == CDataStore::kFile) {
        const std::string& p = m.defaultDataRef.store->GetPath();
        bytes.assign(p.begin(), p.end());
      }
      Handle h = NewHandle(static_cast<SInt32>(bytes.size()));
      ThrowIfMemFail_(h);
      if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
      *dataRef = h;
    }
    if (dataRefType) *dataRefType = m.defaultDataRef.type;
  });
}

// --- data handlers -----------------------------------------------------------------------

namespace {
struct DataHandlerObj {
  UInt64 id = 0;
  std::shared_ptr<CDataStore> store;
  bool openForWrite = false;
};

DataHandlerObj& GetDH(DataHandler dh) {
  auto p = std::static_pointer_cast<DataHandlerObj>(Lookup(FromHandle(dh), Kind::kDataHandler));
  if (!p) Throw_(invalidHandler);
  return *p;
}

// Data handlers live until closed.
std::vector<std::shared_ptr<DataHandlerObj>>& OpenHandlers() {
  static auto* v = new std::vector<std::shared_ptr<DataHandlerObj>>;
  return *v;
}
}  // namespace

DataHandler GetMediaDataHandler(Media theMedia, SInt16 index) {
  return Guarded<DataHandler>(nullptr, [&] {
    MediaObj& m = GetMedia(theMedia);
    if (index < 1 || index > static_cast<SInt16>(m.dataRefs.size())) Throw_(badDataRefIndex);
    auto dh = std::make_shared<DataHandlerObj>();
    dh->id = NewId();
    dh->store = m.dataRefs[static_cast<size_t>(index - 1)].store;
    if (!dh->store) Throw_(couldNotResolveDataRef);
    OpenHandlers().push_back(dh);
    Register(dh->id, Kind::kDataHandler, dh, false);
    return ToHandle<DataHandler>(dh->id);
  });
}

OSErr DataHOpenForWrite(DataHandler dh) {
  return GuardedErr([&] {
    DataHandlerObj& d = GetDH(dh);
    if (!d.store->IsWritable()) Throw_(dataNotOpenForWrite);
    d.openForWrite = true;
  });
}

OSErr DataHCloseForWrite(DataHandler dh) {
  return GuardedErr([&] { GetDH(dh).openForWrite = false; });
}

OSErr DataHAppend64(DataHandler dh, void* data, wide* fileOffset, UInt32 size) {
  return GuardedErr([&] {
    DataHandlerObj& d = GetDH(dh);
    if (!data && size) Throw_(paramErr);
    SInt64 off = 0;
    ThrowIfOSErr_(d.store->Append(data, size, &off));
    if (fileOffset) *fileOffset = SInt64ToWide(off);
  });
}

OSErr DataHPutData(DataHandler dh, Handle h, SInt32 hOffset, SInt32* offset, SInt32 size) {
  return GuardedErr([&] {
    DataHandlerObj& d = GetDH(dh);
    if (!h || !IsValidHandle(h) || hOffset < 0 || size < 0 ||
        static_cast<SInt64>(hOffset) + size > GetHandleSize(h) || !offset)
      Throw_(paramErr);
    if (*offset == -1) {
      SInt64 off = 0;
      ThrowIfOSErr_(d.store->Append(*h + hOffset, static_cast<UInt32>(size), &off));
      *offset = static_cast<SInt32>(off);
    } else {
      ThrowIfOSErr_(d.store->Write(*offset, *h + hOffset, static_cast<UInt32>(size)));
    }
  });
}

OSErr DataHGetFileSize64(DataHandler dh, wide* fileSize) {
  return GuardedErr([&] {
    DataHandlerObj& d = GetDH(dh);
    if (fileSize) *fileSize = SInt64ToWide(d.store->GetSize());
  });
}

OSErr CloseComponent(DataHandler dh) {
  return GuardedErr([&] {
    UInt64 id = FromHandle(dh);
    if (Lookup(id, Kind::kCompressor)) {
      // A standard image compression instance (ImageCompression.h).
      Unregister(id);
      return;
    }
    GetDH(dh);
    Unregister(id);
    auto& v = OpenHandlers();
    v.erase(std::remove_if(v.begin(), v.end(), [&](auto& p) { return p->id == id; }), v.end());
  });
}

// --- image description extensions ----------------------------------------------------------

namespace {
// Walks the extension atoms after the fixed fields; calls f(type, offset of payload, payload size).
template <class F>
void WalkExtensions(ImageDescriptionHandle desc, F f) {
  if (!desc || !IsValidHandle(reinterpret_cast<Handle>(desc))) Throw_(paramErr);
  SInt32 n = GetHandleSize(reinterpret_cast<Handle>(desc));
  if (n < static_cast<SInt32>(sizeof(ImageDescription))) Throw_(badImageDescription);
  SInt32 end = std::min(n, std::max<SInt32>((**desc).idSize, static_cast<SInt32>(sizeof(ImageDescription))));
  const UInt8* p = reinterpret_cast<const UInt8*>(*desc);
  SInt32 pos = sizeof(ImageDescription);
  while (pos + 8 <= end) {
    UInt32 size = (UInt32(p[pos]) << 24) | (UInt32(p[pos + 1]) << 16) | (UInt32(p[pos + 2]) << 8) | p[pos + 3];
    OSType type = (UInt32(p[pos + 4]) << 24) | (UInt32(p[pos + 5]) << 16) | (UInt32(p[pos + 6]) << 8) | p[pos + 7];
    if (size < 8 || size > static_cast<UInt32>(end - pos)) break;
    if (f(type, pos + 8, static_cast<SInt32>(size - 8))) return;
    pos += static_cast<SInt32>(size);
  }
}
}  // namespace

