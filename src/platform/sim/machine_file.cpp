#include "platform/sim/machine_file.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/sim/sim.h"

namespace {

using Json = nlohmann::ordered_json;

// Where in the file a value sits, for messages: "devices[2].service".
class Field {
 public:
  Field(const std::string& file, const std::string& path) : file_(file), path_(path) {}
  Field operator[](const std::string& name) const { return {file_, path_.empty() ? name : path_ + "." + name}; }
  Field operator[](std::size_t index) const { return {file_, path_ + "[" + std::to_string(index) + "]"}; }
  [[noreturn]] void Fail(const std::string& message) const {
    throw MachineFileError("machine file " + file_ + ": field " + (path_.empty() ? "(top)" : path_) + ": " +
                           message);
  }

 private:
  std::string file_;
  std::string path_;
};

void Expect(bool condition, const Field& field, const char* message) {
  if (!condition) field.Fail(message);
}

void OnlyKeys(const Json& object, const Field& field, std::initializer_list<const char*> allowed) {
  Expect(object.is_object(), field, "must be an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const char* name : allowed) known = known || it.key() == name;
    if (!known) field[it.key()].Fail("unknown field");
  }
}

std::string String(const Json& value, const Field& field) {
  Expect(value.is_string(), field, "must be a string");
  return value.get<std::string>();
}

DWORD Number(const Json& value, const Field& field) {
  Expect(value.is_number_unsigned() && value.get<std::uint64_t>() <= 0xFFFFFFFFu, field,
         "must be an unsigned 32-bit number");
  return value.get<DWORD>();
}

bool Boolean(const Json& value, const Field& field) {
  Expect(value.is_boolean(), field, "must be true or false");
  return value.get<bool>();
}

SimBytes Hex(const Json& value, const Field& field) {
  const std::string text = String(value, field);
  SimBytes bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int digit = (c >= '0' && c <= '9') ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    Expect(digit >= 0, field, "must hold hexadecimal digits");
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<BYTE>(high * 16 + digit));
      high = -1;
    }
  }
  Expect(high < 0, field, "must hold whole bytes");
  return bytes;
}

void AppendUtf16(SimBytes& bytes, const std::u16string& text, bool terminated) {
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
}

SimBytes Utf16(const std::string& text, bool terminated) {
  SimBytes bytes;
  AppendUtf16(bytes, SimFromUtf8(text), terminated);
  return bytes;
}

SimBytes MultiString(const Json& value, const Field& field) {
  Expect(value.is_array(), field, "must be a list of strings");
  SimBytes bytes;
  for (std::size_t i = 0; i < value.size(); ++i) {
    AppendUtf16(bytes, SimFromUtf8(String(value[i], field[i])), true);
  }
  AppendUtf16(bytes, u"", true);
  return bytes;
}

// 8-bit text: every character must be a single byte (U+0000 to U+00FF).
SimBytes Bytes8(const std::string& text, const Field& field) {
  SimBytes bytes;
  for (char16_t c : SimFromUtf8(text)) {
    Expect(c <= 0xFF, field, "holds a character beyond U+00FF; give the bytes as hex");
    bytes.push_back(static_cast<BYTE>(c));
  }
  return bytes;
}

// UTF-16 text, or {"hex": ...} with its UTF-16LE bytes for text that is not
// well-formed (a lone surrogate).
std::u16string Utf16Text(const Json& value, const Field& field) {
  if (!value.is_object()) return SimFromUtf8(String(value, field));
  OnlyKeys(value, field, {"hex"});
  Expect(value.contains("hex"), field["hex"], "is required");
  const SimBytes bytes = Hex(value["hex"], field["hex"]);
  Expect(bytes.size() % 2 == 0, field["hex"], "must hold whole UTF-16 characters");
  std::u16string text;
  for (std::size_t i = 0; i < bytes.size(); i += 2) text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return text;
}

