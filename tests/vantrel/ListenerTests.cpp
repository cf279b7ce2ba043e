// The listener callback in this process, as the port hands it messages.
#include <gtest/gtest.h>

#include "platform/ipc/IpcTestSupport.h"
#include "vantrel/ExportClient.h"
#include "vantrel/VantrelWorker.h"

namespace {

CFDataRef Deliver(WorkerThread& ioWorker, const Bytes& inMessage) {
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, inMessage.data(), static_cast<CFIndex>(inMessage.size()));
  CFDataRef reply = myMessagePortListenerProc(nullptr, kExportMessageID, data, &ioWorker);
  CFRelease(data);
  return reply;
}

std::string Text(CFDataRef inReply) {
  return inReply ? std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(inReply)), CFDataGetLength(inReply)) : "";
}

void Drain(WorkerThread& ioWorker) {
  for (WorkerRequest* request : ioWorker.queue) ReleaseWorkerRequest(request);
  ioWorker.queue.clear();
  std::lock_guard<std::mutex> guard(ioWorker.remoteLock);
  if (ioWorker.remotePort) CFRelease(ioWorker.remotePort);
  ioWorker.remotePort = nullptr;
}

TEST(Listener, QueuesCopiesAndCountsLiveRequests) {
  WorkerThread worker;
  EXPECT_EQ(myMessagePortListenerProc(nullptr, 0, nullptr, &worker), nullptr);
  Bytes request = MakeRequest(0x31);
  CFDataRef reply = Deliver(worker, request);
  EXPECT_EQ(Text(reply), ReplyText(1));
  CFRelease(reply);
  reply = Deliver(worker, MakeRequest(0x32));
  EXPECT_EQ(Text(reply), ReplyText(2));
  CFRelease(reply);
  ASSERT_EQ(worker.queue.size(), 2u);
  EXPECT_EQ(worker.refCount.load(), 2);
  WorkerRequest* first = worker.queue.front();
  EXPECT_EQ(first->queuedCookie, 0x31u);
  EXPECT_EQ(Bytes(CFDataGetBytePtr(first->data), CFDataGetBytePtr(first->data) + CFDataGetLength(first->data)), request);

  // Quit is a flag; the other commands leave the queue as it is.
  EXPECT_EQ(Deliver(worker, Bytes{kExportCommandHeartbeat}), nullptr);
  EXPECT_EQ(Deliver(worker, Bytes{kExportCommandQuit}), nullptr);
  EXPECT_EQ(worker.quit.load(), 1);
  EXPECT_EQ(worker.queue.size(), 2u);

  // A request's life ends at its last release, and with it the worker's count.
  WorkerRequest* extra = nullptr;
  EXPECT_EQ(CreateWorkerRequest(&worker, nullptr), paramErr);
  ASSERT_EQ(CreateWorkerRequest(&worker, &extra), noErr);
  EXPECT_EQ(worker.refCount.load(), 3);
  extra->refCount.fetch_add(1);
  ReleaseWorkerRequest(extra);
  EXPECT_EQ(worker.refCount.load(), 3);
  ReleaseWorkerRequest(extra);
  EXPECT_EQ(worker.refCount.load(), 2);
  Drain(worker);
  EXPECT_EQ(worker.refCount.load(), 0);
}

TEST(Listener, ARequestThatCannotBeKeptIsRefusedToTheApplication) {
  StTempPortDirectory ports;
  CExportClient application;
  ASSERT_TRUE(application.OpenProgressPort());
  WorkerThread worker;
  SetRequestAllocationFailureForTesting(true);
  CFDataRef reply = Deliver(worker, MakeRequest(0x4242));
  SetRequestAllocationFailureForTesting(false);
  EXPECT_EQ(reply, nullptr);
  EXPECT_TRUE(worker.queue.empty());
  EXPECT_EQ(worker.refCount.load(), 0);
  ASSERT_TRUE(application.WaitForDone(0x4242, 5.0));
  std::vector<Bytes> records = application.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], (Bytes{0, 1, 0, 0, 0, 0, 0, 0, 0xFF, 0x94, 0, 0, 0, 0, 0x42, 0x42}));  // memFullErr -108
  EXPECT_EQ(records[1], (Bytes{0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42, 0x42}));
  Drain(worker);
}

}  // namespace
