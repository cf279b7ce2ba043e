#include "platform/movies/MovieFileFormat.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieStreamFacts.h"

namespace movies {

// Data references the toolbox makes from bytes (MovieSamples.cpp).
DataRefEntry MakeDataRef(Handle dataRef, OSType type);

namespace {

// --- byte order of in-memory sample descriptions -----------------------------------

void Swap16At(std::vector<UInt8>& d, size_t off) {
  if (off + 2 > d.size()) return;
  std::swap(d[off], d[off + 1]);
}
void Swap32At(std::vector<UInt8>& d, size_t off) {
  if (off + 4 > d.size()) return;
  std::swap(d[off], d[off + 3]);
  std::swap(d[off + 1], d[off + 2]);
}

// Swaps the fixed fields of a description between file (big-endian) and host
// order. Swapping is its own inverse; `toHost` tells which order the version
// field is in now.
void SwapDescription(OSType mediaType, std::vector<UInt8>& d, bool toHost) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (d.size() < 16) return;
  for (size_t o : {0, 4, 8}) Swap32At(d, o);
  for (size_t o : {12, 14}) Swap16At(d, o);
  if (mediaType == 'vide' && d.size() >= sizeof(ImageDescription)) {
    for (size_t o : {20, 24, 28, 36, 40, 44}) Swap32At(d, o);
    for (size_t o : {16, 18, 32, 34, 48, 82, 84}) Swap16At(d, o);
  } else if (mediaType == 'soun' && d.size() >= sizeof(SoundDescription)) {
    SInt16 version = toHost ? static_cast<SInt16>((d[16] << 8) | d[17]) : static_cast<SInt16>(d[16] | (d[17] << 8));
    for (size_t o : {20, 32}) Swap32At(d, o);
    for (size_t o : {16, 18, 24, 26, 28, 30}) Swap16At(d, o);
    if (version == 1 && d.size() >= 52)
      for (size_t o : {36, 40, 44, 48}) Swap32At(d, o);
  }
#else
  (void)mediaType, (void)d, (void)toHost;
#endif
}

// --- writing ---------------------------------------------------------------------

class CAtomWriter {
 public:
  size_t Begin(OSType type) {
    size_t at = mBytes.size();
    U32(0);
    U32(type);
    return at;
  }
  void End(size_t at) { WriteBE32(&mBytes[at], static_cast<UInt32>(mBytes.size() - at)); }
  void U8(UInt8 v) { mBytes.push_back(v); }
  void U16(UInt16 v) {
    UInt8 b[2];
    WriteBE16(b, v);
    Bytes(b, 2);
  }
  void U32(UInt32 v) {
    UInt8 b[4];
    WriteBE32(b, v);
    Bytes(b, 4);
  }
  void U64(UInt64 v) {
    UInt8 b[8];
    WriteBE64(b, v);
    Bytes(b, 8);
  }
  void Zeros(size_t n) { mBytes.insert(mBytes.end(), n, 0); }
  void Bytes(const void* p, size_t n) {
    const UInt8* b = static_cast<const UInt8*>(p);
    mBytes.insert(mBytes.end(), b, b + n);
  }
  void Matrix(const MatrixRecord& m) {
    for (auto& row : m.matrix)
      for (Fixed v : row) U32(static_cast<UInt32>(v));
  }
  void FullHeader(UInt8 version, UInt32 flags) { U32((static_cast<UInt32>(version) << 24) | (flags & 0xFFFFFF)); }
  std::vector<UInt8>& Data() { return mBytes; }

 private:
  std::vector<UInt8> mBytes;
};

bool Fits32(SInt64 v) { return v >= 0 && v <= 0xFFFFFFFFLL; }

void WriteUserData(CAtomWriter& w, const UserDataObj& ud) {
  if (ud.items.empty()) return;
  size_t a = w.Begin('udta');
  for (const UserDataItem& it : ud.items) {
    size_t b = w.Begin(it.type);
    w.Bytes(it.data.data(), it.data.size());
    w.End(b);
  }
  w.End(a);
}

void WriteRaw(CAtomWriter& w, const std::vector<std::vector<UInt8>>& atoms) {
  for (auto& a : atoms) w.Bytes(a.data(), a.size());
}

void WriteDataRefs(CAtomWriter& w, const MediaObj& m) {
  size_t dinf = w.Begin('dinf');
  size_t dref = w.Begin('dref');
  w.FullHeader(0, 0);
  w.U32(static_cast<UInt32>(m.dataRefs.size()));
  for (const DataRefEntry& e : m.dataRefs) {
    size_t a = w.Begin(e.type);
    w.FullHeader(0, e.self ? 1 : 0);
    if (!e.self) w.Bytes(e.ref.data(), e.ref.size());
    w.End(a);
  }
  w.End(dref);
  w.End(dinf);
}

void WriteSampleTable(CAtomWriter& w, const MediaObj& m) {
  const auto& runs = m.samples.Runs();
  size_t stbl = w.Begin('stbl');
  // Descriptions, big-endian.
  size_t stsd = w.Begin('stsd');
  w.FullHeader(0, 0);
  w.U32(static_cast<UInt32>(m.descs.size()));
  for (const auto& d : m.descs) {
    std::vector<UInt8> b = d;
    SwapDescription(m.type, b, false);
    WriteBE32(b.data(), static_cast<UInt32>(b.size()));
    w.Bytes(b.data(), b.size());
  }
  w.End(stsd);
  // Time to sample.
  std::vector<std::pair<UInt32, UInt32>> stts;
  for (const SampleRun& r : runs) {
    SInt64 left = r.count;
    while (left > 0) {
      UInt32 n = static_cast<UInt32>(std::min<SInt64>(left, 0xFFFFFFFFLL));
      if (!stts.empty() && stts.back().second == static_cast<UInt32>(r.duration) &&
          stts.back().first <= 0xFFFFFFFFu - n)
        stts.back().first += n;
      else
        stts.emplace_back(n, static_cast<UInt32>(r.duration));
      left -= n;
    }
  }
  size_t a = w.Begin('stts');
  w.FullHeader(0, 0);
  w.U32(static_cast<UInt32>(stts.size()));
  for (auto& e : stts) w.U32(e.first), w.U32(e.second);
  w.End(a);
  // Composition offsets.
  if (m.samples.HasCompositionOffsets()) {
    std::vector<std::pair<UInt32, SInt32>> ctts;
    for (const SampleRun& r : runs) {
      if (!ctts.empty() && ctts.back().second == r.compOffset)
        ctts.back().first += static_cast<UInt32>(r.count);
      else
        ctts.emplace_back(static_cast<UInt32>(r.count), r.compOffset);
    }
    a = w.Begin('ctts');
    w.FullHeader(0, 0);
    w.U32(static_cast<UInt32>(ctts.size()));
    for (auto& e : ctts) w.U32(e.first), w.U32(static_cast<UInt32>(e.second));
    w.End(a);
  }
  // Sync samples, when not all are.
  bool allSync = std::all_of(runs.begin(), runs.end(), [](const SampleRun& r) { return r.sync; });
  if (!allSync) {
    std::vector<UInt32> sync;
    for (const SampleRun& r : runs)
      if (r.sync)
        for (SInt64 k = 0; k < r.count; ++k) sync.push_back(static_cast<UInt32>(r.first + k + 1));
    a = w.Begin('stss');
    w.FullHeader(0, 0);
    w.U32(static_cast<UInt32>(sync.size()));
    for (UInt32 s : sync) w.U32(s);
    w.End(a);
  }
  // Chunks: one per run.
  a = w.Begin('stsc');
  w.FullHeader(0, 0);
  std::vector<UInt32> stsc;
  UInt32 lastCount = 0, lastDesc = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    UInt32 count = static_cast<UInt32>(runs[i].count);
    UInt32 desc = static_cast<UInt32>(runs[i].descIndex);
    if (i == 0 || count != lastCount || desc != lastDesc) {
      stsc.push_back(static_cast<UInt32>(i + 1));
      stsc.push_back(count);
      stsc.push_back(desc);
    }
    lastCount = count;
    lastDesc = desc;
  }
  w.U32(static_cast<UInt32>(stsc.size() / 3));
  for (UInt32 v : stsc) w.U32(v);
  w.End(a);
  // Sizes.
  bool uniform = !runs.empty() && std::all_of(runs.begin(), runs.end(), [&](const SampleRun& r) {
    return r.size == runs[0].size;
  });
  a = w.Begin('stsz');
  w.FullHeader(0, 0);
  w.U32(uniform ? runs[0].size : 0);
  w.U32(static_cast<UInt32>(m.samples.Count()));
  if (!uniform)
    for (const SampleRun& r : runs)
      for (SInt64 k = 0; k < r.count; ++k) w.U32(r.size);
  w.End(a);
  // Chunk offsets.
  bool small = std::all_of(runs.begin(), runs.end(), [](const SampleRun& r) { return Fits32(r.offset); });
  a = w.Begin(small ? 'stco' : 'co64');
  w.FullHeader(0, 0);
  w.U32(static_cast<UInt32>(runs.size()));
  for (const SampleRun& r : runs) small ? w.U32(static_cast<UInt32>(r.offset)) : w.U64(static_cast<UInt64>(r.offset));
  w.End(a);
  WriteRaw(w, m.unknownStbl);
  w.End(stbl);
}

