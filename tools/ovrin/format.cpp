#include "format.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace ovrin_tool {
namespace {

// The code DescError asks for; per thread, as serve formats on many.
thread_local int gCode = 0;
int* CodeSource() { return &gCode; }

// Days since 1970-01-01 as a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, unsigned* month, unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  *month = shifted < 10 ? shifted + 3 : shifted - 9;
  *year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0));
}

// The length of the UTF-8 character at text[i] when it is well formed and
// not a control character, else 0.
std::size_t ShownLength(const std::string& text, std::size_t i) {
  const auto at = [&text, i](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = at(0);
  if (lead >= 0x20 && lead < 0x7f) return 1;
  const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
  if (length == 0 || i + length > text.size()) return 0;
  // The second byte's range rules out overlong forms, surrogates, code
  // points past U+10FFFF and the C1 controls (0xc2 0x80 to 0xc2 0x9f).
  const unsigned char low = lead == 0xc2 || lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (at(k) < 0x80 || at(k) > 0xbf) return 0;
  }
  return length;
}

std::string ErrorFields(int code) {
  const std::string text = ErrorText(code);
  return "\"kind\":1,\"code\":" + std::to_string(code) + ",\"error\":\"" + JsonEscape(text.data(), text.size()) + "\"";
}

}  // namespace

std::string ErrorText(int code) {
  gCode = code;
  char text[64];
  DescError(CodeSource, text, sizeof text);
  return text;
}

std::string IsoTime(std::int64_t utcNs) {
  const std::int64_t ms = utcNs >= 0 ? utcNs / 1000000 : -((-utcNs + 999999) / 1000000);
  const std::int64_t msPerDay = 86400000;
  const std::int64_t days = ms >= 0 ? ms / msPerDay : -((-ms + msPerDay - 1) / msPerDay);
  const std::int64_t inDay = ms - days * msPerDay;
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year, month, day,
                static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
  return text;
}

std::string JsonEscape(const char* bytes, std::size_t count) {
  std::string escaped;
  for (std::size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      escaped += code;
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f && c != '"' && c != '\\') {
      json += c;  // UTF-8 passes as it is
    } else if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", byte);
      json += code;
    }
  }
  return json + "\"";
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = ShownLength(text, i);
    if (length > 0) {
      shown.append(text, i, length);
      i += length;
      continue;
    }
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[i++]));
    shown += code;
  }
  return shown;
}

std::string FormatErrorCode(int code) { return "{" + ErrorFields(code) + "}"; }

std::int64_t WallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

// A CSV field: quoted when it needs to be, bytes outside printable ASCII as
// \xNN (and a backslash as \\). A field a spreadsheet would take for a
// formula (it begins with = + - @) gets a ' in front, as spreadsheets expect,
// so that opening the file never runs a meter's line ("@E252") as one.
std::string CsvField(const char* bytes, std::size_t count) {
  std::string field;
  if (count > 0 && bytes[0] != '\0' && std::strchr("=+-@", bytes[0]) != nullptr) field += '\'';
  bool quote = false;
  for (std::size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c >= 0x7f || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, c == '\\' ? "\\\\" : "\\x%02x", c);
      field += escaped;
      continue;
    }
    if (c == '"' || c == ',') quote = true;
    if (c == '"') field += '"';
    field += static_cast<char>(c);
  }
  return quote ? '"' + field + '"' : field;
}

}  // namespace

const char kCsvHeader[] = "seq,time,kind,auxDigit,value1,value2,line";

