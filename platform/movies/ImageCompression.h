// The standard image compression component: an instance holds the settings a
// picture sequence would be compressed with (codec, depth, spatial and
// temporal quality, frame rate, key-frame rate, data-rate limit) over the
// video codecs libavcodec can encode in this build. Its whole state travels
// as one atom container (scSettingsStateType), so that a caller can copy an
// instance's settings into another or keep them. Instances are opened with
// OpenADefaultComponent and closed with CloseComponent.
#pragma once

#include <string>
#include <vector>

#include "platform/movies/MovieExport.h"
#include "platform/movies/Movies.h"

constexpr OSType StandardCompressionType = 'scdi';
constexpr OSType StandardCompressionSubType = 'imag';

// The instance's whole state: a Handle holding an atom container, one
// big-endian UInt32 atom (id 1) per value below. SCGetInfo answers a new
// handle the caller disposes of; SCSetInfo takes the values it finds (atoms
// it does not know are ignored, missing ones keep their value).
constexpr OSType scSettingsStateType = 'ssta';
constexpr OSType scStateCodecAtom = 'cdec';           // CodecType
constexpr OSType scStateDepthAtom = 'dpth';           // 0 (the codec's), 8, 16, 24, 32 or 40 (grays)
constexpr OSType scStateSpatialQualityAtom = 'sqal';  // 0 .. codecLosslessQuality
constexpr OSType scStateTemporalQualityAtom = 'tqal';
constexpr OSType scStateFrameRateAtom = 'frat';       // Fixed frames per second; 0: the source's
constexpr OSType scStateKeyFrameRateAtom = 'kfrm';    // frames between key frames; 0: none forced
constexpr OSType scStateDataRateAtom = 'drat';        // bytes per second; 0: no limit

// Qualities.
constexpr UInt32 codecMinQuality = 0x000;
constexpr UInt32 codecLowQuality = 0x100;
constexpr UInt32 codecNormalQuality = 0x200;
constexpr UInt32 codecHighQuality = 0x300;
constexpr UInt32 codecMaxQuality = 0x3FF;
constexpr UInt32 codecLosslessQuality = 0x400;

// A nil or closed instance.
constexpr OSErr invalidComponentID = -3000;

// A video codec the component offers.
struct SCCodecInfo {
  CodecType codecType;
  std::string name;         // what a menu shows
  std::string encoderName;  // libavcodec's encoder
};
// The codecs with an encoder here, in menu order.
const std::vector<SCCodecInfo>& SCGetCodecList();

// badComponentType for a type other than StandardCompressionType,
// cantFindHandler for a subtype other than StandardCompressionSubType.
OSErr OpenADefaultComponent(OSType inType, OSType inSubtype, ComponentInstance* outInstance);
// The same, answering the instance (nil on failure).
ComponentInstance OpenDefaultComponent(OSType inType, OSType inSubtype);
// The number of standard compression instances open.
ItemCount CountStandardCompressionInstances();

// Reads one kind of setting: scSpatialSettingsType (SCSpatialSettings),
// scTemporalSettingsType (SCTemporalSettings), scDataRateSettingsType
// (SCDataRateSettings) or scSettingsStateType (Handle*). invalidComponentID
// for a nil or closed instance, paramErr for other types or a nil pointer.
OSErr SCGetInfo(ComponentInstance ci, OSType inType, void* outInfo);
// Writes one kind of setting (same types; scSettingsStateType takes a
// Handle*). paramErr for a codec not in the list or a value out of range;
// the instance keeps all its settings then.
OSErr SCSetInfo(ComponentInstance ci, OSType inType, void* inInfo);
