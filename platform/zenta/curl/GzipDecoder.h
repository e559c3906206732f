// Decodes a gzip-coded answer body into the answer's buffer, so that the cap holds for the
// decoded bytes (a small stream that decodes to gigabytes is refused at the cap), and tells
// whether the stream ended with its trailer (a cut stream is refused).
#ifndef ZENTA_CURL_GZIPDECODER_H
#define ZENTA_CURL_GZIPDECODER_H

#include <zlib.h>

#include <cstddef>

#include "../AnswerBuffer.h"
#include "../ErrorDetail.h"

namespace zenta {

// Kept with its connection and reset for each answer, so zlib's state is allocated once per
// connection.
class GzipDecoder {
 public:
  GzipDecoder() = default;
  GzipDecoder(const GzipDecoder&) = delete;
  GzipDecoder& operator=(const GzipDecoder&) = delete;
  ~GzipDecoder();

  // Starts a new answer's stream. ZENTA_OK or ZENTA_E_NO_MEMORY.
  int Start();

  // Decodes coded bytes into body. Bytes after a stream's end begin another gzip member (RFC
  // 1952 allows several); anything else there is broken coding. ZENTA_OK, or the code with detail.
  int Feed(const char* data, std::size_t size, AnswerBuffer& body, Detail& detail);

  // True when the last stream fed has ended with its trailer (its length and CRC checked).
  bool Ended() const { return ended_; }

 private:
  static constexpr std::size_t kStep = 64 * 1024;
  z_stream stream_{};
  bool ready_ = false;
  bool ended_ = false;
};

}  // namespace zenta

#endif  // ZENTA_CURL_GZIPDECODER_H
