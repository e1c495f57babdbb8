// What the applications scan asks, derived from the Env's own registry and files: services and
// drivers from the registry's Services key (their running state cannot be known and is given as
// stopped), the environment from the registry, the executable search order mapped through
// nativePath, and version information through the portable PE reader. This is how a Wine
// prefix is read from outside, and what any Env gets unless it overrides these; the Win32 Env
// asks the running system instead, so an Env with a made-up registry never meets the real
// service manager.
#include <map>

#include "base/files.h"
#include "base/text.h"
#include "platform/env.h"
#include "platform/pe_version.h"

namespace keldrun {
namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kServiceTypeMask = 0x13F;
constexpr uint32_t kStateStopped = 1;
// Expansion passes over values that name other variables (%windir% -> %SystemRoot%).
constexpr int kExpandDepth = 4;

const char16_t kServicesKey[] = u"System\\CurrentControlSet\\Services";
const char16_t kSystemEnvironment[] =
    u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char16_t kCurrentVersionNt[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
const char16_t kCurrentVersion[] = u"Software\\Microsoft\\Windows\\CurrentVersion";
const char16_t kProfileList[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";


// All values of a key, by folded name.
struct Values {
  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  std::map<std::u16string, Value> byName;

  explicit Values(RegistryKey* key) {
    if (!key) return;
    std::u16string name;
    Value v;
    for (uint32_t i = 0; key->enumValue(i, &name, &v.type, &v.data); i++)
      byName[lowerAscii(name)] = v;
  }
  const Value* find(const char16_t* name) const {
    auto it = byName.find(lowerAscii(name));
    return it == byName.end() ? nullptr : &it->second;
  }
  bool text(const char16_t* name, std::u16string* out) const {
    const Value* v = find(name);
    if (!v || (v->type != kRegSz && v->type != kRegExpandSz)) return false;
    *out = utf16LeText(v->data);
    return true;
  }
  bool dword(const char16_t* name, uint32_t* out) const {
    const Value* v = find(name);
    if (!v || v->type != kRegDword || v->data.size() < 4) return false;
    *out = uint32_t(v->data[0]) | uint32_t(v->data[1]) << 8 | uint32_t(v->data[2]) << 16 |
           uint32_t(v->data[3]) << 24;
    return true;
  }
};

std::unique_ptr<RegistryKey> openPath(Env* env, int hive, const std::u16string& path) {
  std::unique_ptr<RegistryKey> root = env->openHive(hive);
  return root ? root->openSubKey(path) : nullptr;
}

using Environment = std::map<std::u16string, std::u16string>;  // folded name -> value

std::u16string expandWith(const Environment& vars, const std::u16string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t open = text.find(u'%', i);
    if (open == std::u16string::npos) break;
    size_t close = text.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    auto it = vars.find(lowerAscii(text.substr(open + 1, close - open - 1)));
    if (it == vars.end()) {
      // Not a variable: keep the first '%' and look for a reference from the second.
      out.append(text, i, close - i);
      i = close;
      continue;
    }
    out.append(text, i, open - i);
    out += it->second;
    i = close + 1;
  }
  out.append(text, i, std::u16string::npos);
  return out;
}

// The environment a new process of the prefix starts with: the system variables, then the
// user's (the user's PATH is appended to the system's), and the variables the system sets
// itself.
Environment prefixEnvironment(Env* env) {
  Environment vars;
  auto take = [&](const Values& values, bool user) {
    for (const auto& [name, v] : values.byName) {
      if (v.type != kRegSz && v.type != kRegExpandSz) continue;
      std::u16string text = utf16LeText(v.data);
      if (user && name == u"path" && vars.count(name)) text = vars[name] + u";" + text;
      vars[name] = text;
    }
  };
  std::u16string root = env->windowsFolder();
  if (!root.empty() && root.back() == u'\\') root.pop_back();
  vars[u"systemroot"] = root;
  vars[u"windir"] = root;
  if (root.size() >= 2 && root[1] == u':') vars[u"systemdrive"] = root.substr(0, 2);
  Values version(openPath(env, kHiveLocalMachine, kCurrentVersion).get());
  std::u16string text;
  if (version.text(u"ProgramFilesDir", &text)) vars[u"programfiles"] = text;
  if (version.text(u"CommonFilesDir", &text)) vars[u"commonprogramfiles"] = text;
  Values profiles(openPath(env, kHiveLocalMachine, kProfileList).get());
  if (profiles.text(u"ProgramData", &text)) {
    vars[u"programdata"] = text;
    vars[u"allusersprofile"] = text;
  }
  if (profiles.text(u"Public", &text)) vars[u"public"] = text;
  take(Values(openPath(env, kHiveLocalMachine, kSystemEnvironment).get()), false);
  take(Values(openPath(env, kHiveCurrentUser, u"Environment").get()), true);
  for (int pass = 0; pass < kExpandDepth; pass++) {
    bool changed = false;
    for (auto& [name, value] : vars) {
      if (value.find(u'%') == std::u16string::npos) continue;
      std::u16string expanded = expandWith(vars, value);
      if (expanded != value) {
        value = expanded;
        changed = true;
      }
    }
    if (!changed) break;
  }
  return vars;
}

// The full form of a path as the system gives it: '/' as '\', repeated separators as one,
// "." and ".." components resolved.
std::u16string fullPathForm(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p)
    if (c == u'/') c = u'\\';
  size_t rootEnd = (p.size() >= 2 && p[1] == u':') ? 2 : 0;
  std::u16string root = p.substr(0, rootEnd);
  std::vector<std::u16string> parts;
  for (std::u16string& part : splitNonEmpty(p.substr(rootEnd), u'\\')) {
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (part != u".") {
      parts.push_back(std::move(part));
    }
  }
  std::u16string out = root;
  for (const std::u16string& part : parts) out += u"\\" + part;
  if (out == root) out += u"\\";
  return out;
}

bool holdsPath(const std::u16string& name) {
  return (name.size() >= 2 && name[1] == u':') || (!name.empty() && name[0] == u'\\') ||
         name.compare(0, 2, u".\\") == 0 || name.compare(0, 3, u"..\\") == 0;
}

}  // namespace

