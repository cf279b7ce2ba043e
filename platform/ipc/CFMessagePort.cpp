#include "platform/ipc/CFMessagePort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/ipc/CFObjectRecord.h"

namespace {

// Every message travels over its own connection:
//   request: 'TxMq', message id, flags (1: a reply is awaited), length, data
//   reply:   'TxMr', flags (1: the callback gave data), length, data
// all header fields 32-bit big-endian.
constexpr UInt32 kRequestMagic = 'TxMq';
constexpr UInt32 kReplyMagic = 'TxMr';
constexpr UInt32 kRequestWantsReply = 1;
constexpr UInt32 kReplyHasData = 1;
constexpr size_t kRequestHeaderSize = 16;
constexpr size_t kReplyHeaderSize = 12;
// How long the serving side waits for a peer's bytes or for room to write its reply.
constexpr double kServerIOSeconds = 10.0;
// How long a request read whole waits for an earlier one of its sender that
// is still being read: long enough for a sender held up between connecting
// and writing, short enough that a peer that never writes holds up no one.
constexpr int kOrderWaitMillis = 100;
std::atomic<int> gOrderWaitMillis{kOrderWaitMillis};  // tests may lengthen it
// The epoll key of the timer that ends such waits (connections count up from 1).
constexpr UInt64 kOrderTimerID = ~UInt64{0};
// How long CFMessagePortCreateRemote waits when the port's queue is full.
constexpr double kProbeSeconds = 1.0;

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(CFTimeInterval inSeconds) {
  if (!(inSeconds > 0)) inSeconds = 0;
  if (inSeconds > 1.0e7) inSeconds = 1.0e7;
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(inSeconds));
}

int RemainingMillis(Clock::time_point inDeadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(inDeadline - Clock::now()).count();
  if (ms <= 0) return 0;
  return ms > 3600000 ? 3600000 : static_cast<int>(ms) + 1;
}

enum class EIoResult { kDone, kTimeout, kClosed, kError };

EIoResult WaitFor(int inFd, short inEvents, Clock::time_point inDeadline) {
  for (;;) {
    int ms = RemainingMillis(inDeadline);
    if (ms == 0 && Clock::now() >= inDeadline) return EIoResult::kTimeout;
    pollfd pfd{inFd, inEvents, 0};
    int ready = poll(&pfd, 1, ms);
    if (ready > 0) return EIoResult::kDone;
    if (ready == 0) {
      if (Clock::now() >= inDeadline) return EIoResult::kTimeout;
      continue;
    }
    if (errno != EINTR) return EIoResult::kError;
  }
}

EIoResult WriteAll(int inFd, const void* inBytes, size_t inCount, Clock::time_point inDeadline) {
  const UInt8* p = static_cast<const UInt8*>(inBytes);
  while (inCount > 0) {
    ssize_t n = send(inFd, p, inCount, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      inCount -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      EIoResult waited = WaitFor(inFd, POLLOUT, inDeadline);
      if (waited != EIoResult::kDone) return waited;
      continue;
    }
    return (errno == EPIPE || errno == ECONNRESET) ? EIoResult::kClosed : EIoResult::kError;
  }
  return EIoResult::kDone;
}

EIoResult ReadAll(int inFd, void* outBytes, size_t inCount, Clock::time_point inDeadline) {
  UInt8* p = static_cast<UInt8*>(outBytes);
  while (inCount > 0) {
    ssize_t n = recv(inFd, p, inCount, MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      inCount -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return EIoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      EIoResult waited = WaitFor(inFd, POLLIN, inDeadline);
      if (waited != EIoResult::kDone) return waited;
      continue;
    }
    return errno == ECONNRESET ? EIoResult::kClosed : EIoResult::kError;
  }
  return EIoResult::kDone;
}

