// The request cycle stores paths without the printf formatter (SetRequestPathText,
// SetRequestPathPlain); whatever it stores must be byte for byte what SetRequestPath stores.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "APICommon.h"
#include "Corvane.h"
#include "FakeGateway.h"

namespace Corvane {
namespace {

std::string Field(const RestRequest& request) { return std::string(request.path, kPathWidth); }

// The record after SetRequestPath(format, args...), the formatter's own result.
template <typename... Args>
std::string Formatted(const char* format, Args... args) {
  RestRequest request{};
  std::memset(request.path, 'Z', kPathWidth);  // leftovers must not survive
  SetRequestPath(&request, format, args...);
  return Field(request);
}

template <typename... Args>
std::string Plain(bool& stored, const char* format, Args... args) {
  RestRequest request{};
  std::memset(request.path, 'Z', kPathWidth);
  const PathArgument arguments[] = {PathArgument(args)...};
  stored = SetRequestPathPlain(&request, format, arguments, sizeof...(Args));
  return Field(request);
}

TEST(PathFormat, PlainConversionsMatchTheFormatter) {
  const std::string longId(1300, 'x');
  const std::string fits(1278, 'y');
  struct Row {
    const char* name;
    std::string formatted;
    std::string plain;
    bool stored;
  };
  std::vector<Row> rows;
  auto add = [&rows](const char* name, std::string formatted, std::string plain, bool stored) {
    rows.push_back({name, std::move(formatted), std::move(plain), stored});
  };
  bool stored = false;
  std::string plain = Plain(stored, "/a/%s/b", "id 1/%41");
  add("text", Formatted("/a/%s/b", "id 1/%41"), plain, stored);
  plain = Plain(stored, "/q?x=%s&d=%lld", "", LLONG_MIN);
  add("empty text and smallest long long", Formatted("/q?x=%s&d=%lld", "", LLONG_MIN), plain,
      stored);
  plain = Plain(stored, "q?d=%lld", LLONG_MAX);
  add("largest long long, no slash", Formatted("q?d=%lld", LLONG_MAX), plain, stored);
  plain = Plain(stored, "/t?type=%d&n=%d", INT_MIN, 0);
  add("ints", Formatted("/t?type=%d&n=%d", INT_MIN, 0), plain, stored);
  plain = Plain(stored, "/100%%/%s", "p");
  add("percent sign", Formatted("/100%%/%s", "p"), plain, stored);
  plain = Plain(stored, "/%s", longId.c_str());
  add("cut at 1279 characters", Formatted("/%s", longId.c_str()), plain, stored);
  plain = Plain(stored, "/%s", fits.c_str());
  add("longest that fits", Formatted("/%s", fits.c_str()), plain, stored);
  plain = Plain(stored, "%s", "");
  add("empty text leaves the path", Formatted("%s", ""), plain, stored);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(row.stored);
    EXPECT_EQ(row.plain, row.formatted);
  }
}

TEST(PathFormat, OtherFormatsAreLeftToTheFormatter) {
  const std::string untouched(kPathWidth, 'Z');
  bool stored = true;
  EXPECT_EQ(Plain(stored, "/%5s", "a"), untouched);
  EXPECT_FALSE(stored);
  EXPECT_EQ(Plain(stored, "/%d", 7LL), untouched);  // a long long needs %lld
  EXPECT_FALSE(stored);
  EXPECT_EQ(Plain(stored, "/%s/%s", "a"), untouched);  // more conversions than arguments
  EXPECT_FALSE(stored);
  EXPECT_EQ(Plain(stored, "/%s", "a", "b"), untouched);  // more arguments than conversions
  EXPECT_FALSE(stored);
  EXPECT_EQ(Plain(stored, "/%s", static_cast<const char*>(nullptr)), untouched);
  EXPECT_FALSE(stored);
}

TEST(PathFormat, FixedPathsMatchTheFormatter) {
  const std::string longPath = "/" + std::string(1400, 'p');
  for (const std::string& text :
       {std::string("/vusk/api/v1.1/config/pos"), std::string("vusk"), std::string("//x"),
        std::string("/"), std::string(""), longPath}) {
    SCOPED_TRACE(text.size());
    RestRequest request{};
    std::memset(request.path, 'Z', kPathWidth);
    SetRequestPathText(&request, text.c_str());
    EXPECT_EQ(Field(request), Formatted("%s", text.c_str()));
  }
}

// An operation's path argument longer than the formatter's buffer is cut as SetRequestPath cuts
// it.
TEST(PathFormat, OperationsCutLongArguments) {
  using corvane_test::FakeGateway;
  FakeGateway::Instance().Reset();
  const std::string longId(1500, 'c');
  FakeGateway::Instance().Script(corvane_test::Answer(R"({"code":1000})"));
  std::vector<PtzTrailInfo> trails;
  EXPECT_EQ(API_GetPtzTrailList(longId, 1, trails), 0);
  RestRequest expected{};
  SetRequestPath(&expected, "/vusk/api/v1.1/ptz/channel/%s/trail/list", longId.c_str());
  EXPECT_EQ(FakeGateway::Instance().LastRequest().path, std::string(expected.path));
  FakeGateway::Instance().Reset();
}

}  // namespace
}  // namespace Corvane
