#include "engine/file_scan.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "engine/digest_reuse.h"
#include "engine/file_entry.h"
#include "engine/file_extension.h"
#include "engine/folder_lookahead.h"
#include "platform/thread.h"

namespace keldrun {

namespace {

// Orders two items component by component, each in table order. Items that share their first
// components, exactly, then stand together, as the walk needs, even beside case twins ("Dir\a\",
// "dir\b\", "Dir\c\" would interleave in plain name order).
bool itemBefore(const std::u16string& a, const std::u16string& b) {
  size_t i = 0, j = 0;
  for (;;) {
    if (i >= a.size() || j >= b.size()) return i >= a.size() && j < b.size();
    size_t ea = a.find(u'\\', i), eb = b.find(u'\\', j);
    if (ea == std::u16string::npos) ea = a.size();
    if (eb == std::u16string::npos) eb = b.size();
    int c = compareTableOrder(a.substr(i, ea - i), b.substr(j, eb - j));
    if (c != 0) return c < 0;
    i = ea + 1;
    j = eb + 1;
  }
}

}  // namespace

FilterList normalizeFileFilter(const FilterList& list) {
  if (list.empty()) return list;
  if (!list[0].empty() && list[0][0] == u'*') return FilterList{u"*"};
  FilterList items;
  for (const std::u16string& raw : list) {
    std::u16string item;
    item.reserve(raw.size() + 1);
    for (char16_t c : raw) {
      if (item.empty()) c = foldAscii(c);
      if (c == u'/') c = u'\\';
      if (c == u'\\' && !item.empty() && item.back() == u'\\') continue;
      item.push_back(c);
    }
    if (item.empty() || item.back() != u'\\') item.push_back(u'\\');
    if (item.size() < 3 || item[0] < u'a' || item[0] > u'z' || item[1] != u':' || item[2] != u'\\')
      continue;
    items.push_back(std::move(item));
  }
  std::stable_sort(items.begin(), items.end(), itemBefore);
  // In this order a folder comes right before everything inside it, so one look at the last
  // kept item finds every nested or repeated one.
  FilterList kept;
  for (std::u16string& item : items) {
    if (!kept.empty() && item.compare(0, kept.back().size(), kept.back()) == 0) continue;
    kept.push_back(std::move(item));
  }
  return kept;
}

FilterList storedFileFilter(const FilterList& items) {
  FilterList stored;
  for (const std::u16string& item : items) stored.push_back(lowerAscii(item));
  std::sort(stored.begin(), stored.end(), [](const std::u16string& a, const std::u16string& b) {
    return compareNames(a, b) < 0;
  });
  stored.erase(std::unique(stored.begin(), stored.end()), stored.end());
  return stored;
}

namespace {

struct Fields {
  uint32_t childHash = 0;
  uint32_t contentHash = 0;
  uint32_t childTable = 0;
  uint32_t contentTable = 0;
  uint32_t extChildHash = 0;  // the extension hashes of the two tables
  uint32_t extContentHash = 0;
};

// The tables of one depth of the walk: the subfolders and files of the folder being listed
// there, with the extension data of each entry by its index, and the listing entry, all reused
// for the next folder at this depth.
struct Level {
  TableBuilder folders;
  TableBuilder files;
  std::vector<Fields> folderFields;
  std::vector<FileExt> fileExt;
  DirEntry entry;

  size_t addFolder(const std::u16string& name) {
    folderFields.emplace_back();
    return folders.addTreeEntry(name);
  }
  void setFolder(size_t i, const Fields& f) {
    folders.setTreeFields(i, f.childHash, f.contentHash, f.childTable, f.contentTable);
    folderFields[i] = f;
  }
};

// Whether a folder at `depth` whose path takes `length` characters may be listed; the Win32
// seam appends "*.*" to the path, which must still fit.
bool fits(size_t depth, size_t length) { return depth < kMaxFolderDepth && length + 3 <= kMaxPathChars; }

// Whether the walk descends into entry e of the folder at `depth` whose path takes pathChars
// characters: the folder helpers list ahead of the walk by this same rule.
bool descendsInto(const DirEntry& e, size_t pathChars, size_t depth) {
  return e.isFolder && !e.name.empty() && e.name[0] != u'.' && !e.isJunction &&
         fits(depth + 1, pathChars + e.name.size() + 1);
}

// One file whose content is to be read for its digest.
struct DigestJob {
  std::u16string path;
  FileExt* ext;
};

// Reads the digests of one folder's files at a time on the walk's thread and `helpers` more:
// hashing is bound by the processor where listing is bound by the file system. Once the walk is
// asked to stop, the jobs left are not read (the snapshot is discarded).
class DigestHelpers {
 public:
  DigestHelpers(Env* env, const WorkerThread* walk, size_t helpers) : env_(env), walk_(walk) {
    for (size_t i = 0; i < helpers; i++)
      if (NativeThread* t = createThread(helperMain, this)) threads_.push_back(t);
  }
  ~DigestHelpers() {
    {
      std::lock_guard<std::mutex> hold(mu_);
      quit_ = true;
    }
    wake_.notify_all();
    for (NativeThread* t : threads_) {
      waitThread(t);
      closeThread(t);
    }
  }
  DigestHelpers(const DigestHelpers&) = delete;
  DigestHelpers& operator=(const DigestHelpers&) = delete;

