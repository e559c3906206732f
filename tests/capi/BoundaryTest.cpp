// The C interface's boundary over the fake gateway: what the C++ operations throw arrives as this
// interface's status with no result, and every allocation that fails in turn gives
// CORVANE_E_NO_MEMORY with nothing left allocated; the whole error in one sentence.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CorvaneC.h"
#include "FakeGateway.h"
#include "LogCounter.h"

namespace {

using corvane_test::FakeGateway;

struct Row {
  const char* name;
  std::string answer;
  std::function<int(bool& result)> call;  // frees what it got; result: whether it got one
  int status;
  bool result;
};

// Runs an operation (call(result, count); a single record ignores count) and frees its result.
template <class Record>
std::function<int(bool&)> List(std::function<int(Record**, int32_t*)> call) {
  return [call](bool& result) {
    Record* records = nullptr;
    int32_t count = -1;
    const int status = call(&records, &count);
    result = records != nullptr;
    corvane_free(records);
    return status;
  };
}

TEST(CBoundary, ExceptionsAndFailedAllocationsBecomeStatusesWithoutResult) {
  const std::vector<Row> rows = {
      {"a word as mapping value", R"({"code":1000,"data":{"results":[{"key":"1","value":"ten"}]}})",
       List<corvane_int_pair>(
           [](auto r, auto c) { return corvane_query_dictionary_mapper(1, 3, r, c); }),
       CORVANE_E_INVALID_NUMBER, false},
      {"an event code beyond int",
       R"({"code":1000,"data":{"results":[{"items":[{"code":"1","name":"a"},)"
       R"({"code":"99999999999","name":"b"}]}]}})",
       List<corvane_int_text>(
           [](auto r, auto c) { return corvane_get_pos_event_translate(1, r, c); }),
       CORVANE_E_NUMBER_RANGE, false},
      {"an array where a key belongs",
       R"({"code":1000,"data":{"results":[{"key":[1],"value":"1"}]}})",
       List<corvane_int_pair>(
           [](auto r, auto c) { return corvane_query_dictionary_mapper(1, 3, r, c); }),
       CORVANE_E_JSON_TYPE, false},
      {"the server's code with a list",
       R"({"code":4004,"data":{"results":[{"trailId":"7","trailName":"a"}]}})",
       List<corvane_ptz_trail>(
           [](auto r, auto c) { return corvane_get_ptz_trail_list(1, "D1001-C01", r, c); }),
       4004, true},
      {"a volume answer without a volume", R"({"code":1000,"data":{"results":[]}})",
       List<corvane_speaker_volume>(
           [](auto r, auto) { return corvane_get_ip_speaker_volume(1, "D2001-C01", r); }),
       0, false},
      {"a picture", std::string("\x89PNG\r\n\x1a\n\0\0", 10),
       List<corvane_picture>(
           [](auto r, auto) { return corvane_download_device_picture(1, "P0001", 3, r); }),
       0, true},
  };
  corvane_test::LogCounter quiet;
  FakeGateway::Instance().Reset();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::int64_t before = corvane_test::LiveAllocations();
    int outOfMemory = 0;
    for (std::int64_t n = 1; n < 5000; ++n) {
      FakeGateway::Instance().Reset();
      FakeGateway::Instance().Script(corvane_test::Answer(row.answer));
      bool result = true;
      corvane_test::FailNthAllocation(n);
      const int status = row.call(result);
      const bool fired = corvane_test::AllocationFailureFired();
      corvane_test::FailNthAllocation(0);
      ASSERT_EQ(corvane_test::LiveAllocations(), before) << "allocation " << n << " leaked";
      if (fired && status == CORVANE_E_NO_MEMORY) {
        ASSERT_FALSE(result) << "allocation " << n;
        ++outOfMemory;
        continue;
      }
      // Otherwise the call ended as without failure: nothing failed, or a nothrow allocation
      // (the MinGW runtime makes some) failed and its caller did without it.
      EXPECT_EQ(status, row.status) << "allocation " << n << ": " << corvane_status_text(status);
      EXPECT_EQ(result, row.result) << "allocation " << n;
      if (!fired) break;
    }
    EXPECT_GT(outOfMemory, 0) << "no failed allocation reached the caller as CORVANE_E_NO_MEMORY";
  }
}

