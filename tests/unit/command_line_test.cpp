#include <gtest/gtest.h>

#include "frontend/headless/options.h"

namespace ost {
namespace {

std::string Parse(std::vector<std::string> args, CommandLine* line, bool machineRoot = true) {
  if (machineRoot) args.insert(args.begin(), {"--root", "m"});
  return ParseCommandLine(args, machineRoot, line);
}

TEST(CommandLine, RollbackTakesAnOptionalRunAndNothingElse) {
  CommandLine line;
  EXPECT_EQ(Parse({"--rollback"}, &line), "");
  EXPECT_TRUE(line.rollback);
  EXPECT_EQ(line.rollbackRun, "");

  EXPECT_EQ(Parse({"--rollback", "20261209-052313-79e4"}, &line), "");
  EXPECT_EQ(line.rollbackRun, "20261209-052313-79e4");

  // An option after it is no run id.
  EXPECT_NE(Parse({"--rollback", "--headless"}, &line), "");
  EXPECT_NE(Parse({"--rollback", "--stage"}, &line), "");
  EXPECT_NE(Parse({"--rollback", "--tui"}, &line), "");
  EXPECT_NE(Parse({"--rollback", "--start"}, &line), "");

  // The Windows build: no machine root.
  EXPECT_EQ(Parse({"--rollback", "R1"}, &line, false), "");
  EXPECT_EQ(line.rollbackRun, "R1");
}

TEST(CommandLine, RecoverTakesNothingElse) {
  CommandLine line;
  EXPECT_EQ(Parse({"--recover"}, &line), "");
  EXPECT_TRUE(line.recover);
  EXPECT_EQ(Parse({"--recover"}, &line, false), "");
  EXPECT_TRUE(line.recover);
  // A recovery is no update, no rollback of a chosen run, no network check.
  EXPECT_NE(Parse({"--recover", "--headless"}, &line), "");
  EXPECT_NE(Parse({"--recover", "--rollback"}, &line), "");
  EXPECT_NE(Parse({"--recover", "--net-check"}, &line), "");
  EXPECT_NE(Parse({"--recover", "--stage"}, &line), "");
  EXPECT_NE(Parse({"--recover", "--tui"}, &line), "");
}

TEST(CommandLine, StageGoesWithTheDialogAndTheHeadlessRun) {
  CommandLine line;
  EXPECT_EQ(Parse({"--stage"}, &line), "");
  EXPECT_TRUE(line.options.stage);
  EXPECT_FALSE(line.headless);
  EXPECT_EQ(Parse({"--headless", "--start", "--stage"}, &line), "");
  EXPECT_TRUE(line.options.stage && line.headless && line.options.start);
  EXPECT_EQ(Parse({"--stage"}, &line, false), "");
  EXPECT_TRUE(line.options.stage);
}

}  // namespace
}  // namespace ost
