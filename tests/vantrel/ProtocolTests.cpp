#include <gtest/gtest.h>

#include "vantrel/ExportClient.h"
#include "vantrel/ExportProtocol.h"

namespace {

TEST(ExportProtocol, StatusRecordLayoutIsByteExact) {
  UInt8 bytes[kExportStatusSize];
  EncodeExportStatus(ExportStatus{kExportStatusProgress, kExportPhaseSound, 0x8000, 0, 0, 0x12345678}, bytes);
  const Bytes progress = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(Bytes(bytes, bytes + 16), progress);

  EncodeExportStatus(ExportStatus{kExportStatusError, 0, 0, static_cast<SInt16>(-128), 0, 0xCAFEF00D}, bytes);
  const Bytes error = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x80, 0x00, 0x00, 0xCA, 0xFE, 0xF0, 0x0D};
  EXPECT_EQ(Bytes(bytes, bytes + 16), error);

  EncodeExportStatus(ExportStatus{kExportStatusDone, 0, 0, 0, 0, 7}, bytes);
  const Bytes done = {0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07};
  EXPECT_EQ(Bytes(bytes, bytes + 16), done);

  ExportStatus decoded{};
  ASSERT_TRUE(DecodeExportStatus(error.data(), error.size(), decoded));
  EXPECT_EQ(decoded.kind, kExportStatusError);
  EXPECT_EQ(decoded.error, -128);
  EXPECT_EQ(decoded.cookie, 0xCAFEF00Du);
  ASSERT_TRUE(DecodeExportStatus(progress.data(), progress.size(), decoded));
  EXPECT_EQ(decoded.phase, kExportPhaseSound);
  EXPECT_EQ(decoded.fraction, 0x8000);
  // Short records are refused and leave the record alone.
  decoded.cookie = 99;
  EXPECT_FALSE(DecodeExportStatus(done.data(), 15, decoded));
  EXPECT_FALSE(DecodeExportStatus(nullptr, 16, decoded));
  EXPECT_EQ(decoded.cookie, 99u);

  UInt8 cancel[5];
  ASSERT_EQ(MakeCancelCommand(0x01020304, cancel), 5u);
  EXPECT_EQ(Bytes(cancel, cancel + 5), (Bytes{0x02, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(ReplyText(1), std::string("Reply: Reqest 1 queued.\n\n\0", 26));
}

TEST(ExportProtocol, RequestLayoutIsByteExact) {
  const Bytes expected = {
      0x01,                                                                    // export
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 'm', 'o', 'o', 'v',      // tag 0: movie
      0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 'a', 'l', 'i', 's',      // tag 1: destination alias
      0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 's', 'p', 'i', 't',      // tag 2: type
      0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 'M', 'o', 'o', 'V',      // tag 3: subtype
      0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03,        // tag 4: settings
      0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF,  // tag 5: cookie
      0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00,                    // tag 7: single field
      0x3E, 0x3E, 0x3E, 0x3E, 0x00, 0x00, 0x00, 0x00,                          // end
  };
  EXPECT_EQ(MakeRequest(0xDEADBEEF), expected);

  ExportRequestFields fields;
  ASSERT_EQ(ParseExportRequest(expected.data(), expected.size(), fields), noErr);
  EXPECT_TRUE(fields.hasMovie && fields.hasDestination && fields.hasSettings && fields.hasCookie);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fields.movie), fields.movieLength), "moov");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fields.destination), fields.destinationLength), "alis");
  EXPECT_EQ(fields.settingsLength, 3u);
  EXPECT_EQ(fields.exporterType, static_cast<OSType>('spit'));
  EXPECT_EQ(fields.exporterSubtype, static_cast<OSType>('MooV'));
  EXPECT_EQ(fields.cookie, 0xDEADBEEFu);
  EXPECT_EQ(fields.singleField, 0);
}

TEST(ExportProtocol, RequestsAreReadSafely) {
  ExportRequestFields fields;
  // Any order, unknown tags skipped, the end of the data ends the records.
  Bytes shuffled{kExportCommandExport};
  AppendRecord(shuffled, kExportTagCookie, BE32(5));
  AppendRecord(shuffled, 'zzzz', Bytes(10, 0xEE));
  AppendRecord(shuffled, kExportTagSingleField, Bytes{1});
  AppendRecord(shuffled, kExportTagExporterSettings, Bytes{});
  AppendRecord(shuffled, kExportTagMovie, Bytes{9});
  ASSERT_EQ(ParseExportRequest(shuffled.data(), shuffled.size(), fields), noErr);
  EXPECT_TRUE(fields.hasMovie && fields.hasSettings);
  EXPECT_EQ(fields.settingsLength, 0u);
  EXPECT_EQ(fields.singleField, 1);
  EXPECT_EQ(fields.cookie, 5u);
  // Records after the end record are not read.
  Bytes afterEnd{kExportCommandExport};
  AppendRecord(afterEnd, kExportTagEnd, Bytes{});
  AppendRecord(afterEnd, kExportTagMovie, Bytes{9});
  ASSERT_EQ(ParseExportRequest(afterEnd.data(), afterEnd.size(), fields), noErr);
  EXPECT_FALSE(fields.hasMovie);

  // A record running past the end is refused; the cookie read before it stays.
  Bytes truncated{kExportCommandExport};
  AppendRecord(truncated, kExportTagCookie, BE32(0x42));
  AppendBE32(truncated, kExportTagMovie);
  AppendBE32(truncated, 0xFFFFFFF0u);
  truncated.push_back(1);
  EXPECT_EQ(ParseExportRequest(truncated.data(), truncated.size(), fields), paramErr);
  EXPECT_EQ(fields.cookie, 0x42u);
  EXPECT_FALSE(fields.hasMovie);
  // A number record too short for its number.
  Bytes shortCookie{kExportCommandExport};
  AppendRecord(shortCookie, kExportTagCookie, Bytes{1, 2});
  EXPECT_EQ(ParseExportRequest(shortCookie.data(), shortCookie.size(), fields), paramErr);
  // Not an export request at all.
  EXPECT_EQ(ParseExportRequest(nullptr, 0, fields), paramErr);
  const UInt8 cancel = kExportCommandCancel;
  EXPECT_EQ(ParseExportRequest(&cancel, 1, fields), paramErr);
  // The bare command byte: nothing in it, and no fault.
  const UInt8 bare = kExportCommandExport;
  EXPECT_EQ(ParseExportRequest(&bare, 1, fields), noErr);
  EXPECT_FALSE(fields.hasMovie || fields.hasCookie);
}

}  // namespace
