#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/CFRunLoop.h"
#include "platform/files/CoreFoundation.h"
#include "platform/ipc/IpcTestSupport.h"

namespace {

std::string Text(CFDataRef inData) {
  return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(inData)), static_cast<size_t>(CFDataGetLength(inData)));
}

CFDataRef MakeData(const std::string& inText) {
  return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(inText.data()), static_cast<CFIndex>(inText.size()));
}

// A connection to a port's socket made by hand, as a peer that writes what
// it likes when it likes.
int ConnectRaw(const std::string& inSocketPath) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, inSocketPath.c_str(), sizeof(address.sun_path) - 1);
  EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  return fd;
}

// What the serving side saw.
struct SServerLog {
  std::mutex lock;
  std::vector<std::pair<SInt32, std::string>> messages;
  int replyDelayMillis = 0;
  std::atomic<bool> holdReplies{false};  // the callback answers only once the test lets it
  bool replyNothing = false;
};

// Waits that only a hang reaches.
constexpr auto kHang = std::chrono::seconds(60);

CFDataRef EchoCallBack(CFMessagePortRef, SInt32 inMsgID, CFDataRef inData, void* inInfo) {
  SServerLog* log = static_cast<SServerLog*>(inInfo);
  {
    std::lock_guard<std::mutex> guard(log->lock);
    log->messages.emplace_back(inMsgID, Text(inData));
  }
  if (log->replyDelayMillis) std::this_thread::sleep_for(std::chrono::milliseconds(log->replyDelayMillis));
  while (log->holdReplies.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (log->replyNothing) return nullptr;
  return MakeData("re:" + Text(inData));
}

// A local echo port served by its own thread's run loop until stopped.
class CServer {
 public:
  explicit CServer(CFStringRef inName) : mServed(inName, EchoCallBack, &mLog) {}
  void Stop() { mServed.Stop(); }
  bool Started() const { return mServed.Started(); }
  CFMessagePortRef Port() const { return mServed.Port(); }
  SServerLog& Log() { return mLog; }

 private:
  SServerLog mLog;
  CServedPort mServed;
};

TEST(MessagePort, RequestWithReplyCarriesIdAndBytesBothWays) {
  StTempPortDirectory dir;
  CServer server(CFSTR("EchoPort"));
  ASSERT_TRUE(server.Started());
  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("EchoPort"));
  ASSERT_NE(remote, nullptr);
  EXPECT_TRUE(CFMessagePortIsRemote(remote));
  EXPECT_TRUE(CFStringEqual(CFMessagePortGetName(remote), CFSTR("EchoPort")));

  std::string binary("a\0b\xff", 4);
  CFDataRef request = MakeData(binary);
  CFDataRef reply = nullptr;
  EXPECT_EQ(CFMessagePortSendRequest(remote, 77, request, 2.0, 2.0, kCFRunLoopDefaultMode, &reply), kCFMessagePortSuccess);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(Text(reply), "re:" + binary);
  CFRelease(reply);

  // An empty message arrives as empty data; a callback without reply data gives none.
  server.Log().replyNothing = true;
  EXPECT_EQ(CFMessagePortSendRequest(remote, -5, nullptr, 2.0, 2.0, kCFRunLoopDefaultMode, &reply), kCFMessagePortSuccess);
  EXPECT_EQ(reply, nullptr);
  {
    std::lock_guard<std::mutex> guard(server.Log().lock);
    ASSERT_EQ(server.Log().messages.size(), 2u);
    EXPECT_EQ(server.Log().messages[0].first, 77);
    EXPECT_EQ(server.Log().messages[0].second, binary);
    EXPECT_EQ(server.Log().messages[1].first, -5);
    EXPECT_EQ(server.Log().messages[1].second, "");
  }
  CFRelease(request);
  CFRelease(remote);
}

