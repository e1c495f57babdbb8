// keldrun noise ACTION: learns, edits, lists and undoes the workspace's noise list.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/snapshot_ref.h"
#include "views/comparison_context.h"
#include "views/noise_learning.h"
#include "workspace/noise.h"
#include "workspace/settings.h"

namespace keldrun {

namespace {

void printProblems(const std::vector<std::string>& problems) {
  for (const std::string& p : problems) std::fprintf(stderr, "keldrun: warning: %s\n", p.c_str());
}

int learn(CommandContext& ctx, const std::vector<std::u16string>& known, NoiseFile* file) {
  const std::vector<std::string>& refs = ctx.operands();
  if (refs.size() != 3) return failUsage(ctx, "noise learn takes two snapshots, A and B");
  std::string pathA, pathB, error;
  if (!resolveSnapshotRef(ctx.home, refs[1], &pathA, &error)) return fail(error);
  if (!resolveSnapshotRef(ctx.home, refs[2], &pathB, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(pathA, pathB, kModeCompare, false))
    return fail("cannot open snapshots " + pathA + " and " + pathB);
  // What the list hides already needs no proposal.
  if (!known.empty()) context.setNoise(std::make_shared<NoiseMatcher>(known));
  NoiseLearning learned = learnNoise(&context);
  bool dryRun = ctx.has("--dry-run");
  for (const NoiseSkip& s : learned.skipped)
    std::printf("skipped %s (%s starts with the machine and is never hidden)\n",
                toUtf8(s.path).c_str(), toUtf8(s.location).c_str());
  if (learned.applicationChanges)
    std::printf("skipped %s of the applications section (never hidden)\n",
                differencesText(learned.applicationChanges).c_str());
  for (const NoiseProposal& p : learned.proposals)
    std::printf("%s %s\n", dryRun ? "propose" : "add", toUtf8(proposalText(p)).c_str());
  if (learned.proposals.empty()) {
    std::printf("nothing to learn\n");
    return kExitOk;
  }
  if (dryRun) return kExitOk;
  std::string why = "learned from " + refs[1] + " and " + refs[2];
  for (const NoiseProposal& p : learned.proposals) {
    file->list().add(p.entry, why);
    why.clear();  // one comment for the whole group
  }
  if (!file->save()) return fail("cannot write " + file->path());
  std::printf("%zu entries added to %s ('keldrun noise undo' takes them back)\n",
              learned.proposals.size(), file->path().c_str());
  return kExitOk;
}

int runNoise(CommandContext& ctx) {
  const std::vector<std::string>& ops = ctx.operands();
  const std::string& action = ops[0];
  Settings settings(ctx.home);
  settings.ensureLoaded();
  NoiseFile file(settings.folder());
  std::vector<std::string> problems;
  bool defaults = settings.noiseDefaults != 0;
  file.load(defaults, &problems);
  printProblems(problems);
  std::string message;
  if (action == "learn") return learn(ctx, file.list().entries(), &file);
  if (action == "add" || action == "remove") {
    if (ops.size() != 2) return failUsage(ctx, "noise " + action + " takes one PATH");
    bool ok = action == "add" ? file.addEntry(fromUtf8(ops[1]), &message)
                              : file.removeEntry(fromUtf8(ops[1]), &message);
    if (!ok) return fail(message);
    std::printf("%s\n", message.c_str());
    return kExitOk;
  }
  if (ops.size() != 1) return failUsage(ctx, "noise " + action + " takes no operand");
  if (action == "list") {
    if (file.fromDefaults()) std::printf("# the default list (the workspace has no noise.txt)\n");
    for (const std::u16string& e : file.list().entries()) std::printf("%s\n", toUtf8(e).c_str());
    return kExitOk;
  }
  if (action == "undo") {
    if (!file.undo(defaults)) return fail("nothing to undo");
    std::printf("noise list put back as it was (%zu more undo steps)\n", file.undoDepth());
    return kExitOk;
  }
  return failUsage(ctx, "unknown action '" + action + "'");
}

const Option kOptions[] = {
    {"--dry-run", nullptr, "learn: print the proposals, write nothing"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"noise", "learn, edit, list or undo the noise list", "ACTION [ARG...]", 1, 3, kOptions,
                  "The noise list (noise.txt in the workspace, one path a line, '#' comments) names\n"
                  "registry keys and values, folders and files whose differences 'keldrun compare'\n"
                  "and the reports hide, counting them; '*' stands for one whole component, and a\n"
                  "component may be a name pattern ('*.pf'). What starts with the machine (the Run\n"
                  "keys, services, Startup folders, Winlogon) and the applications section are\n"
                  "never hidden. Without noise.txt the default list for Windows is used (setting\n"
                  "\"nd\" 0 in Keldrun.cfg turns it off). Actions:\n"
                  "  learn A B [--dry-run]  propose entries for every difference between two\n"
                  "                         snapshots taken with nothing done in between, and\n"
                  "                         add them\n"
                  "  add PATH               add an entry (refused for a never-hidden location)\n"
                  "  remove PATH            remove an entry\n"
                  "  list                   print the entries in use\n"
                  "  undo                   put the list back as it was before its last change\n",
                  "noise learn 1 2 --dry-run", runNoise});

}  // namespace

}  // namespace keldrun
