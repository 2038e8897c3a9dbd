// Runs every row of tests/conformance/windows-facts on the sim: each call,
// made as the row says on the machine it names, must give what Windows
// was measured to give. The file's header documents the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/machine_file.h"
#include "setupapi/setupapi_binding.h"
#include "test_support.h"

namespace {

typedef std::map<std::string, std::string> Words;

struct Fact {
  int line = 0;
  std::string call;
  std::string machine;
  Words inputs;
  Words windows;
  std::string source;
  std::string wine;
};

struct FactFile {
  std::map<std::string, std::string> machines;  // name: machine-file JSON
  std::vector<Fact> facts;
  std::vector<std::string> problems;  // lines that are not well formed
};

const DWORD kSentinel = 0xDEADBEEFu;
constexpr BYTE kFill = 0xBD;
constexpr WCHAR kWideFill = 0xBDBD;
const std::size_t kGuard = 4;  // bytes or characters past the offered room

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(Trim(part));
  return parts;
}

bool ParseWords(const std::string& text, Words* words) {
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    const std::size_t equals = word.find('=');
    if (equals == 0 || equals == std::string::npos || words->count(word.substr(0, equals)) != 0) return false;
    (*words)[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return true;
}

FactFile ParseFacts(const std::string& text) {
  FactFile file;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (Trim(line).empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(number);
    if (line.rfind("machine ", 0) == 0) {
      const std::size_t space = line.find(' ', 8);
      if (space == std::string::npos) {
        file.problems.push_back(where + ": a machine needs a name and its JSON");
      } else {
        file.machines[line.substr(8, space - 8)] = line.substr(space + 1);
      }
      continue;
    }
    const std::vector<std::string> columns = Split(line, '|');
    Fact fact;
    fact.line = number;
    if (columns.size() != 6 || !ParseWords(columns[2], &fact.inputs) || !ParseWords(columns[3], &fact.windows) ||
        fact.windows.empty() || columns[4].empty() || columns[5].empty()) {
      file.problems.push_back(where + ": not CALL | MACHINE | INPUTS | WINDOWS | SOURCE | WINE");
      continue;
    }
    fact.call = columns[0];
    fact.machine = columns[1];
    fact.source = columns[4];
    fact.wine = columns[5];
    file.facts.push_back(fact);
  }
  return file;
}

// ---------------------------------------------------------------------------
// Values

const std::map<std::string, DWORD>& Names() {
  static const std::map<std::string, DWORD> names = {
      {"ERROR_SUCCESS", ERROR_SUCCESS},
      {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
      {"ERROR_PATH_NOT_FOUND", ERROR_PATH_NOT_FOUND},
      {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
      {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE},
      {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
      {"ERROR_INVALID_DATA", ERROR_INVALID_DATA},
      {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
      {"ERROR_INSUFFICIENT_BUFFER", ERROR_INSUFFICIENT_BUFFER},
      {"ERROR_INVALID_NAME", ERROR_INVALID_NAME},
      {"ERROR_MOD_NOT_FOUND", ERROR_MOD_NOT_FOUND},
      {"ERROR_PROC_NOT_FOUND", ERROR_PROC_NOT_FOUND},
      {"ERROR_DISCARDED", ERROR_DISCARDED},
      {"ERROR_NOT_LOCKED", ERROR_NOT_LOCKED},
      {"ERROR_MORE_DATA", ERROR_MORE_DATA},
      {"ERROR_NO_MORE_ITEMS", ERROR_NO_MORE_ITEMS},
      {"ERROR_NOACCESS", ERROR_NOACCESS},
      {"ERROR_INVALID_FLAGS", ERROR_INVALID_FLAGS},
      {"ERROR_INVALID_REG_PROPERTY", ERROR_INVALID_REG_PROPERTY},
      {"ERROR_NO_SUCH_DEVINST", 0xE000020Bu},
      {"REG_SZ", REG_SZ},
      {"REG_BINARY", REG_BINARY},
      {"REG_DWORD", REG_DWORD},
      {"CP_ACP", CP_ACP},
      {"MB_ERR_INVALID_CHARS", MB_ERR_INVALID_CHARS},
      {"DIGCF_ALLCLASSES", DIGCF_ALLCLASSES},
      {"HARDWAREID", SPDRP_HARDWAREID},
      {"SERVICE", SPDRP_SERVICE},
  };
  return names;
}

// A number (decimal, negative, 0x hex) or a name; nothing for other text.
std::optional<long long> Number(const std::string& text) {
  const auto named = Names().find(text);
  if (named != Names().end()) return named->second;
  if (text.empty()) return std::nullopt;
  std::size_t used = 0;
  try {
    const long long value = std::stoll(text, &used, 0);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// The outputs that are codes or counts compare as numbers; any other as text.
bool Matches(const std::string& key, const std::string& expected, const std::string& actual) {
  static const char* const numeric[] = {"ret", "err", "type", "size", "chars", "required", "read"};
  bool isNumeric = false;
  for (const char* name : numeric) isNumeric = isNumeric || key == name;
  for (const std::string& choice : Split(expected, ',')) {
    const std::optional<long long> want = isNumeric ? Number(choice) : std::nullopt;
    const std::optional<long long> got = isNumeric ? Number(actual) : std::nullopt;
    if (want && got ? static_cast<DWORD>(*want) == static_cast<DWORD>(*got) : choice == actual) return true;
  }
  return false;
}

std::string Dec(long long value) { return std::to_string(value); }

std::string Bool(BOOL value) { return value ? "TRUE" : "FALSE"; }

std::string Err() {
  const DWORD error = GetLastError();
  return error == kSentinel ? "untouched" : Dec(error);
}

void Preset() { SetLastError(kSentinel); }

std::string Out(DWORD value) { return value == kSentinel ? "untouched" : Dec(value); }

class Inputs {
 public:
  explicit Inputs(const Words& given) : words(given) {}
  const std::string& Text(const std::string& key) const {
    static const std::string none;
    const auto found = words.find(key);
    return found != words.end() ? found->second : none;
  }
  bool Is(const std::string& key, const std::string& value) const { return Text(key) == value; }
  long long Num(const std::string& key) const { return Number(Text(key)).value_or(0); }

 private:
  const Words& words;
};

// "\xHH" escapes in text inputs stand for single bytes.
std::string Unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

// A buffer of the offered room and a guard, filled so that writes show;
// "null" offers no buffer at all.
template <typename Cell, Cell kCellFill>
struct Offered {
  std::vector<Cell> cells;
  std::size_t room = 0;
  bool null = true;

  explicit Offered(const std::string& given) : null(given == "null") {
    if (!null) room = static_cast<std::size_t>(Number(given).value_or(0));
    cells.assign(room + kGuard, kCellFill);
  }
  Cell* Data() { return null ? nullptr : cells.data(); }
  bool Touched(std::size_t from = 0) const {
    return std::any_of(cells.begin() + static_cast<std::ptrdiff_t>(from), cells.end(),
                       [](Cell cell) { return cell != kCellFill; });
  }
};

// Bytes written read as hex, up to the last one written.
struct Bytes : Offered<BYTE, kFill> {
  using Offered::Offered;
  std::string Written() const {
    std::size_t end = cells.size();
    while (end > 0 && cells[end - 1] == kFill) --end;
    if (end == 0) return "untouched";
    std::string hex;
    char pair[3];
    for (std::size_t i = 0; i < end; ++i) {
      std::snprintf(pair, sizeof pair, "%02x", cells[i]);
      hex += pair;
    }
    return hex;
  }
  std::string Overrun() const { return Touched(room) ? "yes" : "no"; }
};

// Characters written read as text, up to the terminator.
struct Chars : Offered<WCHAR, kWideFill> {
  using Offered::Offered;
  std::string Written() const {
    if (!Touched()) return "untouched";
    std::u16string text;
    for (std::size_t i = 0; i < cells.size() && cells[i] != 0; ++i) text += cells[i];
    return SimToUtf8(text);
  }
};

// An optional DWORD output: null, preset to the sentinel ("out") or to a value.
struct Count {
  DWORD value = kSentinel;
  bool null = false;
  explicit Count(const std::string& given) : null(given == "null") {
    if (!null && given != "out") value = static_cast<DWORD>(Number(given).value_or(0));
  }
  DWORD* Pointer() { return null ? nullptr : &value; }
  std::string Text() const { return null ? "null" : Out(value); }
};

std::u16string Wide(const std::string& text) { return SimFromUtf8(text); }

HKEY OpenKey(const std::string& path) {
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

// ---------------------------------------------------------------------------
// Registry

Words RunRegOpenKeyExW(const Inputs& in) {
  HKEY base = in.Is("root", "open") ? OpenKey(in.Text("base")) : nullptr;
  const HKEY root = in.Is("root", "null") ? nullptr : in.Is("root", "open") ? base : HKEY_LOCAL_MACHINE;
  const std::u16string path = in.Is("path", "empty") ? u"" : Wide(in.Text("path"));
  const WCHAR* subKey = in.Is("path", "null") ? nullptr : path.c_str();
  const HKEY stale = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x5A1E));
  HKEY result = stale;
  Preset();
  const LSTATUS status = RegOpenKeyExW(root, subKey, 0, KEY_READ, in.Is("result", "null") ? nullptr : &result);
  Words out = {{"ret", Dec(status)}, {"err", Err()}};
  out["key"] = result == nullptr ? "null" : result == stale ? "stale" : result == HKEY_LOCAL_MACHINE ? "root" : "new";
  if (status == ERROR_SUCCESS && result != stale) {
    HKEY again = nullptr;
    RegOpenKeyExW(root, subKey, 0, KEY_READ, &again);
    out["distinct"] = again != result && again != base ? "yes" : "no";
    RegCloseKey(again);
    RegCloseKey(result);
  }
  if (base != nullptr) RegCloseKey(base);
  return out;
}

Words RunRegQueryValueExW(const Inputs& in) {
  HKEY key = OpenKey(in.Text("key"));
  const std::u16string name = Wide(in.Text("name"));
  Count type(in.Text("type"));
  Count size(in.Text("size"));
  Bytes data(in.Text("data"));
  Preset();
  const LSTATUS status = RegQueryValueExW(key, in.Is("name", "null") ? nullptr : name.c_str(), nullptr,
                                          type.Pointer(), data.Data(), size.Pointer());
  Words out = {{"ret", Dec(status)}, {"err", Err()}, {"type", type.Text()}, {"size", size.Text()},
               {"data", data.Written()}, {"overrun", data.Overrun()}};
  RegCloseKey(key);
  return out;
}

Words RunRegEnumValueW(const Inputs& in) {
  HKEY key = OpenKey(in.Text("key"));
  Chars name(in.Text("name"));
  Count chars(in.Text("chars"));
  Count type(in.Text("type"));
  Bytes data(in.Text("data"));
  Count size(in.Text("size"));
  Preset();
  const LSTATUS status = RegEnumValueW(key, static_cast<DWORD>(in.Num("index")), name.Data(), chars.Pointer(),
                                       nullptr, type.Pointer(), data.Data(), size.Pointer());
  Words out = {{"ret", Dec(status)}, {"err", Err()},        {"chars", chars.Text()},
               {"type", type.Text()}, {"size", size.Text()}, {"name", name.Written()},
               {"data", data.Written()}, {"overrun", data.Overrun()}};
  RegCloseKey(key);
  return out;
}

Words RunRegCloseKey(const Inputs& in) {
  HKEY key = in.Is("handle", "null") ? nullptr : OpenKey("SOFTWARE\\Facts");
  if (in.Is("handle", "closed")) RegCloseKey(key);
  Preset();
  const LSTATUS status = RegCloseKey(key);
  return {{"ret", Dec(status)}, {"err", Err()}};
}

// ---------------------------------------------------------------------------
// Setup API: a set of every present device, and a member of it

struct DeviceSet {
  SetupApiBinding api;
  HDEVINFO handle = nullptr;
  bool destroyed = false;
  SP_DEVINFO_DATA data{};

  explicit DeviceSet(const Inputs& in) {
    if (!in.Is("set", "null")) {
      handle = api.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    }
    if (in.Is("set", "destroyed")) destroyed = api.SetupDiDestroyDeviceInfoList(handle) != FALSE;
    data.cbSize = sizeof data;
    const std::string& device = in.Text("device");
    if (device == "cbsize0") data.cbSize = 0;
    if (device == "unlisted") data.Reserved = 0x7FFF;
    if (Number(device)) api.SetupDiEnumDeviceInfo(handle, static_cast<DWORD>(*Number(device)), &data);
  }
  ~DeviceSet() {
    if (handle != nullptr && !destroyed) api.SetupDiDestroyDeviceInfoList(handle);
  }
  PSP_DEVINFO_DATA Device(const Inputs& in) { return in.Is("device", "null") ? nullptr : &data; }
};

Words RunGetClassDevsW(const Inputs& in) {
  SetupApiBinding api;
  Preset();
  const HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, static_cast<DWORD>(in.Num("flags")));
  Words out = {{"ret", set == INVALID_HANDLE_VALUE ? "invalid" : "set"}, {"err", Err()}};
  if (set != INVALID_HANDLE_VALUE) api.SetupDiDestroyDeviceInfoList(set);
  return out;
}

Words RunEnumDeviceInfo(const Inputs& in) {
  DeviceSet set(in);
  SP_DEVINFO_DATA data{};
  data.cbSize = in.Is("data", "cbsize0") ? 0 : sizeof data;
  Preset();
  const BOOL ok = set.api.SetupDiEnumDeviceInfo(set.handle, static_cast<DWORD>(in.Num("index")), &data);
  return {{"ret", Bool(ok)}, {"err", Err()}};
}

Words RunGetDeviceInstanceIdW(const Inputs& in) {
  DeviceSet set(in);
  Chars id(in.Text("buffer"));
  Count required(in.Text("required"));
  Preset();
  const BOOL ok = set.api.SetupDiGetDeviceInstanceIdW(set.handle, set.Device(in), id.Data(),
                                                      static_cast<DWORD>(in.Num("size")), required.Pointer());
  return {{"ret", Bool(ok)}, {"err", Err()}, {"required", required.Text()}, {"id", id.Written()}};
}

Words RunGetDeviceRegistryPropertyW(const Inputs& in) {
  DeviceSet set(in);
  Count type(in.Text("type"));
  Bytes buffer(in.Text("buffer"));
  Count required(in.Text("required"));
  Preset();
  const BOOL ok = set.api.SetupDiGetDeviceRegistryPropertyW(
      set.handle, set.Device(in), static_cast<DWORD>(in.Num("property")), type.Pointer(), buffer.Data(),
      static_cast<DWORD>(in.Num("size")), required.Pointer());
  return {{"ret", Bool(ok)},
          {"err", Err()},
          {"type", type.Text()},
          {"required", required.Text()},
          {"data", buffer.Written()},
          {"overrun", buffer.Overrun()}};
}

Words RunDestroyDeviceInfoList(const Inputs& in) {
  DeviceSet set(in);
  Preset();
  const BOOL ok = set.api.SetupDiDestroyDeviceInfoList(set.handle);
  set.destroyed = set.destroyed || ok;
  return {{"ret", Bool(ok)}, {"err", Err()}};
}

// ---------------------------------------------------------------------------
// Files: "VOL" stands for the machine's first volume's GUID path

std::u16string VolumePath(const std::string& path) {
  const std::u16string root = Sim().machine.volumes.empty()
                                  ? u""
                                  : u"\\\\?\\Volume" + Sim().machine.volumes.front().guid + u"\\";
  return path.rfind("VOL", 0) == 0 ? root + Wide(path.substr(3)) : Wide(path);
}

HANDLE OpenFile(const std::u16string& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                     nullptr);
}

Words RunGetFileAttributesW(const Inputs& in) {
  Preset();
  const DWORD attributes = GetFileAttributesW(VolumePath(in.Text("path")).c_str());
  const bool invalid = attributes == INVALID_FILE_ATTRIBUTES;
  return {{"ret", invalid ? "INVALID" : Dec(attributes)},
          {"dir", !invalid && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "yes" : "no"},
          {"err", Err()}};
}

Words RunCreateFileW(const Inputs& in) {
  Preset();
  const HANDLE file = OpenFile(VolumePath(in.Text("path")));
  Words out = {{"ret", file == INVALID_HANDLE_VALUE ? "invalid" : "handle"}, {"err", Err()}};
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return out;
}

Words RunReadFile(const Inputs& in) {
  const HANDLE file = OpenFile(VolumePath("VOL" + in.Text("file")));
  Bytes buffer(in.Text("buffer"));
  DWORD read = kSentinel;
  Preset();
  const BOOL ok = ReadFile(file, buffer.Data(), static_cast<DWORD>(in.Num("count")), &read, nullptr);
  Words out = {{"ret", Bool(ok)}, {"err", Err()}, {"read", Out(read)}};
  CloseHandle(file);
  return out;
}

// ---------------------------------------------------------------------------
// Memory: a movable block in the state the row gives

HGLOBAL PreparedBlock(const Inputs& in) {
  if (in.Is("block", "null")) return nullptr;
  if (in.Is("block", "unlisted")) return reinterpret_cast<HGLOBAL>(static_cast<std::uintptr_t>(0xDEADBEE4u));
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(in.Num("block")));
  for (long long i = 0; i < in.Num("locks"); ++i) GlobalLock(block);
  if (in.Is("freed", "yes")) GlobalFree(block);
  return block;
}

std::string Handle(const void* result, const void* block) {
  return result == nullptr ? "null" : result == block ? "handle" : "pointer";
}

Words RunGlobalAlloc(const Inputs& in) {
  Preset();
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(in.Num("size")));
  return {{"ret", block == nullptr ? "null" : "handle"}, {"err", Err()}};
}

Words RunGlobalLock(const Inputs& in) {
  const HGLOBAL block = PreparedBlock(in);
  Preset();
  const void* memory = GlobalLock(block);
  return {{"ret", Handle(memory, block)}, {"err", Err()}};
}

Words RunGlobalUnlock(const Inputs& in) {
  const HGLOBAL block = PreparedBlock(in);
  Preset();
  const BOOL locked = GlobalUnlock(block);
  return {{"ret", Bool(locked)}, {"err", Err()}};
}

Words RunGlobalFree(const Inputs& in) {
  const HGLOBAL block = PreparedBlock(in);
  Preset();
  const HGLOBAL result = GlobalFree(block);
  return {{"ret", Handle(result, block)}, {"err", Err()}};
}

Words RunHeapAlloc(const Inputs& in) {
  Preset();
  void* block = HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(in.Num("size")));
  Words out = {{"ret", block == nullptr ? "null" : "pointer"}, {"err", Err()}};
  HeapFree(GetProcessHeap(), 0, block);
  return out;
}

Words RunHeapFree(const Inputs& in) {
  Preset();
  const BOOL freed = HeapFree(in.Is("heap", "null") ? nullptr : GetProcessHeap(), 0, nullptr);
  return {{"ret", Bool(freed)}, {"err", Err()}};
}

// ---------------------------------------------------------------------------
// Text and libraries

Words RunMultiByteToWideChar(const Inputs& in) {
  const std::string text = Unescape(in.Text("text"));
  Chars out(in.Text("out"));
  Preset();
  const int chars = MultiByteToWideChar(static_cast<UINT>(in.Num("cp")), static_cast<DWORD>(in.Num("flags")),
                                        in.Is("text", "null") ? nullptr : text.c_str(),
                                        static_cast<int>(in.Num("count")), out.Data(),
                                        static_cast<int>(in.Num("room")));
  return {{"ret", Dec(chars)}, {"err", Err()}, {"out", out.Written()}};
}

std::u16string SetupApiPath() { return Sim().machine.systemDirectory + u"\\SetupApi.dll"; }

HMODULE LoadSetupApi() { return LoadLibraryExW(SetupApiPath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); }

Words RunLoadLibrary(const Inputs& in, bool extended) {
  const std::u16string name =
      in.Is("name", "system") ? SetupApiPath() : in.Is("name", "empty") ? u"" : Wide(in.Text("name"));
  const WCHAR* file = in.Is("name", "null") ? nullptr : name.c_str();
  const HANDLE handle =
      in.Is("file", "bogus") ? reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(kSentinel)) : nullptr;
  Preset();
  const HMODULE module =
      extended ? LoadLibraryExW(file, handle, static_cast<DWORD>(in.Num("flags"))) : LoadLibraryW(file);
  Words out = {{"ret", module == nullptr ? "null" : "module"}, {"err", Err()}};
  if (module != nullptr) FreeLibrary(module);
  return out;
}