  // Reads every job's digest and returns once all are done.
  void run(std::vector<DigestJob>* jobs) {
    if (jobs->empty()) return;
    {
      std::lock_guard<std::mutex> hold(mu_);
      jobs_ = jobs;
      next_ = 0;
      done_ = 0;
    }
    if (jobs->size() > 1) wake_.notify_all();
    std::unique_lock<std::mutex> hold(mu_);
    while (next_ < jobs_->size()) take(&hold);
    finished_.wait(hold, [this] { return done_ == jobs_->size(); });
    jobs_ = nullptr;
  }

 private:
  static void helperMain(void* arg) {
    DigestHelpers* h = static_cast<DigestHelpers*>(arg);
    std::unique_lock<std::mutex> hold(h->mu_);
    for (;;) {
      h->wake_.wait(hold, [h] { return h->quit_ || (h->jobs_ && h->next_ < h->jobs_->size()); });
      if (h->quit_) return;
      h->take(&hold);
    }
  }
  // Takes the next job, reads it with the lock let go, and counts it done.
  void take(std::unique_lock<std::mutex>* hold) {
    DigestJob& job = (*jobs_)[next_++];
    hold->unlock();
    bool read = !walk_->stopRequested() && env_->fileSha256(job.path, job.ext->sha256);
    job.ext->digestState = read ? kDigestSha256 : kDigestUnreadable;
    hold->lock();
    if (++done_ == jobs_->size()) finished_.notify_all();
  }

  Env* env_;
  const WorkerThread* walk_;
  std::vector<NativeThread*> threads_;
  std::mutex mu_;  // guards everything below
  std::condition_variable wake_, finished_;
  std::vector<DigestJob>* jobs_ = nullptr;
  size_t next_ = 0;
  size_t done_ = 0;
  bool quit_ = false;
};

}  // namespace

// One drive letter's walk. Everything here belongs to the worker's thread alone, except the
// snapshot file and the two counters, which have their own locks.
struct FileScanWorker {
  WorkerThread thread;
  FilterList items;  // one drive letter's items, normalized
  size_t current = 0;
  std::u16string path;  // the folder being listed; capacity kMaxPathChars, never grown past it
  std::vector<std::unique_ptr<Level>> levels;
  std::vector<uint8_t> scratch;
  std::vector<FileExt> sortedExt;
  std::vector<uint64_t> lastWrites;
  Fields root;
  Env* env = nullptr;
  int threads = 1;  // above one, as many helpers list ahead; the walk mostly waits for them
  std::unique_ptr<FolderLookahead> lookahead;
  FolderLookahead::Key key;  // the folder being listed, as the lookahead knows it
  bool digests = false;
  std::vector<std::string> earlier;  // snapshot files whose digests may be copied, newest first
  std::unique_ptr<DigestReuse> reuse;
  std::unique_ptr<DigestHelpers> digestHelpers;
  std::vector<DigestJob> digestJobs;
  SnapshotFile* file = nullptr;
  Counter* folders = nullptr;
  Counter* files = nullptr;
  Counter* cut = nullptr;

  Level& level(size_t depth) {
    while (levels.size() <= depth) levels.emplace_back(new Level);
    return *levels[depth];
  }

  void run() {
    path.reserve(kMaxPathChars + 1);
    current = 0;
    root = Fields();
    const std::u16string& first = items[0];
    size_t slash = first.find(u'\\');
    if (slash == std::u16string::npos) return;
    if (threads > 1) lookahead.reset(new FolderLookahead(env, descendsInto, size_t(threads)));
    if (digests) {
      reuse.reset(new DigestReuse(earlier));
      digestHelpers.reset(new DigestHelpers(env, &thread, size_t(threads - 1)));
    }
    walkFilterPaths(0, 0, &root);
    lookahead.reset();
    digestHelpers.reset();
    reuse.reset();
    file->addRoot(kSectionFiles, first.substr(0, slash + 1), root.childHash, root.contentHash,
                  root.childTable, root.contentTable);
  }

  // The listing of the folder whose path is the path buffer, at `depth`.
  std::unique_ptr<FolderListing> listFolder(size_t depth) {
    return lookahead ? lookahead->list(key, path, depth) : env->listFolder(path);
  }

