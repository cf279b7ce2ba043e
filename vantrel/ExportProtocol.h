// The protocol between Tremblorix and Vantrel, shared by both programs.
//
// Tremblorix sends commands and requests to Vantrel's port
// "TremblorixExportMessagePort"; Vantrel sends 16-byte status records to the
// application's port "TremblorixExportProgressPort". Every message has
// message id 0. All numbers are big-endian.
//
// A message to Vantrel starts with its command byte:
//   1 export: followed by the tagged request (records of a 32-bit tag, a
//     32-bit length and the data, closed by '>>>>' with length 0); the reply
//     is the C string "Reply: Reqest <n> queued.\n\n" with its zero byte,
//     <n> being the number of requests queued or running, this one included.
//   2 cancel: alone, cancels the running export (or the next one when it
//     has not started yet; nothing when there is none, so a cancel never
//     waits for a later export);
//     followed by a 32-bit cookie, cancels the export with that cookie,
//     running or still queued. No reply data.
//   3 quit: Vantrel ends once its queue is empty. No reply data.
//   4 heartbeat: no effect, no reply data.
// Empty messages, unknown commands and cancels of 2 to 4 bytes are ignored.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/MacTypes.h"

constexpr const char* kExportMessagePortName = "TremblorixExportMessagePort";
constexpr const char* kExportProgressPortName = "TremblorixExportProgressPort";
constexpr SInt32 kExportMessageID = 0;

// The reference a program launches Vantrel with: the launch event that
// carries it is the one of the Vantrel it started.
constexpr UInt32 kVantrelLaunchRefCon = 0x0F0F0F0E;

// Time-outs of the application's sends (it waits for replies) and of
// Vantrel's status records (one way).
constexpr double kExportClientSendTimeout = 10.0;
constexpr double kExportClientReceiveTimeout = 10.0;
constexpr double kExportStatusSendTimeout = 1.0;
constexpr double kExportStatusReceiveTimeout = 1.0;

enum ExportCommand : UInt8 {
  kExportCommandExport = 1,
  kExportCommandCancel = 2,
  kExportCommandQuit = 3,
  kExportCommandHeartbeat = 4,
};

// Tags of the export request.
enum : UInt32 {
  kExportTagMovie = 0,             // the movie record (bytes)
  kExportTagDestination = 1,       // alias record of the destination file (bytes)
  kExportTagExporterType = 2,      // UInt32, 'spit'
  kExportTagExporterSubtype = 3,   // UInt32, e.g. 'MooV'
  kExportTagExporterSettings = 4,  // atom container (bytes)
  kExportTagCookie = 5,            // UInt32, echoed in every status record
  kExportTagSingleField = 7,       // 1 byte
  kExportTagEnd = '>>>>',
};

// ExportStatus kinds and phases.
enum : UInt16 {
  kExportStatusProgress = 0,
  kExportStatusError = 1,
  kExportStatusDone = 2,
};
enum : UInt16 {
  kExportPhaseMovie = 0,
  kExportPhaseSound = 1,
};

// The status record, in host order; 16 bytes on the wire:
//   0 UInt16 kind, 2 UInt16 phase, 4 Fixed fraction, 8 SInt16 error,
//   10 UInt16 reserved (0), 12 UInt32 cookie.
struct ExportStatus {
  UInt16 kind;
  UInt16 phase;
  Fixed fraction;
  SInt16 error;
  UInt16 reserved;
  UInt32 cookie;
};
constexpr size_t kExportStatusSize = 16;

inline void EncodeExportStatus(const ExportStatus& inStatus, UInt8 outBytes[kExportStatusSize]) {
  WriteBE16(outBytes + 0, inStatus.kind);
  WriteBE16(outBytes + 2, inStatus.phase);
  WriteBE32(outBytes + 4, static_cast<UInt32>(inStatus.fraction));
  WriteBE16(outBytes + 8, static_cast<UInt16>(inStatus.error));
  WriteBE16(outBytes + 10, inStatus.reserved);
  WriteBE32(outBytes + 12, inStatus.cookie);
}

