// A fresh private port directory for each test, so tests run in parallel.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class StTempPortDirectory {
 public:
  StTempPortDirectory() {
    char pattern[] = "/tmp/trx-ipc-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    mPath = made ? made : "";
    setenv("TRX_IPC_DIR", mPath.c_str(), 1);
  }
  ~StTempPortDirectory() {
    if (DIR* dir = opendir(mPath.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((mPath + "/" + name).c_str());
      }
      closedir(dir);
    }
    rmdir(mPath.c_str());
    unsetenv("TRX_IPC_DIR");
  }
  const std::string& Path() const { return mPath; }

 private:
  std::string mPath;
};