// The address of a port's socket. A path too long for a socket address
// (the port folder can sit deep, a runtime folder of 70 characters or more)
// is reached through the folder's descriptor: /proc/self/fd/N/name names the
// same place, with the folder's own permissions, and always fits.
class CSocketAddress {
 public:
  explicit CSocketAddress(const std::string& inPath) {
    std::memset(&mAddress, 0, sizeof(mAddress));
    mAddress.sun_family = AF_UNIX;
    if (inPath.size() < sizeof(mAddress.sun_path)) {
      std::memcpy(mAddress.sun_path, inPath.c_str(), inPath.size() + 1);
      mValid = true;
      return;
    }
    const size_t slash = inPath.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    mFolder = open(inPath.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (mFolder < 0) return;
    const std::string viaFolder = "/proc/self/fd/" + std::to_string(mFolder) + inPath.substr(slash);
    if (viaFolder.size() >= sizeof(mAddress.sun_path)) return;
    std::memcpy(mAddress.sun_path, viaFolder.c_str(), viaFolder.size() + 1);
    mValid = true;
  }
  ~CSocketAddress() {
    if (mFolder >= 0) close(mFolder);
  }
  CSocketAddress(const CSocketAddress&) = delete;
  CSocketAddress& operator=(const CSocketAddress&) = delete;

  bool IsValid() const { return mValid; }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&mAddress); }
  socklen_t Length() const { return sizeof(mAddress); }

 private:
  sockaddr_un mAddress;
  int mFolder = -1;
  bool mValid = false;
};

std::string NameText(CFStringRef inName) {
  if (inName == nullptr) return std::string();
  char buffer[128];
  return CFStringGetCString(inName, buffer, sizeof(buffer), kCFStringEncodingUTF8) ? buffer : "";
}

bool IsValidPortName(const std::string& inName) {
  if (inName.empty() || inName.size() > 63 || inName[0] == '.') return false;
  for (char c : inName) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-';
    if (!ok) return false;
  }
  return true;
}

bool PortPaths(const std::string& inName, std::string& outSocket, std::string& outLock) {
  if (!IsValidPortName(inName)) return false;
  std::string dir;
  if (GetMessagePortDirectory(dir) != noErr) return false;
  outSocket = dir + "/" + inName + ".port";
  outLock = dir + "/" + inName + ".lock";
  return outLock.size() < PATH_MAX;
}

// Connects to a local port's socket and checks that it belongs to this user.
SInt32 ConnectToPort(const std::string& inPath, Clock::time_point inDeadline, int& outFd, pid_t& outServerPid) {
  outFd = -1;
  CSocketAddress address(inPath);
  if (!address.IsValid()) return kCFMessagePortIsInvalid;
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return kCFMessagePortTransportError;
    if (connect(fd, address.Get(), address.Length()) == 0) {
      ucred cred{};
      socklen_t length = sizeof(cred);
      if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || cred.uid != geteuid()) {
        close(fd);
        return kCFMessagePortIsInvalid;
      }
      outFd = fd;
      outServerPid = cred.pid;
      return kCFMessagePortSuccess;
    }
    int err = errno;
    close(fd);
    if (err == EAGAIN || err == EINTR) {  // the port's queue is full: wait for room
      if (Clock::now() >= inDeadline) return kCFMessagePortSendTimeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (err == ENOENT || err == ECONNREFUSED || err == ENOTDIR) return kCFMessagePortIsInvalid;
    return kCFMessagePortTransportError;
  }
}

class CMessagePort;

// One accepted connection of a local port: its request arrives in pieces as
// the peer sends it, then its reply leaves the same way.
struct CConnection {
  int fd = -1;
  Clock::time_point deadline;
  UInt8 header[kRequestHeaderSize];
  size_t headerHave = 0;
  UInt32 length = 0;
  std::vector<UInt8> body;  // grows as its bytes arrive
  size_t bodyHave = 0;
  std::vector<UInt8> reply;  // header and data, once the callback answered
  size_t replySent = 0;
  bool replying = false;
  // Read whole: handed to the callback (or waiting for its sender's earlier
  // requests to be), its reply awaited.
  bool delivered = false;
  pid_t peer = 0;  // the sending process
};

