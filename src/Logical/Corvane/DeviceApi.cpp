// Device operations: AI privacy switch, device and channel web enablement, picture download.
#include <cstring>

#include "APICommon.h"
#include "public/Corvane.h"

namespace Corvane {
namespace {

using quim::Json::Value;

const char kAIPrivacyPath[] = "/vusk/api/v1.1/config/ai/privacy";
const char kWebEnablementPath[] = "/vusk/api/v1.1/device/%s/web/enablement";
const char kChannelWebEnablementPath[] = "/vusk/api/v1.1/device/channel/%s/web/enablement";
const char kDevicePicturePath[] = "/vusk/api/v1.1/common/request/picture/%s";

int ReadWebEnablement(const char* pathFormat, const std::string& id, bool& enabled, int handle) {
  RequestCycle cycle("GET", pathFormat, id.c_str());
  return cycle.SendAndRead(
      handle, [&](const Value& data) { enabled = GetIntField(data, "enableWeb", 0) != 0; });
}

}  // namespace

int API_GetAIPrivacyConfig(const int& handle, int& enable) {
  RequestCycle cycle("GET", kAIPrivacyPath);
  return cycle.SendAndRead(handle,
                           [&](const Value& data) { enable = GetIntField(data, "enable", 0); });
}

int API_GetWebEnablement(const std::string& deviceId, bool& enabled, int handle) {
  return ReadWebEnablement(kWebEnablementPath, deviceId, enabled, handle);
}

int API_GetChannelWebEnablement(const std::string& channelId, bool& enabled, int handle) {
  return ReadWebEnablement(kChannelWebEnablementPath, channelId, enabled, handle);
}

int API_DownloadDevicePicture(const int& handle, const DownloadDevicePicReq& request,
                              DownloadDevicePicResp& result) {
  RequestCycle cycle("GET", kDevicePicturePath, request.pictureId.c_str());
  int status = cycle.Send(handle);
  const RestResponse& response = cycle.Response();
  if (status != 0 || response.answer == nullptr) return status;
  // A negative length cannot be a picture: report the answer as unreadable.
  if (response.answerLength < 0) return cycle.Unreadable();
  long long length = response.answerLength;
  char* picture = new char[static_cast<std::size_t>(length)];
  if (length > 0) std::memcpy(picture, response.answer, static_cast<std::size_t>(length));
  result.pictureData = picture;
  result.pictureLength = length;
  result.tag = request.tag;
  return 0;
}

}  // namespace Corvane
