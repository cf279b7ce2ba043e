// The application's end of the export protocol, for tests: a status port
// served on its own thread, Vantrel launched from the build's bundle, and
// commands and requests sent the way the application sends them.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/Bundle.h"
#include "platform/files/CoreFoundation.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/IpcTestSupport.h"
#include "platform/ipc/Processes.h"
#include "vantrel/ExportProtocol.h"

typedef std::vector<UInt8> Bytes;

inline void AppendBE32(Bytes& ioBytes, UInt32 inValue) {
  for (int shift = 24; shift >= 0; shift -= 8) ioBytes.push_back(static_cast<UInt8>(inValue >> shift));
}

// One record, for requests the application never writes (records out of
// order, unknown tags, records cut short).
inline void AppendRecord(Bytes& ioBytes, UInt32 inTag, const Bytes& inData) {
  AppendExportRecord(ioBytes, inTag, inData.data(), inData.size());
}

inline Bytes BE32(UInt32 inValue) {
  Bytes bytes;
  AppendBE32(bytes, inValue);
  return bytes;
}

// The fields of a request as the application fills them: every record.
inline ExportRequestFields RequestFields(const Bytes& inMovie, const Bytes& inDestination, OSType inSubtype,
                                         const Bytes& inSettings, UInt32 inCookie) {
  return ExportRequestOf(inMovie.data(), inMovie.size(), inDestination.data(), inDestination.size(), inSubtype,
                         inSettings.data(), inSettings.size(), inCookie, false);
}

// An export request as the application writes it, in its order of records.
inline Bytes MakeRequest(UInt32 inCookie, bool inWithMovie = true, bool inWithSettings = true,
                         const Bytes& inDestination = Bytes{'a', 'l', 'i', 's'}) {
  const Bytes movie{'m', 'o', 'o', 'v'}, settings{1, 2, 3};
  ExportRequestFields fields = RequestFields(movie, inDestination, 'MooV', settings, inCookie);
  fields.hasMovie = inWithMovie;
  fields.hasSettings = inWithSettings;
  return EncodeExportRequest(fields);
}

inline std::string ReplyText(UInt32 inCount) {
  const Bytes reply = EncodeExportQueuedReply(static_cast<SInt32>(inCount));
  return std::string(reply.begin(), reply.end());
}

class CExportClient {
 public:
  CExportClient() = default;
  ~CExportClient() {
    ClosePort();
    if (mRemote) CFRelease(mRemote);
    if (mPID > 0 && !mExited) {
      kill(mPID, SIGKILL);
      waitpid(mPID, nullptr, 0);
    }
  }

  // The application's status port, "TremblorixExportProgressPort".
  bool OpenProgressPort() {
    mProgressPort = std::make_unique<CServedPort>(CFSTR("TremblorixExportProgressPort"), StatusCallBack, this,
                                                  kCFRunLoopCommonModes);
    return mProgressPort->Started();
  }

  void ClosePort() { mProgressPort.reset(); }

  // Launches the bundle's Vantrel as the application does.
  bool Launch() {
    UBundle::SetMainBundlePath(VANTREL_TEST_BUNDLE);
    ProcessSerialNumber psn{0, 0};
    OSStatus err = LaunchAuxiliaryExecutable("Vantrel", kVantrelLaunchRefCon, &psn);
    UBundle::SetMainBundlePath("");
    if (err != noErr) return false;
    GetProcessPID(&psn, &mPID);
    mExited = false;
    return true;
  }

  // Waits until Vantrel's port answers.
  bool Connect(double inSeconds = 120.0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(inSeconds);
    if (mRemote) {
      CFRelease(mRemote);
      mRemote = nullptr;
    }
    while (std::chrono::steady_clock::now() < deadline) {
      mRemote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("TremblorixExportMessagePort"));
      if (mRemote) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Sends a message and waits for its reply as long as only a hang takes (the
  // application's own ten seconds can pass on a busy machine while a large
  // request is read); outReply gets the reply bytes, or is left empty with
  // *outHadReply false when none came.
  SInt32 Send(const Bytes& inMessage, std::string* outReply = nullptr, bool* outHadReply = nullptr) {
    constexpr double kHangSeconds = 120.0;
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, inMessage.data(), static_cast<CFIndex>(inMessage.size()));
    CFDataRef reply = nullptr;
    SInt32 result = CFMessagePortSendRequest(mRemote, kExportMessageID, data, kHangSeconds, kHangSeconds,
                                             kCFRunLoopDefaultMode, &reply);
    CFRelease(data);
    if (outHadReply) *outHadReply = reply != nullptr;
    if (outReply) {
      outReply->clear();
      if (reply) outReply->assign(reinterpret_cast<const char*>(CFDataGetBytePtr(reply)), CFDataGetLength(reply));
    }
    if (reply) CFRelease(reply);
    return result;
  }

  std::vector<Bytes> Records() {
    std::lock_guard<std::mutex> guard(mLock);
    return mRecords;
  }
  std::vector<ExportStatus> Statuses() {
    std::lock_guard<std::mutex> guard(mLock);
    return StatusesHeld();
  }
  std::vector<ExportStatus> StatusesOf(UInt32 inCookie) {
    std::vector<ExportStatus> result;
    for (const ExportStatus& status : Statuses())
      if (status.cookie == inCookie) result.push_back(status);
    return result;
  }
  // Waits until the records satisfy inDone. The records are looked at with
  // the lock held, and the lock is given up only by the wait itself: a record
  // arriving between the look and the sleep cannot go unseen until the bound.
  // inDone must not call back into this client.
  bool WaitFor(const std::function<bool(const std::vector<ExportStatus>&)>& inDone, double inSeconds = 120.0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(inSeconds);
    std::unique_lock<std::mutex> lock(mLock);
    return mArrived.wait_until(lock, deadline, [&] { return inDone(StatusesHeld()); });
  }
  bool WaitForDone(UInt32 inCookie, double inSeconds = 120.0) {
    return WaitFor(
        [inCookie](const std::vector<ExportStatus>& all) {
          for (const ExportStatus& s : all)
            if (s.cookie == inCookie && s.kind == kExportStatusDone) return true;
          return false;
        },
        inSeconds);
  }

  // Vantrel's exit status, or -1000 when it is still running after inSeconds.
  int WaitForExit(double inSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(inSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(mPID, &status, WNOHANG) == mPID) {
        mExited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1000;
  }

  pid_t PID() const { return mPID; }

 private:
  // The records decoded; mLock held by the caller.
  std::vector<ExportStatus> StatusesHeld() const {
    std::vector<ExportStatus> statuses;
    for (const Bytes& record : mRecords) {
      ExportStatus status{};
      if (DecodeExportStatus(record.data(), record.size(), status)) statuses.push_back(status);
    }
    return statuses;
  }

  static CFDataRef StatusCallBack(CFMessagePortRef, SInt32, CFDataRef inData, void* inInfo) {
    CExportClient* client = static_cast<CExportClient*>(inInfo);
    const UInt8* bytes = CFDataGetBytePtr(inData);
    {
      std::lock_guard<std::mutex> guard(client->mLock);
      client->mRecords.emplace_back(bytes, bytes + CFDataGetLength(inData));
    }
    client->mArrived.notify_all();
    return nullptr;
  }

  std::mutex mLock;
  std::condition_variable mArrived;
  std::vector<Bytes> mRecords;
  std::unique_ptr<CServedPort> mProgressPort;
  CFMessagePortRef mRemote = nullptr;
  pid_t mPID = -1;
  bool mExited = true;
};
