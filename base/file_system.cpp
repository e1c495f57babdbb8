// The platform-independent part of the write seam: temporary files renamed into place.
#include "base/file_system.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "base/files.h"
#include "base/native_file.h"

namespace keldrun {

namespace {

// Gathers small appends (a scan appends a table at every key and folder) into large writes.
class BufferedFile : public WritableFile {
 public:
  // The buffer grows with use: most files written (settings, catalog, .reg scripts) are small.
  BufferedFile(NativeHandle handle, uint64_t end) : handle_(handle), end_(end) {}
  ~BufferedFile() override { close(); }

  bool append(const void* data, size_t n) override {
    if (failed_ || !open_) return false;
    if (buffer_.size() + n > kBufferSize && !flush()) return false;
    // A large append is written from where it is: copying it first would gain nothing.
    if (n >= kDirectSize) {
      if (!flush()) return false;
      if (!nativeWriteAt(handle_, end_, data, n)) return fail();
      end_ += n;
      return true;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + n);
    return true;
  }

  bool writeAt(uint64_t offset, const void* data, size_t n) override {
    if (!flush()) return false;
    if (!nativeWriteAt(handle_, offset, data, n)) return fail();
    if (offset + n > end_) end_ = offset + n;
    return true;
  }

  uint64_t size() const override { return end_ + buffer_.size(); }

  bool flush() override {
    if (failed_ || !open_) return false;
    if (buffer_.empty()) return true;
    if (!nativeWriteAt(handle_, end_, buffer_.data(), buffer_.size())) return fail();
    end_ += buffer_.size();
    buffer_.clear();
    return true;
  }

  bool close() override {
    if (!open_) return !failed_;
    flush();
    open_ = false;
    if (!nativeClose(handle_)) failed_ = true;
    return !failed_;
  }

 private:
  static constexpr size_t kBufferSize = 1 << 20;
  static constexpr size_t kDirectSize = 1 << 18;

  bool fail() {
    failed_ = true;
    buffer_.clear();
    return false;
  }

  NativeHandle handle_;
  uint64_t end_;  // where the next append goes, after the buffered bytes are written
  std::vector<uint8_t> buffer_;
  bool open_ = true;
  bool failed_ = false;
};

class DefaultFileSystem : public FileSystem {
 public:
  std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode) override {
    NativeHandle handle;
    uint64_t size = 0;
    if (!nativeOpen(path, mode, &handle, &size)) return nullptr;
    return std::make_unique<BufferedFile>(handle, size);
  }
  bool isReplaceable(const std::string& path) override { return nativeIsReplaceable(path); }
  bool removeFile(const std::string& path) override { return keldrun::removeFile(path); }
  bool renameFile(const std::string& from, const std::string& to) override {
    return replaceFile(from, to);
  }
};

// A name no other writer picks: two processes (or two writers of one process) may write the
// same target at once, and the second must not take over the first one's temporary file.
std::string temporaryName(const std::string& path) {
  static std::atomic<uint32_t> counter{0};
  static const uint32_t seed = std::random_device()();
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(seed ^ (counter++ * 0x9E3779B9u)));
  return path + suffix;
}

}  // namespace

bool isTemporaryName(const std::string& name, std::string* target) {
  const size_t suffix = 13;  // ".%08x.tmp"
  if (name.size() <= suffix || name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
  size_t dot = name.size() - suffix;
  if (name[dot] != '.') return false;
  for (size_t i = dot + 1; i < dot + 9; i++) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  *target = name.substr(0, dot);
  return true;
}

FileSystem* defaultFileSystem() {
  static DefaultFileSystem fs;
  return &fs;
}

bool ReplacingFile::create(const std::string& path) {
  abandon();
  if (!fs_->isReplaceable(path)) return false;
  for (int attempt = 0; attempt < 8 && !file_; attempt++) {
    temp_ = temporaryName(path);
    file_ = fs_->openWritable(temp_, WriteMode::kCreateNew);
  }
  if (!file_) return false;
  target_ = path;
  pending_ = true;
  failed_ = false;
  return true;
}

bool ReplacingFile::close() {
  if (file_) {
    if (!file_->close()) failed_ = true;
    file_.reset();
  }
  return pending_ && !failed_;
}

bool ReplacingFile::commitAs(const std::string& path) {
  if (close() && fs_->isReplaceable(path) && fs_->renameFile(temp_, path)) {
    pending_ = false;
    return true;
  }
  abandon();
  return false;
}

void ReplacingFile::abandon() {
  close();
  if (pending_) fs_->removeFile(temp_);
  pending_ = false;
}

bool replaceFileContent(FileSystem* fs, const std::string& path, const void* data, size_t n) {
  ReplacingFile out(fs);
  if (!out.create(path)) return false;
  if (!out.file()->append(data, n)) return false;
  return out.commit();
}

}  // namespace keldrun
