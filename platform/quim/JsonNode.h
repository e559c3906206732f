// Internal: the shared payloads behind quim::Json::Value (strings, arrays, objects).
//
// A Value of type string, array or object holds a Node* that may be null, meaning "empty", so
// empty containers and "" cost no allocation. A node starts with an intrusive reference count;
// the owning Value's type says which kind of node it is. String nodes are immutable once built,
// so they are only ever shared. Array and object nodes are copied one level when a shared one is
// written (Value::mutableNode), and a node that handed out a writable reference is marked
// unshareable: copying its Value then copies the node instead of sharing it.
//
// Invariant: every node reachable from a shareable node is shareable, because the only way to a
// writable reference into a node passes through a writable accessor of each enclosing node,
// which marks it; copies never contain unshareable nodes. So copying the children of a shareable
// node is a reference count increment per child.
#ifndef QUIM_PLATFORM_JSONNODE_H
#define QUIM_PLATFORM_JSONNODE_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "quim/Json.h"

namespace quim {
namespace Json {

struct Value::Node {
  std::atomic<std::uint32_t> refs{1};
  bool unshareable = false;

  // The library's own code reaches Value's representation through these (a nested class may
  // use the private members of its enclosing class).
  static Node* Of(const Value& value) { return value.u_.node_; }
  static Value Adopt(ValueType type, Node* node) noexcept {
    Value value;
    value.type_ = type;
    value.u_.node_ = node;
    return value;
  }
  static bool HasNode(ValueType type) {
    return type == stringValue || type == arrayValue || type == objectValue;
  }
};

namespace detail {

// The bytes follow the header in the same allocation.
struct StringNode : Value::Node {
  std::size_t size = 0;
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

StringNode* NewString(const char* data, std::size_t size);
void FreeString(StringNode* node) noexcept;

struct ArrayNode : Value::Node {
  std::vector<Value> items;
};

struct Member {
  std::string name;
  Value value;
};

constexpr std::uint32_t kNoMember = 0xffffffffu;

// Open-addressing hash index over an object's members, kept once an object grows past
// kIndexThreshold members so that lookups and duplicate detection stay O(1). The hash is keyed
// per process (SipHash-1-3), so a hostile answer cannot aim for collisions.
class MemberIndex {
 public:
  static std::uint32_t Hash(std::string_view name);
  bool active() const { return !slots_.empty(); }
  std::uint32_t Find(const std::vector<Member>& members, std::string_view name,
                     std::uint32_t hash) const;
  void Insert(std::uint32_t position, std::uint32_t hash);
  void Rebuild(const std::vector<Member>& members);
  void Clear() {
    slots_.clear();
    count_ = 0;
  }

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t positionPlusOne;  // 0: empty
  };
  void Place(Slot slot);
  std::vector<Slot> slots_;  // size is a power of two, at most half full
  std::uint32_t count_ = 0;
};

struct ObjectNode : Value::Node {
  static constexpr std::size_t kIndexThreshold = 16;
  std::vector<Member> members;
  MemberIndex index;

  std::uint32_t Find(std::string_view name) const;
  // The member's value, after adding the member (null, at the end) when absent.
  Value& Slot(std::string_view name);
  Value& Slot(std::string&& name);
  void ReindexAfterRemoval();

 private:
  template <class Name>
  Value& SlotImpl(std::string_view view, Name&& name);
};

// The shortest text that reads back to the same double (rapidjson's dtoa); non-finite values
// as NaN, Infinity, -Infinity.
std::string DoubleText(double value);

inline bool SameName(const std::string& a, std::string_view b) {
  return a.size() == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
}

}  // namespace detail
}  // namespace Json
}  // namespace quim

#endif  // QUIM_PLATFORM_JSONNODE_H
