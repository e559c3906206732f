// The control API under "/__mock/": faults, statistics, the request log, the platform's state,
// the required token, reset and shutdown (README.md lists them).
#include "MockServerImpl.h"
#include "RequestChecks.h"

namespace corvane::mock {

std::vector<Route> MockServer::Impl::ControlRoutes() {
  const auto route = [](const char* method, const char* path, std::function<Reply(ApiCall&)> f) {
    return Route{method, std::regex(std::string(kControlPrefix) + path), std::move(f)};
  };
  std::vector<Route> routes;
  routes.push_back(route("GET", "stats", [this](ApiCall&) { return StatsReply(); }));
  routes.push_back(route("DELETE", "stats", [this](ApiCall&) {
    ResetStats();
    return StatsReply();
  }));
  routes.push_back(route("GET", "faults", [this](ApiCall&) { return FaultList(); }));
  routes.push_back(route("POST", "faults", [this](ApiCall& call) { return AddFaults(call); }));
  routes.push_back(route("DELETE", "faults", [this](ApiCall&) {
    faults_.Clear();
    return FaultList();
  }));
  routes.push_back(route("POST", "reset", [this](ApiCall& call) { return ResetPlatform(call); }));
  routes.push_back(
      route("GET", "catalog", [this](ApiCall&) { return Ok(CatalogJson(platform_.Snapshot())); }));
  routes.push_back(route("GET", "requests", [this](ApiCall&) { return RequestLog(); }));
  routes.push_back(route("DELETE", "requests", [this](ApiCall&) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestLog_.clear();
    return Ok("{}");
  }));
  routes.push_back(route("POST", "shutdown", [this](ApiCall&) { return RequestShutdown(); }));
  routes.push_back(route("GET", "token", [this](ApiCall&) { return TokenState(); }));
  routes.push_back(route("POST", "token", [this](ApiCall& call) { return SetToken(call); }));
  routes.push_back(route("DELETE", "token", [this](ApiCall&) {
    RequireToken("");
    return TokenState();
  }));
  routes.push_back(route("POST", "token/expire", [this](ApiCall&) {
    ExpireToken();
    return TokenState();
  }));
  return routes;
}

void MockServer::Impl::ResetStats() {
  if (http_) http_->ResetConnectionCount();
  requests_ = 0;
  apiRequests_ = 0;
  faultsApplied_ = 0;
  unauthorized_ = 0;
  gzipped_ = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.clear();
}

Reply MockServer::Impl::StatsReply() {
  const ServerStats stats = Stats();
  return Ok(JsonObject([&](JsonWriter& w) {
    PutUint(w, "connections", stats.connections);
    PutUint(w, "openConnections", stats.openConnections);
    PutUint(w, "requests", stats.requests);
    PutUint(w, "apiRequests", stats.apiRequests);
    PutUint(w, "faultsApplied", stats.faultsApplied);
    PutUint(w, "unauthorized", stats.unauthorized);
    PutUint(w, "gzipped", stats.gzipped);
    w.Key("paths");
    w.StartObject();
    for (const auto& [path, count] : stats.paths) {
      w.Key(path.data(), static_cast<rapidjson::SizeType>(path.size()));
      w.Uint64(count);
    }
    w.EndObject();
  }));
}

Reply MockServer::Impl::AddFaults(ApiCall& call) {
  auto parsed = ParseFaults(call.request.body);
  if (!parsed.Ok()) return Error(400, parsed.code, parsed.message);
  std::vector<std::uint64_t> ids;
  for (auto& fault : parsed.value) ids.push_back(faults_.Add(std::move(fault)));
  return Ok(JsonObject([&](JsonWriter& w) {
    w.Key("ids");
    w.StartArray();
    for (auto id : ids) w.Uint64(id);
    w.EndArray();
  }));
}

