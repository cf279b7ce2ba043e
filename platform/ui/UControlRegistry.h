// Registers the standard controls' layout classes with URegistrar:
// 'pbut' LPushButton, 'cbox' LCheckBox, 'rbut' LRadioButton, 'popb'
// LPopupButton, 'slid' LSlider, 'etxt' LEditText, 'stxt' LStaticText,
// 'bbut' LBevelButton, 'icnp' LIconControl, 'pbar' LProgressBar, 'carr'
// LChasingArrows, 'sepl' LSeparatorLine, 'dtri' LDisclosureTriangle. The application registers the
// framework's other classes ('capt', 'edit', 'tabg', 'radg', 'txtv', views,
// windows) itself, in its own order.
#pragma once

class UControlRegistry {
 public:
  static void RegisterClasses();
};
