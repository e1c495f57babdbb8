// A FileSystem wrapper for the write-fault families: passes everything to a real file system
// and fails writes as a full disk would, from the n-th write on or past a byte limit, counted
// over every file it opened. With discard set it writes nothing at all and only counts, so that
// a writer can be taken to the 4 GiB limit without a 4 GiB file.
#ifndef KELDRUN_TESTS_FAULT_FILE_SYSTEM_H_
#define KELDRUN_TESTS_FAULT_FILE_SYSTEM_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/file_system.h"

namespace keldrun {
namespace testing_support {

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem* target = defaultFileSystem()) : target_(target) {}

  // The n-th write (an append or writeAt of at least one byte, counting from 1) and every later
  // one fail; 0: none fails.
  void failWritesFrom(uint64_t n) { failFrom_ = n; }
  // Writes pass until limit bytes have gone through; the write that crosses it writes the
  // bytes up to the limit and fails, as on a full disk.
  void setByteLimit(uint64_t limit) { byteLimit_ = limit; }
  void failRenames(bool fail) { failRenames_ = fail; }
  void setDiscard(bool discard) { discard_ = discard; }

  uint64_t writes() const { return writes_; }
  uint64_t bytes() const { return bytes_; }
  bool anyFailed() const { return failed_; }

  std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode) override {
    if (discard_) return std::make_unique<File>(this, nullptr);
    std::unique_ptr<WritableFile> real = target_->openWritable(path, mode);
    if (!real) return nullptr;
    return std::make_unique<File>(this, std::move(real));
  }
  bool isReplaceable(const std::string& path) override { return target_->isReplaceable(path); }
  bool removeFile(const std::string& path) override {
    return discard_ || target_->removeFile(path);
  }
  bool renameFile(const std::string& from, const std::string& to) override {
    if (failRenames_) return false;
    return discard_ || target_->renameFile(from, to);
  }

 private:
  class File : public WritableFile {
   public:
    File(FaultFileSystem* owner, std::unique_ptr<WritableFile> real)
        : owner_(owner), real_(std::move(real)) {}
    bool append(const void* data, size_t n) override {
      size_t allowed = owner_->admit(n);
      bool ok = !real_ || real_->append(data, allowed);
      if (!real_) size_ += allowed;
      return remember(ok && allowed == n);
    }
    bool writeAt(uint64_t offset, const void* data, size_t n) override {
      size_t allowed = owner_->admit(n);
      bool ok = !real_ || real_->writeAt(offset, data, allowed);
      if (!real_ && offset + allowed > size_) size_ = offset + allowed;
      return remember(ok && allowed == n);
    }
    uint64_t size() const override { return real_ ? real_->size() : size_; }
    // As on a real file, a failed write makes the flush and the close fail too.
    bool flush() override { return remember(!real_ || real_->flush()) && !failed_; }
    bool close() override { return remember(!real_ || real_->close()) && !failed_; }

   private:
    bool remember(bool ok) {
      if (!ok) failed_ = true;
      return ok;
    }
    FaultFileSystem* owner_;
    std::unique_ptr<WritableFile> real_;
    uint64_t size_ = 0;  // when discarding
    bool failed_ = false;
  };

  // How many of the n bytes of the next write may go through.
  size_t admit(size_t n) {
    if (n == 0) return 0;
    writes_++;
    size_t allowed = n;
    if (failFrom_ != 0 && writes_ >= failFrom_) allowed = 0;
    if (byteLimit_ != UINT64_MAX && allowed > byteLimit_ - bytes_) allowed = size_t(byteLimit_ - bytes_);
    bytes_ += allowed;
    if (allowed != n) failed_ = true;
    return allowed;
  }

  FileSystem* target_;
  uint64_t failFrom_ = 0;
  uint64_t byteLimit_ = UINT64_MAX;
  bool failRenames_ = false;
  bool discard_ = false;
  uint64_t writes_ = 0;
  uint64_t bytes_ = 0;
  bool failed_ = false;
};

// The every-write family: runs attempt(&fs) with the n-th write failing, for n = 1, 2, ...
// until an attempt meets no failure. An attempt that met a failed write must report failure,
// and then afterFailure(n) checks what it left on disk; the attempt without a failure must
// succeed. Returns how many writes that attempt made.
template <typename Attempt, typename AfterFailure>
uint64_t failEachWriteInTurn(Attempt attempt, AfterFailure afterFailure,
                             uint64_t maxWrites = 100000) {
  for (uint64_t n = 1; n <= maxWrites; n++) {
    FaultFileSystem fs;
    fs.failWritesFrom(n);
    bool ok = attempt(&fs);
    if (!fs.anyFailed()) {
      EXPECT_TRUE(ok) << "no write failed";
      return fs.writes();
    }
    EXPECT_FALSE(ok) << "write " << n << " failed but the writer reported success";
    afterFailure(n);
    if (::testing::Test::HasFailure()) return 0;
  }
  ADD_FAILURE() << "more than " << maxWrites << " writes";
  return 0;
}

// The same with the disk full after `limit` bytes, for every limit from 0 to the size of the
// whole output in `steps` even steps (and the last byte). The size is measured by a run that
// writes nothing, so that the files from before stay in place.
template <typename Attempt, typename AfterFailure>
void fillDiskInTurn(Attempt attempt, AfterFailure afterFailure, uint64_t steps = 40) {
  FaultFileSystem clean;
  clean.setDiscard(true);
  EXPECT_TRUE(attempt(&clean));
  uint64_t total = clean.bytes();
  EXPECT_GT(total, 0u);
  for (uint64_t k = 0; k <= steps; k++) {
    uint64_t limit = k == steps ? total - 1 : total * k / steps;
    FaultFileSystem fs;
    fs.setByteLimit(limit);
    EXPECT_FALSE(attempt(&fs)) << "disk full after " << limit << " of " << total << " bytes";
    afterFailure(limit);
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_FAULT_FILE_SYSTEM_H_
