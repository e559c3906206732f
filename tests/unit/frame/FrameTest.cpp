// The request frame: what goes into the records, how the answer envelope is read, and that every
// buffer comes back on every exit.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "APICommon.h"
#include "Corvane.h"
#include "FakeGateway.h"
#include "LogCounter.h"
#include "quim/Vantrix.h"

namespace Corvane {
namespace {

using corvane_test::Answer;
using corvane_test::Failure;
using corvane_test::FakeGateway;
using corvane_test::Release;
using corvane_test::Reply;
using quim::Json::Value;

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeGateway::Instance().Reset();
    SetLangauage("");
    SetTimeZone("");
    SetMacAddress("");
  }
  void TearDown() override {
    EXPECT_EQ(FakeGateway::Instance().OutstandingBuffers(), 0u);
    EXPECT_EQ(FakeGateway::Instance().BadReleases(), 0);
  }
};

// Collects log records while alive.
class LogCapture {
 public:
  LogCapture() {
    previous_ = quim::Vantrix::instance().SetSink([this](const quim::LogRecord& r) {
      records_.push_back({r.file, r.line, r.function, r.tag, r.level, r.message});
    });
  }
  ~LogCapture() { quim::Vantrix::instance().SetSink(previous_); }
  struct Record {
    std::string file;
    int line;
    std::string function, tag;
    int level;
    std::string message;
  };
  const std::vector<Record>& records() const { return records_; }

 private:
  quim::LogSink previous_;
  std::vector<Record> records_;
};

TEST_F(Frame, FirstOperationHandsOverTheBindingLayout) {
  SetLangauage("de-DE");
  SetTimeZone("Europe/Berlin");
  FakeGateway::Instance().Script(Answer(R"({"code":1000,"data":{"enable":1}})"));
  int handle = 77, enable = -5;
  ASSERT_EQ(API_GetAIPrivacyConfig(handle, enable), 0);
  EXPECT_EQ(enable, 1);

  corvane_test::SeenRequest seen = FakeGateway::Instance().LastRequest();
  EXPECT_EQ(seen.handle, 77);
  EXPECT_EQ(seen.requestSize, 2096);
  EXPECT_EQ(seen.responseSize, 56);
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.path, "vusk/api/v1.1/config/ai/privacy");
  EXPECT_FALSE(seen.hasBody);
  EXPECT_EQ(seen.bodyLength, 0);
  ASSERT_EQ(seen.headerCount, 3u);
  // Everything the record does not use is zero: method and path padding, the padding around
  // headerCount, the reserved tail, and the whole response record as handed over.
  const std::vector<unsigned char>& bytes = seen.requestBytes;
  for (std::size_t i = 12 + 3; i < 22; ++i) EXPECT_EQ(bytes[i], 0) << "method byte " << i;
  for (std::size_t i = 22 + seen.path.size(); i < 2072; ++i) {
    ASSERT_EQ(bytes[i], 0) << "path or padding byte " << i;
  }
  for (std::size_t i : {2076u, 2077u, 2078u, 2079u}) EXPECT_EQ(bytes[i], 0) << i;
  for (std::size_t i = 2088; i < 2096; ++i) EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;
  for (unsigned char b : seen.responseBytes) EXPECT_EQ(b, 0);
}

