// Builds without the simulated platform server (Windows): --server is required.
#include "EmbeddedServer.h"

namespace corvane_cli {

std::unique_ptr<EmbeddedServer> EmbeddedServer::Start(std::uint64_t, std::string* why) {
  *why = "this build has no embedded platform server: give --server URL";
  return nullptr;
}

}  // namespace corvane_cli