// A complete request waiting for the callback.
struct CArrived {
  UInt64 id;
  SInt32 msgID;
  UInt32 flags;
  std::vector<UInt8> body;
  pid_t peer;
  Clock::time_point readAt = {};  // when it was read whole
};

// The state a local port shares with its run-loop source, which may outlive it.
// Connections are served without blocking: one epoll descriptor watches the
// listening socket and every connection, and the source watches it.
struct CPortCore {
  std::mutex lock;
  bool valid = true;
  int listenFd = -1;
  int lockFd = -1;
  int pollFd = -1;
  int timerFd = -1;  // ends the wait of held requests (in pollFd)
  std::string socketPath;
  CFMessagePortCallBack callBack = nullptr;
  void* info = nullptr;
  CMessagePort* owner = nullptr;  // cleared when the port dies
  std::map<UInt64, CConnection> connections;
  UInt64 nextID = 1;  // 0 is the listening socket; then in the order of connecting
  // Requests read whole whose sender still has an earlier request being
  // read: every request is a connection of its own, and a later one may be
  // read first (its sender was held up between connecting and writing),
  // but one sender's messages reach the callback in the order it sent them.
  std::map<UInt64, CArrived> held;

  ~CPortCore() { CloseAll(); }

  void CloseAll() {
    for (auto& [id, c] : connections) close(c.fd);
    connections.clear();
    held.clear();
    if (timerFd >= 0) {
      close(timerFd);
      timerFd = -1;
    }
    if (pollFd >= 0) {
      close(pollFd);
      pollFd = -1;
    }
  }

  // Gives up the name: the socket file goes before the lock is released, so
  // that the next owner's socket is never removed by us.
  void Invalidate() {
    std::lock_guard<std::mutex> guard(lock);
    if (!valid) return;
    valid = false;
    if (listenFd >= 0) {
      unlink(socketPath.c_str());
      close(listenFd);
      listenFd = -1;
    }
    CloseAll();
    if (lockFd >= 0) {
      close(lockFd);
      lockFd = -1;
    }
  }
};

class CMessagePort : public OpaqueCFObject {
 public:
  CMessagePort(bool inRemote, std::string inName)
      : OpaqueCFObject(kCFMessagePortTypeID),
        mRemote(inRemote),
        mName(std::move(inName)),
        mNameString(CFStringCreateWithCString(kCFAllocatorDefault, mName.c_str(), kCFStringEncodingUTF8)) {}
  ~CMessagePort() override {
    CFRelease(mNameString);
    if (mCore) {
      mCore->Invalidate();
      std::lock_guard<std::mutex> guard(mCore->lock);
      mCore->owner = nullptr;
    }
    if (mSource) {
      CFRunLoopSourceInvalidate(mSource);
      CFRelease(mSource);
    }
    if (mReleaseInfo) mReleaseInfo(mInfo);
  }

  CFMessagePortRef Ref() { return reinterpret_cast<CFMessagePortRef>(static_cast<OpaqueCFObject*>(this)); }
  void Release() { CFRelease(static_cast<OpaqueCFObject*>(this)); }

  bool IsValid() const { return mRemote ? mRemoteValid.load() : CoreValid(); }
  void Invalidate() {
    if (mRemote) {
      mRemoteValid.store(false);
      return;
    }
    mCore->Invalidate();
    CFRunLoopSourceRef source = nullptr;
    {
      std::lock_guard<std::mutex> guard(mSourceLock);
      source = mSource;
    }
    if (source) CFRunLoopSourceInvalidate(source);
  }

  bool CoreValid() const {
    std::lock_guard<std::mutex> guard(mCore->lock);
    return mCore->valid;
  }

  CFRunLoopSourceRef CopySource(CFIndex inOrder);
  SInt32 Send(SInt32 inMsgID, CFDataRef inData, CFTimeInterval inSendTimeout, CFTimeInterval inReceiveTimeout,
              bool inWantsReply, CFDataRef* outReturnData);

