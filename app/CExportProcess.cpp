// Vantrel's process and the ports: the status port, the launch, Vantrel's
// port and the sends.
#include "app/CExportProcess.h"

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "app/ExportTexts.h"
#include "platform/base/LException.h"
#include "platform/files/Bundle.h"
#include "platform/files/Resources.h"
#include "platform/framework/LStr255.h"
#include "vantrel/ExportProtocol.h"

namespace {

// How long a launched Vantrel may take to open its port before its silence
// counts as a loss.
constexpr double kLaunchBound = 60.0;
// The toolbox's "port in use": another process holds the status port's name.
constexpr OSErr kPortInUseErr = -97;

}  // namespace

CExportProcess::~CExportProcess() {
  CloseStatusPort();
  ReleaseRemotePort();
}

void CExportProcess::QuitEarlierVantrel() {
  CFMessagePortRef earlier =
      CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
  if (earlier == nullptr) return;
  const std::vector<UInt8> quit = EncodeExportCommand(kExportCommandQuit);
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, quit.data(), static_cast<CFIndex>(quit.size()));
  CFMessagePortSendRequest(earlier, kExportMessageID, data, kExportCommandSendTimeout, 0, nullptr, nullptr);
  CFRelease(data);
  CFMessagePortInvalidate(earlier);
  CFRelease(earlier);
}

// The status port could not be made: why, in words.
void CExportProcess::ThrowPortFailure() {
  std::string folder;
  const OSErr folderErr = GetMessagePortDirectory(folder);
  folder = MessagePortDirectoryPath();
  SInt16 item = str_PortsTaken;
  if (folderErr != noErr) {
    struct stat info {};
    item = ::lstat(folder.c_str(), &info) == 0 && info.st_uid != ::geteuid() ? str_PortFolderOthers
                                                                              : str_PortFolderUnusable;
  }
  std::string text = IndString(STRx_ExportTasks, item);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, folder);
  if (text.size() > 255) text.resize(255);
  LStr255 words(text.c_str());
  throw LException(folderErr != noErr ? folderErr : kPortInUseErr, words);
}

void CExportProcess::OpenStatusPort(CFMessagePortCallBack inCallBack) {
  mStatusPort = CFMessagePortCreateLocal(kCFAllocatorDefault, CFStringMakeConstantString(kExportProgressPortName),
                                         inCallBack, nullptr, nullptr);
  if (mStatusPort == nullptr) ThrowPortFailure();
  mRunLoopSource = CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, mStatusPort, 0);
  if (mRunLoopSource == nullptr) {
    CFMessagePortInvalidate(mStatusPort);
    CFRelease(mStatusPort);
    mStatusPort = nullptr;
    ThrowIfNil_(mRunLoopSource);
  }
  CFRunLoopAddSource(CFRunLoopGetMain(), mRunLoopSource, kCFRunLoopCommonModes);
}

void CExportProcess::CloseStatusPort() {
  if (mRunLoopSource) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), mRunLoopSource, kCFRunLoopCommonModes);
    CFRelease(mRunLoopSource);
    mRunLoopSource = nullptr;
  }
  if (mStatusPort) {
    CFMessagePortInvalidate(mStatusPort);
    CFRelease(mStatusPort);
    mStatusPort = nullptr;
  }
}

OSErr CExportProcess::Launch() {
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (bundle == nullptr) return noErr;
  CFURLRef url = CFBundleCopyAuxiliaryExecutableURL(bundle, CFSTR("Vantrel"));
  if (url == nullptr) return noErr;
  CFRelease(url);
  ProcessSerialNumber psn{0, 0};
  OSStatus err = LaunchAuxiliaryExecutable("Vantrel", kVantrelLaunchRefCon, &psn);
  if (err != noErr) {
    syslog(LOG_NOTICE, "%s%d\n", "Couldn't launch Vantrel: ", static_cast<int>(err));
    return static_cast<OSErr>(err);
  }
  mPSN = psn;
  // Until its port answers, Vantrel is still starting: silence then is no loss.
  mLaunchPending = true;
  mLaunchedAt = std::chrono::steady_clock::now();
  return noErr;
}

Boolean CExportProcess::IsStarting() const {
  if (!mLaunchPending) return false;
  if (std::chrono::steady_clock::now() - mLaunchedAt > std::chrono::duration<double>(kLaunchBound)) return false;
  // The Vantrel this launch started is still there (its end would also come as an event).
  pid_t pid = -1;
  if ((mPSN.highLongOfPSN == 0 && mPSN.lowLongOfPSN == 0) || GetProcessPID(&mPSN, &pid) != noErr || pid <= 0)
    return false;
  return ::kill(pid, 0) == 0;
}

void CExportProcess::Launched(const ProcessSerialNumber& inPSN) {
  mPSN = inPSN;
  RemotePort();
}

Boolean CExportProcess::Terminated(const ProcessSerialNumber& inPSN) {
  Boolean same = false;
  if ((mPSN.highLongOfPSN == 0 && mPSN.lowLongOfPSN == 0) || SameProcess(&inPSN, &mPSN, &same) != noErr || !same)
    return false;
  ReleaseRemotePort();
  mPSN = ProcessSerialNumber{0, 0};
  return true;
}

void CExportProcess::ForgetLaunch() {
  mPSN = ProcessSerialNumber{0, 0};
  mLaunchPending = false;
}

CFMessagePortRef CExportProcess::RemotePort() {
  if (mRemotePort && !CFMessagePortIsValid(mRemotePort)) ReleaseRemotePort();
  if (mRemotePort == nullptr)
    mRemotePort = CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
  if (mRemotePort) mLaunchPending = false;
  return mRemotePort;
}

void CExportProcess::ReleaseRemotePort() {
  if (mRemotePort == nullptr) return;
  CFMessagePortInvalidate(mRemotePort);
  CFRelease(mRemotePort);
  mRemotePort = nullptr;
}

OSErr CExportProcess::SendRequest(CFDataRef inData) {
  CFMessagePortRef port = RemotePort();
  if (port == nullptr || inData == nullptr) return paramErr;
  CFDataRef reply = nullptr;
  SInt32 result = CFMessagePortSendRequest(port, kExportMessageID, inData, kExportClientSendTimeout,
                                           kExportClientReceiveTimeout, kCFRunLoopDefaultMode, &reply);
  if (reply) CFRelease(reply);
  if (result == kCFMessagePortIsInvalid) ReleaseRemotePort();
  return static_cast<OSErr>(result);
}

OSErr CExportProcess::SendCommand(const UInt8* inBytes, size_t inLength) {
  CFMessagePortRef port = RemotePort();
  if (port == nullptr || inBytes == nullptr || inLength == 0) return paramErr;
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, inBytes, static_cast<CFIndex>(inLength));
  if (data == nullptr) return memFullErr;
  // One way: commands have no reply, and a busy or hung Vantrel must not hold the interface.
  SInt32 result = CFMessagePortSendRequest(port, kExportMessageID, data, kExportCommandSendTimeout, 0, nullptr,
                                           nullptr);
  CFRelease(data);
  if (result == kCFMessagePortIsInvalid) ReleaseRemotePort();
  return static_cast<OSErr>(result);
}
