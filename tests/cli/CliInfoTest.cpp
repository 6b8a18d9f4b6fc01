#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/TestSupport.h"

namespace {

struct RunResult {
  int status = -1;
  std::string output;
};

// Runs tovrin-convert from the program folder with the arguments; output holds
// stdout and stderr together.
RunResult RunConverter(const std::string& arguments) {
  const std::string command = testsupport::ProgramFolder() + "/tovrin-convert " + arguments + " 2>&1";
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

TEST(CliInfoTest, PrintsTheInformationTextOfEachFile) {
  const RunResult result =
      RunConverter("--info " + testsupport::Fixture("avi_mpeg4_mp3.avi") + " " + testsupport::Fixture("tone.wav"));
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("File Name: " + testsupport::Fixture("avi_mpeg4_mp3.avi") + "\n"), std::string::npos);
  EXPECT_NE(result.output.find("Format Name: avi\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Format Name: wav\n"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find('\r'), std::string::npos) << "terminal output uses plain line feeds";
}

TEST(CliInfoTest, AFileThatDoesNotOpenFailsWithItsMessageAfterTheOthers) {
  testsupport::TempFolder folder;
  const std::string missing = folder.File("gone.avi");
  const RunResult result = RunConverter("--info " + missing + " " + testsupport::Fixture("tone.wav"));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find(missing + ": no such file or directory"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Format Name: wav"), std::string::npos) << result.output;
}

TEST(CliInfoTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunConverter("").status, 2);
  EXPECT_EQ(RunConverter("--no-such-option x").status, 2);
  EXPECT_EQ(RunConverter("--help").status, 0);
}

}  // namespace
