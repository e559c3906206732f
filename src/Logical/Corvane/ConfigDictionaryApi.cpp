// Configuration and dictionary operations: POS playback time, POS event names, dictionary
// mappings.
#include <climits>
#include <cstdlib>

#include "APICommon.h"
#include "public/Corvane.h"

namespace Corvane {
namespace {

using quim::Json::Value;

const char kPosConfigPath[] = "vusk/api/v1.1/config/pos";
const char kPosEventDictionaryPath[] = "/vusk/api/v1.1/dictionary/list?types=9052";
const char kDictionaryMapperPath[] = "/vusk/api/v1.1/config/dictionary-mapper?type=%d";

// The C library's lenient conversion: leading blanks, sign and digits, else 0. Out of the int
// range it saturates instead of leaving the result undefined.
int LenientAtoi(const std::string& text) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

int API_GetPosConfig(int handle, int& playbackTime) {
  RequestCycle cycle("GET", kPosConfigPath);
  return cycle.SendAndRead(handle, [&](const Value& data) {
    playbackTime = LenientAtoi(GetStringField(data, "posPlaybackTime"));
  });
}

int API_GetPosEventTranslate(int handle, std::map<int, std::string>& names) {
  RequestCycle cycle("GET", kPosEventDictionaryPath);
  return cycle.SendAndRead(handle, [&](const Value& data) {
    ForEachResult(data, [&](const Value& group) {
      // "items" is not type-checked: a missing, null or scalar one has size 0; an object with
      // members makes the value model's index access throw quim::Json::Error.
      const Value items = GetMemberOrNull(group, "items");
      for (Value::ArrayIndex j = 0; j < items.size(); ++j) {
        const Value& item = items[j];
        int code = StoiBase10(GetStringField(item, "code"));
        names[code] = GetStringField(item, "name").c_str();  // kept up to its first NUL
      }
    });
  });
}

int API_QueryDictionaryMapper(const int& handle, const int& type, std::map<int, int>& mapping) {
  RequestCycle cycle("GET", kDictionaryMapperPath, type);
  return cycle.SendAndRead(handle, [&](const Value& data) {
    ForEachResult(data, [&](const Value& element) {
      int key = StoiBase10(GetStringField(element, "key"));
      int value = StoiBase10(GetStringField(element, "value"));
      mapping[key] = value;
    });
  });
}

}  // namespace Corvane
