// quim::Json::Value: representation, copy-on-write, accessors and conversions.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <utility>

#include "JsonNode.h"

namespace quim {
namespace Json {

using detail::ArrayNode;
using detail::Member;
using detail::ObjectNode;
using detail::StringNode;

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

[[noreturn]] void ThrowWrongType(const char* operation, ValueType type) {
  throw Error(std::string("quim::Json::Value::") + operation + ": not applicable to " +
              TypeName(type));
}

[[noreturn]] void ThrowOutOfRange(const char* operation, const std::string& text) {
  throw Error(std::string("quim::Json::Value::") + operation + ": " + text + " is out of range");
}

ArrayNode* AsArray(Value::Node* node) { return static_cast<ArrayNode*>(node); }
const ArrayNode* AsArray(const Value::Node* node) { return static_cast<const ArrayNode*>(node); }
ObjectNode* AsObject(Value::Node* node) { return static_cast<ObjectNode*>(node); }

// Element space of an array or object made by a writable accessor on a null value.
constexpr std::size_t kFreshArrayCapacity = 2;
constexpr std::size_t kFreshObjectCapacity = 4;
const ObjectNode* AsObject(const Value::Node* node) { return static_cast<const ObjectNode*>(node); }

void DestroyNode(ValueType type, Value::Node* node) noexcept {
  switch (type) {
    case stringValue:
      detail::FreeString(static_cast<StringNode*>(node));
      break;
    case arrayValue:
      detail::FreeArrayNode(AsArray(node));
      break;
    case objectValue:
      detail::FreeObjectNode(AsObject(node));
      break;
    default:
      break;
  }
}

// Owns a node under construction until it is complete.
template <class N, void (*Free)(N*) noexcept>
class NodeHolder {
 public:
  explicit NodeHolder(N* node) : node_(node) {}
  ~NodeHolder() {
    if (node_ != nullptr) Free(node_);
  }
  NodeHolder(const NodeHolder&) = delete;
  NodeHolder& operator=(const NodeHolder&) = delete;
  N* operator->() const { return node_; }
  N* Release() {
    N* node = node_;
    node_ = nullptr;
    return node;
  }

 private:
  N* node_;
};

// A fresh, shareable copy of one level: the children are copied as Values (sharing their own
// payloads).
Value::Node* CloneNode(ValueType type, const Value::Node* node) {
  if (type == arrayValue) {
    const auto& items = AsArray(node)->items;
    NodeHolder<ArrayNode, detail::FreeArrayNode> copy(detail::NewArrayNode(items.size()));
    for (const Value& item : items) copy->items.emplace_back(item);
    return copy.Release();
  }
  const auto& members = AsObject(node)->members;
  NodeHolder<ObjectNode, detail::FreeObjectNode> copy(detail::NewObjectNode(members.size()));
  for (const Member& member : members) copy->members.emplace_back(member);
  if (AsObject(node)->Indexed()) {
    copy->index = std::make_unique<detail::MemberIndex>(*AsObject(node)->index);
  }
  return copy.Release();
}

// Drops one reference; the last one destroys the node. A count of 1 seen by its holder cannot
// change under it (no other Value refers to the node), which spares the atomic write when a
// tree that was never shared is destroyed.
void Unref(ValueType type, Value::Node* node) noexcept {
  if (node->refs.load(std::memory_order_acquire) == 1 ||
      node->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    DestroyNode(type, node);
  }
}

}  // namespace

namespace detail {

// ---- node arena ---------------------------------------------------------------------------

namespace {

// A block's count starts this high and drops by one for every node released, while the arena
// carves nodes out of it; when the arena moves on it takes off the bias less the nodes it made,
// so the count reaches 0 with the last node whichever comes last.
constexpr std::uint32_t kBlockBias = 1u << 31;
// Every node type needs at most this alignment; the block address before a node keeps it.
constexpr std::size_t kNodeAlign = alignof(void*);
static_assert(kNodeAlign == sizeof(void*), "the block address fills one alignment unit");
constexpr std::size_t kFirstBlockMin = 256;

static_assert(alignof(StringNode) <= kNodeAlign && alignof(ArrayNode) <= kNodeAlign &&
                  alignof(ObjectNode) <= kNodeAlign && alignof(Value) <= kNodeAlign &&
                  alignof(Member) <= kNodeAlign,
              "arena nodes are aligned for pointers only");

std::size_t RoundUp(std::size_t bytes) {
  return (bytes + kNodeAlign - 1) / kNodeAlign * kNodeAlign;
}

}  // namespace

struct NodeArena::Block {
  explicit Block(std::size_t bytes) : capacity(bytes) {}
  std::atomic<std::uint32_t> live{kBlockBias};
  const std::size_t capacity;  // bytes for nodes after the header
  char* Data() { return reinterpret_cast<char*>(this) + RoundUp(sizeof(Block)); }
};

namespace {

// Free blocks of the largest size, kept for the next parse instead of going back to the heap at
// once. Freed blocks merge into the top of the C library's heap, and once that top grows past
// its trim threshold (128 KB) the memory goes back to the system, for the next parse to fault
// in again page by page; a few cached blocks keep answers of some hundred kilobytes from doing
// that on every call.
class BlockCache {
 public:
  static constexpr std::size_t kMostBlocks = 32;  // 2 MB

