#include "EmbeddedServer.h"

#include <exception>

#include "MockServer.h"

namespace corvane_cli {
namespace {

class MockServerInProcess : public EmbeddedServer {
 public:
  explicit MockServerInProcess(std::uint64_t seed) : server_(Options(seed)) { server_.Start(); }
  std::string Url() const override { return server_.BaseUrl(); }

 private:
  static corvane::mock::ServerOptions Options(std::uint64_t seed) {
    corvane::mock::ServerOptions options;
    options.seed = seed;
    options.threads = 8;  // one client: a few connections at most
    return options;
  }
  corvane::mock::MockServer server_;
};

}  // namespace

std::unique_ptr<EmbeddedServer> EmbeddedServer::Start(std::uint64_t seed, std::string* why) {
  try {
    return std::make_unique<MockServerInProcess>(seed);
  } catch (const std::exception& e) {
    *why = std::string("cannot start the simulated platform server: ") + e.what();
    return nullptr;
  }
}

}  // namespace corvane_cli
