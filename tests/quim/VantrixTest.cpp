// The Vantrix logger: the record a sink receives, the threshold, the default sink's line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "quim/Vantrix.h"

namespace {

using quim::Vantrix;

TEST(Vantrix, SinkThresholdAndDefaultLine) {
  Vantrix& log = Vantrix::instance();
  const int savedLevel = log.Level();
  std::string seen;
  quim::LogSink saved = log.SetSink([&seen](const quim::LogRecord& r) {
    seen = std::string(r.file) + ":" + std::to_string(r.line) + " " + r.function + " " + r.tag +
           " " + std::to_string(r.level) + " " + r.message;
  });
  const std::string longText(5000, 'x');
  EXPECT_EQ(log.Log("A.cpp", 17, "F", "t", 6, "<%s>\n", longText.c_str()), 5002);
  EXPECT_EQ(seen, "A.cpp:17 F t 6 <" + longText + ">");
  log.SetLevel(4);
  EXPECT_EQ(log.Log("f", 1, "g", "t", 5, "dropped"), 0);
  EXPECT_EQ(log.Log("f", 1, "g", "t", 4, "kept\n\n"), 5);
  EXPECT_EQ(seen, "f:1 g t 4 kept\n");
  EXPECT_TRUE(log.SetSink(nullptr));
  EXPECT_FALSE(log.SetSink(nullptr));  // the default sink is reported as empty
  testing::internal::CaptureStderr();
  log.Log("Api.cpp", 88, "API_X", "c", 3, "code %d\n", 1005);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[3] Api.cpp:88 API_X: code 1005\n");
  log.SetSink(saved);
  log.SetLevel(savedLevel);
}

// The threshold comes from QUIM_LOG_LEVEL when the logger is first used: a fresh process.
int LevelWithEnvironment(const char* text) {
#ifdef _WIN32
  _putenv_s("QUIM_LOG_LEVEL", text);
#else
  setenv("QUIM_LOG_LEVEL", text, 1);
#endif
  return Vantrix::instance().Level();
}

TEST(VantrixEnvironment, LevelFromEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(LevelWithEnvironment("2")), ::testing::ExitedWithCode(2), "");
  EXPECT_EXIT(std::exit(LevelWithEnvironment("9")), ::testing::ExitedWithCode(6), "");
}

}  // namespace
