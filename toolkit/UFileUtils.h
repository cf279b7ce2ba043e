// File services of the toolkit: the file type of a name by its ending, image
// files, extensions, the temporary folder and temporary files, paths,
// existence checks with a reason, and the list of watched files.
#pragma once

#include <functional>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LStr255.h"
#include "platform/framework/TArray.h"

class FileSpecItem;
class CFileTester;
class LWindow;

// Broadcast to a watched file's listeners, with the file's FSSpec*, when the
// file changed, moved or was lost.
constexpr MessageT msg_FileChanged = 2111;

constexpr OSType kUnknownFileType = 0x3F3F3F3F;  // four question marks
constexpr OSType kTremblorixCreator = 'Trbx';

class UFileUtils {
 public:
  // Answers whether a Finder type is one the graphics importers read.
  typedef std::function<bool(OSType)> ImageTypeTest;

  static void Init();
  static void Finish();

  // The type that the name's ending gives (0), or '????' and -1.
  static OSErr GetFileTypeForName(ConstStringPtr inName, OSType* outType);
  // 0 when the file's Finder type or the type of its name is one the
  // graphics importers read, else -1 (a Finder-information failure: its code).
  static OSErr IsImageFileAcceptable(FSSpec& inSpec);
  // The graphics importers' type test; none installed: no type is accepted.
  static void SetImageTypeTest(ImageTypeTest inTest);
  // Cuts the name at its last ".".
  static void RemoveExtension(unsigned char* ioName);
  // The front-most window whose title, without its extension, is the name
  // byte for byte; nil when none. inExcept is passed over (a new window
  // looking for a free title must not find itself).
  static LWindow* FindNamedWindow(ConstStringPtr inName, const LWindow* inExcept = nullptr);

  static OSErr SetNewTempVolume(ConstStringPtr inName);
  // Asks for a volume with the volume chooser: its name (0), or -128 when
  // cancelled. mVolume itself does not change.
  static OSErr SelectTempVolume(unsigned char* outName);
  // The temporary-items folder (created when missing).
  static OSErr GetCurrentTempFolder(SInt16& outVRefNum, SInt32& outDirID);
  // The first free name of base name + 1, 2, 3… in the temporary folder,
  // created (creator 'Trbx', type '????') when asked. The base name is cut so
  // that name and number fit in 63 characters; an empty one: paramErr.
  static OSErr CreateNewTempFile(ConstStringPtr inBaseName, FSSpec& outSpec, Boolean inCreate);
  // The item's full path (the POSIX path, cut at 255 characters: bdNamErr when longer).
  static OSErr GetFullPath(const FSSpec* inSpec, LStr255& outPath);
  // The Finder-information call's result with the reason in words.
  static OSErr CheckFileExists(FSSpec& inSpec, LStr255& outReason);
  // Seconds since 1904 of the named item in the folder (the folder itself for
  // an empty name); 0 when it cannot be read.
  static UInt32 GetModificationDate(SInt16 inVRefNum, SInt32 inDirID, ConstStringPtr inName);
  // The running program and its folder.
  static OSErr FindApplicationSpec(FSSpec* outSpec);
  static void GetApplicationTitle(unsigned char* outTitle);
  static OSErr FindFileInApplicationFolder(ConstStringPtr inName, FSSpec* outSpec);
  // The volume, parent and directory id of a named subfolder of the program's folder.
  static OSErr GetFolderDirID(SInt16* outVRefNum, SInt32* outParID, ConstStringPtr inName, SInt32* outDirID);
  // Depth-first search below the folder for a file of that name; true and
  // the id of the folder that holds it.
  static bool DeepFileSearch(const LStr255& inName, SInt16 inVRefNum, SInt32* ioDirID);

  // Watched files.
  static void AddFileToList(FSSpec& inSpec, LListener* inListener);
  static void RemoveFromFileList(FSSpec& inSpec, LListener* inListener, Boolean inMoveToTrash);
  static SInt32 GetOpenCount(FSSpec& inSpec);
  static void FileModified(FSSpec& inSpec);
  static FileSpecItem* FindFileItem(FSSpec& inSpec);

  static LStr255 mVolume;
  static TArray<FileSpecItem*> mFileList;
  static CFileTester* mFileTester;

 private:
  static ImageTypeTest sImageTypeTest;
};
