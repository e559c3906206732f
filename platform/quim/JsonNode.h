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

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quim/Json.h"

namespace quim {
namespace Json {

struct Value::Node {
  std::atomic<std::uint32_t> refs{1};
  bool unshareable = false;
  bool pooled = false;  // lives in a NodeArena block, not in an allocation of its own

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

// Memory for the nodes that one parse makes. Nodes are carved one after another out of blocks,
// each node preceded by the address of its block; a block counts the nodes in it that are still
// alive and goes back to the heap with the last of them, on whatever thread that happens. That
// replaces an allocation and a free per node with a pointer bump and one atomic decrement, and
// a parsed tree of a few hundred bytes with one allocation. A node kept from a parse keeps its
// block (at most kMaxBlockBytes) alive. The arena itself is used by one thread, while it parses.
class NodeArena {
 public:
  static constexpr std::size_t kMaxBlockBytes = 64 * 1024;

  // textSize: the length of the text to parse, which sizes the first block.
  explicit NodeArena(std::size_t textSize);
  ~NodeArena();
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // Memory for a node of bytes bytes (aligned for every node type), or null when the node is
  // too large to share a block; the caller then takes it from the heap.
  void* Allocate(std::size_t bytes) {
    const std::size_t needed = sizeof(Block*) + (bytes + kAlign - 1) / kAlign * kAlign;
    if (needed > static_cast<std::size_t>(end_ - next_)) return AllocateInNewBlock(needed);
    return Carve(needed);
  }
  // Gives back the memory of a pooled node whose destructor has run.
  static void Release(const void* node) noexcept;

 private:
  struct Block;
  static constexpr std::size_t kAlign = alignof(void*);  // enough for every node type

  void* AllocateInNewBlock(std::size_t needed);
  static void FreeBlock(Block* block) noexcept;
  // Takes needed bytes from the current block: its address, then the node.
  void* Carve(std::size_t needed) {
    std::memcpy(next_, &block_, sizeof block_);
    void* node = next_ + sizeof(Block*);
    next_ += needed;
    ++count_;
    return node;
  }
  void Seal() noexcept;

  Block* block_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::uint32_t count_ = 0;  // nodes carved out of block_
  std::size_t nextBlockBytes_;
};

// The bytes follow the header in the same allocation.
struct StringNode : Value::Node {
  std::size_t size = 0;
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

// arena: where a parser's nodes come from; null for the heap.
StringNode* NewString(const char* data, std::size_t size, NodeArena* arena = nullptr);
void FreeString(StringNode* node) noexcept;

// The elements of an array or object node. A node made for a known number of elements (by the
// parser, or as a copy) keeps them right after itself in the same allocation, which saves an
// allocation per node; a node that outgrows that space moves its elements to an array of their
// own. Arguments of emplace_back must not refer to an element of the same list.
template <class T>
class ElementList {
 public:
  ElementList(T* inlineData, std::size_t inlineCapacity) noexcept
      : data_(inlineData), capacity_(inlineCapacity) {}
  ~ElementList() {
    Clear();
    if (external_) ::operator delete(static_cast<void*>(data_));
  }
  ElementList(const ElementList&) = delete;
  ElementList& operator=(const ElementList&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](std::size_t index) { return data_[index]; }
  const T& operator[](std::size_t index) const { return data_[index]; }
  T& back() { return data_[size_ - 1]; }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) Grow(size_ + 1);
    T* element = new (static_cast<void*>(data_ + size_)) T(std::forward<Args>(args)...);
    ++size_;
    return *element;
  }
  void reserve(std::size_t count) {
    if (count > capacity_) Grow(count);
  }
  // Default-constructs elements up to count, or destroys those past it.
  void resize(std::size_t count) {
    reserve(count);
    while (size_ < count) {
      new (static_cast<void*>(data_ + size_)) T();
      ++size_;
    }
    while (size_ > count) data_[--size_].~T();
  }
  void erase(std::size_t index) {
    std::move(data_ + index + 1, data_ + size_, data_ + index);
    data_[--size_].~T();
  }
  void Clear() noexcept {
    for (std::size_t i = 0; i < size_; ++i) data_[i].~T();
    size_ = 0;
  }

