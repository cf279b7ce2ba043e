// The export tasks in the order they were added, each named by its cookie,
// and the one running. Tasks go to Vantrel one at a time, the waiting task
// added last first. The queue owns its tasks; a task taken out is the
// caller's.
#pragma once

#include <map>
#include <vector>

#include "app/CExportTask.h"
#include "platform/base/MacTypes.h"

class CExportQueue {
 public:
  CExportQueue() = default;
  CExportQueue(const CExportQueue&) = delete;
  CExportQueue& operator=(const CExportQueue&) = delete;
  // Deletes the tasks that are left.
  ~CExportQueue() { DeleteAll(); }
  void DeleteAll();

  const std::vector<CExportTask*>& GetTasks() const { return mTasks; }
  CExportTask* GetCurrent() const { return mCurrent; }
  void SetCurrent(CExportTask* inTask) { mCurrent = inTask; }

  // A 32-bit cookie from a table: never 0, never one in use. It is held
  // until its task is taken out or ReleaseCookie lets it go.
  UInt32 NewCookie();
  void ReleaseCookie(UInt32 inCookie) { mCookies.erase(inCookie); }
  // Adds the task at the end under its cookie (a new one when it has none).
  void Add(CExportTask* inTask);
  CExportTask* Find(UInt32 inCookie) const;
  // Takes the task out (not deleted); false when it is not there.
  Boolean Remove(CExportTask* inTask);
  // The waiting task added last; nil when none waits.
  CExportTask* NextWaiting() const;

 private:
  std::vector<CExportTask*> mTasks;
  std::map<UInt32, CExportTask*> mCookies;
  UInt32 mNextCookie = 1;
  CExportTask* mCurrent = nullptr;
};
