// The Vantrix logger: records as a sink receives them, the threshold, the default sink's line.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "quim/Vantrix.h"

namespace {

using quim::LogRecord;
using quim::Vantrix;

struct Captured {
  std::string file, function, tag, message;
  int line = 0;
  int level = 0;
};

// Installs a capturing sink at threshold 7 and restores the logger afterwards.
class VantrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLevel_ = log().Level();
    log().SetLevel(7);
    savedSink_ = log().SetSink([this](const LogRecord& r) {
      records_.push_back({r.file, r.function, r.tag, r.message, r.line, r.level});
    });
  }
  void TearDown() override {
    log().SetSink(savedSink_);
    log().SetLevel(savedLevel_);
  }
  static Vantrix& log() { return Vantrix::instance(); }

  std::vector<Captured> records_;

 private:
  int savedLevel_ = 0;
  quim::LogSink savedSink_;
};

TEST_F(VantrixTest, SinkReceivesTheRecord) {
  const std::string longText(5000, 'x');
  struct Case {
    const char* name;
    const char* format;
    std::string argument;
    std::string message;
  };
  const Case cases[] = {
      {"formatted", "id=%s", "42", "id=42"},
      {"one final line feed stripped", "%s\n", "two\n", "two\n"},
      {"empty", "%s", "", ""},
      {"longer than the stack buffer", "<%s>", longText, "<" + longText + ">"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    records_.clear();
    int length = log().Log("Device.cpp", 17, "Fetch", "dev", 3, c.format, c.argument.c_str());
    EXPECT_EQ(length, static_cast<int>(c.message.size()));
    ASSERT_EQ(records_.size(), 1u);
    const Captured& r = records_[0];
    EXPECT_EQ(r.file, "Device.cpp");
    EXPECT_EQ(r.line, 17);
    EXPECT_EQ(r.function, "Fetch");
    EXPECT_EQ(r.tag, "dev");
    EXPECT_EQ(r.level, 3);
    EXPECT_EQ(r.message, c.message);
  }
}

int LogWithNullStrings(int level, ...) {
  va_list args;
  va_start(args, level);
  int length = Vantrix::instance().LogV(nullptr, 1, nullptr, nullptr, level, nullptr, args);
  va_end(args);
  return length;
}

TEST_F(VantrixTest, NullStringsReadAsEmpty) {
  EXPECT_EQ(LogWithNullStrings(2), 0);
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].file + records_[0].function + records_[0].tag + records_[0].message, "");
}

TEST_F(VantrixTest, RecordsAboveTheThresholdAreDropped) {
  log().SetLevel(4);
  EXPECT_EQ(log().Log("f", 1, "g", "t", 5, "dropped"), 0);
  EXPECT_EQ(log().Log("f", 1, "g", "t", 4, "kept"), 4);
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].message, "kept");
}

TEST_F(VantrixTest, DefaultSinkWritesOneLineToStderr) {
  quim::LogSink mine = log().SetSink(nullptr);
  EXPECT_TRUE(mine);
  EXPECT_FALSE(log().SetSink(nullptr));  // the default sink is reported as empty
  testing::internal::CaptureStderr();
  log().Log("Api.cpp", 88, "API_GetDevice", "corvane", 3, "code %d\n", 1005);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[3] Api.cpp:88 API_GetDevice: code 1005\n");
}

TEST_F(VantrixTest, ConcurrentLogsAllArrive) {
  std::atomic<int> count{0};
  log().SetSink([&count](const LogRecord&) { count.fetch_add(1); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) Vantrix::instance().Log("f", i, "g", "t", 6, "n=%d", i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(count.load(), 4000);
}

// The threshold comes from QUIM_LOG_LEVEL when the logger is first used, so this runs in a fresh
// process.
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
