// The video data source of an export: steps through the movie's frames at
// the times the exporter asks for and answers each request with the frame
// rendered through its correction from the stabilisation control track, or,
// where the movie has no correction, the movie's own stored sample passed
// through (or the decoded frame where a stored sample cannot be passed on).
#pragma once

#include "platform/graphics/QuickDraw.h"
#include "platform/movies/MovieExport.h"

class CBuffer;

struct VideoExportData {
  MovieExportComponent exporter = nullptr;
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
  SInt32 naturalWidth = 0;   // the movie's natural size
  SInt32 naturalHeight = 0;
  SInt32 width = 0;          // the output size the exporter chose
  SInt32 height = 0;
  GWorldPtr world = nullptr;         // over the source buffer: the movie draws here
  CBuffer* source = nullptr;         // natural size, 8-bit ARGB
  CBuffer* output = nullptr;         // output size, made at the first request
  Ptr sourceData = nullptr;
  SInt32 sourceSize = 0;
  Ptr outputData = nullptr;
  SInt32 outputSize = 0;
  bool rendered = false;             // the last answer was not a stored sample passed through
  ImageDescriptionHandle sourceDesc = nullptr;
  ImageDescriptionHandle outputDesc = nullptr;
  Handle sample = nullptr;
  SampleDescriptionHandle sampleDesc = nullptr;
  Float32 hScale = 1.0f;             // output size / natural size, per axis
  Float32 vScale = 1.0f;
  bool singleField = false;
  TimeValue nextTime = 0;
  UInt32 lastYield = 0;
  SInt32 fieldOrder = 0;             // of the answered pictures: 0 progressive, 3 upper first, 4 lower first
};

// Sets the source up on the movie's first enabled video track and adds it to
// the exporter. Failures are thrown; what was made is released by
// DisposeVideoExportSource.
void SetUpVideoExportSource(VideoExportData& ioData, MovieExportComponent inExporter, Movie inMovie, Track inTrack,
                            bool inSingleField);
void DisposeVideoExportSource(VideoExportData& ioData);

OSErr myVideoExportGetPropertyProc(void* inRecord, SInt32 inTrackID, OSType inProperty, void* ioValue);
OSErr myVideoExportGetDataProc(void* inRecord, MovieExportGetDataParams* ioParams);
