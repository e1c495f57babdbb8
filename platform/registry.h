// The registry seam: the five predefined roots opened read-only.
//
// Win32 (registry_win.cpp): the running system's registry through the registry API.
// POSIX (registry_posix.cpp): the registry of a Wine prefix, read from its hive files
// ("system.reg" is HKEY_LOCAL_MACHINE, "user.reg" the current user's key under HKEY_USERS,
// "userdef.reg" HKEY_USERS\.Default) into a MemoryRegistry (platform/memory_registry.h), which
// builds HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG from them as Windows does.
#ifndef KELDRUN_PLATFORM_REGISTRY_H_
#define KELDRUN_PLATFORM_REGISTRY_H_

#include <memory>
#include <string>

#include "platform/env.h"

namespace keldrun {

class MemoryRegistry;

#ifdef _WIN32
// Opens root kHive* of the system registry; null for an unknown index or when it cannot be
// opened.
std::unique_ptr<RegistryKey> openWin32Hive(int hive);
#else
// The registry of the Wine prefix at prefix, loaded on the first call for that prefix and kept
// for the life of the process. A prefix without hive files gives an empty registry (every root
// but HKEY_USERS and HKEY_LOCAL_MACHINE then fails to open); *error (if not null) tells which
// hive file could not be read. Never null.
std::shared_ptr<MemoryRegistry> prefixRegistry(const std::string& prefix, std::string* error);
// A fresh load of the prefix's hive files, not shared with anyone.
std::shared_ptr<MemoryRegistry> loadPrefixRegistry(const std::string& prefix, std::string* error);
// Opens root kHive* of prefixRegistry(prefix).
std::unique_ptr<RegistryKey> openPrefixHive(const std::string& prefix, int hive);
#endif

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_REGISTRY_H_
