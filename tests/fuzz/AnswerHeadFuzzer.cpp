// Answer heads as a hostile server may send them, through the gateway's head checker line by
// line, as a transport hands them over. The first byte says whether the answer is to HEAD. Beyond
// not crashing: what the checker accepts as a complete head holds a status in 100..599, a length
// of -1 or more, and a content type within its field; once refused, an answer stays refused.
#include <zenta/ZentaSdk.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "AnswerHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ZENTA_HttpAnswer answer{};
  zenta::AnswerHead head;
  zenta::Detail detail;
  head.Start(&answer, size > 0 && (data[0] & 1) != 0);
  std::string_view rest(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
  int code = ZENTA_OK;
  while (!rest.empty() && code == ZENTA_OK) {
    const std::size_t end = rest.find('\n');
    const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
    code = head.Line(rest.substr(0, length), detail);
    rest.remove_prefix(length);
  }
  if (code != ZENTA_OK && code != ZENTA_E_PROTOCOL) std::abort();
  if (code == ZENTA_OK && head.Complete() &&
      (answer.status < 200 || answer.status > 599 || head.Length() < -1 ||
       answer.contentTypeLength < 0 || answer.contentTypeLength > ZENTA_CONTENT_TYPE_WIDTH)) {
    std::abort();
  }
  return 0;
}
