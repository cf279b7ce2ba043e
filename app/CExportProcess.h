// Vantrel's process and the two ports, as the application sees them: the
// status port "TremblorixExportProgressPort" Vantrel reports to (served by
// the main run loop), the launch of the bundle's Vantrel and its process
// number, Vantrel's message port, and the sends to it. A launched Vantrel
// counts as starting until its port answers, within a bound: its silence
// then is no loss.
//
// Main thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/Processes.h"

// Send time-outs of the commands (cancel, quit, heartbeat): short, so that a
// Vantrel that hangs never holds up the interface.
constexpr double kExportCommandSendTimeout = 0.05;

class CExportProcess {
 public:
  CExportProcess() = default;
  CExportProcess(const CExportProcess&) = delete;
  CExportProcess& operator=(const CExportProcess&) = delete;
  // Closes the ports.
  ~CExportProcess();

  // Asks a Vantrel left running by an earlier run to quit.
  static void QuitEarlierVantrel();
  // Opens the status port on the main run loop; its records go to
  // inCallBack. A failure is thrown with its cause in words.
  void OpenStatusPort(CFMessagePortCallBack inCallBack);
  void CloseStatusPort();

  // Launches the bundle's Vantrel; 0 without one. Failures go to the system log.
  OSErr Launch();
  // Whether the launched Vantrel is still starting: it runs, has not opened
  // its port yet, and was launched within the bound.
  Boolean IsStarting() const;
  // The launched event of the Vantrel this application launched.
  void Launched(const ProcessSerialNumber& inPSN);
  // The terminated event of a process: true when it was our Vantrel, which
  // is forgotten then, with its port.
  Boolean Terminated(const ProcessSerialNumber& inPSN);
  const ProcessSerialNumber& GetPSN() const { return mPSN; }
  // Forgets the launched Vantrel (its process number and the start bound).
  void ForgetLaunch();

  // Sends a request and waits for Vantrel's reply; paramErr without port or data.
  OSErr SendRequest(CFDataRef inData);
  // Sends a command (one way, short time-out); paramErr without port or bytes.
  OSErr SendCommand(const UInt8* inBytes, size_t inLength);
  OSErr SendCommand(const std::vector<UInt8>& inBytes) { return SendCommand(inBytes.data(), inBytes.size()); }
  // Lets go of Vantrel's port; the next send looks it up again.
  void ReleaseRemotePort();

 private:
  [[noreturn]] static void ThrowPortFailure();
  CFMessagePortRef RemotePort();

  CFMessagePortRef mStatusPort = nullptr;
  CFRunLoopSourceRef mRunLoopSource = nullptr;
  CFMessagePortRef mRemotePort = nullptr;
  ProcessSerialNumber mPSN = {0, 0};
  // A launched Vantrel whose port has not answered yet, and since when.
  Boolean mLaunchPending = false;
  std::chrono::steady_clock::time_point mLaunchedAt;
};
