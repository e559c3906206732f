// Builds without the simulated platform server (Windows): --simulate is refused.
#include "EmbeddedServer.h"

namespace corvane_cli {

std::unique_ptr<EmbeddedServer> EmbeddedServer::Start(std::uint64_t, std::string* why) {
  *why = "this build has no simulated platform server (--simulate): give --server URL";
  return nullptr;
}

}  // namespace corvane_cli
