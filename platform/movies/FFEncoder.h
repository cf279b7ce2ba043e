// Encoding of 32-bit ARGB pictures and 16-bit sound for the movie exporters,
// and the settings an exporter keeps. One `CFFEncoder` is one compressed
// stream; its packets go to a sink in the encoder's time base (the track's
// time scale for video, the sample rate for sound).
#pragma once

#include <functional>
#include <map>

#include "platform/movies/FFCommon.h"
#include "platform/movies/FFDecoder.h"

// Compression qualities, as the exporters' settings store them.
constexpr SInt32 kFFMinQuality = 0x000;
constexpr SInt32 kFFLowQuality = 0x100;
constexpr SInt32 kFFNormalQuality = 0x200;
constexpr SInt32 kFFHighQuality = 0x300;
constexpr SInt32 kFFMaxQuality = 0x3FF;
constexpr SInt32 kFFLosslessQuality = 0x400;

// The settings of one movie exporter. Zero means the exporter's default (or,
// for sizes, rates and channels, the source's).
struct FFExportSettings {
  OSType videoCodec = 0;        // 'avc1', 'mp4v', 'jpeg', 'apcn'/'apch'/'apcs'/'apco'/'ap4h', 'raw '
  SInt32 quality = kFFNormalQuality;
  SInt32 bitRate = 0;           // bits per second; 0: the quality decides
  SInt32 keyFrameInterval = 0;  // frames between key frames
  Fixed frameRate = 0;          // frames per second (16.16); 0: the source's timing
  SInt32 width = 0;
  SInt32 height = 0;
  Boolean soundOn = kTrue;
  OSType soundCodec = 0;        // 'sowt', 'twos', 'in24', 'ulaw', 'mp4a'
  SInt32 soundRate = 0;         // samples per second
  SInt16 soundChannels = 0;
  SInt32 soundBitRate = 0;      // compressed sound; 0: by channel count
};

// One movie exporter: its component subtype, container and file-name extension.
struct FFExporterInfo {
  OSType subtype;           // 'MooV', 'mpg4', 'VfW ', '3gpp', 'AIFF', 'WAVE', 'ULAW'
  const char* muxerName;    // libavformat's short name of the container
  OSType extension;         // four characters, blank-padded ('mov ', 'aif ')
  bool hasVideo;            // false for sound-only exporters
  OSType defaultVideoCodec;
  OSType defaultSoundCodec;
};

// The exporter of a subtype, or nullptr.
const FFExporterInfo* FFFindExporter(OSType inSubtype);
// Every exporter, in menu order; `outCount` receives their number.
const FFExporterInfo* FFGetExporters(ItemCount* outCount);
// The file-name extension of an exporter ('mov ', 'mp4 '...); throws kFFCantFindHandlerErr.
OSType FFGetFileNameExtension(OSType inSubtype);

// Field orders of interlaced output (as a movie's interlace mode names them):
// 0 progressive, 3 upper (odd) field first, 4 lower (even) field first.
constexpr SInt32 kFFFieldsProgressive = 0;
constexpr SInt32 kFFFieldsUpperFirst = 3;
constexpr SInt32 kFFFieldsLowerFirst = 4;

// Marks a frame as interlaced with the given field order.
void FFMarkInterlaced(AVFrame* ioFrame, bool inUpperFirst);

class CFFEncoder {
 public:
  typedef std::function<void(AVPacket*)> PacketSink;

  // A video encoder of `inCodec` for `inWidth` x `inHeight` pictures whose
  // times are in `inTimeScale`, `inFrameDuration` the usual frame duration.
  // `inGlobalHeader` keeps the parameter sets out of the packets (for MP4 and
  // QuickTime files). `inReorder` false keeps frames in display order (for
  // containers without display times, such as AVI). `inFieldOrder` other
  // than progressive codes interlaced pictures with that field order, each
  // field's colour converted on its own. A size the codec refuses (odd,
  // where its chroma is subsampled) is coded one row or column larger with
  // the picture's last row or column repeated; the context tells the coded
  // size. Throws kFFNoCodecErr for a codec that has no encoder, paramErr for
  // a size or setting the codec refuses.
  static std::unique_ptr<CFFEncoder> NewVideo(OSType inCodec, SInt32 inWidth, SInt32 inHeight, TimeScale inTimeScale,
                                              SInt32 inFrameDuration, const FFExportSettings& inSettings,
                                              bool inGlobalHeader, bool inReorder = true,
                                              SInt32 inFieldOrder = kFFFieldsProgressive);
  // A sound encoder of `inCodec` taking interleaved native-endian 16-bit
  // samples, its channels laid out as inChannelMask says (libavutil's mask)
  // where the codec can code that layout, else as the count's usual layout.
  static std::unique_ptr<CFFEncoder> NewSound(OSType inCodec, SInt32 inRate, SInt16 inChannels,
                                              const FFExportSettings& inSettings, bool inGlobalHeader,
                                              UInt64 inChannelMask = 0);
  ~CFFEncoder();
  CFFEncoder(const CFFEncoder&) = delete;
  CFFEncoder& operator=(const CFFEncoder&) = delete;

  // One picture at `inTime` lasting `inDuration` (time scale units). The
  // buffer must have the size the encoder was made for. Frames go in in display order.
  void EncodeFrame(const FFPixelBuffer& inSource, TimeValue64 inTime, SInt32 inDuration, const PacketSink& inSink);
  // `inFrames` sample frames of interleaved 16-bit samples.
  void EncodeSound(const SInt16* inSamples, UInt32 inFrames, const PacketSink& inSink);
  // Empties the encoder's delay; no more input after this.
  void Finish(const PacketSink& inSink);

  const AVCodecContext* GetContext() const { return mContext.get(); }
  bool IsVideo() const { return mContext->codec_type == AVMEDIA_TYPE_VIDEO; }

 private:
  CFFEncoder() = default;
  void Send(const AVFrame* inFrame, const PacketSink& inSink);
  void SendSoundFrame(int inSamples, const PacketSink& inSink);

  FFCodecContextPtr mContext;
  FFPacketPtr mPacket;
  FFFramePtr mFrame;
  FFSwsPtr mScaler;
  FFSwrPtr mResampler;
  std::map<SInt64, SInt64> mDurations;  // display time -> duration of the frames in the encoder
  std::vector<SInt16> mSoundQueue;      // interleaved samples waiting for a whole codec frame
  SInt64 mNextSoundTime = 0;
  SInt32 mPictureWidth = 0, mPictureHeight = 0;  // the pictures' own size (the coded size may be larger)
  bool mInterlaced = false;
  bool mUpperFirst = true;
  bool mFinished = false;
};
