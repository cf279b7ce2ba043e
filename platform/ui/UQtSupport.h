// Inside the desktop layer only: the Qt application object, the event
// source that lets our event loop drive Qt, and handing work from
// cooperative threads to the main thread. Not for the program's code.
#pragma once

#include <functional>

#include "platform/base/MacTypes.h"

class QImage;
class QWidget;
struct GrafPort;

namespace UQt {

// Makes the QApplication when there is none yet (arguments of the process
// when known) and installs the event source into UEventLoop. Main thread.
void EnsureApplication();
// Whether a QApplication exists.
bool HasApplication();
// Runs inWork on the main thread: directly there, else handed to the main
// thread while the calling cooperative thread waits (exceptions come back).
void OnMain(const std::function<void()>& inWork);

// Converts rows [inTop, inBottom) and columns [inLeft, inRight) of a 32-bit
// A,R,G,B port into the same place of an ARGB32 image, band-parallel.
void ConvertPortToImage(GrafPort* inPort, QImage& ioImage, SInt32 inLeft, SInt32 inTop, SInt32 inRight, SInt32 inBottom);

}  // namespace UQt
