// Message ports for the tests: a fresh private port directory for each
// test, so tests run in parallel, and a local port served on a thread.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/CFRunLoop.h"

class StTempPortDirectory {
 public:
  StTempPortDirectory() {
    char pattern[] = "/tmp/trx-ipc-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    mPath = made ? made : "";
    setenv("TRX_IPC_DIR", mPath.c_str(), 1);
  }
  ~StTempPortDirectory() {
    if (DIR* dir = opendir(mPath.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((mPath + "/" + name).c_str());
      }
      closedir(dir);
    }
    rmdir(mPath.c_str());
    unsetenv("TRX_IPC_DIR");
  }
  const std::string& Path() const { return mPath; }

 private:
  std::string mPath;
};

// A local port served by its own thread's run loop (in inMode) until
// stopped: inCallBack gets every message with inInfo. Started() is false
// when the port could not be made (its name taken, say).
class CServedPort {
 public:
  CServedPort(CFStringRef inName, CFMessagePortCallBack inCallBack, void* inInfo,
              CFRunLoopMode inMode = kCFRunLoopDefaultMode) {
    std::atomic<int> state{0};
    mThread = std::thread([this, inName, inCallBack, inInfo, inMode, &state] {
      CFMessagePortContext context{0, inInfo, nullptr, nullptr, nullptr};
      mPort = CFMessagePortCreateLocal(kCFAllocatorDefault, inName, inCallBack, &context, nullptr);
      CFRunLoopSourceRef source = mPort ? CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, mPort, 0) : nullptr;
      if (source == nullptr) {
        state = -1;
        return;
      }
      mLoop = CFRunLoopGetCurrent();
      CFRunLoopAddSource(mLoop, source, inMode);
      state = 1;
      CFRunLoopRun();
      CFRunLoopRemoveSource(mLoop, source, inMode);
      CFRelease(source);
    });
    while (state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    mStarted = state == 1;
  }
  ~CServedPort() { Stop(); }
  CServedPort(const CServedPort&) = delete;
  CServedPort& operator=(const CServedPort&) = delete;

  // Ends the run loop and its thread, then the port.
  void Stop() {
    if (mThread.joinable()) {
      if (mStarted) CFRunLoopStop(mLoop);
      mThread.join();
    }
    if (mPort) {
      CFMessagePortInvalidate(mPort);
      CFRelease(mPort);
      mPort = nullptr;
    }
  }
  bool Started() const { return mStarted; }
  CFMessagePortRef Port() const { return mPort; }

 private:
  CFMessagePortRef mPort = nullptr;
  CFRunLoopRef mLoop = nullptr;
  bool mStarted = false;
  std::thread mThread;
};
