// keldrun info N: one snapshot's properties and what it scanned.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/catalog_commands.h"
#include "workspace/snapshot_list.h"

namespace keldrun {

namespace {

int runInfo(CommandContext& ctx) {
  bool json = ctx.has("--json");
  const std::vector<std::string>& refs = ctx.operands();
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, false, &error) || !catalogNumbers(settings, refs, &numbers, &error))
    return fail(error);
  int32_t number = numbers[0];
  SnapshotProperties props(&settings, number);
  std::string path = settings.catalog().snapshotPath(number).path;
  if (!props.open().empty()) return fail("cannot open snapshot " + refs[0] + " (" + path + ")");
  const SnapshotInfo& s = props.info();
  auto summary = props.summary();

  if (json) {
    std::string out = "{\"number\":" + std::to_string(number) + ",\"name\":" + jsonString(fromUtf8(s.name)) +
                      ",\"computer\":" + jsonString(s.computer) + ",\"date\":" + jsonString(s.date) +
                      ",\"size\":" + std::to_string(s.size) + ",\"sizeText\":" + jsonString(sizeText(s.size)) +
                      ",\"path\":" + jsonString(fromUtf8(path)) + ",\"format\":" + jsonString(s.tag) + ",\"sections\":{";
    for (int k = 0; k < kSectionCount; k++) {
      out += std::string(k ? "," : "") + jsonString(std::string(sectionLongName(k))) +
             ":{\"state\":" + std::to_string(int(s.sectionState[k])) +
             ",\"stateText\":" + jsonString(stateText(s.sectionState[k])) + ",\"items\":[";
      for (size_t i = 0; i < s.filterList[k].size(); i++)
        out += std::string(i ? "," : "") + jsonString(s.filterList[k][i]);
      out += "]}";
    }
    out += "}}\n";
    std::fputs(out.c_str(), stdout);
    return kExitOk;
  }

  Output out(stdout);
  out.put("Snapshot  ").number(uint64_t(number)).put("\nName      ").utf8(s.name);
  out.put("\nComputer  ").latin1(s.computer).put("\nDate      ").latin1(s.date);
  out.put("\nSize      ").put(sizeText(s.size)).put(" (").number(s.size).put(" bytes)\nFile      ");
  out.text(fromUtf8(path)).put("\n\nScanned items\n");
  for (int k = 0; k < kSectionCount; k++) {
    out.put(summary[size_t(k)].first).put(" (").put(stateText(s.sectionState[k])).put(")\n");
    for (const std::u16string& item : summary[size_t(k)].second) out.put("  ").text(item).put('\n');
  }
  if (!out.finish()) return fail("cannot write the output");
  return kExitOk;
}

const Option kOptions[] = {
    {"--json", nullptr, "one JSON document instead of the text (see docs/cli.md)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"info", "show one snapshot's properties and scanned items", "N", 1, 1, kOptions,
                  "Shows snapshot N of the catalog: name, computer, date, size and file, and for\n"
                  "the registry, files and applications what was scanned: \"*\" for everything,\n"
                  "the chosen keys and folders, or \"-\" when the section was not scanned.\n",
                  "info 3", runInfo});

}  // namespace

}  // namespace keldrun
