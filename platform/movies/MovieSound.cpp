#include "platform/movies/MovieSound.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/FixMath.h"
#include "platform/movies/FFSoundConverter.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/MovieModel.h"
#include "platform/movies/SoundOutput.h"

namespace movies {

namespace {

// What a session plays of one track, copied when it starts so that the
// sound thread never needs the toolbox lock.
struct TrackSound {
  std::shared_ptr<MediaObj> media;
  std::vector<Edit> edits;
  SoundDescription desc{};
  SInt32 volume = 0x100;
};

bool IsPcm(OSType inFormat) {
  switch (inFormat) {
    case 'raw ': case 'twos': case 'sowt': case 'in24': case 'in32': case 'fl32': case 'fl64': case 'NONE':
      return true;
    default:
      return false;
  }
}

// One track's sound as a run of output frames from the session's start:
// its edits in order, silence where an edit is empty or the media ends.
class CTrackSoundReader {
 public:
  CTrackSoundReader(const TrackSound& inTrack, SInt64 inStart, TimeScale inMovieScale, SInt32 inRate,
                    SInt16 inChannels)
      : mTrack(inTrack), mRate(inRate), mChannels(inChannels) {
    SInt64 editStart = 0;
    for (const Edit& e : inTrack.edits) {
      const SInt64 editEnd = editStart + e.duration;
      if (editEnd > inStart && e.duration > 0) {
        Segment s;
        s.first = ScaleTime(std::max(editStart, inStart) - inStart, inMovieScale, inRate);
        s.end = ScaleTime(editEnd - inStart, inMovieScale, inRate);
        if (e.mediaTime >= 0)
          s.mediaTime = e.mediaTime + ScaleTime(std::max<SInt64>(0, inStart - editStart), inMovieScale,
                                                inTrack.media->scale);
        if (s.end > s.first) mSegments.push_back(s);
      }
      editStart = editEnd;
    }
  }

  // The decoded sound's channel layout as a mask, 0 while unknown.
  UInt64 ChannelMask() const { return mMask; }

  // Adds the next inFrames frames, scaled by inGain (65536 = as they are).
  void MixInto(SInt32* ioMix, size_t inFrames, SInt32 inGain) {
    size_t done = 0;
    const size_t channels = static_cast<size_t>(mChannels);
    while (done < inFrames) {
      while (mSegment < mSegments.size() && mPosition >= mSegments[mSegment].end) NextSegment();
      if (mSegment >= mSegments.size()) return;  // silence to the end
      const Segment& s = mSegments[mSegment];
      if (mPosition < s.first) {  // silence before the segment
        const size_t n = static_cast<size_t>(std::min<SInt64>(s.first - mPosition, inFrames - done));
        mPosition += static_cast<SInt64>(n);
        done += n;
        continue;
      }
      size_t n = static_cast<size_t>(std::min<SInt64>(s.end - mPosition, inFrames - done));
      if (s.mediaTime >= 0) {
        if (!mOpened) OpenSegment(s);
        n = std::min(n, Available());
        if (n == 0) {
          // The media ended early or failed: the segment is silent to its end.
          n = static_cast<size_t>(std::min<SInt64>(s.end - mPosition, inFrames - done));
        } else {
          const SInt16* from = mDecoded.data() + mDecodedAt * channels;
          SInt32* to = ioMix + done * channels;
          if (inGain == 65536)
            for (size_t i = 0; i < n * channels; ++i) to[i] += from[i];
          else
            for (size_t i = 0; i < n * channels; ++i)
              to[i] += static_cast<SInt32>((static_cast<SInt64>(from[i]) * inGain) >> 16);
          mDecodedAt += n;
        }
      }
      mPosition += static_cast<SInt64>(n);
      done += n;
    }
  }

 private:
  struct Segment {
    SInt64 first = 0, end = 0;  // output frames from the session's start
    SInt64 mediaTime = -1;      // of the first frame; -1 empty
  };

  void NextSegment() {
    ++mSegment;
    mOpened = false;
    mConverter.reset();
    mDecoded.clear();
    mDecodedAt = 0;
  }

