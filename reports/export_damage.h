// What an export from a window met of damaged snapshots: the tables its reads could not use,
// and the message that ends the export, which never calls an incomplete file done.
#ifndef KELDRUN_REPORTS_EXPORT_DAMAGE_H_
#define KELDRUN_REPORTS_EXPORT_DAMAGE_H_

#include <string>

#include "views/comparison_context.h"
#include "workspace/message.h"

namespace keldrun {

class ExportDamage {
 public:
  // Starts counting the damage that reads of the context's open snapshots meet from now on,
  // tables that earlier reads found damaged included (SnapshotFile::restartDamageTally). One
  // export at a time per context.
  explicit ExportDamage(ComparisonContext* context);

  // Some table the export needed could not be read.
  bool met() const;
  // One line per snapshot that met damage, A first: "Snapshot [NAME] is damaged: N tables could
  // not be read and were left out." (one table: "was"); empty when none did.
  std::string lines() const;
  // The message that ends an export whose file was written: done as information when nothing
  // was left out (nothing at all when done is empty); else a warning of incomplete (by default
  // "Export incomplete.") followed by lines().
  ShellMessage result(const std::string& done, const std::string& incomplete = "Export incomplete.") const;

 private:
  ComparisonContext* context_;
};

}  // namespace keldrun

#endif  // KELDRUN_REPORTS_EXPORT_DAMAGE_H_
