// quim::Vantrix: the process-wide print logger.
#include "quim/Vantrix.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quim {
namespace {

constexpr int kDefaultLevel = 6;

int LevelFromEnvironment() {
  const char* text = std::getenv("QUIM_LOG_LEVEL");  // NOLINT(concurrency-mt-unsafe): once
  if (text != nullptr && text[0] >= '0' && text[0] <= '7' && text[1] == '\0') return text[0] - '0';
  return kDefaultLevel;
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// One fwrite per record, so records from several threads do not interleave.
void WriteToStderr(const LogRecord& record) {
  std::string line;
  line.reserve(64 + std::char_traits<char>::length(record.message));
  line += '[';
  line += std::to_string(record.level);
  line += "] ";
  line += record.file;
  line += ':';
  line += std::to_string(record.line);
  line += ' ';
  line += record.function;
  line += ": ";
  line += record.message;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

Vantrix& Vantrix::instance() {
  static Vantrix logger;
  return logger;
}

Vantrix::Vantrix() : level_(LevelFromEnvironment()) {}
Vantrix::~Vantrix() = default;

int Vantrix::Log(const char* file, int line, const char* function, const char* tag, int level,
                 const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = LogV(file, line, function, tag, level, format, args);
  va_end(args);
  return length;
}

int Vantrix::LogV(const char* file, int line, const char* function, const char* tag, int level,
                  const char* format, va_list args) {
  if (level > Level()) return 0;
  format = OrEmpty(format);
  // Most messages fit the stack buffer; a longer one is formatted again into the heap.
  char small[512];
  std::vector<char> large;
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(small, sizeof small, format, args);
  char* message = small;
  if (length >= static_cast<int>(sizeof small)) {
    large.resize(static_cast<std::size_t>(length) + 1);
    length = std::vsnprintf(large.data(), large.size(), format, again);
    message = large.data();
  }
  va_end(again);
  if (length < 0) return -1;
  if (length > 0 && message[length - 1] == '\n') message[--length] = '\0';

  LogRecord record{OrEmpty(file), line, OrEmpty(function), OrEmpty(tag), level, message};
  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    sink = sink_;
  }
  if (sink) {
    (*sink)(record);
  } else {
    WriteToStderr(record);
  }
  return length;
}

LogSink Vantrix::SetSink(LogSink sink) {
  std::shared_ptr<const LogSink> next;
  if (sink) next = std::make_shared<const LogSink>(std::move(sink));
  std::shared_ptr<const LogSink> previous;
  {
    std::lock_guard<std::mutex> lock(sinkMutex_);
    previous.swap(sink_);
    sink_ = std::move(next);
  }
  // The previous sink may still be running in another thread, which holds its own reference.
  return previous ? *previous : LogSink();
}

void Vantrix::SetLevel(int level) { level_.store(level, std::memory_order_relaxed); }

}  // namespace quim
