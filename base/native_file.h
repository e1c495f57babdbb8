// What each platform supplies to the write seam (file_system_posix.cpp, file_system_win.cpp):
// plain unbuffered file operations on UTF-8 paths. Only file_system.cpp uses them.
#ifndef KELDRUN_BASE_NATIVE_FILE_H_
#define KELDRUN_BASE_NATIVE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/file_system.h"

namespace keldrun {

// A file descriptor or a Win32 handle.
using NativeHandle = intptr_t;

// Opens path for writing as mode asks and sets *size to its length. False when it cannot.
bool nativeOpen(const std::string& path, WriteMode mode, NativeHandle* handle, uint64_t* size);
// Writes all n bytes at offset. False on any failure, a partial write included.
bool nativeWriteAt(NativeHandle handle, uint64_t offset, const void* data, size_t n);
bool nativeClose(NativeHandle handle);
// True when path is absent or a regular file (or a link to one).
bool nativeIsReplaceable(const std::string& path);
bool nativeRemove(const std::string& path);
bool nativeRename(const std::string& from, const std::string& to);

}  // namespace keldrun

#endif  // KELDRUN_BASE_NATIVE_FILE_H_
