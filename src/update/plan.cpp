// The plan made from what the check found: which steps, in which order, on which rows.
#include "update/plan.h"

#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

// The folder of a configured executable path: up to its last backslash, without it.
std::string FolderOf(const std::string& path) {
  size_t backslash = path.rfind('\\');
  return backslash == std::string::npos ? path : path.substr(0, backslash);
}

PlanStep ScriptStep(StepKind kind, int32_t version, DownloadKind downloadKind,
                    const std::string& package) {
  PlanStep step;
  step.kind = kind;
  step.version = version;
  step.downloadKind = downloadKind;
  step.requestPath = kUpdatePath + package;
  // Scripts have no local file; the progress texts would name the package.
  step.targetPath = package;
  return step;
}

}  // namespace

int32_t RowTagOf(const PlanStep& step) {
  return step.kind == StepKind::kComponent ? kEntryTagBase + step.entry : step.version;
}

std::string InstallFolderOf(const std::string& binaryPath) {
  // A quoted path ("C:\Program Files\x.exe" -k) would otherwise give a folder that
  // starts with a quote, or one cut inside the arguments.
  if (!binaryPath.empty() && binaryPath.front() == '"') {
    size_t close = binaryPath.find('"', 1);
    return FolderOf(
        binaryPath.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  return FolderOf(binaryPath);
}

Plan MakePlan(const PlanFacts& facts, ServiceTable& components, const ServiceLookup& states) {
  Plan plan;
  plan.headerRow = facts.headerRow;
  int lastRow = facts.headerRow;
  int estimate = 0;

  // Detail files come first; they have no row of their own.
  for (const std::string& name : facts.detailFiles) {
    PlanStep step;
    step.kind = StepKind::kDetailFile;
    step.name = name;
    step.downloadKind = DownloadKind::kDetailFile;
    step.requestPath = Format("%s%s.zip", kUpdatePath, Utf8ToGbk(name).c_str());
    step.targetPath = facts.cgiBinDir + "\\" + name;
    step.row = facts.headerRow;
    plan.steps.push_back(step);
  }
  auto addRow = [&](PlanStep step) {
    step.row = ++lastRow;
    plan.steps.push_back(std::move(step));
  };

  for (int32_t v = facts.installedOstraVersion + 1; v <= facts.availableOstraVersion; ++v) {
    addRow(ScriptStep(StepKind::kOstraScript, v, DownloadKind::kOstraScript,
                      Format("sql/update%d.sql.zip", v)));
    estimate += 20;
  }
  if (facts.velinEnabled) {
    for (int32_t v = facts.installedVelinVersion + 1; v <= facts.availableVelinVersion; ++v) {
      addRow(ScriptStep(StepKind::kVelinScript, v, DownloadKind::kVelinScript,
                        Format("sql/v%d.sql.zip", v)));
      estimate += 15;
    }
  }

  const int velinEntry = facts.velinEntry;
  for (int i = 0; i < kServiceCount; ++i) {
    ServiceEntry& entry = components[static_cast<size_t>(i)];
    if (!entry.needsUpdate) continue;
    if (entry.kind == kVelinKind && !facts.velinEnabled) {
      entry.needsUpdate = 0;
      continue;
    }
    // The data interface goes with a newer web DLL. Behind a web DLL that is current,
    // it goes alone and stops and starts the web server itself: otherwise a run that
    // ended between the two DLLs would leave it behind for good.
    const bool webDllNewer =
        velinEntry != -1 && components[static_cast<size_t>(velinEntry)].needsUpdate;
    if (entry.kind == kOstDataKind) {
      const bool webDllCurrent = velinEntry == -1;
      if (!facts.ostDataPending || !(webDllNewer || webDllCurrent)) {
        entry.needsUpdate = 0;
        plan.ostDataLeftOut = plan.ostDataLeftOut || facts.ostDataPending;
        continue;
      }
      if (!webDllNewer) entry.serviceName = kWebServerService;
    }
    entry.stateBefore = states.state(entry.serviceName);
    if (entry.stateBefore > 7) {
      entry.needsUpdate = 0;
      continue;
    }
    if (entry.kind == kOstDataKind && webDllNewer) {
      // The data interface carries the web server's state. When its entry stands
      // before the web DLL's, that state is not read yet: read it now, or the web
      // server stopped for the DLL would never be started again.
      const ServiceEntry& velin = components[static_cast<size_t>(velinEntry)];
      entry.stateBefore =
          velinEntry > i ? states.sharedState(velin.serviceName) : velin.stateBefore;
    }
    if (entry.kind != kVelinKind && entry.kind != kOstDataKind) {
      std::string path;
      if (states.binaryPath(entry.serviceName, &path) != 0) {
        entry.needsUpdate = 0;
        continue;
      }
      entry.installDir = InstallFolderOf(path);
    }
    estimate += entry.estimatedSeconds;

    PlanStep step;
    step.kind = StepKind::kComponent;
    step.version = entry.availableVersion;
    step.entry = i;
    step.downloadKind = PackageKindOf(entry.kind);
    const bool xVariant = entry.fileName == "Velin.dll" && facts.libxlPresent;
    step.requestPath =
        Format(xVariant ? "%s%sx.zip" : "%s%s.zip", kUpdatePath, entry.fileName.c_str());
    step.targetPath = entry.installDir + "\\" + entry.fileName;
    addRow(std::move(step));
  }

  estimate += 15 * static_cast<int>(facts.detailFiles.size());
  plan.rowCount = lastRow - facts.headerRow;
  plan.estimateSeconds = estimate;
  return plan;
}

}  // namespace ost