  const bool mRemote;
  const std::string mName;
  CFStringRef mNameString;
  // Local ports.
  std::shared_ptr<CPortCore> mCore;
  std::mutex mSourceLock;
  CFRunLoopSourceRef mSource = nullptr;
  void* mInfo = nullptr;
  void (*mReleaseInfo)(const void*) = nullptr;
  // Remote ports.
  std::string mSocketPath;
  pid_t mServerPid = 0;
  std::atomic<bool> mRemoteValid{true};

 private:
  SInt32 Gone(SInt32 inOtherwise);
};

CMessagePort* AsPort(CFMessagePortRef inPort) {
  OpaqueCFObject* object = reinterpret_cast<OpaqueCFObject*>(inPort);
  return (object && object->type == kCFMessagePortTypeID) ? static_cast<CMessagePort*>(object) : nullptr;
}

// How many connections a local port holds at once; a new one beyond that
// pushes out the oldest, so idle peers cannot shut others out.
constexpr size_t kMaxConnections = 32;

void Drop(CPortCore& ioCore, std::map<UInt64, CConnection>::iterator inAt) {
  close(inAt->second.fd);
  ioCore.connections.erase(inAt);
}

// Writes what the socket takes of the reply; true when the connection is done with.
bool SendReply(CConnection& c) {
  while (c.replySent < c.reply.size()) {
    ssize_t n = send(c.fd, c.reply.data() + c.replySent, c.reply.size() - c.replySent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      c.replySent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
  }
  return true;
}

// Reads what has arrived; false when the connection is to be closed. A
// complete request goes to outArrived.
bool ReadRequest(UInt64 inID, CConnection& c, std::vector<CArrived>& outArrived) {
  for (;;) {
    UInt8* into;
    size_t room;
    if (c.headerHave < kRequestHeaderSize) {
      into = c.header + c.headerHave;
      room = kRequestHeaderSize - c.headerHave;
    } else {
      if (c.bodyHave == c.body.size()) {
        // Room for what may come next, never more than the rest of the message.
        const size_t rest = c.length - c.bodyHave;
        const size_t step = std::min(rest, std::max<size_t>(64 * 1024, c.body.size()));
        try {
          c.body.resize(c.body.size() + step);
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
      into = c.body.data() + c.bodyHave;
      room = c.body.size() - c.bodyHave;
    }
    const ssize_t n = recv(c.fd, into, room, MSG_DONTWAIT);
    if (n == 0) return false;  // closed before the whole message: never delivered in part
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    if (c.headerHave < kRequestHeaderSize) {
      c.headerHave += static_cast<size_t>(n);
      if (c.headerHave < kRequestHeaderSize) continue;
      if (ReadBE32(c.header) != kRequestMagic) return false;
      c.length = ReadBE32(c.header + 12);
      if (c.length > static_cast<UInt32>(kCFMessagePortMaxMessageSize)) return false;
    } else {
      c.bodyHave += static_cast<size_t>(n);
    }
    if (c.headerHave == kRequestHeaderSize && c.bodyHave == c.length) {
      outArrived.push_back(CArrived{inID, static_cast<SInt32>(ReadBE32(c.header + 4)), ReadBE32(c.header + 8),
                                    std::move(c.body), c.peer});
      c.body = std::vector<UInt8>();
      c.delivered = true;
      return true;
    }
  }
}

// Accepts waiting connections (a bounded batch) of this user.
void AcceptConnections(CPortCore& ioCore, std::vector<CArrived>& outArrived) {
  for (int i = 0; i < 64; ++i) {
    int fd = accept4(ioCore.listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    ucred cred{};
    socklen_t credLength = sizeof(cred);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLength) != 0 || cred.uid != geteuid()) {
      close(fd);
      continue;
    }
    if (ioCore.connections.size() >= kMaxConnections) {
      auto oldest = ioCore.connections.begin();
      for (auto it = ioCore.connections.begin(); it != ioCore.connections.end(); ++it)
        if (it->second.deadline < oldest->second.deadline) oldest = it;
      Drop(ioCore, oldest);
    }
    const UInt64 id = ioCore.nextID++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    if (epoll_ctl(ioCore.pollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
      close(fd);
      continue;
    }
    CConnection& c = ioCore.connections[id];
    c.fd = fd;
    c.peer = cred.pid;
    c.deadline = DeadlineAfter(kServerIOSeconds);
    // A peer sends its message as it connects: most of it is here already.
    if (!ReadRequest(id, c, outArrived)) Drop(ioCore, ioCore.connections.find(id));
  }
}

// Serves what is ready on the port's connections, then hands complete
// requests to the callback on this (the run loop's) thread.
void ServeConnections(const std::shared_ptr<CPortCore>& inCore) {
  CPortCore& core = *inCore;
  CMessagePort* port = nullptr;
  CFMessagePortCallBack callBack = nullptr;
  void* info = nullptr;
  std::vector<CArrived> arrived;
  {
    std::lock_guard<std::mutex> guard(core.lock);
    if (!core.valid || core.owner == nullptr || core.pollFd < 0) return;
    if (!CFTryRetain(core.owner)) return;
    port = core.owner;
    callBack = core.callBack;
    info = core.info;
    epoll_event events[64];
    const int ready = epoll_wait(core.pollFd, events, 64, 0);
    for (int i = 0; i < ready; ++i) {
      const UInt64 id = events[i].data.u64;
      if (id == 0) {
        AcceptConnections(core, arrived);
        continue;
      }
      if (id == kOrderTimerID) {
        UInt64 expirations = 0;
        ssize_t ignored = read(core.timerFd, &expirations, sizeof expirations);
        (void)ignored;
        continue;
      }
      auto it = core.connections.find(id);
      if (it == core.connections.end()) continue;
      CConnection& c = it->second;
      const bool keep = c.replying ? !SendReply(c) : (c.delivered ? (events[i].events & (EPOLLHUP | EPOLLERR)) == 0
                                                                  : ReadRequest(id, c, arrived));
      if (!keep) Drop(core, it);
    }
    // Peers that took too long lose their connection.
    const Clock::time_point now = Clock::now();
    for (auto it = core.connections.begin(); it != core.connections.end();) {
      auto next = std::next(it);
      if ((!it->second.delivered || it->second.replying) && it->second.deadline <= now) Drop(core, it);
      it = next;
    }
    // In the order of connecting, each request once no earlier one of its
    // sender is still being read (or it has waited long enough).
    for (CArrived& a : arrived) {
      a.readAt = now;
      core.held.emplace(a.id, std::move(a));
    }
    arrived.clear();
    Clock::time_point nextEnd = Clock::time_point::max();
    const auto orderWait = std::chrono::milliseconds(gOrderWaitMillis.load());
    for (auto it = core.held.begin(); it != core.held.end();) {
      bool waits = false;
      if (now < it->second.readAt + orderWait)
        for (auto c = core.connections.begin(); c != core.connections.end() && c->first < it->first && !waits; ++c)
          waits = !c->second.delivered && c->second.peer == it->second.peer;
      if (waits) {
        nextEnd = std::min(nextEnd, it->second.readAt + orderWait);
        ++it;
        continue;
      }
      arrived.push_back(std::move(it->second));
      it = core.held.erase(it);
    }
    // Nothing else may happen on the port meanwhile: the timer wakes the
    // run loop when the first wait ends.
    if (nextEnd != Clock::time_point::max() && core.timerFd >= 0) {
      const auto wait = std::max<Clock::duration>(nextEnd - now, std::chrono::microseconds(100));
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      itimerspec when{};
      when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
      when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
      timerfd_settime(core.timerFd, 0, &when, nullptr);
    }
  }
  for (CArrived& a : arrived) {
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, a.body.data(), static_cast<CFIndex>(a.body.size()));
    a.body = std::vector<UInt8>();
    CFDataRef reply = nullptr;
    if (data != nullptr) {
      reply = callBack ? callBack(port->Ref(), a.msgID, data, info) : nullptr;
      CFRelease(data);
    }
    {
      std::lock_guard<std::mutex> guard(core.lock);
      auto it = core.connections.find(a.id);
      if (it != core.connections.end()) {
        CConnection& c = it->second;
        const CFIndex replyLength = reply ? CFDataGetLength(reply) : 0;
        if (data == nullptr || !(a.flags & kRequestWantsReply) || replyLength > kCFMessagePortMaxMessageSize) {
          Drop(core, it);
        } else {
          c.reply.resize(kReplyHeaderSize + static_cast<size_t>(replyLength));
          WriteBE32(c.reply.data(), kReplyMagic);
          WriteBE32(c.reply.data() + 4, reply ? kReplyHasData : 0);
          WriteBE32(c.reply.data() + 8, static_cast<UInt32>(replyLength));
          if (replyLength > 0) std::memcpy(c.reply.data() + kReplyHeaderSize, CFDataGetBytePtr(reply), static_cast<size_t>(replyLength));
          c.replying = true;
          c.deadline = DeadlineAfter(kServerIOSeconds);
          if (SendReply(c)) {
            Drop(core, it);
          } else {
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.u64 = a.id;
            if (epoll_ctl(core.pollFd, EPOLL_CTL_MOD, c.fd, &event) != 0) Drop(core, it);
          }
        }
      }
    }
    CFRelease(reply);
  }
  port->Release();
}

CFRunLoopSourceRef CMessagePort::CopySource(CFIndex inOrder) {
  if (mRemote || !CoreValid()) return nullptr;
  std::lock_guard<std::mutex> guard(mSourceLock);
  if (mSource == nullptr) {
    std::shared_ptr<CPortCore> core = mCore;
    int fd;
    {
      std::lock_guard<std::mutex> coreGuard(core->lock);
      fd = core->pollFd;
    }
    mSource = CFRunLoopSourceCreateForDescriptor(fd, [core] { ServeConnections(core); }, inOrder);
    if (mSource == nullptr) return nullptr;
  }
  CFRetain(mSource);
  return mSource;
}

// After a failed exchange: kCFMessagePortIsInvalid (and the port invalid)
// when the local port it named is gone or was replaced, else inOtherwise.
SInt32 CMessagePort::Gone(SInt32 inOtherwise) {
  int fd = -1;
  pid_t pid = 0;
  SInt32 err = ConnectToPort(mSocketPath, DeadlineAfter(0), fd, pid);
  if (fd >= 0) close(fd);
  if (err == kCFMessagePortIsInvalid || (err == kCFMessagePortSuccess && pid != mServerPid)) {
    mRemoteValid.store(false);
    return kCFMessagePortIsInvalid;
  }
  return inOtherwise;
}

SInt32 CMessagePort::Send(SInt32 inMsgID, CFDataRef inData, CFTimeInterval inSendTimeout,
                          CFTimeInterval inReceiveTimeout, bool inWantsReply, CFDataRef* outReturnData) {
  if (!mRemoteValid.load()) return kCFMessagePortIsInvalid;
  const CFIndex length = inData ? CFDataGetLength(inData) : 0;
  if (length > kCFMessagePortMaxMessageSize) return kCFMessagePortTransportError;

  Clock::time_point sendDeadline = DeadlineAfter(inSendTimeout);
  int fd = -1;
  pid_t pid = 0;
  SInt32 err = ConnectToPort(mSocketPath, sendDeadline, fd, pid);
  if (err == kCFMessagePortIsInvalid) mRemoteValid.store(false);
  if (err != kCFMessagePortSuccess) return err;
  if (pid != mServerPid) {  // the port this one named has gone; another took its name
    close(fd);
    mRemoteValid.store(false);
    return kCFMessagePortIsInvalid;
  }

  UInt8 header[kRequestHeaderSize];
  WriteBE32(header, kRequestMagic);
  WriteBE32(header + 4, static_cast<UInt32>(inMsgID));
  WriteBE32(header + 8, inWantsReply ? kRequestWantsReply : 0);
  WriteBE32(header + 12, static_cast<UInt32>(length));
  EIoResult io = WriteAll(fd, header, sizeof(header), sendDeadline);
  if (io == EIoResult::kDone && length > 0) io = WriteAll(fd, CFDataGetBytePtr(inData), static_cast<size_t>(length), sendDeadline);
  if (io != EIoResult::kDone) {
    close(fd);
    return io == EIoResult::kTimeout ? kCFMessagePortSendTimeout : Gone(kCFMessagePortTransportError);
  }
  if (!inWantsReply) {
    close(fd);
    return kCFMessagePortSuccess;
  }

  Clock::time_point receiveDeadline = DeadlineAfter(inReceiveTimeout);
  UInt8 replyHeader[kReplyHeaderSize];
  io = ReadAll(fd, replyHeader, sizeof(replyHeader), receiveDeadline);
  if (io != EIoResult::kDone) {
    close(fd);
    return io == EIoResult::kTimeout ? kCFMessagePortReceiveTimeout : Gone(kCFMessagePortTransportError);
  }
  const UInt32 replyFlags = ReadBE32(replyHeader + 4);
  const UInt32 replyLength = ReadBE32(replyHeader + 8);
  if (ReadBE32(replyHeader) != kReplyMagic || replyLength > static_cast<UInt32>(kCFMessagePortMaxMessageSize)) {
    close(fd);
    return kCFMessagePortTransportError;
  }
  std::vector<UInt8> body;
  try {
    body.resize(replyLength);
  } catch (const std::bad_alloc&) {
    close(fd);
    return kCFMessagePortTransportError;
  }
  if (replyLength > 0) io = ReadAll(fd, body.data(), replyLength, receiveDeadline);
  close(fd);
  if (io != EIoResult::kDone) return io == EIoResult::kTimeout ? kCFMessagePortReceiveTimeout : kCFMessagePortTransportError;
  if ((replyFlags & kReplyHasData) && outReturnData) {
    *outReturnData = CFDataCreate(kCFAllocatorDefault, body.data(), static_cast<CFIndex>(replyLength));
    if (*outReturnData == nullptr) return kCFMessagePortTransportError;
  }
  return kCFMessagePortSuccess;
}

}  // namespace

void MessagePortSetOrderWaitForTesting(int inMillis) {
  gOrderWaitMillis.store(inMillis >= 0 ? inMillis : kOrderWaitMillis);
}

std::string MessagePortDirectoryPath() {
  const char* override = std::getenv("TRX_IPC_DIR");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (override && *override) return override;
  if (runtime && *runtime) return std::string(runtime) + "/tremblorix";
  return "/tmp/tremblorix-" + std::to_string(geteuid());
}

OSErr GetMessagePortDirectory(std::string& outPath) {
  outPath.clear();
  const std::string path = MessagePortDirectoryPath();
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno == ENOENT ? dirNFErr : ioErr;
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return ioErr;
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return afpAccessDenied;
  if ((info.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) return afpAccessDenied;
  outPath = path;
  return noErr;
}

CFMessagePortRef CFMessagePortCreateLocal(CFAllocatorRef, CFStringRef inName,
                                          CFMessagePortCallBack inCallBack, CFMessagePortContext* inContext,
                                          Boolean* outShouldFreeInfo) {
  if (outShouldFreeInfo) *outShouldFreeInfo = true;
  std::string name = NameText(inName), socketPath, lockPath;
  if (!PortPaths(name, socketPath, lockPath)) return nullptr;

  // The lock file says who owns the name; the kernel drops the lock when its
  // owner dies, so a socket file left behind by a crash is taken over.
  int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd < 0) return nullptr;
  if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    close(lockFd);
    return nullptr;
  }
  unlink(socketPath.c_str());
  CSocketAddress address(socketPath);
  int listenFd = address.IsValid() ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0) : -1;
  if (listenFd < 0 || bind(listenFd, address.Get(), address.Length()) != 0 ||
      listen(listenFd, SOMAXCONN) != 0) {
    if (listenFd >= 0) close(listenFd);
    unlink(socketPath.c_str());
    close(lockFd);
    return nullptr;
  }

  int pollFd = epoll_create1(EPOLL_CLOEXEC);
  int timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = 0;
  epoll_event timerEvent{};
  timerEvent.events = EPOLLIN;
  timerEvent.data.u64 = kOrderTimerID;
  if (pollFd < 0 || timerFd < 0 || epoll_ctl(pollFd, EPOLL_CTL_ADD, listenFd, &event) != 0 ||
      epoll_ctl(pollFd, EPOLL_CTL_ADD, timerFd, &timerEvent) != 0) {
    if (timerFd >= 0) close(timerFd);
    if (pollFd >= 0) close(pollFd);
    close(listenFd);
    unlink(socketPath.c_str());
    close(lockFd);
    return nullptr;
  }

  CMessagePort* port = new CMessagePort(false, name);
  port->mCore = std::make_shared<CPortCore>();
  port->mCore->pollFd = pollFd;
  port->mCore->timerFd = timerFd;
  port->mCore->listenFd = listenFd;
  port->mCore->lockFd = lockFd;
  port->mCore->socketPath = socketPath;
  port->mCore->callBack = inCallBack;
  port->mCore->owner = port;
  if (inContext) {
    port->mInfo = inContext->retain ? const_cast<void*>(inContext->retain(inContext->info)) : inContext->info;
    port->mReleaseInfo = inContext->release;
    port->mCore->info = port->mInfo;
  }
  if (outShouldFreeInfo) *outShouldFreeInfo = false;
  return port->Ref();
}

