#include "toolkit/UFileUtils.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/ui/NavServices.h"
#include "platform/ui/UDesktop.h"
#include "toolkit/CFileTester.h"
#include "toolkit/FileItem.h"

LStr255 UFileUtils::mVolume;
TArray<FileSpecItem*> UFileUtils::mFileList;
CFileTester* UFileUtils::mFileTester = nullptr;
UFileUtils::ImageTypeTest UFileUtils::sImageTypeTest;

namespace {

struct TypeRow {
  OSType type;
  const char* endings[8];
};

// Tested row by row, within a row in order; case-exact; trailing blanks are
// part of the ending.
const TypeRow kTypeTable[] = {
    {'TIFF', {".tif", ".TIF", ".tiff", ".TIFF"}},
    {'BMPf', {".bmp", ".BMP", ".bmp ", ".BMP "}},
    {'jp2 ', {".jp2", ".JP2", ".jp2 ", ".JP2 "}},
    {'JPEG', {".jpg", ".JPG", ".jpg ", ".JPG "}},
    {'PICT', {".pct", ".PCT", ".pict", ".PICT"}},
    {'PNGf', {".png", ".PNG", ".png ", ".PNG "}},
    {'PNTG', {".pntg", ".PNTG"}},
    {'8BPS', {".psd", ".PSD", ".psd ", ".PSD "}},
    {'qtif', {".qtif", ".QTIF"}},
    {'.SGI', {".sgi", ".SGI", ".sgi ", ".SGI "}},
    {'TPIC', {".tga", ".TGA", ".tga ", ".TGA "}},
    {'dvc!', {".dv", ".DV", ".dv ", ".DV ", ".dv  ", ".DV  "}},
    {'MooV', {".mov", ".MOV", ".mov ", ".MOV ", ".moov", ".MOOV"}},
    {'PICS', {".pcs", ".PCS", ".pcs ", ".PCS "}},
    {'GIFf', {".gif", ".GIF", ".gif ", ".GIF "}},
    {'qdgx', {".gx", ".GX"}},
    {'FLC ', {".flc", ".FLC", ".flc ", ".FLC "}},
    {'VfW ', {".avi", ".AVI", ".avi ", ".AVI "}},
    {'SWFL', {".swf", ".SWF", ".swf ", ".SWF "}},
    {'FPix', {".fpx", ".FPX", ".fpx ", ".FPX "}},
    {'mpg4', {".mp4", ".MP4", ".mpg4", ".MPG4", ".mpg", ".MPG", ".mpg ", ".MPG "}},
    {'PDF ', {".pdf", ".PDF", ".pdf ", ".PDF "}},
};

bool EndsWith(const std::string& inText, const char* inEnding) {
  size_t n = std::strlen(inEnding);
  return inText.size() >= n && inText.compare(inText.size() - n, n, inEnding) == 0;
}

constexpr size_t kMaxFileName = 63;
constexpr EventTimerInterval kFileTestInterval = 0.1;

}  // namespace

void UFileUtils::Init() {
  Str63 name;
  if (FSGetVolumeName(1, nullptr, name) == noErr) mVolume = name;
  if (!mFileTester) {
    mFileTester = new CFileTester;
    // A file a tenth of a second: the watched files are all seen within a
    // second or two, and an idle program does not wake for them each pass.
    mFileTester->StartIdling(kFileTestInterval);
  }
}

void UFileUtils::Finish() {
  // Take the items off the list before deleting them, so nothing reaches a
  // deleted item through the list.
  while (mFileList.GetCount() > 0) {
    FileSpecItem* item = mFileList[mFileList.GetCount()];
    mFileList.RemoveItemsAt(1, mFileList.GetCount());
    delete item;
  }
  delete mFileTester;
  mFileTester = nullptr;
}

OSErr UFileUtils::GetFileTypeForName(ConstStringPtr inName, OSType* outType) {
  std::string name = inName ? PStrToString(inName) : std::string();
  for (const TypeRow& row : kTypeTable) {
    for (const char* ending : row.endings) {
      if (ending && EndsWith(name, ending)) {
        if (outType) *outType = row.type;
        return noErr;
      }
    }
  }
  if (outType) *outType = kUnknownFileType;
  return -1;
}

void UFileUtils::SetImageTypeTest(ImageTypeTest inTest) { sImageTypeTest = std::move(inTest); }

OSErr UFileUtils::IsImageFileAcceptable(FSSpec& inSpec) {
  FInfo info{};
  OSErr err = FSpGetFInfo(&inSpec, &info);
  if (err != noErr) return err;
  // The name from the path: the spec's own name field may be cut short.
  std::string path = FSSpecPath(inSpec);
  Str255 name;
  StringToPStr(path.substr(path.rfind('/') + 1), name);
  OSType nameType = kUnknownFileType;
  GetFileTypeForName(name, &nameType);
  if (sImageTypeTest && (sImageTypeTest(info.fdType) || sImageTypeTest(nameType))) return noErr;
  return -1;
}

