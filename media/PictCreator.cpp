#include "media/PictCreator.h"

#include "platform/base/FixMath.h"

PictCreator::~PictCreator() {
  if (mRecording) StopRecording();
  if (mPict && mOwnsPict) KillPicture(mPict);
  mPict = nullptr;
}

OSErr PictCreator::StartRecording(const Rect& inRect) {
  if (mRecording) StopRecording();
  if (mPict && mOwnsPict) KillPicture(mPict);
  mPict = nullptr;
  mOwnsPict = true;

  CGrafPtr port = nullptr;
  GetGWorld(&port, nullptr);
  mPort = port;
  mSavedClip = NewRgn();
  if (mSavedClip) GetClip(mSavedClip);
  ClipRect(&inRect);

  OpenCPicParams params{};
  params.srcRect = inRect;
  params.hRes = Long2Fix(72);
  params.vRes = Long2Fix(72);
  params.version = -2;
  mPict = OpenCPicture(&params);
  if (!mPict) {
    // Nothing is recording: give the port its clip back at once.
    OSErr err = QDError();
    if (mSavedClip) {
      SetClip(mSavedClip);
      DisposeRgn(mSavedClip);
      mSavedClip = nullptr;
    }
    mPort = nullptr;
    return err != noErr ? err : paramErr;
  }
  mRecording = true;
  return noErr;
}

void PictCreator::StopRecording() {
  if (mRecording) {
    // The recording belongs to the port it started in, which need not be
    // the current one any more.
    CGrafPtr current = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&current, &device);
    if (mPort && IsValidPort(mPort)) {
      bool switchPort = mPort != current;
      if (switchPort) SetGWorld(mPort, nullptr);
      if (mPict) ClosePicture();
      if (mSavedClip) SetClip(mSavedClip);
      if (switchPort) SetGWorld(current, device);
    }
  }
  if (mSavedClip) {
    DisposeRgn(mSavedClip);
    mSavedClip = nullptr;
  }
  mPort = nullptr;
  mRecording = false;
}

PicHandle PictCreator::GetPict() {
  if (mRecording) return nullptr;
  mOwnsPict = false;
  return mPict;
}
