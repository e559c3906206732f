#include "GzipDecoder.h"

#include <zenta/ZentaSdk.h>

#include <algorithm>

namespace zenta {

GzipDecoder::~GzipDecoder() {
  if (ready_) inflateEnd(&stream_);
}

int GzipDecoder::Start() {
  ended_ = false;
  if (ready_) return inflateReset(&stream_) == Z_OK ? ZENTA_OK : ZENTA_E_NO_MEMORY;
  ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;  // 16: gzip's wrapper, not zlib's
  return ready_ ? ZENTA_OK : ZENTA_E_NO_MEMORY;
}

int GzipDecoder::Feed(const char* data, std::size_t size, AnswerBuffer& body, Detail& detail) {
  stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  stream_.avail_in = static_cast<uInt>(size);
  while (stream_.avail_in > 0) {
    if (ended_ && inflateReset(&stream_) != Z_OK) return ZENTA_E_NO_MEMORY;
    ended_ = false;
    do {
      // One byte past the cap is room enough to reveal an answer that is too long.
      const std::size_t most = std::min<std::size_t>(kStep, body.Cap() + 1 - body.Size());
      char* room = body.Room(most);
      if (room == nullptr) return ZENTA_E_NO_MEMORY;
      stream_.next_out = reinterpret_cast<Bytef*>(room);
      stream_.avail_out = static_cast<uInt>(most);
      const int result = inflate(&stream_, Z_NO_FLUSH);
      body.Commit(most - stream_.avail_out);
      if (body.Size() > body.Cap()) {
        detail.Set("the answer grew past the cap of %lu bytes as its gzip coding was decoded",
                   static_cast<unsigned long>(body.Cap()));
        return ZENTA_E_ANSWER_TOO_LARGE;
      }
      if (result == Z_STREAM_END) {
        ended_ = true;
        break;
      }
      if (result == Z_MEM_ERROR) return ZENTA_E_NO_MEMORY;
      if (result != Z_OK && result != Z_BUF_ERROR) {
        detail.Set("the answer's gzip coding is broken (zlib: %s)",
                   stream_.msg != nullptr ? stream_.msg : "no message");
        return ZENTA_E_PROTOCOL;
      }
    } while (stream_.avail_out == 0);
  }
  return ZENTA_OK;
}

}  // namespace zenta