// What corvane_error_message says after a call: each kind of status with what the thread knows,
// and who failed (corvane_interface_error, corvane_answer_read), also when a server's code
// equals one of the gateway's, the library's or this interface's.
TEST(CBoundary, ErrorMessageSaysEverythingTheThreadKnows) {
  using corvane_test::Answer;
  const char* const wrongType =
      "a member of the answer has the wrong JSON type (status -40004): "
      "quim::Json::Value::asString: not applicable to an array";
  const std::string unreadable =
      "the answer could not be read (missing, not JSON, not an object or without a code) "
      "(status -1): request GET /vusk/api/v1.1/config/dictionary-mapper?type=3";
  struct Row {
    corvane_test::Reply reply;
    std::string detail;  // the transport's words the fake gives for the thread's last failure
    int status, interfaceError, answerRead;
    std::string sentence;
  };
  const std::vector<Row> rows = {
      {Answer(R"({"code":1000,"data":{}})"), "", 0, 0, 1, "success"},
      {corvane_test::Failure(-20201), "connect to 127.0.0.1:9: refused", -20201, 0, 0,
       "the fake gateway failed (status -20201): connect to 127.0.0.1:9: refused"},
      {Answer(R"({"code":-20201,"message":"busy","data":{}})"), "HTTP 503: <html>", -20201, 0, 1,
       "the server refused the request with code -20201: busy"},
      {corvane_test::Failure(-30502), corvane_test::kGatewayText, -30502, 0, 0,
       "the fake gateway failed (status -30502)"},
      {Answer(R"({"code":4004,"message":"no channel D1001-C99","data":{}})"), "", 4004, 0, 1,
       "the server refused the request with code 4004: no channel D1001-C99"},
      {Answer(R"({"code":-2,"data":{}})"), "", -2, 0, 1,
       "the server refused the request with code -2 and no message"},
      {Answer(R"({"code":-40002,"message":"m","data":{}})"), "", -40002, 0, 1,
       "the server refused the request with code -40002: m"},
      {Answer("<html>"), "", -1, 0, 1, unreadable},
      {Answer(R"({"code":1000,"data":{"results":[{"key":"x","value":"1"}]}})"), "", -40002, -40002,
       0, std::string(corvane_status_text(-40002)) + " (status -40002)"},
      {Answer(R"({"code":1000,"data":{"results":[{"key":[1],"value":"1"}]}})"), "", -40004, -40004,
       0, wrongType},
  };
  corvane_test::LogCounter quiet;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sentence);
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(row.reply);
    corvane_test::SetGatewayDetail(row.detail);
    corvane_int_pair* mapping = nullptr;
    int32_t count = 0;
    ASSERT_EQ(corvane_query_dictionary_mapper(1, 3, &mapping, &count), row.status);
    corvane_free(mapping);
    char text[512];
    EXPECT_EQ(corvane_error_message(row.status, text, sizeof text), int32_t(row.sentence.size()));
    EXPECT_EQ(text, row.sentence);
    EXPECT_EQ(corvane_interface_error(), row.interfaceError);
    EXPECT_EQ(corvane_answer_read(), row.answerRead);
  }
  // Of the last row: cut like snprintf, the full length returned; a status the last call did not
  // end in gets its general meaning without the thread's details.
  char cut[9];
  EXPECT_EQ(corvane_error_message(-40004, cut, sizeof cut), int32_t(std::strlen(wrongType)));
  EXPECT_STREQ(cut, "a member");
  EXPECT_EQ(corvane_error_message(-40004, nullptr, -1), CORVANE_E_NULL_ARGUMENT);
  char other[512];
  corvane_error_message(-20201, other, sizeof other);
  EXPECT_STREQ(other, "the fake gateway failed (status -20201)");
  // A refused argument is the interface's own failure; a later success forgets it.
  int32_t count = 0;
  EXPECT_EQ(corvane_query_dictionary_mapper(1, 3, nullptr, &count), CORVANE_E_NULL_ARGUMENT);
  EXPECT_EQ(corvane_interface_error(), CORVANE_E_NULL_ARGUMENT);
  FakeGateway::Instance().Script(Answer(R"({"code":1000,"data":{}})"));
  int32_t enable = 0;
  corvane_get_ai_privacy_config(1, &enable);
  EXPECT_EQ(corvane_interface_error(), 0);
  char forgotten[512];
  corvane_error_message(-40004, forgotten, sizeof forgotten);
  EXPECT_EQ(forgotten, std::string(corvane_status_text(-40004)) + " (status -40004)");
}

}  // namespace
