// Tremblorix: the desktop program. Movie files named on the command line are
// opened as the open-documents event; without any, no window opens.
//   Tremblorix [--script FILE] [MOVIE...]
// --script runs the commands of FILE (see TremblorixAppScript.h) once the
// program is up, as the headless main job does.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/TremblorixApp.h"
#include "app/TremblorixAppScript.h"
#include "platform/files/Files.h"
#include "platform/ui/UResponder.h"

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libx264.so\nleak:ReadInfoPlist\nleak:libdbus-1.so\nleak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
  std::vector<FSSpec> files;
  std::string script;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      script = argv[++i];
      continue;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: Tremblorix [--script FILE] [MOVIE...]\n");
      return 0;
    }
    FSSpec spec;
    if (FSMakeFSSpecFromPath(argv[i], &spec) == noErr) {
      files.push_back(spec);
    } else {
      std::fprintf(stderr, "Tremblorix: %s: no such file\n", argv[i]);
    }
  }
  int result = 0;
  {
    TremblorixApp app;
    if (script.empty()) UResponder::SetInteractive(true);
    app.SetLaunchFiles(files);
    CAppScript runner(script);
    app.Run();
    result = app.GetExitCode();
    if (result == 0) result = runner.GetResult();
  }
  return result;
}