  // Writes a folder's gathered tables and their extension and sets its fields.
  void flush(Level& l, Fields* target) {
    target->contentHash = 0;
    target->contentTable = 0;
    target->extContentHash = 0;
    target->extChildHash = 0;
    if (!l.files.empty()) {
      l.files.sortByName(fileEntryName);
      if (digests && !thread.stopRequested()) digestFiles(l);
      scratch.clear();
      l.files.serialize(&scratch);
      target->contentHash = uint32_t(crc32(0L, scratch.data(), uInt(scratch.size())));
      target->contentTable = file->appendTable(scratch.data(), scratch.size());
      writeFileExtension(l, target);
      l.files.clear();
      l.fileExt.clear();
    }
    uint32_t chain = 0;
    if (!l.folders.empty()) {
      l.folders.sortByName(treeEntryName);
      for (size_t k = 0; k < l.folders.count(); k++) {
        const Fields& f = l.folderFields[l.folders.indexAt(k)];
        uint8_t words[8];
        putU32(words, f.extContentHash);
        putU32(words + 4, f.extChildHash);
        chain = uint32_t(crc32(chain, words, sizeof words));
      }
    }
    l.folderFields.clear();
    target->childTable = file->writeTable(&l.folders, false, &target->childHash);
    if (target->childTable) {
      target->extChildHash = chain;
      file->addExtension(target->childTable, 0, chain);
    }
  }

  // Writes the extension block of the file table just written, in the table's sorted order.
  void writeFileExtension(Level& l, Fields* target) {
    sortedExt.clear();
    lastWrites.clear();
    for (size_t k = 0; k < l.files.count(); k++) {
      size_t i = l.files.indexAt(k);
      sortedExt.push_back(l.fileExt[i]);
      lastWrites.push_back(getU64(l.files.entry(i) + kFileEntryDataOffset));
    }
    scratch.clear();
    encodeFileExtension(sortedExt, lastWrites, digests, &scratch);
    target->extContentHash = uint32_t(crc32(0L, scratch.data(), uInt(scratch.size())));
    uint32_t block = file->appendTable(scratch.data(), scratch.size());
    if (target->contentTable && block) file->addExtension(target->contentTable, block, target->extContentHash);
  }

  // Sets the digest of every file the level holds, sorted, the folder's whose path is the path
  // buffer: copied from an earlier snapshot where nothing recorded has moved, read otherwise.
  void digestFiles(Level& l) {
    reuse->enterFolder(path);
    digestJobs.clear();
    FileEntry entry;
    for (size_t k = 0; k < l.files.count(); k++) {
      size_t i = l.files.indexAt(k);
      const uint8_t* p = l.files.entry(i);
      if (!FileEntry::parse(p, l.files.entrySize(i), &entry)) continue;
      if (reuse->find(entry.name, entry.lastWrite, entry.size, &l.fileExt[i])) continue;
      digestJobs.push_back(DigestJob{path + entry.name.str(), &l.fileExt[i]});
    }
    digestHelpers->run(&digestJobs);
  }

  // The name under which the file system holds the folder that the item names by its characters
  // from `index` to `slash`: the item may be typed in another case than the folder's own.
  std::u16string storedFolderName(const std::u16string& item, size_t index, size_t slash) {
    NameLookup lookup(item.substr(index, slash - index));
    std::unique_ptr<FolderListing> listing = env->listFolder(item.substr(0, index));
    DirEntry e;
    while (listing && listing->next(&e))
      if (e.isFolder) lookup.offer(e.name);
    return lookup.name();
  }

  // Walks the filter items from `current`, whose first `index` characters are matched already
  // (and stand in the path buffer), filling target, the folder they lead through.
  void walkFilterPaths(size_t index, size_t depth, Fields* target) {
    for (;;) {
      const std::u16string& item = items[current];
      size_t slash = item.find(u'\\', index);
      if (slash == std::u16string::npos) {
        *target = Fields();
        return;
      }
      path.resize(index);
      if (slash + 1 > kMaxPathChars) {
        *target = Fields();
        return;
      }
      path.append(item, index, slash + 1 - index);
      Fields childFields;
      Fields* child = target;
      size_t entry = 0;
      if (index != 0) {
        std::u16string name = storedFolderName(item, index, slash);
        if (name.size() > kMaxFileNameChars) name.resize(kMaxFileNameChars);
        entry = level(depth).addFolder(name);
        child = &childFields;
      }
      if (!fits(depth + 1, slash + 1)) {
        *child = Fields();
        cut->add(1);
      } else if (slash + 1 == item.size()) {
        key.assign(1, uint32_t(current));
        scanFolder(slash + 1, depth + 1, child);
      } else {
        walkFilterPaths(slash + 1, depth + 1, child);
      }
      if (index == 0) return;
      level(depth).setFolder(entry, childFields);
      bool sibling = current + 1 < items.size() && items[current + 1].size() > index &&
                     items[current + 1].compare(0, index, path, 0, index) == 0;
      if (!sibling) {
        flush(level(depth), target);
        return;
      }
      current++;
    }
  }

