// Learning a noise list from two snapshots the user says were taken with nothing done in
// between: every difference between them is noise. The proposals are shown for review (the
// command line prints them, a dialog shows them as check boxes) before any is written.
#ifndef KELDRUN_VIEWS_NOISE_LEARNING_H_
#define KELDRUN_VIEWS_NOISE_LEARNING_H_

#include <cstddef>
#include <string>
#include <vector>

#include "views/comparison_context.h"

namespace keldrun {

struct NoiseProposal {
  std::u16string entry;  // normal form (normaliseNoiseEntry)
  size_t changes = 0;    // the differences it stands for
  bool checked = true;   // the review's check box
};

// A difference learning did not propose, with the never-hidden location it lies in.
struct NoiseSkip {
  std::u16string path;
  std::u16string location;
};

struct NoiseLearning {
  std::vector<NoiseProposal> proposals;  // in path order
  std::vector<NoiseSkip> skipped;
  size_t applicationChanges = 0;  // differences of the applications section, never proposed
};

// "ENTRY  (N differences)": a proposal as the command line prints it and the dialog lists it.
std::u16string proposalText(const NoiseProposal& proposal);

// Siblings that propose their parent instead of themselves.
constexpr size_t kNoiseSiblingsForParent = 3;

// Proposals for the changed paths given (keys, values, folders and files, in any order):
//  - a component that is a SID ("S-1-5-21-..."), a GUID ("{...}") or a number becomes "*";
//  - kNoiseSiblingsForParent or more proposals below one parent become that parent, unless the
//    parent lies on the way to a never-hidden location or is a root (hive or drive);
//  - a path naming or lying inside a never-hidden location is skipped;
//  - a proposal that another covers is dropped.
NoiseLearning proposeNoise(const std::vector<std::u16string>& changedPaths);

// Walks the differences of the context (open in kModeCompare; its noise list hides what is
// known already) and proposes entries for them with proposeNoise. Changed keys and folders that
// exist on one side only are taken whole; for the others, the values and files that changed.
NoiseLearning learnNoise(ComparisonContext* context);

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_NOISE_LEARNING_H_