Words RunGetProcAddress(const Inputs& in) {
  HMODULE module = in.Is("module", "setupapi") ? LoadSetupApi() : nullptr;
  if (in.Is("module", "bogus")) module = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(kSentinel));
  Preset();
  const FARPROC address = GetProcAddress(module, in.Text("name").c_str());
  Words out = {{"ret", address == nullptr ? "null" : "address"}, {"err", Err()}};
  if (in.Is("module", "setupapi")) FreeLibrary(module);
  return out;
}

Words RunFreeLibrary(const Inputs& in) {
  HMODULE module = nullptr;
  for (long long i = 0; i < in.Num("loads"); ++i) module = LoadSetupApi();
  for (long long i = 0; i < in.Num("frees"); ++i) FreeLibrary(module);
  Preset();
  const BOOL freed = FreeLibrary(module);
  return {{"ret", Bool(freed)}, {"err", Err()}};
}

typedef std::function<Words(const Inputs&)> Runner;

const std::map<std::string, Runner>& Runners() {
  static const std::map<std::string, Runner> runners = {
      {"RegOpenKeyExW", RunRegOpenKeyExW},
      {"RegQueryValueExW", RunRegQueryValueExW},
      {"RegEnumValueW", RunRegEnumValueW},
      {"RegCloseKey", RunRegCloseKey},
      {"SetupDiGetClassDevsW", RunGetClassDevsW},
      {"SetupDiEnumDeviceInfo", RunEnumDeviceInfo},
      {"SetupDiGetDeviceInstanceIdW", RunGetDeviceInstanceIdW},
      {"SetupDiGetDeviceRegistryPropertyW", RunGetDeviceRegistryPropertyW},
      {"SetupDiDestroyDeviceInfoList", RunDestroyDeviceInfoList},
      {"GetFileAttributesW", RunGetFileAttributesW},
      {"CreateFileW", RunCreateFileW},
      {"ReadFile", RunReadFile},
      {"GlobalAlloc", RunGlobalAlloc},
      {"GlobalLock", RunGlobalLock},
      {"GlobalUnlock", RunGlobalUnlock},
      {"GlobalFree", RunGlobalFree},
      {"HeapAlloc", RunHeapAlloc},
      {"HeapFree", RunHeapFree},
      {"MultiByteToWideChar", RunMultiByteToWideChar},
      {"LoadLibraryW", [](const Inputs& in) { return RunLoadLibrary(in, false); }},
      {"LoadLibraryExW", [](const Inputs& in) { return RunLoadLibrary(in, true); }},
      {"GetProcAddress", RunGetProcAddress},
      {"FreeLibrary", RunFreeLibrary},
  };
  return runners;
}

