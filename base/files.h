// The program's own files (snapshots, settings, reports, the scan filter): UTF-8 paths in the
// native form of the platform; on Windows converted to UTF-16 for the system.
#ifndef KELDRUN_BASE_FILES_H_
#define KELDRUN_BASE_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace keldrun {

FILE* openFile(const std::string& path, const char* mode);
// Opens a regular file for reading ("rb"); null for a file of any other kind (a FIFO, a
// device, a folder), which is never opened in a way that could block or change it.
FILE* openRegularFile(const std::string& path);
bool removeFile(const std::string& path);
// Renames from onto to, replacing to when it exists.
bool replaceFile(const std::string& from, const std::string& to);
bool fileExists(const std::string& path);
// Last-write time (FILETIME: 100 ns units since 1601) and size of the file or folder at path (0
// for a folder). False when there is none.
bool fileTimeAndSize(const std::string& path, uint64_t* lastWrite, uint64_t* size);
// Makes the folder and those above it; an existing folder is success. On failure errno says why.
bool makeFolders(const std::string& path);

// An exclusive lock shared by processes on a lock file (created when missing): flock on POSIX,
// LockFileEx on Windows. Released by unlock, on destruction, and when the process ends.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Takes the lock. With wait, blocks until no other process holds it; without, fails at once
  // with *busy set when one does. Fails with *busy clear, *reason set and errno saying why when
  // the lock file cannot be opened.
  bool lock(const std::string& path, bool wait, bool* busy, std::string* reason);
  void unlock();
  bool held() const { return handle_ != -1; }

 private:
  intptr_t handle_ = -1;
};

// 64-bit seek on an open stream.
bool seekFile(FILE* f, uint64_t offset);
// The length of the file open as f, asked of the system in one call (seeking to the end and
// back took three); the stream must hold no unwritten data.
bool fileLength(FILE* f, uint64_t* size);
// Reads exactly n bytes at offset past the stream's buffer, in one system call for most reads;
// safe from several threads. The stream must hold no unwritten data, and must be seeked before
// its next read or write.
bool readFileAt(FILE* f, uint64_t offset, void* out, size_t n);

// The whole of an open stream, or of the file at path, into *out. False when the file cannot
// be opened, a read fails or it holds more than maxBytes.
bool readWholeFile(FILE* f, std::string* out, size_t maxBytes = SIZE_MAX);
bool readWholeFile(const std::string& path, std::string* out, size_t maxBytes = SIZE_MAX);

// '\\' on Windows, '/' elsewhere.
char pathSeparator();
// folder with a trailing separator added when it has none; "" stays "" (the current folder).
std::string withSeparator(const std::string& folder);
// folder and name joined by one separator; name alone when folder is empty.
inline std::string joinPath(const std::string& folder, const std::string& name) {
  return withSeparator(folder) + name;
}

}  // namespace keldrun

#endif  // KELDRUN_BASE_FILES_H_
