// The tests' end of the export protocol itself: a wait for status records
// ends when the record it waits for comes, whenever it comes.
#include <gtest/gtest.h>

#include "platform/ipc/IpcTestSupport.h"
#include "vantrel/ExportClient.h"

namespace {

// Sends a done record for inCookie to the client's status port and waits for
// the port to have handled it (or for inReplySeconds to pass).
SInt32 SendDoneRecord(CFMessagePortRef inPort, UInt32 inCookie, double inReplySeconds) {
  UInt8 bytes[kExportStatusSize];
  EncodeExportStatus(ExportStatus{kExportStatusDone, kExportPhaseMovie, 0, noErr, 0, inCookie}, bytes);
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes, kExportStatusSize);
  CFDataRef reply = nullptr;
  const SInt32 result = CFMessagePortSendRequest(inPort, kExportMessageID, data, 10.0, inReplySeconds,
                                                 kCFRunLoopDefaultMode, &reply);
  if (reply) CFRelease(reply);
  CFRelease(data);
  return result;
}

bool HasDone(const std::vector<ExportStatus>& inAll, UInt32 inCookie) {
  for (const ExportStatus& s : inAll)
    if (s.cookie == inCookie && s.kind == kExportStatusDone) return true;
  return false;
}

}  // namespace

// The record comes while the waiter is looking at the records, just before
// it would sleep: the waiter must still see it and end, not sleep out its
// whole bound (an hour here, which only the test's own time limit reaches).
TEST(ExportClientWait, ARecordArrivingJustBeforeTheSleepEndsTheWait) {
  StTempPortDirectory ports;
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  CFMessagePortRef port = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("TremblorixExportProgressPort"));
  ASSERT_NE(port, nullptr);

  int looks = 0;
  const bool done = client.WaitFor(
      [&](const std::vector<ExportStatus>& inAll) {
        // The first look finds nothing, and the record is sent from within
        // it: the port hands it over at once unless the waiter's look keeps
        // it out until the waiter sleeps.
        if (looks++ == 0) {
          SendDoneRecord(port, 7, 2.0);
          return false;
        }
        return HasDone(inAll, 7);
      },
      3600.0);
  EXPECT_TRUE(done);
  EXPECT_EQ(client.StatusesOf(7).size(), 1u);
  CFRelease(port);
}

// A record already there ends the wait before any sleep.
TEST(ExportClientWait, ARecordAlreadyThereEndsTheWaitAtOnce) {
  StTempPortDirectory ports;
  CExportClient client;
  ASSERT_TRUE(client.OpenProgressPort());
  CFMessagePortRef port = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("TremblorixExportProgressPort"));
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(SendDoneRecord(port, 3, 120.0), kCFMessagePortSuccess);
  EXPECT_TRUE(client.WaitForDone(3, 3600.0));
  CFRelease(port);
}
