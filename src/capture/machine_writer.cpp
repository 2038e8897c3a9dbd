#include "capture/machine_writer.h"

#include <cstdint>
#include <cstring>

#include "capture/json_out.h"

namespace {

// UTF-16 that JSON can carry: every surrogate in a pair.
bool IsText(const WCHAR* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= 0xDC00 && text[i] < 0xE000) return false;
    if (text[i] >= 0xD800 && text[i] < 0xDC00) {
      if (i + 1 == length || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return false;
      ++i;
    }
  }
  return true;
}

bool HasZero(const CapturedText& text) {
  for (WCHAR c : text) {
    if (c == 0) return true;
  }
  return false;
}

// Data read as UTF-16LE; false for an odd byte count.
bool Utf16Of(const CapturedBytes& data, CapturedText& text) {
  if (data.size() % 2 != 0) return false;
  text.resize(data.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return true;
}

// Text without zero characters and, when terminated, with one at its end.
bool PlainText(const CapturedBytes& data, bool& terminated, CapturedText& text) {
  if (!Utf16Of(data, text)) return false;
  terminated = !text.empty() && text.back() == 0;
  if (terminated) text.pop_back();
  return !HasZero(text) && IsText(text.data(), text.size());
}

// A REG_MULTI_SZ list of non-empty strings, each terminated, then one more
// terminator: the only form a list of strings stands for.
bool StringList(const CapturedBytes& data, std::vector<CapturedText>& strings) {
  CapturedText text;
  if (!Utf16Of(data, text) || text.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < text.size() && text[end] != 0) ++end;
    if (end == text.size()) return false;
    if (end == start) return end + 1 == text.size();
    if (!IsText(text.data() + start, end - start)) return false;
    strings.push_back(CapturedText(text.begin() + static_cast<std::ptrdiff_t>(start),
                                   text.begin() + static_cast<std::ptrdiff_t>(end)));
    start = end + 1;
  }
}

void WriteStrings(JsonOut& json, const std::vector<CapturedText>& strings) {
  json.Char('[');
  for (std::size_t i = 0; i < strings.size(); ++i) {
    if (i != 0) json.Raw(", ");
    json.Text(strings[i].data(), strings[i].size());
  }
  json.Char(']');
}

void WriteHexObject(JsonOut& json, const CapturedBytes& bytes) {
  json.Raw("{\"hex\": ");
  json.Hex(bytes.data(), bytes.size());
  json.Char('}');
}

void WriteType(JsonOut& json, DWORD type) {
  static const char* const kNames[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD"};
  json.Key("type");
  if (type < 5) {
    json.Char('"');
    json.Raw(kNames[type]);
    json.Char('"');
  } else if (type == REG_MULTI_SZ) {
    json.Raw("\"REG_MULTI_SZ\"");
  } else {
    json.Number(type);
  }
}

// The members of a value object after its type: text where the data is
// text, a list where it is one, raw bytes otherwise.
void WriteValueData(JsonOut& json, DWORD type, const CapturedBytes& data) {
  WriteType(json, type);
  json.Raw(", ");
  CapturedText text;
  bool terminated = false;
  std::vector<CapturedText> strings;
  if (type == REG_MULTI_SZ && StringList(data, strings)) {
    json.Key("strings");
    WriteStrings(json, strings);
  } else if (type != REG_MULTI_SZ && !data.empty() && PlainText(data, terminated, text)) {
    json.Key("text");
    json.Text(text.data(), text.size());
    if (terminated != (type == REG_SZ || type == REG_EXPAND_SZ)) {
      json.Raw(terminated ? ", \"terminated\": true" : ", \"terminated\": false");
    }
  } else {
    json.Key("hex");
    json.Hex(data.data(), data.size());
  }
}

void WriteValue(JsonOut& json, DWORD type, const CapturedBytes& data) {
  CapturedText text;
  bool terminated = false;
  if (type == REG_SZ && PlainText(data, terminated, text) && terminated) {
    json.Text(text.data(), text.size());
    return;
  }
  json.Char('{');
  WriteValueData(json, type, data);
  json.Char('}');
}

void WriteError(JsonOut& json, DWORD error) {
  json.Raw("{\"error\": ");
  json.Number(error);
  json.Char('}');
}

void WriteProperty(JsonOut& json, const char* key, const CapturedProperty& property, bool list) {
  if (!property.read || property.error == ERROR_INVALID_DATA) return;  // the sim's default failure
  json.Raw(", ");
  json.Key(key);
  if (property.error != ERROR_SUCCESS) {
    WriteError(json, property.error);
    return;
  }
  CapturedText text;
  bool terminated = false;
  std::vector<CapturedText> strings;
  if (list && StringList(property.bytes, strings)) {
    WriteStrings(json, strings);
  } else if (!list && PlainText(property.bytes, terminated, text) && terminated) {
    json.Text(text.data(), text.size());
  } else {
    WriteHexObject(json, property.bytes);
  }
}

void WriteTextOrHex(JsonOut& json, const CapturedText& text) {
  if (IsText(text.data(), text.size())) {
    json.Text(text.data(), text.size());
    return;
  }
  CapturedBytes bytes;
  for (WCHAR c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  WriteHexObject(json, bytes);
}

// The device's Enum key as the scan found it; a device without an ID has none.
void WriteKey(JsonOut& json, const CapturedDevice& device) {
  if (device.keyOpened && !device.keyFound) {
    json.Raw(", \"enumKey\": false");
  } else if (device.prefixFound) {
    json.Raw(", \"values\": {\"ParentIdPrefix\": ");
    WriteValue(json, device.prefixType, device.prefix);
    json.Char('}');
  }
}

void WriteDevice(JsonOut& json, const CapturedDevice& device) {
  const bool idRead = device.instanceIdError == ERROR_SUCCESS;
  json.Raw("    {");
  json.Key("instanceId");
  if (idRead) {
    WriteTextOrHex(json, device.instanceId);
  } else {
    WriteError(json, device.instanceIdError);
  }
  WriteProperty(json, "hardwareIds", device.hardwareIds, true);
  WriteProperty(json, "service", device.service, false);
  if (idRead) WriteKey(json, device);
  json.Char('}');
}

bool SameNameNoCase(const CapturedText& left, const CapturedText& right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    const WCHAR a = left[i] >= 'a' && left[i] <= 'z' ? static_cast<WCHAR>(left[i] - 32) : left[i];
    const WCHAR b = right[i] >= 'a' && right[i] <= 'z' ? static_cast<WCHAR>(right[i] - 32) : right[i];
    if (a != b) return false;
  }
  return true;
}

// Names that JSON object keys can hold: text, and no two alike.
bool NamesAreKeys(const std::vector<CapturedValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!IsText(values[i].name.data(), values[i].name.size())) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (SameNameNoCase(values[i].name, values[j].name)) return false;
    }
  }
  return true;
}

