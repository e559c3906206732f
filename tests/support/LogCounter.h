// Counts the records written through the logger while alive, and keeps them off standard error.
// Counting allocates nothing, so it can stand inside an allocation balance.
#ifndef CORVANE_TESTS_LOGCOUNTER_H
#define CORVANE_TESTS_LOGCOUNTER_H

#include "quim/Vantrix.h"

namespace corvane_test {

class LogCounter {
 public:
  LogCounter() {
    previous_ = quim::Vantrix::instance().SetSink([this](const quim::LogRecord&) { ++count_; });
  }
  ~LogCounter() { quim::Vantrix::instance().SetSink(previous_); }
  LogCounter(const LogCounter&) = delete;
  LogCounter& operator=(const LogCounter&) = delete;
  int count() const { return count_; }

 private:
  quim::LogSink previous_;
  int count_ = 0;
};

}  // namespace corvane_test

#endif  // CORVANE_TESTS_LOGCOUNTER_H