TEST_F(Frame, SetRequestPath) {
  const std::string longId(1300, 'x');
  const std::string fits(1278, 'y');  // "/" + 1278 characters: 1279, the most that fits
  struct Row {
    const char* name;
    std::string formatted;  // what SetRequestPath receives as its single %s argument
    std::string expected;
  } rows[] = {
      {"leading slash dropped", "/vusk/api/v1.1/config/ai/privacy",
       "vusk/api/v1.1/config/ai/privacy"},
      {"no leading slash kept", "vusk/api/v1.1/config/pos", "vusk/api/v1.1/config/pos"},
      {"only one slash dropped", "//double", "/double"},
      {"slash alone", "/", ""},
      {"verbatim bytes", "/a b%20c?d=&e\"", "a b%20c?d=&e\""},
      {"longest that fits", "/" + fits, fits},
      {"cut at 1279 characters", "/" + longId, longId.substr(0, 1278)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RestRequest request{};
    SetRequestPath(&request, "%s", row.formatted.c_str());
    EXPECT_EQ(std::string(request.path), row.expected);
    for (std::size_t i = row.expected.size(); i < kPathWidth; ++i) {
      ASSERT_EQ(request.path[i], 0) << i;
    }
  }
  // An empty formatted text, a null format or a null record leave the path as it was.
  RestRequest request{};
  std::memset(request.path, 'Z', kPathWidth);
  SetRequestPath(&request, "%s", "");
  SetRequestPath(&request, nullptr);
  SetRequestPath(nullptr, "/x");
  EXPECT_EQ(std::string(request.path, kPathWidth), std::string(kPathWidth, 'Z'));
  // A shorter path after a longer one leaves no trace of the first.
  SetRequestPath(&request, "/%s/%lld", "ab", LLONG_MIN);
  EXPECT_STREQ(request.path, "ab/-9223372036854775808");
}

TEST_F(Frame, SetRequestMethod) {
  struct Row {
    std::string method;
    std::string expected;  // all 10 bytes of the field
  } rows[] = {
      {"GET", std::string("GET") + std::string(7, '\0')},
      {"POST", std::string("POST") + std::string(6, '\0')},
      {"", std::string(10, '\0')},
      {"ABCDEFGHIJ", "ABCDEFGHIJ"},    // fills the field, no terminator
      {"ABCDEFGHIJKL", "ABCDEFGHIJ"},  // cut to the field
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.method);
    RestRequest request{};
    std::memset(request.method, 'Z', kMethodWidth);
    std::memset(request.path, 'P', 4);
    SetRequestMethod(&request, row.method);
    EXPECT_EQ(std::string(request.method, kMethodWidth), row.expected);
    EXPECT_EQ(request.path[0], 'P') << "wrote past the method field";
  }
  SetRequestMethod(nullptr, "GET");  // no effect, no crash
}

TEST_F(Frame, HeaderListIsOrderedAndBounded) {
  struct Row {
    const char* name;
    std::string language, timeZone;
    bool languageFirst;
    std::string expectedLanguage, expectedTimeZone;
  } rows[] = {
      {"never set", "", "", true, "", ""},
      {"set language first", "fr", "UTC+1", true, "fr", "UTC+1"},
      {"set time zone first", "fr", "UTC+1", false, "fr", "UTC+1"},
      {"exactly the field width", std::string(1024, 'l'), "z", true, std::string(1024, 'l'), "z"},
      {"longer than the field", std::string(1500, 'l'), std::string(2000, 't'), true,
       std::string(1024, 'l'), std::string(1024, 't')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.languageFirst) {
      SetLangauage(row.language);
      SetTimeZone(row.timeZone);
    } else {
      SetTimeZone(row.timeZone);
      SetLangauage(row.language);
    }
    FakeGateway::Instance().Script(Answer(R"({"code":1000})"));
    int enable = 0;
    API_GetAIPrivacyConfig(1, enable);
    corvane_test::SeenRequest seen = FakeGateway::Instance().LastRequest();
    ASSERT_EQ(seen.headers.size(), 3u);
    const std::string names[] = {"Accept-Language", "Content-Type", "Time-Zone"};
    const std::string values[] = {row.expectedLanguage, "application/json;charset=UTF-8",
                                  row.expectedTimeZone};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(seen.headers[i].name, names[i]);
      EXPECT_EQ(seen.headers[i].nameLength, names[i].size());
      EXPECT_EQ(seen.headers[i].value, values[i]);
      EXPECT_EQ(seen.headers[i].valueLength, values[i].size());
      EXPECT_TRUE(seen.headers[i].fieldsZeroPadded);
    }
  }
  std::uint32_t count = 99;
  BuildHeaderList(nullptr, &count);
  EXPECT_EQ(count, 0u);
}

