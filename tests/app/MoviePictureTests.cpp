// The picture of the movie window against the frame the movie shows at its
// time: the window is driven through its keys and real menus, its movie view
// is photographed as the screen shows it, and the picture is compared with the same file's
// frame decoded apart and drawn at the view's size. Movies come from the
// ffmpeg command: H.264 with B-frames, MJPEG and MPEG-4, each frame with its
// own hue, so that a stale frame differs from the right one everywhere.
#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/CMovieDocument.h"
#include "app/CMovieView.h"
#include "app/MovieDocumentTestSupport.h"
#include "media/CMovie.h"
#include "media/UMovies.h"
#include "platform/files/Files.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "support/movies/OpenMovie.h"
#include "toolkit/CRegularWindow.h"

namespace {

// Two seconds at 25 frames a second, 320 x 240.
void MakeMovie(const std::string& inPath, const std::string& inCodec) {
  const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                              "'testsrc2=size=320x240:rate=25,hue=H=2*PI*t/2' -t 2 " +
                              inCodec + " '" + inPath + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

const char* const kH264 = "-c:v libx264 -bf 3 -g 25 -pix_fmt yuv420p";
const char* const kMJPEG = "-c:v mjpeg -q:v 3";
const char* const kMPEG4 = "-c:v mpeg4 -bf 2 -q:v 3";

// The file's frame at inTime drawn into a w x h picture (A, R, G, B bytes).
QImage FrameOfFile(const std::string& inPath, TimeValue inTime, int inWidth, int inHeight) {
  QImage image;
  Movie movie = testmovies::OpenMovieAt(inPath);
  if (!movie) return image;
  Rect bounds = {0, 0, static_cast<SInt16>(inHeight), static_cast<SInt16>(inWidth)};
  GWorldPtr world = nullptr;
  QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
  SetMovieGWorld(movie, world, nullptr);
  SetMovieBox(movie, &bounds);
  SetMovieTimeValue(movie, inTime);
  MoviesTask(movie, 0);
  PixMapHandle pm = GetGWorldPixMap(world);
  image = QImage(inWidth, inHeight, QImage::Format_RGB32);
  for (int y = 0; y < inHeight; ++y) {
    const UInt8* row = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + static_cast<size_t>(y) * GetPixRowBytes(pm);
    for (int x = 0; x < inWidth; ++x) image.setPixel(x, y, qRgb(row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]));
  }
  DisposeMovie(movie);
  DisposeGWorld(world);
  return image;
}

// The share of the view's picture on the screen that differs from the file's frame at
// inTime by more than a compressor's rounding (the information text in the
// top-left corner left out).
double DifferingShare(CMovieView* inView, const std::string& inPath, TimeValue inTime) {
  // What the window last put on the screen (a grab would paint afresh).
  QWidget* widget = inView->GetWidget();
  QWidget* shown = widget->window();
  const QPoint at = widget->mapTo(shown, QPoint(0, 0));
  const QImage shot = QGuiApplication::primaryScreen()
                          ->grabWindow(shown->winId(), at.x(), at.y(), widget->width(), widget->height())
                          .toImage()
                          .convertToFormat(QImage::Format_RGB32);
  Rect frame;
  inView->CalcPortFrameRect(frame);
  const Rect image = inView->GetImagePortRect();
  const int left = image.left - frame.left, top = image.top - frame.top;
  const int width = image.right - image.left, height = image.bottom - image.top;
  if (width <= 0 || height <= 0) return 1.0;
  const QImage want = FrameOfFile(inPath, inTime, width, height);
  if (want.isNull()) return 1.0;
  size_t differing = 0, counted = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (y < 48 && x < 160) continue;
      const QRgb a = shot.pixel(left + x, top + y), b = want.pixel(x, y);
      const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
      differing += d > 24;
      ++counted;
    }
  return counted ? static_cast<double>(differing) / static_cast<double>(counted) : 1.0;
}