void WriteMediaHeaderAtom(CAtomWriter& w, const MediaObj& m) {
  if (!m.mediaHeader.empty()) {
    w.Bytes(m.mediaHeader.data(), m.mediaHeader.size());
    return;
  }
  if (m.type == 'vide') {
    size_t a = w.Begin('vmhd');
    w.FullHeader(0, 1);
    w.U16(static_cast<UInt16>(m.graphicsMode));
    w.U16(m.opColor.red), w.U16(m.opColor.green), w.U16(m.opColor.blue);
    w.End(a);
  } else if (m.type == 'soun') {
    size_t a = w.Begin('smhd');
    w.FullHeader(0, 0);
    w.U32(0);
    w.End(a);
  } else {
    size_t g = w.Begin('gmhd');
    size_t a = w.Begin('gmin');
    w.FullHeader(0, 0);
    w.U16(static_cast<UInt16>(m.graphicsMode));
    w.U16(m.opColor.red), w.U16(m.opColor.green), w.U16(m.opColor.blue);
    w.U32(0);
    w.End(a);
    w.End(g);
  }
}

void WriteHandler(CAtomWriter& w, OSType componentType, OSType subtype, const std::string& name) {
  size_t a = w.Begin('hdlr');
  w.FullHeader(0, 0);
  w.U32(componentType);
  w.U32(subtype);
  w.U32(0), w.U32(0), w.U32(0);
  size_t n = std::min<size_t>(name.size(), 255);
  w.U8(static_cast<UInt8>(n));
  w.Bytes(name.data(), n);
  w.End(a);
}

void WriteMedia(CAtomWriter& w, const MediaObj& m) {
  size_t mdia = w.Begin('mdia');
  SInt64 dur = m.samples.Duration();
  bool v1 = !Fits32(dur);
  size_t a = w.Begin('mdhd');
  w.FullHeader(v1 ? 1 : 0, 0);
  if (v1) {
    w.U64(m.creationTime), w.U64(m.modificationTime), w.U32(static_cast<UInt32>(m.scale)), w.U64(static_cast<UInt64>(dur));
  } else {
    w.U32(m.creationTime), w.U32(m.modificationTime), w.U32(static_cast<UInt32>(m.scale)), w.U32(static_cast<UInt32>(dur));
  }
  w.U16(static_cast<UInt16>(m.language));
  w.U16(static_cast<UInt16>(m.quality));
  w.End(a);
  WriteHandler(w, 'mhlr', m.type, m.handlerName);
  size_t minf = w.Begin('minf');
  WriteMediaHeaderAtom(w, m);
  WriteHandler(w, 'dhlr', 'alis', "");
  WriteDataRefs(w, m);
  WriteSampleTable(w, m);
  WriteRaw(w, m.unknownMinf);
  w.End(minf);
  WriteUserData(w, *m.userData);
  WriteRaw(w, m.unknownMdia);
  w.End(mdia);
}

void WriteTrack(CAtomWriter& w, const MovieObj& movie, const TrackObj& t) {
  size_t trak = w.Begin('trak');
  SInt64 dur = TrackDuration(t);
  bool v1 = !Fits32(dur);
  size_t a = w.Begin('tkhd');
  UInt32 flags = (t.enabled ? 1 : 0) | 2 | (t.inPreview ? 4 : 0) | (t.inPoster ? 8 : 0);
  w.FullHeader(v1 ? 1 : 0, flags);
  if (v1) {
    w.U64(t.creationTime), w.U64(movie.modificationTime), w.U32(static_cast<UInt32>(t.trackID)), w.U32(0),
        w.U64(static_cast<UInt64>(dur));
  } else {
    w.U32(t.creationTime), w.U32(movie.modificationTime), w.U32(static_cast<UInt32>(t.trackID)), w.U32(0),
        w.U32(static_cast<UInt32>(dur));
  }
  w.Zeros(8);
  w.U16(static_cast<UInt16>(t.layer));
  w.U16(static_cast<UInt16>(t.altGroup));
  w.U16(static_cast<UInt16>(t.volume));
  w.U16(0);
  w.Matrix(t.matrix);
  w.U32(static_cast<UInt32>(t.width));
  w.U32(static_cast<UInt32>(t.height));
  w.End(a);
  if (t.hasAperture) {
    size_t tapt = w.Begin('tapt');
    const OSType kinds[3] = {'clef', 'prof', 'enof'};
    for (int k = 0; k < 3; ++k) {
      size_t b = w.Begin(kinds[k]);
      w.FullHeader(0, 0);
      w.U32(static_cast<UInt32>(t.apertureDims[k][0]));
      w.U32(static_cast<UInt32>(t.apertureDims[k][1]));
      w.End(b);
    }
    w.End(tapt);
  }
  if (!t.edits.empty()) {
    bool e1 = std::any_of(t.edits.begin(), t.edits.end(),
                          [](const Edit& e) { return !Fits32(e.duration) || e.mediaTime > 0x7FFFFFFF; });
    size_t edts = w.Begin('edts');
    size_t elst = w.Begin('elst');
    w.FullHeader(e1 ? 1 : 0, 0);
    w.U32(static_cast<UInt32>(t.edits.size()));
    for (const Edit& e : t.edits) {
      if (e1) {
        w.U64(static_cast<UInt64>(e.duration));
        w.U64(static_cast<UInt64>(e.mediaTime));
      } else {
        w.U32(static_cast<UInt32>(e.duration));
        w.U32(static_cast<UInt32>(static_cast<SInt32>(e.mediaTime)));
      }
      w.U32(static_cast<UInt32>(e.rate));
    }
    w.End(elst);
    w.End(edts);
  }
  if (!t.references.empty()) {
    size_t tref = w.Begin('tref');
    for (auto& [type, ids] : t.references) {
      size_t b = w.Begin(type);
      for (SInt32 id : ids) w.U32(static_cast<UInt32>(id));
      w.End(b);
    }
    w.End(tref);
  }
  if (t.media) WriteMedia(w, *t.media);
  WriteUserData(w, *t.userData);
  WriteRaw(w, t.unknownTrak);
  w.End(trak);
}

