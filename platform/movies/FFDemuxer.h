// Foreign containers (MP4, AVI, Matroska, MPEG, DV, Ogg...) read through
// libavformat and described in the terms of the movie model: per video and
// sound stream a time scale, a sample description's fields and a sample table.
// The file is only ever read.
#pragma once

#include <string>
#include <vector>

#include "platform/movies/FFCommon.h"

// One sample (for sound it may be a chunk of many sample frames: `duration`
// then counts them). Times are in the track's time scale, in decode order.
struct FFSampleInfo {
  TimeValue64 decodeTime = 0;
  SInt32 duration = 0;
  SInt32 compositionOffset = 0;  // display time - decode time
  UInt32 size = 0;
  SInt64 offset = 0;             // where the sample's bytes start in the file
  Boolean sync = kTrue;
  Boolean damaged = kFalse;      // the container found the sample's data incomplete
};

struct FFTrackInfo {
  SInt32 streamIndex = -1;
  OSType handlerType = 0;        // 'vide' or 'soun'
  TimeScale timeScale = 0;
  TimeValue64 duration = 0;      // end of the last sample
  TimeValue64 firstDisplayTime = 0;  // the earliest display time: where the track's edit begins
  // The container's clock at decode time 0, in the track's scale: tracks of
  // one file line up by originTime + firstDisplayTime.
  TimeValue64 originTime = 0;
  OSType codecType = 0;          // sample description data format
  std::string compressorName;
  std::vector<UInt8> codecPrivate;  // decoder configuration ('avcC'/'hvcC' payload, decoder-specific info)
  // Video.
  SInt32 width = 0;
  SInt32 height = 0;
  SInt16 depth = 24;
  UInt32 pixelFormat = 0;        // the pictures' pixel format as a 'cspc' code, 0 when unknown
  SInt32 pixelAspectH = 1;       // horizontal : vertical spacing of pixels
  SInt32 pixelAspectV = 1;
  Fixed frameRate = 0;           // nominal frames per second (16.16), 0 when unknown
  // Sound.
  Float64 sampleRate = 0;
  SInt16 channels = 0;
  SInt16 sampleSize = 0;         // bits per sample
  UInt64 channelMask = 0;        // the channels' layout as the file states it (libavutil's mask), 0 when it does not
  // Sample frames at the start that the decoder gives before the sound
  // itself (an encoder's and decoder's delay), as the file or the codec says.
  SInt32 primingFrames = 0;
  // The container's times count the priming (its first frame is at the
  // first time, the sound itself later); false: the container kept no time
  // for it, and the sound itself begins at the first time.
  Boolean primingTimed = kTrue;
  // Samples in decode order.
  std::vector<FFSampleInfo> samples;
  Boolean fromIndex = kFalse;    // the container's own index gave the table (not a scan of the file)
};

class CFFDemuxer {
 public:
  // Opens and indexes the file. A missing file throws fnfErr, a file that is
  // no readable movie kFFNoMovieFoundErr.
  explicit CFFDemuxer(const std::string& inPath);
  ~CFFDemuxer();
  CFFDemuxer(const CFFDemuxer&) = delete;
  CFFDemuxer& operator=(const CFFDemuxer&) = delete;

  ItemCount CountTracks() const { return static_cast<ItemCount>(mTracks.size()); }
  // Tracks from 0, video and sound only, in stream order.
  const FFTrackInfo& GetTrack(ItemCount inIndex) const;
  const std::string& GetFormatName() const { return mFormatName; }
  SInt64 GetFileSize() const { return mFileSize; }

  // The bytes of one sample. A sample that lies beyond the end of a truncated
  // file throws eofErr; a bad index kFFInvalidSampleNumErr.
  void ReadSample(ItemCount inTrack, ItemCount inSample, std::vector<UInt8>& outData);

 private:
  struct TrackState {
    SInt32 offsetDelta = 0;   // sample bytes begin this far after the container's packet position
    bool direct = false;      // bytes read straight from the file by offset and size
    SInt64 timeMultiplier = 1;
    SInt64 dtsBase = 0;       // the container's decode time of the first sample
  };
  void BuildFromIndex(FFTrackInfo& ioTrack, AVStream* inStream, SInt64 inMultiplier);
  void ScanPackets(const std::vector<SInt32>& inTrackIndexes, bool inCompositionOnly);
  void Calibrate();
  void ReadThroughDemuxer(ItemCount inTrack, const FFSampleInfo& inSample, std::vector<UInt8>& outData);
  void ReadFileBytes(SInt64 inOffset, UInt32 inSize, UInt8* outData);

  std::string mPath;
  std::string mFormatName;
  SInt64 mFileSize = 0;
  int mFile = -1;
  FFInputPtr mInput;
  FFPacketPtr mPacket;
  std::vector<FFTrackInfo> mTracks;
  std::vector<TrackState> mStates;
  SInt64 mLastReadPos = -1;  // packet position of the last sample read through libavformat
};
