#include "engine/pack.h"

// Each chunk is a zlib stream of its own, so chunks are compressed and inflated on all the cores
// at once and written in order: the bytes are the same whatever the number of threads.
#include <cerrno>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <zlib.h>

#include "base/files.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"
#include "engine/worker.h"

namespace keldrun {

void ProgressSink::set(int percent) {
  std::lock_guard<std::mutex> lock(mu_);
  percent_ = percent;
}
int ProgressSink::percent() const {
  std::lock_guard<std::mutex> lock(mu_);
  return percent_;
}
void ProgressSink::finish() {
  std::lock_guard<std::mutex> lock(mu_);
  finished_ = true;
}
bool ProgressSink::finished() const {
  std::lock_guard<std::mutex> lock(mu_);
  return finished_;
}
void ProgressSink::cancel() {
  std::lock_guard<std::mutex> lock(mu_);
  cancel_ = true;
}
bool ProgressSink::cancelRequested() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cancel_;
}

namespace {

// A chunk buffer, left uninitialised: every byte used is first read or inflated into it.
class Buffer {
 public:
  explicit Buffer(size_t n) : p_(new (std::nothrow) uint8_t[n]), n_(n) {}
  explicit operator bool() const { return p_ != nullptr; }
  uint8_t* data() { return p_.get(); }
  size_t size() const { return n_; }

 private:
  std::unique_ptr<uint8_t[]> p_;
  size_t n_;
};

// Reads until n bytes have come or the stream ends; the count read.
size_t readFull(FILE* f, uint8_t* p, size_t n) {
  size_t got = 0;
  while (got < n) {
    size_t k = std::fread(p + got, 1, n - got, f);
    if (k == 0) break;
    got += k;
  }
  return got;
}

bool writeAll(WritableFile* f, const uint8_t* p, size_t n) { return n == 0 || f->append(p, n); }

bool cancelled(ProgressSink* sink) { return sink && sink->cancelRequested(); }

void report(ProgressSink* sink, uint64_t done, uint64_t total) {
  if (!sink || total == 0) return;
  uint64_t percent = 100 * done / total;
  sink->set(int(percent > 100 ? 100 : percent));
}

void packHeader(uint8_t* h, int32_t count) {
  std::memset(h, 0, kPackHeaderSize);
  std::memcpy(h, kPackTag, kTagSize);
  putU32(h + 4, uint32_t(count));
}

// Chunks handed to the cores and taken back in order. The calling thread fills a free slot,
// submits it, and takes the oldest submitted slot once its work is done; helper threads (and
// the caller, while it would wait) do the work of submitted slots, oldest first. With one
// thread there are no helpers and the caller does every chunk itself, in order.
class ChunkPipeline {
 public:
  struct Slot {
    Buffer in;
    Buffer out;
    size_t inLength = 0;   // bytes of in that hold the chunk
    size_t outLength = 0;  // bytes of out the work produced
    uint32_t expected = 0;  // unpack: the length the chunk must inflate to
    FILE* source = nullptr;  // pack: the file the work reads the chunk from, at offset
    uint64_t offset = 0;
    bool ok = false;       // the work succeeded
    Slot() : in(kPackOutputSize), out(kPackOutputSize) {}
  };
  // scratch: a chunk-sized buffer of the thread doing the work, null when it could not be had.
  using Work = void (*)(Slot* slot, Buffer* scratch);

  ChunkPipeline(int threads, Work work) : work_(work) {
    size_t helpers = size_t(threads > 1 ? threads - 1 : 0);
    // Two slots beyond one per thread: one being written out, one being read in.
    size_t count = helpers ? size_t(threads) + 2 : 1;
    for (size_t i = 0; i < count; i++) {
      std::unique_ptr<Slot> slot(new (std::nothrow) Slot);
      if (!slot || !slot->in || !slot->out) break;
      slots_.push_back(std::move(slot));
      states_.push_back(kFree);
    }
    if (!slots_.empty()) helpers_.start(helpers, helperMain, this);
  }
  ~ChunkPipeline() {
    {
      std::lock_guard<std::mutex> hold(mu_);
      stopping_ = true;
    }
    ready_.notify_all();
    helpers_.join();
  }

