// The command-line client as a user runs it: exit statuses, messages, --json output read back,
// and the demo's verdict when the server fails an operation.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "MockControl.h"
#include "MockPlatform.h"
#include "quim/Json.h"

namespace {

struct CliRun {
  int exitStatus;
  std::string output;  // standard output and standard error together
};

CliRun Corvane(const std::string& arguments) {
  std::string command = std::string(CORVANE_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "popen failed"};
  std::string output;
  std::array<char, 4096> buffer;
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
    output.append(buffer.data(), n);
  }
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override { control_.Reset(); }
  std::string server_ = "--server " + corvane_test::MockServerUrl();
  corvane_test::MockControl control_;
};

TEST_F(Cli, BadArgumentsExitWithTwo) {
  for (const char* arguments :
       {"", "no-such-command", "ptz-trails", "alarm-contacts ALM-0001 yesterday",
        "dictionary-map 3x", "--timeout -5 ai-privacy", "speaker-volume set CH --speaker loud",
        "speaker-volume", "--server ftp://127.0.0.1:1 ai-privacy"}) {
    SCOPED_TRACE(arguments);
    CliRun run = Corvane(arguments);
    EXPECT_EQ(run.exitStatus, 2) << run.output;
    EXPECT_NE(run.output.find("corvane"), std::string::npos) << run.output;
  }
}

TEST_F(Cli, HelpAndVersion) {
  CliRun version = Corvane("--version");
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.output.rfind("corvane ", 0), 0u) << version.output;
  CliRun help = Corvane("speaker-volume set --help");
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.output.find("--mic"), std::string::npos) << help.output;
}

TEST_F(Cli, JsonOutputReadsBack) {
  const auto platform = corvane::mock::GeneratePlatformState(1);
  const corvane::mock::Channel* ptz = nullptr;
  for (const auto& channel : platform.channels) {
    if (channel.ptz && ptz == nullptr) ptz = &channel;
  }
  ASSERT_NE(ptz, nullptr);
  CliRun run = Corvane(server_ + " --json ptz-trails " + ptz->channelId);
  ASSERT_EQ(run.exitStatus, 0) << run.output;
  quim::Json::Value document;
  ASSERT_TRUE(quim::Json::Parse(run.output, document)) << run.output;
  EXPECT_EQ(document["operation"].asString(), "ptz-trails");
  EXPECT_EQ(document["status"].asInt(), 0);
  const quim::Json::Value& result = document["result"];
  ASSERT_EQ(result.size(), ptz->trails.size());
  for (unsigned i = 0; i < result.size(); ++i) {
    EXPECT_EQ(result[i]["trailId"].asString(), ptz->trails[i].trailId);
    EXPECT_EQ(result[i]["trailName"].asString(), ptz->trails[i].trailName);
  }
}

TEST_F(Cli, NonZeroStatusSaysWhatItMeans) {
  struct Row {
    std::string arguments;
    std::string message;
  } rows[] = {
      {server_ + " ptz-trails NO-SUCH-CHANNEL", "the server answered code 4004"},
      {"--server http://127.0.0.1:9 ai-privacy", "(-20201)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments);
    CliRun run = Corvane(row.arguments);
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find(row.message), std::string::npos) << run.output;
  }
}

TEST_F(Cli, DemoExitStatusFollowsTheServer) {
  CliRun good = Corvane(server_ + " demo");
  EXPECT_EQ(good.exitStatus, 0) << good.output;
  EXPECT_NE(good.output.find("14 of 14 operations succeeded"), std::string::npos) << good.output;

  control_.AddFault(R"({"path":"/vusk/api/v1.1/config/pos","kind":"business","code":5000})");
  CliRun bad = Corvane(server_ + " demo");
  EXPECT_EQ(bad.exitStatus, 1) << bad.output;
  EXPECT_NE(bad.output.find("13 of 14 operations succeeded"), std::string::npos) << bad.output;
  EXPECT_NE(bad.output.find("the server answered code 5000"), std::string::npos) << bad.output;
}

TEST_F(Cli, EmbeddedServerDemo) {
  CliRun run = Corvane("demo");
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_NE(run.output.find("14 of 14 operations succeeded"), std::string::npos) << run.output;
}

}  // namespace
