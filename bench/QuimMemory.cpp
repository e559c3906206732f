// What reading an answer costs in memory, as the process feels it: for each shape of answer, a
// fresh process (this program again) reads its resident set before the answer exists, makes the
// answer in one NUL-terminated buffer of its exact size (as the gateway hands it over), parses it
// with quim::Json::Parse and reads its peak resident set (VmHWM). The peak above the baseline
// counts the answer itself, the tree and whatever the reader held on the way; it is held to 10
// times the answer.
//
//   quim_memory [--bytes N] [--limit R] [shape ...]
//
// prints one Markdown table row per shape (all shapes when none is named; a shape by its id):
// shape, answer bytes (64 MiB unless --bytes says otherwise), peak resident set above the
// baseline, its ratio to the answer, and the parse's processor time. With --limit it exits with 1
// when a ratio exceeds R. Linux only (it reads /proc/self/status); a sanitizer's shadow memory
// would be in every figure, so under one it exits with 77 (skipped) at once.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "quim/Json.h"

namespace {

// An answer of at most `bytes` bytes in a malloc'd buffer with a NUL after it.
struct Answer {
  char* text = nullptr;
  std::size_t size = 0;
};

// Appends to a buffer sized once: the answer takes exactly its bytes and nothing grows.
class Filler {
 public:
  explicit Filler(std::size_t capacity)
      : text_(static_cast<char*>(std::malloc(capacity + 1))), capacity_(capacity) {
    if (text_ == nullptr) std::abort();
  }
  void Put(const std::string& piece) {
    if (used_ + piece.size() > capacity_) std::abort();
    std::memcpy(text_ + used_, piece.data(), piece.size());
    used_ += piece.size();
  }
  Answer Finish() {
    text_[used_] = '\0';
    return {text_, used_};
  }

 private:
  char* text_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// head, then as many units (unit(i) of a fixed length) as fit, separated by commas, then tail.
Answer Repeat(std::size_t bytes, const std::string& head, const std::string& tail,
              const std::function<std::string(std::size_t)>& unit) {
  const std::size_t unitSize = unit(0).size() + 1;
  const std::size_t count = (bytes - head.size() - tail.size() + 1) / unitSize;
  Filler out(head.size() + count * unitSize + tail.size());
  out.Put(head);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out.Put(",");
    out.Put(unit(i));
  }
  out.Put(tail);
  return out.Finish();
}

// A fixed-width decimal name for member i of up to `count` members: every unit equally long.
std::string Name(std::size_t i, int width) {
  std::string digits = std::to_string(i);
  return "m" + std::string(static_cast<std::size_t>(width) - digits.size(), '0') + digits;
}

struct Shape {
  const char* id;
  const char* name;
  const char* sample;  // how the answer looks
  std::function<Answer(std::size_t)> make;
};

std::string Constant(const char* text) { return text; }

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"numbers", "numbers", "[0,0,…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("0"); });
       }},
      {"nested", "nested arrays", "[[0],[0],…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("[0]"); });
       }},
      {"deep", "500-deep nesting", "[[[…[0]…]],…], 500 levels",
       [](std::size_t n) {
         const std::string deep = std::string(499, '[') + "0" + std::string(499, ']');
         return Repeat(n, "[", "]", [&deep](std::size_t) { return deep; });
       }},
      {"empty", "empty arrays, objects, strings", "[[],{},\"\",…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("[],{},\"\""); });
       }},
      {"short1", "short strings (1 byte)", "[\"a\",\"a\",…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("\"a\""); });
       }},
      {"short7", "short strings (7 bytes)", "[\"abcdefg\",…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("\"abcdefg\""); });
       }},
      {"members", "many members", "{\"m0000000\":0,\"m0000001\":0,…}",
       [](std::size_t n) {
         const int width = static_cast<int>(std::to_string(n / 8).size());
         return Repeat(n, "{", "}",
                       [width](std::size_t i) { return "\"" + Name(i, width) + "\":0"; });
       }},
      {"objects", "many small objects", "[{\"a\":0},{\"a\":0},…]",
       [](std::size_t n) {
         return Repeat(n, "[", "]", [](std::size_t) { return Constant("{\"a\":0}"); });
       }},
      {"duplicates", "duplicate names", "{\"a\":0,\"a\":0,…}",
       [](std::size_t n) {
         return Repeat(n, "{", "}", [](std::size_t) { return Constant("\"a\":0"); });
       }},
      {"long", "one long string", "\"xx…x\"",
       [](std::size_t n) {
         Filler out(n);
         out.Put("\"" + std::string(n - 2, 'x') + "\"");
         return out.Finish();
       }},
      {"list", "list answer", "{\"code\":1000,\"data\":{\"results\":[{\"trailId\":…},…]}}",
       [](std::size_t n) {
         return Repeat(n, "{\"code\":1000,\"data\":{\"results\":[", "]}}", [](std::size_t i) {
           return "{\"trailId\":\"" + std::to_string(100000000 + i % 100000000) +
                  "\",\"trailName\":\"Trail along the north fence\"}";
         });
       }},
  };
  return shapes;
}

