// quim::Json::Value: construction, copies, conversions, comparison (arrays and objects:
// Containers.cpp).
#include <climits>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "Node.h"

namespace quim {
namespace Json {

using A = Value::Access;

Value CopyUnshareable(const Value& value);  // Storage.cpp
std::string DoubleText(double value);       // Writer.cpp

namespace {

const char* TypeName(ValueType type) {
  switch (type) {
    case nullValue:
      return "null";
    case intValue:
    case uintValue:
      return "an integer";
    case realValue:
      return "a double";
    case stringValue:
      return "a string";
    case booleanValue:
      return "a bool";
    case arrayValue:
      return "an array";
    case objectValue:
      return "an object";
  }
  return "an unknown type";
}

// An integer that does not fit 48 bits: a node with the 64 bits after its header.
Value BigInteger(std::uint64_t bits, bool isUnsigned) {
  Node* node = new (::operator new(sizeof(Node) + sizeof bits)) Node;
  node->word = isUnsigned ? 1 : 0;
  std::memcpy(static_cast<void*>(A::Elements(node)), &bits, sizeof bits);
  return A::Adopt(A::kNumber, node);
}

std::uint64_t IntegerBits(std::uint64_t bits) {
  if (A::TagOf(bits) == A::kSmallInt) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(bits << 16) >> 16);
  }
  std::uint64_t value;
  std::memcpy(&value, A::Elements(reinterpret_cast<Node*>(bits & A::kPayload)), sizeof value);
  return value;
}

double RealOf(std::uint64_t bits) {
  double real;
  std::memcpy(&real, &bits, sizeof real);
  return real;
}

}  // namespace

void ThrowWrongType(const char* operation, ValueType type) {
  throw Error(std::string("quim::Json::Value::") + operation + ": not applicable to " +
              TypeName(type));
}

void ThrowOutOfRange(const char* operation, const std::string& text) {
  throw Error(std::string("quim::Json::Value::") + operation + ": " + text + " is out of range");
}

// ---- construction, copy, destruction ------------------------------------------------------

Value::Value(ValueType type) {
  switch (type) {
    case intValue:
    case uintValue:
      bits_ = A::Make(A::kSmallInt, 0);
      break;
    case realValue:
      bits_ = 0;  // 0.0
      break;
    case booleanValue:
      bits_ = Special(A::kFalse);
      break;
    case stringValue:
      bits_ = Special(A::kEmptyString);
      break;
    case arrayValue:
      bits_ = Special(A::kEmptyArray);
      break;
    case objectValue:
      bits_ = Special(A::kEmptyObject);
      break;
    case nullValue:
      break;
  }
}
Value::Value(int value) : Value(static_cast<long long>(value)) {}
Value::Value(unsigned int value) : Value(static_cast<unsigned long long>(value)) {}
Value::Value(long value) : Value(static_cast<long long>(value)) {}
Value::Value(unsigned long value) : Value(static_cast<unsigned long long>(value)) {}
Value::Value(long long value) {
  if (value >= A::kSmallMin && value <= A::kSmallMax) {
    bits_ = A::Make(A::kSmallInt, static_cast<std::uint64_t>(value) & A::kPayload);
  } else {
    *this = BigInteger(static_cast<std::uint64_t>(value), false);
  }
}
Value::Value(unsigned long long value) {
  if (value <= static_cast<unsigned long long>(INT64_MAX)) {
    *this = Value(static_cast<long long>(value));
  } else {
    *this = BigInteger(value, true);
  }
}
Value::Value(double value) {
  // Every NaN as the one positive quiet NaN, which leaves the negative ones to the tags.
  if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(&bits_, &value, sizeof value);
  if (A::Tagged(bits_)) bits_ = 0x7FF8000000000000u;
}
Value::Value(bool value) : bits_(Special(value ? A::kTrue : A::kFalse)) {}
Value::Value(const char* text)
    : Value(text == nullptr ? std::string_view() : std::string_view(text)) {}
Value::Value(const char* begin, const char* end)
    : Value(std::string_view(begin, static_cast<std::size_t>(end - begin))) {}
Value::Value(const std::string& text) : Value(std::string_view(text)) {}
Value::Value(std::string_view text) { *this = MakeString(text.data(), text.size()); }

Value::Value(const Value& other) : bits_(other.bits_) {
  Node* node = A::NodeOf(other);
  if (node == nullptr) return;
  const A::Tag tag = A::TagOf(bits_);
  if ((tag == A::kArray || tag == A::kObject) && (node->word & kUnshareable) != 0) {
    bits_ = kNull;
    *this = CopyUnshareable(other);
  } else {
    node->refs.fetch_add(1, std::memory_order_relaxed);
  }
}

// Assignment builds the new content before dropping the old, so assigning a value its own
// member (a = a["x"]) is safe.
Value& Value::operator=(const Value& other) {
  Value copy(other);
  swap(copy);
  return *this;
}

void Value::Release() noexcept { Unref(bits_); }

ValueType Value::type() const {
  if (!A::Tagged(bits_)) return realValue;
  switch (A::TagOf(bits_)) {
    case A::kSpecial:
      switch (bits_ & A::kPayload) {
        case A::kFalse:
        case A::kTrue:
          return booleanValue;
        case A::kEmptyString:
          return stringValue;
        case A::kEmptyArray:
          return arrayValue;
        case A::kEmptyObject:
          return objectValue;
        default:
          return nullValue;
      }
    case A::kSmallInt:
      return intValue;
    case A::kNumber:
      return A::NodeOf(*this)->word != 0 ? uintValue : intValue;
    case A::kArray:
      return arrayValue;
    case A::kObject:
      return objectValue;
    default:
      return stringValue;
  }
}

