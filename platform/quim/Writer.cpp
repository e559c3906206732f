// quim::Json writing: our tree through rapidjson's compact Writer.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>

#include "JsonNode.h"

namespace quim {
namespace Json {
namespace {

using Output = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteValue(Output& out, const Value& value) {
  switch (value.type()) {
    case nullValue:
      out.Null();
      break;
    case booleanValue:
      out.Bool(value.asBool());
      break;
    case intValue:
      out.Int64(value.asInt64());
      break;
    case uintValue:
      out.Uint64(value.asUInt64());
      break;
    case realValue: {
      double real = value.asDouble();
      if (std::isfinite(real)) {
        out.Double(real);
      } else {
        out.Null();
      }
      break;
    }
    case stringValue: {
      std::string_view text = value.stringView();
      out.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      break;
    }
    case arrayValue: {
      out.StartArray();
      const Value::Node* node = Value::Node::Of(value);
      if (node != nullptr) {
        for (const Value& item : static_cast<const detail::ArrayNode*>(node)->items) {
          WriteValue(out, item);
        }
      }
      out.EndArray();
      break;
    }
    case objectValue: {
      out.StartObject();
      const Value::Node* node = Value::Node::Of(value);
      if (node != nullptr) {
        for (const detail::Member& member : static_cast<const detail::ObjectNode*>(node)->members) {
          out.Key(member.name.data(), static_cast<rapidjson::SizeType>(member.name.size()));
          WriteValue(out, member.value);
        }
      }
      out.EndObject();
      break;
    }
  }
}

}  // namespace

namespace detail {

// The same routine as the Writer's, so asString and Write agree.
std::string DoubleText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buffer[32];
  char* end = rapidjson::internal::dtoa(value, buffer);
  return std::string(buffer, end);
}

}  // namespace detail

std::string Write(const Value& root) {
  rapidjson::StringBuffer buffer;
  Output out(buffer);
  WriteValue(out, root);
  return std::string(buffer.GetString(), buffer.GetSize());
}

FastWriter::FastWriter() = default;
FastWriter::~FastWriter() = default;
std::string FastWriter::write(const Value& root) { return Write(root); }

}  // namespace Json
}  // namespace quim
