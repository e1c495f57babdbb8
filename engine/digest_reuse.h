// The content digests that earlier snapshots hold, which a files scan copies instead of reading
// a file again.
#ifndef KELDRUN_ENGINE_DIGEST_REUSE_H_
#define KELDRUN_ENGINE_DIGEST_REUSE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/file_extension.h"

namespace keldrun {

// One scan thread's view of earlier snapshot files, newest first. Each file is opened by the
// thread that asks it: readers of a snapshot file are not shared between threads.
class DigestReuse {
 public:
  // Opens the snapshot files at paths (UTF-8), newest first; a file that cannot be opened or
  // carries no extension is left out.
  explicit DigestReuse(const std::vector<std::string>& paths);
  ~DigestReuse();
  DigestReuse(const DigestReuse&) = delete;
  DigestReuse& operator=(const DigestReuse&) = delete;

  // Makes the folder at path (a scan path such as "c:\dir\sub\") the one that find asks.
  void enterFolder(const std::u16string& path);
  // The digest to record for a file of the folder entered last, whose size and last-write time
  // are given and whose change time and identity `now` holds. Looks for the newest earlier
  // snapshot that holds a SHA-256 digest for a file of that name in that folder; when that
  // file's size, last-write time, change time and identity all equal these, copies its digest
  // into *now and returns true. False when the file must be read.
  // name: as the file's table entry stores it. The files of a folder are asked in table order
  // (compareStored), as the earlier tables are read alongside.
  bool find(const StoredText& name, uint64_t lastWrite, uint64_t size, FileExt* now);

 private:
  struct Source;
  std::vector<std::unique_ptr<Source>> sources_;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_DIGEST_REUSE_H_
