#include "vantrel/VantrelWorker.h"

// Leak reports leave out libx264's lifetime allocation and the bundle's
// Info.plist texts, which the files layer reads once and keeps for the life
// of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\nleak:ReadInfoPlist\n"; }

int main(int argc, char** argv) { return VantrelMain(argc, argv); }