DWORD RegistryType(const Json& value, const Field& field) {
  if (value.is_number()) return Number(value, field);
  static const std::pair<const char*, DWORD> names[] = {
      {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ}};
  const std::string name = String(value, field);
  for (const auto& known : names) {
    if (name == known.first) return known.second;
  }
  field.Fail("unknown registry type \"" + name + "\"");
}

// A string is REG_SZ text with its terminator; an object gives the type and
// the data as "text" (UTF-16), "strings", "dword" or raw "hex" bytes.
SimValue Value(const std::string& name, const Json& value, const Field& field) {
  SimValue result{SimFromUtf8(name), REG_SZ, {}};
  if (value.is_string()) {
    result.data = Utf16(value.get<std::string>(), true);
    return result;
  }
  OnlyKeys(value, field, {"type", "text", "terminated", "strings", "dword", "hex"});
  Expect(value.contains("type"), field["type"], "is required");
  result.type = RegistryType(value["type"], field["type"]);
  const int forms = static_cast<int>(value.contains("text")) + static_cast<int>(value.contains("strings")) +
                    static_cast<int>(value.contains("dword")) + static_cast<int>(value.contains("hex"));
  Expect(forms == 1, field, "needs exactly one of text, strings, dword, hex");
  if (value.contains("text")) {
    const bool stringType = result.type == REG_SZ || result.type == REG_EXPAND_SZ;
    const bool terminated = value.contains("terminated") ? Boolean(value["terminated"], field["terminated"])
                                                         : stringType;
    result.data = Utf16(String(value["text"], field["text"]), terminated);
  } else if (value.contains("strings")) {
    result.data = MultiString(value["strings"], field["strings"]);
  } else if (value.contains("dword")) {
    const DWORD number = Number(value["dword"], field["dword"]);
    for (int shift = 0; shift < 32; shift += 8) result.data.push_back(static_cast<BYTE>(number >> shift));
  } else {
    result.data = Hex(value["hex"], field["hex"]);
  }
  return result;
}

// The list form names each value inside it: "name", or "nameHex" with the
// UTF-16LE bytes of a name that is not well-formed text.
std::vector<SimValue> ValueList(const Json& list, const Field& field) {
  std::vector<SimValue> values;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Field at = field[i];
    Expect(list[i].is_object(), at, "must be an object");
    Json value = list[i];
    Expect(value.contains("name") != value.contains("nameHex"), at, "needs exactly one of name, nameHex");
    const std::u16string name = value.contains("name") ? Utf16Text(value["name"], at["name"])
                                                       : Utf16Text(Json{{"hex", value["nameHex"]}}, at["nameHex"]);
    value.erase("name");
    value.erase("nameHex");
    SimValue parsed = Value("", value, at);
    parsed.name = name;
    values.push_back(parsed);
  }
  return values;
}

std::vector<SimValue> Values(const Json& object, const Field& field) {
  if (object.is_array()) return ValueList(object, field);
  Expect(object.is_object(), field, "must be an object or a list of values");
  std::vector<SimValue> values;
  for (auto it = object.begin(); it != object.end(); ++it) {
    values.push_back(Value(it.key(), it.value(), field[it.key()]));
  }
  return values;
}

// A property given as a list of strings (or a string), as raw hex bytes,
// or as the error code its read fails with. Where declaredSize is given,
// the hex bytes may declare the larger size that reads report.
void Property(const Json& value, const Field& field, bool multi, std::optional<SimBytes>& bytes, DWORD& error,
              DWORD* declaredSize = nullptr) {
  if (value.is_object()) {
    if (declaredSize != nullptr) {
      OnlyKeys(value, field, {"hex", "error", "size"});
    } else {
      OnlyKeys(value, field, {"hex", "error"});
    }
    Expect(value.contains("hex") != value.contains("error"), field, "needs exactly one of hex, error");
    if (value.contains("error")) {
      Expect(value.size() == 1, field, "a failing read has no size");
      error = Number(value["error"], field["error"]);
      Expect(error != ERROR_SUCCESS, field["error"], "must not be 0");
      return;
    }
    bytes = Hex(value["hex"], field["hex"]);
    if (value.contains("size")) {
      *declaredSize = Number(value["size"], field["size"]);
      Expect(*declaredSize >= bytes->size(), field["size"], "must be at least the number of bytes given");
    }
    return;
  }
  bytes = multi ? MultiString(value, field) : Utf16(String(value, field), true);
}

