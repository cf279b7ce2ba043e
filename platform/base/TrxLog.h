// The diagnostic log: off unless the environment has TRX_LOG=1, then one line
// a message on standard error, "trx <area>: <text>". Meant for the places where
// a failure turns into a bare code, so that the code comes with its context.
#pragma once

#include <cstdarg>

#include "platform/base/MacTypes.h"

// True when TRX_LOG=1 was set when the process first asked.
bool TrxLogEnabled();
// Writes one line (a newline is added) when the log is on.
void TrxLog(const char* inArea, const char* inFormat, ...) __attribute__((format(printf, 2, 3)));
void TrxLogV(const char* inArea, const char* inFormat, va_list inArgs);
// Tests switch the log on and off and catch its lines.
void TrxLogSetForTesting(bool inEnabled, void (*inSink)(const char* inLine));
