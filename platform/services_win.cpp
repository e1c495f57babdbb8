// What the applications scan asks of Windows: the service control manager, the executable
// search order, file attributes, version.dll and the process environment.
#include <windows.h>
#include <winsvc.h>
#include <winver.h>

#include <vector>

#include "base/files.h"
#include "base/text_win.h"
#include "platform/services_win.h"

namespace keldrun {
namespace {

constexpr DWORD kServiceTypeMask = 0x13F;
constexpr DWORD kFirstConfigBuffer = 4096;


// Runs a query that fills a caller's buffer, growing the buffer to the size it asks for.
template <typename Query>
bool queryGrowing(std::vector<uint8_t>* buffer, Query query) {
  if (buffer->size() < kFirstConfigBuffer) buffer->resize(kFirstConfigBuffer);
  for (int attempt = 0; attempt < 4; attempt++) {
    DWORD needed = 0;
    if (query(buffer->data(), DWORD(buffer->size()), &needed)) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer->size()) return false;
    buffer->resize(needed);
  }
  return false;
}

void readConfig(SC_HANDLE scm, ServiceConfig* c, std::vector<uint8_t>* buffer) {
  SC_HANDLE service = OpenServiceW(scm, wide(c->serviceName), SERVICE_QUERY_CONFIG);
  if (!service) return;
  bool ok = queryGrowing(buffer, [&](uint8_t* p, DWORD n, DWORD* needed) {
    return QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(p), n, needed) != 0;
  });
  if (ok) {
    const QUERY_SERVICE_CONFIGW* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer->data());
    c->configRead = true;
    c->startType = config->dwStartType;
    c->binaryPath = u16(config->lpBinaryPathName);
    bool described = queryGrowing(buffer, [&](uint8_t* p, DWORD n, DWORD* needed) {
      return QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, p, n, needed) != 0;
    });
    if (described)
      c->description =
          u16(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer->data())->lpDescription);
  }
  CloseServiceHandle(service);
}

}  // namespace

std::u16string win32::windowsFolder() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  UINT n = GetWindowsDirectoryW(buffer.data(), UINT(buffer.size()));
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetWindowsDirectoryW(buffer.data(), UINT(buffer.size()));
  }
  std::u16string folder = (n == 0 || n >= buffer.size()) ? u"C:\\windows" : u16(buffer.data(), n);
  if (folder.back() != u'\\') folder.push_back(u'\\');
  return folder;
}

bool win32::listServices(std::vector<ServiceConfig>* out) {
  out->clear();
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_CONNECT);
  if (!scm) return false;
  std::vector<uint8_t> list;
  DWORD needed = 0, count = 0, resume = 0;
  bool ok = false;
  // The list may grow between the size query and the listing; follow the resume handle.
  for (int round = 0; round < 64; round++) {
    if (list.size() < needed) list.resize(needed);
    BOOL done = EnumServicesStatusExW(scm, SC_ENUM_PROCESS_INFO, kServiceTypeMask,
                                      SERVICE_STATE_ALL, list.empty() ? nullptr : list.data(),
                                      DWORD(list.size()), &needed, &count, &resume, nullptr);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error != ERROR_MORE_DATA) break;
    const ENUM_SERVICE_STATUS_PROCESSW* items =
        reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(list.data());
    for (DWORD i = 0; i < count; i++) {
      ServiceConfig c;
      c.serviceName = u16(items[i].lpServiceName);
      c.displayName = u16(items[i].lpDisplayName);
      c.type = items[i].ServiceStatusProcess.dwServiceType;
      c.state = items[i].ServiceStatusProcess.dwCurrentState;
      out->push_back(std::move(c));
    }
    if (done) {
      ok = true;
      break;
    }
  }
  if (ok) {
    std::vector<uint8_t> buffer;
    for (ServiceConfig& c : *out) readConfig(scm, &c, &buffer);
  } else {
    out->clear();
  }
  CloseServiceHandle(scm);
  return ok;
}

bool win32::searchExecutable(const std::u16string& name, std::u16string* fullPath) {
  if (name.empty()) return false;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = SearchPathW(nullptr, wide(name), nullptr, DWORD(buffer.size()), buffer.data(), nullptr);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = SearchPathW(nullptr, wide(name), nullptr, DWORD(buffer.size()), buffer.data(), nullptr);
  }
  if (n == 0 || n >= buffer.size()) return false;
  *fullPath = u16(buffer.data(), n);
  return true;
}

bool win32::fileStatus(const std::u16string& path, uint64_t* lastWrite, uint64_t* size) {
  return fileTimeAndSize(toUtf8(path), lastWrite, size);
}

namespace {

std::u16string queryString(const void* block, const std::u16string& path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block, wide(path), &value, &length) || !value) return std::u16string();
  const wchar_t* text = static_cast<const wchar_t*>(value);
  size_t n = 0;
  while (n < length && text[n] != 0) n++;
  return u16(text, n);
}

}  // namespace

bool win32::fileVersion(const std::u16string& path, FileVersionInfo* out) {
  *out = FileVersionInfo();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(wide(path), &handle);
  if (size == 0) return false;
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoW(wide(path), 0, size, block.data())) return false;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || !value ||
      length < 4)
    return false;
  const WORD* pair = static_cast<const WORD*>(value);
  wchar_t table[9];
  swprintf(table, 9, L"%04x%04x", pair[0], pair[1]);
  std::u16string prefix = u"\\StringFileInfo\\" + u16(table) + u"\\";
  out->productVersion = queryString(block.data(), prefix + u"ProductVersion");
  out->fileVersion = queryString(block.data(), prefix + u"FileVersion");
  out->companyName = queryString(block.data(), prefix + u"CompanyName");
  return true;
}

std::u16string win32::expandEnvironment(const std::u16string& text) {
  DWORD n = ExpandEnvironmentStringsW(wide(text), nullptr, 0);
  if (n == 0) return text;
  std::vector<wchar_t> buffer(n + 1);
  n = ExpandEnvironmentStringsW(wide(text), buffer.data(), DWORD(buffer.size()));
  if (n == 0 || n > buffer.size()) return text;
  return u16(buffer.data());
}

}  // namespace keldrun
