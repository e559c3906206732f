// quim::Json parsing: rapidjson's SAX Reader feeding our own tree.
//
// Where the compiler targets SSE2 (every x86-64 build), rapidjson skips white space and scans
// strings parsed in situ 16 bytes at a time. Those scans read whole aligned 16-byte blocks, so
// the copy of the text that is parsed in situ is padded past its end (see CharReader::parse).
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "JsonNode.h"
#include "NumberText.h"

namespace quim {
namespace Json {
namespace {

using detail::ArrayNode;
using detail::ObjectNode;

// Strict JSON, UTF-8 checked, doubles to full precision; the iterative parser keeps deep input
// off the machine stack.
// Numbers come as text and are converted by NumberFromText (see NumberText.h for why).
constexpr unsigned kParseFlags = rapidjson::kParseValidateEncodingFlag |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseIterativeFlag;
// The same without the per-byte encoding check inside strings, for text already known to be
// valid UTF-8 as a whole: in such text every string is valid too (a multi-byte sequence never
// holds a quote), so both settings give the same result.
constexpr unsigned kPrecheckedParseFlags =
    (kParseFlags & ~rapidjson::kParseValidateEncodingFlag) | rapidjson::kParseInsituFlag;
// First try for such text: rapidjson's recursive parser, quicker than the iterative one, with
// the nesting cut at kRecursionDepth so that the machine stack stays small whatever the input.
// Only its success is taken: deeper or faulty text is parsed again as above, which gives every
// error and its offset as that parser reports it. For valid text both parsers send the builder
// the same events.
constexpr unsigned kRecursiveParseFlags = kPrecheckedParseFlags & ~rapidjson::kParseIterativeFlag;
constexpr int kRecursionDepth = 32;

// The text to parse, read as rapidjson's MemoryStream reads it (a NUL at the end, offsets from
// the start). Unlike MemoryStream it declares itself cheap to copy, so the parser keeps its
// position in a register while it scans instead of going through memory for every byte.
class TextStream {
 public:
  using Ch = char;
  TextStream(const char* begin, std::size_t size)
      : next_(begin), begin_(begin), end_(begin + size) {}
  Ch Peek() const { return next_ == end_ ? '\0' : *next_; }
  Ch Take() { return next_ == end_ ? '\0' : *next_++; }
  std::size_t Tell() const { return static_cast<std::size_t>(next_ - begin_); }
  // Output is only asked for with the in-situ flag, which is never used with this stream.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  const char* next_;
  const char* begin_;
  const char* end_;
};

// Discards what rapidjson's UTF-8 validator copies.
struct NullOutput {
  void Put(char) {}
};

// Whether [begin, end) is valid UTF-8 by the rules of rapidjson's own validator (no overlong
// forms, no surrogates, nothing above U+10FFFF), which checks every non-ASCII sequence here.
// Runs of ASCII, the common case, are skipped eight bytes at a time.
bool IsValidUtf8(const char* begin, const char* end) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  const char* p = begin;
  while (p != end) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & kHighBits) != 0) break;
      p += 8;
    }
    if (p == end) break;
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    // A sequence cut short by the end reads a NUL there and fails.
    rapidjson::MemoryStream stream(p, static_cast<std::size_t>(end - p));
    NullOutput discard;
    if (!rapidjson::UTF8<>::Validate(stream, discard)) return false;
    p += stream.Tell();
  }
  return true;
}

// Builds the tree bottom-up as rapidjson's own Document does: values and member names go on
// stacks, and the end of a container moves its elements into a node of exactly the right size.
// Name is std::string when the parser hands over keys in its own scratch space, which the next
// event reuses, and std::string_view when keys stay in place in the text for the whole parse
// (in-situ parsing). The stacks keep their first elements inside the builder.
template <class Name>
class TreeBuilder {
 public:
  // depthLimit: the deepest nesting accepted (kMaxDepth but for the recursive first try).
  TreeBuilder(detail::NodeArena& arena, int depthLimit) : arena_(arena), depthLimit_(depthLimit) {}