  // The slots could be had (at least one).
  bool usable() const { return !slots_.empty(); }

  // The next slot to fill, or null when every slot is submitted and not yet taken back.
  Slot* freeSlot() {
    if (submitted_ == slots_.size()) return nullptr;
    return slots_[(first_ + submitted_) % slots_.size()].get();
  }
  // Submits the slot freeSlot returned.
  void submit() {
    std::lock_guard<std::mutex> hold(mu_);
    states_[(first_ + submitted_) % slots_.size()] = kToDo;
    submitted_++;
    ready_.notify_one();
  }
  // The oldest submitted slot once its work is done; null when none is submitted. It stays
  // the caller's until release().
  Slot* takeOldest() {
    if (submitted_ == 0) return nullptr;
    std::unique_lock<std::mutex> hold(mu_);
    while (states_[first_] != kDone) {
      size_t todo = oldestToDoLocked();
      if (todo == kNone) {
        done_.wait(hold);
        continue;
      }
      runLocked(todo, &scratch_, &hold);
    }
    return slots_[first_].get();
  }
  // Gives the slot takeOldest returned back for filling.
  void release() {
    std::lock_guard<std::mutex> hold(mu_);
    states_[first_] = kFree;
    first_ = (first_ + 1) % slots_.size();
    submitted_--;
  }

 private:
  enum State { kFree, kToDo, kWorking, kDone };
  static constexpr size_t kNone = size_t(-1);

  static void helperMain(void* self) { static_cast<ChunkPipeline*>(self)->helperLoop(); }

  void helperLoop() {
    Buffer scratch(kPackOutputSize);
    std::unique_lock<std::mutex> hold(mu_);
    for (;;) {
      size_t todo = kNone;
      ready_.wait(hold, [&] { return stopping_ || (todo = oldestToDoLocked()) != kNone; });
      if (stopping_) return;
      runLocked(todo, &scratch, &hold);
    }
  }

  size_t oldestToDoLocked() const {
    for (size_t k = 0; k < submitted_; k++) {
      size_t i = (first_ + k) % slots_.size();
      if (states_[i] == kToDo) return i;
    }
    return kNone;
  }

  // Does slot i's work with the lock released; the lock is held again on return.
  void runLocked(size_t i, Buffer* scratch, std::unique_lock<std::mutex>* hold) {
    states_[i] = kWorking;
    Slot* slot = slots_[i].get();
    hold->unlock();
    work_(slot, *scratch ? scratch : nullptr);
    hold->lock();
    states_[i] = kDone;
    done_.notify_all();
  }

  Work work_;
  Buffer scratch_{kPackOutputSize};  // the calling thread's
  std::vector<std::unique_ptr<Slot>> slots_;
  // first_ and submitted_ are changed only by the calling thread, under mu_; it reads them
  // without the lock.
  std::mutex mu_;  // guards states_, first_, submitted_ and stopping_
  std::condition_variable ready_;  // a slot was submitted, or stopping_ set
  std::condition_variable done_;   // a slot's work is done
  std::vector<State> states_;
  size_t first_ = 0;      // the oldest submitted slot
  size_t submitted_ = 0;  // slots submitted and not yet released
  bool stopping_ = false;
  HelperThreads helpers_;
};

// Reads its chunk as well as compressing it, so the reads go on the cores too instead of on the
// thread that writes. The chunk is read into the thread's own buffer rather than the slot's:
// a buffer's first use faults in every page, and there are fewer threads than slots.
void compressChunk(ChunkPipeline::Slot* slot, Buffer* scratch) {
  slot->outLength = 0;
  slot->ok = scratch && readFileAt(slot->source, slot->offset, scratch->data(), slot->inLength);
  if (!slot->ok) return;
  uLongf c = uLongf(slot->out.size());
  slot->ok = compress2(slot->out.data(), &c, scratch->data(), uLong(slot->inLength), kPackLevel) == Z_OK;
  slot->outLength = c;
}

void inflateChunk(ChunkPipeline::Slot* slot, Buffer*) {
  uLongf got = uLongf(slot->out.size());
  slot->ok = uncompress(slot->out.data(), &got, slot->in.data(), uLong(slot->inLength)) == Z_OK &&
             got == slot->expected;
  slot->outLength = got;
}

}  // namespace

