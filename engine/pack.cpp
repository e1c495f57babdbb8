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

// What one thread keeps from chunk to chunk: a buffer and one zlib stream, reset for every
// chunk. A stream set up afresh for every chunk (as compress2 and uncompress do) allocates and
// frees some 256 KiB of tables each time, which the C library hands back to the system and the
// next chunk faults in again, page by page. For the same reason a chunk is read for deflating
// in pieces through a small buffer; it is inflated whole, into a chunk-sized one.
class ChunkScratch {
 public:
  explicit ChunkScratch(bool deflating)
      : buffer(deflating ? kReadPiece : kPackOutputSize), deflating_(deflating) {
    set_ = (deflating ? deflateInit(&z_, kPackLevel) : inflateInit(&z_)) == Z_OK;
  }
  ~ChunkScratch() {
    if (set_) deflating_ ? deflateEnd(&z_) : inflateEnd(&z_);
  }
  ChunkScratch(const ChunkScratch&) = delete;
  ChunkScratch& operator=(const ChunkScratch&) = delete;

  bool usable() const { return set_ && buffer; }

  // Reads n bytes of source at offset and compresses them into out as one zlib stream: the
  // bytes compress2 gives at kPackLevel (deflate's output does not depend on how its input is
  // handed to it).
  bool deflateChunk(FILE* source, uint64_t offset, size_t n, uint8_t* out, size_t capacity,
                    size_t* length) {
    if (!deflating_ || deflateReset(&z_) != Z_OK) return false;
    z_.next_out = out;
    z_.avail_out = uInt(capacity);
    for (size_t done = 0;;) {
      size_t piece = std::min(buffer.size(), n - done);
      if (!readFileAt(source, offset + done, buffer.data(), piece)) return false;
      done += piece;
      z_.next_in = buffer.data();
      z_.avail_in = uInt(piece);
      int result = deflate(&z_, done == n ? Z_FINISH : Z_NO_FLUSH);
      if (done == n) {
        *length = capacity - z_.avail_out;
        return result == Z_STREAM_END;
      }
      if (result != Z_OK || z_.avail_in != 0) return false;
    }
  }
  // Inflates one whole zlib stream from in[0, n) into the buffer, as uncompress does.
  bool inflateChunk(const uint8_t* in, size_t n, size_t* length) {
    if (deflating_ || inflateReset(&z_) != Z_OK) return false;
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = uInt(n);
    z_.next_out = buffer.data();
    z_.avail_out = uInt(buffer.size());
    bool ended = inflate(&z_, Z_FINISH) == Z_STREAM_END;
    *length = buffer.size() - z_.avail_out;
    return ended;
  }

  Buffer buffer;

 private:
  static constexpr size_t kReadPiece = 64 << 10;

  z_stream z_{};
  bool deflating_;
  bool set_ = false;
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
// submits it, and takes the oldest submitted slot back once it is done; helper threads (and the
// caller, while it would wait) do the work of submitted slots, oldest first. With one thread
// there are no helpers and the caller does every chunk itself, in order.
//
// A chunk's output is written in order either by the caller, from the slot it took back (pack:
// the output is small), or, given a Deliver, by the thread that did the work, from its scratch
// buffer, once every earlier chunk is delivered (unpack: a chunk-sized buffer per slot would
// be faulted in page by page, and copied once more to be written by the caller).
class ChunkPipeline {
 public:
  struct Slot {
    Buffer packed;  // the chunk's compressed bytes
    size_t packedLength = 0;
    size_t length = 0;  // the chunk's plain length
    FILE* source = nullptr;  // pack: the file the work reads the chunk from, at offset
    uint64_t offset = 0;
    bool ok = false;  // the work and the delivery succeeded
    Slot() : packed(kPackOutputSize) {}
  };
  using Work = bool (*)(Slot* slot, ChunkScratch* scratch);
  using Deliver = bool (*)(Slot* slot, ChunkScratch* scratch, WritableFile* target);

