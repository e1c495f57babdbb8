#include <windows.h>

#include <string>
#include <vector>

#include "base/text_win.h"
#include "platform/registry.h"

namespace keldrun {

namespace {

// A registry path folded for comparison, without trailing backslashes or NULs.
std::u16string foldedPath(std::u16string s) {
  while (!s.empty() && (s.back() == u'\\' || s.back() == 0)) s.pop_back();
  for (char16_t& c : s) c = foldChar(c);
  return s;
}

// The kernel's name of an open key ("\REGISTRY\MACHINE\SOFTWARE\..."), folded; empty when the
// system cannot tell it.
std::u16string kernelName(HKEY key) {
  using QueryKey = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static QueryKey query = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC f = ntdll ? GetProcAddress(ntdll, "NtQueryKey") : nullptr;
    return reinterpret_cast<QueryKey>(reinterpret_cast<void*>(f));
  }();
  if (!query) return std::u16string();
  const int kKeyNameInformation = 3;
  std::vector<ULONG> buffer(1024);  // ULONG NameLength, then the name
  ULONG got = 0;
  if (query(key, kKeyNameInformation, buffer.data(), ULONG(buffer.size() * sizeof(ULONG)), &got) != 0) {
    return std::u16string();
  }
  ULONG bytes = buffer[0];
  if (bytes > (buffer.size() - 1) * sizeof(ULONG)) return std::u16string();
  const char16_t* name = reinterpret_cast<const char16_t*>(buffer.data() + 1);
  return foldedPath(std::u16string(name, name + bytes / 2));
}

// The target of a link key opened with REG_OPTION_OPEN_LINK; false when the key is no link.
bool linkTarget(HKEY key, std::u16string* target) {
  wchar_t buf[1024];
  DWORD type = 0, bytes = sizeof buf;
  if (RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_LINK) {
    return false;
  }
  *target = foldedPath(std::u16string(buf, buf + bytes / 2));
  return true;
}

// True when the key named `name` is one of path's keys or holds one of them.
bool holdsAny(const std::u16string& name, const std::vector<std::u16string>& path) {
  if (name.empty()) return false;
  for (const std::u16string& p : path) {
    if (p.size() >= name.size() && p.compare(0, name.size(), name) == 0 &&
        (p.size() == name.size() || p[name.size()] == u'\\')) {
      return true;
    }
  }
  return false;
}

// An open key. path_ holds the kernel names of the keys entered from the root to this one, so
// that a link back into them is recorded as the link key instead of walked without end (the
// rule of the POSIX seam, platform/memory_registry.h).
class Win32Key : public RegistryKey {
 public:
  Win32Key(HKEY key, std::vector<std::u16string> path) : key_(key), path_(std::move(path)) {}
  ~Win32Key() override { RegCloseKey(key_); }

  std::unique_ptr<RegistryKey> openSubKey(const std::u16string& path) override {
    std::vector<std::u16string> onPath = path_;
    HKEY sub;
    if (path.empty() || path.find(u'\\') != std::u16string::npos) {
      // A path of several keys, from a scan filter: opened as named, links and all.
      if (RegOpenKeyExW(key_, toWide(path).c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return nullptr;
      onPath.push_back(kernelName(sub));
      return std::make_unique<Win32Key>(sub, std::move(onPath));
    }
    std::u16string own = path_.empty() || path_.back().empty() ? std::u16string() : path_.back() + u"\\" + foldedPath(path);
    HKEY link;
    std::u16string target;
    if (RegOpenKeyExW(key_, toWide(path).c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &link) == ERROR_SUCCESS) {
      if (!linkTarget(link, &target)) {
        onPath.push_back(own);
        return std::make_unique<Win32Key>(link, std::move(onPath));
      }
      // A link: follow it unless it leads back into the path.
      bool loops = target == own || holdsAny(target, onPath);
      if (!loops && RegOpenKeyExW(key_, toWide(path).c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
        std::u16string real = kernelName(sub);
        if (!holdsAny(real, onPath)) {
          RegCloseKey(link);
          onPath.push_back(real);
          return std::make_unique<Win32Key>(sub, std::move(onPath));
        }
        RegCloseKey(sub);
        loops = true;
      }
      if (loops) {
        onPath.push_back(own);
        return std::make_unique<Win32Key>(link, std::move(onPath));
      }
      RegCloseKey(link);
      return nullptr;
    }
    if (RegOpenKeyExW(key_, toWide(path).c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return nullptr;
    onPath.push_back(kernelName(sub));
    return std::make_unique<Win32Key>(sub, std::move(onPath));
  }
  bool queryInfo(uint32_t* maxValueName, uint32_t* maxValueData) override {
    DWORD name = 0, data = 0;
    if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &name, &data, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
    *maxValueName = name;
    *maxValueData = data;
    if (name + 1 > nameBuffer_.size()) nameBuffer_.resize(name + 1);
    if (data + 1 > dataBuffer_.size()) dataBuffer_.resize(data + 1);
    return true;
  }

  bool enumKey(uint32_t index, std::u16string* name) override {
    // Key names are at most 255 characters; the buffer leaves room for longer ones.
    wchar_t buf[1025];
    DWORD n = 1025;
    LONG rc = RegEnumKeyExW(key_, index, buf, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return false;
    name->assign(buf, buf + n);
    return true;
  }

  bool enumValue(uint32_t index, std::u16string* name, uint32_t* type,
                 std::vector<uint8_t>* data) override {
    if (nameBuffer_.empty()) {
      uint32_t a, b;
      if (!queryInfo(&a, &b)) return false;
    }
    // A value may have grown since the key was queried: ask again once with bigger buffers.
    for (int attempt = 0; attempt < 2; attempt++) {
      DWORD nameChars = DWORD(nameBuffer_.size());
      DWORD dataBytes = DWORD(dataBuffer_.size());
      DWORD t = 0;
      LONG rc = RegEnumValueW(key_, index, nameBuffer_.data(), &nameChars, nullptr, &t,
                              dataBuffer_.data(), &dataBytes);
      if (rc == ERROR_SUCCESS) {
        name->assign(nameBuffer_.data(), nameBuffer_.data() + nameChars);
        *type = t;
        data->assign(dataBuffer_.data(), dataBuffer_.data() + dataBytes);
        return true;
      }
      if (rc != ERROR_MORE_DATA || attempt == 1) return false;
      uint32_t a, b;
      if (!queryInfo(&a, &b)) return false;
      if (dataBytes + 1 > dataBuffer_.size()) dataBuffer_.resize(dataBytes + 1);
      if (nameChars + 1 > nameBuffer_.size()) nameBuffer_.resize(nameChars + 1);
    }
    return false;
  }

 private:
  HKEY key_;
  std::vector<std::u16string> path_;
  std::vector<wchar_t> nameBuffer_;
  std::vector<uint8_t> dataBuffer_;
};

}  // namespace

std::unique_ptr<RegistryKey> openWin32Hive(int hive) {
  static const HKEY kRoots[kHiveCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                                          HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG};
  if (hive < 0 || hive >= kHiveCount) return nullptr;
  HKEY key;
  if (RegOpenKeyExW(kRoots[hive], nullptr, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<Win32Key>(key, std::vector<std::u16string>{kernelName(key)});
}

}  // namespace keldrun
