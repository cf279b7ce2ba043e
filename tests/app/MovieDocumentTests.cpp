// The movie document: opening, its window, the settings item, saving.
#include <gtest/gtest.h>

#include "app/CMovieDocument.h"
#include "support/ui/UiTestSupport.h"

namespace {

class MovieDocumentTest : public UiFixture {};

TEST_F(MovieDocumentTest, ClipboardDocumentWithoutMovieStartsEmpty) {
  auto* doc = new CMovieDocument(static_cast<CMovie*>(nullptr));
  EXPECT_NE(doc->GetMovie(), nullptr);
  EXPECT_EQ(doc->GetFileType(), static_cast<OSType>('MooV'));
  doc->Close();
}

}  // namespace
