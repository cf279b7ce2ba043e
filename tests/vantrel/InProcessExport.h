// Exports run through the real engine inside the test process, with a
// private folder for their files and ports: shared by the export tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "vantrel/ExportEngine.h"
#include "vantrel/VantrelWorker.h"

// Runs one export request through the real engine in this process; status
// records go nowhere. Returns the error the export reported.
inline OSErr ExportInProcess(const Bytes& inMessage) {
  WorkerThread worker;
  SetExportEngine(MovieExportEngine);
  WorkerRequest* request = nullptr;
  EXPECT_EQ(CreateWorkerRequest(&worker, &request), noErr);
  request->data = CFDataCreate(kCFAllocatorDefault, inMessage.data(), static_cast<CFIndex>(inMessage.size()));
  const OSErr err = DoExport(request);
  ReleaseWorkerRequest(request);
  SetExportEngine(nullptr);
  return err;
}

class InProcessExport : public ::testing::Test {
 protected:
  void SetUp() override {
    EnterMovies();
    InstallFFmpegMovieComponents();
    char pattern[] = "/tmp/trx-export-here-XXXXXX";
    mFolder = mkdtemp(pattern);
    setenv("TRX_IPC_DIR", mFolder.c_str(), 1);
    setenv("XDG_CACHE_HOME", (mFolder + "/cache").c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::remove_all(mFolder);
    unsetenv("TRX_IPC_DIR");
    unsetenv("XDG_CACHE_HOME");
  }
  std::string mFolder;
};