// --- reading ---------------------------------------------------------------------

[[noreturn]] void Bad() { Throw_(badPublicMovieAtom); }

// A handler's name as either kind of file stores it: QuickTime movies as a
// counted (Pascal) string, MPEG-4 files as a string ended by a zero byte.
// A count that matches what follows (the rest, or the rest up to zero
// padding) is a counted string; anything else is text up to its zero.
std::string HandlerName(const UInt8* inBytes, size_t inSize) {
  if (inSize == 0) return std::string();
  const size_t count = inBytes[0];
  if (count + 1 <= inSize) {
    bool padding = true;
    for (size_t i = count + 1; i < inSize && padding; ++i) padding = inBytes[i] == 0;
    const bool printable = count == 0 || inBytes[1] != 0;
    if (padding && printable) return std::string(reinterpret_cast<const char*>(inBytes + 1), count);
  }
  size_t n = 0;
  while (n < inSize && inBytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(inBytes), n);
}

class CCursor {
 public:
  CCursor(const UInt8* p, size_t n) : mP(p), mN(n) {}
  size_t Left() const { return mN - mPos; }
  const UInt8* Here() const { return mP + mPos; }
  void Need(size_t n) const {
    if (n > Left()) Bad();
  }
  UInt8 U8() {
    Need(1);
    return mP[mPos++];
  }
  UInt16 U16() {
    Need(2);
    UInt16 v = ReadBE16(mP + mPos);
    mPos += 2;
    return v;
  }
  UInt32 U32() {
    Need(4);
    UInt32 v = ReadBE32(mP + mPos);
    mPos += 4;
    return v;
  }
  UInt64 U64() {
    Need(8);
    UInt64 v = ReadBE64(mP + mPos);
    mPos += 8;
    return v;
  }
  void Skip(size_t n) {
    Need(n);
    mPos += n;
  }
  MatrixRecord Matrix() {
    MatrixRecord m;
    for (auto& row : m.matrix)
      for (Fixed& v : row) v = static_cast<Fixed>(U32());
    return m;
  }

 private:
  const UInt8* mP;
  size_t mN;
  size_t mPos = 0;
};

struct AtomRef {
  OSType type;
  const UInt8* whole;
  size_t wholeSize;
  const UInt8* payload;
  size_t size;
};

// The child atoms of a container's payload. A trailing 32-bit zero (the end
// marker some writers put in user data) ends the list.
std::vector<AtomRef> Children(const UInt8* p, size_t n) {
  std::vector<AtomRef> out;
  size_t pos = 0;
  while (pos < n) {
    if (n - pos < 8) {
      if (n - pos == 4 && ReadBE32(p + pos) == 0) break;
      Bad();
    }
    UInt64 size = ReadBE32(p + pos);
    OSType type = ReadBE32(p + pos + 4);
    size_t header = 8;
    if (size == 1) {
      if (n - pos < 16) Bad();
      size = ReadBE64(p + pos + 8);
      header = 16;
    } else if (size == 0) {
      size = n - pos;
    }
    if (size < header || size > n - pos) Bad();
    out.push_back(AtomRef{type, p + pos, static_cast<size_t>(size), p + pos + header, static_cast<size_t>(size) - header});
    pos += static_cast<size_t>(size);
  }
  return out;
}

std::vector<UInt8> Raw(const AtomRef& a) { return std::vector<UInt8>(a.whole, a.whole + a.wholeSize); }

void ReadUserData(const AtomRef& a, UserDataObj& ud) {
  for (const AtomRef& c : Children(a.payload, a.size))
    ud.items.push_back(UserDataItem{c.type, std::vector<UInt8>(c.payload, c.payload + c.size)});
}

std::string DirOf(const std::string& path) {
  size_t s = path.rfind('/');
  return s == std::string::npos ? std::string(".") : path.substr(0, s);
}

DataRefEntry ReadDataRef(const AtomRef& a, const std::string& filePath) {
  CCursor c(a.payload, a.size);
  UInt32 vf = c.U32();
  DataRefEntry e;
  e.type = a.type;
  e.ref.assign(c.Here(), c.Here() + c.Left());
  if (vf & 1) {
    // The movie's own file.
    e.self = true;
    e.ref.clear();
    e.type = rAliasType;
    if (!filePath.empty()) e.store = CDataStore::ForFile(filePath);
    return e;
  }
  if (a.type == HandleDataHandlerSubType) {
    // Memory media carried by value.
    if (e.ref.size() > 0x7FFFFFFF) Bad();
    Handle h = NewHandle(static_cast<SInt32>(e.ref.size()));
    if (!h) Throw_(memFullErr);
    if (!e.ref.empty()) std::memcpy(*h, e.ref.data(), e.ref.size());
    e.store = CDataStore::NewMemory(h);
    e.ref.resize(sizeof(Handle));
    std::memcpy(e.ref.data(), &h, sizeof(Handle));
    return e;
  }
  if (a.type == URLDataHandlerSubType) {
    std::string path(e.ref.begin(), e.ref.end());
    path = path.substr(0, path.find('\0'));
    if (path.rfind("file://", 0) == 0) path = path.substr(7);
    if (!path.empty() && path[0] != '/' && !filePath.empty()) path = DirOf(filePath) + "/" + path;
    e.store = path.empty() ? CDataStore::Unresolved(path) : CDataStore::ForFile(path);
    return e;
  }
  if (a.type == rAliasType) {
    Handle h = NewHandle(static_cast<SInt32>(std::min<size_t>(e.ref.size(), 0x7FFFFFFF)));
    if (!h) Throw_(memFullErr);
    if (!e.ref.empty()) std::memcpy(*h, e.ref.data(), GetHandleSize(h));
    try {
      DataRefEntry r = MakeDataRef(h, rAliasType);
      e.store = r.store;
    } catch (const LException&) {
      e.store = CDataStore::Unresolved("");
    }
    DisposeHandle(h);
    return e;
  }
  e.store = CDataStore::Unresolved("");
  return e;
}