  // deliver may be null. Nothing is delivered once the sink asks for a cancel.
  ChunkPipeline(int threads, bool deflating, Work work, Deliver deliver, WritableFile* target,
                ProgressSink* sink)
      : work_(work), deliver_(deliver), target_(target), sink_(sink), deflating_(deflating),
        scratch_(deflating) {
    size_t helpers = size_t(threads > 1 ? threads - 1 : 0);
    // Two slots beyond one per thread: one being taken back, one being filled.
    size_t count = helpers ? size_t(threads) + 2 : 1;
    for (size_t i = 0; i < count && scratch_.usable(); i++) {
      std::unique_ptr<Slot> slot(new (std::nothrow) Slot);
      if (!slot || !slot->packed) break;
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
    done_.notify_all();
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
  // The oldest submitted slot once it is done (and delivered); null when none is submitted.
  // It stays the caller's until release().
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
    ChunkScratch scratch(deflating_);
    if (!scratch.usable()) return;  // the other threads do the work
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

  // Does slot i's work, and its delivery if any, with the lock released; the lock is held again
  // on return. Work is taken oldest first, so every chunk before this one is being worked on or
  // done, and waiting for their delivery cannot wait for ever. After a failed chunk, a cancel,
  // or once the caller has given up, nothing more is delivered.
  void runLocked(size_t i, ChunkScratch* scratch, std::unique_lock<std::mutex>* hold) {
    states_[i] = kWorking;
    Slot* slot = slots_[i].get();
    hold->unlock();
    bool ok = work_(slot, scratch);
    hold->lock();
    if (deliver_) {
      done_.wait(*hold, [&] { return i == nextToDeliver_ || stopping_; });
      ok = ok && !failed_ && !stopping_ && !cancelled(sink_);
      if (ok) {
        hold->unlock();
        ok = deliver_(slot, scratch, target_);
        hold->lock();
      }
      if (!ok) failed_ = true;
      nextToDeliver_ = (i + 1) % slots_.size();
    }
    slot->ok = ok;
    states_[i] = kDone;
    done_.notify_all();
  }

  Work work_;
  Deliver deliver_;
  WritableFile* target_;
  ProgressSink* sink_;
  bool deflating_;
  ChunkScratch scratch_;  // the calling thread's
  std::vector<std::unique_ptr<Slot>> slots_;
  // first_ and submitted_ are changed only by the calling thread, under mu_; it reads them
  // without the lock.
  std::mutex mu_;  // guards everything below
  std::condition_variable ready_;  // a slot was submitted, or stopping_ set
  std::condition_variable done_;   // a slot was delivered, or stopping_ set
  std::vector<State> states_;
  size_t first_ = 0;          // the oldest submitted slot
  size_t submitted_ = 0;      // slots submitted and not yet released
  size_t nextToDeliver_ = 0;  // with a Deliver: the slot whose chunk is delivered next
  bool failed_ = false;       // with a Deliver: a chunk failed, later ones are not delivered
  bool stopping_ = false;
  HelperThreads helpers_;
};

// Reads its chunk as well as compressing it, so the reads go on the cores too.
bool compressChunk(ChunkPipeline::Slot* slot, ChunkScratch* scratch) {
  return scratch->deflateChunk(slot->source, slot->offset, slot->length, slot->packed.data(),
                               slot->packed.size(), &slot->packedLength);
}

// Inflates into the thread's scratch buffer, which is written out from there: no chunk-sized
// buffer per slot, and no copy.
bool inflateChunk(ChunkPipeline::Slot* slot, ChunkScratch* scratch) {
  size_t got = 0;
  return scratch->inflateChunk(slot->packed.data(), slot->packedLength, &got) && got == slot->length;
}

bool writePlainChunk(ChunkPipeline::Slot* slot, ChunkScratch* scratch, WritableFile* target) {
  return writeAll(target, scratch->buffer.data(), slot->length);
}

}  // namespace

bool pack(FILE* source, WritableFile* target, ProgressSink* sink, int threads) {
  ChunkPipeline pipeline(parallelThreads(threads), true, compressChunk, nullptr, target, sink);
  if (!pipeline.usable()) return false;
  // The chunks are known from the size, so each can be read where it is compressed.
  uint64_t size = 0;
  if (!fileLength(source, &size)) return false;
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
      slot->length = size_t(std::min<uint64_t>(kPackChunkSize, size - slot->offset));
      pipeline.submit();
    }
    ChunkPipeline::Slot* slot = pipeline.takeOldest();
    if (!slot || !slot->ok) return false;
    uint8_t head[kPackChunkHeadSize];
    putU32(head, uint32_t(slot->length));
    putU32(head + 4, uint32_t(slot->packedLength));
    // Written out chunk by chunk while the cores compress the next ones, so that little is
    // left to write once the last chunk is done.
    if (!writeAll(target, head, sizeof head) ||
        !writeAll(target, slot->packed.data(), slot->packedLength) || !target->flush())
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
  ChunkPipeline pipeline(parallelThreads(threads), false, inflateChunk, writePlainChunk, target, sink);
  if (!pipeline.usable()) return false;
  if (sink) sink->set(0);
  uint8_t header[kPackHeaderSize];
  if (readFull(source, header, kPackHeaderSize) != kPackHeaderSize) return false;
  if (std::memcmp(header, kPackTag, kTagSize) != 0) return false;
  int32_t count = int32_t(getU32(header + 4));
  if (count <= 0) return target->flush();

  uint64_t total = 0;     // plain bytes of the chunks read so far
  int32_t readAhead = 0;  // chunks read so far
  for (int32_t k = 0; k < count; k++) {
    // Read ahead; a chunk that cannot be read fails the whole unpack, as it would in order.
    for (ChunkPipeline::Slot* slot; readAhead < count && (slot = pipeline.freeSlot()) != nullptr; readAhead++) {
      uint8_t head[kPackChunkHeadSize];
      if (readFull(source, head, sizeof head) != sizeof head) return false;
      uint32_t u = getU32(head), c = getU32(head + 4);
      if (u > kPackChunkSize || c > kPackOutputSize) return false;
      // A snapshot file never passes 4 GiB; a pack that claims more is not one.
      total += u;
      if (total > kMaxFileSize) return false;
      if (readFull(source, slot->packed.data(), c) != c) return false;
      slot->packedLength = c;
      slot->length = u;
      pipeline.submit();
    }
    ChunkPipeline::Slot* slot = pipeline.takeOldest();
    if (!slot || !slot->ok) return false;
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
