// Internal: the two readers behind quim::Json::Parse, each on its own, for the differential fuzz
// check (tests/fuzz/AnswerReaderFuzzer.cpp): a fast reader for the common answer, which gives up
// on anything else, and rapidjson's reader, which reads every text and finds every error. Parse
// is the first, or the second where the first gives up; the first must never accept a text the
// second refuses, nor build a different tree. Exported from the library for that check only.
#ifndef QUIM_PLATFORM_READERPATHS_H
#define QUIM_PLATFORM_READERPATHS_H

#include <cstddef>
#include <string>

#include "quim/Json.h"

namespace quim {
namespace Json {
namespace detail {

// The text is NUL-terminated when size is null, else size bytes, as Parse takes it (a byte-order
// mark at the start included). True with the tree in root; false where the fast reader gives up,
// root then left as it was.
QUIM_API bool ReadFastOnly(const char* text, const std::size_t* size, Value& root);
// The fast reader as Parse runs it (FastReader.cpp): as ReadFastOnly, but root and errs may be
// null, and errs is cleared when it takes the text.
bool ReadFast(const char* text, const std::size_t* size, Value* root, std::string* errs);
// As Parse, through rapidjson's reader alone.
QUIM_API bool ReadRapidjsonOnly(const char* text, const std::size_t* size, Value& root,
                                std::string* errs);

}  // namespace detail
}  // namespace Json
}  // namespace quim

#endif  // QUIM_PLATFORM_READERPATHS_H
