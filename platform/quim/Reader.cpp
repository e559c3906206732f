// quim::Json parsing: a tree builder fed by one of two readers. A small reader of our own takes
// the common answer (ReadCommon) and gives up on anything else, which rapidjson's SAX reader then
// reads from the start, with its errors and their offsets; both make the same calls to the same
// builder for a text they both read, so the tree does not depend on which one read it.
//
// The tree is built bottom-up: values (and, inside objects, names and values in turn) go on a
// stack, and the end of a container moves its elements into a node of exactly the right size.
// The stack grows in blocks that are never moved, so reading an answer holds at its peak the
// text, the tree, and once more the elements of the container being closed; small containers
// and strings come out of slabs (SlabCarver), at their own size. Peak resident memory stays under
// 10 times the text for every shape (bench/QuimMemory.cpp measures it; a tree of one-element arrays
// nested deep is the largest, about 8 bytes of tree per byte of text).
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "Node.h"
#include "NumberText.h"
#include "ReaderPaths.h"

namespace quim {
namespace Json {
namespace {

using A = Value::Access;

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

// The bytes a string copies as they are: all but the quote, the backslash and control bytes.
constexpr std::array<bool, 256> MakePlainBytes() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 256; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}
constexpr std::array<bool, 256> kPlainBytes = MakePlainBytes();

// A stack of values: the first kInline in the stack itself (small answers allocate nothing for
// it), the rest in blocks of kBlock that stay where they are when it grows.
class ValueStack {
 public:
  ValueStack() = default;
  ValueStack(const ValueStack&) = delete;
  ValueStack& operator=(const ValueStack&) = delete;
  ~ValueStack() {
    while (size_ > 0) Pop();
    for (Value* block : blocks_) ::operator delete(static_cast<void*>(block));
  }
  std::size_t size() const { return size_; }
  Value& operator[](std::size_t i) {
    if (i < kInline) return reinterpret_cast<Value*>(inline_)[i];
    return blocks_[(i - kInline) / kBlock][(i - kInline) % kBlock];
  }
  // Takes over the value's bits (and so its reference, if any).
  void Push(Value&& value) {
    Value* slot;
    if (size_ < kInline) {
      slot = reinterpret_cast<Value*>(inline_) + size_;
    } else {
      if ((size_ - kInline) == blocks_.size() * kBlock) AddBlock();
      slot = &(*this)[size_];
    }
    A::Bits(*new (slot) Value) = A::Bits(value);
    A::Bits(value) = A::Bits(Value());
    ++size_;
  }
  void Pop() { (*this)[--size_].~Value(); }
  void DropFrom(std::size_t first) {
    while (size_ > first) Pop();
  }
  // The values first .. first + count - 1 as one run, or null when they cross blocks.
  Value* Run(std::size_t first, std::size_t count) {
    const std::size_t last = first + count - 1;
    if (last < kInline) return &(*this)[first];
    if (first < kInline) return nullptr;
    return (first - kInline) / kBlock == (last - kInline) / kBlock ? &(*this)[first] : nullptr;
  }
  // Moves the values from first on, in order, into the uninitialised values at dest; the stack
  // ends at first. They go from the top down, a block at a time, and each block left empty is
  // released at once (all but one above first's, kept for the values to come): at the end of a
  // large array its elements are held twice, on the stack and in the node, only while a block of
  // them is copied, where the allocator gives memory back as it is released.
  void MoveFrom(std::size_t first, Value* dest) {
    if (size_ <= kInline) {
      std::memcpy(static_cast<void*>(dest), static_cast<const void*>(&(*this)[first]),
                  (size_ - first) * sizeof(Value));
      size_ = first;
      return;
    }
    const std::size_t keep = first < kInline ? 1 : (first - kInline) / kBlock + 2;
    std::size_t end = size_;
    while (end > first) {
      const std::size_t start =
          end <= kInline ? 0 : kInline + (end - kInline - 1) / kBlock * kBlock;
      const std::size_t from = start > first ? start : first;
      // A value is its bits: copied to dest they belong there, and the stack forgets them.
      std::memcpy(static_cast<void*>(dest + (from - first)),
                  static_cast<const void*>(&(*this)[from]), (end - from) * sizeof(Value));
      end = from;
      const std::size_t holding = end <= kInline ? 0 : (end - kInline - 1) / kBlock + 1;
      while (blocks_.size() > std::max(holding, keep)) {
        ::operator delete(static_cast<void*>(blocks_.back()));
        blocks_.pop_back();
      }
    }
    size_ = first;
  }

