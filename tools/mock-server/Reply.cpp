#include "Reply.h"

#include <algorithm>

namespace corvane::mock {
namespace {

constexpr std::size_t kBigPiece = 64 * 1024;  // a "big" answer is produced this much at a time

std::pair<std::string, std::string> BodyOf(const Reply& reply) {
  if (reply.binary) return {*reply.binary, reply.binaryType};
  return {EnvelopeText(reply), kJsonType};
}

}  // namespace

Reply Ok(std::string data) {
  Reply reply;
  reply.data = std::move(data);
  return reply;
}

Reply Error(int httpStatus, int code, std::string message) {
  Reply reply;
  reply.httpStatus = httpStatus;
  reply.code = code;
  reply.message = std::move(message);
  return reply;
}

std::string EnvelopeText(const Reply& reply) {
  return JsonObject([&reply](JsonWriter& w) {
    PutInt(w, "code", reply.code);
    PutString(w, "message", reply.message);
    if (reply.data) {
      w.Key("data");
      w.RawValue(reply.data->data(), reply.data->size(), rapidjson::kObjectType);
    }
  });
}

int Send(const Reply& reply, http::Exchange& out, http::Headers extra) {
  auto [body, type] = BodyOf(reply);
  extra.insert(extra.end(), reply.headers.begin(), reply.headers.end());
  extra.emplace_back("Content-Type", type);
  if (!out.Reply(reply.httpStatus, std::move(extra), body)) out.Close();
  return reply.httpStatus;
}

void SendTruncated(const Reply& reply, http::Exchange& out, http::Headers extra) {
  const auto [body, type] = BodyOf(reply);
  extra.emplace_back("Content-Type", type);
  extra.emplace_back("Content-Length", std::to_string(body.size()));
  out.Close();
  if (out.WriteHead(reply.httpStatus, extra))
    out.Write(std::string_view(body).substr(0, body.size() / 2));
}

void SendBig(int bytes, bool chunked, http::Exchange& out, http::Headers extra) {
  static const std::string kHead = R"({"code":1000,"message":"success","data":{"filler":")";
  static const std::string kTail = R"("}})";
  const auto total = static_cast<std::size_t>(bytes);
  extra.emplace_back("Content-Type", kJsonType);
  extra.emplace_back(chunked ? "Transfer-Encoding" : "Content-Length",
                     chunked ? "chunked" : std::to_string(total));
  bool ok = out.WriteHead(200, extra);
  std::string piece;
  for (std::size_t offset = 0; ok && offset < total && !out.HeadRequest(); offset += piece.size()) {
    piece.assign(std::min(kBigPiece, total - offset), 'x');
    for (std::size_t i = 0; i < piece.size(); ++i) {
      const std::size_t at = offset + i;
      if (at < kHead.size()) piece[i] = kHead[at];
      if (at >= total - kTail.size()) piece[i] = kTail[at - (total - kTail.size())];
    }
    ok = chunked ? out.WriteChunk(piece) : out.Write(piece);
  }
  if (!ok || (chunked && !out.HeadRequest() && !out.WriteChunk({}))) out.Close();
}

}  // namespace corvane::mock
