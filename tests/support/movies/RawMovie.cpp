#include "support/movies/RawMovie.h"

#include <algorithm>
#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"

namespace testmovies {

Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames, const RawFrameDrawer& inDraw,
                   const RawMovieOptions& inOptions) {
  Movie m = NewMovie(newMovieActive);
  if (!inOptions.keepMovieScale) SetMovieTimeScale(m, inOptions.timeScale);
  Track t = NewMovieTrack(m, Long2Fix(inWidth), Long2Fix(inHeight), 0);
  Media md = NewTrackMedia(t, VideoMediaType, inOptions.timeScale, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**desc).idSize = sizeof(ImageDescription);
  (**desc).cType = 'raw ';
  (**desc).width = static_cast<SInt16>(inWidth);
  (**desc).height = static_cast<SInt16>(inHeight);
  (**desc).hRes = (**desc).vRes = Long2Fix(72);
  (**desc).frameCount = 1;
  (**desc).depth = 32;
  (**desc).clutID = -1;
  if (inOptions.compressorName != nullptr) {
    const size_t length = std::min<size_t>(31, std::strlen(inOptions.compressorName));
    (**desc).name[0] = static_cast<unsigned char>(length);
    std::memcpy((**desc).name + 1, inOptions.compressorName, length);
  }
  const size_t rowBytes = static_cast<size_t>(inWidth) * 4;
  const UInt32 frameBytes = static_cast<UInt32>(rowBytes * static_cast<size_t>(inHeight));
  Handle data = NewHandle(static_cast<SInt32>(frameBytes));
  BeginMediaEdits(md);
  for (SInt32 k = 0; k < inFrames; ++k) {
    inDraw(k, reinterpret_cast<UInt8*>(*data), rowBytes);
    AddMediaSample(md, data, 0, frameBytes, inOptions.frameDuration, reinterpret_cast<SampleDescriptionHandle>(desc),
                   1, 0, nullptr);
  }
  EndMediaEdits(md);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1);
  return m;
}

OSErr AddPcmSoundTrack(Movie inMovie, UInt32 inRate, SInt16 inChannels, const std::vector<UInt8>& inPCM,
                       Track* outTrack) {
  Track t = NewMovieTrack(inMovie, 0, 0, 0x100);
  Media md = NewTrackMedia(t, SoundMediaType, static_cast<TimeScale>(inRate), nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  (**desc).descSize = sizeof(SoundDescription);
  (**desc).dataFormat = 'twos';
  (**desc).numChannels = inChannels;
  (**desc).sampleSize = 16;
  (**desc).sampleRate = static_cast<UnsignedFixed>(inRate << 16);
  const SInt32 frames = static_cast<SInt32>(inPCM.size() / (2 * static_cast<size_t>(inChannels)));
  Handle data = NewHandle(static_cast<SInt32>(inPCM.size()));
  if (!inPCM.empty()) std::memcpy(*data, inPCM.data(), inPCM.size());
  const OSErr err = AddMediaSample(md, data, 0, static_cast<UInt32>(inPCM.size()), 1,
                                   reinterpret_cast<SampleDescriptionHandle>(desc), frames, 0, nullptr);
  InsertMediaIntoTrack(t, 0, 0, frames, fixed1);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  if (outTrack) *outTrack = t;
  return err;
}

}  // namespace testmovies