  // Starts decoding at the segment's first frame: from the packet holding
  // its media time, dropping the frames before it.
  void OpenSegment(const Segment& inSegment) {
    mOpened = true;
    mEnded = true;
    const MediaObj& media = *mTrack.media;
    SampleInfo info;
    if (!media.samples.FindByDecodeTime(inSegment.mediaTime, info)) return;
    const SoundDescription& sd = mTrack.desc;
    FFSoundFormat in;
    in.format = sd.dataFormat;
    in.sampleRate = sd.sampleRate / 65536.0;
    in.channels = sd.numChannels;
    in.sampleSize = sd.sampleSize;
    FFSoundFormat out;
    out.format = 'sowt';
    out.sampleRate = mRate;
    out.channels = mChannels;
    out.sampleSize = 16;
    try {
      mConverter = std::make_unique<CFFSoundConverter>(in, out);
      mCompressed = !IsPcm(sd.dataFormat);
      if (mCompressed) {
        const size_t fixed = sd.version == 1 ? 52 : sd.version == 2 ? 72 : sizeof(SoundDescription);
        std::vector<UInt8> config = GetDescriptionDecoderConfig(media.descs[0], fixed);
        if (!config.empty()) mConverter->SetDecompressionParams(config.data(), config.size());
      }
      mConverter->BeginConversion();
    } catch (...) {
      mConverter.reset();
      return;
    }
    // Compressed sound is decoded from a few packets earlier: a decoder
    // needs the packets before (overlapping transforms, bit reservoirs) to
    // give the first wanted frame as a decode from the start would.
    SampleInfo from = info;
    if (mCompressed) {
      constexpr SInt64 kPreroll = 4;
      if (!media.samples.At(std::max<SInt64>(0, info.number - kPreroll), from)) from = info;
    }
    mNext = from.number;
    mEnded = false;
    mSkip = ScaleTime(inSegment.mediaTime - from.decodeTime, media.scale, mRate);
  }

  static bool Fill(FFSoundInput* outInput, void* inRefCon) {
    auto* self = static_cast<CTrackSoundReader*>(inRefCon);
    const MediaObj& media = *self->mTrack.media;
    SampleInfo info;
    if (!media.samples.At(self->mNext, info) || CheckSampleBytes(media, info) != noErr) return false;
    UInt32 size = info.size;
    SInt64 count = 1;
    if (!self->mCompressed) {
      // PCM is one sample per frame: a run of them at once, about 50 ms.
      const SInt64 end = SampleDataSize(media, info.descIndex);
      SampleInfo n;
      while (count < 4096 && media.samples.At(self->mNext + count, n) && n.offset == info.offset + size &&
             n.descIndex == info.descIndex && n.offset + n.size <= end)
        size += n.size, ++count;
    }
    self->mBytes.resize(size);
    info.size = size;
    if (ReadSampleBytes(media, info, self->mBytes.data()) != noErr) return false;
    self->mNext += count;
    outInput->data = self->mBytes.data();
    outInput->bytes = size;
    outInput->packetSize = self->mCompressed ? size : 0;
    return size > 0;
  }

  // Decoded frames ready, decoding more when none are left.
  size_t Available() {
    const size_t channels = static_cast<size_t>(mChannels);
    for (;;) {
      const size_t have = mDecoded.size() / channels - mDecodedAt;
      if (have > 0 || mEnded || !mConverter) return have;
      mDecoded.resize(static_cast<size_t>(mRate / 20 + 1) * channels);
      mDecodedAt = 0;
      UInt32 bytes = 0, frames = 0, flags = 0;
      try {
        mConverter->FillBuffer(Fill, this, mDecoded.data(), static_cast<UInt32>(mDecoded.size() * 2), &bytes, &frames,
                               &flags);
        if ((flags & kFFSoundEnded) != 0 || (bytes == 0 && (flags & kFFSoundDidntFillBuffer) != 0)) {
          std::vector<SInt16> tail(static_cast<size_t>(mRate / 10 + 1) * channels);
          UInt32 tailBytes = 0, tailFrames = 0;
          mConverter->EndConversion(tail.data(), static_cast<UInt32>(tail.size() * 2), &tailBytes, &tailFrames);
          mDecoded.resize(bytes / 2);
          mDecoded.insert(mDecoded.end(), tail.begin(), tail.begin() + tailBytes / 2);
          mEnded = true;
        } else {
          mDecoded.resize(bytes / 2);
        }
      } catch (...) {
        mDecoded.clear();
        mEnded = true;
      }
      if (mConverter && mConverter->GetChannelMask() != 0) mMask = mConverter->GetChannelMask();
      // Frames before the segment's start that came with its first packet.
      const size_t got = mDecoded.size() / channels;
      const size_t drop = static_cast<size_t>(std::min<SInt64>(mSkip, static_cast<SInt64>(got)));
      mDecodedAt = drop;
      mSkip -= static_cast<SInt64>(drop);
    }
  }

