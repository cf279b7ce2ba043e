// Movies drawing into QuickDraw graphics worlds.
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace movies {

bool ResolvePortTarget(MovieObj& m) {
  CGrafPtr port = static_cast<CGrafPtr>(m.port);
  m.hasTarget = false;
  if (!port || !IsValidPort(port)) return false;
  PixMapHandle pm = GetPortPixMap(port);
  if (!pm || !*pm || (**pm).pixelFormat != k32ARGBPixelFormat || !GetPixBaseAddr(pm)) return false;
  Rect bounds;
  GetPixBounds(pm, &bounds);
  m.target.baseAddr = GetPixBaseAddr(pm);
  m.target.rowBytes = GetPixRowBytes(pm);
  m.target.bounds = bounds;
  m.hasTarget = true;
  return true;
}

}  // namespace movies

void SetMovieGWorld(Movie theMovie, CGrafPtr port, GDHandle gdh) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (!port) GetGWorld(&port, &gdh);
    if (port && !IsValidPort(port)) Throw_(paramErr);
    m.port = port;
    m.device = gdh;
    m.hasTarget = false;
    m.needsDraw = true;
  });
}

void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDHandle* gdh) {
  GuardedErr([&] {
    MovieObj& m = GetMovie(theMovie);
    if (port) *port = static_cast<CGrafPtr>(m.port);
    if (gdh) *gdh = static_cast<GDHandle>(m.device);
  });
}
