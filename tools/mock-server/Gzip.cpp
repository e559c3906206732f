#include "Gzip.h"

#include <zlib.h>

#include <cstdlib>
#include <stdexcept>

namespace corvane::mock {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The q-value of one Accept-Encoding element's parameters (";q=0.5"); 1 without one.
double QValue(std::string_view params) {
  while (!params.empty()) {
    const std::size_t semicolon = params.find(';');
    const std::string_view param = Trim(params.substr(0, semicolon));
    params = semicolon == std::string_view::npos ? "" : params.substr(semicolon + 1);
    if (param.size() >= 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
      return std::strtod(std::string(param.substr(2)).c_str(), nullptr);
    }
  }
  return 1;
}

}  // namespace

bool AcceptsGzip(const http::Request& req) {
  double gzip = -1;
  double any = -1;
  for (const auto& [name, value] : req.headers) {
    if (!http::SameLetters(name, "Accept-Encoding")) continue;
    std::string_view list = value;
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      const std::string_view element = list.substr(0, comma);
      list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
      const std::size_t semicolon = element.find(';');
      const std::string_view coding = Trim(element.substr(0, semicolon));
      const double q =
          semicolon == std::string_view::npos ? 1 : QValue(element.substr(semicolon + 1));
      if (http::SameLetters(coding, "gzip") || http::SameLetters(coding, "x-gzip")) {
        gzip = q;
      } else if (coding == "*") {
        any = q;
      }
    }
  }
  return gzip >= 0 ? gzip > 0 : any > 0;
}

struct GzipWriter::Stream {
  z_stream z{};
};

GzipWriter::GzipWriter(int level) : stream_(std::make_unique<Stream>()) {
  // windowBits 15 + 16: a gzip header and trailer around the deflate data.
  if (deflateInit2(&stream_->z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("zlib: deflateInit2 failed");
  }
}

GzipWriter::~GzipWriter() { deflateEnd(&stream_->z); }

std::string GzipWriter::Feed(std::string_view input, bool last) {
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  std::string coded;
  char buffer[16384];
  int result = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    if (result == Z_STREAM_ERROR) throw std::runtime_error("zlib: deflate failed");
    coded.append(buffer, sizeof buffer - z.avail_out);
  } while (z.avail_out == 0 || (last && result != Z_STREAM_END));
  return coded;
}

std::string Gzip(std::string_view bytes) {
  return GzipWriter(Z_DEFAULT_COMPRESSION).Feed(bytes, true);
}

}  // namespace corvane::mock
