#include "media/CMovieTrackMediaPict.h"

#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MoviePictCodec.h"

CMovieTrackMediaPict::CMovieTrackMediaPict(Movie inMovie, Rect inRect, SInt32* inTimeScale)
    : CMovieTrackMedia(inMovie, inRect, VideoMediaType, inTimeScale) {
  // The toolbox draws picture samples once their decoder is known.
  InstallPictMovieDecoder();
  mDescription = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  if (!mDescription) {
    SetInsertMediaIntoTrack(false);
    FinishTrack();
    Throw_(err_NilPointer);
  }
  const RGBColor black = {0, 0, 0};
  SetGraphicsMode(kPictGraphicsMode, &black);
}

CMovieTrackMediaPict::~CMovieTrackMediaPict() {
  if (mDescription) DisposeHandle(reinterpret_cast<Handle>(mDescription));
}

OSErr CMovieTrackMediaPict::AddPict(PicHandle inPicture, SInt32 inDuration) {
  if (!inPicture || !*inPicture || !mDescription) return ErrorCodeToOSErr(err_NilPointer);
  Rect frame;
  if (!IsValidPicture(inPicture) || !QDGetPictureBounds(inPicture, &frame)) return paramErr;
  Handle data = reinterpret_cast<Handle>(inPicture);
  SInt32 size = GetHandleSize(data);

  ImageDescription& d = **mDescription;
  std::memset(&d, 0, sizeof(d));
  d.idSize = static_cast<SInt32>(sizeof(ImageDescription));
  d.cType = kPictCodecType;
  d.width = static_cast<SInt16>(frame.right - frame.left);
  d.height = static_cast<SInt16>(frame.bottom - frame.top);
  d.hRes = Long2Fix(72);
  d.vRes = Long2Fix(72);
  d.dataSize = size;
  d.frameCount = 1;
  static const char kName[] = "Picture";
  d.name[0] = static_cast<unsigned char>(sizeof(kName) - 1);
  std::memcpy(d.name + 1, kName, sizeof(kName) - 1);
  d.depth = 32;
  d.clutID = -1;
  // Every picture stands alone: each sample is a sync sample.
  return AddSample(inDuration, data, size, 0, reinterpret_cast<SampleDescriptionHandle>(mDescription), 0);
}