TEST(MessagePort, OneWayMessagesArriveWholeAndInOrder) {
  StTempPortDirectory dir;
  CServer server(CFSTR("OrderPort"));
  ASSERT_TRUE(server.Started());
  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("OrderPort"));
  ASSERT_NE(remote, nullptr);
  std::string big(3 * 1024 * 1024, 'x');  // larger than the socket buffers
  big[12345] = 'y';
  for (int i = 0; i < 40; ++i) {
    CFDataRef data = MakeData(i == 20 ? big : std::to_string(i));
    ASSERT_EQ(CFMessagePortSendRequest(remote, i, data, 5.0, 1.0, nullptr, nullptr), kCFMessagePortSuccess);
    CFRelease(data);
  }
  for (const auto limit = std::chrono::steady_clock::now() + kHang; std::chrono::steady_clock::now() < limit;) {
    {
      std::lock_guard<std::mutex> guard(server.Log().lock);
      if (server.Log().messages.size() == 40) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::lock_guard<std::mutex> guard(server.Log().lock);
  ASSERT_EQ(server.Log().messages.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(server.Log().messages[i].first, i);
    EXPECT_EQ(server.Log().messages[i].second, i == 20 ? big : std::to_string(i));
  }
  CFRelease(remote);
}

// Every message is a connection of its own, so a later one can be read whole
// first when its sender was held up between connecting and writing the one
// before; the callback still gets one sender's messages in the order sent.
// A connection that never writes holds the later ones up only briefly.
TEST(MessagePort, OneSendersMessagesKeepTheirOrderWhenOneIsHeldUp) {
  StTempPortDirectory dir;
  CServer server(CFSTR("HeldPort"));
  ASSERT_TRUE(server.Started());
  const std::string path = dir.Path() + "/HeldPort.port";
  auto connectRaw = [&] { return ConnectRaw(path); };
  auto arrived = [&](size_t inCount) {
    const auto limit = std::chrono::steady_clock::now() + kHang;
    while (std::chrono::steady_clock::now() < limit) {
      {
        std::lock_guard<std::mutex> guard(server.Log().lock);
        if (server.Log().messages.size() >= inCount) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("HeldPort"));
  ASSERT_NE(remote, nullptr);

  // Message 1: connected, then held up; message 2 is sent whole meanwhile.
  // The wait for the earlier message is made longer than any hold-up of
  // this thread, however busy the machine.
  MessagePortSetOrderWaitForTesting(60000);
  const int first = connectRaw();
  CFDataRef two = MakeData("two");
  ASSERT_EQ(CFMessagePortSendRequest(remote, 2, two, 2.0, 1.0, nullptr, nullptr), kCFMessagePortSuccess);
  CFRelease(two);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const UInt8 one[19] = {'T', 'x', 'M', 'q', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 'o', 'n', 'e'};
  ASSERT_EQ(send(first, one, sizeof one, 0), static_cast<ssize_t>(sizeof one));
  ASSERT_TRUE(arrived(2));
  {
    std::lock_guard<std::mutex> guard(server.Log().lock);
    ASSERT_EQ(server.Log().messages.size(), 2u);
    EXPECT_EQ(server.Log().messages[0], (std::pair<SInt32, std::string>{1, "one"}));
    EXPECT_EQ(server.Log().messages[1], (std::pair<SInt32, std::string>{2, "two"}));
  }
  close(first);
  MessagePortSetOrderWaitForTesting(-1);

  // A connection that never writes: the message after it still comes, while
  // the silent one is still open (its peer gives up on it only after ten
  // seconds).
  const int silent = connectRaw();
  CFDataRef three = MakeData("three");
  ASSERT_EQ(CFMessagePortSendRequest(remote, 3, three, 2.0, 1.0, nullptr, nullptr), kCFMessagePortSuccess);
  CFRelease(three);
  ASSERT_TRUE(arrived(3));
  char byte = 0;
  EXPECT_EQ(recv(silent, &byte, 1, MSG_DONTWAIT), -1) << "the silent connection was dropped first";
  EXPECT_EQ(errno, EAGAIN);
  close(silent);
  CFRelease(remote);
}

TEST(MessagePort, TimeOuts) {
  StTempPortDirectory dir;
  CServer server(CFSTR("SlowPort"));
  ASSERT_TRUE(server.Started());
  // The reply cannot come before the send has given up on it.
  server.Log().holdReplies = true;
  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("SlowPort"));
  ASSERT_NE(remote, nullptr);
  CFDataRef data = MakeData("hello");
  CFDataRef reply = nullptr;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CFMessagePortSendRequest(remote, 0, data, 1.0, 0.1, kCFRunLoopDefaultMode, &reply),
            kCFMessagePortReceiveTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));  // not before its time
  server.Log().holdReplies = false;
  EXPECT_EQ(reply, nullptr);
  EXPECT_TRUE(CFMessagePortIsValid(remote));  // a slow port is still a port
  CFRelease(data);
  CFRelease(remote);
  server.Stop();

  // A port whose loop does not serve it: a message larger than the socket
  // buffers cannot be handed over in time.
  CFMessagePortRef idle = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("IdlePort"), EchoCallBack, nullptr, nullptr);
  ASSERT_NE(idle, nullptr);
  remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("IdlePort"));
  ASSERT_NE(remote, nullptr);
  data = MakeData(std::string(16 * 1024 * 1024, 'z'));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(CFMessagePortSendRequest(remote, 0, data, 0.2, 0.2, nullptr, nullptr), kCFMessagePortSendTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHang);
  CFRelease(data);
  CFRelease(remote);
  CFRelease(idle);
}

