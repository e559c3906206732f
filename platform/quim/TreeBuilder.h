// The tree builder behind both of quim::Json's readers (FastReader.cpp and Reader.cpp): they
// make the same calls to it for a text they both read, so the tree does not depend on which one
// read it.
//
// The tree is built bottom-up: values (and, inside objects, names and values in turn) go on a
// stack, and the end of a container moves its elements into a node of exactly the right size.
// The stack grows in blocks that are never moved, so reading an answer holds at its peak the
// text, the tree, and once more the elements of the container being closed; small containers
// and strings come out of slabs (SlabCarver), at their own size. Peak resident memory stays under
// 10 times the text for every shape (bench/QuimMemory.cpp measures it; a tree of one-element arrays
// nested deep is the largest, about 8 bytes of tree per byte of text).
#ifndef QUIM_TREEBUILDER_H
#define QUIM_TREEBUILDER_H

#include <rapidjson/rapidjson.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "Node.h"
#include "NumberText.h"

namespace quim {
namespace Json {
namespace detail {

using A = Value::Access;

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

}  // namespace detail
}  // namespace Json
}  // namespace quim

#endif  // QUIM_TREEBUILDER_H
