// Processes: serial numbers, the launching process, launching a program of
// the application bundle and ending the program.
//
// A process serial number holds the process id in its low word. A program
// launched with LaunchApplication learns its launcher from the environment
// variable TRX_LAUNCHER_PID (read at the first ask); any other program's
// launcher is its parent process.
//
// This process learns of two kinds of process ends (as kEventAppTerminated,
// see Events.h): of its launcher and of every program it launched. Launched
// programs that end are reaped by the event loop.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/base/MacTypes.h"

struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};
typedef ProcessSerialNumber* ProcessSerialNumberPtr;

constexpr UInt32 kNoProcess = 0;
constexpr UInt32 kSystemProcess = 1;
constexpr UInt32 kCurrentProcess = 2;

constexpr OSErr procNotFound = -600;

struct ProcessInfoRec {
  UInt32 processInfoLength;  // the caller's size of the record
  StringPtr processName;     // nullptr, or room for a Str31
  ProcessSerialNumber processNumber;
  UInt32 processType;
  OSType processSignature;
  UInt32 processMode;
  Ptr processLocation;
  UInt32 processSize;
  UInt32 processFreeMem;
  ProcessSerialNumber processLauncher;  // {0, kNoProcess} when unknown
  UInt32 processLaunchDate;             // ticks at start-up
  UInt32 processActiveTime;
  void* processAppSpec;  // never filled
};

OSErr GetCurrentProcess(ProcessSerialNumber* outPSN);
// Only the current process can be asked (its own serial number or
// {0, kCurrentProcess}); procNotFound for any other.
OSErr GetProcessInformation(const ProcessSerialNumber* inPSN, ProcessInfoRec* ioInfo);
OSErr SameProcess(const ProcessSerialNumber* inA, const ProcessSerialNumber* inB, Boolean* outSame);
OSStatus GetProcessPID(const ProcessSerialNumber* inPSN, pid_t* outPID);
OSStatus GetProcessForPID(pid_t inPID, ProcessSerialNumber* outPSN);

// Starts the program at inPath without arguments, in the background, with
// this process's environment. When it runs, kEventAppLaunched carrying
// inAsyncRefCon and the new serial number is posted to this process; its end
// posts kEventAppTerminated. fnfErr when there is no such executable.
OSStatus LaunchApplication(const char* inPath, UInt32 inAsyncRefCon, ProcessSerialNumber* outPSN);
// The same for an auxiliary executable of the main bundle by name
// (Contents/MacOS/<name>); fnfErr when there is no bundle or no such program.
OSStatus LaunchAuxiliaryExecutable(const char* inName, UInt32 inAsyncRefCon, ProcessSerialNumber* outPSN);

// Ends the program at once, without unwinding or cleaning up.
[[noreturn]] void ExitToShell();