  TrackSound mTrack;
  SInt32 mRate;
  SInt16 mChannels;
  std::vector<Segment> mSegments;
  size_t mSegment = 0;
  SInt64 mPosition = 0;  // output frames from the session's start
  bool mOpened = false;
  bool mEnded = false;
  bool mCompressed = false;
  std::unique_ptr<CFFSoundConverter> mConverter;
  SInt64 mNext = 0;  // the next media sample to feed
  SInt64 mSkip = 0;  // decoded frames still to drop
  std::vector<UInt8> mBytes;
  std::vector<SInt16> mDecoded;
  size_t mDecodedAt = 0;
  UInt64 mMask = 0;
};

// Sound threads still running. When the process ends they are all told to
// stop and waited for (briefly), so none outlives what it uses.
std::atomic<int> sRunning{0};
std::atomic<bool> sQuitting{false};
std::mutex sRunningLock;
std::condition_variable sRunningDone;

struct AtExit {
  ~AtExit() {
    sQuitting = true;
    std::unique_lock<std::mutex> g(sRunningLock);
    sRunningDone.wait_for(g, std::chrono::seconds(2), [] { return sRunning.load() == 0; });
  }
} sAtExit;

}  // namespace

class CSoundSession : public std::enable_shared_from_this<CSoundSession> {
 public:
  CSoundSession(std::vector<TrackSound>&& inTracks, SInt64 inStart, SInt64 inEnd, TimeScale inScale, SInt16 inVolume)
      : mTracks(std::move(inTracks)), mStart(inStart), mEnd(inEnd), mScale(inScale), mVolume(inVolume) {
    const SoundDescription& first = mTracks.front().desc;
    mRate = std::clamp<SInt32>(static_cast<SInt32>(std::lround(first.sampleRate / 65536.0)), 1000, 384000);
    mChannels = std::clamp<SInt16>(first.numChannels, 1, 8);
  }

  void Start() {
    mStartMicros = UClock::NowMicroseconds();
    ++sRunning;
    try {
      std::thread([self = shared_from_this()] {
        self->Run();
        std::lock_guard<std::mutex> g(sRunningLock);
        --sRunning;
        sRunningDone.notify_all();
      }).detach();
    } catch (...) {
      --sRunning;
    }
  }

  // No write starts after this, and one in progress has ended, unless the
  // device has hung in it: then the caller is not held up any longer than
  // a tenth of a second and the thread leaves once the write returns.
  void Stop() {
    std::unique_lock<std::mutex> g(mLock);
    mStop = true;
    mWake.notify_all();
    mIdle.wait_for(g, std::chrono::milliseconds(100), [&] { return !mWriting; });
  }

  void SetVolume(SInt16 inVolume) { mVolume = inVolume; }

  bool GetTime(SInt64& outTime) const {
    if (!mLeads.load()) return false;
    std::lock_guard<std::mutex> g(mClockLock);
    const SInt64 since = UClock::NowMicroseconds() - mHeardAt;
    SInt64 frames = mHeard + static_cast<SInt64>(static_cast<double>(std::max<SInt64>(0, since)) * mRate / 1e6);
    frames = std::clamp<SInt64>(frames, 0, mWritten);
    // All of it heard is the movie's end, whatever the rounding to frames.
    outTime = frames >= ScaleTime(mEnd - mStart, mScale, mRate) ? mEnd : mStart + ScaleTime(frames, mRate, mScale);
    return true;
  }

 private:
  bool Stopping() const { return mStop.load() || sQuitting.load(); }

  // Frames the movie's own clock has passed since the start.
  SInt64 ElapsedFrames() const {
    return std::max<SInt64>(0, (UClock::NowMicroseconds() - mStartMicros) * mRate / 1000000);
  }