TEST_F(Frame, RequestBodyAndIdentity) {
  // No body for a null value or a null record.
  RestRequest request{};
  SetRequestBody(&request, Value());
  EXPECT_EQ(request.body, nullptr);
  EXPECT_EQ(request.bodyLength, 0);
  SetRequestBody(nullptr, Value(1));

  // The identity comes first, in its fixed order, and the MAC address is the setting's copy.
  struct Row {
    const char* mac;
    const char* expected;
  } rows[] = {
      {"", R"({"clientType":"WINPC_V2","clientMac":"","project":"QIRO","extra":[1,"a\u0000b"]})"},
      {"AA:BB:CC:00:11:22",
       R"({"clientType":"WINPC_V2","clientMac":"AA:BB:CC:00:11:22","project":"QIRO","extra":[1,"a\u0000b"]})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mac);
    SetMacAddress(row.mac);
    Value body;
    AddClientIdentity(body);
    Value extra;
    extra.append(Value(1));
    extra.append(Value(std::string("a\0b", 3)));
    body["extra"] = extra;
    RestRequest withBody{};
    SetRequestBody(&withBody, body);
    ASSERT_NE(withBody.body, nullptr);
    EXPECT_EQ(std::string(withBody.body), row.expected);
    EXPECT_EQ(withBody.bodyLength, static_cast<std::int32_t>(std::strlen(row.expected)));
    EXPECT_EQ(withBody.body[withBody.bodyLength], '\0');
    delete[] withBody.body;
  }
  // On an object with members the identity is added after them.
  Value existing;
  existing["a"] = Value(1);
  AddClientIdentity(existing);
  EXPECT_EQ(existing.memberName(0), "a");
  EXPECT_EQ(existing.size(), 4u);
}

TEST_F(Frame, ReadBaseResponse) {
  struct Row {
    const char* answer;  // null: no answer text
    int code;
    const char* data;  // compact text of data; "null" for a null value
    bool logged;
  } rows[] = {
      {R"({"code":1000,"data":{"enable":1}})", 0, R"({"enable":1})", false},
      {R"({"code":1000})", 0, "null", false},
      {R"({"code":4004,"data":[1,2]})", 4004, "[1,2]", false},
      {R"({"code":-7,"data":"text"})", -7, R"("text")", false},
      {R"({"code":0,"data":null})", 0, "null", false},
      {R"({"code":1000.9,"data":3})", 0, "3", false},  // converted to 1000 first, then mapped
      {R"({"data":{}})", -1, "{}", false},
      {R"({})", -1, "null", false},
      {"[1,2]", -1, "null", true},
      {"42", -1, "null", true},
      {"", -1, "null", true},
      {"<html>bad gateway</html>", -1, "null", true},
      {R"({"code":1000,"data":{})", -1, "null", true},
      {nullptr, -1, "null", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.answer ? row.answer : "(null)");
    LogCapture log;
    BaseResponse response = ReadBaseResponse(row.answer);
    EXPECT_EQ(response.code, row.code);
    EXPECT_EQ(quim::Json::Write(response.data), row.data);
    ASSERT_EQ(log.records().size(), row.logged ? 1u : 0u);
    if (row.logged) {
      const LogCapture::Record& r = log.records()[0];
      EXPECT_EQ(r.file, "src/Logical/Corvane/public/APICommon.cpp");
      EXPECT_EQ(r.line, 111);
      EXPECT_EQ(r.function, "Corvane::ReadBaseResponse");
      EXPECT_EQ(r.tag, "");
      EXPECT_EQ(r.level, 6);
      EXPECT_EQ(r.message.rfind("json parse fail, msg = ", 0), 0u) << r.message;
      // The parser's message for bad text; nothing after the prefix when the root was no object.
      bool parsedButNoObject = row.answer[0] == '[' || row.answer[0] == '4';
      EXPECT_EQ(r.message.size() == std::strlen("json parse fail, msg = "), parsedButNoObject)
          << r.message;
    }
  }
  // A code the value model cannot convert is its error, not the reader's.
  EXPECT_THROW(ReadBaseResponse(R"({"code":"1000"})"), quim::Json::Error);
}

TEST_F(Frame, Accessors) {
  Value object;
  quim::Json::Parse(R"({"i":7,"big":9007199254740993,"s":"text","n":null,"d":2.5,"b":true})",
                    object);
  Value array;
  quim::Json::Parse(R"([{"i":1}])", array);
  const Value null;
  struct IntRow {
    const Value* value;
    const char* name;
    int expected;
  } ints[] = {
      {&object, "i", 7}, {&object, "missing", -3}, {&object, "n", 0}, {&object, "d", 2},
      {&object, "b", 1}, {&array, "i", -3},        {&null, "i", -3},
  };
  for (const IntRow& row : ints) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(GetIntField(*row.value, row.name, -3), row.expected);
  }
  EXPECT_EQ(GetInt64Field(object, "big", 0), 9007199254740993LL);
  EXPECT_EQ(GetInt64Field(array, "big", 5), 5);
  EXPECT_THROW(GetIntField(object, "big", 0), quim::Json::Error);
  EXPECT_THROW(GetIntField(object, "s", 0), quim::Json::Error);

  EXPECT_EQ(GetStringField(object, "s"), "text");
  EXPECT_EQ(GetStringField(object, "i"), "7");
  EXPECT_EQ(GetStringField(object, "n"), "");
  EXPECT_EQ(GetStringField(object, "missing"), "");
  EXPECT_EQ(GetStringField(array, "s"), "");

  EXPECT_EQ(GetMemberOrNull(object, "s").asString(), "text");
  EXPECT_TRUE(GetMemberOrNull(object, "missing").isNull());
  EXPECT_TRUE(GetMemberOrNull(Value("str"), "s").isNull());
  EXPECT_TRUE(GetMemberOrNull(null, "s").isNull());

  EXPECT_TRUE(IsNonNullArray(array));
  EXPECT_TRUE(IsNonNullArray(Value(quim::Json::arrayValue)));
  EXPECT_FALSE(IsNonNullArray(object));
  EXPECT_FALSE(IsNonNullArray(null));
}