TEST(MessagePort, NameTakenUntilInvalidated) {
  StTempPortDirectory dir;
  Boolean shouldFree = false;
  CFMessagePortRef first = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("OnlyOne"), EchoCallBack, nullptr, &shouldFree);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(shouldFree);
  EXPECT_EQ(CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("OnlyOne"), EchoCallBack, nullptr, &shouldFree), nullptr);
  EXPECT_TRUE(shouldFree);

  // Another process cannot take it either.
  pid_t child = fork();
  if (child == 0) {
    CFMessagePortRef other = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("OnlyOne"), EchoCallBack, nullptr, nullptr);
    _exit(other == nullptr ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  CFMessagePortInvalidate(first);
  EXPECT_FALSE(CFMessagePortIsValid(first));
  EXPECT_EQ(CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, first, 0), nullptr);
  CFMessagePortRef second = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("OnlyOne"), EchoCallBack, nullptr, nullptr);
  EXPECT_NE(second, nullptr);
  CFRelease(first);
  CFRelease(second);

  // Names that cannot be file names are refused.
  for (std::string bad : std::vector<std::string>{"", "a/b", "..", ".hidden", "spa ce", std::string(64, 'n')}) {
    CFStringRef name = CFStringCreateWithCString(kCFAllocatorDefault, bad.c_str(), kCFStringEncodingUTF8);
    EXPECT_EQ(CFMessagePortCreateLocal(kCFAllocatorDefault, name, EchoCallBack, nullptr, nullptr), nullptr) << bad;
    CFRelease(name);
  }
  EXPECT_EQ(CFMessagePortCreateLocal(kCFAllocatorDefault, nullptr, EchoCallBack, nullptr, nullptr), nullptr);
}

TEST(MessagePort, PeerGone) {
  StTempPortDirectory dir;
  EXPECT_EQ(CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("Nobody")), nullptr);

  // The port's owner is killed: a crash leaves the socket file behind.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    CFMessagePortRef port = CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("Mortal"), EchoCallBack, nullptr, nullptr);
    char byte = port ? 1 : 0;
    ssize_t n = write(ready[1], &byte, 1);
    (void)n;
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);
  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("Mortal"));
  CFMessagePortRef unused = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("Mortal"));
  ASSERT_NE(remote, nullptr);
  ASSERT_NE(unused, nullptr);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  CFDataRef data = MakeData("anyone?");
  CFDataRef reply = nullptr;
  EXPECT_EQ(CFMessagePortSendRequest(remote, 0, data, 1.0, 1.0, kCFRunLoopDefaultMode, &reply), kCFMessagePortIsInvalid);
  EXPECT_FALSE(CFMessagePortIsValid(remote));
  EXPECT_EQ(CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("Mortal")), nullptr);

  // The name is free again, and the old remote port does not reach the new owner.
  CServer successor(CFSTR("Mortal"));
  ASSERT_TRUE(successor.Started());
  EXPECT_TRUE(CFMessagePortIsValid(unused));
  EXPECT_EQ(CFMessagePortSendRequest(unused, 0, data, 1.0, 1.0, kCFRunLoopDefaultMode, &reply), kCFMessagePortIsInvalid);
  EXPECT_FALSE(CFMessagePortIsValid(unused));
  EXPECT_TRUE(successor.Log().messages.empty());
  CFRelease(unused);
  CFRelease(remote);

  // A local port invalidated while a remote port exists.
  remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("Mortal"));
  ASSERT_NE(remote, nullptr);
  successor.Stop();
  EXPECT_EQ(CFMessagePortSendRequest(remote, 0, data, 1.0, 1.0, nullptr, nullptr), kCFMessagePortIsInvalid);
  CFRelease(remote);
  CFRelease(data);
  close(ready[0]);
  close(ready[1]);
}

TEST(MessagePort, DirectoryIsPrivate) {
  StTempPortDirectory dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  std::string path;
  ASSERT_EQ(GetMessagePortDirectory(path), noErr);
  EXPECT_EQ(path, dir.Path());
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A file or a link in its place is refused.
  std::string file = dir.Path() + "/notadir";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  setenv("TRX_IPC_DIR", file.c_str(), 1);
  EXPECT_NE(GetMessagePortDirectory(path), noErr);
  EXPECT_EQ(CFMessagePortCreateLocal(kCFAllocatorDefault, CFSTR("Anything"), EchoCallBack, nullptr, nullptr), nullptr);
  std::string link = dir.Path() + "/link";
  ASSERT_EQ(symlink(dir.Path().c_str(), link.c_str()), 0);
  setenv("TRX_IPC_DIR", link.c_str(), 1);
  EXPECT_NE(GetMessagePortDirectory(path), noErr);
  setenv("TRX_IPC_DIR", dir.Path().c_str(), 1);
}

