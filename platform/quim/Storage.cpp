// quim::Json storage: the nodes behind long strings, large integers, arrays and objects; sharing,
// copying one level before a write, growth, and the member search (see Node.h).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "Node.h"

namespace quim {
namespace Json {

using A = Value::Access;

namespace {

void* NodeMemory(std::size_t values) {
  if (values > kMaxElements * std::size_t{2}) throw std::length_error("quim::Json: too large");
  return ::operator new(sizeof(Node) + values * sizeof(Value));
}

// Room of a growable node of size elements: the next power of two, at least 4.
std::uint32_t Capacity(std::uint32_t size) {
  std::uint32_t capacity = 4;
  while (capacity < size) capacity *= 2;
  return capacity;
}

// A slab: this header, then lines of kLine bytes, each starting with a pointer to the header
// (so that a node finds its slab from its own address) and holding nodes that never cross into
// the next line. The first line starts at the first multiple of kLine in the block, the last
// one ends with the block. The first slab of a parse is small enough for the allocator's
// per-thread cache (a small answer takes one), the next ones double up to kLargestSlab.
constexpr std::size_t kLine = 512;
constexpr std::size_t kFirstSlab = 1008;
constexpr std::size_t kLargestSlab = 64 * 1024;
static_assert(kFirstSlab >= kLine + sizeof(void*) + SlabCarver::kMostInSlab,
              "the first slab holds a node whatever its address");

}  // namespace

struct SlabCarver::Slab {
  // Nodes carved and not yet released, plus kHeld while the carver still carves from it (the
  // carver counts its nodes itself and adds them when it leaves: one atomic write per slab).
  static constexpr std::uint32_t kHeld = 1u << 31;
  std::atomic<std::uint32_t> live{kHeld};
};

namespace {

// Returns a node's memory to the slab it was carved from.
void FreeToSlab(Node* node) noexcept {
  const auto line = reinterpret_cast<std::uintptr_t>(node) & ~std::uintptr_t{kLine - 1};
  SlabCarver::Slab* slab;
  std::memcpy(&slab, reinterpret_cast<const void*>(line), sizeof slab);  // as the carver put it
  node->~Node();
  if (slab->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    slab->~Slab();
    ::operator delete(static_cast<void*>(slab));
  }
}

// Returns a container node's memory: to its slab, or to the heap.
void FreeContainer(Node* node) noexcept {
  if ((node->word & kInSlab) != 0) return FreeToSlab(node);
  node->~Node();
  ::operator delete(static_cast<void*>(node));
}

// Whether the holder of one reference to node held the last one (see Unref), and so must free it.
inline bool DropReference(Node* node) noexcept {
  return (node->refs.load(std::memory_order_acquire) & ~kStringInSlab) == 1 ||
         (node->refs.fetch_sub(1, std::memory_order_acq_rel) & ~kStringInSlab) == 1;
}

// Frees a string or number node (nothing below it).
void FreeLeaf(Node* node) noexcept {
  if ((node->refs.load(std::memory_order_relaxed) & kStringInSlab) != 0) return FreeToSlab(node);
  node->~Node();
  ::operator delete(static_cast<void*>(node));
}

void Destroy(A::Tag tag, Node* node) noexcept {
  if (tag != A::kArray && tag != A::kObject) return FreeLeaf(node);
  Value* elements = A::Elements(node);
  const std::uint32_t values = A::Size(node) * (tag == A::kObject ? 2 : 1);
  for (std::uint32_t i = 0; i < values; ++i) {
    // ~Value without the calls; a string or number element is freed here, as it has nothing
    // below it (the number node's count has no slab flag).
    const std::uint64_t bits = A::Bits(elements[i]);
    if (!A::HoldsNode(bits)) continue;
    const A::Tag elementTag = A::TagOf(bits);
    if (elementTag == A::kArray || elementTag == A::kObject) {
      Unref(bits);
      continue;
    }
    Node* leaf = reinterpret_cast<Node*>(static_cast<std::uintptr_t>(bits & A::kPayload));
    if (DropReference(leaf)) FreeLeaf(leaf);
  }
  FreeContainer(node);
}

// A new node with copies of the first `values` values of elements, for `room` values; the
// copies share their own nodes.
Node* CopyInto(const Value* elements, std::uint32_t values, std::size_t room) {
  Node* node = new (NodeMemory(room)) Node;
  Value* copies = A::Elements(node);
  std::uint32_t made = 0;
  try {
    for (; made < values; ++made) new (copies + made) Value(elements[made]);
  } catch (...) {
    while (made > 0) copies[--made].~Value();
    ::operator delete(static_cast<void*>(node));
    throw;  // the failure passes on; nothing of the copy is left behind
  }
  return node;
}

}  // namespace

Value MakeString(const char* data, std::size_t size) {
  if (size == 0) return A::FromBits(A::Make(A::kSpecial, A::kEmptyString));
  if (size <= A::kShortMax) {
    std::uint64_t bits =
        size == 6 ? A::Make(A::kSixBytes, 0) : A::Make(A::kShortString, std::uint64_t{size} << 40);
    // The first payload bytes, little-endian; a loop rather than a call for at most six bytes.
    for (std::size_t i = 0; i < size; ++i) {
      bits |= std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
    }
    return A::FromBits(bits);
  }
  if (size > 0xFFFFFFFFu) throw std::length_error("quim::Json: string too long");
  Node* node = new (::operator new(sizeof(Node) + size)) Node;
  node->word = static_cast<std::uint32_t>(size);
  std::memcpy(static_cast<void*>(A::Elements(node)), data, size);
  return A::Adopt(A::kString, node);
}

// A count of 1 seen by its holder cannot change under it (no other Value refers to the node),
// which spares the atomic write when a tree that was never shared is destroyed. The flag of a
// string carved out of a slab sits above the count and is left out of both comparisons.
void Unref(std::uint64_t bits) noexcept {
  Node* node = reinterpret_cast<Node*>(static_cast<std::uintptr_t>(bits & A::kPayload));
  if (DropReference(node)) Destroy(A::TagOf(bits), node);
}

Node* NewContainer(std::uint32_t count, std::uint32_t valuesPerElement) {
  if (count > kMaxElements) throw std::length_error("quim::Json: too many elements");
  Node* node = new (NodeMemory(std::size_t{count} * valuesPerElement)) Node;
  node->word = count;
  return node;
}

Node* WritableContainer(Value& value, std::uint32_t room, std::uint32_t valuesPerElement) {
  if (room > kMaxElements) throw std::length_error("quim::Json: too many elements");
  const A::Tag tag = valuesPerElement == 1 ? A::kArray : A::kObject;
  Node* node = A::NodeOf(value);
  const std::uint32_t size = node != nullptr ? A::Size(node) : 0;
  const bool alone = node != nullptr && node->refs.load(std::memory_order_acquire) == 1;
  if (alone) {
    const std::uint32_t capacity = (node->word & kGrowable) != 0 ? Capacity(size) : size;
    if (room <= capacity) {
      node->word |= kUnshareable;
      return node;
    }
  }
  const std::size_t values = std::size_t{Capacity(room)} * valuesPerElement;
  Node* grown;
  if (alone) {
    // Values move by their bits: the old node's memory goes without running their destructors.
    grown = new (NodeMemory(values)) Node;
    std::memcpy(static_cast<void*>(A::Elements(grown)), A::Elements(node),
                std::size_t{size} * valuesPerElement * sizeof(Value));
    FreeContainer(node);
  } else {
    grown =
        CopyInto(node != nullptr ? A::Elements(node) : nullptr, size * valuesPerElement, values);
    if (node != nullptr) Unref(A::Bits(value));
  }
  grown->word = size | kGrowable | kUnshareable;
  A::Bits(value) = A::Make(tag, reinterpret_cast<std::uintptr_t>(grown));
  return grown;
}

// Copy constructor of Value for a node marked unshareable: a fresh, shareable copy of one level.
Value CopyUnshareable(const Value& value) {
  const Node* node = A::NodeOf(value);
  const A::Tag tag = A::TagOf(A::Bits(value));
  const std::uint32_t size = A::Size(node);
  Node* copy = CopyInto(A::Elements(node), size * (tag == A::kObject ? 2 : 1),
                        std::size_t{size} * (tag == A::kObject ? 2 : 1));
  copy->word = size;
  return A::Adopt(tag, copy);
}

std::uint32_t FindMember(const Node* object, std::string_view name) {
  const std::uint32_t size = A::Size(object);
  const Value* pairs = A::Elements(object);
  if (name.size() <= A::kShortMax) {  // see SameName
    const std::uint64_t wanted = A::Bits(MakeString(name.data(), name.size()));
    for (std::uint32_t i = 0; i < size; ++i) {
      if (A::Bits(pairs[2 * i]) == wanted) return i;
    }
    return size;
  }
  for (std::uint32_t i = 0; i < size; ++i) {
    if (NodeHolds(A::NodeOf(pairs[2 * i]), name)) return i;
  }
  return size;
}

void SlabCarver::NextLine(std::size_t bytes) {
  const auto lineAfter = [](const void* p) {
    return reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(p) + kLine - 1) &
                                   ~std::uintptr_t{kLine - 1});
  };
  char* line = lineAfter(next_);
  if (slab_ == nullptr || line + sizeof slab_ + bytes > end_) {
    nextSize_ = nextSize_ == 0 ? kFirstSlab : std::min(2 * nextSize_, kLargestSlab);
    void* memory = ::operator new(nextSize_);
    Leave();
    slab_ = new (memory) Slab;
    end_ = static_cast<char*>(memory) + nextSize_;
    line = lineAfter(static_cast<char*>(memory) + sizeof(Slab));
  }
  std::memcpy(line, &slab_, sizeof slab_);
  next_ = line + sizeof slab_;
  lineEnd_ = std::min(line + kLine, end_);
}

void SlabCarver::Leave() noexcept {
  if (slab_ == nullptr) return;
  const std::uint32_t release = Slab::kHeld - carved_;
  if (slab_->live.fetch_sub(release, std::memory_order_acq_rel) == release) {
    slab_->~Slab();
    ::operator delete(static_cast<void*>(slab_));
  }
  slab_ = nullptr;
  carved_ = 0;
}

}  // namespace Json
}  // namespace quim