Reply MockServer::Impl::FaultList() {
  const std::vector<Fault> faults = faults_.List();
  return Ok(JsonObject([&](JsonWriter& w) {
    PutArray(w, "faults", faults, [](JsonWriter& o, const Fault& fault) {
      PutUint(o, "id", fault.id);
      PutString(o, "path", fault.path);
      PutString(o, "kind", FaultKindName(fault.kind));
      PutInt(o, "delayMs", fault.delayMs);
      if (fault.kind == FaultKind::kHttpError || fault.kind == FaultKind::kBusiness) {
        PutInt(o, "status", fault.status);
      }
      if (fault.kind == FaultKind::kBusiness) {
        PutInt(o, "code", fault.code);
        o.Key("keepData");
        o.Bool(fault.keepData);
      }
      if (fault.body) PutString(o, "body", *fault.body);
      if (fault.retryAfter) PutString(o, "retryAfter", *fault.retryAfter);
      if (fault.kind == FaultKind::kBig) {
        PutInt(o, "bytes", fault.bytes);
        o.Key("chunked");
        o.Bool(fault.chunked);
      }
      if (fault.kind == FaultKind::kTrickle) PutInt(o, "bytesPerSecond", fault.bytesPerSecond);
      PutInt(o, "count", fault.remaining);
    });
  }));
}

Reply MockServer::Impl::ResetPlatform(ApiCall& call) {
  std::uint64_t seed = platform_.Seed();
  if (!call.request.body.empty() && (call.body.HasParseError() || !call.body.IsObject())) {
    return Error(400, kCodeInvalidParameter, "the body must be empty or a JSON object");
  }
  if (const rapidjson::Value* value = MemberOf(call.body, "seed")) {
    if (!value->IsUint64())
      return Error(400, kCodeInvalidParameter, "\"seed\" must be an unsigned integer");
    seed = value->GetUint64();
  }
  platform_.Reset(seed);
  faults_.Clear();
  RequireToken(options_.requireToken);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requestLog_.clear();
  }
  return Ok(JsonObject([seed](JsonWriter& w) { PutUint(w, "seed", seed); }));
}

Reply MockServer::Impl::RequestLog() {
  std::deque<RequestRecord> records;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    records = requestLog_;
  }
  return Ok(JsonObject([&](JsonWriter& w) {
    PutArray(w, "requests", records, [](JsonWriter& o, const RequestRecord& record) {
      PutUint(o, "sequence", record.sequence);
      PutString(o, "method", record.method);
      PutString(o, "target", record.target);
      PutString(o, "path", record.path);
      PutArray(o, "headers", record.headers, [](JsonWriter& h, const auto& header) {
        PutString(h, "name", header.first);
        PutString(h, "value", header.second);
      });
      PutString(o, "body", record.body);
      PutString(o, "auth", record.auth);
    });
  }));
}

Reply MockServer::Impl::SetToken(ApiCall& call) {
  const rapidjson::Value* token = call.body.IsObject() ? MemberOf(call.body, "token") : nullptr;
  if (token == nullptr || !token->IsString() || token->GetStringLength() == 0) {
    return Error(400, kCodeInvalidParameter, "the body must be {\"token\": \"...\"}");
  }
  const std::string text(token->GetString(), token->GetStringLength());
  for (const char c : text) {
    if (c <= ' ' || c > '~') {
      return Error(400, kCodeInvalidParameter, "a token is visible ASCII without spaces");
    }
  }
  RequireToken(text);
  return TokenState();
}

// Whether a token is required and whether it expired; never the token itself.
Reply MockServer::Impl::TokenState() {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool required = !token_.empty();
  const bool expired = tokenExpired_;
  return Ok(JsonObject([&](JsonWriter& w) {
    w.Key("required");
    w.Bool(required);
    w.Key("expired");
    w.Bool(expired);
  }));
}

Reply MockServer::Impl::RequestShutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdownRequested_ = true;
  }
  wake_.notify_all();
  Reply reply = Ok("{}");
  reply.message = "shutting down";
  return reply;
}

}  // namespace corvane::mock
