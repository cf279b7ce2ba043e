// The fixture of the navigation, help and small-control tests: the bundle's
// resources and the test layouts open, the framework's classes registered,
// a shown document window "Holiday.mov" and a temporary folder.
#pragma once

#include "platform/framework/LCommander.h"
#include "platform/files/Resources.h"
#include "platform/files/TempFolder.h"
#include "support/ui/UiTestSupport.h"

class CRegularWindow;

class NavTestFixture : public UiFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  LCommander mApp;
  CRegularWindow* mWindow = nullptr;
  TempFolder mTmp;
  SInt16 mLayoutsFile = kResFileNotOpened;
};