std::u16string Env::windowsFolder() {
  Values nt(openPath(this, kHiveLocalMachine, kCurrentVersionNt).get());
  std::u16string root;
  if (!nt.text(u"SystemRoot", &root) || root.empty()) root = u"C:\\windows";
  if (root.back() != u'\\') root.push_back(u'\\');
  return root;
}

std::u16string Env::expandEnvironment(const std::u16string& text) {
  if (text.find(u'%') == std::u16string::npos) return text;
  return expandWith(prefixEnvironment(this), text);
}

std::string Env::nativePath(const std::u16string&) { return std::string(); }

bool Env::fileStatus(const std::u16string& path, uint64_t* lastWrite, uint64_t* size) {
  std::string native = nativePath(fullPathForm(path));
  return !native.empty() && fileTimeAndSize(native, lastWrite, size);
}

bool Env::fileVersion(const std::u16string& path, FileVersionInfo* out) {
  *out = FileVersionInfo();
  std::string native = nativePath(fullPathForm(path));
  return !native.empty() && readPeVersionFile(native, out);
}

bool Env::searchExecutable(const std::u16string& name, std::u16string* fullPath) {
  auto exists = [&](const std::u16string& candidate) {
    std::string native = nativePath(candidate);
    return !native.empty() && fileExists(native);
  };
  if (name.empty()) return false;
  if (holdsPath(name)) {
    std::u16string full = fullPathForm(name);
    if (!exists(full)) return false;
    *fullPath = full;
    return true;
  }
  std::u16string windows = windowsFolder();
  std::vector<std::u16string> folders = {windows + u"system32", windows + u"system", windows};
  Environment vars = prefixEnvironment(this);
  auto path = vars.find(u"path");
  if (path != vars.end()) {
    for (std::u16string& folder : splitNonEmpty(path->second, u';')) folders.push_back(std::move(folder));
  }
  for (const std::u16string& folder : folders) {
    if (!holdsPath(folder)) continue;
    std::u16string full = fullPathForm(folder + u"\\" + name);
    if (exists(full)) {
      *fullPath = full;
      return true;
    }
  }
  return false;
}

bool Env::listServices(std::vector<ServiceConfig>* out) {
  out->clear();
  std::unique_ptr<RegistryKey> services = openPath(this, kHiveLocalMachine, kServicesKey);
  if (!services) return false;
  std::u16string name;
  for (uint32_t i = 0; services->enumKey(i, &name); i++) {
    std::unique_ptr<RegistryKey> key = services->openSubKey(name);
    if (!key) continue;
    Values values(key.get());
    ServiceConfig c;
    if (!values.dword(u"Type", &c.type) || !(c.type & kServiceTypeMask)) continue;
    c.serviceName = name;
    if (!values.text(u"DisplayName", &c.displayName)) c.displayName = name;
    c.state = kStateStopped;
    c.configRead = true;
    if (!values.dword(u"Start", &c.startType)) c.startType = 0;
    // The service manager hands out the binary path expanded.
    if (values.text(u"ImagePath", &c.binaryPath) && values.find(u"ImagePath")->type == kRegExpandSz)
      c.binaryPath = expandEnvironment(c.binaryPath);
    values.text(u"Description", &c.description);
    out->push_back(std::move(c));
  }
  return true;
}

}  // namespace keldrun
