// quim::Json parsing: rapidjson's SAX Reader feeding our own tree.
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <utility>

#include "JsonNode.h"

namespace quim {
namespace Json {
namespace {

using detail::ArrayNode;
using detail::ObjectNode;

// Strict JSON, UTF-8 checked, doubles to full precision; the iterative parser keeps deep input
// off the machine stack.
constexpr unsigned kParseFlags = rapidjson::kParseValidateEncodingFlag |
                                 rapidjson::kParseFullPrecisionFlag |
                                 rapidjson::kParseIterativeFlag;

// Builds the tree bottom-up as rapidjson's own Document does: values and member names go on
// stacks, and the end of a container moves its elements into a node of exactly the right size.
class TreeBuilder {
 public:
  TreeBuilder() {
    values_.reserve(64);
    names_.reserve(32);
  }

  bool Null() { return Push(Value()); }
  bool Bool(bool value) { return Push(Value(value)); }
  bool Int(int value) { return Push(Value(value)); }
  bool Uint(unsigned value) { return Push(Value(value)); }
  bool Int64(std::int64_t value) { return Push(Value(static_cast<long long>(value))); }
  bool Uint64(std::uint64_t value) { return Push(Value(static_cast<unsigned long long>(value))); }
  bool Double(double value) { return Push(Value(value)); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not enabled
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return Push(Value(std::string_view(text, length)));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    names_.emplace_back(text, length);
    return true;
  }

  bool StartObject() { return Enter(); }
  bool StartArray() { return Enter(); }

  bool EndArray(rapidjson::SizeType count) {
    --depth_;
    if (count == 0) return Push(Value(arrayValue));
    auto* node = new ArrayNode;
    Value array = Value::Node::Adopt(arrayValue, node);  // owns node from here on
    auto first = values_.end() - count;
    node->items.assign(std::make_move_iterator(first), std::make_move_iterator(values_.end()));
    values_.erase(first, values_.end());
    return Push(std::move(array));
  }

  bool EndObject(rapidjson::SizeType count) {
    --depth_;
    if (count == 0) return Push(Value(objectValue));
    auto* node = new ObjectNode;
    Value object = Value::Node::Adopt(objectValue, node);
    node->members.reserve(count);
    auto name = names_.end() - count;
    auto value = values_.end() - count;
    // A duplicate name keeps its first position and takes the last value.
    for (; name != names_.end(); ++name, ++value) node->Slot(std::move(*name)) = std::move(*value);
    names_.erase(names_.end() - count, names_.end());
    values_.erase(values_.end() - count, values_.end());
    return Push(std::move(object));
  }

  bool depthExceeded() const { return depthExceeded_; }
  Value TakeRoot() { return std::move(values_.back()); }

 private:
  bool Push(Value&& value) {
    values_.push_back(std::move(value));
    return true;
  }
  bool Enter() {
    if (++depth_ > kMaxDepth) {
      depthExceeded_ = true;
      return false;
    }
    return true;
  }

  std::vector<Value> values_;
  std::vector<std::string> names_;
  int depth_ = 0;
  bool depthExceeded_ = false;
};

}  // namespace

CharReader::~CharReader() = default;

bool CharReader::parse(const char* begin, const char* end, Value* root, std::string* errs) {
  auto size = static_cast<std::size_t>(end - begin);
  rapidjson::MemoryStream stream(begin, size);
  rapidjson::Reader reader;
  TreeBuilder builder;
  rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, builder);
  std::size_t offset = result.Offset();
  std::string message;
  if (builder.depthExceeded()) {
    message = "Nesting deeper than " + std::to_string(kMaxDepth) + " levels.";
  } else if (result.IsError()) {
    message = rapidjson::GetParseError_En(result.Code());
  } else if (stream.Tell() != size) {
    // rapidjson stops at a NUL byte as if the input ended there.
    message = rapidjson::GetParseError_En(rapidjson::kParseErrorDocumentRootNotSingular);
    offset = stream.Tell();
  }
  if (!message.empty()) {
    if (root != nullptr) *root = Value();
    if (errs != nullptr) *errs = message + " at offset " + std::to_string(offset);
    return false;
  }
  if (root != nullptr) *root = builder.TakeRoot();
  if (errs != nullptr) errs->clear();
  return true;
}

CharReaderBuilder::CharReaderBuilder() = default;
CharReaderBuilder::~CharReaderBuilder() = default;
CharReader* CharReaderBuilder::newCharReader() const { return new CharReader; }

bool Parse(std::string_view text, Value& root, std::string* errs) {
  return CharReader().parse(text.data(), text.data() + text.size(), &root, errs);
}

}  // namespace Json
}  // namespace quim