// Runs one fact; returns one line per way the sim departs from Windows.
std::vector<std::string> Check(const FactFile& file, const Fact& fact) {
  const std::string where = "line " + std::to_string(fact.line) + " (" + fact.source + "): " + fact.call + ": ";
  const auto runner = Runners().find(fact.call);
  if (runner == Runners().end()) return {where + "no runner for this call"};
  const auto machine = file.machines.find(fact.machine);
  if (fact.machine != "-" && machine == file.machines.end()) return {where + "no machine " + fact.machine};
  SimInstall(fact.machine == "-" ? SimulatedMachine{} : ParseMachine(machine->second, fact.machine));
  const Words actual = runner->second(Inputs(fact.inputs));
  std::vector<std::string> departures;
  for (const auto& [key, expected] : fact.windows) {
    const auto found = actual.find(key);
    const std::string got = found != actual.end() ? found->second : "(not an output)";
    if (!Matches(key, expected, got)) departures.push_back(where + key + "=" + got + ", Windows: " + expected);
  }
  return departures;
}

const FactFile& Facts() {
  static const FactFile file = ParseFacts(ReadWholeFile(WINDOWS_FACTS));
  return file;
}

TEST(WindowsFacts, TheFileIsWellFormedAndCoversTheSourcesRead) {
  EXPECT_TRUE(Facts().problems.empty()) << Facts().problems.front();
  ASSERT_GE(Facts().facts.size(), 90u);
  for (const char* source : {"advapi32/tests/registry.c", "setupapi/tests/devinst.c", "kernel32/tests/file.c",
                             "kernel32/tests/volume.c", "kernel32/tests/heap.c", "kernel32/tests/codepage.c",
                             "kernel32/tests/module.c"}) {
    bool cited = false;
    for (const Fact& fact : Facts().facts) cited = cited || fact.source.rfind(source, 0) == 0;
    EXPECT_TRUE(cited) << source;
  }
  for (const Fact& fact : Facts().facts) {
    EXPECT_TRUE(fact.wine == "agrees" || fact.wine == "todo_wine" || fact.wine.rfind("agrees; ", 0) == 0)
        << "line " << fact.line << ": " << fact.wine;
  }
}