// Text, {"hex": ...}, or {"error": N}: the code its read fails with.
void InstanceId(const Json& value, const Field& field, SimDevice& device) {
  if (!value.is_object() || !value.contains("error")) {
    device.instanceId = Utf16Text(value, field);
    return;
  }
  OnlyKeys(value, field, {"error"});
  device.instanceIdError = Number(value["error"], field["error"]);
  Expect(device.instanceIdError != ERROR_SUCCESS, field["error"], "must not be 0");
}

void ParseDevices(const Json& list, const Field& field, SimulatedMachine& machine) {
  Expect(list.is_array(), field, "must be a list");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Json& item = list[i];
    const Field at = field[i];
    OnlyKeys(item, at, {"instanceId", "hardwareIds", "service", "values", "enumKey"});
    Expect(item.contains("instanceId"), at["instanceId"], "is required");
    SimDevice device;
    InstanceId(item["instanceId"], at["instanceId"], device);
    if (item.contains("hardwareIds")) {
      Property(item["hardwareIds"], at["hardwareIds"], true, device.hardwareIds, device.hardwareIdsError,
               &device.hardwareIdsSize);
    }
    if (item.contains("service")) Property(item["service"], at["service"], false, device.service, device.serviceError);
    const bool idRead = device.instanceIdError == ERROR_SUCCESS;
    const bool enumKey = item.contains("enumKey") ? Boolean(item["enumKey"], at["enumKey"]) : idRead;
    Expect(idRead || !enumKey, at["enumKey"], "needs an instance ID to name the key");
    if (enumKey) {
      SimKey key{u"SYSTEM\\CurrentControlSet\\Enum\\" + device.instanceId, {}};
      if (item.contains("values")) key.values = Values(item["values"], at["values"]);
      machine.registry.push_back(key);
    } else {
      Expect(!item.contains("values"), at["values"], "needs the device's registry key (enumKey)");
    }
    machine.devices.push_back(device);
  }
}

void ParseRegistry(const Json& object, const Field& field, SimulatedMachine& machine) {
  Expect(object.is_object(), field, "must be an object of keys");
  for (auto it = object.begin(); it != object.end(); ++it) {
    machine.registry.push_back({SimFromUtf8(it.key()), Values(it.value(), field[it.key()])});
  }
}

DWORD DriveMask(const Json& value, const Field& field) {
  DWORD mask = 0;
  for (char letter : String(value, field)) {
    Expect(letter >= 'A' && letter <= 'Z', field, "must hold upper-case letters A to Z");
    mask |= 1u << (letter - 'A');
  }
  return mask;
}

SimFile File(const Json& value, const Field& field) {
  SimFile file;
  if (value.is_string()) {
    file.bytes = Bytes8(value.get<std::string>(), field);
    return file;
  }
  OnlyKeys(value, field, {"directory", "text", "hex", "size"});
  if (value.contains("directory")) {
    file.directory = Boolean(value["directory"], field["directory"]);
    Expect(value.size() == 1, field, "a directory has no content");
    return file;
  }
  if (value.contains("text")) file.bytes = Bytes8(String(value["text"], field["text"]), field["text"]);
  if (value.contains("hex")) file.bytes = Hex(value["hex"], field["hex"]);
  if (value.contains("size")) {
    Expect(value["size"].is_number_unsigned(), field["size"], "must be an unsigned number");
    file.reportedSize = value["size"].get<std::uint64_t>();
  }
  return file;
}

