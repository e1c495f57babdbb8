// The packed snapshot file ("C1.4"): the snapshot file in zlib-compressed chunks of 512 KiB, the
// form in which snapshots are exported and imported, and the progress of packing and
// unpacking. The layout is in snapshot_format.h.
#ifndef KELDRUN_ENGINE_PACK_H_
#define KELDRUN_ENGINE_PACK_H_

#include <cstdio>
#include <mutex>
#include <string>

#include "engine/snapshot.h"

namespace keldrun {

// Progress of a pack or unpack, shared between the worker and the window that shows it.
class ProgressSink {
 public:
  void set(int percent);
  int percent() const;
  void finish();
  bool finished() const;
  void cancel();
  bool cancelRequested() const;

 private:
  mutable std::mutex mu_;  // guards the three fields below
  int percent_ = 0;
  bool finished_ = false;
  bool cancel_ = false;
};

// Packs a snapshot file into the "C1.4" form and back; pack packs the source as long as it is
// when the pack starts. Both fail on a short read or write, a
// chunk whose lengths exceed the chunk buffers or that does not inflate to exactly its stated
// length, an output past 4 GiB, or a cancel request (seen after each chunk is written); a
// failed operation may leave a partial target, which the file-level drivers remove. The sink
// may be null; its finish() is left to the caller. threads: chunks compressed or inflated at
// once (as parallelThreads reads it: 0 = the machine's processors, 1 = one at a time); the
// output is the same whatever the number.
bool pack(FILE* source, WritableFile* target, ProgressSink* sink, int threads = 0);
bool unpack(FILE* source, WritableFile* target, ProgressSink* sink, int threads = 0);
// File-level drivers over UTF-8 paths, writing through fs. Both fail without touching anything
// when the target names the source. packFile replaces an earlier target only once the packed
// file is whole. unpackFile deletes the target when it fails; after unpacking it opens the new
// snapshot into info, keeps the caller's info->number, writes it into the info record in place
// and closes the file; it fails when the result does not open as a snapshot. On failure *why
// (when given) says what failed: the source that cannot be read or is not a packed snapshot, or
// the target that cannot be created or written.
bool packFile(const std::string& source, const std::string& target, ProgressSink* sink,
              FileSystem* fs = defaultFileSystem(), int threads = 0);
bool unpackFile(const std::string& source, const std::string& target, SnapshotInfo* info,
                ProgressSink* sink, FileSystem* fs = defaultFileSystem(), int threads = 0,
                std::string* why = nullptr);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_PACK_H_