// ---- conversions --------------------------------------------------------------------------

// Null is 0, booleans 0 and 1, integers when Integer holds them, reals truncated toward zero
// when Integer holds the truncated value (NaN and the infinities never do); anything else throws.
template <class Integer>
Integer Value::asInteger(const char* operation) const {
  using Limits = std::numeric_limits<Integer>;
  // One past the largest value, a power of two and so exact as a double.
  constexpr double kPastMax = 2.0 * static_cast<double>(Integer{1} << (Limits::digits - 1));
  const ValueType kind = type();
  switch (kind) {
    case nullValue:
      return 0;
    case booleanValue:
      return bits_ == Special(A::kTrue) ? 1 : 0;
    case intValue: {
      const auto value = static_cast<std::int64_t>(IntegerBits(bits_));
      if (value < 0
              ? value < static_cast<std::int64_t>(Limits::min())
              : static_cast<std::uint64_t>(value) > static_cast<std::uint64_t>(Limits::max())) {
        ThrowOutOfRange(operation, asString());
      }
      return static_cast<Integer>(value);
    }
    case uintValue: {  // above INT64_MAX
      const std::uint64_t value = IntegerBits(bits_);
      if (value > static_cast<std::uint64_t>(Limits::max())) ThrowOutOfRange(operation, asString());
      return static_cast<Integer>(value);
    }
    case realValue: {
      const double real = RealOf(bits_);
      const double whole = std::trunc(real);
      if (!(whole >= static_cast<double>(Limits::min()) && whole < kPastMax)) {
        ThrowOutOfRange(operation, asString());
      }
      return static_cast<Integer>(real);
    }
    default:
      ThrowWrongType(operation, kind);
  }
}

int Value::asInt() const { return asInteger<int>("asInt"); }
std::int64_t Value::asInt64() const { return asInteger<std::int64_t>("asInt64"); }
std::uint64_t Value::asUInt64() const { return asInteger<std::uint64_t>("asUInt64"); }

double Value::asDouble() const {
  const ValueType kind = type();
  switch (kind) {
    case nullValue:
    case booleanValue:
      return bits_ == Special(A::kTrue) ? 1.0 : 0.0;
    case intValue:
      return static_cast<double>(static_cast<std::int64_t>(IntegerBits(bits_)));
    case uintValue:
      return static_cast<double>(IntegerBits(bits_));
    case realValue:
      return RealOf(bits_);
    default:
      ThrowWrongType("asDouble", kind);
  }
}

bool Value::asBool() const {
  const ValueType kind = type();
  switch (kind) {
    case nullValue:
    case booleanValue:
      return bits_ == Special(A::kTrue);
    case intValue:
    case uintValue:
      return IntegerBits(bits_) != 0;
    case realValue:
      return RealOf(bits_) != 0.0;
    default:
      ThrowWrongType("asBool", kind);
  }
}

std::string Value::asString() const {
  const ValueType kind = type();
  switch (kind) {
    case nullValue:
      return std::string();
    case booleanValue:
      return bits_ == Special(A::kTrue) ? "true" : "false";
    case intValue:
      return std::to_string(static_cast<std::int64_t>(IntegerBits(bits_)));
    case uintValue:
      return std::to_string(IntegerBits(bits_));
    case realValue:
      return DoubleText(RealOf(bits_));
    case stringValue:
      return std::string(stringView());
    default:
      ThrowWrongType("asString", kind);
  }
}

std::string_view Value::stringView() const {
  if (A::Tagged(bits_)) {
    switch (A::TagOf(bits_)) {
      case A::kShortString:
        return std::string_view(reinterpret_cast<const char*>(&bits_), (bits_ >> 40) & 0xFF);
      case A::kSixBytes:
        return std::string_view(reinterpret_cast<const char*>(&bits_), 6);
      case A::kString: {
        const Node* node = A::NodeOf(*this);
        return std::string_view(A::Bytes(node), node->word);
      }
      default:
        if (bits_ == Special(A::kEmptyString)) return std::string_view();
    }
  }
  ThrowWrongType("stringView", type());
}

// ---- comparison ---------------------------------------------------------------------------

bool Value::operator==(const Value& other) const {
  const ValueType kind = type();
  const ValueType otherKind = other.type();
  // Integers too: an intValue is never above INT64_MAX, a uintValue always is.
  if (kind != otherKind) return false;
  if (kind != realValue && bits_ == other.bits_) return true;
  switch (kind) {
    case intValue:
    case uintValue:
      return IntegerBits(bits_) == IntegerBits(other.bits_);
    case realValue:
      return RealOf(bits_) == RealOf(other.bits_);
    case stringValue:
      return stringView() == other.stringView();
    case arrayValue:
    case objectValue:
      break;
    default:
      return false;  // null and bool with different bits
  }
  const std::uint32_t count = size();
  if (count != other.size()) return false;
  if (kind == arrayValue) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if ((*this)[i] != other[i]) return false;
    }
    return true;
  }
  // Objects: the same members with equal values, in any order.
  for (std::uint32_t i = 0; i < count; ++i) {
    const Value* match = other.find(memberName(i));
    if (match == nullptr || *match != memberValue(i)) return false;
  }
  return true;
}

}  // namespace Json
}  // namespace quim
