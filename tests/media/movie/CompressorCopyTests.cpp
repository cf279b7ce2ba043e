// A copy of a standard image compression instance: a new instance with every
// setting of the source, independent of it afterwards; a source that is nil
// or closed gives nil and leaves nothing open.
#include <gtest/gtest.h>

#include "media/UMovies.h"
#include "platform/movies/ImageCompression.h"

namespace {

struct SAll {
  SCSpatialSettings spatial{};
  SCTemporalSettings temporal{};
  SCDataRateSettings rate{};
};

SAll Read(ComponentInstance inCompressor) {
  SAll all;
  EXPECT_EQ(SCGetInfo(inCompressor, scSpatialSettingsType, &all.spatial), noErr);
  EXPECT_EQ(SCGetInfo(inCompressor, scTemporalSettingsType, &all.temporal), noErr);
  EXPECT_EQ(SCGetInfo(inCompressor, scDataRateSettingsType, &all.rate), noErr);
  return all;
}

}  // namespace

TEST(GetCompressorCopy, CarriesEverySettingAndIsIndependentOfItsSource) {
  ComponentInstance source = OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
  ASSERT_NE(source, nullptr);
  CodecType codec = 0;
  for (const SCCodecInfo& c : SCGetCodecList())
    if (c.codecType != 'jpeg') codec = c.codecType;
  ASSERT_NE(codec, 0u);
  SCSpatialSettings spatial{codec, nullptr, 40, codecLowQuality};
  SCTemporalSettings temporal{codecHighQuality, 30 << 16, 7};
  SCDataRateSettings rate{123456, 0, 0, 0};
  ASSERT_EQ(SCSetInfo(source, scSpatialSettingsType, &spatial), noErr);
  ASSERT_EQ(SCSetInfo(source, scTemporalSettingsType, &temporal), noErr);
  ASSERT_EQ(SCSetInfo(source, scDataRateSettingsType, &rate), noErr);

  const ItemCount open = CountStandardCompressionInstances();
  ComponentInstance copy = UMovies::GetCompressorCopy(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, source);
  EXPECT_EQ(CountStandardCompressionInstances(), open + 1);
  SAll c = Read(copy);
  EXPECT_EQ(c.spatial.codecType, codec);
  EXPECT_EQ(c.spatial.depth, 40);
  EXPECT_EQ(c.spatial.spatialQuality, codecLowQuality);
  EXPECT_EQ(c.temporal.temporalQuality, codecHighQuality);
  EXPECT_EQ(c.temporal.frameRate, 30 << 16);
  EXPECT_EQ(c.temporal.keyFrameRate, 7);
  EXPECT_EQ(c.rate.dataRate, 123456);

  // Changing one leaves the other, and the copy outlives its source.
  SCSpatialSettings other{'jpeg', nullptr, 24, codecMaxQuality};
  ASSERT_EQ(SCSetInfo(copy, scSpatialSettingsType, &other), noErr);
  EXPECT_EQ(Read(source).spatial.codecType, codec);
  EXPECT_EQ(CloseComponent(source), noErr);
  c = Read(copy);
  EXPECT_EQ(c.spatial.codecType, static_cast<CodecType>('jpeg'));
  EXPECT_EQ(c.temporal.keyFrameRate, 7);
  EXPECT_EQ(CloseComponent(copy), noErr);
}

TEST(GetCompressorCopy, ANilOrClosedSourceGivesNilAndLeavesNothingOpen) {
  const ItemCount open = CountStandardCompressionInstances();
  EXPECT_EQ(UMovies::GetCompressorCopy(nullptr), nullptr);
  ComponentInstance closed = OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
  ASSERT_NE(closed, nullptr);
  ASSERT_EQ(CloseComponent(closed), noErr);
  // The copy is opened before the source is read: it must be closed again.
  EXPECT_EQ(UMovies::GetCompressorCopy(closed), nullptr);
  EXPECT_EQ(CountStandardCompressionInstances(), open);
}
