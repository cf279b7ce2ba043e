// The layout classes of the movie panes, and the menu buttons of the movie
// window's toolbar.
#include "app/CBrowserPane.h"
#include "app/CColorPickerPane.h"
#include "app/CMovieView.h"
#include "app/CTimeSlider.h"
#include "platform/ui/URegistrar.h"
#include "toolkit/LGotoButton.h"

void RegisterMoviePaneClasses() {
  TRegistrar<CMovieView>::Register();
  TRegistrar<CCenterView>::Register();
  TRegistrar<CTimeSlider>::Register();
  TRegistrar<CBrowserPane>::Register();
  TRegistrar<CColorPickerPane>::Register();
  TRegistrar<LGotoButton>::Register();
}
