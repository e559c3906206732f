// The control endpoints and the connection handling: connection counts with and without
// keep-alive, statistics, reset, catalog, request log, shutdown and a prompt stop.
#include <chrono>
#include <thread>

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

TEST_F(ControlTest, ConcurrentKeepAliveClientsEachKeepOneConnection) {
  constexpr int kClients = 6;
  constexpr int kCalls = 20;
  std::vector<std::thread> threads;
  std::vector<int> failures(kClients, 0);
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      auto client = NewClient(true);
      for (int i = 0; i < kCalls; ++i) {
        if (ReadEnvelope(client->Get(kPosPath, StandardHeaders())).code != kCodeOk) {
          ++failures[static_cast<std::size_t>(c)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int c = 0; c < kClients; ++c) EXPECT_EQ(failures[static_cast<std::size_t>(c)], 0);
  const ServerStats stats = server_->Stats();
  EXPECT_EQ(stats.connections, static_cast<std::uint64_t>(kClients));
  EXPECT_EQ(stats.apiRequests, static_cast<std::uint64_t>(kClients * kCalls));
}

TEST_F(ControlTest, StatsResetKeepsTheOpenConnectionGauge) {
  ASSERT_EQ(ReadEnvelope(Get(kPosPath)).code, kCodeOk);
  const Envelope reset = Control("DELETE", "stats");
  EXPECT_EQ(Counter(reset, "connections"), 0U);
  EXPECT_EQ(Counter(reset, "apiRequests"), 0U);
  EXPECT_EQ(Counter(reset, "requests"), 0U);
  EXPECT_EQ(Counter(reset, "openConnections"), 1U);             // client_'s own
  EXPECT_EQ(Counter(Control("GET", "stats"), "requests"), 1U);  // the stats request itself
}

TEST_F(ControlTest, ResetRegeneratesThePlatformAndClearsFaultsAndTheLog) {
  const std::string speaker = "D2001-C01";
  const std::string update =
      IdentityBody(R"("channelIds":[")" + speaker + R"("],"microphoneVolume":7,"speakerVolume":8)");
  const std::string record =
      IdentityBody(R"("data":{"streamType":0,"duration":5,"channelId":"D1001-C02"})");
  struct Case {
    const char* name;
    std::string body;
    std::uint64_t seed;  // the platform the reset must give
  };
  const Case cases[] = {
      {"same seed", "", 42},
      {"same seed, empty object", "{}", 42},
      {"another seed", R"({"seed":7})", 7},
      {"largest seed", R"({"seed":18446744073709551615})", 18446744073709551615ULL},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(
        ReadEnvelope(Post("/vusk/api/v1.1/ip-speaker/channel/volume/update/batch", update)).code,
        kCodeOk);
    ASSERT_EQ(ReadEnvelope(Post("/admin/API/SS/Record/StartRecord", record)).code, kCodeOk);
    ASSERT_EQ(Control("POST", "faults", R"({"path":"/x","kind":"drop"})").code, kCodeOk);

    const Envelope reset = Control("POST", "reset", row.body);
    ASSERT_EQ(reset.code, kCodeOk) << reset.body;
    EXPECT_EQ(reset.Data()["seed"].GetUint64(), row.seed);
    EXPECT_EQ(CatalogJson(State()), CatalogJson(GeneratePlatformState(row.seed)));
    EXPECT_TRUE(server_->Faults().List().empty());
    EXPECT_EQ(Control("GET", "requests").Data()["requests"].Size(), 0U);
    const Envelope plan = ReadEnvelope(Post("/admin/API/SS/Record/StartRecord", record));
    EXPECT_EQ(plan.Data()["planId"].GetInt(), 1);  // plans start over
  }
  for (const char* bad : {R"({"seed":-1})", R"({"seed":"7"})", "[7]"}) {
    SCOPED_TRACE(bad);
    const Envelope refused = Control("POST", "reset", bad);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.code, kCodeInvalidParameter);
  }
}

TEST_F(ControlTest, CatalogShowsTheLiveState) {
  ASSERT_EQ(ReadEnvelope(Post("/vusk/api/v1.1/ip-speaker/channel/volume/update/batch",
                              IdentityBody(R"("channelIds":["D2001-C01"],"speakerVolume":3)")))
                .code,
            kCodeOk);
  const Envelope catalog = Control("GET", "catalog");
  ASSERT_EQ(catalog.code, kCodeOk);
  rapidjson::Document expected;
  expected.Parse(CatalogJson(State()).c_str());
  EXPECT_TRUE(catalog.Data() == expected);
  EXPECT_NE(CatalogJson(State()), CatalogJson(GeneratePlatformState(42)));
}

TEST_F(ControlTest, TheRequestLogShowsRequestsAsSent) {
  ASSERT_EQ(Control("DELETE", "requests").code, kCodeOk);
  const std::string body = IdentityBody(R"("channelIds":["D2001-C02"])");
  RawExchange(Port(), RawRequest("POST", "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list",
                                 "Accept-Language:\r\nContent-Type: application/json;charset=UTF-8"
                                 "\r\nTime-Zone: \r\n",
                                 body));
  RawExchange(Port(), RawRequest("GET", "/vusk/api/v1.1/config/dictionary-mapper?type=-3",
                                 "Accept-Language: de%2DCH\r\nContent-Type: application/json\r\n"
                                 "Time-Zone:\tUTC+01:00 \r\n"));
  Control("GET", "stats");  // control requests are not logged

  const Envelope log = Control("GET", "requests");
  const auto& requests = log.Data()["requests"];
  ASSERT_EQ(requests.Size(), 2U) << log.body;
  EXPECT_STREQ(requests[0]["method"].GetString(), "POST");
  EXPECT_EQ(std::string(requests[0]["body"].GetString()), body);
  std::map<std::string, std::string> headers;
  for (const auto& header : requests[0]["headers"].GetArray()) {
    headers[header["name"].GetString()] = header["value"].GetString();
  }
  ASSERT_EQ(headers.count("Time-Zone"), 1U);
  EXPECT_EQ(headers["Time-Zone"], "");
  ASSERT_EQ(headers.count("Accept-Language"), 1U);
  EXPECT_EQ(headers["Accept-Language"], "");
  EXPECT_EQ(headers.count("REMOTE_ADDR"), 0U);
  std::map<std::string, std::string> secondHeaders;
  for (const auto& header : requests[1]["headers"].GetArray()) {
    secondHeaders[header["name"].GetString()] = header["value"].GetString();
  }
  EXPECT_EQ(secondHeaders["Accept-Language"], "de%2DCH");  // not percent-decoded
  EXPECT_EQ(secondHeaders["Time-Zone"], "UTC+01:00");      // surrounding blanks dropped
  EXPECT_STREQ(requests[1]["target"].GetString(),
               "/vusk/api/v1.1/config/dictionary-mapper?type=-3");
  EXPECT_STREQ(requests[1]["path"].GetString(), "/vusk/api/v1.1/config/dictionary-mapper");
  EXPECT_GT(requests[1]["sequence"].GetUint64(), requests[0]["sequence"].GetUint64());
}

TEST_F(ControlTest, UnknownControlPathsAndMethodsAreRefused) {
  EXPECT_EQ(Control("GET", "nothing").status, 404);
  EXPECT_EQ(Control("GET", "nothing").code, kCodeNoSuchPath);
  EXPECT_EQ(Control("PUT", "stats").status, 405);
  EXPECT_EQ(Control("GET", "shutdown").code, kCodeMethodNotAllowed);
  EXPECT_FALSE(server_->ShutdownRequested());
}

TEST_F(ControlTest, ShutdownIsAnsweredThenReportedToTheOwner) {
  EXPECT_FALSE(server_->WaitForShutdownRequest(std::chrono::milliseconds(0)));
  const Envelope answer = Control("POST", "shutdown");
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.code, kCodeOk);
  EXPECT_TRUE(server_->WaitForShutdownRequest(std::chrono::seconds(5)));
  EXPECT_TRUE(server_->ShutdownRequested());
}

TEST_F(ControlTest, StopClosesIdleKeepAliveConnectionsAtOnce) {
  auto idle = NewClient(true);
  ASSERT_EQ(ReadEnvelope(idle->Get(kPosPath, StandardHeaders())).code, kCodeOk);
  ASSERT_EQ(ReadEnvelope(Get(kPosPath)).code, kCodeOk);
  EXPECT_EQ(server_->Stats().openConnections, 2U);
  const auto started = std::chrono::steady_clock::now();
  server_->Stop();  // without closing idle connections this waits for the 60 s idle timeout
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(server_->Stats().openConnections, 0U);
}

TEST_F(ControlTest, StartFailsOnAPortInUse) {
  ServerOptions options;
  options.port = Port();
  MockServer second(options);
  EXPECT_THROW(second.Start(), std::runtime_error);
}

}  // namespace
}  // namespace corvane::mock::testing