  void Run() {
    std::unique_ptr<CSoundOutput> out = NewSoundOutput();
    if (!out || out->Discards() || !out->Open(mRate, mChannels)) return;
    const bool paced = out->IsPaced();
    const size_t channels = static_cast<size_t>(mChannels);
    const SInt64 endFrame = ScaleTime(mEnd - mStart, mScale, mRate);
    std::vector<CTrackSoundReader> readers;
    for (const TrackSound& t : mTracks) readers.emplace_back(t, mStart, mScale, mRate, mChannels);
    const size_t chunk = static_cast<size_t>(std::max<SInt32>(64, mRate / 50));  // 20 ms
    std::vector<SInt32> mix(chunk * channels);
    std::vector<SInt16> samples(chunk * channels);
    SInt64 frame = 0;
    auto produce = [&](size_t inFrames) {
      std::fill(mix.begin(), mix.begin() + static_cast<std::ptrdiff_t>(inFrames * channels), 0);
      const SInt32 movieGain = std::max<SInt32>(0, mVolume.load());
      for (size_t i = 0; i < readers.size(); ++i) {
        const SInt64 gain = static_cast<SInt64>(movieGain) * std::max<SInt32>(0, mTracks[i].volume);
        readers[i].MixInto(mix.data(), inFrames, static_cast<SInt32>(std::min<SInt64>(gain, 1 << 20)));
      }
      for (size_t i = 0; i < inFrames * channels; ++i)
        samples[i] = static_cast<SInt16>(std::clamp<SInt32>(mix[i], -32768, 32767));
    };
    if (paced) {
      // What the movie's clock passed while the output opened is not played:
      // the sound joins the picture where it stands.
      SInt64 skip = std::min(ElapsedFrames(), endFrame);
      while (skip > 0 && !Stopping()) {
        const size_t n = static_cast<size_t>(std::min<SInt64>(skip, static_cast<SInt64>(chunk)));
        produce(n);
        skip -= static_cast<SInt64>(n);
        frame += static_cast<SInt64>(n);
      }
      Publish(frame, frame);
    }
    bool stopped = false;
    while (frame < endFrame) {
      size_t want = static_cast<size_t>(std::min<SInt64>(endFrame - frame, static_cast<SInt64>(chunk)));
      if (!paced) {
        const SInt64 due = std::min(ElapsedFrames(), endFrame);
        if (due <= frame) {
          std::unique_lock<std::mutex> g(mLock);
          if (Stopping()) {
            stopped = true;
            break;
          }
          mWake.wait_for(g, std::chrono::milliseconds(5));
          continue;
        }
        want = std::min(want, static_cast<size_t>(due - frame));
      }
      produce(want);
      {
        std::lock_guard<std::mutex> g(mLock);
        if (Stopping()) {
          stopped = true;
          break;
        }
        mWriting = true;
      }
      const bool written = out->Write(samples.data(), want);
      {
        std::lock_guard<std::mutex> g(mLock);
        mWriting = false;
      }
      mIdle.notify_all();
      if (!written) break;
      frame += static_cast<SInt64>(want);
      if (paced) Publish(frame, frame - out->GetLatencyMicros() * mRate / 1000000);
    }
    if (stopped) {
      out->Flush();
      return;
    }
    if (frame < endFrame) {
      // The device failed: the movie goes on by its own clock from where
      // the sound had got to.
      mLeads = false;
      return;
    }
    out->Drain();
    if (paced) Publish(frame, frame);
  }

  void Publish(SInt64 inWritten, SInt64 inHeard) {
    std::lock_guard<std::mutex> g(mClockLock);
    mWritten = inWritten;
    mHeard = std::max<SInt64>(0, inHeard);
    mHeardAt = UClock::NowMicroseconds();
    mLeads = true;
  }

