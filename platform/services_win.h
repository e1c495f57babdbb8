// What the applications scan asks of the running Windows system; the Win32 Env answers its
// questions (see Env in env.h) with these.
#ifndef KELDRUN_PLATFORM_SERVICES_WIN_H_
#define KELDRUN_PLATFORM_SERVICES_WIN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace keldrun {
namespace win32 {

std::u16string windowsFolder();
bool listServices(std::vector<ServiceConfig>* out);
bool searchExecutable(const std::u16string& name, std::u16string* fullPath);
bool fileStatus(const std::u16string& path, uint64_t* lastWrite, uint64_t* size);
bool fileVersion(const std::u16string& path, FileVersionInfo* out);
std::u16string expandEnvironment(const std::u16string& text);

}  // namespace win32
}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_SERVICES_WIN_H_
