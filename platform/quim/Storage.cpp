// quim::Json storage: the nodes behind long strings, large integers, arrays and objects; sharing,
// copying one level before a write, growth, and the member search (see Node.h).
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

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

void Destroy(A::Tag tag, Node* node) noexcept {
  if (tag == A::kArray || tag == A::kObject) {
    Value* elements = A::Elements(node);
    const std::uint32_t values = A::Size(node) * (tag == A::kObject ? 2 : 1);
    for (std::uint32_t i = 0; i < values; ++i) elements[i].~Value();
  }
  node->~Node();
  ::operator delete(static_cast<void*>(node));
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

std::string_view NameOf(const Value& name) { return name.stringView(); }

// Member names compare without being read out: a string of up to six bytes is only ever held in
// its value (MakeString makes every string), so two such names are equal exactly when their bits
// are, and a longer name is a string node (NodeHolds).
bool SameName(const Value& a, const Value& b) {
  if (A::Bits(a) == A::Bits(b)) return true;
  const Node* second = A::NodeOf(b);
  return second != nullptr &&
         NodeHolds(A::NodeOf(a), std::string_view(A::Bytes(second), second->word));
}

}  // namespace

Value MakeString(const char* data, std::size_t size) {
  if (size == 0) return A::FromBits(A::Make(A::kSpecial, A::kEmptyString));
  if (size <= A::kShortMax) {
    std::uint64_t bits =
        size == 6 ? A::Make(A::kSixBytes, 0) : A::Make(A::kShortString, std::uint64_t{size} << 40);
    std::memcpy(&bits, data, size);  // the first payload bytes, little-endian
    return A::FromBits(bits);
  }
  if (size > 0xFFFFFFFFu) throw std::length_error("quim::Json: string too long");
  Node* node = new (::operator new(sizeof(Node) + size)) Node;
  node->word = static_cast<std::uint32_t>(size);
  std::memcpy(static_cast<void*>(A::Elements(node)), data, size);
  return A::Adopt(A::kString, node);
}

// A count of 1 seen by its holder cannot change under it (no other Value refers to the node),
// which spares the atomic write when a tree that was never shared is destroyed.
void Unref(std::uint64_t bits) noexcept {
  Node* node = reinterpret_cast<Node*>(static_cast<std::uintptr_t>(bits & A::kPayload));
  if (node->refs.load(std::memory_order_acquire) == 1 ||
      node->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    Destroy(A::TagOf(bits), node);
  }
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
    node->~Node();
    ::operator delete(static_cast<void*>(node));
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

std::uint32_t MergeDuplicateMembers(Value* pairs, std::uint32_t count) {
  constexpr std::uint32_t kSmall = 16;
  auto same = [pairs](std::uint32_t a, std::uint32_t b) {
    return SameName(pairs[2 * a], pairs[2 * b]);
  };
  // first[i]: the first member with member i's name.
  std::vector<std::uint32_t> first;
  bool any = false;
  if (count <= kSmall) {
    for (std::uint32_t i = 1; i < count && !any; ++i) {
      for (std::uint32_t j = 0; j < i && !any; ++j) any = same(i, j);
    }
    if (!any) return count;
    first.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      first[i] = i;
      for (std::uint32_t j = 0; j < i; ++j) {
        if (same(i, j)) {
          first[i] = j;
          break;
        }
      }
    }
  } else {
    // Sorting by name puts equal names next to each other, in their order of appearance.
    first.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) first[i] = i;
    std::vector<std::uint32_t> order(first);
    std::stable_sort(order.begin(), order.end(), [pairs](std::uint32_t a, std::uint32_t b) {
      return NameOf(pairs[2 * a]) < NameOf(pairs[2 * b]);
    });
    for (std::uint32_t k = 1; k < count; ++k) {
      if (same(order[k], order[k - 1])) {
        first[order[k]] = first[order[k - 1]];
        any = true;
      }
    }
    if (!any) return count;
  }
  // Members move up over the dropped ones; a later duplicate's value replaces its first's.
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (first[i] != i) {
      pairs[2 * first[first[i]] + 1] = std::move(pairs[2 * i + 1]);
      continue;
    }
    if (kept != i) {
      pairs[2 * kept] = std::move(pairs[2 * i]);
      pairs[2 * kept + 1] = std::move(pairs[2 * i + 1]);
    }
    first[i] = kept++;  // from here on: the new position of a kept member
  }
  return kept;
}

}  // namespace Json
}  // namespace quim
