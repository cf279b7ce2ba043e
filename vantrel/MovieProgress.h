// The progress procedures Vantrel installs on its movie exporters, with the
// request's refCon as reference: every call sends a progress record of its
// phase, and a cancelled export answers userCanceledErr, which stops it.
#pragma once

#include "platform/movies/Movies.h"

OSErr videoMovieProgressProc(Movie inMovie, SInt16 inMessage, SInt16 inOperation, Fixed inPercentDone,
                             SInt32 inRefCon);
OSErr soundMovieProgressProc(Movie inMovie, SInt16 inMessage, SInt16 inOperation, Fixed inPercentDone,
                             SInt32 inRefCon);
