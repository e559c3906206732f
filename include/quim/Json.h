// quim::Json: a small JSON value model with a parser and a compact writer.
//
// A Value is null, bool, signed or unsigned 64-bit integer, double, string (may hold NUL
// bytes), array, or object (members kept in insertion order, names unique).
//
// A Value takes 8 bytes: numbers, booleans, null, empty containers and strings of up to 6 bytes
// are held in the value itself; longer strings, non-empty arrays and objects, and integers
// beyond 48 bits live in a node of their own. Copies are cheap: nodes are shared between copies
// and copied only when a shared one is written (copy-on-write), one level at a time. Copies are
// independent values: writing one never changes another, also when a reference obtained from a
// writable accessor is written after the copy was made (such a node stops being shared). Distinct
// Values may be used from distinct threads even when they share storage; one Value is not to be
// written while another thread uses it.
//
// Conversions (anything not listed throws quim::Json::Error):
//
//   from \ to   asInt / asInt64            asUInt64          asDouble   asBool      asString
//   null        0                          0                 0.0        false       ""
//   bool        0 / 1                      0 / 1             0.0 / 1.0  as is       "false"/"true"
//   integer     the value, if in range     if in range       the value  != 0        decimal text
//   double      truncated, if in range     if in range       as is      != 0.0      shortest text
//                                                                                   that reads back
//   string      throws                     throws            throws     throws      as is
//   array       throws                     throws            throws     throws      throws
//   object      throws                     throws            throws     throws      throws
//
// Other rules: isMember is false for anything but an object; size() counts array elements and
// object members and is 0 for every other type; index access on a value that is neither null
// nor an array throws Error (a writable index on null makes it an array first); writable member
// access on a value that is neither null nor an object throws Error; read-only member access on
// a missing member, or on a non-object, gives a null value.
//
// References and pointers into an array or object (from operator[], append, find, memberValue,
// memberName) are invalidated as with std::vector: when that array or object gains or loses an
// element or member, is assigned, or is written while it shares its storage with a copy. So
// `v["a"] = v["b"]` with a new "a" is wrong; copy first: `Value b = v["b"]; v["a"] = b;`.
//
// Parsing: strict RFC 8259 JSON (no comments, no trailing commas), nothing but white space after
// the root, nesting at most kMaxDepth levels. Two allowances for what servers really send: the
// bytes inside a string are taken as they are, valid UTF-8 or not, and a UTF-8 byte-order mark
// at the start of the text is skipped. A duplicate member name keeps
// its first position and takes the last value. Integers that fit 64 bits stay integers; others
// become the nearest double (zero below the smallest); a number beyond the largest double is
// refused. Surrogate escapes: "\uD800".."\uDBFF" directly followed by "\uDC00".."\uDFFF" is one
// character (its 4-byte UTF-8 form); any other "\uD800".."\uDFFF" escape, high or low, alone
// or next to anything but its other half (say, in a string a server cut inside a pair), reads
// as the 3-byte form of that surrogate (ED A0 80..ED BF BF), anywhere in the text, names
// included. This does not depend on rapidjson's version (which, left to itself, refuses the
// whole text for a lone high one and, in some versions, a lone low one).
//
// Writing: compact (no white space, no final line feed), members in insertion order, strings
// escaped as JSON requires (control bytes as \b \f \n \r \t or \u00XX, quote, backslash), the
// 3-byte form of a surrogate, high or low alike, as its \u escape (upper-case hex), except a
// high one directly followed by a low one: that pair of 3-byte forms is written as it is (its
// two escapes would read back as one 4-byte character); every other byte as it is, UTF-8 or
// not; doubles with the fewest significant digits that read back to the same double (where
// several texts are that short, not always the one nearest to the double: 0.1 + 0.2 is written
// 0.30000000000000007), as plain decimals with at least one digit after the point when the
// point falls 21 digits or fewer after the first digit or at most 5 zeros before it ("100.0",
// "0.000001"), in exponent form otherwise ("1e21", "1e-7", "5e-324"); non-finite doubles as
// null. Whatever parses writes to text that parses back to an equal tree.
#ifndef QUIM_JSON_H
#define QUIM_JSON_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quim/QuimExport.h"

namespace quim {
namespace Json {

enum ValueType {
  nullValue = 0,
  intValue,   // signed 64-bit integer
  uintValue,  // unsigned 64-bit integer above INT64_MAX
  realValue,  // double
  stringValue,
  booleanValue,
  arrayValue,
  objectValue
};

// Raised by conversions and accessors used on a value of the wrong type.
class QUIM_API Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Deepest nesting of arrays and objects that the parser accepts.
constexpr int kMaxDepth = 512;

class QUIM_API Value {
 public:
  using ArrayIndex = unsigned int;

  Value() = default;      // null
  Value(ValueType type);  // NOLINT: a type tag converts, as callers expect
  Value(int value);
  Value(unsigned int value);
  Value(long value);
  Value(unsigned long value);
  Value(long long value);
  Value(unsigned long long value);
  Value(double value);
  Value(bool value);
  Value(const char* text);  // NUL-terminated; null gives ""
  Value(const char* begin, const char* end);
  Value(const std::string& text);
  Value(std::string_view text);

  Value(const Value& other);
  Value(Value&& other) noexcept : bits_(other.bits_) { other.bits_ = kNull; }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept {
    Value moved(std::move(other));  // other may live inside this value
    swap(moved);
    return *this;
  }
  ~Value() {
    if (HoldsNode()) Release();
  }
  void swap(Value& other) noexcept {
    const std::uint64_t bits = bits_;
    bits_ = other.bits_;
    other.bits_ = bits;
  }

