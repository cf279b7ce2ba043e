// Records the drawing of the current port into a QuickDraw picture.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/graphics/QuickDraw.h"

class PictCreator {
 public:
  PictCreator() = default;
  // Closes a recording still open and kills a picture nobody took.
  virtual ~PictCreator();
  PictCreator(const PictCreator&) = delete;
  PictCreator& operator=(const PictCreator&) = delete;

  // Clips the current port to the rectangle and starts a colour picture of it
  // (72 dpi). An earlier picture that was never taken is killed; an open
  // recording is closed first. Answers the drawing error (0 when recording).
  OSErr StartRecording(const Rect& inRect);
  // Ends the recording in the port it began in and gives the port its clip back.
  void StopRecording();
  // The picture, which the caller then owns and kills; nil while recording.
  PicHandle GetPict();

  bool IsRecording() const { return mRecording; }

 protected:
  PicHandle mPict = nullptr;
  bool mOwnsPict = true;
  bool mRecording = false;
  CGrafPtr mPort = nullptr;
  RgnHandle mSavedClip = nullptr;
};
