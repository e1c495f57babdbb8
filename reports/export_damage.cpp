#include "reports/export_damage.h"

namespace keldrun {

ExportDamage::ExportDamage(ComparisonContext* context) : context_(context) {
  for (SnapshotFile* file : {context->fileA(), context->fileB()}) {
    if (file) file->restartDamageTally();
  }
}

bool ExportDamage::met() const { return !lines().empty(); }

std::string ExportDamage::lines() const {
  SnapshotFile* files[2] = {context_->fileA(), context_->fileB()};
  const std::string* names[2] = {&context_->infoA().name, &context_->infoB().name};
  std::string text;
  for (int i = 0; i < 2; i++) {
    size_t n = files[i] ? files[i]->damageTally() : 0;
    if (n == 0) continue;
    if (!text.empty()) text += "\n";
    text += "Snapshot [" + *names[i] + "] is damaged: " + std::to_string(n) +
            (n == 1 ? " table could not be read and was left out." : " tables could not be read and were left out.");
  }
  return text;
}

ShellMessage ExportDamage::result(const std::string& done, const std::string& incomplete) const {
  std::string damage = lines();
  if (!damage.empty()) return ShellMessage::warning(incomplete + "\n" + damage);
  if (done.empty()) return {};
  return ShellMessage::information(done);
}

}  // namespace keldrun
