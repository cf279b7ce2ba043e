#include "app/CExportTask.h"

#include <cstring>

CExportTask::~CExportTask() {
  if (mRequest) CFRelease(mRequest);
}

void CExportTask::Init(const FSSpec& inDestination, CFDataRef inRequest) {
  mDestination = inDestination;
  if (inRequest) CFRetain(inRequest);
  if (mRequest) CFRelease(mRequest);
  mRequest = inRequest;
}

void CExportTask::GetTitle(LStr255& outTitle) const { outTitle = LStr255(mDestination.name); }

void CExportTask::GetActivity(Str255 outActivity) const {
  std::memcpy(outActivity, static_cast<ConstStringPtr>(mActivity), static_cast<size_t>(mActivity.Length()) + 1);
}
