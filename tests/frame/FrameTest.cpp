// The request frame over the fake gateway: the records as the gateway receives them, the
// helpers that fill them, the answer envelope, the accessors and the one log record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "APICommon.h"
#include "Corvane.h"
#include "FakeGateway.h"
#include "LogCounter.h"

namespace Corvane {
namespace {

using corvane_test::FakeGateway;
using quim::Json::Value;

TEST(Frame, RecordsReachTheGatewayZeroPadded) {
  FakeGateway::Instance().Reset();
  SetLangauage(std::string("de\0\r\nx", 6));  // byte for byte, NUL, CR and LF too
  SetTimeZone(std::string(1024, 'z'));        // fills the field
  {  // non-zero bytes where the call's records may be placed
    volatile unsigned char junk[16384];
    for (volatile unsigned char& byte : junk) byte = 0xA5;
  }
  FakeGateway::Instance().Script(corvane_test::Answer("{\"code\":1000}"));
  int enable = 7;
  ASSERT_EQ(API_GetAIPrivacyConfig(5, enable), 0);
  const auto seen = FakeGateway::Instance().LastRequest();
  EXPECT_EQ(seen.handle * 100000 + seen.requestSize * 100 + seen.responseSize, 709656);
  // Everything but the fields set is zero: padding, gaps, reserved, the response record.
  std::vector<unsigned char> record(2096, 0);
  std::memcpy(&record[12], "GET", 3);
  std::memcpy(&record[22], "vusk/api/v1.1/config/ai/privacy", 31);
  record[2072] = 3;
  std::memcpy(&record[2080], &seen.requestBytes[2080], 8);  // the header array's address
  EXPECT_EQ(seen.requestBytes, record);
  EXPECT_EQ(seen.responseBytes, std::vector<unsigned char>(56, 0));
  ASSERT_EQ(seen.headerCount, 3u);
  const std::string expected[3][2] = {{"Accept-Language", std::string("de\0\r\nx", 6)},
                                      {"Content-Type", "application/json;charset=UTF-8"},
                                      {"Time-Zone", std::string(1024, 'z')}};
  for (int i = 0; i < 3; ++i) {
    const corvane_test::SeenHeader& header = seen.headers[i];
    EXPECT_EQ(header.name + "=" + header.value, expected[i][0] + "=" + expected[i][1]);
    EXPECT_EQ(header.nameLength * 10000 + header.valueLength,
              expected[i][0].size() * 10000 + expected[i][1].size());
    EXPECT_TRUE(header.fieldsZeroPadded);
  }
  EXPECT_FALSE(seen.hasBody || seen.bodyLength != 0);
}

// A setting longer than its header field is refused before anything reaches the gateway (a cut
// value would say something else), the output untouched; it is never written past the field.
TEST(Frame, ASettingThatDoesNotFitIsRefusedNotCut) {
  const std::string longest(1024, 'v'), tooLong(1025, 'v');
  const std::pair<void (*)(std::string), int> setters[] = {{SetLangauage, 0}, {SetTimeZone, 2}};
  for (const auto& [set, index] : setters) {
    SCOPED_TRACE(index);
    FakeGateway::Instance().Reset();
    set(tooLong);
    int enable = 7;
    EXPECT_EQ(API_GetAIPrivacyConfig(5, enable), kRequestTooLong);
    EXPECT_EQ(FakeGateway::Instance().RequestCount() * 10 + enable, 7u);
    HttpHeaderItem items[kStandardHeaderCount] = {};
    EXPECT_FALSE(FillHeaderList(items));
    EXPECT_EQ(items[index].valueLength, 1024u);
    set(longest);
    HttpHeaderItem fitting[kStandardHeaderCount] = {};
    EXPECT_TRUE(FillHeaderList(fitting));
    set("");
  }
}

TEST(Frame, FillingARequest) {
  const std::string untouched(2048, 'x');
  // The format, its argument, the path field afterwards, and whether the text fitted.
  const std::tuple<const char*, std::string, std::string, bool> cases[] = {
      {"vusk/api/v1.1/config/pos", "", "vusk/api/v1.1/config/pos", true},
      {"/vusk/%s/x", "a%20b", "vusk/a%20b/x", true},
      {"//twice", "", "/twice", true},
      {"/", "", "", true},
      {"%s", "", untouched, true},  // empty: the field is left alone
      {"/%s", std::string(1278, 'a'), std::string(1278, 'a'), true},  // 1279: "/" dropped
      {"%s", std::string(1279, 'a'), std::string(1279, 'a'), true},
      {"/%s", std::string(1279, 'a'), untouched, false},  // 1280 characters: refused, not cut
      {"%s", std::string(5000, 'a'), untouched, false},
  };
  for (const auto& [format, argument, path, fits] : cases) {
    SCOPED_TRACE(format);
    RestRequest request{};
    std::memset(request.path, 'x', sizeof request.path);
    EXPECT_EQ(SetRequestPath(&request, format, argument.c_str()), fits);
    EXPECT_EQ(std::string(request.path, strnlen(request.path, sizeof request.path)), path);
  }
  RestRequest request{};
  SetRequestPath(nullptr, "x");
  SetRequestPath(&request, nullptr);
  SetRequestPath(&request, "/a/%d/%lld", 7, -8LL);
  EXPECT_STREQ(request.path, "a/7/-8");
  SetRequestMethod(&request, "ABCDEFGHIJKL");
  EXPECT_EQ(std::string(request.method, 10), "ABCDEFGHIJ");
  SetRequestMethod(&request, "GET");
  EXPECT_EQ(std::string(request.method, 10), std::string("GET\0\0\0\0\0\0\0", 10));
  SetRequestBody(&request, Value());
  EXPECT_EQ(request.body, nullptr);
  SetMacAddress("");
  Value body;
  AddClientIdentity(body);
  body["n"] = Value(std::string("a\0b", 3));
  SetRequestBody(&request, body);
  const std::string text =
      "{\"clientType\":\"WINPC_V2\",\"clientMac\":\"\",\"project\":\"QIRO\",\"n\":\"a\\u0000b\"}";
  EXPECT_EQ(std::string(request.body, request.bodyLength + 1), text + '\0');
  delete[] request.body;
}

TEST(Frame, ReadBaseResponse) {
  // The answer; the code and the data as compact text; the parser's message in the log record,
  // or null for none.
  const std::tuple<const char*, int, const char*, const char*> cases[] = {
      {"{\"code\":1000,\"data\":{\"enable\":1}}", 0, "{\"enable\":1}", nullptr},
      {"{\"code\":1000}", 0, "null", nullptr},
      {"{\"code\":-7,\"data\":[1]}", -7, "[1]", nullptr},
      {"{\"data\":{}}", -1, "{}", nullptr},
      {"[1,2]", -1, "null", ""},
      {"", -1, "null", "The document is empty. at offset 0"},
      {"{\"code\":1000,}", -1, "null", "Missing a name for object member. at offset 13"},
      {"\xEF\xBB\xBF{\"code\":1000,\"data\":\"\xE9t\xE9\"}", 0, "\"\xE9t\xE9\"", nullptr},
      {nullptr, -1, "null", nullptr},
  };
  for (const auto& [answer, code, data, log] : cases) {
    SCOPED_TRACE(answer == nullptr ? "null" : answer);
    std::string record;
    auto previous = quim::Vantrix::instance().SetSink([&](const quim::LogRecord& r) {
      record += std::string(r.file) + ":" + std::to_string(r.line) + " " + r.function + " [" +
                r.tag + "] " + std::to_string(r.level) + " " + r.message;
    });
    BaseResponse response = ReadBaseResponse(answer);
    EXPECT_EQ(response.code, code);
    EXPECT_EQ(quim::Json::Write(response.data), data);
    quim::Vantrix::instance().SetSink(previous);
    const std::string where = "src/Logical/Corvane/APICommon.cpp:111 ";
    EXPECT_EQ(record,
              log ? where + "Corvane::ReadBaseResponse [] 6 json parse fail, msg = " + log : "");
  }
  // A code that asInt cannot convert: the value model's exception passes through.
  EXPECT_THROW(ReadBaseResponse("{\"code\":\"1000\"}"), quim::Json::Error);
}

}  // namespace
}  // namespace Corvane
