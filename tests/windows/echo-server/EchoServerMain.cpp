// corvane-echo-server: the Linux side of the Windows transport tests (see EchoServer.h). The
// first line on standard output is "listening on http://127.0.0.1:PORT", flushed at once. Runs
// until it is killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "EchoServer.h"

// corvane-echo-server [--port PORT]; a port that cannot be bound ends it with an uncaught
// std::runtime_error.
int main(int argc, char** argv) {
  const corvane_test::EchoServer server(argc == 3 ? std::atoi(argv[2]) : 0);
  std::printf("listening on %s\n", server.Url().c_str());
  std::fflush(stdout);
  for (;;) pause();
}