 private:
  // Room first, so that push_back cannot fail with the new block in hand; grown by doubling, as
  // growing it by one each time leaves a trail of freed lists behind that the blocks cannot
  // reuse (tens of megabytes for a large answer).
  void AddBlock() {
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 8);
    blocks_.push_back(static_cast<Value*>(::operator new(kBlock * sizeof(Value))));
  }

  static constexpr std::size_t kInline = 128;
  static constexpr std::size_t kBlock = 4096;
  alignas(Value) unsigned char inline_[kInline * sizeof(Value)];
  std::vector<Value*> blocks_;
  std::size_t size_ = 0;
};

// Member names repeat from one element of a list to the next: a name met again shares the node
// made for it the first time. The cache is small and fixed, so no input can make it costly.
class NameCache {
 public:
  Value Get(const char* text, std::size_t size, SlabCarver& carver) {
    if (size <= A::kShortMax) return MakeString(text, size);
    // The slot from the length and the first and last eight bytes (four below eight bytes).
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    ReadEnds(text, size, head, tail);
    const std::uint64_t hash = ((head * 0x9E3779B97F4A7C15u) ^ tail ^ size) * 0xBF58476D1CE4E5B9u;
    Value& slot = names_[hash >> 60];
    Node* node = A::NodeOf(slot);
    if (!Holds(node, text, size, head, tail)) {
      slot = carver.MakeString(text, size);
      node = A::NodeOf(slot);
    }
    // A copy of the slot: a name's node is a string's, only ever shared.
    node->refs.fetch_add(1, std::memory_order_relaxed);
    return A::FromBits(A::Bits(slot));
  }

 private:
  // The first and last eight bytes of a name of seven bytes or more (four below eight bytes).
  static void ReadEnds(const char* bytes, std::size_t size, std::uint64_t& head,
                       std::uint64_t& tail) {
    if (size >= 8) {
      std::memcpy(&head, bytes, 8);
      std::memcpy(&tail, bytes + size - 8, 8);
      return;
    }
    std::uint32_t half;
    std::memcpy(&half, bytes, 4);
    head = half;
    std::memcpy(&half, bytes + size - 4, 4);
    tail = half;
  }

  // NodeHolds, from the head and tail words read from the name (which cover a name of up to 16
  // bytes) before comparing the rest.
  static bool Holds(const Node* node, const char* text, std::size_t size, std::uint64_t head,
                    std::uint64_t tail) {
    if (node == nullptr || node->word != size) return false;
    const char* bytes = A::Bytes(node);
    std::uint64_t nodeHead = 0;
    std::uint64_t nodeTail = 0;
    ReadEnds(bytes, size, nodeHead, nodeTail);
    return nodeHead == head && nodeTail == tail &&
           (size <= 16 || std::memcmp(bytes + 8, text + 8, size - 16) == 0);
  }

  Value names_[16];  // as many as the hash's top four bits tell apart
};

class TreeBuilder {
 public:
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
    return Push(carver_.MakeString(text, length));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    return Push(names_.Get(text, length, carver_));
  }
  bool StartObject() { return Enter(); }
  bool StartArray() { return Enter(); }
  bool EndArray(rapidjson::SizeType count) { return Close(count, 1); }
  bool EndObject(rapidjson::SizeType count) { return Close(count, 2); }

  bool depthExceeded() const { return depthExceeded_; }
  bool numberTooBig() const { return numberTooBig_; }
  Value TakeRoot() { return std::move(stack_[0]); }