struct TableAtoms {
  const AtomRef* stsd = nullptr;
  const AtomRef* stts = nullptr;
  const AtomRef* ctts = nullptr;
  const AtomRef* stss = nullptr;
  const AtomRef* stsc = nullptr;
  const AtomRef* stsz = nullptr;
  const AtomRef* stco = nullptr;
  bool co64 = false;
};

// A run-length table read from a full atom: count entries of `width` bytes.
CCursor EntryTable(const AtomRef& a, size_t width, UInt32& count) {
  CCursor c(a.payload, a.size);
  c.U32();  // version and flags
  count = c.U32();
  if (width && static_cast<UInt64>(count) * width > c.Left()) Throw_(invalidSampleTable);
  return c;
}

// MPEG-4 files put 2 in a sound entry's channel field whatever the sound
// holds; the real count is in the codec's own configuration: the AAC audio
// specific config of 'esds' (possibly inside 'wave') and AC-3's 'dac3'.
// Answers 0 when the entry says nothing more.
SInt16 ConfiguredChannels(const UInt8* inAtoms, size_t inSize, int inDepth = 0) {
  if (inDepth > 3) return 0;
  size_t pos = 0;
  while (pos + 8 <= inSize) {
    const UInt32 size = ReadBE32(inAtoms + pos);
    const OSType type = ReadBE32(inAtoms + pos + 4);
    if (size < 8 || size > inSize - pos) return 0;
    const UInt8* payload = inAtoms + pos + 8;
    const size_t n = size - 8;
    if (type == 'wave') {
      if (SInt16 c = ConfiguredChannels(payload, n, inDepth + 1)) return c;
    } else if (type == 'dac3' && n >= 3) {
      static const SInt16 kByMode[8] = {2, 1, 2, 3, 3, 4, 4, 5};
      const UInt32 bits = (UInt32{payload[0]} << 16) | (UInt32{payload[1]} << 8) | payload[2];
      const UInt32 acmod = (bits >> 11) & 7, lfe = (bits >> 10) & 1;
      return static_cast<SInt16>(kByMode[acmod] + lfe);
    } else if (type == 'esds' && n > 4) {
      // Descriptors: ES (3) holds decoder config (4), which holds the
      // decoder specific info (5): the audio specific config.
      size_t at = 4;
      auto length = [&](size_t& ioAt) -> size_t {
        size_t len = 0;
        for (int i = 0; i < 4 && ioAt < n; ++i) {
          const UInt8 b = payload[ioAt++];
          len = (len << 7) | (b & 0x7F);
          if ((b & 0x80) == 0) break;
        }
        return len;
      };
      UInt8 objectType = 0;
      while (at < n) {
        const UInt8 tag = payload[at++];
        const size_t len = length(at);
        if (tag == 3) {
          if (at + 3 > n) return 0;
          const UInt8 flags = payload[at + 2];
          at += 3;
          if (flags & 0x80) at += 2;
          if (flags & 0x40) at += 1 + (at < n ? payload[at] : 0);
          if (flags & 0x20) at += 2;
        } else if (tag == 4) {
          if (at + 13 > n) return 0;
          objectType = payload[at];
          at += 13;
        } else if (tag == 5) {
          if (objectType != 0x40 || len < 2 || at + 2 > n) return 0;
          // 5 bits object type (31: 6 more), 4 bits rate index (15: 24
          // bits of rate), 4 bits channel configuration.
          UInt64 bitsAll = 0;
          for (size_t i = 0; i < 8; ++i) bitsAll = (bitsAll << 8) | (at + i < n && i < len ? payload[at + i] : 0);
          int used = 5;
          if ((bitsAll >> 59) == 31) used += 6;
          const UInt32 rateIndex = static_cast<UInt32>((bitsAll >> (60 - used)) & 0xF);
          used += 4;
          if (rateIndex == 15) used += 24;
          const UInt32 config = static_cast<UInt32>((bitsAll >> (60 - used)) & 0xF);
          if (config >= 1 && config <= 6) return static_cast<SInt16>(config);
          if (config == 7) return 8;
          return 0;
        } else {
          at += len;
        }
      }
    }
    pos += size;
  }
  return 0;
}

void CorrectSoundChannels(std::vector<UInt8>& ioDesc) {
  if (ioDesc.size() < sizeof(SoundDescription)) return;
  SoundDescription sd;
  std::memcpy(&sd, ioDesc.data(), sizeof sd);
  if (sd.dataFormat != 'mp4a' && sd.dataFormat != 'ac-3') return;
  const size_t fixed = sd.version == 1 ? 52 : sd.version == 0 ? sizeof(SoundDescription) : 0;
  if (fixed == 0 || ioDesc.size() <= fixed) return;
  const SInt16 channels = ConfiguredChannels(ioDesc.data() + fixed, ioDesc.size() - fixed);
  if (channels <= 0 || channels == sd.numChannels) return;
  sd.numChannels = channels;
  std::memcpy(ioDesc.data(), &sd, sizeof sd);
}

