// A strict reader of chunked coding. libcurl finds where a chunked answer ends, but reads a chunk
// size only up to its first byte that is not a hexadecimal digit and skips the rest of the line:
// "0x10" is a last chunk to it, and the sixteen bytes after it pass for trailers. The transport
// therefore has libcurl hand over the coded bytes (transfer decoding off) and reads the coding
// here: a size of hexadecimal digits, an extension only after ';', CRLF after each size and each
// chunk's data, trailers of "name: value" lines, then an empty line.
#ifndef ZENTA_CURL_CHUNKDECODER_H
#define ZENTA_CURL_CHUNKDECODER_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "../ErrorDetail.h"

namespace zenta {

class ChunkDecoder {
 public:
  // Gets the data of each chunk as it comes; returns ZENTA_OK or a code that stops the answer.
  using Sink = std::function<int(const char* data, std::size_t size)>;

  // Back to the start of an answer's body.
  void Start() { *this = ChunkDecoder(); }

  // Reads the next coded bytes; chunk data goes to sink. ZENTA_OK, the sink's code, or
  // ZENTA_E_PROTOCOL with detail saying what broke the coding. Bytes after the coding's end
  // (which libcurl does not read as this answer) are left alone.
  int Feed(std::string_view coded, Detail& detail, const Sink& sink);

 private:
  enum class State { kSize, kExtension, kSizeEnd, kData, kDataEnd, kTrailer, kDone };

  int SizeByte(char c, Detail& detail);
  int TrailerByte(char c, Detail& detail);

  State state_ = State::kSize;
  unsigned long long left_ = 0;  // bytes of the current chunk still to come
  int digits_ = 0;               // of the current size
  bool lineFeedNext_ = false;    // a CR was read; its LF must follow
  std::string trailer_;          // the trailer line read so far
};

}  // namespace zenta

#endif  // ZENTA_CURL_CHUNKDECODER_H
