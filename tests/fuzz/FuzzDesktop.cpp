#include "tests/fuzz/FuzzDesktop.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/CMovieView.h"
#include "platform/files/Bundle.h"
#include "platform/framework/UEventLoop.h"
#include "platform/movies/MovieFFCodecs.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LPane.h"
#include "platform/ui/LView.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/URegistrar.h"
#include "toolkit/CRegularWindow.h"

// Leaks inside these system libraries are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n"
         "leak:libfontconfig.so\n";
}

namespace fuzz {

const std::string& DesktopFolder() {
  static const std::string sFolder = [] {
    char name[] = "/tmp/trx-fuzz-XXXXXX";
    const char* made = mkdtemp(name);
    return std::string(made ? made : "/tmp");
  }();
  return sFolder;
}

// A bundle of the build's resources and Info.plist, but no programs.
static std::string ResourcesOnlyBundle() {
  namespace fs = std::filesystem;
  const fs::path bundle = fs::path(DesktopFolder()) / "Tremblorix.app";
  const fs::path real(TRX_FUZZ_BUNDLE);
  std::error_code ignored;
  fs::create_directories(bundle / "Contents", ignored);
  fs::create_directory_symlink(real / "Contents/Resources", bundle / "Contents/Resources", ignored);
  fs::create_symlink(real / "Contents/Info.plist", bundle / "Contents/Info.plist", ignored);
  return bundle.string();
}

void StartDesktop() {
  static bool sStarted = false;
  if (sStarted) return;
  sStarted = true;
  const std::string& folder = DesktopFolder();
  chmod(folder.c_str(), 0700);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  setenv("HOME", folder.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  UQt::EnsureApplication();
  UBundle::SetMainBundlePath(ResourcesOnlyBundle());
  EnterMovies();
  InstallFFmpegMovieComponents();
  if (!URegistrar::IsRegistered(LPane::class_ID)) TRegistrar<LPane>::Register();
  if (!URegistrar::IsRegistered(LView::class_ID)) TRegistrar<LView>::Register();
  UControlRegistry::RegisterClasses();
  TRegistrar<CRegularWindow>::Register();
  RegisterMoviePaneClasses();
  // Questions are answered by scripts (none): each is cancelled at a later pass.
  UResponder::SetUnexpectedHandler([](const SQuestion&) {});
}

void SettleDesktop() {
  UEventLoop::RunUntilIdle(100);
  UResponder::Reset();
  UResponder::SetUnexpectedHandler([](const SQuestion&) {});
}

}  // namespace fuzz