 private:
  bool Push(Value&& value) {
    stack_.Push(std::move(value));
    return true;
  }
  bool Enter() {
    if (++depth_ > kMaxDepth) {
      depthExceeded_ = true;
      return false;
    }
    return true;
  }
  // Moves the top count elements (valuesPerElement values each) into a new node.
  bool Close(std::uint32_t count, std::uint32_t valuesPerElement) {
    --depth_;
    const std::size_t first = stack_.size() - std::size_t{count} * valuesPerElement;
    if (count == 0) {
      return Push(Value(valuesPerElement == 1 ? arrayValue : objectValue));
    }
    if (valuesPerElement == 2 && count > 1) {
      // A duplicate name keeps its first position and takes the last value.
      const std::uint32_t kept = MergeObject(first, count);
      if (kept != count) stack_.DropFrom(first + std::size_t{kept} * 2);
      count = kept;
    }
    Node* node = carver_.NewContainer(count, valuesPerElement);
    stack_.MoveFrom(first, A::Elements(node));
    return Push(A::Adopt(valuesPerElement == 1 ? A::kArray : A::kObject, node));
  }
  // Removes duplicate names among the count (name, value) pairs on the stack from first on,
  // where they lie: the first position keeps the last value. Returns the count left.
  std::uint32_t MergeObject(std::size_t first, std::uint32_t count) {
    if (Value* run = stack_.Run(first, std::size_t{count} * 2)) {
      return MergeMembers([run](std::size_t k) -> Value& { return run[k]; }, count);
    }
    return MergeMembers([this, first](std::size_t k) -> Value& { return stack_[first + k]; },
                        count);
  }
  // The same for count pairs of values at(0), at(1), ... (name, value, name, ...), in one run or
  // across the stack's blocks. Quick for large objects too (no quadratic search).
  template <typename At>
  static std::uint32_t MergeMembers(At at, std::uint32_t count) {
    constexpr std::uint32_t kSmall = 16;
    auto name = [&at](std::uint32_t i) -> Value& { return at(2 * std::size_t{i}); };
    auto same = [&name](std::uint32_t a, std::uint32_t b) { return SameName(name(a), name(b)); };
    // first[i]: the first member with member i's name.
    std::vector<std::uint32_t> firstOf;
    if (count <= kSmall) {
      bool any = false;
      for (std::uint32_t i = 1; i < count && !any; ++i) {
        for (std::uint32_t j = 0; j < i && !any; ++j) any = same(i, j);
      }
      if (!any) return count;
      firstOf.resize(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        firstOf[i] = i;
        for (std::uint32_t j = 0; j < i; ++j) {
          if (same(i, j)) {
            firstOf[i] = j;
            break;
          }
        }
      }
    } else {
      // Sorting by name, then position, puts equal names next to each other in their order of
      // appearance (std::sort needs no buffer, unlike a stable sort).
      std::vector<std::uint32_t> order(count);
      for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
      std::sort(order.begin(), order.end(), [&name](std::uint32_t a, std::uint32_t b) {
        const std::string_view left = name(a).stringView();
        const std::string_view right = name(b).stringView();
        return left < right || (left == right && a < b);
      });
      bool any = false;
      for (std::uint32_t k = 1; k < count && !any; ++k) any = same(order[k], order[k - 1]);
      if (!any) return count;
      firstOf.resize(count);
      firstOf[order[0]] = order[0];
      for (std::uint32_t k = 1; k < count; ++k) {
        firstOf[order[k]] = same(order[k], order[k - 1]) ? firstOf[order[k - 1]] : order[k];
      }
    }
    // Members move up over the dropped ones; a later duplicate's value replaces its first's.
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (firstOf[i] != i) {
        at(2 * std::size_t{firstOf[firstOf[i]]} + 1) = std::move(at(2 * std::size_t{i} + 1));
        continue;
      }
      if (kept != i) {
        at(2 * std::size_t{kept}) = std::move(at(2 * std::size_t{i}));
        at(2 * std::size_t{kept} + 1) = std::move(at(2 * std::size_t{i} + 1));
      }
      firstOf[i] = kept++;  // from here on: the new position of a kept member
    }
    return kept;
  }

  SlabCarver carver_;  // where the small nodes of this parse come from
  ValueStack stack_;
  NameCache names_;
  int depth_ = 0;
  bool depthExceeded_ = false;
  bool numberTooBig_ = false;
};

// White space as JSON has it: space, tab, line feed, carriage return.
inline bool IsSpace(char c) {
  constexpr std::uint64_t kSpaces = std::uint64_t{1} << ' ' | std::uint64_t{1} << '\t' |
                                    std::uint64_t{1} << '\n' | std::uint64_t{1} << '\r';
  return static_cast<unsigned char>(c) <= ' ' && (kSpaces >> static_cast<unsigned char>(c) & 1);
}
inline const char* SkipSpace(const char* p, const char* end) {
  while (p != end && IsSpace(*p)) ++p;
  return p;
}