std::string FormatReading(const NumberedReading& numbered, Format format) {
  const ovrin::Reading& reading = numbered.reading;
  const std::string seq = std::to_string(numbered.seq);
  const MeasureRecord& record = reading.record;
  switch (format) {
    case Format::kText: {
      if (record.kind == ReplyError) return "error " + std::to_string(record.value1) + ": " + ErrorText(record.value1);
      char line[96];
      std::snprintf(line, sizeof line, "kind %d  auxDigit %d  value1 %d  value2 %d", static_cast<int>(record.kind),
                    static_cast<int>(record.auxDigit), static_cast<int>(record.value1),
                    static_cast<int>(record.value2));
      return line;
    }
    case Format::kCsv:
      return seq + "," + IsoTime(reading.utcNs) + "," + std::to_string(record.kind) + "," +
             std::to_string(record.auxDigit) + "," + std::to_string(record.value1) + "," +
             std::to_string(record.value2) + "," + CsvField(reading.line, reading.lineLength);
    case Format::kJson:
      break;
  }
  std::string object = "{\"seq\":" + seq + ",\"time\":\"" + IsoTime(reading.utcNs) + "\",";
  if (record.kind == ReplyError) {
    object += ErrorFields(record.value1);
  } else {
    object += "\"kind\":" + std::to_string(record.kind) + ",\"auxDigit\":" + std::to_string(record.auxDigit) +
              ",\"value1\":" + std::to_string(record.value1) + ",\"value2\":" + std::to_string(record.value2);
  }
  return object + ",\"line\":\"" + JsonEscape(reading.line, reading.lineLength) + "\"}";
}

const char* LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::kSearching:
      break;
    case LinkState::kConnected:
      return "connected";
    case LinkState::kLost:
      return "lost";
    case LinkState::kReconnecting:
      return "reconnecting";
    case LinkState::kTypingFailed:
      return "typing-failed";
  }
  return "searching";
}

std::string LinkStateJson(const LinkChange& change, std::int64_t utcNs) {
  const char* event = change.state == LinkState::kReconnecting ? "searching" : LinkStateName(change.state);
  std::string object = "{\"event\":\"" + std::string(event) + "\",\"state\":\"" + LinkStateName(change.state) +
                       "\",\"time\":\"" + IsoTime(utcNs) + "\"";
  if (!change.device.empty()) object += ",\"device\":" + JsonString(change.device);
  if (!change.port.empty()) object += ",\"port\":" + JsonString(change.port);
  return object + "}";
}

std::string LinkText(const LinkChange& change) {
  const bool failed = change.state == LinkState::kTypingFailed;
  std::string text = failed ? "connected" : LinkStateName(change.state);
  if (!change.port.empty()) text += " " + change.port;
  if (!change.device.empty()) text += " \u2014 " + change.device;
  return Printable(text) + (failed ? "; typing failed" : "");
}

std::string PortLabel(const ovrin::PortIdentity& identity) {
  std::string label = identity.description;
  if (identity.kind == ovrin::PortKind::kBluetoothIncoming) {
    label += (label.empty() ? "" : ", ") + std::string(ovrin::PortKindText(identity.kind));
  } else if (!identity.bluetoothAddress.empty() && label.find(identity.bluetoothAddress) == std::string::npos) {
    label += (label.empty() ? "Bluetooth" : "") + (" (" + identity.bluetoothAddress + ")");
  } else if (label.empty() && identity.kind != ovrin::PortKind::kUnknown) {
    label = ovrin::PortKindText(identity.kind);
    if (!identity.vid.empty()) label += " " + identity.vid + ":" + identity.pid;
  }
  return label;
}

std::string PortIdentityJson(const ovrin::PortIdentity& identity) {
  static const char* const kKinds[] = {"", "bluetooth-outgoing", "bluetooth-incoming", "usb", "built-in", "virtual"};
  const auto kind = static_cast<std::size_t>(identity.kind);
  std::string json =
      kind > 0 && kind < sizeof kKinds / sizeof kKinds[0] ? ",\"kind\":\"" + std::string(kKinds[kind]) + "\"" : "";
  const std::pair<const char*, const std::string*> fields[] = {{"description", &identity.description},
                                                               {"hardwareId", &identity.hardwareId},
                                                               {"vid", &identity.vid},
                                                               {"pid", &identity.pid},
                                                               {"serialNumber", &identity.serialNumber},
                                                               {"manufacturer", &identity.manufacturer},
                                                               {"product", &identity.product},
                                                               {"bluetoothAddress", &identity.bluetoothAddress}};
  for (const auto& field : fields) {
    if (!field.second->empty()) json += ",\"" + std::string(field.first) + "\":" + JsonString(*field.second);
  }
  return json;
}

}  // namespace ovrin_tool
