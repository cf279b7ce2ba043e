#include "platform/movies/FFMuxer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/files/PartialFiles.h"

namespace {

// The codecs that code interlaced pictures as fields.
bool FieldsCoded(OSType inCodec) {
  return inCodec == 'avc1' || inCodec == 'apcn' || inCodec == 'apch' || inCodec == 'apcs' || inCodec == 'apco' ||
         inCodec == 'ap4h';
}

}  // namespace

CFFMuxer::CFFMuxer(const std::string& inPath, OSType inExporter, const FFExportSettings& inSettings)
    : mPath(inPath), mExporter(FFFindExporter(inExporter)), mSettings(inSettings) {
  if (mExporter == nullptr) Throw_(kFFCantFindHandlerErr);
  if (inPath.empty()) Throw_(bdNamErr);
  int err = avformat_alloc_output_context2(&mFormat, nullptr, mExporter->muxerName, inPath.c_str());
  if (err < 0 || mFormat == nullptr) ThrowFFError(err, kFFCantFindHandlerErr);
}

CFFMuxer::~CFFMuxer() {
  if (!mDone) Abort();
}

void CFFMuxer::Abort() {
  mTracks.clear();
  if (mFormat != nullptr) {
    if (mFormat->pb != nullptr && (mFormat->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&mFormat->pb);
    avformat_free_context(mFormat);
    mFormat = nullptr;
  }
  if (!mWritePath.empty()) std::remove(mWritePath.c_str());
  mWritePath.clear();
  ReleasePartialFile(mWriteLock);
  mWriteLock = -1;
  mDone = true;
}

SInt32 CFFMuxer::AddVideoTrack(SInt32 inWidth, SInt32 inHeight, TimeScale inTimeScale, SInt32 inFrameDuration,
                               SInt32 inFieldOrder) {
  if (mBegun || mDone) Throw_(paramErr);
  if (!mExporter->hasVideo) Throw_(kFFInvalidTrackErr);
  const OSType codecType = mSettings.videoCodec != 0 ? mSettings.videoCodec : mExporter->defaultVideoCodec;
  const AVCodecID id = FFCodecIDForFourCC('vide', codecType);
  if (id == AV_CODEC_ID_NONE || avformat_query_codec(mFormat->oformat, id, FF_COMPLIANCE_NORMAL) != 1)
    Throw_(kFFNoCodecErr);
  const bool globalHeader = (mFormat->oformat->flags & AVFMT_GLOBALHEADER) != 0;
  Track track;
  // AVI keeps no display times: its frames must be stored in display order.
  const bool isAvi = std::string(mExporter->muxerName) == "avi";
  track.encoder = CFFEncoder::NewVideo(codecType, inWidth, inHeight, inTimeScale, inFrameDuration, mSettings,
                                       globalHeader, !isAvi, FieldsCoded(codecType) ? inFieldOrder : kFFFieldsProgressive);
  track.stream = avformat_new_stream(mFormat, nullptr);
  ThrowIfMemFail_(track.stream);
  int err = avcodec_parameters_from_context(track.stream->codecpar, track.encoder->GetContext());
  if (err < 0) ThrowFFError(err, memFullErr);
  if (codecType != 'apcn' && codecType != 'apch' && codecType != 'apcs' && codecType != 'apco' &&
      codecType != 'ap4h')
    track.stream->codecpar->codec_tag = 0;  // the container picks its own tag
  // AVI counts frames: its clock ticks once per frame.
  if (isAvi)
    track.stream->time_base = av_make_q(inFrameDuration, inTimeScale);
  else
    track.stream->time_base = AVRational{1, inTimeScale};
  track.stream->avg_frame_rate = av_make_q(inTimeScale, inFrameDuration);
  track.stream->r_frame_rate = track.stream->avg_frame_rate;
  track.stream->sample_aspect_ratio = AVRational{1, 1};
  mTracks.push_back(std::move(track));
  return static_cast<SInt32>(mTracks.size() - 1);
}

SInt32 CFFMuxer::AddSoundTrack(SInt32 inRate, SInt16 inChannels, UInt64 inChannelMask) {
  if (mBegun || mDone) Throw_(paramErr);
  if (!mSettings.soundOn) return -1;
  const OSType codecType = mSettings.soundCodec != 0 ? mSettings.soundCodec : mExporter->defaultSoundCodec;
  const AVCodecID id = FFCodecIDForFourCC('soun', codecType);
  if (id == AV_CODEC_ID_NONE || avformat_query_codec(mFormat->oformat, id, FF_COMPLIANCE_NORMAL) != 1)
    Throw_(kFFNoCodecErr);
  // Sound-only containers hold exactly one sound track.
  if (!mExporter->hasVideo && !mTracks.empty()) Throw_(kFFInvalidTrackErr);
  const bool globalHeader = (mFormat->oformat->flags & AVFMT_GLOBALHEADER) != 0;
  Track track;
  track.encoder = CFFEncoder::NewSound(codecType, inRate, inChannels, mSettings, globalHeader, inChannelMask);
  track.stream = avformat_new_stream(mFormat, nullptr);
  ThrowIfMemFail_(track.stream);
  int err = avcodec_parameters_from_context(track.stream->codecpar, track.encoder->GetContext());
  if (err < 0) ThrowFFError(err, memFullErr);
  track.stream->codecpar->codec_tag = 0;
  track.stream->time_base = AVRational{1, inRate};
  mTracks.push_back(std::move(track));
  return static_cast<SInt32>(mTracks.size() - 1);
}

void CFFMuxer::Begin() {
  if (mBegun || mDone) Throw_(paramErr);
  if (mTracks.empty()) Throw_(paramErr);
  if ((mFormat->oformat->flags & AVFMT_NOFILE) == 0) {
    // The movie is written beside its destination under a name of its own
    // and takes the destination's name only when it is complete, so that a
    // failed, cancelled or killed export never leaves half a file there and
    // an earlier file stays until the new one replaces it.
    struct stat existing;
    const bool exists = ::stat(mPath.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
      Abort();
      ThrowFFError(AVERROR(EISDIR), ioErr);
    }
    // The partial file stays locked while it is written, so that a
    // leftover of a killed export can be told from it (PartialFiles.h).
    std::string partial = PartialPatternFor(mPath);
    const int fd = OpenPartialFile(partial);
    if (fd < 0) {
      const int e = errno;
      Abort();
      ThrowFFError(AVERROR(e), ioErr);
    }
    mWritePath = partial;
    mWriteLock = fd;
    mode_t mode = 0;
    if (exists) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    int err = avio_open(&mFormat->pb, mWritePath.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) {
      Abort();
      ThrowFFError(err, ioErr);
    }
  }
  mBegun = true;
  int err = avformat_write_header(mFormat, nullptr);
  if (err < 0) {
    Abort();
    ThrowFFError(err, ioErr);
  }
}

void CFFMuxer::CheckWritable(SInt32 inTrack) const {
  if (!mBegun || mDone) Throw_(paramErr);
  if (inTrack < 0 || static_cast<size_t>(inTrack) >= mTracks.size()) Throw_(paramErr);
}

void CFFMuxer::WritePacket(Track& inTrack, AVPacket* inPacket) {
  av_packet_rescale_ts(inPacket, inTrack.encoder->GetContext()->time_base, inTrack.stream->time_base);
  inPacket->stream_index = inTrack.stream->index;
  int err = av_interleaved_write_frame(mFormat, inPacket);
  if (err < 0) ThrowFFError(err, ioErr);
}

void CFFMuxer::WriteVideoFrame(SInt32 inTrack, const FFPixelBuffer& inPicture, TimeValue64 inTime,
                               SInt32 inDuration) {
  CheckWritable(inTrack);
  Track& track = mTracks[static_cast<size_t>(inTrack)];
  if (!track.encoder->IsVideo()) Throw_(paramErr);
  try {
    if (mCancelFlag != nullptr && mCancelFlag->load()) Throw_(userCanceledErr);
    track.encoder->EncodeFrame(inPicture, inTime, inDuration, [&](AVPacket* p) { WritePacket(track, p); });
  } catch (...) {
    Abort();
    throw;
  }
}

void CFFMuxer::WriteSound(SInt32 inTrack, const SInt16* inSamples, UInt32 inFrames) {
  if (inTrack == -1 && !mSettings.soundOn) return;  // the track that sound-off left out
  CheckWritable(inTrack);
  Track& track = mTracks[static_cast<size_t>(inTrack)];
  if (track.encoder->IsVideo()) Throw_(paramErr);
  try {
    if (mCancelFlag != nullptr && mCancelFlag->load()) Throw_(userCanceledErr);
    track.encoder->EncodeSound(inSamples, inFrames, [&](AVPacket* p) { WritePacket(track, p); });
  } catch (...) {
    Abort();
    throw;
  }
}

void CFFMuxer::Finish() {
  if (!mBegun || mDone) Throw_(paramErr);
  try {
    if (mCancelFlag != nullptr && mCancelFlag->load()) Throw_(userCanceledErr);
    for (Track& track : mTracks) track.encoder->Finish([&](AVPacket* p) { WritePacket(track, p); });
    int err = av_write_trailer(mFormat);
    if (err < 0) ThrowFFError(err, ioErr);
    if ((mFormat->oformat->flags & AVFMT_NOFILE) == 0) {
      err = avio_closep(&mFormat->pb);
      if (err < 0) ThrowFFError(err, ioErr);
      if (::rename(mWritePath.c_str(), mPath.c_str()) != 0) ThrowFFError(AVERROR(errno), ioErr);
      mWritePath.clear();
      ReleasePartialFile(mWriteLock);
      mWriteLock = -1;
    }
  } catch (...) {
    Abort();
    throw;
  }
  mTracks.clear();
  avformat_free_context(mFormat);
  mFormat = nullptr;
  mDone = true;
}

void CFFMuxer::Cancel() {
  if (!mDone) Abort();
}
