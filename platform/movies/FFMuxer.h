// Writing a movie file through one of the exporters' containers: tracks of
// encoded 32-bit ARGB frames and 16-bit sound, one frame at a time, so the
// caller can report progress and stop between frames. The file is written
// under a hidden name beside the destination and renamed to it by `Finish`:
// a muxer that is cancelled, fails or is destroyed before `Finish` removes
// what it wrote and leaves an earlier file at the destination as it was.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/movies/FFEncoder.h"

class CFFMuxer {
 public:
  // Throws kFFCantFindHandlerErr for an unknown exporter subtype. No file
  // is touched before `Begin`.
  CFFMuxer(const std::string& inPath, OSType inExporter, const FFExportSettings& inSettings);
  ~CFFMuxer();
  CFFMuxer(const CFFMuxer&) = delete;
  CFFMuxer& operator=(const CFFMuxer&) = delete;

  // A video track of `inWidth` x `inHeight` pictures with times in
  // `inTimeScale`, usually `inFrameDuration` apart. The settings' codec (or
  // the exporter's default) encodes it. Returns the track number from 0.
  // Sound-only exporters answer kFFInvalidTrackErr. `inFieldOrder` (see
  // CFFEncoder::NewVideo) makes the track interlaced where the codec codes
  // fields, with the container's field-order flag set.
  SInt32 AddVideoTrack(SInt32 inWidth, SInt32 inHeight, TimeScale inTimeScale, SInt32 inFrameDuration,
                       SInt32 inFieldOrder = kFFFieldsProgressive);
  // A sound track fed with interleaved native-endian 16-bit samples.
  // inChannelMask: the channels' layout (libavutil's mask), 0 for the count's usual one.
  SInt32 AddSoundTrack(SInt32 inRate, SInt16 inChannels, UInt64 inChannelMask = 0);
  // Creates the file and writes its header.
  void Begin();
  // One picture of a video track, in display order, at `inTime` for `inDuration`.
  void WriteVideoFrame(SInt32 inTrack, const FFPixelBuffer& inPicture, TimeValue64 inTime, SInt32 inDuration);
  // Sound of a sound track, following what was written before.
  void WriteSound(SInt32 inTrack, const SInt16* inSamples, UInt32 inFrames);
  // Empties the encoders, completes and closes the file.
  void Finish();
  // Stops and removes the file.
  void Cancel();
  // A flag (set from any thread) that makes the next write cancel with userCanceledErr.
  void SetCancelFlag(const std::atomic<bool>* inFlag) { mCancelFlag = inFlag; }

  const FFExporterInfo& GetExporter() const { return *mExporter; }
  const std::string& GetPath() const { return mPath; }

 private:
  struct Track {
    std::unique_ptr<CFFEncoder> encoder;
    AVStream* stream = nullptr;
  };
  void CheckWritable(SInt32 inTrack) const;
  void WritePacket(Track& inTrack, AVPacket* inPacket);
  void Abort();

  std::string mPath;
  std::string mWritePath;  // where the file is written until it is complete
  int mWriteLock = -1;     // holds the lock of mWritePath while it is written
  const FFExporterInfo* mExporter;
  FFExportSettings mSettings;
  AVFormatContext* mFormat = nullptr;
  std::vector<Track> mTracks;
  bool mBegun = false;
  bool mDone = false;
  const std::atomic<bool>* mCancelFlag = nullptr;
};
