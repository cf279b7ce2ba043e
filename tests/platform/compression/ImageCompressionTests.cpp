// The standard image compression component: defaults, settings kept by
// kind, the whole state carried between instances, and refusals that leave
// an instance as it was.
#include <gtest/gtest.h>

#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/movies/ImageCompression.h"

namespace {

ComponentInstance Open() {
  ComponentInstance ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(StandardCompressionType, StandardCompressionSubType, &ci), noErr);
  return ci;
}

// A codec of the list other than inNot (0 when the list has only one).
CodecType OtherCodec(CodecType inNot) {
  for (const SCCodecInfo& c : SCGetCodecList())
    if (c.codecType != inNot) return c.codecType;
  return 0;
}

}  // namespace

TEST(ImageCompression, OpensWithDefaultsOverTheCodecsThatEncodeHere) {
  const std::vector<SCCodecInfo>& codecs = SCGetCodecList();
  ASSERT_FALSE(codecs.empty());
  // This build always has the encoders the exporters write with.
  bool jpeg = false, raw = false;
  for (const SCCodecInfo& c : codecs) {
    jpeg |= c.codecType == 'jpeg';
    raw |= c.codecType == 'raw ';
    EXPECT_FALSE(c.name.empty());
  }
  EXPECT_TRUE(jpeg);
  EXPECT_TRUE(raw);

  const ItemCount before = CountStandardCompressionInstances();
  ComponentInstance ci = Open();
  ASSERT_NE(ci, nullptr);
  EXPECT_EQ(CountStandardCompressionInstances(), before + 1);
  SCSpatialSettings spatial{};
  ASSERT_EQ(SCGetInfo(ci, scSpatialSettingsType, &spatial), noErr);
  EXPECT_EQ(spatial.codecType, static_cast<CodecType>('jpeg'));
  EXPECT_EQ(spatial.spatialQuality, codecNormalQuality);
  EXPECT_EQ(spatial.depth, 24);
  SCDataRateSettings rate{};
  ASSERT_EQ(SCGetInfo(ci, scDataRateSettingsType, &rate), noErr);
  EXPECT_EQ(rate.dataRate, 0);
  EXPECT_EQ(CloseComponent(ci), noErr);
  EXPECT_EQ(CountStandardCompressionInstances(), before);

  ComponentInstance none = nullptr;
  EXPECT_EQ(OpenADefaultComponent('spit', StandardCompressionSubType, &none), badComponentType);
  EXPECT_EQ(OpenADefaultComponent(StandardCompressionType, 'soun', &none), cantFindHandler);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(OpenDefaultComponent(StandardCompressionType, 'soun'), nullptr);
}

TEST(ImageCompression, TheStateCarriesEverySettingIntoAnotherInstance) {
  ComponentInstance a = Open(), b = Open();
  const CodecType codec = OtherCodec('jpeg');
  ASSERT_NE(codec, 0u);
  SCSpatialSettings spatial{codec, nullptr, 32, codecHighQuality};
  SCTemporalSettings temporal{codecLowQuality, 25 << 16, 12};
  SCDataRateSettings rate{300000, 0, 0, 0};
  ASSERT_EQ(SCSetInfo(a, scSpatialSettingsType, &spatial), noErr);
  ASSERT_EQ(SCSetInfo(a, scTemporalSettingsType, &temporal), noErr);
  ASSERT_EQ(SCSetInfo(a, scDataRateSettingsType, &rate), noErr);

  Handle state = nullptr;
  ASSERT_EQ(SCGetInfo(a, scSettingsStateType, &state), noErr);
  ASSERT_NE(state, nullptr);
  ASSERT_EQ(SCSetInfo(b, scSettingsStateType, &state), noErr);
  DisposeHandle(state);
  SCSpatialSettings s{};
  SCTemporalSettings t{};
  SCDataRateSettings r{};
  SCGetInfo(b, scSpatialSettingsType, &s);
  SCGetInfo(b, scTemporalSettingsType, &t);
  SCGetInfo(b, scDataRateSettingsType, &r);
  EXPECT_EQ(s.codecType, codec);
  EXPECT_EQ(s.depth, 32);
  EXPECT_EQ(s.spatialQuality, codecHighQuality);
  EXPECT_EQ(t.temporalQuality, codecLowQuality);
  EXPECT_EQ(t.frameRate, 25 << 16);
  EXPECT_EQ(t.keyFrameRate, 12);
  EXPECT_EQ(r.dataRate, 300000);
  CloseComponent(a);
  CloseComponent(b);
}

TEST(ImageCompression, RefusedSettingsLeaveTheInstanceAsItWas) {
  ComponentInstance ci = Open();
  SCSpatialSettings unknown{'zzzz', nullptr, 24, codecNormalQuality};
  EXPECT_EQ(SCSetInfo(ci, scSpatialSettingsType, &unknown), paramErr);
  SCSpatialSettings tooGood{'jpeg', nullptr, 24, codecLosslessQuality + 1};
  EXPECT_EQ(SCSetInfo(ci, scSpatialSettingsType, &tooGood), paramErr);
  SCTemporalSettings backwards{codecNormalQuality, 0, -1};
  EXPECT_EQ(SCSetInfo(ci, scTemporalSettingsType, &backwards), paramErr);
  SCSpatialSettings s{};
  SCGetInfo(ci, scSpatialSettingsType, &s);
  EXPECT_EQ(s.codecType, static_cast<CodecType>('jpeg'));
  EXPECT_EQ(s.spatialQuality, codecNormalQuality);

  // A state with a good key-frame rate but a bad codec changes nothing at all.
  Handle state = nullptr;
  ASSERT_EQ(SCGetInfo(ci, scSettingsStateType, &state), noErr);
  UInt8* bytes = reinterpret_cast<UInt8*>(*state);
  const SInt32 size = GetHandleSize(state);
  for (SInt32 at = 0; at + 16 <= size; at += 16) {
    const OSType type = static_cast<OSType>(bytes[at + 4] << 24 | bytes[at + 5] << 16 | bytes[at + 6] << 8 | bytes[at + 7]);
    if (type == scStateCodecAtom) bytes[at + 12] = 'z';
    if (type == scStateKeyFrameRateAtom) bytes[at + 15] = 99;
  }
  EXPECT_EQ(SCSetInfo(ci, scSettingsStateType, &state), paramErr);
  SCTemporalSettings t{};
  SCGetInfo(ci, scTemporalSettingsType, &t);
  EXPECT_EQ(t.keyFrameRate, 24);
  // Bytes that are no atom container.
  bytes[3] = 0xFF;
  EXPECT_EQ(SCSetInfo(ci, scSettingsStateType, &state), paramErr);
  DisposeHandle(state);
  EXPECT_EQ(SCGetInfo(ci, 'what', &s), paramErr);
  EXPECT_EQ(SCGetInfo(ci, scSpatialSettingsType, nullptr), paramErr);

  // Closed: every call answers the error, and closing again fails.
  ASSERT_EQ(CloseComponent(ci), noErr);
  EXPECT_EQ(SCGetInfo(ci, scSpatialSettingsType, &s), invalidComponentID);
  EXPECT_EQ(SCSetInfo(ci, scSpatialSettingsType, &s), invalidComponentID);
  EXPECT_NE(CloseComponent(ci), noErr);
  EXPECT_EQ(SCGetInfo(static_cast<ComponentInstance>(nullptr), scSpatialSettingsType, &s), invalidComponentID);
}
