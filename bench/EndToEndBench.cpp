// End to end over loopback: the library through the real gateway (ZENTA session, Ostrel, libcurl)
// against corvane-mock-server, next to a bare libcurl client that sends the identical request
// (method, target, the three headers, body) on one reused easy handle to the same server, in
// the same run; over http and over https (a certificate made for the run, which both clients
// trust as their only CA); and both with 1, 2 and 4 threads, the library's on one session handle.
//
// The server runs as a separate process so that its CPU time can be told apart from the
// client's: every benchmark reports client and server CPU microseconds per call next to the
// throughput. By default the program starts corvane-mock-server from its own folder, twice
// (http and https; CORVANE_MOCK_SERVER names another binary); CORVANE_BENCH_SERVER=http://host:port
// uses a server that is already running instead (no server CPU and no https pair then).
//
// CORVANE_BENCH_CALLS=CLIENT:N runs no benchmark: after the set-up and one call to open the
// connection, it makes N calls with one client (library-get, raw-get, library-post, raw-post,
// each also with -tls) in MeasuredLoop, for strace and callgrind to count (bench/run.sh). The
// clients raw-parsed-get and raw-parsed-post are the bare one handing libcurl its URL parsed, as
// the gateway does, for the instruction counts only.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <rapidjson/document.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BenchProcess.h"
#include "Boundary.h"
#include "Corvane.h"
#include "RawClient.h"
#include "Rounds.h"
#include "Workers.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_bench::Certificate;
using corvane_bench::Measure;
using corvane_bench::MedianRatio;
using corvane_bench::Operation;
using corvane_bench::Placement;
using corvane_bench::RawClient;
using corvane_bench::Report;
using corvane_bench::ServerProcess;
using corvane_bench::Totals;
using corvane_bench::Workers;

// The requests, as the library makes them with these settings.
const char kLanguage[] = "en-US";
const char kTimeZone[] = "Europe/Berlin";
const char kMac[] = "AA:BB:CC:00:11:22";
const char kTrailChannel[] = "D1001-C01";
const char kSpeakerChannel[] = "D2001-C01";
const char kTrailTarget[] = "/vusk/api/v1.1/ptz/channel/D1001-C01/trail/list";
const char kVolumeTarget[] = "/vusk/api/v1.1/ip-speaker/channel/volume/fetch/list";
const char kVolumeBody[] =
    R"({"clientType":"WINPC_V2","clientMac":"AA:BB:CC:00:11:22","project":"QIRO",)"
    R"("channelIds":["D2001-C01"]})";

// ---- the servers ------------------------------------------------------------------------------

// A server, the session the library holds on it, and for https the certificate both clients
// take as their only CA.
struct Endpoint {
  ServerProcess server;
  std::string url;
  std::string caFile;
  int session = 0;
};

Endpoint plain;
Endpoint tls;

// The bare client for a request to the endpoint, with the headers the library's session sends:
// the three of the request and the session's offer of gzip (the gateway's default). These
// answers are below the server's 1 KiB threshold for coding, so neither client decodes anything.
std::unique_ptr<RawClient> MakeRawClient(const Endpoint& endpoint, const char* target,
                                         const char* body, bool parsedUrl = false) {
  const std::vector<std::string> headers = {
      std::string("Accept-Language: ") + kLanguage, "Content-Type: application/json;charset=UTF-8",
      std::string("Time-Zone: ") + kTimeZone, "Accept-Encoding: gzip"};
  return std::make_unique<RawClient>(endpoint.url + target, endpoint.caFile, headers, body,
                                     parsedUrl);
}

// ---- the operations ----------------------------------------------------------------------------

int LibraryTrails(int handle) {
  std::vector<Corvane::PtzTrailInfo> trails;
  return Corvane::API_GetPtzTrailList(kTrailChannel, handle, trails);
}

int LibraryVolume(int handle) {
  Corvane::SpeakerVolumeInfo info;
  return Corvane::API_GetIPSpeakerVolume(kSpeakerChannel, info, handle);
}

Workers& SharedWorkers() {
  static Workers workers(
      [](const char* target, const char* body) { return MakeRawClient(plain, target, body); });
  return workers;
}

constexpr int kBatch = 32;  // calls per client per round

