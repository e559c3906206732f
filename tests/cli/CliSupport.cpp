#include "CliSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <regex>
#include <sstream>

namespace cli_test {

corvane::mock::MockServer* Cli::server_ = nullptr;
corvane::mock::MockServer* Cli::tlsServer_ = nullptr;
corvane::mock::MockServer* Cli::mtlsServer_ = nullptr;

std::string ScratchFile(const char* name) {
  return testing::TempDir() + "corvane-cli-" + std::to_string(getpid()) + "-" + name;
}

// Runs the client through the shell with the variables it reads unset, but for the NAME=value
// words that start arguments.
CliRun Corvane(const std::string& arguments) {
  const std::string errFile = ScratchFile("stderr");
  std::smatch assignments;
  std::regex_search(arguments, assignments, std::regex("^([A-Za-z_]+=\\S* )*"));
  const std::string command =
      "env -u CORVANE_SERVER -u CORVANE_TOKEN -u CORVANE_KEY_PASSWORD -u ZENTA_TRACE -u "
      "http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u no_proxy -u NO_PROXY "
      "XDG_CONFIG_HOME=" +
      ScratchFile("config") + " " + assignments.str() + CORVANE_CLI_PATH + " " +
      arguments.substr(assignments.length()) + " 2>" + errFile;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "", "popen failed"};
  CliRun run{-1, "", ""};
  std::array<char, 4096> buffer;
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
    run.out.append(buffer.data(), n);
  }
  const int status = pclose(pipe);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  run.err = err.str();
  return run;
}

}  // namespace cli_test
