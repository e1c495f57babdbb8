// keldrun info N: one snapshot's properties and what it scanned.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "shell/catalog.h"
#include "shell/snapshot_list.h"

namespace keldrun {

namespace {

int runInfo(CommandContext& ctx) {
  bool json = false;
  std::vector<std::string> refs;
  for (const std::string& a : ctx.args) {
    if (a == "--json")
      json = true;
    else
      refs.push_back(a);
  }
  if (refs.size() != 1) return fail("info: give one snapshot number (see 'keldrun info --help')");
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, false, &error) || !catalogNumbers(settings, refs, &numbers, &error))
    return fail(error);
  int32_t number = numbers[0];
  SnapshotProperties props(&settings, number);
  std::string path = settings.snapshotPath(number).path;
  if (!props.open().empty()) return fail("cannot open snapshot " + refs[0] + " (" + path + ")");
  const SnapshotInfo& s = props.info();
  auto summary = props.summary();

  if (json) {
    std::string out = "{\"number\":" + std::to_string(number) + ",\"name\":" + jsonString(s.name) +
                      ",\"computer\":" + jsonString(s.computer) + ",\"date\":" + jsonString(s.date) +
                      ",\"size\":" + std::to_string(s.size) + ",\"sizeText\":" + jsonString(sizeText(s.size)) +
                      ",\"path\":" + jsonString(path) + ",\"format\":" + jsonString(s.tag) + ",\"sections\":{";
    for (int k = 0; k < kSectionCount; k++) {
      out += std::string(k ? "," : "") + jsonString(std::string(k == 0 ? "registry" : k == 1 ? "files" : "applications")) +
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

  std::printf("Snapshot  %d\nName      %s\nComputer  %s\nDate      %s\nSize      %s (%u bytes)\nFile      %s\n",
              int(number), s.name.c_str(), s.computer.c_str(), s.date.c_str(), sizeText(s.size).c_str(),
              unsigned(s.size), path.c_str());
  std::printf("\nScanned items\n");
  for (int k = 0; k < kSectionCount; k++) {
    std::printf("%s (%s)\n", summary[size_t(k)].first.c_str(), stateText(s.sectionState[k]).c_str());
    for (const std::u16string& item : summary[size_t(k)].second) std::printf("  %s\n", toUtf8(item).c_str());
  }
  return kExitOk;
}

Registration reg({"info", "show one snapshot's properties and scanned items",
                  "usage: keldrun [--home DIR] info N [--json]\n"
                  "\n"
                  "Shows snapshot N of the catalog: name, computer, date, size and file, and for\n"
                  "the registry, files and applications what was scanned: \"*\" for everything,\n"
                  "the chosen keys and folders, or \"-\" when the section was not scanned.\n"
                  "\n"
                  "  --json   one JSON document: {\"number\",\"name\",\"computer\",\"date\",\"size\",\n"
                  "           \"sizeText\",\"path\",\"format\",\"sections\":{\"registry\":{\"state\",\n"
                  "           \"stateText\",\"items\":[...]},\"files\":...,\"applications\":...}}\n"
                  "\n"
                  "example: keldrun info 3\n",
                  runInfo});

}  // namespace

}  // namespace keldrun