// The library against the bare client, one thread each, alternating batches.
void CompareWithRaw(benchmark::State& state, const Endpoint& endpoint, Operation library,
                    const char* target, const char* body, bool parsedUrl = false) {
  if (endpoint.session == 0) {
    state.SkipWithError("no server for this pair");
    for (auto _ : state) {
    }
    return;
  }
  const pid_t server = endpoint.server.Pid();
  const Placement placement(server);
  const std::unique_ptr<RawClient> raw = MakeRawClient(endpoint, target, body, parsedUrl);
  Totals libraryTotals;
  Totals rawTotals;
  bool libraryFirst = true;
  for (auto _ : state) {
    auto runLibrary = [&] {
      Measure(libraryTotals, server, kBatch, [&] {
        for (int i = 0; i < kBatch; ++i) {
          if (library(endpoint.session) != 0) state.SkipWithError("the operation failed");
        }
      });
    };
    auto runRaw = [&] {
      Measure(rawTotals, server, kBatch, [&] {
        for (int i = 0; i < kBatch; ++i) {
          if (raw->Call() != 0) state.SkipWithError("the raw request failed");
        }
      });
    };
    if (libraryFirst) {
      runLibrary();
      runRaw();
    } else {
      runRaw();
      runLibrary();
    }
    libraryFirst = !libraryFirst;
  }
  Report(state, server, "library", libraryTotals);
  Report(state, server, "raw", rawTotals);
  // Throughput of the library as a share of the raw client's, and its client CPU per call as a
  // multiple of the raw client's, round by round.
  state.counters["library_vs_raw"] = MedianRatio(rawTotals, libraryTotals);
  state.counters["cpu_library_vs_raw"] =
      MedianRatio(libraryTotals.batchCpuNsPerCall, rawTotals.batchCpuNsPerCall);
}

// 1, 2 and 4 threads, the library's on one session handle, the raw client's on one easy handle
// per thread; phases alternate within each round.
void CompareThreads(benchmark::State& state, Operation library, const char* target,
                    const char* body, bool raw) {
  Workers& workers = SharedWorkers();
  const int counts[] = {1, 2, 4};
  Totals totals[3];
  int round = 0;
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) {
      const int phase = (k + round) % 3;
      const int threads = counts[phase];
      Measure(totals[phase], plain.server.Pid(), static_cast<double>(threads) * kBatch, [&] {
        if (!workers.Call(threads, kBatch, library, plain.session, target, body, raw)) {
          state.SkipWithError("a call failed");
        }
      });
    }
    ++round;
  }
  for (int phase = 0; phase < 3; ++phase) {
    Report(state, plain.server.Pid(), std::to_string(counts[phase]) + "t", totals[phase]);
  }
  // Throughput with 2 and 4 threads over throughput with 1, round by round.
  state.counters["scale_2t"] = MedianRatio(totals[0], totals[1]);
  state.counters["scale_4t"] = MedianRatio(totals[0], totals[2]);
}

void BM_E2E_GetPtzTrailList(benchmark::State& state) {
  CompareWithRaw(state, plain, &LibraryTrails, kTrailTarget, nullptr);
}
void BM_E2E_GetIPSpeakerVolume(benchmark::State& state) {
  CompareWithRaw(state, plain, &LibraryVolume, kVolumeTarget, kVolumeBody);
}
void BM_E2E_Tls_GetPtzTrailList(benchmark::State& state) {
  CompareWithRaw(state, tls, &LibraryTrails, kTrailTarget, nullptr);
}
void BM_E2E_Tls_GetIPSpeakerVolume(benchmark::State& state) {
  CompareWithRaw(state, tls, &LibraryVolume, kVolumeTarget, kVolumeBody);
}
// Against a bare client that hands libcurl its URL parsed too, as the gateway does: what the
// library and the gateway cost beyond libcurl used at its cheapest (no target).
void BM_E2E_ParsedUrl_GetPtzTrailList(benchmark::State& state) {
  CompareWithRaw(state, plain, &LibraryTrails, kTrailTarget, nullptr, true);
}
void BM_E2E_ParsedUrl_GetIPSpeakerVolume(benchmark::State& state) {
  CompareWithRaw(state, plain, &LibraryVolume, kVolumeTarget, kVolumeBody, true);
}
void BM_Threads_Library_GetPtzTrailList(benchmark::State& state) {
  CompareThreads(state, &LibraryTrails, kTrailTarget, nullptr, false);
}
void BM_Threads_Raw_GetPtzTrailList(benchmark::State& state) {
  CompareThreads(state, &LibraryTrails, kTrailTarget, nullptr, true);
}
void BM_Threads_Library_GetIPSpeakerVolume(benchmark::State& state) {
  CompareThreads(state, &LibraryVolume, kVolumeTarget, kVolumeBody, false);
}
void BM_Threads_Raw_GetIPSpeakerVolume(benchmark::State& state) {
  CompareThreads(state, &LibraryVolume, kVolumeTarget, kVolumeBody, true);
}

