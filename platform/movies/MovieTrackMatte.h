// Track mattes: a pixel map that masks what a track draws. The matte is kept
// with the track and travels with it (copies, edit states, movie files: the
// track's 'matt' atom holding a 'kmat' atom of an uncompressed image).
// Drawing does not apply it.
#pragma once

#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"

// Sets the track's matte to a copy of the pixel map's pixels; nil removes the
// matte. Results through GetMoviesError: invalidTrack for a stale track,
// paramErr for a pixel map without pixels or of a format with no image
// description.
void SetTrackMatte(Track theTrack, PixMapHandle theMatte);
