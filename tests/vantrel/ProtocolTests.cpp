#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "vantrel/ExportClient.h"
#include "vantrel/ExportProtocol.h"

namespace {

// A request's fields as text, the byte ranges by their contents.
std::string Describe(const ExportRequestFields& inFields) {
  std::ostringstream text;
  auto range = [&](bool inHas, const UInt8* inBytes, UInt32 inLength) {
    if (inHas)
      text << '[' << std::string(reinterpret_cast<const char*>(inBytes), inLength) << "] ";
    else
      text << "- ";
  };
  auto number = [&](bool inHas, UInt32 inValue) {
    if (inHas)
      text << inValue << ' ';
    else
      text << "- ";
  };
  range(inFields.hasMovie, inFields.movie, inFields.movieLength);
  range(inFields.hasDestination, inFields.destination, inFields.destinationLength);
  number(inFields.hasExporterType, inFields.exporterType);
  number(inFields.hasExporterSubtype, inFields.exporterSubtype);
  range(inFields.hasSettings, inFields.settings, inFields.settingsLength);
  number(inFields.hasCookie, inFields.cookie);
  number(inFields.hasSingleField, inFields.singleField);
  return text.str();
}

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

// Every kind of message the encoders write reads back as it was written.
TEST(ExportProtocol, EveryMessageKindRoundTrips) {
  // The request with every record, with each record left out in turn, and
  // with empty byte records (an exporter without settings).
  const Bytes movie{'m', 'o', 'o', 'v', 0, 1}, alias(70, 'a'), settings{9, 8, 7, 6, 5}, none;
  for (int leftOut = -1; leftOut < 7; ++leftOut) {
    for (bool empty : {false, true}) {
      ExportRequestFields written = RequestFields(empty ? none : movie, empty ? none : alias, 'mpg4',
                                                  empty ? none : settings, 0x80000001u);
      written.singleField = 1;
      bool* has[] = {&written.hasMovie,   &written.hasDestination, &written.hasExporterType, &written.hasExporterSubtype,
                     &written.hasSettings, &written.hasCookie,      &written.hasSingleField};
      if (leftOut >= 0) *has[leftOut] = false;
      const Bytes message = EncodeExportRequest(written);
      ExportRequestFields read;
      ASSERT_EQ(ParseExportRequest(message.data(), message.size(), read), noErr);
      EXPECT_EQ(Describe(read), Describe(written)) << "left out " << leftOut << (empty ? ", empty" : "");
      // Nothing follows the end record.
      EXPECT_EQ(Bytes(message.end() - 8, message.end()), (Bytes{0x3E, 0x3E, 0x3E, 0x3E, 0, 0, 0, 0}));
    }
  }

  // The commands: quit, heartbeat and the bare cancel alone, the cancel of one export with its cookie.
  for (ExportCommand command : {kExportCommandQuit, kExportCommandHeartbeat, kExportCommandCancel}) {
    const Bytes message = EncodeExportCommand(command);
    ASSERT_EQ(message, Bytes{command});
    ExportCommandFields read;
    ASSERT_TRUE(DecodeExportCommand(message.data(), message.size(), read));
    EXPECT_EQ(read.command, command);
    EXPECT_FALSE(read.hasCookie);
  }
  UInt8 cancel[5];
  ExportCommandFields read;
  ASSERT_TRUE(DecodeExportCommand(cancel, MakeCancelCommand(0xFEDCBA98u, cancel), read));
  EXPECT_EQ(read.command, kExportCommandCancel);
  EXPECT_TRUE(read.hasCookie);
  EXPECT_EQ(read.cookie, 0xFEDCBA98u);
  // A cancel cut short names no export and is ignored; so is an empty message.
  for (size_t length : {2u, 3u, 4u}) EXPECT_FALSE(DecodeExportCommand(cancel, length, read));
  EXPECT_FALSE(DecodeExportCommand(cancel, 0, read));
  // The export request's command byte.
  const Bytes request = MakeRequest(3);
  ASSERT_TRUE(DecodeExportCommand(request.data(), request.size(), read));
  EXPECT_EQ(read.command, kExportCommandExport);

  // The status records, each kind and phase, with negative numbers.
  for (UInt16 kind : {kExportStatusProgress, kExportStatusError, kExportStatusDone}) {
    for (UInt16 phase : {kExportPhaseMovie, kExportPhaseSound}) {
      const ExportStatus written{kind, phase, static_cast<Fixed>(-0x12345), static_cast<SInt16>(-2056), 0,
                                 0x90000000u + kind};
      UInt8 bytes[kExportStatusSize];
      EncodeExportStatus(written, bytes);
      ExportStatus back{};
      ASSERT_TRUE(DecodeExportStatus(bytes, sizeof bytes, back));
      EXPECT_TRUE(back.kind == written.kind && back.phase == written.phase && back.fraction == written.fraction &&
                  back.error == written.error && back.reserved == written.reserved && back.cookie == written.cookie)
          << kind << " " << phase;
    }
  }

  // The reply: Vantrel writes it, the application never reads it; its bytes.
  const std::string reply("Reply: Reqest 12 queued.\n\n\0", 27);
  EXPECT_EQ(EncodeExportQueuedReply(12), Bytes(reply.begin(), reply.end()));
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