void WriteMountTable(JsonOut& json, const std::vector<CapturedValue>& values) {
  const bool asObject = NamesAreKeys(values);
  json.Raw(",\n  \"registry\": {\"SYSTEM\\\\MountedDevices\": ");
  json.Char(asObject ? '{' : '[');
  for (std::size_t i = 0; i < values.size(); ++i) {
    json.Raw(i == 0 ? "\n    " : ",\n    ");
    const CapturedValue& value = values[i];
    if (asObject) {
      json.Text(value.name.data(), value.name.size());
      json.Raw(": ");
      WriteValue(json, value.type, value.data);
      continue;
    }
    json.Char('{');
    if (IsText(value.name.data(), value.name.size())) {
      json.Key("name");
      json.Text(value.name.data(), value.name.size());
    } else {
      CapturedBytes bytes;
      for (WCHAR c : value.name) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
      }
      json.Key("nameHex");
      json.Hex(bytes.data(), bytes.size());
    }
    json.Raw(", ");
    WriteValueData(json, value.type, value.data);
    json.Char('}');
  }
  json.Raw(asObject ? "}}" : "]}");
}

// Every probe of the volume failed the same way as a volume without a
// medium, or one that refuses access, fails.
const char* MediumOf(const CapturedVolume& volume) {
  bool notReady = !volume.paths.empty();
  bool denied = !volume.paths.empty();
  for (const CapturedPath& path : volume.paths) {
    notReady = notReady && path.error == ERROR_NOT_READY;
    denied = denied && path.error == ERROR_ACCESS_DENIED;
  }
  return notReady ? "none" : denied ? "denied" : nullptr;
}

bool PrintableText(const CapturedBytes& bytes) {
  for (BYTE b : bytes) {
    if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b >= 0x7F) return false;
  }
  return true;
}

