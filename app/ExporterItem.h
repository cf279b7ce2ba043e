// One installed movie exporter as the export client lists it: the
// component's flags, subtype and name, and the settings the user stored for
// it (an atom container the item owns; none means the exporter's defaults).
#pragma once

#include "platform/base/MacMemory.h"
#include "platform/base/MacTypes.h"

struct ExporterItem {
  ExporterItem() = default;
  ExporterItem(const ExporterItem&) = delete;
  ExporterItem& operator=(const ExporterItem&) = delete;
  ~ExporterItem() {
    if (mSettings) DisposeHandle(mSettings);
  }

  UInt32 mFlags = 0;
  OSType mSubtype = 0;
  Str255 mName = {0};
  Handle mSettings = nullptr;
};
