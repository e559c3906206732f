#include "BenchProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace corvane_bench {
namespace {

// Puts every thread of a process on the given CPUs; threads it starts later inherit them.
void PinProcess(pid_t pid, const cpu_set_t& cpus) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') sched_setaffinity(std::atoi(entry->d_name), sizeof cpus, &cpus);
  }
  closedir(dir);
}

}  // namespace

void ServerProcess::Start(const std::string& binary, const std::vector<std::string>& extra) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {binary, "--port", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    pid_ = 0;
    throw std::runtime_error("cannot start " + binary);
  }
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  close(out[0]);
  const std::string prefix = "listening on ";
  if (line.rfind(prefix, 0) != 0) throw std::runtime_error("unexpected server output: " + line);
  url_ = line.substr(prefix.size());
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = 0;
}

void RunQuietly(const std::vector<std::string>& args) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed");
  }
}

// A P-256 key: quick to make, and the handshake happens once per connection anyway.
Certificate::Certificate() {
  char folder[] = "/tmp/corvane-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  folder_ = folder;
  cert_ = folder_ + "/cert.pem";
  key_ = folder_ + "/key.pem";
  try {
    RunQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key_, "-out", cert_});
  } catch (...) {
    Remove();
    throw;
  }
}

Certificate::~Certificate() { Remove(); }

void Certificate::Remove() {
  unlink(cert_.c_str());
  unlink(key_.c_str());
  rmdir(folder_.c_str());
}

double ProcessCpuNs(pid_t pid) {
  clockid_t clock;
  timespec now{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &now) != 0) return 0;
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

CpuTimes OwnCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double userNs = usage.ru_utime.tv_sec * 1e9 + usage.ru_utime.tv_usec * 1e3;
  return {userNs + usage.ru_stime.tv_sec * 1e9 + usage.ru_stime.tv_usec * 1e3, userNs};
}

Placement::Placement(pid_t server) : server_(server) {
  pinned_ = server_ > 0 && std::thread::hardware_concurrency() >= 2 &&
            sched_getaffinity(0, sizeof before_, &before_) == 0;
  if (!pinned_) return;
  cpu_set_t cpu;
  CPU_ZERO(&cpu);
  CPU_SET(1, &cpu);
  PinProcess(server_, cpu);
  CPU_ZERO(&cpu);
  CPU_SET(0, &cpu);
  sched_setaffinity(0, sizeof cpu, &cpu);
}

Placement::~Placement() {
  if (!pinned_) return;
  PinProcess(server_, before_);
  sched_setaffinity(0, sizeof before_, &before_);
}

}  // namespace corvane_bench