// From the first byte of a string (past its opening quote): where the first byte it cannot copy
// as it is stands (the closing quote, if the string has no escape and no control byte), or end.
// Sixteen bytes at a time where the processor has SSE2 and sixteen are left.
inline const char* StringStop(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
        _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl));  // bytes <= 0x1F
    if (const int mask = _mm_movemask_epi8(stops)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p != end && kPlainBytes[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// The common answer, read without rapidjson: white space, objects, arrays, null, true, false,
// strings without an escape or a control byte (handed to the builder where they stand in the
// text: it copies them anyway) and integers of up to 18 digits, with the builder called exactly
// as rapidjson's reader calls it for the same text (the same calls, in the same order, with the
// same bytes), so the tree is the same. On anything else (an escape, a control byte, a fraction
// or an exponent, a longer integer, a leading zero before a digit, a syntax error, a builder
// that refuses (nesting past kMaxDepth), a NUL byte, the text's end too early, bytes after the
// root, a byte-order mark) it gives up (false); the caller drops its partial tree and has
// rapidjson read the text from the start, which also finds every error and its offset. So it
// accepts only texts that rapidjson accepts. It is iterative: nesting costs a count and a flag
// per level, and the position stays in a local variable (a register) throughout.
bool ReadCommon(const char* p, const char* const end, TreeBuilder& builder) {
  // Per open array or object: its elements (members) so far, and which of the two it is.
  std::uint32_t counts[kMaxDepth];
  bool objects[kMaxDepth];
  int depth = 0;
  bool name = false;  // an object's member comes next, not a value
  p = SkipSpace(p, end);
  for (;;) {
    if (name) {  // the name, the colon and the white space up to the value
      if (p == end || *p != '"') return false;
      const char* const text = p + 1;
      p = StringStop(text, end);
      if (p == end || *p != '"' || p - text >= 0xFFFFFFFF ||
          !builder.Key(text, static_cast<rapidjson::SizeType>(p - text), true)) {
        return false;
      }
      ++p;
      if (p == end || *p != ':') {
        p = SkipSpace(p, end);
        if (p == end || *p != ':') return false;
      }
      p = SkipSpace(p + 1, end);
    }
    // A value starts at p.
    const char c = p != end ? *p : '\0';
    if (c == '"') {
      const char* const text = p + 1;
      p = StringStop(text, end);
      if (p == end || *p != '"' || p - text >= 0xFFFFFFFF ||
          !builder.String(text, static_cast<rapidjson::SizeType>(p - text), true)) {
        return false;
      }
      ++p;
    } else if (c == '{' || c == '[') {
      const bool object = c == '{';
      if (depth == kMaxDepth || !(object ? builder.StartObject() : builder.StartArray())) {
        return false;
      }
      p = SkipSpace(p + 1, end);
      if (p == end || *p != (object ? '}' : ']')) {
        counts[depth] = 0;
        objects[depth] = object;
        ++depth;
        name = object;
        continue;
      }
      ++p;
      if (!(object ? builder.EndObject(0) : builder.EndArray(0))) return false;
    } else if (c == 'n' || c == 't' || c == 'f') {
      const char* const word = c == 'n' ? "null" : c == 't' ? "true" : "false";
      const std::size_t size = c == 'f' ? 5 : 4;
      if (static_cast<std::size_t>(end - p) < size || std::memcmp(p, word, size) != 0 ||
          !(c == 'n' ? builder.Null() : builder.Bool(c == 't'))) {
        return false;
      }
      p += size;
    } else {  // -?(0|[1-9][0-9]*), at most 18 digits, followed by nothing that would continue it
      const char* const start = p;
      if (c == '-') ++p;
      const char* const digits = p;
      if (p != end && *p == '0') {
        ++p;
      } else {
        while (p != end && *p >= '0' && *p <= '9') ++p;
        if (p == digits) return false;
      }
      const char next = p != end ? *p : '\0';
      if (p - digits > 18 || next == '.' || next == 'e' || next == 'E' ||
          (next >= '0' && next <= '9') ||
          !builder.RawNumber(start, static_cast<rapidjson::SizeType>(p - start), true)) {
        return false;
      }
    }
    // A value is done: the containers it closes, up to the next value or the end of the root.
    for (;;) {
      char next = p != end ? *p : '\0';
      if (IsSpace(next)) {
        p = SkipSpace(p, end);
        next = p != end ? *p : '\0';
      }
      if (depth == 0) return p == end;
      const int open = depth - 1;
      ++counts[open];
      if (next == ',') {
        p = SkipSpace(p + 1, end);
        name = objects[open];
        break;
      }
      if (next != (objects[open] ? '}' : ']')) return false;  // the end of the text included
      ++p;
      depth = open;
      if (!(objects[open] ? builder.EndObject(counts[open]) : builder.EndArray(counts[open]))) {
        return false;
      }
    }
  }
}

// The fast reader over the text (NUL-terminated when size is null): true with the tree in *root
// and errs cleared, or false, where it gave up, with both left as they were.
bool ReadFast(const char* text, const std::size_t* size, Value* root, std::string* errs) {
  TreeBuilder builder;
  if (!ReadCommon(text, text + (size != nullptr ? *size : std::strlen(text)), builder))
    return false;
  if (root != nullptr) *root = builder.TakeRoot();
  if (errs != nullptr) errs->clear();
  return true;
}

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
  return ReadFast(text, size, root, errs) || ReadFull(text, size, root, errs);
}

}  // namespace

namespace detail {

bool ReadFastOnly(const char* text, const std::size_t* size, Value& root) {
  return ReadFast(text, size, &root, nullptr);
}

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
