// The plan of an update as data: what is fetched and done, in the order of the update,
// and which row of the progress list each step reports on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ost {

enum class StepKind { kDetailFile, kOstraScript, kVelinScript, kComponent };

struct PlanStep {
  StepKind kind = StepKind::kComponent;
  // Scripts: the version the script brings (Ostra in hundredths, Velin in tenths).
  // Components: the update number the manifest offers.
  int32_t version = 0;
  int entry = -1;            // components: the service table index
  std::string name;          // detail files: the file's name
  int32_t downloadKind = 0;  // as the download job and its completion know it
  std::string requestPath;   // on the update host
  std::string targetPath;    // the local file; scripts: the package's name
  int row = -1;              // its progress list row; detail files: the header row
};

struct Plan {
  int headerRow = -1;           // -1 until a plan is built
  std::vector<PlanStep> steps;  // detail files first, then one step per plan row
  int estimateSeconds = 0;
  int rowCount = 0;  // steps with a row of their own
};

// The row tag that shows what a plan row stands for: the script's version, or 10000
// plus the service table index of a component.
int32_t RowTagOf(const PlanStep& step);

// The folder of a configured executable path: up to its last backslash, without it;
// a quoted path gives the folder inside the quotes.
std::string InstallFolderOf(const std::string& binaryPath);

}  // namespace ost
