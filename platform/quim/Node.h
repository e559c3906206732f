// Internal: how a quim::Json::Value is stored, and the nodes behind strings, arrays and objects.
//
// A Value is 64 bits. Any double but a NaN stands for itself (every NaN is stored as the one
// positive quiet NaN); the negative quiet NaNs, which no double then uses, carry a 3-bit tag and
// a 48-bit payload:
//
//   tag 0  null, false, true, "", [], {} (payload 0..5)
//   tag 1  an integer of 48 bits, two's complement
//   tag 2  a string of 1 to 5 bytes: the bytes in payload bytes 0..4, the length in byte 5
//   tag 3  a string node, tag 4 an array node, tag 5 an object node, tag 6 a number node
//   tag 7  a string of exactly 6 bytes, in payload bytes 0..5
//
// Pointers fit 48 bits on every platform the library builds for (x86-64, AArch64). A node starts
// with an atomic reference count; string and number nodes never change once built, so they are
// only ever shared. A shared array or object node is copied one level before a write, and a node
// that handed out a writable reference is marked unshareable: copying its Value then copies the
// node instead of sharing it. Every node reachable from a shareable node is shareable, because
// a writable reference into a node passes through a writable accessor of each enclosing node.
#ifndef QUIM_PLATFORM_NODE_H
#define QUIM_PLATFORM_NODE_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "quim/Json.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "quim stores short strings inside a Value in little-endian byte order"
#endif

namespace quim {
namespace Json {

struct Node {
  // The reference count, and for a string node carved out of a slab (see SlabCarver) the flag
  // kStringInSlab above it: a string's word holds its whole byte count, leaving no room there.
  std::atomic<std::uint32_t> refs{1};
  // Strings: the byte count. Arrays and objects: the element count with the two flags below.
  // Numbers: 1 for an unsigned value above INT64_MAX, else 0.
  std::uint32_t word = 0;
};

// An array's or object's elements follow its node (an object's as name, value, name, ...).
// A growable node (made by a write) has room for Capacity(size) elements; any other for exactly
// size, as the parser and copies make them. A node in a slab (see SlabCarver) is one of the
// parser's small ones and goes back to its slab instead of to operator delete.
constexpr std::uint32_t kGrowable = 1u << 31;
constexpr std::uint32_t kUnshareable = 1u << 30;
constexpr std::uint32_t kInSlab = 1u << 29;
constexpr std::uint32_t kMaxElements = kInSlab - 1;
constexpr std::uint32_t kStringInSlab = 1u << 31;  // in refs, never changed by counting

struct Value::Access {
  enum Tag : unsigned {
    kSpecial,
    kSmallInt,
    kShortString,
    kString,
    kArray,
    kObject,
    kNumber,
    kSixBytes
  };
  static constexpr std::uint64_t kTagged = 0xFFF8000000000000u;
  static constexpr std::uint64_t kPayload = 0x0000FFFFFFFFFFFFu;
  enum Special : unsigned { kNullBits, kFalse, kTrue, kEmptyString, kEmptyArray, kEmptyObject };
  static constexpr std::int64_t kSmallMin = -(std::int64_t{1} << 47);
  static constexpr std::int64_t kSmallMax = (std::int64_t{1} << 47) - 1;
  static constexpr std::size_t kShortMax = 6;  // 1..5 bytes: kShortString, 6: kSixBytes

