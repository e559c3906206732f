// Connection counting, which the keep-alive checks of the gateway's integration tests rely on.
#include "MockServerTestSupport.h"

namespace corvane::mock::testing {
namespace {

using ControlTest = MockServerTest;

constexpr char kPosPath[] = "/vusk/api/v1.1/config/pos";

std::uint64_t Counter(const Envelope& stats, const char* name) {
  const auto& data = stats.Data();
  if (!data.IsObject() || !data.HasMember(name)) {
    ADD_FAILURE() << "no " << name << " in " << stats.body;
    return 0;
  }
  return data[name].GetUint64();
}

TEST_F(ControlTest, ConnectionsAreCountedWithAndWithoutKeepAlive) {
  struct Case {
    const char* name;
    bool keepAlive;
    int calls;
    std::uint64_t connections;  // counted once the calls are done
  };
  const Case cases[] = {
      {"keep-alive: one connection for all calls", true, 50, 1},
      {"no keep-alive: one connection per call", false, 5, 5},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(Control("DELETE", "stats").code, kCodeOk);
    {
      auto client = NewClient(row.keepAlive);
      for (int i = 0; i < row.calls; ++i) {
        ASSERT_EQ(ReadEnvelope(client->Get(kPosPath, StandardHeaders())).code, kCodeOk);
      }
    }
    const Envelope stats = Control("GET", "stats");  // on the connection of the reset above
    EXPECT_EQ(Counter(stats, "connections"), row.connections);
    EXPECT_EQ(Counter(stats, "apiRequests"), static_cast<std::uint64_t>(row.calls));
    EXPECT_EQ(Counter(stats, "requests"), static_cast<std::uint64_t>(row.calls) + 1);
    EXPECT_EQ(stats.Data()["paths"][kPosPath].GetUint64(), static_cast<std::uint64_t>(row.calls));
  }
}

}  // namespace
}  // namespace corvane::mock::testing
