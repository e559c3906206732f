// A minimal HTTP/1.1 server on 127.0.0.1 for what cpp-httplib hides: each request's bytes exactly
// as they arrived, and a kept-alive connection that is closed instead of answered.
#ifndef CORVANE_TESTS_GATEWAY_RAWHTTPSERVER_H
#define CORVANE_TESTS_GATEWAY_RAWHTTPSERVER_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gateway_test {

class RawHttpServer {
 public:
  enum class Action {
    kAnswerJson,          // 200, application/json, {"code":0}, connection kept open
    kCloseWithoutAnswer,  // read the request, then close the connection
    kResetAfterHead,      // send the head of a 200 answer, then reset the connection
  };

  // The n-th request (over all connections) gets script[n]; later ones get kAnswerJson. One
  // connection is served at a time.
  explicit RawHttpServer(std::vector<Action> script);
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  std::string Url() const;
  std::vector<std::string> Requests();  // head and body of each request, byte for byte
  int Connections();

 private:
  void Run();
  void Serve(long long connection);

  std::vector<Action> script_;
  long long listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace gateway_test

#endif  // CORVANE_TESTS_GATEWAY_RAWHTTPSERVER_H
