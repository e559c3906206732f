// The registry of answers handed over: every answer stays found until released, once, and a
// pointer that is not an outstanding answer is refused, however many are outstanding.
#include <gtest/gtest.h>
#include <zenta/ZentaSdk.h>

#include <cstdlib>
#include <vector>

#include "AnswerBuffer.h"

namespace zenta {
namespace {

TEST(AnswerRegistry, EveryOutstandingAnswerIsFoundOnceAndNothingElseIsTaken) {
  const std::size_t before = RegisteredAnswers();
  // Rows: how many answers are outstanding at once, and which are given back first (every
  // third).
  for (const std::size_t count : {5u, 1000u}) {
    SCOPED_TRACE(count);
    std::vector<char*> answers;
    for (std::size_t i = 0; i < count; ++i) {
      answers.push_back(static_cast<char*>(std::malloc(16)));
      ASSERT_TRUE(RegisterAnswer(answers.back()));
    }
    EXPECT_FALSE(RegisterAnswer(answers[0])) << "kept twice";
    EXPECT_EQ(RegisteredAnswers(), before + count);
    for (std::size_t i = 0; i < count; i += 3) {
      EXPECT_EQ(ZENTA_ReleaseDataBuffer(answers[i]), ZENTA_OK);
    }
    char notOurs[16] = {};
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(notOurs), ZENTA_E_UNKNOWN_BUFFER);
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(answers[1] + 1), ZENTA_E_UNKNOWN_BUFFER);
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(answers[0]), ZENTA_E_UNKNOWN_BUFFER) << "released twice";
    for (std::size_t i = 0; i < count; ++i) {
      if (i % 3 != 0) {
        EXPECT_EQ(ZENTA_ReleaseDataBuffer(answers[i]), ZENTA_OK) << i;
      }
    }
    EXPECT_EQ(RegisteredAnswers(), before);
    EXPECT_EQ(ZENTA_ReleaseDataBuffer(answers[count - 1]), ZENTA_E_UNKNOWN_BUFFER)
        << "released twice";
  }
}

}  // namespace
}  // namespace zenta
