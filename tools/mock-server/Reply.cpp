#include "Reply.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>

#include "Gzip.h"

namespace corvane::mock {
namespace {

constexpr std::size_t kBigPiece = 64 * 1024;  // a "big" answer is produced this much at a time
constexpr int kTrickleTickMs = 10;            // a trickled body's slices are this far apart

std::pair<std::string, std::string> BodyOf(const Reply& reply) {
  if (reply.binary) return {*reply.binary, reply.binaryType};
  return {EnvelopeText(reply), kJsonType};
}

// Codes `body` and names its coding in `headers` when the client asked and it is large enough.
void Encode(Coding* coding, std::string& body, http::Headers& headers) {
  if (coding == nullptr || !coding->gzipAccepted || body.size() < kGzipMinBytes) return;
  coding->Coded();
  body = Gzip(body);
  headers.emplace_back("Content-Encoding", "gzip");
  headers.emplace_back("Vary", "Accept-Encoding");
}

// Hands the pieces of a big answer of `total` bytes to `emit` until it returns false; false then.
template <class Emit>
bool ForEachBigPiece(std::size_t total, Emit emit) {
  static const std::string kHead = R"({"code":1000,"message":"success","data":{"filler":")";
  static const std::string kTail = R"("}})";
  std::string piece;
  for (std::size_t offset = 0; offset < total; offset += piece.size()) {
    piece.assign(std::min(kBigPiece, total - offset), 'x');
    for (std::size_t i = 0; i < piece.size(); ++i) {
      const std::size_t at = offset + i;
      if (at < kHead.size()) piece[i] = kHead[at];
      if (at >= total - kTail.size()) piece[i] = kTail[at - (total - kTail.size())];
    }
    if (!emit(std::string_view(piece))) return false;
  }
  return true;
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

int Send(const Reply& reply, http::AnswerWriter& out, http::Headers extra, Coding* coding) {
  auto [body, type] = BodyOf(reply);
  extra.insert(extra.end(), reply.headers.begin(), reply.headers.end());
  extra.emplace_back("Content-Type", type);
  return SendBody(reply.httpStatus, std::move(extra), std::move(body),
                  reply.binary ? nullptr : coding, out);
}

int SendBody(int status, http::Headers headers, std::string body, Coding* coding,
             http::AnswerWriter& out) {
  Encode(coding, body, headers);
  if (!out.Reply(status, std::move(headers), body)) out.Close();
  return status;
}

void SendTruncated(const Reply& reply, http::AnswerWriter& out, http::Headers extra,
                   Coding& coding) {
  auto [body, type] = BodyOf(reply);
  extra.emplace_back("Content-Type", type);
  Encode(reply.binary ? nullptr : &coding, body, extra);
  extra.emplace_back("Content-Length", std::to_string(body.size()));
  out.Close();
  if (out.WriteHead(reply.httpStatus, extra))
    out.Write(std::string_view(body).substr(0, body.size() / 2));
}

void SendTrickled(const Reply& reply, int bytesPerSecond, http::AnswerWriter& out,
                  http::Headers extra, Coding& coding) {
  auto [body, type] = BodyOf(reply);
  extra.insert(extra.end(), reply.headers.begin(), reply.headers.end());
  extra.emplace_back("Content-Type", type);
  Encode(reply.binary ? nullptr : &coding, body, extra);
  extra.emplace_back("Content-Length", std::to_string(body.size()));
  if (!out.WriteHead(reply.httpStatus, extra)) return out.Close();
  if (out.HeadRequest()) return;
  // Each slice brings the bytes sent up to what the rate allows by its tick, so the rate holds
  // however long a write or a sleep takes.
  const auto start = std::chrono::steady_clock::now();
  const std::string_view bytes(body);
  for (std::size_t sent = 0; sent < bytes.size();) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto due = std::min(bytes.size(), static_cast<std::size_t>(seconds * bytesPerSecond) + 1);
    if (due > sent && !out.Write(bytes.substr(sent, due - sent))) return out.Close();
    sent = std::max(sent, due);
    if (sent < bytes.size() && !out.Sleep(kTrickleTickMs)) return out.Close();
  }
}

void SendBig(int bytes, bool chunked, http::AnswerWriter& out, http::Headers extra,
             Coding& coding) {
  const auto total = static_cast<std::size_t>(bytes);
  const bool gzip = coding.gzipAccepted && total >= kGzipMinBytes;
  if (gzip) coding.Coded();
  extra.emplace_back("Content-Type", kJsonType);
  std::string length = std::to_string(total);
  if (gzip) {
    extra.emplace_back("Content-Encoding", "gzip");
    extra.emplace_back("Vary", "Accept-Encoding");
    if (!chunked) {  // the coded length, from a first pass that codes without sending
      GzipWriter counter(Z_BEST_SPEED);
      std::size_t coded = 0;
      ForEachBigPiece(total, [&](std::string_view piece) {
        coded += counter.Feed(piece, false).size();
        return true;
      });
      length = std::to_string(coded + counter.Feed({}, true).size());
    }
  }
  extra.emplace_back(chunked ? "Transfer-Encoding" : "Content-Length",
                     chunked ? "chunked" : length);
  if (!out.WriteHead(200, extra)) return out.Close();
  if (out.HeadRequest()) return;
  GzipWriter coder(Z_BEST_SPEED);
  const auto send = [&](std::string_view bytes) {
    return bytes.empty() || (chunked ? out.WriteChunk(bytes) : out.Write(bytes));
  };
  const bool ok = ForEachBigPiece(total, [&](std::string_view piece) {
    return gzip ? send(coder.Feed(piece, false)) : send(piece);
  });
  if (!ok || (gzip && !send(coder.Feed({}, true))) || (chunked && !out.WriteChunk({}))) {
    out.Close();
  }
}

}  // namespace corvane::mock