bool pack(FILE* source, WritableFile* target, ProgressSink* sink, int threads) {
  ChunkPipeline pipeline(parallelThreads(threads), compressChunk);
  if (!pipeline.usable()) return false;
  // The chunks are known from the size, so each can be read where it is compressed.
  uint64_t size = 0;
  if (!seekFileEnd(source) || !tellFile(source, &size) || !seekFile(source, 0)) return false;
  uint64_t count = (size + kPackChunkSize - 1) / kPackChunkSize;
  if (count > 0x7FFFFFFF) return false;
  uint64_t estimate = size / kPackChunkSize + 1;
  if (sink) sink->set(0);

  uint8_t header[kPackHeaderSize];
  packHeader(header, 0);
  if (!writeAll(target, header, kPackHeaderSize)) return false;

  uint64_t submitted = 0;
  for (uint64_t chunks = 0; chunks < count;) {
    // Hand every free slot a chunk, so the cores have work while one chunk is written.
    for (ChunkPipeline::Slot* slot; submitted < count && (slot = pipeline.freeSlot()) != nullptr; submitted++) {
      slot->source = source;
      slot->offset = submitted * kPackChunkSize;
      slot->inLength = size_t(std::min<uint64_t>(kPackChunkSize, size - slot->offset));
      pipeline.submit();
    }
    ChunkPipeline::Slot* slot = pipeline.takeOldest();
    if (!slot || !slot->ok) return false;
    uint8_t head[kPackChunkHeadSize];
    putU32(head, uint32_t(slot->inLength));
    putU32(head + 4, uint32_t(slot->outLength));
    // Written out chunk by chunk while the cores compress the next ones, so that little is
    // left to write once the last chunk is done.
    if (!writeAll(target, head, sizeof head) || !writeAll(target, slot->out.data(), slot->outLength) ||
        !target->flush())
      return false;
    pipeline.release();
    chunks++;
    if (cancelled(sink)) return false;
    report(sink, chunks, estimate);
  }

  packHeader(header, int32_t(count));
  return target->writeAt(0, header, kPackHeaderSize) && target->flush();
}

bool unpack(FILE* source, WritableFile* target, ProgressSink* sink, int threads) {
  ChunkPipeline pipeline(parallelThreads(threads), inflateChunk);
  if (!pipeline.usable()) return false;
  if (sink) sink->set(0);
  uint8_t header[kPackHeaderSize];
  if (readFull(source, header, kPackHeaderSize) != kPackHeaderSize) return false;
  if (std::memcmp(header, kPackTag, kTagSize) != 0) return false;
  int32_t count = int32_t(getU32(header + 4));
  if (count <= 0) return target->flush();

  uint64_t written = 0;
  int32_t readAhead = 0;  // chunks read so far
  for (int32_t k = 0; k < count; k++) {
    // Read ahead; a chunk that cannot be read fails the whole unpack, as it would in order.
    for (ChunkPipeline::Slot* slot; readAhead < count && (slot = pipeline.freeSlot()) != nullptr; readAhead++) {
      uint8_t head[kPackChunkHeadSize];
      if (readFull(source, head, sizeof head) != sizeof head) return false;
      uint32_t u = getU32(head), c = getU32(head + 4);
      if (u > kPackChunkSize || c > kPackOutputSize) return false;
      if (readFull(source, slot->in.data(), c) != c) return false;
      slot->inLength = c;
      slot->expected = u;
      pipeline.submit();
    }
    ChunkPipeline::Slot* slot = pipeline.takeOldest();
    if (!slot || !slot->ok) return false;
    // A snapshot file never passes 4 GiB; a pack that claims more is not one.
    written += slot->expected;
    if (written > kMaxFileSize) return false;
    if (!writeAll(target, slot->out.data(), slot->expected)) return false;
    pipeline.release();
    if (cancelled(sink)) return false;
    report(sink, uint64_t(k) + 1, uint64_t(count));
  }
  return target->flush();
}