// False (and the record untouched) when fewer than 16 bytes arrived.
inline bool DecodeExportStatus(const UInt8* inBytes, size_t inLength, ExportStatus& outStatus) {
  if (inBytes == nullptr || inLength < kExportStatusSize) return false;
  outStatus.kind = ReadBE16(inBytes + 0);
  outStatus.phase = ReadBE16(inBytes + 2);
  outStatus.fraction = static_cast<Fixed>(ReadBE32(inBytes + 4));
  outStatus.error = static_cast<SInt16>(ReadBE16(inBytes + 8));
  outStatus.reserved = ReadBE16(inBytes + 10);
  outStatus.cookie = ReadBE32(inBytes + 12);
  return true;
}

// A command without data: the quit, the heartbeat, or the bare cancel (of
// the running export).
inline std::vector<UInt8> EncodeExportCommand(ExportCommand inCommand) { return std::vector<UInt8>{inCommand}; }

// The cancel command for the export with this cookie; returns its length (5).
inline size_t MakeCancelCommand(UInt32 inCookie, UInt8 outBytes[5]) {
  outBytes[0] = kExportCommandCancel;
  WriteBE32(outBytes + 1, inCookie);
  return 5;
}

// What a message to Vantrel asks: its command byte (0 for an empty message)
// and, for a cancel of 5 bytes or more, the cookie of the export it cancels.
struct ExportCommandFields {
  UInt8 command = 0;
  bool hasCookie = false;
  UInt32 cookie = 0;
};

// Reads the command of a message to Vantrel. False when the message is to be
// ignored: an empty one, or a cancel of 2 to 4 bytes.
inline bool DecodeExportCommand(const UInt8* inMessage, size_t inLength, ExportCommandFields& outFields) {
  outFields = ExportCommandFields();
  if (inMessage == nullptr || inLength < 1) return false;
  outFields.command = inMessage[0];
  if (outFields.command != kExportCommandCancel || inLength == 1) return true;
  if (inLength < 5) return false;
  outFields.hasCookie = true;
  outFields.cookie = ReadBE32(inMessage + 1);
  return true;
}