  void* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_ == 0 ? nullptr : blocks_[--count_];
  }
  bool Keep(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == kMostBlocks) return false;
    blocks_[count_++] = block;
    return true;
  }

 private:
  std::mutex mutex_;
  void* blocks_[kMostBlocks] = {};
  std::size_t count_ = 0;
};

// Never destroyed: nodes may still be released while the program exits, after static objects
// are gone. The blocks it holds then are the system's to take back.
BlockCache& CachedBlocks() {
  alignas(BlockCache) static unsigned char storage[sizeof(BlockCache)];
  static BlockCache* const cache = new (storage) BlockCache;
  return *cache;
}

}  // namespace

NodeArena::NodeArena(std::size_t textSize) {
  // A parsed tree takes several times the bytes of its text; a small answer's tree then fits in
  // its first block.
  const std::size_t estimate = textSize < kMaxBlockBytes / 8 ? textSize * 8 : kMaxBlockBytes;
  nextBlockBytes_ = estimate < kFirstBlockMin ? kFirstBlockMin : estimate;
}

NodeArena::~NodeArena() { Seal(); }

void* NodeArena::AllocateInNewBlock(std::size_t needed) {
  if (needed > kMaxBlockBytes / 4) return nullptr;
  Seal();
  const std::size_t capacity = nextBlockBytes_ < needed ? needed : nextBlockBytes_;
  void* memory = capacity == kMaxBlockBytes ? CachedBlocks().Take() : nullptr;
  if (memory == nullptr) memory = ::operator new(RoundUp(sizeof(Block)) + capacity);
  block_ = new (memory) Block(capacity);
  next_ = block_->Data();
  end_ = next_ + capacity;
  count_ = 0;
  nextBlockBytes_ = capacity * 2 < kMaxBlockBytes ? capacity * 2 : kMaxBlockBytes;
  return Carve(needed);
}

void NodeArena::FreeBlock(Block* block) noexcept {
  const bool cacheable = block->capacity == kMaxBlockBytes;
  block->~Block();
  if (!cacheable || !CachedBlocks().Keep(block)) ::operator delete(static_cast<void*>(block));
}

void NodeArena::Seal() noexcept {
  if (block_ == nullptr) return;
  const std::uint32_t remaining = kBlockBias - count_;
  if (block_->live.fetch_sub(remaining, std::memory_order_acq_rel) == remaining) {
    FreeBlock(block_);
  }
  block_ = nullptr;
  next_ = end_ = nullptr;
}

