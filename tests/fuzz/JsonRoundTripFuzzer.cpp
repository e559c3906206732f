// quim's parser and writer on arbitrary text: whatever parses is written compactly, and that text
// parses again to an equal tree that writes to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quim/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quim::Json::Value root;
  std::string errs;
  if (!quim::Json::Parse(text, root, &errs)) {
    if (errs.empty() || !root.isNull()) std::abort();
    return 0;
  }
  const std::string written = quim::Json::Write(root);
  quim::Json::Value again;
  if (!quim::Json::Parse(written, again, &errs) || !(again == root) ||
      quim::Json::Write(again) != written) {
    std::fprintf(stderr, "round trip changed %s\n", written.c_str());
    std::abort();
  }
  return 0;
}
