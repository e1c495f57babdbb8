// The write seam: every file the program writes (snapshot files, report pages, .reg exports,
// the settings file, the scan filter file, packed snapshots) goes through a FileSystem, so that
// tests can put a wrapper in front of the real one that fails a chosen write.
//
// Paths are UTF-8 strings in the native form of the platform; the real one writes through
// file descriptors (files_posix.cpp) or Win32 handles (files_win.cpp).
#ifndef KELDRUN_BASE_FILE_SYSTEM_H_
#define KELDRUN_BASE_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace keldrun {

// A file open for writing. Appends may be buffered: a failure (a short write, a full disk, a
// file size limit) is reported by the call that meets it, which may be a later append, writeAt,
// flush or close. After a failure the content of the file is undefined and the caller discards
// the file.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Appends n bytes after everything appended so far (for a file opened to update: after its
  // existing content). False on failure.
  virtual bool append(const void* data, size_t n) = 0;
  // Writes n bytes at offset, after writing out the buffered appends. Later appends still go to
  // the end. False on failure.
  virtual bool writeAt(uint64_t offset, const void* data, size_t n) = 0;
  // Where the next append goes: the length of the file once everything is written.
  virtual uint64_t size() const = 0;
  // Hands the buffered appends to the system. False on failure.
  virtual bool flush() = 0;
  // Flushes and closes. False when this or any earlier write failed. Closing twice is harmless.
  virtual bool close() = 0;
};

enum class WriteMode {
  kCreate,     // create, or truncate an existing file
  kCreateNew,  // create; fail when the path exists
  kUpdate,     // open an existing file without truncating it
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Null when the file cannot be opened as the mode asks.
  virtual std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode) = 0;
  // True when path is absent or a regular file: what a new file may be renamed onto. A device,
  // a pipe or a folder is never replaced.
  virtual bool isReplaceable(const std::string& path) = 0;
  virtual bool removeFile(const std::string& path) = 0;
  // Renames from onto to, replacing to when it exists.
  virtual bool renameFile(const std::string& from, const std::string& to) = 0;
};

// The machine's file system. Lives for the whole process.
FileSystem* defaultFileSystem();

// Output that appears under its name only when it is complete: written to a new temporary file
// beside the target and renamed onto it by commit. Until then an existing file at the target
// stays as it was; a ReplacingFile destroyed or abandoned before commit removes its temporary
// file. Every writer of a file the user sees (reports, exports, settings, scan filter) uses one.
class ReplacingFile {
 public:
  explicit ReplacingFile(FileSystem* fs = defaultFileSystem()) : fs_(fs) {}
  ~ReplacingFile() { abandon(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Opens the temporary file for the target path. False when the target is not replaceable
  // (see FileSystem::isReplaceable) or the temporary file cannot be created.
  bool create(const std::string& path);
  // The open temporary file; null before create and after close, commit or abandon.
  WritableFile* file() { return file_.get(); }
  // Closes the temporary file, keeping it for a later commit. False when a write or the close
  // failed; commit then fails too.
  bool close();
  // Closes the temporary file if still open and renames it onto the target (commitAs: onto
  // path instead). False (removing the temporary file, the target untouched) when a write, the
  // close or the rename failed, or the target is not replaceable.
  bool commit() { return commitAs(target_); }
  bool commitAs(const std::string& path);
  // Closes and removes the temporary file; the target stays as it was.
  void abandon();
  const std::string& target() const { return target_; }

 private:
  FileSystem* fs_;
  std::unique_ptr<WritableFile> file_;
  std::string target_;
  std::string temp_;
  bool pending_ = false;  // temp_ exists and is this object's to rename or remove
  bool failed_ = false;
};

// Whether name is a ReplacingFile's temporary name for a file named target (target, a dot, eight
// hex digits, ".tmp"), left behind when a write was cut short. Sets *target.
bool isTemporaryName(const std::string& name, std::string* target);

// Writes n bytes as the whole content of path through a ReplacingFile. False when anything
// failed; path then keeps its previous content, or stays absent.
bool replaceFileContent(FileSystem* fs, const std::string& path, const void* data, size_t n);

}  // namespace keldrun

#endif  // KELDRUN_BASE_FILE_SYSTEM_H_
