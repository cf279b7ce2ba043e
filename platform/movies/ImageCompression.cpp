#include "platform/movies/ImageCompression.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <memory>

#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace {

// The codecs the component may offer; those without an encoder in this
// build are left out of the list.
struct SCandidate {
  CodecType type;
  const char* name;
  const char* encoder;
};
constexpr SCandidate kCandidates[] = {
    {'jpeg', "JPEG", "mjpeg"},
    {'avc1', "H.264", "libx264"},
    {'hvc1', "HEVC", "libx265"},
    {'mp4v', "MPEG-4 Video", "mpeg4"},
    {'apcn', "ProRes 422", "prores_ks"},
    {'apch', "ProRes 422 HQ", "prores_ks"},
    {'png ', "PNG", "png"},
    {'dvc ', "DV", "dvvideo"},
    {'raw ', "Uncompressed", "rawvideo"},
};

// Instances alive (closing one, or dropping one on a failed open, counts down).
std::atomic<SInt32> sInstances{0};

struct CompressorObj {
  SCSpatialSettings spatial{};
  SCTemporalSettings temporal{};
  SCDataRateSettings dataRate{};
};

// What the registry holds for an open instance.
struct CompressorInstance {
  CompressorInstance() { ++sInstances; }
  ~CompressorInstance() { --sInstances; }
  CompressorInstance(const CompressorInstance&) = delete;
  CompressorInstance& operator=(const CompressorInstance&) = delete;
  CompressorObj settings;
};

bool IsOffered(CodecType inType) {
  for (const SCCodecInfo& c : SCGetCodecList())
    if (c.codecType == inType) return true;
  return false;
}

bool IsDepth(SInt16 inDepth) {
  return inDepth == 0 || inDepth == 8 || inDepth == 16 || inDepth == 24 || inDepth == 32 || inDepth == 40;
}

// Throws paramErr for settings the component cannot hold.
void Check(const CompressorObj& inObj) {
  if (!IsOffered(inObj.spatial.codecType) || !IsDepth(inObj.spatial.depth) ||
      inObj.spatial.spatialQuality > codecLosslessQuality || inObj.temporal.temporalQuality > codecLosslessQuality ||
      inObj.temporal.frameRate < 0 || inObj.temporal.keyFrameRate < 0 || inObj.dataRate.dataRate < 0 ||
      inObj.dataRate.frameDuration < 0 || inObj.dataRate.minSpatialQuality > codecLosslessQuality ||
      inObj.dataRate.minTemporalQuality > codecLosslessQuality)
    Throw_(paramErr);
}

CompressorObj& GetCompressor(ComponentInstance ci) {
  auto p = std::static_pointer_cast<CompressorInstance>(Lookup(FromHandle(ci), Kind::kCompressor));
  if (!p) Throw_(invalidComponentID);
  return p->settings;
}

void AddValue(Handle ioState, OSType inAtom, UInt32 inValue) {
  UInt8 data[4];
  WriteBE32(data, inValue);
  ThrowIfOSErr_(QTInsertChild(ioState, kParentAtomIsContainer, inAtom, 1, 0, 4, data, nullptr));
}

// The atom's value when the state has it (a value of another size is malformed).
bool FindValue(Handle inState, OSType inAtom, UInt32& outValue) {
  const QTAtom atom = QTFindChildByID(inState, kParentAtomIsContainer, inAtom, 1, nullptr);
  if (atom == 0) return false;
  UInt8 data[4];
  SInt32 size = 0;
  if (QTCopyAtomDataToPtr(inState, atom, false, 4, data, &size) != noErr || size != 4) Throw_(paramErr);
  outValue = ReadBE32(data);
  return true;
}

Handle SaveState(const CompressorObj& inObj) {
  QTAtomContainer state = nullptr;
  ThrowIfOSErr_(QTNewAtomContainer(&state));
  try {
    AddValue(state, scStateCodecAtom, inObj.spatial.codecType);
    AddValue(state, scStateDepthAtom, static_cast<UInt32>(inObj.spatial.depth));
    AddValue(state, scStateSpatialQualityAtom, inObj.spatial.spatialQuality);
    AddValue(state, scStateTemporalQualityAtom, inObj.temporal.temporalQuality);
    AddValue(state, scStateFrameRateAtom, static_cast<UInt32>(inObj.temporal.frameRate));
    AddValue(state, scStateKeyFrameRateAtom, static_cast<UInt32>(inObj.temporal.keyFrameRate));
    AddValue(state, scStateDataRateAtom, static_cast<UInt32>(inObj.dataRate.dataRate));
  } catch (...) {
    QTDisposeAtomContainer(state);
    throw;
  }
  return state;
}

