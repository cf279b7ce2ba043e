// Tests the watched files, one per idle pass, round-robin; drops the files
// that are lost (their listeners have heard message 2111).
#pragma once

#include "platform/framework/LPeriodical.h"

class CFileTester : public LPeriodical {
 public:
  CFileTester();
  ~CFileTester() override;
  void SpendTime(const EventRecord& inMacEvent) override;

 private:
  SInt32 mNextIndex = 1;
};
