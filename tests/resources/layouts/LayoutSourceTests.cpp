#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/base/Endian.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/TempFolder.h"
#include <array>
#include "platform/framework/LHandleStream.h"
#include "platform/ui/LayoutFormat.h"
#include "resources/tools/LayoutSource.h"

namespace {

// Expected bytes, written the way the layout reader reads them.
class Bytes {
 public:
  Bytes& Tag(OSType t) { return S32(static_cast<SInt32>(t)); }
  Bytes& U8(UInt8 v) {
    mBytes.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& S16(SInt16 v) {
    char b[2];
    WriteBE16(b, static_cast<UInt16>(v));
    mBytes.insert(mBytes.end(), b, b + 2);
    return *this;
  }
  Bytes& S32(SInt32 v) {
    char b[4];
    WriteBE32(b, static_cast<UInt32>(v));
    mBytes.insert(mBytes.end(), b, b + 4);
    return *this;
  }
  Bytes& P(const std::string& s) {
    U8(static_cast<UInt8>(s.size()));
    mBytes.insert(mBytes.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Pane(SInt32 id, SInt16 l, SInt16 t, SInt16 w, SInt16 h, std::array<UInt8, 4> bind = {0, 0, 0, 0},
              UInt8 visible = 1, UInt8 enabled = 1, SInt32 user = 0) {
    S32(id).S16(w).S16(h).U8(visible).U8(enabled);
    for (UInt8 b : bind) U8(b);
    return S32(l).S32(t).S32(user).S32(-1);
  }
  Bytes& Object(const Bytes& body) {
    Tag(kLayoutObjectTag).S32(static_cast<SInt32>(body.mBytes.size()));
    mBytes.insert(mBytes.end(), body.mBytes.begin(), body.mBytes.end());
    return *this;
  }
  const std::vector<char>& bytes() const { return mBytes; }

 private:
  std::vector<char> mBytes;
};

std::string Compiled(const std::string& inSource) {
  try {
    CompileLayoutSource(inSource, "test.txt");
  } catch (const LayoutSourceError& e) {
    return e.text;
  }
  return "compiled";
}

}  // namespace

TEST(LayoutSource, NestedLayoutCompilesToTheExpectedBytes) {
  const std::string source =
      "# a dialog\n"
      "PPob 600 Size dialog\n"
      "wind 1 frame=20,30,300,200 title=\"Size \\\"A\\\"\" class=sheet attrs=0x40200000 min=100,80 {\n"
      "  pbut 2 frame=10,160,80,20 bind=right,bottom message=900 text=\"OK\"  # the default\n"
      "  etxt 'wdth' frame=10,10,60,22 message=5 value=640 max=9999 text=\"640\" maxchars=4 filter=integer {\n"
      "    ClkA answers=812 host=0 broadcast='Clik'\n"
      "  }\n"
      "  popb 4 frame=10,40,200,22 value=2 min=1 max=2 text=\"Mode:\" style=131 items=\"A, b\",\"C\" user=5001\n"
      "}\n"
      "links 2 'wdth'\n";
  std::vector<ResourceMapEntry> out = CompileLayoutSource(source, "test.txt");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].type, ResType('PPob'));
  EXPECT_EQ(out[0].id, 600);
  EXPECT_EQ(out[0].name, "Size dialog");

  Bytes window;
  window.Tag('wind').S32(1).P("Size \"A\"").S32(kLayoutSheetWindowClass).S32(0x40200000);
  window.S16(20).S16(30).S16(300).S16(200).S16(100).S16(80).S16(32767).S16(32767).S32(0);
  Bytes button;
  button.Tag('pbut').Pane(2, 10, 160, 80, 20, {0, 0, 1, 1}).S32(900).S32(0).S32(0).S32(0).P("OK").S16(0);
  Bytes edit;
  edit.Tag('etxt').Pane('wdth', 10, 10, 60, 22).S32(5).S32(640).S32(0).S32(9999).P("640").S16(0).S16(4).U8(
      kKeyFilterInteger);
  Bytes click;
  click.Tag('ClkA').S32(812).U8(0).S32('Clik');
  Bytes popup;
  popup.Tag('popb').Pane(4, 10, 40, 200, 22, {0, 0, 0, 0}, 1, 1, 5001).S32(0).S32(2).S32(1).S32(2);
  popup.P("Mode:").S16(131).S16(2).P("A, b").P("C");
  Bytes expected;
  expected.Object(window).Tag(kLayoutBeginTag).Object(button).Object(edit).Tag(kLayoutBeginTag).Object(click);
  expected.Tag(kLayoutEndTag).Object(popup).Tag(kLayoutEndTag).Tag(kLayoutEndOfDataTag);
  EXPECT_EQ(out[0].data, expected.bytes());

  Bytes links;
  links.S16(2).S32(2).S32('wdth');
  EXPECT_EQ(out[1].type, ResType('RidL'));
  EXPECT_EQ(out[1].id, 600);
  EXPECT_EQ(out[1].data, links.bytes());

