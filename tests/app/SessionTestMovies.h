// Generated movies for the session tests: a smooth, non-repeating scene
// seen through a camera whose shift per frame (or per field) is known,
// stored as raw ARGB frames in memory; the motion records a tracker would
// store for it; and the shift of a picture measured back against the scene.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovie.h"

class CMovieDocument;
#include "platform/movies/Movies.h"

namespace sessiontest {

constexpr SInt16 kW = 96, kH = 72;
constexpr TimeValue kFrame = 20;  // 30 frames per second at 600

double Scene(double inX, double inY);
// Draws the scene shifted by (dx, dy) into the rows of the frame (every
// row, or only the even or only the odd ones).
enum class ERows { kAll, kEven, kOdd };
void DrawShifted(CBuffer* ioFrame, double inDx, double inDy, ERows inRows = ERows::kAll);

// A random shake of up to 3 pixels around a standing camera (frame 0 at rest).
struct Shake {
  std::vector<double> dx, dy;
  explicit Shake(SInt32 inFrames, UInt32 inSeed = 99, double inAmplitude = 3.0);
};

// A movie of raw frames drawn by the callback.
Movie MakeMovie(SInt32 inFrames, const std::function<void(SInt32, CBuffer*)>& inDraw);
Movie MakeShakyMovie(const Shake& inShake);
// Frames whose two fields show the camera at different times (a steady pan,
// the even rows first): the picture of an interlaced camera.
Movie MakeInterlacedMovie(SInt32 inFrames);
// Frames that never change: nothing to tell the field order from.
Movie MakeStillMovie(SInt32 inFrames);

// The movie flattened into a file of its own in the temporary folder and
// opened from there, as a document opens it (the movie is disposed of).
CMovie* OpenAsFile(Movie inMovie, const std::string& inName);

// Stores the motion records of the shake as a motion-data track.
Track StoreMotion(CMovie& ioMovie, const Shake& inShake);

// Where the picture stands against the unshifted scene, in quarter pixels.
void MeasureShift(CBuffer* inFrame, double& outX, double& outY);
// The spread of a path around its best straight line.
double Jitter(const std::vector<double>& inValues);
double Spread(const std::vector<double>& inValues);

// Registers the layout classes the document's layouts use, as the
// application does at start-up.
void RegisterLayoutClasses();

// A movie document that has a visible window of its own to hang its
// sheets and drawer on (the window it builds, or a plain one).
CMovieDocument* NewWindowedDocument(CMovie* inMovie);

// The number of the movie's tracks at a layer.
SInt32 CountTracksAtLayer(Movie inMovie, SInt16 inLayer);

}  // namespace sessiontest
