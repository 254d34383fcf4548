// The plan, the manifest's verdict and the apply step's decisions as functions of
// their inputs: no dialog, no providers.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "update/apply_step.h"
#include "update/catalogue.h"
#include "update/plan.h"
#include "update/verdict.h"

namespace ost {
namespace {

constexpr int32_t kRunning = 4;
constexpr int32_t kStopped = 1;
constexpr int32_t kNoSuchService = 1060;

// A component slot as the verdict leaves it when the manifest offers a newer update.
void Offer(ServiceTable& table, int slot, const char* key, const std::string& cgiBin = {}) {
  const Component& component = *FindComponent(key);
  ServiceEntry& entry = table[static_cast<size_t>(slot)];
  entry.installedVersion = 10;
  entry.availableVersion = 12;
  entry.needsUpdate = 1;
  entry.kind = component.kind;
  entry.displayName = component.displayName;
  entry.fileName = component.fileName;
  entry.serviceName = component.serviceName;
  entry.estimatedSeconds = component.estimatedSeconds;
  entry.description = std::string(key) + " desc";
  if (component.inWebFolder) entry.installDir = cgiBin;
}

// The service manager as the plan sees it, with every question it was asked, in order.
struct Services {
  std::map<std::string, int32_t> states;
  std::map<std::string, std::string> paths;
  std::vector<std::string> asked;

  ServiceLookup Lookup() {
    ServiceLookup lookup;
    lookup.state = [this](const std::string& service) {
      asked.push_back("state " + service);
      // As the service controller answers for a component inside the web server.
      if (service.empty()) return kRunning;
      auto found = states.find(service);
      return found == states.end() ? kNoSuchService : found->second;
    };
    lookup.sharedState = [this](const std::string& service) {
      asked.push_back("shared " + service);
      return states.at(service);
    };
    lookup.binaryPath = [this](const std::string& service, std::string* path) {
      asked.push_back("path " + service);
      auto found = paths.find(service);
      if (found == paths.end()) return 5;
      *path = found->second;
      return 0;
    };
    return lookup;
  }
};

class MakePlanTest : public ::testing::Test {
 protected:
  MakePlanTest() {
    facts.installedOstraVersion = 380;
    facts.availableOstraVersion = 380;
    facts.installedVelinVersion = 70;
    facts.availableVelinVersion = 70;
    facts.velinEnabled = true;
    facts.cgiBinDir = "D:\\wwwroot\\cgi-bin";
    facts.headerRow = 3;
    services.states = {
        {"CSOstraServer", kRunning}, {"CSOstraAgent", kStopped}, {"W3SVC", kRunning}};
    services.paths = {{"CSOstraServer", "\"C:\\Program Files\\OSTRA\\CSOstraServer.exe\" -k"},
                      {"CSOstraAgent", "C:\\OSTRA\\CSOstraAgent.exe"}};
  }
  Plan Make() { return MakePlan(facts, table, services.Lookup()); }