void WriteEntry(JsonOut& json, const CapturedPath& path) {
  if ((path.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    json.Raw("{\"directory\": true}");
    return;
  }
  if (UnreadByTheReader(path)) {
    json.Raw("{\"text\": \"\", \"size\": 4294967296}");
    return;
  }
  const CapturedBytes content = path.contentKept ? path.content : StandInDescriptor(path.valueChars);
  if (PrintableText(content)) {
    json.Ascii(reinterpret_cast<const char*>(content.data()), content.size());
  } else {
    WriteHexObject(json, content);
  }
}

void WriteVolume(JsonOut& json, const CapturedVolume& volume) {
  json.Raw("    {");
  json.Key("guid");
  WriteTextOrHex(json, volume.guid);
  if (const char* medium = MediumOf(volume)) {
    json.Raw(", \"medium\": \"");
    json.Raw(medium);
    json.Raw("\"}");
    return;
  }
  json.Raw(", \"files\": {");
  bool first = true;
  for (const CapturedPath& path : volume.paths) {
    if (path.attributes == INVALID_FILE_ATTRIBUTES) continue;
    json.Raw(first ? "" : ", ");
    first = false;
    json.Text(path.inside.data(), path.inside.size());
    json.Raw(": ");
    WriteEntry(json, path);
  }
  json.Raw("}}");
}

void WriteVersion(JsonOut& json, const CapturedVersion& version) {
  json.Raw("{\"major\": ");
  json.Number(version.major);
  json.Raw(", \"minor\": ");
  json.Number(version.minor);
  json.Raw(", \"build\": ");
  json.Number(version.build);
  json.Raw(", \"platformId\": ");
  json.Number(version.platformId);
  if (!version.csdVersion.empty() && IsText(version.csdVersion.data(), version.csdVersion.size())) {
    json.Raw(", \"csdVersion\": ");
    json.Text(version.csdVersion.data(), version.csdVersion.size());
  }
  json.Char('}');
}

void WriteTwoDigits(JsonOut& json, WORD number) {
  json.Char(static_cast<char>('0' + number / 10 % 10));
  json.Char(static_cast<char>('0' + number % 10));
}

void WriteStamp(JsonOut& json, const CaptureStamp& stamp) {
  json.Raw("  \"captured\": {\"version\": \"");
  json.Raw(stamp.version);
  json.Raw("\", \"windows\": \"");
  if (stamp.windowsKnown) {
    json.Number(stamp.windows.major);
    json.Char('.');
    json.Number(stamp.windows.minor);
    json.Char('.');
    json.Number(stamp.windows.build);
  }
  json.Raw("\", \"date\": \"");
  json.Number(stamp.year);
  json.Char('-');
  WriteTwoDigits(json, stamp.month);
  json.Char('-');
  WriteTwoDigits(json, stamp.day);
  json.Raw("\"},\n");
}

void WriteSetupApi(JsonOut& json, const CapturedMachine& machine) {
  if (!machine.setupApiLoaded) {
    json.Raw(",\n  \"setupApi\": {\"present\": false}");
    return;
  }
  if (machine.missingEntryPoints.empty()) return;
  json.Raw(",\n  \"setupApi\": {\"missing\": [");
  for (std::size_t i = 0; i < machine.missingEntryPoints.size(); ++i) {
    if (i != 0) json.Raw(", ");
    json.Ascii(machine.missingEntryPoints[i], std::strlen(machine.missingEntryPoints[i]));
  }
  json.Raw("]}");
}

}  // namespace

bool UnreadByTheReader(const CapturedPath& path) {
  return !path.opened || !(path.read || path.contentKept);
}

CapturedBytes StandInDescriptor(DWORD valueChars) {
  const char* open = "<hardware><type>";
  const char* close = "</type></hardware>";
  CapturedBytes bytes(open, open + std::strlen(open));
  bytes.insert(bytes.end(), valueChars, 'x');
  bytes.insert(bytes.end(), close, close + std::strlen(close));
  return bytes;
}

void WriteMachineFile(const CapturedMachine& machine, const CapturedResult& result, const CaptureStamp& stamp,
                      std::vector<char>& out, const std::vector<char>& explanation) {
  JsonOut json(out);
  json.Raw("{\n  \"description\": \"Captured by devdrives-capture.\",\n");
  WriteStamp(json, stamp);
  json.Raw("  \"expect\": {\"stdout\": ");
  json.Ascii(result.stdoutBytes.data(), result.stdoutBytes.size());
  json.Raw(", \"exit\": ");
  json.Number(static_cast<DWORD>(result.exitCode));
  json.Raw("},\n");
  if (!explanation.empty()) {
    json.Raw("  \"explanation\": ");
    out.insert(out.end(), explanation.begin(), explanation.end());
    json.Raw(",\n");
  }
  json.Raw("  \"codePage\": ");
  json.Number(machine.codePage);
  WriteSetupApi(json, machine);
  if (machine.versionAsked) {
    json.Raw(",\n  \"os\": ");
    if (machine.versionRead) {
      WriteVersion(json, machine.version);
    } else {
      json.Raw("null");
    }
  }
  json.Raw(",\n  \"drives\": \"");
  for (DWORD n = 0; n < 26; ++n) {
    if ((machine.driveMask & (1u << n)) != 0) json.Char(static_cast<char>('A' + n));
  }
  json.Raw("\",\n  \"devices\": [");
  for (std::size_t i = 0; i < machine.devices.size(); ++i) {
    json.Raw(i == 0 ? "\n" : ",\n");
    WriteDevice(json, machine.devices[i]);
  }
  json.Raw("]");
  if (machine.mountTableFound) WriteMountTable(json, machine.mountTable);
  json.Raw(",\n  \"volumes\": [");
  for (std::size_t i = 0; i < machine.volumes.size(); ++i) {
    json.Raw(i == 0 ? "\n" : ",\n");
    WriteVolume(json, machine.volumes[i]);
  }
  json.Raw("]\n}\n");
}