void ReadSampleTable(const TableAtoms& ta, MediaObj& m) {
  if (!ta.stsd) Throw_(invalidSampleTable);
  // Descriptions.
  {
    UInt32 n = 0;
    CCursor c = EntryTable(*ta.stsd, 16, n);
    for (UInt32 i = 0; i < n; ++i) {
      c.Need(16);
      UInt32 size = ReadBE32(c.Here());
      if (size < 16 || size > c.Left()) Throw_(invalidSampleDescription);
      std::vector<UInt8> d(c.Here(), c.Here() + size);
      c.Skip(size);
      SwapDescription(m.type, d, true);
      if (m.type == SoundMediaType) CorrectSoundChannels(d);
      m.descs.push_back(std::move(d));
    }
  }
  if (!ta.stts || !ta.stsc || !ta.stsz || !ta.stco) {
    if (ta.stsz || ta.stco) Throw_(invalidSampleTable);
    return;  // a media without samples
  }
  UInt32 nStts = 0, nCtts = 0, nStss = 0, nStsc = 0, nChunks = 0;
  CCursor stts = EntryTable(*ta.stts, 8, nStts);
  CCursor ctts = ta.ctts ? EntryTable(*ta.ctts, 8, nCtts) : CCursor(nullptr, 0);
  CCursor stss = ta.stss ? EntryTable(*ta.stss, 4, nStss) : CCursor(nullptr, 0);
  CCursor stsc = EntryTable(*ta.stsc, 12, nStsc);
  CCursor stco = EntryTable(*ta.stco, ta.co64 ? 8 : 4, nChunks);
  CCursor stsz(ta.stsz->payload, ta.stsz->size);
  stsz.U32();
  UInt32 uniform = stsz.U32();
  UInt32 total = stsz.U32();
  if (uniform == 0 && static_cast<UInt64>(total) * 4 > stsz.Left()) Throw_(invalidSampleTable);
  if (total > 0x7FFFFFFFu) Throw_(invalidSampleTable);

  // The chunk-to-sample runs.
  struct ChunkRun {
    UInt32 first, perChunk, desc;
  };
  std::vector<ChunkRun> runs;
  for (UInt32 i = 0; i < nStsc; ++i) {
    ChunkRun r{stsc.U32(), stsc.U32(), stsc.U32()};
    if (r.first < 1 || (!runs.empty() && r.first <= runs.back().first) || r.perChunk == 0 || r.desc < 1 ||
        r.desc > m.descs.size())
      Throw_(invalidSampleTable);
    runs.push_back(r);
  }
  if (runs.empty() && total > 0) Throw_(invalidSampleTable);

  // Walks the tables together; each step appends samples that agree in every field.
  UInt32 sttsLeft = 0, sttsDur = 0, cttsLeft = 0;
  SInt32 cttsOff = 0;
  UInt32 nextSync = ta.stss && nStss ? stss.U32() : 0;
  UInt32 syncRead = ta.stss ? 1 : 0;
  size_t runIdx = 0;
  SInt64 n = 0;  // samples done
  for (UInt32 chunk = 1; chunk <= nChunks && n < total; ++chunk) {
    SInt64 offset = ta.co64 ? static_cast<SInt64>(stco.U64()) : stco.U32();
    if (offset < 0) Throw_(invalidSampleTable);
    while (runIdx + 1 < runs.size() && runs[runIdx + 1].first <= chunk) ++runIdx;
    if (runs.empty() || runs[runIdx].first > chunk) Throw_(invalidSampleTable);
    SInt64 inChunk = std::min<SInt64>(runs[runIdx].perChunk, total - n);
    SInt32 desc = static_cast<SInt32>(runs[runIdx].desc);
    while (inChunk > 0) {
      if (sttsLeft == 0) {
        if (nStts-- == 0) Throw_(invalidSampleTable);
        sttsLeft = stts.U32();
        sttsDur = stts.U32();
        if (sttsDur > 0x7FFFFFFF) Throw_(invalidSampleTable);
        continue;
      }
      if (ta.ctts && cttsLeft == 0) {
        if (nCtts-- == 0) {
          cttsLeft = 0xFFFFFFFF;
          cttsOff = 0;
        } else {
          cttsLeft = ctts.U32();
          cttsOff = static_cast<SInt32>(ctts.U32());
        }
        continue;
      }
      SInt64 step = std::min<SInt64>(inChunk, sttsLeft);
      if (ta.ctts) step = std::min<SInt64>(step, cttsLeft);
      bool sync = true;
      if (ta.stss) {
        // Sync numbers ascend; skip any that lie behind.
        while (nextSync != 0 && nextSync <= n && syncRead < nStss) {
          nextSync = stss.U32();
          ++syncRead;
        }
        if (nextSync == n + 1) {
          sync = true;
          step = 1;
        } else {
          sync = false;
          if (nextSync > n + 1) step = std::min<SInt64>(step, nextSync - 1 - n);
        }
      }
      UInt32 size = uniform;
      if (uniform == 0) {
        step = 1;
        size = stsz.U32();
      }
      m.samples.Append(offset, size, static_cast<SInt32>(sttsDur), step, desc, sync, ta.ctts ? cttsOff : 0);
      offset += step * static_cast<SInt64>(size);
      n += step;
      inChunk -= step;
      sttsLeft -= static_cast<UInt32>(step);
      if (ta.ctts) cttsLeft -= static_cast<UInt32>(step);
    }
  }
  if (n != total) Throw_(invalidSampleTable);
}

// The first bytes of the first sample of description k (1-based); empty
// when there is none or its data cannot be read.
std::vector<UInt8> FirstSampleBytes(const MediaObj& m, SInt32 k, UInt32 inMost) {
  std::vector<UInt8> bytes;
  for (const SampleRun& r : m.samples.Runs()) {
    if (r.descIndex != k || r.count <= 0 || r.size == 0) continue;
    SampleDescription sd;
    std::memcpy(&sd, m.descs[static_cast<size_t>(k - 1)].data(), sizeof sd);
    if (sd.dataRefIndex < 1 || sd.dataRefIndex > static_cast<SInt32>(m.dataRefs.size())) break;
    const DataRefEntry& e = m.dataRefs[static_cast<size_t>(sd.dataRefIndex - 1)];
    if (!e.store) break;
    bytes.resize(std::min(r.size, inMost));
    if (e.store->Read(r.offset, bytes.data(), static_cast<UInt32>(bytes.size())) != noErr) bytes.clear();
    break;
  }
  return bytes;
}

// The object type of the 'esds' of a sound entry (0x40 AAC, 0x69 and 0x6B
// MPEG audio); 0 when it has none.
UInt8 EsdsObjectType(const std::vector<UInt8>& inDesc) {
  static const UInt8 kEsds[4] = {'e', 's', 'd', 's'};
  auto at = std::search(inDesc.begin() + sizeof(SoundDescription), inDesc.end(), kEsds, kEsds + 4);
  if (at == inDesc.end()) return 0;
  size_t p = static_cast<size_t>(at - inDesc.begin()) + 4 + 4;  // the type, version and flags
  auto skipLength = [&] {
    for (int i = 0; i < 4 && p < inDesc.size(); ++i)
      if ((inDesc[p++] & 0x80) == 0) break;
  };
  if (p >= inDesc.size() || inDesc[p++] != 3) return 0;
  skipLength();
  if (p + 3 > inDesc.size()) return 0;
  const UInt8 flags = inDesc[p + 2];
  p += 3;
  if (flags & 0x80) p += 2;
  if ((flags & 0x40) && p < inDesc.size()) p += 1 + inDesc[p];
  if (flags & 0x20) p += 2;
  if (p >= inDesc.size() || inDesc[p++] != 4) return 0;
  skipLength();
  return p < inDesc.size() ? inDesc[p] : 0;
}

