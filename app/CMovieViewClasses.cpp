// The layout classes of the movie panes.
#include "app/CBrowserPane.h"
#include "app/CColorPickerPane.h"
#include "app/CMovieView.h"
#include "app/CTimeSlider.h"
#include "platform/ui/URegistrar.h"

void RegisterMoviePaneClasses() {
  TRegistrar<CMovieView>::Register();
  TRegistrar<CCenterView>::Register();
  TRegistrar<CTimeSlider>::Register();
  TRegistrar<CBrowserPane>::Register();
  TRegistrar<CColorPickerPane>::Register();
}