TEST_F(Frame, StoiBase10) {
  struct Row {
    const char* text;
    int expected;
  } values[] = {
      {"42", 42},
      {"  42", 42},
      {"\t\n\v\f\r7", 7},
      {"+5", 5},
      {"-13abc", -13},
      {"007", 7},
      {"0x1A", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT_MIN},
      {"12 34", 12},
  };
  for (const Row& row : values) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(StoiBase10(row.text), row.expected);
  }
  for (const char* text : {"", "   ", "abc", "+", "-", "- 1", "+-1",
                           "\x01"
                           "1"}) {
    SCOPED_TRACE(text);
    try {
      StoiBase10(text);
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "invalid stoi argument");
    }
  }
  for (const char* text :
       {"2147483648", "-2147483649", "99999999999999999999999", "-00000000009999999999"}) {
    SCOPED_TRACE(text);
    try {
      StoiBase10(text);
      ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
  }
  EXPECT_EQ(StoiBase10(std::string("12\0"
                                   "34",
                                   5)),
            12);
}

// What the gateway hands out comes back on every exit: answer before auxBuffer, while the
// request record is still intact, and the library's own allocations are all freed.
TEST_F(Frame, EverythingIsReleasedOnEveryExit) {
  struct Row {
    const char* name;
    Reply reply;
    int status;
    std::vector<Release::Kind> releases;
  } rows[] = {
      {"success", Answer(R"({"code":1000,"data":{"enable":3}})"), 0, {Release::kAnswer}},
      {"success with auxBuffer",
       Reply{0, std::string(R"({"code":1000})"), std::nullopt, true},
       0,
       {Release::kAnswer, Release::kAux}},
      {"null answer", Reply{0, std::nullopt, std::nullopt, false}, -1, {}},
      {"null answer, auxBuffer only",
       Reply{0, std::nullopt, std::nullopt, true},
       -1,
       {Release::kAux}},
      {"unparsable answer", Answer("garbage"), -1, {Release::kAnswer}},
      {"transport failure", Failure(-20201), -20201, {}},
      {"failure that still left buffers",
       Reply{-20205, std::string("partial"), std::nullopt, true},
       -20205,
       {Release::kAnswer, Release::kAux}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeGateway::Instance().Reset();
    FakeGateway::Instance().Script(row.reply);
    corvane_test::LogCounter quiet;
    int enable = 0;
    std::int64_t before = corvane_test::LiveAllocations();
    EXPECT_EQ(API_GetAIPrivacyConfig(1, enable), row.status);
    EXPECT_EQ(corvane_test::LiveAllocations(), before);
    std::vector<Release> releases = FakeGateway::Instance().Releases();
    ASSERT_EQ(releases.size(), row.releases.size());
    for (std::size_t i = 0; i < releases.size(); ++i) {
      EXPECT_EQ(releases[i].kind, row.releases[i]);
      EXPECT_TRUE(releases[i].requestStillIntact);
    }
  }
}

}  // namespace
}  // namespace Corvane
