// Message ports between processes of the same user on this machine. A local
// port owns a name; remote ports reach it by that name. Messages are sent
// whole and delivered whole or not at all, to the local port's callback on the
// thread whose run loop serves the port's source.
//
// Transport: one Unix-domain stream socket per local port in the per-user
// port directory (mode 0700; $TRX_IPC_DIR when set, else
// $XDG_RUNTIME_DIR/tremblorix, else /tmp/tremblorix-<uid>), of any length:
// a folder too deep for a socket address is reached through its descriptor.
// Both ends check that the peer runs under the same user id.
#pragma once

#include <string>

#include "platform/files/CoreFoundation.h"
#include "platform/ipc/CFBase.h"
#include "platform/ipc/CFRunLoop.h"

typedef struct OpaqueCFMessagePort* CFMessagePortRef;

// The reply of the callback (or nullptr for none) is released by the port
// after it was sent. The message data is released after the callback returns.
typedef CFDataRef (*CFMessagePortCallBack)(CFMessagePortRef inLocal, SInt32 inMsgID, CFDataRef inData,
                                           void* inInfo);

struct CFMessagePortContext {
  CFIndex version;
  void* info;
  const void* (*retain)(const void* inInfo);
  void (*release)(const void* inInfo);
  void* copyDescription;
};

enum : SInt32 {
  kCFMessagePortSuccess = 0,
  kCFMessagePortSendTimeout = -1,
  kCFMessagePortReceiveTimeout = -2,
  kCFMessagePortIsInvalid = -3,
  kCFMessagePortTransportError = -4,
};

// The largest message or reply the ports carry.
constexpr CFIndex kCFMessagePortMaxMessageSize = 256 * 1024 * 1024;

// Port names are 1 to 63 characters of letters, digits, '.', '_' and '-', not
// starting with '.'; ports with other names cannot be made.
//
// nullptr when the name is taken (by this or another process), not valid, or
// the port directory is not safe to use. *outShouldFreeInfo (when given) is
// set to false when a port was made, true otherwise.
CFMessagePortRef CFMessagePortCreateLocal(CFAllocatorRef inAllocator, CFStringRef inName,
                                          CFMessagePortCallBack inCallBack, CFMessagePortContext* inContext,
                                          Boolean* outShouldFreeInfo);
// nullptr when no local port of that name exists now.
CFMessagePortRef CFMessagePortCreateRemote(CFAllocatorRef inAllocator, CFStringRef inName);

// Sends inData (nullptr: an empty message) to a remote port. With a reply mode
// the call waits at most inReceiveTimeout for the callback's reply and stores
// it in *outReturnData (nullptr when the callback gave none; the caller
// releases it); without one the message is sent one way and nothing is
// awaited. Results: kCFMessagePortSuccess; kCFMessagePortSendTimeout when the
// message could not be handed over within inSendTimeout;
// kCFMessagePortReceiveTimeout when no reply came in time;
// kCFMessagePortIsInvalid when the port is invalid or the local port it
// named is gone (the remote port becomes invalid);
// kCFMessagePortTransportError for any other failure (a message too large,
// the peer closing the connection while the port still exists).
SInt32 CFMessagePortSendRequest(CFMessagePortRef inRemote, SInt32 inMsgID, CFDataRef inData,
                                CFTimeInterval inSendTimeout, CFTimeInterval inReceiveTimeout,
                                CFRunLoopMode inReplyMode, CFDataRef* outReturnData);

// A local port gives up its name at once; a remote port just stops sending.
void CFMessagePortInvalidate(CFMessagePortRef inPort);
Boolean CFMessagePortIsValid(CFMessagePortRef inPort);
Boolean CFMessagePortIsRemote(CFMessagePortRef inPort);
// The name the port was made with (owned by the port; nullptr for nullptr).
CFStringRef CFMessagePortGetName(CFMessagePortRef inPort);

// The source that serves a local port's messages on a run loop (nullptr for a
// remote or invalid port). Invalidating the port invalidates its source.
CFRunLoopSourceRef CFMessagePortCreateRunLoopSource(CFAllocatorRef inAllocator, CFMessagePortRef inLocal,
                                                    CFIndex inOrder);

// The per-user port directory, created with mode 0700 when missing. Fails
// (and leaves outPath empty) when it is not a directory of this user that only
// the user can enter.
OSErr GetMessagePortDirectory(std::string& outPath);
// The path of the per-user port directory, whether it can be used or not.
std::string MessagePortDirectoryPath();
// Tests: how long a request read whole waits for an earlier one of its
// sender that is still being read (100 ms; a negative value restores that).
void MessagePortSetOrderWaitForTesting(int inMillis);
