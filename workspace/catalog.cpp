#include "workspace/catalog.h"

#include <cstdio>

#include "base/files.h"
#include "base/text_table.h"
#include "workspace/settings_file.h"

namespace keldrun {

constexpr size_t kCatalogStep = 100;

std::string snapshotFileName(int32_t number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, text(kTextSnapshotNameFormat), int(number));
  return buf;
}

SnapshotPath Catalog::snapshotPath(int32_t number) const {
  SnapshotPath p;
  p.fileName = snapshotFileName(number);
  p.path = dataFolder_ + p.fileName;
  return p;
}

int Catalog::find(int32_t number) const {
  for (size_t i = 0; i < records_.size(); i++)
    if (records_[i].number == number) return int(i);
  return -1;
}

void Catalog::removeAt(size_t i) {
  if (i < records_.size()) records_.erase(records_.begin() + long(i));
}

void Catalog::append(const SnapshotInfo& info) {
  if (records_.size() == records_.capacity()) records_.reserve(records_.size() + kCatalogStep);
  records_.push_back(info);
}

void Catalog::addSnapshot(const SnapshotInfo& info) {
  append(info);
  lastNo = info.number > lastNo ? info.number : lastNo + 1;
}

int32_t Catalog::nextNumber() const {
  int32_t n = lastNo;
  for (const SnapshotInfo& info : records_)
    if (info.number > n) n = info.number;
  if (n < 0) n = 0;
  do {
    if (n == INT32_MAX) return 0;
    n++;
  } while (fileExists(snapshotPath(n).path));
  return n;
}

std::string Catalog::numberList() const {
  std::string numbers;
  for (const SnapshotInfo& info : records_) {
    if (!numbers.empty()) numbers += ',';
    numbers += std::to_string(info.number);
  }
  return numbers;
}

void Catalog::addListed(const std::string& numberList) {
  size_t start = 0;
  while (start <= numberList.size()) {
    size_t comma = numberList.find(',', start);
    if (comma == std::string::npos) comma = numberList.size();
    std::string piece = numberList.substr(start, comma - start);
    start = comma + 1;
    if (piece.empty()) continue;
    int32_t number = parseDecimal(piece);
    // A number listed twice would show one snapshot twice and delete its file twice.
    if (find(number) >= 0) continue;
    SnapshotFile file;
    SnapshotInfo info;
    if (file.readInfo(snapshotPath(number).path, &info) && info.number == number) append(info);
  }
}

}  // namespace keldrun
