// The export tasks and their cookies.
#include "app/CExportQueue.h"

#include <algorithm>

void CExportQueue::DeleteAll() {
  // Tasks that never finished leave their destinations as they were.
  for (CExportTask* task : mTasks) delete task;
  mTasks.clear();
  mCookies.clear();
  mCurrent = nullptr;
}

UInt32 CExportQueue::NewCookie() {
  for (;;) {
    UInt32 cookie = mNextCookie++;
    if (mNextCookie == 0) mNextCookie = 1;
    if (cookie != 0 && mCookies.find(cookie) == mCookies.end()) {
      mCookies[cookie] = nullptr;
      return cookie;
    }
  }
}

void CExportQueue::Add(CExportTask* inTask) {
  if (inTask->GetCookie() == 0) inTask->SetCookie(NewCookie());
  mCookies[inTask->GetCookie()] = inTask;
  mTasks.push_back(inTask);
}

CExportTask* CExportQueue::Find(UInt32 inCookie) const {
  if (inCookie == 0) return nullptr;
  auto it = mCookies.find(inCookie);
  return it == mCookies.end() ? nullptr : it->second;
}

Boolean CExportQueue::Remove(CExportTask* inTask) {
  auto it = std::find(mTasks.begin(), mTasks.end(), inTask);
  if (it == mTasks.end()) return false;
  mTasks.erase(it);
  mCookies.erase(inTask->GetCookie());
  return true;
}

CExportTask* CExportQueue::NextWaiting() const {
  for (auto it = mTasks.rbegin(); it != mTasks.rend(); ++it)
    if ((*it)->mState == exportTask_Waiting) return *it;
  return nullptr;
}
