#include "media/CMovieTrack.h"

#include "media/CBuffer.h"

#include "platform/base/FixMath.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieTrackMatte.h"

CMovieTrack::CMovieTrack(Movie inMovie, Rect inRect) : mMovie(inMovie), mRect(inRect) {
  ThrowIfNil_(inMovie);
  mTrack = NewMovieTrack(inMovie, Long2Fix(inRect.right - inRect.left), Long2Fix(inRect.bottom - inRect.top), 0);
  OSErr err = GetMoviesError();
  if (!mTrack) Throw_(err != noErr ? err : err_NilPointer);
  if (inRect.left != 0 || inRect.top != 0) {
    MatrixRecord m;
    SetIdentityMatrix(&m);
    TranslateMatrix(&m, Long2Fix(inRect.left), Long2Fix(inRect.top));
    SetTrackMatrix(mTrack, &m);
  }
}

CMovieTrack::~CMovieTrack() = default;

OSErr CMovieTrack::SetTrackMatte(CBuffer* inBuffer, Rect* inRect) {
  if (!inBuffer || !mTrack) return ErrorCodeToOSErr(err_NilPointer);
  GWorldPtr world = inBuffer->CreateGWorld(inRect, nullptr);
  if (!world) return ErrorCodeToOSErr(err_NilPointer);
  ::SetTrackMatte(mTrack, GetGWorldPixMap(world));
  OSErr err = GetMoviesError();
  DisposeGWorld(world);
  return err;
}

CMovieTrackMedia::CMovieTrackMedia(Movie inMovie, Rect inRect, OSType inMediaType, SInt32* inTimeScale)
    : CMovieTrack(inMovie, inRect), mMediaType(inMediaType), mTimeScale(inTimeScale ? *inTimeScale : 25) {
  mMedia = NewTrackMedia(mTrack, inMediaType, mTimeScale, nullptr, 0);
  OSErr err = GetMoviesError();
  if (!mMedia) {
    DisposeMovieTrack(mTrack);
    mTrack = nullptr;
    Throw_(err != noErr ? err : err_NilPointer);
  }
  try {
    SInt16 count = 0;
    GetMediaDataRefCount(mMedia, &count);
    if (count == 0) {
      // A movie without a file keeps its new samples in memory.
      Handle dataRef = NewHandle(sizeof(Handle));
      ThrowIfNil_(dataRef);
      Handle block = NewHandle(0);
      if (!block) {
        DisposeHandle(dataRef);
        Throw_(err_NilPointer);
      }
      *reinterpret_cast<Handle*>(*dataRef) = block;
      SInt16 index = 0;
      OSErr e = AddMediaDataRef(mMedia, &index, dataRef, 'hndl');
      DisposeHandle(dataRef);
      if (e != noErr) {
        DisposeHandle(block);
        Throw_(e);
      }
      mDataRefIndex = index;
      SetMediaDefaultDataRefIndex(mMedia, index);
    }
    SetMediaQuality(mMedia, mQuality);
    ThrowIfOSErr_(BeginMediaEdits(mMedia));
    mDataHandler = GetMediaDataHandler(mMedia, mDataRefIndex);
    if (mDataHandler) DataHOpenForWrite(mDataHandler);
  } catch (...) {
    DisposeTrackMedia(mMedia);
    DisposeMovieTrack(mTrack);
    mMedia = nullptr;
    mTrack = nullptr;
    throw;
  }
}

OSErr CMovieTrackMedia::FinishTrack() {
  if (mFinished) return noErr;
  mFinished = true;
  OSErr err = noErr;
  if (mDataHandler) {
    DataHCloseForWrite(mDataHandler);
    CloseComponent(mDataHandler);
    mDataHandler = nullptr;
  }
  if (!mMedia) return noErr;
  EndMediaEdits(mMedia);
  if (mInsertMedia) {
    err = InsertMediaIntoTrack(mTrack, 0, 0, GetMediaDuration(mMedia), fixed1);
    if (err == noErr) return noErr;
  }
  {
    // Not inserted, by request or by failure: leave no half-built track.
    DisposeTrackMedia(mMedia);
    DisposeMovieTrack(mTrack);
    mMedia = nullptr;
    mTrack = nullptr;
  }
  return err;
}

CMovieTrackMedia::~CMovieTrackMedia() { FinishTrack(); }

OSErr CMovieTrackMedia::SetGraphicsMode(SInt32 inMode, const RGBColor* inColor) {
  if (!mMedia) return ErrorCodeToOSErr(err_NilPointer);
  return MediaSetGraphicsMode(mMedia, inMode, inColor);
}

OSErr CMovieTrackMedia::AddNewDataRef(Handle inDataRef, OSType inType, SInt16* outIndex) {
  SInt16 index = 0;
  OSErr err = AddMediaDataRef(mMedia, &index, inDataRef, inType);
  if (err == noErr) err = SetDataRefIndex(index);
  if (outIndex) *outIndex = mDataRefIndex;
  return err;
}

OSErr CMovieTrackMedia::SetDataRefIndex(SInt16 inIndex) {
  OSErr err = SetMediaDefaultDataRefIndex(mMedia, inIndex);
  if (err != noErr) return err;
  if (mDataHandler) {
    DataHCloseForWrite(mDataHandler);
    CloseComponent(mDataHandler);
  }
  mDataRefIndex = inIndex;
  mDataHandler = GetMediaDataHandler(mMedia, inIndex);
  if (!mDataHandler) return ErrorCodeToOSErr(err_NilPointer);
  return DataHOpenForWrite(mDataHandler);
}

OSErr CMovieTrackMedia::AddSample(SInt32 inDuration, Handle inData, SInt32 inSize, SInt32 inDataOffset,
                                  SampleDescriptionHandle inDescription, SInt16 inFlags) {
  if (!inData || !inDescription || !*inDescription) return ErrorCodeToOSErr(err_NilPointer);
  if (!mDataHandler) return ErrorCodeToOSErr(err_NilPointer);
  if (inSize < 0 || inDataOffset < 0 || static_cast<SInt64>(inDataOffset) + inSize > GetHandleSize(inData))
    return paramErr;
  wide fileOffset{};
  OSErr err;
  {
    StHandleLocker lock(inData);
    err = DataHAppend64(mDataHandler, *inData + inDataOffset, &fileOffset, static_cast<UInt32>(inSize));
    if (err != noErr) {
      SInt32 offset = -1;
      err = DataHPutData(mDataHandler, inData, inDataOffset, &offset, inSize);
      fileOffset = SInt64ToWide(offset);
    }
  }
  if (err != noErr) return err;
  (**inDescription).dataRefIndex = mDataRefIndex;
  SampleReference64Record ref{};
  ref.dataOffset = fileOffset;
  ref.dataSize = static_cast<UInt32>(inSize);
  ref.durationPerSample = inDuration;
  ref.numberOfSamples = 1;
  ref.sampleFlags = inFlags;
  err = AddMediaSampleReferences64(mMedia, inDescription, 1, &ref, nullptr);
  if (err != noErr)
    err = AddMediaSampleReference(mMedia, static_cast<SInt32>(WideToSInt64(fileOffset)), static_cast<UInt32>(inSize),
                                  inDuration, inDescription, 1, inFlags, nullptr);
  return err;
}
