// The FFmpeg-backed components of the movie toolbox: image decompressors for
// every codec libavcodec decodes, sound decoding of sound media, and the
// importer of foreign containers (MovieFFImport.h). One call installs them.
#pragma once

#include <vector>

#include "platform/movies/Movies.h"

// Registers the FFmpeg decoders with the toolbox's decoder registry and the
// foreign-container importer behind NewMovieFromFile. Calling it again does
// nothing more.
void InstallFFmpegMovieComponents();

// The decoder configuration a sample description carries in its extensions
// (the payload of its 'avcC', 'hvcC', 'esds' or 'glbl' atom, searched in that
// order, also inside a 'wave' atom); empty when it has none. `inFixedSize` is
// the size of the description's fixed fields (86 for images, 36 for sound).
std::vector<UInt8> GetDescriptionDecoderConfig(const std::vector<UInt8>& inDescBytes, size_t inFixedSize);

// The whole sound of a sound media decoded to interleaved 16-bit host-order
// samples at the media's own rate and channel count. Compressed media are
// decoded packet by packet (one media sample is one packet); a damaged
// packet fails with its error.
OSErr GetMediaSound16(Media inMedia, std::vector<SInt16>& outSamples, SInt16* outChannels, Float64* outSampleRate);

// The field order the stream of a video media states: 0 progressive, 3 upper
// (top) field first, 4 lower (bottom) field first, as the FFEncoder's
// kFFFields values; -1 when it states none. A 'fiel' extension of the first
// description decides; else libavcodec's parser reads the picture headers of
// the first samples (the field order libavcodec reports for the stream).
SInt32 GetMediaStatedFieldOrder(Media inMedia);