  bool Null() { return Push(Value()); }
  bool Bool(bool value) { return Push(Value(value)); }
  bool Int(int value) { return Push(Value(value)); }
  bool Uint(unsigned value) { return Push(Value(value)); }
  bool Int64(std::int64_t value) { return Push(Value(static_cast<long long>(value))); }
  bool Uint64(std::uint64_t value) { return Push(Value(static_cast<unsigned long long>(value))); }
  bool Double(double value) { return Push(Value(value)); }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    Value number;
    if (detail::NumberFromText(text, length, number)) return Push(std::move(number));
    numberTooBig_ = true;
    return false;
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (length == 0) return Push(Value(stringValue));
    return Push(Value::Node::Adopt(stringValue, detail::NewString(text, length, &arena_)));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    names_.emplace_back(text, length);
    return true;
  }

  bool StartObject() { return Enter(); }
  bool StartArray() { return Enter(); }

  bool EndArray(rapidjson::SizeType count) {
    --depth_;
    if (count == 0) return Push(Value(arrayValue));
    ArrayNode* node = detail::NewArrayNode(count, &arena_);
    Value array = Value::Node::Adopt(arrayValue, node);  // owns node from here on
    const std::size_t first = values_.size() - count;
    for (std::size_t i = first; i < values_.size(); ++i) {
      node->items.emplace_back(std::move(values_[i]));
    }
    values_.resize(first);
    return Push(std::move(array));
  }

  bool EndObject(rapidjson::SizeType count) {
    --depth_;
    if (count == 0) return Push(Value(objectValue));
    ObjectNode* node = detail::NewObjectNode(count, &arena_);
    Value object = Value::Node::Adopt(objectValue, node);
    const std::size_t firstName = names_.size() - count;
    const std::size_t firstValue = values_.size() - count;
    // A duplicate name keeps its first position and takes the last value. Small objects look
    // for duplicates among the names themselves and take each new member as it is; large ones
    // go through the object's hash index.
    for (std::size_t i = 0; i < count; ++i) {
      Name& name = names_[firstName + i];
      Value& value = values_[firstValue + i];
      if (count <= ObjectNode::kIndexThreshold && !SeenBefore(firstName, i)) {
        node->members.emplace_back(std::string(std::move(name)), std::move(value));
      } else {
        node->Slot(std::move(name)) = std::move(value);
      }
    }
    names_.resize(firstName);
    values_.resize(firstValue);
    return Push(std::move(object));
  }

  bool depthExceeded() const { return depthExceeded_; }
  bool numberTooBig() const { return numberTooBig_; }
  Value TakeRoot() { return std::move(values_.back()); }

 private:
  static constexpr std::size_t kInlineValues = 64;
  static constexpr std::size_t kInlineNames = 32;

  bool Push(Value&& value) {
    values_.emplace_back(std::move(value));
    return true;
  }
  // Whether names_[first + index] equals one of the names before it from first on.
  bool SeenBefore(std::size_t first, std::size_t index) const {
    const std::string_view name = names_[first + index];
    for (std::size_t i = first; i < first + index; ++i) {
      if (std::string_view(names_[i]) == name) return true;
    }
    return false;
  }
  bool Enter() {
    if (++depth_ > depthLimit_) {
      depthExceeded_ = true;
      return false;
    }
    return true;
  }

  detail::NodeArena& arena_;
  const int depthLimit_;
  alignas(Value) unsigned char valueSpace_[kInlineValues * sizeof(Value)];
  alignas(Name) unsigned char nameSpace_[kInlineNames * sizeof(Name)];
  detail::ElementList<Value> values_{reinterpret_cast<Value*>(valueSpace_), kInlineValues};
  detail::ElementList<Name> names_{reinterpret_cast<Name*>(nameSpace_), kInlineNames};
  int depth_ = 0;
  bool depthExceeded_ = false;
  bool numberTooBig_ = false;
};

// rapidjson's reader with its scratch stack (nesting states, and strings of text that is not
// parsed in situ) taken from a pool that starts in a buffer of the caller's.
using PoolAllocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;
using PooledReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, PoolAllocator>;

}  // namespace
}  // namespace Json
}  // namespace quim

namespace rapidjson {
template <>
struct StreamTraits<quim::Json::TextStream> {
  enum { copyOptimization = 1 };
};
}  // namespace rapidjson

namespace quim {
namespace Json {

CharReader::~CharReader() = default;

namespace {

// What one pass of rapidjson's reader over the text gave.
struct Pass {
  rapidjson::ParseResult result;
  std::size_t parsedTo = 0;  // the offset where the reader stopped
  bool depthExceeded = false;
  bool numberTooBig = false;
  Value root;

