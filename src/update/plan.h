// The plan of an update as data: what is fetched and done, in the order of the update,
// and which row of the progress list each step reports on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/download_job.h"
#include "update/service_table.h"

namespace ost {

enum class StepKind { kDetailFile, kOstraScript, kVelinScript, kComponent };

struct PlanStep {
  StepKind kind = StepKind::kComponent;
  // Scripts: the version the script brings (Ostra in hundredths, Velin in tenths).
  // Components: the update number the manifest offers.
  int32_t version = 0;
  int entry = -1;    // components: the service table index
  std::string name;  // detail files: the file's name
  DownloadKind downloadKind = DownloadKind::kManifest;
  std::string requestPath;  // on the update host
  std::string targetPath;   // the local file; scripts: the package's name
  int row = -1;             // its progress list row; detail files: the header row
};

struct Plan {
  int headerRow = -1;           // -1 until a plan is built
  std::vector<PlanStep> steps;  // detail files first, then one step per plan row
  int estimateSeconds = 0;
  int rowCount = 0;  // steps with a row of their own
  // OstData.dll was found but its update waits: the web DLL is newer here and is not
  // updated in this plan.
  bool ostDataLeftOut = false;
};

// What the plan is made of, as the check found it.
struct PlanFacts {
  int32_t installedOstraVersion = 0;  // hundredths
  int32_t availableOstraVersion = 0;
  int32_t installedVelinVersion = 0;  // tenths
  int32_t availableVelinVersion = 0;
  bool velinEnabled = false;
  bool ostDataPending = false;  // OstData.dll was found
  bool libxlPresent = false;    // the web DLL's x variant is fetched
  std::string cgiBinDir;
  std::vector<std::string> detailFiles;  // the detail files that differ, by name
  int velinEntry = -1;                   // the web DLL's service table index, -1: none
  int headerRow = 0;                     // the plan's rows follow it
};

// What the plan asks of the service manager, when it comes to a component: the
// questions are asked in the plan's order, which is what the run's journal records.
struct ServiceLookup {
  // The state of a component's own service.
  std::function<int32_t(const std::string& service)> state;
  // The web server's state read again for the data interface that goes with the web DLL.
  std::function<int32_t(const std::string& service)> sharedState;
  // The service's program path; 0 when it could be read.
  std::function<int32_t(const std::string& service, std::string* path)> binaryPath;
};

// The plan: the detail files, the script steps from the installed to the available
// versions, then every component that needs an update and whose service the plan can
// stop and start. A component left out gets needsUpdate 0; one in the plan gets its
// state before the run, its install folder and, for the data interface alone, the web
// server as its service.
Plan MakePlan(const PlanFacts& facts, ServiceTable& components, const ServiceLookup& states);

// The row tag that shows what a plan row stands for: the script's version, or 10000
// plus the service table index of a component.
int32_t RowTagOf(const PlanStep& step);

// The folder of a configured executable path: up to its last backslash, without it;
// a quoted path gives the folder inside the quotes.
std::string InstallFolderOf(const std::string& binaryPath);

}  // namespace ost