  PlanFacts facts;
  ServiceTable table{};
  Services services;
};

TEST_F(MakePlanTest, StepsRowsPathsAndEstimateInTheOrderOfTheUpdate) {
  facts.availableOstraVersion = 382;
  facts.availableVelinVersion = 71;
  facts.detailFiles = {"a.htm", "b.js"};
  facts.libxlPresent = true;
  Offer(table, 0, "Server");
  Offer(table, 1, "Agent");
  Offer(table, 2, "Velin", facts.cgiBinDir);
  facts.velinEntry = 2;
  const Plan plan = Make();

  ASSERT_EQ(plan.steps.size(), 8u);
  EXPECT_EQ(plan.headerRow, 3);
  EXPECT_EQ(plan.rowCount, 6);
  // Detail files first, on the header row; then scripts; then components.
  EXPECT_EQ(plan.steps[0].kind, StepKind::kDetailFile);
  EXPECT_EQ(plan.steps[0].row, 3);
  EXPECT_EQ(plan.steps[0].downloadKind, DownloadKind::kDetailFile);
  EXPECT_EQ(plan.steps[0].requestPath, "/ostra/update1/a.htm.zip");
  EXPECT_EQ(plan.steps[1].targetPath, "D:\\wwwroot\\cgi-bin\\b.js");
  EXPECT_EQ(plan.steps[2].version, 381);
  EXPECT_EQ(plan.steps[2].requestPath, "/ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(plan.steps[3].downloadKind, DownloadKind::kOstraScript);
  EXPECT_EQ(plan.steps[4].kind, StepKind::kVelinScript);
  EXPECT_EQ(plan.steps[4].requestPath, "/ostra/update1/sql/v71.sql.zip");
  for (size_t i = 2; i < plan.steps.size(); ++i) {
    EXPECT_EQ(plan.steps[i].row, static_cast<int>(i) + 2) << i;
  }
  // A quoted program path gives the folder inside the quotes.
  EXPECT_EQ(plan.steps[5].targetPath, "C:\\Program Files\\OSTRA\\CSOstraServer.exe");
  EXPECT_EQ(plan.steps[5].downloadKind, DownloadKind::kServer);
  EXPECT_EQ(RowTagOf(plan.steps[5]), 10000);
  EXPECT_EQ(plan.steps[6].requestPath, "/ostra/update1/CSOstraAgent.exe.zip");
  // libxl.dll beside the web DLL: its x variant.
  EXPECT_EQ(plan.steps[7].requestPath, "/ostra/update1/Velin.dllx.zip");
  EXPECT_EQ(plan.steps[7].targetPath, "D:\\wwwroot\\cgi-bin\\Velin.dll");
  EXPECT_EQ(table[0].stateBefore, kRunning);
  EXPECT_EQ(table[1].stateBefore, kStopped);
  // Scripts 20 and 15 seconds, the components theirs, detail files 15 each.
  EXPECT_EQ(plan.estimateSeconds, 2 * 20 + 15 + 21 + 61 + 101 + 2 * 15);
  // The web DLL's program path is not asked for: it lives in the web folder.
  EXPECT_EQ(services.asked,
            (std::vector<std::string>{"state CSOstraServer", "path CSOstraServer",
                                      "state CSOstraAgent", "path CSOstraAgent", "state W3SVC"}));
}

TEST_F(MakePlanTest, ComponentsThatCannotBeHandledAreLeftOutAndNotAskedAgain) {
  // No web platform: neither its scripts nor its DLL.
  facts.velinEnabled = false;
  facts.availableVelinVersion = 72;
  Offer(table, 0, "Server");
  Offer(table, 1, "Agent");
  Offer(table, 2, "Velin", facts.cgiBinDir);
  Offer(table, 3, "Message");  // no such service here
  facts.velinEntry = 2;
  services.paths.erase("CSOstraAgent");  // its program path cannot be read
  const Plan plan = Make();

  ASSERT_EQ(plan.steps.size(), 1u);
  EXPECT_EQ(plan.steps[0].entry, 0);
  EXPECT_EQ(plan.steps[0].row, 4);
  EXPECT_EQ(plan.rowCount, 1);
  EXPECT_EQ(plan.estimateSeconds, 21);
  EXPECT_EQ(table[0].needsUpdate, 1);
  EXPECT_EQ(table[1].needsUpdate, 0);
  EXPECT_EQ(table[2].needsUpdate, 0);
  EXPECT_EQ(table[3].needsUpdate, 0);
  EXPECT_EQ(services.asked, (std::vector<std::string>{"state CSOstraServer", "path CSOstraServer",
                                                      "state CSOstraAgent", "path CSOstraAgent",
                                                      "state CSOstraMessage"}));
}

TEST_F(MakePlanTest, TheDataInterfaceFollowsTheWebDll) {
  // With a newer web DLL after it: it carries the web server's state, read again.
  facts.ostDataPending = true;
  Offer(table, 1, "OstData", facts.cgiBinDir);
  Offer(table, 4, "Velin", facts.cgiBinDir);
  facts.velinEntry = 4;
  services.states["W3SVC"] = kStopped;
  Plan plan = Make();
  ASSERT_EQ(plan.steps.size(), 2u);
  EXPECT_EQ(plan.steps[0].downloadKind, DownloadKind::kOstData);
  EXPECT_EQ(table[1].serviceName, "");
  EXPECT_EQ(table[1].stateBefore, kStopped);
  EXPECT_EQ(services.asked, (std::vector<std::string>{"state ", "shared W3SVC", "state W3SVC"}));
  EXPECT_FALSE(plan.ostDataLeftOut);

  // Behind a current web DLL it goes alone, with the web server as its service.
  table = ServiceTable{};
  services.asked.clear();
  Offer(table, 1, "OstData", facts.cgiBinDir);
  facts.velinEntry = -1;
  plan = Make();
  ASSERT_EQ(plan.steps.size(), 1u);
  EXPECT_EQ(table[1].serviceName, "W3SVC");
  EXPECT_EQ(table[1].stateBefore, kStopped);
  EXPECT_EQ(services.asked, (std::vector<std::string>{"state W3SVC"}));

  // Not found on the machine: not planned, and nothing left out.
  table = ServiceTable{};
  facts.ostDataPending = false;
  Offer(table, 1, "OstData", facts.cgiBinDir);
  plan = Make();
  EXPECT_TRUE(plan.steps.empty());
  EXPECT_FALSE(plan.ostDataLeftOut);

  // A newer web DLL that cannot be updated here holds the data interface back.
  table = ServiceTable{};
  facts.ostDataPending = true;
  facts.velinEnabled = true;
  services.states.erase("W3SVC");
  Offer(table, 1, "Velin", facts.cgiBinDir);
  Offer(table, 3, "OstData", facts.cgiBinDir);
  facts.velinEntry = 1;
  plan = Make();
  EXPECT_TRUE(plan.steps.empty());
  EXPECT_EQ(table[3].needsUpdate, 0);
  EXPECT_TRUE(plan.ostDataLeftOut);
}

TEST(ApplyStepTest, TheEarlierWebDllWaitsForTheLaterOne) {
  ServiceTable table{};
  Offer(table, 0, "Server");
  Offer(table, 2, "Velin");
  Offer(table, 4, "OstData");
  WebDllPairing velin = PairWebDll(table, 2, 2, 4);
  EXPECT_TRUE(velin.webDll);
  EXPECT_EQ(velin.otherEntry, 4);
  EXPECT_TRUE(velin.otherStillToCome);
  WebDllPairing data = PairWebDll(table, 4, 2, 4);
  EXPECT_TRUE(data.webDll);
  EXPECT_EQ(data.otherEntry, 2);
  EXPECT_FALSE(data.otherStillToCome);
  // The other one left out of the plan: nothing to wait for.
  table[4].needsUpdate = 0;
  EXPECT_FALSE(PairWebDll(table, 2, 2, 4).otherStillToCome);
  // Without a data interface in the manifest.
  EXPECT_FALSE(PairWebDll(table, 2, 2, -1).otherStillToCome);
  const WebDllPairing server = PairWebDll(table, 0, 2, 4);
  EXPECT_FALSE(server.webDll);
  EXPECT_EQ(server.otherEntry, -1);
}

TEST(ApplyStepTest, TheRowEndsAsTheStartAndTheHealthCheckWent) {
  constexpr int32_t kStartFailed = 1053;
  EXPECT_EQ(OutcomeOfStart(kRunning, 0, true), StartOutcome::kStarted);
  EXPECT_EQ(OutcomeOfStart(kRunning, 5, true), StartOutcome::kHealthPassed);
  EXPECT_EQ(OutcomeOfStart(kRunning, 5, false), StartOutcome::kHealthFailed);
  // A start that failed is that, whatever the health check would have said.
  EXPECT_EQ(OutcomeOfStart(kStartFailed, 5, true), StartOutcome::kStartFailed);
  EXPECT_EQ(OutcomeOfStart(kStopped, 0, true), StartOutcome::kStartFailed);
}

ManifestRow Row(int32_t version, const char* key, RowEnd end = RowEnd::kComplete) {
  ManifestRow row;
  row.version = version;
  row.end = end;
  row.component = key ? FindComponent(key) : nullptr;
  row.versionLabel = "v" + std::to_string(version);
  row.description = std::string(key ? key : "?") + " desc";
  return row;
}

TEST(ManifestVerdictTest, NewerRowsFillTheirEntriesUpToTheFirstIncompleteOne) {
  InstallationFacts facts;
  facts.installedOstraVersion = 380;
  facts.installedVelinVersion = 70;
  facts.cgiBinDir = "D:\\wwwroot\\cgi-bin";
  facts.componentNumbers = {10, 10, 10, 10, 10, 10};
  auto installed = [&] {
    ServiceTable table{};
    for (size_t i = 0; i < table.size(); ++i) table[i].installedVersion = 10;
    return table;
  };
  Manifest manifest;
  manifest.hasEntryBlock = true;
  manifest.ostraVersionUsable = false;  // names no release: the installed one
  manifest.ostraVersion = 12000;
  manifest.velinVersionUsable = true;
  manifest.velinVersion = 72;
  manifest.rows = {Row(10, "Server"), Row(12, "Velin"), Row(12, "OstData"),
                   Row(12, "Agent", RowEnd::kNoLabelEnd), Row(12, "Message")};
  ServiceTable table = installed();
  ManifestVerdict verdict = JudgeManifest(manifest, facts, table);
  EXPECT_TRUE(verdict.usable);
  EXPECT_TRUE(verdict.updateFound);
  EXPECT_EQ(verdict.availableOstraVersion, 380);
  EXPECT_EQ(verdict.availableVelinVersion, 72);
  EXPECT_EQ(verdict.velinEntry, 1);
  EXPECT_EQ(verdict.ostDataEntry, 2);
  EXPECT_EQ(table[0].needsUpdate, 0);
  EXPECT_EQ(table[0].availableVersion, 10);
  EXPECT_EQ(table[1].installDir, "D:\\wwwroot\\cgi-bin");
  EXPECT_EQ(table[1].versionLabel, "v12");
  EXPECT_EQ(table[2].description, "OstData desc");
  // The incomplete row keeps what was read before its end, and ends the scan.
  EXPECT_EQ(table[3].kind, 3);
  EXPECT_EQ(table[3].serviceName, "CSOstraAgent");
  EXPECT_EQ(table[3].versionLabel, "");
  EXPECT_EQ(table[4].needsUpdate, 0);
  EXPECT_EQ(table[4].availableVersion, 0);

  // A newer Ostra version alone is an update; a manifest without entries offers nothing.
  manifest.ostraVersionUsable = true;
  manifest.ostraVersion = 381;
  manifest.rows = {Row(10, "Server")};
  table = installed();
  EXPECT_TRUE(JudgeManifest(manifest, facts, table).updateFound);
  manifest.hasEntryBlock = false;
  table = installed();
  verdict = JudgeManifest(manifest, facts, table);
  EXPECT_FALSE(verdict.usable);
  EXPECT_FALSE(verdict.updateFound);
  EXPECT_EQ(verdict.availableOstraVersion, 381);
  EXPECT_EQ(table[0].availableVersion, 0);
}

}  // namespace
}  // namespace ost