CFMessagePortRef CFMessagePortCreateRemote(CFAllocatorRef, CFStringRef inName) {
  std::string name = NameText(inName), socketPath, lockPath;
  if (!PortPaths(name, socketPath, lockPath)) return nullptr;
  int fd = -1;
  pid_t pid = 0;
  if (ConnectToPort(socketPath, DeadlineAfter(kProbeSeconds), fd, pid) != kCFMessagePortSuccess) return nullptr;
  close(fd);
  CMessagePort* port = new CMessagePort(true, name);
  port->mSocketPath = socketPath;
  port->mServerPid = pid;
  return port->Ref();
}

SInt32 CFMessagePortSendRequest(CFMessagePortRef inRemote, SInt32 inMsgID, CFDataRef inData,
                                CFTimeInterval inSendTimeout, CFTimeInterval inReceiveTimeout,
                                CFRunLoopMode inReplyMode, CFDataRef* outReturnData) {
  if (outReturnData) *outReturnData = nullptr;
  CMessagePort* port = AsPort(inRemote);
  if (port == nullptr || !port->mRemote) return kCFMessagePortIsInvalid;
  return port->Send(inMsgID, inData, inSendTimeout, inReceiveTimeout, inReplyMode != nullptr, outReturnData);
}

void CFMessagePortInvalidate(CFMessagePortRef inPort) {
  if (CMessagePort* port = AsPort(inPort)) port->Invalidate();
}

Boolean CFMessagePortIsValid(CFMessagePortRef inPort) {
  CMessagePort* port = AsPort(inPort);
  return port && port->IsValid();
}

Boolean CFMessagePortIsRemote(CFMessagePortRef inPort) {
  CMessagePort* port = AsPort(inPort);
  return port && port->mRemote;
}

CFStringRef CFMessagePortGetName(CFMessagePortRef inPort) {
  CMessagePort* port = AsPort(inPort);
  return port ? port->mNameString : nullptr;
}

CFRunLoopSourceRef CFMessagePortCreateRunLoopSource(CFAllocatorRef, CFMessagePortRef inLocal, CFIndex inOrder) {
  CMessagePort* port = AsPort(inLocal);
  return port ? port->CopySource(inOrder) : nullptr;
}
