// Alarm, PTZ and recording operations: alarm device contacts, PTZ trails, remote record start.
#include <utility>

#include "APICommon.h"
#include "public/Corvane.h"

namespace Corvane {
namespace {

using quim::Json::Value;

const char kAlarmContactsPath[] =
    "/vusk/api/v1.1/alarm/record/contact/detail?alarmCode=%s&alarmDate=%lld";
const char kPtzTrailListPath[] = "/vusk/api/v1.1/ptz/channel/%s/trail/list";
const char kStartRecordPath[] = "/admin/API/SS/Record/StartRecord";

}  // namespace

int API_GetAlarmDeviceContacts(const std::string& alarmCode, long long alarmDate, const int& handle,
                               std::vector<DeviceContactInfo>& contacts) {
  RequestCycle cycle("GET", kAlarmContactsPath, alarmCode.c_str(), alarmDate);
  return cycle.SendAndRead(handle, [&](const Value& data) {
    AppendResults(data, contacts, [](const Value& element) {
      DeviceContactInfo source;
      source.sourceName = GetStringField(element, "sourceName");
      source.devicePosition = GetStringField(element, "devicePosition");
      const Value deviceContacts = GetMemberOrNull(element, "deviceContacts");
      if (IsNonNullArray(deviceContacts)) {
        for (Value::ArrayIndex j = 0; j < deviceContacts.size(); ++j) {
          const Value& item = deviceContacts[j];
          ContactInfo contact;
          contact.contactName = GetStringField(item, "contactName");
          contact.contactPhone = GetStringField(item, "contactPhone");
          contact.contactEmail = GetStringField(item, "contactEmail");
          contact.contactNote = GetStringField(item, "contactNote");
          source.deviceContacts.push_back(std::move(contact));
        }
      }
      return source;
    });
  });
}

int API_GetPtzTrailList(const std::string& channelId, const int& handle,
                        std::vector<PtzTrailInfo>& trails) {
  RequestCycle cycle("GET", kPtzTrailListPath, channelId.c_str());
  return cycle.SendAndRead(handle, [&](const Value& data) {
    AppendResults(data, trails, [](const Value& element) {
      PtzTrailInfo trail;
      trail.trailId = GetStringField(element, "trailId");
      trail.trailName = GetStringField(element, "trailName");
      return trail;
    });
  });
}

int API_StartRemoteRecord(const StartRemoteRecordReq& request, StartRemoteRecordRsp& result) {
  RequestCycle cycle("POST", kStartRecordPath);
  Value body = RequestCycle::IdentityBody();
  Value& data = body["data"];
  data["streamType"] = Value(request.streamType);
  data["duration"] = Value(request.duration);
  data["channelId"] = Value(request.channelId);
  cycle.SetBody(std::move(body));
  return cycle.SendAndRead(request.handle, [&](const Value& data) {
    result.planId = GetIntField(data, "planId", 0);
    result.now = GetInt64Field(data, "now", 0);
  });
}

}  // namespace Corvane