  bool Succeeded(std::size_t size) const {
    return !result.IsError() && !depthExceeded && !numberTooBig && parsedTo == size;
  }
};

template <unsigned kFlags, class Name, class Stream>
Pass RunPass(Stream& stream, std::size_t textSize, int depthLimit) {
  alignas(std::max_align_t) char scratch[1024];
  PoolAllocator scratchAllocator(scratch, sizeof scratch);
  PooledReader reader(&scratchAllocator);
  detail::NodeArena arena(textSize);
  TreeBuilder<Name> builder(arena, depthLimit);
  Pass pass;
  pass.result = reader.Parse<kFlags>(stream, builder);
  pass.parsedTo = stream.Tell();
  pass.depthExceeded = builder.depthExceeded();
  pass.numberTooBig = builder.numberTooBig();
  if (!pass.result.IsError()) pass.root = builder.TakeRoot();
  return pass;
}

// A private copy of the text for in-situ parsing, on the stack when it is small: rapidjson
// writes each string unescaped over the bytes it has already read, so strings reach the builder
// without first being copied byte by byte onto the parser's own stack. A NUL ends the copy as
// the end of the text ends a MemoryStream; zero bytes after it keep the 16-byte scans inside it.
class InSituCopy {
 public:
  InSituCopy(const char* text, std::size_t size) : text_(text), size_(size) {
    if (size + 1 + kPadding > sizeof local_) {
      allocated_.reset(new char[size + 1 + kPadding]);
      copy_ = allocated_.get();
    }
  }
  InSituCopy(const InSituCopy&) = delete;
  InSituCopy& operator=(const InSituCopy&) = delete;

  // The copy as the text is, for one pass.
  char* Fresh() {
    if (size_ != 0) std::memcpy(copy_, text_, size_);
    std::memset(copy_ + size_, 0, 1 + kPadding);
    return copy_;
  }

 private:
  static constexpr std::size_t kPadding = 16;
  const char* text_;
  std::size_t size_;
  alignas(16) char local_[2048];
  std::unique_ptr<char[]> allocated_;
  char* copy_ = local_;
};

}  // namespace

bool CharReader::parse(const char* begin, const char* end, Value* root, std::string* errs) {
  auto size = static_cast<std::size_t>(end - begin);
  Pass pass;
  if (IsValidUtf8(begin, end)) {
    InSituCopy copy(begin, size);
    rapidjson::InsituStringStream first(copy.Fresh());
    pass = RunPass<kRecursiveParseFlags, std::string_view>(first, size, kRecursionDepth);
    if (!pass.Succeeded(size)) {
      rapidjson::InsituStringStream again(copy.Fresh());
      pass = RunPass<kPrecheckedParseFlags, std::string_view>(again, size, kMaxDepth);
    }
  } else {
    TextStream stream(begin, size);
    pass = RunPass<kParseFlags, std::string>(stream, size, kMaxDepth);
  }
  std::size_t offset = pass.result.Offset();
  std::string message;
  if (pass.depthExceeded) {
    message = "Nesting deeper than " + std::to_string(kMaxDepth) + " levels.";
  } else if (pass.numberTooBig) {
    message = rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig);
  } else if (pass.result.IsError()) {
    message = rapidjson::GetParseError_En(pass.result.Code());
  } else if (pass.parsedTo != size) {
    // rapidjson stops at a NUL byte as if the input ended there.
    message = rapidjson::GetParseError_En(rapidjson::kParseErrorDocumentRootNotSingular);
    offset = pass.parsedTo;
  }
  if (!message.empty()) {
    if (root != nullptr) *root = Value();
    if (errs != nullptr) *errs = message + " at offset " + std::to_string(offset);
    return false;
  }
  if (root != nullptr) *root = std::move(pass.root);
  if (errs != nullptr) errs->clear();
  return true;
}

CharReaderBuilder::CharReaderBuilder() = default;
CharReaderBuilder::~CharReaderBuilder() = default;
CharReader* CharReaderBuilder::newCharReader() const { return new CharReader; }

bool Parse(std::string_view text, Value& root, std::string* errs) {
  return CharReader().parse(text.data(), text.data() + text.size(), &root, errs);
}

}  // namespace Json
}  // namespace quim