void UFileUtils::RemoveExtension(unsigned char* ioName) {
  if (!ioName) return;
  for (UInt8 i = ioName[0]; i >= 1; --i) {
    if (ioName[i] == '.') {
      ioName[0] = static_cast<unsigned char>(i - 1);
      return;
    }
  }
}

LWindow* UFileUtils::FindNamedWindow(ConstStringPtr inName, const LWindow* inExcept) {
  if (!inName) return nullptr;
  for (LWindow* window : UDesktop::GetWindows()) {
    if (window == inExcept) continue;
    Str255 title;
    window->GetDescriptor(title);
    RemoveExtension(title);
    if (title[0] == inName[0] && std::memcmp(title + 1, inName + 1, title[0]) == 0) return window;
  }
  return nullptr;
}

OSErr UFileUtils::SetNewTempVolume(ConstStringPtr inName) {
  mVolume = inName ? LStr255(inName) : LStr255();
  return noErr;
}

OSErr UFileUtils::SelectTempVolume(unsigned char* outName) {
  if (!outName) return paramErr;
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  options.saveFileName.assign(1, '/');  // every volume's folders start at the root
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateChooseVolumeDialog(&options, nullptr, nullptr, &dialog);
  if (err == noErr) err = NavDialogRun(dialog);
  NavReplyRecord reply;
  NavUserAction action = kNavUserActionNone;
  if (err == noErr) {
    action = NavDialogGetUserAction(dialog);
    NavDialogGetReply(dialog, &reply);
  }
  if (dialog) NavDialogDispose(dialog);
  if (err != noErr) return static_cast<OSErr>(err);
  if (action != kNavUserActionChoose || reply.selection.empty()) return userCanceledErr;
  Str255 name;
  SInt16 vRefNum = 0;
  for (SInt16 index = 1; FSGetVolumeName(index, &vRefNum, name) == noErr; ++index)
    if (index == 1 || vRefNum == reply.selection.front().vRefNum) {
      PStrCopy(outName, name);
      if (vRefNum == reply.selection.front().vRefNum) break;
    }
  return noErr;
}

OSErr UFileUtils::GetCurrentTempFolder(SInt16& outVRefNum, SInt32& outDirID) {
  // With one volume, every name leads to the system disk's temporary folder.
  SInt16 vRefNum = kOnSystemDisk;
  Str63 name;
  for (SInt16 index = 1; FSGetVolumeName(index, &vRefNum, name) == noErr; ++index)
    if (PStrEqual(name, mVolume)) break;
  return FindFolder(vRefNum, kTemporaryFolderType, kCreateFolder, &outVRefNum, &outDirID);
}

OSErr UFileUtils::CreateNewTempFile(ConstStringPtr inBaseName, FSSpec& outSpec, Boolean inCreate) {
  if (!inBaseName || inBaseName[0] == 0) return paramErr;
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
  OSErr err = GetCurrentTempFolder(vRefNum, dirID);
  if (err != noErr) return err;
  std::string base = PStrToString(inBaseName);
  for (SInt32 n = 1; n < 1000000; ++n) {
    std::string number = std::to_string(n);
    std::string name = base.substr(0, kMaxFileName - number.size()) + number;
    Str255 pName;
    StringToPStr(name, pName);
    err = FSMakeFSSpec(vRefNum, dirID, pName, &outSpec);
    if (err == noErr) continue;  // taken
    if (err != fnfErr) return err;
    if (inCreate) {
      err = FSpCreate(&outSpec, kTremblorixCreator, kUnknownFileType, smSystemScript);
      if (err == dupFNErr) continue;  // made by someone else meanwhile
      if (err != noErr) return err;
    }
    return noErr;
  }
  return dupFNErr;
}

OSErr UFileUtils::GetFullPath(const FSSpec* inSpec, LStr255& outPath) {
  if (!inSpec) return paramErr;
  std::string path = FSSpecPath(*inSpec);
  if (path.empty()) return paramErr;
  if (path.size() > 255) {
    outPath = LStr255();
    return bdNamErr;
  }
  // Without the leading separator, as a path that starts with the volume.
  outPath = path.size() > 1 ? path.substr(1).c_str() : "";
  return noErr;
}

OSErr UFileUtils::CheckFileExists(FSSpec& inSpec, LStr255& outReason) {
  FInfo info{};
  OSErr err = FSpGetFInfo(&inSpec, &info);
  switch (err) {
    case noErr:
      outReason = "";
      break;
    case nsvErr:
      outReason = "the volume could not be found!";
      break;
    case ioErr:
      outReason = "an I/O error occured!";
      break;
    case bdNamErr:
    case fnfErr:
      outReason = "the file could not be found!";
      break;
    case dirNFErr:
    case fnfErrDirectory:
      outReason = "the directory could not be found!";
      break;
    default:
      outReason = "of an unknown error!";
      break;
  }
  return err;
}