  // The compiled objects read back through a stream, as the reader does.
  LHandleStream stream;
  stream.WriteBlock(out[0].data.data(), static_cast<SInt32>(out[0].data.size()));
  stream.SetMarker(0, streamFrom_Start);
  SInt32 tag = 0, length = 0, classID = 0;
  stream >> tag >> length >> classID;
  EXPECT_EQ(tag, SInt32('objd'));
  EXPECT_EQ(classID, SInt32('wind'));
  stream.SetMarker(length - 4, streamFrom_Marker);
  stream >> tag;
  EXPECT_EQ(tag, SInt32('begs'));
}

TEST(LayoutSource, FaultsNameTheLineAndTheReason) {
  const std::string head = "PPob 700 T\n";
  EXPECT_EQ(Compiled(head + "pbut 1 frame=0,0,10,10 colour=3\n"), "test.txt:2: class 'pbut' has no field \"colour\"");
  EXPECT_EQ(Compiled(head + "zzzz 1 frame=0,0,1,1\n"), "test.txt:2: unknown class id 'zzzz'");
  EXPECT_EQ(Compiled(head + "pbut 1\n"), "test.txt:2: a pane needs frame=left,top,width,height");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9 {\n pane 2 frame=0,0,1,1\n pane 2 frame=0,0,1,1\n}\n"),
            "test.txt:4: pane id 2 is used twice in this layout");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9 {\n pbut 2 frame=0,0,1,1 {\n pane 3 frame=0,0,1,1\n }\n}\n"),
            "test.txt:4: only views hold panes");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9 {\n"), "test.txt:2: a block is not closed");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9 {\n ClkA broadcast=1 {\n }\n}\n"),
            "test.txt:3: an attachment holds nothing");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9\npane 2 frame=0,0,1,1\n"),
            "test.txt:3: a layout has one top pane; put the others inside it");
  EXPECT_EQ(Compiled(head + "slid 1 frame=0,0,9,9 value=5 max=3\n"), "test.txt:2: value lies outside min..max");
  EXPECT_EQ(Compiled(head + "stxt 1 frame=0,0,9,9 text=\"" + std::string(256, 'x') + "\"\n"),
            "test.txt:2: text longer than 255 bytes");
  EXPECT_EQ(Compiled(head + "view 1 frame=0,0,9,9\nlinks 1 7\n"),
            "test.txt:3: the link list names pane 7, which the layout lacks");
  EXPECT_EQ(Compiled(head + "stxt 1 frame=0,0,9,9 text=\"open\n"), "test.txt:2: a quoted text is not closed");
  EXPECT_EQ(Compiled(head + "slid 1 frame=0,0,9,x\n"), "test.txt:2: not a number: x");
  EXPECT_EQ(Compiled("pane 1 frame=0,0,1,1\n"), "test.txt:1: expected \"PPob <id> <name>\"");
  // A text view's text is not limited to 255 bytes.
  EXPECT_EQ(Compiled(head + "txtv 1 frame=0,0,9,9 text=\"" + std::string(1000, 'x') + "\"\n"), "compiled");
}

TEST(LayoutSource, TextStylesCompile) {
  std::vector<ResourceMapEntry> out =
      CompileTextStyleSource("Txtr 130 font=\"Sans\" size=12 face=bold,italic just=right color=65535,0,1\n", "t");
  ASSERT_EQ(out.size(), 1u);
  Bytes expected;
  expected.P("Sans").S16(12).U8(3).S16(-1).S16(-1).S16(0).S16(1);
  EXPECT_EQ(out[0].type, ResType('Txtr'));
  EXPECT_EQ(out[0].id, 130);
  EXPECT_EQ(out[0].data, expected.bytes());
  EXPECT_THROW(CompileTextStyleSource("Txtr 1\nTxtr 1\n", "t"), LayoutSourceError);
}

// The build's compiler puts string lists, layouts and styles into one file,
// and refuses a layout id given twice.
TEST(LayoutSource, TheResourceCompilerWritesEverySourceKind) {
  TempFolder tmp;
  const std::string strings = (tmp / "0001-s.txt"), layout = (tmp / "0002-l.txt"), twice = (tmp / "0003-l.txt");
  std::ofstream(strings) << "STR# 1 S\n1: one\n";
  std::ofstream(layout) << "PPob 1 L\npane 1 frame=0,0,5,5\nlinks 1\n";
  std::ofstream(twice) << "PPob 1 L again\npane 1 frame=0,0,5,5\n";
  const std::string out = (tmp / "out.rsrc");
  std::string cmd = std::string(TRX_RESCOMP) + " strings --out " + out + " " + strings + " " + layout;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(out, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  ResourceMapContents contents;
  ASSERT_EQ(ParseResourceMap(bytes.str().data(), bytes.str().size(), contents), noErr);
  ASSERT_EQ(contents.entries.size(), 3u);
  EXPECT_EQ(contents.entries[0].type, ResType('STR#'));
  EXPECT_EQ(contents.entries[1].type, ResType('PPob'));
  EXPECT_EQ(contents.entries[2].type, ResType('RidL'));
  std::string refuse = std::string(TRX_RESCOMP) + " strings --out " + out + " " + layout + " " + twice + " 2>/dev/null";
  EXPECT_NE(std::system(refuse.c_str()), 0);
}
