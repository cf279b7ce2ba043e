#include "platform/movies/MovieFFImport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/FFDemuxer.h"
#include "platform/movies/MovieModel.h"
#include "platform/movies/MovieStreamFacts.h"

using namespace movies;

namespace {

void PutBE32(std::vector<UInt8>& io, UInt32 inValue) {
  UInt8 b[4];
  WriteBE32(b, inValue);
  io.insert(io.end(), b, b + 4);
}

void AppendAtom(std::vector<UInt8>& io, OSType inType, const std::vector<UInt8>& inPayload) {
  PutBE32(io, static_cast<UInt32>(inPayload.size() + 8));
  PutBE32(io, inType);
  io.insert(io.end(), inPayload.begin(), inPayload.end());
}

// An MPEG-4 descriptor: tag, four-byte length, body.
void AppendDescriptor(std::vector<UInt8>& io, UInt8 inTag, const std::vector<UInt8>& inBody) {
  io.push_back(inTag);
  const UInt32 n = static_cast<UInt32>(inBody.size());
  io.push_back(static_cast<UInt8>(0x80 | ((n >> 21) & 0x7F)));
  io.push_back(static_cast<UInt8>(0x80 | ((n >> 14) & 0x7F)));
  io.push_back(static_cast<UInt8>(0x80 | ((n >> 7) & 0x7F)));
  io.push_back(static_cast<UInt8>(n & 0x7F));
  io.insert(io.end(), inBody.begin(), inBody.end());
}

// The payload of an 'esds' atom around a decoder-specific information.
std::vector<UInt8> MakeESDS(UInt8 inObjectType, UInt8 inStreamType, const std::vector<UInt8>& inConfig) {
  std::vector<UInt8> decoderConfig = {inObjectType, static_cast<UInt8>((inStreamType << 2) | 1), 0, 0, 0,
                                      0, 0, 0, 0, 0, 0, 0, 0};
  AppendDescriptor(decoderConfig, 0x05, inConfig);
  std::vector<UInt8> es = {0, 0, 0};  // ES id, flags
  AppendDescriptor(es, 0x04, decoderConfig);
  AppendDescriptor(es, 0x06, {0x02});
  std::vector<UInt8> payload = {0, 0, 0, 0};  // version and flags
  AppendDescriptor(payload, 0x03, es);
  return payload;
}

// The extension atom that carries a track's decoder configuration.
void AppendConfigAtom(std::vector<UInt8>& io, const FFTrackInfo& inTrack) {
  const std::vector<UInt8>& c = inTrack.codecPrivate;
  if (c.empty()) return;
  const OSType code = inTrack.codecType;
  const bool boxed = c[0] == 1;  // a configuration record, not start-code framed parameter sets
  if ((code == 'avc1' || code == 'avc3' || code == 'H264' || code == 'h264') && boxed)
    AppendAtom(io, 'avcC', c);
  else if ((code == 'hvc1' || code == 'hev1') && boxed)
    AppendAtom(io, 'hvcC', c);
  else if (code == 'mp4v')
    AppendAtom(io, 'esds', MakeESDS(0x20, 0x04, c));
  else if (code == 'mp4a')
    AppendAtom(io, 'esds', MakeESDS(0x40, 0x05, c));
  else
    AppendAtom(io, 'glbl', c);
}

// A description's fixed fields followed by its extension atoms.
std::vector<UInt8> WithExtensions(const void* inFixed, size_t inFixedSize, const std::vector<UInt8>& inExtensions) {
  std::vector<UInt8> bytes(inFixedSize + inExtensions.size());
  std::memcpy(bytes.data(), inFixed, inFixedSize);
  if (!inExtensions.empty()) std::memcpy(bytes.data() + inFixedSize, inExtensions.data(), inExtensions.size());
  return bytes;
}

std::vector<UInt8> ImageDescriptionFor(const FFTrackInfo& inTrack) {
  ImageDescription d{};
  d.cType = inTrack.codecType;
  d.dataRefIndex = 1;
  d.temporalQuality = 0x200;
  d.spatialQuality = 0x200;
  d.width = static_cast<SInt16>(inTrack.width);
  d.height = static_cast<SInt16>(inTrack.height);
  d.hRes = d.vRes = Long2Fix(72);
  d.frameCount = 1;
  // The codec's own name; what the file names as its encoder stands in.
  const char* codecName = CodecDisplayName(inTrack.codecType);
  const std::string name = codecName ? std::string(codecName) : inTrack.compressorName;
  const size_t n = std::min<size_t>(31, name.size());
  d.name[0] = static_cast<UInt8>(n);
  std::memcpy(d.name + 1, name.data(), n);
  d.depth = inTrack.depth > 0 && inTrack.depth <= 32 ? inTrack.depth : 24;
  d.clutID = -1;
  std::vector<UInt8> ext;
  AppendConfigAtom(ext, inTrack);
  if (inTrack.pixelAspectH != inTrack.pixelAspectV) {
    std::vector<UInt8> pasp;
    PutBE32(pasp, static_cast<UInt32>(inTrack.pixelAspectH));
    PutBE32(pasp, static_cast<UInt32>(inTrack.pixelAspectV));
    AppendAtom(ext, 'pasp', pasp);
  }
  d.idSize = static_cast<SInt32>(sizeof d + ext.size());
  std::vector<UInt8> bytes = WithExtensions(&d, sizeof d, ext);
  if (inTrack.codecType != 'raw ') CompleteImageDescription(bytes, inTrack.pixelFormat);
  return bytes;
}

bool IsPCM(OSType inCode) {
  switch (inCode) {
    case 'raw ': case 'twos': case 'sowt': case 'in24': case 'in32': case 'fl32': case 'fl64':
      return true;
    default:
      return false;
  }
}

std::vector<UInt8> SoundDescriptionFor(const FFTrackInfo& inTrack, bool inPCM) {
  SoundDescription d{};
  d.dataFormat = inTrack.codecType;
  d.dataRefIndex = 1;
  d.numChannels = inTrack.channels;
  d.sampleSize = inPCM ? inTrack.sampleSize : 16;
  d.compressionID = inPCM ? 0 : -2;  // compressed sound comes in packets of varying size
  const double rate = std::min(inTrack.sampleRate, 65535.0);
  d.sampleRate = static_cast<UnsignedFixed>(rate * 65536.0);
  std::vector<UInt8> ext;
  if (!inPCM) AppendConfigAtom(ext, inTrack);
  d.descSize = static_cast<SInt32>(sizeof d + ext.size());
  return WithExtensions(&d, sizeof d, ext);
}

// Reads the file's bytes at an offset; false when they are not all there.
bool ReadAt(int inFD, SInt64 inOffset, UInt8* outData, size_t inSize) {
  size_t done = 0;
  while (done < inSize) {
    ssize_t n = ::pread(inFD, outData + done, inSize - done, static_cast<off_t>(inOffset + static_cast<SInt64>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The packets of the tracks that were read by scanning the file, in the
// order libavformat gives them: packet i of such a track is its sample i.
std::vector<std::vector<std::vector<UInt8>>> ReadScannedPackets(const std::string& inPath, const CFFDemuxer& inDemuxer) {
  std::vector<std::vector<std::vector<UInt8>>> packets(inDemuxer.CountTracks());
  std::vector<SInt32> trackOfStream;
  bool any = false;
  for (ItemCount k = 0; k < inDemuxer.CountTracks(); ++k) {
    const FFTrackInfo& t = inDemuxer.GetTrack(k);
    if (t.fromIndex) continue;
    if (trackOfStream.size() <= static_cast<size_t>(t.streamIndex)) trackOfStream.resize(static_cast<size_t>(t.streamIndex) + 1, -1);
    trackOfStream[static_cast<size_t>(t.streamIndex)] = static_cast<SInt32>(k);
    any = true;
  }
  if (!any) return packets;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, inPath.c_str(), nullptr, nullptr) < 0) Throw_(noMovieFound);
  FFInputPtr input(raw);
  FFPacketPtr pkt = FFNewPacket();
  for (;;) {
    int err = av_read_frame(raw, pkt.get());
    if (err == AVERROR_EOF) break;
    if (err < 0) {
      if (avio_feof(raw->pb)) break;
      ThrowFFError(err, noMovieFound);
    }
    const int si = pkt->stream_index;
    if (si >= 0 && static_cast<size_t>(si) < trackOfStream.size() && trackOfStream[static_cast<size_t>(si)] >= 0 &&
        pkt->size > 0) {
      if ((pkt->flags & AV_PKT_FLAG_CORRUPT) != 0) Throw_(kFFCodecBadDataErr);
      packets[static_cast<size_t>(trackOfStream[static_cast<size_t>(si)])].emplace_back(pkt->data, pkt->data + pkt->size);
    }
    av_packet_unref(pkt.get());
  }
  return packets;
}

// Where each sample's bytes lie in the file. A container's packet position
// may name a header in front of the payload (AVI chunks, Matroska blocks):
// the payload is looked for a few bytes on. False when a sample's bytes are
// not stored as one piece (then the samples are copied into memory).
bool LocateSamples(CFFDemuxer& ioDemuxer, ItemCount inTrack, const std::vector<std::vector<UInt8>>& inPackets, int inFD,
                   std::vector<SInt64>& outOffsets) {
  const FFTrackInfo& t = ioDemuxer.GetTrack(inTrack);
  constexpr SInt64 kSearch = 64;
  outOffsets.assign(t.samples.size(), -1);
  if (!t.fromIndex && inPackets.size() != t.samples.size()) Throw_(kFFInvalidSampleNumErr);
  std::vector<UInt8> read, file;
  SInt64 delta = 0;
  for (size_t i = 0; i < t.samples.size(); ++i) {
    const FFSampleInfo& s = t.samples[i];
    if (s.offset < 0 || s.damaged) return false;
    // In an index only the first sample is checked: the rest lie alike.
    if (t.fromIndex && i > 0) {
      outOffsets[i] = s.offset + delta;
      continue;
    }
    const std::vector<UInt8>* packet = &read;
    if (t.fromIndex) {
      try {
        ioDemuxer.ReadSample(inTrack, i, read);
      } catch (const LException&) {
        return false;
      }
    } else {
      packet = &inPackets[i];
    }
    if (packet->size() != s.size || packet->empty()) return false;
    file.resize(packet->size() + kSearch);
    const SInt64 available = std::min<SInt64>(static_cast<SInt64>(file.size()), ioDemuxer.GetFileSize() - s.offset);
    if (available < static_cast<SInt64>(packet->size()) ||
        !ReadAt(inFD, s.offset, file.data(), static_cast<size_t>(available)))
      return false;
    bool found = false;
    for (SInt64 d = 0; d + static_cast<SInt64>(packet->size()) <= available && d < kSearch; ++d)
      if (std::memcmp(file.data() + d, packet->data(), packet->size()) == 0) {
        delta = d;
        found = true;
        break;
      }
    if (!found) return false;
    outOffsets[i] = s.offset + delta;
  }
  return true;
}

struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// Where a track begins on the file's clock, in seconds: its first display
// time, and for sound the first frame after the codec's priming.
double TrackStartSeconds(const FFTrackInfo& inTrack) {
  double start = static_cast<double>(inTrack.originTime + inTrack.firstDisplayTime) / inTrack.timeScale;
  if (inTrack.handlerType == SoundMediaType && inTrack.sampleRate > 0 && inTrack.primingTimed)
    start += inTrack.primingFrames / inTrack.sampleRate;
  return start;
}

bool Placeable(const FFTrackInfo& inTrack) {
  return !inTrack.samples.empty() && inTrack.timeScale > 0 &&
         (inTrack.handlerType == VideoMediaType || (inTrack.channels > 0 && inTrack.sampleRate > 0));
}

// The movie begins with the first picture (with the first sound where there
// are no pictures): every track keeps its place against it, and sound that
// comes before it is not part of the movie.
double MovieOriginSeconds(const CFFDemuxer& inDemuxer) {
  double origin = 0;
  for (OSType type : {VideoMediaType, SoundMediaType}) {
    bool any = false;
    for (ItemCount i = 0; i < inDemuxer.CountTracks(); ++i) {
      const FFTrackInfo& t = inDemuxer.GetTrack(i);
      if (t.handlerType != type || !Placeable(t)) continue;
      const double start = TrackStartSeconds(t);
      origin = any ? std::min(origin, start) : start;
      any = true;
    }
    if (any) return origin;
  }
  return origin;
}

void AddTrack(Movie inMovie, CFFDemuxer& ioDemuxer, ItemCount inIndex, const std::vector<std::vector<UInt8>>& inPackets,
              const std::string& inPath, int inFD, double inOriginSeconds) {
  const FFTrackInfo& info = ioDemuxer.GetTrack(inIndex);
  if (info.samples.empty() || info.timeScale <= 0) return;
  const bool video = info.handlerType == VideoMediaType;
  if (video && (info.width <= 0 || info.height <= 0 || info.width > 32767 || info.height > 32767)) return;
  if (!video && (info.channels <= 0 || info.sampleRate <= 0)) return;
  const bool pcm = !video && IsPCM(info.codecType) && info.sampleSize >= 8 && info.sampleSize % 8 == 0;

  std::vector<SInt64> offsets;
  const bool inFile = LocateSamples(ioDemuxer, inIndex, inPackets, inFD, offsets);

  // Video: the display width follows the pixel aspect ratio, so the clean
  // and production apertures show square pixels; encoded pixels keep the
  // coded size.
  Fixed width = 0, height = 0;
  if (video) {
    const double aspect = static_cast<double>(info.pixelAspectH) / static_cast<double>(info.pixelAspectV);
    width = X2Fix(std::max(1.0, std::round(info.width * aspect)));
    height = Long2Fix(info.height);
  }
  Track track = NewMovieTrack(inMovie, width, height, video ? 0 : 0x100);
  ThrowIfOSErr_(GetMoviesError());
  // The media's bytes stay in the source file, named by an alias; or, when
  // the container stores them in pieces, in a memory block of their own.
  Handle ref = inFile ? NewFileDataRef(inPath.c_str()) : NewHandleClear(sizeof(Handle));
  ThrowIfNil_(ref);
  const TimeScale scale = pcm ? static_cast<TimeScale>(info.sampleRate + 0.5) : info.timeScale;
  Media media = NewTrackMedia(track, info.handlerType, scale, ref, inFile ? rAliasType : HandleDataHandlerSubType);
  DisposeHandle(ref);
  ThrowIfOSErr_(GetMoviesError());

  std::lock_guard<std::recursive_mutex> lock(Lock());
  MediaObj& m = GetMedia(media);
  if (m.dataRefs.empty() || !m.dataRefs[0].store) Throw_(couldNotResolveDataRef);
  CDataStore& store = *m.dataRefs[0].store;
  const SInt32 descIndex = FindOrAddDescription(m, video ? ImageDescriptionFor(info) : SoundDescriptionFor(info, pcm));
  const UInt32 frameBytes = pcm ? static_cast<UInt32>(info.channels * info.sampleSize / 8) : 0;
  std::vector<UInt8> bytes;
  SInt64 firstDisplay = INT64_MAX, displayEnd = 0;
  for (size_t i = 0; i < info.samples.size(); ++i) {
    const FFSampleInfo& s = info.samples[i];
    SInt64 offset = inFile ? offsets[i] : 0;
    if (!inFile) {
      if (info.fromIndex)
        ioDemuxer.ReadSample(inIndex, i, bytes);
      else
        bytes = inPackets[i];
      ThrowIfOSErr_(store.Append(bytes.data(), static_cast<UInt32>(bytes.size()), &offset));
    }
    if (pcm) {
      // Uncompressed sound: one media sample per sample frame.
      const UInt32 size = inFile ? s.size : static_cast<UInt32>(bytes.size());
      m.samples.Append(offset, frameBytes, 1, size / frameBytes, descIndex, true, 0);
      continue;
    }
    const SInt64 display = m.samples.Duration() + s.compositionOffset;
    m.samples.Append(offset, inFile ? s.size : static_cast<UInt32>(bytes.size()), std::max<SInt32>(1, s.duration), 1,
                     descIndex, s.sync, s.compositionOffset);
    firstDisplay = std::min(firstDisplay, display);
    displayEnd = std::max(displayEnd, display + std::max<SInt32>(1, s.duration));
  }
  if (pcm) {
    firstDisplay = 0;
    displayEnd = m.samples.Duration();
  }
  if (video) {
    TrackObj& t = GetTrack(track);
    t.apertureDims[0][0] = t.apertureDims[1][0] = width;
    t.apertureDims[0][1] = t.apertureDims[1][1] = height;
    t.apertureDims[2][0] = Long2Fix(info.width);
    t.apertureDims[2][1] = Long2Fix(info.height);
    t.hasAperture = true;
  }
  // The codec's priming is skipped; the track sits where the file's clock
  // puts it against the movie's start. Clocks that disagree by more than a
  // few seconds (a wrapped or reset stream clock) are not believed.
  SInt64 mediaStart = firstDisplay;
  if (!video && info.primingFrames > 0)
    mediaStart += std::llround(info.primingFrames * static_cast<double>(scale) / info.sampleRate);
  double offset = TrackStartSeconds(info) - inOriginSeconds;
  if (!(std::fabs(offset) <= 10.0)) offset = 0;
  TimeValue movieTime = 0;
  if (offset < 0)
    mediaStart += std::llround(-offset * scale);
  else
    movieTime = static_cast<TimeValue>(std::llround(offset * GetMovieTimeScale(inMovie)));
  if (displayEnd <= mediaStart) return;
  ThrowIfOSErr_(InsertMediaIntoTrack(track, movieTime, static_cast<TimeValue>(mediaStart),
                                     static_cast<TimeValue>(displayEnd - mediaStart), fixed1));
}

}  // namespace

OSErr ImportMovieWithFFmpeg(const std::string& inPath, Movie* outMovie) {
  if (outMovie == nullptr) return paramErr;
  *outMovie = nullptr;
  Movie movie = nullptr;
  try {
    CFFDemuxer demuxer(inPath);
    FileCloser file{::open(inPath.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) Throw_(errno == ENOENT ? fnfErr : ioErr);
    movie = NewMovie(0);
    ThrowIfNil_(movie);
    const auto packets = ReadScannedPackets(inPath, demuxer);
    const double origin = MovieOriginSeconds(demuxer);
    for (ItemCount i = 0; i < demuxer.CountTracks(); ++i)
      AddTrack(movie, demuxer, i, packets[i], inPath, file.fd, origin);
    if (GetMovieTrackCount(movie) == 0) Throw_(noMovieFound);
    ClearMovieChanged(movie);
    *outMovie = movie;
    return noErr;
  } catch (const std::bad_alloc&) {
    if (movie) DisposeMovie(movie);
    return memFullErr;
  } catch (const LException& e) {
    if (movie) DisposeMovie(movie);
    OSErr err = ErrorCodeToOSErr(e.GetErrorCode());
    return err == kFFNoMovieFoundErr ? noMovieFound : err;
  }
}