// The width of the view's picture when its widget was last painted.
class PaintWatch : public QObject {
 public:
  // (Not a child of the widget: it may outlive or die before it.)
  explicit PaintWatch(CMovieView* inView) : mView(inView) {
    inView->GetWidget()->installEventFilter(this);
  }
  SInt32 lastPaintedWidth = -1;

 protected:
  bool eventFilter(QObject*, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::Paint) {
      SDimension32 size;
      mView->GetImageSize(size);
      lastPaintedWidth = size.width;
    }
    return false;
  }

 private:
  CMovieView* mView;
};

class MoviePictureTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    // The program's menus: File and Edit, then Movie and View.
    mBar = new LMenuBar(128);
    mBar->InstallMenu(new LMenu(130));
    mBar->InstallMenu(new LMenu(132));
  }
  void TearDown() override {
    CloseAllDocuments();
    delete mBar;
    mBar = nullptr;
    DocumentFixture::TearDown();
  }
  // Opens the file in a shown window, made the front one.
  CMovieDocument* OpenInFront(const std::string& inName) {
    CMovieDocument* doc = OpenShown(inName);
    doc->GetWindow()->Select();
    Pump(20);
    return doc;
  }
  // Chooses the menu item of the command through its menu's widget.
  void Choose(CommandT inCommand) {
    LMenu* menu = nullptr;
    SInt16 item = 0;
    ASSERT_TRUE(mBar->FindItem(inCommand, menu, item));
    mBar->UpdateCommandStatus();
    QAction* action = menu->GetItem(item).action;
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled()) << inCommand;
    action->trigger();
  }
  void Key(CMovieDocument* inDoc, Qt::Key inKey, Qt::KeyboardModifiers inModifiers = Qt::NoModifier) {
    QTest::keyClick(inDoc->GetWindow()->GetWidget(), inKey, inModifiers);
  }
  // The view shows the file's frame at inTime, once the loop has run.
  bool ShowsFrame(CMovieDocument* inDoc, TimeValue inTime, double* outShare = nullptr) {
    double share = 1.0;
    const bool shown = PumpUntil([&] {
      share = DifferingShare(inDoc->GetMovieView(), Path(mName), inTime);
      return share < 0.02;
    });
    if (outShare) *outShare = share;
    return shown;
  }
  LMenuBar* mBar = nullptr;
  std::string mName;
};

// The last frame's time of the file (its frames last 1/25 s).
TimeValue LastFrameTime(Movie inMovie) { return GetMovieDuration(inMovie) - GetMovieTimeScale(inMovie) / 25; }

TEST_F(MoviePictureTest, AMovieSavedAtItsEndOrMiddleOpensShowingThatFrame) {
  MakeMovie(Path("source.mp4"), kH264);
  Movie source = testmovies::OpenMovieAt(Path("source.mp4"));
  ASSERT_NE(source, nullptr);
  const TimeValue duration = GetMovieDuration(source);
  const TimeValue last = LastFrameTime(source);
  for (const TimeValue saved : {duration / 2, duration}) {
    // A movie file that keeps the time it was left at.
    mName = "saved-" + std::to_string(saved) + ".mov";
    SetMovieTimeValue(source, saved);
    FSSpec spec;
    FSMakeFSSpecFromPath(Path(mName), &spec);
    Movie flat = FlattenMovieData(source, flattenAddMovieToDataFork, &spec, kTremblorixFileCreator, smSystemScript,
                                  createMovieFileDeleteCurFile | createMovieFileDontCreateMovie);
    if (flat) DisposeMovie(flat);
    CMovieDocument* doc = Open(mName);
    PaintWatch painted(doc->GetMovieView());
    ASSERT_TRUE(PumpUntil([&] { return doc->GetWindow()->IsVisible() && painted.lastPaintedWidth > 0; }));
    // (The document may step back into the last frame from the very end.)
    ASSERT_NEAR(doc->GetMovie()->GetTimeValue(), saved, duration - last);
    // The first paint shows the frame already.
    EXPECT_LT(DifferingShare(doc->GetMovieView(), Path(mName), saved == duration ? last : saved), 0.02) << saved;
    double share = 1;
    EXPECT_TRUE(ShowsFrame(doc, saved == duration ? last : saved, &share)) << saved << ": " << share;
    CloseAllDocuments();
  }
  DisposeMovie(source);
}