UInt32 UFileUtils::GetModificationDate(SInt16 inVRefNum, SInt32 inDirID, ConstStringPtr inName) {
  FSSpec spec;
  if (FSMakeFSSpec(inVRefNum, inDirID, inName, &spec) != noErr) return 0;
  UInt32 date = 0;
  FSpGetModDate(&spec, &date);
  return date;
}

OSErr UFileUtils::FindApplicationSpec(FSSpec* outSpec) {
  if (!outSpec) return paramErr;
  char exe[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return fnfErr;
  return FSMakeFSSpecFromPath(std::string(exe, static_cast<size_t>(n)), outSpec);
}

void UFileUtils::GetApplicationTitle(unsigned char* outTitle) {
  if (!outTitle) return;
  FSSpec spec;
  if (FindApplicationSpec(&spec) == noErr)
    PStrCopy(outTitle, spec.name);
  else
    outTitle[0] = 0;
}

OSErr UFileUtils::FindFileInApplicationFolder(ConstStringPtr inName, FSSpec* outSpec) {
  FSSpec app;
  OSErr err = FindApplicationSpec(&app);
  if (err != noErr) return err;
  return FSMakeFSSpec(app.vRefNum, app.parID, inName, outSpec);
}

OSErr UFileUtils::GetFolderDirID(SInt16* outVRefNum, SInt32* outParID, ConstStringPtr inName, SInt32* outDirID) {
  FSSpec app;
  OSErr err = FindApplicationSpec(&app);
  if (err != noErr) return err;
  Boolean isDirectory = false;
  SInt32 dirID = 0;
  err = GetDirectoryID(app.vRefNum, app.parID, inName, &dirID, &isDirectory);
  if (err != noErr) return err;
  if (!isDirectory) return dirNFErr;
  if (outVRefNum) *outVRefNum = app.vRefNum;
  if (outParID) *outParID = app.parID;
  if (outDirID) *outDirID = dirID;
  return noErr;
}

bool UFileUtils::DeepFileSearch(const LStr255& inName, SInt16 inVRefNum, SInt32* ioDirID) {
  if (!ioDirID) return false;
  std::string root = FSDirectoryPath(*ioDirID);
  if (root.empty()) return false;
  std::string name(inName.ConstTextPtr(), inName.Length());
  if (name.empty() || name.find('/') != std::string::npos) return false;
  // Depth first, entries in name order, sidecars and links not followed.
  std::vector<std::string> stack{root};
  while (!stack.empty()) {
    std::string folder = stack.back();
    stack.pop_back();
    std::error_code ec;
    std::vector<std::string> subfolders;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
      std::string leaf = it->path().filename().string();
      if (leaf.rfind("._", 0) == 0) continue;
      std::error_code typeErr;
      bool isFolder = it->is_directory(typeErr) && !it->is_symlink(typeErr);
      if (!isFolder && leaf == name) {
        Boolean isDirectory = false;
        return GetDirectoryID(inVRefNum, 0, LStr255(folder.c_str()), ioDirID, &isDirectory) == noErr;
      }
      if (isFolder) subfolders.push_back(it->path().string());
    }
    std::sort(subfolders.rbegin(), subfolders.rend());
    for (std::string& s : subfolders) stack.push_back(std::move(s));
  }
  return false;
}

FileSpecItem* UFileUtils::FindFileItem(FSSpec& inSpec) {
  for (FileSpecItem* item : mFileList)
    if (item->IsEqualFile(inSpec)) return item;
  return nullptr;
}

void UFileUtils::AddFileToList(FSSpec& inSpec, LListener* inListener) {
  if (FileSpecItem* item = FindFileItem(inSpec)) {
    if (inListener) item->AddListener(inListener);
    return;
  }
  mFileList.AddItem(new FileSpecItem(inSpec, inListener));
}

void UFileUtils::RemoveFromFileList(FSSpec& inSpec, LListener* inListener, Boolean inMoveToTrash) {
  FileSpecItem* item = FindFileItem(inSpec);
  if (!item) return;
  if (inListener) item->RemoveListener(inListener);
  if (item->GetOpenCount() > 0) return;
  mFileList.Remove(item);
  if (inMoveToTrash) item->DeleteFile();
  delete item;
}

SInt32 UFileUtils::GetOpenCount(FSSpec& inSpec) {
  FileSpecItem* item = FindFileItem(inSpec);
  return item ? item->GetOpenCount() : 0;
}

void UFileUtils::FileModified(FSSpec& inSpec) {
  FileSpecItem* item = FindFileItem(inSpec);
  if (!item) return;
  if (!item->TestFile() && mFileList.FetchIndexOf(item) != index_Bad) item->BroadcastMessage(msg_FileChanged, &inSpec);
}
