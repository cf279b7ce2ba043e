// A fresh folder for one test, removed with everything in it afterwards; the
// XDG folders point inside it so special folders stay out of the user's home.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/base/PascalStrings.h"
#include "platform/files/Files.h"

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/trx-files-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    mPath = made ? made : "/tmp";
    ::setenv("XDG_CACHE_HOME", (mPath + "/cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (mPath + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (mPath + "/data").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (mPath + "/state").c_str(), 1);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return mPath; }
  std::string operator/(const std::string& inName) const { return mPath + "/" + inName; }
  FSSpec Spec(const std::string& inName) const {
    FSSpec spec;
    FSMakeFSSpecFromPath(mPath + "/" + inName, &spec);
    return spec;
  }

 private:
  std::string mPath;
};

inline std::string ReadText(const std::string& inPath) {
  FILE* f = std::fopen(inPath.c_str(), "rb");
  if (!f) return "<missing>";
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

inline void WriteText(const std::string& inPath, const std::string& inText) {
  FILE* f = std::fopen(inPath.c_str(), "wb");
  if (!f) return;
  std::fwrite(inText.data(), 1, inText.size(), f);
  std::fclose(f);
}

inline std::string PStr(const unsigned char* p) { return PStrToString(p); }

struct PText {
  Str255 s;
  explicit PText(const std::string& inText) { StringToPStr(inText, s); }
  operator const unsigned char*() const { return s; }
  operator unsigned char*() { return s; }
};