void NodeArena::Release(const void* node) noexcept {
  Block* block;
  std::memcpy(&block, static_cast<const char*>(node) - sizeof(Block*), sizeof block);
  if (block->live.fetch_sub(1, std::memory_order_acq_rel) == 1) FreeBlock(block);
}

// ---- node allocation ----------------------------------------------------------------------

ArrayNode* NewArrayNode(std::size_t inlineCapacity, NodeArena* arena) {
  return NewNodeWithElements<ArrayNode, Value>(inlineCapacity, arena);
}
void FreeArrayNode(ArrayNode* node) noexcept { FreeNodeWithElements(node); }
ObjectNode* NewObjectNode(std::size_t inlineCapacity, NodeArena* arena) {
  return NewNodeWithElements<ObjectNode, Member>(inlineCapacity, arena);
}
void FreeObjectNode(ObjectNode* node) noexcept { FreeNodeWithElements(node); }

StringNode* NewString(const char* data, std::size_t size, NodeArena* arena) {
  if (size > static_cast<std::size_t>(-1) - sizeof(StringNode)) throw std::bad_alloc();
  const std::size_t bytes = sizeof(StringNode) + size;
  void* memory = arena != nullptr ? arena->Allocate(bytes) : nullptr;
  const bool pooled = memory != nullptr;
  if (!pooled) memory = ::operator new(bytes);
  auto* node = new (memory) StringNode;
  node->pooled = pooled;
  node->size = size;
  if (size != 0) std::memcpy(node->data(), data, size);
  return node;
}

void FreeString(StringNode* node) noexcept { FreeNodeWithElements(node); }

// ---- member index -------------------------------------------------------------------------

namespace {

struct SipKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

// random_device may be deterministic on some platforms, so the clock and an address are mixed
// in as well.
SipKey MakeSipKey() {
  std::random_device device;
  std::uint64_t a = (std::uint64_t{device()} << 32) ^ device();
  std::uint64_t b = (std::uint64_t{device()} << 32) ^ device();
  a ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  b ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&device));
  return {a, b};
}

inline std::uint64_t Rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
  }
  void Absorb(std::uint64_t m) {
    v3 ^= m;
    Round();
    v0 ^= m;
  }
};

// SipHash-1-3 (one compression round, three finalization rounds).
std::uint64_t SipHash13(const SipKey& key, const char* data, std::size_t size) {
  SipState s{0x736f6d6570736575ULL ^ key.k0, 0x646f72616e646f6dULL ^ key.k1,
             0x6c7967656e657261ULL ^ key.k0, 0x7465646279746573ULL ^ key.k1};
  std::size_t whole = size & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m;
    std::memcpy(&m, data + i, 8);
    s.Absorb(m);
  }
  std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
  for (std::size_t i = whole; i < size; ++i) {
    last |= std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * (i - whole));
  }
  s.Absorb(last);
  s.v2 ^= 0xff;
  s.Round();
  s.Round();
  s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace

std::uint32_t MemberIndex::Hash(std::string_view name) {
  static const SipKey key = MakeSipKey();
  return static_cast<std::uint32_t>(SipHash13(key, name.data(), name.size()));
}

std::uint32_t MemberIndex::Find(const MemberList& members, std::string_view name,
                                std::uint32_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.positionPlusOne == 0) return kNoMember;
    if (slot.hash == hash && SameName(members[slot.positionPlusOne - 1].name, name)) {
      return slot.positionPlusOne - 1;
    }
  }
}

void MemberIndex::Place(Slot slot) {
  std::size_t mask = slots_.size() - 1;
  std::size_t i = slot.hash & mask;
  while (slots_[i].positionPlusOne != 0) i = (i + 1) & mask;
  slots_[i] = slot;
}

void MemberIndex::Insert(std::uint32_t position, std::uint32_t hash) {
  if ((count_ + 1) * std::size_t{2} > slots_.size()) {
    std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * 2), Slot{0, 0});
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.positionPlusOne != 0) Place(slot);
    }
  }
  Place(Slot{hash, position + 1});
  ++count_;
}