TEST(MessagePort, APortFolderDeeperThanASocketAddressWorks) {
  StTempPortDirectory dir;
  std::string deep = dir.Path();
  while (deep.size() < 200) {
    deep += "/a-folder-with-a-long-name";
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  setenv("TRX_IPC_DIR", deep.c_str(), 1);
  {
    CServer server(CFSTR("TremblorixExportProgressPort"));
    ASSERT_TRUE(server.Started());
    struct stat info;
    EXPECT_EQ(stat((deep + "/TremblorixExportProgressPort.port").c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("TremblorixExportProgressPort"));
    ASSERT_NE(remote, nullptr);
    CFDataRef request = MakeData("deep");
    CFDataRef reply = nullptr;
    EXPECT_EQ(CFMessagePortSendRequest(remote, 1, request, 2.0, 2.0, kCFRunLoopDefaultMode, &reply),
              kCFMessagePortSuccess);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Text(reply), "re:deep");
    CFRelease(reply);
    CFRelease(request);
    CFRelease(remote);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir.Path() + "/a-folder-with-a-long-name", ignored);
  setenv("TRX_IPC_DIR", dir.Path().c_str(), 1);
}

TEST(MessagePort, DataObjects) {
  const UInt8 bytes[] = {1, 2, 3};
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes, 3);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(CFDataGetLength(data), 3);
  EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), bytes, 3), 0);
  CFDataRef copy = CFDataCreateCopy(kCFAllocatorDefault, data);
  EXPECT_NE(copy, data);
  EXPECT_EQ(CFDataGetBytePtr(copy)[2], 3);
  CFRetain(data);
  EXPECT_EQ(CFGetRetainCount(data), 2);
  EXPECT_EQ(CFGetTypeID(data), CFDataGetTypeID());
  EXPECT_NE(CFGetTypeID(data), CFStringGetTypeID());
  CFRelease(data);
  CFRelease(data);
  CFRelease(copy);
  EXPECT_EQ(CFDataGetLength(reinterpret_cast<CFDataRef>(CFSTR("not data"))), 0);  // a string is no data
  EXPECT_EQ(CFDataCreate(kCFAllocatorDefault, nullptr, 4), nullptr);
  EXPECT_EQ(CFDataCreate(kCFAllocatorDefault, bytes, -1), nullptr);
  CFDataRef empty = CFDataCreate(kCFAllocatorDefault, nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(CFDataGetBytePtr(empty), nullptr);
  EXPECT_EQ(CFDataGetLength(empty), 0);
  CFRelease(empty);
}

}  // namespace

// Peers that connect and then hold back (half a message, nothing at all,
// a header announcing 256 MiB that never come) hold up no one else, and an
// announced length is not allocated before its bytes arrive.
TEST(MessagePort, StalledPeersBlockNoOne) {
  StTempPortDirectory dir;
  CServer server(CFSTR("BusyPort"));
  ASSERT_TRUE(server.Started());
  const std::string path = dir.Path() + "/BusyPort.port";
  auto connectRaw = [&] { return ConnectRaw(path); };
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::vector<int> peers;
  const UInt8 half[6] = {'T', 'x', 'M', 'q', 0, 0};
  peers.push_back(connectRaw());
  ASSERT_EQ(send(peers.back(), half, sizeof half, 0), static_cast<ssize_t>(sizeof half));
  const UInt8 huge[16] = {'T', 'x', 'M', 'q', 0, 0, 0, 1, 0, 0, 0, 0, 0x10, 0, 0, 0};  // 256 MiB to come
  peers.push_back(connectRaw());
  ASSERT_EQ(send(peers.back(), huge, sizeof huge, 0), static_cast<ssize_t>(sizeof huge));
  for (int i = 0; i < 200; ++i) peers.push_back(connectRaw());

  CFMessagePortRef remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFSTR("BusyPort"));
  ASSERT_NE(remote, nullptr);
  for (int round = 0; round < 3; ++round) {
    CFDataRef data = MakeData("through");
    CFDataRef reply = nullptr;
    // A stalled peer would hold this one up for the ten seconds after which it is dropped.
    EXPECT_EQ(CFMessagePortSendRequest(remote, 5, data, 8.0, 8.0, kCFRunLoopDefaultMode, &reply), kCFMessagePortSuccess);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Text(reply), "re:through");
    CFRelease(reply);
    CFRelease(data);
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kilobytes
  for (int fd : peers) close(fd);
  CFRelease(remote);
}
