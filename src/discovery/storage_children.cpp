#include "discovery/discovery_passes.h"
#include "inventory/device_inventory.h"
#include "inventory/scan_notes.h"
#include "platform/text.h"
#include "setupapi/setupapi_binding.h"

namespace {

const WCHAR kEnumKeyPrefix[] = WSTR("SYSTEM\\CurrentControlSet\\Enum\\");
const DWORD kEnumKeyPrefixLength = 30;

// Whether an instance ID holds a service name. Candidates mostly share one
// name, so the ID is searched again only when the name changes.
class ServiceNameSearch {
 public:
  explicit ServiceNameSearch(const WCHAR* id) : id_(id) {}

  bool Occurs(const WCHAR* name) {
    if (searched_ == nullptr || !TextEqual(searched_, name)) {
      searched_ = name;
      found_ = TextFind(id_, name) != nullptr;
    }
    return found_;
  }

 private:
  const WCHAR* id_;
  const WCHAR* searched_ = nullptr;
  bool found_ = false;
};

bool IsChildOf(const WCHAR* id, DWORD idLength, const CandidateDevice& candidate, ServiceNameSearch& serviceName) {
  return candidate.instanceTailLength <= idLength && serviceName.Occurs(candidate.serviceName) &&
         TextFind(id, candidate.instanceTail) != nullptr;
}

// Builds the child's registry key path in the work buffer.
const WCHAR* BuildKeyPath(WorkBuffer& buffer, const WCHAR* id, DWORD idLength) {
  const DWORD need = (kEnumKeyPrefixLength + idLength + 1) * static_cast<DWORD>(sizeof(WCHAR));
  if (buffer.size() < need && !buffer.Grow(need)) return nullptr;
  WCHAR* path = reinterpret_cast<WCHAR*>(buffer.data());
  TextCopy(path, kEnumKeyPrefixLength + 1, kEnumKeyPrefix);
  TextCopy(path + kEnumKeyPrefixLength, idLength + 1, id);
  return path;
}

// The part of the instance ID after its last backslash or slash.
const WCHAR* LastComponent(const WCHAR* id, DWORD idLength) {
  for (DWORD at = idLength; at > 0; --at) {
    if (id[at - 1] == '\\' || id[at - 1] == '/') return id + at;
  }
  return id;
}

// The key the child's volume is known by in the mount table: its
// "ParentIdPrefix" string or, from Vista on, its own last ID component.
bool ReadMatchKey(HKEY key, const WCHAR* id, DWORD idLength, bool vistaOrLater, VolumeEntry& entry) {
  DWORD type = 0;
  DWORD size = sizeof entry.matchKey;
  const LSTATUS status = RegQueryValueExW(key, WSTR("ParentIdPrefix"), nullptr, &type,
                                          reinterpret_cast<BYTE*>(entry.matchKey), &size);
  if (status == ERROR_SUCCESS && type == REG_SZ) {
    // The stored string need not carry its terminator; a full field is cut.
    const DWORD chars = size / static_cast<DWORD>(sizeof(WCHAR));
    entry.matchKey[chars < 256 ? chars : 255] = 0;
    NoteChildKey(ChildKey::FromParentIdPrefix, entry.matchKey);
    return true;
  }
  if (!vistaOrLater) {
    NoteChildKey(ChildKey::NoParentIdPrefix, nullptr);
    return false;
  }
  TextCopy(entry.matchKey, 256, LastComponent(id, idLength));
  NoteChildKey(ChildKey::FromInstanceId, entry.matchKey);
  return true;
}

void AddVolumeEntry(const WCHAR* id, DWORD idLength, bool vistaOrLater, WorkBuffer& buffer,
                    CandidateDevice& candidate) {
  const WCHAR* path = BuildKeyPath(buffer, id, idLength);
  if (path == nullptr) {
    NoteChildKey(ChildKey::NoRoomForPath, nullptr);
    return;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    NoteChildKey(ChildKey::EnumKeyUnreadable, nullptr);
    return;
  }
  VolumeEntry entry{};  // root and volumePath empty until mapped
  if (ReadMatchKey(key, id, idLength, vistaOrLater, entry)) candidate.volumes.push_back(entry);
  RegCloseKey(key);
}

}  // namespace

void AddStorageChildren(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer, bool vistaOrLater,
                        std::vector<CandidateDevice>& candidates) {
  for (DWORD index = 0; setupApi.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    WCHAR id[256];
    DWORD required = 0;
    if (!setupApi.SetupDiGetDeviceInstanceIdW(set, &device, id, 256, &required)) continue;
    const DWORD idLength = TextLength(id);
    ServiceNameSearch serviceName(id);
    for (CandidateDevice& candidate : candidates) {
      if (IsChildOf(id, idLength, candidate, serviceName)) {
        NoteStorageChild(index, candidates, candidate);
        AddVolumeEntry(id, idLength, vistaOrLater, buffer, candidate);
      }
    }
  }
}

bool DeviceInventory::IsVistaOrLater() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
         version.dwMajorVersion > 5;
}