// The real gateway's hand-over of a 200-byte answer (the buffer the transport filled, the answer
// registry, the release), to compare with the in-process gateway of the library benchmark.
void BM_ZentaHandOver(benchmark::State& state) {
  const std::string answer(200, 'x');
  for (auto _ : state) {
    ZENTA_HttpAnswer filled{};
    filled.body = static_cast<char*>(std::malloc(answer.size() + 1));
    std::memcpy(filled.body, answer.c_str(), answer.size() + 1);
    filled.bodyLength = answer.size();
    char* buffer = ZENTA_KeepAnswer(&filled);
    benchmark::DoNotOptimize(buffer);
    ZENTA_ReleaseDataBuffer(buffer);
  }
}

BENCHMARK(BM_E2E_GetPtzTrailList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_GetIPSpeakerVolume)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_Tls_GetPtzTrailList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_Tls_GetIPSpeakerVolume)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_ParsedUrl_GetPtzTrailList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_E2E_ParsedUrl_GetIPSpeakerVolume)->Unit(benchmark::kMillisecond);
// The workers make the calls, so the main thread's CPU time says nothing of a round's length:
// the minimum time counts in wall time (else the rounds run on to the iteration limit).
BENCHMARK(BM_Threads_Library_GetPtzTrailList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Threads_Raw_GetPtzTrailList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Threads_Library_GetIPSpeakerVolume)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Threads_Raw_GetIPSpeakerVolume)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZentaHandOver);

// ---- set-up: the same request on the wire from both clients -------------------------------------

// GET or DELETE on the server's control API; returns the answer body.
std::string Control(const Endpoint& endpoint, const char* method, const std::string& path) {
  return corvane_bench::Fetch(endpoint.url + path, endpoint.caFile, method);
}

std::string Describe(const rapidjson::Value& request) {
  std::string text =
      std::string(request["method"].GetString()) + " " + request["target"].GetString() + " |";
  for (const auto& header : request["headers"].GetArray()) {
    text +=
        " " + std::string(header["name"].GetString()) + ": " + header["value"].GetString() + ";";
  }
  return text + " | " + request["body"].GetString();
}

// Sends one request from each client and compares what the server received.
void CheckSameRequest(const Endpoint& endpoint, Operation library, const char* target,
                      const char* body) {
  Control(endpoint, "DELETE", "/__mock/requests");
  if (library(endpoint.session) != 0) throw std::runtime_error("the library's request failed");
  if (MakeRawClient(endpoint, target, body)->Call() != 0)
    throw std::runtime_error("the raw client's request failed");
  rapidjson::Document log;
  log.Parse(Control(endpoint, "GET", "/__mock/requests").c_str());
  if (!log.IsObject() || !log.HasMember("data") || !log["data"].HasMember("requests") ||
      log["data"]["requests"].Size() != 2) {
    throw std::runtime_error("unexpected request log");
  }
  const rapidjson::Value& requests = log["data"]["requests"];
  const std::string fromLibrary = Describe(requests[0]);
  const std::string fromRaw = Describe(requests[1]);
  std::cerr << "request: " << fromLibrary << "\n";
  if (fromLibrary != fromRaw) {
    throw std::runtime_error("the clients sent different requests:\n  library: " + fromLibrary +
                             "\n  raw:     " + fromRaw);
  }
}

std::string ServerBinary() {
  if (const char* path = std::getenv("CORVANE_MOCK_SERVER")) return path;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) throw std::runtime_error("cannot find the benchmark's own folder");
  std::string folder(self, static_cast<std::size_t>(length));
  return folder.substr(0, folder.rfind('/')) + "/corvane-mock-server";
}

// Opens the library's session on the endpoint; over https it verifies the server against the
// endpoint's certificate. Both clients go without a proxy, whatever the environment names (the
// bare client sets CURLOPT_PROXY to ""), so both skip libcurl's look-up of proxy variables.
void OpenSession(Endpoint& endpoint) {
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  options.verifyTls = endpoint.caFile.empty() ? 0 : 1;
  options.caFile = endpoint.caFile.empty() ? nullptr : endpoint.caFile.c_str();
  options.proxy = "";
  if (ZENTA_OpenSession(endpoint.url.c_str(), &options, &endpoint.session) != ZENTA_OK) {
    throw std::runtime_error("cannot open a session on " + endpoint.url);
  }
}

// One client's calls, as CORVANE_BENCH_CALLS names it.
struct Counted {
  Operation library;
  RawClient* raw;  // null: the library
  int session;
  int Call() const { return raw != nullptr ? raw->Call() : library(session); }
};