void ParseVolumes(const Json& list, const Field& field, SimulatedMachine& machine) {
  Expect(list.is_array(), field, "must be a list");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Json& item = list[i];
    const Field at = field[i];
    OnlyKeys(item, at, {"guid", "medium", "files"});
    Expect(item.contains("guid"), at["guid"], "is required");
    SimVolume volume;
    volume.guid = Utf16Text(item["guid"], at["guid"]);
    Expect(volume.guid.size() >= 2 && volume.guid.front() == u'{' && volume.guid.back() == u'}', at["guid"],
           "must be a GUID in braces");
    if (item.contains("medium")) {
      const std::string medium = String(item["medium"], at["medium"]);
      Expect(medium == "ready" || medium == "none" || medium == "denied", at["medium"],
             "must be \"ready\", \"none\" or \"denied\"");
      volume.medium = medium == "none" ? SimMedium::NoMedium
                      : medium == "denied" ? SimMedium::AccessDenied : SimMedium::Ready;
    }
    if (item.contains("files")) {
      const Json& files = item["files"];
      Expect(files.is_object(), at["files"], "must be an object of paths");
      for (auto it = files.begin(); it != files.end(); ++it) {
        volume.entries[SimFromUtf8(it.key())] = File(it.value(), at["files"][it.key()]);
      }
    }
    machine.volumes.push_back(volume);
  }
}

// A number of at most the given largest value.
DWORD Bounded(const Json& value, const Field& field, DWORD largest, const char* message) {
  const DWORD number = Number(value, field);
  Expect(number <= largest, field, message);
  return number;
}

std::optional<SimVersion> Version(const Json& value, const Field& field) {
  if (value.is_null()) return std::nullopt;
  OnlyKeys(value, field,
           {"major", "minor", "build", "platformId", "csdVersion", "servicePackMajor", "servicePackMinor",
            "suiteMask", "productType"});
  SimVersion version;
  if (value.contains("major")) version.major = Number(value["major"], field["major"]);
  if (value.contains("minor")) version.minor = Number(value["minor"], field["minor"]);
  if (value.contains("build")) version.build = Number(value["build"], field["build"]);
  if (value.contains("platformId")) version.platformId = Number(value["platformId"], field["platformId"]);
  if (value.contains("csdVersion")) {
    version.csdVersion = SimFromUtf8(String(value["csdVersion"], field["csdVersion"]));
    Expect(version.csdVersion.size() < 128, field["csdVersion"], "must be shorter than 128 characters");
  }
  const char* word = "must fit in 16 bits";
  if (value.contains("servicePackMajor")) {
    version.servicePackMajor =
        static_cast<WORD>(Bounded(value["servicePackMajor"], field["servicePackMajor"], 0xFFFF, word));
  }
  if (value.contains("servicePackMinor")) {
    version.servicePackMinor =
        static_cast<WORD>(Bounded(value["servicePackMinor"], field["servicePackMinor"], 0xFFFF, word));
  }
  // Windows 2000 and earlier have no single-user terminal services.
  const bool beforeXp = version.major < 5 || (version.major == 5 && version.minor == 0);
  version.suiteMask = value.contains("suiteMask")
                          ? static_cast<WORD>(Bounded(value["suiteMask"], field["suiteMask"], 0xFFFF, word))
                          : beforeXp ? 0 : VER_SUITE_SINGLEUSERTS;
  if (value.contains("productType")) {
    version.productType =
        static_cast<BYTE>(Bounded(value["productType"], field["productType"], 0xFF, "must fit in 8 bits"));
  }
  return version;
}

