#include "Runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "Credentials.h"
#include "Text.h"
#include "quim/Vantrix.h"
#include "zenta/ZentaSdk.h"

namespace corvane_cli {
namespace {

using quim::Json::Value;

// What the library logged on this thread during the current call (CaptureLibraryLog).
thread_local std::string libraryNote;

// Columns a text takes on a terminal: UTF-8 continuation bytes take none.
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

void SetSingle(Outcome& outcome, const std::string& name, const Value& value) {
  outcome.table = {{name}, {{value.asString()}}};
  outcome.json = Value(quim::Json::objectValue);
  outcome.json[name.c_str()] = value;
  outcome.summary = name + " = " + value.asString();
}

}  // namespace

Outcome Timed(const char* operation, const std::function<int()>& call) {
  Outcome outcome;
  outcome.operation = operation;
  libraryNote.clear();
  auto start = std::chrono::steady_clock::now();
  outcome.status = call();
  outcome.milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  outcome.serverMessage = Corvane::LastServerMessage();
  outcome.libraryNote = std::move(libraryNote);
  return outcome;
}

std::string Plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// The platform answers a refused credential in JSON with the HTTP status times ten as its code;
// a page of another type arrives as the gateway's code for the status.
constexpr int kCodeUnauthorized = 4010, kCodeForbidden = 4030;

int ExitStatusOf(int status) {
  if (status == 0) return 0;
  const int http = ZENTA_HttpStatusOf(status);
  if (http == 401 || http == 403 || status == ZENTA_E_CREDENTIAL || status == kCodeUnauthorized ||
      status == kCodeForbidden) {
    return kExitAuthentication;
  }
  // A request that does not fit is refused before anything is sent: an argument too long.
  if (status == Corvane::kRequestTooLong) return kExitUsage;
  return ZENTA_IS_GATEWAY_CODE(status) ? kExitExchange : kExitRefused;
}

std::string DescribeStatus(int status) {
  if (status == 0) return "success";
  if (status == -1) return "the server's answer could not be read";
  if (status == Corvane::kRequestTooLong) {
    return "the request does not fit (a path of 1280 characters or more, or a setting longer "
           "than its header field); nothing was sent (" +
           std::to_string(status) + ")";
  }
  if (ZENTA_IS_GATEWAY_CODE(status)) {
    return std::string(ZENTA_ErrorText(status)) + " (" + std::to_string(status) + ")";
  }
  return "the server answered code " + std::to_string(status);
}

void CaptureLibraryLog() {
  quim::Vantrix::instance().SetSink([](const quim::LogRecord& record) {
    // The library's one record says that an answer is not JSON, with the parser's reason.
    constexpr std::string_view kParseFailure = "json parse fail, msg = ";
    std::string_view message = record.message != nullptr ? record.message : "";
    if (message.substr(0, kParseFailure.size()) == kParseFailure) {
      message.remove_prefix(kParseFailure.size());
      libraryNote = "not JSON (" + std::string(message) + ")";
    } else {
      libraryNote = message;
    }
  });
}

Outcome Runner::AIPrivacy() {
  int enable = 0;
  Outcome o = Timed("ai-privacy", [&] { return Corvane::API_GetAIPrivacyConfig(handle_, enable); });
  SetSingle(o, "enable", Value(enable));
  return o;
}

Outcome Runner::WebEnablement(const std::string& deviceId) {
  bool enabled = false;
  Outcome o = Timed("web-enablement",
                    [&] { return Corvane::API_GetWebEnablement(deviceId, enabled, handle_); });
  SetSingle(o, "enableWeb", Value(enabled));
  return o;
}

Outcome Runner::ChannelWebEnablement(const std::string& channelId) {
  bool enabled = false;
  Outcome o = Timed("channel-web-enablement", [&] {
    return Corvane::API_GetChannelWebEnablement(channelId, enabled, handle_);
  });
  SetSingle(o, "enableWeb", Value(enabled));
  return o;
}

Outcome Runner::Picture(const std::string& pictureId, int tag, const std::string& outputFile) {
  Corvane::DownloadDevicePicResp result;
  Outcome o = Timed("picture", [&] {
    return Corvane::API_DownloadDevicePicture(handle_, {tag, pictureId}, result);
  });
  std::unique_ptr<char[]> picture(result.pictureData);  // the caller's to free
  const std::string bytes(picture.get(), picture ? result.pictureLength : 0);
  // The library hands over whatever body came; a refusal arrives as a JSON envelope.
  Value envelope;
  if (o.status == 0 && bytes.find_first_not_of(" \t\r\n") == bytes.find('{') &&
      quim::Json::Parse(bytes, envelope) && envelope.isObject() && envelope.isMember("code")) {
    const Value& code = envelope["code"];
    o.status = code.isIntegral() && code.asInt() != 0 && code.asInt() != 1000 ? code.asInt() : -1;
    const Value& message = envelope["message"];
    o.serverMessage = message.isString() ? message.asString() : "";
    o.failure = "the server answered with a JSON document instead of a picture";
    if (o.status != -1) o.failure += ", code " + std::to_string(o.status);
    return o;
  }
  bool png = bytes.size() >= 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
  if (o.status == 0 && outputFile == "-") {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush();
    o.resultWritten = true;
  } else if (o.status == 0 && !outputFile.empty()) {
    // Written and closed before success is claimed: a full disk shows at the close.
    errno = 0;
    std::ofstream out(outputFile, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      o.status = -1;
      o.failure = "cannot write " + outputFile +
                  (errno != 0 ? ": " + std::string(std::strerror(errno)) : "");
    }
  }
  const char* kind = png ? "PNG" : "data";
  o.table = {{"tag", "bytes", "kind", "file"},
             {{std::to_string(result.tag), std::to_string(result.pictureLength), kind,
               outputFile.empty() ? "-" : outputFile}}};
  o.json = Value(quim::Json::objectValue);
  o.json["tag"] = Value(result.tag);
  o.json["bytes"] = Value(result.pictureLength);
  o.json["png"] = Value(png);
  if (!outputFile.empty()) o.json["file"] = Value(outputFile);
  o.summary = std::to_string(result.pictureLength) + " bytes of " + kind;
  return o;
}

Outcome Runner::SpeakerVolumeGet(const std::string& channelId) {
  Corvane::SpeakerVolumeInfo info;
  Outcome o = Timed("speaker-volume get",
                    [&] { return Corvane::API_GetIPSpeakerVolume(channelId, info, handle_); });
  o.table = {{"channel", "name", "speaker", "microphone", "successful"},
             {{info.channelId, info.channelName, std::to_string(info.speakerVolume),
               std::to_string(info.microphoneVolume), std::to_string(info.successful)}}};
  o.json = Value(quim::Json::objectValue);
  o.json["channelId"] = Value(info.channelId);
  o.json["channelName"] = Value(info.channelName);
  o.json["speakerVolume"] = Value(info.speakerVolume);
  o.json["microphoneVolume"] = Value(info.microphoneVolume);
  o.json["successful"] = Value(info.successful);
  o.summary = info.channelName + ": speaker " + std::to_string(info.speakerVolume) +
              ", microphone " + std::to_string(info.microphoneVolume);
  return o;
}

Outcome Runner::SpeakerVolumeSet(const std::string& channelId, int speaker, int microphone) {
  Corvane::SpeakerVolumeInfo info;
  info.channelId = channelId;
  info.speakerVolume = speaker;
  info.microphoneVolume = microphone;
  Outcome o =
      Timed("speaker-volume set", [&] { return Corvane::API_SetIPSpeakerVolume(info, handle_); });
  std::string sent;
  if (speaker >= 0) sent += "speaker " + std::to_string(speaker);
  if (microphone >= 0)
    sent += (sent.empty() ? "" : ", ") + ("microphone " + std::to_string(microphone));
  if (sent.empty()) sent = "nothing";
  o.table = {{"channel", "sent"}, {{channelId, sent}}};
  o.json = Value(quim::Json::objectValue);
  o.json["channelId"] = Value(channelId);
  if (speaker >= 0) o.json["speakerVolume"] = Value(speaker);
  if (microphone >= 0) o.json["microphoneVolume"] = Value(microphone);
  o.summary = "set " + sent;
  // -1 after a readable answer: the server listed the channel among those it failed to change.
  if (o.status == -1 && !o.serverMessage.empty()) {
    o.failure = "the server did not apply the volumes to channel " + channelId;
  }
  return o;
}

Outcome Runner::SameAudioFiles(const std::vector<std::string>& channelIds) {
  std::vector<Corvane::SameAudioFileInfo> files;
  Outcome o = Timed("same-audio-files", [&] {
    return Corvane::API_GetIPSpeakerSameAudioList(channelIds, files, handle_);
  });
  o.table.columns = {"file name", "channel", "file id"};
  o.json = Value(quim::Json::arrayValue);
  for (const auto& f : files) {
    Value item;
    item["fileName"] = Value(f.fileName);
    Value& channels = item["channelFiles"] = Value(quim::Json::arrayValue);
    if (f.channelFiles.empty()) o.table.rows.push_back({f.fileName, "-", "-"});
    for (const auto& c : f.channelFiles) {
      o.table.rows.push_back({f.fileName, c.channelId, c.fileId});
      Value channel;
      channel["channelId"] = Value(c.channelId);
      channel["fileId"] = Value(c.fileId);
      channels.append(std::move(channel));
    }
    o.json.append(std::move(item));
  }
  o.summary = Plural(files.size(), "shared file");
  return o;
}

Outcome Runner::AlarmContacts(const std::string& alarmCode, long long alarmDate) {
  std::vector<Corvane::DeviceContactInfo> sources;
  Outcome o = Timed("alarm-contacts", [&] {
    return Corvane::API_GetAlarmDeviceContacts(alarmCode, alarmDate, handle_, sources);
  });
  o.table.columns = {"source", "position", "contact", "phone", "e-mail", "note"};
  o.json = Value(quim::Json::arrayValue);
  std::size_t contactCount = 0;
  for (const auto& s : sources) {
    Value item;
    item["sourceName"] = Value(s.sourceName);
    item["devicePosition"] = Value(s.devicePosition);
    Value& contacts = item["deviceContacts"] = Value(quim::Json::arrayValue);
    if (s.deviceContacts.empty())
      o.table.rows.push_back({s.sourceName, s.devicePosition, "-", "", "", ""});
    for (const auto& c : s.deviceContacts) {
      o.table.rows.push_back({s.sourceName, s.devicePosition, c.contactName, c.contactPhone,
                              c.contactEmail, c.contactNote});
      Value contact;
      contact["contactName"] = Value(c.contactName);
      contact["contactPhone"] = Value(c.contactPhone);
      contact["contactEmail"] = Value(c.contactEmail);
      contact["contactNote"] = Value(c.contactNote);
      contacts.append(std::move(contact));
      ++contactCount;
    }
    o.json.append(std::move(item));
  }
  o.summary = Plural(sources.size(), "source") + ", " + Plural(contactCount, "contact");
  return o;
}

Outcome Runner::RecordStart(const std::string& channelId, int streamType, int duration) {
  Corvane::StartRemoteRecordRsp result;
  Outcome o = Timed("record-start", [&] {
    return Corvane::API_StartRemoteRecord({handle_, channelId, streamType, duration}, result);
  });
  o.table = {{"plan id", "now", "now (UTC)"},
             {{std::to_string(result.planId), std::to_string(result.now), IsoDate(result.now)}}};
  o.json = Value(quim::Json::objectValue);
  o.json["planId"] = Value(result.planId);
  o.json["now"] = Value(result.now);
  o.summary = "plan " + std::to_string(result.planId);
  return o;
}

Outcome Runner::PosConfig() {
  int playbackTime = 0;
  Outcome o = Timed("pos-config", [&] { return Corvane::API_GetPosConfig(handle_, playbackTime); });
  SetSingle(o, "posPlaybackTime", Value(playbackTime));
  return o;
}

Outcome Runner::PosEvents() {
  std::map<int, std::string> names;
  Outcome o =
      Timed("pos-events", [&] { return Corvane::API_GetPosEventTranslate(handle_, names); });
  o.table.columns = {"code", "name"};
  o.json = Value(quim::Json::objectValue);
  for (const auto& [code, name] : names) {
    o.table.rows.push_back({std::to_string(code), name});
    o.json[std::to_string(code)] = Value(name);
  }
  o.summary = Plural(names.size(), "event name");
  return o;
}

Outcome Runner::DictionaryMap(int type) {
  std::map<int, int> mapping;
  Outcome o = Timed("dictionary-map",
                    [&] { return Corvane::API_QueryDictionaryMapper(handle_, type, mapping); });
  o.table.columns = {"key", "value"};
  o.json = Value(quim::Json::objectValue);
  for (const auto& [key, value] : mapping) {
    o.table.rows.push_back({std::to_string(key), std::to_string(value)});
    o.json[std::to_string(key)] = Value(value);
  }
  o.summary = Plural(mapping.size(), "mapping");
  return o;
}

namespace {

// What to do about a failure of the certificates, told by the gateway's detail: a server that
// wants a client certificate (a TLS front end's 400 page says so too), refused the one given, or
// one that cannot be used (a wrong password, a key that is not the certificate's); else the
// server's certificate is not trusted. "" for any other failure.
std::string CertificateHint(int status, const std::string& detail) {
  const bool tls = status == ZENTA_E_TLS;
  if ((ZENTA_HttpStatusOf(status) == 400 && detail.find("certificate") != std::string::npos) ||
      (tls && detail.find("none is configured") != std::string::npos)) {
    return "; give a client certificate with --cert FILE (and --key FILE)";
  }
  if (tls && detail.find("did not accept") != std::string::npos) {
    return "; the server refused the client certificate of --cert: give one issued by a CA it "
           "trusts";
  }
  if (tls && detail.find("could not be used") != std::string::npos) {
    if (detail.find("password") != std::string::npos) {
      return "; check the password of --key (--key-password or CORVANE_KEY_PASSWORD)";
    }
    if (detail.find("not the certificate's") != std::string::npos) {
      return "; --key holds the key of another certificate: give the key of --cert";
    }
    return "; the client key could not be read: check its password (--key-password or "
           "CORVANE_KEY_PASSWORD) and that --key holds the key of --cert";
  }
  if (!tls) return "";
  return "; to trust the server's certificate give its CA with --cacert FILE, or skip the check "
         "with --insecure (test servers only)";
}

// The error a refusal in JSON named in its WWW-Authenticate challenge, as ': HTTP 401
// (error="invalid_token")'; only the gateway's detail of the call carries the headers. "" when
// the challenge named none.
std::string ChallengeError() {
  char text[512];
  if (ZENTA_LastErrorDetail(text, static_cast<int>(sizeof text)) <= 0) return "";
  const std::string_view detail(text);
  const bool named = detail.rfind("HTTP 4", 0) == 0 && detail.find(" (error=") != detail.npos;
  return named ? ": " + std::string(detail) : "";
}

}  // namespace

std::string DescribeFailure(const Outcome& outcome) {
  std::string line = outcome.failure.empty() ? DescribeStatus(outcome.status) : outcome.failure;
  if (outcome.status == -1 && !outcome.libraryNote.empty()) line += ": " + outcome.libraryNote;
  // The transport's own words for a gateway failure, read on this thread right after the call:
  // Print and the demo describe an outcome before the next call. A token command's own failure
  // says more than the gateway's account of the callback.
  const std::string tokenCommandFailure =
      outcome.status == ZENTA_E_CREDENTIAL ? TokenCommandFailure() : "";
  std::string detail;
  if (!tokenCommandFailure.empty()) {
    line += ": " + tokenCommandFailure;
  } else if (ZENTA_IS_GATEWAY_CODE(outcome.status)) {
    char text[512];
    if (ZENTA_LastErrorDetail(text, static_cast<int>(sizeof text)) > 0 &&
        std::string_view(text) != ZENTA_ErrorText(outcome.status)) {
      detail = PageText(text);
      line += ": " + detail;
    }
  }
  if (outcome.status == kCodeUnauthorized || outcome.status == kCodeForbidden) {
    line += ChallengeError();
  }
  if (!outcome.serverMessage.empty()) line += " (server: \"" + outcome.serverMessage + "\")";
  if (ZENTA_HttpStatusOf(outcome.status) == 401 || outcome.status == kCodeUnauthorized) {
    line +=
        "; the server asks for credentials: give a token with --token (or CORVANE_TOKEN) "
        "or --token-command";
  }
  return Redact(line + CertificateHint(outcome.status, detail));
}

bool FlushOutput() {
  std::cout.flush();
  if (std::cout && std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  const int error = errno;
  std::cerr << "corvane: cannot write the result to standard output"
            << (error != 0 ? ": " + std::string(std::strerror(error)) : "") << "\n";
  return false;
}

bool Print(const Outcome& outcome, bool json) {
  if (outcome.status != 0) {
    if (!json) {
      std::cerr << "corvane: " << outcome.operation << ": "
                << EscapeControls(DescribeFailure(outcome)) << "\n";
      return true;
    }
    Value document(quim::Json::objectValue);
    document["operation"] = Value(outcome.operation);
    document["status"] = Value(outcome.status);
    document["error"] = Value(DescribeFailure(outcome));
    document["serverMessage"] = Value(Redact(outcome.serverMessage));
    std::cerr << quim::Json::Write(document) << "\n";
    return true;
  }
  if (outcome.resultWritten) return FlushOutput();
  if (json) {
    Value document(quim::Json::objectValue);
    document["operation"] = Value(outcome.operation);
    document["status"] = Value(outcome.status);
    document["milliseconds"] = Value(outcome.milliseconds);
    document["result"] = outcome.json;
    std::cout << quim::Json::Write(document) << "\n";
    return FlushOutput();
  }
  Table t = outcome.table;
  for (auto& row : t.rows) {
    for (auto& cell : row) cell = EscapeControls(cell);
  }
  std::vector<std::size_t> widths(t.columns.size());
  for (std::size_t c = 0; c < t.columns.size(); ++c) widths[c] = Width(t.columns[c]);
  for (const auto& row : t.rows) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], Width(row[c]));
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      std::string cell = c < cells.size() ? cells[c] : "";
      text += cell;
      if (c + 1 < widths.size()) text += std::string(widths[c] - Width(cell) + 2, ' ');
    }
    std::cout << text << "\n";
  };
  line(t.columns);
  std::vector<std::string> rule;
  for (std::size_t w : widths) rule.push_back(std::string(w, '-'));
  line(rule);
  for (const auto& row : t.rows) line(row);
  if (t.rows.empty()) std::cout << "(none)\n";
  return FlushOutput();
}

}  // namespace corvane_cli
