// corvane-echo-server: the Linux side of the Windows transport tests (see EchoServer.h). The
// first line on standard output is "listening on http://127.0.0.1:PORT", flushed at once. Runs
// until it is killed.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "EchoServer.h"

int main(int argc, char** argv) {
  if (argc != 1 && (argc != 3 || std::strcmp(argv[1], "--port") != 0)) {
    std::fprintf(stderr, "usage: corvane-echo-server [--port PORT]\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const corvane_test::EchoServer server(argc == 3 ? std::atoi(argv[2]) : 0);
    std::printf("listening on %s\n", server.Url().c_str());
    std::fflush(stdout);
    for (;;) pause();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvane-echo-server: %s\n", e.what());
    return 1;
  }
}
