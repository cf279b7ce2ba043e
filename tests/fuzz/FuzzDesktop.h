// What the harnesses of the application's readers share: a headless desktop
// (offscreen Qt, a private home and runtime folder), the bundle's resources
// without its Vantrel (nothing is launched), the movie components and the
// layout classes of the application's windows. Made once per process.
#pragma once

#include <string>

namespace fuzz {

// The private folder of this process (home, runtime folder, bundle).
const std::string& DesktopFolder();
void StartDesktop();
// Hands out what the last input left for the event loop (answers, deferred
// deletes) and forgets the questions it asked.
void SettleDesktop();

}  // namespace fuzz