bool packFile(const std::string& source, const std::string& target, ProgressSink* sink,
              FileSystem* fs, int threads) {
  if (source == target) return false;  // the packed form would replace the snapshot
  FILE* in = openFile(source, "rb");
  if (!in) return false;
  // An export replaces an earlier one only when it is whole.
  ReplacingFile out(fs);
  bool ok = out.create(target) && pack(in, out.file(), sink, threads);
  std::fclose(in);
  return ok && out.commit();
}

namespace {

// Remembers whether a write to the file failed, so that a failed unpack can tell a target that
// cannot be written from a source that is not a packed snapshot.
class WatchedFile : public WritableFile {
 public:
  explicit WatchedFile(WritableFile* file) : file_(file) {}
  bool append(const void* data, size_t n) override { return note(file_->append(data, n)); }
  bool writeAt(uint64_t offset, const void* data, size_t n) override {
    return note(file_->writeAt(offset, data, n));
  }
  uint64_t size() const override { return file_->size(); }
  bool flush() override { return note(file_->flush()); }
  bool close() override { return note(file_->close()); }
  bool failed() const { return failed_; }

 private:
  bool note(bool ok) {
    if (!ok) failed_ = true;
    return ok;
  }
  WritableFile* file_;
  bool failed_ = false;
};

std::string systemReason(int error) {
  return error ? std::string(" (") + std::strerror(error) + ")" : std::string();
}

}  // namespace

bool unpackFile(const std::string& source, const std::string& target, SnapshotInfo* info,
                ProgressSink* sink, FileSystem* fs, int threads, std::string* why) {
  std::string scratch;
  if (!why) why = &scratch;
  why->clear();
  const char* notPacked = "not a packed snapshot file, or damaged";
  if (source == target) {  // creating the target would destroy the source
    *why = "the file is its own target";
    return false;
  }
  int32_t number = info->number;
  errno = 0;
  FILE* in = openFile(source, "rb");
  if (!in) {
    *why = "cannot be read" + systemReason(errno);
    return false;
  }
  errno = 0;
  std::unique_ptr<WritableFile> out = fs->openWritable(target, WriteMode::kCreate);
  if (!out) {
    *why = "cannot create " + target + systemReason(errno);
    std::fclose(in);
    return false;
  }
  WatchedFile watched(out.get());
  bool ok = unpack(in, &watched, sink, threads);
  std::fclose(in);
  if (!watched.close()) ok = false;
  if (!ok) *why = watched.failed() ? "cannot write " + target : notPacked;
  if (ok) {
    SnapshotFile file(fs);
    // Only a finished snapshot (one with its info record) is kept: the catalog would never
    // list anything else, and the number given to it would be lost.
    ok = file.open(target, info) && info->infoOffset != 0;
    info->number = number;
    if (!ok) *why = notPacked;
    if (ok && file.rewriteInfo(info, info->infoOffset) == 0) ok = false;
    if (!file.close()) ok = false;
    if (!ok && why->empty()) *why = "cannot write " + target;
  }
  if (!ok) fs->removeFile(target);
  return ok;
}

}  // namespace keldrun
