#include <windows.h>

#include "platform/registry.h"

namespace keldrun {

namespace {

std::wstring toWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

class Win32Key : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }

  std::unique_ptr<RegistryKey> openSubKey(const std::u16string& path) override {
    HKEY sub;
    if (RegOpenKeyExW(key_, toWide(path).c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS)
      return nullptr;
    return std::make_unique<Win32Key>(sub);
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
  return std::make_unique<Win32Key>(key);
}

}  // namespace keldrun