  // Lists the folder whose path is the first `index` characters of the path buffer and records
  // it fully into target. False (target all 0) when it cannot be listed.
  bool scanFolder(size_t index, size_t depth, Fields* target) {
    path.resize(index);
    std::unique_ptr<FolderListing> listing = listFolder(depth);
    if (!listing) {
      *target = Fields();
      return false;
    }
    Level& l = level(depth);
    DirEntry& e = l.entry;
    uint32_t folderCount = 0, fileCount = 0;
    uint32_t ordinal = 0;  // of the subfolder entered next, for the lookahead's key
    while (listing->next(&e)) {
      if (thread.stopRequested()) break;
      if (e.isFolder) {
        if (e.name.empty() || e.name[0] == u'.') continue;
        size_t nameChars = std::min(e.name.size(), kMaxFileNameChars);
        size_t i = nameChars == e.name.size() ? l.addFolder(e.name)
                                               : l.addFolder(e.name.substr(0, nameChars));
        // Junctions, and folders whose path would not fit, are recorded but not entered; the
        // latter are counted as cut by the limits.
        if (!descendsInto(e, index, depth)) {
          if (!e.isJunction) cut->add(1);
          continue;
        }
        size_t length = index + e.name.size() + 1;
        path.resize(index);
        path += e.name;
        path.push_back(u'\\');
        Fields f;
        key.push_back(ordinal++);
        if (scanFolder(length, depth + 1, &f)) folderCount++;
        key.pop_back();
        l.setFolder(i, f);
      } else {
        fileCount++;
        scratch.clear();
        appendFileEntry(&scratch, e.name.data(), e.name.size(), e.lastWrite, e.size);
        l.files.add(scratch.data(), scratch.size());
        FileExt ext;
        ext.changeTime = e.changeTime;
        ext.fileId = e.fileId;
        l.fileExt.push_back(ext);
      }
    }
    listing.reset();
    path.resize(index);
    if (folderCount) folders->add(folderCount);
    if (fileCount) files->add(fileCount);
    flush(l, target);
    return true;
  }
};

namespace {

void fileWorkerMain(WorkerThread* thread) {
  FileScanWorker* w = static_cast<FileScanWorker*>(thread->jobData());
  thread->setRunning();
  w->run();
  // Counted out before the end is reported: whoever frees the worker waits for the idle state,
  // and once that is set this thread touches neither the worker nor the snapshot file again.
  w->file->endRunningScan();
  thread->setEnded();
}

}  // namespace

FileStore::FileStore(Env* env) : env_(env ? env : defaultEnv()) {}

FileStore::~FileStore() { stopFileScan(); }

bool FileStore::startFileScan(SnapshotFile* file, const FilterList& list) {
  folders_.reset();
  files_.reset();
  cut_.reset();
  FilterList items = normalizeFileFilter(list);
  std::vector<FilterList> groups;
  if (items.size() == 1 && items[0] == u"*") {
    uint32_t mask = env_->logicalDrives();
    if (mask == 0) return false;
    for (int i = 0; i < 26; i++) {
      if (!(mask & (1u << i))) continue;
      char16_t letter = char16_t(u'a' + i);
      if (env_->driveType(letter) != kDriveFixed) continue;
      std::u16string root;
      root.push_back(letter);
      root += u":\\";
      groups.push_back(FilterList{root});
    }
  } else {
    for (std::u16string& item : items) {
      if (groups.empty() || groups.back()[0][0] != item[0]) groups.emplace_back();
      groups.back().push_back(std::move(item));
    }
  }
  for (FilterList& g : groups) {
    std::unique_ptr<FileScanWorker> w(new FileScanWorker);
    w->items = std::move(g);
    w->env = env_;
    w->threads = parallelThreads(threads_);
    w->digests = digests_;
    w->earlier = earlier_;
    w->file = file;
    w->folders = &folders_;
    w->files = &files_;
    w->cut = &cut_;
    file->addRunningScan();
    if (!w->thread.start(fileWorkerMain, w.get())) file->endRunningScan();
    workers_.push_back(std::move(w));
  }
  return true;
}

void FileStore::stopFileScan() {
  for (;;) {
    bool allEnded = true;
    for (auto& w : workers_)
      if (!w->thread.stop(false)) allEnded = false;
    if (allEnded) break;
    sleepMilliseconds(100);
  }
  workers_.clear();
}

void FileStore::releaseWorkers() {
  for (auto& w : workers_)
    while (w->thread.isRunning()) sleepMilliseconds(1);
  workers_.clear();
}

}  // namespace keldrun
