// quim::Json::Value: arrays and objects, their elements and members, and iteration.
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "Node.h"

namespace quim {
namespace Json {

using A = Value::Access;

namespace {

const Value& NullValue() {
  static const Value null;
  return null;
}

}  // namespace

// ---- arrays -------------------------------------------------------------------------------

Value::ArrayIndex Value::size() const {
  const A::Tag tag = A::TagOf(bits_);
  return A::Tagged(bits_) && (tag == A::kArray || tag == A::kObject) ? A::Count(*this) : 0;
}

Value& Value::operator[](ArrayIndex index) {
  if (isNull()) bits_ = Special(A::kEmptyArray);
  if (type() != arrayValue) ThrowWrongType("operator[](index)", type());
  const std::uint32_t size = A::Count(*this);
  if (index >= size && index >= kMaxElements) ThrowOutOfRange("operator[](index)", "index");
  Node* node = WritableContainer(*this, index >= size ? index + 1 : size, 1);
  for (std::uint32_t i = size; i <= index; ++i) new (A::Elements(node) + i) Value();
  if (index >= size) node->word = (node->word & ~kMaxElements) | (index + 1);
  return A::Elements(node)[index];
}

Value& Value::operator[](int index) {
  if (index < 0) ThrowOutOfRange("operator[](index)", std::to_string(index));
  return (*this)[static_cast<ArrayIndex>(index)];
}

const Value& Value::operator[](ArrayIndex index) const {
  if (type() != arrayValue) ThrowWrongType("operator[](index) const", type());
  if (index >= size()) ThrowOutOfRange("operator[](index) const", std::to_string(index));
  return A::Elements(A::NodeOf(*this))[index];
}

const Value& Value::operator[](int index) const {
  if (index < 0) ThrowOutOfRange("operator[](index) const", std::to_string(index));
  return (*this)[static_cast<ArrayIndex>(index)];
}

Value& Value::append(const Value& value) { return append(Value(value)); }

Value& Value::append(Value&& value) {
  Value item(std::move(value));  // first, in case value lives in this array
  if (isNull()) bits_ = Special(A::kEmptyArray);
  if (type() != arrayValue) ThrowWrongType("append", type());
  const std::uint32_t size = A::Count(*this);
  Node* node = WritableContainer(*this, size + 1, 1);
  Value* slot = new (A::Elements(node) + size) Value(std::move(item));
  node->word += 1;
  return *slot;
}

void Value::reserve(ArrayIndex count) {
  if (isNull()) bits_ = Special(A::kEmptyArray);
  if (type() != arrayValue) ThrowWrongType("reserve", type());
  if (count > A::Count(*this)) WritableContainer(*this, count, 1);
}

// ---- objects ------------------------------------------------------------------------------

Value& Value::operator[](const char* name) {
  return writableMember(name == nullptr ? std::string_view() : std::string_view(name));
}

Value& Value::operator[](const std::string& name) { return writableMember(name); }

Value& Value::writableMember(std::string_view name) {
  if (isNull()) bits_ = Special(A::kEmptyObject);
  if (type() != objectValue) ThrowWrongType("operator[](name)", type());
  const Node* current = A::NodeOf(*this);
  const std::uint32_t size = A::Count(*this);
  const std::uint32_t position = current != nullptr ? FindMember(current, name) : 0;
  // The name is made before the object changes.
  Value key = position == size ? MakeString(name.data(), name.size()) : Value();
  Node* node = WritableContainer(*this, position == size ? size + 1 : size, 2);
  Value* pairs = A::Elements(node);
  if (position == size) {
    new (pairs + 2 * size) Value(std::move(key));
    new (pairs + 2 * size + 1) Value();
    node->word += 1;
  }
  return pairs[2 * position + 1];
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
  if (!A::Tagged(bits_) || A::TagOf(bits_) != A::kObject) return nullptr;
  const Node* node = A::NodeOf(*this);
  const std::uint32_t position = FindMember(node, name);
  return position == A::Size(node) ? nullptr : &A::Elements(node)[2 * position + 1];
}

bool Value::removeMember(const std::string& name) {
  if (find(name) == nullptr) return false;
  Node* node = WritableContainer(*this, A::Count(*this), 2);
  const std::uint32_t size = A::Size(node);
  Value* pairs = A::Elements(node);
  for (std::uint32_t i = FindMember(node, name); i + 1 < size; ++i) {
    pairs[2 * i] = std::move(pairs[2 * i + 2]);
    pairs[2 * i + 1] = std::move(pairs[2 * i + 3]);
  }
  pairs[2 * size - 2].~Value();
  pairs[2 * size - 1].~Value();
  node->word -= 1;
  if (size == 1) {  // back to the empty object, which holds no node
    Unref(bits_);
    bits_ = Special(A::kEmptyObject);
  }
  return true;
}

std::string_view Value::memberName(ArrayIndex index) const {
  if (type() != objectValue) ThrowWrongType("memberName", type());
  if (index >= size()) ThrowOutOfRange("memberName", std::to_string(index));
  return A::Elements(A::NodeOf(*this))[2 * index].stringView();
}

const Value& Value::memberValue(ArrayIndex index) const {
  if (type() != objectValue) ThrowWrongType("memberValue", type());
  if (index >= size()) ThrowOutOfRange("memberValue", std::to_string(index));
  return A::Elements(A::NodeOf(*this))[2 * index + 1];
}

std::vector<std::string> Value::getMemberNames() const {
  std::vector<std::string> names;
  if (type() != objectValue) return names;
  names.reserve(size());
  for (ArrayIndex i = 0; i < size(); ++i) names.emplace_back(memberName(i));
  return names;
}

// An array's elements lie one after the other in its node, an object's names and values in turn.
Value::const_iterator Value::begin() const {
  const Node* node = A::NodeOf(*this);
  const A::Tag tag = A::TagOf(bits_);
  if (node == nullptr || (tag != A::kArray && tag != A::kObject)) return {};
  return tag == A::kArray ? const_iterator(A::Elements(node), 1)
                          : const_iterator(A::Elements(node) + 1, 2);
}

Value::const_iterator Value::end() const {
  const_iterator at = begin();
  if (at.at_ != nullptr) at.at_ += at.step_ * static_cast<std::ptrdiff_t>(A::Count(*this));
  return at;
}

}  // namespace Json
}  // namespace quim