// What the file's descriptions leave out, taken from the streams: the
// codec's name and the pixel format of pictures, the channel count of MPEG
// audio in MPEG-4 entries (which always claim two).
void CompleteDescriptions(MediaObj& m) {
  for (size_t i = 0; i < m.descs.size(); ++i) {
    std::vector<UInt8>& d = m.descs[i];
    const SInt32 k = static_cast<SInt32>(i + 1);
    if (m.type == VideoMediaType && d.size() >= sizeof(ImageDescription)) {
      ImageDescription id;
      std::memcpy(&id, d.data(), sizeof id);
      if (id.cType == 'raw ' || id.cType == 0) continue;  // its depth says what it holds
      std::vector<UInt8> first;
      if (id.cType == 'jpeg' || id.cType == 'mjpa' || id.cType == 'mp4v') first = FirstSampleBytes(m, k, 8192);
      CompleteImageDescription(d, StatedPixelFormat(d, first.empty() ? nullptr : first.data(), first.size()));
    } else if (m.type == SoundMediaType && d.size() >= sizeof(SoundDescription)) {
      SoundDescription sd;
      std::memcpy(&sd, d.data(), sizeof sd);
      const UInt8 object = sd.dataFormat == 'mp4a' ? EsdsObjectType(d) : 0;
      const bool mpegAudio = sd.dataFormat == '.mp3' || sd.dataFormat == '.mp2' || sd.dataFormat == '.mp1' ||
                             object == 0x69 || object == 0x6B;
      if (!mpegAudio || sd.version > 1) continue;
      const std::vector<UInt8> first = FirstSampleBytes(m, k, 4);
      const SInt16 channels = first.size() == 4 ? MpegAudioFrameChannels(first.data(), 4) : 0;
      if (channels > 0 && channels != sd.numChannels) {
        sd.numChannels = channels;
        std::memcpy(d.data(), &sd, sizeof sd);
      }
    }
  }
}

void ReadMedia(const AtomRef& mdia, MediaObj& m, const std::string& filePath) {
  bool sawHeader = false;
  for (const AtomRef& a : Children(mdia.payload, mdia.size)) {
    switch (a.type) {
      case 'mdhd': {
        CCursor c(a.payload, a.size);
        UInt8 v = c.U8();
        c.Skip(3);
        if (v == 1) {
          m.creationTime = static_cast<UInt32>(c.U64());
          m.modificationTime = static_cast<UInt32>(c.U64());
          m.scale = static_cast<TimeScale>(c.U32());
          c.U64();
        } else {
          m.creationTime = c.U32();
          m.modificationTime = c.U32();
          m.scale = static_cast<TimeScale>(c.U32());
          c.U32();
        }
        m.language = static_cast<SInt16>(c.U16());
        m.quality = static_cast<SInt16>(c.U16());
        // A media without a time scale has no timing at all. It is refused
        // as it is, not handed to another reader that would guess one (one
        // tick a second: a second of video became hours).
        if (m.scale <= 0) Throw_(invalidMedia);
        sawHeader = true;
        break;
      }
      case 'hdlr': {
        CCursor c(a.payload, a.size);
        c.U32();
        c.U32();
        m.type = c.U32();
        c.Skip(12);
        m.handlerName = HandlerName(c.Here(), c.Left());
        break;
      }
      case 'minf': {
        TableAtoms ta;
        std::vector<AtomRef> minf = Children(a.payload, a.size);
        std::vector<AtomRef> stblKids;
        for (const AtomRef& b : minf) {
          if (b.type == 'vmhd' || b.type == 'gmhd' || b.type == 'smhd' || b.type == 'nmhd') {
            m.mediaHeader = Raw(b);
            const UInt8* p = b.payload;
            size_t n = b.size;
            if (b.type == 'gmhd')
              for (const AtomRef& g : Children(b.payload, b.size))
                if (g.type == 'gmin') p = g.payload, n = g.size;
            if ((b.type == 'vmhd' || b.type == 'gmhd') && n >= 12) {
              m.graphicsMode = ReadBE16(p + 4);
              m.opColor = {ReadBE16(p + 6), ReadBE16(p + 8), ReadBE16(p + 10)};
            }
          } else if (b.type == 'hdlr') {
            // The data handler: always ours.
          } else if (b.type == 'dinf') {
            for (const AtomRef& d : Children(b.payload, b.size)) {
              if (d.type != 'dref') continue;
              CCursor c(d.payload, d.size);
              c.U32();
              UInt32 count = c.U32();
              std::vector<AtomRef> entries = Children(c.Here(), c.Left());
              if (count > entries.size()) Throw_(invalidDataRef);
              for (UInt32 i = 0; i < count; ++i) m.dataRefs.push_back(ReadDataRef(entries[i], filePath));
            }
          } else if (b.type == 'stbl') {
            stblKids = Children(b.payload, b.size);
          } else {
            m.unknownMinf.push_back(Raw(b));
          }
        }
        for (const AtomRef& s : stblKids) {
          switch (s.type) {
            case 'stsd': ta.stsd = &s; break;
            case 'stts': ta.stts = &s; break;
            case 'ctts': ta.ctts = &s; break;
            case 'stss': ta.stss = &s; break;
            case 'stsc': ta.stsc = &s; break;
            case 'stsz': ta.stsz = &s; break;
            case 'stco': ta.stco = &s; break;
            case 'co64': ta.stco = &s; ta.co64 = true; break;
            default: m.unknownStbl.push_back(Raw(s));
          }
        }
        ReadSampleTable(ta, m);
        break;
      }
      case 'udta':
        ReadUserData(a, *m.userData);
        break;
      default:
        m.unknownMdia.push_back(Raw(a));
    }
  }
  if (!sawHeader) Bad();
  // Descriptions must name existing data references.
  for (const auto& d : m.descs) {
    SampleDescription sd;
    std::memcpy(&sd, d.data(), sizeof sd);
    if (m.samples.Count() > 0 && (sd.dataRefIndex < 1 || sd.dataRefIndex > static_cast<SInt32>(m.dataRefs.size())))
      Throw_(badDataRefIndex);
  }
  CompleteDescriptions(m);
}

