// The request frame over the fake gateway: the records as the gateway receives them, the
// helpers that fill them, the answer envelope, the accessors and the one log record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "APICommon.h"
#include "Corvane.h"
#include "FakeGateway.h"
#include "LogCounter.h"

namespace Corvane {
namespace {

using corvane_test::Answer;
using corvane_test::FakeGateway;
using quim::Json::Value;

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeGateway::Instance().Reset();
    SetLangauage("");
    SetTimeZone("");
    SetMacAddress("");
  }
};

// Leaves non-zero bytes where the next call's records may be placed.
void DirtyTheStack() {
  volatile unsigned char junk[16384];
  for (unsigned char& byte : const_cast<unsigned char(&)[16384]>(junk)) byte = 0xA5;
}

TEST_F(Frame, RecordsReachTheGatewayZeroPadded) {
  SetLangauage(std::string("de\0\r\nx", 6));  // passed byte for byte, NUL, CR and LF too
  SetTimeZone(std::string(1100, 'z'));        // cut to the field
  DirtyTheStack();
  FakeGateway::Instance().Script(Answer("{\"code\":1000}"));
  int enable = 7;
  ASSERT_EQ(API_GetAIPrivacyConfig(5, enable), 0);
  const auto seen = FakeGateway::Instance().LastRequest();
  EXPECT_EQ(seen.handle, 5);
  EXPECT_EQ(seen.requestSize, 2096);
  EXPECT_EQ(seen.responseSize, 56);
  const unsigned char* bytes = seen.requestBytes.data();
  for (std::size_t at : {22 + std::strlen("vusk/api/v1.1/config/ai/privacy")}) {
    for (std::size_t i = at; i < 2070; ++i) ASSERT_EQ(bytes[i], 0) << "path byte " << i;
  }
  for (std::size_t i : {2070, 2071, 2076, 2077, 2078, 2079}) EXPECT_EQ(bytes[i], 0) << i;
  for (std::size_t i = 2088; i < 2096; ++i) EXPECT_EQ(bytes[i], 0) << "reserved " << i;
  for (std::size_t i = 15; i < 22; ++i) EXPECT_EQ(bytes[i], 0) << "method " << i;
  for (unsigned char byte : seen.responseBytes) EXPECT_EQ(byte, 0);
  ASSERT_EQ(seen.headerCount, 3u);
  const char* names[] = {"Accept-Language", "Content-Type", "Time-Zone"};
  const std::string values[] = {std::string("de\0\r\nx", 6), "application/json;charset=UTF-8",
                                std::string(1024, 'z')};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(seen.headers[i].name, names[i]);
    EXPECT_EQ(seen.headers[i].nameLength, std::strlen(names[i]));
    EXPECT_EQ(seen.headers[i].value, values[i]);
    EXPECT_EQ(seen.headers[i].valueLength, values[i].size());
    EXPECT_TRUE(seen.headers[i].fieldsZeroPadded);
  }
  EXPECT_FALSE(seen.hasBody);
  EXPECT_EQ(seen.bodyLength, 0);
}

