// The platform half of the write seam of file_system.h: unbuffered writes through a file
// descriptor (files_posix.cpp) or a Win32 handle (files_win.cpp); and read-only views of files.
#ifndef KELDRUN_BASE_NATIVE_FILE_H_
#define KELDRUN_BASE_NATIVE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/file_system.h"

namespace keldrun {

using NativeHandle = intptr_t;

// Opens path for writing as mode says and sets *size to the file's length; on failure errno
// says why.
bool nativeOpen(const std::string& path, WriteMode mode, NativeHandle* handle, uint64_t* size);
// Writes all n bytes at offset, or fails.
bool nativeWriteAt(NativeHandle handle, uint64_t offset, const void* data, size_t n);
bool nativeClose(NativeHandle handle);
// A read-only view of the first size bytes of the file open as f (mmap, MapViewOfFile); null
// when size is 0 or the system gives none. The view shows later writes to the file inside it and
// stays valid until nativeUnmap, which must come before f is closed. A file that shrinks below
// the view faults on POSIX when the part cut off is touched: map only files nobody shortens.
const uint8_t* nativeMap(FILE* f, uint64_t size);
void nativeUnmap(const uint8_t* view, uint64_t size);
// True when path is absent or a regular file (or a link to one).
bool nativeIsReplaceable(const std::string& path);

}  // namespace keldrun

#endif  // KELDRUN_BASE_NATIVE_FILE_H_
