// Writing one member of a JSON object, name and value, with rapidjson's writer: what the
// platform's answers and the control endpoint's reports are made of.
#ifndef CORVANE_MOCK_JSONPUT_H
#define CORVANE_MOCK_JSONPUT_H

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>

namespace corvane::mock {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

inline void PutString(JsonWriter& w, const char* key, const std::string& value) {
  w.Key(key);
  w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

inline void PutInt(JsonWriter& w, const char* key, std::int64_t value) {
  w.Key(key);
  w.Int64(value);
}

inline void PutUint(JsonWriter& w, const char* key, std::uint64_t value) {
  w.Key(key);
  w.Uint64(value);
}

inline void PutBool(JsonWriter& w, const char* key, bool value) {
  w.Key(key);
  w.Bool(value);
}

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_JSONPUT_H
