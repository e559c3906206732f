#include "MockControl.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace corvane_test {

std::string MockServerUrl() {
  const char* file = std::getenv("CORVANE_MOCK_URL_FILE");
  if (file == nullptr) throw std::runtime_error("CORVANE_MOCK_URL_FILE is not set: run via ctest");
  std::ifstream in(file);
  std::string url;
  if (!std::getline(in, url) || url.empty()) throw std::runtime_error("no mock server URL");
  return url;
}

struct MockControl::Impl {
  explicit Impl(const std::string& url) : client(url) { client.set_keep_alive(true); }
  void Expect(const httplib::Result& result, const char* what) {
    if (!result || result->status != 200) {
      throw std::runtime_error(std::string("mock control ") + what + " failed");
    }
  }
  httplib::Client client;
};

MockControl::MockControl() : impl_(std::make_unique<Impl>(MockServerUrl())) {}
MockControl::~MockControl() = default;

void MockControl::Reset() {
  impl_->Expect(impl_->client.Delete("/__mock/faults"), "clearing faults");
  impl_->Expect(impl_->client.Post("/__mock/reset", "{}", "application/json"), "reset");
  impl_->Expect(impl_->client.Delete("/__mock/stats"), "zeroing statistics");
}

void MockControl::ClearFaults() {
  impl_->Expect(impl_->client.Delete("/__mock/faults"), "clearing faults");
}

void MockControl::AddFault(const std::string& json) {
  impl_->Expect(impl_->client.Post("/__mock/faults", json, "application/json"), "adding a fault");
}

quim::Json::Value MockControl::Stats() {
  httplib::Result result = impl_->client.Get("/__mock/stats");
  impl_->Expect(result, "statistics");
  quim::Json::Value stats;
  if (!quim::Json::Parse(result->body, stats) || !stats.isMember("data")) {
    throw std::runtime_error("statistics not in an answer envelope");
  }
  return stats["data"];
}

}  // namespace corvane_test
