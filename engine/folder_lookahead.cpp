#include "engine/folder_lookahead.h"

#include <utility>

namespace keldrun {

// One folder's listing read whole into memory: the names in one pool, the rest in one record
// per entry, so that a listing costs a few allocations however many entries it has.
class ListedFolder : public FolderListing {
 public:
  void add(const DirEntry& e) {
    Item item;
    item.nameAt = names_.size();
    item.nameChars = e.name.size();
    item.isFolder = e.isFolder;
    item.isJunction = e.isJunction;
    item.lastWrite = e.lastWrite;
    item.size = e.size;
    item.changeTime = e.changeTime;
    item.fileId = e.fileId;
    names_ += e.name;
    items_.push_back(item);
  }
  size_t count() const { return items_.size(); }

  bool next(DirEntry* e) override {
    if (at_ == items_.size()) return false;
    const Item& item = items_[at_++];
    e->name.assign(names_, item.nameAt, item.nameChars);
    e->isFolder = item.isFolder;
    e->isJunction = item.isJunction;
    e->lastWrite = item.lastWrite;
    e->size = item.size;
    e->changeTime = item.changeTime;
    e->fileId = item.fileId;
    return true;
  }

 private:
  struct Item {
    size_t nameAt;
    size_t nameChars;
    bool isFolder;
    bool isJunction;
    uint64_t lastWrite;
    uint64_t size;
    uint64_t changeTime;
    uint64_t fileId;
  };
  std::u16string names_;
  std::vector<Item> items_;
  size_t at_ = 0;
};

FolderLookahead::FolderLookahead(Env* env, Descends descends, size_t helpers, size_t maxReady,
                                 size_t maxReadyEntries)
    : env_(env), descends_(descends), maxReady_(maxReady ? maxReady : 1),
      maxReadyEntries_(maxReadyEntries ? maxReadyEntries : 1) {
  helpers_.start(helpers, helperMain, this);
}

FolderLookahead::~FolderLookahead() {
  {
    std::lock_guard<std::mutex> hold(mu_);
    stopping_ = true;
  }
  work_.notify_all();
  helpers_.join();
}

uint64_t FolderLookahead::readAhead() const {
  std::lock_guard<std::mutex> hold(mu_);
  return readAhead_;
}

void FolderLookahead::helperMain(void* self) { static_cast<FolderLookahead*>(self)->helperLoop(); }

void FolderLookahead::helperLoop() {
  std::unique_lock<std::mutex> hold(mu_);
  for (;;) {
    work_.wait(hold, [this] { return stopping_ || (!queued_.empty() && budgetLeftLocked()); });
    if (stopping_) return;
    readFirstQueuedLocked(&hold);
  }
}

void FolderLookahead::readFirstQueuedLocked(std::unique_lock<std::mutex>* hold) {
  auto first = queued_.begin();
  Key key = first->first;
  Job job = std::move(first->second);
  queued_.erase(first);
  reading_.insert(key);
  hold->unlock();

  Children children;
  read(key, &job, &children);

  hold->lock();
  reading_.erase(key);
  // The walk may have gone past this folder meanwhile (stopped, or a rule that disagreed):
  // then nobody will ask for it or for anything below it.
  if (key < passed_) return;
  auto placed = ready_.emplace(std::move(key), std::move(job));
  if (placed.second) readyEntries_ += placed.first->second.entries;
  queueLocked(&children);
  listed_.notify_all();
}

void FolderLookahead::read(const Key& key, Job* job, Children* children) {
  std::unique_ptr<FolderListing> listing = env_->listFolder(job->path);
  if (!listing) return;
  auto folder = std::make_unique<ListedFolder>();
  DirEntry e;
  uint32_t ordinal = 0;
  size_t pathChars = job->path.size();
  while (listing->next(&e)) {
    folder->add(e);
    if (!descends_(e, pathChars, job->depth)) continue;
    Job child;
    child.path.reserve(pathChars + e.name.size() + 1);
    child.path = job->path;
    child.path += e.name;
    child.path.push_back(u'\\');
    child.depth = job->depth + 1;
    Key childKey;
    childKey.reserve(key.size() + 1);
    childKey = key;
    childKey.push_back(ordinal++);
    children->emplace_back(std::move(childKey), std::move(child));
  }
  job->entries = folder->count();
  job->listing = std::move(folder);
}

void FolderLookahead::queueLocked(Children* children) {
  if (children->empty()) return;
  for (auto& [key, job] : *children) queued_.insert_or_assign(std::move(key), std::move(job));
  children->clear();
  work_.notify_all();
}

std::unique_ptr<FolderListing> FolderLookahead::list(const Key& key, const std::u16string& path,
                                                     size_t depth) {
  Job job;
  bool found = false;
  {
    std::unique_lock<std::mutex> hold(mu_);
    passed_ = key;
    // Whatever lies before this key in the walk's order will never be asked for.
    queued_.erase(queued_.begin(), queued_.lower_bound(key));
    for (auto it = ready_.begin(); it != ready_.end() && it->first < key;) {
      readyEntries_ -= it->second.entries;
      it = ready_.erase(it);
    }
    // While a helper reads this folder, the walk reads the next queued one rather than sleep:
    // the cores are busy either way, and a sleep and a wake-up cost more than they save.
    while (reading_.count(key)) {
      if (!queued_.empty() && budgetLeftLocked()) readFirstQueuedLocked(&hold);
      else listed_.wait(hold);
    }
    auto ready = ready_.find(key);
    if (ready != ready_.end()) {
      job = std::move(ready->second);
      readyEntries_ -= job.entries;
      ready_.erase(ready);
      found = true;
      readAhead_++;
      work_.notify_all();  // the budget has room again
    } else {
      queued_.erase(key);  // listed here instead
    }
  }
  // A helper's listing is used only when it is the same folder: a key can name another folder
  // only if the helpers' rule and the walk's ever disagreed, and then the walk's path wins.
  if (found && job.path == path && job.depth == depth) return std::move(job.listing);

  job = Job();
  job.path = path;
  job.depth = depth;
  Children children;
  read(key, &job, &children);
  {
    std::lock_guard<std::mutex> hold(mu_);
    queueLocked(&children);
  }
  return std::move(job.listing);
}

}  // namespace keldrun
