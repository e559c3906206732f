// What the server checks before it answers: the standard headers, the client identity of POST
// bodies, and the routing of paths and methods. Raw exchanges are used where an HTTP client
// would add or drop headers of its own.
#include "MockServerTestSupport.h"

namespace corvane::mock::testing {
namespace {

using RequestCheckTest = MockServerTest;

constexpr char kPrivacyPath[] = "/vusk/api/v1.1/config/ai/privacy";
constexpr char kFetchPath[] = "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list";

int CodeOf(const RawAnswer& answer) {
  rapidjson::Document document;
  document.Parse(answer.body.c_str());
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("code")) return 0;
  return document["code"].GetInt();
}

TEST_F(RequestCheckTest, StandardHeadersMustBePresentOnceWithAJsonContentType) {
  const std::string language = "Accept-Language: en-US\r\n";
  const std::string json = "Content-Type: application/json;charset=UTF-8\r\n";
  const std::string zone = "Time-Zone: UTC+08:00\r\n";
  const std::string fetchBody = IdentityBody(R"("channelIds":["D2001-C01"])");
  struct Case {
    const char* name;
    const char* method;
    std::string headers;
    int status;
    int code;
  };
  const Case cases[] = {
      {"all three", "GET", language + json + zone, 200, kCodeOk},
      {"all three on a POST", "POST", language + json + zone, 200, kCodeOk},
      {"empty language and zone, as from unset settings", "GET",
       "Accept-Language:\r\n" + json + "Time-Zone: \r\n", 200, kCodeOk},
      {"lower-case names", "GET",
       "accept-language: fr\r\ncontent-type: application/json;charset=UTF-8\r\ntime-zone: +1\r\n",
       200, kCodeOk},
      {"charset spelled otherwise", "GET",
       language + "Content-Type: application/json; charset=\"utf-8\"\r\n" + zone, 200, kCodeOk},
      {"no charset", "GET", language + "Content-Type: application/json\r\n" + zone, 200, kCodeOk},
      {"no Accept-Language", "GET", json + zone, 400, kCodeBadHeader},
      {"no Content-Type", "GET", language + zone, 400, kCodeBadHeader},
      {"no Content-Type on a POST", "POST", language + zone, 400, kCodeBadHeader},
      {"no Time-Zone", "GET", language + json, 400, kCodeBadHeader},
      {"no headers at all", "GET", "", 400, kCodeBadHeader},
      {"Time-Zone twice", "GET", language + json + zone + zone, 400, kCodeBadHeader},
      {"text/plain", "GET", language + "Content-Type: text/plain\r\n" + zone, 400, kCodeBadHeader},
      {"another charset", "GET",
       language + "Content-Type: application/json;charset=ISO-8859-1\r\n" + zone, 400,
       kCodeBadHeader},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const bool post = std::string(row.method) == "POST";
    const RawAnswer answer =
        RawExchange(Port(), RawRequest(row.method, post ? kFetchPath : kPrivacyPath, row.headers,
                                       post ? fetchBody : ""));
    EXPECT_EQ(answer.status, row.status) << answer.bytes;
    EXPECT_EQ(answer.Header("content-type"), kJsonContentType);
    EXPECT_EQ(CodeOf(answer), row.code) << answer.body;
  }
}

TEST_F(RequestCheckTest, PostBodiesMustCarryTheClientIdentity) {
  const std::string ids = R"("channelIds":["D2001-C01"])";
  struct Case {
    const char* name;
    std::string body;
    int status;
    int code;
  };
  const Case cases[] = {
      {"full identity", IdentityBody(ids), 200, kCodeOk},
      {"empty MAC, as from an unset setting",
       R"({"clientType":"WINPC_V2","clientMac":"","project":"QIRO",)" + ids + "}", 200, kCodeOk},
      {"no clientType", R"({"clientMac":"m","project":"QIRO",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"another clientType", R"({"clientType":"WEB","clientMac":"m","project":"QIRO",)" + ids + "}",
       200, kCodeIdentityRejected},
      {"clientType in another case",
       R"({"clientType":"winpc_v2","clientMac":"m","project":"QIRO",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"no project", R"({"clientType":"WINPC_V2","clientMac":"m",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"another project",
       R"({"clientType":"WINPC_V2","clientMac":"m","project":"OTHER",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"no clientMac", R"({"clientType":"WINPC_V2","project":"QIRO",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"clientMac a number",
       R"({"clientType":"WINPC_V2","clientMac":7,"project":"QIRO",)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"identity inside data only",
       R"({"data":{"clientType":"WINPC_V2","clientMac":"m","project":"QIRO"},)" + ids + "}", 200,
       kCodeIdentityRejected},
      {"a JSON array", "[" + IdentityBody(ids) + "]", 400, kCodeBadBody},
      {"not JSON", "clientType=WINPC_V2", 400, kCodeBadBody},
      {"cut short", IdentityBody(ids).substr(0, 30), 400, kCodeBadBody},
      {"empty", "", 400, kCodeBadBody},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Envelope answer = ReadEnvelope(Post(kFetchPath, row.body));
    EXPECT_EQ(answer.status, row.status);
    EXPECT_EQ(answer.contentType, kJsonContentType);
    EXPECT_EQ(answer.code, row.code) << answer.body;
  }
}

TEST_F(RequestCheckTest, PathsAndMethodsAreRoutedExactly) {
  struct Case {
    const char* name;
    const char* method;
    std::string target;
    int status;
    int code;
    std::string allow;  // the Allow header of a 405
  };
  const Case cases[] = {
      {"unknown path", "GET", "/vusk/api/v1.1/config/nothing", 404, kCodeNoSuchPath, ""},
      {"root", "GET", "/", 404, kCodeNoSuchPath, ""},
      {"trailing slash", "GET", "/vusk/api/v1.1/config/pos/", 404, kCodeNoSuchPath, ""},
      {"path without its version", "GET", "/vusk/api/config/pos", 404, kCodeNoSuchPath, ""},
      {"empty device id", "GET", "/vusk/api/v1.1/device//web/enablement", 404, kCodeNoSuchPath, ""},
      {"id holding a slash", "GET", "/vusk/api/v1.1/ptz/channel/D1001/C01/trail/list", 404,
       kCodeNoSuchPath, ""},
      {"GET on a POST path", "GET", kFetchPath, 405, kCodeMethodNotAllowed, "POST"},
      {"POST on a GET path", "POST", kPrivacyPath, 405, kCodeMethodNotAllowed, "GET"},
      {"DELETE on a GET path", "DELETE", "/vusk/api/v1.1/config/pos", 405, kCodeMethodNotAllowed,
       "GET"},
      {"query on a path that takes none", "GET", "/vusk/api/v1.1/config/pos?x=1", 200, kCodeOk, ""},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const RawAnswer answer =
        RawExchange(Port(), RawRequest(row.method, row.target, StandardHeaderLines(),
                                       std::string(row.method) == "POST" ? "{}" : ""));
    EXPECT_EQ(answer.status, row.status) << answer.bytes;
    EXPECT_EQ(answer.Header("content-type"), kJsonContentType);
    EXPECT_EQ(CodeOf(answer), row.code) << answer.body;
    EXPECT_EQ(answer.Header("allow"), row.allow);
  }
}

}  // namespace
}  // namespace corvane::mock::testing
