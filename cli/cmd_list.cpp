// keldrun list: the snapshots of the catalog, as the Snapshots screen lists them.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/snapshot_list.h"

namespace keldrun {

namespace {

int runList(CommandContext& ctx) {
  bool json = ctx.has("--json");
  Settings settings(ctx.home);
  std::string error;
  if (!openCatalog(&settings, false, &error)) return fail(error);
  if (settings.loadStatus() == SettingsLoad::Damaged)
    std::fprintf(stderr, "keldrun: warning: %s is damaged; the catalog reads as empty\n",
                 settings.settingsPath().c_str());
  SnapshotList list(&settings);
  list.refresh();

  if (json) {
    std::string out = "{\"snapshots\":[";
    const Catalog& catalog = settings.catalog();
    for (size_t i = 0; i < catalog.count(); i++) {
      const SnapshotInfo& s = catalog.record(i);
      const SnapshotList::Row& r = list.rows()[i];
      if (i) out += ",";
      out += "\n{\"number\":" + std::to_string(s.number) + ",\"name\":" + jsonString(fromUtf8(s.name)) +
             ",\"computer\":" + jsonString(s.computer) + ",\"date\":" + jsonString(s.date) +
             ",\"size\":" + std::to_string(s.size) + ",\"sizeText\":" + jsonString(r.cells[SnapshotList::kSize]) +
             ",\"path\":" + jsonString(fromUtf8(catalog.snapshotPath(s.number).path)) + ",\"sections\":{";
      for (int k = 0; k < kSectionCount; k++) {
        out += std::string(k ? "," : "") + jsonString(std::string(sectionLongName(k))) +
               ":{\"state\":" + std::to_string(int(s.sectionState[k])) +
               ",\"stateText\":" + jsonString(stateText(s.sectionState[k])) + "}";
      }
      out += "}}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return kExitOk;
  }

  // Every cell as printed (UTF-8, names escaped), padded by characters, not bytes.
  std::vector<std::vector<std::string>> table;
  table.push_back({"No", "Name", "Computer", "Date", "Size", "Regs", "Files", "Apps"});
  for (const SnapshotList::Row& r : list.rows()) {
    std::vector<std::string> line = {std::to_string(r.number)};
    for (int c = 0; c < SnapshotList::kColumnCount; c++) {
      line.emplace_back();
      appendUtf8Text(&line.back(), r.cells[c]);
    }
    table.push_back(line);
  }
  auto width = [](const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
  };
  std::vector<size_t> widths(table[0].size(), 0);
  for (const auto& line : table)
    for (size_t c = 0; c < line.size(); c++) widths[c] = std::max(widths[c], width(line[c]));
  Output out(stdout);
  for (const auto& line : table) {
    for (size_t c = 0; c < line.size(); c++) {
      bool right = c == 0 || c == 1 + SnapshotList::kSize;
      size_t pad = widths[c] - width(line[c]);
      if (right) out.spaces(pad);
      out.put(line[c]);
      if (c + 1 < line.size()) out.spaces(right ? 2 : pad + 2);
    }
    out.put('\n');
  }
  if (!out.finish()) return fail("cannot write the output");
  return kExitOk;
}

const Option kOptions[] = {
    {"--json", nullptr, "one JSON document instead of the table (see docs/cli.md)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"list", "list the snapshots of the catalog", "", 0, 0, kOptions,
                  "Lists the snapshots of the catalog in DIR/Keldrun.cfg, in the order they were\n"
                  "taken or imported: number, name, computer, date, size in megabytes and what was\n"
                  "scanned of the registry, files and applications (\"full\", \"partial\", \"-\").\n",
                  "list", runList});

}  // namespace

}  // namespace keldrun