 private:
  // Moves the elements to an array of at least count elements (elements move without throwing).
  void Grow(std::size_t count) {
    std::size_t capacity = capacity_ < 2 ? 4 : capacity_ * 2;
    if (capacity < count) capacity = count;
    if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    T* data = static_cast<T*>(::operator new(capacity * sizeof(T)));
    for (std::size_t i = 0; i < size_; ++i) {
      new (static_cast<void*>(data + i)) T(std::move(data_[i]));
      data_[i].~T();
    }
    if (external_) ::operator delete(static_cast<void*>(data_));
    data_ = data;
    capacity_ = capacity;
    external_ = true;
  }

  T* data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
  bool external_ = false;
};

// Allocates a node of type N with room for inlineCapacity elements of type T after it (from
// arena when there is one and the node fits), and frees one. N's constructor takes the element
// space and its capacity and does not throw.
template <class N, class T>
N* NewNodeWithElements(std::size_t inlineCapacity, NodeArena* arena) {
  constexpr std::size_t kHeader = (sizeof(N) + alignof(T) - 1) / alignof(T) * alignof(T);
  if (inlineCapacity > (static_cast<std::size_t>(-1) - kHeader) / sizeof(T)) {
    throw std::bad_alloc();
  }
  const std::size_t bytes = kHeader + inlineCapacity * sizeof(T);
  void* memory = arena != nullptr ? arena->Allocate(bytes) : nullptr;
  const bool pooled = memory != nullptr;
  if (!pooled) memory = ::operator new(bytes);
  T* elements = reinterpret_cast<T*>(static_cast<char*>(memory) + kHeader);
  N* node = new (memory) N(elements, inlineCapacity);
  node->pooled = pooled;
  return node;
}

template <class N>
void FreeNodeWithElements(N* node) noexcept {
  const bool pooled = node->pooled;
  node->~N();
  if (pooled) {
    NodeArena::Release(node);
  } else {
    ::operator delete(static_cast<void*>(node));
  }
}

struct ArrayNode : Value::Node {
  ArrayNode(Value* elements, std::size_t capacity) noexcept : items(elements, capacity) {}
  ElementList<Value> items;
};

ArrayNode* NewArrayNode(std::size_t inlineCapacity, NodeArena* arena = nullptr);
void FreeArrayNode(ArrayNode* node) noexcept;

struct Member {
  Member(std::string&& memberName, Value&& memberValue) noexcept
      : name(std::move(memberName)), value(std::move(memberValue)) {}
  std::string name;
  Value value;
};

using MemberList = ElementList<Member>;

constexpr std::uint32_t kNoMember = 0xffffffffu;

// Open-addressing hash index over an object's members, kept once an object grows past
// kIndexThreshold members so that lookups and duplicate detection stay O(1). The hash is keyed
// per process (SipHash-1-3), so a hostile answer cannot aim for collisions.
class MemberIndex {
 public:
  static std::uint32_t Hash(std::string_view name);
  bool active() const { return !slots_.empty(); }
  std::uint32_t Find(const MemberList& members, std::string_view name, std::uint32_t hash) const;
  void Insert(std::uint32_t position, std::uint32_t hash);
  void Rebuild(const MemberList& members);
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
  ObjectNode(Member* elements, std::size_t capacity) noexcept : members(elements, capacity) {}
  MemberList members;
  std::unique_ptr<MemberIndex> index;  // only past kIndexThreshold members: most objects are small

  bool Indexed() const { return index != nullptr && index->active(); }
  std::uint32_t Find(std::string_view name) const;
  // The member's value, after adding the member (null, at the end) when absent.
  Value& Slot(std::string_view name);
  Value& Slot(std::string&& name);
  void ReindexAfterRemoval();

 private:
  template <class Name>
  Value& SlotImpl(std::string_view view, Name&& name);
};

ObjectNode* NewObjectNode(std::size_t inlineCapacity, NodeArena* arena = nullptr);
void FreeObjectNode(ObjectNode* node) noexcept;

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