// The calls that strace and callgrind count: nothing else runs in this function, so callgrind
// collects only here (--toggle-collect). Returns the number of failed calls.
__attribute__((noinline)) long MeasuredLoop(const Counted& client, long n) {
  long failed = 0;
  for (long i = 0; i < n; ++i) failed += client.Call() != 0;
  return failed;
}

int CountCalls(const std::string& clientAndCount) {
  const std::size_t colon = clientAndCount.rfind(':');
  std::string name = clientAndCount.substr(0, colon);
  const long n = colon == std::string::npos ? 0 : std::atol(clientAndCount.c_str() + colon + 1);
  const std::string suffix = "-tls";
  const bool secure = name.size() > suffix.size() &&
                      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  if (secure) name.resize(name.size() - suffix.size());
  const std::string parsedPrefix = "raw-parsed-";
  const bool parsedUrl = name.rfind(parsedPrefix, 0) == 0;
  if (parsedUrl) name = "raw-" + name.substr(parsedPrefix.size());
  const Endpoint& endpoint = secure ? tls : plain;
  const bool get = name == "library-get" || name == "raw-get";
  if ((!get && name != "library-post" && name != "raw-post") || n <= 0 || endpoint.session == 0) {
    std::cerr << "corvane_bench_e2e: CORVANE_BENCH_CALLS=" << clientAndCount
              << " names no client\n";
    return 2;
  }
  std::unique_ptr<RawClient> raw;
  if (name.rfind("raw-", 0) == 0) {
    raw = MakeRawClient(endpoint, get ? kTrailTarget : kVolumeTarget, get ? nullptr : kVolumeBody,
                        parsedUrl);
  }
  const Counted client{get ? &LibraryTrails : &LibraryVolume, raw.get(), endpoint.session};
  if (client.Call() != 0) {
    std::cerr << "corvane_bench_e2e: the first call failed\n";
    return 1;
  }
  // Marks in strace's log where the counted calls begin and end: a look-up of a path that is
  // not there, naming the number of calls.
  const std::string mark = "/nonexistent/corvane-bench-calls/";
  access((mark + std::to_string(n)).c_str(), F_OK);
  const long failed = MeasuredLoop(client, n);
  access((mark + "end").c_str(), F_OK);
  if (failed != 0) {
    std::cerr << "corvane_bench_e2e: a counted call failed\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::unique_ptr<Certificate> certificate;
  int status = -1;
  try {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Corvane::SetLangauage(kLanguage);
    Corvane::SetTimeZone(kTimeZone);
    Corvane::SetMacAddress(kMac);
    if (const char* url = std::getenv("CORVANE_BENCH_SERVER")) {
      plain.url = url;
    } else {
      const std::string binary = ServerBinary();
      plain.server.Start(binary);
      plain.url = plain.server.Url();
      certificate = std::make_unique<Certificate>();
      tls.server.Start(
          binary, {"--tls-cert", certificate->CertFile(), "--tls-key", certificate->KeyFile()});
      tls.url = tls.server.Url();
      tls.caFile = certificate->CertFile();
    }
    for (Endpoint* endpoint : {&plain, &tls}) {
      if (endpoint->url.empty()) continue;
      OpenSession(*endpoint);
      CheckSameRequest(*endpoint, &LibraryTrails, kTrailTarget, nullptr);
      CheckSameRequest(*endpoint, &LibraryVolume, kVolumeTarget, kVolumeBody);
    }
    if (const char* calls = std::getenv("CORVANE_BENCH_CALLS")) {
      status = CountCalls(calls);
    } else {
      const std::unique_ptr<RawClient> probe = MakeRawClient(plain, kTrailTarget, nullptr);
      probe->Call();
      benchmark::AddCustomContext("server", plain.url);
      benchmark::AddCustomContext("trail_answer_bytes", std::to_string(probe->Answer().size()));
      if (tls.session != 0) {
        std::string version;
        corvane_bench::Fetch(tls.url + kTrailTarget, tls.caFile, "GET", &version);
        benchmark::AddCustomContext("tls_server", tls.url);
        benchmark::AddCustomContext("tls_version", version);
      }
    }
  } catch (const std::exception& error) {
    std::cerr << "corvane_bench_e2e: " << error.what() << "\n";
    status = 1;
  }
  if (status < 0) {
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    status = 0;
  }
  for (Endpoint* endpoint : {&plain, &tls}) {
    if (endpoint->session != 0) ZENTA_CloseSession(endpoint->session);
    endpoint->server.Stop();
  }
  return status;
}
