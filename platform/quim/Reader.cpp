// quim::Json parsing: the fast reader (FastReader.cpp) takes the common answer and gives up on
// anything else, which rapidjson's SAX reader then reads from the start, with its errors and their
// offsets; both feed the same tree builder (TreeBuilder.h).
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "ReaderPaths.h"
#include "TreeBuilder.h"

namespace quim {
namespace Json {
namespace {

using detail::kPlainBytes;
using detail::TreeBuilder;

// Strict JSON; numbers come as text and are converted by NumberFromText (see NumberText.h for
// why); the iterative parser keeps deep input off the machine stack. Without the encoding flag
// the bytes of a string pass through as they are, valid UTF-8 or not.
constexpr unsigned kParseFlags =
    rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;

// The text as rapidjson's MemoryStream reads it (a NUL at the end, offsets from the start), but
// cheap to copy, so the parser keeps its position in a register while it scans.
class TextStream {
 public:
  using Ch = char;
  TextStream(const char* begin, std::size_t size)
      : next_(begin), begin_(begin), end_(begin + size) {}
  Ch Peek() const { return next_ == end_ ? '\0' : *next_; }
  Ch Take() { return next_ == end_ ? '\0' : *next_++; }
  std::size_t Tell() const { return static_cast<std::size_t>(next_ - begin_); }
  // The bytes from here to the end, and a move past some of them (ReadString).
  const char* Next() const { return next_; }
  const char* End() const { return end_; }
  void Skip(const char* to) { next_ = to; }
  // Output is only asked for by in-situ parsing, which is not used.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  const char* next_;
  const char* begin_;
  const char* end_;
};

// rapidjson's scratch space (nesting states, the string being read) from operator new, like
// every other allocation of the library.
struct HeapAllocator {
  void* Malloc(std::size_t size) { return size != 0 ? ::operator new(size) : nullptr; }
  void* Realloc(void* old, std::size_t oldSize, std::size_t newSize) {
    void* moved = Malloc(newSize);
    if (old != nullptr && moved != nullptr)
      std::memcpy(moved, old, oldSize < newSize ? oldSize : newSize);
    Free(old);
    return moved;
  }
  static void Free(void* p) { ::operator delete(p); }
};

using Reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, HeapAllocator>;

// Reading a string, in place of rapidjson's own routine, which refuses a lone high surrogate
// escape and, from one version to the next, a lone low one too: here every escape reads the same
// whatever rapidjson's version. After the opening quote, the string's bytes go to os (a NUL
// after them) up to the closing quote; runs of bytes that need no attention (all but a quote, a
// backslash and control bytes) are copied at once, and bytes that are not UTF-8 pass as they
// are. \uD800..\uDBFF followed at once by \uDC00..\uDFFF is one character, its 4-byte form;
// any other \uD800..\uDFFF, high or low, reads as the 3-byte form of that surrogate
// (ED A0 80..ED BF BF), as a server's text that was cut inside a pair has it. The errors and
// their offsets are rapidjson's.
struct StringError {
  rapidjson::ParseErrorCode code;
  std::size_t offset;
};

// Copies the run of plain bytes at the stream's position to os at once: the text is
// NUL-terminated (the NUL is not plain), or ends at the stream's end.
template <typename Output>
void CopyRun(const char* begin, const char* end, Output& os) {
  if (const auto length = static_cast<rapidjson::SizeType>(end - begin)) {
    std::memcpy(os.Push(length), begin, length);
  }
}
template <typename Output>
void CopyPlainRun(rapidjson::StringStream& is, Output& os) {
  const char* end = is.src_;
  while (kPlainBytes[static_cast<unsigned char>(*end)]) ++end;
  CopyRun(is.src_, end, os);
  is.src_ = end;
}
template <typename Output>
void CopyPlainRun(TextStream& is, Output& os) {
  const char* end = is.Next();
  while (end != is.End() && kPlainBytes[static_cast<unsigned char>(*end)]) ++end;
  CopyRun(is.Next(), end, os);
  is.Skip(end);
}

// Four hex digits after "\u", or false with the stream where the first bad one is.
template <typename Stream>
bool ReadHex4(Stream& is, unsigned& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = is.Peek();
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
    is.Take();
  }
  return true;
}

template <typename Output>
void PutUtf8(Output& os, unsigned codepoint) {
  if (codepoint < 0x80) {
    os.Put(static_cast<char>(codepoint));
  } else if (codepoint < 0x800) {
    os.Put(static_cast<char>(0xC0 | codepoint >> 6));
    os.Put(static_cast<char>(0x80 | (codepoint & 0x3F)));
  } else if (codepoint < 0x10000) {  // surrogates included: their 3-byte form
    os.Put(static_cast<char>(0xE0 | codepoint >> 12));
    os.Put(static_cast<char>(0x80 | (codepoint >> 6 & 0x3F)));
    os.Put(static_cast<char>(0x80 | (codepoint & 0x3F)));
  } else {
    os.Put(static_cast<char>(0xF0 | codepoint >> 18));
    os.Put(static_cast<char>(0x80 | (codepoint >> 12 & 0x3F)));
    os.Put(static_cast<char>(0x80 | (codepoint >> 6 & 0x3F)));
    os.Put(static_cast<char>(0x80 | (codepoint & 0x3F)));
  }
}

// What a one-letter escape stands for (0: no such escape).
constexpr std::array<char, 256> MakeShortEscapes() {
  std::array<char, 256> escapes{};
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes['/'] = '/';
  escapes['b'] = '\b';
  escapes['f'] = '\f';
  escapes['n'] = '\n';
  escapes['r'] = '\r';
  escapes['t'] = '\t';
  return escapes;
}
constexpr std::array<char, 256> kShortEscapes = MakeShortEscapes();

template <typename Stream, typename Output>
StringError ReadString(Stream& is, Output& os) {
  for (;;) {
    CopyPlainRun(is, os);
    const char c = is.Peek();
    if (c == '"') {
      is.Take();
      os.Put('\0');
      return {rapidjson::kParseErrorNone, 0};
    }
    if (c != '\\') {  // a control byte; the NUL that ends the text is the missing quote
      return {c == '\0' ? rapidjson::kParseErrorStringMissQuotationMark
                        : rapidjson::kParseErrorStringEscapeInvalid,
              is.Tell()};
    }
    const std::size_t escapeOffset = is.Tell();
    is.Take();
    const char e = is.Peek();
    if (const char plain = kShortEscapes[static_cast<unsigned char>(e)]) {
      is.Take();
      os.Put(plain);
      continue;
    }
    if (e != 'u') return {rapidjson::kParseErrorStringEscapeInvalid, escapeOffset};
    is.Take();
    unsigned codepoint;
    if (!ReadHex4(is, codepoint)) {
      return {rapidjson::kParseErrorStringUnicodeEscapeInvalidHex, escapeOffset};
    }
    if (codepoint >= 0xD800 && codepoint <= 0xDBFF) {
      // The second half of a pair, when one follows; otherwise the next escape is left as it is.
      Stream after = is;
      unsigned low;
      if (after.Peek() == '\\' && (after.Take(), after.Peek() == 'u') &&
          (after.Take(), ReadHex4(after, low)) && low >= 0xDC00 && low <= 0xDFFF) {
        is = after;
        codepoint = 0x10000 + ((codepoint - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    PutUtf8(os, codepoint);
  }
}

}  // namespace
}  // namespace Json
}  // namespace quim

namespace rapidjson {
template <>
struct StreamTraits<quim::Json::TextStream> {
  enum { copyOptimization = 1 };
};

// rapidjson's string routine for the two streams the parser reads: ReadString above.
template <>
template <>
inline void quim::Json::Reader::ParseStringToStream<
    quim::Json::kParseFlags, UTF8<>, UTF8<>, StringStream, quim::Json::Reader::StackStream<char>>(
    StringStream& is, quim::Json::Reader::StackStream<char>& os) {
  const quim::Json::StringError error = quim::Json::ReadString(is, os);
  if (error.code != kParseErrorNone) RAPIDJSON_PARSE_ERROR(error.code, error.offset);
}
template <>
template <>
inline void quim::Json::Reader::ParseStringToStream<quim::Json::kParseFlags, UTF8<>, UTF8<>,
                                                    quim::Json::TextStream,
                                                    quim::Json::Reader::StackStream<char>>(
    quim::Json::TextStream& is, quim::Json::Reader::StackStream<char>& os) {
  const quim::Json::StringError error = quim::Json::ReadString(is, os);
  if (error.code != kParseErrorNone) RAPIDJSON_PARSE_ERROR(error.code, error.offset);
}
}  // namespace rapidjson

namespace quim {
namespace Json {

namespace {

// Parses the text that stream reads into *root; size is the text's length when known (a NUL
// byte before it ends the text early, which is an error), skipped the bytes of a byte-order mark
// before the stream's start, counted in the offsets of errors.
template <typename Stream>
bool ParseText(Stream& stream, const std::size_t* size, std::size_t skipped, Value* root,
               std::string* errs) {
  HeapAllocator allocator;
  Reader reader(&allocator);
  Value tree;
  std::string message;
  std::size_t offset;
  {
    TreeBuilder builder;
    const rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, builder);
    offset = result.Offset();
    if (builder.depthExceeded()) {
      message = "Nesting deeper than " + std::to_string(kMaxDepth) + " levels.";
    } else if (builder.numberTooBig()) {
      message = rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig);
    } else if (result.IsError()) {
      message = rapidjson::GetParseError_En(result.Code());
    } else if (size != nullptr && stream.Tell() != *size) {
      // rapidjson stops at a NUL byte as if the input ended there.
      message = rapidjson::GetParseError_En(rapidjson::kParseErrorDocumentRootNotSingular);
      offset = stream.Tell();
    } else {
      tree = builder.TakeRoot();
    }
  }
  if (!message.empty()) {
    if (root != nullptr) *root = Value();
    if (errs != nullptr) *errs = message + " at offset " + std::to_string(offset + skipped);
    return false;
  }
  if (root != nullptr) *root = std::move(tree);
  if (errs != nullptr) errs->clear();
  return true;
}

// A byte-order mark at the start is skipped; offsets still count from the first byte.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// rapidjson's reading of a text (NUL-terminated when size is null), a byte-order mark skipped.
bool ReadFull(const char* text, const std::size_t* size, Value* root, std::string* errs) {
  if (size != nullptr) {
    const std::size_t skipped = *size >= 3 && std::memcmp(text, kByteOrderMark, 3) == 0 ? 3 : 0;
    const std::size_t rest = *size - skipped;
    TextStream stream(text + skipped, rest);
    return ParseText(stream, &rest, skipped, root, errs);
  }
  const std::size_t skipped = std::strncmp(text, kByteOrderMark, 3) == 0 ? 3 : 0;
  rapidjson::StringStream stream(text + skipped);
  return ParseText(stream, nullptr, skipped, root, errs);
}

// The fast reader, and rapidjson's where it gives up. A byte-order mark is refused by the fast
// reader, so that rapidjson's path skips it and counts it in its offsets.
bool Read(const char* text, const std::size_t* size, Value* root, std::string* errs) {
  return detail::ReadFast(text, size, root, errs) || ReadFull(text, size, root, errs);
}

}  // namespace

namespace detail {

bool ReadRapidjsonOnly(const char* text, const std::size_t* size, Value& root, std::string* errs) {
  return ReadFull(text, size, &root, errs);
}

}  // namespace detail

CharReader::~CharReader() = default;

bool CharReader::parse(const char* begin, const char* end, Value* root, std::string* errs) {
  const auto size = static_cast<std::size_t>(end - begin);
  return Read(begin, &size, root, errs);
}

CharReaderBuilder::CharReaderBuilder() = default;
CharReaderBuilder::~CharReaderBuilder() = default;
CharReader* CharReaderBuilder::newCharReader() const { return new CharReader; }

bool Parse(std::string_view text, Value& root, std::string* errs) {
  return CharReader().parse(text.data(), text.data() + text.size(), &root, errs);
}

bool Parse(const char* text, Value& root, std::string* errs) {
  return Read(text, nullptr, &root, errs);
}

}  // namespace Json
}  // namespace quim
