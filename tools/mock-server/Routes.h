// Routing of the mock server's requests: a table of method + path pattern + handler, for the
// platform's endpoints and for the control API.
#ifndef CORVANE_MOCK_ROUTES_H
#define CORVANE_MOCK_ROUTES_H

#include <rapidjson/document.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "HttpCore.h"
#include "MockPlatform.h"
#include "Reply.h"

namespace corvane::mock {

struct ApiCall {
  const http::Request& request;
  std::vector<std::string> captures;  // the path pieces that the route's pattern names
  rapidjson::Document body;           // POST only: the body parsed (platform routes: an object)
};

struct Route {
  std::string method;
  std::regex pattern;
  std::function<Reply(ApiCall&)> handler;
};

// The answer of the route that takes the request: 404 for an unknown path, 405 (with Allow) for
// a method the path does not take, a HEAD as its GET. `platformChecks`: the standard headers and,
// for POST, a JSON object body with the client's identity.
Reply RouteRequest(const http::Request& req, const std::vector<Route>& routes, bool platformChecks);

// The fourteen platform endpoints, answering from `platform`.
std::vector<Route> PlatformRoutes(Platform& platform);

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_ROUTES_H