void MemberIndex::Rebuild(const MemberList& members) {
  Clear();
  std::size_t capacity = 64;
  while (capacity < members.size() * 2 + 2) capacity *= 2;
  slots_.assign(capacity, Slot{0, 0});
  for (std::size_t i = 0; i < members.size(); ++i) {
    Place(Slot{Hash(members[i].name), static_cast<std::uint32_t>(i + 1)});
  }
  count_ = static_cast<std::uint32_t>(members.size());
}

// ---- object nodes -------------------------------------------------------------------------

std::uint32_t ObjectNode::Find(std::string_view name) const {
  if (Indexed()) return index->Find(members, name, MemberIndex::Hash(name));
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (SameName(members[i].name, name)) return static_cast<std::uint32_t>(i);
  }
  return kNoMember;
}

template <class Name>
Value& ObjectNode::SlotImpl(std::string_view view, Name&& name) {
  std::uint32_t hash = 0;
  std::uint32_t position;
  if (Indexed()) {
    hash = MemberIndex::Hash(view);
    position = index->Find(members, view, hash);
  } else {
    position = Find(view);
  }
  if (position != kNoMember) return members[position].value;
  members.emplace_back(std::string(std::forward<Name>(name)), Value());
  auto added = static_cast<std::uint32_t>(members.size() - 1);
  if (Indexed()) {
    index->Insert(added, hash);
  } else if (members.size() > kIndexThreshold) {
    if (index == nullptr) index = std::make_unique<MemberIndex>();
    index->Rebuild(members);
  }
  return members.back().value;
}

Value& ObjectNode::Slot(std::string_view name) { return SlotImpl(name, name); }
Value& ObjectNode::Slot(std::string&& name) {
  std::string_view view = name;
  return SlotImpl(view, std::move(name));
}

void ObjectNode::ReindexAfterRemoval() {
  if (members.size() > kIndexThreshold) {
    if (index == nullptr) index = std::make_unique<MemberIndex>();
    index->Rebuild(members);
  } else {
    index.reset();
  }
}

}  // namespace detail

// ---- construction, copy, destruction ------------------------------------------------------

Value::Value(ValueType type) : type_(type) {
  switch (type) {
    case uintValue:  // stored as uintValue only above INT64_MAX (see ValueType)
    case intValue:
      type_ = intValue;
      u_.int_ = 0;
      break;
    case realValue:
      u_.real_ = 0.0;
      break;
    case booleanValue:
      u_.bool_ = false;
      break;
    case stringValue:
    case arrayValue:
    case objectValue:
      u_.node_ = nullptr;
      break;  // empty
    case nullValue:
      break;
  }
}
Value::Value(int value) : Value(static_cast<long long>(value)) {}
Value::Value(unsigned int value) : Value(static_cast<unsigned long long>(value)) {}
Value::Value(long value) : Value(static_cast<long long>(value)) {}
Value::Value(unsigned long value) : Value(static_cast<unsigned long long>(value)) {}
Value::Value(long long value) : type_(intValue) { u_.int_ = value; }
Value::Value(unsigned long long value) {
  if (value <= static_cast<unsigned long long>(INT64_MAX)) {
    type_ = intValue;
    u_.int_ = static_cast<std::int64_t>(value);
  } else {
    type_ = uintValue;
    u_.uint_ = value;
  }
}
Value::Value(double value) : type_(realValue) { u_.real_ = value; }
Value::Value(bool value) : type_(booleanValue) { u_.bool_ = value; }
Value::Value(const char* text)
    : Value(text == nullptr ? std::string_view() : std::string_view(text)) {}
Value::Value(const char* begin, const char* end)
    : Value(std::string_view(begin, static_cast<std::size_t>(end - begin))) {}
Value::Value(const std::string& text) : Value(std::string_view(text)) {}
Value::Value(std::string_view text) : type_(stringValue) {
  u_.node_ = text.empty() ? nullptr : detail::NewString(text.data(), text.size());
}

