// A compare printer that formats on a thread of its own.
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "cli/printers.h"
#include "engine/file_extension.h"
#include "platform/thread.h"

namespace keldrun {

namespace {

// The calls since the last hand-over, in order. What a call points at (a row's item bytes,
// which live in a table buffer the walk reuses; a node's path and name) is copied into bytes.
struct Batch {
  enum Kind : uint8_t { kBeginSection, kNode, kRow, kEndSection, kEnd };
  struct Call {
    Kind kind;
    bool flag = false;    // node: ownChanged; row: fromB; end: differences
    bool noise = false;   // node: nodeNoise; row: ContentRow::noise
    bool item = false;    // row: the row has an item (its bytes may yet be none)
    uint8_t marks = 0;    // row
    int number = 0;       // beginSection: the section; node: depth
    int state = 0;        // node, row
    size_t at = 0, size = 0;        // row: the item's bytes; node: the path; endSection: the message
    size_t nameAt = 0, nameSize = 0;  // node: the name
    size_t ext = SIZE_MAX;          // row: its place in exts, when the row has an extension
    size_t index = 0;               // row: Item::index; endSection: hidden noise
    const char* label = nullptr;    // row: one of the literals of rowLabel
  };
  std::vector<Call> calls;
  std::string bytes;
  std::vector<FileExt> exts;

  size_t keep(const void* p, size_t n) {
    size_t at = bytes.size();
    if (n) bytes.append(static_cast<const char*>(p), n);
    return at;
  }
  std::u16string text(size_t at, size_t size) const {
    std::u16string s(size, u'\0');
    if (size) std::memcpy(&s[0], bytes.data() + at, size * sizeof(char16_t));
    return s;
  }
  void clear() {
    calls.clear();
    bytes.clear();
    exts.clear();
  }
};

// The walk of a large compare and the formatting of its rows take about as long each; on two
// cores they overlap. Calls are recorded in batches and handed, in order, to one thread that
// replays them into the printer that writes. A thread and its batches cost fresh memory, which
// a small compare would not win back, so the first inlineCalls calls go straight to the
// printer. Few batches wait at once, so memory stays bounded when the output is slower than
// the walk.
class BackgroundComparePrinter : public ComparePrinter {
 public:
  BackgroundComparePrinter(std::unique_ptr<ComparePrinter> inner, size_t batchCalls, size_t inlineCalls)
      : inner_(std::move(inner)), batchCalls_(batchCalls), inlineCalls_(inlineCalls) {}
  ~BackgroundComparePrinter() override { stop(); }

  void begin(const SnapshotRef& a, const SnapshotRef& b) override { inner_->begin(a, b); }

  void beginSection(int section) override {
    if (direct()) return inner_->beginSection(section);
    Batch::Call c{Batch::kBeginSection};
    c.number = section;
    add(c);
  }

  void node(const std::u16string& path, const std::u16string& name, int depth, int state,
            bool ownChanged) override {
    if (direct()) {
      inner_->setNodeNoise(nodeNoise_);
      return inner_->node(path, name, depth, state, ownChanged);
    }
    Batch::Call c{Batch::kNode};
    c.flag = ownChanged;
    c.noise = nodeNoise_;
    c.number = depth;
    c.state = state;
    c.at = filling_.keep(path.data(), path.size() * sizeof(char16_t));
    c.size = path.size();
    c.nameAt = filling_.keep(name.data(), name.size() * sizeof(char16_t));
    c.nameSize = name.size();
    add(c);
  }

  void row(const ContentRow& row) override {
    if (direct()) return inner_->row(row);
    Batch::Call c{Batch::kRow};
    c.flag = row.fromB;
    c.noise = row.noise;
    c.marks = row.marks;
    c.state = row.state;
    c.label = row.label;
    c.index = row.item.index;
    c.item = row.item.p != nullptr;
    c.size = c.item ? row.item.size : 0;
    c.at = filling_.keep(row.item.p, c.size);
    if (row.ext) {
      c.ext = filling_.exts.size();
      filling_.exts.push_back(*row.ext);
    }
    add(c);
  }

  void endSection(const std::string& message) override {
    if (direct()) {
      inner_->setHiddenNoise(hiddenNoise_);
      return inner_->endSection(message);
    }
    Batch::Call c{Batch::kEndSection};
    c.at = filling_.keep(message.data(), message.size());
    c.size = message.size();
    c.index = hiddenNoise_;
    add(c);
  }

