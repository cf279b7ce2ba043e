// The movie documents reach the export client through their export hook,
// set while the client runs.
#include <gtest/gtest.h>

#include "app/CExportMovie.h"
#include "app/CMovieDocument.h"
#include "platform/files/Bundle.h"
#include "platform/ipc/IpcTestSupport.h"
#include "support/ui/UiTestSupport.h"

TEST(ExportMovieDocument, TheDocumentsExportThroughTheClientWhileItRuns) {
  StTempPortDirectory ports;
  UBundle::SetMainBundlePath(TRX_TEST_BUNDLE);
  setenv("VANTREL_STAND_IN_EXPORT", "1:0", 1);
  CMovieDocument::sExportProc = nullptr;
  ASSERT_EQ(CExportMovie::Init(), noErr);
  EXPECT_EQ(CMovieDocument::sExportProc, &CExportMovie::ExportForDocument);
  CExportMovie::Finish();
  EXPECT_EQ(CMovieDocument::sExportProc, nullptr);
  UiTest::Pump(20);
  unsetenv("VANTREL_STAND_IN_EXPORT");
  UBundle::SetMainBundlePath("");
}