  ValueType type() const;
  bool isNull() const { return bits_ == kNull; }
  bool isBool() const { return type() == booleanValue; }
  bool isIntegral() const { return type() == intValue || type() == uintValue; }
  bool isDouble() const { return type() == realValue; }
  bool isNumeric() const { return isIntegral() || isDouble(); }
  bool isString() const { return type() == stringValue; }
  bool isArray() const { return type() == arrayValue; }
  bool isObject() const { return type() == objectValue; }

  int asInt() const;
  std::int64_t asInt64() const;
  std::uint64_t asUInt64() const;
  double asDouble() const;
  bool asBool() const;
  std::string asString() const;
  // The bytes of a string value, without copying, valid while this value is neither written nor
  // moved (short strings live inside the value); throws Error for other types.
  std::string_view stringView() const;

  ArrayIndex size() const;
  bool empty() const { return size() == 0; }

  // Arrays. The writable forms make a null value an array and grow it to index + 1 elements.
  Value& operator[](ArrayIndex index);
  Value& operator[](int index);
  const Value& operator[](ArrayIndex index) const;  // throws Error when index >= size()
  const Value& operator[](int index) const;
  Value& append(const Value& value);
  Value& append(Value&& value);
  void reserve(ArrayIndex count);  // arrays and null only

  // Objects. The writable forms create the member (null) when absent; on a null value the
  // first use makes it an object. The read-only forms give a null value for a missing member.
  Value& operator[](const char* name);
  Value& operator[](const std::string& name);
  const Value& operator[](const char* name) const;
  const Value& operator[](const std::string& name) const;
  bool isMember(const char* name) const;
  bool isMember(const std::string& name) const;
  // The member's value, or null when the value is no object or has no such member.
  const Value* find(std::string_view name) const;
  bool removeMember(const std::string& name);  // false: no such member, or not an object
  // Member names and values by position, in insertion order (0 <= index < size()). The name's
  // bytes live as long as the object is not written.
  std::string_view memberName(ArrayIndex index) const;
  const Value& memberValue(ArrayIndex index) const;
  std::vector<std::string> getMemberNames() const;  // empty for anything but an object

  // Range-for, reading: `for (const Value& item : value)` visits an array's elements in order
  // and an object's member values in insertion order (the iterator's name() gives the member's
  // name); any other value has none. The iterators are invalidated as references are (above);
  // to write, use the accessors by index or name.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    using pointer = const Value*;
    using reference = const Value&;
    const_iterator() = default;
    reference operator*() const { return *at_; }
    pointer operator->() const { return at_; }
    const_iterator& operator++() {
      at_ += step_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }
    bool operator!=(const const_iterator& other) const { return at_ != other.at_; }
    // The member's name, for an object's iterator (empty for an array's).
    std::string_view name() const { return step_ == 2 ? at_[-1].stringView() : std::string_view(); }

   private:
    friend class Value;
    const_iterator(const Value* at, std::ptrdiff_t step) : at_(at), step_(step) {}
    const Value* at_ = nullptr;
    std::ptrdiff_t step_ = 1;  // 2 for an object: its names and values alternate
  };
  const_iterator begin() const;
  const_iterator end() const;

  // Structural equality; integers compare by value across signed/unsigned storage.
  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

  struct Access;  // the library's own code reaches the representation through it

 private:
  template <class Integer>
  Integer asInteger(const char* operation) const;  // asInt, asInt64 and asUInt64
  Value& writableMember(std::string_view name);    // both writable operator[] by name

  // A double as it is, or, in the space of the quiet NaNs that no arithmetic produces, a tag and
  // 48 bits of payload (see Access).
  static constexpr std::uint64_t kNull = 0xFFF8000000000000u;
  // Tags 3 to 6 hold a node (a long string, an array, an object, a large integer).
  bool HoldsNode() const {
    const std::uint64_t tag = bits_ >> 48;
    return tag >= 0xFFFB && tag <= 0xFFFE;
  }
  void Release() noexcept;  // drops this value's reference to its node
  std::uint64_t bits_ = kNull;
};

inline void swap(Value& a, Value& b) noexcept { a.swap(b); }

// Parses JSON text; the error text is set when parsing fails.
class QUIM_API CharReader {
 public:
  virtual ~CharReader();
  // Parses [begin, end) into *root. On failure returns false, leaves *root null and, when errs
  // is not null, stores a one-line description with the byte offset of the error.
  virtual bool parse(const char* begin, const char* end, Value* root, std::string* errs);
};

// Makes CharReaders with the default settings above.
class QUIM_API CharReaderBuilder {
 public:
  CharReaderBuilder();
  ~CharReaderBuilder();
  // The caller owns the result and deletes it through CharReader's virtual destructor.
  CharReader* newCharReader() const;
};

// Compact writer: see the writing rules at the top of this header.
class QUIM_API FastWriter {
 public:
  FastWriter();
  virtual ~FastWriter();
  virtual std::string write(const Value& root);
};

// Convenience forms of the reader and the writer.
QUIM_API bool Parse(std::string_view text, Value& root, std::string* errs = nullptr);
// The same for text that ends at its first NUL byte, read without a pass to find its length or
// a bounds check per byte: the form for answers, which arrive NUL-terminated.
QUIM_API bool Parse(const char* text, Value& root, std::string* errs = nullptr);
QUIM_API std::string Write(const Value& root);

}  // namespace Json
}  // namespace quim

#endif  // QUIM_JSON_H
