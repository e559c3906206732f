#include "FaultInjector.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <array>
#include <utility>

namespace corvane::mock {
namespace {

constexpr int kMaxDelayMs = 600000;
// A big answer's size: room for its envelope, and at most 1 GiB.
constexpr int kMinBigBytes = 64;
constexpr int kMaxBigBytes = 1 << 30;
constexpr int kMaxRetryAfterSec = 86400;
constexpr int kMaxTrickleRate = 1 << 30;

const std::array<std::pair<FaultKind, const char*>, 8> kKindNames = {{
    {FaultKind::kDelay, "delay"},
    {FaultKind::kHttpError, "http-error"},
    {FaultKind::kGarbage, "garbage"},
    {FaultKind::kTruncate, "truncate"},
    {FaultKind::kDrop, "drop"},
    {FaultKind::kBusiness, "business"},
    {FaultKind::kBig, "big"},
    {FaultKind::kTrickle, "trickle"},
}};

using Parsed = Outcome<Fault>;

Parsed Invalid(const std::string& message) {
  return Parsed::Fail(kCodeInvalidParameter, "fault: " + message);
}

// An integer member within [low, high], or the problem.
std::optional<std::string> ReadInt(const rapidjson::Value& value, const char* name,
                                   std::int64_t low, std::int64_t high, int& out) {
  if (!value.IsInt64() || value.GetInt64() < low || value.GetInt64() > high) {
    return std::string("\"") + name + "\" must be an integer from " + std::to_string(low) + " to " +
           std::to_string(high);
  }
  out = static_cast<int>(value.GetInt64());
  return std::nullopt;
}

// Which members a description named, for the checks of the whole description.
struct Named {
  bool path = false;
  bool kind = false;
  bool code = false;
  bool bytes = false;
  bool status = false;
  bool rate = false;
};

using Problem = std::optional<std::string>;

// Reads one member of a description into fault: what is wrong with it, if anything.
Problem ReadMember(const std::string& name, const rapidjson::Value& value, Fault& fault,
                   Named& named) {
  if (name == "path") {
    if (!value.IsString()) return "\"path\" must be a string";
    fault.path.assign(value.GetString(), value.GetStringLength());
    if (fault.path != "*" && (fault.path.empty() || fault.path[0] != '/')) {
      return "\"path\" must be \"*\" or start with \"/\"";
    }
    named.path = true;
  } else if (name == "kind") {
    const std::string kind = value.IsString() ? value.GetString() : "";
    for (const auto& [k, text] : kKindNames) {
      if (kind == text) {
        fault.kind = k;
        named.kind = true;
      }
    }
    if (!named.kind)
      return "\"kind\" must be delay, http-error, garbage, truncate, drop, business, big or "
             "trickle";
  } else if (name == "delayMs") {
    return ReadInt(value, "delayMs", 0, kMaxDelayMs, fault.delayMs);
  } else if (name == "status") {
    named.status = true;
    return ReadInt(value, "status", 400, 599, fault.status);
  } else if (name == "code") {
    named.code = true;
    return ReadInt(value, "code", INT32_MIN, INT32_MAX, fault.code);
  } else if (name == "count") {
    return ReadInt(value, "count", 1, INT32_MAX, fault.remaining);
  } else if (name == "keepData") {
    if (!value.IsBool()) return "\"keepData\" must be true or false";
    fault.keepData = value.GetBool();
  } else if (name == "bytes") {
    named.bytes = true;
    return ReadInt(value, "bytes", kMinBigBytes, kMaxBigBytes, fault.bytes);
  } else if (name == "bytesPerSecond") {
    named.rate = true;
    return ReadInt(value, "bytesPerSecond", 1, kMaxTrickleRate, fault.bytesPerSecond);
  } else if (name == "chunked") {
    if (!value.IsBool()) return "\"chunked\" must be true or false";
    fault.chunked = value.GetBool();
  } else if (name == "retryAfter") {
    // Seconds, or any other text (an HTTP date, or something a client must survive).
    if (!value.IsString()) {
      int seconds = 0;
      Problem problem = ReadInt(value, "retryAfter", 0, kMaxRetryAfterSec, seconds);
      if (!problem) fault.retryAfter = std::to_string(seconds);
      return problem;
    }
    fault.retryAfter = std::string(value.GetString(), value.GetStringLength());
    if (fault.retryAfter->find_first_of("\r\n") != std::string::npos) {
      return "\"retryAfter\" must be one line";
    }
  } else if (name == "body") {
    if (!value.IsString()) return "\"body\" must be a string";
    fault.body = std::string(value.GetString(), value.GetStringLength());
  } else {
    return "unknown member \"" + name + "\"";
  }
  return std::nullopt;
}

// The rules of a whole description: what each kind needs, and what goes with which kind.
Problem CheckWhole(Fault& fault, const Named& named) {
  if (!named.path) return "\"path\" is required";
  if (!named.kind) return "\"kind\" is required";
  if (fault.kind == FaultKind::kBusiness && !named.code) return "a business fault needs \"code\"";
  if (fault.kind == FaultKind::kBusiness && !named.status) fault.status = 200;
  if (fault.kind == FaultKind::kBig && !named.bytes) return "a big fault needs \"bytes\"";
  if ((fault.kind == FaultKind::kTrickle) != named.rate) {
    return "\"bytesPerSecond\" goes with trickle faults, which need it";
  }
  if (fault.retryAfter && fault.kind != FaultKind::kHttpError &&
      fault.kind != FaultKind::kBusiness) {
    return "\"retryAfter\" goes with http-error and business faults only";
  }
  if (fault.kind == FaultKind::kDelay && fault.delayMs == 0) {
    return "a delay fault needs \"delayMs\" above 0";
  }
  return std::nullopt;
}

Parsed ParseOne(const rapidjson::Value& object) {
  if (!object.IsObject()) return Invalid("each description must be a JSON object");
  Fault fault;
  Named named;
  for (const auto& member : object.GetObject()) {
    const std::string name(member.name.GetString(), member.name.GetStringLength());
    if (Problem problem = ReadMember(name, member.value, fault, named)) return Invalid(*problem);
  }
  if (Problem problem = CheckWhole(fault, named)) return Invalid(*problem);
  return Parsed::Success(std::move(fault));
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& [k, text] : kKindNames) {
    if (k == kind) return text;
  }
  return "unknown";
}

Outcome<std::vector<Fault>> ParseFaults(std::string_view jsonText) {
  using Result = Outcome<std::vector<Fault>>;
  rapidjson::Document document;
  document.Parse(jsonText.data(), jsonText.size());
  if (document.HasParseError()) {
    return Result::Fail(
        kCodeInvalidParameter,
        std::string("fault: not JSON: ") + rapidjson::GetParseError_En(document.GetParseError()));
  }
  std::vector<Fault> faults;
  const auto add = [&faults](const rapidjson::Value& value) {
    Parsed parsed = ParseOne(value);
    if (parsed.Ok()) faults.push_back(std::move(parsed.value));
    return parsed;
  };
  if (document.IsArray()) {
    if (document.Empty()) return Result::Fail(kCodeInvalidParameter, "fault: empty array");
    for (const auto& element : document.GetArray()) {
      Parsed parsed = add(element);
      if (!parsed.Ok()) return Result::Fail(parsed.code, parsed.message);
    }
  } else {
    Parsed parsed = add(document);
    if (!parsed.Ok()) return Result::Fail(parsed.code, parsed.message);
  }
  return Result::Success(std::move(faults));
}

std::uint64_t FaultInjector::Add(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault.id = nextId_++;
  faults_.push_back(std::move(fault));
  return faults_.back().id;
}

std::optional<Fault> FaultInjector::Take(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->path != "*" && it->path != path) continue;
    Fault taken = *it;
    if (it->remaining > 0 && --it->remaining == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

std::vector<Fault> FaultInjector::List() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void FaultInjector::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

}  // namespace corvane::mock
