// A fixture for the tests that export through a real Vantrel: the ports in
// a private folder, the test's own folder (Vantrel's temporary items below
// it), the bundle's Vantrel launched and connected before each test, and
// told to quit and awaited after it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ipc/IpcTestSupport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "vantrel/ExportClient.h"

// Base: ::testing::Test or a ::testing::TestWithParam<T>.
template <class Base = ::testing::Test>
class TVantrelFixture : public Base {
 protected:
  // inFolderPattern: a mkdtemp pattern; inWithFFmpeg: this process reads
  // movies through the FFmpeg components too.
  TVantrelFixture(const char* inFolderPattern, bool inWithFFmpeg)
      : mFolderPattern(inFolderPattern), mWithFFmpeg(inWithFFmpeg) {}

  void SetUp() override {
    unsetenv("VANTREL_STAND_IN_EXPORT");
    EnterMovies();
    if (mWithFFmpeg) InstallFFmpegMovieComponents();
    std::string pattern = mFolderPattern;
    mFolder = mkdtemp(pattern.data());
    // Vantrel's temporary items go below this test's own folder.
    setenv("XDG_CACHE_HOME", (mFolder + "/cache").c_str(), 1);
    ASSERT_TRUE(mClient.OpenProgressPort());
    ASSERT_TRUE(mClient.Launch());
    ASSERT_TRUE(mClient.Connect());
  }
  void TearDown() override {
    mClient.Send(Bytes{kExportCommandQuit});
    mClient.WaitForExit(20.0);
    std::filesystem::remove_all(mFolder);
    unsetenv("XDG_CACHE_HOME");
  }

  StTempPortDirectory mPorts;
  std::string mFolder;
  CExportClient mClient;

 private:
  const std::string mFolderPattern;
  const bool mWithFFmpeg;
};
