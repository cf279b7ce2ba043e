// Builds the bundle's resource files from their readable sources.
//
//   trx_rescomp strings --out <file.rsrc> <source.txt>...
//       Compiles readable sources into a resource file whose map is kept in
//       the data fork; each source's header line tells its kind: string lists
//       ("STR#", strings/README.txt) into 'STR#' resources, layouts ("PPob",
//       layouts/README.txt) into 'PPob' and 'RidL', text styles ("Txtr"),
//       menu files ("MENU" or "MBAR", menus/README.txt) into 'MENU' and 'MBAR'.
//   trx_rescomp prefs --out <folder>/"Tremblorix Preferences"
//       Writes the default preferences file: the version record in the data
//       fork, the default settings as resource 'Trbx' 128 in its resource fork.
//
// Any error in a source stops the build with the file, line and reason.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/FourCC.h"
#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"
#include "resources/tools/LayoutSource.h"

namespace {

struct SourceError {
  std::string text;
};

[[noreturn]] void Fail(const std::string& inFile, int inLine, const std::string& inWhy) {
  throw SourceError{inFile + ":" + std::to_string(inLine) + ": " + inWhy};
}

std::string Unescape(const std::string& inText, const std::string& inFile, int inLine) {
  std::string out;
  for (size_t i = 0; i < inText.size(); ++i) {
    if (inText[i] != '\\') {
      out += inText[i];
      continue;
    }
    if (++i >= inText.size()) Fail(inFile, inLine, "a backslash ends the line");
    switch (inText[i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 's': out += ' '; break;
      case '\\': out += '\\'; break;
      default: Fail(inFile, inLine, std::string("unknown escape \\") + inText[i]);
    }
  }
  return out;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

// One string list file into a resource entry.
ResourceMapEntry ReadStringList(const std::string& inFile) {
  std::ifstream in(inFile);
  if (!in) Fail(inFile, 0, "cannot be read");
  ResourceMapEntry entry;
  entry.type = 'STR#';
  bool haveHeader = false;
  std::vector<std::string> items;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    line = TrimRight(line);
    if (line.empty() || line[0] == '#') continue;
    if (!haveHeader) {
      std::istringstream head(line);
      std::string kind;
      long id = 0;
      head >> kind >> id;
      if (kind != "STR#" || !head || id < -32768 || id > 32767) Fail(inFile, lineNo, "expected \"STR# <id> <name>\"");
      std::string name;
      std::getline(head, name);
      size_t start = name.find_first_not_of(' ');
      entry.id = static_cast<ResID>(id);
      entry.hasName = start != std::string::npos;
      if (entry.hasName) entry.name = name.substr(start);
      haveHeader = true;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) Fail(inFile, lineNo, "expected \"<index>: <text>\"");
    long index = std::strtol(line.substr(0, colon).c_str(), nullptr, 10);
    if (index != static_cast<long>(items.size()) + 1)
      Fail(inFile, lineNo, "item " + std::to_string(items.size() + 1) + " expected here");
    std::string text = line.substr(colon + 1);
    if (!text.empty() && text[0] == ' ') text.erase(0, 1);
    text = Unescape(text, inFile, lineNo);
    if (text.size() > 255) Fail(inFile, lineNo, "text longer than 255 bytes");
    items.push_back(text);
  }
  if (!haveHeader) Fail(inFile, lineNo, "no \"STR#\" header");
  if (items.size() > 0x7FFF) Fail(inFile, lineNo, "too many items");
  char count[2];
  WriteBE16(count, static_cast<UInt16>(items.size()));
  entry.data.assign(count, count + 2);
  for (const std::string& t : items) {
    entry.data.push_back(static_cast<char>(t.size()));
    entry.data.insert(entry.data.end(), t.begin(), t.end());
  }
  return entry;
}

void PutBE16(std::vector<char>& ioBytes, SInt32 inValue) {
  UInt16 v = static_cast<UInt16>(inValue);
  ioBytes.push_back(static_cast<char>(v >> 8));
  ioBytes.push_back(static_cast<char>(v & 0xFF));
}

void PutBE32(std::vector<char>& ioBytes, UInt32 inValue) {
  for (int shift = 24; shift >= 0; shift -= 8) ioBytes.push_back(static_cast<char>((inValue >> shift) & 0xFF));
}

void PutPString(std::vector<char>& ioBytes, const std::string& inText, const std::string& inFile, int inLine) {
  if (inText.size() > 255) Fail(inFile, inLine, "text longer than 255 bytes");
  ioBytes.push_back(static_cast<char>(inText.size()));
  ioBytes.insert(ioBytes.end(), inText.begin(), inText.end());
}

long ParseID(const std::string& inWord, const std::string& inFile, int inLine, long inMin, long inMax) {
  char* end = nullptr;
  long v = std::strtol(inWord.c_str(), &end, 10);
  if (inWord.empty() || *end != '\0' || v < inMin || v > inMax) Fail(inFile, inLine, "bad number \"" + inWord + "\"");
  return v;
}

// A menu file: MBAR and MENU blocks.
//   MBAR <id>
//     menus <menu id>...
//   MENU <id> <title>
//     item <command> "<text>" [key <char>] [shift] [alt] [mark check|diamond] [submenu <id>] [disabled]
//     separator
std::vector<ResourceMapEntry> ReadMenuFile(const std::string& inFile) {
  std::ifstream in(inFile);
  if (!in) Fail(inFile, 0, "cannot be read");
  std::vector<ResourceMapEntry> out;
  struct Item {
    std::string text;
    UInt32 command = 0;
    UInt8 key = 0, modifiers = 0, mark = 0, enabled = 1;
    SInt16 submenu = 0;
  };
  std::vector<Item> items;
  std::string title;
  bool inMenu = false, inBar = false;
  std::vector<SInt16> barMenus;
  ResID blockID = 0;
  std::map<std::pair<UInt32, ResID>, int> seen;
  auto finish = [&](int inLine) {
    if (inMenu) {
      ResourceMapEntry e;
      e.type = 'MENU';
      e.id = blockID;
      e.hasName = true;
      e.name = title;
      PutBE16(e.data, blockID);
      PutPString(e.data, title, inFile, inLine);
      PutBE16(e.data, static_cast<SInt32>(items.size()));
      for (const Item& it : items) {
        PutPString(e.data, it.text, inFile, inLine);
        PutBE32(e.data, it.command);
        e.data.push_back(static_cast<char>(it.key));
        e.data.push_back(static_cast<char>(it.modifiers));
        e.data.push_back(static_cast<char>(it.mark));
        PutBE16(e.data, it.submenu);
        e.data.push_back(static_cast<char>(it.enabled));
      }
      out.push_back(std::move(e));
    }
    if (inBar) {
      ResourceMapEntry e;
      e.type = 'MBAR';
      e.id = blockID;
      PutBE16(e.data, static_cast<SInt32>(barMenus.size()));
      for (SInt16 id : barMenus) PutBE16(e.data, id);
      out.push_back(std::move(e));
    }
    inMenu = inBar = false;
    items.clear();
    barMenus.clear();
  };
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    line = TrimRight(line);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream words(line.substr(first));
    std::string word;
    words >> word;
    if (word == "MENU" || word == "MBAR") {
      finish(lineNo);
      std::string id;
      words >> id;
      blockID = static_cast<ResID>(ParseID(id, inFile, lineNo, 1, 32767));
      UInt32 type = word == "MENU" ? 'MENU' : 'MBAR';
      if (seen.count({type, blockID})) Fail(inFile, lineNo, word + " " + id + " defined twice");
      seen[{type, blockID}] = lineNo;
      if (word == "MENU") {
        std::getline(words, title);
        size_t start = title.find_first_not_of(' ');
        title = start == std::string::npos ? std::string() : title.substr(start);
        if (title.empty()) Fail(inFile, lineNo, "a menu needs a title");
        inMenu = true;
      } else {
        inBar = true;
      }
    } else if (word == "menus" && inBar) {
      std::string id;
      while (words >> id) barMenus.push_back(static_cast<SInt16>(ParseID(id, inFile, lineNo, 1, 32767)));
    } else if (word == "separator" && inMenu) {
      Item it;
      it.text = "-";
      it.enabled = 0;
      items.push_back(it);
    } else if (word == "item" && inMenu) {
      Item it;
      std::string command;
      words >> command;
      it.command = static_cast<UInt32>(ParseID(command, inFile, lineNo, -2147483647L, 2147483647L));
      std::string rest;
      std::getline(words, rest);
      size_t q1 = rest.find('"'), q2 = q1 == std::string::npos ? q1 : rest.find('"', q1 + 1);
      if (q2 == std::string::npos) Fail(inFile, lineNo, "expected the item text in double quotes");
      it.text = Unescape(rest.substr(q1 + 1, q2 - q1 - 1), inFile, lineNo);
      if (it.text.empty()) Fail(inFile, lineNo, "empty item text (use \"separator\")");
      std::istringstream opts(rest.substr(q2 + 1));
      std::string opt;
      while (opts >> opt) {
        if (opt == "key") {
          std::string k;
          opts >> k;
          if (k.size() != 1) Fail(inFile, lineNo, "a key is one character");
          it.key = static_cast<UInt8>(k[0]);
        } else if (opt == "shift") {
          it.modifiers |= 1;
        } else if (opt == "alt") {
          it.modifiers |= 2;
        } else if (opt == "mark") {
          std::string m;
          opts >> m;
          if (m == "check") it.mark = 0x12;
          else if (m == "diamond") it.mark = 0x13;
          else Fail(inFile, lineNo, "mark is check or diamond");
        } else if (opt == "submenu") {
          std::string id;
          opts >> id;
          it.submenu = static_cast<SInt16>(ParseID(id, inFile, lineNo, 1, 32767));
        } else if (opt == "disabled") {
          it.enabled = 0;
        } else {
          Fail(inFile, lineNo, "unknown item option \"" + opt + "\"");
        }
      }
      items.push_back(it);
    } else {
      Fail(inFile, lineNo, "unexpected \"" + word + "\"");
    }
  }
  finish(lineNo);
  if (out.empty()) Fail(inFile, lineNo, "no MENU or MBAR");
  return out;
}

void AppendRecord(std::vector<char>& ioBytes, UInt32 inTag, const std::vector<char>& inData) {
  char header[8];
  WriteBE32(header, inTag);
  WriteBE32(header + 4, static_cast<UInt32>(inData.size()));
  ioBytes.insert(ioBytes.end(), header, header + 8);
  ioBytes.insert(ioBytes.end(), inData.begin(), inData.end());
}

void AppendEnd(std::vector<char>& ioBytes) { AppendRecord(ioBytes, '>>>>', {}); }

int Strings(const std::string& inOut, const std::vector<std::string>& inSources) {
  ResourceMapContents contents;
  std::map<std::pair<ResType, ResID>, std::string> seen;
  for (const std::string& file : inSources) {
    std::ifstream in(file);
    if (!in) Fail(file, 0, "cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    std::string kind = SourceKind(text.str());
    std::vector<ResourceMapEntry> entries;
    if (kind == "PPob") entries = CompileLayoutSource(text.str(), file);
    else if (kind == "Txtr") entries = CompileTextStyleSource(text.str(), file);
    else if (kind == "MENU" || kind == "MBAR") entries = ReadMenuFile(file);
    else entries.push_back(ReadStringList(file));
    for (ResourceMapEntry& e : entries) {
      std::string what = FourCCToString(e.type) + " " + std::to_string(e.id);
      if (seen.count({e.type, e.id})) Fail(file, 0, what + " also defined in " + seen[{e.type, e.id}]);
      seen[{e.type, e.id}] = file;
      contents.entries.push_back(std::move(e));
    }
  }

  std::vector<char> bytes;
  if (SerializeResourceMap(contents, bytes) != noErr) Fail(inOut, 0, "the lists do not fit in a resource file");
  if (WriteWholeFileAtomically(inOut, bytes) != noErr) Fail(inOut, 0, "cannot be written");
  return 0;
}

int Prefs(const std::string& inOut) {
  // Data fork: the version record (tag 1 = 1) and the end of the section.
  std::vector<char> data;
  AppendRecord(data, 1, {0, 0, 0, 1});
  AppendEnd(data);
  // Resource 'Trbx' 128: the application section (tag 1: open movies = 1),
  // then an empty recent-files section and an empty export section.
  ResourceMapEntry settings;
  settings.type = 'Trbx';
  settings.id = 128;
  settings.hasName = true;
  settings.name = "General-Prefs";
  AppendRecord(settings.data, 1, {1});
  AppendEnd(settings.data);
  AppendEnd(settings.data);
  AppendEnd(settings.data);
  ResourceMapContents contents;
  contents.entries.push_back(settings);
  SidecarContents sidecar;
  sidecar.hasFinderInfo = true;
  WriteBE32(sidecar.finderInfo, 'pref');
  WriteBE32(sidecar.finderInfo + 4, 'Trbx');
  sidecar.hasFork = true;
  if (SerializeResourceMap(contents, sidecar.fork) != noErr) Fail(inOut, 0, "settings do not fit");
  if (WriteWholeFileAtomically(inOut, data) != noErr || WriteSidecar(inOut, sidecar) != noErr)
    Fail(inOut, 0, "cannot be written");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() >= 3 && args[1] == "--out") {
      if (args[0] == "strings") return Strings(args[2], std::vector<std::string>(args.begin() + 3, args.end()));
      if (args[0] == "prefs" && args.size() == 3) return Prefs(args[2]);
    }
    std::fprintf(stderr, "usage: trx_rescomp strings --out <file.rsrc> <list.txt>...\n"
                         "       trx_rescomp prefs --out <file>\n");
    return 2;
  } catch (const LayoutSourceError& e) {
    std::fprintf(stderr, "trx_rescomp: %s\n", e.text.c_str());
    return 1;
  } catch (const SourceError& e) {
    std::fprintf(stderr, "trx_rescomp: %s\n", e.text.c_str());
    return 1;
  }
}
