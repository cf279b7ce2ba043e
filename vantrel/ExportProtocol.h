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

#include "platform/base/Endian.h"
#include "platform/base/MacTypes.h"

constexpr const char* kExportMessagePortName = "TremblorixExportMessagePort";
constexpr const char* kExportProgressPortName = "TremblorixExportProgressPort";
constexpr SInt32 kExportMessageID = 0;

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

// The cancel command for the export with this cookie; returns its length (5).
inline size_t MakeCancelCommand(UInt32 inCookie, UInt8 outBytes[5]) {
  outBytes[0] = kExportCommandCancel;
  WriteBE32(outBytes + 1, inCookie);
  return 5;
}

// The reply text to an export request, without its zero byte.
inline std::string ExportQueuedReplyText(SInt32 inCount) {
  return "Reply: Reqest " + std::to_string(inCount) + " queued.\n\n";
}

// What an export request holds. The byte ranges point into the message.
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
  OSType exporterSubtype = 0;
  UInt32 cookie = 0;  // 0 without a cookie record
  bool hasCookie = false;
  UInt8 singleField = 0;
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
        if (tag == kExportTagExporterType) outFields.exporterType = ReadBE32(data);
        if (tag == kExportTagExporterSubtype) outFields.exporterSubtype = ReadBE32(data);
        if (tag == kExportTagCookie) {
          outFields.cookie = ReadBE32(data);
          outFields.hasCookie = true;
        }
        break;
      case kExportTagSingleField:
        if (length < 1) return paramErr;
        outFields.singleField = data[0];
        break;
      default:
        break;
    }
    at += length;
  }
  return noErr;
}
