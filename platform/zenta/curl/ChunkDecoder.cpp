#include "ChunkDecoder.h"

#include <zenta/ZentaSdk.h>

#include <algorithm>

namespace zenta {
namespace {

constexpr int kMostSizeDigits = 15;              // below 2^60: no overflow, far above any cap
constexpr std::size_t kMostTrailerBytes = 8192;  // one trailer line

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Malformed(Detail& detail, const char* what) {
  detail.Set("the answer's chunked coding is malformed: %s", what);
  return ZENTA_E_PROTOCOL;
}

bool IsTokenByte(char c) {
  return HexValue(c) >= 0 || (c >= 'g' && c <= 'z') || (c >= 'G' && c <= 'Z') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

int ChunkDecoder::Feed(std::string_view coded, Detail& detail, const Sink& sink) {
  for (std::size_t at = 0; at < coded.size() && state_ != State::kDone;) {
    if (state_ == State::kData) {
      const std::size_t piece =
          static_cast<std::size_t>(std::min<unsigned long long>(left_, coded.size() - at));
      const int code = sink(coded.data() + at, piece);
      if (code != ZENTA_OK) return code;
      at += piece;
      left_ -= piece;
      if (left_ == 0) state_ = State::kDataEnd;
      continue;
    }
    const char c = coded[at++];
    const int code = state_ == State::kTrailer ? TrailerByte(c, detail) : SizeByte(c, detail);
    if (code != ZENTA_OK) return code;
  }
  return ZENTA_OK;
}

// A byte of a size line (digits, an extension after ';', CRLF) or of the CRLF after a chunk.
int ChunkDecoder::SizeByte(char c, Detail& detail) {
  if (lineFeedNext_) {
    if (c != '\n') return Malformed(detail, "a CR without its LF");
    lineFeedNext_ = false;
    if (state_ == State::kDataEnd) {
      state_ = State::kSize;
      digits_ = 0;
    } else if (left_ == 0) {
      state_ = State::kTrailer;
    } else {
      state_ = State::kData;
    }
    return ZENTA_OK;
  }
  if (c == '\r' && state_ != State::kSize) {
    lineFeedNext_ = true;
    return ZENTA_OK;
  }
  if (state_ == State::kDataEnd) return Malformed(detail, "a chunk's data is not followed by CRLF");
  if (state_ == State::kExtension) return ZENTA_OK;  // its words do not matter
  const int value = HexValue(c);
  if (state_ == State::kSize && value >= 0) {
    if (++digits_ > kMostSizeDigits) return Malformed(detail, "a chunk size is too long a number");
    left_ = left_ * 16 + static_cast<unsigned>(value);
    return ZENTA_OK;
  }
  if (digits_ == 0)
    return Malformed(detail, "a chunk size does not start with a hexadecimal digit");
  if (c == '\r') {
    lineFeedNext_ = true;
  } else if (c == ';') {
    state_ = State::kExtension;
  } else if (c == ' ' || c == '\t') {
    state_ = State::kSizeEnd;
  } else {
    return Malformed(detail, "a chunk size is followed by other than an extension or CRLF");
  }
  return ZENTA_OK;
}

// A byte of a trailer line: "name: value", or the empty line that ends the coding.
int ChunkDecoder::TrailerByte(char c, Detail& detail) {
  if (!lineFeedNext_ && c == '\r') {
    lineFeedNext_ = true;
    return ZENTA_OK;
  }
  if (lineFeedNext_) {
    if (c != '\n') return Malformed(detail, "a CR without its LF in a trailer");
    lineFeedNext_ = false;
    if (trailer_.empty()) {
      state_ = State::kDone;
      return ZENTA_OK;
    }
    const std::size_t colon = trailer_.find(':');
    const bool named =
        colon != std::string::npos && colon > 0 &&
        std::all_of(trailer_.begin(), trailer_.begin() + static_cast<long>(colon), IsTokenByte);
    trailer_.clear();
    return named ? ZENTA_OK : Malformed(detail, "a trailer line is not \"name: value\"");
  }
  if (trailer_.size() == kMostTrailerBytes) return Malformed(detail, "a trailer line is too long");
  trailer_ += c;
  return ZENTA_OK;
}

}  // namespace zenta
