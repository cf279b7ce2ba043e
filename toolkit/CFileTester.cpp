#include "toolkit/CFileTester.h"

#include "platform/files/Resources.h"
#include "toolkit/FileItem.h"
#include "toolkit/UFileUtils.h"

CFileTester::CFileTester() = default;

CFileTester::~CFileTester() = default;

void CFileTester::SpendTime(const EventRecord&) {
  // Tests run with the application's resource file current, as the alerts
  // they may raise expect.
  SInt16 saved = CurResFile();
  UseResFile(0);
  TArray<FileSpecItem*>& list = UFileUtils::mFileList;
  if (mNextIndex < 1 || mNextIndex > list.GetCount()) {
    mNextIndex = 1;
  } else {
    FileSpecItem* item = list[mNextIndex];
    bool known = false;
    try {
      known = item->TestFile();
    } catch (...) {
      known = true;  // try again on a later pass
    }
    // A listener may have taken the item off the list (and deleted it)
    // during the test: only an item still listed is dropped here.
    ArrayIndexT index = list.FetchIndexOf(item);
    if (!known && index != index_Bad) {
      list.RemoveItemsAt(1, index);
      delete item;
    } else {
      ++mNextIndex;
    }
  }
  UseResFile(saved);
}
