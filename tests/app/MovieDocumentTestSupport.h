// Movies and a clean desktop for the document tests: generated MP4 and
// QuickTime movie files with known pictures, the layout classes the
// document window needs, and a fixture that leaves no document behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/CMovieDocument.h"
#include "platform/files/Resources.h"
#include "platform/files/TempFolder.h"
#include "support/ui/UiTestSupport.h"

namespace movie_document_testing {

// Item inIndex of the movie document's texts.
inline std::string DocumentText(SInt16 inIndex) { return IndString(STRx_MovieDocument, inIndex); }

// The colour of pixel (x, y) of frame k of the generated movies: a ramp
// that moves with the frame, so frames differ and can be told apart.
void FramePixel(SInt32 k, SInt32 x, SInt32 y, UInt8& outR, UInt8& outG, UInt8& outB);

// An MP4 (H.264 or MPEG-4) of the generated frames at 600 units a second, 20 units each.
void WriteMp4(const std::string& inPath, SInt32 inWidth, SInt32 inHeight, SInt32 inFrames);
// A movie in memory of raw 32-bit frames of the generated pictures.
Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames);
// A self-contained QuickTime movie file of the generated frames; the
// settings item 'Trbx' 1 holds inSettings when it is not empty.
void WriteQuickTimeMovie(const std::string& inPath, SInt32 inWidth, SInt32 inHeight, SInt32 inFrames,
                         const std::vector<UInt8>& inSettings = {});

// A tagged record: big-endian tag and length, then the bytes.
void AddTag(std::vector<UInt8>& ioBytes, OSType inTag, const std::vector<UInt8>& inValue);
std::vector<UInt8> BE32(UInt32 inValue);
std::vector<UInt8> BEFloat(float inValue);
std::vector<UInt8> BERect(SInt16 inTop, SInt16 inLeft, SInt16 inBottom, SInt16 inRight);

// The 'Trbx' 1 bytes of a movie file ("" when it has none).
std::vector<UInt8> SettingsItemOfFile(const std::string& inPath);
// The paths the media of a movie file read from (other files than itself).
std::vector<std::string> DataFilesOfMovieFile(const std::string& inPath);

// The pixel at (x, y) of the movie's frame at the time, drawn into an offscreen.
void MoviePixel(Movie inMovie, TimeValue inTime, SInt32 inX, SInt32 inY, UInt8& outR, UInt8& outG, UInt8& outB);

}  // namespace movie_document_testing

class DocumentFixture : public UiFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Deletes every document still open.
  void CloseAllDocuments();
  // Runs the event loop until the predicate holds (or about two seconds passed).
  bool PumpUntil(const std::function<bool()>& inDone, int inMillis = UiTest::kHangMillis);
  void Pump(int inMillis = 30) { UiTest::Pump(inMillis); }
  CMovieDocument* Open(const std::string& inName);
  // Opens the file in a document and waits until its window is shown.
  CMovieDocument* OpenShown(const std::string& inName, int inMillis = UiTest::kHangMillis);
  std::string Path(const std::string& inName) const { return mTmp / inName; }

  TempFolder mTmp;
  std::string mOldHome;
};
