// The decoder of picture samples: codec type 'PICT', each sample the bytes of
// a QuickDraw picture drawn over opaque black onto the frame.
#pragma once

// Registers the decoder (once; later calls do nothing). Frames are drawn
// through QuickDraw's current port, which the decoder sets and gives back:
// such tracks are drawn on the threads that may use QuickDraw.
void InstallPictMovieDecoder();
