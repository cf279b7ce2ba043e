// The export client's texts: the alerts (STR# 5003) and the task list (5004).
#pragma once

#include "platform/base/MacTypes.h"

constexpr SInt16 STRx_ExportTasks = 5003;
constexpr SInt16 STRx_ExportList = 5004;

// Items of STR# 5003.
enum : SInt16 {
  str_DontQuit = 1,
  str_Quit = 2,
  str_QuitMessage = 3,
  str_QuitExplanation = 4,
  str_TryAgain = 5,
  str_DropExport = 6,
  str_LostMessage = 7,
  str_LostExplanation = 8,
  str_UnknownError = 9,
  str_FailedMessage = 10,
  str_Exporting = 11,
  str_ExportingSound = 12,
  str_OwnFileRefused = 13,
  str_PortFolderOthers = 14,
  str_PortFolderUnusable = 15,
  str_PortsTaken = 16,
};
