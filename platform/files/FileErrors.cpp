#include "platform/files/FileErrors.h"

#include <cerrno>

#include "platform/files/Files.h"

OSErr OSErrFromErrno(int inErrno) {
  switch (inErrno) {
    case 0:
      return noErr;
    case ENOENT:
      return fnfErr;
    case ENOTDIR:
      return dirNFErr;
    case EACCES:
    case EPERM:
      return afpAccessDenied;
    case EROFS:
      return wPrErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return dskFulErr;
    case ENOMEM:
      return memFullErr;
    case EEXIST:
    case ENOTEMPTY:
      return dupFNErr;
    case ENAMETOOLONG:
      return bdNamErr;
    case EISDIR:
      return notAFileErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case EBUSY:
    case ETXTBSY:
      return fBsyErr;
    case EINVAL:
      return paramErr;
    default:
      return ioErr;
  }
}