TEST_F(Frame, SetRequestPath) {
  struct Case {
    const char* format;
    const char* argument;
    std::string path;
  };
  const std::string longArgument(1400, 'a');
  const Case cases[] = {
      {"vusk/api/v1.1/config/pos", "", "vusk/api/v1.1/config/pos"},
      {"/vusk/api/%s/x", "a%20b", "vusk/api/a%20b/x"},
      {"//twice", "", "/twice"},
      {"/", "", ""},
      {"%s", "", "-"},  // an empty text leaves the field as it was
      {"/%s", longArgument.c_str(), std::string(1278, 'a')},  // 1279 formatted, "/" dropped
      {"%s", longArgument.c_str(), std::string(1279, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    RestRequest request{};
    std::memset(request.path, 'x', sizeof request.path);
    SetRequestPath(&request, c.format, c.argument);
    EXPECT_EQ(std::string(request.path, strnlen(request.path, sizeof request.path)),
              c.path == "-" ? std::string(2048, 'x') : c.path);
  }
  RestRequest request{};
  SetRequestPath(nullptr, "x");
  SetRequestPath(&request, nullptr);
  SetRequestPath(&request, "/a/%d/%lld", 7, -8LL);
  EXPECT_STREQ(request.path, "a/7/-8");
}

TEST_F(Frame, SetRequestMethodAndBody) {
  RestRequest request{};
  SetRequestMethod(&request, "ABCDEFGHIJKL");
  EXPECT_EQ(std::string(request.method, 10), "ABCDEFGHIJ");
  SetRequestMethod(&request, "GET");
  EXPECT_EQ(std::string(request.method, 10), std::string("GET\0\0\0\0\0\0\0", 10));
  SetRequestBody(&request, Value());
  EXPECT_EQ(request.body, nullptr);
  Value body;
  AddClientIdentity(body);
  body["n"] = Value(std::string("a\0b", 3));
  SetRequestBody(&request, body);
  const std::string expected =
      "{\"clientType\":\"WINPC_V2\",\"clientMac\":\"\",\"project\":\"QIRO\",\"n\":\"a\\u0000b\"}";
  ASSERT_EQ(request.bodyLength, static_cast<int>(expected.size()));
  EXPECT_EQ(std::string(request.body, request.bodyLength + 1), expected + '\0');
  delete[] request.body;
  std::uint32_t count = 9;
  BuildHeaderList(nullptr, &count);
  EXPECT_EQ(count, 0u);
}

TEST_F(Frame, ReadBaseResponse) {
  struct Case {
    const char* answer;
    int code;
    const char* data;  // the data as compact text
    int logs;
  };
  const Case cases[] = {
      {"{\"code\":1000,\"data\":{\"enable\":1}}", 0, "{\"enable\":1}", 0},
      {"{\"code\":1000}", 0, "null", 0},
      {"{\"code\":-7,\"data\":[1]}", -7, "[1]", 0},
      {"{\"code\":\"1000\"}", -2, "", 0},  // asInt throws on a string: not the reader's business
      {"{\"data\":{}}", -1, "{}", 0},
      {"[1,2]", -1, "null", 1},
      {"", -1, "null", 1},
      {"{\"code\":1000,}", -1, "null", 1},
      {"\xEF\xBB\xBF{\"code\":1000,\"data\":\"\xE9t\xE9\"}", 0, "\"\xE9t\xE9\"", 0},
      {nullptr, -1, "null", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer == nullptr ? "null" : c.answer);
    corvane_test::LogCounter logs;
    if (c.code == -2) {
      EXPECT_THROW(ReadBaseResponse(c.answer), quim::Json::Error);
      continue;
    }
    BaseResponse response = ReadBaseResponse(c.answer);
    EXPECT_EQ(response.code, c.code);
    EXPECT_EQ(quim::Json::Write(response.data), c.data);
    EXPECT_EQ(logs.count(), c.logs);
  }
}

TEST_F(Frame, TheLogRecord) {
  quim::LogRecord seen{};
  std::string message;
  auto previous = quim::Vantrix::instance().SetSink([&](const quim::LogRecord& record) {
    seen = record;
    message = record.message;
  });
  ReadBaseResponse("[");
  quim::Vantrix::instance().SetSink(previous);
  EXPECT_STREQ(seen.file, "src/Logical/Corvane/public/APICommon.cpp");
  EXPECT_EQ(seen.line, 111);
  EXPECT_STREQ(seen.function, "Corvane::ReadBaseResponse");
  EXPECT_STREQ(seen.tag, "");
  EXPECT_EQ(seen.level, 6);
  EXPECT_EQ(message, "json parse fail, msg = Invalid value. at offset 1");
}

TEST_F(Frame, Accessors) {
  Value object;
  ASSERT_TRUE(quim::Json::Parse("{\"i\":3,\"s\":\"x\",\"b\":5000000000,\"n\":null}", object));
  const Value array(quim::Json::arrayValue);
  EXPECT_EQ(GetIntField(object, "i", 9), 3);
  EXPECT_EQ(GetIntField(object, "missing", 9), 9);
  EXPECT_EQ(GetIntField(Value(), "i", 9), 9);
  EXPECT_EQ(GetIntField(object, "n", 9), 0);
  EXPECT_THROW(GetIntField(object, "b", 9), quim::Json::Error);
  EXPECT_EQ(GetInt64Field(object, "b", 1), 5000000000);
  EXPECT_EQ(GetInt64Field(array, "b", 1), 1);
  EXPECT_EQ(GetStringField(object, "i"), "3");
  EXPECT_EQ(GetStringField(array, "s"), "");
  EXPECT_EQ(quim::Json::Write(GetMemberOrNull(object, "s")), "\"x\"");
  EXPECT_TRUE(GetMemberOrNull(Value(), "s").isNull());
  EXPECT_TRUE(IsNonNullArray(array));
  EXPECT_FALSE(IsNonNullArray(Value()));
}

TEST_F(Frame, StoiBase10) {
  struct Case {
    const char* text;
    long long value;  // 1LL << 40: invalid, 1LL << 41: out of range
  };
  const Case cases[] = {{" \t+42x", 42},
                        {"-2147483648", -2147483648LL},
                        {"2147483647", 2147483647},
                        {"2147483648", 1LL << 41},
                        {"-2147483649", 1LL << 41},
                        {"99999999999999999999", 1LL << 41},
                        {"", 1LL << 40},
                        {"- 1", 1LL << 40},
                        {"x1", 1LL << 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      EXPECT_EQ(StoiBase10(c.text), c.value);
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(c.value, 1LL << 40);
      EXPECT_STREQ(e.what(), "invalid stoi argument");
    } catch (const std::out_of_range& e) {
      EXPECT_EQ(c.value, 1LL << 41);
      EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
  }
}

}  // namespace
}  // namespace Corvane
