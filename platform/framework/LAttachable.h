// Attachments: small behaviours added to a host (a pane, a commander, the
// application) that see the messages the host executes before the host acts.
// Each attachment answers one message (or every message) and says whether the
// host still does its own part. Attachments may remove or delete themselves
// and others while they execute.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/LBroadcaster.h"
#include <vector>

class LStream;
class LAttachment;

// Messages that hosts execute through their attachments.
constexpr MessageT msg_AnyMessage = -1;
constexpr MessageT msg_Event = 810;          // ioParam: the EventRecord about to be dispatched
constexpr MessageT msg_DrawOrPrint = 811;    // ioParam: the frame Rect being drawn
constexpr MessageT msg_Click = 812;          // ioParam: the SMouseDownEvent
constexpr MessageT msg_AdjustCursor = 813;   // ioParam: the EventRecord
constexpr MessageT msg_KeyPress = 814;       // ioParam: the EventRecord of the key
constexpr MessageT msg_CommandStatus = 815;  // ioParam: the SCommandStatus asked for
constexpr MessageT msg_PostAction = 816;     // ioParam: the LAction just done

class LAttachable {
 public:
  LAttachable() = default;
  LAttachable(const LAttachable&) = delete;
  LAttachable& operator=(const LAttachable&) = delete;
  // Deletes the attachments it owns; the others are detached.
  virtual ~LAttachable();

  // Adds the attachment before inBefore (at the end when nil or not attached).
  // An owned attachment is deleted with the host.
  virtual void AddAttachment(LAttachment* inAttachment, LAttachment* inBefore = nullptr, Boolean inOwnsAttachment = true);
  // Detaches without deleting.
  virtual void RemoveAttachment(LAttachment* inAttachment);
  // Deletes the owned attachments, detaches the others.
  void RemoveAllAttachments();
  SInt32 CountAttachments() const { return static_cast<SInt32>(mAttachments.size()); }
  bool HasAttachment(const LAttachment* inAttachment) const;

  // Lets every attachment execute the message, in order; returns false when
  // one of those that answered it said the host must not do its own part.
  Boolean ExecuteAttachments(MessageT inMessage, void* ioParam);

  // The host that stream-built attachments attach to (the layout reader sets it).
  static LAttachable* GetDefaultAttachable() { return sDefaultAttachable; }
  static void SetDefaultAttachable(LAttachable* inAttachable) { sDefaultAttachable = inAttachable; }

 private:
  friend class LAttachment;
  struct Entry {
    LAttachment* attachment;
    bool owned;
  };
  std::vector<Entry> mAttachments;
  static LAttachable* sDefaultAttachable;
};

class LAttachment {
 public:
  static constexpr SInt32 class_ID = 'atch';

  explicit LAttachment(MessageT inMessage = msg_AnyMessage, Boolean inExecuteHost = true);
  // Layout record (big-endian): SInt32 message, UInt8 execute host. The new
  // attachment attaches itself to the default attachable when there is one.
  explicit LAttachment(LStream* inStream);
  LAttachment(const LAttachment&) = delete;
  LAttachment& operator=(const LAttachment&) = delete;
  // Leaves its host.
  virtual ~LAttachment();

  // Runs ExecuteSelf when the message is the attachment's (or it answers
  // every message). Returns whether the host goes on with its own part:
  // the execute-host setting for an answered message, true otherwise.
  virtual Boolean Execute(MessageT inMessage, void* ioParam);

  MessageT GetMessage() const { return mMessage; }
  void SetMessage(MessageT inMessage) { mMessage = inMessage; }
  Boolean GetExecuteHost() const { return mExecuteHost; }
  void SetExecuteHost(Boolean inExecute) { mExecuteHost = inExecute; }
  LAttachable* GetOwnerHost() const { return mOwnerHost; }
  virtual void SetOwnerHost(LAttachable* inHost) { mOwnerHost = inHost; }

 protected:
  virtual void ExecuteSelf(MessageT inMessage, void* ioParam);

  MessageT mMessage;
  Boolean mExecuteHost;
  LAttachable* mOwnerHost = nullptr;

 private:
  friend class LAttachable;
};