void ParseSetupApi(const Json& value, const Field& field, SimulatedMachine& machine) {
  OnlyKeys(value, field, {"present", "missing"});
  if (value.contains("present")) machine.setupApiPresent = Boolean(value["present"], field["present"]);
  if (value.contains("missing")) {
    const Json& missing = value["missing"];
    Expect(missing.is_array(), field["missing"], "must be a list of entry-point names");
    for (std::size_t i = 0; i < missing.size(); ++i) {
      machine.missingEntryPoints.push_back(String(missing[i], field["missing"][i]));
    }
  }
}

void ParseFaults(const Json& list, const Field& field, SimulatedMachine& machine) {
  Expect(list.is_array(), field, "must be a list");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Field at = field[i];
    OnlyKeys(list[i], at, {"call", "nth", "error"});
    Expect(list[i].contains("call"), at["call"], "is required");
    SimFault fault;
    fault.call = String(list[i]["call"], at["call"]);
    if (list[i].contains("nth")) fault.nth = Number(list[i]["nth"], at["nth"]);
    if (list[i].contains("error")) fault.error = Number(list[i]["error"], at["error"]);
    machine.faults.push_back(fault);
  }
}

Json ParseJson(const std::string& text, const std::string& name) {
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& error) {
    throw MachineFileError("machine file " + name + ": not valid JSON: " + error.what());
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw MachineFileError("machine file " + path + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

SimulatedMachine ParseMachine(const std::string& text, const std::string& name) {
  const Json root = ParseJson(text, name);
  const Field top(name, "");
  OnlyKeys(root, top,
           {"description", "expect", "wine", "systemDirectory", "setupApi", "os", "devices", "registry", "drives",
            "volumes", "faults", "maxAllocation", "captured", "codePage", "explanation"});
  SimulatedMachine machine;
  if (root.contains("systemDirectory")) {
    machine.systemDirectory = SimFromUtf8(String(root["systemDirectory"], top["systemDirectory"]));
    Expect(!machine.systemDirectory.empty(), top["systemDirectory"], "must not be empty");
  }
  // Where and when a capture was taken; a replay has no use for it.
  if (root.contains("captured")) Expect(root["captured"].is_object(), top["captured"], "must be an object");
  // A capture's explanation of itself: the scan ignores it, but its stand-ins
  // must not be replaced again.
  if (root.contains("explanation")) {
    const Json& explanation = root["explanation"];
    Expect(explanation.is_object(), top["explanation"], "must be an object");
    machine.identifiersReplaced = explanation.value("identifiers", Json()) == Json("replaced");
  }
  if (root.contains("codePage")) machine.codePage = Number(root["codePage"], top["codePage"]);
  if (root.contains("setupApi")) ParseSetupApi(root["setupApi"], top["setupApi"], machine);
  if (root.contains("os")) machine.version = Version(root["os"], top["os"]);
  if (root.contains("devices")) ParseDevices(root["devices"], top["devices"], machine);
  if (root.contains("registry")) ParseRegistry(root["registry"], top["registry"], machine);
  if (root.contains("drives")) machine.driveMask = DriveMask(root["drives"], top["drives"]);
  if (root.contains("volumes")) ParseVolumes(root["volumes"], top["volumes"], machine);
  if (root.contains("faults")) ParseFaults(root["faults"], top["faults"], machine);
  if (root.contains("maxAllocation")) {
    machine.largestAllocation = Number(root["maxAllocation"], top["maxAllocation"]);
  }
  return machine;
}

SimulatedMachine LoadMachineFile(const std::string& path) { return ParseMachine(ReadAll(path), path); }

MachineExpectation LoadMachineExpectation(const std::string& path) {
  const Json root = ParseJson(ReadAll(path), path);
  const Field field = Field(path, "")["expect"];
  Expect(root.is_object() && root.contains("expect"), field, "is required");
  const Json& expect = root["expect"];
  OnlyKeys(expect, field, {"stdout", "exit"});
  Expect(expect.contains("stdout") && expect.contains("exit"), field, "needs stdout and exit");
  return {String(expect["stdout"], field["stdout"]), static_cast<int>(Number(expect["exit"], field["exit"]))};
}