void ReadTrack(const AtomRef& trak, MovieObj& movie, TrackObj& t, const std::string& filePath) {
  bool sawHeader = false;
  for (const AtomRef& a : Children(trak.payload, trak.size)) {
    switch (a.type) {
      case 'tkhd': {
        CCursor c(a.payload, a.size);
        UInt8 v = c.U8();
        UInt32 flags = (static_cast<UInt32>(c.U8()) << 16) | c.U16();
        t.enabled = (flags & 1) != 0;
        t.inPreview = (flags & 4) != 0;
        t.inPoster = (flags & 8) != 0;
        if (v == 1) {
          t.creationTime = static_cast<UInt32>(c.U64());
          c.U64();
          t.trackID = static_cast<SInt32>(c.U32());
          c.U32();
          c.U64();
        } else {
          t.creationTime = c.U32();
          c.U32();
          t.trackID = static_cast<SInt32>(c.U32());
          c.U32();
          c.U32();
        }
        c.Skip(8);
        t.layer = static_cast<SInt16>(c.U16());
        t.altGroup = static_cast<SInt16>(c.U16());
        t.volume = static_cast<SInt16>(c.U16());
        c.U16();
        t.matrix = c.Matrix();
        t.width = static_cast<Fixed>(c.U32());
        t.height = static_cast<Fixed>(c.U32());
        if (t.width < 0 || t.height < 0 || t.trackID <= 0) Bad();
        sawHeader = true;
        break;
      }
      case 'tapt':
        for (const AtomRef& b : Children(a.payload, a.size)) {
          int k = b.type == 'clef' ? 0 : b.type == 'prof' ? 1 : b.type == 'enof' ? 2 : -1;
          if (k < 0) continue;
          CCursor c(b.payload, b.size);
          c.U32();
          t.apertureDims[k][0] = static_cast<Fixed>(c.U32());
          t.apertureDims[k][1] = static_cast<Fixed>(c.U32());
          t.hasAperture = true;
        }
        break;
      case 'edts':
        for (const AtomRef& b : Children(a.payload, a.size)) {
          if (b.type != 'elst') continue;
          CCursor c(b.payload, b.size);
          UInt8 v = c.U8();
          c.Skip(3);
          UInt32 count = c.U32();
          size_t width = v == 1 ? 20 : 12;
          if (static_cast<UInt64>(count) * width > c.Left()) Throw_(badEditList);
          for (UInt32 i = 0; i < count; ++i) {
            Edit e;
            if (v == 1) {
              e.duration = static_cast<SInt64>(c.U64());
              e.mediaTime = static_cast<SInt64>(c.U64());
            } else {
              e.duration = c.U32();
              e.mediaTime = static_cast<SInt32>(c.U32());
            }
            e.rate = static_cast<Fixed>(c.U32());
            if (e.duration < 0 || e.duration > (1LL << 48) || e.mediaTime < -1) Throw_(badEditList);
            if (e.rate <= 0) e.rate = fixed1;
            t.edits.push_back(e);
          }
        }
        break;
      case 'tref':
        for (const AtomRef& b : Children(a.payload, a.size)) {
          auto& list = t.references[b.type];
          for (size_t i = 0; i + 4 <= b.size; i += 4) list.push_back(static_cast<SInt32>(ReadBE32(b.payload + i)));
        }
        break;
      case 'mdia': {
        auto m = NewMediaObj(t, 0, movie.scale);
        ReadMedia(a, *m, filePath);
        t.media = m;
        break;
      }
      case 'udta':
        ReadUserData(a, *t.userData);
        break;
      default:
        t.unknownTrak.push_back(Raw(a));
    }
  }
  if (!sawHeader) Bad();
  // A file without an edit list shows the whole media from the start.
  if (t.edits.empty() && t.media && t.media->samples.Duration() > 0)
    t.edits.push_back(Edit{ScaleTime(t.media->samples.Duration(), t.media->scale, movie.scale), 0, fixed1});
  NormalizeEdits(t.edits);
}

}  // namespace

// --- planning a write -------------------------------------------------------------

WritePlan PlanMovieWrite(const MovieObj& src, WriteMode mode, CDataSink* sink, const std::string& targetPath,
                         const std::function<bool(double)>& progress) {
  WritePlan plan;
  auto out = std::make_shared<MovieObj>(src);
  out->tracks.clear();
  out->userData = std::make_shared<UserDataObj>(*src.userData);
  // Bytes to copy, for the progress report.
  SInt64 totalBytes = 0, doneBytes = 0;
  auto mustCopy = [&](const DataRefEntry& e) {
    if (mode == WriteMode::kHandle) return false;
    if (mode == WriteMode::kFlatten) return true;
    if (!e.store) return false;
    if (e.store->GetKind() == CDataStore::kMemory) return true;
    if (e.store->GetKind() == CDataStore::kFile)
      return !e.store->PathStillMatches() || e.store->SameFileAs(targetPath) || e.store->GetPath() == targetPath;
    return false;
  };
  for (auto& t : src.tracks)
    if (t->media)
      for (const SampleRun& r : t->media->samples.Runs()) {
        const DataRefEntry* dr = DataRefForDesc(*t->media, r.descIndex);
        if (dr && mustCopy(*dr)) totalBytes += r.count * static_cast<SInt64>(r.size);
      }
  std::vector<UInt8> buffer;
  for (auto& t : src.tracks) {
    auto nt = std::make_shared<TrackObj>(*t);
    nt->movie = out.get();
    nt->userData = std::make_shared<UserDataObj>(*t->userData);
    nt->decode.reset();
    if (t->media) {
      const MediaObj& sm = *t->media;
      auto nm = std::make_shared<MediaObj>(sm);
      nm->track = nt.get();
      nm->userData = std::make_shared<UserDataObj>(*sm.userData);
      nm->samples.Clear();
      nm->dataRefs.clear();
      nm->descs.clear();
      // New data references: kept ones in order, then the new file itself.
      std::vector<SInt16> refMap(sm.dataRefs.size() + 1, 0);
      SInt16 selfIndex = 0;
      for (size_t i = 0; i < sm.dataRefs.size(); ++i) {
        const DataRefEntry& e = sm.dataRefs[i];
        if (mustCopy(e)) continue;
        DataRefEntry k = e;
        if (mode == WriteMode::kHandle && e.store && e.store->GetKind() == CDataStore::kMemory) {
          // By value: the entry carries the bytes.
          k.type = HandleDataHandlerSubType;
          SInt64 n = e.store->GetSize();
          k.ref.resize(static_cast<size_t>(n));
          if (n) ThrowIfOSErr_(e.store->Read(0, k.ref.data(), static_cast<UInt32>(n)));
          k.self = false;
        } else if (e.self && (!e.store || e.store->GetKind() != CDataStore::kFile)) {
          // The own file of a movie that has none: written, it would name the
          // new file's bytes, so it stays an unresolved reference instead.
          k.type = URLDataHandlerSubType;
          k.ref.assign(1, 0);
          k.self = false;
        } else if (e.store && e.store->GetKind() == CDataStore::kFile && (e.self || e.type != rAliasType)) {
          // A reference to a file by its path.
          k.type = URLDataHandlerSubType;
          std::string url = "file://" + e.store->GetPath();
          k.ref.assign(url.begin(), url.end());
          k.ref.push_back(0);
          k.self = false;
        }
        nm->dataRefs.push_back(k);
        refMap[i + 1] = static_cast<SInt16>(nm->dataRefs.size());
      }
      for (size_t i = 0; i < sm.dataRefs.size(); ++i)
        if (mustCopy(sm.dataRefs[i])) {
          if (!selfIndex) {
            DataRefEntry self;
            self.type = rAliasType;
            self.self = true;
            nm->dataRefs.push_back(self);
            selfIndex = static_cast<SInt16>(nm->dataRefs.size());
          }
          refMap[i + 1] = selfIndex;
        }
      // Descriptions keep their indices; their data reference index is remapped.
      for (const auto& d : sm.descs) {
        std::vector<UInt8> nd = d;
        SampleDescription sd;
        std::memcpy(&sd, nd.data(), sizeof sd);
        SInt32 old = sd.dataRefIndex;
        sd.dataRefIndex = (old >= 1 && old < static_cast<SInt32>(refMap.size())) ? refMap[static_cast<size_t>(old)] : 0;
        std::memcpy(nd.data(), &sd, sizeof sd);
        nm->descs.push_back(nd);
      }
      for (const SampleRun& r : sm.samples.Runs()) {
        const DataRefEntry* dr = DataRefForDesc(const_cast<MediaObj&>(sm), r.descIndex);
        if (dr && mustCopy(*dr)) {
          if (!sink) Throw_(paramErr);
          if (!dr->store) Throw_(couldNotResolveDataRef);
          SInt64 bytes = r.count * static_cast<SInt64>(r.size);
          SInt64 at = sink->Position();
          SInt64 done = 0;
          while (done < bytes) {
            size_t n = static_cast<size_t>(std::min<SInt64>(bytes - done, 1 << 20));
            buffer.resize(n);
            ThrowIfOSErr_(dr->store->Read(r.offset + done, buffer.data(), static_cast<UInt32>(n)));
            sink->Write(buffer.data(), n);
            done += static_cast<SInt64>(n);
            doneBytes += static_cast<SInt64>(n);
            if (progress && totalBytes > 0 && !progress(static_cast<double>(doneBytes) / totalBytes))
              Throw_(userCanceledErr);
          }
          nm->samples.Append(at, r.size, r.duration, r.count, r.descIndex, r.sync, r.compOffset);
        } else {
          nm->samples.Append(r.offset, r.size, r.duration, r.count, r.descIndex, r.sync, r.compOffset);
        }
      }
      plan.bytesCopied = doneBytes;
      nt->media = nm;
    }
    out->tracks.push_back(nt);
  }
  plan.movie = out;
  return plan;
}

