// corvane-mock-server: serves the simulated platform on HOST:PORT until SIGINT, SIGTERM or a
// POST to /__mock/shutdown. Its first line on standard output is "listening on http://HOST:PORT",
// flushed at once, so that a test fixture or script can read the port it picked.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "MockServer.h"

namespace {

constexpr char kUsage[] =
    "usage: corvane-mock-server [--host HOST] [--port PORT] [--seed N] [--threads N] [--log]\n"
    "                           [--tls-cert FILE --tls-key FILE [--tls-client-ca FILE]\n"
    "                           [--tls-max-version 1.2|1.3]] [--require-token TOKEN] [--no-gzip]\n"
    "                           [--secret-header NAME]...\n"
    "  --host HOST   address to listen on (default 127.0.0.1)\n"
    "  --port PORT   port to listen on; 0 picks a free one (default 0)\n"
    "  --seed N      seed of the simulated platform (default 1)\n"
    "  --threads N   worker threads, one per open connection (default 64)\n"
    "  --log         one line per answered request on standard error\n"
    "  --tls-cert FILE, --tls-key FILE\n"
    "                serve HTTPS with this PEM certificate and private key\n"
    "  --tls-client-ca FILE\n"
    "                require a client certificate issued by a CA of this PEM file\n"
    "  --tls-max-version 1.2|1.3\n"
    "                the highest TLS version offered\n"
    "  --require-token TOKEN\n"
    "                API requests need \"Authorization: Bearer TOKEN\" (401 otherwise)\n"
    "  --no-gzip     never gzip-code answers (by default: 1 KiB or more, when accepted)\n"
    "  --secret-header NAME\n"
    "                the request log masks this header's values too (Authorization,\n"
    "                Proxy-Authorization, Cookie and X-Api-Key always); repeatable\n";

std::optional<std::uint64_t> ParseUnsigned(const std::string& text, std::uint64_t max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value > max) return std::nullopt;
  return value;
}

// Reads the command line into `options`; the message names what is wrong.
std::optional<std::string> ParseOptions(int argc, char** argv,
                                        corvane::mock::ServerOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::optional<std::string> value;
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if ((name == "--log" || name == "--no-gzip") && !value) {
      (name == "--log" ? options.logRequests : options.gzip) = name == "--log";
      continue;
    }
    if (name != "--host" && name != "--port" && name != "--seed" && name != "--threads" &&
        name != "--tls-cert" && name != "--tls-key" && name != "--tls-client-ca" &&
        name != "--tls-max-version" && name != "--require-token" && name != "--secret-header") {
      return "unknown option " + name;
    }
    if (!value) {
      if (i + 1 >= argc) return name + " needs a value";
      value = argv[++i];
    }
    if (name == "--host") {
      if (value->empty()) return "--host needs an address";
      options.host = *value;
    } else if (name == "--tls-cert" || name == "--tls-key" || name == "--tls-client-ca") {
      if (value->empty()) return name + " needs a file";
      (name == "--tls-cert"  ? options.tlsCertFile
       : name == "--tls-key" ? options.tlsKeyFile
                             : options.tlsClientCaFile) = *value;
    } else if (name == "--tls-max-version") {
      if (*value != "1.2" && *value != "1.3") return "--tls-max-version must be 1.2 or 1.3";
      options.tlsMaxVersion = *value == "1.2" ? 0x303 : 0x304;
    } else if (name == "--require-token") {
      for (const char c : *value) {
        if (c <= ' ' || c > '~') return "--require-token takes visible ASCII without spaces";
      }
      if (value->empty()) return "--require-token needs a token";
      options.requireToken = *value;
    } else if (name == "--secret-header") {
      if (value->empty()) return "--secret-header needs a header name";
      options.secretHeaders.push_back(*value);
    } else if (name == "--port") {
      const auto port = ParseUnsigned(*value, 65535);
      if (!port) return "--port must be 0 to 65535";
      options.port = static_cast<int>(*port);
    } else if (name == "--seed") {
      const auto seed = ParseUnsigned(*value, UINT64_MAX);
      if (!seed) return "--seed must be an unsigned 64-bit number";
      options.seed = *seed;
    } else {
      const auto threads = ParseUnsigned(*value, 4096);
      if (!threads || *threads < 2) return "--threads must be 2 to 4096";
      options.threads = static_cast<std::size_t>(*threads);
    }
  }
  if (options.tlsCertFile.empty() != options.tlsKeyFile.empty()) {
    return "--tls-cert and --tls-key go together";
  }
  if (options.tlsCertFile.empty() &&
      (!options.tlsClientCaFile.empty() || options.tlsMaxVersion != 0)) {
    return "--tls-client-ca and --tls-max-version need --tls-cert and --tls-key";
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
  }
  corvane::mock::ServerOptions options;
  if (const auto problem = ParseOptions(argc, argv, options)) {
    std::cerr << "corvane-mock-server: " << *problem << "\n" << kUsage;
    return 2;
  }

  // A client that goes away while its answer is written must not end the server.
  ::signal(SIGPIPE, SIG_IGN);
  // SIGINT and SIGTERM are blocked before any thread starts, so every thread inherits the mask
  // and only the wait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  corvane::mock::MockServer server(options);
  try {
    server.Start();
  } catch (const std::runtime_error& error) {
    std::cerr << "corvane-mock-server: " << error.what() << "\n";
    return 1;
  }
  std::cout << "listening on " << server.BaseUrl() << std::endl;

  const timespec tick{0, 100 * 1000 * 1000};
  while (!server.ShutdownRequested()) {
    const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
    if (signal == SIGINT || signal == SIGTERM) break;
  }
  server.Stop();
  return 0;
}
