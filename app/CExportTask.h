// One queued export: its destination, the whole request message for Vantrel,
// its state (waiting, running, done), the last error and progress Vantrel
// reported, and the activity text shown while it runs. Tasks are named to
// Vantrel and in the task list by a 32-bit cookie the export client hands out.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/CoreFoundation.h"
#include "platform/ipc/CFBase.h"
#include "platform/files/Files.h"
#include "platform/framework/LStr255.h"

enum EExportTaskState : SInt16 {
  exportTask_Waiting = 0,
  exportTask_Running = 1,
  exportTask_Done = 2,
};

class CExportTask {
 public:
  CExportTask() = default;
  CExportTask(const CExportTask&) = delete;
  CExportTask& operator=(const CExportTask&) = delete;
  // Releases the request.
  ~CExportTask();

  // Copies the destination and retains the request.
  void Init(const FSSpec& inDestination, CFDataRef inRequest);
  void GetFile(FSSpec& outDestination) const { outDestination = mDestination; }
  // The destination's file name.
  void GetTitle(LStr255& outTitle) const;
  void GetActivity(Str255 outActivity) const;
  void SetActivity(ConstStringPtr inActivity) { mActivity = inActivity; }

  CFDataRef GetRequest() const { return mRequest; }
  UInt32 GetCookie() const { return mCookie; }
  void SetCookie(UInt32 inCookie) { mCookie = inCookie; }

  Fixed mProgress = 0;
  SInt16 mState = exportTask_Waiting;
  SInt16 mError = 0;
  // The request reached Vantrel (a send that failed is repeated at the next heartbeat).
  Boolean mSent = false;
  // A cancel was sent; the task stays until its done record.
  Boolean mCancelSent = false;

 private:
  FSSpec mDestination{};
  CFDataRef mRequest = nullptr;
  UInt32 mCookie = 0;
  LStr255 mActivity;
};
