#include "resources/tools/LayoutSource.h"

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "platform/base/Endian.h"
#include "platform/ui/LayoutFormat.h"

namespace {

[[noreturn]] void Fail(const std::string& inFile, int inLine, const std::string& inWhy) {
  throw LayoutSourceError{inFile + ":" + std::to_string(inLine) + ": " + inWhy};
}

// The groups of fields a class stores, in stream order.
enum class Group {
  Pane,        // the pane record
  View,        // the view record
  Window,      // the window record (in place of the pane's and the view's)
  Control,     // the control record
  Title,       // Str255 text, SInt16 text style
  LongText,    // SInt32 length and the bytes of the text, SInt16 text style
  Items,       // UInt16 count, Str255 per item
  Edit,        // SInt16 maximum characters, UInt8 key filter
  Bevel,       // SInt16 content kind, SInt16 content resource id, UInt8 toggles
  Icon,        // SInt16 icon resource id
  Progress,    // UInt8 indeterminate
  Choice,      // SInt32 value message, SInt32 value (radio and tab groups)
  Attachment,  // SInt32 message answered, UInt8 execute host
  Broadcast,   // UInt32 message broadcast
  ClickText,   // UInt32 value message, SInt16 pressed text style
  Help,        // Str255 page, Str255 anchor
};

struct ClassSchema {
  std::vector<Group> groups;
  bool isView = false;
};

const std::map<std::string, ClassSchema>& Schemas() {
  using G = Group;
  static const std::map<std::string, ClassSchema> sSchemas = {
      {"pane", {{G::Pane}}},
      {"view", {{G::Pane, G::View}, true}},
      {"wind", {{G::Window}, true}},
      {"RegW", {{G::Window}, true}},
      {"pbut", {{G::Pane, G::Control, G::Title}}},
      {"cbox", {{G::Pane, G::Control, G::Title}}},
      {"rbut", {{G::Pane, G::Control, G::Title}}},
      {"radg", {{G::Pane, G::View, G::Choice}, true}},
      {"popb", {{G::Pane, G::Control, G::Title, G::Items}}},
      {"slid", {{G::Pane, G::Control}}},
      {"etxt", {{G::Pane, G::Control, G::Title, G::Edit}}},
      {"edit", {{G::Pane, G::Control, G::Title, G::Edit}}},
      {"stxt", {{G::Pane, G::Title}}},
      {"capt", {{G::Pane, G::Title}}},
      {"bbut", {{G::Pane, G::Control, G::Title, G::Bevel}}},
      {"icnp", {{G::Pane, G::Control, G::Icon}}},
      {"pbar", {{G::Pane, G::Control, G::Progress}}},
      {"carr", {{G::Pane}}},
      {"dtri", {{G::Pane, G::Control, G::Title}}},
      {"sepl", {{G::Pane}}},
      {"txtv", {{G::Pane, G::LongText}}},
      {"tabg", {{G::Pane, G::View, G::Choice, G::Items}, true}},
      {"ClkA", {{G::Attachment, G::Broadcast}}},
      {"ClTx", {{G::Pane, G::Title, G::ClickText}}},
      {"StBt", {{G::Pane, G::Control, G::Title}}},
      {"GtBt", {{G::Pane, G::Control, G::Title}}},
      {"Help", {{G::Pane, G::Control, G::Icon, G::Help}}},
      {"MovV", {{G::Pane, G::View}, true}},
      {"CtVw", {{G::Pane, G::View}, true}},
      {"TSld", {{G::Pane, G::View}, true}},
      {"BrPn", {{G::Pane}}},
      {"ClPc", {{G::Pane, G::Control, G::Title, G::Bevel}}},
      {"ExPn", {{G::Pane}}},
  };
  return sSchemas;
}

// The keys each group takes.
const std::map<Group, std::vector<std::string>>& GroupKeys() {
  using G = Group;
  static const std::map<Group, std::vector<std::string>> sKeys = {
      {G::Pane, {"frame", "bind", "visible", "enabled", "user"}},
      {G::View, {"image", "scroll", "unit", "reconcile"}},
      {G::Window, {"frame", "title", "class", "attrs", "min", "max", "user"}},
      {G::Control, {"message", "value", "min", "max"}},
      {G::Title, {"text", "style"}},
      {G::LongText, {"text", "style"}},
      {G::Items, {"items"}},
      {G::Edit, {"maxchars", "filter"}},
      {G::Bevel, {"content", "toggles"}},
      {G::Icon, {"icon"}},
      {G::Progress, {"indeterminate"}},
      {G::Choice, {"message", "value"}},
      {G::Attachment, {"answers", "host"}},
      {G::Broadcast, {"broadcast"}},
      {G::ClickText, {"message", "pressed"}},
      {G::Help, {"page", "anchor"}},
  };
  return sKeys;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

// One line's reading position, for error messages.
struct Where {
  const std::string& file;
  int line;
  [[noreturn]] void Fail(const std::string& inWhy) const { ::Fail(file, line, inWhy); }
};

// Splits a line into words: runs of characters outside quotes; a quoted
// text keeps its quotes (escapes resolved later) and may hold spaces. A '#'
// outside quotes starts a comment.
std::vector<std::string> SplitWords(const std::string& inLine, const Where& inWhere) {
  std::vector<std::string> words;
  std::string word;
  bool inQuote = false;
  bool have = false;
  for (size_t i = 0; i < inLine.size(); ++i) {
    char c = inLine[i];
    if (inQuote) {
      word += c;
      if (c == '\\' && i + 1 < inLine.size()) {
        word += inLine[++i];
      } else if (c == '"') {
        inQuote = false;
      }
      continue;
    }
    if (c == '#') break;
    if (c == ' ' || c == '\t') {
      if (have) words.push_back(word);
      word.clear();
      have = false;
      continue;
    }
    if (c == '"') inQuote = true;
    word += c;
    have = true;
  }
  if (inQuote) inWhere.Fail("a quoted text is not closed");
  if (have) words.push_back(word);
  return words;
}

// Splits a value at commas outside quotes.
std::vector<std::string> SplitList(const std::string& inValue) {
  std::vector<std::string> parts;
  std::string part;
  bool inQuote = false;
  for (size_t i = 0; i < inValue.size(); ++i) {
    char c = inValue[i];
    if (inQuote && c == '\\' && i + 1 < inValue.size()) {
      part += c;
      part += inValue[++i];
      continue;
    }
    if (c == '"') inQuote = !inQuote;
    if (c == ',' && !inQuote) {
      parts.push_back(part);
      part.clear();
      continue;
    }
    part += c;
  }
  parts.push_back(part);
  return parts;
}

// A quoted text with \n, \r, \t, \", \\ escapes; UTF-8 kept as it stands.
std::string ParseText(const std::string& inValue, const Where& inWhere) {
  if (inValue.size() < 2 || inValue.front() != '"' || inValue.back() != '"')
    inWhere.Fail("expected a quoted text, found " + inValue);
  std::string out;
  for (size_t i = 1; i + 1 < inValue.size(); ++i) {
    if (inValue[i] != '\\') {
      out += inValue[i];
      continue;
    }
    ++i;
    switch (inValue[i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      default: inWhere.Fail(std::string("unknown escape \\") + inValue[i]);
    }
  }
  return out;
}

// A number: decimal, 0x hexadecimal, or a four-character code 'abcd'.
SInt64 ParseNumber(const std::string& inValue, SInt64 inMin, SInt64 inMax, const Where& inWhere) {
  SInt64 n = 0;
  if (inValue.size() == 6 && inValue.front() == '\'' && inValue.back() == '\'') {
    for (int i = 1; i <= 4; ++i) n = (n << 8) | static_cast<UInt8>(inValue[i]);
  } else {
    if (inValue.empty()) inWhere.Fail("a number is missing");
    char* end = nullptr;
    bool hex = inValue.size() > 2 && inValue[0] == '0' && (inValue[1] == 'x' || inValue[1] == 'X');
    n = std::strtoll(inValue.c_str(), &end, hex ? 16 : 10);
    if (end == nullptr || *end != '\0') inWhere.Fail("not a number: " + inValue);
  }
  if (n < inMin || n > inMax) inWhere.Fail("number out of range: " + inValue);
  return n;
}

class Writer {
 public:
  explicit Writer(std::vector<char>& outBytes) : mBytes(outBytes) {}
  void U8(UInt8 v) { mBytes.push_back(static_cast<char>(v)); }
  void S16(SInt64 v) {
    char b[2];
    WriteBE16(b, static_cast<UInt16>(v));
    mBytes.insert(mBytes.end(), b, b + 2);
  }
  void S32(SInt64 v) {
    char b[4];
    WriteBE32(b, static_cast<UInt32>(v));
    mBytes.insert(mBytes.end(), b, b + 4);
  }
  void PString(const std::string& s, const Where& inWhere) {
    if (s.size() > 255) inWhere.Fail("text longer than 255 bytes");
    U8(static_cast<UInt8>(s.size()));
    mBytes.insert(mBytes.end(), s.begin(), s.end());
  }
  void LongString(const std::string& s) {
    S32(static_cast<SInt64>(s.size()));
    mBytes.insert(mBytes.end(), s.begin(), s.end());
  }

 private:
  std::vector<char>& mBytes;
};

// The key=value fields of one line, each taken once.
class Fields {
 public:
  Fields(const std::vector<std::string>& inWords, size_t inFirst, const Where& inWhere) : mWhere(inWhere) {
    for (size_t i = inFirst; i < inWords.size(); ++i) {
      size_t eq = inWords[i].find('=');
      if (eq == std::string::npos || eq == 0) mWhere.Fail("expected key=value, found " + inWords[i]);
      std::string key = inWords[i].substr(0, eq);
      if (mValues.count(key)) mWhere.Fail("\"" + key + "\" given twice");
      mValues[key] = inWords[i].substr(eq + 1);
    }
  }
  bool Has(const std::string& inKey) const { return mValues.count(inKey) != 0; }
  const std::string& Get(const std::string& inKey) const { return mValues.at(inKey); }
  SInt64 Number(const std::string& inKey, SInt64 inDefault, SInt64 inMin, SInt64 inMax) const {
    return Has(inKey) ? ParseNumber(Get(inKey), inMin, inMax, mWhere) : inDefault;
  }
  SInt64 Flag(const std::string& inKey, bool inDefault) const { return Number(inKey, inDefault ? 1 : 0, 0, 1); }
  std::vector<SInt64> Numbers(const std::string& inKey, size_t inCount, SInt64 inMin, SInt64 inMax) const {
    std::vector<std::string> parts = SplitList(Get(inKey));
    if (parts.size() != inCount)
      mWhere.Fail("\"" + inKey + "\" takes " + std::to_string(inCount) + " numbers separated by commas");
    std::vector<SInt64> out;
    for (const std::string& p : parts) out.push_back(ParseNumber(p, inMin, inMax, mWhere));
    return out;
  }
  std::string Text(const std::string& inKey) const { return Has(inKey) ? ParseText(Get(inKey), mWhere) : ""; }
  // Every key must belong to one of the class's groups.
  void CheckKeys(const std::set<std::string>& inAllowed, const std::string& inClass) const {
    for (const auto& [key, value] : mValues)
      if (!inAllowed.count(key)) mWhere.Fail("class '" + inClass + "' has no field \"" + key + "\"");
  }
  const Where& where() const { return mWhere; }

 private:
  const Where& mWhere;
  std::map<std::string, std::string> mValues;
};

constexpr SInt64 kS16Min = -32768, kS16Max = 32767;
constexpr SInt64 kS32Min = -2147483648LL, kS32Max = 0xFFFFFFFFLL;  // codes above 0x7FFFFFFF allowed

SInt64 ParseWindowClass(const Fields& inFields) {
  if (!inFields.Has("class")) return kLayoutDocumentWindowClass;
  static const std::map<std::string, SInt16> sNames = {
      {"modal", kLayoutModalWindowClass},   {"movable-modal", kLayoutMovableModalWindowClass},
      {"floating", kLayoutFloatingWindowClass}, {"document", kLayoutDocumentWindowClass},
      {"sheet", kLayoutSheetWindowClass},   {"plain", kLayoutPlainWindowClass},
      {"drawer", kLayoutDrawerWindowClass}};
  auto it = sNames.find(inFields.Get("class"));
  if (it != sNames.end()) return it->second;
  return inFields.Number("class", 0, 0, kS16Max);
}

// Modal windows: modal and targetable; floating: floating, targetable, close
// box; the others regular, targetable, resizable, with a close box.
SInt64 DefaultWindowAttributes(SInt64 inClass) {
  if (inClass == kLayoutModalWindowClass || inClass == kLayoutMovableModalWindowClass) return 0x80200000;
  if (inClass == kLayoutFloatingWindowClass) return 0x20280000;
  return 0x401C0000;
}

UInt8 ParseKeyFilter(const Fields& inFields) {
  if (!inFields.Has("filter")) return kKeyFilterNone;
  static const std::map<std::string, UInt8> sNames = {{"none", kKeyFilterNone},
                                                      {"integer", kKeyFilterInteger},
                                                      {"negative-integer", kKeyFilterNegativeInteger},
                                                      {"alphanumeric", kKeyFilterAlphaNumeric},
                                                      {"printing", kKeyFilterPrintingChar}};
  auto it = sNames.find(inFields.Get("filter"));
  if (it == sNames.end()) inFields.where().Fail("unknown key filter " + inFields.Get("filter"));
  return it->second;
}

void WriteGroup(Group inGroup, const Fields& f, SInt64 inPaneID, Writer& w) {
  const Where& where = f.where();
  switch (inGroup) {
    case Group::Pane: {
      if (!f.Has("frame")) where.Fail("a pane needs frame=left,top,width,height");
      std::vector<SInt64> frame = f.Numbers("frame", 4, kS16Min, kS16Max);
      if (frame[2] < 0 || frame[3] < 0) where.Fail("a frame's width and height cannot be negative");
      bool bl = false, bt = false, br = false, bb = false;
      if (f.Has("bind")) {
        for (const std::string& side : SplitList(f.Get("bind"))) {
          if (side == "left") bl = true;
          else if (side == "top") bt = true;
          else if (side == "right") br = true;
          else if (side == "bottom") bb = true;
          else if (side == "all") bl = bt = br = bb = true;
          else if (side != "none") where.Fail("bind takes left, top, right, bottom, all or none");
        }
      }
      w.S32(inPaneID);
      w.S16(frame[2]);
      w.S16(frame[3]);
      w.U8(static_cast<UInt8>(f.Flag("visible", true)));
      w.U8(static_cast<UInt8>(f.Flag("enabled", true)));
      w.U8(bl);
      w.U8(bt);
      w.U8(br);
      w.U8(bb);
      w.S32(frame[0]);
      w.S32(frame[1]);
      w.S32(f.Number("user", 0, kS32Min, kS32Max));
      w.S32(-1);  // inside the view being read
      break;
    }
    case Group::View: {
      std::vector<SInt64> frame = f.Numbers("frame", 4, kS16Min, kS16Max);
      std::vector<SInt64> image = f.Has("image") ? f.Numbers("image", 2, 0, kS32Max) : std::vector{frame[2], frame[3]};
      std::vector<SInt64> scroll = f.Has("scroll") ? f.Numbers("scroll", 2, kS32Min, kS32Max) : std::vector<SInt64>{0, 0};
      std::vector<SInt64> unit = f.Has("unit") ? f.Numbers("unit", 2, 1, kS32Max) : std::vector<SInt64>{1, 1};
      w.S32(image[0]);
      w.S32(image[1]);
      w.S32(scroll[0]);
      w.S32(scroll[1]);
      w.S32(unit[0]);
      w.S32(unit[1]);
      w.S16(f.Flag("reconcile", false));
      break;
    }
    case Group::Window: {
      if (!f.Has("frame")) where.Fail("a window needs frame=left,top,width,height");
      std::vector<SInt64> frame = f.Numbers("frame", 4, kS16Min, kS16Max);
      if (frame[2] < 0 || frame[3] < 0) where.Fail("a frame's width and height cannot be negative");
      SInt64 windowClass = ParseWindowClass(f);
      std::vector<SInt64> mn = f.Has("min") ? f.Numbers("min", 2, 0, kS16Max) : std::vector<SInt64>{0, 0};
      std::vector<SInt64> mx = f.Has("max") ? f.Numbers("max", 2, 0, kS16Max) : std::vector<SInt64>{kS16Max, kS16Max};
      w.S32(inPaneID);
      w.PString(f.Text("title"), where);
      w.S32(windowClass);
      w.S32(f.Number("attrs", DefaultWindowAttributes(windowClass), 0, 0xFFFFFFFFLL));
      for (SInt64 v : frame) w.S16(v);
      w.S16(mn[0]);
      w.S16(mn[1]);
      w.S16(mx[0]);
      w.S16(mx[1]);
      w.S32(f.Number("user", 0, kS32Min, kS32Max));
      break;
    }
    case Group::Control: {
      SInt64 mn = f.Number("min", 0, kS32Min, kS32Max);
      SInt64 mx = f.Number("max", 0, kS32Min, kS32Max);
      SInt64 value = f.Number("value", 0, kS32Min, kS32Max);
      if (mx < mn) where.Fail("max is below min");
      if (value < mn || value > mx) where.Fail("value lies outside min..max");
      w.S32(f.Number("message", 0, kS32Min, kS32Max));
      w.S32(value);
      w.S32(mn);
      w.S32(mx);
      break;
    }
    case Group::Title:
      w.PString(f.Text("text"), where);
      w.S16(f.Number("style", 0, kS16Min, kS16Max));
      break;
    case Group::LongText:
      w.LongString(f.Text("text"));
      w.S16(f.Number("style", 0, kS16Min, kS16Max));
      break;
    case Group::Items: {
      std::vector<std::string> items;
      if (f.Has("items"))
        for (const std::string& p : SplitList(f.Get("items"))) items.push_back(ParseText(p, where));
      w.S16(static_cast<SInt64>(items.size()));
      for (const std::string& item : items) w.PString(item, where);
      break;
    }
    case Group::Edit:
      w.S16(f.Number("maxchars", 255, 0, kS16Max));
      w.U8(ParseKeyFilter(f));
      break;
    case Group::Bevel: {
      SInt64 kind = kBevelContentText, id = 0;
      if (f.Has("content") && f.Get("content") != "text") {
        const std::string& c = f.Get("content");
        size_t colon = c.find(':');
        std::string what = c.substr(0, colon);
        if (colon == std::string::npos || (what != "icon" && what != "picture"))
          where.Fail("content takes text, icon:<id> or picture:<id>");
        kind = what == "icon" ? kBevelContentIcon : kBevelContentPicture;
        id = ParseNumber(c.substr(colon + 1), kS16Min, kS16Max, where);
      }
      w.S16(kind);
      w.S16(id);
      w.U8(static_cast<UInt8>(f.Flag("toggles", false)));
      break;
    }
    case Group::Icon:
      w.S16(f.Number("icon", 0, kS16Min, kS16Max));
      break;
    case Group::Progress:
      w.U8(static_cast<UInt8>(f.Flag("indeterminate", false)));
      break;
    case Group::Choice:
      w.S32(f.Number("message", 0, kS32Min, kS32Max));
      w.S32(f.Number("value", 0, kS32Min, kS32Max));
      break;
    case Group::Attachment:
      w.S32(f.Number("answers", 0, kS32Min, kS32Max));
      w.U8(static_cast<UInt8>(f.Flag("host", true)));
      break;
    case Group::Broadcast:
      w.S32(f.Number("broadcast", 0, kS32Min, kS32Max));
      break;
    case Group::ClickText:
      w.S32(f.Number("message", 0, kS32Min, kS32Max));
      w.S16(f.Number("pressed", 0, kS16Min, kS16Max));
      break;
    case Group::Help:
      w.PString(f.Text("page"), where);
      w.PString(f.Text("anchor"), where);
      break;
  }
}

void WriteTag(std::vector<char>& ioBytes, OSType inTag) {
  char b[4];
  WriteBE32(b, inTag);
  ioBytes.insert(ioBytes.end(), b, b + 4);
}

struct Header {
  std::string kind;
  ResID id = 0;
  bool hasName = false;
  std::string name;
};

Header ParseHeader(const std::string& inLine, const Where& inWhere) {
  std::istringstream head(inLine);
  Header h;
  long id = 0;
  head >> h.kind >> id;
  if (!head || id < -32768 || id > 32767) inWhere.Fail("expected \"" + h.kind + " <id> <name>\"");
  h.id = static_cast<ResID>(id);
  std::string name;
  std::getline(head, name);
  size_t start = name.find_first_not_of(' ');
  h.hasName = start != std::string::npos;
  if (h.hasName) h.name = name.substr(start);
  if (h.name.size() > 255) inWhere.Fail("name longer than 255 bytes");
  return h;
}

}  // namespace

std::string SourceKind(const std::string& inText) {
  std::istringstream in(inText);
  std::string line;
  while (std::getline(in, line)) {
    line = TrimRight(line);
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    return line.substr(start, line.find_first_of(" \t", start) - start);
  }
  return "";
}

std::vector<ResourceMapEntry> CompileLayoutSource(const std::string& inText, const std::string& inFileName) {
  std::istringstream in(inText);
  std::string line;
  int lineNo = 0;
  bool haveHeader = false;
  ResourceMapEntry layout;
  layout.type = kLayoutResType;
  ResourceMapEntry links;
  links.type = kLinkListResType;
  bool haveLinks = false;
  // The open blocks: whether each belongs to a view (may hold panes).
  std::vector<bool> open;
  std::set<SInt64> paneIDs;
  bool haveTop = false;
  Writer layoutOut(layout.data);
  while (std::getline(in, line)) {
    ++lineNo;
    Where where{inFileName, lineNo};
    std::vector<std::string> words = SplitWords(TrimRight(line), where);
    if (words.empty()) continue;
    if (!haveHeader) {
      Header h = ParseHeader(line, where);
      if (h.kind != "PPob") where.Fail("expected \"PPob <id> <name>\"");
      layout.id = links.id = h.id;
      layout.hasName = links.hasName = h.hasName;
      layout.name = links.name = h.name;
      haveHeader = true;
      continue;
    }
    if (words[0] == "}") {
      if (words.size() != 1) where.Fail("\"}\" stands alone on its line");
      if (open.empty()) where.Fail("\"}\" without an open block");
      open.pop_back();
      WriteTag(layout.data, kLayoutEndTag);
      continue;
    }
    if (words[0] == "links") {
      if (haveLinks) where.Fail("a second link list");
      haveLinks = true;
      Writer w(links.data);
      w.S16(static_cast<SInt64>(words.size() - 1));
      for (size_t i = 1; i < words.size(); ++i) w.S32(ParseNumber(words[i], kS32Min, kS32Max, where));
      continue;
    }
    auto schema = Schemas().find(words[0]);
    if (schema == Schemas().end()) where.Fail("unknown class id '" + words[0] + "'");
    const ClassSchema& cls = schema->second;
    bool isPane = cls.groups.front() == Group::Pane || cls.groups.front() == Group::Window;
    bool opens = words.back() == "{";
    if (opens) words.pop_back();
    if (opens && !isPane) where.Fail("an attachment holds nothing");
    if (haveTop && open.empty()) where.Fail("a layout has one top pane; put the others inside it");
    if (!haveTop && !isPane) where.Fail("a layout starts with a pane");
    if (isPane && !open.empty() && !open.back()) where.Fail("only views hold panes");
    size_t first = 1;
    SInt64 paneID = 0;
    if (isPane) {
      if (words.size() < 2 || words[1].find('=') != std::string::npos) where.Fail("a pane's id follows its class");
      paneID = ParseNumber(words[1], kS32Min, kS32Max, where);
      if (paneID != 0 && !paneIDs.insert(paneID).second)
        where.Fail("pane id " + words[1] + " is used twice in this layout");
      first = 2;
    }
    Fields fields(words, first, where);
    std::set<std::string> allowed;
    for (Group g : cls.groups)
      for (const std::string& k : GroupKeys().at(g)) allowed.insert(k);
    fields.CheckKeys(allowed, words[0]);
    std::vector<char> object;
    Writer w(object);
    w.S32(ParseNumber("'" + words[0] + "'", 0, kS32Max, where));
    for (Group g : cls.groups) WriteGroup(g, fields, paneID, w);
    WriteTag(layout.data, kLayoutObjectTag);
    layoutOut.S32(static_cast<SInt64>(object.size()));
    layout.data.insert(layout.data.end(), object.begin(), object.end());
    haveTop = true;
    if (opens) {
      open.push_back(cls.isView);
      WriteTag(layout.data, kLayoutBeginTag);
    }
  }
  Where end{inFileName, lineNo};
  if (!haveHeader) end.Fail("no \"PPob\" header");
  if (!haveTop) end.Fail("a layout without panes");
  if (!open.empty()) end.Fail("a block is not closed");
  for (size_t i = 2; haveLinks && i + 4 <= links.data.size(); i += 4) {
    SInt32 id = static_cast<SInt32>(ReadBE32(&links.data[i]));
    if (!paneIDs.count(id)) end.Fail("the link list names pane " + std::to_string(id) + ", which the layout lacks");
  }
  WriteTag(layout.data, kLayoutEndOfDataTag);
  std::vector<ResourceMapEntry> out{layout};
  if (haveLinks) out.push_back(links);
  return out;
}

std::vector<ResourceMapEntry> CompileTextStyleSource(const std::string& inText, const std::string& inFileName) {
  std::istringstream in(inText);
  std::string line;
  int lineNo = 0;
  std::vector<ResourceMapEntry> out;
  while (std::getline(in, line)) {
    ++lineNo;
    Where where{inFileName, lineNo};
    std::vector<std::string> words = SplitWords(TrimRight(line), where);
    if (words.empty()) continue;
    if (words[0] != "Txtr" || words.size() < 2) where.Fail("expected \"Txtr <id> key=value...\"");
    ResourceMapEntry e;
    e.type = kTextStyleResType;
    e.id = static_cast<ResID>(ParseNumber(words[1], kS16Min, kS16Max, where));
    for (const ResourceMapEntry& other : out)
      if (other.id == e.id) where.Fail("text style " + words[1] + " defined twice");
    Fields f(words, 2, where);
    f.CheckKeys({"font", "size", "face", "just", "color"}, "Txtr");
    UInt8 face = 0;
    if (f.Has("face")) {
      for (const std::string& bit : SplitList(f.Get("face"))) {
        if (bit == "bold") face |= 1;
        else if (bit == "italic") face |= 2;
        else if (bit == "underline") face |= 4;
        else if (bit != "plain") where.Fail("face takes plain, bold, italic, underline");
      }
    }
    SInt64 just = 0;
    if (f.Has("just")) {
      const std::string& j = f.Get("just");
      if (j == "center") just = 1;
      else if (j == "right") just = -1;
      else if (j != "left") where.Fail("just takes left, center or right");
    }
    std::vector<SInt64> color = f.Has("color") ? f.Numbers("color", 3, 0, 0xFFFF) : std::vector<SInt64>{0, 0, 0};
    Writer w(e.data);
    w.PString(f.Text("font"), where);
    w.S16(f.Number("size", 0, 0, 1000));
    w.U8(face);
    w.S16(just);
    for (SInt64 c : color) w.S16(c);
    out.push_back(std::move(e));
  }
  return out;
}
