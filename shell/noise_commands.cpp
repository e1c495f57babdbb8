#include "shell/noise_commands.h"

#include <algorithm>

#include "base/text.h"
#include "views/screen_commands.h"
#include "workspace/noise.h"

namespace keldrun {

namespace {

bool loadNoiseFile(const Settings& settings, NoiseFile* file) {
  file->load(settings.noiseDefaults != 0, nullptr);
  return settings.noiseDefaults != 0;
}

}  // namespace

const char16_t kNoiseShownLine[] = u"Noise shown, marked (noise)";

NoiseMenuState noiseMenuState(const Settings& settings, const std::u16string& path) {
  NoiseFile file(settings.folder());
  loadNoiseFile(settings, &file);
  NoiseMenuState state;
  std::u16string entry;
  std::string reason;
  state.listed = normaliseNoiseEntry(path, &entry, &reason) && file.list().contains(entry);
  state.canUndo = file.undoDepth() > 0;
  return state;
}

bool runNoiseCommand(const Settings& settings, int command, const std::u16string& path,
                     ComparisonContext* context, std::string* message) {
  NoiseFile file(settings.folder());
  bool defaults = loadNoiseFile(settings, &file);
  bool done = false;
  if (command == kNoiseHide) done = file.addEntry(path, message);
  if (command == kNoiseShowAgain) done = file.removeEntry(path, message);
  if (command == kNoiseUndo) {
    done = file.undo(defaults);
    if (!done) *message = "Nothing to undo";
  }
  if (done) context->setNoise(workspaceNoise(settings, nullptr));
  return done;
}

std::u16string noiseLine(const std::u16string& hiddenLine, bool shown, bool listCoversSection) {
  if (!hiddenLine.empty()) return hiddenLine;
  return shown && listCoversSection ? std::u16string(kNoiseShownLine) : std::u16string();
}

bool learnNoiseEnabled(const SnapshotList& list) { return list.selectedCount() == 2; }

bool learnFromSelectedPair(const SnapshotList& list, const Settings& settings,
                           NoiseLearning* learning, std::string* names, ShellMessage* message) {
  std::vector<int32_t> chosen = list.selectedSnapshots();
  ComparisonContext context;
  context.setDataFolder(settings.catalog().dataFolder());
  if (chosen.size() != 2 ||
      !context.open(std::min(chosen[0], chosen[1]), std::max(chosen[0], chosen[1]), kModeCompare, false)) {
    *message = ShellMessage::error("Cannot open snapshots");
    return false;
  }
  context.setNoise(workspaceNoise(settings, nullptr));
  *learning = learnNoise(&context);
  if (names) *names = context.infoA().name + " and " + context.infoB().name;
  return true;
}

std::u16string skippedNoiseLine(const NoiseLearning& learning) {
  std::vector<std::u16string> locations;
  for (const NoiseSkip& s : learning.skipped) {
    if (std::find(locations.begin(), locations.end(), s.location) == locations.end())
      locations.push_back(s.location);
  }
  std::u16string line;
  if (!locations.empty()) {
    line = u"Never hidden, so not proposed: ";
    for (size_t i = 0; i < locations.size(); i++) line += (i ? u", " : u"") + locations[i];
  }
  if (learning.applicationChanges) {
    if (!line.empty()) line += u"; ";
    line += widen(differencesText(learning.applicationChanges)) + u" of the applications (never hidden)";
  }
  return line;
}

int writeCheckedProposals(const Settings& settings, const std::vector<NoiseProposal>& proposals,
                          const std::string& names, std::string* message) {
  NoiseFile file(settings.folder());
  loadNoiseFile(settings, &file);
  std::string why = "learned from " + names;
  int added = 0;
  for (const NoiseProposal& p : proposals) {
    if (!p.checked || !file.list().add(p.entry, why)) continue;
    why.clear();  // one comment for the whole group
    added++;
  }
  if (added && !file.save()) {
    *message = "Cannot write " + file.path();
    return -1;
  }
  return added;
}

}  // namespace keldrun