  static constexpr std::uint64_t Make(Tag tag, std::uint64_t payload) {
    return kTagged | (std::uint64_t{tag} << 48) | payload;
  }
  static bool Tagged(std::uint64_t bits) { return (bits & kTagged) == kTagged; }
  static Tag TagOf(std::uint64_t bits) { return static_cast<Tag>((bits >> 48) & 7); }
  static std::uint64_t& Bits(Value& value) { return value.bits_; }
  static std::uint64_t Bits(const Value& value) { return value.bits_; }
  static Value FromBits(std::uint64_t bits) {
    Value value;
    value.bits_ = bits;
    return value;
  }
  // Takes over one reference to node.
  static Value Adopt(Tag tag, Node* node) {
    return FromBits(Make(tag, reinterpret_cast<std::uintptr_t>(node)));
  }
  // Whether bits stand for a value with a node (tag kString .. kNumber), as Value::HoldsNode.
  static bool HoldsNode(std::uint64_t bits) {
    const std::uint64_t top = bits >> 48;
    return top >= 0xFFFB && top <= 0xFFFE;
  }
  // The node of a value with tag kString .. kNumber, else null.
  static Node* NodeOf(const Value& value) {
    const std::uint64_t bits = value.bits_;
    if (!Tagged(bits) || TagOf(bits) < kString || TagOf(bits) > kNumber) return nullptr;
    return reinterpret_cast<Node*>(static_cast<std::uintptr_t>(bits & kPayload));
  }
  static std::uint32_t Size(const Node* node) { return node->word & kMaxElements; }
  static Value* Elements(Node* node) { return reinterpret_cast<Value*>(node + 1); }
  static const Value* Elements(const Node* node) {
    return reinterpret_cast<const Value*>(node + 1);
  }
  static const char* Bytes(const Node* node) { return reinterpret_cast<const char*>(node + 1); }
  // Array elements or object members (2 values each) of a value, without type checks.
  static std::uint32_t Count(const Value& value) {
    const Node* node = NodeOf(value);
    return node == nullptr ? 0 : Size(node);
  }
};

static_assert(sizeof(Node) == 8 && sizeof(Value) == 8, "a node header and a value fill 8 bytes");

// Whether node is a string node holding exactly text's bytes (false for a null node).
inline bool NodeHolds(const Node* node, std::string_view text) {
  return node != nullptr && node->word == text.size() &&
         std::memcmp(Value::Access::Bytes(node), text.data(), text.size()) == 0;
}

// The bits of a special value (null, false, true, the empty string, array and object).
constexpr std::uint64_t Special(Value::Access::Special which) {
  return Value::Access::Make(Value::Access::kSpecial, which);
}

// Value.cpp: the errors of a value's operations ("quim::Json::Value::<operation>: ...").
[[noreturn]] void ThrowWrongType(const char* operation, ValueType type);
[[noreturn]] void ThrowOutOfRange(const char* operation, const std::string& text);

// Storage.cpp: making, sharing and dropping nodes.
Value MakeString(const char* data, std::size_t size);  // short strings inline, others a node
void Unref(std::uint64_t bits) noexcept;               // drops one reference of a value's node
// A node for count elements (values) laid out for exactly count, not yet constructed; the caller
// places them. Throws std::length_error past kMaxElements.
Node* NewContainer(std::uint32_t count, std::uint32_t valuesPerElement);
// The writable node of an array (valuesPerElement 1) or object (2) value with room for at least
// `room` elements, detached from its copies, marked unshareable; turns an empty value into a node.
Node* WritableContainer(Value& value, std::uint32_t room, std::uint32_t valuesPerElement);
// Position of a member named name in an object node, or size when there is none.
std::uint32_t FindMember(const Node* object, std::string_view name);
// Whether two member names (strings) are equal, without reading them out: a string of up to six
// bytes is only ever held in its value (MakeString makes every string), so two such names are
// equal exactly when their bits are, and a longer name is a string node (NodeHolds).
inline bool SameName(const Value& a, const Value& b) {
  using A = Value::Access;
  if (A::Bits(a) == A::Bits(b)) return true;
  constexpr std::uint64_t kStringNode = A::Make(A::kString, 0) >> 48;
  if (A::Bits(a) >> 48 != kStringNode || A::Bits(b) >> 48 != kStringNode) return false;
  const Node* second = A::NodeOf(b);
  return NodeHolds(A::NodeOf(a), std::string_view(A::Bytes(second), second->word));
}

// The small nodes of one parse (at most kMostInSlab bytes: containers and strings), carved out
// of slabs of memory one after the other instead of taking an allocation each: the heap gives a
// node of one or two values a block of twice its size, and a tree of small containers (nested
// arrays, lists of small objects) would take twice the memory; a small answer's tree takes one
// or two allocations instead of one per node. A slab goes when the carver and every node in it
// are gone; its nodes may be released on any thread. String nodes never change, so a carved one
// is only ever shared, and goes back to its slab when its last holder lets it go.
class SlabCarver {
 public:
  static constexpr std::size_t kMostInSlab = 64;
  SlabCarver() = default;
  SlabCarver(const SlabCarver&) = delete;
  SlabCarver& operator=(const SlabCarver&) = delete;
  ~SlabCarver() { Leave(); }
  // As NewContainer, from the current slab when the node is small enough.
  Node* NewContainer(std::uint32_t count, std::uint32_t valuesPerElement) {
    const std::size_t bytes = sizeof(Node) + std::size_t{count} * valuesPerElement * sizeof(Value);
    if (bytes > kMostInSlab) return Json::NewContainer(count, valuesPerElement);
    Node* node = Carve(bytes);
    node->word = count | kInSlab;
    return node;
  }
  // As MakeString, from the current slab when the node is small enough.
  Value MakeString(const char* data, std::size_t size) {
    if (size <= Value::Access::kShortMax || size > kMostInSlab - sizeof(Node)) {
      return Json::MakeString(data, size);
    }
    Node* node = Carve(sizeof(Node) + (size + 7) / 8 * 8);
    node->refs.store(1 | kStringInSlab, std::memory_order_relaxed);
    node->word = static_cast<std::uint32_t>(size);
    std::memcpy(static_cast<void*>(Value::Access::Elements(node)), data, size);
    return Value::Access::Adopt(Value::Access::kString, node);
  }
  struct Slab;  // the count of a slab's live nodes, at its start

 private:
  // A node of bytes (a multiple of 8, at most kMostInSlab), not yet counted as carved.
  Node* Carve(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(lineEnd_ - next_)) NextLine(bytes);
    Node* node = new (next_) Node;
    next_ += bytes;
    ++carved_;
    return node;
  }
  void NextLine(std::size_t bytes);  // starts the next line, in this slab or a new one
  void Leave() noexcept;             // gives up the current slab
  Slab* slab_ = nullptr;
  char* next_ = nullptr;      // the first free byte
  char* lineEnd_ = nullptr;   // the end of the current line (or slab, if sooner)
  char* end_ = nullptr;       // the end of the current slab
  std::uint32_t carved_ = 0;  // nodes carved out of the current slab
  std::size_t nextSize_ = 0;  // bytes of the slab to make next
};

}  // namespace Json
}  // namespace quim

#endif  // QUIM_PLATFORM_NODE_H