Value::Value(const Value& other) noexcept : type_(other.type_), u_(other.u_) {
  if (Node::HasNode(type_) && u_.node_ != nullptr) {
    if (u_.node_->unshareable) {
      u_.node_ = CloneNode(type_, u_.node_);
    } else {
      u_.node_->refs.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

Value::Value(Value&& other) noexcept : type_(other.type_), u_(other.u_) {
  other.type_ = nullValue;
  other.u_.int_ = 0;
}

// Both assignments build the new content before dropping the old, so assigning a value its own
// member (a = a["x"]) is safe.
Value& Value::operator=(const Value& other) noexcept {
  Value copy(other);
  swap(copy);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  Value moved(std::move(other));
  swap(moved);
  return *this;
}

Value::~Value() { release(); }

void Value::swap(Value& other) noexcept {
  std::swap(type_, other.type_);
  std::swap(u_, other.u_);
}

void Value::release() noexcept {
  if (Node::HasNode(type_) && u_.node_ != nullptr) Unref(type_, u_.node_);
  type_ = nullValue;
  u_.int_ = 0;
}

// Only for arrays and objects: string nodes are never written.
Value::Node* Value::mutableNode() {
  Node*& node = u_.node_;
  if (node == nullptr) {
    // Room for a few elements, which is what values built in code usually get.
    node = type_ == arrayValue ? static_cast<Node*>(detail::NewArrayNode(kFreshArrayCapacity))
                               : detail::NewObjectNode(kFreshObjectCapacity);
  } else if (node->refs.load(std::memory_order_acquire) != 1) {
    Node* copy = CloneNode(type_, node);
    Unref(type_, node);
    node = copy;
  }
  return node;
}

// ---- conversions --------------------------------------------------------------------------

// Null is 0, booleans 0 and 1, integers when Integer holds them, reals truncated toward zero
// when Integer holds the truncated value (NaN and the infinities never do); anything else throws.
template <class Integer>
Integer Value::asInteger(const char* operation) const {
  using Limits = std::numeric_limits<Integer>;
  // One past the largest value, a power of two and so exact as a double.
  constexpr double kPastMax = 2.0 * static_cast<double>(Integer{1} << (Limits::digits - 1));
  switch (type_) {
    case nullValue:
      return 0;
    case booleanValue:
      return u_.bool_ ? 1 : 0;
    case intValue:
      if (u_.int_ < 0
              ? u_.int_ < static_cast<std::int64_t>(Limits::min())
              : static_cast<std::uint64_t>(u_.int_) > static_cast<std::uint64_t>(Limits::max())) {
        ThrowOutOfRange(operation, asString());
      }
      return static_cast<Integer>(u_.int_);
    case uintValue:  // above INT64_MAX
      if (u_.uint_ > static_cast<std::uint64_t>(Limits::max())) {
        ThrowOutOfRange(operation, asString());
      }
      return static_cast<Integer>(u_.uint_);
    case realValue: {
      const double whole = std::trunc(u_.real_);
      if (!(whole >= static_cast<double>(Limits::min()) && whole < kPastMax)) {
        ThrowOutOfRange(operation, asString());
      }
      return static_cast<Integer>(u_.real_);
    }
    default:
      ThrowWrongType(operation, type_);
  }
}

int Value::asInt() const { return asInteger<int>("asInt"); }
std::int64_t Value::asInt64() const { return asInteger<std::int64_t>("asInt64"); }
std::uint64_t Value::asUInt64() const { return asInteger<std::uint64_t>("asUInt64"); }

double Value::asDouble() const {
  switch (type_) {
    case nullValue:
      return 0.0;
    case booleanValue:
      return u_.bool_ ? 1.0 : 0.0;
    case intValue:
      return static_cast<double>(u_.int_);
    case uintValue:
      return static_cast<double>(u_.uint_);
    case realValue:
      return u_.real_;
    default:
      ThrowWrongType("asDouble", type_);
  }
}

bool Value::asBool() const {
  switch (type_) {
    case nullValue:
      return false;
    case booleanValue:
      return u_.bool_;
    case intValue:
      return u_.int_ != 0;
    case uintValue:
      return u_.uint_ != 0;
    case realValue:
      return u_.real_ != 0.0;
    default:
      ThrowWrongType("asBool", type_);
  }
}

std::string Value::asString() const {
  switch (type_) {
    case nullValue:
      return std::string();
    case booleanValue:
      return u_.bool_ ? "true" : "false";
    case intValue:
      return std::to_string(u_.int_);
    case uintValue:
      return std::to_string(u_.uint_);
    case realValue:
      return detail::DoubleText(u_.real_);
    case stringValue:
      return std::string(stringView());
    default:
      ThrowWrongType("asString", type_);
  }
}

std::string_view Value::stringView() const {
  if (type_ != stringValue) ThrowWrongType("stringView", type_);
  if (u_.node_ == nullptr) return std::string_view();
  const auto* node = static_cast<const StringNode*>(u_.node_);
  return std::string_view(node->data(), node->size);
}

// ---- arrays -------------------------------------------------------------------------------

Value::ArrayIndex Value::size() const {
  if (type_ == arrayValue && u_.node_ != nullptr) {
    return static_cast<ArrayIndex>(AsArray(u_.node_)->items.size());
  }
  if (type_ == objectValue && u_.node_ != nullptr) {
    return static_cast<ArrayIndex>(AsObject(u_.node_)->members.size());
  }
  return 0;
}

Value& Value::operator[](ArrayIndex index) {
  if (type_ == nullValue) *this = Value(arrayValue);
  if (type_ != arrayValue) ThrowWrongType("operator[](index)", type_);
  ArrayNode* node = AsArray(mutableNode());
  node->unshareable = true;
  if (index >= node->items.size()) node->items.resize(std::size_t{index} + 1);
  return node->items[index];
}

Value& Value::operator[](int index) {
  if (index < 0) ThrowOutOfRange("operator[](index)", std::to_string(index));
  return (*this)[static_cast<ArrayIndex>(index)];
}

const Value& Value::operator[](ArrayIndex index) const {
  if (type_ != arrayValue) ThrowWrongType("operator[](index) const", type_);
  if (index >= size()) ThrowOutOfRange("operator[](index) const", std::to_string(index));
  return AsArray(u_.node_)->items[index];
}

const Value& Value::operator[](int index) const {
  if (index < 0) ThrowOutOfRange("operator[](index) const", std::to_string(index));
  return (*this)[static_cast<ArrayIndex>(index)];
}

Value& Value::append(const Value& value) { return append(Value(value)); }

Value& Value::append(Value&& value) {
  Value item(std::move(value));  // first, in case value lives in this array
  if (type_ == nullValue) *this = Value(arrayValue);
  if (type_ != arrayValue) ThrowWrongType("append", type_);
  ArrayNode* node = AsArray(mutableNode());
  node->unshareable = true;
  return node->items.emplace_back(std::move(item));
}

void Value::reserve(ArrayIndex count) {
  if (type_ == nullValue) *this = Value(arrayValue);
  if (type_ != arrayValue) ThrowWrongType("reserve", type_);
  AsArray(mutableNode())->items.reserve(count);
}

// ---- objects ------------------------------------------------------------------------------

namespace {
const Value& NullValue() {
  static const Value null;
  return null;
}
}  // namespace

Value& Value::operator[](const char* name) {
  if (type_ == nullValue) *this = Value(objectValue);
  if (type_ != objectValue) ThrowWrongType("operator[](name)", type_);
  ObjectNode* node = AsObject(mutableNode());
  node->unshareable = true;
  return node->Slot(name == nullptr ? std::string_view() : std::string_view(name));
}

Value& Value::operator[](const std::string& name) {
  if (type_ == nullValue) *this = Value(objectValue);
  if (type_ != objectValue) ThrowWrongType("operator[](name)", type_);
  ObjectNode* node = AsObject(mutableNode());
  node->unshareable = true;
  return node->Slot(std::string_view(name));
}

const Value& Value::operator[](const char* name) const {
  const Value* member = find(name == nullptr ? std::string_view() : std::string_view(name));
  return member != nullptr ? *member : NullValue();
}

const Value& Value::operator[](const std::string& name) const {
  const Value* member = find(name);
  return member != nullptr ? *member : NullValue();
}

bool Value::isMember(const char* name) const {
  return find(name == nullptr ? std::string_view() : std::string_view(name)) != nullptr;
}

bool Value::isMember(const std::string& name) const { return find(name) != nullptr; }

const Value* Value::find(std::string_view name) const {
  if (type_ != objectValue || u_.node_ == nullptr) return nullptr;
  const ObjectNode* node = AsObject(u_.node_);
  std::uint32_t position = node->Find(name);
  return position == detail::kNoMember ? nullptr : &node->members[position].value;
}

bool Value::removeMember(const std::string& name) {
  if (type_ != objectValue || find(name) == nullptr) return false;
  ObjectNode* node = AsObject(mutableNode());
  node->members.erase(node->Find(name));
  node->ReindexAfterRemoval();
  return true;
}

const std::string& Value::memberName(ArrayIndex index) const {
  if (type_ != objectValue) ThrowWrongType("memberName", type_);
  if (index >= size()) ThrowOutOfRange("memberName", std::to_string(index));
  return AsObject(u_.node_)->members[index].name;
}

const Value& Value::memberValue(ArrayIndex index) const {
  if (type_ != objectValue) ThrowWrongType("memberValue", type_);
  if (index >= size()) ThrowOutOfRange("memberValue", std::to_string(index));
  return AsObject(u_.node_)->members[index].value;
}

std::vector<std::string> Value::getMemberNames() const {
  std::vector<std::string> names;
  if (type_ != objectValue || u_.node_ == nullptr) return names;
  const auto& members = AsObject(u_.node_)->members;
  names.reserve(members.size());
  for (const Member& member : members) names.push_back(member.name);
  return names;
}

// ---- comparison ---------------------------------------------------------------------------

bool Value::operator==(const Value& other) const {
  if (type_ == intValue && other.type_ == uintValue) {
    return u_.int_ >= 0 && static_cast<std::uint64_t>(u_.int_) == other.u_.uint_;
  }
  if (type_ == uintValue && other.type_ == intValue) return other == *this;
  if (type_ != other.type_) return false;
  switch (type_) {
    case nullValue:
      return true;
    case booleanValue:
      return u_.bool_ == other.u_.bool_;
    case intValue:
      return u_.int_ == other.u_.int_;
    case uintValue:
      return u_.uint_ == other.u_.uint_;
    case realValue:
      return u_.real_ == other.u_.real_;
    case stringValue:
      return stringView() == other.stringView();
    default:
      break;
  }
  if (u_.node_ == other.u_.node_) return true;
  if (size() != other.size()) return false;
  if (type_ == arrayValue) {
    const auto& mine = AsArray(u_.node_)->items;
    return std::equal(mine.begin(), mine.end(), AsArray(other.u_.node_)->items.begin());
  }
  // Objects: the same members with equal values, in any order.
  const auto& mine = AsObject(u_.node_)->members;
  const auto& theirs = AsObject(other.u_.node_)->members;
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (detail::SameName(theirs[i].name, mine[i].name)) {
      if (theirs[i].value != mine[i].value) return false;
      continue;
    }
    const Value* match = other.find(mine[i].name);
    if (match == nullptr || *match != mine[i].value) return false;
  }
  return true;
}

bool Value::sharesStorageWith(const Value& other) const {
  return Node::HasNode(type_) && type_ == other.type_ && u_.node_ != nullptr &&
         u_.node_ == other.u_.node_;
}

}  // namespace Json
}  // namespace quim
