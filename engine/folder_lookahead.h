// Folder listings read ahead of the files scan's walk, on helper threads.
//
// The walk of one drive stays on one thread: it goes depth-first in listing order and writes
// every table itself. The helpers list (and stat) the folders it will reach next, so that it
// mostly finds their listings complete. A folder is known by its key: the index of the filter
// item the walk started from, then, for each level down, the ordinal of the subfolder among
// those the walk descends into. Keys in lexicographic order are the walk's order, so the
// helpers always take the waiting folder with the smallest key, the one the walk needs soonest.
//
// Memory: at most maxReady listings (and maxReadyEntries entries) wait for the walk; besides
// them only the folders still to be listed are queued, each a key and a path.
#ifndef KELDRUN_ENGINE_FOLDER_LOOKAHEAD_H_
#define KELDRUN_ENGINE_FOLDER_LOOKAHEAD_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/worker.h"
#include "platform/env.h"

namespace keldrun {

class ListedFolder;

class FolderLookahead {
 public:
  using Key = std::vector<uint32_t>;
  // Whether the walk descends into entry e of the folder at `depth` whose path takes pathChars
  // characters. Must be the very rule the walk follows.
  using Descends = bool (*)(const DirEntry& e, size_t pathChars, size_t depth);

  // Starts `helpers` threads listing through env (which must be safe to call from several
  // threads at once).
  FolderLookahead(Env* env, Descends descends, size_t helpers, size_t maxReady = 128,
                  size_t maxReadyEntries = 32768);
  // Stops the helpers and waits for them; a helper finishes the listing it is reading first.
  ~FolderLookahead();
  FolderLookahead(const FolderLookahead&) = delete;
  FolderLookahead& operator=(const FolderLookahead&) = delete;

  // The whole listing of folder `key` at `path` (a Windows path ending in '\'), at `depth` in
  // the walk: the helpers' when they have it, otherwise read here. While a helper reads it, the
  // walk reads the next queued folder meanwhile, or waits when there is none.
  // Null when the folder cannot be listed. The folders below it that the walk will descend into
  // are queued for the helpers. Calls come in the walk's order, so every folder with a smaller
  // key that is still queued or waiting is dropped.
  std::unique_ptr<FolderListing> list(const Key& key, const std::u16string& path, size_t depth);

  // Listings handed to the walk that had been read ahead of it.
  uint64_t readAhead() const;

 private:
  struct Job {
    std::u16string path;
    size_t depth = 0;
    std::unique_ptr<ListedFolder> listing;  // null until read, and when it cannot be listed
    size_t entries = 0;
  };
  using Children = std::vector<std::pair<Key, Job>>;

  static void helperMain(void* self);
  void helperLoop();
  // Takes the queued folder the walk needs soonest, reads it with the lock released and hands
  // it to the walk; the lock is held again on return.
  void readFirstQueuedLocked(std::unique_lock<std::mutex>* hold);
  // Reads job's folder and gathers the folders below it that the walk will enter.
  void read(const Key& key, Job* job, Children* children);
  void queueLocked(Children* children);  // caller holds mu_
  bool budgetLeftLocked() const { return ready_.size() < maxReady_ && readyEntries_ < maxReadyEntries_; }

  Env* env_;
  Descends descends_;
  size_t maxReady_;
  size_t maxReadyEntries_;

  mutable std::mutex mu_;  // guards everything below up to helpers_
  std::condition_variable work_;   // a folder was queued, a listing taken, or stopping_ set
  std::condition_variable listed_;  // a helper finished a listing
  std::map<Key, Job> queued_;       // known, not yet taken by anyone
  std::set<Key> reading_;           // being read by a helper
  std::map<Key, Job> ready_;        // read by a helper, waiting for the walk
  size_t readyEntries_ = 0;
  Key passed_;                      // the last key the walk asked for
  bool stopping_ = false;
  uint64_t readAhead_ = 0;

  HelperThreads helpers_;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_FOLDER_LOOKAHEAD_H_