  std::vector<TrackSound> mTracks;
  SInt64 mStart, mEnd;  // movie time
  TimeScale mScale;
  std::atomic<SInt16> mVolume;
  SInt32 mRate = 44100;
  SInt16 mChannels = 2;
  SInt64 mStartMicros = 0;
  std::mutex mLock;  // guards mWriting; mStop is set under it
  std::atomic<bool> mStop{false};
  bool mWriting = false;
  std::condition_variable mWake;  // the thread's waits for the movie's clock
  std::condition_variable mIdle;  // a write has ended
  mutable std::mutex mClockLock;
  std::atomic<bool> mLeads{false};
  SInt64 mWritten = 0, mHeard = 0, mHeardAt = 0;
};

struct CTrackSoundStream::Impl {
  // Each track and its reader; the reader keeps a reference to its track.
  std::vector<std::unique_ptr<TrackSound>> tracks;
  std::vector<std::unique_ptr<CTrackSoundReader>> readers;
  size_t widest = 0;  // the reader whose layout the stream reports
  SInt16 channels = 0;
  std::vector<SInt32> mix;
};

CTrackSoundStream::CTrackSoundStream(const TrackObj& inTrack, SInt64 inStart, TimeScale inMovieScale, SInt32 inRate,
                                     SInt16 inChannels)
    : CTrackSoundStream(std::vector<const TrackObj*>{&inTrack}, inStart, inMovieScale, inRate, inChannels) {}

CTrackSoundStream::CTrackSoundStream(const std::vector<const TrackObj*>& inTracks, SInt64 inStart,
                                     TimeScale inMovieScale, SInt32 inRate, SInt16 inChannels)
    : mImpl(std::make_unique<Impl>()) {
  if (inTracks.empty() || inMovieScale <= 0 || inRate <= 0 || inChannels <= 0) Throw_(invalidMedia);
  mImpl->channels = inChannels;
  SInt16 widest = 0;
  for (const TrackObj* t : inTracks) {
    if (t == nullptr || !t->media || t->media->descs.empty() || t->media->descs[0].size() < sizeof(SoundDescription) ||
        t->media->scale <= 0)
      Throw_(invalidMedia);
    auto track = std::make_unique<TrackSound>();
    std::memcpy(&track->desc, t->media->descs[0].data(), sizeof track->desc);
    track->media = std::make_shared<MediaObj>(*t->media);
    track->media->track = nullptr;
    track->edits = t->edits;
    if (track->desc.numChannels > widest) {
      widest = track->desc.numChannels;
      mImpl->widest = mImpl->readers.size();
    }
    mImpl->readers.push_back(std::make_unique<CTrackSoundReader>(*track, inStart, inMovieScale, inRate, inChannels));
    mImpl->tracks.push_back(std::move(track));
  }
}

CTrackSoundStream::~CTrackSoundStream() = default;

UInt64 CTrackSoundStream::ChannelMask() const { return mImpl->readers[mImpl->widest]->ChannelMask(); }

void CTrackSoundStream::Read(SInt16* outFrames, size_t inFrames) {
  const size_t n = inFrames * static_cast<size_t>(mImpl->channels);
  mImpl->mix.assign(n, 0);
  // Several tracks sound together, as the movie plays them.
  for (auto& reader : mImpl->readers) reader->MixInto(mImpl->mix.data(), inFrames, 65536);
  for (size_t i = 0; i < n; ++i) outFrames[i] = static_cast<SInt16>(std::clamp<SInt32>(mImpl->mix[i], -32768, 32767));
}

MovieSoundSlot::~MovieSoundSlot() {
  if (session) session->Stop();
}

namespace {

std::vector<TrackSound> SoundTracksOf(const MovieObj& m) {
  std::vector<TrackSound> tracks;
  for (const auto& t : m.tracks) {
    if (!t->enabled || t->volume <= 0 || !t->media || t->media->type != SoundMediaType) continue;
    const MediaObj& media = *t->media;
    if (media.descs.empty() || media.descs[0].size() < sizeof(SoundDescription) || media.scale <= 0) continue;
    TrackSound s;
    std::memcpy(&s.desc, media.descs[0].data(), sizeof s.desc);
    if (s.desc.numChannels <= 0 || s.desc.sampleRate == 0) continue;
    s.media = std::make_shared<MediaObj>(media);
    s.media->track = nullptr;
    s.edits = t->edits;
    s.volume = t->volume;
    tracks.push_back(std::move(s));
  }
  return tracks;
}

}  // namespace

void StopMovieSound(MovieObj& m) {
  if (m.sound.session) m.sound.session->Stop();
  m.sound.session.reset();
}

void UpdateMovieSound(MovieObj& m, bool inRestart) {
  const bool audible = m.rate == fixed1 && m.volume > 0;
  if (!audible) {
    StopMovieSound(m);
    return;
  }
  if (m.sound.session && !inRestart) {
    m.sound.session->SetVolume(m.volume);
    return;
  }
  StopMovieSound(m);
  const SInt64 end = MovieDuration(m);
  if (m.time >= end) return;
  std::vector<TrackSound> tracks = SoundTracksOf(m);
  if (tracks.empty()) return;
  auto session = std::make_shared<CSoundSession>(std::move(tracks), m.time, end, m.scale, m.volume);
  session->Start();
  m.sound.session = std::move(session);
}

bool GetMovieSoundTime(MovieObj& m, SInt64& outTime) {
  return m.sound.session && m.rate == fixed1 && m.sound.session->GetTime(outTime);
}

}  // namespace movies
