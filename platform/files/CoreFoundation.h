// The Core Foundation subset the programs call: reference-counted strings,
// file URLs and the main bundle. Texts are UTF-8 throughout; the Mac Roman
// and system encodings are taken as UTF-8 too. CFSTR("...") gives a constant
// string that retain and release leave alone.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

typedef const void* CFTypeRef;
typedef const struct OpaqueCFAllocator* CFAllocatorRef;
typedef const struct OpaqueCFString* CFStringRef;
typedef struct OpaqueCFString* CFMutableStringRef;
typedef const struct OpaqueCFURL* CFURLRef;
typedef struct OpaqueCFBundle* CFBundleRef;
typedef SInt32 CFIndex;
typedef UInt32 CFTypeID;
typedef UInt32 CFStringEncoding;
typedef SInt32 CFURLPathStyle;

constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;
constexpr CFStringEncoding kCFStringEncodingASCII = 0x0600;
constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;
constexpr CFURLPathStyle kCFURLPOSIXPathStyle = 0;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID();
CFTypeID CFURLGetTypeID();
CFTypeID CFBundleGetTypeID();

// A constant string, made once per text and never freed.
CFStringRef CFStringMakeConstantString(const char* cStr);
#define CFSTR(text) CFStringMakeConstantString("" text "")

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
CFStringRef CFStringCreateWithPascalString(CFAllocatorRef alloc, ConstStr255Param pStr, CFStringEncoding encoding);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);
// Length in UTF-16 units.
CFIndex CFStringGetLength(CFStringRef theString);
// False (and an empty buffer) when the text with its NUL does not fit.
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
// False when the text does not fit in bufferSize - 1 characters.
Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize,
                                CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
Boolean CFStringEqual(CFStringRef a, CFStringRef b);

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef filePath, CFURLPathStyle style,
                                       Boolean isDirectory);
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style);
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen);
// False when the item does not exist.
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const FSRef* fsRef);

// The main bundle, nil when the program runs outside one (not retained).
CFBundleRef CFBundleGetMainBundle();
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
// Contents/Resources[/subDirName]/resourceName[.resourceType]; nil when absent.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName);
// Contents/MacOS/executableName; nil when absent.
CFURLRef CFBundleCopyAuxiliaryExecutableURL(CFBundleRef bundle, CFStringRef executableName);
// A string value of Info.plist (owned by the bundle, not retained); nil when absent.
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key);
