// quim::Vantrix: the process-wide print logger.
//
// Levels follow syslog: 0 (emergency, most severe) to 7 (debug). A record whose level is above
// the threshold is dropped; the threshold is 6 unless the environment variable QUIM_LOG_LEVEL
// (0..7) sets another when the logger is first used, or SetLevel changes it.
//
// The default sink writes one line per record to standard error:
//   [level] file:line function: message
// (a line feed that ends the formatted message is not doubled). An application can install its
// own sink. Log, SetSink and SetLevel are safe to call from any thread; a sink may be called from
// several threads at once and must not call SetSink itself.
#ifndef QUIM_VANTRIX_H
#define QUIM_VANTRIX_H

#include <atomic>
#include <cstdarg>
#include <functional>
#include <memory>
#include <mutex>

#include "quim/QuimExport.h"

#if defined(__GNUC__) || defined(__clang__)
#define QUIM_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUIM_PRINTF_FORMAT(fmt, args)
#endif

namespace quim {

// One log record as a sink receives it. The pointers are valid only during the sink's call.
struct LogRecord {
  const char* file;
  int line;
  const char* function;
  const char* tag;
  int level;
  const char* message;  // formatted message, a final line feed removed
};

using LogSink = std::function<void(const LogRecord&)>;

class QUIM_API Vantrix {
 public:
  static Vantrix& instance();

  // Formats the message printf-style and hands the record to the sink unless its level is above
  // the threshold. Returns the length of the message the sink receives (a final line feed
  // removed), 0 when the record was dropped, or -1 when the format could not be applied. Null
  // strings are treated as "".
  int Log(const char* file, int line, const char* function, const char* tag, int level,
          const char* format, ...) QUIM_PRINTF_FORMAT(7, 8);
  int LogV(const char* file, int line, const char* function, const char* tag, int level,
           const char* format, va_list args);

  // Installs a sink; an empty function restores the default one. Returns the previous sink
  // (empty when it was the default).
  LogSink SetSink(LogSink sink);
  void SetLevel(int level);
  int Level() const { return level_.load(std::memory_order_relaxed); }

  Vantrix(const Vantrix&) = delete;
  Vantrix& operator=(const Vantrix&) = delete;

 private:
  Vantrix();
  ~Vantrix();

  std::atomic<int> level_;
  mutable std::mutex sinkMutex_;
  std::shared_ptr<const LogSink> sink_;  // null: the default sink
};

}  // namespace quim

#endif  // QUIM_VANTRIX_H
