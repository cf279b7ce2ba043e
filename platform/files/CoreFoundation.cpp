#include "platform/files/CoreFoundation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/files/CFObject.h"
#include "platform/files/Resources.h"
#include "platform/files/Sidecar.h"

struct OpaqueCFString : OpaqueCFObject {
  explicit OpaqueCFString(std::string inText) : OpaqueCFObject(1), text(std::move(inText)) {}
  std::string text;
};

struct OpaqueCFURL : OpaqueCFObject {
  explicit OpaqueCFURL(std::string inPath) : OpaqueCFObject(2), path(std::move(inPath)) {}
  std::string path;
};

struct OpaqueCFBundle : OpaqueCFObject {
  OpaqueCFBundle() : OpaqueCFObject(3) {}
  // The main bundle goes at the program's end too: its strings go with it.
  ~OpaqueCFBundle() {
    for (auto& [key, value] : info) CFRelease(value);
  }
  std::string path;
  std::map<std::string, CFStringRef> info;  // Info.plist string values
};

namespace {

const OpaqueCFObject* Obj(CFTypeRef cf) { return static_cast<const OpaqueCFObject*>(cf); }

const std::string* TextOf(CFStringRef s) { return s ? &reinterpret_cast<const OpaqueCFString*>(s)->text : nullptr; }

CFStringRef MakeString(std::string inText) {
  auto* s = new OpaqueCFString(std::move(inText));
  return reinterpret_cast<CFStringRef>(static_cast<const OpaqueCFString*>(s));
}

CFURLRef MakeURL(std::string inPath) { return new OpaqueCFURL(std::move(inPath)); }

size_t Utf16Length(const std::string& inText) {
  size_t n = 0;
  for (size_t i = 0; i < inText.size();) {
    unsigned char c = static_cast<unsigned char>(inText[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    n += len == 4 ? 2 : 1;
    i += len;
  }
  return n;
}

bool FileExists(const std::string& inPath) {
  struct stat st {};
  return ::stat(inPath.c_str(), &st) == 0;
}

std::string XmlUnescape(const std::string& inText) {
  std::string out;
  for (size_t i = 0; i < inText.size(); ++i) {
    if (inText[i] == '&') {
      static const std::pair<const char*, char> kEntities[] = {
          {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
      bool done = false;
      for (auto& [name, ch] : kEntities) {
        size_t len = std::strlen(name);
        if (inText.compare(i, len, name) == 0) {
          out += ch;
          i += len - 1;
          done = true;
          break;
        }
      }
      if (done) continue;
    }
    out += inText[i];
  }
  return out;
}

// The <key>…</key><string>…</string> pairs of a property list; values of
// other kinds are skipped.
void ReadInfoPlist(const std::string& inPath, std::map<std::string, CFStringRef>& outInfo) {
  std::vector<char> bytes;
  if (ReadWholeFile(inPath, bytes) != noErr) return;
  std::string xml(bytes.begin(), bytes.end());
  size_t at = 0;
  for (;;) {
    size_t k = xml.find("<key>", at);
    if (k == std::string::npos) break;
    size_t ke = xml.find("</key>", k);
    if (ke == std::string::npos) break;
    std::string key = XmlUnescape(xml.substr(k + 5, ke - k - 5));
    at = ke + 6;
    size_t v = xml.find_first_not_of(" \t\r\n", at);
    if (v == std::string::npos) break;
    if (xml.compare(v, 8, "<string>") == 0) {
      size_t ve = xml.find("</string>", v);
      if (ve == std::string::npos) break;
      std::string value = XmlUnescape(xml.substr(v + 8, ve - v - 8));
      auto old = outInfo.find(key);
      if (old != outInfo.end()) CFRelease(old->second);
      outInfo[key] = MakeString(value);
      at = ve + 9;
    } else if (xml.compare(v, 9, "<string/>") == 0) {
      outInfo[key] = MakeString("");
      at = v + 9;
    }
  }
}

struct BundleState {
  std::mutex lock;
  bool overridden = false;
  std::string overridePath;
  std::unique_ptr<OpaqueCFBundle> main;
  bool looked = false;
};

BundleState& Bundles() {
  static BundleState s;
  return s;
}

std::string FindBundlePath(BundleState& s) {
  if (s.overridden) return s.overridePath;
  const char* env = std::getenv("TRX_BUNDLE");
  if (env && env[0] == '/') return env;
  char exe[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  std::string p(exe, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return "";
  std::string dir = p.substr(0, slash);
  const std::string tail = "/Contents/MacOS";
  if (dir.size() > tail.size() && dir.compare(dir.size() - tail.size(), tail.size(), tail) == 0)
    return dir.substr(0, dir.size() - tail.size());
  return "";
}

OpaqueCFBundle* MainBundle() {
  BundleState& s = Bundles();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.looked) {
    s.looked = true;
    std::string path = FindBundlePath(s);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      s.main = std::make_unique<OpaqueCFBundle>();
      s.main->constant = true;
      s.main->path = path;
      ReadInfoPlist(path + "/Contents/Info.plist", s.main->info);
    }
  }
  return s.main.get();
}

void ForgetMainBundle(BundleState& s) {
  s.main.reset();
  s.looked = false;
}

}  // namespace

CFTypeRef CFRetain(CFTypeRef cf) {
  if (cf && !Obj(cf)->constant) const_cast<OpaqueCFObject*>(Obj(cf))->refs.fetch_add(1);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (!cf || Obj(cf)->constant) return;
  auto* o = const_cast<OpaqueCFObject*>(Obj(cf));
  if (o->refs.fetch_sub(1) == 1) delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) { return cf ? Obj(cf)->refs.load() : 0; }
CFTypeID CFGetTypeID(CFTypeRef cf) { return cf ? Obj(cf)->type : 0; }
CFTypeID CFStringGetTypeID() { return 1; }
CFTypeID CFURLGetTypeID() { return 2; }
CFTypeID CFBundleGetTypeID() { return 3; }

CFStringRef CFStringMakeConstantString(const char* cStr) {
  // Kept for the life of the program (the table itself is never destroyed,
  // so constants stay valid for code that runs during exit).
  static std::mutex lock;
  static auto* table = new std::map<std::string, std::unique_ptr<OpaqueCFString>>;
  std::lock_guard<std::mutex> g(lock);
  std::string text = cStr ? cStr : "";
  auto it = table->find(text);
  if (it != table->end()) return it->second.get();
  auto s = std::make_unique<OpaqueCFString>(text);
  s->constant = true;
  CFStringRef ref = s.get();
  table->emplace(text, std::move(s));
  return ref;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding) {
  if (!cStr) return nullptr;
  return MakeString(cStr);
}

CFStringRef CFStringCreateWithPascalString(CFAllocatorRef, ConstStr255Param pStr, CFStringEncoding) {
  if (!pStr) return nullptr;
  return MakeString(PStrToString(pStr));
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) {
  const std::string* t = TextOf(theString);
  return t ? MakeString(*t) : nullptr;
}

CFIndex CFStringGetLength(CFStringRef theString) {
  const std::string* t = TextOf(theString);
  return t ? static_cast<CFIndex>(Utf16Length(*t)) : 0;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding) {
  const std::string* t = TextOf(theString);
  if (!buffer || bufferSize <= 0) return false;
  buffer[0] = 0;
  if (!t || t->size() + 1 > static_cast<size_t>(bufferSize)) return false;
  std::memcpy(buffer, t->c_str(), t->size() + 1);
  return true;
}

Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize, CFStringEncoding) {
  const std::string* t = TextOf(theString);
  if (!buffer || bufferSize <= 0) return false;
  buffer[0] = 0;
  size_t capacity = static_cast<size_t>(std::min<CFIndex>(bufferSize, 256)) - 1;
  if (!t || t->size() > capacity) return false;
  buffer[0] = static_cast<unsigned char>(t->size());
  std::memcpy(buffer + 1, t->data(), t->size());
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding) {
  const std::string* t = TextOf(theString);
  return t ? t->c_str() : nullptr;
}

Boolean CFStringEqual(CFStringRef a, CFStringRef b) {
  const std::string* ta = TextOf(a);
  const std::string* tb = TextOf(b);
  return ta && tb && *ta == *tb;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle, Boolean) {
  const std::string* t = TextOf(filePath);
  return t ? MakeURL(*t) : nullptr;
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle) {
  return url ? MakeString(url->path) : nullptr;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
  if (!url || !buffer || maxBufLen <= 0 || url->path.size() + 1 > static_cast<size_t>(maxBufLen)) return false;
  std::memcpy(buffer, url->path.c_str(), url->path.size() + 1);
  return true;
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef) {
  if (!url || !fsRef) return false;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(url->path.c_str()), fsRef, nullptr) == noErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef* fsRef) {
  if (!fsRef) return nullptr;
  std::string p = FSRefPath(*fsRef);
  return p.empty() ? nullptr : MakeURL(p);
}

CFBundleRef CFBundleGetMainBundle() { return MainBundle(); }

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) { return bundle ? MakeURL(bundle->path) : nullptr; }

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
  return bundle ? MakeURL(bundle->path + "/Contents/Resources") : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName) {
  const std::string* name = TextOf(resourceName);
  if (!bundle || !name || name->empty() || name->find("..") != std::string::npos) return nullptr;
  std::string path = bundle->path + "/Contents/Resources/";
  const std::string* sub = TextOf(subDirName);
  if (sub && !sub->empty()) {
    if (sub->find("..") != std::string::npos) return nullptr;
    path += *sub + "/";
  }
  path += *name;
  const std::string* type = TextOf(resourceType);
  if (type && !type->empty()) path += "." + *type;
  return FileExists(path) ? MakeURL(path) : nullptr;
}

CFURLRef CFBundleCopyAuxiliaryExecutableURL(CFBundleRef bundle, CFStringRef executableName) {
  const std::string* name = TextOf(executableName);
  if (!bundle || !name || name->empty() || name->find('/') != std::string::npos) return nullptr;
  std::string path = bundle->path + "/Contents/MacOS/" + *name;
  return FileExists(path) ? MakeURL(path) : nullptr;
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key) {
  const std::string* k = TextOf(key);
  if (!bundle || !k) return nullptr;
  auto it = bundle->info.find(*k);
  return it == bundle->info.end() ? nullptr : it->second;
}

void UBundle::SetMainBundlePath(const std::string& inPath) {
  UResources::CloseAll();
  BundleState& s = Bundles();
  std::lock_guard<std::mutex> g(s.lock);
  ForgetMainBundle(s);
  s.overridden = !inPath.empty();
  s.overridePath = inPath;
}

std::string UBundle::GetMainBundlePath() {
  OpaqueCFBundle* b = MainBundle();
  return b ? b->path : std::string();
}

std::string MainBundleResourceFilePath() {
  OpaqueCFBundle* b = MainBundle();
  return b ? b->path + "/Contents/Resources/" + kApplicationResourceFileName : std::string();
}
