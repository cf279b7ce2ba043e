#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/base/MacMemory.h"
#include "platform/framework/LHandleStream.h"
#include "platform/graphics/CGGraphics.h"
#include "platform/graphics/QuickDraw.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UAcsiiUtils.h"
#include "toolkit/UNewTextDrawing.h"

namespace {

// A current 32-bit GWorld for a test, the previous port restored after it.
class StTestPort {
 public:
  explicit StTestPort(Rect inBounds) {
    GetGWorld(&mSavedPort, &mSavedDevice);
    EXPECT_EQ(0, QTNewGWorld(&mWorld, k32ARGBPixelFormat, &inBounds, nullptr, nullptr, 0));
    SetGWorld(mWorld, nullptr);
  }
  ~StTestPort() {
    SetGWorld(mSavedPort, mSavedDevice);
    if (mWorld) DisposeGWorld(mWorld);
  }
  StTestPort(const StTestPort&) = delete;
  StTestPort& operator=(const StTestPort&) = delete;
  GWorldPtr Get() const { return mWorld; }
  GWorldPtr Release() {
    GWorldPtr w = mWorld;
    mWorld = nullptr;
    return w;
  }

 private:
  GWorldPtr mWorld = nullptr;
  CGrafPtr mSavedPort = nullptr;
  GDHandle mSavedDevice = nullptr;
};

bool SameColor(const RGBColor& a, const RGBColor& b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

LHandleStream* StreamOf(const std::string& inText) {
  Handle h = NewHandle(static_cast<SInt32>(inText.size()));
  std::memcpy(*h, inText.data(), inText.size());
  return new LHandleStream(h);
}

std::string Contents(LHandleStream& s) { return std::string(*s.GetDataHandle(), static_cast<size_t>(s.GetLength())); }

}  // namespace

TEST(DrawContextState, DrawingInsideTheScopeLeavesThePortAsItWas) {
  StTestPort port(Rect{0, 0, 50, 60});
  const RGBColor fore{100, 200, 300}, back{60000, 50000, 40000};
  RGBForeColor(&fore);
  RGBBackColor(&back);
  PenSize(3, 2);
  MoveTo(7, 8);
  TextFont(applFont);
  TextSize(14);
  TextFace(bold);
  TextMode(srcOr);
  const Rect clip{5, 5, 20, 30};
  ClipRect(&clip);
  PenState penBefore;
  GetPenState(&penBefore);
  {
    StDrawContextState saver;
    const RGBColor red{65535, 0, 0};
    RGBForeColor(&red);
    RGBBackColor(&red);
    PenSize(9, 9);
    MoveTo(30, 30);
    TextFont(systemFont);
    TextSize(30);
    TextFace(italic);
    TextMode(srcXor);
    const Rect other{0, 0, 2, 2};
    ClipRect(&other);
    SetOrigin(-10, 15);
    StTestPort another(Rect{0, 0, 4, 4});  // a drawing routine switching ports
  }
  CGrafPtr current;
  GDHandle device;
  GetGWorld(&current, &device);
  EXPECT_EQ(port.Get(), current);
  RGBColor c;
  GetForeColor(&c);
  EXPECT_TRUE(SameColor(fore, c));
  GetBackColor(&c);
  EXPECT_TRUE(SameColor(back, c));
  PenState pen;
  GetPenState(&pen);
  EXPECT_EQ(penBefore.pnSize.h, pen.pnSize.h);
  EXPECT_EQ(penBefore.pnSize.v, pen.pnSize.v);
  EXPECT_EQ(penBefore.pnLoc.h, pen.pnLoc.h);
  EXPECT_EQ(penBefore.pnLoc.v, pen.pnLoc.v);
  EXPECT_EQ(applFont, GetPortTextFont(port.Get()));
  EXPECT_EQ(14, GetPortTextSize(port.Get()));
  EXPECT_EQ(bold, GetPortTextFace(port.Get()));
  EXPECT_EQ(srcOr, GetPortTextMode(port.Get()));
  Rect bounds;
  GetPortBounds(port.Get(), &bounds);
  EXPECT_EQ(0, bounds.top);
  EXPECT_EQ(0, bounds.left);
  RgnHandle rgn = NewRgn();
  GetClip(rgn);
  Rect clipBox;
  GetRegionBounds(rgn, &clipBox);
  EXPECT_TRUE(EqualRect(&clip, &clipBox));
  DisposeRgn(rgn);
}

TEST(DrawContextState, APortDisposedInsideTheScopeIsLeftAlone) {
  CGrafPtr before;
  GDHandle device;
  GetGWorld(&before, &device);
  {
    StTestPort port(Rect{0, 0, 5, 5});
    StDrawContextState saver;
    DisposeGWorld(port.Release());
  }
  CGrafPtr after;
  GetGWorld(&after, &device);
  EXPECT_EQ(before, after);
}

TEST(CGContextSaver, RestoresTheSavedStateOnceAndFollowsSave) {
  std::vector<UInt8> pixels(16 * 16 * 4);
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGContextRef a = CGBitmapContextCreate(pixels.data(), 16, 16, 8, 64, space, kCGImageAlphaPremultipliedFirst);
  CGContextRef b = CGBitmapContextCreate(pixels.data(), 16, 16, 8, 64, space, kCGImageAlphaPremultipliedFirst);
  ASSERT_NE(nullptr, a);
  {
    CGContextSaver saver(a);
    EXPECT_EQ(a, saver.Get());
    CGContextTranslateCTM(a, 5, 7);
    saver.Save(b);  // a restored, b saved
    EXPECT_EQ(0.0, CGContextGetCTM(a).tx);
    CGContextScaleCTM(b, 2, 2);
  }
  EXPECT_EQ(1.0, CGContextGetCTM(b).a);
  CGContextSaver empty;
  EXPECT_EQ(nullptr, empty.Get());
  empty.Restore();
  CGContextRelease(a);
  CGContextRelease(b);
  CGColorSpaceRelease(space);
}

TEST(TextMeasure, LinesJustificationAndFrameBottom) {
  StTestPort port(Rect{0, 0, 200, 200});
  TextFont(applFont);
  TextSize(12);
  FontInfo info;
  GetFontInfo(&info);
  const SInt32 lineHeight = info.ascent + info.descent + info.leading;
  const Rect frame{20, 10, 180, 110};
  Rect r;
  char empty[] = "";
  UNewTextDrawing::MeasureWithJustification(empty, 0, frame, 0, r, false);
  EXPECT_EQ(20, r.top);
  EXPECT_EQ(10, r.left);
  EXPECT_EQ(20 + lineHeight, r.bottom);
  EXPECT_EQ(110, r.right);

  char word[] = "Wig";
  const SInt32 w = TextWidth(word, 0, 3);
  UNewTextDrawing::MeasureWithJustification(word, 3, frame, 1, r, false);
  EXPECT_EQ(10 + (100 - w) / 2, r.left);
  EXPECT_EQ(10 + (100 - w) / 2 + w, r.right);
  EXPECT_EQ(20 + info.ascent + info.leading + info.descent, r.bottom);
  UNewTextDrawing::MeasureWithJustification(word, 3, frame, -1, r, false);
  EXPECT_EQ(110 - w, r.left);
  EXPECT_EQ(110, r.right);
  // Trailing white space counts only when asked.
  char spaced[] = "Wig   ";
  UNewTextDrawing::MeasureWithJustification(spaced, 6, frame, -2, r, false);
  EXPECT_EQ(10 + w, r.right);
  UNewTextDrawing::MeasureWithJustification(spaced, 6, frame, -2, r, true);
  EXPECT_EQ(10 + TextWidth(spaced, 0, 6), r.right);

  // Many words in a frame two lines high: measuring stops at the first
  // baseline below the bottom.
  std::string many;
  for (int i = 0; i < 60; ++i) many += "word ";
  const Rect low{0, 0, static_cast<SInt16>(info.ascent + info.leading + lineHeight), 100};
  UNewTextDrawing::MeasureWithJustification(many.data(), static_cast<SInt32>(many.size()), low, -2, r, false);
  EXPECT_EQ(info.ascent + info.leading + lineHeight + info.descent, r.bottom);
  // A frame narrower than a character still ends.
  const Rect narrow{0, 0, 1000, 0};
  UNewTextDrawing::MeasureWithJustification(word, 3, narrow, -2, r, false);
  EXPECT_GE(r.bottom, 0);
}

TEST(DecimalSymbol, ConvertsBothWaysAndInStreams) {
  UAcsiiUtils::sDecimalSymbol = ',';
  char c[] = "3.25";
  UAcsiiUtils::DecimalPtToCurrent(c);
  EXPECT_STREQ("3,25", c);
  UAcsiiUtils::CurrentDecimalToPt(c);
  EXPECT_STREQ("3.25", c);
  unsigned char p[] = {4, '1', '.', '5', '.'};
  UAcsiiUtils::DecimalPtToCurrent(p);
  EXPECT_EQ(',', p[2]);
  EXPECT_EQ(',', p[4]);
  UAcsiiUtils::CurrentDecimalToPt(p);
  EXPECT_EQ('.', p[4]);
  UAcsiiUtils::sDecimalSymbol = 0;
  EXPECT_EQ('.', UAcsiiUtils::GetDecimalSymbol());  // no international resource here

  std::unique_ptr<LHandleStream> s(StreamOf("1,5;2,25"));
  s->SetMarker(3, streamFrom_Start);
  EXPECT_TRUE(UAcsiiUtils::ConvertToPt(*s));
  EXPECT_EQ("1.5;2.25", Contents(*s));
}

TEST(NumberTable, CountsRowsColumnsAndReadsItems) {
  std::unique_ptr<LHandleStream> t(StreamOf("1\t2\t3\r4\t5\n6\r"));
  SInt32 cols = -1, rows = -1;
  EXPECT_TRUE(UAcsiiUtils::CountRowsAndCols(*t, &cols, &rows));
  EXPECT_EQ(3, cols);
  EXPECT_EQ(3, rows);
  std::unique_ptr<LHandleStream> none(StreamOf(""));
  EXPECT_TRUE(UAcsiiUtils::CountRowsAndCols(*none, &cols, &rows));
  EXPECT_EQ(0, cols);
  EXPECT_EQ(0, rows);

  std::unique_ptr<LHandleStream> items(StreamOf("  12\t3 4"));
  char item[256];
  EXPECT_TRUE(UAcsiiUtils::ReadItem(*items, item));
  EXPECT_STREQ("12", item);
  EXPECT_TRUE(UAcsiiUtils::ReadItem(*items, item));
  EXPECT_STREQ("34", item);
  EXPECT_FALSE(UAcsiiUtils::ReadItem(*items, item));

  std::unique_ptr<LHandleStream> longItem(StreamOf(std::string(300, '7')));
  EXPECT_FALSE(UAcsiiUtils::ReadItem(*longItem, item));
  EXPECT_EQ(255u, std::strlen(item));
}
