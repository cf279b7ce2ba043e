#include "platform/base/TrxLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// -1 not yet read from the environment, 0 off, 1 on.
std::atomic<int> sEnabled{-1};
std::atomic<void (*)(const char*)> sSink{nullptr};

}  // namespace

bool TrxLogEnabled() {
  int on = sEnabled.load(std::memory_order_relaxed);
  if (on < 0) {
    const char* value = std::getenv("TRX_LOG");
    on = (value != nullptr && std::strcmp(value, "1") == 0) ? 1 : 0;
    sEnabled.store(on, std::memory_order_relaxed);
  }
  return on == 1;
}

void TrxLogV(const char* inArea, const char* inFormat, va_list inArgs) {
  if (!TrxLogEnabled()) return;
  char line[1024];
  int n = std::snprintf(line, sizeof line, "trx %s: ", inArea ? inArea : "?");
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof line) std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n), inFormat, inArgs);
  // One line each: a message's own trailing newline is dropped.
  size_t len = std::strlen(line);
  while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
  if (auto sink = sSink.load(std::memory_order_acquire)) {
    sink(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line);
}

void TrxLog(const char* inArea, const char* inFormat, ...) {
  if (!TrxLogEnabled()) return;
  va_list args;
  va_start(args, inFormat);
  TrxLogV(inArea, inFormat, args);
  va_end(args);
}

void TrxLogSetForTesting(bool inEnabled, void (*inSink)(const char*)) {
  sSink.store(inSink, std::memory_order_release);
  sEnabled.store(inEnabled ? 1 : 0, std::memory_order_relaxed);
}
