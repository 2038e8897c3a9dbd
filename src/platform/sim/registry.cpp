// The registry under HKEY_LOCAL_MACHINE: key paths compared without regard
// to ASCII case, values in creation order, the documented size protocols.
#include <cstring>
#include <memory>
#include <set>

#include "platform/sim/sim.h"
#include "platform/sim/trace.h"

struct SimOpenKey {
  std::u16string path;
  const std::vector<SimValue>* values;  // the machine's, found once at opening
};

namespace {

std::set<SimOpenKey*> openKeys;

// The full path a key handle and a sub-key name stand for; false when the
// handle is not an open key.
bool FullPath(HKEY key, LPCWSTR subKey, std::u16string* path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
  } else if (openKeys.count(key) != 0) {
    *path = key->path;
  } else {
    return false;
  }
  std::u16string name = subKey != nullptr ? subKey : u"";
  while (!name.empty() && name.back() == u'\\') name.pop_back();  // "Key\\" opens "Key"
  if (!name.empty()) {
    if (!path->empty()) *path += u'\\';
    *path += name;
  }
  return true;
}

// A key exists when it is listed or is the parent of a listed key.
bool KeyExists(const std::u16string& path) {
  if (path.empty()) return true;
  for (const SimKey& key : Sim().machine.registry) {
    if (SimEqualNoCase(key.path, path)) return true;
    if (key.path.size() > path.size() && key.path[path.size()] == u'\\' &&
        SimEqualNoCase(key.path.substr(0, path.size()), path)) {
      return true;
    }
  }
  return false;
}

// The values of the key at path; a key implied by its sub-keys has none.
const std::vector<SimValue>* ListedValues(const std::u16string& path) {
  static const std::vector<SimValue> none;
  for (const SimKey& listed : Sim().machine.registry) {
    if (SimEqualNoCase(listed.path, path)) return &listed.values;
  }
  return &none;
}

const std::vector<SimValue>* ValuesOf(HKEY key) { return openKeys.count(key) != 0 ? key->values : nullptr; }

// Copies data by the documented protocol: the size is always reported,
// ERROR_MORE_DATA when the offered buffer is too small.
LSTATUS CopyData(const SimValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (type != nullptr) *type = value.type;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(value.data.size());
  const DWORD offered = *size;
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (offered < needed) return ERROR_MORE_DATA;
  if (needed != 0) std::memcpy(data, value.data.data(), needed);
  return ERROR_SUCCESS;
}

}  // namespace

void SimResetRegistry() {
  for (SimOpenKey* key : openKeys) delete key;
  openKeys.clear();
}

LSTATUS WINAPI SimRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  DWORD error = 0;
  if (SimCallFails("RegOpenKeyExW", &error)) return static_cast<LSTATUS>(error);
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;  // a failed open leaves no stale handle behind
  std::u16string path;
  if (!FullPath(hKey, lpSubKey, &path)) return ERROR_INVALID_HANDLE;
  if (!KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  *phkResult = *openKeys.insert(new SimOpenKey{path, ListedValues(path)}).first;
  ++Sim().counters.openKeys;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI SimRegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                   LPBYTE lpData, LPDWORD lpcbData) {
  DWORD error = 0;
  if (SimCallFails("RegQueryValueExW", &error)) return static_cast<LSTATUS>(error);
  const std::vector<SimValue>* values = ValuesOf(hKey);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  const std::u16string name = lpValueName != nullptr ? lpValueName : u"";
  for (const SimValue& value : *values) {
    if (SimEqualNoCase(value.name, name)) return CopyData(value, lpType, lpData, lpcbData);
  }
  // A size query for a missing value answers 0; with a buffer the size is
  // left as given (Windows NT and Wine alike).
  if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI SimRegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  DWORD error = 0;
  if (SimCallFails("RegEnumValueW", &error)) return static_cast<LSTATUS>(error);
  const std::vector<SimValue>* values = ValuesOf(hKey);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= values->size()) return ERROR_NO_MORE_ITEMS;
  const SimValue& value = (*values)[dwIndex];
  if (value.name.size() + 1 > *lpcchValueName) {
    // Neither name nor data is written, but the type and the data size are
    // (Windows NT and Wine alike), so one call sizes both buffers.
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(value.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, value.name.c_str(), (value.name.size() + 1) * sizeof(WCHAR));
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  return CopyData(value, lpType, lpData, lpcbData);
}

LSTATUS WINAPI SimRegCloseKey(HKEY hKey) {
  DWORD error = 0;
  if (SimCallFails("RegCloseKey", &error)) return static_cast<LSTATUS>(error);
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (openKeys.erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  delete hKey;
  --Sim().counters.openKeys;
  return ERROR_SUCCESS;
}