// A field of /proc/self/status in bytes (it is given in kB).
long long StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line[length] == ':') {
      return std::atoll(line.c_str() + length + 1) * 1024;
    }
  }
  return -1;
}

// The child: one shape, one line "answer bytes, peak above baseline, parse seconds".
int Measure(const Shape& shape, std::size_t bytes) {
  // The peak so far (loading, start-up) is of no interest: start it again from here, where the
  // kernel allows (Linux 4.0 on); otherwise the peak before any work is the baseline.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long long rss = StatusBytes("VmRSS");
  const long long hwm = StatusBytes("VmHWM");
  const long long baseline = hwm > rss ? hwm : rss;
  Answer answer = shape.make(bytes);
  const std::clock_t start = std::clock();
  bool parsed;
  {
    quim::Json::Value root;
    parsed = quim::Json::Parse(answer.text, root);
  }
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  const long long peak = StatusBytes("VmHWM") - baseline;
  std::printf("%zu %lld %.3f %d\n", answer.size, peak, seconds, parsed ? 1 : 0);
  std::free(answer.text);
  return parsed ? 0 : 1;
}

std::string Grouped(long long value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUIM_MEMORY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define QUIM_MEMORY_SANITIZED 1
#endif
#endif

int main(int argc, char** argv) {
#ifdef QUIM_MEMORY_SANITIZED
  std::printf("skipped: a sanitizer's shadow memory would be in every figure\n");
  return 77;
#endif
  std::size_t bytes = std::size_t{64} << 20;
  double limit = 0;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bytes" && i + 1 < argc) {
      bytes = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--limit" && i + 1 < argc) {
      limit = std::strtod(argv[++i], nullptr);
    } else if (arg == "--child" && i + 1 < argc) {
      for (const Shape& shape : Shapes()) {
        if (shape.id == std::string(argv[i + 1])) return Measure(shape, bytes);
      }
      return 2;
    } else {
      wanted.push_back(arg);
    }
  }
  std::printf(
      "| shape | answer | answer bytes | peak RSS above baseline | ratio | parse CPU s |\n");
  std::printf("|---|---|---:|---:|---:|---:|\n");
  bool within = true;
  for (const Shape& shape : Shapes()) {
    bool chosen = wanted.empty();
    for (const std::string& id : wanted) chosen = chosen || id == shape.id;
    if (!chosen) continue;
    // A fresh process per shape: one shape's freed memory is no other's baseline.
    int pipes[2];
    if (pipe(pipes) != 0) return 2;
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipes[1], 1);
      close(pipes[0]);
      const std::string size = std::to_string(bytes);
      execl("/proc/self/exe", argv[0], "--bytes", size.c_str(), "--child", shape.id,
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipes[1]);
    char line[256] = {};
    FILE* from = fdopen(pipes[0], "r");
    const bool read = from != nullptr && std::fgets(line, sizeof line, from) != nullptr;
    if (from != nullptr) std::fclose(from);
    int status = 0;
    waitpid(child, &status, 0);
    unsigned long long size = 0;
    long long peak = 0;
    double seconds = 0;
    int parsed = 0;
    if (!read || std::sscanf(line, "%llu %lld %lf %d", &size, &peak, &seconds, &parsed) != 4 ||
        parsed != 1) {
      std::printf("| %s | %s | failed (status %d) | | | |\n", shape.name, shape.sample, status);
      within = false;
      continue;
    }
    const double ratio = static_cast<double>(peak) / static_cast<double>(size);
    std::printf("| %s | `%s` | %s | %s | %.1f × | %.2f |\n", shape.name, shape.sample,
                Grouped(static_cast<long long>(size)).c_str(), Grouped(peak).c_str(), ratio,
                seconds);
    std::fflush(stdout);
    if (limit > 0 && ratio > limit) within = false;
  }
  return within ? 0 : 1;
}
