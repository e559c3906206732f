// A noisy neighbour for bench/run.sh (NEIGHBOUR=1): walks 64 MiB a cache line at a time, for
// ever, so that the caches the benchmark's client and server share hold little of theirs
// between calls — a slow moment of a shared machine, made on purpose. Run at a low priority, it
// mostly takes the CPU time that client and server leave idle while they wait for each other.
#include <cstddef>
#include <cstdint>
#include <vector>

int main() {
  constexpr std::size_t kBytes = std::size_t{64} << 20;
  constexpr std::size_t kLine = 64;
  std::vector<std::uint8_t> memory(kBytes, 1);
  volatile std::uint8_t* bytes = memory.data();
  for (;;) {
    for (std::size_t i = 0; i < kBytes; i += kLine)
      bytes[i] = static_cast<std::uint8_t>(bytes[i] + 1);
  }
}
