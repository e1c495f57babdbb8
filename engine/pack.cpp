#include "engine/pack.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <zlib.h>

#include "base/files.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"

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

}  // namespace

bool pack(FILE* source, WritableFile* target, ProgressSink* sink) {
  Buffer in(kPackChunkSize), out(kPackOutputSize);
  if (!in || !out) return false;
  uint64_t size = 0;
  if (!seekFileEnd(source) || !tellFile(source, &size) || !seekFile(source, 0)) return false;
  uint64_t estimate = size / kPackChunkSize + 1;
  if (sink) sink->set(0);

  uint8_t header[kPackHeaderSize];
  packHeader(header, 0);
  if (!writeAll(target, header, kPackHeaderSize)) return false;

  uint64_t chunks = 0;
  for (;;) {
    size_t n = readFull(source, in.data(), kPackChunkSize);
    if (n == 0) break;
    uLongf c = uLongf(out.size());
    if (compress2(out.data(), &c, in.data(), uLong(n), kPackLevel) != Z_OK) return false;
    uint8_t head[kPackChunkHeadSize];
    putU32(head, uint32_t(n));
    putU32(head + 4, uint32_t(c));
    if (!writeAll(target, head, sizeof head) || !writeAll(target, out.data(), c)) return false;
    chunks++;
    if (chunks > 0x7FFFFFFF) return false;
    if (cancelled(sink)) return false;
    report(sink, chunks, estimate);
  }
  if (std::ferror(source)) return false;

  packHeader(header, int32_t(chunks));
  return target->writeAt(0, header, kPackHeaderSize) && target->flush();
}

bool unpack(FILE* source, WritableFile* target, ProgressSink* sink) {
  Buffer in(kPackOutputSize), out(kPackOutputSize);
  if (!in || !out) return false;
  if (sink) sink->set(0);
  uint8_t header[kPackHeaderSize];
  if (readFull(source, header, kPackHeaderSize) != kPackHeaderSize) return false;
  if (std::memcmp(header, kPackTag, kTagSize) != 0) return false;
  int32_t count = int32_t(getU32(header + 4));
  if (count <= 0) return target->flush();

  uint64_t written = 0;
  for (int32_t k = 0; k < count; k++) {
    uint8_t head[kPackChunkHeadSize];
    if (readFull(source, head, sizeof head) != sizeof head) return false;
    uint32_t u = getU32(head), c = getU32(head + 4);
    if (u > kPackChunkSize || c > kPackOutputSize) return false;
    if (readFull(source, in.data(), c) != c) return false;
    uLongf got = uLongf(out.size());
    if (uncompress(out.data(), &got, in.data(), c) != Z_OK || got != u) return false;
    // A snapshot file never passes 4 GiB; a pack that claims more is not one.
    written += u;
    if (written > kMaxFileSize) return false;
    if (!writeAll(target, out.data(), u)) return false;
    if (cancelled(sink)) return false;
    report(sink, uint64_t(k) + 1, uint64_t(count));
  }
  return target->flush();
}

bool packFile(const std::string& source, const std::string& target, ProgressSink* sink,
              FileSystem* fs) {
  if (source == target) return false;  // the packed form would replace the snapshot
  FILE* in = openFile(source, "rb");
  if (!in) return false;
  // An export replaces an earlier one only when it is whole.
  ReplacingFile out(fs);
  bool ok = out.create(target) && pack(in, out.file(), sink);
  std::fclose(in);
  return ok && out.commit();
}

bool unpackFile(const std::string& source, const std::string& target, SnapshotInfo* info,
                ProgressSink* sink, FileSystem* fs) {
  if (source == target) return false;  // creating the target would destroy the source
  int32_t number = info->number;
  FILE* in = openFile(source, "rb");
  if (!in) return false;
  std::unique_ptr<WritableFile> out = fs->openWritable(target, WriteMode::kCreate);
  bool ok = out && unpack(in, out.get(), sink);
  std::fclose(in);
  if (out && !out->close()) ok = false;
  if (ok) {
    SnapshotFile file(fs);
    // Only a finished snapshot (one with its info record) is kept: the catalog would never
    // list anything else, and the number given to it would be lost.
    ok = file.open(target, info) && info->infoOffset != 0;
    info->number = number;
    if (ok && file.rewriteInfo(info, info->infoOffset) == 0) ok = false;
    if (!file.close()) ok = false;
  }
  if (!ok && out) fs->removeFile(target);
  return ok;
}

}  // namespace keldrun