TEST(WindowsFacts, EveryRowHoldsOnTheSim) {
  for (const Fact& fact : Facts().facts) {
    for (const std::string& departure : Check(Facts(), fact)) ADD_FAILURE() << departure;
  }
}

// The checker itself: a row that misstates Windows, an output the runner
// does not give, a call without a runner and a malformed line are reported.
TEST(WindowsFacts, DeparturesAndMalformedRowsAreReported) {
  const FactFile file = ParseFacts(
      "machine registry {\"registry\": {\"SOFTWARE\\\\Facts\": {\"Test\": \"foobar\"}}}\n"
      "RegCloseKey | - | handle=null | ret=0 | x.c:1 | agrees\n"
      "RegCloseKey | - | handle=null | ret=ERROR_INVALID_HANDLE,0 | x.c:2 | agrees\n"
      "RegQueryValueExW | registry | key=SOFTWARE\\Facts name=Test type=out data=14 size=14 | data=66 | x.c:3 "
      "| agrees\n"
      "RegCloseKey | - | handle=null | colour=red | x.c:4 | agrees\n"
      "GetTickCount | - | size=0 | ret=0 | x.c:5 | agrees\n"
      "RegCloseKey | nowhere | handle=null | ret=6 | x.c:6 | agrees\n"
      "RegCloseKey | - | handle=null | ret=6\n");
  ASSERT_EQ(file.facts.size(), 6u);
  EXPECT_EQ(file.problems.size(), 1u);
  const size_t expected[] = {1, 0, 1, 1, 1, 1};
  for (std::size_t i = 0; i < file.facts.size(); ++i) {
    EXPECT_EQ(Check(file, file.facts[i]).size(), expected[i]) << file.facts[i].source;
  }
}

TEST(WindowsFacts, ValuesCompareAsNumbersOnlyWhereTheyAreCodes) {
  struct Case {
    const char* key;
    const char* expected;
    const char* actual;
    bool matches;
  };
  const Case cases[] = {
      {"err", "ERROR_MORE_DATA", "234", true},
      {"ret", "0x7", "7", true},
      {"err", "untouched", "0", false},
      {"ret", "ERROR_MOD_NOT_FOUND,ERROR_INVALID_PARAMETER", "87", true},
      {"data", "00", "0000", false},
      {"ret", "ERROR_NO_SUCH_DEVINST", "3758096907", true},
      {"err", "0xDEADBEEF", "untouched", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(c.key, c.expected, c.actual), c.matches) << c.key << " " << c.expected;
  }
}

}  // namespace