// The reply to an export request: the C string "Reply: Reqest <n> queued.\n\n"
// with its zero byte.
inline std::vector<UInt8> EncodeExportQueuedReply(SInt32 inCount) {
  const std::string text = "Reply: Reqest " + std::to_string(inCount) + " queued.\n\n";
  std::vector<UInt8> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

// What an export request holds. The byte ranges point into the message read
// (or, for the encoder, at the data to write).
struct ExportRequestFields {
  const UInt8* movie = nullptr;
  UInt32 movieLength = 0;
  bool hasMovie = false;
  const UInt8* destination = nullptr;
  UInt32 destinationLength = 0;
  bool hasDestination = false;
  const UInt8* settings = nullptr;
  UInt32 settingsLength = 0;
  bool hasSettings = false;
  OSType exporterType = 0;
  bool hasExporterType = false;
  OSType exporterSubtype = 0;
  bool hasExporterSubtype = false;
  UInt32 cookie = 0;  // 0 without a cookie record
  bool hasCookie = false;
  UInt8 singleField = 0;
  bool hasSingleField = false;
};

// Reads an export message (command byte 1, then the records). Records may
// come in any order; unknown tags are skipped; the records end at the end
// record or at the end of the message. Fields read before a fault stay set
// (the cookie above all, so that the failure can be reported for it).
// paramErr when the message is not an export request, when a record runs
// past the end of the message, or when a number record is too short for its
// value.
inline OSErr ParseExportRequest(const UInt8* inMessage, size_t inLength, ExportRequestFields& outFields) {
  outFields = ExportRequestFields();
  if (inMessage == nullptr || inLength < 1 || inMessage[0] != kExportCommandExport) return paramErr;
  size_t at = 1;
  while (inLength - at >= 8) {
    const UInt32 tag = ReadBE32(inMessage + at);
    const UInt32 length = ReadBE32(inMessage + at + 4);
    at += 8;
    if (tag == kExportTagEnd) return noErr;
    if (length > inLength - at) return paramErr;
    const UInt8* data = inMessage + at;
    switch (tag) {
      case kExportTagMovie:
        outFields.movie = data;
        outFields.movieLength = length;
        outFields.hasMovie = true;
        break;
      case kExportTagDestination:
        outFields.destination = data;
        outFields.destinationLength = length;
        outFields.hasDestination = true;
        break;
      case kExportTagExporterSettings:
        outFields.settings = data;
        outFields.settingsLength = length;
        outFields.hasSettings = true;
        break;
      case kExportTagExporterType:
      case kExportTagExporterSubtype:
      case kExportTagCookie:
        if (length < 4) return paramErr;
        if (tag == kExportTagExporterType) {
          outFields.exporterType = ReadBE32(data);
          outFields.hasExporterType = true;
        }
        if (tag == kExportTagExporterSubtype) {
          outFields.exporterSubtype = ReadBE32(data);
          outFields.hasExporterSubtype = true;
        }
        if (tag == kExportTagCookie) {
          outFields.cookie = ReadBE32(data);
          outFields.hasCookie = true;
        }
        break;
      case kExportTagSingleField:
        if (length < 1) return paramErr;
        outFields.singleField = data[0];
        outFields.hasSingleField = true;
        break;
      default:
        break;
    }
    at += length;
  }
  return noErr;
}

// Appends one record of a request: its tag, its length and the data (none
// when inData is nil).
inline void AppendExportRecord(std::vector<UInt8>& ioMessage, UInt32 inTag, const void* inData, size_t inLength) {
  if (inData == nullptr) inLength = 0;
  UInt8 head[8];
  WriteBE32(head + 0, inTag);
  WriteBE32(head + 4, static_cast<UInt32>(inLength));
  ioMessage.insert(ioMessage.end(), head, head + 8);
  const UInt8* bytes = static_cast<const UInt8*>(inData);
  if (inLength > 0) ioMessage.insert(ioMessage.end(), bytes, bytes + inLength);
}

inline void AppendExportRecord32(std::vector<UInt8>& ioMessage, UInt32 inTag, UInt32 inValue) {
  UInt8 word[4];
  WriteBE32(word, inValue);
  AppendExportRecord(ioMessage, inTag, word, 4);
}

// The fields of a request as the application fills them: every record, the
// exporter type being 'spit', the movie exporters' component type.
inline ExportRequestFields ExportRequestOf(const UInt8* inMovie, size_t inMovieLength, const UInt8* inDestination,
                                           size_t inDestinationLength, OSType inSubtype, const UInt8* inSettings,
                                           size_t inSettingsLength, UInt32 inCookie, bool inSingleField) {
  ExportRequestFields fields;
  fields.movie = inMovie;
  fields.movieLength = static_cast<UInt32>(inMovieLength);
  fields.hasMovie = true;
  fields.destination = inDestination;
  fields.destinationLength = static_cast<UInt32>(inDestinationLength);
  fields.hasDestination = true;
  fields.exporterType = 'spit';
  fields.hasExporterType = true;
  fields.exporterSubtype = inSubtype;
  fields.hasExporterSubtype = true;
  fields.settings = inSettings;
  fields.settingsLength = static_cast<UInt32>(inSettingsLength);
  fields.hasSettings = true;
  fields.cookie = inCookie;
  fields.hasCookie = true;
  fields.singleField = inSingleField ? 1 : 0;
  fields.hasSingleField = true;
  return fields;
}

// Writes an export request, the counterpart of ParseExportRequest: command
// byte 1, then the records inFields has, in tag order (movie, destination,
// exporter type, subtype, settings, cookie, single field), and the end
// record. The application writes every record.
inline std::vector<UInt8> EncodeExportRequest(const ExportRequestFields& inFields) {
  std::vector<UInt8> message{kExportCommandExport};
  if (inFields.hasMovie) AppendExportRecord(message, kExportTagMovie, inFields.movie, inFields.movieLength);
  if (inFields.hasDestination)
    AppendExportRecord(message, kExportTagDestination, inFields.destination, inFields.destinationLength);
  if (inFields.hasExporterType) AppendExportRecord32(message, kExportTagExporterType, inFields.exporterType);
  if (inFields.hasExporterSubtype) AppendExportRecord32(message, kExportTagExporterSubtype, inFields.exporterSubtype);
  if (inFields.hasSettings)
    AppendExportRecord(message, kExportTagExporterSettings, inFields.settings, inFields.settingsLength);
  if (inFields.hasCookie) AppendExportRecord32(message, kExportTagCookie, inFields.cookie);
  if (inFields.hasSingleField) AppendExportRecord(message, kExportTagSingleField, &inFields.singleField, 1);
  AppendExportRecord(message, kExportTagEnd, nullptr, 0);
  return message;
}
