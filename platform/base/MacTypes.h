// Fixed-width types, basic records and error codes of the desktop platform the
// program was written against. `long` in old signatures means 32 bits: we use
// SInt32/UInt32 everywhere for it.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;

typedef unsigned char Boolean;
typedef float Float32;
typedef double Float64;

typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef SInt32 Fixed;
typedef SInt32 Fract;
typedef UInt32 UnsignedFixed;
typedef SInt16 ShortFixed;
typedef UInt32 ByteCount;
typedef UInt32 ItemCount;
typedef UInt32 OptionBits;
typedef SInt16 ResID;
typedef SInt32 TimeValue;
typedef SInt64 TimeValue64;
typedef SInt32 TimeScale;
typedef UInt32 UniChar32;
typedef UInt16 UniChar;

typedef char* Ptr;
typedef Ptr* Handle;
typedef long (*ProcPtr)();

typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char Str31[32];
typedef unsigned char Str27[28];
typedef unsigned char Str15[16];
typedef unsigned char* StringPtr;
typedef StringPtr* StringHandle;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStr63Param;
typedef const unsigned char* ConstStr31Param;

struct Point {
  SInt16 v;
  SInt16 h;
};
typedef Point* PointPtr;

struct Rect {
  SInt16 top;
  SInt16 left;
  SInt16 bottom;
  SInt16 right;
};
typedef Rect* RectPtr;

struct FixedPoint {
  Fixed x;
  Fixed y;
};

struct FixedRect {
  Fixed left;
  Fixed top;
  Fixed right;
  Fixed bottom;
};

struct RGBColor {
  UInt16 red;
  UInt16 green;
  UInt16 blue;
};

constexpr Boolean kTrue = 1;
constexpr Boolean kFalse = 0;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr Fixed fixed1 = 0x00010000;
constexpr Fract fract1 = 0x40000000;
constexpr Fixed kFixedHalf = 0x00008000;

// Error codes the program distinguishes.
constexpr OSErr noErr = 0;
constexpr OSErr unimpErr = -4;
constexpr OSErr ioErr = -36;
constexpr OSErr bdNamErr = -37;
constexpr OSErr fnOpnErr = -38;
constexpr OSErr eofErr = -39;
constexpr OSErr posErr = -40;
constexpr OSErr tmfoErr = -42;
constexpr OSErr fnfErr = -43;
constexpr OSErr wPrErr = -44;
constexpr OSErr fLckdErr = -45;
constexpr OSErr vLckdErr = -46;
constexpr OSErr fBsyErr = -47;
constexpr OSErr dupFNErr = -48;
constexpr OSErr opWrErr = -49;
constexpr OSErr paramErr = -50;
constexpr OSErr rfNumErr = -51;
constexpr OSErr nsvErr = -35;
constexpr OSErr dirFulErr = -33;
constexpr OSErr dskFulErr = -34;
constexpr OSErr wrPermErr = -61;
constexpr OSErr dirNFErr = -120;
constexpr OSErr memFullErr = -108;
constexpr OSErr nilHandleErr = -109;
constexpr OSErr memWZErr = -111;
constexpr OSErr memPurErr = -112;
constexpr OSErr memLockedErr = -117;
constexpr OSErr resNotFound = -192;
constexpr OSErr resFNotFound = -193;
constexpr OSErr addResFailed = -194;
constexpr OSErr rmvResFailed = -196;
constexpr OSErr resAttrErr = -198;
constexpr OSErr mapReadErr = -199;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr afpAccessDenied = -5000;
constexpr OSErr errAEEventNotHandled = -1708;

// Event handler errors (the window events and the application's events).
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventParameterNotFoundErr = -9870;
constexpr OSStatus eventInternalErr = -9868;

// Multiprocessing errors.
constexpr OSStatus kMPInsufficientResourcesErr = -29450;
constexpr OSStatus kMPTimeoutErr = -29291;
constexpr OSStatus kMPTaskAbortedErr = -29292;
constexpr OSStatus kMPDeletedErr = -29295;
constexpr OSStatus kMPInvalidIDErr = -29293;
constexpr OSStatus kMPTaskStoppedErr = -29294;
constexpr OSStatus kMPPrivilegedErr = -29296;
constexpr OSStatus kMPIterationEndErr = -29275;

// Durations for the multiprocessing waits: positive values are milliseconds,
// negative values microseconds.
typedef SInt32 Duration;
constexpr Duration kDurationImmediate = 0;
constexpr Duration kDurationForever = 0x7FFFFFFF;
constexpr Duration kDurationMillisecond = 1;
constexpr Duration kDurationMicrosecond = -1;