  void end(bool differences) override {
    if (direct()) return inner_->end(differences);
    Batch::Call c{Batch::kEnd};
    c.flag = differences;
    filling_.calls.push_back(c);
    handOver();
    stop();
  }

 private:
  // Whether this call goes straight to the printer, as the first inlineCalls do.
  bool direct() {
    if (recording_) return false;
    if (direct_ < inlineCalls_) {
      direct_++;
      return true;
    }
    recording_ = true;
    reserve(&filling_);
    return false;
  }

  void add(const Batch::Call& c) {
    filling_.calls.push_back(c);
    if (filling_.calls.size() >= batchCalls_ || filling_.bytes.size() >= kBatchBytes) handOver();
  }

  // Room for a whole batch at once: growing by doubling would copy, and first touch, each
  // batch's memory twice over.
  void reserve(Batch* b) const {
    b->calls.reserve(batchCalls_);
    b->bytes.reserve(kBatchBytes + 4096);
  }

  void handOver() {
    if (!thread_ && !(thread_ = createThread(&BackgroundComparePrinter::threadMain, this))) {
      replay(filling_);  // no thread to be had: printed here, as on one core
      filling_.clear();
      return;
    }
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return waiting_.size() < kMostWaiting; });
    waiting_.push_back(std::move(filling_));
    filling_ = Batch();
    if (spare_.empty()) {
      reserve(&filling_);
    } else {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
    changed_.notify_all();
  }

  static void threadMain(void* self) { static_cast<BackgroundComparePrinter*>(self)->run(); }

  void run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
      if (waiting_.empty()) return;
      Batch batch = std::move(waiting_.front());
      waiting_.pop_front();
      changed_.notify_all();
      lock.unlock();
      replay(batch);
      batch.clear();
      lock.lock();
      spare_.push_back(std::move(batch));  // its buffers are warm: reused, not allocated anew
    }
  }

  // Lets the thread print what is waiting, and waits for it.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (!thread_) return;
    waitThread(thread_);
    closeThread(thread_);
    thread_ = nullptr;
  }

  void replay(const Batch& batch) {
    const char* bytes = batch.bytes.data();
    for (const Batch::Call& c : batch.calls) {
      switch (c.kind) {
        case Batch::kBeginSection:
          inner_->beginSection(c.number);
          break;
        case Batch::kNode:
          inner_->setNodeNoise(c.noise);
          inner_->node(batch.text(c.at, c.size), batch.text(c.nameAt, c.nameSize), c.number, c.state, c.flag);
          break;
        case Batch::kRow: {
          ContentRow row;
          row.item.p = c.item ? reinterpret_cast<const uint8_t*>(bytes + c.at) : nullptr;
          row.item.size = c.size;
          row.item.index = c.index;
          row.state = c.state;
          row.label = c.label;
          row.fromB = c.flag;
          row.marks = c.marks;
          row.noise = c.noise;
          if (c.ext != SIZE_MAX) row.ext = &batch.exts[c.ext];
          inner_->row(row);
          break;
        }
        case Batch::kEndSection:
          inner_->setHiddenNoise(c.index);
          inner_->endSection(std::string(bytes + c.at, c.size));
          break;
        case Batch::kEnd:
          inner_->end(c.flag);
          break;
      }
    }
  }

  static constexpr size_t kMostWaiting = 2;
  static constexpr size_t kBatchBytes = size_t(256) << 10;

  std::unique_ptr<ComparePrinter> inner_;  // the caller's until the thread starts, then the thread's
  const size_t batchCalls_, inlineCalls_;
  size_t direct_ = 0;       // the calls that went straight to the printer
  bool recording_ = false;  // once set, the calls go to batches
  Batch filling_;           // the caller's
  NativeThread* thread_ = nullptr;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Batch> waiting_;  // guarded by lock_
  std::vector<Batch> spare_;   // guarded by lock_
  bool stopping_ = false;      // guarded by lock_
};

}  // namespace

std::unique_ptr<ComparePrinter> printInBackground(std::unique_ptr<ComparePrinter> printer, size_t batchCalls,
                                                  size_t inlineCalls) {
  if (processorCount() < 2) return printer;
  return std::make_unique<BackgroundComparePrinter>(std::move(printer), batchCalls, inlineCalls);
}

}  // namespace keldrun