// Cut, End, Undo and Half Size, each through the window's keys and menus.
class MoviePictureCodecTest : public MoviePictureTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MoviePictureCodecTest, CutEndUndoAndHalfSizeShowTheFrameAtTheMovieTime) {
  mName = "movie.mov";
  MakeMovie(Path(mName), GetParam());
  CMovieDocument* doc = OpenInFront(mName);
  CMovie* movie = doc->GetMovie();
  const SInt32 scale = movie->GetTimeScale();
  const SInt32 frame = scale / 25;
  Movie apart = testmovies::OpenMovieAt(Path(mName));
  ASSERT_NE(apart, nullptr);
  const TimeValue last = LastFrameTime(apart);
  DisposeMovie(apart);
  EXPECT_TRUE(ShowsFrame(doc, 0));

  // Frames 10 to 19 selected, the movie at frame 30.
  movie->GotoTime(10 * frame);
  movie->SetSelectionStart(10 * frame);
  movie->SetSelectionStop(20 * frame);
  movie->GotoTime(30 * frame);
  double share = 1;
  EXPECT_TRUE(ShowsFrame(doc, 30 * frame, &share)) << share;

  // Cut: the movie stays at its time, which now shows frame 40.
  Key(doc, Qt::Key_X, Qt::ControlModifier);
  ASSERT_TRUE(PumpUntil([&] { return movie->GetDuration() < 50 * frame; }));
  const TimeValue afterCut = movie->GetTimeValue();
  EXPECT_TRUE(ShowsFrame(doc, afterCut + 10 * frame, &share)) << "after Cut: " << share;

  // End: the last frame.
  Key(doc, Qt::Key_End);
  ASSERT_TRUE(PumpUntil([&] { return movie->GetTimeValue() == movie->GetDuration(); }));
  EXPECT_TRUE(ShowsFrame(doc, last, &share)) << "at the end: " << share;

  // Undo: the frames are back; the time stays where it was.
  Key(doc, Qt::Key_Z, Qt::ControlModifier);
  ASSERT_TRUE(PumpUntil([&] { return movie->GetDuration() >= 50 * frame; }));
  const TimeValue afterUndo = movie->GetTimeValue();
  EXPECT_TRUE(ShowsFrame(doc, afterUndo, &share)) << "after Undo: " << share;

  // View > Half Size: the smaller picture is the same frame, from its first paint.
  CMovieView* view = doc->GetMovieView();
  SDimension32 before;
  view->GetImageSize(before);
  PaintWatch painted(view);
  Choose(cmd_HalfSize8 + 2);
  ASSERT_TRUE(PumpUntil([&] {
    SDimension32 now;
    view->GetImageSize(now);
    return now.width < before.width && painted.lastPaintedWidth == now.width;
  }));
  EXPECT_LT(DifferingShare(view, Path(mName), afterUndo), 0.02) << "first paint at half size";
  EXPECT_TRUE(ShowsFrame(doc, afterUndo, &share)) << "at half size: " << share;
}

INSTANTIATE_TEST_SUITE_P(Codecs, MoviePictureCodecTest, ::testing::Values(kH264, kMJPEG, kMPEG4),
                         [](const ::testing::TestParamInfo<const char*>& inInfo) {
                           return std::string(inInfo.index == 0 ? "H264" : inInfo.index == 1 ? "MJPEG" : "MPEG4");
                         });

}  // namespace
