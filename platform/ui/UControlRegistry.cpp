#include "platform/ui/UControlRegistry.h"

#include "platform/ui/LButtons.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LSlider.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/URegistrar.h"

void UControlRegistry::RegisterClasses() {
  TRegistrar<LPushButton>::Register();
  TRegistrar<LCheckBox>::Register();
  TRegistrar<LRadioButton>::Register();
  TRegistrar<LPopupButton>::Register();
  TRegistrar<LSlider>::Register();
  TRegistrar<LEditText>::Register();
  TRegistrar<LStaticText>::Register();
  TRegistrar<LBevelButton>::Register();
  TRegistrar<LIconControl>::Register();
  TRegistrar<LProgressBar>::Register();
  TRegistrar<LChasingArrows>::Register();
  TRegistrar<LSeparatorLine>::Register();
  TRegistrar<LDisclosureTriangle>::Register();
}