std::vector<UInt8> SerializeMovie(const MovieObj& planned) {
  CAtomWriter w;
  size_t moov = w.Begin('moov');
  SInt64 dur = MovieDuration(planned);
  bool v1 = !Fits32(dur);
  size_t a = w.Begin('mvhd');
  w.FullHeader(v1 ? 1 : 0, 0);
  if (v1) {
    w.U64(planned.creationTime), w.U64(planned.modificationTime), w.U32(static_cast<UInt32>(planned.scale)), w.U64(static_cast<UInt64>(dur));
  } else {
    w.U32(planned.creationTime), w.U32(planned.modificationTime), w.U32(static_cast<UInt32>(planned.scale)), w.U32(static_cast<UInt32>(dur));
  }
  w.U32(static_cast<UInt32>(planned.preferredRate));
  w.U16(static_cast<UInt16>(planned.preferredVolume));
  w.Zeros(10);
  w.Matrix(planned.matrix);
  w.U32(static_cast<UInt32>(planned.previewTime));
  w.U32(static_cast<UInt32>(planned.previewDuration));
  w.U32(static_cast<UInt32>(planned.posterTime));
  w.U32(static_cast<UInt32>(planned.selStart));
  w.U32(static_cast<UInt32>(planned.selDuration));
  w.U32(static_cast<UInt32>(planned.time));
  SInt32 next = planned.nextTrackID;
  for (auto& t : planned.tracks) next = std::max(next, t->trackID + 1);
  w.U32(static_cast<UInt32>(next));
  w.End(a);
  for (auto& t : planned.tracks) WriteTrack(w, planned, *t);
  WriteUserData(w, *planned.userData);
  WriteRaw(w, planned.unknownMoov);
  w.End(moov);
  return std::move(w.Data());
}

std::vector<UInt8> FileTypeAtom() {
  CAtomWriter w;
  size_t a = w.Begin('ftyp');
  w.U32('qt  ');
  w.U32(0x20050300);
  w.U32('qt  ');
  w.End(a);
  return std::move(w.Data());
}

std::shared_ptr<MovieObj> ParseMovie(const UInt8* data, size_t size, const std::string& filePath) {
  std::vector<AtomRef> top = Children(data, size);
  if (top.size() != 1 || top[0].type != 'moov') Throw_(noMovieFound);
  auto movie = NewMovieObj();
  bool sawHeader = false;
  for (const AtomRef& a : Children(top[0].payload, top[0].size)) {
    switch (a.type) {
      case 'mvhd': {
        CCursor c(a.payload, a.size);
        UInt8 v = c.U8();
        c.Skip(3);
        if (v == 1) {
          movie->creationTime = static_cast<UInt32>(c.U64());
          movie->modificationTime = static_cast<UInt32>(c.U64());
          movie->scale = static_cast<TimeScale>(c.U32());
          c.U64();
        } else {
          movie->creationTime = c.U32();
          movie->modificationTime = c.U32();
          movie->scale = static_cast<TimeScale>(c.U32());
          c.U32();
        }
        if (movie->scale <= 0) Bad();
        movie->preferredRate = static_cast<Fixed>(c.U32());
        movie->preferredVolume = static_cast<SInt16>(c.U16());
        c.Skip(10);
        movie->matrix = c.Matrix();
        movie->previewTime = c.U32();
        movie->previewDuration = c.U32();
        movie->posterTime = c.U32();
        movie->selStart = c.U32();
        movie->selDuration = c.U32();
        movie->time = c.U32();
        movie->nextTrackID = static_cast<SInt32>(std::min<UInt32>(c.U32(), 0x7FFFFFF0));
        sawHeader = true;
        break;
      }
      case 'trak': {
        if (!sawHeader) Bad();
        auto t = std::make_shared<TrackObj>();
        t->id = NewId();
        t->movie = movie.get();
        t->userData = NewUserDataObj();
        SetIdentityMatrix(&t->matrix);
        t->stamp = NextStamp();
        ReadTrack(a, *movie, *t, filePath);
        for (auto& o : movie->tracks)
          if (o->trackID == t->trackID) Bad();
        movie->tracks.push_back(t);
        break;
      }
      case 'udta':
        ReadUserData(a, *movie->userData);
        break;
      default:
        movie->unknownMoov.push_back(Raw(a));
    }
  }
  if (!sawHeader) Bad();
  for (auto& t : movie->tracks) movie->nextTrackID = std::max(movie->nextTrackID, t->trackID + 1);
  SInt64 d = MovieDuration(*movie);
  movie->time = std::clamp<SInt64>(movie->time, 0, d);
  movie->changed = false;
  return movie;
}

OSErr FindMovieAtom(int fd, SInt64 offset, SInt64* outOffset, SInt64* outSize) {
  SInt64 pos = offset;
  for (int guard = 0; guard < 100000; ++guard) {
    UInt8 h[16];
    ssize_t n = pread(fd, h, 16, pos);
    if (n < 8) return noMovieFound;
    UInt64 size = ReadBE32(h);
    OSType type = ReadBE32(h + 4);
    if (size == 1) {
      if (n < 16) return noMovieFound;
      size = ReadBE64(h + 8);
    } else if (size == 0) {
      off_t end = lseek(fd, 0, SEEK_END);
      size = static_cast<UInt64>(end - pos);
    }
    if (size < 8 || size > (1ULL << 62)) return badPublicMovieAtom;
    if (type == 'moov') {
      *outOffset = pos;
      *outSize = static_cast<SInt64>(size);
      return noErr;
    }
    pos += static_cast<SInt64>(size);
  }
  return noMovieFound;
}

}  // namespace movies
