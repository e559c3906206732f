// The simulated platform server, started in-process on a free loopback port for --simulate and
// for a demo given no server.
#ifndef CORVANE_CLI_EMBEDDEDSERVER_H
#define CORVANE_CLI_EMBEDDEDSERVER_H

#include <cstdint>
#include <memory>
#include <string>

namespace corvane_cli {

class EmbeddedServer {
 public:
  // Starts the server for the platform of seed; null with *why set when that is impossible
  // (a build without the simulated server, or no loopback port).
  static std::unique_ptr<EmbeddedServer> Start(std::uint64_t seed, std::string* why);
  virtual ~EmbeddedServer() = default;
  virtual std::string Url() const = 0;
};

}  // namespace corvane_cli

#endif  // CORVANE_CLI_EMBEDDEDSERVER_H