CompressorObj LoadState(const CompressorObj& inCurrent, Handle inState) {
  if (!inState || QTValidateAtomContainer(inState) != noErr) Throw_(paramErr);
  CompressorObj obj = inCurrent;
  UInt32 v = 0;
  if (FindValue(inState, scStateCodecAtom, v)) obj.spatial.codecType = v;
  if (FindValue(inState, scStateDepthAtom, v)) {
    if (v > 40) Throw_(paramErr);
    obj.spatial.depth = static_cast<SInt16>(v);
  }
  if (FindValue(inState, scStateSpatialQualityAtom, v)) obj.spatial.spatialQuality = v;
  if (FindValue(inState, scStateTemporalQualityAtom, v)) obj.temporal.temporalQuality = v;
  if (FindValue(inState, scStateFrameRateAtom, v)) obj.temporal.frameRate = static_cast<Fixed>(v);
  if (FindValue(inState, scStateKeyFrameRateAtom, v)) obj.temporal.keyFrameRate = static_cast<SInt32>(v);
  if (FindValue(inState, scStateDataRateAtom, v)) obj.dataRate.dataRate = static_cast<SInt32>(v);
  Check(obj);
  return obj;
}

// Failures are answered, never thrown.
template <class F>
OSErr Caught(F&& inBody) {
  try {
    inBody();
    return noErr;
  } catch (const std::exception& e) {
    return ErrorOf(e);
  }
}

}  // namespace

const std::vector<SCCodecInfo>& SCGetCodecList() {
  static const std::vector<SCCodecInfo> sList = [] {
    std::vector<SCCodecInfo> list;
    for (const SCandidate& c : kCandidates) {
      const AVCodec* codec = avcodec_find_encoder_by_name(c.encoder);
      if (codec && codec->type == AVMEDIA_TYPE_VIDEO) list.push_back(SCCodecInfo{c.type, c.name, c.encoder});
    }
    return list;
  }();
  return sList;
}

OSErr OpenADefaultComponent(OSType inType, OSType inSubtype, ComponentInstance* outInstance) {
  if (!outInstance) return paramErr;
  *outInstance = nullptr;
  if (inType != StandardCompressionType) return badComponentType;
  if (inSubtype != StandardCompressionSubType) return cantFindHandler;
  return Caught([&] {
    const std::vector<SCCodecInfo>& codecs = SCGetCodecList();
    if (codecs.empty()) Throw_(cantOpenHandler);
    auto instance = std::make_shared<CompressorInstance>();
    CompressorObj& obj = instance->settings;
    obj.spatial.codecType = IsOffered('jpeg') ? CodecType('jpeg') : codecs.front().codecType;
    obj.spatial.depth = 24;
    obj.spatial.spatialQuality = codecNormalQuality;
    obj.temporal.temporalQuality = codecNormalQuality;
    obj.temporal.frameRate = 0;
    obj.temporal.keyFrameRate = 24;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    const UInt64 id = NewId();
    Register(id, Kind::kCompressor, instance, true);
    *outInstance = ToHandle<ComponentInstance>(id);
  });
}

ComponentInstance OpenDefaultComponent(OSType inType, OSType inSubtype) {
  ComponentInstance ci = nullptr;
  return OpenADefaultComponent(inType, inSubtype, &ci) == noErr ? ci : nullptr;
}

ItemCount CountStandardCompressionInstances() {
  return static_cast<ItemCount>(sInstances.load());
}

OSErr SCGetInfo(ComponentInstance ci, OSType inType, void* outInfo) {
  return Caught([&] {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    const CompressorObj& obj = GetCompressor(ci);
    if (!outInfo) Throw_(paramErr);
    switch (inType) {
      case scSpatialSettingsType: *static_cast<SCSpatialSettings*>(outInfo) = obj.spatial; break;
      case scTemporalSettingsType: *static_cast<SCTemporalSettings*>(outInfo) = obj.temporal; break;
      case scDataRateSettingsType: *static_cast<SCDataRateSettings*>(outInfo) = obj.dataRate; break;
      case scSettingsStateType: *static_cast<Handle*>(outInfo) = SaveState(obj); break;
      default: Throw_(paramErr);
    }
  });
}

OSErr SCSetInfo(ComponentInstance ci, OSType inType, void* inInfo) {
  return Caught([&] {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    CompressorObj& obj = GetCompressor(ci);
    if (!inInfo) Throw_(paramErr);
    CompressorObj next = obj;
    switch (inType) {
      case scSpatialSettingsType:
        next.spatial = *static_cast<const SCSpatialSettings*>(inInfo);
        next.spatial.codec = nullptr;
        break;
      case scTemporalSettingsType: next.temporal = *static_cast<const SCTemporalSettings*>(inInfo); break;
      case scDataRateSettingsType: next.dataRate = *static_cast<const SCDataRateSettings*>(inInfo); break;
      case scSettingsStateType: next = LoadState(obj, *static_cast<Handle*>(inInfo)); break;
      default: Throw_(paramErr);
    }
    Check(next);
    obj = next;
  });
}
