// gzip coding of answers, as a typical server configuration does it: only for clients that ask
// for it in Accept-Encoding, and only for bodies worth the trouble.
#ifndef CORVANE_MOCK_GZIP_H
#define CORVANE_MOCK_GZIP_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "HttpCore.h"

namespace corvane::mock {

// Bodies shorter than this travel as they are, whatever the client accepts.
constexpr std::size_t kGzipMinBytes = 1024;

// Whether the request's Accept-Encoding fields accept gzip: "gzip" (or "x-gzip") with a q-value
// above 0, or else "*" with a q-value above 0.
bool AcceptsGzip(const http::Request& req);

// A gzip stream produced piece by piece (zlib), so that a generated answer of any size can be
// coded without holding it whole.
class GzipWriter {
 public:
  explicit GzipWriter(int level);
  ~GzipWriter();
  GzipWriter(const GzipWriter&) = delete;
  GzipWriter& operator=(const GzipWriter&) = delete;
  // The coded bytes that `input` gives; `last` ends the stream (its trailer included).
  std::string Feed(std::string_view input, bool last);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

std::string Gzip(std::string_view bytes);

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_GZIP_H
